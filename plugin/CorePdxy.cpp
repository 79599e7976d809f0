#include "plugin/CorePdxy.h"

#include <algorithm>
#include <cmath>

#include "platform/gui/CBitmap.h"
#include "platform/gui/CControlListener.h"
#include "platform/gui/CoreGevt.h"

CorePdxy::CorePdxy(const CRect& view, const CRect& area, CControlListener* listener, int32_t tagx,
                   int32_t tagy, int32_t tagout1, int32_t tagout2, CBitmap* handle, CBitmap* background,
                   const CPoint& offset, std::vector<MAPENTRY>* map)
    : CView(view), pHandle(handle), pMap(map), pListener(listener), cArea(area),
      dWidth(double(area.right) - double(area.left)), dHeight(double(area.bottom) - double(area.top)) {
    if (pHandle) pHandle->remember();
    setBackground(background);
    setBackOffset(offset);
    pX = std::make_unique<CorePdct>(view, listener, tagx);
    pY = std::make_unique<CorePdct>(view, listener, tagy);
    if (pMap) {
        pOut1 = std::make_unique<CorePdct>(view, listener, tagout1);
        pOut2 = std::make_unique<CorePdct>(view, listener, tagout2);
    }
}

CorePdxy::~CorePdxy() {
    if (pHandle) pHandle->forget();
}

CorePdct* CorePdxy::getho(int holder) const {
    switch (holder) {
    case 0: return pX.get();
    case 1: return pY.get();
    case 2: return pOut1.get();
    case 3: return pOut2.get();
    default: return nullptr;
    }
}

void CorePdxy::draw(CDrawContext* context) {
    CView::draw(context);
    if (pHandle) {
        const int32_t centreX = cArea.left + int32_t(std::trunc(double(pX->getValue()) * dWidth));
        const int32_t centreY = cArea.top + int32_t(std::trunc(double(pY->getValue()) * dHeight));
        const int32_t w = pHandle->getWidth(), h = pHandle->getHeight();
        pHandle->draw(context, CRect(centreX - w / 2, centreY - h / 2, centreX + w - w / 2, centreY + h - h / 2));
    }
    setDirty(false);
}

void CorePdxy::mouse(CDrawContext* context, CPoint& where, int32_t buttons) {
    if (!getMouseEnabled() || !(buttons & kLButton)) return;
    bDragging = true;
    drag(context, where);
}

void CorePdxy::onMouseMoved(CDrawContext* context, CPoint& where) {
    if (bDragging && (context->getMouseButtons() & kLButton)) drag(context, where);
}

void CorePdxy::onMouseUp(CDrawContext* context, CPoint& where) {
    (void)context, (void)where;
    bDragging = false;
}

void CorePdxy::tell(CDrawContext* context, CorePdct* holder) {
    if (pListener && holder && holder->getTag() >= 0) pListener->valueChanged(context, holder);
}

void CorePdxy::drag(CDrawContext* context, const CPoint& where) {
    const double x = std::clamp((double(where.x) - double(cArea.left)) / dWidth, 0.0, 1.0);
    const double y = std::clamp((double(where.y) - double(cArea.top)) / dHeight, 0.0, 1.0);
    pX->setValue(float(x));
    pY->setValue(float(y));
    tell(context, pX.get());
    tell(context, pY.get());
    map__();
    if (pMap) {
        tell(context, pOut1.get());
        tell(context, pOut2.get());
    }
    setDirty();
}

void CorePdxy::setvl(int axis, float value) {
    (axis == 0 ? pX : pY)->setValue(value);
    map__();
    setDirty();
}

void CorePdxy::map__() {
    if (!pMap || pMap->empty()) return;
    const double x = pX->getValue(), y = pY->getValue();
    int nearest[2] = {-1, -1};
    for (size_t i = 0; i < pMap->size(); ++i) {
        MAPENTRY& entry = (*pMap)[i];
        entry.distance = (x - entry.x) * (x - entry.x) + (y - entry.y) * (y - entry.y);
        const int index = int(i);
        if (nearest[0] < 0 || entry.distance < (*pMap)[size_t(nearest[0])].distance) {
            nearest[1] = nearest[0];
            nearest[0] = index;
        } else if (nearest[1] < 0 || entry.distance < (*pMap)[size_t(nearest[1])].distance) {
            nearest[1] = index;
        }
    }
    const MAPENTRY& first = (*pMap)[size_t(nearest[0])];
    const MAPENTRY& second = nearest[1] >= 0 ? (*pMap)[size_t(nearest[1])] : first;
    const double d0 = std::sqrt(first.distance), d1 = std::sqrt(second.distance);
    // Both at distance 0 (a map point on another): the earlier entry's values.
    const double t = d0 + d1 > 0.0 ? d0 / (d0 + d1) : 0.0;
    auto output = [](double value) {
        const float f = float(value);
        return std::isnormal(f) ? f : 0.0f;
    };
    pOut1->setValue(output(t * (second.u - first.u) + first.u));
    pOut2->setValue(output(t * (second.v - first.v) + first.v));
}
