#include "platform/gui/COptionMenu.h"

#include "platform/gui/CFrame.h"

COptionMenu::COptionMenu(const CRect& size, CControlListener* listener, int32_t tag, CBitmap* background,
                         CBitmap*, const int32_t style)
    : CControl(size, listener, tag, background), iStyle(style) {}

COptionMenu::~COptionMenu() { changed(); }

void COptionMenu::draw(CDrawContext*) {}

void COptionMenu::mouse(CDrawContext*, CPoint&, int32_t) {
    iLastResult = -1;
    if (CFrame* frame = getFrame()) frame->openPopup(this);
}

bool COptionMenu::addEntry(const char* text) { return addEntry(nullptr, text); }

bool COptionMenu::addEntry(COptionMenu* submenu, const char* text) {
    changed();
    vEntries.push_back(Entry{text ? text : "", submenu});
    return true;
}

void COptionMenu::removeAllEntry() {
    changed();
    vEntries.clear();
    iCurrent = -1;
}

const char* COptionMenu::getEntry(int32_t index) const {
    if (index < 0 || index >= getNbEntries()) return nullptr;
    return vEntries[size_t(index)].text.c_str();
}

COptionMenu* COptionMenu::getSubMenu(int32_t index) const {
    if (index < 0 || index >= getNbEntries()) return nullptr;
    return vEntries[size_t(index)].submenu;
}

bool COptionMenu::isSeparator(int32_t index) const {
    const char* text = getEntry(index);
    return text && text[0] == '-';
}

bool COptionMenu::setCurrent(int32_t index) {
    if (index < 0 || index >= getNbEntries()) return false;
    iCurrent = index;
    fValue = float(index);
    setDirty(true);
    return true;
}

COptionMenu* COptionMenu::getLastItemMenu(int32_t& index) const {
    index = iLastItemIndex;
    return pLastItemMenu;
}

void COptionMenu::changed() {
    if (pOpenIn) pOpenIn->closePopup();
}
