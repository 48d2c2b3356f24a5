// The diff view of one cleaned text: hunks of changed lines as `diff -u`
// groups them (three lines of context), each changed line's old and new
// forms with the changed numbers marked. A rewrite never adds or removes a
// line end, so old and new lines pair up one to one.

const NEWLINE = 10;

// The offsets where each line of `bytes` starts, and one past the end.
function lineStarts(bytes) {
  const starts = [0];
  for (let i = bytes.indexOf(NEWLINE); i !== -1; i = bytes.indexOf(NEWLINE, i + 1)) starts.push(i + 1);
  if (starts[starts.length - 1] !== bytes.length) starts.push(bytes.length);
  return starts;
}

// The index of the line holding `offset`.
function lineOf(starts, offset) {
  let low = 0;
  let high = starts.length - 2;
  while (low < high) {
    const middle = (low + high + 1) >> 1;
    if (starts[middle] <= offset) low = middle;
    else high = middle - 1;
  }
  return low;
}

const decoder = new TextDecoder('utf-8');

// A line's text split into parts, those at `marks` ([from, to) offsets in
// the whole text) marked: [{ text, marked }]. The line end is left out.
function parts(bytes, from, to, marks) {
  while (to > from && (bytes[to - 1] === NEWLINE || bytes[to - 1] === 13)) to--;
  const out = [];
  let at = from;
  for (const [markFrom, markTo] of marks) {
    if (markFrom > at) out.push({ text: decoder.decode(bytes.subarray(at, markFrom)), marked: false });
    out.push({ text: decoder.decode(bytes.subarray(markFrom, markTo)), marked: true });
    at = markTo;
  }
  if (to > at) out.push({ text: decoder.decode(bytes.subarray(at, to)), marked: false });
  return out;
}

// The hunks of the diff of `oldBytes` and `newBytes` (Uint8Arrays), from the
// `places` of their edits (as Mapclean.editPlaces gives them, in order).
// Line numbers start at `firstLine` (1 for a whole text). Returns
// [{ header: "@@ -l,n +l,n @@", lines: [{ mark: ' ' | '-' | '+', parts }] }].
export function buildDiff(oldBytes, newBytes, places, firstLine = 1, context = 3) {
  if (places.length === 0) return [];
  const oldStarts = lineStarts(oldBytes);
  const newStarts = lineStarts(newBytes);
  const changed = new Map();  // line index -> { old: [[from, to]], new: [[from, to]] }
  for (const place of places) {
    const line = lineOf(oldStarts, place.from);
    if (!changed.has(line)) changed.set(line, { old: [], new: [] });
    changed.get(line).old.push([place.from, place.from + place.length]);
    changed.get(line).new.push([place.to, place.to + place.toLength]);
  }
  const lines = [...changed.keys()];
  const lineCount = oldStarts.length - 1;
  const hunks = [];
  for (let k = 0; k < lines.length;) {
    let next = k + 1;
    while (next < lines.length && lines[next] - lines[next - 1] - 1 <= 2 * context) next++;
    const from = Math.max(0, lines[k] - context);
    const to = Math.min(lineCount, lines[next - 1] + 1 + context);
    const count = to - from;
    const range = count === 1 ? `${from + firstLine}` : `${from + firstLine},${count}`;
    const hunk = { header: `@@ -${range} +${range} @@`, lines: [] };
    for (let i = from; i < to;) {
      if (!changed.has(i)) {
        hunk.lines.push({ mark: ' ', parts: parts(oldBytes, oldStarts[i], oldStarts[i + 1], []) });
        i++;
        continue;
      }
      let end = i;
      while (end < to && changed.has(end)) end++;
      for (let r = i; r < end; r++) {
        hunk.lines.push({ mark: '-', parts: parts(oldBytes, oldStarts[r], oldStarts[r + 1], changed.get(r).old) });
      }
      for (let r = i; r < end; r++) {
        hunk.lines.push({ mark: '+', parts: parts(newBytes, newStarts[r], newStarts[r + 1], changed.get(r).new) });
      }
      i = end;
    }
    hunks.push(hunk);
    k = next;
  }
  return hunks;
}
