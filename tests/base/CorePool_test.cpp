#include "base/CoreLog_.h"
#include "base/CorePool.h"
#include "base/CoreXutl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Watches a pool's allocation calls, releases and pauses; can make the next allocations fail.
struct Ledger {
    std::mutex mutex;
    std::vector<size_t> requestedSizes;
    std::vector<void*> released;
    std::vector<int> pauses;
    int failuresToCome = 0;
    bool throwInstead = false;

    void attach(CorePool& pool) {
        pool.allocator = [this](size_t bytes) -> void* {
            std::lock_guard<std::mutex> hold(mutex);
            requestedSizes.push_back(bytes);
            if (failuresToCome > 0) {
                --failuresToCome;
                if (throwInstead) throw std::bad_alloc();
                return nullptr;
            }
            return std::aligned_alloc(64, bytes);
        };
        pool.release = [this](void* p) {
            {
                std::lock_guard<std::mutex> hold(mutex);
                released.push_back(p);
            }
            std::free(p);
        };
        pool.pause = [this](int ms) {
            std::lock_guard<std::mutex> hold(mutex);
            pauses.push_back(ms);
        };
    }
};

std::string addressText(const void* p) {
    return std::to_string(reinterpret_cast<intptr_t>(p));
}

std::string failureText(CorePool& pool, int16_t type, int count) {
    try {
        pool.mallc(type, count, "TEST");
    } catch (const CoreAnsx& error) {
        return error.c_str();
    }
    return "no failure";
}

// A log in a fresh folder, switched off again afterwards.
class PoolLog {
public:
    explicit PoolLog(int16_t level) {
        folder =
            fs::temp_directory_path() / ("corepool_" + std::to_string(CoreXutl::getpi()) + "_" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        CoreLog_::setpt(CoreAnsx((folder.string() + "/").c_str()));
        CoreLog_::setfn(CoreAnsx(CoreLog_::sCdefaultfilename));
        CoreLog_::setdb(level, false);
    }
    ~PoolLog() {
        CoreLog_::setdb(0, false);
        CoreLog_::setpt(CoreAnsx(""));
        fs::remove_all(folder);
    }
    // Texts after the "pid-tid " prefix.
    std::vector<std::string> texts() const {
        std::vector<std::string> result;
        std::ifstream in(folder / CoreLog_::sCdefaultfilename);
        std::string line;
        while (std::getline(in, line)) result.push_back(line.substr(line.find(' ') + 1));
        return result;
    }

private:
    fs::path folder;
};

using Texts = std::vector<std::string>;

TEST(CorePool, ElementSizesFollowTheTypeTableAndBlocksAreAlignedAndWritable) {
    struct Case {
        int16_t type;
        int size;
    };
    const Case cases[] = {{0, 8}, {1, 4}, {2, 4}, {3, 4}, {4, 1}, {5, 1}, {6, 2}, {7, 0}, {-1, 0}, {200, 0}};
    Ledger ledger;
    CorePool pool;
    ledger.attach(pool);
    int64_t expected = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        EXPECT_EQ(CorePool::getdm(c.type), c.size);
        const int count = 37;
        auto* block = static_cast<unsigned char*>(pool.mallc(c.type, count, "CNVL"));
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 64, 0u);
        EXPECT_GE(ledger.requestedSizes.back(), static_cast<size_t>(c.size * count + 20));
        EXPECT_EQ(ledger.requestedSizes.back() % 64, 0u);
        std::memset(block, 0xA5,
                    static_cast<size_t>(c.size) * count); // the sanitizer build checks the bounds
        expected += c.size * count + 20;
        EXPECT_EQ(pool.getma(), expected);
    }
}

TEST(CorePool, TotalsFollowRequestsAndReleases) {
    CorePool pool;
    void* hundred = pool.mallc(0, 100, "VCT2");
    EXPECT_EQ(pool.getma(), 820);
    EXPECT_EQ(pool.getxr(), 820);
    EXPECT_EQ(pool.getxa(), 820);
    void* twoHundred = pool.mallc(0, 200, "VCT2");
    EXPECT_EQ(pool.getma(), 2440);
    pool.free_(hundred);
    EXPECT_EQ(pool.getma(), 1620);
    EXPECT_EQ(pool.getxa(), 2440);
    EXPECT_EQ(pool.getxr(), 1620);
    void* overheadOnly = pool.mallc(9, 1000, "ELEQ");
    EXPECT_EQ(pool.getma(), 1640);
    EXPECT_EQ(pool.getxr(), 1620);
    pool.free_(twoHundred);
    pool.free_(overheadOnly);
    EXPECT_EQ(pool.getma(), 0);
    EXPECT_EQ(pool.getxa(), 2440);
}

TEST(CorePool, ReleasingAnAddressThePoolDoesNotHoldChangesNothing) {
    Ledger ledger;
    int outsider = 0;
    {
        PoolLog log(0);
        CorePool pool;
        ledger.attach(pool);
        char* block = static_cast<char*>(pool.mallc(1, 10, "FSYS"));
        pool.free_(&outsider);
        pool.free_(nullptr);
        pool.free_(block + 1);
        EXPECT_EQ(pool.getma(), 60);
        EXPECT_TRUE(ledger.released.empty());
        EXPECT_TRUE(log.texts().empty()); // only logged when debugging
        pool.free_(block);
        pool.free_(block); // a second release of the same block is unknown by now
        EXPECT_EQ(pool.getma(), 0);
        EXPECT_EQ(ledger.released, std::vector<void*>{block});
    }
    PoolLog log(1);
    CorePool pool;
    pool.mallc(1, 10, "FSYS");
    pool.free_(&outsider);
    EXPECT_EQ(log.texts(), (Texts{"***ERROR***> memory release error (left 1)"}));
}

TEST(CorePool, LimitRefusesOnlyOnceAlreadyExceeded) {
    {
        CorePool pool;
        pool.setal(1000);
        pool.mallc(4, 1200, "WAVS"); // 1220 bytes: nothing held yet, so it proceeds
        EXPECT_EQ(pool.getma(), 1220);
    }
    {
        CorePool pool;
        pool.setal(1000);
        pool.mallc(4, 980, "WAVS");
        EXPECT_EQ(pool.getma(), 1000);
        pool.mallc(0, 1, "WAVS"); // exactly at the limit: proceeds
        EXPECT_EQ(pool.getma(), 1028);
    }
    Ledger ledger;
    CorePool pool;
    ledger.attach(pool);
    pool.setal(1000);
    pool.mallc(4, 981, "WAVS");
    ASSERT_EQ(pool.getma(), 1001);
    ledger.requestedSizes.clear();
    EXPECT_EQ(failureText(pool, 0, 100), "Memory request failed 820");
    EXPECT_TRUE(ledger.requestedSizes.empty());
    EXPECT_TRUE(ledger.pauses.empty());
    EXPECT_EQ(pool.getma(), 1001);
    EXPECT_EQ(pool.getxr(), 1001);
}

TEST(CorePool, FailedAllocationIsRetriedFiveTimesWithPauses) {
    Ledger ledger;
    CorePool pool;
    ledger.attach(pool);

    ledger.failuresToCome = 2;
    void* block = pool.mallc(0, 100, "CNV0");
    EXPECT_NE(block, nullptr);
    EXPECT_EQ(ledger.requestedSizes.size(), 3u);
    EXPECT_EQ(ledger.pauses, (std::vector<int>{100, 100}));
    EXPECT_EQ(pool.getma(), 820);

    for (bool throwing : {false, true}) {
        SCOPED_TRACE(throwing);
        ledger.requestedSizes.clear();
        ledger.pauses.clear();
        ledger.failuresToCome = 100;
        ledger.throwInstead = throwing;
        EXPECT_EQ(failureText(pool, 0, 200), "Memory request failed 1620");
        EXPECT_EQ(ledger.requestedSizes.size(), 6u);
        EXPECT_EQ(ledger.pauses, (std::vector<int>(5, 100)));
        EXPECT_EQ(pool.getma(), 820);
        EXPECT_EQ(pool.getxa(), 820);
        EXPECT_EQ(pool.getxr(), 820);
    }
    ledger.failuresToCome = 0;
    pool.free_(block);
    EXPECT_EQ(pool.getma(), 0);
}

TEST(CorePool, NegativeOrHugeCountsNeverBecomeSmallBlocks) {
    Ledger ledger;
    CorePool pool;
    ledger.attach(pool);
    EXPECT_EQ(failureText(pool, 0, -1), "Memory request failed 12");
    EXPECT_EQ(failureText(pool, 4, INT_MIN), "Memory request failed -2147483628");
    EXPECT_EQ(failureText(pool, 9, -5), "Memory request failed 20");
    EXPECT_TRUE(ledger.requestedSizes.empty());
    EXPECT_EQ(pool.getma(), 0);
    EXPECT_EQ(pool.getxr(), 0);

    // The largest count asks for the full 16 GiB, not a wrapped-around size.
    ledger.failuresToCome = 100;
    EXPECT_EQ(failureText(pool, 0, INT_MAX), "Memory request failed 17179869196");
    ASSERT_FALSE(ledger.requestedSizes.empty());
    EXPECT_EQ(ledger.requestedSizes[0], 17179869248u);
}

TEST(CorePool, FailureIsLoggedWithTheTotals) {
    {
        PoolLog log(2);
        Ledger ledger;
        CorePool pool;
        ledger.attach(pool);
        void* block = pool.mallc(0, 100, "CNVL");
        pool.free_(block);
        ledger.failuresToCome = 100;
        EXPECT_EQ(failureText(pool, 1, 5), "Memory request failed 40");
        EXPECT_EQ(log.texts(), (Texts{"***ERROR***> Memory request failed 40", ">max mem alloc: 820<",
                                      ">max mem reqst: 820<", ">memory alloct: 0<"}));
    }
    PoolLog log(1);
    CorePool pool;
    EXPECT_EQ(failureText(pool, 0, -3), "Memory request failed -4");
    EXPECT_EQ(log.texts(), (Texts{"***ERROR***> Memory request failed -4"}));
}

TEST(CorePool, EachBlockIsLoggedWhenDebuggingDeep) {
    PoolLog log(6);
    auto pool = std::make_unique<CorePool>();
    void* first = pool->mallc(0, 100, "CNVL");
    void* second = pool->mallc(6, 10, "RTCV");
    Texts texts = log.texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0], ">memory block #: CNVL " + addressText(first) + "/820/820<");
    EXPECT_EQ(texts[1], ">memory block #: RTCV " + addressText(second) + "/40/860<");
    pool->free_(first);
    pool->free_(second);
}

TEST(CorePool, DestructorReportsWhatIsLeftAndReleasesNewestFirst) {
    PoolLog log(2);
    Ledger ledger;
    void* oldest;
    void* middle;
    void* newest;
    {
        CorePool pool;
        ledger.attach(pool);
        oldest = pool.mallc(0, 100, "CNV0");
        middle = pool.mallc(1, 3, "VCT2");
        newest = pool.mallc(6, 5, "LONGLABEL");
        void* freed = pool.mallc(4, 1, "ENVF");
        pool.free_(freed);
        ledger.released.clear();
    }
    EXPECT_EQ(ledger.released, (std::vector<void*>{newest, middle, oldest}));
    EXPECT_EQ(log.texts(), (Texts{">pool locations left: 3<",
                                  ">left memory block: 0 CNV0 100 " + addressText(oldest) + "<",
                                  ">left memory block: 1 VCT2 3 " + addressText(middle) + "<",
                                  ">left memory block: 6 LONGLAB 5 " + addressText(newest) + "<"}));
}

TEST(CorePool, ThousandsOfLiveBlocksReleaseInAnyOrder) {
    const int blockCount = 20000;
    Ledger ledger;
    std::vector<void*> blocks;
    std::vector<int> keptIndices;
    {
        CorePool pool;
        ledger.attach(pool);
        for (int i = 0; i < blockCount; ++i)
            blocks.push_back(pool.mallc(static_cast<int16_t>(i % 7), i % 50, "RVCT"));
        std::vector<int> order(blockCount);
        for (int i = 0; i < blockCount; ++i) order[i] = i;
        std::shuffle(order.begin(), order.end(), std::mt19937(7));
        int64_t expected = pool.getma();
        for (int n = 0; n < blockCount; ++n) {
            int i = order[n];
            if (n % 3 == 0) {
                keptIndices.push_back(i);
                continue;
            }
            pool.free_(blocks[i]);
            expected -= CorePool::getdm(static_cast<int16_t>(i % 7)) * (i % 50) + 20;
        }
        EXPECT_EQ(pool.getma(), expected);
        ledger.released.clear();
    }
    // The destructor releases each remaining block once, in the reverse of allocation order.
    std::sort(keptIndices.rbegin(), keptIndices.rend());
    std::vector<void*> newestFirst;
    for (int i : keptIndices) newestFirst.push_back(blocks[i]);
    EXPECT_EQ(ledger.released, newestFirst);
}

TEST(CorePool, ConcurrentThreadsAllocateAndFreeWithoutOverlap) {
    const int threadCount = 8;
    const int rounds = 300;
    CorePool pool;
    std::vector<std::thread> workers;
    std::vector<int> faults(threadCount, 0);
    for (int t = 0; t < threadCount; ++t) {
        workers.emplace_back([&pool, &faults, t] {
            std::mt19937 random(t);
            std::vector<std::pair<unsigned char*, int>> held;
            for (int round = 0; round < rounds; ++round) {
                int count = 1 + static_cast<int>(random() % 2000);
                auto* block = static_cast<unsigned char*>(pool.mallc(4, count, "PRCS"));
                std::memset(block, t + 1, count);
                held.emplace_back(block, count);
                if (held.size() > 4 || round == rounds - 1) {
                    while (!held.empty()) {
                        auto [oldBlock, oldCount] = held.back();
                        held.pop_back();
                        for (int i = 0; i < oldCount; ++i) faults[t] += oldBlock[i] != t + 1;
                        pool.free_(oldBlock);
                    }
                }
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    EXPECT_EQ(faults, std::vector<int>(threadCount, 0));
    EXPECT_EQ(pool.getma(), 0);
    EXPECT_GT(pool.getxa(), 0);
    EXPECT_LE(pool.getxa(), int64_t{threadCount} * 5 * (2000 + 20));
}

} // namespace
