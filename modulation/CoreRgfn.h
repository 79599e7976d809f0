// CoreRgfn: one row of the raw-function table: an envelope evaluated over value
// arrays taken from the program's recorded raw vectors. Owned by a DataRgfn and
// read-only after construction; the caller (a CoreRfun) owns the FUNEXTENSION
// record it passes.
#pragma once
#include "base/CoreAnsx.h"

class CoreRgfn {
public:
    // The record a raw function hands to its row.
    struct FUNEXTENSION {
        double dA;        // input A in 0..1
        double dB;        // input B in 0..1
        double* pValues0; // not owned
        double* pValues1; // not owned
        int iCount0;      // entries in pValues0
        int iCount1;      // entries in pValues1
        double dY;        // the start value (0..1) after configuration, then the last result
        double dK;        // the integer factor given by the program (its sample rate)
        double dT;        // the argument of the last update
    };
    using FUNCTION = double (*)(FUNEXTENSION* record);

    CoreRgfn(const CoreAnsx& key, const CoreAnsx& label, FUNCTION function);
    ~CoreRgfn();
    CoreRgfn(const CoreRgfn&) = delete;
    CoreRgfn& operator=(const CoreRgfn&) = delete;

    CoreAnsx getky() const { return sKey; }
    CoreAnsx getlb() const { return sLabel; }
    // The row's value clamped to -1..+1 (a NaN gives 0.0, zero or denormal +0.0).
    // The inputs are not folded.
    double xtfun(FUNEXTENSION* record) const;

private:
    CoreAnsx sKey;
    CoreAnsx sLabel;
    FUNCTION pFunction;
};
