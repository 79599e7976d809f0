#include "base/CoreTlst.h"

#include "base/CoreAnsx.h"
#include "base/CoreVutl.h"

#include <climits>
#include <cstring>

namespace {
const int32_t growthStep = 4;
}

CoreTlst::CoreTlst() : Capacity(0), RememberedCapacity(0), Count(0), Items(nullptr) {}

CoreTlst::~CoreTlst() {
    Clear();
}

// Makes room for n items: capacity grows in steps of 4, but never below the capacity the list had before its
// last Clear, so a list refilled to the same size reallocates only once. On failure the list is left as it
// was.
bool CoreTlst::reserve(int n) {
    const int maximumItems = INT_MAX / static_cast<int>(sizeof(void*));
    if (n < 0 || n > maximumItems) return false;
    int64_t wanted = Capacity;
    while (wanted < n) wanted += growthStep;
    if (wanted < RememberedCapacity) wanted = RememberedCapacity;
    if (wanted > maximumItems) wanted = n;
    if (wanted == Capacity) return true;
    void** grown = static_cast<void**>(
        CoreVutl::reall(Items, static_cast<int>(wanted * static_cast<int64_t>(sizeof(void*)))));
    if (grown == nullptr) return false;
    Items = grown;
    Capacity = static_cast<int32_t>(wanted);
    RememberedCapacity = Capacity;
    return true;
}

bool CoreTlst::Add(void* item) {
    if (!reserve(Count + 1)) return false;
    Items[Count] = item;
    ++Count;
    return true;
}

void CoreTlst::Delete(int index) {
    if (index < 0 || index >= Count) return;
    std::memmove(Items + index, Items + index + 1, static_cast<size_t>(Count - index - 1) * sizeof(void*));
    --Count;
    if (Count == 0) Clear();
}

void CoreTlst::Clear() {
    if (Items != nullptr) CoreVutl::reall(Items, 0);
    Items = nullptr;
    Count = 0;
    Capacity = 0;
}

void CoreTlst::grow_(int n) {
    if (!reserve(n)) throw CoreAnsx("List cannot grow to ") + CoreAnsx(n) + CoreAnsx(" items");
    Count = n;
}
