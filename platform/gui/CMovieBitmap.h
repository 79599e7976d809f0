// CMovieBitmap: a control showing one image of a vertical strip of equal images, chosen by its
// value (CControl::imageIndex). Takes no input. Runs under the frame's lock.
#pragma once
#include "platform/gui/CControl.h"

class CMovieBitmap : public CControl {
public:
    // The strip is background; image k starts at row offset.y + k × heightOfOneImage.
    CMovieBitmap(const CRect& size, CControlListener* listener, int32_t tag, int32_t subPixmaps,
                 int32_t heightOfOneImage, CBitmap* background, CPoint& offset);
    void draw(CDrawContext* context) override;

private:
    int32_t iSubPixmaps;
    int32_t iHeightOfOneImage;
    CPoint cOffset;
};
