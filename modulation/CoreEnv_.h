// CoreEnv_: a gated five-stage envelope (attack, decay, slope, sustain, release) started and released
// by two modulation sources, with levels and times scaled by two more; writes its ENV slot once per
// block. Owned by the program; no lock of its own: the processor serialises updte with the setters.
#pragma once
#include "base/CoreAnsx.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"

#include <cstdint>

class CoreEnv_ {
public:
    // Starts in the reset state.
    CoreEnv_(const CoreAnsx& name, DataSrce* sources, CoreSrce* output);
    ~CoreEnv_();
    CoreEnv_(const CoreEnv_&) = delete;
    CoreEnv_& operator=(const CoreEnv_&) = delete;

    // Reset: inactive, value, factors, levels, times and curves 0, the four controls on the empty
    // source. Pending values are kept.
    void setvl();
    // Apply a full set. levels: start, attack, break, sustain; times in samples: attack, decay, slope,
    // release; curves in the same order as the times (c > 1 raises the stage's progress to the
    // power c, below that the stage is linear). Sets the active flag when the activation control
    // names a source other than "OFF" and never clears it; the pending values are not touched.
    void setvl(const CoreAnsx& activ, const CoreAnsx& deactiv, const double* levels, const int32_t* times,
               const int16_t* curves, double levelFactor, const CoreAnsx& levelSource, double timeFactor,
               const CoreAnsx& timeSource);
    // Applies the pending values.
    void rfrvl();

    // Pending setters, applied by rfrvl. An index outside 0..3 changes nothing.
    void setlv(int16_t n, double level); // 0 start, 1 attack, 2 break, 3 sustain
    void settm(int16_t n, int32_t time); // samples: 0 attack, 1 decay, 2 slope, 3 release
    void setcv(int16_t n, int16_t curve);
    void setlf(double factor) { dPendinglevelfactor = factor; }
    void settf(double factor) { dPendingtimefactor = factor; }
    void setas(const CoreAnsx& text) { sActivsource = text; }
    void setds(const CoreAnsx& text) { sDeactivsource = text; }
    void setls(const CoreAnsx& text) { sLevelsource = text; }
    void setts(const CoreAnsx& text) { sTimesource = text; }

    // Applied values.
    const double* getlv() const { return dLevels; }
    const int32_t* gettm() const { return iTimes; }
    const int16_t* getcv() const { return iCurves; }
    double getlf() const { return dLevelfactor; }
    double gettf() const { return dTimefactor; }
    // Control n: 0 activation, 1 deactivation, 2 level, 3 time ("Source Control"); null otherwise.
    CoreParm* getpr(int16_t n) const;

    // One block; dt is the number of sample frames since the previous call.
    void updte(double dt);

private:
    // Starts the attack from the present value, or from the start level when that is above 0.
    void trigger();

    CoreAnsx sName;
    CoreAnsx sActivsource;
    CoreAnsx sDeactivsource;
    CoreAnsx sLevelsource;
    CoreAnsx sTimesource;
    // The clock and the stage bounds are 64-bit: a sustain may be held for days, and a 32-bit sample
    // clock would overflow after about 12 hours at 48 kHz. They never reach a file or the host.
    int64_t iClock; // samples since the last trigger
    int16_t iStage; // 0 attack, 1 decay, 2 slope, 3 sustain, 4 release, 5 finished
    int16_t iRunningcurve;
    int64_t iStagestart;
    int64_t iStageend;
    int32_t iTimes[4];
    int32_t iPendingtimes[4];
    int16_t iCurves[4];
    int16_t iPendingcurves[4];
    double dLevelfactor;
    double dPendinglevelfactor;
    double dTimefactor;
    double dValue;
    double dPendingtimefactor;
    bool bActivstate;   // the activation control was at or above 0 at the previous update
    bool bDeactivstate; // likewise the deactivation control
    bool bRunning;
    bool bReleaserequested;
    double dLevels[4];
    double dPendinglevels[4];
    double dSegmentstart;
    double dSegmenttarget;
    bool bActive;
    CoreParm* pActiv;
    CoreParm* pDeactiv;
    CoreParm* pLevel;
    CoreParm* pTime;
    CoreSrce* pOutput;
};
