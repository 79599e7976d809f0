// Tests of the wait deadline: milliseconds added to the wall clock, whole seconds carried, a negative
// delay meaning now.
#include "base/CoreKutl.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <time.h>

TEST(CoreKutl, DeadlineAddsMillisecondsToTheWallClockAndCarriesWholeSeconds) {
    struct Row {
        long ms, nowSeconds, nowMicroseconds, seconds, nanoseconds;
    };
    const Row rows[] = {
        {1, 1000, 999999, 1001, 999000},    // carried
        {1, 1000, 998999, 1000, 999999000}, // one microsecond short of a carry
        {2500, 10, 500000, 13, 0},          // exactly a whole second of nanoseconds carries
        {86400000L * 365, 1700000000, 1, 1700000000 + 86400L * 365, 1000},
        {-5, 42, 10, 42, 10000}, // a negative delay means now
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.ms << " ms from " << r.nowSeconds << "." << r.nowMicroseconds);
        timespec deadline{};
        CoreKutl::cnmpd(r.ms, r.nowSeconds, r.nowMicroseconds, &deadline);
        EXPECT_TRUE(deadline.tv_sec == r.seconds && deadline.tv_nsec == r.nanoseconds);
    }
    timespec before{}, deadline{};
    clock_gettime(CLOCK_REALTIME, &before);
    CoreKutl::cnmpd(1500, &deadline);
    // Taken from the wall clock: another clock, or none, would put it far from now + 1.5 s.
    EXPECT_NEAR(double(deadline.tv_sec - before.tv_sec) + (deadline.tv_nsec - before.tv_nsec) * 1e-9, 1.5,
                0.5);
}
