// How often a serving process reports its channels' problems: a misbehaving client must not flood
// the log, and a problem that comes after a flood of them must still be reported.
#include <MRYIPC/ReportLimiter.h>

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using device::ipc::ReportLimiter;

TEST(ReportLimiter, LetsABurstThroughThenOneAnIntervalForAsLongAsReportsCome) {
    ReportLimiter limiter(3, 1s);
    const auto start = ReportLimiter::Clock::now();
    uint64_t leftOut = 99;
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(limiter.admit(start, &leftOut)) << i;
        EXPECT_EQ(leftOut, 0u);
    }
    for (int i = 0; i < 500; ++i) EXPECT_FALSE(limiter.admit(start + 500ms, &leftOut)) << i;
    // The next interval lets one through, which says how many were left out.
    EXPECT_TRUE(limiter.admit(start + 1s, &leftOut));
    EXPECT_EQ(leftOut, 500u);
    EXPECT_FALSE(limiter.admit(start + 1500ms, &leftOut));
    EXPECT_TRUE(limiter.admit(start + 2s, &leftOut));
    EXPECT_EQ(leftOut, 1u);
    // Much later the whole burst is back, and no more.
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(limiter.admit(start + 1h, &leftOut)) << i;
    EXPECT_FALSE(limiter.admit(start + 1h, &leftOut));
}

}  // namespace
