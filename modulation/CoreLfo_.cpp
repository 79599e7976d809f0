#include "modulation/CoreLfo_.h"

#include <cmath>

CoreLfo_::CoreLfo_(const CoreAnsx& name, DataGfun* functions, DataSrce* sources, CoreSrce* output,
                   CoreSrce* rateOutput)
    : dMaximum(0.0), dMinimum(0.0), dPhase(0.0), dPhasescale(0.0), dPhaseoffset(0.0), dAccumulator(0.0),
      dFactor(0.0), sName(name), sShapekey(""), sRatesource(""), sPhasesource(""),
      // Each LFO draws its random steps from a sequence of its own.
      bQuantise(false), rState{0.0, 0.0, RandomGenerator(reinterpret_cast<uintptr_t>(this))},
      pRate(new CoreParm(name + CoreAnsx(" Rate"), name + CoreAnsx(" Rate"), CoreAnsx("Hz"), 0.0, 24.0,
                         sources)),
      pPhasecontrol(new CoreParm(name + CoreAnsx(" Phase"), name + CoreAnsx(" Phase"), CoreAnsx(""), -1.0,
                                 1.0, sources)),
      pFunctions(functions), pShape(functions != nullptr ? functions->getgf(0, CoreAnsx("")) : nullptr),
      pOutput(output), pRateoutput(rateOutput) {}

CoreLfo_::~CoreLfo_() {
    delete pRate;
    delete pPhasecontrol;
}

void CoreLfo_::setvl(double minimum, double maximum, double factor, const CoreAnsx& rateSource,
                     const CoreAnsx& shapeKey, double phaseDegrees, const CoreAnsx& phaseSource) {
    dMinimum = minimum;
    dMaximum = maximum;
    dFactor = factor;
    sRatesource = rateSource;
    sShapekey = shapeKey;
    dPhase = phaseDegrees;
    sPhasesource = phaseSource;
    start();
}

void CoreLfo_::setrt(const CoreAnsx& rateSource) {
    sRatesource = rateSource;
    start();
}

void CoreLfo_::setps(const CoreAnsx& phaseSource) {
    sPhasesource = phaseSource;
    start();
}

void CoreLfo_::setsh(const CoreAnsx& shapeKey) {
    sShapekey = shapeKey;
    start();
}

void CoreLfo_::setph(double phaseDegrees) {
    dPhase = phaseDegrees;
    start();
}

void CoreLfo_::setqt(double factor) {
    dFactor = factor;
    start();
}

void CoreLfo_::setmx(double maximum) {
    dMaximum = maximum;
    if (dMinimum > maximum) dMinimum = maximum;
    start();
}

void CoreLfo_::setmn(double minimum) {
    dMinimum = minimum;
    if (dMaximum < minimum) dMaximum = minimum;
    start();
}

void CoreLfo_::start() {
    pRate->setsr(sRatesource, dMinimum, dMaximum);
    bQuantise = dFactor > 0.0;
    dPhasescale = dPhase / 180.0;
    dPhaseoffset = dPhasescale;
    dAccumulator = dPhasescale;
    pPhasecontrol->setsr(sPhasesource, 0.0, 1.0);
    if (pFunctions != nullptr) pShape = pFunctions->getgf(0, sShapekey);
}

void CoreLfo_::updte(double dt, double bpm) {
    double rate = pRate->getvl();
    if (bQuantise) {
        // Hosts report tempo 0 when stopped or unknown; without a positive step the
        // rate stays unquantised instead of turning the accumulator into NaN for
        // good.
        const double stepsPerSecond = dFactor * bpm / 60.0;
        if (std::isfinite(stepsPerSecond) && stepsPerSecond > 0.0)
            rate = std::floor(rate * stepsPerSecond) / stepsPerSecond;
    }
    if (pPhasecontrol->actve()) {
        // The control moves the phase by up to the set phase, following its source
        // without jumps.
        const double offset = dPhasescale * pPhasecontrol->getvl();
        dAccumulator = dAccumulator - dPhaseoffset + offset;
        dPhaseoffset = offset;
    }
    rate = CoreGfun::flush(rate);
    dAccumulator = CoreGfun::flush(dAccumulator + 2.0 * dt * rate);
    const double out = pShape != nullptr ? pShape->xtfun(dAccumulator, 0.0, &rState) : 0.0;
    rState.dPrevoutput = out;
    rState.dPrevphase = CoreGfun::wrapp(dAccumulator);
    if (pOutput != nullptr) pOutput->setvl(out);
    // 0..24 Hz onto -1..+1; the literal is slightly below 1/24 and is kept as it
    // is.
    if (pRateoutput != nullptr) pRateoutput->setvl(CoreGfun::bipol(rate * 0.041666666666));
}
