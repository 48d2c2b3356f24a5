// One file, end to end: what the user sees, what is asked, what is written.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "model.h"
#include "program_run.h"

namespace {

const char kNoisy[] = "gain 0.30000000000000004\nlimit 1.9999999\n";
const char kCleaned[] = "gain 0.3\nlimit 2\n";

class SingleFile : public ::testing::Test {
protected:
    TempDir dir;
    std::string map = dir.file("a.map");  // for the test's own file access
    std::string arg = dir.native("a.map");  // as the program names it
};

// Skips a test of behaviour that only POSIX systems have.
#define SKIP_ON_WINDOWS(why)                           \
    if (target_is_windows()) GTEST_SKIP() << (why)

// Skips a test that drops to "nobody" where that user cannot run the program.
#define SKIP_UNLESS_NOBODY_CAN_RUN()             \
    if (!nobody_can_run_the_program())           \
    GTEST_SKIP() << "\"nobody\" cannot reach a copy of the program under the temporary folder"

TEST_F(SingleFile, VerboseRunShowsChangesAsksAndSaves) {
    write_file(map, kNoisy);
    const ProgramRun run = run_mapclean({"-verbose", arg}, {.input = "y\n"});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(mask_times(run.out),
              "Changed: '0.30000000000000004' -> '0.3' (line 1)\n"
              "Changed: '1.9999999' -> '2' (line 2)\n"
              "File: " + arg + "  Edits: 2  Time: T seconds\n"
              "Press Y to commit changes to '" + arg + "': "
              "Changes saved to '" + arg + "'.\n");
    EXPECT_EQ(read_file(map), kCleaned);
}

TEST_F(SingleFile, CommitAnswers) {
    struct Case {
        const char* input;
        bool saved;
    };
    const Case cases[] = {{"y\n", true},  {"Y\n", true}, {"yes\n", true}, {"y", true},
                          {"n\n", false}, {"\n", false}, {"", false},     {"N\n", false},
                          {" y\n", false}, {"x\ny\n", false}};
    for (const Case& c : cases) {
        write_file(map, kNoisy);
        const ProgramRun run = run_mapclean({arg}, {.input = c.input});
        EXPECT_EQ(run.status, 0);
        const std::string question = "Press Y to commit changes to '" + arg + "': ";
        const std::string outcome = c.saved ? "Changes saved to '" + arg + "'.\n"
                                            : "Changes not saved for '" + arg + "'.\n";
        EXPECT_EQ(mask_times(run.out), "File: " + arg + "  Edits: 2  Time: T seconds\n" +
                                           question + outcome)
            << "answer '" << c.input << "'";
        EXPECT_EQ(read_file(map), c.saved ? kCleaned : kNoisy) << "answer '" << c.input << "'";
    }
}

// A run that asks (as a drop onto the program does) asks only about a file
// it can replace; for one it cannot, the error comes first, then the pause.
TEST_F(SingleFile, AsksOnlyForAFileItCanReplace) {
    const struct {
        const char* state;
        unsigned fileMode, folderMode;
        bool asNobody;
        bool asked;  // and then saved
    } cases[] = {
        {"writable", 0644, 0755, false, true},
        // Root may write a read-only file on POSIX; Windows replaces none.
        {"read-only file", 0444, 0755, false, !target_is_windows() && ::geteuid() == 0},
        {"folder it cannot write", 0666, 0755, true, false},
    };
    for (const auto& c : cases) {
        if (c.asNobody && (target_is_windows() || !nobody_can_run_the_program())) continue;
        write_file(map, kNoisy);
        ::chmod(map.c_str(), c.fileMode);
        ::chmod(dir.path().c_str(), c.folderMode);
        const ProgramRun run = run_mapclean({arg}, {.input = "y\n\n", .mergeStderr = true, .asNobody = c.asNobody});
        ::chmod(map.c_str(), 0644);
        const std::string report = "File: " + arg + "  Edits: 2  Time: T seconds\n";
        if (c.asked) {
            EXPECT_EQ(mask_times(run.out), report + "Press Y to commit changes to '" + arg + "': Changes saved to '" +
                                               arg + "'.\n") << c.state;
            EXPECT_EQ(read_file(map), kCleaned) << c.state;
        } else {
            EXPECT_EQ(run.status, 2) << c.state;
            EXPECT_EQ(mask_times(run.out).rfind(report + "Error writing to file: " + arg + " (", 0), 0u)
                << c.state << ": " << run.out;
            EXPECT_EQ(run.out.find("Press Y"), std::string::npos) << c.state;
            EXPECT_NE(run.out.find("Press any key to continue for '" + arg + "'..."), std::string::npos) << c.state;
            EXPECT_EQ(read_file(map), kNoisy) << c.state;
        }
    }
}

TEST_F(SingleFile, UnchangedFileIsNotWrittenAndPauses) {
    for (const char* content : {"", "x 5\n", "2.50 100 1e-6"}) {
        write_file(map, content);
        ::chmod(map.c_str(), 0444);  // a write attempt would fail loudly
        const ProgramRun run = run_mapclean({arg}, {.input = "\n"});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(mask_times(run.out), "File: " + arg + "  Edits: 0  Time: T seconds\n"
                                       "Press any key to continue for '" + arg + "'...");
        EXPECT_EQ(read_file(map), content);
        ::chmod(map.c_str(), 0644);
    }
}

TEST_F(SingleFile, SilentRunCommitsWithoutAskingOrPausing) {
    write_file(map, kNoisy);
    ProgramRun run = run_mapclean({"-s", arg});
    EXPECT_EQ(mask_times(run.out), "File: " + arg + "  Edits: 2  Time: T seconds\n"
                                   "Changes saved to '" + arg + "'.\n");
    EXPECT_EQ(read_file(map), kCleaned);

    run = run_mapclean({arg, "-silent"});  // clean now: no pause either
    EXPECT_EQ(mask_times(run.out), "File: " + arg + "  Edits: 0  Time: T seconds\n");
}

TEST_F(SingleFile, FixedPrecision) {
    write_file(map, "( 12.3456 -0.001 1e3 ) 0x10 007 2.5\n");
    const ProgramRun run = run_mapclean({"-p", "2", "-s", arg});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(read_file(map), "( 12.35 -0 1000 ) 16 7 2.5\n");
    EXPECT_NE(run.out.find("Edits: 5 "), std::string::npos) << run.out;

    write_file(map, "2.5 12.3456\n");
    run_mapclean({"-PRECISION", "0", "-s", arg});
    EXPECT_EQ(read_file(map), "3 12\n");
}

TEST_F(SingleFile, EveryOtherByteSurvives) {
    std::string content = "// caf\xc3\xa9 \xff\xfe\r\n\t\"origin\" \"0.30000000000000004 -8\"\r\n";
    content += std::string("tail 1.0000001\0after 1.0000001\r\n", 32);
    write_file(map, content);
    const ProgramRun run = run_mapclean({"-verbose", "-s", arg});
    std::string expected = "// caf\xc3\xa9 \xff\xfe\r\n\t\"origin\" \"0.3 -8\"\r\n";
    expected += std::string("tail 1\0after 1.0000001\r\n", 24);
    EXPECT_EQ(read_file(map), expected);
    EXPECT_NE(run.out.find("'0.30000000000000004' -> '0.3' (line 2)"), std::string::npos);
    EXPECT_NE(run.out.find("'1.0000001' -> '1' (line 3)"), std::string::npos);
    EXPECT_NE(run.out.find("Edits: 2 "), std::string::npos);
}

TEST_F(SingleFile, LargeFilesComeOutWholeWhereverTheirEditsLie) {
    // Files are read a piece at a time, and the replacement begins at the
    // first edit with the text before it: an edit far into the file, after
    // a NUL, or at the end of a line longer than a piece.
    const std::string clean = "( 1 2 3 ) ( 4 5 6 ) ( 7 8 9 ) base/wall 0 0 0 1 1\n";
    std::string lines;
    while (lines.size() < (1 << 20)) lines += clean;
    std::string longLine;
    while (longLine.size() < (1 << 20)) longLine += "1.5 ";
    std::string blocks;  // exactly 512 KiB: the file ends where a block does
    while (blocks.size() + clean.size() < (1 << 19) - 32) blocks += clean;
    blocks += "end 1.9999999";
    blocks += std::string((1 << 19) - 1 - blocks.size(), ' ') + "\n";
    const std::string cases[] = {
        blocks,
        lines + lines + "last 1.9999999\n",
        lines + "mid 0.30000000000000004\n" + lines + "end 2.5e-08",
        lines + "x 1.0000001 " + std::string(1, '\0') + lines + "after 1.0000001\n",
        // The NUL in the second piece, which the second thread reads.
        lines.substr(0, clean.size() * 6400) + "x 1.0000001 " + std::string(1, '\0') + lines + "after 1.0000001\n",
        lines + longLine + "1.9999999 " + longLine + "\n" + lines,
    };
    for (const std::string& content : cases) {
        const ModelScan expected = model_scan(content, -1);
        const std::string lastChange = expected.changes.back();
        const std::string lastLine = "(line " + lastChange.substr(lastChange.rfind('@') + 1) + ")";
        for (const bool asks : {false, true}) {
            SCOPED_TRACE(std::to_string(content.size()) + (asks ? " asked" : " silent"));
            write_file(map, content);
            const ProgramRun run = asks ? run_mapclean({"-verbose", arg}, {.input = "y\n"})
                                        : run_mapclean({"-verbose", "-s", arg});
            EXPECT_EQ(run.status, 0);
            EXPECT_TRUE(read_file(map) == expected.output);
            EXPECT_NE(run.out.find("Edits: " + std::to_string(expected.edits) + " "), std::string::npos) << run.out;
            EXPECT_NE(run.out.find(lastLine), std::string::npos) << run.out;
        }
    }
}

TEST_F(SingleFile, MissingTargetIsReportedWithItsReason) {
    const ProgramRun run = run_mapclean({dir.native("none.map")});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(masked_reasons(run.err), error_line("Error opening file: " + dir.native("none.map"), "No such file or directory"));
}

TEST_F(SingleFile, FifoIsRefusedWithoutBlocking) {
    ASSERT_EQ(::mkfifo(dir.file("pipe.map").c_str(), 0644), 0);
    const ProgramRun run = run_mapclean({dir.native("pipe.map")}, {.timeoutMs = 10000});
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(masked_reasons(run.err), error_line("Error opening file: " + dir.native("pipe.map"), "not a regular file"));
    EXPECT_EQ(run.out, "");
}

TEST_F(SingleFile, DeviceIsRefused) {
    SKIP_ON_WINDOWS("no /dev there");
    const ProgramRun run = run_mapclean({"/dev/zero"}, {.timeoutMs = 10000});
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.err, "Error opening file: /dev/zero (not a regular file)\n");
    EXPECT_EQ(run.status, 2);
}

// Root ignores permission bits; such runs drop to "nobody" for these.
TEST_F(SingleFile, UnreadableFileIsRefused) {
    SKIP_ON_WINDOWS("POSIX permission bits");
    SKIP_UNLESS_NOBODY_CAN_RUN();
    ::chmod(dir.path().c_str(), 0777);
    write_file(map, kNoisy);
    ::chmod(map.c_str(), 0);
    const ProgramRun run = run_mapclean({"-s", arg}, {.asNobody = true});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "Error opening file: " + arg + " (Permission denied)\n");
}

TEST_F(SingleFile, ReadOnlyFileIsNotReplaced) {
    SKIP_ON_WINDOWS("POSIX permission bits");
    SKIP_UNLESS_NOBODY_CAN_RUN();
    // The directory is writable, so only the file's own bits can stop the
    // rename that write-back ends with.
    ::chmod(dir.path().c_str(), 0777);
    write_file(map, kNoisy);
    ::chmod(map.c_str(), 0444);
    ProgramRun run = run_mapclean({"-s", arg}, {.asNobody = true});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "Error writing to file: " + arg + " (Permission denied)\n");
    EXPECT_EQ(run.out.find("Changes saved"), std::string::npos);
    EXPECT_EQ(read_file(map), kNoisy);

    // A writable file in a directory where no temporary can be made.
    ::chmod(map.c_str(), 0666);
    ::chmod(dir.path().c_str(), 0555);
    run = run_mapclean({"-s", arg}, {.asNobody = true});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "Error writing to file: " + arg + " (cannot create a temporary file in " + dir.path() +
                           ": Permission denied)\n");
    EXPECT_EQ(read_file(map), kNoisy);
}

TEST_F(SingleFile, FailedWriteLeavesTheOriginalAndNoTemporary) {
    SKIP_ON_WINDOWS("POSIX file size limit");
    // The new text ("100000" for each "1e5") outgrows the program's file
    // size limit; the original was written by the test, outside that limit.
    std::string content;
    for (int i = 0; i < 2000; ++i) content += "1e5 ";
    write_file(map, content);
    const ProgramRun run = run_mapclean({"-s", "-p", "2", arg}, {.fileSizeLimit = 10000});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "Error writing to file: " + arg + " (File too large)\n");
    EXPECT_EQ(run.out.find("Changes saved"), std::string::npos);
    EXPECT_EQ(read_file(map), content);
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        (void)entry;
        ++entries;
    }
    EXPECT_EQ(entries, 1u);
}

TEST_F(SingleFile, WriteBackKeepsLinksAndPermissions) {
    SKIP_ON_WINDOWS("POSIX links and permission bits");
    write_file(map, kNoisy);
    ASSERT_EQ(::chmod(map.c_str(), 0640), 0);
    const std::string link = dir.file("link.map");
    ASSERT_EQ(::symlink("a.map", link.c_str()), 0);
    const ProgramRun run = run_mapclean({"-s", link});
    EXPECT_NE(run.out.find("Changes saved to '" + link + "'."), std::string::npos) << run.out;
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(read_file(map), kCleaned);
    struct stat info {};
    ASSERT_EQ(::stat(map.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST_F(SingleFile, FileThatVanishesBeforeTheAnswerIsNotReportedSaved) {
    write_file(map, kNoisy);
    Child child({arg}, {});
    ASSERT_TRUE(child.wait_for_output_end("': ", 10000)) << child.output();
    std::filesystem::remove(map);
    child.send("y\n");
    const ProgramRun run = child.finish(10000);
    EXPECT_EQ(masked_reasons(run.err), error_line("Error writing to file: " + arg, "No such file or directory"));
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out.find("Changes saved"), std::string::npos);
}

TEST_F(SingleFile, FileChangedBeforeTheAnswerIsNotOverwritten) {
    // An editor saves the file while the program waits for its answer: the
    // new text was made from the old version and must not replace the new.
    write_file(map, kNoisy);
    Child child({arg}, {});
    ASSERT_TRUE(child.wait_for_output_end("': ", 10000)) << child.output();
    write_file(map, "edited 1.9999999\n");
    child.send("y\n");
    const ProgramRun run = child.finish(10000);
    EXPECT_EQ(masked_reasons(run.err),
              error_line("Error writing to file: " + arg, "the file changed while it was being cleaned"));
    EXPECT_EQ(read_file(map), "edited 1.9999999\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1);
}

TEST_F(SingleFile, PromptsShowBeforeTheProgramWaits) {
    // stdout is a pipe: each prompt must be flushed before the read.
    write_file(map, kNoisy);
    Child child({arg}, {});
    EXPECT_TRUE(child.wait_for_output_end("Press Y to commit changes to '" + arg + "': ", 10000))
        << child.output();
    child.send("y\n");
    EXPECT_EQ(child.finish(10000).status, 0);

    Child pause({arg}, {});
    EXPECT_TRUE(pause.wait_for_output_end("Press any key to continue for '" + arg + "'...", 10000))
        << pause.output();
}

}  // namespace
