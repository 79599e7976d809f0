// The page renderer's frame on fixture engines: the boot, error and batch pages, the soft keys, the
// input messages of a pass, the add area and a page whose steps throw. Each flow is a row: an engine,
// a script of messages, passes and batches, and the trace it leaves (the next state after each pass,
// and notes the script takes); some rows end in a golden screen.
#include "display/CoreDsif.h"

#include "BeanLog.h"
#include "CoreDsifTestAccess.h"
#include "GoldenScreen.h"
#include "RecordingHost.h"
#include "base/CoreBlnk.h"
#include "display/CoreDspc.h"
#include "tests/common/DecimalCommaLocale.h"
#include "tests/common/EngineFixture.h"
#include "tests/common/LogCapture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Access = CoreDsifTestAccess;

enum class Engine {
    booted,       // booted through the beans beforehand: the first pass leaves the boot page
    fresh,        // unbooted, fast boot
    slow,         // unbooted, no fast boot
    compact,      // unbooted, MODE "0.0"
    missingSetup, // unbooted; the boot stops at the setup
    restored,     // unbooted, then booted by the chunk restore of "NOCHUNK"
};

// A display (without its thread) whose pages may throw in their entry or render step.
class ThrowingDisplay : public CoreDsif {
public:
    ThrowingDisplay(CorePrcs* engine, CoreDspc* queue, CoreBlnk* clock)
        : CoreDsif(engine, queue, clock, nullptr, NOTHREAD{}) {}
    void brokenEntry(PASS&) { throw CoreAnsx("entry broke"); }
    void brokenRender(PASS&) { throw CoreAnsx("render broke"); }
    void plainEntry(PASS&) {}
};

// What a script works with, and the trace it leaves.
struct Flow {
    CorePrcs& engine;
    CoreDsif& display;
    CoreDspc& queue;
    RecordingHost& host;
    std::vector<std::string> trace;

    void pass(bool editor = true) {
        display.updte(editor);
        trace.push_back(std::to_string(display.getns()));
    }
    void passes(int n, bool editor = true) {
        for (int i = 0; i < n; ++i) pass(editor);
    }
    void post(int16_t type, int32_t a, int32_t b = 0, int32_t c = 0, int32_t d = 0) {
        const CoreDspc::MESSAGELOC m{type, 0, a, b, c, d};
        queue.addms(&m);
    }
    void click(int32_t column, int32_t row) { post(0, column, row, column * 8 + 3, row * 12 + 5); }
    void batch() {
        Access::runBatch(display);
        trace.push_back("batch>" + std::to_string(display.getns()));
    }
    void goTo(short state) { // a page entered by a pass
        Access::setNextState(display, state);
        pass();
    }
    void note(const std::string& text) { trace.push_back(text); }
    // The batch variables of a load, then the batch page entered from `from`'s pass.
    void startBatch(short from, const char* next, const char* action, int32_t slot) {
        CorePrcs::BEANSTRUCT none{};
        engine.setbv(225, &none);
        display.btcst("LOADED", "LOADED:");
        display.btcst("LOADING", "LOADING:");
        display.btcst("NEWPROGRAM", CoreAnsx(slot));
        display.btcst("ACTION", action);
        display.btcst("NEXTSTEP", next);
        goTo(from);
    }
    std::string row(int y, int from = 0, int count = CoreDsif::iCdimx) const {
        std::string text;
        for (int x = from; x < from + count; ++x) text += Access::grid(display).cell(x, y)->getch();
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }
    // "menu N:" and its six slots, the marked one with a '*'.
    void bar() {
        const int m = Access::currentMenu(display);
        std::string text = "menu" + std::to_string(m) + ":";
        for (short slot = 0; slot < CoreMenu::iCvisibleitems; ++slot) {
            CoreAnsx label("");
            bool enabled = false;
            Access::menu(display, m).getvl(slot, label, enabled);
            std::string shown = label.c_str();
            shown.erase(0, shown.find_first_not_of(' '));
            shown.erase(shown.find_last_not_of(' ') + 1);
            text += (slot ? "," : "") + shown + (enabled ? "" : "*");
        }
        note(text);
    }
    void screen(const std::string& golden) {
        EXPECT_TRUE(GoldenScreen(golden).matches(Access::grid(display), golden));
    }
};

using Script = std::function<void(Flow&)>;

class CoreDsifFrame : public BootedEngineTest {
protected:
    std::unique_ptr<CorePrcs> engineOf(Engine kind) {
        fastBoot = kind == Engine::slow ? "0.0" : "1";
        switch (kind) {
        case Engine::booted:
            return booted();
        case Engine::compact:
            return unbooted(48000, "boot.xml", tag("MODE", "0.0"));
        case Engine::missingSetup:
            return unbooted(48000, "missing.xml");
        case Engine::restored: {
            auto e = unbooted();
            char chunk[] = "NOCHUNK";
            EXPECT_TRUE(e->setck(chunk, static_cast<int32_t>(sizeof chunk)));
            return e;
        }
        default:
            return unbooted();
        }
    }

    struct Row {
        const char* name;
        Engine engine;
        Script script;
        const char* trace;
    };
    void runRows(const std::vector<Row>& rows) {
        for (const Row& r : rows) {
            SCOPED_TRACE(r.name);
            auto engine = engineOf(r.engine);
            CoreDspc queue;
            RecordingHost host;
            auto display = Access::unstarted(engine.get(), &queue, &clock, &host);
            Access::placeholderPages(*display);
            Flow flow{*engine, *display, queue, host, {}};
            r.script(flow);
            std::string joined;
            for (const std::string& t : flow.trace) joined += (joined.empty() ? "" : " ") + t;
            EXPECT_EQ(joined, r.trace);
        }
    }

    CoreBlnk clock;
};

// The booted engine's display, entered on the program page.
void onProgramPage(Flow& f) {
    f.passes(2);
}

int32_t intBean(CorePrcs& e, int id) {
    CorePrcs::BEANSTRUCT none{};
    return e.getbi(id, &none);
}

} // namespace

TEST_F(CoreDsifFrame, BootFlows) {
    const std::vector<Row> rows = {
        {"fast boot with an editor: every stage in one pass", Engine::fresh,
         [](Flow& f) {
             f.pass();
             f.screen("frame_boot_fast.txt");
             f.pass();
             f.note(f.row(0));
         },
         "0 0 PROG"},
        {"fast boot without an editor prints the same", Engine::fresh,
         [](Flow& f) {
             f.pass(false);
             f.screen("frame_boot_fast.txt");
         },
         "0"},
        {"one stage per pass", Engine::slow, [](Flow& f) { f.passes(12); },
         "20 20 20 20 20 20 20 20 20 20 20 0"},
        {"one stage per pass without an editor", Engine::slow, [](Flow& f) { f.passes(12, false); },
         "20 20 20 20 20 20 20 20 20 20 20 0"},
        {"compact mode", Engine::compact,
         [](Flow& f) {
             f.passes(2);
             f.bar();
         },
         "18 18 menu5:PROG*,MAST,,,,"},
        {"setup missing: the error page keeps the lines", Engine::missingSetup,
         [](Flow& f) {
             f.passes(3);
             f.screen("frame_boot_failed.txt");
         },
         "21 21 21"},
        {"restored by the chunk: nothing printed", Engine::restored,
         [](Flow& f) {
             f.pass();
             f.note("[" + f.row(0) + "]");
         },
         "0 []"},
    };
    runRows(rows);
}

TEST_F(CoreDsifFrame, LogsTheBootStagesAndItsFailure) {
    struct Case {
        int16_t level;
        bool editor;
        bool stages; // the stage texts are logged
    };
    const Case cases[] = {{7, true, true}, {7, false, true}, {1, true, false}, {1, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "level " << c.level << " editor " << c.editor);
        auto engine = engineOf(Engine::missingSetup);
        CoreDspc queue;
        auto owned = Access::unstarted(engine.get(), &queue, &clock);
        CoreDsif& display = *owned;
        LogCapture log(c.level);
        display.updte(c.editor);
        std::vector<std::string> failures, stages;
        for (const std::string& line : log.texts()) {
            if (line.find("boot failed: ") != std::string::npos) failures.push_back(line);
            if (line.rfind(">MERIVANE LOADER ver ", 0) == 0 || line.rfind(">MASTER Ok ", 0) == 0)
                stages.push_back(line);
        }
        EXPECT_EQ(failures,
                  std::vector<std::string>{
                      "***ERROR***> boot failed: ROM MEMORY Ko: rom descriptor not found (missing.xml)"});
        EXPECT_EQ(stages.size(), c.stages ? 2u : 0u);
    }
}

TEST_F(CoreDsifFrame, SoftKeyFlows) {
    const std::vector<Row> rows = {
        {"KERN from PROG: the bar of the click's pass and of the next", Engine::booted,
         [](Flow& f) {
             onProgramPage(f);
             f.click(12, 13);
             f.pass();
             f.screen("frame_bar_click_pass.txt");
             f.pass();
             f.screen("frame_bar_kern_entered.txt");
             f.bar();
         },
         "0 0 5 5 menu0:PROG,KERN*,MAST,MIDI,DISK,"},
        {"columns 8 and 9 are slot 0", Engine::booted,
         [](Flow& f) {
             f.passes(1);
             f.goTo(5);
             f.click(8, 13);
             f.pass();
             f.goTo(5);
             f.click(9, 13);
             f.pass();
         },
         "0 5 0 5 0"},
        {"columns 55 and 57 are slot 5, blank in menu 0", Engine::booted,
         [](Flow& f) {
             onProgramPage(f);
             f.click(55, 13);
             f.pass();
             f.click(57, 13);
             f.pass();
         },
         "0 0 0 0"},
        {"the marked item changes nothing", Engine::booted,
         [](Flow& f) {
             onProgramPage(f);
             f.click(3, 13);
             f.pass();
         },
         "0 0 0"},
        {"PROG to LIST keeps menu 0 with PROG marked", Engine::booted,
         [](Flow& f) {
             onProgramPage(f);
             f.goTo(1);
             f.pass();
             f.bar();
         },
         "0 0 1 1 menu0:PROG*,KERN,MAST,MIDI,DISK,"},
        {"menu 1 scrolls", Engine::booted,
         [](Flow& f) {
             f.pass();
             f.goTo(6);
             f.bar();
             f.click(55, 13);
             f.pass();
             f.bar();
             f.click(50, 13);
             f.pass();
             f.bar();
             f.click(0, 13);
             f.pass();
             f.bar();
             f.click(55, 13);
             f.pass();
             f.click(56, 13); // DYNS at offset 2
             f.pass();
         },
         "0 6 menu1:MEMO*,PRMS,GLOB,LFOS,FUNS,More> 6 menu1:<More,GLOB,LFOS,FUNS,EVFS,More> 6 "
         "menu1:<More,LFOS,FUNS,EVFS,ENVS,DYNS 6 menu1:<More,GLOB,LFOS,FUNS,EVFS,More> 6 12"},
    };
    runRows(rows);
}

TEST_F(CoreDsifFrame, MessageFlows) {
    const std::vector<Row> rows = {
        {"no change: no entry, no clearing", Engine::booted,
         [](Flow& f) {
             onProgramPage(f);
             Access::grid(f.display).write("kept", 0, 5, 0, false, false);
             f.pass();
             f.note(f.row(5));
         },
         "0 0 0 kept"},
        {"of two clicks the first counts", Engine::booted,
         [](Flow& f) {
             onProgramPage(f);
             f.click(12, 13);
             f.click(22, 13);
             f.pass();
             f.pass();
         },
         "0 0 5 5"},
        {"wheel sums", Engine::booted,
         [](Flow& f) {
             onProgramPage(f);
             BeanLog log(f.engine);
             for (int32_t a : {1, 1, -1, 0}) f.post(3, a);
             f.pass();
             for (int32_t a : {2, -2}) f.post(3, a);
             f.pass();
             for (int32_t a : {2147483647, 5}) f.post(3, a);
             f.pass();
             for (int32_t a : {-2147483647 - 1, -5}) f.post(3, a);
             f.pass();
             for (const CorePrcs::BEANCALL& call : log.calls)
                 if (std::string(call.function) == "setbi" && call.id == 82)
                     f.note("wheel " + std::to_string(static_cast<int64_t>(call.value)));
         },
         "0 0 0 0 0 0 wheel 1 wheel 2147483647 wheel -2147483648"},
        {"three second-area clicks: one toggle", Engine::booted,
         [](Flow& f) {
             onProgramPage(f);
             CorePrcs::BEANSTRUCT none{};
             const bool before = f.engine.getbb(258, &none);
             for (int i = 0; i < 3; ++i) f.post(2, 0);
             f.pass();
             f.note(f.engine.getbb(258, &none) != before ? "toggled" : "kept");
             f.pass();
             f.note(f.engine.getbb(258, &none) != before ? "toggled" : "kept");
         },
         "0 0 0 toggled 0 toggled"},
        {"program button -1 is taken and starts nothing; 10000 neither", Engine::booted,
         [](Flow& f) {
             onProgramPage(f);
             f.post(4, -1);
             f.post(4, 7);
             f.pass();
             f.post(4, 10000);
             f.pass();
             CoreDspc::MESSAGELOC m{};
             f.note(f.queue.getms(4, &m) ? "queued" : "empty");
         },
         "0 0 0 0 empty"},
        {"program button 1234: the batch page, compact from compact pages", Engine::booted,
         [](Flow& f) {
             onProgramPage(f);
             f.post(4, 1234);
             f.pass();
             f.goTo(18);
             f.post(4, 1234);
             f.pass();
         },
         "0 0 22 18 23"},
        {"program buttons 0 and 9999 are in the memory", Engine::booted,
         [](Flow& f) {
             onProgramPage(f);
             f.post(4, 0);
             f.pass();
             f.goTo(0);
             f.post(4, 9999);
             f.pass();
         },
         "0 0 22 0 22"},
        {"pointer messages outside the cells are no clicks", Engine::booted,
         [](Flow& f) {
             onProgramPage(f);
             for (auto [column, row] : {std::pair{58, 13}, {-1, 13}, {12, 14}, {12, -1}}) {
                 f.click(column, row);
                 f.pass();
                 f.note(Access::pointerHeld(f.display) ? "held" : "free");
             }
         },
         "0 0 0 free 0 free 0 free 0 free"},
        {"the held pointer follows 100101", Engine::booted,
         [](Flow& f) {
             onProgramPage(f);
             f.host.pointer = {40, 50, true};
             f.click(5, 5);
             f.pass();
             f.note(Access::pointerHeld(f.display) ? "held" : "free");
             f.host.pointer = {44, 52, true};
             f.pass();
             f.note(Access::pointerHeld(f.display) ? "held" : "free");
             const auto [x, y] = Access::pointerNow(f.display);
             const auto [cx, cy] = Access::clickPoint(f.display);
             f.note(std::to_string(x) + "," + std::to_string(y) + " click " + std::to_string(cx) + "," +
                    std::to_string(cy));
             f.host.pointer = {45, 53, false};
             f.pass();
             f.note(Access::pointerHeld(f.display) ? "held" : "free");
         },
         "0 0 0 held 0 held 44,52 click 43,65 0 free"},
    };
    runRows(rows);
}

// The program button's batch variables, in order, as the pass sets them.
TEST_F(CoreDsifFrame, ProgramButtonSetsTheBatchVariables) {
    auto engine = engineOf(Engine::booted);
    CoreDspc queue;
    auto owned = Access::unstarted(engine.get(), &queue, &clock);
    CoreDsif& display = *owned;
    Access::placeholderPages(display);
    display.updte(true);
    display.updte(true);
    BeanLog log(*engine);
    const CoreDspc::MESSAGELOC button{4, 0, 1234, 0, 0, 0};
    queue.addms(&button);
    display.updte(true);
    std::vector<std::string> calls;
    for (const std::string& line : log.lines)
        if (line.rfind("setb", 0) == 0) calls.push_back(line);
    GoldenScreen golden("program button 1234");
    golden.fact("next state " + std::to_string(display.getns())).section("calls", calls);
    EXPECT_TRUE(golden.matches(Access::grid(display), "frame_program_button.txt"));
}

TEST_F(CoreDsifFrame, BatchFlows) {
    const std::vector<Row> rows = {
        {"the entry resets the selectors, empties the rows, sends 222 and wakes the thread", Engine::booted,
         [](Flow& f) {
             f.pass();
             Access::messageBoard(f.display).addrw("old row");
             Access::selectors(f.display).reset(0, false, true, -1);
             BeanLog log(f.engine);
             f.goTo(22);
             f.note(Access::event(f.display).WaitFor(0) == CoreTevn::iCwrsignaled ? "woken" : "asleep");
             f.note("rows " + std::to_string(Access::batchRows(f.display).size()));
             f.note(Access::selectors(f.display).gettm() ? "knobs" : "reset");
             f.note(std::find(log.lines.begin(), log.lines.end(), "setbv 222") != log.lines.end() ? "222"
                                                                                                  : "no 222");
         },
         "0 22 woken rows 0 reset 222"},
        {"READPROGRAM with LIST", Engine::booted,
         [](Flow& f) {
             f.pass();
             f.startBatch(22, "READPROGRAM", "LIST", kPopOne);
             f.pass();
             f.batch();
             f.note("slot " + std::to_string(intBean(f.engine, 67)));
             for (const std::string& row : Access::batchRows(f.display)) f.note("[" + row + "]");
         },
         "0 22 22 batch>1 slot 1 [LOADING: 1] [LOADED: Hits]"},
        {"LIST and KERN from the compact batch page", Engine::booted,
         [](Flow& f) {
             f.pass();
             f.startBatch(23, "READPROGRAM", "LIST", kPopOne);
             f.batch();
             f.startBatch(23, "READPROGRAM", "KERN", kPopOne);
             f.batch();
         },
         "0 23 batch>17 23 batch>5"},
        {"no first step: no row, the page still changes", Engine::booted,
         [](Flow& f) {
             f.pass();
             f.startBatch(22, "", "LIST", kPopOne);
             f.batch();
             f.note("rows " + std::to_string(Access::batchRows(f.display).size()));
         },
         "0 22 batch>1 rows 0"},
        {"an unknown or empty ACTION leads home", Engine::booted,
         [](Flow& f) {
             f.pass();
             for (const char* action : {"ZZZ", ""})
                 for (short from : {22, 23}) {
                     f.startBatch(from, "READPROGRAM", action, kPopOne);
                     f.batch();
                 }
         },
         "0 22 batch>0 23 batch>18 22 batch>0 23 batch>18"},
        {"a load failing under a pool limit falls back to slot 0; ACTION still leads on", Engine::booted,
         [this](Flow& f) {
             f.pass();
             f.startBatch(22, "READPROGRAM", "KERN", kParameters);
             pool.setal(pool.getma() - 1); // every further block is refused
             f.batch();
             pool.setal(std::numeric_limits<int64_t>::max());
             for (const std::string& row : Access::batchRows(f.display)) f.note("[" + row + "]");
         },
         "0 22 batch>5 [LOADING: 4] [LOADED: Init]"},
        {"eight of nine rows and the status row", Engine::booted,
         [](Flow& f) {
             f.pass();
             f.startBatch(22, "READPROGRAM", "LIST", kParameters);
             f.batch();
             Access::setNextState(f.display, 22); // one more pass on the batch page, without an entry
             for (int i = 0; i < 7; ++i)
                 Access::messageBoard(f.display).addrw(("a row longer than the page keeps its end " +
                                                        std::string(20, '.') + " row " + std::to_string(i))
                                                           .c_str());
             f.pass();
             f.screen("frame_batch_page.txt");
         },
         "0 22 batch>1 22"},
    };
    runRows(rows);
}

// A pass on the batch page reads only the rows and the status row: while the batch's locked step
// holds the engine on the display thread, passes go on.
TEST_F(CoreDsifFrame, BatchPagePassesGoOnWhileAStepHoldsTheEngine) {
    auto engine = engineOf(Engine::booted);
    CoreDspc queue;
    auto display = Access::unstarted(engine.get(), &queue, &clock);
    display->updte(true);
    RecordingHost host;
    Flow flow{*engine, *display, queue, host, {}};
    flow.startBatch(22, "READPROGRAM", "LIST", kPopOne);
    Access::messageBoard(*display).addrw("a row so far");
    std::atomic<int> passes{0};
    std::atomic<bool> stalled{false};
    std::thread::id batchThread;
    engine->setStallHookForTest([&] {
        if (std::this_thread::get_id() != batchThread || stalled.exchange(true)) return;
        std::thread control([&] {
            for (int i = 0; i < 20; ++i, ++passes) display->updte(true);
        });
        control.join();
    });
    std::thread batch([&] {
        batchThread = std::this_thread::get_id(); // before the hook can first run, on this thread
        Access::runBatch(*display);
    });
    batch.join();
    engine->setStallHookForTest(nullptr);
    EXPECT_TRUE(stalled.load());
    EXPECT_EQ(passes.load(), 20);
    EXPECT_EQ(flow.row(2), "a row so far");
    EXPECT_EQ(display->getns(), 1);
}

// The real display thread: a program button's batch runs and leads to the program list, with no
// help from the test beyond the passes the control thread would run.
TEST_F(CoreDsifFrame, TheDisplayThreadRunsTheProgramButtonsBatch) {
    auto engine = engineOf(Engine::booted);
    CoreDspc queue;
    CoreDsif display(engine.get(), &queue, &clock, nullptr);
    display.updte(true);
    display.updte(true);
    const CoreDspc::MESSAGELOC button{4, 0, kPopOne, 0, 0, 0};
    queue.addms(&button);
    display.updte(true);
    EXPECT_EQ(display.getns(), 22);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (display.getcs() != 1 && std::chrono::steady_clock::now() < deadline) {
        display.updte(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(display.getcs(), 1);
    EXPECT_EQ(intBean(*engine, 67), kPopOne);
}

TEST_F(CoreDsifFrame, AddAreaShowsTheLinkedParameters) {
    struct Case {
        int32_t addChars;
        bool knobs;
        const char* golden;
    };
    const Case cases[] = {
        {0, false, "frame_add_area_49.txt"},
        {30, false, "frame_add_area_30.txt"},
        {58, false, "frame_add_area_58.txt"},
        {0, true, "frame_add_area_knobs.txt"},
    };
    DecimalCommaLocale comma;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.golden);
        auto engine = engineOf(Engine::booted);
        engine->ldpdm(kParameters, false);
        // The fixture's parameters on controls 1 and 3 (MIX1, MIX3); the second shows 1234.56 (its
        // value range is that one number).
        CorePrcs::BEANSTRUCT first{0, 0}, second{1, 0};
        engine->setbs(197, "1", &first);
        engine->setbs(197, "3", &second);
        engine->setbd(214, 1234.56, &second);
        engine->setbd(215, 1234.56, &second);
        engine->setbs(203, "ms", &second);
        engine->setbv(195, &second);
        CoreDspc queue;
        RecordingHost host;
        host.addWidth = c.addChars;
        auto owned = Access::unstarted(engine.get(), &queue, &clock, &host);
        CoreDsif& display = *owned;
        Access::placeholderPages(display);
        display.updte(true);
        display.updte(true);
        if (c.knobs) {
            Access::selectors(display).reset(0, false, true, -1);
            display.updte(true);
        }
        EXPECT_TRUE(GoldenScreen(c.golden).matches(Access::grid(display), c.golden));
    }
}

TEST_F(CoreDsifFrame, AThrowingPageEndsItsPassOnly) {
    auto engine = engineOf(Engine::booted);
    CoreDspc queue;
    ThrowingDisplay display(engine.get(), &queue, &clock);
    Access::setPage(display, 5, &ThrowingDisplay::brokenEntry, &ThrowingDisplay::brokenRender, "KERN");
    Access::setPage(display, 2, &ThrowingDisplay::plainEntry, &ThrowingDisplay::brokenRender, "MAST");
    LogCapture log(1);
    std::vector<short> states;
    const auto pass = [&](int column = -1) {
        if (column >= 0) {
            const CoreDspc::MESSAGELOC m{0, 0, column, 13, 0, 0};
            queue.addms(&m);
        }
        display.updte(true);
        states.push_back(display.getns());
    };
    pass();
    pass();
    pass(12); // to KERN
    pass();   // its entry throws
    pass();   // its render throws
    pass(2);  // PROG still leads away
    pass();
    pass(12); // KERN again: a new entry
    pass();
    pass(22); // MAST: its render throws after the click
    pass();
    pass();
    EXPECT_EQ(states, (std::vector<short>{0, 0, 5, 5, 5, 0, 0, 5, 5, 2, 2, 2}));
    EXPECT_EQ(log.texts(), (std::vector<std::string>{"***ERROR***> CoreDsif page 5 entry: entry broke",
                                                     "***ERROR***> CoreDsif page 5 entry: entry broke",
                                                     "***ERROR***> CoreDsif page 2 render: render broke"}));
}
