// Name sorting: CoreButl::sortv against the exchange sort that upper-cases and trims both texts at
// every comparison (the form it must match in order). The program memory scan sorts up to 10000.
#include "base/CoreButl.h"
#include <benchmark/benchmark.h>

#include <chrono>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

std::vector<CoreAnsx> randomNames(int n) {
    std::mt19937 random(static_cast<unsigned>(n));
    const char* prefixes[] = {"Kick ", "kick", " SNARE", "Hat", "hat ", "Room", "ROOM", "Plate"};
    std::vector<CoreAnsx> names;
    names.reserve(n);
    for (int i = 0; i < n; ++i) {
        const std::string name = prefixes[random() % 8] + std::to_string(random() % (n + 1));
        names.emplace_back(name.c_str());
    }
    return names;
}

void literalSort(std::vector<CoreAnsx>& list) {
    const int n = static_cast<int>(list.size());
    for (int i = 0; i < n; ++i)
        for (int j = i; j < n; ++j)
            if (list[i].UpperCase().Trim() > list[j].UpperCase().Trim()) std::swap(list[i], list[j]);
}

double secondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void BM_Sortv(benchmark::State& state) {
    const std::vector<CoreAnsx> names = randomNames(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<CoreAnsx> list = names;
        state.ResumeTiming();
        CoreButl::sortv(list.data(), static_cast<int>(list.size()));
        benchmark::DoNotOptimize(list.data());
    }
}

// Both forms timed alternately on the same lists; ratio = sortv time / literal time.
void BM_SortvLiteral(benchmark::State& state) {
    const std::vector<CoreAnsx> names = randomNames(static_cast<int>(state.range(0)));
    double sortvSeconds = 0.0, literalSeconds = 0.0;
    for (auto _ : state) {
        std::vector<CoreAnsx> literal = names, fast = names;
        literalSeconds += secondsOf([&] { literalSort(literal); });
        sortvSeconds += secondsOf([&] { CoreButl::sortv(fast.data(), static_cast<int>(fast.size())); });
        benchmark::DoNotOptimize(fast.data());
    }
    state.counters["literal_s"] = benchmark::Counter(literalSeconds, benchmark::Counter::kAvgIterations);
    state.counters["sortv_s"] = benchmark::Counter(sortvSeconds, benchmark::Counter::kAvgIterations);
    state.counters["ratio"] = sortvSeconds / literalSeconds;
}

} // namespace

BENCHMARK(BM_Sortv)->Arg(1000)->Arg(3000)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SortvLiteral)->Arg(1000)->Arg(3000)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
