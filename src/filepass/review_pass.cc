#include "filepass/review_pass.h"

#include <algorithm>

#include "filepass/console.h"
#include "filepass/file_io.h"
#include "filepass/names.h"
#include "filepass/pass_common.h"
#include "core/diff_text.h"
#include "filepass/pieces.h"

namespace {

// What a run that writes nothing found in one text.
struct Findings {
    int64_t edits = 0;
    bool changes = false;  // the cleaned text's bytes differ
    double seconds = 0;
    std::string cleaned;   // the whole cleaned text, for a diff
};

// Prints what the mode shows of the text named `name` (shown as `shown`;
// its report line to `reportStream`) and counts a change in `tally`.
void show_review(const std::string& name, const std::string& shown, std::string_view text, const Findings& review,
                 const EditWitness& witness, std::FILE* reportStream, const RunSettings& settings, RunTally& tally) {
    ++tally.judged;
    if (review.changes) ++tally.changed;
    switch (settings.review) {
    case Review::check:
        print_report(reportStream, settings, shown, review.edits, review.seconds);
        if (settings.github && review.changes) {
            print_text(github_annotation(name, witness.firstLine, review.edits, witness.firstOriginal,
                                         witness.firstReplacement));
        }
        break;
    case Review::list:
        if (review.changes && settings.null) {
            print_text(name);
            print_text(std::string_view("", 1));
        } else if (review.changes) {
            print_text(quoted_name(name, kPathSeparator != '\\') + "\n");
        }
        break;
    case Review::diff:
        // The scan stops at the first NUL, so every change lies before it;
        // such a file is binary to diff and patch.
        if (review.changes && text.find('\0') != std::string_view::npos) {
            print_text("Binary file " + shown + " would change\n");
        } else if (review.changes) {
            print_text(unified_diff(diff_label(name, kPathSeparator != '\\'), text, review.cleaned, settings.colour));
        }
        break;
    case Review::none:
        break;
    }
}

}  // namespace

int64_t review_text(const std::string& name, const std::string& shown, std::string_view text,
                    std::FILE* reportStream, const RunSettings& settings, RunTally& tally) {
    EditWitness witness(settings.review == Review::check ? reportStream : nullptr, settings);
    const auto start = Clock::now();
    Findings review;
    if (settings.review == Review::diff || settings.rules.stable) {
        review.cleaned = clean_text(text, settings.rules, &witness, review.edits);
        review.changes = review.cleaned != text;
    } else {
        ChangeJudge judge(text, witness);
        review.edits = scan_text(text, settings.rules, judge);
        judge.finish();
        review.changes = judge.changes();
    }
    review.seconds = seconds_since(start);
    show_review(name, shown, text, review, witness, reportStream, settings, tally);
    return review.edits;
}

// Check and list of a file, without -stable, read a piece at a time. Each
// piece's bytes are judged alone, which is exact, since a rewrite never adds
// or removes a line end. Returns the edit count, or -1 after an error line.
int64_t review_file_in_pieces(const FileTarget& file, const std::string& shown, const RunSettings& settings,
                              RunTally& tally) {
    FileReader reader;
    IoFailure failure;
    if (!reader.open(file.location, failure)) return report_read_failure(failure, shown, tally);
    EditWitness witness(settings.review == Review::check ? stdout : nullptr, settings);
    LineShift shifted(witness);
    const auto start = Clock::now();
    Findings review;
    const PieceNeeds needs = shifted.wants_lines() ? PieceNeeds::edits : PieceNeeds::judgement;
    failure = for_each_piece(reader, needs, settings.rules, [&](const FilePiece& piece) {
        if (piece.afterNul) return;
        int64_t edits = 0;
        if (bool changes = false; piece.judged(changes, edits)) {
            review.changes = review.changes || changes;
        } else {
            ChangeJudge judge(piece.text, shifted);
            edits = piece.scan(judge);
            judge.finish();
            review.changes = review.changes || judge.changes();
        }
        review.edits += edits;
        shifted.count_lines(piece.text);
    });
    if (failure.failed()) return report_read_failure(failure, shown, tally);
    review.seconds = seconds_since(start);
    show_review(file.name, shown, std::string_view(), review, witness, stdout, settings, tally);
    return review.edits;
}

namespace {

// True when the file that `reader` opened holds a NUL byte; a failure when
// it cannot be read.
bool holds_nul(FileReader& reader, IoFailure& failure) {
    std::string block(1 << 20, '\0');
    for (uint64_t at = 0;;) {
        int error = 0;
        const int64_t got = reader.read_at(at, block.data(), block.size(), error);
        if (got < 0) failure = {IoFailure::read, error};
        if (got <= 0) return false;
        if (std::string_view(block.data(), static_cast<size_t>(got)).find('\0') != std::string_view::npos) return true;
        at += static_cast<uint64_t>(got);
    }
}

}  // namespace

bool diff_file_in_pieces(const FileTarget& file, const std::string& shown, const RunSettings& settings,
                         RunTally& tally, int64_t& edits) {
    FileReader reader;
    IoFailure failure;
    edits = -1;
    if (!reader.open(file.location, failure)) {
        report_read_failure(failure, shown, tally);
        return true;
    }
    if (holds_nul(reader, failure)) return false;
    if (failure.failed()) {
        report_read_failure(failure, shown, tally);
        return true;
    }
    UnifiedDiffStream diff(diff_label(file.name, kPathSeparator != '\\'), settings.colour,
                           [](std::string_view text) { print_text(text); });
    int64_t count = 0;
    failure = for_each_piece(reader, PieceNeeds::newText, settings.rules, [&](const FilePiece& piece) {
        int64_t pieceEdits = 0;
        if (std::string_view newText; piece.new_text(newText, pieceEdits)) {
            diff.add(piece.text, newText);
        } else {
            std::string rebuiltText;
            StringRebuilder rebuilt(piece.text, rebuiltText);
            pieceEdits = piece.scan(rebuilt);
            rebuilt.finish();
            diff.add(piece.text, rebuiltText);
        }
        count += pieceEdits;
    });
    if (failure.failed()) {
        report_read_failure(failure, shown, tally);
        return true;
    }
    ++tally.judged;
    if (diff.finish()) ++tally.changed;
    edits = count;
    return true;
}
