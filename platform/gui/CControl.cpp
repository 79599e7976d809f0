#include "platform/gui/CControl.h"

#include <cmath>

CControl::CControl(const CRect& size, CControlListener* listener, int32_t tag, CBitmap* background)
    : CView(size), pListener(listener), iTag(tag) {
    setBackground(background);
}

void CControl::setValue(float value) {
    fValue = value;
    setDirty(true);
}

int32_t CControl::imageIndex(float value, int32_t count) {
    if (count <= 1) return 0;
    return int32_t(std::floor(limit(value) * float(count - 1) + 0.5f));
}

void CControl::userValue(CDrawContext* context, float value) {
    setValue(limit(value));
    if (pListener) pListener->valueChanged(context, this);
}

float CControl::limit(float value) {
    if (std::isnan(value)) return 0.0f;
    return value < 0.0f ? 0.0f : value > 1.0f ? 1.0f : value;
}
