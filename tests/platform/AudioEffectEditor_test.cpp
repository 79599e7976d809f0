// Tests of the editor opcodes as a host sends them: each routed to the effect's editor with its
// arguments checked, an open that is not shown undone, and the effect's editor lock shared with
// setEditor, so that clearing the editor waits for a running call and a nested idle is skipped.
#include "platform/AEffEditor.h"
#include "platform/AudioEffect.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

std::atomic<AEffect*> nestedTarget{nullptr};
std::atomic<VstIntPtr> nestedAnswer{-1};

// A host that, on automation, sends an idle back to the effect from inside its callback.
VstIntPtr idlingHost(AEffect* effect, VstInt32 opcode, VstInt32, VstIntPtr, void*, float) {
    if (opcode == audioMasterAutomate && nestedTarget.load())
        nestedAnswer = effect->dispatcher(effect, effEditIdle, 0, 0, nullptr, 0.0f);
    return 0;
}

class Effect : public AudioEffect {
public:
    Effect() : AudioEffect(&idlingHost, 1, 1) {}
    std::vector<std::string> failures;
    void entryFailed(const char* entry, const char* reason) override {
        failures.push_back(std::string(entry) + ": " + reason);
    }
    VstIntPtr send(int32_t opcode, int32_t index = 0, VstIntPtr value = 0, void* ptr = nullptr, float opt = 0.0f) {
        return getAeffect()->dispatcher(getAeffect(), opcode, index, value, ptr, opt);
    }
};

// Records every call; open answers `opens`, is embedded when `embeds`; `throws` makes every call throw.
class RecordingEditor : public AEffEditor {
public:
    explicit RecordingEditor(AudioEffect* effect) : AEffEditor(effect) { effect->setEditor(this); }
    std::vector<std::string> calls;
    bool opens = true, embeds = true, throws = false, keyAnswer = true;
    ERect area{0, 0, 200, 60};
    std::function<void()> onIdle;

    bool getRect(ERect** rect) override { return record("getRect"), *rect = &area, true; }
    bool open(void* window) override {
        record(window ? "open window" : "open offscreen");
        return opens;
    }
    void close() override { record("close"); }
    void idle() override {
        record("idle");
        if (onIdle) onIdle();
    }
    bool onKeyDown(VstKeyCode& key) override { return recordKey("down", key), keyAnswer; }
    bool onKeyUp(VstKeyCode& key) override { return recordKey("up", key), keyAnswer; }
    bool isEmbedded() override { return embeds; }
    std::string getEmbedError() override { return "no such window"; }

private:
    void record(const std::string& call) {
        calls.push_back(call);
        if (throws) throw std::runtime_error("editor failed");
    }
    void recordKey(const char* kind, const VstKeyCode& key) {
        record(std::string(kind) + " " + std::to_string(key.character) + "/" + std::to_string(key.virt) + "/" +
               std::to_string(key.modifier));
    }
};

} // namespace

TEST(AudioEffectEditor, RoutesEachEditorOpcodeWithItsArgumentsChecked) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    ERect* rect = nullptr;
    enum Pointer { kNull, kRect, kWindow };
    enum Setup { kPlain, kNotEmbedded, kOpenRefused, kThrowing, kNoEditor, kKeyRefused };
    struct Row {
        const char* name;
        int32_t opcode, index;
        VstIntPtr value;
        Pointer ptr;
        float opt;
        Setup setup;
        VstIntPtr answer;
        std::vector<std::string> calls;
        const char* failure;
    };
    const Row rows[] = {
        {"rect, null ptr", effEditGetRect, 0, 0, kNull, 0, kPlain, 0, {}, nullptr},
        {"rect", effEditGetRect, 0, 0, kRect, 0, kPlain, 1, {"getRect"}, nullptr},
        {"open offscreen", effEditOpen, 0, 0, kNull, 0, kPlain, 1, {"open offscreen"}, nullptr},
        {"open embedded", effEditOpen, 0, 0, kWindow, 0, kPlain, 1, {"open window"}, nullptr},
        {"open not embedded", effEditOpen, 0, 0, kWindow, 0, kNotEmbedded, 0, {"open window", "close"},
         "effEditOpen: no such window"},
        {"open offscreen, not embedded", effEditOpen, 0, 0, kNull, 0, kNotEmbedded, 1, {"open offscreen"}, nullptr},
        {"open refused", effEditOpen, 0, 0, kWindow, 0, kOpenRefused, 0, {"open window"}, nullptr},
        {"close", effEditClose, 0, 0, kNull, 0, kPlain, 1, {"close"}, nullptr},
        {"idle", effEditIdle, 0, 0, kNull, 0, kPlain, 1, {"idle"}, nullptr},
        {"key down", effEditKeyDown, 'a', 0, kNull, 1, kPlain, 1, {"down 97/0/1"}, nullptr},
        {"key up, virtual key", effEditKeyUp, 0, VKEY_F1, kNull, 8, kPlain, 1, {"up 0/40/8"}, nullptr},
        {"key refused", effEditKeyDown, 'a', 0, kNull, 0, kKeyRefused, 0, {"down 97/0/0"}, nullptr},
        {"virtual key above 255", effEditKeyDown, 0, 256, kNull, 0, kPlain, 1, {"down 0/0/0"}, nullptr},
        {"virtual key negative", effEditKeyDown, 0, -1, kNull, 0, kPlain, 1, {"down 0/0/0"}, nullptr},
        {"modifier NaN", effEditKeyDown, 0, 4, kNull, nan, kPlain, 1, {"down 0/4/0"}, nullptr},
        {"modifier above 255", effEditKeyDown, 0, 4, kNull, 300.0f, kPlain, 1, {"down 0/4/0"}, nullptr},
        {"modifier negative", effEditKeyDown, 0, 4, kNull, -1.0f, kPlain, 1, {"down 0/4/0"}, nullptr},
        {"throwing idle", effEditIdle, 0, 0, kNull, 0, kThrowing, 0, {"idle"}, "dispatcher opcode 19: editor failed"},
        {"throwing rect", effEditGetRect, 0, 0, kRect, 0, kThrowing, 0, {"getRect"},
         "dispatcher opcode 13: editor failed"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        Effect effect;
        RecordingEditor editor(&effect);
        editor.embeds = r.setup != kNotEmbedded;
        editor.opens = r.setup != kOpenRefused;
        editor.throws = r.setup == kThrowing;
        editor.keyAnswer = r.setup != kKeyRefused;
        void* ptr = r.ptr == kRect ? static_cast<void*>(&rect) : r.ptr == kWindow ? reinterpret_cast<void*>(0x400001) : nullptr;
        EXPECT_EQ(effect.send(r.opcode, r.index, r.value, ptr, r.opt), r.answer);
        EXPECT_EQ(editor.calls, r.calls);
        if (r.opcode == effEditGetRect && r.answer == 1) {
            EXPECT_EQ(rect, &editor.area);
        }
        EXPECT_EQ(effect.failures, r.failure ? std::vector<std::string>{r.failure} : std::vector<std::string>{});
        // Without an editor every editor opcode answers 0, and the has-editor flag is cleared.
        effect.setEditor(nullptr);
        EXPECT_EQ(effect.getAeffect()->flags & effFlagsHasEditor, 0);
        EXPECT_EQ(effect.send(r.opcode, r.index, r.value, ptr, r.opt), 0);
        EXPECT_EQ(editor.calls.size(), r.calls.size());
    }
}

TEST(AudioEffectEditor, ClearingTheEditorWaitsForARunningIdle) {
    Effect effect;
    RecordingEditor editor(&effect);
    std::mutex lock;
    std::condition_variable changed;
    bool entered = false, release = false;
    std::vector<std::string> order;
    editor.onIdle = [&] {
        std::unique_lock<std::mutex> hold(lock);
        entered = true;
        changed.notify_all();
        changed.wait(hold, [&] { return release; });
        order.push_back("idle returns");
    };
    std::thread host([&] { EXPECT_EQ(effect.send(effEditIdle), 1); });
    {
        std::unique_lock<std::mutex> hold(lock);
        changed.wait(hold, [&] { return entered; });
    }
    // Another thread's idle is skipped while one runs.
    EXPECT_EQ(effect.send(effEditIdle), 0);
    std::atomic<bool> cleared{false};
    std::thread closing([&] {
        effect.setEditor(nullptr);
        std::lock_guard<std::mutex> hold(lock);
        order.push_back("cleared");
        cleared = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(cleared.load());
    {
        std::lock_guard<std::mutex> hold(lock);
        release = true;
        changed.notify_all();
    }
    host.join();
    closing.join();
    EXPECT_EQ(order, (std::vector<std::string>{"idle returns", "cleared"}));
    EXPECT_EQ(effect.send(effEditIdle), 0);
    EXPECT_EQ(editor.calls, (std::vector<std::string>{"idle"}));
}

TEST(AudioEffectEditor, AnIdleSentFromInsideAHostCallbackOfIdleIsSkipped) {
    Effect effect;
    RecordingEditor editor(&effect);
    editor.onIdle = [&] {
        if (editor.calls.size() == 1) effect.setParameterAutomated(0, 0.25f);
    };
    nestedTarget = effect.getAeffect();
    EXPECT_EQ(effect.send(effEditIdle), 1);
    nestedTarget = nullptr;
    EXPECT_EQ(nestedAnswer.load(), 0);
    EXPECT_EQ(editor.calls, (std::vector<std::string>{"idle"}));
    // Once it returned, the next idle runs.
    EXPECT_EQ(effect.send(effEditIdle), 1);
    EXPECT_EQ(editor.calls.size(), 2u);
}
