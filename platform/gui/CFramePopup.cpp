// The popup of CFrame: open levels of an option menu tree, each with its own image, and the input
// they take while open.
#include "platform/gui/CFrame.h"

#include "platform/gui/CControlListener.h"
#include "platform/gui/COptionMenu.h"
#include "platform/gui/CoreGlyf.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr int32_t kBorder = 1;
constexpr int32_t kMarkWidth = 10;   // left of the text: the current entry's check
constexpr int32_t kArrowWidth = 10;  // right of the text: a submenu's arrow
constexpr int32_t kMaxCharacters = 64;
constexpr int kMaxTreeDepth = 32;

const CColor kPaper{232, 232, 228, 255};
const CColor kInk{16, 16, 16, 255};
const CColor kSelectedPaper{40, 84, 160, 255};
const CColor kSelectedInk{255, 255, 255, 255};
const CColor kEdge{80, 80, 84, 255};
const CColor kRule{150, 150, 150, 255};

void drawText(CDrawContext& context, const char* text, int32_t left, int32_t top, const CColor& ink) {
    const size_t count = std::min(std::strlen(text), size_t(kMaxCharacters));
    for (size_t i = 0; i < count; ++i) {
        const auto rows = CoreGlyf::cell(static_cast<unsigned char>(text[i]));
        const int32_t x0 = left + int32_t(i) * CoreGlyf::iCwidth;
        for (int32_t r = 0; r < CoreGlyf::iCheight; ++r)
            for (int32_t c = 0; c < CoreGlyf::iCwidth;) {
                if (!(rows[size_t(r)] & (1u << c))) {
                    ++c;
                    continue;
                }
                int32_t end = c;
                while (end < CoreGlyf::iCwidth && (rows[size_t(r)] & (1u << end))) ++end;
                context.fillRect(CRect(x0 + c, top + r, x0 + end, top + r + 1), ink);
                c = end;
            }
    }
}

} // namespace

void CFrame::openPopup(COptionMenu* root) {
    if (!root) return;
    closePopup();
    pOpenRoot = root;
    markTree(root, this, 0);
    openLevel(root, nullptr, -1);
    pPressed = nullptr;
    bIgnoreRelease = true;
    cOpenAt = cLocation;
    updateKeyFocus();
}

void CFrame::closePopup() {
    if (!pOpenRoot) return;
    for (COptionMenu* menu : vTree) menu->pOpenIn = nullptr;
    vTree.clear();
    vLevels.clear();
    pOpenRoot = nullptr;
    bPopupsChanged = true;
    updateKeyFocus();
}

void CFrame::markTree(COptionMenu* menu, CFrame* frame, int depth) {
    if (!menu || depth > kMaxTreeDepth || std::find(vTree.begin(), vTree.end(), menu) != vTree.end()) return;
    vTree.push_back(menu);
    menu->pOpenIn = frame;
    for (const COptionMenu::Entry& entry : menu->vEntries) markTree(entry.submenu, frame, depth + 1);
}

bool CFrame::inOpenTree(const COptionMenu* menu) const {
    return menu && std::find(vTree.begin(), vTree.end(), menu) != vTree.end();
}

void CFrame::openLevel(COptionMenu* menu, const Level* parent, int32_t parentEntry) {
    Level level;
    level.menu = menu;
    level.openedFrom = parentEntry;
    const int32_t count = menu->getNbEntries();
    const int32_t perColumn = menu->getNbItemsPerColumn() > 0 ? menu->getNbItemsPerColumn() : std::max(count, 1);
    level.rows = std::max(1, std::min(count, perColumn));
    const int32_t columns = count > 0 ? (count + perColumn - 1) / perColumn : 1;
    size_t longest = 0;
    for (int32_t i = 0; i < count; ++i)
        if (!menu->isSeparator(i)) longest = std::max(longest, std::strlen(menu->getEntry(i)));
    level.columnWidth = kMarkWidth + CoreGlyf::iCwidth * int32_t(std::min(longest, size_t(kMaxCharacters))) + kArrowWidth;
    const int32_t width = columns * level.columnWidth + 2 * kBorder;
    const int32_t height = level.rows * iCmenurow + 2 * kBorder;

    int64_t x = menu->getViewSize().left, y = menu->getViewSize().top;
    if (parent) {
        const int32_t column = parentEntry / parent->rows, row = parentEntry % parent->rows;
        const int64_t entryLeft = int64_t(parent->rect.left) + kBorder + int64_t(column) * parent->columnWidth;
        x = entryLeft + parent->columnWidth;
        y = int64_t(parent->rect.top) + int64_t(row) * iCmenurow;
        if (!cPopupBounds.isEmpty() && x + width > cPopupBounds.right) x = entryLeft - width; // no room: left
    }
    if (!cPopupBounds.isEmpty()) {
        if (width > cPopupBounds.width() || height > cPopupBounds.height()) {
            x = cPopupBounds.left;
            y = cPopupBounds.top;
        } else {
            x = std::clamp<int64_t>(x, cPopupBounds.left, int64_t(cPopupBounds.right) - width);
            y = std::clamp<int64_t>(y, cPopupBounds.top, int64_t(cPopupBounds.bottom) - height);
        }
    }
    x = std::clamp<int64_t>(x, INT32_MIN / 2, INT32_MAX / 2); // keeps the right edge a 32-bit number
    y = std::clamp<int64_t>(y, INT32_MIN / 2, INT32_MAX / 2);
    level.rect = CRect(int32_t(x), int32_t(y), int32_t(x + width), int32_t(y + height));
    level.image = std::make_unique<CDrawContext>(width, height);
    drawLevel(level);
    vLevels.push_back(std::move(level));
    bPopupsChanged = true;
}

void CFrame::closeLevelsAfter(size_t keep) {
    if (vLevels.size() <= keep + 1) return;
    vLevels.resize(keep + 1);
    bPopupsChanged = true;
}

void CFrame::drawLevel(Level& level) {
    CDrawContext& context = *level.image;
    const int32_t width = context.getWidth(), height = context.getHeight();
    context.fillRect(CRect(0, 0, width, height), kEdge);
    context.fillRect(CRect(kBorder, kBorder, width - kBorder, height - kBorder), kPaper);
    const COptionMenu* menu = level.menu;
    const bool marksCurrent = (menu->getStyle() & COptionMenu::kCheckStyle) != 0;
    for (int32_t i = 0; i < menu->getNbEntries(); ++i) {
        const int32_t left = kBorder + (i / level.rows) * level.columnWidth;
        const int32_t top = kBorder + (i % level.rows) * iCmenurow;
        const int32_t right = left + level.columnWidth;
        if (menu->isSeparator(i)) {
            context.fillRect(CRect(left + 2, top + iCmenurow / 2, right - 2, top + iCmenurow / 2 + 1), kRule);
            continue;
        }
        const bool selected = i == level.highlight;
        const CColor ink = selected ? kSelectedInk : kInk;
        if (selected) context.fillRect(CRect(left, top, right, top + iCmenurow), kSelectedPaper);
        if (marksCurrent && i == menu->getCurrent()) {
            context.drawLine(CPoint(left + 2, top + 7), CPoint(left + 4, top + 9), ink);
            context.drawLine(CPoint(left + 4, top + 9), CPoint(left + 8, top + 4), ink);
        }
        drawText(context, menu->getEntry(i), left + kMarkWidth, top + 1, ink);
        if (menu->getSubMenu(i))
            for (int32_t k = 0; k < 4; ++k)
                context.fillRect(CRect(right - 8 + k, top + 3 + k, right - 7 + k, top + 11 - k), ink);
    }
}

int32_t CFrame::entryAt(const Level& level, const CPoint& where) const {
    if (!level.rect.pointInside(where)) return -1;
    const int32_t x = where.x - level.rect.left - kBorder, y = where.y - level.rect.top - kBorder;
    if (x < 0 || y < 0 || level.columnWidth <= 0) return -1;
    const int32_t column = x / level.columnWidth, row = y / iCmenurow;
    if (row >= level.rows) return -1;
    const int64_t index = int64_t(column) * level.rows + row;
    return index < level.menu->getNbEntries() ? int32_t(index) : -1;
}

int32_t CFrame::levelAt(const CPoint& where) const {
    for (size_t i = vLevels.size(); i-- > 0;)
        if (vLevels[i].rect.pointInside(where)) return int32_t(i);
    return -1;
}

void CFrame::highlight(size_t level, int32_t entry, bool openSubmenu) {
    Level& shown = vLevels[level];
    if (entry >= 0 && shown.menu->isSeparator(entry)) entry = -1;
    const bool subOpen = level + 1 < vLevels.size() && vLevels[level + 1].openedFrom == entry;
    if (entry == shown.highlight && (subOpen || !openSubmenu || !shown.menu->getSubMenu(entry))) {
        if (!subOpen) closeLevelsAfter(level);
        return;
    }
    closeLevelsAfter(level);
    shown.highlight = entry;
    drawLevel(shown);
    bPopupsChanged = true;
    if (openSubmenu && entry >= 0)
        if (COptionMenu* submenu = shown.menu->getSubMenu(entry)) openLevel(submenu, &shown, entry);
}

int32_t CFrame::selectable(const COptionMenu* menu, int32_t from, int32_t direction) const {
    for (int32_t i = from + direction; i >= 0 && i < menu->getNbEntries(); i += direction)
        if (!menu->isSeparator(i)) return i;
    return -1;
}

void CFrame::step(int32_t direction) {
    Level& deepest = vLevels.back();
    int32_t from = deepest.highlight;
    if (from < 0) from = direction > 0 ? -1 : deepest.menu->getNbEntries();
    const int32_t next = selectable(deepest.menu, from, direction);
    if (next >= 0) highlight(vLevels.size() - 1, next, false);
}

void CFrame::popupPointer(const CoreGevt& event) {
    const int32_t level = levelAt(event.where);
    const int32_t entry = level >= 0 ? entryAt(vLevels[size_t(level)], event.where) : -1;
    switch (event.kind) {
    case CoreGevt::kDown:
        bIgnoreRelease = false;
        if (level < 0) closePopup(); // a press outside every level: nothing chosen
        else highlight(size_t(level), entry, true);
        return;
    case CoreGevt::kMove:
        if (!(event.where == cOpenAt)) bIgnoreRelease = false;
        if (level >= 0) highlight(size_t(level), entry, true);
        return;
    default: {
        if (bIgnoreRelease) {
            bIgnoreRelease = false;
            return;
        }
        if (entry < 0) return;
        COptionMenu* menu = vLevels[size_t(level)].menu;
        if (!menu->isSeparator(entry) && !menu->getSubMenu(entry)) choose(menu, entry);
        return;
    }
    }
}

void CFrame::popupKey(const CoreGevt& event) {
    switch (event.key) {
    case CoreGevt::kKeyEscape:
        closePopup();
        return;
    case CoreGevt::kKeyDown:
        step(1);
        return;
    case CoreGevt::kKeyUp:
        step(-1);
        return;
    case CoreGevt::kKeyLeft:
        if (vLevels.size() > 1) closeLevelsAfter(vLevels.size() - 2);
        return;
    case CoreGevt::kKeyRight:
    case CoreGevt::kKeyReturn: {
        Level& deepest = vLevels.back();
        const int32_t entry = deepest.highlight;
        if (entry < 0) return;
        if (COptionMenu* submenu = deepest.menu->getSubMenu(entry)) {
            openLevel(submenu, &deepest, entry);
            step(1);
        } else if (event.key == CoreGevt::kKeyReturn) {
            choose(deepest.menu, entry);
        }
        return;
    }
    default:
        return;
    }
}

void CFrame::popupChoice(COptionMenu* menu, int32_t index) {
    if (!inOpenTree(menu) || index < 0 || index >= menu->getNbEntries()) return;
    if (menu->isSeparator(index) || menu->getSubMenu(index)) return;
    choose(menu, index);
}

void CFrame::choose(COptionMenu* holder, int32_t index) {
    COptionMenu* root = pOpenRoot;
    closePopup();
    holder->setCurrent(index);
    for (COptionMenu* menu : {root, holder}) {
        menu->iLastResult = index;
        menu->pLastItemMenu = holder;
        menu->iLastItemIndex = index;
    }
    if (CControlListener* listener = root->getListener()) listener->valueChanged(&cImage, holder);
}
