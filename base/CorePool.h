// CorePool: the tracked allocator for every large buffer. Each request names an element type, a
// count and a short label; blocks are 64-byte aligned and recorded, totals (current, peak,
// largest) are kept, failed allocations are retried, and a failure is logged and thrown.
// Thread-safe: one pool serves all instances and threads of the process.
//
// Element types and sizes: 0 -> 8 bytes, 1..3 -> 4 bytes, 4..5 -> 1 byte, 6 -> 2 bytes, others 0.
// The 4-byte types are 32-bit integers and floats: a caller storing a 64-bit integer or a pointer
// asks by type 0 (8 bytes). Each block is counted as element size * count + 20 bytes.
#pragma once
#include "base/CoreAnsx.h"
#include <cstddef>
#include <cstdint>
#include <functional>

class CoreSmph;

class CorePool {
public:
    static const int iCattempts = 5;  // further attempts after a failed allocation
    static const int iCoverhead = 20; // bytes counted on top of each request
    static const int iCalignment = 64;

    CorePool();
    ~CorePool();
    CorePool(const CorePool&) = delete;
    CorePool& operator=(const CorePool&) = delete;

    // Throws a CoreAnsx "Memory request failed " + bytes (totals unchanged) when the count is
    // negative, the limit is exceeded or the allocation still fails after its retries.
    void* mallc(int16_t type, int count, const char* label, const CoreAnsx& site = CoreAnsx());
    void free_(void* p);   // null, or an address the pool does not hold (logged), changes nothing
    int64_t getma() const; // bytes held now
    int64_t getxa() const; // peak
    int64_t getxr() const; // largest single request
    void setal(int64_t limit);
    void logst();
    void logdp();
    static int getdm(int16_t type);

    // Test seams, set before the pool is shared: the allocation call (bytes, a multiple of 64, to a
    // 64-byte-aligned block or null), its release, and the pause in milliseconds between attempts.
    std::function<void*(size_t)> allocator;
    std::function<void(void*)> release;
    std::function<void(int)> pause;

private:
    struct Book; // the block records, in order of allocation and indexed by address

    int64_t iLimit;
    int64_t iAllocated;
    int64_t iPeak;
    int64_t iLargest;
    bool bLimit;
    Book* pBook;
    CoreSmph* pLock; // guards the records, the totals and the allocation calls
};
