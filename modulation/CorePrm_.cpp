#include "modulation/CorePrm_.h"

#include "base/CoreButl.h"

CorePrm_::CorePrm_(const CoreAnsx& name, DataGfun* functions, DataSrce* sources, CoreSrce* output)
    : sName(name), sKeya(name + CoreAnsx("_A")), sKeyb(name + CoreAnsx("_B")), dMin(0.0), dMax(0.0),
      dBarmin(0.0), dBarmax(0.0), dBarlow(0.0), dBarscale(1.0), bSet(false), bEnabled(false),
      bDisplayed(false), bBarinverted(false), pSources(sources), pOutput(output),
      pInputa(new CoreParm(sKeya, sKeya, CoreAnsx("-"), -1.0, 1.0, sources)),
      pInputb(new CoreParm(sKeyb, sKeyb, CoreAnsx("-"), -1.0, 1.0, sources)), pFunctions(functions),
      pOperation(nullptr) {
    setvl(false);
}

CorePrm_::~CorePrm_() {
    delete pInputa;
    delete pInputb;
}

void CorePrm_::setvl(bool define) {
    pInputa->setsr(CoreAnsx(""), -1.0, 1.0);
    pInputb->setsr(CoreAnsx(""), -1.0, 1.0);
    setfn(CoreAnsx(""));
    sLabel = CoreAnsx("");
    sPrelabel = CoreAnsx("");
    sUnit = CoreAnsx("");
    sPreunit = CoreAnsx("");
    sPostunit = CoreAnsx("");
    dMin = dMax = dBarmin = dBarmax = dBarlow = 0.0;
    dBarscale = 1.0;
    bSet = bEnabled = bDisplayed = bBarinverted = false;
    if (define) bSet = bEnabled = true;
}

void CorePrm_::setvl(bool displayed, const CoreAnsx& sourceA, const CoreAnsx& sourceB,
                     const CoreAnsx& operationKey, const CoreAnsx& label, const CoreAnsx& preLabel,
                     const CoreAnsx& unit, const CoreAnsx& preUnit, const CoreAnsx& postUnit, double min,
                     double max, double barMin, double barMax) {
    bDisplayed = displayed;
    setfn(sourceA, sourceB, operationKey);
    sLabel = label;
    sPrelabel = preLabel;
    bEnabled = label.Length() > 0;
    sUnit = unit;
    sPreunit = preUnit;
    sPostunit = postUnit;
    setbn(min, max, barMin, barMax);
    bSet = true;
}

void CorePrm_::setds(bool on) {
    if (on && !bSet) setvl(true);
    if (!bSet) return;
    if (on && (sLabel.Length() <= 0 || sLabel == CoreAnsx("0"))) sLabel = CoreAnsx(CoreButl::sCnull);
    bEnabled = on;
    bDisplayed = on;
}

void CorePrm_::setfn(const CoreAnsx& key) {
    if (pFunctions == nullptr) return;
    pOperation = pFunctions->getgf(1, key);
    sOperationkey = pOperation->getky();
}

void CorePrm_::setfn(const CoreAnsx& sourceA, const CoreAnsx& sourceB, const CoreAnsx& key) {
    setsa(sourceA);
    setsb(sourceB);
    setfn(key);
}

void CorePrm_::setsa(const CoreAnsx& sourceA) {
    pInputa->setsr(sourceA, -1.0, 1.0);
}

void CorePrm_::setsb(const CoreAnsx& sourceB) {
    pInputb->setsr(sourceB, -1.0, 1.0);
}

void CorePrm_::setba() {
    dBarlow = dBarmin;
    bBarinverted = false;
    if (dBarmin > dBarmax) {
        dBarlow = dBarmax;
        bBarinverted = true;
    }
    // A zero or denormal difference counts as equal bounds: its reciprocal would
    // be infinite.
    const double difference = CoreGfun::flush(dBarmax - dBarmin);
    dBarscale = difference == 0.0 ? 1.0 : 1.0 / difference;
}

void CorePrm_::setbn(double min, double max, double barMin, double barMax) {
    dMin = min;
    dMax = max;
    dBarmin = barMin;
    dBarmax = barMax;
    setba();
}

double CorePrm_::getbd(short n) const {
    switch (n) {
    case 0:
        return dMin;
    case 1:
        return dMax;
    case 2:
        return dBarmin;
    case 3:
        return dBarmax;
    default:
        return 0.0;
    }
}

void CorePrm_::getbn(double& min, double& max, double& barMin, double& barMax) const {
    min = dMin;
    max = dMax;
    barMin = dBarmin;
    barMax = dBarmax;
}

void CorePrm_::updte() {
    if (!bSet || pOperation == nullptr || pOutput == nullptr) return;
    pOutput->setvl(pOperation->xtfun(pInputa->getvl(), pInputb->getvl(), nullptr));
}

double CorePrm_::getvl() const {
    if (!bSet || !bEnabled || pOutput == nullptr) return 0.0;
    const double u = CoreGfun::flush((pOutput->getvl() + 1.0) * 0.5);
    return dMin + (dMax - dMin) * u;
}

double CorePrm_::getbf() const {
    const double fallback = bBarinverted ? 1.0 : 0.0;
    const double v = getvl();
    if (!(v >= dBarlow)) return fallback;
    const double fraction = (v - dBarmin) * dBarscale;
    return fraction < 1.0 ? fraction : 1.0;
}
