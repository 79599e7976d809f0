// Vector updates against plain loops written here: every figure is a ratio of two measurements
// timed alternately inside one benchmark loop (candidate_s, baseline_s, ratio per iteration).
// Leaf vectors with random elements, liquid 0.5, the position toggled at every update so that
// every update mixes; the denormal guard is on for the benchmark thread, as the processor has it.
#include "base/CorePool.h"
#include "convolution/CoreCnvl.h"
#include "base/CoreDnrm.h"
#include "convolution/CorePlel.h"
#include "convolution/CoreVctr.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

inline double flushed(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return (bits & 0x7ff0000000000000ULL) == 0 ? 0.0 : v;
}

void report(benchmark::State& state, double candidate, double baseline) {
    state.counters["candidate_s"] = benchmark::Counter(candidate, benchmark::Counter::kAvgIterations);
    state.counters["baseline_s"] = benchmark::Counter(baseline, benchmark::Counter::kAvgIterations);
    state.counters["ratio"] = baseline > 0.0 ? candidate / baseline : 0.0;
}

// One world per benchmark: pool, sources, convolver (no mode: the CPU element operations) and a
// registry, with leaves built on them.
struct World {
    CorePool pool;
    DataSrce table;
    CoreCnvl convolver{&pool, "bench", 0, nullptr};
    CorePlel registry{&pool};
    std::mt19937 random{2024};
    CoreSrce* position = table.getsc("BUS1");
    CoreSrce* pan = table.getsc("BUS2");

    // Element i holds data[i] (both channels given separately).
    std::unique_ptr<CoreVctr> leaf(const std::vector<double>& positions, int length,
                                   const std::vector<std::vector<double>>& left,
                                   const std::vector<std::vector<double>>& right, bool panned) {
        std::vector<double> pos = positions;
        const int n = static_cast<int>(pos.size());
        auto v = std::make_unique<CoreVctr>(&pool, &registry, 0, &convolver, true, n, nullptr, pos.data(),
                                            nullptr, -1.0, 1.0, nullptr, 0.0, 1.0, "", &table, 0.5, "1", 0, 0,
                                            nullptr, nullptr, false, -1, -1, true);
        v->chncp(length, -1, -1);
        for (int i = 0; i < n && i < static_cast<int>(left.size()); ++i) {
            void* l = nullptr;
            void* r = nullptr;
            v->newip(l, r, length);
            v->copyd(l, r, const_cast<double*>(left[i].data()), const_cast<double*>(right[i].data()), length,
                     0);
            v->setip(i, static_cast<double*>(l), static_cast<double*>(r), CoreAnsx("e") + CoreAnsx(i), length,
                     0, 0, 0, v.get(), 0);
        }
        v->setvl(true, -1.0, 1.0, "BUS1", false, "", panned ? 1.0 : 0.0, "BUS2", 1.0, "1", false, "1", false,
                 0.0, 1.0);
        return v;
    }

    std::vector<double> noise(int n) {
        std::uniform_real_distribution<double> d(-1.0, 1.0);
        std::vector<double> v(n);
        for (double& x : v) x = d(random);
        return v;
    }
};

// The fused loop a hand-written mixer would be: out = Ls x out + wA x A + wB x B, flushed.
void fusedMix(int n, double* out, const double* a, const double* b, double scale, double wa, double wb) {
    for (int i = 0; i < n; ++i) out[i] = flushed(scale * out[i] + wa * a[i] + wb * b[i]);
}

// The matching 2 x 2 form with the pan matrix.
void fusedPanMix(int n, double* outL, double* outR, const double* aL, const double* aR, const double* bL,
                 const double* bR, double scale, const double m[4], double wa, double wb) {
    for (int i = 0; i < n; ++i) {
        const double l =
            scale * outL[i] + wa * (m[0] * aL[i] + m[2] * aR[i]) + wb * (m[0] * bL[i] + m[2] * bR[i]);
        const double r =
            scale * outR[i] + wa * (m[1] * aL[i] + m[3] * aR[i]) + wb * (m[1] * bL[i] + m[3] * bR[i]);
        outL[i] = flushed(l);
        outR[i] = flushed(r);
    }
}

void BM_VectorMix(benchmark::State& state) {
    CoreDnrm guard;
    const int length = static_cast<int>(state.range(0));
    const bool panned = state.range(1) != 0;
    World world;
    std::vector<std::vector<double>> left = {world.noise(length), world.noise(length)};
    std::vector<std::vector<double>> right = {world.noise(length), world.noise(length)};
    auto v = world.leaf({0.0, 1.0}, length, left, right, panned);
    world.pan->setvl(0.4);
    std::vector<double> outL(length, 0.0), outR(length, 0.0);
    const double matrix[4] = {std::cos(0.3), std::sin(0.3), 0.0, 1.0};
    double candidate = 0.0, baseline = 0.0;
    bool toggle = false;
    for (auto _ : state) {
        toggle = !toggle;
        world.position->setvl(toggle ? 0.3 : 0.7);
        Clock::time_point start = Clock::now();
        v->chnru(true);
        candidate += since(start);
        const double wa = toggle ? 0.35 : 0.15, wb = toggle ? 0.15 : 0.35;
        start = Clock::now();
        if (panned) {
            fusedPanMix(length, outL.data(), outR.data(), left[0].data(), right[0].data(), left[1].data(),
                        right[1].data(), 0.5, matrix, wa, wb);
        } else {
            fusedMix(length, outL.data(), left[0].data(), left[1].data(), 0.5, wa, wb);
            fusedMix(length, outR.data(), right[0].data(), right[1].data(), 0.5, wa, wb);
        }
        baseline += since(start);
        benchmark::DoNotOptimize(outL.data());
        benchmark::DoNotOptimize(outR.data());
        benchmark::DoNotOptimize(v->getlc());
    }
    report(state, candidate, baseline);
}
BENCHMARK(BM_VectorMix)->ArgsProduct({{4096, 65536, 262144}, {0, 1}});

void BM_VectorConverged(benchmark::State& state) {
    CoreDnrm guard;
    const int length = 65536;
    World world;
    std::vector<std::vector<double>> left = {world.noise(length), world.noise(length)};
    std::vector<std::vector<double>> right = {world.noise(length), world.noise(length)};
    auto settled = world.leaf({0.0, 1.0}, length, left, right, false);
    auto mixing = world.leaf({0.0, 1.0}, length, left, right, false);
    // Both vectors follow BUS1; the settled one is updated while BUS1 stays put.
    world.position->setvl(0.5);
    while (!*settled->getca()) settled->chnru(true);
    double candidate = 0.0, baseline = 0.0;
    bool toggle = false;
    for (auto _ : state) {
        world.position->setvl(0.5);
        Clock::time_point start = Clock::now();
        settled->chnru(true);
        candidate += since(start);
        toggle = !toggle;
        world.position->setvl(toggle ? 0.3 : 0.7);
        start = Clock::now();
        mixing->chnru(true);
        baseline += since(start);
        benchmark::DoNotOptimize(settled->getlc());
        benchmark::DoNotOptimize(mixing->getlc());
    }
    if (!*settled->getca()) state.SkipWithError("the settled vector mixed again");
    report(state, candidate, baseline);
}
BENCHMARK(BM_VectorConverged);

void BM_VectorSearch(benchmark::State& state) {
    CoreDnrm guard;
    const int n = 10000;
    const int batch = 64; // updates per measurement, so each one is long enough to time
    World world;
    std::vector<double> positions(n);
    for (int i = 0; i < n; ++i) positions[i] = -1.0 + 2.0 * i / n;
    std::shuffle(positions.begin(), positions.end(), world.random);
    auto v = world.leaf(positions, 4, {}, {}, false);
    std::uniform_real_distribution<double> place(-1.0, 1.0);
    std::vector<double> xs(batch);
    double candidate = 0.0, baseline = 0.0;
    long found = 0;
    for (auto _ : state) {
        for (double& x : xs) x = place(world.random);
        Clock::time_point start = Clock::now();
        for (double x : xs) {
            world.position->setvl(x);
            v->updte(false);
            found += v->elementA();
        }
        candidate += since(start);
        start = Clock::now();
        for (double x : xs) {
            // The plain scan: the largest position <= x and the smallest above it.
            int lower = -1, upper = -1;
            for (int i = 0; i < n; ++i) {
                const double p = positions[i];
                if (p <= x && (lower < 0 || p > positions[lower])) lower = i;
                if (p > x && (upper < 0 || p < positions[upper])) upper = i;
            }
            found += lower + upper;
        }
        baseline += since(start);
    }
    benchmark::DoNotOptimize(found);
    report(state, candidate, baseline);
}
BENCHMARK(BM_VectorSearch);

void BM_VectorDenormal(benchmark::State& state) {
    CoreDnrm guard;
    const int length = 65536;
    World world;
    // Elements decaying from 1e-300 down through the denormal range to exact zeros.
    auto decaying = [&](double phase) {
        std::vector<double> v(length);
        for (int i = 0; i < length; ++i)
            v[i] = 1e-300 * std::exp(-i * (std::log(1e300) / (length * 0.75))) * std::cos(phase + i * 0.1);
        return v;
    };
    std::vector<std::vector<double>> tinyL = {decaying(0.0), decaying(1.0)},
                                     tinyR = {decaying(2.0), decaying(3.0)};
    std::vector<std::vector<double>> loudL = {world.noise(length), world.noise(length)};
    std::vector<std::vector<double>> loudR = {world.noise(length), world.noise(length)};
    auto tiny = world.leaf({0.0, 1.0}, length, tinyL, tinyR, false);
    auto loud = world.leaf({0.0, 1.0}, length, loudL, loudR, false);
    double candidate = 0.0, baseline = 0.0;
    bool toggle = false;
    for (auto _ : state) {
        toggle = !toggle;
        world.position->setvl(toggle ? 0.3 : 0.7);
        Clock::time_point start = Clock::now();
        tiny->chnru(true);
        candidate += since(start);
        start = Clock::now();
        loud->chnru(true);
        baseline += since(start);
        benchmark::DoNotOptimize(tiny->getlc());
        benchmark::DoNotOptimize(loud->getlc());
    }
    report(state, candidate, baseline);
}
BENCHMARK(BM_VectorDenormal);

} // namespace

BENCHMARK_MAIN();
