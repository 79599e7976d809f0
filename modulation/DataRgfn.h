// DataRgfn: the raw-function table: "RSINGLE" (an envelope from one recorded
// value) and "RMULTI" (a recorded envelope read by position). Programs store a
// row by key. Built once per program and read-only afterwards.
#pragma once
#include "base/CoreAnsx.h"
#include "modulation/CoreRgfn.h"

class DataRgfn {
public:
    static constexpr int iCrows = 2;

    DataRgfn();
    ~DataRgfn();
    DataRgfn(const DataRgfn&) = delete;
    DataRgfn& operator=(const DataRgfn&) = delete;

    int getnm() const { return iCount; }
    // Writes every row's label and key into (*labels)[i] and (*keys)[i]; the
    // caller owns both arrays of getnm() texts.
    void getgs(CoreAnsx** labels, CoreAnsx** keys) const;
    // The last row whose key equals the text; row 0 ("RSINGLE") when none does.
    CoreRgfn* getgf(const CoreAnsx& key) const;

private:
    int iCount;
    CoreRgfn** pRows;
};
