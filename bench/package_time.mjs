// The npm package's command against the native program, start-up included:
//   node bench/package_time.mjs [MAP ...]
// after `cmake --workflow --preset wasm` (the native program in
// build/wasm/native). Packs the package and, on Linux x64, a platform
// package of that program, installs both into a temporary folder, and times
// `-check` and `-check -stable` on each map (by default samples/noisy.map)
// through the command as installed (which runs the program) and with
// MAPCLEAN_WASM=1 (the WebAssembly command), the median of 61 runs each, and
// Node's own start-up (an empty CommonJS script, as the command is), which
// every run of the command pays.
import { spawnSync } from 'node:child_process';
import { mkdtempSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { fileURLToPath } from 'node:url';

const root = fileURLToPath(new URL('..', import.meta.url));
const native = `${root}build/wasm/native/mapclean`;
const maps = process.argv.length > 2 ? process.argv.slice(2) : [`${root}samples/noisy.map`];

const work = mkdtempSync(`${tmpdir()}/mapclean-bench-`);
const sh = (command, args, options = {}) => {
  const run = spawnSync(command, args, { encoding: 'utf8', ...options });
  if (run.status !== 0) throw new Error(`${command} ${args.join(' ')}: ${run.stderr}`);
  return run.stdout.trim();
};
const tarballs = [`${work}/${JSON.parse(sh('npm', ['pack', '--json', '--pack-destination', work], { cwd: root }))[0].filename}`];
const withProgram = `${process.platform}-${process.arch}` === 'linux-x64';
if (withProgram) tarballs.push(sh('node', [`${root}scripts/npm-platform.mjs`, 'linux-x64', native, work]));
sh('npm', ['install', '-g', '--offline', '--prefix', `${work}/prefix`, ...tarballs]);
const command = `${work}/prefix/bin/mapclean`;

// The median time of each run in `runs` ([command, args, env]), taken in
// turns so that a change in the machine's load reaches each alike.
function medians(runs) {
  const times = runs.map(() => []);
  for (let i = 0; i < 61; i++) {
    runs.forEach(([command, args, env], n) => {
      const start = process.hrtime.bigint();
      const run = spawnSync(command, args, { stdio: 'ignore', env: env ?? process.env });
      times[n].push(Number(process.hrtime.bigint() - start) / 1e6);
      if (run.status === null || run.status > 1) throw new Error(`${command} ${args.join(' ')}: ${run.status ?? run.signal}`);
    });
  }
  return times.map((list) => list.sort((x, y) => x - y)[30]);
}

try {
  writeFileSync(`${work}/empty.cjs`, '');
  console.log(`Node ${process.version}`);
  console.log('| map | options | program | Node\'s start-up | the command, running it | its time over the program\'s and Node\'s start-up '
    + '| the WebAssembly command | its ratio after Node\'s start-up |');
  console.log('|---|---|---|---|---|---|---|---|');
  for (const map of maps) {
    for (const options of [['-check'], ['-check', '-stable']]) {
      const args = [...options, map];
      const runs = [[native, args], [process.execPath, [`${work}/empty.cjs`]], [command, args, { ...process.env, MAPCLEAN_WASM: '1' }]];
      if (withProgram) runs.push([command, args]);
      const [program, startUp, wasm, launched] = medians(runs);
      const size = `${(statSync(map).size / 1e6).toFixed(2)} MB`;
      const over = withProgram ? `${launched.toFixed(0)} ms | ${(100 * (launched / (program + startUp) - 1)).toFixed(0)}%` : '– | –';
      console.log(`| ${map.split('/').pop()} (${size}) | ${options.join(' ')} | ${program.toFixed(0)} ms | ${startUp.toFixed(0)} ms `
        + `| ${over} | ${wasm.toFixed(0)} ms | ${((wasm - startUp) / program).toFixed(1)} |`);
    }
  }
} finally {
  rmSync(work, { recursive: true, force: true });
}
