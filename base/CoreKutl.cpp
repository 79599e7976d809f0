#include "base/CoreKutl.h"

#include <sys/time.h>

namespace {
const long nanosecondsPerMillisecond = 1000000L;
const long nanosecondsPerSecond = 1000000000L;
} // namespace

void CoreKutl::cnmpd(long ms, timespec* deadline) {
    timeval now;
    gettimeofday(&now, nullptr);
    cnmpd(ms, static_cast<long>(now.tv_sec), static_cast<long>(now.tv_usec), deadline);
}

void CoreKutl::cnmpd(long ms, long nowSeconds, long nowMicroseconds, timespec* deadline) {
    if (ms < 0) ms = 0;
    const long ns = ms * nanosecondsPerMillisecond;
    long seconds = nowSeconds + ns / nanosecondsPerSecond;
    long nanoseconds = nowMicroseconds * 1000L + ns % nanosecondsPerSecond;
    if (nanoseconds >= nanosecondsPerSecond) {
        seconds += 1;
        nanoseconds -= nanosecondsPerSecond;
    }
    deadline->tv_sec = seconds;
    deadline->tv_nsec = nanoseconds;
}
