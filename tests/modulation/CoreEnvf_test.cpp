// CoreEnvf: unknown modes, corrected times and bounded readings, the bus balance of an empty batch,
// followers without controls or rows, coefficients that never diverge, rfrvl, and samples at the
// limits of the doubles.
#include "modulation/CoreEnvf.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>

constexpr double rate = 48000.0;

// Every argument of the full setvl, with the plain setting as default (designated initialisers).
struct Settings {
    int32_t minAttack = 10, maxAttack = 10;
    const char* attack = "";
    int32_t minRelease = 10, maxRelease = 10;
    const char* release = "";
    double balance = 0.0;
    int16_t mode = 0;
    bool busBalanceOn = false;
    const char* busBalance = "0";
    bool dynamicOn = false;
    const char *dynamicAttack = "OFF", *dynamicRelease = "OFF";
    bool timingOn = false, outputSourcesOn = false;
    const char *outputAttack = "0", *outputRelease = "0";
    bool highPassOn = false;
    double highPassFactor = 0.0;
    const char* highPass = "OFF";
};

void apply(CoreEnvf& e, const Settings& s) {
    e.setvl(s.minAttack, s.maxAttack, s.attack, s.minRelease, s.maxRelease, s.release, s.balance, s.mode,
            s.busBalanceOn, s.busBalance, s.dynamicOn, s.dynamicAttack, s.dynamicRelease, s.timingOn, rate,
            s.outputSourcesOn, s.outputAttack, s.outputRelease, s.highPassOn, s.highPassFactor, 8,
            s.highPass);
}

// Follower EVF1 with its EAT1/ERT1 rows; test sources on the BUS rows.
struct FollowerRig {
    CorePool pool;
    DataSrce table;
    CoreSrce* level = table.getis(DataSrce::iCrowevf1);
    CoreSrce* attackTime = table.getis(DataSrce::iCroweat1);
    CoreSrce* releaseTime = table.getis(DataSrce::iCrowert1);
    CoreEnvf follower{&pool, "EVF1", true, &table, level, attackTime, releaseTime};

    CoreSrce* bus(int n) { return table.getis(DataSrce::iCrowbus1 + n - 1); }
    // A block of `count` samples of x, then the block's update; returns the reading.
    double block(double x, int count = 64) {
        for (int i = 0; i < count; ++i) follower.setei(x);
        follower.updte();
        return follower.getou();
    }
};

double testSignal(int n) {
    return (n < 200 ? 1.0 : 0.2) * (0.6 * std::sin(0.07 * n) + 0.35 * std::sin(0.31 * n + 1.0));
}

TEST(CoreEnvf, AnUnknownModeIsOffAndTimesAreCorrectedAndReadingsBounded) {
    FollowerRig rig;
    rig.follower.setex(12);
    EXPECT_EQ(rig.follower.getex(), 9);
    apply(rig.follower, {.mode = -3});
    EXPECT_EQ(rig.block(0.9, 100), 0.0);
    EXPECT_TRUE(rig.level->getvl() == -1.0 && rig.follower.getbl() == -1.0);
    EXPECT_EQ(rig.follower.getdb(), -192.64);
    apply(rig.follower, {.minAttack = 0, .maxAttack = 0, .minRelease = 40, .maxRelease = 20});
    EXPECT_EQ(rig.follower.getat()->getsl(), 1.0);  // below one sample: one sample
    EXPECT_EQ(rig.follower.getrl()->getsu(), 40.0); // a maximum below its minimum is raised
    apply(rig.follower, {.minAttack = 1, .maxAttack = 1, .minRelease = 1, .maxRelease = 1, .mode = 4});
    rig.follower.updte();
    EXPECT_EQ(rig.block(0.95), 1.0); // with controls the reading stops at 1.0
    EXPECT_EQ(rig.follower.getdb(), 0.0);
}

TEST(CoreEnvf, BusBalanceOfAnEmptyBatchReadsNoSampleBeforeTheBuffer) {
    FollowerRig rig;
    apply(rig.follower, {.busBalanceOn = true, .busBalance = "BUS1", .timingOn = true});
    rig.bus(1)->setvl(0.123);
    rig.follower.updte(); // an empty batch
    EXPECT_EQ(rig.bus(1)->getvl(), -1.0);
    for (int i = 0; i < 64; ++i) rig.follower.setei(i == 63 ? -0.4 : 0.5);
    rig.follower.updte();
    EXPECT_NEAR(rig.bus(1)->getvl(), 2.0 * 0.4 - 1.0, 1e-15);
    // Keys naming no source write nowhere; they would otherwise land on the OFF row.
    apply(rig.follower, {.mode = 1, .busBalanceOn = true, .busBalance = "off", .timingOn = true,
                         .outputSourcesOn = true, .outputAttack = "", .outputRelease = "nonsense"});
    const double off = rig.table.getis(0)->getvl();
    EXPECT_GT(rig.block(0.9), 0.0);
    EXPECT_EQ(rig.table.getis(0)->getvl(), off);
}

TEST(CoreEnvf, RunsWithoutControlsOrWithoutTimingRowsTouchingNoRowItLacks) {
    Settings everything{.attack = "LFO1", .release = "LFO2", .balance = -1.0, .busBalanceOn = true,
                        .busBalance = "BUS1", .dynamicOn = true, .dynamicAttack = "BUS2",
                        .dynamicRelease = "BUS3", .timingOn = true, .outputSourcesOn = true,
                        .outputAttack = "BUS4", .outputRelease = "BUS5", .highPassOn = true,
                        .highPassFactor = 100.0, .highPass = "BUS6"};
    CorePool pool;
    DataSrce table;
    CoreSrce* level = table.getis(DataSrce::iCrowevf5);
    CoreEnvf meter(&pool, "", false, nullptr, nullptr, nullptr, nullptr);
    CoreEnvf fifth(&pool, "EVF5", true, &table, level, nullptr, nullptr); // the program's fifth follower
    apply(meter, everything);
    everything.dynamicOn = false;
    apply(fifth, everything);
    for (int block = 0; block < 4; ++block) {
        for (int i = 0; i < 64; ++i) meter.setei(0.2, 0.1, -0.3, 0.4), fifth.setei(0.2, 0.1, 0, 0);
        meter.updte();
        fifth.updte();
    }
    EXPECT_GT(meter.getou(), 0.0);
    EXPECT_FALSE(meter.hpsrc()); // no cascade without controls
    for (int i = 0; i < DataSrce::iCcount; i++)
        EXPECT_TRUE(i == DataSrce::iCrowevf5 || i == DataSrce::iCrowbus1 || !table.getis(i)->getvl()) << i;
    EXPECT_EQ(level->getvl(), 2.0 * fifth.getou() - 1.0);
    meter.setvl();
    EXPECT_FALSE(meter.isact());
}

TEST(CoreEnvf, DynamicSourcesAndControlsBelowTheirRangeNeverDiverge) {
    FollowerRig rig;
    rig.bus(7)->setvl(1.0); // coefficients 0.5 + 1 would grow the level without bound
    rig.bus(8)->setvl(1.0);
    apply(rig.follower, {.dynamicOn = true, .dynamicAttack = "BUS7", .dynamicRelease = "BUS8"});
    for (int block = 0; block < 200; ++block) {
        for (int i = 0; i < 64; ++i) rig.follower.setei(testSignal(64 * block + i));
        rig.follower.updte();
    }
    EXPECT_LE(rig.follower.getou(), 0.95); // no more than the largest sample
    rig.bus(7)->setvl(-1.0); // once the sources fall back, the follower tracks again
    rig.bus(8)->setvl(-1.0);
    for (int block = 0; block < 49; ++block) rig.block(0.0);
    EXPECT_LT(rig.block(0.0), 1e-3);

    // Controls following a source at -2 fall below their lower bound: one sample.
    rig.bus(3)->setvl(-2.0);
    apply(rig.follower, {.maxAttack = 99, .attack = "BUS3", .maxRelease = 99, .release = "BUS3", .mode = 8});
    rig.follower.updte();
    for (int i = 0; i < 64; ++i) rig.follower.setei(i == 63 ? 0.3 : 0.9);
    rig.follower.updte();
    EXPECT_NEAR(rig.follower.getou(), 0.3 * std::pow(10.0, 0.15), 1e-12);
}

TEST(CoreEnvf, RfrvlReappliesEverySettingAndOffSwitchesPartsOff) {
    FollowerRig rig;
    apply(rig.follower, {.mode = 1, .busBalanceOn = true, .busBalance = "BUS1", .dynamicOn = true,
                         .dynamicAttack = "BUS7", .dynamicRelease = "BUS8", .timingOn = true,
                         .outputSourcesOn = true, .outputAttack = "BUS5", .outputRelease = "BUS6",
                         .highPassOn = true, .highPassFactor = 1500.0, .highPass = "BUS2"});
    rig.follower.rfrvl();
    EXPECT_TRUE(rig.follower.isact() && rig.follower.bbsrc() && rig.follower.dsrc_() &&
                rig.follower.enabt() && rig.follower.osrc_() && rig.follower.hpsrc());
    rig.follower.sethp("OFF"); // display edits: stored, then applied by rfrvl
    rig.follower.setda("OFF");
    EXPECT_TRUE(rig.follower.dsrc_());
    rig.follower.rfrvl();
    EXPECT_FALSE(rig.follower.dsrc_() || rig.follower.hpsrc());
    EXPECT_TRUE(rig.follower.bbsrc() && rig.follower.enabt() && rig.follower.osrc_());
}

// A sample at the limits of the doubles never leaves a reading infinite or NaN: over one release time
// every mode reads as if fed the sample clipped to the largest one it can square (squaring modes) or
// the sample itself, block by block, and a high-passed follower recovers fully.
TEST(CoreEnvf, SamplesAtTheLimitsOfTheDoublesKeepReadingsFinite) {
    struct Row { int16_t mode; bool highPass; };
    const Row rows[] = {{0, false}, {1, false}, {2, false}, {3, false}, {4, false}, {5, false},
                        {6, false}, {7, false}, {8, false}, {0, true}}; // high-passed: as if never fed
    const double largestSquarable = std::sqrt(DBL_MAX);
    for (const Row& r : rows)
        for (const double huge : {1e154, -1.4e154, 1e300, DBL_MAX}) {
            SCOPED_TRACE(testing::Message() << "mode " << r.mode << (r.highPass ? " high-passed" : "")
                                            << " sample " << huge);
            const bool squares = r.mode == 1 || r.mode == 4 || r.mode == 8;
            const double heard =
                squares ? std::copysign(std::min(std::fabs(huge), largestSquarable), huge) : huge;
            CorePool pool;
            DataSrce table; // BUS1 at 0: the high-pass at half its factor, 1000 Hz
            CoreEnvf hit(&pool, "", r.highPass, &table, nullptr, nullptr, nullptr);
            CoreEnvf reference(&pool, "", r.highPass, &table, nullptr, nullptr, nullptr);
            // Meters: a release of 200 samples, read until the sample is one release time old.
            const int32_t release = r.highPass ? 10 : 200;
            for (CoreEnvf* follower : {&hit, &reference})
                apply(*follower, {.minRelease = release, .maxRelease = release, .mode = r.mode,
                                  .highPassOn = r.highPass, .highPassFactor = 2000.0, .highPass = "BUS1"});
            for (int n = 0; n < (r.highPass ? 200 : 5) * 64; ++n) {
                const double x = 0.5 * testSignal(n);
                hit.setei(n == 70 ? huge : n == 71 && r.highPass ? -huge : x);
                reference.setei(n == 70 && !r.highPass ? heard : x);
                if ((n + 1) % 64 != 0) continue;
                hit.updte();
                reference.updte();
                ASSERT_TRUE(std::isfinite(hit.getou())) << n;
                ASSERT_TRUE(r.highPass || hit.getou() == reference.getou()) << n;
            }
            EXPECT_GT(reference.getou(), r.highPass ? 0.005 : 1.0);
            EXPECT_NEAR(hit.getou(), reference.getou(), 1e-12);
        }
}
