#include "filepass/file_io.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
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
// fault at a time costs more than reading the file.
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

}  // namespace

ReadStatus read_whole_file(const std::string& path, FileContent& content) {
    content = FileContent();
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

void ContentDeleter::operator()(char* data) const {
    if (mappedSize > 0) {
        ::munmap(data, mappedSize);
    } else {
        delete[] data;
    }
}

ReplacementFile::~ReplacementFile() { discard(); }

bool ReplacementFile::open(const std::string& path, const FileIdentity& identity) {
    discard();
    identity_ = identity;
    target_ = resolve_path(path);
    if (target_.empty()) return false;

    struct stat info {};
    {
        // The original must be writable: a read-only file is not replaced.
        FileDescriptor probe(::open(target_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC));
        if (probe.get() < 0 || ::fstat(probe.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
            return false;
        }
    }
    std::string temporary = temporary_template(target_);
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return false;
    handle_ = fd;
    temporary_ = std::move(temporary);

    // Owner and group may not be settable by this user; the file then
    // belongs to whoever runs the program, as any rewrite would.
    [[maybe_unused]] const int owned = ::fchown(fd, info.st_uid, info.st_gid);
    if (::fchmod(fd, info.st_mode & 07777) != 0) {
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
    }
    return true;
}

bool ReplacementFile::commit() {
    if (handle_ < 0) return false;
    const int fd = static_cast<int>(handle_);
    handle_ = -1;
    // close() can report a late write error, so its result counts too.
    const bool synced = ::fsync(fd) == 0;
    struct stat info {};
    const bool unchanged = ::stat(target_.c_str(), &info) == 0 && identity_of(info) == identity_;
    if (::close(fd) != 0 || !synced || !unchanged ||
        ::rename(temporary_.c_str(), target_.c_str()) != 0) {
        discard();
        return false;
    }
    temporary_.clear();
    sync_directory(target_);
    return true;
}

void ReplacementFile::discard() {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = -1;
    if (!temporary_.empty()) ::unlink(temporary_.c_str());
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

void prepare_file_io() { std::signal(SIGXFSZ, SIG_IGN); }
