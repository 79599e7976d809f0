// CoreMenu: one soft-key menu of the display's bar: items that each lead to a page state and carry
// the label that is both shown and handed to the page state table as the action. Shows six slots;
// a longer menu scrolls with "  <More " and "  More> " in the end slots. The item of the page being
// shown is marked (not enabled). Owned by the display object and used under its lock.
#pragma once
#include "base/CoreAnsx.h"
#include "display/CoreDsbf.h"

#include <array>
#include <vector>

class CoreMenu {
public:
    static constexpr int iCvisibleitems = 6;
    static constexpr char sCleftscroll[] = "  <More ";
    static constexpr char sCrightscroll[] = "  More> ";
    static constexpr int iCdisplaymenus = 6;

    CoreMenu();

    void addit(short key, const CoreAnsx& label); // appends an enabled item
    // Whether an item leads to key; if so, marks the items with the key and enables all others.
    bool iskey(short key);
    void scroll(bool right);
    // What slot 0 .. 5 shows and whether it can be picked. A slot outside 0 .. 5 (a pointer beyond
    // the bar's ends) shows the one-blank label, which leads nowhere.
    void getvl(short slot, CoreAnsx& label, bool& enabled) const;

    // Draws the bar row (the main area's last row). pageChanged: this pass entered the current
    // page, whose item is then drawn in font 0 instead of font 1.
    void drawBar(CoreDsbf& grid, bool pageChanged) const;

    // Fills the display's six menus: pages, page editors, about, test, the parameter editor and
    // the compact pages.
    static void buildDisplayMenus(std::array<CoreMenu, iCdisplaymenus>& menus);

private:
    struct Item {
        short key; // page state
        bool enabled;
        CoreAnsx label;
    };

    short iOffset;
    std::vector<Item> vItems;
};
