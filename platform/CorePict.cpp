#include "platform/CorePict.h"

#include <new>

CorePict::CorePict(int32_t width, int32_t height)
    : iWidth(width > 0 && height > 0 ? width : 0), iHeight(width > 0 && height > 0 ? height : 0),
      pPixels(new (std::nothrow) uint8_t[bytes() > 0 ? bytes() : 1]()) {}
