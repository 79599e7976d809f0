// CoreDsif: buttons, toggles, captions and the microsecond/sample conversions at the engine's rate.
#include "display/CoreDsif.h"

#include "display/CoreDsbf.h"
#include "processor/CorePrcs.h"

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

int32_t saturate(double v) {
    if (std::isnan(v)) return 0;
    if (v >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    if (v <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

} // namespace

bool CoreDsif::pointerHit(short x, short y, int length, short px, short py) const {
    return py == y && px >= x && px < x + length;
}

bool CoreDsif::drbtn(short x, short y, const CoreAnsx& text, short px, short py) {
    const bool hit = pointerHit(x, y, text.Length(), px, py);
    pGrid->write(text, x, y, hit ? 0 : 1, false, false);
    return hit;
}

bool CoreDsif::drtb2(short x, short y, const CoreAnsx& offtext, const CoreAnsx& ontext, bool on, short px, short py) {
    const CoreAnsx& shown = on ? ontext : offtext;
    const bool hit = pointerHit(x, y, shown.Length(), px, py);
    pGrid->write(shown, x, y, hit ? 0 : 1, false, false);
    return hit;
}

bool CoreDsif::drtbt(short x, short y, const CoreAnsx& offtext, const CoreAnsx& ontext, bool on, short px, short py) {
    const CoreAnsx& shown = on ? ontext : offtext;
    // The mark's cell, the text and one cell after it.
    const bool hit = pointerHit(x, y, shown.Length() + 2, px, py);
    const short font = hit ? 0 : 1;
    pGrid->write(shown + " ", static_cast<short>(x + 1), y, font, false, false);
    pGrid->write(CoreAnsx(on ? "." : " "), x, y, font, on, false);
    return hit;
}

void CoreDsif::label(const CoreAnsx& key, const CoreAnsx& text, int x, int y) {
    if (key.Length() > 0) {
        pGrid->write(key.SubString(1, 1), static_cast<short>(x), static_cast<short>(y), 1, false, false);
        pGrid->write(CoreAnsx(" ") + text, static_cast<short>(x + key.Length()), static_cast<short>(y), 0, false,
                     false);
    } else {
        pGrid->write(text, static_cast<short>(x), static_cast<short>(y), 0, false, false);
    }
}

int32_t CoreDsif::fnu2t(double microseconds) {
    const double whole = std::trunc(microseconds);
    if (!(whole > 0.0)) return saturate(whole);
    const int32_t rate = pProcessor ? pProcessor->getbi(44, nullptr) : 0;
    return saturate(std::trunc(rate * microseconds / 1000000.0));
}

double CoreDsif::fnt2u(int32_t samples) {
    const int32_t rate = pProcessor ? pProcessor->getbi(44, nullptr) : 0;
    if (rate <= 0) return samples;
    return samples * 1000000.0 / rate;
}
