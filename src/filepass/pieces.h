// A file read a piece at a time, the pieces scanned on two threads and
// handed on in file order, so that no block of the file's size is needed
// and both processors work.
#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/scan.h"
#include "filepass/file_io.h"

// Judges a text by its bytes without building the new one: each piece of
// the new text is compared with the old text where it would stand, so a
// rewrite that gives back the same bytes ("1.10.377" at -p 3) is no change.
// The edits go on to `witness`.
class ChangeJudge final : public TextRebuilder {
public:
    ChangeJudge(std::string_view text, EditSink& witness) : TextRebuilder(text), text_(text), witness_(witness) {}
    // After finish(): true when the new text differs from the old.
    bool changes() const { return differs_ || written_ != text_.size(); }

private:
    void on_change(const Edit& edit) override { witness_.on_edit(edit); }
    bool wants_lines() const override { return witness_.wants_lines(); }
    void put(std::string_view piece) override {
        if (!differs_ && piece.data() != text_.data() + written_) {
            differs_ = text_.substr(std::min(written_, text_.size()), piece.size()) != piece;
        }
        written_ += piece.size();
    }

    const std::string_view text_;
    EditSink& witness_;
    size_t written_ = 0;
    bool differs_ = false;
};

// Builds a text's new text into a string (appending to `out`).
class StringRebuilder final : public TextRebuilder {
public:
    StringRebuilder(std::string_view text, std::string& out) : TextRebuilder(text), out_(out) {}

private:
    bool wants_lines() const override { return false; }
    void put(std::string_view piece) override { out_.append(piece); }
    std::string& out_;
};

// What a run needs of a piece that the second thread scans.
enum class PieceNeeds {
    edits,      // each edit with its line, told in order (to print them)
    newText,    // the new text and the edit count (to write it)
    judgement,  // whether its bytes change, and the edit count (to judge)
};

// A scan made on the second thread, kept to be told in order.
class RecordedScan final : public EditSink {
public:
    // Scans `text` (which must outlive the record; `edges` beyond it) with
    // `rules` and keeps what `needs` asks for; a failure to get memory is
    // kept too.
    void record(std::string_view text, PieceNeeds needs, const CleanRules& rules, WordEdges edges);
    PieceNeeds needs() const { return needs_; }
    // Each of the following throws std::bad_alloc when the scan ran out of
    // memory.
    // PieceNeeds::edits: tells `sink` the edits, returns their number.
    int64_t replay(EditSink& sink) const;
    // PieceNeeds::newText: the new text; the edit count in `edits`.
    std::string_view new_text(int64_t& edits) const;
    // PieceNeeds::judgement: whether the bytes change; the count in `edits`.
    bool changes(int64_t& edits) const;

private:
    struct Recorded {
        size_t offset, length;                    // the token in the text
        size_t replacementAt, replacementLength;  // in replacements_
        int64_t line;
    };
    void on_edit(const Edit& edit) override;  // PieceNeeds::edits: keeps it
    bool wants_lines() const override { return true; }
    void check_memory() const;

    std::string_view text_;
    PieceNeeds needs_ = PieceNeeds::edits;
    bool outOfMemory_ = false;
    bool changes_ = false;
    int64_t count_ = 0;
    std::vector<Recorded> edits_;
    std::string replacements_;
    std::string newText_;
};

// One piece of a file, as for_each_piece hands it on.
struct FilePiece {
    std::string_view text;
    uint64_t offset;  // where it starts in the file
    const RecordedScan* recorded;  // its scan, when the second thread made it
    bool afterNul;  // it follows the file's first NUL: it is not scanned, only kept
    const CleanRules& rules;
    WordEdges edges;  // a run of word bytes goes on beyond it

    // Tells `sink` the edits of the piece's scan and returns their number,
    // as scan_text(text, rules, sink, edges) does.
    int64_t scan(EditSink& sink) const {
        return recorded ? recorded->replay(sink) : scan_text(text, rules, sink, edges);
    }
    // True, with the new text and the edit count, when the second thread
    // made them; false otherwise: scan() tells the edits.
    bool new_text(std::string_view& newText, int64_t& edits) const {
        if (!recorded || recorded->needs() != PieceNeeds::newText) return false;
        newText = recorded->new_text(edits);
        return true;
    }
    // True, with whether the bytes change and the edit count, when the
    // second thread judged them; false otherwise: scan() tells the edits.
    bool judged(bool& changes, int64_t& edits) const {
        if (!recorded || recorded->needs() != PieceNeeds::judgement) return false;
        changes = recorded->changes(edits);
        return true;
    }
};

// Reads what `reader` opened from its start, a piece at a time, and calls
// `onPiece(piece)` for each, in order, to be scanned with `rules`. Every
// piece but the last is cut where cut_piece cuts (at a line end where it
// can be), so the pieces scan as the whole text would, and a rewrite never
// moves a byte from one piece to another; blocks of 256 KiB grow only for a
// longer piece, and never much beyond kLongestNumber but for a line that
// -only reads whole. Pieces are read and scanned two at a time where a
// second thread can be had: one there, recorded as `needs` says, the other
// by the caller. Nothing after the first NUL is scanned, as scan_text scans
// nothing after a text's first NUL: the pieces from there on come marked
// `afterNul`. Returns no failure, or a read error, or `changed` when the
// length read is not the size it was opened with, or (rules that read whole
// lines, -only) `long_line` at a line longer than kMaxFieldLine. Throws
// std::bad_alloc.
IoFailure for_each_piece(RandomAccess& reader, PieceNeeds needs, const CleanRules& rules,
                         const std::function<void(const FilePiece&)>& onPiece);

// The same for the standard input, read once in order, its pieces scanned
// by the caller alone (none comes recorded).
IoFailure for_each_input_piece(const CleanRules& rules, const std::function<void(const FilePiece&)>& onPiece);

// Passes edits on with their lines moved down by the lines before the piece
// of text they were found in.
class LineShift final : public EditSink {
public:
    explicit LineShift(EditSink& sink) : sink_(sink) {}
    void on_edit(const Edit& edit) override {
        Edit shifted = edit;
        if (shifted.line > 0) shifted.line += linesBefore;
        sink_.on_edit(shifted);
    }
    bool wants_lines() const override { return sink_.wants_lines(); }
    // Adds the lines of `piece`, when the lines are wanted at all.
    void count_lines(std::string_view piece) {
        if (wants_lines()) linesBefore += std::count(piece.begin(), piece.end(), '\n');
    }
    int64_t linesBefore = 0;

private:
    EditSink& sink_;
};
