// A contended take of the system lock: a second thread takes the lock and keeps it for about one
// microsecond, and the benchmark thread asks for it while it is held. The taker's wait is timed
// against the holder's own hold, measured in the same round, so the ratio says how many hold times
// a taker loses to a short holder.
#include "base/CoreSmph.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

const std::chrono::nanoseconds holdTime(1000);

double secondsBetween(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

void BM_ContendedTakeAgainstAShortHolder(benchmark::State& state) {
    CoreSmph lock;
    std::atomic<long> requested(0); // the round the holder is to take the lock for; -1 ends it
    std::atomic<long> held(0);      // the round in which the holder has the lock
    double holdSeconds = 0.0;       // written by the holder only, read after it ended
    std::thread holder([&] {
        for (long round = 1;; ++round) {
            long wanted;
            while ((wanted = requested.load()) != round && wanted >= 0) {
            }
            if (wanted < 0) return;
            lock.locks();
            const Clock::time_point start = Clock::now();
            held.store(round);
            Clock::time_point now;
            do {
                now = Clock::now();
            } while (now - start < holdTime);
            lock.relse();
            holdSeconds += secondsBetween(start, now);
        }
    });

    double waitSeconds = 0.0;
    long round = 0;
    for (auto _ : state) {
        requested.store(++round);
        while (held.load() != round) {
        }
        const Clock::time_point start = Clock::now();
        lock.locks();
        waitSeconds += secondsBetween(start, Clock::now());
        lock.relse();
    }
    requested.store(-1);
    holder.join();

    state.counters["wait_ns"] = waitSeconds / round * 1e9;
    state.counters["hold_ns"] = holdSeconds / round * 1e9;
    state.counters["ratio"] = waitSeconds / holdSeconds;
}
BENCHMARK(BM_ContendedTakeAgainstAShortHolder)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
