// Tests of the time meter: the mean of bracketed times per unit, starting afresh after each read, and
// zero for units without time or time without units.
#include "base/CoreTime.h"

#include <gtest/gtest.h>

TEST(CoreTime, MeanOfBracketedTimesPerUnitThenStartsAfresh) {
    CoreTime meter;
    meter.setms(1);
    EXPECT_EQ(meter.getmp(), 0.0); // units without time
    for (int i = 0; i < 2; ++i) {
        meter.setmp(true);
        CoreTime::sleep(10);
        meter.setmp(false, 1);
        CoreTime::sleep(30); // outside the brackets: not measured
    }
    meter.setms(2); // 20 ms over 4 units
    const double perUnit = meter.getmp();
    EXPECT_TRUE(perUnit >= 4.9 && perUnit < 20.0) << perUnit; // generous: the machine may be loaded
    EXPECT_EQ(meter.getmp(), 0.0);
    meter.setmp(true);
    meter.setmp(false, 0);
    EXPECT_EQ(meter.getmp(), 0.0); // time without units
}
