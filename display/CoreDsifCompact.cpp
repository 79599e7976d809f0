// CoreDsif: the compact program page (state 18): view V of the program page without its view
// buttons, its program buttons and its option toggles; the bypass toggle moves to row 1.
#include "display/CoreDsif.h"

#include "display/CoreDsbf.h"
#include "processor/CorePrcs.h"

void CoreDsif::compactRender(PASS& pass) {
    CorePrcs::BEANSTRUCT none{};
    drawProgramFigures(iDimx, 48);
    drawProgramName(pass);
    drawProgramText(CoreAnsx("DSC: "), CoreAnsx("FRT: "), 6);
    commitSlotField(pass);
    const bool bypass = pProcessor->getbb(258, &none);
    if (drtbt(50, 1, CoreAnsx("BYPASS"), CoreAnsx("PROCSS"), bypass, pass.column, pass.row))
        pProcessor->setbb(258, !bypass, &none);
    drawProgramParameters(pass, false);
    drawProgramGains(true);
}
