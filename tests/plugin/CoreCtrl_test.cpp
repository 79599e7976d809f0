// The control thread of an in-process effect booted on the demo folder, as the editor sees it: status
// records on render ticks while a client is connected, filled from their beans; none without a client
// or while the control lock is held; the view-close request with and without a listener; and a host
// that ends the thread calling it back.
#include "plugin/CoreCtrl.h"

#include "base/CoreSmph.h"
#include "display/CoreDsif.h"
#include "plugin/CoreMstr.h"
#include "processor/CorePrcs.h"
#include "tests/plugin/BootedEffect.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <pthread.h>
#include <thread>
#include <unistd.h>

namespace {

using Status = CorePpwr::STATUSRECORD;

constexpr char kRenderTick[] = "CoreCtrl updte dsif";

class CoreCtrlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(booted.booted);
        effect = booted.effect.get();
        control = effect->getct();
        ASSERT_EQ(CoreLswr::lscrt(&NoticeLog::callback, nullptr, nullptr, nullptr, 0.02, 0.0, &listener), 0);
        // Keeps the last status record, read as the editor reads it; answers a view close as the
        // editor does, by closing and lowering the client count, while answerClose holds.
        log.onNotice = [this](const AudioUnitEvent& event) {
            if (event.id == CorePpwr::iCviewclose && answerClose) {
                const uint8_t closed = 0;
                event.target->wsprp(CorePpwr::iCclient, 0, 0, &closed, 1);
            }
            if (event.id != CorePpwr::iCstatus) return;
            uint32_t size = sizeof(Status);
            std::lock_guard<std::mutex> hold(lastLock);
            event.target->wgprp(event.id, 0, 0, &last, size);
        };
        for (uint32_t id : {CorePpwr::iCstatus, CorePpwr::iCviewclose}) {
            const AudioUnitEvent event{3, booted.properties(), id, 0, 0};
            ASSERT_EQ(CoreLswr::auaet(listener, &log, &event), 0);
        }
    }
    void TearDown() override { CoreLswr::lsdsp(listener); }

    void client(uint8_t connected) { ASSERT_EQ(effect->wsprp(CorePpwr::iCclient, 0, 0, &connected, 1), 0); }
    size_t statusCount() { return log.count(CorePpwr::iCstatus); }
    // Lets the thread tick until `renders` more render ticks were logged, then holds the control lock.
    void run(size_t renders) {
        const size_t from = booted.logCount(kRenderTick);
        control->setdu(false);
        ASSERT_TRUE(eventually([&] { return booted.logCount(kRenderTick) >= from + renders; }));
        control->setdu(true);
    }

    // The demo skin's second font set from the start: the display reads the selected set once, when it
    // is built, and the status record sends the display's.
    BootedEffect booted{"<SKINSUBPATH>skins/</SKINSUBPATH><SKINNAME>Demo.q7s</SKINNAME><FONTCOLOUR>1</FONTCOLOUR>"};
    CoreZrlg* effect = nullptr; // its control and listener threads run in every test
    CoreCtrl* control = nullptr;
    CoreLswr* listener = nullptr;
    NoticeLog log;
    std::mutex lastLock;
    Status last{};
    std::atomic<bool> answerClose{false};
};

TEST_F(CoreCtrlTest, SendsOneStatusRecordPerRenderTickWhileAClientIsConnected) {
    control->setdu(true);
    const size_t before = booted.logCount(kRenderTick);
    client(1);
    run(4);
    const size_t renders = booted.logCount(kRenderTick) - before;
    EXPECT_TRUE(eventually([&] { return statusCount() == renders; }));
    EXPECT_EQ(statusCount(), renders);
    EXPECT_EQ(booted.logCount("CoreCtrl updte cVeditor ends"), renders);

    // Without a client the display still renders, but nothing is sent.
    client(0);
    run(3);
    std::this_thread::sleep_for(std::chrono::milliseconds(50)); // a notice would have arrived by now
    EXPECT_EQ(statusCount(), renders);

    // While the control lock is held nothing is sent; afterwards records resume.
    client(1);
    const size_t held = booted.logCount(kRenderTick);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(booted.logCount(kRenderTick), held);
    EXPECT_EQ(statusCount(), renders);
    run(1);
    EXPECT_TRUE(eventually([&] { return statusCount() > renders; }));
    control->setdu(false);
    client(0);
}

TEST_F(CoreCtrlTest, FillsTheStatusRecordFromItsBeans) {
    CorePrcs* prcs = control->getms()->getpr();
    control->setdu(true);
    CorePrcs::BEANSTRUCT bean{};
    prcs->setbh(32, 0, &bean); // the bean alone: the record sends the display's set, chosen when it was built
    prcs->setbb(258, true, &bean);
    for (bean.index = 0; bean.index < 10; ++bean.index) prcs->setbd(155, 0.1 * bean.index, &bean);
    client(1);
    run(1);
    ASSERT_TRUE(eventually([&] { return statusCount() == booted.logCount("CoreCtrl updte cVeditor ends"); }));
    ASSERT_GE(statusCount(), 1u);
    Status got;
    {
        std::lock_guard<std::mutex> hold(lastLock);
        got = last;
    }
    // The thread is held: the beans read now are those the record was filled from.
    struct Row {
        const char* field;
        double got, bean;
    };
    std::vector<Row> rows = {{"font set", double(got.fontset), double(control->getms()->getds()->getfc())},
                             {"indicator", double(got.indicator), double(prcs->getbb(218, &bean))},
                             {"bypass", double(got.bypass), double(prcs->getbb(258, &bean))},
                             {"meter refresh", double(got.meterrefresh), double(prcs->getbb(81, &bean))},
                             {"slot", double(got.slot), double(prcs->getbi(67, &bean))}};
    for (bean.index = 0; bean.index < 4; ++bean.index)
        rows.push_back({"meter", got.meters[bean.index], prcs->getbd(219, &bean)});
    for (bean.index = 0; bean.index < 10; ++bean.index)
        rows.push_back({"control", got.controls[bean.index], double(float(prcs->getbd(155, &bean)))});
    for (bean.index = 0; bean.index < 8; ++bean.index)
        rows.push_back({"led", double(got.leds[bean.index]), double(prcs->getbh(220, &bean))});
    for (const Row& row : rows) EXPECT_EQ(row.got, row.bean) << row.field;
    EXPECT_EQ(got.fontset, 1);
    EXPECT_TRUE(got.bypass);
    EXPECT_EQ(got.controls[9], 0.9f);
    control->setdu(false);
    client(0);
}

// The editor's setdu holds the display lock with the control lock, so no cell export or popup
// record changes under it; releasing gives both back.
TEST_F(CoreCtrlTest, SetduHoldsTheDisplayLockToo) {
    CoreSmph& displayLock = control->getms()->getds()->getlk();
    control->setdu(true);
    EXPECT_EQ(displayLock.counter(), 0);
    control->setdu(false);
    ASSERT_TRUE(eventually([&] {
        if (!displayLock.locka()) return false; // a pass may hold it for a moment
        displayLock.relse();
        return true;
    }));
    control->setdu(true);
    run(1); // the control thread renders again once released
    control->setdu(false);
}

TEST_F(CoreCtrlTest, ViewCloseWaitsForAListenerToDropTheClient) {
    answerClose = true;
    client(1);
    control->viewa(5000);
    EXPECT_FALSE(control->cnncl());
    EXPECT_EQ(log.count(CorePpwr::iCviewclose), 1u);
    EXPECT_EQ(booted.logCount("did not close"), 0u);

    // Nobody answers: it gives up after its deadline and says so.
    answerClose = false;
    client(1);
    const auto start = std::chrono::steady_clock::now();
    control->viewa(100);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_TRUE(control->cnncl());
    EXPECT_EQ(booted.logCount("did not close"), 1u);
    client(0);
}

// A host written in an interpreter ends foreign threads that call it back while it shuts down. The
// host below answers as BootedEffect's does, but ends the chosen thread in its callback for the armed
// opcode, once letThrough such calls have passed. Storing the opcode arms it; every other field is set
// before the effect's threads start.
struct ThreadEnd {
    std::atomic<int32_t> opcode{-1};
    int32_t letThrough = 0;
    bool hostThread = false; // the test's host thread, else any thread but the test's (the control thread)
    std::thread::id testThread;
    std::atomic<bool> ended{false};
} threadEnd;
thread_local bool onHostThread = false;

VstIntPtr endingHost(AEffect* effect, VstInt32 opcode, VstInt32 index, VstIntPtr value, void* ptr,
                     float opt) {
    if (opcode == threadEnd.opcode.load() &&
        (threadEnd.hostThread ? onHostThread : std::this_thread::get_id() != threadEnd.testThread) &&
        threadEnd.letThrough-- == 0) {
        threadEnd.ended = true;
        pthread_exit(nullptr);
    }
    return BootedEffect::host(effect, opcode, index, value, ptr, opt);
}

enum class Caller { control, dispatcher, creation };

// Runs in a fresh child process: 0 when the thread ended, the effect then closed, and nothing of an
// effect whose creation was cut short stayed behind.
int endTheCallingThread(Caller caller, int32_t opcode, int32_t letThrough) {
    alarm(60); // a lock left held would hang the close: the child is killed instead
    threadEnd.testThread = std::this_thread::get_id();
    threadEnd.hostThread = caller != Caller::control;
    threadEnd.letThrough = letThrough;
    {
        BootedEffect booted("", true, &endingHost);
        if (!booted.booted) return 2;
        CorePrcs::BEANSTRUCT first{};
        booted.effect->getms()->getpr()->setbd(155, 0.25, &first); // an engine-side change the tick automates
        CoreMstr::setBundleForTest(CoreAnsx(booted.folder.withSeparator().c_str()), CoreAnsx("Vorlan3.so"));
        threadEnd.opcode = opcode;
        if (caller == Caller::control) {
            if (!eventually([&] { return booted.effect->getct()->Finished(); })) return 3;
        } else {
            std::thread([&] {
                onHostThread = true;
                AEffect* plugin = booted.effect->getAeffect();
                if (caller == Caller::dispatcher)
                    plugin->dispatcher(plugin, effMainsChanged, 0, 1, nullptr, 0.0f);
                if (caller == Caller::creation) delete createEffectInstance(&endingHost);
            }).join();
        }
        if (!threadEnd.ended) return 4;
    }
    return CoreMstr::sharedCount() == 0 ? 0 : 5;
}

TEST(CoreCtrl, AThreadEndedInAHostCallbackLeavesTheProcessAndTheCloseIntact) {
    struct Row {
        const char* where;
        Caller caller;
        int32_t opcode, letThrough;
    };
    const Row rows[] = {
        {"control thread, sample-rate poll", Caller::control, audioMasterGetSampleRate, 0},
        {"control thread, parameter automation", Caller::control, audioMasterAutomate, 0},
        {"host thread, dispatcher", Caller::dispatcher, audioMasterWantMidi, 0},
        // the second rate request comes after the control thread started
        {"host thread, effect creation", Caller::creation, audioMasterGetSampleRate, 1},
    };
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (const Row& r : rows) {
        SCOPED_TRACE(r.where);
        EXPECT_EXIT(std::_Exit(endTheCallingThread(r.caller, r.opcode, r.letThrough)),
                    ::testing::ExitedWithCode(0), "");
    }
}

} // namespace
