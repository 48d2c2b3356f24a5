// Running out of memory, and files past the 32-bit size limit.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "program_run.h"

namespace {

constexpr long kMiB = 1024 * 1024;

class Limits : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef MAPCLEAN_SANITIZED
        GTEST_SKIP() << "sanitizers reserve address space; these need a plain build";
#endif
    }
    TempDir dir;
};

// Address-space limits are POSIX resource limits of the program itself.
class MemoryLimits : public Limits {
protected:
    void SetUp() override {
        if (target_is_emulated()) GTEST_SKIP() << "the limit would reach the emulator, which reserves address space";
        Limits::SetUp();
    }
};

TEST_F(MemoryLimits, InputLargerThanMemoryIsReadAPieceAtATime) {
    // 200 MiB, mostly NUL, under a 100 MiB address-space limit, then a
    // small file: a plain and a settled run clean both; a diff calls the
    // first binary (it holds a NUL) and diffs the second.
    for (const char* mode : {"-s", "-stable", "-diff"}) {
        SCOPED_TRACE(mode);
        const bool diff = std::string(mode) == "-diff";
        write_sparse_file(dir.file("a.map"), "1.9999999 ", 200 * kMiB);
        write_file(dir.file("b.map"), "1.9999999\n");
        std::vector<std::string> args = {"-s", mode, dir.path()};
        if (diff) args.erase(args.begin());
        const ProgramRun run = run_mapclean(args, {.mergeStderr = true, .addressSpaceLimit = 100 * kMiB});
        EXPECT_EQ(run.status, diff ? 1 : 0);
        if (diff) {
            EXPECT_EQ(run.out, "Binary file " + dir.file("a.map") + " would change\n--- " + dir.file("b.map") +
                                   "\n+++ " + dir.file("b.map") + "\n@@ -1 +1 @@\n-1.9999999\n+2\n");
            continue;
        }
        EXPECT_EQ(mask_times(run.out), "File: " + dir.file("a.map") + "  Edits: 1  Time: T seconds\n"
                                       "Changes saved to '" + dir.file("a.map") + "'.\n"
                                       "File: " + dir.file("b.map") + "  Edits: 1  Time: T seconds\n"
                                       "Changes saved to '" + dir.file("b.map") + "'.\n"
                                       "Overall processing time: T seconds\n");
        EXPECT_EQ(std::filesystem::file_size(dir.file("a.map")), 200u * kMiB - 8);
        EXPECT_EQ(read_file(dir.file("b.map")), "2\n");
    }
}

TEST_F(MemoryLimits, NewTextNeedsNoSecondCopyInMemory) {
    // 60 MiB fit once, not twice, in 100 MiB: the new text is streamed to disk.
    const std::string map = dir.file("a.map");
    write_sparse_file(map, "1.9999999 ", 60 * kMiB);
    const ProgramRun run = run_mapclean({"-s", map}, {.addressSpaceLimit = 100 * kMiB});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_NE(run.out.find("Changes saved"), std::string::npos) << run.out;
    EXPECT_EQ(std::filesystem::file_size(map), 60u * kMiB - 8);
    std::ifstream file(map, std::ios::binary);
    char head[2] = {};
    file.read(head, 2);
    EXPECT_EQ(std::string(head, 2), "2 ");
}

TEST_F(MemoryLimits, DiffOfAFileLargerThanMemoryIsPrintedHunkByHunk) {
    // 150 MiB of lines, one noisy in 4096, diffed under a 100 MiB limit.
    std::string block(4095 * 6, ' ');
    for (size_t at = 0; at < block.size(); at += 6) block.replace(at, 6, "7 8 9\n");
    block += "1.9999999 5\n";
    const std::string map = dir.file("a.map");
    {
        std::ofstream file(map, std::ios::binary);
        for (long written = 0; written < 150 * kMiB; written += static_cast<long>(block.size())) file << block;
    }
    const ProgramRun run = run_mapclean({"-diff", map}, {.addressSpaceLimit = 100 * kMiB});
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string firstHunk = "--- " + map + "\n+++ " + map + "\n@@ -4093,7 +4093,7 @@\n 7 8 9\n 7 8 9\n 7 8 9\n"
                                  "-1.9999999 5\n+2 5\n 7 8 9\n 7 8 9\n 7 8 9\n@@ -8189,7 ";
    EXPECT_EQ(run.out.substr(0, firstHunk.size()), firstHunk);
    const size_t noisyLines = (150 * kMiB + block.size() - 1) / block.size();
    size_t added = 0;
    for (size_t at = 0; (at = run.out.find("\n+2 5\n", at)) != std::string::npos; ++at) ++added;
    EXPECT_EQ(added, noisyLines);
}

// 100 MiB of brush faces whose lines all change, as text and in a file,
// read under a limit of half that.
const char kFace[] = "( 1.9999999 0 0 ) ( 0 1 0 ) ( 0 0 1 ) tex 0.30000000000000004 0 0 1 1\n";
const char kCleanFace[] = "( 2 0 0 ) ( 0 1 0 ) ( 0 0 1 ) tex 0.3 0 0 1 1\n";
const size_t kFaces = 100 * kMiB / (sizeof kFace - 1);

std::string repeated(const char* line, size_t times) {
    std::string text;
    text.reserve(times * std::strlen(line));
    for (size_t i = 0; i < times; ++i) text += line;
    return text;
}

size_t count(const std::string& text, const std::string& part) {
    size_t found = 0;
    for (size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size()) ++found;
    return found;
}

TEST_F(MemoryLimits, TheFilterIsReadAPieceAtATimeInEveryMode) {
    // A diff of standard input keeps a scratch copy.
    const std::string noisy = repeated(kFace, kFaces), clean = repeated(kCleanFace, kFaces);
    const std::string onlyPlanes = repeated("( 2 0 0 ) ( 0 1 0 ) ( 0 0 1 ) tex 0.30000000000000004 0 0 1 1\n", kFaces);
    const struct {
        std::vector<std::string> args;
        int status;
        const std::string* out;  // nullptr: a diff, checked below
    } modes[] = {
        {{"-quiet", "-"}, 0, &clean},
        {{"-quiet", "-stable", "-"}, 0, &clean},
        {{"-quiet", "-p", "2", "-"}, 0, &clean},
        {{"-quiet", "-only", "planes", "-"}, 0, &onlyPlanes},
        {{"-check", "-quiet", "-"}, 1, nullptr},
        {{"-list", "-"}, 1, nullptr},
        {{"-diff", "-"}, 1, nullptr},
    };
    for (const auto& mode : modes) {
        SCOPED_TRACE(mode.args[0] + " " + mode.args[1]);
        const ProgramRun run = run_mapclean(mode.args, {.input = noisy, .addressSpaceLimit = 50 * kMiB});
        EXPECT_EQ(run.status, mode.status);
        EXPECT_EQ(run.err, "");
        if (mode.out) {
            EXPECT_TRUE(run.out == *mode.out) << run.out.size() << " bytes";
        } else if (mode.args[0] == "-check") {
            EXPECT_EQ(run.out, "");
        } else if (mode.args[0] == "-list") {
            EXPECT_EQ(run.out, "-\n");
        } else {
            const std::string lines = std::to_string(kFaces);
            EXPECT_TRUE(run.out.starts_with("--- -\n+++ -\n@@ -1," + lines + " +1," + lines + " @@\n-( 1.99"));
            EXPECT_EQ(count(run.out, std::string(1, '-').append(kFace)), kFaces);
            EXPECT_EQ(count(run.out, std::string(1, '+').append(kCleanFace)), kFaces);
        }
    }
}

TEST_F(MemoryLimits, ADiffWhoseEveryLineChangesIsOneHunkHeldOnDisk) {
    // One hunk of 100 MiB old and 55 MiB new: the whole of it is known
    // before its header can be printed.
    const std::string map = dir.file("a.map");
    {
        std::ofstream file(map, std::ios::binary);
        for (size_t i = 0; i < kFaces; ++i) file << kFace;
    }
    const ProgramRun run = run_mapclean({"-diff", map}, {.addressSpaceLimit = 50 * kMiB});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, "");
    const std::string lines = std::to_string(kFaces);
    const std::string removed = std::string(1, '-').append(kFace), added = std::string(1, '+').append(kCleanFace);
    const std::string expected = "--- " + map + "\n+++ " + map + "\n@@ -1," + lines + " +1," + lines + " @@\n" +
                                 repeated(removed.c_str(), kFaces) + repeated(added.c_str(), kFaces);
    EXPECT_TRUE(run.out == expected) << run.out.size() << " bytes, " << expected.size() << " expected";
}

TEST_F(MemoryLimits, ALongLineThatOnlyCannotReadFailsTheFileAndTheRunGoesOn) {
    // Noisy short lines, then one line of 320 MiB, which -only would read
    // whole: the file is left as it was (its temporary, begun at the first
    // edit, removed), under a limit far below the line, and the next file
    // is cleaned.
    std::string head;
    for (int i = 0; i < 100; ++i) head += "( 1.99 0 0 ) ( 0 1 0 ) ( 0 0 1 ) tex 0 0 0 1 1\n";
    std::string numbers;
    for (long i = 0; i < kMiB; ++i) numbers += "1.25 ";
    const std::string map = dir.file("a.map");
    {
        std::ofstream file(map, std::ios::binary);
        file << head;
        for (int i = 0; i < 64; ++i) file << numbers;
        file << "\n";
    }
    const uintmax_t size = std::filesystem::file_size(map);
    write_file(dir.file("b.map"), "( 1.99 0 0 ) ( 0 1 0 ) ( 0 0 1 ) tex 0 0 0 1 1\n");
    const ProgramRun run = run_mapclean({"-s", "-quiet", "-p", "1", "-only", "planes", map, dir.file("b.map")},
                                        {.addressSpaceLimit = 100 * kMiB});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "Error reading file: " + map + " (a line is longer than 1 MiB, which -only does not read)\n");
    EXPECT_EQ(std::filesystem::file_size(map), size);
    EXPECT_EQ(read_file(dir.file("b.map")), "( 2 0 0 ) ( 0 1 0 ) ( 0 0 1 ) tex 0 0 0 1 1\n");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), std::filesystem::directory_iterator()), 2);
}

TEST_F(Limits, FilesOfMoreThanTwoGibibytes) {
    // A number at the start, a NUL-filled hole, and a number at the end
    // that stands after the first NUL and so stays as it is.
    const std::string map = dir.file("big.map");
    const long long size = (2LL << 30) + 100;
    write_sparse_file(map, "x 1.9999999\n", size - 10);
    {
        std::ofstream tail(map, std::ios::binary | std::ios::app);
        tail << "1.9999999\n";
    }
    const ProgramRun run = run_mapclean({"-s", dir.native("big.map")}, {.timeoutMs = 300000});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("Edits: 1 "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Changes saved"), std::string::npos) << run.out;
    ASSERT_EQ(std::filesystem::file_size(map), static_cast<std::uintmax_t>(size - 8));
    std::ifstream file(map, std::ios::binary);
    char head[4] = {};
    file.read(head, 4);
    EXPECT_EQ(std::string(head, 4), "x 2\n");
    file.seekg(-10, std::ios::end);
    char tail[10] = {};
    file.read(tail, 10);
    EXPECT_EQ(std::string(tail, 10), "1.9999999\n");
}

}  // namespace
