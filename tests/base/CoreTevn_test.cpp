// Tests of the event: one signal is consumed by one wait whatever the constructor asked, signals do
// not accumulate, a timed wait waits, and a signal from another thread wakes exactly one waiter.
#include "base/CoreTevn.h"

#include "base/CoreXutl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(CoreTevn, OneSignalIsConsumedByOneWaitWhateverTheConstructorAsked) {
    CoreTevn event(nullptr, true, true, "wake"); // manual reset and initially set are ignored
    EXPECT_EQ(event.WaitFor(0), CoreTevn::iCwrnotsignaled);
    EXPECT_EQ(event.WaitFor(-1), CoreTevn::iCwrnotsignaled);
    event.SetEvent();
    event.SetEvent(); // signals do not accumulate
    EXPECT_EQ(event.WaitFor(0), CoreTevn::iCwrsignaled);
    const double before = CoreXutl::tmono();
    EXPECT_EQ(event.WaitFor(30), CoreTevn::iCwrnotsignaled);
    EXPECT_GE(CoreXutl::tmono() - before, 29.0); // it did wait
    event.SetEvent();
    event.ResetEvent();
    EXPECT_EQ(event.WaitFor(0), CoreTevn::iCwrnotsignaled);
}

TEST(CoreTevn, ASignalFromAnotherThreadWakesExactlyOneWaiter) {
    CoreTevn event;
    std::atomic<int> signalled(0);
    auto waiter = [&] {
        if (event.WaitFor(2000) == CoreTevn::iCwrsignaled) signalled.fetch_add(1);
    };
    std::thread first(waiter);
    std::thread second(waiter);
    CoreXutl::sleep(50);
    event.SetEvent();
    while (signalled.load() == 0) std::this_thread::yield();
    event.SetEvent(); // the second waiter, still waiting, takes this one
    first.join();
    second.join();
    EXPECT_EQ(signalled.load(), 2);
    EXPECT_EQ(event.WaitFor(0), CoreTevn::iCwrnotsignaled);
}
