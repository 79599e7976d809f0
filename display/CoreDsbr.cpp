#include "display/CoreDsbr.h"

#include <cmath>
#include <string>

CoreDsbr::CoreDsbr(short cells, short steps, int baseCode)
    : iCells(cells), iSteps(steps), iBase(baseCode), iTotal(cells * steps) {}

CoreAnsx CoreDsbr::getvl(double v) const {
    if (!std::isfinite(v) || iSteps < 1 || iTotal < 1) return CoreAnsx("");
    const double clamped = v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v);
    const int steps = static_cast<int>(iTotal * clamped);
    const int full = steps / iSteps;
    const int rest = steps % iSteps;
    std::string bar(static_cast<size_t>(full), static_cast<char>(iBase));
    if (rest != 0) bar += static_cast<char>(iBase + iSteps - rest);
    return CoreAnsx(bar.c_str());
}
