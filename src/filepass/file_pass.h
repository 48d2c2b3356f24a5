// One file from reading to writing back.
#pragma once

#include <cstdint>
#include <string>

// Reads `filename`, rewrites its number tokens (mode from g_precision),
// prints the "Changed" lines (g_verbose) and the report line, asks before
// committing when `promptForCommit` is set and there are edits, writes the
// new text back atomically, and pauses after a file it did not ask about
// unless g_silent is set. The new text is streamed to a temporary beside the
// file and renamed over it on commit, removed otherwise; when a question is
// asked, the temporary is made only after the yes, by a second scan. A file
// with other hard links gets a warning on stderr just before it is replaced.
//
// Returns the number of edits (0 or more), or -1 when the file could not be
// opened or read or its buffers could not be allocated (an error line on
// stderr; no report line, no question, no pause). A failed write-back is
// reported on stderr and still returns the edit count. Ends the process with
// status 1 when memory runs out during the scan. With g_check set, stops
// after the report line: nothing is asked, written or paused for.
int64_t process_file(const std::string& filename, int promptForCommit);

// What the files of a run came to, for the exit status of check mode.
struct RunTally {
    bool anyChanged = false;
    bool anyFailed = false;
    // Counts one result of process_file.
    void add(int64_t fileEdits);
    // 1 when a file would change, else 2 when a file failed, else 0.
    int check_status() const;
};

// The filter ("-" as the target): reads all of stdin, writes the cleaned
// text to stdout (nothing with g_check), and the "Changed" lines and the
// report line ("File: -  ...") to stderr. Returns the exit status: 0; with
// g_check 1 when something would change; 2 when stdin could not be read or
// stdout not written; 1 when memory ran out.
int process_standard_streams();
