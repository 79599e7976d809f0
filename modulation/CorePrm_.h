// CorePrm_: a user parameter ("PRM1".."PRM16"): a group-1 operation of inputs A
// and B written to its PRM slot when the processor asks (after edits, not per
// block), plus what the display needs to show it: texts, a value range min..max
// and a bar window. Owned by the program; engine lock held.
#pragma once
#include "base/CoreAnsx.h"
#include "modulation/CoreGfun.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataGfun.h"
#include "modulation/DataSrce.h"

class CorePrm_ {
public:
    // Starts in the reset state of setvl(false).
    CorePrm_(const CoreAnsx& name, DataGfun* functions, DataSrce* sources, CoreSrce* output);
    ~CorePrm_();
    CorePrm_(const CorePrm_&) = delete;
    CorePrm_& operator=(const CorePrm_&) = delete;

    // Reset: inputs on the empty source, operation "a", texts empty, bounds 0.0,
    // bar scale 1.0, all flags false; define then sets the set and enabled flags.
    void setvl(bool define);
    // Full definition from a program; enabled only when the label is not empty.
    void setvl(bool displayed, const CoreAnsx& sourceA, const CoreAnsx& sourceB, const CoreAnsx& operationKey,
               const CoreAnsx& label, const CoreAnsx& preLabel, const CoreAnsx& unit, const CoreAnsx& preUnit,
               const CoreAnsx& postUnit, double min, double max, double barMin, double barMax);
    // Shows or hides it; showing an undefined parameter defines a blank one, and
    // a shown parameter without a label is labelled "NULL".
    void setds(bool on);

    // A key that no row has selects "a" and is stored as "a".
    void setfn(const CoreAnsx& key);
    void setfn(const CoreAnsx& sourceA, const CoreAnsx& sourceB, const CoreAnsx& key);
    void setsa(const CoreAnsx& sourceA);
    void setsb(const CoreAnsx& sourceB);

    void setlb(const CoreAnsx& text) { sLabel = text; }
    void setpl(const CoreAnsx& text) { sPrelabel = text; }
    void setun(const CoreAnsx& text) { sUnit = text; }
    void setpu(const CoreAnsx& text) { sPreunit = text; }
    void setou(const CoreAnsx& text) { sPostunit = text; }
    CoreAnsx getlb() const { return sLabel; }
    CoreAnsx getpl() const { return sPrelabel; }
    CoreAnsx getun() const { return sUnit; }
    CoreAnsx getpu() const { return sPreunit; }
    CoreAnsx getou() const { return sPostunit; }
    CoreAnsx getfn() const { return sOperationkey; }

    // These store one bound only; setba recomputes the bar window from bar min
    // and bar max.
    void setmn(double v) { dMin = v; }
    void setmx(double v) { dMax = v; }
    void setbn(double v) { dBarmin = v; }
    void setbx(double v) { dBarmax = v; }
    void setba();
    void setbn(double min, double max, double barMin, double barMax);

    double getmn() const { return dMin; }
    double getmx() const { return dMax; }
    double getbn() const { return dBarmin; }
    double getbx() const { return dBarmax; }
    // 0 min, 1 max, 2 bar min, 3 bar max; any other n gives 0.0.
    double getbd(short n) const;
    void getbn(double& min, double& max, double& barMin, double& barMax) const;

    CoreParm* getfa() const { return pInputa; }
    CoreParm* getfb() const { return pInputb; }
    bool isdis() const { return bSet && bEnabled && bDisplayed; }

    // Writes the operation of A and B to the PRM slot when the parameter is
    // defined.
    void updte();
    // The displayed value: min at slot -1, max at slot +1 (falling when min >
    // max); 0.0 unless set and enabled.
    double getvl() const;
    // The bar fraction, at most 1.0. Below the bar's low end it is 1.0 for an
    // inverted bar, else 0.0; an inverted bar above its bar min gives a negative
    // fraction, which the display clamps.
    double getbf() const;

private:
    CoreAnsx sName;
    CoreAnsx sKeya;
    CoreAnsx sKeyb;
    CoreAnsx sOperationkey;
    CoreAnsx sLabel;
    CoreAnsx sPrelabel;
    CoreAnsx sUnit;
    CoreAnsx sPreunit;
    CoreAnsx sPostunit;
    double dMin; // displayed value at slot -1
    double dMax; // displayed value at slot +1
    double dBarmin;
    double dBarmax;
    double dBarlow; // the smaller of bar min and bar max
    double dBarscale;
    bool bSet;
    bool bEnabled;
    bool bDisplayed;
    bool bBarinverted;
    DataSrce* pSources;
    CoreSrce* pOutput;
    CoreParm* pInputa;
    CoreParm* pInputb;
    DataGfun* pFunctions;
    CoreGfun* pOperation;
};
