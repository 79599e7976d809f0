#include "platform/gui/CAnimKnob.h"

#include "platform/gui/CBitmap.h"

#include <algorithm>

namespace {
constexpr float kDragRange = 200.0f; // pixels for the whole range
constexpr float kWheelStep = 0.1f;
} // namespace

CAnimKnob::CAnimKnob(const CRect& size, CControlListener* listener, int32_t tag, CBitmap* background, CPoint&)
    : CControl(size, listener, tag, background) {}

int32_t CAnimKnob::getFrameCount() const {
    const CBitmap* strip = getBackground();
    if (!strip || cSize.height() <= 0) return 1;
    return std::max(1, strip->getHeight() / cSize.height());
}

void CAnimKnob::draw(CDrawContext* context) {
    CBitmap* strip = getBackground();
    if (!strip || cSize.isEmpty()) return;
    const int64_t row = int64_t(imageIndex(fValue, getFrameCount())) * cSize.height();
    strip->draw(context, cSize, CPoint(0, int32_t(row))); // row < the strip's height
}

void CAnimKnob::mouse(CDrawContext*, CPoint& where, int32_t buttons) {
    if (!(buttons & kLButton)) return;
    bDragging = true;
    iStartY = where.y;
    fStartValue = limit(fValue);
}

void CAnimKnob::onMouseMoved(CDrawContext* context, CPoint& where) {
    if (!bDragging) return;
    const float value = limit(fStartValue + float(int64_t(iStartY) - where.y) / kDragRange);
    if (value != fValue) userValue(context, value);
}

void CAnimKnob::onMouseUp(CDrawContext*, CPoint&) { bDragging = false; }

bool CAnimKnob::onWheel(CDrawContext* context, const CPoint&, CMouseWheelAxis, float distance) {
    const float value = limit(limit(fValue) + kWheelStep * distance);
    if (value != fValue) userValue(context, value);
    return true;
}
