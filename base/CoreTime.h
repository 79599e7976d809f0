// CoreTime: a meter of the mean time per unit of work (for instance
// milliseconds per processed sample): the worker code brackets its work with
// setmp, the processor reads and resets it with getmp. Every access takes the
// meter's own lock; safe from any thread.
#pragma once
#include "base/CoreSmph.h"
#include <cstdint>

class CoreTime {
public:
    CoreTime();
    CoreTime(const CoreTime&) = delete;
    CoreTime& operator=(const CoreTime&) = delete;

    // begin: a measurement starts now. Otherwise the time since the start is
    // added and n units are counted.
    void setmp(bool begin, int n = 0);
    void setms(int n); // counts n units without adding time
    // Milliseconds per unit since the last call (0 when no unit was counted);
    // then starts afresh.
    double getmp();
    static void sleep(int ms);

private:
    double dStart;       // milliseconds, monotonic clock
    double dAccumulated; // milliseconds measured since the last getmp
    int32_t iCount;      // units counted since the last getmp
    CoreSmph oLock;
};
