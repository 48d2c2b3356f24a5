// The argument walk and its number reading.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

#include "cli/settings.h"

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
        g_verbose = 0;
        g_silent = 0;
        g_precision = -1;
    }
    CliRequest read(std::vector<const char*> args) {
        args.insert(args.begin(), "mapclean");
        return read_arguments(static_cast<int>(args.size()), args.data());
    }
};

TEST_F(ReadArguments, OptionsInAnyCaseAndPosition) {
    const CliRequest request = read({"data.map", "-VERBOSE", "-S", "-P", "3"});
    EXPECT_EQ(request.action, CliAction::run);
    EXPECT_EQ(request.targetPath, "data.map");
    EXPECT_EQ(g_verbose, 1);
    EXPECT_EQ(g_silent, 1);
    EXPECT_EQ(g_precision, 3);
}

TEST_F(ReadArguments, TheLastTargetWins) {
    const CliRequest request = read({"a.map", "-v", "b.map"});
    EXPECT_EQ(request.targetPath, "b.map");
    EXPECT_EQ(request.targetCount, 3);  // "-v" is no option: it is a path
    EXPECT_EQ(g_verbose, 0);
}

TEST_F(ReadArguments, PrecisionTakesTheNextArgumentWhateverItIs) {
    EXPECT_EQ(read({"-p", "-verbose"}).targetCount, 0);
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
