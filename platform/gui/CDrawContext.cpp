#include "platform/gui/CDrawContext.h"

#include "platform/CorePict.h"

#include <algorithm>
#include <cairo.h>
#include <cmath>
#include <cstdlib>

namespace {

void setColor(cairo_t* cr, const CColor& c) {
    cairo_set_source_rgba(cr, c.red / 255.0, c.green / 255.0, c.blue / 255.0, c.alpha / 255.0);
}

// The part of [from, to) inside [0, limit), computed wide so that far-off coordinates never reach
// cairo's fixed-point numbers.
bool clampSpan(int64_t& from, int64_t& to, int64_t limit) {
    from = std::max<int64_t>(from, 0);
    to = std::min<int64_t>(to, limit);
    return from < to;
}

} // namespace

CDrawContext::CDrawContext(int32_t width, int32_t height)
    : iWidth(std::max(width, 0)), iHeight(std::max(height, 0)),
      pSurface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, iWidth, iHeight)),
      pCairo(cairo_create(pSurface)) {
    cairo_set_antialias(pCairo, CAIRO_ANTIALIAS_NONE);
}

CDrawContext::~CDrawContext() {
    cairo_destroy(pCairo);
    cairo_surface_destroy(pSurface);
}

void CDrawContext::fillRect(const CRect& rect, const CColor& color) {
    int64_t left = rect.left, right = rect.right, top = rect.top, bottom = rect.bottom;
    if (rect.isEmpty() || !clampSpan(left, right, iWidth) || !clampSpan(top, bottom, iHeight)) return;
    setColor(pCairo, color);
    cairo_rectangle(pCairo, double(left), double(top), double(right - left), double(bottom - top));
    cairo_fill(pCairo);
}

void CDrawContext::drawLine(const CPoint& from, const CPoint& to, const CColor& color) {
    // Far-off ends would overflow cairo's coordinates; the layer draws short lines only.
    constexpr int32_t kReach = 1 << 20;
    auto far = [](const CPoint& p) { return std::abs(int64_t(p.x)) > kReach || std::abs(int64_t(p.y)) > kReach; };
    if (far(from) || far(to)) return;
    setColor(pCairo, color);
    if (from == to) {
        cairo_rectangle(pCairo, from.x, from.y, 1, 1);
        cairo_fill(pCairo);
        return;
    }
    // Extends the segment by half a pixel at both ends so that the end pixels are covered.
    const double dx = to.x - from.x, dy = to.y - from.y;
    const double length = std::sqrt(dx * dx + dy * dy);
    const double ex = dx / length * 0.5, ey = dy / length * 0.5;
    cairo_set_line_width(pCairo, 1.0);
    cairo_set_line_cap(pCairo, CAIRO_LINE_CAP_BUTT);
    cairo_move_to(pCairo, from.x + 0.5 - ex, from.y + 0.5 - ey);
    cairo_line_to(pCairo, to.x + 0.5 + ex, to.y + 0.5 + ey);
    cairo_stroke(pCairo);
}

void CDrawContext::drawSurface(cairo_surface_t* surface, const CRect& dest, const CPoint& offset) {
    if (!surface || dest.isEmpty()) return;
    // Where the surface lies on this image; the paint covers dest, the surface and the image.
    const int64_t originX = int64_t(dest.left) - offset.x, originY = int64_t(dest.top) - offset.y;
    int64_t left = std::max<int64_t>(dest.left, originX);
    int64_t right = std::min<int64_t>(dest.right, originX + cairo_image_surface_get_width(surface));
    int64_t top = std::max<int64_t>(dest.top, originY);
    int64_t bottom = std::min<int64_t>(dest.bottom, originY + cairo_image_surface_get_height(surface));
    if (left >= right || top >= bottom || !clampSpan(left, right, iWidth) || !clampSpan(top, bottom, iHeight))
        return;
    cairo_save(pCairo);
    cairo_set_source_surface(pCairo, surface, double(originX), double(originY));
    cairo_pattern_set_filter(cairo_get_source(pCairo), CAIRO_FILTER_NEAREST);
    cairo_rectangle(pCairo, double(left), double(top), double(right - left), double(bottom - top));
    cairo_fill(pCairo);
    cairo_restore(pCairo);
}

const uint8_t* CDrawContext::getData() const {
    cairo_surface_flush(pSurface);
    return cairo_image_surface_get_data(pSurface);
}

int32_t CDrawContext::getStride() const { return cairo_image_surface_get_stride(pSurface); }

CColor CDrawContext::getPixel(int32_t x, int32_t y) const {
    const uint8_t* row = getData() + size_t(y) * size_t(getStride());
    uint32_t pixel;
    std::copy_n(row + size_t(x) * 4, 4, reinterpret_cast<uint8_t*>(&pixel));
    const uint32_t a = pixel >> 24;
    auto unpremultiply = [a](uint32_t v) { return uint8_t(a ? (v * 255 + a / 2) / a : 0); };
    return CColor{unpremultiply((pixel >> 16) & 0xFF), unpremultiply((pixel >> 8) & 0xFF),
                  unpremultiply(pixel & 0xFF), uint8_t(a)};
}

bool CDrawContext::writePng(const char* path) const {
    cairo_surface_flush(pSurface);
    return cairo_surface_write_to_png(pSurface, path) == CAIRO_STATUS_SUCCESS;
}

cairo_surface_t* CDrawContext::surfaceFrom(const CorePict& picture, bool noAlpha) {
    if (picture.width() < 1 || picture.height() < 1 || !picture.pixels()) return nullptr;
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, picture.width(), picture.height());
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        return nullptr;
    }
    cairo_surface_flush(surface);
    uint8_t* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int32_t y = 0; y < picture.height(); ++y) {
        uint32_t* row = reinterpret_cast<uint32_t*>(data + size_t(y) * size_t(stride));
        for (int32_t x = 0; x < picture.width(); ++x) {
            const uint8_t* p = picture.pixel(x, y);
            const uint32_t a = noAlpha ? 255u : p[3];
            auto premultiply = [a](uint32_t v) { return (v * a + 127) / 255; };
            row[x] = (a << 24) | (premultiply(p[0]) << 16) | (premultiply(p[1]) << 8) | premultiply(p[2]);
        }
    }
    cairo_surface_mark_dirty(surface);
    return surface;
}
