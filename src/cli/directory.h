// Directory targets: every ".map" file of one directory, in turn, and with
// g_recursive those of its subdirectories too.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "filepass/file_pass.h"

class ConfigLookup;

// Runs the file pass on each entry of `dirPath` that matches "*.map", then
// (with g_recursive) on those of each subdirectory, depth first, leaving out
// every entry that an -exclude glob (g_excludes) matches by its name or by
// its path below `dirPath`; then prints the overall time once. Every entry
// and subdirectory is opened through its open directory (filepass/file_io.h
// Directory), never through a link: a link to a directory is not entered,
// and one to a file outside `dirPath` is skipped with a line on stderr.
// Each map gets the settings `configs` plans for it, and one they exclude
// (or a folder) is left out as an -exclude glob leaves it.
// Returns the sum of the edit counts of the files that did not fail; every
// file's result also goes to `tally`. A directory that cannot be opened or
// listed is an error ("Error opening directory: DIR (REASON)", a failure in
// `tally`), and the rest of the tree goes on; when nothing matches in the
// whole tree and nothing failed, says so on stderr (adding that
// subdirectories are searched with -r where a run without it left some
// out) and returns 0 without an overall time. A path longer than the
// platform takes is reported on stderr as a failure: the directory's
// pattern ends the run, an entry's is skipped. Memory running out while a
// directory is listed or walked stops that directory with "Memory
// allocation error: DIR" (its files not reached are left as they were),
// and the rest of the tree goes on.
int64_t process_directory(const std::string& dirPath, const RunSettings& settings, ConfigLookup& configs,
                          int promptForCommit, RunTally& tally);

// The run without a target: names the current directory, then processes it
// as process_directory does. Returns that result, or 0 when the current
// directory cannot be read (reported on stderr).
int64_t process_current_directory(const RunSettings& settings, ConfigLookup& configs, int promptForCommit,
                                  RunTally& tally);

// Reads, through `configs`, every settings file that a run over `dirPath`
// would use (with g_recursive, those of the folders below it, but for the
// ones left out), so that a wrong one stops the run before any map is
// touched; a folder that cannot be read is left to the
// run to report. configs.error() names the first that cannot be used.
void read_settings_files(const std::string& dirPath, ConfigLookup& configs);

// True when `text` matches `glob`, whose '*' stands for any bytes and '?'
// for one, neither ever for a '/'.
bool matches_glob(std::string_view glob, std::string_view text);
