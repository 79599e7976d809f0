#include "convolution/CoreCnvl.h"

#include "base/CoreLog_.h"
#include "base/CorePool.h"
#include "convolution/CoreCubr.h"
#include "convolution/CoreOpti.h"
#include "platform/DlLayer.h"
#include "tests/common/CountingAllocator.h"
#include "tests/common/SignalReference.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cfloat>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using VALID = CoreCnvl::VALIDSTRUCT;
const VALID cpuOnly{true, false, false};

typedef std::vector<double> Signal;

// Noise decaying from 1 to about 1e-3 over its length, like a room's response.
Signal decayingKernel(std::mt19937& generator, int n) {
    Signal k = randomSignal(generator, n);
    for (int j = 0; j < n; ++j) k[j] *= std::exp(-7.0 * j / n);
    return k;
}

double largestDifference(const Signal& a, const Signal& b, size_t from = 0) {
    double largest = 0.0;
    for (size_t i = from; i < a.size() && i < b.size(); ++i)
        largest = std::max(largest, std::fabs(a[i] - b[i]));
    return largest;
}

// The kernel as mode 9 reads it: F values, zero beyond the taps.
Signal paddedTo(const Signal& k, int n) {
    Signal padded(n, 0.0);
    std::copy(k.begin(), k.begin() + std::min<size_t>(k.size(), n), padded.begin());
    return padded;
}

int powerOfTwoAtLeast(int n) {
    int p = 1;
    while (p < n) p *= 2;
    return p;
}

struct Stereo {
    Signal left, right;
};

// A convolver selected for a block mode with partition = block, as the processor asks for it.
std::unique_ptr<CoreCnvl> blockConvolver(CorePool& pool, short mode, int block, int kernelLength,
                                         bool* changed, CoreCubr* bridge = nullptr, int first = 0) {
    const VALID valid{true, false, bridge != nullptr};
    auto convolver = std::make_unique<CoreCnvl>(&pool, CoreAnsx("block"), 0, bridge, valid);
    convolver->set__(mode, block, kernelLength, first, block, kernelLength);
    convolver->setup(changed);
    return convolver;
}

// Runs `blocks` blocks through cnvlc from block `from` on; returns the outputs of those blocks.
Stereo runBlocks(CoreCnvl& convolver, const Stereo& x, const Signal& kernelL, const Signal& kernelR,
                 int block, int from, int blocks) {
    Stereo out{Signal(size_t(blocks) * block), Signal(size_t(blocks) * block)};
    for (int b = 0; b < blocks; ++b) {
        const size_t at = size_t(from + b) * block;
        convolver.cnvlc(const_cast<double*>(&x.left[at]), const_cast<double*>(&x.right[at]),
                        &out.left[size_t(b) * block], &out.right[size_t(b) * block],
                        const_cast<double*>(kernelL.data()), const_cast<double*>(kernelR.data()), nullptr,
                        nullptr);
    }
    return out;
}

Stereo randomStereo(std::mt19937& generator, size_t n) {
    Stereo s{randomSignal(generator, n), randomSignal(generator, n)};
    return s;
}

double tolerance(const Signal& kernel, const Signal& x, double relative = 1e-10) {
    return relative * sumOfMagnitudes(kernel) * largestMagnitude(x);
}

// A folder of its own for the log of one test.
struct LogFolder {
    std::filesystem::path folder;
    explicit LogFolder(const std::string& name) {
        folder =
            std::filesystem::temp_directory_path() / ("fftmodes-" + std::to_string(getpid()) + "-" + name);
        std::filesystem::remove_all(folder);
        std::filesystem::create_directories(folder);
        CoreLog_::setpt(CoreAnsx((folder.string() + "/").c_str()));
        CoreLog_::setdb(2, false);
    }
    ~LogFolder() {
        CoreLog_::setdb(0, false);
        std::filesystem::remove_all(folder);
    }
    std::string text() const {
        std::ifstream file(folder / CoreLog_::getfn().c_str());
        std::stringstream all;
        all << file.rdbuf();
        return all.str();
    }
};

} // namespace

TEST(CoreOptiBlockModes, PartitionSizesFollowKernelPartitionAndBlock) {
    struct Case {
        int kernel, partition, block, partitions, fftSize, lastLength;
    };
    const Case cases[] = {
        {512, 128, 128, 4, 256, 128}, // a multiple of S: P = K / S partitions of S
        {513, 128, 128, 5, 256, 1},   // S x P + 1: one more partition of one tap
        {100, 128, 128, 1, 256, 100},    {1, 128, 128, 1, 256, 1},
        {128, 129, 128, 1, 256, 128}, // B + S - 1 = 256
        {128, 130, 128, 1, 512, 128}, // B + S - 1 = 257
        {44100, 512, 512, 87, 1024, 68},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "K " << c.kernel << " S " << c.partition << " B " << c.block);
        int partitions = 0, fftSize = 0;
        ASSERT_TRUE(partitionSizes(c.kernel, c.partition, c.block, partitions, fftSize));
        EXPECT_EQ(partitions, c.partitions);
        EXPECT_EQ(fftSize, c.fftSize);
        std::vector<int> lengths(partitions, -1);
        ASSERT_TRUE(partitionSizes(c.kernel, c.partition, c.block, partitions, fftSize, lengths.data()));
        for (int k = 0; k + 1 < partitions; ++k) EXPECT_EQ(lengths[k], c.partition);
        EXPECT_EQ(lengths[partitions - 1], c.lastLength);
    }
    const int refused[][3] = {{0, 128, 128}, {100, 0, 128}, {100, 128, 0}, {-5, 128, 128}, {1, 1 << 28, 128}};
    for (const auto& r : refused) {
        int partitions = -7, fftSize = -7;
        EXPECT_FALSE(partitionSizes(r[0], r[1], r[2], partitions, fftSize));
        EXPECT_EQ(partitions, -7);
        EXPECT_EQ(fftSize, -7);
    }
}

TEST(CoreOptiBlockModes, LoadsSizeTheRingAndReportTheCommonPlan) {
    CorePool pool;
    const int64_t baseline = pool.getma();
    bool changed = true;
    for (short mode : {10, 11}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        auto convolver = blockConvolver(pool, mode, 128, 1000, &changed);
        ASSERT_TRUE(convolver->plan_());
        EXPECT_EQ(convolver->length(), 256);
        EXPECT_EQ(convolver->position(), 256);
        EXPECT_GT(pool.getma(), baseline);
        int length = 0, step = 0;
        EXPECT_EQ(convolver->getci(length, step), mode == 11);
        if (mode == 11) {
            EXPECT_EQ(length, 256);
        }
        EXPECT_EQ(step, 128);
        EXPECT_EQ(convolver->extension().partitions, 8);
        convolver->delpl();
        EXPECT_FALSE(convolver->getci(length, step));
    }
    auto whole = blockConvolver(pool, 9, 128, 1000, &changed, nullptr, 2048);
    ASSERT_TRUE(whole->plan_());
    EXPECT_EQ(whole->length(), 2048);
    whole->delpl();
    whole.reset();
    EXPECT_EQ(pool.getma(), baseline);
}

TEST(CoreOptiBlockModes, LoadsLabelTheirPoolBlocks) {
    LogFolder log("labels");
    CorePool pool;
    bool changed = true;
    auto whole = blockConvolver(pool, 9, 64, 100, &changed, nullptr, 256);
    auto partitioned = blockConvolver(pool, 11, 64, 100, &changed);
    ASSERT_TRUE(whole->plan_());
    ASSERT_TRUE(partitioned->plan_());
    partitioned->set_c(nullptr, 0, 256);
    ASSERT_TRUE(partitioned->planc());
    pool.logdp();
    const std::string text = log.text();
    EXPECT_NE(text.find(" CNV3 "), std::string::npos);
    EXPECT_NE(text.find(" CNV4 "), std::string::npos);
    EXPECT_NE(text.find(" CNV+ 512 "), std::string::npos); // 2 x the group length
    partitioned->delpc();
    partitioned->delpl();
    whole->delpl();
}

TEST(CoreOptiBlockModes, RefusedLoadsAllocateNothing) {
    CorePool pool;
    const int64_t baseline = pool.getma();
    bool changed = true;
    struct Refusal {
        const char* why;
        short mode;
        int block, first, partition, kernel;
    };
    const Refusal refusals[] = {
        {"no kernel", 10, 128, 0, 128, 0},
        {"no kernel", 11, 128, 0, 128, 0},
        {"partition other than the block", 10, 128, 0, 64, 1000},
        {"partition other than the block", 11, 128, 0, 256, 1000},
        {"block not dividing F", 11, 96, 0, 96, 1000},
        {"F not a power of two", 9, 128, 300, 128, 100},
        {"F below the block", 9, 128, 64, 128, 10},
        {"F of one", 9, 1, 1, 1, 1},
        {"F too large", 9, 128, 1 << 28, 128, 10},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(testing::Message() << "mode " << r.mode << ": " << r.why);
        CoreCnvl convolver(&pool, "refused", 0, nullptr, cpuOnly);
        convolver.set__(r.mode, r.block, 64, r.first, r.partition, r.kernel);
        convolver.setup(&changed);
        EXPECT_FALSE(convolver.plan_());
        EXPECT_EQ(pool.getma(), baseline);
        // A refused plan plays silence and unloads safely.
        Signal in(r.block, 1.0), outL(r.block, 5.0), outR(r.block, 5.0), kernel(1024, 1.0);
        convolver.cnvlc(in.data(), in.data(), outL.data(), outR.data(), kernel.data(), kernel.data(), nullptr,
                        nullptr);
        EXPECT_EQ(largestMagnitude(outL) + largestMagnitude(outR), 0.0);
        convolver.delpl();
        convolver.delpl();
    }
    EXPECT_EQ(pool.getma(), baseline);
}

TEST(CoreOptiBlockModes, UnloadIsSafeTwiceAndPlanningTwiceDoesNotLeak) {
    CorePool pool;
    const int64_t baseline = pool.getma();
    bool changed = true;
    for (short mode : {9, 10, 11}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        auto convolver = blockConvolver(pool, mode, 64, 200, &changed, nullptr, 512);
        ASSERT_TRUE(convolver->plan_());
        const int64_t planned = pool.getma();
        ASSERT_TRUE(convolver->plan_()); // again without delpl: the first plan is released
        EXPECT_EQ(pool.getma(), planned);
        convolver->delpl();
        convolver->delpl();
        convolver.reset();
        EXPECT_EQ(pool.getma(), baseline);
    }
}

TEST(CoreOptiBlockModes, CpuModesMatchNaiveConvolution) {
    CorePool pool;
    std::mt19937 generator(7);
    const int blocks = 20;
    for (int block : {128, 512}) {
        for (int kernelLength : {1, 100, block, block + 1, 1000, 4410}) {
            const Signal kernelL = decayingKernel(generator, kernelLength);
            const Signal kernelR = decayingKernel(generator, kernelLength);
            const Stereo x = randomStereo(generator, size_t(blocks) * block);
            const Signal wantL = naiveConvolution(x.left, kernelL);
            const Signal wantR = naiveConvolution(x.right, kernelR);
            for (short mode : {9, 10, 11}) {
                SCOPED_TRACE(testing::Message()
                             << "mode " << mode << " B " << block << " K " << kernelLength);
                bool changed = true;
                const int fftSize = powerOfTwoAtLeast(kernelLength + block - 1);
                auto convolver = blockConvolver(pool, mode, block, kernelLength, &changed, nullptr, fftSize);
                ASSERT_TRUE(convolver->plan_());
                const Signal kL = mode == 9 ? paddedTo(kernelL, fftSize) : kernelL;
                const Signal kR = mode == 9 ? paddedTo(kernelR, fftSize) : kernelR;
                const Stereo got = runBlocks(*convolver, x, kL, kR, block, 0, blocks);
                EXPECT_FALSE(changed); // lowered after the right channel
                EXPECT_LE(largestDifference(got.left, wantL), tolerance(kernelL, x.left));
                EXPECT_LE(largestDifference(got.right, wantR), tolerance(kernelR, x.right));
                convolver->delpl();
            }
        }
    }
}

TEST(CoreOptiBlockModes, LongKernelMatchesOnceTheDelayLineIsFull) {
    CorePool pool;
    std::mt19937 generator(11);
    const int block = 512, kernelLength = 44100;
    const int blocks = (kernelLength + block - 1) / block + 4;
    const Signal kernelL = decayingKernel(generator, kernelLength);
    const Signal kernelR = decayingKernel(generator, kernelLength);
    const Stereo x = randomStereo(generator, size_t(blocks) * block);
    const size_t from = size_t(blocks - 4) * block; // 2048 samples, every partition in play
    const Signal wantL = naiveConvolution(x.left, kernelL, from);
    const Signal wantR = naiveConvolution(x.right, kernelR, from);
    for (short mode : {10, 11}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        bool changed = true;
        auto convolver = blockConvolver(pool, mode, block, kernelLength, &changed);
        ASSERT_TRUE(convolver->plan_());
        const Stereo got = runBlocks(*convolver, x, kernelL, kernelR, block, 0, blocks);
        const Signal gotL(got.left.begin() + from, got.left.end());
        const Signal gotR(got.right.begin() + from, got.right.end());
        EXPECT_LE(largestDifference(gotL, wantL), tolerance(kernelL, x.left));
        EXPECT_LE(largestDifference(gotR, wantR), tolerance(kernelR, x.right));
        convolver->delpl();
    }
}

TEST(CoreOptiBlockModes, KernelChangedFlagDecidesWhenEditsApply) {
    CorePool pool;
    std::mt19937 generator(13);
    const int block = 128, partitions = 4, kernelLength = partitions * block, blocks = 16, raisedAt = 6;
    const Signal oldL = decayingKernel(generator, kernelLength),
                 oldR = decayingKernel(generator, kernelLength);
    const Signal newL = decayingKernel(generator, kernelLength),
                 newR = decayingKernel(generator, kernelLength);
    const Stereo x = randomStereo(generator, size_t(blocks) * block);
    for (short mode : {9, 10, 11}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        const int fftSize = 2 * kernelLength;
        // Mode 9's whole-kernel tail of block t - 1 also ends within P blocks (K = P x B).
        const int delayLine = partitions;
        auto padded = [&](const Signal& k) { return mode == 9 ? paddedTo(k, fftSize) : k; };

        // Left false after the first block: an edit changes nothing.
        bool changed = true;
        auto kept = blockConvolver(pool, mode, block, kernelLength, &changed, nullptr, fftSize);
        ASSERT_TRUE(kept->plan_());
        Stereo got = runBlocks(*kept, x, padded(oldL), padded(oldR), block, 0, 1);
        const Stereo later = runBlocks(*kept, x, padded(newL), padded(newR), block, 1, blocks - 1);
        got.left.insert(got.left.end(), later.left.begin(), later.left.end());
        got.right.insert(got.right.end(), later.right.begin(), later.right.end());
        EXPECT_LE(largestDifference(got.left, naiveConvolution(x.left, oldL)), tolerance(oldL, x.left));
        EXPECT_LE(largestDifference(got.right, naiveConvolution(x.right, oldR)), tolerance(oldR, x.right));
        kept->delpl();

        // Raised at block t: from block t + P on the output is the new kernel's alone.
        changed = true;
        auto edited = blockConvolver(pool, mode, block, kernelLength, &changed, nullptr, fftSize);
        ASSERT_TRUE(edited->plan_());
        Stereo before = runBlocks(*edited, x, padded(oldL), padded(oldR), block, 0, raisedAt);
        changed = true;
        const Stereo after =
            runBlocks(*edited, x, padded(newL), padded(newR), block, raisedAt, blocks - raisedAt);
        const size_t settled = size_t(delayLine) * block;
        const Signal wantL = naiveConvolution(x.left, newL, size_t(raisedAt) * block);
        const Signal wantR = naiveConvolution(x.right, newR, size_t(raisedAt) * block);
        EXPECT_LE(largestDifference(after.left, wantL, settled), tolerance(newL, x.left));
        EXPECT_LE(largestDifference(after.right, wantR, settled), tolerance(newR, x.right));
        // Before that, the old kernel still shapes what is in flight.
        EXPECT_GT(largestDifference(after.left, wantL), 1e-3);
        EXPECT_LE(largestDifference(before.left, naiveConvolution(x.left, oldL, 0, before.left.size())),
                  tolerance(oldL, x.left));
        edited->delpl();
    }
}

TEST(CoreOptiBlockModes, NullKernelFlagReadsAsFalse) {
    CorePool pool;
    std::mt19937 generator(17);
    const Signal kernel = decayingKernel(generator, 100);
    const Stereo x = randomStereo(generator, 256);
    auto convolver = blockConvolver(pool, 11, 128, 100, nullptr);
    ASSERT_TRUE(convolver->plan_());
    const Stereo got = runBlocks(*convolver, x, kernel, kernel, 128, 0, 2);
    EXPECT_EQ(largestMagnitude(got.left) + largestMagnitude(got.right), 0.0); // no spectra yet
    convolver->delpl();
}

TEST(CoreOptiBlockModes, MonoKernelConvolvesBothChannelsWithTheLeftKernel) {
    CorePool pool;
    std::mt19937 generator(19);
    const int block = 128, kernelLength = 300, blocks = 12;
    const Signal kernelL = decayingKernel(generator, kernelLength);
    const Signal ignored = decayingKernel(generator, kernelLength);
    const Stereo x = randomStereo(generator, size_t(blocks) * block);
    bool changed = true;
    auto convolver = blockConvolver(pool, 11, block, kernelLength, &changed);
    convolver->setms(true);
    ASSERT_TRUE(convolver->plan_());
    const Stereo got = runBlocks(*convolver, x, kernelL, ignored, block, 0, blocks);
    EXPECT_LE(largestDifference(got.left, naiveConvolution(x.left, kernelL)), tolerance(kernelL, x.left));
    EXPECT_LE(largestDifference(got.right, naiveConvolution(x.right, kernelL)), tolerance(kernelL, x.right));

    // The spectra are made once: the flag falls after the left channel's call (spectra index 1).
    FFTEXTENSION extension = convolver->extension();
    Signal ring(3 * 256, 0.0), out(block);
    changed = true;
    CoreOpti::cnm12(x.left.data(), out.data(), kernelL.data(), ring.data(), 256, 256, &extension, 1, 0);
    EXPECT_FALSE(changed);
    // Without the mono flag the left call (spectra 0) leaves it for the right one.
    changed = true;
    CoreOpti::cnm12(x.left.data(), out.data(), kernelL.data(), ring.data(), 256, 256, &extension, 0, 0);
    EXPECT_TRUE(changed);
    CoreOpti::cnm12(x.right.data(), out.data(), kernelL.data(), ring.data(), 256, 256, &extension, 1, 1);
    EXPECT_FALSE(changed);
    convolver->delpl();
}

namespace {

// Three mode-11 convolvers run as the processor runs a power chain: x, x^2 and x^3, each through
// vltry with two routine calls per pass.
struct PowerGroup {
    static const int block = 128;
    static const int count = 2 * block;
    static const int kernelLength = 500;
    CorePool& pool;
    std::vector<std::unique_ptr<CoreCnvl>> convolvers;
    std::vector<Signal> kernelsL, kernelsR;
    bool changed[3] = {true, true, true};

    PowerGroup(CorePool& p, std::mt19937& generator, CoreCubr* bridge = nullptr, short mode = 11) : pool(p) {
        for (int i = 0; i < 3; ++i) {
            kernelsL.push_back(decayingKernel(generator, kernelLength));
            kernelsR.push_back(decayingKernel(generator, kernelLength));
            convolvers.push_back(blockConvolver(pool, mode, block, kernelLength, &changed[i], bridge));
            EXPECT_TRUE(convolvers.back()->plan_());
        }
    }
    ~PowerGroup() {
        for (auto& c : convolvers) {
            c->delpc();
            c->delpl();
        }
    }
    // Builds a group with the given common modes and group length (the leader first).
    void group(const short modes[3], long groupLength) {
        for (int i = 0; i < 3; ++i) {
            convolvers[i]->set_c(i == 0 ? nullptr : convolvers[0]->grplc(), modes[i], groupLength);
            EXPECT_TRUE(convolvers[i]->planc());
        }
    }
    // Runs the chain over x; conv[i] receives convolver i's own output, the return value the sum.
    Stereo run(const Stereo& x, std::vector<Stereo>& conv) {
        const size_t n = x.left.size();
        conv.assign(3, Stereo{Signal(n), Signal(n)});
        Stereo sum{Signal(n), Signal(n)};
        Signal workL(count), workR(count);
        for (size_t at = 0; at < n; at += count) {
            for (int i = 0; i < 3; ++i)
                convolvers[i]->vltry(i == 0, i == 0, const_cast<double*>(&x.left[at]),
                                     const_cast<double*>(&x.right[at]), &sum.left[at], &sum.right[at],
                                     kernelsL[i].data(), kernelsR[i].data(), workL.data(), workR.data(),
                                     &conv[i].left[at], &conv[i].right[at], count, nullptr, nullptr);
        }
        return sum;
    }
    // The sum of x^k convolved with kernel k.
    Stereo reference(const Stereo& x) const {
        Stereo want{Signal(x.left.size(), 0.0), Signal(x.left.size(), 0.0)};
        Signal powerL(x.left.size(), 1.0), powerR(x.right.size(), 1.0);
        for (int i = 0; i < 3; ++i) {
            for (size_t j = 0; j < powerL.size(); ++j) {
                powerL[j] *= x.left[j];
                powerR[j] *= x.right[j];
            }
            const Signal yL = naiveConvolution(powerL, kernelsL[i]),
                         yR = naiveConvolution(powerR, kernelsR[i]);
            for (size_t j = 0; j < yL.size(); ++j) {
                want.left[j] += yL[j];
                want.right[j] += yR[j];
            }
        }
        return want;
    }
    double bound(const Stereo& x, double relative) const {
        double kernels = 0.0;
        for (int i = 0; i < 3; ++i) kernels += sumOfMagnitudes(kernelsL[i]) + sumOfMagnitudes(kernelsR[i]);
        return relative * kernels * largestMagnitude(x.left);
    }
};

Stereo sumOf(const std::vector<Stereo>& parts) {
    Stereo sum{Signal(parts[0].left.size(), 0.0), Signal(parts[0].left.size(), 0.0)};
    for (const Stereo& p : parts)
        for (size_t j = 0; j < sum.left.size(); ++j) {
            sum.left[j] += p.left[j];
            sum.right[j] += p.right[j];
        }
    return sum;
}

} // namespace

TEST(CoreOptiBlockModes, CommonGroupSumsInTheLastMember) {
    CorePool pool;
    const int64_t baseline = pool.getma();
    std::mt19937 generator(23);
    {
        PowerGroup chain(pool, generator);
        const Stereo x = randomStereo(generator, 10 * PowerGroup::count);
        int length = 0, step = 0;
        ASSERT_TRUE(chain.convolvers[0]->getci(length, step));
        const short modes[3] = {0, 1, 2};
        chain.group(modes, long(length) * (PowerGroup::count / step));
        ASSERT_NE(chain.convolvers[0]->grplc(), nullptr);
        std::vector<Stereo> conv;
        const Stereo sum = chain.run(x, conv);
        const Stereo want = chain.reference(x);
        EXPECT_EQ(largestMagnitude(conv[0].left) + largestMagnitude(conv[0].right), 0.0);
        EXPECT_EQ(largestMagnitude(conv[1].left) + largestMagnitude(conv[1].right), 0.0);
        EXPECT_LE(largestDifference(conv[2].left, want.left), chain.bound(x, 1e-10));
        EXPECT_LE(largestDifference(conv[2].right, want.right), chain.bound(x, 1e-10));
        EXPECT_LE(largestDifference(sum.left, want.left), chain.bound(x, 1e-10));
    }
    EXPECT_EQ(pool.getma(), baseline); // the leader's buffer went back with its common plan
}

TEST(CoreOptiBlockModes, CommonModeThreeSpreadsTheSumOverAllOutputs) {
    CorePool pool;
    std::mt19937 generator(29);
    PowerGroup chain(pool, generator);
    const Stereo x = randomStereo(generator, 8 * PowerGroup::count);
    std::vector<Stereo> conv;
    chain.run(x, conv);
    const Stereo want = chain.reference(x);
    for (const Stereo& part : conv) EXPECT_GT(largestMagnitude(part.left), 1e-3);
    const Stereo sum = sumOf(conv);
    EXPECT_LE(largestDifference(sum.left, want.left), chain.bound(x, 1e-10));
    EXPECT_LE(largestDifference(sum.right, want.right), chain.bound(x, 1e-10));
}

TEST(CoreOptiBlockModes, CommonSlotOutsideTheBufferBehavesAsModeThree) {
    CorePool pool;
    std::mt19937 generator(31);
    PowerGroup chain(pool, generator);
    const Stereo x = randomStereo(generator, 8 * PowerGroup::count);
    const short modes[3] = {0, 1, 2};
    chain.group(modes, 256); // room for one routine call per pass; the second falls outside
    std::vector<Stereo> conv;
    chain.run(x, conv);
    const Stereo want = chain.reference(x);
    const Stereo sum = sumOf(conv);
    EXPECT_LE(largestDifference(sum.left, want.left), chain.bound(x, 1e-10));
    EXPECT_LE(largestDifference(sum.right, want.right), chain.bound(x, 1e-10));
    // The first half of every pass went through the group, the second half did not.
    EXPECT_EQ(std::fabs(conv[0].left[5]), 0.0);
    EXPECT_GT(largestMagnitude(
                  Signal(conv[0].left.begin() + PowerGroup::block, conv[0].left.begin() + PowerGroup::count)),
              1e-3);
}

TEST(CoreOptiBlockModes, LeaderAndLastOfTwoGiveSilenceAndTheSum) {
    CorePool pool;
    std::mt19937 generator(37);
    const int block = 128, kernelLength = 256, blocks = 10;
    const Stereo x = randomStereo(generator, size_t(blocks) * block);
    const Signal k0 = decayingKernel(generator, kernelLength), k1 = decayingKernel(generator, kernelLength);
    bool changed0 = true, changed1 = true;
    auto leader = blockConvolver(pool, 11, block, kernelLength, &changed0);
    auto last = blockConvolver(pool, 11, block, kernelLength, &changed1);
    ASSERT_TRUE(leader->plan_());
    ASSERT_TRUE(last->plan_());
    leader->set_c(nullptr, 0, 256);
    ASSERT_TRUE(leader->planc());
    last->set_c(leader->grplc(), 2, 256);
    ASSERT_TRUE(last->planc());
    Stereo silent{Signal(x.left.size()), Signal(x.left.size())}, both = silent;
    Signal workL(block), workR(block);
    for (int b = 0; b < blocks; ++b) {
        const size_t at = size_t(b) * block;
        Signal outL(block), outR(block);
        leader->vltry(true, true, const_cast<double*>(&x.left[at]), const_cast<double*>(&x.right[at]),
                      outL.data(), outR.data(), const_cast<double*>(k0.data()),
                      const_cast<double*>(k0.data()), workL.data(), workR.data(), &silent.left[at],
                      &silent.right[at], block, nullptr, nullptr);
        last->vltry(true, true, const_cast<double*>(&x.left[at]), const_cast<double*>(&x.right[at]),
                    outL.data(), outR.data(), const_cast<double*>(k1.data()), const_cast<double*>(k1.data()),
                    workL.data(), workR.data(), &both.left[at], &both.right[at], block, nullptr, nullptr);
    }
    EXPECT_EQ(largestMagnitude(silent.left) + largestMagnitude(silent.right), 0.0);
    Signal want = naiveConvolution(x.left, k0);
    const Signal second = naiveConvolution(x.left, k1);
    for (size_t j = 0; j < want.size(); ++j) want[j] += second[j];
    EXPECT_LE(largestDifference(both.left, want), 1e-10 * (sumOfMagnitudes(k0) + sumOfMagnitudes(k1)));
    last->delpc();
    leader->delpc();
    last->delpl();
    leader->delpl();
}

TEST(CoreOptiBlockModes, UnknownCommonModeWritesSilence) {
    CorePool pool;
    std::mt19937 generator(41);
    bool changed = true;
    const Signal kernel = decayingKernel(generator, 100);
    const Stereo x = randomStereo(generator, 512);
    auto convolver = blockConvolver(pool, 11, 128, 100, &changed);
    ASSERT_TRUE(convolver->plan_());
    Signal buffer(1024, 0.0);
    convolver->setci(buffer.data(), 7, 512);
    const Stereo got = runBlocks(*convolver, x, kernel, kernel, 128, 0, 4);
    EXPECT_EQ(largestMagnitude(got.left) + largestMagnitude(got.right), 0.0);
    EXPECT_EQ(largestMagnitude(buffer), 0.0);
    convolver->delpl();
}

TEST(CoreOptiBlockModes, CrossfadeOfTwoConvolversInModeEleven) {
    CorePool pool;
    std::mt19937 generator(43);
    const int block = 128, kernelLength = 400, blocks = 6;
    const Signal kA = decayingKernel(generator, kernelLength), kB = decayingKernel(generator, kernelLength);
    const Stereo x = randomStereo(generator, size_t(blocks) * block);
    bool changedA = true, changedB = true;
    auto a = blockConvolver(pool, 11, block, kernelLength, &changedA);
    auto b = blockConvolver(pool, 11, block, kernelLength, &changedB);
    ASSERT_TRUE(a->plan_());
    ASSERT_TRUE(b->plan_());
    Signal fadeIn(block), fadeOut(block);
    for (int j = 0; j < block; ++j) {
        fadeIn[j] = double(j) / block;
        fadeOut[j] = 1.0 - fadeIn[j];
    }
    const Signal wantA = naiveConvolution(x.left, kA), wantB = naiveConvolution(x.left, kB);
    for (int blockIndex = 0; blockIndex < blocks; ++blockIndex) {
        const size_t at = size_t(blockIndex) * block;
        Signal mixL(block), mixR(block), convAL(block), convAR(block), convBL(block), convBR(block);
        long fadeIndex = -1; // read from step - 1 down to 0
        double* inL = const_cast<double*>(&x.left[at]);
        double* inR = const_cast<double*>(&x.right[at]);
        a->cnvsc(true, inL, inR, mixL.data(), mixR.data(), const_cast<double*>(kA.data()),
                 const_cast<double*>(kA.data()), convAL.data(), convAR.data(), fadeOut.data(), fadeIndex,
                 nullptr, nullptr);
        EXPECT_EQ(fadeIndex, -1); // replace leaves it
        b->cnvsc(false, inL, inR, mixL.data(), mixR.data(), const_cast<double*>(kB.data()),
                 const_cast<double*>(kB.data()), convBL.data(), convBR.data(), fadeIn.data(), fadeIndex,
                 nullptr, nullptr);
        EXPECT_EQ(fadeIndex, -1); // written back: step - 1 down past 0
        for (int j = 0; j < block; ++j) {
            const int f = block - 1 - j;
            EXPECT_NEAR(convAL[j], wantA[at + j], tolerance(kA, x.left));
            EXPECT_NEAR(convBL[j], wantB[at + j], tolerance(kB, x.left));
            EXPECT_DOUBLE_EQ(mixL[j], convAL[j] * fadeOut[f] + convBL[j] * fadeIn[f]);
        }
    }
    // cnvlc is one routine call: the position moves by one block.
    const int before = a->position();
    Signal outL(block), outR(block);
    a->cnvlc(const_cast<double*>(x.left.data()), const_cast<double*>(x.right.data()), outL.data(),
             outR.data(), const_cast<double*>(kA.data()), const_cast<double*>(kA.data()), nullptr, nullptr);
    const int n = a->length();
    EXPECT_EQ((a->position() - n) % n, (before + block - n) % n);
    a->delpl();
    b->delpl();
}

TEST(CoreOptiBlockModes, OneTapDelaysTheInputByItsTap) {
    CorePool pool;
    std::mt19937 generator(47);
    const int n = 16, count = 200;
    Signal kernel = randomSignal(generator, n);
    const Signal input = randomSignal(generator, count);
    Signal fade(count, 1.0);
    for (int tap : {0, 1, 5, n - 1}) {
        SCOPED_TRACE(testing::Message() << "tap " << tap);
        CoreCnvl convolver(&pool, "tap", 0, nullptr, cpuOnly);
        EXPECT_EQ(convolver.set__(17, 64, n, 0, 0, n), 1);
        convolver.setff(tap);
        ASSERT_TRUE(convolver.plan_());
        Signal mixL(count), mixR(count), dryL(count), dryR(count), convL(count), convR(count);
        long fadeIndex = 0;
        convolver.cnvsy(true, const_cast<double*>(input.data()), const_cast<double*>(input.data()),
                        mixL.data(), mixR.data(), kernel.data(), kernel.data(), dryL.data(), dryR.data(),
                        convL.data(), convR.data(), fade.data(), fadeIndex, count, nullptr, nullptr);
        for (int t = 0; t < count; ++t) {
            const double want = t >= tap ? kernel[tap] * input[t - tap] : 0.0;
            EXPECT_EQ(convL[t], want) << t;
            EXPECT_EQ(convR[t], want) << t;
        }
    }

    // Zero, negative zero and denormal inputs store +0.0, even against a negative tap.
    kernel[3] = -0.75;
    CoreCnvl quiet(&pool, "quiet", 0, nullptr, cpuOnly);
    quiet.set__(17, 64, n, 0, 0, n);
    quiet.setff(3);
    ASSERT_TRUE(quiet.plan_());
    const Signal tiny = {0.0, -0.0, DBL_MIN / 4, -DBL_MIN / 8, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0};
    Signal outL(tiny.size()), outR(tiny.size()), dry(tiny.size()), mix(tiny.size());
    long fadeIndex = 0;
    quiet.cnvsy(true, const_cast<double*>(tiny.data()), const_cast<double*>(tiny.data()), mix.data(),
                mix.data(), kernel.data(), kernel.data(), dry.data(), dry.data(), outL.data(), outR.data(),
                fade.data(), fadeIndex, int(tiny.size()), nullptr, nullptr);
    for (double v : outL) {
        EXPECT_EQ(v, 0.0);
        EXPECT_FALSE(std::signbit(v));
    }
}

TEST(CoreOptiBlockModes, OneTapOutsideTheRingConvolvesWithTheWholeKernel) {
    CorePool pool;
    std::mt19937 generator(53);
    const int n = 16, count = 100;
    const Signal kernel = randomSignal(generator, n);
    const Signal input = randomSignal(generator, count);
    const Signal want = naiveConvolution(input, kernel);
    Signal fade(count, 1.0);
    for (int tap : {-1, n, 1 << 30}) {
        SCOPED_TRACE(testing::Message() << "tap " << tap);
        CoreCnvl convolver(&pool, "tap", 0, nullptr, cpuOnly);
        convolver.set__(17, 64, n, 0, 0, n);
        convolver.setff(tap);
        ASSERT_TRUE(convolver.plan_());
        Signal mix(count), dry(count), convL(count), convR(count);
        long fadeIndex = 0;
        convolver.cnvsy(true, const_cast<double*>(input.data()), const_cast<double*>(input.data()),
                        mix.data(), mix.data(), const_cast<double*>(kernel.data()),
                        const_cast<double*>(kernel.data()), dry.data(), dry.data(), convL.data(),
                        convR.data(), fade.data(), fadeIndex, count, nullptr, nullptr);
        EXPECT_LE(largestDifference(convL, want), 1e-12 * sumOfMagnitudes(kernel));
    }
}

TEST(CoreOptiBlockModes, ClearSilencesUntilTheKernelFlagRisesAgain) {
    CorePool pool;
    std::mt19937 generator(59);
    const int block = 128, kernelLength = 300;
    const Signal kernel = decayingKernel(generator, kernelLength);
    const Stereo x = randomStereo(generator, 8 * block);
    for (short mode : {9, 10, 11}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        bool changed = true;
        auto convolver = blockConvolver(pool, mode, block, kernelLength, &changed, nullptr, 512);
        ASSERT_TRUE(convolver->plan_());
        const Signal k = mode == 9 ? paddedTo(kernel, 512) : kernel;
        runBlocks(*convolver, x, k, k, block, 0, 4);
        convolver->clear();
        const Stereo silent = runBlocks(*convolver, x, k, k, block, 4, 2);
        // Mode 9 keeps its kernel spectra in the work buffer, which clear zeroes too.
        EXPECT_EQ(largestMagnitude(silent.left) + largestMagnitude(silent.right), 0.0);
        changed = true;
        const Stereo back = runBlocks(*convolver, x, k, k, block, 6, 2);
        EXPECT_GT(largestMagnitude(back.left), 1e-3);
        convolver->delpl();
    }
}

TEST(CoreOptiBlockModes, BlockPathAllocatesNothing) {
    CorePool pool;
    std::mt19937 generator(61);
    const int block = 256, kernelLength = 1000, blocks = 50;
    const Signal kernel = paddedTo(decayingKernel(generator, kernelLength), 2048);
    const Stereo x = randomStereo(generator, size_t(blocks) * block);
    std::atomic<long> poolCalls{0};
    auto allocate = pool.allocator;
    pool.allocator = [&](size_t bytes) {
        ++poolCalls;
        return allocate(bytes);
    };
    for (short mode : {9, 10, 11, 17}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        bool changed = true;
        auto convolver = blockConvolver(pool, mode, block, kernelLength, &changed, nullptr, 2048);
        ASSERT_TRUE(convolver->plan_());
        Stereo out{Signal(block), Signal(block)};
        Signal workL(block), workR(block), convL(block), convR(block);
        const long heapBefore = heapAllocations.load(), poolBefore = poolCalls.load();
        const int64_t held = pool.getma();
        for (int b = 0; b < blocks; ++b) {
            changed = b % 7 == 0;
            const size_t at = size_t(b) * block;
            convolver->vltry(true, true, const_cast<double*>(&x.left[at]), const_cast<double*>(&x.right[at]),
                             out.left.data(), out.right.data(), const_cast<double*>(kernel.data()),
                             const_cast<double*>(kernel.data()), workL.data(), workR.data(), convL.data(),
                             convR.data(), block, nullptr, nullptr);
        }
        EXPECT_EQ(heapAllocations.load(), heapBefore);
        EXPECT_EQ(poolCalls.load(), poolBefore);
        EXPECT_EQ(pool.getma(), held);
        convolver->delpl();
    }
    pool.allocator = allocate;
}

// ---- GPU modes over the CPU stand-in bridge ----

namespace {

typedef int32_t (*StandinControl)(int32_t);

// A loader opened on the stand-in, and the stand-in's own controls.
struct StandinBridge {
    CoreCubr bridge;
    void* library = nullptr;
    StandinBridge() {
        CoreCubr::setfn(CoreAnsx(STANDIN_CPU), CoreAnsx(STANDIN_CPU));
        EXPECT_TRUE(bridge.start());
        library = dlLayerOpen(STANDIN_CPU);
    }
    ~StandinBridge() {
        if (library) dlLayerClose(library);
    }
    int32_t control(const char* name, int32_t value) const {
        auto function = reinterpret_cast<StandinControl>(dlLayerSymbol(library, name));
        return function ? function(value) : -1;
    }
};

} // namespace

TEST(CoreOptiBlockModes, GpuModesMatchModeTen) {
    CorePool pool;
    const int64_t baseline = pool.getma();
    std::mt19937 generator(67);
    StandinBridge standin;
    const int block = 128, blocks = 20;
    for (int kernelLength : {100, 128, 129, 700}) {
        const Signal kernelL = decayingKernel(generator, kernelLength);
        const Signal kernelR = decayingKernel(generator, kernelLength);
        const Stereo x = randomStereo(generator, size_t(blocks) * block);
        bool referenceChanged = true;
        auto reference = blockConvolver(pool, 10, block, kernelLength, &referenceChanged);
        ASSERT_TRUE(reference->plan_());
        const Stereo want = runBlocks(*reference, x, kernelL, kernelR, block, 0, blocks);
        reference->delpl();
        for (short mode : {12, 13, 14, 15}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " K " << kernelLength);
            bool changed = true;
            auto convolver = blockConvolver(pool, mode, block, kernelLength, &changed, &standin.bridge);
            ASSERT_EQ(convolver->selectedMode(), mode);
            ASSERT_FALSE(convolver->error());
            ASSERT_TRUE(convolver->plan_());
            EXPECT_EQ(convolver->length(), 256);
            const Stereo got = runBlocks(*convolver, x, kernelL, kernelR, block, 0, blocks);
            EXPECT_FALSE(changed);
            // Every sample, the first two of each block included.
            EXPECT_LE(largestDifference(got.left, want.left), tolerance(kernelL, x.left, 1e-5));
            EXPECT_LE(largestDifference(got.right, want.right), tolerance(kernelR, x.right, 1e-5));
            convolver->clear();
            const Stereo cleared = runBlocks(*convolver, x, kernelL, kernelR, block, 0, 2);
            EXPECT_EQ(largestMagnitude(cleared.left), 0.0);
            convolver->delpl();
            convolver->delpl();
        }
    }
    EXPECT_EQ(pool.getma(), baseline);
}

TEST(CoreOptiBlockModes, GpuCommonGroupAndMonoKernel) {
    CorePool pool;
    std::mt19937 generator(71);
    StandinBridge standin;
    for (short mode : {14, 15}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        PowerGroup chain(pool, generator, &standin.bridge, mode);
        const Stereo x = randomStereo(generator, 6 * PowerGroup::count);
        int length = 0, step = 0;
        ASSERT_TRUE(chain.convolvers[0]->getci(length, step));
        const short modes[3] = {0, 1, 2};
        chain.group(modes, long(length) * (PowerGroup::count / step));
        ASSERT_NE(chain.convolvers[0]->grplc(), nullptr);
        std::vector<Stereo> conv;
        chain.run(x, conv);
        const Stereo want = chain.reference(x);
        EXPECT_EQ(largestMagnitude(conv[0].left) + largestMagnitude(conv[1].left), 0.0);
        EXPECT_LE(largestDifference(conv[2].left, want.left), chain.bound(x, 1e-5));
        EXPECT_LE(largestDifference(conv[2].right, want.right), chain.bound(x, 1e-5));
    }
    for (short mode : {14, 15}) {
        SCOPED_TRACE(testing::Message() << "mono, mode " << mode);
        const Signal kernelL = decayingKernel(generator, 300), ignored = decayingKernel(generator, 300);
        const Stereo x = randomStereo(generator, 10 * 128);
        bool changed = true;
        auto convolver = blockConvolver(pool, mode, 128, 300, &changed, &standin.bridge);
        convolver->setms(true);
        ASSERT_TRUE(convolver->plan_());
        const Stereo got = runBlocks(*convolver, x, kernelL, ignored, 128, 0, 10);
        EXPECT_LE(largestDifference(got.left, naiveConvolution(x.left, kernelL)),
                  tolerance(kernelL, x.left, 1e-5));
        EXPECT_LE(largestDifference(got.right, naiveConvolution(x.right, kernelL)),
                  tolerance(kernelL, x.right, 1e-5));
        convolver->delpl();
    }
}

TEST(CoreOptiBlockModes, FailingBridgeCallsLeaveTheConvolverSilent) {
    CorePool pool;
    const int64_t baseline = pool.getma();
    std::mt19937 generator(73);
    StandinBridge standin;
    const Signal kernel = decayingKernel(generator, 200);
    const Stereo x = randomStereo(generator, 512);
    struct Failure {
        const char* what;
        int32_t which;
        short mode;
    };
    const Failure failures[] = {
        {"mallc", 1, 12}, {"plan_", 2, 12}, {"op32p", 3, 13}, {"op32p", 3, 14}, {"af32p", 3, 15}};
    for (const Failure& f : failures) {
        SCOPED_TRACE(testing::Message() << f.what << " in mode " << f.mode);
        bool changed = true;
        auto convolver = blockConvolver(pool, f.mode, 128, 200, &changed, &standin.bridge);
        ASSERT_EQ(standin.control("standin_fail", f.which), 1);
        EXPECT_FALSE(convolver->plan_());
        standin.control("standin_fail", 0);
        const Stereo got = runBlocks(*convolver, x, kernel, kernel, 128, 0, 4);
        EXPECT_EQ(largestMagnitude(got.left) + largestMagnitude(got.right), 0.0);
        convolver->delpl();
    }
    EXPECT_EQ(pool.getma(), baseline);
}

TEST(CoreOptiBlockModes, GpuRequestsFallBackWithoutTheBridge) {
    CorePool pool;
    CoreCubr::setfn(CoreAnsx("/nonexistent/VoCuBr03.so"), CoreAnsx("/nonexistent/VoCuBr01.so"));
    CoreCubr missing;
    for (short mode : {12, 13, 14, 15, 16}) {
        CoreCnvl convolver(&pool, "fallback", 0, &missing);
        EXPECT_EQ(convolver.set__(mode, 128, 256, 0, 128, 300), 128);
        EXPECT_EQ(convolver.selectedMode(), 11) << mode;
        EXPECT_TRUE(convolver.error()) << mode;
    }
    // Row 16 is never selected, even with a working bridge.
    StandinBridge standin;
    CoreCnvl convolver(&pool, "row16", 0, &standin.bridge);
    EXPECT_EQ(convolver.getbv(), CoreAnsx("stand-in modes 1.0"));
    convolver.set__(16, 128, 256, 0, 128, 300);
    EXPECT_NE(convolver.selectedMode(), 16);
    EXPECT_TRUE(convolver.error());
    convolver.set__(13, 128, 256, 0, 128, 300);
    EXPECT_EQ(convolver.selectedMode(), 13);
}

TEST(CoreOptiBlockModes, GpuElementOperationsForwardToTheBridge) {
    StandinBridge standin;
    VECEXTENSION extension{&standin.bridge};
    EXPECT_EQ(szel2(), 4);
    void* left = nwel2(&extension, nullptr, 8);
    void* right = nwel2(&extension, nullptr, 8);
    ASSERT_NE(left, nullptr);
    ASSERT_NE(right, nullptr);
    const float values[4] = {1.0f, 2.0f, 3.0f, 4.0f};
    copy2(&extension, left, values, 4, false, 2, false);
    copy2(&extension, right, values, 4, false, 0, false);
    adj_2(&extension, left, right, 8, 0.5);
    EXPECT_EQ(static_cast<float*>(left)[2], 0.5f);
    EXPECT_EQ(static_cast<float*>(left)[5], 2.0f);
    EXPECT_EQ(static_cast<float*>(right)[0], 0.5f);
    const int fadesBefore = standin.control("standin_count", 3),
              mixesBefore = standin.control("standin_count", 4);
    fade2(&extension, 8, left, right, 2, values, 2, values);
    VECTORMIXSTRUCT mix{1.0, 1.0, 1.0, 0.0, 0.0, 1.0, 1.0, 1.0, -1, -1};
    void* sources[1] = {left};
    vmix2(&extension, false, false, false, &mix, 8, 1, left, right, sources, sources);
    EXPECT_EQ(standin.control("standin_count", 3), fadesBefore + 1);
    EXPECT_EQ(standin.control("standin_count", 4), mixesBefore + 1);
    dlel2(&extension, nullptr, left); // no bridge entry: nothing happens
    standin.bridge.entry.free_(left);
    standin.bridge.entry.free_(right);

    // Without a loaded bridge the operations do nothing.
    CoreCubr::setfn(CoreAnsx("/nonexistent/a.so"), CoreAnsx("/nonexistent/b.so"));
    CoreCubr missing;
    VECEXTENSION none{&missing};
    EXPECT_EQ(nwel2(&none, nullptr, 8), nullptr);
    adj_2(&none, nullptr, nullptr, 8, 0.5);
    vmix2(nullptr, false, false, false, &mix, 8, 1, nullptr, nullptr, sources, sources);
}

TEST(CoreOptiBlockModes, GpuBlockPathAllocatesNothingOnTheEngineSide) {
    CorePool pool;
    std::mt19937 generator(79);
    StandinBridge standin;
    const int block = 128, kernelLength = 500, blocks = 50;
    const Signal kernel = decayingKernel(generator, kernelLength);
    const Stereo x = randomStereo(generator, size_t(blocks) * block);
    for (short mode : {12, 13, 14, 15}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        bool changed = true;
        auto convolver = blockConvolver(pool, mode, block, kernelLength, &changed, &standin.bridge);
        ASSERT_TRUE(convolver->plan_());
        Signal outL(block), outR(block);
        const long heapBefore = heapAllocations.load();
        const int64_t held = pool.getma();
        for (int b = 0; b < blocks; ++b) {
            changed = b % 9 == 0;
            const size_t at = size_t(b) * block;
            convolver->cnvlc(const_cast<double*>(&x.left[at]), const_cast<double*>(&x.right[at]), outL.data(),
                             outR.data(), const_cast<double*>(kernel.data()),
                             const_cast<double*>(kernel.data()), nullptr, nullptr);
        }
        EXPECT_EQ(heapAllocations.load(), heapBefore);
        EXPECT_EQ(pool.getma(), held);
        convolver->delpl();
    }
}

TEST(CoreOptiBlockModes, LabelsOfTheSingleBridgeModeAndCommonPlans) {
    LogFolder log("gpulabels");
    CorePool pool;
    StandinBridge standin;
    bool changed = true;
    auto convolver = blockConvolver(pool, 12, 128, 300, &changed, &standin.bridge);
    ASSERT_TRUE(convolver->plan_());
    pool.logdp();
    EXPECT_NE(log.text().find(" CNV7 3 "), std::string::npos); // the partition lengths, P = 3
    convolver->delpl();
    // lcom1 refuses to lead a group without room.
    auto leader = blockConvolver(pool, 11, 128, 300, &changed);
    ASSERT_TRUE(leader->plan_());
    leader->set_c(nullptr, 0, 0);
    EXPECT_FALSE(leader->planc());
    EXPECT_EQ(leader->grplc(), nullptr);
    leader->delpc();
    leader->delpl();
}
