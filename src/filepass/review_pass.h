// The runs that write nothing (check, list, diff): what each shows of a
// file or of the standard input, read a piece at a time.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

#include "filepass/file_io.h"
#include "filepass/pieces.h"
#include "filepass/run_settings.h"

// Reads a text a piece at a time, each piece recorded (where a second
// thread scans it) as the PieceNeeds say: for_each_piece over a file, or
// for_each_input_piece.
using PieceLoop = std::function<IoFailure(PieceNeeds, const std::function<void(const FilePiece&)>&)>;

// Check or list (settings.review) of the text that `forEachPiece` reads,
// named `name` (`shown` as printable_name writes it): judges it by its bytes,
// prints what the mode shows (the report line and "Changed" lines to
// `reportStream`) and counts it, and a change, in `tally`. Returns the edit
// count, or -1 after an error line (the failure counted in `tally`). Throws
// std::bad_alloc.
int64_t review_pieces(const PieceLoop& forEachPiece, const std::string& name, const std::string& shown,
                      std::FILE* reportStream, const RunSettings& settings, RunTally& tally);

// The diff of what `source` holds, named `name`, read a piece at a time and
// printed a hunk at a time; what a hunk holds beyond kSpillLimit
// waits in scratch files, so memory is bounded whatever the hunk. A text
// with a NUL is binary to diff and patch: "Binary file NAME would change"
// when the bytes before its first NUL would. Counts it, and a change, in
// `tally`. Returns the edit count, or -1 after an error line (the failure
// counted in `tally`). Throws std::bad_alloc.
int64_t diff_pieces(RandomAccess& source, const std::string& name, const std::string& shown,
                    const RunSettings& settings, RunTally& tally);
