#include "display/CoreMenu.h"

#include "tests/display/GoldenScreen.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace {

using Menus = std::array<CoreMenu, CoreMenu::iCdisplaymenus>;

Menus displayMenus() {
    Menus menus;
    CoreMenu::buildDisplayMenus(menus);
    return menus;
}

// The six slots as "label" for an enabled slot and "label*" for the marked one.
std::vector<std::string> slots(const CoreMenu& menu) {
    std::vector<std::string> shown;
    for (short slot = 0; slot < CoreMenu::iCvisibleitems; ++slot) {
        CoreAnsx label("unset");
        bool enabled = false;
        menu.getvl(slot, label, enabled);
        shown.push_back(std::string(label.c_str()) + (enabled ? "" : "*"));
    }
    return shown;
}

using Slots = std::vector<std::string>;

} // namespace

TEST(CoreMenu, BuildsTheSixDisplayMenus) {
    struct Row {
        Slots shown;
        std::vector<short> keys;
    };
    const Row table[] = {
        {{"PROG", "KERN", "MAST", "MIDI", "DISK", " "}, {0, 5, 2, 3, 4}},
        {{"MEMO", "PRMS", "GLOB", "LFOS", "FUNS", "  More> "}, {6, 13, 8, 7, 9, 10, 11, 12}},
        {{"ABOUT", " ", " ", " ", " ", " "}, {15}},
        {{"TEST", " ", " ", " ", " ", " "}, {16}},
        {{"PARM", " ", " ", " ", " ", " "}, {14}},
        {{"PROG", "MAST", " ", " ", " ", " "}, {18, 19}},
    };
    Menus menus = displayMenus();
    for (size_t m = 0; m < menus.size(); ++m) {
        SCOPED_TRACE(testing::Message() << "menu " << m);
        EXPECT_EQ(slots(menus[m]), table[m].shown);
        for (short state = -1; state <= 24; ++state) {
            const bool held =
                std::find(table[m].keys.begin(), table[m].keys.end(), state) != table[m].keys.end();
            EXPECT_EQ(menus[m].iskey(state), held) << "state " << state;
        }
    }
}

TEST(CoreMenu, MarksTheItemsOfAKey) {
    Menus menus = displayMenus();
    CoreMenu& pages = menus[0];
    struct Row {
        short key;
        bool held;
        Slots shown;
    };
    const Row table[] = {
        {5, true, {"PROG", "KERN*", "MAST", "MIDI", "DISK", " "}},
        {0, true, {"PROG*", "KERN", "MAST", "MIDI", "DISK", " "}},
        {1, false, {"PROG*", "KERN", "MAST", "MIDI", "DISK", " "}}, // the program list: marks kept
        {22, false, {"PROG*", "KERN", "MAST", "MIDI", "DISK", " "}},
    };
    for (const Row& r : table) {
        SCOPED_TRACE(r.key);
        EXPECT_EQ(pages.iskey(r.key), r.held);
        EXPECT_EQ(slots(pages), r.shown);
    }
    CoreMenu twice;
    twice.addit(3, "A");
    twice.addit(4, "B");
    twice.addit(3, "C");
    EXPECT_TRUE(twice.iskey(3));
    EXPECT_EQ(slots(twice), (Slots{"A*", "B", "C*", " ", " ", " "}));

    CoreMenu empty;
    EXPECT_FALSE(empty.iskey(0));
    EXPECT_EQ(slots(empty), (Slots{" ", " ", " ", " ", " ", " "}));
}

TEST(CoreMenu, ScrollsALongMenuOneItemAtATime) {
    Menus menus = displayMenus();
    CoreMenu& menu = menus[1];
    const Slots atOffset[] = {
        {"MEMO", "PRMS", "GLOB", "LFOS", "FUNS", "  More> "},
        {"  <More ", "GLOB", "LFOS", "FUNS", "EVFS", "  More> "},
        {"  <More ", "LFOS", "FUNS", "EVFS", "ENVS", "DYNS"},
    };
    // Right to the end and one further, then left to the start and one further.
    const int walk[][2] = {{true, 1}, {true, 2}, {true, 2}, {false, 1}, {false, 0}, {false, 0}};
    EXPECT_EQ(slots(menu), atOffset[0]);
    for (const auto& step : walk) {
        menu.scroll(step[0] != 0);
        EXPECT_EQ(slots(menu), atOffset[step[1]]) << "after scrolling " << (step[0] ? "right" : "left");
    }
    menus[0].scroll(true); // five items: no scrolling
    EXPECT_EQ(slots(menus[0]), (Slots{"PROG", "KERN", "MAST", "MIDI", "DISK", " "}));
}

TEST(CoreMenu, SlotsOutsideTheBarShowOneBlank) {
    Menus menus = displayMenus();
    CoreMenu& menu = menus[1];
    menu.iskey(8); // GLOB marked
    // Slots -1 .. 7 at offsets 0, 1 and 2.
    const Slots table[] = {
        {" ", "MEMO", "PRMS", "GLOB*", "LFOS", "FUNS", "  More> ", " ", " "},
        {" ", "  <More ", "GLOB*", "LFOS", "FUNS", "EVFS", "  More> ", " ", " "},
        {" ", "  <More ", "LFOS", "FUNS", "EVFS", "ENVS", "DYNS", " ", " "},
    };
    for (int offset = 0; offset < 3; ++offset) {
        Slots shown;
        for (short slot = -1; slot <= 7; ++slot) {
            CoreAnsx label;
            bool enabled = false;
            menu.getvl(slot, label, enabled);
            shown.push_back(std::string(label.c_str()) + (enabled ? "" : "*"));
        }
        EXPECT_EQ(shown, table[offset]) << "offset " << offset;
        menu.scroll(true);
    }
}

TEST(CoreMenu, DrawsTheBar) {
    struct Row {
        const char* golden;
        const char* facts;
        int menu;
        short key; // marked through iskey; -1 for none
        int scrolls;
        bool pageChanged;
    };
    const Row table[] = {
        {"bar_menu0_prog_entered.txt", "PROG entered, pass of the change", 0, 0, 0, true},
        {"bar_menu0_prog_next.txt", "PROG shown, next pass", 0, 0, 0, false},
        {"bar_menu0_kern_entered.txt", "KERN entered, pass of the change", 0, 5, 0, true},
        {"bar_menu1_offset0.txt", "menu 1 at offset 0, LIST shown", 1, -1, 0, false},
        {"bar_menu1_offset1.txt", "menu 1 at offset 1, LIST shown", 1, -1, 1, false},
        {"bar_menu1_offset2.txt", "menu 1 at offset 2, LIST shown", 1, -1, 2, false},
        {"bar_menu5_prog_entered.txt", "compact PROG entered, pass of the change", 5, 18, 0, true},
    };
    for (const Row& r : table) {
        SCOPED_TRACE(r.golden);
        Menus menus = displayMenus();
        CoreMenu& menu = menus[static_cast<size_t>(r.menu)];
        if (r.key >= 0) menu.iskey(r.key);
        for (int i = 0; i < r.scrolls; ++i) menu.scroll(true);
        CoreDsbf grid(nullptr, 58, 14, 49, 3);
        grid.write("page text left alone", 0, 12, 0, false, false);
        menu.drawBar(grid, r.pageChanged);
        EXPECT_TRUE(
            GoldenScreen(std::string("CoreMenu bar: ") + r.golden).fact(r.facts).matches(grid, r.golden));
    }
}
