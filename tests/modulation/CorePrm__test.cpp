// CorePrm_: the reset (defined only when asked), a definition driving the slot, the value and the bar
// (inverted, empty and clamped bars, zero bar ranges), showing and hiding, and the setters.
#include "modulation/CorePrm_.h"

#include "tests/modulation/ModulationFixture.h"

#include <gtest/gtest.h>

namespace {

using namespace modtest;

struct PrmFixture : ::testing::Test {
    PresetSources sources;
    DataGfun functions;
    CoreSrce* slot = sources.getis(DataSrce::iCrowprm1);
    CorePrm_ prm{"PRM1", &functions, &sources, slot};

    // A displayed parameter with the given ranges and label, following "OFF" through "a".
    void define(double min, double max, double barMin, double barMax, const char* label = "Depth") {
        prm.setvl(true, "OFF", "OFF", "a", label, "", "%", "", "", min, max, barMin, barMax);
    }
    // True when an update writes the slot (the parameter is defined).
    bool updateWrites() {
        slot->setvl(0.3);
        prm.updte();
        return slot->getvl() != 0.3;
    }
};

TEST_F(PrmFixture, ResetLeavesEmptyInputsTextsAndBoundsDefinedOnlyWhenAsked) {
    for (bool definedReset : {false, true}) {
        define(1.0, 100.0, 2.0, 90.0);
        prm.setfn("ON", "ON", "a*b");
        prm.setvl(definedReset);
        EXPECT_EQ(text(prm.getfa()->getsc() + prm.getfb()->getsc() + prm.getfn() + prm.getlb()), "a");
        EXPECT_EQ(prm.getbd(1) + prm.getbd(3), 0.0);
        EXPECT_FALSE(prm.isdis());
        EXPECT_EQ(updateWrites(), definedReset);
    }
    EXPECT_EQ(slot->getvl(), -1.0); // "a" of "OFF"
    prm.setmn(2.0); // defined but not displayed: it has a value, and the reset bar 0..0 has scale 1
    prm.setmx(4.0);
    EXPECT_EQ(prm.getvl(), 2.0);
    EXPECT_EQ(prm.getbf(), 1.0);
}

TEST_F(PrmFixture, DefinitionDrivesTheSlotTheValueAndTheBar) {
    prm.setvl(true, "0.5", "LFO1", "a+b", "Depth", "Pre", "%", "pu", "ou", 0.0, 100.0, 10.0, 90.0);
    EXPECT_EQ(text(prm.getpl() + prm.getun() + prm.getpu() + prm.getou()), "Pre%puou");
    sources.getis(DataSrce::iCrowlfo1)->setvl(0.25);
    prm.updte();
    EXPECT_DOUBLE_EQ(slot->getvl(), 0.75);
    EXPECT_DOUBLE_EQ(prm.getvl(), 87.5); // 0 + 100 * (0.75 + 1) / 2
    EXPECT_DOUBLE_EQ(prm.getbf(), (87.5 - 10.0) / 80.0);

    struct Row { double min, max, barMin, barMax, slot, value, fraction; };
    const Row rows[] = {
        {10.0, 0.0, 0.0, 10.0, 0.5, 2.5, 0.25},  // min above max: the value falls
        {-2.0, 2.0, 0.0, 0.0, 1.0, 2.0, 1.0},    // bar 0..0: scale 1, clamped at 1
        {-2.0, 2.0, 0.0, 0.0, -0.5, -1.0, 0.0},  // below the bar: empty
        {-2.0, 0.0, 10.0, 0.0, 0.0, -1.0, 1.0},  // below an inverted bar: full
        {0.0, 12.0, 10.0, 0.0, 1.0, 12.0, -0.2}, // above its bar min: negative, the display clamps
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.min << ".." << r.max << " bar " << r.barMin << ".." << r.barMax);
        define(r.min, r.max, r.barMin, r.barMax);
        slot->setvl(r.slot);
        EXPECT_DOUBLE_EQ(prm.getvl(), r.value);
        EXPECT_DOUBLE_EQ(prm.getbf(), r.fraction);
    }
    define(0.0, 10.0, 0.0, 10.0, ""); // no label: defined, but disabled
    EXPECT_EQ(prm.getvl() + prm.getbf(), 0.0);
    EXPECT_TRUE(updateWrites());
}

TEST_F(PrmFixture, ShowingDefinesAnUndefinedParameterAndLabelsItNull) {
    prm.setds(false);
    EXPECT_FALSE(updateWrites());
    prm.setds(true);
    EXPECT_TRUE(prm.isdis() && updateWrites());
    EXPECT_EQ(text(prm.getlb()), "NULL");
    prm.setds(false);
    EXPECT_EQ(prm.getvl(), 0.0); // hiding also disables
    prm.setlb("0");              // a "0" label counts as none
    prm.setds(true);
    EXPECT_EQ(text(prm.getlb()), "NULL");
    prm.setsa("0.2");
    prm.setsb("ON");
    prm.setfn("a*b");
    prm.updte();
    EXPECT_DOUBLE_EQ(slot->getvl(), 0.2);
}

} // namespace
