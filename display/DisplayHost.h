// DisplayHost: what the display needs of the plug-in object and its skin: the property calls through
// which it reaches the editor (pointer record in, keyboard flag and popup arm record out, change
// notices) and the skin's font sets and add-area width. The plug-in implements it; the display holds a
// pointer that may be null (no properties, default add width, no font sets). Called on the renderer's
// thread under the display lock; an implementation takes no lock that is held while calling the display.
#pragma once
#include "base/CoreAnsx.h"

#include <cstdint>

class DisplayHost {
public:
    // Property ids the display uses.
    static constexpr int32_t iCpointer = 100101;  // gtprp: POINTER
    static constexpr int32_t iCkeyboard = 100105; // stprp: one byte, 1 while a text field wants keys
    static constexpr int32_t iCpopuparm = 100106; // stprp: CoreCnst::POPMENUARM

    // The editor's last pointer report, in editor pixels.
    struct POINTER {
        int32_t x;
        int32_t y;
        bool down;
    };
    static_assert(sizeof(POINTER) == 12, "the pointer record crosses the plug-in boundary");

    virtual ~DisplayHost() = default;
    // Results: 0 done; anything else leaves data as it was.
    virtual int32_t gtprp(int32_t id, int32_t scope, int32_t element, void* data) = 0;
    virtual int32_t stprp(int32_t id, int32_t scope, int32_t element, const void* data, uint32_t size) = 0;
    virtual void prchg(int32_t id, int32_t scope, int32_t element) = 0;
    virtual int16_t fontSetCount() const = 0;
    virtual CoreAnsx fontSetName(int16_t set) const = 0; // "0" outside 0 .. count - 1
    virtual int32_t addChars() const = 0;                // DISPLAYADDCHARS; below 1: none given

    // The pointer record of a host that may be null; an unanswered call counts as the button up at
    // the position last known (x, y unchanged).
    static POINTER pointer(DisplayHost* host, int32_t lastX, int32_t lastY) {
        POINTER p{lastX, lastY, false};
        if (!host) return p;
        POINTER asked{lastX, lastY, false};
        if (host->gtprp(iCpointer, 0, 0, &asked) == 0) p = asked;
        return p;
    }
};
