// CoreSrce: one named modulation slot (key, display label, current bipolar value). Its modulator
// writes it once per block; modulated parameters read it through a pointer. Owned by a DataSrce.
// No locks: the value is a relaxed atomic, because the controls' slots are also written by MIDI, the
// display and host automation while the block processing and the parameter refresh read them.
#pragma once
#include "base/CoreAnsx.h"

#include <atomic>

class CoreSrce {
public:
    CoreSrce(const CoreAnsx& key, const CoreAnsx& label);

    // Stores v. Zero and denormals are stored as +0.0; a NaN is stored as +0.0 and an infinity
    // as +-1.0, so no slot ever carries a non-finite value into the parameters that follow it.
    // Finite values outside -1..+1 are kept as given.
    void setvl(double v);
    double getvl() const { return dValue.load(std::memory_order_relaxed); }
    CoreAnsx getky() const { return sKey; }
    // The label, or the key when the label is empty or "0".
    CoreAnsx getlb() const;

private:
    CoreAnsx sKey;
    CoreAnsx sLabel;
    std::atomic<double> dValue;
};
