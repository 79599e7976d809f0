#include "modulation/CoreDynm.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

// A dynamics unit on DNM1 with threshold, input and ratio on BUS1, BUS2, BUS3.
struct DynamicsRig {
    DataSrce table;
    CoreSrce* threshold = table.getis(DataSrce::iCrowbus1);
    CoreSrce* input = table.getis(DataSrce::iCrowbus1 + 1);
    CoreSrce* ratio = table.getis(DataSrce::iCrowbus1 + 2);
    CoreSrce* output = table.getis(DataSrce::iCrowdnm1);
    CoreDynm unit{"DNM1", &table, output};

    // Sources for levels in dB: the bipolar value whose (v + 1)/2 has that level.
    static double sourceForDb(double db) { return 2.0 * std::pow(10.0, db / 20.0) - 1.0; }
    double gain() { return (output->getvl() + 1.0) / 2.0; }
};

} // namespace

TEST(CoreDynm, InputAtOrBelowTheThresholdWritesExactlyUnityGain) {
    DynamicsRig rig;
    rig.unit.setvl("BUS1", "BUS2", true, "BUS3", false, 0, 100.0, 12.0);
    for (double in : {-1.0, 0.0, 0.5}) {
        rig.threshold->setvl(0.5);
        rig.input->setvl(in);
        rig.ratio->setvl(0.0);
        rig.unit.updte();
        EXPECT_EQ(rig.output->getvl(), 1.0);
    }
}

TEST(CoreDynm, CompressesTheExcessUpToTheRangeLimit) {
    DynamicsRig rig;
    // Threshold -6.02 dB, input 0 dB, ratio 0, range 100: the whole excess is removed.
    rig.unit.setvl("BUS1", "BUS2", true, "BUS3", false, 0, 100.0, 0.0);
    rig.threshold->setvl(0.0);
    rig.input->setvl(1.0);
    rig.ratio->setvl(0.0);
    rig.unit.updte();
    EXPECT_NEAR(rig.gain(), 0.5, 1e-12);
    EXPECT_NEAR(rig.output->getvl(), 0.0, 1e-12);

    // Excess 10 dB, range limit 6: ratio 0.5 acts on 6 dB, make-up 2 dB.
    rig.unit.setvl("BUS1", "BUS2", true, "BUS3", false, 0, 6.0, 2.0);
    rig.threshold->setvl(DynamicsRig::sourceForDb(-20.0));
    rig.input->setvl(DynamicsRig::sourceForDb(-10.0));
    rig.ratio->setvl(0.5);
    rig.unit.updte();
    EXPECT_NEAR(rig.gain(), std::pow(10.0, (-0.5 * 6.0 + 2.0) / 20.0), 1e-12);

    // Expanding with ratio 0.5 acts as 1/0.5 = 2.
    rig.unit.setvl("BUS1", "BUS2", false, "BUS3", false, 0, 6.0, 0.0);
    rig.unit.updte();
    EXPECT_NEAR(rig.gain(), std::pow(10.0, (1.0 * 6.0) / 20.0), 1e-12);
}

TEST(CoreDynm, RatioCurveFadesTheRatioFromOneAtTheThresholdToItsValueAtTheRangeLimit) {
    DynamicsRig rig;
    rig.threshold->setvl(DynamicsRig::sourceForDb(-20.0));
    rig.input->setvl(DynamicsRig::sourceForDb(-10.0));
    rig.ratio->setvl(0.0);
    // Excess 10 dB of a 12 dB range: y = 1 - 10/12 = 1/6.
    const double y = 1.0 / 6.0;
    struct Case {
        int16_t index;
        double ratio;
    } cases[] = {{-1, y}, {0, y}, {1, y}, {2, y * y}, {3, y * y * y}};
    for (const Case& c : cases) {
        rig.unit.setvl("BUS1", "BUS2", true, "BUS3", true, c.index, 12.0, 0.0);
        rig.unit.updte();
        EXPECT_NEAR(rig.gain(), std::pow(10.0, (c.ratio - 1.0) * 10.0 / 20.0), 1e-12) << c.index;
    }
    // At the range limit the ratio itself applies.
    rig.unit.setvl("BUS1", "BUS2", true, "BUS3", true, 3, 10.0, 0.0);
    rig.unit.updte();
    EXPECT_NEAR(rig.gain(), std::pow(10.0, -10.0 / 20.0), 1e-12);
}

TEST(CoreDynm, ProgramFormMapsTypeAndCurve) {
    DynamicsRig rig;
    rig.unit.setvl(1, "BUS1", "BUS2", "BUS3", -1, 6.0, 1.5);
    EXPECT_EQ(rig.unit.getst(), 1);
    EXPECT_FALSE(rig.unit.iscrv());
    EXPECT_EQ(rig.unit.getrc(), 0);
    rig.unit.setvl(0, "BUS1", "BUS2", "BUS3", 0, 6.0, 1.5);
    EXPECT_EQ(rig.unit.getst(), 0);
    EXPECT_TRUE(rig.unit.iscrv()); // on with index -1: getrc alone cannot tell
    EXPECT_EQ(rig.unit.getrc(), 0);
    rig.unit.setvl(0, "BUS1", "BUS2", "BUS3", 4, 6.0, 1.5);
    EXPECT_EQ(rig.unit.getrc(), 4);
    rig.unit.setvl(0, "BUS1", "BUS2", "BUS3", 20, 6.0, 1.5);
    EXPECT_EQ(rig.unit.getrc(), CoreDynm::iCmaxratiocurve + 1);
    rig.unit.setvl("BUS1", "BUS2", true, "BUS3", true, 12, 6.0, 1.5);
    EXPECT_EQ(rig.unit.getrc(), CoreDynm::iCmaxratiocurve + 1);
    EXPECT_EQ(rig.unit.getbd(3), 6.0);
    EXPECT_EQ(rig.unit.getbd(4), 1.5);
    EXPECT_EQ(rig.unit.getbd(2), 0.0);
    EXPECT_EQ(rig.unit.getbs(0), CoreAnsx("BUS1"));
    EXPECT_EQ(rig.unit.getbs(1), CoreAnsx("BUS2"));
    EXPECT_EQ(rig.unit.getbs(2), CoreAnsx("BUS3"));
    EXPECT_EQ(rig.unit.getbs(3), CoreAnsx(""));
}

TEST(CoreDynm, PendingValuesApplyOnlyThroughRfrvl) {
    DynamicsRig rig;
    rig.unit.rfrvl(); // pending values start as the reset state
    EXPECT_EQ(rig.unit.getst(), 0);
    EXPECT_FALSE(rig.unit.iscrv());
    EXPECT_EQ(rig.unit.getbd(3), 0.0);
    EXPECT_EQ(rig.unit.getbs(1), CoreAnsx(""));

    rig.unit.setst(1);
    rig.unit.setrc(3);
    rig.unit.setbd(3, 24.0);
    rig.unit.setbd(4, -3.0);
    rig.unit.setbd(5, 99.0);
    rig.unit.setbs(0, "BUS1");
    rig.unit.setbs(1, "BUS2");
    rig.unit.setbs(2, "BUS3");
    rig.unit.setbs(7, "LFO1");
    EXPECT_EQ(rig.unit.getst(), 0);
    EXPECT_EQ(rig.unit.getbd(3), 0.0);
    rig.unit.rfrvl();
    EXPECT_EQ(rig.unit.getst(), 1);
    EXPECT_EQ(rig.unit.getrc(), 3);
    EXPECT_EQ(rig.unit.getbd(3), 24.0);
    EXPECT_EQ(rig.unit.getbd(4), -3.0);
    EXPECT_EQ(rig.unit.getbs(2), CoreAnsx("BUS3"));
}

TEST(CoreDynm, ResetAndInactiveUnits) {
    DynamicsRig rig;
    rig.unit.setvl("BUS1", "BUS2", true, "BUS3", false, 0, 6.0, 0.0);
    rig.input->setvl(1.0);
    rig.threshold->setvl(-0.5);
    rig.unit.updte();
    EXPECT_LT(rig.output->getvl(), 1.0);
    rig.unit.setvl();
    rig.unit.updte();
    EXPECT_EQ(rig.output->getvl(), -1.0);
    // A constant input is not a source: the unit stays inactive.
    rig.unit.setvl("BUS1", "0.5", true, "BUS3", false, 0, 6.0, 0.0);
    rig.unit.updte();
    EXPECT_EQ(rig.output->getvl(), -1.0);
}

TEST(CoreDynm, ExpanderStaysFiniteAtRatioZeroAndWithoutARange) {
    DynamicsRig rig;
    rig.threshold->setvl(DynamicsRig::sourceForDb(-40.0));
    rig.input->setvl(DynamicsRig::sourceForDb(-10.0));
    for (double ratio : {0.0, 1e-12, -1e-12, 0.5}) {
        for (double range : {24.0, 0.0, -6.0}) {
            rig.unit.setvl("BUS1", "BUS2", false, "BUS3", false, 0, range, 0.0);
            rig.ratio->setvl(ratio);
            rig.unit.updte();
            EXPECT_TRUE(std::isfinite(rig.output->getvl())) << ratio << " " << range;
            EXPECT_LE(rig.gain(), std::pow(10.0, 192.64 / 20.0) * (1.0 + 1e-12));
        }
    }
    // Ratio 0 expands as 1e9 and the level stops at +192.64 dB.
    rig.unit.setvl("BUS1", "BUS2", false, "BUS3", false, 0, 24.0, 0.0);
    rig.ratio->setvl(0.0);
    rig.unit.updte();
    EXPECT_NEAR(rig.gain() / std::pow(10.0, 192.64 / 20.0), 1.0, 1e-9);
    // Without a range limit nothing is acted on: only the make-up remains.
    rig.unit.setvl("BUS1", "BUS2", false, "BUS3", false, 0, 0.0, 3.0);
    rig.unit.updte();
    EXPECT_NEAR(rig.gain(), std::pow(10.0, 3.0 / 20.0), 1e-12);
}
