// "-plain" and "-only", end to end, on a map with a line of every shape.
#include <gtest/gtest.h>

#include "program_run.h"

namespace {

// Every shape, each number noisy or fractional: Standard, Valve 220, Quake
// 3 (CRLF), brushDef, brushDef3, patchDef2, entity keys, a comment.
const char kMap[] =
    "// Game: Quake 1.9999999\n"
    "{\n"
    "\"classname\" \"worldspawn\"\n"
    "\"origin\" \"-4.76837e-07 0.5 24.0000001\"\n"
    "\"message\" \"Level 2.5000001\"\n"
    "( 1088.4 -1792 -96 ) ( 1088 -1664 -96.6 ) ( 1088 -1792 -32 ) tech08_1 0.5 0 0 1.000001 1\n"
    "( -64 -64 -16.5 ) ( -64 -63 -16 ) ( -64 -64 -15 ) base-metal05rust [ 0 1 0 -0.400002 ] [ 0 0 -1 0 ] 89.9999 1 1\n"
    "  ( -2009.5 -2038 -704 ) ( 2054 -2038 -704 ) ( -2009.5 2026 -704 ) common/caulk 4.0009765625 0 0 0.4999999404 0.5 0 0 0\r\n"
    "( 0 -2208 192.5 ) ( 128 -2208 192 ) ( 0 -2080 192 ) ( ( 0 -0.0078099999 0 ) ( -0.0078099999 0 -15.25 ) ) e7/e7bricks01 0 0 0\n"
    "( 0 0 1 -64.5 ) ( ( 0.0078125 0 0 ) ( 0 0.0078125 0 ) ) \"textures/common/nodraw\" 0 0 0\n"
    "( 3 3 0 0 0 )\n"
    "( ( 704 272.0000305176 1216 0 -7.5833334923 ) ( 704 1000 1216 0.6499999762 0 ) )\n"
    "}\n";

class MapOptions : public ::testing::Test {
protected:
    // `content` cleaned by a silent run with `options`.
    std::string cleaned(const std::string& content, const std::vector<std::string>& options) {
        write_file(map, content);
        std::vector<std::string> args = options;
        args.insert(args.end(), {"-s", "-q", dir.native("a.map")});
        const ProgramRun run = run_mapclean(args);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.err, "");
        return read_file(map);
    }
    TempDir dir;
    std::string map = dir.file("a.map");
};

TEST_F(MapOptions, OnlyTextureKeepsThePointsAndOnlyPlanesTheTextureValues) {
    // At -p 0 a whole run also rewrites digits in texture names
    // ("tech08_1" -> "tech8_1"); the fields never do.
    EXPECT_EQ(cleaned(kMap, {"-p", "0", "-only", "texture"}),
              "// Game: Quake 1.9999999\n{\n\"classname\" \"worldspawn\"\n"
              "\"origin\" \"-4.76837e-07 0.5 24.0000001\"\n\"message\" \"Level 2.5000001\"\n"
              "( 1088.4 -1792 -96 ) ( 1088 -1664 -96.6 ) ( 1088 -1792 -32 ) tech08_1 1 0 0 1 1\n"
              "( -64 -64 -16.5 ) ( -64 -63 -16 ) ( -64 -64 -15 ) base-metal05rust [ 0 1 0 -0 ] [ 0 0 -1 0 ] 90 1 1\n"
              "  ( -2009.5 -2038 -704 ) ( 2054 -2038 -704 ) ( -2009.5 2026 -704 ) common/caulk 4 0 0 0 1 0 0 0\r\n"
              "( 0 -2208 192.5 ) ( 128 -2208 192 ) ( 0 -2080 192 ) ( ( 0 -0 0 ) ( -0 0 -15 ) ) e7/e7bricks01 0 0 0\n"
              "( 0 0 1 -64.5 ) ( ( 0 0 0 ) ( 0 0 0 ) ) \"textures/common/nodraw\" 0 0 0\n"
              "( 3 3 0 0 0 )\n( ( 704 272.0000305176 1216 0 -7.5833334923 ) ( 704 1000 1216 0.6499999762 0 ) )\n}\n");
    EXPECT_EQ(cleaned(kMap, {"-p", "0", "--only", "PLANES"}),
              "// Game: Quake 1.9999999\n{\n\"classname\" \"worldspawn\"\n"
              "\"origin\" \"-4.76837e-07 0.5 24.0000001\"\n\"message\" \"Level 2.5000001\"\n"
              "( 1088 -1792 -96 ) ( 1088 -1664 -97 ) ( 1088 -1792 -32 ) tech08_1 0.5 0 0 1.000001 1\n"
              "( -64 -64 -17 ) ( -64 -63 -16 ) ( -64 -64 -15 ) base-metal05rust [ 0 1 0 -0.400002 ] [ 0 0 -1 0 ] 89.9999 1 1\n"
              "  ( -2010 -2038 -704 ) ( 2054 -2038 -704 ) ( -2010 2026 -704 ) common/caulk 4.0009765625 0 0 0.4999999404 0.5 0 0 0\r\n"
              "( 0 -2208 193 ) ( 128 -2208 192 ) ( 0 -2080 192 ) ( ( 0 -0.0078099999 0 ) ( -0.0078099999 0 -15.25 ) ) e7/e7bricks01 0 0 0\n"
              "( 0 0 1 -65 ) ( ( 0.0078125 0 0 ) ( 0 0.0078125 0 ) ) \"textures/common/nodraw\" 0 0 0\n"
              "( 3 3 0 0 0 )\n( ( 704 272.0000305176 1216 0 -7.5833334923 ) ( 704 1000 1216 0.6499999762 0 ) )\n}\n");
    EXPECT_EQ(cleaned(kMap, {"-only", "keys,Patches"}),
              "// Game: Quake 1.9999999\n{\n\"classname\" \"worldspawn\"\n"
              "\"origin\" \"0 0.5 24\"\n\"message\" \"Level 2.5000001\"\n"
              "( 1088.4 -1792 -96 ) ( 1088 -1664 -96.6 ) ( 1088 -1792 -32 ) tech08_1 0.5 0 0 1.000001 1\n"
              "( -64 -64 -16.5 ) ( -64 -63 -16 ) ( -64 -64 -15 ) base-metal05rust [ 0 1 0 -0.400002 ] [ 0 0 -1 0 ] 89.9999 1 1\n"
              "  ( -2009.5 -2038 -704 ) ( 2054 -2038 -704 ) ( -2009.5 2026 -704 ) common/caulk 4.0009765625 0 0 0.4999999404 0.5 0 0 0\r\n"
              "( 0 -2208 192.5 ) ( 128 -2208 192 ) ( 0 -2080 192 ) ( ( 0 -0.0078099999 0 ) ( -0.0078099999 0 -15.25 ) ) e7/e7bricks01 0 0 0\n"
              "( 0 0 1 -64.5 ) ( ( 0.0078125 0 0 ) ( 0 0.0078125 0 ) ) \"textures/common/nodraw\" 0 0 0\n"
              "( 3 3 0 0 0 )\n( ( 704 272 1216 0 -7.5833334923 ) ( 704 1000 1216 0.65 0 ) )\n}\n");
}

TEST_F(MapOptions, PlainWritesExponentFormsAsDecimalsOnlyWhereAsked) {
    const std::string map = "\"origin\" \"1.5E3 -7.62939e-06 2.5e-4\"\n( 1e1 0 0 ) ( 0 1 0 ) ( 0 0 1 ) t 1.5e1 0 0 1 1\n"
                            "x 1e30 -5e468760 0x1p4 2.5e-8\n";
    EXPECT_EQ(cleaned(map, {"-plain"}), "\"origin\" \"1500 -0 0.00025\"\n( 10 0 0 ) ( 0 1 0 ) ( 0 0 1 ) t 15 0 0 1 1\n"
                                       "x 1" + std::string(30, '0') + " -5e468760 0x1p4 0\n");
    EXPECT_EQ(cleaned(map, {"--plain", "-only", "texture"}),
              "\"origin\" \"1.5E3 -7.62939e-06 2.5e-4\"\n( 1e1 0 0 ) ( 0 1 0 ) ( 0 0 1 ) t 15 0 0 1 1\n"
              "x 1e30 -5e468760 0x1p4 2.5e-8\n");
    // Fixed precision already writes plain decimals.
    EXPECT_EQ(cleaned(map, {"-plain", "-p", "1"}), cleaned(map, {"-p", "1"}));
    // Digits inside a word are no number to write out: a GUID, a name.
    const std::string words = "\"_tb_linked_group_id\" \"{df09e28a-0aaf}\"\n( 0 0 0 ) ( 1 0 0 ) ( 0 1 0 ) wall1e2 0 0 0 1 1\n";
    EXPECT_EQ(cleaned(words, {"-plain"}), words);
}

TEST_F(MapOptions, BadFieldsEndTheRunBeforeAnyFileIsTouched) {
    write_file(map, "x 1.9999999\n");
    const struct {
        std::vector<std::string> args;
        std::string shown;
    } runs[] = {
        {{"-s", "-only", "planes,walls", dir.native("a.map")}, "planes,walls"},
        {{"-s", "-only", "", dir.native("a.map")}, ""},
        {{"-s", "-only", "texture,", dir.native("a.map")}, "texture,"},
        {{"-s", dir.native("a.map"), "-ONLY"}, ""},
    };
    for (const auto& r : runs) {
        const ProgramRun run = run_mapclean(r.args);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "Error: -only takes planes, texture, offsets, rotation, scales, axes, matrix, flags, patches or keys: " +
                               r.shown + "\n");
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(read_file(map), "x 1.9999999\n");
    }
}

TEST_F(MapOptions, ReviewModesFollowTheSameFields) {
    write_file(map, kMap);
    const std::string arg = dir.native("a.map");
    ProgramRun run = run_mapclean({"-diff", "-only", "keys", arg});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "--- " + arg + "\n+++ " + arg + "\n@@ -1,7 +1,7 @@\n // Game: Quake 1.9999999\n {\n"
                       " \"classname\" \"worldspawn\"\n-\"origin\" \"-4.76837e-07 0.5 24.0000001\"\n"
                       "+\"origin\" \"0 0.5 24\"\n \"message\" \"Level 2.5000001\"\n"
                       " ( 1088.4 -1792 -96 ) ( 1088 -1664 -96.6 ) ( 1088 -1792 -32 ) tech08_1 0.5 0 0 1.000001 1\n"
                       " ( -64 -64 -16.5 ) ( -64 -63 -16 ) ( -64 -64 -15 ) base-metal05rust [ 0 1 0 -0.400002 ] "
                       "[ 0 0 -1 0 ] 89.9999 1 1\n");
    write_file(map, "\"message\" \"Level 2.5000001\"\n");
    EXPECT_EQ(run_mapclean({"-check", "-only", "keys", arg}).status, 0);
    EXPECT_EQ(run_mapclean({"-list", arg}).out, arg + "\n");
}

}  // namespace
