#include "display/CoreDspc.h"

CoreDspc::CoreDspc() : aRings{} {}

void CoreDspc::addms(const MESSAGELOC* m) {
    if (m == nullptr || m->type < 0 || m->type >= iCtypes) return;
    oLock.locks();
    Ring& ring = aRings[static_cast<size_t>(m->type)];
    if (ring.count == iCcapacity) {
        ring.oldest = (ring.oldest + 1) % iCcapacity;
        --ring.count;
    }
    ring.records[static_cast<size_t>((ring.oldest + ring.count) % iCcapacity)] = *m;
    ++ring.count;
    oLock.relse();
}

bool CoreDspc::getms(short type, MESSAGELOC* out) {
    if (type < 0 || type >= iCtypes) return false;
    oLock.locks();
    Ring& ring = aRings[static_cast<size_t>(type)];
    const bool found = ring.count > 0;
    if (found) {
        if (out != nullptr) *out = ring.records[static_cast<size_t>(ring.oldest)];
        ring.oldest = (ring.oldest + 1) % iCcapacity;
        --ring.count;
    }
    oLock.relse();
    return found;
}

void CoreDspc::clrms(short type) {
    if (type < 0 || type >= iCtypes) return;
    oLock.locks();
    aRings[static_cast<size_t>(type)] = Ring{};
    oLock.relse();
}
