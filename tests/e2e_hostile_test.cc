// Trees and names made by someone else: entries swapped for links while
// runs go on, directories that cannot be read, names that would forge
// output, set-ID files, a reader that goes away, a full output.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <thread>

#include "program_run.h"

namespace {

namespace fs = std::filesystem;

const char kNoisy[] = "a 1.9999999\n";
const char kClean[] = "a 2\n";

class Hostile : public ::testing::Test {
protected:
    void SetUp() override {
        if (target_is_windows()) GTEST_SKIP() << "POSIX links, permissions and signals";
    }
    TempDir dir;
};

// Every name below `path`, recursively.
std::vector<std::string> tree_of(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : fs::recursive_directory_iterator(path)) names.push_back(entry.path().string());
    return names;
}

// Swaps two entries of a directory atomically, whatever their kinds.
bool exchange(const std::string& a, const std::string& b) {
    return ::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0;
}

TEST_F(Hostile, ASubdirectorySwappedForALinkWhileTheQuestionWaitsIsNotWrittenThrough) {
    fs::create_directories(dir.file("maps/b"));
    fs::create_directories(dir.file("out"));
    write_file(dir.file("maps/b/b.map"), kNoisy);
    write_file(dir.file("out/b.map"), kNoisy);
    fs::create_directory_symlink("../out", dir.file("maps/.b-link"));
    Child child({"-r", "maps"}, {.cwd = dir.path(), .mergeStderr = true});
    ASSERT_TRUE(child.wait_for_output_end("Press Y to commit changes to 'maps/b/b.map': ", 20000)) << child.output();
    ASSERT_TRUE(exchange(dir.file("maps/b"), dir.file("maps/.b-link")));  // maps/b now leads to out
    child.send("y\n");
    const ProgramRun run = child.finish(20000);
    EXPECT_EQ(read_file(dir.file("out/b.map")), kNoisy);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.out.find("Error writing to file: maps/b/b.map (its directory was moved meanwhile)"),
              std::string::npos)
        << run.out;
    EXPECT_EQ(read_file(dir.file("maps/.b-link/b.map")), kNoisy);
}

TEST_F(Hostile, EntriesFlippingBetweenFilesAndLinksNeverLeadARunOutside) {
#ifdef MAPCLEAN_SANITIZED
    GTEST_SKIP() << "timing-bound; run on the plain build";
#endif
    // maps/x.map flips between a file, a link out and a link in; maps/d
    // between a directory and a link out, while runs clean the tree.
    const std::string maps = dir.file("maps"), out = dir.file("out");
    fs::create_directories(maps + "/d");
    fs::create_directories(maps + "/in");
    fs::create_directories(out + "/d");
    write_file(out + "/x.map", kNoisy);
    write_file(out + "/d/d.map", kNoisy);
    write_file(maps + "/in/inside.txt", kNoisy);
    write_file(maps + "/x.map", kNoisy);
    write_file(maps + "/d/d.map", kNoisy);
    fs::create_symlink("../out/x.map", maps + "/.x-out");
    fs::create_symlink("in/inside.txt", maps + "/.x-in");
    fs::create_directory_symlink("../out/d", maps + "/.d-out");

    std::atomic<bool> stop{false};
    std::atomic<long> flips{0};
    std::thread flipper([&] {
        for (long i = 0; !stop; ++i) {
            exchange(maps + "/x.map", maps + (i % 2 ? "/.x-out" : "/.x-in"));
            exchange(maps + "/d", maps + "/.d-out");
            ++flips;
        }
    });
    // A fixed number of runs, not as many as a deadline allows, so that a
    // loaded machine tries as much as an idle one.
    int runs = 0, outsideWritten = 0;
    while (runs < 1000) {
        write_file(maps + "/in/inside.txt", kNoisy);
        run_mapclean({"-s", "-r", "-quiet", "maps"}, {.cwd = dir.path()});
        ++runs;
        for (const std::string& outside : {out + "/x.map", out + "/d/d.map"}) {
            if (read_file(outside) == kNoisy) continue;
            ++outsideWritten;
            write_file(outside, kNoisy);
        }
    }
    stop = true;
    flipper.join();
    EXPECT_EQ(outsideWritten, 0) << "in " << runs << " runs";
    for (const std::string& name : tree_of(out)) EXPECT_EQ(name.find("~mapclean-"), std::string::npos) << name;
    std::cout << "[ figures  ] " << runs << " runs during " << flips << " flips: " << outsideWritten
              << " files outside written\n";
}

TEST_F(Hostile, ADirectoryThatCannotBeReadIsAnError) {
    if (!nobody_can_run_the_program()) GTEST_SKIP() << "\"nobody\" cannot reach a copy of the program";
    fs::create_directories(dir.file("maps/locked"));
    write_file(dir.file("maps/clean.map"), kClean);
    write_file(dir.file("maps/locked/noisy.map"), kNoisy);
    ::chmod(dir.path().c_str(), 0777);
    ::chmod(dir.file("maps").c_str(), 0777);
    ::chmod(dir.file("maps/locked").c_str(), 0);
    const std::string locked = "Error opening directory: maps/locked (Permission denied)\n";
    ProgramRun run = run_mapclean({"-check", "-r", "-quiet", "maps"}, {.cwd = dir.path(), .asNobody = true});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, locked);
    run = run_mapclean({"-s", "maps/locked"}, {.cwd = dir.path(), .asNobody = true});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, locked);
    write_file(dir.file("maps/noisy.map"), kNoisy);
    run = run_mapclean({"-check", "-r", "-quiet", "maps"}, {.cwd = dir.path(), .asNobody = true});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, locked);
    ::chmod(dir.file("maps/locked").c_str(), 0755);
}

TEST_F(Hostile, NamesCannotMoveTheCursorOrForgeALine) {
    const std::string name = "a\n::error file=README.md::forged\x1b[2J\t.map";
    const std::string shown = "a\\n::error file=README.md::forged\\e[2J\\t.map";
    write_file(dir.file(name), kNoisy);
    const auto run = [&](std::vector<std::string> args, const std::string& input = "") {
        args.push_back(name);
        return run_mapclean(args, {.input = input, .cwd = dir.path(), .mergeStderr = true});
    };
    const auto oneLineEach = [](const std::string& out) {
        for (size_t at = 0; (at = out.find('\n', at)) != std::string::npos; ++at) {
            if (out.compare(at + 1, 2, "::") == 0 && out.compare(at + 1, 9, "::warning") != 0) return false;
        }
        return out.find('\x1b') == std::string::npos;
    };
    ProgramRun result = run({"-verbose"}, "y\n");
    EXPECT_EQ(mask_times(result.out), "Changed: '1.9999999' -> '2' (line 1)\nFile: " + shown +
                                          "  Edits: 1  Time: T seconds\nPress Y to commit changes to '" + shown +
                                          "': Changes saved to '" + shown + "'.\n");
    write_file(dir.file(name), kNoisy);
    result = run({"-check", "-github"});
    EXPECT_TRUE(oneLineEach(result.out)) << result.out;
    EXPECT_NE(result.out.find("::warning file=a%0A%3A%3Aerror file=README.md%3A%3Aforged%1B[2J%09.map,line=1,"),
              std::string::npos)
        << result.out;
    result = run({"-list"});
    EXPECT_EQ(result.out, "\"a\\n::error file=README.md::forged\\033[2J\\t.map\"\n");
    result = run({"-diff"});
    EXPECT_EQ(result.out.substr(0, result.out.find("@@")),
              "--- \"a\\n::error file=README.md::forged\\033[2J\\t.map\"\t\n"
              "+++ \"a\\n::error file=README.md::forged\\033[2J\\t.map\"\t\n");
    fs::remove(dir.file(name));
    result = run({"-s"});
    EXPECT_EQ(masked_reasons(result.out), error_line("Error opening file: " + shown, "No such file or directory"));
}

TEST_F(Hostile, SetIdBitsSurviveASaveByTheOwnerAndNeverChangeHands) {
    if (!nobody_can_run_the_program() || ::geteuid() != 0) GTEST_SKIP() << "needs root to give files to \"nobody\"";
    ::chmod(dir.path().c_str(), 0777);
    const std::string owned = dir.file("owned.map"), shared = dir.file("shared.map");
    write_file(owned, kNoisy);
    write_file(shared, kNoisy);
    ASSERT_EQ(::chown(owned.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(owned.c_str(), 04755), 0);
    ASSERT_EQ(::chmod(shared.c_str(), 06777), 0);  // root's, and anyone may write it
    const ProgramRun run = run_mapclean({"-s", "-quiet", "-all", owned, shared}, {.asNobody = true});
    EXPECT_EQ(run.err, "Warning: '" + shared + "' loses its set-user-ID bit: the saved file has another owner\n"
                       "Warning: '" + shared + "' loses its set-group-ID bit: the saved file has another group\n");
    struct stat info {};
    ASSERT_EQ(::stat(owned.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 04755u);
    EXPECT_EQ(read_file(owned), kClean);
    ASSERT_EQ(::stat(shared.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0777u);
    EXPECT_EQ(info.st_uid, 65534u);
    EXPECT_EQ(read_file(shared), kClean);
}

TEST_F(Hostile, AReaderThatGoesAwayLeavesNoTemporary) {
    if (std::system("bash --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "bash is not installed";
    // Report lines fill the pipe's buffer while saves are under way; head
    // takes one byte and goes, and a later write meets SIGPIPE, sometimes
    // while a temporary exists.
    // Names of another length each time move the write that fails from one
    // line to another.
    int killedByPipe = 0;
    for (int attempt = 0; attempt < 10; ++attempt) {
        fs::remove_all(dir.file("maps"));
        fs::create_directories(dir.file("maps"));
        const std::string prefix = dir.file("maps/") + std::string(60 + 13 * attempt, 'n');
        for (int i = 0; i < 300; ++i) write_file(prefix + std::to_string(i) + ".map", kNoisy);
        const ProgramRun run = run_mapclean(
            {}, {.cwd = dir.path(),
                 .wrapper = {"bash", "-c", "\"$1\" -s maps | head -c 1 >/dev/null; echo ${PIPESTATUS[0]}", "sh"}});
        killedByPipe += run.out == "141\n";
        for (const std::string& name : tree_of(dir.file("maps"))) {
            ASSERT_EQ(name.find("~mapclean-"), std::string::npos) << name;
            const std::string content = read_file(name);
            ASSERT_TRUE(content == kNoisy || content == kClean) << name;
        }
    }
    EXPECT_EQ(killedByPipe, 10);
}

TEST_F(Hostile, AFailedWriteToStandardOutputIsReported) {
    write_file(dir.file("a.map"), kNoisy);
    for (const char* mode : {"-diff", "-list", "-check"}) {
        const ProgramRun run = run_mapclean(
            {mode, "a.map"}, {.cwd = dir.path(), .wrapper = {"sh", "-c", "exec \"$@\" > /dev/full", "sh"}});
        EXPECT_EQ(run.status, 2) << mode;
        EXPECT_EQ(run.err, "Error writing to standard output (No space left on device)\n") << mode;
    }
    const ProgramRun filter =
        run_mapclean({"-quiet", "-"}, {.input = kNoisy, .wrapper = {"sh", "-c", "exec \"$@\" > /dev/full", "sh"}});
    EXPECT_EQ(filter.status, 2);
    EXPECT_EQ(filter.err, "Error writing to standard output (No space left on device)\n");
}

}  // namespace
