#include "cli/platform.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <memory>

#include "cli/options.h"

char path_separator() { return '/'; }

size_t max_path_length() { return SIZE_MAX; }

std::optional<std::string> current_directory() {
    std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    if (!cwd) return std::nullopt;
    return std::string(cwd.get());
}

bool is_directory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::optional<std::vector<std::string>> list_map_files(const std::string& dirPath) {
    struct CloseDir {
        void operator()(DIR* dir) const { ::closedir(dir); }
    };
    std::unique_ptr<DIR, CloseDir> dir(::opendir(dirPath.c_str()));
    if (!dir) return std::nullopt;
    std::vector<std::string> names;
    // Names ending in ".map" in any letter case, as Windows matches "*.map".
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string_view name = entry->d_name;
        if (name.size() >= 4 && equals_ignoring_case(name.substr(name.size() - 4), ".map")) {
            names.emplace_back(name);
        }
    }
    // Sorted by bytes, so that runs repeat whatever order the file system keeps.
    std::sort(names.begin(), names.end());
    return names;
}
