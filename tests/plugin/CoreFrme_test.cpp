#include "plugin/CoreFrme.h"

#include "platform/gui/COptionMenu.h"
#include "tests/plugin/RecordingProperties.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <thread>

namespace {

struct MouseRecord {
    int32_t x, y, down;
};

// A frame with the display grid (194, 53)-(542, 221) of 6 × 12 cells.
struct Frame {
    Frame() : frame(CRect(0, 0, 700, 300), nullptr, nullptr, &props) { frame.setmb(true, 194, 53, 542, 221, 6, 12); }
    void send(const CoreGevt& event) {
        frame.post(event);
        frame.idle();
    }
    void click(CPoint where) {
        send(CoreGevt::down(where, kLButton));
        send(CoreGevt::up(where));
    }
    std::vector<MouseRecord> mice() { return props.setsOf<MouseRecord>(CorePpwr::iCmouse); }
    RecordingProperties props;
    CoreFrme frame;
};

std::vector<int> typesOf(const std::vector<CoreDspc::MESSAGELOC>& messages) {
    std::vector<int> types;
    for (const auto& m : messages) types.push_back(m.type);
    return types;
}

} // namespace

TEST(CoreFrme, TurnsClicksIntoDisplayAndBypassMessages) {
    struct Row {
        const char* name;
        CPoint where;
        CRect bypass;
        bool grid;
        std::vector<int> types;
        int32_t column, row;
    };
    const Row rows[] = {
        {"first cell", {194, 53}, {}, true, {0}, 0, 0},
        {"last column", {541, 220}, {}, true, {0}, 57, 13},
        {"right edge", {542, 100}, {}, true, {}, 0, 0},
        {"bottom edge", {300, 221}, {}, true, {}, 0, 0},
        {"grid and bypass", {200, 60}, {190, 50, 210, 70}, true, {0, 2}, 1, 0},
        {"bypass only", {20, 20}, {10, 10, 30, 30}, true, {2}, 0, 0},
        {"grid disabled", {200, 60}, {}, false, {}, 0, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Frame f;
        if (!r.grid) f.frame.setmb(false, 194, 53, 542, 221, 6, 12);
        f.frame.setm2(r.bypass.left, r.bypass.top, r.bypass.right, r.bypass.bottom);
        f.send(CoreGevt::down(r.where, kLButton));
        const auto messages = f.props.messages();
        EXPECT_EQ(typesOf(messages), r.types);
        if (!r.types.empty() && r.types[0] == 0) {
            EXPECT_EQ(messages[0].a, r.column);
            EXPECT_EQ(messages[0].b, r.row);
            EXPECT_EQ(messages[0].c, r.where.x);
            EXPECT_EQ(messages[0].d, r.where.y);
            const auto mice = f.mice();
            ASSERT_FALSE(mice.empty());
            EXPECT_EQ(mice[0].x, r.where.x);
            EXPECT_EQ(mice[0].y, r.where.y);
            EXPECT_EQ(mice[0].down, 1);
        }
    }
}

TEST(CoreFrme, FollowsADisplayClickUntilTheRelease) {
    Frame f;
    f.send(CoreGevt::down(CPoint(200, 60), kLButton));
    f.send(CoreGevt::move(CPoint(230, 90), kLButton));
    f.frame.idle();
    // The press, the idle after it, the move's idle and the empty idle.
    auto mice = f.mice();
    ASSERT_EQ(mice.size(), 4u);
    for (size_t i = 0; i < mice.size(); ++i) {
        EXPECT_EQ(mice[i].x, i < 2 ? 200 : 230);
        EXPECT_EQ(mice[i].down, 1);
    }
    f.send(CoreGevt::up(CPoint(230, 90)));
    const size_t before = f.mice().size();
    EXPECT_EQ(f.mice().back().down, 0);
    f.frame.idle();
    f.send(CoreGevt::move(CPoint(240, 90), 0));
    EXPECT_EQ(f.mice().size(), before); // tracking ended
}

TEST(CoreFrme, SendsWholeWheelStepsOnEveryAxis) {
    struct Row {
        float distance;
        int32_t steps;
    };
    const Row rows[] = {{2.7f, 2}, {-0.5f, 0}, {-3.0f, -3}, {std::nanf(""), 0}, {1e12f, 2147483647},
                        {-std::numeric_limits<float>::infinity(), 0}};
    for (const Row& r : rows)
        for (int32_t axis : {kMouseWheelAxisX, kMouseWheelAxisY}) {
            SCOPED_TRACE(testing::Message() << r.distance << " axis " << axis);
            EXPECT_EQ(CoreFrme::wheelSteps(r.distance), r.steps);
            if (!std::isfinite(r.distance)) continue; // the layer drops such turns
            Frame f;
            f.send(CoreGevt::wheel(CPoint(5, 5), r.distance, axis));
            const auto messages = f.props.messages();
            ASSERT_EQ(messages.size(), 1u);
            EXPECT_EQ(messages[0].type, 3);
            EXPECT_EQ(messages[0].a, r.steps);
        }
}

TEST(CoreFrme, PopsTheArmedMenuOverItsCells) {
    Frame f;
    COptionMenu menu(CRect(), nullptr, 2000), other(CRect(), nullptr, 2001);
    for (COptionMenu* m : {&menu, &other}) {
        m->addEntry("one");
        m->addEntry("two");
        f.frame.addView(m);
    }
    // Cells (2, 1) size 3 × 2: pixels (206, 65)-(224, 89), bounds included.
    f.frame.setmn(&menu, 2, 1, 3, 2);
    for (CPoint inside : {CPoint(206, 65), CPoint(224, 89)}) {
        f.props.clear();
        f.click(inside);
        EXPECT_EQ(f.frame.getOpenMenu(), &menu);
        EXPECT_TRUE(typesOf(f.props.messages()).empty());
        EXPECT_FALSE(f.frame.ismna());
        f.frame.closePopup(); // nothing chosen: armed again
        f.frame.idle();
        EXPECT_TRUE(f.frame.ismna());
    }
    f.props.clear();
    f.click(CPoint(225, 89));
    EXPECT_EQ(typesOf(f.props.messages()), std::vector<int>{0});
    EXPECT_EQ(f.frame.getOpenMenu(), nullptr);

    // A setmn while the menu is shown holds when it closes.
    f.click(CPoint(210, 70));
    ASSERT_EQ(f.frame.getOpenMenu(), &menu);
    std::thread([&] { f.frame.setmn(&other, 10, 5, 1, 1); }).join();
    f.frame.closePopup();
    f.frame.idle();
    EXPECT_TRUE(f.frame.ismna());
    f.click(CPoint(210, 70));
    EXPECT_EQ(f.frame.getOpenMenu(), nullptr); // the old cells are no longer armed
    f.click(CPoint(254, 113));
    EXPECT_EQ(f.frame.getOpenMenu(), &other);

    // After a choice the frame stays disarmed.
    f.send(CoreGevt::choice(&other, 1));
    f.frame.idle();
    EXPECT_EQ(f.frame.getOpenMenu(), nullptr);
    EXPECT_EQ(other.getLastResult(), 1);
    EXPECT_FALSE(f.frame.ismna());
    for (COptionMenu* m : {&menu, &other}) f.frame.removeView(m);
}

// A display cell's view lies under the armed cells, as in the editor. However the popup closes, the
// next press over those cells acts: it pops the menu up again while armed, else it is a display click.
TEST(CoreFrme, ThePressThatPopsTheMenuLeavesTheNextPressFree) {
    struct Row {
        const char* name;
        std::vector<CoreGevt> closing; // after the popup shows
        bool armedAfter;
    };
    const CPoint inside(210, 70), outside(650, 280);
    const CPoint second(206 + 5, 65 + 1 + CFrame::iCmenurow + 7); // the popup opens at (206, 65)
    const Row rows[] = {
        {"escape", {CoreGevt::keyPress(CoreGevt::kKeyEscape)}, true},
        {"press outside", {CoreGevt::down(outside, kLButton), CoreGevt::up(outside)}, true},
        {"choice by pointer",
         {CoreGevt::move(second, 0), CoreGevt::down(second, kLButton), CoreGevt::up(second)},
         false},
        {"choice by the layer", {CoreGevt::choice(nullptr, 1)}, false}, // the menu filled in below
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Frame f;
        COptionMenu menu(CRect(), nullptr, 2000);
        menu.addEntry("one");
        menu.addEntry("two");
        f.frame.addView(&menu);
        CView cell(CRect(200, 60, 230, 80));
        f.frame.addView(&cell);
        f.frame.setmn(&menu, 2, 1, 3, 2);
        f.click(inside);
        ASSERT_EQ(f.frame.getOpenMenu(), &menu);
        for (CoreGevt event : r.closing) {
            if (event.kind == CoreGevt::kChoice) event.menu = &menu;
            f.send(event);
        }
        f.frame.idle();
        ASSERT_EQ(f.frame.getOpenMenu(), nullptr);
        EXPECT_EQ(f.frame.ismna(), r.armedAfter);
        f.props.clear();
        f.click(inside);
        if (r.armedAfter) {
            EXPECT_EQ(f.frame.getOpenMenu(), &menu);
            f.frame.closePopup();
        } else {
            EXPECT_EQ(typesOf(f.props.messages()), std::vector<int>{0});
        }
        f.frame.removeView(&cell);
        f.frame.removeView(&menu);
    }
}
