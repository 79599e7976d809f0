// The engine's state, meters and control values on a booted engine: forwards, the worker rule, the
// ring layout, the side-chain ring, lock-free readers, meter ballistics and indicators, control values
// from the host, the display and MIDI, and those threads together.
#include "processor/CorePrcs.h"

#include "CorePrcsTestAccess.h"
#include "base/CoreBlnk.h"
#include "base/CoreXutl.h"
#include "base/RandomGenerator.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreIfce.h"
#include "processor/CoreMmry.h"
#include "program/CoreProg.h"
#include "tests/program/CoreProgTestAccess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <thread>

namespace {

using Access = CorePrcsTestAccess;

class CorePrcsStateTest : public EngineFolderTest {
protected:
    void SetUp() override {
        EngineFolderTest::SetUp();
        e = make("<HDIMMAX>1</HDIMMAX><WORKBUFFER>4096</WORKBUFFER><DSPBUFFER>256</DSPBUFFER>", 48000, nullptr, "0",
                 &blink);
        ASSERT_FALSE(e->isfailed());
        Access::boot(*e);
    }
    CoreIfce& control(int i) { return *Access::program(*e)->getif(i); }
    // A lock taken by "another thread": the locks have no owner, so the test thread holds it.
    struct Held {
        CoreSmph& lock;
        bool held;
        Held(CoreSmph& l, bool take) : lock(l), held(take && l.locka()) {}
        ~Held() {
            if (held) lock.relse();
        }
    };

    CoreBlnk blink;
    std::unique_ptr<CorePrcs> e;
};

TEST_F(CorePrcsStateTest, AccessorsAndForwardsAnswer) {
    for (auto [priority, level] : {std::pair{0, 0}, {2, 2}, {3, 3}, {4, 4}, {1, 1}, {5, 1}, {-1, 1}})
        EXPECT_EQ(CorePrcs::gettp(priority), level) << priority;
    e->setfl(0, 123);
    e->setfl(1, 456);
    EXPECT_EQ(std::make_tuple(e->getfl(0), e->getfl(1), e->getfl(7)), std::make_tuple(123, 456, 0));
    EXPECT_STREQ(CorePrcs::getsd().c_str(), "0");
    e->setby(true);
    EXPECT_TRUE(e->getby());
    Access::meterFlag(*e) = true;
    EXPECT_TRUE(e->getpc());
    EXPECT_FALSE(e->getpc()); // read and cleared
    CoreProg& program = *Access::program(*e);
    e->setrc(500);
    program.setrc(9);
    e->setrc(-1); // applies the stored limit again
    EXPECT_EQ(CoreProgTestAccess::rateConversion(program), 500);
    EXPECT_EQ(std::make_pair(e->isbev(11), e->isbev(3)), std::make_pair(true, false));
    EXPECT_EQ(e->getsr(), program.getsr());
}

TEST_F(CorePrcsStateTest, WorkerRuleDecidesTheWorkBlock) {
    using W = Access::Worker;
    struct Row {
        W in;
        bool use;
        int32_t active;
    };
    const Row rows[] = {
        {{true, true, false, 64, 512, 512, false}, true, 256},   // pinned: follows the worker
        {{true, false, false, 64, 512, 512, true}, false, 64},
        {{false, true, true, 512, 256, 4096, false}, true, 256}, // auto: block against the host's
        {{false, true, true, 256, 256, 0, true}, false, 256},
        {{false, true, false, 512, 4096, 256, false}, true, 256}, // else against THREADSMINDIM
        {{false, true, false, 128, 0, 256, true}, false, 128},
        {{false, false, true, 512, 64, 64, true}, true, 256}, // no worker: the decision stays
        {{false, false, true, 64, 512, 512, false}, false, 64},
    };
    for (const Row& r : rows) {
        Access::setWorker(*e, r.in);
        e->adjml();
        const W out = Access::worker(*e);
        EXPECT_EQ(std::make_pair(out.use, out.active), std::make_pair(r.use, r.active))
            << r.in.pin << r.in.has << r.in.autothread << " " << r.in.block;
    }
    Access::setWorker(*e, {false, true, true, 512, 256, 0, true});
    e->blksz(1024); // a new host size decides again
    EXPECT_EQ(std::make_tuple(Access::worker(*e).host, Access::worker(*e).use), std::make_tuple(1024, false));
}

TEST_F(CorePrcsStateTest, BlockSizeWhileBootingIsRecordedWithoutALock) {
    Held engine(Access::engineLock(*e), true);
    const int32_t host = Access::worker(*e).host;
    Access::busy(*e).setvl(true);
    e->blksz(300); // would never return if it waited for the lock
    EXPECT_EQ(std::make_pair(Access::bootHostSize(*e), Access::worker(*e).host), std::make_pair(300, host));
    Access::busy(*e).setvl(false);
    e->blksz(host);
}

TEST_F(CorePrcsStateTest, CleanSkipsItsWorkWhileEitherEngineLockIsHeld) {
    for (auto [engine, block] : {std::pair{true, false}, {false, true}, {false, false}}) {
        Access::fillRings(*e, 1.0);
        {
            Held a(Access::engineLock(*e), engine), b(Access::blockLock(*e), block);
            e->clean();
        }
        EXPECT_TRUE(Access::ringsHold(*e, engine || block ? 1.0 : 0.0, false)) << engine << block;
    }
}

TEST_F(CorePrcsStateTest, RingRealignmentKeepsTheLayoutInvariants) {
    RandomGenerator random(2024);
    const auto draw = [&](int64_t n) { return static_cast<int64_t>(random.next() % static_cast<uint64_t>(n)); };
    for (int trial = 0; trial < 400; ++trial) {
        const Access::Rings before = Access::rings(*e);
        const int32_t length = before.length;
        const auto distance = [length](int64_t from, int64_t to) { return ((to - from) % length + length) % length; };
        const int32_t step = 1 << draw(9); // 1 .. 256, the DSP buffer
        Access::setBlockStep(*e, step);
        Access::setOutputRead(*e, static_cast<int32_t>(draw(length)));
        const Access::Rings b = Access::rings(*e);
        const bool realign = draw(3) != 0;
        const int32_t offset = static_cast<int32_t>(draw(4 * length) - length);
        Access::loadFigure(*e, 0) = 1.0;
        if (realign)
            e->setpo(offset);
        else
            e->setpp();
        const Access::Rings a = Access::rings(*e);
        SCOPED_TRACE(::testing::Message() << trial << (realign ? " setpo " : " setpp ") << offset << " step " << step);
        for (int32_t index : {a.inpos, a.readpos, a.readmark, a.outpos, a.outread}) {
            EXPECT_GE(index, 0);
            EXPECT_LT(index, length);
        }
        EXPECT_EQ(a.readpos % step, 0);
        EXPECT_EQ(std::make_pair(a.readmark, a.outpos), std::make_pair(a.readpos, a.readpos));
        if (realign) {
            EXPECT_EQ(a.outread, b.outread);
            EXPECT_EQ(distance(b.outread, a.inpos), distance(-b.offset + offset, distance(b.outread, b.inpos)));
            EXPECT_EQ(distance(a.readpos + a.pending + a.lead, a.inpos), 0);
            EXPECT_LT(a.pending, step);
            EXPECT_EQ(a.offset, offset);
        } else {
            EXPECT_EQ(a.readpos, a.base);
            EXPECT_EQ(distance(a.outread, a.inpos), distance(b.outread, b.inpos));
            EXPECT_EQ(distance(a.outread, a.outpos), distance(b.outread, b.outpos));
            EXPECT_EQ(distance(a.readpos, a.inpos), distance(b.readpos, b.inpos));
            EXPECT_EQ(Access::loadFigure(*e, 0), 0.0);
        }
        if (HasFailure()) break;
    }
}

TEST_F(CorePrcsStateTest, SideChainRingFollowsTheProgramsNeed) {
    CoreEnvf& side = *Access::program(*e)->getef(4);
    const CoreAnsx none("");
    const auto setSide = [&](bool on) {
        if (on)
            side.setvl(10, 0, none, 10, 0, none, -1.0, 0, false, none, false, none, none, false, 48000.0, false, none,
                       none, false, 0.0, 2, none);
        else
            side.setvl();
    };
    const int64_t base = pool.getma();
    const int64_t ring = 2 * (4096 * 8 + CorePool::iCoverhead);
    struct Row {
        bool wanted, active;
        int64_t held;
    };
    const Row rows[] = {{false, true, 0}, {true, true, ring}, {true, true, ring}, {true, false, 0}};
    for (const Row& r : rows) {
        Access::quadWanted(*e) = r.wanted;
        setSide(r.active);
        e->allcq();
        EXPECT_EQ(pool.getma() - base, r.held) << r.wanted << r.active;
    }
    setSide(true);
    e->allcq();
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < 4096; ++i) ASSERT_EQ(Access::quadRing(*e)[c][i], 0.0);
}

TEST_F(CorePrcsStateTest, LoadFiguresAndTailAnswerAtOnceWhileALockIsHeld) {
    struct Row {
        double figure;
        bool blockHeld;
        int16_t percent;
    };
    const Row rows[] = {
        {0.0001, false, 480}, {0.0002, true, 480}, {0.0002, false, 960},
        {std::numeric_limits<double>::infinity(), false, 0}, {1.0, false, static_cast<int16_t>(4800000 & 0xFFFF)},
    };
    for (const Row& r : rows) {
        Access::loadFigure(*e, 0) = r.figure;
        Held block(Access::blockLock(*e), r.blockHeld);
        EXPECT_EQ(e->getpf(0), r.percent) << r.figure;
    }
    Access::lastTail(*e) = 77;
    {
        Held engine(Access::engineLock(*e), true);
        EXPECT_EQ(e->getts(), 77);
    }
    EXPECT_EQ(e->getts(), 0); // no harmonic in use
    Access::lastTail(*e) = 77;
    e->setby(true);
    EXPECT_EQ(e->getts(), 0);
}

TEST_F(CorePrcsStateTest, FileNamesFollowTheCurrentSlot) {
    CoreMmry& memory = *e->getmm();
    struct Row {
        int32_t slot;
        bool packed;
        const char* file;
        const char* next;
        const char* stored;
        const char* vectorFile; // the program's vector file name afterwards
    };
    const Row rows[] = {
        {3, false, "dir/Take_41.xml", "dir/Take_42", "dir/New.xml", "0"},
        {4, true, "dir/Pack.q7p", "dir/Pack_01", "dir/New.q7p", "dir/New.q7v"},
    };
    for (const Row& r : rows) {
        memory.setvl(r.slot, r.packed, CoreAnsx(r.file), CoreAnsx("<PROGRAM><NAME>p</NAME></PROGRAM>"));
        Access::currentSlot(*e) = r.slot;
        EXPECT_STREQ(e->getnp().c_str(), r.next);
        e->setpf(CoreAnsx("dir/New"));
        EXPECT_STREQ(memory.getfp(r.slot, true).c_str(), r.stored);
        EXPECT_STREQ(CoreProgTestAccess::vectorFileName(*Access::program(*e)).c_str(), r.vectorFile);
    }
}

TEST_F(CorePrcsStateTest, MeterTypesSetTheFollowersBallistics) {
    struct Row {
        int16_t type;
        int32_t attack, release; // samples at 48 kHz
    };
    const Row rows[] = {{0, 14400, 14400}, {1, 14400, 14400}, {2, 2880, 1440}, {3, 14400, 14400},
                        {7, 14400, 14400}, {8, 96000, 0},     {9, 14400, 14400}};
    for (const Row& r : rows) {
        ASSERT_TRUE(e->setmt(r.type, false));
        for (int i = 0; i < 6; ++i) {
            const CoreEnvf& f = *Access::follower(*e, i);
            const bool mixed = i >= 4;
            EXPECT_EQ(std::make_tuple(f.getma(), f.getmr(), f.getex()),
                      std::make_tuple(mixed ? 14400 : r.attack, mixed ? 14400 : r.release,
                                      static_cast<int16_t>(mixed ? 4 : r.type)))
                << r.type << " follower " << i;
        }
    }
    Access::follower(*e, 0)->setma(1);
    EXPECT_TRUE(e->setmt(9, false)); // the current type without force touches nothing
    EXPECT_EQ(Access::follower(*e, 0)->getma(), 1);
    EXPECT_TRUE(e->setmt(9, true));
    EXPECT_EQ(Access::follower(*e, 0)->getma(), 14400);
    for (int16_t bad : {-1, 10}) EXPECT_FALSE(e->setmt(bad, true)) << bad;
    EXPECT_EQ(Access::meterType(*e), 9);
}

double dayClock = 20000.0;

TEST_F(CorePrcsStateTest, ClipIndicatorHoldsForTheRefreshTimeAndNothingRunsBeforeBoot) {
    CoreXutl::setDayClock([] { return dayClock; });
    Access::clip(*e).setvl(true);
    Access::clipTime(*e) = dayClock;
    Access::busy(*e).setvl(true);
    Access::meterFlag(*e) = true;
    EXPECT_TRUE(e->updld()); // before boot: only the meter flag is taken
    EXPECT_FALSE(Access::meterFlag(*e));
    EXPECT_FALSE(Access::clipShown(*e));
    EXPECT_EQ(Access::led(*e, 0), 3);
    Access::busy(*e).setvl(false);
    const double second = 1.0 / 86400.0; // REFRESHOVERFLOW's default
    for (auto [after, shown] : {std::pair{0.0, true}, {0.9, true}, {1.1, false}, {0.0, false}}) {
        dayClock = 20000.0 + after * second;
        e->updld();
        EXPECT_EQ(std::make_pair(Access::clipShown(*e), Access::clip(*e).getvl()), std::make_pair(shown, shown)) << after;
    }
    CoreXutl::setDayClock(nullptr);
}

TEST_F(CorePrcsStateTest, IndicatorsShowNewValuesWithTheLocksFreeAndTheLastOnesOtherwise) {
    ASSERT_TRUE(e->setmt(2, true));
    const auto feed = [&](double level) {
        for (int i = 0; i < 4; ++i) {
            for (int n = 0; n < 256; ++n) Access::follower(*e, i)->setei(level * (i + 1));
            Access::follower(*e, i)->updte();
        }
        Access::meterFlag(*e) = true;
    };
    e->setiv(0, 0.9, true); // above its reference: steady LED 1 for three seconds
    feed(0.1);
    EXPECT_TRUE(e->updld());
    const double shown = Access::meterShown(*e, 1);
    EXPECT_EQ(shown, Access::follower(*e, 1)->getdb());
    EXPECT_GT(shown, Access::meterShown(*e, 0));
    EXPECT_EQ(Access::led(*e, 0), 1);
    {
        Held block(Access::blockLock(*e), true);
        e->setiv(1, 0.1, true);
        feed(0.2);
        EXPECT_TRUE(e->updld());
        EXPECT_EQ(std::make_pair(Access::led(*e, 1), Access::meterShown(*e, 1)),
                  std::make_pair(control(1).getll(), shown));
    }
    EXPECT_FALSE(e->updld()); // no block since the last call: nothing new, values kept
    EXPECT_EQ(std::make_pair(Access::led(*e, 1), Access::meterShown(*e, 1)), std::make_pair(int16_t{2}, shown));
}

TEST_F(CorePrcsStateTest, AControlValueChangesStateOnlyWhenItChanges) {
    struct Row {
        int16_t index;
        double value;
        bool changed;
    };
    const Row rows[] = {
        {0, 0.5, false}, // the value it has
        {0, 0.9, true},
        {9, std::numeric_limits<double>::quiet_NaN(), true},
        {10, 0.3, false},
        {-1, 0.3, false},
    };
    for (const Row& r : rows) {
        Access::stateChanged(*e) = false;
        Access::clip(*e).setvl(true);
        e->setiv(r.index, r.value, true);
        EXPECT_EQ(std::make_pair(Access::stateChanged(*e).load(), Access::clip(*e).getvl()),
                  std::make_pair(r.changed, !r.changed))
            << r.index << " " << r.value;
    }
    EXPECT_DOUBLE_EQ(control(0).getvl(false), 0.9);
}

TEST_F(CorePrcsStateTest, MidiReachesTheMixControlsAfterBoot) {
    const auto packed = [](int channel, int status, int controller, int value) {
        return static_cast<int32_t>(static_cast<uint32_t>(channel) | status << 8 | controller << 16 |
                                    static_cast<uint32_t>(value) << 24);
    };
    e->setms(0, 176, 7);
    e->setms(1, 177, 8);
    struct Row {
        int32_t delay, message;
        int flushFrames; // CoreMidi::updte through mdupd afterwards, 0 for none
        double mix1, mix2;
    };
    const Row rows[] = {
        {0, packed(2, 176, 7, 127), 0, 1.0, 0.5},
        {0, packed(2, 176, 7, 255), 0, 1.0, 0.5}, // value bytes clamp to 127
        {10, packed(0, 177, 8, 0), 0, 1.0, 0.5},  // waits for its offset
        {0, packed(0, 176, 99, 0), 10, 1.0, 0.0},
    };
    for (const Row& r : rows) {
        e->mdctr(r.delay, r.message);
        if (r.flushFrames) e->mdupd(Access::midi(*e)->updte(r.flushFrames));
        EXPECT_EQ(std::make_pair(control(0).getvl(false), control(1).getvl(false)), std::make_pair(r.mix1, r.mix2));
    }
    EXPECT_TRUE(Access::stateChanged(*e));
    Access::busy(*e).setvl(true);
    e->mdctr(0, 2, 176, 7, 0); // before boot a message is dropped, not queued
    e->mdctr(5, 2, 176, 7, 0);
    Access::busy(*e).setvl(false);
    e->mdupd(Access::midi(*e)->updte(-1));
    EXPECT_EQ(control(0).getvl(false), 1.0);
}

TEST_F(CorePrcsStateTest, ParameterRefreshNeverWaitsForALock) {
    for (auto [engine, block] : {std::pair{true, false}, {false, true}, {false, false}}) {
        Access::paramsUpdated(*e) = false;
        Held a(Access::engineLock(*e), engine), b(Access::blockLock(*e), block);
        e->updpm();
        EXPECT_EQ(Access::paramsUpdated(*e).load(), !engine && !block) << engine << block;
    }
    EXPECT_EQ(e->getsc(CoreAnsx("nonsense")), -1.0);
}

TEST_F(CorePrcsStateTest, MidiControlAndDisplayThreadsShareTheEngine) {
    e->setms(0, 176, 7);
    std::atomic<bool> stop{false};
    std::thread midiThread([&] {
        for (int n = 0; !stop; ++n) {
            e->mdctr(0, 0, 176, 7, n & 127);
            e->mdctr(n % 64 + 1, 0, 176, 7, (n + 5) & 127);
            e->mdupd(Access::midi(*e)->updte(32));
        }
    });
    std::thread controlThread([&] {
        while (!stop) {
            e->updld();
            e->getpf(0);
            e->updpm();
        }
    });
    std::thread displayThread([&] {
        for (int n = 0; !stop; ++n) {
            e->setiv(static_cast<int16_t>(n % 10), (n % 100) / 100.0, true);
            e->setms(static_cast<int16_t>(n % 8), 176, n % 128);
            e->setmt(static_cast<int16_t>(n % 10), false);
            e->getts();
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(1));
    stop = true;
    for (std::thread* t : {&midiThread, &controlThread, &displayThread}) t->join();
    EXPECT_TRUE(Access::stateChanged(*e));
}

} // namespace
