#include "cli/platform.h"

#include <windows.h>

#include <string_view>

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
