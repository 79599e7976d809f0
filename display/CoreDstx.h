// CoreDstx: one text item of a display page: a number in a range followed by its unit, a choice from
// a list, or both (a dual item). The current item follows front-panel control 1 (and control 2 for a
// dual item's number) or a pointer drag; the page polls ischg and writes changes to the engine.
// Owned by the selector group (CoreDsgt) and used under the display lock on the renderer's thread.
#pragma once
#include "base/CoreAnsx.h"
#include "display/CoreDsbf.h"
#include "display/DisplayHost.h"

#include <vector>

class CorePrcs;

class CoreDstx {
public:
    CoreDstx(CoreDsbf* grid, CorePrcs* processor, DisplayHost* host);

    void defne(short font, short column, short row, short width, const CoreAnsx& unit, bool wholenumbers,
               short decimals);
    void setvl(double value); // a non-finite value counts as the lower bound
    double getvl() const { return dValue; }
    bool ischg();
    void setun();
    bool ishre(short column, short row) const;
    bool isrng() const { return bRanged; }
    void setar(bool on);
    void setmx(short slot, bool push);
    void setam(short slot, bool mode);
    // A value outside the bounds widens them to include it; equal or non-finite bounds leave the
    // item at its lower bound, position 0, following and sending nothing.
    void setrg(double lower, double upper, double value);
    void setrg(double value);
    void addel(const CoreAnsx& text, double number);
    void setel(int n, const CoreAnsx* texts, int k);
    void setel(int k); // k is limited to the list
    void setel(int n, const CoreAnsx* texts, double lower, double upper, bool listfirst, int k, double value);
    int getel() const;
    CoreAnsx getel(int i) const; // empty outside the list
    void updte();
    void draw_(short font);

    // Read-only facts for the write-back helper and the tests.
    double getlw() const { return dLower; }
    double getup() const { return dUpper; }
    bool isdl() const { return bDual; }
    bool getar() const { return bArmed; }
    double getps() const { return dPosition; }
    double getp2() const { return dSecond; }
    int getne() const { return static_cast<int>(vElements.size()); }

    // Position 0 .. 1 to a control value -1 .. +1 and back; a subnormal counts as 0, a non-finite
    // value as the lower end, and control values are clamped.
    static double toControl(double position);
    static double toPosition(double control);

private:
    struct Element {
        CoreAnsx text;
        double number;
    };
    bool degenerate() const; // equal or non-finite bounds
    double finiteLower() const;
    double valueAt(double position) const;
    double positionOf(double value) const;
    void applyRange(double lower, double upper, double value);
    void send(short slot, double position, double& sent);
    double read(short slot);

    CoreAnsx sUnit;
    int iAnchorx = 0;
    int iAnchory = 0;
    short iColumn = 0;
    short iRow = 0;
    short iWidth = 0;
    short iFont = 0;
    short iDecimals = -1;
    short iSlot = -1;
    short iSecondslot = -1;
    double dLower = 0.0;
    double dUpper = 1.0;
    double dValue = 0.0;
    double dPosition = 0.0;
    double dSecond = 0.0;
    double dCommitted = 0.0;
    bool bArmed = false;
    bool bRanged = false;
    bool bDual = false;
    bool bBound = false;
    bool bSecondactive = false;
    bool bWhole = false;
    bool bMarked = false; // moved by a control or a drag since the last ischg
    // The control values last sent to or read from the two controls: a control that still holds
    // what the item sent has not moved, whatever rounding the way back through a position gives.
    double dSentfirst = 0.0;
    double dSentsecond = 0.0;
    bool bKnownfirst = false;
    bool bKnownsecond = false;
    std::vector<Element> vElements;
    CoreDsbf* pGrid;
    CorePrcs* pProcessor;
    DisplayHost* pHost;
};
