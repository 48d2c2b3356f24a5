// The runs that write nothing (check, list, diff): what each shows of a
// file or of the standard input.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "filepass/file_io.h"
#include "filepass/run_settings.h"

// One whole text named `name` (`shown` as printable_name writes it), as
// settings.review asks: judges it by its bytes (settled, with
// settings.rules.stable), prints
// what the mode shows (the report line and "Changed" lines to
// `reportStream`), and counts a change in `tally`. Returns the edit count.
// Throws std::bad_alloc.
int64_t review_text(const std::string& name, const std::string& shown, std::string_view text,
                    std::FILE* reportStream, const RunSettings& settings, RunTally& tally);

// Check and list of `file`, read a block at a time; the same as
// review_text otherwise (report to stdout). Returns the edit count,
// or -1 after an error line (the failure counted in `tally`). Throws
// std::bad_alloc.
int64_t review_file_in_pieces(const FileTarget& file, const std::string& shown, const RunSettings& settings,
                              RunTally& tally);

// The diff of `file`, read a piece at a time and printed a hunk at a
// time, so that memory holds a piece and a hunk, not the file;
// false, reading nothing more, when the file holds a NUL (the caller then
// reviews it whole: such a file is binary to diff). `edits` receives the
// edit count, or -1 after an error line (the failure counted in `tally`).
// Throws std::bad_alloc.
bool diff_file_in_pieces(const FileTarget& file, const std::string& shown, const RunSettings& settings,
                         RunTally& tally, int64_t& edits);
