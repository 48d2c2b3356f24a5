// Faults injected for real: a full file system, a kill at any moment of a
// save, targets that change between the listing and the pass. After each,
// every file holds either its old or its new content, whole.
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "program_run.h"

namespace {

namespace fs = std::filesystem;

class Faults : public ::testing::Test {
protected:
    void SetUp() override {
        if (target_is_windows()) GTEST_SKIP() << "POSIX signals, mounts and FIFOs";
    }
    TempDir dir;
};

// The names in `path`, sorted.
std::vector<std::string> names_in(const std::string& path) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(path)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST_F(Faults, FullFileSystemFailsTheSaveAndTheBatchGoesOn) {
    // A 256 KiB tmpfs in a mount namespace of its own: a.map (100 KiB of
    // "1e5 ", growing to 175 KiB at -p 2) cannot get its replacement written,
    // b.map can once a.map's temporary is gone.
    if (run_mapclean({"-version"}, {.wrapper = {"unshare", "--user", "--map-root-user", "--mount"}}).status != 0) {
        GTEST_SKIP() << "cannot make a mount namespace here (unshare --user --mount refused)";
    }
    std::string big;
    while (big.size() < 100 * 1024) big += "1e5 ";
    write_file(dir.file("a.orig"), big);
    fs::create_directory(dir.file("fs"));
    const std::string fsDir = dir.file("fs");
    const std::string script =
        "set -e; mount -t tmpfs -o size=256k tmpfs '" + fsDir + "'; cp '" + dir.file("a.orig") + "' '" +
        fsDir + "/a.map'; printf '1e5\\n' > '" + fsDir + "/b.map'; \"$@\" && status=0 || status=$?; echo ---; ls -A '" + fsDir +
        "'; cmp -s '" + fsDir + "/a.map' '" + dir.file("a.orig") + "' && echo a-unchanged; cat '" + fsDir +
        "/b.map'; exit $status";
    const ProgramRun run = run_mapclean(
        {"-s", "-p", "2", fsDir},
        {.wrapper = {"unshare", "--user", "--map-root-user", "--mount", "sh", "-c", script, "sh"}});
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_EQ(run.err, "Error writing to file: " + fsDir + "/a.map (No space left on device)\n");
    EXPECT_EQ(mask_times(run.out), "File: " + fsDir + "/a.map  Edits: 25600  Time: T seconds\n"
                                   "File: " + fsDir + "/b.map  Edits: 1  Time: T seconds\n"
                                   "Changes saved to '" + fsDir + "/b.map'.\n"
                                   "Overall processing time: T seconds\n"
                                   "---\na.map\nb.map\na-unchanged\n100000\n");
}

TEST_F(Faults, KilledAtAnyMomentLeavesTheOldOrTheNewFile) {
#ifdef MAPCLEAN_SANITIZED
    GTEST_SKIP() << "timing-bound; run on the plain build";
#endif
    // The kill would land on the emulator, whose files are the host
    // kernel's either way, after minutes of emulated saves.
    if (target_is_emulated()) GTEST_SKIP() << "timing-bound; run on the native build";
    // About 100 MB with an edit every few bytes.
    std::string old;
    old.reserve(100 << 20);
    const std::string line = "( 0.30000000000000004 -1.9999999 64 ) [ 2.5e-08 1 0 0.5 ] 0.7999999999999999\n";
    while (old.size() < (100u << 20)) old += line;
    const std::string map = dir.file("big.map");

    const std::string pristine = dir.file("big.orig");
    write_file(pristine, old);
    const auto restore = [&] { fs::copy_file(pristine, map, fs::copy_options::overwrite_existing); };
    restore();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(run_mapclean({"-s", map}).status, 0);
    const auto fullRun = std::chrono::steady_clock::now() - start;
    const std::string cleaned = read_file(map);
    ASSERT_NE(cleaned, old);

    std::mt19937_64 random(2026);
    const auto span = std::chrono::duration_cast<std::chrono::microseconds>(fullRun).count() * 6 / 5;
    std::uniform_int_distribution<long long> moment(0, span);
    // A fixed number of kills, however slow the machine: a count that a
    // deadline cut short would make the result depend on load.
    int kills = 0, oldSeen = 0, newSeen = 0;
    while (kills < 60) {
        restore();
        Child child({"-s", map}, {});
        std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
        child.kill(SIGKILL);
        child.finish(30000);
        ++kills;
        const std::string now = read_file(map);
        ASSERT_TRUE(now == old || now == cleaned) << "kill " << kills << ": a mix of old and new";
        (now == old ? oldSeen : newSeen) += 1;
        for (const std::string& name : names_in(dir.path())) {
            if (name == "big.map" || name == "big.orig") continue;
            // A leftover temporary, allowed after a kill; never a ".map" name.
            ASSERT_FALSE(name.size() >= 4 && name.compare(name.size() - 4, 4, ".map") == 0) << name;
            fs::remove(dir.file(name));
        }
    }
    EXPECT_GT(oldSeen, 0);
    std::cout << "[ figures  ] " << kills << " kills: " << oldSeen << " old, " << newSeen
              << " new, 0 mixed\n";
}

TEST_F(Faults, EntriesThatChangeAfterTheListing) {
    // While a.map's question waits, b.map becomes a FIFO and c.map goes.
    write_file(dir.file("a.map"), "1.9999999\n");
    write_file(dir.file("b.map"), "1.9999999\n");
    write_file(dir.file("c.map"), "1.9999999\n");
    write_file(dir.file("d.map"), "1.9999999\n");
    Child child({dir.path()}, {.mergeStderr = true});
    ASSERT_TRUE(child.wait_for_output_end("Press Y to commit changes to '" + dir.file("a.map") + "': ", 10000));
    fs::remove(dir.file("b.map"));
    ASSERT_EQ(::mkfifo(dir.file("b.map").c_str(), 0644), 0);
    fs::remove(dir.file("c.map"));
    child.send("y\ny\n");
    const ProgramRun run = child.finish(20000);
    EXPECT_FALSE(run.timedOut);
    EXPECT_EQ(run.status, 2);
    const std::string out = mask_times(run.out);
    EXPECT_NE(out.find("Error opening file: " + dir.file("b.map") + " (not a regular file)\n"), std::string::npos)
        << out;
    EXPECT_NE(out.find("Error opening file: " + dir.file("c.map") + " (No such file or directory)\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Changes saved to '" + dir.file("d.map") + "'."), std::string::npos) << out;
    EXPECT_EQ(read_file(dir.file("a.map")), "2\n");
    EXPECT_EQ(read_file(dir.file("d.map")), "2\n");
}

}  // namespace
