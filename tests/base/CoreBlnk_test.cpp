// Tests of the blinker: on during the first second of every two, read from a clock the test sets.
#include "base/CoreBlnk.h"
#include "base/CoreXutl.h"

#include <gtest/gtest.h>

namespace {
double fakeDays = 20000.0;
double fakeClock() {
    return fakeDays;
}
} // namespace

TEST(CoreBlnk, OnDuringTheFirstSecondOfEveryTwo) {
    CoreXutl::setDayClock(fakeClock);
    const CoreBlnk blink;
    const double start = fakeDays;
    for (const auto& [seconds, on] : {std::pair{0.5, true}, {1.5, false}, {2.5, true}, {3.9, false}}) {
        fakeDays = start + seconds / 86400.0;
        EXPECT_EQ(blink.getvl(), on) << seconds << " s";
    }
    CoreXutl::setDayClock(nullptr);
}
