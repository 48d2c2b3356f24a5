// mapclean: repairs floating-point noise in the numbers of ".map" files.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "cli/directory.h"
#include "cli/options.h"
#include "cli/platform.h"
#include "filepass/settings.h"
#include "filepass/console.h"
#include "filepass/file_io.h"
#include "filepass/file_pass.h"

#ifdef __MINGW32__
// Windows programs expand wildcards in their arguments at start-up; with
// MinGW-w64 this asks the runtime to.
extern "C" {
int _dowildcard = -1;
}
#endif

namespace {

// One target: "-" (the filter), a directory, or a file.
void process_target(const std::string& target, int promptForCommit, RunTally& tally) {
    if (target == "-") {
        process_standard_streams(tally);
    } else if (target.size() > max_path_length()) {
        // The platform's calls would not take it whole; never cut it short.
        print_error("Path too long: %s\n", target.c_str());
        tally.anyFailed = true;
    } else if (is_directory(target)) {
        process_directory(target, promptForCommit, tally);
    } else {
        process_file(target, promptForCommit, tally);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const CliRequest request = read_arguments(argc, argv);
    switch (request.action) {
    case CliAction::show_usage:
        std::fputs(kUsageText, stdout);
        return 0;
    case CliAction::show_version:
        std::printf("mapclean %s\n", MAPCLEAN_VERSION);
        return 0;
    case CliAction::missing_precision:
        print_error("Error: -precision flag requires a numeric argument.\n");
        return 1;
    case CliAction::bad_fields:
        print_error("Error: -only takes planes, texture, patches or keys: %s\n", request.badFields.c_str());
        return 1;
    case CliAction::run:
        break;
    }

    prepare_file_io();
    // The runs that write nothing, and -all, take every target; the designed
    // run takes the last (a shell expands "*.map" into many names).
    const bool everyTarget = g_all || g_review != Review::none;
    std::vector<std::string> targets = request.targets;
    if (!everyTarget && targets.size() > 1) {
        print_error("Warning: only the last target is processed: %s\n", targets.back().c_str());
        targets.erase(targets.begin(), targets.end() - 1);
    }
    if (std::count(targets.begin(), targets.end(), "-") > 1) {
        print_error("Error: \"-\" can be given only once\n");
        return 1;
    }
    if (g_review == Review::list || g_review == Review::diff) {
        use_binary_stdout();  // the same bytes on every platform
        const char* noColour = std::getenv("NO_COLOR");
        g_colour = g_review == Review::diff && stdout_is_terminal() && !(noColour && *noColour);
    }

    const int promptForCommit = g_silent || g_review != Review::none ? 0 : 1;
    RunTally tally;
    if (targets.empty()) process_current_directory(promptForCommit, tally);
    for (const std::string& target : targets) process_target(target, promptForCommit, tally);

    if (g_review != Review::none) return tally.check_status();
    // The designed run says nothing of failed files by its status; -all and
    // the filter do.
    const bool saysFailures = g_all || (targets.size() == 1 && targets.front() == "-");
    return saysFailures && tally.anyFailed ? 2 : 0;
}
