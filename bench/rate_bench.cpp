// Cost of the rate converter (cnvrt along rows 9 and 40, cold with the design included and warm as
// for a second channel) against one overlap-add FFT convolution of the same samples with one
// 2,048-tap filter through the same FFT layer, in the same loop: both times and their ratio.
#include "base/CorePool.h"
#include "filestore/CoreRtcv.h"
#include "filestore/DataRtcv.h"
#include "platform/IppLayer.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <random>
#include <vector>

namespace {

// Thread CPU time: on a shared machine wall time also counts the waits for a processor.
double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

// The baseline: segments of 2,048 samples, FFT size 4,096, one filter spectrum.
class OneBranch {
public:
    explicit OneBranch(int n) : n(n), output(n + 4096), segment(4096), spectrum(4096) {
        ippsFFTInitAlloc_R_64f(&spec, 12, IPP_FFT_DIV_INV_BY_N, ippAlgHintAccurate);
        int bytes = 0;
        ippsFFTGetBufSize_R_64f(spec, &bytes);
        work.resize(bytes);
        std::mt19937 generator(2);
        for (int i = 0; i < 2048; ++i) spectrum[i] = generator() / 4294967296.0 - 0.5;
        ippsFFTFwd_RToPack_64f_I(spectrum.data(), spec, work.data());
    }
    ~OneBranch() { ippsFFTFree_R_64f(spec); }
    void run(const double* x) {
        std::fill(output.begin(), output.end(), 0.0);
        for (int base = 0; base < n; base += 2048) {
            const int count = std::min(2048, n - base);
            std::memcpy(segment.data(), x + base, count * sizeof(double));
            std::fill(segment.begin() + count, segment.end(), 0.0);
            ippsFFTFwd_RToPack_64f_I(segment.data(), spec, work.data());
            ippsMulPack_64f_I(spectrum.data(), segment.data(), 4096);
            ippsFFTInv_PackToR_64f_I(segment.data(), spec, work.data());
            ippsAdd_64f_I(segment.data(), output.data() + base, 4096);
        }
        benchmark::DoNotOptimize(output[n / 2]);
    }

private:
    int n;
    IppsFFTSpec_R_64f* spec = nullptr;
    std::vector<Ipp8u> work;
    std::vector<double> output, segment, spectrum;
};

void BM_RateConvert(benchmark::State& state) {
    const int16_t row = static_cast<int16_t>(state.range(0));
    const int n = static_cast<int>(state.range(1));
    const bool warm = state.range(2) != 0;
    const double rate = row == 9 ? 44100 : 48000;
    std::vector<double> x(n);
    std::mt19937 generator(1);
    for (double& v : x) v = generator() / 4294967296.0 - 0.5;
    CorePool pool;
    DataRtcv table(&pool);
    CoreRtcv kept(&pool, &table);
    int32_t outN = 0;
    double outRate = 0;
    kept.cnvrt(x.data(), n, outN, rate, outRate, row);
    OneBranch branch(n);

    double candidate = 0.0, baseline = 0.0;
    for (auto _ : state) {
        double start = cpuSeconds();
        if (warm) {
            kept.cnvrt(x.data(), n, outN, rate, outRate, row);
        } else {
            CoreRtcv fresh(&pool, &table);
            fresh.cnvrt(x.data(), n, outN, rate, outRate, row);
        }
        candidate += cpuSeconds() - start;
        start = cpuSeconds();
        branch.run(x.data());
        baseline += cpuSeconds() - start;
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["candidate_s"] = candidate / runs;
    state.counters["baseline_s"] = baseline / runs;
    state.counters["ratio"] = candidate / baseline;
    state.counters["Msamples_per_s"] = n * runs / candidate / 1e6;
    state.SetLabel(std::string(row == 9 ? "44100->48000" : "48000->44100") + (warm ? ", warm" : ", cold"));
}

BENCHMARK(BM_RateConvert)
    ->ArgsProduct({{9, 40}, {4096, 65536, 480000}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
