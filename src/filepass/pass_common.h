// What the runs of the file pass share: the rules from the settings, the
// scans that end the process when memory runs out, the "Changed" and report
// lines, and the clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

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

// Ends the process with status 1 after "Memory allocation error", as a
// run does when memory runs out during a scan.
[[noreturn]] void exit_out_of_memory();

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

