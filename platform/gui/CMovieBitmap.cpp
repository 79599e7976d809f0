#include "platform/gui/CMovieBitmap.h"

#include "platform/gui/CBitmap.h"

#include <algorithm>
#include <limits>

CMovieBitmap::CMovieBitmap(const CRect& size, CControlListener* listener, int32_t tag, int32_t subPixmaps,
                           int32_t heightOfOneImage, CBitmap* background, CPoint& offset)
    : CControl(size, listener, tag, background), iSubPixmaps(subPixmaps), iHeightOfOneImage(heightOfOneImage),
      cOffset(offset) {}

void CMovieBitmap::draw(CDrawContext* context) {
    CBitmap* strip = getBackground();
    if (!strip) return;
    const int64_t row = int64_t(cOffset.y) + int64_t(imageIndex(fValue, iSubPixmaps)) * iHeightOfOneImage;
    // A row beyond the 32-bit range lies outside every strip: nothing to draw.
    if (row < std::numeric_limits<int32_t>::min() || row > std::numeric_limits<int32_t>::max()) return;
    strip->draw(context, cSize, CPoint(cOffset.x, int32_t(row)));
}
