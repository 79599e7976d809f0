#include "base/CoreSmph.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

// The holder releases as soon as it sees the taker asking, which takes well under the spin time:
// the taker gets the lock without sleeping. A round lost to the scheduler may still sleep, so the
// test asks for most rounds, not all.
TEST(CoreSmphSpin, ATakerOfAShortlyHeldLockDoesNotSleep) {
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
        if (lock.debgl() == 0) ++roundsWithoutSleep;
        lock.relse();
        taken.store(round);
    }
    holder.join();
    EXPECT_GT(roundsWithoutSleep, rounds / 2);
}
