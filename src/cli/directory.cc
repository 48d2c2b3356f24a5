#include "cli/directory.h"

#include <chrono>
#include <cinttypes>
#include <memory>
#include <new>
#include <vector>

#include "cli/config.h"
#include "cli/config_lookup.h"
#include "cli/platform.h"
#include "filepass/console.h"
#include "filepass/file_io.h"
#include "filepass/file_pass.h"
#include "filepass/names.h"
#include "filepass/pass_common.h"
#include "cli/settings.h"

namespace {

// Reports a path the platform cannot take whole; a shortened one would name
// other files.
bool path_fits(const std::string& path, RunTally& tally) {
    if (!path_too_long(path)) return true;
    print_error("Path too long: %s\n", printable_name(path).c_str());
    tally.anyFailed = true;
    return false;
}

void report_directory_failure(const std::string& path, const IoFailure& failure, RunTally& tally) {
    print_error("Error opening directory: %s (%s)\n", printable_name(path).c_str(),
                failure_reason(failure, path).c_str());
    tally.anyFailed = true;
}

// One directory run: where it goes and what it found.
struct Walk {
    std::string rootName;  // the directory as the run was given it
    ConfigLookup& configs;
    int promptForCommit;
    bool recursive;
    RunTally& tally;
    int64_t totalEdits = 0;
    int64_t matched = 0;   // entries that matched, excluded ones left out
    bool failed = false;   // a directory could not be read
    int64_t unsearched = 0;  // subdirectories a -r run would enter, left out for want of it
};

// True when an entry whose name is `name` and whose path below the run's
// directory is `below` ('/' between names) matches one of the -exclude globs.
bool excluded(std::string_view name, std::string_view below) {
    for (const std::string& glob : g_excludes) {
        if (matches_glob(glob, name) || matches_glob(glob, below)) return true;
    }
    return false;
}

std::string joined(std::string_view below, const std::string& name) {
    return below.empty() ? name : std::string(below) + '/' + name;
}

void walk(const std::shared_ptr<const Directory>& dir, const std::string& below, Walk& run);

// The files of one directory, then (recursive) those below it, depth first.
// Throws std::bad_alloc.
void walk_unguarded(const std::shared_ptr<const Directory>& dir, const std::string& below, Walk& run) {
    std::vector<std::string> maps, subdirectories;
    IoFailure failure;
    if (!dir->list(maps, subdirectories, failure)) {
        report_directory_failure(dir->path(), failure, run.tally);
        run.failed = true;
        return;
    }
    for (const std::string& name : maps) {
        if (excluded(name, joined(below, name))) continue;
        const std::string fullPath = joined_path(dir->path(), name);
        const MapPlan plan = run.configs.plan(fullPath);
        if (plan.error) {
            // Read before the run, and changed or gone since.
            print_error("Error: %s\n", printable_name(*plan.error).c_str());
            run.tally.anyFailed = true;
            continue;
        }
        if (plan.excludedBy) continue;
        ++run.matched;
        if (!path_fits(fullPath, run.tally)) continue;
        FileTarget file{fullPath, FileLocation()};
        switch (dir->locate(name, file.location, failure)) {
        case EntryPlace::outside:
            // A map pack from elsewhere must not make the run rewrite files beyond it.
            print_error("Skipped '%s': it links outside '%s'\n", printable_name(fullPath).c_str(),
                        printable_name(run.rootName).c_str());
            continue;
        case EntryPlace::missing:
            report_read_failure(failure, printable_name(fullPath), run.tally);
            continue;
        case EntryPlace::here:
        case EntryPlace::inside:
            break;
        }
        const int64_t fileEdits = process_file(file, plan.settings, run.promptForCommit, run.tally);
        if (fileEdits >= 0) run.totalEdits += fileEdits;
    }
    for (const std::string& name : subdirectories) {
        const std::string subBelow = joined(below, name);
        if (excluded(name, subBelow)) continue;
        const std::string subPath = joined_path(dir->path(), name);
        if (run.configs.excludes_folder(subPath)) continue;
        if (!run.recursive) {
            ++run.unsearched;
            continue;
        }
        if (!path_fits(joined_path(subPath, "*.map"), run.tally)) continue;
        const std::shared_ptr<const Directory> sub = dir->open_subdirectory(name, failure);
        if (!sub) {
            report_directory_failure(subPath, failure, run.tally);
            run.failed = true;
            continue;
        }
        walk(sub, subBelow, run);
    }
}

// walk_unguarded, where memory running out stops this directory (and what
// was left of it below) with a line that names it; the rest of the tree
// goes on.
void walk(const std::shared_ptr<const Directory>& dir, const std::string& below, Walk& run) {
    try {
        walk_unguarded(dir, below, run);
    } catch (const std::bad_alloc&) {
        report_out_of_memory(dir->path(), run.tally);
        run.failed = true;
    }
}

// The progress lines of a directory run (the current directory named, the
// overall time): not with -quiet, and not where stdout carries only paths
// or diffs.
bool shows_progress(const RunSettings& settings) {
    if (settings.quiet || settings.brief) return false;
    return settings.review == Review::none || settings.review == Review::check;
}

}  // namespace

bool matches_glob(std::string_view glob, std::string_view text) {
    // '*' and '?' never match a '/': segment by segment.
    for (;;) {
        const size_t globSlash = glob.find('/');
        const size_t textSlash = text.find('/');
        if (!name_matches(glob.substr(0, globSlash), text.substr(0, textSlash))) return false;
        if (globSlash == std::string_view::npos || textSlash == std::string_view::npos) {
            return globSlash == textSlash;
        }
        glob.remove_prefix(globSlash + 1);
        text.remove_prefix(textSlash + 1);
    }
}

namespace {

// process_directory, but memory running out ends it with std::bad_alloc.
int64_t process_directory_unguarded(const std::string& dirPath, const RunSettings& settings, ConfigLookup& configs,
                                    int promptForCommit, RunTally& tally) {
    if (!path_fits(joined_path(dirPath, "*.map"), tally)) return 0;
    const auto overallStart = std::chrono::steady_clock::now();
    IoFailure failure;
    const std::shared_ptr<const Directory> root = Directory::open_root(dirPath, failure);
    if (!root) {
        report_directory_failure(dirPath, failure, tally);
        return 0;
    }
    Walk run{dirPath, configs, promptForCommit, g_recursive != 0, tally};
    walk(root, std::string(), run);
    if (run.matched == 0) {
        // Maps kept in subfolders are the usual reason a plain run finds none.
        if (!run.failed) {
            print_error("No .map files found in directory: %s%s\n", printable_name(dirPath).c_str(),
                        run.unsearched > 0 ? " (its subdirectories are searched with -r)" : "");
        }
        return 0;
    }
    // Said once, whatever the top level held: a drop of a folder should not
    // leave its subfolders out without a word.
    if (run.unsearched > 0 && !settings.quiet && !settings.brief) {
        const bool one = run.unsearched == 1;
        print_error("Not searched: %" PRId64 " %s of %s; -r cleans %s too\n", run.unsearched,
                    one ? "subdirectory" : "subdirectories", printable_name(dirPath).c_str(), one ? "it" : "them");
    }
    const std::chrono::duration<double> elapsedSec = std::chrono::steady_clock::now() - overallStart;
    if (shows_progress(settings)) print_out("Overall processing time: %.3f seconds\n", elapsedSec.count());
    return run.totalEdits;
}

}  // namespace

int64_t process_directory(const std::string& dirPath, const RunSettings& settings, ConfigLookup& configs,
                          int promptForCommit, RunTally& tally) {
    try {
        return process_directory_unguarded(dirPath, settings, configs, promptForCommit, tally);
    } catch (const std::bad_alloc&) {
        report_out_of_memory(dirPath, tally);
        return 0;
    }
}

int64_t process_current_directory(const RunSettings& settings, ConfigLookup& configs, int promptForCommit,
                                  RunTally& tally) {
    const auto currentDir = current_directory();
    if (!currentDir) {
        print_error("Error reading the current directory\n");
        tally.anyFailed = true;
        return 0;
    }
    if (shows_progress(settings)) {
        print_out("No target specified. Processing .map files in current directory: %s\n",
                  printable_name(*currentDir).c_str());
    }
    return process_directory(*currentDir, settings, configs, promptForCommit, tally);
}

namespace {

void read_settings_below(const std::shared_ptr<const Directory>& dir, const std::string& below, ConfigLookup& configs) {
    configs.for_folder(dir->path());
    std::vector<std::string> maps, subdirectories;
    IoFailure failure;
    if (!g_recursive || !dir->list(maps, subdirectories, failure)) return;
    for (const std::string& name : subdirectories) {
        const std::string subBelow = joined(below, name);
        const std::string subPath = joined_path(dir->path(), name);
        if (excluded(name, subBelow) || configs.excludes_folder(subPath)) continue;
        if (const auto sub = dir->open_subdirectory(name, failure)) read_settings_below(sub, subBelow, configs);
    }
}

}  // namespace

void read_settings_files(const std::string& dirPath, ConfigLookup& configs) {
    IoFailure failure;
    if (path_too_long(joined_path(dirPath, "*.map"))) return;
    if (const auto root = Directory::open_root(dirPath, failure)) read_settings_below(root, std::string(), configs);
}
