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
#include "display/DataLclz.h"
#include "modulation/DataGfun.h"
#include "modulation/DataSrce.h"
#include "processor/CoreMmry.h"
#include "processor/CorePrcs.h"

#include <algorithm>
#include <cxxabi.h>
#include <exception>
#include <string>

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
    : CoreDsif(processor, queue, blink, host, NOTHREAD{}) {
    // 15. The display thread starts last, when everything it reads exists.
    Resume();
}

CoreDsif::CoreDsif(CorePrcs* processor, CoreDspc* queue, CoreBlnk* blink, DisplayHost* host, NOTHREAD)
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
    // 12. A blank screen, exported at once so that the editor never reads an unfilled copy.
    pGrid->clear(0, 0, 0, iDimx, iDimy);
    pGrid->clear(0, 0, iDimy, iAddx, iAddy);
    pGrid->setxy(0, 0);
    vExport.assign(static_cast<size_t>(iDimx) * static_cast<size_t>(iDimy + iAddy), CELL{});
    pExportlock = std::make_unique<CoreSmph>();
    exportCells();
    // 13. Batch message rows.
    iMessagerowcount = iCmessagerows;
    vMessagerows.assign(static_cast<size_t>(iMessagerowcount), CoreAnsx(""));
    pBatchrows = std::make_unique<CorePmsg>(iCmessagerows, iCdimx);
    // 14. Lock and the display thread's priority level.
    pLock = std::make_unique<CoreSmph>();
    iPriority = CorePrcs::gettp(pProcessor ? pProcessor->getbh(38, nullptr) : int16_t{1});
    // 15. The event, unset; the public constructor then starts the thread.
    aPages = pageTable();
    pEvent = std::make_unique<CoreTevn>();
    pEvent->ResetEvent();
}

// The thread first: it finishes a running batch and must find everything it uses still there.
CoreDsif::~CoreDsif() {
    Terminate();
    WaitFor();
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

// ---- the display thread

void CoreDsif::Terminate() {
    CoreTthr::Terminate();
    pEvent->SetEvent();
}

// Waits for the event at most one display period at a time; each signal runs the batch the batch
// page set up. A batch is always run to its end: the thread leaves only from its wait.
// Without the sanitizer's null check: a thread exit's handler gets no object (see CoreTthr::ptsta).
[[gnu::no_sanitize("null")]] void CoreDsif::Execute() {
    for (;;) {
        bool signalled = pEvent->WaitFor(CoreButl::iCdispprecision) == CoreTevn::iCwrsignaled;
        if (Terminated()) {
            // Terminate sets the flag before the event: a wait that timed out between the two sees
            // the flag and takes the event that follows, so that none is left behind.
            if (!signalled) signalled = pEvent->WaitFor(CoreButl::iCdispprecision) == CoreTevn::iCwrsignaled;
            bEndedbysignal = signalled;
            break;
        }
        if (!signalled) continue;
        pEvent->ResetEvent();
        try {
            runBatch();
        } catch (abi::__forced_unwind&) {
            throw; // the thread is exiting: its unwinding must go on
        } catch (const CoreAnsx& failure) {
            CoreLog_::loger(CoreAnsx("CoreDsif batch failed: ") + failure, 1);
        } catch (const std::exception& failure) {
            CoreLog_::loger(CoreAnsx("CoreDsif batch failed: ") + failure.what(), 1);
        } catch (...) {
            CoreLog_::loger(CoreAnsx("CoreDsif batch failed"), 1);
        }
    }
    CoreLog_::debug("CoreDsif thread died", 0, 7);
}

// ---- the cell export

namespace {

// Whether a record has this display's layout: the sizes newdd gives and every row inside the values.
bool sameLayout(const CoreDsif& display, const CoreCnst::DISPLAYDATA& data) {
    int32_t total = 0;
    for (short f = 0; f < CoreDsbf::iCfonts; ++f) total += (display.getdy(f) + display.getay(f)) * display.getdx(f);
    if (data.fontcount != CoreDsbf::iCfonts || data.total != total || !data.rows || !data.columns ||
        !data.rowstarts || !data.values)
        return false;
    for (short f = 0; f < CoreDsbf::iCfonts; ++f) {
        if (data.rows[f] != display.getdy(f) + display.getay(f) || data.columns[f] != display.getdx(f) ||
            !data.rowstarts[f])
            return false;
        for (int32_t r = 0; r < data.rows[f]; ++r)
            if (data.rowstarts[f][r] < 0 || data.rowstarts[f][r] > total - data.columns[f]) return false;
    }
    return true;
}

} // namespace

void CoreDsif::exportCells() {
    CoreSgrd hold(*pExportlock);
    const int rows = iDimy + iAddy;
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < iDimx; ++column) {
            const CoreDsch* cell = pGrid->cell(column, row);
            vExport[static_cast<size_t>(row * iDimx + column)] =
                CELL{static_cast<unsigned char>(cell->getch()), static_cast<unsigned char>(cell->getfn()), cell->getbl()};
        }
}

// The members a record gets are allocated one by one and zeroed first, so that deldd can free a
// record whose building stopped half-way.
void CoreDsif::newdd(CoreCnst::DISPLAYDATA* data) const {
    if (!data) return;
    data->fontcount = CoreDsbf::iCfonts;
    data->total = 0;
    data->rows = new int32_t[CoreDsbf::iCfonts]();
    data->columns = new int32_t[CoreDsbf::iCfonts]();
    data->rowstarts = new int32_t*[CoreDsbf::iCfonts]();
    int32_t next = 0;
    for (short f = 0; f < CoreDsbf::iCfonts; ++f) {
        data->rows[f] = getdy(f) + getay(f);
        data->columns[f] = getdx(f);
        data->rowstarts[f] = new int32_t[static_cast<size_t>(data->rows[f])];
        for (int32_t r = 0; r < data->rows[f]; ++r, next += data->columns[f]) data->rowstarts[f][r] = next;
    }
    data->values = new double[static_cast<size_t>(next)]();
    data->total = next;
}

// Reads the blink clock once, so that every blinking cell of one record shows the same phase, and
// reads only the export copy: never the display lock, which a renderer pass holds for its whole run.
void CoreDsif::flldd(CoreCnst::DISPLAYDATA* data) const {
    if (!data || !sameLayout(*this, *data)) return;
    const bool on = pBlink == nullptr || pBlink->getvl();
    CoreSgrd hold(*pExportlock);
    for (short f = 0; f < CoreDsbf::iCfonts; ++f) {
        const CoreDsfn& font = *pGrid->getfn(f);
        const int dx = font.getdx(), dy = font.getdy();
        for (int32_t r = 0; r < data->rows[f]; ++r) {
            const CELL* row = &vExport[static_cast<size_t>(r * dy * iDimx)];
            double* out = data->values + data->rowstarts[f][r];
            for (int32_t c = 0; c < data->columns[f]; ++c) {
                const CELL& cell = row[c * dx];
                out[c] = cell.font != f ? -1.0 : font.getrw(cell.blink && !on ? CoreDsch::cCblank : cell.character);
            }
        }
    }
}

void CoreDsif::deldd(CoreCnst::DISPLAYDATA* data) {
    if (!data) return;
    if (data->rowstarts)
        for (int32_t f = 0; f < data->fontcount && f < CoreDsbf::iCfonts; ++f) delete[] data->rowstarts[f];
    delete[] data->rowstarts;
    delete[] data->rows;
    delete[] data->columns;
    delete[] data->values;
    data->rowstarts = nullptr;
    data->rows = nullptr;
    data->columns = nullptr;
    data->values = nullptr;
    data->total = 0;
    data->fontcount = 0;
}

// ---- page state and batches

// Both areas blank; a load kept for later is dropped, since the restored chunk names the program. A
// display sent home before the boot has ended would never boot the engine: it goes to the boot page.
// The page's entry runs again either way, so that it shows the restored values.
void CoreDsif::setdp() {
    CoreSgrd hold(*pLock);
    pGrid->clear(0, 0, 0, iDimx, iDimy);
    pGrid->clear(0, 0, iDimy, iAddx, iAddy);
    iPendingload = -1;
    if (pProcessor && pProcessor->getbb(46, nullptr)) {
        iNextstate = 20;
        pGrid->setxy(0, 0);
    } else {
        iNextstate = static_cast<short>(pTable->getst(iState, sHomeaction));
    }
    bReentry = true;
    bMenustale = true; // the restored memory may hold other programs than the popup offers
    exportCells();
}

void CoreDsif::btcst(const CoreAnsx& key, const CoreAnsx& value) {
    pProcessor->setbs(223, key, nullptr);
    pProcessor->setbs(224, value, nullptr);
}

void CoreDsif::setLoadVariables(int32_t slot, const CoreAnsx& action) {
    pProcessor->setbv(225, nullptr);
    btcst("LOADED", DataLclz::sCgenloadedprint);
    btcst("LOADING", DataLclz::sCgenloadingprint);
    btcst("NEWPROGRAM", CoreButl::intas(slot));
    btcst("ACTION", action);
    btcst("NEXTSTEP", "READPROGRAM");
}

void CoreDsif::startLoad(int32_t slot, const CoreAnsx& action, PASS& pass) {
    setLoadVariables(slot, action);
    pass.action = "BTCH";
}

void CoreDsif::loadp(int32_t slot) {
    CoreSgrd hold(*pLock);
    loadLocked(slot);
}

// Never waits for a batch: on the batch page (or on its way there) the slot is kept, the latest
// request winning, and started once a page shows again. The boot and error pages and a busy engine
// start nothing: a batch there would find no program memory and strand the display.
void CoreDsif::loadLocked(int32_t slot) {
    if (!pProcessor || slot < 0 || slot >= CoreMmry::iCmemorydim) return;
    if (iState == 20 || iState == 21) return;
    if (iState == 22 || iState == 23 || iNextstate == 22 || iNextstate == 23) {
        iPendingload = slot;
        return;
    }
    if (pProcessor->getbb(46, nullptr)) return;
    setLoadVariables(slot, sHomeaction);
    iNextstate = static_cast<short>(pTable->getst(iState, "BTCH"));
}

// At the end of a pass whose next state is a page: the kept load goes to the batch page from there.
// While the engine is still busy it stays kept.
void CoreDsif::startPendingLoad() {
    if (iPendingload < 0 || iNextstate < 0 || iNextstate >= iCpages) return;
    if (!pProcessor || pProcessor->getbb(46, nullptr)) return;
    const int32_t slot = iPendingload;
    iPendingload = -1;
    setLoadVariables(slot, sHomeaction);
    iNextstate = static_cast<short>(pTable->getst(iNextstate, "BTCH"));
}

namespace {

constexpr int choiceCharacters = CoreCnst::iCpopuptext - 1; // the choice record's text without its NUL

// The slot a popup choice names: the trimmed text before its first '-' must begin with a digit, and
// its leading digits must read 0 .. 9999; -1 otherwise (a text without a number loads nothing).
int32_t choiceSlot(const CoreAnsx& text) {
    std::string limited = text.Length() > 0 ? std::string(text.c_str()) : std::string();
    limited = limited.substr(0, std::min<size_t>(limited.size(), choiceCharacters));
    const CoreAnsx head = CoreAnsx(limited.substr(0, limited.find('-')).c_str()).Trim();
    const char* digits = head.Length() > 0 ? head.c_str() : "";
    if (*digits < '0' || *digits > '9') return -1;
    int32_t slot = 0;
    for (; *digits >= '0' && *digits <= '9'; ++digits) {
        slot = slot * 10 + (*digits - '0');
        if (slot >= CoreMmry::iCmemorydim) return -1;
    }
    return slot;
}

} // namespace

void CoreDsif::setmr(const CoreAnsx& text) {
    const int32_t slot = choiceSlot(text);
    CoreSgrd hold(*pLock);
    if (!bPopuparmed || slot < 0) return;
    loadLocked(slot);
}

void CoreDsif::setsp(int32_t slot, bool listTop, bool gridStart) {
    iDisplaybank = slot / CoreMmry::iCbankdim;
    iDisplayprogram = slot % CoreMmry::iCbankdim;
    if (listTop) iListtop = slot;
    if (gridStart) iGridstart = slot;
}

void CoreDsif::upprm() {
    for (int i = 0; i < iCparameters; ++i) {
        CorePrcs::BEANSTRUCT parameter{i, 0};
        pProcessor->setbv(195, &parameter);
    }
}

void CoreDsif::savem() { pProcessor->setbv(79, nullptr); }

// Row dimy - 2, in font 1 over the whole row: the head, two blanks and the description's first 32
// characters.
void CoreDsif::drawInfoLine(const CoreAnsx& head) {
    const short row = static_cast<short>(iDimy - 2);
    pGrid->clear(0, 0, row, iDimx, 1);
    const CoreAnsx description = pProcessor->getbs(64, nullptr);
    const CoreAnsx line = head + "  " + CoreButl::sbstr(description, 0, 32);
    pGrid->write(CoreButl::rpad_(line, iDimx, ' '), 0, row, 1, false, false);
}
