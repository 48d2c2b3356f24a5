// A ZIP archive of files stored as they are (no compression): maps are
// small next to what a browser downloads, and stored entries keep the
// writer small. Names are UTF-8 paths with '/' between folders.

const CRC_TABLE = (() => {
  const table = new Uint32Array(256);
  for (let n = 0; n < 256; n++) {
    let c = n;
    for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
    table[n] = c >>> 0;
  }
  return table;
})();

export function crc32(bytes) {
  let crc = 0xffffffff;
  for (let i = 0; i < bytes.length; i++) crc = CRC_TABLE[(crc ^ bytes[i]) & 0xff] ^ (crc >>> 8);
  return (crc ^ 0xffffffff) >>> 0;
}

// A time (milliseconds since 1970) as the DOS time and date a ZIP entry
// keeps, in local time as unzip shows it; before 1980 it is 1980-01-01.
export function dosTime(milliseconds) {
  const d = new Date(milliseconds);
  if (!(d.getFullYear() >= 1980)) return { time: 0, date: 0x21 };
  return {
    time: (d.getHours() << 11) | (d.getMinutes() << 5) | (d.getSeconds() >> 1),
    date: ((Math.min(d.getFullYear(), 2107) - 1980) << 9) | ((d.getMonth() + 1) << 5) | d.getDate(),
  };
}

const ALL_ONES_16 = 0xffff;
const ALL_ONES_32 = 0xffffffff;

// The ZIP of `files` ([{ name, bytes, modified }], `modified` in
// milliseconds since 1970, or now) as the parts of a Blob: headers between
// the files' own bytes, which are not copied, so that no single array needs
// to hold the archive. An entry or an offset of 4 GiB or more, and 65,535
// entries or more, get ZIP64 records, as the format has them for that;
// `zip64: true` gives every entry and the end those records (for tests:
// readers must take them on small files too).
export function createZip(files, { zip64 = false } = {}) {
  const encoder = new TextEncoder();
  const parts = [];
  let at = 0;  // the archive's length so far
  const record = (length, write) => {
    const bytes = new Uint8Array(length);
    const view = new DataView(bytes.buffer);
    let offset = 0;
    write({
      u16: (value) => { view.setUint16(offset, value, true); offset += 2; },
      u32: (value) => { view.setUint32(offset, value, true); offset += 4; },
      u64: (value) => { view.setBigUint64(offset, BigInt(value), true); offset += 8; },
      put: (data) => { bytes.set(data, offset); offset += data.length; },
    });
    parts.push(bytes);
    at += length;
  };
  const entries = files.map((file) => {
    const name = encoder.encode(file.name);
    const size = file.bytes.length;
    const e = { name, size, offset: at, crc: crc32(file.bytes), ...dosTime(file.modified ?? Date.now()) };
    e.bigSize = zip64 || size >= ALL_ONES_32;
    // An entry past 4 GiB gives its sizes and offset in the ZIP64 field
    // all three, as other writers do: some readers misread a partial one.
    e.big = e.bigSize || at >= ALL_ONES_32;
    e.version = e.big ? 45 : 20;
    record(30 + name.length + (e.bigSize ? 20 : 0), ({ u16, u32, u64, put }) => {
      u32(0x04034b50); u16(e.version); u16(0x0800); u16(0); u16(e.time); u16(e.date);  // UTF-8 names, stored
      u32(e.crc); u32(e.bigSize ? ALL_ONES_32 : size); u32(e.bigSize ? ALL_ONES_32 : size);
      u16(name.length); u16(e.bigSize ? 20 : 0);
      put(name);
      if (e.bigSize) { u16(0x0001); u16(16); u64(size); u64(size); }
    });
    parts.push(file.bytes);
    at += size;
    return e;
  });
  const directory = at;
  // Made on Unix (host 3) with a file's mode: unzip then takes the UTF-8
  // flag's names as they are (for an MS-DOS entry it translates them).
  const regularFile = (0o100644 << 16) >>> 0;
  for (const e of entries) {
    record(46 + e.name.length + (e.big ? 28 : 0), ({ u16, u32, u64, put }) => {
      u32(0x02014b50); u16((3 << 8) | e.version); u16(e.version); u16(0x0800); u16(0); u16(e.time); u16(e.date);
      u32(e.crc); u32(e.big ? ALL_ONES_32 : e.size); u32(e.big ? ALL_ONES_32 : e.size);
      u16(e.name.length); u16(e.big ? 28 : 0); u16(0); u16(0); u16(0);
      u32(regularFile); u32(e.big ? ALL_ONES_32 : e.offset);
      put(e.name);
      if (e.big) { u16(0x0001); u16(24); u64(e.size); u64(e.size); u64(e.offset); }
    });
  }
  const directorySize = at - directory;
  const count = entries.length;
  const bigEnd = zip64 || count >= ALL_ONES_16 || directorySize >= ALL_ONES_32 || directory >= ALL_ONES_32;
  if (bigEnd) {
    const end64 = at;
    record(56, ({ u16, u32, u64 }) => {
      u32(0x06064b50); u64(44); u16((3 << 8) | 45); u16(45); u32(0); u32(0);
      u64(count); u64(count); u64(directorySize); u64(directory);
    });
    record(20, ({ u32, u64 }) => { u32(0x07064b50); u32(0); u64(end64); u32(1); });
  }
  record(22, ({ u16, u32 }) => {
    u32(0x06054b50); u16(0); u16(0);
    // A field too small for its value says "see the ZIP64 record" (all ones).
    const small = (value, ones) => (zip64 || value >= ones ? ones : value);
    u16(small(count, ALL_ONES_16)); u16(small(count, ALL_ONES_16));
    u32(small(directorySize, ALL_ONES_32)); u32(small(directory, ALL_ONES_32)); u16(0);
  });
  return parts;
}

// The entries of a ZIP that createZip wrote, whole in `bytes`
// ([{ name, bytes, time, date }], the DOS time and date), for tests.
export function readZip(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const decoder = new TextDecoder();
  const files = [];
  for (let at = 0; view.getUint32(at, true) === 0x04034b50;) {
    const nameLength = view.getUint16(at + 26, true);
    const extra = view.getUint16(at + 28, true);
    let size = view.getUint32(at + 18, true);
    if (size === ALL_ONES_32) size = Number(view.getBigUint64(at + 30 + nameLength + 4, true));
    const name = decoder.decode(bytes.subarray(at + 30, at + 30 + nameLength));
    const start = at + 30 + nameLength + extra;
    files.push({ name, bytes: bytes.subarray(start, start + size), time: view.getUint16(at + 10, true),
      date: view.getUint16(at + 12, true) });
    at = start + size;
  }
  return files;
}
