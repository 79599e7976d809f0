// CoreDspc: the display's input queue. The editor's event threads post 20-byte messages (pointer
// clicks, keys, second-area clicks, wheel turns, program buttons); the renderer on the control
// thread takes them out by type, oldest first. Every call takes the queue's own lock for its whole
// run, and records are copied in and out, so any thread may call any member.
#pragma once
#include "base/CoreSmph.h"

#include <array>
#include <cstdint>

class CoreDspc {
public:
    // The record the editor posts through the plug-in object; its layout crosses that boundary.
    struct MESSAGELOC {
        int16_t type; // 0 pointer, 1 key, 2 second-area click, 3 wheel, 4 program button
        int16_t padding;
        int32_t a; // column, key code in the low byte, wheel distance or program value
        int32_t b; // row
        int32_t c; // pointer x
        int32_t d; // pointer y
    };

    static constexpr int iCtypes = 5;
    // Nothing takes messages while the boot, error or batch page shows, and the error page stays;
    // the bound keeps a queue nobody drains from growing without end.
    static constexpr int iCcapacity = 256;

    CoreDspc();
    CoreDspc(const CoreDspc&) = delete;
    CoreDspc& operator=(const CoreDspc&) = delete;

    // Queues a copy. A type outside 0 .. 4 is not queued (nothing reads it); a full type drops its
    // oldest record. The values are not checked: readers check what they use.
    void addms(const MESSAGELOC* m);
    // Takes the oldest record of the type into out; false, out untouched, when there is none.
    bool getms(short type, MESSAGELOC* out);
    void clrms(short type); // drops every record of the type

    // The display key code of a key message: its low byte as an unsigned code, the rest ignored.
    static int keyCode(const MESSAGELOC& m) { return static_cast<int>(static_cast<uint32_t>(m.a) & 0xFFu); }

private:
    struct Ring {
        std::array<MESSAGELOC, iCcapacity> records;
        int oldest = 0;
        int count = 0;
    };

    CoreSmph oLock;
    std::array<Ring, iCtypes> aRings;
};
