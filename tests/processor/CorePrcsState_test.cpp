// The engine's state, meters and control values on a booted engine: the worker rule, the
// ring layout, the side-chain ring, readers that never wait, meter ballistics and indicators, control
// values from the host, the display and MIDI, and those threads together; the parameter refresh, the
// engine lock pair and clearing the rings without waiting.
#include "processor/CorePrcs.h"

#include "CorePrcsTestAccess.h"
#include "base/CoreBlnk.h"
#include "base/CoreXml_.h"
#include "base/CoreXutl.h"
#include "base/RandomGenerator.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreIfce.h"
#include "modulation/CorePrm_.h"
#include "processor/CoreMmry.h"
#include "program/CoreProg.h"
#include "tests/program/CoreProgTestAccess.h"

#include <gtest/gtest.h>

#include <chrono>
#include <limits>
#include <optional>
#include <thread>

namespace {

using Access = CorePrcsTestAccess;

class CorePrcsStateTest : public EngineFolderTest {
protected:
    void SetUp() override {
        EngineFolderTest::SetUp();
        e = make("<HDIMMAX>1</HDIMMAX><WORKBUFFER>4096</WORKBUFFER><DSPBUFFER>256</DSPBUFFER>", 48000,
                 nullptr, &blink);
        Access::boot(*e);
    }
    CoreIfce& control(int i) { return *Access::program(*e).getif(i); }

    CoreBlnk blink;
    std::unique_ptr<CorePrcs> e;
};

TEST_F(CorePrcsStateTest, WorkerRuleDecidesTheWorkBlockOnceBooted) {
    struct Row {
        const char* settings; // DSPBUFFER 256 with these
        bool pinned;
        int32_t block;
        bool usedBefore;
        int32_t host;
        bool use;
        int32_t active;
    };
    const Row rows[] = {
        {"<THREADS>1</THREADS>", true, 64, false, 4096, true, 256}, // pinned: follows the worker
        {"", true, 64, true, 4096, false, 64},
        {"<THREADS>1</THREADS>", false, 256, false, 128, true, 256}, // AUTOTHREAD: against the host block
        {"<THREADS>1</THREADS>", false, 128, true, 128, false, 128},
        {"<THREADS>1</THREADS><AUTOTHREAD> 0 </AUTOTHREAD><THREADSMINDIM>128</THREADSMINDIM>", false, 256,
         false, 512, true, 256}, // else against THREADSMINDIM
        {"<THREADS>1</THREADS><AUTOTHREAD> 0 </AUTOTHREAD>", false, 128, true, 64, false, 128},
        {"", false, 128, true, 64, true, 256}, // no worker: the decision stays
    };
    for (const Row& r : rows) {
        auto engine = make(std::string("<DSPBUFFER>256</DSPBUFFER>") + r.settings);
        Access::boot(*engine);
        Access::pinWorker(*engine) = r.pinned;
        Access::blockStep(*engine) = r.block;
        Access::useWorker(*engine) = r.usedBefore;
        engine->blksz(r.host);
        EXPECT_EQ(std::make_tuple(Access::hostBlock(*engine), Access::useWorker(*engine),
                                  Access::workBlock(*engine)),
                  std::make_tuple(r.host, r.use, r.active))
            << &r - rows;
    }
    CoreSgrd engine(Access::engineLock(*e)); // as another thread would: neither call below may wait for it
    const int32_t host = Access::hostBlock(*e);
    Access::busy(*e).setvl(true);
    e->blksz(300); // recorded for the boot, nothing reconfigured
    EXPECT_EQ(std::make_pair(Access::bootHostSize(*e), Access::hostBlock(*e)), std::make_pair(300, host));
    Access::busy(*e).setvl(false);
    e->blksz(host);
}

TEST_F(CorePrcsStateTest, ReadersAndCleaningSkipTheirWorkWhileAnEngineLockIsHeld) {
    Access::loadFigure(*e) = 0.0001;
    EXPECT_EQ(e->getpf(0), 480);
    Access::loadFigure(*e) = 0.0002;
    for (CoreSmph* held :
         {&Access::blockLock(*e), &Access::engineLock(*e), static_cast<CoreSmph*>(nullptr)}) {
        const bool engine = held == &Access::engineLock(*e), block = held == &Access::blockLock(*e);
        SCOPED_TRACE(::testing::Message() << engine << block);
        Access::fillRings(*e, 1.0);
        Access::lastTail(*e) = 77;
        Access::paramsUpdated(*e) = false;
        std::optional<CoreSgrd> hold; // as another thread would hold it
        if (held) hold.emplace(*held);
        e->clean();
        e->updpm();
        EXPECT_TRUE(Access::ringsHold(*e, engine || block ? 1.0 : 0.0, false));
        EXPECT_EQ(Access::paramsUpdated(*e).load(), !engine && !block);
        EXPECT_EQ(e->getpf(0), block ? 480 : 960); // the last figure while a block runs
        EXPECT_EQ(e->getts(), engine ? 77 : 0);    // no harmonic in use: 0
    }
    e->setby(true); // in pass-through the tail is 0 at once
    EXPECT_EQ(e->getts(), 0);
    for (auto [figure, percent] :
         {std::pair{std::numeric_limits<double>::infinity(), 0}, {1.0, 4800000 & 0xFFFF}}) {
        Access::loadFigure(*e) = figure;
        EXPECT_EQ(e->getpf(0), static_cast<int16_t>(percent)) << figure; // the low 16 bits
    }
    EXPECT_EQ(e->getsc("nonsense"), -1.0);
}

TEST_F(CorePrcsStateTest, RingRealignmentKeepsTheLayoutInvariants) {
    RandomGenerator random(2024);
    const auto draw = [&](int64_t n) {
        return static_cast<int64_t>(random.next() % static_cast<uint64_t>(n));
    };
    const int32_t length = Access::rings(*e).work;
    const auto distance = [length](int64_t from, int64_t to) {
        return ((to - from) % length + length) % length;
    };
    for (int trial = 0; trial < 400 && !HasFailure(); ++trial) {
        const int32_t step = 1 << draw(9); // 1 .. 256, the DSP buffer
        Access::blockStep(*e) = step;
        Access::outputRead(*e) = static_cast<int32_t>(draw(length));
        const Access::Rings b = Access::rings(*e);
        const bool realign = draw(3) != 0;
        const int32_t offset = static_cast<int32_t>(draw(4 * length) - length);
        Access::loadFigure(*e) = 1.0;
        realign ? e->setpo(offset) : e->setpp();
        const Access::Rings a = Access::rings(*e);
        SCOPED_TRACE(::testing::Message()
                     << trial << (realign ? " setpo " : " setpp ") << offset << " step " << step);
        for (int32_t index : {a.inpos, a.readpos, a.outpos, a.outread})
            EXPECT_TRUE(index >= 0 && index < length);
        EXPECT_EQ(a.readpos % step, 0);
        EXPECT_EQ(std::make_pair(a.readmark, a.outpos), std::make_pair(a.readpos, a.readpos));
        if (realign) { // the output is delayed by exactly the change of offset
            EXPECT_EQ(distance(b.outread, a.inpos),
                      distance(offset - b.forced, distance(b.outread, b.inpos)));
            EXPECT_EQ(distance(a.readpos + a.pending + a.room, a.inpos), 0);
            EXPECT_LT(a.pending, step);
            EXPECT_EQ(std::make_pair(a.forced, a.outread), std::make_pair(offset, b.outread));
        } else { // rebased: no distance changes
            EXPECT_EQ(a.readpos, a.latency);
            EXPECT_EQ(distance(a.outread, a.inpos), distance(b.outread, b.inpos));
            EXPECT_EQ(distance(a.outread, a.outpos), distance(b.outread, b.outpos));
            EXPECT_EQ(Access::loadFigure(*e), 0.0);
        }
    }
}

TEST_F(CorePrcsStateTest, SideChainRingFollowsTheProgramsNeed) {
    CoreEnvf& side = *Access::program(*e).getef(4);
    const CoreAnsx none("");
    const int64_t base = pool.getma(), ring = 2 * (4096 * 8 + CorePool::iCoverhead);
    for (auto [wanted, active, held] : {std::tuple{false, true, 0L},
                                        {true, true, ring},
                                        {true, true, ring},
                                        {true, false, 0L},
                                        {true, true, ring}}) {
        Access::quadWanted(*e) = wanted;
        if (active)
            side.setvl(10, 0, none, 10, 0, none, -1.0, 0, false, none, false, none, none, false, 48000.0,
                       false, none, none, false, 0.0, 2, none);
        else
            side.setvl();
        e->allcq();
        EXPECT_EQ(pool.getma() - base, held) << wanted << active;
    }
    for (int c = 0; c < 2; ++c)
        EXPECT_EQ(std::count(Access::quadRing(*e)[c], Access::quadRing(*e)[c] + 4096, 0.0), 4096);
}

TEST_F(CorePrcsStateTest, FileNamesFollowTheCurrentSlot) {
    CoreMmry& memory = *e->getmm();
    struct Row {
        bool packed;
        const char *file, *next, *stored, *vectorFile; // the program's vector file afterwards
    };
    const Row rows[] = {{false, "dir/Take_41.xml", "dir/Take_42", "dir/New.xml", "0"},
                        {true, "dir/Pack.q7p", "dir/Pack_01", "dir/New.q7p", "dir/New.q7v"}};
    for (const Row& r : rows) {
        Access::currentSlot(*e) = r.packed ? 4 : 3;
        memory.setvl(Access::currentSlot(*e), r.packed, r.file, "<PROGRAM><NAME>p</NAME></PROGRAM>");
        EXPECT_STREQ(e->getnp().c_str(), r.next);
        e->setpf("dir/New");
        EXPECT_STREQ(memory.getfp(Access::currentSlot(*e), true).c_str(), r.stored);
        EXPECT_STREQ(CoreProgTestAccess::vectorFileName(Access::program(*e)).c_str(), r.vectorFile);
    }
}

TEST_F(CorePrcsStateTest, MeterTypesSetTheFollowersBallistics) {
    struct Row {
        int16_t type;
        int32_t attack, release; // samples at 48 kHz
    };
    const Row rows[] = {{0, 14400, 14400}, {1, 14400, 14400}, {2, 2880, 1440},
                        {7, 14400, 14400}, {8, 96000, 0},     {9, 14400, 14400}};
    for (const Row& r : rows) {
        ASSERT_TRUE(e->setmt(r.type, false));
        for (int i = 0; i < 6; ++i) { // the two mixes keep one setting
            const CoreEnvf& f = Access::follower(*e, i);
            const bool mix = i >= 4;
            EXPECT_EQ(
                std::make_tuple(f.getma(), f.getmr(), f.getex()),
                std::make_tuple(mix ? 14400 : r.attack, mix ? 14400 : r.release, int16_t(mix ? 4 : r.type)))
                << r.type << " follower " << i;
        }
    }
    Access::follower(*e, 0).setma(1);
    EXPECT_TRUE(e->setmt(9, false)); // the current type without force touches nothing
    EXPECT_EQ(Access::follower(*e, 0).getma(), 1);
    for (int16_t bad : {-1, 10}) EXPECT_FALSE(e->setmt(bad, true)) << bad;
    EXPECT_EQ(Access::follower(*e, 0).getma(), 1);
}

double dayClock = 20000.0;

TEST_F(CorePrcsStateTest, MeterRefreshHoldsTheClipAndShowsTheLastValuesWhileABlockRuns) {
    CoreXutl::setDayClock([] { return dayClock; });
    Access::clip(*e).setvl(true);
    Access::clipTime(*e) = dayClock;
    Access::busy(*e).setvl(true);
    Access::meterFlag(*e) = true;
    EXPECT_TRUE(e->updld()); // before boot only the meter flag is taken
    EXPECT_EQ(std::make_tuple(e->getpc(), Access::clipShown(*e), Access::led(*e, 0)),
              std::make_tuple(false, false, int16_t{3}));
    Access::busy(*e).setvl(false);
    for (auto [seconds, shown] : {std::pair{0.9, true}, {1.1, false}, {0.0, false}}) {
        dayClock = 20000.0 + seconds / 86400.0; // REFRESHOVERFLOW's default is a second
        e->updld();
        EXPECT_EQ(std::make_pair(Access::clipShown(*e), Access::clip(*e).getvl()),
                  std::make_pair(shown, shown));
    }
    CoreXutl::setDayClock(nullptr);

    ASSERT_TRUE(e->setmt(2, true));
    const auto block = [&](double level) {
        for (int i = 0; i < 4; ++i) {
            for (int n = 0; n < 256; ++n) Access::follower(*e, i).setei(level * (i + 1));
            Access::follower(*e, i).updte();
        }
        Access::meterFlag(*e) = true;
    };
    e->setiv(0, 0.9, true); // above its reference: a steady LED 1 for three seconds
    block(0.1);
    EXPECT_TRUE(e->updld());
    const double shown = Access::meterShown(*e, 1);
    EXPECT_EQ(std::make_tuple(shown > Access::meterShown(*e, 0), shown, Access::led(*e, 0)),
              std::make_tuple(true, Access::follower(*e, 1).getdb(), int16_t{1}));
    {
        CoreSgrd hold(Access::blockLock(*e));
        e->setiv(1, 0.1, true);
        block(0.2);
        EXPECT_TRUE(e->updld());
        EXPECT_EQ(std::make_pair(Access::led(*e, 1), Access::meterShown(*e, 1)),
                  std::make_pair(control(1).getll(), shown));
    }
    EXPECT_FALSE(e->updld()); // no block since the last call: nothing new
    EXPECT_EQ(std::make_pair(Access::led(*e, 1), Access::meterShown(*e, 1)),
              std::make_pair(int16_t{2}, shown));
}

TEST_F(CorePrcsStateTest, ControlValuesFromTheDisplayAndMidiChangeStateOnlyWhenTheyChange) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (auto [index, value, changed] : {std::tuple{0, 0.5, false},
                                         {0, 0.9, true},
                                         {9, nan, true},
                                         {10, 0.3, false},
                                         {-1, 0.3, false}}) { // MIX1 starts at 0.5
        Access::stateChanged(*e) = false;
        Access::clip(*e).setvl(true);
        e->setiv(static_cast<int16_t>(index), value, true);
        EXPECT_EQ(std::make_pair(Access::stateChanged(*e).load(), Access::clip(*e).getvl()),
                  std::make_pair(changed, !changed))
            << index << " " << value;
    }
    const auto packed = [](uint32_t channel, uint32_t status, uint32_t controller, uint32_t value) {
        return static_cast<int32_t>(channel | status << 8 | controller << 16 | value << 24);
    };
    e->setms(0, 176, 7);
    e->setms(1, 177, 8);
    struct Row {
        int32_t delay, message, flushFrames; // flushFrames: CoreMidi::updte into mdupd, 0 none
        double mix1, mix2;
    };
    const Row rows[] = {
        {0, packed(2, 176, 7, 0), 0, 0.0, 0.5},   // low byte first
        {0, packed(2, 176, 7, 255), 0, 1.0, 0.5}, // the top byte is unsigned (and clamped)
        {10, packed(0, 177, 8, 0), 9, 1.0, 0.5},  // waits for its offset
        {0, packed(0, 176, 99, 0), 1, 1.0, 0.0},
    };
    for (const Row& r : rows) {
        e->mdctr(r.delay, r.message);
        if (r.flushFrames) e->mdupd(Access::midi(*e).updte(r.flushFrames));
        EXPECT_EQ(std::make_pair(control(0).getvl(false), control(1).getvl(false)),
                  std::make_pair(r.mix1, r.mix2));
    }
    Access::busy(*e).setvl(true);
    e->mdctr(0, 2, 176, 7, 0); // before boot a message is dropped, not queued
    e->mdctr(5, 2, 176, 7, 0);
    Access::busy(*e).setvl(false);
    e->mdupd(Access::midi(*e).updte(-1));
    EXPECT_EQ(control(0).getvl(false), 1.0);
}

TEST_F(CorePrcsStateTest, MidiControlAndDisplayThreadsShareTheEngine) {
    e->setms(0, 176, 7);
    std::atomic<bool> stop{false};
    const auto loop = [&](auto body) {
        return std::thread([&stop, body] {
            for (int n = 0; !stop; ++n) body(n);
        });
    };
    std::thread threads[] = {
        loop([&](int n) { // the host's event thread and the block processor's MIDI update
            e->mdctr(0, 0, 176, 7, n & 127);
            e->mdctr(n % 64 + 1, 0, 176, 7, (n + 5) & 127);
            e->mdupd(Access::midi(*e).updte(32));
        }),
        loop([&](int) { // the control tick
            e->updld();
            e->getpf(0);
            e->updpm();
        }),
        loop([&](int n) { // the display
            e->setiv(static_cast<int16_t>(n % 10), (n % 100) / 100.0, true);
            e->setms(static_cast<int16_t>(n % 8), 176, n % 128);
            e->setmt(static_cast<int16_t>(n % 10), false);
            e->getts();
        })};
    std::this_thread::sleep_for(std::chrono::seconds(1));
    stop = true;
    for (std::thread& t : threads) t.join();
    EXPECT_TRUE(Access::stateChanged(*e));
}

TEST_F(CorePrcsStateTest, ParameterRefreshCarriesTheControlsThroughTheModulation) {
    // FUN1 follows MIX1 and PRM1 shows FUN1 between 0 and 1: PRM1 reads what MIX1 was set to.
    CoreXml_ document;
    document.getfc(CoreAnsx("<PROGRAM><FUN1><A>MIX1</A><FUN>a</FUN></FUN1><DISPLAY><PRM1><LABEL>Size</LABEL>"
                            "<A>FUN1</A><FUN>a</FUN><MINVALUE>0</MINVALUE><MAXVALUE>1</MAXVALUE></PRM1>"
                            "</DISPLAY></PROGRAM>"));
    CoreNode* program = document.getrt()->getcd(CoreAnsx("PROGRAM"));
    CoreProgTestAccess::rdmod(Access::program(*e), program);
    CoreProgTestAccess::rddsp(Access::program(*e), program);
    for (double mix : {0.2, 0.9}) {
        e->setiv(0, mix, true);
        e->updpm();
        EXPECT_NEAR(e->getpm(0)->getvl(), mix, 1e-12) << mix;
        EXPECT_NEAR(e->getsc("PRM1"), 2.0 * mix - 1.0, 1e-12) << mix;
    }
}

TEST_F(CorePrcsStateTest, LockpKeepsEveryOtherCallerOutUntilRlsep) {
    using Clock = std::chrono::steady_clock;
    e->lockp();
    std::atomic<bool> released{false}, enteredAfterRelease{false};
    const Clock::time_point start = Clock::now();
    Clock::duration waited{};
    std::thread second([&] {
        e->lockp();
        waited = Clock::now() - start;
        enteredAfterRelease = released.load();
        e->rlsep();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    released = true;
    e->rlsep();
    second.join();
    EXPECT_TRUE(enteredAfterRelease.load());
    EXPECT_GE(waited, std::chrono::milliseconds(200));

    constexpr int rounds = 10000; // no update lost, and nothing for ThreadSanitizer to report
    std::atomic<int32_t>& shared = Access::currentSlot(*e);
    shared = 0;
    const auto hammer = [&] {
        for (int n = 0; n < rounds; ++n) {
            e->lockp();
            const int32_t before = shared;
            std::this_thread::yield(); // lets the other thread in, were it not kept out
            shared = before + 1;
            e->rlsep();
        }
    };
    std::thread first(hammer), other(hammer);
    first.join();
    other.join();
    EXPECT_EQ(shared.load(), 2 * rounds);
    EXPECT_EQ(std::make_pair(Access::engineLock(*e).counter(), Access::blockLock(*e).counter()),
              std::make_pair(1, 1)); // both free again
}

TEST_F(CorePrcsStateTest, CleaningNeverWaitsForThePassLockAndTheNextBlockFinishesIt) {
    Access::fillRings(*e, 1.0);
    std::atomic<bool> cleaned{false}, releasedBeforeReturn{false}, held{false};
    std::thread holder([&] { // a loader entering pass-through
        CoreSgrd pass(Access::passLock(*e));
        held = true;
        // The bound only ends a test whose clean() waits for this lock.
        for (int ms = 0; !cleaned && ms < 2000; ++ms)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        releasedBeforeReturn = !cleaned;
    });
    while (!held) std::this_thread::yield();
    e->clean();
    cleaned = true;
    holder.join();
    EXPECT_FALSE(releasedBeforeReturn.load());
    EXPECT_EQ(Access::ringSamplesOtherThan(*e, 1.0), 0); // nothing cleared while the lock was held
    EXPECT_TRUE(Access::startBlock(*e));
    EXPECT_EQ(std::make_pair(Access::ringSamplesOtherThan(*e, 0.0), Access::clearPending(*e)),
              std::make_pair(int64_t{0}, false));
}

TEST_F(CorePrcsStateTest, ALargeRingClearIsSpreadOverTheNextBlocks) {
    // Six rings of 131072 samples take three budgets; the work buffers are left for a fourth.
    auto large = make("<HDIMMAX>1</HDIMMAX><WORKBUFFER>131072</WORKBUFFER><DSPBUFFER>256</DSPBUFFER>");
    Access::boot(*large);
    const int64_t budget = Access::ringClearBudget, rings = 6 * 131072;
    struct Row {
        CoreSmph* held; // while the block starts: the part waits for the next block
        bool finished;  // what the block reports
        int64_t left;   // ring samples not yet zero
    };
    const Row rows[] = {{nullptr, false, rings - 2 * budget},
                        {&Access::passLock(*large), false, rings - 2 * budget},
                        {&Access::blockLock(*large), false, rings - 2 * budget},
                        {nullptr, false, 0},
                        {nullptr, true, 0},
                        {nullptr, true, 0}};
    Access::fillRings(*large, 1.0);
    large->clean(); // the first part
    EXPECT_EQ(Access::ringSamplesOtherThan(*large, 0.0), rings - budget);
    for (const Row& r : rows) {
        std::optional<CoreSgrd> hold;
        if (r.held) hold.emplace(*r.held);
        const bool finished = Access::startBlock(*large);
        EXPECT_EQ(std::make_tuple(finished, Access::ringSamplesOtherThan(*large, 0.0),
                                  Access::clearPending(*large)),
                  std::make_tuple(r.finished, r.left, !r.finished))
            << &r - rows;
    }
}

} // namespace
