// The gain measurement of the render tools (frqam: a response convolved with a windowed sine through
// the FFT layer, the set-up made per call) timed against a plain FFTW fast convolution of the same
// response with the same windowed sine, plans and buffers made before the loop. Both run alternately
// in one loop; both times and their ratio are reported as counters.
#include "base/CorePool.h"
#include "filestore/CoreRtcv.h"
#include "processor/CorePrcs.h"

#include <benchmark/benchmark.h>
#include <fftw3.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int32_t kRate = 48000;
constexpr int32_t kFrequency = 1000;

template <class Step>
double secondsOf(Step&& step) {
    const auto start = Clock::now();
    step();
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void BM_Frqam(benchmark::State& state) {
    const int32_t n = static_cast<int32_t>(state.range(0));
    std::vector<double> response(static_cast<size_t>(n));
    std::mt19937 generator(5);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    for (int32_t k = 0; k < n; ++k)
        response[static_cast<size_t>(k)] = value(generator) * std::exp(-6.9 * static_cast<double>(k) / n);
    CorePool pool;

    // Baseline: r2c of both, complex product, c2r, largest |value|.
    int size = 2;
    while (size < 2 * n - 1) size *= 2;
    std::vector<double> sine(static_cast<size_t>(n));
    CorePrcs::getsn(n, sine.data(), kFrequency, kRate);
    CoreRtcv::flblk(n, sine.data(), 1.0, false);
    double* signal = fftw_alloc_real(static_cast<size_t>(size));
    double* window = fftw_alloc_real(static_cast<size_t>(size));
    fftw_complex* a = fftw_alloc_complex(static_cast<size_t>(size / 2 + 1));
    fftw_complex* b = fftw_alloc_complex(static_cast<size_t>(size / 2 + 1));
    fftw_plan forwardSignal = fftw_plan_dft_r2c_1d(size, signal, a, FFTW_ESTIMATE);
    fftw_plan forwardWindow = fftw_plan_dft_r2c_1d(size, window, b, FFTW_ESTIMATE);
    fftw_plan inverse = fftw_plan_dft_c2r_1d(size, a, signal, FFTW_ESTIMATE);
    const auto baseline = [&] {
        std::fill(signal, signal + size, 0.0);
        std::fill(window, window + size, 0.0);
        std::copy(response.begin(), response.end(), signal);
        std::copy(sine.begin(), sine.end(), window);
        fftw_execute(forwardSignal);
        fftw_execute(forwardWindow);
        for (int i = 0; i <= size / 2; ++i) {
            const double re = a[i][0] * b[i][0] - a[i][1] * b[i][1];
            const double im = a[i][0] * b[i][1] + a[i][1] * b[i][0];
            a[i][0] = re / size;
            a[i][1] = im / size;
        }
        fftw_execute(inverse);
        double largest = 0.0;
        for (int i = 0; i < size; ++i) largest = std::max(largest, std::fabs(signal[i]));
        benchmark::DoNotOptimize(largest);
    };
    const auto candidate = [&] {
        benchmark::DoNotOptimize(CorePrcs::frqam(&pool, n, response.data(), kFrequency, kRate));
    };

    candidate(); // the FFT set-up of this order, kept afterwards as the engine keeps it
    double candidateSeconds = 0.0, baselineSeconds = 0.0;
    for (auto _ : state) {
        candidateSeconds += secondsOf(candidate);
        baselineSeconds += secondsOf(baseline);
    }
    fftw_destroy_plan(forwardSignal);
    fftw_destroy_plan(forwardWindow);
    fftw_destroy_plan(inverse);
    fftw_free(signal);
    fftw_free(window);
    fftw_free(a);
    fftw_free(b);
    const double iterations = static_cast<double>(state.iterations());
    state.counters["candidate_s"] = candidateSeconds / iterations;
    state.counters["baseline_s"] = baselineSeconds / iterations;
    state.counters["ratio"] = candidateSeconds / baselineSeconds;
}
BENCHMARK(BM_Frqam)->Arg(1024)->Arg(4096)->Arg(65536)->Arg(1048576)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
