// CoreDsed: one edit field of a display page: a line of text, a whole number or a decimal number that
// the user arms with a click, edits with keys and confirms; the page polls ischg once per accepted
// edit. Owned by the edit group (CoreDsge) and used under the display lock on the renderer's thread.
#pragma once
#include "base/CoreAnsx.h"
#include "display/CoreDsbf.h"

class CoreDsed {
public:
    static constexpr short iCtext = 0;
    static constexpr short iCwhole = 1;
    static constexpr short iCdecimal = 2;

    explicit CoreDsed(CoreDsbf* grid);

    void defne(short textfont, short cursorfont, short column, short row, short width, bool clearonarm, short type);
    void setx_(short column);
    void setrg(short column, short row, short width, short height);
    void movea(bool hidden);
    bool ishre(short column, short row);
    bool getar() const { return bArmed; }
    void setar(bool on);
    // One character per key; codes are read unsigned, code 0 is ignored.
    void updte(const CoreAnsx& keys);
    bool valdt();
    bool ischg();
    CoreAnsx getvs() const { return sText; }
    int getvi() const;
    double getvd() const;
    void setvs(const CoreAnsx& text);
    void setvi(int value);
    void setvd(double value);
    void draw_();

    short getcr() const { return iCursor; }
    CoreAnsx getct() const { return sCommitted; } // the committed text

private:
    void setFromOutside(const CoreAnsx& text);
    void limitCursor(); // the cursor stays inside the field whatever defne or the keys left

    CoreAnsx sText;
    CoreAnsx sCommitted;
    short iCursor = 0;
    short iColumn = 0;
    short iRow = 0;
    short iHitcolumn = 0;
    short iHitrow = 0;
    short iHitwidth = 0;
    short iHitheight = 0;
    short iWidth = 0;
    short iTextfont = 0;
    short iCursorfont = 1;
    short iType = iCtext;
    bool bArmed = false;
    bool bClearonarm = false;
    bool bEdited = false;
    bool bInsert = false;
    bool bHidden = false;
    CoreDsbf* pGrid;
};
