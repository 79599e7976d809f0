#include "base/CoreTevn.h"

#include "base/CoreXutl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(CoreTevn, SignalSetBeforeTheWaitIsConsumedOnce) {
    CoreTevn event;
    event.SetEvent();
    event.SetEvent(); // signals do not accumulate
    EXPECT_EQ(event.WaitFor(10000), CoreTevn::iCwrsignaled);
    const double before = CoreXutl::tmono();
    EXPECT_EQ(event.WaitFor(30), CoreTevn::iCwrnotsignaled);
    EXPECT_GE(CoreXutl::tmono() - before, 29.0); // it did wait
}

TEST(CoreTevn, ZeroWaitOnAnUnsetEventReturnsNotSignalled) {
    CoreTevn event;
    EXPECT_EQ(event.WaitFor(0), CoreTevn::iCwrnotsignaled);
    EXPECT_EQ(event.WaitFor(-1), CoreTevn::iCwrnotsignaled);
    event.SetEvent();
    EXPECT_EQ(event.WaitFor(0), CoreTevn::iCwrsignaled);
}

TEST(CoreTevn, ConstructorArgumentsAreIgnored) {
    char name[] = "wake";
    CoreTevn event(nullptr, true, true,
                   name); // asks for manual reset, initially set
    EXPECT_EQ(event.WaitFor(0), CoreTevn::iCwrnotsignaled);
    event.SetEvent();
    EXPECT_EQ(event.WaitFor(0), CoreTevn::iCwrsignaled);
    EXPECT_EQ(event.WaitFor(0),
              CoreTevn::iCwrnotsignaled); // auto-reset after all
}

TEST(CoreTevn, ResetClearsAPendingSignal) {
    CoreTevn event;
    event.SetEvent();
    event.ResetEvent();
    EXPECT_EQ(event.WaitFor(0), CoreTevn::iCwrnotsignaled);
}

TEST(CoreTevn, SignalFromAnotherThreadWakesTheWaiter) {
    CoreTevn event;
    std::thread setter([&] {
        CoreXutl::sleep(20);
        event.SetEvent();
    });
    EXPECT_EQ(event.WaitFor(60000), CoreTevn::iCwrsignaled);
    setter.join();
    EXPECT_EQ(event.WaitFor(0), CoreTevn::iCwrnotsignaled);
}

TEST(CoreTevn, OneSignalReleasesOnlyOneOfTwoWaiters) {
    CoreTevn event;
    std::atomic<int> signalled(0);
    auto waiter = [&] {
        if (event.WaitFor(400) == CoreTevn::iCwrsignaled) signalled.fetch_add(1);
    };
    std::thread first(waiter);
    std::thread second(waiter);
    CoreXutl::sleep(50);
    event.SetEvent();
    first.join();
    second.join();
    EXPECT_EQ(signalled.load(), 1);
}
