// CoreDsifTestAccess: the display object's one friend for tests: reads its fields, puts test pages in,
// runs a batch on the test's thread. Tests only.
#pragma once
#include "base/CorePmsg.h"
#include "base/CoreTevn.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsge.h"
#include "display/CoreDsgm.h"
#include "display/CoreDsgt.h"
#include "display/CoreDsif.h"
#include "display/CoreStte.h"

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
    static CorePmsg& batchRows(CoreDsif& d) { return *d.pBatchrows; }
    // The display thread's event, made here when no thread made it.
    static CoreTevn& event(CoreDsif& d) {
        if (!d.pEvent) d.pEvent = std::make_unique<CoreTevn>();
        return *d.pEvent;
    }
    static void setPopupArmed(CoreDsif& d, bool armed) { d.bPopuparmed = armed; }
    static bool popupArmed(CoreDsif& d) { return d.bPopuparmed; }
};
