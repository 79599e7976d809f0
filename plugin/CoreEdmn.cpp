#include "plugin/CoreEdmn.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "base/CoreAnsx.h"
#include "base/CoreNode.h"
#include "base/CoreSgrd.h"
#include "base/CoreTlst.h"
#include "display/CoreDsmn.h"
#include "platform/gui/COptionMenu.h"
#include "plugin/CoreFrme.h"
#include "plugin/CorePpwr.h"

namespace {

constexpr uint32_t kEntryBytes = sizeof(CoreCnst::POPMENUENTRY);
constexpr size_t kTextLength = CoreCnst::iCpopuptext - 1;

// An entry's text: copied bytes are not trusted to hold a NUL, so at most 47 characters.
CoreAnsx entryText(const CoreCnst::POPMENUENTRY& entry) {
    return CoreAnsx(std::string(entry.text, strnlen(entry.text, kTextLength)).c_str());
}

// An item the user can choose: inside the menu, neither a separator nor a submenu.
bool isLeaf(const COptionMenu* menu, int index) {
    return index >= 0 && index < menu->getNbEntries() && !menu->isSeparator(index) && !menu->getSubMenu(index);
}

} // namespace

CoreEdmn::CoreEdmn(CorePpwr* effect) : pEffect(effect) {}

CoreEdmn::~CoreEdmn() {
    close();
    CoreDsmn::delte(&oHolder);
}

void CoreEdmn::open(CoreFrme* frame, CControlListener* listener, int firsttag, int itemspercolumn) {
    {
        CoreSgrd hold(cLock);
        if (bOpen || !frame) return;
        bOpen = true;
        iFirsttag = firsttag;
        iItemspercolumn = itemspercolumn;
        iNextsubmenutag = firsttag + 2;
        pFrame = frame;
        pMain = new COptionMenu(CRect(), listener, firsttag, nullptr, nullptr, iCrootstyle);
        pRecent = new COptionMenu(CRect(), listener, firsttag + 1, nullptr, nullptr, iCrootstyle);
        for (COptionMenu* menu : {pMain, pRecent}) {
            menu->setHoriAlign(kLeftText);
            menu->setNbItemsPerColumn(itemspercolumn);
        }
        frame->addView(pMain); // the recent menu is only ever a submenu
    }
    updte();
}

void CoreEdmn::close() {
    CoreSgrd hold(cLock);
    if (!bOpen) return;
    bOpen = false;
    disarm();
    pFrame->removeView(pMain);
    delete pMain;
    delete pRecent;
    pMain = pRecent = nullptr;
    deleteSubmenus();
    pFrame = nullptr;
}

void CoreEdmn::deact() {
    CoreSgrd hold(cLock);
    // Without the editor lock: the frame's popup is not this call's to touch, only its arming.
    if (bOpen) pFrame->setmn(nullptr, 0, 0, 0, 0);
}

void CoreEdmn::disarm() {
    closeShown();
    pFrame->setmn(nullptr, 0, 0, 0, 0);
}

void CoreEdmn::closeShown() {
    if (pFrame && pMain && pFrame->getOpenMenu() == pMain) pFrame->closePopup();
}

void CoreEdmn::deleteSubmenus() {
    for (COptionMenu* submenu : vSubmenus) delete submenu;
    vSubmenus.clear();
}

void CoreEdmn::updte() {
    CoreSgrd hold(cLock);
    if (!bOpen || !pEffect) return;
    CoreCnst::POPMENUARM arm{};
    uint32_t size = sizeof arm;
    if (pEffect->wgprp(CorePpwr::iCmenuarm, 0, 0, &arm, size) != CorePpwr::iCdone) return;
    if (!arm.armed || arm.count <= 0) {
        disarm();
        return;
    }
    // The display may push new contents between the arm record and the reads below: the holder
    // takes what both the record and the contents offer, and the read never goes beyond it.
    uint32_t available = 0;
    if (pEffect->wgprp(CorePpwr::iCmenucontents, 0, 0, nullptr, available) != CorePpwr::iCdone) available = 0;
    const int wanted = int(std::min<int64_t>(arm.count, available / kEntryBytes));
    if (wanted <= 0) {
        disarm();
        return;
    }
    CoreDsmn::new__(wanted, &oHolder);
    uint32_t copied = uint32_t(wanted) * kEntryBytes;
    if (pEffect->wgprp(CorePpwr::iCmenucontents, 0, 0, oHolder.items, copied) != CorePpwr::iCdone) copied = 0;
    const int got = int(std::min<int64_t>(wanted, copied / kEntryBytes));
    if (got <= 0) {
        CoreDsmn::delte(&oHolder);
        disarm();
        return;
    }
    {
        // Fewer entries than room: the array stays allocated as it was and is freed by its pointer.
        CoreSgrd holder(oHolder.lock);
        oHolder.count = got;
    }
    iItemspercolumn = arm.percolumn;
    pMain->setNbItemsPerColumn(iItemspercolumn);
    pRecent->setNbItemsPerColumn(iItemspercolumn);
    pop_d(&oHolder);
    pFrame->setmn(pMain, arm.column, arm.row, arm.width, arm.height);
}

void CoreEdmn::pop_d(const CoreCnst::POPMENUCONTENTDATA* contents) {
    if (!pMain || !contents) return;
    // A shown popup would keep pointers to the submenus deleted below.
    closeShown();
    pMain->removeAllEntry();
    CoreNode root("ROOT");
    // The current branch: level 0 the root, level l the last entry placed at level l.
    struct Step {
        int index;
        CoreNode* node;
    };
    Step path[iCmaxlevels + 1] = {{-1, &root}};
    int depth = 0;
    for (int i = 1; i < contents->count; ++i) {
        const CoreCnst::POPMENUENTRY& entry = contents->items[i];
        int level = depth + 1; // a parent not on the path: a child of the entry before
        for (int l = depth; l >= 0; --l)
            if (path[l].index == entry.parent) {
                level = l + 1;
                break;
            }
        level = std::min(level, iCmaxlevels);
        auto* node = new CoreNode(entryText(entry));
        path[level - 1].node->addcd(node);
        path[level] = {i, node};
        depth = level;
    }
    deleteSubmenus();
    iNextsubmenutag = iFirsttag + 2;
    pMain->addEntry(pRecent, contents->count > 0 ? entryText(contents->items[0]).c_str() : "");
    popdr(&root, pMain);
}

void CoreEdmn::popdr(const CoreNode* node, COptionMenu* menu) {
    const CoreTlst* children = node->getcn();
    for (int i = 0; children && i < children->Count; ++i) {
        const auto* child = static_cast<const CoreNode*>(children->Items[i]);
        const CoreAnsx text = child->gettx();
        if (!child->getcn() || child->getcn()->Count == 0) {
            menu->addEntry(text.c_str());
            continue;
        }
        auto* submenu = new COptionMenu(CRect(), nullptr, iNextsubmenutag++, nullptr, nullptr, iCsubstyle);
        submenu->setHoriAlign(kLeftText);
        submenu->setNbItemsPerColumn(iItemspercolumn);
        menu->addEntry(submenu, text.c_str());
        vSubmenus.push_back(submenu);
        popdr(child, submenu);
    }
}

void CoreEdmn::setrs(int tag, int index) {
    CoreSgrd hold(cLock);
    if (!bOpen) return;
    COptionMenu* chosen = nullptr;
    const int64_t offset = int64_t(tag) - iFirsttag;
    if (offset == 0)
        chosen = pMain;
    else if (offset == 1)
        chosen = pRecent;
    else if (offset >= 2 && offset - 2 < int64_t(vSubmenus.size()))
        chosen = vSubmenus[size_t(offset - 2)];
    if (!chosen || !isLeaf(chosen, index)) return;
    CoreCnst::POPMENUENTRY record{};
    record.parent = -1; // not read by the display
    std::strncpy(record.text, chosen->getEntry(index), kTextLength);
    if (chosen != pRecent) rebuildRecent(chosen, index);
    if (pEffect) pEffect->wsprp(CorePpwr::iCmenuselection, 0, 0, &record, sizeof record);
}

// The recent menu takes the chosen menu's leaves: a title item or a category as a plain item would
// name no entry the display can act on.
void CoreEdmn::rebuildRecent(const COptionMenu* chosen, int index) {
    pRecent->removeAllEntry();
    int current = -1;
    for (int i = 0; i < chosen->getNbEntries(); ++i) {
        if (!isLeaf(chosen, i)) continue;
        if (i == index) current = pRecent->getNbEntries();
        pRecent->addEntry(chosen->getEntry(i));
    }
    pRecent->setCurrent(current);
}
