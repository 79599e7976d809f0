// CoreGevt: one input event of the GUI layer, as a window (or a test) posts it to a frame: a
// pointer press, move or release in frame coordinates with the buttons held after it, a wheel
// turn, a key, or a menu choice. A plain value.
#pragma once
#include "platform/gui/CPoint.h"

#include <cstdint>

class COptionMenu;

// Pointer buttons.
enum : int32_t { kLButton = 1, kMButton = 2, kRButton = 4 };

enum CMouseWheelAxis : int32_t { kMouseWheelAxisX = 0, kMouseWheelAxisY = 1 };

struct CoreGevt {
    enum Kind : int32_t { kDown, kMove, kUp, kWheel, kKey, kChoice };
    // Layer codes of keys without a printable character; the others carry their Latin-1 code.
    enum Key : int32_t {
        kKeyHome = 1, kKeyEnd = 4, kKeyInsert = 5, kKeyBackspace = 8, kKeyTab = 9, kKeyPageUp = 11,
        kKeyPageDown = 12, kKeyReturn = 13, kKeyFunction = 16, kKeyEscape = 27, kKeyLeft = 28,
        kKeyRight = 29, kKeyUp = 30, kKeyDown = 31, kKeyDelete = 127
    };

    Kind kind = kMove;
    CPoint where;            // pointer and wheel events
    int32_t buttons = 0;     // pointer events: the buttons held once the event happened
    int32_t axis = kMouseWheelAxisY;
    float distance = 0.0f;   // wheel steps, positive up
    int32_t key = 0;         // key events: the layer code
    int32_t character = 0;   // the printable character, 0 for none
    int32_t modifiers = 0;
    COptionMenu* menu = nullptr; // choice events: the menu holding the entry and its index
    int32_t index = -1;          // also the number of a function key (1 for F1)

    static CoreGevt down(CPoint where, int32_t buttons) { return pointer(kDown, where, buttons); }
    static CoreGevt move(CPoint where, int32_t buttons) { return pointer(kMove, where, buttons); }
    static CoreGevt up(CPoint where, int32_t buttons = 0) { return pointer(kUp, where, buttons); }
    static CoreGevt wheel(CPoint where, float distance, int32_t axis = kMouseWheelAxisY) {
        CoreGevt e = pointer(kWheel, where, 0);
        e.distance = distance;
        e.axis = axis;
        return e;
    }
    static CoreGevt keyPress(int32_t key, int32_t character = 0, int32_t modifiers = 0) {
        CoreGevt e;
        e.kind = kKey, e.key = key, e.character = character, e.modifiers = modifiers;
        return e;
    }
    static CoreGevt choice(COptionMenu* menu, int32_t index) {
        CoreGevt e;
        e.kind = kChoice, e.menu = menu, e.index = index;
        return e;
    }

private:
    static CoreGevt pointer(Kind kind, CPoint where, int32_t buttons) {
        CoreGevt e;
        e.kind = kind, e.where = where, e.buttons = buttons;
        return e;
    }
};
