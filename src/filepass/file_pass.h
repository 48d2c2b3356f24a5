// One file from reading to writing back.
#pragma once

#include <cstdint>
#include <string>

#include "filepass/file_io.h"
#include "filepass/run_settings.h"

// Reads the file, rewrites its number tokens with settings.rules, and then,
// as settings.review asks:
//
// Review::none, the designed run: prints the "Changed" lines (verbose)
// and the report line (unless quiet), asks before committing when
// `promptForCommit` is set and there are edits (only about a file it can
// replace: for one it cannot, the write error comes instead), writes the
// new text back atomically, and pauses after a file it did not ask about
// unless the run is silent. The new text is streamed to a temporary beside the file and
// renamed over it on commit, removed otherwise; when a question is asked,
// the temporary is made only after the yes, by a second scan. Warnings on
// stderr just before the file is replaced say when its other hard links
// keep the old content, and when it loses a set-ID bit.
//
// check, list, diff: nothing is asked, written or paused for. The file is
// judged by its bytes (a cleaned text equal to it would not change); check
// prints the "Changed" lines and the report line (and with github an
// annotation when it would change), list its path when it would change,
// diff a unified diff of it (or "Binary file PATH would change").
//
// Every line meant for a person shows the name as printable_name writes it.
// Returns the number of edits (0 or more), or -1 when the file could not be
// opened or read, or memory ran out (an error line on stderr; no report
// line, no question, no pause; no temporary left). A failed write-back is
// reported on stderr and still returns the edit count. Failures and changes
// go to `tally`.
int64_t process_file(const FileTarget& file, const RunSettings& settings, int promptForCommit, RunTally& tally);

// The filter ("-" as the target): reads stdin a piece at a time and, in the
// designed run, writes each piece cleaned to stdout as it goes, and the
// "Changed" lines and the report line ("File: -  ...", unless quiet) to
// stderr; in the runs that write nothing, does what process_file does for a
// file named "-", with the report and "Changed" lines on stderr (a diff
// reads a scratch copy of stdin). Memory stays bounded whatever the input.
// A failure to read stdin, or memory running out, is reported on stderr
// (after what was written) and goes to `tally`, as does a change; a failure
// to write stdout is kept for finish_standard_output().
void process_standard_streams(const RunSettings& settings, RunTally& tally);

// The filter for a text its settings leave out: stdin copied to stdout as
// it is, in a run that writes; nothing read in a run that writes nothing.
// A failure to read stdin is reported on stderr and goes to `tally`.
void pass_standard_streams_through(const RunSettings& settings, RunTally& tally);
