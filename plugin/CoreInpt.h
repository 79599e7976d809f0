// CoreInpt: the editor's key map: turns a key of the GUI layer into the display's key code and
// sends it to the effect as a key message (property 100100, type 1). Runs on the thread that
// dispatches the frame's input, under the editor lock.
#pragma once
#include <cstdint>
#include <optional>

struct CoreGevt;

class CoreInpt {
public:
    // The display's code of a key: the editing keys' own codes, the layer's codes of the other keys
    // without a character, else the Latin-1 character; none for a key without either.
    static std::optional<int32_t> dspky(const CoreGevt& key);
    // The frame's key hook; effect is the hook's CorePpwr (null sends nothing).
    static void keytr(void* effect, const CoreGevt& key);
};
