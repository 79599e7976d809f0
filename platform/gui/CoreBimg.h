// CoreBimg: the built-in images by number: the panel, LEDs, slider and pad handles, program
// buttons and the three font strips, drawn here from own shapes and colours. Each is made on first
// use and kept, read-only, for the rest of the process. Thread-safe.
#pragma once
#include <cstdint>

class CorePict;
typedef struct _cairo_surface cairo_surface_t;

class CoreBimg {
public:
    // The picture of a number; null for a number without a built-in image.
    static const CorePict* picture(int32_t number);
    // Its premultiplied surface, shared (take a reference to keep it); null as above.
    static cairo_surface_t* surface(int32_t number);
};
