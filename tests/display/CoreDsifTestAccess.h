// CoreDsifTestAccess: the display object's one friend for tests: reads its fields, puts test pages in,
// runs a batch on the test's thread. Tests only.
#pragma once
#include "base/CorePmsg.h"
#include "base/CoreSgrd.h"
#include "base/CoreTevn.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsge.h"
#include "display/CoreDsgm.h"
#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/CoreStte.h"
#include "processor/CorePrcs.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

class CoreDsifTestAccess {
public:
    static CoreDsbf& grid(CoreDsif& d) { return *d.pGrid; }
    static CoreDsgt& selectors(CoreDsif& d) { return *d.pSelectors; }
    static CoreDsge& fields(CoreDsif& d) { return *d.pFields; }
    static CoreDsgm& popups(CoreDsif& d) { return *d.pPopups; }
    static int tableRows(CoreDsif& d) { return d.pTable->getnr(); }
    static int menus(CoreDsif& d) { return static_cast<int>(d.aMenus.size()); }
    static bool currentMenuIsFirst(CoreDsif& d) { return d.pCurrentmenu == &d.aMenus[0]; }
    static int priority(CoreDsif& d) { return d.iPriority; }
    static CoreCnst::POPMENUCONTENTDATA* popupData(CoreDsif& d) { return d.pPopupdata; }
    static const std::vector<CoreAnsx>& programLabels(CoreDsif& d) { return d.vProgramlabels; }
    static const std::vector<CoreAnsx>& bankLabels(CoreDsif& d) { return d.vBanklabels; }
    static const std::vector<CoreAnsx>& sourceKeys(CoreDsif& d) { return d.vSourcekeys; }
    static const std::vector<CoreAnsx>& sourceLabels(CoreDsif& d) { return d.vSourcelabels; }
    static const std::vector<CoreAnsx>& waveKeys(CoreDsif& d) { return d.vWavekeys; }
    static const std::vector<CoreAnsx>& operationKeys(CoreDsif& d) { return d.vOperationkeys; }

    // The start values of the fields, "name=value" in the table's order.
    static std::vector<std::string> startValues(CoreDsif& d) {
        const auto n = [](long v) { return std::to_string(v); };
        const auto b = [](bool v) { return std::string(v ? "1" : "0"); };
        return {
            "home=" + std::string(d.sHomeaction.c_str()),
            "versioning=" + std::string(d.sVersioningname.c_str()),
            "filters=" + std::string(d.aLevelfilters[0].c_str()) + d.aLevelfilters[1].c_str() + d.aLevelfilters[2].c_str(),
            "skinfiles=" + b(d.pSkinfiles != nullptr) + "/" + n(d.iSkincount),
            "categories=" + b(d.pCategorynames != nullptr) + "/" + n(d.iCategorycount),
            "counts=" + n(d.iSourcecount) + "/" + n(d.iWavecount) + "/" + n(d.iOperationcount),
            "categorylevel=" + n(d.iCategorylevel),
            "listtop=" + n(d.iListtop) + " gridstart=" + n(d.iGridstart),
            "categorytop=" + n(d.iCategorytop) + " selection=" + n(d.iCategoryselection),
            "test=" + n(d.iTestcountdown) + "/" + n(d.iTestcycle) + "/" + n(d.iTestperiod),
            "click=" + n(d.iClickx) + "," + n(d.iClicky),
            "size=" + n(d.iDimx) + "x" + n(d.iDimy) + " add=" + n(d.iAddx) + "x" + n(d.iAddy),
            "kernellimit=" + n(d.iKernellimit),
            "state=" + n(d.iState) + "/" + n(d.iNextstate),
            "envelope=" + n(d.iEnvelope) + " follower=" + n(d.iFollower) + " parameter=" + n(d.iSelectedparameter),
            "messagerows=" + n(d.iMessagerowcount) + "/" + n(static_cast<long>(d.vMessagerows.size())),
            "fontcolour=" + n(d.iFontcolour),
            "listslots=" + n(static_cast<long>(d.vListslots.size())),
            "gridslots=" + n(static_cast<long>(d.aGridslots[0].size())) + "x3 first " + n(d.aGridslots[2][0]),
            "flags=" + b(d.bPointerheld) + b(d.bReentry) + b(d.bAllprograms) + b(d.bProgramview) + b(d.bPopuparmed) +
                b(d.bMenustale),
            "processors=" + b(d.pProcessor == d.pProcessor2),
            "popups=" + n(d.pPopups->getcn()),
            "event=" + b(d.pEvent != nullptr) + " lock=" + b(d.pLock != nullptr),
        };
    }

    // frame, pages, batches
    // Puts a page of a display made as Display (CoreDsif or a test class derived from it, whose
    // members may then serve as steps) in place of state's page.
    template <typename Display>
    static void setPage(Display& d, int state, void (Display::*entry)(CoreDsif::PASS&),
                        void (Display::*render)(CoreDsif::PASS&), const char* label) {
        d.aPages.at(static_cast<size_t>(state)) =
            CoreDsif::PAGE{static_cast<CoreDsif::PageStep>(entry), static_cast<CoreDsif::PageStep>(render), label};
    }
    static void runBatch(CoreDsif& d) { d.runBatch(); } // as the display thread runs it, on this thread
    static void setNextState(CoreDsif& d, short state) { d.iNextstate = state; }
    static int currentMenu(CoreDsif& d) { return static_cast<int>(d.pCurrentmenu - d.aMenus.data()); }
    static CoreMenu& menu(CoreDsif& d, int m) { return d.aMenus.at(static_cast<size_t>(m)); }
    static bool pointerHeld(CoreDsif& d) { return d.bPointerheld; }
    static std::pair<int, int> pointerNow(CoreDsif& d) { return {d.iPointerx, d.iPointery}; }
    static std::pair<int, int> clickPoint(CoreDsif& d) { return {d.iClickx, d.iClicky}; }
    static CorePmsg& messageBoard(CoreDsif& d) { return *d.pBatchrows; }
    static CoreTevn& event(CoreDsif& d) { return *d.pEvent; }

    // export, loads, thread
    // The object as the master object builds it, but with its thread never started.
    static std::unique_ptr<CoreDsif> unstarted(CorePrcs* engine, CoreDspc* queue, CoreBlnk* clock,
                                               DisplayHost* host = nullptr) {
        return std::unique_ptr<CoreDsif>(new CoreDsif(engine, queue, clock, host, CoreDsif::NOTHREAD{}));
    }
    // Page fields read and set under the display lock, as the other threads see them.
    struct PAGES {
        short current, next;
        int32_t pending;
        bool reentry;
    };
    static PAGES pages(CoreDsif& d) {
        CoreSgrd hold(*d.pLock);
        return {d.iState, d.iNextstate, d.iPendingload, d.bReentry};
    }
    static void setPages(CoreDsif& d, short current, short next, int32_t pending = -1, bool armed = false) {
        CoreSgrd hold(*d.pLock);
        d.iState = current;
        d.iNextstate = next;
        d.iPendingload = pending;
        d.bPopuparmed = armed;
        d.bReentry = false;
    }
    static void startPendingLoad(CoreDsif& d) {
        CoreSgrd hold(*d.pLock);
        d.startPendingLoad();
    }
    // Fills the main area and the add area with one character in one font, then exports the grid.
    static void drawScreen(CoreDsif& d, char character, short font) {
        CoreSgrd hold(*d.pLock);
        fillScreen(d, character, font);
        d.exportCells();
    }
    static void exportCells(CoreDsif& d) {
        CoreSgrd hold(*d.pLock);
        d.exportCells();
    }
    // What a renderer pass does for the thread and the export, without the renderer: the state becomes
    // the next one; a batch page entered empties the rows and wakes the thread; the boot page is left
    // once the engine is free; PROG arms the popup; a screen (character 0: none) is drawn and exported;
    // a kept load starts when the next state is a page.
    static void pass(CoreDsif& d, char character = 0, short font = 0) {
        CoreSgrd hold(*d.pLock);
        const bool changed = d.iState != d.iNextstate;
        d.iState = d.iNextstate;
        if (changed) d.bPopuparmed = false;
        if (changed && (d.iState == 22 || d.iState == 23)) {
            d.pBatchrows->clear();
            d.pEvent->SetEvent();
        }
        if (d.iState == 20 && !d.pProcessor->getbb(46, nullptr)) d.iNextstate = 0;
        if (d.iState == 0) d.bPopuparmed = true;
        if (character != 0) {
            fillScreen(d, character, font);
            d.exportCells();
        }
        if (d.iNextstate >= 0 && d.iNextstate < CoreDsif::iCpages) d.startPendingLoad();
    }
    static std::vector<std::string> batchRows(CoreDsif& d) {
        std::vector<std::string> rows;
        for (int i = 0; i < d.pBatchrows->getus(); ++i) rows.emplace_back(d.pBatchrows->getrw(i).c_str());
        return rows;
    }
    // The destructor's first half: the flag, the event and the wait for the thread's end.
    static bool stopThroughEvent(CoreDsif& d) {
        d.Terminate();
        d.WaitFor();
        return d.bEndedbysignal.load();
    }
    static void fillScreen(CoreDsif& d, char character, short font) {
        const std::string row(static_cast<size_t>(d.iDimx), character);
        for (short y = 0; y < d.iDimy + d.iAddy; ++y)
            d.pGrid->write(CoreAnsx(row.substr(0, static_cast<size_t>(y < d.iDimy ? d.iDimx : d.iAddx)).c_str()), 0, y,
                           font, false, false);
    }
    // program pages
    // Puts the placeholder page back in every state, for tests of the frame alone.
    static void placeholderPages(CoreDsif& d) {
        for (size_t i = 0; i < d.aPages.size(); ++i)
            d.aPages[i] = CoreDsif::PAGE{&CoreDsif::placeholderEntry, &CoreDsif::placeholderRender,
                                         CoreDsif::pageTable()[i].label};
    }
    // The same, but keeping the built page of one state, for a page's tests whose flows leave it.
    static void placeholderPagesBut(CoreDsif& d, int state) {
        placeholderPages(d);
        d.aPages.at(static_cast<size_t>(state)) = CoreDsif::pageTable().at(static_cast<size_t>(state));
    }
    static bool programView(CoreDsif& d) { return d.bProgramview; }
    static int32_t listTop(CoreDsif& d) { return d.iListtop; }
    static int32_t gridStart(CoreDsif& d) { return d.iGridstart; }
    static short selectedParameter(CoreDsif& d) { return d.iSelectedparameter; }
    static bool popupArmed(CoreDsif& d) { return d.bPopuparmed; }
    static bool& menuStale(CoreDsif& d) { return d.bMenustale; }
    static const std::vector<int>& listSlots(CoreDsif& d) { return d.vListslots; }

    // program list pages
    static const std::array<std::vector<int>, 3>& gridSlots(CoreDsif& d) { return d.aGridslots; }
    static int categoryLevel(CoreDsif& d) { return d.iCategorylevel; }
    static int categorySelection(CoreDsif& d) { return d.iCategoryselection; }

    // memory page
    static const CoreAnsx& versioningName(CoreDsif& d) { return d.sVersioningname; }

    // envelope, dynamics and user parameter pages
    static void setSelectedParameter(CoreDsif& d, short p) { d.iSelectedparameter = p; }
    static short lastSelection(CoreDsif& d) { return d.iLastselection; }
    static short envelope(CoreDsif& d) { return d.iEnvelope; }
};
