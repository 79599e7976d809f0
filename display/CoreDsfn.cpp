#include "display/CoreDsfn.h"

CoreDsfn::CoreDsfn(short dx, short dy) : iDx(dx), iDy(dy), iGlyphs{}, iLargest(0), dScale(1.0) {}

void CoreDsfn::setrs(short code, int glyph) {
    iGlyphs[code & 0xFF] = glyph;
    if (glyph > iLargest) {
        iLargest = glyph;
        dScale = 1.0 / (glyph + 1);
    }
}
