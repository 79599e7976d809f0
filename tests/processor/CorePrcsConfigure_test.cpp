// Convolver configuration and direct kernel-mode timing: modes and steps per record, common-plan
// groups, the FFT-mode and stage-size setters' refusals, and the timing's choice through a clock seam.
#include "processor/CorePrcs.h"

#include "ProgramFolder.h"
#include "base/CoreSmph.h"
#include "convolution/CoreCnvl.h"
#include "program/CoreProg.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>
#include <vector>

namespace {

class CorePrcsConfigure : public ProgramFolderTest {
protected:
    static bool locksFree(CorePrcs& e) {
        for (CoreSmph* lock : {&Access::engineLock(e), &Access::blockLock(e), &Access::passLock(e)}) {
            if (!lock->locka()) return false;
            lock->relse();
        }
        return true;
    }
};

TEST_F(CorePrcsConfigure, ModesGroupsAndTheWorkBlockFollowTheRequest) {
    auto e = loaded("<HDIM>3</HDIM>");
    ASSERT_TRUE(e->ldpdm(kThree, false));
    struct Row {
        int16_t mode;
        int16_t recordMode;
        bool block; // FFT steps are the third-stage block, direct ones 1 or 2
    };
    const Row rows[] = {{3, 3, false}, {11, 11, true}, {0, 11, true}}; // 0: the current (11) again
    for (const Row& r : rows) {
        SCOPED_TRACE(r.mode);
        ASSERT_TRUE(e->setop(r.mode));
        const auto* records = Access::records(*e);
        for (int h = 0; h < 3; ++h) EXPECT_EQ(records[h].mode, r.recordMode) << h;
        EXPECT_GT(Access::blockStep(*e), 0);
        EXPECT_EQ(Access::blockStep(*e) > 2, r.block);
        EXPECT_EQ(Access::workBlock(*e), Access::blockStep(*e));
        EXPECT_EQ(Access::directMode(*e), r.recordMode);
        EXPECT_FALSE(e->getby());
        EXPECT_TRUE(locksFree(*e));
        // Equal sharing keys form one group; unequal ones stay alone.
        int leaders = 0;
        for (int h = 0; h < 3; ++h) leaders += records[h].role == 0;
        if (!r.block) {
            EXPECT_EQ(leaders, 0);
        }
    }
}

TEST_F(CorePrcsConfigure, RefusedSettersChangeNothing) {
    auto e = loaded();
    ASSERT_TRUE(e->ldpdm(kThree, false));
    const int16_t fft = Access::fftMode(*e);
    EXPECT_FALSE(e->setof(3));  // a direct mode
    EXPECT_FALSE(e->setof(13)); // a GPU mode without the bridge
    EXPECT_EQ(Access::fftMode(*e), fft);
    const auto layout = Access::rings(*e);
    for (const auto& [h, which, us] : std::vector<std::tuple<int16_t, int16_t, double>>{
             {-1, 0, 1000.0}, {5, 0, 1000.0}, {0, 2, 1000.0}, {0, 1, std::nan("")}, {0, 1, 1e300}}) {
        e->setod(h, which, us);
        EXPECT_EQ(Access::rings(*e).readpos, layout.readpos);
        EXPECT_TRUE(locksFree(*e));
    }
}

TEST_F(CorePrcsConfigure, TimingPicksTheFastestModeAndKeepsTheLowerOnATie) {
    struct Row {
        std::vector<double> elapsed; // per timed mode in order
        int16_t failing;             // a mode whose plan fails; 0 none
        int16_t expected;
    };
    // Modes 1..5 all run here (SSE2 on every x86-64).
    const Row rows[] = {
        {{5, 4, 3, 2, 1}, 0, 5},
        {{2, 2, 3, 3, 3}, 0, 1},
        {{3, 1, 2, 2, 2}, 2, 3},
    };
    for (const Row& r : rows) {
        auto e = loaded("<LTIMED>10000</LTIMED>");
        size_t run = 0;
        double now = 0.0;
        bool started = false;
        e->setClockForTest([&] {
            if (!started) {
                started = true;
                return now;
            }
            started = false;
            now += r.elapsed[run++];
            return now;
        });
        e->setPlanFaultForTest([&](int16_t mode) { return mode == r.failing; });
        e->cnfop();
        EXPECT_EQ(Access::directMode(*e), r.expected);
        EXPECT_TRUE(locksFree(*e));
    }
    // Every plan refused: the direct mode stays; the test kernel of 10000 µs at 44100 Hz has 512 taps.
    auto e = make(settings("<OTIMED>4</OTIMED>"), 44100);
    Access::boot(*e);
    e->setPlanFaultForTest([](int16_t) { return true; });
    e->cnfop();
    EXPECT_EQ(Access::directMode(*e), 4);
    e->setPlanFaultForTest(nullptr);
    e->cnfop();
    EXPECT_EQ(Access::records(*e)[0].convolver->length(), 512);
    EXPECT_TRUE(locksFree(*e));
}

} // namespace
