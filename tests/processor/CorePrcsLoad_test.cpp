// Program loading: every kind of slot through ldpdm/setpg, the fall-back to slot 0, what a load
// rebuilds, the control binding, failures that must leave every lock free and no freed kernel
// playing, and the audio thread meanwhile.
#include "processor/CorePrcs.h"

#include "HostBlocks.h"
#include "ProgramFolder.h"
#include "base/CoreSmph.h"
#include "convolution/CoreCnvl.h"
#include "filestore/CoreFsys.h"
#include "modulation/CoreIfce.h"
#include "program/CoreProg.h"

#include <gtest/gtest.h>

#include "base/CoreLog_.h"
#include <atomic>
#include <thread>

namespace {

class CorePrcsLoad : public ProgramFolderTest {
protected:
    // Both engine locks and the pass-through lock can be taken at once (and are given back).
    static bool locksFree(CorePrcs& e) {
        for (CoreSmph* lock : {&Access::engineLock(e), &Access::blockLock(e), &Access::passLock(e)}) {
            if (!lock->locka()) return false;
            lock->relse();
        }
        return true;
    }
    // One host call of n frames of a constant; returns the left output.
    static std::vector<float> hostCall(CorePrcs& e, int32_t n, float value) {
        std::vector<float> inL(n, value), inR(n, value), outL(n, -9.0f), outR(n, -9.0f);
        void* in[2] = {inL.data(), inR.data()};
        void* out[2] = {outL.data(), outR.data()};
        e.prcss(in, out, n, true, 1, 120.0, false, 2);
        return outL;
    }
};

TEST_F(CorePrcsLoad, EverySlotLoadsOrFallsBackToSlotZero) {
    struct Row {
        int32_t slot;
        bool result, fallback;
        int32_t current, loaded;
        int16_t harmonics;
        const char* name;
    };
    const Row rows[] = {
        {kInit, true, false, kInit, kInit, 1, "Init"},
        {kThree, true, false, kThree, kThree, 3, "Three"},
        {kPacked, true, false, kPacked, kPacked, 3, "Packed"},
        {kBeside, true, false, kBeside, kBeside, 1, "Beside"},
        {kAlternative, true, false, kAlternative, kAlternative, 1, "Alt"},
        {kMissing, true, true, kMissing, kInit, 1, "Init"},
        {kEmpty, true, true, kEmpty, kInit, 1, "Init"},
        {-1, true, true, 0, kInit, 1, "Init"},
        {10000, true, true, 0, kInit, 1, "Init"},
    };
    auto e = loaded("<HDIM>3</HDIM>");
    ASSERT_FALSE(e->isfailed());
    for (const Row& r : rows) {
        SCOPED_TRACE(r.slot);
        Access::stateChanged(*e).store(false);
        EXPECT_EQ(e->setpg(r.slot, false), r.slot);
        EXPECT_EQ(e->getls(), r.loaded);
        EXPECT_EQ(Access::currentSlot(*e), r.current);
        EXPECT_TRUE(Access::stateChanged(*e).load());
        EXPECT_EQ(std::string(Access::program(*e).getnm().c_str()), r.name);
        EXPECT_EQ(Access::harmonicsInUse(*e), r.harmonics);
        EXPECT_TRUE(Access::programReady(*e));
        EXPECT_TRUE(locksFree(*e));
        EXPECT_FALSE(e->getby());
    }
}

} // namespace
