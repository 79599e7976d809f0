#include "base/CoreSgrd.h"

CoreSgrd::CoreSgrd(CoreSmph& lock) : oLock(lock), bTaken(false) {
    oLock.locks();
    bTaken = true;
}

CoreSgrd::CoreSgrd(CoreSmph& lock, TRYONCE) : oLock(lock), bTaken(lock.locka()) {}

CoreSgrd::~CoreSgrd() {
    if (bTaken) oLock.relse();
}
