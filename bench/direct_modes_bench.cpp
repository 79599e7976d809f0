// Direct kernel modes against baselines measured in the same run: each benchmark times its candidate
// and its baseline alternately inside one loop and reports both per-sample times and their ratio.
// Stereo with a different kernel per channel; kernels are exponentially decaying noise (1 down to
// 1e-6 over N taps); input is white noise at -20 dBFS; 8192 samples per iteration through cnvsy in
// blocks of 512, each block under the denormal guard as the processor runs it.
#include "base/CorePool.h"
#include "convolution/CoreCnvl.h"
#include "base/CoreDnrm.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int samplesPerIteration = 8192;
constexpr int blockSize = 512;
constexpr int blocksPerIteration = samplesPerIteration / blockSize;

CorePool& pool() {
    static CorePool* shared = new CorePool;
    return *shared;
}

std::vector<double> decayingNoiseKernel(std::mt19937& generator, int n) {
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    std::vector<double> kernel(n);
    const double decayPerTap = n > 1 ? std::log(1e-6) / (n - 1) : 0.0;
    for (int j = 0; j < n; ++j) kernel[j] = uniform(generator) * std::exp(decayPerTap * j);
    return kernel;
}

// -20 dBFS peak.
std::vector<double> whiteNoise(std::mt19937& generator, int n) {
    std::uniform_real_distribution<double> uniform(-0.1, 0.1);
    std::vector<double> signal(n);
    for (double& x : signal) x = uniform(generator);
    return signal;
}

// Each block falls from 1e-295 through the denormal range to exact zeros.
std::vector<double> decayingTail(int n) {
    std::vector<double> signal(n);
    for (int i = 0; i < n; ++i) {
        const int inBlock = i % blockSize;
        signal[i] = 1e-295 * std::pow(10.0, -40.0 * inBlock / (0.75 * blockSize)) * (i % 2 ? -1.0 : 1.0);
    }
    return signal;
}

struct Stereo {
    std::vector<double> left, right;
};

// One convolver in one mode with its buffers; plays a stereo signal block by block through cnvsy.
class ModePlayer {
public:
    ModePlayer(short mode, int n, const Stereo& kernel)
        : convolver(&pool(), "bench", n, nullptr), kernel(kernel), mixL(blockSize), mixR(blockSize),
          dryL(blockSize), dryR(blockSize), convL(blockSize), convR(blockSize), fade(blockSize, 1.0) {
        convolver.set__(mode, blockSize, n, 0, 0, n);
        convolver.plan_();
    }

    void play(const Stereo& input) {
        for (int block = 0; block < blocksPerIteration; ++block) {
            CoreDnrm guard;
            double* inL = const_cast<double*>(input.left.data()) + block * blockSize;
            double* inR = const_cast<double*>(input.right.data()) + block * blockSize;
            long fadeIndex = blockSize - 1;
            convolver.cnvsy(true, inL, inR, mixL.data(), mixR.data(), kernel.left.data(), kernel.right.data(),
                            dryL.data(), dryR.data(), convL.data(), convR.data(), fade.data(), fadeIndex,
                            blockSize, nullptr, nullptr);
            benchmark::DoNotOptimize(mixL.data());
            benchmark::DoNotOptimize(mixR.data());
        }
    }

    CoreCnvl convolver;

private:
    Stereo kernel;
    std::vector<double> mixL, mixR, dryL, dryR, convL, convR, fade;
};

// The plain baseline: y[n] = sum k[j] x[n-j] over a linear history of N-1 + block samples.
class NaivePlayer {
public:
    NaivePlayer(int n, const Stereo& kernel)
        : n(n), kernel(kernel), historyL(n - 1 + blockSize, 0.0), historyR(n - 1 + blockSize, 0.0),
          outL(blockSize), outR(blockSize) {}

    void play(const Stereo& input) {
        for (int block = 0; block < blocksPerIteration; ++block) {
            CoreDnrm guard;
            channel(input.left.data() + block * blockSize, kernel.left, historyL, outL);
            channel(input.right.data() + block * blockSize, kernel.right, historyR, outR);
            benchmark::DoNotOptimize(outL.data());
            benchmark::DoNotOptimize(outR.data());
        }
    }

private:
    void channel(const double* in, const std::vector<double>& k, std::vector<double>& history,
                 std::vector<double>& out) {
        // Keep the last N-1 samples, then append the block.
        for (int i = 0; i < n - 1; ++i) history[i] = history[i + blockSize];
        for (int i = 0; i < blockSize; ++i) history[n - 1 + i] = in[i];
        for (int s = 0; s < blockSize; ++s) {
            const double* newest = &history[n - 1 + s];
            double y = 0.0;
            for (int j = 0; j < n; ++j) y += k[j] * newest[-j];
            out[s] = y;
        }
    }

    int n;
    Stereo kernel;
    std::vector<double> historyL, historyR, outL, outR;
};

template <class Work>
double secondsOf(Work&& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void reportPerSample(benchmark::State& state, const char* name, double seconds) {
    const double samples = static_cast<double>(state.iterations()) * samplesPerIteration;
    state.counters[name] = seconds / samples * 1e9;
}

Stereo kernelPair(std::mt19937& generator, int n) {
    Stereo kernel;
    kernel.left = decayingNoiseKernel(generator, n);
    kernel.right = decayingNoiseKernel(generator, n);
    return kernel;
}

Stereo noiseInput(std::mt19937& generator) {
    Stereo input;
    input.left = whiteNoise(generator, samplesPerIteration);
    input.right = whiteNoise(generator, samplesPerIteration);
    return input;
}

// Mode m against mode 3 and against the naive loop.
void BM_DirectModes(benchmark::State& state) {
    const short mode = static_cast<short>(state.range(0));
    const int n = static_cast<int>(state.range(1));
    std::mt19937 generator(1234 + n);
    const Stereo kernel = kernelPair(generator, n);
    const Stereo input = noiseInput(generator);
    ModePlayer candidate(mode, n, kernel);
    ModePlayer mode3(3, n, kernel);
    NaivePlayer naive(n, kernel);
    double candidateSeconds = 0.0, mode3Seconds = 0.0, naiveSeconds = 0.0;
    for (auto _ : state) {
        candidateSeconds += secondsOf([&] { candidate.play(input); });
        mode3Seconds += secondsOf([&] { mode3.play(input); });
        naiveSeconds += secondsOf([&] { naive.play(input); });
    }
    reportPerSample(state, "mode_ns", candidateSeconds);
    reportPerSample(state, "mode3_ns", mode3Seconds);
    reportPerSample(state, "naive_ns", naiveSeconds);
    state.counters["ratio_vs_mode3"] = candidateSeconds / mode3Seconds;
    state.counters["ratio_vs_naive"] = candidateSeconds / naiveSeconds;
}

// A decaying tail that falls through the denormal range against noise, in the same mode.
void BM_DirectDenormal(benchmark::State& state) {
    const short mode = static_cast<short>(state.range(0));
    const int n = 512;
    std::mt19937 generator(99);
    const Stereo kernel = kernelPair(generator, n);
    const Stereo noise = noiseInput(generator);
    Stereo tail;
    tail.left = decayingTail(samplesPerIteration);
    tail.right = tail.left;
    ModePlayer candidate(mode, n, kernel);
    ModePlayer baseline(mode, n, kernel);
    // Both start from a ring full of a loud signal's history.
    candidate.play(noise);
    baseline.play(noise);
    double tailSeconds = 0.0, noiseSeconds = 0.0;
    for (auto _ : state) {
        tailSeconds += secondsOf([&] { candidate.play(tail); });
        noiseSeconds += secondsOf([&] { baseline.play(noise); });
    }
    reportPerSample(state, "tail_ns", tailSeconds);
    reportPerSample(state, "noise_ns", noiseSeconds);
    state.counters["ratio"] = tailSeconds / noiseSeconds;
}

// k chained power passes (separate convolvers, one shared work pair) against k passes that each
// restart the power.
void BM_PowerChain(benchmark::State& state) {
    const short mode = static_cast<short>(state.range(0));
    const int chain = static_cast<int>(state.range(1));
    const int n = 512;
    const int count = 512;
    std::mt19937 generator(7);
    std::vector<Stereo> kernels;
    std::vector<std::unique_ptr<CoreCnvl>> chained, restarted;
    for (int k = 0; k < chain; ++k) {
        kernels.push_back(kernelPair(generator, n));
        chained.push_back(std::make_unique<CoreCnvl>(&pool(), "chain", n, nullptr));
        restarted.push_back(std::make_unique<CoreCnvl>(&pool(), "restart", n, nullptr));
        for (CoreCnvl* c : {chained.back().get(), restarted.back().get()}) {
            c->set__(mode, count, n, 0, 0, n);
            c->plan_();
        }
    }
    const Stereo input = noiseInput(generator);
    std::vector<double> workL(count), workR(count), convL(count), convR(count), outL(count), outR(count);
    auto run = [&](std::vector<std::unique_ptr<CoreCnvl>>& players, bool restart) {
        for (int block = 0; block < samplesPerIteration / count; ++block) {
            CoreDnrm guard;
            double* xL = const_cast<double*>(input.left.data()) + block * count;
            double* xR = const_cast<double*>(input.right.data()) + block * count;
            for (int k = 0; k < chain; ++k) {
                players[k]->vltry(restart || k == 0, k == 0, xL, xR, outL.data(), outR.data(),
                                  kernels[k].left.data(), kernels[k].right.data(), workL.data(), workR.data(),
                                  convL.data(), convR.data(), count, nullptr, nullptr);
            }
            benchmark::DoNotOptimize(outL.data());
        }
    };
    double chainSeconds = 0.0, restartSeconds = 0.0;
    for (auto _ : state) {
        chainSeconds += secondsOf([&] { run(chained, false); });
        restartSeconds += secondsOf([&] { run(restarted, true); });
    }
    reportPerSample(state, "chain_ns", chainSeconds);
    reportPerSample(state, "restart_ns", restartSeconds);
    state.counters["ratio"] = chainSeconds / restartSeconds;
}

} // namespace

BENCHMARK(BM_DirectModes)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {16, 64, 256, 512, 1024, 2048, 4096}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DirectDenormal)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PowerChain)->ArgsProduct({{2, 3}, {1, 2, 3, 4, 5}})->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
