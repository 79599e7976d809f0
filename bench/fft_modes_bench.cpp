// FFT kernel modes against baselines measured in the same run: each benchmark times its candidate and
// its baseline alternately inside one loop and reports both per-block times and their ratio. Stereo
// with a different kernel per channel (exponentially decaying noise), white-noise input, the kernel-
// changed flag lowered after the first block unless stated, each block under the denormal guard. The
// baseline is a minimal uniformly partitioned overlap-save convolver written here on FFTW itself.
#include "base/CorePool.h"
#include "convolution/CoreCnvl.h"
#include "base/CoreDnrm.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <stdexcept>
#include <vector>

namespace {

constexpr int blocksPerRound = 8;

CorePool& pool() {
    static CorePool* shared = new CorePool;
    return *shared;
}

typedef std::vector<double> Signal;

Signal decayingNoiseKernel(std::mt19937& generator, int n) {
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    Signal kernel(n);
    const double decayPerTap = n > 1 ? std::log(1e-6) / (n - 1) : 0.0;
    for (int j = 0; j < n; ++j) kernel[j] = uniform(generator) * std::exp(decayPerTap * j);
    return kernel;
}

Signal whiteNoise(std::mt19937& generator, size_t n) {
    std::uniform_real_distribution<double> uniform(-0.1, 0.1);
    Signal signal(n);
    for (double& x : signal) x = uniform(generator);
    return signal;
}

// Each block falls from 1e-295 through the denormal range to exact zeros.
Signal decayingTail(size_t n, int block) {
    Signal signal(n);
    for (size_t i = 0; i < n; ++i) {
        const int inBlock = static_cast<int>(i % block);
        signal[i] = 1e-295 * std::pow(10.0, -40.0 * inBlock / (0.75 * block)) * (i % 2 ? -1.0 : 1.0);
    }
    return signal;
}

struct Stereo {
    Signal left, right;
};

// The planner flags of the FFT layer: measured plans for the block sizes, estimated above 2^14.
unsigned plannerFlags(int n) {
    return n <= (1 << 14) ? FFTW_MEASURE : FFTW_ESTIMATE;
}

// One channel of a minimal uniformly partitioned overlap-save convolver: partitions of B taps, FFT
// size 2B, kernel spectra made with r2c, a frequency-domain delay line of the last P input spectra.
class PlainChannel {
public:
    PlainChannel(int block, const Signal& kernel) : iBlock(block), iBins(block + 1) {
        iPartitions = (static_cast<int>(kernel.size()) + block - 1) / block;
        pWindow = fftw_alloc_real(2 * block);
        pOutput = fftw_alloc_real(2 * block);
        pSum = fftw_alloc_complex(iBins);
        pSpectra = fftw_alloc_complex(size_t(iBins) * iPartitions);
        pDelayLine = fftw_alloc_complex(size_t(iBins) * iPartitions);
        pForward = fftw_plan_dft_r2c_1d(2 * block, pWindow, pSum, plannerFlags(2 * block));
        pInverse = fftw_plan_dft_c2r_1d(2 * block, pSum, pOutput, plannerFlags(2 * block));
        std::memset(pWindow, 0, sizeof(double) * 2 * block);
        std::memset(pDelayLine, 0, sizeof(fftw_complex) * iBins * iPartitions);
        kernelTaps = kernel;
        transformKernel();
    }
    ~PlainChannel() {
        fftw_destroy_plan(pForward);
        fftw_destroy_plan(pInverse);
        fftw_free(pWindow);
        fftw_free(pOutput);
        fftw_free(pSum);
        fftw_free(pSpectra);
        fftw_free(pDelayLine);
    }
    PlainChannel(const PlainChannel&) = delete;
    PlainChannel& operator=(const PlainChannel&) = delete;

    // The P kernel partitions to spectra (the window is saved around it).
    void transformKernel() {
        std::vector<double> saved(pWindow, pWindow + 2 * iBlock);
        for (int p = 0; p < iPartitions; ++p) {
            std::memset(pWindow, 0, sizeof(double) * 2 * iBlock);
            const int taps = std::min<int>(iBlock, static_cast<int>(kernelTaps.size()) - p * iBlock);
            std::memcpy(pWindow, kernelTaps.data() + size_t(p) * iBlock, sizeof(double) * taps);
            fftw_execute_dft_r2c(pForward, pWindow, pSpectra + size_t(p) * iBins);
        }
        std::memcpy(pWindow, saved.data(), sizeof(double) * 2 * iBlock);
    }

    void process(const double* in, double* out) {
        std::memmove(pWindow, pWindow + iBlock, sizeof(double) * iBlock);
        std::memcpy(pWindow + iBlock, in, sizeof(double) * iBlock);
        fftw_complex* newest = pDelayLine + size_t(iHead) * iBins;
        fftw_execute_dft_r2c(pForward, pWindow, newest);
        std::memset(pSum, 0, sizeof(fftw_complex) * iBins);
        // Plain complex multiply-accumulate on interleaved (re, im) pairs; the buffers never overlap.
        double* __restrict sum = pSum[0];
        const int bins = iBins;
        int slot = iHead;
        for (int p = 0; p < iPartitions; ++p) {
            const double* __restrict x = pDelayLine[size_t(slot) * bins];
            const double* __restrict h = pSpectra[size_t(p) * bins];
            for (int k = 0; k < 2 * bins; k += 2) {
                sum[k] += x[k] * h[k] - x[k + 1] * h[k + 1];
                sum[k + 1] += x[k] * h[k + 1] + x[k + 1] * h[k];
            }
            if (--slot < 0) slot = iPartitions - 1;
        }
        fftw_execute_dft_c2r(pInverse, pSum, pOutput);
        const double scale = 1.0 / (2 * iBlock);
        for (int j = 0; j < iBlock; ++j) out[j] = pOutput[iBlock + j] * scale;
        if (++iHead == iPartitions) iHead = 0;
    }

private:
    int iBlock, iBins, iPartitions = 0, iHead = 0;
    double* pWindow;
    double* pOutput;
    fftw_complex* pSum;
    fftw_complex* pSpectra;
    fftw_complex* pDelayLine;
    fftw_plan pForward, pInverse;
    Signal kernelTaps;
};

// A planned convolver of one FFT mode with its kernels and output buffers.
struct ModePlayer {
    std::unique_ptr<CoreCnvl> convolver;
    bool changed = true;
    Signal kernelL, kernelR, outL, outR;
    ModePlayer(short mode, int block, const Signal& kL, const Signal& kR) : kernelL(kL), kernelR(kR) {
        const int kernelLength = static_cast<int>(kL.size());
        int first = 2;
        while (first < kernelLength + block - 1) first *= 2;
        convolver = std::make_unique<CoreCnvl>(&pool(), CoreAnsx("bench"), 0, nullptr,
                                               CoreCnvl::VALIDSTRUCT{true, false, false});
        convolver->set__(mode, block, kernelLength, first, block, kernelLength);
        convolver->setup(&changed);
        if (mode == 9) {
            kernelL.resize(first, 0.0);
            kernelR.resize(first, 0.0);
        }
        if (!convolver->plan_()) throw std::runtime_error("plan failed");
        outL.resize(block);
        outR.resize(block);
    }
    ~ModePlayer() {
        convolver->delpc();
        convolver->delpl();
    }
    void run(const double* inL, const double* inR) {
        convolver->cnvlc(const_cast<double*>(inL), const_cast<double*>(inR), outL.data(), outR.data(),
                         kernelL.data(), kernelR.data(), nullptr, nullptr);
    }
};

struct PlainPlayer {
    PlainChannel left, right;
    Signal outL, outR;
    PlainPlayer(int block, const Signal& kL, const Signal& kR) : left(block, kL), right(block, kR) {
        outL.resize(block);
        outR.resize(block);
    }
    void run(const double* inL, const double* inR) {
        left.process(inL, outL.data());
        right.process(inR, outR.data());
    }
};

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Times `candidate` and `baseline` alternately, blocksPerRound blocks each per iteration, and reports
// their per-block times and ratio.
template <typename Candidate, typename Baseline>
void alternate(benchmark::State& state, int block, Candidate&& candidate, Baseline&& baseline) {
    double candidateSeconds = 0.0, baselineSeconds = 0.0;
    long blocks = 0;
    for (auto _ : state) {
        const CoreDnrm guard;
        auto start = std::chrono::steady_clock::now();
        for (int b = 0; b < blocksPerRound; ++b) candidate(blocks + b);
        candidateSeconds += secondsSince(start);
        start = std::chrono::steady_clock::now();
        for (int b = 0; b < blocksPerRound; ++b) baseline(blocks + b);
        baselineSeconds += secondsSince(start);
        blocks += blocksPerRound;
    }
    state.counters["candidate_us_per_block"] = 1e6 * candidateSeconds / blocks;
    state.counters["baseline_us_per_block"] = 1e6 * baselineSeconds / blocks;
    state.counters["ratio"] = candidateSeconds / baselineSeconds;
    state.counters["block"] = block;
}

// 64 blocks of input, played in a loop.
constexpr int inputBlocks = 64;

Stereo noiseInput(std::mt19937& generator, int block) {
    return Stereo{whiteNoise(generator, size_t(inputBlocks) * block),
                  whiteNoise(generator, size_t(inputBlocks) * block)};
}

const double* at(const Signal& s, long blockIndex, int block) {
    return s.data() + size_t(blockIndex % inputBlocks) * block;
}

// Args: mode, IR length, block.
void BM_Mode11(benchmark::State& state) {
    const short mode = static_cast<short>(state.range(0));
    const int kernelLength = static_cast<int>(state.range(1));
    const int block = static_cast<int>(state.range(2));
    std::mt19937 generator(1);
    const Signal kL = decayingNoiseKernel(generator, kernelLength),
                 kR = decayingNoiseKernel(generator, kernelLength);
    const Stereo x = noiseInput(generator, block);
    ModePlayer candidate(mode, block, kL, kR);
    PlainPlayer baseline(block, kL, kR);
    alternate(
        state, block,
        [&](long b) {
            candidate.run(at(x.left, b, block), at(x.right, b, block));
            benchmark::DoNotOptimize(candidate.outL.data());
        },
        [&](long b) {
            baseline.run(at(x.left, b, block), at(x.right, b, block));
            benchmark::DoNotOptimize(baseline.outL.data());
        });
    state.counters["mode"] = mode;
    state.counters["ir"] = kernelLength;
}

void modeGrid(benchmark::internal::Benchmark* b) {
    for (int mode : {11, 10})
        for (int ir : {4410, 44100, 132300})
            for (int block : {64, 512, 2048}) b->Args({mode, ir, block});
    for (int block : {64, 512, 2048}) b->Args({9, 4410, block});
}
BENCHMARK(BM_Mode11)->Apply(modeGrid)->Unit(benchmark::kMicrosecond);

// Morphing: the kernel-changed flag raised before every block, against the baseline re-transforming
// its partitions every block. Args: block.
void BM_Mode11KernelChange(benchmark::State& state) {
    const int block = static_cast<int>(state.range(0));
    const int kernelLength = 44100;
    std::mt19937 generator(2);
    const Signal kL = decayingNoiseKernel(generator, kernelLength),
                 kR = decayingNoiseKernel(generator, kernelLength);
    const Stereo x = noiseInput(generator, block);
    ModePlayer candidate(11, block, kL, kR);
    PlainPlayer baseline(block, kL, kR);
    alternate(
        state, block,
        [&](long b) {
            candidate.changed = true;
            candidate.run(at(x.left, b, block), at(x.right, b, block));
            benchmark::DoNotOptimize(candidate.outL.data());
        },
        [&](long b) {
            baseline.left.transformKernel();
            baseline.right.transformKernel();
            baseline.run(at(x.left, b, block), at(x.right, b, block));
            benchmark::DoNotOptimize(baseline.outL.data());
        });
}
BENCHMARK(BM_Mode11KernelChange)->Arg(512)->Arg(2048)->Unit(benchmark::kMicrosecond);

// Five mode-11 convolvers: the power chain x ... x^5 through vltry.
struct PowerChain {
    static const int links = 5;
    std::vector<std::unique_ptr<ModePlayer>> players;
    Signal workL, workR, convL, convR, sumL, sumR;
    int block;
    PowerChain(int b, int kernelLength, std::mt19937& generator) : block(b) {
        for (int i = 0; i < links; ++i) {
            const Signal kL = decayingNoiseKernel(generator, kernelLength);
            const Signal kR = decayingNoiseKernel(generator, kernelLength);
            players.push_back(std::make_unique<ModePlayer>(11, block, kL, kR));
        }
        workL.resize(block);
        workR.resize(block);
        convL.resize(block);
        convR.resize(block);
        sumL.resize(block);
        sumR.resize(block);
    }
    // Common modes 0, 1, 1, 1, 2 over a buffer of one routine call per pass.
    void group() {
        int length = 0, step = 0;
        players[0]->convolver->getci(length, step);
        for (int i = 0; i < links; ++i) {
            const short mode = i == 0 ? 0 : (i == links - 1 ? 2 : 1);
            players[i]->convolver->set_c(i == 0 ? nullptr : players[0]->convolver->grplc(), mode, length);
            players[i]->convolver->planc();
        }
    }
    void chain(const double* xL, const double* xR) {
        for (int i = 0; i < links; ++i) {
            CoreCnvl& c = *players[i]->convolver;
            c.vltry(i == 0, i == 0, const_cast<double*>(xL), const_cast<double*>(xR), sumL.data(),
                    sumR.data(), players[i]->kernelL.data(), players[i]->kernelR.data(), workL.data(),
                    workR.data(), convL.data(), convR.data(), block, nullptr, nullptr);
        }
    }
    void singles(const double* xL, const double* xR) {
        for (int i = 0; i < links; ++i) players[i]->run(xL, xR);
    }
};

// Args: variant (0: chain with common mode 3 against five single convolutions; 1: a common group
// against the chain with mode 3), IR length. Block 512.
void BM_PowerChain11(benchmark::State& state) {
    const int variant = static_cast<int>(state.range(0));
    const int kernelLength = static_cast<int>(state.range(1));
    const int block = 512;
    std::mt19937 generator(3);
    const Stereo x = noiseInput(generator, block);
    PowerChain candidate(block, kernelLength, generator);
    PowerChain baseline(block, kernelLength, generator);
    if (variant == 1) candidate.group();
    alternate(
        state, block,
        [&](long b) {
            candidate.chain(at(x.left, b, block), at(x.right, b, block));
            benchmark::DoNotOptimize(candidate.sumL.data());
        },
        [&](long b) {
            if (variant == 1)
                baseline.chain(at(x.left, b, block), at(x.right, b, block));
            else
                baseline.singles(at(x.left, b, block), at(x.right, b, block));
            benchmark::DoNotOptimize(baseline.sumL.data());
        });
    state.counters["variant"] = variant;
    state.counters["ir"] = kernelLength;
}
BENCHMARK(BM_PowerChain11)
    ->Args({0, 4410})
    ->Args({0, 44100})
    ->Args({1, 4410})
    ->Args({1, 44100})
    ->Unit(benchmark::kMicrosecond);

// A decaying tail through the denormal range against noise, 1 s, block 512.
void BM_Mode11Denormal(benchmark::State& state) {
    const int block = 512, kernelLength = 44100;
    std::mt19937 generator(4);
    const Signal kL = decayingNoiseKernel(generator, kernelLength),
                 kR = decayingNoiseKernel(generator, kernelLength);
    const Stereo noise = noiseInput(generator, block);
    const Signal tail = decayingTail(size_t(inputBlocks) * block, block);
    ModePlayer candidate(11, block, kL, kR);
    ModePlayer baseline(11, block, kL, kR);
    alternate(
        state, block,
        [&](long b) {
            candidate.run(at(tail, b, block), at(tail, b, block));
            benchmark::DoNotOptimize(candidate.outL.data());
        },
        [&](long b) {
            baseline.run(at(noise.left, b, block), at(noise.right, b, block));
            benchmark::DoNotOptimize(baseline.outL.data());
        });
}
BENCHMARK(BM_Mode11Denormal)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
