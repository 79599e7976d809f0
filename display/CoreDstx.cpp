#include "display/CoreDstx.h"

#include "base/CoreButl.h"
#include "processor/CorePrcs.h"

#include <algorithm>
#include <cmath>

namespace {

double flushSubnormal(double v) { return std::fpclassify(v) == FP_SUBNORMAL ? 0.0 : v; }

} // namespace

CoreDstx::CoreDstx(CoreDsbf* grid, CorePrcs* processor, DisplayHost* host)
    : sUnit(""), pGrid(grid), pProcessor(processor), pHost(host) {}

double CoreDstx::toControl(double position) {
    if (!std::isfinite(position)) return -1.0;
    const double v = flushSubnormal(2.0 * flushSubnormal(position) - 1.0);
    return std::clamp(v, -1.0, 1.0);
}

double CoreDstx::toPosition(double control) {
    if (!std::isfinite(control)) return 0.0;
    return flushSubnormal((std::clamp(control, -1.0, 1.0) + 1.0) / 2.0);
}

void CoreDstx::defne(short font, short column, short row, short width, const CoreAnsx& unit, bool wholenumbers,
                     short decimals) {
    iFont = font;
    iColumn = column;
    iRow = row;
    iWidth = width;
    sUnit = unit;
    bWhole = wholenumbers;
    iDecimals = decimals;
    bRanged = false;
    bDual = false;
    dPosition = 0.0;
    dSecond = 0.0;
    dCommitted = 0.0;
}

bool CoreDstx::degenerate() const {
    return !std::isfinite(dLower) || !std::isfinite(dUpper) || dLower == dUpper;
}

double CoreDstx::finiteLower() const { return std::isfinite(dLower) ? dLower : 0.0; }

double CoreDstx::valueAt(double position) const {
    return degenerate() ? finiteLower() : dLower + position * (dUpper - dLower);
}

double CoreDstx::positionOf(double value) const {
    return degenerate() ? 0.0 : (value - dLower) / (dUpper - dLower);
}

void CoreDstx::setvl(double value) { dValue = std::isfinite(value) ? value : finiteLower(); }

bool CoreDstx::ischg() {
    // An item without a usable range has nothing the user could have changed.
    const bool frozen = bRanged && !bDual && degenerate();
    const bool changed = !frozen && (bMarked || dValue != dCommitted || std::isnan(dValue));
    dCommitted = dValue;
    bMarked = false;
    return changed;
}

void CoreDstx::setun() {
    dCommitted = dValue;
    bMarked = false;
}

bool CoreDstx::ishre(short column, short row) const {
    return row == iRow && column >= iColumn && column <= iColumn + iWidth;
}

void CoreDstx::setar(bool on) {
    if (on) {
        const DisplayHost::POINTER p = DisplayHost::pointer(pHost, iAnchorx, iAnchory);
        iAnchorx = p.x;
        iAnchory = p.y;
    }
    bArmed = on;
}

void CoreDstx::send(short slot, double position, double& sent) {
    if (!pProcessor || slot < 0) return;
    sent = toControl(position);
    CorePrcs::BEANSTRUCT b{slot, 0};
    pProcessor->setbd(190, sent, &b);
}

double CoreDstx::read(short slot) {
    if (!pProcessor || slot < 0) return 0.0;
    CorePrcs::BEANSTRUCT b{slot, 0};
    return pProcessor->getbd(188, &b);
}

void CoreDstx::setmx(short slot, bool push) {
    if (slot < 0) {
        bBound = false;
        iSlot = -1;
        bKnownfirst = false;
        return;
    }
    bBound = true;
    iSlot = slot;
    bKnownfirst = false;
    if (push && !(bRanged && !bDual && degenerate())) {
        send(iSlot, dPosition, dSentfirst);
        bKnownfirst = true;
    }
}

void CoreDstx::setam(short slot, bool mode) {
    iSecondslot = slot;
    bKnownsecond = false;
    if (bDual) {
        if (!degenerate()) {
            send(slot, dSecond, dSentsecond);
            bKnownsecond = pProcessor && slot >= 0;
        }
        if (bRanged && iSlot >= 0 && pProcessor) {
            dSentfirst = read(iSlot);
            bKnownfirst = true;
            dPosition = toPosition(dSentfirst);
        }
    } else if (pProcessor && slot >= 0) {
        CorePrcs::BEANSTRUCT b{slot, 0};
        pProcessor->setbb(187, mode, &b);
    }
}

void CoreDstx::applyRange(double lower, double upper, double value) {
    dLower = lower;
    dUpper = upper;
    if (!std::isfinite(value)) value = finiteLower();
    if (!degenerate()) {
        dLower = std::min(dLower, value);
        dUpper = std::max(dUpper, value);
    } else {
        value = finiteLower();
    }
    dValue = value;
    const double position = positionOf(value);
    if (bDual) {
        dSecond = position;
    } else {
        dPosition = position;
        if (bBound && !degenerate()) {
            send(iSlot, dPosition, dSentfirst);
            bKnownfirst = pProcessor != nullptr;
        }
    }
}

void CoreDstx::setrg(double lower, double upper, double value) {
    bRanged = true;
    applyRange(lower, upper, value);
}

void CoreDstx::setrg(double value) {
    bRanged = true;
    applyRange(dLower, dUpper, value);
}

void CoreDstx::addel(const CoreAnsx& text, double number) {
    vElements.push_back({text, number});
    if (vElements.size() == 1) {
        dValue = 0.0;
        dPosition = 0.0;
        if (bBound) {
            send(iSlot, 0.0, dSentfirst);
            bKnownfirst = pProcessor != nullptr;
        }
    }
}

void CoreDstx::setel(int n, const CoreAnsx* texts, int k) {
    bRanged = false;
    for (int i = 0; texts && i < n; ++i) addel(texts[i], 0.0);
    setel(k);
}

void CoreDstx::setel(int k) {
    const int count = getne();
    if (!bRanged && count > 0) {
        k = std::clamp(k, 0, count - 1);
        dPosition = (k + 0.5) / count;
        dValue = dPosition;
    } else {
        dPosition = 0.0;
        dValue = 0.0;
    }
    if (bBound) {
        send(iSlot, dPosition, dSentfirst);
        bKnownfirst = pProcessor != nullptr;
    }
}

void CoreDstx::setel(int n, const CoreAnsx* texts, double lower, double upper, bool listfirst, int k, double value) {
    bDual = true;
    if (!listfirst) {
        setel(n, texts, k);
        bRanged = true;
        applyRange(lower, upper, value);
    } else {
        applyRange(lower, upper, value);
        setel(n, texts, k);
    }
    bRanged = !listfirst;
    bSecondactive = !listfirst;
}

int CoreDstx::getel() const {
    const int count = getne();
    if (bRanged || count == 0 || !std::isfinite(dValue)) return 0;
    const double place = std::floor(count * dValue);
    return static_cast<int>(std::clamp(place, 0.0, static_cast<double>(count - 1)));
}

CoreAnsx CoreDstx::getel(int i) const {
    if (i < 0 || i >= getne()) return CoreAnsx("");
    return vElements[static_cast<size_t>(i)].text;
}

void CoreDstx::updte() {
    if (!bBound) return;
    if (bDual && iSecondslot >= 0 && !degenerate()) {
        const double control = read(iSecondslot);
        const double second = toPosition(control);
        const bool moved = bKnownsecond ? control != dSentsecond : second != dSecond;
        dSentsecond = control;
        bKnownsecond = pProcessor != nullptr;
        if (moved) {
            dSecond = second;
            bSecondactive = true;
            bMarked = true;
        }
    }
    const bool frozen = bRanged && !bDual && degenerate();
    if (!frozen) {
        const double old = dPosition;
        if (bArmed && !bDual) {
            const DisplayHost::POINTER p = DisplayHost::pointer(pHost, iAnchorx, iAnchory);
            const double moved = 0.0012 * (static_cast<double>(p.x) - iAnchorx) +
                                 0.012 * (static_cast<double>(iAnchory) - p.y); // window y grows downward
            dPosition = std::clamp(old + moved, 0.0, 1.0);
            iAnchorx = p.x;
            iAnchory = p.y;
            send(iSlot, dPosition, dSentfirst);
            bKnownfirst = pProcessor != nullptr;
        } else {
            const double control = read(iSlot);
            if (!bKnownfirst || control != dSentfirst) dPosition = toPosition(control);
            dSentfirst = control;
            bKnownfirst = pProcessor != nullptr;
        }
        if (dPosition != old) {
            bSecondactive = false;
            bMarked = true;
        }
    }
    if (!bDual) {
        dValue = bRanged ? valueAt(dPosition) : dPosition;
    } else {
        bRanged = bSecondactive;
        dValue = bSecondactive ? valueAt(dSecond) : dPosition;
    }
}

void CoreDstx::draw_(short font) {
    if (!pGrid) return;
    if (font < 0) font = iFont;
    CoreAnsx text(" ");
    if (bRanged) {
        const bool automatic = iDecimals < 0;
        const double number = automatic && bWhole ? std::ceil(dValue) : dValue;
        const int decimals = automatic ? (bWhole ? 0 : 5) : iDecimals;
        text = CoreAnsx::_FloatToStrF(number, 0, 0, decimals);
        // A number that rounds to the text "0" is shown as "0 ": "0" alone would draw nothing and
        // leave the previous digits standing.
        if (number == 0.0 || text == CoreAnsx("0")) text = "0 ";
    } else if (getne() > 0) {
        text = getel(getel());
    }
    if (text == CoreAnsx("0")) return;
    const int unitLength = std::max(sUnit.Length(), 0);
    const CoreAnsx shown = CoreButl::rpad_(text.Trim().SubString(1, std::max<int>(iWidth, 0)) + sUnit,
                                           std::max<int>(iWidth, 0) + unitLength, ' ');
    pGrid->write(shown, iColumn, iRow, font, false, false);
}
