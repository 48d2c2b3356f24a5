// The programs that run mapclean for its users, each the real one: pre-commit
// with the shipped hooks, git with a clean filter, Vim with a filter command.
// A test whose client is missing says so and is skipped.
#include <gtest/gtest.h>

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
    const std::string configure = recipe.substr(0, recipe.find('\n'));
    ASSERT_EQ(configure.rfind("git config filter.mapclean.clean", 0), 0u) << recipe;
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
