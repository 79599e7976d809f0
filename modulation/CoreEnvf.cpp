#include "modulation/CoreEnvf.h"

#include "base/CoreButl.h"
#include "modulation/CoreGfun.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <limits>

namespace {

double clampedCoefficient(double c) {
    // Above 1 the level would grow without bound and stay infinite; 1 holds it.
    if (!(c > 0.0)) return 0.0;
    return c > 1.0 ? 1.0 : c;
}

int32_t saturatedSamples(double t) {
    if (!(t < 2147483647.0)) return 2147483647;
    if (t < 1.0) return 1;
    return static_cast<int32_t>(t);
}

int16_t validMode(int16_t mode) {
    return mode >= 0 && mode <= CoreEnvf::iCmodeoff ? mode : CoreEnvf::iCmodeoff;
}

bool detectsSquares(int16_t mode) {
    return mode == 1 || mode == 4 || mode == 8;
}

// The largest magnitude whose square is finite. A larger sample would square to infinity and turn
// the level into NaN for good; it counts as this one.
constexpr double largestSquarable = 1.3407807929942596e154;

double clippedSquare(double x) {
    const double magnitude = std::fabs(x);
    return magnitude < largestSquarable ? magnitude * magnitude : largestSquarable * largestSquarable;
}

double modeFactor(int16_t mode, double vuFactor) {
    switch (mode) {
    case 3:
        return CoreEnvf::dCformafactor;
    case 4:
    case 6:
    case 8:
        return CoreEnvf::dC3dbfix;
    case 7:
        return vuFactor * CoreEnvf::dCvu3dbfix;
    default:
        return 1.0;
    }
}

} // namespace

CoreEnvf::CoreEnvf(CorePool* pool, const CoreAnsx& name, bool withControls, DataSrce* sources,
                   CoreSrce* levelOut, CoreSrce* attackTimeOut, CoreSrce* releaseTimeOut)
    : sName(name), iMode(iCmodeoff), iCount(0), iHighpassorder(0), iHoldlength(1), iHoldcounter(1),
      iMinattack(0), iMaxattack(0), iMinrelease(0), iMaxrelease(0), dAttacklow(1.0), dAttackhigh(1.0),
      dReleaselow(1.0), dReleasehigh(1.0), dBalance(0.0), dOutputweight(0.0), dInputweight(0.0),
      dAttackcoefficient(0.0), dReleasecoefficient(0.0), dLastattacktime(0.0), dLastreleasetime(0.0),
      dLevel(0.0), dOutput(0.0), dRunningpeak(0.0), dHeldpeak(0.0), dLastinputmagnitude(0.0),
      dTimingscale(0.0), dLastdetectorinput(0.0), dPreviousdetectorinput(0.0),
      dVufactor(std::pow(10.0, 0.038)), dSamplerate(0.0), dHighpassfactor(0.0), bActive(false),
      bWithcontrols(withControls), bBusbalance(false), bDynamic(false), bOutputsources(false),
      bTimingoutputs(false), bRising(false), bPreviousrising(false), bHighpass(false), pSources(sources),
      pBusbalancerow(nullptr), pDynamicattackrow(nullptr), pDynamicreleaserow(nullptr),
      pOutputattackrow(nullptr), pOutputreleaserow(nullptr), pLevelout(nullptr), pAttacktimeout(nullptr),
      pReleasetimeout(nullptr), pHighpassrow(nullptr), pAttack(nullptr), pRelease(nullptr),
      pHighpass(nullptr), pBuffer(nullptr), pPool(pool) {
    if (!pool) throw CoreAnsx("Envelope follower ") + name + CoreAnsx(": no memory pool");
    // The pool request comes first: when it throws, nothing else has been built yet.
    pBuffer = static_cast<double*>(pool->mallc(0, iCbufferdim, "ENVF"));
    if (withControls) {
        pAttack = new CoreParm("Attack", "Attack", "t", 1.0, 1000000.0, sources);
        pRelease = new CoreParm("Release", "Release", "t", 1.0, 1000000.0, sources);
        pLevelout = levelOut;
        pAttacktimeout = attackTimeOut;
        pReleasetimeout = releaseTimeOut;
        pHighpass = new CoreFltr(CoreFltr::iChighpass, iVhighpassmaxorder);
    }
}

CoreEnvf::~CoreEnvf() {
    delete pHighpass;
    delete pAttack;
    delete pRelease;
    pPool->free_(pBuffer);
}

void CoreEnvf::setvl() {
    // Every value a section can set goes back to what a new follower holds, so that a program
    // without this follower's section neither plays nor saves what an earlier program set.
    bActive = false;
    iMinattack = 0;
    iMaxattack = 0;
    iMinrelease = 0;
    iMaxrelease = 0;
    dAttacklow = 1.0;
    dAttackhigh = 1.0;
    dReleaselow = 1.0;
    dReleasehigh = 1.0;
    sAttacksource = CoreAnsx("");
    sReleasesource = CoreAnsx("");
    if (pAttack) pAttack->setsr("", pAttack->getbl(), pAttack->getbl());
    if (pRelease) pRelease->setsr("", pRelease->getbl(), pRelease->getbl());
    dBalance = 0.0;
    dOutputweight = 0.0;
    dInputweight = 0.0;
    iMode = iCmodeoff;
    bBusbalance = false;
    sBusbalancesource = CoreAnsx("");
    pBusbalancerow = nullptr;
    bDynamic = false;
    sDynamicattacksource = CoreAnsx("");
    sDynamicreleasesource = CoreAnsx("");
    pDynamicattackrow = nullptr;
    pDynamicreleaserow = nullptr;
    bOutputsources = false;
    sOutputattacksource = CoreAnsx("");
    sOutputreleasesource = CoreAnsx("");
    pOutputattackrow = nullptr;
    pOutputreleaserow = nullptr;
    bTimingoutputs = false;
    bHighpass = false;
    sHighpasssource = CoreAnsx("");
    dHighpassfactor = 0.0;
    iHighpassorder = 0;
    pHighpassrow = nullptr;
    dOutput = 0.0;
    iCount = 0;
}

void CoreEnvf::setvl(int32_t minAttack, int32_t maxAttack, const CoreAnsx& attackSource, int32_t minRelease,
                     int32_t maxRelease, const CoreAnsx& releaseSource, double balance, int16_t mode,
                     bool busBalanceOn, const CoreAnsx& busBalanceSource, bool dynamicOn,
                     const CoreAnsx& dynamicAttackSource, const CoreAnsx& dynamicReleaseSource,
                     bool timingOutputsOn, double sampleRate, bool outputSourcesOn,
                     const CoreAnsx& outputAttackSource, const CoreAnsx& outputReleaseSource, bool highPassOn,
                     double highPassFactor, int highPassOrder, const CoreAnsx& highPassSource) {
    bActive = false;
    iMinattack = minAttack;
    iMaxattack = maxAttack;
    iMinrelease = minRelease;
    iMaxrelease = maxRelease;
    dBalance = balance;
    if (balance >= 0.0) {
        dOutputweight = balance / 2.0;
        dInputweight = (1.0 - balance) / 2.0;
    } else {
        dOutputweight = 1.0;
        dInputweight = 1.0;
    }
    iMode = validMode(mode);

    // The times are rise times; the exponential modes work on time constants.
    double scale = 1.0;
    if (iMode == 5 || iMode == 6) scale = dCtimeconstanttorisetimefactor;
    if (iMode == 7) scale = dCvufactor;
    dAttacklow = minAttack * scale;
    dAttackhigh = maxAttack * scale;
    dReleaselow = minRelease * scale;
    dReleasehigh = maxRelease * scale;
    if (!(dAttacklow > 0.0)) dAttacklow = 1.0;
    if (!(dReleaselow > 0.0)) dReleaselow = 1.0;
    if (dAttackhigh < dAttacklow) dAttackhigh = dAttacklow;
    if (dReleasehigh < dReleaselow) dReleasehigh = dReleaselow;

    sAttacksource = attackSource;
    sReleasesource = releaseSource;
    dSamplerate = sampleRate;
    dTimingscale = sampleRate > 0.0 ? 0.01 / sampleRate : 0.0;
    dHighpassfactor = highPassFactor;
    iHighpassorder = highPassOrder;
    sHighpasssource = highPassSource;
    bHighpass = false;
    pHighpassrow = nullptr;
    if (bWithcontrols) {
        pAttack->setsr(attackSource, dAttacklow, dAttackhigh);
        pRelease->setsr(releaseSource, dReleaselow, dReleasehigh);
        bHighpass = highPassOn;
        if (highPassOn && pSources) pHighpassrow = pSources->getsc(highPassSource);
    }

    dLastattacktime = 0.0;
    dLastreleasetime = 0.0;
    dAttackcoefficient = 0.0;
    dReleasecoefficient = 0.0;
    dLevel = 0.0;
    dRunningpeak = 0.0;
    dHeldpeak = 0.0;
    iHoldlength = 1;
    iHoldcounter = 1;

    if (iMode == iCmodeoff)
        dOutput = 0.0;
    else
        bActive = true;

    iCount = 0;
    bBusbalance = busBalanceOn;
    sBusbalancesource = busBalanceSource;
    pBusbalancerow = nullptr;
    // Rows this follower writes are taken only for keys that name a source: an unknown key would
    // resolve to the OFF row, which every control bound to OFF reads.
    const auto writtenRow = [this](const CoreAnsx& key) {
        return pSources && pSources->isact(key) ? pSources->getsc(key) : nullptr;
    };
    if (busBalanceOn) {
        pBusbalancerow = writtenRow(busBalanceSource);
        dLastinputmagnitude = 0.0;
    }
    bDynamic = dynamicOn;
    sDynamicattacksource = dynamicAttackSource;
    sDynamicreleasesource = dynamicReleaseSource;
    pDynamicattackrow = nullptr;
    pDynamicreleaserow = nullptr;
    if (dynamicOn && pSources) {
        pDynamicattackrow = pSources->getsc(dynamicAttackSource);
        pDynamicreleaserow = pSources->getsc(dynamicReleaseSource);
    }
    bTimingoutputs = timingOutputsOn;
    bOutputsources = outputSourcesOn;
    sOutputattacksource = outputAttackSource;
    sOutputreleasesource = outputReleaseSource;
    pOutputattackrow = nullptr;
    pOutputreleaserow = nullptr;
    if (outputSourcesOn) {
        pOutputattackrow = writtenRow(outputAttackSource);
        pOutputreleaserow = writtenRow(outputReleaseSource);
        bRising = true;
        bPreviousrising = true;
        dLastdetectorinput = 0.0;
        dPreviousdetectorinput = 0.0;
    }
}

void CoreEnvf::rfrvl() {
    // Copies: the apply form assigns these very fields.
    const CoreAnsx attack = sAttacksource;
    const CoreAnsx release = sReleasesource;
    const CoreAnsx busBalance = sBusbalancesource;
    const CoreAnsx dynamicAttack = sDynamicattacksource;
    const CoreAnsx dynamicRelease = sDynamicreleasesource;
    const CoreAnsx outputAttack = sOutputattacksource;
    const CoreAnsx outputRelease = sOutputreleasesource;
    const CoreAnsx highPass = sHighpasssource;
    const CoreAnsx off("OFF");
    setvl(iMinattack, iMaxattack, attack, iMinrelease, iMaxrelease, release, dBalance, iMode, bBusbalance,
          busBalance, dynamicAttack != off && dynamicRelease != off, dynamicAttack, dynamicRelease,
          bTimingoutputs, dSamplerate, bOutputsources, outputAttack, outputRelease, highPass != off,
          dHighpassfactor, iHighpassorder, highPass);
}

void CoreEnvf::setex(int16_t mode) {
    iMode = validMode(mode);
}

void CoreEnvf::push(double x) {
    // Also drops NaN and infinities, which would hold the level at a non-number for good.
    const double magnitude = std::fabs(x);
    pBuffer[iCount++] = magnitude > dCdenormalthreshold && magnitude <= std::numeric_limits<double>::max() ? x : 0.0;
    if (iCount >= iCbufferdim) prcss();
}

void CoreEnvf::setei(double x) {
    if (bActive) push(x);
}

void CoreEnvf::setei(const double* x, int32_t count) {
    if (!bActive) return;
    for (int32_t i = 0; i < count; ++i) push(x[i]);
}

void CoreEnvf::setei(double a, double b, double c, double d) {
    if (!bActive) return;
    setei(CoreGfun::flush(c) * dOutputweight + CoreGfun::flush(a) * dInputweight +
          CoreGfun::flush(b) * dInputweight + CoreGfun::flush(d) * dOutputweight);
}

void CoreEnvf::prcss() {
    const int n = iCount;
    iCount = 0;
    if (n <= 0) return;
    if (bHighpass && pHighpass) {
        for (int i = 0; i < n; ++i) pBuffer[i] = pHighpass->prcss(pBuffer[i]);
    }
    double level = dLevel;
    const double attack = dAttackcoefficient;
    const double release = dReleasecoefficient;
    switch (iMode) {
    case 0:
    case 3:
    case 5:
    case 6:
    case 7:
    case 1:
    case 4: {
        const bool squares = detectsSquares(iMode);
        double u = 0.0;
        for (int i = 0; i < n; ++i) {
            const double x = pBuffer[i];
            u = squares ? clippedSquare(x) : std::fabs(x);
            bRising = u > level;
            level = u + (level - u) * (bRising ? attack : release);
        }
        dLastdetectorinput = u;
        break;
    }
    case 2:
        for (int i = 0; i < n; ++i) {
            if (--iHoldcounter <= 0) {
                iHoldcounter = iHoldlength;
                dHeldpeak = dRunningpeak;
                dRunningpeak = 0.0;
            }
            const double magnitude = std::fabs(pBuffer[i]);
            if (magnitude > dRunningpeak) dRunningpeak = magnitude;
            bRising = dHeldpeak > level;
            level = bRising ? dHeldpeak : dHeldpeak + (level - dHeldpeak) * release;
        }
        dLastdetectorinput = dHeldpeak;
        break;
    case 8: {
        double u = 0.0;
        for (int i = 0; i < n; ++i) {
            u = clippedSquare(pBuffer[i]);
            level = level + (u - level) * attack;
        }
        dLastdetectorinput = u;
        break;
    }
    default:
        break;
    }
    dLevel = level;
    if (bBusbalance) dLastinputmagnitude = std::fabs(pBuffer[n - 1]);
}

void CoreEnvf::updte() {
    if (bActive) {
        if (bHighpass && pHighpass && pHighpassrow) {
            const double position = CoreGfun::unipl(pHighpassrow->getvl());
            pHighpass->setvl(position * dHighpassfactor, 0.0, dSamplerate, iHighpassorder);
        }
        prcss();
        if (bBusbalance) writeRow(pBusbalancerow, dLastinputmagnitude);

        if (bDynamic && pDynamicattackrow && pDynamicreleaserow) {
            dAttackcoefficient = clampedCoefficient(0.5 + (pDynamicattackrow->getvl() + 1.0) / 2.0);
            dReleasecoefficient = clampedCoefficient(0.5 + (pDynamicreleaserow->getvl() + 1.0) / 2.0);
        } else {
            // Controls following a source below -1 go below their lower bound; shorter than one
            // sample, the coefficients would exceed 1 and the peak window would never reload.
            double attackTime = pAttack ? pAttack->getvl() : dAttacklow;
            if (!(attackTime >= 1.0)) attackTime = 1.0;
            if (attackTime != dLastattacktime) {
                dLastattacktime = attackTime;
                if (iMode == 2)
                    iHoldlength = saturatedSamples(attackTime);
                else if (iMode == 8)
                    dAttackcoefficient = clampedCoefficient(1.0 / attackTime);
                else
                    dAttackcoefficient = clampedCoefficient(std::exp(-1.0 / attackTime));
            }
            double releaseTime = pRelease ? pRelease->getvl() : dReleaselow;
            if (!(releaseTime >= 1.0)) releaseTime = 1.0;
            if (releaseTime != dLastreleasetime) {
                dLastreleasetime = releaseTime;
                dReleasecoefficient = clampedCoefficient(std::exp(-1.0 / releaseTime));
            }
        }

        double out = dLevel;
        if (bWithcontrols && bOutputsources && pOutputattackrow && pOutputreleaserow) {
            const double v = bRising ? pOutputattackrow->getvl() : pOutputreleaserow->getvl();
            out = (v + 1.0) / 2.0 * dPreviousdetectorinput;
        }
        if (detectsSquares(iMode)) out = dLevel > 0.0 ? std::sqrt(dLevel) : 0.0;
        // A level near the largest double times a factor above 1 would read as infinity.
        dOutput = std::min(out * modeFactor(iMode, dVufactor), DBL_MAX);
    }

    if (bWithcontrols) {
        if (dOutput > 1.0) dOutput = 1.0;
        writeRow(pLevelout, dOutput);
    }
    if (bTimingoutputs) {
        const double q = dLastdetectorinput != 0.0 ? dLevel / dLastdetectorinput : 0.0;
        writeRow(pAttacktimeout, eaerc(1.0 - q, dAttackcoefficient, dTimingscale));
        writeRow(pReleasetimeout, eaerc(q, dReleasecoefficient, dTimingscale));
        bPreviousrising = bRising;
        dPreviousdetectorinput = dLastdetectorinput;
    }
}

double CoreEnvf::getbl() const {
    return CoreGfun::bipol(dOutput);
}

double CoreEnvf::getdb() const {
    return CoreButl::lvldb(dOutput);
}

double CoreEnvf::eaerc(double a, double b, double c) {
    a = CoreGfun::flush(a);
    b = CoreGfun::flush(b);
    if (!(a > 0.0) || !(b > 0.0)) return 0.0;
    const double logB = std::log(b);
    if (logB == 0.0) return 0.0;
    return c * std::log(a) / logB;
}

void CoreEnvf::writeRow(CoreSrce* row, double unipolar) const {
    if (row) row->setvl(CoreGfun::bipol(unipolar));
}
