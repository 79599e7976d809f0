// CAnimKnob: a knob drawn as one image of a strip of view-high images, chosen by its value; a
// vertical drag of 200 pixels covers the range (up raises), a wheel step moves it by 0.1. The
// offset of the constructor is ignored: the strip starts at its top. Runs under the frame's lock.
#pragma once
#include "platform/gui/CControl.h"

class CAnimKnob : public CControl {
public:
    CAnimKnob(const CRect& size, CControlListener* listener, int32_t tag, CBitmap* background, CPoint& offset);
    void draw(CDrawContext* context) override;
    void mouse(CDrawContext* context, CPoint& where, int32_t buttons) override;
    void onMouseMoved(CDrawContext* context, CPoint& where) override;
    void onMouseUp(CDrawContext* context, CPoint& where) override;
    bool onWheel(CDrawContext* context, const CPoint& where, CMouseWheelAxis axis, float distance) override;

    int32_t getFrameCount() const;

private:
    bool bDragging = false;
    int32_t iStartY = 0;
    float fStartValue = 0.0f;
};
