// CoreRfun: a raw function ("RAWFUN1".."RAWFUN4"): evaluates a row of the
// raw-function table over two value arrays from the program's raw vectors,
// steered by inputs A and B, and writes the result to its slot. Owned by the
// program; stepped from block processing only while active.
#pragma once
#include "base/CoreAnsx.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreRgfn.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataRgfn.h"
#include "modulation/DataSrce.h"

class CoreRfun {
public:
    static constexpr int iCsupportedraws = 2; // value arrays a raw function takes

    CoreRfun(const CoreAnsx& name, DataRgfn* raws, DataSrce* sources, CoreSrce* output);
    ~CoreRfun();
    CoreRfun(const CoreRfun&) = delete;
    CoreRfun& operator=(const CoreRfun&) = delete;

    // Configuration from a program: k is the program's integer factor (its sample
    // rate), start the bipolar start value. Leaves the function active with no
    // arrays; the program supplies them with setvl(which, ...) and then calls
    // chckv.
    void setvl(const CoreAnsx& sourceA, const CoreAnsx& sourceB, const CoreAnsx& rawName0,
               const CoreAnsx& rawName1, const CoreAnsx& rowKey, int k, double start);
    // which 0 sets array 0, any other value array 1. The values stay owned by the
    // raw vector.
    void setvl(int which, double* values, int count);
    // Clears the active flag unless both arrays hold values.
    void chckv();
    // Empties both raw names and clears the active flag.
    void setvl();
    // Raw name 0 or 1 (any other i gives the empty text).
    CoreAnsx getfr(int i) const;
    bool isact() const { return bActive; }

    // One step at t: writes 2y - 1 of the row's result y (so the slot may go
    // below -1).
    void updte(double t);

private:
    CoreAnsx sName;
    CoreAnsx sKeya;
    CoreAnsx sKeyb;
    CoreAnsx sRawname0;
    CoreAnsx sRawname1;
    CoreAnsx sRowkey;
    bool bActive;
    CoreSrce* pOutput;
    CoreParm* pInputa;
    CoreParm* pInputb;
    DataRgfn* pRaws;
    CoreRgfn* pRow;
    CoreRgfn::FUNEXTENSION rRecord;
};
