#include "modulation/CoreFun_.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CorePrm_.h"
#include "modulation/CoreRfun.h"
#include "tests/common/CountingAllocator.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::string text(const CoreAnsx& s) {
    return s.c_str();
}

struct LfoFixture : ::testing::Test {
    DataSrce sources;
    DataGfun functions;
    CoreLfo_ lfo{CoreAnsx("LFO1"), &functions, &sources, sources.getis(DataSrce::iCrowlfo1),
                 sources.getis(DataSrce::iCrowratelfo1)};

    LfoFixture() {
        sources.getis(DataSrce::iCrowoff)->setvl(-1.0);
        sources.getis(DataSrce::iCrowon)->setvl(1.0);
    }
    double out() const { return sources.getis(DataSrce::iCrowlfo1)->getvl(); }
    double rateOut() const { return sources.getis(DataSrce::iCrowratelfo1)->getvl(); }
    // A fixed rate: equal minimum and maximum give a zero range, so the rate is the minimum.
    void fixedRate(double hz, const char* shape, double phase = 0.0, double factor = 0.0,
                   const char* phaseSource = "OFF") {
        lfo.setvl(hz, hz, factor, CoreAnsx("OFF"), CoreAnsx(shape), phase, CoreAnsx(phaseSource));
    }
};

// With "Rise S" the output is the folded accumulator itself.
TEST_F(LfoFixture, OneHertzOverHalfASecondAdvancesHalfACycle) {
    fixedRate(1.0, "Rise S");
    lfo.updte(0.5, 120.0);
    EXPECT_DOUBLE_EQ(out(), 1.0);
    lfo.updte(0.25, 120.0); // 1.5 folds to -0.5
    EXPECT_DOUBLE_EQ(out(), -0.5);
    EXPECT_NEAR(rateOut(), 2.0 * 0.041666666666 - 1.0, 1e-15);
}

TEST_F(LfoFixture, StartPhaseInDegrees) {
    fixedRate(0.0, "Sine", 90.0);
    lfo.updte(0.01, 120.0);
    EXPECT_DOUBLE_EQ(out(), 1.0);
    // A zero rate leaves the accumulator where it is and reports -1 as the rate.
    EXPECT_EQ(rateOut(), -1.0);
    lfo.updte(10.0, 120.0);
    EXPECT_DOUBLE_EQ(out(), 1.0);
    EXPECT_EQ(lfo.getph(), 90.0);
}

TEST_F(LfoFixture, ActivePhaseControlMovesThePhaseWithoutJumps) {
    CoreSrce* control = sources.getis(2); // "LFO2" as the phase source
    fixedRate(0.0, "Rise S", 180.0, 0.0, "LFO2");
    control->setvl(1.0); // control value 1.0 keeps the whole offset
    lfo.updte(0.1, 120.0);
    EXPECT_DOUBLE_EQ(out(), 1.0);
    control->setvl(-1.0); // control value 0.0 takes it away
    lfo.updte(0.1, 120.0);
    EXPECT_EQ(out(), 0.0);
    control->setvl(0.0); // half the control: half the set phase
    lfo.updte(0.1, 120.0);
    EXPECT_DOUBLE_EQ(out(), 0.5);

    // A constant phase source is not active: the start phase stays.
    fixedRate(0.0, "Rise S", 180.0, 0.0, "-1");
    lfo.updte(0.1, 120.0);
    EXPECT_DOUBLE_EQ(out(), 1.0);
}

TEST_F(LfoFixture, QuantisationFactorAndItsReport) {
    fixedRate(1.0, "Sine", 0.0, 0.0);
    EXPECT_EQ(lfo.getqt(), 0.0);
    lfo.setqt(-2.0);
    EXPECT_EQ(lfo.getqt(), 0.0);
    lfo.setqt(2.0);
    EXPECT_EQ(lfo.getqt(), 2.0);
}

TEST_F(LfoFixture, QuantisedRateFollowsTheTempo) {
    fixedRate(3.3, "Rise S", 0.0, 1.0); // q = 1 * 120 / 60 = 2 steps per second: 3.3 Hz becomes 3.0 Hz
    lfo.updte(0.1, 120.0);
    EXPECT_NEAR(out(), 0.6, 1e-12);
    EXPECT_NEAR(rateOut(), -0.750000000004, 1e-15); // 2 * 3 * 0.041666666666 - 1

    fixedRate(3.3, "Rise S", 0.0, 0.0); // no quantisation
    lfo.updte(0.1, 120.0);
    EXPECT_NEAR(out(), 0.66, 1e-12);
}

TEST_F(LfoFixture, TempoZeroOrNegativeLeavesTheRateUnquantised) {
    for (double bpm : {0.0, -120.0, std::nan("")}) {
        SCOPED_TRACE(bpm);
        fixedRate(3.3, "Rise S", 0.0, 1.0);
        lfo.updte(0.1, bpm);
        EXPECT_NEAR(out(), 0.66, 1e-12);
        for (int i = 0; i < 10000; i++) lfo.updte(0.001, bpm);
        EXPECT_TRUE(std::isfinite(out()));
        // 0.1 + 10 s at 3.3 Hz: 2 * 10.1 * 3.3 = 66.66 folds to 0.66 (to within the sum's rounding).
        EXPECT_NEAR(out(), 0.66, 1e-9);
    }
}

TEST_F(LfoFixture, RateLimitsPushEachOther) {
    lfo.setvl(0.0, 24.0, 0.0, CoreAnsx("OFF"), CoreAnsx("Sine"), 0.0, CoreAnsx("OFF"));
    lfo.setmn(30.0);
    EXPECT_EQ(lfo.getrt()->getsl(), 30.0);
    EXPECT_EQ(lfo.getrt()->getsu(), 30.0);
    lfo.setvl(5.0, 24.0, 0.0, CoreAnsx("OFF"), CoreAnsx("Sine"), 0.0, CoreAnsx("OFF"));
    lfo.setmx(2.0);
    EXPECT_EQ(lfo.getrt()->getsl(), 2.0);
    EXPECT_EQ(lfo.getrt()->getsu(), 2.0);
    lfo.setmn(1.0); // no push when in order
    EXPECT_EQ(lfo.getrt()->getsl(), 1.0);
    EXPECT_EQ(lfo.getrt()->getsu(), 2.0);
}

TEST_F(LfoFixture, RateControlSpansMinimumToMaximum) {
    sources.getis(3)->setvl(0.0); // "LFO3", the middle of the range
    lfo.setvl(2.0, 6.0, 0.0, CoreAnsx("LFO3"), CoreAnsx("Rise S"), 0.0, CoreAnsx("OFF"));
    EXPECT_EQ(text(lfo.getrc()), "LFO3");
    lfo.updte(0.05, 120.0); // 4 Hz
    EXPECT_NEAR(out(), 0.4, 1e-12);
    EXPECT_EQ(lfo.getrt()->getbl(), 0.0); // the control's own bounds stay 0..24
    EXPECT_EQ(lfo.getrt()->getbu(), 24.0);
}

TEST_F(LfoFixture, UnknownShapeSelectsSine) {
    lfo.setvl(0.0, 0.0, 0.0, CoreAnsx("OFF"), CoreAnsx("Wobble"), 45.0, CoreAnsx("OFF"));
    EXPECT_EQ(text(lfo.getsh()), "Wobble");
    lfo.updte(0.1, 120.0);
    EXPECT_NEAR(out(), std::sqrt(0.5), 1e-15);
    lfo.setsh(CoreAnsx("Triang"));
    lfo.updte(0.1, 120.0);
    EXPECT_NEAR(out(), 0.5, 1e-15);
}

TEST_F(LfoFixture, EverySetterRestartsThePhase) {
    const std::vector<std::pair<const char*, std::function<void()>>> setters = {
        {"setrt", [&] { lfo.setrt(CoreAnsx("OFF")); }},
        {"setps", [&] { lfo.setps(CoreAnsx("OFF")); }},
        {"setsh", [&] { lfo.setsh(CoreAnsx("Rise S")); }},
        {"setph", [&] { lfo.setph(0.0); }},
        {"setqt", [&] { lfo.setqt(0.0); }},
        {"setmx", [&] { lfo.setmx(1.0); }},
        {"setmn", [&] { lfo.setmn(1.0); }},
    };
    for (const auto& [name, setter] : setters) {
        SCOPED_TRACE(name);
        fixedRate(1.0, "Rise S");
        lfo.updte(0.25, 120.0);
        lfo.updte(0.25, 120.0);
        EXPECT_DOUBLE_EQ(out(), 1.0);
        setter();
        lfo.updte(0.25, 120.0);
        EXPECT_DOUBLE_EQ(out(), 0.5);
    }
}

TEST_F(LfoFixture, OneStepWritesOnlyItsTwoSlots) {
    for (int i = 0; i < DataSrce::iCcount; i++) sources.getis(i)->setvl(0.37);
    fixedRate(2.0, "Sine", 30.0);
    lfo.updte(0.01, 120.0);
    for (int i = 0; i < DataSrce::iCcount; i++) {
        if (i == DataSrce::iCrowlfo1 || i == DataSrce::iCrowratelfo1) {
            EXPECT_NE(sources.getis(i)->getvl(), 0.37) << i;
        } else {
            EXPECT_EQ(sources.getis(i)->getvl(), 0.37) << i;
        }
    }
    EXPECT_NEAR(rateOut(), 2.0 * 2.0 * 0.041666666666 - 1.0, 1e-15);
}

TEST_F(LfoFixture, RandomShapeHoldsAcrossBlocksOfOneStep) {
    fixedRate(1.0, "3 Rand"); // 12 values per second at 1 Hz
    lfo.updte(0.001, 120.0);
    const double first = out();
    for (int i = 0; i < 50; i++) lfo.updte(0.001, 120.0); // stays within 1/12 s
    EXPECT_EQ(out(), first);
    EXPECT_GE(first, -1.0);
    EXPECT_LE(first, 1.0);
}

TEST(ModulatorSteps, AllocateNothing) {
    DataSrce sources;
    DataGfun functions;
    DataRgfn raws;
    sources.getis(DataSrce::iCrowoff)->setvl(-1.0);
    sources.getis(DataSrce::iCrowon)->setvl(1.0);
    CoreLfo_ lfo(CoreAnsx("LFO1"), &functions, &sources, sources.getis(1), sources.getis(60));
    lfo.setvl(0.5, 8.0, 1.0, CoreAnsx("ENV1"), CoreAnsx("12 Ran"), 90.0, CoreAnsx("LFO2"));
    CoreFun_ fun(CoreAnsx("FUN1"), &functions, &sources, sources.getis(5));
    fun.setvl(CoreAnsx("LFO1"), CoreAnsx("0.25"), CoreAnsx("gainpad+"));
    CoreRfun raw(CoreAnsx("RAWFUN1"), &raws, &sources, sources.getis(66));
    double values[4] = {0.0, 0.5, 1.0, 0.25};
    raw.setvl(CoreAnsx("FUN1"), CoreAnsx("-0.99999"), CoreAnsx("C"), CoreAnsx("D"), CoreAnsx("RMULTI"), 44100,
              -1.0);
    raw.setvl(0, values, 4);
    raw.setvl(1, values, 4);
    raw.chckv();
    CorePrm_ prm(CoreAnsx("PRM1"), &functions, &sources, sources.getis(36));
    prm.setvl(true, CoreAnsx("LFO1"), CoreAnsx("FUN1"), CoreAnsx("a*b"), CoreAnsx("P"), CoreAnsx(""),
              CoreAnsx(""), CoreAnsx(""), CoreAnsx(""), 0.0, 1.0, 0.0, 1.0);

    const long probe = heapAllocations.load();
    { std::vector<double> heapBuffer(64); }
    ASSERT_GT(heapAllocations.load(), probe);

    const long before = heapAllocations.load();
    double sum = 0.0;
    for (int block = 0; block < 1000; block++) {
        sources.getis(2)->setvl(std::sin(block * 0.01));
        lfo.updte(256.0 / 44100.0, block % 2 == 0 ? 120.0 : 0.0);
        fun.updte();
        raw.updte(block);
        prm.updte();
        sum += prm.getvl() + prm.getbf() + lfo.getrt()->getvl();
    }
    EXPECT_EQ(heapAllocations.load(), before);
    EXPECT_TRUE(std::isfinite(sum));
}

} // namespace
