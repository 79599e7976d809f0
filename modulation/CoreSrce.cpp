#include "modulation/CoreSrce.h"

#include <cmath>

CoreSrce::CoreSrce(const CoreAnsx& key, const CoreAnsx& label) : sKey(key), sLabel(label), dValue(0.0) {}

void CoreSrce::setvl(double v) {
    switch (std::fpclassify(v)) {
    case FP_ZERO:
    case FP_SUBNORMAL:
    case FP_NAN:
        v = 0.0;
        break;
    case FP_INFINITE:
        v = v > 0.0 ? 1.0 : -1.0;
        break;
    default:
        break;
    }
    dValue.store(v, std::memory_order_relaxed);
}

CoreAnsx CoreSrce::getlb() const {
    if (sLabel.Length() <= 0 || sLabel == CoreAnsx("0")) return sKey;
    return sLabel;
}
