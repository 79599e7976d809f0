#include "modulation/CoreRgfn.h"

#include "modulation/CoreGfun.h"

#include <cmath>

CoreRgfn::CoreRgfn(const CoreAnsx& key, const CoreAnsx& label, FUNCTION function)
    : sKey(key), sLabel(label), pFunction(function) {}

CoreRgfn::~CoreRgfn() {
    pFunction = nullptr;
}

double CoreRgfn::xtfun(FUNEXTENSION* record) const {
    double y = (pFunction != nullptr && record != nullptr) ? pFunction(record) : 0.0;
    if (std::isnan(y)) y = 0.0;
    if (!(y > -1.0)) y = -1.0;
    if (y > 1.0) y = 1.0;
    return CoreGfun::flush(y);
}
