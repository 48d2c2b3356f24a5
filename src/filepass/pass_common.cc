#include "filepass/pass_common.h"

#include <cinttypes>

#include "filepass/console.h"

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void print_report(std::FILE* stream, const RunSettings& settings, const std::string& shown, int64_t edits,
                  double seconds) {
    // A brief run names only what changes: in a check, the files that would;
    // in a run that writes, the save line says it.
    if (settings.brief && (edits == 0 || settings.review == Review::none)) return;
    if (!settings.quiet) print_to(stream, "File: %s  Edits: %" PRId64 "  Time: %.3f seconds\n", shown.c_str(), edits, seconds);
}

void report_out_of_memory(std::string_view name, RunTally& tally) {
    print_error_naming("Memory allocation error: ", name, "\n");
    tally.outOfMemory = true;
}

int64_t report_read_failure(const IoFailure& failure, const std::string& shown, RunTally& tally) {
    switch (failure.step) {
    case IoFailure::memory:
        print_error("Memory allocation error: %s\n", shown.c_str());
        tally.outOfMemory = true;
        return -1;
    case IoFailure::scratch:
        print_error("Error making the diff of %s (%s)\n", shown.c_str(), failure_reason(failure, "").c_str());
        break;
    case IoFailure::read:
    case IoFailure::changed:
    case IoFailure::long_line:
        print_error("Error reading file: %s (%s)\n", shown.c_str(), failure_reason(failure, "").c_str());
        break;
    default:
        print_error("Error opening file: %s (%s)\n", shown.c_str(), failure_reason(failure, "").c_str());
        break;
    }
    tally.anyFailed = true;
    return -1;
}

void report_write_failure(const IoFailure& failure, std::string_view directory, const std::string& shown,
                          RunTally& tally) {
    print_error("Error writing to file: %s (%s)\n", shown.c_str(), failure_reason(failure, directory).c_str());
    tally.anyFailed = true;
}

void print_changed_line(std::FILE* stream, const Edit& edit) {
    print_text(stream, "Changed: '");
    print_text(stream, edit.original);
    print_text(stream, "' -> '");
    print_text(stream, edit.replacement);
    print_to(stream, "' (line %" PRId64 ")\n", edit.line);
}
