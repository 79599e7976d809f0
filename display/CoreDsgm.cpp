#include "display/CoreDsgm.h"

CoreDsgm::CoreDsgm(CorePrcs* processor, DisplayHost* host) : pProcessor(processor), pHost(host) {}

CoreDsgm::~CoreDsgm() { deleteMenus(); }

void CoreDsgm::deleteMenus() {
    for (CoreDsmn* menu : vMenus) delete menu;
    vMenus.clear();
}

void CoreDsgm::reset(short n) {
    deleteMenus();
    for (short i = 0; i < n; ++i) vMenus.push_back(new CoreDsmn(pProcessor, pHost));
}

CoreDsmn* CoreDsgm::getmn(short i) const {
    if (i < 0 || i >= static_cast<short>(vMenus.size())) return nullptr;
    return vMenus[static_cast<size_t>(i)];
}

void CoreDsgm::arm__(bool on, short menu, int count, short current) {
    bArmed = on;
    if (!pHost || vMenus.empty()) return;
    oRecord.armed = on ? 1 : 0;
    if (on) {
        CoreDsmn* opened = getmn(menu);
        if (!opened) return; // an index outside the menus opens nothing
        opened->setar(true);
        oRecord.menu = menu;
        oRecord.count = count;
        opened->getdf(oRecord.column, oRecord.row, oRecord.width, oRecord.height);
        oRecord.percolumn = current;
    }
    pHost->stprp(DisplayHost::iCpopuparm, 0, 0, &oRecord, sizeof(oRecord));
    pHost->prchg(DisplayHost::iCpopuparm, 0, 0);
}

short CoreDsgm::focus(short column, short row, bool down) const {
    if (!down) return -1;
    for (size_t i = 0; i < vMenus.size(); ++i)
        if (vMenus[i]->ishre(column, row)) return static_cast<short>(i);
    return -1;
}

void CoreDsgm::clear() { deleteMenus(); }
