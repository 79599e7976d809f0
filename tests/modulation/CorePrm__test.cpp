#include "modulation/CorePrm_.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string text(const CoreAnsx& s) {
    return s.c_str();
}

struct PrmFixture : ::testing::Test {
    DataSrce sources;
    DataGfun functions;
    CoreSrce* slot = sources.getis(DataSrce::iCrowprm1);
    CorePrm_ prm{CoreAnsx("PRM1"), &functions, &sources, slot};

    PrmFixture() {
        sources.getis(DataSrce::iCrowoff)->setvl(-1.0);
        sources.getis(DataSrce::iCrowon)->setvl(1.0);
    }
    // A displayed, labelled parameter with the given ranges whose slot holds v.
    void define(double min, double max, double barMin, double barMax, double slotValue) {
        prm.setvl(true, CoreAnsx("OFF"), CoreAnsx("OFF"), CoreAnsx("a"), CoreAnsx("Depth"), CoreAnsx(""),
                  CoreAnsx("%"), CoreAnsx(""), CoreAnsx(""), min, max, barMin, barMax);
        slot->setvl(slotValue);
    }
    void expectResetState() {
        EXPECT_EQ(text(prm.getfa()->getsc()), "");
        EXPECT_EQ(text(prm.getfb()->getsc()), "");
        EXPECT_FALSE(prm.getfa()->iscst());
        EXPECT_FALSE(prm.getfa()->actve());
        EXPECT_EQ(prm.getfa()->getsl(), -1.0);
        EXPECT_EQ(prm.getfa()->getsu(), 1.0);
        EXPECT_EQ(text(prm.getfn()), "a");
        for (const CoreAnsx& t : {prm.getlb(), prm.getpl(), prm.getun(), prm.getpu(), prm.getou()})
            EXPECT_EQ(text(t), "");
        double min = 1, max = 1, barMin = 1, barMax = 1;
        prm.getbn(min, max, barMin, barMax);
        EXPECT_EQ(min, 0.0);
        EXPECT_EQ(max, 0.0);
        EXPECT_EQ(barMin, 0.0);
        EXPECT_EQ(barMax, 0.0);
        EXPECT_FALSE(prm.isdis());
    }
};

TEST_F(PrmFixture, ConstructedParameterIsResetAndUndefined) {
    expectResetState();
    slot->setvl(0.3);
    prm.updte();
    EXPECT_EQ(slot->getvl(), 0.3); // undefined: the slot is left alone
    EXPECT_EQ(prm.getvl(), 0.0);
}

TEST_F(PrmFixture, ResetWithAndWithoutDefinition) {
    define(0.0, 100.0, 0.0, 100.0, 0.5);
    prm.setfn(CoreAnsx("ON"), CoreAnsx("ON"), CoreAnsx("a*b"));
    prm.setvl(false);
    expectResetState();
    slot->setvl(0.3);
    prm.updte();
    EXPECT_EQ(slot->getvl(), 0.3);

    prm.setvl(true);
    expectResetState();
    // Defined and enabled but not displayed: it writes its slot ("a" of "OFF") and has a value.
    prm.updte();
    EXPECT_EQ(slot->getvl(), -1.0);
    prm.setmn(2.0);
    prm.setmx(4.0);
    EXPECT_EQ(prm.getvl(), 2.0);
    EXPECT_FALSE(prm.isdis());
    // The reset bar: window 0..0, scale 1.
    EXPECT_EQ(prm.getbf(), 1.0); // min(1, (2 - 0) * 1)
}

TEST_F(PrmFixture, FullDefinitionStoresEverything) {
    prm.setvl(true, CoreAnsx("0.5"), CoreAnsx("LFO1"), CoreAnsx("a+b"), CoreAnsx("Depth"), CoreAnsx("Pre"),
              CoreAnsx("%"), CoreAnsx("pu"), CoreAnsx("ou"), 0.0, 100.0, 10.0, 90.0);
    EXPECT_TRUE(prm.isdis());
    EXPECT_EQ(text(prm.getfn()), "a+b");
    EXPECT_EQ(text(prm.getlb()), "Depth");
    EXPECT_EQ(text(prm.getpl()), "Pre");
    EXPECT_EQ(text(prm.getun()), "%");
    EXPECT_EQ(text(prm.getpu()), "pu");
    EXPECT_EQ(text(prm.getou()), "ou");
    EXPECT_EQ(prm.getbd(0), 0.0);
    EXPECT_EQ(prm.getbd(1), 100.0);
    EXPECT_EQ(prm.getbd(2), 10.0);
    EXPECT_EQ(prm.getbd(3), 90.0);
    EXPECT_EQ(prm.getbd(7), 0.0);
    EXPECT_EQ(prm.getbd(-1), 0.0);
    EXPECT_TRUE(prm.getfa()->iscst());
    EXPECT_TRUE(prm.getfb()->actve());

    sources.getis(DataSrce::iCrowlfo1)->setvl(0.25);
    prm.updte();
    EXPECT_DOUBLE_EQ(slot->getvl(), 0.75);
    EXPECT_DOUBLE_EQ(prm.getvl(), 87.5);                 // 0 + 100 * (0.75 + 1) / 2
    EXPECT_DOUBLE_EQ(prm.getbf(), (87.5 - 10.0) / 80.0); // inside the bar window

    prm.setvl(false, CoreAnsx(""), CoreAnsx(""), CoreAnsx("no such"), CoreAnsx("L"), CoreAnsx(""),
              CoreAnsx(""), CoreAnsx(""), CoreAnsx(""), 0.0, 1.0, 0.0, 1.0);
    EXPECT_EQ(text(prm.getfn()), "a");
    EXPECT_FALSE(prm.isdis()); // defined but not displayed
}

TEST_F(PrmFixture, EmptyLabelLeavesTheParameterDisabled) {
    prm.setvl(true, CoreAnsx("ON"), CoreAnsx("OFF"), CoreAnsx("a"), CoreAnsx(""), CoreAnsx(""), CoreAnsx(""),
              CoreAnsx(""), CoreAnsx(""), 0.0, 10.0, 0.0, 10.0);
    slot->setvl(1.0);
    EXPECT_EQ(prm.getvl(), 0.0);
    EXPECT_FALSE(prm.isdis());
    EXPECT_EQ(prm.getbf(), 0.0);
    // Still defined: the processor's update writes its slot.
    slot->setvl(0.0);
    prm.updte();
    EXPECT_EQ(slot->getvl(), 1.0);
}

TEST_F(PrmFixture, InvertedValueRange) {
    define(10.0, 0.0, 0.0, 10.0, 1.0);
    EXPECT_EQ(prm.getvl(), 0.0);
    slot->setvl(-1.0);
    EXPECT_EQ(prm.getvl(), 10.0);
    slot->setvl(0.5);
    EXPECT_DOUBLE_EQ(prm.getvl(), 2.5);
}

TEST_F(PrmFixture, BarFractions) {
    // Bar 0..0: scale 1, the fraction is min(1, v) for v >= 0 and 0 below.
    define(-2.0, 2.0, 0.0, 0.0, 0.0);
    EXPECT_EQ(prm.getbf(), 0.0);
    slot->setvl(0.2); // v = 0.4
    EXPECT_DOUBLE_EQ(prm.getbf(), 0.4);
    slot->setvl(1.0); // v = 2
    EXPECT_EQ(prm.getbf(), 1.0);
    slot->setvl(-0.5); // v = -1
    EXPECT_EQ(prm.getbf(), 0.0);

    // Inverted bar 10..0: low end 0, fallback 1.
    define(0.0, 10.0, 10.0, 0.0, 0.0); // v = 5
    EXPECT_DOUBLE_EQ(prm.getbf(), 0.5);
    define(-2.0, 0.0, 10.0, 0.0, 0.0); // v = -1
    EXPECT_EQ(prm.getbf(), 1.0);
    define(0.0, 12.0, 10.0, 0.0, 1.0); // v = 12, above bar min: negative, as specified
    EXPECT_DOUBLE_EQ(prm.getbf(), -0.2);
}

TEST_F(PrmFixture, SingleBoundSettersWaitForSetba) {
    define(0.0, 10.0, 0.0, 10.0, 0.0); // v = 5, scale 0.1
    EXPECT_DOUBLE_EQ(prm.getbf(), 0.5);
    prm.setbx(20.0);
    EXPECT_DOUBLE_EQ(prm.getbf(), 0.5);
    prm.setba();
    EXPECT_DOUBLE_EQ(prm.getbf(), 0.25);
    prm.setbn(4.0);
    prm.setba();
    EXPECT_DOUBLE_EQ(prm.getbf(), 1.0 / 16.0);
    prm.setbn(0.0, 10.0, 10.0, 0.0); // all four, then the window
    EXPECT_DOUBLE_EQ(prm.getbf(), 0.5);
    EXPECT_EQ(prm.getbn(), 10.0);
    EXPECT_EQ(prm.getbx(), 0.0);
    EXPECT_EQ(prm.getmn(), 0.0);
    EXPECT_EQ(prm.getmx(), 10.0);
}

TEST_F(PrmFixture, ShowingAnUndefinedParameterDefinesItLabelledNull) {
    prm.setds(false);
    EXPECT_FALSE(prm.isdis());
    slot->setvl(0.3);
    prm.updte();
    EXPECT_EQ(slot->getvl(), 0.3); // still undefined

    prm.setds(true);
    EXPECT_TRUE(prm.isdis());
    EXPECT_EQ(text(prm.getlb()), "NULL");
    EXPECT_EQ(text(prm.getfn()), "a");
    prm.updte();
    EXPECT_EQ(slot->getvl(), -1.0);

    prm.setds(false);
    EXPECT_FALSE(prm.isdis());
    EXPECT_EQ(prm.getvl(), 0.0); // hiding also disables
    EXPECT_EQ(text(prm.getlb()), "NULL");
}

TEST_F(PrmFixture, ShowingReplacesAZeroLabelOnly) {
    define(0.0, 1.0, 0.0, 1.0, 0.0);
    prm.setlb(CoreAnsx("0"));
    prm.setds(true);
    EXPECT_EQ(text(prm.getlb()), "NULL");
    prm.setlb(CoreAnsx("Mix"));
    prm.setds(true);
    EXPECT_EQ(text(prm.getlb()), "Mix");
}

TEST_F(PrmFixture, OperationAndInputSetters) {
    define(0.0, 1.0, 0.0, 1.0, 0.0);
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
    EXPECT_EQ(text(prm.getfa()->getsa()), "-0.4000000000");
}

} // namespace
