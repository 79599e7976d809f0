// CoreHfsy: turns an image item of a file store (a skin bitmap from a skin container or a loose file)
// into a 32-bit RGBA picture that the editor's bitmaps draw from. PNG is the only format read.
// Static members only; the caller serialises calls on one store.
#pragma once
#include "base/CoreAnsx.h"
#include <cstdint>

class CoreFsys;
class CorePict;

class CoreHfsy {
public:
    // The picture (owned by the caller, who deletes it) or null: a missing or unreadable item, bytes
    // that are not a whole PNG, or a size beyond the decoder's limits; width, height and notPng are
    // then left as they were. notPng is false when the name's extension is ".png" in any case (the
    // editor draws other pictures opaque).
    static CorePict* ldimg(CoreFsys* store, CoreAnsx name, int32_t& width, int32_t& height, bool& notPng);
};
