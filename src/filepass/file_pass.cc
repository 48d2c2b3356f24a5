#include "filepass/file_pass.h"

#include <algorithm>
#include <cstdio>
#include <new>

#include "filepass/console.h"
#include "filepass/file_io.h"
#include "filepass/pass_common.h"
#include "filepass/pieces.h"
#include "filepass/review_pass.h"
#include "filepass/scan.h"
#include "filepass/settings.h"

namespace {

constexpr size_t kOutputBufferSize = 1 << 20;

// Streams the new text of a file scanned a piece at a time into a
// replacement beside it, through a fixed buffer: nothing is written for a
// file without edits, and memory stays at the pieces plus the buffer. The
// first edit creates the replacement and copies into it the text before its
// piece, read again from the file (whose version the commit checks).
class StreamedOutput {
public:
    // `identity`: the version whose edits are being written; `printChanges`:
    // print the "Changed" lines (g_verbose), unless an earlier scan of the
    // same text already did; `writes`: false for a scan that only counts.
    StreamedOutput(const std::string& filename, const FileIdentity& identity, FileReader& source,
                   std::string& buffer, bool printChanges, bool writes)
        : filename_(filename), identity_(identity), source_(source), buffer_(buffer), writes_(writes),
          changedLinesSink_(printChanges ? stdout : nullptr) {}

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

    // True when the file has other hard links, which keep the old content.
    bool has_other_links() const { return file_.has_other_links(); }

    // Writes what is buffered and puts the replacement in the file's place;
    // false when any step failed (the file is then untouched).
    bool commit() {
        if (!failed_ && !buffer_.empty()) failed_ = !file_.write(buffer_);
        return !failed_ && file_.commit();
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
        failed_ = !file_.open(filename_, identity_);
        buffer_.resize(kOutputBufferSize);
        for (uint64_t at = 0; at < offset && !failed_;) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), offset - at));
            const int64_t got = source_.read_at(at, buffer_.data(), want);
            failed_ = got <= 0 || !file_.write(std::string_view(buffer_.data(), static_cast<size_t>(got)));
            at += got > 0 ? static_cast<uint64_t>(got) : 0;
        }
        buffer_.clear();
    }

    void put(std::string_view data) {
        if (failed_) return;  // keep scanning for the report; the write already failed
        if (buffer_.size() + data.size() <= kOutputBufferSize) {
            buffer_.append(data);
            return;
        }
        failed_ = !file_.write(buffer_) || !file_.write(data);
        buffer_.clear();
    }

    const std::string& filename_;
    const FileIdentity& identity_;
    FileReader& source_;
    std::string& buffer_;
    const bool writes_;
    EditWitness changedLinesSink_;  // prints the "Changed" lines, when it has a stream
    LineShift changedLines_{changedLinesSink_};  // their lines counted from the file's start
    ReplacementFile file_;
    bool started_ = false;
    bool failed_ = false;
};

// The filter's output: the new text to stdout as the scan goes, the
// "Changed" lines to stderr.
class StandardOutput final : public TextRebuilder {
public:
    using TextRebuilder::TextRebuilder;

    // Writes the rest; false when any write to stdout failed.
    bool commit() {
        finish();
        return ok_ && std::fflush(stdout) == 0;
    }
    // Writes a whole text cleaned in memory instead; false on failure.
    static bool write_whole(std::string_view text) {
        return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
    }

private:
    bool wants_lines() const override { return g_verbose != 0; }
    void on_change(const Edit& edit) override {
        if (g_verbose) print_changed_line(stderr, edit);
    }
    void put(std::string_view data) override {
        ok_ = ok_ && std::fwrite(data.data(), 1, data.size(), stdout) == data.size();
    }

    bool ok_ = true;
};

// Asks the commit question; true only for an answer starting with 'Y' or
// 'y'. The rest of the answer line is consumed; a lone Enter means no.
bool ask_commit(const std::string& filename) {
    std::printf("Press Y to commit changes to '%s': ", filename.c_str());
    int c = read_console_char();
    const bool yes = c == 'Y' || c == 'y';
    if (!yes) std::printf("Changes not saved for '%s'.\n", filename.c_str());
    while (c != '\n' && c != EOF) c = read_console_char();
    return yes;
}

// Says, just before a save, that the file's other names keep the old text.
void warn_of_other_links(bool otherLinks, const std::string& filename) {
    if (otherLinks) print_error("Warning: other hard links to '%s' keep the old content\n", filename.c_str());
}

// Puts `newText`, made in memory, in the place of the file read as
// `identity`; false on any failure (the file is then untouched).
bool save_whole(const std::string& filename, const FileIdentity& identity, std::string_view newText) {
    ReplacementFile file;
    if (!file.open(filename, identity)) return false;
    warn_of_other_links(file.has_other_links(), filename);
    return file.write(newText) && file.commit();
}

// Ends the designed run on one file whose scan found `edits` (reported
// already): the question, the save (`save()`, which warns of other links and
// says whether the replacement took the file's place), and the pause.
template <typename Save>
void finish_write(const std::string& filename, int64_t edits, bool asks, Save save, RunTally& tally) {
    const bool doCommit = !(asks && edits > 0) || ask_commit(filename);
    if (doCommit && edits > 0) {
        if (!save()) {
            print_error("Error writing to file: %s\n", filename.c_str());
            tally.anyFailed = true;
        } else if (!g_quiet) {
            std::printf("Changes saved to '%s'.\n", filename.c_str());
        }
    }
    if (!g_silent && (!asks || edits == 0)) {
        std::printf("Press any key to continue for '%s'...", filename.c_str());
        read_console_char();
    }
}

// Scans the file that `reader` opened into `output`, adding to `edits`;
// ok, or why the file could not be read whole.
ReadStatus scan_pieces(FileReader& reader, StreamedOutput& output, int64_t& edits) {
    try {
        return for_each_piece(reader, output.wants_edits() ? PieceNeeds::edits : PieceNeeds::newText,
                              [&](const FilePiece& piece) { edits += output.scan_piece(piece); });
    } catch (const std::bad_alloc&) {
        return ReadStatus::alloc_failed;
    }
}

// The designed run on one file, read a piece at a time. An answer may take
// any time, and a run may be ended while it waits: when a question comes,
// the first scan only counts, and the replacement is made after the yes by
// a second scan, so that nothing is left beside the file meanwhile.
int64_t write_file_in_pieces(const std::string& filename, int promptForCommit, RunTally& tally) {
    FileReader reader;
    if (const ReadStatus opened = reader.open(filename); opened != ReadStatus::ok) {
        return report_read_failure(opened, filename, tally);
    }
    std::string buffer;
    try {
        buffer.reserve(kOutputBufferSize);
    } catch (const std::bad_alloc&) {
        return report_read_failure(ReadStatus::alloc_failed, filename, tally);
    }
    const bool asks = promptForCommit != 0;
    const FileIdentity identity = reader.identity();
    const auto start = Clock::now();
    int64_t edits = 0;
    StreamedOutput output(filename, identity, reader, buffer, true, !asks);
    if (const ReadStatus read = scan_pieces(reader, output, edits); read != ReadStatus::ok) {
        return report_read_failure(read, filename, tally);
    }
    print_report(stdout, filename, edits, seconds_since(start));
    finish_write(filename, edits, asks, [&] {
        if (!asks) {
            reader.close();  // Windows replaces no file that is still open
            warn_of_other_links(output.has_other_links(), filename);
            return output.commit();
        }
        FileReader again;
        int64_t edits_again = 0;
        StreamedOutput second(filename, identity, again, buffer, false, true);
        if (again.open(filename) != ReadStatus::ok || scan_pieces(again, second, edits_again) != ReadStatus::ok) {
            return false;
        }
        again.close();
        warn_of_other_links(second.has_other_links(), filename);
        return second.commit();
    }, tally);
    return edits;
}

// The designed run with -stable: the text is read whole and settled in
// memory, pass after pass, before anything is written.
int64_t write_settled(const std::string& filename, int promptForCommit, RunTally& tally) {
    FileContent input;
    const ReadStatus status = read_whole_file(filename, input);
    if (status != ReadStatus::ok) return report_read_failure(status, filename, tally);
    EditWitness changedLines(stdout);
    const auto start = Clock::now();
    int64_t edits = 0;
    const std::string cleaned = clean_or_exit(input.view(), &changedLines, edits);
    print_report(stdout, filename, edits, seconds_since(start));
    finish_write(filename, edits, promptForCommit != 0,
                 [&] { return save_whole(filename, input.identity, cleaned); }, tally);
    return edits;
}

}  // namespace

int64_t process_file(const std::string& filename, int promptForCommit, RunTally& tally) {
    if (g_review == Review::none) {
        return g_stable ? write_settled(filename, promptForCommit, tally)
                        : write_file_in_pieces(filename, promptForCommit, tally);
    }
    if (g_review == Review::check || g_review == Review::list) {
        if (!g_stable) return review_file_in_pieces(filename, tally);
    }
    FileContent input;
    const ReadStatus status = read_whole_file(filename, input);
    if (status != ReadStatus::ok) return report_read_failure(status, filename, tally);
    return review_text(filename, input.view(), stdout, tally);
}

int RunTally::check_status() const { return anyChanged ? 1 : (anyFailed ? 2 : 0); }

void process_standard_streams(RunTally& tally) {
    std::string input;
    if (!read_standard_input(input)) {
        report_read_failure(ReadStatus::read_failed, "-", tally);
        return;
    }
    if (g_review != Review::none) {
        review_text("-", input, stderr, tally);
        return;
    }
    StandardOutput output(input);
    EditWitness changedLines(stderr);
    const auto start = Clock::now();
    int64_t edits = 0;
    bool written = false;
    if (g_stable) {
        const std::string cleaned = clean_or_exit(input, &changedLines, edits);
        written = StandardOutput::write_whole(cleaned);
    } else {
        edits = scan_or_exit(input, output);
        written = output.commit();
    }
    print_report(stderr, "-", edits, seconds_since(start));
    if (!written) {
        print_error("Error writing to file: -\n");
        tally.anyFailed = true;
    }
}
