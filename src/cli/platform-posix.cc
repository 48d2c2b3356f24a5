#include "cli/platform.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <new>

bool path_too_long(const std::string&) { return false; }

std::optional<std::string> current_directory() {
    std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
    if (!cwd && errno == ENOMEM) throw std::bad_alloc();
    if (!cwd) return std::nullopt;
    return std::string(cwd.get());
}

bool path_exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

bool is_directory(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool stdout_is_terminal() { return ::isatty(1) == 1; }

void use_binary_stdout() {}

ConsoleSituation console_situation() { return ConsoleSituation{}; }
