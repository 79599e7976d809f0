#include "platform/gui/CFrame.h"

#include "platform/gui/CAnimKnob.h"
#include "platform/gui/CBitmap.h"
#include "platform/gui/CKickButton.h"
#include "platform/gui/CMovieBitmap.h"
#include "platform/gui/CVerticalSlider.h"
#include "tests/gui/GuiGolden.h"

#include <cmath>
#include <gtest/gtest.h>
#include <memory>

using guitest::RecordingListener;

namespace {

using Calls = std::vector<std::pair<int32_t, float>>;

// A 200 × 100 frame: slider 1 (style 64, handle top from row 54 at 0 to row 10 at 1, value 0.5),
// knob 2 (32 frames, value 0.25), kick button 3 under a view that takes no pointer input, and
// slider 4 without travel.
struct Panel {
    RecordingListener listener;
    CFrame frame{CRect(0, 0, 200, 100), nullptr, nullptr};
    CBitmap* handle = new CBitmap(103);
    CBitmap* knobStrip = new CBitmap(0);
    CBitmap* button = new CBitmap(300);
    CPoint origin;
    CVerticalSlider* slider = new CVerticalSlider(CRect(10, 10, 27, 90), &listener, 1, 10, 54, handle, nullptr, origin);
    CAnimKnob* knob = nullptr;
    CKickButton* kick = new CKickButton(CRect(80, 10, 110, 26), &listener, 3, 16, button, origin);
    CView* cover = new CView(CRect(80, 10, 110, 26));
    CVerticalSlider* still = new CVerticalSlider(CRect(120, 10, 137, 90), &listener, 4, 30, 30, handle, nullptr, origin);

    Panel() {
        knobStrip->setImage(guitest::makePicture(32, 32 * 32, [](int32_t, int32_t y) {
                                return CColor{uint8_t(y / 32 * 8), 0, 0, 255};
                            }),
                            false);
        knob = new CAnimKnob(CRect(40, 10, 72, 42), &listener, 2, knobStrip, origin);
        slider->setValue(0.5f);
        knob->setValue(0.25f);
        cover->setMouseEnabled(false);
        for (CView* view : {static_cast<CView*>(slider), static_cast<CView*>(knob), static_cast<CView*>(kick), cover,
                            static_cast<CView*>(still)})
            frame.addView(view);
    }
    ~Panel() {
        delete slider;
        delete knob;
        delete kick;
        delete cover;
        delete still;
        for (CBitmap* bitmap : {handle, knobStrip, button}) bitmap->forget();
    }
    void run(const std::vector<CoreGevt>& events) {
        for (const CoreGevt& event : events) {
            frame.post(event);
            frame.idle();
        }
    }
};

CoreGevt down(int32_t x, int32_t y) { return CoreGevt::down(CPoint(x, y), kLButton); }
CoreGevt drag(int32_t x, int32_t y) { return CoreGevt::move(CPoint(x, y), kLButton); }
CoreGevt up(int32_t x, int32_t y) { return CoreGevt::up(CPoint(x, y)); }

} // namespace

TEST(CFrame, DispatchesPointerInputToControls) {
    enum Deletes { kNothing, kDraggedSlider, kKnob };
    struct Row {
        const char* name;
        std::vector<CoreGevt> events;
        Deletes deletes;
        Calls calls;
        float slider, knob; // final values; NaN: deleted
    };
    const float gone = NAN;
    const Row rows[] = {
        {"slider drag from the handle keeps the grab", {down(18, 40), drag(18, 29), up(18, 29)}, kNothing,
         {{1, 0.75f}}, 0.75f, 0.25f},
        {"press beside the handle centres it", {down(18, 70), up(18, 70)}, kNothing, {{1, 2.0f / 44}}, 2.0f / 44, 0.25f},
        {"past both ends", {down(18, 40), drag(18, -100), drag(18, 500), up(18, 500)}, kNothing, {{1, 1}, {1, 0}}, 0, 0.25f},
        {"no travel ignores presses, drags and the wheel",
         {down(128, 40), drag(128, 10), up(128, 10), CoreGevt::wheel(CPoint(128, 40), 3)}, kNothing, {}, 0.5f, 0.25f},
        {"knob drag: 200 pixels for the range, up raises", {down(56, 26), drag(56, -24), drag(56, 126), up(56, 126)},
         kNothing, {{2, 0.5f}, {2, 0}}, 0.5f, 0},
        {"wheel moves 0.1 a step", {CoreGevt::wheel(CPoint(18, 40), 2), CoreGevt::wheel(CPoint(56, 26), -1)},
         kNothing, {{1, 0.7f}, {2, 0.15f}}, 0.7f, 0.15f},
        {"wheel over nothing", {CoreGevt::wheel(CPoint(190, 95), 1)}, kNothing, {}, 0.5f, 0.25f},
        {"kick released inside, through a view without mouse", {down(90, 18), drag(91, 19), up(91, 19)}, kNothing,
         {{3, 1}, {3, 0}}, 0.5f, 0.25f},
        {"kick released outside", {down(90, 18), drag(150, 50), up(150, 50)}, kNothing, {}, 0.5f, 0.25f},
        {"right button moves nothing", {CoreGevt::down(CPoint(18, 70), kRButton), up(18, 70)}, kNothing, {}, 0.5f, 0.25f},
        {"listener deletes the dragged slider", {down(18, 40), drag(18, 29), drag(18, 20), up(18, 20)},
         kDraggedSlider, {{1, 0.75f}}, gone, 0.25f},
        {"listener deletes another view", {down(18, 40), drag(18, 29), drag(18, 18), up(18, 18)}, kKnob,
         {{1, 0.75f}, {1, 1}}, 1, gone},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Panel panel;
        const int32_t liveBefore = CView::getLiveCount();
        if (row.deletes != kNothing)
            panel.listener.after = [&panel, &row](CControl*) {
                if (row.deletes == kDraggedSlider) {
                    delete panel.slider;
                    panel.slider = nullptr;
                } else if (panel.knob) {
                    delete panel.knob;
                    panel.knob = nullptr;
                }
            };
        panel.run(row.events);
        ASSERT_EQ(panel.listener.calls.size(), row.calls.size());
        for (size_t i = 0; i < row.calls.size(); ++i) {
            EXPECT_EQ(panel.listener.calls[i].first, row.calls[i].first) << i;
            EXPECT_NEAR(panel.listener.calls[i].second, row.calls[i].second, 1e-6) << i;
        }
        if (std::isnan(row.slider)) EXPECT_EQ(panel.slider, nullptr);
        else EXPECT_NEAR(panel.slider->getValue(), row.slider, 1e-6);
        if (std::isnan(row.knob)) EXPECT_EQ(panel.knob, nullptr);
        else EXPECT_NEAR(panel.knob->getValue(), row.knob, 1e-6);
        EXPECT_EQ(panel.kick->getValue(), 0.0f);
        EXPECT_EQ(CView::getLiveCount(), liveBefore - (row.deletes != kNothing ? 1 : 0));
        EXPECT_EQ(panel.frame.getNbViews(), row.deletes != kNothing ? 4 : 5);
    }
}

namespace {

struct Seen {
    const char* call;
    CPoint where;
    int32_t buttons;
    CPoint location;
};

class RecordingView : public CView {
public:
    explicit RecordingView(const CRect& size) : CView(size) {}
    void mouse(CDrawContext* context, CPoint& where, int32_t buttons) override {
        record("mouse", context, where);
        EXPECT_EQ(buttons, context->getMouseButtons());
    }
    void onMouseMoved(CDrawContext* context, CPoint& where) override { record("moved", context, where); }
    void onMouseUp(CDrawContext* context, CPoint& where) override { record("up", context, where); }
    std::vector<Seen> seen;

private:
    void record(const char* call, CDrawContext* context, const CPoint& where) {
        CPoint location;
        getFrame()->getCurrentLocation(location);
        seen.push_back(Seen{call, where, context->getMouseButtons(), location});
    }
};

class CountingFrame : public CFrame {
public:
    using CFrame::CFrame;
    void update(CDrawContext* context) override {
        ++updates;
        CFrame::update(context);
    }
    int updates = 0;
};

} // namespace

TEST(CFrame, SendsPressMovesAndReleaseToThePressedViewAsOfEachEvent) {
    CountingFrame frame(CRect(0, 0, 64, 64), nullptr, nullptr);
    RecordingView view(CRect(10, 10, 30, 30));
    frame.addView(&view);
    frame.post(CoreGevt::move(CPoint(5, 5), 0)); // before any press: nobody's
    frame.post(CoreGevt::down(CPoint(12, 13), kLButton | kRButton));
    frame.idle();
    frame.post(CoreGevt::move(CPoint(40, 2), kLButton));
    frame.post(CoreGevt::move(CPoint(41, 3), kLButton)); // merges with the move before
    frame.idle();
    frame.post(CoreGevt::move(CPoint(-5, 70), kLButton));
    frame.idle();
    frame.post(CoreGevt::up(CPoint(-6, 71), 0));
    frame.post(CoreGevt::move(CPoint(20, 20), 0)); // after the release: nobody's
    frame.doIdleStuff();                           // does not dispatch
    EXPECT_EQ(view.seen.size(), 3u);
    frame.idle();

    const Seen want[] = {{"mouse", {12, 13}, kLButton | kRButton, {12, 13}},
                         {"moved", {41, 3}, kLButton, {41, 3}},
                         {"moved", {-5, 70}, kLButton, {-5, 70}},
                         {"up", {-6, 71}, 0, {-6, 71}}};
    ASSERT_EQ(view.seen.size(), std::size(want));
    for (size_t i = 0; i < std::size(want); ++i) {
        SCOPED_TRACE(i);
        EXPECT_STREQ(view.seen[i].call, want[i].call);
        EXPECT_EQ(view.seen[i].where, want[i].where);
        EXPECT_EQ(view.seen[i].buttons, want[i].buttons);
        EXPECT_EQ(view.seen[i].location, want[i].location);
    }
    EXPECT_EQ(frame.updates, 5); // four idles and one doIdleStuff
}

TEST(CFrame, RedrawsOnlyWhenSomethingIsDirty) {
    CFrame frame(CRect(0, 0, 40, 30), nullptr, nullptr);
    CBitmap* strip = new CBitmap(102);
    CPoint origin;
    CMovieBitmap led(CRect(5, 5, 17, 17), nullptr, 0, 3, 12, strip, origin);
    frame.addView(&led);
    frame.idle();
    EXPECT_EQ(frame.getRedrawCount(), 1);
    frame.idle();
    frame.doIdleStuff();
    EXPECT_EQ(frame.getRedrawCount(), 1);
    led.setValue(1.0f);
    frame.doIdleStuff();
    EXPECT_EQ(frame.getRedrawCount(), 2);
    EXPECT_EQ(frame.getImage().getPixel(8, 8), (CColor{56, 46, 8, 255})); // the dark image of the strip
    frame.removeView(&led);
    frame.idle();
    EXPECT_EQ(frame.getRedrawCount(), 3);
    EXPECT_EQ(frame.getImage().getPixel(8, 8), (CColor{0, 0, 0, 255})); // black without a background
    strip->forget();
}

TEST(CFrame, GivesKeysOnlyToItsHookInOrder) {
    CFrame frame(CRect(0, 0, 10, 10), nullptr, nullptr);
    std::vector<int32_t> keys;
    auto hook = [](void* user, const CoreGevt& key) { static_cast<std::vector<int32_t>*>(user)->push_back(key.key); };
    frame.post(CoreGevt::keyPress('a', 'a'));
    frame.idle(); // no hook: nowhere
    frame.setKeyHook(hook, &keys);
    for (int32_t key : {int32_t('x'), int32_t(CoreGevt::kKeyReturn), int32_t('y'), int32_t(CoreGevt::kKeyLeft)})
        frame.post(CoreGevt::keyPress(key));
    frame.idle();
    frame.idle();
    frame.setKeyHook(nullptr, &keys);
    frame.post(CoreGevt::keyPress('z', 'z'));
    frame.idle();
    EXPECT_EQ(keys, (std::vector<int32_t>{'x', CoreGevt::kKeyReturn, 'y', CoreGevt::kKeyLeft}));
}

TEST(CFrame, DropsEventsBeyondItsQueueAndMergesMoves) {
    CFrame frame(CRect(0, 0, 10, 10), nullptr, nullptr);
    std::vector<int32_t> keys;
    frame.setKeyHook([](void* user, const CoreGevt& key) { static_cast<std::vector<int32_t>*>(user)->push_back(key.key); },
                     &keys);
    for (int i = 0; i < 300; ++i) {
        frame.post(CoreGevt::move(CPoint(i, i), 0));
        frame.post(CoreGevt::move(CPoint(i, i + 1), 0));
        frame.post(CoreGevt::keyPress(i));
    }
    frame.idle();
    EXPECT_EQ(keys.size(), 128u); // 256 events: a merged move and a key each
    EXPECT_EQ(keys.back(), 127);
}

TEST(CFrame, DeletedWithViewsAttachedDetachesThem) {
    auto frame = std::make_unique<CFrame>(CRect(0, 0, 50, 50), nullptr, nullptr);
    auto* a = new CView(CRect(0, 0, 10, 10));
    auto* b = new CView(CRect(5, 5, 20, 20));
    frame->addView(a);
    frame->addView(b);
    EXPECT_FALSE(frame->addView(a));
    EXPECT_TRUE(frame->removeView(a, true)); // never deletes
    EXPECT_EQ(a->getFrame(), nullptr);
    frame->addView(a);
    EXPECT_FALSE(frame->isEmbedded());
    frame.reset();
    EXPECT_EQ(a->getFrame(), nullptr);
    EXPECT_EQ(b->getFrame(), nullptr);
    delete a;
    delete b;
}

TEST(CFrame, StaysOffscreenOnAHandleThatIsNoWindowId) {
    int window = 0; // an address: wider than any X11 window id
    CFrame frame(CRect(0, 0, 8, 8), &window, nullptr);
    EXPECT_FALSE(frame.isEmbedded());
    EXPECT_EQ(frame.getEmbedError(), "the host's window id is not an X11 window id");
    CFrame offscreen(CRect(0, 0, 8, 8), nullptr, nullptr);
    EXPECT_EQ(offscreen.getEmbedError(), "");
}
