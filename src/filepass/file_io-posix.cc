#include "filepass/file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <memory>
#include <new>

namespace {

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
    // Closes now and reports whether the close succeeded (it can report a
    // late write error).
    bool close() {
        const int fd = fd_;
        fd_ = -1;
        return ::close(fd) == 0;
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

bool write_fully(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t put = ::write(fd, data, size);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        data += put;
        size -= static_cast<size_t>(put);
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

// Flushes the directory entry of a rename to disk; best effort, since some
// file systems cannot sync directories and the rename itself is atomic.
void sync_directory(const std::string& target) {
    const size_t slash = target.rfind('/');
    const std::string dir = slash == 0 ? "/" : target.substr(0, slash);
    FileDescriptor fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() >= 0) ::fsync(fd.get());
}

}  // namespace

ReadStatus read_whole_file(const std::string& path, std::string& content) {
    content.clear();
    // O_NONBLOCK: opening a FIFO must not wait for a writer.
    FileDescriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
    struct stat info {};
    if (fd.get() < 0 || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return ReadStatus::open_failed;
    }
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
        return ReadStatus::open_failed;
    }
    const auto size = static_cast<unsigned long long>(info.st_size);
    try {
        if (size > content.max_size()) throw std::bad_alloc();
        content.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        return ReadStatus::alloc_failed;
    }
    // A byte past the size seen means the file grew while being read (or is
    // a pseudo-file whose size says nothing): writing back only what was
    // read would lose the rest.
    char extra = 0;
    if (!read_fully(fd.get(), content.data(), content.size()) ||
        read_fully(fd.get(), &extra, 1)) {
        std::string().swap(content);
        return ReadStatus::read_failed;
    }
    return ReadStatus::ok;
}

bool write_file_atomically(const std::string& path, std::string_view content) {
    const std::string target = resolve_path(path);
    if (target.empty()) return false;

    struct stat info {};
    {
        // The original must be writable: a read-only file is not replaced.
        FileDescriptor probe(::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        if (probe.get() < 0 || ::fstat(probe.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
            return false;
        }
    }

    std::string temporary = temporary_template(target);
    FileDescriptor fd(::mkostemp(temporary.data(), O_CLOEXEC));
    if (fd.get() < 0) return false;

    // Owner and group may not be settable by this user; the file then
    // belongs to whoever runs the program, as any rewrite would.
    [[maybe_unused]] const int owned = ::fchown(fd.get(), info.st_uid, info.st_gid);
    const bool written = ::fchmod(fd.get(), info.st_mode & 07777) == 0 &&
                         write_fully(fd.get(), content.data(), content.size()) &&
                         ::fsync(fd.get()) == 0 && fd.close();
    if (!written || ::rename(temporary.c_str(), target.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    sync_directory(target);
    return true;
}

void prepare_file_io() { std::signal(SIGXFSZ, SIG_IGN); }
