// The npm package's command against the native program, start-up included:
//   node bench/package_time.mjs [MAP ...]
// after `cmake --workflow --preset wasm` (the native program in
// build/wasm/native). Times `-check` and `-check -stable` on each map (by
// default samples/noisy.map), the median of 11 runs each, and Node's own
// start-up (`node -e ''`), which every run of the package pays.
import { spawnSync } from 'node:child_process';
import { statSync } from 'node:fs';
import { fileURLToPath } from 'node:url';

const root = fileURLToPath(new URL('..', import.meta.url));
const packaged = [process.execPath, `${root}node/main.mjs`];
const native = [`${root}build/wasm/native/mapclean`];
const maps = process.argv.length > 2 ? process.argv.slice(2) : [`${root}samples/noisy.map`];

function median(command) {
  const times = [];
  for (let i = 0; i < 11; i++) {
    const start = process.hrtime.bigint();
    const run = spawnSync(command[0], command.slice(1), { stdio: 'ignore' });
    times.push(Number(process.hrtime.bigint() - start) / 1e6);
    if (run.status === null || run.status > 1) throw new Error(`${command.join(' ')}: ${run.status ?? run.signal}`);
  }
  return times.sort((a, b) => a - b)[5];
}

const startUp = median([process.execPath, '-e', '']);
console.log(`node -e '': ${startUp.toFixed(0)} ms (Node ${process.version})`);
console.log('| map | options | package | program | ratio | ratio after Node\'s start-up |');
console.log('|---|---|---|---|---|---|');
for (const map of maps) {
  for (const options of [['-check'], ['-check', '-stable']]) {
    const mine = median([...packaged, ...options, map]);
    const theirs = median([...native, ...options, map]);
    const size = `${(statSync(map).size / 1e6).toFixed(2)} MB`;
    console.log(`| ${map.split('/').pop()} (${size}) | ${options.join(' ')} | ${mine.toFixed(0)} ms | ${theirs.toFixed(0)} ms `
      + `| ${(mine / theirs).toFixed(1)} | ${((mine - startUp) / theirs).toFixed(1)} |`);
  }
}
