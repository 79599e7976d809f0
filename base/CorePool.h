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
#include <cstdint>
#include <functional>
#include <map>

class CoreSmph;
class CoreTlst;

class CorePool {
public:
    static const int iCattempts = 5;  // further attempts after a failed allocation
    static const int iCoverhead = 20; // bytes counted on top of each request

    CorePool();
    ~CorePool();
    CorePool(const CorePool&) = delete;
    CorePool& operator=(const CorePool&) = delete;

    void* mallc(int16_t type, int count, const char* label, const CoreAnsx& site = CoreAnsx());
    void free_(void* p);
    int64_t getma() const; // bytes held now
    int64_t getxa() const; // peak
    int64_t getxr() const; // largest single request
    void setal(int64_t limit);
    void logst();
    void logdp();
    static int getdm(int16_t type);

    // Test seams: the allocation call and the pause between attempts.
    std::function<void*(size_t)> allocator;
    std::function<void(int)> pause;

private:
    struct Record;
    Record* findRecord(void* p);

    int64_t iLimit;
    int64_t iAllocated;
    int64_t iPeak;
    int64_t iLargest;
    bool bLimit;
    CoreTlst* pRecords;            // records in order of allocation
    std::map<void*, int>* pIndex;  // address -> sequence number, for fast release
    CoreSmph* pLock;
};
