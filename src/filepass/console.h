// Console output shared by the file pass and the command line, and the
// pause's key. The key is read, and a console written, per platform
// (console-posix.cc, console-win32.cc).
#pragma once

#include <cstdio>
#include <string_view>

// Prints a printf-style line on the standard error stream, after flushing the
// standard output so that lines of both streams keep their order.
void print_error(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Prints `before`, printable_name(name) and `after` on the standard error
// stream as print_error does, allocating nothing: the lines that say where
// memory ran out.
void print_error_naming(const char* before, std::string_view name, const char* after);

// Prints printf-style on the standard output; a failure is kept for
// finish_standard_output().
void print_out(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The same on `stream` (a failure is kept only for the standard output);
// on stderr after flushing the standard output, as print_error does.
void print_to(std::FILE* stream, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Writes `text` to `stream` (the standard output unless given) as raw bytes
// (no NUL limit, no length limit of printf's precision field); a failure on
// the standard output is kept likewise.
void print_text(std::string_view text);
void print_text(std::FILE* stream, std::string_view text);

// Flushes the standard output; the system's error number of the first
// write to it that failed, or 0.
int finish_standard_output();

// True when `stream` (stdout or stderr) is a console that takes text
// rather than bytes (Windows); false on POSIX, whose terminals take the
// bytes as they are.
bool is_console(std::FILE* stream);

// Writes the UTF-8 `text` to `stream` as its console shows text (Windows:
// WriteConsoleW, a character cut between two writes joined again), after
// what stdio holds for it, allocating nothing; false, writing nothing, when
// `stream` is no such console.
bool write_console(std::FILE* stream, std::string_view text);

// Reads one character from the standard input (EOF at its end), after
// flushing the standard output so that a prompt shows when it is a pipe.
int read_console_char();

// The pause: waits for one key. On a terminal (a console on Windows) a
// single key press ends it, without Enter, and whatever arrived with that
// key (the rest of an arrow key, an Enter typed in the same instant) is
// dropped, so that the next question waits for its own answer; the line is
// then ended. From a pipe or file, one character is read.
void wait_for_key();
