#include "modulation/CoreEnvf.h"

#include "base/CorePool.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

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
    bool timingOn = false;
    double sampleRate = rate;
    bool outputSourcesOn = false;
    const char *outputAttack = "0", *outputRelease = "0";
    bool highPassOn = false;
    double highPassFactor = 0.0;
    int highPassOrder = 8;
    const char* highPass = "OFF";
};

void apply(CoreEnvf& f, const Settings& s) {
    f.setvl(s.minAttack, s.maxAttack, s.attack, s.minRelease, s.maxRelease, s.release, s.balance, s.mode,
            s.busBalanceOn, s.busBalance, s.dynamicOn, s.dynamicAttack, s.dynamicRelease, s.timingOn,
            s.sampleRate, s.outputSourcesOn, s.outputAttack, s.outputRelease, s.highPassOn, s.highPassFactor,
            s.highPassOrder, s.highPass);
}

// Follower EVF1 with its EAT1/ERT1 rows; test sources on the BUS rows.
struct FollowerRig {
    CorePool pool;
    DataSrce table;
    CoreSrce* level = table.getis(DataSrce::iCrowevf1);
    CoreSrce* attackTime = table.getis(DataSrce::iCroweat1);
    CoreSrce* releaseTime = table.getis(DataSrce::iCrowert1);
    CoreEnvf follower{&pool, "EVF1", true, &table, level, attackTime, releaseTime};

    FollowerRig() { table.getis(DataSrce::iCrowoff)->setvl(-1.0); }
    CoreSrce* bus(int n) { return table.getis(DataSrce::iCrowbus1 + n - 1); }
    // A block of `count` samples of x, then the block's update; returns the reading.
    double block(double x, int count = 64) {
        for (int i = 0; i < count; ++i) follower.setei(x);
        follower.updte();
        return follower.getou();
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
            level += (x * x - level) * ac; // true RMS: no release
        } else {
            const double u = (mode == 1 || mode == 4) ? x * x : magnitude;
            level = u + (level - u) * (u > level ? ac : rc);
        }
    }
    double endOfBlock() {
        holdLength = static_cast<int>(attackTime);
        ac = mode == 8 ? 1.0 / attackTime : std::exp(-1.0 / attackTime);
        rc = std::exp(-1.0 / releaseTime);
        const double p15 = std::pow(10.0, 0.15);
        const double factors[] = {
            1.0, 1.0, 1.0, 1.5689347391281367, p15, 1.0, p15, std::pow(10.0, 0.038) * 1.433934302386369, p15};
        const double out = (mode == 1 || mode == 4 || mode == 8) ? std::sqrt(level) : level;
        return std::min(out * factors[mode], 1.0);
    }
};

TEST(CoreEnvf, EveryModeMatchesItsFormulasOverTenBlocks) {
    for (int mode = 0; mode <= 8; ++mode)
        for (int blockLength : {64, 40}) {
            FollowerRig rig;
            // Attack control at a quarter of its range, release at its top.
            apply(rig.follower, {.minAttack = 20, .maxAttack = 220, .attack = "-0.5", .minRelease = 30,
                                 .maxRelease = 300, .release = "1", .mode = int16_t(mode)});
            const double scale = (mode == 5 || mode == 6) ? 1.0 / std::log(9.0)
                                 : mode == 7              ? 1.0 / std::log(100.0)
                                                          : 1.0;
            ReferenceFollower reference{mode, 20 * scale + 0.25 * 200 * scale, 300 * scale};
            for (int block = 0, n = 0; block < 10; ++block) {
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

TEST(CoreEnvf, ModeNineOrAnUnknownModeIsOffDropsSamplesAndReadsSilence) {
    for (int16_t mode : {9, 12, -3}) {
        FollowerRig rig;
        apply(rig.follower, {.mode = 0});
        rig.follower.setex(mode);
        rig.follower.rfrvl();
        EXPECT_EQ(rig.follower.getex(), 9) << mode;
        apply(rig.follower, {.mode = mode});
        EXPECT_FALSE(rig.follower.isact());
        EXPECT_EQ(rig.block(0.9, 100), 0.0);
        EXPECT_EQ(rig.level->getvl(), -1.0);
        EXPECT_EQ(rig.follower.getdb(), -192.64);
    }
}

TEST(CoreEnvf, TimesAreCorrectedAndReadingsAreBounded) {
    struct Row {
        int16_t mode;
        int32_t minAttack, maxAttack, minRelease, maxRelease;
        double attackLow, releaseHigh;
    };
    const Row rows[] = {
        {0, 0, 0, -5, -9, 1.0, 1.0},     // below one sample: one sample
        {0, 50, 10, 40, 20, 50.0, 40.0}, // a maximum below its minimum is raised
        {5, 90, 900, 90, 900, 90.0 / std::log(9.0), 900.0 / std::log(9.0)},     // rise times
        {7, 90, 900, 90, 900, 90.0 / std::log(100.0), 900.0 / std::log(100.0)}, // VU
    };
    FollowerRig rig;
    for (const Row& r : rows) {
        apply(rig.follower, {.minAttack = r.minAttack, .maxAttack = r.maxAttack, .minRelease = r.minRelease,
                             .maxRelease = r.maxRelease, .mode = r.mode});
        EXPECT_NEAR(rig.follower.getat()->getsl(), r.attackLow, 1e-12) << r.minAttack;
        EXPECT_NEAR(rig.follower.getrl()->getsu(), r.releaseHigh, 1e-12) << r.minAttack;
    }
    EXPECT_EQ(rig.follower.getbl(), -1.0);
    EXPECT_EQ(rig.block(0.0), 0.0);
    EXPECT_EQ(rig.follower.getdb(), -192.64); // silence
    apply(rig.follower, {.minAttack = 1, .maxAttack = 1, .minRelease = 1, .maxRelease = 1, .mode = 4});
    rig.follower.updte();
    EXPECT_EQ(rig.block(0.95), 1.0); // with controls the reading stops at 1.0
    EXPECT_EQ(rig.level->getvl(), 1.0);
    EXPECT_EQ(rig.follower.getdb(), 0.0);
}

TEST(CoreEnvf, MixesFourInputsWithTheBalanceWeights) {
    struct Row { double balance, outputWeight, inputWeight; };
    const Row rows[] = {
        {0.0, 0.0, 0.5}, {0.5, 0.25, 0.25}, {1.0, 0.5, 0.0}, {-1.0, 1.0, 1.0}, {-0.2, 1.0, 1.0}};
    for (const Row& r : rows) {
        CorePool pool;
        CoreEnvf meter(&pool, "", false, nullptr, nullptr, nullptr, nullptr);
        // True RMS with a one-sample attack reads the last sample's magnitude times 10^(3/20).
        apply(meter, {.minAttack = 1, .maxAttack = 1, .minRelease = 1, .maxRelease = 1, .balance = r.balance,
                      .mode = 8});
        meter.updte();
        meter.setei(0.1, -0.02, 0.3, 0.05);
        meter.updte();
        const double mix = (0.3 + 0.05) * r.outputWeight + (0.1 - 0.02) * r.inputWeight;
        EXPECT_NEAR(meter.getou(), std::fabs(mix) * std::pow(10.0, 0.15), 1e-14) << r.balance;
    }
}

TEST(CoreEnvf, HighPassFollowsItsSourceRowEachBlockAndSettlesOnAConstant) {
    FollowerRig rig;
    apply(rig.follower, {.minAttack = 1, .maxAttack = 1, .minRelease = 1, .maxRelease = 1, .highPassOn = true,
                         .highPassFactor = 2000.0, .highPass = "BUS2"});
    CoreFltr reference(CoreFltr::iChighpass, 8);
    ReferenceFollower detector{0, 1.0, 1.0};
    for (int block = 0, n = 0; block < 10; ++block) {
        // The cut-off read at the end of a block applies to the next block's samples.
        for (int i = 0; i < 64; ++i, ++n) {
            rig.follower.setei(testSignal(n));
            detector.sample(reference.prcss(testSignal(n)));
        }
        rig.bus(2)->setvl(-1.0 + 0.2 * block);
        reference.setvl(0.1 * block * 2000.0, 0.0, rate, 8);
        rig.follower.updte();
        EXPECT_NEAR(rig.follower.getou(), detector.endOfBlock(), 1e-12) << block;
    }
    rig.bus(2)->setvl(0.0);
    for (int block = 0; block < 399; ++block) rig.block(0.5);
    EXPECT_LT(rig.block(0.5), 1e-9);
}

TEST(CoreEnvf, OptionalRowsAreWrittenOnlyWhileTheirSwitchesAreOn) {
    FollowerRig rig;
    for (CoreSrce* row : {rig.bus(1), rig.attackTime, rig.releaseTime}) row->setvl(0.123);
    apply(rig.follower, {.minRelease = 20, .maxRelease = 20});
    for (int block = 0; block < 3; ++block) rig.block(0.5);
    for (CoreSrce* row : {rig.bus(1), rig.attackTime, rig.releaseTime}) EXPECT_EQ(row->getvl(), 0.123);

    apply(rig.follower,
          {.minRelease = 20, .maxRelease = 20, .busBalanceOn = true, .busBalance = "BUS1", .timingOn = true});
    rig.follower.updte();
    for (int i = 0; i < 64; ++i) rig.follower.setei(i == 63 ? -0.4 : 0.5);
    rig.follower.updte();
    EXPECT_NEAR(rig.bus(1)->getvl(), 2.0 * 0.4 - 1.0, 1e-15);
    // Timing figures from the level and the last detector input (0.4).
    const double q = rig.follower.getou() / 0.4, scale = 0.01 / rate;
    const double attack = 1.0 - q > 0.0 ? scale * std::log(1.0 - q) / (-1.0 / 10.0) : 0.0;
    const double release = scale * std::log(q) / (-1.0 / 20.0);
    EXPECT_NEAR(rig.attackTime->getvl(), attack == 0.0 ? -1.0 : 2.0 * attack - 1.0, 1e-15);
    EXPECT_NEAR(rig.releaseTime->getvl(), 2.0 * release - 1.0, 1e-15);
    struct Row { double a, b, c, expected; };
    const Row eaercRows[] = {{0.5, std::exp(-1.0), 2.0, 2.0 * std::log(2.0)},
                             {0.0, 0.5, 1.0, 0.0},
                             {-0.5, 0.5, 1.0, 0.0},
                             {1e-310, 0.5, 1.0, 0.0},
                             {0.5, 0.0, 1.0, 0.0},
                             {0.5, -0.5, 1.0, 0.0},
                             {0.5, 1.0, 1.0, 0.0}}; // guarded: a, b above 0, ln b not 0
    for (const Row& r : eaercRows)
        EXPECT_NEAR(CoreEnvf::eaerc(r.a, r.b, r.c), r.expected, 1e-15) << r.a << " " << r.b;
}

TEST(CoreEnvf, OutputSourcesScaleThePreviousDetectorInput) {
    FollowerRig rig;
    rig.bus(5)->setvl(0.5);  // output-attack row: (v + 1)/2 = 0.75
    rig.bus(6)->setvl(-0.5); // output-release row: 0.25
    // Timing outputs off: the previous detector input stays 0, and so does the reading.
    Settings settings{.outputSourcesOn = true, .outputAttack = "BUS5", .outputRelease = "BUS6"};
    apply(rig.follower, settings);
    for (int block = 0; block < 3; ++block) EXPECT_EQ(rig.block(0.5), 0.0);
    settings.timingOn = true;
    apply(rig.follower, settings);
    rig.follower.updte();
    EXPECT_EQ(rig.block(0.5), 0.0); // rising, but the previous detector input was still 0
    EXPECT_DOUBLE_EQ(rig.block(0.5), 0.75 * 0.5);
    EXPECT_DOUBLE_EQ(rig.block(0.01), 0.25 * 0.5); // falling
}

TEST(CoreEnvf, RunsWithoutControlsOrWithoutTimingRowsTouchingNoRowItLacks) {
    const Settings everything{.minAttack = 5, .maxAttack = 50, .attack = "LFO1", .minRelease = 5,
                              .maxRelease = 50, .release = "LFO2", .balance = 0.5, .busBalanceOn = true,
                              .busBalance = "BUS1", .dynamicOn = true, .dynamicAttack = "BUS2",
                              .dynamicRelease = "BUS3", .timingOn = true, .outputSourcesOn = true,
                              .outputAttack = "BUS4", .outputRelease = "BUS5", .highPassOn = true,
                              .highPassFactor = 100.0, .highPass = "BUS6"};
    CorePool pool;
    CoreEnvf meter(&pool, "", false, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(meter.getat(), nullptr);
    apply(meter, everything);
    for (int block = 0; block < 4; ++block) {
        for (int i = 0; i < 64; ++i) meter.setei(0.2, 0.1, -0.3, 0.4);
        meter.updte();
    }
    EXPECT_GT(meter.getou(), 0.0);
    EXPECT_FALSE(meter.hpsrc()); // no cascade without controls
    meter.rfrvl();
    meter.prcss();
    meter.setvl();
    meter.updte();
    EXPECT_FALSE(meter.isact());

    // The program's fifth follower: controls, but no attack-time and release-time rows.
    DataSrce table;
    CoreSrce* level = table.getis(DataSrce::iCrowevf5);
    CoreEnvf fifth(&pool, "EVF5", true, &table, level, nullptr, nullptr);
    Settings settings = everything;
    settings.dynamicOn = false;
    settings.mode = 1;
    apply(fifth, settings);
    for (int block = 0; block < 4; ++block) {
        for (int i = 0; i < 64; ++i) fifth.setei(0.2, 0.1, 0.0, 0.0);
        fifth.updte();
    }
    fifth.rfrvl();
    fifth.updte();
    for (int i = 0; i < DataSrce::iCcount; i++) {
        const bool written = i == DataSrce::iCrowevf5 || i == DataSrce::iCrowbus1;
        EXPECT_TRUE(written || table.getis(i)->getvl() == 0.0) << i;
    }
    EXPECT_EQ(level->getvl(), 2.0 * fifth.getou() - 1.0);
}

TEST(CoreEnvf, DynamicSourcesAndOutOfRangeTimesNeverDiverge) {
    FollowerRig rig;
    rig.bus(7)->setvl(1.0);
    rig.bus(8)->setvl(1.0);
    apply(rig.follower, {.dynamicOn = true, .dynamicAttack = "BUS7", .dynamicRelease = "BUS8"});
    double peak = 0.0;
    for (int block = 0, n = 0; block < 10000; ++block) {
        for (int i = 0; i < 64; ++i, ++n) {
            peak = std::max(peak, std::fabs(testSignal(n)));
            rig.follower.setei(testSignal(n));
        }
        rig.follower.updte();
    }
    EXPECT_TRUE(std::isfinite(rig.follower.getou()));
    EXPECT_LE(rig.follower.getou(), peak);
    rig.bus(7)->setvl(-1.0); // once the sources fall back, the follower tracks again
    rig.bus(8)->setvl(-1.0);
    for (int block = 0; block < 49; ++block) rig.block(0.0);
    EXPECT_LT(rig.block(0.0), 1e-3);

    // An Attack control below its lower bound (source at -2, or a constant -5) counts as one sample.
    rig.bus(3)->setvl(-2.0);
    for (const char* attack : {"BUS3", "-5"}) {
        const Settings settings{.minAttack = 10, .maxAttack = 1000, .attack = attack, .maxRelease = 1000,
                                .release = attack, .mode = 8};
        apply(rig.follower, settings);
        rig.follower.updte();
        for (int i = 0; i < 64; ++i) rig.follower.setei(i == 63 ? 0.3 : 0.9);
        rig.follower.updte();
        EXPECT_NEAR(rig.follower.getou(), 0.3 * std::pow(10.0, 0.15), 1e-12) << attack;
        Settings peakSettings = settings;
        peakSettings.mode = 2;
        apply(rig.follower, peakSettings);
        rig.follower.updte();
        for (int block = 0; block < 5; ++block) // one-sample windows
            EXPECT_NEAR(rig.block(0.25 + 0.1 * block), 0.25 + 0.1 * block, 1e-12) << attack;
    }
}

TEST(CoreEnvf, RfrvlReappliesEverySettingAndDisplayEditsTakeEffectThrough) {
    FollowerRig rig;
    apply(rig.follower, {.minAttack = 12, .maxAttack = 340, .attack = "BUS3", .minRelease = 56,
                         .maxRelease = 780, .release = "BUS4", .balance = 0.3, .mode = 1,
                         .busBalanceOn = true, .busBalance = "BUS1", .dynamicOn = true,
                         .dynamicAttack = "BUS7", .dynamicRelease = "BUS8", .timingOn = true,
                         .sampleRate = 44100.0, .outputSourcesOn = true, .outputAttack = "BUS5",
                         .outputRelease = "BUS6", .highPassOn = true, .highPassFactor = 1500.0,
                         .highPassOrder = 6, .highPass = "BUS2"});
    rig.follower.rfrvl();
    EXPECT_TRUE(rig.follower.isact() && rig.follower.bbsrc() && rig.follower.dsrc_() &&
                rig.follower.enabt() && rig.follower.osrc_() && rig.follower.hpsrc());
    EXPECT_EQ(rig.follower.getbb() + rig.follower.getoa() + rig.follower.getor(), CoreAnsx("BUS1BUS5BUS6"));
    for (CoreSrce* row : {rig.bus(1), rig.attackTime, rig.releaseTime}) row->setvl(0.123);
    for (int i = 0; i < 64; ++i) rig.follower.setei(0.1, 0.1, 0.1, 0.1);
    rig.follower.updte();
    for (CoreSrce* row : {rig.bus(1), rig.attackTime, rig.releaseTime}) EXPECT_NE(row->getvl(), 0.123);

    // Display edits are stored, then applied by rfrvl; "OFF" switches the dynamic and high-pass parts off.
    rig.follower.setxa(30);
    rig.follower.setex(2);
    rig.follower.sethp("OFF");
    rig.follower.setda("OFF");
    rig.follower.setas("LFO1");
    EXPECT_EQ(rig.follower.getat()->getsc(), CoreAnsx("BUS3"));
    rig.follower.rfrvl();
    EXPECT_EQ(rig.follower.getat()->getsc(), CoreAnsx("LFO1"));
    EXPECT_EQ(rig.follower.getat()->getsu(), 30.0);
    EXPECT_EQ(rig.follower.getex(), 2);
    EXPECT_FALSE(rig.follower.dsrc_() || rig.follower.hpsrc());
    EXPECT_TRUE(rig.follower.bbsrc() && rig.follower.enabt() && rig.follower.osrc_());

    rig.follower.setvl();
    EXPECT_FALSE(rig.follower.isact() || rig.follower.bbsrc());
    EXPECT_EQ(rig.follower.getex(), 9);
}

} // namespace
