#include "plugin/CoreFrme.h"

#include <cmath>
#include <limits>

#include "display/CoreDspc.h"
#include "platform/gui/COptionMenu.h"
#include "plugin/CorePpwr.h"

namespace {

// The menu lock as a scoped guard.
class MenuHold {
public:
    explicit MenuHold(CoreSmph& lock) : rLock(lock) { rLock.locks(); }
    ~MenuHold() { rLock.relse(); }
    MenuHold(const MenuHold&) = delete;
    MenuHold& operator=(const MenuHold&) = delete;

private:
    CoreSmph& rLock;
};

} // namespace

CoreFrme::CoreFrme(const CRect& size, void* window, AEffGUIEditor* editor, CorePpwr* effect)
    : CFrame(size, window, editor), pEffect(effect), pWindow(window) {}

CoreFrme::~CoreFrme() = default;

void CoreFrme::setmb(bool enabled, int left, int top, int right, int bottom, int cellwidth, int cellheight) {
    bDisplay = enabled;
    cGrid = CRect(left, top, right, bottom);
    iCellwidth = cellwidth > 0 ? cellwidth : 1;
    iCellheight = cellheight > 0 ? cellheight : 1;
}

void CoreFrme::getmb(int& left, int& top, int& right, int& bottom, int& cellwidth, int& cellheight) const {
    left = cGrid.left, top = cGrid.top, right = cGrid.right, bottom = cGrid.bottom;
    cellwidth = iCellwidth, cellheight = iCellheight;
}

void CoreFrme::setm2(int left, int top, int right, int bottom) { cBypass = CRect(left, top, right, bottom); }

void CoreFrme::setmn(COptionMenu* menu, int16_t column, int16_t row, int16_t columns, int16_t rows) {
    MenuHold hold(cMenulock);
    ++iGeneration;
    pMenu = menu;
    bArmed = menu != nullptr;
    if (!menu) return;
    const int left = cGrid.left + iCellwidth * column, top = cGrid.top + iCellheight * row;
    cMenucells = CRect(left, top, cGrid.left + iCellwidth * (column + columns), cGrid.top + iCellheight * (row + rows));
    menu->setViewSize(CRect(left, top, left, top));
}

bool CoreFrme::ismna() {
    MenuHold hold(cMenulock);
    return bArmed;
}

void CoreFrme::mouse(CDrawContext* context, CPoint& where, int32_t buttons) {
    bInside = true;
    bButtondown = true;
    bool handled = false;
    if (bDisplay && cGrid.pointInside(where)) {
        const int column = (where.x - cGrid.left) / iCellwidth, row = (where.y - cGrid.top) / iCellheight;
        sendMouse();
        COptionMenu* popup = nullptr;
        {
            MenuHold hold(cMenulock);
            const CRect& cells = cMenucells;
            if (bArmed && pMenu && where.x >= cells.left && where.x <= cells.right && where.y >= cells.top &&
                where.y <= cells.bottom) {
                popup = pMenu;
                bArmed = false;
                pPopped = popup;
                cPoppedcells = cells;
                iPoppedgeneration = iGeneration;
            }
        }
        // The popup runs without the menu lock: its choice reaches code that may call setmn.
        if (popup) {
            CPoint origin(0, 0);
            popup->mouse(context, origin, kLButton);
            handled = true;
        } else {
            bTracking = true;
            sendMessage(0, column, row, cLast.x, cLast.y);
        }
    }
    if (!handled && cBypass.pointInside(where)) sendMessage(2, 0, 0, 0, 0);
    // The popup takes the press that opened it: a view under the cells marked as pressed would never
    // see the release, which goes to the popup, and would swallow the next press after it closes.
    if (!handled) CFrame::mouse(context, where, buttons);
    bInside = false;
}

int32_t CoreFrme::wheelSteps(float distance) {
    if (!std::isfinite(distance)) return 0;
    const double steps = std::trunc(double(distance));
    if (steps >= double(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    if (steps <= double(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    return int32_t(steps);
}

bool CoreFrme::onWheel(CDrawContext* context, const CPoint& where, CMouseWheelAxis axis, float distance) {
    sendMessage(3, wheelSteps(distance), 0, 0, 0);
    return CFrame::onWheel(context, where, axis, distance);
}

void CoreFrme::update(CDrawContext* context) {
    if (bTracking) {
        bButtondown = context && context->getMouseButtons() == kLButton;
        sendMouse();
    }
    if (pPopped && getOpenMenu() != pPopped) {
        MenuHold hold(cMenulock);
        if (pPopped->getLastResult() == -1 && iGeneration == iPoppedgeneration) {
            pMenu = pPopped;
            cMenucells = cPoppedcells;
            bArmed = true;
        }
        pPopped = nullptr;
    }
    CFrame::update(context);
}

void CoreFrme::sendMouse() {
    CPoint location;
    getCurrentLocation(location);
    if (!bButtondown) bTracking = false;
    cLast = location;
    if (!pEffect) return;
    CorePpwr::MOUSERECORD record{location.x, location.y, bButtondown ? 1 : 0};
    pEffect->wsprp(CorePpwr::iCmouse, 0, 0, &record, sizeof record);
}

void CoreFrme::sendMessage(int16_t type, int32_t a, int32_t b, int32_t c, int32_t d) {
    if (!pEffect) return;
    CoreDspc::MESSAGELOC message{};
    message.type = type;
    message.a = a, message.b = b, message.c = c, message.d = d;
    pEffect->wsprp(CorePpwr::iCdisplaymessage, 0, 0, &message, sizeof message);
}
