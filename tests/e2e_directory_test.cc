// Directory targets and runs without a target, end to end.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <vector>

#include "program_run.h"

namespace {

const char kNoisy[] = "a 1.9999999\n";
const char kClean[] = "a 2\n";

class Directory : public ::testing::Test {
protected:
    TempDir dir;
    // An entry as the program names it in a run on the directory.
    std::string entry(const std::string& name) const { return dir.native() + native_separator() + name; }
    std::string path(const std::string& name) const { return dir.file(name); }
    std::string report(const std::string& name, int edits) const {
        return "File: " + entry(name) + "  Edits: " + std::to_string(edits) + "  Time: T seconds\n";
    }
};

TEST_F(Directory, ProcessesOnlyMapFilesInNameOrder) {
    write_file(path("c.map"), kNoisy);
    write_file(path("a.map"), kNoisy);
    write_file(path("b.txt"), kNoisy);
    write_file(path("D.MAP"), kNoisy);     // letter case does not matter
    write_file(path(".hidden.map"), kNoisy);
    write_file(path("e.map.bak"), kNoisy);
    std::filesystem::create_directory(path("sub"));
    write_file(path("sub/f.map"), kNoisy);  // not recursive

    const ProgramRun run = run_mapclean({"-s", dir.native()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "Not searched: 1 subdirectory of " + dir.native() + "; -r cleans it too\n");
    // POSIX runs sort names by bytes; Windows keeps its enumeration's own
    // order, which is by name without regard to case.
    const auto names = target_is_windows()
                           ? std::vector<std::string>{".hidden.map", "a.map", "c.map", "D.MAP"}
                           : std::vector<std::string>{".hidden.map", "D.MAP", "a.map", "c.map"};
    std::string expected;
    for (const std::string& name : names) {
        expected += report(name, 1) + "Changes saved to '" + entry(name) + "'.\n";
    }
    EXPECT_EQ(mask_times(run.out), expected + "Overall processing time: T seconds\n");
    EXPECT_EQ(read_file(path("b.txt")), kNoisy);
    EXPECT_EQ(read_file(path("e.map.bak")), kNoisy);
    EXPECT_EQ(read_file(path("sub/f.map")), kNoisy);
    EXPECT_EQ(read_file(path("a.map")), kClean);
}

TEST_F(Directory, NoMatchIsReportedOnStderr) {
    write_file(path("notes.txt"), "1.9999999");
    ProgramRun run = run_mapclean({dir.native()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "No .map files found in directory: " + dir.native() + "\n");

    run = run_mapclean({"-s"}, {.cwd = dir.path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "No .map files found in directory: " +
                           native_path(std::filesystem::canonical(dir.path()).string()) + "\n");

    // Maps kept only in subfolders: the line says how to reach them.
    std::filesystem::create_directory(path("q1"));
    write_file(path("q1/x.map"), kNoisy);
    run = run_mapclean({dir.native()});
    EXPECT_EQ(run.err, "No .map files found in directory: " + dir.native() + " (its subdirectories are searched with -r)\n");
    EXPECT_EQ(read_file(path("q1/x.map")), kNoisy);
}

TEST_F(Directory, ADirectoryAndAnEntryAreJoinedWithOneSeparator) {
    std::filesystem::create_directories(path("maps/q1"));
    write_file(path("maps/q1/x.map"), kNoisy);
    const std::string below = std::string("q1") + native_separator() + "x.map";
    ProgramRun run = run_mapclean({"-check", "-github", "-r", "maps/"}, {.cwd = dir.path()});
    EXPECT_EQ(mask_times(run.out), "File: maps/" + below + "  Edits: 1  Time: T seconds\n::warning file=maps/" + below +
                                       ",line=1,title=mapclean::1 number would be rewritten: '1.9999999' -> '2'\n"
                                       "Overall processing time: T seconds\n1 of 1 files would change\n");
    // Otherwise the target stays as written.
    run = run_mapclean({"-list", "-r", "./maps", "maps//"}, {.cwd = dir.path()});
    EXPECT_EQ(run.out, std::string(".") + "/maps" + native_separator() + below + "\nmaps//" + below + "\n");
}

TEST_F(Directory, NoTargetMeansTheCurrentDirectory) {
    write_file(path("a.map"), kNoisy);
    const std::string cwd = native_path(std::filesystem::canonical(dir.path()).string());
    const std::string map = cwd + native_separator() + "a.map";
    const ProgramRun run = run_mapclean({"-s"}, {.cwd = dir.path()});
    EXPECT_EQ(mask_times(run.out),
              "No target specified. Processing .map files in current directory: " + cwd + "\n" +
                  "File: " + map + "  Edits: 1  Time: T seconds\n" + "Changes saved to '" + map +
                  "'.\nOverall processing time: T seconds\n");
    EXPECT_EQ(read_file(path("a.map")), kClean);
}

TEST_F(Directory, EntryThatIsNoFileIsReportedAndTheBatchGoesOn) {
    write_file(path("a.map"), kNoisy);
    std::filesystem::create_directory(path("b.map"));
    ASSERT_EQ(::mkfifo(path("c.map").c_str(), 0644), 0);
    write_file(path("d.map"), kNoisy);
    // One stream for both: the error lines must stand where they happened.
    const ProgramRun run = run_mapclean({"-s", dir.native()}, {.mergeStderr = true, .timeoutMs = 20000});
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(masked_reasons(mask_times(run.out)),
              report("a.map", 1) + "Changes saved to '" + entry("a.map") + "'.\n" +
                  error_line("Error opening file: " + entry("b.map"), "Is a directory") +
                  error_line("Error opening file: " + entry("c.map"), "not a regular file") + report("d.map", 1) +
                  "Changes saved to '" + entry("d.map") + "'.\nNot searched: 1 subdirectory of " + dir.native() +
                  "; -r cleans it too\nOverall processing time: T seconds\n");
}

TEST_F(Directory, TheRestOfAnAnswerLineIsConsumed) {
    write_file(path("a.map"), kNoisy);
    write_file(path("b.map"), kNoisy);
    // "n" answers a.map; "Y" on the same line must not answer b.map.
    const ProgramRun run = run_mapclean({dir.native()}, {.input = "nY\nn\n"});
    EXPECT_EQ(read_file(path("a.map")), kNoisy);
    EXPECT_EQ(read_file(path("b.map")), kNoisy);
    EXPECT_NE(run.out.find("Changes not saved for '" + entry("b.map") + "'."), std::string::npos);

    run_mapclean({dir.native()}, {.input = "yes\ny\n"});
    EXPECT_EQ(read_file(path("a.map")), kClean);
    EXPECT_EQ(read_file(path("b.map")), kClean);
}

TEST_F(Directory, PauseReadsOneCharacterAndLeavesTheNewline) {
    write_file(path("a.map"), "x 5\n");
    write_file(path("b.map"), kNoisy);
    // 'x' ends a.map's pause; its newline is then b.map's answer: no.
    const ProgramRun run = run_mapclean({dir.native()}, {.input = "x\ny\n"});
    EXPECT_EQ(mask_times(run.out),
              report("a.map", 0) + "Press any key to continue for '" + entry("a.map") + "'..." +
                  report("b.map", 1) + "Press Y to commit changes to '" + entry("b.map") + "': " +
                  "Changes not saved for '" + entry("b.map") + "'.\n" +
                  "Overall processing time: T seconds\n");
    EXPECT_EQ(read_file(path("b.map")), kNoisy);

    // A lone Enter at the pause is consumed whole.
    run_mapclean({dir.native()}, {.input = "\ny\n"});
    EXPECT_EQ(read_file(path("b.map")), kClean);
}

TEST_F(Directory, OnATerminalOneKeyEndsThePauseAndNothingTypedWithItAnswersTheQuestion) {
    if (target_is_windows()) GTEST_SKIP() << "needs a POSIX terminal";
    if (std::system("script --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "script (util-linux) is not installed";
    const std::string pause = "Press any key to continue for '" + entry("a.map") + "'...";
    const std::string question = "Press Y to commit changes to '" + entry("b.map") + "': ";
    // A key alone, a key sent together with an Enter, an arrow key.
    for (const std::string key : {"x", "x\r", "\x1b[A"}) {
        write_file(path("a.map"), "x 5\n");
        write_file(path("b.map"), kNoisy);
        // script(1) runs the program on a terminal; what is sent to script
        // reaches it as typed keys.
        Child child({dir.native()}, {.wrapper = {"sh", "-c", "exec script -qec \"$*\" /dev/null", "sh"}});
        ASSERT_TRUE(child.wait_for_output_end(pause, 20000)) << child.output();
        child.send(key);
        ASSERT_TRUE(child.wait_for_output_end(question, 20000)) << child.output();
        // The question waits for its own answer, which saves.
        child.send("y\r");
        const ProgramRun run = child.finish(20000);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.out.find("Changes not saved"), std::string::npos) << run.out;
        EXPECT_EQ(read_file(path("b.map")), kClean) << "after " << key;
    }
}

// Creates directories below `deep` until its native path is `length` long.
std::string grow_directory(std::string deep, size_t length, char fill) {
    while (native_path(deep).size() < length) {
        const size_t missing = length - native_path(deep).size();
        // Each level adds a separator and up to 60 characters; never leave 1.
        const size_t part = missing <= 61 ? missing - 1 : (missing == 62 ? 30 : 60);
        deep.append(1, '/').append(std::max<size_t>(part, 1), fill);
        std::filesystem::create_directory(deep);
    }
    return deep;
}

// Windows calls take paths of at most 259 characters: a longer one is
// reported and skipped, never cut short (which could name another file).
// POSIX has no such limit.
TEST_F(Directory, PathsLongerThanWindowsTakes) {
    // The directory's pattern fits; one entry's path does not.
    const std::string deep = grow_directory(dir.path(), 230, 'd');
    const std::string longName = std::string(40, 'n') + ".map";
    write_file(deep + "/" + longName, kNoisy);
    write_file(deep + "/b.map", kNoisy);
    const std::string native = native_path(deep);
    const ProgramRun run = run_mapclean({"-s", native}, {.mergeStderr = true});
    EXPECT_EQ(run.status, target_is_windows() ? 2 : 0);
    const std::string longEntry = native + native_separator() + longName;
    const std::string shortEntry = native + native_separator() + "b.map";
    if (target_is_windows()) {
        EXPECT_EQ(mask_times(run.out), "File: " + shortEntry + "  Edits: 1  Time: T seconds\n"
                                       "Changes saved to '" + shortEntry + "'.\n"
                                       "Path too long: " + longEntry + "\n"
                                       "Overall processing time: T seconds\n");
        EXPECT_EQ(read_file(deep + "/" + longName), kNoisy);
    } else {
        EXPECT_NE(run.out.find("File: " + longEntry + "  Edits: 1"), std::string::npos) << run.out;
        EXPECT_EQ(read_file(deep + "/" + longName), kClean);
    }
    EXPECT_EQ(read_file(deep + "/b.map"), kClean);
}

TEST_F(Directory, DirectoryPathsLongerThanWindowsTakes) {
    // 256 characters fit, but not with "\\*.map" after them.
    const std::string justFits = grow_directory(dir.path(), 256, 'p');
    write_file(justFits + "/c.map", kNoisy);
    const ProgramRun run = run_mapclean({"-s", native_path(justFits)});
    // 300 characters: the target itself does not fit.
    const std::string tooLong = grow_directory(justFits, 300, 't');
    write_file(tooLong + "/c.map", kNoisy);
    const ProgramRun deeper = run_mapclean({"-s", native_path(tooLong)});
    if (target_is_windows()) {
        EXPECT_EQ(run.err, "Path too long: " + native_path(justFits) + "\\*.map\n");
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(read_file(justFits + "/c.map"), kNoisy);
        EXPECT_EQ(deeper.err, "Path too long: " + native_path(tooLong) + "\n");
        EXPECT_EQ(deeper.out, "");
        EXPECT_EQ(read_file(tooLong + "/c.map"), kNoisy);
    } else {
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(read_file(justFits + "/c.map"), kClean);
        EXPECT_EQ(deeper.err, "");
        EXPECT_EQ(read_file(tooLong + "/c.map"), kClean);
    }
}

}  // namespace
