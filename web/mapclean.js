// mapclean in JavaScript: the library compiled to WebAssembly
// (mapclean.wasm), for the page's worker and for Node. One text at a time
// per loaded module.

// The fields -only takes, as the library's MAPCLEAN_ONLY_* bits.
export const FIELDS = Object.freeze({
  planes: 0x001, texture: 0x07e, offsets: 0x002, rotation: 0x004, scales: 0x008,
  axes: 0x010, matrix: 0x020, flags: 0x040, patches: 0x080, keys: 0x100,
});

// The defaults: automatic mode, as the command line without options.
export const DEFAULT_OPTIONS = Object.freeze({ precision: -1, stable: false, plain: false, only: 0 });

const CODES = { '-1': 'invalid argument or options', '-2': 'out of memory', '-3': 'output buffer too small',
  '-4': 'stopped by the write callback' };

// Addresses and lengths from the module are unsigned 32-bit numbers, which
// WebAssembly hands to JavaScript as signed ones: above 2 GiB they would
// read as negative.
const unsigned = (value) => value >>> 0;

// What Mapclean.plan() answers, by the module's number.
const PLANS = ['planned', 'excluded', 'unusable'];

class Mapclean {
  #x;
  #module;
  #configs = null;  // useConfigs()'s arguments, given again to a new instance
  constructor(module) {
    this.#module = module;
    this.reset();
  }

  // A fresh instance of the module: after a trap (memory ran out) the old
  // one's state is lost, and the next text needs a new one.
  reset() {
    let instance;
    instance = new WebAssembly.Instance(this.#module, {
      wasi_snapshot_preview1: fatalMessages(() => instance.exports.memory),
    });
    instance.exports._initialize();
    this.#x = instance.exports;
    if (this.#configs) this.useConfigs(...this.#configs);
  }

  // The settings files of a dropped folder ([{ path: below the drop, with
  // '/', bytes }], one or more) for the next plans, with the page's `options`, of which
  // `given` (bits: 1 precision, 2 plain, 4 only, 8 stable) the user set.
  useConfigs(files, options, given) {
    this.#configs = [files, options, given];
    const encoder = new TextEncoder();
    files.forEach((file, index) => {
      const path = encoder.encode(file.path);
      const bytes = new Uint8Array(path.length + 1 + file.bytes.length);
      bytes.set(path);
      bytes.set(file.bytes, path.length + 1);
      this.#put(bytes);
      this.#x.mapclean_wasm_config_add(index === 0 ? 1 : 0);
    });
    this.#x.mapclean_wasm_config_start(...this.#args(options), given >>> 0);
  }

  // What the settings files say for the map at `path` (below the drop):
  // { answer: 'planned' (with its `options` and the settings file that
  // gave them, or ''), 'excluded' (by the file `file`) or 'unusable'
  // (`error` says why) }.
  plan(path) {
    this.#put(new TextEncoder().encode(path));
    const answer = PLANS[this.#x.mapclean_wasm_plan()];
    const at = unsigned(this.#x.mapclean_wasm_output());
    const text = new TextDecoder().decode(new Uint8Array(this.#x.memory.buffer, at, unsigned(this.#x.mapclean_wasm_output_length())));
    if (answer === 'unusable') return { answer, error: text };
    if (answer === 'excluded') return { answer, file: text };
    const [precision, stable, plain, only] = [0, 1, 2, 3].map((which) => this.#x.mapclean_wasm_planned(which));
    return { answer, file: text, options: { precision, stable: stable !== 0, plain: plain !== 0, only: only >>> 0 } };
  }

  // Copies `bytes` (a Uint8Array) into the module's input buffer.
  #put(bytes) {
    const at = unsigned(this.#x.mapclean_wasm_input(bytes.length));
    new Uint8Array(this.#x.memory.buffer, at, bytes.length).set(bytes);
  }

  // Where `bytes` may be cut into pieces that clean exactly as the whole
  // (with `options`): the length of the longest such prefix (up to its last
  // line end, or for rules that do not read whole lines, its last byte that
  // no number or word can hold), or 0.
  pieceLength(bytes, options = DEFAULT_OPTIONS) {
    this.#put(bytes);
    return unsigned(this.#x.mapclean_wasm_piece_length(this.#args(options)[3] ? 1 : 0));
  }

  #args(options) {
    const o = { ...DEFAULT_OPTIONS, ...options };
    return [o.precision | 0, o.stable ? 1 : 0, o.plain ? 1 : 0, o.only >>> 0];
  }

  // `bytes` cleaned as `mapclean -` cleans them: { output: Uint8Array,
  // edits: the report line's count }. Throws for options the library refuses.
  clean(bytes, options = DEFAULT_OPTIONS) {
    this.#put(bytes);
    const code = this.#x.mapclean_wasm_clean(...this.#args(options));
    if (code !== 0) throw new Error(`mapclean: ${CODES[code] ?? `error ${code}`}`);
    const at = unsigned(this.#x.mapclean_wasm_output());
    const length = unsigned(this.#x.mapclean_wasm_output_length());
    return { output: new Uint8Array(this.#x.memory.buffer, at, length).slice(), edits: this.#x.mapclean_wasm_edit_count() };
  }

  // Where the first `limit` edits of the text last cleaned stand, with the
  // same options: [{ from, length, to, toLength }] (offsets in the old text
  // and in the new).
  editPlaces(options = DEFAULT_OPTIONS, limit = 1000) {
    const count = this.#x.mapclean_wasm_find_edits(...this.#args(options), limit);
    if (count < 0) throw new Error(`mapclean: ${CODES[count] ?? `error ${count}`}`);
    const numbers = new Uint32Array(this.#x.memory.buffer, unsigned(this.#x.mapclean_wasm_edit_places()), count * 4);
    const places = [];
    for (let i = 0; i < count; i++) {
      places.push({ from: numbers[4 * i], length: numbers[4 * i + 1], to: numbers[4 * i + 2], toLength: numbers[4 * i + 3] });
    }
    return places;
  }
}

// The module's only imports: the WASI calls through which the C++ runtime
// would print a message before a fatal error (it has no file system and
// does no other I/O), and those its locale asks an (empty) environment of.
// Such a message goes to the console.
function fatalMessages(memory) {
  const ENOSYS = 52;
  return {
    fd_write(fd, iovs, count, written) {
      const view = new DataView(memory().buffer);
      let text = '';
      let total = 0;
      for (let i = 0; i < count; i++) {
        const at = view.getUint32(unsigned(iovs) + 8 * i, true);
        const length = view.getUint32(unsigned(iovs) + 8 * i + 4, true);
        text += new TextDecoder().decode(new Uint8Array(memory().buffer, at, length));
        total += length;
      }
      if (text.trim()) console.error(`mapclean: ${text.trim()}`);
      view.setUint32(unsigned(written), total, true);
      return 0;
    },
    fd_seek: () => ENOSYS,
    fd_close: () => ENOSYS,
    environ_sizes_get(count, size) {
      const view = new DataView(memory().buffer);
      view.setUint32(unsigned(count), 0, true);
      view.setUint32(unsigned(size), 0, true);
      return 0;
    },
    environ_get: () => 0,
    proc_exit(code) { throw new WebAssembly.RuntimeError(`exit ${code}`); },
  };
}

// Loads the module from a URL (fetched) or from its bytes.
export async function loadMapclean(source) {
  let module;
  if (source instanceof URL || typeof source === 'string') {
    const response = await fetch(source);
    if (!response.ok) throw new Error(`${source}: ${response.status} ${response.statusText}`);
    // A host that serves .wasm without its type still serves its bytes.
    module = response.headers.get('Content-Type')?.startsWith('application/wasm')
      ? await WebAssembly.compileStreaming(response)
      : await WebAssembly.compile(await response.arrayBuffer());
  } else {
    module = await WebAssembly.compile(source);
  }
  return new Mapclean(module);
}
