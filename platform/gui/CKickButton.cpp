#include "platform/gui/CKickButton.h"

#include "platform/gui/CBitmap.h"

#include <limits>

CKickButton::CKickButton(const CRect& size, CControlListener* listener, int32_t tag, int32_t heightOfOneImage,
                         CBitmap* background, CPoint& offset)
    : CControl(size, listener, tag, background), iHeightOfOneImage(heightOfOneImage), cOffset(offset) {}

void CKickButton::draw(CDrawContext* context) {
    CBitmap* strip = getBackground();
    if (!strip) return;
    const int64_t row = int64_t(cOffset.y) + (bHeld && bInside ? int64_t(iHeightOfOneImage) : 0);
    if (row > std::numeric_limits<int32_t>::max()) return;
    strip->draw(context, cSize, CPoint(cOffset.x, int32_t(row)));
}

void CKickButton::mouse(CDrawContext*, CPoint& where, int32_t buttons) {
    if (!(buttons & kLButton)) return;
    bHeld = true;
    bInside = cSize.pointInside(where);
    setDirty(true);
}

void CKickButton::onMouseMoved(CDrawContext*, CPoint& where) {
    if (!bHeld) return;
    const bool inside = cSize.pointInside(where);
    if (inside != bInside) {
        bInside = inside;
        setDirty(true);
    }
}

void CKickButton::onMouseUp(CDrawContext* context, CPoint& where) {
    if (!bHeld) return;
    bHeld = false;
    setDirty(true);
    if (!cSize.pointInside(where)) return;
    Watch watch(this);
    userValue(context, 1.0f);
    if (watch.alive()) userValue(context, 0.0f);
}
