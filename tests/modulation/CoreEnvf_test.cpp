#include "modulation/CoreEnvf.h"

#include "base/CorePool.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

constexpr double rate = 48000.0;
const CoreAnsx off("OFF");

// Follower EVF1 with its EAT1/ERT1 rows; test sources on the BUS rows.
struct FollowerRig {
    CorePool pool;
    DataSrce table;
    CoreSrce* level = table.getis(DataSrce::iCrowevf1);
    CoreSrce* attackTime = table.getis(DataSrce::iCroweat1);
    CoreSrce* releaseTime = table.getis(DataSrce::iCrowert1);
    CoreSrce* bus[8];
    CoreEnvf follower{&pool, "EVF1", true, &table, level, attackTime, releaseTime};

    FollowerRig() {
        table.getis(DataSrce::iCrowoff)->setvl(-1.0);
        for (int i = 0; i < 8; ++i) bus[i] = table.getis(DataSrce::iCrowbus1 + i);
    }
    // The plain setting: only times, sources of the two controls and the mode.
    void apply(int16_t mode, int32_t minAttack, int32_t maxAttack, const char* attack, int32_t minRelease,
               int32_t maxRelease, const char* release) {
        follower.setvl(minAttack, maxAttack, attack, minRelease, maxRelease, release, 0.0, mode, false, "0",
                       false, off, off, false, rate, false, "0", "0", false, 0.0, 8, off);
    }
};

double testSignal(int n) {
    const double amplitude = n < 200 ? 1.0 : (n < 420 ? 0.2 : 0.7);
    return amplitude * (0.6 * std::sin(0.07 * n) + 0.35 * std::sin(0.31 * n + 1.0));
}

// The follower's formulas for one mode, sample by sample: detector input, ballistics and output
// factor; coefficients change once per block, after the block's samples.
struct ReferenceFollower {
    int mode;
    double attackTime; // samples, as the Attack control reads
    double releaseTime;
    double level = 0.0, ac = 0.0, rc = 0.0, held = 0.0, running = 0.0;
    int holdLength = 1, holdCounter = 1;

    void sample(double x) {
        const double magnitude = std::fabs(x);
        if (mode == 2) {
            if (--holdCounter == 0) {
                holdCounter = holdLength;
                held = running;
                running = 0.0;
            }
            running = std::max(running, magnitude);
            level = held > level ? held : held + (level - held) * rc;
        } else if (mode == 8) {
            level += (x * x - level) * ac;
        } else {
            const double u = (mode == 1 || mode == 4) ? x * x : magnitude;
            level = u + (level - u) * (u > level ? ac : rc);
        }
    }
    double endOfBlock() {
        if (mode == 2)
            holdLength = static_cast<int>(attackTime);
        else if (mode == 8)
            ac = 1.0 / attackTime;
        else
            ac = std::exp(-1.0 / attackTime);
        rc = std::exp(-1.0 / releaseTime);
        double out = (mode == 1 || mode == 4 || mode == 8) ? std::sqrt(level) : level;
        const double factors[] = {1.0,
                                  1.0,
                                  1.0,
                                  1.5689347391281367,
                                  std::pow(10.0, 0.15),
                                  1.0,
                                  std::pow(10.0, 0.15),
                                  std::pow(10.0, 0.038) * 1.433934302386369,
                                  std::pow(10.0, 0.15)};
        out *= factors[mode];
        return std::min(out, 1.0);
    }
};

} // namespace

TEST(CoreEnvf, EveryModeMatchesItsFormulasOverTenBlocks) {
    for (int mode = 0; mode <= 8; ++mode) {
        for (int blockLength : {64, 40}) {
            FollowerRig rig;
            // Attack control at a quarter of its range, release at its top.
            rig.apply(static_cast<int16_t>(mode), 20, 220, "-0.5", 30, 300, "1");
            const double scale = (mode == 5 || mode == 6) ? 1.0 / std::log(9.0)
                                 : mode == 7              ? 1.0 / std::log(100.0)
                                                          : 1.0;
            ReferenceFollower reference{mode, 20 * scale + 0.25 * 200 * scale, 300 * scale};
            int n = 0;
            for (int block = 0; block < 10; ++block) {
                for (int i = 0; i < blockLength; ++i, ++n) {
                    rig.follower.setei(testSignal(n));
                    reference.sample(testSignal(n));
                }
                rig.follower.updte();
                const double expected = reference.endOfBlock();
                EXPECT_NEAR(rig.level->getvl(), expected == 0.0 ? -1.0 : 2.0 * expected - 1.0, 1e-12)
                    << "mode " << mode << " block " << block << " length " << blockLength;
            }
        }
    }
}

TEST(CoreEnvf, ModeNineStaysInactive) {
    FollowerRig rig;
    rig.apply(9, 10, 10, "", 10, 10, "");
    EXPECT_FALSE(rig.follower.isact());
    for (int i = 0; i < 100; ++i) rig.follower.setei(0.9);
    rig.follower.updte();
    EXPECT_EQ(rig.follower.getou(), 0.0);
    EXPECT_EQ(rig.level->getvl(), -1.0);
    EXPECT_EQ(rig.follower.getdb(), -192.64);
    rig.follower.setex(12); // not a mode: off
    EXPECT_EQ(rig.follower.getex(), 9);
    rig.apply(-3, 10, 10, "", 10, 10, "");
    EXPECT_FALSE(rig.follower.isact());
    EXPECT_EQ(rig.follower.getex(), 9);
}

TEST(CoreEnvf, ConstantInputInAverageModeRisesWithTheAttackCoefficient) {
    CorePool pool;
    CoreEnvf meter(&pool, "", false, nullptr, nullptr, nullptr, nullptr);
    meter.setvl(1, 1, "", 1, 1, "", 0.0, 0, false, "0", false, off, off, false, rate, false, "0", "0", false,
                0.0, 8, off);
    meter.updte(); // coefficients: ac = exp(-1)
    for (int n : {1, 2, 5, 16, 21}) {
        meter.setvl(1, 1, "", 1, 1, "", 0.0, 0, false, "0", false, off, off, false, rate, false, "0", "0",
                    false, 0.0, 8, off);
        meter.updte();
        for (int i = 0; i < n; ++i) meter.setei(0.5);
        meter.updte();
        EXPECT_NEAR(meter.getou(), 0.5 * (1.0 - std::exp(-n)), 1e-14) << n;
    }
}

TEST(CoreEnvf, TrueRmsIgnoresTheReleaseTime) {
    FollowerRig quick, slow;
    quick.apply(8, 50, 50, "", 1, 1, "");
    slow.apply(8, 50, 50, "", 5000, 5000, "");
    for (int block = 0; block < 10; ++block) {
        for (int i = 0; i < 64; ++i) {
            quick.follower.setei(testSignal(block * 64 + i));
            slow.follower.setei(testSignal(block * 64 + i));
        }
        quick.follower.updte();
        slow.follower.updte();
        EXPECT_EQ(quick.follower.getou(), slow.follower.getou());
    }
}

TEST(CoreEnvf, PeakModeReportsEachWindowsPeakFromTheNextWindowOn) {
    FollowerRig rig;
    rig.apply(2, 100, 100, "", 1, 1, "");
    rig.follower.updte(); // hold length 100, release exp(-1)
    auto feed = [&](int count, double peak) {
        for (int i = 0; i < count; ++i) rig.follower.setei(i == count / 2 ? peak : 0.01);
    };
    feed(100, 0.8); // first window
    rig.follower.updte();
    EXPECT_EQ(rig.follower.getou(), 0.0);
    feed(1, 0.0); // the second window starts
    rig.follower.updte();
    EXPECT_EQ(rig.follower.getou(), 0.8);
    feed(99, 0.3);
    rig.follower.updte();
    EXPECT_EQ(rig.follower.getou(), 0.8);
    feed(1, 0.0); // third window: the second held 0.3, below the level: release
    rig.follower.updte();
    EXPECT_NEAR(rig.follower.getou(), 0.3 + 0.5 * std::exp(-1.0), 1e-15);
}

TEST(CoreEnvf, TimesAreCorrectedAndReadingsAreBounded) {
    FollowerRig rig;
    rig.apply(0, 0, 0, "", -5, -9, "");
    EXPECT_EQ(rig.follower.getat()->getsl(), 1.0);
    EXPECT_EQ(rig.follower.getat()->getsu(), 1.0);
    EXPECT_EQ(rig.follower.getrl()->getsl(), 1.0);
    rig.apply(0, 50, 10, "", 40, 20, "");
    EXPECT_EQ(rig.follower.getat()->getsu(), 50.0);
    EXPECT_EQ(rig.follower.getrl()->getsu(), 40.0);
    EXPECT_EQ(rig.follower.getma(), 50);
    EXPECT_EQ(rig.follower.getxa(), 10);
    rig.apply(5, 90, 900, "", 90, 900, "");
    EXPECT_NEAR(rig.follower.getat()->getsl(), 90.0 / std::log(9.0), 1e-12);
    rig.apply(7, 90, 900, "", 90, 900, "");
    EXPECT_NEAR(rig.follower.getrl()->getsu(), 900.0 / std::log(100.0), 1e-12);

    EXPECT_EQ(rig.follower.getdb(), -192.64);
    EXPECT_EQ(rig.follower.getbl(), -1.0);
    for (int i = 0; i < 64; ++i) rig.follower.setei(0.0);
    rig.follower.updte();
    EXPECT_EQ(rig.follower.getdb(), -192.64);

    // With controls the reading stops at 1.0.
    rig.apply(4, 1, 1, "", 1, 1, "");
    rig.follower.updte();
    for (int i = 0; i < 64; ++i) rig.follower.setei(0.95);
    rig.follower.updte();
    EXPECT_EQ(rig.follower.getou(), 1.0);
    EXPECT_EQ(rig.level->getvl(), 1.0);
    EXPECT_EQ(rig.follower.getdb(), 0.0);
}

TEST(CoreEnvf, MixesFourInputsWithTheBalanceWeights) {
    struct Case {
        double balance, outputWeight, inputWeight;
    } cases[] = {{0.0, 0.0, 0.5}, {0.5, 0.25, 0.25}, {1.0, 0.5, 0.0}, {-1.0, 1.0, 1.0}, {-0.2, 1.0, 1.0}};
    for (const Case& c : cases) {
        CorePool pool;
        CoreEnvf meter(&pool, "", false, nullptr, nullptr, nullptr, nullptr);
        // True RMS with a one-sample attack reads the last sample's magnitude times 10^(3/20).
        meter.setvl(1, 1, "", 1, 1, "", c.balance, 8, false, "0", false, off, off, false, rate, false, "0",
                    "0", false, 0.0, 8, off);
        meter.updte();
        meter.setei(0.1, -0.02, 0.3, 0.05);
        meter.updte();
        const double mix =
            0.3 * c.outputWeight + 0.1 * c.inputWeight - 0.02 * c.inputWeight + 0.05 * c.outputWeight;
        EXPECT_NEAR(meter.getou(), std::fabs(mix) * std::pow(10.0, 0.15), 1e-14) << c.balance;
        EXPECT_EQ(meter.getba(), c.balance);
    }
}

TEST(CoreEnvf, HighPassFollowsItsSourceRowEachBlock) {
    FollowerRig rig;
    rig.follower.setvl(1, 1, "", 1, 1, "", 0.0, 0, false, "0", false, off, off, false, rate, false, "0", "0",
                       true, 2000.0, 8, "BUS2");
    CoreFltr reference(CoreFltr::iChighpass, 8);
    ReferenceFollower detector{0, 1.0, 1.0};
    int n = 0;
    for (int block = 0; block < 10; ++block) {
        // Samples run through the cascade as they are fed; the cut-off read at the end of a block
        // applies to the next block's samples.
        for (int i = 0; i < 64; ++i, ++n) {
            rig.follower.setei(testSignal(n));
            detector.sample(reference.prcss(testSignal(n)));
        }
        const double source = -1.0 + 0.2 * block;
        rig.bus[1]->setvl(source);
        reference.setvl((source + 1.0) / 2.0 * 2000.0, 0.0, rate, 8);
        rig.follower.updte();
        EXPECT_NEAR(rig.follower.getou(), std::min(1.0, detector.endOfBlock()), 1e-12) << block;
    }
    EXPECT_TRUE(rig.follower.hpsrc());

    // A constant input settles to 0.
    rig.bus[1]->setvl(0.0);
    for (int block = 0; block < 400; ++block) {
        for (int i = 0; i < 64; ++i) rig.follower.setei(0.5);
        rig.follower.updte();
    }
    EXPECT_LT(rig.follower.getou(), 1e-9);
}

TEST(CoreEnvf, OptionalRowsAreWrittenOnlyWhileTheirSwitchesAreOn) {
    FollowerRig rig;
    const double untouched = 0.123;
    rig.bus[0]->setvl(untouched);
    rig.attackTime->setvl(untouched);
    rig.releaseTime->setvl(untouched);
    rig.apply(0, 10, 10, "", 20, 20, "");
    for (int block = 0; block < 3; ++block) {
        for (int i = 0; i < 64; ++i) rig.follower.setei(0.5);
        rig.follower.updte();
    }
    EXPECT_EQ(rig.bus[0]->getvl(), untouched);
    EXPECT_EQ(rig.attackTime->getvl(), untouched);
    EXPECT_EQ(rig.releaseTime->getvl(), untouched);

    // Bus balance and timing outputs on.
    rig.follower.setvl(10, 10, "", 20, 20, "", 0.0, 0, true, "BUS1", false, off, off, true, rate, false, "0",
                       "0", false, 0.0, 8, off);
    rig.follower.updte();
    for (int i = 0; i < 64; ++i) rig.follower.setei(i == 63 ? -0.4 : 0.5);
    rig.follower.updte();
    EXPECT_NEAR(rig.bus[0]->getvl(), 2.0 * 0.4 - 1.0, 1e-15);
    // Timing figures from the level and the last detector input.
    const double ac = std::exp(-1.0 / 10.0), rc = std::exp(-1.0 / 20.0);
    const double lastInput = 0.4;
    const double q = rig.follower.getou() / lastInput;
    const double scale = 0.01 / rate;
    const double attack = 1.0 - q > 0.0 ? scale * std::log(1.0 - q) / std::log(ac) : 0.0;
    const double release = scale * std::log(q) / std::log(rc);
    EXPECT_NEAR(rig.attackTime->getvl(), attack == 0.0 ? -1.0 : 2.0 * attack - 1.0, 1e-15);
    EXPECT_NEAR(rig.releaseTime->getvl(), 2.0 * release - 1.0, 1e-15);
}

TEST(CoreEnvf, OutputSourcesScaleThePreviousDetectorInput) {
    FollowerRig rig;
    rig.bus[4]->setvl(0.5);  // output-attack row: (v + 1)/2 = 0.75
    rig.bus[5]->setvl(-0.5); // output-release row: 0.25
    // Timing outputs off: the previous detector input stays 0, and so does the reading.
    rig.follower.setvl(10, 10, "", 10, 10, "", 0.0, 0, false, "0", false, off, off, false, rate, true, "BUS5",
                       "BUS6", false, 0.0, 8, off);
    for (int block = 0; block < 3; ++block) {
        for (int i = 0; i < 64; ++i) rig.follower.setei(0.5);
        rig.follower.updte();
        EXPECT_EQ(rig.follower.getou(), 0.0);
    }
    // Timing outputs on: from the second block on, the reading is a share of the last block's input.
    rig.follower.setvl(10, 10, "", 10, 10, "", 0.0, 0, false, "0", false, off, off, true, rate, true, "BUS5",
                       "BUS6", false, 0.0, 8, off);
    rig.follower.updte();
    for (int i = 0; i < 64; ++i) rig.follower.setei(0.5); // rising towards 0.5
    rig.follower.updte();
    EXPECT_EQ(rig.follower.getou(), 0.0); // the previous detector input was still 0
    for (int i = 0; i < 64; ++i) rig.follower.setei(0.5);
    rig.follower.updte();
    EXPECT_DOUBLE_EQ(rig.follower.getou(), 0.75 * 0.5);
    for (int i = 0; i < 64; ++i) rig.follower.setei(0.01); // falling
    rig.follower.updte();
    EXPECT_DOUBLE_EQ(rig.follower.getou(), 0.25 * 0.5);
}

TEST(CoreEnvf, EaercGuardsItsInputs) {
    EXPECT_NEAR(CoreEnvf::eaerc(0.5, std::exp(-1.0), 2.0), 2.0 * std::log(2.0), 1e-15);
    EXPECT_EQ(CoreEnvf::eaerc(0.0, 0.5, 1.0), 0.0);
    EXPECT_EQ(CoreEnvf::eaerc(-0.5, 0.5, 1.0), 0.0);
    EXPECT_EQ(CoreEnvf::eaerc(1e-310, 0.5, 1.0), 0.0);
    EXPECT_EQ(CoreEnvf::eaerc(0.5, 0.0, 1.0), 0.0);
    EXPECT_EQ(CoreEnvf::eaerc(0.5, -0.5, 1.0), 0.0);
    EXPECT_EQ(CoreEnvf::eaerc(0.5, 1.0, 1.0), 0.0);
}

TEST(CoreEnvf, RunsWithoutControlsOrWithoutTimingRows) {
    {
        CorePool pool;
        CoreEnvf meter(&pool, "", false, nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(meter.getat(), nullptr);
        meter.setvl(5, 50, "LFO1", 5, 50, "LFO2", 0.5, 0, true, "BUS1", true, "BUS2", "BUS3", true, rate,
                    true, "BUS4", "BUS5", true, 100.0, 8, "BUS6");
        for (int block = 0; block < 4; ++block) {
            for (int i = 0; i < 64; ++i) meter.setei(0.2, 0.1, -0.3, 0.4);
            meter.updte();
        }
        EXPECT_GT(meter.getou(), 0.0);
        EXPECT_FALSE(meter.hpsrc()); // no cascade without controls
        meter.rfrvl();
        meter.prcss();
        meter.updte();
        meter.setvl();
        meter.updte();
        EXPECT_FALSE(meter.isact());
    }
    {
        // The program's fifth follower: controls, but no attack-time and release-time rows.
        CorePool pool;
        DataSrce table;
        CoreSrce* level = table.getis(DataSrce::iCrowevf5);
        CoreEnvf fifth(&pool, "EVF5", true, &table, level, nullptr, nullptr);
        fifth.setvl(5, 50, "", 5, 50, "", 0.5, 1, true, "BUS1", false, off, off, true, rate, true, "BUS4",
                    "BUS5", true, 100.0, 8, "BUS6");
        for (int block = 0; block < 4; ++block) {
            for (int i = 0; i < 64; ++i) fifth.setei(0.2, 0.1, 0.0, 0.0);
            fifth.updte();
        }
        fifth.rfrvl();
        fifth.updte();
        EXPECT_EQ(table.getis(DataSrce::iCroweat1 + 3)->getvl(), 0.0);
        EXPECT_EQ(table.getis(DataSrce::iCrowert1 + 3)->getvl(), 0.0);
        fifth.setvl();
        fifth.updte();
        EXPECT_EQ(level->getvl(), 2.0 * fifth.getou() - 1.0);
    }
}

TEST(CoreEnvf, DynamicSourcesAndOutOfRangeTimesNeverDiverge) {
    FollowerRig rig;
    rig.bus[6]->setvl(1.0);
    rig.bus[7]->setvl(1.0);
    rig.follower.setvl(10, 10, "", 10, 10, "", 0.0, 0, false, "0", true, "BUS7", "BUS8", false, rate, false,
                       "0", "0", false, 0.0, 8, off);
    double peak = 0.0;
    for (int block = 0; block < 10000; ++block) {
        for (int i = 0; i < 64; ++i) {
            const double x = testSignal(block * 64 + i);
            peak = std::max(peak, std::fabs(x));
            rig.follower.setei(x);
        }
        rig.follower.updte();
    }
    EXPECT_TRUE(std::isfinite(rig.follower.getou()));
    EXPECT_LE(rig.follower.getou(), peak);
    // Once the sources fall back, the follower tracks again.
    rig.bus[6]->setvl(-1.0);
    rig.bus[7]->setvl(-1.0);
    for (int block = 0; block < 50; ++block) {
        for (int i = 0; i < 64; ++i) rig.follower.setei(0.0);
        rig.follower.updte();
    }
    EXPECT_LT(rig.follower.getou(), 1e-3);

    // An Attack control below its lower bound (source at -2, or a constant -5) counts as one sample.
    for (const char* attack : {"BUS3", "-5"}) {
        rig.bus[2]->setvl(-2.0);
        rig.apply(8, 10, 1000, attack, 10, 1000, attack);
        rig.follower.updte();
        for (int i = 0; i < 64; ++i) rig.follower.setei(i == 63 ? 0.3 : 0.9);
        rig.follower.updte();
        EXPECT_NEAR(rig.follower.getou(), 0.3 * std::pow(10.0, 0.15), 1e-12) << attack;

        rig.apply(2, 10, 1000, attack, 10, 1000, attack);
        rig.follower.updte();
        for (int block = 0; block < 5; ++block) {
            for (int i = 0; i < 64; ++i) rig.follower.setei(0.25 + 0.1 * block);
            rig.follower.updte();
            EXPECT_NEAR(rig.follower.getou(), 0.25 + 0.1 * block, 1e-12) << attack; // one-sample windows
        }
    }
}

TEST(CoreEnvf, RfrvlReappliesEverySetting) {
    FollowerRig rig;
    rig.follower.setvl(12, 340, "BUS3", 56, 780, "BUS4", 0.3, 1, true, "BUS1", true, "BUS7", "BUS8", true,
                       44100.0, true, "BUS5", "BUS6", true, 1500.0, 6, "BUS2");
    rig.follower.rfrvl();
    EXPECT_TRUE(rig.follower.isact());
    EXPECT_EQ(rig.follower.getma(), 12);
    EXPECT_EQ(rig.follower.getxa(), 340);
    EXPECT_EQ(rig.follower.getmr(), 56);
    EXPECT_EQ(rig.follower.getxr(), 780);
    EXPECT_EQ(rig.follower.getat()->getsc(), CoreAnsx("BUS3"));
    EXPECT_EQ(rig.follower.getrl()->getsc(), CoreAnsx("BUS4"));
    EXPECT_EQ(rig.follower.getba(), 0.3);
    EXPECT_EQ(rig.follower.getex(), 1);
    EXPECT_TRUE(rig.follower.bbsrc());
    EXPECT_EQ(rig.follower.getbb(), CoreAnsx("BUS1"));
    EXPECT_TRUE(rig.follower.dsrc_());
    EXPECT_EQ(rig.follower.getda(), CoreAnsx("BUS7"));
    EXPECT_EQ(rig.follower.getdr(), CoreAnsx("BUS8"));
    EXPECT_TRUE(rig.follower.enabt());
    EXPECT_TRUE(rig.follower.osrc_());
    EXPECT_EQ(rig.follower.getoa(), CoreAnsx("BUS5"));
    EXPECT_EQ(rig.follower.getor(), CoreAnsx("BUS6"));
    EXPECT_TRUE(rig.follower.hpsrc());
    EXPECT_EQ(rig.follower.gethp(), CoreAnsx("BUS2"));
    EXPECT_EQ(rig.follower.gethf(), 1500.0);
    EXPECT_EQ(rig.follower.getho(), 6);

    // The rows follow: the bus-balance row is written again after the re-apply.
    rig.bus[0]->setvl(0.123);
    for (int i = 0; i < 64; ++i) rig.follower.setei(0.1, 0.1, 0.1, 0.1);
    rig.follower.updte();
    EXPECT_NE(rig.bus[0]->getvl(), 0.123);

    // Display edits: stored, then applied by rfrvl; "OFF" switches the dynamic and high-pass parts off.
    rig.follower.setma(3);
    rig.follower.setxa(30);
    rig.follower.setmr(4);
    rig.follower.setxr(40);
    rig.follower.setob(-1.0);
    rig.follower.setex(2);
    rig.follower.sethf(99.0);
    rig.follower.setho(2);
    rig.follower.sethp(off);
    rig.follower.setda(off);
    rig.follower.setdr("BUS8");
    rig.follower.setas("LFO1");
    rig.follower.setrs("LFO2");
    EXPECT_EQ(rig.follower.getat()->getsc(), CoreAnsx("BUS3"));
    rig.follower.rfrvl();
    EXPECT_EQ(rig.follower.getat()->getsc(), CoreAnsx("LFO1"));
    EXPECT_EQ(rig.follower.getrl()->getsc(), CoreAnsx("LFO2"));
    EXPECT_EQ(rig.follower.getat()->getsu(), 30.0);
    EXPECT_EQ(rig.follower.getex(), 2);
    EXPECT_FALSE(rig.follower.dsrc_());
    EXPECT_FALSE(rig.follower.hpsrc());
    EXPECT_TRUE(rig.follower.bbsrc());
    EXPECT_TRUE(rig.follower.enabt());
    EXPECT_TRUE(rig.follower.osrc_());

    rig.follower.setvl();
    EXPECT_FALSE(rig.follower.isact());
    EXPECT_EQ(rig.follower.getex(), 9);
    EXPECT_EQ(rig.follower.getat()->getsu(), 1.0);
    EXPECT_FALSE(rig.follower.bbsrc());
}
