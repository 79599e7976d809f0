// CoreDsif: the user parameter list page: the sixteen user parameters in a visible and an invisible
// column; a click selects one, buttons or drags of the held pointer move it within its column or to
// the other one, and EDIT opens the selected parameter on the edit page.
#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsgt.h"
#include "display/DataLclz.h"
#include "processor/CorePrcs.h"

namespace {

constexpr short kListTop = 2;      // rows 2 .. 12 hold the two columns
constexpr short kVisibleColumn = 0;
constexpr short kInvisibleColumn = 34;
constexpr short kButtonColumn = 50;
constexpr int kVerticalStep = 6;   // pixels of drag per move up or down
constexpr int kHorizontalStep = 15; // pixels of drag that move a parameter to the other column

bool isParameter(short p) {
    return p >= 0 && p < CoreDsif::iCparameters;
}

} // namespace

void CoreDsif::parameterListEntry(PASS&) {
    pGrid->write(CoreAnsx(DataLclz::sCprm_visiblelabel), 4, 1, 0, false, false);
    pGrid->write(CoreAnsx(DataLclz::sCprm_invisiblelabel), 39, 1, 0, false, false);
    pSelectors->reset(0, false, false, -1);
    bDrag = false;
}

// A click on a parameter's place selects it and starts a drag at the pointer.
void CoreDsif::selectForDrag(short p) {
    iSelectedparameter = p;
    if (!bDrag) {
        bDrag = true;
        iDragx = iPointerx;
        iDragy = iPointery;
    }
}

void CoreDsif::parameterListRender(PASS& pass) {
    pGrid->write(CoreButl::rpad_(CoreAnsx("  EditMode: PRMs"), 48, ' '), 0, 0, 1, false, false);
    pGrid->clear(0, 0, kListTop, 49, 8);
    for (short p = 0; p < iCparameters; ++p) {
        CorePrcs::BEANSTRUCT b{p, 0};
        pProcessor->setbv(195, &b);
    }
    if (!bPointerheld) bDrag = false;
    const short rows = static_cast<short>(iDimy - 3);

    for (short r = 0; r < rows; ++r) {
        const short y = static_cast<short>(r + kListTop);
        const short p = getpp(r, true);
        if (p < 0) {
            pGrid->clear(0, kVisibleColumn, y, 34, 1);
            continue;
        }
        if (pass.row == y && pass.column >= 4 && pass.column <= 30) selectForDrag(p);
        pGrid->write(CoreButl::intas(p + 1) + ":", kVisibleColumn, y, 0, false, false);
        if (p == iSelectedparameter) iLastselection = p;
        drprm(4, y, r, 1, p == iSelectedparameter, true);
    }
    for (short r = 0; r < rows; ++r) {
        const short y = static_cast<short>(r + kListTop);
        const short p = getpp(r, false);
        if (p < 0) {
            pGrid->clear(0, kInvisibleColumn, y, 13, 1);
            continue;
        }
        if (pass.row == y && pass.column >= 39 && pass.column <= 47) selectForDrag(p);
        pGrid->write(CoreButl::intas(p + 1) + ":", kInvisibleColumn, y, 0, false, false);
        if (p == iSelectedparameter) iLastselection = p;
        pGrid->write(CoreButl::lpad_(getpn(p).SubString(1, 8), 8, ' '), 39, y, p == iSelectedparameter ? 1 : 0,
                     false, false);
    }

    if (drbtn(kButtonColumn, 0, "  EXIT  ", pass.column, pass.row)) pass.action = "PROG";
    const bool up = drbtn(kButtonColumn, 1, " MVE UP ", pass.column, pass.row);
    if (up || (bDrag && iPointery < iDragy - kVerticalStep)) {
        iSelectedparameter = prmsw(iSelectedparameter, true);
        iDragy = iPointery;
    }
    const bool down = drbtn(kButtonColumn, 2, " MVE DW ", pass.column, pass.row);
    if (down || (bDrag && iPointery > iDragy + kVerticalStep)) {
        iSelectedparameter = prmsw(iSelectedparameter, false);
        iDragy = iPointery;
    }
    if (!isParameter(iSelectedparameter)) return;
    CorePrcs::BEANSTRUCT b{iSelectedparameter, 0};
    if (displayed(iSelectedparameter)) {
        const bool hit = drbtn(kButtonColumn, 3, " INVIS  ", pass.column, pass.row);
        if (hit || (bDrag && iPointerx > iDragx + kHorizontalStep)) {
            pProcessor->setbb(196, false, &b);
            iDragx = iPointerx;
        }
    } else {
        const bool hit = drbtn(kButtonColumn, 3, " VISIB  ", pass.column, pass.row);
        if (hit || (bDrag && iPointerx < iDragx - kHorizontalStep)) {
            pProcessor->setbb(196, true, &b);
            iDragx = iPointerx;
        }
    }
    if (drbtn(kButtonColumn, 4, "  EDIT  ", pass.column, pass.row)) pass.action = "PARM";
}
