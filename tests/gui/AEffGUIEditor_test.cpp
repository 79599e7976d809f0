#include "platform/gui/AEffGUIEditor.h"

#include "platform/AudioEffect.h"
#include "platform/gui/CBitmap.h"
#include "platform/gui/CMovieBitmap.h"
#include "platform/gui/COptionMenu.h"
#include "tests/gui/GuiGolden.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

namespace {

class TestEffect : public AudioEffect {
public:
    TestEffect() : AudioEffect(nullptr, 1, 1) {}
};

// An editor whose frame is made in open and deleted in close, as the plug-in's editor does.
class TestEditor : public AEffGUIEditor {
public:
    explicit TestEditor(AudioEffect* effect) : AEffGUIEditor(effect) {}
    ~TestEditor() override { close(); }
    bool open(void* window) override {
        AEffGUIEditor::open(window);
        frame = new CFrame(CRect(0, 0, 64, 32), window, this);
        return true;
    }
    void close() override {
        delete frame;
        frame = nullptr;
        AEffGUIEditor::close();
    }
};

void recordKey(void* user, const CoreGevt& key) { static_cast<std::vector<int32_t>*>(user)->push_back(key.key); }

bool hasEditorFlag(TestEffect& effect) { return (effect.getAeffect()->flags & effFlagsHasEditor) != 0; }

} // namespace

TEST(AEffGUIEditor, SetsAndClearsTheEffectsEditor) {
    TestEffect effect;
    {
        TestEditor editor(&effect);
        EXPECT_EQ(effect.getEditor(), &editor);
        EXPECT_TRUE(hasEditorFlag(effect));
        ERect* rect = nullptr;
        EXPECT_TRUE(editor.getRect(&rect));
        EXPECT_NE(rect, nullptr);
        effect.setEditor(nullptr);
        EXPECT_FALSE(hasEditorFlag(effect));
        effect.setEditor(&editor);
    }
    EXPECT_EQ(effect.getEditor(), nullptr);
    EXPECT_FALSE(hasEditorFlag(effect));
    TestEditor first(&effect);
    {
        TestEditor second(&effect); // replaces the first; its end leaves the effect without one
    }
    EXPECT_EQ(effect.getEditor(), nullptr);
}

TEST(AEffGUIEditor, TranslatesHostKeysAndQueuesThemOnlyWhileTheFrameWantsKeys) {
    struct Row {
        int32_t character;
        unsigned char virt;
        int32_t key; // -1: no key
    };
    const Row rows[] = {
        {0, VKEY_BACK, 8},       {0, VKEY_TAB, 9},        {0, VKEY_RETURN, 13},   {0, VKEY_ENTER, 13},
        {0, VKEY_ESCAPE, 27},    {0, VKEY_SPACE, 32},     {0, VKEY_END, 4},       {0, VKEY_HOME, 1},
        {0, VKEY_LEFT, 28},      {0, VKEY_UP, 30},        {0, VKEY_RIGHT, 29},    {0, VKEY_DOWN, 31},
        {0, VKEY_PAGEUP, 11},    {0, VKEY_PAGEDOWN, 12},  {0, VKEY_INSERT, 5},    {0, VKEY_DELETE, 127},
        {0, VKEY_F1, 16},        {0, VKEY_F12, 16},       {'a', 0, 'a'},          {0xE9, 0, 0xE9},
        {'7', 24, '7'},          {0, VKEY_SHIFT, -1},     {0, 0, -1},             {300, 0, -1},
    };
    TestEffect effect;
    TestEditor editor(&effect);
    editor.open(nullptr);
    std::vector<int32_t> keys;
    VstKeyCode probe{'q', 0, 0};
    EXPECT_FALSE(editor.onKeyDown(probe)); // no hook: not taken, nothing queued
    editor.getFrame()->setKeyHook(recordKey, &keys);
    std::vector<int32_t> want;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.key);
        VstKeyCode code{row.character, row.virt, 0};
        EXPECT_EQ(editor.onKeyDown(code), row.key >= 0);
        if (row.key >= 0) want.push_back(row.key);
    }
    editor.idle();
    EXPECT_EQ(keys, want);
    editor.getFrame()->setKeyHook(nullptr, nullptr);
    EXPECT_FALSE(editor.onKeyDown(probe));

    COptionMenu menu(CRect(), nullptr, 1); // an open popup takes keys too
    menu.addEntry("A");
    editor.getFrame()->addView(&menu);
    CPoint at;
    menu.mouse(&editor.getFrame()->getImage(), at, kLButton);
    VstKeyCode escape{0, VKEY_ESCAPE, 0};
    EXPECT_TRUE(editor.onKeyDown(escape));
    editor.idle();
    EXPECT_EQ(editor.getFrame()->getOpenMenu(), nullptr);
    EXPECT_FALSE(editor.onKeyDown(escape));
    editor.getFrame()->removeView(&menu);
}

TEST(AEffGUIEditor, KeysFromAnotherThreadReachTheFrameInOrder) {
    TestEffect effect;
    TestEditor editor(&effect);
    editor.open(nullptr);
    std::vector<int32_t> keys;
    editor.getFrame()->setKeyHook(recordKey, &keys);
    std::thread sender([&] {
        for (int32_t c = 'a'; c <= 'z'; ++c) {
            VstKeyCode code{c, 0, 0};
            EXPECT_TRUE(editor.onKeyDown(code));
        }
    });
    sender.join();
    EXPECT_TRUE(keys.empty());
    editor.idle();
    ASSERT_EQ(keys.size(), 26u);
    for (int32_t i = 0; i < 26; ++i) EXPECT_EQ(keys[size_t(i)], 'a' + i);
}

// Idle loops under the editor's lock while one thread changes values, views and popups under it
// and another posts events and keys.
TEST(AEffGUIEditor, IdleUnderTheLockWhileOtherThreadsChangeAndPost) {
    TestEffect effect;
    TestEditor editor(&effect);
    std::mutex editorLock;
    guitest::RecordingListener listener;
    CBitmap* strip = new CBitmap(102);
    CPoint origin;
    CMovieBitmap led(CRect(0, 0, 12, 12), &listener, 1, 3, 12, strip, origin);
    COptionMenu menu(CRect(20, 0, 20, 0), &listener, 2);
    {
        std::lock_guard<std::mutex> hold(editorLock);
        editor.open(nullptr);
        editor.getFrame()->addView(&led);
        editor.getFrame()->addView(&menu);
        editor.getFrame()->setKeyHook([](void*, const CoreGevt&) {}, nullptr);
    }
    std::atomic<bool> stop{false};
    std::thread changer([&] {
        for (int i = 0; !stop.load(); ++i) {
            std::lock_guard<std::mutex> hold(editorLock);
            led.setValue(float(i % 3) / 2.0f);
            if (i % 7 == 0) editor.getFrame()->removeView(&led);
            else if (i % 7 == 3) editor.getFrame()->addView(&led);
            if (i % 5 == 0) menu.addEntry("Entry");
            if (i % 50 == 0) menu.removeAllEntry();
            if (i % 11 == 0) {
                CPoint at;
                menu.mouse(&editor.getFrame()->getImage(), at, kLButton);
            }
        }
    });
    std::thread poster([&] {
        for (int i = 0; !stop.load(); ++i) {
            CFrame* frame;
            {
                std::lock_guard<std::mutex> hold(editorLock);
                frame = editor.getFrame();
            }
            frame->post(CoreGevt::move(CPoint(i % 64, i % 32), 0));
            frame->post(CoreGevt::choice(&menu, i % 4));
            VstKeyCode code{'a' + i % 26, 0, 0};
            editor.onKeyDown(code);
            editor.onKeyUp(code);
        }
    });
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < end) {
        std::lock_guard<std::mutex> hold(editorLock);
        editor.idle();
    }
    stop = true;
    changer.join();
    poster.join();
    std::lock_guard<std::mutex> hold(editorLock);
    editor.close();
    strip->forget();
    EXPECT_GT(CView::getLiveCount(), 0);
}
