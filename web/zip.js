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

// The ZIP of `files` ([{ name, bytes, modified }], `modified` in
// milliseconds since 1970, or now) as one Uint8Array. Throws, writing
// nothing, where the archive would need ZIP64 records (more than 65,535
// entries, or 4 GiB), which this writer does not make: a ZIP that says less
// than it holds would be read as damaged, or lose files.
export function createZip(files) {
  if (files.length > 0xffff) throw new Error(`${files.length} files are more than a ZIP without ZIP64 holds (65,535)`);
  const encoder = new TextEncoder();
  const names = files.map((file) => encoder.encode(file.name));
  const size = files.reduce((sum, file, i) => sum + 30 + 2 * names[i].length + file.bytes.length + 46, 22);
  if (size > 0xffffffff) throw new Error(`${size} bytes are more than a ZIP without ZIP64 holds (4 GiB)`);
  const entries = files.map((file, i) => ({ name: names[i], bytes: file.bytes, crc: crc32(file.bytes),
    ...dosTime(file.modified ?? Date.now()) }));
  const out = new Uint8Array(size);
  const view = new DataView(out.buffer);
  let at = 0;
  const u16 = (value) => { view.setUint16(at, value, true); at += 2; };
  const u32 = (value) => { view.setUint32(at, value, true); at += 4; };
  const put = (bytes) => { out.set(bytes, at); at += bytes.length; };
  const offsets = [];
  for (const e of entries) {
    offsets.push(at);
    u32(0x04034b50); u16(20); u16(0x0800); u16(0); u16(e.time); u16(e.date);  // version, UTF-8 names, stored
    u32(e.crc); u32(e.bytes.length); u32(e.bytes.length); u16(e.name.length); u16(0);
    put(e.name);
    put(e.bytes);
  }
  const directory = at;
  // Made on Unix (host 3) with a file's mode: unzip then takes the UTF-8
  // flag's names as they are (for an MS-DOS entry it translates them).
  const madeBy = (3 << 8) | 20;
  const regularFile = (0o100644 << 16) >>> 0;
  entries.forEach((e, i) => {
    u32(0x02014b50); u16(madeBy); u16(20); u16(0x0800); u16(0); u16(e.time); u16(e.date);
    u32(e.crc); u32(e.bytes.length); u32(e.bytes.length); u16(e.name.length); u16(0); u16(0); u16(0); u16(0);
    u32(regularFile); u32(offsets[i]);
    put(e.name);
  });
  const directorySize = at - directory;
  u32(0x06054b50); u16(0); u16(0); u16(entries.length); u16(entries.length); u32(directorySize); u32(directory); u16(0);
  return out;
}

// The entries of a ZIP that createZip wrote ([{ name, bytes, time, date }],
// the DOS time and date), for tests.
export function readZip(bytes) {
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const decoder = new TextDecoder();
  const files = [];
  for (let at = 0; view.getUint32(at, true) === 0x04034b50;) {
    const size = view.getUint32(at + 18, true);
    const nameLength = view.getUint16(at + 26, true);
    const extra = view.getUint16(at + 28, true);
    const name = decoder.decode(bytes.subarray(at + 30, at + 30 + nameLength));
    const start = at + 30 + nameLength + extra;
    files.push({ name, bytes: bytes.subarray(start, start + size), time: view.getUint16(at + 10, true),
      date: view.getUint16(at + 12, true) });
    at = start + size;
  }
  return files;
}
