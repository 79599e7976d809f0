// The about page (the product, its version and the about lines) and the test page, a stress test
// that keeps loading programs of the program memory through the ordinary load batch at a set pace
// until the user leaves it. Both are left by their EXIT buttons to the full master page.
#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsgt.h"
#include "display/CoreDstx.h"
#include "display/DataLclz.h"
#include "processor/CoreMmry.h"
#include "processor/CorePrcs.h"

#include <cmath>

namespace {

constexpr int kTitleWidth = 48;
constexpr short kExitColumn = 50;
constexpr short kTestValueColumn = 12;
const char* const kExitButton = "  EXIT  ";

// A selector item's value as a whole count; what lies outside int (never, within the items' ranges)
// keeps the old count.
int wholeCount(double value, int old) {
    const double whole = std::trunc(value);
    if (!(whole >= 1.0 && whole <= 2147483647.0)) return old;
    return static_cast<int>(whole);
}

} // namespace

void CoreDsif::aboutEntry(PASS&) {
    pSelectors->reset(0, false, false, -1);
}

void CoreDsif::aboutRender(PASS& pass) {
    const CoreAnsx title = CoreAnsx("  AboutPage      ") + CoreLog_::sCproductn + " " + CoreLog_::sCversion_;
    pGrid->write(CoreButl::rpad_(title, kTitleWidth, ' '), 0, 0, 1, false, false);
    if (drbtn(kExitColumn, 0, kExitButton, pass.column, pass.row)) pass.action = "MAST";
    for (int i = 0; i < DataLclz::iCaboulines; ++i)
        pGrid->write(CoreAnsx(DataLclz::sCaboulines[i]), 0, static_cast<short>(i + 1), 0, false, false);
}

void CoreDsif::testEntry(PASS&) {
    pGrid->write(CoreAnsx("Current:"), 0, 1, 0, false, false);
    pGrid->write(CoreAnsx("Period :"), 0, 2, 0, false, false);
    pGrid->write(CoreAnsx("Cycle  :"), 0, 3, 0, false, false);
    pSelectors->reset(2, true, true, 1);
    wSmallpages.reset();
    CoreDstx* period = pSelectors->gettx(0);
    period->defne(0, kTestValueColumn, 2, 7, "", true, -1);
    period->setrg(1.0, 100000.0, iTestperiod);
    wSmallpages.keep(0, iTestperiod, *period);
    CoreDstx* cycle = pSelectors->gettx(1);
    cycle->defne(0, kTestValueColumn, 3, 7, "", true, -1);
    cycle->setrg(1.0, 400.0, iTestcycle);
    wSmallpages.keep(1, iTestcycle, *cycle);
}

void CoreDsif::testRender(PASS& pass) {
    CorePrcs::BEANSTRUCT none{};
    pGrid->write(CoreButl::rpad_(CoreAnsx("  TestMode: Stress"), kTitleWidth, ' '), 0, 0, 1, false, false);
    pSelectors->focus(pass.column, pass.row, bPointerheld);
    pSelectors->draw_();
    const CoreAnsx current = CoreButl::intas(pass.slot) + "/" + pProcessor->getbs(56, &none);
    pGrid->write(current.SubString(1, 32), kTestValueColumn, 1, 0, false, false);
    // The period and the cycle follow their items only once the user moved them: selecting an item
    // could otherwise round the kept count down.
    CoreDstx* period = pSelectors->gettx(0);
    if (period && wSmallpages.chngd(0, *period)) {
        iTestperiod = wholeCount(period->getvl(), iTestperiod);
        wSmallpages.keep(0, iTestperiod, *period);
    }
    CoreDstx* cycle = pSelectors->gettx(1);
    if (cycle && wSmallpages.chngd(1, *cycle)) {
        iTestcycle = wholeCount(cycle->getvl(), iTestcycle);
        wSmallpages.keep(1, iTestcycle, *cycle);
    }
    const bool leaving = pointerHit(kExitColumn, 0, CoreAnsx(kExitButton).Length(), pass.column, pass.row);
    if (--iTestcountdown <= 0) {
        iTestcountdown = iTestperiod;
        // A soft key clicked this pass, or EXIT, wins over the load.
        if (pass.action.Length() == 0 && !leaving) {
            int32_t start = pass.slot + 1;
            if (iTestcycle < start) start = 1;
            CorePrcs::BEANSTRUCT search{start, 1};
            const int32_t next = pProcessor->getbi(168, &search);
            if (next >= 0 && next < CoreMmry::iCmemorydim) startLoad(next, CoreAnsx("TEST"), pass);
        }
    }
    if (drbtn(kExitColumn, 0, kExitButton, pass.column, pass.row)) pass.action = "MAST";
}
