// The release's version: set in one place, the library header's
// MAPCLEAN_VERSION_MAJOR/MINOR/PATCH (which CMake, and so the program, the
// library, the Debian package, the page and the WebAssembly module read),
// and checked everywhere else it is written down: the npm package and the
// platform packages it names, the manual, the README's recipes (npx lines,
// the action's and pre-commit's tags, file names) and CHANGELOG.md's latest
// release. The action installs the package.json's version.
//   node scripts/version.mjs                 prints the version
//   node scripts/version.mjs --check [--tag vX.Y.Z]
//                                            fails, naming each place that differs
//   node scripts/version.mjs X.Y.Z           writes X.Y.Z everywhere (not CHANGELOG.md)
import { readFileSync, writeFileSync } from 'node:fs';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const root = join(dirname(fileURLToPath(import.meta.url)), '..');
const read = (file) => readFileSync(join(root, file), 'utf8');
const write = (file, text) => writeFileSync(join(root, file), text);
const V = String.raw`(\d+\.\d+\.\d+)`;

const headerFile = 'include/mapclean/mapclean.h';
function headerVersion() {
  const header = read(headerFile);
  const part = (name) => header.match(new RegExp(`^#define MAPCLEAN_VERSION_${name} (\\d+)$`, 'm'))?.[1];
  return { version: ['MAJOR', 'MINOR', 'PATCH'].map(part).join('.'),
    string: header.match(/^#define MAPCLEAN_VERSION_STRING "([^"]*)"$/m)?.[1] };
}

// Every place besides the header, as [file, pattern]; each match's first
// group is a version written there.
const places = [
  ['docs/mapclean.1', new RegExp(`^\\.TH .*"mapclean ${V}"`, 'gm')],
  ['README.md', new RegExp(`(?:mapclean[@_ -]|mapclean-linux-x64-|mapclean-windows-x86_64-|@v|rev: v)${V}`, 'g')],
];

function check(tag) {
  const { version, string } = headerVersion();
  const wrong = [];
  if (string !== version) wrong.push(`${headerFile}: MAPCLEAN_VERSION_STRING is ${string}, the parts ${version}`);
  const npm = JSON.parse(read('package.json'));
  if (npm.version !== version) wrong.push(`package.json: version ${npm.version}`);
  for (const [name, pinned] of Object.entries(npm.optionalDependencies ?? {})) {
    if (pinned !== version) wrong.push(`package.json: ${name} ${pinned}`);
  }
  for (const [file, pattern] of places) {
    const text = read(file);
    const found = [...text.matchAll(pattern)];
    if (found.length === 0) wrong.push(`${file}: no version`);
    for (const match of found) {
      if (match[1] !== version) {
        wrong.push(`${file}:${text.slice(0, match.index).split('\n').length}: ${match[0]}`);
      }
    }
  }
  const released = read('CHANGELOG.md').match(new RegExp(`^## \\[${V}\\]`, 'm'));
  if (released?.[1] !== version) wrong.push(`CHANGELOG.md: the latest release is ${released?.[1]}`);
  if (tag !== undefined && tag !== `v${version}`) wrong.push(`the tag ${tag}`);
  if (wrong.length > 0) {
    console.error(`version ${version} (${headerFile}) differs:\n  ${wrong.join('\n  ')}`);
    process.exit(1);
  }
  console.log(`version ${version}: the same in every place`);
}

function set(version) {
  const old = headerVersion().version;
  const [major, minor, patch] = version.split('.');
  write(headerFile, read(headerFile)
    .replace(/^(#define MAPCLEAN_VERSION_MAJOR )\d+$/m, `$1${major}`)
    .replace(/^(#define MAPCLEAN_VERSION_MINOR )\d+$/m, `$1${minor}`)
    .replace(/^(#define MAPCLEAN_VERSION_PATCH )\d+$/m, `$1${patch}`)
    .replace(/^(#define MAPCLEAN_VERSION_STRING )"[^"]*"$/m, `$1"${version}"`));
  const npm = JSON.parse(read('package.json'));
  npm.version = version;
  for (const name of Object.keys(npm.optionalDependencies ?? {})) npm.optionalDependencies[name] = version;
  write('package.json', `${JSON.stringify(npm, null, 2)}\n`);
  for (const [file, pattern] of places) {
    write(file, read(file).replace(pattern, (whole, found) => (found === old ? whole.replace(old, version) : whole)));
  }
  console.log(`version ${old} -> ${version}; CHANGELOG.md takes its heading by hand`);
}

const args = process.argv.slice(2);
if (args.length === 0) {
  console.log(headerVersion().version);
} else if (args[0] === '--check') {
  check(args[1] === '--tag' ? args[2] ?? '' : undefined);
} else if (/^\d+\.\d+\.\d+$/.test(args[0]) && args.length === 1) {
  set(args[0]);
} else {
  console.error('usage: node scripts/version.mjs [--check [--tag vX.Y.Z] | X.Y.Z]');
  process.exit(2);
}
