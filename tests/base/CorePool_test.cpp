// Tests of the tracked allocator: element sizes, aligned and counted blocks, unknown addresses, the
// limit, retries with pauses, negative and huge counts as failed requests with unchanged totals, the
// debugging log, newest-first release of what is left, and concurrent use.
#include "base/CorePool.h"
#include "tests/common/LogCapture.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <mutex>
#include <numeric>
#include <random>
#include <thread>

using Texts = std::vector<std::string>;

// What a watched pool asked for, released (also into `also` when set) and paused; it can make the
// next allocations fail. A base of the pool, so the records outlive the pool's own destructor.
struct Ledger {
    std::mutex mutex;
    std::vector<size_t> requests;
    std::vector<void*> released, *also = nullptr;
    std::vector<int> pauses;
    int failuresToCome = 0;
    bool throwInstead = false;
};

struct WatchedPool : Ledger, CorePool {
    WatchedPool() {
        Ledger* ledger = this;
        allocator = [ledger](size_t bytes) -> void* {
            std::lock_guard<std::mutex> hold(ledger->mutex);
            ledger->requests.push_back(bytes);
            if (ledger->failuresToCome > 0 && ledger->failuresToCome--)
                return ledger->throwInstead ? throw std::bad_alloc() : nullptr;
            return std::aligned_alloc(64, bytes);
        };
        release = [ledger](void* p) {
            std::lock_guard<std::mutex> hold(ledger->mutex);
            ledger->released.push_back(p);
            if (ledger->also) ledger->also->push_back(p);
            std::free(p);
        };
        pause = [ledger](int ms) { ledger->pauses.push_back(ms); };
    }
};

static std::string failureText(CorePool& pool, int16_t type, int count) {
    try {
        pool.mallc(type, count, "TEST");
    } catch (const CoreAnsx& error) {
        return error.c_str();
    }
    return "no failure";
}

// Bytes held now, the peak and the largest single request.
static std::vector<int64_t> totals(const CorePool& pool) {
    return {pool.getma(), pool.getxa(), pool.getxr()};
}

TEST(CorePool, ElementSizesFollowTheTypeTableAndBlocksAreAlignedWritableAndCounted) {
    LogCapture log(1);
    WatchedPool pool;
    const int sizes[][2] = {{0, 8}, {1, 4}, {3, 4}, {4, 1}, {5, 1}, {6, 2}, {7, 0}, {-1, 0}};
    int64_t expected = 0;
    for (const auto& [type, size] : sizes) {
        EXPECT_EQ(CorePool::getdm(int16_t(type)), size) << type;
        auto* block = static_cast<unsigned char*>(pool.mallc(int16_t(type), 37, "CNVL"));
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 64 + pool.requests.back() % 64, 0u);
        std::memset(block, 0xA5, size_t(size) * 37); // the sanitizer build checks the bounds
        EXPECT_EQ(pool.getma(), expected += size * 37 + 20) << type;
    }
    int outsider = 0;
    for (void* unknown : std::initializer_list<void*>{&outsider, nullptr}) pool.free_(unknown);
    EXPECT_TRUE(pool.released.empty() && pool.getma() == expected);
    // Only the outsider is logged, and only when debugging: owners release null blocks freely.
    EXPECT_EQ(log.texts(), Texts(1, "***ERROR***> memory release error (left 8)"));
}

TEST(CorePool, TheLimitRefusesOnlyOnceAlreadyExceeded) {
    WatchedPool pool;
    pool.setal(1000);
    pool.mallc(4, 980, "WAVS");
    pool.mallc(0, 1, "WAVS"); // exactly at the limit: proceeds
    EXPECT_EQ(failureText(pool, 0, 100), "Memory request failed 820");
    EXPECT_EQ(pool.requests.size() + pool.pauses.size(), 2u); // refused without asking or waiting
}

TEST(CorePool, AFailedAllocationIsRetriedFiveTimesWithPausesAndThenThrowsWithTotalsUnchanged) {
    WatchedPool pool;
    pool.failuresToCome = 2;
    pool.mallc(0, 100, "CNV0");
    EXPECT_EQ(pool.pauses, (std::vector<int>{100, 100}));
    for (bool throwing : {false, true}) {
        pool.requests.clear();
        pool.pauses.clear();
        pool.failuresToCome = 100;
        pool.throwInstead = throwing;
        EXPECT_EQ(failureText(pool, 0, 200), "Memory request failed 1620");
        EXPECT_EQ(pool.requests.size(), 6u);
        EXPECT_EQ(pool.pauses, std::vector<int>(5, 100));
        EXPECT_EQ(totals(pool), std::vector<int64_t>(3, 820));
    }
}

TEST(CorePool, NegativeOrHugeCountsNeverBecomeSmallBlocksAndFailuresAreLoggedWithTheTotals) {
    LogCapture log(2);
    WatchedPool pool;
    pool.free_(pool.mallc(0, 100, "CNVL"));
    EXPECT_EQ(failureText(pool, 4, INT_MIN), "Memory request failed -2147483628");
    EXPECT_EQ(pool.requests.size(), 1u);
    pool.failuresToCome = 100; // the largest count asks for the full 16 GiB, not a wrapped-around size
    EXPECT_EQ(failureText(pool, 0, INT_MAX), "Memory request failed 17179869196");
    EXPECT_EQ(pool.requests[1], 17179869248u);
    Texts expected;
    for (const char* bytes : {"-2147483628", "17179869196"})
        expected.insert(expected.end(),
                        {std::string("***ERROR***> Memory request failed ") + bytes, ">max mem alloc: 820<",
                         ">max mem reqst: 820<", ">memory alloct: 0<"});
    EXPECT_EQ(log.texts(), expected);
}

TEST(CorePool, DeepDebuggingLogsEachBlockAndTheDestructorLogsWhatIsLeft) {
    LogCapture log(6);
    std::vector<void*> blocks;
    {
        WatchedPool pool;
        blocks = {pool.mallc(0, 100, "CNV0"), pool.mallc(6, 5, "LONGLABEL")};
    }
    const auto at = [&](int i) { return std::to_string(reinterpret_cast<intptr_t>(blocks[i])); };
    EXPECT_EQ(log.texts(), (Texts{">memory block #: CNV0 " + at(0) + "/820/820<",
                                  ">memory block #: LONGLAB " + at(1) + "/30/850<",
                                  ">pool locations left: 2<", ">left memory block: 0 CNV0 100 " + at(0) + "<",
                                  ">left memory block: 6 LONGLAB 5 " + at(1) + "<"}));
}

TEST(CorePool, LiveBlocksReleaseInAnyOrderAndTheRestNewestFirst) {
    std::vector<void*> blocks, released;
    std::vector<bool> kept(2000);
    {
        WatchedPool pool;
        for (int i = 0; i < 2000; ++i) blocks.push_back(pool.mallc(int16_t(i % 7), i % 50, "RVCT"));
        std::vector<int> order(2000);
        std::iota(order.begin(), order.end(), 0);
        std::shuffle(order.begin(), order.end(), std::mt19937(7));
        int64_t expected = pool.getma();
        for (int n = 0; n < 2000; ++n) {
            if ((kept[order[n]] = n % 3 == 0)) continue;
            pool.free_(blocks[order[n]]);
            expected -= CorePool::getdm(int16_t(order[n] % 7)) * (order[n] % 50) + 20;
        }
        EXPECT_EQ(pool.getma(), expected);
        pool.also = &released;
    }
    std::vector<void*> newestFirst;
    for (int i = 1999; i >= 0; --i)
        if (kept[i]) newestFirst.push_back(blocks[i]);
    EXPECT_EQ(released, newestFirst);
}

TEST(CorePool, ConcurrentThreadsAllocateAndFreeWithoutOverlap) {
    const int threadCount = 8, rounds = 300;
    CorePool pool;
    std::vector<std::thread> workers;
    std::vector<int> faults(threadCount, 0);
    for (int t = 0; t < threadCount; ++t) {
        workers.emplace_back([&pool, &faults, t] {
            std::mt19937 random(t);
            std::vector<std::pair<unsigned char*, int>> held;
            for (int round = 0; round < rounds; ++round) {
                const int count = 1 + int(random() % 2000);
                auto* block = static_cast<unsigned char*>(pool.mallc(4, count, "PRCS"));
                std::memset(block, t + 1, size_t(count));
                held.emplace_back(block, count);
                for (; held.size() > 4 || (round == rounds - 1 && !held.empty()); held.pop_back()) {
                    const auto [oldBlock, oldCount] = held.back();
                    faults[t] += int(std::count(oldBlock, oldBlock + oldCount, t + 1)) != oldCount;
                    pool.free_(oldBlock);
                }
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    EXPECT_EQ(faults, std::vector<int>(threadCount, 0));
    EXPECT_EQ(pool.getma(), 0);
    EXPECT_LE(pool.getxa(), int64_t{threadCount} * 5 * (2000 + 20));
}
