#include "cli/platform.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>

#include "filepass/wide-win32.h"

bool path_too_long(const std::string& path) { return wide_length(path) > MAX_PATH - 1; }

std::optional<std::string> current_directory() {
    wchar_t buffer[MAX_PATH];
    const DWORD length = ::GetCurrentDirectoryW(MAX_PATH, buffer);
    // A result of MAX_PATH or more is the size the path would need.
    if (length == 0 || length >= MAX_PATH) return std::nullopt;
    return narrow(std::wstring_view(buffer, length));
}

bool path_exists(const std::string& path) { return ::GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

bool is_directory(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(wide(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool stdout_is_terminal() { return ::_isatty(::_fileno(stdout)) != 0; }

void use_binary_stdout() { ::_setmode(::_fileno(stdout), _O_BINARY); }

ConsoleSituation console_situation() {
    ConsoleSituation console;
    DWORD processes[2];  // one is alone; two or more is a shared console
    console.processes = ::GetConsoleProcessList(processes, 2);
    DWORD mode = 0;
    console.inputIsConsole = ::GetConsoleMode(::GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
    return console;
}
