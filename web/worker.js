// Cleans the page's files away from its main thread (clean_file.js), and
// always answers: a result for every file (an error one for a file that
// failed), then "done" with the ZIPs (of the maps that change, and of all
// of them), or the reason there are none.
import { loadMapclean } from './mapclean.js';
import { cleanFile } from './clean_file.js';
import { createZip } from './zip.js';

const ready = loadMapclean(new URL('./mapclean.wasm', import.meta.url));

// `configs`: the drop's settings files ([{ path, bytes }]), of which
// `given` says which keys the page's options replace.
async function cleanAll({ files, options, run, configs = [], given = 0 }) {
  let mapclean;
  try {
    mapclean = await ready;
  } catch (error) {
    postMessage({ type: 'failed', run, message: `the cleaner could not be loaded (${error.message})` });
    return;
  }
  const total = files.reduce((sum, file) => sum + file.blob.size, 0);
  let done = 0;
  const zipped = [];
  const applied = new Set();  // the settings files that gave a map its settings
  if (configs.length > 0) mapclean.useConfigs(configs, options, given);
  for (let index = 0; index < files.length; index++) {
    const file = files[index];
    const doneBefore = done;
    let result;
    let fileOptions = options;
    if (configs.length > 0) {
      const plan = mapclean.plan(file.name);
      if (plan.answer !== 'planned') {
        done = doneBefore + file.blob.size;
        postMessage({ type: 'progress', run, done, total });
        postMessage({ type: 'result', run, index, name: file.name,
          ...(plan.answer === 'excluded' ? { excludedBy: plan.file } : { error: plan.error }) });
        continue;
      }
      fileOptions = plan.options;
      if (plan.file) applied.add(plan.file);
    }
    try {
      const bytes = new Uint8Array(await file.blob.arrayBuffer());
      result = cleanFile(mapclean, bytes, fileOptions, (bytes) => {
        done += bytes;
        postMessage({ type: 'progress', run, done, total });
      });
    } catch (error) {
      result = { error: `could not be read (${error.message || error.name})` };
    }
    if (result.error) {
      done = doneBefore + file.blob.size;
      postMessage({ type: 'progress', run, done, total });
      postMessage({ type: 'result', run, index, name: file.name, error: result.error });
      continue;
    }
    // In a folder of their own, so that unpacking the ZIP replaces no map.
    zipped.push({ name: `cleaned-maps/${file.name}`, bytes: result.output, changed: result.changed,
      modified: file.blob.lastModified ?? Date.now() });
    const copy = result.output.slice();
    postMessage({ type: 'result', run, index, name: file.name, edits: result.edits, changed: result.changed,
      output: copy, hunks: result.hunks, moreEdits: result.moreEdits }, [copy.buffer]);
  }
  // The controls start from the keys of the settings file at the drop's top.
  const top = configs.length > 0 ? mapclean.plan(`${configs[0].path.replace(/[^/]*$/, '')}-`) : null;
  const settings = { applied: [...applied].sort(), base: top?.answer === 'planned' && top.file ? top.options : null };
  try {
    // The maps that change; with the unchanged ones too, where there are any.
    const changed = zipped.filter((entry) => entry.changed);
    const zip = new Blob(createZip(changed), { type: 'application/zip' });
    const zipAll = changed.length < zipped.length ? new Blob(createZip(zipped), { type: 'application/zip' }) : null;
    postMessage({ type: 'done', run, zip, zipAll, total, settings });
  } catch (error) {
    postMessage({ type: 'done', run, zip: null, zipProblem: error.message, total, settings });
  }
}

onmessage = async ({ data }) => {
  try {
    await cleanAll(data);
  } catch (error) {
    postMessage({ type: 'failed', run: data.run, message: error.message });
  }
};
