// CorePngd: decodes PNG bytes into a CorePict through libpng's simplified reading interface (every
// libpng failure comes back as a result, so no longjmp crosses our frames). Other image formats are
// not read. Static members only; any number of threads may decode at once.
#pragma once
#include <cstddef>
#include <cstdint>

class CorePict;

class CorePngd {
public:
    static constexpr int32_t iCmaxside = 16384;       // pixels per row or column at most
    static constexpr int64_t iCmaxpixels = 1LL << 24; // pixels per picture at most
    static constexpr uint8_t iCsignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

    // The picture (owned by the caller) or null: not a PNG, damaged or truncated data, a width or
    // height of 0 or above iCmaxside, or more than iCmaxpixels pixels. The size is checked from the
    // header before any pixel memory is taken. 16-bit samples become v / 257 rounded; 8-bit files
    // without colour-space data keep their values exactly.
    static CorePict* decod(const uint8_t* data, size_t size);
    // Whether the bytes begin with the PNG signature.
    static bool ispng(const uint8_t* data, size_t size);
};
