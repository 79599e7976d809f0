#include "plugin/CoreMbit.h"

#include <algorithm>
#include <cmath>

#include "platform/gui/CBitmap.h"
#include "platform/gui/CFrame.h"
#include "platform/gui/CMovieBitmap.h"

CoreMbit::CoreMbit(int count, CFrame* frame) : iCount(std::max(count, 0)), pFrame(frame) {
    oElements.resize(size_t(iCount));
}

CoreMbit::~CoreMbit() {
    for (ELEMENT& element : oElements) {
        if (element.control && pFrame) pFrame->removeView(element.control, false);
        delete element.control;
    }
}

void CoreMbit::addes(int frames, int32_t tag, int x, int y, CControlListener* listener, CBitmap* bitmap) {
    if (iCount != 1 || !bitmap || oElements[0].control) return;
    frames = std::max(frames, 1);
    const int32_t imageHeight = bitmap->getHeight() / frames;
    ELEMENT& element = oElements[0];
    element.rect = CRect(x, y, x + bitmap->getWidth(), y + imageHeight);
    CPoint origin;
    element.control = new CMovieBitmap(element.rect, listener, tag, frames, imageHeight, bitmap, origin);
    element.attached = true;
    if (pFrame) pFrame->addView(element.control);
}

void CoreMbit::addel(int index, int32_t tag, int x, int y, CControlListener* listener, CBitmap* bitmap) {
    if (index < 0 || index >= iCount || !bitmap || oElements[size_t(index)].control) return;
    ELEMENT& element = oElements[size_t(index)];
    element.rect = CRect(x, y, x + bitmap->getWidth(), y + bitmap->getHeight());
    CPoint origin;
    element.control = new CMovieBitmap(element.rect, listener, tag, 1, bitmap->getHeight(), bitmap, origin);
}

void CoreMbit::setvl(double value) {
    if (!std::isfinite(value)) return;
    if (iCount == 1) {
        if (oElements[0].control) oElements[0].control->setValue(float(value));
        return;
    }
    if (iCount == 0 || value == dValue) {
        dValue = value;
        return;
    }
    dValue = value;
    // The tolerance lets k / count show element k although count × (k / count) may round below k.
    const double scaled = std::trunc(double(iCount) * value + 1e-9);
    const int k = int(std::clamp(scaled, 0.0, double(iCount - 1)));
    if (k == iShown) return;
    if (iShown >= 0) {
        ELEMENT& old = oElements[size_t(iShown)];
        if (old.control && pFrame) pFrame->removeView(old.control, false);
        old.attached = false;
    }
    ELEMENT& shown = oElements[size_t(k)];
    if (shown.control && pFrame) pFrame->addView(shown.control);
    shown.attached = true;
    iShown = k;
}

double CoreMbit::getvl() const {
    if (iCount == 1) return oElements[0].control ? double(oElements[0].control->getValue()) : 0.0;
    return dValue;
}

CMovieBitmap* CoreMbit::getct(int index) const {
    return index >= 0 && index < iCount ? oElements[size_t(index)].control : nullptr;
}
