#include "pieces.h"

#include <algorithm>

#include "filepass/pieces.h"

std::string clean_in_pieces(std::string_view text, const CleanRules& rules, size_t block, bool wholeLines,
                            int64_t& edits) {
    std::string output;
    edits = 0;
    bool pastNul = false;
    WordEdges edges;
    for (size_t start = 0, filled = 0; start < text.size();) {
        filled = std::min(text.size() - start, filled + block);
        const std::string_view window = text.substr(start, filled);
        const PieceCut cut = cut_piece(window, wholeLines, start + filled == text.size());
        if (cut.length == 0) continue;
        const std::string_view piece = window.substr(0, cut.length);
        edges.after = cut.wordAfter;
        if (pastNul) {
            output.append(piece);
        } else {
            StringRebuilder cleaned(piece, output);
            edits += scan_text(piece, rules, cleaned, edges);
            cleaned.finish();
            pastNul = piece.find('\0') != std::string_view::npos;
        }
        edges.before = cut.wordAfter;
        start += cut.length;
        filled -= cut.length;
    }
    return output;
}
