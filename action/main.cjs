// The GitHub Action: installs the mapclean npm package of this action's own
// version (the program of the runner's platform, or the WebAssembly command
// where none fits), runs it on the workspace, and turns a check into what
// GitHub shows: at most ten warning annotations (GitHub drops the rest of a
// step's silently), one notice for the files left unannotated, and a step
// summary with the diff. The step's status is the program's: 0, 1 or 2.
// The runner gives the inputs as INPUT_ARGS and INPUT_PATHS.
'use strict';
const { spawn, spawnSync } = require('node:child_process');
const { randomBytes } = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const version = require('../package.json').version;
const kAnnotations = 10;       // GitHub shows ten warnings of a step
const kSummaryBytes = 1 << 20; // and a step summary of at most 1 MiB
const kDiffBytes = kSummaryBytes - (16 << 10);  // room for the words around the diff

// An input as the runner hands it over.
const input = (name, fallback) => (process.env[`INPUT_${name.toUpperCase()}`] ?? fallback).trim();

// The paths input: one per line where there are several lines, else split at spaces.
function pathList(text) {
  const lines = text.split(/\r?\n/).map((line) => line.trim()).filter(Boolean);
  return lines.length > 1 ? lines : text.split(/\s+/).filter(Boolean);
}

const isOption = (word, ...names) => names.some((name) => new RegExp(`^--?${name}$`, 'i').test(word));
const isCheck = (word) => isOption(word, 'check', 'github');
// Words that choose what a run prints; the diff run for the summary drops them.
const isOutputWord = (word) =>
  isOption(word, 'check', 'github', 'list', 'l', 'diff', 'quiet', 'q', 'brief', 'verbose', 'z', 'null') ||
  /^--color=/i.test(word);

// Installs the package (once per runner) and gives its command's script.
function install() {
  const prefix = path.join(process.env.RUNNER_TEMP || os.tmpdir(), `mapclean-${version}`);
  const launcher = path.join(prefix, 'node_modules', 'mapclean', 'node', 'bin.cjs');
  if (fs.existsSync(launcher)) return launcher;
  const words = ['install', '--prefix', prefix, '--no-save', '--no-package-lock', '--no-audit', '--no-fund',
    '--loglevel=error', `mapclean@${version}`];
  console.log(`::group::Installing mapclean ${version}`);
  // npm is a .cmd script on Windows, which only a shell runs; every word is quoted for it.
  const windows = process.platform === 'win32';
  const installed = windows
    ? spawnSync(`npm.cmd ${words.map((word) => `"${word}"`).join(' ')}`, { shell: true, stdio: 'inherit' })
    : spawnSync('npm', words, { stdio: 'inherit' });
  console.log('::endgroup::');
  if (installed.status !== 0 || !fs.existsSync(launcher)) {
    throw new Error(`npm could not install mapclean@${version} (${installed.error?.message ?? `status ${installed.status}`})`);
  }
  return launcher;
}

// Runs the command with `words` in the workspace; its output is kept up to
// `limit` bytes of stdout (the run is then stopped, and `cut` set).
function run(launcher, words, cwd, limit = Infinity) {
  return new Promise((resolve, reject) => {
    const child = spawn(process.execPath, [launcher, ...words], { cwd, stdio: ['ignore', 'pipe', 'pipe'] });
    const out = [];
    const err = [];
    let outBytes = 0;
    let cut = false;
    child.stdout.on('data', (chunk) => {
      if (cut) return;
      out.push(chunk);
      outBytes += chunk.length;
      if (outBytes > limit) {
        cut = true;
        child.kill();
      }
    });
    child.stderr.on('data', (chunk) => err.push(chunk));
    child.on('error', reject);
    child.on('close', (status, signal) =>
      resolve({ status, signal, cut, out: Buffer.concat(out).toString(), err: Buffer.concat(err).toString() }));
  });
}

// A workflow command's property value, escaped as GitHub reads it.
const escapeProperty = (text) =>
  text.replace(/%/g, '%25').replace(/\r/g, '%0D').replace(/\n/g, '%0A').replace(/:/g, '%3A').replace(/,/g, '%2C');

// The program names a map as it was reached ("./maps/a.map", or an
// absolute path); GitHub wants it relative to the repository's root.
function relativeAnnotation(line, workspace) {
  const root = escapeProperty(workspace.replace(/\\/g, '/').replace(/\/?$/, '/'));
  return line.replace(/^::warning file=([^,]*)/, (whole, file) => {
    let name = file.replace(/\\/g, '/');
    if (name.startsWith(root)) name = name.slice(root.length);
    while (name.startsWith('./')) name = name.slice(2);
    return `::warning file=${name}`;
  });
}

// Text shown in the log where no line of it can be taken for a workflow
// command: a map's name may begin with "::".
function printUninterpreted(text) {
  if (!text) return;
  const token = randomBytes(16).toString('hex');
  process.stdout.write(`::stop-commands::${token}\n${text}${text.endsWith('\n') ? '' : '\n'}::${token}::\n`);
}

// A fenced block that no run of backquotes in `text` can close early.
function fenced(language, text) {
  const longest = Math.max(0, ...(text.match(/`+/g) ?? []).map((run) => run.length));
  const fence = '`'.repeat(Math.max(3, longest + 1));
  return `${fence}${language}\n${text}${text.endsWith('\n') ? '' : '\n'}${fence}\n`;
}

// The diff cut at a line end to fit the summary, and whether it was cut.
function fitted(diff, cut) {
  const bytes = Buffer.from(diff);
  if (!cut && bytes.length <= kDiffBytes) return { text: diff, cut: false };
  const head = bytes.subarray(0, kDiffBytes).toString();
  return { text: head.slice(0, head.lastIndexOf('\n') + 1), cut: true };
}

const command = (words) => `npx mapclean@${version} ${words.join(' ')}`;

async function main() {
  const workspace = process.env.GITHUB_WORKSPACE || process.cwd();
  const args = input('args', '--check --brief --stable --recursive').split(/\s+/).filter(Boolean);
  const paths = pathList(input('paths', '.'));
  const ended = args.includes('--');
  const targets = ended ? paths : ['--', ...paths];
  const check = args.some(isCheck);
  const launcher = install();

  const first = await run(launcher, [...args, ...(check && !args.some((w) => isOption(w, 'github')) ? ['--github'] : []),
    ...targets], workspace);
  const lines = first.out.split('\n');
  if (lines.at(-1) === '') lines.pop();
  const annotations = lines.filter((line) => line.startsWith('::warning file='));
  printUninterpreted(lines.filter((line) => !line.startsWith('::warning file=')).map((line) => `${line}\n`).join('') +
    first.err);
  for (const line of annotations.slice(0, kAnnotations)) console.log(relativeAnnotation(line, workspace));
  if (annotations.length > kAnnotations) {
    const rest = annotations.length - kAnnotations;
    console.log(`::notice title=mapclean::${rest} more ${rest === 1 ? 'file' : 'files'} would change, not annotated ` +
      '(GitHub shows ten warnings a step); the step summary has the diff');
  }
  const status = first.status ?? 2;

  const summary = ['## mapclean\n\n'];
  const counted = first.out.match(/^(\d+) of (\d+) files would change$/m);
  const changed = counted ? Number(counted[1]) : annotations.length;
  const fix = command(['--silent', ...args.filter((word) => !isOutputWord(word)), ...targets]);
  if (!check) {
    summary.push(`\`${command([...args, ...targets])}\` ended with status ${status}; its output is in the log.\n`);
  } else if (status === 1 && changed > 0) {
    summary.push(`**${changed} of ${counted ? counted[2] : 'the'} files would change.** `,
      `To fix them, run \`${fix}\` and commit the maps.\n\n`);
    const diffWords = [...args.filter((word) => !isOutputWord(word)), '--diff', '--color=never', ...targets];
    const second = await run(launcher, diffWords, workspace, kDiffBytes + 1);
    const diff = fitted(second.out, second.cut);
    summary.push(fenced('diff', diff.text));
    if (diff.cut) {
      summary.push(`\nThe diff is cut here: a step summary holds 1 MiB. \`${command(diffWords)}\` prints all of it.\n`);
    }
  } else if (status === 0) {
    summary.push(`No file would change${counted ? `: ${counted[2]} ${counted[2] === '1' ? 'file' : 'files'} checked` : ''}.\n`);
  } else {
    summary.push(`mapclean ended with status ${status}: ${status === 2 ? 'a file or folder could not be read' :
      'see the log'}.\n`);
  }
  if (process.env.GITHUB_STEP_SUMMARY) fs.appendFileSync(process.env.GITHUB_STEP_SUMMARY, summary.join(''));
  process.exitCode = status;
}

main().catch((error) => {
  console.log(`::error title=mapclean::${String(error.message).replace(/%/g, '%25').replace(/\r?\n/g, '%0A')}`);
  process.exitCode = 2;
});
