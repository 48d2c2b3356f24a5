#include "filepass/file_pass.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "filepass/console.h"
#include "filepass/file_io.h"
#include "filepass/names.h"
#include "filepass/pass_common.h"
#include "filepass/pieces.h"
#include "filepass/review_pass.h"
#include "filepass/spill_store.h"

namespace {

constexpr size_t kOutputBufferSize = 1 << 20;

// Says, just before a save, what the replacement cannot keep: the file's
// other names keep the old text; a set-ID bit whose owner or group the
// replacement does not keep is dropped.
void warn_before_save(const ReplacementFile& file, const std::string& shown) {
    if (file.has_other_links()) print_error("Warning: other hard links to '%s' keep the old content\n", shown.c_str());
    if (file.lost_set_id_bits() & 04000) {
        print_error("Warning: '%s' loses its set-user-ID bit: the saved file has another owner\n", shown.c_str());
    }
    if (file.lost_set_id_bits() & 02000) {
        print_error("Warning: '%s' loses its set-group-ID bit: the saved file has another group\n", shown.c_str());
    }
}

// What a save came to: done, or why not and where its temporary was to be.
struct SaveOutcome {
    bool saved = false;
    IoFailure failure;
    std::string directory;

    static SaveOutcome of(const ReplacementFile& file, bool saved) {
        return SaveOutcome{saved, file.failure(), saved ? std::string() : file.directory_name()};
    }
    static SaveOutcome failed(const IoFailure& failure) { return SaveOutcome{false, failure, std::string()}; }
};

// Streams the new text of a file scanned a piece at a time into a
// replacement beside it, through a fixed buffer: nothing is written for a
// file without edits, and memory stays at the pieces plus the buffer. The
// first edit creates the replacement and copies into it the text before its
// piece, read again from the file (whose version the commit checks).
class StreamedOutput {
public:
    // `identity`: the version whose edits are being written; `printChanges`:
    // print the "Changed" lines (in a verbose run), unless an earlier scan of
    // the same text already did; `writes`: false for a scan that only counts.
    StreamedOutput(const FileLocation& location, const FileIdentity& identity, FileReader& source,
                   std::string& buffer, const RunSettings& settings, bool printChanges, bool writes)
        : location_(location), identity_(identity), source_(source), buffer_(buffer), rules_(settings.rules),
          writes_(writes), changedLinesSink_(printChanges ? stdout : nullptr, settings) {}

    // Scans `piece` and hands on its new text; returns its edit count.
    // Pieces come in file order.
    int64_t scan_piece(const FilePiece& piece) {
        if (piece.afterNul) {
            if (started_) put(piece.text);
            return 0;
        }
        int64_t edits = 0;
        if (std::string_view newText; piece.new_text(newText, edits)) {
            if (edits > 0 && !started_ && writes_) start(piece.offset);
            if (started_) put(newText);
        } else {
            PieceRebuilder rebuilder(*this, piece.text, piece.offset);
            edits = piece.scan(rebuilder);
            rebuilder.finish();
        }
        changedLines_.count_lines(piece.text);
        return edits;
    }

    // True when each edit, with its line, is wanted.
    bool wants_edits() const { return changedLines_.wants_lines(); }
    const CleanRules& rules() const { return rules_; }

    // Says what the replacement cannot keep (warn_before_save), writes what
    // is buffered and puts the replacement in the file's place; what came
    // of it (the file untouched on any failure, a failure to read again the
    // text before the first edit among them).
    SaveOutcome save(const std::string& shown) {
        if (readFailure_.failed()) return SaveOutcome::failed(readFailure_);
        warn_before_save(file_, shown);
        if (!file_.failure().failed() && !buffer_.empty()) file_.write(buffer_);
        const bool saved = !file_.failure().failed() && file_.commit();
        return SaveOutcome::of(file_, saved);
    }

private:
    // One piece's new text, handed on once the replacement exists.
    class PieceRebuilder final : public TextRebuilder {
    public:
        PieceRebuilder(StreamedOutput& output, std::string_view piece, uint64_t offset)
            : TextRebuilder(piece), output_(output), offset_(offset) {}

    private:
        bool wants_lines() const override { return output_.changedLines_.wants_lines(); }
        void on_change(const Edit& edit) override {
            output_.changedLines_.on_edit(edit);
            if (!output_.started_ && output_.writes_) output_.start(offset_);
        }
        void put(std::string_view data) override {
            if (output_.started_) output_.put(data);
        }
        StreamedOutput& output_;
        const uint64_t offset_;
    };

    // Creates the replacement at the first edit, in the piece at `offset`,
    // with the file's first `offset` bytes.
    void start(uint64_t offset) {
        started_ = true;
        if (!file_.open(location_, identity_)) return;
        buffer_.resize(kOutputBufferSize);
        for (uint64_t at = 0; at < offset && !file_.failure().failed();) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), offset - at));
            int error = 0;
            const int64_t got = source_.read_at(at, buffer_.data(), want, error);
            if (got <= 0) {
                // The text before the edit cannot be copied: the file changed or failed.
                readFailure_ = {got < 0 ? IoFailure::read : IoFailure::changed, error};
                break;
            }
            file_.write(std::string_view(buffer_.data(), static_cast<size_t>(got)));
            at += static_cast<uint64_t>(got);
        }
        buffer_.clear();
    }

    void put(std::string_view data) {
        if (file_.failure().failed() || readFailure_.failed()) return;  // keep scanning for the report
        if (buffer_.size() + data.size() <= kOutputBufferSize) {
            buffer_.append(data);
            return;
        }
        if (file_.write(buffer_)) file_.write(data);
        buffer_.clear();
    }

    const FileLocation& location_;
    const FileIdentity& identity_;
    FileReader& source_;
    std::string& buffer_;
    const CleanRules& rules_;
    const bool writes_;
    EditWitness changedLinesSink_;  // prints the "Changed" lines, when it has a stream
    LineShift changedLines_{changedLinesSink_};  // their lines counted from the file's start
    ReplacementFile file_;
    IoFailure readFailure_;
    bool started_ = false;
};

// The filter's output: a piece's new text to stdout as the scan goes, its
// "Changed" lines (in a verbose run) to `changedLines`.
class StandardOutput final : public TextRebuilder {
public:
    StandardOutput(std::string_view piece, LineShift& changedLines) : TextRebuilder(piece), changedLines_(changedLines) {}

private:
    bool wants_lines() const override { return changedLines_.wants_lines(); }
    void on_change(const Edit& edit) override { changedLines_.on_edit(edit); }
    void put(std::string_view data) override { print_text(data); }
    LineShift& changedLines_;
};

// Asks the commit question; true only for an answer starting with 'Y' or
// 'y'. The rest of the answer line is consumed; a lone Enter means no.
bool ask_commit(const std::string& shown) {
    print_out("Press Y to commit changes to '%s': ", shown.c_str());
    int c = read_console_char();
    const bool yes = c == 'Y' || c == 'y';
    if (!yes) print_out("Changes not saved for '%s'.\n", shown.c_str());
    while (c != '\n' && c != EOF) c = read_console_char();
    return yes;
}

// Ends the designed run on one file whose scan found `edits` (reported
// already): the question, the save (`save()`, which warns before the file is
// replaced), and the pause. Only a file that can be replaced is asked about
// (`probe()` makes its temporary, and removes it): for one that cannot (a
// read-only file on Windows, a folder that cannot be written), the error
// comes first, and then the pause. Nothing here allocates once the file is
// saved.
template <typename Probe, typename Save>
void finish_write(const std::string& shown, const RunSettings& settings, int64_t edits, bool asks, Probe probe,
                  Save save, RunTally& tally) {
    bool asked = false;
    bool doCommit = true;
    if (asks && edits > 0) {
        if (const SaveOutcome probed = probe(); !probed.saved) {
            report_write_failure(probed.failure, probed.directory, shown, tally);
            doCommit = false;
        } else {
            asked = true;
            doCommit = ask_commit(shown);
        }
    }
    if (doCommit && edits > 0) {
        const SaveOutcome outcome = save();
        if (!outcome.saved) {
            report_write_failure(outcome.failure, outcome.directory, shown, tally);
        } else if (!settings.quiet) {
            print_out("Changes saved to '%s'.\n", shown.c_str());
        }
    }
    if (!settings.silent && !asked) {
        print_out("Press any key to continue for '%s'...", shown.c_str());
        wait_for_key();
    }
}

// Scans the file that `reader` opened into `output`, adding to `edits`;
// a failure when it could not be read whole. Throws std::bad_alloc.
IoFailure scan_pieces(FileReader& reader, StreamedOutput& output, int64_t& edits) {
    return for_each_piece(reader, output.wants_edits() ? PieceNeeds::edits : PieceNeeds::newText, output.rules(),
                          [&](const FilePiece& piece) { edits += output.scan_piece(piece); });
}

// The designed run on one file, read a piece at a time. An answer may take
// any time, and a run may be ended while it waits: when a question comes,
// the first scan only counts, and the replacement is made after the yes by
// a second scan, so that nothing is left beside the file meanwhile.
int64_t write_file_in_pieces(const FileTarget& file, const std::string& shown, const RunSettings& settings,
                             int promptForCommit, RunTally& tally) {
    FileReader reader;
    IoFailure failure;
    if (!reader.open(file.location, failure)) return report_read_failure(failure, shown, tally);
    std::string buffer;
    buffer.reserve(kOutputBufferSize);
    const bool asks = promptForCommit != 0;
    const FileIdentity identity = reader.identity();
    const auto start = Clock::now();
    int64_t edits = 0;
    StreamedOutput output(file.location, identity, reader, buffer, settings, true, !asks);
    if (const IoFailure read = scan_pieces(reader, output, edits); read.failed()) {
        return report_read_failure(read, shown, tally);
    }
    print_report(stdout, settings, shown, edits, seconds_since(start));
    const auto probe = [&] {
        ReplacementFile replacement;
        const bool opened = replacement.open(file.location, identity);
        return SaveOutcome::of(replacement, opened);
    };
    finish_write(shown, settings, edits, asks, probe, [&] {
        if (!asks) {
            reader.close();  // Windows replaces no file that is still open
            return output.save(shown);
        }
        FileReader again;
        int64_t editsAgain = 0;
        IoFailure readAgain;
        StreamedOutput second(file.location, identity, again, buffer, settings, false, true);
        if (!again.open(file.location, readAgain)) return SaveOutcome::failed(readAgain);
        if (readAgain = scan_pieces(again, second, editsAgain); readAgain.failed()) return SaveOutcome::failed(readAgain);
        again.close();
        return second.save(shown);
    }, tally);
    return edits;
}

int64_t process_file_or_throw(const FileTarget& file, const std::string& shown, const RunSettings& settings,
                              int promptForCommit, RunTally& tally) {
    // -stable too is read a piece at a time: a rewritten number stands
    // alone between bytes no rewrite changes, so it never joins its
    // neighbours, and the scan's settling of each number is all the
    // settling there is (one pass settles; Stable.* and Scan.* hold it).
    if (settings.review == Review::none) return write_file_in_pieces(file, shown, settings, promptForCommit, tally);
    FileReader reader;
    IoFailure failure;
    if (!reader.open(file.location, failure)) return report_read_failure(failure, shown, tally);
    if (settings.review == Review::diff) return diff_pieces(reader, file.name, shown, settings, tally);
    const PieceLoop forEachPiece = [&](PieceNeeds needs, const std::function<void(const FilePiece&)>& onPiece) {
        return for_each_piece(reader, needs, settings.rules, onPiece);
    };
    return review_pieces(forEachPiece, file.name, shown, stdout, settings, tally);
}

// Hands the standard input to `take` a block at a time, to its end: true,
// or false once a read failed (reported, and in `tally`).
template <typename Take>
bool read_all_standard_input(Take take, RunTally& tally) {
    std::string block(1 << 18, '\0');
    for (;;) {
        int error = 0;
        const int64_t got = read_standard_input(block.data(), block.size(), error);
        if (got < 0) {
            report_read_failure(IoFailure{IoFailure::read, error}, "-", tally);
            return false;
        }
        if (got == 0) return true;
        take(std::string_view(block.data(), static_cast<size_t>(got)));
    }
}

// The diff of the standard input, from a copy of it (in a scratch file
// beyond 8 MiB): a diff reads its text twice (a NUL anywhere makes it
// binary). Throws ScratchFailure.
void diff_standard_input(const RunSettings& settings, RunTally& tally) {
    const std::unique_ptr<SpillingStore> copy = scratch_store(8 << 20);
    if (!read_all_standard_input([&](std::string_view data) { copy->append(data); }, tally)) return;
    copy->seal();
    StoreReader reader(*copy);
    diff_pieces(reader, "-", "-", settings, tally);
}

// The filter's designed run: each piece's new text to stdout as it is
// read, the "Changed" lines and the report line to stderr.
void clean_standard_input(const RunSettings& settings, RunTally& tally) {
    EditWitness witness(stderr, settings);
    LineShift changedLines(witness);
    const auto start = Clock::now();
    int64_t edits = 0;
    const IoFailure failure = for_each_input_piece(settings.rules, [&](const FilePiece& piece) {
        if (piece.afterNul) {
            print_text(piece.text);
            return;
        }
        StandardOutput output(piece.text, changedLines);
        edits += piece.scan(output);
        output.finish();
        changedLines.count_lines(piece.text);
    });
    if (failure.failed()) {
        report_read_failure(failure, "-", tally);
        return;
    }
    print_report(stderr, settings, "-", edits, seconds_since(start));
}

}  // namespace

int64_t process_file(const FileTarget& file, const RunSettings& settings, int promptForCommit, RunTally& tally) {
    // Memory may run out anywhere: the file is then left as it was (any
    // temporary goes as the stack unwinds), and the run goes on.
    try {
        return process_file_or_throw(file, printable_name(file.name), settings, promptForCommit, tally);
    } catch (const std::bad_alloc&) {
        report_out_of_memory(file.name, tally);
        return -1;
    }
}

void process_standard_streams(const RunSettings& settings, RunTally& tally) {
    try {
        switch (settings.review) {
        case Review::none:
            clean_standard_input(settings, tally);
            break;
        case Review::diff:
            try {
                diff_standard_input(settings, tally);
            } catch (const ScratchFailure& scratch) {
                report_read_failure(scratch.failure, "-", tally);
            }
            break;
        case Review::check:
        case Review::list:
            review_pieces([&](PieceNeeds, const std::function<void(const FilePiece&)>& onPiece) {
                return for_each_input_piece(settings.rules, onPiece);
            }, "-", "-", stderr, settings, tally);
            break;
        }
    } catch (const std::bad_alloc&) {
        report_out_of_memory("-", tally);
    }
}

void pass_standard_streams_through(const RunSettings& settings, RunTally& tally) {
    if (settings.review == Review::none) read_all_standard_input([](std::string_view data) { print_text(data); }, tally);
}
