// The command's files and streams, as the program's file pass has them:
// output kept in order across both streams, the system's error texts,
// whole-file reads that refuse what is no regular file, directories listed
// by bytes, and the atomic save (a temporary beside the file, flushed and
// renamed over it, the file's mode kept). Names are byte strings ('latin1').
import fs from 'node:fs';
import { randomInt } from 'node:crypto';

const C = fs.constants;
const flag = (name) => C[name] ?? 0;  // Windows has no O_NOFOLLOW or O_NONBLOCK
const path = (name) => Buffer.from(name, 'latin1');
export const SEPARATOR = process.platform === 'win32' ? '\\' : '/';

// The C library's texts for the error numbers a file pass meets (glibc's
// words, as the program prints them on Linux).
const ERROR_TEXTS = {
  EPERM: 'Operation not permitted', ENOENT: 'No such file or directory', EINTR: 'Interrupted system call',
  EIO: 'Input/output error', ENXIO: 'No such device or address', EBADF: 'Bad file descriptor',
  EAGAIN: 'Resource temporarily unavailable', ENOMEM: 'Cannot allocate memory', EACCES: 'Permission denied',
  EFAULT: 'Bad address', EBUSY: 'Device or resource busy', EEXIST: 'File exists', EXDEV: 'Invalid cross-device link',
  ENODEV: 'No such device', ENOTDIR: 'Not a directory', EISDIR: 'Is a directory', EINVAL: 'Invalid argument',
  ENFILE: 'Too many open files in system', EMFILE: 'Too many open files', ETXTBSY: 'Text file busy',
  EFBIG: 'File too large', ENOSPC: 'No space left on device', ESPIPE: 'Illegal seek', EROFS: 'Read-only file system',
  EMLINK: 'Too many links', EPIPE: 'Broken pipe', ENAMETOOLONG: 'File name too long', ENOSYS: 'Function not implemented',
  ENOTEMPTY: 'Directory not empty', ELOOP: 'Too many levels of symbolic links', EOVERFLOW: 'Value too large for defined data type',
  ENOTSUP: 'Operation not supported', EOPNOTSUPP: 'Operation not supported', ESTALE: 'Stale file handle',
  EDQUOT: 'Disk quota exceeded', ETIMEDOUT: 'Connection timed out', ENOTCONN: 'Transport endpoint is not connected',
  EILSEQ: 'Invalid or incomplete multibyte or wide character', EUCLEAN: 'Structure needs cleaning',
};

export function errorText(code) {
  return ERROR_TEXTS[code] ?? `Unknown error ${code}`;
}

// Why an operation failed: the program's IoFailure steps, with the
// system's error code where the step has one.
export class Failure extends Error {
  constructor(step, code = null) {
    super(step);
    this.step = step;
    this.code = code;
  }
}
const failed = (step, error) => {
  if (error instanceof Failure) return error;
  if (typeof error?.code !== 'string') throw error;  // no system error: a fault of the command
  return new Failure(step, error.code);
};

// The reason an error line gives in its parentheses (`printable`: the name
// as a line shows it, for the directory of a temporary).
export function failureReason(failure, directory, printable) {
  const system = failure.code ? errorText(failure.code) : '';
  switch (failure.step) {
    case 'not_regular': return failure.code ? system : 'not a regular file';
    case 'link': return 'it has become a symbolic link';
    case 'memory': return 'out of memory';
    case 'changed': return 'the file changed while it was being cleaned';
    case 'create_temporary': return `cannot create a temporary file in ${printable(directory)}: ${system}`;
    case 'attributes': return `cannot give the new file the original's attributes: ${system}`;
    case 'replace': return `cannot replace the file: ${system}`;
    case 'moved': return 'its directory was moved meanwhile';
    case 'long_line': return 'a line is longer than 1 MiB, which -only does not read';
    default: return system;
  }
}

// `directory` and `name` with one separator between them.
export function joinedPath(directory, name) {
  const last = directory.at(-1);
  return directory && last !== SEPARATOR && last !== '/' ? directory + SEPARATOR + name : directory + name;
}

const sleep = new Int32Array(new SharedArrayBuffer(4));
// Writes all of `bytes` to `fd`, waiting out a full non-blocking pipe.
function writeAll(fd, bytes) {
  for (let at = 0; at < bytes.length;) {
    try {
      at += fs.writeSync(fd, bytes, at, bytes.length - at);
    } catch (error) {
      if (error.code !== 'EAGAIN') throw error;
      Atomics.wait(sleep, 0, 0, 5);
    }
  }
}

// The standard output (buffered; its first failure kept, as the program
// keeps it for its last line) and error (unbuffered, after the output is
// flushed, so that the lines of both keep their order).
export class Console {
  #pending = [];
  #size = 0;
  #brokenPipe;
  outputError = null;

  // `brokenPipe()`: ends the process as a write to a closed pipe ends the
  // program (POSIX), before the failure is kept.
  constructor(brokenPipe) {
    this.#brokenPipe = brokenPipe;
  }

  out(text) {
    const bytes = typeof text === 'string' ? Buffer.from(text, 'latin1') : text;
    this.#pending.push(bytes);
    this.#size += bytes.length;
    if (this.#size >= 1 << 16) this.flush();
  }

  error(text) {
    this.flush();
    try {
      writeAll(2, Buffer.from(text, 'latin1'));
    } catch {
      // Nowhere left to say it.
    }
  }

  flush() {
    const bytes = Buffer.concat(this.#pending);
    this.#pending = [];
    this.#size = 0;
    if (this.outputError || bytes.length === 0) return;
    try {
      writeAll(1, bytes);
    } catch (error) {
      if (error.code === 'EPIPE' && process.platform !== 'win32') this.#brokenPipe();
      this.outputError = error.code ?? 'EIO';
    }
  }
}

// All of the standard input; throws a Failure.
export function readStandardInput() {
  const chunks = [];
  const chunk = Buffer.allocUnsafe(1 << 16);
  for (;;) {
    let got;
    try {
      got = fs.readSync(0, chunk, 0, chunk.length, null);
    } catch (error) {
      if (error.code === 'EAGAIN') {
        Atomics.wait(sleep, 0, 0, 5);
        continue;
      }
      if (error.code === 'EOF') return Buffer.concat(chunks);  // Windows' end of a pipe
      throw failed('read', error);
    }
    if (got === 0) return Buffer.concat(chunks);
    chunks.push(Buffer.from(chunk.subarray(0, got)));
  }
}

// The longest line that -only reads, as the program reads them: a piece
// of the file begins after a line end, and one whose next 1 MiB (with more
// of the file to come) holds no line end is refused.
const MAX_FIELD_LINE = 1 << 20;

// True when `bytes` holds such a line.
export function holdsLongLine(bytes) {
  for (let start = 0; bytes.length - start >= MAX_FIELD_LINE;) {
    const end = bytes.indexOf(10, start);
    if (end === -1 || end - start >= MAX_FIELD_LINE) return true;
    start = end + 1;
  }
  return false;
}

const identityOf = (info) => ({ dev: info.dev, ino: info.ino, size: info.size, mtimeNs: info.mtimeNs });
const sameIdentity = (a, b) => a.dev === b.dev && a.ino === b.ino && a.size === b.size && a.mtimeNs === b.mtimeNs;

// Where a file is read and written: `name`, followed through links, or an
// entry of a directory run, never followed: then `directory`, which must
// still stand in place when it is saved, and the name a message gives the
// entry's directory.
export function fileAt(name, directory = null, directoryName = directory?.path) {
  return { name, noFollow: directory !== null, directory, directoryName };
}

// The whole content of the regular file at `location`, and the identity of
// the version read: { content, identity }. Never waits on a FIFO; throws a
// Failure ('open', 'not_regular', 'link', 'memory', 'read', 'changed').
export function readWholeFile(location) {
  let fd;
  try {
    fd = fs.openSync(path(location.name), C.O_RDONLY | flag('O_NONBLOCK') | (location.noFollow ? flag('O_NOFOLLOW') : 0));
  } catch (error) {
    throw failed(error.code === 'ELOOP' && location.noFollow ? 'link' : 'open', error);
  }
  try {
    let info;
    try {
      info = fs.fstatSync(fd, { bigint: true });
    } catch (error) {
      throw failed('open', error);
    }
    if (!info.isFile()) throw new Failure('not_regular', info.isDirectory() ? 'EISDIR' : null);
    if (info.size > BigInt(Math.min(Number.MAX_SAFE_INTEGER, 2 ** 32 - 1))) throw new Failure('memory', 'ENOMEM');
    const size = Number(info.size);
    let content;
    try {
      content = Buffer.allocUnsafe(size);
    } catch {
      throw new Failure('memory', 'ENOMEM');
    }
    // A byte past the size seen: the file grew while it was read.
    for (let at = 0; at <= size;) {
      let got;
      try {
        got = at < size ? fs.readSync(fd, content, at, size - at, at) : fs.readSync(fd, Buffer.alloc(1), 0, 1, at);
      } catch (error) {
        throw failed('read', error);
      }
      if (at === size && got > 0) throw new Failure('changed');
      if (got === 0) {
        if (at < size) throw new Failure('changed');
        break;
      }
      at += got;
    }
    return { content, identity: identityOf(info) };
  } finally {
    fs.closeSync(fd);
  }
}

// A directory of a directory run: its path as the run names it, its
// parent, and what was found there, so that a save can tell it still
// stands in place.
export class Directory {
  constructor(name, parent, info, real) {
    this.path = name;
    this.parent = parent;
    this.root = parent ? parent.root : this;
    this.real = real;  // the root's real path; empty when unknown
    this.identity = info && { dev: info.dev, ino: info.ino };
  }

  // The root of a run (links followed); throws a Failure.
  static openRoot(name) {
    let info;
    try {
      info = fs.statSync(path(name), { bigint: true });
    } catch (error) {
      throw failed('open', error);
    }
    if (!info.isDirectory()) throw new Failure('open', 'ENOTDIR');
    let real = '';
    try {
      real = fs.realpathSync.native(path(name), { encoding: 'buffer' }).toString('latin1');
    } catch {
      // Unknown: every link then counts as leading outside.
    }
    return new Directory(name, null, info, real);
  }

  // The subdirectory `name`, never through a link; throws a Failure.
  openSubdirectory(name) {
    const sub = joinedPath(this.path, name);
    let info;
    try {
      info = fs.lstatSync(path(sub), { bigint: true });
    } catch (error) {
      throw failed('open', error);
    }
    if (info.isSymbolicLink()) throw new Failure('link', 'ELOOP');
    if (!info.isDirectory()) throw new Failure('open', 'ENOTDIR');
    return new Directory(sub, this, info, '');
  }

  // { maps, subdirectories }: the names ending in ".map" in any letter case
  // (any kind of entry), and the subdirectories that are no links, each
  // sorted by bytes. Throws a Failure.
  list() {
    let names;
    try {
      names = fs.readdirSync(path(this.path), { encoding: 'buffer' }).map((name) => name.toString('latin1'));
    } catch (error) {
      throw failed('open', error);
    }
    const maps = [];
    const subdirectories = [];
    for (const name of names) {
      if (/\.map$/i.test(name)) maps.push(name);
      try {
        if (fs.lstatSync(path(joinedPath(this.path, name))).isDirectory()) subdirectories.push(name);
      } catch {
        // Gone or unreadable: no subdirectory to enter.
      }
    }
    const byBytes = (a, b) => (a < b ? -1 : a > b ? 1 : 0);
    return { maps: maps.sort(byBytes), subdirectories: subdirectories.sort(byBytes) };
  }

  // Where the entry `name` is read and written: { place: 'here' | 'inside'
  // | 'outside' | 'missing', location, failure }. A link is resolved once
  // and followed only to a file within the run's directory.
  locate(name) {
    const entry = joinedPath(this.path, name);
    const here = { place: 'here', location: fileAt(entry, this) };
    let info;
    try {
      info = fs.lstatSync(path(entry));
    } catch {
      return here;  // opening it says what it is
    }
    if (!info.isSymbolicLink()) return here;
    let resolved;
    try {
      resolved = fs.realpathSync.native(path(entry), { encoding: 'buffer' }).toString('latin1');
    } catch (error) {
      return { place: 'missing', failure: failed('open', error) };
    }
    const root = this.root.real;
    const within = root === '/' ? resolved.startsWith('/')
      : resolved.startsWith(root) && (resolved.length === root.length || resolved[root.length] === '/');
    if (!root || !within) return { place: 'outside' };
    // Its directory as the run names it: the root's path, then the names below.
    const below = resolved.slice(root.length).split('/').filter((part) => part);
    below.pop();
    const directoryName = below.reduce(joinedPath, this.root.path);
    return { place: 'inside', location: fileAt(resolved, this.root, directoryName) };
  }

  // True when each directory from this one up to the root still is what
  // the run found.
  stillInPlace() {
    for (let dir = this; dir.parent; dir = dir.parent) {
      try {
        const info = fs.lstatSync(path(dir.path), { bigint: true });
        if (info.dev !== dir.identity.dev || info.ino !== dir.identity.ino) return false;
      } catch {
        return false;
      }
    }
    return true;
  }
}

// The temporaries that exist now, removed if the process must end.
export const pendingTemporaries = new Set();

function temporaryName(base) {
  const letters = 'ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789';
  let name = `.${base.slice(0, 200)}~mapclean-`;
  for (let i = 0; i < 6; i++) name += letters[randomInt(letters.length)];
  return name;
}

function splitPath(name) {
  const slash = Math.max(name.lastIndexOf('/'), SEPARATOR === '\\' ? name.lastIndexOf('\\') : -1);
  if (slash < 0) return ['.', name, false];
  return [slash === 0 ? '/' : name.slice(0, slash), name.slice(slash + 1), true];
}

// Puts `newText` in the place of the file at `location`, read as the
// version `identity`, as the program's ReplacementFile does: a link is
// followed and stays a link; a read-only file, or one changed meanwhile,
// is not replaced. `warn(file)` is told, before the file is replaced,
// whether it has other hard links and which set-ID bits it loses. Returns
// null when saved, or { failure, directory } (where the temporary was to
// be, for the message), the file untouched and no temporary left.
export function saveFile(location, identity, newText, warn) {
  let directory;
  let target;
  let directoryName;
  if (location.directory) {
    [directory, target] = splitPath(location.name);
    directoryName = location.directoryName;
  } else {
    let resolved;
    try {
      resolved = fs.realpathSync.native(path(location.name), { encoding: 'buffer' }).toString('latin1');
    } catch (error) {
      return { failure: failed('open', error), directory: '' };
    }
    [directory, target] = splitPath(resolved);
    let isLink = false;
    try {
      isLink = fs.lstatSync(path(location.name)).isSymbolicLink();
    } catch {
      // As the program: the path as given names the directory.
    }
    const [given, , hasDirectory] = splitPath(location.name);
    directoryName = isLink ? directory : hasDirectory ? given : '.';
  }
  const targetPath = joinedPath(directory, target);
  let fd = null;
  let temporary = null;
  const fail = (step, error) => {
    if (fd !== null) fs.closeSync(fd);
    if (temporary !== null) {
      try {
        fs.unlinkSync(path(temporary));
      } catch {
        // Gone already.
      }
      pendingTemporaries.delete(temporary);
    }
    return { failure: failed(step, error), directory: directoryName };
  };

  // The original must be a regular file that may be written.
  let info;
  try {
    const original = fs.openSync(path(targetPath), C.O_WRONLY | flag('O_NONBLOCK') | flag('O_NOFOLLOW'));
    try {
      info = fs.fstatSync(original, { bigint: true });
    } finally {
      fs.closeSync(original);
    }
  } catch (error) {
    return fail(error.code === 'ELOOP' ? 'link' : 'open', error);
  }
  if (!info.isFile()) return fail('not_regular', new Failure('not_regular'));

  for (let attempt = 0; attempt < 100 && fd === null; attempt++) {
    const name = joinedPath(directory, temporaryName(target));
    try {
      fd = fs.openSync(path(name), C.O_WRONLY | C.O_CREAT | C.O_EXCL | flag('O_NOFOLLOW'), 0o600);
      temporary = name;
      pendingTemporaries.add(name);
    } catch (error) {
      if (error.code !== 'EEXIST' || attempt === 99) return fail('create_temporary', error);
    }
  }
  let mode = Number(info.mode) & 0o7777;
  let lost = 0;
  try {
    if (process.platform !== 'win32') {
      try {
        fs.fchownSync(fd, Number(info.uid), Number(info.gid));
      } catch {
        try {
          fs.fchownSync(fd, -1, Number(info.gid));
        } catch {
          // The file then belongs to whoever saves it, as with any editor.
        }
      }
      const made = fs.fstatSync(fd, { bigint: true });
      if ((mode & 0o4000) && made.uid !== info.uid) lost |= 0o4000;
      if ((mode & 0o2000) && made.gid !== info.gid) lost |= 0o2000;
      mode &= ~lost;
    }
  } catch (error) {
    return fail('attributes', error);
  }
  warn({ otherLinks: info.nlink > 1n, lostSetIdBits: lost });
  try {
    writeAll(fd, newText);
  } catch (error) {
    return fail('write', error);
  }
  try {
    if (process.platform !== 'win32') fs.fchmodSync(fd, mode);
  } catch (error) {
    return fail('attributes', error);
  }
  try {
    fs.fsyncSync(fd);
    const closing = fd;
    fd = null;
    fs.closeSync(closing);  // a late write error counts too
  } catch (error) {
    return fail('write', error);
  }
  let now = null;
  try {
    now = fs.lstatSync(path(targetPath), { bigint: true });
  } catch {
    // Removed meanwhile: changed.
  }
  if (!now || !sameIdentity(identityOf(now), identity)) return fail('changed', new Failure('changed'));
  if (location.directory && !location.directory.stillInPlace()) return fail('moved', new Failure('moved'));
  try {
    fs.renameSync(path(temporary), path(targetPath));
  } catch (error) {
    return fail('replace', error);
  }
  pendingTemporaries.delete(temporary);
  try {
    const dir = fs.openSync(path(directory), C.O_RDONLY);
    try {
      fs.fsyncSync(dir);
    } finally {
      fs.closeSync(dir);
    }
  } catch {
    // Best effort: the rename itself is atomic.
  }
  return null;
}
