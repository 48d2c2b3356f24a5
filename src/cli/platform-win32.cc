#include "cli/platform.h"

#include <windows.h>

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
