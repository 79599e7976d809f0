// CoreDsgt: the selector group: the text items of the current page. Control 0 picks the current item,
// which follows control 1 (and control 2) or a pointer drag; while items exist, controls 0 .. 7 are in
// display mode (bean 187). Owned by the display object and used under the display lock on the
// renderer's thread; its bean calls go to the processor, which serialises them.
#pragma once
#include "display/CoreDsbf.h"
#include "display/CoreDstx.h"
#include "display/DisplayHost.h"

#include <vector>

class CorePrcs;

class CoreDsgt {
public:
    CoreDsgt(CoreDsbf* grid, CorePrcs* processor, DisplayHost* host);
    ~CoreDsgt();
    CoreDsgt(const CoreDsgt&) = delete;
    CoreDsgt& operator=(const CoreDsgt&) = delete;

    void reset(short n, bool mode, bool knobs, short font);
    CoreDstx* gettx(short i) const; // null beyond the items that exist
    bool gettm() const { return bKnobs; }
    void unarm();
    void focus(short column, short row, bool down);
    void focus(short i);
    void setmx(short i, short slot);
    short ct2tx(double control) const; // -1 for a group without items
    double tx2ct(short i) const;
    void draw_();
    void clear(); // the count keeps its old value

    short getcn() const { return iCount; }
    short getcr() const { return iCurrent; }

private:
    void deleteItems();
    void setControl(short slot, double value);

    short iCount = 0;
    short iCurrent = -1;
    short iHighlight = -1;
    bool bMode = false;
    bool bKnobs = false;
    CoreDsbf* pGrid;
    std::vector<CoreDstx*> vItems; // owned
    CorePrcs* pProcessor;
    DisplayHost* pHost;
};
