// The program's pure parts, compiled to WebAssembly (mapclean.wasm, built
// from mapclean_node.cc): its option walk, usage text, names, report texts,
// diffs and cleaning. Byte strings (names, arguments, messages) travel as
// 'latin1' strings, one character per byte; texts as Buffers.
import { readFileSync } from 'node:fs';

const wasm = new WebAssembly.Module(readFileSync(new URL('mapclean.wasm', import.meta.url)));

// What mapclean_node_read_arguments answers (the program's CliAction).
export const ACTION = Object.freeze({ run: 0, usage: 1, version: 2, error: 3 });
// The settings of mapclean_node_setting, in its order.
const SETTINGS = ['verbose', 'silent', 'precision', 'review', 'recursive', 'quiet', 'stable', 'github', 'plain',
  'only', 'null', 'colourWhen'];
export const REVIEW = Object.freeze({ none: 0, check: 1, list: 2, diff: 3 });
export const COLOUR_WHEN = Object.freeze({ automatic: 0, always: 1, never: 2 });
// What mapclean_node_clean makes besides the cleaned text.
export const CLEAN = Object.freeze({ lines: 1, annotation: 2, diff: 4, colour: 8, backslash: 16 });
const BUFFER = { text: 0, name: 1 };
const RESULT = { cleaned: 0, changedLines: 1, shown: 2, arguments: 3, excludes: 4 };

// Memory ran out in the module: it traps, and a new instance is needed.
export class OutOfMemory extends Error {}

export class Core {
  #x;
  #pathExists;
  #args;

  // The module with the arguments (byte strings) read as the program reads
  // them; `pathExists(name)`: whether an entry of any kind is there (lstat).
  constructor(args, pathExists) {
    this.#pathExists = pathExists;
    this.#args = args;
    this.#reset();
    this.request = this.#readArguments();
  }

  #reset() {
    let memory;
    const bytes = (at, length) => new Uint8Array(memory().buffer, at >>> 0, length >>> 0);
    const ENOSYS = 52;
    const instance = new WebAssembly.Instance(wasm, {
      mapclean: { path_exists: (at, length) => (this.#pathExists(Buffer.from(bytes(at, length)).toString('latin1')) ? 1 : 0) },
      // The C++ runtime's message before a fatal error: nothing to print.
      wasi_snapshot_preview1: { fd_write: () => ENOSYS, fd_seek: () => ENOSYS, fd_close: () => ENOSYS },
    });
    memory = () => instance.exports.memory;
    instance.exports._initialize();
    this.#x = instance.exports;
  }

  // Calls an export; a trap (memory ran out) becomes OutOfMemory, and the
  // next call gets a new instance, with the arguments read again.
  #call(name, ...args) {
    try {
      return this.#x[name](...args);
    } catch (error) {
      if (!(error instanceof WebAssembly.RuntimeError)) throw error;
      this.#reset();
      this.#readArguments();
      throw new OutOfMemory(error.message);
    }
  }

  #put(which, bytes) {
    const at = this.#call('mapclean_node_buffer', which, bytes.length) >>> 0;
    new Uint8Array(this.#x.memory.buffer, at, bytes.length).set(bytes);
  }

  #result(which) {
    const at = this.#x.mapclean_node_result(which) >>> 0;
    return Buffer.from(new Uint8Array(this.#x.memory.buffer, at, this.#x.mapclean_node_result_length(which) >>> 0));
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
  // excludes, settings }.
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
    };
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

  // `text` (a Buffer) cleaned with the arguments' rules: { cleaned, edits,
  // changes, changedLines, shown } (shown: the annotation or diff that
  // `flags` asks for, of a text named `name`). Throws OutOfMemory.
  clean(text, name, flags) {
    this.#put(BUFFER.text, text);
    this.#put(BUFFER.name, Buffer.from(name, 'latin1'));
    this.#call('mapclean_node_clean', flags);
    const result = {
      cleaned: this.#result(RESULT.cleaned),
      edits: this.#x.mapclean_node_edits(),
      changes: this.#x.mapclean_node_changes() !== 0,
      changedLines: this.#result(RESULT.changedLines),
      shown: this.#result(RESULT.shown),
    };
    return result;
  }
}
