// The memory page on the fixture engine: its screens, the flows of its fields, its slot pick and its
// batches (run to their end on the test's thread), and what merely viewing it leaves untouched.
#include "display/CoreDsif.h"

#include "BeanLog.h"
#include "CoreDsifTestAccess.h"
#include "GoldenScreen.h"
#include "RecordingHost.h"
#include "base/CoreBlnk.h"
#include "display/CoreDspc.h"
#include "processor/CoreMmry.h"
#include "tests/common/EngineFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Access = CoreDsifTestAccess;

constexpr short kMemoryState = 6;
constexpr char kDeleteKey = 46; // deletes the character under the cursor

// The control value that puts a list item of n entries on entry k.
double entryControl(int k, int n) {
    return (k + 0.5) / n * 2.0 - 1.0;
}

// A display without its thread on a booted engine, driven as a user drives it.
struct Page {
    CorePrcs& engine;
    CoreDspc queue;
    RecordingHost host;
    CoreBlnk clock;
    std::unique_ptr<CoreDsif> display;
    std::unique_ptr<BeanLog> log;

    explicit Page(CorePrcs& e) : engine(e) {
        display = Access::unstarted(&engine, &queue, &clock, &host);
        pass(2); // leaves the boot page
    }
    void pass(int n = 1) {
        for (int i = 0; i < n; ++i) display->updte(true);
    }
    void post(int16_t type, int32_t a, int32_t b = 0) {
        const CoreDspc::MESSAGELOC m{type, 0, a, b, a * 8 + 3, b * 12 + 5};
        queue.addms(&m);
    }
    void click(int column, int row) {
        post(0, column, row);
        pass();
    }
    // Arms the field under the cell, types the keys and confirms them.
    void edit(int column, int row, const std::string& keys) {
        click(column, row);
        for (char c : keys) post(1, static_cast<unsigned char>(c));
        post(1, 13);
        pass();
    }
    void turn(int32_t control, double value) {
        CorePrcs::BEANSTRUCT b{control, 0};
        engine.setbd(190, value, &b);
    }
    // Control 0 selects the bank item, then the program item; control 1 sets each.
    void pick(int bank, int program) {
        turn(0, entryControl(1, 2));
        pass();
        turn(1, entryControl(bank, 100));
        pass();
        turn(0, entryControl(0, 2));
        pass();
        turn(1, entryControl(program, 100));
        pass();
    }
    // The batch the last pass started, if any: the batch page, the batch to its end, the page it
    // returns to.
    void batch() {
        pass();
        if (display->getcs() != 22) return;
        Access::runBatch(*display);
        pass();
    }
    // Loads the slot through the load batch, as the program buttons do.
    void load(int32_t slot) {
        display->loadp(slot);
        batch();
    }
    void enter() {
        Access::setNextState(*display, kMemoryState);
        pass();
    }
    void record() { log = std::make_unique<BeanLog>(engine); }
    std::string text(int id, int32_t index = 0, int32_t subindex = 0) {
        CorePrcs::BEANSTRUCT b{index, subindex};
        return engine.getbs(id, &b).c_str();
    }
    int32_t number(int id) {
        CorePrcs::BEANSTRUCT none{};
        return engine.getbi(id, &none);
    }
    std::string programTexts() {
        return text(56) + "|" + text(176, 0) + "/" + text(176, 1) + "/" + text(176, 2) + "|" + text(64);
    }
    GoldenScreen golden(const std::string& name) {
        GoldenScreen screen(name);
        screen.fact("page state " + std::to_string(display->getcs()));
        if (log) screen.section("calls", log->lines);
        return screen;
    }
};

} // namespace

class CoreDsifMemory : public BootedEngineTest {
protected:
    struct Context {
        std::unique_ptr<CorePrcs> engine;
        std::unique_ptr<Page> page;
    };
    // The booted engine with the slot loaded, the memory page entered and the bean trace recording.
    Context entered(int32_t slot, const std::function<void(Page&)>& before = nullptr) {
        Context c;
        c.engine = booted();
        c.page = std::make_unique<Page>(*c.engine);
        // The flows end on other pages; those show only their names here.
        Access::placeholderPagesBut(*c.page->display, 6);
        c.page->load(slot);
        if (before) before(*c.page);
        c.page->record();
        c.page->enter();
        return c;
    }
};

TEST_F(CoreDsifMemory, ScreensMatchTheirGoldens) {
    struct Row {
        const char* golden;
        int32_t slot;
        std::function<void(Page&)> before; // before the page is entered
        std::function<void(Page&)> act;
    };
    const Row rows[] = {
        // A description longer than 32 characters shows its first 32 in the status line.
        {"memory_used_slot.txt", kFarSlot,
         [](Page& p) { p.engine.setbs(64, "A description that runs well past its columns", nullptr); },
         [](Page& p) { p.pass(2); }},
        {"memory_pick_1205_empty.txt", kFarSlot, nullptr, [](Page& p) { p.pick(12, 5); }},
        {"memory_pick_bank_0.txt", kFarSlot, nullptr, [](Page& p) { p.pick(0, kJazz); }},
        // A changed name shows NEW, the file name and SAVEAS from the next pass on.
        {"memory_renamed.txt", kJazz, nullptr,
         [](Page& p) {
             p.edit(8, 5, "Club Two");
             p.pass();
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.golden);
        Context c = entered(r.slot, r.before);
        r.act(*c.page);
        EXPECT_TRUE(c.page->golden(r.golden).matches(Access::grid(*c.page->display), r.golden));
    }
}

TEST_F(CoreDsifMemory, Flows) {
    // after: what the engine and the display hold once the flow (and any batch it started) ended.
    struct Row {
        const char* golden;
        int32_t slot;
        std::function<void(Page&)> act;
        std::vector<int32_t> shownSlots;
        const char* after;
    };
    const auto overwriteAt = [](int bank, int program) {
        return [bank, program](Page& p) {
            p.pick(bank, program);
            p.click(50, 2);
            p.batch();
        };
    };
    const auto deleteAt = [](int bank, int program) {
        return [bank, program](Page& p) {
            p.pick(bank, program);
            p.click(50, 3);
            p.batch();
        };
    };
    const auto rename = [](Page& p) {
        p.edit(8, 5, "Club Two");
        p.pass();
    };
    const Row rows[] = {
        {"memory_flow_overwrite.txt", kFarSlot, overwriteAt(3, 0), {300, kFarSlot},
         "state 6 slot 300 stale 1 listtop=300 gridstart=300 | 300=Name 1234=0"},
        {"memory_flow_overwrite_same_slot.txt", kFarSlot, overwriteAt(12, 34), {kFarSlot},
         "state 6 slot 1234 stale 0 listtop=0 gridstart=0 | 1234=Name"},
        {"memory_flow_overwrite_onto_slot_0.txt", kFarSlot, overwriteAt(0, 0), {0, kFarSlot},
         "state 6 slot 1234 stale 0 listtop=0 gridstart=0 | 0=Init 1234=Name"},
        {"memory_flow_overwrite_from_slot_0.txt", kInit, overwriteAt(3, 0), {0, 300},
         "state 6 slot 0 stale 0 listtop=0 gridstart=0 | 0=Init 300=0"},
        {"memory_flow_delete_other.txt", kPopOne, deleteAt(0, kJazz), {kPopOne, kJazz},
         "state 6 slot 1 stale 1 listtop=0 gridstart=0 | 1=Hits 3=0"},
        {"memory_flow_delete_current.txt", kPopDance, deleteAt(0, kPopDance), {kPopDance, kJazz},
         "state 6 slot 3 stale 1 listtop=3 gridstart=3 | 2=0 3=Club"},
        {"memory_flow_delete_slot_0.txt", kPopOne, deleteAt(0, 0), {0},
         "state 6 slot 1 stale 0 listtop=0 gridstart=0 | 0=Init"},
        {"memory_flow_name.txt", kPopOne, [](Page& p) { p.edit(8, 5, "  New name"); }, {kPopOne},
         "state 6 slot 1 stale 1 listtop=0 gridstart=0 | 1=New name"},
        {"memory_flow_same_name.txt", kPopOne, [](Page& p) { p.edit(8, 5, "Hits"); }, {kPopOne},
         "state 6 slot 1 stale 0 listtop=0 gridstart=0 | 1=Hits"},
        {"memory_flow_category.txt", kPopOne, [](Page& p) { p.edit(14, 6, "drm"); }, {kPopOne},
         "state 6 slot 1 stale 1 listtop=0 gridstart=0 | 1=Hits"},
        {"memory_flow_description.txt", kPopOne, [](Page& p) { p.edit(8, 7, "Short words  "); }, {kPopOne},
         "state 6 slot 1 stale 0 listtop=0 gridstart=0 | 1=Hits"},
        {"memory_flow_saveas.txt", kJazz,
         [&](Page& p) {
             rename(p);
             p.click(50, 9);
             p.batch();
         },
         {kJazz, 5}, "state 0 slot 5 stale 1 listtop=0 gridstart=0 | 3=Club 5=Club Two"},
        {"memory_flow_saveas_new_name.txt", kJazz,
         [&](Page& p) {
             rename(p);
             p.edit(8, 9, "CLUBTWO ");
             p.click(50, 9);
             p.batch();
         },
         {kJazz, 5}, "state 0 slot 5 stale 1 listtop=0 gridstart=0 | 3=Club 5=Club Two"},
        {"memory_flow_exit.txt", kJazz,
         [](Page& p) {
             p.click(50, 0);
             p.pass();
         },
         {kJazz},
         "state 0 slot 3 stale 0 listtop=0 gridstart=0 | 3=Club"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.golden);
        Context c = entered(r.slot);
        Page& p = *c.page;
        Access::menuStale(*p.display) = false;
        r.act(p);
        std::string after = "state " + std::to_string(p.display->getcs()) + " slot " + std::to_string(p.number(67)) +
                            " stale " + (Access::menuStale(*p.display) ? "1" : "0") + " " +
                            Access::startValues(*p.display)[7] + " |";
        for (int32_t slot : r.shownSlots) after += " " + std::to_string(slot) + "=" + p.text(167, slot);
        EXPECT_EQ(after, r.after);
        GoldenScreen screen = p.golden(r.golden);
        screen.fact("program " + p.programTexts());
        screen.fact("versioning " + std::string(Access::versioningName(*p.display).c_str()));
        EXPECT_TRUE(screen.matches(Access::grid(*p.display), r.golden));
    }
}

// Entered on awkward set-ups and viewed, with control 0 walked over both items and back, the page
// writes nothing but the selector's control traffic, and every value it sends is finite.
TEST_F(CoreDsifMemory, ViewingWritesNothing) {
    struct Row {
        const char* name;
        int32_t slot;
        std::function<void(Page&)> before;
    };
    const Row rows[] = {
        {"slot 0", kInit, nullptr},
        {"trailing blanks, lower-case categories, long texts", kFarSlot,
         [](Page& p) {
             p.engine.setbs(56, "A name far longer than its field   ", nullptr);
             CorePrcs::BEANSTRUCT level{1, 0};
             p.engine.setbs(176, "dance ", &level);
             p.engine.setbs(64, "  a description with blanks on both sides and more than 32 characters  ", nullptr);
         }},
        {"renamed program (field 5 shown)", kJazz, [](Page& p) { p.engine.setbs(56, "Renamed", nullptr); }},
        {"current slot empty", kJazz,
         [](Page& p) {
             CorePrcs::BEANSTRUCT none{};
             p.engine.setbi(67, 5000, &none);
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Context c = entered(r.slot, r.before);
        Page& p = *c.page;
        const std::string program = p.text(68), texts = p.programTexts();
        const int32_t current = p.number(67);
        const std::string slotName = p.text(167, current), path = p.text(76);
        p.pass(20);
        for (int item : {0, 1, 0}) {
            p.turn(0, entryControl(item, 2));
            p.pass(2);
        }
        p.turn(0, -1.0);
        p.pass(2);
        for (const CorePrcs::BEANCALL& call : p.log->calls) {
            const bool control = call.id == 187 || call.id == 190 || call.id == 195;
            EXPECT_TRUE(control) << BeanLog::line(call);
        }
        EXPECT_TRUE(p.log->sane);
        EXPECT_EQ(p.text(68), program);
        EXPECT_EQ(p.programTexts(), texts);
        EXPECT_EQ(p.number(67), current);
        EXPECT_EQ(p.text(167, current), slotName);
        EXPECT_EQ(std::string(Access::versioningName(*p.display).c_str()), path);
        EXPECT_EQ(p.display->getcs(), kMemoryState);
    }
}

// DELETE of the current slot searches upward for the next used slot: the search ends on memories
// with slot 0 free and with a single used slot, and no batch names slot 0 as the one to delete.
TEST_F(CoreDsifMemory, DeletingTheCurrentSlotNeverDeletesSlot0) {
    struct Row {
        const char* name;
        std::vector<int32_t> cleared;
        const char* newProgram;
    };
    const Row rows[] = {
        {"slot 0 used", {}, "0"},
        {"slot 0 free", {kInit}, "1"},
        {"one used slot", {kInit, kPopOne, kPopDance, kJazz, kParameters}, "1234"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Context c = entered(kFarSlot, [&](Page& p) {
            for (int32_t slot : r.cleared) p.engine.getmm()->clrpr(slot);
        });
        Page& p = *c.page;
        p.click(50, 3);
        p.batch();
        std::vector<std::string> variables;
        const std::vector<std::string>& lines = p.log->lines;
        for (size_t i = 0; i + 1 < lines.size(); ++i) {
            if (lines[i] == "setbs 223 \"OLDPROGRAM\"" || lines[i] == "setbs 223 \"PROG\"" ||
                lines[i] == "setbs 223 \"NEWPROGRAM\"")
                variables.push_back(lines[i].substr(10) + "=" + lines[i + 1].substr(10));
        }
        const std::vector<std::string> expected = {"\"OLDPROGRAM\"=\"1234\"",
                                                   "\"NEWPROGRAM\"=\"" + std::string(r.newProgram) + "\""};
        EXPECT_EQ(variables, expected);
        EXPECT_EQ(p.display->getcs(), kMemoryState);
        EXPECT_EQ(p.number(67), std::stoi(r.newProgram));
    }
}

// SAVEAS hands the next numbered name of the program's own folder unless the user edits field 5,
// which holds the file name only: an edit keeps the folder, an emptied field the name as read.
TEST_F(CoreDsifMemory, SaveAsKeepsTheProgramsFolder) {
    struct Row {
        const char* name;
        std::string keys; // typed into field 5; empty: not edited
        const char* versioningName;
        const char* shown; // field 5 afterwards
    };
    const Row rows[] = {
        {"not edited", "", "live/DEEP_01", "DEEP_01"},
        {"edited, with blanks around", " Deeper ", "live/Deeper", "Deeper"},
        {"emptied", std::string(8, kDeleteKey), "live/DEEP_01", "DEEP_01"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto engine = booted();
        writeText(data() / "progs/live/DEEP.XML", program("Deep"));
        ASSERT_TRUE(engine->getmm()->loadl(7, "live/DEEP.XML"));
        Page p(*engine);
        p.load(7);
        p.enter();
        p.edit(8, 5, "Deep Two");
        p.pass();
        if (!r.keys.empty()) p.edit(8, 9, r.keys);
        p.record();
        p.click(50, 9);
        const std::vector<std::string>& lines = p.log->lines;
        const auto at = std::find(lines.begin(), lines.end(), "setbs 223 \"VERSIONINGNAME\"");
        ASSERT_TRUE(at != lines.end() && at + 1 != lines.end());
        EXPECT_EQ(*(at + 1), "setbs 224 \"" + std::string(r.versioningName) + "\"");
        EXPECT_EQ(std::string(Access::fields(*p.display).gettx(5)->getvs().c_str()), r.shown);
    }
}
