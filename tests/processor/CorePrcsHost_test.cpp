// The host entry: latency in every output mode, host block sizes, input cleaning, the pass-through
// path and the process level.
#include "processor/CorePrcs.h"

#include "AudioRoadTest.h"
#include "modulation/CoreIfce.h"
#include "program/CoreProg.h"
#include "tests/common/LogCapture.h"
#include "tests/common/SignalReference.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <random>
#include <thread>

namespace {

using namespace hostblocks;

constexpr int32_t warmUp = 8192; // the kernels of a fresh program converge over the first updates

class HostEntryTest : public AudioRoadTest {};

TEST_F(HostEntryTest, AnImpulseLeavesAtTheReportedLatencyInEveryOutputMode) {
    struct Setting {
        const char* settings;
        int32_t latency;
    };
    const Setting settings[] = {
        {"<DSPBUFFER>512</DSPBUFFER>", 512},
        {"<DSPBUFFER>512</DSPBUFFER><FORCEOFFSET>1000</FORCEOFFSET>", 512 + 48 + 144},
        {"<DSPBUFFER>1024</DSPBUFFER><THREADS>1</THREADS>", 2048},
    };
    const Output outputs[] = {Output::floatReplace, Output::doubleReplace, Output::floatAccumulate};
    for (const Setting& s : settings)
        for (int16_t mode : {3, 11})
            for (Output output : outputs)
                for (bool inPlace : {false, true}) {
                    if (inPlace && output == Output::floatAccumulate) continue;
                    SCOPED_TRACE(std::string(s.settings) + " mode " + std::to_string(mode) + " output " +
                                 std::to_string(static_cast<int>(output)) + (inPlace ? " in place" : ""));
                    auto e = engine(s.settings);
                    ASSERT_TRUE(Road::install(*e, Road::program('U', -1), mode));
                    EXPECT_EQ(Access::reportedLatency(*e), s.latency);
                    const size_t at = warmUp + 777, n = at + s.latency + 3000;
                    Stereo in(n);
                    in.left[at] = in.right[at] = 1.0;
                    const double base = output == Output::floatAccumulate ? 0.25 : 0.0;
                    const Stereo out = run(*e, in, fixedBlocks(333), output, 0, base, inPlace);
                    for (size_t i = warmUp; i < n; ++i) {
                        const double expected = i == at + s.latency ? 1.0 : 0.0;
                        // Accumulating adds exactly: 0.25 + 1 and 0.25 + (below 1e-9) are floats.
                        ASSERT_NEAR(out.left[i] - base, expected, 1e-9) << i;
                        ASSERT_NEAR(out.right[i] - base, expected, 1e-9) << i;
                    }
                }
}

TEST_F(HostEntryTest, OutputDoesNotDependOnTheHostBlockSizes) {
    // Two seconds at 48 kHz; one in sanitizer builds, where 42 runs of two seconds near the time limit.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    const auto input = noise(48000, 5);
#else
    const auto input = noise(96000, 5);
#endif
    for (char name : {'U', 'S', 'M'})
        for (int16_t mode : {3, 11}) {
            SCOPED_TRACE(std::string(1, name) + " mode " + std::to_string(mode));
            Stereo first;
            std::vector<std::function<int32_t()>> patterns;
            for (int32_t frames : {1, 7, 64, 333, 512, 4096}) patterns.push_back(fixedBlocks(frames));
            auto generator = std::make_shared<std::mt19937>(9);
            // 0 … 2 × DSPBUFFER, 0-frame calls included
            patterns.push_back([generator] { return std::uniform_int_distribution<int32_t>(0, 1024)(*generator); });
            for (auto& pattern : patterns) {
                auto e = engine("<DSPBUFFER>512</DSPBUFFER><HDIM>3</HDIM>");
                ASSERT_TRUE(Road::install(*e, Road::program(name, name == 'S' ? 5 : -1), mode));
                const Stereo out = run(*e, input, pattern);
                if (first.size() == 0) {
                    first = out;
                    EXPECT_GT(largestMagnitude(out.left), 0.01);
                    continue;
                }
                EXPECT_TRUE(out.left == first.left && out.right == first.right);
            }
        }
}

TEST_F(HostEntryTest, CleansTheInputItStores) {
    const double tiny = std::numeric_limits<double>::denorm_min();
    const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
    const float fsub = std::numeric_limits<float>::denorm_min() * 3, finf = std::numeric_limits<float>::infinity();
    struct Row {
        double value;
        bool doubles;
        double stored;
    };
    const Row rows[] = {
        {1e-300, true, 0.0},  {-1e-300, true, 0.0}, {4e-320, true, 0.0}, {tiny, true, 0.0},
        {nan, true, 0.0},     {inf, true, 0.0},     {-inf, true, 0.0},   {2e-300, true, 2e-300},
        {-2e-300, true, -2e-300}, {0.5, true, 0.5},
        {static_cast<double>(std::nanf("")), false, 0.0}, {finf, false, 0.0}, {-finf, false, 0.0},
        {fsub, false, static_cast<double>(fsub)}, {-fsub, false, -static_cast<double>(fsub)}, {0.5, false, 0.5},
    };
    auto e = engine("<DSPBUFFER>512</DSPBUFFER>");
    ASSERT_TRUE(Road::install(*e, Road::program('U', -1), 11));
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.value) + (r.doubles ? " double" : " float"));
        // Normal path: what the input ring holds.
        const int32_t slot = Access::inputWrite(*e);
        double d[2] = {r.value, r.value}, o[2][2] = {};
        float f[2] = {static_cast<float>(r.value), static_cast<float>(r.value)}, fo[2][2] = {};
        void* in[2] = {r.doubles ? static_cast<void*>(&d[0]) : static_cast<void*>(&f[0]),
                       r.doubles ? static_cast<void*>(&d[1]) : static_cast<void*>(&f[1])};
        void* out[2] = {r.doubles ? static_cast<void*>(o[0]) : static_cast<void*>(fo[0]),
                        r.doubles ? static_cast<void*>(o[1]) : static_cast<void*>(fo[1])};
        e->prcss(in, out, 1, true, 0, 0.0, r.doubles, 2);
        EXPECT_EQ(Access::inputRing(*e, 0, slot), r.stored);
        EXPECT_EQ(Access::inputRing(*e, 1, slot), r.stored);
        // Pass-through path without delay: the output in double precision.
        if (!r.doubles) continue;
        e->smpby(true, 0, false, false);
        e->prcss(in, out, 1, true, 0, 0.0, true, 2);
        EXPECT_EQ(o[0][0], r.stored);
        e->smpby(false, 0, false, false);
    }
}

TEST_F(HostEntryTest, PassThroughPlaysTheDryInputWithTheLastGains) {
    struct Row {
        const char* settings;
        int32_t delay;
    };
    const Row rows[] = {{"<DSPBUFFER>512</DSPBUFFER>", 0},
                        {"<DSPBUFFER>512</DSPBUFFER><FORCEOFFSET>1000</FORCEOFFSET>", 512 + 48 + 144}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.settings);
        auto e = engine(r.settings);
        ASSERT_TRUE(Road::install(*e, Road::program('U', -1), 11));
        EXPECT_EQ(Access::delayCompensation(*e), r.delay);
        e->setiv(9, 0.25, false); // GAINOUT: the output control gain becomes 0.5
        run(*e, Stereo(64), fixedBlocks(64));
        e->smpby(true, 0, false, false);
        EXPECT_TRUE(e->getby());
        Stereo in(3000);
        in.left[100] = 1.0;
        in.right[100] = -1.0;
        const Stereo out = run(*e, in, fixedBlocks(77));
        for (size_t i = 0; i < in.size(); ++i) {
            const double expected = i == 100u + r.delay ? 0.5 : 0.0;
            ASSERT_EQ(out.left[i], expected) << i;
            ASSERT_EQ(out.right[i], -expected) << i;
        }
        // Leaving with clearing zeroes every ring.
        Access::fillRings(*e, 0.125);
        e->smpby(false, 0, true, false);
        EXPECT_FALSE(e->getby());
        EXPECT_TRUE(Access::ringsHold(*e, 0.0, false));
        // A call with the current state only sets the mirror.
        e->smpby(false, 0, false, false);
        EXPECT_FALSE(Access::busyMirror(*e));
    }
}

TEST_F(HostEntryTest, MutedPassThroughIsSilentFromTheNextCall) {
    auto e = engine("<DSPBUFFER>512</DSPBUFFER>");
    ASSERT_TRUE(Road::install(*e, Road::program('U', -1), 11));
    // No host at all: smpby still returns.
    e->smpby(true, 0, false, true);
    EXPECT_EQ(Access::passGain(*e), 0.0);
    e->smpby(false, 0, false, false);
    EXPECT_EQ(Access::passGain(*e), 1.0);

    std::atomic<bool> stop{false}, loud{false};
    // Calls are counted as they start: the call that acknowledges may still be running when smpby
    // returns, so a count of finished calls can lag behind it.
    std::atomic<long> calls{0};
    std::atomic<bool> entered{false};
    std::thread audio([&] {
        std::vector<double> left(64, 0.5), right(64, 0.5);
        while (!stop) {
            void* in[2] = {left.data(), right.data()};
            std::vector<double> outL(64), outR(64);
            void* out[2] = {outL.data(), outR.data()};
            ++calls;
            e->prcss(in, out, 64, true, 0, 0.0, true, 2);
            if (entered && (outL[0] != 0.0 || outL[63] != 0.0)) loud = true;
        }
    });
    while (calls < 20) std::this_thread::yield();
    const long before = calls;
    const auto asked = std::chrono::steady_clock::now();
    e->smpby(true, 0, false, true);
    entered = true;
    // It returns once a host call started after the request has run the pass-through path, or when its
    // bound runs out (a machine too busy to schedule the audio thread in time); only the first kind of
    // return proves the wait.
    if (std::chrono::steady_clock::now() - asked < std::chrono::milliseconds(150)) {
        EXPECT_GT(calls.load(), before);
    }
    const long after = calls;
    while (calls < after + 20) std::this_thread::yield();
    stop = true;
    audio.join();
    EXPECT_FALSE(loud);
}

TEST_F(HostEntryTest, TheProcessLevelSwitchesBetweenTheNormalAndOfflinePeriods) {
    // 3000 µs at 48 kHz with the 512-sample step: 512 samples; EXPORTAUDIOQUALITY 4: 128, raised to 512.
    // With DSPBUFFER 64 and mode 11: normal 192, offline 48 raised to 64.
    struct Row {
        int smooth;
        bool fixedQuality;
        std::vector<int16_t> levels;
        std::vector<int32_t> periods; // after each call
        int switches;                 // "actual PROG RATE" lines
    };
    const Row rows[] = {
        {-1, false, {1, 4, 1, 4}, {192, 64, 192, 64}, 4},
        {5, false, {1, 4, 1, 4}, {192, 64, 192, 64}, 4},
        {-1, false, {0, 4, 2}, {192, 64, 192}, 2}, // 0 is the level adjrt left: no switch
        {5, false, {0, 4, 2}, {192, 64, 192}, 2},
        {-1, true, {1, 4, 1, 4}, {192, 64, 192, 64}, 4}, // 1|4 = 5 keeps the normal period
        {5, true, {1, 4, 1, 4}, {192, 64, 192, 64}, 4},
        {-1, true, {0, 4, 2}, {64, 64, 192}, 2}, // 0|4 = 4 offline, 2|4 = 6 normal
        {5, true, {0, 4, 2}, {64, 64, 192}, 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE("smooth " + std::to_string(r.smooth) + (r.fixedQuality ? " fixed" : ""));
        auto e = engine(std::string("<DSPBUFFER>64</DSPBUFFER><EXPORTAUDIOQUALITY>4</EXPORTAUDIOQUALITY>") +
                        (r.fixedQuality ? "<FIXEDQUALITY>1</FIXEDQUALITY>" : ""));
        ASSERT_TRUE(Road::install(*e, Road::program('U', r.smooth), 11));
        LogCapture log(2);
        for (size_t i = 0; i < r.levels.size(); ++i) {
            run(*e, Stereo(128), fixedBlocks(128), Output::doubleReplace, r.levels[i]);
            EXPECT_EQ(Access::periods(*e).current, r.periods[i]) << i;
            EXPECT_FALSE(Access::rateChanged(*e)) << i; // consumed by the block processor
        }
        int switches = 0;
        for (const std::string& line : log.texts()) switches += line.find("actual PROG RATE") != std::string::npos;
        EXPECT_EQ(switches, r.switches);
    }
}

} // namespace
