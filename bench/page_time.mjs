// The page's time for a generated map against the native program's:
//   node bench/page_time.mjs [SIZE_MB] [NOISY_PERCENT]
// or for many small maps picked at once (each a copy of samples/noisy.map):
//   node bench/page_time.mjs --files COUNT
// after `cmake --workflow --preset wasm` and `npm ci` in web/. The page is
// served from 127.0.0.1 and driven in the system's Chromium; its time runs
// from the pick to "Done" (reading, cleaning in the worker, the ZIP); the
// program's, of `mapclean -s` on a copy of the files.
import { spawnSync } from 'node:child_process';
import { copyFileSync, mkdirSync, mkdtempSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { basename, join } from 'node:path';
import { fileURLToPath } from 'node:url';

import { launch, serve } from '../web/test/browser.mjs';

const root = fileURLToPath(new URL('..', import.meta.url));
const web = join(root, 'build/wasm/web');
const native = join(root, 'build/wasm/native');
const many = process.argv[2] === '--files' ? Number(process.argv[3]) : 0;
const [size = '64', noisy = '5'] = many ? [] : process.argv.slice(2);
const puppeteer = createRequire(join(root, 'web/package.json'))('puppeteer-core');

const work = mkdtempSync(join(tmpdir(), 'mapclean-page-time-'));
const maps = [];
if (many) {
  mkdirSync(join(work, 'maps'));
  for (let i = 0; i < many; i++) {
    maps.push(join(work, 'maps', `${String(i).padStart(6, '0')}.map`));
    copyFileSync(join(root, 'samples/noisy.map'), maps[i]);
  }
} else {
  maps.push(join(work, 'generated.map'));
  writeFileSync(maps[0], spawnSync(join(native, 'bench/make_map'), [size, noisy], { maxBuffer: 2 ** 31 }).stdout);
}

const mapBytes = statSync(maps[0]).size;

// The program on a copy of the files, as a user runs it: mapclean -s.
const copies = join(work, 'copies');
mkdirSync(copies);
for (const map of maps) copyFileSync(map, join(copies, basename(map)));
const nativeStart = process.hrtime.bigint();
spawnSync(join(native, 'mapclean'), ['-s', '-quiet', copies]);
const nativeSeconds = Number(process.hrtime.bigint() - nativeStart) / 1e9;

const { server, origin } = await serve(web);
const browser = await launch(puppeteer, process.env.CHROMIUM || '/usr/bin/chromium', join(work, 'profile'));
const page = await browser.newPage();
await page.goto(`${origin}/`);
const start = Date.now();
await (await page.$('#files')).uploadFile(...maps);
await page.waitForFunction(() => document.getElementById('status').textContent.startsWith('Done'), { timeout: 600000, polling: 20 });
const pageSeconds = (Date.now() - start) / 1000;
const facts = await page.$eval('#results .facts', (element) => element.textContent);
await browser.close();
server.close();
rmSync(work, { recursive: true, force: true });
const what = many ? `${many} maps of ${mapBytes} bytes` : `${size} MiB map, ${noisy}% noisy lines`;
console.log(`${what}: page ${pageSeconds.toFixed(2)} s (${facts.split(' · ')[0]}), native mapclean -s ${nativeSeconds.toFixed(3)} s`);
