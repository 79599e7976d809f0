#include "platform/gui/CVerticalSlider.h"

#include "platform/gui/CBitmap.h"

#include <cmath>

namespace {
constexpr float kWheelStep = 0.1f;
}

CVerticalSlider::CVerticalSlider(const CRect& size, CControlListener* listener, int32_t tag, int32_t minPos,
                                 int32_t maxPos, CBitmap* handle, CBitmap* background, CPoint& offset,
                                 const int32_t style)
    : CControl(size, listener, tag, background), iMinPos(minPos), iMaxPos(maxPos), pHandle(handle), iStyle(style) {
    cBackOffset = offset;
    if (pHandle) pHandle->remember();
}

CVerticalSlider::~CVerticalSlider() {
    if (pHandle) pHandle->forget();
}

CRect CVerticalSlider::getHandleRect() const {
    const int32_t w = pHandle ? pHandle->getWidth() : 0, h = pHandle ? pHandle->getHeight() : 0;
    const double travel = double(iMaxPos) - double(iMinPos);
    const double v = limit(fValue);
    const double top = (iStyle & kBottom) ? iMaxPos - v * travel : iMinPos + v * travel;
    const int32_t row = int32_t(std::floor(top + 0.5)); // between minPos and maxPos
    const int32_t left = int32_t((int64_t(cSize.left) + (int64_t(cSize.width()) - w) / 2));
    return CRect(left, row, int32_t(int64_t(left) + w), int32_t(int64_t(row) + h));
}

float CVerticalSlider::valueAtTop(int64_t top) const {
    const double travel = double(iMaxPos) - double(iMinPos);
    const double v = (iStyle & kBottom) ? (iMaxPos - double(top)) / travel : (double(top) - iMinPos) / travel;
    return limit(float(v));
}

void CVerticalSlider::draw(CDrawContext* context) {
    CView::draw(context);
    if (pHandle) pHandle->draw(context, getHandleRect());
}

void CVerticalSlider::mouse(CDrawContext* context, CPoint& where, int32_t buttons) {
    if (!(buttons & kLButton) || iMaxPos == iMinPos) return;
    const CRect handle = getHandleRect();
    bDragging = true;
    if (handle.pointInside(where)) {
        iGrab = where.y - handle.top;
        return;
    }
    iGrab = handle.height() / 2;
    const float value = valueAtTop(int64_t(where.y) - iGrab);
    if (value != fValue) userValue(context, value);
}

void CVerticalSlider::onMouseMoved(CDrawContext* context, CPoint& where) {
    if (!bDragging) return;
    const float value = valueAtTop(int64_t(where.y) - iGrab);
    if (value != fValue) userValue(context, value);
}

void CVerticalSlider::onMouseUp(CDrawContext*, CPoint&) { bDragging = false; }

bool CVerticalSlider::onWheel(CDrawContext* context, const CPoint&, CMouseWheelAxis, float distance) {
    if (iMaxPos == iMinPos) return false;
    const float value = limit(limit(fValue) + kWheelStep * distance);
    if (value != fValue) userValue(context, value);
    return true;
}
