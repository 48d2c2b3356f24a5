#include "filepass/file_pass.h"

#include <algorithm>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <new>

#include "filepass/console.h"
#include "filepass/file_io.h"
#include "filepass/review.h"
#include "filepass/scan.h"
#include "filepass/settings.h"

namespace {

constexpr size_t kOutputBufferSize = 1 << 20;

void print_changed_line(std::FILE* stream, const Edit& edit) {
    std::fputs("Changed: '", stream);
    std::fwrite(edit.original.data(), 1, edit.original.size(), stream);
    std::fputs("' -> '", stream);
    std::fwrite(edit.replacement.data(), 1, edit.replacement.size(), stream);
    std::fprintf(stream, "' (line %" PRId64 ")\n", edit.line);
}

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
    int64_t firstLine = 0;  // 0 until an edit was heard
    std::string firstOriginal, firstReplacement;
    bool heard = false;

private:
    std::FILE* const changedLines_;
};

// Judges a text by its bytes without building the new one: each piece of
// the new text is compared with the old text where it would stand, so a
// rewrite that gives back the same bytes ("1.10.377" at -p 3) is no change.
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

// Streams the new text into a replacement beside the file as the scan finds
// edits, through a fixed buffer: nothing is written for a file without
// edits, and memory stays at the file's size plus the buffer. The first
// edit creates the replacement with the unchanged text before it.
class StreamedOutput final : public TextRebuilder {
public:
    // `printChanges`: print the "Changed" lines (g_verbose), unless an
    // earlier scan of the same text already did.
    StreamedOutput(const std::string& filename, const FileContent& input, std::string& buffer,
                   bool printChanges)
        : TextRebuilder(input.view()), filename_(filename), identity_(input.identity), buffer_(buffer),
          printChanges_(printChanges) {}

    // True when the file has other hard links, which keep the old content.
    bool has_other_links() const { return file_.has_other_links(); }

    // Writes the rest of the text and puts the replacement in the file's
    // place; false when any step failed (the file is then untouched).
    bool commit() {
        finish();
        if (!failed_ && !buffer_.empty()) failed_ = !file_.write(buffer_);
        return !failed_ && file_.commit();
    }

private:
    bool wants_lines() const override { return g_verbose && printChanges_; }
    void on_change(const Edit& edit) override {
        if (g_verbose && printChanges_) print_changed_line(stdout, edit);
        if (!started_) {
            started_ = true;
            failed_ = !file_.open(filename_, identity_);
        }
    }

    void put(std::string_view data) override {
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
    std::string& buffer_;
    const bool printChanges_;
    ReplacementFile file_;
    bool started_ = false;
    bool failed_ = false;
};

// The filter's output: the new text to stdout as the scan goes (nothing in
// check mode), the "Changed" lines to stderr.
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

CleanRules rules() { return CleanRules{g_precision, g_stable != 0, g_plain != 0, g_only}; }

// Scans `text` into `sink` and returns the edit count; ends the process
// with status 1 when memory runs out.
int64_t scan_or_exit(std::string_view text, EditSink& sink) {
    try {
        return scan_text(text, rules(), sink);
    } catch (const std::bad_alloc&) {
        print_error("Memory allocation error\n");
        std::exit(1);
    }
}

// The text cleaned in memory (with g_stable, pass after pass until it
// settles), its edits told to `sink`; ends the process with status 1 when
// memory runs out.
std::string clean_or_exit(std::string_view text, EditSink* sink, int64_t& edits) {
    try {
        return clean_text(text, rules(), sink, edits);
    } catch (const std::bad_alloc&) {
        print_error("Memory allocation error\n");
        std::exit(1);
    }
}

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void print_report(std::FILE* stream, const std::string& name, int64_t edits, double seconds) {
    if (!g_quiet) std::fprintf(stream, "File: %s  Edits: %" PRId64 "  Time: %.3f seconds\n", name.c_str(), edits, seconds);
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

// What a run that writes nothing found in one text.
struct Findings {
    int64_t edits = 0;
    bool changes = false;  // the cleaned text's bytes differ
    double seconds = 0;
    std::string cleaned;   // the whole cleaned text, for a diff
};

// Prints what the mode shows of the text named `name` (its report line to
// `reportStream`) and counts a change in `tally`.
void show_review(const std::string& name, std::string_view text, const Findings& review, const EditWitness& witness,
                 std::FILE* reportStream, RunTally& tally) {
    if (review.changes) tally.anyChanged = true;
    switch (g_review) {
    case Review::check:
        print_report(reportStream, name, review.edits, review.seconds);
        if (g_github && review.changes) {
            print_text(github_annotation(name, witness.firstLine, review.edits, witness.firstOriginal,
                                         witness.firstReplacement));
        }
        break;
    case Review::list:
        if (review.changes) print_text(name + "\n");
        break;
    case Review::diff:
        // The scan stops at the first NUL, so every change lies before it;
        // such a file is binary to diff and patch.
        if (review.changes && text.find('\0') != std::string_view::npos) {
            print_text("Binary file " + name + " would change\n");
        } else if (review.changes) {
            print_text(unified_diff(name, text, review.cleaned, g_colour != 0));
        }
        break;
    case Review::none:
        break;
    }
}

// The runs that write nothing (check, list, diff) for one whole text named
// `name`: judges it by its bytes, prints what the mode shows, and counts a
// change in `tally`. The report line and "Changed" lines go to
// `reportStream`.
int64_t review_text(const std::string& name, std::string_view text, std::FILE* reportStream, RunTally& tally) {
    EditWitness witness(g_review == Review::check ? reportStream : nullptr);
    const auto start = Clock::now();
    Findings review;
    if (g_review == Review::diff || g_stable) {
        review.cleaned = clean_or_exit(text, &witness, review.edits);
        review.changes = review.cleaned != text;
    } else {
        ChangeJudge judge(text, witness);
        review.edits = scan_or_exit(text, judge);
        judge.finish();
        review.changes = judge.changes();
    }
    review.seconds = seconds_since(start);
    show_review(name, text, review, witness, reportStream, tally);
    return review.edits;
}

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
    int64_t linesBefore = 0;

private:
    EditSink& sink_;
};

// Check and list of a file, without -stable: the file is read a block at a
// time and scanned a piece at a time, each piece ending at a line end (a
// token never holds one, and the scan is between tokens after it), so no
// block of the file's size is needed: fresh memory costs more to get than
// the file costs to read. Each piece's bytes are judged alone, which is
// exact, since a rewrite never adds or removes a line end. Returns the edit
// count, or -1 after an error line.
int64_t review_file_in_pieces(const std::string& filename, RunTally& tally) {
    constexpr size_t kBlock = 256 << 10;
    FileReader reader;
    if (reader.open(filename) != ReadStatus::ok) {
        print_error("Error opening file: %s\n", filename.c_str());
        tally.anyFailed = true;
        return -1;
    }
    EditWitness witness(g_review == Review::check ? stdout : nullptr);
    LineShift shifted(witness);
    const auto start = Clock::now();
    Findings review;
    bool pastNul = false;
    try {
        std::vector<char> buffer(kBlock);
        size_t filled = 0;
        for (bool atEnd = false; !atEnd;) {
            if (filled == buffer.size()) buffer.resize(buffer.size() * 2);  // a line longer than a block
            const int64_t got = reader.read(buffer.data() + filled, buffer.size() - filled);
            if (got < 0) {
                print_error("Error reading file: %s\n", filename.c_str());
                tally.anyFailed = true;
                return -1;
            }
            atEnd = got == 0;
            filled += static_cast<size_t>(got);
            const std::string_view text(buffer.data(), filled);
            const size_t cut = atEnd ? filled : text.rfind('\n') + 1;  // 0 when there is no line end yet
            if (cut == 0) continue;
            const std::string_view piece = text.substr(0, cut);
            if (!pastNul) {
                ChangeJudge judge(piece, shifted);
                review.edits += scan_or_exit(piece, judge);
                judge.finish();
                review.changes = review.changes || judge.changes();
                pastNul = piece.find('\0') != std::string_view::npos;  // nothing after it is scanned
            }
            if (shifted.wants_lines()) shifted.linesBefore += std::count(piece.begin(), piece.end(), '\n');
            std::memmove(buffer.data(), buffer.data() + cut, filled - cut);
            filled -= cut;
        }
    } catch (const std::bad_alloc&) {
        print_error("Memory allocation error\n");
        tally.anyFailed = true;
        return -1;
    }
    review.seconds = seconds_since(start);
    show_review(filename, std::string_view(), review, witness, stdout, tally);
    return review.edits;
}

// The designed run on one file read into `input`: report, question, save,
// pause.
int64_t write_file_pass(const std::string& filename, const FileContent& input, int promptForCommit,
                        RunTally& tally) {
    std::string buffer;
    try {
        if (!g_stable) buffer.reserve(kOutputBufferSize);
    } catch (const std::bad_alloc&) {
        print_error("Memory allocation error\n");
        tally.anyFailed = true;
        return -1;
    }
    // An answer may take any time, and a run may be ended while it waits:
    // when a question comes, the replacement is made only after the yes, by
    // a second scan, so that nothing is left beside the file meanwhile.
    const bool asks = promptForCommit != 0;
    StreamedOutput output(filename, input, buffer, !asks);
    EditWitness changedLines(stdout);

    const auto start = Clock::now();
    int64_t edits = 0;
    std::string cleaned;  // the whole new text, with g_stable
    if (g_stable) {
        cleaned = clean_or_exit(input.view(), &changedLines, edits);
    } else {
        edits = scan_or_exit(input.view(), asks ? static_cast<EditSink&>(changedLines) : output);
    }
    print_report(stdout, filename, edits, seconds_since(start));

    const bool doCommit = !(asks && edits > 0) || ask_commit(filename);
    if (doCommit && edits > 0) {
        bool saved = false;
        if (g_stable) {
            saved = save_whole(filename, input.identity, cleaned);
        } else {
            if (asks) scan_or_exit(input.view(), output);
            warn_of_other_links(output.has_other_links(), filename);
            saved = output.commit();
        }
        if (!saved) {
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
    return edits;
}

}  // namespace

int64_t process_file(const std::string& filename, int promptForCommit, RunTally& tally) {
    if ((g_review == Review::check || g_review == Review::list) && !g_stable) {
        return review_file_in_pieces(filename, tally);
    }
    FileContent input;
    const ReadStatus status = read_whole_file(filename, input);
    switch (status) {
    case ReadStatus::ok:
        break;
    case ReadStatus::open_failed:
        print_error("Error opening file: %s\n", filename.c_str());
        break;
    case ReadStatus::alloc_failed:
        print_error("Memory allocation error\n");
        break;
    case ReadStatus::read_failed:
        print_error("Error reading file: %s\n", filename.c_str());
        break;
    }
    if (status != ReadStatus::ok) {
        tally.anyFailed = true;
        return -1;
    }
    if (g_review != Review::none) return review_text(filename, input.view(), stdout, tally);
    return write_file_pass(filename, input, promptForCommit, tally);
}

int RunTally::check_status() const { return anyChanged ? 1 : (anyFailed ? 2 : 0); }

void process_standard_streams(RunTally& tally) {
    std::string input;
    if (!read_standard_input(input)) {
        print_error("Error reading file: -\n");
        tally.anyFailed = true;
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
