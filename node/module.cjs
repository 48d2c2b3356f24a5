// The program's pure parts, compiled to WebAssembly (mapclean.wasm, built
// from mapclean_node.cc): its option walk, usage text, names, report texts,
// diffs and cleaning. Byte strings (names, arguments, messages) travel as
// 'latin1' strings, one character per byte; texts as Buffers.
'use strict';
const { readFileSync } = require('node:fs');

const wasm = new WebAssembly.Module(readFileSync(require('node:path').join(__dirname, 'mapclean.wasm')));

// What mapclean_node_read_arguments answers (the program's CliAction).
const ACTION = Object.freeze({ run: 0, usage: 1, version: 2, error: 3 });
// The settings of mapclean_node_setting, in its order.
const SETTINGS = ['verbose', 'silent', 'precision', 'review', 'recursive', 'quiet', 'stable', 'github', 'plain',
  'only', 'null', 'colourWhen', 'stdinNameGiven', 'showSettingsGiven', 'brief', 'gitFilter'];
const REVIEW = Object.freeze({ none: 0, check: 1, list: 2, diff: 3 });
const COLOUR_WHEN = Object.freeze({ automatic: 0, always: 1, never: 2 });
// What mapclean_node_begin asks for besides the cleaned text.
const CLEAN = Object.freeze({ lines: 1, annotation: 2, diff: 4, colour: 8, backslash: 16, judge: 32 });
const BUFFER = { text: 0, name: 1, config: 2 };
const RESULT = { cleaned: 0, changedLines: 1, shown: 2, arguments: 3, excludes: 4, stdinName: 5, showSettings: 6 };

// What Core.plan() answers for a map.
const PLAN = Object.freeze({ planned: 0, excluded: 1, unusable: 2 });

// Memory ran out in the module: it traps, and a new instance is needed.
class OutOfMemory extends Error {}

class Core {
  #x;
  #host;
  #args;
  #configStart = null;  // the arguments of startConfig(), to give a new instance

  // The module with the arguments (byte strings) read as the program reads
  // them. `host` gives what the module asks of the command:
  // pathExists(name), whether an entry of any kind is there (lstat);
  // print(bytes), a diff's text as it is made (bytes valid during the
  // call); readConfig(name), a settings file's bytes, or throws an Error
  // whose message is the reason; spill, the scratch files where a diff keeps what is large
  // (ScratchFiles in io.cjs: append(file, bytes), read(file, buffer,
  // offset), clear(file), close(file)).
  constructor(args, host) {
    this.#host = host;
    this.#args = args;
    this.#reset();
    this.request = this.#readArguments();
  }

  #reset() {
    let memory;
    const bytes = (at, length) => Buffer.from(memory().buffer, at >>> 0, length >>> 0);
    const ENOSYS = 52;
    const { pathExists, print, readConfig, spill } = this.#host;
    const configRead = (at, length) => {
      let answer = 0;
      let content;
      try {
        content = readConfig(Buffer.from(bytes(at, length)).toString('latin1'));
      } catch (error) {
        answer = -1;
        content = Buffer.from(error.message, 'latin1');
      }
      this.#put(BUFFER.config, content);  // a call back into the module, which may grow its memory
      return answer;
    };
    const instance = new WebAssembly.Instance(wasm, {
      mapclean: {
        path_exists: (at, length) => (pathExists(Buffer.from(bytes(at, length)).toString('latin1')) ? 1 : 0),
        print: (at, length) => print(bytes(at, length)),
        config_read: configRead,
        spill_append: (file, at, length) => spill.append(file, bytes(at, length)),
        spill_read: (file, at, length, offset) => spill.read(file, bytes(at, length), offset),
        spill_clear: (file) => spill.clear(file),
        spill_close: (file) => spill.close(file),
      },
      // The C++ runtime's message before a fatal error: nothing to print;
      // its locale asks for an environment: an empty one.
      wasi_snapshot_preview1: {
        fd_write: () => ENOSYS,
        fd_seek: () => ENOSYS,
        fd_close: () => ENOSYS,
        environ_sizes_get: (count, size) => {
          new DataView(memory().buffer).setUint32(count >>> 0, 0, true);
          new DataView(memory().buffer).setUint32(size >>> 0, 0, true);
          return 0;
        },
        environ_get: () => 0,
        proc_exit: (code) => { throw new WebAssembly.RuntimeError(`exit ${code}`); },
      },
    });
    memory = () => instance.exports.memory;
    instance.exports._initialize();
    this.#x = instance.exports;
  }

  // Calls an export. A trap (memory ran out) becomes OutOfMemory; it, and
  // whatever the command's part threw through the module, leave the module
  // mid-call: the next call gets a new instance, with the arguments read
  // again (its scratch files closed first).
  #call(name, ...args) {
    try {
      return this.#x[name](...args);
    } catch (error) {
      this.#host.spill.closeAll();
      this.#reset();
      this.#readArguments();
      if (this.#configStart) this.startConfig(...this.#configStart);
      throw error instanceof WebAssembly.RuntimeError ? new OutOfMemory(error.message) : error;
    }
  }

  #put(which, bytes) {
    const at = this.#call('mapclean_node_buffer', which, bytes.length) >>> 0;
    new Uint8Array(this.#x.memory.buffer, at, bytes.length).set(bytes);
  }

  #result(which) {
    return Buffer.from(this.#view(which));
  }

  // A result where it lies in the module's memory: valid until the next
  // call, and no copy made (a piece's results, used at once).
  #view(which) {
    const at = this.#x.mapclean_node_result(which) >>> 0;
    return Buffer.from(this.#x.memory.buffer, at, this.#x.mapclean_node_result_length(which) >>> 0);
  }

  #string(at) {
    const memory = new Uint8Array(this.#x.memory.buffer);
    const end = memory.indexOf(0, at >>> 0);
    return Buffer.from(memory.subarray(at >>> 0, end)).toString('latin1');
  }

  static #list(buffer) {
    const items = buffer.toString('latin1').split('\0');
    items.pop();
    return items;
  }

  // The request of the arguments: { action, message (printable), targets,
  // excludes, settings, stdinName and showSettings (null when not given) }.
  #readArguments() {
    this.#put(BUFFER.text, Buffer.from(this.#args.map((argument) => `${argument}\0`).join(''), 'latin1'));
    const action = this.#x.mapclean_node_read_arguments();
    const settings = {};
    SETTINGS.forEach((key, index) => { settings[key] = this.#x.mapclean_node_setting(index); });
    return {
      action,
      message: this.#result(RESULT.shown).toString('latin1'),
      targets: Core.#list(this.#result(RESULT.arguments)),
      excludes: Core.#list(this.#result(RESULT.excludes)),
      settings,
      stdinName: settings.stdinNameGiven ? this.#result(RESULT.stdinName).toString('latin1') : null,
      showSettings: settings.showSettingsGiven ? this.#result(RESULT.showSettings).toString('latin1') : null,
    };
  }

  // Starts finding settings files: `cwd` the current directory's bytes
  // (empty: it cannot be read), `backslash` where '\\' separates paths.
  startConfig(cwd, backslash) {
    this.#configStart = [cwd, backslash];
    this.#put(BUFFER.name, Buffer.from(cwd, 'latin1'));
    this.#call('mapclean_node_config_start', backslash ? 1 : 0);
  }

  // The plan for the map `name`, whose rules the next texts get:
  // { answer (PLAN), shown (excluded: the excluding file; unusable: the
  // error line after "Error: "), only (the rules' -only fields) }.
  plan(name) {
    this.#put(BUFFER.name, Buffer.from(name, 'latin1'));
    const answer = this.#call('mapclean_node_plan');
    return { answer, shown: this.#result(RESULT.shown).toString('latin1'), only: this.#x.mapclean_node_planned_only() };
  }

  // Reads the settings file of the folder `name`: whether it leaves the
  // folder out.
  excludesFolder(name) {
    this.#put(BUFFER.name, Buffer.from(name, 'latin1'));
    return this.#call('mapclean_node_config_folder') !== 0;
  }

  // The first settings file that could not be used: the error line after
  // "Error: ", or null.
  configError() {
    return this.#call('mapclean_node_config_error') ? this.#result(RESULT.shown).toString('latin1') : null;
  }

  // -show-settings' lines for `name` (`folder`: it is one), or null when a
  // settings file cannot be used.
  showSettings(name, folder) {
    this.#put(BUFFER.name, Buffer.from(name, 'latin1'));
    return this.#call('mapclean_node_show_settings', folder ? 1 : 0) ? null : this.#result(RESULT.shown);
  }

  usage() { return this.#string(this.#x.mapclean_node_usage()); }
  version() { return this.#string(this.#x.mapclean_node_version()); }

  // `name` as a line shows it: printable_name, or for a list quoted_name
  // (`separator` '\\' where it separates paths).
  printable(name) { return this.#name(name, 0); }
  quoted(name, separator) { return this.#name(name, separator === '\\' ? 2 : 1); }
  #name(name, how) {
    this.#put(BUFFER.name, Buffer.from(name, 'latin1'));
    this.#call('mapclean_node_name', how);
    return this.#result(RESULT.shown).toString('latin1');
  }

  // Begins a text named `name` read a piece at a time; `flags` as for
  // clean(). Throws OutOfMemory.
  begin(name, flags) {
    this.#put(BUFFER.name, Buffer.from(name, 'latin1'));
    this.#call('mapclean_node_begin', flags);
  }

  // The piece that `bytes` (the text from where the last piece ended)
  // begins with, cleaned: { length (0: no cut yet, give more), cleaned,
  // changedLines }, the last two in the module's memory, valid until the
  // next call (the hunks it completed go to host.print); `atEnd`: `bytes`
  // ends the text. Throws OutOfMemory, or what the host threw.
  piece(bytes, atEnd) {
    this.#put(BUFFER.text, bytes);
    const length = this.#call('mapclean_node_piece', atEnd ? 1 : 0) >>> 0;
    if (length === 0) return { length };
    return { length, cleaned: this.#view(RESULT.cleaned), changedLines: this.#view(RESULT.changedLines) };
  }

  // Ends the text (the rest of its diff to host.print): { edits, changes,
  // shown (its annotation) }. Throws OutOfMemory, or what the host threw.
  end() {
    this.#call('mapclean_node_end');
    return { edits: this.#x.mapclean_node_edits(), changes: this.#x.mapclean_node_changes() !== 0, shown: this.#result(RESULT.shown) };
  }
}

module.exports = { ACTION, REVIEW, COLOUR_WHEN, CLEAN, PLAN, OutOfMemory, Core };
