// Tests of the system lock: a take succeeds only while free, waiting takes get the lock once released,
// the timed take forces it (counted and logged) and a double release still admits one holder, threads
// hammering it count exactly, and a taker of a shortly held lock spins instead of sleeping.
#include "base/CoreSmph.h"

#include "base/CoreXutl.h"
#include "tests/common/LogCapture.h"

#include <gtest/gtest.h>

#include <thread>

TEST(CoreSmph, ATakeSucceedsOnlyWhileFreeAndAFailedAttemptLeavesNoTrace) {
    std::atomic<int32_t> value(5);
    EXPECT_EQ(ininc(&value) + indec(&value), 6 + 5);
    CoreSmph lock;
    EXPECT_TRUE(lock.locka());
    EXPECT_FALSE(lock.locka());
    EXPECT_EQ(lock.counter(), 0);
    EXPECT_EQ(lock.relse(), 1);
    EXPECT_EQ(lock.debgl(), 0);
    EXPECT_EQ(lock.relse(), 1);
}

TEST(CoreSmph, WaitingTakesGetTheLockOnceReleasedAndTheTimedTakeForcesItAfterItsTime) {
    LogCapture log(1);
    CoreSmph lock;
    for (const bool timed : {false, true}) {
        ASSERT_TRUE(lock.locka());
        std::thread holder([&] {
            CoreXutl::sleep(20);
            lock.relse();
        });
        if (timed)
            lock.locks(60000); // released long before the time runs out: no forced take
        else
            EXPECT_GT(lock.debgl(), 0); // it slept until the release
        holder.join();
        lock.relse();
    }
    EXPECT_EQ(lock.geter(), 0);
    ASSERT_TRUE(lock.locka());
    const double before = CoreXutl::tmono(); // now held "elsewhere": the lock has no other owner
    lock.locks(50);
    EXPECT_GT(CoreXutl::tmono() - before, 50.0);
    EXPECT_TRUE(lock.counter() == 0 && lock.geter() == 1);
    EXPECT_EQ(lock.relse() + lock.relse(), 2); // both holders release
    EXPECT_TRUE(lock.locka());
    EXPECT_FALSE(lock.locka());
    ASSERT_EQ(log.texts().size(), 1u);
    EXPECT_EQ(log.texts()[0].find("***ERROR***> Lock forced after "), 0u) << log.texts()[0];
}

// Under ThreadSanitizer this also shows that a take won by spinning orders the holder's writes before
// the taker's reads: `total` is guarded by the lock alone.
TEST(CoreSmph, ThreadsHammeringOneLockCountExactly) {
    struct Row { const char* name; int threadCount, rounds; bool timedTakers; };
    const Row rows[] = {{"eight waiting takers", 8, 20000, false},
                        {"a waiting and a timed taker", 2, 100000, true}}; // odd threads take timed
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CoreSmph lock;
        int64_t total = 0; // plain on purpose: only the lock protects it
        std::atomic<int> inside(0), overlaps(0);
        std::atomic<bool> go(false); // all threads start together, so they really contend
        std::vector<std::thread> threads;
        for (int t = 0; t < r.threadCount; ++t) {
            threads.emplace_back([&, timed = r.timedTakers && t % 2 == 1] {
                while (!go.load()) std::this_thread::yield();
                for (int i = 0; i < r.rounds; ++i) {
                    if (timed)
                        lock.locks(60000); // never runs out here: a forced take would be logged
                    else
                        lock.locks();
                    overlaps += inside.fetch_add(1) != 0;
                    ++total;
                    inside.fetch_sub(1);
                    lock.relse();
                }
            });
        }
        go.store(true);
        for (std::thread& thread : threads) thread.join();
        EXPECT_EQ(total, int64_t(r.threadCount) * r.rounds);
        EXPECT_EQ(overlaps.load(), 0);
        EXPECT_TRUE(lock.counter() == 1 && lock.geter() == 0);
    }
}

// The holder releases as soon as it sees the taker asking, which takes well under the spin time: the
// taker gets the lock without sleeping. Without the spin every round sleeps; with it, a round may still
// sleep when the scheduler parks the holder (a loaded machine, a sanitizer's slow atomics), so the
// test asks for one round of many, which no sleeping take can give.
TEST(CoreSmph, ATakerOfAShortlyHeldLockDoesNotSleep) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer's atomics take longer than the spin";
#endif
    const int rounds = 200;
    CoreSmph lock;
    std::atomic<int> asking(0), taken(0);
    std::thread holder([&] {
        for (int round = 1; round <= rounds; ++round) {
            while (taken.load() != round - 1) {
            }
            lock.locks();
            while (asking.load() != round) {
            }
            lock.relse();
        }
    });
    int roundsWithoutSleep = 0;
    for (int round = 1; round <= rounds; ++round) {
        while (lock.counter() != 0) {
        } // the holder has it
        asking.store(round);
        roundsWithoutSleep += lock.debgl() == 0;
        lock.relse();
        taken.store(round);
    }
    holder.join();
    EXPECT_GT(roundsWithoutSleep, 0);
}
