// CoreSmph: the system's lock, a one-permit semaphore on an atomic counter. A contended take spins
// for a few microseconds, then sleeps one precision period between attempts. Not recursive, no
// owner: any thread may release it. The timed take never hangs: when its time runs out it takes the
// lock by force and counts an error.
#pragma once
#include <atomic>
#include <cstdint>

// Atomic increment and decrement returning the new value; sequentially consistent.
int ininc(std::atomic<int32_t>* p);
int indec(std::atomic<int32_t>* p);

class CoreSmph {
public:
    static constexpr int32_t iCsphinit = 1;
    // How long a contended take spins before it sleeps. The audio path takes locks that other
    // threads keep for a few instructions; one sleep would cost it more than a whole block.
    static constexpr int spinMicroseconds = 5;

    CoreSmph();
    ~CoreSmph();
    CoreSmph(const CoreSmph&) = delete;
    CoreSmph& operator=(const CoreSmph&) = delete;

    int locks();        // waits as long as needed; returns 0
    bool locka();       // one attempt, never waits
    void locks(int ms); // waits about ms milliseconds, then takes the lock by force
    int relse();        // releases; the counter never rises above 1
    int geter() const;  // forced takes so far
    int debgl();        // takes like locks(); returns the number of sleeps needed (0 after spinning)

    int32_t counter() const { return iCounter.load(); }

private:
    bool spinTake(); // tries until the lock is taken (true) or the spin time has passed (false)

    std::atomic<int32_t> iCounter;
    std::atomic<int32_t> iErrors;
};
