#!/usr/bin/env node
// Makes the npm package of one build's program, @mapclean/BUILD: the
// program alone, of the main package's version, with `os` and `cpu` set
// (a static program needs no `libc`), packed into DEST.
//   node scripts/npm-platform.mjs BUILD PROGRAM DEST
// Prints the tarball's path.
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';

const BUILDS = {
  'linux-x64': { os: 'linux', cpu: 'x64', file: 'mapclean', name: 'Linux x64' },
  'linux-arm64': { os: 'linux', cpu: 'arm64', file: 'mapclean', name: 'Linux arm64' },
  'win32-x64': { os: 'win32', cpu: 'x64', file: 'mapclean.exe', name: 'Windows x64' },
};

const [build, program, dest] = process.argv.slice(2);
if (!BUILDS[build] || !program || !dest) {
  process.stderr.write(`usage: npm-platform.mjs ${Object.keys(BUILDS).join('|')} PROGRAM DEST\n`);
  process.exit(2);
}
const { os: system, cpu, file, name } = BUILDS[build];
const root = path.resolve(path.dirname(new URL(import.meta.url).pathname), '..');
const main = JSON.parse(fs.readFileSync(`${root}/package.json`, 'utf8'));

const stage = fs.mkdtempSync(`${os.tmpdir()}/mapclean-${build}-`);
try {
  fs.mkdirSync(`${stage}/bin`);
  fs.copyFileSync(program, `${stage}/bin/${file}`);
  fs.chmodSync(`${stage}/bin/${file}`, 0o755);
  fs.copyFileSync(`${root}/LICENSE`, `${stage}/LICENSE`);
  fs.writeFileSync(`${stage}/README.md`, `# ${packageName()}\n\nThe mapclean program built for ${name}, which the \`mapclean\` package runs `
    + 'where it is installed. Install `mapclean`, not this package.\n');
  const manifest = {
    name: packageName(), version: main.version, description: `The mapclean program for ${name}`,
    license: main.license, os: [system], cpu: [cpu], files: [`bin/${file}`], preferUnplugged: true,
  };
  fs.writeFileSync(`${stage}/package.json`, `${JSON.stringify(manifest, null, 2)}\n`);
  const pack = spawnSync('npm', ['pack', '--json', '--loglevel=error', '--pack-destination', path.resolve(dest)],
    { cwd: stage, encoding: 'utf8', shell: process.platform === 'win32' });
  if (pack.status !== 0) {
    process.stderr.write(pack.stderr);
    process.exit(1);
  }
  process.stdout.write(`${path.resolve(dest, JSON.parse(pack.stdout)[0].filename)}\n`);
} finally {
  fs.rmSync(stage, { recursive: true, force: true });
}

function packageName() { return `@mapclean/${build}`; }
