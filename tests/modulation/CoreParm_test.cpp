#include "modulation/CoreParm.h"

#include "tests/common/DecimalCommaLocale.h"
#include <clocale>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace {

std::string text(const CoreAnsx& s) {
    return s.c_str();
}

// A table with "OFF" at -1 and "ON" at +1, as the program presets them.
struct PresetTable {
    DataSrce table;
    PresetTable() {
        table.getis(DataSrce::iCrowoff)->setvl(-1.0);
        table.getis(DataSrce::iCrowon)->setvl(1.0);
    }
};

CoreParm makeParm(DataSrce* table) {
    return CoreParm(CoreAnsx("P Rate"), CoreAnsx("P Rate"), CoreAnsx("Hz"), 0.0, 24.0, table);
}

TEST(CoreParm, FollowsOffOnAndOtherSlotsOverTheScale) {
    PresetTable preset;
    CoreParm parm(CoreAnsx("P"), CoreAnsx("P"), CoreAnsx("-"), 0.0, 1.0, &preset.table);

    parm.setsr(CoreAnsx("OFF"), 0.0, 1.0);
    EXPECT_EQ(parm.getvl(), 0.0);
    EXPECT_FALSE(parm.actve());
    EXPECT_FALSE(parm.iscst());

    parm.setsr(CoreAnsx("ON"), 0.0, 24.0);
    EXPECT_EQ(parm.getvl(), 24.0);
    EXPECT_TRUE(parm.actve());
    EXPECT_EQ(parm.getsl(), 0.0);
    EXPECT_EQ(parm.getsu(), 24.0);
    EXPECT_EQ(parm.getbl(), 0.0); // construction bounds stay
    EXPECT_EQ(parm.getbu(), 1.0);

    // A slot is read on every call: the parameter follows it.
    parm.setsr(CoreAnsx("LFO2"), -10.0, 10.0);
    EXPECT_TRUE(parm.actve());
    preset.table.getis(2)->setvl(0.25);
    EXPECT_DOUBLE_EQ(parm.getvl(), 2.5); // (0.25 + 1) * 0.5 * 20 - 10
    preset.table.getis(2)->setvl(-0.5);
    EXPECT_DOUBLE_EQ(parm.getvl(), -5.0);
    EXPECT_EQ(text(parm.getsc()), "LFO2");
    EXPECT_EQ(text(parm.getsa()), "LFO2");
}

TEST(CoreParm, NumericTextIsABipolarConstant) {
    PresetTable preset;
    CoreParm parm(CoreAnsx("P"), CoreAnsx("P"), CoreAnsx("-"), -1.0, 1.0, &preset.table);
    parm.setsr(CoreAnsx("0.5"), -1.0, 1.0);
    EXPECT_TRUE(parm.iscst());
    EXPECT_FALSE(parm.actve());
    EXPECT_EQ(parm.getcv(), 0.5);
    EXPECT_EQ(parm.getvl(), 0.5);
    EXPECT_EQ(text(parm.getsa()), "0.5000000000");
    EXPECT_EQ(text(parm.getsc()), "0.5");

    // The constant lives in the bipolar domain: 0 is the middle of any scale.
    parm.setsr(CoreAnsx("0"), 0.0, 24.0);
    EXPECT_EQ(parm.getvl(), 12.0);
    parm.setsr(CoreAnsx("-0.725"), 0.0, 24.0);
    EXPECT_NEAR(parm.getvl(), 3.3, 1e-12);
    EXPECT_EQ(text(parm.getsa()), "-0.7250000000");
}

TEST(CoreParm, EmptyAndNullTextFollowOff) {
    PresetTable preset;
    CoreParm parm = makeParm(&preset.table);
    for (const char* source : {"", "NULL"}) {
        SCOPED_TRACE(source);
        parm.setsr(CoreAnsx("0.3"), 0.0, 24.0); // something else first
        parm.setsr(CoreAnsx(source), 0.0, 24.0);
        EXPECT_FALSE(parm.iscst());
        EXPECT_FALSE(parm.actve());
        EXPECT_EQ(parm.getvl(), 0.0); // the "OFF" slot at -1 gives the lower end
        EXPECT_EQ(text(parm.getsc()), "");
        EXPECT_EQ(text(parm.getsa()), "");
    }
}

TEST(CoreParm, MisspeltKeyIsTheMiddleOfTheScale) {
    PresetTable preset;
    CoreParm parm = makeParm(&preset.table);
    parm.setsr(CoreAnsx("LF01"), 0.0, 24.0);
    EXPECT_TRUE(parm.iscst());
    EXPECT_FALSE(parm.actve());
    EXPECT_EQ(parm.getcv(), 0.0);
    EXPECT_EQ(parm.getvl(), 12.0);
}

TEST(CoreParm, NonFiniteConstantTextBecomesZero) {
    PresetTable preset;
    CoreParm parm = makeParm(&preset.table);
    for (const char* source : {"1e999", "-1e999", "inf", "nan"}) {
        parm.setsr(CoreAnsx(source), 0.0, 24.0);
        EXPECT_TRUE(parm.iscst()) << source;
        EXPECT_EQ(parm.getcv(), 0.0) << source;
        EXPECT_EQ(parm.getvl(), 12.0) << source;
    }
}

TEST(CoreParm, EqualScaleBoundsAlwaysGiveTheLowerBound) {
    PresetTable preset;
    CoreParm parm = makeParm(&preset.table);
    parm.setsr(CoreAnsx("ON"), 3.3, 3.3);
    EXPECT_EQ(parm.getvl(), 3.3);
    parm.setsr(CoreAnsx("0.9"), 3.3, 3.3);
    EXPECT_EQ(parm.getvl(), 3.3);
    // A denormal difference counts as no range.
    parm.setsr(CoreAnsx("ON"), 0.0, 1e-320);
    EXPECT_EQ(parm.getvl(), 0.0);
}

TEST(CoreParm, ZeroAndDenormalResultsComeBackAsPositiveZero) {
    PresetTable preset;
    CoreParm parm = makeParm(&preset.table);
    // -1 over a scale starting at -0.0: (v + 1) * 0.5 * range + (-0.0) is -0.0.
    parm.setsr(CoreAnsx("OFF"), -0.0, 1.0);
    double v = parm.getvl();
    EXPECT_EQ(v, 0.0);
    EXPECT_FALSE(std::signbit(v));
    // A result in the denormal range.
    parm.setsr(CoreAnsx("0"), -1e-308, -1e-308 + 2e-308 * 0.5);
    v = parm.getvl();
    EXPECT_EQ(v, 0.0);
    EXPECT_FALSE(std::signbit(v));
}

TEST(CoreParm, ConstructedParameterFollowsOffAtItsLowerBound) {
    PresetTable preset;
    CoreParm parm(CoreAnsx("P"), CoreAnsx("P"), CoreAnsx("-"), 5.0, 9.0, &preset.table);
    EXPECT_FALSE(parm.iscst());
    EXPECT_FALSE(parm.actve());
    EXPECT_EQ(parm.getvl(), 5.0);
    EXPECT_EQ(parm.getsl(), 5.0);
    EXPECT_EQ(parm.getsu(), 5.0);
}

TEST(CoreParm, ConstantsIgnoreADecimalCommaLocale) {
    DecimalCommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no decimal-comma locale available on this machine";
    PresetTable preset;
    CoreParm parm = makeParm(&preset.table);
    parm.setsr(CoreAnsx("0.5"), -1.0, 1.0);
    EXPECT_EQ(parm.getcv(), 0.5);
    EXPECT_EQ(parm.getvl(), 0.5);
    EXPECT_EQ(text(parm.getsa()), "0.5000000000");
}

} // namespace
