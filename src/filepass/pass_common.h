// What the runs of the file pass share: the "Changed" and report lines,
// the error lines of failed files, and the clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "core/scan.h"
#include "filepass/file_io.h"
#include "filepass/run_settings.h"

// The error line of a file (named `shown`, as printable_name writes it)
// that could not be read: "Error opening file: NAME (REASON)", "Error
// reading file: NAME (REASON)", "Error making the diff of NAME (REASON)"
// (no scratch file) or "Memory allocation error: NAME", counted in
// `tally`. Returns -1, the file pass's result for it.
int64_t report_read_failure(const IoFailure& failure, const std::string& shown, RunTally& tally);

// "Error writing to file: NAME (REASON)" for a file whose save failed,
// counted in `tally`; `directory` is where the temporary was to be made.
void report_write_failure(const IoFailure& failure, std::string_view directory, const std::string& shown,
                          RunTally& tally);

// "Memory allocation error: NAME" for the file or directory `name` (as it
// is: printable_name is applied without allocating), counted in `tally`:
// the file, or what was left of the directory, is left as it was.
void report_out_of_memory(std::string_view name, RunTally& tally);

// "Changed: 'OLD' -> 'NEW' (line N)" for `edit`, to `stream`.
void print_changed_line(std::FILE* stream, const Edit& edit);

// The report line of a file, to `stream`; nothing in a quiet run.
void print_report(std::FILE* stream, const RunSettings& settings, const std::string& shown, int64_t edits,
                  double seconds);

using Clock = std::chrono::steady_clock;

// Seconds since `start`, for the report line.
double seconds_since(Clock::time_point start);

// Hears the edits of a scan, prints their "Changed" lines (in a verbose
// run) to a stream when it has one, and keeps the first edit.
class EditWitness final : public EditSink {
public:
    EditWitness(std::FILE* changedLines, const RunSettings& settings)
        : changedLines_(settings.verbose ? changedLines : nullptr), github_(settings.github) {}
    void on_edit(const Edit& edit) override {
        if (changedLines_) print_changed_line(changedLines_, edit);
        if (!heard) {
            heard = true;
            firstLine = edit.line;
            firstOriginal = edit.original;
            firstReplacement = edit.replacement;
        }
    }
    bool wants_lines() const override { return changedLines_ || github_; }
    int64_t firstLine = 0;  // the first edit's line (0 when lines were not counted)
    std::string firstOriginal, firstReplacement;
    bool heard = false;

private:
    std::FILE* const changedLines_;
    const bool github_;
};
