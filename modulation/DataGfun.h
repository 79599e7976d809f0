// DataGfun: the fixed function table. Group 0 holds the 33 waveforms of one
// phase input (the LFO shapes), group 1 the 45 operations of two inputs a and b
// (function modulators, user parameters). Programs store a function by key.
// Built once per owner and read-only afterwards.
#pragma once
#include "base/CoreAnsx.h"
#include "modulation/CoreGfun.h"

class DataGfun {
public:
    static constexpr int iCgroups = 2;
    static constexpr int iCwaveforms = 33;  // group 0
    static constexpr int iCoperations = 45; // group 1

    DataGfun();
    ~DataGfun();
    DataGfun(const DataGfun&) = delete;
    DataGfun& operator=(const DataGfun&) = delete;

    // Rows in the group: 33 or 45; 0 for a group other than 0 or 1.
    int getnm(int group) const;
    // Writes every row's label and key into (*labels)[i] and (*keys)[i]; the
    // caller owns both arrays (getnm(group) texts each). A bad group writes
    // nothing.
    void getgs(int group, CoreAnsx** labels, CoreAnsx** keys) const;
    // The last row whose key equals the text (case-sensitive); row 0 ("Sine" or
    // "a") when none does; null for a group other than 0 or 1.
    CoreGfun* getgf(int group, const CoreAnsx& key) const;

private:
    int* pCounts;
    CoreGfun*** pGroups;
};
