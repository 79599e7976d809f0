#include "modulation/CoreEnv_.h"

#include "modulation/CoreGfun.h"

#include <cmath>
#include <limits>

namespace {

// A sample count from a double, truncated toward zero. Saturates at +-2^62 so that adding two of
// them never overflows; NaN counts as 0.
int64_t toSamples(double x) {
    constexpr double limit = 4611686018427387904.0; // 2^62
    if (!(x == x)) return 0;
    if (x >= limit) return static_cast<int64_t>(limit);
    if (x <= -limit) return -static_cast<int64_t>(limit);
    return static_cast<int64_t>(x);
}

int64_t saturatingAdd(int64_t a, int64_t b) {
    int64_t sum;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

} // namespace

CoreEnv_::CoreEnv_(const CoreAnsx& name, DataSrce* sources, CoreSrce* output)
    : sName(name), iClock(0), iStage(0), iRunningcurve(0), iStagestart(0),
      iStageend(0), iTimes{}, iPendingtimes{}, iCurves{}, iPendingcurves{}, dLevelfactor(0.0),
      dPendinglevelfactor(0.0), dTimefactor(0.0), dValue(0.0), dPendingtimefactor(0.0), bActivstate(false),
      bDeactivstate(false), bRunning(false), bReleaserequested(false), dLevels{}, dPendinglevels{},
      dSegmentstart(0.0), dSegmenttarget(0.0), bActive(false), pActiv(nullptr), pDeactiv(nullptr),
      pLevel(nullptr), pTime(nullptr), pOutput(output) {
    pActiv = new CoreParm("Activ Control", "Activ Control", "", -1.0, 1.0, sources);
    pDeactiv = new CoreParm("Deactiv Control", "Deactiv Control", "", -1.0, 1.0, sources);
    pLevel = new CoreParm("Level Control", "Level Control", "", -1.0, 1.0, sources);
    pTime = new CoreParm("Source Control", "Source Control", "", -1.0, 1.0, sources);
    // A new envelope holds the reset state, which is also what a section without keys applies.
    setvl();
}

CoreEnv_::~CoreEnv_() {
    delete pActiv;
    delete pDeactiv;
    delete pLevel;
    delete pTime;
    pOutput = nullptr;
}

void CoreEnv_::setvl() {
    bActive = false;
    dValue = 0.0;
    dLevelfactor = 0.0;
    dTimefactor = 0.0;
    for (int i = 0; i < 4; ++i) {
        dLevels[i] = 0.0;
        iTimes[i] = 0;
        iCurves[i] = 0;
    }
    pActiv->setsr("", -1.0, 1.0);
    pDeactiv->setsr("", -1.0, 1.0);
    pLevel->setsr("", 0.0, 1.0);
    pTime->setsr("", 0.0, 1.0);
}

void CoreEnv_::setvl(const CoreAnsx& activ, const CoreAnsx& deactiv, const double* levels,
                     const int32_t* times, const int16_t* curves, double levelFactor,
                     const CoreAnsx& levelSource, double timeFactor, const CoreAnsx& timeSource) {
    dLevelfactor = levelFactor;
    dTimefactor = timeFactor;
    for (int i = 0; i < 4; ++i) {
        dLevels[i] = levels ? levels[i] : 0.0;
        iTimes[i] = times ? times[i] : 0;
        iCurves[i] = curves ? curves[i] : 0;
    }
    pActiv->setsr(activ, -1.0, 1.0);
    pDeactiv->setsr(deactiv, -1.0, 1.0);
    pLevel->setsr(levelSource, 0.0, 1.0);
    pTime->setsr(timeSource, 0.0, 1.0);
    dValue = 0.0;
    iClock = 0;
    bActivstate = false;
    bDeactivstate = false;
    bRunning = false;
    bReleaserequested = false;
    if (pActiv->actve()) bActive = true;
}

void CoreEnv_::rfrvl() {
    setvl(sActivsource, sDeactivsource, dPendinglevels, iPendingtimes, iPendingcurves, dPendinglevelfactor,
          sLevelsource, dPendingtimefactor, sTimesource);
}

void CoreEnv_::setlv(int16_t n, double level) {
    if (n >= 0 && n < 4) dPendinglevels[n] = level;
}

void CoreEnv_::settm(int16_t n, int32_t time) {
    if (n >= 0 && n < 4) iPendingtimes[n] = time;
}

void CoreEnv_::setcv(int16_t n, int16_t curve) {
    if (n >= 0 && n < 4) iPendingcurves[n] = curve;
}

CoreParm* CoreEnv_::getpr(int16_t n) const {
    switch (n) {
    case 0:
        return pActiv;
    case 1:
        return pDeactiv;
    case 2:
        return pLevel;
    case 3:
        return pTime;
    default:
        return nullptr;
    }
}

void CoreEnv_::trigger() {
    bRunning = true;
    bReleaserequested = false;
    iClock = 0;
    iStage = 0;
    if (dLevels[0] > 0.0) dValue = dLevels[0];
    iStagestart = 0;
    dSegmentstart = dValue;
    const double level = pLevel->getvl();
    const double time = pTime->getvl();
    iStageend = toSamples(dTimefactor * time * static_cast<double>(iTimes[0]));
    iRunningcurve = iCurves[0];
    dSegmenttarget = dLevelfactor * level * dLevels[1];
}

void CoreEnv_::updte(double dt) {
    if (bActive) {
        const double activation = pActiv->getvl();
        const double deactivation = pDeactiv->getvl();
        if (deactivation >= 0.0 && !bDeactivstate) bReleaserequested = true;

        if (bRunning) {
            iClock = saturatingAdd(iClock, toSamples(dt));
            bool finished = false;
            if (iStage == 3 && !bReleaserequested) {
                iStageend = iClock; // the sustain holds
            } else if (iClock > iStageend || iStage == 3) {
                ++iStage;
                const double level = pLevel->getvl();
                const double time = pTime->getvl();
                if (iStage >= 5) {
                    iStage = 5;
                    dValue = 0.0;
                    bRunning = false;
                    finished = true;
                } else {
                    const double levelScale = dLevelfactor * level;
                    const double timeScale = dTimefactor * time;
                    const int64_t previousEnd = iStageend;
                    dSegmentstart = dSegmenttarget;
                    iStagestart = previousEnd;
                    if (iStage <= 2) {
                        iRunningcurve = iCurves[iStage];
                        iStageend = saturatingAdd(previousEnd, toSamples(iTimes[iStage] * timeScale));
                        dSegmenttarget = levelScale * dLevels[iStage + 1];
                    } else if (iStage == 3) {
                        iStageend = iClock;
                    } else {
                        iRunningcurve = iCurves[3];
                        iStageend = saturatingAdd(previousEnd, toSamples(iTimes[3] * timeScale));
                        dSegmenttarget = 0.0;
                    }
                }
            }
            if (!finished) {
                // r runs from 1 at the stage start to 0 at its end; past the end it turns negative and
                // the value overshoots until the next call advances the stage.
                const double span = static_cast<double>(iStageend) - static_cast<double>(iStagestart);
                double r =
                    span == 0.0 ? 0.0 : (static_cast<double>(iStageend) - static_cast<double>(iClock)) / span;
                if (iRunningcurve > 1) r = std::pow(r, iRunningcurve);
                dValue = dSegmenttarget - (dSegmenttarget - dSegmentstart) * r;
            }
        }

        if (activation >= 0.0 && !bActivstate) trigger();
        bActivstate = activation >= 0.0;
        bDeactivstate = deactivation >= 0.0;
    }

    if (pOutput) pOutput->setvl(CoreGfun::bipol(std::fabs(dValue)));
}
