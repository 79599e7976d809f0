// CorePrcs: the worker thread. Its loop carries out one command at a time for the host entry (block
// requests) and the convolver configuration (plan commands), so that with a GPU every bridge call
// comes from one thread. Everyone who waits for the worker wakes on its done event, at most one lock
// precision period late, and never forces blocklock: a forced take would let two threads into the
// engine.
#include "processor/CorePrcs.h"

#include "base/CoreButl.h"
#include "base/CoreDnrm.h"
#include "base/CoreLog_.h"
#include "base/CoreXutl.h"
#include "convolution/CoreCnvl.h"
#include "program/CoreProg.h"

#include <cxxabi.h>
#include <exception>
#include <thread>

namespace {

constexpr int16_t cmdProcess = 0, cmdPlan = 1, cmdPlanCommon = 4, cmdStopBridge = 5;
// A plan command takes microseconds, and a load posts some seventy in a row: the worker looks for the
// next command, and a poster for the worker's answer, this long before they sleep on their events, so
// that a sequence of commands costs no wake-up per command.
constexpr double spinSeconds = 50e-6;

inline void cpuPause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// Calls taken() until it answers true or the spin time has passed. Between rounds the thread yields:
// on a busy machine the thread it waits for may need this very core.
template <class Taken>
bool spinUntil(Taken taken) {
    const double deadline = CoreXutl::tmono() + 1000.0 * spinSeconds;
    do {
        for (int i = 0; i < 16; ++i) {
            if (taken()) return true;
            cpuPause();
        }
        std::this_thread::yield();
    } while (CoreXutl::tmono() < deadline);
    return false;
}

// Distance from `from` forward to `to` on a ring of `length` samples.
inline int32_t forward(int32_t from, int32_t to, int32_t length) {
    const int32_t d = to - from;
    return d < 0 ? d + length : d;
}

} // namespace

void CorePrcs::startWorker() {
    if (!hasworker) return;
    Resume();
    // A thread that could not be created counts as finished at once: every command then runs on its
    // poster's thread, and the latency stays what the settings gave.
    if (Finished()) {
        CoreLog_::loger(CoreAnsx("worker thread could not be started: blocks and plans run inline"), 1);
        return;
    }
    workerlive = true;
}

void CorePrcs::Terminate() {
    CoreTthr::Terminate();
    oWorkerevent.SetEvent();
}

// The posted flag says whether a command waits; the event only wakes the loop, so a signal left over
// from a command the loop found while it spun costs one empty pass and runs nothing twice.
void CorePrcs::Execute() {
    CoreDnrm guard;
    while (!Terminated()) {
        if (!commandposted.exchange(false)) {
            oWorkerevent.WaitFor(CoreButl::iCsmphprecision);
            continue;
        }
        performCommand();
        spinUntil([this] { return commandposted.load() || Terminated(); });
    }
    CoreLog_::debug(CoreAnsx("CorePrcs thread died"), 0, 7);
}

// Without the sanitizer's null check: a thread exit's handler gets no object (see CoreTthr::ptsta).
[[gnu::no_sanitize("null")]] void CorePrcs::performCommand() {
    const int16_t code = iCommand;
    const int16_t index = iCommandindex;
    const char* failure = nullptr;
    CoreAnsx reason;
    // The worker outlives every command: whatever a command throws, blocklock goes back and the
    // poster's wait ends.
    try {
        if (commandhook) commandhook(code);
        if (code == cmdProcess)
            prcss();
        else
            doCommand(code, index);
    } catch (abi::__forced_unwind&) {
        // The thread is exiting: its unwinding must go on, and the poster still gets blocklock back.
        blocklock.relse();
        oWorkerdone.SetEvent();
        throw;
    } catch (const CoreAnsx& message) {
        failure = "failed: ";
        reason = message;
    } catch (const std::exception& error) {
        failure = "failed: ";
        reason = CoreAnsx(error.what());
    } catch (...) {
        failure = "failed";
    }
    if (failure) {
        if (code == cmdPlan || code == cmdPlanCommon) bPlanfailed = true;
        CoreLog_::loger(CoreAnsx("worker command ") + CoreAnsx(code) + " " + failure + reason, 1);
    }
    blocklock.relse();
    oWorkerdone.SetEvent();
}

void CorePrcs::postCommand(int16_t code, int16_t index) {
    iCommand = code;
    iCommandindex = index;
    commandposted.store(true);
    oWorkerevent.SetEvent();
}

void CorePrcs::runCommand(int16_t code, int16_t index) {
    if (workerlive) {
        postCommand(code, index);
        takeBlockLock(iWatchdogms, "a plan command");
        return;
    }
    iCommand = code;
    iCommandindex = index;
    if (commandhook) commandhook(code);
    doCommand(code, index);
}

void CorePrcs::takeBlockLock(int32_t watchdogMs, const char* waiter) {
    if (blocklock.locka()) return;
    if (workerlive && spinUntil([this] { return blocklock.counter() >= 1 && blocklock.locka(); })) return;
    const double start = CoreXutl::tmono();
    bool logged = false;
    for (;;) {
        oWorkerdone.WaitFor(CoreButl::iCsmphprecision);
        if (blocklock.locka()) return;
        if (!logged && CoreXutl::tmono() - start > watchdogMs) {
            logged = true;
            CoreLog_::loger(CoreAnsx("still waiting for the worker: ") + waiter, 1);
        }
    }
}

void CorePrcs::waitForOutput(int32_t count) {
    // Only blocks already handed over can arrive. The offset clamp keeps what a pass reads within them;
    // a count beyond them would wait forever, so it is never waited for.
    const int32_t handed = forward(iOutread, readpos, workdim);
    const int32_t needed = std::min(count, handed);
    const double start = CoreXutl::tmono();
    bool logged = false;
    for (;;) {
        int32_t available;
        {
            CoreSgrd hold(outlock);
            available = forward(iOutread, outpos, workdim);
        }
        if (available >= needed) return;
        oWorkerdone.WaitFor(CoreButl::iCsmphprecision);
        if (!logged && CoreXutl::tmono() - start > iWatchdogms) {
            logged = true;
            CoreLog_::loger(CoreAnsx("still waiting for the worker: the host's output"), 1);
        }
    }
}

void CorePrcs::stopWorker() {
    if (!workerlive) return;
    iCommandindex = 0;
    postCommand(cmdStopBridge, 0);
    takeBlockLock(iWatchdogms, "the bridge stop");
    Terminate();
    WaitFor();
    workerlive = false;
}
