// What a save leaves behind and opens up: interrupts at the question and
// mid-save, extended attributes and ACLs, hard links, and directory entries
// that link out of the tree.
#include <signal.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <thread>

#include "program_run.h"

namespace {

namespace fs = std::filesystem;

const char kNoisy[] = "a 1.9999999\n";
const char kClean[] = "a 2\n";

std::vector<std::string> names_in(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// A POSIX access ACL as the kernel stores it in system.posix_acl_access:
// owner rw, the named user `uid` with `perm`, group r, mask, other none.
std::string access_acl(uint32_t uid, uint16_t perm) {
    std::string acl;
    const auto put = [&](uint32_t value, size_t bytes) {
        for (size_t i = 0; i < bytes; ++i) acl.push_back(static_cast<char>((value >> (8 * i)) & 0xff));
    };
    put(2, 4);  // version
    const uint32_t noId = 0xffffffff;
    for (const auto& [tag, entryPerm, id] : {std::tuple{0x01u, 6u, noId}, {0x02u, uint32_t{perm}, uid},
                                            {0x04u, 4u, noId}, {0x10u, 6u, noId}, {0x20u, 0u, noId}}) {
        put(tag, 2);
        put(entryPerm, 2);
        put(id, 4);
    }
    return acl;
}

std::string attribute(const std::string& path, const char* name) {
    char value[4096];
    const ssize_t size = ::getxattr(path.c_str(), name, value, sizeof value);
    return size < 0 ? std::string("(none)") : std::string(value, static_cast<size_t>(size));
}

class WriteBack : public ::testing::Test {
protected:
    void SetUp() override {
        if (target_is_windows()) GTEST_SKIP() << "POSIX signals, attributes and links";
    }
    TempDir dir;
    std::string map = dir.file("a.map");
};

TEST_F(WriteBack, InterruptAtTheQuestionLeavesNothingBehind) {
    // Several megabytes of new text: before, it sat in a temporary while the
    // question waited, and an interrupt left it there.
    std::string content;
    while (content.size() < (4u << 20)) content += "( 0.30000000000000004 1.9999999 64 )\n";
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
        write_file(map, content);
        Child child({map}, {});
        ASSERT_TRUE(child.wait_for_output_end("': ", 30000)) << child.output();
        child.kill(signal);
        EXPECT_EQ(child.finish(10000).status, 128 + signal);
        EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"a.map"}) << strsignal(signal);
        EXPECT_EQ(read_file(map), content);
    }
}

TEST_F(WriteBack, EverySignalThatEndsTheProcessDuringASaveRemovesTheTemporary) {
#ifdef MAPCLEAN_SANITIZED
    GTEST_SKIP() << "timing-bound; run on the plain build";
#endif
    std::string old;
    old.reserve(100 << 20);
    while (old.size() < (100u << 20)) old += "( 0.30000000000000004 -1.9999999 64 ) 0.7999999999999999\n";
    const std::string pristine = dir.file("big.orig");
    write_file(pristine, old);
    fs::copy_file(pristine, map);
    ASSERT_EQ(run_mapclean({"-s", map}).status, 0);
    const std::string cleaned = read_file(map);
    for (int signal : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGALRM, SIGTERM, SIGUSR1, SIGUSR2, SIGVTALRM, SIGPROF,
                       SIGXCPU}) {
        // Strike once the temporary is there, while it is being written; a
        // try that comes too late (the save done) is made again.
        bool struck = false;
        for (int attempt = 0; attempt < 5 && !struck; ++attempt) {
            fs::copy_file(pristine, map, fs::copy_options::overwrite_existing);
            Child child({"-s", map}, {});
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (names_in(dir.path()).size() < 3 && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
            // Stopped, the program cannot finish the save between the look
            // and the signal: with its temporary there, the signal strikes mid-save.
            child.kill(SIGSTOP);
            child.kill(signal);
            child.kill(SIGCONT);
            const ProgramRun run = child.finish(30000);
            struck = run.status == 128 + signal;
            EXPECT_EQ(names_in(dir.path()), (std::vector<std::string>{"a.map", "big.orig"})) << strsignal(signal);
            const std::string now = read_file(map);
            EXPECT_TRUE(now == old || now == cleaned) << "a mix of old and new after " << strsignal(signal);
            std::cout << "[ figures  ] " << strsignal(signal) << ": status " << run.status << ", "
                      << (now == old ? "old" : "new") << " file, no temporary\n";
        }
        EXPECT_TRUE(struck) << strsignal(signal) << " never came during a save";
    }
}

TEST_F(WriteBack, ExtendedAttributesAndTheAclAreKept) {
    write_file(map, kNoisy);
    if (::setxattr(map.c_str(), "user.note", "keep", 4, 0) != 0) {
        GTEST_SKIP() << "no user extended attributes on this file system: " << std::strerror(errno);
    }
    const std::string acl = access_acl(65534, 4);
    ASSERT_EQ(::setxattr(map.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0), 0)
        << std::strerror(errno);
    struct stat before {};
    ::stat(map.c_str(), &before);

    const ProgramRun run = run_mapclean({"-s", map});
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(read_file(map), kClean);
    EXPECT_EQ(attribute(map, "user.note"), "keep");
    EXPECT_EQ(attribute(map, "system.posix_acl_access"), acl);
    struct stat after {};
    ::stat(map.c_str(), &after);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_NE(after.st_ino, before.st_ino);  // it was replaced, not rewritten in place
}

TEST_F(WriteBack, AnAclInheritedFromTheDirectoryIsNotAdded) {
    // A default ACL on the directory would give every new file, and so the
    // replacement, an entry for "nobody" that the original does not have.
    write_file(map, kNoisy);
    std::string inherited = access_acl(65534, 7);
    if (::setxattr(dir.path().c_str(), "system.posix_acl_default", inherited.data(), inherited.size(), 0) != 0) {
        GTEST_SKIP() << "no ACLs on this file system: " << std::strerror(errno);
    }
    ASSERT_EQ(attribute(map, "system.posix_acl_access"), "(none)");
    EXPECT_EQ(run_mapclean({"-s", map}).err, "");
    EXPECT_EQ(read_file(map), kClean);
    EXPECT_EQ(attribute(map, "system.posix_acl_access"), "(none)");
}

TEST_F(WriteBack, AnAttributeThatCannotBeSetRefusesTheSave) {
    // Root may set any security.* attribute; nobody may read it but not set
    // it on the replacement, so a save would lose it.
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to set a security.* attribute";
    if (!nobody_can_run_the_program()) GTEST_SKIP() << "\"nobody\" cannot reach a copy of the program";
    ::chmod(dir.path().c_str(), 0777);
    write_file(map, kNoisy);
    ::chmod(map.c_str(), 0666);
    if (::setxattr(map.c_str(), "security.mapclean-test", "x", 1, 0) != 0) {
        GTEST_SKIP() << "cannot set a security.* attribute here: " << std::strerror(errno);
    }
    const ProgramRun run = run_mapclean({"-s", map}, {.asNobody = true});
    EXPECT_EQ(run.err, "Error writing to file: " + map +
                           " (cannot give the new file the original's attributes: Operation not permitted)\n");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out.find("Changes saved"), std::string::npos);
    EXPECT_EQ(read_file(map), kNoisy);
    EXPECT_EQ(names_in(dir.path()), std::vector<std::string>{"a.map"});
}

// On both builds: the Windows one counts links with GetFileInformationByHandle.
TEST(HardLinks, OtherNamesAreNamedBeforeTheSave) {
    TempDir dir;
    const std::string map = dir.file("a.map"), arg = dir.native("a.map");
    write_file(map, kNoisy);
    ASSERT_EQ(::link(map.c_str(), dir.file("other").c_str()), 0);
    // No warning when nothing is saved.
    ProgramRun run = run_mapclean({arg}, {.input = "n\n"});
    EXPECT_EQ(run.err, "");
    run = run_mapclean({arg}, {.input = "y\n", .mergeStderr = true});
    EXPECT_EQ(mask_times(run.out), "File: " + arg + "  Edits: 1  Time: T seconds\n"
                                   "Press Y to commit changes to '" + arg + "': "
                                   "Warning: other hard links to '" + arg + "' keep the old content\n"
                                   "Changes saved to '" + arg + "'.\n");
    EXPECT_EQ(read_file(map), kClean);
    EXPECT_EQ(read_file(dir.file("other")), kNoisy);
    // A single link says nothing.
    write_file(dir.file("b.map"), kNoisy);
    EXPECT_EQ(run_mapclean({"-s", dir.native("b.map")}).err, "");
}

TEST_F(WriteBack, DirectoryRunsDoNotFollowLinksOutOfTheTree) {
    // maps/in.map links to a file inside maps/, maps/out.map to one beside
    // it; a file named on the command line is processed through any link.
    const std::string maps = dir.file("maps");
    fs::create_directories(maps + "/sub/deeper");
    write_file(maps + "/sub/real.txt", kNoisy);
    write_file(dir.file("notes.map"), kNoisy);
    fs::create_symlink("sub/real.txt", maps + "/in.map");
    fs::create_symlink("../notes.map", maps + "/out.map");
    fs::create_symlink("../../../notes.map", maps + "/sub/deeper/far.map");
    fs::create_symlink("../../sub/real.txt", maps + "/sub/deeper/near.map");

    const struct {
        std::vector<std::string> args;
        std::string cwd;
        std::string expectedErr;
    } runs[] = {
        {{"-s", maps}, "", "Skipped '" + maps + "/out.map': it links outside '" + maps + "'\n" +
                               "Not searched: 1 subdirectory of " + maps + "; -r cleans it too\n"},
        {{"-s", "-r", "maps"}, dir.path(),
         "Skipped 'maps/out.map': it links outside 'maps'\n"
         "Skipped 'maps/sub/deeper/far.map': it links outside 'maps'\n"},
        {{"-s"}, maps, "Skipped '" + fs::canonical(maps).string() + "/out.map': it links outside '" +
                           fs::canonical(maps).string() + "'\nNot searched: 1 subdirectory of " +
                           fs::canonical(maps).string() + "; -r cleans it too\n"},
    };
    for (const auto& run : runs) {
        write_file(maps + "/sub/real.txt", kNoisy);
        const ProgramRun result = run_mapclean(run.args, {.cwd = run.cwd});
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.err, run.expectedErr) << run.args.back();
        EXPECT_EQ(read_file(maps + "/sub/real.txt"), kClean) << run.args.back();
        EXPECT_EQ(read_file(dir.file("notes.map")), kNoisy) << run.args.back();
        EXPECT_TRUE(fs::is_symlink(maps + "/in.map"));
    }
    EXPECT_EQ(run_mapclean({"-s", maps + "/out.map"}).err, "");
    EXPECT_EQ(read_file(dir.file("notes.map")), kClean);
}

}  // namespace
