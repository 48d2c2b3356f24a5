#include "cli/closing_pause.h"

#include <gtest/gtest.h>

namespace {

TEST(PausesBeforeClosing, OnlyInAConsoleOfItsOwnThatAPersonCanAnswer) {
    const struct {
        ConsoleSituation console;
        bool pauses;
        const char* what;
    } cases[] = {
        {{1, true}, true, "a drop or double-click in Explorer"},
        {{2, true}, false, "cmd or PowerShell opened by the user"},
        {{3, true}, false, "a shell started from another shell"},
        {{1, false}, false, "redirected input"},
        {{0, false}, false, "no console (POSIX, or a detached process)"},
        {{0, true}, false, "a console that could not be counted"},
    };
    for (const auto& c : cases) EXPECT_EQ(pauses_before_closing(c.console), c.pauses) << c.what;
}

}  // namespace
