// Tests of the thread base: one thread per Resume that ends cleanly, threads coming and going, an
// error in the work still marking it finished, priority levels over the policy range, and a thread
// that cannot be created still letting WaitFor return.
#include "base/CoreTthr.h"

#include "base/CoreAnsx.h"
#include "base/CoreTevn.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

namespace {

// A worker shaped like the system's threads: sleeps on its event until woken, ends when terminated;
// it also records what start() computed for it and tries (harmlessly, unprivileged) to raise its priority.
class WakeableThread : public CoreTthr {
public:
    explicit WakeableThread(std::atomic<int>* runs) : CoreTthr(true), runCount(runs) {}
    ~WakeableThread() override {
        Terminate();
        WaitFor();
    }
    void Execute() override {
        runCount->fetch_add(1);
        policyInThread = bLevelsKnown ? iPolicy : -1;
        std::copy(iLevels, iLevels + 5, levelsInThread);
        iPriorityIndex = 4;
        exepr();
        while (!Terminated()) wake.WaitFor(10000);
    }
    void Terminate() override {
        CoreTthr::Terminate();
        wake.SetEvent();
    }

    CoreTevn wake;
    int32_t policyInThread = -2;
    int32_t levelsInThread[5] = {};

private:
    std::atomic<int>* runCount;
};

class ThrowingThread : public CoreTthr {
public:
    ThrowingThread() : CoreTthr(true) {}
    void Execute() override { throw CoreAnsx("worker failed"); }
};

} // namespace

TEST(CoreTthr, ResumeStartsOneThreadThatEndsCleanlyAndWaitForReturnsAtOnceWithoutOne) {
    std::atomic<int> runs(0);
    {
        WakeableThread never(&runs);
        never.WaitFor();
        EXPECT_FALSE(never.Finished());
        WakeableThread thread(&runs);
        thread.Resume();
        thread.Resume();
        thread.wake.SetEvent(); // a spurious wake-up: the worker keeps going
        thread.Terminate();
        thread.WaitFor();
        EXPECT_TRUE(thread.Finished());
        thread.Resume(); // after the end as well
    }
    EXPECT_EQ(runs.load(), 1);
    for (int i = 0; i < 200; ++i) { // threads come and go, each joined by its destructor
        WakeableThread brief(&runs);
        brief.Resume();
    }
    EXPECT_EQ(runs.load(), 201);
    ThrowingThread throwing; // an error thrown by the work still marks it finished
    throwing.Resume();
    throwing.WaitFor();
    EXPECT_TRUE(throwing.Finished());
}

TEST(CoreTthr, PriorityLevelsSpanThePolicyRangeOfTheThreadsOwnPolicy) {
    const int ranges[][7] = {{15, 47, 15, 23, 31, 39, 47}, {-20, 19, -20, -10, 0, 9, 19}};
    for (const auto& r : ranges) {
        int32_t out[5] = {};
        CoreTthr::levels(r[0], r[1], out);
        EXPECT_EQ(std::vector<int>(out, out + 5), std::vector<int>(r + 2, r + 7)) << r[0] << ".." << r[1];
    }
    int policy = 0;
    sched_param parameter{};
    ASSERT_EQ(pthread_getschedparam(pthread_self(), &policy, &parameter), 0);
    int32_t expected[5];
    CoreTthr::levels(sched_get_priority_min(policy), sched_get_priority_max(policy), expected);
    std::atomic<int> runs(0);
    WakeableThread probe(&runs); // inherits this thread's policy
    probe.Resume();
    probe.Terminate();
    probe.WaitFor();
    EXPECT_EQ(probe.policyInThread, policy);
    EXPECT_EQ(std::vector<int>(probe.levelsInThread, probe.levelsInThread + 5),
              std::vector<int>(expected, expected + 5));
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
namespace {
// Runs in a fresh child process: with no address space left for a new thread's stack, Resume cannot
// create the thread, yet WaitFor must return and report the work finished.
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
    const rlim_t room = (rlim_t(pages) + 256) * rlim_t(sysconf(_SC_PAGESIZE)); // 1 MB more than in use
    const rlimit limit{room, room};
    if (pages == 0 || setrlimit(RLIMIT_AS, &limit) != 0) return 2;
    thread->Resume();
    thread->WaitFor();
    const bool finished = thread->Finished();
    delete thread;
    return finished && runs.load() == 0 ? 0 : 1;
}
} // namespace

// Address-space limits cannot be used under the sanitizers, which reserve huge shadow regions. The
// child is a fresh process ("threadsafe" style): a forked one could reuse a stack cached from the
// threads of earlier tests.
TEST(CoreTthr, AThreadThatCannotBeCreatedStillLetsWaitForReturn) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(resumeWithoutRoomForAThread()), ::testing::ExitedWithCode(0), "");
}
#endif
