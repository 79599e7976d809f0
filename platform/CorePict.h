// CorePict: an owned 32-bit picture: width x height pixels of 8-bit R, G, B, A (alpha not
// premultiplied), rows top to bottom without padding. Made by the image loader and owned by its
// caller, who deletes it; the editor's bitmaps draw from it. Not thread-safe; immutable in use.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

class CorePict {
public:
    static constexpr int iCbytesperpixel = 4;

    // Zeroed pixels; a size below 1 in either direction gives an empty picture. pixels() is null
    // when memory is short (the PNG decoder checks its limits before it asks).
    CorePict(int32_t width, int32_t height);
    CorePict(const CorePict&) = delete;
    CorePict& operator=(const CorePict&) = delete;

    int32_t width() const { return iWidth; }
    int32_t height() const { return iHeight; }
    size_t bytes() const {
        return static_cast<size_t>(iWidth) * static_cast<size_t>(iHeight) * iCbytesperpixel;
    }
    uint8_t* pixels() { return pPixels.get(); } // null when memory was short
    const uint8_t* pixels() const { return pPixels.get(); }
    // The pixel at column x, row y (row 0 at the top); no bounds check.
    const uint8_t* pixel(int32_t x, int32_t y) const {
        return pPixels.get() +
               (static_cast<size_t>(y) * static_cast<size_t>(iWidth) + static_cast<size_t>(x)) *
                   iCbytesperpixel;
    }

private:
    int32_t iWidth;
    int32_t iHeight;
    std::unique_ptr<uint8_t[]> pPixels;
};
