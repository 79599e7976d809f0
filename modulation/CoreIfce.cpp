#include "modulation/CoreIfce.h"

#include "base/CoreButl.h"
#include "base/CoreXutl.h"

#include <cmath>

namespace {

constexpr double steadySeconds = 3.0; // the LED shows a change steadily this long, then blinks

// Holds a CoreSmph for one scope.
class Locked {
public:
    explicit Locked(CoreSmph* lock) : pLock(lock) { pLock->locks(); }
    ~Locked() { pLock->relse(); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    CoreSmph* pLock;
};

} // namespace

CoreIfce::CoreIfce(const CoreAnsx& key, double min, double max, const CoreAnsx& label, const CoreAnsx& unit,
                   CoreSrce* slot, double initial, bool led, CoreBlnk* blink)
    : sKey(key), sLabel(label), sUnit(unit), dMin(min), dMax(max), dWheelstep(1.0 / 128.0), dPending(-2.0),
      iActiveset(0), iCoarse(-1), bLedexpired(false), bLedenabled(false), dRaw{initial, min},
      dReference{initial, min}, iLedshown{0, 0}, iLedstate{3, 3}, bValid{true, false}, pSlot(slot),
      pBlink(nullptr), pValuelock(new CoreSmph), pPendinglock(new CoreSmph), dSteadyuntil(0.0) {
    if (led) {
        bLedenabled = true;
        bLedexpired = true;
        pBlink = blink;
    }
}

CoreIfce::~CoreIfce() {
    pSlot = nullptr;
    delete pValuelock;
    delete pPendinglock;
}

double CoreIfce::positionOf(int set) const {
    const double range = dMax - dMin;
    return range != 0.0 ? (dRaw[set] - dMin) / range : 0.0;
}

void CoreIfce::setiv(double value, bool valid, bool normal) {
    Locked hold(pValuelock);
    const int set = normal ? 0 : iActiveset;
    dRaw[set] = value;
    dReference[set] = value;
    iLedstate[set] = 3;
    iLedshown[set] = 0;
    bValid[set] = valid;
    if (set == 0 && pSlot) pSlot->setvl(value);
}

void CoreIfce::setvl(double position, bool normal) {
    if (std::isnan(position)) return;
    if (position < 0.0) position = 0.0;
    if (position > 1.0) position = 1.0;
    Locked hold(pValuelock);
    const int set = normal ? 0 : iActiveset;
    if (!bValid[set]) return;
    const double raw = (dMax - dMin) * position + dMin;
    iLedstate[set] = raw > dReference[set] ? 1 : (raw == dReference[set] ? 3 : 2);
    if (raw != dRaw[set]) {
        dSteadyuntil = CoreXutl::ttime() + steadySeconds / CoreButl::dCsecondsperday;
        bLedexpired = false;
    }
    dRaw[set] = raw;
    if (set == 0 && pSlot) pSlot->setvl(raw);
}

double CoreIfce::getvl(bool normal) {
    Locked hold(pValuelock);
    return positionOf(normal ? 0 : iActiveset);
}

double CoreIfce::getiv(bool normal) {
    Locked hold(pValuelock);
    return dRaw[normal ? 0 : iActiveset];
}

bool CoreIfce::isval(bool normal) {
    Locked hold(pValuelock);
    return bValid[normal ? 0 : iActiveset];
}

void CoreIfce::mswhl(int delta) {
    // Without this, the round trip through the position could move the value by a rounding step.
    if (delta == 0) return;
    double position;
    double step;
    {
        Locked hold(pValuelock);
        position = positionOf(iActiveset);
        step = static_cast<double>(delta) * static_cast<double>(delta) * dWheelstep;
    }
    if (delta < 1)
        position = CoreButl::max__(position - step, 0.0);
    else
        position = CoreButl::min__(position + step, 1.0);
    setvl(position, false);
}

double CoreIfce::getnh(double position, int& lastX, int& lastY, int x, int y) {
    double result =
        position + static_cast<double>(lastY - y) * 0.012 + static_cast<double>(x - lastX) * 0.0012;
    if (result < 0.0) result = 0.0;
    if (result > 1.0) result = 1.0;
    lastX = x;
    lastY = y;
    return result;
}

int16_t CoreIfce::getml() {
    Locked hold(pValuelock);
    const int set = iActiveset;
    if (!bLedenabled || !bValid[set]) return 0;
    const int16_t state = iLedstate[set];
    if (!bLedexpired) {
        if (set == 0 && CoreXutl::ttime() > dSteadyuntil) {
            bLedexpired = true;
        } else {
            iLedshown[set] = state;
            return state;
        }
    }
    const int16_t shown = pBlink && pBlink->getvl() ? state : 0;
    iLedshown[set] = shown;
    return shown;
}

int16_t CoreIfce::getll() {
    Locked hold(pValuelock);
    return iLedshown[iActiveset];
}

void CoreIfce::mode_(bool alternate) {
    Locked hold(pValuelock);
    if (alternate) {
        iActiveset = 1;
        dRaw[1] = dMin;
        dReference[1] = dMin;
        iLedstate[1] = 3;
        iLedshown[1] = 0;
        bValid[1] = false;
        bLedexpired = false;
    } else {
        iActiveset = 0;
    }
}

bool CoreIfce::isalt() {
    Locked hold(pValuelock);
    return iActiveset == 1;
}

void CoreIfce::settf(int n) {
    if (n < 1) return;
    Locked hold(pValuelock);
    dWheelstep = 1.0 / n;
}

int16_t CoreIfce::getcp() {
    Locked hold(pValuelock);
    return iCoarse;
}

void CoreIfce::setcp(int16_t coarse) {
    Locked hold(pValuelock);
    iCoarse = coarse;
}

double CoreIfce::getpa() {
    Locked hold(pPendinglock);
    return dPending;
}

void CoreIfce::setpa(double value) {
    Locked hold(pPendinglock);
    dPending = value;
}
