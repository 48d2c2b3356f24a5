#include "filepass/file_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "filepass/worker.h"

namespace {

// The temporary that a fatal signal must remove. A handler may not allocate,
// so its path is copied into a fixed buffer while the signals are held.
char g_pendingTemporary[8192];
volatile sig_atomic_t g_pendingArmed = 0;
constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Removes the pending temporary, then lets the signal end the process as it
// would have (the handler was reset to the default on entry).
extern "C" void remove_temporary_and_end(int signal) {
    if (g_pendingArmed) ::unlink(g_pendingTemporary);
    ::raise(signal);
}

// Holds SIGINT, SIGTERM and SIGHUP back while a temporary comes into being
// or goes, so that the handler never sees it half registered.
class SignalsHeld {
public:
    SignalsHeld() {
        sigset_t held;
        ::sigemptyset(&held);
        for (int signal : kCleanupSignals) ::sigaddset(&held, signal);
        ::sigprocmask(SIG_BLOCK, &held, &saved_);
    }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;
    ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &saved_, nullptr); }

private:
    sigset_t saved_;
};

// Closes a descriptor when it goes out of scope.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
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

// Reads exactly `size` bytes into `data`; false on error or early end.
bool read_fully(int fd, char* data, size_t size) {
    while (size > 0) {
        const ssize_t got = ::read(fd, data, size);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        data += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

// The path with every symbolic link resolved, so that the rename replaces
// the real file and a link stays a link; empty when it cannot be resolved.
std::string resolve_path(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                         &std::free);
    return resolved ? std::string(resolved.get()) : std::string();
}

// Template for the temporary beside `target`: hidden, and ending in random
// characters, so it never looks like a ".map" file to a later directory run.
std::string temporary_template(const std::string& target) {
    const size_t slash = target.rfind('/');
    const std::string dir = target.substr(0, slash + 1);
    // Keep the name within the file system's name limit.
    const std::string base = target.substr(slash + 1, 200);
    return dir + "." + base + "~mapclean-XXXXXX";
}

FileIdentity identity_of(const struct stat& info) {
    return FileIdentity{static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino),
                        static_cast<uint64_t>(info.st_size),
                        static_cast<int64_t>(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec};
}

// An uninitialised block for a file's content. Large blocks are mapped and
// backed by huge pages where the system has them: filling 4 KiB pages one
// fault at a time costs more than reading the file. (A mapping of the file
// itself costs more still here: its first reading and its unmapping each
// take longer than reading it into huge pages.)
std::unique_ptr<char[], ContentDeleter> allocate_content(size_t size) {
    constexpr size_t kMapFrom = 4 << 20;
    if (size >= kMapFrom) {
        void* block = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (block == MAP_FAILED) return nullptr;
        ::madvise(block, size, MADV_HUGEPAGE);  // a hint; fine to fail
        return std::unique_ptr<char[], ContentDeleter>(static_cast<char*>(block), ContentDeleter{size});
    }
    return std::unique_ptr<char[], ContentDeleter>(new (std::nothrow) char[size > 0 ? size : 1]);
}

// Flushes the directory entry of a rename to disk; best effort, since some
// file systems cannot sync directories and the rename itself is atomic.
void sync_directory(const std::string& target) {
    const size_t slash = target.rfind('/');
    const std::string dir = slash == 0 ? "/" : target.substr(0, slash);
    FileDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) ::fsync(fd.get());
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
// system set it. False when any other attribute cannot be made the same.
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

// Opens the regular file at `path` for reading, blocking reads, with its
// status in `info`; -1 for anything else, never waiting on a FIFO.
int open_regular_file(const std::string& path, struct stat& info) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return -1;
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return -1;
    return fd.release();
}

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
        if (!worker_.busy()) worker_.start([this] { failed_ = failed_ || ::fdatasync(fd_) != 0; });
    }

    // Waits for a flush still running. False when a flush failed: an error
    // an fsync reported once is not reported to the next.
    bool stop() {
        worker_.wait();
        return !failed_;
    }

private:
    const int fd_;
    bool failed_ = false;  // written by the flush, read after wait()
    Worker worker_;        // ends (waiting for its flush) first
};

ReadStatus read_whole_file(const std::string& path, FileContent& content) {
    content = FileContent();
    struct stat info {};
    FileDescriptor fd(open_regular_file(path, info));
    if (fd.get() < 0) return ReadStatus::open_failed;
    const auto size = static_cast<size_t>(info.st_size);
    FileContent read;
    read.data = allocate_content(size);
    if (!read.data) return ReadStatus::alloc_failed;
    read.size = size;
    // A byte past the size seen means the file grew while being read (or is
    // a pseudo-file whose size says nothing): writing back only what was
    // read would lose the rest.
    char extra = 0;
    if (!read_fully(fd.get(), read.data.get(), read.size) || read_fully(fd.get(), &extra, 1)) {
        return ReadStatus::read_failed;
    }
    read.identity = identity_of(info);
    content = std::move(read);
    return ReadStatus::ok;
}

FileReader::~FileReader() { close(); }

void FileReader::close() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = -1;
}

ReadStatus FileReader::open(const std::string& path) {
    struct stat info {};
    handle_ = open_regular_file(path, info);
    if (handle_ < 0) return ReadStatus::open_failed;
    identity_ = identity_of(info);
    return ReadStatus::ok;
}

int64_t FileReader::read_at(uint64_t offset, char* data, size_t size) {
    for (;;) {
        const ssize_t got = ::pread(static_cast<int>(handle_), data, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        return got;
    }
}

void ContentDeleter::operator()(char* data) const {
    if (mappedSize > 0) {
        ::munmap(data, mappedSize);
    } else {
        delete[] data;
    }
}

ReplacementFile::ReplacementFile() = default;
ReplacementFile::~ReplacementFile() { discard(); }

bool ReplacementFile::open(const std::string& path, const FileIdentity& identity) {
    discard();
    identity_ = identity;
    written_ = flushRequested_ = 0;
    target_ = resolve_path(path);
    if (target_.empty()) return false;

    // The original must be writable: a read-only file is not replaced.
    FileDescriptor original(::open(target_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (original.get() < 0 || ::fstat(original.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    otherLinks_ = info.st_nlink > 1;
    std::string temporary = temporary_template(target_);
    if (temporary.size() >= sizeof g_pendingTemporary) return false;
    {
        SignalsHeld held;
        const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (fd < 0) return false;
        handle_ = fd;
        temporary_ = std::move(temporary);
        std::memcpy(g_pendingTemporary, temporary_.c_str(), temporary_.size() + 1);
        g_pendingArmed = 1;
    }
    const int fd = static_cast<int>(handle_);

    // A user who may not give the file to its owner keeps at least its group
    // where allowed; the file then belongs to whoever saves it, as with any
    // editor that writes a new file.
    if (::fchown(fd, info.st_uid, info.st_gid) != 0) {
        [[maybe_unused]] const int grouped = ::fchown(fd, static_cast<uid_t>(-1), info.st_gid);
    }
    // The mode last: an ACL sets the permission bits too, and a change of
    // owner clears set-user-ID.
    if (!copy_attributes(original.get(), fd) || ::fchmod(fd, info.st_mode & 07777) != 0) {
        discard();
        return false;
    }
    return true;
}

bool ReplacementFile::write(std::string_view data) {
    if (handle_ < 0) return false;
    const int fd = static_cast<int>(handle_);
    while (!data.empty()) {
        const ssize_t put = ::write(fd, data.data(), data.size());
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
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
    handle_ = -1;
    const bool flushedEarly = !earlyFlush_ || earlyFlush_->stop();
    earlyFlush_.reset();
    // close() can report a late write error, so its result counts too.
    const bool synced = ::fsync(fd) == 0 && flushedEarly;
    struct stat info {};
    const bool unchanged = ::stat(target_.c_str(), &info) == 0 && identity_of(info) == identity_;
    if (::close(fd) != 0 || !synced || !unchanged) {
        discard();
        return false;
    }
    bool renamed = false;
    {
        SignalsHeld held;
        renamed = ::rename(temporary_.c_str(), target_.c_str()) == 0;
        if (renamed) {
            g_pendingArmed = 0;
            temporary_.clear();
        }
    }
    if (!renamed) {
        discard();
        return false;
    }
    sync_directory(target_);
    return true;
}

void ReplacementFile::discard() {
    earlyFlush_.reset();  // before the descriptor it flushes is closed
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = -1;
    if (temporary_.empty()) return;
    SignalsHeld held;
    ::unlink(temporary_.c_str());
    g_pendingArmed = 0;
    temporary_.clear();
}

bool read_standard_input(std::string& content) {
    try {
        char chunk[1 << 16];
        for (;;) {
            const ssize_t got = ::read(0, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) return false;
            if (got == 0) return true;
            content.append(chunk, static_cast<size_t>(got));
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void prepare_file_io() {
    std::signal(SIGXFSZ, SIG_IGN);
    for (int signal : kCleanupSignals) {
        // A signal the caller ignores (nohup, a background job) stays ignored.
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN) continue;
        struct sigaction cleanup {};
        cleanup.sa_handler = remove_temporary_and_end;
        cleanup.sa_flags = SA_RESETHAND;
        ::sigemptyset(&cleanup.sa_mask);
        ::sigaction(signal, &cleanup, nullptr);
    }
}
