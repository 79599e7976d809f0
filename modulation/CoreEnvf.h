// CoreEnvf: an envelope follower: takes audio samples one at a time, optionally high-passes them,
// runs one of nine level detectors with attack and release ballistics and once per block writes its
// level (and two timing figures) to source rows. Owned by the program (EVF1..EVF5, with controls) or
// by the processor (meters, without controls); no lock: the owner serialises feeding, updte and setters.
#pragma once
#include "base/CoreAnsx.h"
#include "base/CorePool.h"
#include "base/CoreFltr.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"

#include <cstdint>

class CoreEnvf {
public:
    static constexpr int iCbufferdim = 16;       // samples buffered before detection
    static constexpr int iVhighpassmaxorder = 8; // order of the high-pass cascade of a follower
    static constexpr double dCdenormalthreshold = 1e-150;
    static constexpr double dCformafactor = 1.5689347391281367;
    static constexpr double dC3dbfix = 1.4125375446227544; // 10^(3/20)
    static constexpr double dCvu3dbfix = 1.433934302386369;
    static constexpr double dCtimeconstanttorisetimefactor = 0.45511961331341866; // 1 / ln 9
    static constexpr double dCvufactor = 0.21714724095162588;                     // 1 / ln 100

    // Detector modes: 0 average, 1 RMS, 2 peak, 3 average 17, 4 RMS 17, 5 EVF, 6 EVF 17, 7 VU,
    // 8 true RMS 17, 9 off.
    static constexpr int16_t iCmodeoff = 9;

    // Without controls the follower has no Attack and Release controls, no high-pass and no output
    // rows; the source table and every row may be null, and a null row is never written.
    CoreEnvf(CorePool* pool, const CoreAnsx& name, bool withControls, DataSrce* sources, CoreSrce* levelOut,
             CoreSrce* attackTimeOut, CoreSrce* releaseTimeOut);
    ~CoreEnvf();
    CoreEnvf(const CoreEnvf&) = delete;
    CoreEnvf& operator=(const CoreEnvf&) = delete;

    // Reset to what a new follower holds: inactive, mode 9, output 0, times, balance and high-pass 0,
    // every source text empty and every optional group unlinked. The sample rate stays.
    void setvl();
    // Apply a full set. Times in samples; balance b >= 0 weights outputs by b/2 and inputs by
    // (1 - b)/2, b < 0 weights both by 1. A mode outside 0..9 is taken as 9 (off).
    void setvl(int32_t minAttack, int32_t maxAttack, const CoreAnsx& attackSource, int32_t minRelease,
               int32_t maxRelease, const CoreAnsx& releaseSource, double balance, int16_t mode,
               bool busBalanceOn, const CoreAnsx& busBalanceSource, bool dynamicOn,
               const CoreAnsx& dynamicAttackSource, const CoreAnsx& dynamicReleaseSource,
               bool timingOutputsOn, double sampleRate, bool outputSourcesOn,
               const CoreAnsx& outputAttackSource, const CoreAnsx& outputReleaseSource, bool highPassOn,
               double highPassFactor, int highPassOrder, const CoreAnsx& highPassSource);
    // Re-applies every stored setting. Dynamic attack/release is on when neither text is "OFF", the
    // high-pass when its text is not "OFF".
    void rfrvl();

    // Feeds one sample, or the mix c*wo + a*wi + b*wi + d*wo of two input and two output samples
    // (wi, wo the balance weights). Dropped while inactive; every 16 samples run through detection.
    void setei(double x);
    void setei(double a, double b, double c, double d);
    // Feeds `count` samples in order, as as many single-sample calls would.
    void setei(const double* x, int32_t count);
    // Runs the buffered samples through the high-pass and the detector.
    void prcss();
    // Once per block, after the block's samples.
    void updte();

    double getou() const { return dOutput; }
    double getbl() const; // the output as 2 out - 1 (-1.0 for an output of 0)
    double getdb() const; // the output in dB, never below -192.64

    // Stored settings.
    int32_t getma() const { return iMinattack; }
    int32_t getxa() const { return iMaxattack; }
    int32_t getmr() const { return iMinrelease; }
    int32_t getxr() const { return iMaxrelease; }
    double getba() const { return dBalance; }
    int16_t getex() const { return iMode; }
    double gethf() const { return dHighpassfactor; }
    int getho() const { return iHighpassorder; }
    CoreParm* getat() const { return pAttack; }  // null without controls
    CoreParm* getrl() const { return pRelease; } // null without controls
    CoreAnsx gethp() const { return sHighpasssource; }
    CoreAnsx getor() const { return sOutputreleasesource; }
    CoreAnsx getoa() const { return sOutputattacksource; }
    CoreAnsx getdr() const { return sDynamicreleasesource; }
    CoreAnsx getda() const { return sDynamicattacksource; }
    CoreAnsx getbb() const { return sBusbalancesource; }
    bool isact() const { return bActive; }
    bool bbsrc() const { return bBusbalance; }
    bool dsrc_() const { return bDynamic; }
    bool osrc_() const { return bOutputsources; }
    bool enabt() const { return bTimingoutputs; }
    bool hpsrc() const { return bHighpass; }

    // Setters that only store; the next rfrvl applies them.
    void setma(int32_t samples) { iMinattack = samples; }
    void setxa(int32_t samples) { iMaxattack = samples; }
    void setmr(int32_t samples) { iMinrelease = samples; }
    void setxr(int32_t samples) { iMaxrelease = samples; }
    void setob(double balance) { dBalance = balance; }
    void setex(int16_t mode);
    void sethf(double factor) { dHighpassfactor = factor; }
    void setho(int order) { iHighpassorder = order; }
    void sethp(const CoreAnsx& text) { sHighpasssource = text; }
    void setdr(const CoreAnsx& text) { sDynamicreleasesource = text; }
    void setda(const CoreAnsx& text) { sDynamicattacksource = text; }
    void setrs(const CoreAnsx& text) { sReleasesource = text; }
    void setas(const CoreAnsx& text) { sAttacksource = text; }

    // c ln a / ln b; 0 when a or b is not above 0 or ln b is 0.
    static double eaerc(double a, double b, double c);

private:
    void push(double x); // one sample into the buffer, processed when full
    void writeRow(CoreSrce* row, double unipolar) const;

    CoreAnsx sName;
    CoreAnsx sBusbalancesource;
    CoreAnsx sDynamicattacksource;
    CoreAnsx sDynamicreleasesource;
    CoreAnsx sOutputattacksource;
    CoreAnsx sOutputreleasesource;
    CoreAnsx sAttacksource;
    CoreAnsx sReleasesource;
    CoreAnsx sHighpasssource;
    int16_t iMode;
    int32_t iCount; // samples in the buffer
    int32_t iHighpassorder;
    int32_t iHoldlength;  // mode 2: samples per peak window
    int32_t iHoldcounter; // mode 2: samples left in the window
    int32_t iMinattack;
    int32_t iMaxattack;
    int32_t iMinrelease;
    int32_t iMaxrelease;
    double dAttacklow;
    double dAttackhigh;
    double dReleaselow;
    double dReleasehigh;
    double dBalance;
    double dOutputweight;
    double dInputweight;
    double dAttackcoefficient;
    double dReleasecoefficient;
    double dLastattacktime;
    double dLastreleasetime;
    double dLevel;
    double dOutput;
    double dRunningpeak;
    double dHeldpeak;
    double dLastinputmagnitude;
    double dTimingscale; // 0.01 / sample rate
    double dLastdetectorinput;
    double dPreviousdetectorinput;
    double dVufactor; // 10^0.038
    double dSamplerate;
    double dHighpassfactor;
    bool bActive;
    bool bWithcontrols;
    bool bBusbalance;
    bool bDynamic;
    bool bOutputsources;
    bool bTimingoutputs;
    bool bRising;
    bool bPreviousrising;
    bool bHighpass;
    DataSrce* pSources;
    CoreSrce* pBusbalancerow;
    CoreSrce* pDynamicattackrow;
    CoreSrce* pDynamicreleaserow;
    CoreSrce* pOutputattackrow;
    CoreSrce* pOutputreleaserow;
    CoreSrce* pLevelout;
    CoreSrce* pAttacktimeout;
    CoreSrce* pReleasetimeout;
    CoreSrce* pHighpassrow;
    CoreParm* pAttack;
    CoreParm* pRelease;
    CoreFltr* pHighpass;
    double* pBuffer; // iCbufferdim samples from the pool
    CorePool* pPool;
};
