#include "base/CoreTevn.h"

#include <chrono>

CoreTevn::CoreTevn(void*, bool, bool, const char*) : bSignalled(false) {}

CoreTevn::~CoreTevn() {}

void CoreTevn::SetEvent() {
    // Notified under the mutex: a waiter that wakes may destroy the event at once.
    std::lock_guard<std::mutex> guard(oMutex);
    bSignalled = true;
    oCondition.notify_one();
}

void CoreTevn::ResetEvent() {
    std::lock_guard<std::mutex> guard(oMutex);
    bSignalled = false;
}

// One wait only: a wake-up without a signal, or a signal another waiter consumed first, returns 0 before ms
// has passed. Callers loop on their own conditions. The deadline is taken on the monotonic clock so that a
// wall-clock step cannot stretch or cut the wait.
int CoreTevn::WaitFor(int ms) {
    std::unique_lock<std::mutex> lock(oMutex);
    bool signalled = bSignalled;
    if (!signalled) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
        oCondition.wait_until(lock, deadline);
        signalled = bSignalled;
    }
    if (signalled) bSignalled = false;
    return signalled ? iCwrsignaled : iCwrnotsignaled;
}
