// CoreKutl: deadlines for timed waits on condition variables. Static; thread-safe.
#pragma once
#include <ctime>

class CoreKutl {
public:
    // Absolute wall-clock deadline now + ms milliseconds (ms not negative).
    static void cnmpd(long ms, timespec* deadline);
    // The same, from a given "now" in seconds and microseconds.
    static void cnmpd(long ms, long nowSeconds, long nowMicroseconds, timespec* deadline);
};
