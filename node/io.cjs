// The command's files and streams, as the program's file pass has them:
// output kept in order across both streams, the system's error texts,
// files read a block at a time that refuse what is no regular file,
// directories listed by bytes, and the atomic save (a temporary beside the
// file, flushed and renamed over it, the file's mode kept). Names are byte
// strings ('latin1').
'use strict';
const fs = require('node:fs');
const os = require('node:os');
const { randomInt } = require('node:crypto');

const C = fs.constants;
const flag = (name) => C[name] ?? 0;  // Windows has no O_NOFOLLOW or O_NONBLOCK
const path = (name) => Buffer.from(name, 'latin1');
const SEPARATOR = process.platform === 'win32' ? '\\' : '/';

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

function errorText(code) {
  return ERROR_TEXTS[code] ?? `Unknown error ${code}`;
}

// Why an operation failed: the program's IoFailure steps, with the
// system's error code where the step has one.
class Failure extends Error {
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
function failureReason(failure, directory, printable) {
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
    case 'scratch': return `cannot write a temporary file in ${printable(os.tmpdir())}: ${system}`;
    default: return system;
  }
}

// The arguments after the command's own, as bytes: on Linux exactly as
// given (/proc/self/cmdline), elsewhere as Node decodes them from UTF-8.
function argumentBytes() {
  const decoded = process.argv.slice(2);
  if (process.platform === 'linux') {
    try {
      const all = fs.readFileSync('/proc/self/cmdline').toString('latin1').split('\0');
      all.pop();  // after the last NUL
      const raw = all.slice(all.length - decoded.length);
      // Taken only where each is the argument Node decoded.
      if (raw.length === decoded.length && raw.every((arg, i) => Buffer.from(arg, 'latin1').toString() === decoded[i])) {
        return raw;
      }
    } catch {
      // No /proc: as Node decodes them.
    }
  }
  return decoded.map((argument) => Buffer.from(argument).toString('latin1'));
}

// The current directory as bytes: on Linux exactly (/proc/self/cwd),
// elsewhere as Node decodes it.
function currentDirectoryBytes() {
  if (process.platform === 'linux') {
    try {
      return fs.readlinkSync('/proc/self/cwd', { encoding: 'buffer' }).toString('latin1');
    } catch {
      // No /proc: as Node decodes it.
    }
  }
  return Buffer.from(process.cwd()).toString('latin1');
}

// `directory` and `name` with one separator between them.
function joinedPath(directory, name) {
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
class Console {
  #pending = [];
  #size = 0;
  #brokenPipe;
  outputError = null;

  // `brokenPipe()`: ends the process as a write to a closed pipe ends the
  // program (POSIX), before the failure is kept.
  constructor(brokenPipe) {
    this.#brokenPipe = brokenPipe;
  }

  // Writes `text` (a byte string or bytes, which may be a passing view: a
  // copy is kept where they wait).
  out(text) {
    const bytes = typeof text === 'string' ? Buffer.from(text, 'latin1') : text;
    if (this.#size + bytes.length >= 1 << 16) {
      this.flush();
      this.#write(bytes);
      return;
    }
    this.#pending.push(typeof text === 'string' ? bytes : Buffer.from(bytes));
    this.#size += bytes.length;
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
    this.#write(bytes);
  }

  #write(bytes) {
    if (this.outputError || bytes.length === 0) return;
    try {
      writeAll(1, bytes);
    } catch (error) {
      if (error.code === 'EPIPE' && process.platform !== 'win32') this.#brokenPipe();
      this.outputError = error.code ?? 'EIO';
    }
  }
}

// Reads up to `length` bytes of the standard input into `buffer` at `at`:
// how many, 0 at its end; throws a Failure.
function readStandardInput(buffer, at, length) {
  for (;;) {
    try {
      return fs.readSync(0, buffer, at, length, null);
    } catch (error) {
      if (error.code === 'EAGAIN') {
        Atomics.wait(sleep, 0, 0, 5);
        continue;
      }
      if (error.code === 'EOF') return 0;  // Windows' end of a pipe
      throw failed('read', error);
    }
  }
}

// A scratch file of the process's own in the system's temporary folder,
// unnamed at once where the system lets an open file go (elsewhere named
// among the pending temporaries, removed at the end): { fd, remove() }.
// Throws a Failure ('scratch').
function makeScratch(base) {
  for (let attempt = 0; ; attempt++) {
    const name = `${os.tmpdir()}${SEPARATOR}${temporaryName(base)}`;
    let fd;
    try {
      fd = fs.openSync(name, C.O_RDWR | C.O_CREAT | C.O_EXCL | flag('O_NOFOLLOW'), 0o600);
    } catch (error) {
      if (error.code !== 'EEXIST' || attempt === 99) throw failed('scratch', error);
      continue;
    }
    pendingTemporaries.add(name);
    const unlink = () => {
      try {
        fs.unlinkSync(name);
        pendingTemporaries.delete(name);
      } catch {
        // Windows keeps an open file's name: removed once it is closed.
      }
    };
    unlink();
    return {
      fd,
      remove() {
        fs.closeSync(fd);
        if (pendingTemporaries.has(name)) unlink();
      },
    };
  }
}

// The module's scratch files (module.cjs's host.spill), each made at its
// first append. Throws a Failure ('scratch').
class ScratchFiles {
  #files = new Map();  // number: { fd, remove, size }

  append(file, bytes) {
    let scratch = this.#files.get(file);
    if (!scratch) {
      scratch = { ...makeScratch('mapclean-diff'), size: 0 };
      this.#files.set(file, scratch);
    }
    try {
      for (let at = 0; at < bytes.length;) at += fs.writeSync(scratch.fd, bytes, at, bytes.length - at, scratch.size + at);
    } catch (error) {
      throw failed('scratch', error);
    }
    scratch.size += bytes.length;
  }

  read(file, buffer, offset) {
    try {
      return fs.readSync(this.#files.get(file).fd, buffer, 0, buffer.length, offset);
    } catch (error) {
      throw failed('scratch', error);
    }
  }

  clear(file) {
    const scratch = this.#files.get(file);
    if (!scratch) return;
    try {
      fs.ftruncateSync(scratch.fd, 0);
    } catch (error) {
      throw failed('scratch', error);
    }
    scratch.size = 0;
  }

  close(file) {
    this.#files.get(file)?.remove();
    this.#files.delete(file);
  }

  closeAll() {
    for (const file of [...this.#files.keys()]) this.close(file);
  }
}

// The longest line that -only reads, as the program reads them: a piece
// of the text begins after a line end, and one whose block has grown to
// this size without one is refused.
const MAX_FIELD_LINE = 1 << 20;

const identityOf = (info) => ({ dev: info.dev, ino: info.ino, size: info.size, mtimeNs: info.mtimeNs });
const sameIdentity = (a, b) => a.dev === b.dev && a.ino === b.ino && a.size === b.size && a.mtimeNs === b.mtimeNs;

// Where a file is read and written: `name`, followed through links, or an
// entry of a directory run, never followed: then `directory`, which must
// still stand in place when it is saved, and the name a message gives the
// entry's directory.
function fileAt(name, directory = null, directoryName = directory?.path) {
  return { name, noFollow: directory !== null, directory, directoryName };
}

// The regular file at `location`, opened to be read a block at a time:
// { fd, identity, read(buffer, at, length) } (read: from where the last
// read ended; 0 at the end; a Failure 'changed' when the file's length is
// not the size it had when opened, 'read' on an error). Never waits on a
// FIFO; throws a Failure ('open', 'not_regular', 'link'). The caller closes
// `fd`.
function openFile(location) {
  let fd;
  try {
    fd = fs.openSync(path(location.name), C.O_RDONLY | flag('O_NONBLOCK') | (location.noFollow ? flag('O_NOFOLLOW') : 0));
  } catch (error) {
    throw failed(error.code === 'ELOOP' && location.noFollow ? 'link' : 'open', error);
  }
  let info;
  try {
    info = fs.fstatSync(fd, { bigint: true });
    if (!info.isFile()) throw new Failure('not_regular', info.isDirectory() ? 'EISDIR' : null);
  } catch (error) {
    fs.closeSync(fd);
    throw failed('open', error);
  }
  return readerOf(fd, info);
}

// openFile's reader of the open file `fd`, whose fstat is `info`; also
// rewind(), to read it again from its start.
function readerOf(fd, info) {
  const size = info.size;
  let position = 0n;
  return {
    fd,
    identity: identityOf(info),
    read(buffer, at, length) {
      let got;
      try {
        got = fs.readSync(fd, buffer, at, Math.min(length, 1 << 30), position);
      } catch (error) {
        throw failed('read', error);
      }
      position += BigInt(got);
      // A byte past the size seen: the file grew while it was read; short
      // of it at the end: it shrank. Writing back either would lose bytes.
      if (position > size || (got === 0 && position < size)) throw new Failure('changed');
      return got;
    },
    rewind() { position = 0n; },
  };
}

// A copy of the standard input in a scratch file (makeScratch):
// { file (openFile's), remove() }. Throws a Failure.
function copyStandardInput() {
  const { fd, remove } = makeScratch('mapclean-stdin');
  try {
    const block = Buffer.allocUnsafe(1 << 20);
    for (let got; (got = readStandardInput(block, 0, block.length)) > 0;) {
      try {
        writeAll(fd, block.subarray(0, got));
      } catch (error) {
        throw failed('scratch', error);
      }
    }
    return { file: readerOf(fd, fs.fstatSync(fd, { bigint: true })), remove };
  } catch (error) {
    remove();
    throw error;
  }
}

// A directory of a directory run: its path as the run names it, its
// parent, and what was found there, so that a save can tell it still
// stands in place.
class Directory {
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
    let entries;
    try {
      // Through ".", as the program lists it: a folder that can be read but
      // not entered is refused whole.
      entries = fs.readdirSync(path(joinedPath(this.path, '.')), { encoding: 'buffer', withFileTypes: true });
    } catch (error) {
      throw failed('open', error);
    }
    const maps = [];
    const subdirectories = [];
    for (const entry of entries) {
      const name = entry.name.toString('latin1');
      if (/\.map$/i.test(name)) maps.push(name);
      // The listing's own kind (Node asks lstat only where the file system
      // gives none), as the program reads it: a subdirectory that cannot be
      // entered is found, and then named in an error line.
      if (entry.isDirectory()) subdirectories.push(name);
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
const pendingTemporaries = new Set();

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

// A new text for the file at `location`, read as the version `identity`,
// put in its place as the program's ReplacementFile does: written to a
// temporary beside it and renamed over it, so that it holds its old or its
// new text in full; a link is followed and stays a link; a read-only file,
// or one changed meanwhile, is not replaced. The temporary starts as a copy
// of the file made by the system's own copy, which on macOS takes the
// file's ACL, extended attributes and flags along, cut to the text before
// the first change; the new text's rest is then appended. Each step
// returns null, or { failure, directory } (where the temporary was to be,
// for the message) with the file untouched and no temporary left.
class ReplacementFile {
  #location;
  #identity;
  #directory;
  #target;
  #directoryName;
  #fd = null;
  #temporary = null;
  #mode = 0;

  constructor(location, identity) {
    this.#location = location;
    this.#identity = identity;
  }

  // Makes the temporary, with the file's first `keep` bytes. `warn(file)`
  // is told, before anything is written, whether the file has other hard
  // links and which set-ID bits it loses.
  open(keep, warn) {
    const location = this.#location;
    if (location.directory) {
      [this.#directory, this.#target] = splitPath(location.name);
      this.#directoryName = location.directoryName;
    } else {
      let resolved;
      try {
        resolved = fs.realpathSync.native(path(location.name), { encoding: 'buffer' }).toString('latin1');
      } catch (error) {
        return { failure: failed('open', error), directory: '' };
      }
      [this.#directory, this.#target] = splitPath(resolved);
      let isLink = false;
      try {
        isLink = fs.lstatSync(path(location.name)).isSymbolicLink();
      } catch {
        // As the program: the path as given names the directory.
      }
      const [given, , hasDirectory] = splitPath(location.name);
      this.#directoryName = isLink ? this.#directory : hasDirectory ? given : '.';
    }
    const targetPath = joinedPath(this.#directory, this.#target);

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
      return this.#fail(error.code === 'ELOOP' ? 'link' : 'open', error);
    }
    if (!info.isFile()) return this.#fail('not_regular', new Failure('not_regular'));

    for (let attempt = 0; attempt < 100 && this.#temporary === null; attempt++) {
      const name = joinedPath(this.#directory, temporaryName(this.#target));
      try {
        fs.copyFileSync(path(targetPath), path(name), C.COPYFILE_EXCL);
        this.#temporary = name;
        pendingTemporaries.add(name);
      } catch (error) {
        if (error.code !== 'EEXIST') {
          this.#temporary = name;  // a copy that failed midway may have left its beginning
          return this.#fail('create_temporary', error);
        }
        if (attempt === 99) return this.#fail('create_temporary', error);
      }
    }
    try {
      this.#fd = fs.openSync(path(this.#temporary), C.O_WRONLY | flag('O_NOFOLLOW'));
      fs.ftruncateSync(this.#fd, keep);
    } catch (error) {
      return this.#fail('create_temporary', error);
    }
    let mode = Number(info.mode) & 0o7777;
    let lost = 0;
    try {
      if (process.platform !== 'win32') {
        try {
          fs.fchownSync(this.#fd, Number(info.uid), Number(info.gid));
        } catch {
          try {
            fs.fchownSync(this.#fd, -1, Number(info.gid));
          } catch {
            // The file then belongs to whoever saves it, as with any editor.
          }
        }
        const made = fs.fstatSync(this.#fd, { bigint: true });
        if ((mode & 0o4000) && made.uid !== info.uid) lost |= 0o4000;
        if ((mode & 0o2000) && made.gid !== info.gid) lost |= 0o2000;
        mode &= ~lost;
      }
    } catch (error) {
      return this.#fail('attributes', error);
    }
    this.#mode = mode;
    warn({ otherLinks: info.nlink > 1n, lostSetIdBits: lost });
    return null;
  }

  // Appends `bytes` to the temporary.
  write(bytes) {
    try {
      writeAll(this.#fd, bytes);
      return null;
    } catch (error) {
      return this.#fail('write', error);
    }
  }

  // Puts the temporary in the file's place, provided the file is still the
  // version read and (a directory run's entry) its directory stands where
  // the run found it.
  commit() {
    try {
      if (process.platform !== 'win32') fs.fchmodSync(this.#fd, this.#mode);
    } catch (error) {
      return this.#fail('attributes', error);
    }
    try {
      fs.fsyncSync(this.#fd);
      const closing = this.#fd;
      this.#fd = null;
      fs.closeSync(closing);  // a late write error counts too
    } catch (error) {
      return this.#fail('write', error);
    }
    const targetPath = joinedPath(this.#directory, this.#target);
    let now = null;
    try {
      now = fs.lstatSync(path(targetPath), { bigint: true });
    } catch {
      // Removed meanwhile: changed.
    }
    if (!now || !sameIdentity(identityOf(now), this.#identity)) return this.#fail('changed', new Failure('changed'));
    if (this.#location.directory && !this.#location.directory.stillInPlace()) {
      return this.#fail('moved', new Failure('moved'));
    }
    try {
      fs.renameSync(path(this.#temporary), path(targetPath));
    } catch (error) {
      return this.#fail('replace', error);
    }
    pendingTemporaries.delete(this.#temporary);
    this.#temporary = null;
    try {
      const dir = fs.openSync(path(this.#directory), C.O_RDONLY);
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

  // Removes the temporary, if any.
  discard() {
    if (this.#fd !== null) fs.closeSync(this.#fd);
    this.#fd = null;
    if (this.#temporary !== null) {
      try {
        fs.unlinkSync(path(this.#temporary));
      } catch {
        // Gone already.
      }
      pendingTemporaries.delete(this.#temporary);
      this.#temporary = null;
    }
  }

  #fail(step, error) {
    this.discard();
    return { failure: failed(step, error), directory: this.#directoryName };
  }
}

module.exports = {
  SEPARATOR, MAX_FIELD_LINE, pendingTemporaries, errorText, failureReason, argumentBytes, currentDirectoryBytes,
  joinedPath, readStandardInput, fileAt, openFile, copyStandardInput, Failure, Console, ScratchFiles, Directory,
  ReplacementFile,
};
