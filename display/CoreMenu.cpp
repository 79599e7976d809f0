#include "display/CoreMenu.h"

#include "base/CoreButl.h"

namespace {

constexpr short labelWidth = 8; // each slot: an 8-character label and two blinking blanks
constexpr short slotWidth = 10;

struct MenuItem {
    int menu;
    short key;
    const char* label;
};

constexpr MenuItem displayMenuItems[] = {
    {0, 0, "PROG"},  {0, 5, "KERN"},   {0, 2, "MAST"},  {0, 3, "MIDI"},  {0, 4, "DISK"},  {1, 6, "MEMO"},
    {1, 13, "PRMS"}, {1, 8, "GLOB"},   {1, 7, "LFOS"},  {1, 9, "FUNS"},  {1, 10, "EVFS"}, {1, 11, "ENVS"},
    {1, 12, "DYNS"}, {2, 15, "ABOUT"}, {3, 16, "TEST"}, {4, 14, "PARM"}, {5, 18, "PROG"}, {5, 19, "MAST"},
};

} // namespace

CoreMenu::CoreMenu() : iOffset(0) {}

void CoreMenu::addit(short key, const CoreAnsx& label) {
    vItems.push_back(Item{key, true, label});
}

bool CoreMenu::iskey(short key) {
    bool found = false;
    for (const Item& item : vItems) found = found || item.key == key;
    if (!found) return false;
    for (Item& item : vItems) item.enabled = item.key != key;
    return true;
}

void CoreMenu::scroll(bool right) {
    const int items = static_cast<int>(vItems.size());
    if (right) {
        if (items - iOffset >= iCvisibleitems + 1) ++iOffset;
    } else if (iOffset >= 1) {
        --iOffset;
    }
}

void CoreMenu::getvl(short slot, CoreAnsx& label, bool& enabled) const {
    const int items = static_cast<int>(vItems.size());
    enabled = true;
    if (slot == 0 && iOffset > 0) {
        label = CoreAnsx(sCleftscroll);
    } else if (slot < 0 || slot >= iCvisibleitems || (slot != 0 && slot > items - 1 - iOffset) ||
               iOffset + slot >= items) {
        label = CoreAnsx(" ");
    } else if (slot == iCvisibleitems - 1 && items - iOffset >= iCvisibleitems + 1) {
        label = CoreAnsx(sCrightscroll);
    } else {
        const Item& item = vItems[static_cast<size_t>(iOffset + slot)];
        label = item.label;
        enabled = item.enabled;
    }
}

void CoreMenu::drawBar(CoreDsbf& grid, bool pageChanged) const {
    const short row = static_cast<short>(grid.getdy(0) - 1);
    // The bar's last column is left as it stands.
    grid.clear(3, 0, row, static_cast<short>(grid.getdx(3) - 1), 1);
    const CoreAnsx point(".");
    const CoreAnsx gap("  ");
    for (short slot = 0; slot < iCvisibleitems; ++slot) {
        CoreAnsx label;
        bool enabled = true;
        getvl(slot, label, enabled);
        const short font = (enabled || !pageChanged) ? 1 : 0;
        const short column = static_cast<short>(slotWidth * slot);
        grid.write(CoreButl::cpad_(label, labelWidth, ' '), column, row, font, false, false);
        if (!enabled) grid.write(point, column, row, font, true, false);
        if (slot < iCvisibleitems - 1)
            grid.write(gap, static_cast<short>(column + labelWidth), row, 0, true, false);
    }
}

void CoreMenu::buildDisplayMenus(std::array<CoreMenu, iCdisplaymenus>& menus) {
    for (const MenuItem& item : displayMenuItems)
        menus[static_cast<size_t>(item.menu)].addit(item.key, CoreAnsx(item.label));
}
