// The runs of hooks, CI jobs and scripts: every target, diff, list, quiet,
// GitHub annotations and settling runs, end to end.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "program_run.h"

namespace {

namespace fs = std::filesystem;

const char kNoisy[] = "a 1.9999999\n";
const char kClean[] = "a 2\n";

class Workflow : public ::testing::Test {
protected:
    TempDir dir;
    std::string arg(const std::string& name) const { return dir.native(name); }
    std::string report(const std::string& name, int edits) const {
        return "File: " + arg(name) + "  Edits: " + std::to_string(edits) + "  Time: T seconds\n";
    }
    std::string saved(const std::string& name) const { return "Changes saved to '" + arg(name) + "'.\n"; }
};

TEST_F(Workflow, AllProcessesEveryTargetAndSaysFailures) {
    write_file(dir.file("a.map"), kNoisy);
    write_file(dir.file("b.map"), kClean);
    write_file(dir.file("c.map"), kNoisy);
    ProgramRun run = run_mapclean({"-s", "--all", arg("a.map"), arg("b.map"), arg("none.map"), arg("c.map")});
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(masked_reasons(run.err), error_line("Error opening file: " + arg("none.map"), "No such file or directory"));
    EXPECT_EQ(mask_times(run.out), report("a.map", 1) + saved("a.map") + report("b.map", 0) + report("c.map", 1) +
                                       saved("c.map"));
    EXPECT_EQ(read_file(dir.file("a.map")), kClean);
    EXPECT_EQ(read_file(dir.file("c.map")), kClean);

    run = run_mapclean({"-ALL", "-s", arg("a.map"), dir.native()});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run_mapclean({"-all", "-", "-"}).err, "Error: \"-\" can be given only once\n");
}

TEST_F(Workflow, ReviewModesTakeEveryTargetAndWriteNothing) {
    write_file(dir.file("a.map"), kNoisy);
    write_file(dir.file("b.map"), kClean);
    write_file(dir.file("c.map"), kNoisy);
    const struct {
        const char* mode;
        std::string out;  // for a.map, b.map and c.map
    } modes[] = {
        {"-check", report("a.map", 1) + report("b.map", 0) + report("c.map", 1) + "2 of 3 files would change\n"},
        {"-l", arg("a.map") + "\n" + arg("c.map") + "\n"},
        {"--diff", "--- " + arg("a.map") + "\n+++ " + arg("a.map") + "\n@@ -1 +1 @@\n-a 1.9999999\n+a 2\n"
                   "--- " + arg("c.map") + "\n+++ " + arg("c.map") + "\n@@ -1 +1 @@\n-a 1.9999999\n+a 2\n"},
    };
    for (const auto& m : modes) {
        ProgramRun run = run_mapclean({m.mode, arg("a.map"), arg("b.map"), arg("c.map")});
        EXPECT_EQ(run.status, 1) << m.mode;
        EXPECT_EQ(run.err, "") << m.mode;  // no "only the last target" warning
        EXPECT_EQ(mask_times(run.out), m.out) << m.mode;
        EXPECT_EQ(run_mapclean({m.mode, arg("b.map"), arg("none.map")}).status, 2) << m.mode;
        EXPECT_EQ(run_mapclean({m.mode, arg("b.map")}).status, 0) << m.mode;
    }
    EXPECT_EQ(read_file(dir.file("a.map")), kNoisy);

    // The filter: a diff named "-", a list naming "-".
    ProgramRun run = run_mapclean({"-diff", "-"}, {.input = kNoisy});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "--- -\n+++ -\n@@ -1 +1 @@\n-a 1.9999999\n+a 2\n");
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run_mapclean({"-list", "-"}, {.input = kNoisy}).out, "-\n");
    EXPECT_EQ(run_mapclean({"-list", "-"}, {.input = kClean}).status, 0);

    write_file(dir.file("v.map"), "ld 1.10.377\n");
    run = run_mapclean({"-check", "-p", "3", arg("v.map")});
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(mask_times(run.out), report("v.map", 0) + "0 of 1 files would change\n");
    EXPECT_EQ(run_mapclean({"-list", "-p", "3", arg("v.map")}).out, "");

    // A file read a piece at a time on two threads, wherever the token
    // stands.
    std::string lines;
    while (lines.size() < (1 << 20)) lines += "( 1 2 3 ) ( 4 5 6 ) ( 7 8 9 ) base/wall 0 0 0 1 1\n";
    for (const size_t at : {size_t{0}, size_t{300} << 10, lines.size()}) {
        for (const std::string token : {"1.10.377", "1.1001"}) {
            std::string content = lines;
            content.insert(at, "ld " + token + "\n");
            write_file(dir.file("v.map"), content);
            const int changes = token == "1.1001";
            EXPECT_EQ(run_mapclean({"-check", "-p", "3", arg("v.map")}).status, changes) << at << token;
        }
    }
}

TEST_F(Workflow, DiffAppliedWithPatchGivesWhatSilentWrites) {
    if (target_is_windows()) GTEST_SKIP() << "patch takes POSIX paths";
    if (std::system("patch --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "patch is not installed";
    std::string multiHunk;
    for (int i = 0; i < 30; ++i) multiHunk += "( " + std::to_string(i) + (i % 9 == 2 ? " 0.30000000000000004 )\n" : " 0.5 )\n");
    const std::pair<std::string, std::string> files[] = {
        {"multi.map", multiHunk},
        {"crlf.map", "x 1\r\ny 2.5000001\r\nz 3\r\n"},
        {"nonl.map", "first 1\nlast 1.9999999"},
        {"clean.map", "clean 1.5\n"},
    };
    for (const char* precision : {"-1", "2"}) {
        TempDir diffed, saved;
        for (const auto& [name, content] : files) {
            write_file(diffed.file(name), content);
            write_file(saved.file(name), content);
        }
        write_file(diffed.file("binary.map"), std::string("n 1.9999999\0tail", 16));
        const ProgramRun diff = run_mapclean({"-diff", "-p", precision, "."}, {.cwd = diffed.path()});
        EXPECT_EQ(diff.status, 1);
        EXPECT_NE(diff.out.find("Binary file ./binary.map would change\n"), std::string::npos);
        write_file(diffed.file("changes.diff"), diff.out);
        ASSERT_EQ(std::system(("cd '" + diffed.path() + "' && patch -p0 -s < changes.diff").c_str()), 0) << diff.out;
        ASSERT_EQ(run_mapclean({"-s", "-p", precision, saved.path()}).status, 0);
        for (const auto& [name, content] : files) {
            EXPECT_EQ(read_file(diffed.file(name)), read_file(saved.file(name))) << name << " at -p " << precision;
        }
    }
}

TEST_F(Workflow, PatchAndXargsTakeEveryName) {
    if (target_is_windows()) GTEST_SKIP() << "POSIX names and shell";
    if (std::system("patch --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "patch is not installed";
    const std::string names[] = {"my maps/room.map", "tab\there.map", "q\"uote.map", "back\\slash.map",
                                 "h\xc3\xa9llo.map", "new\nline.map", "tab\tand space.map", "plain.map"};
    const auto make_tree = [&](const TempDir& tree) {
        fs::create_directories(tree.file("maps/my maps"));
        for (const std::string& name : names) write_file(tree.file("maps/" + name), kNoisy);
    };
    // The README's recipe, run as written.
    TempDir patched;
    make_tree(patched);
    const ProgramRun diff = run_mapclean(
        {}, {.cwd = patched.path(),
             .mergeStderr = true,
             .wrapper = {"sh", "-c", "\"$1\" -diff -r maps > clean.diff; test $? -eq 1 && patch -p0 < clean.diff", "sh"}});
    EXPECT_EQ(diff.status, 0) << diff.out;
    for (const std::string& name : names) EXPECT_EQ(read_file(patched.file("maps/" + name)), kClean) << name;
    EXPECT_EQ(fs::file_size(patched.file("clean.diff")) > 0, true);

    // -list -z through xargs -0, with the same names.
    TempDir listed;
    make_tree(listed);
    write_file(listed.file("maps/clean.map"), kClean);
    const ProgramRun xargs = run_mapclean(
        {}, {.cwd = listed.path(),
             .mergeStderr = true,
             .wrapper = {"sh", "-c", "\"$1\" -list -z -r maps | xargs -0 \"$1\" -s -all -quiet", "sh"}});
    EXPECT_EQ(xargs.status, 0) << xargs.out;
    EXPECT_EQ(xargs.out, "");
    for (const std::string& name : names) EXPECT_EQ(read_file(listed.file("maps/" + name)), kClean) << name;

    // Without -z, a name that needs it is quoted as git quotes it.
    make_tree(listed);
    const ProgramRun list = run_mapclean({"-list", "maps/my maps", "maps/new\nline.map", "maps/q\"uote.map"},
                                         {.cwd = listed.path()});
    EXPECT_EQ(list.out, "maps/my maps/room.map\n\"maps/new\\nline.map\"\n\"maps/q\\\"uote.map\"\n");
}

TEST_F(Workflow, ExcludeLeavesEntriesOutByNameOrPath) {
    fs::create_directories(dir.file("maps/linker"));
    fs::create_directories(dir.file("maps/q3"));
    for (const char* name : {"maps/a.map", "maps/a.bak.map", "maps/linker/fw.map", "maps/q3/b.map", "maps/q3/c.map"}) {
        write_file(dir.file(name), kNoisy);
    }
    const char sep = native_separator();
    const ProgramRun run = run_mapclean(
        {"-list", "-r", "-exclude", "linker", "--exclude", "*.bak.map", "-exclude", "./q3/c.*", arg("maps")});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, arg("maps") + sep + "a.map\n" + arg("maps") + sep + "q3" + sep + "b.map\n");
    // '*' does not cross '/': "*.map" leaves out every file, "q3*" no file in q3.
    EXPECT_EQ(run_mapclean({"-list", "-r", "-exclude", "q3*", "-exclude", "*/*.map", arg("maps")}).out,
              arg("maps") + sep + "a.bak.map\n" + arg("maps") + sep + "a.map\n");
}

TEST_F(Workflow, QuietKeepsQuestionsChangedLinesAndErrors) {
    const std::string a = arg("a.map");
    const struct {
        std::vector<std::string> args;
        std::string input;
        std::string cwd;
        std::string out;
        int status;
    } runs[] = {
        {{"-q", a}, "y\n", "", "Press Y to commit changes to '" + a + "': ", 0},
        {{"-q", a}, "n\n", "", "Press Y to commit changes to '" + a + "': Changes not saved for '" + a + "'.\n", 0},
        {{"--quiet", "-verbose", "-s", a}, "", "", "Changed: '1.9999999' -> '2' (line 1)\n", 0},
        {{"-q", "-s", dir.native()}, "", "", "", 0},
        {{"-q", "-s"}, "", dir.path(), "", 0},
        {{"-q", "-check", a}, "", "", "", 1},
        {{"-q", "-s", "-all", a, arg("none.map")}, "", "", "", 2},
    };
    for (const auto& r : runs) {
        write_file(dir.file("a.map"), kNoisy);
        const ProgramRun run = run_mapclean(r.args, {.input = r.input, .cwd = r.cwd});
        EXPECT_EQ(run.out, r.out) << r.args.front() << " " << r.args[1];
        EXPECT_EQ(run.status, r.status) << r.args[1];
        EXPECT_EQ(masked_reasons(run.err),
                  r.status == 2 ? error_line("Error opening file: " + arg("none.map"), "No such file or directory") : "")
            << r.args[1];
    }
    // A quiet filter says nothing at all on stderr.
    const ProgramRun filter = run_mapclean({"-quiet", "-"}, {.input = kNoisy});
    EXPECT_EQ(filter.out, kClean);
    EXPECT_EQ(filter.err, "");
}

TEST_F(Workflow, GithubAnnotatesEachFileThatWouldChange) {
    write_file(dir.file("a.map"), std::string("x 1\n") + kNoisy + "b 0.30000000000000004\n");
    write_file(dir.file("b.map"), kClean);
    const ProgramRun run = run_mapclean({"-check", "--github", arg("a.map"), arg("b.map")});
    EXPECT_EQ(run.status, 1);
    std::string escapedPath = arg("a.map");
    for (size_t at = 0; (at = escapedPath.find(':', at)) != std::string::npos;) escapedPath.replace(at, 1, "%3A");
    EXPECT_EQ(mask_times(run.out), report("a.map", 2) + "::warning file=" + escapedPath +
                                       ",line=2,title=mapclean::2 numbers would be rewritten, "
                                       "first '1.9999999' -> '2'\n" + report("b.map", 0) +
                                       "1 of 2 files would change\n");
}

TEST_F(Workflow, StableSettlesInOneRun) {
    const std::string noisy = "x 1.99900001 92.74999999980000001 000e01e0\n";
    write_file(dir.file("a.map"), noisy);
    ASSERT_EQ(run_mapclean({"-s", arg("a.map")}).status, 0);
    EXPECT_EQ(run_mapclean({"-check", arg("a.map")}).status, 1);  // one designed pass does not settle

    write_file(dir.file("a.map"), noisy);
    const ProgramRun run = run_mapclean({"-s", "--stable", "-verbose", arg("a.map")});
    EXPECT_EQ(mask_times(run.out), "Changed: '1.99900001' -> '2' (line 1)\n"
                                   "Changed: '92.74999999980000001' -> '92.75' (line 1)\n" +
                                       report("a.map", 2) + saved("a.map"));
    EXPECT_EQ(read_file(dir.file("a.map")), "x 2 92.75 000e01e0\n");
    EXPECT_EQ(run_mapclean({"-check", arg("a.map")}).status, 0);
    EXPECT_EQ(run_mapclean({"-stable", "-"}, {.input = noisy}).out, "x 2 92.75 000e01e0\n");
}

TEST_F(Workflow, DiffsAreColouredWhereAskedWithTheNumbersMarked) {
    if (target_is_windows()) GTEST_SKIP() << "needs a POSIX terminal";
    if (std::system("script --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "script (util-linux) is not installed";
    write_file(dir.file("a.map"), kNoisy);
    // script(1) gives the program a terminal for its stdout.
    const auto onTerminal = [&](const std::string& environment, const std::string& colour = "") {
        return run_mapclean({"-diff", "a.map", colour},
                            {.cwd = dir.path(), .wrapper = {"sh", "-c", environment + " script -qec \"$*\" /dev/null", "sh"}})
            .out;
    };
    const std::string marked = "\x1b[31m-a \x1b[7m1.9999999\x1b[27m\x1b[m";
    EXPECT_NE(onTerminal("").find(marked), std::string::npos);
    EXPECT_EQ(onTerminal("NO_COLOR=1").find('\x1b'), std::string::npos);
    EXPECT_EQ(onTerminal("", "--color=never").find('\x1b'), std::string::npos);
    EXPECT_EQ(run_mapclean({"-diff", "a.map"}, {.cwd = dir.path()}).out.find('\x1b'), std::string::npos);
    EXPECT_NE(run_mapclean({"-diff", "--color=always", "a.map"}, {.cwd = dir.path()}).out.find(marked),
              std::string::npos);
}

}  // namespace
