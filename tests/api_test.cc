// The library's C interface and its C++ header, as a program linking the
// library sees them, checked against the model of the straightforward
// computation.
#include "mapclean/mapclean.hpp"

#include <gtest/gtest.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <thread>
#include <tuple>

#include "model.h"

namespace {

mapclean_options with_precision(int precision) {
    mapclean_options options = MAPCLEAN_OPTIONS_INIT;
    options.precision = precision;
    return options;
}

// Collects what mapclean_clean_text hands on, a piece at a time.
struct Collected {
    std::string text;
    int pieces = 0;
    int stopAfter = -1;  // >= 0: ask to stop after this many pieces
};

int collect(void* user, const char* bytes, size_t length) {
    auto& c = *static_cast<Collected*>(user);
    c.text.append(bytes, length);
    ++c.pieces;
    return c.stopAfter >= 0 && c.pieces >= c.stopAfter ? 1 : 0;
}

TEST(Api, Version) {
    EXPECT_STREQ(mapclean_version(), MAPCLEAN_VERSION_STRING);
    // The string and the number spell the same three parts (set in one place).
    const std::string parts = std::to_string(MAPCLEAN_VERSION_MAJOR) + "." + std::to_string(MAPCLEAN_VERSION_MINOR) +
                              "." + std::to_string(MAPCLEAN_VERSION_PATCH);
    EXPECT_EQ(parts, mapclean_version());
    EXPECT_EQ(mapclean_version_number(),
              MAPCLEAN_VERSION_MAJOR * 10000 + MAPCLEAN_VERSION_MINOR * 100 + MAPCLEAN_VERSION_PATCH);
}

TEST(Api, CleanTextGivesTheModelsTextInPieces) {
    std::mt19937_64 random(17);
    const std::string alphabet = std::string("0123456789.+-eExXpaf \n\r\t(),\"") + '\0' + "0009999";
    for (int round = 0; round < 1500; ++round) {
        std::string text(1 + round % 400, ' ');
        for (char& c : text) c = alphabet[random() % alphabet.size()];
        for (const int precision : {-1, 0, 2, 6}) {
            const mapclean_options options = with_precision(precision);
            Collected out;
            int64_t edits = -1;
            ASSERT_EQ(mapclean_clean_text(text.data(), text.size(), &options, collect, &out, &edits), MAPCLEAN_OK);
            const ModelScan model = model_scan(text, precision);
            ASSERT_EQ(out.text, model.output) << text;
            ASSERT_EQ(edits, model.edits) << text;
        }
    }
}

TEST(Api, OptionsOfEveryKind) {
    const std::string text = "( 1.99900001 0 0.5 ) ( 0 1 0 ) ( 0 0 1 ) tex 1.5E3 0.30000000000000004 0 1 1\n"
                             "\"_tb_id\" \"{300d129e-0153-4b1f}\"\n";
    const struct {
        int precision, stable, plain;
        unsigned only;
        const char* first;
    } cases[] = {
        {-1, 0, 0, 0, "( 1.999 0 0.5 ) ( 0 1 0 ) ( 0 0 1 ) tex 1.5E3 0.3 0 1 1\n"},
        {-1, 1, 0, 0, "( 2 0 0.5 ) ( 0 1 0 ) ( 0 0 1 ) tex 1.5E3 0.3 0 1 1\n"},
        {-1, 0, 1, 0, "( 1.999 0 0.5 ) ( 0 1 0 ) ( 0 0 1 ) tex 1500 0.3 0 1 1\n"},
        {0, 0, 0, MAPCLEAN_ONLY_OFFSETS, "( 1.99900001 0 0.5 ) ( 0 1 0 ) ( 0 0 1 ) tex 1500 0 0 1 1\n"},
        {0, 0, 0, MAPCLEAN_ONLY_PLANES, "( 2 0 1 ) ( 0 1 0 ) ( 0 0 1 ) tex 1.5E3 0.30000000000000004 0 1 1\n"},
    };
    for (const auto& c : cases) {
        mapclean_options options;
        mapclean_options_init(&options);
        options.precision = c.precision;
        options.stable = c.stable;
        options.plain = c.plain;
        options.only = c.only;
        Collected out;
        ASSERT_EQ(mapclean_clean_text(text.data(), text.size(), &options, collect, &out, nullptr), MAPCLEAN_OK);
        EXPECT_EQ(out.text, std::string(c.first) + "\"_tb_id\" \"{300d129e-0153-4b1f}\"\n") << c.precision;
    }
    // No options: the defaults; no callback: only the count.
    int64_t edits = 0;
    EXPECT_EQ(mapclean_clean_text(text.data(), text.size(), nullptr, nullptr, nullptr, &edits), MAPCLEAN_OK);
    EXPECT_EQ(edits, 2);
    // The bytes after a NUL are handed on unchanged.
    const std::string withNul("1.9999999\0 1.9999999", 20);
    Collected out;
    ASSERT_EQ(mapclean_clean_text(withNul.data(), withNul.size(), nullptr, collect, &out, nullptr), MAPCLEAN_OK);
    EXPECT_EQ(out.text, std::string("2\0 1.9999999", 12));
}

TEST(Api, ErrorsAreReturnCodes) {
    const std::string text = "a 1.9999999\nb 0.30000000000000004\n";
    mapclean_options options = MAPCLEAN_OPTIONS_INIT;
    options.version = 2;
    EXPECT_EQ(mapclean_clean_text(text.data(), text.size(), &options, collect, nullptr, nullptr), MAPCLEAN_EINVAL);
    options = MAPCLEAN_OPTIONS_INIT;
    options.only = 0x200;
    EXPECT_EQ(mapclean_clean_text(text.data(), text.size(), &options, collect, nullptr, nullptr), MAPCLEAN_EINVAL);
    EXPECT_EQ(mapclean_clean_text(nullptr, 3, nullptr, collect, nullptr, nullptr), MAPCLEAN_EINVAL);
    EXPECT_EQ(mapclean_clean_text(nullptr, 0, nullptr, nullptr, nullptr, nullptr), MAPCLEAN_OK);

    // The callback stops the run: what it received stands, nothing follows.
    for (const int stable : {0, 1}) {
        options = MAPCLEAN_OPTIONS_INIT;
        options.stable = stable;
        Collected out;
        out.stopAfter = 1;
        int64_t edits = -1;
        EXPECT_EQ(mapclean_clean_text(text.data(), text.size(), &options, collect, &out, &edits), MAPCLEAN_EUSER);
        EXPECT_EQ(out.pieces, 1);
        EXPECT_EQ(edits, -1);
    }

    // Too small a buffer: the size needed, nothing claimed.
    char out[8];
    size_t written = 0;
    EXPECT_EQ(mapclean_clean_token("0.30000000000000004", 19, nullptr, nullptr, 0, &written), MAPCLEAN_EBUFS);
    EXPECT_EQ(written, 3u);
    EXPECT_EQ(mapclean_clean_token("123.25", 6, nullptr, out, 5, &written), MAPCLEAN_EBUFS);
    EXPECT_EQ(written, 6u);
    EXPECT_EQ(mapclean_clean_token("123.25", 6, nullptr, out, 6, &written), MAPCLEAN_OK);
    EXPECT_EQ(std::string(out, written), "123.25");
    EXPECT_EQ(mapclean_clean_token("1.9999999", 9, nullptr, out, sizeof out, &written), MAPCLEAN_OK);
    EXPECT_STREQ(out, "2");
    for (const char* bad : {"", "x", "1.5 2", "1.5x", "--1"}) {
        EXPECT_EQ(mapclean_clean_token(bad, std::strlen(bad), nullptr, out, sizeof out, &written), MAPCLEAN_EINVAL)
            << bad;
    }
    EXPECT_EQ(mapclean_clean_token("1", 1, nullptr, out, sizeof out, nullptr), MAPCLEAN_EINVAL);
    // A length no object can have is refused before any view of it is made.
    EXPECT_EQ(mapclean_clean_token("1", SIZE_MAX, nullptr, out, sizeof out, &written), MAPCLEAN_EINVAL);
    EXPECT_EQ(mapclean_clean_text("1", SIZE_MAX, nullptr, collect, nullptr, nullptr), MAPCLEAN_EINVAL);
    EXPECT_EQ(mapclean_format_double(std::numeric_limits<double>::infinity(), nullptr, out, sizeof out, &written),
              MAPCLEAN_EINVAL);
    EXPECT_EQ(mapclean_format_double(std::nan(""), nullptr, out, sizeof out, &written), MAPCLEAN_EINVAL);
    for (const int code : {MAPCLEAN_OK, MAPCLEAN_EINVAL, MAPCLEAN_ENOMEM, MAPCLEAN_EBUFS, MAPCLEAN_EUSER, 7}) {
        EXPECT_GT(std::strlen(mapclean_strerror(code)), 0u);
    }
    // A zeroed struct, the usual mistake: the error's text names the cause.
    const mapclean_options zeroed{};
    const int code = mapclean_clean_token("1", 1, &zeroed, out, sizeof out, &written);
    EXPECT_EQ(code, MAPCLEAN_EINVAL);
    EXPECT_NE(std::string(mapclean_strerror(code)).find("MAPCLEAN_OPTIONS_INIT"), std::string::npos);
}

// The shortest text of `value`, as std::to_chars writes it.
std::string shortest(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

TEST(Api, FormatDoubleIsTheTokenRewriteOfTheShortestText) {
    struct Case {
        double value;
        int precision;
        bool plain;
        const char* text;
    };
    const Case cases[] = {
        {0.1 + 0.2, -1, false, "0.3"},
        {1.9999999999999998, -1, false, "2"},
        {-2.220446049250313e-16, -1, false, "0"},
        {1e-07, -1, false, "0"},
        {0.7999999999999999, -1, false, "0.8"},
        {-1.0000000000000002, -1, false, "-1"},
        {1e21, -1, false, "1e+21"},
        {1e21, -1, true, "1000000000000000000000"},
        {0.25, -1, false, "0.25"},
        {-0.0, -1, false, "-0"},
        {12.3456, 2, false, "12.35"},
        {0.125, 0, false, "0"},
        {1e21, 2, false, "999999999999999868928"},  // round(1e21 * 100) / 100, as the program rounds
    };
    for (const Case& c : cases) {
        mapclean_options options = with_precision(c.precision);
        options.plain = c.plain;
        char out[64];
        size_t written = 0;
        ASSERT_EQ(mapclean_format_double(c.value, &options, out, sizeof out, &written), MAPCLEAN_OK) << c.text;
        EXPECT_EQ(std::string(out, written), c.text);
    }
    // The longest texts, with plain and at 308 decimals, fit the header's bound.
    for (const auto& [value, precision, plain, length] : {std::tuple(-1.7976931348623157e308, -1, 1, 310),
                                                          std::tuple(-2.2250738585072014e-308, 308, 0, 311)}) {
        mapclean_options options = with_precision(precision);
        options.plain = plain;
        char out[MAPCLEAN_FORMAT_DOUBLE_BOUND];
        size_t written = 0;
        ASSERT_EQ(mapclean_format_double(value, &options, out, sizeof out, &written), MAPCLEAN_OK);
        EXPECT_EQ(written, static_cast<size_t>(length));
        EXPECT_EQ(std::strlen(out), written);
    }
    // Random doubles of every magnitude, against the model's rewrite.
    std::mt19937_64 random(23);
    int compared = 0;
    for (int round = 0; round < 100000; ++round) {
        const uint64_t bits = random();
        double value = 0;
        std::memcpy(&value, &bits, sizeof value);
        if (!std::isfinite(value)) continue;
        if (round % 2) value = std::ldexp(static_cast<double>(random() % 100000) / 1000.0, 0);
        const std::string token = shortest(value);
        for (const int precision : {-1, 3}) {
            const mapclean_options options = with_precision(precision);
            char out[512];
            size_t written = 0;
            ASSERT_EQ(mapclean_format_double(value, &options, out, sizeof out, &written), MAPCLEAN_OK) << token;
            ASSERT_EQ(std::string(out, written), model_rewrite(token, std::strtod(token.c_str(), nullptr), precision))
                << token;
            ++compared;
        }
    }
    EXPECT_GT(compared, 150000);
}

TEST(Api, CppHeader) {
    int64_t edits = 0;
    EXPECT_EQ(mapclean::clean("a 1.9999999 b 0.30000000000000004\n", {}, &edits), "a 2 b 0.3\n");
    EXPECT_EQ(edits, 2);
    EXPECT_EQ(mapclean::clean("a 12.3456\n", {.precision = 2}), "a 12.35\n");
    EXPECT_EQ(mapclean::format(0.1 + 0.2), "0.3");
    EXPECT_EQ(mapclean::format(1e21, {.plain = true}), "1000000000000000000000");
    EXPECT_EQ(mapclean::clean_token("1.9999999"), "2");
    const std::string longer = mapclean::clean_token("1e-70", {.precision = 80});
    EXPECT_EQ(longer, model_rewrite("1e-70", 1e-70, 80));
    EXPECT_GT(longer.size(), 64u);  // longer than the first buffer tried
    try {
        mapclean::clean("x", {.only = 0x1000});
        ADD_FAILURE() << "no exception";
    } catch (const mapclean::error& e) {
        EXPECT_EQ(e.code(), MAPCLEAN_EINVAL);
    }
    EXPECT_THROW(mapclean::clean_token("x"), mapclean::error);
}

TEST(Api, ThreadsCleanAtOnce) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "( " + std::to_string(i) + ".30000000000000004 1.9999999 0 ) tex 0 0 0 1 1\n";
    const std::string expected = mapclean::clean(text);
    std::string results[4];
    std::thread threads[4];
    for (int t = 0; t < 4; ++t) {
        threads[t] = std::thread([&, t] { results[t] = mapclean::clean(text, {.precision = t % 2 ? -1 : 3}); });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 4; ++t) {
        EXPECT_EQ(results[t], t % 2 ? expected : mapclean::clean(text, {.precision = 3})) << t;
    }
}

}  // namespace
