#include "base/CoreDnrm.h"

#include <gtest/gtest.h>

#include <xmmintrin.h>

#include <atomic>
#include <thread>

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

TEST(CoreDnrm, LeavesOtherThreadsAlone) {
    const unsigned saved = _mm_getcsr();
    setModes(0);
    std::atomic<int> stage{0};
    unsigned otherInside = 99;
    std::thread other([&] {
        while (stage.load() != 1) std::this_thread::yield();
        otherInside = modes();
        stage.store(2);
    });
    {
        CoreDnrm guard;
        stage.store(1);
        while (stage.load() != 2) std::this_thread::yield();
    }
    other.join();
    EXPECT_EQ(otherInside, 0u);
    _mm_setcsr(saved);
}
