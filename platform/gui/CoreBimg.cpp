#include "platform/gui/CoreBimg.h"

#include "platform/CorePict.h"
#include "platform/gui/CColor.h"
#include "platform/gui/CDrawContext.h"
#include "platform/gui/CoreGlyf.h"

#include <cairo.h>
#include <cmath>
#include <map>
#include <memory>
#include <mutex>

namespace {

// Straight-alpha painting into a picture; everything outside it is ignored.
class Painter {
public:
    Painter(int32_t width, int32_t height) : pict(std::make_unique<CorePict>(width, height)) {}

    void fill(int32_t left, int32_t top, int32_t width, int32_t height, CColor c) {
        for (int32_t y = top; y < top + height; ++y)
            for (int32_t x = left; x < left + width; ++x) put(x, y, c);
    }
    void frame(int32_t left, int32_t top, int32_t width, int32_t height, CColor c) {
        fill(left, top, width, 1, c);
        fill(left, top + height - 1, width, 1, c);
        fill(left, top, 1, height, c);
        fill(left + width - 1, top, 1, height, c);
    }
    // A disc centred in the box; pixels on its rim get half the alpha.
    void disc(int32_t left, int32_t top, int32_t size, CColor c) {
        const double centre = (size - 1) / 2.0, radius = size / 2.0;
        for (int32_t y = 0; y < size; ++y)
            for (int32_t x = 0; x < size; ++x) {
                const double d = std::hypot(x - centre, y - centre);
                if (d <= radius - 1.0) put(left + x, top + y, c);
                else if (d <= radius) put(left + x, top + y, CColor{c.red, c.green, c.blue, uint8_t(c.alpha / 2)});
            }
    }
    // The glyph of a code at (left, top), each dot scale × scale pixels.
    void glyph(int32_t code, int32_t left, int32_t top, int32_t scale, CColor c) {
        const auto rows = CoreGlyf::cell(code);
        for (int32_t r = 0; r < CoreGlyf::iCheight; ++r)
            for (int32_t col = 0; col < CoreGlyf::iCwidth; ++col)
                if (rows[size_t(r)] & (1u << col)) fill(left + col * scale, top + r * scale, scale, scale, c);
    }
    std::unique_ptr<CorePict> take() { return std::move(pict); }

private:
    void put(int32_t x, int32_t y, CColor c) {
        if (x < 0 || y < 0 || x >= pict->width() || y >= pict->height() || !pict->pixels()) return;
        uint8_t* p = pict->pixels() + (size_t(y) * size_t(pict->width()) + size_t(x)) * 4;
        p[0] = c.red, p[1] = c.green, p[2] = c.blue, p[3] = c.alpha;
    }
    std::unique_ptr<CorePict> pict;
};

CColor dim(CColor c, int step) { // step 0 lit, 1 half, 2 dark
    const int keep[] = {100, 55, 22};
    auto scale = [&](uint8_t v) { return uint8_t(v * keep[step] / 100); };
    return CColor{scale(c.red), scale(c.green), scale(c.blue), c.alpha};
}

// Three frames stacked vertically, lit to dark, each a bordered lamp.
std::unique_ptr<CorePict> lampStrip(int32_t width, int32_t frameHeight, CColor lit) {
    Painter p(width, frameHeight * 3);
    for (int k = 0; k < 3; ++k) {
        const int32_t top = k * frameHeight;
        p.fill(0, top, width, frameHeight, CColor{24, 24, 24, 255});
        p.fill(1, top + 1, width - 2, frameHeight - 2, dim(lit, k));
        p.frame(0, top, width, frameHeight, CColor{70, 70, 70, 255});
    }
    return p.take();
}

std::unique_ptr<CorePict> darkLamp(CColor c) {
    Painter p(12, 12);
    p.fill(0, 0, 12, 12, CColor{24, 24, 24, 255});
    p.fill(1, 1, 10, 10, c);
    p.frame(0, 0, 12, 12, CColor{70, 70, 70, 255});
    return p.take();
}

std::unique_ptr<CorePict> panel(CColor accent) {
    Painter p(900, 290);
    p.fill(0, 0, 900, 290, CColor{46, 50, 58, 255});
    p.fill(0, 0, 900, 3, accent);
    p.fill(0, 287, 900, 3, CColor{30, 32, 38, 255});
    // The character display at (194, 53): 58 × 14 cells of 6 × 12 with its margins.
    p.fill(188, 47, 360, 177, CColor{12, 22, 16, 255});
    p.frame(187, 46, 362, 179, accent);
    p.fill(592, 38, 153, 45, CColor{12, 22, 16, 255}); // the readout area
    for (int i = 0; i < 8; ++i) p.fill(606 + 38 * i, 80, 5, 196, CColor{20, 20, 24, 255}); // slider wells
    for (int i = 0; i < 2; ++i) {
        p.fill(55 + 58 * i, 142, 54, 134, CColor{36, 38, 44, 255});
        p.fill(80 + 58 * i, 142, 5, 134, CColor{20, 20, 24, 255});
    }
    p.fill(40, 8, 140, 126, CColor{34, 36, 42, 255}); // meters
    return p.take();
}

std::unique_ptr<CorePict> font(int32_t glyphs, bool extraCodes, int32_t scale, bool inverted) {
    const int32_t w = CoreGlyf::iCwidth * scale, h = CoreGlyf::iCheight * scale;
    const CColor ink = inverted ? CColor{16, 28, 20, 255} : CColor{120, 255, 160, 255};
    const CColor paper = inverted ? CColor{120, 255, 160, 255} : CColor{12, 22, 16, 255};
    Painter p(w, h * glyphs);
    p.fill(0, 0, w, h * glyphs, paper);
    for (int32_t g = 0; g < glyphs; ++g) p.glyph(CoreGlyf::character(g, extraCodes), 0, g * h, scale, ink);
    return p.take();
}

std::unique_ptr<CorePict> sliderHandle() {
    Painter p(17, 36);
    p.fill(0, 0, 17, 36, CColor{150, 156, 166, 128}); // translucent rim
    p.fill(1, 1, 15, 34, CColor{196, 200, 210, 255});
    p.fill(1, 17, 15, 2, CColor{20, 20, 20, 255});    // the grip line
    p.fill(1, 1, 15, 1, CColor{240, 240, 245, 255});
    return p.take();
}

std::unique_ptr<CorePict> padHandle(CColor c) {
    Painter p(15, 15);
    p.disc(0, 0, 15, c);
    p.disc(5, 5, 5, CColor{255, 255, 255, 255});
    return p.take();
}

std::unique_ptr<CorePict> programButton(int32_t label) {
    Painter p(30, 32);
    for (int k = 0; k < 2; ++k) { // up, pressed (darker, label one pixel lower)
        const int32_t top = 16 * k;
        p.fill(0, top, 30, 16, k ? CColor{96, 100, 110, 255} : CColor{170, 174, 184, 255});
        p.frame(0, top, 30, 16, CColor{40, 40, 44, 255});
        const CColor ink{10, 10, 12, 255};
        if (label < 10) p.glyph('0' + label, 12, top + 1 + k, 1, ink);
        else {
            p.glyph('0' + label / 10, 9, top + 1 + k, 1, ink);
            p.glyph('0' + label % 10, 15, top + 1 + k, 1, ink);
        }
    }
    return p.take();
}

std::unique_ptr<CorePict> make(int32_t n) {
    if (n == 99) return panel(CColor{90, 140, 200, 255});
    if (n == 100) return panel(CColor{210, 150, 60, 255});
    if (n == 101) return lampStrip(12, 12, CColor{255, 48, 40, 255});
    if (n == 102) return lampStrip(12, 12, CColor{255, 210, 40, 255});
    if (n == 103) return sliderHandle();
    if (n == 200) return font(CoreGlyf::iCglyphs, true, 1, false);
    if (n == 201) return font(CoreGlyf::iCcommonglyphs, false, 1, true);
    if (n == 202) return font(CoreGlyf::iCglyphs, true, 2, false);
    if (n == 210) return padHandle(CColor{255, 140, 30, 255});
    if (n == 211) return padHandle(CColor{40, 200, 255, 255});
    if (n >= 300 && n < 320) return n % 2 == 0 ? programButton((n - 300) / 2 + 1) : lampStrip(10, 10, CColor{60, 255, 90, 255});
    if (n == 400) return darkLamp(CColor{90, 20, 20, 255});
    if (n == 401) return darkLamp(CColor{90, 80, 20, 255});
    if (n == 800) return lampStrip(10, 8, CColor{70, 150, 255, 255});
    if (n >= 900 && n < 1000) {
        const int32_t level = n - 900;
        const CColor c = level == 0 ? CColor{255, 40, 40, 255} : level <= 2 ? CColor{255, 180, 30, 255} : CColor{60, 230, 80, 255};
        return lampStrip(20, 8, c);
    }
    return nullptr;
}

struct Entry {
    std::unique_ptr<CorePict> picture;
    cairo_surface_t* surface = nullptr; // kept until the module is unloaded or the process ends
};

// Freed when the module holding the layer is unloaded (a host unloads a plug-in after a scan),
// so that repeated loads leave nothing behind.
struct Made : std::map<int32_t, Entry> {
    ~Made() {
        for (auto& [number, made] : *this)
            if (made.surface) cairo_surface_destroy(made.surface);
    }
};

const Entry* entry(int32_t number) {
    static std::mutex lock;
    static Made images;
    Made* made = &images;
    static const Entry none;
    std::lock_guard<std::mutex> hold(lock);
    auto found = made->find(number);
    if (found == made->end()) {
        Entry e;
        e.picture = make(number);
        if (!e.picture) return &none; // only the known numbers are kept
        e.surface = CDrawContext::surfaceFrom(*e.picture, false);
        found = made->emplace(number, std::move(e)).first;
    }
    return &found->second;
}

} // namespace

const CorePict* CoreBimg::picture(int32_t number) { return entry(number)->picture.get(); }

cairo_surface_t* CoreBimg::surface(int32_t number) { return entry(number)->surface; }
