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

    // The linear gain of one update on levels in dB (sources whose (v + 1)/2 has that level).
    double gain(double thresholdDb, double inputDb, double ratioValue) {
        threshold->setvl(2.0 * std::pow(10.0, thresholdDb / 20.0) - 1.0);
        input->setvl(2.0 * std::pow(10.0, inputDb / 20.0) - 1.0);
        ratio->setvl(ratioValue);
        unit.updte();
        return (output->getvl() + 1.0) / 2.0;
    }
};

double fromDb(double db) {
    return std::pow(10.0, db / 20.0);
}

TEST(CoreDynm, GainActsOnTheExcessUpToTheRangeLimitAlongTheRatioCurve) {
    const double y = 1.0 / 6.0; // excess 10 dB of a 12 dB range: the curve's position 1 - 10/12
    struct Row {
        bool compress, curveOn;
        int16_t curve;
        double range, makeUp, thresholdDb, inputDb, ratio, gain;
    };
    const Row rows[] = {
        {true, false, 0, 100.0, 12.0, -6.0, -6.0, 0.0,
         1.0}, // at the threshold: exactly 1, whatever the make-up
        {true, false, 0, 100.0, 12.0, -6.0, -20.0, 0.0, 1.0},                    // below it
        {true, false, 0, 100.0, 0.0, 20.0 * std::log10(0.5), 0.0, 0.0, 0.5},     // ratio 0 removes the excess
        {true, false, 0, 6.0, 2.0, -20.0, -10.0, 0.5, fromDb(-0.5 * 6.0 + 2.0)}, // only 6 of 10 dB act
        {false, false, 0, 6.0, 0.0, -20.0, -10.0, 0.5, fromDb(6.0)},             // expanding by 1/0.5 = 2
        {false, false, 0, 0.0, 3.0, -20.0, -10.0, 0.5, fromDb(3.0)},             // no range: only the make-up
        {true, true, -1, 12.0, 0.0, -20.0, -10.0, 0.0, fromDb((y - 1.0) * 10.0)}, // linear fade of the ratio
        {true, true, 0, 12.0, 0.0, -20.0, -10.0, 0.0, fromDb((y - 1.0) * 10.0)},
        {true, true, 1, 12.0, 0.0, -20.0, -10.0, 0.0, fromDb((y - 1.0) * 10.0)},
        {true, true, 2, 12.0, 0.0, -20.0, -10.0, 0.0, fromDb((y * y - 1.0) * 10.0)}, // y^c above 1
        {true, true, 3, 12.0, 0.0, -20.0, -10.0, 0.0, fromDb((y * y * y - 1.0) * 10.0)},
        {true, true, 3, 10.0, 0.0, -20.0, -10.0, 0.0, fromDb(-10.0)}, // at the range limit: the ratio itself
        {false, false, 0, 24.0, 0.0, -40.0, -10.0, 0.0, fromDb(192.64)}, // ratio 0 expands as 1e9, clamped
    };
    DynamicsRig rig;
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message()
                     << (r.compress ? "compress" : "expand") << " curve " << r.curve << " range " << r.range
                     << " input " << r.inputDb << " ratio " << r.ratio);
        rig.unit.setvl("BUS1", "BUS2", r.compress, "BUS3", r.curveOn, r.curve, r.range, r.makeUp);
        EXPECT_NEAR(rig.gain(r.thresholdDb, r.inputDb, r.ratio) / r.gain, 1.0, 1e-9);
    }
}

TEST(CoreDynm, ExpanderStaysFiniteAtRatioZeroAndWithoutARange) {
    DynamicsRig rig;
    for (double ratio : {0.0, 1e-12, -1e-12, 0.5})
        for (double range : {24.0, 0.0, -6.0}) {
            rig.unit.setvl("BUS1", "BUS2", false, "BUS3", false, 0, range, 0.0);
            const double gain = rig.gain(-40.0, -10.0, ratio);
            EXPECT_TRUE(std::isfinite(gain) && gain <= fromDb(192.64) * (1.0 + 1e-12))
                << ratio << " " << range;
        }
}

TEST(CoreDynm, ProgramFormMapsTypeAndCurveAndPendingValuesWaitForRfrvl) {
    struct Row { int16_t type, curve; int16_t applied; bool curveOn; };
    const Row rows[] = {{1, -1, 0, false}, {0, 0, 0, true}, {0, 4, 4, true}, {0, 20, 9, true}}; // above 8: 8
    DynamicsRig rig;
    for (const Row& r : rows) {
        rig.unit.setvl(r.type, "BUS1", "BUS2", "BUS3", r.curve, 6.0, 1.5);
        EXPECT_EQ(rig.unit.getst(), r.type) << r.curve;
        EXPECT_EQ(rig.unit.getrc(), r.applied) << r.curve; // "on with index -1" reads 0, as "off" does
        EXPECT_EQ(rig.unit.iscrv(), r.curveOn) << r.curve;
    }
    const double ranges[] = {0.0, 6.0, 1.5};
    const int16_t rangeIds[] = {2, 3, 4};
    for (int i = 0; i < 3; i++) EXPECT_EQ(rig.unit.getbd(rangeIds[i]), ranges[i]);
    EXPECT_EQ(rig.unit.getbs(0) + rig.unit.getbs(1) + rig.unit.getbs(2) + rig.unit.getbs(3),
              CoreAnsx("BUS1BUS2BUS3"));

    rig.unit.setst(1);
    rig.unit.setrc(3);
    rig.unit.setbd(3, 24.0);
    rig.unit.setbd(5, 99.0); // ignored ids
    rig.unit.setbs(0, "LFO1");
    rig.unit.setbs(7, "LFO2");
    EXPECT_EQ(rig.unit.getst(), 0); // nothing applied yet
    EXPECT_EQ(rig.unit.getbd(3), 6.0);
    rig.unit.rfrvl();
    EXPECT_EQ(rig.unit.getst(), 1);
    EXPECT_EQ(rig.unit.getrc(), 3);
    EXPECT_EQ(rig.unit.getbd(3), 24.0);
    EXPECT_EQ(rig.unit.getbs(0) + rig.unit.getbs(1), CoreAnsx("LFO1"));

    DynamicsRig fresh; // pending values start as the reset state
    fresh.unit.rfrvl();
    EXPECT_FALSE(fresh.unit.iscrv());
    EXPECT_EQ(fresh.unit.getbd(3), 0.0);
}

TEST(CoreDynm, AResetOrAConstantInputLeavesTheUnitWritingMinusOne) {
    DynamicsRig rig;
    rig.unit.setvl("BUS1", "BUS2", true, "BUS3", false, 0, 6.0, 0.0);
    EXPECT_LT(rig.gain(-6.0, 0.0, 0.0), 1.0);
    rig.unit.setvl();
    rig.unit.updte();
    EXPECT_EQ(rig.output->getvl(), -1.0);
    rig.unit.setvl("BUS1", "0.5", true, "BUS3", false, 0, 6.0, 0.0); // a constant is not a source
    rig.unit.updte();
    EXPECT_EQ(rig.output->getvl(), -1.0);
}

} // namespace
