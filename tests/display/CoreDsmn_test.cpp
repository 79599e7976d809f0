// Popup menus: the shared records' layout, flattening a menu tree into the content holder, the arm
// and close records, the program menu read from the engine's category tree, and the holder copied by
// another thread while the menu is flattened again and again.
#include "display/CoreDsmn.h"

#include "RecordingHost.h"
#include "base/CoreNode.h"
#include "base/CoreSgrd.h"
#include "display/CoreDsgm.h"
#include "display/CoreDsif.h"
#include "display/CoreDspc.h"
#include "tests/common/EngineFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

// Both records cross the plug-in object's property interface.
static_assert(sizeof(CoreCnst::POPMENUENTRY) == 52 && offsetof(CoreCnst::POPMENUENTRY, text) == 4);
static_assert(sizeof(CoreCnst::POPMENUARM) == 20);
static_assert(offsetof(CoreCnst::POPMENUARM, menu) == 2 && offsetof(CoreCnst::POPMENUARM, count) == 4);
static_assert(offsetof(CoreCnst::POPMENUARM, column) == 8 && offsetof(CoreCnst::POPMENUARM, row) == 10);
static_assert(offsetof(CoreCnst::POPMENUARM, width) == 12 && offsetof(CoreCnst::POPMENUARM, height) == 14);
static_assert(offsetof(CoreCnst::POPMENUARM, percolumn) == 16);

namespace {

// "parent text" per record, record 0 as "title".
std::vector<std::string> records(CoreCnst::POPMENUCONTENTDATA& holder) {
    std::vector<std::string> lines;
    for (int i = 0; i < holder.count; ++i)
        lines.push_back(std::to_string(holder.items[i].parent) + " " + holder.items[i].text);
    return lines;
}

// Every byte after a record's NUL is zero.
bool tailsZero(CoreCnst::POPMENUCONTENTDATA& holder) {
    for (int i = 0; i < holder.count; ++i) {
        const char* text = holder.items[i].text;
        for (size_t at = std::strlen(text); at < sizeof(holder.items[i].text); ++at)
            if (text[at] != 0) return false;
    }
    return true;
}

} // namespace

TEST(CoreDsmn, FlattensTheTreeDepthFirst) {
    const std::string sixty(60, 'x');
    struct Row {
        const char* name;
        std::function<void(CoreDsmn&)> build;
        std::vector<std::string> records;
    };
    const Row rows[] = {
        {"no entries", [](CoreDsmn&) {}, {"-1 Title"}},
        {"A (A1, A2), B",
         [](CoreDsmn& m) {
             CoreNode* a = m.adden("A", nullptr);
             m.adden("A1", a);
             m.adden("A2", a);
             m.adden("B");
         },
         {"-1 Title", "-1 A", "1 A1", "1 A2", "-1 B"}},
        {"60 characters", [&sixty](CoreDsmn& m) { m.adden(sixty.c_str()); }, {"-1 Title", "-1 " + std::string(47, 'x')}},
        {"a child list that is gone",
         [](CoreDsmn& m) {
             CoreNode* a = m.adden("A", nullptr);
             m.adden("X", a);
             a->delcn("X"); // drops the list: no children at all
             m.adden("B");
         },
         {"-1 Title", "-1 A", "-1 B"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        CoreDsmn menu(nullptr, nullptr);
        r.build(menu);
        CoreCnst::POPMENUCONTENTDATA holder;
        CoreDsmn::new__(3, &holder); // an old array the flattening frees
        const int count = menu.pushd(&holder, "Title");
        EXPECT_EQ(count, static_cast<int>(r.records.size()));
        EXPECT_EQ(holder.count, count);
        EXPECT_EQ(records(holder), r.records);
        EXPECT_TRUE(tailsZero(holder));
        CoreDsmn::delte(&holder);
        EXPECT_EQ(holder.count, 0);
    }
}

TEST(CoreDsgm, ArmAndCloseRecordsGoToTheHost) {
    RecordingHost host;
    CoreDsgm group(nullptr, &host);
    group.reset(1);
    group.getmn(0)->defne(5, 2, 8, 2);
    group.arm__(true, 0, 7, 24);
    group.arm__(false, -1, 0, 16);
    const std::vector<std::string> log = {
        "stprp 100106 01 00 00 00 07 00 00 00 05 00 02 00 08 00 02 00 18 00 00 00", "prchg 100106",
        "stprp 100106 00 00 00 00 07 00 00 00 05 00 02 00 08 00 02 00 18 00 00 00", "prchg 100106"};
    EXPECT_EQ(host.log, log); // closing changes only byte 0
    EXPECT_TRUE(group.getmn(0)->getar());

    struct Focus {
        short column, row;
        bool down;
        short menu;
    };
    const Focus clicks[] = {{5, 2, true, 0}, {13, 4, true, 0}, {14, 2, true, -1}, {4, 2, true, -1}, {6, 3, false, -1}};
    for (const Focus& f : clicks) EXPECT_EQ(group.focus(f.column, f.row, f.down), f.menu) << f.column << "," << f.row;

    RecordingHost quiet; // no menus, or no host: nothing is sent
    CoreDsgm empty(nullptr, &quiet);
    empty.arm__(true, 0, 1, 16);
    CoreDsgm hostless(nullptr, nullptr);
    hostless.reset(1);
    hostless.arm__(true, 0, 1, 16);
    EXPECT_TRUE(quiet.log.empty());
    EXPECT_TRUE(hostless.getar());
}

class CoreDsmnEngine : public BootedEngineTest {};

TEST_F(CoreDsmnEngine, ScansTheCategoryTreeIntoTheProgramMenu) {
    auto engine = booted();
    CoreDspc queue;
    CoreBlnk clock;
    CoreDsif display(engine.get(), &queue, &clock, nullptr);
    engine->setbv(244, nullptr); // rebuild the tree, as the program page does
    CoreDsmn menu(engine.get(), nullptr);
    display.scanm(&menu, 0, nullptr);
    CoreCnst::POPMENUCONTENTDATA holder;
    menu.pushd(&holder, engine->getbs(250, nullptr));
    const std::vector<std::string> expected = {
        "-1 LST",       "-1 0 - Init",        "-1 4 - Params", "-1 JAZZ (JAZZ)",  "3 3 - Club",
        "3 1234 - Name", "-1 Pop music (POP)", "6 1 - Hits",    "6 DANCE (DANCE)", "8 2 - Floor",
    };
    EXPECT_EQ(records(holder), expected);
    CoreDsmn::delte(&holder);
}

TEST(CoreDsmn, CopiesUnderTheHolderLockWhileFlattening) {
    CoreCnst::POPMENUCONTENTDATA holder;
    std::atomic<bool> done{false};
    std::thread editor([&] { // as the plug-in object answers 100107
        std::vector<CoreCnst::POPMENUENTRY> copy;
        while (!done.load()) {
            {
                CoreSgrd guard(holder.lock);
                copy.assign(holder.items, holder.items + holder.count);
            }
            // A taker that finds the lock held sleeps a millisecond before it tries again: a reader
            // that took it back at once would starve the display (minutes under the sanitizers).
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    });
    CoreDsmn menu(nullptr, nullptr);
    for (int round = 0; round < 1000; ++round) {
        menu.clear();
        const int entries = 1 + round % 200;
        for (int i = 0; i < entries; ++i) menu.adden("entry");
        EXPECT_EQ(menu.pushd(&holder, "Title"), entries + 1);
    }
    done = true;
    editor.join();
    CoreDsmn::delte(&holder);
}
