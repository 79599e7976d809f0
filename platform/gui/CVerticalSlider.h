// CVerticalSlider: a handle bitmap moved up and down over a background. minPos and maxPos are the
// rows of the handle's top at the two ends (frame coordinates); style kBottom (64) puts 0 at
// maxPos, any style without it at minPos. A press on the handle drags it; a press beside it first
// centres it on the pointer; a wheel step moves 0.1; no travel ignores input. Runs under the
// frame's lock.
#pragma once
#include "platform/gui/CControl.h"

class CVerticalSlider : public CControl {
public:
    static constexpr int32_t kBottom = 64;

    CVerticalSlider(const CRect& size, CControlListener* listener, int32_t tag, int32_t iMinPos, int32_t iMaxPos,
                    CBitmap* handle, CBitmap* background, CPoint& offset, const int32_t style = kBottom);
    ~CVerticalSlider() override;

    void draw(CDrawContext* context) override;
    void mouse(CDrawContext* context, CPoint& where, int32_t buttons) override;
    void onMouseMoved(CDrawContext* context, CPoint& where) override;
    void onMouseUp(CDrawContext* context, CPoint& where) override;
    bool onWheel(CDrawContext* context, const CPoint& where, CMouseWheelAxis axis, float distance) override;

    // Where the handle is drawn for the current value.
    CRect getHandleRect() const;

private:
    float valueAtTop(int64_t top) const;

    int32_t iMinPos;
    int32_t iMaxPos;
    CBitmap* pHandle;
    int32_t iStyle;
    bool bDragging = false;
    int32_t iGrab = 0; // rows from the handle's top to the pointer
};
