// AEffGUIEditor: the editor base of the GUI layer. Registers itself with its effect (which then
// reports an editor to the host), keeps the editor rectangle, the host's window and the frame its
// subclass creates in open and deletes in close. Keys may arrive from any thread: while the frame
// wants them (a key hook or an open popup) they are queued and handed to the frame at the next
// idle; open, close and idle run under the subclass's editor lock, which also guards the frame.
#pragma once
#include "platform/AEffEditor.h"
#include "platform/gui/CFrame.h"
#include "platform/gui/CoreGevt.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

class AEffGUIEditor : public AEffEditor {
public:
    explicit AEffGUIEditor(AudioEffect* effect);
    // Clears the effect's editor when it is still this one.
    ~AEffGUIEditor() override;

    bool getRect(ERect** rect) override;
    bool open(void* window) override;
    void close() override;
    // Hands the queued keys to the frame, then runs its idle.
    void idle() override;
    // True, with the key queued, only while the frame wants keys.
    bool onKeyDown(VstKeyCode& key) override;
    bool onKeyUp(VstKeyCode& key) override;
    bool isEmbedded() override { return frame && frame->isEmbedded(); }
    std::string getEmbedError() override { return frame ? frame->getEmbedError() : "the editor has no frame"; }

    CFrame* getFrame() const { return frame; }
    // Called by the frame (under the editor lock) when it starts or stops wanting keys.
    void setKeyFocus(bool wanted);
    // The layer's key for a host key; none for a modifier alone or an unknown key without a character.
    static std::optional<CoreGevt> keyEvent(const VstKeyCode& key);

protected:
    ERect rect{};
    CFrame* frame = nullptr;

private:
    std::atomic<bool> bKeysWanted{false};
    std::mutex mKeys;
    std::vector<CoreGevt> vKeys;
};
