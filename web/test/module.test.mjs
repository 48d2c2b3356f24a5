// The WebAssembly module against the native program: over texts of every
// kind the unit tests use, random texts and generated maps, in every mode,
// the bytes and the edit count must be what `mapclean -` writes and reports.
// Run through ctest in the wasm build, which sets MAPCLEAN_WEB (the page),
// MAPCLEAN_EXE (the native program) and MAPCLEAN_MAKE_MAP.
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import test from 'node:test';
import { pathToFileURL } from 'node:url';

const web = process.env.MAPCLEAN_WEB;
const exe = process.env.MAPCLEAN_EXE;
const makeMap = process.env.MAPCLEAN_MAKE_MAP;
const missing = !web || !existsSync(`${web}/mapclean.wasm`) ? 'MAPCLEAN_WEB names no built page'
  : !exe || !existsSync(exe) ? 'MAPCLEAN_EXE names no native program' : false;

// The program's words and the module's options for each mode.
const MODES = [
  { args: [], options: {} },
  { args: ['-p', '0'], options: { precision: 0 } },
  { args: ['-p', '2'], options: { precision: 2 } },
  { args: ['-p', '6'], options: { precision: 6 } },
  { args: ['-p', '15'], options: { precision: 15 } },
  { args: ['-stable'], options: { stable: true } },
  { args: ['-plain'], options: { plain: true } },
  { args: ['-plain', '-stable'], options: { plain: true, stable: true } },
  { args: ['-p', '0', '-only', 'offsets,rotation'], options: { precision: 0, only: 0x006 } },
  { args: ['-only', 'planes,keys'], options: { only: 0x101 } },
  { args: ['-p', '3', '-stable', '-only', 'texture,patches'], options: { precision: 3, stable: true, only: 0x0fe } },
];

const TEXTS = [
  '', 'gain 0.30000000000000004\nlimit 1.9999999\n', 'x1.2.3 axis12 x-.5 +.x 0x1e-7', '( -16 32.5e+1 ) 1e',
  'a--1 b+-.5', '"origin" "0 -8 24"', '0x 0xZ 0x1p 0x1.0000p3 0x1E', 'v2\xb2 3',
  'a\t1.0000001\r\nb \xff\xfe 2.50\r\n\xe9 0.2999999\r\n', '1.0000001 x\0 2.0000001\n\0 3.9999', '5.00001', '7', '-',
  '2.50 100 1e-6 5.0001 1e-7 -2.5e-08 4.0E-7 0e5 1.5e300 1E5', '.30000000000000004 -.00001 +.0000 1.99900001',
  '92.74999999980000001 000e01e0 1.10.377 1e1000.32 1e999 -1e-999',
  '"_tb_linked_group_id" "{300d129e-0153-4b1f-8a2c-4408b0e30f2c}"\n{00001234-0000-4000-8000-0000000000f0}\n',
  'e1m1 +0slipbot explod1.wav 8000a0e0 5-3 wall1e2 _1.9999999 x0.30000000000000004 1.9999999e 2.5e-08x',
  '( 1088 -1792 -96 ) ( 1088 -1664 -96 ) ( 1088 -1792 -32 ) tech08_1 16.5 -8.25 45.5 0.25 0.5 0 1.5 0\n',
  '( -64 -64 -16 ) ( -64 -63 -16 ) ( -64 -64 -15 ) wood [ 5.55e-17 0.2425 -0.9701 31.401 ] [ 0 0 -1 -2.5 ] 89.5 0.25 1\n',
  '( 0 -2208 192 ) ( 128 -2208 192 ) ( 0 -2080 192 ) ( ( 0 -0.0078099999 0 ) ( -0.0078099999 0 -15.25 ) ) e7/b 0 0 0\r\n',
  '( 0 0 1 -64.5 ) ( ( 0.0078125 0 0 ) ( 0 0.0078125 0 ) ) "textures/common/nodraw" 0 0.5 0\n',
  'patchDef2\n{\n( 3 3 0.30000000000000004 0 0 )\n( ( 704 272.0000305176 1216 0 -7.5833334923 ) )\n}\n',
  '"_color" "1 0.7999999999999999 0.6"\n"angle" "89.9999"\n"message" "Level 2.5"\n',
  `${'1'.repeat(400)}.${'9'.repeat(300)} 0.${'0'.repeat(320)}1 ${'9'.repeat(30)}.99999`,
  '1.5E3 9.9999999e-01 -7.62939e-06 +2.5e1 1.5e-4 4.76837e-007 12.3456 0.125 1.005 -0.001 -0.4 2.5',
];

// A text of random bytes drawn as the scan's random tests draw them.
function randomText(next, length) {
  const alphabet = '0123456789.+-eExXpaf \n\r\t(),"\0' + '0009999';
  let text = '';
  for (let i = 0; i < length; i++) text += alphabet[next() % alphabet.length];
  return text;
}

function seeded(seed) {
  let state = seed >>> 0;
  return () => {
    state = (Math.imul(state, 1664525) + 1013904223) >>> 0;
    return state >>> 8;
  };
}

const bytesOf = (text) => Uint8Array.from(text, (c) => c.charCodeAt(0));

// What the native program writes and reports for `bytes`.
function native(bytes, args) {
  const run = spawnSync(exe, [...args, '-'], { input: bytes, maxBuffer: 1 << 30 });
  assert.equal(run.status, 0, run.stderr.toString());
  const edits = /Edits: (\d+)/.exec(run.stderr.toString());
  return { output: new Uint8Array(run.stdout), edits: Number(edits[1]) };
}

test('the module writes and counts what mapclean - does', { skip: missing }, async () => {
  const { loadMapclean } = await import(pathToFileURL(`${web}/mapclean.js`));
  const mapclean = await loadMapclean(readFileSync(`${web}/mapclean.wasm`));
  const next = seeded(29);
  const texts = [...TEXTS.map(bytesOf)];
  for (let i = 0; i < 60; i++) texts.push(bytesOf(randomText(next, 1 + (next() % 300))));
  if (makeMap && existsSync(makeMap)) {
    for (const [size, noisy] of [[1, 5], [2, 60]]) {
      texts.push(new Uint8Array(spawnSync(makeMap, [String(size), String(noisy)], { maxBuffer: 1 << 30 }).stdout));
    }
  }
  let compared = 0;
  for (const bytes of texts) {
    for (const mode of MODES) {
      const mine = mapclean.clean(bytes, mode.options);
      const theirs = native(bytes, mode.args);
      const what = `mapclean ${mode.args.join(' ')} on ${JSON.stringify(new TextDecoder().decode(bytes.subarray(0, 80)))}`;
      assert.equal(mine.edits, theirs.edits, what);
      assert.ok(Buffer.from(mine.output).equals(Buffer.from(theirs.output)), what);
      compared++;
    }
  }
  assert.ok(compared >= (TEXTS.length + 60) * MODES.length);
});

test('the edit places stand where the edits are', { skip: missing }, async () => {
  const { loadMapclean } = await import(pathToFileURL(`${web}/mapclean.js`));
  const mapclean = await loadMapclean(readFileSync(`${web}/mapclean.wasm`));
  const text = bytesOf('a 1.9999999 b\n\n-0.30000001 2 {300d129e-0153}');
  const cleaned = mapclean.clean(text, {});
  const places = mapclean.editPlaces({}, 10);
  assert.deepEqual(places, [{ from: 2, length: 9, to: 2, toLength: 1 }, { from: 15, length: 11, to: 7, toLength: 4 }]);
  const decode = (bytes, from, length) => new TextDecoder().decode(bytes.subarray(from, from + length));
  assert.equal(decode(cleaned.output, places[1].to, places[1].toLength), '-0.3');
  assert.equal(decode(text, places[1].from, places[1].length), '-0.30000001');
  assert.equal(mapclean.editPlaces({}, 1).length, 1);
  assert.throws(() => mapclean.clean(text, { only: 0x200 }), /invalid/);
});

test('an address asks for exactly what the command line takes, and shows what runs', { skip: missing }, async () => {
  const { optionsFromSearch, commandLine } = await import(pathToFileURL(`${web}/options.js`));
  const { loadMapclean } = await import(pathToFileURL(`${web}/mapclean.js`));
  const mapclean = await loadMapclean(readFileSync(`${web}/mapclean.wasm`));
  const text = bytesOf('0.30000000000000004 ( 1.9999999 2 3 ) ( 4 5 6 ) ( 7 8 9 ) wall 0.5000001 0 0 0 1 1\n');
  for (const only of ['constructor', '__proto__', 'toString', ' planes', 'PLANES', 'planes,', 'offsets,Rotation', 'keys']) {
    const { options, problems } = optionsFromSearch(`?only=${encodeURIComponent(only)}`);
    const run = spawnSync(exe, ['-only', only, '-'], { input: text });
    assert.equal(problems.length === 0, run.status === 0, `only=${only}: ${problems}`);
    if (run.status === 0) assert.deepEqual(mapclean.clean(text, options).output, new Uint8Array(run.stdout), only);
  }
  for (const precision of ['1000', '308', '99999999999', '-5']) {
    const { options } = optionsFromSearch(`?precision=${precision}&stable=0`);
    const shown = commandLine(options).split(' ').slice(1);
    assert.deepEqual(mapclean.clean(text, options).output, native(text, shown).output, commandLine(options));
  }
});

test('the ZIP reads back in unzip, zipinfo and Python: non-ASCII names, ZIP64 records', { skip: missing }, async (t) => {
  const tools = ['unzip', 'zipinfo', 'python3'].filter((tool) => spawnSync('sh', ['-c', `command -v ${tool}`]).status !== 0);
  if (tools.length > 0) return t.skip(`not installed: ${tools.join(', ')}`);
  const { createZip, readZip } = await import(pathToFileURL(`${web}/zip.js`));
  const dir = mkdtempSync(`${tmpdir()}/mapclean-zip-`);
  const run = (command, ...args) => spawnSync(command, args, { cwd: dir, encoding: 'utf8', maxBuffer: 1 << 28 });
  const python = (zip, code) => run('python3', '-c', `import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); ${code}`, zip);
  // Small archives, and 70,000 entries, which need the ZIP64 end records.
  const names = ['room.map', 'pack/ünïcödé-名前.map', 'pack/sub/a b.map'];
  const many = Array.from({ length: 70000 }, (_, i) => `${i}.map`);
  for (const [zip, list, options] of [['maps.zip', names, {}], ['forced.zip', names, { zip64: true }],
    ['many.zip', many, {}]]) {
    const files = list.map((name, i) => ({ name, bytes: bytesOf(`${i} 0.3\n`) }));
    const bytes = Buffer.concat(createZip(files, options));
    writeFileSync(`${dir}/${zip}`, bytes);
    assert.equal(run('unzip', '-tq', zip).status, 0, zip);
    const ends = [0, list.length - 1];
    assert.equal(run('unzip', '-q', zip, ...ends.map((i) => list[i]), '-d', zip.replace('.zip', '')).status, 0, zip);
    for (const i of ends) {
      assert.equal(readFileSync(`${dir}/${zip.replace('.zip', '')}/${list[i]}`, 'latin1'), `${i} 0.3\n`, list[i]);
    }
    assert.equal(python(zip, 'z.testzip() is None or sys.exit(1); print(len(z.namelist()), z.namelist()[-1])').stdout,
      `${list.length} ${list.at(-1)}\n`, zip);
    assert.deepEqual(readZip(bytes).map((file) => file.name), list, zip);
  }
  assert.match(run('zipinfo', 'maps.zip').stdout, /-rw-r--r--.* unx .*ünïcödé-名前\.map/);
  assert.match(run('zipinfo', 'many.zip').stdout, /Zip file size: .*, number of entries: 70000/);
  rmSync(dir, { recursive: true });
});

test('a file is cut at lone CRs too, and a failed file leaves the next one cleaned', { skip: missing }, async () => {
  const { loadMapclean } = await import(pathToFileURL(`${web}/mapclean.js`));
  const { cleanFile } = await import(pathToFileURL(`${web}/clean_file.js`));
  const mapclean = await loadMapclean(readFileSync(`${web}/mapclean.wasm`));
  const line = '( 1.9999999 0.30000000000000004 3 ) ( 4 5 6 ) ( 7 8 9 ) tex 0.5000001 0 0 0 1 1\r';
  // 3.2 MB whose only line ends are CRs; -only reads a line whole, and the
  // program refuses one past 1 MiB: 0.8 MB for it.
  for (const [args, options, pieces, lines] of [[[], {}, 3, 40000], [['-only', 'planes'], { only: 0x001 }, 1, 10000]]) {
    const text = bytesOf(line.repeat(lines));
    let count = 0;
    const result = cleanFile(mapclean, text, options, () => { count += 1; });
    assert.deepEqual(result.output, native(text, args).output, args.join(' '));
    assert.ok(pieces === 1 ? count === 1 : count >= pieces, `${count} pieces with ${args.join(' ')}`);
  }

  // A module that fails (memory runs out) on one file: that file says so,
  // the module is made afresh, and the next file is cleaned.
  let failures = 1;
  let resets = 0;
  const failing = {
    pieceLength: (bytes, options) => mapclean.pieceLength(bytes, options),
    clean: (bytes, options) => {
      if (failures-- > 0) throw new WebAssembly.RuntimeError('memory access out of bounds');
      return mapclean.clean(bytes, options);
    },
    editPlaces: (options, limit) => mapclean.editPlaces(options, limit),
    reset: () => { resets += 1; },
  };
  assert.match(cleanFile(failing, bytesOf('a 1.9999999\n'), {}, () => {}).error, /^out of memory/);
  assert.equal(resets, 1);
  assert.deepEqual(cleanFile(failing, bytesOf('a 1.9999999\n'), {}, () => {}).output, bytesOf('a 2\n'));
});
