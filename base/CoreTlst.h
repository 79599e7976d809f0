// CoreTlst: a growable array of untyped pointers that never owns its items; grows in steps of 4
// and keeps its last capacity across Clear. No lock of its own: owners guard it.
#pragma once
#include <cstdint>

class CoreTlst {
public:
    CoreTlst();
    ~CoreTlst();
    CoreTlst(const CoreTlst&) = delete;
    CoreTlst& operator=(const CoreTlst&) = delete;

    bool Add(void* item);   // false (list unchanged) when memory runs out
    void Delete(int index); // an index outside 0 .. Count-1 changes nothing
    void Clear();           // releases the array; the remembered capacity stays
    void*& operator[](unsigned index) { return Items[index]; }
    // Room for n items, Count = n; new slots are not cleared. Throws when n is negative or memory
    // runs out (list unchanged).
    void grow_(int n);

    int32_t Capacity;
    int32_t RememberedCapacity;
    int32_t Count;
    void** Items;

private:
    bool reserve(int n); // false (list unchanged) when n is negative or memory runs out
};
