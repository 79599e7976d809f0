// Costs of the FFT layer, the filter cascade and the denormal guard, each timed against a baseline
// in the same loop: candidate and baseline run alternately and both times and their ratio are
// reported as counters (seconds per run of the measured step).
#include "base/CoreDnrm.h"
#include "base/CoreFltr.h"
#include "platform/IppLayer.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <chrono>
#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

template <class Step>
double secondsPerRun(int runs, Step&& step) {
    const auto start = Clock::now();
    for (int r = 0; r < runs; ++r) step();
    return std::chrono::duration<double>(Clock::now() - start).count() / runs;
}

// Alternates candidate and baseline inside the benchmark loop and reports both and their ratio.
template <class Candidate, class Baseline>
void compare(benchmark::State& state, int runs, Candidate&& candidate, Baseline&& baseline) {
    double candidateSeconds = 0.0, baselineSeconds = 0.0;
    for (auto _ : state) {
        candidateSeconds += secondsPerRun(runs, candidate);
        baselineSeconds += secondsPerRun(runs, baseline);
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["candidate_s"] = candidateSeconds / iterations;
    state.counters["baseline_s"] = baselineSeconds / iterations;
    state.counters["ratio"] = candidateSeconds / baselineSeconds;
}

void fillRandom(double* values, size_t count, unsigned seed) {
    std::mt19937 generator(seed);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    for (size_t i = 0; i < count; ++i) values[i] = value(generator);
}

// Layer: forward then inverse in place, flag 2, on 64-byte-aligned data with the FFT spec's work
// buffer. Baseline: plain FFTW r2c then c2r out of place, planned with the layer's planner flags.
void BM_LayerRoundTrip(benchmark::State& state) {
    const int order = static_cast<int>(state.range(0));
    const int n = 1 << order;
    IppsFFTSpec_R_64f* spec = nullptr;
    ippsFFTInitAlloc_R_64f(&spec, order, IPP_FFT_DIV_INV_BY_N, ippAlgHintAccurate);
    int bytes = 0;
    ippsFFTGetBufSize_R_64f(spec, &bytes);
    Ipp8u* work = ippsMalloc_8u(bytes);
    auto* data = reinterpret_cast<double*>(ippsMalloc_8u(n * 8));
    fillRandom(data, n, 1);

    auto* in = reinterpret_cast<double*>(ippsMalloc_8u(n * 8));
    auto* out = reinterpret_cast<double*>(ippsMalloc_8u(n * 8));
    auto* spectrum = reinterpret_cast<fftw_complex*>(ippsMalloc_8u((n / 2 + 1) * 16));
    const unsigned flags = order <= 14 ? FFTW_MEASURE : FFTW_ESTIMATE;
    fftw_plan forward = fftw_plan_dft_r2c_1d(n, in, spectrum, flags);
    fftw_plan inverse = fftw_plan_dft_c2r_1d(n, spectrum, out, flags);
    fillRandom(in, n, 1);

    const int runs = std::max(1, (1 << 16) / n);
    compare(
        state, runs,
        [&] {
            ippsFFTFwd_RToPack_64f_I(data, spec, work);
            ippsFFTInv_PackToR_64f_I(data, spec, work);
            benchmark::DoNotOptimize(data[0]);
        },
        [&] {
            fftw_execute_dft_r2c(forward, in, spectrum);
            fftw_execute_dft_c2r(inverse, spectrum, out);
            benchmark::DoNotOptimize(out[0]);
        });

    fftw_destroy_plan(forward);
    fftw_destroy_plan(inverse);
    ippsFree(spectrum);
    ippsFree(out);
    ippsFree(in);
    ippsFree(data);
    ippsFree(work);
    ippsFFTFree_R_64f(spec);
}
BENCHMARK(BM_LayerRoundTrip)->DenseRange(6, 18)->ArgName("order");

// Sixteen partitions of the partitioned modes' step: the packed product into a temporary, then
// the sum into the partition's accumulator. Baseline: the same two passes over std::complex<double>
// in FFTW's layout of N/2 + 1 bins.
void BM_PackMulAdd(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const int partitions = 16;
    const int bins = n / 2 + 1;
    std::vector<double> x(n), temporary(n), h(static_cast<size_t>(partitions) * n),
        accumulators(static_cast<size_t>(partitions) * n, 0.0);
    fillRandom(x.data(), x.size(), 2);
    fillRandom(h.data(), h.size(), 3);
    std::vector<std::complex<double>> cx(bins), ctemporary(bins), ch(static_cast<size_t>(partitions) * bins),
        caccumulators(static_cast<size_t>(partitions) * bins);
    fillRandom(reinterpret_cast<double*>(cx.data()), 2 * cx.size(), 2);
    fillRandom(reinterpret_cast<double*>(ch.data()), 2 * ch.size(), 3);

    const int runs = std::max(1, (1 << 14) / n);
    compare(
        state, runs,
        [&] {
            for (int k = 0; k < partitions; ++k) {
                ippsMulPack_64f(x.data(), h.data() + static_cast<size_t>(k) * n, temporary.data(), n);
                ippsAdd_64f_I(temporary.data(), accumulators.data() + static_cast<size_t>(k) * n, n);
            }
            benchmark::DoNotOptimize(accumulators.data());
        },
        [&] {
            for (int k = 0; k < partitions; ++k) {
                const std::complex<double>* hk = ch.data() + static_cast<size_t>(k) * bins;
                std::complex<double>* ak = caccumulators.data() + static_cast<size_t>(k) * bins;
                for (int i = 0; i < bins; ++i) ctemporary[i] = cx[i] * hk[i];
                for (int i = 0; i < bins; ++i) ak[i] += ctemporary[i];
            }
            benchmark::DoNotOptimize(caccumulators.data());
        });
}
BENCHMARK(BM_PackMulAdd)->Arg(256)->Arg(2048)->Arg(16384);

// The cascade against the same recurrence without the exponent tests.
struct PlainCascade {
    struct Section {
        double a, b, previous, output;
    };
    std::vector<Section> sections;
    PlainCascade(int count, double frequency, double q, double rate) {
        const double t = std::tan(M_PI * frequency / rate);
        const double d = (M_SQRT2 - q * M_SQRT2 + t) * t;
        sections.assign(count, Section{1.0 / (d + 1.0), 1.0 - d, 0.0, 0.0});
    }
    double prcss(double x) {
        for (Section& s : sections) {
            const double y = (s.a * s.output + (x - s.previous)) * s.b;
            s.output = y;
            s.previous = x;
            x = y;
        }
        return x;
    }
};

void BM_FltrPrcss(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    CoreFltr filter(CoreFltr::iChighpass, 2 * count);
    filter.setvl(100.0, 0.0, 44100.0, 2 * count);
    PlainCascade plain(count, 100.0, 0.0, 44100.0);
    std::vector<double> input(4096);
    fillRandom(input.data(), input.size(), 4);
    double sink = 0.0;
    compare(
        state, 4,
        [&] {
            for (double x : input) sink += filter.prcss(x);
        },
        [&] {
            for (double x : input) sink += plain.prcss(x);
        });
    benchmark::DoNotOptimize(sink);
}
BENCHMARK(BM_FltrPrcss)->DenseRange(1, 4)->ArgName("sections");

// Report only: a spec of a size no other spec holds (plans, from the in-memory wisdom after the
// first) against a spec that shares the plan of a spec already held. The very first plan of each
// size is timed once, before the loop.
void BM_InitAlloc(benchmark::State& state) {
    const int order = static_cast<int>(state.range(0));
    auto makeAndFree = [order] {
        IppsFFTSpec_R_64f* spec = nullptr;
        ippsFFTInitAlloc_R_64f(&spec, order, IPP_FFT_DIV_INV_BY_N, ippAlgHintAccurate);
        ippsFFTFree_R_64f(spec);
    };
    const double firstSeconds = secondsPerRun(1, makeAndFree);
    double alone = 0.0, shared = 0.0;
    for (auto _ : state) {
        alone += secondsPerRun(1, makeAndFree);
        IppsFFTSpec_R_64f* holder = nullptr;
        ippsFFTInitAlloc_R_64f(&holder, order, IPP_FFT_DIV_INV_BY_N, ippAlgHintAccurate);
        shared += secondsPerRun(1, makeAndFree);
        ippsFFTFree_R_64f(holder);
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["first_s"] = firstSeconds;
    state.counters["replan_s"] = alone / iterations;
    state.counters["shared_s"] = shared / iterations;
}
BENCHMARK(BM_InitAlloc)->Arg(10)->Arg(14)->Arg(18)->ArgName("order");

// Report only: a decaying recursive filter run deep into the subnormal range, with the guard
// (candidate) and without it (baseline).
void BM_DenormalTail(benchmark::State& state) {
    const int length = 1 << 16;
    auto decay = [length] {
        double y = 4e-308; // subnormal after about 7000 steps
        double sum = 0.0;
        for (int n = 0; n < length; ++n) {
            y = 0.9999 * y;
            sum += y;
        }
        benchmark::DoNotOptimize(sum);
    };
    compare(
        state, 1,
        [&] {
            CoreDnrm guard(CoreDnrm::iCnearest);
            decay();
        },
        decay);
}
BENCHMARK(BM_DenormalTail);

} // namespace

BENCHMARK_MAIN();
