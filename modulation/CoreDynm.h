// CoreDynm: a compressor or expander gain computer on modulation values: compares an input level with
// a threshold level (both from sources, read in dB) and writes the resulting linear gain to its DNM
// slot once per block. Owned by the program; no lock: the processor serialises updte and the setters.
#pragma once
#include "base/CoreAnsx.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"

#include <cstdint>

class CoreDynm {
public:
    static constexpr int16_t iCmaxratiocurve = 8; // highest ratio-curve index

    CoreDynm(const CoreAnsx& name, DataSrce* sources, CoreSrce* output);
    ~CoreDynm();
    CoreDynm(const CoreDynm&) = delete;
    CoreDynm& operator=(const CoreDynm&) = delete;

    // Reset: inactive, gain 0, compressing, curve off (index -1), range limit and make-up 0.
    void setvl();
    // Apply. rangeLimit and makeUp in dB; a curve index above 8 is stored as 8. Sets the active flag
    // when the input control names a source other than "OFF" (never clears it); clears the gain.
    void setvl(const CoreAnsx& threshold, const CoreAnsx& input, bool compress, const CoreAnsx& ratio,
               bool curveOn, int16_t curveIndex, double rangeLimit, double makeUp);
    // Apply as stored in programs: type 0 compresses, 1 expands; curve -1 is off, k >= 0 is the
    // curve of index k - 1 (so 0 is the linear fade).
    void setvl(int16_t type, const CoreAnsx& threshold, const CoreAnsx& input, const CoreAnsx& ratio,
               int16_t curve, double rangeLimit, double makeUp);
    void rfrvl(); // applies the pending values

    // Pending setters, applied by rfrvl.
    void setst(int16_t type) { iPendingtype = type; }
    void setrc(int16_t curve) { iPendingcurve = curve; }
    void setbd(int16_t id, double value);         // 3 range limit, 4 make-up gain; other ids ignored
    void setbs(int16_t id, const CoreAnsx& text); // 0 threshold, 1 input, 2 ratio; other ids ignored

    // Applied values.
    int16_t getst() const { return bCompress ? 0 : 1; }
    int16_t getrc() const { return bCurveon ? static_cast<int16_t>(iCurveindex + 1) : 0; }
    // True when the applied curve is on: getrc cannot tell "off" from "on with index -1".
    bool iscrv() const { return bCurveon; }
    double getbd(int16_t id) const;   // 3 range limit, 4 make-up gain, else 0.0
    CoreAnsx getbs(int16_t id) const; // source text of 0 threshold, 1 input, 2 ratio, else empty

    // One block.
    void updte();

private:
    CoreAnsx sName;
    CoreAnsx sThresholdsource;
    CoreAnsx sInputsource;
    CoreAnsx sRatiosource;
    double dRangelimit; // dB
    double dGain;       // linear
    double dMakeup;     // dB
    double dRangereciprocal;
    double dPendingrangelimit;
    double dPendingmakeup;
    int16_t iCurveindex;
    int16_t iPendingtype;
    int16_t iPendingcurve;
    bool bActive;
    bool bCompress;
    bool bCurveon;
    CoreParm* pThreshold;
    CoreParm* pInput;
    CoreParm* pRatio;
    CoreSrce* pOutput;
};
