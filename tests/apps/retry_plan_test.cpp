// The waits and limits of `upload --retry`.
#include "apps/pxupload/retry_plan.h"

#include <gtest/gtest.h>

namespace {

TEST(RetryPlan, WaitsDoubleFromOneSecondUpToAMinuteWithinTheJitter) {
    double draw = 0.5; // the middle of the jitter: the plain doubling
    CRetryPlan plan(20, [&draw] { return draw; });
    const double expected[] = {1, 2, 4, 8, 16, 32, 60, 60};
    for (int attempt = 1; attempt <= 8; ++attempt)
        EXPECT_DOUBLE_EQ(plan.Wait(attempt), expected[attempt - 1]) << attempt;
    draw = 0.0;
    EXPECT_DOUBLE_EQ(plan.Wait(3), 4 * 0.8);
    EXPECT_DOUBLE_EQ(plan.Wait(9), 60 * 0.8);
    draw = 0.999999;
    EXPECT_NEAR(plan.Wait(3), 4 * 1.2, 1e-4);
    // Stretching never makes a wait longer than the longest.
    EXPECT_DOUBLE_EQ(plan.Wait(7), 60);
}

TEST(RetryPlan, OnlyTransientFailuresAreScheduledAndEachPictureAtMostNTimes) {
    CRetryPlan plan(2, [] { return 0.5; });
    double wait = 0;
    int attempt = 0;
    EXPECT_FALSE(plan.Schedule("refused.jpg", false, 100, wait, attempt));
    EXPECT_FALSE(plan.IsWaiting());

    ASSERT_TRUE(plan.Schedule("a.jpg", true, 100, wait, attempt));
    EXPECT_EQ(attempt, 1);
    EXPECT_DOUBLE_EQ(wait, 1);
    EXPECT_TRUE(plan.IsScheduled("a.jpg"));
    // Scheduled once until it is due.
    EXPECT_FALSE(plan.Schedule("a.jpg", true, 100.5, wait, attempt));
    EXPECT_TRUE(plan.TakeDue(100.9).empty());
    EXPECT_EQ(plan.TakeDue(101.0), std::vector<std::string>{"a.jpg"});
    EXPECT_FALSE(plan.IsWaiting());

    ASSERT_TRUE(plan.Schedule("a.jpg", true, 105, wait, attempt));
    EXPECT_EQ(attempt, 2);
    EXPECT_DOUBLE_EQ(wait, 2);
    EXPECT_EQ(plan.TakeDue(107), std::vector<std::string>{"a.jpg"});
    EXPECT_FALSE(plan.Schedule("a.jpg", true, 110, wait, attempt)) << "the third failure is final";

    CRetryPlan none(0);
    EXPECT_FALSE(none.Schedule("a.jpg", true, 0, wait, attempt));
}

} // namespace
