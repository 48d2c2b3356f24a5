#include <conio.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <iterator>

#include "filepass/console.h"
#include "filepass/wide-win32.h"

namespace {

// What is known of stdout or stderr as a console.
struct ConsoleStream {
    bool checked = false;
    bool console = false;
    HANDLE handle = INVALID_HANDLE_VALUE;
    char pending[4] = {};  // the first bytes of a character whose rest comes next
    size_t pendingSize = 0;
};

ConsoleStream g_streams[2];  // stdout, stderr

ConsoleStream* console_of(std::FILE* stream) {
    ConsoleStream* const console = stream == stdout ? &g_streams[0] : stream == stderr ? &g_streams[1] : nullptr;
    if (!console || console->checked) return console;
    console->checked = true;
    console->handle = reinterpret_cast<HANDLE>(::_get_osfhandle(::_fileno(stream)));
    DWORD mode = 0;
    console->console = console->handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(console->handle, &mode) != 0;
    return console;
}

// Writes the UTF-8 bytes of `text` that make whole characters to the
// console, a part at a time.
void write_whole_characters(HANDLE console, std::string_view text) {
    wchar_t units[512];
    while (!text.empty()) {
        const size_t part = complete_prefix(text.substr(0, std::size(units)));
        const size_t take = part > 0 ? part : std::min(text.size(), std::size(units));
        DWORD written = 0;
        ::WriteConsoleW(console, units, static_cast<DWORD>(wide_into(text.substr(0, take), units)), &written, nullptr);
        text.remove_prefix(take);
    }
}

}  // namespace

bool is_console(std::FILE* stream) {
    const ConsoleStream* console = console_of(stream);
    return console && console->console;
}

bool write_console(std::FILE* stream, std::string_view text) {
    ConsoleStream* console = console_of(stream);
    if (!console || !console->console) return false;
    std::fflush(stream);
    // A character begun in the last write is finished by the first bytes of this one.
    while (console->pendingSize > 0 && console->pendingSize < sizeof console->pending && !text.empty()) {
        console->pending[console->pendingSize++] = text.front();
        text.remove_prefix(1);
        const std::string_view begun(console->pending, console->pendingSize);
        if (complete_prefix(begun) == begun.size()) {
            write_whole_characters(console->handle, begun);
            console->pendingSize = 0;
        }
    }
    const size_t whole = complete_prefix(text);
    write_whole_characters(console->handle, text.substr(0, whole));
    std::memcpy(console->pending + console->pendingSize, text.data() + whole, text.size() - whole);
    console->pendingSize += text.size() - whole;
    return true;
}

void wait_for_key() {
    std::fflush(stdout);
    if (!::_isatty(::_fileno(stdin))) {
        std::getchar();
        return;
    }
    ::_getch();
    while (::_kbhit()) ::_getch();  // the rest of an arrow key, or keys pressed with it
    print_out("\n");               // _getch does not echo: end the pause's line
}
