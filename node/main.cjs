// mapclean from npm where no program of the platform runs: the program's
// command line, run by Node (bin.cjs starts it). The option
// walk, the texts of every line and diff, and the cleaning come from the
// program's own code compiled to WebAssembly (module.cjs); this file and
// io.cjs do what the program's file pass and directory walk do, with
// Node's files and streams, and print what they print.
'use strict';
const fs = require('node:fs');
const os = require('node:os');
const tty = require('node:tty');

const { ACTION, CLEAN, COLOUR_WHEN, Core, OutOfMemory, PLAN, REVIEW } = require('./module.cjs');
const {
  Console, Directory, Failure, MAX_FIELD_LINE, ReplacementFile, SEPARATOR, ScratchFiles, argumentBytes, copyStandardInput,
  currentDirectoryBytes, errorText, failureReason, fileAt, joinedPath, openFile, pendingTemporaries,
  readStandardInput,
} = require('./io.cjs');

const bytesOf = (name) => Buffer.from(name, 'latin1');
const exists = (name) => {
  try {
    fs.lstatSync(bytesOf(name));
    return true;
  } catch {
    return false;
  }
};

// Windows programs expand wildcards in their arguments themselves (the
// program's runtime does): '*' and '?' in an argument's last name.
function expandWildcards(args) {
  if (process.platform !== 'win32') return args;
  return args.flatMap((argument) => {
    const slash = Math.max(argument.lastIndexOf('/'), argument.lastIndexOf('\\'));
    const pattern = argument.slice(slash + 1);
    if (!/[*?]/.test(pattern)) return [argument];
    const directory = argument.slice(0, slash + 1);
    const expression = new RegExp(`^${pattern.replace(/[.+^${}()|[\]\\]/g, '\\$&').replace(/\*/g, '.*').replace(/\?/g, '.')}$`, 'is');
    let names = [];
    try {
      names = fs.readdirSync(bytesOf(directory || '.'), { encoding: 'buffer' }).map((name) => name.toString('latin1'));
    } catch {
      return [argument];
    }
    const matches = names.filter((name) => expression.test(name)).sort().map((name) => directory + name);
    return matches.length > 0 ? matches : [argument];
  });
}

// A settings file's bytes, read as the program reads one (no more than a
// MiB); throws an Error whose message is the reason.
function readConfig(name) {
  let file;
  try {
    file = openFile(fileAt(name));
  } catch (error) {
    throw error instanceof Failure ? new Error(failureReason(error, '', (text) => text)) : error;
  }
  try {
    const content = Buffer.allocUnsafe(Number(file.identity.size));
    if (content.length > 1 << 20) throw new Error('larger than a settings file can be');
    let got = 0;
    for (let n; got < content.length && (n = file.read(content, got, content.length - got)) > 0;) got += n;
    return content.subarray(0, got);
  } catch (error) {
    throw error instanceof Failure ? new Error(failureReason(error, '', (text) => text)) : error;
  } finally {
    fs.closeSync(file.fd);
  }
}

const args = expandWildcards(argumentBytes());
const out = new Console(() => endBy('SIGPIPE'));
const core = new Core(args, { pathExists: exists, print: (bytes) => out.out(bytes), readConfig, spill: new ScratchFiles() });
const printable = (name) => core.printable(name);
const { action, message, targets, excludes, settings, stdinName, showSettings } = core.request;
const tally = { judged: 0, changed: 0, anyFailed: false, outOfMemory: false };
const now = () => performance.now() / 1000;
const seconds = (start) => (now() - start).toFixed(3);
// Windows takes paths of up to MAX_PATH - 1 bytes; POSIX any.
const maxPathLength = process.platform === 'win32' ? 259 : Infinity;

// A signal that ends the run lands between files: every save is whole,
// and no temporary is left. The process then ends by that signal. Where
// nothing is held (a blocking read of standard input) the signal's own
// action ends it at once, but for SIGUSR1, whose own action in Node opens
// its inspector: that one is always listened to, and ends the run too.
// Node's own profiler (--cpu-prof, --prof) ticks with SIGPROF: it is left
// to it there.
const profiled = process.execArgv.some((option) => /^--(cpu-)?prof(?!-)/.test(option));
const SIGNALS = process.platform === 'win32' ? ['SIGINT', 'SIGBREAK']
  : ['SIGHUP', 'SIGINT', 'SIGQUIT', 'SIGTERM', 'SIGALRM', 'SIGUSR1', 'SIGUSR2', 'SIGVTALRM', 'SIGPROF', 'SIGXCPU']
    .filter((signal) => signal !== 'SIGPROF' || !profiled);
let signalled = null;
let held = false;
const onSignal = (signal) => {
  if (held) signalled ??= signal;
  else endBy(signal);
};
SIGNALS.forEach((signal) => process.removeAllListeners(signal));  // the launcher's, until now
if (SIGNALS.includes('SIGUSR1')) process.on('SIGUSR1', onSignal);
function holdSignals(hold) {
  held = hold;
  for (const signal of SIGNALS.filter((name) => name !== 'SIGUSR1')) {
    process.off(signal, onSignal);
    if (hold) process.on(signal, onSignal);
  }
}

async function checkpoint() {
  await new Promise((resolve) => setImmediate(resolve));
  if (signalled) endBy(signalled);
}

// Ends the process by `signal` as the program ends (no temporary left):
// Node then lets the signal's default action happen, SIGPIPE's too.
function endBy(signal) {
  for (const temporary of pendingTemporaries) fs.rmSync(bytesOf(temporary), { force: true });
  process.removeAllListeners(signal);
  const none = () => {};
  process.on(signal, none).off(signal, none);
  process.kill(process.pid, signal);
  process.exit(128 + os.constants.signals[signal]);  // where the signal cannot end it
}

// The error lines of the file pass.
function reportOutOfMemory(shown) {
  out.error(`Memory allocation error: ${shown}\n`);
  tally.outOfMemory = true;
}

function reportReadFailure(failure, shown) {
  if (failure.step === 'memory') {
    reportOutOfMemory(shown);
    return -1;
  }
  const reason = failureReason(failure, '', printable);
  if (failure.step === 'scratch') {
    out.error(`Error making the diff of ${shown} (${reason})\n`);
  } else {
    const what = ['read', 'changed', 'long_line'].includes(failure.step) ? 'reading' : 'opening';
    out.error(`Error ${what} file: ${shown} (${reason})\n`);
  }
  tally.anyFailed = true;
  return -1;
}

function reportDirectoryFailure(name, failure) {
  out.error(`Error opening directory: ${printable(name)} (${failureReason(failure, name, printable)})\n`);
  tally.anyFailed = true;
}

// Prints to the standard output, or (the filter's report lines) to the error stream.
const printTo = (toError, text) => (toError ? out.error(text.toString('latin1')) : out.out(text));

function printReport(toError, shown, edits, start) {
  // A brief run names only what changes (as the program's print_report).
  if (settings.brief && (edits === 0 || settings.review === REVIEW.none)) return;
  if (!settings.quiet) printTo(toError, `File: ${shown}  Edits: ${edits}  Time: ${seconds(start)} seconds\n`);
}

// Cleans the text that `read(buffer, at, length)` gives (bytes into
// `buffer` from `at`; 0 at its end) a piece at a time, as the program reads
// a file, so that memory holds a block, not the text: `flags` as for
// core.begin(); `onPiece(text, piece, offset)` for each piece, in order.
// Returns core.end()'s { edits, changes, shown }. Throws a Failure (what
// `read` throws, or 'long_line' where -only meets a line longer than
// MAX_FIELD_LINE) or OutOfMemory.
function cleanInPieces(name, flags, read, onPiece) {
  core.begin(name, flags);
  let block = Buffer.allocUnsafe(BLOCK);
  let filled = 0;
  let atEnd = false;
  let offset = 0;
  for (;;) {
    while (!atEnd && filled < block.length) {
      const got = read(block, filled, block.length - filled);
      atEnd = got === 0;
      filled += got;
    }
    if (filled === 0) break;
    const piece = core.piece(block.subarray(0, filled), atEnd);
    if (piece.length === 0) {  // a piece longer than the block
      if (planned.only && block.length >= MAX_FIELD_LINE) throw new Failure('long_line');
      const larger = Buffer.allocUnsafe(block.length * 2);
      block.copy(larger, 0, 0, filled);
      block = larger;
      continue;
    }
    onPiece(block.subarray(0, piece.length), piece, offset);
    offset += piece.length;
    block.copyWithin(0, piece.length, filled);
    filled -= piece.length;
    if (atEnd && filled === 0) break;
  }
  return core.end();
}
const BLOCK = 256 << 10;

// True when the file `file` (openFile's) holds a NUL byte; it is then read
// again from its start.
function holdsNul(file) {
  const block = Buffer.allocUnsafe(1 << 20);
  let found = false;
  for (let got; !found && (got = file.read(block, 0, block.length)) > 0;) found = block.subarray(0, got).includes(0);
  file.rewind();
  return found;
}

// What a run that writes nothing shows of the text that `read` gives,
// named `name` (`toError`: the report lines go to the error stream;
// `binary`: in a diff, it holds a NUL). Throws as cleanInPieces.
function reviewPieces(name, shown, read, toError, binary) {
  const start = now();
  const review = settings.review;
  let flags = 0;
  if (review === REVIEW.check && settings.verbose) flags |= CLEAN.lines;
  if (review === REVIEW.check && settings.github) flags |= CLEAN.annotation;
  if (review === REVIEW.diff && !binary) flags |= CLEAN.diff | (settings.colour ? CLEAN.colour : 0);
  else flags |= CLEAN.judge;  // the bytes judged, no new text made
  if (SEPARATOR === '\\') flags |= CLEAN.backslash;
  const result = cleanInPieces(name, flags, read, (text, piece) => {
    if (piece.changedLines.length > 0) printTo(toError, piece.changedLines);
  });
  ++tally.judged;
  if (result.changes) ++tally.changed;
  if (review === REVIEW.check) {
    printReport(toError, shown, result.edits, start);
    out.out(result.shown);
  } else if (review === REVIEW.list && result.changes) {
    out.out(settings.null ? `${name}\0` : `${core.quoted(name, SEPARATOR)}\n`);
  } else if (review === REVIEW.diff) {
    out.out(binary ? (result.changes ? `Binary file ${shown} would change\n` : '') : result.shown);
  }
  return result.edits;
}

// The designed run on the file `file` (openFile's) at `location`: its new
// text streamed into a replacement made at its first change, then the
// report line, and the save. Returns the edit count. Throws as
// cleanInPieces, the replacement then gone.
function writePieces(location, name, shown, file) {
  const start = now();
  let replacement = null;
  let failed = null;
  let warnings = '';
  const warn = ({ otherLinks, lostSetIdBits }) => {
    if (otherLinks) warnings += `Warning: other hard links to '${shown}' keep the old content\n`;
    if (lostSetIdBits & 0o4000) warnings += `Warning: '${shown}' loses its set-user-ID bit: the saved file has another owner\n`;
    if (lostSetIdBits & 0o2000) warnings += `Warning: '${shown}' loses its set-group-ID bit: the saved file has another group\n`;
  };
  let result;
  try {
    result = cleanInPieces(name, settings.verbose ? CLEAN.lines : 0, file.read, (text, piece, offset) => {
      out.out(piece.changedLines);
      if (failed) return;  // the scan goes on, for the report
      if (!replacement && !piece.cleaned.equals(text)) {
        replacement = new ReplacementFile(location, file.identity);
        failed = replacement.open(offset, warn);
      }
      if (replacement && !failed) failed = replacement.write(piece.cleaned);
    });
  } catch (error) {
    replacement?.discard();
    throw error;
  }
  printReport(false, shown, result.edits, start);
  if (result.edits > 0) {
    if (warnings) out.error(warnings);
    failed ??= replacement ? replacement.commit() : null;
    if (failed) {
      out.error(`Error writing to file: ${shown} (${failureReason(failed.failure, failed.directory, printable)})\n`);
      tally.anyFailed = true;
    } else if (!settings.quiet) {
      out.out(`Changes saved to '${shown}'.\n`);
    }
  }
  return result.edits;
}

// One file from reading to writing back (or, in a run that writes
// nothing, to what the mode shows of it), read a piece at a time: its
// edit count, or -1.
function processFile(location, name) {
  const shown = printable(name);
  let file;
  try {
    file = openFile(location);
  } catch (error) {
    if (!(error instanceof Failure)) throw error;
    return reportReadFailure(error, shown);
  }
  try {
    if (settings.review === REVIEW.none) return writePieces(location, name, shown, file);
    return reviewPieces(name, shown, file.read, false, settings.review === REVIEW.diff && holdsNul(file));
  } catch (error) {
    if (error instanceof Failure) return reportReadFailure(error, shown);
    if (!(error instanceof OutOfMemory || error instanceof RangeError)) throw error;
    reportOutOfMemory(shown);
    return -1;
  } finally {
    fs.closeSync(file.fd);
  }
}

// The filter: standard input cleaned to standard output a piece at a time,
// its lines on the error stream. A diff reads a copy of it (in a scratch
// file), since a NUL anywhere makes it binary.
function processStandardStreams() {
  holdSignals(false);  // a signal while standard input is awaited ends the run at once
  try {
    if (settings.review === REVIEW.diff) {
      const copy = copyStandardInput();
      try {
        return reviewPieces('-', '-', copy.file.read, true, holdsNul(copy.file));
      } finally {
        copy.remove();
      }
    }
    if (settings.review !== REVIEW.none) return reviewPieces('-', '-', readStandardInput, true, false);
    const start = now();
    const result = cleanInPieces('-', settings.verbose ? CLEAN.lines : 0, readStandardInput, (text, piece) => {
      if (piece.changedLines.length > 0) out.error(piece.changedLines.toString('latin1'));
      out.out(piece.cleaned);
    });
    printReport(true, '-', result.edits, start);
  } catch (error) {
    if (error instanceof Failure) return reportReadFailure(error, '-');
    if (!(error instanceof OutOfMemory || error instanceof RangeError)) throw error;
    reportOutOfMemory('-');
  } finally {
    holdSignals(true);
  }
}

// The filter for a text its settings leave out: standard input copied to
// standard output as it is, in a run that writes.
function passStandardStreamsThrough() {
  if (settings.review !== REVIEW.none) return;
  holdSignals(false);
  try {
    const block = Buffer.allocUnsafe(1 << 16);
    for (let got; (got = readStandardInput(block, 0, block.length)) > 0;) out.out(block.subarray(0, got));
  } catch (error) {
    if (!(error instanceof Failure)) throw error;
    reportReadFailure(error, '-');
  } finally {
    holdSignals(true);
  }
}

function pathFits(name) {
  if (name.length <= maxPathLength) return true;
  out.error(`Path too long: ${printable(name)}\n`);
  tally.anyFailed = true;
  return false;
}

// True when `text` matches `glob`, whose '*' stands for any bytes and '?'
// for one, neither ever for a '/'.
function matchesGlob(glob, text) {
  const globs = glob.split('/');
  const texts = text.split('/');
  return globs.length === texts.length && globs.every((part, i) => matchesSegment(part, texts[i]));
}

function matchesSegment(glob, text) {
  let g = 0;
  let t = 0;
  let star = -1;
  let textAtStar = 0;
  while (t < text.length) {
    if (glob[g] === '*') {
      star = g++;
      textAtStar = t;
    } else if (g < glob.length && (glob[g] === '?' || glob[g] === text[t])) {
      ++g;
      ++t;
    } else if (star >= 0) {
      g = star + 1;
      t = ++textAtStar;
    } else {
      return false;
    }
  }
  while (glob[g] === '*') ++g;
  return g === glob.length;
}

const excluded = (name, below) => excludes.some((glob) => matchesGlob(glob, name) || matchesGlob(glob, below));
const showsProgress = () => !settings.quiet && !settings.brief && (settings.review === REVIEW.none || settings.review === REVIEW.check);
const below = (path, name) => (path ? `${path}/${name}` : name);

// The files of one directory, then (recursive) those below it, depth first.
async function walk(dir, path, run) {
  let listing;
  try {
    listing = dir.list();
  } catch (failure) {
    reportDirectoryFailure(dir.path, failure);
    run.failed = true;
    return;
  }
  for (const name of listing.maps) {
    if (excluded(name, below(path, name))) continue;
    const fullPath = joinedPath(dir.path, name);
    if (!planFor(fullPath, false)) continue;
    ++run.matched;
    if (!pathFits(fullPath)) continue;
    const found = dir.locate(name);
    if (found.place === 'outside') {
      out.error(`Skipped '${printable(fullPath)}': it links outside '${printable(run.rootName)}'\n`);
      continue;
    }
    if (found.place === 'missing') {
      reportReadFailure(found.failure, printable(fullPath));
      continue;
    }
    await checkpoint();
    processFile(found.location, fullPath);
  }
  for (const name of listing.subdirectories) {
    const subBelow = below(path, name);
    if (excluded(name, subBelow)) continue;
    const subPath = joinedPath(dir.path, name);
    if (core.excludesFolder(subPath)) continue;
    if (!settings.recursive) {
      ++run.unsearched;  // those a -r run would enter
      continue;
    }
    if (!pathFits(joinedPath(subPath, '*.map'))) continue;
    let sub;
    try {
      sub = dir.openSubdirectory(name);
    } catch (failure) {
      reportDirectoryFailure(subPath, failure);
      run.failed = true;
      continue;
    }
    await walk(sub, subBelow, run);
  }
}

async function processDirectory(name) {
  if (!pathFits(joinedPath(name, '*.map'))) return;
  const start = now();
  let root;
  try {
    root = Directory.openRoot(name);
  } catch (failure) {
    reportDirectoryFailure(name, failure);
    return;
  }
  const run = { rootName: name, matched: 0, failed: false, unsearched: 0 };
  await walk(root, '', run);
  if (run.matched === 0) {
    if (!run.failed) {
      out.error(`No .map files found in directory: ${printable(name)}${run.unsearched > 0 ? ' (its subdirectories are searched with -r)' : ''}\n`);
    }
    return;
  }
  if (run.unsearched > 0 && !settings.quiet && !settings.brief) {
    const [folders, them] = run.unsearched === 1 ? ['subdirectory', 'it'] : ['subdirectories', 'them'];
    out.error(`Not searched: ${run.unsearched} ${folders} of ${printable(name)}; -r cleans ${them} too\n`);
  }
  if (showsProgress()) out.out(`Overall processing time: ${seconds(start)} seconds\n`);
}

function isDirectory(name) {
  try {
    return fs.statSync(bytesOf(name)).isDirectory();
  } catch {
    return false;
  }
}

// Gives the next texts the settings of the map `name`: true, or false for
// one left out (a named one said to be, `named`: in a line) or whose
// settings file became unusable after the run read it (an error line).
let planned = { only: 0 };
function planFor(name, named) {
  planned = core.plan(name);
  if (planned.answer === PLAN.unusable) {
    out.error(`Error: ${planned.shown}\n`);
    tally.anyFailed = true;
  } else if (planned.answer === PLAN.excluded && named && !settings.quiet) {
    out.error(`Skipped: ${printable(name)} (excluded by ${planned.shown})\n`);
  }
  return planned.answer === PLAN.planned;
}

// Reads every settings file the run will use before any map is touched (a
// directory's and, with -r, those of the folders below it but for the
// ones left out): the first that cannot be used, or null.
function readSettingsFiles() {
  const readBelow = (dir, path) => {
    core.excludesFolder(dir.path);
    if (!settings.recursive) return;
    let listing;
    try {
      listing = dir.list();
    } catch {
      return;  // the run reports it
    }
    for (const name of listing.subdirectories) {
      const subPath = joinedPath(dir.path, name);
      if (excluded(name, below(path, name)) || core.excludesFolder(subPath)) continue;
      try {
        readBelow(dir.openSubdirectory(name), below(path, name));
      } catch {
        // the run reports it
      }
    }
  };
  const readDirectory = (name) => {
    try {
      readBelow(Directory.openRoot(name), '');
    } catch {
      // the run reports it
    }
  };
  if (targets.length === 0) readDirectory(currentDirectoryBytes());
  for (const target of targets) {
    if (target === '-') core.plan(stdinName ?? '-');
    else if (isDirectory(target)) readDirectory(target);
    else core.plan(target);
  }
  return core.configError();
}

async function processTarget(target) {
  if (target === '-') {
    if (planFor(stdinName ?? '-', false)) processStandardStreams();
    else if (planned.answer === PLAN.excluded) passStandardStreamsThrough();
    return;
  }
  if (!pathFits(target)) return;
  if (isDirectory(target)) {
    await processDirectory(target);
    return;
  }
  if (!planFor(target, true)) return;
  await checkpoint();
  processFile(fileAt(target), target);
}

async function run() {
  switch (action) {
    case ACTION.usage:
      out.out(core.usage());
      return 0;
    case ACTION.version:
      out.out(`mapclean ${core.version()} (WebAssembly)\n`);
      return 0;
    case ACTION.error:
      out.error(`${message}\n`);
      return 1;
    default:
      break;
  }
  if (settings.gitFilter) {
    out.error('Error: -git-filter needs the program of a platform package (npm install mapclean with its optional '
      + 'dependencies); the WebAssembly command does not serve git\'s filter protocol: use the clean filter '
      + '"mapclean -quiet -stable -stdin-filename %f -"\n');
    return 1;
  }
  const filters = targets.filter((target) => target === '-').length;
  if (filters > 1) {
    out.error('Error: "-" can be given only once\n');
    return 1;
  }
  let here = '';
  try {
    here = currentDirectoryBytes();
  } catch {
    // settings files are then found only from absolute paths
  }
  core.startConfig(here, SEPARATOR === '\\');
  if (showSettings !== null) {
    const shown = core.showSettings(showSettings, isDirectory(showSettings));
    if (shown === null) {
      out.error(`Error: ${core.configError()}\n`);
      return 1;
    }
    out.out(shown);
    return 0;
  }
  // No terminal to ask on is assured, and a question from here could not
  // work as the program's does: a run that would ask or pause is refused.
  const saving = settings.review === REVIEW.none && (targets.length === 0 || filters < targets.length);
  if (saving && !settings.silent) {
    out.error('Error: mapclean from npm asks nothing: add -s to save without asking, or use -check, -diff or -list\n');
    return 1;
  }
  // Where Node gives no way to save as the program does, nothing is saved
  // (the run is refused before anything is touched): a file whose ACL it
  // cannot see, in a folder it cannot hold open.
  if (saving && process.platform !== 'darwin' && process.env.MAPCLEAN_WASM_SAVES !== '1') {
    out.error('Error: mapclean from npm saves here only with the program of its platform package: in Node it cannot '
      + 'see a file\'s ACL on this system, so a save could widen who may use the file; use -check, -diff or -list\n');
    return 1;
  }
  if (saving && (targets.length === 0 || targets.some((target) => target !== '-' && isDirectory(target)))) {
    out.error('Error: mapclean from npm saves no directory run with Node, which cannot hold a folder open: one swapped '
      + 'for a link meanwhile could take the run outside it; name the files (find DIR -name \'*.map\' -exec '
      + 'mapclean -s {} +), or use -check, -diff or -list\n');
    return 1;
  }
  if (settings.review === REVIEW.list || settings.review === REVIEW.diff) {
    const automatic = tty.isatty(1) && !process.env.NO_COLOR;
    settings.colour = settings.review === REVIEW.diff && (settings.colourWhen === COLOUR_WHEN.always
      || (settings.colourWhen === COLOUR_WHEN.automatic && automatic));
  }
  const unusable = readSettingsFiles();
  if (unusable !== null) {
    out.error(`Error: ${unusable}\n`);
    return 1;
  }
  holdSignals(true);
  if (targets.length === 0) {
    const cwd = currentDirectoryBytes();
    if (showsProgress()) out.out(`No target specified. Processing .map files in current directory: ${printable(cwd)}\n`);
    await processDirectory(cwd);
  }
  for (const target of targets) await processTarget(target);
  if (settings.review === REVIEW.check && !settings.quiet) {
    printTo(filters > 0, `${tally.changed} of ${tally.judged} files would change\n`);
  }
  if (tally.outOfMemory || (settings.review !== REVIEW.none && tally.changed > 0)) return 1;
  return tally.anyFailed ? 2 : 0;
}

(async () => {
  let status = await run();
  out.flush();
  if (out.outputError) {
    out.error(`Error writing to standard output (${errorText(out.outputError)})\n`);
    status = 2;
  }
  await checkpoint();
  process.exitCode = status;
})();
