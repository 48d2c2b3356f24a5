#include "filepass/console.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <string>

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

// Writes `text` to `stream`: as the console shows text where it is one,
// else as bytes.
void write_bytes(std::FILE* stream, std::string_view text) {
    if (write_console(stream, text)) return;
    errno = 0;
    const bool failed = std::fwrite(text.data(), 1, text.size(), stream) != text.size();
    if (stream == stdout) keep_output_error(failed);
}

void vprint_to(std::FILE* stream, const char* format, va_list args) {
    flush_before(stream);
    if (is_console(stream)) {
        // Made whole first, so that the console gets whole characters.
        va_list counted;
        va_copy(counted, args);
        const int length = std::vsnprintf(nullptr, 0, format, counted);
        va_end(counted);
        std::string text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
        std::vsnprintf(text.data(), text.size(), format, args);
        text.pop_back();
        write_console(stream, text);
        return;
    }
    errno = 0;
    const bool failed = std::vfprintf(stream, format, args) < 0;
    if (stream == stdout) keep_output_error(failed);
}

}  // namespace

void print_error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vprint_to(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}

void print_error_naming(const char* before, std::string_view name, const char* after) {
    flush_before(stderr);
    write_bytes(stderr, before);
    put_printable_name(name, [](std::string_view piece, void*) { write_bytes(stderr, piece); }, nullptr);
    write_bytes(stderr, after);
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
    write_bytes(stream, text);
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
