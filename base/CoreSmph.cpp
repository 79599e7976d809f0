#include "base/CoreSmph.h"

#include "base/CoreAnsx.h"
#include "base/CoreLog_.h"
#include "base/CoreXutl.h"

#include <chrono>

#include <emmintrin.h>

namespace {
// Sleep between two attempts on a busy lock, in milliseconds.
const int sleepBetweenAttemptsMs = 1;
// Spinning attempts between two readings of the clock.
const int attemptsPerClockReading = 16;
} // namespace

int ininc(std::atomic<int32_t>* p) {
    return p->fetch_add(1) + 1;
}

int indec(std::atomic<int32_t>* p) {
    return p->fetch_sub(1) - 1;
}

CoreSmph::CoreSmph() : iCounter(iCsphinit), iErrors(0) {}

CoreSmph::~CoreSmph() {}

// The counter only ever holds 1 (free) or 0 (taken): takers move it 1 -> 0 and releases 0 -> 1 by
// compare-and-swap. A take that decremented first and undid it on failure would let the counter pass through
// negative values, and a second release landing in that window (after a forced take both holders release)
// would leave it at 2, admitting two takers.
bool CoreSmph::locka() {
    int32_t expected = iCounter.load();
    while (expected >= 1) {
        if (iCounter.compare_exchange_weak(expected, expected - 1)) return true;
    }
    return false;
}

int CoreSmph::locks() {
    debgl();
    return 0; // the counter just moved from 1 to 0
}

// Attempts only read the counter until it shows the lock free, so that spinning takers do not take
// the counter's cache line from the holder.
bool CoreSmph::spinTake() {
    const auto start = std::chrono::steady_clock::now();
    for (;;) {
        for (int i = 0; i < attemptsPerClockReading; ++i) {
            _mm_pause();
            if (iCounter.load(std::memory_order_relaxed) >= 1 && locka()) return true;
        }
        if (std::chrono::steady_clock::now() - start >= std::chrono::microseconds(spinMicroseconds))
            return false;
    }
}

int CoreSmph::debgl() {
    if (locka() || spinTake()) return 0;
    int sleeps = 0;
    do {
        CoreXutl::sleep(sleepBetweenAttemptsMs);
        ++sleeps;
    } while (!locka());
    return sleeps;
}

void CoreSmph::locks(int ms) {
    if (locka() || spinTake()) return;
    const double startMs = CoreXutl::tmono();
    while (!locka()) {
        CoreXutl::sleep(sleepBetweenAttemptsMs);
        const double waitedMs = CoreXutl::tmono() - startMs;
        if (waitedMs > ms) {
            // Callers rely on never hanging: take the lock as if it had been granted, even though its holder
            // may still be inside. The holder's later release and ours both end at 1.
            iCounter.store(0);
            const int errors = iErrors.fetch_add(1) + 1;
            CoreLog_::loger(CoreAnsx("Lock forced after ") + CoreAnsx(static_cast<int>(waitedMs)) +
                                CoreAnsx(" ms (forced takes: ") + CoreAnsx(errors) + CoreAnsx(")"),
                            1);
            return;
        }
    }
}

int CoreSmph::relse() {
    int32_t expected = iCounter.load();
    while (expected < iCsphinit) {
        if (iCounter.compare_exchange_weak(expected, expected + 1)) return expected + 1;
    }
    return expected;
}

int CoreSmph::geter() const {
    return iErrors.load();
}
