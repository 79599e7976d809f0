#include "modulation/CoreEnv_.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// An envelope on ENV1 gated by BUS1 (activation) and BUS2 (deactivation); level and time controls
// on constants unless a test moves them to BUS3/BUS4.
struct EnvelopeRig {
    DataSrce table;
    CoreSrce* activation = table.getis(DataSrce::iCrowbus1);
    CoreSrce* deactivation = table.getis(DataSrce::iCrowbus1 + 1);
    CoreSrce* levelSource = table.getis(DataSrce::iCrowbus1 + 2);
    CoreSrce* timeSource = table.getis(DataSrce::iCrowbus1 + 3);
    CoreSrce* output = table.getis(DataSrce::iCrowenv1);
    CoreEnv_ envelope{"ENV1", &table, output};

    EnvelopeRig() {
        table.getis(DataSrce::iCrowoff)->setvl(-1.0);
        activation->setvl(-1.0);
        deactivation->setvl(-1.0);
    }
    void apply(std::vector<double> levels, std::vector<int32_t> times, std::vector<int16_t> curves,
               const char* levelText = "1", const char* timeText = "1") {
        envelope.setvl("BUS1", "BUS2", levels.data(), times.data(), curves.data(), 1.0, levelText, 1.0,
                       timeText);
    }
    // One update; returns the envelope's level y read back from its slot (2y - 1).
    double step(double dt = 1.0) {
        envelope.updte(dt);
        return (output->getvl() + 1.0) / 2.0;
    }
};

const std::vector<double> fourLevels{0.0, 1.0, 0.5, 0.25};
const std::vector<int32_t> fourSamples{4, 4, 4, 4};
const std::vector<int16_t> linear{0, 0, 0, 0};

} // namespace

TEST(CoreEnv_, RunsAttackDecaySlopeSustainAndReleaseToTheEnd) {
    EnvelopeRig rig;
    rig.apply(fourLevels, fourSamples, linear);
    rig.activation->setvl(1.0);
    EXPECT_EQ(rig.step(), 0.0); // trigger; the value is not recomputed in this call
    EXPECT_EQ(rig.output->getvl(), -1.0);
    // Attack 0 -> 1, decay -> 0.5, slope -> 0.25, each over 4 samples; then the sustain holds.
    const double expected[] = {0.25, 0.5,    0.75,  1.0,    0.875, 0.75, 0.625,
                               0.5,  0.4375, 0.375, 0.3125, 0.25,  0.25, 0.25};
    for (double value : expected) EXPECT_NEAR(rig.step(), value, 1e-12);
    EXPECT_EQ(rig.output->getvl(), -0.5);
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(rig.step(), 0.25, 1e-12);
    rig.deactivation->setvl(0.0);
    for (double value : {0.1875, 0.125, 0.0625}) EXPECT_NEAR(rig.step(), value, 1e-12);
    rig.step();
    EXPECT_EQ(rig.output->getvl(), -1.0); // release reached 0
    rig.step();
    EXPECT_EQ(rig.output->getvl(), -1.0); // finished
    for (int i = 0; i < 20; ++i) rig.step();
    EXPECT_EQ(rig.output->getvl(), -1.0); // activation still held: no retrigger
}

TEST(CoreEnv_, WritesItsLevelBipolar) {
    EnvelopeRig rig;
    rig.apply({0.0, 1.0, 0.5, 0.5}, fourSamples, linear);
    rig.activation->setvl(1.0);
    rig.step();
    EXPECT_EQ(rig.output->getvl(), -1.0); // value 0
    for (int i = 0; i < 4; ++i) rig.step();
    EXPECT_EQ(rig.output->getvl(), 1.0); // value 1
    for (int i = 0; i < 4; ++i) rig.step();
    EXPECT_EQ(rig.output->getvl(), 0.0); // value 0.5
}

TEST(CoreEnv_, ReleaseRequestedBeforeSustainGoesStraightOnIntoTheRelease) {
    EnvelopeRig rig;
    rig.apply(fourLevels, fourSamples, linear);
    rig.activation->setvl(1.0);
    rig.step();
    rig.step();
    rig.deactivation->setvl(1.0); // during the attack
    const double expected[] = {0.5,    0.75,   1.0,   0.875,  0.75, 0.625,
                               0.5,    0.4375, 0.375, 0.3125, 0.25, 0.25 /* sustain reached */,
                               0.1875, 0.125};
    for (double value : expected) EXPECT_NEAR(rig.step(), value, 1e-12);
}

TEST(CoreEnv_, RetriggerStartsFromTheStartLevelWhenAboveZeroElseFromThePresentValue) {
    for (double start : {0.6, 0.0, -0.3}) {
        EnvelopeRig rig;
        rig.apply({start, 1.0, 0.5, 0.25}, fourSamples, linear);
        rig.activation->setvl(1.0);
        rig.step();
        const double first = rig.step();
        EXPECT_NEAR(first, start > 0.0 ? 0.6 + 0.4 * 0.25 : 0.25, 1e-12);
        for (int i = 0; i < 3; ++i) rig.step();
        rig.activation->setvl(-1.0);
        EXPECT_NEAR(rig.step(), 0.875, 1e-12); // decay goes on while the activation is low
        rig.activation->setvl(0.0);            // rising edge (0 counts as on) during the decay
        const double atTrigger = rig.step();
        const double present = 0.75; // the decay's value in this call
        const double from = start > 0.0 ? start : present;
        EXPECT_NEAR(atTrigger, from, 1e-12);
        EXPECT_NEAR(rig.step(), 1.0 - (1.0 - from) * 0.75, 1e-12);
    }
}

TEST(CoreEnv_, DeactivationEdgeWhileIdleIsClearedByTheNextTrigger) {
    EnvelopeRig rig;
    rig.apply(fourLevels, fourSamples, linear);
    rig.deactivation->setvl(1.0);
    rig.step(); // idle: a release is requested
    rig.activation->setvl(1.0);
    rig.step();
    double value = 0.0;
    for (int i = 0; i < 40; ++i) value = rig.step();
    EXPECT_NEAR(value, 0.25, 1e-12); // sustain holds; the early release was forgotten
}

TEST(CoreEnv_, StageTimesOfZeroCurvesAndLongBlocks) {
    {
        // Attack and decay of 0 samples: after one update the decay has ended at its target.
        EnvelopeRig rig;
        rig.apply(fourLevels, {0, 0, 4, 4}, linear);
        rig.activation->setvl(1.0);
        rig.step();
        EXPECT_EQ(rig.step(64.0), 0.5);
    }
    {
        // Curve 2: at the midpoint of an 8-sample attack a quarter of the distance is left.
        EnvelopeRig rig;
        rig.apply(fourLevels, {8, 4, 4, 4}, {2, 0, 0, 0});
        rig.activation->setvl(1.0);
        rig.step();
        for (int i = 0; i < 3; ++i) rig.step();
        EXPECT_NEAR(rig.step(), 0.75, 1e-12);
    }
    {
        // A 10-sample block across a 4-sample attack and 4-sample decay: the decay starts at
        // sample 4 and the clock passes its end, so the value overshoots its target 0.5.
        EnvelopeRig rig;
        rig.apply(fourLevels, fourSamples, linear);
        rig.activation->setvl(1.0);
        rig.step();
        EXPECT_NEAR(rig.step(10.0), 0.25, 1e-12); // r = (8 - 10) / 4 = -0.5
        // The next call moves on to the slope, which starts from the decay's target.
        EXPECT_NEAR(rig.step(1.0), 0.25 + 0.25 * ((12.0 - 11.0) / 4.0), 1e-12);
    }
}

TEST(CoreEnv_, LevelAndTimeControlsAreSampledOnlyAtTriggerAndStageChanges) {
    EnvelopeRig rig;
    rig.apply(fourLevels, fourSamples, linear, "BUS3", "BUS4");
    rig.levelSource->setvl(1.0); // L = 1
    rig.timeSource->setvl(1.0);  // S = 1
    rig.activation->setvl(1.0);
    rig.step();
    rig.levelSource->setvl(-1.0); // L = 0 from now on
    rig.timeSource->setvl(0.0);   // S = 0.5 from now on
    for (double value : {0.25, 0.5, 0.75, 1.0}) EXPECT_NEAR(rig.step(), value, 1e-12);
    // The decay picks up both: target 0 and 2 samples long.
    EXPECT_NEAR(rig.step(), 0.5, 1e-12);
    EXPECT_NEAR(rig.step(), 0.0, 1e-12);
}

TEST(CoreEnv_, ResetApplyAndPendingValues) {
    EnvelopeRig rig;
    rig.apply(fourLevels, fourSamples, linear);
    rig.activation->setvl(1.0);
    for (int i = 0; i < 6; ++i) rig.step();

    rig.envelope.setvl();
    EXPECT_EQ(rig.output->getvl(), 0.875 * 2.0 - 1.0); // untouched until the next update
    rig.step();
    EXPECT_EQ(rig.output->getvl(), -1.0);
    EXPECT_EQ(rig.envelope.getlv()[1], 0.0);
    EXPECT_EQ(rig.envelope.gettm()[0], 0);
    EXPECT_EQ(rig.envelope.getlf(), 0.0);
    EXPECT_EQ(rig.envelope.getpr(0)->getsc(), CoreAnsx(""));
    EXPECT_EQ(rig.envelope.getpr(2)->getsu(), 1.0);
    EXPECT_EQ(rig.envelope.getpr(2)->getsl(), 0.0);
    EXPECT_EQ(rig.envelope.getpr(4), nullptr);
    EXPECT_EQ(rig.envelope.getpr(-1), nullptr);

    // A constant activation is not an active source: after a reset the envelope stays idle ...
    const double levels[] = {0.0, 1.0, 0.5, 0.25};
    const int32_t times[] = {4, 4, 4, 4};
    const int16_t curves[] = {0, 0, 0, 0};
    rig.envelope.setvl("0.5", "BUS2", levels, times, curves, 1.0, "1", 1.0, "1");
    for (int i = 0; i < 3; ++i) rig.step();
    EXPECT_EQ(rig.output->getvl(), -1.0);
    // ... but an apply never clears the active flag set by an earlier one.
    rig.apply(fourLevels, fourSamples, linear);
    rig.envelope.setvl("0.5", "BUS2", levels, times, curves, 1.0, "1", 1.0, "1");
    rig.step();
    EXPECT_NEAR(rig.step(), 0.25, 1e-12);

    // Pending values change nothing until rfrvl; indices outside 0..3 are ignored.
    for (int16_t n = 0; n < 4; ++n) {
        rig.envelope.setlv(n, 0.1 * (n + 1));
        rig.envelope.settm(n, 10 * (n + 1));
        rig.envelope.setcv(n, static_cast<int16_t>(n + 1));
    }
    for (int16_t n : {-1, 4, 100}) {
        rig.envelope.setlv(n, 9.0);
        rig.envelope.settm(n, 9);
        rig.envelope.setcv(n, 9);
    }
    rig.envelope.setlf(0.5);
    rig.envelope.settf(2.0);
    rig.envelope.setas("BUS1");
    rig.envelope.setds("BUS2");
    rig.envelope.setls("BUS3");
    rig.envelope.setts("BUS4");
    EXPECT_EQ(rig.envelope.getlv()[0], 0.0);
    EXPECT_EQ(rig.envelope.gettm()[0], 4);
    EXPECT_EQ(rig.envelope.getcv()[0], 0);
    EXPECT_EQ(rig.envelope.getlf(), 1.0);
    EXPECT_EQ(rig.envelope.getpr(0)->getsc(), CoreAnsx("0.5"));
    rig.envelope.rfrvl();
    for (int n = 0; n < 4; ++n) {
        EXPECT_DOUBLE_EQ(rig.envelope.getlv()[n], 0.1 * (n + 1));
        EXPECT_EQ(rig.envelope.gettm()[n], 10 * (n + 1));
        EXPECT_EQ(rig.envelope.getcv()[n], n + 1);
    }
    EXPECT_EQ(rig.envelope.getlf(), 0.5);
    EXPECT_EQ(rig.envelope.gettf(), 2.0);
    EXPECT_EQ(rig.envelope.getpr(0)->getsc(), CoreAnsx("BUS1"));
    EXPECT_EQ(rig.envelope.getpr(1)->getsc(), CoreAnsx("BUS2"));
    EXPECT_EQ(rig.envelope.getpr(2)->getsc(), CoreAnsx("BUS3"));
    EXPECT_EQ(rig.envelope.getpr(3)->getsc(), CoreAnsx("BUS4"));
}

TEST(CoreEnv_, FreshPendingValuesApplyAsZeroAndEmpty) {
    EnvelopeRig rig;
    rig.envelope.rfrvl();
    EXPECT_EQ(rig.envelope.getlf(), 0.0);
    EXPECT_EQ(rig.envelope.gettm()[3], 0);
    EXPECT_EQ(rig.envelope.getpr(3)->getsc(), CoreAnsx(""));
    rig.step();
    EXPECT_EQ(rig.output->getvl(), -1.0);
}

TEST(CoreEnv_, SustainHeldBeyondTwoToTheThirtyOneSamplesStillReleases) {
    EnvelopeRig rig;
    rig.apply(fourLevels, fourSamples, linear);
    rig.activation->setvl(1.0);
    for (int i = 0; i < 14; ++i) rig.step();
    for (int i = 0; i < 10; ++i) EXPECT_NEAR(rig.step(1e9), 0.25, 1e-12); // 10^10 samples
    rig.deactivation->setvl(1.0);
    for (double value : {0.1875, 0.125, 0.0625}) EXPECT_NEAR(rig.step(), value, 1e-12);
    rig.step();
    rig.step();
    EXPECT_EQ(rig.output->getvl(), -1.0);

    // Absurd steps saturate the clock instead of overflowing it.
    rig.activation->setvl(-1.0);
    rig.deactivation->setvl(-1.0);
    rig.step();
    rig.activation->setvl(1.0);
    rig.step();
    for (int i = 0; i < 14; ++i) rig.step();
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(rig.step(1e300), 0.25, 1e-12);
    rig.deactivation->setvl(1.0);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(std::isfinite(rig.step()));
    EXPECT_EQ(rig.output->getvl(), -1.0);
}
