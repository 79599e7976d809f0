#include "base/CoreBlnk.h"
#include "base/CoreXutl.h"

#include <gtest/gtest.h>

namespace {

void sleepUntil(double startMs, double offsetMs) {
    const double remaining = startMs + offsetMs - CoreXutl::tmono();
    if (remaining > 0) CoreXutl::sleep(static_cast<int>(remaining));
}

} // namespace

TEST(CoreBlnk, OnDuringTheFirstSecondOfEveryTwo) {
    const double start = CoreXutl::tmono();
    const CoreBlnk blink;
    sleepUntil(start, 500.0);
    EXPECT_TRUE(blink.getvl());
    sleepUntil(start, 1500.0);
    EXPECT_FALSE(blink.getvl());
    sleepUntil(start, 2500.0);
    EXPECT_TRUE(blink.getvl());
}
