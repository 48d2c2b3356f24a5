#include "filepass/console.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>

#include "filepass/names.h"

namespace {

int g_outputError = 0;  // the first failed write to stdout

void keep_output_error(bool failed) {
    if (failed && g_outputError == 0) g_outputError = errno != 0 ? errno : EIO;
}

// Lines on stderr keep their place among those on stdout (2>&1): what
// stdout holds goes first.
void flush_before(std::FILE* stream) {
    if (stream != stderr) return;
    errno = 0;
    keep_output_error(std::fflush(stdout) != 0);
}

void vprint_to(std::FILE* stream, const char* format, va_list args) {
    flush_before(stream);
    errno = 0;
    const bool failed = std::vfprintf(stream, format, args) < 0;
    if (stream == stdout) keep_output_error(failed);
}

}  // namespace

void print_error(const char* format, ...) {
    flush_before(stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}

void print_error_naming(const char* before, std::string_view name, const char* after) {
    flush_before(stderr);
    std::fputs(before, stderr);
    put_printable_name(name, [](std::string_view piece, void*) { std::fwrite(piece.data(), 1, piece.size(), stderr); },
                       nullptr);
    std::fputs(after, stderr);
    std::fflush(stderr);
}

void print_out(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprint_to(stdout, format, args);
    va_end(args);
}

void print_to(std::FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprint_to(stream, format, args);
    va_end(args);
}

void print_text(std::string_view text) { print_text(stdout, text); }

void print_text(std::FILE* stream, std::string_view text) {
    flush_before(stream);
    errno = 0;
    const bool failed = std::fwrite(text.data(), 1, text.size(), stream) != text.size();
    if (stream == stdout) keep_output_error(failed);
}

int finish_standard_output() {
    errno = 0;
    keep_output_error(std::fflush(stdout) != 0 || std::ferror(stdout));
    return g_outputError;
}

int read_console_char() {
    std::fflush(stdout);
    return std::getchar();
}
