// Directory targets: every ".map" file of one directory, in turn.
#pragma once

#include <cstdint>
#include <string>

// Runs the file pass on each entry of `dirPath` that matches "*.map" (not
// recursive), then prints the overall time. Returns the sum of the edit
// counts of the files that did not fail. When nothing matches or the
// directory cannot be listed, says so on stderr and returns 0 without an
// overall time. A path longer than the platform takes is reported on stderr:
// the directory's pattern ends the run, an entry's is skipped.
int64_t process_directory(const std::string& dirPath, int promptForCommit);

// The run without a target: names the current directory, then processes it
// as process_directory does. Returns that result, or 0 when the current
// directory cannot be read (reported on stderr).
int64_t process_current_directory(int promptForCommit);
