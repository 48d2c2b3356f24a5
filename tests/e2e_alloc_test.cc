// Memory running out at every allocation a run makes, one at a time and
// from one on, as SQLite tests it: a preloaded shim (tests/alloc/) makes the
// Nth allocation fail. After each run: no abort, no temporary, every file
// old or cleaned in full, and either the run's outputs as without the shim
// or an error line that says what happened.
#include <gtest/gtest.h>

#include <filesystem>
#include <iostream>

#include "program_run.h"

namespace {

namespace fs = std::filesystem;

const char kNoisy[] = "( 1.9999999 0 0 ) ( 0 1 0 ) ( 0 0 1 ) tex 0.30000000000000004 0 0 1 1\n";
const char kClean[] = "( 2 0 0 ) ( 0 1 0 ) ( 0 0 1 ) tex 0.3 0 0 1 1\n";

// A map read in several pieces, on two threads.
constexpr int kBigLines = 9000;
std::string repeated(const char* line) {
    std::string text;
    for (int i = 0; i < kBigLines; ++i) text += line;
    return text;
}
const std::string kBigNoisy = repeated(kNoisy);
const std::string kBigClean = repeated(kClean);

struct Mode {
    const char* name;
    std::vector<std::string> args;  // run in the tree, which holds a.map, sub/b.map and big/c.map
    std::string input;
};

const Mode kModes[] = {
    {"save", {"-s", "a.map"}, ""},
    {"asked save", {"a.map"}, "y\n"},
    {"check", {"-check", "a.map"}, ""},
    {"diff", {"-diff", "a.map"}, ""},
    {"github", {"-check", "-github", "a.map"}, ""},
    {"list", {"-list", "-r", "."}, ""},
    {"stable save", {"-stable", "-s", "a.map"}, ""},
    {"recursive save", {"-s", "-r", "."}, ""},
    {"directory check", {"-check", "-r", "sub", "big"}, ""},
    {"filter", {"-quiet", "-"}, kNoisy},
    {"save in pieces", {"-s", "-verbose", "big/c.map"}, ""},
    {"check in pieces", {"-check", "big/c.map"}, ""},
};

// Each file of the tree, with its noisy and its cleaned content.
const struct {
    const char* name;
    const std::string& noisy;
    const std::string& clean;
} kFiles[] = {{"a.map", kNoisy, kClean}, {"sub/b.map", kNoisy, kClean}, {"big/c.map", kBigNoisy, kBigClean}};

class Allocation : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef MAPCLEAN_SANITIZED
        GTEST_SKIP() << "the sanitizers own the allocator";
#endif
        if (target_is_emulated()) GTEST_SKIP() << "a preloaded shim would reach the emulator, not the program";
    }
    TempDir dir;
    std::string tree = dir.file("tree");

    void make_tree() {
        fs::remove_all(tree);
        fs::create_directories(tree + "/sub");
        fs::create_directories(tree + "/big");
        for (const auto& file : kFiles) write_file(tree + "/" + file.name, file.noisy);
    }
    std::vector<std::string> contents() const {
        std::vector<std::string> all;
        for (const auto& file : kFiles) all.push_back(read_file(tree + "/" + file.name));
        return all;
    }
    ProgramRun run(const Mode& mode, const std::vector<std::string>& environment) {
        std::vector<std::string> wrapper = {"env", "LD_PRELOAD=" MAPCLEAN_ALLOC_SHIM};
        wrapper.insert(wrapper.end(), environment.begin(), environment.end());
        ProgramRun result = run_mapclean(mode.args, {.input = mode.input, .cwd = tree, .wrapper = wrapper});
        result.out = mask_times(result.out);
        return result;
    }
};

TEST_F(Allocation, EveryFailedAllocationEndsAsDesigned) {
    int runs = 0, failedAllocations = 0;
    for (const Mode& mode : kModes) {
        make_tree();
        const std::string count = dir.file("count");
        const ProgramRun normal = run(mode, {"MAPCLEAN_ALLOC_COUNT=" + count});
        ASSERT_LE(normal.status, 1) << mode.name << ": " << normal.err;
        const int allocations = std::stoi(read_file(count));
        const std::vector<std::string> normalContents = contents();
        for (int n = 1; n <= allocations + 1; ++n) {
            for (const bool from : {false, true}) {
                make_tree();
                const ProgramRun result =
                    run(mode, {"MAPCLEAN_FAIL_AT=" + std::to_string(n), "MAPCLEAN_FAIL_FROM=" + std::to_string(from)});
                ++runs;
                const std::string where = std::string(mode.name) + (from ? ", from allocation " : ", allocation ") +
                                          std::to_string(n) + "\n" + result.out.substr(0, 2000) + result.err;
                ASSERT_LE(result.status, 2) << where;
                for (const auto& file : kFiles) {
                    const std::string now = read_file(tree + "/" + file.name);
                    ASSERT_TRUE(now == file.noisy || now == file.clean) << file.name << ": " << where;
                }
                for (const auto& entry : fs::recursive_directory_iterator(tree)) {
                    ASSERT_EQ(entry.path().string().find("~mapclean-"), std::string::npos) << where;
                }
                if (result.status == normal.status && result.out == normal.out && result.err == normal.err &&
                    contents() == normalContents) {
                    continue;
                }
                ++failedAllocations;
                // Otherwise an error says what happened, and a file that
                // was replaced was reported saved.
                ASSERT_NE(result.status, 0) << where;
                ASSERT_TRUE(result.err.find("Memory allocation error") != std::string::npos ||
                            result.err.find("Error ") != std::string::npos)
                    << where;
                // A failure names the file or directory it stopped; only one
                // that stopped the run before any target was touched has
                // nothing to name.
                if (result.err.find("Memory allocation error\n") != std::string::npos) {
                    ASSERT_EQ(result.err, "Memory allocation error\n") << where;
                    ASSERT_EQ(result.out, "") << where;
                }
                for (const auto& file : kFiles) {
                    const std::string saved = "Changes saved to '" + std::string(file.name) + "'";
                    if (read_file(tree + "/" + file.name) == file.clean && normal.out.find(saved) != std::string::npos) {
                        ASSERT_NE(result.out.find(saved), std::string::npos) << where;
                    }
                }
            }
        }
    }
    std::cout << "[ figures  ] " << runs << " runs over " << std::size(kModes) << " modes: " << failedAllocations
              << " ended by a failed allocation, 0 aborts, 0 temporaries left\n";
}

}  // namespace
