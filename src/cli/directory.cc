#include "cli/directory.h"

#include <chrono>
#include <cstdio>
#include <optional>

#include "cli/platform.h"
#include "filepass/settings.h"
#include "filepass/console.h"
#include "filepass/file_pass.h"

namespace {

// Reports a path the platform cannot take whole; a shortened one would name
// other files.
bool path_fits(const std::string& path) {
    if (path.size() <= max_path_length()) return true;
    print_error("Path too long: %s\n", path.c_str());
    return false;
}

// The directory a run was given, which its entries must not reach past.
struct TreeRoot {
    std::string name;                // as the run names it
    std::optional<std::string> real; // resolved; nullopt when it cannot be
};

// True, after saying so, when `path` is a link whose target lies outside
// `root`: a map pack from elsewhere must not make the run rewrite files
// beyond it. A dangling link is left to the file pass, which cannot open it.
bool links_outside(const std::string& path, const TreeRoot& root) {
    if (!is_link(path)) return false;
    const auto target = real_path(path);
    if (!target || (root.real && path_is_within(*target, *root.real))) return false;
    print_error("Skipped '%s': it links outside '%s'\n", path.c_str(), root.name.c_str());
    return true;
}

// The files of one directory, whose pattern fits, then (recursive) those
// below it; adds to `totalEdits` and `tally`, and returns how many entries
// matched.
int64_t process_tree(const std::string& dirPath, const TreeRoot& root, int promptForCommit,
                     bool recursive, int64_t& totalEdits, RunTally& tally) {
    int64_t matched = 0;
    if (const auto names = list_map_files(dirPath)) {
        for (const std::string& name : *names) {
            ++matched;
            const std::string fullPath = dirPath + path_separator() + name;
            if (!path_fits(fullPath) || links_outside(fullPath, root)) continue;
            const int64_t fileEdits = process_file(fullPath, promptForCommit, tally);
            if (fileEdits >= 0) totalEdits += fileEdits;
        }
    }
    if (recursive) {
        for (const std::string& name : list_subdirectories(dirPath)) {
            const std::string subPath = dirPath + path_separator() + name;
            if (!path_fits(subPath + path_separator() + "*.map")) continue;
            matched += process_tree(subPath, root, promptForCommit, recursive, totalEdits, tally);
        }
    }
    return matched;
}

// The progress lines of a directory run (the current directory named, the
// overall time): not with -quiet, and not where stdout carries only paths
// or diffs.
bool shows_progress() { return !g_quiet && (g_review == Review::none || g_review == Review::check); }

}  // namespace

int64_t process_directory(const std::string& dirPath, int promptForCommit, RunTally& tally) {
    if (!path_fits(dirPath + path_separator() + "*.map")) return 0;
    int64_t totalEdits = 0;
    const auto overallStart = std::chrono::steady_clock::now();
    const TreeRoot root{dirPath, real_path(dirPath)};
    if (process_tree(dirPath, root, promptForCommit, g_recursive != 0, totalEdits, tally) == 0) {
        print_error("No .map files found in directory: %s\n", dirPath.c_str());
        return 0;
    }
    const std::chrono::duration<double> elapsedSec =
        std::chrono::steady_clock::now() - overallStart;
    if (shows_progress()) std::printf("Overall processing time: %.3f seconds\n", elapsedSec.count());
    return totalEdits;
}

int64_t process_current_directory(int promptForCommit, RunTally& tally) {
    const auto currentDir = current_directory();
    if (!currentDir) {
        print_error("Error reading the current directory\n");
        return 0;
    }
    if (shows_progress()) {
        std::printf("No target specified. Processing .map files in current directory: %s\n",
                    currentDir->c_str());
    }
    return process_directory(*currentDir, promptForCommit, tally);
}
