// The shared cap of upload --limit-rate: its texts and its schedule.
#include "net/rate_limit.h"

#include <gtest/gtest.h>

namespace {

TEST(RateLimit, RatesAreReadLikeTheCommonDownloadTools) {
    EXPECT_EQ(CRateLimit::ParseRate("300000"), 300000u);
    EXPECT_EQ(CRateLimit::ParseRate("200K"), 200u * 1024);
    EXPECT_EQ(CRateLimit::ParseRate("200k"), 200u * 1024);
    EXPECT_EQ(CRateLimit::ParseRate("2M"), 2u * 1024 * 1024);
    EXPECT_EQ(CRateLimit::ParseRate("1.5M"), 1572864u);
    EXPECT_EQ(CRateLimit::ParseRate("1G"), 1024u * 1024 * 1024);
    for (const char* bad : {"", "0", "0K", "K", "-5K", "2X", "1..5M", ".5M", "2MB", "0.0001",
                            "99999999999999999999999999"})
        EXPECT_FALSE(CRateLimit::ParseRate(bad)) << bad;
}

TEST(RateLimit, SpendingPushesTheNextSendBackByTheTimeTheBytesTake) {
    CRateLimit limit;
    EXPECT_EQ(limit.Delay(), 0);
    limit.Spend(1000000); // no cap: nothing to pay
    EXPECT_EQ(limit.Delay(), 0);

    limit.SetBytesPerSecond(100000);
    // The first tenth of a second's allowance is there at once; what goes beyond it must wait.
    limit.Spend(10000);
    EXPECT_LT(limit.Delay(), 0.01);
    limit.Spend(50000);
    double delay = limit.Delay();
    EXPECT_GT(delay, 0.35);
    EXPECT_LE(delay, 0.5);
    limit.SetBytesPerSecond(0);
    EXPECT_EQ(limit.Delay(), 0);
}

} // namespace
