// CKickButton: a push button of two stacked images (0 up, 1 pressed). Shown pressed while a press
// on it is held with the pointer inside; a release inside sets the value to 1 and tells the
// listener, then to 0 and tells it again; a release outside does nothing. Runs under the frame's lock.
#pragma once
#include "platform/gui/CControl.h"

class CKickButton : public CControl {
public:
    CKickButton(const CRect& size, CControlListener* listener, int32_t tag, int32_t heightOfOneImage,
                CBitmap* background, CPoint& offset);
    void draw(CDrawContext* context) override;
    void mouse(CDrawContext* context, CPoint& where, int32_t buttons) override;
    void onMouseMoved(CDrawContext* context, CPoint& where) override;
    void onMouseUp(CDrawContext* context, CPoint& where) override;

private:
    int32_t iHeightOfOneImage;
    CPoint cOffset;
    bool bHeld = false;
    bool bInside = false;
};
