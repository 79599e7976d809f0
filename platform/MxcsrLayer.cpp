#include "platform/MxcsrLayer.h"

#include <xmmintrin.h>

bool mxcsrFlushToZero() {
    return (_mm_getcsr() & 0x8000u) != 0;
}

bool mxcsrDenormalsAreZero() {
    return (_mm_getcsr() & 0x0040u) != 0;
}
