// The listener thread on bare property interfaces: notices arrive in queue order with their values,
// one per registered listener; registration refuses what it cannot serve; unlinking forgets every
// record of a listener; disposal under a stream of notices leaves nothing behind.
#include "plugin/CoreLswr.h"

#include "tests/plugin/NoticeLog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <limits>
#include <thread>

namespace {

// Records what the effect would tell the host.
class RecordingInterface : public CorePpwr {
public:
    void stpar(int32_t id, float value) override {
        std::lock_guard<std::mutex> hold(lock);
        sent.emplace_back(id, value);
    }
    std::mutex lock;
    std::vector<std::pair<int32_t, float>> sent;
};

AudioUnitEvent event(uint32_t type, CorePpwr* target, uint32_t id) {
    return AudioUnitEvent{type, target, id, 0, 0};
}

CoreLswr* listen(double interval = 0.02) {
    CoreLswr* listener = nullptr;
    EXPECT_EQ(CoreLswr::lscrt(&NoticeLog::callback, nullptr, nullptr, nullptr, interval, 0.0, &listener), 0);
    return listener;
}

TEST(CoreLswr, DeliversNoticesQueuedInOneIntervalInOrderInOnePass) {
    RecordingInterface target;
    NoticeLog log;
    CoreLswr* listener = listen();
    const AudioUnitEvent gate = event(3, &target, 1), property = event(3, &target, 7), parameter = event(0, &target, 5);
    for (const AudioUnitEvent& e : {gate, property, parameter}) ASSERT_EQ(CoreLswr::auaet(listener, &log, &e), 0);

    // The gate's callback holds the listener until the three notices are queued.
    std::mutex gateLock;
    std::condition_variable opened;
    bool open = false;
    std::vector<int64_t> pollsAtNotice; // read once the listener is gone
    std::atomic<bool> gateReached{false};
    log.onNotice = [&](const AudioUnitEvent& e) {
        pollsAtNotice.push_back(listener->getep());
        if (e.id != 1) return;
        gateReached = true;
        std::unique_lock<std::mutex> hold(gateLock);
        opened.wait(hold, [&] { return open; });
    };
    target.prchg(1, 0, 0);
    ASSERT_TRUE(eventually([&] { return gateReached.load(); }));
    target.prchg(7, 0, 0);
    EXPECT_EQ(target.stpri(5, 0.25f, &log), 0); // parameter notices carry the sender
    target.prchg(7, 0, 0);
    {
        std::lock_guard<std::mutex> hold(gateLock);
        open = true;
    }
    opened.notify_all();
    ASSERT_TRUE(eventually([&] { return log.size() == 4; }));
    CoreLswr::lsdsp(listener);

    struct Row {
        uint32_t type, id;
        void* object;
        float value;
    };
    const Row rows[] = {{3, 1, &log, 0.0f}, {3, 7, &log, 0.0f}, {0, 5, &log, 0.25f}, {3, 7, &log, 0.0f}};
    const std::vector<NoticeLog::Entry> got = log.copy();
    for (size_t i = 0; i < std::size(rows); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].event.type, rows[i].type);
        EXPECT_EQ(got[i].event.id, rows[i].id);
        EXPECT_EQ(got[i].event.target, &target);
        EXPECT_EQ(got[i].object, rows[i].object);
        EXPECT_EQ(got[i].value, rows[i].value);
        EXPECT_EQ(pollsAtNotice[i], pollsAtNotice[0]); // no wait between them
    }
    EXPECT_FALSE(log.badArguments);
    ASSERT_EQ(target.sent.size(), 1u); // stpri told the host first
    EXPECT_EQ(target.sent[0], std::make_pair(5, 0.25f));
}

TEST(CoreLswr, EveryRegisteredListenerGetsOneNoticeAndNoneAfterItsDisposal) {
    CorePpwr target;
    NoticeLog first, second;
    CoreLswr* one = listen();
    CoreLswr* two = listen();
    const AudioUnitEvent status = event(3, &target, 100102);
    ASSERT_EQ(CoreLswr::auaet(one, &first, &status), 0);
    ASSERT_EQ(CoreLswr::auaet(two, &second, &status), 0);
    target.prchg(100102, 0, 0);
    ASSERT_TRUE(eventually([&] { return first.count(100102) == 1 && second.count(100102) == 1; }));

    CoreLswr::lsdsp(one);
    target.prchg(100102, 0, 0); // would reach a freed listener if its record were kept
    ASSERT_TRUE(eventually([&] { return second.count(100102) == 2; }));
    EXPECT_EQ(first.count(100102), 1u);
    CoreLswr::lsdsp(two);
    CoreLswr::lsdsp(nullptr);
}

TEST(CoreLswr, RegistrationAndUnlinkingRules) {
    RecordingInterface target;
    NoticeLog log;
    CoreLswr* listener = listen();
    const AudioUnitEvent refused[] = {event(4, &target, 9), event(0xFFFFFFFF, &target, 9), event(3, nullptr, 9)};
    for (const AudioUnitEvent& e : refused) EXPECT_EQ(CoreLswr::auaet(listener, &log, &e), 11);
    EXPECT_EQ(CoreLswr::auaet(listener, &log, nullptr), 11);
    EXPECT_EQ(CoreLswr::auaet(nullptr, &log, &refused[0]), 11);
    EXPECT_EQ(target.auaet(nullptr, &log, refused[0], false), 11);

    const AudioUnitEvent property = event(3, &target, 9), parameter = event(2, &target, 9);
    ASSERT_EQ(CoreLswr::auaet(listener, &log, &property), 0);
    ASSERT_EQ(CoreLswr::auaet(listener, &log, &parameter), 0); // the same target twice

    CoreLswr* stranger = listen(); // holds no record on target
    target.unlnk(stranger);
    NoticeLog markerLog;
    target.prchg(9, 0, 0);
    target.stpri(9, 0.5f, &markerLog); // a parameter notice goes to the sender, not the registered object
    ASSERT_TRUE(eventually([&] { return log.count(9) == 1 && markerLog.count(9) == 1; }));
    EXPECT_EQ(markerLog.copy()[0].value, 0.5f);

    target.unlnk(listener); // both lists
    target.prchg(9, 0, 0);
    target.stpri(9, 0.75f, &markerLog);
    // A notice queued by those calls would arrive ahead of this marker.
    const AudioUnitEvent marker = event(3, &target, 10);
    ASSERT_EQ(CoreLswr::auaet(listener, &markerLog, &marker), 0);
    target.prchg(10, 0, 0);
    ASSERT_TRUE(eventually([&] { return markerLog.count(10) == 1; }));
    EXPECT_EQ(log.count(9), 1u);
    EXPECT_EQ(markerLog.count(9), 1u);

    AudioUnitParameter posted{&target, 3, 0, 0};
    EXPECT_EQ(CoreLswr::aupst(listener, &log, &posted, 0.125f, 0), 0);
    EXPECT_EQ(CoreLswr::aupst(listener, &log, nullptr, 0.125f, 0), 11);
    CoreLswr::lsdsp(stranger);
    CoreLswr::lsdsp(listener); // unlinks target twice; the second finds nothing
    ASSERT_EQ(target.sent.size(), 3u);
    EXPECT_EQ(target.sent[2], std::make_pair(3, 0.125f));
}

TEST(CoreLswr, KeepsTheIntervalInMillisecondsAndNeverPollsWithoutPause) {
    const struct {
        double seconds;
        int32_t ms;
    } rows[] = {{0.02, 20}, {0.0005, 0}, {1.0, 1000}, {0.0, 0}, {-1.0, 0},
                {std::numeric_limits<double>::quiet_NaN(), 0}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.seconds);
        CoreLswr* listener = listen(row.seconds);
        EXPECT_EQ(listener->getsl(), row.ms);
        CoreLswr::lsdsp(listener);
    }
    // A 0 ms interval still waits at least 1 ms between empty polls.
    // The clock starts before the listener, so every poll it makes falls inside the measured time.
    const auto start = std::chrono::steady_clock::now();
    CoreLswr* listener = listen(0.0005);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const int64_t polls = listener->getep();
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    CoreLswr::lsdsp(listener);
    EXPECT_GE(polls, 1);
    EXPECT_LE(polls, elapsed + 2);
}

// Producers call prchg and stpri without pause while the listener is disposed: nothing arrives once
// lsdsp has returned, and what was queued is freed (LeakSanitizer, AddressSanitizer).
TEST(CoreLswr, DisposalUnderLoadLeavesNoNoticeAndNoLeak) {
    CorePpwr target;
    for (int round = 0; round < 100; ++round) {
        SCOPED_TRACE(round);
        NoticeLog log;
        std::atomic<bool> disposed{false};
        std::atomic<int> late{0};
        log.onNotice = [&](const AudioUnitEvent&) { late += disposed.load() ? 1 : 0; };
        CoreLswr* listener = listen(0.0);
        const AudioUnitEvent property = event(3, &target, 1), parameter = event(0, &target, 2);
        ASSERT_EQ(CoreLswr::auaet(listener, &log, &property), 0);
        ASSERT_EQ(CoreLswr::auaet(listener, &log, &parameter), 0);
        std::atomic<bool> stop{false};
        std::atomic<int> running{0};
        std::thread properties([&] {
            for (++running; !stop;) target.prchg(1, 0, 0);
        });
        std::thread parameters([&] {
            for (++running; !stop;) target.stpri(2, 1.0f, &log);
        });
        ASSERT_TRUE(eventually([&] { return running == 2; }));
        CoreLswr::lsdsp(listener);
        disposed = true;
        const size_t delivered = log.size();
        stop = true;
        properties.join();
        parameters.join();
        EXPECT_EQ(late.load(), 0);
        EXPECT_EQ(log.size(), delivered);
    }
}

} // namespace
