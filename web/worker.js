// Cleans the page's files away from its main thread, a piece at a time, so
// that the page never freezes and its progress bar moves: each file is cut
// at line ends into pieces of about 1 MiB, which clean exactly as the whole
// (a rewrite never reaches past a line end), and every piece is reported.
import { loadMapclean } from './mapclean.js';
import { buildDiff } from './diff.js';
import { createZip } from './zip.js';

const PIECE = 1 << 20;
const DIFF_EDITS = 200;  // the edits a file's diff view shows at most
const ready = loadMapclean(new URL('./mapclean.wasm', import.meta.url));

// The end of the piece of `bytes` that starts at `from`: after the last line
// end within PIECE bytes, else after the next one, else the end.
function pieceEnd(bytes, from) {
  if (bytes.length - from <= PIECE) return bytes.length;
  const last = bytes.lastIndexOf(10, from + PIECE - 1);
  if (last >= from) return last + 1;
  const next = bytes.indexOf(10, from + PIECE);
  return next === -1 ? bytes.length : next + 1;
}

function sameBytes(a, b) {
  if (a.length !== b.length) return false;
  for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
  return true;
}

// One file: its result message, and its new bytes for the ZIP.
async function cleanFile(mapclean, file, options, progress) {
  let bytes;
  try {
    bytes = new Uint8Array(await file.blob.arrayBuffer());
  } catch (error) {
    return { error: `could not be read (${error.message || error.name})` };
  }
  if (bytes.includes(0)) return { error: 'not a text file: it holds a NUL byte; left as it is' };
  const parts = [];
  let edits = 0;
  let changed = false;
  let firstLine = 1;
  const hunks = [];
  let shownEdits = 0;
  let from = 0;
  do {  // an empty file is one empty piece
    const to = pieceEnd(bytes, from);
    const piece = bytes.subarray(from, to);
    const result = mapclean.clean(piece, options);
    edits += result.edits;
    changed ||= !sameBytes(result.output, piece);
    if (result.edits > 0 && shownEdits < DIFF_EDITS) {
      const places = mapclean.editPlaces(options, DIFF_EDITS - shownEdits);
      shownEdits += places.length;
      hunks.push(...buildDiff(piece, result.output, places, firstLine));
    }
    parts.push(result.output);
    for (let i = piece.indexOf(10); i !== -1; i = piece.indexOf(10, i + 1)) firstLine++;
    progress(to - from);
    from = to;
  } while (from < bytes.length);
  const output = new Uint8Array(parts.reduce((sum, part) => sum + part.length, 0));
  let at = 0;
  for (const part of parts) {
    output.set(part, at);
    at += part.length;
  }
  return { edits, changed, output, hunks, moreEdits: edits - shownEdits };
}

onmessage = async ({ data }) => {
  const { files, options, run } = data;
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
  for (let index = 0; index < files.length; index++) {
    const file = files[index];
    const result = await cleanFile(mapclean, file, options, (bytes) => {
      done += bytes;
      postMessage({ type: 'progress', run, done, total });
    });
    if (result.error) {
      done += file.blob.size;
      postMessage({ type: 'progress', run, done, total });
      postMessage({ type: 'result', run, index, name: file.name, error: result.error });
      continue;
    }
    zipped.push({ name: file.name, bytes: result.output, modified: file.blob.lastModified ?? Date.now() });
    const copy = result.output.slice();
    postMessage({ type: 'result', run, index, name: file.name, edits: result.edits, changed: result.changed,
      output: copy, hunks: result.hunks, moreEdits: result.moreEdits }, [copy.buffer]);
  }
  const zip = createZip(zipped);
  postMessage({ type: 'done', run, zip, total }, [zip.buffer]);
};
