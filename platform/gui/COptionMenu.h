// COptionMenu: a list of text entries (a text beginning with '-' is a separator) and submenu
// entries, popped up by the frame when pressed. The popup is drawn by the layer, never modal: mouse
// opens it and returns at once; a choice later tells the root menu's listener, with the menu
// holding the entry as the control (value = the entry's index). Changing or deleting a menu of an
// open popup closes it. Submenus are never owned. Runs under the frame's lock.
#pragma once
#include "platform/gui/CControl.h"

#include <string>
#include <vector>

enum CHoriTxtAlign : int32_t { kLeftText = 0, kCenterText = 1, kRightText = 2 };

class COptionMenu : public CControl {
public:
    // Style bits: kCheckStyle marks the current entry in the popup; others change nothing.
    static constexpr int32_t kCheckStyle = 1024;

    COptionMenu(const CRect& size, CControlListener* listener, int32_t tag, CBitmap* background = nullptr,
                CBitmap* bgWhenClick = nullptr, const int32_t style = 0);
    ~COptionMenu() override;

    void draw(CDrawContext* context) override; // the menu's own view shows nothing
    // Opens the popup in the menu's frame (none without one) and returns; getLastResult() is -1.
    void mouse(CDrawContext* context, CPoint& where, int32_t buttons) override;

    bool addEntry(const char* text);
    bool addEntry(COptionMenu* submenu, const char* text);
    void removeAllEntry();
    int32_t getNbEntries() const { return int32_t(vEntries.size()); }
    // The entry's text; null outside the menu.
    const char* getEntry(int32_t index) const;
    COptionMenu* getSubMenu(int32_t index) const;
    bool isSeparator(int32_t index) const;
    // Makes an entry current (its index the value); an index outside the menu is ignored.
    bool setCurrent(int32_t index);
    int32_t getCurrent() const { return iCurrent; }
    void setNbItemsPerColumn(int32_t count) { iItemsPerColumn = count; }
    int32_t getNbItemsPerColumn() const { return iItemsPerColumn; }
    void setHoriAlign(CHoriTxtAlign align) { eAlign = align; }
    int32_t getStyle() const { return iStyle; }

    // The index of the last choice in this menu or one of its submenus, -1 after an open that chose
    // nothing; the menu holding it.
    int32_t getLastResult() const { return iLastResult; }
    COptionMenu* getLastItemMenu(int32_t& index) const;

private:
    friend class CFrame;
    struct Entry {
        std::string text;
        COptionMenu* submenu = nullptr;
    };
    void changed(); // closes a popup showing this menu

    std::vector<Entry> vEntries;
    int32_t iCurrent = -1;
    int32_t iItemsPerColumn = -1;
    CHoriTxtAlign eAlign = kLeftText;
    int32_t iStyle;
    int32_t iLastResult = -1;
    COptionMenu* pLastItemMenu = nullptr;
    int32_t iLastItemIndex = -1;
    CFrame* pOpenIn = nullptr; // the frame whose open popup holds this menu
};
