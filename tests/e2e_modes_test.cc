// Check mode, the filter and recursion, end to end.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "program_run.h"

namespace {

namespace fs = std::filesystem;

const char kNoisy[] = "a 1.9999999\n";
const char kClean[] = "a 2\n";

class Modes : public ::testing::Test {
protected:
    TempDir dir;
    std::string entry(const std::string& relative) const {
        std::string path = dir.native() + native_separator() + relative;
        if (target_is_windows()) std::replace(path.begin(), path.end(), '/', '\\');
        return path;
    }
    std::string report(const std::string& relative, int edits) const {
        return "File: " + entry(relative) + "  Edits: " + std::to_string(edits) + "  Time: T seconds\n";
    }
};

TEST_F(Modes, CheckReportsWritesNothingAndSaysByItsStatus) {
    write_file(dir.file("a.map"), kClean);
    write_file(dir.file("b.map"), kNoisy);
    const auto mtime = fs::last_write_time(dir.file("b.map"));

    ProgramRun run = run_mapclean({"-check", "-verbose", dir.native()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(mask_times(run.out), report("a.map", 0) + "Changed: '1.9999999' -> '2' (line 1)\n" +
                                       report("b.map", 1) + "Overall processing time: T seconds\n" +
                                       "1 of 2 files would change\n");
    EXPECT_EQ(read_file(dir.file("b.map")), kNoisy);
    EXPECT_EQ(fs::last_write_time(dir.file("b.map")), mtime);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 2);

    fs::remove(dir.file("b.map"));
    run = run_mapclean({"-CHECK", dir.native()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(mask_times(run.out), report("a.map", 0) + "Overall processing time: T seconds\n" +
                                       "0 of 1 files would change\n");
    EXPECT_EQ(run_mapclean({"-check", "-quiet", dir.native()}).out, "");

    // A file that cannot be read gives 2, unless another would change.
    fs::create_directory(dir.file("sub.map"));
    EXPECT_EQ(run_mapclean({"-check", dir.native()}).status, 2);
    write_file(dir.file("b.map"), kNoisy);
    EXPECT_EQ(run_mapclean({"-check", dir.native()}).status, 1);
    EXPECT_EQ(run_mapclean({"-check", dir.native("none.map")}).status, 2);
    EXPECT_EQ(run_mapclean({"-check", dir.native("b.map")}).status, 1);
    EXPECT_EQ(run_mapclean({"-check"}, {.cwd = dir.path()}).status, 1);
    EXPECT_EQ(run_mapclean({"-check", "-p"}).status, 1);  // the missing number, as designed
    EXPECT_EQ(read_file(dir.file("b.map")), kNoisy);
}

// What hooks and CI print: a line per map that changes, and the summary.
TEST_F(Modes, BriefNamesOnlyTheFilesThatChange) {
    write_file(dir.file("a.map"), kClean);
    write_file(dir.file("b.map"), kNoisy);
    ProgramRun run = run_mapclean({"-check", "-brief", dir.native()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(mask_times(run.out), report("b.map", 1) + "1 of 2 files would change\n");

    run = run_mapclean({"-s", "-brief", "--", entry("a.map"), entry("b.map")});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "Changes saved to '" + entry("b.map") + "'.\n");
    EXPECT_EQ(read_file(dir.file("b.map")), kClean);
    EXPECT_EQ(run_mapclean({"-s", "-brief", "-quiet", dir.native()}).out, "");
}

TEST_F(Modes, FilterCleansStdinToStdout) {
    constexpr char kInput[] = "a 1.0000001\r\n\0 2.0000001\r\nb 0.2999999";
    constexpr char kOutput[] = "a 1\r\n\0 2.0000001\r\nb 0.2999999";
    ProgramRun run = run_mapclean({"-verbose", "-"},
                                  {.input = std::string(kInput, sizeof kInput - 1), .rawOutput = true});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, std::string(kOutput, sizeof kOutput - 1));
    EXPECT_EQ(mask_times(run.err), "Changed: '1.0000001' -> '1' (line 1)\nFile: -  Edits: 1  Time: T seconds\n");

    run = run_mapclean({"-p", "3", "-"}, {.input = "x 12.34567 7\n"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "x 12.346 7\n");

    run = run_mapclean({"-", "-check"}, {.input = "x 12.34567\n"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "");
    run = run_mapclean({"-check", "-"}, {.input = "x 1.9999999\n"});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");

    // With 2>&1 the lines come in the order they were made: the filter's
    // report (stderr), the directory's (stdout), the summary (stderr).
    write_file(dir.file("b.map"), kNoisy);
    run = run_mapclean({"-check", "-", dir.native()}, {.input = "x 1.9999999\n", .mergeStderr = true});
    EXPECT_EQ(mask_times(run.out), "File: -  Edits: 1  Time: T seconds\n" + report("b.map", 1) +
                                       "Overall processing time: T seconds\n2 of 2 files would change\n");
}

TEST_F(Modes, RecursionGoesDepthFirstAndNotThroughLinks) {
    write_file(dir.file("a.map"), kNoisy);
    fs::create_directories(dir.file("sub/deeper"));
    write_file(dir.file("sub/b.map"), kNoisy);
    write_file(dir.file("sub/deeper/c.map"), kNoisy);
    write_file(dir.file("sub/deeper/notes.txt"), kNoisy);
    if (!target_is_windows()) fs::create_directory_symlink("sub", dir.file("link"));

    // Without -r only the top level.
    ProgramRun run = run_mapclean({"-check", dir.native()});
    EXPECT_EQ(mask_times(run.out), report("a.map", 1) + "Overall processing time: T seconds\n1 of 1 files would change\n");

    const std::string all = report("a.map", 1) + report("sub/b.map", 1) + report("sub/deeper/c.map", 1) +
                            "Overall processing time: T seconds\n3 of 3 files would change\n";
    run = run_mapclean({"-r", "-check", dir.native()});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(mask_times(run.out), all);
    EXPECT_EQ(read_file(dir.file("sub/deeper/c.map")), kNoisy);

    run = run_mapclean({"-RECURSIVE", "-s", dir.native()});
    EXPECT_EQ(run.status, 0);
    for (const char* name : {"a.map", "sub/b.map", "sub/deeper/c.map"}) {
        EXPECT_NE(run.out.find("Changes saved to '" + entry(name) + "'."), std::string::npos) << run.out;
        EXPECT_EQ(read_file(dir.file(name)), kClean) << name;
    }
    EXPECT_EQ(read_file(dir.file("sub/deeper/notes.txt")), kNoisy);

    // A tree without a single match says so once.
    TempDir empty;
    fs::create_directories(empty.file("x/y"));
    run = run_mapclean({"-r", empty.native()});
    EXPECT_EQ(run.err, "No .map files found in directory: " + empty.native() + "\n");
    EXPECT_EQ(run.out, "");
}

}  // namespace
