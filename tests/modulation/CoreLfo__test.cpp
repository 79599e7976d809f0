// CoreLfo_: rate, quantisation to the tempo (and its absence), shapes, the rate limits and the
// setters restarting the phase, and modulator steps that allocate nothing.
#include "modulation/CoreLfo_.h"

#include "modulation/CoreFun_.h"
#include "modulation/CorePrm_.h"
#include "modulation/CoreRfun.h"
#include "tests/common/CountingAllocator.h"
#include "tests/modulation/ModulationFixture.h"

#include <cmath>
#include <functional>

using namespace modtest;

struct LfoFixture : ::testing::Test {
    PresetSources sources;
    DataGfun functions;
    CoreLfo_ lfo{"LFO1", &functions, &sources, sources.getis(DataSrce::iCrowlfo1),
                 sources.getis(DataSrce::iCrowratelfo1)};

    double out() const { return sources.getis(DataSrce::iCrowlfo1)->getvl(); }
    double rateOut() const { return sources.getis(DataSrce::iCrowratelfo1)->getvl(); }
    // Equal minimum and maximum give a fixed rate.
    void fixedRate(double hz, const char* shape, double phase = 0.0, double factor = 0.0,
                   const char* phaseSource = "OFF") {
        lfo.setvl(hz, hz, factor, "OFF", shape, phase, phaseSource);
    }
};

// With "Rise S" the output is the folded accumulator, which advances by 2 * rate * dt.
TEST_F(LfoFixture, AdvancesByTheRateQuantisesToTheTempoAndReportsTheRate) {
    struct Row { double minimum, maximum, factor; const char* shape; double phase, dt, bpm, out, rate; };
    const Row rows[] = {
        {1.0, 1.0, 0.0, "Rise S", 0.0, 0.75, 120.0, -0.5, 1.0},           // 1.5 folds to -0.5
        {0.0, 0.0, 0.0, "Sine", 90.0, 10.0, 120.0, 1.0, 0.0},             // rate 0: the start phase stays
        {3.3, 3.3, 1.0, "Rise S", 0.0, 0.1, 120.0, 0.6, 3.0},             // 2 steps per second: 3.0 Hz
        {3.3, 3.3, -2.0, "Rise S", 0.0, 0.1, 120.0, 0.66, 3.3},           // a negative factor is none
        {3.3, 3.3, 1.0, "Rise S", 0.0, 0.1, 0.0, 0.66, 3.3},              // so is a stopped tempo
        {3.3, 3.3, 1.0, "Rise S", 0.0, 0.1, std::nan(""), 0.66, 3.3},     // or an unknown one
    };
    sources.getis(3)->setvl(0.0);
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.shape << " " << r.minimum << " Hz " << r.dt << " s " << r.bpm);
        lfo.setvl(r.minimum, r.maximum, r.factor, "LFO3", r.shape, r.phase, "OFF");
        if (r.dt > 0.5) lfo.updte(0.5, r.bpm); // in two steps
        lfo.updte(r.dt > 0.5 ? r.dt - 0.5 : r.dt, r.bpm);
        EXPECT_NEAR(out(), r.out, 1e-12);
        // 0..24 Hz onto -1..+1 through the kept literal; a zero rate reports -1.
        EXPECT_NEAR(rateOut(), r.rate == 0.0 ? -1.0 : 2.0 * r.rate * 0.041666666666 - 1.0, 1e-15);
    }
}

TEST_F(LfoFixture, RateLimitsPushEachOtherAndEverySetterRestartsThePhase) {
    lfo.setvl(0.0, 24.0, 0.0, "OFF", "Sine", 0.0, "OFF");
    lfo.setmn(30.0);
    EXPECT_EQ(lfo.getrt()->getsu(), 30.0);
    lfo.setmx(2.0);
    EXPECT_EQ(lfo.getrt()->getsl(), 2.0);

    const std::vector<std::function<void()>> setters = {
        [&] { lfo.setrt("OFF"); }, [&] { lfo.setps("OFF"); }, [&] { lfo.setsh("Rise S"); },
        [&] { lfo.setph(0.0); },   [&] { lfo.setqt(0.0); },   [&] { lfo.setmx(1.0); },
        [&] { lfo.setmn(1.0); }};
    for (size_t i = 0; i < setters.size(); i++) {
        fixedRate(1.0, "Rise S");
        lfo.updte(0.5, 120.0);
        setters[i]();
        lfo.updte(0.25, 120.0);
        EXPECT_DOUBLE_EQ(out(), 0.5) << "setter " << i;
    }
}

TEST(ModulatorSteps, AllocateNothing) {
    PresetSources sources;
    DataGfun functions;
    DataRgfn raws;
    CoreLfo_ lfo("LFO1", &functions, &sources, sources.getis(1), sources.getis(60));
    lfo.setvl(0.5, 8.0, 1.0, "ENV1", "12 Ran", 90.0, "LFO2");
    CoreFun_ fun("FUN1", &functions, &sources, sources.getis(5));
    fun.setvl("LFO1", "0.25", "gainpad+");
    CoreRfun raw("RAWFUN1", &raws, &sources, sources.getis(66));
    double values[4] = {0.0, 0.5, 1.0, 0.25};
    raw.setvl("FUN1", "-0.99999", "C", "D", "RMULTI", 44100, -1.0);
    raw.setvl(0, values, 4);
    raw.setvl(1, values, 4);
    raw.chckv();
    CorePrm_ prm("PRM1", &functions, &sources, sources.getis(36));
    prm.setvl(true, "LFO1", "FUN1", "a*b", "P", "", "", "", "", 0.0, 1.0, 0.0, 1.0);

    const long probe = heapAllocations.load();
    { std::vector<double> heapBuffer(64); }
    ASSERT_GT(heapAllocations.load(), probe); // the counter sees this program's allocations
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

