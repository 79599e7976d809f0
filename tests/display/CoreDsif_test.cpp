// Construction of the display object on a booted engine: a blank screen, the labels, the start values
// of its fields, menus and page table, and what it reads of the engine and the host.
#include "display/CoreDsif.h"

#include "BeanLog.h"
#include "CoreDsifTestAccess.h"
#include "RecordingHost.h"
#include "display/CoreDspc.h"
#include "tests/common/EngineFixture.h"

#include <gtest/gtest.h>

#include "base/CoreXutl.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

class CoreDsifTest : public BootedEngineTest {
protected:
    using Access = CoreDsifTestAccess;
    CoreDspc queue;
    CoreBlnk clock;
};

} // namespace

TEST_F(CoreDsifTest, StartsBlankWithItsStartValues) {
    auto engine = booted();
    BeanLog log(*engine);
    CoreDsif display(engine.get(), &queue, &clock, nullptr);
    EXPECT_TRUE(log.lines.empty()) << "construction only reads beans: " << log.lines.front();
    const double blank = 0.5 / display.getre(0);
    for (short y = 0; y < display.getdy() + display.getay(); ++y)
        for (short x = 0; x < (y < display.getdy() ? display.getdx() : display.getax()); ++x) {
            ASSERT_EQ(display.read_(0, x, y), blank) << x << "," << y;
            ASSERT_EQ(display.read_(1, x, y), -1.0) << x << "," << y;
        }
    const std::vector<std::string> start = {
        "home=PROG", "versioning=", "filters=", "skinfiles=0/0", "categories=0/0", "counts=84/33/45",
        "categorylevel=0", "listtop=0 gridstart=0", "categorytop=0 selection=0", "test=10/360/10", "click=0,0",
        "size=58x14 add=49x3", "kernellimit=10", "state=20/20", "envelope=0 follower=0 parameter=0",
        "messagerows=8/8", "fontcolour=0", "listslots=12", "gridslots=11x3 first -1", "flags=000101",
        "processors=1", "popups=1", "event=1 lock=1",
    };
    EXPECT_EQ(Access::startValues(display), start);
    EXPECT_EQ(Access::menus(display), 6);
    EXPECT_TRUE(Access::currentMenuIsFirst(display));
    EXPECT_EQ(Access::tableRows(display), 35);
    EXPECT_STREQ(Access::programLabels(display)[0].c_str(), "0 ");
    EXPECT_STREQ(Access::programLabels(display)[7].c_str(), "7 ");
    EXPECT_STREQ(Access::programLabels(display)[99].c_str(), "99 ");
    EXPECT_EQ(Access::programLabels(display).size(), 100u);
    EXPECT_EQ(Access::bankLabels(display).size(), 100u);
    EXPECT_STREQ(Access::sourceKeys(display)[19].c_str(), "MIX1");
    EXPECT_STREQ(Access::sourceLabels(display)[60].c_str(), "RTELFO1");
}

TEST_F(CoreDsifTest, ReadsPriorityFontColourAndAddWidth) {
    struct Row {
        const char* settings;
        bool host;
        int32_t addChars;
        int priority;
        short fontColour, addWidth;
    };
    const Row rows[] = {
        {"<LOADERPRIORITY>3</LOADERPRIORITY>", false, 0, 3, 0, 49},
        {"<LOADERPRIORITY>7</LOADERPRIORITY><FONTCOLOUR>2</FONTCOLOUR>", true, 0, 1, 2, 49},
        {"", true, -1, 1, 0, 49},
        {"", true, 30, 1, 0, 30},
        {"", true, 120, 1, 0, 58},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.settings);
        auto engine = booted(48000, r.settings);
        RecordingHost host;
        host.addWidth = r.addChars;
        CoreDsif display(engine.get(), &queue, &clock, r.host ? &host : nullptr);
        EXPECT_EQ(Access::priority(display), r.priority);
        EXPECT_EQ(display.getfc(), r.fontColour);
        EXPECT_EQ(display.getax(), r.addWidth);
        EXPECT_TRUE(host.log.empty());
    }
}

// ---- export, loads, thread

namespace {

using Access = CoreDsifTestAccess;

std::vector<double> filled(const CoreDsif& display, CoreCnst::DISPLAYDATA& data) {
    display.flldd(&data);
    return std::vector<double>(data.values, data.values + data.total);
}

// The record as the grid itself reads every cell (the reference for the export).
std::vector<double> gridValues(CoreDsif& display, const CoreCnst::DISPLAYDATA& data) {
    std::vector<double> values(static_cast<size_t>(data.total), 99.0);
    for (short f = 0; f < data.fontcount; ++f)
        for (short r = 0; r < data.rows[f]; ++r)
            for (short c = 0; c < data.columns[f]; ++c)
                values[static_cast<size_t>(data.rowstarts[f][r] + c)] = Access::grid(display).readr(f, c, r);
    return values;
}

// The lines a load start leaves in the bean trace.
std::vector<std::string> loadCalls(const std::string& slot, const std::string& action) {
    return {"setbv 225",
            "setbs 223 \"LOADED\"",     "setbs 224 \"LOADED:\"",
            "setbs 223 \"LOADING\"",    "setbs 224 \"LOADING:\"",
            "setbs 223 \"NEWPROGRAM\"", "setbs 224 \"" + slot + "\"",
            "setbs 223 \"ACTION\"",     "setbs 224 \"" + action + "\"",
            "setbs 223 \"NEXTSTEP\"",   "setbs 224 \"READPROGRAM\""};
}

// Polls a condition for at most 20 s.
template <typename Condition>
bool eventually(Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// A blink clock whose phase flips at every reading after the first (the clock's start), counting the
// readings: 0.5 s after the start is the on half, 1.5 s the off half.
std::atomic<int> clockReadings{0};
double flippingClock() {
    const int n = clockReadings++;
    return 20000.0 + (n == 0 ? 0.0 : n % 2 == 1 ? 0.5 : 1.5) / 86400.0;
}

} // namespace

TEST_F(CoreDsifTest, ExportsEveryFontInTheRecordLayoutFromTheLastExportedGrid) {
    auto engine = booted();
    struct Font {
        int32_t rows, columns, firstStart;
    };
    const Font fonts[] = {{17, 58, 0}, {17, 58, 986}, {8, 29, 1972}, {17, 58, 2204}};
    for (int32_t addWidth : {0, 30}) {
        SCOPED_TRACE(addWidth);
        RecordingHost host;
        host.addWidth = addWidth;
        auto display = Access::unstarted(engine.get(), &queue, &clock, &host);
        CoreCnst::DISPLAYDATA data;
        display->newdd(&data);
        ASSERT_EQ(data.fontcount, 4);
        EXPECT_EQ(data.total, 3190);
        for (int f = 0; f < 4; ++f) {
            EXPECT_EQ(data.rows[f], fonts[f].rows);
            EXPECT_EQ(data.columns[f], fonts[f].columns);
            for (int r = 0; r < data.rows[f]; ++r)
                EXPECT_EQ(data.rowstarts[f][r], fonts[f].firstStart + r * fonts[f].columns) << f << "," << r;
        }
        EXPECT_EQ(std::count(data.values, data.values + data.total, 0.0), 3190);

        // After construction: the blank screen of font 0 over both areas, font 3 right of the add area.
        const std::vector<double> start = filled(*display, data);
        EXPECT_EQ(start, gridValues(*display, data));
        const short addColumns = display->getax();
        EXPECT_EQ(start[static_cast<size_t>(16 * 58 + addColumns - 1)], 0.5 / 108);
        EXPECT_EQ(start[static_cast<size_t>(16 * 58 + addColumns)], -1.0);
        EXPECT_EQ(start[static_cast<size_t>(986 + 5)], -1.0);

        // Drawing alone changes nothing the editor sees; the export hands over the whole grid.
        CoreDsbf& grid = Access::grid(*display);
        grid.write("Hello", 3, 2, 0, false, false);
        grid.write("Menu", 0, 13, 1, false, false);
        grid.write("BIG", 5, 3, 2, false, false);
        grid.clear(3, 0, 15, 4, 1);
        grid.write("add", 0, 16, 0, false, false);
        EXPECT_EQ(filled(*display, data), start);
        Access::exportCells(*display);
        const std::vector<double> drawn = filled(*display, data);
        EXPECT_EQ(drawn, gridValues(*display, data));
        EXPECT_NE(drawn, start);
        CoreDsif::deldd(&data);
        CoreDsif::deldd(&data);
        EXPECT_EQ(data.values, nullptr);
        EXPECT_EQ(data.rowstarts, nullptr);
        EXPECT_EQ(data.total, 0);
    }
}

TEST_F(CoreDsifTest, ARecordOfOtherSizesOrNoneGetsNothing) {
    auto engine = booted();
    auto display = Access::unstarted(engine.get(), &queue, &clock);
    const std::function<void(CoreCnst::DISPLAYDATA&)> changes[] = {
        [](CoreCnst::DISPLAYDATA& d) { d.rows[2] = 9; },
        [](CoreCnst::DISPLAYDATA& d) { d.columns[0] = 57; },
        [](CoreCnst::DISPLAYDATA& d) { d.total = 3189; },
        [](CoreCnst::DISPLAYDATA& d) { d.fontcount = 3; },
        [](CoreCnst::DISPLAYDATA& d) { d.rowstarts[3][16] = 3190 - 57; },
        [](CoreCnst::DISPLAYDATA& d) { d.rowstarts[1][0] = -1; },
    };
    for (size_t i = 0; i < std::size(changes); ++i) {
        SCOPED_TRACE(i);
        CoreCnst::DISPLAYDATA data;
        display->newdd(&data);
        changes[i](data);
        display->flldd(&data);
        EXPECT_EQ(std::count(data.values, data.values + 3190, 0.0), 3190);
        data.fontcount = 4; // so that deldd frees every row-start array
        CoreDsif::deldd(&data);
    }
    CoreCnst::DISPLAYDATA empty;
    display->flldd(&empty);
    display->flldd(nullptr);
    CoreDsif::deldd(&empty);
    CoreDsif::deldd(nullptr);
    EXPECT_EQ(empty.values, nullptr);
}

TEST_F(CoreDsifTest, ReadsTheBlinkClockOncePerRecord) {
    auto engine = booted();
    CoreXutl::setDayClock(&flippingClock);
    {
        clockReadings = 0;
        CoreBlnk flipping;
        auto display = Access::unstarted(engine.get(), &queue, &flipping);
        const std::string text(58, 'X');
        for (short row = 0; row < 14; ++row) Access::grid(*display).write(text.c_str(), 0, row, 0, true, false);
        Access::exportCells(*display);
        CoreCnst::DISPLAYDATA data;
        display->newdd(&data);
        for (int call = 0; call < 2; ++call) {
            SCOPED_TRACE(call);
            const int before = clockReadings;
            const std::vector<double> values = filled(*display, data);
            EXPECT_EQ(clockReadings - before, 1);
            const double shown = Access::grid(*display).getfn(0)->getrw(call == 0 ? 'X' : ' ');
            EXPECT_EQ(std::count(values.begin(), values.begin() + 14 * 58, shown), 14 * 58);
        }
        CoreDsif::deldd(&data);
    }
    CoreXutl::setDayClock(nullptr);
}

// loadp, setmr, setdp and the kept load, on the object alone: the next state, the kept slot, the batch
// variables of a load (nothing else reaches the engine), and setdp's blank screen.
TEST_F(CoreDsifTest, LoadsAndHomeFollowThePageState) {
    auto engine = booted();
    auto busyEngine = unbooted();
    ASSERT_TRUE(busyEngine->getbb(46, nullptr));
    using Act = std::function<void(CoreDsif&)>;
    const auto load = [](std::vector<int32_t> slots) {
        return Act([slots](CoreDsif& d) {
            for (int32_t slot : slots) d.loadp(slot);
        });
    };
    const auto choose = [](const std::string& text) { return Act([text](CoreDsif& d) { d.setmr(text.c_str()); }); };
    const Act home = [](CoreDsif& d) { d.setdp(); };
    const Act kept = [](CoreDsif& d) { Access::startPendingLoad(d); };
    struct Row {
        const char* name;
        short current, next;
        int32_t pending;
        bool armed, busy;
        Act act;
        short wantNext;
        int32_t wantPending;
        const char* loadedSlot; // the batch variables set, or none
        const char* action;
    };
    const std::string farText = std::string(46, ' ') + "1234 - x"; // its 47 characters end after "1"
    const Row rows[] = {
        {"loadp on PROG", 0, 0, -1, false, false, load({1234}), 22, -1, "1234", "PROG"},
        {"loadp on compact PROG", 18, 18, -1, false, false, load({7}), 23, -1, "7", "PROG"},
        {"loadp on the batch page keeps the latest", 22, 22, -1, false, false, load({5, 6}), 22, 6, nullptr, ""},
        {"loadp as the compact batch ends", 23, 18, 2, false, true, load({9}), 18, 9, nullptr, ""},
        {"loadp on the way to the batch page", 1, 22, -1, false, false, load({3}), 22, 3, nullptr, ""},
        {"loadp on the boot page", 20, 20, -1, false, false, load({3}), 20, -1, nullptr, ""},
        {"loadp on the error page", 21, 21, -1, false, false, load({3}), 21, -1, nullptr, ""},
        {"loadp while busy", 0, 0, -1, false, true, load({3}), 0, -1, nullptr, ""},
        {"loadp outside the memory", 0, 0, -1, false, false, load({-1, 10000}), 0, -1, nullptr, ""},
        {"loadp on the first slot", 0, 0, -1, false, false, load({0}), 22, -1, "0", "PROG"},
        {"loadp on the last slot", 0, 0, -1, false, false, load({9999}), 22, -1, "9999", "PROG"},
        {"setmr armed", 0, 0, -1, true, false, choose("1234 - Name"), 22, -1, "1234", "PROG"},
        {"setmr trims", 17, 17, -1, true, false, choose("  7 - x"), 23, -1, "7", "PROG"},
        {"setmr without a dash", 0, 0, -1, true, false, choose("12"), 22, -1, "12", "PROG"},
        {"setmr reads 47 characters", 0, 0, -1, true, false, choose(farText), 22, -1, "1", "PROG"},
        {"setmr unarmed", 0, 0, -1, false, false, choose("1234 - Name"), 0, -1, nullptr, ""},
        {"setmr no number", 0, 0, -1, true, false, choose("abc"), 0, -1, nullptr, ""},
        {"setmr nothing before the dash", 0, 0, -1, true, false, choose("- x"), 0, -1, nullptr, ""},
        {"setmr beyond the memory", 0, 0, -1, true, false, choose("12345 - x"), 0, -1, nullptr, ""},
        {"setmr on the first slot", 0, 0, -1, true, false, choose("0 - Init"), 22, -1, "0", "PROG"},
        {"setmr on the last slot", 0, 0, -1, true, false, choose("9999 - x"), 22, -1, "9999", "PROG"},
        {"setmr just beyond the memory", 0, 0, -1, true, false, choose("10000 - x"), 0, -1, nullptr, ""},
        {"setmr a letter first", 0, 0, -1, true, false, choose("x12 - y"), 0, -1, nullptr, ""},
        {"setmr empty", 0, 0, -1, true, false, choose(""), 0, -1, nullptr, ""},
        {"setmr on the batch page", 22, 22, -1, true, false, choose("4 - x"), 22, 4, nullptr, ""},
        {"setdp from BOOT", 20, 20, 4, false, false, home, 0, -1, nullptr, ""},
        {"setdp from ERRR", 21, 21, 4, false, false, home, 0, -1, nullptr, ""},
        {"setdp from compact LIST", 17, 17, 4, false, false, home, 18, -1, nullptr, ""},
        {"setdp from MAS2", 19, 19, 4, false, false, home, 18, -1, nullptr, ""},
        {"setdp from compact BTCH", 23, 23, 4, false, false, home, 18, -1, nullptr, ""},
        {"setdp from compact PROG", 18, 18, 4, false, false, home, 0, -1, nullptr, ""},
        {"setdp from PROG", 0, 5, 4, false, false, home, 0, -1, nullptr, ""},
        {"setdp while booting", 0, 0, 4, false, true, home, 20, -1, nullptr, ""},
        {"kept load after the batch", 22, 1, 5, false, false, kept, 22, -1, "5", "PROG"},
        {"kept load after the compact batch", 23, 17, 5, false, false, kept, 23, -1, "5", "PROG"},
        {"kept load stays on the batch page", 22, 22, 5, false, false, kept, 22, 5, nullptr, ""},
        {"kept load stays while busy", 22, 0, 5, false, true, kept, 0, 5, nullptr, ""},
    };
    const std::vector<double> blank = [&] {
        auto fresh = Access::unstarted(engine.get(), &queue, &clock);
        CoreCnst::DISPLAYDATA data;
        fresh->newdd(&data);
        std::vector<double> values = filled(*fresh, data);
        CoreDsif::deldd(&data);
        return values;
    }();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CorePrcs& e = r.busy ? *busyEngine : *engine;
        auto display = Access::unstarted(&e, &queue, &clock);
        Access::drawScreen(*display, 'A', 0);
        Access::grid(*display).setxy(9, 9);
        Access::setPages(*display, r.current, r.next, r.pending, r.armed);
        std::vector<std::string> calls;
        {
            BeanLog log(e);
            r.act(*display);
            calls = log.lines;
        }
        const Access::PAGES after = Access::pages(*display);
        EXPECT_EQ(after.next, r.wantNext);
        EXPECT_EQ(after.current, r.current);
        EXPECT_EQ(after.pending, r.wantPending);
        EXPECT_EQ(calls, r.loadedSlot ? loadCalls(r.loadedSlot, r.action) : std::vector<std::string>{});
        if (std::string(r.name).rfind("setdp", 0) == 0) {
            CoreCnst::DISPLAYDATA data;
            display->newdd(&data);
            EXPECT_EQ(filled(*display, data), blank);
            CoreDsif::deldd(&data);
            EXPECT_TRUE(after.reentry);
            if (r.busy) { // the boot's lines start at the top
                Access::grid(*display).print("x", 0, false, false);
                EXPECT_EQ(Access::grid(*display).cell(0, 0)->getch(), 'x');
            }
        }
    }
}

// The pages' information line: row dimy - 2 in font 1 over the whole row, the description cut to 32.
TEST_F(CoreDsifTest, DrawsTheInformationLine) {
    auto engine = booted();
    auto display = Access::unstarted(engine.get(), &queue, &clock);
    struct Row {
        const char* head;
        const char* description;
        std::string row; // row 12, all in font 1
    };
    const std::string longHead(50, 'H');
    const Row rows[] = {
        {"  4 PARAMS  ", "A description longer than thirty-two characters",
         "  4 PARAMS    A description longer than thirty" + std::string(12, ' ')},
        {"  0 INIT  ", "", "  0 INIT" + std::string(50, ' ')},
        {longHead.c_str(), "Short", longHead + "  Short "},
    };
    CoreDsbf& grid = Access::grid(*display);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.head);
        engine->setbs(64, r.description, nullptr);
        grid.write(std::string(58, 'x').c_str(), 0, 12, 0, false, false);
        display->drawInfoLine(r.head);
        std::string shown;
        for (int column = 0; column < 58; ++column) {
            shown += grid.cell(column, 12)->getch();
            EXPECT_EQ(grid.cell(column, 12)->getfn(), 1) << column;
        }
        EXPECT_EQ(shown, r.row);
    }
}

// ---- the display thread

TEST_F(CoreDsifTest, DestroyingTheIdleObjectEndsTheThreadThroughItsEvent) {
    auto engine = booted();
    auto display = std::make_unique<CoreDsif>(engine.get(), &queue, &clock, nullptr);
    EXPECT_TRUE(Access::stopThroughEvent(*display));
    EXPECT_TRUE(Access::batchRows(*display).empty()); // the wake-up ran no batch
    display.reset();
    EXPECT_FALSE(engine->getbb(46, nullptr));
}

TEST_F(CoreDsifTest, TheThreadRunsALoadAndLeavesTheBatchPage) {
    auto engine = booted();
    auto display = std::make_unique<CoreDsif>(engine.get(), &queue, &clock, nullptr);
    Access::setPages(*display, 0, 0);
    display->loadp(kJazz);
    ASSERT_EQ(Access::pages(*display).next, 22);
    Access::pass(*display);
    ASSERT_TRUE(eventually([&] { return Access::pages(*display).next != 22; }));
    EXPECT_EQ(Access::pages(*display).next, 0);
    EXPECT_EQ(engine->getbi(67, nullptr), kJazz);
    EXPECT_FALSE(engine->getbb(46, nullptr));
    EXPECT_EQ(Access::batchRows(*display), (std::vector<std::string>{"LOADING: 3", "LOADED: Club"}));
}

// The stall hook holds the batch's first (locked) step until the destructor has told the thread to end.
TEST_F(CoreDsifTest, DestroyingDuringABatchFinishesTheBatchFirst) {
    auto engine = booted();
    auto display = std::make_unique<CoreDsif>(engine.get(), &queue, &clock, nullptr);
    CoreDsif* const raw = display.get();
    engine->setbv(225, nullptr);
    const std::pair<const char*, std::string> variables[] = {
        {"LOADED", "LOADED:"},   {"LOADING", "LOADING:"}, {"DELETED", "DELETED:"},
        {"NEWPROGRAM", std::to_string(kJazz)}, {"OLDPROGRAM", std::to_string(kPopOne)},
        {"ACTION", "PROG"},      {"NEXTSTEP", "REPLACEMEMORYLOC"},
    };
    for (const auto& [key, value] : variables) display->btcst(key, value.c_str());
    const std::thread::id testThread = std::this_thread::get_id();
    std::atomic<bool> stalled{false};
    engine->setStallHookForTest([&] {
        if (std::this_thread::get_id() == testThread || stalled.exchange(true)) return;
        while (!raw->Terminated()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    Access::setPages(*display, 0, 22);
    Access::pass(*display);
    ASSERT_TRUE(eventually([&] { return stalled.load(); }));
    display.reset();
    engine->setStallHookForTest(nullptr);
    EXPECT_FALSE(engine->getbb(46, nullptr)); // the finishing call left pass-through
    EXPECT_EQ(engine->getbi(67, nullptr), kJazz);
    CorePrcs::BEANSTRUCT old{kPopOne, 0};
    EXPECT_EQ(engine->getbs(167, &old), CoreAnsx("0"));
}

// A display whose home page draws one of two full screens, A in font 0 and B in font 1, in turn; its
// thread starts once the whole object exists.
class ScreenDisplay : public CoreDsif {
public:
    ScreenDisplay(CorePrcs* engine, CoreDspc* queue, CoreBlnk* clock)
        : CoreDsif(engine, queue, clock, nullptr, NOTHREAD{}) {
        CoreDsifTestAccess::setPage(*this, 0, &ScreenDisplay::entry, &ScreenDisplay::render, "PROG");
        Resume();
    }
    ~ScreenDisplay() {
        Terminate();
        WaitFor();
    }
    ScreenDisplay(const ScreenDisplay&) = delete;
    ScreenDisplay& operator=(const ScreenDisplay&) = delete;
    void entry(PASS&) {}
    void render(PASS&) {
        bB = !bB;
        CoreDsifTestAccess::fillScreen(*this, bB ? 'B' : 'A', bB ? 1 : 0);
    }

private:
    bool bB = false;
};

// A control thread (renderer passes, loadp, setdp), the display thread (the batches they start), an
// editor holding a stand-in call lock into addms, flldd and setmr, and a reader of the status rows,
// for two seconds: no deadlock, and no exported grid mixes the cells of the two screens.
TEST_F(CoreDsifTest, ControlDisplayAndEditorThreadsShareTheDisplay) {
    auto engine = booted();
    std::vector<double> screenA, screenB;
    {
        auto sample = Access::unstarted(engine.get(), &queue, &clock);
        CoreCnst::DISPLAYDATA data;
        sample->newdd(&data);
        Access::drawScreen(*sample, 'A', 0);
        screenA = filled(*sample, data);
        Access::drawScreen(*sample, 'B', 1);
        screenB = filled(*sample, data);
        CoreDsif::deldd(&data);
    }
    auto display = std::make_unique<ScreenDisplay>(engine.get(), &queue, &clock);
    CoreSmph controlLock, callLock;
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0}, wholeA{0}, wholeB{0}, batchPages{0};
    std::thread control([&] {
        for (int n = 0; !stop; ++n) {
            CoreSgrd hold(controlLock);
            display->updte(n % 3 != 0);
            if (display->getcs() == 22) ++batchPages;
            if (n % 7 == 0) display->loadp(n % 14 == 0 ? kJazz : kPopOne);
            if (n % 50 == 25) display->setdp();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    std::thread editor([&] {
        CoreCnst::DISPLAYDATA data;
        display->newdd(&data);
        for (int n = 0; !stop; ++n) {
            CoreSgrd hold(callLock);
            CoreDspc::MESSAGELOC wheel{3, 0, 1, 0, 0, 0};
            queue.addms(&wheel);
            const std::vector<double> values = filled(*display, data);
            size_t a = 0, b = 0;
            for (size_t i = 0; i < values.size(); ++i) {
                a += values[i] == screenA[i] && screenA[i] != screenB[i];
                b += values[i] == screenB[i] && screenA[i] != screenB[i];
            }
            if (a > 0 && b > 0 && a + b > values.size() / 2) ++torn;
            if (values == screenA) ++wholeA;
            if (values == screenB) ++wholeB;
            if (n % 40 == 0) display->setmr(n % 80 == 0 ? "3 - Club" : "1 - Hits");
        }
        CoreDsif::deldd(&data);
    });
    std::thread reader([&] {
        CorePrcs::BEANSTRUCT row{0, 0};
        while (!stop) {
            engine->getbs(221, &row);
            engine->getbh(221, nullptr);
        }
    });
    std::this_thread::sleep_for(std::chrono::seconds(2));
    stop = true;
    control.join();
    editor.join();
    reader.join();
    display.reset();
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GT(wholeA.load() + wholeB.load(), 0);
    EXPECT_GT(batchPages.load(), 0);
    EXPECT_FALSE(engine->getbb(46, nullptr));
}
