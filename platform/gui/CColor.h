// CColor: an 8-bit colour with straight (not premultiplied) alpha, 255 opaque. A plain value.
#pragma once
#include <cstdint>

struct CColor {
    uint8_t red = 0;
    uint8_t green = 0;
    uint8_t blue = 0;
    uint8_t alpha = 255;
    bool operator==(const CColor&) const = default;
};
