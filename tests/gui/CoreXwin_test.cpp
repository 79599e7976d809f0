// Tests of the GUI layer's X11 window under a server of the test's own: a frame embedded in the
// harness's parent window shows its image exactly, takes device input through XTEST as the
// offscreen tests post it, takes the key focus only while it wants keys, shows its popup as
// override-redirect windows holding the grabs, and goes on offscreen after every failure.
#include "platform/gui/CFrame.h"

#include "platform/gui/CBitmap.h"
#include "platform/gui/COptionMenu.h"
#include "platform/gui/CVerticalSlider.h"
#include "tests/common/XvfbHarness.h"
#include "tests/gui/GuiGolden.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using guitest::RecordingListener;

namespace {

#define SKIP_WITHOUT_X(harness)                                                                                        \
    if (!(harness).ready()) GTEST_SKIP() << (harness).reason()

// Records what the frame dispatched to it, and the keys of the key hook.
class RecordingView : public CView {
public:
    explicit RecordingView(const CRect& size, std::vector<std::string>& log) : CView(size), log(log) {}
    void draw(CDrawContext* context) override { context->fillRect(getViewSize(), CColor{30, 90, 160, 255}); }
    void mouse(CDrawContext*, CPoint& where, int32_t buttons) override { add("down", where, buttons); }
    void onMouseMoved(CDrawContext* context, CPoint& where) override {
        add("move", where, context->getMouseButtons());
    }
    void onMouseUp(CDrawContext* context, CPoint& where) override { add("up", where, context->getMouseButtons()); }
    bool onWheel(CDrawContext*, const CPoint&, CMouseWheelAxis axis, float distance) override {
        log.push_back(std::string("wheel ") + (axis == kMouseWheelAxisX ? "x " : "y ") + std::to_string(int(distance)));
        return true;
    }
    static void key(void* user, const CoreGevt& key) {
        static_cast<std::vector<std::string>*>(user)->push_back("key " + std::to_string(key.key) + " " +
                                                                 std::to_string(key.character));
    }

private:
    void add(const char* kind, const CPoint& where, int32_t buttons) {
        log.push_back(std::string(kind) + " " + std::to_string(where.x) + "," + std::to_string(where.y) + " " +
                      std::to_string(buttons));
    }
    std::vector<std::string>& log;
};

// A 200 × 150 frame: a slider (tag 1, handle rows 10 to 54) on the left, a recording view on the
// right, and a menu anchor (tag 5) at (150, 100) holding "Alpha", a submenu "More" and "Omega".
struct Panel {
    std::vector<std::string> log;
    RecordingListener listener;
    std::unique_ptr<CFrame> frame;
    CBitmap* handle = new CBitmap(103);
    CPoint origin;
    CVerticalSlider slider{CRect(10, 10, 27, 90), &listener, 1, 10, 54, handle, nullptr, origin};
    RecordingView view{CRect(40, 0, 200, 100), log};
    COptionMenu menu{CRect(150, 100, 190, 120), &listener, 5, nullptr, nullptr, 1152};
    COptionMenu more{CRect(0, 0, 0, 0), nullptr, 6, nullptr, nullptr, 128};

    explicit Panel(void* window) : frame(std::make_unique<CFrame>(CRect(0, 0, 200, 150), window, nullptr)) {
        for (const char* text : {"One", "Two", "Three"}) more.addEntry(text);
        menu.addEntry("Alpha");
        menu.addEntry(&more, "More");
        menu.addEntry("Omega");
        slider.setValue(0.5f);
        for (CView* v : {static_cast<CView*>(&slider), static_cast<CView*>(&view), static_cast<CView*>(&menu)})
            frame->addView(v);
    }
    ~Panel() {
        frame.reset();
        handle->forget();
    }
    // Idles until condition holds (at most 5 s).
    bool idleUntil(const std::function<bool()>& condition) {
        return XvfbHarness::waitFor([&] {
            frame->idle();
            return condition();
        });
    }
};

std::vector<uint32_t> rgbOf(const CDrawContext& image) {
    std::vector<uint32_t> pixels;
    for (int32_t y = 0; y < image.getHeight(); ++y)
        for (int32_t x = 0; x < image.getWidth(); ++x) {
            const CColor c = image.getPixel(x, y);
            pixels.push_back(uint32_t(c.red) << 16 | uint32_t(c.green) << 8 | c.blue);
        }
    return pixels;
}

bool shows(XvfbHarness& x, uint32_t window, const CDrawContext& image) {
    return XvfbHarness::waitFor([&] { return x.capture(window).pixels == rgbOf(image); }, std::chrono::milliseconds(2000));
}

uint32_t childOf(XvfbHarness& x) {
    const std::vector<uint32_t> children = x.children(x.parent());
    return children.empty() ? 0 : children.front();
}

} // namespace

TEST(CoreXwin, EmbedsAndShowsTheFrameImageExactly) {
    XvfbHarness x;
    SKIP_WITHOUT_X(x);
    Panel panel(XvfbHarness::handle(x.parent()));
    ASSERT_TRUE(panel.frame->isEmbedded()) << panel.frame->getEmbedError();
    const uint32_t child = childOf(x);
    ASSERT_NE(child, 0u);
    const XvfbHarness::Place at = x.place(child);
    EXPECT_TRUE(at.x == XvfbHarness::kParentX && at.y == XvfbHarness::kParentY && at.width == 200 && at.height == 150);

    panel.frame->idle();
    EXPECT_TRUE(shows(x, child, panel.frame->getImage())) << "after the first idle";
    const std::vector<uint32_t> before = x.capture(child).pixels;
    panel.slider.setValue(1.0f);
    panel.frame->idle();
    EXPECT_TRUE(shows(x, child, panel.frame->getImage())) << "after setValue";
    EXPECT_NE(x.capture(child).pixels, before);

    const int32_t redraws = panel.frame->getRedrawCount();
    x.unmapParent();
    x.mapParent();
    EXPECT_TRUE(panel.idleUntil([&] { return x.capture(child).pixels == rgbOf(panel.frame->getImage()); }))
        << "after the parent was mapped again";
    EXPECT_EQ(panel.frame->getRedrawCount(), redraws);
}

TEST(CoreXwin, TranslatesDeviceInputIntoTheFrameEvents) {
    XvfbHarness x;
    SKIP_WITHOUT_X(x);
    struct Row {
        const char* name;
        std::function<void(XvfbHarness&)> input;
        std::vector<std::string> dispatched;
    };
    const Row rows[] = {
        {"drag leaving the window", [](XvfbHarness& h) { h.drag(100, 50, 700, 60); },
         {"down 100,50 1", "move 700,60 1", "up 700,60 0"}},
        {"button 2", [](XvfbHarness& h) { h.click(120, 60, 2); }, {"down 120,60 2", "up 120,60 0"}},
        {"button 3", [](XvfbHarness& h) { h.click(121, 61, 3); }, {"down 121,61 4", "up 121,61 0"}},
        {"wheel up", [](XvfbHarness& h) { h.wheel(90, 30, 4); }, {"wheel y 1"}},
        {"wheel down", [](XvfbHarness& h) { h.wheel(90, 30, 5); }, {"wheel y -1"}},
        {"wheel left", [](XvfbHarness& h) { h.wheel(90, 30, 6); }, {"wheel x -1"}},
        {"wheel right", [](XvfbHarness& h) { h.wheel(90, 30, 7); }, {"wheel x 1"}},
    };
    Panel panel(XvfbHarness::handle(x.parent()));
    ASSERT_TRUE(panel.frame->isEmbedded()) << panel.frame->getEmbedError();
    panel.frame->idle();
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        panel.log.clear();
        r.input(x);
        EXPECT_TRUE(panel.idleUntil([&] { return panel.log.size() >= r.dispatched.size(); }));
        EXPECT_EQ(panel.log, r.dispatched);
    }

    // A slider drag gives the listener what the same events posted offscreen give.
    x.drag(18, 40, 18, 70);
    EXPECT_TRUE(panel.idleUntil([&] { return !panel.frame->getImage().getMouseButtons() && !panel.listener.calls.empty(); }));
    panel.frame->idle();
    Panel offscreen(nullptr);
    offscreen.frame->idle();
    offscreen.frame->post(CoreGevt::down(CPoint(18, 40), kLButton));
    offscreen.frame->post(CoreGevt::move(CPoint(18, 70), kLButton));
    offscreen.frame->post(CoreGevt::up(CPoint(18, 70)));
    offscreen.frame->idle();
    EXPECT_EQ(panel.listener.calls, offscreen.listener.calls);
}

TEST(CoreXwin, TranslatesKeysOnlyForAKeyHook) {
    XvfbHarness x;
    SKIP_WITHOUT_X(x);
    struct Row {
        const char* name;
        uint32_t keysym;
        bool shift;
        std::vector<std::string> dispatched;
    };
    const Row rows[] = {
        {"a", 'a', false, {"key 97 97"}},
        {"Shift+a", 'a', true, {"key 65 65"}},
        {"section sign, mapped meanwhile", 0xa7, false, {"key 167 167"}},
        {"Return", 0xff0d, false, {"key 13 0"}},
        {"keypad Enter", 0xff8d, false, {"key 13 0"}},
        {"BackSpace", 0xff08, false, {"key 8 0"}},
        {"Delete", 0xffff, false, {"key 127 0"}},
        {"Home", 0xff50, false, {"key 1 0"}},
        {"End", 0xff57, false, {"key 4 0"}},
        {"Page Up", 0xff55, false, {"key 11 0"}},
        {"F1", 0xffbe, false, {"key 16 0"}},
        {"F5", 0xffc2, false, {"key 16 0"}},
        {"Left", 0xff51, false, {"key 28 0"}},
        {"keypad 7", 0xffb7, false, {"key 55 55"}},
        {"Shift alone", 0xffe1, false, {}},
    };
    Panel panel(XvfbHarness::handle(x.parent()));
    ASSERT_TRUE(panel.frame->isEmbedded()) << panel.frame->getEmbedError();
    const uint32_t child = childOf(x);
    panel.frame->setKeyHook(&RecordingView::key, &panel.log);
    EXPECT_TRUE(panel.idleUntil([&] { return x.focus() == child; }));
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        panel.log.clear();
        x.key(r.keysym, r.shift);
        x.key('z'); // a marker: every key before it has arrived once it has
        EXPECT_TRUE(panel.idleUntil([&] { return !panel.log.empty() && panel.log.back() == "key 122 122"; }));
        panel.log.pop_back();
        EXPECT_EQ(panel.log, r.dispatched);
    }
    // Without a hook nothing reaches the frame, and the parent has the focus again.
    panel.frame->setKeyHook(nullptr, nullptr);
    EXPECT_TRUE(panel.idleUntil([&] { return x.focus() == x.parent(); }));
    panel.log.clear();
    x.key('a');
    x.sync();
    for (int i = 0; i < 20; ++i) panel.frame->idle();
    EXPECT_TRUE(panel.log.empty());
}

TEST(CoreXwin, TakesTheKeyFocusOnlyWhileAKeyHookIsSet) {
    XvfbHarness x;
    SKIP_WITHOUT_X(x);
    Panel panel(XvfbHarness::handle(x.parent()));
    ASSERT_TRUE(panel.frame->isEmbedded());
    const uint32_t child = childOf(x);
    for (int i = 0; i < 5; ++i) panel.frame->idle();
    x.sync();
    EXPECT_NE(x.focus(), child) << "without a hook";
    panel.frame->setKeyHook(&RecordingView::key, &panel.log);
    EXPECT_TRUE(panel.idleUntil([&] { return x.focus() == child; })) << "hook set";
    panel.frame->setKeyHook(nullptr, nullptr);
    EXPECT_TRUE(panel.idleUntil([&] { return x.focus() == x.parent(); })) << "hook cleared";
}

TEST(CoreXwin, ShowsPopupLevelsAsGrabbingOverrideRedirectWindows) {
    XvfbHarness x;
    SKIP_WITHOUT_X(x);
    enum Close { kChoose, kClickOutside, kEscape, kDeleteFrame, kDeleteFromThread };
    struct Row {
        const char* name;
        Close close;
        bool submenu;
        std::vector<std::pair<int32_t, float>> calls;
    };
    const Row rows[] = {
        {"entry chosen", kChoose, false, {{5, 2.0f}}},
        {"submenu entry chosen", kChoose, true, {{6, 1.0f}}}, // the holder reported
        {"click elsewhere on the screen", kClickOutside, false, {}},
        {"Escape", kEscape, true, {}},
        {"frame deleted", kDeleteFrame, true, {}},
        {"frame deleted from another thread", kDeleteFromThread, false, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Panel panel(XvfbHarness::handle(x.parent()));
        ASSERT_TRUE(panel.frame->isEmbedded());
        panel.frame->idle();
        x.click(160, 110);
        ASSERT_TRUE(panel.idleUntil([&] { return x.popups().size() == 1; }));
        const uint32_t first = x.popups().front();
        const XvfbHarness::Place at = x.place(first);
        const CRect& level = panel.frame->getPopupLevelRect(0);
        EXPECT_TRUE(at.x == XvfbHarness::kParentX + 150 && at.y == XvfbHarness::kParentY + 100) << at.x << "," << at.y;
        EXPECT_TRUE(at.width == level.width() && at.height == level.height());
        EXPECT_TRUE(shows(x, first, panel.frame->getPopupLevelImage(0)));
        EXPECT_FALSE(x.pointerGrabbable());

        auto entryOnParent = [&](int32_t levelIndex, int32_t entry) {
            const CRect& rect = panel.frame->getPopupLevelRect(levelIndex);
            return CPoint(rect.left + 20, rect.top + 1 + entry * CFrame::iCmenurow + 7);
        };
        int32_t chooseLevel = 0, chooseEntry = 2;
        if (r.submenu) {
            const CPoint more = entryOnParent(0, 1);
            x.move(more.x, more.y);
            ASSERT_TRUE(panel.idleUntil([&] { return x.popups().size() == 2; }));
            const XvfbHarness::Place second = x.place(x.popups().back());
            const CRect& rect = panel.frame->getPopupLevelRect(1);
            EXPECT_TRUE(second.x == XvfbHarness::kParentX + rect.left && second.x >= at.x + at.width - 2);
            EXPECT_TRUE(shows(x, x.popups().back(), panel.frame->getPopupLevelImage(1)));
            chooseLevel = 1, chooseEntry = 1;
        }
        std::mutex editorLock;
        switch (r.close) {
        case kChoose: {
            const CPoint entry = entryOnParent(chooseLevel, chooseEntry);
            x.click(entry.x, entry.y);
            break;
        }
        case kClickOutside:
            x.clickOnScreen(1200, 1000);
            break;
        case kEscape:
            x.key(0xff1b);
            break;
        case kDeleteFrame:
            panel.frame.reset();
            break;
        case kDeleteFromThread:
            std::thread([&] {
                std::lock_guard<std::mutex> hold(editorLock);
                panel.frame.reset();
            }).join();
            break;
        }
        if (panel.frame) {
            EXPECT_TRUE(panel.idleUntil([&] { return panel.frame->getOpenMenu() == nullptr; }));
        }
        x.sync();
        EXPECT_TRUE(XvfbHarness::waitFor([&] { return x.popups().empty(); }));
        EXPECT_EQ(panel.listener.calls, r.calls);
        EXPECT_TRUE(x.pointerGrabbable());
    }
}

TEST(CoreXwin, KeepsPopupLevelsOnTheScreen) {
    XvfbHarness x;
    SKIP_WITHOUT_X(x);
    struct Row {
        const char* name;
        CPoint parentAt; // on the screen
        CRect anchor;    // on the parent, whose frame fills it
        int32_t entries, perColumn;
    };
    const Row rows[] = {
        {"near the screen's right edge", CPoint(700, 80), CRect(560, 100, 570, 110), 3, -1},
        {"near the screen's bottom edge", CPoint(100, 600), CRect(100, 410, 110, 420), 12, -1},
        {"near the bottom right corner", CPoint(1000, 900), CRect(265, 110, 280, 125), 5, -1},
        {"100 entries, 24 per column", CPoint(100, 80), CRect(300, 200, 330, 220), 100, 24},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        x.moveParent(r.parentAt.x, r.parentAt.y);
        RecordingListener listener;
        COptionMenu menu(r.anchor, &listener, 1, nullptr, nullptr, 0);
        menu.setNbItemsPerColumn(r.perColumn);
        for (int32_t i = 0; i < r.entries; ++i) menu.addEntry(("Program number " + std::to_string(i)).c_str());
        CFrame frame(CRect(0, 0, XvfbHarness::kParentWidth, XvfbHarness::kParentHeight), XvfbHarness::handle(x.parent()),
                     nullptr);
        frame.addView(&menu);
        frame.idle();
        x.click(r.anchor.left + 5, r.anchor.top + 5);
        ASSERT_TRUE(XvfbHarness::waitFor([&] {
            frame.idle();
            return x.popups().size() == 1;
        }));
        const XvfbHarness::Place at = x.place(x.popups().front());
        EXPECT_TRUE(at.x >= 0 && at.y >= 0 && at.x + at.width <= XvfbHarness::kScreenWidth &&
                    at.y + at.height <= XvfbHarness::kScreenHeight)
            << at.x << "," << at.y << " " << at.width << "x" << at.height;
        EXPECT_TRUE(shows(x, x.popups().front(), frame.getPopupLevelImage(0)));
        x.key(0xff1b);
        EXPECT_TRUE(XvfbHarness::waitFor([&] {
            frame.idle();
            return x.popups().empty();
        }));
    }
}

TEST(CoreXwin, StaysOffscreenWithAReasonAfterEveryFailure) {
    enum Failure { kNoDisplay, kNoSuchWindow, kPixmap, kInputOnly, kParentDestroyed, kServerKilled };
    struct Row {
        const char* name;
        Failure failure;
        const char* reason; // a part of the embed error
    };
    const Row rows[] = {
        {"DISPLAY unset", kNoDisplay, "DISPLAY"},
        {"no such window", kNoSuchWindow, "no window"},
        {"a pixmap id", kPixmap, "no window"},
        {"an InputOnly window", kInputOnly, "InputOnly"},
        {"parent destroyed while open", kParentDestroyed, "destroyed"},
        {"server killed while open", kServerKilled, "lost"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        XvfbHarness x;
        SKIP_WITHOUT_X(x);
        uint32_t parent = x.parent();
        if (r.failure == kNoDisplay) unsetenv("DISPLAY");
        if (r.failure == kNoSuchWindow) parent = 0x7FFFFFFF;
        if (r.failure == kPixmap) parent = x.makePixmap();
        if (r.failure == kInputOnly) parent = x.makeWindow(XCB_WINDOW_CLASS_INPUT_ONLY);
        auto panel = std::make_unique<Panel>(XvfbHarness::handle(parent));
        if (r.failure == kParentDestroyed || r.failure == kServerKilled) {
            ASSERT_TRUE(panel->frame->isEmbedded());
            panel->frame->idle();
            x.click(160, 110); // a popup open meanwhile
            ASSERT_TRUE(panel->idleUntil([&] { return x.popups().size() == 1; }));
            if (r.failure == kParentDestroyed) x.destroyWindow(x.parent());
            else x.killServer();
            EXPECT_TRUE(panel->idleUntil([&] { return !panel->frame->isEmbedded(); }));
            for (int i = 0; i < 3; ++i) panel->frame->idle();
            if (r.failure == kParentDestroyed) {
                EXPECT_TRUE(XvfbHarness::waitFor([&] { return x.popups().empty(); }));
                EXPECT_TRUE(x.pointerGrabbable());
            }
        }
        EXPECT_FALSE(panel->frame->isEmbedded());
        EXPECT_NE(panel->frame->getEmbedError().find(r.reason), std::string::npos) << panel->frame->getEmbedError();
        panel->slider.setValue(0.25f);
        panel->frame->idle(); // offscreen work goes on
        panel.reset();
        if (r.failure == kServerKilled) continue;
        // A later frame on a good parent embeds.
        if (r.failure == kNoDisplay) setenv("DISPLAY", x.display().c_str(), 1);
        const uint32_t good = r.failure == kParentDestroyed ? x.makeWindow(XCB_WINDOW_CLASS_INPUT_OUTPUT) : x.parent();
        CFrame later(CRect(0, 0, 50, 50), XvfbHarness::handle(good), nullptr);
        EXPECT_TRUE(later.isEmbedded()) << later.getEmbedError();
    }
}
