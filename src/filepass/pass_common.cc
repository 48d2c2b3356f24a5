#include "filepass/pass_common.h"

#include <cinttypes>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "filepass/console.h"
#include "filepass/settings.h"

CleanRules rules_from_settings() { return CleanRules{g_precision, g_stable != 0, g_plain != 0, g_only}; }

int64_t scan_or_exit(std::string_view text, EditSink& sink) {
    try {
        return scan_text(text, rules_from_settings(), sink);
    } catch (const std::bad_alloc&) {
        print_error("Memory allocation error\n");
        std::exit(1);
    }
}

std::string clean_or_exit(std::string_view text, EditSink* sink, int64_t& edits) {
    try {
        return clean_text(text, rules_from_settings(), sink, edits);
    } catch (const std::bad_alloc&) {
        print_error("Memory allocation error\n");
        std::exit(1);
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

ReadStatus for_each_piece(FileReader& reader, const std::function<void(std::string_view, uint64_t)>& onPiece) {
    constexpr size_t kBlock = 256 << 10;
    std::vector<char> buffer(kBlock);
    size_t filled = 0;
    uint64_t offset = 0;  // where the buffer's first byte stands in the file
    const bool wholeLines = g_only != 0;
    for (bool atEnd = false; !atEnd;) {
        if (filled == buffer.size()) {
            // A piece longer than a block: grown, but never far beyond the
            // rest of the file, which is all a piece can hold.
            const uint64_t rest = reader.identity().size - std::min(reader.identity().size, offset);
            buffer.resize(std::max<size_t>(buffer.size() + kBlock, std::min<uint64_t>(buffer.size() * 2, rest + 1)));
        }
        const int64_t got = reader.read(buffer.data() + filled, buffer.size() - filled);
        if (got < 0) return ReadStatus::read_failed;
        atEnd = got == 0;
        filled += static_cast<size_t>(got);
        const std::string_view text(buffer.data(), filled);
        const size_t cut = atEnd ? filled : piece_length(text, wholeLines);
        if (cut == 0) continue;
        onPiece(text.substr(0, cut), offset);
        std::memmove(buffer.data(), buffer.data() + cut, filled - cut);
        filled -= cut;
        offset += cut;
    }
    return offset == reader.identity().size ? ReadStatus::ok : ReadStatus::read_failed;
}
