#include "base/CoreKutl.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <time.h>

TEST(CoreKutl, DeadlineAddsMillisecondsAndCarriesWholeSeconds) {
    struct Row {
        long ms, nowSeconds, nowMicroseconds, seconds, nanoseconds;
    };
    const Row rows[] = {
        {0, 100, 0, 100, 0},
        {1, 1000, 999999, 1001, 999000},    // carried
        {1, 1000, 998999, 1000, 999999000}, // one microsecond short of a carry
        {2500, 10, 500000, 13, 0},          // exactly a whole second of nanoseconds carries
        {123456, 50, 250000, 173, 706000000},
        {86400000L * 365, 1700000000, 1, 1700000000 + 86400L * 365, 1000},
        {-5, 42, 10, 42, 10000}, // a negative delay means now
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.ms << " ms from " << r.nowSeconds << "." << r.nowMicroseconds);
        timespec deadline{};
        CoreKutl::cnmpd(r.ms, r.nowSeconds, r.nowMicroseconds, &deadline);
        EXPECT_EQ(deadline.tv_sec, r.seconds);
        EXPECT_EQ(deadline.tv_nsec, r.nanoseconds);
    }
}

TEST(CoreKutl, DeadlineIsOnTheWallClock) {
    const long delayMs = 1500;
    timespec before{}, after{}, deadline{};
    clock_gettime(CLOCK_REALTIME, &before);
    CoreKutl::cnmpd(delayMs, &deadline);
    clock_gettime(CLOCK_REALTIME, &after);
    auto toNs = [](const timespec& t) { return int64_t(t.tv_sec) * 1000000000LL + t.tv_nsec; };
    // The wall clock is read in microseconds, so the deadline may lie up to 1 us before "before".
    EXPECT_GE(toNs(deadline), toNs(before) + delayMs * 1000000LL - 1000);
    EXPECT_LE(toNs(deadline), toNs(after) + delayMs * 1000000LL);
}
