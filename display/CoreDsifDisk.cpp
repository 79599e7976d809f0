// The disk page: what the current program and the memory pools hold, the processing latency, the
// product version, the GPU bridge status and the server text. Only the program's memory figure on the
// title row follows the engine; the rest is read when the page is entered.
#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsgt.h"
#include "display/CoreDstx.h"
#include "display/DataLclz.h"
#include "processor/CorePrcs.h"

#include <cmath>

namespace {

constexpr short kValueColumn = 17;

// Whole kilobytes, rounded down (a negative count too).
CoreAnsx kilobytes(int32_t bytes) {
    return CoreAnsx(static_cast<long>(std::floor(bytes / 1024.0))) + DataLclz::sCunitkb;
}

} // namespace

void CoreDsif::diskEntry(PASS&) {
    CorePrcs::BEANSTRUCT none{};
    const auto line = [this](const char* caption, const CoreAnsx& value, short row) {
        pGrid->write(CoreAnsx(caption), 0, row, 0, false, false);
        pGrid->write(value, kValueColumn, row, 0, false, false);
    };
    line(DataLclz::sCdisklatencylabel, CoreAnsx(static_cast<long>(pProcessor->getbl(49, &none))), 6);
    line(DataLclz::sCdiskallcmemlabel, kilobytes(pProcessor->getbi(85, &none)), 7);
    line(DataLclz::sCdiskshrdmemlabel, kilobytes(pProcessor->getbi(257, &none)), 8);
    line(DataLclz::sCdiskversionlabel, CoreAnsx(CoreLog_::sCproductn) + " " + CoreLog_::sCversion_, 10);
    line(DataLclz::sCdiskbridge_label, pProcessor->getbs(40, &none), 11);
    const CoreAnsx server = CorePrcs::getsd();
    line(DataLclz::sCdiskserver_label, server == CoreAnsx("0") ? CoreAnsx("N/A") : server, 12);
    // Two items that are never filled, drawn or read: they keep the front-panel controls in display
    // mode while the page shows.
    pSelectors->reset(2, true, true, 1);
    for (short i = 0; i < 2; ++i) pSelectors->gettx(i)->defne(0, kValueColumn, 3, 16, "", false, -1);
}

void CoreDsif::diskRender(PASS&) {
    CorePrcs::BEANSTRUCT none{};
    pGrid->write(CoreButl::rpad_(CoreAnsx("  DiskMode"), iDimx, ' '), 0, 0, 1, false, false);
    double megabytes = pProcessor->getbd(5, &none) / 1048576.0;
    if (!(megabytes >= 0.01) || !std::isfinite(megabytes)) megabytes = 0.0;
    pGrid->write(CoreAnsx("MEM: ") + CoreAnsx(megabytes).SubString(1, 5) + DataLclz::sCunitmb, 32, 0, 1,
                 false, false);
}
