// The argument walk and its number reading.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

#include "filepass/settings.h"

namespace {

TEST(ParsePrecision, ReadsLikeAtoiAndSaturates) {
    struct Case {
        const char* text;
        int32_t value;
    };
    const Case cases[] = {
        {"2", 2},           {"  7", 7},         {"\t-3", -3},       {"+4", 4},
        {"abc", 0},         {"", 0},            {"-", 0},           {"12abc", 12},
        {"- 5", 0},         {"-verbose", 0},    {"007", 7},         {"2147483647", INT_MAX},
        {"2147483648", INT_MAX}, {"99999999999999999999999", INT_MAX},
        {"-2147483648", INT_MIN}, {"-2147483649", INT_MIN}, {"-99999999999999999999", INT_MIN},
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
        g_verbose = g_silent = g_recursive = g_all = g_quiet = g_stable = g_github = 0;
        g_precision = -1;
        g_review = Review::none;
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
    const CliRequest request = read({"a.map", "-v", "b.map", "--v"});
    // "-v" and "--v" are no options: they are paths.
    EXPECT_EQ(request.targets, (std::vector<std::string>{"a.map", "-v", "b.map", "--v"}));
    EXPECT_EQ(g_verbose, 0);
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
        {{"-all", "--all", "-ALL"}, &g_all},
        {{"-quiet", "-q", "--quiet", "-Q"}, &g_quiet},
        {{"-stable", "--stable"}, &g_stable},
        {{"-github", "--github"}, &g_github},
    };
    for (const Case& c : cases) {
        for (const char* spelling : c.spellings) {
            SetUp();
            EXPECT_TRUE(read({spelling}).targets.empty()) << spelling;
            EXPECT_EQ(*c.setting, 1) << spelling;
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

TEST_F(ReadArguments, PrecisionTakesTheNextArgumentWhateverItIs) {
    EXPECT_TRUE(read({"-p", "-verbose"}).targets.empty());
    EXPECT_EQ(g_precision, 0);
    EXPECT_EQ(g_verbose, 0);

    EXPECT_EQ(read({"-precision", "-h", "x.map"}).action, CliAction::run);
    EXPECT_EQ(g_precision, 0);

    read({"-p", "-1"});
    EXPECT_EQ(g_precision, -1);
}

TEST_F(ReadArguments, MissingPrecisionStopsTheWalk) {
    const CliRequest request = read({"-s", "a.map", "-p"});
    EXPECT_EQ(request.action, CliAction::missing_precision);
}

TEST_F(ReadArguments, HelpAndVersionDecideWhereTheyStand) {
    for (const char* help : {"-h", "-HELP", "--Help", "-?"}) {
        EXPECT_EQ(read({"a.map", help, "-p"}).action, CliAction::show_usage) << help;
    }
    EXPECT_EQ(read({"--VERSION"}).action, CliAction::show_version);
    EXPECT_EQ(read({"-version", "-h"}).action, CliAction::show_version);
    EXPECT_EQ(read({"-p"}).action, CliAction::missing_precision);
    EXPECT_EQ(read({"-p", "-h"}).action, CliAction::run);
}

}  // namespace
