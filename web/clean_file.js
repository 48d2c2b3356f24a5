// One file of the page, cleaned a piece at a time, so that the page never
// freezes and its progress bar moves: the module cuts the file where it
// cleans exactly as the whole (after a line end, or, for rules that do not
// read whole lines, after any byte that no number or word can hold: a lone
// CR, a space), into pieces of about 1 MiB.
import { buildDiff } from './diff.js';

const PIECE = 1 << 20;
const DIFF_EDITS = 200;  // the edits a file's diff view shows at most

// The end of the piece of `bytes` that starts at `from`: the module's cut
// within PIECE bytes, else within twice as many, and so on, else the end.
function pieceEnd(mapclean, bytes, from, options) {
  for (let window = PIECE; ; window *= 2) {
    if (bytes.length - from <= window) return bytes.length;
    const length = mapclean.pieceLength(bytes.subarray(from, from + window), options);
    if (length > 0) return from + length;
  }
}

function sameBytes(a, b) {
  if (a.length !== b.length) return false;
  for (let i = 0; i < a.length; i++) if (a[i] !== b[i]) return false;
  return true;
}

// The file `bytes` cleaned with `options`: { edits, changed, output, hunks,
// moreEdits }, or { error } for a file that is not text or that the module
// could not clean (memory ran out, say: the module is then made afresh, so
// that the next file is cleaned). `progress(bytes)` hears of each piece.
export function cleanFile(mapclean, bytes, options, progress) {
  if (bytes.includes(0)) return { error: 'not a text file: it holds a NUL byte; left as it is' };
  try {
    const parts = [];
    let edits = 0;
    let changed = false;
    let firstLine = 1;
    const hunks = [];
    let shownEdits = 0;
    let from = 0;
    do {  // an empty file is one empty piece
      const to = pieceEnd(mapclean, bytes, from, options);
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
  } catch (error) {
    mapclean.reset();
    const memory = error instanceof RangeError || error instanceof WebAssembly.RuntimeError;
    return { error: memory ? `out of memory: it is too large for this page (${error.message})`
      : `could not be cleaned (${error.message})` };
  }
}
