// Settings files: what is read, what is refused, and which maps globs match.
#include "cli/config.h"

#include <gtest/gtest.h>

#include "core/map_fields.h"

namespace {

std::optional<std::string> read(const std::string& text, ConfigFile& config) {
    config.shownPath = "maps/.mapclean.toml";
    std::string extend;
    return read_config(text, "/repo/maps", config, extend);
}

TEST(ReadConfig, EachWrongFileIsNamedWithItsLine) {
    struct Case {
        const char* text;
        const char* error;  // after "maps/.mapclean.toml:"
    };
    const Case cases[] = {
        {"precision = 2\nplain = true\nstable = false\nonly = \"offsets,rotation\"\nexclude = [\"a/**\"]\n", nullptr},
        {"precision = \"auto\"\nonly = [\"planes\", \"keys\"]\nexclude = \"linker\"\n", nullptr},
        {"\n\nprecision = 2.5\n", "3: precision must be a whole number or \"auto\""},
        {"precision = \"two\"\n", "1: precision must be a whole number or \"auto\""},
        {"stable = 1\n", "1: stable must be true or false"},
        {"only = \"walls\"\n", "1: only takes planes, texture, offsets, rotation, scales, axes, matrix, flags, "
                               "patches or keys"},
        {"only = []\n", "1: only takes planes, texture, offsets, rotation, scales, axes, matrix, flags, "
                        "patches or keys"},
        {"precison = 2\n", "1: unknown key: precison (keys: precision, plain, only, stable, exclude, extend, "
                           "overrides)"},
        {"exclude = [\"../x\"]\n", "1: exclude must be a list of globs relative to its file's folder"},
        {"exclude = [\"/abs\"]\n", "1: exclude must be a list of globs relative to its file's folder"},
        {"exclude = [1]\n", "1: exclude must be a list of globs relative to its file's folder"},
        {"[[overrides]]\nprecision = 1\n", "1: each [[overrides]] needs files = [globs]"},
        {"[[overrides]]\nfiles = [\"*\"]\nexclude = [\"x\"]\n",
         "3: unknown key in [[overrides]]: exclude (it takes files, precision, plain, only and stable)"},
        {"overrides = 3\n", "1: overrides must be [[overrides]] tables"},
        {"precision = \n", "1: "},  // toml++'s own words follow
    };
    for (const Case& c : cases) {
        ConfigFile config;
        const std::optional<std::string> error = read(c.text, config);
        if (!c.error) {
            EXPECT_EQ(error, std::nullopt) << c.text;
        } else {
            ASSERT_TRUE(error) << c.text;
            EXPECT_TRUE(error->starts_with(std::string("maps/.mapclean.toml:") + c.error)) << *error;
        }
    }
}

TEST(ReadConfig, OverridesApplyInOrderAndLaterOnesWin) {
    ConfigFile config;
    ASSERT_EQ(read("precision = 2\nstable = true\n"
                   "[[overrides]]\nfiles = [\"q3/**\"]\nprecision = 0\nonly = \"texture\"\n"
                   "[[overrides]]\nfiles = [\"**/boss.map\"]\nprecision = \"auto\"\n",
                   config),
              std::nullopt);
    const RuleKeys plain = keys_for(config, "/repo/maps/e1m1.map");
    EXPECT_EQ(plain.precision.value, 2);
    EXPECT_EQ(plain.precision.source.line, 1);
    EXPECT_EQ(plain.only.value, std::nullopt);
    const RuleKeys q3 = keys_for(config, "/repo/maps/q3/dm/dm1.map");
    EXPECT_EQ(q3.precision.value, 0);
    EXPECT_EQ(q3.only.value, kTexture);
    EXPECT_EQ(q3.stable.value, true);
    const RuleKeys boss = keys_for(config, "/repo/maps/q3/boss.map");
    EXPECT_EQ(boss.precision.value, -1);
    EXPECT_EQ(boss.precision.source.line, 9);
    EXPECT_EQ(boss.only.value, kTexture);
}

TEST(GlobMatches, RelativeToItsFolderAtAnyDepthWithDoubleStars) {
    struct Case {
        const char* pattern;
        const char* path;
        bool matches;
    };
    const Case cases[] = {
        {"linker", "/repo/maps/linker/a.map", true},      // a folder's name, at any depth
        {"linker", "/repo/maps/x/linker/a.map", true},
        {"*.map", "/repo/maps/a.map", true},
        {"linker", "/repo/other/linker/a.map", false},    // not below the file's folder
        {"linker", "/repo/mapslinker/a.map", false},
        {"x/*.map", "/repo/maps/x/a.map", true},          // with a '/': the path below the folder
        {"x/*.map", "/repo/maps/y/x/a.map", false},
        {"x/*.map", "/repo/maps/x/y/a.map", false},       // '*' stops at '/'
        {"x", "/repo/maps/x", true},
        {"q3/**", "/repo/maps/q3/a.map", true},
        {"q3/**", "/repo/maps/q3/dm/a.map", true},
        {"**/boss.map", "/repo/maps/boss.map", true},     // "**" takes no folder too
        {"**/boss.map", "/repo/maps/a/b/boss.map", true},
        {"a/**/z.map", "/repo/maps/a/z.map", true},
        {"a/**/z.map", "/repo/maps/a/b/c/z.map", true},
        {"a/**/z.map", "/repo/maps/b/z.map", false},
        {"a/b", "/repo/maps/a/b/c.map", true},            // a folder the map is in
        {"e?m*", "/repo/maps/e1m1.map", true},
        {"e?m*", "/repo/maps/e10m1.map", false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(glob_matches(FolderGlob{c.pattern, "/repo/maps", {}}, c.path), c.matches)
            << c.pattern << " " << c.path;
    }
    EXPECT_TRUE(glob_matches(FolderGlob{"*.map", "/", {}}, "/a.map"));  // a file at the root
}

}  // namespace
