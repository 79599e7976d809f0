#include "base/CoreTime.h"
#include "base/CoreXutl.h"

// The monotonic clock: a wall-clock step (time synchronisation) must not turn
// into a negative or huge figure, which the processor would take for its load.
CoreTime::CoreTime() : dStart(CoreXutl::tmono()), dAccumulated(0.0), iCount(0) {}

void CoreTime::setmp(bool begin, int n) {
    const double now = CoreXutl::tmono();
    oLock.locks();
    if (begin) {
        dStart = now;
    } else {
        iCount += n;
        dAccumulated += now - dStart;
    }
    oLock.relse();
}

void CoreTime::setms(int n) {
    oLock.locks();
    iCount += n;
    oLock.relse();
}

double CoreTime::getmp() {
    oLock.locks();
    const double result = iCount < 1 ? 0.0 : dAccumulated / iCount;
    dAccumulated = 0.0;
    iCount = 0;
    oLock.relse();
    return result;
}

void CoreTime::sleep(int ms) {
    CoreXutl::sleep(ms);
}
