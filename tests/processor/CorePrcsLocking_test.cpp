// The audio thread against lock holders: short holders cost lock misses, loaders pass-through calls,
// never a wait; timed takes log and keep waiting. Runs threads (std::thread).
#include "processor/CorePrcs.h"

#include "AudioRoadTest.h"
#include "program/CoreProg.h"
#include "tests/common/LogCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <iostream>
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
            // One more: a call that left the normal path before the locks were taken may not have
            // been counted yet.
            const long from = calls + 1;
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
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (log.text().find("still waiting for enginelock") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_NE(log.text().find("still waiting for enginelock"), std::string::npos);
        EXPECT_FALSE(done.load());
        EXPECT_TRUE(e->getby());
        EXPECT_EQ(Access::engineLock(*e).counter(), 0); // held once: by this thread
        Access::engineLock(*e).relse();
        taker.join();
        EXPECT_TRUE(done.load());
    }
}

// About a second of an audio thread beside a loader installing M and S in turn and a thread of setters:
// every sample finite (and, under ThreadSanitizer, no report).
TEST_F(LockingTest, AudioLoaderAndSettersRunTogether) {
    auto e = engine("<DSPBUFFER>256</DSPBUFFER>");
    ASSERT_TRUE(Road::install(*e, Road::program('M', 5), 11));
    std::atomic<bool> stop{false};
    std::atomic<long> calls{0}, loads{0}, nonFinite{0};
    std::thread audio([&] {
        const Stereo input = noise(4096, 5);
        std::vector<float> left(333), right(333);
        void* in[2] = {left.data(), right.data()};
        size_t at = 0;
        while (!stop) {
            for (size_t i = 0; i < left.size(); ++i, at = (at + 1) % input.size()) {
                left[i] = static_cast<float>(input.left[at]);
                right[i] = static_cast<float>(input.right[at]);
            }
            e->prcss(in, in, static_cast<int32_t>(left.size()), true, 1, 120.0, false, 2);
            for (size_t i = 0; i < left.size(); ++i)
                if (!std::isfinite(left[i]) || !std::isfinite(right[i])) ++nonFinite;
            ++calls;
        }
    });
    std::thread loader([&] {
        for (bool m = false; !stop; m = !m) {
            EXPECT_TRUE(Road::install(*e, Road::program(m ? 'M' : 'S', 5), 11));
            ++loads;
        }
    });
    std::thread setters([&] {
        for (int round = 0; !stop; ++round) {
            e->setst(static_cast<int16_t>(round % 3 == 0 ? -1 : 5));
            e->setco(0, 1000.0 + round % 7);
            e->updgu(48000);
            e->irate(round % 2 ? 44100 : 48000);
        }
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < end || calls < 100 || loads < 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    stop = true;
    audio.join();
    loader.join();
    setters.join();
    EXPECT_EQ(nonFinite.load(), 0);
    std::cout << calls << " calls, " << loads << " loads, " << e->lockMisses() << " lock misses\n";
}

// Offline (level 4) a short holder makes the host call wait instead of missing, and a loader that starts
// between two calls completes before the next call runs, even when that call arrives while the loader
// is inside its pass-through phase: the render equals one made with the load between the same calls
// and nothing else running.
TEST_F(LockingTest, OfflineRenderIsDeterministicWhateverElseRuns) {
    constexpr int32_t block = 512;
    constexpr size_t blocksBeforeLoad = 40;
    const Stereo input = noise(block * 100, 7);
    const auto render = [&](bool concurrent) {
        auto e = engine("<DSPBUFFER>512</DSPBUFFER>");
        EXPECT_TRUE(Road::install(*e, Road::program('U', -1), 11));
        // The loader holds its locks until the next call has been issued, then a little longer.
        std::atomic<bool> loading{false}, calling{false};
        std::atomic<std::thread::id> loaderId{};
        e->setStallHookForTest([&] {
            if (std::this_thread::get_id() != loaderId.load()) return;
            loading = true;
            while (!calling) std::this_thread::yield();
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        });
        std::atomic<bool> stop{false};
        std::thread setter;
        if (concurrent)
            setter = std::thread([&] {
                while (!stop) { // bean setters that change nothing, each under the engine locks
                    e->setst(-1);
                    e->updgu(48000);
                    CorePrcs::EngineGuard hold(*e);
                }
            });
        Stereo out(input.size());
        std::vector<double> left(block), right(block);
        void* in[2] = {left.data(), right.data()};
        void* io[2] = {left.data(), right.data()};
        const auto play = [&](size_t b) {
            std::copy_n(input.left.begin() + b * block, block, left.begin());
            std::copy_n(input.right.begin() + b * block, block, right.begin());
            e->prcss(in, io, block, true, 4, 0.0, true, 2);
            std::copy_n(left.begin(), block, out.left.begin() + b * block);
            std::copy_n(right.begin(), block, out.right.begin() + b * block);
        };
        const uint64_t missesBefore = e->lockMisses();
        for (size_t b = 0; b < blocksBeforeLoad; ++b) play(b);
        std::thread loader;
        if (concurrent) {
            loader = std::thread([&] {
                loaderId = std::this_thread::get_id();
                EXPECT_TRUE(Road::install(*e, Road::program('S', -1), 11));
            });
            while (!loading) std::this_thread::yield();
            EXPECT_TRUE(e->getby());
            calling = true;
            play(blocksBeforeLoad);
            loader.join();
        } else {
            EXPECT_TRUE(Road::install(*e, Road::program('S', -1), 11));
            play(blocksBeforeLoad);
        }
        for (size_t b = blocksBeforeLoad + 1; b < input.size() / block; ++b) play(b);
        stop = true;
        if (setter.joinable()) setter.join();
        e->setStallHookForTest(nullptr);
        EXPECT_EQ(e->lockMisses(), missesBefore);
        return out;
    };
    const Stereo alone = render(false);
    const Stereo hammered = render(true);
    EXPECT_TRUE(alone.left == hammered.left);
    EXPECT_TRUE(alone.right == hammered.right);
    double peak = 0.0;
    for (double v : alone.left) peak = std::max(peak, std::fabs(v));
    EXPECT_GT(peak, 0.0);
}

// Pass-through entered without a load phase (bypass, boot, teardown) is played offline too: the call
// neither waits nor misses.
TEST_F(LockingTest, OfflineCallsPlayABypassAsPassThrough) {
    auto e = engine("<DSPBUFFER>512</DSPBUFFER>");
    ASSERT_TRUE(Road::install(*e, Road::program('S', -1), 11));
    e->smpby(true, 0, false, false);
    const Stereo input = noise(4096, 3);
    const Stereo out = run(*e, input, fixedBlocks(256), Output::doubleReplace, 4);
    EXPECT_TRUE(out.left == input.left);
    EXPECT_TRUE(out.right == input.right);
    EXPECT_EQ(e->lockMisses(), 0u);
}

} // namespace
