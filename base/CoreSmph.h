// CoreSmph: the system's lock, a one-permit semaphore on an atomic counter taken by sleeping one
// precision period between attempts. Not recursive, no owner: any thread may release it. The
// timed take never hangs: when its time runs out it takes the lock by force and counts an error.
#pragma once
#include <atomic>
#include <cstdint>

// Atomic increment and decrement returning the new value; sequentially consistent.
int ininc(std::atomic<int32_t>* p);
int indec(std::atomic<int32_t>* p);

class CoreSmph {
public:
    static constexpr int32_t iCsphinit = 1;

    CoreSmph();
    ~CoreSmph();
    CoreSmph(const CoreSmph&) = delete;
    CoreSmph& operator=(const CoreSmph&) = delete;

    int locks();        // waits as long as needed; returns 0
    bool locka();       // one attempt, never waits
    void locks(int ms); // waits about ms milliseconds, then takes the lock by force
    int relse();        // releases; the counter never rises above 1
    int geter() const;  // forced takes so far
    int debgl();        // takes like locks(); returns the number of sleeps needed

    int32_t counter() const { return iCounter.load(); }

private:
    std::atomic<int32_t> iCounter;
    std::atomic<int32_t> iErrors;
};
