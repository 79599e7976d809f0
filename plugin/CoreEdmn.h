// CoreEdmn: the editor's side of the display's popup menus. On an arm record (property 100106) it
// copies the menu contents (property 100107) into a holder of its own, builds a tree of option
// menus from the entries' parent indices and arms the frame over the display cells; a choice goes
// back as property 100108 and refills the recent menu. Owned by the editor: updte runs on the
// listener thread, the rest on the GUI thread, all under the editor lock except deact, and all of
// them under this object's lock (then, inside it, the frame's menu lock).
#pragma once
#include <cstdint>
#include <vector>

#include "base/CoreSmph.h"
#include "display/CoreCnst.h"

class CControlListener;
class COptionMenu;
class CoreFrme;
class CoreNode;
class CorePpwr;

class CoreEdmn {
public:
    static constexpr int iCmaxlevels = 4;        // menu levels below the root; deeper entries join the fourth
    static constexpr int32_t iCrootstyle = 1152; // the main and the recent menu: the current item marked
    static constexpr int32_t iCsubstyle = 128;   // submenus: no current item

    // effect: the property interface the records come from and go to; null reads and sends nothing.
    explicit CoreEdmn(CorePpwr* effect);
    ~CoreEdmn();
    CoreEdmn(const CoreEdmn&) = delete;
    CoreEdmn& operator=(const CoreEdmn&) = delete;

    // Makes the main menu (tag firsttag, added to frame) and the recent menu (firsttag + 1), both
    // telling listener of choices, then reads the current arm record.
    void open(CoreFrme* frame, CControlListener* listener, int firsttag, int itemspercolumn);
    void close(); // disarms, closes a shown popup and deletes every menu
    void deact(); // disarms only; needs no editor lock
    // Reads the arm record and disarms, or rebuilds the menus from the contents and arms the frame.
    // A popup on the screen is closed first, without a choice.
    void updte();
    // The menu of tag reported the choice of item index: a leaf's text goes out as property 100108
    // and, unless the choice came from the recent menu, the recent menu takes that menu's leaves.
    void setrs(int tag, int index);
    // Builds the menus from the entries of contents (entry 0 the title).
    void pop_d(const CoreCnst::POPMENUCONTENTDATA* contents);
    void popdr(const CoreNode* node, COptionMenu* menu);

    // The main and the recent menu, for tests (under the editor lock while the editor is open).
    COptionMenu* getmm() const { return pMain; }
    COptionMenu* getrm() const { return pRecent; }

private:
    void disarm();       // the frame disarmed and its popup closed
    void closeShown();   // a popup showing these menus closed without a choice
    void deleteSubmenus();
    void rebuildRecent(const COptionMenu* chosen, int index);

    int iNextsubmenutag = 0;
    int iFirsttag = 0;
    int iItemspercolumn = 0;
    bool bOpen = false;
    COptionMenu* pMain = nullptr;   // owned
    COptionMenu* pRecent = nullptr; // owned
    CoreFrme* pFrame = nullptr;
    CoreCnst::POPMENUCONTENTDATA oHolder; // the editor's own copy of the contents
    CorePpwr* pEffect;
    std::vector<COptionMenu*> vSubmenus; // owned, in creation order
    CoreSmph cLock;
};
