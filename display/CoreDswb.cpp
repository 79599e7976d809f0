#include "display/CoreDswb.h"

#include <cmath>
#include <string>

namespace {

// A confirmed field's text is padded with blanks to the field's width; the padding is no edit.
CoreAnsx withoutTrailingBlanks(const CoreAnsx& text) {
    std::string s = text.c_str();
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return CoreAnsx(s.c_str());
}

} // namespace

CoreDswb::Kept& CoreDswb::item(int slot, const CoreDstx& item) {
    Kept& k = mKept[slot];
    k.field = false;
    k.numberInForce = item.isrng();
    k.value = item.getvl();
    k.element = item.getel();
    k.committed = "";
    return k;
}

CoreDswb::Kept& CoreDswb::field(int slot, const CoreDsed& field) {
    Kept& k = mKept[slot];
    k.field = true;
    k.committed = withoutTrailingBlanks(field.getvs());
    return k;
}

void CoreDswb::keep(int slot, double raw, const CoreDstx& i) {
    Kept& k = item(slot, i);
    k.rawNumber = raw;
    k.rawText = "";
}

void CoreDswb::keep(int slot, const CoreAnsx& raw, const CoreDstx& i) {
    Kept& k = item(slot, i);
    k.rawNumber = 0.0;
    k.rawText = raw;
}

void CoreDswb::keep(int slot, double raw, const CoreDsed& f) {
    Kept& k = field(slot, f);
    k.rawNumber = raw;
    k.rawText = "";
}

void CoreDswb::keep(int slot, const CoreAnsx& raw, const CoreDsed& f) {
    Kept& k = field(slot, f);
    k.rawNumber = 0.0;
    k.rawText = raw;
}

bool CoreDswb::chngd(int slot, const CoreDstx& i) const {
    const auto found = mKept.find(slot);
    if (found == mKept.end() || found->second.field) return true;
    const Kept& k = found->second;
    if (i.isrng() != k.numberInForce) return true; // a dual item switched parts
    if (!i.isrng()) return i.getel() != k.element;
    const double range = i.getup() - i.getlw();
    const double tolerance = (range == 0.0 || !std::isfinite(range)) ? 1e-9 : 1e-9 * std::fabs(range);
    return !(std::fabs(i.getvl() - k.value) <= tolerance);
}

bool CoreDswb::chngd(int slot, const CoreDsed& f) const {
    const auto found = mKept.find(slot);
    if (found == mKept.end() || !found->second.field) return true;
    return withoutTrailingBlanks(f.getvs()) != found->second.committed;
}

double CoreDswb::rawnm(int slot) const {
    const auto found = mKept.find(slot);
    return found == mKept.end() ? 0.0 : found->second.rawNumber;
}

CoreAnsx CoreDswb::rawtx(int slot) const {
    const auto found = mKept.find(slot);
    return found == mKept.end() ? CoreAnsx("") : found->second.rawText;
}
