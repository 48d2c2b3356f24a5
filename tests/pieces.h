// The scan of a text cut into pieces as the file pass reads a file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/scan.h"

// The text cleaned as the file pass reads a file: taken `block` bytes at a
// time, cut where cut_piece cuts (with `wholeLines`), each piece scanned
// alone with `rules` and the word edges its cuts give it, and nothing after
// the first NUL scanned. `edits` receives the sum of the pieces' edits.
std::string clean_in_pieces(std::string_view text, const CleanRules& rules, size_t block, bool wholeLines,
                            int64_t& edits);
