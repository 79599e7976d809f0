#include "modulation/CorePrm_.h"

#include "tests/modulation/ModulationFixture.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using namespace modtest;

struct PrmFixture : ::testing::Test {
    PresetSources sources;
    DataGfun functions;
    CoreSrce* slot = sources.getis(DataSrce::iCrowprm1);
    CorePrm_ prm{CoreAnsx("PRM1"), &functions, &sources, slot};

    // A displayed parameter with the given ranges and label, following "OFF" through "a".
    void define(double min, double max, double barMin, double barMax, const char* label = "Depth") {
        prm.setvl(true, CoreAnsx("OFF"), CoreAnsx("OFF"), CoreAnsx("a"), CoreAnsx(label), CoreAnsx(""),
                  CoreAnsx("%"), CoreAnsx(""), CoreAnsx(""), min, max, barMin, barMax);
    }
    // True when an update writes the slot (the parameter is defined).
    bool updateWrites() {
        slot->setvl(0.3);
        prm.updte();
        return slot->getvl() != 0.3;
    }
};

TEST_F(PrmFixture, ResetLeavesEmptyInputsTextsAndBoundsDefinedOnlyWhenAsked) {
    for (int step = 0; step < 3; step++) { // as constructed, then setvl(false), then setvl(true)
        SCOPED_TRACE(step);
        if (step > 0) {
            define(1.0, 100.0, 2.0, 90.0);
            prm.setfn(CoreAnsx("ON"), CoreAnsx("ON"), CoreAnsx("a*b"));
            prm.setvl(step == 2);
        }
        EXPECT_EQ(text(prm.getfa()->getsc() + prm.getfb()->getsc() + prm.getfn()), "a"); // empty sources
        for (const CoreAnsx& t : {prm.getlb(), prm.getpl(), prm.getun(), prm.getpu(), prm.getou()})
            EXPECT_EQ(text(t), "");
        double bounds[4] = {1, 1, 1, 1};
        prm.getbn(bounds[0], bounds[1], bounds[2], bounds[3]);
        for (double bound : bounds) EXPECT_EQ(bound, 0.0);
        EXPECT_FALSE(prm.isdis());
        EXPECT_EQ(updateWrites(), step == 2);
        EXPECT_EQ(slot->getvl(), step == 2 ? -1.0 : 0.3); // "a" of "OFF"
    }
    // Defined but not displayed: it has a value, and the reset bar 0..0 has scale 1.
    prm.setmn(2.0);
    prm.setmx(4.0);
    EXPECT_EQ(prm.getvl(), 2.0);
    EXPECT_EQ(prm.getbf(), 1.0);
}

TEST_F(PrmFixture, DefinitionDrivesTheSlotTheValueAndTheBar) {
    prm.setvl(true, CoreAnsx("0.5"), CoreAnsx("LFO1"), CoreAnsx("a+b"), CoreAnsx("Depth"), CoreAnsx("Pre"),
              CoreAnsx("%"), CoreAnsx("pu"), CoreAnsx("ou"), 0.0, 100.0, 10.0, 90.0);
    EXPECT_TRUE(prm.isdis());
    EXPECT_EQ(text(prm.getpl() + prm.getun() + prm.getpu() + prm.getou()), "Pre%puou");
    const double bounds[] = {0.0, 100.0, 10.0, 90.0, 0.0, 0.0};
    const short ids[] = {0, 1, 2, 3, 7, -1};
    for (int i = 0; i < 6; i++) EXPECT_EQ(prm.getbd(ids[i]), bounds[i]) << ids[i];
    sources.getis(DataSrce::iCrowlfo1)->setvl(0.25);
    prm.updte();
    EXPECT_DOUBLE_EQ(slot->getvl(), 0.75);
    EXPECT_DOUBLE_EQ(prm.getvl(), 87.5); // 0 + 100 * (0.75 + 1) / 2
    EXPECT_DOUBLE_EQ(prm.getbf(), (87.5 - 10.0) / 80.0);

    prm.setvl(false, CoreAnsx(""), CoreAnsx(""), CoreAnsx("no such"), CoreAnsx("L"), CoreAnsx(""),
              CoreAnsx(""), CoreAnsx(""), CoreAnsx(""), 0.0, 1.0, 0.0, 1.0);
    EXPECT_EQ(text(prm.getfn()), "a");
    EXPECT_FALSE(prm.isdis());
    EXPECT_TRUE(updateWrites());

    define(0.0, 10.0, 0.0, 10.0, ""); // no label: defined, but disabled
    slot->setvl(1.0);
    EXPECT_EQ(prm.getvl(), 0.0);
    EXPECT_EQ(prm.getbf(), 0.0);
    EXPECT_FALSE(prm.isdis());
    EXPECT_TRUE(updateWrites());
}

TEST_F(PrmFixture, ValueFollowsTheSlotOverMinToMaxAndTheBarClampsAtItsEnds) {
    struct Row { double min, max, barMin, barMax, slot, value, fraction; };
    const Row rows[] = {
        {10.0, 0.0, 0.0, 10.0, 1.0, 0.0, 0.0}, // min above max: the value falls
        {10.0, 0.0, 0.0, 10.0, -1.0, 10.0, 1.0}, {10.0, 0.0, 0.0, 10.0, 0.5, 2.5, 0.25},
        {-2.0, 2.0, 0.0, 0.0, 0.2, 0.4, 0.4}, // bar 0..0: scale 1
        {-2.0, 2.0, 0.0, 0.0, 1.0, 2.0, 1.0},    {-2.0, 2.0, 0.0, 0.0, -0.5, -1.0, 0.0},
        {0.0, 10.0, 10.0, 0.0, 0.0, 5.0, 0.5},   // inverted bar 10..0
        {-2.0, 0.0, 10.0, 0.0, 0.0, -1.0, 1.0},  // below an inverted bar: full
        {0.0, 12.0, 10.0, 0.0, 1.0, 12.0, -0.2}, // above its bar min: negative, the display clamps
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.min) + ".." + std::to_string(r.max) + " slot " +
                     std::to_string(r.slot));
        define(r.min, r.max, r.barMin, r.barMax);
        slot->setvl(r.slot);
        EXPECT_DOUBLE_EQ(prm.getvl(), r.value);
        EXPECT_DOUBLE_EQ(prm.getbf(), r.fraction);
    }
}

TEST_F(PrmFixture, SingleBoundSettersWaitForSetba) {
    define(0.0, 10.0, 0.0, 10.0); // v = 5, scale 0.1
    slot->setvl(0.0);
    prm.setbx(20.0);
    EXPECT_DOUBLE_EQ(prm.getbf(), 0.5);
    prm.setba();
    EXPECT_DOUBLE_EQ(prm.getbf(), 0.25);
    prm.setbn(4.0);
    prm.setba();
    EXPECT_DOUBLE_EQ(prm.getbf(), 1.0 / 16.0);
    prm.setbn(0.0, 10.0, 10.0, 0.0); // all four, then the window
    EXPECT_DOUBLE_EQ(prm.getbf(), 0.5);
}

TEST_F(PrmFixture, ShowingDefinesAnUndefinedParameterAndLabelsItNull) {
    prm.setds(false);
    EXPECT_FALSE(updateWrites());
    prm.setds(true);
    EXPECT_TRUE(prm.isdis());
    EXPECT_EQ(text(prm.getlb()), "NULL");
    EXPECT_TRUE(updateWrites());
    prm.setds(false);
    EXPECT_EQ(prm.getvl(), 0.0); // hiding also disables
    prm.setlb(CoreAnsx("0"));    // a "0" label counts as none
    prm.setds(true);
    EXPECT_EQ(text(prm.getlb()), "NULL");
    prm.setlb(CoreAnsx("Mix"));
    prm.setds(true);
    EXPECT_EQ(text(prm.getlb()), "Mix");
}

TEST_F(PrmFixture, OperationAndInputSettersTakeEffectOnTheNextUpdate) {
    define(0.0, 1.0, 0.0, 1.0);
    prm.setfn(CoreAnsx("bogus"));
    EXPECT_EQ(text(prm.getfn()), "a");
    prm.setsa(CoreAnsx("0.2"));
    prm.setsb(CoreAnsx("ON"));
    prm.setfn(CoreAnsx("a*b"));
    prm.updte();
    EXPECT_DOUBLE_EQ(slot->getvl(), 0.2);
    prm.setfn(CoreAnsx("-0.4"), CoreAnsx("0.5"), CoreAnsx("min(a,b)"));
    prm.updte();
    EXPECT_DOUBLE_EQ(slot->getvl(), -0.4);
}

} // namespace
