// Console output shared by the file pass and the command line.
#pragma once

#include <string_view>

// Prints a printf-style line on the standard error stream, after flushing the
// standard output so that lines of both streams keep their order.
void print_error(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Writes `text` to the standard output as raw bytes (no NUL limit, no length
// limit of printf's precision field).
void print_text(std::string_view text);

// Reads one character from the standard input (EOF at its end), after
// flushing the standard output so that a prompt shows when it is a pipe.
int read_console_char();
