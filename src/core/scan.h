// The scan of one file's text for number tokens and their rewritten forms.
// Pure: no files, no console, no clock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/candidates.h"

// One token whose rewritten text differs from the text in the file.
struct Edit {
    size_t offset;                 // where the token starts in the text
    std::string_view original;     // the token as it stands in the text
    std::string_view replacement;  // what replaces it
    int64_t line;                  // 1 plus the number of '\n' bytes before the token
                                   // (0 for a sink that does not want lines)
};

// Hears of each edit, in text order; the views live only during the call.
class EditSink {
public:
    virtual void on_edit(const Edit& edit) = 0;
    // False when the sink never reads Edit::line, which the scan then leaves
    // 0 rather than count the lines of the whole text.
    virtual bool wants_lines() const { return true; }

protected:
    ~EditSink() = default;
};

// Rebuilds the new text from the edits of one scan of `text`, handing it on
// piece by piece: the unchanged bytes before each edit, the replacement, and
// at finish() the rest of the text (bytes after a NUL included).
class TextRebuilder : public EditSink {
public:
    explicit TextRebuilder(std::string_view text) : text_(text) {}
    void on_edit(const Edit& edit) final;
    void finish();

protected:
    ~TextRebuilder() = default;
    // Hears of each edit before its pieces are handed on.
    virtual void on_change(const Edit&) {}
    virtual void put(std::string_view piece) = 0;

private:
    std::string_view text_;
    size_t copied_ = 0;
};

// How numbers are rewritten: the mode, and what refines it.
struct CleanRules {
    int32_t precision = -1;  // < 0: automatic mode; >= 0: decimals to round to
    bool stable = false;     // rewrite each replacement again until it settles
    bool plain = false;      // automatic mode: exponent forms become plain decimals
    unsigned only = 0;       // MapField bits: only these fields' numbers change; 0: all
};

// The longest number token that is ever rewritten: no program prints a
// number of more than a few hundred digits, and a longer run of word bytes
// can then be read a piece at a time (see WordEdges).
inline constexpr size_t kLongestNumber = 1 << 20;

// Whether word bytes (see scan_text) stand just before and just after a text
// that is a piece of a longer one: a piece cut inside a run of word bytes
// longer than kLongestNumber, where no number can change, has them.
struct WordEdges {
    bool before = false;
    bool after = false;
};

// Finds every number token of `text` (as strtod reads them, from each number
// start) up to its first NUL byte and rewrites each that stands alone (no
// ASCII letter, digit, '_', '.', '+' or '-' just before or after it: a
// number touched by one is part of a word, such as "{300d129e-0153-...}" or
// "metal05rust", and stays as written) with rewrite_number_token in the mode
// `rules.precision` selects (with rules.plain in automatic mode,
// rewrite_number_token_plain; with rules.only, only the tokens that are
// whole numbers of those fields; with rules.stable, again and again until
// the replacement no longer changes; a token that comes back to its own
// text, or is longer than kLongestNumber, is no edit), and tells `sink` of
// every token whose text changes. `edges` says what stands beyond the
// text's ends (nothing: none).
// Returns the number of such edits. Every byte that is not in an edited
// token, including all bytes from the first NUL on, stays as it is. Throws
// std::bad_alloc if a replacement cannot be built.
int64_t scan_text(std::string_view text, const CleanRules& rules, EditSink& sink);
int64_t scan_text(std::string_view text, const CleanRules& rules, EditSink& sink, WordEdges edges);
int64_t scan_text(std::string_view text, int32_t precision, EditSink& sink);
// The same, with the candidate searches taking `width` bytes at a time
// (which this processor must support), for the tests and benchmarks.
int64_t scan_text(std::string_view text, const CleanRules& rules, EditSink& sink, SimdWidth width,
                  WordEdges edges = {});

// The length of the longest prefix of `text` that scan_text takes as a text
// of its own, its edits being those of the whole text that lie in it: up to
// and including its last line end, or, when it has none and `wholeLines` is
// false, its last byte that no number token or word can hold (not a letter,
// digit, '_', '.', '+' or '-'). 0 when there is no such prefix. Lines are
// kept whole for the rules that read a line as a whole (rules.only).
size_t piece_length(std::string_view text, bool wholeLines);

// Where a text read a piece at a time is cut next, from `text` (what has
// been read past the last cut): piece_length's cut; all of `text` at the end
// of the input (`atEnd`); else, where that finds none, all of `text` when
// it is a run of word bytes longer than kLongestNumber (not for
// `wholeLines`), which the next piece goes on (`wordAfter`); else no cut yet
// (`length` 0).
struct PieceCut {
    size_t length = 0;
    bool wordAfter = false;
};
PieceCut cut_piece(std::string_view text, bool wholeLines, bool atEnd);

// The text with every edit of scan_text applied; `edits`, when given,
// receives their number.
std::string clean_text(std::string_view text, int32_t precision, int64_t* edits = nullptr);

// The text as scan_text cleans it; with rules.stable, the result is scanned
// again, pass after pass, until a pass changes no byte (a rewrite can join
// its neighbours into a new token), or kMaxPasses passes changed bytes: a
// contrived text can grow by a byte every pass ("1e1000.32" at -p 2: the
// "0" that ".32" gains joins the exponent before it) and never settle.
// `sink` (when given) hears the edits of the first pass and of every later
// pass that changed bytes, each pass's lines counted in its own text;
// `edits` receives their number, and `passes` (when given) how many passes
// changed bytes. Throws std::bad_alloc when memory runs out.
std::string clean_text(std::string_view text, const CleanRules& rules, EditSink* sink, int64_t& edits,
                       int* passes = nullptr);
constexpr int kMaxPasses = 16;
