// Token rewriting in both modes, from the token's text as the scanner finds it.
#include "core/number_token.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "model.h"
#include "core/token_scan.h"

namespace {

struct Case {
    const char* token;
    const char* expected;
};

std::string rewrite(const std::string& token, int32_t precision) {
    return process_number_token(token, parse_token_value(token), precision);
}

void expect_all(const std::vector<Case>& cases, int32_t precision) {
    for (const Case& c : cases) {
        EXPECT_EQ(rewrite(c.token, precision), c.expected) << "token " << c.token << ", precision "
                                                            << precision;
    }
}

TEST(AutomaticMode, ZeroRunCutsBeforeTheRun) {
    expect_all({{"0.30000000000000004", "0.3"},
                {"123.4560001", "123.456"},
                {"7.123000", "7.123"},
                {"5.10001", "5.1"},
                {".30000000000000004", ".3"},
                {"-1.0000000000000002", "-1"},
                {"+1.5000001", "+1.5"}},
               -1);
}

// Digits that begin with '0' and another digit are no double's print but an
// address or a counter (a linker map's "0001:00000e34"): automatic mode
// leaves them; fixed precision still rounds every number.
TEST(LeadingZeros, AutomaticModeLeavesThemFixedPrecisionRounds) {
    const struct {
        const char* token;
        const char* automatic;
        const char* atTwo;
    } cases[] = {
        {"000000e8", "000000e8", "0"},     {"00000e34", "00000e34", "0"},
        {"0000e200", "0000e200", "0"},     {"000e3358", "000e3358", "0"},
        {"0003", "0003", "3"},             {"-007.5000001", "-007.5000001", "-7.5"},
        {"00e5", "00e5", "0"},             {"+00.30000000000000004", "+00.30000000000000004", "0.3"},
        {"007.25000001", "007.25000001", "7.25"},
        // One '0' before the point or exponent is how doubles are printed.
        {"0.30000000000000004", "0.3", "0.3"}, {"0e5", "0", "0"}, {"-0.0000001", "-0", "-0"},
        {"0x1e", "0x1e", "30"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(rewrite(c.token, -1), c.automatic) << c.token;
        EXPECT_EQ(rewrite(c.token, 2), c.atTwo) << c.token;
        std::string plain;
        EXPECT_FALSE(c.automatic == std::string(c.token) &&
                     rewrite_number_token_plain(c.token, scan_number_token(c.token, 0), plain))
            << c.token << " -> " << plain;
    }
}

TEST(AutomaticMode, FractionStartingWithFourZerosKeepsTheIntegerPart) {
    expect_all({{"5.00001", "5"},
                {"100.0000", "100"},
                {"0.0000123", "0"},
                {"-0.0000001", "-0"},
                {"+1.00000", "+1"},
                // No digit before the point: a number must stay in place.
                {".00001", "0"},
                {"-.00001", "-0"},
                {"+.0000", "+0"}},
               -1);
}

TEST(AutomaticMode, NineRunRoundsAtTheRun) {
    expect_all({{"1.9999999", "2"},
                {"9.9999", "10"},
                {"99.9995", "100"},
                {"0.2999999", "0.3"},
                {"1.23999", "1.24"},
                {"1.0009999", "1.001"},
                {"-1.9999", "-2"},
                {"-0.0999", "-0.1"},
                {"1.99900001", "1.999"}},  // the zero run wins
               -1);
}

TEST(AutomaticMode, ExponentFormsBelowTheBoundBecomeZero) {
    expect_all({{"1e-7", "0"},
                {"-2.5e-08", "0"},
                {"4.0E-7", "0"},
                {"0e5", "0"},
                {"9.99e-7", "0"},
                {"1e-400", "0"},  // underflows to zero
                {"1e-6", "1e-6"},
                {"1.0e-6", "1.0e-6"},
                {"1.5e300", "1.5e300"},
                {"1E5", "1E5"},
                {"1e999", "1e999"},      // overflows to infinity; left alone
                {"0x1E", "0x1E"},        // hex digits e/E count as exponent form
                {"0x0.000000e", "0"},    // ...and so does the bound
                {"2.50000001e3", "2.50000001e3"}},
               -1);
}

TEST(AutomaticMode, EverythingElseIsUnchanged) {
    expect_all({{"5.0001", "5.0001"},
                {"0.000123", "0.000123"},
                {"1.000", "1.000"},
                {"100", "100"},
                {"2.50", "2.50"},
                {"1.", "1."},
                {".5", ".5"},
                {"-7", "-7"},
                {"0x10", "0x10"},
                // Hexadecimal fractions are never cut or rounded as decimals.
                {"0x1.0000p3", "0x1.0000p3"},
                {"0x1.999p0", "0x1.999p0"},
                {"-0x.0000001", "-0x.0000001"}},
               -1);
}

TEST(AutomaticMode, LongTokensAreRewrittenWithoutLimits) {
    const std::string intPart(40, '7');
    EXPECT_EQ(rewrite(intPart + ".25000001", -1), intPart + ".25");
    EXPECT_EQ(rewrite(intPart + ".00001", -1), intPart);
    const std::string kept = "1" + std::string(70, '2');
    EXPECT_EQ(rewrite("3." + kept + "0001", -1), "3." + kept);
    const std::string huge = std::string(5000, '4') + ".5";
    EXPECT_EQ(rewrite(huge, -1), huge);
}

TEST(AutomaticMode, NineRunOutOfDoubleRangeIsLeftAlone) {
    // 10^309 is not a finite double: the rounding must not write "inf".
    const std::string token = "0." + std::string(309, '1') + "999";
    EXPECT_EQ(rewrite(token, -1), token);
    // 308 places still round (the value has long lost those digits).
    const std::string near = "0.5" + std::string(307, '1') + "999";
    const std::string result = rewrite(near, -1);
    EXPECT_NE(result.find("0.5"), std::string::npos) << result;
    EXPECT_EQ(result.find_first_of("ni"), std::string::npos) << result;
}

TEST(FixedMode, RoundsToPrecisionAndTrims) {
    expect_all({{"12.3456", "12.35"},
                {"0.125", "0.13"},
                {"1.005", "1"},  // the double nearest 1.005 lies below it
                {"0.30000000000000004", "0.3"},
                {"2.5", "2.5"},
                {"100", "100"},
                {"-0.001", "-0"},
                {"1e3", "1000"},
                {"007", "7"},
                {"0x10", "16"},
                {"0x1.8p1", "3"},
                {"-12.3456", "-12.35"},
                {"1e-7", "0"}},
               2);
    expect_all({{"2.5", "3"},
                {"-2.5", "-3"},
                {"100", "100"},
                {"12.3456", "12"},
                {"0.125", "0"},
                {"-0.4", "-0"}},
               0);
    expect_all({{"0.1234567", "0.123457"}, {"1.5e-5", "0.000015"}}, 6);
}

TEST(FixedMode, LargeResultsComeOutInFull) {
    const std::string big = rewrite("1e300", 2);
    EXPECT_EQ(big.size(), 301u) << big;
    EXPECT_EQ(big.rfind("10000000000000000525047602552044202487", 0), 0u) << big;
    EXPECT_EQ(std::strtod(big.c_str(), nullptr), 1e300);

    // 100 decimals, well past any fixed field.
    const std::string longFraction = rewrite("1e-30", 100);
    EXPECT_GT(longFraction.size(), 63u) << longFraction;
    EXPECT_EQ(longFraction.rfind("0.000000000000000000000000000001", 0), 0u) << longFraction;
    EXPECT_NE(longFraction.back(), '0');
}

TEST(FixedMode, ResultsOutOfDoubleRangeLeaveTheToken) {
    expect_all({{"1e999", "1e999"}, {"-1e999", "-1e999"}}, 2);
    expect_all({{"1.5", "1.5"}, {"0", "0"}}, 309);  // 10^309 overflows
    expect_all({{"1e307", "1e307"}}, 2);             // 1e307 * 100 overflows
    expect_all({{"2.5", "2.5"}}, INT32_MAX);
}

TEST(TrailingZeroTrim, ActsOnlyOnTextsWithAPoint) {
    const std::vector<Case> cases = {{"1.50", "1.5"},  {"2.00", "2"},  {"-0.00", "-0"},
                                     {"100", "100"},   {"10.0", "10"}, {"0.000", "0"},
                                     {"1.05", "1.05"}, {"", ""}};
    for (const Case& c : cases) {
        std::string text = c.token;
        trim_trailing_zeros(text);
        EXPECT_EQ(text, c.expected) << c.token;
    }
}

// Random tokens shaped like the noise in real files (runs of '0' and '9',
// exponents, signs, hexadecimal forms), the fast rules against the model.
std::string random_token(std::mt19937_64& random) {
    auto chance = [&](int percent) { return static_cast<int>(random() % 100) < percent; };
    auto digits = [&](size_t most) {
        std::string text;
        const size_t length = random() % (most + 1);
        const char* alphabets[] = {"0123456789", "09", "0", "9", "01", "89"};
        const char* alphabet = alphabets[random() % 6];
        const size_t size = std::strlen(alphabet);
        for (size_t i = 0; i < length; ++i) text += alphabet[random() % size];
        return text;
    };
    std::string token;
    if (chance(30)) token += chance(50) ? '-' : '+';
    if (chance(8)) {
        token += chance(50) ? "0x" : "0X";
        const char* hex = "0123456789abcdefABCDEF";
        const size_t length = 1 + random() % 6;
        for (size_t i = 0; i < length; ++i) token += hex[random() % 22];
        if (chance(50)) token += "." + digits(6);
        if (chance(40)) token += "p" + std::string(chance(50) ? "-" : "") + std::to_string(random() % 40);
        return token;
    }
    const std::string whole = digits(chance(5) ? 40 : 8);
    const std::string fraction = digits(chance(5) ? 40 : 18);
    const bool point = chance(80) || whole.empty();
    if (whole.empty() && fraction.empty()) return token + "0";
    token += whole;
    if (point) token += "." + fraction;
    if (chance(25)) {
        token += chance(50) ? 'e' : 'E';
        if (chance(70)) token += chance(60) ? '-' : '+';
        token += std::to_string(random() % (chance(10) ? 400 : 20));
    }
    return token;
}

TEST(Differential, FastRulesMatchTheModel) {
    std::mt19937_64 random(42);
    const int32_t precisions[] = {-1, -1, -1, 0, 1, 2, 3, 6, 10, 15, 17, 22, 23, 30, 100, 308, 309};
    std::string replacement;
    for (int round = 0; round < 300000; ++round) {
        const std::string token = random_token(random);
        ASSERT_EQ(number_token_length(token, 0), token.size()) << token;
        const double value = std::strtod(token.c_str(), nullptr);
        const int32_t precision = precisions[random() % std::size(precisions)];
        const std::string expected = model_rewrite(token, value, precision);
        ASSERT_EQ(process_number_token(token, value, precision), expected)
            << token << " at " << precision;
        replacement = "untouched";
        const bool changed = rewrite_number_token(token, precision, replacement);
        ASSERT_EQ(changed, expected != token) << token << " at " << precision;
        ASSERT_EQ(changed ? replacement : token, expected) << token << " at " << precision;
    }
}

TEST(Differential, ParsedValuesMatchStrtod) {
    std::mt19937_64 random(9);
    for (int round = 0; round < 200000; ++round) {
        const std::string token = random_token(random);
        const double expected = std::strtod(token.c_str(), nullptr);
        const double actual = parse_token_value(token);
        ASSERT_TRUE(std::memcmp(&expected, &actual, sizeof expected) == 0)
            << token << ": " << actual << " vs " << expected;
    }
}

}  // namespace

namespace {

std::string plain_rewrite(const std::string& token) {
    std::string replacement;
    return rewrite_number_token_plain(token, scan_number_token(token, 0), replacement) ? replacement : token;
}

TEST(PlainMode, ExponentFormsBecomePlainDecimalsThenAutomaticRulesApply) {
    const Case cases[] = {
        {"1.5E3", "1500"},           {"2.5e+2", "250"},          {"+2.5e1", "+25"},
        {"1.5e-4", "0.00015"},       {"1.0000000000000002e+00", "1"}, {"9.9999999e-01", "1"},
        {"-7.62939e-06", "-0"},      {"1e-6", "0"},       {"-00012.5000e-1", "-00012.5000e-1"},
        {"120E-2", "1.2"},           {".5e1", "5"},              {"5.e0", "5"},
        {"1.23456e2", "123.456"},    {"4.37114e-08", "0"},       {"-2.220446049250313e-16", "0"},
        {"-5e468760", "-5e468760"},  {"1e309", "1e309"},         {"0x1.8p3", "0x1.8p3"},
        {"0x1E", "0x1E"},            {"12.5", "12.5"},           {"0.30000000000000004", "0.3"},
    };
    for (const Case& c : cases) EXPECT_EQ(plain_rewrite(c.token), c.expected) << c.token;
    EXPECT_EQ(plain_rewrite("1e300"), "1" + std::string(300, '0'));
}

// The plain form by another road: the digits written out with the point
// moved one place at a time.
std::string plain_by_steps(const std::string& token) {
    std::string sign, text = token;
    if (text[0] == '+' || text[0] == '-') {
        sign = text.substr(0, 1);
        text.erase(0, 1);
    }
    const size_t letter = text.find_first_of("eE");
    long shift = std::strtol(text.c_str() + letter + 1, nullptr, 10);
    text.resize(letter);
    if (text.find('.') == std::string::npos) text += '.';
    for (; shift > 0; --shift) {
        const size_t dot = text.find('.');
        if (dot + 1 == text.size()) text += '0';
        std::swap(text[dot], text[dot + 1]);
    }
    for (; shift < 0; ++shift) {
        size_t dot = text.find('.');
        if (dot == 0) text.insert(0, 1, '0'), dot = 1;
        std::swap(text[dot], text[dot - 1]);
    }
    while (text.size() > 1 && text[0] == '0' && text[1] != '.') text.erase(0, 1);
    if (text[0] == '.') text.insert(0, 1, '0');
    while (text.back() == '0' && text.find('.') != std::string::npos) text.pop_back();
    if (text.back() == '.') text.pop_back();
    return sign + text;
}

TEST(PlainMode, EveryRewriteIsWhatAutomaticModeMakesOfThePlainDigits) {
    std::mt19937_64 random(12);
    int checked = 0;
    for (int round = 0; round < 200000; ++round) {
        std::string token = random() % 4 == 0 ? "-" : "";
        const int intDigits = static_cast<int>(random() % 4), fracDigits = static_cast<int>(random() % 12);
        for (int i = 0; i < intDigits; ++i) token += static_cast<char>('0' + random() % 10);
        if (fracDigits > 0 || intDigits == 0) token += '.';
        for (int i = 0; i < std::max(fracDigits, intDigits == 0 ? 1 : 0); ++i) {
            // Runs of 0 and 9 are what the rules look for.
            token += "0123456789009999000"[random() % 19];
        }
        token += random() % 2 ? "e" : "E";
        token += std::to_string(static_cast<int>(random() % 24) - 10);
        const double val = std::strtod(token.c_str(), nullptr);
        if (!(std::fabs(val) >= 0.000001)) continue;
        const std::string plain = plain_by_steps(token);
        ASSERT_EQ(plain_decimal(token), plain) << token;
        const bool leadingZero = token[token[0] == '-'] == '0' && std::isdigit(token[(token[0] == '-') + 1]);
        const std::string expected = model_rewrite(plain, std::strtod(plain.c_str(), nullptr), -1);
        ASSERT_EQ(plain_rewrite(token), leadingZero ? token : expected) << token;
        ++checked;
    }
    EXPECT_GT(checked, 100000);
}

}  // namespace
