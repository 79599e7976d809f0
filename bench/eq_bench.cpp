// The equalisation curve at the render tool's arguments (band fraction 0.005, no window, spline degree
// 3, mix 1, spline factor 2) against two forward real FFTs of the same size through the same layer.
// Both run alternately in one loop and report their seconds per call and the ratio.
#include "base/CorePool.h"
#include "filestore/CoreEleq.h"
#include "platform/IppLayer.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void BM_Eqcal(benchmark::State& state) {
    const int order = static_cast<int>(state.range(0));
    const int n = 1 << order;
    std::mt19937 random(3);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<double> a(static_cast<size_t>(n)), b(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        a[i] = normal(random);
        b[i] = normal(random) * (i < n / 2 ? 1.0 : 0.1);
    }
    std::vector<Ipp64fc> spectrumA(static_cast<size_t>(n)), spectrumB(static_cast<size_t>(n));
    CorePool pool;

    IppsFFTSpec_R_64f* spec = nullptr;
    ippsFFTInitAlloc_R_64f(&spec, order, IPP_FFT_NODIV_BY_ANY, ippAlgHintAccurate);
    int bytes = 0;
    ippsFFTGetBufSize_R_64f(spec, &bytes);
    Ipp8u* work = ippsMalloc_8u(bytes);
    auto* data = reinterpret_cast<double*>(ippsMalloc_8u((n + 2) * 8));

    double candidateSeconds = 0.0, baselineSeconds = 0.0;
    for (auto _ : state) {
        auto start = Clock::now();
        const bool done = CoreEleq::eqcal(&pool, spectrumA.data(), spectrumB.data(), n, n, a.data(), n,
                                          b.data(), 48000, 0.005, false, 3, 1.0, 0.0, 2, -1);
        candidateSeconds += std::chrono::duration<double>(Clock::now() - start).count();
        if (!done) state.SkipWithError("eqcal refused");

        start = Clock::now();
        for (const std::vector<double>* signal : {&a, &b}) {
            std::copy(signal->begin(), signal->end(), data);
            ippsFFTFwd_RToPack_64f_I(data, spec, work);
            benchmark::DoNotOptimize(data[1]);
        }
        baselineSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["candidate_s"] = candidateSeconds / iterations;
    state.counters["baseline_s"] = baselineSeconds / iterations;
    state.counters["ratio"] = candidateSeconds / baselineSeconds;
    ippsFree(data);
    ippsFree(work);
    ippsFFTFree_R_64f(spec);
}

BENCHMARK(BM_Eqcal)->Arg(16)->Arg(18)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

BENCHMARK_MAIN();
