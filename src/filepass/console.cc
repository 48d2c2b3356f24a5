#include "filepass/console.h"

#include <cstdarg>
#include <cstdio>

void print_error(const char* format, ...) {
    std::fflush(stdout);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}

void print_text(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }

int read_console_char() {
    std::fflush(stdout);
    return std::getchar();
}
