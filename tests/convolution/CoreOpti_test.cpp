// CoreOpti: direct routines against a naive convolution across ring wraps, flush and fade-out by hand,
// and block modes through a convolver (CPU FFT, and GPU over the stand-in bridge): sizes, refused loads,
// kernel edits, mono kernels, common groups, clear, bridge failures, no allocation on the block path.
#include "convolution/CoreOpti.h"

#include "base/CoreTime.h"
#include "tests/common/CountingAllocator.h"
#include "tests/convolution/ConvolverTestSupport.h"

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

} // namespace

// Driven as the convolver drives them: the position starts at N, wraps from 2N back to N before a
// call and advances by the step. N silent samples at the end must leave the rings all zeros.
TEST(CoreOpti, DirectRoutinesConvolveAcrossRingWrapsAndEmptyTheirRings) {
    const std::pair<StepRoutine, int> routines[] = {{CoreOpti::cnvs0, 1}, {cnvs1, 1}, {CoreOpti::cnvs2, 2},
                                                    {CoreOpti::cnvs4, 1}, {cnvs5, 1}, {CoreOpti::cnvs6, 2},
                                                    {CoreOpti::cnvs3, 2}};
    std::mt19937 generator(20240601);
    for (long n : {2L, 10L, 64L}) {
        Stereo in = randomStereo(generator, 3 * n + 8);
        in.left.resize(4 * n + 8, 0.0);
        in.right.resize(4 * n + 8, 0.0);
        const Signal k = randomSignal(generator, n);
        for (const auto& entry : routines) {
            SCOPED_TRACE(testing::Message() << "routine " << &entry - routines << " N " << n);
            Signal ringL(3 * n, 0.0), ringR(3 * n, 0.0), outL(in.left.size()), outR(in.left.size());
            for (size_t i = 0, p = n; i < in.left.size(); i += entry.second, p += entry.second) {
                if (p >= size_t(2 * n)) p = n;
                entry.first(&in.left[i], &in.right[i], &outL[i], &outR[i], k.data(), k.data(), ringL.data(),
                            ringR.data(), n, long(p), nullptr);
            }
            EXPECT_LE(largestDifference(outL, naiveConvolution(in.left, k)), 1e-12 * sumOfMagnitudes(k));
            EXPECT_LE(largestDifference(outR, naiveConvolution(in.right, k)), 1e-12 * sumOfMagnitudes(k));
            EXPECT_EQ(ringL, Signal(3 * n, 0.0));
            EXPECT_EQ(ringR, Signal(3 * n, 0.0));
        }
    }
}

TEST(CoreOpti, FlushStoresNegativeZeroAndDenormalsAsPositiveZero) {
    Signal values = {-0.0, DBL_TRUE_MIN, -1e-310, DBL_MIN, -1.5, -0.0};
    double* p = values.data();
    kllad(5, &p);
    EXPECT_EQ(values, (Signal{0.0, 0.0, 0.0, DBL_MIN, -1.5, -0.0}));
    EXPECT_FALSE(std::signbit(values[0]));
    EXPECT_TRUE(std::signbit(values[5])); // past the count
}

// The fade-out acts on the last m of n values; m is clamped to 0..n.
TEST(CoreOpti, FadeOutActsOnTheLastValuesWithItsLengthClamped) {
    double guardL[] = {7, 1, 1, 1, 1, 7}, guardR[] = {7, 2, 2, 2, 2, 7};
    const double env[] = {0.5, 0.25, 0.125, 0.0625, 99.0};
    mkefo(4, 2, guardL + 1, guardR + 1, env);
    EXPECT_EQ(Signal(guardR, guardR + 6), (Signal{7, 2, 2, 1.0, 0.5, 7}));
    mkefo(4, 5, guardL + 1, guardR + 1, env);
    mkefo(4, -3, guardL + 1, guardR + 1, env);
    EXPECT_EQ(Signal(guardL, guardL + 6), (Signal{7, 0.5, 0.25, 0.5 * 0.125, 0.25 * 0.0625, 7}));
}

// F is the power of two that holds B + S - 1 values: 256 for 256, 512 for 257.
TEST(CoreOpti, PartitionSizesFollowKernelPartitionAndBlock) {
    struct Row {
        int kernel, partition, block, partitions, fftSize, lastLength;
    };
    const Row rows[] = {
        {513, 128, 128, 5, 256, 1}, {128, 129, 128, 1, 256, 128}, {128, 130, 128, 1, 512, 128}};
    for (const Row& r : rows) {
        int partitions = 0, fftSize = 0;
        std::vector<int> lengths(r.partitions + 1, -1), want(r.partitions, r.partition);
        want.back() = r.lastLength;
        want.push_back(-1);
        ASSERT_TRUE(partitionSizes(r.kernel, r.partition, r.block, partitions, fftSize, lengths.data()));
        EXPECT_EQ(std::tuple(partitions, fftSize, lengths), std::tuple(r.partitions, r.fftSize, want))
            << r.kernel;
    }
    for (const auto& r : {std::array{0, 128, 128}, {100, 0, 128}, {100, 128, 0}, {1, 1 << 28, 128}}) {
        int partitions = -7, fftSize = -7;
        EXPECT_FALSE(partitionSizes(r[0], r[1], r[2], partitions, fftSize));
        EXPECT_EQ(partitions + fftSize, -14);
    }
}

TEST(CoreOpti, BlockLoadsSizeTheRingReplaceTheirPlanAndRefusalsAllocateNothing) {
    struct Row {
        const char* what;
        short mode;
        int block, first, partition, kernel, length, partitions;
    };
    const Row rows[] = {
        {"whole kernel", 9, 128, 2048, 128, 1000, 2048, 0},
        {"partitioned", 10, 128, 0, 128, 1000, 256, 8},
        {"partitioned with a common plan", 11, 128, 0, 128, 1000, 256, 8},
        {"no kernel", 11, 128, 0, 128, 0, 0, 0},
        {"partition other than the block", 10, 128, 0, 64, 1000, 0, 0},
        {"block not dividing F", 11, 96, 0, 96, 1000, 0, 0},
        {"F not a power of two", 9, 128, 300, 128, 100, 0, 0},
        {"F below the block", 9, 128, 64, 128, 10, 0, 0},
        {"F of one", 9, 1, 1, 1, 1, 0, 0},
        {"F too large", 9, 128, 1 << 28, 128, 10, 0, 0},
    };
    CorePool pool;
    bool changed = true;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        CoreCnvl c(&pool, "load", 0, nullptr, CoreCnvl::VALIDSTRUCT{true, false, false});
        c.set__(r.mode, r.block, 64, r.first, r.partition, r.kernel);
        c.setup(&changed);
        EXPECT_EQ(c.plan_(), r.length > 0);
        const int64_t planned = pool.getma();
        EXPECT_EQ(c.plan_() && pool.getma() == planned, r.length > 0); // the first plan is released
        int length = 0, step = 0;
        EXPECT_EQ(c.getci(length, step), r.mode == 11 && r.length > 0);
        if (r.length > 0)
            EXPECT_EQ(std::tuple(c.length(), c.extension().partitions), std::tuple(r.length, r.partitions));
        else
            EXPECT_EQ(planned, 0);
        c.delpl();
        c.delpl();
        c.set__();
        EXPECT_EQ(pool.getma(), 0);
    }
}

// CPU modes and, over the stand-in bridge, GPU modes (single precision). Odd blocks go through cnvsc
// with a fade of 1: the same one routine call per block. After clear the output is silent until the
// kernel flag rises again (mode 9 keeps its kernel spectra in the work buffer, which clear zeroes too).
// A common mode's group leader gets the buffer the bridge makes.
TEST(CoreOpti, BlockModesMatchNaiveConvolutionAndClearToSilence) {
    CorePool pool;
    std::mt19937 generator(7);
    StandinBridge standin(STANDIN_NORMAL);
    const int block = 128, blocks = 12;
    for (int kernelLength : {100, 129, 700}) {
        const Stereo kernel{decayingKernel(generator, kernelLength), decayingKernel(generator, kernelLength)};
        const Stereo x = randomStereo(generator, size_t(blocks + 4) * block);
        const Stereo want{naiveConvolution(x.left, kernel.left), naiveConvolution(x.right, kernel.right)};
        for (short mode : {9, 10, 11, 12, 13, 14, 15}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " K " << kernelLength);
            bool changed = true;
            auto c = blockConvolver(pool, mode, block, kernelLength, &changed, &standin.bridge, 1024);
            ASSERT_EQ(std::pair(c->selectedMode(), c->getbv()), std::pair(mode, CoreAnsx("stand-in 1.0")));
            if (mode >= 14) {
                c->set_c(nullptr, 0, 512);
                EXPECT_TRUE(c->planc() && c->grplc() != nullptr);
                c->delpc();
            }
            const Stereo k =
                mode == 9 ? Stereo{paddedTo(kernel.left, 1024), paddedTo(kernel.right, 1024)} : kernel;
            double *kL = const_cast<double*>(k.left.data()), *kR = const_cast<double*>(k.right.data());
            Stereo got{Signal(blocks * block), Signal(blocks * block)};
            Signal fade(block, 1.0), mixL(block), mixR(block);
            for (int b = 0; b < blocks; ++b) {
                double *inL = const_cast<double*>(&x.left[b * block]),
                       *inR = const_cast<double*>(&x.right[b * block]);
                long fadeIndex = -1;
                if (b % 2 == 0)
                    c->cnvlc(inL, inR, &got.left[b * block], &got.right[b * block], kL, kR, nullptr, nullptr);
                else
                    c->cnvsc(true, inL, inR, mixL.data(), mixR.data(), kL, kR, &got.left[b * block],
                             &got.right[b * block], fade.data(), fadeIndex, nullptr, nullptr);
            }
            const double relative = mode >= 12 ? 1e-5 : 1e-10;
            EXPECT_FALSE(changed); // lowered after the right channel
            EXPECT_EQ(mixL, Signal(&got.left[(blocks - 1) * block], &got.left[blocks * block]));
            EXPECT_LE(largestDifference(got.left, want.left), bound(kernel.left, x.left, relative));
            EXPECT_LE(largestDifference(got.right, want.right), bound(kernel.right, x.right, relative));
            c->clear();
            EXPECT_EQ(loudness(runBlocks(*c, x, k.left, k.right, block, blocks, 2)), 0.0);
            changed = true;
            EXPECT_GT(loudness(runBlocks(*c, x, k.left, k.right, block, blocks + 2, 2)), 1e-3);
            c->delpl();
            c->delpl();
        }
    }
    EXPECT_EQ(pool.getma(), 0);
}

// Left down, an edit changes nothing. Raised at block t, from block t + P on the output is the new
// kernel's alone (mode 9's whole-kernel tail also ends within P blocks). A null flag reads as down.
TEST(CoreOpti, KernelChangedFlagDecidesWhenEditsApply) {
    CorePool pool;
    std::mt19937 generator(13);
    const int block = 128, kernelLength = 4 * block, blocks = 10, raisedAt = 4;
    const Stereo oldK{decayingKernel(generator, kernelLength), decayingKernel(generator, kernelLength)};
    const Stereo newK{decayingKernel(generator, kernelLength), decayingKernel(generator, kernelLength)};
    const Stereo x = randomStereo(generator, size_t(blocks) * block);
    for (short mode : {9, 10, 11})
        for (bool raised : {false, true}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << (raised ? " raised" : " left down"));
            auto pad = [&](const Signal& k) { return mode == 9 ? paddedTo(k, 2 * kernelLength) : k; };
            bool changed = true;
            auto c = blockConvolver(pool, mode, block, kernelLength, &changed, nullptr, 2 * kernelLength);
            runBlocks(*c, x, pad(oldK.left), pad(oldK.right), block, 0, raisedAt);
            changed = raised;
            const Stereo after =
                runBlocks(*c, x, pad(newK.left), pad(newK.right), block, raisedAt, blocks - raisedAt);
            const Signal& k = raised ? newK.left : oldK.left;
            const Signal want = naiveConvolution(x.left, k, size_t(raisedAt) * block);
            EXPECT_LE(largestDifference(after.left, want, raised ? kernelLength : 0), bound(k, x.left));
            EXPECT_EQ(largestDifference(after.left, want) > 1e-3, raised);
        }
    auto unflagged = blockConvolver(pool, 11, block, kernelLength, nullptr);
    EXPECT_EQ(loudness(runBlocks(*unflagged, x, oldK.left, oldK.right, block, 0, 2)), 0.0);
}

// One kernel for both channels: the left, whose spectra are made once.
TEST(CoreOpti, MonoKernelConvolvesBothChannelsWithTheLeftKernelMadeOnce) {
    CorePool pool;
    std::mt19937 generator(19);
    StandinBridge standin(STANDIN_NORMAL);
    const Signal kernel = decayingKernel(generator, 300), ignored = decayingKernel(generator, 300);
    const Stereo x = randomStereo(generator, 8 * 128);
    for (short mode : {11, 14}) {
        bool changed = true;
        auto c = blockConvolver(pool, mode, 128, 300, &changed, &standin.bridge);
        c->setms(true);
        const Stereo got = runBlocks(*c, x, kernel, ignored, 128, 0, 8);
        EXPECT_LE(largestDifference(got.left, naiveConvolution(x.left, kernel)), bound(kernel, x.left, 1e-5));
        EXPECT_LE(largestDifference(got.right, naiveConvolution(x.right, kernel)),
                  bound(kernel, x.right, 1e-5));
    }
}

// x, x^2 and x^3 through vltry, two routine calls per pass. Grouped, only the last member sounds;
// with room for the first call of each pass only, the second call of each pass sounds alone.
TEST(CoreOpti, CommonGroupsSumThePowerChainInTheirLastMember) {
    struct Row {
        const char* what;
        short common[3];
        long length; // -1: room for every routine call of a pass
    };
    const Row rows[] = {{"no group", {3, 3, 3}, 0},
                        {"group of three", {0, 1, 2}, -1},
                        {"room for the first call of each pass only", {0, 1, 2}, 256}};
    const int block = 128, count = 2 * block, kernelLength = 500;
    CorePool pool;
    std::mt19937 generator(23);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        {
            const Signal x = randomSignal(generator, 6 * count);
            Signal want(x.size(), 0.0), sum(x.size(), 0.0), power(x.size(), 1.0);
            std::vector<Signal> kernels, conv(3, Signal(x.size()));
            std::vector<std::unique_ptr<CoreCnvl>> chain;
            bool changed[3] = {true, true, true};
            double tolerance = 0.0;
            for (int i = 0; i < 3; ++i) {
                kernels.push_back(decayingKernel(generator, kernelLength));
                chain.push_back(blockConvolver(pool, 11, block, kernelLength, &changed[i]));
                for (size_t j = 0; j < x.size(); ++j) power[j] *= x[j];
                const Signal y = naiveConvolution(power, kernels[i]);
                for (size_t j = 0; j < x.size(); ++j) want[j] += y[j];
                tolerance += bound(kernels[i], x);
                int length = 0, step = 0;
                ASSERT_TRUE(chain[i]->getci(length, step));
                if (r.common[0] == 3) continue;
                chain[i]->set_c(i == 0 ? nullptr : chain[0]->grplc(), r.common[i],
                                r.length < 0 ? long(length) * (count / step) : r.length);
                EXPECT_TRUE(chain[i]->planc());
            }
            Signal sumL(count), sumR(count), workL(count), workR(count), convR(count);
            double* in = const_cast<double*>(x.data());
            for (size_t at = 0; at < x.size(); at += count)
                for (int i = 0; i < 3; ++i)
                    chain[i]->vltry(i == 0, i == 0, in + at, in + at, sumL.data(), sumR.data(),
                                    kernels[i].data(), kernels[i].data(), workL.data(), workR.data(),
                                    &conv[i][at], convR.data(), count, nullptr, nullptr);
            for (const Signal& part : conv)
                for (size_t j = 0; j < x.size(); ++j) sum[j] += part[j];
            EXPECT_LE(largestDifference(sum, want), tolerance);
            EXPECT_EQ(largestMagnitude(Signal(conv[0].begin(), conv[0].begin() + block)) > 0.0,
                      r.common[0] == 3);
            EXPECT_EQ(largestMagnitude(Signal(conv[0].begin() + block, conv[0].begin() + count)) > 0.0,
                      r.common[0] == 3 || r.length > 0);
            for (auto& c : chain) c->delpl(), c->delpc(); // the leader unloads before its common plan
        }
        EXPECT_EQ(pool.getma(), 0);
    }
}

TEST(CoreOpti, UnknownCommonModeAndLeaderWithoutRoomGiveSilence) {
    CorePool pool;
    std::mt19937 generator(41);
    const Signal kernel = decayingKernel(generator, 100);
    const Stereo x = randomStereo(generator, 512);
    bool changed = true;
    auto c = blockConvolver(pool, 11, 128, 100, &changed);
    Signal buffer(1024, 0.0);
    c->setci(buffer.data(), 7, 512);
    EXPECT_EQ(loudness(runBlocks(*c, x, kernel, kernel, 128, 0, 4)), 0.0);
    EXPECT_EQ(largestMagnitude(buffer), 0.0);
    c->set_c(nullptr, 0, 0);
    EXPECT_FALSE(c->planc());
    EXPECT_EQ(c->grplc(), nullptr);
}

// A tap outside the ring convolves with the whole kernel; zero, negative zero and denormal inputs
// store +0.0, even against a negative tap.
TEST(CoreOpti, OneTapRoutineDelaysByItsTapOrConvolvesWithTheWholeKernelOutsideTheRing) {
    CorePool pool;
    const int n = 16;
    Signal kernel = randomSignal(n, 47);
    kernel[3] = -0.75;
    const Signal x = randomSignal(100, 48), tiny = {0.0, -0.0, DBL_MIN / 4, -DBL_MIN / 8, 0.0, 0.0};
    for (int tap : {0, 3, n - 1, -1, n}) {
        auto c = blockConvolver(pool, 17, 64, n, nullptr);
        c->setff(tap);
        ASSERT_TRUE(c->plan_());
        Signal want = naiveConvolution(x, kernel);
        if (tap >= 0 && tap < n)
            for (int t = 0; t < 100; ++t) want[t] = t >= tap ? kernel[tap] * x[t - tap] : 0.0;
        Signal gotL(x.size()), gotR(x.size());
        for (size_t i = 0; i < x.size(); ++i)
            c->cnvlc(const_cast<double*>(&x[i]), const_cast<double*>(&tiny[i % 6]), &gotL[i], &gotR[i],
                     kernel.data(), kernel.data(), nullptr, nullptr);
        EXPECT_LE(largestDifference(gotL, want), tap >= 0 && tap < n ? 0.0 : 1e-12 * sumOfMagnitudes(kernel))
            << tap;
        for (double v : gotR) EXPECT_TRUE(tap != 3 || (v == 0.0 && !std::signbit(v)));
    }
}

// Every mode, with the kernel flag rising now and then: the processor's calls allocate nothing.
TEST(CoreOpti, BlockPathAllocatesNothing) {
    CorePool pool;
    std::mt19937 generator(61);
    StandinBridge standin(STANDIN_NORMAL);
    const int block = 256, kernelLength = 1000, blocks = 12;
    const Signal kernel = paddedTo(decayingKernel(generator, kernelLength), 2048);
    Stereo x = randomStereo(generator, block);
    long poolCalls = 0;
    auto allocate = pool.allocator;
    pool.allocator = [&](size_t bytes) { return ++poolCalls, allocate(bytes); };
    for (short mode : {0, 1, 2, 3, 4, 5, 9, 10, 11, 12, 13, 14, 15, 17}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        bool changed = true;
        auto c = blockConvolver(pool, mode, block, kernelLength, &changed, &standin.bridge, 2048);
        Signal outL(block), outR(block), workL(block), workR(block), convL(block), convR(block),
            fade(block, 1.0);
        double* k = const_cast<double*>(kernel.data());
        CoreTime a, m;
        const long heapBefore = heapAllocations.load(), poolBefore = poolCalls;
        for (int b = 0; b < blocks; ++b) {
            changed = b % 5 == 0;
            long fadeIndex = block - 1;
            c->vltry(true, b % 2, x.left.data(), x.right.data(), outL.data(), outR.data(), k, k, workL.data(),
                     workR.data(), convL.data(), convR.data(), block, &a, &m);
            c->cnvsy(b % 3 == 0, x.left.data(), x.right.data(), outL.data(), outR.data(), k, k, workL.data(),
                     workR.data(), convL.data(), convR.data(), fade.data(), fadeIndex, block, &a, &m);
        }
        EXPECT_EQ(heapAllocations.load(), heapBefore);
        EXPECT_EQ(poolCalls, poolBefore);
    }
    pool.allocator = allocate;
}

// ---- GPU modes over the CPU stand-in bridge ----

// The stand-in fails its next mallc (1), plan_ (2) or op32p / af32p (3).
TEST(CoreOpti, FailingBridgeCallsLeaveTheConvolverSilentAndNothingHeld) {
    CorePool pool;
    std::mt19937 generator(73);
    StandinBridge standin(STANDIN_NORMAL);
    const Signal kernel = decayingKernel(generator, 200);
    const Stereo x = randomStereo(generator, 512);
    for (const auto& [which, mode] : {std::pair(1, 12), {2, 12}, {3, 13}, {3, 15}}) {
        CoreCnvl c(&pool, "failing", 0, &standin.bridge);
        c.set__(short(mode), 128, 200, 0, 128, 200);
        ASSERT_EQ(standin.control("standin_fail", which), 1);
        EXPECT_FALSE(c.plan_()) << which << " in mode " << mode;
        standin.control("standin_fail", 0);
        EXPECT_EQ(loudness(runBlocks(c, x, kernel, kernel, 128, 0, 4)), 0.0);
        c.delpl();
        EXPECT_EQ(pool.getma(), 0);
    }
}

// Without a loaded bridge the operations do nothing.
TEST(CoreOpti, GpuElementOperationsForwardToTheBridgeWhileItIsLoaded) {
    StandinBridge standin(STANDIN_NORMAL);
    VECEXTENSION extension{&standin.bridge};
    EXPECT_EQ(szel2(), 4);
    float* element = static_cast<float*>(nwel2(&extension, nullptr, 6));
    const float values[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    copy2(&extension, element, values, 4, false, 2, false);
    adj_2(&extension, element, element, 6, 0.5); // one element for both channels: halved twice
    EXPECT_EQ(std::vector<float>(element, element + 6), (std::vector<float>{0, 0, 0.25f, 0.5f, 0.75f, 1}));
    const VECTORMIXSTRUCT mix{1.0, 1.0, 1.0, 0.0, 0.0, 1.0, 1.0, 1.0, -1, -1};
    void* sources[1] = {element};
    const int fades = standin.control("standin_count", 2), mixes = standin.control("standin_count", 3);
    fade2(&extension, 6, element, element, 2, values, 2, values);
    vmix2(&extension, false, false, false, &mix, 6, 1, element, element, sources, sources);
    EXPECT_EQ(std::pair(standin.control("standin_count", 2), standin.control("standin_count", 3)),
              std::pair(fades + 1, mixes + 1));
    dlel2(&extension, nullptr, element); // no bridge entry: nothing happens
    standin.bridge.entry.free_(element);
    standin.bridge.stop_();
    EXPECT_EQ(nwel2(&extension, nullptr, 8), nullptr);
    adj_2(&extension, nullptr, nullptr, 8, 0.5);
    vmix2(nullptr, false, false, false, &mix, 8, 1, nullptr, nullptr, sources, sources);
    EXPECT_EQ(standin.control("standin_count", 3), mixes + 1);
}
