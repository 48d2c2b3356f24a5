// The page's options in the command line's words, in and out of the page's
// address: ?precision=2&only=offsets,rotation&plain=1&stable=1.
import { DEFAULT_OPTIONS, FIELDS } from './mapclean.js';

// The MAPCLEAN_ONLY_* bits of a -only list ("offsets,rotation"); throws for
// a word that names no field, as the command line refuses it: each word
// exactly a field's name in any letter case (no spaces, none empty, and no
// property that every object has, such as "constructor").
export function parseOnly(list) {
  let bits = 0;
  for (const word of list.split(',')) {
    const name = word.toLowerCase();
    const bit = Object.hasOwn(FIELDS, name) ? FIELDS[name] : undefined;
    if (bit === undefined) throw new Error(`-only takes ${Object.keys(FIELDS).join(', ')}: ${list}`);
    bits |= bit;
  }
  return bits;
}

// The field words of `bits`, each field once (texture for all six of its own).
export function onlyWords(bits) {
  const words = [];
  let left = bits;
  for (const [word, bit] of Object.entries(FIELDS)) {
    if (bit && (left & bit) === bit) {
      words.push(word);
      left &= ~bit;
    }
  }
  return words;
}

// The page's defaults: the program's, but settled, as the README's recipes
// run it, so that a map cleaned here passes their `-check -stable`.
export const PAGE_OPTIONS = Object.freeze({ ...DEFAULT_OPTIONS, stable: true });

// The precision that `text` asks for, read as the command line reads -p: a
// whole number (an optional sign and digits), a negative one meaning
// automatic mode (-1), a huge one saturating; null when it is none.
export function parsePrecision(text) {
  if (!/^[+-]?\d+$/.test(text)) return null;
  return Math.max(-1, Math.min(Number(text), 2147483647));
}

// Options from an address's search parameters; what cannot be read is left
// at its default, and said in `problems`.
export function optionsFromSearch(search) {
  const params = new URLSearchParams(search);
  const options = { ...PAGE_OPTIONS };
  const problems = [];
  if (params.has('precision')) {
    const text = params.get('precision');
    const precision = parsePrecision(text);
    if (precision !== null) options.precision = precision;
    else problems.push(`precision needs a whole number: ${text}`);
  }
  const yes = (name) => ['1', 'true', 'yes', 'on'].includes((params.get(name) ?? '').toLowerCase());
  options.plain = yes('plain');
  options.stable = params.has('stable') ? yes('stable') : PAGE_OPTIONS.stable;
  if (params.has('only') && params.get('only') !== '') {
    try {
      options.only = parseOnly(params.get('only'));
    } catch (error) {
      problems.push(error.message);
    }
  }
  return { options, problems };
}

// The search part of an address for `options`, defaults left out.
export function searchFromOptions(options) {
  const params = new URLSearchParams();
  if (options.precision >= 0) params.set('precision', String(options.precision));
  if (options.only) params.set('only', onlyWords(options.only).join(','));
  if (options.plain) params.set('plain', '1');
  if (options.stable !== PAGE_OPTIONS.stable) params.set('stable', options.stable ? '1' : '0');
  const text = params.toString().replaceAll('%2C', ',');
  return text ? `?${text}` : '';
}

// The command line that does what `options` do, for the page to show.
export function commandLine(options) {
  const words = ['mapclean'];
  if (options.precision >= 0) words.push('-p', String(options.precision));
  if (options.plain) words.push('-plain');
  if (options.only) words.push('-only', onlyWords(options.only).join(','));
  if (options.stable) words.push('-stable');
  return words.join(' ');
}
