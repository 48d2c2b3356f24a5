// Whole-file reading and crash-safe write-back. One implementation per
// platform (file_io-posix.cc, file_io-win32.cc).
#pragma once

#include <string>
#include <string_view>

enum class ReadStatus {
    ok,
    open_failed,   // missing, unreadable, or not a regular file
    alloc_failed,  // no memory for the content
    read_failed,   // read error, or the size changed while reading
};

// Reads the whole regular file at `path` into `content`. Never blocks on a
// FIFO or device: such targets, and directories, give open_failed without
// being read. On any status but ok, `content` is left empty.
ReadStatus read_whole_file(const std::string& path, std::string& content);

// Replaces the content of the file at `path` with `content` so that, whatever
// happens, the file holds either its old or its new content in full: the text
// goes to a temporary file in the same directory (whose name never ends in
// ".map"), is flushed to disk and closed, then renamed over the original.
// A symbolic link is followed and stays a link; the file's permission bits
// are kept. A file that cannot be opened for writing is not replaced.
// Returns false on any failure; the original is then untouched and no
// temporary is left behind.
bool write_file_atomically(const std::string& path, std::string_view content);

// Prepares the process for file I/O: a write beyond a file-size limit must be
// reported as a failed write, not kill the process mid-save.
void prepare_file_io();
