#include "base/CoreKutl.h"

#include <gtest/gtest.h>

#include <time.h>

namespace {
struct DeadlineCase {
    long ms;
    long nowSeconds;
    long nowMicroseconds;
    long seconds;
    long nanoseconds;
};
} // namespace

TEST(CoreKutl, DeadlineAddsMillisecondsAndCarriesWholeSeconds) {
    const DeadlineCase cases[] = {
        {0, 100, 0, 100, 0},
        {1, 1000, 999999, 1001, 999000},    // 0.999999 s past a second, plus 1 ms: carried
        {1, 1000, 998999, 1000, 999999000}, // one microsecond short of a carry
        {2500, 10, 500000, 13, 0},          // exactly a whole second of nanoseconds carries
        {1000, 7, 0, 8, 0},
        {123456, 50, 250000, 173, 706000000},
        {86400000L * 365, 1700000000, 1, 1700000000 + 86400L * 365, 1000},
    };
    for (const DeadlineCase& c : cases) {
        timespec deadline{};
        CoreKutl::cnmpd(c.ms, c.nowSeconds, c.nowMicroseconds, &deadline);
        EXPECT_EQ(deadline.tv_sec, c.seconds)
            << c.ms << " ms from " << c.nowSeconds << "." << c.nowMicroseconds;
        EXPECT_EQ(deadline.tv_nsec, c.nanoseconds)
            << c.ms << " ms from " << c.nowSeconds << "." << c.nowMicroseconds;
    }
}

TEST(CoreKutl, NegativeDelayMeansNow) {
    timespec deadline{};
    CoreKutl::cnmpd(-5, 42, 10, &deadline);
    EXPECT_EQ(deadline.tv_sec, 42);
    EXPECT_EQ(deadline.tv_nsec, 10000);
}

TEST(CoreKutl, DeadlineIsOnTheWallClock) {
    const long delayMs = 1500;
    timespec before{}, after{}, deadline{};
    clock_gettime(CLOCK_REALTIME, &before);
    CoreKutl::cnmpd(delayMs, &deadline);
    clock_gettime(CLOCK_REALTIME, &after);
    auto toNs = [](const timespec& t) { return int64_t(t.tv_sec) * 1000000000LL + t.tv_nsec; };
    EXPECT_GE(deadline.tv_nsec, 0);
    EXPECT_LT(deadline.tv_nsec, 1000000000L);
    // The wall clock is read in microseconds, so the deadline may lie up to 1 us before "before".
    EXPECT_GE(toNs(deadline), toNs(before) + delayMs * 1000000LL - 1000);
    EXPECT_LE(toNs(deadline), toNs(after) + delayMs * 1000000LL);
}
