// mapclean: repairs floating-point noise in the numbers of ".map" files.
#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "cli/config_files.h"
#include "cli/directory.h"
#include "cli/entry.h"
#include "cli/options.h"
#include "cli/platform.h"
#include "cli/settings.h"
#include "filepass/console.h"
#include "filepass/file_io.h"
#include "filepass/file_pass.h"
#include "filepass/git_filter.h"
#include "filepass/names.h"
#include "filepass/pass_common.h"

namespace {

// A settings file that became unusable after the run read it.
void report_config_error(const std::string& error, RunTally& tally) {
    print_error("Error: %s\n", printable_name(error).c_str());
    tally.anyFailed = true;
}

// One target: "-" (the filter), a directory, or a file, with the settings
// `configs` give it. Memory running out is reported with the target's
// name, and the run goes on.
void process_target(const std::string& target, const RunSettings& settings, ConfigLookup& configs,
                    int promptForCommit, RunTally& tally) try {
    if (target == "-") {
        // Settings as if the text were the named map, or one in this folder.
        const MapPlan plan = configs.plan(g_stdinName.value_or("-"));
        if (plan.error) {
            report_config_error(*plan.error, tally);
        } else if (plan.excludedBy) {
            pass_standard_streams_through(plan.settings, tally);
        } else {
            process_standard_streams(plan.settings, tally);
        }
    } else if (path_too_long(target)) {
        // The platform's calls would not take it whole; never cut it short.
        print_error("Path too long: %s\n", printable_name(target).c_str());
        tally.anyFailed = true;
    } else if (is_directory(target)) {
        process_directory(target, settings, configs, promptForCommit, tally);
    } else {
        const MapPlan plan = configs.plan(target);
        if (plan.error) {
            report_config_error(*plan.error, tally);
        } else if (!plan.excludedBy) {
            process_file(file_at_path(target), plan.settings, promptForCommit, tally);
        } else if (!settings.quiet) {
            // Named by a hook or a script: left out all the same, and said so.
            print_error("Skipped: %s (excluded by %s)\n", printable_name(target).c_str(),
                        printable_name(plan.excludedBy->source.file).c_str());
        }
    }
} catch (const std::bad_alloc&) {
    report_out_of_memory(target, tally);
}

// Reads every settings file the run will use before any map is touched;
// configs.error() then names the first that cannot be used.
void read_settings_files_of(const std::vector<std::string>& targets, ConfigLookup& configs) {
    if (targets.empty()) {
        if (const auto current = current_directory()) read_settings_files(*current, configs);
    }
    for (const std::string& target : targets) {
        if (target == "-") {
            configs.plan(g_stdinName.value_or("-"));
        } else if (path_too_long(target)) {
            continue;
        } else if (is_directory(target)) {
            read_settings_files(target, configs);
        } else {
            configs.plan(target);
        }
    }
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
    SystemConfigFiles files;
    ConfigLookup configs(files, g_configSource, settings, g_given, g_configFile);
    if (g_gitFilter) {
        // Each path's settings are read as git names it; a wrong file
        // refuses its maps alone.
        use_binary_stdout();
        return serve_git_filter([&](const std::string& path) {
            const MapPlan plan = configs.plan(path);
            if (plan.error) {
                return GitFilterPlan{GitFilterPlan::Kind::fail, plan.settings, printable_name(*plan.error)};
            }
            const auto kind = plan.excludedBy ? GitFilterPlan::Kind::pass : GitFilterPlan::Kind::clean;
            return GitFilterPlan{kind, plan.settings, ""};
        });
    }
    if (g_showSettings) {
        // A folder's: those of a map in it.
        const std::string& path = *g_showSettings;
        const MapPlan plan = configs.plan(is_directory(path) ? joined_path(path, "-") : path);
        if (!plan.error) print_text(describe_settings(path, plan, g_given));
    } else {
        read_settings_files_of(targets, configs);
    }
    if (const auto& error = configs.error()) {
        print_error("Error: %s\n", printable_name(*error).c_str());
        return 1;
    }
    if (g_showSettings) return 0;
    const int promptForCommit = g_silent || g_review != Review::none ? 0 : 1;
    RunTally tally;
    if (targets.empty()) process_current_directory(settings, configs, promptForCommit, tally);
    for (const std::string& target : targets) process_target(target, settings, configs, promptForCommit, tally);

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
