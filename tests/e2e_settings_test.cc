// A repository's settings file, obeyed alike by every way of running
// mapclean: a directory run from its root, from a folder below and by
// absolute path, files named one at a time, the filter with
// -stdin-filename, pre-commit's hook and git's clean filter.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "program_run.h"

namespace {

// Cleaned differently by every setting below: a two-pass plane number, a
// plane number and a texture offset.
const char kNoisy[] = "( 1.99900001 0.30000000000000004 64 ) ( 0 0 64 ) ( 0 1 64 ) wall 0.5000001 0 0 1 1\n";
const char* const kMaps[] = {"a.map", "q3/b.map", "linker/c.map", "sub/d.map", "ext/e.map"};

class Settings : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* folder : {"repo/q3", "repo/linker", "repo/sub", "repo/ext", "bin"}) {
            std::filesystem::create_directories(dir.file(folder));
        }
        write_file(dir.file("repo/.mapclean.toml"),
                   "stable = true\nexclude = [\"linker\"]\n\n[[overrides]]\nfiles = [\"q3/**\"]\nprecision = 0\n");
        write_file(dir.file("repo/sub/.mapclean.toml"), "only = \"texture\"\n");  // the nearest file wins whole
        write_file(dir.file("repo/ext/.mapclean.toml"), "extend = \"../.mapclean.toml\"\nonly = [\"planes\"]\n");
        reset_maps();
    }
    void reset_maps() {
        for (const char* map : kMaps) write_file(dir.file(std::string("repo/") + map), kNoisy);
    }
    // Runs `script` with sh in the repository, "$1" being the program
    // under test, also on PATH as mapclean.
    ProgramRun shell(const std::string& script) {
        return run_mapclean({}, {.cwd = dir.file("repo"), .mergeStderr = true, .timeoutMs = 300000,
                                 .wrapper = {"sh", "-c",
                                             "set -e; ln -sf \"$1\" ../bin/mapclean; export PATH=\"$PWD/../bin:$PATH\"; "
                                             "git init -q . 2>/dev/null; git config user.email t@invalid; "
                                             "git config user.name t; " + script,
                                             "sh"}});
    }
    // Every map's text, in kMaps' order.
    std::string maps() {
        std::string all;
        for (const char* map : kMaps) all += read_file(dir.file(std::string("repo/") + map));
        return all;
    }
    // kNoisy as the filter cleans it with no settings file and `options`.
    std::string cleaned(std::vector<std::string> options) {
        options.insert(options.begin(), "-no-config");
        options.insert(options.end(), {"-quiet", "-"});
        return run_mapclean(options, {.input = kNoisy}).out;
    }
    TempDir dir;
};

TEST_F(Settings, EveryWayOfRunningGivesEachMapItsNearestFilesSettings) {
    if (target_is_windows()) GTEST_SKIP() << "the shell and the clients run the POSIX build";
    // root: settled; q3: settled at 0 decimals; linker: left out; sub: its
    // own file alone (texture only); ext: the root's keys and planes only.
    const std::string expected = cleaned({"-stable"}) + cleaned({"-stable", "-p", "0"}) + kNoisy +
                                 cleaned({"-only", "texture"}) + cleaned({"-stable", "-only", "planes"});
    ASSERT_EQ(cleaned({"-p", "0"}), "( 2 0 64 ) ( 0 0 64 ) ( 0 1 64 ) wall 1 0 0 1 1\n");  // the oracle works
    const std::string named = "for f in a.map q3/b.map linker/c.map sub/d.map ext/e.map; do ";
    const std::string ways[] = {
        "\"$1\" -s -quiet -r .",
        "cd sub; \"$1\" -s -quiet -r ..",
        "\"$1\" -s -quiet -r \"$PWD\"",
        named + "\"$1\" -s -quiet \"$f\"; done",
        named + "\"$1\" -quiet -stdin-filename \"$f\" - < \"$f\" > out; cat out > \"$f\"; done",
        named + "(cd \"$(dirname \"$f\")\" && \"$1\" -s -quiet \"$PWD/$(basename \"$f\")\"); done",
    };
    for (const std::string& way : ways) {
        reset_maps();
        const ProgramRun run = shell(way);
        EXPECT_EQ(run.status, 0) << way << ": " << run.out;
        EXPECT_EQ(maps(), expected) << way;
    }

    // A named map that a file excludes is said to be skipped; the run is as
    // if it was not named.
    reset_maps();
    ProgramRun run = shell("\"$1\" -check linker/c.map q3/b.map");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Skipped: linker/c.map (excluded by .mapclean.toml)\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("1 of 1 files would change"), std::string::npos) << run.out;
    run = shell("\"$1\" -check linker/c.map");
    EXPECT_EQ(run.status, 0) << run.out;

    // git's clean filter, as the README sets it up: the stored blobs.
    if (command_installed("git")) {
        reset_maps();
        run = shell("git config filter.mapclean.clean 'mapclean -quiet -stable -stdin-filename %f -'; "
                    "echo '*.map filter=mapclean' > .gitattributes; git add .; "
                    "for f in a.map q3/b.map linker/c.map sub/d.map ext/e.map; do git show \":$f\"; done");
        EXPECT_EQ(run.status, 0) << run.out;
        EXPECT_EQ(run.out, expected);
    }

    // pre-commit's fixing hook: every map, and one staged map alone.
    if (command_installed("pre-commit") && command_installed("git")) {
        const std::string hook = "PRE_COMMIT_HOME=\"$PWD/../cache\" pre-commit try-repo '" MAPCLEAN_SOURCE_DIR
                                 "' mapclean ";
        reset_maps();
        run = shell("git config --unset filter.mapclean.clean || true; rm -f .gitattributes; git add .; " + hook +
                    "--all-files || true");
        EXPECT_EQ(maps(), expected) << run.out;
        reset_maps();
        run = shell("git reset -q; git add q3/b.map; " + hook + "|| true");
        EXPECT_EQ(read_file(dir.file("repo/q3/b.map")), cleaned({"-stable", "-p", "0"})) << run.out;
        EXPECT_EQ(read_file(dir.file("repo/a.map")), kNoisy);
    }
}

// A drop onto the program (maps named, a question each, no option) keeps
// the designed single pass, but obeys a repository's `stable = true`: its
// maps then pass the settled check. Runs under Wine too.
TEST_F(Settings, ADropObeysTheRepositorysStableSetting) {
    for (const bool settles : {true, false}) {
        reset_maps();
        if (!settles) std::filesystem::remove(dir.file("repo/.mapclean.toml"));
        const std::string a = native_path(dir.file("repo/a.map"));
        const ProgramRun drop = run_mapclean({a}, {.input = "y\n"});
        EXPECT_EQ(drop.status, 0) << drop.out << drop.err;
        const ProgramRun check = run_mapclean({"-check", "-stable", a});
        EXPECT_EQ(check.status, settles ? 0 : 1) << (settles ? "settled" : "one pass") << ": " << check.out;
    }
}

TEST_F(Settings, OptionsWinPerKeyAndConfigOrNoConfigChooseTheFiles) {
    if (target_is_windows()) GTEST_SKIP() << "its paths are written with '/'";
    write_file(dir.file("other.toml"), "precision = 3\n");
    struct Case {
        std::vector<std::string> args;
        std::string shown;
    };
    const Case cases[] = {
        {{"-show-settings", "q3/b.map"},
         "  settings file: .mapclean.toml\n  precision = 0 (.mapclean.toml:6)\n  plain = false (default)\n"
         "  only = every field (default)\n  stable = true (.mapclean.toml:1)\n  not excluded\n"},
        {{"-p", "2", "-show-settings", "q3/b.map"},  // an option replaces one key, for every map
         "  settings file: .mapclean.toml\n  precision = 2 (option)\n  plain = false (default)\n"
         "  only = every field (default)\n  stable = true (.mapclean.toml:1)\n  not excluded\n"},
        {{"-config", "../other.toml", "-show-settings", "sub/d.map"},
         "  settings file: ../other.toml\n  precision = 3 (../other.toml:1)\n  plain = false (default)\n"
         "  only = every field (default)\n  stable = false (default)\n  not excluded\n"},
        {{"-no-config", "-show-settings", "linker/c.map"},
         "  settings file: none\n  precision = \"auto\" (default)\n  plain = false (default)\n"
         "  only = every field (default)\n  stable = false (default)\n  not excluded\n"},
        {{"-show-settings", "linker/c.map"},
         "  settings file: .mapclean.toml\n  precision = \"auto\" (default)\n  plain = false (default)\n"
         "  only = every field (default)\n  stable = true (.mapclean.toml:1)\n  excluded by \"linker\" (.mapclean.toml:2)\n"},
    };
    for (const Case& c : cases) {
        const ProgramRun run = run_mapclean(c.args, {.cwd = dir.file("repo")});
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "Settings for " + c.args.back() + "\n" + c.shown) << c.args.back();
    }
}

TEST_F(Settings, AWrongFileAnywhereInTheRunStopsItBeforeAnyMapIsTouched) {
    std::filesystem::create_directories(dir.file("repo/sub/deep"));
    write_file(dir.file("repo/sub/deep/.mapclean.toml"), "\nprecision = 2.5\n");
    const ProgramRun run = run_mapclean({"-s", "-r", "."}, {.cwd = dir.file("repo")});
    EXPECT_EQ(run.status, 1);
    std::string shown = "sub/deep/.mapclean.toml";
    std::replace(shown.begin(), shown.end(), '/', native_separator());
    EXPECT_EQ(run.err, "Error: " + shown + ":2: precision must be a whole number or \"auto\"\n");
    EXPECT_EQ(maps(), std::string(kNoisy) + kNoisy + kNoisy + kNoisy + kNoisy);
}

}  // namespace
