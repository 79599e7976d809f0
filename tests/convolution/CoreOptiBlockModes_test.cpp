#include "convolution/CoreCnvl.h"

#include "base/CorePool.h"
#include "convolution/CoreCubr.h"
#include "convolution/CoreOpti.h"
#include "tests/common/CountingAllocator.h"
#include "tests/convolution/ConvolverTestSupport.h"

#include <gtest/gtest.h>

#include <cfloat>

namespace {

// The kernel as mode 9 reads it: F values, zero beyond the taps.
Signal paddedTo(const Signal& k, int n) {
    Signal padded(n, 0.0);
    std::copy(k.begin(), k.begin() + std::min<size_t>(k.size(), n), padded.begin());
    return padded;
}

double bound(const Signal& kernel, const Signal& x, double relative = 1e-10) {
    return relative * sumOfMagnitudes(kernel) * largestMagnitude(x);
}

double loudness(const Stereo& s) {
    return largestMagnitude(s.left) + largestMagnitude(s.right);
}

// A planned mode 9, 10 or 11 convolver, with mode 9's FFT size F = 2K (K a multiple of the block).
std::unique_ptr<CoreCnvl> cpuConvolver(CorePool& pool, short mode, int block, int kernelLength, bool* changed,
                                       int fftSize = 0) {
    auto c = blockConvolver(pool, mode, block, kernelLength, changed, nullptr,
                            fftSize ? fftSize : 2 * kernelLength);
    EXPECT_TRUE(c->plan_());
    return c;
}

} // namespace

TEST(CoreOptiBlockModes, PartitionSizesFollowKernelPartitionAndBlock) {
    struct Case {
        int kernel, partition, block, partitions, fftSize, lastLength;
    };
    const Case cases[] = {
        {512, 128, 128, 4, 256, 128},    {513, 128, 128, 5, 256, 1},   {100, 128, 128, 1, 256, 100},
        {128, 129, 128, 1, 256, 128},    {128, 130, 128, 1, 512, 128}, // B + S - 1 = 256, 257
        {44100, 512, 512, 87, 1024, 68},
    };
    for (const Case& c : cases) {
        int partitions = 0, fftSize = 0;
        std::vector<int> lengths(c.partitions + 1, -1);
        ASSERT_TRUE(partitionSizes(c.kernel, c.partition, c.block, partitions, fftSize, lengths.data()));
        std::vector<int> want(c.partitions, c.partition);
        want.back() = c.lastLength;
        want.push_back(-1);
        EXPECT_EQ(std::tuple(partitions, fftSize, lengths), std::tuple(c.partitions, c.fftSize, want))
            << c.kernel;
    }
    for (const auto& r : {std::array{0, 128, 128}, {100, 0, 128}, {100, 128, 0}, {1, 1 << 28, 128}}) {
        int partitions = -7, fftSize = -7;
        EXPECT_FALSE(partitionSizes(r[0], r[1], r[2], partitions, fftSize));
        EXPECT_EQ(partitions + fftSize, -14);
    }
}

TEST(CoreOptiBlockModes, LoadsSizeTheRingReplaceTheirPlanAndRefusalsAllocateNothing) {
    struct Case {
        const char* what;
        short mode;
        int block, first, partition, kernel, length, partitions;
        bool common;
    };
    const Case cases[] = {
        {"whole kernel", 9, 128, 2048, 128, 1000, 2048, 0, false},
        {"partitioned", 10, 128, 0, 128, 1000, 256, 8, false},
        {"partitioned with a common plan", 11, 128, 0, 128, 1000, 256, 8, true},
        {"no kernel", 11, 128, 0, 128, 0, 0, 0, false},
        {"partition other than the block", 10, 128, 0, 64, 1000, 0, 0, false},
        {"block not dividing F", 11, 96, 0, 96, 1000, 0, 0, false},
        {"F not a power of two", 9, 128, 300, 128, 100, 0, 0, false},
        {"F below the block", 9, 128, 64, 128, 10, 0, 0, false},
        {"F of one", 9, 1, 1, 1, 1, 0, 0, false},
        {"F too large", 9, 128, 1 << 28, 128, 10, 0, 0, false},
    };
    CorePool pool;
    bool changed = true;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CoreCnvl convolver(&pool, "load", 0, nullptr, CoreCnvl::VALIDSTRUCT{true, false, false});
        convolver.set__(c.mode, c.block, 64, c.first, c.partition, c.kernel);
        convolver.setup(&changed);
        EXPECT_EQ(convolver.plan_(), c.length > 0);
        const int64_t planned = pool.getma();
        if (c.length > 0) {
            EXPECT_TRUE(convolver.plan_()); // again without unloading: the first plan is released
            EXPECT_EQ(pool.getma(), planned);
            int length = 0, step = 0;
            EXPECT_EQ(convolver.getci(length, step), c.common);
            EXPECT_EQ(std::tuple(convolver.length(), convolver.position(), convolver.extension().partitions),
                      std::tuple(c.length, c.length, c.partitions));
            EXPECT_EQ(std::pair(length, step), std::pair(c.common ? c.length : -1, c.block));
        } else {
            EXPECT_EQ(planned, 0);
            Signal in(c.block, 1.0), out(c.block, 5.0), kernel(1024, 1.0); // a refused plan plays silence
            convolver.cnvlc(in.data(), in.data(), out.data(), out.data(), kernel.data(), kernel.data(),
                            nullptr, nullptr);
            EXPECT_EQ(out, Signal(c.block, 0.0));
        }
        convolver.delpl();
        convolver.delpl();
        convolver.set__();
        EXPECT_EQ(pool.getma(), 0);
    }
}

TEST(CoreOptiBlockModes, CpuModesMatchNaiveConvolution) {
    CorePool pool;
    std::mt19937 generator(7);
    const int blocks = 20;
    for (int block : {128, 512})
        for (int kernelLength : {1, 100, block, block + 1, 1000, 2205}) {
            const Stereo kernel{decayingKernel(generator, kernelLength),
                                decayingKernel(generator, kernelLength)};
            const Stereo x = randomStereo(generator, size_t(blocks) * block);
            const Stereo want{naiveConvolution(x.left, kernel.left), naiveConvolution(x.right, kernel.right)};
            for (short mode : {9, 10, 11}) {
                SCOPED_TRACE(testing::Message()
                             << "mode " << mode << " B " << block << " K " << kernelLength);
                bool changed = true;
                int fftSize = 2;
                while (fftSize < kernelLength + block - 1) fftSize *= 2;
                auto c = cpuConvolver(pool, mode, block, kernelLength, &changed, fftSize);
                const Stereo k = mode == 9
                                     ? Stereo{paddedTo(kernel.left, fftSize), paddedTo(kernel.right, fftSize)}
                                     : kernel;
                // Odd blocks through cnvsc with a fade of 1: the same one routine call per block.
                Stereo got{Signal(x.left.size()), Signal(x.left.size())};
                Signal fade(block, 1.0), mixL(block), mixR(block);
                for (int b = 0; b < blocks; ++b) {
                    double *inL = const_cast<double*>(&x.left[b * block]),
                           *inR = const_cast<double*>(&x.right[b * block]);
                    double *kL = const_cast<double*>(k.left.data()),
                           *kR = const_cast<double*>(k.right.data());
                    long fadeIndex = -1;
                    if (b % 2 == 0)
                        c->cnvlc(inL, inR, &got.left[b * block], &got.right[b * block], kL, kR, nullptr,
                                 nullptr);
                    else
                        c->cnvsc(true, inL, inR, mixL.data(), mixR.data(), kL, kR, &got.left[b * block],
                                 &got.right[b * block], fade.data(), fadeIndex, nullptr, nullptr);
                    EXPECT_TRUE(b % 2 == 0 ||
                                mixL == Signal(&got.left[b * block], &got.left[(b + 1) * block]));
                }
                EXPECT_FALSE(changed); // lowered after the right channel
                EXPECT_LE(largestDifference(got.left, want.left), bound(kernel.left, x.left));
                EXPECT_LE(largestDifference(got.right, want.right), bound(kernel.right, x.right));
            }
        }
}

TEST(CoreOptiBlockModes, KernelChangedFlagDecidesWhenEditsApply) {
    CorePool pool;
    std::mt19937 generator(13);
    const int block = 128, partitions = 4, kernelLength = partitions * block, blocks = 16, raisedAt = 6;
    const Stereo oldK{decayingKernel(generator, kernelLength), decayingKernel(generator, kernelLength)};
    const Stereo newK{decayingKernel(generator, kernelLength), decayingKernel(generator, kernelLength)};
    const Stereo x = randomStereo(generator, size_t(blocks) * block);
    for (short mode : {9, 10, 11})
        for (bool raised : {false, true}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << (raised ? " raised" : " left down"));
            auto pad = [&](const Signal& k) { return mode == 9 ? paddedTo(k, 2 * kernelLength) : k; };
            bool changed = true;
            auto c = cpuConvolver(pool, mode, block, kernelLength, &changed);
            runBlocks(*c, x, pad(oldK.left), pad(oldK.right), block, 0, raisedAt);
            changed = raised;
            const Stereo after =
                runBlocks(*c, x, pad(newK.left), pad(newK.right), block, raisedAt, blocks - raisedAt);
            // Left down, the edit changes nothing. Raised at block t, from block t + P on the output is
            // the new kernel's alone (mode 9's whole-kernel tail also ends within P blocks); before
            // that the old kernel still shapes what is in flight.
            const Signal& k = raised ? newK.left : oldK.left;
            const Signal want = naiveConvolution(x.left, k, size_t(raisedAt) * block);
            EXPECT_LE(largestDifference(after.left, want, raised ? kernelLength : 0), bound(k, x.left));
            EXPECT_EQ(largestDifference(after.left, want) > 1e-3, raised);
        }
    // A null flag reads as false: no spectra are made and the output stays silent.
    auto unflagged = cpuConvolver(pool, 11, block, kernelLength, nullptr);
    EXPECT_EQ(loudness(runBlocks(*unflagged, x, oldK.left, oldK.right, block, 0, 2)), 0.0);
}

TEST(CoreOptiBlockModes, MonoKernelConvolvesBothChannelsWithTheLeftKernelMadeOnce) {
    CorePool pool;
    std::mt19937 generator(19);
    StandinBridge standin(STANDIN_NORMAL);
    const Signal kernel = decayingKernel(generator, 300), ignored = decayingKernel(generator, 300);
    const Stereo x = randomStereo(generator, 12 * 128);
    for (short mode : {11, 14, 15}) {
        bool changed = true;
        auto c = blockConvolver(pool, mode, 128, 300, &changed, mode == 11 ? nullptr : &standin.bridge);
        c->setms(true);
        ASSERT_TRUE(c->plan_());
        const Stereo got = runBlocks(*c, x, kernel, ignored, 128, 0, 12);
        const double relative = mode == 11 ? 1e-10 : 1e-5;
        EXPECT_LE(largestDifference(got.left, naiveConvolution(x.left, kernel)),
                  bound(kernel, x.left, relative));
        EXPECT_LE(largestDifference(got.right, naiveConvolution(x.right, kernel)),
                  bound(kernel, x.right, relative));
    }
    // The flag falls after the call on spectra 1, the left channel's when mono, else the right one's.
    bool changed = true;
    auto c = cpuConvolver(pool, 11, 128, 300, &changed);
    FFTEXTENSION extension = c->extension();
    Signal ring(3 * 256), out(128);
    for (int spectra : {0, 1}) {
        changed = true;
        CoreOpti::cnm12(x.left.data(), out.data(), kernel.data(), ring.data(), 256, 256, &extension, spectra,
                        0);
        EXPECT_EQ(changed, spectra == 0);
    }
}

namespace {

// Three convolvers run as the processor runs a power chain: x, x^2 and x^3 (x the same on both
// channels) through vltry, two routine calls per pass; each unloads its plan before its common plan.
struct PowerChain {
    static const int block = 128, count = 2 * block, kernelLength = 500;
    std::vector<std::unique_ptr<CoreCnvl>> convolvers;
    std::vector<Signal> kernels;
    bool changed[3] = {true, true, true};
    PowerChain(CorePool& pool, std::mt19937& generator, short mode, CoreCubr* bridge) {
        for (int i = 0; i < 3; ++i) {
            kernels.push_back(decayingKernel(generator, kernelLength));
            convolvers.push_back(blockConvolver(pool, mode, block, kernelLength, &changed[i], bridge));
            EXPECT_TRUE(convolvers.back()->plan_());
        }
    }
    ~PowerChain() {
        for (auto& c : convolvers) c->delpl(), c->delpc();
    }
    // Each convolver's own output over x.
    std::vector<Signal> run(const Signal& x) {
        std::vector<Signal> conv(3, Signal(x.size()));
        Signal sumL(count), sumR(count), workL(count), workR(count), convR(count);
        double* in = const_cast<double*>(x.data());
        for (size_t at = 0; at < x.size(); at += count)
            for (int i = 0; i < 3; ++i)
                convolvers[i]->vltry(i == 0, i == 0, in + at, in + at, sumL.data(), sumR.data(),
                                     kernels[i].data(), kernels[i].data(), workL.data(), workR.data(),
                                     &conv[i][at], convR.data(), count, nullptr, nullptr);
        return conv;
    }
    // The sum of x^k convolved with kernel k, and the tolerance for it.
    Signal reference(const Signal& x, double relative, double& tolerance) const {
        Signal want(x.size(), 0.0), power(x.size(), 1.0);
        tolerance = 0.0;
        for (int i = 0; i < 3; ++i) {
            for (size_t j = 0; j < x.size(); ++j) power[j] *= x[j];
            const Signal y = naiveConvolution(power, kernels[i]);
            for (size_t j = 0; j < x.size(); ++j) want[j] += y[j];
            tolerance += relative * sumOfMagnitudes(kernels[i]) * largestMagnitude(x);
        }
        return want;
    }
};

} // namespace

TEST(CoreOptiBlockModes, CommonGroupsSumTheChainInTheirLastMember) {
    struct Case {
        const char* what;
        short mode, common[3];
        long length; // -1: room for every routine call of a pass
    };
    const Case cases[] = {
        {"no group", 11, {3, 3, 3}, 0},
        {"group of three", 11, {0, 1, 2}, -1},
        {"room for the first call of each pass only", 11, {0, 1, 2}, 256},
        {"GPU mode 14", 14, {0, 1, 2}, -1},
        {"GPU mode 15", 15, {0, 1, 2}, -1},
    };
    CorePool pool;
    std::mt19937 generator(23);
    StandinBridge standin(STANDIN_NORMAL);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        {
            PowerChain chain(pool, generator, c.mode, c.mode == 11 ? nullptr : &standin.bridge);
            const Signal x = randomSignal(generator, 6 * PowerChain::count);
            int length = 0, step = 0;
            ASSERT_TRUE(chain.convolvers[0]->getci(length, step));
            for (int i = 0; i < 3 && c.common[0] != 3; ++i) {
                chain.convolvers[i]->set_c(i == 0 ? nullptr : chain.convolvers[0]->grplc(), c.common[i],
                                           c.length < 0 ? long(length) * (PowerChain::count / step)
                                                        : c.length);
                EXPECT_TRUE(chain.convolvers[i]->planc());
            }
            const std::vector<Signal> conv = chain.run(x);
            double tolerance = 0.0;
            const Signal want = chain.reference(x, c.mode == 11 ? 1e-10 : 1e-5, tolerance);
            Signal sum(x.size(), 0.0);
            for (const Signal& part : conv)
                for (size_t j = 0; j < x.size(); ++j) sum[j] += part[j];
            EXPECT_LE(largestDifference(sum, want), tolerance);
            // Grouped, only the last member sounds; with room for the first call of each pass, the
            // second call of each pass sounds alone.
            const Signal firstHalf(conv[0].begin(), conv[0].begin() + PowerChain::block);
            const Signal secondHalf(conv[0].begin() + PowerChain::block, conv[0].begin() + PowerChain::count);
            EXPECT_EQ(largestMagnitude(firstHalf) > 0.0, c.common[0] == 3);
            EXPECT_EQ(largestMagnitude(secondHalf) > 0.0, c.common[0] == 3 || c.length > 0);
            EXPECT_EQ(largestMagnitude(conv[1]) > 0.0, c.common[0] == 3 || c.length > 0);
        }
        EXPECT_EQ(pool.getma(), 0); // the leader's buffer goes back even when it unloads first
    }
}

TEST(CoreOptiBlockModes, UnknownCommonModeAndLeaderWithoutRoomGiveSilence) {
    CorePool pool;
    std::mt19937 generator(41);
    const Signal kernel = decayingKernel(generator, 100);
    const Stereo x = randomStereo(generator, 512);
    bool changed = true;
    auto c = cpuConvolver(pool, 11, 128, 100, &changed);
    Signal buffer(1024, 0.0);
    c->setci(buffer.data(), 7, 512);
    EXPECT_EQ(loudness(runBlocks(*c, x, kernel, kernel, 128, 0, 4)), 0.0);
    EXPECT_EQ(largestMagnitude(buffer), 0.0);
    c->set_c(nullptr, 0, 0); // lcom1 refuses to lead a group without room
    EXPECT_FALSE(c->planc());
    EXPECT_EQ(c->grplc(), nullptr);
    c->delpc();
    c->delpl();
}

TEST(CoreOptiBlockModes, OneTapRoutineDelaysByItsTapOrConvolvesWithTheWholeKernelOutsideTheRing) {
    CorePool pool;
    const int n = 16;
    Signal kernel = randomSignal(n, 47);
    const Stereo x = {randomSignal(200, 48), randomSignal(200, 49)};
    auto oneTap = [&](int tap) {
        auto c =
            std::make_unique<CoreCnvl>(&pool, "tap", 0, nullptr, CoreCnvl::VALIDSTRUCT{true, false, false});
        EXPECT_EQ(c->set__(17, 64, n, 0, 0, n), 1);
        c->setff(tap);
        EXPECT_TRUE(c->plan_());
        return c;
    };
    for (int tap : {0, 1, 5, n - 1, -1, n, 1 << 30}) {
        const Stereo got = convolveDirect(*oneTap(tap), x, kernel, kernel);
        Signal want = naiveConvolution(x.left, kernel);
        if (tap >= 0 && tap < n)
            for (int t = 0; t < 200; ++t) want[t] = t >= tap ? kernel[tap] * x.left[t - tap] : 0.0;
        EXPECT_LE(largestDifference(got.left, want),
                  tap >= 0 && tap < n ? 0.0 : 1e-12 * sumOfMagnitudes(kernel))
            << tap;
    }
    // Zero, negative zero and denormal inputs store +0.0, even against a negative tap.
    kernel[3] = -0.75;
    const Signal tiny = {0.0, -0.0, DBL_MIN / 4, -DBL_MIN / 8, 0.0, 0.0, 0.0, 0.0};
    for (double v : convolveDirect(*oneTap(3), Stereo{tiny, tiny}, kernel, kernel).left) {
        EXPECT_EQ(v, 0.0);
        EXPECT_FALSE(std::signbit(v));
    }
}

TEST(CoreOptiBlockModes, ClearSilencesUntilTheKernelFlagRisesAgain) {
    CorePool pool;
    std::mt19937 generator(59);
    const Signal kernel = decayingKernel(generator, 256), padded = paddedTo(kernel, 512);
    const Stereo x = randomStereo(generator, 8 * 128);
    for (short mode : {9, 10, 11}) {
        bool changed = true;
        auto c = cpuConvolver(pool, mode, 128, 256, &changed);
        const Signal& k = mode == 9 ? padded : kernel;
        runBlocks(*c, x, k, k, 128, 0, 4);
        c->clear(); // mode 9 keeps its kernel spectra in the work buffer, which clear zeroes too
        EXPECT_EQ(loudness(runBlocks(*c, x, k, k, 128, 4, 2)), 0.0) << mode;
        changed = true;
        EXPECT_GT(loudness(runBlocks(*c, x, k, k, 128, 6, 2)), 1e-3) << mode;
    }
}

TEST(CoreOptiBlockModes, BlockPathAllocatesNothing) {
    CorePool pool;
    std::mt19937 generator(61);
    StandinBridge standin(STANDIN_NORMAL);
    const int block = 256, kernelLength = 1000, blocks = 50;
    const Signal kernel = paddedTo(decayingKernel(generator, kernelLength), 2048);
    const Stereo x = randomStereo(generator, size_t(blocks) * block);
    long poolCalls = 0;
    auto allocate = pool.allocator;
    pool.allocator = [&](size_t bytes) { return ++poolCalls, allocate(bytes); };
    for (short mode : {9, 10, 11, 17, 12, 13, 14, 15}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        bool changed = true;
        auto c = blockConvolver(pool, mode, block, kernelLength, &changed, &standin.bridge, 2048);
        ASSERT_TRUE(c->plan_());
        Signal outL(block), outR(block), workL(block), workR(block), convL(block), convR(block);
        const long heapBefore = heapAllocations.load(), poolBefore = poolCalls;
        for (int b = 0; b < blocks; ++b) {
            changed = b % 7 == 0;
            double *inL = const_cast<double*>(&x.left[b * block]),
                   *inR = const_cast<double*>(&x.right[b * block]);
            c->vltry(true, true, inL, inR, outL.data(), outR.data(), const_cast<double*>(kernel.data()),
                     const_cast<double*>(kernel.data()), workL.data(), workR.data(), convL.data(),
                     convR.data(), block, nullptr, nullptr);
        }
        EXPECT_EQ(heapAllocations.load(), heapBefore);
        EXPECT_EQ(poolCalls, poolBefore);
        c->delpl();
    }
    pool.allocator = allocate;
}

// ---- GPU modes over the CPU stand-in bridge ----

TEST(CoreOptiBlockModes, GpuModesMatchTheCpuModeAndClearToSilence) {
    CorePool pool;
    std::mt19937 generator(67);
    StandinBridge standin(STANDIN_NORMAL);
    const int block = 128, blocks = 20;
    for (int kernelLength : {100, 128, 129, 700}) {
        const Stereo kernel{decayingKernel(generator, kernelLength), decayingKernel(generator, kernelLength)};
        const Stereo x = randomStereo(generator, size_t(blocks) * block);
        bool referenceChanged = true;
        const Stereo want = runBlocks(*cpuConvolver(pool, 10, block, kernelLength, &referenceChanged), x,
                                      kernel.left, kernel.right, block, 0, blocks);
        for (short mode : {12, 13, 14, 15}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " K " << kernelLength);
            bool changed = true;
            auto c = blockConvolver(pool, mode, block, kernelLength, &changed, &standin.bridge);
            ASSERT_EQ(c->selectedMode(), mode);
            ASSERT_TRUE(c->plan_());
            EXPECT_EQ(c->length(), 256);
            const Stereo got = runBlocks(*c, x, kernel.left, kernel.right, block, 0, blocks);
            EXPECT_FALSE(changed);
            EXPECT_LE(largestDifference(got.left, want.left), bound(kernel.left, x.left, 1e-5));
            EXPECT_LE(largestDifference(got.right, want.right), bound(kernel.right, x.right, 1e-5));
            c->clear();
            EXPECT_EQ(loudness(runBlocks(*c, x, kernel.left, kernel.right, block, 0, 2)), 0.0);
            c->delpl();
            c->delpl();
        }
    }
    EXPECT_EQ(pool.getma(), 0);
}

TEST(CoreOptiBlockModes, FailingBridgeCallsLeaveTheConvolverSilentAndNothingHeld) {
    CorePool pool;
    std::mt19937 generator(73);
    StandinBridge standin(STANDIN_NORMAL);
    const Signal kernel = decayingKernel(generator, 200);
    const Stereo x = randomStereo(generator, 512);
    // The stand-in fails its next mallc (1), plan_ (2) or op32p / af32p (3).
    const std::pair<int32_t, short> failures[] = {{1, 12}, {2, 12}, {3, 13}, {3, 14}, {3, 15}};
    for (const auto& [which, mode] : failures) {
        bool changed = true;
        auto c = blockConvolver(pool, mode, 128, 200, &changed, &standin.bridge);
        ASSERT_EQ(standin.control("standin_fail", which), 1);
        EXPECT_FALSE(c->plan_()) << which << " in mode " << mode;
        standin.control("standin_fail", 0);
        EXPECT_EQ(loudness(runBlocks(*c, x, kernel, kernel, 128, 0, 4)), 0.0);
        c->delpl();
        EXPECT_EQ(pool.getma(), 0);
    }
}

TEST(CoreOptiBlockModes, GpuRequestsFallBackWithoutTheBridgeAndRow16IsNeverSelected) {
    CorePool pool;
    CoreCubr::setfn("/nonexistent/VoCuBr03.so", "/nonexistent/VoCuBr01.so");
    CoreCubr missing;
    for (short mode : {12, 13, 14, 15, 16}) {
        CoreCnvl c(&pool, "fallback", 0, &missing);
        EXPECT_EQ(c.set__(mode, 128, 256, 0, 128, 300), 128);
        EXPECT_EQ(std::pair(c.selectedMode(), c.error()), std::pair(short(11), true)) << mode;
    }
    StandinBridge standin(STANDIN_NORMAL);
    CoreCnvl c(&pool, "row16", 0, &standin.bridge);
    EXPECT_EQ(c.getbv(), CoreAnsx("stand-in 1.0"));
    c.set__(16, 128, 256, 0, 128, 300);
    EXPECT_EQ(std::pair(c.selectedMode(), c.error()), std::pair(short(11), true));
    c.set__(13, 128, 256, 0, 128, 300);
    EXPECT_EQ(c.selectedMode(), 13);
}

TEST(CoreOptiBlockModes, GpuElementOperationsForwardToTheBridgeWhileItIsLoaded) {
    StandinBridge standin(STANDIN_NORMAL);
    VECEXTENSION extension{&standin.bridge};
    EXPECT_EQ(szel2(), 4);
    float* left = static_cast<float*>(nwel2(&extension, nullptr, 6));
    float* right = static_cast<float*>(nwel2(&extension, nullptr, 6));
    const float values[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    copy2(&extension, left, values, 4, false, 2, false);
    copy2(&extension, right, values, 4, false, 0, false);
    adj_2(&extension, left, right, 6, 0.5);
    EXPECT_EQ(std::vector<float>(left, left + 6), (std::vector<float>{0, 0, 0.5f, 1, 1.5f, 2}));
    EXPECT_EQ(std::vector<float>(right, right + 6), (std::vector<float>{0.5f, 1, 1.5f, 2, 0, 0}));
    VECTORMIXSTRUCT mix{1.0, 1.0, 1.0, 0.0, 0.0, 1.0, 1.0, 1.0, -1, -1};
    void* sources[1] = {left};
    const int fades = standin.control("standin_count", 2), mixes = standin.control("standin_count", 3);
    fade2(&extension, 6, left, right, 2, values, 2, values);
    vmix2(&extension, false, false, false, &mix, 6, 1, left, right, sources, sources);
    EXPECT_EQ(std::pair(standin.control("standin_count", 2), standin.control("standin_count", 3)),
              std::pair(fades + 1, mixes + 1));
    dlel2(&extension, nullptr, left); // no bridge entry: nothing happens
    standin.bridge.entry.free_(left);
    standin.bridge.entry.free_(right);
    standin.bridge.stop_(); // without a loaded bridge the operations do nothing
    EXPECT_EQ(nwel2(&extension, nullptr, 8), nullptr);
    adj_2(&extension, nullptr, nullptr, 8, 0.5);
    vmix2(nullptr, false, false, false, &mix, 8, 1, nullptr, nullptr, sources, sources);
    EXPECT_EQ(standin.control("standin_count", 3), mixes + 1);
}
