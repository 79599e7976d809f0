// CDrawContext: an offscreen image (a cairo ARGB32 surface, premultiplied) and the drawing calls
// of the GUI layer on it: clipped paints of bitmap surfaces at whole pixels with the nearest
// filter, rectangles and lines without antialiasing. Also carries the pointer buttons as of the
// event being dispatched. Owned by its frame (or a popup level); not thread-safe.
#pragma once
#include "platform/gui/CColor.h"
#include "platform/gui/CRect.h"

#include <cstdint>

class CorePict;
typedef struct _cairo cairo_t;
typedef struct _cairo_surface cairo_surface_t;

class CDrawContext {
public:
    // Black, transparent pixels; a size below 0 counts as 0.
    CDrawContext(int32_t width, int32_t height);
    ~CDrawContext();
    CDrawContext(const CDrawContext&) = delete;
    CDrawContext& operator=(const CDrawContext&) = delete;

    int32_t getWidth() const { return iWidth; }
    int32_t getHeight() const { return iHeight; }

    void fillRect(const CRect& rect, const CColor& color);
    // A one-pixel line through the centres of the pixels at both ends, both included.
    void drawLine(const CPoint& from, const CPoint& to, const CColor& color);
    // Paints the surface with its pixel (offset) at dest's top-left corner, only where dest and
    // the surface overlap; a null surface or an empty dest paints nothing.
    void drawSurface(cairo_surface_t* surface, const CRect& dest, const CPoint& offset);

    // The pointer buttons (kLButton ...) as of the event being dispatched.
    int32_t getMouseButtons() const { return iButtons; }
    void setMouseButtons(int32_t buttons) { iButtons = buttons; }

    // The image: native-endian premultiplied ARGB, rows of getStride() bytes, top row first.
    const uint8_t* getData() const;
    int32_t getStride() const;
    size_t getBytes() const { return size_t(getStride()) * size_t(iHeight); }
    cairo_surface_t* getSurface() const { return pSurface; }
    // The straight-alpha colour of one pixel inside the image.
    CColor getPixel(int32_t x, int32_t y) const;
    bool writePng(const char* path) const;

    // A new premultiplied ARGB32 surface of a picture (the caller destroys it); with noAlpha every
    // pixel is opaque with the picture's colour. Null for an empty picture or short memory.
    static cairo_surface_t* surfaceFrom(const CorePict& picture, bool noAlpha);

private:
    int32_t iWidth;
    int32_t iHeight;
    int32_t iButtons = 0;
    cairo_surface_t* pSurface;
    cairo_t* pCairo;
};
