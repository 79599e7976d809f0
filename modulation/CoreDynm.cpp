#include "modulation/CoreDynm.h"

#include "base/CoreButl.h"
#include "modulation/CoreGfun.h"

#include <cmath>

namespace {

// A bipolar control value as a level in dB: u = (v + 1) / 2, never below dCdbmin.
double levelInDb(double value) {
    return CoreButl::lvldb(CoreGfun::unipl(value));
}

} // namespace

CoreDynm::CoreDynm(const CoreAnsx& name, DataSrce* sources, CoreSrce* output)
    : sName(name), dRangelimit(0.0), dGain(0.0), dMakeup(0.0), dRangereciprocal(0.0), dPendingrangelimit(0.0),
      dPendingmakeup(0.0), iCurveindex(-1), iPendingtype(0), iPendingcurve(-1), bActive(false),
      bCompress(true), bCurveon(false), pThreshold(nullptr), pInput(nullptr), pRatio(nullptr),
      pOutput(output) {
    pThreshold = new CoreParm("Threshold Control", "Threshold Control", "", -1.0, 1.0, sources);
    pInput = new CoreParm("Input Control", "Input Control", "", -1.0, 1.0, sources);
    pRatio = new CoreParm("Ratio Control", "Ratio Control", "", -1.0, 1.0, sources);
}

CoreDynm::~CoreDynm() {
    delete pThreshold;
    delete pInput;
    delete pRatio;
    pOutput = nullptr;
}

void CoreDynm::setvl() {
    bActive = false;
    dGain = 0.0;
    bCurveon = false;
    bCompress = true;
    iCurveindex = -1;
    pThreshold->setsr("", -1.0, 1.0);
    pInput->setsr("", -1.0, 1.0);
    pRatio->setsr("", -1.0, 1.0);
    dRangelimit = 0.0;
    dRangereciprocal = 0.0;
    dMakeup = 0.0;
}

void CoreDynm::setvl(const CoreAnsx& threshold, const CoreAnsx& input, bool compress, const CoreAnsx& ratio,
                     bool curveOn, int16_t curveIndex, double rangeLimit, double makeUp) {
    pInput->setsr(input, -1.0, 1.0);
    pThreshold->setsr(threshold, -1.0, 1.0);
    pRatio->setsr(ratio, -1.0, 1.0);
    bCompress = compress;
    dRangelimit = rangeLimit;
    dRangereciprocal = rangeLimit > 0.0 ? 1.0 / rangeLimit : 0.0;
    dMakeup = makeUp;
    bCurveon = curveOn;
    iCurveindex = curveIndex < iCmaxratiocurve + 1 ? curveIndex : iCmaxratiocurve;
    if (pInput->actve()) bActive = true;
    dGain = 0.0;
}

void CoreDynm::setvl(int16_t type, const CoreAnsx& threshold, const CoreAnsx& input, const CoreAnsx& ratio,
                     int16_t curve, double rangeLimit, double makeUp) {
    setvl(threshold, input, type == 0, ratio, curve != -1, static_cast<int16_t>(curve - 1), rangeLimit,
          makeUp);
}

void CoreDynm::rfrvl() {
    setvl(iPendingtype, sThresholdsource, sInputsource, sRatiosource, iPendingcurve, dPendingrangelimit,
          dPendingmakeup);
}

void CoreDynm::setbd(int16_t id, double value) {
    if (id == 3) dPendingrangelimit = value;
    if (id == 4) dPendingmakeup = value;
}

void CoreDynm::setbs(int16_t id, const CoreAnsx& text) {
    if (id == 0) sThresholdsource = text;
    if (id == 1) sInputsource = text;
    if (id == 2) sRatiosource = text;
}

double CoreDynm::getbd(int16_t id) const {
    if (id == 3) return dRangelimit;
    if (id == 4) return dMakeup;
    return 0.0;
}

CoreAnsx CoreDynm::getbs(int16_t id) const {
    if (id == 0) return pThreshold->getsc();
    if (id == 1) return pInput->getsc();
    if (id == 2) return pRatio->getsc();
    return CoreAnsx("");
}

void CoreDynm::updte() {
    if (bActive) {
        const double threshold = levelInDb(pThreshold->getvl());
        const double input = levelInDb(pInput->getvl());
        const double excess = input - threshold;
        if (!(excess > 0.0)) {
            dGain = 1.0; // no make-up below the threshold
        } else {
            const double x = CoreButl::min__(dRangelimit, excess);
            double ratio = pRatio->getvl();
            if (bCurveon) {
                // Fades the ratio from 1 at the threshold to its value at the range limit.
                double y = CoreGfun::flush(1.0 - x * dRangereciprocal);
                if (iCurveindex > 1) y = std::pow(y, iCurveindex);
                ratio = CoreGfun::flush(ratio + (1.0 - ratio) * y);
            }
            if (!bCompress) {
                // 1/r of a ratio at or near 0 has no bound; keep the sign and stop at 1e-9.
                constexpr double smallest = 1e-9;
                if (std::fabs(ratio) < smallest) ratio = ratio < 0.0 ? -smallest : smallest;
                ratio = 1.0 / ratio;
            }
            // Clamped to the dB range of the system so that the gain stays finite whatever the
            // ratio, range limit and make-up.
            double level = CoreGfun::flush((ratio - 1.0) * x + dMakeup);
            level = CoreButl::min__(-CoreButl::dCdbmin, CoreButl::max__(CoreButl::dCdbmin, level));
            dGain = std::pow(10.0, level / 20.0);
        }
    }
    if (pOutput) pOutput->setvl(CoreGfun::bipol(dGain));
}
