// Tests of the protected flag: concurrent readers and writers see only written values (the thread
// sanitizer checks the locking itself).
#include "base/CorePbol.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

TEST(CorePbol, ConcurrentReadersSeeOnlyWrittenValues) {
    // Writers only ever write true; a reader seeing false after every writer's
    // first write would mean a lost or torn update (and the thread sanitizer
    // checks the locking itself).
    CorePbol flag(false);
    std::atomic<int> started{0};
    std::vector<std::thread> threads;
    std::atomic<int> falseAfterStart{0};
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            flag.setvl(true);
            started.fetch_add(1);
            while (started.load() < 8) std::this_thread::yield();
            for (int i = 0; i < 2000; ++i) {
                if (!flag.getvl()) falseAfterStart.fetch_add(1);
                flag.setvl(true);
            }
        });
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(falseAfterStart.load(), 0);
    flag.setvl(false);
    EXPECT_FALSE(flag.getvl());
}
