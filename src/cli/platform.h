// The few operating-system services the command line needs beyond the
// standard library. One implementation per platform (platform-posix.cc,
// platform-win32.cc); nothing else knows which platform it runs on.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The separator put between a directory and an entry's name.
char path_separator();

// The longest path the platform's calls take, in bytes: a longer one is
// reported and skipped, never cut short.
size_t max_path_length();

// The current directory, or nullopt when it cannot be read (or is longer
// than max_path_length()).
std::optional<std::string> current_directory();

// True when `path` names an existing directory; false otherwise, including
// when it does not exist or cannot be examined.
bool is_directory(const std::string& path);

// The names (without the directory) of the entries of `dirPath` that match
// "*.map", in a stable order; nullopt when the directory cannot be listed.
// Entries of every kind are listed; the file pass rejects what is no file.
std::optional<std::vector<std::string>> list_map_files(const std::string& dirPath);

// The names of the subdirectories of `dirPath`, in a stable order, without
// "." and "..", and without symbolic links (or other reparse points) to
// directories; empty when there are none or it cannot be listed.
std::vector<std::string> list_subdirectories(const std::string& dirPath);

// True when `path` itself is a symbolic link (on Windows, a reparse point).
bool is_link(const std::string& path);

// `path` with every link resolved: the absolute path of what it finally
// names; nullopt when that does not exist or cannot be resolved.
std::optional<std::string> real_path(const std::string& path);

// True when the resolved path `path` is `root` or lies below it (both as
// real_path gives them; on Windows compared without regard to case).
bool path_is_within(const std::string& path, const std::string& root);

// True when the standard output is a terminal (a console on Windows).
bool stdout_is_terminal();

// Makes the standard output write bytes as they are: no line-end
// translation (Windows); nothing to do on POSIX.
void use_binary_stdout();
