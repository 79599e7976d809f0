#include "modulation/CoreParm.h"

#include "base/CoreButl.h"
#include "modulation/CoreGfun.h"

#include <cmath>
#include <limits>

CoreParm::CoreParm(const CoreAnsx& name, const CoreAnsx& label, const CoreAnsx& unit, double lower,
                   double upper, DataSrce* table)
    : sName(name), sLabel(label), sUnit(unit), sSource(""), dValue(0.0), dConstant(0.0), dLower(lower),
      dUpper(upper), dScalelower(lower), dScaleupper(lower), dRange(0.0), bConstant(false), bActive(false),
      pSource(table != nullptr ? table->getsc(CoreAnsx("")) : nullptr), pTable(table) {}

CoreParm::~CoreParm() {
    pSource = nullptr;
    pTable = nullptr;
}

void CoreParm::setsr(const CoreAnsx& text, double lower, double upper) {
    // Files written with an unset source carry "NULL"; reading it as a number
    // would move the control from its lower bound to the middle of its range.
    sSource = (text == CoreAnsx(CoreButl::sCnull)) ? CoreAnsx("") : text;
    bActive = pTable != nullptr && pTable->isact(sSource);
    bConstant = pTable != nullptr && !pTable->isils(sSource);
    if (bConstant) {
        double parsed = 0.0;
        try {
            parsed = sSource.ToDouble();
        } catch (const CoreAnsx&) {
            parsed = 0.0;
        }
        // The string conversion saturates an overflowing text such as "1e999" to the largest
        // double; that is no usable constant either.
        dConstant =
            (std::isfinite(parsed) && std::fabs(parsed) < std::numeric_limits<double>::max()) ? parsed : 0.0;
        pSource = nullptr;
    } else {
        pSource = pTable != nullptr ? pTable->getsc(sSource) : nullptr;
    }
    dScalelower = lower;
    dScaleupper = upper;
    dRange = CoreGfun::flush(upper - lower);
}

double CoreParm::getvl() {
    double v = 0.0;
    if (bConstant)
        v = dConstant;
    else if (pSource != nullptr)
        v = pSource->getvl();
    dValue = CoreGfun::flush((v + 1.0) * 0.5 * dRange + dScalelower);
    return dValue;
}

CoreAnsx CoreParm::getsa() const {
    if (!bConstant) return sSource;
    CoreAnsx text;
    text.sprintf("%10.10f", dConstant);
    return text;
}
