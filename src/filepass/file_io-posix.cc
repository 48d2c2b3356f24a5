#include "filepass/file_io.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>

#include "filepass/fatal_signals.h"
#include "filepass/worker.h"

const char kPathSeparator = '/';

namespace {

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// Reads up to `size` bytes of `fd` from `offset`, as RandomAccess::read_at.
int64_t read_at_offset(int fd, uint64_t offset, char* data, size_t size, int& error) {
    for (;;) {
        const ssize_t got = ::pread(fd, data, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) error = errno;
        return got;
    }
}

// The path with every symbolic link resolved; nullopt (errno set) when it
// cannot be resolved.
std::optional<std::string> resolve_path(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return std::nullopt;
    return std::string(resolved.get());
}

// True when the resolved path `path` is `root` or lies below it.
bool path_is_within(const std::string& path, const std::string& root) {
    if (root == "/") return path.starts_with('/');
    return path.starts_with(root) && (path.size() == root.size() || path[root.size()] == '/');
}

FileIdentity identity_of(const struct stat& info) {
    return FileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino),
                        static_cast<uint64_t>(info.st_size),
                        static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

// The names of the extended attributes of `fd`: empty where the file system
// has none, nullopt when they cannot be listed.
std::optional<std::vector<std::string>> attribute_names(int fd) {
    for (;;) {
        const ssize_t size = ::flistxattr(fd, nullptr, 0);
        if (size < 0) return errno == ENOTSUP ? std::make_optional<std::vector<std::string>>() : std::nullopt;
        std::string list(static_cast<size_t>(size), '\0');
        const ssize_t got = ::flistxattr(fd, list.data(), list.size());
        if (got < 0 && errno == ERANGE) continue;  // it grew meanwhile
        if (got < 0) return std::nullopt;
        std::vector<std::string> names;
        for (size_t at = 0; at < static_cast<size_t>(got);) {
            const size_t end = list.find('\0', at);
            names.push_back(list.substr(at, end - at));
            at = end + 1;
        }
        return names;
    }
}

// The value of the extended attribute `name` of `fd`; nullopt on failure.
std::optional<std::string> attribute_value(int fd, const std::string& name) {
    for (;;) {
        const ssize_t size = ::fgetxattr(fd, name.c_str(), nullptr, 0);
        if (size < 0) return std::nullopt;
        std::string value(static_cast<size_t>(size), '\0');
        const ssize_t got = ::fgetxattr(fd, name.c_str(), value.data(), value.size());
        if (got < 0 && errno == ERANGE) continue;
        if (got < 0) return std::nullopt;
        value.resize(static_cast<size_t>(got));
        return value;
    }
}

// Gives `to` exactly the extended attributes of `from` (the ACL among them):
// what `to` got from its directory (a default ACL) but `from` lacks is
// removed, so access never widens. Only the SELinux label may stay as the
// system set it. False (errno set) when any other attribute cannot be made
// the same.
bool copy_attributes(int from, int to) {
    constexpr std::string_view kLabel = "security.selinux";
    const auto wanted = attribute_names(from);
    const auto present = attribute_names(to);
    if (!wanted || !present) return false;
    for (const std::string& name : *present) {
        if (name == kLabel || std::find(wanted->begin(), wanted->end(), name) != wanted->end()) continue;
        if (::fremovexattr(to, name.c_str()) != 0) return false;
    }
    for (const std::string& name : *wanted) {
        const auto value = attribute_value(from, name);
        const bool set = value && ::fsetxattr(to, name.c_str(), value->data(), value->size(), 0) == 0;
        if (!set && name != kLabel) return false;
    }
    return true;
}

// Opens the regular file at `location` for reading, blocking reads, with its
// status in `info`; -1, with `failure`, for anything else, never waiting on
// a FIFO. An entry of a directory run is never followed through a link.
int open_regular_file(const FileLocation& location, struct stat& info, IoFailure& failure) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    constexpr int kFlags = O_RDONLY | O_NONBLOCK | O_CLOEXEC;
    FileDescriptor fd(location.directory
                          ? ::openat(static_cast<int>(location.directory->handle()), location.entry.c_str(),
                                     kFlags | O_NOFOLLOW)
                          : ::open(location.path.c_str(), kFlags));
    if (fd.get() < 0) {
        // The entry is one name: a loop there is the entry being a link.
        failure = {errno == ELOOP && location.directory ? IoFailure::link : IoFailure::open, errno};
        return -1;
    }
    if (::fstat(fd.get(), &info) != 0) {
        failure = {IoFailure::open, errno};
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        failure = {IoFailure::not_regular, S_ISDIR(info.st_mode) ? EISDIR : 0};
        return -1;
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        failure = {IoFailure::open, errno};
        return -1;
    }
    return fd.release();
}

// A hidden name for a temporary beside `base`, ending in random characters,
// so that it never looks like a ".map" file to a later directory run.
std::string temporary_name(const std::string& base, unsigned attempt) {
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    // splitmix64 of what differs between processes, calls and attempts.
    uint64_t x = static_cast<uint64_t>(now.tv_nsec) ^ (static_cast<uint64_t>(now.tv_sec) << 32) ^
                 (static_cast<uint64_t>(::getpid()) << 16) ^ attempt;
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    x ^= x >> 31;
    constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string name(1, '.');
    name.append(base, 0, 200).append("~mapclean-");
    for (int i = 0; i < 6; ++i, x /= 62) name += kLetters[x % 62];
    return name;
}

// Flushes the directory entry of a rename to disk; best effort, since some
// file systems cannot sync directories and the rename itself is atomic.
void sync_directory(int directory) { ::fsync(directory); }

}  // namespace

// On a disk with a write cache (most, and every virtual one) the bulk of an
// fsync is the cache flush, and it grows with what was written since the
// last one: a thread flushes the temporary while the scan is still writing
// it, so that the commit's fsync finds almost nothing left to do.
// Durability still comes from that final fsync.
class EarlyFlush {
public:
    explicit EarlyFlush(int fd) : fd_(fd) {}

    // Starts a flush of all that is written so far, unless one is still
    // running (the next request, or the commit's fsync, covers the rest) or
    // no thread can be had; returns at once.
    void request() {
        if (!worker_.busy()) {
            worker_.start([this] {
                if (::fdatasync(fd_) != 0 && error_ == 0) error_ = errno;
            });
        }
    }

    // Waits for a flush still running; the error a flush met, or 0: an
    // error an fsync reported once is not reported to the next.
    int stop() {
        worker_.wait();
        return error_;
    }

private:
    const int fd_;
    int error_ = 0;  // written by the flush, read after wait()
    Worker worker_;  // ends (waiting for its flush) first
};

Directory::~Directory() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::shared_ptr<Directory> Directory::open_root(const std::string& path, IoFailure& failure) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) {
        failure = {IoFailure::open, errno};
        return nullptr;
    }
    std::shared_ptr<Directory> root(new Directory());
    root->handle_ = fd.release();
    root->path_ = path;
    root->device_ = info.st_dev;
    root->file_ = info.st_ino;
    // Links are judged by the real path of what was opened: a root swapped
    // meanwhile leaves it unknown, and every link then counts as outside.
    struct stat real {};
    if (auto resolved = resolve_path(path);
        resolved && ::stat(resolved->c_str(), &real) == 0 && real.st_dev == info.st_dev && real.st_ino == info.st_ino) {
        root->real_ = std::move(*resolved);
    }
    return root;
}

std::shared_ptr<Directory> Directory::open_subdirectory(const std::string& name, IoFailure& failure) const {
    FileDescriptor fd(::openat(static_cast<int>(handle_), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0) {
        failure = {errno == ELOOP ? IoFailure::link : IoFailure::open, errno};
        return nullptr;
    }
    std::shared_ptr<Directory> child(new Directory());
    child->handle_ = fd.release();
    child->parent_ = shared_from_this();
    child->root_ = root_ ? root_ : shared_from_this();
    child->name_ = name;
    child->path_ = joined_path(path_, name);
    child->device_ = info.st_dev;
    child->file_ = info.st_ino;
    return child;
}

bool Directory::list(std::vector<std::string>& maps, std::vector<std::string>& subdirectories,
                     IoFailure& failure) const {
    // A descriptor of its own, whose reading position no other listing moves.
    FileDescriptor fd(::openat(static_cast<int>(handle_), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    DIR* dir = fd.get() >= 0 ? ::fdopendir(fd.get()) : nullptr;
    if (!dir) {
        failure = {IoFailure::open, errno};
        return false;
    }
    fd.release();
    struct CloseDir {
        DIR* dir;
        ~CloseDir() { ::closedir(dir); }
    } closing{dir};
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry) break;
        const std::string_view name = entry->d_name;
        if (name == "." || name == "..") continue;
        // Names ending in ".map" in any letter case, as Windows matches "*.map".
        if (name.size() >= 4 && (name[name.size() - 4] == '.') && (name[name.size() - 3] | 0x20) == 'm' &&
            (name[name.size() - 2] | 0x20) == 'a' && (name[name.size() - 1] | 0x20) == 'p') {
            maps.emplace_back(name);
        }
        struct stat info {};
        if (::fstatat(static_cast<int>(handle_), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(info.st_mode)) {
            subdirectories.emplace_back(name);
        }
    }
    if (errno != 0) {
        failure = {IoFailure::read, errno};
        return false;
    }
    // Sorted by bytes, so that runs repeat whatever order the file system keeps.
    std::sort(maps.begin(), maps.end());
    std::sort(subdirectories.begin(), subdirectories.end());
    return true;
}

EntryPlace Directory::locate(const std::string& name, FileLocation& location, IoFailure& failure) const {
    location = FileLocation{std::string(), shared_from_this(), name};
    struct stat info {};
    if (::fstatat(static_cast<int>(handle_), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISLNK(info.st_mode)) {
        return EntryPlace::here;  // opening it says what it is
    }
    // The link is resolved once, by path; what it names is then opened from
    // the root one directory at a time, never through a link, so that a
    // swap after the judgement cannot lead outside.
    const auto resolved = resolve_path(joined_path(path_, name));
    if (!resolved) {
        failure = {IoFailure::open, errno};
        return EntryPlace::missing;
    }
    const std::string& root = root_path();
    if (root.empty() || !path_is_within(*resolved, root)) return EntryPlace::outside;
    std::vector<std::string> components;
    for (size_t at = root.size(); at < resolved->size();) {
        while (at < resolved->size() && (*resolved)[at] == '/') ++at;
        const size_t end = std::min(resolved->find('/', at), resolved->size());
        if (end > at) components.push_back(resolved->substr(at, end - at));
        at = end;
    }
    if (components.empty()) components.push_back(".");  // the root itself, no file
    std::string entry = std::move(components.back());
    components.pop_back();
    std::shared_ptr<const Directory> directory = root_ ? root_ : shared_from_this();
    for (const std::string& component : components) {
        directory = directory->open_subdirectory(component, failure);
        if (!directory) return EntryPlace::missing;
    }
    location = FileLocation{std::string(), std::move(directory), std::move(entry)};
    return EntryPlace::inside;
}

bool Directory::still_in_place() const {
    if (!parent_) return true;
    struct stat info {};
    return parent_->still_in_place() &&
           ::fstatat(static_cast<int>(parent_->handle_), name_.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
           info.st_dev == device_ && info.st_ino == file_;
}

FileReader::~FileReader() { close(); }

void FileReader::close() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = -1;
}

bool FileReader::open(const FileLocation& location, IoFailure& failure) {
    close();
    struct stat info {};
    handle_ = open_regular_file(location, info, failure);
    if (handle_ < 0) return false;
    identity_ = identity_of(info);
    return true;
}

int64_t FileReader::read_at(uint64_t offset, char* data, size_t size, int& error) {
    return read_at_offset(static_cast<int>(handle_), offset, data, size, error);
}

ReplacementFile::ReplacementFile() = default;
ReplacementFile::~ReplacementFile() { discard(); }

bool ReplacementFile::fail(IoFailure::Step step, int error) {
    failure_ = {step, error};
    discard();
    return false;
}

bool ReplacementFile::open(const FileLocation& location, const FileIdentity& identity) {
    discard();
    identity_ = identity;
    failure_ = IoFailure();
    written_ = flushRequested_ = 0;
    lostSetIdBits_ = 0;
    runDirectory_ = location.directory;
    if (location.directory) {
        directory_ = ::fcntl(static_cast<int>(location.directory->handle()), F_DUPFD_CLOEXEC, 0);
        target_ = location.entry;
        directoryName_ = location.directory->path();
    } else {
        // A link is followed, and stays a link: the real file is replaced.
        const auto resolved = resolve_path(location.path);
        if (!resolved) return fail(IoFailure::open, errno);
        const size_t slash = resolved->rfind('/');
        const std::string directory = slash == 0 ? "/" : resolved->substr(0, slash);
        target_ = resolved->substr(slash + 1);
        directory_ = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        // Messages name the directory as the path gives it, unless the file
        // is a link, whose target's directory the temporary goes to.
        struct stat link {};
        const size_t given = location.path.rfind('/');
        const bool isLink = ::lstat(location.path.c_str(), &link) == 0 && S_ISLNK(link.st_mode);
        directoryName_ = isLink ? directory
                         : given == std::string::npos ? std::string(".")
                         : given == 0                 ? std::string("/")
                                                      : location.path.substr(0, given);
    }
    if (directory_ < 0) return fail(IoFailure::open, errno);
    const int dir = static_cast<int>(directory_);

    // The original must be writable: a read-only file is not replaced.
    FileDescriptor original(::openat(dir, target_.c_str(), O_WRONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC));
    struct stat info {};
    if (original.get() < 0) return fail(errno == ELOOP ? IoFailure::link : IoFailure::open, errno);
    if (::fstat(original.get(), &info) != 0) return fail(IoFailure::open, errno);
    if (!S_ISREG(info.st_mode)) return fail(IoFailure::not_regular, 0);
    otherLinks_ = info.st_nlink > 1;

    int fd = -1;
    {
        FatalSignalsHeld held;
        for (unsigned attempt = 0; attempt < 100 && fd < 0; ++attempt) {
            std::string name = temporary_name(target_, attempt);
            fd = ::openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd < 0 && errno != EEXIST) break;
            if (fd >= 0 && !set_pending_temporary(dir, name.c_str())) {
                ::unlinkat(dir, name.c_str(), 0);
                ::close(fd);
                return fail(IoFailure::create_temporary, ENAMETOOLONG);
            }
            if (fd >= 0) temporary_ = std::move(name);
        }
    }
    if (fd < 0) return fail(IoFailure::create_temporary, errno);
    handle_ = fd;

    // A user who may not give the file to its owner keeps at least its group
    // where allowed; the file then belongs to whoever saves it, as with any
    // editor that writes a new file.
    if (::fchown(fd, info.st_uid, info.st_gid) != 0) {
        [[maybe_unused]] const int grouped = ::fchown(fd, static_cast<uid_t>(-1), info.st_gid);
    }
    struct stat made {};
    if (::fstat(fd, &made) != 0) return fail(IoFailure::attributes, errno);
    // A set-ID file never changes hands: the bit goes where the owner or
    // group does not stay.
    mode_ = info.st_mode & 07777;
    if ((mode_ & S_ISUID) && made.st_uid != info.st_uid) lostSetIdBits_ |= S_ISUID;
    if ((mode_ & S_ISGID) && made.st_gid != info.st_gid) lostSetIdBits_ |= S_ISGID;
    mode_ &= ~lostSetIdBits_;
    if (!copy_attributes(original.get(), fd)) return fail(IoFailure::attributes, errno);
    return true;
}

bool ReplacementFile::write(std::string_view data) {
    if (handle_ < 0) return false;
    const int fd = static_cast<int>(handle_);
    while (!data.empty()) {
        const ssize_t put = ::write(fd, data.data(), data.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return fail(IoFailure::write, put < 0 ? errno : ENOSPC);
        data.remove_prefix(static_cast<size_t>(put));
        written_ += static_cast<uint64_t>(put);
    }
    constexpr uint64_t kEarlyFlushStep = 4 << 20;
    if (written_ - flushRequested_ >= kEarlyFlushStep) {
        flushRequested_ = written_;
        try {
            if (!earlyFlush_) earlyFlush_ = std::make_unique<EarlyFlush>(fd);
            earlyFlush_->request();
        } catch (const std::bad_alloc&) {
            // No flusher: the commit's fsync does all the flushing, as for a small file.
        }
    }
    return true;
}

bool ReplacementFile::commit() {
    if (handle_ < 0) return false;
    const int fd = static_cast<int>(handle_);
    const int dir = static_cast<int>(directory_);
    const int flushError = earlyFlush_ ? earlyFlush_->stop() : 0;
    earlyFlush_.reset();
    if (flushError != 0) return fail(IoFailure::write, flushError);
    // The mode after the last write, which would clear set-user-ID and
    // set-group-ID; an ACL sets the permission bits too.
    if (::fchmod(fd, mode_) != 0) return fail(IoFailure::attributes, errno);
    if (::fsync(fd) != 0) return fail(IoFailure::write, errno);
    handle_ = -1;
    // close() can report a late write error, so its result counts too.
    if (::close(fd) != 0) return fail(IoFailure::write, errno);
    struct stat info {};
    if (::fstatat(dir, target_.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || identity_of(info) != identity_) {
        return fail(IoFailure::changed, 0);
    }
    if (runDirectory_ && !runDirectory_->still_in_place()) return fail(IoFailure::moved, 0);
    bool renamed = false;
    {
        FatalSignalsHeld held;
        renamed = ::renameat(dir, temporary_.c_str(), dir, target_.c_str()) == 0;
        if (renamed) {
            clear_pending_temporary();
            temporary_.clear();
        }
    }
    if (!renamed) return fail(IoFailure::replace, errno);
    sync_directory(dir);
    discard();  // closes the directory
    return true;
}

void ReplacementFile::discard() {
    earlyFlush_.reset();  // before the descriptor it flushes is closed
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = -1;
    if (!temporary_.empty()) {
        FatalSignalsHeld held;
        ::unlinkat(static_cast<int>(directory_), temporary_.c_str(), 0);
        clear_pending_temporary();
        temporary_.clear();
    }
    if (directory_ >= 0) ::close(static_cast<int>(directory_));
    directory_ = -1;
    runDirectory_.reset();
}

int64_t read_standard_input(char* data, size_t size, int& error) {
    for (;;) {
        const ssize_t got = ::read(0, data, size);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) error = errno;
        return got;
    }
}

ScratchFile::~ScratchFile() {
    if (handle_ != -1) ::close(static_cast<int>(handle_));
}

std::string ScratchFile::directory() {
    const char* folder = std::getenv("TMPDIR");
    return folder && *folder ? folder : "/tmp";
}

bool ScratchFile::open(IoFailure& failure) {
    if (handle_ != -1) ::close(static_cast<int>(handle_));
    handle_ = -1;
    const std::string folder = directory();
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL)) {
        // A file system without unnamed files: a name, removed at once.
        std::string name = joined_path(folder, "mapclean-scratch-XXXXXX");
        FatalSignalsHeld held;
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) ::unlink(name.c_str());
    }
    if (fd < 0) {
        failure = {IoFailure::scratch, errno};
        return false;
    }
    handle_ = fd;
    size_ = 0;
    return true;
}

bool ScratchFile::append(std::string_view data, IoFailure& failure) {
    while (!data.empty()) {
        const ssize_t put = ::pwrite(static_cast<int>(handle_), data.data(), data.size(), static_cast<off_t>(size_));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            failure = {IoFailure::scratch, put < 0 ? errno : ENOSPC};
            return false;
        }
        data.remove_prefix(static_cast<size_t>(put));
        size_ += static_cast<uint64_t>(put);
    }
    return true;
}

bool ScratchFile::clear(IoFailure& failure) {
    if (::ftruncate(static_cast<int>(handle_), 0) != 0) {
        failure = {IoFailure::scratch, errno};
        return false;
    }
    size_ = 0;
    return true;
}

int64_t ScratchFile::read_at(uint64_t offset, char* data, size_t size, int& error) {
    return read_at_offset(static_cast<int>(handle_), offset, data, size, error);
}

const char* system_error_text(int error) { return std::strerror(error); }

void prepare_file_io() { install_fatal_signal_handlers(); }
