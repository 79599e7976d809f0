#include "platform/gui/COptionMenu.h"

#include "platform/gui/CFrame.h"
#include "tests/gui/GuiGolden.h"

#include <gtest/gtest.h>
#include <memory>
#include <string>

using guitest::RecordingListener;

namespace {

// A root menu (style 1152, tag 10) at (20, 10) holding "Alpha", a separator, a submenu "More"
// (style 128, tag 11: "One", "Two", "-", "Three") and "Omega", in a 320 × 200 frame.
struct Menus {
    RecordingListener listener;
    CFrame frame{CRect(0, 0, 320, 200), nullptr, nullptr};
    COptionMenu root{CRect(20, 10, 20, 10), &listener, 10, nullptr, nullptr, 1152};
    COptionMenu more{CRect(0, 0, 0, 0), nullptr, 11, nullptr, nullptr, 128};

    Menus() {
        root.setHoriAlign(kLeftText);
        for (const char* text : {"One", "Two", "-", "Three"}) more.addEntry(text);
        root.addEntry("Alpha");
        root.addEntry("-");
        root.addEntry(&more, "More");
        root.addEntry("Omega");
        frame.addView(&root);
    }
    // The centre of entry i of open level l.
    CPoint entry(int32_t level, int32_t i) const {
        const CRect& r = frame.getPopupLevelRect(level);
        return CPoint(r.left + 20, r.top + 1 + i * CFrame::iCmenurow + 7);
    }
    void run(const std::vector<CoreGevt>& events) {
        for (const CoreGevt& e : events) {
            frame.post(e);
            frame.idle();
        }
    }
    void open() {
        CPoint at(0, 0);
        root.mouse(&frame.getImage(), at, kLButton);
    }
};

} // namespace

TEST(COptionMenu, ChoosesByPointerKeysAndPostsAndTellsTheRootListenerOnce) {
    struct Row {
        const char* name;
        std::function<void(Menus&)> act;
        int32_t tag;         // of the listener's one call; 0: none
        int32_t index;       // its value and the last result; -1: nothing chosen
        bool stillOpen;
    };
    auto press = [](CPoint p) { return CoreGevt::down(p, kLButton); };
    auto release = [](CPoint p) { return CoreGevt::up(p, 0); };
    auto moveTo = [](CPoint p) { return CoreGevt::move(p, kLButton); };
    auto key = [](int32_t k) { return CoreGevt::keyPress(k); };
    const Row rows[] = {
        {"press, drag, release", [&](Menus& m) { m.open(); m.run({moveTo(m.entry(0, 3)), release(m.entry(0, 3))}); }, 10, 3, false},
        {"opening press's release chooses nothing", [&](Menus& m) { m.open(); m.run({release(m.entry(0, 0))}); }, 0, -1, true},
        {"click, then click", [&](Menus& m) { m.open(); m.run({release(CPoint(0, 0)), press(m.entry(0, 0)), release(m.entry(0, 0))}); }, 10, 0, false},
        {"separator never chooses", [&](Menus& m) { m.open(); m.run({moveTo(m.entry(0, 1)), release(m.entry(0, 1))}); }, 0, -1, true},
        {"submenu entry opens, never chooses", [&](Menus& m) { m.open(); m.run({moveTo(m.entry(0, 2)), release(m.entry(0, 2))}); }, 0, -1, true},
        {"submenu entry chosen by pointer", [&](Menus& m) {
             m.open();
             m.run({moveTo(m.entry(0, 2))});
             m.run({moveTo(m.entry(1, 3)), release(m.entry(1, 3))});
         }, 11, 3, false},
        {"posted choice in a submenu", [&](Menus& m) { m.open(); m.run({CoreGevt::choice(&m.more, 1)}); }, 11, 1, false},
        {"posted separator, submenu entry or index outside: nothing", [&](Menus& m) {
             m.open();
             m.run({CoreGevt::choice(&m.more, 2), CoreGevt::choice(&m.root, 2), CoreGevt::choice(&m.root, 9),
                    CoreGevt::choice(nullptr, 0)});
         }, 0, -1, true},
        {"escape closes", [&](Menus& m) { m.open(); m.run({key(CoreGevt::kKeyEscape), release(m.entry(0, 0))}); }, 0, -1, false},
        {"press outside closes", [&](Menus& m) { m.open(); m.run({press(CPoint(300, 190)), release(CPoint(300, 190))}); }, 0, -1, false},
        {"arrows and return navigate", [&](Menus& m) {
             m.open();
             m.run({key(CoreGevt::kKeyDown), key(CoreGevt::kKeyDown), key(CoreGevt::kKeyRight), key(CoreGevt::kKeyDown),
                    key(CoreGevt::kKeyDown), key(CoreGevt::kKeyLeft), key(CoreGevt::kKeyDown), key(CoreGevt::kKeyUp),
                    key(CoreGevt::kKeyReturn), key(CoreGevt::kKeyDown), key(CoreGevt::kKeyReturn)});
         }, 11, 1, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Menus m;
        row.act(m);
        if (row.tag == 0) {
            EXPECT_TRUE(m.listener.calls.empty());
        } else {
            ASSERT_EQ(m.listener.calls.size(), 1u);
            EXPECT_EQ(m.listener.calls[0].first, row.tag);
            EXPECT_EQ(m.listener.calls[0].second, float(row.index));
            COptionMenu* holder = row.tag == 10 ? &m.root : &m.more;
            EXPECT_EQ(holder->getCurrent(), row.index);
            int32_t index = -2;
            EXPECT_EQ(m.root.getLastItemMenu(index), holder);
            EXPECT_EQ(index, row.index);
        }
        EXPECT_EQ(m.root.getLastResult(), row.index);
        EXPECT_EQ(m.frame.getOpenMenu() != nullptr, row.stillOpen);
    }
}

TEST(COptionMenu, ChangingTheOpenTreeClosesThePopup) {
    struct Row {
        const char* name;
        std::function<void(Menus&)> change;
    };
    const Row rows[] = {
        {"adding to the root", [](Menus& m) { m.root.addEntry("New"); }},
        {"adding to a submenu that is not shown", [](Menus& m) { m.more.addEntry("New"); }},
        {"emptying a submenu", [](Menus& m) { m.more.removeAllEntry(); }},
        {"removing the root from the frame", [](Menus& m) { m.frame.removeView(&m.root); }},
        {"deleting a submenu", [](Menus& m) { m.more.~COptionMenu(); new (&m.more) COptionMenu(CRect(), nullptr, 11); }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Menus m;
        m.open();
        m.run({CoreGevt::move(m.entry(0, 2), kLButton)});
        ASSERT_EQ(m.frame.getPopupLevelCount(), 2);
        row.change(m);
        EXPECT_EQ(m.frame.getOpenMenu(), nullptr);
        EXPECT_EQ(m.frame.getPopupLevelCount(), 0);
        m.run({CoreGevt::choice(&m.root, 0)});
        EXPECT_TRUE(m.listener.calls.empty());
    }
}

TEST(COptionMenu, PopupLevelsMatchGoldens) {
    {   // style 1152 with a separator, an open submenu of style 128 and a current entry in both
        Menus m;
        m.root.setCurrent(3);
        m.more.setCurrent(1);
        m.open();
        m.run({CoreGevt::move(m.entry(0, 2), kLButton)});
        m.run({CoreGevt::move(m.entry(1, 3), kLButton)});
        ASSERT_EQ(m.frame.getPopupLevelCount(), 2);
        guitest::expectGolden(m.frame.getPopupLevelImage(0), "popup_root");
        guitest::expectGolden(m.frame.getPopupLevelImage(1), "popup_submenu");
    }
    struct Row {
        int32_t entries, perColumn, columns;
    };
    for (const Row& row : {Row{7, 3, 3}, Row{100, 24, 5}}) {
        SCOPED_TRACE(row.entries);
        RecordingListener listener;
        CFrame frame(CRect(0, 0, 800, 400), nullptr, nullptr);
        COptionMenu menu(CRect(4, 4, 4, 4), &listener, 7, nullptr, nullptr, 1152);
        menu.setNbItemsPerColumn(row.perColumn);
        for (int32_t i = 0; i < row.entries; ++i) menu.addEntry(("Entry " + std::to_string(i)).c_str());
        frame.addView(&menu);
        for (int32_t i = 0; i < row.entries; ++i) { // each entry is hit by a click
            CPoint at(0, 0);
            menu.mouse(&frame.getImage(), at, kLButton);
            const CRect& r = frame.getPopupLevelRect(0);
            const int32_t columnWidth = (r.width() - 2) / row.columns;
            const CPoint p(r.left + 1 + (i / row.perColumn) * columnWidth + columnWidth / 2,
                           r.top + 1 + (i % row.perColumn) * CFrame::iCmenurow + 5);
            frame.post(CoreGevt::up(CPoint(0, 0), 0));
            frame.post(CoreGevt::down(p, kLButton));
            frame.post(CoreGevt::up(p, 0));
            frame.idle();
            ASSERT_EQ(listener.calls.size(), size_t(i + 1));
            ASSERT_EQ(listener.calls.back().second, float(i));
        }
        CPoint at(0, 0);
        menu.mouse(&frame.getImage(), at, kLButton);
        EXPECT_EQ(frame.getPopupLevelRect(0).height(), row.perColumn * CFrame::iCmenurow + 2);
        guitest::expectGolden(frame.getPopupLevelImage(0), "popup_" + std::to_string(row.entries) + "_entries");
    }
}

TEST(COptionMenu, PlacesLevelsInsideThePopupBounds) {
    struct Row {
        const char* name;
        CRect anchor;
        CRect bounds;
        int32_t entries;   // of the root; the submenu has 3
        bool openSub;      // opens the submenu on the root's last entry
        CRect root, sub;   // expected places; sub unused when not opened
    };
    // A root column is 10 + 6 × 6 + 10 = 56 wide ("Item 0"), the submenu's 10 + 6 × 3 + 10 = 38.
    const Row rows[] = {
        {"no bounds: at the anchor", CRect(5, 5, 5, 5), CRect(), 2, true, CRect(5, 5, 63, 35), CRect(62, 19, 102, 63)},
        {"near the right edge", CRect(190, 5, 190, 5), CRect(0, 0, 200, 150), 2, false, CRect(142, 5, 200, 35), CRect()},
        {"near the bottom edge", CRect(5, 140, 5, 140), CRect(0, 0, 200, 150), 2, false, CRect(5, 120, 63, 150), CRect()},
        {"near the left and top edges", CRect(-20, -9, -20, -9), CRect(0, 0, 200, 150), 2, false, CRect(0, 0, 58, 30), CRect()},
        {"larger than the bounds: their top-left", CRect(50, 50, 50, 50), CRect(10, 20, 200, 100), 12, false,
         CRect(10, 20, 68, 190), CRect()},
        {"submenu without room on the right flips left", CRect(130, 5, 130, 5), CRect(0, 0, 200, 150), 2, true,
         CRect(130, 5, 188, 35), CRect(91, 19, 131, 63)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        CFrame frame(CRect(0, 0, 200, 150), nullptr, nullptr);
        frame.setPopupBounds(row.bounds);
        COptionMenu menu(row.anchor, nullptr, 1);
        COptionMenu sub(CRect(), nullptr, 2);
        for (const char* text : {"One", "Two", "Six"}) sub.addEntry(text);
        for (int32_t i = 0; i < row.entries - 1; ++i) menu.addEntry(("Item " + std::to_string(i % 10)).c_str());
        menu.addEntry(&sub, "Item 9");
        frame.addView(&menu);
        CPoint at(0, 0);
        menu.mouse(&frame.getImage(), at, kLButton);
        EXPECT_EQ(frame.getPopupLevelRect(0), row.root);
        if (!row.openSub) continue;
        const CRect& r = frame.getPopupLevelRect(0);
        frame.post(CoreGevt::move(CPoint(r.left + 10, r.top + 1 + (row.entries - 1) * 14 + 3), kLButton));
        frame.idle();
        ASSERT_EQ(frame.getPopupLevelCount(), 2);
        EXPECT_EQ(frame.getPopupLevelRect(1), row.sub);
    }
}
