// The block processor: the convolution table against a naive power series, the crossfade, SMOOTH at
// run time, the per-sample rules (overflow, protection, dry, look-ahead, side chain), bad audio,
// subnormals and the allocation-free path.
#include "processor/CorePrcs.h"

#include "AudioRoadTest.h"
#include "base/CorePool.h"
#include "modulation/CoreEnvf.h"
#include "program/CoreProg.h"
#include "tests/common/CountingAllocator.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <limits>
#include <pmmintrin.h>

namespace {

using namespace hostblocks;

class BlockProcessorTest : public AudioRoadTest {
protected:
    // The program's kernels as the engine plays them (record h, left channel first).
    static std::vector<Signal> kernels(CorePrcs& e, int16_t record) {
        CoreProg& p = Access::program(e);
        const int32_t n = p.getep(record);
        return {Signal(p.getli(record), p.getli(record) + n), Signal(p.getri(record), p.getri(record) + n)};
    }
};

// y[t + latency] = sum over k of (x^k * h_k)[t + offset]: the records' kernels carry the program's offset.
TEST_F(BlockProcessorTest, ConvolutionRowsMatchANaivePowerSeries) {
    struct Row {
        char program;
        int smooth;
        int16_t hdim;
        int harmonics; // records in use
        bool hybrid;
    };
    const Row rows[] = {
        {'U', -1, 1, 1, false}, // plain convolution
        {'S', -1, 3, 3, false}, // power series
        {'Y', -1, 3, 3, true},  // hybrid
        {'U', 5, 1, 1, false},  // crossfade, one harmonic
        {'S', 5, 3, 3, false},  // crossfade and power series
        {'S', 5, 1, 1, false},
        {'S', -1, 1, 1, false},
    };
    const Stereo input = noise(20000, 3, 0.9);
    const size_t warm = 8192;
    for (const Row& r : rows)
        for (int16_t mode : {3, 11}) {
            SCOPED_TRACE(std::string(1, r.program) + " smooth " + std::to_string(r.smooth) + " hdim " +
                         std::to_string(r.hdim) + " mode " + std::to_string(mode));
            auto e = engine("<DSPBUFFER>512</DSPBUFFER><HDIM>" + std::to_string(r.hdim) + "</HDIM>");
            ASSERT_TRUE(Road::install(*e, Road::program(r.program, r.smooth), mode));
            ASSERT_EQ(Access::harmonicsInUse(*e), r.harmonics);
            const Stereo out = run(*e, input, fixedBlocks(300));
            const int32_t latency = Access::reportedLatency(*e);
            const int32_t offset = std::max(Access::program(*e).getof(), 0);
            for (int c = 0; c < 2; ++c) {
                const Signal& x = c == 0 ? input.left : input.right;
                Signal expected(x.size(), 0.0), power(x.size(), 1.0);
                double tolerance = 0.0;
                std::vector<std::pair<int, int16_t>> terms; // power, record
                for (int k = 0; k < r.harmonics; ++k) terms.push_back({k + 1, static_cast<int16_t>(k)});
                if (r.hybrid) terms.push_back({1, Access::program(*e).getfh() ? int16_t(10) : int16_t(0)});
                for (auto [k, record] : terms) {
                    Signal xk(x.size());
                    for (size_t i = 0; i < x.size(); ++i) xk[i] = std::pow(x[i], k);
                    const Signal h = kernels(*e, record)[c];
                    const Signal y = naiveConvolution(xk, h);
                    for (size_t i = 0; i < y.size(); ++i) expected[i] += y[i];
                    tolerance += 1e-10 * sumOfMagnitudes(h) * std::pow(largestMagnitude(x), k);
                }
                const Signal& got = c == 0 ? out.left : out.right;
                for (size_t t = warm; t + latency < got.size() && t + offset < expected.size(); ++t)
                    ASSERT_NEAR(got[t + latency], expected[t + offset], tolerance) << t;
            }
        }
}

TEST_F(BlockProcessorTest, NoHarmonicOrNoProgramGivesSilence) {
    for (int16_t mode : {3, 11})
        for (bool ready : {true, false}) {
            auto e = engine(std::string("<DSPBUFFER>512</DSPBUFFER><HDIM>") + (ready ? "0" : "1") + "</HDIM>");
            if (ready) Access::hdim(*e) = 0;
            ASSERT_TRUE(Road::install(*e, Road::program('U', -1), mode));
            if (!ready) Access::programReady(*e) = false;
            const Stereo out = run(*e, noise(4096, 1), fixedBlocks(256));
            EXPECT_EQ(largestMagnitude(out.left) + largestMagnitude(out.right), 0.0);
        }
}

TEST_F(BlockProcessorTest, CrossfadedOutputEqualsTheUnfadedOutput) {
    const Stereo input = noise(16384, 7, 0.9);
    for (char program : {'U', 'S'})
        for (int16_t mode : {3, 11}) {
            auto reference = engine("<DSPBUFFER>512</DSPBUFFER><HDIM>3</HDIM>");
            ASSERT_TRUE(Road::install(*reference, Road::program(program, -1), mode));
            const Stereo plain = run(*reference, input, fixedBlocks(512));
            double tolerance = 0.0;
            for (int h = 0; h < (program == 'S' ? 3 : 1); ++h)
                tolerance += 1e-10 * sumOfMagnitudes(kernels(*reference, static_cast<int16_t>(h))[0]) * 2.0;
            for (int smooth : {0, 1, 5, 20, 30}) {
                SCOPED_TRACE(std::string(1, program) + " mode " + std::to_string(mode) + " smooth " +
                             std::to_string(smooth));
                auto e = engine("<DSPBUFFER>512</DSPBUFFER><HDIM>3</HDIM>");
                ASSERT_TRUE(Road::install(*e, Road::program(program, smooth), mode));
                const Stereo faded = run(*e, input, fixedBlocks(512));
                for (size_t i = 8192; i < input.size(); ++i) {
                    ASSERT_NEAR(faded.left[i], plain.left[i], tolerance) << i;
                    ASSERT_NEAR(faded.right[i], plain.right[i], tolerance) << i;
                }
            }
        }
}

// G on DC: MIX1 moves the vector from the 0.25 impulse to the unit one; the crossfade carries the
// output from 0.25 to 1.0 without a step larger than the fade table's own.
TEST_F(BlockProcessorTest, AMovedMixFadesFromOneKernelToTheNext) {
    for (int16_t mode : {3, 11}) {
        SCOPED_TRACE(mode);
        auto e = engine("<DSPBUFFER>512</DSPBUFFER>");
        ASSERT_TRUE(Road::install(*e, Road::program('G', 1), mode));
        e->setiv(0, 0.0, true);
        const Stereo dc(48000, 1.0);
        const Stereo settled = run(*e, dc, fixedBlocks(512));
        EXPECT_NEAR(settled.left.back(), 0.25, 1e-12);
        const int32_t period = Access::periods(*e).normal;
        ASSERT_GT(period, 1);
        const double* fade = Access::fadeA(*e);
        double largestStep = 0.0;
        for (int32_t i = 0; i < period; ++i) largestStep = std::max(largestStep, std::fabs(fade[i + 1] - fade[i]));
        e->setiv(0, 1.0, true);
        const Stereo moved = run(*e, dc, fixedBlocks(333));
        for (const Signal* channel : {&moved.left, &moved.right}) {
            EXPECT_NEAR(channel->front(), 0.25, 1e-12);
            EXPECT_NEAR(channel->back(), 1.0, 1e-12);
            double previous = settled.left.back();
            for (size_t i = 0; i < channel->size(); ++i) {
                ASSERT_LE(std::fabs((*channel)[i] - previous), 0.75 * largestStep + 1e-12) << i;
                previous = (*channel)[i];
            }
        }
    }
}

TEST_F(BlockProcessorTest, SmoothChangesFollowTheProgramState) {
    struct Row {
        const char* name;
        char program;  // installed program
        int loaded;    // its SMOOTH
        bool ready;    // program-ready flag
        int16_t hdim;  // engine HDIM when set
        int16_t value; // setst argument
        bool result;
        int16_t smooth; // SMOOTH after
        int16_t programSmooth;
    };
    const Row rows[] = {
        {"hybrid refuses a crossfade", 'Y', -1, true, 3, 5, false, -1, -1},
        {"not ready: passed to the program", 'U', -1, false, 1, 7, false, -1, 7},
        {"not ready, off: nothing", 'U', 3, false, 1, -1, true, 3, 3},
        {"ready, on", 'U', 3, true, 1, 9, true, 9, 9},
        {"ready, on with HDIM 0", 'U', 3, true, 0, 9, true, -1, 9},
        {"ready, off", 'U', 3, true, 1, -1, true, -1, -1},
        {"on without a second kernel set: kept for the next load", 'U', -1, true, 1, 5, false, -1, 5},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto e = engine("<DSPBUFFER>512</DSPBUFFER><HDIM>3</HDIM>");
        ASSERT_TRUE(Road::install(*e, Road::program(r.program, r.loaded), 11));
        Access::programReady(*e) = r.ready;
        Access::hdim(*e) = r.hdim;
        EXPECT_EQ(e->setst(r.value), r.result);
        EXPECT_EQ(Access::smooth(*e), r.smooth);
        EXPECT_EQ(Access::program(*e).getst(), r.programSmooth);
        if (r.result && r.ready) {
            EXPECT_EQ(Access::stepIndex(*e), 0);
            EXPECT_TRUE(Access::mainFadeIsA(*e));
        }
    }
    // adjhc with HDIM 0: no crossfade, step 0.
    auto e = engine("<DSPBUFFER>512</DSPBUFFER>");
    ASSERT_TRUE(Road::install(*e, Road::program('U', 5), 11));
    run(*e, Stereo(3000), fixedBlocks(512));
    Access::hdim(*e) = 0;
    e->adjhc();
    EXPECT_EQ(std::pair(Access::smooth(*e), Access::harmonicsInUse(*e)), std::pair(int16_t(-1), int16_t(0)));
    EXPECT_TRUE(Access::mainFadeIsA(*e));
}

// Block requests on U in the direct mode, whose kernel passes every sample unchanged.
TEST_F(BlockProcessorTest, PerSampleRulesForOverflowAndProtection) {
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    struct Row {
        const char* name;
        double value; // one sample at 10 of a 64-sample request
        bool indicator;
        bool muted; // from sample 10 to the end, both channels
    };
    const Row rows[] = {
        {"exactly 1.0", 1.0, false, false},      {"just above 1.0", 1.0000001, true, false},
        {"-2.0", -2.0, false, false},            {"16.0 above 24 dB", 16.0, true, true},
        {"-16.0", -16.0, false, true},           {"NaN", nan, false, true},
        {"inf", inf, true, true},                {"-inf", -inf, false, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto e = engine("<DSPBUFFER>64</DSPBUFFER><PROTECTIONDB>24</PROTECTIONDB>");
        ASSERT_TRUE(Road::install(*e, Road::program('U', -1), 3));
        run(*e, Stereo(8192), fixedBlocks(64));
        Access::clip(*e).setvl(false);
        const int32_t offset = Access::program(*e).getof();
        // Output sample i plays input sample i - offset.
        for (int32_t i = -offset; i < 64; ++i) Access::writeInput(*e, i, 0.25, -0.25);
        Access::writeInput(*e, 10 - offset, r.value, 0.25);
        const std::vector<double> out = Access::runBlock(*e, 64, 1.0, 1.0);
        EXPECT_EQ(Access::clip(*e).getvl(), r.indicator);
        for (int32_t i = offset; i < 64; ++i) { // earlier outputs play what the convolver heard before
            // A non-finite input also poisons the kernel's zero taps: muting starts where it enters.
            const bool muted = r.muted && i >= (std::isfinite(r.value) ? 10 : 10 - offset);
            const double left = i == 10 ? r.value : 0.25;
            if (muted) {
                EXPECT_EQ(std::pair(out[2 * i], out[2 * i + 1]), std::pair(0.0, 0.0)) << i;
            } else {
                EXPECT_EQ(out[2 * i + 1], 0.25 * (i == 10 ? 1.0 : -1.0)) << i;
                if (i != 10 || std::isfinite(left)) {
                    EXPECT_EQ(out[2 * i], left) << i;
                }
            }
        }
        // A later request starts unmuted: the next one, or for a non-finite sample (written here
        // past the entry, which stores it as 0) the first once it has left the 64-tap kernel.
        std::vector<double> next;
        for (int request = 0; request < (std::isfinite(r.value) ? 1 : 3); ++request) {
            for (int32_t i = -offset; i < 64; ++i) Access::writeInput(*e, i, 0.5, 0.5);
            next = Access::runBlock(*e, 64, 1.0, 1.0);
        }
        EXPECT_EQ(next[2 * 63], 0.5);
    }
}

// An overflow pauses the feedback path until the next update step: the request after an overflowing
// one plays its input unchanged, where one after a clean request hears the fed-back output.
TEST_F(BlockProcessorTest, TheClipPauseStopsFeedbackUntilTheNextUpdateStep) {
    struct Row {
        const char* name;
        double peak;        // sample 10 of the first request
        bool updateBetween; // an update step falls before the second request
        bool fedBack;
    };
    const Row rows[] = {
        {"clean request: feedback on", 0.5, false, true},
        {"overflow: paused", 2.0, false, false},
        {"overflow, then an update step: on again", 2.0, true, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto e = engine("<DSPBUFFER>64</DSPBUFFER>");
        std::string text = Road::program('U', -1);
        text.insert(text.rfind("</PROGRAM>"), "<FEEDBACKFACTOR>50</FEEDBACKFACTOR><FEEDBACKSOURCE>ON</FEEDBACKSOURCE>");
        ASSERT_TRUE(Road::install(*e, text, 3));
        run(*e, Stereo(8192), fixedBlocks(64));
        ASSERT_TRUE(Access::feedbackOn(*e));
        ASSERT_GT(Access::feedbackGain(*e), 0.0);
        Access::countdown(*e) = 1 << 20; // no update step unless the row asks for one
        const int32_t offset = Access::program(*e).getof();
        for (int32_t i = -offset; i < 128; ++i) Access::writeInput(*e, i, 0.25, 0.25);
        Access::writeInput(*e, 10 - offset, r.peak, 0.25);
        Access::runBlock(*e, 64, 1.0, 1.0);
        EXPECT_EQ(Access::clipPause(*e), r.peak > 1.0);
        if (r.updateBetween) Access::countdown(*e) = 0;
        const std::vector<double> out = Access::runBlock(*e, 64, 1.0, 1.0);
        // The unit kernel plays the input unchanged unless the last request's output was fed back.
        EXPECT_EQ(out[2 * 63 + 1] != 0.25, r.fedBack);
    }
}

TEST_F(BlockProcessorTest, DryLookAheadAndSideChainFeeds) {
    // A dry delay larger than the block position reads from the end of the ring, every sample.
    auto e = engine("<DSPBUFFER>64</DSPBUFFER>");
    ASSERT_TRUE(Road::install(*e, Road::program('U', -1), 3));
    run(*e, Stereo(8192), fixedBlocks(64));
    Access::dryOn(*e) = true;
    Access::dryGain(*e) = 0.5;
    Access::countdown(*e) = 1 << 20; // no update step: it would read the program's dry gain
    const auto& rings = Access::rings(*e);
    const int32_t delay = Access::rings(*e).outpos + 100; // wraps for every sample of the request
    ASSERT_LT(delay, rings.work);
    for (int32_t i = -64; i < 64; ++i) Access::writeInput(*e, i, 0.0, 0.0);
    for (int32_t i = 0; i < 64; ++i) {
        const int32_t dryAt = ((Access::rings(*e).outpos + i - delay) % rings.work + rings.work) % rings.work;
        Access::writeInput(*e, dryAt - rings.readpos, 0.01 * i, -0.01 * i);
    }
    Access::dryDelay(*e) = delay;
    const std::vector<double> out = Access::runBlock(*e, 64, 1.0, 1.0);
    for (int32_t i = 0; i < 64; ++i)
        ASSERT_EQ(std::pair(out[2 * i], out[2 * i + 1]), std::pair(0.005 * i, -0.005 * i)) << i;

    // With look-ahead offset 0 a program follower hears the input samples the level followers hear:
    // EVF1 on the inputs alone with the ballistics given to the mono input follower reaches its level
    // bit for bit; another offset makes it hear other samples.
    for (int32_t offset : {0, 32}) {
        SCOPED_TRACE(offset);
        auto f = engine("<DSPBUFFER>64</DSPBUFFER><LOOKAHEAD>2000</LOOKAHEAD>");
        std::string text = Road::program('U', -1);
        text.insert(text.rfind("</PROGRAM>"),
                    Road::tag("EVF1", Road::tag("EXP", "4") + Road::tag("OUTPUTBALANCE", " 0 ") +
                                          Road::tag("MINATTACK", "100") + Road::tag("MAXATTACK", "100") +
                                          Road::tag("MINRELEASE", "100") + Road::tag("MAXRELEASE", "100")));
        ASSERT_TRUE(Road::install(*f, text, 11));
        CoreEnvf& evf = *Access::program(*f).getef(0);
        const CoreAnsx none("");
        Access::follower(*f, 4).setvl(evf.getma(), evf.getxa(), none, evf.getmr(), evf.getxr(), none, -1.0, 4, false,
                                      none, false, none, none, false, 1.0, false, none, none, false, 0.0, 2, none);
        Access::lookaheadOffset(*f) = offset;
        run(*f, noise(4096, 9), fixedBlocks(64));
        Access::follower(*f, 4).updte();
        evf.updte();
        EXPECT_GT(evf.getou(), 0.0);
        EXPECT_EQ(evf.getou() == Access::follower(*f, 4).getou(), offset == 0);
    }

    // Side chain: EVF5 hears channels 3 and 4 only with four channels.
    for (int16_t channels : {2, 4}) {
        auto q = engine("<DSPBUFFER>64</DSPBUFFER>");
        ASSERT_TRUE(Road::install(*q, Road::program('Q', -1), 11));
        ASSERT_NE(Access::quadRing(*q)[0], nullptr);
        const Stereo silence(4096), loud(4096, 0.9);
        run(*q, silence, fixedBlocks(64), Output::doubleReplace, 0, 0.0, false, channels == 4 ? &loud : &silence);
        const double level = Access::program(*q).getef(4)->getou();
        if (channels == 4)
            EXPECT_GT(level, 0.1);
        else
            EXPECT_EQ(level, 0.0);
    }
}

TEST_F(BlockProcessorTest, BadAudioNeverReachesTheHost) {
    const double burst[] = {std::nan(""), std::numeric_limits<double>::infinity(),
                            -std::numeric_limits<double>::infinity(), 1e300, -1e300};
    for (char program : {'U', 'S', 'M', 'P'})
        for (bool doubles : {true, false}) {
            SCOPED_TRACE(std::string(1, program) + (doubles ? " double" : " float"));
            auto e = engine("<DSPBUFFER>512</DSPBUFFER><HDIM>3</HDIM>");
            ASSERT_TRUE(Road::install(*e, Road::program(program == 'P' ? 'U' : program, program == 'S' ? 5 : -1), 11));
            if (program == 'P') e->smpby(true, 0, false, false);
            Stereo input = noise(24000, 11, 0.5), clean = input;
            for (size_t i = 0; i < 200; ++i) input.left[9000 + i] = input.right[9100 + i] = burst[i % 5];
            const Output mode = doubles ? Output::doubleReplace : Output::floatReplace;
            const Stereo out = run(*e, input, fixedBlocks(256), mode);
            for (size_t i = 0; i < out.size(); ++i)
                ASSERT_TRUE(std::isfinite(out.left[i]) && std::fabs(out.left[i]) <= 15.9 &&
                            std::isfinite(out.right[i]) && std::fabs(out.right[i]) <= 15.9)
                    << i;
            if (program == 'U' || program == 'S') {
                for (size_t i = 0; i < 200; ++i)
                    clean.left[9000 + i] = std::isfinite(burst[i % 5]) ? burst[i % 5] : 0.0,
                    clean.right[9100 + i] = std::isfinite(burst[i % 5]) ? burst[i % 5] : 0.0;
                for (size_t i = 0; i < 200; ++i) clean.left[9000 + i] = clean.right[9100 + i] = 0.0;
                auto reference = engine("<DSPBUFFER>512</DSPBUFFER><HDIM>3</HDIM>");
                ASSERT_TRUE(Road::install(*reference, Road::program(program, program == 'S' ? 5 : -1), 11));
                const Stereo expected = run(*reference, clean, fixedBlocks(256), mode);
                // Once the longest kernel and two work blocks have passed.
                const size_t settled = 9300 + 512 + 300 + 2 * 512 + 600;
                for (size_t i = settled; i < out.size(); ++i)
                    ASSERT_TRUE(out.left[i] == expected.left[i] && out.right[i] == expected.right[i]) << i;
            }
        }
}

// The kernel-changed flag rises only where a kernel was written: raising every flag before each
// block (every kernel transformed afresh) changes no output bit.
TEST_F(BlockProcessorTest, RaisingEveryKernelFlagChangesNoOutputBit) {
    const Stereo input = noise(200 * 512, 9, 0.7);
    for (char program : {'U', 'M', 'Y'})
        for (int16_t mode : {3, 11}) {
            SCOPED_TRACE(std::string(1, program) + " mode " + std::to_string(mode));
            Stereo outputs[2];
            for (bool raise : {false, true}) {
                auto e = engine("<DSPBUFFER>512</DSPBUFFER><HDIM>3</HDIM>");
                ASSERT_TRUE(Road::install(*e, Road::program(program, program == 'M' ? 5 : -1), mode));
                outputs[raise] = run(*e, input, [&] {
                    if (raise) Access::raiseKernelFlags(*e);
                    return 512;
                });
            }
            EXPECT_TRUE(outputs[0].left == outputs[1].left && outputs[0].right == outputs[1].right);
        }
}

TEST_F(BlockProcessorTest, NoSubnormalsAndTheCallersFloatingPointModesStay) {
    for (bool callerFlushes : {false, true}) {
        _MM_SET_FLUSH_ZERO_MODE(callerFlushes ? _MM_FLUSH_ZERO_ON : _MM_FLUSH_ZERO_OFF);
        _MM_SET_DENORMALS_ZERO_MODE(callerFlushes ? _MM_DENORMALS_ZERO_ON : _MM_DENORMALS_ZERO_OFF);
        constexpr unsigned flushBits = 0x8040; // FTZ, DAZ
        const unsigned modes = _mm_getcsr() & flushBits;
        auto e = engine("<DSPBUFFER>512</DSPBUFFER>");
        ASSERT_TRUE(Road::install(*e, Road::program('M', -1), 11));
        Stereo tail(48000);
        for (size_t i = 0; i < tail.size(); ++i) tail.left[i] = tail.right[i] = 0.9 * std::pow(0.98, i);
        for (Output mode : {Output::doubleReplace, Output::floatReplace}) {
            const Stereo out = run(*e, tail, fixedBlocks(333), mode);
            EXPECT_EQ(_mm_getcsr() & flushBits, modes);
            for (size_t i = 0; i < out.size(); ++i)
                ASSERT_NE(std::fpclassify(out.left[i]), FP_SUBNORMAL) << i;
            EXPECT_TRUE(Access::noSubnormals(*e));
        }
    }
    _MM_SET_FLUSH_ZERO_MODE(_MM_FLUSH_ZERO_OFF);
    _MM_SET_DENORMALS_ZERO_MODE(_MM_DENORMALS_ZERO_OFF);
}

TEST_F(BlockProcessorTest, TheAudioPathAllocatesNothing) {
    int seamCalls = 0;
    const auto keptAllocator = pool.allocator;
    for (Output mode : {Output::floatReplace, Output::doubleReplace, Output::floatAccumulate}) {
        auto e = engine("<DSPBUFFER>512</DSPBUFFER><EXPORTAUDIOQUALITY>2</EXPORTAUDIOQUALITY>");
        ASSERT_TRUE(Road::install(*e, Road::program('M', 5, true), 11));
        ASSERT_NE(Access::quadRing(*e)[0], nullptr); // the side chain is stored
        run(*e, noise(8192, 2), fixedBlocks(512), mode); // convergence and the first follower updates
        const Stereo input = noise(4096, 4, 2.0);       // overflows
        std::vector<double> buffers[6];
        std::vector<float> floats[6];
        for (int c = 0; c < 6; ++c) {
            buffers[c] = c < 4 ? (c % 2 ? input.right : input.left) : Signal(4096);
            floats[c].assign(buffers[c].begin(), buffers[c].end());
        }
        const bool doubles = mode == Output::doubleReplace;
        void* in[4];
        void* out[2];
        for (int c = 0; c < 4; ++c) in[c] = doubles ? static_cast<void*>(buffers[c].data()) : floats[c].data();
        for (int c = 0; c < 2; ++c)
            out[c] = doubles ? static_cast<void*>(buffers[4 + c].data()) : floats[4 + c].data();
        const int64_t held = pool.getma();
        pool.allocator = [&seamCalls](size_t) -> void* {
            ++seamCalls;
            return nullptr;
        };
        uint32_t lcg = 3;
        const uint64_t missesBefore = e->lockMisses();
        const long before = heapAllocations.load();
        for (int call = 0; call < 1000; ++call) {
            lcg = lcg * 1664525u + 1013904223u;
            const int32_t frames = static_cast<int32_t>((lcg >> 8) % 1500);
            const int16_t level = call % 97 == 0 ? 4 : 1; // period switches
            if (call % 50 == 0) e->mdctr(0, 0xB0 | (7 << 8) | (64 << 16));
            if (call == 400) e->smpby(true, 0, false, false);
            if (call == 450) e->smpby(false, 0, false, false);
            const bool missed = call % 200 == 100;
            if (missed) Access::engineLock(*e).locks(); // a short holder: the call misses the lock
            e->prcss(in, out, frames, mode != Output::floatAccumulate, level, 120.0, doubles, 4);
            if (missed) Access::engineLock(*e).relse();
        }
        EXPECT_EQ(heapAllocations.load() - before, 0);
        pool.allocator = keptAllocator;
        EXPECT_EQ(pool.getma(), held);
        EXPECT_EQ(e->lockMisses() - missesBefore, 5u);
    }
    EXPECT_EQ(seamCalls, 0);
}

} // namespace
