// What the runs of the file pass share: the rules from the settings, the
// scans that end the process when memory runs out, the "Changed" and report
// lines, and the clock.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "filepass/file_io.h"
#include "filepass/file_pass.h"
#include "filepass/scan.h"
#include "filepass/settings.h"

// The rules the settings ask for.
CleanRules rules_from_settings();

// Scans `text` into `sink` with those rules and returns the edit count;
// ends the process with status 1 (after "Memory allocation error") when
// memory runs out.
int64_t scan_or_exit(std::string_view text, EditSink& sink);

// The text cleaned in memory (with g_stable, pass after pass until it
// settles), its edits told to `sink` (may be null) and counted in `edits`;
// ends the process with status 1 when memory runs out.
std::string clean_or_exit(std::string_view text, EditSink* sink, int64_t& edits);

// The error line for a file that could not be read as `status` says
// ("Error opening file", "Memory allocation error", "Error reading file"),
// counted as a failure in `tally`. Returns -1, the file pass's result for it.
int64_t report_read_failure(ReadStatus status, const std::string& filename, RunTally& tally);

// "Changed: 'OLD' -> 'NEW' (line N)" for `edit`, to `stream`.
void print_changed_line(std::FILE* stream, const Edit& edit);

// The report line of a file, to `stream`; nothing with g_quiet.
void print_report(std::FILE* stream, const std::string& name, int64_t edits, double seconds);

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
// through a block of a few hundred KiB that grows only for a longer line,
// and calls `onPiece(piece)` for each, in file order. Every piece but the
// last is cut where piece_length cuts (at a line end where it can be), so
// the pieces scan as the whole text would, and a rewrite never moves a byte
// from one piece to another. Pieces are scanned two at a time where a
// second thread can be had: one on that thread, recorded, the other by the
// caller; `wantsEdits`: each edit, with its line, is wanted (else a piece
// may come with its new text made). No block of the file's
// size is needed: fresh memory costs more to get than the file costs to
// read. Returns ok, or read_failed on a read error or when the file's length
// is not the size it was opened with (it changed meanwhile). Throws
// std::bad_alloc.
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

using Clock = std::chrono::steady_clock;

// Seconds since `start`, for the report line.
double seconds_since(Clock::time_point start);

// Hears the edits of a scan, prints their "Changed" lines (g_verbose) to a
// stream when it has one, and keeps the first edit.
class EditWitness final : public EditSink {
public:
    explicit EditWitness(std::FILE* changedLines) : changedLines_(changedLines) {}
    void on_edit(const Edit& edit) override {
        if (g_verbose && changedLines_) print_changed_line(changedLines_, edit);
        if (!heard) {
            heard = true;
            firstLine = edit.line;
            firstOriginal = edit.original;
            firstReplacement = edit.replacement;
        }
    }
    bool wants_lines() const override { return (g_verbose && changedLines_) || g_github; }
    int64_t firstLine = 0;  // the first edit's line (0 when lines were not counted)
    std::string firstOriginal, firstReplacement;
    bool heard = false;

private:
    std::FILE* const changedLines_;
};

