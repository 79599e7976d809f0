// Update periods from PROGRAMRATE and the sample rate, the hybrid mapping of the kernel figures, the
// cut length, the FFT marks and the control-thread refresh.
#include "processor/CorePrcs.h"

#include "AudioRoadTest.h"
#include "base/CoreButl.h"
#include "modulation/CoreIfce.h"
#include "program/CoreProg.h"
#include "tests/common/LogCapture.h"
#include "tests/program/CoreProgTestAccess.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

namespace {

class UpdateRatesTest : public AudioRoadTest {
protected:
    // Program U with SMOOTH 2 after some 50 update steps, so that its modulated kernels have settled on
    // the unit impulse: crossfaded or not, the input comes back. Offline periods are a quarter of the
    // normal ones.
    std::unique_ptr<CorePrcs> smoothUnit() {
        auto e = engine("<DSPBUFFER>512</DSPBUFFER><EXPORTAUDIOQUALITY>4</EXPORTAUDIOQUALITY>");
        EXPECT_TRUE(Road::install(*e, Road::program('U', 2), 3));
        hostblocks::run(*e, noise(8192, 2), hostblocks::fixedBlocks(512));
        return e;
    }

    // Realtime, then offline, several update steps each.
    static void expectInputBack(CorePrcs& e, int32_t period) {
        const int32_t latency = Access::reportedLatency(e);
        for (int16_t level : {int16_t(0), int16_t(4)}) {
            const Stereo input = noise(3 * static_cast<size_t>(period), 7);
            const Stereo out = hostblocks::run(e, input, hostblocks::fixedBlocks(512),
                                               hostblocks::Output::doubleReplace, level);
            for (size_t t = 0; t + latency < out.size(); ++t)
                ASSERT_NEAR(out.left[t + latency], input.left[t], 1e-12) << level << " " << t;
        }
    }
};

TEST_F(UpdateRatesTest, PeriodsFollowTheRequestTheStepAndTheQuality) {
    struct Row {
        int32_t rate, us, step, quality;
        CorePrcsTestAccess::Periods expected; // current, normal, offline, effective µs, requested µs
    };
    const Row rows[] = {
        {44100, 3000, 64, 1, {192, 192, 192, 4353, 3000}},  // 132 raised to 192
        {44100, 3000, 1, 1, {132, 132, 132, 3000, 3000}},   // step 1: the request stays
        {44100, 3000, 2, 1, {132, 132, 132, 2993, 3000}},   // even already
        {48000, 3010, 2, 1, {144, 144, 144, 3000, 3010}},   // 144.48 truncated
        {44100, 3000, 64, 4, {192, 192, 64, 4353, 3000}},   // 48 raised to 64
        {48000, 10, 1, 1, {1, 1, 1, 10, 10}},               // below one sample
        {48000, 3000, 64, 0, {192, 192, 192, 4000, 3000}},  // quality below 1 counts as 1
        {48000, 3000, 64, -3, {192, 192, 192, 4000, 3000}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.rate) + " " + std::to_string(r.us) + " step " + std::to_string(r.step));
        auto e = engine("<DSPBUFFER>64</DSPBUFFER>", r.rate);
        CorePrcsTestAccess::blockStep(*e) = r.step;
        CorePrcsTestAccess::exportQuality(*e) = r.quality;
        e->updrt(r.us);
        EXPECT_EQ(CorePrcsTestAccess::periods(*e), r.expected);
        EXPECT_EQ(CorePrcsTestAccess::lastLevel(*e), 0);
    }
    // irate with the current rate changes nothing and logs nothing; another rate re-applies the
    // effective period.
    auto e = engine("<DSPBUFFER>64</DSPBUFFER>", 44100);
    CorePrcsTestAccess::blockStep(*e) = 64;
    e->updrt(3000);
    LogCapture log(3);
    e->irate(44100);
    EXPECT_EQ(log.text(), "");
    e->irate(48000);
    EXPECT_EQ(CorePrcsTestAccess::periods(*e).normal, 256); // 4353 µs at 48 kHz: 208, raised to 256
    EXPECT_NE(log.text().find("irate *rate:48000"), std::string::npos);
    e->irate(0); // ignored
    e->updgu(-5);
    EXPECT_EQ(CorePrcsTestAccess::sampleRate(*e), 48000);
}

// A pool that refuses the longer fade tables leaves the engine on its previous period and tables: the
// setter's failure is logged, and the crossfade, offline too, reads only inside the tables it has.
TEST_F(UpdateRatesTest, RefusedFadeTablesKeepThePreviousPeriod) {
    struct Row {
        const char* setter;
        std::function<void(CorePrcs&)> lengthen; // asks for a period far beyond the tables
        bool retried;                            // the same request is applied once the pool gives
    };
    const Row rows[] = {
        {"bean 52", [](CorePrcs& e) { e.setbl(52, 1000000, nullptr); }, true},
        {"bean 10", [](CorePrcs& e) { e.setbl(10, 1000000, nullptr); }, true},
        {"bean 44", [](CorePrcs& e) { e.setbi(44, 960000, nullptr); }, false},
        {"bean 78", [](CorePrcs& e) { e.setbi(78, 960000, nullptr); }, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.setter);
        auto e = smoothUnit();
        const Access::Periods before = Access::periods(*e);
        const int32_t capacity = Access::fadeCapacity(*e);
        const double* table = Access::fadeA(*e);
        const std::vector<double> fade(table, table + capacity);
        const int64_t held = pool.getma();
        pool.setal(held + 16); // the first table of the new pair is given, the second refused
        {
            LogCapture log(1);
            r.lengthen(*e);
            EXPECT_NE(log.text().find("Memory request failed"), std::string::npos);
        }
        pool.setal(std::numeric_limits<int64_t>::max());
        EXPECT_EQ(Access::periods(*e), before);
        EXPECT_EQ(e->getbl(52, nullptr), 3000);
        EXPECT_FALSE(Access::ownRate(*e));
        EXPECT_EQ(pool.getma(), held);
        ASSERT_EQ(Access::fadeA(*e), table);
        EXPECT_EQ(std::vector<double>(table, table + Access::fadeCapacity(*e)), fade);
        expectInputBack(*e, 8 * before.normal);
        if (r.retried) {
            r.lengthen(*e);
            EXPECT_GT(Access::periods(*e).normal, before.normal);
        }
    }
}

// A period lengthened while smoothing is off: when smoothing resumes, the tables cover the new period and
// the other one the host entry may switch to, or smoothing stays off when the pool refuses them.
TEST_F(UpdateRatesTest, ResumedSmoothingCoversBothPeriods) {
    struct Row {
        const char* route;
        int16_t suspended, resumed; // HDIM (bean 54), or SMOOTH (setst) when hdimRoute is false
        bool hdimRoute;
        int16_t levelAtResume;
        bool refused;
    };
    const Row rows[] = {
        {"HDIM 0 and back", 0, 1, true, 0, false},
        {"HDIM 0 and back offline", 0, 1, true, 4, false},
        {"HDIM 0 and back, refused", 0, 1, true, 0, true},
        {"SMOOTH off and on offline", -1, 2, false, 4, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.route);
        auto e = smoothUnit();
        const auto set = [&](int16_t value) {
            if (r.hdimRoute)
                e->setbh(54, value, nullptr);
            else
                e->setst(value);
        };
        set(r.suspended);
        ASSERT_LT(Access::smooth(*e), 0);
        e->setbl(52, 200000, nullptr);
        const Access::Periods periods = Access::periods(*e);
        ASSERT_EQ(periods.normal, 9600);
        hostblocks::run(*e, noise(512, 3), hostblocks::fixedBlocks(512), hostblocks::Output::doubleReplace,
                        r.levelAtResume);
        if (r.refused) pool.setal(pool.getma() - 1);
        set(r.resumed);
        pool.setal(std::numeric_limits<int64_t>::max());
        EXPECT_EQ(Access::smooth(*e) >= 0, !r.refused);
        EXPECT_GE(Access::fadeCapacity(*e), r.refused ? 0 : periods.normal + 1);
        expectInputBack(*e, periods.normal);
    }
}

TEST_F(UpdateRatesTest, KernelFiguresMapTheHybridRecordAndCheckTheirArguments) {
    for (char program : {'S', 'Y'}) {
        SCOPED_TRACE(program);
        auto e = engine("<DSPBUFFER>512</DSPBUFFER><HDIM>3</HDIM>");
        ASSERT_TRUE(Road::install(*e, Road::program(program, -1), 11));
        CoreProg& p = Access::program(*e);
        const int16_t linear = program == 'Y' ? 10 : 0;
        const auto us = [](int32_t samples) { return CoreButl::upftp(48000, samples); };
        EXPECT_EQ(e->getmo(0), us(p.getmo(linear)));
        EXPECT_EQ(e->getmo(1), us(p.getmo(1)));
        EXPECT_EQ(e->getco(0), us(p.getco(linear)));
        EXPECT_EQ(e->getod(0, 1), p.getod(linear, 1) == 0 ? 0.0 : us(p.getod(linear, 1)));
        EXPECT_EQ(e->getod(0, 0), p.getod(0, 0) == 0 ? 0.0 : us(p.getod(0, 0))); // stage 0 never maps
        EXPECT_EQ(e->getib(0, 0, false), p.getib(0, 0, false) == 0 ? 0.0 : us(p.getib(0, 0, false)));
        EXPECT_TRUE(e->getoe(0, 1));
        EXPECT_FALSE(e->getoe(0, 0));
        EXPECT_FALSE(e->getoe(0, 2));
        for (int16_t bad : {int16_t(-1), int16_t(11)}) {
            EXPECT_EQ(e->getmo(bad) + e->getco(bad) + e->getod(bad, 1) + e->getib(bad, 0, false), 0.0);
            EXPECT_FALSE(e->getoe(bad, 1));
            e->setco(bad, 1000.0);
        }
        // setco on the mapped record; refused values change nothing.
        const int32_t before = p.getco(linear);
        e->setco(0, std::nan(""));
        e->setco(0, 1e30);
        EXPECT_EQ(p.getco(linear), before);
        e->setco(0, 41.9); // 41 µs: 1.968 samples, truncated (the program bounds it by the usable length)
        EXPECT_EQ(p.getco(linear), 1);
    }
}

// Each record plays the end fade when its convolver runs a block mode and the fade-out otherwise.
TEST_F(UpdateRatesTest, KernelEndsFollowEachRecordsMode) {
    for (auto [first, later] : {std::pair<int16_t, int16_t>{11, 3}, {3, 11}}) {
        SCOPED_TRACE(std::to_string(first) + " then " + std::to_string(later));
        auto e = engine("<DSPBUFFER>512</DSPBUFFER><HDIM>3</HDIM>");
        ASSERT_TRUE(Road::install(*e, Road::program('S', -1), first, later));
        CoreProg& p = Access::program(*e);
        for (int16_t h = 0; h < 3; ++h) {
            const bool block = (h == 0 ? first : later) == 11;
            ASSERT_EQ(e->getoe(h, 1), block) << h;
            const CoreProg::HLOC& record = CoreProgTestAccess::record(p, h);
            EXPECT_EQ(record.pEnvelopeinuse, block ? record.pEndfadeenvelope : record.pFadeoutenvelope) << h;
        }
    }
}

// A new end-fade length reaches the played kernel of a block-mode record at the next update, and the
// output is the naive convolution with that kernel. A direct record keeps its fade-out.
TEST_F(UpdateRatesTest, SetcoPlaysTheNewEndFade) {
    const hostblocks::Stereo input = noise(24000, 5, 0.8);
    for (int16_t mode : {3, 11}) {
        SCOPED_TRACE(mode);
        const bool endFadePlays = mode == 11;
        auto e = engine("<DSPBUFFER>512</DSPBUFFER><HDIM>1</HDIM>");
        ASSERT_TRUE(Road::install(*e, Road::program('S', -1), mode));
        CoreProg& p = Access::program(*e);
        run(*e, noise(4096, 6), hostblocks::fixedBlocks(512));
        const int32_t length = p.getep(0);
        const std::vector<double> before(p.getli(0), p.getli(0) + length);
        e->setco(0, 2084.0); // 100.03 samples at 48 kHz
        const int32_t cut = p.getco(0);
        ASSERT_EQ(cut, 100);
        const hostblocks::Stereo out = run(*e, input, hostblocks::fixedBlocks(512));
        const std::vector<double> played(p.getli(0), p.getli(0) + length);
        EXPECT_EQ(played != before, endFadePlays);
        const int32_t offset = std::max(p.getof(), 0);
        const std::vector<double> expected = naiveConvolution(input.left, played);
        const double tolerance = 1e-10 * sumOfMagnitudes(played) * largestMagnitude(input.left);
        const int32_t latency = Access::reportedLatency(*e);
        for (size_t t = 8192; t + latency < out.size(); ++t)
            ASSERT_NEAR(out.left[t + latency], expected[t + offset], tolerance) << t;
    }
}

TEST_F(UpdateRatesTest, ControlThreadRefreshWaitsForNothing) {
    auto e = engine("<DSPBUFFER>512</DSPBUFFER>");
    ASSERT_TRUE(Road::install(*e, Road::program('M', -1), 11));
    struct Row {
        const char* name;
        std::function<void()> hold, release;
        bool refreshed;
    };
    const Row rows[] = {
        {"booting", [&] { Access::busy(*e).setvl(true); }, [&] { Access::busy(*e).setvl(false); }, false},
        {"pass-through", [&] { e->smpby(true, 0, false, false); }, [&] { e->smpby(false, 0, false, false); }, false},
        {"engine lock held", [&] { Access::engineLock(*e).locks(); }, [&] { Access::engineLock(*e).relse(); },
         false},
        {"block lock held", [&] { Access::blockLock(*e).locks(); }, [&] { Access::blockLock(*e).relse(); }, false},
        {"free", [] {}, [] {}, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Access::paramsUpdated(*e) = false;
        const double lfo = Access::program(*e).getsc(CoreAnsx("LFO1"));
        r.hold();
        e->updgu(44100);
        r.release();
        EXPECT_EQ(Access::paramsUpdated(*e).load(), r.refreshed);
        EXPECT_EQ(Access::sampleRate(*e), r.refreshed ? 44100 : 48000);
        EXPECT_EQ(Access::program(*e).getsc(CoreAnsx("LFO1")), lfo); // time does not move
        if (r.refreshed) e->updgu(48000);
    }
    e->setmc(3, 8);
    e->setmc(10, 8); // ignored
    e->setmc(-1, 8);
}

} // namespace
