#include "filepass/file_io.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>

#include "filepass/wide-win32.h"

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
wchar_t g_pendingTemporary[33000];
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
        ::DeleteFileW(g_pendingTemporary);
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
    const std::wstring wideTarget = wide(target), wideReplacement = wide(replacement);
    if (::ReplaceFileW(wideTarget.c_str(), wideReplacement.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                       nullptr, nullptr)) {
        return true;
    }
    if (::GetLastError() != ERROR_UNABLE_TO_MOVE_REPLACEMENT) return false;
    // The target was removed but the replacement not moved: finish the move.
    if (::MoveFileExW(wideReplacement.c_str(), wideTarget.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return true;
    }
    replacementLeft = true;
    return false;
}

// Reads up to `size` bytes of `file` from `offset`, as RandomAccess::read_at.
// A synchronous ReadFile at an offset also moves the handle's position,
// which nothing here relies on.
int64_t read_at_offset(HANDLE file, uint64_t offset, char* data, size_t size, int& error) {
    const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!::ReadFile(file, data, chunk, &got, &at)) {
        const DWORD last = ::GetLastError();
        if (last == ERROR_HANDLE_EOF) return 0;
        error = static_cast<int>(last);
        return -1;
    }
    return got;
}

// The final path of an open file or directory (links resolved); empty when
// it cannot be read.
std::string final_path(HANDLE file) {
    wchar_t buffer[32768];
    const DWORD length = ::GetFinalPathNameByHandleW(file, buffer, 32768, FILE_NAME_NORMALIZED);
    if (length == 0 || length >= 32768) return std::string();
    return narrow(std::wstring_view(buffer, length));
}

// True when the final path `path` is `root` or lies below it, compared
// without regard to case.
bool path_is_within(const std::string& path, const std::string& root) {
    if (root.empty() || path.size() < root.size()) return false;
    for (size_t i = 0; i < root.size(); ++i) {
        const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(path[i]) != lower(root[i])) return false;
    }
    return path.size() == root.size() || path[root.size()] == '\\' || root.ends_with('\\');
}

// The directory part of `path` as given, for messages: "." when it has none.
std::string directory_of(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    if (slash == std::string::npos) return ".";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
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
        const HANDLE file = ::CreateFileW(wide(temporary).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
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
    Handle file(::CreateFileW(wide(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.valid() ? identity_of(file.get()) : FileIdentity{};
}

// The path at which `location` is opened.
std::string path_of(const FileLocation& location) {
    return location.directory ? joined_path(location.directory->path(), location.entry) : location.path;
}

// Opens `location` with `access`; an entry of a directory run without
// following a reparse point, and only where its handle leads into the run's
// directory. INVALID_HANDLE_VALUE, with `failure`, otherwise.
HANDLE open_located(const FileLocation& location, DWORD access, const std::string& root, IoFailure& failure) {
    const DWORD flags = FILE_ATTRIBUTE_NORMAL | (location.directory ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    Handle file(::CreateFileW(wide(path_of(location)).c_str(), access, kShareAll, nullptr, OPEN_EXISTING, flags, nullptr));
    if (!file.valid()) {
        failure = {IoFailure::open, static_cast<int>(::GetLastError())};
        return INVALID_HANDLE_VALUE;
    }
    if (location.directory) {
        BY_HANDLE_FILE_INFORMATION info{};
        if (!::GetFileInformationByHandle(file.get(), &info) ||
            (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !path_is_within(final_path(file.get()), root)) {
            failure = {IoFailure::link, 0};
            return INVALID_HANDLE_VALUE;
        }
    }
    // A handle that is no disk file (a console, a pipe, a device) is refused
    // before any read. Directories cannot be opened this way.
    if (::GetFileType(file.get()) != FILE_TYPE_DISK) {
        failure = {IoFailure::not_regular, 0};
        return INVALID_HANDLE_VALUE;
    }
    return file.release();
}

// The final path of the run's directory of `location`, where its handles
// must lead; empty for a path.
std::string root_of(const FileLocation& location) {
    return location.directory ? location.directory->root_path() : std::string();
}

}  // namespace

const char kPathSeparator = '\\';

const char* system_error_text(int error) {
    // In the system's own language, as UTF-8 like every other text.
    static char buffer[1024];
    wchar_t message[300];
    DWORD length = ::FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                    static_cast<DWORD>(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), message,
                                    std::size(message), nullptr);
    // The message ends in a full stop and a line end, which the error line has already.
    while (length > 0 && (message[length - 1] == L'\n' || message[length - 1] == L'\r' || message[length - 1] == L'.')) {
        --length;
    }
    const std::string text = length > 0 ? narrow(std::wstring_view(message, length)) : std::string();
    if (text.empty() || text.size() >= sizeof buffer) {
        std::snprintf(buffer, sizeof buffer, "error %d", error);
    } else {
        std::memcpy(buffer, text.c_str(), text.size() + 1);
    }
    return buffer;
}

Directory::~Directory() {
    if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

namespace {

// Opens the directory at `path` so that it cannot be renamed or removed
// while open (no FILE_SHARE_DELETE); INVALID_HANDLE_VALUE, with `failure`,
// when it cannot be, or (with `noLink`) is a reparse point.
HANDLE open_directory(const std::string& path, bool noLink, IoFailure& failure) {
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (noLink ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    Handle dir(::CreateFileW(wide(path).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!dir.valid() || !::GetFileInformationByHandle(dir.get(), &info)) {
        failure = {IoFailure::open, static_cast<int>(::GetLastError())};
        return INVALID_HANDLE_VALUE;
    }
    if (noLink && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        failure = {IoFailure::link, 0};
        return INVALID_HANDLE_VALUE;
    }
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        failure = {IoFailure::open, ERROR_DIRECTORY};
        return INVALID_HANDLE_VALUE;
    }
    return dir.release();
}

}  // namespace

std::shared_ptr<Directory> Directory::open_root(const std::string& path, IoFailure& failure) {
    const HANDLE dir = open_directory(path, false, failure);
    if (dir == INVALID_HANDLE_VALUE) return nullptr;
    std::shared_ptr<Directory> root(new Directory());
    root->handle_ = reinterpret_cast<intptr_t>(dir);
    root->path_ = path;
    root->real_ = final_path(dir);
    return root;
}

std::shared_ptr<Directory> Directory::open_subdirectory(const std::string& name, IoFailure& failure) const {
    const HANDLE dir = open_directory(joined_path(path_, name), true, failure);
    if (dir == INVALID_HANDLE_VALUE) return nullptr;
    std::shared_ptr<Directory> child(new Directory());
    child->handle_ = reinterpret_cast<intptr_t>(dir);
    child->parent_ = shared_from_this();
    child->root_ = root_ ? root_ : shared_from_this();
    child->name_ = name;
    child->path_ = joined_path(path_, name);
    if (!path_is_within(final_path(dir), child->root_->real_)) {
        failure = {IoFailure::link, 0};
        return nullptr;
    }
    return child;
}

bool Directory::list(std::vector<std::string>& maps, std::vector<std::string>& subdirectories,
                     IoFailure& failure) const {
    // The platform's own matching and order: what "*.map" means on Windows.
    WIN32_FIND_DATAW entry;
    HANDLE find = ::FindFirstFileW(wide(joined_path(path_, "*.map")).c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_NOT_FOUND) {
        failure = {IoFailure::open, static_cast<int>(::GetLastError())};
        return false;
    }
    if (find != INVALID_HANDLE_VALUE) {
        do {
            maps.push_back(narrow(entry.cFileName));
        } while (::FindNextFileW(find, &entry));
        ::FindClose(find);
    }
    find = ::FindFirstFileW(wide(joined_path(path_, "*")).c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return true;
    do {
        const std::wstring_view name = entry.cFileName;
        const DWORD attributes = entry.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
            name != L"." && name != L"..") {
            subdirectories.push_back(narrow(name));
        }
    } while (::FindNextFileW(find, &entry));
    ::FindClose(find);
    return true;
}

EntryPlace Directory::locate(const std::string& name, FileLocation& location, IoFailure& failure) const {
    location = FileLocation{std::string(), shared_from_this(), name};
    const std::string path = joined_path(path_, name);
    const std::wstring widePath = wide(path);
    const DWORD attributes = ::GetFileAttributesW(widePath.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return EntryPlace::here;
    // No access is asked for: only the name of what the link finally opens.
    Handle target(::CreateFileW(widePath.c_str(), 0, kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS,
                                nullptr));
    if (!target.valid()) {
        failure = {IoFailure::open, static_cast<int>(::GetLastError())};
        return EntryPlace::missing;
    }
    const std::string resolved = final_path(target.get());
    const std::string& root = root_path();
    if (!path_is_within(resolved, root) || resolved.size() == root.size()) return EntryPlace::outside;
    const size_t from = root.ends_with('\\') ? root.size() : root.size() + 1;
    const Directory& top = root_ ? *root_ : *this;
    location = FileLocation{std::string(), top.shared_from_this(), resolved.substr(from)};
    return EntryPlace::inside;
}

// Held open without FILE_SHARE_DELETE, no directory of the run can be moved.
bool Directory::still_in_place() const { return true; }

FileReader::~FileReader() { close(); }

void FileReader::close() {
    if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
}

bool FileReader::open(const FileLocation& location, IoFailure& failure) {
    close();
    const HANDLE file = open_located(location, GENERIC_READ, root_of(location), failure);
    if (file == INVALID_HANDLE_VALUE) return false;
    handle_ = reinterpret_cast<intptr_t>(file);
    identity_ = identity_of(file);
    return true;
}

int64_t FileReader::read_at(uint64_t offset, char* data, size_t size, int& error) {
    return read_at_offset(reinterpret_cast<HANDLE>(handle_), offset, data, size, error);
}

// Windows flushes the temporary only at the commit (FlushFileBuffers).
class EarlyFlush {};

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
    runDirectory_ = location.directory;
    directoryName_ = location.directory ? location.directory->path() : directory_of(location.path);
    {
        // The original must be writable (not read-only); the probe also
        // resolves links, so that a link stays a link.
        IoFailure probeFailure;
        Handle probe(open_located(location, GENERIC_WRITE, root_of(location), probeFailure));
        BY_HANDLE_FILE_INFORMATION info{};
        if (!probe.valid()) return fail(probeFailure.step, probeFailure.error);
        if (!::GetFileInformationByHandle(probe.get(), &info)) return fail(IoFailure::open, static_cast<int>(::GetLastError()));
        // Windows opens a read-only file for writing where the rights allow
        // it (an administrator's), but will not replace it.
        if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) return fail(IoFailure::replace, ERROR_ACCESS_DENIED);
        otherLinks_ = info.nNumberOfLinks > 1;
        target_ = final_path(probe.get());
        if (target_.empty()) target_ = path_of(location);
    }
    PendingLock held;
    const HANDLE file = create_temporary(target_, temporary_);
    const std::wstring wideTemporary = wide(temporary_);
    if (file == INVALID_HANDLE_VALUE || wideTemporary.size() >= std::size(g_pendingTemporary)) {
        const int error = file == INVALID_HANDLE_VALUE ? static_cast<int>(::GetLastError()) : ERROR_FILENAME_EXCED_RANGE;
        if (file != INVALID_HANDLE_VALUE) {
            ::CloseHandle(file);
            ::DeleteFileW(wideTemporary.c_str());
        }
        temporary_.clear();
        failure_ = {IoFailure::create_temporary, error};
        return false;
    }
    handle_ = reinterpret_cast<intptr_t>(file);
    std::memcpy(g_pendingTemporary, wideTemporary.c_str(), (wideTemporary.size() + 1) * sizeof(wchar_t));
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
        if (!::WriteFile(file, data.data(), chunk, &put, nullptr) || put == 0) {
            return fail(IoFailure::write, static_cast<int>(::GetLastError()));
        }
        data.remove_prefix(put);
    }
    return true;
}

bool ReplacementFile::commit() {
    if (handle_ == -1) return false;
    const HANDLE file = reinterpret_cast<HANDLE>(handle_);
    handle_ = -1;
    const bool flushed = ::FlushFileBuffers(file) != 0;
    const DWORD flushError = flushed ? 0 : ::GetLastError();
    const FileIdentity now = identity_of(target_);
    const bool unchanged = now == identity_ && now != FileIdentity{};
    bool replaced = false;
    bool replacementLeft = false;
    DWORD replaceError = 0;
    {
        PendingLock held;
        g_pendingHandle = INVALID_HANDLE_VALUE;
        const bool closed = ::CloseHandle(file) != 0;
        replaced = closed && flushed && unchanged && replace_file(target_, temporary_, replacementLeft);
        if (!replaced) replaceError = ::GetLastError();
        if (replaced || replacementLeft) {
            // Done, or the temporary now holds the only copy: never remove it.
            g_pendingArmed = false;
            temporary_.clear();
        }
    }
    if (replaced) return true;
    if (!flushed) return fail(IoFailure::write, static_cast<int>(flushError));
    if (!unchanged) return fail(IoFailure::changed, 0);
    return fail(IoFailure::replace, static_cast<int>(replaceError));
}

void ReplacementFile::discard() {
    PendingLock held;
    if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
    g_pendingHandle = INVALID_HANDLE_VALUE;
    if (!temporary_.empty()) ::DeleteFileW(wide(temporary_).c_str());
    g_pendingArmed = false;
    temporary_.clear();
    runDirectory_.reset();
}

int64_t read_standard_input(char* data, size_t size, int& error) {
    // The filter passes bytes through: no CRLF translation either way.
    static const bool binary = [] {
        ::_setmode(::_fileno(stdin), _O_BINARY);
        ::_setmode(::_fileno(stdout), _O_BINARY);
        return true;
    }();
    (void)binary;
    const size_t got = std::fread(data, 1, size, stdin);
    if (got == 0 && std::ferror(stdin)) {
        error = ERROR_READ_FAULT;
        return -1;
    }
    return static_cast<int64_t>(got);
}

ScratchFile::~ScratchFile() {
    if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::string ScratchFile::directory() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH) return ".\\";
    return narrow(std::wstring_view(buffer, length));
}

bool ScratchFile::open(IoFailure& failure) {
    if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = -1;
    const std::string folder = directory();
    DWORD error = ERROR_FILE_EXISTS;
    for (unsigned attempt = 0; attempt < 100 && error == ERROR_FILE_EXISTS; ++attempt) {
        // Gone when closed, whatever ends the process; CREATE_NEW makes a
        // clash of names harmless.
        const uint32_t tag = (static_cast<uint32_t>(::GetCurrentProcessId()) * 2654435761u) ^
                             static_cast<uint32_t>(::GetTickCount64()) ^ (attempt * 40503u);
        char name[40];
        std::snprintf(name, sizeof name, "mapclean-scratch-%08lx.tmp", static_cast<unsigned long>(tag));
        const HANDLE file = ::CreateFileW(wide(joined_path(folder, name)).c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                          nullptr, CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                          nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            handle_ = reinterpret_cast<intptr_t>(file);
            size_ = 0;
            return true;
        }
        error = ::GetLastError();
    }
    failure = {IoFailure::scratch, static_cast<int>(error)};
    return false;
}

bool ScratchFile::append(std::string_view data, IoFailure& failure) {
    while (!data.empty()) {
        const DWORD chunk = data.size() > (1u << 30) ? (1u << 30) : static_cast<DWORD>(data.size());
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(size_);
        at.OffsetHigh = static_cast<DWORD>(size_ >> 32);
        DWORD put = 0;
        if (!::WriteFile(reinterpret_cast<HANDLE>(handle_), data.data(), chunk, &put, &at) || put == 0) {
            failure = {IoFailure::scratch, static_cast<int>(::GetLastError())};
            return false;
        }
        data.remove_prefix(put);
        size_ += put;
    }
    return true;
}

bool ScratchFile::clear(IoFailure& failure) {
    const HANDLE file = reinterpret_cast<HANDLE>(handle_);
    if (!::SetFilePointerEx(file, LARGE_INTEGER{}, nullptr, FILE_BEGIN) || !::SetEndOfFile(file)) {
        failure = {IoFailure::scratch, static_cast<int>(::GetLastError())};
        return false;
    }
    size_ = 0;
    return true;
}

int64_t ScratchFile::read_at(uint64_t offset, char* data, size_t size, int& error) {
    return read_at_offset(reinterpret_cast<HANDLE>(handle_), offset, data, size, error);
}

void prepare_file_io() { ::SetConsoleCtrlHandler(remove_temporary_and_end, TRUE); }
