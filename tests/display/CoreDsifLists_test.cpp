// The program list pages on the booted fixture engine, its memory filled through the engine's own
// memory: screens (with the setters of the last pass), flows a user starts with clicks, and the
// checks that the searches behind the grid end, never repeat a slot and never show a free slot.
#include "display/CoreDsif.h"

#include "BeanLog.h"
#include "CoreDsifTestAccess.h"
#include "GoldenScreen.h"
#include "RecordingHost.h"
#include "base/CoreBlnk.h"
#include "display/CoreDspc.h"
#include "tests/common/EngineFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using Access = CoreDsifTestAccess;
constexpr short kList = 1;
constexpr short kCompactList = 17;
constexpr int kGridRows = CoreDsif::iCdimy - 3;

class CoreDsifLists : public BootedEngineTest {
public: // the table rows' scripts act through a reference
    void SetUp() override {
        BootedEngineTest::SetUp();
        restart();
    }
    // A new booted engine with a new display on it (each table row starts from one).
    void restart() {
        display.reset();
        engine = booted();
        queue = std::make_unique<CoreDspc>();
        display = Access::unstarted(engine.get(), queue.get(), &clock, &host);
    }

    CoreMmry& memory() { return *engine->getmm(); }
    // A used slot with its name and categories (levels 0 .. 2).
    void put(int32_t slot, const std::string& name, const std::string& top, const std::string& sub = "",
             const std::string& sub2 = "") {
        memory().setvl(slot, false, CoreAnsx("X.XML"), CoreAnsx(program(name).c_str()));
        memory().setnm(slot, CoreAnsx(name.c_str()));
        memory().setct(slot, CoreAnsx(top.c_str()), 0);
        memory().setct(slot, CoreAnsx(sub.c_str()), 1);
        memory().setct(slot, CoreAnsx(sub2.c_str()), 2);
    }
    void enter(short state) {
        Access::setNextState(*display, state);
        pass();
    }
    void pass() { display->updte(true); }
    void click(int column, int row) {
        const CoreDspc::MESSAGELOC m{0, 0, column, row, column * 8 + 3, row * 12 + 5};
        queue->addms(&m);
        pass();
    }
    int32_t current() {
        CorePrcs::BEANSTRUCT none{};
        return engine->getbi(67, &none);
    }
    // The slots of the grid's first two or three columns, "-" for an empty cell up to the first one.
    std::string shown() {
        std::string text;
        for (const std::vector<int>& column : Access::gridSlots(*display))
            for (int slot : column)
                if (slot >= 0) text += (text.empty() ? "" : ",") + std::to_string(slot);
        return text.empty() ? "-" : text;
    }
    // Row y from a column on, trailing blanks cut.
    std::string row(int y, int from = 0) {
        std::string text;
        for (int x = from; x < CoreDsif::iCdimx; ++x) text += Access::grid(*display).cell(x, y)->getch();
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }
    // The batch calls of a pick and the states it passes: the page after the pass, after the batch
    // and after the next pass, and the current slot.
    std::string pickTrace(int column, int row) {
        BeanLog log(*engine);
        click(column, row);
        std::string text;
        for (const std::string& line : log.lines)
            if (line == "setbv 225") text += "225;";
            else if (line.rfind("setbs 223", 0) == 0) text += line.substr(11, line.size() - 12) + "=";
            else if (line.rfind("setbs 224", 0) == 0) text += line.substr(11, line.size() - 12) + ";";
        text += " " + std::to_string(display->getns());
        if (display->getns() != 22 && display->getns() != 23) return text;
        pass();
        Access::runBatch(*display);
        text += ">" + std::to_string(display->getns());
        pass();
        return text + ">" + std::to_string(display->getns()) + " slot " + std::to_string(current());
    }
    // The used slots' names and categories, the current slot and the committed program.
    std::string engineState() {
        CorePrcs::BEANSTRUCT none{};
        std::string text = std::string(engine->getbs(68, &none).c_str()) + "|" + std::to_string(current());
        for (int32_t s = 0; s < CoreMmry::iCmemorydim; ++s) {
            if (memory().getnm(s) == CoreAnsx("0")) continue;
            text += "|" + std::to_string(s) + ":" + memory().getnm(s).c_str();
            for (int level = 0; level < 3; ++level) text += std::string("/") + memory().getct(s, level).c_str();
        }
        return text;
    }

    CoreBlnk clock;
    std::unique_ptr<CoreDspc> queue;
    RecordingHost host;
    std::unique_ptr<CorePrcs> engine;
    std::unique_ptr<CoreDsif> display;
};

using Script = std::function<void(CoreDsifLists&)>;

} // namespace

// The boot memory: slots 0 Init and 4 Params without category, 1 Hits and 2 Floor (POP, DANCE) in
// POP, 3 Club and 1234 Name in JAZZ.
TEST_F(CoreDsifLists, DrawsEachViewOfBothPages) {
    struct Row {
        const char* golden;
        short state;
        std::function<void(CoreDsifLists&)> script;
    };
    const std::vector<Row> rows = {
        {"lists_category_level0.txt", kList, [](CoreDsifLists&) {}},
        {"lists_category_level1.txt", kList, [](CoreDsifLists& t) { t.click(50, 1); }},
        {"lists_category_level2.txt", kList,
         [](CoreDsifLists& t) {
             t.put(10, "Deep", "pop", "Dance ", "room");
             t.click(50, 1);
             t.click(50, 1);
         }},
        {"lists_all_programs.txt", kList, // paged back to slot 0, the current one
         [](CoreDsifLists& t) {
             t.click(51, 0);
             t.click(40, 0);
         }},
        {"lists_compact.txt", kCompactList, [](CoreDsifLists& t) { t.click(50, 2); }},
        {"lists_long_info_line.txt", kList,
         [](CoreDsifLists& t) {
             CorePrcs::BEANSTRUCT top{0, 0};
             t.engine->setbs(56, CoreAnsx("A program name of forty characters long"), nullptr);
             t.engine->setbs(176, CoreAnsx("A category text of forty characters long"), &top);
             t.engine->setbs(64, CoreAnsx("description"), nullptr);
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.golden);
        restart();
        enter(r.state);
        r.script(*this);
        BeanLog log(*engine);
        pass();
        EXPECT_TRUE(GoldenScreen(r.golden)
                        .fact("page state " + std::to_string(display->getcs()))
                        .section("calls", log.lines)
                        .matches(Access::grid(*display), r.golden));
    }
}

TEST_F(CoreDsifLists, ClicksPickCategoriesPageAndLoad) {
    struct Row {
        const char* name;
        short state;
        Script script;
        std::string trace;
    };
    std::string trace;
    const auto note = [&trace](const std::string& text) { trace += (trace.empty() ? "" : " ") + text; };
    const std::vector<Row> rows = {
        {"a pick loads through the batch page and comes back", kList,
         [&](CoreDsifLists& t) {
             t.click(51, 0);
             note(t.pickTrace(3, 5)); // all programs from grid start 1: Hits .. Name
         },
         "225;LOADED=LOADED:;LOADING=LOADING:;NEWPROGRAM=1234;ACTION=LIST;NEXTSTEP=READPROGRAM; 22>1>1 slot 1234"},
        {"a compact pick goes through state 23", kCompactList, [&](CoreDsifLists& t) { note(t.pickTrace(3, 2)); },
         "225;LOADED=LOADED:;LOADING=LOADING:;NEWPROGRAM=2;ACTION=LIST;NEXTSTEP=READPROGRAM; 23>17>17 slot 2"},
        {"an empty cell, grid column 2 in category mode and the scroll column start nothing", kList,
         [&](CoreDsifLists& t) {
             note(t.pickTrace(3, 11));
             note(t.pickTrace(41, 1));
             note(t.pickTrace(46, 1));
             note(t.shown());
         },
         " 1  1  1 1,2"},
        {"the scroll arrows move the list only while it overflows", kList,
         [&](CoreDsifLists& t) {
             for (int i = 0; i < 13; ++i) t.put(100 + i, "P", std::string(1, static_cast<char>('A' + i)));
             t.pass();
             t.click(46, kGridRows);
             note(t.row(1, 48));
             t.click(46, kGridRows);
             note(t.row(1, 48));
             t.click(46, 1);
             t.click(46, 1);
             note(t.row(1, 48) + "/" + std::to_string(Access::categorySelection(*t.display)));
         },
         " 1   JAZZ  2   A  0   POP/0"},
        {"a second click descends only where categories follow, from levels 0 and 1", kList,
         [&](CoreDsifLists& t) {
             t.put(10, "Deep", "POP", "DANCE", "ROOM");
             t.click(50, 2); // JAZZ, no subcategory
             t.click(50, 2);
             note(std::to_string(Access::categoryLevel(*t.display)) + ":" + t.shown());
             t.click(50, 1); // POP, then DANCE, then ROOM
             t.click(50, 1);
             t.click(50, 1);
             t.click(50, 1);
             t.click(50, 1);
             note(std::to_string(Access::categoryLevel(*t.display)) + ":" + t.shown());
         },
         "0:3,1234 2:10"},
        {"the descent's own pass filters with a name of the level it enters", kList,
         [&](CoreDsifLists& t) {
             BeanLog log(*t.engine);
             t.click(50, 1);
             for (const std::string& line : log.lines)
                 if (line.rfind("setbs 171", 0) == 0) note(line);
         },
         "setbs 171 [1] \"DANCE\""},
        {"the compact page filters on the top level alone after LIST walked down", kList,
         [&](CoreDsifLists& t) {
             t.click(50, 1); // POP, DANCE
             Access::setNextState(*t.display, kCompactList);
             t.pass();
             t.click(50, 2); // JAZZ, then POP again from its first match
             t.click(50, 1);
             t.pass();
             note(std::to_string(Access::categoryLevel(*t.display)) + ":" + t.shown());
         },
         "0:1,2"},
        // The grid start stays where the level left it.
        {"UP restores the selection the descent left", kList,
         [&](CoreDsifLists& t) {
             t.put(20, "Cool", "JAZZ", "BEBOP");
             t.click(50, 2);
             t.click(50, 2);
             note(std::to_string(Access::categoryLevel(*t.display)) + ":" + t.shown());
             t.click(52, 0);
             t.pass();
             note(std::to_string(Access::categoryLevel(*t.display)) + "/" +
                  std::to_string(Access::categorySelection(*t.display)) + ":" + t.shown());
         },
         "1:20 0/1:20,1234"},
        // 32 POP slots (1, 2, 200 .. 229) on 22 cells: a page forward, past the end back to the first
        // match, forward again, and back past the first match.
        {"paging stops at the end of the matches and starts again at the first", kList,
         [&](CoreDsifLists& t) {
             for (int i = 0; i < 30; ++i) t.put(200 + i, "P", "POP");
             t.pass();
             for (int i = 0; i < 3; ++i) {
                 t.click(45, 0);
                 note(std::to_string(Access::gridStart(*t.display)));
             }
             t.pass();
             note(std::to_string(Access::gridStart(*t.display)));
             t.click(40, 0);
             note(std::to_string(Access::gridStart(*t.display)));
         },
         "220 1 220 220 1"},
        // The click reaches the page in the pass that enters it, before any cell was drawn again.
        {"a click made on another page loads nothing the grid showed before", kList,
         [&](CoreDsifLists& t) {
             t.pass();
             note(t.shown());
             Access::setNextState(*t.display, 0);
             t.pass();
             const CoreDspc::MESSAGELOC m{0, 0, 3, 1, 3 * 8 + 3, 1 * 12 + 5};
             t.queue->addms(&m);
             Access::setNextState(*t.display, kList);
             t.pass();
             note(std::to_string(t.display->getns()) + " slot " + std::to_string(t.current()));
         },
         "1,2 1 slot 0"},
        {"a selection the changed list no longer holds: no highlight, the old filter, no phantom slot 0", kList,
         [&](CoreDsifLists& t) {
             t.memory().clear();
             t.put(0, "Zero", "A");
             t.put(5, "Five", "B");
             t.pass();
             t.click(50, 2);
             note(t.shown());
             t.memory().clrpr(5);
             t.pass();
             note(t.shown() + "|" + t.row(1, 47));
             note(t.pickTrace(3, 1));
         },
         "5 -|  0   A  1"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        restart();
        trace.clear();
        enter(r.state);
        r.script(*this);
        EXPECT_EQ(trace, r.trace);
    }
}

// Every memory against every way of filling and paging: each pass returns, no slot shows twice, every
// shown cell holds a used slot inside the filter sent, and a click on an empty cell starts nothing.
TEST_F(CoreDsifLists, GridShowsEachMatchingSlotOnceWhateverTheMemory) {
    struct Memory {
        const char* name;
        std::vector<int32_t> slots;
    };
    std::vector<int32_t> ends;
    for (int32_t s = 0; s < 100; ++s) ends.push_back(s);
    for (int32_t s = 9900; s < CoreMmry::iCmemorydim; ++s) ends.push_back(s);
    const std::vector<Memory> memories = {
        {"only slot 0", {0}},       {"slot 0 free, slots 5 and 7", {5, 7}}, {"slots 0-99 and 9900-9999", ends},
        {"slots 3 and 9998", {3, 9998}}, {"no used slot", {}},
    };
    struct Mode {
        const char* name;
        short state;
        std::vector<std::pair<int, int>> setup; // clicks before the checks
    };
    const std::vector<Mode> modes = {
        {"all programs", kList, {{51, 0}}},
        {"first category", kList, {}},
        {"second category", kList, {{50, 2}}},
        {"compact", kCompactList, {}},
        {"compact, second category", kCompactList, {{50, 2}}},
    };
    // Forward past the end, then back past the start.
    std::vector<std::pair<int, int>> paging(6, {45, 0});
    paging.insert(paging.end(), 8, {40, 0});
    for (const Memory& m : memories) {
        for (const Mode& mode : modes) {
            SCOPED_TRACE(std::string(m.name) + ", " + mode.name);
            restart();
            memory().clear();
            // Even slots in category A, odd ones in B.
            for (int32_t s : m.slots) put(s, "S" + std::to_string(s), s % 2 ? "B" : "A");
            enter(mode.state);
            for (const auto& [x, y] : mode.setup) click(x, y);
            BeanLog log(*engine);
            std::set<int> everShown;
            std::string filter;
            std::vector<std::pair<int, int>> inputs = {{-1, -1}, {-1, -1}};
            inputs.insert(inputs.end(), paging.begin(), paging.end());
            for (const auto& [x, y] : inputs) {
                if (x < 0) pass();
                else click(x, y);
                for (const CorePrcs::BEANCALL& call : log.calls)
                    if (call.id == 171) filter = call.text.c_str();
                std::set<int> seen;
                int emptyColumn = -1, emptyRow = -1;
                const auto& grid = Access::gridSlots(*display);
                for (int c = 0; c < 3; ++c)
                    for (int r = 0; r < kGridRows; ++r) {
                        const int slot = grid[static_cast<size_t>(c)][static_cast<size_t>(r)];
                        if (slot < 0) {
                            if (emptyColumn < 0) emptyColumn = c, emptyRow = r;
                            continue;
                        }
                        EXPECT_TRUE(seen.insert(slot).second) << "slot " << slot << " twice";
                        everShown.insert(slot);
                        EXPECT_NE(memory().getnm(slot), CoreAnsx("0")) << "free slot " << slot;
                        if (filter != "0") {
                            EXPECT_EQ(memory().getct(slot, 0), CoreAnsx(filter.c_str())) << slot;
                        }
                    }
                if (emptyColumn >= 0) {
                    EXPECT_EQ(pickTrace(emptyColumn * 20 + 2, emptyRow + 1), " " + std::to_string(mode.state));
                }
            }
            // The small memories fit one screen: every matching slot was shown.
            if (m.slots.size() <= 2) {
                std::set<int> matching;
                for (int32_t s : m.slots)
                    if (filter == "0" || filter == (s % 2 ? "B" : "A")) matching.insert(s);
                EXPECT_EQ(everShown, matching);
            }
        }
    }
}

// Fifty passes without input change nothing the user owns; the only setters are the user parameter
// refresh and the filter.
TEST_F(CoreDsifLists, ViewingWritesNothing) {
    struct Row {
        const char* name;
        short state;
        std::vector<std::pair<int, int>> setup;
    };
    const std::vector<Row> rows = {
        {"by category", kList, {}},
        {"all programs", kList, {{51, 0}}},
        {"level 1", kList, {{50, 1}}},
        {"compact", kCompactList, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        restart();
        enter(r.state);
        for (const auto& [x, y] : r.setup) click(x, y);
        const std::string before = engineState();
        BeanLog log(*engine);
        for (int i = 0; i < 50; ++i) pass();
        EXPECT_EQ(engineState(), before);
        EXPECT_EQ(display->getns(), r.state);
        for (const CorePrcs::BEANCALL& call : log.calls) {
            const std::string line = BeanLog::line(call);
            EXPECT_TRUE(line.rfind("setbv 195 [", 0) == 0 || line.rfind("setbs 171 [", 0) == 0) << line;
        }
    }
}
