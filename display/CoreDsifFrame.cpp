// The page renderer: one pass of the display, the boot, error and batch pages, the soft-key row, the
// add area, the message pollers and the dispatch of states 0 .. 19 to their pages.
#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CorePmsg.h"
#include "base/CoreSgrd.h"
#include "base/CoreSmph.h"
#include "base/CoreTevn.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsge.h"
#include "display/CoreDsgm.h"
#include "display/CoreDsgt.h"
#include "display/CoreDspc.h"
#include "display/CoreStte.h"
#include "processor/CoreMmry.h"
#include "processor/CorePrcs.h"

#include <cmath>
#include <cxxabi.h>
#include <exception>
#include <limits>

namespace {

constexpr short kBootState = 20;
constexpr short kErrorState = 21;
constexpr short kBatchState = 22;
constexpr short kCompactBatchState = 23;
constexpr int kReadoutWidth = 5;
constexpr int kSoftKeyWidth = 10; // columns per soft key: an 8-character label and two spare cells

bool isBatchState(short state) {
    return state == kBatchState || state == kCompactBatchState;
}

// Left column of add-area readout i (0 .. 7): eight equal parts of the add width, the right half one
// column further in.
int readoutColumn(int i, int addWidth) {
    if (i == 0) return 0;
    return static_cast<int>(std::ceil(i * addWidth * 0.125)) + (i >= 4 ? 1 : 0);
}

// A readout centred in its five columns and cut to them.
CoreAnsx readout(const CoreAnsx& text) {
    return CoreButl::getcn(text, kReadoutWidth).SubString(1, kReadoutWidth);
}

// The value row of a readout: "%.2f" cut to five characters, to four when the fifth is the point.
CoreAnsx valueText(double value) {
    CoreAnsx text("");
    text.sprintf("%.2f", value);
    CoreAnsx cut = text.SubString(1, kReadoutWidth);
    if (cut.Length() == kReadoutWidth && cut.c_str()[kReadoutWidth - 1] == '.')
        cut = cut.SubString(1, kReadoutWidth - 1);
    return cut;
}

CoreAnsx failureText(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const CoreAnsx& text) {
        return text;
    } catch (const std::exception& e) {
        return CoreAnsx(e.what());
    } catch (...) {
        return CoreAnsx("unknown failure");
    }
}

} // namespace

// ---- one pass

void CoreDsif::updte(bool editor) {
    PASS pass;
    pass.action = "";
    pass.editor = editor;
    CoreSgrd hold(*pLock);
    // 2, 3: a page change (or a re-entry request) runs the entry of the new page.
    pass.changed = iNextstate != iState;
    iState = iNextstate;
    bool goOn = true;
    if (pass.changed || bReentry) {
        bReentry = false;
        bStepfailed = false;
        fnmnu(iState);
        if (iState != kErrorState) pGrid->clear(0, 0, 0, iDimx, static_cast<short>(iDimy - 1));
        if (iState >= 0 && iState < iCpages)
            goOn = runStep(aPages[static_cast<size_t>(iState)].entry, pass, true);
        else if (isBatchState(iState))
            goOn = runStep(&CoreDsif::batchEntry, pass, true);
    }
    // 4: the frame's own pages.
    if (goOn && iState == kBootState) {
        runStep(&CoreDsif::bootPage, pass, false);
    } else if (goOn && isBatchState(iState)) {
        runStep(&CoreDsif::batchPage, pass, false);
    } else if (goOn && iState >= 0 && iState < iCpages) {
        CorePrcs::BEANSTRUCT none{};
        // 5: the current slot.
        pass.slot = pProcessor->getbi(67, &none);
        iDisplaybank = pass.slot / CoreMmry::iCbankdim;
        iDisplayprogram = pass.slot % CoreMmry::iCbankdim;
        // 6: one bypass toggle for any number of second-area clicks.
        if (wasbp()) pProcessor->setbb(258, !pProcessor->getbb(258, &none), &none);
        // 7: the oldest program button; a value outside the program memory starts nothing.
        const int32_t button = getst();
        if (button >= 0 && button < CoreMmry::iCmemorydim) startLoad(button, CoreAnsx("LIST"), pass);
        // 8, 9: the wheel, then the oldest pointer click.
        getmw();
        pass.click = getmp(pass.column, pass.row, iClickx, iClicky, bPointerheld);
        if (!pass.click) pass.column = pass.row = 0;
        // 10: a click on the bar.
        if (pass.click && pass.row == iDimy - 1) {
            CoreAnsx label("");
            bool enabled = false;
            pCurrentmenu->getvl(static_cast<short>(pass.column / kSoftKeyWidth), label, enabled);
            pass.action = enabled ? label : CoreAnsx("");
            if (label == CoreAnsx(CoreMenu::sCrightscroll)) pCurrentmenu->scroll(true);
            if (label == CoreAnsx(CoreMenu::sCleftscroll)) pCurrentmenu->scroll(false);
        }
        // 11, 12: where the editor's pointer is now; a released pointer ends every drag.
        if (pHost) {
            const DisplayHost::POINTER now = DisplayHost::pointer(pHost, iPointerx, iPointery);
            iPointerx = now.x;
            iPointery = now.y;
        }
        if (!bPointerheld) pSelectors->unarm();
        // 13 .. 15.
        drmnu(pass.changed);
        drawAddArea();
        runStep(aPages[static_cast<size_t>(iState)].render, pass, false);
    }
    // 16: the page the action leads to.
    const short next = static_cast<short>(pTable->getst(iState, pass.action));
    iNextstate = next;
    if (next != iState) {
        pPopups->arm__(false, -1, 0, 16);
        bPopuparmed = false;
    }
    if (iNextstate >= 0 && iNextstate < iCpages) startPendingLoad();
    exportCells();
}

// A page step; a throw ends the pass's page work (the pass still turns its action into the next
// state) and is logged once per page entry.
// Without the sanitizer's null check: a thread exit's handler gets no object (see CoreTthr::ptsta).
[[gnu::no_sanitize("null")]] bool CoreDsif::runStep(PageStep step, PASS& pass, bool entry) {
    if (step == nullptr) return true;
    try {
        (this->*step)(pass);
        return true;
    } catch (abi::__forced_unwind&) {
        throw; // the control thread is exiting: its unwinding must go on
    } catch (...) {
        const CoreAnsx text = failureText(std::current_exception());
        if (!bStepfailed)
            CoreLog_::loger(CoreAnsx("CoreDsif page ") + CoreButl::intas(iState) +
                                (entry ? " entry: " : " render: ") + text,
                            1);
        bStepfailed = true;
        return false;
    }
}

// ---- the frame's pages

// Boot stages, one per pass or all at once with fast boot, each printed as a line and logged; with
// or without an editor, so that an instance whose editor never opens still boots (an editor opened
// later shows how the boot went). A boot another caller finished reads as done and prints nothing.
void CoreDsif::bootPage(PASS& pass) {
    CorePrcs::BEANSTRUCT none{};
    for (;;) {
        pProcessor->setbb(144, false, &none);
        const int32_t number = pProcessor->getbi(145, &none);
        const CoreAnsx text = pProcessor->getbs(145, &none);
        const bool first = pProcessor->getbb(146, &none);
        const bool last = pProcessor->getbb(147, &none);
        const bool passed = pProcessor->getbb(148, &none);
        if (text.Length() > 0) CoreLog_::debug(text, 0, 7);
        if (!passed) {
            CoreLog_::loger(CoreAnsx("boot failed: ") + text, 1);
            pass.action = "ERRR";
        } else if (last) {
            pass.action = pProcessor->getbb(41, &none) ? "BOOT" : "BOO2";
            return;
        }
        if (!first) pGrid->print(CoreAnsx(" ") + CoreButl::intas(number) + " ", 1, false, false);
        if (!first) pGrid->print(CoreAnsx(" "), 0, false, false);
        pGrid->prnln(text, 0, false);
        exportCells();
        if (!passed || !pProcessor->getbb(22, &none)) return;
    }
}

void CoreDsif::batchEntry(PASS&) {
    pGrid->setxy(0, 1);
    pSelectors->reset(0, false, false, -1);
    pBatchrows->clear();
    CorePrcs::BEANSTRUCT none{};
    pProcessor->setbv(222, &none);
    if (pEvent) pEvent->SetEvent();
}

// The rows the display thread appends and the engine's status row; the batch runs without the
// display lock, so a pass only reads the rows (their own lock) and bean 221.
void CoreDsif::batchPage(PASS&) {
    pGrid->clear(0, 0, 0, iDimx, iDimy);
    pGrid->write(CoreButl::rpad_(CoreAnsx("  BatchMode"), iDimx, ' '), 0, 0, 1, false, false);
    for (int i = 0; i < iMessagerowcount && i < static_cast<int>(vMessagerows.size()); ++i) {
        vMessagerows[static_cast<size_t>(i)] = pBatchrows->getrw(i);
        pGrid->write(vMessagerows[static_cast<size_t>(i)].SubString(1, iDimx), 0, static_cast<short>(2 + i),
                     0, false, false);
    }
    CorePrcs::BEANSTRUCT first{0, 0};
    sStatusline = pProcessor->getbs(221, &first);
    pGrid->write(CoreButl::rpad_(sStatusline.SubString(1, iDimx), iDimx, ' '), 0,
                 static_cast<short>(iDimy - 1), 1, false, false);
}

// Eight readouts of the front-panel mix controls: the linked user parameter's name, value and unit,
// or "-" for a control without one or while the knobs are mapped.
void CoreDsif::drawAddArea() {
    pGrid->clear(0, 0, iDimy, iAddx, iAddy);
    for (int i = 0; i < 8; ++i) {
        const short x = static_cast<short>(readoutColumn(i, iAddx));
        CorePrcs::BEANSTRUCT control{i, 0};
        const short p = pSelectors->gettm() ? short{-1} : pProcessor->getbh(194, &control);
        if (p < 0) {
            pGrid->write(readout(CoreAnsx("-")), x, iDimy, 0, false, false);
            continue;
        }
        CorePrcs::BEANSTRUCT parameter{p, 0};
        const CoreAnsx name = CoreButl::getds(pProcessor->getbs(198, &parameter), kReadoutWidth).UpperCase();
        pGrid->write(readout(name), x, iDimy, 0, false, false);
        pGrid->write(readout(valueText(pProcessor->getbd(200, &parameter))), x, static_cast<short>(iDimy + 1),
                     0, false, false);
        pGrid->write(readout(pProcessor->getbs(203, &parameter)), x, static_cast<short>(iDimy + 2), 0, false,
                     false);
    }
}

// ---- placeholder pages (the page issues replace them)

void CoreDsif::placeholderEntry(PASS&) {
    pSelectors->reset(0, false, false, -1);
    pFields->reset(0);
    const char* title = iState >= 0 && iState < iCpages ? aPages[static_cast<size_t>(iState)].label : "";
    pGrid->write(CoreButl::rpad_(CoreAnsx(title), iDimx, ' '), 0, 0, 1, false, false);
}

void CoreDsif::placeholderRender(PASS&) {}

const std::array<CoreDsif::PAGE, CoreDsif::iCpages>& CoreDsif::pageTable() {
    static const std::array<PAGE, iCpages> pages = [] {
        std::array<PAGE, iCpages> table{};
        table[0] = PAGE{&CoreDsif::programEntry, &CoreDsif::programRender, "PROG"};
        table[18] = PAGE{&CoreDsif::programEntry, &CoreDsif::compactRender, "PROG"};

        table[1] = PAGE{&CoreDsif::listEntry, &CoreDsif::listRender, "LIST"};
        table[17] = PAGE{&CoreDsif::compactListEntry, &CoreDsif::compactListRender, "LIST"};

        table[5] = PAGE{&CoreDsif::kernelEntry, &CoreDsif::kernelRender, "KERN"};

        table[2] = PAGE{&CoreDsif::masterEntry, &CoreDsif::masterRender, "MAST"};
        table[19] = PAGE{&CoreDsif::compactMasterEntry, &CoreDsif::compactMasterRender, "MAST"};

        table[6] = PAGE{&CoreDsif::memoryEntry, &CoreDsif::memoryRender, "MEMO"};

        table[3] = PAGE{&CoreDsif::midiEntry, &CoreDsif::midiRender, "MIDI"};
        table[4] = PAGE{&CoreDsif::diskEntry, &CoreDsif::diskRender, "DISK"};
        table[15] = PAGE{&CoreDsif::aboutEntry, &CoreDsif::aboutRender, "ABOUT"};
        table[16] = PAGE{&CoreDsif::testEntry, &CoreDsif::testRender, "TEST"};

        table[7] = PAGE{&CoreDsif::lfoEntry, &CoreDsif::lfoRender, "LFOS"};
        table[8] = PAGE{&CoreDsif::globalEntry, &CoreDsif::globalRender, "GLOB"};
        table[9] = PAGE{&CoreDsif::functionEntry, &CoreDsif::functionRender, "FUNS"};
        table[10] = PAGE{&CoreDsif::followerEntry, &CoreDsif::followerRender, "EVFS"};

        table[11] = PAGE{&CoreDsif::envelopeEntry, &CoreDsif::envelopeRender, "ENVS"};
        table[12] = PAGE{&CoreDsif::dynamicsEntry, &CoreDsif::dynamicsRender, "DYNS"};
        table[13] = PAGE{&CoreDsif::parameterListEntry, &CoreDsif::parameterListRender, "PRMS"};
        table[14] = PAGE{&CoreDsif::parameterEditEntry, &CoreDsif::parameterEditRender, "PARM"};
        return table;
    }();
    return pages;
}

// ---- soft keys and message pollers

void CoreDsif::drmnu(bool changed) {
    pCurrentmenu->drawBar(*pGrid, changed);
}

// Every menu holding the key marks it; the last of them becomes current. A key no menu holds keeps
// the current menu and its marks.
void CoreDsif::fnmnu(short key) {
    for (CoreMenu& menu : aMenus)
        if (menu.iskey(key)) pCurrentmenu = &menu;
}

// The oldest pointer message; one outside the main area counts as none. Without one, a held pointer
// follows the editor's report. The other pointer messages are dropped either way.
bool CoreDsif::getmp(short& column, short& row, int& x, int& y, bool& held) {
    CoreDspc::MESSAGELOC m{};
    bool came = pQueue->getms(0, &m);
    if (came && (m.a < 0 || m.a >= iDimx || m.b < 0 || m.b >= iDimy)) came = false;
    if (came) {
        held = true;
        column = static_cast<short>(m.a);
        row = static_cast<short>(m.b);
        x = m.c;
        y = m.d;
    } else if (held) {
        held = DisplayHost::pointer(pHost, x, y).down;
    }
    pQueue->clrms(0);
    return came;
}

bool CoreDsif::wasbp() {
    CoreDspc::MESSAGELOC m{};
    if (!pQueue->getms(2, &m)) return false;
    pQueue->clrms(2);
    return true;
}

int32_t CoreDsif::getst() {
    CoreDspc::MESSAGELOC m{};
    if (!pQueue->getms(4, &m)) return -1;
    pQueue->clrms(4);
    return m.a;
}

// The wheel distances of the pass added up (clamped to int32_t) and applied to the focused control.
void CoreDsif::getmw() {
    CoreDspc::MESSAGELOC m{};
    int64_t sum = 0;
    while (pQueue->getms(3, &m)) sum += m.a;
    if (sum > std::numeric_limits<int32_t>::max()) sum = std::numeric_limits<int32_t>::max();
    if (sum < std::numeric_limits<int32_t>::min()) sum = std::numeric_limits<int32_t>::min();
    if (sum == 0) return;
    CorePrcs::BEANSTRUCT none{};
    pProcessor->setbi(82, static_cast<int32_t>(sum), &none);
}
