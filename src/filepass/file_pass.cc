#include "filepass/file_pass.h"

#include <cstdio>
#include <new>

#include "filepass/console.h"
#include "filepass/file_io.h"
#include "filepass/pass_common.h"
#include "filepass/review_pass.h"
#include "filepass/scan.h"
#include "filepass/settings.h"

namespace {

constexpr size_t kOutputBufferSize = 1 << 20;

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

// The designed run on one file read into `input`: report, question, save,
// pause.
int64_t write_file_pass(const std::string& filename, const FileContent& input, int promptForCommit,
                        RunTally& tally) {
    std::string buffer;
    try {
        if (!g_stable) buffer.reserve(kOutputBufferSize);
    } catch (const std::bad_alloc&) {
        return report_read_failure(ReadStatus::alloc_failed, filename, tally);
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
    if (status != ReadStatus::ok) return report_read_failure(status, filename, tally);
    if (g_review != Review::none) return review_text(filename, input.view(), stdout, tally);
    return write_file_pass(filename, input, promptForCommit, tally);
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
