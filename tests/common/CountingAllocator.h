// Counting replacement of the global allocation functions, for tests showing that a path (a block,
// a per-block step, an update) allocates nothing: read heapAllocations before and after; or that a
// path survives any one allocation failing (failingAllocation).
// Defines the replaceable operators, so include it in exactly one source file of a test program.
// Every form is replaced, so that no allocation reaches another allocator than its release.
#pragma once
#include <atomic>
#include <cstdlib>
#include <new>

inline std::atomic<long> heapAllocations{0};
// The allocations of the calling thread alone (other threads of the process may allocate meanwhile).
inline thread_local long threadAllocations = 0;
// Set to n above 0, the n-th allocation from then on fails (bad_alloc; null for the nothrow forms).
inline std::atomic<long> failingAllocation{0};

namespace countingallocator {
// Out of line so that the compiler does not pair an inlined malloc with a delete. Null when short.
[[gnu::noinline]] inline void* allocate(std::size_t size) noexcept {
    ++heapAllocations;
    ++threadAllocations;
    if (failingAllocation.load() > 0 && --failingAllocation == 0) return nullptr;
    return std::malloc(size ? size : 1);
}
[[gnu::noinline]] inline void release(void* p) noexcept {
    std::free(p);
}
} // namespace countingallocator

void* operator new(std::size_t size) {
    if (void* p = countingallocator::allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = countingallocator::allocate(size)) return p;
    throw std::bad_alloc();
}
// The FFT layer allocates with nothrow new: it must reach the same allocator as delete.
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return countingallocator::allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return countingallocator::allocate(size);
}
void operator delete(void* p) noexcept {
    countingallocator::release(p);
}
void operator delete[](void* p) noexcept {
    countingallocator::release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    countingallocator::release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    countingallocator::release(p);
}
