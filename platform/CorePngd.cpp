#include "platform/CorePngd.h"

#include "platform/CorePict.h"

#include <png.h>

#include <cstring>
#include <memory>
#include <new>

bool CorePngd::ispng(const uint8_t* data, size_t size) {
    return data != nullptr && size >= sizeof(iCsignature) &&
           std::memcmp(data, iCsignature, sizeof(iCsignature)) == 0;
}

CorePict* CorePngd::decod(const uint8_t* data, size_t size) {
    if (!ispng(data, size)) return nullptr;
    png_image image;
    std::memset(&image, 0, sizeof(image));
    image.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&image, data, size)) return nullptr; // freed by libpng
    const int64_t width = image.width;
    const int64_t height = image.height;
    if (width < 1 || height < 1 || width > iCmaxside || height > iCmaxside || width * height > iCmaxpixels) {
        png_image_free(&image);
        return nullptr;
    }
    image.format = PNG_FORMAT_RGBA;
    // Without this flag libpng takes 16-bit samples as linear light and gamma-encodes them.
    image.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    std::unique_ptr<CorePict> picture(
        new (std::nothrow) CorePict(static_cast<int32_t>(width), static_cast<int32_t>(height)));
    if (!picture || picture->pixels() == nullptr) {
        png_image_free(&image);
        return nullptr;
    }
    const png_int_32 stride = static_cast<png_int_32>(width * CorePict::iCbytesperpixel);
    const bool decoded = png_image_finish_read(&image, nullptr, picture->pixels(), stride, nullptr) != 0;
    png_image_free(&image); // already done by finish_read; harmless and keeps every path explicit
    return decoded ? picture.release() : nullptr;
}
