// The scan: tokens found where strtod finds them, everything else copied as
// it is, edits counted and reported with their lines.
#include "core/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "core/candidates.h"
#include "core/map_fields.h"
#include "model.h"
#include "pieces.h"
#include "core/token_scan.h"

namespace {

struct Scanned {
    std::string output;
    int64_t edits;
    std::vector<std::string> changes;  // "original>replacement@line"
};

class Recorder final : public EditSink {
public:
    void on_edit(const Edit& edit) override {
        changes.push_back(std::string(edit.original) + ">" + std::string(edit.replacement) + "@" +
                          std::to_string(edit.line));
    }
    std::vector<std::string> changes;
};

Scanned scan(std::string_view text, int32_t precision = -1, SimdWidth width = widest_simd_width()) {
    Recorder recorder;
    scan_text(text, CleanRules{precision}, recorder, width);
    Scanned result{"", 0, std::move(recorder.changes)};
    result.output = clean_text(text, precision, &result.edits);
    return result;
}

// Every token the scan hands to the rewriting, in order, with fixed mode at
// a precision that turns each into a plain integer: tokens become visible.
std::vector<std::string> tokens_of(std::string_view text) {
    std::vector<std::string> tokens;
    for (size_t p = 0; p < text.size();) {
        const size_t length = is_number_start(text, p) ? number_token_length(text, p) : 0;
        if (length == 0) {
            ++p;
            continue;
        }
        tokens.emplace_back(text.substr(p, length));
        p += length;
    }
    return tokens;
}

TEST(Scan, RewritesTheNoiseOfATypicalFile) {
    const Scanned result = scan("gain 0.30000000000000004\nlimit 1.9999999\n");
    EXPECT_EQ(result.output, "gain 0.3\nlimit 2\n");
    EXPECT_EQ(result.edits, 2);
    EXPECT_EQ(result.changes, (std::vector<std::string>{"0.30000000000000004>0.3@1", "1.9999999>2@2"}));
}

TEST(Scan, TokenBoundaries) {
    struct Case {
        const char* text;
        std::vector<std::string> tokens;
    };
    const Case cases[] = {
        {"x1.2.3", {"1.2", ".3"}},
        {"axis12", {"12"}},
        {"x-.5", {"-.5"}},
        {"+.x", {}},
        {"0x1e-7", {"0x1e", "-7"}},
        {"( -16 32.5e+1 ) 1e", {"-16", "32.5e+1", "1"}},  // "1e" is read as "1"
        {"a--1 b+-.5", {"-1", "-.5"}},
        {"\"origin\" \"0 -8 24\"", {"0", "-8", "24"}},
        {"0x 0xZ 0x1p", {"0", "0", "0x1"}},
        {"v2\xc2\xb2 3", {"2", "3"}},
    };
    for (const Case& c : cases) {
        // tokens_of walks with the same two functions the scan uses; the
        // scan's own view of the tokens shows in fixed mode below.
        EXPECT_EQ(tokens_of(c.text), c.tokens) << c.text;
    }
    // In fixed mode at 0 decimals every token that stands alone changes
    // unless it is already a plain integer, so the edits show what the scan
    // took as tokens; tokens glued to a word stay.
    EXPECT_EQ(scan("x 1.2 .3 0x1e", 0).output, "x 1 0 30");
    EXPECT_EQ(scan("x1.2.3 0x1e-7", 0).output, "x1.2.3 0x1e-7");
    EXPECT_EQ(scan("+.x -.e 1e+ 0x", 0).output, "+.x -.e 1e+ 0x");
}

TEST(Scan, WordsStayWholeInEveryMode) {
    const char* const words[] = {
        "\"_tb_linked_group_id\" \"{300d129e-0153-4b1f-8a2c-4408b0e30f2c}\"\n",
        "\"id\" \"{6e-12ab-0000-4000-8000-000000000001}\"\n",
        "{00001234-0000-4000-8000-0000000000f0}\n",
        "( 1 2 3 ) ( 4 5 6 ) ( 7 8 9 ) base-metal05rust 0 0 0 1 1\n",
        "e1m1 +0slipbot explod1.wav 8000a0e0 1.2.3 5-3 wall1e2 _1.9999999 x0.30000000000000004\n",
        "1.9999999e 2.5e-08x 1e-7_ 0x1e-7\n",
    };
    const CleanRules modes[] = {CleanRules{-1},       CleanRules{0},          CleanRules{2},
                                CleanRules{-1, true}, CleanRules{-1, false, true},
                                CleanRules{0, true, false, kTexture | kKeys}};
    for (const CleanRules& rules : modes) {
        for (const char* word : words) {
            int64_t edits = 0;
            EXPECT_EQ(clean_text(word, rules, nullptr, edits), word) << "-p " << rules.precision;
            EXPECT_EQ(edits, 0) << word;
        }
        int64_t edits = 0;
        EXPECT_EQ(clean_text("( 0.30000000000000004 -1.9999999 0 ) \"_color\" \"1 0.7999999999999999 0.6\"",
                             CleanRules{-1, rules.stable, rules.plain}, nullptr, edits),
                  "( 0.3 -2 0 ) \"_color\" \"1 0.8 0.6\"");
    }
}

TEST(Scan, OtherProgramsAddressesStayInAutomaticMode) {
    // Lines of an MSVC linker map, a segment map and a GNU ld map: no double
    // is printed with a leading zero before another digit.
    const char* const lines[] = {
        " 0001:00000e34       _main                      00401e34 f   main.obj\n",
        " 000000e8 0000b0 000000e8 .rdata\n",
        " 0004:0000e200 000e3358 \"0003\" -007.5000001 00e5\n",
        " .text          0x00000000000000e8       0xb0 main.o\n",
    };
    for (const CleanRules& rules : {CleanRules{-1}, CleanRules{-1, true, true}}) {
        for (const char* line : lines) {
            int64_t edits = 0;
            EXPECT_EQ(clean_text(line, rules, nullptr, edits), line);
        }
    }
    // Fixed precision rounds every number, as asked.
    EXPECT_EQ(clean_text(lines[1], 2), " 0 0000b0 0 .rdata\n");
}

TEST(Scan, KeepsEveryOtherByte) {
    const std::string text = "a\t1.0000001\r\nb \xff\xfe 2.50\r\n\xc3\xa9 0.2999999\r\n";
    const Scanned result = scan(text);
    EXPECT_EQ(result.output, "a\t1\r\nb \xff\xfe 2.50\r\n\xc3\xa9 0.3\r\n");
    EXPECT_EQ(result.changes, (std::vector<std::string>{"1.0000001>1@1", "0.2999999>0.3@3"}));
}

TEST(Scan, UnchangedTokensCountNoEdit) {
    const Scanned result = scan("2.50 100 1e-6 5.0001");
    EXPECT_EQ(result.output, "2.50 100 1e-6 5.0001");
    EXPECT_EQ(result.edits, 0);
    EXPECT_TRUE(result.changes.empty());
}

TEST(Scan, StopsAtTheFirstNulAndKeepsTheRest) {
    const std::string text("1.0000001 x\0 2.0000001\n\0 3.9999", 31);
    const Scanned result = scan(text);
    EXPECT_EQ(result.output, std::string("1 x\0 2.0000001\n\0 3.9999", 23));
    EXPECT_EQ(result.edits, 1);
}

TEST(Scan, EmptyAndTokenOnlyTexts) {
    EXPECT_EQ(scan("").output, "");
    EXPECT_EQ(scan("").edits, 0);
    EXPECT_EQ(scan("5.00001").output, "5");
    EXPECT_EQ(scan("7").output, "7");
    EXPECT_EQ(scan("-").output, "-");
}

TEST(Scan, FixedModeRoundsEveryToken) {
    const Scanned result = scan("( 12.3456 -0.001 1e3 ) 0x10 007\n", 2);
    EXPECT_EQ(result.output, "( 12.35 -0 1000 ) 16 7\n");
    EXPECT_EQ(result.edits, 5);
}

TEST(Scan, EditsKnowWhereTheyStand) {
    class Offsets final : public EditSink {
    public:
        void on_edit(const Edit& edit) override { offsets.push_back(edit.offset); }
        std::vector<size_t> offsets;
    } offsets;
    EXPECT_EQ(scan_text("a 1.9999 b\n\n-0.30000001 2", -1, offsets), 2);
    EXPECT_EQ(offsets.offsets, (std::vector<size_t>{2, 12}));
}

TEST(Scan, MatchesTheStraightforwardScanOnRandomText) {
    // Each search width this processor has: portable, SSE2, AVX2.
    for (const SimdWidth width : {SimdWidth::portable, SimdWidth::sse2, SimdWidth::avx2}) {
        if (!simd_width_supported(width)) {
            std::cout << "[ skipped  ] search width " << static_cast<int>(width) << ": not on this processor\n";
            continue;
        }
        std::mt19937_64 random(7);
        const std::string alphabet = std::string("0123456789.+-eExXpaf \n\r\t(),\x80\xff" "00.") + '\0';
        std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
        for (int round = 0; round < 3000; ++round) {
            std::string text(1 + round % 300, ' ');
            for (char& c : text) c = alphabet[pick(random)];
            if (round % 2 == 0) std::replace(text.begin(), text.end(), '\0', '9');
            for (int32_t precision : {-1, 0, 1, 2, 3, 6, 7, 15, 16}) {
                const ModelScan expected = model_scan(text, precision);
                const Scanned actual = scan(text, precision, width);
                ASSERT_EQ(actual.output, expected.output) << text;
                ASSERT_EQ(actual.edits, expected.edits) << text;
                ASSERT_EQ(actual.changes, expected.changes) << text;
            }
        }
    }
}

TEST(Scan, PiecesScanAsTheWholeText) {
    // Files are read a piece at a time; a cut that fell inside a token, a
    // word ("wall1e2" under -plain) or, under -only, a line would change
    // what the scan finds. Pieces of 1 to 40 bytes make every cut happen.
    const std::vector<std::string> words = {
        "1.9999999", "0.30000000000000004", "-2.5e-08", "1e-7", "105.40", "12.345", "0x1p3", "wall1e2", "_1.5",
        "a.1.50", " ", " ", "\n", "\r\n", "\t", ",", "(", ")", "\"", "+", "-", ".", "e", "E", std::string(1, '\0'),
        "( 1.9999999 2 3 ) ( 4 5 6 ) ( 7 8 9.0000001 ) base/wall1e2 [ 1 0 0 0.30000000000000004 ] 0 1.5 1.0000001",
        "\"origin\" \"1.0000001 2 3\"", "patchDef2\n{\n( 3 3 0.30000000000000004 0 0 )\n"};
    std::mt19937_64 random(13);
    std::uniform_int_distribution<size_t> pick(0, words.size() - 1);
    const struct {
        CleanRules rules;
        bool wholeLines;
    } cases[] = {{CleanRules{-1}, false},
                 {CleanRules{-1, false, true}, false},
                 {CleanRules{0}, false},
                 {CleanRules{2}, false},
                 {CleanRules{6}, false},
                 {CleanRules{-1, false, false, kPlanes | kTexture | kKeys}, true},
                 {CleanRules{0, false, false, kTexture | kPatches}, true},
                 {CleanRules{-1, true}, false},
                 {CleanRules{2, true, true}, false},
                 {CleanRules{0, true, false, kTexture | kPatches}, true}};
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        for (int n = 1 + round % 60; n > 0; --n) text += words[pick(random)];
        for (const auto& [rules, wholeLines] : cases) {
            int64_t wholeEdits = 0, pieceEdits = 0;
            const std::string whole = clean_text(text, rules, nullptr, wholeEdits);
            const size_t block = 1 + round % 40;
            ASSERT_EQ(clean_in_pieces(text, rules, block, wholeLines, pieceEdits), whole) << text;
            ASSERT_EQ(pieceEdits, wholeEdits) << text;
            // Files are settled a piece at a time by the scan alone: one
            // pass must be all that settling takes.
            int passes = 0;
            if (rules.stable) clean_text(text, rules, nullptr, wholeEdits, &passes);
            ASSERT_LE(passes, 1) << text;
        }
    }
}

TEST(Scan, RunsOfWordBytesLongerThanANumberAreCutIntoPieces) {
    // No number is longer than kLongestNumber: a longer run of word bytes
    // stays as written in every mode, and is read a piece at a time.
    const std::string digits(kLongestNumber + 9, '7'), zeros(kLongestNumber, '0');
    std::string guid;
    while (guid.size() <= kLongestNumber) guid += "ab12-0000-";
    const struct {
        std::string text, automatic;
    } cases[] = {
        {"a 1.0000001 " + digits + " 2.5000001\n", "a 1 " + digits + " 2.5\n"},
        {"x 1." + zeros + "1 1.9999999\n", "x 1." + zeros + "1 2\n"},
        {"{" + guid + "} 0.30000000000000004", "{" + guid + "} 0.3"},
        {digits + "1.9999999", digits + "1.9999999"},
        {digits + std::string(1, '\0') + "1.9999999", digits + std::string(1, '\0') + "1.9999999"},
    };
    for (const auto& c : cases) {
        int64_t edits = 0;
        EXPECT_EQ(clean_text(c.text, CleanRules{-1}, nullptr, edits), c.automatic);
        for (const CleanRules& rules : {CleanRules{-1}, CleanRules{2}, CleanRules{-1, true, true}}) {
            for (size_t block : {size_t{65536}, size_t{300000}}) {
                // The piece after a cut inside a run is a noisy number: it
                // goes on a word and stays.
                const std::string tail = std::string((kLongestNumber / block + 1) * block, '7') + "1.0000001 2.5000001";
                int64_t tailEdits = 0;
                EXPECT_TRUE(clean_in_pieces(tail, rules, block, false, tailEdits) ==
                            tail.substr(0, tail.size() - 10) + " 2.5");
                int64_t wholeEdits = 0, pieceEdits = 0;
                const std::string whole = clean_text(c.text, rules, nullptr, wholeEdits);
                EXPECT_TRUE(clean_in_pieces(c.text, rules, block, false, pieceEdits) == whole) << c.text.substr(0, 20);
                EXPECT_EQ(pieceEdits, wholeEdits);
            }
        }
    }
}

TEST(Scan, CandidateSearchesAgreeAtEveryWidthAndAlignment) {
    // Each hit at each offset of a block, and hits split across blocks.
    std::mt19937_64 random(9);
    const std::string alphabet = "0099.eExXpP+- 1a5";
    for (int round = 0; round < 20000; ++round) {
        std::string text(1 + random() % 120, ' ');
        for (char& c : text) c = alphabet[random() % alphabet.size()];
        const char* const begin = text.data();
        const char* const end = begin + text.size();
        const size_t from = random() % text.size();
        const int precision = static_cast<int>(random() % (kMaxFixedCandidatePrecision + 1));
        const char* const automatic = find_automatic_candidate(begin, begin + from, end, SimdWidth::portable);
        const char* const fixed = find_fixed_candidate(begin, begin + from, end, precision, SimdWidth::portable);
        for (const SimdWidth width : {SimdWidth::sse2, SimdWidth::avx2}) {
            if (!simd_width_supported(width)) continue;
            ASSERT_EQ(find_automatic_candidate(begin, begin + from, end, width), automatic)
                << text << " from " << from;
            ASSERT_EQ(find_fixed_candidate(begin, begin + from, end, precision, width), fixed)
                << text << " from " << from << " at -p " << precision;
        }
    }
}

TEST(Scan, FixedPrecisionFindsTokensHiddenBehindOthers) {
    // Tokens that change, standing where only a place before them shows it.
    struct Case {
        const char* text;
        int32_t precision;
    };
    const Case cases[] = {
        {"x 0x1p1234567.5 y", 2}, {"x 5.12345678.5 y", 2}, {"x 1e1234567.5 y", 2}, {"x 5.1.5 y", 2},
        {"x 5.123456.5 y", 6},    {"x 5.5.5 y", 0},         {"x .5 -.5 +5 05 -05 1. 1.10 y", 2},
        {"x 12345678901234 y", 2}, {"x 0x1E y", 3},         {"x 1.2e3 y", 1},
        {"x 66e-1232339.3456 y", 4}, {"x 0x1p+1234567.5 y", 2}, {"x 1e5.5.5.5 y", 0},
    };
    for (const SimdWidth width : {SimdWidth::portable, SimdWidth::sse2, SimdWidth::avx2}) {
        if (!simd_width_supported(width)) continue;
        for (const Case& c : cases) {
            // Padded, so that the wide searches meet the case inside a block.
            const std::string text = std::string(40, ' ') + c.text + std::string(40, ' ');
            const ModelScan expected = model_scan(text, c.precision);
            EXPECT_EQ(scan(text, c.precision, width).changes, expected.changes) << c.text;
        }
    }
}

}  // namespace

namespace {

struct Settled {
    std::string output;
    int64_t edits = 0;
    std::vector<std::string> changes;
};

Settled settle(std::string_view text, int32_t precision, int* passes = nullptr) {
    Recorder recorder;
    Settled result;
    result.output = clean_text(text, CleanRules{precision, true}, &recorder, result.edits, passes);
    result.changes = std::move(recorder.changes);
    return result;
}

TEST(Stable, OneRunGivesWhatRepeatedRunsWould) {
    struct Case {
        const char* text;
        int32_t precision;
        const char* once;    // one designed pass
        const char* stable;  // with -stable
        std::vector<std::string> changes;
    };
    const Case cases[] = {
        // A zero run wins over a nine run; the cut value has a nine run.
        {"x 1.99900001\n", -1, "x 1.999\n", "x 2\n", {"1.99900001>2@1"}},
        {"92.74999999980000001", -1, "92.7499999998", "92.75", {"92.74999999980000001>92.75@1"}},
        {"000e01e0", -1, "000e01e0", "000e01e0", {}},
        {"1.10.377", 3, "1.10.377", "1.10.377", {}},
        // Nothing to settle.
        {"a 0.30000000000000004 b", -1, "a 0.3 b", "a 0.3 b", {"0.30000000000000004>0.3@1"}},
        {"plain 12 text", -1, "plain 12 text", "plain 12 text", {}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(clean_text(c.text, c.precision), c.once) << c.text;
        const Settled settled = settle(c.text, c.precision);
        EXPECT_EQ(settled.output, c.stable) << c.text;
        EXPECT_EQ(settled.changes, c.changes) << c.text;
        EXPECT_EQ(settled.edits, static_cast<int64_t>(c.changes.size())) << c.text;
    }
}

TEST(Stable, ASecondRunChangesNothingOnRandomText) {
    std::mt19937_64 random(11);
    const std::string alphabet = "0123456789999000.+-eE \n";
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    for (int round = 0; round < 3000; ++round) {
        std::string text(1 + round % 200, ' ');
        for (char& c : text) c = alphabet[pick(random)];
        for (int32_t precision : {-1, 0, 2}) {
            int passes = 0;
            const std::string once = settle(text, precision, &passes).output;
            // A rewrite never touches its neighbours, so one pass settles.
            ASSERT_LE(passes, 1) << precision << ": " << text;
            ASSERT_EQ(clean_text(once, precision), once) << precision << ": " << text;
        }
    }
}

}  // namespace
