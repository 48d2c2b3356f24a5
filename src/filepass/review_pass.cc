#include "filepass/review_pass.h"

#include <memory>

#include "core/diff_text.h"
#include "filepass/console.h"
#include "filepass/names.h"
#include "filepass/pass_common.h"
#include "filepass/spill_store.h"

namespace {

// Judges each piece by its bytes, which is exact, since a rewrite never adds
// or removes a line end: adds its edits to `edits` and says whether any
// piece changes. Nothing after the first NUL is judged.
IoFailure judge_pieces(const PieceLoop& forEachPiece, EditSink& witness, int64_t& edits, bool& changes) {
    LineShift shifted(witness);
    const PieceNeeds needs = shifted.wants_lines() ? PieceNeeds::edits : PieceNeeds::judgement;
    return forEachPiece(needs, [&](const FilePiece& piece) {
        if (piece.afterNul) return;
        int64_t pieceEdits = 0;
        if (bool pieceChanges = false; piece.judged(pieceChanges, pieceEdits)) {
            changes = changes || pieceChanges;
        } else {
            ChangeJudge judge(piece.text, shifted);
            pieceEdits = piece.scan(judge);
            judge.finish();
            changes = changes || judge.changes();
        }
        edits += pieceEdits;
        shifted.count_lines(piece.text);
    });
}

// True when what `source` holds has a NUL byte; a failure when it cannot
// be read.
bool holds_nul(RandomAccess& source, IoFailure& failure) {
    std::string block(1 << 20, '\0');
    for (uint64_t at = 0;;) {
        int error = 0;
        const int64_t got = source.read_at(at, block.data(), block.size(), error);
        if (got < 0) failure = {IoFailure::read, error};
        if (got <= 0) return false;
        if (std::string_view(block.data(), static_cast<size_t>(got)).find('\0') != std::string_view::npos) return true;
        at += static_cast<uint64_t>(got);
    }
}

// The hunks of the diff of `source`, printed as they are made. Returns
// the edit count, or -1 after an error line.
int64_t print_diff(RandomAccess& source, const std::string& name, const std::string& shown,
                   const RunSettings& settings, RunTally& tally) {
    UnifiedDiffStream diff(diff_label(name, kPathSeparator != '\\'), settings.colour,
                           [](std::string_view text) { print_text(text); },
                           [] { return scratch_store(); });
    int64_t edits = 0;
    std::string rebuiltText;
    const IoFailure failure = for_each_piece(source, PieceNeeds::newText, settings.rules, [&](const FilePiece& piece) {
        int64_t pieceEdits = 0;
        if (std::string_view newText; piece.new_text(newText, pieceEdits)) {
            diff.add(piece.text, newText);
        } else {
            rebuiltText.clear();
            StringRebuilder rebuilt(piece.text, rebuiltText);
            pieceEdits = piece.scan(rebuilt);
            rebuilt.finish();
            diff.add(piece.text, rebuiltText);
        }
        edits += pieceEdits;
    });
    if (failure.failed()) return report_read_failure(failure, shown, tally);
    ++tally.judged;
    if (diff.finish()) ++tally.changed;
    return edits;
}

}  // namespace

int64_t review_pieces(const PieceLoop& forEachPiece, const std::string& name, const std::string& shown,
                      std::FILE* reportStream, const RunSettings& settings, RunTally& tally) {
    EditWitness witness(settings.review == Review::check ? reportStream : nullptr, settings);
    const auto start = Clock::now();
    int64_t edits = 0;
    bool changes = false;
    if (const IoFailure failure = judge_pieces(forEachPiece, witness, edits, changes); failure.failed()) {
        return report_read_failure(failure, shown, tally);
    }
    const double seconds = seconds_since(start);
    ++tally.judged;
    if (changes) ++tally.changed;
    if (settings.review == Review::check) {
        print_report(reportStream, settings, shown, edits, seconds);
        if (settings.github && changes) {
            print_text(github_annotation(name, witness.firstLine, edits, witness.firstOriginal,
                                         witness.firstReplacement));
        }
    } else if (changes && settings.null) {
        print_text(name);
        print_text(std::string_view("", 1));
    } else if (changes) {
        print_text(quoted_name(name, kPathSeparator != '\\') + "\n");
    }
    return edits;
}

int64_t diff_pieces(RandomAccess& source, const std::string& name, const std::string& shown,
                    const RunSettings& settings, RunTally& tally) {
    IoFailure failure;
    const bool binary = holds_nul(source, failure);
    if (failure.failed()) return report_read_failure(failure, shown, tally);
    if (!binary) {
        try {
            return print_diff(source, name, shown, settings, tally);
        } catch (const ScratchFailure& scratch) {
            return report_read_failure(scratch.failure, shown, tally);
        }
    }
    // The scan stops at the first NUL, so every change lies before it.
    class NoWitness final : public EditSink {
        void on_edit(const Edit&) override {}
        bool wants_lines() const override { return false; }
    } none;
    int64_t edits = 0;
    bool changes = false;
    failure = judge_pieces([&](PieceNeeds needs, const std::function<void(const FilePiece&)>& onPiece) {
        return for_each_piece(source, needs, settings.rules, onPiece);
    }, none, edits, changes);
    if (failure.failed()) return report_read_failure(failure, shown, tally);
    ++tally.judged;
    if (changes) {
        ++tally.changed;
        print_text("Binary file " + shown + " would change\n");
    }
    return edits;
}
