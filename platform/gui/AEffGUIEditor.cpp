#include "platform/gui/AEffGUIEditor.h"

#include "platform/AudioEffect.h"

namespace {

constexpr size_t kMaxQueuedKeys = 256;

// Host virtual keys and the layer's codes for them.
struct VirtualKey {
    unsigned char virt;
    int32_t key;
};
constexpr VirtualKey kVirtualKeys[] = {
    {VKEY_BACK, CoreGevt::kKeyBackspace}, {VKEY_TAB, CoreGevt::kKeyTab},
    {VKEY_RETURN, CoreGevt::kKeyReturn},  {VKEY_ENTER, CoreGevt::kKeyReturn},
    {VKEY_ESCAPE, CoreGevt::kKeyEscape},  {VKEY_SPACE, ' '},
    {VKEY_END, CoreGevt::kKeyEnd},        {VKEY_HOME, CoreGevt::kKeyHome},
    {VKEY_LEFT, CoreGevt::kKeyLeft},      {VKEY_UP, CoreGevt::kKeyUp},
    {VKEY_RIGHT, CoreGevt::kKeyRight},    {VKEY_DOWN, CoreGevt::kKeyDown},
    {VKEY_PAGEUP, CoreGevt::kKeyPageUp},  {VKEY_PAGEDOWN, CoreGevt::kKeyPageDown},
    {VKEY_INSERT, CoreGevt::kKeyInsert},  {VKEY_DELETE, CoreGevt::kKeyDelete},
};

} // namespace

AEffGUIEditor::AEffGUIEditor(AudioEffect* effect) : AEffEditor(effect) {
    if (effect) effect->setEditor(this);
}

AEffGUIEditor::~AEffGUIEditor() {
    if (frame) frame->detachEditor();
    if (effect && effect->getEditor() == this) effect->setEditor(nullptr);
}

bool AEffGUIEditor::getRect(ERect** out) {
    if (!out) return false;
    *out = &rect;
    return true;
}

bool AEffGUIEditor::open(void* window) {
    systemWindow = window;
    return true;
}

void AEffGUIEditor::close() { systemWindow = nullptr; }

void AEffGUIEditor::idle() {
    std::vector<CoreGevt> keys;
    {
        std::lock_guard<std::mutex> hold(mKeys);
        keys.swap(vKeys);
    }
    if (!frame) return;
    for (const CoreGevt& key : keys) frame->post(key);
    frame->idle();
}

bool AEffGUIEditor::onKeyDown(VstKeyCode& key) {
    if (!bKeysWanted.load(std::memory_order_acquire)) return false;
    const std::optional<CoreGevt> event = keyEvent(key);
    if (!event) return false;
    std::lock_guard<std::mutex> hold(mKeys);
    if (vKeys.size() < kMaxQueuedKeys) vKeys.push_back(*event);
    return true;
}

bool AEffGUIEditor::onKeyUp(VstKeyCode& key) {
    return bKeysWanted.load(std::memory_order_acquire) && keyEvent(key).has_value();
}

void AEffGUIEditor::setKeyFocus(bool wanted) { bKeysWanted.store(wanted, std::memory_order_release); }

std::optional<CoreGevt> AEffGUIEditor::keyEvent(const VstKeyCode& key) {
    if (key.virt == 0) {
        if (key.character <= 0 || key.character > 255) return std::nullopt;
        return CoreGevt::keyPress(key.character, key.character >= 32 ? key.character : 0, key.modifier);
    }
    if (key.virt >= VKEY_F1 && key.virt <= VKEY_F12) {
        CoreGevt function = CoreGevt::keyPress(CoreGevt::kKeyFunction, 0, key.modifier);
        function.index = key.virt - VKEY_F1 + 1; // which function key
        return function;
    }
    for (const VirtualKey& known : kVirtualKeys)
        if (known.virt == key.virt)
            return CoreGevt::keyPress(known.key, known.key == ' ' ? ' ' : 0, key.modifier);
    // Other keys (the numeric pad among them) carry their character; a modifier alone is no key.
    if (key.character > 0 && key.character <= 255)
        return CoreGevt::keyPress(key.character, key.character >= 32 ? key.character : 0, key.modifier);
    return std::nullopt;
}
