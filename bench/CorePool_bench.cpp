// Release cost of CorePool::free_ with 20 000 blocks held, against a pool holding 20: both pools are
// measured alternately in the same loop, so the ratio is free of machine drift.
#include "base/CorePool.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

namespace {

const int batchSize = 1000; // blocks allocated untimed, then released timed, per pool and iteration

void fillPool(CorePool& pool, int liveBlocks, std::vector<void*>& held) {
    for (int i = 0; i < liveBlocks; ++i) held.push_back(pool.mallc(0, 1 + i % 16, "BNCH"));
}

// Seconds to release one shuffled batch of fresh blocks from the pool.
double timeBatchRelease(CorePool& pool, std::mt19937& random) {
    std::vector<void*> batch;
    batch.reserve(batchSize);
    for (int i = 0; i < batchSize; ++i) batch.push_back(pool.mallc(0, 1 + i % 16, "BNCH"));
    std::shuffle(batch.begin(), batch.end(), random);
    auto start = std::chrono::steady_clock::now();
    for (void* block : batch) pool.free_(block);
    auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double>(end - start).count();
}

void BM_FreeWithManyLiveBlocks(benchmark::State& state) {
    const int manyLive = static_cast<int>(state.range(0));
    const int fewLive = 20;
    CorePool candidate;
    CorePool baseline;
    std::vector<void*> candidateHeld;
    std::vector<void*> baselineHeld;
    fillPool(candidate, manyLive, candidateHeld);
    fillPool(baseline, fewLive, baselineHeld);
    std::mt19937 random(1);
    double candidateSeconds = 0.0;
    double baselineSeconds = 0.0;
    for (auto _ : state) {
        candidateSeconds += timeBatchRelease(candidate, random);
        baselineSeconds += timeBatchRelease(baseline, random);
    }
    const double releases = static_cast<double>(state.iterations()) * batchSize;
    state.counters["candidate_ns"] = candidateSeconds / releases * 1e9;
    state.counters["baseline_ns"] = baselineSeconds / releases * 1e9;
    state.counters["ratio"] = candidateSeconds / baselineSeconds;
    for (void* block : candidateHeld) candidate.free_(block);
    for (void* block : baselineHeld) baseline.free_(block);
}
BENCHMARK(BM_FreeWithManyLiveBlocks)->Arg(20000)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
