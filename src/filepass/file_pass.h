// One file from reading to writing back.
#pragma once

#include <cstdint>
#include <string>

// What the files of a run came to, for its exit status.
struct RunTally {
    bool anyChanged = false;  // in a run that writes nothing: a file would change, by its bytes
    bool anyFailed = false;   // a file could not be read, or (written) not written
    // The status of a run that writes nothing: 1 when a file would change,
    // else 2 when a file failed, else 0.
    int check_status() const;
};

// Reads `filename`, rewrites its number tokens (mode from g_precision,
// settled with g_stable), and then, as g_review asks:
//
// Review::none, the designed run: prints the "Changed" lines (g_verbose)
// and the report line (unless g_quiet), asks before committing when
// `promptForCommit` is set and there are edits, writes the new text back
// atomically, and pauses after a file it did not ask about unless g_silent
// is set. The new text is streamed to a temporary beside the file and
// renamed over it on commit, removed otherwise; when a question is asked,
// the temporary is made only after the yes, by a second scan. A file with
// other hard links gets a warning on stderr just before it is replaced.
//
// check, list, diff: nothing is asked, written or paused for. The file is
// judged by its bytes (a cleaned text equal to it would not change); check
// prints the "Changed" lines and the report line (and with g_github an
// annotation when it would change), list its path when it would change,
// diff a unified diff of it (or "Binary file PATH would change").
//
// Returns the number of edits (0 or more), or -1 when the file could not be
// opened or read or its buffers could not be allocated (an error line on
// stderr; no report line, no question, no pause). A failed write-back is
// reported on stderr and still returns the edit count. Failures and changes
// go to `tally`. Ends the process with status 1 when memory runs out during
// the scan.
int64_t process_file(const std::string& filename, int promptForCommit, RunTally& tally);

// The filter ("-" as the target): reads all of stdin and, in the designed
// run, writes the cleaned text to stdout, and the "Changed" lines and the
// report line ("File: -  ...", unless g_quiet) to stderr; in the runs that
// write nothing, does what process_file does for a file named "-", with the
// report and "Changed" lines on stderr. A failure to read stdin or write
// stdout is reported on stderr and goes to `tally`, as does a change. Ends
// the process with status 1 when memory runs out.
void process_standard_streams(RunTally& tally);
