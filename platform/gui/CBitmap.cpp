#include "platform/gui/CBitmap.h"

#include "platform/CorePict.h"
#include "platform/gui/CoreBimg.h"

#include <cairo.h>

CBitmap::CBitmap(int32_t number)
    : iNumber(number), pPicture(CoreBimg::picture(number)), bBuiltIn(pPicture != nullptr) {
    rebuild();
}

CBitmap::~CBitmap() {
    if (pSurface) cairo_surface_destroy(pSurface);
}

void CBitmap::setImage(CorePict* picture, bool noAlpha) {
    pOwned.reset(picture);
    pPicture = picture;
    bBuiltIn = false;
    bNoAlpha = noAlpha;
    rebuild();
}

void CBitmap::setNoAlpha(bool noAlpha) {
    if (noAlpha == bNoAlpha) return;
    bNoAlpha = noAlpha;
    rebuild();
}

int32_t CBitmap::getWidth() const { return pSurface ? cairo_image_surface_get_width(pSurface) : 0; }

int32_t CBitmap::getHeight() const { return pSurface ? cairo_image_surface_get_height(pSurface) : 0; }

void CBitmap::draw(CDrawContext* context, const CRect& dest, const CPoint& offset) {
    if (context && pSurface) context->drawSurface(pSurface, dest, offset);
}

void CBitmap::forget() {
    if (iReferences.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
}

void CBitmap::rebuild() {
    if (pSurface) cairo_surface_destroy(pSurface);
    pSurface = nullptr;
    if (!pPicture) return;
    if (bBuiltIn && !bNoAlpha) {
        // The built-in image's shared surface; painting only reads it.
        pSurface = CoreBimg::surface(iNumber);
        if (pSurface) cairo_surface_reference(pSurface);
        return;
    }
    pSurface = CDrawContext::surfaceFrom(*pPicture, bNoAlpha);
}
