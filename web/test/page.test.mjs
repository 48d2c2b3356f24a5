// The page in a real headless Chromium (the system's, driven by
// puppeteer-core), served from 127.0.0.1: maps picked and a folder dropped,
// in automatic mode and at 2 decimals for offsets and rotation; the counts
// it shows are the program's report's, the files and the ZIP it offers are
// byte for byte what `mapclean -s` writes, it asks nothing of any other
// server, and a 20 MB map is cleaned while the page stays responsive.
// Run through ctest in the wasm build (MAPCLEAN_WEB, MAPCLEAN_EXE,
// MAPCLEAN_MAKE_MAP, MAPCLEAN_SCREENSHOT); CHROMIUM names another browser.
import assert from 'node:assert/strict';
import { createHash } from 'node:crypto';
import { spawnSync } from 'node:child_process';
import { cpSync, existsSync, mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync, statSync, utimesSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join, relative } from 'node:path';
import test from 'node:test';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { launch, serve } from './browser.mjs';

const web = process.env.MAPCLEAN_WEB;
const exe = process.env.MAPCLEAN_EXE;
const chromium = process.env.CHROMIUM || '/usr/bin/chromium';
const here = fileURLToPath(new URL('.', import.meta.url));

function loadPuppeteer() {
  try {
    return createRequire(join(here, '..', 'package.json'))('puppeteer-core');
  } catch {
    return null;
  }
}
const puppeteer = loadPuppeteer();
const missing = !web || !existsSync(`${web}/mapclean.wasm`) ? 'MAPCLEAN_WEB names no built page'
  : !exe || !existsSync(exe) ? 'MAPCLEAN_EXE names no native program'
  : !existsSync(chromium) ? `Chromium is not installed (${chromium})`
  : !puppeteer ? 'puppeteer-core is not installed (npm ci in web/)' : false;

// Every file below `folder`, as relative paths with '/'.
function filesBelow(folder) {
  return readdirSync(folder, { recursive: true }).map(String).filter((name) => statSync(join(folder, name)).isFile()).sort();
}

// The program's report for a tree: relative path -> edits.
function reportOf(folder, args) {
  const run = spawnSync(exe, ['-check', '-r', ...args, folder], { maxBuffer: 1 << 30 });
  const edits = new Map();
  for (const match of run.stdout.toString().matchAll(/^File: (.*)  Edits: (\d+)  Time:/gm)) {
    edits.set(relative(folder, match[1]).replaceAll('\\', '/'), Number(match[2]));
  }
  return edits;
}

// A copy of `folder` saved by the program with `args`: relative path -> bytes.
function savedBy(folder, args) {
  const copy = mkdtempSync(join(tmpdir(), 'mapclean-saved-'));
  cpSync(folder, copy, { recursive: true });
  spawnSync(exe, ['-s', '-r', '-quiet', ...args, copy]);
  const files = new Map(filesBelow(copy).map((name) => [name, readFileSync(join(copy, name))]));
  rmSync(copy, { recursive: true, force: true });
  return files;
}

const sha256 = (bytes) => createHash('sha256').update(bytes).digest('hex');

test('the page cleans picked and dropped maps as the program does', { skip: missing, timeout: 600000 }, async (t) => {
  const work = mkdtempSync(join(tmpdir(), 'mapclean-page-'));
  const pack = join(work, 'pack');
  mkdirSync(join(pack, 'sub'), { recursive: true });
  writeFileSync(join(pack, 'a.map'), '( 1.99900001 0 0.5 ) ( 0 1 0 ) ( 0 0 1 ) tex 16.5 -8.25 45.5 0.25 0.5\n"_color" "1 0.7999999999999999 0.6"\n');
  writeFileSync(join(pack, 'sub', 'b.map'), '( 0 0 0 ) ( 1 0 0 ) ( 0 1 0 ) wood [ 5.55e-17 0.2425 -0.9701 31.401 ] [ 0 0 -1 -2.5 ] 89.5 0.25 1\r\n');
  writeFileSync(join(pack, 'sub', 'C.MAP'), '"_tb_linked_group_id" "{300d129e-0153-4b1f-8a2c-4408b0e30f2c}"\n"origin" "0 0 24"\n');
  writeFileSync(join(pack, 'notes.txt'), 'not a map 1.9999999\n');
  // Each map's own time, which its ZIP entry keeps (DOS times count 2 s steps).
  const made = new Date(2024, 4, 6, 7, 8, 10);
  for (const [i, name] of ['a.map', 'sub/b.map', 'sub/C.MAP'].entries()) {
    const when = new Date(made.getTime() + i * 86400000);
    utimesSync(join(pack, name), when, when);
  }
  const dosOf = (name) => {
    const d = statSync(join(pack, name)).mtime;
    return { time: (d.getHours() << 11) | (d.getMinutes() << 5) | (d.getSeconds() >> 1),
      date: ((d.getFullYear() - 1980) << 9) | ((d.getMonth() + 1) << 5) | d.getDate() };
  };
  const noisy = join(work, 'noisy.map');
  cpSync(join(here, '..', '..', 'samples', 'noisy.map'), noisy);
  const binary = join(work, 'binary');
  mkdirSync(binary);
  writeFileSync(join(binary, 'bin.map'), Buffer.from('n 1.9999999\0tail'));

  const { server, origin } = await serve(web);
  const profile = mkdtempSync(join(tmpdir(), 'mapclean-chromium-'));
  const browser = await launch(puppeteer, chromium, profile);
  const requests = [];
  const problems = [];
  try {
    const page = await browser.newPage();
    await page.setViewport({ width: 1280, height: 800 });
    page.on('request', (request) => requests.push(request.url()));
    page.on('pageerror', (error) => problems.push(error.message));
    const { readZip } = await import(pathToFileURL(join(web, 'zip.js')));

    const open = async (search = '') => {
      await page.goto(`${origin}/${search}`, { waitUntil: 'load' });
    };
    const finished = () => page.waitForFunction(() => document.getElementById('status').textContent.startsWith('Done'), { timeout: 300000 });
    const results = () => page.evaluate(() => [...document.querySelectorAll('#results li')].map((item) => {
      const link = item.querySelector('a[download]');
      return { name: item.querySelector('.file').textContent, facts: item.querySelector('.facts').textContent,
        download: link?.getAttribute('download'), href: link?.href };
    }));
    const bytesAt = async (href) => Buffer.from(await page.evaluate(async (url) => {
      const bytes = new Uint8Array(await (await fetch(url)).arrayBuffer());
      let text = '';
      for (let i = 0; i < bytes.length; i += 0x8000) text += String.fromCharCode(...bytes.subarray(i, i + 0x8000));
      return btoa(text);
    }, href), 'base64');
    const dropFolder = async (folder) => {
      // The last run's "Done" must not pass for this one's: the drop is read
      // before its run starts.
      await page.$eval('#status', (status) => { status.textContent = ''; });
      const box = await (await page.$('#drop')).boundingBox();
      const client = await page.createCDPSession();
      const data = { items: [], files: [folder], dragOperationsMask: 1 };
      for (const type of ['dragEnter', 'dragOver', 'drop']) {
        await client.send('Input.dispatchDragEvent', { type, x: box.x + box.width / 2, y: box.y + box.height / 2, data });
      }
    };
    // Checks the shown counts, downloads and ZIP against the program's.
    const checkFolder = async (args, expectedNames) => {
      const report = reportOf(pack, args);
      const saved = savedBy(pack, args);
      const shown = await results();
      assert.deepEqual(shown.map((r) => r.name), expectedNames, 'in path order');
      const changed = [...saved].filter(([name, bytes]) => !bytes.equals(readFileSync(join(pack, name)))).length;
      assert.equal(await page.$eval('#status', (status) => status.textContent),
        `Done. 3 files: ${changed} would change, ${3 - changed} unchanged. Your files were not changed: download the cleaned ones below.`);
      for (const result of shown) {
        const path = result.name.replace(/^pack\//, '');
        assert.match(result.facts, new RegExp(`^Edits: ${report.get(path)} `), result.name);
        assert.equal(result.download, result.name.replace(/^.*\//, '').replace(/(\.[^.]*)$/, '.cleaned$1'));
        assert.ok((await bytesAt(result.href)).equals(saved.get(path)), `${result.name} as mapclean -s ${args.join(' ')}`);
      }
      // The ZIP holds the maps that change, in a folder of its own; the box adds the others.
      const zipEntries = async () => readZip(new Uint8Array(await bytesAt(await page.$eval('#all a', (link) => link.href))));
      const changedNames = expectedNames.filter((name) => !saved.get(name.replace(/^pack\//, '')).equals(readFileSync(join(pack, name.replace(/^pack\//, '')))));
      assert.deepEqual((await zipEntries()).map((e) => e.name).sort(), changedNames.map((name) => `cleaned-maps/${name}`));
      if (changedNames.length < expectedNames.length) await page.click('#zip-unchanged');
      const entries = await zipEntries();
      assert.deepEqual(entries.map((e) => e.name).sort(), expectedNames.map((name) => `cleaned-maps/${name}`));
      for (const entry of entries) {
        const path = entry.name.replace(/^cleaned-maps\/pack\//, '');
        assert.ok(Buffer.from(entry.bytes).equals(saved.get(path)), entry.name);
        assert.deepEqual({ time: entry.time, date: entry.date }, dosOf(path), `${entry.name}: its own time`);
      }
    };
    const packNames = ['pack/a.map', 'pack/sub/C.MAP', 'pack/sub/b.map'];

    await t.test('automatic mode, settled by default: a picked map and a dropped folder', async () => {
      await open();
      assert.equal(await page.$eval('#command', (code) => code.textContent), 'mapclean -stable');
      const versionLine = spawnSync(exe, ['--version'], { encoding: 'utf8' }).stdout.trim();
      assert.ok((await page.$eval('footer', (footer) => footer.textContent)).includes(versionLine), 'the version');
      assert.equal(await page.$eval('#reproduce', (code) => code.textContent), 'mapclean -s -stable');
      await (await page.$('#files')).uploadFile(noisy);
      // The status and the first result come into view as the run starts.
      await page.waitForFunction(() => {
        const status = document.getElementById('status');
        const box = status.getBoundingClientRect();
        return status.textContent !== '' && box.top >= 0 && box.bottom <= innerHeight
          && document.getElementById('results').getBoundingClientRect().top < innerHeight;
      }, { timeout: 60000 });
      await finished();
      const [result] = await results();
      const native = spawnSync(exe, ['-stable', '-'], { input: readFileSync(noisy) });
      assert.match(result.facts, new RegExp(`^Edits: ${/Edits: (\d+)/.exec(native.stderr)[1]} · would change`));
      assert.ok((await bytesAt(result.href)).equals(native.stdout));
      await dropFolder(pack);
      await finished();
      await checkFolder(['-stable'], packNames);
    });

    await t.test('at 2 decimals for offsets and rotation, from the address', async () => {
      await open('?precision=2&only=offsets,rotation');
      assert.equal(await page.$eval('#command', (code) => code.textContent), 'mapclean -p 2 -only offsets,rotation -stable');
      assert.equal(await page.$eval('#reproduce', (code) => code.textContent), 'mapclean -s -p 2 -only offsets,rotation -stable');
      await (await page.$('#files')).uploadFile(noisy);
      await finished();
      const [result] = await results();
      const native = spawnSync(exe, ['-p', '2', '-only', 'offsets,rotation', '-stable', '-'], { input: readFileSync(noisy) });
      assert.match(result.facts, new RegExp(`^Edits: ${/Edits: (\d+)/.exec(native.stderr)[1]} `));
      assert.ok((await bytesAt(result.href)).equals(native.stdout));
      await dropFolder(pack);
      await finished();
      await checkFolder(['-p', '2', '-only', 'offsets,rotation', '-stable'], packNames);
      await page.$eval('#results details', (details) => { details.open = true; });
      // The diff is made when it is first opened.
      await page.waitForSelector('#results details pre.diff');
      await page.screenshot({ path: process.env.MAPCLEAN_SCREENSHOT || join(work, 'page.png'), fullPage: true });
    });

    await t.test('a dropped folder\'s settings files give each map its settings, as the program\'s', async () => {
      const set = join(work, 'set');
      mkdirSync(join(set, 'q3'), { recursive: true });
      mkdirSync(join(set, 'linker'));
      writeFileSync(join(set, '.mapclean.toml'), 'precision = 1\nexclude = ["linker"]\n[[overrides]]\nfiles = ["q3/**"]\nprecision = 0\n');
      for (const name of ['a.map', 'q3/b.map', 'linker/c.map']) writeFileSync(join(set, name), readFileSync(join(pack, 'a.map')));
      await open();
      await dropFolder(set);
      await finished();
      const saved = savedBy(set, ['-stable']);
      const shown = await results();
      assert.deepEqual(shown.map((r) => [r.name, r.facts.startsWith('left out') ? r.facts : 'cleaned']),
        [['set/a.map', 'cleaned'], ['set/linker/c.map', 'left out by set/.mapclean.toml'], ['set/q3/b.map', 'cleaned']]);
      for (const result of shown.filter((r) => r.href)) {
        assert.ok((await bytesAt(result.href)).equals(saved.get(result.name.replace(/^set\//, ''))), result.name);
      }
      assert.match(await page.$eval('#status', (status) => status.textContent),
        /^Done\. 3 files: 2 would change, 0 unchanged, 1 left out by their settings\. .* Settings applied from set\/\.mapclean\.toml\./);
      // The controls start from the file: a map in its folder gets precision 1.
      assert.equal(await page.$eval('#command', (code) => code.textContent), 'mapclean -p 1 -stable');
    });

    await t.test('the form is read as the command line reads its options', async () => {
      await open('?stable=0');
      assert.equal(await page.$eval('#stable', (box) => box.checked), false);
      assert.equal(await page.$eval('#command', (code) => code.textContent), 'mapclean');
      await (await page.$('#files')).uploadFile(noisy);
      await finished();
      const warned = () => page.$eval('#round-warning', (warning) => !warning.hidden);
      assert.equal(await warned(), false);
      await page.click('input[name=mode][value=round]');
      assert.equal(await warned(), true, 'rounding every field is warned of');
      await page.click('input[name=only][value=offsets]');
      assert.equal(await warned(), false);
      const decimals = (text) => page.$eval('#precision', (field, value) => {
        field.value = value;
        field.dispatchEvent(new Event('change', { bubbles: true }));
        return document.getElementById('status').textContent;
      }, text);
      // No run starts (its status would say "Cleaning"): the status says why.
      assert.equal(await decimals(''), 'Give the number of decimals to round to (a whole number).');
      assert.match(await decimals('-3'), /^Cleaning 1 file/);  // negative: automatic mode
      assert.equal(await page.$eval('#command', (code) => code.textContent), 'mapclean -only offsets');
      await finished();
      const [result] = await results();
      const native = spawnSync(exe, ['-only', 'offsets', '-'], { input: readFileSync(noisy) });
      assert.ok((await bytesAt(result.href)).equals(native.stdout));
    });

    await t.test('a file that is not text says so', async () => {
      await open();
      await (await page.$('#files')).uploadFile(join(binary, 'bin.map'));
      await finished();
      const [result] = await results();
      assert.match(result.facts, /^Error: not a text file/);
    });

    await t.test('a 20 MB map, with the page responsive', async () => {
      const big = join(work, 'big.map');
      writeFileSync(big, spawnSync(process.env.MAPCLEAN_MAKE_MAP, ['20', '5'], { maxBuffer: 1 << 30 }).stdout);
      await open();
      // Every value the bar is given is recorded, so the count does not
      // depend on how often a loaded machine lets a poll look.
      await page.evaluate(() => {
        const bar = document.getElementById('progress');
        const { get, set } = Object.getOwnPropertyDescriptor(HTMLProgressElement.prototype, 'value');
        window.progressSeen = new Set();
        Object.defineProperty(bar, 'value', { get() { return get.call(this); },
          set(value) { set.call(this, value); if (value > 0 && value < this.max) window.progressSeen.add(value); } });
      });
      await (await page.$('#files')).uploadFile(big);
      // How long the page takes to answer is a figure (bench/page_time.mjs
      // records it), not a pass or fail: it depends on the machine's load.
      let slowest = 0;
      for (let done = false; !done;) {
        const asked = Date.now();
        done = await page.evaluate(() => document.getElementById('status').textContent.startsWith('Done'));
        slowest = Math.max(slowest, Date.now() - asked);
        if (!done) await new Promise((resolve) => setTimeout(resolve, 20));
      }
      t.diagnostic(`the page answered every look within ${slowest} ms`);
      const seen = await page.evaluate(() => window.progressSeen.size);
      assert.ok(seen >= 3, `the progress bar moved through ${seen} values`);
      const [result] = await results();
      const native = spawnSync(exe, ['-'], { input: readFileSync(big), maxBuffer: 1 << 30 });
      assert.match(result.facts, new RegExp(`^Edits: ${/Edits: (\d+)/.exec(native.stderr)[1]} `));
      const digest = await page.evaluate(async (url) => {
        const hash = await crypto.subtle.digest('SHA-256', await (await fetch(url)).arrayBuffer());
        return [...new Uint8Array(hash)].map((b) => b.toString(16).padStart(2, '0')).join('');
      }, result.href);
      assert.equal(digest, sha256(native.stdout));
    });

    const outside = requests.filter((url) => !url.startsWith(`${origin}/`) && !url.startsWith('blob:') && !url.startsWith('data:'));
    assert.deepEqual(outside, [], 'every request went to the page\'s own server');
    assert.deepEqual(problems, []);
  } finally {
    await browser.close();
    server.close();
    rmSync(profile, { recursive: true, force: true });
    rmSync(work, { recursive: true, force: true });
  }
});
