#include "base/CorePool.h"
#include "base/CoreLog_.h"
#include "base/CoreSmph.h"
#include "base/CoreXutl.h"
#include "platform/IppLayer.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <unordered_map>
#include <vector>

namespace {

const int retryPauseMs = 100;
const int labelSize = 8; // a record keeps 7 characters of the label and the NUL

struct Record {
    uint16_t type;
    void* address; // as returned to the caller; also the address handed back to release
    int count;
    int64_t bytes; // element size * count + 20, as counted in the totals
    char label[labelSize];
};

class Hold {
public:
    explicit Hold(CoreSmph* lock) : lock(lock) { lock->locks(); }
    ~Hold() { lock->relse(); }
    Hold(const Hold&) = delete;
    Hold& operator=(const Hold&) = delete;

private:
    CoreSmph* lock;
};

CoreAnsx addressText(const void* p) {
    return CoreAnsx(static_cast<long>(reinterpret_cast<intptr_t>(p)));
}

// The signal-processing layer's allocator gives 64-byte-aligned blocks and takes an int size, so
// larger requests fail like any other allocation that cannot be served.
void* alignedBlock(size_t bytes) {
    if (bytes > static_cast<size_t>(std::numeric_limits<int>::max())) return nullptr;
    return ippsMalloc_8u(static_cast<int>(bytes));
}

} // namespace

// Records keyed by a sequence number keep the allocation order (the destructor releases newest
// first); the address index makes free_ independent of how many blocks are held.
struct CorePool::Book {
    std::map<uint64_t, Record> byAge;
    std::unordered_map<void*, uint64_t> byAddress;
    uint64_t nextSequence = 0;
};

CorePool::CorePool()
    : allocator(alignedBlock), release([](void* p) { ippsFree(p); }),
      pause([](int ms) { CoreXutl::sleep(ms); }), iLimit(0), iAllocated(0), iPeak(0), iLargest(0),
      bLimit(false), pBook(new Book), pLock(new CoreSmph) {}

CorePool::~CorePool() {
    try {
        if (CoreLog_::aredb()) {
            CoreLog_::debug(CoreAnsx("pool locations left: ") +
                                CoreAnsx(static_cast<unsigned long>(pBook->byAge.size())),
                            0, 2);
            logdp();
        }
    } catch (...) {
        // Short of memory for the report: the blocks are released all the same.
    }
    for (auto it = pBook->byAge.rbegin(); it != pBook->byAge.rend(); ++it) {
        try {
            release(it->second.address);
        } catch (...) {
        }
    }
    delete pBook;
    delete pLock;
}

int CorePool::getdm(int16_t type) {
    switch (type) {
    case 0:
        return 8;
    case 1:
    case 2:
    case 3:
        return 4;
    case 4:
    case 5:
        return 1;
    case 6:
        return 2;
    default:
        return 0;
    }
}

void* CorePool::mallc(int16_t type, int count, const char* label, const CoreAnsx&) {
    const int elementSize = getdm(type);
    // The figure reported in the message; for a negative count it is what the formula gives.
    const int64_t bytes = static_cast<int64_t>(elementSize) * count + iCoverhead;
    const size_t mostElements =
        elementSize == 0 ? std::numeric_limits<size_t>::max()
                         : (std::numeric_limits<size_t>::max() - iCoverhead - iCalignment) / elementSize;
    bool refused = count < 0 || static_cast<size_t>(count) > mostElements;

    void* block = nullptr;
    size_t blockSize = 0;
    if (!refused) {
        blockSize = (static_cast<size_t>(count) * elementSize + iCoverhead + iCalignment - 1) &
                    ~static_cast<size_t>(iCalignment - 1);
        auto attempt = [&]() -> void* {
            Hold hold(pLock);
            // A limit already passed refuses the request; reaching it exactly does not.
            if (bLimit && iAllocated > iLimit) {
                refused = true;
                return nullptr;
            }
            try {
                return allocator(blockSize);
            } catch (...) {
                return nullptr;
            }
        };
        block = attempt();
        for (int retry = 0; !block && !refused && retry < iCattempts; ++retry) {
            pause(retryPauseMs);
            block = attempt();
        }
    }

    int64_t allocatedNow = 0;
    Record record{};
    if (block) {
        record.type = static_cast<uint16_t>(type);
        record.address = block;
        record.count = count;
        record.bytes = bytes;
        std::memset(record.label, 0, sizeof record.label);
        if (label) std::strncpy(record.label, label, labelSize - 1);
        try {
            Hold hold(pLock);
            uint64_t sequence = pBook->nextSequence++;
            pBook->byAge.emplace(sequence, record);
            try {
                pBook->byAddress.emplace(block, sequence);
            } catch (...) {
                pBook->byAge.erase(sequence);
                throw;
            }
            iAllocated += bytes;
            if (iAllocated > iPeak) iPeak = iAllocated;
            if (bytes > iLargest) iLargest = bytes;
            allocatedNow = iAllocated;
        } catch (...) {
            release(block);
            block = nullptr;
        }
    }

    if (!block) {
        CoreAnsx message = CoreAnsx("Memory request failed ") + CoreAnsx(static_cast<long>(bytes));
        CoreLog_::loger(message, 1);
        logst();
        throw message;
    }
    if (CoreLog_::aredb()) {
        CoreLog_::debug(CoreAnsx("memory block #: ") + record.label + " " + addressText(block) + "/" +
                            CoreAnsx(static_cast<long>(bytes)) + "/" +
                            CoreAnsx(static_cast<long>(allocatedNow)),
                        0, 6);
    }
    return block;
}

void CorePool::free_(void* p) {
    // Owners release every block they may hold, allocated or not (unused converter slots, buffers a
    // reader never needed), as free() allows: null is no error, and logging it would bury real ones.
    if (p == nullptr) return;
    bool found = false;
    size_t left = 0;
    {
        Hold hold(pLock);
        auto indexed = pBook->byAddress.find(p);
        if (indexed != pBook->byAddress.end()) {
            auto record = pBook->byAge.find(indexed->second);
            iAllocated -= record->second.bytes;
            pBook->byAge.erase(record);
            pBook->byAddress.erase(indexed);
            found = true;
        }
        left = pBook->byAge.size();
    }
    if (found) {
        // Out of the records, the block is no longer reachable by any other thread.
        release(p);
    } else if (CoreLog_::aredb()) {
        CoreLog_::loger(
            CoreAnsx("memory release error (left ") + CoreAnsx(static_cast<unsigned long>(left)) + ")", 1);
    }
}

int64_t CorePool::getma() const {
    Hold hold(pLock);
    return iAllocated;
}

int64_t CorePool::getxa() const {
    Hold hold(pLock);
    return iPeak;
}

int64_t CorePool::getxr() const {
    Hold hold(pLock);
    return iLargest;
}

void CorePool::setal(int64_t limit) {
    Hold hold(pLock);
    iLimit = limit;
    bLimit = true;
}

void CorePool::logst() {
    int64_t peak, largest, allocated;
    {
        Hold hold(pLock);
        peak = iPeak;
        largest = iLargest;
        allocated = iAllocated;
    }
    CoreLog_::debug(CoreAnsx("max mem alloc: ") + CoreAnsx(static_cast<long>(peak)), 0, 2);
    CoreLog_::debug(CoreAnsx("max mem reqst: ") + CoreAnsx(static_cast<long>(largest)), 0, 2);
    CoreLog_::debug(CoreAnsx("memory alloct: ") + CoreAnsx(static_cast<long>(allocated)), 0, 2);
}

void CorePool::logdp() {
    if (!CoreLog_::aredb()) return;
    std::vector<CoreAnsx> lines;
    {
        Hold hold(pLock);
        lines.reserve(pBook->byAge.size());
        for (const auto& [sequence, record] : pBook->byAge) {
            lines.push_back(CoreAnsx("left memory block: ") + CoreAnsx(static_cast<int>(record.type)) + " " +
                            record.label + " " + CoreAnsx(record.count) + " " + addressText(record.address));
        }
    }
    for (const CoreAnsx& line : lines) CoreLog_::debug(line, 0, 2);
}
