#include "base/CoreSmph.h"

#include "base/CoreLog_.h"
#include "base/CoreXutl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

TEST(CoreSmph, AtomicCountersReturnTheNewValue) {
    std::atomic<int32_t> value(5);
    EXPECT_EQ(ininc(&value), 6);
    EXPECT_EQ(indec(&value), 5);
    EXPECT_EQ(indec(&value), 4);
    EXPECT_EQ(value.load(), 4);
}

TEST(CoreSmph, TryTakeSucceedsOnlyWhileFree) {
    CoreSmph lock;
    EXPECT_EQ(lock.counter(), CoreSmph::iCsphinit);
    EXPECT_TRUE(lock.locka());
    EXPECT_FALSE(lock.locka());
    EXPECT_EQ(lock.counter(), 0); // the failed attempt leaves no trace
    EXPECT_EQ(lock.relse(), 1);
    EXPECT_TRUE(lock.locka());
    lock.relse();
    EXPECT_EQ(lock.debgl(), 0);
    EXPECT_EQ(lock.counter(), 0);
    EXPECT_EQ(lock.relse(), 1);
    EXPECT_EQ(lock.locks(), 0);
    lock.relse();
    EXPECT_EQ(lock.geter(), 0);
}

TEST(CoreSmph, WaitingTakeGetsTheLockOnceTheHolderReleases) {
    CoreSmph lock;
    ASSERT_TRUE(lock.locka());
    std::atomic<bool> released(false);
    std::thread holder([&] {
        CoreXutl::sleep(20);
        released.store(true);
        lock.relse();
    });
    const int sleeps = lock.debgl();
    EXPECT_TRUE(released.load());
    EXPECT_GT(sleeps, 0);
    holder.join();
    lock.relse();

    ASSERT_TRUE(lock.locka());
    std::thread secondHolder([&] {
        CoreXutl::sleep(20);
        lock.relse();
    });
    lock.locks(60000); // released long before the time runs out: no forced take
    secondHolder.join();
    EXPECT_EQ(lock.geter(), 0);
    EXPECT_EQ(lock.counter(), 0);
}

TEST(CoreSmph, TimedTakeForcesTheLockAndADoubleReleaseAdmitsOneHolder) {
    char folderTemplate[] = "/tmp/coresmph_XXXXXX";
    ASSERT_NE(mkdtemp(folderTemplate), nullptr);
    const std::string folder = std::string(folderTemplate) + "/";
    CoreLog_::setpt(CoreAnsx(folder.c_str()));
    CoreLog_::setdb(1, false);

    CoreSmph lock;
    ASSERT_TRUE(lock.locka()); // held "elsewhere": the lock has no owner
    const double before = CoreXutl::tmono();
    lock.locks(50);
    EXPECT_GT(CoreXutl::tmono() - before, 50.0);
    EXPECT_EQ(lock.counter(), 0);
    EXPECT_EQ(lock.geter(), 1);

    // Both holders release; the lock must end with a single permit.
    EXPECT_EQ(lock.relse(), 1);
    EXPECT_EQ(lock.relse(), 1);
    EXPECT_EQ(lock.counter(), 1);
    EXPECT_TRUE(lock.locka());
    EXPECT_FALSE(lock.locka());
    lock.relse();

    CoreLog_::setdb(0, false);
    CoreLog_::setpt(CoreAnsx(""));
    const std::string logPath = folder + CoreLog_::getfn().c_str();
    std::ifstream logFile(logPath);
    std::stringstream text;
    text << logFile.rdbuf();
    EXPECT_NE(text.str().find(CoreLog_::sCerrorprm), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("Lock forced"), std::string::npos) << text.str();
    std::remove(logPath.c_str());
    rmdir(folderTemplate);
}

TEST(CoreSmph, EightThreadsCountExactlyUnderTheLock) {
    const int threadCount = 8;
    const int incrementsPerThread = 100000;
    CoreSmph lock;
    int64_t total = 0; // plain on purpose: only the lock protects it
    std::atomic<int> inside(0);
    std::atomic<int> overlaps(0);
    std::atomic<bool> go(false); // all threads start together, so they really contend
    std::vector<std::thread> threads;
    for (int t = 0; t < threadCount; ++t) {
        threads.emplace_back([&] {
            while (!go.load()) std::this_thread::yield();
            for (int i = 0; i < incrementsPerThread; ++i) {
                lock.locks();
                if (inside.fetch_add(1) != 0) overlaps.fetch_add(1);
                ++total;
                inside.fetch_sub(1);
                lock.relse();
            }
        });
    }
    go.store(true);
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(total, int64_t(threadCount) * incrementsPerThread);
    EXPECT_EQ(overlaps.load(), 0);
    EXPECT_EQ(lock.counter(), 1);
    EXPECT_EQ(lock.geter(), 0);
}
