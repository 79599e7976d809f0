#include "modulation/CoreGfun.h"

namespace {

double finiteInput(double x) {
    if (std::isnan(x)) return 0.0;
    if (std::isinf(x)) return x > 0.0 ? 1.0 : -1.0;
    return x;
}

} // namespace

CoreGfun::CoreGfun(const CoreAnsx& key, const CoreAnsx& label, FUNCTION function)
    : sKey(key), sLabel(label), pFunction(function) {}

CoreGfun::~CoreGfun() {
    pFunction = nullptr;
}

double CoreGfun::xtfun(double a, double b, FUNEXTENSION* state) const {
    b = wrapp(finiteInput(b));
    a = wrapp(finiteInput(a));
    double y = pFunction != nullptr ? pFunction(a, b, state) : 0.0;
    // 0/0 inside an operation (quantise with q = 0, warp at a = 0, ...) must not
    // reach a slot.
    if (std::isnan(y)) y = 0.0;
    if (!(y > -1.0)) y = -1.0;
    if (y > 1.0) y = 1.0;
    return flush(y);
}
