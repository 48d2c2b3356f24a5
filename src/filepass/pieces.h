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

#include "filepass/file_io.h"
#include "filepass/pass_common.h"
#include "filepass/scan.h"

// A scan made on the second thread, kept to be told in order: its edits,
// for a run that wants each of them, else only the new text and the count.
class RecordedScan final : public EditSink {
public:
    // Scans `text` (which must outlive the record) with the settings' rules;
    // `wantsEdits`: each edit, with its line, is kept. A failure to get
    // memory is kept too.
    void record(std::string_view text, bool wantsEdits);
    // Tells `sink` the kept edits and returns their number; ends the
    // process as scan_or_exit does when the scan ran out of memory.
    int64_t replay(EditSink& sink) const;
    // Without kept edits: the new text, and in `edits` their number; ends
    // the process when the scan ran out of memory.
    std::string_view rebuilt(int64_t& edits) const;
    bool keeps_edits() const { return wantsEdits_; }

private:
    struct Recorded {
        size_t offset, length;                    // the token in the text
        size_t replacementAt, replacementLength;  // in replacements_
        int64_t line;
    };
    void on_edit(const Edit& edit) override;
    bool wants_lines() const override { return wantsEdits_; }

    std::string_view text_;
    bool wantsEdits_ = false;
    bool outOfMemory_ = false;
    int64_t count_ = 0;
    std::vector<Recorded> edits_;
    std::string replacements_;
    std::string newText_;  // without kept edits
    size_t copied_ = 0;    // of text_, into newText_
};

// One piece of a file, as for_each_piece hands it on.
struct FilePiece {
    std::string_view text;
    uint64_t offset;  // where it starts in the file
    const RecordedScan* recorded;  // its scan, when the second thread made it

    // Tells `sink` the edits of the piece's scan and returns their number,
    // as scan_or_exit(text, sink) does.
    int64_t scan(EditSink& sink) const { return recorded ? recorded->replay(sink) : scan_or_exit(text, sink); }
    // For a run that wants no single edit, when the second thread scanned
    // the piece: true, with its new text in `newText` and the edit count in
    // `edits`. False otherwise: scan() tells the edits.
    bool rebuilt(std::string_view& newText, int64_t& edits) const {
        if (!recorded || recorded->keeps_edits()) return false;
        newText = recorded->rebuilt(edits);
        return true;
    }
};

// Reads the file that `reader` opened from its start, a piece at a time,
// and calls `onPiece(piece)` for each, in file order. Every piece but the
// last is cut where piece_length cuts (at a line end where it can be), so
// the pieces scan as the whole text would, and a rewrite never moves a byte
// from one piece to another; blocks of 256 KiB grow only for a longer
// piece. Pieces are read and scanned two at a time where a second thread
// can be had: one there, recorded, the other by the caller. `wantsEdits`:
// each edit, with its line, is wanted; else a piece the second thread
// scanned comes with its new text. Returns ok, or read_failed on a read
// error or when the file's length is not the size it was opened with (it
// changed meanwhile). Throws std::bad_alloc.
ReadStatus for_each_piece(FileReader& reader, bool wantsEdits, const std::function<void(const FilePiece&)>& onPiece);

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
