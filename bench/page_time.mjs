// The page's time for a generated map against the native program's:
//   node bench/page_time.mjs [SIZE_MB] [NOISY_PERCENT]
// after `cmake --workflow --preset wasm` and `npm ci` in web/. The page is
// served from 127.0.0.1 and driven in the system's Chromium; its time runs
// from the pick to "Done" (reading, cleaning in the worker, the ZIP); the
// program's, of `mapclean -s` on a copy of the file.
import { spawnSync } from 'node:child_process';
import { copyFileSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { fileURLToPath } from 'node:url';

import { launch, serve } from '../web/test/browser.mjs';

const root = fileURLToPath(new URL('..', import.meta.url));
const web = join(root, 'build/wasm/web');
const native = join(root, 'build/wasm/native');
const [size = '64', noisy = '5'] = process.argv.slice(2);
const puppeteer = createRequire(join(root, 'web/package.json'))('puppeteer-core');

const work = mkdtempSync(join(tmpdir(), 'mapclean-page-time-'));
const map = join(work, 'generated.map');
writeFileSync(map, spawnSync(join(native, 'bench/make_map'), [size, noisy], { maxBuffer: 2 ** 31 }).stdout);

// The program on a copy of the file, as a user runs it: mapclean -s.
const copy = join(work, 'copy.map');
copyFileSync(map, copy);
const nativeStart = process.hrtime.bigint();
spawnSync(join(native, 'mapclean'), ['-s', '-quiet', copy]);
const nativeSeconds = Number(process.hrtime.bigint() - nativeStart) / 1e9;

const { server, origin } = await serve(web);
const browser = await launch(puppeteer, process.env.CHROMIUM || '/usr/bin/chromium', join(work, 'profile'));
const page = await browser.newPage();
await page.goto(`${origin}/`);
const start = Date.now();
await (await page.$('#files')).uploadFile(map);
await page.waitForFunction(() => document.getElementById('status').textContent.startsWith('Done'), { timeout: 600000, polling: 20 });
const pageSeconds = (Date.now() - start) / 1000;
const facts = await page.$eval('#results .facts', (element) => element.textContent);
await browser.close();
server.close();
rmSync(work, { recursive: true, force: true });
console.log(`${size} MiB map, ${noisy}% noisy lines: page ${pageSeconds.toFixed(2)} s (${facts.split(' · ')[0]}), ` +
  `native mapclean -s ${nativeSeconds.toFixed(3)} s`);
