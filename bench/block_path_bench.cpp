// The engine's whole block path (host entry, rings, block processor, program update, gains, meters)
// against bare convolvers configured as the engine's records, on the same kernels and input: each
// benchmark times its candidate and its baseline alternately inside one loop and reports both times
// per 512 samples and their ratio. 48 kHz, DSPBUFFER 512, partitioned FFT mode (step 512) for every
// record, static programs without crossfade. "1": H1 one leaf of a 2-s stereo decaying-noise kernel;
// "5": that plus H2..H5 of 0.5 s (HDIM 5), played as the power-series chain. Every timed section runs
// under the denormal guard. Where CMake found zita-convolver, "1" is also timed against its Convproc
// (report only).
#define CORE_PRCS_ACCESS_ONLY
#include "tests/common/CountingAllocator.h"
#include "tests/processor/AudioRoadScaffold.h"

#include "base/CoreDnrm.h"
#include "base/CorePool.h"
#include "convolution/CoreCnvl.h"
#include "program/CoreProg.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef VORLAN_HAVE_ZITA
#include <pthread.h>
#include <zita-convolver.h>
#endif

namespace {

using Road = CorePrcsTestAccess::AudioRoad;
using Signal = std::vector<double>;

constexpr int32_t rate = 48000;
constexpr int32_t step = 512;
constexpr int32_t round = 4096;              // samples per timed section: whole host blocks of every size
constexpr int32_t inputLength = 24 * round;  // about 2 s of input, played in a loop
constexpr int32_t longTaps = 2 * rate;       // H1
constexpr int32_t shortTaps = rate / 2;      // H2..H5
// After a load the program's vectors blend their kernels in over the first update periods (about
// twenty here, each a new kernel that mode 11 transforms again); a static program is timed once that
// has settled, which these untimed sections (about 1 s) leave well behind.
constexpr int32_t settleSections = 12;
// Input noise peak: the 2-s kernel sums to several thousand, so this keeps the output below full
// scale, where the engine plays its normal path instead of muting a block for protection.
constexpr float inputPeak = 0.004f;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::vector<float> noise(unsigned seed, float amplitude) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<float> uniform(-amplitude, amplitude);
    std::vector<float> v(inputLength);
    for (float& x : v) x = uniform(generator);
    return v;
}

// One engine with a harmonics-deep program installed, and bare convolvers configured as its records
// (same mode, sizes, offset and kernels), with the work buffers of the chain.
struct Rig {
    CorePool pool;
    bench::TempFolder folder{"block_path_bench"};
    std::unique_ptr<CorePrcs> engine;
    int harmonics;
    std::vector<std::unique_ptr<CoreCnvl>> bare;
    bool changed[5] = {true, true, true, true, true};
    Signal work[2], conv[2], in[2], out[2];

    explicit Rig(int n) : harmonics(n) {
        const std::filesystem::path data = folder.root / "data";
        std::string body = Road::tag("HDIM", std::to_string(n));
        for (int h = 0; h < n; ++h) {
            const size_t taps = h == 0 ? longTaps : shortTaps;
            const std::string file = "K" + std::to_string(h + 1) + ".WAV";
            Road::writeKernel(pool, data / file, Road::decayingNoise(taps, 100 + 2 * h),
                              Road::decayingNoise(taps, 101 + 2 * h), rate);
            // The third stage's length (µs) keeps the whole kernel.
            const std::string common =
                Road::tag("MINVALUE", " 0 ") + Road::tag("MAXVALUE", "1") +
                Road::tag("OT2", Road::tag("LENGTH", std::to_string(h == 0 ? 2000000 : 500000)));
            body += Road::tag("H" + std::to_string(h + 1),
                              Road::tag("ELEMENT", Road::tag("VECTOR", Road::tag("COMMON", common) +
                                                                          Road::tag("ELEMENT", Road::tag("FILENAME", file) +
                                                                                                   Road::tag("WEIGHT", " 0 ")))));
        }
        const std::string program = Road::tag("PROGRAM", Road::tag("NAME", "B") + Road::tag("GAININ", " 0 ") +
                                                             Road::tag("GAINOUT", " 0 ") + Road::tag("SMOOTH", "-1") +
                                                             body);
        const std::string settings = "<MASTER><DATAPATH>" + data.string() + "/</DATAPATH><DSPBUFFER>" +
                                     std::to_string(step) + "</DSPBUFFER><HDIM>5</HDIM><LFREQD>3000000</LFREQD></MASTER>";
        engine = std::make_unique<CorePrcs>(&pool, CoreAnsx((folder.root.string() + "/").c_str()), rate, nullptr,
                                            CoreAnsx("0"), false, false, nullptr, CoreAnsx(settings.c_str()), false,
                                            nullptr);
        CorePrcsTestAccess::boot(*engine);
        if (!Road::install(*engine, program, 11)) throw std::runtime_error("program install failed");

        CoreProg& p = CorePrcsTestAccess::program(*engine);
        const int offset = std::max(p.getof(), 0);
        for (int h = 0; h < n; ++h) {
            const int taps = p.getep(static_cast<int16_t>(h));
            int first = 2;
            while (first < taps + step - 1) first *= 2;
            auto c = std::make_unique<CoreCnvl>(&pool, CoreAnsx("bench"), 0, nullptr,
                                                CoreCnvl::VALIDSTRUCT{true, false, false});
            c->set__(11, step, taps, first, step, taps);
            c->setup(&changed[h]);
            c->setms(false);
            c->setff(offset);
            if (!c->plan_()) throw std::runtime_error("plan failed");
            bare.push_back(std::move(c));
        }
        for (Signal* s : {work, conv, in, out})
            for (int c = 0; c < 2; ++c) s[c].assign(step, 0.0);
    }
    ~Rig() {
        for (auto& c : bare) {
            c->delpc();
            c->delpl();
        }
    }

    // round samples through the host entry in blocks of `block` (float or double replace).
    template <typename T>
    void candidate(T* const* input, T* const* output, int32_t block) {
        for (int32_t at = 0; at < round; at += block) {
            void* inp[2] = {input[0] + at, input[1] + at};
            void* outp[2] = {output[0] + at, output[1] + at};
            engine->prcss(inp, outp, block, true, 2, 120.0, std::is_same_v<T, double>, 2);
        }
    }

    // round samples through the bare convolvers in work blocks.
    void baseline(const float* const* input) {
        CoreProg& p = CorePrcsTestAccess::program(*engine);
        for (int32_t at = 0; at < round; at += step) {
            for (int c = 0; c < 2; ++c)
                for (int32_t i = 0; i < step; ++i) in[c][i] = input[c][at + i];
            if (harmonics == 1) {
                bare[0]->cnvlc(in[0].data(), in[1].data(), out[0].data(), out[1].data(), p.getli(0), p.getri(0),
                               nullptr, nullptr);
            } else {
                for (int h = 0; h < harmonics; ++h)
                    bare[h]->vltrr(h == 0, in[0].data(), in[1].data(), out[0].data(), out[1].data(),
                                   p.getli(static_cast<int16_t>(h)), p.getri(static_cast<int16_t>(h)),
                                   work[0].data(), work[1].data(), conv[0].data(), conv[1].data(), step, nullptr,
                                   nullptr);
            }
            benchmark::DoNotOptimize(out[0].data());
        }
    }
};

struct Counts {
    double candidate = 0.0, baseline = 0.0;
    long samples = 0, allocations = 0;
    void report(benchmark::State& state) const {
        const double per512 = 1e6 * step / static_cast<double>(samples);
        state.counters["candidate_us_per_512"] = candidate * per512;
        state.counters["baseline_us_per_512"] = baseline * per512;
        state.counters["ratio"] = candidate / baseline;
        state.counters["cpuSecondsPerSecond"] = candidate / (static_cast<double>(samples) / rate);
        state.counters["allocationsPerBlock"] = static_cast<double>(allocations) * step / samples;
    }
};

// Args: harmonics (1 or 5), host block.
void BM_BlockPath(benchmark::State& state) {
    const int harmonics = static_cast<int>(state.range(0));
    const int32_t block = static_cast<int32_t>(state.range(1));
    Rig rig(harmonics);
    std::vector<float> input[2] = {noise(1, inputPeak), noise(2, inputPeak)};
    std::vector<float> output[2] = {std::vector<float>(round), std::vector<float>(round)};
    float* out[2] = {output[0].data(), output[1].data()};
    Counts counts;
    long at = 0;
    for (int i = 0; i < settleSections; ++i, at = (at + round) % inputLength) {
        const float* in[2] = {input[0].data() + at, input[1].data() + at};
        float* inMutable[2] = {input[0].data() + at, input[1].data() + at};
        rig.candidate(inMutable, out, block);
        const CoreDnrm guard;
        rig.baseline(in);
    }
    for (auto _ : state) {
        const float* in[2] = {input[0].data() + at, input[1].data() + at};
        float* inMutable[2] = {input[0].data() + at, input[1].data() + at};
        const long allocations = heapAllocations.load();
        auto start = std::chrono::steady_clock::now();
        rig.candidate(inMutable, out, block);
        counts.candidate += secondsSince(start);
        counts.allocations += heapAllocations.load() - allocations;
        benchmark::ClobberMemory(); // the output is written
        start = std::chrono::steady_clock::now();
        {
            const CoreDnrm guard;
            rig.baseline(in);
        }
        counts.baseline += secondsSince(start);
        counts.samples += round;
        at = (at + round) % inputLength;
    }
    counts.report(state);
    state.counters["lockMisses"] = static_cast<double>(rig.engine->lockMisses());
}
BENCHMARK(BM_BlockPath)
    ->Args({1, 64})
    ->Args({1, 512})
    ->Args({1, 4096})
    ->Args({5, 512})
    ->Unit(benchmark::kMicrosecond);

// The path on a tail falling from the input peak through the subnormal range to zero in every section, against
// the same path on noise. Double replace, so that the tail reaches the engine unrounded. Args: harmonics.
void BM_BlockPathDenormal(benchmark::State& state) {
    const int harmonics = static_cast<int>(state.range(0));
    Rig tailRig(harmonics), noiseRig(harmonics);
    Signal tail[2], noisy[2], output[2] = {Signal(round), Signal(round)};
    for (int c = 0; c < 2; ++c) {
        tail[c].resize(inputLength);
        for (int32_t i = 0; i < inputLength; ++i)
            tail[c][i] = inputPeak * std::pow(10.0, -330.0 * (i % round) / round) * (i % 2 ? -1.0 : 1.0);
        const std::vector<float> f = noise(3 + c, inputPeak);
        noisy[c].assign(f.begin(), f.end());
    }
    double* out[2] = {output[0].data(), output[1].data()};
    Counts counts;
    long at = 0;
    for (int i = 0; i < settleSections; ++i, at = (at + round) % inputLength) {
        double* t[2] = {tail[0].data() + at, tail[1].data() + at};
        double* x[2] = {noisy[0].data() + at, noisy[1].data() + at};
        tailRig.candidate(t, out, step);
        noiseRig.candidate(x, out, step);
    }
    for (auto _ : state) {
        double* t[2] = {tail[0].data() + at, tail[1].data() + at};
        double* x[2] = {noisy[0].data() + at, noisy[1].data() + at};
        const long allocations = heapAllocations.load();
        auto start = std::chrono::steady_clock::now();
        tailRig.candidate(t, out, step);
        counts.candidate += secondsSince(start);
        counts.allocations += heapAllocations.load() - allocations;
        start = std::chrono::steady_clock::now();
        noiseRig.candidate(x, out, step);
        counts.baseline += secondsSince(start);
        benchmark::ClobberMemory(); // the output is written
        counts.samples += round;
        at = (at + round) % inputLength;
    }
    counts.report(state);
}
BENCHMARK(BM_BlockPathDenormal)->Arg(1)->Unit(benchmark::kMicrosecond);

#ifdef VORLAN_HAVE_ZITA
// Process CPU time: Convproc's later partitions run on threads of its own.
double processCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// zita-convolver's Convproc on the same stereo kernel (L to L, R to R, float) at quantum 512.
struct Zita {
    Convproc proc;
    explicit Zita(const Rig& rig, uint32_t maxpart) {
        CoreProg& p = CorePrcsTestAccess::program(*rig.engine);
        const int taps = p.getep(0);
        std::vector<float> kernel[2];
        for (int c = 0; c < 2; ++c) {
            const double* k = c == 0 ? p.getli(0) : p.getri(0);
            kernel[c].assign(k, k + taps);
        }
        if (proc.configure(2, 2, static_cast<uint32_t>(taps), step, step, maxpart, 0.0f) != 0)
            throw std::runtime_error("Convproc configure failed");
        for (uint32_t c = 0; c < 2; ++c) proc.impdata_create(c, c, 1, kernel[c].data(), 0, taps);
        if (proc.start_process(0, SCHED_OTHER) != 0) throw std::runtime_error("Convproc start failed");
    }
    ~Zita() {
        proc.stop_process();
        while (!proc.check_stop()) usleep(1000);
        proc.cleanup();
    }
    // round samples in quanta; output into out. Waits for late partitions: the loop runs faster than
    // real time.
    void run(const float* const* input, float* const* output) {
        for (int32_t at = 0; at < round; at += step) {
            for (uint32_t c = 0; c < 2; ++c) std::copy(input[c] + at, input[c] + at + step, proc.inpdata(c));
            proc.process(true);
            for (uint32_t c = 0; c < 2; ++c) std::copy(proc.outdata(c), proc.outdata(c) + step, output[c] + at);
        }
    }
};

// Report only: "1" at host block 512 against Convproc uniform (one partition size, 512) and
// non-uniform (partitions up to 8192, timed as process CPU time: its later partitions run on threads
// of its own).
void BM_BlockPathZita(benchmark::State& state) {
    Rig rig(1);
    std::vector<float> input[2] = {noise(1, inputPeak), noise(2, inputPeak)};
    long at = 0;
    // The engine's program settles first, so that Convproc gets the kernel the engine plays.
    std::vector<float> scratch[2] = {std::vector<float>(round), std::vector<float>(round)};
    for (int i = 0; i < settleSections; ++i, at = (at + round) % inputLength) {
        float* x[2] = {input[0].data() + at, input[1].data() + at};
        float* y[2] = {scratch[0].data(), scratch[1].data()};
        rig.candidate(x, y, step);
    }
    Zita uniform(rig, step), nonUniform(rig, 8192);

    // One section of the engine and both Convprocs on the same input.
    const auto play = [&](float* const* x, float* const* e, float* const* u, float* const* nu, double* times) {
        double cpu = processCpuSeconds();
        auto start = std::chrono::steady_clock::now();
        rig.candidate(x, e, step);
        times[0] += secondsSince(start);
        times[1] += processCpuSeconds() - cpu;
        start = std::chrono::steady_clock::now();
        uniform.run(x, u);
        times[2] += secondsSince(start);
        cpu = processCpuSeconds();
        nonUniform.run(x, nu);
        times[3] += processCpuSeconds() - cpu;
    };
    double ignored[4] = {};

    // Each Convproc's lag behind the engine (negative: ahead of it), found on an impulse as the
    // shift that best correlates its response with the engine's: silence first, until the engine's
    // 2-s kernel has rung out (Convproc needs a moment after start_process too), then the impulse
    // and a few sections of its response.
    constexpr int quiet = (longTaps + round - 1) / round + 2, heard = 3;
    constexpr int32_t maxLag = round - step; // the match below compares two sections of history
    std::vector<float> silence(round, 0.0f), impulse(round, 0.0f);
    impulse[0] = 1.0f;
    std::vector<float> response[3][2];
    for (auto& r : response)
        for (auto& c : r) c.assign(static_cast<size_t>(heard) * round, 0.0f);
    for (int i = 0; i < quiet + heard; ++i) {
        std::vector<float>& x = i == quiet ? impulse : silence;
        float* in[2] = {x.data(), x.data()};
        float* y[3][2];
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 2; ++c)
                y[r][c] = i < quiet ? scratch[c].data() : response[r][c].data() + (i - quiet) * round;
        play(in, y[0], y[1], y[2], ignored);
    }
    const auto lagOf = [&](int r) {
        // A window of the response's start, where the decaying-noise kernel is loudest.
        constexpr int32_t window = 2048;
        const int32_t length = heard * round;
        int32_t best = 0;
        double bestScore = -1.0;
        for (int32_t lag = -maxLag; lag <= maxLag; ++lag) {
            double score = 0.0;
            for (int c = 0; c < 2; ++c) {
                const int32_t from = std::max(0, -lag), to = std::min(window + maxLag, length - lag);
                for (int32_t i = from; i < to; ++i)
                    score += static_cast<double>(response[r][c][i]) * response[0][c][i + lag];
            }
            if (score > bestScore) {
                bestScore = score;
                best = lag;
            }
        }
        return best;
    };
    const int32_t lag[2] = {lagOf(1), lagOf(2)};
    // Float accumulation over a long kernel: the tolerance follows the kernel's size and the input's.
    double kernelSum = 0.0, inputMax = 0.0;
    {
        CoreProg& p = CorePrcsTestAccess::program(*rig.engine);
        const int taps = p.getep(0);
        for (int c = 0; c < 2; ++c) {
            const double* k = c == 0 ? p.getli(0) : p.getri(0);
            double sum = 0.0;
            for (int i = 0; i < taps; ++i) sum += std::fabs(k[i]);
            kernelSum = std::max(kernelSum, sum);
            for (float x : input[c]) inputMax = std::max(inputMax, std::fabs(static_cast<double>(x)));
        }
    }
    const double tolerance = 1e-4 * kernelSum * inputMax;

    // Output histories of two sections, the latest last.
    std::vector<float> engineOut[2], uniformOut[2], nonUniformOut[2];
    for (auto* v : {engineOut, uniformOut, nonUniformOut})
        for (int c = 0; c < 2; ++c) v[c].assign(2 * round, 0.0f);
    const auto section = [](std::vector<float>* v, int c) { return v[c].data() + round; };
    const auto shift = [](std::vector<float>* v) {
        for (int c = 0; c < 2; ++c) std::copy(v[c].begin() + round, v[c].end(), v[c].begin());
    };
    double worstSeen[2] = {};
    const auto matches = [&](std::vector<float>* z, int which) {
        double worst = 0.0;
        for (int c = 0; c < 2; ++c)
            for (int32_t i = std::max(0, -lag[which]); i < 2 * round && i + lag[which] < 2 * round; ++i)
                worst = std::max(worst, std::fabs(static_cast<double>(z[c][i]) - engineOut[c][i + lag[which]]));
        worstSeen[which] = worst;
        return worst <= tolerance;
    };
    const auto advance = [&](double* times) {
        float* x[2] = {input[0].data() + at, input[1].data() + at};
        for (auto* v : {engineOut, uniformOut, nonUniformOut}) shift(v);
        float* e[2] = {section(engineOut, 0), section(engineOut, 1)};
        float* u[2] = {section(uniformOut, 0), section(uniformOut, 1)};
        float* nu[2] = {section(nonUniformOut, 0), section(nonUniformOut, 1)};
        play(x, e, u, nu, times);
        at = (at + round) % inputLength;
    };
    // Untimed until both outputs match the engine's.
    int settled = 0;
    for (int i = 0; i < 200 && settled < 3; ++i) {
        advance(ignored);
        const bool uniformMatches = matches(uniformOut, 0), nonUniformMatches = matches(nonUniformOut, 1);
        settled = i > 2 && uniformMatches && nonUniformMatches ? settled + 1 : 0;
    }
    state.counters["zitaUniformLag"] = lag[0];
    state.counters["zitaLag"] = lag[1];
    if (settled < 3) {
        const std::string why = "Convproc output never matched the engine's (lags " + std::to_string(lag[0]) + ", " +
                                std::to_string(lag[1]) + "; worst " + std::to_string(worstSeen[0]) + ", " +
                                std::to_string(worstSeen[1]) + " against " + std::to_string(tolerance) + ")";
        state.SkipWithError(why.c_str());
        return;
    }
    double times[4] = {};
    long samples = 0;
    for (auto _ : state) {
        advance(times);
        samples += round;
    }
    const double per512 = 1e6 * step / static_cast<double>(samples);
    state.counters["candidate_us_per_512"] = times[0] * per512;
    state.counters["zitaUniform_us_per_512"] = times[2] * per512;
    state.counters["zitaCpu_us_per_512"] = times[3] * per512;
    state.counters["zitaUniformRatio"] = times[0] / times[2];
    state.counters["zitaRatio"] = times[1] / times[3];
}
BENCHMARK(BM_BlockPathZita)->Unit(benchmark::kMicrosecond);
#endif

} // namespace

BENCHMARK_MAIN();
