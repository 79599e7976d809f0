#include "base/CoreTthr.h"

#include "base/CoreAnsx.h"
#include "base/CoreLog_.h"

#include <cerrno>
#include <cxxabi.h>
#include <exception>
#include <pthread.h>
#include <sched.h>
#include <system_error>

CoreTthr::CoreTthr(bool createSuspended)
    : bTerminated(false), iPriorityIndex(0), bSuspended(true), bLevelsKnown(false), iLevels{0, 0, 0, 0, 0},
      iPolicy(0), bFinished(false), bCreated(false) {
    if (!createSuspended) Resume();
}

// The owner has ended the thread (Terminate, its wake-up, WaitFor) before deleting it; joining here only
// reclaims the finished thread. A thread is never cancelled: it may hold a lock.
CoreTthr::~CoreTthr() {
    if (oThread.joinable()) {
        bTerminated.store(true);
        oThread.join();
    }
}

void CoreTthr::Resume() {
    std::lock_guard<std::mutex> guard(oMutex);
    if (!bSuspended) return;
    bSuspended = false;
    try {
        oThread = std::thread(&CoreTthr::ptsta, this);
        bCreated = true;
    } catch (const std::system_error& failure) {
        // No thread will ever mark the work finished, so mark it here: WaitFor must return.
        bFinished = true;
        CoreLog_::loger(CoreAnsx("Thread could not be started: ") + CoreAnsx(failure.what()), 1);
    }
}

// The runtime hands the handler of a thread exit no object, so the sanitizer's null check would stop
// the exit at that handler's reference: this function, and every other one that lets a thread exit
// pass a catch-all, goes without that check.
[[gnu::no_sanitize("null")]] void CoreTthr::ptsta(CoreTthr* self) {
    // Resume holds the mutex until the handle is stored; waiting for it here makes the handle visible to this
    // thread (exepr reads it).
    { std::lock_guard<std::mutex> guard(self->oMutex); }

    // Marks the work finished on every way out, an exception or a thread exit included.
    struct FinishOnExit {
        CoreTthr* thread;
        ~FinishOnExit() { thread->markFinished(); }
    } finishOnExit{self};

    try {
        self->start();
        self->Execute();
    } catch (abi::__forced_unwind&) {
        throw; // thread exit unwinding: must go on
    } catch (const CoreAnsx& message) {
        CoreLog_::loger(CoreAnsx("Thread ended by an error: ") + message, 1);
    } catch (const std::exception& failure) {
        CoreLog_::loger(CoreAnsx("Thread ended by an error: ") + CoreAnsx(failure.what()), 1);
    } catch (...) {
        CoreLog_::loger(CoreAnsx("Thread ended by an unknown error"), 1);
    }
}

void CoreTthr::markFinished() {
    std::lock_guard<std::mutex> guard(oMutex);
    bFinished = true;
    oCondition.notify_all();
}

int CoreTthr::start() {
    int policy = 0;
    sched_param parameter{};
    const int readError = pthread_getschedparam(pthread_self(), &policy, &parameter);
    if (readError != 0) return readError;
    const int minimum = sched_get_priority_min(policy);
    const int maximum = sched_get_priority_max(policy);
    if (minimum == -1 || maximum == -1) return errno;
    std::lock_guard<std::mutex> guard(oMutex);
    levels(minimum, maximum, iLevels);
    iPolicy = policy;
    bLevelsKnown = true;
    return 0;
}

void CoreTthr::Terminate() {
    bTerminated.store(true);
}

void CoreTthr::Execute() {}

void CoreTthr::exepr() {
    sched_param parameter{};
    int policy = 0;
    pthread_t handle;
    {
        std::lock_guard<std::mutex> guard(oMutex);
        if (!bLevelsKnown || !oThread.joinable()) return;
        int index = iPriorityIndex;
        if (index < 0) index = 0;
        if (index > 4) index = 4;
        parameter.sched_priority = iLevels[index];
        policy = iPolicy;
        handle = oThread.native_handle();
    }
    const int applyError = pthread_setschedparam(handle, policy, &parameter);
    // Raising a priority needs a privilege ordinary users lack; the thread then keeps its own.
    if (applyError != 0 && applyError != EPERM)
        CoreLog_::loger(CoreAnsx("Thread priority not applied, error ") + CoreAnsx(applyError), 1);
}

void CoreTthr::WaitFor() {
    std::unique_lock<std::mutex> lock(oMutex);
    oCondition.wait(lock, [this] { return bFinished || bSuspended; });
}

bool CoreTthr::Finished() {
    std::lock_guard<std::mutex> guard(oMutex);
    return bFinished;
}

// Level 0 is the policy's minimum and level 4 its maximum; levels 1-3 lie a quarter, half and three quarters
// of the way up, truncated toward zero.
void CoreTthr::levels(int minimum, int maximum, int32_t out[5]) {
    const double range = static_cast<double>(maximum) - static_cast<double>(minimum);
    out[0] = minimum;
    out[1] = static_cast<int32_t>(minimum + 0.25 * range);
    out[2] = static_cast<int32_t>(minimum + 0.5 * range);
    out[3] = static_cast<int32_t>(minimum + 0.75 * range);
    out[4] = maximum;
}
