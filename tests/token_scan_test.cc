// Token extents must be exactly what strtod takes, and number starts exactly
// the bytes that may begin one.
#include "core/token_scan.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

namespace {

// The reference: how many bytes strtod consumes from the start of `text`.
size_t strtod_length(const std::string& text) {
    char* end = nullptr;
    std::strtod(text.c_str(), &end);
    return static_cast<size_t>(end - text.c_str());
}

TEST(NumberTokenLength, TakesWhatStrtodTakes) {
    struct Case {
        const char* text;
        size_t length;
    };
    const Case cases[] = {
        {"1.5e-10 ", 7}, {"0x1F,", 4},     {"1.", 2},      {"1.2.3", 3},     {".3", 2},
        {"-.5x", 3},     {"+.x", 0},       {"-.e", 0},     {"1e", 1},        {"1e+", 1},
        {"1e+5", 4},     {"1E-05x", 5},    {"0x", 1},      {"0x.", 1},       {"0xg", 1},
        {"0x.8", 4},     {"0x1p", 3},      {"0x1p-", 3},   {"0x1p-2", 6},    {"0x1e-7", 4},
        {"0x1.8P+3", 8}, {"-0X1.fp0", 8},  {"12abc", 2},   {"007", 3},       {"5e5e5", 3},
        {"1..2", 2},     {"+5", 2},        {"-0", 2},      {"9\n1", 1},      {"1\xc3\xa9", 1},
        {"1e\xb2", 1},   {"0x1.p1", 6},    {"1.e5", 4},    {".e5", 0},       {"1e5.5", 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(number_token_length(c.text, 0), c.length) << "text '" << c.text << "'";
        EXPECT_EQ(strtod_length(c.text), c.length) << "reference disagrees on '" << c.text << "'";
    }
}

TEST(NumberTokenLength, NeverReadsPastTheView) {
    // The view ends inside what would otherwise be one longer token.
    const std::string text = "1.5e-10";
    EXPECT_EQ(number_token_length(std::string_view(text).substr(0, 4), 0), 3u);  // "1.5e"
    EXPECT_EQ(number_token_length(std::string_view(text).substr(0, 1), 0), 1u);
    EXPECT_EQ(number_token_length(std::string_view("0x10").substr(0, 2), 0), 1u);
    EXPECT_EQ(number_token_length(std::string_view("-").substr(0, 1), 0), 0u);
}

// Every string of up to six bytes over the alphabet that matters, compared
// with strtod wherever one of them is a number start.
TEST(NumberTokenLength, MatchesStrtodExhaustively) {
    const std::string alphabet = "019.+-eExXpPa ";
    const size_t maxLength = 6;
    std::string text;
    size_t compared = 0;
    std::vector<size_t> digits(maxLength, 0);
    for (size_t length = 1; length <= maxLength; ++length) {
        std::fill(digits.begin(), digits.end(), 0);
        while (true) {
            text.assign(length, ' ');
            for (size_t i = 0; i < length; ++i) text[i] = alphabet[digits[i]];
            if (is_number_start(text, 0)) {
                ASSERT_EQ(number_token_length(text, 0), strtod_length(text)) << "'" << text << "'";
                ++compared;
            }
            size_t i = 0;
            while (i < length && ++digits[i] == alphabet.size()) digits[i++] = 0;
            if (i == length) break;
        }
    }
    EXPECT_GT(compared, 1000000u);
}

TEST(NumberTokenLength, MatchesStrtodOnRandomText) {
    std::mt19937_64 random(20261207);
    const std::string alphabet = "0123456789abcdefABCDEF.+-eExXpP \t\n,\xff";
    std::uniform_int_distribution<size_t> pick(0, alphabet.size() - 1);
    std::uniform_int_distribution<size_t> length(1, 40);
    for (int round = 0; round < 200000; ++round) {
        std::string text(length(random), ' ');
        for (char& c : text) c = alphabet[pick(random)];
        if (!is_number_start(text, 0)) continue;
        ASSERT_EQ(number_token_length(text, 0), strtod_length(text)) << "'" << text << "'";
    }
}

TEST(IsNumberStart, DigitsSignsAndPoints) {
    struct Case {
        const char* text;
        bool start;
    };
    const Case cases[] = {{"0", true},  {"9x", true},  {"+1", true},  {"-.", true},  {"+.5", true},
                          {".5", true}, {".x", false}, {"+x", false}, {"-", false},  {".", false},
                          {"a", false}, {"\xb9", false}, {"--1", false}, {"e5", false}, {" 1", false}};
    for (const Case& c : cases) {
        EXPECT_EQ(is_number_start(c.text, 0), c.start) << "'" << c.text << "'";
    }
}

TEST(ParseTokenValue, AgreesWithStrtodIncludingRange) {
    EXPECT_EQ(parse_token_value("0.30000000000000004"), 0.30000000000000004);
    EXPECT_EQ(parse_token_value("0x1.8p1"), 3.0);
    EXPECT_EQ(parse_token_value("-0x10"), -16.0);
    EXPECT_EQ(parse_token_value("1e999"), HUGE_VAL);
    EXPECT_EQ(parse_token_value("-1e999"), -HUGE_VAL);
    EXPECT_EQ(parse_token_value("1e-400"), 0.0);
    EXPECT_EQ(parse_token_value("4.9e-324"), 4.9e-324);
    EXPECT_TRUE(std::signbit(parse_token_value("-0")));
}

}  // namespace
