// The argument walk and its number reading.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "core/map_fields.h"
#include "cli/settings.h"

namespace {

TEST(ParsePrecision, TakesOnlyWholeNumbersAndSaturates) {
    struct Case {
        const char* text;
        std::optional<int32_t> value;
    };
    const Case cases[] = {
        {"2", 2},           {"-3", -3},         {"+4", 4},          {"007", 7},
        {"2147483647", INT_MAX}, {"2147483648", INT_MAX}, {"99999999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN}, {"-2147483649", INT_MIN}, {"-99999999999999999999", INT_MIN},
        {"abc", std::nullopt}, {"", std::nullopt}, {"-", std::nullopt}, {"12abc", std::nullopt},
        {"  7", std::nullopt}, {"- 5", std::nullopt}, {"-check", std::nullopt}, {"1.5", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(parse_precision(c.text), c.value) << "'" << c.text << "'";
}

TEST(EqualsIgnoringCase, AsciiOnly) {
    EXPECT_TRUE(equals_ignoring_case("-VERBOSE", "-verbose"));
    EXPECT_TRUE(equals_ignoring_case("-Silent", "-silent"));
    EXPECT_FALSE(equals_ignoring_case("-v", "-verbose"));
    EXPECT_FALSE(equals_ignoring_case("-s ", "-s"));
    EXPECT_FALSE(equals_ignoring_case("\xc9", "\xe9"));  // no case folding beyond ASCII
}

class ReadArguments : public ::testing::Test {
protected:
    void SetUp() override {
        g_verbose = g_silent = g_recursive = g_quiet = g_brief = g_stable = g_github = g_gitFilter = 0;
        g_precision = -1;
        g_review = Review::none;
        g_excludes.clear();
        g_null = 0;
        g_colourWhen = ColourWhen::automatic;
        g_given = 0;
        g_configSource = ConfigSource::nearest;
        g_stdinName.reset();
        g_showSettings.reset();
    }
    CliRequest read(std::vector<const char*> args) {
        args.insert(args.begin(), "mapclean");
        return read_arguments(static_cast<int>(args.size()), args.data());
    }
};

TEST_F(ReadArguments, OptionsInAnyCaseAndPosition) {
    const CliRequest request = read({"data.map", "-VERBOSE", "-S", "-P", "3"});
    EXPECT_EQ(request.action, CliAction::run);
    EXPECT_EQ(request.targets, std::vector<std::string>{"data.map"});
    EXPECT_EQ(g_verbose, 1);
    EXPECT_EQ(g_silent, 1);
    EXPECT_EQ(g_precision, 3);
}

TEST_F(ReadArguments, EveryTargetIsKeptInOrder) {
    const CliRequest request = read({"a.map", "-", "b.map", "--", "-s", "--", "-x.map"});
    EXPECT_EQ(request.action, CliAction::run);
    EXPECT_EQ(request.targets, (std::vector<std::string>{"a.map", "-", "b.map", "-s", "--", "-x.map"}));
    EXPECT_EQ(g_silent, 0);
}

TEST_F(ReadArguments, WrongArgumentsStopTheWalkWithTheirError) {
    const char* kGitFilterAlone =
        "Error: -git-filter cleans what git hands over: it takes no targets, -check, -diff or -list";
    const struct {
        std::vector<const char*> args;
        const char* message;
    } cases[] = {
        {{"-chek", "-stable", "-r", "maps"}, "Error: unknown option: -chek"},
        {{"a.map", "-v"}, "Error: unknown option: -v"},
        {{"--v", "-p"}, "Error: unknown option: --v"},
        {{"-p", "-check", "ok.map"}, "Error: -precision needs a whole number: -check"},
        {{"-s", "-p", "abc", "maps"}, "Error: -precision needs a whole number: abc"},
        {{"-p", "-h"}, "Error: -precision needs a whole number: -h"},
        {{"-s", "a.map", "-p"}, "Error: -precision flag requires a numeric argument."},
        {{"-only", "texture,walls"},
         "Error: -only takes planes, texture, offsets, rotation, scales, axes, matrix, flags, patches or keys: "
         "texture,walls"},
        {{"-ONLY"}, "Error: -only takes planes, texture, offsets, rotation, scales, axes, matrix, flags, patches or "
                    "keys: "},
        {{"--color=sometimes"}, "Error: --color takes auto, always or never: sometimes"},
        {{"-exclude"}, "Error: -exclude needs a pattern"},
        {{"-z", "maps"}, "Error: -z works only with -list"},
        {{"-list", "-z", "-diff"}, "Error: -z works only with -list"},  // the diff wins: -z would do nothing
        {{"-git-filter", "maps"}, kGitFilterAlone},
        {{"-check", "-git-filter"}, kGitFilterAlone},
    };
    for (const auto& c : cases) {
        SetUp();
        const CliRequest request = read(c.args);
        EXPECT_EQ(request.action, CliAction::error) << c.args.front();
        EXPECT_EQ(request.message, c.message);
    }
}

TEST_F(ReadArguments, EverySpellingOfEveryOption) {
    struct Case {
        std::vector<const char*> spellings;
        int* setting;
    };
    const Case cases[] = {
        {{"-verbose", "--verbose", "-VERBOSE"}, &g_verbose},
        {{"-silent", "-s", "--silent", "--Silent"}, &g_silent},
        {{"-r", "-recursive", "--recursive"}, &g_recursive},
        {{"-all", "--all", "-ALL"}, nullptr},  // accepted; every target is processed anyway
        {{"-quiet", "-q", "--quiet", "-Q"}, &g_quiet},
        {{"-stable", "--stable"}, &g_stable},
        {{"-github", "--github"}, &g_github},
        {{"-brief", "--BRIEF"}, &g_brief},
        {{"-git-filter", "--git-filter"}, &g_gitFilter},
    };
    for (const Case& c : cases) {
        for (const char* spelling : c.spellings) {
            SetUp();
            const CliRequest request = read({spelling});
            EXPECT_EQ(request.action, CliAction::run) << spelling;
            EXPECT_TRUE(request.targets.empty()) << spelling;
            if (c.setting) {
                EXPECT_EQ(*c.setting, 1) << spelling;
            }
        }
    }
    for (const char* spelling : {"-precision", "-p", "--precision", "--PRECISION"}) {
        SetUp();
        EXPECT_TRUE(read({spelling, "4"}).targets.empty()) << spelling;
        EXPECT_EQ(g_precision, 4) << spelling;
    }
    // A review mode: the one that shows most wins, whatever the order.
    const std::pair<std::vector<const char*>, Review> reviews[] = {
        {{"-check"}, Review::check},          {{"--check"}, Review::check},
        {{"-github"}, Review::check},         {{"-list"}, Review::list},
        {{"-l"}, Review::list},               {{"--LIST"}, Review::list},
        {{"-diff"}, Review::diff},            {{"--diff"}, Review::diff},
        {{"-diff", "-check"}, Review::diff},  {{"-check", "-list"}, Review::list},
        {{"-l", "-diff", "-check"}, Review::diff},
    };
    for (const auto& [args, review] : reviews) {
        SetUp();
        read(args);
        EXPECT_EQ(g_review, review) << args.front();
    }
}

TEST_F(ReadArguments, ValuesOfOptions) {
    read({"-l", "-p", "-1", "-exclude", "obj/*", "--exclude", "./././*.bak.map", "-Z", "--color=NEVER", "-only",
          "offsets,Rotation"});
    EXPECT_EQ(g_precision, -1);
    EXPECT_EQ(g_excludes, (std::vector<std::string>{"obj/*", "*.bak.map"}));  // paths below hold no "./"
    EXPECT_EQ(g_null, 1);
    EXPECT_EQ(g_colourWhen, ColourWhen::never);
    EXPECT_EQ(g_only, unsigned{kOffsets | kRotation});
    read({"--color"});
    EXPECT_EQ(g_colourWhen, ColourWhen::always);
}

TEST_F(ReadArguments, HelpAndVersionDecideWhereTheyStand) {
    for (const char* help : {"-h", "-HELP", "--Help", "-?"}) {
        EXPECT_EQ(read({"a.map", help, "-p"}).action, CliAction::show_usage) << help;
    }
    EXPECT_EQ(read({"--VERSION"}).action, CliAction::show_version);
    EXPECT_EQ(read({"-version", "-h"}).action, CliAction::show_version);
    EXPECT_EQ(read({"-p"}).action, CliAction::error);
}

}  // namespace
