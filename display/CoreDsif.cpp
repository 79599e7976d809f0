#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CoreSgrd.h"
#include "base/CorePmsg.h"
#include "base/CoreSmph.h"
#include "base/CoreTevn.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsbr.h"
#include "display/CoreDsge.h"
#include "display/CoreDsgm.h"
#include "display/CoreDsgt.h"
#include "display/CoreStte.h"
#include "modulation/DataGfun.h"
#include "modulation/DataSrce.h"
#include "processor/CoreMmry.h"
#include "processor/CorePrcs.h"

#include <algorithm>

namespace {

// Labels and keys of a name table, as its getgs fills two caller arrays.
template <typename Fill>
void copyNames(int count, std::vector<CoreAnsx>& labels, std::vector<CoreAnsx>& keys, Fill fill) {
    labels.assign(static_cast<size_t>(std::max(count, 0)), CoreAnsx(""));
    keys.assign(labels.size(), CoreAnsx(""));
    if (labels.empty()) return;
    CoreAnsx* labelArray = labels.data();
    CoreAnsx* keyArray = keys.data();
    fill(&labelArray, &keyArray);
}

std::vector<CoreAnsx> numberLabels(int count) {
    std::vector<CoreAnsx> labels;
    for (int i = 0; i < count; ++i) labels.push_back(CoreButl::intas(i) + " ");
    return labels;
}

} // namespace

CoreDsif::CoreDsif(CorePrcs* processor, CoreDspc* queue, CoreBlnk* blink, DisplayHost* host)
    : CoreTthr(true), sHomeaction(""), sVersioningname(""), sStatusline(""), pProcessor(processor),
      pProcessor2(processor), pBlink(blink), pQueue(queue), pHost(host) {
    // 2. The name lists, from tables built for the moment.
    {
        const DataSrce sources;
        iSourcecount = sources.getgs();
        copyNames(iSourcecount, vSourcelabels, vSourcekeys,
                  [&sources](CoreAnsx** labels, CoreAnsx** keys) { sources.getgs(labels, keys); });
        const DataGfun functions;
        iWavecount = functions.getnm(0);
        copyNames(iWavecount, vWavelabels, vWavekeys,
                  [&functions](CoreAnsx** labels, CoreAnsx** keys) { functions.getgs(0, labels, keys); });
        iOperationcount = functions.getnm(1);
        copyNames(iOperationcount, vOperationlabels, vOperationkeys,
                  [&functions](CoreAnsx** labels, CoreAnsx** keys) { functions.getgs(1, labels, keys); });
    }
    // 3. Font colour and the grid. The add area is at most as wide as the grid.
    iFontcolour = pProcessor ? pProcessor->getbh(32, nullptr) : 0;
    const int32_t addChars = pHost ? pHost->addChars() : 0;
    iAddx = addChars >= 1 ? static_cast<short>(std::min<int32_t>(addChars, iDimx)) : iCdimaddx;
    pGrid = std::make_unique<CoreDsbf>(pBlink, iDimx, iDimy, iAddx, iAddy);
    // 4. Menus.
    CoreMenu::buildDisplayMenus(aMenus);
    sHomeaction = "PROG";
    pCurrentmenu = &aMenus[0];
    bProgramview = true;
    // 5. Page table.
    pTable = std::make_unique<CoreStte>();
    CoreStte::addDisplayRows(*pTable);
    iState = iNextstate = 20;
    bReentry = false;
    bPopuparmed = false;
    // 6. Bars.
    aBars[0] = std::make_unique<CoreDsbr>(6, 6, 20);
    aBars[1] = std::make_unique<CoreDsbr>(4, 6, 20);
    // 7. Program list and grid slots.
    iListtop = iGridstart = iCategorytop = iCategoryselection = iCategorylevel = 0;
    vListslots.assign(static_cast<size_t>(iDimy - 2), 0);
    for (std::vector<int>& slots : aGridslots) slots.assign(static_cast<size_t>(iDimy - 3), -1);
    // 8. Widget groups.
    pSelectors = std::make_unique<CoreDsgt>(pGrid.get(), pProcessor, pHost);
    pFields = std::make_unique<CoreDsge>(pGrid.get(), pQueue, pHost);
    pPopups = std::make_unique<CoreDsgm>(pProcessor, pHost);
    pPopups->reset(1);
    bMenustale = true;
    iKernellimit = pProcessor ? pProcessor->getbh(43, nullptr) : 0;
    // 9. Skin files and category names start empty (null arrays, counts 0).
    // 10. Labels.
    vBanklabels = numberLabels(CoreMmry::iCbanks);
    vProgramlabels = numberLabels(CoreMmry::iCbankdim);
    // 11. Page fields.
    iEnvelope = iFollower = iSelectedparameter = 0;
    bPointerheld = false;
    iClickx = iClicky = 0;
    bAllprograms = false;
    sVersioningname = "";
    iTestperiod = 10;
    iTestcountdown = 10;
    iTestcycle = 360;
    // 12. A blank screen.
    pGrid->clear(0, 0, 0, iDimx, iDimy);
    pGrid->clear(0, 0, iDimy, iAddx, iAddy);
    pGrid->setxy(0, 0);
    // 13. Batch message rows.
    iMessagerowcount = iCmessagerows;
    vMessagerows.assign(static_cast<size_t>(iMessagerowcount), CoreAnsx(""));
    pBatchrows = std::make_unique<CorePmsg>(iCmessagerows, iCdimx);
    // 14. Lock and the display thread's priority level.
    pLock = std::make_unique<CoreSmph>();
    iPriority = CorePrcs::gettp(pProcessor ? pProcessor->getbh(38, nullptr) : int16_t{1});
}

CoreDsif::~CoreDsif() {
    delete[] pSkinfiles;
    delete[] pCategorynames;
    pCurrentmenu = nullptr;
}

short CoreDsif::getdx(short font) const { return pGrid->getdx(font); }
short CoreDsif::getdy(short font) const { return pGrid->getdy(font); }
short CoreDsif::getax(short font) const { return pGrid->getax(font); }
short CoreDsif::getay(short font) const { return pGrid->getay(font); }

short CoreDsif::getre(short font) const {
    const CoreDsfn* f = pGrid->getfn(font);
    return f ? f->getre() : 0;
}

double CoreDsif::read_(short font, short x, short y) const { return pGrid->readr(font, x, y); }

// ---- to be completed: thread, export and batches
void CoreDsif::Terminate() { CoreTthr::Terminate(); }
void CoreDsif::Execute() {}
void CoreDsif::newdd(CoreCnst::DISPLAYDATA*) const {}
void CoreDsif::flldd(CoreCnst::DISPLAYDATA*) const {}
void CoreDsif::deldd(CoreCnst::DISPLAYDATA*) {}
void CoreDsif::setdp() {}
void CoreDsif::btcst(const CoreAnsx&, const CoreAnsx&) {}
void CoreDsif::loadp(int32_t) {}
void CoreDsif::setmr(const CoreAnsx&) {}
void CoreDsif::setsp(int32_t, bool, bool) {}
void CoreDsif::upprm() {}
void CoreDsif::savem() {}
void CoreDsif::startLoad(int32_t, const CoreAnsx&, PASS&) {}
void CoreDsif::drawInfoLine(const CoreAnsx&) {}
void CoreDsif::setLoadVariables(int32_t, const CoreAnsx&) {}
void CoreDsif::startPendingLoad() {}
void CoreDsif::exportCells() {}

namespace {

// One call into the engine during a batch; a throw is logged and reported as false.
template <typename Call>
bool guarded(const char* what, Call call) {
    try {
        call();
        return true;
    } catch (const CoreAnsx& failure) {
        CoreLog_::loger(CoreAnsx("CoreDsif batch: ") + what + ": " + failure, 1);
    } catch (const std::exception& failure) {
        CoreLog_::loger(CoreAnsx("CoreDsif batch: ") + what + ": " + failure.what(), 1);
    }
    return false;
}

} // namespace

// Steps until the engine reports the batch ended (an unknown or failed step ends it too), each step's
// message scrolling into the rows; then the page the batch's ACTION names. A batch page that ACTION
// does not lead away from falls back to the home page, so the display never stays stranded on it.
void CoreDsif::runBatch() {
    const int32_t saved = iPriorityIndex;
    iPriorityIndex = iPriority;
    exepr();
    CorePrcs::BEANSTRUCT none{};
    bool ended = false;
    while (!ended) {
        if (!guarded("step", [&] { ended = pProcessor->getbb(226, &none); })) break;
        if (ended) break;
        CoreAnsx message("");
        if (!guarded("message", [&] { message = pProcessor->getbs(226, &none); })) break;
        pBatchrows->addrw(message);
    }
    iPriorityIndex = saved;
    CoreAnsx action("");
    guarded("ACTION", [&] {
        pProcessor->setbs(223, CoreAnsx("ACTION"), &none);
        action = pProcessor->getbs(224, &none);
    });
    CoreSgrd hold(*pLock);
    iNextstate = static_cast<short>(pTable->getst(iState, action));
    if (iNextstate == 22 || iNextstate == 23) iNextstate = static_cast<short>(pTable->getst(iNextstate, sHomeaction));
}
