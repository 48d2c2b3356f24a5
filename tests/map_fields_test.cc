// The fields of map lines, on line shapes taken from real maps of each
// format, and "-only" as the scan applies it.
#include "core/map_fields.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "cli/options.h"
#include "core/scan.h"

namespace {

// "field:number" for each field number of `line`.
std::vector<std::string> fields_of(std::string_view line) {
    std::vector<std::string> found;
    for (const FieldNumber& n : field_numbers(line)) {
        const auto name = std::find_if(std::begin(kFieldNames), std::end(kFieldNames),
                                       [&](const FieldName& f) { return f.fields == n.field; });
        found.push_back(std::string(name->name) + ":" + std::string(line.substr(n.begin, n.end - n.begin)));
    }
    return found;
}

std::vector<std::string> expand(const std::string& field, const std::string& numbers) {
    std::vector<std::string> out;
    for (size_t i = 0; i < numbers.size();) {
        const size_t end = std::min(numbers.find(' ', i), numbers.size());
        out.push_back(field + ":" + numbers.substr(i, end - i));
        i = end + 1;
    }
    return out;
}

std::vector<std::string> join(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(MapFields, RecognisesEachFormatsLines) {
    const auto f = [](const std::string& field, const std::string& n) { return expand(field, n); };
    const auto faceOf = [](std::initializer_list<std::vector<std::string>> parts) {
        std::vector<std::string> all;
        for (const auto& part : parts) all = join(all, part);
        return all;
    };
    const struct {
        const char* format;
        std::string line;
        std::vector<std::string> fields;
    } cases[] = {
        {"Standard", "( 1088 -1792 -96 ) ( 1088 -1664 -96 ) ( 1088 -1792 -32 ) tech08_1 0 0 0 1.000000 1.000000\n",
         faceOf({f("planes", "1088 -1792 -96 1088 -1664 -96 1088 -1792 -32"), f("offsets", "0 0"), f("rotation", "0"),
                 f("scales", "1.000000 1.000000")})},
        {"Valve 220",
         "( -64 -64 -16 ) ( -64 -63 -16 ) ( -64 -64 -15 ) wood [ 5.55e-17 0.2425 -0.9701 31.401 ] [ 0 0 -1 0 ] 89.9999 0.25 1",
         faceOf({f("planes", "-64 -64 -16 -64 -63 -16 -64 -64 -15"), f("axes", "5.55e-17 0.2425 -0.9701"),
                 f("offsets", "31.401"), f("axes", "0 0 -1"), f("offsets", "0"), f("rotation", "89.9999"),
                 f("scales", "0.25 1")})},
        {"Valve 220, Quake 2 flags",
         "( 0 0 0 ) ( 1 0 0 ) ( 0 1 0 ) e1u1/c_met11_2 [ 0 -1 0 0 ] [ 0 0 -1 0 ] 0 1 1 0 8 0",
         faceOf({f("planes", "0 0 0 1 0 0 0 1 0"), f("axes", "0 -1 0"), f("offsets", "0"), f("axes", "0 0 -1"),
                 f("offsets", "0"), f("rotation", "0"), f("scales", "1 1"), f("flags", "0 8 0")})},
        {"Quake 2", "( -48 0 0 ) ( -48 1 0 ) ( -48 0 1 ) tomc/tc_tomb_roots_a -80 -80 0 1 1 0 33554432 0",
         faceOf({f("planes", "-48 0 0 -48 1 0 -48 0 1"), f("offsets", "-80 -80"), f("rotation", "0"),
                 f("scales", "1 1"), f("flags", "0 33554432 0")})},
        {"Quake 3, CRLF, indented",
         "  ( -2009.5 -2038 -704 ) ( 2054 -2038 -704 ) ( -2009.5 2026 -704 ) common/caulk 4.0009765625 0 0 "
         "0.4999999404 0.4999999404 0 0 0\r\n",
         faceOf({f("planes", "-2009.5 -2038 -704 2054 -2038 -704 -2009.5 2026 -704"), f("offsets", "4.0009765625 0"),
                 f("rotation", "0"), f("scales", "0.4999999404 0.4999999404"), f("flags", "0 0 0")})},
        {"brushDef",
         "( 0 -2208 192 ) ( 128 -2208 192 ) ( 0 -2080 192 ) ( ( 0 -0.0078099999 0 ) ( -0.0078099999 0 -15.25 ) ) "
         "e7/e7bricks01 0 0 0",
         faceOf({f("planes", "0 -2208 192 128 -2208 192 0 -2080 192"),
                 f("matrix", "0 -0.0078099999 0 -0.0078099999 0 -15.25"), f("flags", "0 0 0")})},
        {"brushDef3", "( 0 0 1 -64 ) ( ( 0.0078125 0 0 ) ( 0 0.0078125 0 ) ) \"textures/common/nodraw\" 0 0 0",
         faceOf({f("planes", "0 0 1 -64"), f("matrix", "0.0078125 0 0 0 0.0078125 0"), f("flags", "0 0 0")})},
        {"Half-Life, comment",
         "( -3840 256 160 ) ( -3840 256 0 ) ( -3840 -256 160 ) C1A0_WX [ 0 1 0 0 ] [ 0 0 -1 0 ] 0 1 1 // wall",
         faceOf({f("planes", "-3840 256 160 -3840 256 0 -3840 -256 160"), f("axes", "0 1 0"), f("offsets", "0"),
                 f("axes", "0 0 -1"), f("offsets", "0"), f("rotation", "0"), f("scales", "1 1")})},
        {"name with digits", "( 0 0 0 ) ( 1 0 0 ) ( 0 1 0 ) 128 0.5 0 90",
         faceOf({f("planes", "0 0 0 1 0 0 0 1 0"), f("offsets", "0.5 0"), f("rotation", "90")})},
        {"damaged axis", "( 0 0 0 ) ( 1 0 0 ) ( 0 1 0 ) wood [ 0 1 0 ] [ 0 0 -1 0 ] 0 1 1",
         f("planes", "0 0 0 1 0 0 0 1 0")},
        {"a word among the values", "( 0 0 0 ) ( 1 0 0 ) ( 0 1 0 ) wood 16 8 x 0.5 0.5",
         faceOf({f("planes", "0 0 0 1 0 0 0 1 0"), f("offsets", "16 8")})},
        {"patchDef2 size", "( 3 3 0 0 0 )", expand("patches", "3 3 0 0 0")},
        {"patchDef3 size", "( 3 3 1 1 0 0 0 )\r", expand("patches", "3 3 1 1 0 0 0")},
        {"patch points",
         "( ( 704 1000 1216 0 0 ) ( 704 272.0000305176 1216 0 -7.5833334923 ) ( 704 -455.9999694824 1216 0 "
         "-15.1666669846 ) )",
         expand("patches", "704 1000 1216 0 0 704 272.0000305176 1216 0 -7.5833334923 704 -455.9999694824 1216 0 "
                           "-15.1666669846")},
        {"origin key", "\"origin\" \"-4.76837e-07 0 24\"", expand("keys", "-4.76837e-07 0 24")},
        {"angle key", "\"angle\" \"89.9999\"\r\n", expand("keys", "89.9999")},
        {"colour key", "  \"_color\" \"1 0.7999999999999999 0.6\"", expand("keys", "1 0.7999999999999999 0.6")},
        // Lines that fit no shape keep every number.
        {"model key", "\"model\" \"models/mtree02.md3\"", {}},
        {"message key", "\"message\" \"Level 2.5\"", {}},
        {"empty value", "\"wad\" \"\"", {}},
        {"comment", "// brush 12 ( 0 0 0 ) ( 1 0 0 ) ( 0 1 0 ) x 0 0 0", {}},
        {"two points", "( 0 0 0 ) ( 1 0 0 ) tex 0 0 0", {}},
        {"a point that is no number", "( 0 0 x ) ( 1 0 0 ) ( 0 1 0 ) tex 0 0 0", {}},
        {"no texture name", "( 0 0 0 ) ( 1 0 0 ) ( 0 1 0 )", {}},
        {"patch row with a short point", "( ( 1 2 3 4 ) )", {}},
        {"text", "patchDef2 1.5", {}},
        {"braces", "{", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(fields_of(c.line), c.fields) << c.format;
}

TEST(MapFields, EachTextureFieldRoundsOnlyItsOwnNumbers) {
    // Each face at -p 0 with one field asked for; the points' 0.5 always stays.
    const std::string points = "( 0 0 0.5 ) ( 1 0 0 ) ( 0 1 0 ) ";
    const struct {
        std::string face;
        std::vector<std::pair<unsigned, std::string>> rounded;  // every other field leaves the face as it is
    } cases[] = {
        {points + "tex 16.5 -8.25 45.5 0.25 0.5 0 1.5 0",
         {{kOffsets, points + "tex 17 -8 45.5 0.25 0.5 0 1.5 0"},
          {kRotation, points + "tex 16.5 -8.25 46 0.25 0.5 0 1.5 0"},
          {kScales, points + "tex 16.5 -8.25 45.5 0 1 0 1.5 0"},
          {kFlags, points + "tex 16.5 -8.25 45.5 0.25 0.5 0 2 0"}}},
        {points + "tex [ 5.55e-17 0.2425 -0.9701 31.401 ] [ 0 0 -1 -2.5 ] 89.5 0.25 0.5",
         {{kOffsets, points + "tex [ 5.55e-17 0.2425 -0.9701 31 ] [ 0 0 -1 -3 ] 89.5 0.25 0.5"},
          {kAxes, points + "tex [ 0 0 -1 31.401 ] [ 0 0 -1 -2.5 ] 89.5 0.25 0.5"},
          {kRotation, points + "tex [ 5.55e-17 0.2425 -0.9701 31.401 ] [ 0 0 -1 -2.5 ] 90 0.25 0.5"},
          {kScales, points + "tex [ 5.55e-17 0.2425 -0.9701 31.401 ] [ 0 0 -1 -2.5 ] 89.5 0 1"}}},
        {points + "( ( 0.015625 0 0.5 ) ( 0 0.015625 0 ) ) tex 0 0.5 0",
         {{kMatrix, points + "( ( 0 0 1 ) ( 0 0 0 ) ) tex 0 0.5 0"},
          {kFlags, points + "( ( 0.015625 0 0.5 ) ( 0 0.015625 0 ) ) tex 0 1 0"}}},
        {"( 0 0 1 -64.5 ) ( ( 0.0078125 0 0 ) ( 0 0.0078125 0 ) ) \"tex\" 0 0.5 0",
         {{kMatrix, "( 0 0 1 -64.5 ) ( ( 0 0 0 ) ( 0 0 0 ) ) \"tex\" 0 0.5 0"},
          {kFlags, "( 0 0 1 -64.5 ) ( ( 0.0078125 0 0 ) ( 0 0.0078125 0 ) ) \"tex\" 0 1 0"}}},
    };
    for (const auto& c : cases) {
        for (const FieldName& field : kFieldNames) {
            if (field.fields == kTexture || (field.fields & kTexture) == 0) continue;
            std::string expected = c.face;
            for (const auto& [bits, line] : c.rounded) {
                if (bits == field.fields) expected = line;
            }
            int64_t edits = 0;
            EXPECT_EQ(clean_text(c.face + "\n", CleanRules{0, false, false, field.fields}, nullptr, edits),
                      expected + "\n")
                << field.name;
        }
    }
}

TEST(MapFields, ParsesFieldWordsInAnyCase) {
    EXPECT_EQ(parse_fields("planes"), kPlanes);
    EXPECT_EQ(parse_fields("Texture,KEYS"), kTexture | kKeys);
    EXPECT_EQ(parse_fields("planes,texture,patches,keys"), kPlanes | kTexture | kPatches | kKeys);
    EXPECT_EQ(parse_fields("offsets,rotation,scales,axes,matrix,flags"), unsigned{kTexture});
    for (const char* bad : {"", "plane", "planes,", ",keys", "planes,,keys", "texture keys", "all"}) {
        EXPECT_EQ(parse_fields(bad), std::nullopt) << bad;
    }
}

// Random map text from real line shapes, numbers drawn to carry noise.
std::string random_map(std::mt19937_64& random) {
    const char* const numbers[] = {"0.30000000000000004", "1.9999999", "-2.5e-08", "64", "-0.400002",
                                   "89.9999", "1.5E3", "0.7999999999999999", "-7.62939e-06", "1.99900001", "000e01"};
    const auto n = [&] { return std::string(numbers[random() % std::size(numbers)]); };
    const auto point = [&] { return "( " + n() + " " + n() + " " + n() + " ) "; };
    std::string text;
    for (int line = 0; line < 12; ++line) {
        switch (random() % 6) {
        case 0: text += point() + point() + point() + "base-metal05rust [ " + n() + " 1 0 " + n() + " ] [ 0 0 -1 0 ] " + n() + " 1 1\n"; break;
        case 1: text += point() + point() + point() + "( ( " + n() + " 0 0 ) ( 0 " + n() + " 0 ) ) e7/e7bricks01 0 0 0\r\n"; break;
        case 2: text += "( ( " + n() + " 0 0 0 " + n() + " ) ( 1 2 3 " + n() + " 5 ) )\n"; break;
        case 3: text += "\"origin\" \"" + n() + " 0 " + n() + "\"\n"; break;
        case 4: text += "\"message\" \"Level " + n() + "\"\n"; break;
        default: text += n() + n() + " text " + n() + "\n";
        }
    }
    return text;
}

struct Recorded final : EditSink {
    void on_edit(const Edit& edit) override {
        edits.push_back(std::to_string(edit.offset) + ":" + std::string(edit.replacement));
    }
    std::vector<std::string> edits;
};

TEST(MapFields, OnlyNeverChangesANumberThatARunWithoutItKeeps) {
    std::mt19937_64 random(3);
    for (int round = 0; round < 2000; ++round) {
        const std::string text = random_map(random);
        for (const int32_t precision : {-1, 0}) {
            for (const bool plain : {false, true}) {
                Recorded all, only;
                scan_text(text, CleanRules{precision, false, plain, 0}, all);
                scan_text(text, CleanRules{precision, false, plain, kPlanes | kTexture | kPatches | kKeys}, only);
                for (const std::string& edit : only.edits) {
                    ASSERT_NE(std::find(all.edits.begin(), all.edits.end(), edit), all.edits.end()) << text;
                }
                // And a settled run settles with every option.
                for (const unsigned fields : {0u, unsigned{kTexture}, unsigned{kPlanes | kKeys}}) {
                    const CleanRules rules{precision, true, plain, fields};
                    int64_t edits = 0;
                    int passes = 0;
                    const std::string once = clean_text(text, rules, nullptr, edits, &passes);
                    ASSERT_LE(passes, 1) << text;
                    Recorded again;
                    ASSERT_EQ(clean_text(once, rules, &again, edits), once) << text;
                }
            }
        }
    }
}

}  // namespace
