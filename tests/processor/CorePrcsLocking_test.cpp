// The audio thread against lock holders: short holders cost lock misses, loaders pass-through calls,
// never a wait; timed takes log and keep waiting. Runs threads (std::thread).
#include "processor/CorePrcs.h"

#include "AudioRoadTest.h"
#include "program/CoreProg.h"
#include "tests/common/LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace {

using namespace hostblocks;

class LockingTest : public AudioRoadTest {
protected:
    // An impulse through U leaves at the reported latency.
    static void expectLatency(CorePrcs& e) {
        Stereo in(16384);
        in.left[12000] = in.right[12000] = 1.0;
        const Stereo out = run(e, in, fixedBlocks(64));
        const size_t at = 12000 + static_cast<size_t>(Access::reportedLatency(e));
        ASSERT_LT(at, out.size());
        EXPECT_NEAR(out.left[at], 1.0, 1e-9);
    }
};

TEST_F(LockingTest, HoldersNeverMakeTheAudioThreadWait) {
    struct Row {
        const char* name;
        bool loader;
        std::function<void(CorePrcs&)> hold;
    };
    const Row rows[] = {
        {"scoped guard", false, [](CorePrcs& e) { CorePrcs::EngineGuard hold(e); }},
        {"install", true, [](CorePrcs& e) { Road::install(e, Road::program('U', -1), 11); }},
        {"setst", false, [](CorePrcs& e) { e.setst(-1); }},
        {"setco", false, [](CorePrcs& e) { e.setco(0, 1000.0); }},
        {"irate", false, [](CorePrcs& e) { e.irate(44100); }},
        {"updrt", false, [](CorePrcs& e) { e.updrt(3000); }},
        {"lockp(500)", false,
         [](CorePrcs& e) {
             e.lockp(500);
             Access::blockLock(e).relse();
             Access::engineLock(e).relse();
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto e = engine("<DSPBUFFER>512</DSPBUFFER>");
        ASSERT_TRUE(Road::install(*e, Road::program('U', -1), 11));
        std::atomic<long> calls{0};
        std::atomic<bool> stop{false};
        std::thread audio([&] {
            std::vector<double> left(64), right(64);
            void* in[2] = {left.data(), right.data()};
            void* out[2] = {left.data(), right.data()};
            while (!stop) {
                e->prcss(in, out, 64, true, 0, 0.0, true, 2);
                ++calls;
            }
        });
        while (calls < 10) std::this_thread::yield();
        std::atomic<bool> armed{true};
        bool completed = false;
        e->setStallHookForTest([&] {
            if (!armed.exchange(false)) return;
            const long from = calls;
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (calls < from + 50 && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
            completed = calls >= from + 50;
        });
        const uint64_t missesBefore = e->lockMisses();
        r.hold(*e);
        e->setStallHookForTest(nullptr);
        stop = true;
        audio.join();
        EXPECT_TRUE(completed); // the audio thread went on while the locks were held
        if (r.loader)
            EXPECT_EQ(e->lockMisses(), missesBefore);
        else
            EXPECT_GE(e->lockMisses() - missesBefore, 50u);
        e->irate(48000);
        expectLatency(*e);
    }
}

TEST_F(LockingTest, TimedTakesLogAndKeepWaiting) {
    struct Row {
        const char* name;
        std::function<void(CorePrcs&)> take;
    };
    const Row rows[] = {
        {"smpby", [](CorePrcs& e) { e.smpby(false, 50, false, false); }},
        {"lockp", [](CorePrcs& e) {
             e.lockp(50);
             Access::blockLock(e).relse();
             Access::engineLock(e).relse();
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto e = engine("<DSPBUFFER>512</DSPBUFFER>");
        ASSERT_TRUE(Road::install(*e, Road::program('U', -1), 11));
        e->smpby(true, 0, false, false);
        LogCapture log(1);
        Access::engineLock(*e).locks();
        std::atomic<bool> done{false};
        std::thread taker([&] {
            r.take(*e);
            done = true;
        });
        while (log.text().find("still waiting for enginelock") == std::string::npos)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_FALSE(done.load());
        EXPECT_TRUE(e->getby());
        EXPECT_EQ(Access::engineLock(*e).counter(), 0); // held once: by this thread
        Access::engineLock(*e).relse();
        taker.join();
        EXPECT_TRUE(done.load());
    }
}

} // namespace
