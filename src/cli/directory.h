// Directory targets: every ".map" file of one directory, in turn, and with
// g_recursive those of its subdirectories too.
#pragma once

#include <cstdint>
#include <string>

#include "filepass/file_pass.h"

// Runs the file pass on each entry of `dirPath` that matches "*.map", then
// (with g_recursive) on those of each subdirectory, depth first, not
// following symbolic links to directories, and skipping (with a line on
// stderr) entries that link to a file outside `dirPath`; then prints the
// overall time once. Returns the
// sum of the edit counts of the files that did not fail; every file's
// result also goes to `tally`. When nothing matches (in the whole tree) or
// the directory cannot be listed, says so on stderr and returns 0 without an
// overall time. A path longer than the platform takes is reported on stderr:
// the directory's pattern ends the run, an entry's is skipped.
int64_t process_directory(const std::string& dirPath, int promptForCommit, RunTally& tally);

// The run without a target: names the current directory, then processes it
// as process_directory does. Returns that result, or 0 when the current
// directory cannot be read (reported on stderr).
int64_t process_current_directory(int promptForCommit, RunTally& tally);
