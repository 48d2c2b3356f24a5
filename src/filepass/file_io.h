// Reading files, the directories of directory runs, and crash-safe
// replacement. One implementation per platform (file_io-posix.cc,
// file_io-win32.cc).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// The separator the platform puts between a directory and a name.
extern const char kPathSeparator;

// `directory` and `name` with exactly one separator between them: none is
// added after a directory that already ends in one ("maps/" and "x.map" give
// "maps/x.map"; on Windows '/' ends one too), so that every line and
// annotation names the file as the user would.
std::string joined_path(std::string_view directory, std::string_view name);

// Why an operation on a file or directory failed, for its error line.
struct IoFailure {
    enum Step {
        none,              // nothing failed
        open,              // it could not be opened (`error` says why)
        not_regular,       // it is no regular file (a directory, FIFO, device)
        link,              // an entry that was no link when its directory was read has become one
        memory,            // no memory for its content
        read,              // a read failed (`error` says why)
        changed,           // it changed while it was read, or before it could be replaced
        create_temporary,  // no temporary file could be made beside it
        write,             // writing or flushing the temporary failed
        attributes,        // the temporary could not be given the file's attributes
        replace,           // the temporary could not be renamed over it
        moved,             // its directory left the run's directory
        long_line,         // with -only, a line longer than kMaxFieldLine (read whole, it would take far more memory)
        scratch,           // a scratch file could not be made or written (`error` says why)
    };
    Step step = none;
    int error = 0;  // the system's error number (errno, or Windows' own), where the step has one
    bool failed() const { return step != none; }
};

// The longest line that -only reads: a line's fields are read with the line
// whole, and take many times its size. Real map lines are far shorter.
inline constexpr size_t kMaxFieldLine = 1 << 20;

// The system's text for an error number (strerror, or Windows' message).
const char* system_error_text(int error);

// The reason an error line gives for `failure`, in its parentheses:
// "Permission denied", "cannot create a temporary file in DIR: Permission
// denied", ... `directory` names the directory the temporary was to be made in.
std::string failure_reason(const IoFailure& failure, std::string_view directory);

// What tells one version of a file from another: which file it is, its size
// and its last modification time.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t file = 0;
    uint64_t size = 0;
    int64_t modified = 0;  // in the platform's finest unit
    bool operator==(const FileIdentity&) const = default;
};

class Directory;

// Where a file is read and written: a path (links followed), or an entry of
// an open directory, never followed through a link (on Windows the entry may
// be a path below the directory, and is judged by where its handle leads).
struct FileLocation {
    std::string path;                            // used when `directory` is null
    std::shared_ptr<const Directory> directory;  // the open directory holding the entry
    std::string entry;                           // the entry's name there
};

// One file of a run: its name as the run shows it (as given, or joined by
// a directory run) and where it is read and written.
struct FileTarget {
    std::string name;
    FileLocation location;
};

// A file named on the command line: its path, followed through links.
inline FileTarget file_at_path(const std::string& path) { return FileTarget{path, FileLocation{path, nullptr, {}}}; }

// What Directory::locate found an entry to be.
enum class EntryPlace {
    here,     // no link: the entry itself
    inside,   // a link to a file in the run's directory: that file
    outside,  // a link to something outside the run's directory
    missing,  // a link to nothing, or one that could not be followed (`failure` says why)
};

// An open directory of a directory run. Its entries and subdirectories are
// opened through it, never by a path looked up again, so that no entry
// swapped for a link (or a directory swapped for one) can make a run reach
// outside the directory it was given. POSIX: relative to its descriptor,
// never following a link. Windows: by path, with every directory of the run
// held open so that none can be renamed or removed meanwhile, and each file
// opened without following a reparse point and judged by its final path.
class Directory : public std::enable_shared_from_this<Directory> {
public:
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    ~Directory();

    // Opens the directory at `path` (links followed): the root of a run.
    // nullptr, with `failure`, when it cannot be opened.
    static std::shared_ptr<Directory> open_root(const std::string& path, IoFailure& failure);
    // Opens the subdirectory `name` of this one, never through a link;
    // nullptr, with `failure`, when it cannot be opened.
    std::shared_ptr<Directory> open_subdirectory(const std::string& name, IoFailure& failure) const;
    // Its entries: in `maps` those whose names match "*.map" (any kind of
    // entry; POSIX: names ending in ".map" in any letter case, sorted by
    // bytes; Windows: what FindFirstFile matches, in its order), in
    // `subdirectories` its subdirectories that are no links, in the same
    // order. False, with `failure`, when it cannot be listed.
    bool list(std::vector<std::string>& maps, std::vector<std::string>& subdirectories, IoFailure& failure) const;
    // Where the entry `name` is to be read and written, in `location`: the
    // entry itself, or for a link, resolved once, the file it names when
    // that lies in the run's directory.
    EntryPlace locate(const std::string& name, FileLocation& location, IoFailure& failure) const;
    // True when the directory still stands where the run found it, below
    // its root (the root itself always does).
    bool still_in_place() const;
    // The directory as the run names it: the root's path as given, then
    // each subdirectory's name after its parent's and kPathSeparator.
    const std::string& path() const { return path_; }
    // The real (Windows: final) path of the run's directory; empty when it
    // could not be known, and then every link counts as leading outside.
    const std::string& root_path() const { return root_ ? root_->real_ : real_; }
    intptr_t handle() const { return handle_; }

private:
    Directory() = default;

    intptr_t handle_ = -1;                      // the platform's descriptor or handle
    std::shared_ptr<const Directory> parent_;   // none for the root
    std::shared_ptr<const Directory> root_;     // the run's directory; none for the root itself
    std::string name_;                          // its name in its parent
    std::string path_;
    std::string real_;                          // the root's real or final path; empty when unknown
    uint64_t device_ = 0, file_ = 0;            // what was opened
};

// Bytes read at any offset, by two threads at once: a file being read a
// piece at a time, or a scratch file.
class RandomAccess {
public:
    // Reads up to `size` bytes into `data` from `offset`: how many, 0 past
    // the end, -1 on a read error (its number in `error`).
    virtual int64_t read_at(uint64_t offset, char* data, size_t size, int& error) = 0;
    // The size the bytes had when they were opened; a read that ends
    // elsewhere means they changed.
    virtual uint64_t size_when_opened() const = 0;

protected:
    ~RandomAccess() = default;
};

// A regular file read a block at a time, for the runs that need not hold it
// whole.
class FileReader final : public RandomAccess {
public:
    FileReader() = default;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    ~FileReader();

    // Opens the regular file at `location`: never blocks on a FIFO or
    // device, which fail (not_regular) unread, as directories do; false,
    // with `failure`, when it cannot.
    bool open(const FileLocation& location, IoFailure& failure);
    // Reads up to `size` bytes into `data` from `offset`: how many, 0 past
    // the end of the file, -1 on a read error (its number in `error`). Two
    // threads may read at once.
    int64_t read_at(uint64_t offset, char* data, size_t size, int& error) override;
    uint64_t size_when_opened() const override { return identity_.size; }
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
// old or its new content in full. A path is followed through symbolic links,
// which stay links; an entry of a directory run is replaced in its
// directory. The file's permission bits (set-user-ID and set-group-ID
// included, where the replacement keeps the owner and group) and on POSIX
// its extended attributes (its ACL among them) are kept: where they cannot
// be, nothing is replaced. The temporary is removed unless committed, also
// when a signal ends the process while it exists (on Windows, a console's
// Ctrl-C, Ctrl-Break or close).
class ReplacementFile {
public:
    ReplacementFile();
    ReplacementFile(const ReplacementFile&) = delete;
    ReplacementFile& operator=(const ReplacementFile&) = delete;
    ~ReplacementFile();

    // Creates the temporary for the file at `location`, whose content was
    // read from the version `identity`. False, creating nothing, when the
    // file is not a regular file that may be written, or no temporary can be
    // made; failure() says why.
    bool open(const FileLocation& location, const FileIdentity& identity);
    // Appends to the temporary; false on any failure.
    bool write(std::string_view data);
    // Flushes the temporary to disk, gives it the file's mode, closes it and
    // renames it over the file, provided the file is still the version that
    // was read (one changed, replaced or removed meanwhile, while its user
    // was asked, say, is not overwritten) and its directory still stands
    // where the run found it. False on any failure: the file is then
    // untouched and the temporary gone.
    bool commit();
    // Why open(), write() or commit() failed.
    const IoFailure& failure() const { return failure_; }
    // The directory the temporary is made in, as failure_reason names it.
    const std::string& directory_name() const { return directoryName_; }
    // True when the file opened has more than one hard link: the others keep
    // the old content once it is replaced.
    bool has_other_links() const { return otherLinks_; }
    // The set-user-ID and set-group-ID bits of the file that the replacement
    // cannot keep, because it belongs to another owner or group (0 for none;
    // 04000 and 02000 as in a mode).
    unsigned lost_set_id_bits() const { return lostSetIdBits_; }

private:
    void discard();
    bool fail(IoFailure::Step step, int error);

    intptr_t handle_ = -1;     // the platform's descriptor or handle of the temporary
    intptr_t directory_ = -1;  // POSIX: the descriptor of the directory both live in
    std::shared_ptr<const Directory> runDirectory_;  // the directory run's, to be found in place at the commit
    std::string target_;       // the file's name in its directory (Windows: its full path)
    std::string temporary_;    // the temporary's likewise
    std::string directoryName_;
    FileIdentity identity_;
    IoFailure failure_;
    unsigned mode_ = 0;        // the mode to give the replacement
    unsigned lostSetIdBits_ = 0;
    bool otherLinks_ = false;
    uint64_t written_ = 0;        // bytes written to the temporary
    uint64_t flushRequested_ = 0; // written_ when the last early flush was asked for
    std::unique_ptr<EarlyFlush> earlyFlush_;  // none until the temporary is large
};

// A file of the process's own in the system's temporary folder, which no
// one else can open and which goes when it is closed or the process ends
// (POSIX: no name from the start, or unlinked at once; Windows: deleted on
// close): where a diff keeps what it cannot hold in memory.
class ScratchFile final : public RandomAccess {
public:
    ScratchFile() = default;
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;
    ~ScratchFile();

    // Creates the file; false, with `failure` (scratch), when it cannot be.
    bool open(IoFailure& failure);
    // Appends `data`; false, with `failure` (scratch), when it cannot.
    bool append(std::string_view data, IoFailure& failure);
    // Empties it for reuse; false, with `failure`, when it cannot.
    bool clear(IoFailure& failure);
    int64_t read_at(uint64_t offset, char* data, size_t size, int& error) override;
    uint64_t size_when_opened() const override { return size_; }
    bool is_open() const { return handle_ != -1; }
    // The folder scratch files are made in, as failure_reason names it.
    static std::string directory();

private:
    intptr_t handle_ = -1;  // the platform's descriptor or handle
    uint64_t size_ = 0;
};

// Reads up to `size` bytes of the standard input into `data`, as bytes (no
// line-end conversion): how many, 0 at its end, -1 on a read error (its
// number in `error`).
int64_t read_standard_input(char* data, size_t size, int& error);

// Prepares the process for file I/O: a write beyond a file-size limit must be
// reported as a failed write, not kill the process mid-save; a signal that
// ends the process must not leave a temporary behind.
void prepare_file_io();
