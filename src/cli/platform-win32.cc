#include "cli/platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include <string_view>

#include "cli/options.h"

char path_separator() { return '\\'; }

size_t max_path_length() { return MAX_PATH - 1; }

std::optional<std::string> current_directory() {
    char buffer[MAX_PATH];
    const DWORD length = ::GetCurrentDirectoryA(MAX_PATH, buffer);
    // A result of MAX_PATH or more is the size the path would need.
    if (length == 0 || length >= MAX_PATH) return std::nullopt;
    return std::string(buffer, length);
}

bool is_directory(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::optional<std::vector<std::string>> list_map_files(const std::string& dirPath) {
    const std::string searchPath = dirPath + "\\*.map";
    WIN32_FIND_DATAA entry;
    const HANDLE find = ::FindFirstFileA(searchPath.c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return std::nullopt;
    // The platform's own matching and order: what "*.map" means on Windows.
    std::vector<std::string> names;
    do {
        names.emplace_back(entry.cFileName);
    } while (::FindNextFileA(find, &entry));
    ::FindClose(find);
    return names;
}

std::vector<std::string> list_subdirectories(const std::string& dirPath) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA entry;
    const HANDLE find = ::FindFirstFileA((dirPath + "\\*").c_str(), &entry);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string_view name = entry.cFileName;
        const DWORD attributes = entry.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) && !(attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
            name != "." && name != "..") {
            names.emplace_back(name);
        }
    } while (::FindNextFileA(find, &entry));
    ::FindClose(find);
    return names;
}

bool is_link(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

std::optional<std::string> real_path(const std::string& path) {
    // No access is asked for: only the name of what the path finally opens.
    const HANDLE file = ::CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE) return std::nullopt;
    char buffer[32768];
    const DWORD length = ::GetFinalPathNameByHandleA(file, buffer, sizeof buffer, FILE_NAME_NORMALIZED);
    ::CloseHandle(file);
    if (length == 0 || length >= sizeof buffer) return std::nullopt;
    return std::string(buffer, length);
}

bool path_is_within(const std::string& path, const std::string& root) {
    if (path.size() < root.size() || !equals_ignoring_case(std::string_view(path).substr(0, root.size()), root)) {
        return false;
    }
    return path.size() == root.size() || path[root.size()] == '\\' || root.ends_with('\\');
}

bool stdout_is_terminal() { return ::_isatty(::_fileno(stdout)) != 0; }

void use_binary_stdout() { ::_setmode(::_fileno(stdout), _O_BINARY); }
