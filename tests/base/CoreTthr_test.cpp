#include "base/CoreTthr.h"

#include "base/CoreAnsx.h"
#include "base/CoreTevn.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

// A worker shaped like the system's threads: sleeps on its event until woken, ends when terminated.
class WakeableThread : public CoreTthr {
public:
    explicit WakeableThread(std::atomic<int>* runs) : CoreTthr(true), runCount(runs) {}
    ~WakeableThread() override {
        Terminate();
        wake.SetEvent();
        WaitFor();
    }
    void Execute() override {
        runCount->fetch_add(1);
        while (!Terminated()) wake.WaitFor(10000);
    }
    void Terminate() override {
        CoreTthr::Terminate();
        wake.SetEvent();
    }

    CoreTevn wake;

private:
    std::atomic<int>* runCount;
};

// Records what start() computed for the thread it runs on, then tries to raise its priority.
class PriorityProbe : public CoreTthr {
public:
    PriorityProbe() : CoreTthr(true) {}
    void Execute() override {
        levelsKnownInThread = bLevelsKnown;
        policyInThread = iPolicy;
        for (int i = 0; i < 5; ++i) levelsInThread[i] = iLevels[i];
        iPriorityIndex = 4;
        exepr(); // refused without privilege: must be harmless
    }
    bool levelsKnownInThread = false;
    int32_t policyInThread = -1;
    int32_t levelsInThread[5] = {-1, -1, -1, -1, -1};
};

class ThrowingThread : public CoreTthr {
public:
    ThrowingThread() : CoreTthr(true) {}
    void Execute() override { throw CoreAnsx("worker failed"); }
};

} // namespace

TEST(CoreTthr, ResumeTwiceStartsOneThread) {
    std::atomic<int> runs(0);
    {
        WakeableThread thread(&runs);
        EXPECT_FALSE(thread.Finished());
        thread.Resume();
        thread.Resume();
        thread.Terminate();
        thread.WaitFor();
        EXPECT_TRUE(thread.Finished());
        thread.Resume(); // after the end as well
    }
    EXPECT_EQ(runs.load(), 1);
}

TEST(CoreTthr, WaitForReturnsAtOnceWhenTheThreadNeverStarted) {
    std::atomic<int> runs(0);
    WakeableThread thread(&runs);
    thread.WaitFor();
    EXPECT_FALSE(thread.Finished());
    EXPECT_EQ(runs.load(), 0);
}

TEST(CoreTthr, ThreadCreatedUnsuspendedRunsAtOnce) {
    CoreTthr thread(false);
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
    EXPECT_FALSE(thread.Terminated());
}

TEST(CoreTthr, TerminateWaitForAndDeleteEndTheThreadCleanly) {
    std::atomic<int> runs(0);
    auto* thread = new WakeableThread(&runs);
    thread->Resume();
    thread->wake.SetEvent(); // a spurious wake-up: the worker keeps going
    thread->Terminate();
    thread->WaitFor();
    EXPECT_TRUE(thread->Finished());
    delete thread;
    EXPECT_EQ(runs.load(), 1);
}

TEST(CoreTthr, FiveThousandThreadsComeAndGo) {
    const int cycles = 5000;
    std::atomic<int> runs(0);
    for (int i = 0; i < cycles; ++i) {
        auto* thread = new WakeableThread(&runs);
        thread->Resume();
        thread->Terminate();
        thread->WaitFor();
        delete thread;
    }
    EXPECT_EQ(runs.load(), cycles);
}

TEST(CoreTthr, ErrorThrownByTheWorkStillMarksItFinished) {
    ThrowingThread thread;
    thread.Resume();
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
}

TEST(CoreTthr, PriorityLevelsSpanThePolicyRange) {
    struct LevelCase {
        int minimum, maximum;
        int32_t levels[5];
    };
    const LevelCase cases[] = {
        {15, 47, {15, 23, 31, 39, 47}},
        {0, 0, {0, 0, 0, 0, 0}},
        {1, 99, {1, 25, 50, 74, 99}},
        {-20, 19, {-20, -10, 0, 9, 19}},
    };
    for (const LevelCase& c : cases) {
        int32_t out[5] = {};
        CoreTthr::levels(c.minimum, c.maximum, out);
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(out[i], c.levels[i]) << "range " << c.minimum << ".." << c.maximum << " level " << i;
    }
}

TEST(CoreTthr, StartReadsThePolicyOfItsOwnThread) {
    int policy = 0;
    sched_param parameter{};
    ASSERT_EQ(pthread_getschedparam(pthread_self(), &policy, &parameter), 0);
    int32_t expected[5];
    CoreTthr::levels(sched_get_priority_min(policy), sched_get_priority_max(policy), expected);

    PriorityProbe probe; // inherits this thread's policy
    probe.Resume();
    probe.WaitFor();
    EXPECT_TRUE(probe.levelsKnownInThread);
    EXPECT_EQ(probe.policyInThread, policy);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(probe.levelsInThread[i], expected[i]);
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
namespace {
// Runs in a child process: with no address space left for a new thread's stack, Resume cannot create the
// thread, yet WaitFor must return and report the work finished.
int resumeWithoutRoomForAThread() {
    alarm(20); // a WaitFor that never returns kills the child instead of hanging the test
    std::atomic<int> runs(0);
    auto* thread = new WakeableThread(&runs);
    thread->Terminate(); // were it created after all, it would end at once and count its run
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    const rlim_t used = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
    const rlim_t room = 1u << 20;
    rlimit limit{used + room, used + room};
    if (pages == 0 || setrlimit(RLIMIT_AS, &limit) != 0) return 2;
    thread->Resume();
    thread->WaitFor();
    const bool finished = thread->Finished();
    delete thread;
    return finished && runs.load() == 0 ? 0 : 1;
}
} // namespace

// Address-space limits cannot be used under the sanitizers, which reserve huge shadow regions.
TEST(CoreTthr, ThreadThatCannotBeCreatedStillLetsWaitForReturn) {
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(std::_Exit(resumeWithoutRoomForAThread()), ::testing::ExitedWithCode(0), "");
}
#endif
