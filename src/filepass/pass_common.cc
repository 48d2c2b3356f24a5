#include "filepass/pass_common.h"

#include <cinttypes>
#include <cstdlib>
#include <new>

#include "filepass/console.h"
#include "filepass/settings.h"

CleanRules rules_from_settings() { return CleanRules{g_precision, g_stable != 0, g_plain != 0, g_only}; }

void exit_out_of_memory() {
    print_error("Memory allocation error\n");
    std::exit(1);
}

int64_t scan_or_exit(std::string_view text, EditSink& sink) {
    try {
        return scan_text(text, rules_from_settings(), sink);
    } catch (const std::bad_alloc&) {
        exit_out_of_memory();
    }
}

std::string clean_or_exit(std::string_view text, EditSink* sink, int64_t& edits) {
    try {
        return clean_text(text, rules_from_settings(), sink, edits);
    } catch (const std::bad_alloc&) {
        exit_out_of_memory();
    }
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void print_report(std::FILE* stream, const std::string& name, int64_t edits, double seconds) {
    if (!g_quiet) std::fprintf(stream, "File: %s  Edits: %" PRId64 "  Time: %.3f seconds\n", name.c_str(), edits, seconds);
}

int64_t report_read_failure(ReadStatus status, const std::string& filename, RunTally& tally) {
    switch (status) {
    case ReadStatus::open_failed:
        print_error("Error opening file: %s\n", filename.c_str());
        break;
    case ReadStatus::alloc_failed:
        print_error("Memory allocation error\n");
        break;
    case ReadStatus::read_failed:
    case ReadStatus::ok:
        print_error("Error reading file: %s\n", filename.c_str());
        break;
    }
    tally.anyFailed = true;
    return -1;
}

void print_changed_line(std::FILE* stream, const Edit& edit) {
    std::fputs("Changed: '", stream);
    std::fwrite(edit.original.data(), 1, edit.original.size(), stream);
    std::fputs("' -> '", stream);
    std::fwrite(edit.replacement.data(), 1, edit.replacement.size(), stream);
    std::fprintf(stream, "' (line %" PRId64 ")\n", edit.line);
}
