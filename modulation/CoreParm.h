// CoreParm: one modulatable control. It follows a slot of the source table or
// holds a numeric constant, and maps the bipolar value -1..+1 onto its scale:
// (v + 1) * 0.5 * range + scale lower. Owned by its modulator or vector; called
// from block processing or under the engine lock.
#pragma once
#include "base/CoreAnsx.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"

class CoreParm {
public:
    // Follows the "OFF" row with the scale lower..lower (range 0) until setsr is
    // called.
    CoreParm(const CoreAnsx& name, const CoreAnsx& label, const CoreAnsx& unit, double lower, double upper,
             DataSrce* table);
    ~CoreParm();
    CoreParm(const CoreParm&) = delete;
    CoreParm& operator=(const CoreParm&) = delete;

    // Assigns the source and the scale. The text is a slot key, empty (follows
    // "OFF") or a number, which becomes the constant in the bipolar domain (0 is
    // the middle of the scale). "NULL" is what the program writer stores for an
    // unset source and is taken as the empty text.
    void setsr(const CoreAnsx& text, double lower, double upper);
    // The mapped value; +0.0 for a zero or denormal result. One multiply-add, no
    // lookup.
    double getvl();
    CoreAnsx getsc() const { return sSource; }
    // For saving: a constant as "%10.10f" ('.' whatever the locale), else the
    // source text.
    CoreAnsx getsa() const;
    bool actve() const { return bActive; }
    bool iscst() const { return bConstant; }
    double getcv() const { return dConstant; }
    double getbl() const { return dLower; }
    double getbu() const { return dUpper; }
    double getsl() const { return dScalelower; }
    double getsu() const { return dScaleupper; }

private:
    CoreAnsx sName;
    CoreAnsx sLabel;
    CoreAnsx sUnit;
    CoreAnsx sSource;
    double dValue;
    double dConstant;
    double dLower;
    double dUpper;
    double dScalelower;
    double dScaleupper;
    double dRange;
    bool bConstant;
    bool bActive;
    CoreSrce* pSource; // null while bConstant
    DataSrce* pTable;
};
