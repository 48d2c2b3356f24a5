#include "filepass/file_pass.h"

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "cli/settings.h"
#include "filepass/console.h"
#include "filepass/file_io.h"
#include "filepass/scan.h"

namespace {

constexpr size_t kOutputBufferSize = 1 << 20;

void print_changed_line(std::FILE* stream, const Edit& edit) {
    std::fputs("Changed: '", stream);
    std::fwrite(edit.original.data(), 1, edit.original.size(), stream);
    std::fputs("' -> '", stream);
    std::fwrite(edit.replacement.data(), 1, edit.replacement.size(), stream);
    std::fprintf(stream, "' (line %" PRId64 ")\n", edit.line);
}

// Check mode: only the "Changed" lines, nothing written.
class CheckOnly final : public EditSink {
public:
    void on_edit(const Edit& edit) override {
        if (g_verbose) print_changed_line(stdout, edit);
    }
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

private:
    void on_change(const Edit& edit) override {
        if (g_verbose) print_changed_line(stderr, edit);
    }
    void put(std::string_view data) override {
        if (!g_check) ok_ = ok_ && std::fwrite(data.data(), 1, data.size(), stdout) == data.size();
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

// Scans `text` into `sink` and returns the edit count; ends the process
// with status 1 when memory runs out.
int64_t scan_or_exit(std::string_view text, EditSink& sink) {
    try {
        return scan_text(text, g_precision, sink);
    } catch (const std::bad_alloc&) {
        print_error("Memory allocation error\n");
        std::exit(1);
    }
}

}  // namespace

int64_t process_file(const std::string& filename, int promptForCommit) {
    FileContent input;
    switch (read_whole_file(filename, input)) {
    case ReadStatus::ok:
        break;
    case ReadStatus::open_failed:
        print_error("Error opening file: %s\n", filename.c_str());
        return -1;
    case ReadStatus::alloc_failed:
        print_error("Memory allocation error\n");
        return -1;
    case ReadStatus::read_failed:
        print_error("Error reading file: %s\n", filename.c_str());
        return -1;
    }

    std::string buffer;
    try {
        buffer.reserve(kOutputBufferSize);
    } catch (const std::bad_alloc&) {
        print_error("Memory allocation error\n");
        return -1;
    }
    // An answer may take any time, and a run may be ended while it waits:
    // when a question comes, the replacement is made only after the yes, by
    // a second scan, so that nothing is left beside the file meanwhile.
    const bool asks = promptForCommit && !g_check;
    StreamedOutput output(filename, input, buffer, !asks);
    CheckOnly checkOnly;

    const auto fileStart = std::chrono::steady_clock::now();
    const int64_t edits = scan_or_exit(input.view(), g_check || asks ? static_cast<EditSink&>(checkOnly)
                                                                      : static_cast<EditSink&>(output));
    const std::chrono::duration<double> elapsedSec = std::chrono::steady_clock::now() - fileStart;
    std::printf("File: %s  Edits: %" PRId64 "  Time: %.3f seconds\n", filename.c_str(), edits,
                elapsedSec.count());
    if (g_check) return edits;

    const bool doCommit = !(promptForCommit && edits > 0) || ask_commit(filename);
    if (doCommit && edits > 0) {
        if (asks) scan_or_exit(input.view(), output);
        if (output.has_other_links()) {
            print_error("Warning: other hard links to '%s' keep the old content\n", filename.c_str());
        }
        if (output.commit()) {
            std::printf("Changes saved to '%s'.\n", filename.c_str());
        } else {
            print_error("Error writing to file: %s\n", filename.c_str());
        }
    }

    if (!g_silent && (!promptForCommit || edits == 0)) {
        std::printf("Press any key to continue for '%s'...", filename.c_str());
        read_console_char();
    }
    return edits;
}

void RunTally::add(int64_t fileEdits) {
    if (fileEdits < 0) anyFailed = true;
    if (fileEdits > 0) anyChanged = true;
}

int RunTally::check_status() const { return anyChanged ? 1 : (anyFailed ? 2 : 0); }

int process_standard_streams() {
    std::string input;
    if (!read_standard_input(input)) {
        print_error("Error reading file: -\n");
        return 2;
    }
    StandardOutput output(input);
    const auto start = std::chrono::steady_clock::now();
    int64_t edits = 0;
    try {
        edits = scan_text(input, g_precision, output);
    } catch (const std::bad_alloc&) {
        print_error("Memory allocation error\n");
        return 1;
    }
    const std::chrono::duration<double> elapsedSec = std::chrono::steady_clock::now() - start;
    const bool written = output.commit();
    std::fprintf(stderr, "File: -  Edits: %" PRId64 "  Time: %.3f seconds\n", edits, elapsedSec.count());
    if (!written) {
        print_error("Error writing to file: -\n");
        return 2;
    }
    return g_check ? (edits > 0 ? 1 : 0) : 0;
}
