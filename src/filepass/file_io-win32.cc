#include "filepass/file_io.h"

#include <windows.h>

#include <cstdio>
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
    bool close() {
        const HANDLE handle = handle_;
        handle_ = INVALID_HANDLE_VALUE;
        return ::CloseHandle(handle) != 0;
    }

private:
    HANDLE handle_;
};

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

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

bool write_fully(HANDLE file, const char* data, size_t size) {
    while (size > 0) {
        const DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
        DWORD put = 0;
        if (!::WriteFile(file, data, chunk, &put, nullptr) || put == 0) return false;
        data += put;
        size -= put;
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
        const unsigned long long tag =
            (static_cast<unsigned long long>(::GetCurrentProcessId()) << 32) ^ ::GetTickCount64() ^ attempt;
        char suffix[32];
        std::snprintf(suffix, sizeof suffix, "~mapclean-%08lx", static_cast<unsigned long>(tag & 0xffffffffu));
        temporary = dir + "." + base + suffix;
        const HANDLE file = ::CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                          FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

}  // namespace

ReadStatus read_whole_file(const std::string& path, std::string& content) {
    content.clear();
    // Directories cannot be opened this way, and a handle that is no disk
    // file (a console, a pipe, a device) is refused before any read.
    Handle file(::CreateFileA(path.c_str(), GENERIC_READ, kShareAll, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file.valid() || ::GetFileType(file.get()) != FILE_TYPE_DISK ||
        !::GetFileSizeEx(file.get(), &size)) {
        return ReadStatus::open_failed;
    }
    try {
        if (static_cast<unsigned long long>(size.QuadPart) > content.max_size()) throw std::bad_alloc();
        content.resize(static_cast<size_t>(size.QuadPart));
    } catch (const std::bad_alloc&) {
        return ReadStatus::alloc_failed;
    }
    // A byte past the size seen means the file grew while being read.
    char extra = 0;
    if (!read_fully(file.get(), content.data(), content.size()) ||
        read_fully(file.get(), &extra, 1)) {
        std::string().swap(content);
        return ReadStatus::read_failed;
    }
    return ReadStatus::ok;
}

bool write_file_atomically(const std::string& path, std::string_view content) {
    std::string target;
    {
        // The original must be writable (not read-only); the probe also
        // resolves links, so that a link stays a link.
        Handle probe(::CreateFileA(path.c_str(), GENERIC_WRITE, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!probe.valid() || ::GetFileType(probe.get()) != FILE_TYPE_DISK) return false;
        target = final_path(probe.get(), path);
    }

    std::string temporary;
    Handle file(create_temporary(target, temporary));
    if (!file.valid()) return false;
    const bool written = write_fully(file.get(), content.data(), content.size()) &&
                         ::FlushFileBuffers(file.get()) && file.close();
    if (!written || !::MoveFileExA(temporary.c_str(), target.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ::DeleteFileA(temporary.c_str());
        return false;
    }
    return true;
}

void prepare_file_io() {}
