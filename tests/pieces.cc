#include "pieces.h"

#include <algorithm>

std::string clean_in_pieces(std::string_view text, const CleanRules& rules, size_t block, bool wholeLines,
                            int64_t& edits) {
    std::string output;
    edits = 0;
    bool pastNul = false;
    for (size_t start = 0, filled = 0; start < text.size();) {
        filled = std::min(text.size() - start, filled + block);
        const std::string_view window = text.substr(start, filled);
        const bool atEnd = start + filled == text.size();
        const size_t cut = atEnd ? filled : piece_length(window, wholeLines);
        if (cut == 0) continue;
        const std::string_view piece = window.substr(0, cut);
        if (pastNul) {
            output.append(piece);
        } else {
            int64_t pieceEdits = 0;
            output += clean_text(piece, rules, nullptr, pieceEdits);
            edits += pieceEdits;
            pastNul = piece.find('\0') != std::string_view::npos;
        }
        start += cut;
        filled -= cut;
    }
    return output;
}
