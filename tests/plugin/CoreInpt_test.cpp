#include "plugin/CoreInpt.h"

#include "platform/gui/CoreGevt.h"
#include "plugin/CoreEdit.h"
#include "tests/common/XvfbHarness.h"
#include "tests/plugin/RecordingProperties.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>

namespace {

// An offscreen editor of the built-in layout on recording properties; focus() sends it the text
// entry focus notice as the listener would.
struct Editor {
    explicit Editor(void* window = nullptr) : edit(nullptr, nullptr, nullptr, &props) { EXPECT_TRUE(edit.open(window)); }
    ~Editor() { edit.close(); }
    void focus(bool on) {
        props.put(CorePpwr::iCtextfocus, uint8_t(on ? 1 : 0));
        const AudioUnitEvent event{3, &props, uint32_t(CorePpwr::iCtextfocus), 0, 0};
        edit.evlst(nullptr, &event, 0.0f);
    }
    // What the host's key-down opcode answers; the key reaches the hook at the next idle.
    bool key(VstKeyCode code) {
        const bool taken = edit.onKeyDown(code);
        edit.idle();
        return taken;
    }
    std::vector<int32_t> keys() {
        std::vector<int32_t> codes;
        for (const auto& m : props.messages())
            if (m.type == 1) codes.push_back(CoreDspc::keyCode(m));
        return codes;
    }
    RecordingProperties props;
    CoreEdit edit;
};

VstKeyCode virtualKey(unsigned char virt) { return VstKeyCode{0, virt, 0}; }
VstKeyCode character(int32_t c) { return VstKeyCode{c, 0, 0}; }

} // namespace

TEST(CoreInpt, SendsTheDisplayCodeOfEachKeyWhileFocused) {
    struct Row {
        const char* name;
        VstKeyCode key;
        std::optional<int32_t> code;
    };
    const Row rows[] = {
        {"Return", virtualKey(VKEY_RETURN), 13},   {"Backspace", virtualKey(VKEY_BACK), 8},
        {"Home", virtualKey(VKEY_HOME), 36},       {"Delete", virtualKey(VKEY_DELETE), 46},
        {"End", virtualKey(VKEY_END), 35},         {"F1", virtualKey(VKEY_F1), 45},
        {"Left", virtualKey(VKEY_LEFT), 37},       {"Right", virtualKey(VKEY_RIGHT), 39},
        {"Page Up", virtualKey(VKEY_PAGEUP), 11},  {"Up", virtualKey(VKEY_UP), 30},
        {"Insert", virtualKey(VKEY_INSERT), 5},    {"Escape", virtualKey(VKEY_ESCAPE), 27},
        {"F5", virtualKey(VKEY_F1 + 4), 16},       {"a", character('a'), 97},
        {"section sign", character(167), 167},     {"Shift alone", virtualKey(VKEY_SHIFT), std::nullopt},
    };
    Editor e;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        e.props.clear();
        e.focus(false);
        EXPECT_FALSE(e.key(r.key));
        EXPECT_TRUE(e.keys().empty());
        e.focus(true);
        EXPECT_EQ(e.key(r.key), r.code.has_value());
        const std::vector<int32_t> expected = r.code ? std::vector<int32_t>{*r.code} : std::vector<int32_t>{};
        EXPECT_EQ(e.keys(), expected);
    }
}

TEST(CoreInpt, SendsTheDisplayCodeOfEachXKey) {
    XvfbHarness x;
    if (!x.ready()) GTEST_SKIP() << x.reason();
    struct Row {
        const char* name;
        uint32_t keysym;
        std::optional<int32_t> code;
    };
    const Row rows[] = {
        {"Return", 0xff0d, 13}, {"BackSpace", 0xff08, 8}, {"Home", 0xff50, 36},   {"Delete", 0xffff, 46},
        {"End", 0xff57, 35},    {"F1", 0xffbe, 45},       {"Left", 0xff51, 37},   {"Right", 0xff53, 39},
        {"Prior", 0xff55, 11},  {"Up", 0xff52, 30},       {"Insert", 0xff63, 5},  {"Escape", 0xff1b, 27},
        {"F5", 0xffc2, 16},     {"a", 'a', 97},           {"section", 0xa7, 167}, {"Shift alone", 0xffe1, std::nullopt},
    };
    Editor e(XvfbHarness::handle(x.parent()));
    ASSERT_TRUE(e.edit.isEmbedded()) << e.edit.getEmbedError();
    e.focus(true);
    const auto idleUntil = [&](const std::function<bool()>& done) {
        return XvfbHarness::waitFor([&] {
            e.edit.idle();
            return done();
        }, std::chrono::milliseconds(20000));
    };
    const std::vector<uint32_t> children = x.children(x.parent());
    ASSERT_EQ(children.size(), 1u);
    ASSERT_TRUE(idleUntil([&] { return x.focus() == children[0]; }));
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        e.props.clear();
        x.key(r.keysym);
        x.key('z'); // a marker: every key before it has arrived once it has
        ASSERT_TRUE(idleUntil([&] { return !e.keys().empty() && e.keys().back() == 'z'; }));
        std::vector<int32_t> codes = e.keys();
        codes.pop_back();
        EXPECT_EQ(codes, r.code ? std::vector<int32_t>{*r.code} : std::vector<int32_t>{});
    }
}

TEST(CoreInpt, EachEditorSendsKeysToItsOwnEffect) {
    Editor first, second;
    first.focus(true);
    second.focus(true);
    EXPECT_TRUE(first.key(character('x')));
    second.focus(false);
    EXPECT_TRUE(first.key(character('y')));
    EXPECT_FALSE(second.key(character('z')));
    EXPECT_EQ(first.keys(), (std::vector<int32_t>{'x', 'y'}));
    EXPECT_TRUE(second.keys().empty());
}

TEST(CoreInpt, HookingOrUnhookingTwiceActsOnce) {
    Editor e;
    e.focus(true);
    e.focus(true);
    e.focus(false);
    EXPECT_FALSE(e.key(character('a')));
    e.focus(false);
    e.focus(true);
    EXPECT_TRUE(e.key(character('b')));
    EXPECT_EQ(e.keys(), std::vector<int32_t>{'b'});
    e.edit.close(); // the hook goes with the window
    EXPECT_FALSE(e.key(character('c')));
}
