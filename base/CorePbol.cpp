#include "base/CorePbol.h"

CorePbol::CorePbol(bool initial) : bValue(initial) {}

bool CorePbol::getvl() const {
    oLock.locks();
    const bool value = bValue;
    oLock.relse();
    return value;
}

void CorePbol::setvl(bool value) {
    oLock.locks();
    bValue = value;
    oLock.relse();
}
