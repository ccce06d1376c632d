// The clean-up guard that undoes a half-done start of the shell.
#include "platform/scope_exit.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

TEST(ScopeExitTest, RunsOnceOnLeavingByEndOrExceptionAndNeverOnceDismissed) {
    int runs = 0;
    {
        ScopeExit guard([&runs] { ++runs; });
    }
    EXPECT_EQ(runs, 1);

    try {
        ScopeExit guard([&runs] { ++runs; });
        throw std::runtime_error("a later step failed");
    } catch (const std::runtime_error&) {
        // Only the guard's clean-up matters here.
    }
    EXPECT_EQ(runs, 2);

    {
        ScopeExit guard([&runs] { ++runs; });
        guard.Dismiss();
    }
    EXPECT_EQ(runs, 2);
}

}  // namespace
