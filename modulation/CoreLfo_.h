// CoreLfo_: a low-frequency oscillator: a phase accumulator driven by a
// modulatable rate (optionally quantised to the host tempo) and shaped by a
// group-0 waveform. Writes its LFO slot and its RATELFO slot once per block.
// Owned by the program; called from block processing or under the engine lock.
#pragma once
#include "base/CoreAnsx.h"
#include "modulation/CoreGfun.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataGfun.h"
#include "modulation/DataSrce.h"

class CoreLfo_ {
public:
    CoreLfo_(const CoreAnsx& name, DataGfun* functions, DataSrce* sources, CoreSrce* output,
             CoreSrce* rateOutput);
    ~CoreLfo_();
    CoreLfo_(const CoreLfo_&) = delete;
    CoreLfo_& operator=(const CoreLfo_&) = delete;

    // Full configuration from a program (rates in Hz, phase in degrees); stored
    // as given, then the LFO restarts at its start phase. Every setter below
    // restarts it too.
    void setvl(double minimum, double maximum, double factor, const CoreAnsx& rateSource,
               const CoreAnsx& shapeKey, double phaseDegrees, const CoreAnsx& phaseSource);
    void setrt(const CoreAnsx& rateSource);
    void setps(const CoreAnsx& phaseSource);
    void setsh(const CoreAnsx& shapeKey);
    void setph(double phaseDegrees);
    void setqt(double factor);
    void setmx(double maximum); // lowers the minimum to it when the minimum is above
    void setmn(double minimum); // raises the maximum to it when the maximum is below

    CoreParm* getrt() const { return pRate; }
    double getqt() const { return bQuantise ? dFactor : 0.0; }
    double getph() const { return dPhase; }
    CoreAnsx getrc() const { return sRatesource; }
    CoreAnsx getps() const { return sPhasesource; }
    CoreAnsx getsh() const { return sShapekey; }

    // One step covering dt seconds at the host tempo bpm. No allocation, no
    // lookup.
    void updte(double dt, double bpm);

private:
    void start();

    double dMaximum; // Hz
    double dMinimum; // Hz
    double dPhase;   // degrees: the start phase and the depth of phase modulation
    double dPhasescale;
    double dPhaseoffset;
    double dAccumulator; // one cycle spans 2.0; never folded back
    double dFactor;      // beats per cycle of quantisation; <= 0 is off
    CoreAnsx sName;
    CoreAnsx sShapekey;
    CoreAnsx sRatesource;
    CoreAnsx sPhasesource;
    bool bQuantise;
    CoreGfun::FUNEXTENSION rState;
    CoreParm* pRate;
    CoreParm* pPhasecontrol;
    DataGfun* pFunctions;
    CoreGfun* pShape;
    CoreSrce* pOutput;
    CoreSrce* pRateoutput;
};
