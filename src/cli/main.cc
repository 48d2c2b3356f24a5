// mapclean: repairs floating-point noise in the numbers of ".map" files.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "cli/directory.h"
#include "cli/entry.h"
#include "cli/options.h"
#include "cli/platform.h"
#include "cli/settings.h"
#include "filepass/console.h"
#include "filepass/file_io.h"
#include "filepass/file_pass.h"
#include "filepass/names.h"
#include "filepass/pass_common.h"

namespace {

// One target: "-" (the filter), a directory, or a file. Memory running
// out is reported with the target's name, and the run goes on.
void process_target(const std::string& target, const RunSettings& settings, int promptForCommit, RunTally& tally) try {
    if (target == "-") {
        process_standard_streams(settings, tally);
    } else if (path_too_long(target)) {
        // The platform's calls would not take it whole; never cut it short.
        print_error("Path too long: %s\n", printable_name(target).c_str());
        tally.anyFailed = true;
    } else if (is_directory(target)) {
        process_directory(target, settings, promptForCommit, tally);
    } else {
        process_file(file_at_path(target), settings, promptForCommit, tally);
    }
} catch (const std::bad_alloc&) {
    report_out_of_memory(target, tally);
}

// The run the arguments ask for; its exit status. Throws std::bad_alloc.
int run(int argc, char** argv) {
    const CliRequest request = read_arguments(argc, argv);
    switch (request.action) {
    case CliAction::show_usage:
        print_out("%s", kUsageText);
        return 0;
    case CliAction::show_version:
        print_out("mapclean %s\n", MAPCLEAN_VERSION_LINE);
        return 0;
    case CliAction::error:
        print_error("%s\n", printable_name(request.message).c_str());
        return 1;
    case CliAction::run:
        break;
    }

    const std::vector<std::string>& targets = request.targets;
    if (std::count(targets.begin(), targets.end(), "-") > 1) {
        print_error("Error: \"-\" can be given only once\n");
        return 1;
    }
    prepare_file_io();
    if (g_review == Review::list || g_review == Review::diff) {
        use_binary_stdout();  // the same bytes on every platform
        const char* noColour = std::getenv("NO_COLOR");
        const bool automatic = stdout_is_terminal() && !(noColour && *noColour);
        g_colour = g_review == Review::diff && (g_colourWhen == ColourWhen::always ||
                                                (g_colourWhen == ColourWhen::automatic && automatic));
    }

    const RunSettings settings = run_settings();
    const int promptForCommit = g_silent || g_review != Review::none ? 0 : 1;
    RunTally tally;
    if (targets.empty()) process_current_directory(settings, promptForCommit, tally);
    for (const std::string& target : targets) process_target(target, settings, promptForCommit, tally);

    if (g_review == Review::check && !g_quiet) {
        // Where the report lines went: the filter's go to stderr.
        const bool filter = std::count(targets.begin(), targets.end(), "-") > 0;
        print_to(filter ? stderr : stdout, "%" PRId64 " of %" PRId64 " files would change\n", tally.changed,
                 tally.judged);
    }
    return tally.status(g_review != Review::none);
}

}  // namespace

int mapclean_main(int argc, char** argv) {
    int status = 1;
    try {
        status = run(argc, argv);
    } catch (const std::bad_alloc&) {
        // Before any target was touched (each names its own failure).
        print_error("Memory allocation error\n");
        status = 1;
    }
    if (const int error = finish_standard_output(); error != 0) {
        print_error("Error writing to standard output (%s)\n", system_error_text(error));
        status = 2;
    }
    if (pauses_before_closing(console_situation())) {
        print_out("Press any key to close this window...");
        wait_for_key();
        finish_standard_output();
    }
    return status;
}
