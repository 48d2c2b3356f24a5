// mapclean: repairs floating-point noise in the numbers of ".map" files.
#include <cstdio>

#include "cli/directory.h"
#include "cli/options.h"
#include "cli/platform.h"
#include "cli/settings.h"
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
    case CliAction::run:
        break;
    }

    prepare_file_io();
    if (request.targetCount > 1) {
        // Shells expand "*.map" before the program sees it: say what is done.
        print_error("Warning: only the last target is processed: %s\n",
                    request.targetPath->c_str());
    }

    if (request.targetPath == "-") return process_standard_streams();

    const int promptForCommit = g_silent || g_check ? 0 : 1;
    RunTally tally;
    if (request.targetPath && request.targetPath->size() > max_path_length()) {
        // The platform's calls would not take it whole; never cut it short.
        print_error("Path too long: %s\n", request.targetPath->c_str());
        tally.anyFailed = true;
    } else if (!request.targetPath) {
        process_current_directory(promptForCommit, tally);
    } else if (is_directory(*request.targetPath)) {
        process_directory(*request.targetPath, promptForCommit, tally);
    } else {
        tally.add(process_file(*request.targetPath, promptForCommit));
    }
    return g_check ? tally.check_status() : 0;
}
