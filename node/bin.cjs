#!/usr/bin/env node
// mapclean from npm: runs the program itself, built for this platform and
// installed from the platform's package (an optional dependency); where none
// fits or is installed, or MAPCLEAN_WASM=1 asks for it, or the program cannot
// start, the WebAssembly command (main.cjs) instead.
// CommonJS, as the WebAssembly command is, not ES modules: Node starts a
// CommonJS script about 10 ms sooner, which every run pays.
'use strict';
const { spawn } = require('node:child_process');
const os = require('node:os');

// SIGUSR1 opens Node's inspector unless something listens to it: until the
// program or the WebAssembly command takes it over, it ends the command.
const earlyUser1 = () => endBy('SIGUSR1');
if (process.platform !== 'win32') process.on('SIGUSR1', earlyUser1);

// The builds that have a package of their own (@mapclean/BUILD, listed in
// package.json), and their program's file there.
const BUILDS = Object.freeze({ 'linux-x64': 'mapclean', 'linux-arm64': 'mapclean', 'win32-x64': 'mapclean.exe' });

// The installed program of this platform's build, or null.
function installedProgram() {
  const build = `${process.platform}-${process.arch}`;
  if (!(build in BUILDS)) return null;
  try {
    return { build, path: require.resolve(`@mapclean/${build}/bin/${BUILDS[build]}`) };
  } catch {
    return null;  // left out (--omit=optional, a lockfile made elsewhere)
  }
}

// Ends this process as `signal` ended the program: the default action of
// the signal, which Node sets back once no listener is left (SIGPIPE too).
function endBy(signal) {
  process.removeAllListeners(signal);
  const none = () => {};
  process.on(signal, none).off(signal, none);
  process.kill(process.pid, signal);
  process.exit(128 + (os.constants.signals[signal] ?? 0));  // where it cannot end it
}

// Runs the program with this process's standard streams, arguments and
// environment, and ends as it ends. Every signal that would end this
// process is passed on instead, so that the program removes what it must
// first (a terminal's Ctrl-C, which reaches both, arrives twice: the program
// ends at the first). On Windows a console's Ctrl-C and Ctrl-Break reach
// the program directly; this process waits for it.
function runProgram({ build, path }, fallBack) {
  const terminal = process.platform === 'win32' ? ['SIGINT', 'SIGBREAK'] : [];
  const passed = process.platform === 'win32' ? []
    : ['SIGHUP', 'SIGINT', 'SIGQUIT', 'SIGTERM', 'SIGALRM', 'SIGUSR1', 'SIGUSR2', 'SIGVTALRM', 'SIGPROF', 'SIGXCPU'];
  const child = spawn(path, process.argv.slice(2), { stdio: 'inherit' });
  process.off('SIGUSR1', earlyUser1);
  const listeners = [];
  const listen = (signal, listener) => {
    process.on(signal, listener);
    listeners.push([signal, listener]);
  };
  for (const signal of terminal) listen(signal, () => {});
  for (const signal of passed) listen(signal, () => child.kill(signal));
  const unlisten = () => listeners.forEach(([signal, listener]) => process.off(signal, listener));
  child.on('error', (error) => {
    unlisten();
    process.stderr.write(`mapclean: the ${build} program did not start (${error.code ?? error.message}): `
      + 'running the WebAssembly command instead\n');
    fallBack();
  });
  child.on('exit', (code, signal) => {
    unlisten();
    if (signal) endBy(signal);
    else process.exit(code);
  });
}

const runWebAssembly = () => require('./main.cjs');
const program = process.env.MAPCLEAN_WASM === '1' ? null : installedProgram();
if (program) runProgram(program, runWebAssembly);
else runWebAssembly();
