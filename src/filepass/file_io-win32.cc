#include "filepass/file_io.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

// Closes a handle when it goes out of scope.
class Handle {
public:
    explicit Handle(HANDLE handle) : handle_(handle) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() {
        if (valid()) ::CloseHandle(handle_);
    }
    bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
    HANDLE get() const { return handle_; }
    HANDLE release() {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return handle;
    }

private:
    HANDLE handle_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The temporary that a console event (Ctrl-C, Ctrl-Break, closing the
// window) must remove. The handler runs on a thread of its own; the lock
// keeps the temporary's registration and its rename apart from it.
SRWLOCK g_pendingLock = SRWLOCK_INIT;
HANDLE g_pendingHandle = INVALID_HANDLE_VALUE;  // open with DELETE access
char g_pendingTemporary[33000];
bool g_pendingArmed = false;

// Removes the pending temporary and lets the default handler end the
// process. The lock is never released: the process ends holding it, so the
// main thread cannot go on to replace the file meanwhile.
BOOL WINAPI remove_temporary_and_end(DWORD) {
    ::AcquireSRWLockExclusive(&g_pendingLock);
    if (g_pendingArmed && g_pendingHandle != INVALID_HANDLE_VALUE) {
        // Deleted when the process's handles close, as it ends.
        FILE_DISPOSITION_INFO remove{TRUE};
        ::SetFileInformationByHandle(g_pendingHandle, FileDispositionInfo, &remove, sizeof remove);
    } else if (g_pendingArmed) {
        ::DeleteFileA(g_pendingTemporary);
    }
    return FALSE;
}

// Holds the console handler back while the lock is held.
class PendingLock {
public:
    PendingLock() { ::AcquireSRWLockExclusive(&g_pendingLock); }
    PendingLock(const PendingLock&) = delete;
    PendingLock& operator=(const PendingLock&) = delete;
    ~PendingLock() { ::ReleaseSRWLockExclusive(&g_pendingLock); }
};

// Puts `replacement` in the place of `target` with ReplaceFile, which keeps
// the target's ACL, attributes and alternate data streams. False on
// failure; `replacementLeft` then says whether the replacement must be kept,
// because the target is already gone and it holds the only content.
bool replace_file(const std::string& target, const std::string& replacement, bool& replacementLeft) {
    replacementLeft = false;
    if (::ReplaceFileA(target.c_str(), replacement.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                       nullptr, nullptr)) {
        return true;
    }
    if (::GetLastError() != ERROR_UNABLE_TO_MOVE_REPLACEMENT) return false;
    // The target was removed but the replacement not moved: finish the move.
    if (::MoveFileExA(replacement.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    replacementLeft = true;
    return false;
}

// Reads exactly `size` bytes into `data`; false on error or early end.
bool read_fully(HANDLE file, char* data, size_t size) {
    while (size > 0) {
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD got = 0;
        if (!::ReadFile(file, data, chunk, &got, nullptr) || got == 0) return false;
        data += got;
        size -= got;
    }
    return true;
}

// The final path of an open file (links resolved), or `fallback`.
std::string final_path(HANDLE file, const std::string& fallback) {
    char buffer[32768];
    const DWORD length = ::GetFinalPathNameByHandleA(file, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= sizeof buffer) return fallback;
    return std::string(buffer, length);
}

// A new, uniquely named file beside `target` whose name never ends in
// ".map"; `temporary` receives its path.
HANDLE create_temporary(const std::string& target, std::string& temporary) {
    const size_t slash = target.find_last_of("\\/");
    const std::string dir = slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    const std::string base = target.substr(slash == std::string::npos ? 0 : slash + 1, 200);
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        // The process id and the clock make a clash unlikely; CREATE_NEW
        // makes one harmless.
        const uint32_t tag = (static_cast<uint32_t>(::GetCurrentProcessId()) * 2654435761u) ^
                             static_cast<uint32_t>(::GetTickCount64()) ^ attempt;
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "~mapclean-%08lx", static_cast<unsigned long>(tag));
        temporary = dir + "." + base + suffix;
        const HANDLE file = ::CreateFileA(temporary.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

// The identity of an open file; all zero when it cannot be read.
FileIdentity identity_of(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(file, &info)) return FileIdentity{};
    const auto join = [](DWORD high, DWORD low) { return (static_cast<uint64_t>(high) << 32) | low; };
    return FileIdentity{info.dwVolumeSerialNumber, join(info.nFileIndexHigh, info.nFileIndexLow),
                        join(info.nFileSizeHigh, info.nFileSizeLow),
                        static_cast<int64_t>(join(info.ftLastWriteTime.dwHighDateTime,
                                                  info.ftLastWriteTime.dwLowDateTime))};
}

// The identity of the file at `path` now; all zero when it cannot be read.
FileIdentity identity_of(const std::string& path) {
    Handle file(::CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid() ? identity_of(file.get()) : FileIdentity{};
}

// Opens the disk file at `path` for reading. Directories cannot be opened
// this way, and a handle that is no disk file (a console, a pipe, a device)
// is refused before any read: INVALID_HANDLE_VALUE.
HANDLE open_disk_file(const std::string& path) {
    Handle file(::CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid() || ::GetFileType(file.get()) != FILE_TYPE_DISK) return INVALID_HANDLE_VALUE;
    return file.release();
}

}  // namespace

ReadStatus read_whole_file(const std::string& path, FileContent& content) {
    content = FileContent();
    Handle file(open_disk_file(path));
    LARGE_INTEGER size{};
    if (!file.valid() || !::GetFileSizeEx(file.get(), &size)) return ReadStatus::open_failed;
    const auto bytes = static_cast<unsigned long long>(size.QuadPart);
    if (bytes > SIZE_MAX - 1) return ReadStatus::alloc_failed;
    FileContent read;
    read.data.reset(new (std::nothrow) char[bytes > 0 ? bytes : 1]);  // no mapping on Windows
    if (!read.data) return ReadStatus::alloc_failed;
    read.size = static_cast<size_t>(bytes);
    // A byte past the size seen means the file grew while being read.
    char extra = 0;
    if (!read_fully(file.get(), read.data.get(), read.size) || read_fully(file.get(), &extra, 1)) {
        return ReadStatus::read_failed;
    }
    read.identity = identity_of(file.get());
    content = std::move(read);
    return ReadStatus::ok;
}

void ContentDeleter::operator()(char* data) const { delete[] data; }

FileReader::~FileReader() { close(); }

void FileReader::close() {
    if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
}

ReadStatus FileReader::open(const std::string& path) {
    const HANDLE file = open_disk_file(path);
    if (file == INVALID_HANDLE_VALUE) return ReadStatus::open_failed;
    handle_ = reinterpret_cast<intptr_t>(file);
    identity_ = identity_of(file);
    return ReadStatus::ok;
}

// A synchronous ReadFile at an offset also moves the handle's position,
// which nothing here relies on.
int64_t FileReader::read_at(uint64_t offset, char* data, size_t size) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), data, chunk, &got, &at)) {
        return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return got;
}

// Windows flushes the temporary only at the commit (FlushFileBuffers).
class EarlyFlush {};

ReplacementFile::ReplacementFile() = default;
ReplacementFile::~ReplacementFile() { discard(); }

bool ReplacementFile::open(const std::string& path, const FileIdentity& identity) {
    discard();
    identity_ = identity;
    {
        // The original must be writable (not read-only); the probe also
        // resolves links, so that a link stays a link.
        Handle probe(::CreateFileA(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        if (!probe.valid() || ::GetFileType(probe.get()) != FILE_TYPE_DISK ||
            !::GetFileInformationByHandle(probe.get(), &info)) {
            return false;
        }
        otherLinks_ = info.nNumberOfLinks > 1;
        target_ = final_path(probe.get(), path);
    }
    PendingLock held;
    const HANDLE file = create_temporary(target_, temporary_);
    if (file == INVALID_HANDLE_VALUE || temporary_.size() >= sizeof g_pendingTemporary) {
        if (file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file);
            ::DeleteFileA(temporary_.c_str());
        }
        temporary_.clear();
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    std::memcpy(g_pendingTemporary, temporary_.c_str(), temporary_.size() + 1);
    g_pendingHandle = file;
    g_pendingArmed = true;
    return true;
}

bool ReplacementFile::write(std::string_view data) {
    if (handle_ == -1) return false;
    const HANDLE file = reinterpret_cast<HANDLE>(handle_);
    while (!data.empty()) {
        const DWORD chunk = data.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(data.size());
        DWORD put = 0;
        if (!::WriteFile(file, data.data(), chunk, &put, nullptr) || put == 0) return false;
        data.remove_prefix(put);
    }
    return true;
}

bool ReplacementFile::commit() {
    if (handle_ == -1) return false;
    const HANDLE file = reinterpret_cast<HANDLE>(handle_);
    handle_ = -1;
    const bool flushed = ::FlushFileBuffers(file) != 0;
    const FileIdentity now = identity_of(target_);
    const bool unchanged = now == identity_ && now != FileIdentity{};
    bool replaced = false;
    bool replacementLeft = false;
    {
        PendingLock held;
        g_pendingHandle = INVALID_HANDLE_VALUE;
        const bool closed = ::CloseHandle(file) != 0;
        replaced = closed && flushed && unchanged && replace_file(target_, temporary_, replacementLeft);
        if (replaced || replacementLeft) {
            // Done, or the temporary now holds the only copy: never remove it.
            g_pendingArmed = false;
            temporary_.clear();
        }
    }
    if (!replaced) discard();
    return replaced;
}

void ReplacementFile::discard() {
    PendingLock held;
    if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
    g_pendingHandle = INVALID_HANDLE_VALUE;
    if (!temporary_.empty()) ::DeleteFileA(temporary_.c_str());
    g_pendingArmed = false;
    temporary_.clear();
}

bool read_standard_input(std::string& content) {
    // The filter passes bytes through: no CRLF translation either way.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    try {
        char chunk[1 << 16];
        size_t got = 0;
        while ((got = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) content.append(chunk, got);
        return !std::ferror(stdin);
    } catch (const std::bad_alloc&) {
        return false;
    }
}

void prepare_file_io() { ::SetConsoleCtrlHandler(remove_temporary_and_end, TRUE); }
