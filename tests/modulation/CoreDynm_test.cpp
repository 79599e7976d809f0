// CoreDynm: the gain curve over the threshold excess (range limit, ratio curves, expansion), the
// expander's finite gain at ratio 0, and the program form with pending values.
#include "modulation/CoreDynm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

// A dynamics unit on DNM1 with threshold, input and ratio on BUS1, BUS2, BUS3.
struct DynamicsRig {
    DataSrce table;
    CoreSrce* output = table.getis(DataSrce::iCrowdnm1);
    CoreDynm unit{"DNM1", &table, output};

    // The linear gain of one update on levels in dB (sources whose (v + 1)/2 has that level).
    double gain(double thresholdDb, double inputDb, double ratio) {
        table.getis(DataSrce::iCrowbus1)->setvl(2.0 * std::pow(10.0, thresholdDb / 20.0) - 1.0);
        table.getis(DataSrce::iCrowbus1 + 1)->setvl(2.0 * std::pow(10.0, inputDb / 20.0) - 1.0);
        table.getis(DataSrce::iCrowbus1 + 2)->setvl(ratio);
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
        {true, false, 0, 100.0, 12.0, -6.0, -6.0, 0.0, 1.0}, // at the threshold: 1, whatever the make-up
        {true, false, 0, 6.0, 2.0, -20.0, -10.0, 0.5, fromDb(-0.5 * 6.0 + 2.0)}, // only 6 of 10 dB act
        {false, false, 0, 6.0, 0.0, -20.0, -10.0, 0.5, fromDb(6.0)},             // expanding by 1/0.5 = 2
        {true, true, -1, 12.0, 0.0, -20.0, -10.0, 0.0, fromDb((y - 1.0) * 10.0)}, // linear fade of the ratio
        {true, true, 3, 12.0, 0.0, -20.0, -10.0, 0.0, fromDb((y * y * y - 1.0) * 10.0)}, // y^c above 1
        // A ratio at 0 expands as +-1e9: the level stops at the system's dB range.
        {false, false, 0, 24.0, 0.0, -40.0, -10.0, 0.0, fromDb(192.64)},
        {false, false, 0, 24.0, 0.0, -40.0, -10.0, -1e-12, fromDb(-192.64)},
    };
    DynamicsRig rig;
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << (r.compress ? "compress" : "expand") << " curve " << r.curve
                                        << " ratio " << r.ratio);
        rig.unit.setvl("BUS1", "BUS2", r.compress, "BUS3", r.curveOn, r.curve, r.range, r.makeUp);
        EXPECT_NEAR(rig.gain(r.thresholdDb, r.inputDb, r.ratio), r.gain, 1e-12 * std::max(1.0, r.gain));
    }
}

TEST(CoreDynm, ProgramFormMapsTypeAndCurveAndPendingValuesWaitForRfrvl) {
    DynamicsRig rig;
    rig.unit.setvl(1, "BUS1", "BUS2", "BUS3", -1, 6.0, 1.5); // expanding, curve off
    EXPECT_TRUE(rig.unit.getst() == 1 && rig.unit.getrc() == 0 && !rig.unit.iscrv());
    rig.unit.setvl(0, "BUS1", "BUS2", "BUS3", 20, 6.0, 1.5); // index 19 is stored as 8
    EXPECT_TRUE(rig.unit.getst() == 0 && rig.unit.getrc() == 9 && rig.unit.iscrv());
    EXPECT_EQ(rig.unit.getbs(0) + rig.unit.getbs(1) + rig.unit.getbs(2) + rig.unit.getbs(3),
              CoreAnsx("BUS1BUS2BUS3"));

    rig.unit.setst(1);
    rig.unit.setrc(3);
    rig.unit.setbd(3, 24.0);
    rig.unit.setbd(5, 99.0); // ignored ids
    rig.unit.setbs(0, "LFO1");
    rig.unit.setbs(7, "LFO2");
    EXPECT_EQ(rig.unit.getst(), 0); // nothing applied yet
    rig.unit.rfrvl();
    EXPECT_TRUE(rig.unit.getst() == 1 && rig.unit.getrc() == 3);
    EXPECT_EQ(rig.unit.getbd(3) + rig.unit.getbd(4) + rig.unit.getbd(5), 24.0);
    EXPECT_EQ(rig.unit.getbs(0) + rig.unit.getbs(1), CoreAnsx("LFO1"));
}

