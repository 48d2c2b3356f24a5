#include "core/scan.h"

#include <algorithm>
#include <array>
#include <vector>


#include "core/map_fields.h"
#include "core/number_token.h"
#include "core/token_scan.h"

namespace {

// Bytes that may begin a number: digits, signs and the point. Every other
// byte is passed over without further tests.
constexpr std::array<bool, 256> kMayStartNumber = [] {
    std::array<bool, 256> table{};
    for (char c : std::string_view("0123456789+-.")) table[static_cast<unsigned char>(c)] = true;
    return table;
}();

// may_be_in_token as a table, for the scan's inner loops. The scan is
// between tokens just after a byte that is in none.
constexpr std::array<bool, 256> kMayBeInToken = [] {
    std::array<bool, 256> table{};
    for (int c = 0; c < 256; ++c) table[static_cast<size_t>(c)] = may_be_in_token(static_cast<char>(c));
    return table;
}();

// Letters, digits, '_', '.', '+' and '-': the bytes that join a number to a
// word. The signs are among them so that ids whose groups are all digits
// ("{00001234-0000-4000-...}") stay whole too.
bool is_word_byte(char c) {
    return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') || c == '_' || c == '.' || c == '+' ||
           c == '-';
}

// Where the scan must start to take the tokens around `hit`: after the last
// byte before it that no token can hold, and never before `scannedTo`, where
// the scan already stands (between tokens).
size_t token_run_start(const char* bytes, size_t hit, size_t scannedTo) {
    size_t start = std::max(hit, scannedTo);
    while (start > scannedTo && kMayBeInToken[static_cast<unsigned char>(bytes[start - 1])]) --start;
    return start;
}

// Scans tokens one by one from `p` (a position between tokens) until past
// `until`; calls `onToken(position, shape)` for each token that may change.
// In fixed-precision mode (`precision` >= 0), tokens that the rounding
// provably keeps are passed over without being looked at closely.
template <typename OnToken>
size_t scan_tokens(std::string_view scanned, size_t p, size_t until, int32_t precision, OnToken onToken) {
    const char* const bytes = scanned.data();
    const bool automatic = precision < 0;
    const bool shortcut = precision >= 0 && precision <= 15;
    while (p < until) {
        if (!kMayStartNumber[static_cast<unsigned char>(bytes[p])]) {
            ++p;
            continue;
        }
        if (shortcut) {
            if (const size_t stable = stable_decimal_length(scanned, p, precision)) {
                p += stable;
                continue;
            }
        }
        if (!is_number_start(scanned, p)) {
            ++p;
            continue;
        }
        const TokenShape shape = scan_number_token(scanned, p);
        if (shape.length == 0) {
            ++p;
            continue;
        }
        // Automatic mode leaves every token without a point or an exponent.
        if (!automatic || shape.exponentLetter || shape.dot != std::string_view::npos) onToken(p, shape);
        p += shape.length;
    }
    return p;
}

// True when no word byte touches the token [p, end) of `text` (with
// `edges` beyond its ends): a number standing alone, not a piece of a word
// such as the GUID "{300d129e-0153-...}", the texture name "metal05rust" or
// the address "8000a0e0".
bool stands_alone(std::string_view text, size_t p, size_t end, WordEdges edges) {
    return (p == 0 ? !edges.before : !is_word_byte(text[p - 1])) &&
           (end == text.size() ? !edges.after : !is_word_byte(text[end]));
}

// The rules of `rules` for one token that stands alone; true when its text
// changes.
bool rewrite(std::string_view token, const TokenShape& shape, const CleanRules& rules, std::string& replacement) {
    if (rules.plain && rules.precision < 0) return rewrite_number_token_plain(token, shape, replacement);
    return rewrite_number_token(token, shape, rules.precision, replacement);
}

// Rewrites `replacement` (one token's new text) again and again until the
// rules leave it as it is; bounded, though no rule is known to cycle.
void settle(std::string& replacement, const CleanRules& rules) {
    std::string again;
    for (int round = 0; round < kMaxPasses; ++round) {
        const std::string_view current = replacement;
        if (current.empty() || !is_number_start(current, 0)) return;
        const TokenShape shape = scan_number_token(current, 0);
        if (shape.length != current.size() || !rewrite(current, shape, rules, again)) return;
        replacement.swap(again);
    }
}

}  // namespace

int64_t scan_text(std::string_view text, int32_t precision, EditSink& sink) {
    return scan_text(text, CleanRules{precision}, sink);
}

int64_t scan_text(std::string_view text, const CleanRules& rules, EditSink& sink) {
    return scan_text(text, rules, sink, widest_simd_width());
}

int64_t scan_text(std::string_view text, const CleanRules& rules, EditSink& sink, WordEdges edges) {
    return scan_text(text, rules, sink, widest_simd_width(), edges);
}

int64_t scan_text(std::string_view text, const CleanRules& rules, EditSink& sink, SimdWidth width,
                  WordEdges edges) {
    const std::string_view scanned = text.substr(0, text.find('\0'));
    // Past a NUL nothing is scanned: no word goes on beyond the text's end.
    if (scanned.size() < text.size()) edges.after = false;
    const char* const bytes = scanned.data();
    const size_t size = scanned.size();
    const int32_t precision = rules.precision;
    const bool automatic = precision < 0;

    int64_t edits = 0;
    // Lines are counted only up to each edit, in bulk.
    const bool countLines = sink.wants_lines();
    int64_t lineNum = 1;
    size_t linesCountedTo = 0;
    std::string replacement;
    FieldFilter fields(scanned, rules.only);
    const auto onToken = [&](size_t p, const TokenShape& shape) {
        const std::string_view token(bytes + p, shape.length);
        if (shape.length > kLongestNumber || !stands_alone(scanned, p, p + shape.length, edges)) return;
        if (rules.only != 0 && !fields.allows(p, shape.length)) return;
        if (!rewrite(token, shape, rules, replacement)) return;
        if (rules.stable) {
            settle(replacement, rules);
            if (replacement == token) return;
        }
        ++edits;
        if (countLines) {
            lineNum += std::count(bytes + linesCountedTo, bytes + p, '\n');
            linesCountedTo = p;
        }
        sink.on_edit(Edit{p, token, replacement, countLines ? lineNum : 0});
    };

    if (!automatic && precision > kMaxFixedCandidatePrecision) {
        scan_tokens(scanned, 0, size, precision, onToken);
        return edits;
    }
    if (!automatic) {
        // Fixed precision jumps between places near which a token may not be
        // provably kept, and scans the tokens that begin up to
        // kFixedCandidateReach bytes past each, and those joined to them;
        // a place whose reach was already scanned is passed over.
        size_t p = 0;
        size_t searchFrom = 0;
        while (searchFrom < size) {
            const auto hit = static_cast<size_t>(
                find_fixed_candidate(bytes, bytes + searchFrom, bytes + size, precision, width) - bytes);
            if (hit == size) break;
            // The reach, and the rest of the run of bytes that tokens can
            // hold around its end: a token that follows another without a
            // separator ("1e-1234567.5") is looked at with it.
            size_t until = std::min(size, hit + kFixedCandidateReach);
            while (until < size && kMayBeInToken[static_cast<unsigned char>(bytes[until])]) ++until;
            if (until > p) p = scan_tokens(scanned, token_run_start(bytes, hit, p), until, precision, onToken);
            const size_t reachedFrom = p >= kFixedCandidateReach - 1 ? p - (kFixedCandidateReach - 1) : 0;
            searchFrom = std::max(hit + 1, reachedFrom);
        }
        return edits;
    }
    // Automatic mode jumps from one place where a token may change to the
    // next and scans only the tokens around it, from the last byte before it
    // that no token can hold (or from where the scan already stands).
    size_t p = 0;
    while (p < size) {
        const size_t hit = static_cast<size_t>(find_automatic_candidate(bytes, bytes + p, bytes + size, width) - bytes);
        if (hit == size) break;
        p = scan_tokens(scanned, token_run_start(bytes, hit, p), hit + 1, precision, onToken);
    }
    return edits;
}

void TextRebuilder::on_edit(const Edit& edit) {
    on_change(edit);
    put(text_.substr(copied_, edit.offset - copied_));
    put(edit.replacement);
    copied_ = edit.offset + edit.original.size();
}

void TextRebuilder::finish() {
    put(text_.substr(copied_));
    copied_ = text_.size();
}

size_t piece_length(std::string_view text, bool wholeLines) {
    if (const size_t lineEnd = text.rfind('\n'); lineEnd != std::string_view::npos) return lineEnd + 1;
    if (wholeLines) return 0;
    for (size_t end = text.size(); end > 0; --end) {
        const char c = text[end - 1];
        if (!is_word_byte(c) && !kMayBeInToken[static_cast<unsigned char>(c)]) return end;
    }
    return 0;
}

PieceCut cut_piece(std::string_view text, bool wholeLines, bool atEnd) {
    if (atEnd) return PieceCut{text.size(), false};
    if (const size_t length = piece_length(text, wholeLines)) return PieceCut{length, false};
    // No cut: every byte is a word byte.
    if (!wholeLines && text.size() > kLongestNumber) return PieceCut{text.size(), true};
    return PieceCut{};
}

std::string clean_text(std::string_view text, int32_t precision, int64_t* edits) {
    int64_t count = 0;
    std::string cleaned = clean_text(text, CleanRules{precision}, nullptr, count);
    if (edits) *edits = count;
    return cleaned;
}

std::string clean_text(std::string_view text, const CleanRules& rules, EditSink* sink, int64_t& edits,
                       int* passes) {
    // The edits of a later pass are told only once it proves to change bytes.
    struct Kept {
        size_t offset;
        std::string original, replacement;
        int64_t line;
    };
    class Builder final : public TextRebuilder {
    public:
        Builder(std::string_view text, EditSink* sink, bool tellNow)
            : TextRebuilder(text), sink_(sink), tellNow_(tellNow) {}
        std::string out;
        std::vector<Kept> kept;

    private:
        void on_change(const Edit& edit) override {
            if (!sink_) return;
            if (tellNow_) {
                sink_->on_edit(edit);
            } else {
                kept.push_back(Kept{edit.offset, std::string(edit.original), std::string(edit.replacement), edit.line});
            }
        }
        void put(std::string_view piece) override { out.append(piece); }
        bool wants_lines() const override { return sink_ && sink_->wants_lines(); }
        EditSink* const sink_;
        const bool tellNow_;
    };

    edits = 0;
    if (passes) *passes = 0;
    std::string current;                 // the text of the last pass, after the first
    std::string_view scanned = text;     // what the next pass scans
    for (int pass = 0; pass < kMaxPasses; ++pass) {
        Builder builder(scanned, sink, pass == 0);
        const int64_t passEdits = scan_text(scanned, rules, builder);
        builder.finish();
        const bool changed = builder.out != scanned;
        if (pass > 0 && !changed) break;
        edits += passEdits;
        if (passes && changed) ++*passes;
        if (sink) {
            for (const Kept& k : builder.kept) sink->on_edit(Edit{k.offset, k.original, k.replacement, k.line});
        }
        current = std::move(builder.out);
        scanned = current;
        if (!rules.stable || !changed) break;
    }
    return current;
}
