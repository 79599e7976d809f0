// AEffEditor: the base of a VST 2.4 effect's editor, the window the host opens for the effect.
// This base answers every call neutrally (no rectangle, no window, keys not taken); the GUI
// layer's AEffGUIEditor builds a frame on it. Its creator owns and deletes it. The host calls
// open, close, idle and getRect on its GUI thread; onKeyDown and onKeyUp may come from any thread.
#pragma once
#include "platform/VstAbi.h"

#include <string>

class AudioEffect;

class AEffEditor {
public:
    explicit AEffEditor(AudioEffect* effect = nullptr) : effect(effect) {}
    virtual ~AEffEditor() = default;
    AEffEditor(const AEffEditor&) = delete;
    AEffEditor& operator=(const AEffEditor&) = delete;

    // Points *rect at the editor's rectangle (kept by the editor) and answers true; false leaves it.
    virtual bool getRect(ERect** rect) {
        (void)rect;
        return false;
    }
    // window: the host's window for the editor, or null for none.
    virtual bool open(void* window) {
        systemWindow = window;
        return false;
    }
    virtual void close() { systemWindow = nullptr; }
    virtual void idle() {}
    // True when the editor took the key.
    virtual bool onKeyDown(VstKeyCode& key) {
        (void)key;
        return false;
    }
    virtual bool onKeyUp(VstKeyCode& key) {
        (void)key;
        return false;
    }
    // Whether the editor shows in the host's window, and why not when it does not.
    virtual bool isEmbedded() { return false; }
    virtual std::string getEmbedError() { return "the editor is not shown in the host's window"; }

    AudioEffect* getEffect() const { return effect; }

protected:
    AudioEffect* effect;
    void* systemWindow = nullptr;
};
