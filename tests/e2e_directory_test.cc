// Directory targets and runs without a target, end to end.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "program_run.h"

namespace {

const char kNoisy[] = "a 1.9999999\n";
const char kClean[] = "a 2\n";

class Directory : public ::testing::Test {
protected:
    TempDir dir;
    std::string path(const std::string& name) const { return dir.path() + "/" + name; }
    std::string report(const std::string& name, int edits) const {
        return "File: " + path(name) + "  Edits: " + std::to_string(edits) + "  Time: T seconds\n";
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

    const ProgramRun run = run_mapclean({"-s", dir.path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    std::string expected;
    for (const char* name : {".hidden.map", "D.MAP", "a.map", "c.map"}) {
        expected += report(name, 1) + "Changes saved to '" + path(name) + "'.\n";
    }
    EXPECT_EQ(mask_times(run.out), expected + "Overall processing time: T seconds\n");
    EXPECT_EQ(read_file(path("b.txt")), kNoisy);
    EXPECT_EQ(read_file(path("e.map.bak")), kNoisy);
    EXPECT_EQ(read_file(path("sub/f.map")), kNoisy);
    EXPECT_EQ(read_file(path("a.map")), kClean);
}

TEST_F(Directory, NoMatchIsReportedOnStderr) {
    write_file(path("notes.txt"), "1.9999999");
    ProgramRun run = run_mapclean({dir.path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "No .map files found in directory: " + dir.path() + "\n");

    run = run_mapclean({"-s"}, {.cwd = dir.path()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "No .map files found in directory: " +
                           std::filesystem::canonical(dir.path()).string() + "\n");
}

TEST_F(Directory, NoTargetMeansTheCurrentDirectory) {
    write_file(path("a.map"), kNoisy);
    const std::string cwd = std::filesystem::canonical(dir.path()).string();
    const ProgramRun run = run_mapclean({"-s"}, {.cwd = dir.path()});
    EXPECT_EQ(mask_times(run.out),
              "No target specified. Processing .map files in current directory: " + cwd + "\n" +
                  "File: " + cwd + "/a.map  Edits: 1  Time: T seconds\n" + "Changes saved to '" +
                  cwd + "/a.map'.\nOverall processing time: T seconds\n");
    EXPECT_EQ(read_file(path("a.map")), kClean);
}

TEST_F(Directory, EntryThatIsNoFileIsReportedAndTheBatchGoesOn) {
    write_file(path("a.map"), kNoisy);
    std::filesystem::create_directory(path("b.map"));
    ASSERT_EQ(::mkfifo(path("c.map").c_str(), 0644), 0);
    write_file(path("d.map"), kNoisy);
    // One stream for both: the error lines must stand where they happened.
    const ProgramRun run = run_mapclean({"-s", dir.path()}, {.mergeStderr = true, .timeoutMs = 20000});
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(mask_times(run.out), report("a.map", 1) + "Changes saved to '" + path("a.map") + "'.\n" +
                                       "Error opening file: " + path("b.map") + "\n" +
                                       "Error opening file: " + path("c.map") + "\n" +
                                       report("d.map", 1) + "Changes saved to '" + path("d.map") +
                                       "'.\nOverall processing time: T seconds\n");
}

TEST_F(Directory, TheRestOfAnAnswerLineIsConsumed) {
    write_file(path("a.map"), kNoisy);
    write_file(path("b.map"), kNoisy);
    // "n" answers a.map; "Y" on the same line must not answer b.map.
    const ProgramRun run = run_mapclean({dir.path()}, {.input = "nY\nn\n"});
    EXPECT_EQ(read_file(path("a.map")), kNoisy);
    EXPECT_EQ(read_file(path("b.map")), kNoisy);
    EXPECT_NE(run.out.find("Changes not saved for '" + path("b.map") + "'."), std::string::npos);

    const ProgramRun yes = run_mapclean({dir.path()}, {.input = "yes\ny\n"});
    EXPECT_EQ(read_file(path("a.map")), kClean);
    EXPECT_EQ(read_file(path("b.map")), kClean);
}

TEST_F(Directory, PauseReadsOneCharacterAndLeavesTheNewline) {
    write_file(path("a.map"), "x 5\n");
    write_file(path("b.map"), kNoisy);
    // 'x' ends a.map's pause; its newline is then b.map's answer: no.
    const ProgramRun run = run_mapclean({dir.path()}, {.input = "x\ny\n"});
    EXPECT_EQ(mask_times(run.out),
              report("a.map", 0) + "Press any key to continue for '" + path("a.map") + "'..." +
                  report("b.map", 1) + "Press Y to commit changes to '" + path("b.map") + "': " +
                  "Changes not saved for '" + path("b.map") + "'.\n" +
                  "Overall processing time: T seconds\n");
    EXPECT_EQ(read_file(path("b.map")), kNoisy);

    // A lone Enter at the pause is consumed whole.
    run_mapclean({dir.path()}, {.input = "\ny\n"});
    EXPECT_EQ(read_file(path("b.map")), kClean);
}

}  // namespace
