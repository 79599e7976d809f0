// Tests of the denormal guard: nested guards turn flush-to-zero and denormals-are-zero on and each
// restores the modes it found.
#include "base/CoreDnrm.h"

#include <gtest/gtest.h>

#include <xmmintrin.h>

namespace {

constexpr unsigned flushToZero = 0x8000;
constexpr unsigned denormalsAreZero = 0x0040;

unsigned modes() {
    return _mm_getcsr() & (flushToZero | denormalsAreZero);
}

void setModes(unsigned bits) {
    _mm_setcsr((_mm_getcsr() & ~(flushToZero | denormalsAreZero)) | bits);
}

} // namespace

TEST(CoreDnrm, NestedGuardsTurnBothModesOnAndRestoreWhatEachFound) {
    const unsigned saved = _mm_getcsr();
    for (unsigned before : {0u, flushToZero, denormalsAreZero, flushToZero | denormalsAreZero}) {
        setModes(before);
        {
            CoreDnrm outer(CoreDnrm::iCnearest);
            volatile double tiny = 1e-310, one = 1.0;
            EXPECT_EQ(tiny * one, 0.0);
            setModes(denormalsAreZero); // code inside changed the modes
            {
                CoreDnrm inner;
                EXPECT_EQ(modes(), flushToZero | denormalsAreZero);
            }
            EXPECT_EQ(modes(), denormalsAreZero);
        }
        EXPECT_EQ(modes(), before);
    }
    _mm_setcsr(saved);
}
