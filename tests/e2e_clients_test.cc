// The programs that run mapclean for its users, each the real one: pre-commit
// with the shipped hooks, git with a clean filter, Vim with a filter command.
// A test whose client is missing says so and is skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "program_run.h"

namespace {

// Two maps that need two designed passes, and a clean one.
const char kNoisyA[] = "( 1.99900001 0 64 ) ( 0 0 64 ) ( 0 1 64 ) wall 0 0 0 1 1\n";
const char kNoisyB[] = "\"origin\" \"92.74999999980000001 0 24\"\r\n";
const char kCleanC[] = "( 0 0 0 ) ( 1 0 0 ) ( 0 1 0 ) floor 0 0 0 1 1\n";
const char kCleanA[] = "( 2 0 64 ) ( 0 0 64 ) ( 0 1 64 ) wall 0 0 0 1 1\n";
const char kCleanB[] = "\"origin\" \"92.75 0 24\"\r\n";

class Clients : public ::testing::Test {
protected:
    void SetUp() override {
        if (target_is_windows()) GTEST_SKIP() << "the clients run the POSIX build";
    }
    // Runs `script` with sh in the directory, "$1" being the program under test.
    ProgramRun shell(const std::string& script) {
        return run_mapclean({}, {.cwd = dir.path(), .mergeStderr = true, .timeoutMs = 300000,
                                 .wrapper = {"sh", "-c", "set -e; " + script, "sh"}});
    }
    void write_maps() {
        std::filesystem::create_directories(dir.file("repo"));
        write_file(dir.file("repo/a.map"), kNoisyA);
        write_file(dir.file("repo/b.MAP"), kNoisyB);
        write_file(dir.file("repo/c.map"), kCleanC);
    }
    TempDir dir;
    // A repository with the three maps, and "mapclean" on PATH.
    const std::string kRepo =
        "mkdir -p bin repo; ln -sf \"$1\" bin/mapclean; export PATH=\"$PWD/bin:$PATH\"; cd repo; "
        "git init -q .; git config user.email test@invalid; git config user.name test; ";
};

TEST_F(Clients, PreCommitHooksFixAndListTheNoisyMaps) {
    if (!command_installed("pre-commit") || !command_installed("git")) GTEST_SKIP() << "pre-commit or git is not installed";
    write_maps();
    // A map named like an option is a file to the hooks, never an option.
    write_file(dir.file("repo/--color=never.map"), kNoisyA);
    const std::string tryRepo = "PRE_COMMIT_HOME=\"$PWD/../cache\" pre-commit try-repo '" MAPCLEAN_SOURCE_DIR "' ";
    // The check lists exactly the noisy maps and fails, changing nothing.
    ProgramRun run = shell(kRepo + "git add .; " + tryRepo + "mapclean-check --all-files --verbose; echo pass");
    EXPECT_EQ(run.out.find("pass"), std::string::npos) << run.out;
    for (const char* listed : {"\na.map\n", "\nb.MAP\n", "\n--color=never.map\n"}) {
        EXPECT_NE(run.out.find(listed), std::string::npos) << listed << run.out;  // in pre-commit's order
    }
    EXPECT_EQ(read_file(dir.file("repo/a.map")), kNoisyA);

    // The fix fails the commit, having cleaned exactly those maps in one run.
    run = shell("cd repo; export PATH=\"$PWD/../bin:$PATH\"; " + tryRepo + "mapclean --all-files; echo pass");
    EXPECT_NE(run.out.find("files were modified by this hook"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("pass"), std::string::npos) << run.out;
    EXPECT_EQ(read_file(dir.file("repo/a.map")), kCleanA);
    EXPECT_EQ(read_file(dir.file("repo/--color=never.map")), kCleanA);
    EXPECT_EQ(read_file(dir.file("repo/b.MAP")), kCleanB);
    EXPECT_EQ(read_file(dir.file("repo/c.map")), kCleanC);

    // Both hooks run again find nothing.
    for (const char* hook : {"mapclean", "mapclean-check"}) {
        run = shell("cd repo; export PATH=\"$PWD/../bin:$PATH\"; git add .; " + tryRepo + hook + " --all-files");
        EXPECT_EQ(run.status, 0) << hook << ": " << run.out;
    }
}

// The lines of the first code block after `heading` in the README.
std::string readme_block(const std::string& heading) {
    const std::string readme = read_file(MAPCLEAN_SOURCE_DIR "/README.md");
    const size_t from = readme.find("```\n", readme.find(heading)) + 4;
    return readme.substr(from, readme.find("```", from) - from);
}

TEST_F(Clients, GitCleanFilterRecipeCleansTheMapsOfEveryClone) {
    if (!command_installed("git")) GTEST_SKIP() << "git is not installed";
    write_maps();
    // Maps committed with their noise, then the README's recipe as written.
    // Only blobs are compared: whether git status re-reads a file whose stat
    // data look unchanged depends on timing.
    const std::string recipe = readme_block("### Use as a git clean filter");
    const std::string configure = recipe.substr(0, recipe.find("\necho"));
    ASSERT_NE(configure.find("git config filter.mapclean.process \"mapclean"), std::string::npos) << recipe;
    ProgramRun run = shell(kRepo + "git add a.map b.MAP c.map; git commit -qm noisy; " + recipe +
                           "git ls-files .gitattributes; git show HEAD:a.map HEAD:b.MAP HEAD:c.map");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_NE(run.out.find(std::string(".gitattributes\n") + kCleanA + kCleanB + kCleanC), std::string::npos) << run.out;
    EXPECT_EQ(read_file(dir.file("repo/a.map")), kNoisyA);  // the work tree stays as it was

    // A teammate's clone gets the attributes; with the configuration line,
    // what they stage is stored cleaned too.
    run = shell("export PATH=\"$PWD/bin:$PATH\"; git clone -q repo team; cd team; " + configure +
                "; printf '%s' '" + kNoisyA + "' > a.map; git add a.map; git show :a.map");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out, kCleanA);
}

// git's long-running filter against its one-shot one, on a tree with
// settings, an excluded map, a map past the filter's memory (a scratch
// file then holds it) and a folder whose settings file is wrong.
TEST_F(Clients, GitProcessFilterStoresWhatTheOneShotFilterStores) {
    if (!command_installed("git")) GTEST_SKIP() << "git is not installed";
    namespace fs = std::filesystem;
    fs::create_directories(dir.file("tree/q3/skip"));
    fs::create_directories(dir.file("tree/bad"));
    for (int i = 0; i < 40; ++i) {
        write_file(dir.file("tree/m" + std::to_string(i) + ".map"), i % 2 ? kNoisyA : kNoisyB);
        write_file(dir.file("tree/q3/m" + std::to_string(i) + ".MAP"), i % 3 ? kNoisyB : kCleanC);
    }
    write_file(dir.file("tree/q3/.mapclean.toml"), "precision = 1\nexclude = [\"skip\"]\n");
    write_file(dir.file("tree/q3/skip/kept.map"), kNoisyA);
    write_file(dir.file("tree/bad/.mapclean.toml"), "precision = \"some\"\n");
    write_file(dir.file("tree/bad/left.map"), kNoisyA);
    std::string big;
    while (big.size() < (9u << 20)) big += kNoisyA;
    write_file(dir.file("tree/big.map"), big);
    // A text refused midway: a line past what -only reads whole.
    fs::create_directories(dir.file("tree/long"));
    write_file(dir.file("tree/long/.mapclean.toml"), "only = \"planes\"\n");
    write_file(dir.file("tree/long/line.map"), std::string(1100000, '1') + " 0.30000000000000004\n");
    const std::string setup = "mkdir -p bin; ln -sf \"$1\" bin/mapclean; export PATH=\"$PWD/bin:$PATH\"; ";
    const std::string attributes = "echo '*.[mM][aA][pP] filter=mapclean' > .gitattributes; ";
    // The blobs each stores, and what git said.
    ProgramRun once = shell(setup + "cp -r tree once; cd once; git init -q; " + attributes +
                            "git config filter.mapclean.clean 'mapclean -quiet -stable -stdin-filename %f -'; "
                            "git add -A 2>&1; git ls-files -s");
    ProgramRun process = shell(setup + "cp -r tree process; cd process; git init -q; " + attributes +
                               "git config filter.mapclean.process 'mapclean -quiet -stable -git-filter'; "
                               "GIT_TRACE_PACKET=0 git add -A 2>../errors; git ls-files -s");
    ASSERT_EQ(once.status, 0) << once.out;
    ASSERT_EQ(process.status, 0) << process.out;
    const std::string listing = process.out;
    EXPECT_EQ(listing, once.out.substr(once.out.find("100644")));  // after the one-shot filter's error lines
    const std::string errors = read_file(dir.file("errors"));
    EXPECT_NE(errors.find("Error: bad/left.map is not cleaned: bad/.mapclean.toml:1: precision must be a whole "
                          "number or \"auto\"\n"), std::string::npos) << errors;
    EXPECT_NE(errors.find("long/line.map"), std::string::npos) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 2) << errors;
    // Cleaned (with q3's settings), passed through, and left as it was.
    ProgramRun shown = shell("cd process; git show :m1.map :q3/m1.MAP :q3/skip/kept.map :bad/left.map; "
                             "git show :big.map | wc -c");
    EXPECT_EQ(shown.out, std::string(kCleanA) + "\"origin\" \"92.7 0 24\"\r\n" + kNoisyA + kNoisyA +
                             std::to_string(big.size() / (sizeof kNoisyA - 1) * (sizeof kCleanA - 1)) + "\n");

    // Made required, the wrong settings stop the command, naming the map.
    const ProgramRun required = shell(setup + "cd process; git config filter.mapclean.required true; "
                                      "cp bad/left.map bad/new.map; "
                                      "if git add bad/new.map; then echo stored; else echo refused; fi");
    EXPECT_NE(required.out.find("bad/new.map: clean filter 'mapclean' failed\n"), std::string::npos) << required.out;
    EXPECT_NE(required.out.find("\nrefused\n"), std::string::npos) << required.out;
}

// Two branches each move another brush of a map whose noise their editors
// wrote differently, on a map committed before the filter: with the
// README's merge setting the merge resolves and stores clean text; without
// it, every line of the map conflicts.
TEST_F(Clients, GitMergeOfTheSameMapResolvesWithTheRecipe) {
    if (!command_installed("git")) GTEST_SKIP() << "git is not installed";
    const auto map = [](const char* noise, const char* first, const char* second) {
        return std::string("{\n( 0 0 ") + first + " ) ( 1 0 " + noise + " ) ( 0 1 0 ) wall 0 0 0 1 1\n}\n"
               "{\n\"classname\" \"light\"\n}\n{\n( 64 0 " + second + " ) ( 1 0 " + noise +
               " ) ( 0 1 0 ) floor 0 0 0 1 1\n}\n";
    };
    std::filesystem::create_directories(dir.file("repo"));
    write_file(dir.file("repo/room.map"), map("0.30000000000000004", "0.30000000000000004", "0.30000000000000004"));
    write_file(dir.file("moved-first.map"), map("0.29999999999999999", "16.300000000000001", "0.29999999999999999"));
    write_file(dir.file("moved-second.map"), map("0.30000000000000001", "0.30000000000000001", "8.2999999999999998"));
    std::string recipe = readme_block("### Use as a git clean filter");
    recipe = recipe.substr(0, recipe.find("\necho"));
    const std::string branches =
        "git commit -qam base; " + recipe + "; echo '*.map filter=mapclean' > .gitattributes; "
        "git add .gitattributes; git commit -qm attributes; git branch second; "
        "cp ../moved-first.map room.map; git commit -qam first; git checkout -q second; "
        "cp ../moved-second.map room.map; git commit -qam second; git checkout -q master 2>/dev/null || "
        "git checkout -q main; ";
    ProgramRun run = shell(kRepo + "git add room.map; " + branches +
                           "git merge -q --no-edit second >/dev/null && git show HEAD:room.map");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out, map("0.3", "16.3", "8.3"));

    run = shell("export PATH=\"$PWD/bin:$PATH\"; cd repo; git reset -q --hard HEAD~1; "
                "git -c merge.renormalize=false merge -q --no-edit second >/dev/null || echo conflict");
    EXPECT_NE(run.out.find("conflict"), std::string::npos) << run.out;
}

TEST_F(Clients, VimFiltersTheBufferThroughMapclean) {
    const std::string vim = command_installed("vim") ? "vim" : command_installed("vim.tiny") ? "vim.tiny" : "";
    if (vim.empty()) GTEST_SKIP() << "vim (or vim-tiny) is not installed";
    write_maps();
    // As a user's Vim runs (not compatible): the filter's stderr would land
    // in the buffer, so the quiet run is what keeps the map whole.
    const ProgramRun run = shell("mkdir -p bin; ln -sf \"$1\" bin/mapclean; export PATH=\"$PWD/bin:$PATH\"; " + vim +
                                 " -N -Es -u NONE -i NONE -c '%!mapclean -quiet -stable -stdin-filename %:S -' -c wq repo/a.map");
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(read_file(dir.file("repo/a.map")), kCleanA);
}

}  // namespace
