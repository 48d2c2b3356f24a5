// Whole-file reading and crash-safe replacement. One implementation per
// platform (file_io-posix.cc, file_io-win32.cc).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

enum class ReadStatus {
    ok,
    open_failed,   // missing, unreadable, or not a regular file
    alloc_failed,  // no memory for the content
    read_failed,   // read error, or the size changed while reading
};

// What tells one version of a file from another: which file it is, its size
// and its last modification time.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t file = 0;
    uint64_t size = 0;
    int64_t modified = 0;  // in the platform's finest unit
    bool operator==(const FileIdentity&) const = default;
};

// Releases a content block as the platform allocated it.
struct ContentDeleter {
    size_t mappedSize = 0;  // nonzero: a memory mapping of this size
    void operator()(char* data) const;
};

// The whole content of a file, in one block of exactly its size, and the
// identity of the version it was read from.
struct FileContent {
    std::unique_ptr<char[], ContentDeleter> data;
    size_t size = 0;
    FileIdentity identity;
    std::string_view view() const { return {data.get(), size}; }
};

// Reads the whole regular file at `path` into `content`. Never blocks on a
// FIFO or device: such targets, and directories, give open_failed without
// being read. On any status but ok, `content` is left empty.
ReadStatus read_whole_file(const std::string& path, FileContent& content);

// A regular file read a block at a time, for the runs that need not hold it
// whole.
class FileReader {
public:
    FileReader() = default;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    ~FileReader();

    // Opens the regular file at `path`: ok, or open_failed for whatever
    // read_whole_file refuses to open (never blocking on a FIFO).
    ReadStatus open(const std::string& path);
    // Reads up to `size` bytes into `data` from `offset`: how many, 0 past
    // the end of the file, -1 on a read error. Two threads may read at once.
    int64_t read_at(uint64_t offset, char* data, size_t size);
    // Closes the file; nothing more can be read.
    void close();
    // The version of the file opened, as it was when opened.
    const FileIdentity& identity() const { return identity_; }

private:
    intptr_t handle_ = -1;  // the platform's descriptor or handle
    FileIdentity identity_;
};

// Flushes a growing temporary to disk while it is still being written.
class EarlyFlush;

// A new content for an existing file, written to a temporary file in the
// same directory (whose name never ends in ".map") and put in the file's
// place only by commit(), so that whatever happens the file holds either its
// old or its new content in full. A symbolic link is followed and stays a
// link; the file's permission bits, and on POSIX its extended attributes
// (its ACL among them), are kept: where they cannot be, nothing is replaced.
// The temporary is removed unless committed, also when the process is ended
// by SIGINT, SIGTERM or SIGHUP (on Windows, a console's Ctrl-C, Ctrl-Break or
// close) while it exists.
class ReplacementFile {
public:
    ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;
    ~ReplacementFile();

    // Creates the temporary for the file at `path`, whose content was read
    // from the version `identity`. False, creating nothing, when the file is
    // not a regular file that may be written.
    bool open(const std::string& path, const FileIdentity& identity);
    // Appends to the temporary; false on any failure.
    bool write(std::string_view data);
    // Flushes the temporary to disk, closes it and renames it over the file,
    // provided the file is still the version that was read: one that was
    // changed, replaced or removed meanwhile (while its user was asked, say)
    // is not overwritten. False on any failure: the file is then untouched
    // and the temporary gone.
    bool commit();
    // True when the file opened has more than one hard link: the others keep
    // the old content once it is replaced.
    bool has_other_links() const { return otherLinks_; }

private:
    void discard();

    intptr_t handle_ = -1;  // the platform's descriptor or handle
    std::string target_;     // the real file, links resolved
    std::string temporary_;
    FileIdentity identity_;
    bool otherLinks_ = false;
    uint64_t written_ = 0;        // bytes written to the temporary
    uint64_t flushRequested_ = 0; // written_ when the last early flush was asked for
    std::unique_ptr<EarlyFlush> earlyFlush_;  // none until the temporary is large
};

// Reads all of the standard input, as bytes (no line-end conversion);
// false on a read error or when memory runs out.
bool read_standard_input(std::string& content);

// Prepares the process for file I/O: a write beyond a file-size limit must be
// reported as a failed write, not kill the process mid-save; an interrupt
// must not leave a temporary behind.
void prepare_file_io();
