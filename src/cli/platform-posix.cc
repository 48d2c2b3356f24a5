#include "cli/platform.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
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

namespace {

struct CloseDir {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

// The names of the entries of `dirPath` that `keep` accepts, sorted by bytes
// so that runs repeat whatever order the file system keeps; nullopt when the
// directory cannot be listed.
template <typename Keep>
std::optional<std::vector<std::string>> list_entries(const std::string& dirPath, Keep keep) {
    std::unique_ptr<DIR, CloseDir> dir(::opendir(dirPath.c_str()));
    if (!dir) return std::nullopt;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir.get())) {
        if (keep(std::string_view(entry->d_name))) names.emplace_back(entry->d_name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace

std::optional<std::vector<std::string>> list_map_files(const std::string& dirPath) {
    // Names ending in ".map" in any letter case, as Windows matches "*.map".
    return list_entries(dirPath, [](std::string_view name) {
        return name.size() >= 4 && equals_ignoring_case(name.substr(name.size() - 4), ".map");
    });
}

std::vector<std::string> list_subdirectories(const std::string& dirPath) {
    auto names = list_entries(dirPath, [&](std::string_view name) {
        if (name == "." || name == "..") return false;
        struct stat info {};
        const std::string path = dirPath + '/' + std::string(name);
        return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);  // links not followed
    });
    return names ? std::move(*names) : std::vector<std::string>();
}

bool is_link(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

std::optional<std::string> real_path(const std::string& path) {
    std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr), &std::free);
    if (!resolved) return std::nullopt;
    return std::string(resolved.get());
}

bool path_is_within(const std::string& path, const std::string& root) {
    if (root == "/") return path.starts_with('/');
    return path.starts_with(root) && (path.size() == root.size() || path[root.size()] == '/');
}

bool stdout_is_terminal() { return ::isatty(1) == 1; }

void use_binary_stdout() {}
