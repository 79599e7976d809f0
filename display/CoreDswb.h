// CoreDswb: the write-back record of a page: per slot (a page's item or field number) the raw engine
// value a load read and what the load made of its item or field. A page writes back only what the
// user changed: conversions and substitutions made when a value was loaded never count as a change,
// so merely viewing a page writes nothing. Owned by a page, used under the display lock.
#pragma once
#include "base/CoreAnsx.h"
#include "display/CoreDsed.h"
#include "display/CoreDstx.h"

#include <map>

class CoreDswb {
public:
    void reset() { mKept.clear(); }
    // Records a load, and after each write the value written.
    void keep(int slot, double raw, const CoreDstx& item);
    void keep(int slot, const CoreAnsx& raw, const CoreDstx& item);
    void keep(int slot, double raw, const CoreDsed& field);
    void keep(int slot, const CoreAnsx& raw, const CoreDsed& field);
    // True for a slot never kept, or kept for the other kind of widget.
    bool chngd(int slot, const CoreDstx& item) const;
    bool chngd(int slot, const CoreDsed& field) const;
    double rawnm(int slot) const; // 0 for a slot never kept
    CoreAnsx rawtx(int slot) const; // empty for a slot never kept

private:
    struct Kept {
        double rawNumber = 0.0;
        CoreAnsx rawText = "";
        bool field = false;
        bool numberInForce = false; // ranged, or a dual item's number
        double value = 0.0;
        int element = 0;
        CoreAnsx committed = "";
    };
    Kept& item(int slot, const CoreDstx& item);
    Kept& field(int slot, const CoreDsed& field);

    std::map<int, Kept> mKept;
};
