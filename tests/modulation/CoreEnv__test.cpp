// CoreEnv_: reset, apply and pending values, and every stage traced sample by sample with a 64-bit
// clock that still releases after 2^31 samples.
#include "modulation/CoreEnv_.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

// An envelope on ENV1 gated by BUS1 (activation) and BUS2 (deactivation), level and time controls on
// constants: attack 0 -> 1, decay -> 0.5, slope -> 0.25 and release, each over 4 samples.
const double levels[] = {0.0, 1.0, 0.5, 0.25};
const int32_t times[] = {4, 4, 4, 4};

struct EnvelopeRig {
    DataSrce table;
    CoreSrce* activation = table.getis(DataSrce::iCrowbus1);
    CoreSrce* deactivation = table.getis(DataSrce::iCrowbus1 + 1);
    CoreSrce* output = table.getis(DataSrce::iCrowenv1);
    CoreEnv_ envelope{"ENV1", &table, output};

    EnvelopeRig() {
        table.getis(DataSrce::iCrowoff)->setvl(-1.0);
        activation->setvl(-1.0);
        deactivation->setvl(-1.0);
        envelope.setvl("BUS1", "BUS2", levels, times, nullptr, 1.0, "1", 1.0, "1");
    }
    // One update; returns the envelope's level y read back from its slot (2y - 1).
    double step(double dt = 1.0) {
        envelope.updte(dt);
        return (output->getvl() + 1.0) / 2.0;
    }
    void expectTrace(std::vector<double> values, double dt = 1.0) {
        for (size_t i = 0; i < values.size(); i++) EXPECT_NEAR(step(dt), values[i], 1e-12) << "step " << i;
    }
    double trigger() {
        activation->setvl(1.0);
        return step();
    }
};

const std::vector<double> toSustain = {0.25,  0.5, 0.75,   1.0,   0.875,  0.75,
                                       0.625, 0.5, 0.4375, 0.375, 0.3125, 0.25};
const std::vector<double> release = {0.1875, 0.125, 0.0625, 0.0};

TEST(CoreEnv_, ResetApplyAndPendingValues) {
    EnvelopeRig rig;
    rig.trigger();
    for (int i = 0; i < 5; ++i) rig.step();
    rig.envelope.setvl();
    EXPECT_EQ(rig.output->getvl(), 0.75); // untouched until the next update
    EXPECT_EQ(rig.step(), 0.0);
    EXPECT_EQ(rig.envelope.getpr(4), nullptr);
    // A constant activation is no active source: after a reset the envelope stays idle, but an apply
    // never clears the active flag an earlier one set. Missing arrays count as zeros.
    rig.envelope.setvl("0.5", "BUS2", nullptr, nullptr, nullptr, 1.0, "1", 1.0, "1");
    rig.expectTrace({0.0, 0.0});
    EnvelopeRig applied;
    applied.envelope.setvl("0.5", "BUS2", levels, times, nullptr, 1.0, "1", 1.0, "1");
    applied.expectTrace({0.0, 0.25});

    // Pending values change nothing until rfrvl; indices outside 0..3 are ignored.
    for (int16_t n : {0, 1, 2, 3, -1, 4}) {
        rig.envelope.setlv(n, n * 0.25);
        rig.envelope.settm(n, 10 * n);
        rig.envelope.setcv(n, n);
    }
    rig.envelope.setas("BUS3");
    EXPECT_EQ(rig.envelope.gettm()[3], 0);
    rig.envelope.rfrvl();
    EXPECT_TRUE(rig.envelope.getlv()[3] == 0.75 && rig.envelope.gettm()[3] == 30);
    EXPECT_EQ(rig.envelope.getcv()[3], 3);
    EXPECT_EQ(rig.envelope.getpr(0)->getsc(), CoreAnsx("BUS3"));
}

// The whole sequence, with a sustain held beyond 2^31 samples (the clock and the stage bounds are
// 64-bit) and absurd steps that saturate the clock instead of overflowing it.
TEST(CoreEnv_, RunsEveryStageAndReleasesAfterASustainBeyondTwoToTheThirtyOneSamples) {
    EnvelopeRig rig;
    EXPECT_EQ(rig.trigger(), 0.0); // the trigger: the value is not recomputed in this call
    rig.expectTrace(toSustain);
    rig.expectTrace(std::vector<double>(3, 0.25), 1e9); // 3 * 10^9 samples
    rig.deactivation->setvl(0.0);                         // 0 counts as on
    rig.expectTrace(release);
    rig.expectTrace({0.0, 0.0}); // finished; activation held does not retrigger
    rig.activation->setvl(-1.0);
    rig.deactivation->setvl(-1.0);
    rig.step();
    rig.trigger();
    rig.expectTrace(toSustain);
    rig.expectTrace({0.25, 0.25}, 1e300);
    rig.deactivation->setvl(1.0);
    for (int i = 0; i < 4; ++i) EXPECT_TRUE(std::isfinite(rig.step()));
    EXPECT_EQ(rig.output->getvl(), -1.0);
}

