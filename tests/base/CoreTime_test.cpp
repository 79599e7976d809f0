#include "base/CoreTime.h"

#include <gtest/gtest.h>

TEST(CoreTime, UnitsWithoutTimeOrTimeWithoutUnitsGiveZero) {
    CoreTime meter;
    EXPECT_EQ(meter.getmp(), 0.0);
    meter.setmp(true);
    CoreTime::sleep(5);
    meter.setmp(false, 0);
    EXPECT_EQ(meter.getmp(), 0.0); // the read also drops the unmatched time
    meter.setms(1);
    EXPECT_EQ(meter.getmp(), 0.0);
}

TEST(CoreTime, MeanOfBracketedTimesPerUnitThenStartsAfresh) {
    CoreTime meter;
    for (int i = 0; i < 2; ++i) {
        meter.setmp(true);
        CoreTime::sleep(10);
        meter.setmp(false, 1);
        CoreTime::sleep(30); // outside the brackets: not measured
    }
    meter.setms(2); // 20 ms over 4 units
    const double perUnit = meter.getmp();
    EXPECT_GE(perUnit, 4.9);
    EXPECT_LT(perUnit, 20.0); // generous: the machine may be loaded
    EXPECT_EQ(meter.getmp(), 0.0);
}
