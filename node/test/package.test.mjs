// The npm package as its users get it: packed, installed with no registry
// reachable, and run against the native program over maps of every kind,
// in every mode that asks nothing (statuses, both streams and every written
// byte compared), interrupted mid-save, and through the real pre-commit.
// Run by ctest in the wasm build, which sets MAPCLEAN_EXE (the native
// program), MAPCLEAN_MAKE_MAP and MAPCLEAN_SOURCE; MAPCLEAN_CORPUS (a folder
// of real maps) adds them to the maps compared.
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import test from 'node:test';

const source = process.env.MAPCLEAN_SOURCE;
const exe = process.env.MAPCLEAN_EXE;
const found = (program) => spawnSync('sh', ['-c', `command -v ${program}`]).status === 0;
const missing = !exe || !fs.existsSync(exe) ? 'MAPCLEAN_EXE names no native program'
  : !found('npm') ? 'npm is not installed' : false;
const work = fs.mkdtempSync(`${os.tmpdir()}/mapclean-npm-`);
// No registry: a closed local port, so anything that would fetch fails.
const offline = { ...process.env, npm_config_registry: 'http://127.0.0.1:9/', npm_config_cache: `${work}/npm-cache`,
  npm_config_audit: 'false', npm_config_fund: 'false', npm_config_update_notifier: 'false', npm_config_fetch_retries: '0' };
const run = (command, args, options = {}) => spawnSync(command, args, { encoding: 'latin1', maxBuffer: 1 << 30, ...options });
const packed = `${work}/prefix/bin/mapclean`;
test.after(() => {
  if (fs.existsSync(`${work}/tree/maps/locked`)) fs.chmodSync(`${work}/tree/maps/locked`, 0o755);
  fs.rmSync(work, { recursive: true, force: true });
});

const NOISY = 'gain 0.30000000000000004\nlimit 1.9999999\n( 1.0000001 -2.5e-08 3 ) tex 0.2999999 0 0\n';
// A tree of maps of every kind the file pass meets: names that need
// quoting or escaping (one not UTF-8, one like an option), line ends, a NUL,
// Quake fields, links inside and outside, a directory named like a map, an
// unreadable file and folder, a subfolder, a folder with a settings file,
// the generated map and the corpus.
function makeTree(root) {
  fs.mkdirSync(`${root}/sub/deeper`, { recursive: true });
  for (const folder of ['set/q3', 'set/skip']) fs.mkdirSync(`${root}/${folder}`, { recursive: true });
  const files = {
    'noisy.map': NOISY, 'crlf.map': 'a\t1.0000001\r\nb 2.50\r\n', 'nul.map': '1.0000001 x\0 2.0000001\n',
    'clean.map': '( 1 2 3 )\n', 'empty.map': '', 'UPPER.MAP': NOISY, 'sp ace.map': NOISY, 'quo"te\\.map': NOISY,
    'new\nline.map': NOISY, '\xff\xfe.map': NOISY, '--color=never.map': NOISY, 'notes.txt': NOISY,
    'quake.map': '( 1088 -1792 -96 ) ( 1088 -1664 -96 ) ( 1088 -1792 -32 ) tech08_1 16.5 -8.25 45.5 0.25 0.5 0 1.5 0\n'
      + '"_color" "1 0.7999999999999999 0.6"\n"angle" "89.9999"\n',
    'sub/deep.map': NOISY, 'sub/deeper/deepest.map': '1.5E3 9.9999999e-01 -7.62939e-06', 'sub/skip.map': NOISY,
    'locked.map': NOISY, 'readonly.map': NOISY, 'locked/inside.map': NOISY,
    'sub/long.map': `${'1 2 3 '.repeat(1 << 18)}\n${NOISY}`,  // a line -only does not read
    'set/.mapclean.toml': 'stable = true\nexclude = ["skip"]\n[[overrides]]\nfiles = ["q3/**"]\nprecision = 1\n',
    'set/a.map': NOISY, 'set/q3/b.map': NOISY, 'set/skip/c.map': NOISY,
    'bad.toml': 'plain = true\nprecision = 2.5\n', 'one.toml': 'precision = 2\n',
  };
  fs.mkdirSync(`${root}/locked`);
  fs.mkdirSync(`${root}/dir.map`);
  for (const [name, text] of Object.entries(files)) fs.writeFileSync(Buffer.from(`${root}/${name}`, 'latin1'), text, 'latin1');
  fs.writeFileSync(`${root}/../outside.map`, NOISY);
  fs.symlinkSync('../outside.map', `${root}/link-out.map`);
  fs.symlinkSync('sub/deep.map', `${root}/link-in.map`);
  fs.symlinkSync('gone', `${root}/dangling.map`);
  if (process.env.MAPCLEAN_MAKE_MAP) {
    fs.writeFileSync(`${root}/sub/generated.map`, run(process.env.MAPCLEAN_MAKE_MAP, ['2', '30'], { encoding: 'buffer' }).stdout);
  }
  if (process.env.MAPCLEAN_CORPUS) fs.cpSync(process.env.MAPCLEAN_CORPUS, `${root}/sub/corpus`, { recursive: true });
  fs.chmodSync(`${root}/readonly.map`, 0o444);
  fs.chmodSync(`${root}/locked.map`, 0);
  fs.chmodSync(`${root}/locked`, 0);
}

// Every entry below `root`: its kind, mode and bytes (a link: its target).
function snapshot(root, into = {}, below = '') {
  for (const name of fs.readdirSync(Buffer.from(root + below, 'latin1'), { encoding: 'buffer' })) {
    const path = `${below}/${name.toString('latin1')}`;
    const full = Buffer.from(root + path, 'latin1');
    const info = fs.lstatSync(full);
    if (info.isSymbolicLink()) into[path] = `link ${fs.readlinkSync(full)}`;
    else if (info.isDirectory()) (into[path] = `dir ${info.mode}`) && info.mode & 0o100 && snapshot(root, into, path);
    else into[path] = `${info.mode} ${info.mode & 0o400 ? fs.readFileSync(full).toString('latin1') : '?'}`;
  }
  return into;
}

// A run in a fresh tree at the same path for both programs: what it
// printed (times aside), its status and the tree it left.
function outcome(command, args, input, env = offline) {
  const root = `${work}/tree/maps`;
  fs.rmSync(`${work}/tree`, { recursive: true, force: true });
  makeTree(root);
  const result = run(command, args.map((arg) => Buffer.from(arg, 'latin1').toString()),
    { cwd: root, input: input ?? '', env });
  const times = (text) => text.replace(/(Time: |processing time: )\d+\.\d{3}/g, '$1T');
  return { status: result.status, stdout: times(result.stdout), stderr: times(result.stderr), tree: snapshot(root) };
}

// The package and, where this is Linux x64, the package of this platform's
// program (made from MAPCLEAN_EXE, as scripts/release makes it), installed
// together with no registry; the command then runs the program, and with
// MAPCLEAN_WASM=1 the WebAssembly command.
let installed;
function installPackages() {
  if (installed) return installed;
  const pack = run('npm', ['pack', '--json', '--pack-destination', work], { cwd: source, env: offline, encoding: 'utf8' });
  assert.equal(pack.status, 0, pack.stderr);
  const [{ filename, files }] = JSON.parse(pack.stdout);
  assert.deepEqual(files.map((file) => file.path).sort(), ['LICENSE', 'README.md', 'node/bin.cjs', 'node/io.cjs',
    'node/main.cjs', 'node/mapclean.wasm', 'node/module.cjs', 'package.json']);
  const tarballs = [`${work}/${filename}`];
  if (native) {
    const platform = run('node', [`${source}/scripts/npm-platform.mjs`, 'linux-x64', exe, work], { env: offline });
    assert.equal(platform.status, 0, platform.stderr);
    tarballs.push(platform.stdout.trim());
  }
  const install = run('npm', ['install', '-g', '--offline', '--prefix', `${work}/prefix`, ...tarballs], { env: offline });
  assert.equal(install.status, 0, install.stderr);
  installed = `${work}/${filename}`;
  return installed;
}
const native = `${process.platform}-${process.arch}` === 'linux-x64';
const manifest = JSON.parse(fs.readFileSync(`${source}/package.json`, 'utf8'));

test('the package: packed, installed offline, same as the program', { skip: missing }, async (t) => {
  const tarball = installPackages();
  assert.deepEqual([manifest.dependencies, manifest.devDependencies, manifest.scripts], [undefined, undefined, undefined]);
  assert.deepEqual(Object.values(manifest.optionalDependencies), [manifest.version, manifest.version, manifest.version]);
  // The WebAssembly command saves only on macOS (where Node keeps a file's
  // ACL), and MAPCLEAN_WASM_SAVES=1 lets it here; it saves no directory run.
  const wasm = { ...offline, MAPCLEAN_WASM: '1', MAPCLEAN_WASM_SAVES: '1' };
  const directorySave = (args) => /^-s|^--silent/i.test(args[0]) && (args.includes('-r') || args.length === 1);
  assert.equal(run(packed, ['--version'], { env: wasm }).stdout, `mapclean ${manifest.version} (WebAssembly)\n`);
  if (native) assert.equal(run(packed, ['--version']).stdout, run(exe, ['--version']).stdout);

  const root = process.getuid?.() === 0;  // root reads and writes every file anyway
  const runs = [
    ['-check', '-r', '.'], ['-check', '-verbose', '-github', '-r', '.'], ['-diff', '-r', '.'],
    ['-diff', '--color=always', '-r', '-exclude', 'sub/corpus'], ['-list', '-r', '.'], ['-list', '-z', '-r', '.'],
    ['-s', '-r'], ['-S', '-ALL', '-QUIET', '-STABLE', '-r', '.'], ['-s', '-verbose', '-p', '2', '-r', '.'],
    ['--silent', '-p', '0', '-only', 'offsets,rotation', '-r', '.'], ['-check', '-only', 'planes,keys', '-r', '.'],
    ['-check', '-plain', '-stable', '-r', '-exclude', 'sub/*', '-exclude', './dir.map', '.'], ['-check', '.', 'sub'],
    ['-list', '-stable', '--', '--color=never.map', 'noisy.map', 'missing.map', 'dir.map', 'link-out.map', 'sub'],
    ['-s', '-quiet', '--color=never.map', 'sp ace.map', 'readonly.map', 'link-in.map'], ['-check', 'notes.txt', 'locked.map'],
    ['-check', 'locked'], ['-check', 'sub/deeper/'], ['-diff', 'nul.map', 'crlf.map', 'empty.map'],
    ['--check', '--brief', '-r', '.'],
    ['-check', '-r', 'set'], ['-diff', 'set/a.map', 'set/q3/b.map', 'set/skip/c.map'], ['-show-settings', 'set'],
    ['-p', '3', '-show-settings', 'set/skip/c.map'], ['-config', 'bad.toml', '-check', 'noisy.map'],
    ['-config', 'one.toml', '-diff', '-r', 'set'], ['-no-config', '-list', '-r', 'set'],
    ['-check', 'empty-dir-none'], ['-x'], ['-p', 'abc'], ['-p'], ['-only', 'walls'], ['-only'], ['-z', '-check'],
    ['-', '-'], ['--color=sometimes'], ['-exclude'], ['-h'], ['-check', '-q', '-r', 'locked', 'sub'],
  ];
  const filter = [['-'], ['-check', '-'], ['-diff', '-'], ['-s', '-verbose', '-'], ['-p', '3', '-stable', '-'],
    ['-list', '-'], ['-check', '-github', '-', 'noisy.map'], ['-stdin-filename', 'set/q3/b.map', '-'],
    ['-stdin-filename', 'set/skip/c.map', '-']];
  const commands = native ? [['the program', offline], ['the WebAssembly command', wasm]] : [['the WebAssembly command', wasm]];
  for (const args of [...runs, ...filter]) {
    const input = filter.includes(args) ? NOISY + 'x 1e-07\r\n\0 2.0000001' : '';
    const expected = outcome(exe, args, input);
    for (const [name, env] of commands) {
      if (env === wasm && directorySave(args)) {
        const refused = outcome(packed, args, input, env);
        assert.equal(refused.status, 1, `${name}: mapclean ${args.join(' ')}`);
        assert.match(refused.stderr, /^Error: mapclean from npm saves no directory run with Node/);
        assert.deepEqual(refused.tree, outcome(exe, ['-check', '-q', '-r'], '').tree);
        continue;
      }
      assert.deepEqual(outcome(packed, args, input, env), expected, `${name}: mapclean ${args.join(' ')}`);
    }
  }
  t.diagnostic(`${runs.length + filter.length} runs compared through ${commands.map(([name]) => name).join(' and ')}`
    + `${root ? ' (as root: every file readable; the refusals below as nobody)' : ''}`
    + `${process.env.MAPCLEAN_CORPUS ? ', the corpus among the maps' : ', no corpus (MAPCLEAN_CORPUS unset)'}`);

  // As root every file reads: the refusals are compared as an ordinary user.
  if (root && found('runuser') && run('id', ['-u', 'nobody']).status === 0) {
    fs.chmodSync(work, 0o755);
    fs.copyFileSync(exe, `${work}/native`);
    for (const args of [['-check', 'locked.map', 'noisy.map'], ['-check', '-r', 'locked', 'sub'], ['-s', '-r', '.'],
      ['-list', '-r', '.']]) {
      const as = (program, env) => outcome('runuser', ['-u', 'nobody', '--', program, ...args], '', env);
      const expected = as(`${work}/native`);
      assert.match(expected.stderr, /Permission denied/);
      for (const [name, env] of commands) {
        if (!(env === wasm && directorySave(args))) assert.deepEqual(as(packed, env), expected, `${name}: mapclean ${args.join(' ')}, as nobody`);
      }
    }
  }

  // npx runs the same command from the tarball, with no registry either.
  const npx = outcome('npx', ['--yes', `--package=${tarball}`, '--', 'mapclean', '-check', '-github', '-stable',
    '-r', '--', '.']);
  assert.deepEqual(npx, outcome(exe, ['-check', '-github', '-stable', '-r', '--', '.']));

  // A reader that stops early ends the run as it ends the program (SIGPIPE).
  // How far each got before the reader left depends on timing: only how it
  // ended is compared.
  const piped = (program, env) => outcome('sh', ['-c', `("$0" -diff -r .; echo "status $?" >&2) | head -c 10`, program],
    '', env).stderr.split('\n').at(-2);
  if (process.env.MAPCLEAN_MAKE_MAP) {  // a diff far longer than a pipe holds
    for (const [name, env] of commands) assert.equal(piped(packed, env), piped(exe), name);
  }

  // A run that would ask: the program asks (and, at the end of input,
  // saves nothing); the WebAssembly command refuses it, touching nothing,
  // and where it cannot see ACLs it refuses any save.
  if (native) assert.deepEqual(outcome(packed, ['noisy.map']), outcome(exe, ['noisy.map']));
  const refusals = [[['noisy.map'], wasm, /^Error: mapclean from npm asks nothing/]];
  if (process.platform !== 'darwin') {
    refusals.push([['-s', 'noisy.map'], { ...wasm, MAPCLEAN_WASM_SAVES: '' }, /^Error: mapclean from npm saves here only with the program/]);
  }
  for (const [args, env, refusal] of refusals) {
    const refused = outcome(packed, args, '', env);
    assert.equal(refused.status, 1);
    assert.match(refused.stderr, refusal);
    assert.equal(refused.tree['/noisy.map'].endsWith(NOISY), true);
  }
});

test('the command ends as the program ends: its status, or its signal', { skip: missing || (!native && 'no program of this platform') }, async () => {
  installPackages();
  const dir = `${work}/statuses`;
  fs.mkdirSync(dir);
  fs.writeFileSync(`${dir}/noisy.map`, NOISY);
  fs.writeFileSync(`${dir}/clean.map`, '( 1 2 3 )\n');
  for (const [args, status] of [[['-check', 'clean.map'], 0], [['-check', 'noisy.map'], 1], [['-check', 'none.map'], 2]]) {
    assert.equal(run(packed, args, { cwd: dir }).status, status, args.join(' '));
  }
  // Killed while its question waits: the command ends by the same signal.
  for (const signal of ['SIGTERM', 'SIGINT', 'SIGHUP']) {
    const child = spawn(packed, ['noisy.map'], { cwd: dir, stdio: ['pipe', 'pipe', 'ignore'] });
    await new Promise((resolve) => child.stdout.on('data', (data) => data.includes('Press Y') && resolve()));
    child.kill(signal);
    const [code, ended] = await new Promise((resolve) => child.on('exit', (...how) => resolve(how)));
    assert.deepEqual([code, ended], [null, signal]);
    assert.equal(fs.readFileSync(`${dir}/noisy.map`, 'latin1'), NOISY);
  }
});

test('the WebAssembly command where a review broke it', { skip: missing || (process.platform !== 'linux' && 'its cases are Linux\'s') }, () => {
  installPackages();
  const dir = `${work}/hostile`;
  fs.mkdirSync(dir);
  const wasm = { ...offline, MAPCLEAN_WASM: '1' };
  // Names as bytes reach the commands through a shell's printf.
  const shell = (program, script, env = offline) => {
    const result = run('sh', ['-c', script, program], { cwd: dir, env });
    const times = (text) => text.replace(/(Time: |processing time: )\d+\.\d{3}/g, '$1T');
    return { status: result.status, stdout: times(result.stdout), stderr: times(result.stderr) };
  };
  const same = (script) => assert.deepEqual(shell(packed, script, wasm), shell(exe, script), script);
  fs.writeFileSync(`${dir}/big.map`, NOISY);
  fs.truncateSync(`${dir}/big.map`, 2 ** 31 + 100);  // 2 GiB and more, mostly NUL: read a piece at a time
  fs.mkdirSync(Buffer.from(`${dir}/\xff\xfe`, 'latin1'));
  fs.writeFileSync(Buffer.from(`${dir}/\xff\xfe/\xff\xfe.map`, 'latin1'), NOISY);
  fs.writeFileSync(Buffer.from(`${dir}/\xff\xfe/a.map`, 'latin1'), NOISY);
  same('exec "$0" -check big.map');
  same('cd "$(printf "\\377\\376")" && exec "$0" -check');  // no target: the current directory, its name not UTF-8
  same('exec "$0" -check -r -exclude "$(printf "\\377\\376.map")" "$(printf "\\377\\376")"');

  // A map below a path longer than PATH_MAX: the program finds it through
  // its open directories; the command, which has paths only, says why not.
  const home = process.cwd();
  try {
    process.chdir(dir);  // a step at a time: no path names the deepest folders
    for (const name of ['deep', ...Array(22).fill('d'.repeat(200))]) {
      fs.mkdirSync(name);
      process.chdir(name);
    }
    fs.writeFileSync('x.map', NOISY);
  } finally {
    process.chdir(home);
  }
  const deep = shell(packed, 'exec "$0" -check -r deep', wasm);
  assert.equal(deep.status, 2, deep.stderr);
  assert.match(deep.stderr, /^Error opening directory: deep\/d+.* \(File name too long\)$/m);
  assert.match(shell(exe, 'exec "$0" -check -r deep').stdout, /^1 of 1 files would change$/m);
  assert.equal(run('rm', ['-rf', 'deep'], { cwd: dir }).status, 0);  // which Node cannot remove

  // A folder that can be listed but not entered is named in an error line,
  // as the program names it, not passed over.
  if (process.getuid?.() === 0 && found('runuser')) {
    fs.mkdirSync(`${dir}/top/listed/sub`, { recursive: true });
    fs.writeFileSync(`${dir}/top/listed/sub/x.map`, NOISY);
    fs.chmodSync(`${dir}/top/listed`, 0o444);
    fs.chmodSync(dir, 0o755);
    fs.chmodSync(work, 0o755);
    fs.copyFileSync(exe, `${work}/native`);
    const as = (program, env) => shell(program, 'exec runuser -u nobody -- "$0" -check -r top', env);
    const expected = as(`${work}/native`);
    assert.match(expected.stderr, /^Error opening directory: top\/listed \(Permission denied\)$/m);
    assert.deepEqual(as(packed, wasm), expected);
    fs.chmodSync(`${dir}/top/listed`, 0o755);
  }
});

test('a signal mid-run of the WebAssembly command leaves every map whole and no temporary', { skip: missing || !process.env.MAPCLEAN_MAKE_MAP }, async () => {
  installPackages();
  const dir = `${work}/signals`;
  fs.mkdirSync(dir);
  const map = run(process.env.MAPCLEAN_MAKE_MAP, ['8', '30'], { encoding: 'buffer' }).stdout;
  const cleaned = run(exe, ['-'], { input: map, encoding: 'buffer' }).stdout;
  const signals = ['SIGINT', 'SIGTERM', 'SIGHUP'];
  if (process.platform !== 'win32') signals.push('SIGVTALRM', 'SIGPROF', 'SIGXCPU', 'SIGUSR1');
  for (const [i, signal] of signals.entries()) {
    const maps = [0, 1, 2, 3, 4, 5].map((n) => `${dir}/${n}.map`);
    for (const name of maps) fs.writeFileSync(name, map);
    const child = spawn(packed, ['-s', '-quiet', ...maps], { stdio: ['ignore', 'ignore', 'pipe'],
      env: { ...process.env, MAPCLEAN_WASM: '1', MAPCLEAN_WASM_SAVES: '1' } });
    let errors = '';
    child.stderr.on('data', (data) => { errors += data; });
    let running = true;
    const exited = new Promise((resolve) => child.on('exit', (...how) => resolve(how))).finally(() => { running = false; });
    // Whenever it lands (at start, mid-save or after the end) the outcome
    // must be whole files; the delays only vary where. SIGUSR1 waits for
    // the first temporary: during Node's own start, before any of the
    // command's code runs, it would open Node's inspector.
    await new Promise((resolve) => setTimeout(resolve, 150 * ((i % 3) + 1)));
    while (signal === 'SIGUSR1' && running && !fs.readdirSync(dir).some((name) => name.includes('~mapclean-'))) {
      await new Promise((resolve) => setTimeout(resolve, 5));
    }
    child.kill(signal);
    const [, ended] = await exited;
    assert.ok(ended === signal || ended === null, `${signal}: ended by ${ended}`);
    assert.doesNotMatch(errors, /Debugger listening/, signal);  // SIGUSR1 opens no inspector
    for (const name of fs.readdirSync(dir)) {
      assert.match(name, /^\d\.map$/, `${signal} left ${name}`);
      const bytes = fs.readFileSync(`${dir}/${name}`);
      assert.ok(bytes.equals(map) || bytes.equals(cleaned), `${signal}: ${name} is neither old nor new`);
    }
  }
});

test('pre-commit installs the node hooks itself and runs them', { skip: missing || (!found('pre-commit') && 'pre-commit is not installed') || (!found('git') && 'git is not installed') }, () => {
  const repo = `${work}/repo`;
  fs.mkdirSync(repo);
  const maps = { 'a.map': NOISY, 'b.MAP': 'x 1.9999999\n', 'c.map': '( 1 2 3 )\n', '--color=never.map': NOISY };
  for (const [name, text] of Object.entries(maps)) fs.writeFileSync(`${repo}/${name}`, text);
  // No mapclean on PATH: the hook must bring its own.
  const path = process.env.PATH.split(':').filter((dir) => !fs.existsSync(`${dir}/mapclean`)).join(':');
  // Offline, the hook gets no platform package: the WebAssembly command,
  // which saves here only when let.
  const env = { ...offline, PATH: path, PRE_COMMIT_HOME: `${work}/pre-commit`, MAPCLEAN_WASM_SAVES: '1' };
  const sh = (script) => run('sh', ['-c', script], { cwd: repo, env, encoding: 'utf8' });
  assert.equal(sh('git init -q . && git config user.email t@invalid && git config user.name t && git add .').status, 0);
  const tryRepo = (hook) => sh(`pre-commit try-repo '${source}' ${hook} --all-files --verbose`);

  let hook = tryRepo('mapclean-check-node');
  assert.equal(hook.status, 1, hook.stdout + hook.stderr);
  for (const listed of ['\na.map\n', '\nb.MAP\n', '\n--color=never.map\n']) assert.ok(hook.stdout.includes(listed), hook.stdout);
  assert.ok(!hook.stdout.includes('\nc.map\n'), hook.stdout);

  hook = tryRepo('mapclean-node');
  assert.equal(hook.status, 1, hook.stdout + hook.stderr);
  assert.match(hook.stdout, /files were modified by this hook/);
  for (const name of Object.keys(maps)) {
    const expected = run(exe, ['-stable', '-'], { input: maps[name] }).stdout;
    assert.equal(fs.readFileSync(`${repo}/${name}`, 'latin1'), expected, name);
  }
  for (const name of ['mapclean-node', 'mapclean-check-node']) {
    sh('git add .');
    hook = tryRepo(name);
    assert.equal(hook.status, 0, `${name}: ${hook.stdout}${hook.stderr}`);
  }
});
