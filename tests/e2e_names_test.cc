// Names in any script: every name the file system holds is a target, a
// directory entry, a saved file and a printed name, in the same UTF-8 bytes
// on every platform (Windows converts them to and from its wide names).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "program_run.h"

namespace {

const char* const kNames[] = {"карта.map", "名前.map", "Ünïcode räum.map"};
const char kNoisy[] = "a 1.0000001\n";
const char kClean[] = "a 1\n";

class Names : public ::testing::Test {
protected:
    TempDir dir;
    // Wine reads the arguments, and the names of the Unix side, in the
    // locale's character set.
    RunOptions options(bool mergeStderr = false) const {
        return {.cwd = dir.path(), .mergeStderr = mergeStderr, .wrapper = {"env", "LC_ALL=C.UTF-8"}};
    }
    void write_maps() const {
        for (const char* name : kNames) write_file(dir.file(name), kNoisy);
    }
};

TEST_F(Names, NamesInAnyScriptAreCheckedListedAndSaved) {
    write_maps();
    const std::vector<std::string> names(std::begin(kNames), std::end(kNames));

    std::vector<std::string> args = {"-check"};
    args.insert(args.end(), names.begin(), names.end());
    ProgramRun run = run_mapclean(args, options());
    EXPECT_EQ(run.status, 1) << run.err;
    std::string reports;
    for (const std::string& name : names) reports += "File: " + name + "  Edits: 1  Time: T seconds\n";
    EXPECT_EQ(mask_times(run.out), reports + "3 of 3 files would change\n");

    // The bytes of a list for xargs -0 are the same on every platform.
    args[0] = "-list";
    args.insert(args.begin() + 1, "-z");
    RunOptions raw = options();
    raw.rawOutput = true;
    run = run_mapclean(args, raw);
    std::string listed;
    for (const std::string& name : names) listed.append(name).append(1, '\0');
    EXPECT_EQ(run.out, listed);

    // A directory run finds each, saves it and names it.
    run = run_mapclean({"-s", "."}, options());
    EXPECT_EQ(run.status, 0) << run.err;
    for (const std::string& name : names) {
        const std::string shown = std::string(".") + native_separator() + name;
        EXPECT_NE(run.out.find("Changes saved to '" + shown + "'."), std::string::npos) << run.out;
        EXPECT_EQ(read_file(dir.file(name)), kClean) << name;
    }
}

TEST_F(Names, WindowsExpandsWildcardsAndItsConsoleShowsTheNames) {
    if (!target_is_windows()) GTEST_SKIP() << "POSIX shells expand wildcards, and terminals take bytes";
    write_maps();
    const ProgramRun run = run_mapclean({"-list", "*.map"}, options());
    EXPECT_EQ(run.status, 1);
    for (const char* name : kNames) EXPECT_NE(run.out.find(std::string(name) + "\n"), std::string::npos) << run.out;

    if (std::system("script --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "script (util-linux) is not installed";
    // script(1) gives the program a terminal, which Wine makes its console;
    // a console that is not the input does not pause at the end.
    const ProgramRun console = run_mapclean(
        {"-check", kNames[0]},
        {.cwd = dir.path(),
         .wrapper = {"env", "LC_ALL=C.UTF-8", "sh", "-c", "exec script -qec \"$* </dev/null\" /dev/null", "sh"}});
    EXPECT_NE(console.out.find(std::string("File: ") + kNames[0] + "  Edits: 1"), std::string::npos) << console.out;
}

}  // namespace
