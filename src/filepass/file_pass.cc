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

void print_changed_line(const Edit& edit) {
    print_text("Changed: '");
    print_text(edit.original);
    print_text("' -> '");
    print_text(edit.replacement);
    std::printf("' (line %" PRId64 ")\n", edit.line);
}

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

}  // namespace

int64_t process_file(const std::string& filename, int promptForCommit) {
    std::string input;
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

    std::string output;
    try {
        output.reserve(16384);
    } catch (const std::bad_alloc&) {
        print_error("Memory allocation error\n");
        return -1;
    }

    const auto fileStart = std::chrono::steady_clock::now();
    int64_t edits = 0;
    try {
        edits = scan_text(input, g_precision, output,
                          g_verbose ? EditSink(print_changed_line) : EditSink());
    } catch (const std::bad_alloc&) {
        print_error("Memory allocation error\n");
        std::exit(1);
    }
    const std::chrono::duration<double> elapsedSec = std::chrono::steady_clock::now() - fileStart;
    std::printf("File: %s  Edits: %" PRId64 "  Time: %.3f seconds\n", filename.c_str(), edits,
                elapsedSec.count());

    const bool doCommit = !(promptForCommit && edits > 0) || ask_commit(filename);
    if (doCommit && edits > 0) {
        if (write_file_atomically(filename, output)) {
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
