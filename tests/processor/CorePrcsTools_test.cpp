// The vector-file tools: the gain at one frequency against a direct convolution, the decay time
// against analytic decays, the impulse of equal gain and the cut to length on WAV items of the
// engine's store, and which items the store-wide tools take.
#include "processor/CorePrcs.h"

#include "ProgramFolder.h"
#include "base/CoreButl.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreRtcv.h"
#include "filestore/CoreWavs.h"
#include "filestore/CoreWvfr.h"
#include "modulation/CoreEnvf.h"
#include "program/CoreProg.h"
#include "tests/common/SignalReference.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

namespace {

// Every table runs twice: on an engine without a master store, and as the plug-in builds it.
class CorePrcsTools : public ProgramFolderTest, public ::testing::WithParamInterface<bool> {
protected:
    struct Wav {
        int32_t channels = 2;
        int32_t rate = kRate;
        bool double64 = true;
        Signal left, right;
    };

    void SetUp() override {
        ProgramFolderTest::SetUp();
        asPlugin = GetParam();
        engine = loaded();
        ASSERT_FALSE(engine->isfailed());
        engine->getfs()->init_();
    }
    void put(const std::string& name, const Wav& wav) {
        const int32_t frames = static_cast<int32_t>(wav.left.size());
        CoreWavs image(&pool, static_cast<int16_t>(wav.channels), wav.rate, frames, wav.double64);
        image.setdt(frames, wav.left.data(), wav.right.empty() ? wav.left.data() : wav.right.data());
        std::vector<char> bytes(static_cast<size_t>(image.getmd()));
        image.wrtmm(bytes.data());
        CoreFsys& store = *engine->getfs();
        store.setit(store.crtit(name.c_str(), true, false), bytes.data(), static_cast<int32_t>(bytes.size()),
                    "0", true, false);
    }
    Wav get(const std::string& name) {
        CoreWvfr reader(&pool, engine->getfs(), true);
        reader.open_(name.c_str());
        Wav wav;
        wav.channels = reader.getca();
        wav.rate = reader.getrr();
        wav.double64 = reader.getdb();
        const int32_t n = reader.getdr(false);
        wav.left.assign(static_cast<size_t>(n), 0.0);
        wav.right.assign(static_cast<size_t>(n), 0.0);
        if (n > 0) reader.getdt(n, wav.left.data(), wav.right.data());
        reader.close();
        if (wav.channels < 2) wav.right = wav.left;
        return wav;
    }
    static Signal impulse(size_t n, size_t at, double height = 1.0) {
        Signal v(n, 0.0);
        if (at < n) v[at] = height;
        return v;
    }
    static Signal decay(size_t n, size_t ramp, double tau) {
        Signal v(n, 0.0);
        for (size_t k = 0; k < n; ++k)
            v[k] = k < ramp ? static_cast<double>(k) / ramp : std::exp(-static_cast<double>(k - ramp) / tau);
        return v;
    }

    std::unique_ptr<CorePrcs> engine;
};

TEST_P(CorePrcsTools, GainAtOneFrequencyMatchesADirectConvolution) {
    for (int32_t n : {1, 2, 100, 4096}) {
        const std::vector<std::pair<const char*, Signal>> signals = {
            {"noise", randomSignal(static_cast<size_t>(n), 7)},
            {"impulse", impulse(static_cast<size_t>(n), 0)},
            {"decay", Road::decayingNoise(static_cast<size_t>(n), 9)},
        };
        for (const auto& [what, x] : signals) {
            for (int32_t f : {1000, 30000}) { // below and above half the rate
                SCOPED_TRACE(std::string(what) + " n " + std::to_string(n) + " f " + std::to_string(f));
                Signal w(static_cast<size_t>(n));
                for (int32_t k = 0; k < n; ++k)
                    w[static_cast<size_t>(k)] = std::sin(2.0 * std::numbers::pi * f * k / kRate);
                CoreRtcv::flblk(n, w.data(), 1.0, false);
                const double expected = largestMagnitude(naiveConvolution(x, w));
                const double measured = CorePrcs::frqam(&pool, n, x.data(), f, kRate);
                EXPECT_NEAR(measured, expected,
                            1e-12 * sumOfMagnitudes(x) * std::max(largestMagnitude(w), 1e-300));
            }
        }
    }
    const Signal one = {1.0};
    EXPECT_EQ(CorePrcs::frqam(&pool, 0, one.data(), 1000, kRate), 0.0);
    EXPECT_EQ(CorePrcs::frqam(&pool, 1, one.data(), 1000, 0), 0.0);
    EXPECT_THROW(CorePrcs::frqam(&pool, (1 << 26) + 1, one.data(), 1000, kRate), CoreAnsx);

    // The sine itself, its phase reduced exactly: the same bits whether a phase repeats or not.
    for (int32_t f : {997, 1000, -1000, 0, kRate, 30000, 7}) {
        SCOPED_TRACE(f);
        Signal sine(5000);
        CorePrcs::getsn(5000, sine.data(), f, kRate);
        for (int32_t k = 0; k < 5000; ++k) {
            const int64_t m = (static_cast<int64_t>(f) * k) % kRate;
            ASSERT_EQ(sine[static_cast<size_t>(k)],
                      std::sin(2.0 * std::numbers::pi * static_cast<double>(m) / kRate))
                << k;
        }
    }
}

TEST_P(CorePrcsTools, DecayTimeRunsFromThePeakToTheLastSampleAboveTheLevel) {
    struct Row {
        const char* name;
        Signal left;
        double db;
        double expectedUs;
    };
    // exp(-k / tau) stays above -60 dB while k < tau ln 1000.
    const double tau = 480.0;
    const int32_t last = static_cast<int32_t>(std::ceil(tau * std::log(1000.0))) - 1;
    Signal negative(1000, -0.5);
    const std::vector<Row> rows = {
        {"DECAY.WAV", decay(8000, 0, tau), 60.0, 1e6 * last / kRate},
        {"RAMP.WAV", decay(8000, 20, tau), 60.0, 1e6 * (last + 20 - 20) / kRate},
        {"NEGATIVE.WAV", negative, 20.0, -1e6 / kRate}, // no peak above 0: nothing above the level
    };
    double longest = 0.0;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        put(r.name, {1, kRate, false, r.left, {}});
        EXPECT_NEAR(engine->wavrt(engine->getfs(), r.name, r.db), r.expectedUs, 1e-6);
        if (r.db == 60.0) longest = std::max(longest, r.expectedUs / 1000.0);
    }
    EXPECT_NEAR(engine->wavrt(60.0), longest, 1e-9);
    engine->getfs()->init_();
    EXPECT_EQ(engine->wavrt(60.0), 0.0);
}

TEST_P(CorePrcsTools, ImpulseOfEqualGainKeepsTheFormat) {
    struct Row {
        int32_t channels;
        int32_t rate;
        bool double64;
        int32_t length;
    };
    const Row rows[] = {{2, kRate, true, 100}, {1, 44100, false, 101}, {2, 44100, false, 7}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.length);
        const Signal left = Road::decayingNoise(300, 3), right = Road::decayingNoise(300, 4);
        put("IR.WAV", {r.channels, r.rate, r.double64, left, right});
        const Wav before = get("IR.WAV");
        engine->mkedr(engine->getfs(), "IR.WAV", r.length, 1000);
        const Wav after = get("IR.WAV");
        EXPECT_EQ(after.channels, r.channels);
        EXPECT_EQ(after.rate, r.rate);
        EXPECT_EQ(after.double64, r.double64);
        ASSERT_EQ(after.left.size(), static_cast<size_t>(r.length));
        const double tolerance = r.double64 ? 1e-12 : 1e-6;
        const double gains[2] = {CorePrcs::frqam(&pool, 300, before.left.data(), 1000, r.rate),
                                 CorePrcs::frqam(&pool, 300, before.right.data(), 1000, r.rate)};
        for (int32_t k = 0; k < r.length; ++k) {
            const double wanted = k == r.length / 2 ? gains[0] : 0.0;
            EXPECT_NEAR(after.left[static_cast<size_t>(k)], wanted, tolerance * gains[0]);
            if (r.channels == 2) {
                EXPECT_NEAR(after.right[static_cast<size_t>(k)], k == r.length / 2 ? gains[1] : 0.0,
                            tolerance * gains[1]);
            }
        }
    }
    // A length below 1 leaves the item as it is.
    put("IR.WAV", {2, kRate, true, Road::decayingNoise(50, 5), Road::decayingNoise(50, 6)});
    engine->mkedr(engine->getfs(), "IR.WAV", 0, 1000);
    EXPECT_EQ(get("IR.WAV").left.size(), 50u);
}

TEST_P(CorePrcsTools, CutToLengthAroundThePeak) {
    struct Row {
        const char* what;
        size_t n, peak;
        int64_t us;
        int32_t rate; // the tool's target rate
        int32_t fileRate;
        size_t frames, start; // expected: frames, first source frame
    };
    // 1000 µs at 48 kHz is 48 samples.
    const Row rows[] = {
        {"peak in the middle", 1000, 500, 1000, -1, kRate, 48, 476},
        {"peak near the end", 1000, 990, 1000, -1, kRate, 48, 952},
        {"peak near the start", 1000, 3, 1000, -1, kRate, 48, 0},
        {"already shorter", 40, 3, 1000, -1, kRate, 40, 0},
        {"own rate asked", 1000, 500, 1000, kRate, kRate, 48, 476},
        {"below one sample", 1000, 500, 10, -1, kRate, 1000, 0}, // count below 1: unchanged
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Signal left = Road::decayingNoise(r.n, 11);
        for (double& v : left) v *= 0.1;
        left[r.peak] = -1.0;
        put("CUT.WAV", {2, r.fileRate, true, left, left});
        engine->cutwl(engine->getfs(), "CUT.WAV", r.us, r.rate);
        const Wav after = get("CUT.WAV");
        ASSERT_EQ(after.left.size(), r.frames);
        for (size_t k = 0; k < r.frames; ++k) ASSERT_EQ(after.left[k], left[r.start + k]) << k;
    }
    // Converted data: a 44.1 kHz file asked at 48 kHz is rewritten at 48 kHz, whole when not longer
    // than wanted.
    put("CUT.WAV", {2, 44100, true, Road::decayingNoise(441, 12), Road::decayingNoise(441, 13)});
    engine->cutwl(engine->getfs(), "CUT.WAV", 1000000, kRate);
    const Wav converted = get("CUT.WAV");
    EXPECT_EQ(converted.rate, kRate);
    EXPECT_NEAR(static_cast<double>(converted.left.size()), 480.0, 2.0);
}

TEST_P(CorePrcsTools, EqualisingAUnitImpulseProgramScalesEveryFileByOneConstant) {
    // The INIT program is a unit impulse: its correction is flat.
    struct Row {
        const char* name;
        Wav wav;
    };
    const std::vector<Row> rows = {
        {"A.WAV", {2, kRate, true, Road::decayingNoise(300, 31), Road::decayingNoise(300, 32)}},
        {"B.WAV", {1, 44100, false, Road::decayingNoise(200, 33), {}}},
    };
    for (int32_t maxLength : {0, 100, 500}) {
        SCOPED_TRACE(maxLength);
        for (const Row& r : rows) put(r.name, r.wav);
        std::vector<Wav> before;
        for (const Row& r : rows) before.push_back(get(r.name));
        engine->svfs2(engine->getfs(), maxLength, 1000, 1.0);
        double constant = 0.0;
        for (size_t i = 0; i < rows.size(); ++i) {
            SCOPED_TRACE(rows[i].name);
            const Wav after = get(rows[i].name);
            EXPECT_EQ(after.channels, rows[i].wav.channels);
            EXPECT_EQ(after.rate, kRate); // written at the engine's rate
            EXPECT_EQ(after.double64, rows[i].wav.double64);
            const size_t n = before[i].left.size();
            ASSERT_EQ(after.left.size(), maxLength > 0 ? static_cast<size_t>(maxLength) : n);
            if (constant == 0.0) {
                double cross = 0.0, power = 0.0;
                for (size_t k = 0; k < std::min(n, after.left.size()); ++k) {
                    cross += after.left[k] * before[i].left[k];
                    power += before[i].left[k] * before[i].left[k];
                }
                constant = cross / power;
                ASSERT_GT(std::fabs(constant), 0.0);
            }
            const double peak = largestMagnitude(before[i].left);
            for (size_t k = 0; k < after.left.size(); ++k) {
                const double wanted = k < n ? constant * before[i].left[k] : 0.0;
                ASSERT_NEAR(after.left[k], wanted, 0.01 * std::fabs(constant) * peak) << k;
            }
        }
    }
    // A store without WAV items is left as it is.
    engine->getfs()->init_();
    CoreFsys& store = *engine->getfs();
    const std::string text = "plain";
    store.setit(store.crtit("NOTE.TXT", true, false), text.data(), 5, "0", true, false);
    engine->svfs2(&store, 0, 1000, 1.0);
    EXPECT_STREQ(store.ct2as(store.getit("NOTE.TXT")).c_str(), "plain");
    EXPECT_FALSE(engine->getby());
}

TEST_P(CorePrcsTools, HostCallsDuringTheRenderChangeNothingAndGetSilence) {
    const Wav source{2, kRate, true, Road::decayingNoise(400, 41), Road::decayingNoise(400, 42)};
    const auto render = [&](bool withHost, const std::string& more) {
        // A fresh engine each time, playing a program of noise kernels, whose correction shapes the file.
        engine = loaded(more);
        EXPECT_EQ(engine->workerRunning(), !more.empty());
        engine->getfs()->init_();
        engine->ldpdm(kThree, false);
        put("C.WAV", source);
        std::atomic<bool> stop{false};
        std::atomic<bool> onlyZeros{true};
        std::atomic<int> calls{0};
        std::thread host;
        if (withHost) {
            host = std::thread([&] {
                std::vector<float> inL(256, 0.0f), inR(256, 0.0f), outL(256), outR(256);
                while (!stop.load()) {
                    void* in[2] = {inL.data(), inR.data()};
                    void* out[2] = {outL.data(), outR.data()};
                    engine->prcss(in, out, 256, true, 1, 120.0, false, 2);
                    for (int k = 0; k < 256; ++k)
                        if (outL[k] != 0.0f || outR[k] != 0.0f) onlyZeros.store(false);
                    calls.fetch_add(1);
                }
            });
            while (calls.load() < 4) std::this_thread::yield();
        }
        engine->svfs2(engine->getfs(), 0, 1000, 1.0);
        stop.store(true);
        if (host.joinable()) host.join();
        EXPECT_TRUE(onlyZeros.load());
        return get("C.WAV");
    };
    for (const char* threads : {"", "<THREADS>1</THREADS>"}) { // inline, and with the worker
        SCOPED_TRACE(threads);
        const Wav alone = render(false, threads);
        const Wav shared = render(true, threads);
        ASSERT_EQ(alone.left.size(), shared.left.size());
        const double peak = largestMagnitude(alone.left);
        ASSERT_GT(peak, 0.0);
        double change = 0.0; // the render did equalise
        for (size_t k = 0; k < source.left.size(); ++k)
            change = std::max(change, std::fabs(alone.left[k] - source.left[k]));
        EXPECT_GT(change, 1e-3 * peak);
        // Two renders on fresh engines already differ by about 1e-12 of the peak (rounding of the
        // transforms), so the bound is 1e-9: host audio mixed into the render would be far above it.
        for (size_t k = 0; k < alone.left.size(); ++k) {
            ASSERT_NEAR(shared.left[k], alone.left[k], 1e-9 * peak) << k;
            ASSERT_NEAR(shared.right[k], alone.right[k], 1e-9 * peak) << k;
        }
    }
}

TEST_P(CorePrcsTools, ASideChainProgramRendersWithSilentSideInputs) {
    CoreEnvf& side = *Access::program(*engine).getef(4); // the side-chain follower
    const CoreAnsx none("");
    side.setvl(10, 0, none, 10, 0, none, -1.0, 0, false, none, false, none, none, false, 48000.0, false, none,
               none, false, 0.0, 2, none);
    Access::quadWanted(*engine) = true;
    engine->allcq();
    ASSERT_EQ(Access::field(*engine, "quadactive"), "1");
    put("S.WAV", {2, kRate, true, Road::decayingNoise(300, 51), Road::decayingNoise(300, 52)});
    engine->svfs2(engine->getfs(), 0, 1000, 1.0);
    const Wav after = get("S.WAV");
    ASSERT_EQ(after.left.size(), 300u);
    EXPECT_TRUE(std::isfinite(largestMagnitude(after.left)));
}

TEST_P(CorePrcsTools, CutToTheCopyRangeOfTheElementNamedAfterTheItem) {
    // The program's element that reads vectors/H1.WAV keeps the copy range its load stored.
    engine->ldpdm(kThree, false);
    engine->getfs()->init_();
    int32_t first = -1, last = -1;
    ASSERT_TRUE(Access::program(*engine).getrz("vectors/h1.wav", first, last));
    ASSERT_GE(first, 0);
    ASSERT_GT(last, first);
    const size_t start = static_cast<size_t>(first), longer = static_cast<size_t>(last) + 500;
    struct Row {
        const char* what;
        size_t n;
        int64_t us;
        size_t frames;
    };
    const Row rows[] = {
        {"the range", longer, 0, static_cast<size_t>(last - first)},
        {"from the range's start, the wanted length", longer, 100, std::min<size_t>(longer - start, 4)},
        {"a range past the data", start + 2, 0, 2},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const Signal left = Road::decayingNoise(r.n, 21);
        put("VECTORS/H1.WAV", {2, kRate, true, left, left});
        engine->cutwl(engine->getfs(), "VECTORS/H1.WAV", r.us, -1);
        const Wav after = get("VECTORS/H1.WAV");
        ASSERT_EQ(after.left.size(), r.frames);
        for (size_t k = 0; k < r.frames; ++k) ASSERT_EQ(after.left[k], left[start + k]) << k;
    }
}

TEST_P(CorePrcsTools, StoreWideToolsTakeOnlyWavItems) {
    CoreFsys listing(&pool);
    for (const char* name : {"ir.wav", "ir.txt"}) listing.crtit(name, true, false);
    put("IR.WAV", {2, kRate, true, Road::decayingNoise(1000, 14), Road::decayingNoise(1000, 15)});
    CoreFsys& store = *engine->getfs();
    const std::string text = "not a wave";
    store.setit(store.crtit("IR.TXT", true, false), text.data(), static_cast<int32_t>(text.size()), "0", true,
                false);
    engine->svfwl(&listing, 1000, -1);
    EXPECT_EQ(get("IR.WAV").left.size(), 48u);
    engine->svfdr(&listing, 10, 1000);
    EXPECT_EQ(get("IR.WAV").left.size(), 10u);
    EXPECT_STREQ(store.ct2as(store.getit("IR.TXT")).c_str(), "not a wave");
}

INSTANTIATE_TEST_SUITE_P(StoreForms, CorePrcsTools, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "AsPlugin" : "StoreLess"; });

} // namespace
