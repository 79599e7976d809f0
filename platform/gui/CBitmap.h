// CBitmap: an image views draw from: a built-in image by number (shared, read-only) or a picture
// it takes over, kept as a premultiplied surface made once when it is set. Reference counted from
// 1: forget() at the last reference deletes it; the count is atomic, all else is guarded by the
// caller's lock like the rest of the frame.
#pragma once
#include "platform/gui/CDrawContext.h"
#include "platform/gui/CRect.h"

#include <atomic>
#include <cstdint>
#include <memory>

class CorePict;

class CBitmap {
public:
    // The built-in image of the number (CoreBimg); 0 or an unknown number gives an empty bitmap.
    explicit CBitmap(int32_t number);
    virtual ~CBitmap();
    CBitmap(const CBitmap&) = delete;
    CBitmap& operator=(const CBitmap&) = delete;

    // Takes the picture (null empties the bitmap); noAlpha draws every pixel opaque.
    void setImage(CorePict* picture, bool noAlpha);
    void setNoAlpha(bool noAlpha);
    bool getNoAlpha() const { return bNoAlpha; }
    // The picture drawn from: the one set, else the built-in one; null when empty.
    const CorePict* getPicture() const { return pPicture; }
    int32_t getWidth() const;
    int32_t getHeight() const;
    bool isLoaded() const { return pSurface != nullptr; }

    // Paints the bitmap with its pixel (offset) at dest's top-left, only where dest and the image
    // overlap.
    void draw(CDrawContext* context, const CRect& dest, const CPoint& offset = CPoint());

    void remember() { iReferences.fetch_add(1, std::memory_order_relaxed); }
    void forget();
    int32_t getNbReference() const { return iReferences.load(std::memory_order_relaxed); }

private:
    void rebuild();

    std::atomic<int32_t> iReferences{1};
    int32_t iNumber;
    std::unique_ptr<CorePict> pOwned;
    const CorePict* pPicture = nullptr;
    bool bBuiltIn = false;
    bool bNoAlpha = false;
    cairo_surface_t* pSurface = nullptr;
};
