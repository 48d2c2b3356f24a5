// The texts of the runs that write nothing: the unified diff, checked against
// the real `diff -u` on random texts, and the GitHub annotation's escapes.
#include "core/diff_text.h"

#include "filepass/spill_store.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include <unistd.h>

namespace {

std::string run_diff(const std::string& oldText, const std::string& newText) {
    // Named by the process: other builds' tests may run at the same time.
    const auto dir = std::filesystem::temp_directory_path();
    const std::string id = std::to_string(::getpid());
    const std::string oldPath = (dir / ("mapclean-review-old-" + id)).string();
    const std::string newPath = (dir / ("mapclean-review-new-" + id)).string();
    std::ofstream(oldPath, std::ios::binary) << oldText;
    std::ofstream(newPath, std::ios::binary) << newText;
    std::string out;
    if (std::FILE* pipe = ::popen(("diff -u --label P --label P " + oldPath + " " + newPath).c_str(), "r")) {
        char buffer[4096];
        for (size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, got);
        ::pclose(pipe);
    }
    std::filesystem::remove(oldPath);
    std::filesystem::remove(newPath);
    return out;
}

TEST(UnifiedDiff, WritesWhatDiffUWrites) {
    if (std::system("diff --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "diff (diffutils) is not installed";
    // Map-like lines, each changed or not, in files of every size up to a
    // few hunks, with LF or CRLF ends, with and without a final line end.
    std::mt19937_64 random(5);
    int compared = 0;
    for (int round = 0; round < 400; ++round) {
        const size_t lines = 1 + random() % 40;
        const char* end = round % 3 == 0 ? "\r\n" : "\n";
        std::string oldText, newText;
        for (size_t i = 0; i < lines; ++i) {
            const std::string line = "( " + std::to_string(i) + " 0 64 ) wall";
            const bool changes = random() % 7 == 0;
            oldText += line + (changes ? " 1.9999999" : " 2");
            newText += line + " 2";
            if (i + 1 < lines || round % 4 != 0) {
                oldText += end;
                newText += end;
            }
        }
        const std::string expected = run_diff(oldText, newText);
        ASSERT_EQ(unified_diff("P", oldText, newText, false), expected) << oldText;
        // The same made a stretch at a time, cut in the lines' common first
        // bytes, with stores that keep all but 8 bytes in scratch files.
        std::string streamed;
        UnifiedDiffStream stream("P", false, [&](std::string_view text) { streamed.append(text); },
                                 [] { return scratch_store(8); });
        for (size_t oldAt = 0, newAt = 0; oldAt < oldText.size();) {
            const size_t lineEnd = std::min(oldText.find('\n', oldAt), oldText.size());
            const size_t cut = std::min<size_t>(random() % 40, oldText.find(')', oldAt) - oldAt);
            const size_t oldTo = random() % 3 == 0 ? lineEnd + 1 : oldAt + cut;
            const size_t newTo = oldTo > lineEnd ? std::min(newText.find('\n', newAt), newText.size()) + 1 : newAt + cut;
            stream.add(std::string_view(oldText).substr(oldAt, oldTo - oldAt),
                       std::string_view(newText).substr(newAt, newTo - newAt));
            oldAt = std::min(oldTo, oldText.size());
            newAt = std::min(newTo, newText.size());
        }
        stream.finish();
        ASSERT_EQ(streamed, expected) << oldText;
        ++compared;
    }
    EXPECT_EQ(compared, 400);
}

TEST(UnifiedDiff, ColoursOnlyWhatChanged) {
    EXPECT_EQ(unified_diff("a.map", "x\n( 1 1.9999999 -3 ) base/wall 0.25\n", "x\n( 1 2 -3 ) base/wall 0.25\n", true),
              "--- a.map\n+++ a.map\n\x1b[36m@@ -1,2 +1,2 @@\x1b[m\n x\n"
              "\x1b[31m-( 1 \x1b[7m1.9999999\x1b[27m -3 ) base/wall 0.25\x1b[m\n"
              "\x1b[32m+( 1 \x1b[7m2\x1b[27m -3 ) base/wall 0.25\x1b[m\n");
    EXPECT_EQ(unified_diff("a.map", "same\n", "same\n", true), "");
}

TEST(GithubAnnotation, EscapesWhatGithubRequires) {
    EXPECT_EQ(github_annotation("maps/a.map", 3, 2, "1.9999999", "2"),
              "::warning file=maps/a.map,line=3,title=mapclean::2 numbers would be rewritten, "
              "first '1.9999999' -> '2'\n");
    // In the file property ':', ',' and control bytes too; in the message only % CR LF.
    EXPECT_EQ(github_annotation("C:\\a,b%\r\n\x1b.map", 1, 1, "5%", "6"),
              "::warning file=C%3A\\a%2Cb%25%0D%0A%1B.map,line=1,title=mapclean::1 number would be rewritten: "
              "'5%25' -> '6'\n");
}

}  // namespace
