// The page: options in the command line's words (and in its address), the
// maps picked or dropped, and their results as the worker reports them.
import { FIELDS } from './mapclean.js';
import { PAGE_OPTIONS, commandLine, optionsFromSearch, parsePrecision, searchFromOptions } from './options.js';

const $ = (id) => document.getElementById(id);
const worker = new Worker(new URL('./worker.js', import.meta.url), { type: 'module' });
let files = [];     // [{ name, blob }] of the last pick or drop
let unread = [];    // the names of the entries of the last drop that could not be read
let run = 0;        // the run whose messages count
let urls = [];      // object URLs of the last run, released before the next
let rows = [];      // the results' list items, by file index
let tally = { changed: 0, failed: 0 };
let pending = [];   // the worker's messages not yet shown
let configs = [];   // the .mapclean.toml files of the last drop or folder: [{ path, bytes }], the shallowest first
let fileBase = null;  // the options the drop's top settings file gave the controls

// --- Options -----------------------------------------------------------

for (const field of Object.keys(FIELDS)) {
  const label = document.createElement('label');
  const box = document.createElement('input');
  box.type = 'checkbox';
  box.value = field;
  box.name = 'only';
  label.append(box, ` ${field}`);
  $('fields').append(label);
}

// The options the form asks for, or, when its decimals are no whole number,
// `problem` saying so: as the command line, such a run does not start.
const rounding = () => document.querySelector('input[name=mode]:checked').value === 'round';

function readOptions() {
  const round = rounding();
  let only = 0;
  for (const box of document.querySelectorAll('input[name=only]:checked')) only |= FIELDS[box.value];
  const options = { precision: -1, plain: $('plain').checked, stable: $('stable').checked, only };
  if (!round) return { options };
  const text = $('precision').value.trim();
  const precision = parsePrecision(text);
  if (precision === null) {
    return { options, problem: text === '' ? 'Give the number of decimals to round to (a whole number).'
      : `The decimals must be a whole number, as -p N takes: ${text}` };
  }
  return { options: { ...options, precision } };
}

// The warning beside the rounding control: rounding with no field chosen
// moves every scale, axis and matrix too.
function showWarning() {
  $('round-warning').hidden = !(rounding() && document.querySelectorAll('input[name=only]:checked').length === 0);
}

// The command that writes what the page gives: the options, saving.
const reproducing = (options) => commandLine(options).replace(/^mapclean/, 'mapclean -s');

function showOptions(options) {
  document.querySelector(`input[name=mode][value=${options.precision >= 0 ? 'round' : 'automatic'}]`).checked = true;
  if (options.precision >= 0) $('precision').value = options.precision;
  $('plain').checked = options.plain;
  $('stable').checked = options.stable;
  for (const box of document.querySelectorAll('input[name=only]')) {
    const bit = FIELDS[box.value];
    box.checked = (options.only & bit) === bit;
  }
  $('command').textContent = commandLine(options);
  $('reproduce').textContent = reproducing(options);
  showWarning();
}

function optionsChanged() {
  showWarning();
  const { options, problem } = readOptions();
  if (problem) {
    run += 1;  // whatever is still cleaning no longer counts
    $('status').textContent = problem;
    return;
  }
  $('command').textContent = commandLine(options);
  $('reproduce').textContent = reproducing(options);
  history.replaceState(null, '', `${location.pathname}${searchFromOptions(options)}`);
  if (files.length > 0) start();
}

// --- Files -------------------------------------------------------------

const isMap = (name) => /\.map$/i.test(name);
const isSettings = (name) => name === '.mapclean.toml' || name.endsWith('/.mapclean.toml');

// Results are listed in path order, whatever order the files came in.
// `settings`: the settings files among what came ({ name, blob }).
async function take(picked, unreadable = [], settings = []) {
  files = picked.sort((a, b) => (a.name < b.name ? -1 : a.name > b.name ? 1 : 0));
  unread = unreadable;
  configs = [];
  for (const { name, blob } of settings) {
    try {
      configs.push({ path: name, bytes: new Uint8Array(await blob.arrayBuffer()) });
    } catch {
      unread.push(name);
    }
  }
  configs.sort((a, b) => a.path.split('/').length - b.path.split('/').length || (a.path < b.path ? -1 : 1));
  fileBase = null;
  start();
  // New maps: the status and the first results come into view (a change
  // of the options, made above them, leaves the page where it is).
  document.querySelector('.progress').scrollIntoView({ block: 'start' });
}

// The options the user set apart from what the drop's settings file gave
// the controls: bits as the settings files take them (1 precision, 2
// plain, 4 only, 8 stable); none before the file has been read.
function givenOptions(options) {
  if (!fileBase) return 0;
  return (options.precision !== fileBase.precision ? 1 : 0) | (options.plain !== fileBase.plain ? 2 : 0)
    | (options.only !== fileBase.only ? 4 : 0) | (options.stable !== fileBase.stable ? 8 : 0);
}

// A dropped file entry's file, or, where it cannot be had (a name the
// browser cannot give it, a file gone meanwhile), its name in `unreadable`.
async function fileOf(entry, name, found, unreadable) {
  try {
    found.push({ name, blob: await new Promise((ok, fail) => entry.file(ok, fail)) });
  } catch {
    unreadable.push(name);
  }
}

$('files').addEventListener('change', (event) => {
  take([...event.target.files].map((file) => ({ name: file.name, blob: file })));
});

$('folder').addEventListener('change', (event) => {
  const named = [...event.target.files].map((file) => ({ name: file.webkitRelativePath || file.name, blob: file }));
  take(named.filter((file) => isMap(file.name)), [], named.filter((file) => isSettings(file.name)));
});

// The files below a dropped folder's entry, with their paths; a folder
// that cannot be listed goes to `unreadable` too.
async function filesBelow(entry, found, unreadable, settings) {
  const path = entry.fullPath.replace(/^\//, '');
  if (entry.isFile) {
    if (isMap(entry.name)) await fileOf(entry, path, found, unreadable);
    if (isSettings(entry.name)) await fileOf(entry, path, settings, unreadable);
    return;
  }
  const reader = entry.createReader();
  for (;;) {
    let batch;
    try {
      batch = await new Promise((ok, fail) => reader.readEntries(ok, fail));
    } catch {
      unreadable.push(`${path}/`);
      return;
    }
    if (batch.length === 0) break;
    for (const child of batch) await filesBelow(child, found, unreadable, settings);
  }
}

const drop = $('drop');
drop.addEventListener('dragover', (event) => {
  event.preventDefault();
  drop.classList.add('over');
});
drop.addEventListener('dragleave', () => drop.classList.remove('over'));
drop.addEventListener('drop', async (event) => {
  event.preventDefault();
  drop.classList.remove('over');
  const found = [];
  const unreadable = [];
  const settings = [];
  const entries = [...event.dataTransfer.items].map((item) => item.webkitGetAsEntry?.()).filter(Boolean);
  for (const entry of entries) {
    if (entry.isFile) await fileOf(entry, entry.name, found, unreadable);
    else await filesBelow(entry, found, unreadable, settings);
  }
  if (entries.length === 0) for (const file of event.dataTransfer.files) found.push({ name: file.name, blob: file });
  take(found, unreadable, settings);
});

// --- A run -------------------------------------------------------------

function start() {
  const { options, problem } = readOptions();
  run += 1;
  for (const url of urls) URL.revokeObjectURL(url);
  urls = [];
  tally = { changed: 0, failed: 0, excluded: 0 };
  pending = [];
  rows = files.map((file) => {
    const item = document.createElement('li');
    const name = document.createElement('span');
    name.className = 'file';
    name.textContent = file.name;
    const facts = document.createElement('span');
    facts.className = 'facts';
    facts.textContent = 'waiting';
    item.append(name, facts);
    return item;
  });
  const list = document.createDocumentFragment();
  for (const row of rows) list.append(row);
  $('results').replaceChildren(list);
  $('all').replaceChildren();
  $('progress').value = 0;
  $('progress').max = Math.max(1, files.reduce((sum, file) => sum + file.blob.size, 0));
  if (problem) {
    $('status').textContent = problem;
    return;
  }
  $('status').textContent = files.length === 0 ? 'No .map files found.' : `Cleaning ${files.length} file${files.length === 1 ? '' : 's'}…`;
  if (files.length > 0) worker.postMessage({ run, files, options, configs, given: givenOptions(options) });
}

// A download's name never is its map's, so that saving it cannot replace
// the map: "room.map" downloads as "room.cleaned.map".
function cleanedName(path) {
  const name = path.slice(path.lastIndexOf('/') + 1);
  const dot = name.lastIndexOf('.');
  return dot > 0 ? `${name.slice(0, dot)}.cleaned${name.slice(dot)}` : `${name}.cleaned`;
}

// An address for `bytes` until the next run.
function objectUrl(bytes, type) {
  const url = URL.createObjectURL(new Blob([bytes], { type }));
  urls.push(url);
  return url;
}

function downloadLink(name, bytes, text, type = 'application/octet-stream') {
  const link = document.createElement('a');
  link.href = objectUrl(bytes, type);
  link.download = name;
  link.textContent = text;
  return link;
}

// A file's diff, folded: its lines are made only when it is first opened,
// so that a run of thousands of files builds no diff nobody looks at.
function diffView(hunks, moreEdits) {
  const details = document.createElement('details');
  const summary = document.createElement('summary');
  summary.textContent = 'Diff';
  details.append(summary);
  details.addEventListener('toggle', () => {
    if (!details.open || details.querySelector('pre')) return;
    const pre = document.createElement('pre');
    pre.className = 'diff';
    for (const hunk of hunks) {
      const header = document.createElement('span');
      header.className = 'hunk';
      header.textContent = hunk.header;
      pre.append(header);
      for (const line of hunk.lines) {
        const row = document.createElement('span');
        row.className = line.mark === '-' ? 'del' : line.mark === '+' ? 'ins' : 'same';
        row.append(line.mark);
        for (const part of line.parts) row.append(part.marked ? Object.assign(document.createElement('mark'), { textContent: part.text }) : part.text);
        pre.append(row);
      }
    }
    details.append(pre);
    if (moreEdits > 0) {
      const more = document.createElement('p');
      more.textContent = `… and ${moreEdits} more edit${moreEdits === 1 ? '' : 's'}, in the download.`;
      details.append(more);
    }
  });
  return details;
}

function showResult(message) {
  const item = rows[message.index];
  const facts = item.querySelector('.facts');
  if (message.excludedBy) {
    tally.excluded += 1;
    facts.textContent = `left out by ${message.excludedBy}`;
    return;
  }
  if (message.error) {
    tally.failed += 1;
    facts.className = 'facts error';
    facts.textContent = `Error: ${message.error}`;
    return;
  }
  if (message.changed) tally.changed += 1;
  facts.textContent = `Edits: ${message.edits} · `;
  const state = document.createElement('span');
  state.className = message.changed ? 'changes' : 'same';
  state.textContent = message.changed ? 'would change' : 'unchanged';
  facts.append(state, ' · ', downloadLink(cleanedName(message.name), message.output, 'download cleaned file'));
  if (message.hunks.length > 0) item.append(diffView(message.hunks, message.moreEdits));
}

// The worker's messages are shown together, all that came in 50 ms, so
// that thousands of files cost a page update every 50 ms, not one each.
function showPending() {
  const messages = pending;
  pending = [];
  for (const data of messages) {
    if (data.run !== run) continue;
    if (data.type === 'progress') {
      $('progress').max = Math.max(1, data.total);
      $('progress').value = data.done;
    } else if (data.type === 'result') {
      showResult(data);
    } else if (data.type === 'done') {
      showDone(data);
    }
  }
}

function showDone(data) {
  $('progress').value = $('progress').max;
  const { changed, failed, excluded } = tally;
  const counts = [`${changed} would change`, `${files.length - failed - changed - excluded} unchanged`];
  if (excluded) counts.push(`${excluded} left out by their settings`);
  if (failed) counts.push(`${failed} failed`);
  let status = `Done. ${files.length} file${files.length === 1 ? '' : 's'}: ${counts.join(', ')}. `
    + 'Your files were not changed: download the cleaned ones below.';
  if (unread.length > 0) {
    status += ` ${unread.length} file${unread.length === 1 ? '' : 's'} could not be read: ${unread.join(', ')}.`;
  }
  if (data.settings?.applied.length > 0) status += ` Settings applied from ${data.settings.applied.join(', ')}.`;
  if (data.settings?.base && !fileBase) {
    // The controls start from the settings file; a change to them then
    // replaces that key for every map, as an option does.
    fileBase = data.settings.base;
    showOptions(fileBase);
  }
  const cleaned = files.length - failed - excluded;
  if (!data.zip && cleaned > 0) status += ` No ZIP: ${data.zipProblem}; download the files one by one.`;
  $('status').textContent = status;
  if (data.zip && cleaned > 0) showZip(data, changed, cleaned - changed);
}

// The ZIP of the maps that change, in a folder "cleaned-maps"; a box adds
// the unchanged ones.
function showZip(data, changed, unchanged) {
  const link = downloadLink('cleaned-maps.zip', data.zip, '', 'application/zip');
  const all = data.zipAll ? objectUrl(data.zipAll, 'application/zip') : link.href;
  const changedOnly = link.href;
  const box = document.createElement('input');
  box.type = 'checkbox';
  box.id = 'zip-unchanged';
  const show = () => {
    const count = box.checked ? changed + unchanged : changed;
    link.href = box.checked ? all : changedOnly;
    link.textContent = `Download the ${count} ${box.checked ? 'cleaned' : 'changed'} file${count === 1 ? '' : 's'} as a ZIP`;
    link.hidden = count === 0;
  };
  box.addEventListener('change', show);
  show();
  const parts = [link];
  if (unchanged > 0) {
    const label = document.createElement('label');
    label.append(box, ` with the ${unchanged} unchanged file${unchanged === 1 ? '' : 's'} too`);
    parts.push(' ', label);
  }
  $('all').replaceChildren(...parts);
}

worker.addEventListener('message', ({ data }) => {
  if (data.run !== run) return;
  if (data.type === 'failed') {
    pending = [];
    $('status').textContent = `Error: ${data.message}`;
    return;
  }
  if (pending.length === 0) setTimeout(showPending, 50);
  pending.push(data);
});

// --- Start -------------------------------------------------------------

const { options, problems } = optionsFromSearch(location.search);
showOptions({ ...PAGE_OPTIONS, ...options });
if (problems.length > 0) $('status').textContent = `Ignored in the address: ${problems.join('; ')}`;
$('options').addEventListener('change', optionsChanged);
$('options').addEventListener('submit', (event) => event.preventDefault());
