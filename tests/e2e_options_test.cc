// The command line, end to end: options, targets and exit statuses.
#include <gtest/gtest.h>

#include <regex>

#include <filesystem>

#include "program_run.h"

namespace {

const char kNoisy[] = "a 1.9999999\n";

class Options : public ::testing::Test {
protected:
    TempDir dir;
    std::string map = dir.file("a.map");
    std::string arg = dir.native("a.map");
    void SetUp() override { write_file(map, kNoisy); }
    bool saved() { return read_file(map) == "a 2\n"; }
};

TEST_F(Options, NamesInAnyLetterCase) {
    const ProgramRun run = run_mapclean({"-VERBOSE", "-Silent", "-P", "3", arg});
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("Changed: '1.9999999' -> '2' (line 1)"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("Press"), std::string::npos) << run.out;
    EXPECT_TRUE(saved());
}

TEST_F(Options, OptionsMayFollowTheTarget) {
    run_mapclean({arg, "-s"});
    EXPECT_TRUE(saved());
}

TEST_F(Options, WrongArgumentsEndTheRunBeforeAnyFileIsTouched) {
    const struct {
        std::vector<std::string> args;
        std::string err;
    } runs[] = {
        {{"-chek", "-stable", "-r", dir.native()}, "Error: unknown option: -chek\n"},
        {{"-v", arg}, "Error: unknown option: -v\n"},
        {{"-s", "-p", "-check", arg}, "Error: -precision needs a whole number: -check\n"},
        {{"-s", "-p", "abc", arg}, "Error: -precision needs a whole number: abc\n"},
        {{"-s", "-p", " 1x", arg}, "Error: -precision needs a whole number:  1x\n"},
        {{"-s", "-p", "-h", arg}, "Error: -precision needs a whole number: -h\n"},
        {{"-s", "-", "-"}, "Error: \"-\" can be given only once\n"},
        {{"-s", "--color=bright", arg}, "Error: --color takes auto, always or never: bright\n"},
        {{"-z", arg}, "Error: -z works only with -list\n"},
    };
    for (const auto& r : runs) {
        const ProgramRun run = run_mapclean(r.args, {.cwd = dir.path()});
        EXPECT_EQ(run.status, 1) << r.args[0];
        EXPECT_EQ(run.err, r.err);
        EXPECT_EQ(run.out, "");
        EXPECT_FALSE(saved());
    }
    // A file really named so is a target; after "--" every argument is.
    write_file(dir.file("-v.map"), kNoisy);
    EXPECT_EQ(run_mapclean({"-s", "-v.map"}, {.cwd = dir.path()}).status, 0);
    EXPECT_EQ(read_file(dir.file("-v.map")), "a 2\n");
    write_file(dir.file("-s"), kNoisy);
    EXPECT_EQ(run_mapclean({"-s", "--", "-s"}, {.cwd = dir.path()}).status, 0);
    EXPECT_EQ(read_file(dir.file("-s")), "a 2\n");
}

// Every target is processed in order, however the names came: listed, from
// a shell's glob, from xargs, files and directories mixed, with a question
// for each changed file.
TEST_F(Options, EveryTargetIsProcessedInOrder) {
    const std::string b = dir.native("b.map");
    const std::string c = dir.native("d") + native_separator() + "c.map";
    const auto report = [](const std::string& name) { return "File: " + name + "  Edits: 1  Time: T seconds\n"; };
    const auto saved = [](const std::string& name) { return "Changes saved to '" + name + "'.\n"; };
    const auto asked = [](const std::string& name) { return "Press Y to commit changes to '" + name + "': "; };
    const struct {
        const char* what;
        std::vector<std::string> args;
        std::string input;
        std::string shell;  // POSIX only: a shell line run in the directory, "$1" the program
        std::string out;
        std::vector<bool> cleaned;  // a.map, b.map, d/c.map
    } runs[] = {
        {"files", {"-s", arg, b}, "", "", report(arg) + saved(arg) + report(b) + saved(b), {true, true, false}},
        {"-all", {"-s", "-all", b, arg}, "", "", report(b) + saved(b) + report(arg) + saved(arg), {true, true, false}},
        {"file and directory", {"-s", dir.native("d"), arg}, "", "",
         report(c) + saved(c) + "Overall processing time: T seconds\n" + report(arg) + saved(arg), {true, false, true}},
        {"questions", {arg, b}, "y\nn\n", "",
         report(arg) + asked(arg) + saved(arg) + report(b) + asked(b) + "Changes not saved for '" + b + "'.\n",
         {true, false, false}},
        {"glob", {}, "", "\"$1\" -s -quiet *.map", "", {true, true, false}},
        {"xargs", {}, "", "\"$1\" -list -z -r . | xargs -0 \"$1\" -s -quiet --", "", {true, true, true}},
    };
    for (const auto& r : runs) {
        if (!r.shell.empty() && target_is_windows()) continue;  // no shell expands for a Windows program
        write_file(map, kNoisy);
        write_file(dir.file("b.map"), kNoisy);
        std::filesystem::create_directories(dir.file("d"));
        write_file(dir.file("d/c.map"), kNoisy);
        RunOptions options{.input = r.input, .cwd = dir.path()};
        if (!r.shell.empty()) options.wrapper = {"sh", "-c", r.shell, "sh"};
        const ProgramRun run = run_mapclean(r.args, options);
        EXPECT_EQ(run.status, 0) << r.what;
        EXPECT_EQ(run.err, "") << r.what;  // no warning that targets were left out
        EXPECT_EQ(mask_times(run.out), r.out) << r.what;
        const std::string files[] = {map, dir.file("b.map"), dir.file("d/c.map")};
        for (size_t i = 0; i < 3; ++i) EXPECT_EQ(read_file(files[i]) == "a 2\n", r.cleaned[i]) << r.what << " " << i;
    }
}

TEST_F(Options, PrecisionNumbers) {
    struct Case {
        const char* number;
        const char* content;
        const char* expected;
    };
    const Case cases[] = {
        {"-1", "2.5 1.9999\n", "2.5 2\n"},       // negative: automatic mode
        {"+0", "2.5 1.25\n", "3 1\n"},
        {"99999999999", "2.5\n", "2.5\n"},       // saturates: 10^N overflows, unchanged
    };
    for (const Case& c : cases) {
        write_file(map, c.content);
        const ProgramRun run = run_mapclean({"-s", "-p", c.number, arg});
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(read_file(map), c.expected) << "-p '" << c.number << "'";
        EXPECT_EQ(run.out.find("Changed"), std::string::npos) << "-p " << c.number;
    }
}

TEST_F(Options, MissingPrecisionNumberEndsTheRun) {
    for (const char* option : {"-p", "-PRECISION"}) {
        const ProgramRun run = run_mapclean({arg, "-s", option});
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err, "Error: -precision flag requires a numeric argument.\n");
        EXPECT_FALSE(saved());
    }
}

TEST_F(Options, HelpPrintsUsageAndTouchesNothing) {
    for (const char* help : {"-h", "-help", "--HELP", "-?"}) {
        const ProgramRun run = run_mapclean({"-s", arg, help, "-p"});
        EXPECT_EQ(run.status, 0) << help;
        EXPECT_EQ(run.out.rfind("Usage: mapclean", 0), 0u) << help;
        EXPECT_NE(run.out.find("-precision N"), std::string::npos);
        EXPECT_EQ(run.err, "");
        EXPECT_FALSE(saved());
    }
}

TEST_F(Options, VersionPrintsOneLine) {
    for (const char* version : {"-version", "--Version"}) {
        const ProgramRun run = run_mapclean({version, arg, "-s"});
        EXPECT_EQ(run.status, 0);
        // The npm package's programs name their build: "(linux-arm64)".
        EXPECT_TRUE(std::regex_match(run.out, std::regex("mapclean " MAPCLEAN_TEST_VERSION "( \\([a-z0-9-]+\\))?\n")))
            << run.out;
        EXPECT_FALSE(saved());
    }
}

// Windows programs expand wildcards themselves; on POSIX the shell does, so
// a pattern that reaches the program is just a name.
TEST_F(Options, WildcardTargets) {
    write_file(dir.file("b.map"), kNoisy);
    const ProgramRun run = run_mapclean({"-s", "*.map"}, {.cwd = dir.path()});
    EXPECT_EQ(run.status, target_is_windows() ? 0 : 2);
    if (target_is_windows()) {
        // As a drop of two maps onto the program starts it: both are cleaned.
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(mask_times(run.out), "File: a.map  Edits: 1  Time: T seconds\nChanges saved to 'a.map'.\n"
                                       "File: b.map  Edits: 1  Time: T seconds\nChanges saved to 'b.map'.\n");
        EXPECT_EQ(read_file(dir.file("b.map")), "a 2\n");
        EXPECT_TRUE(saved());
    } else {
        EXPECT_EQ(run.err, "Error opening file: *.map (No such file or directory)\n");
        EXPECT_EQ(read_file(dir.file("b.map")), kNoisy);
    }
}

}  // namespace
