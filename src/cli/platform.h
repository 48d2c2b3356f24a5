// The few operating-system services the command line needs beyond the
// standard library. One implementation per platform (platform-posix.cc,
// platform-win32.cc); nothing else knows which platform it runs on.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

#include "cli/closing_pause.h"

// True when `path` is longer than the platform's calls take (Windows: 259
// UTF-16 code units; POSIX: no limit here); such a path is reported and
// skipped, never cut short.
bool path_too_long(const std::string& path);

// The current directory, or nullopt when it cannot be read (or is too
// long: path_too_long). Throws std::bad_alloc.
std::optional<std::string> current_directory();

// True when `path` names an existing entry of any kind (a dangling link too).
bool path_exists(const std::string& path);

// True when `path` names an existing directory; false otherwise, including
// when it does not exist or cannot be examined.
bool is_directory(const std::string& path);

// True when the standard output is a terminal (a console on Windows).
bool stdout_is_terminal();

// Makes the standard output write bytes as they are: no line-end
// translation (Windows); nothing to do on POSIX.
void use_binary_stdout();

// The console the program runs in: on Windows the processes attached to it
// (GetConsoleProcessList) and whether the standard input is it; on POSIX
// none, so that no run there ever pauses before closing.
ConsoleSituation console_situation();
