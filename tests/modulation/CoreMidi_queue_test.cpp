// The delayed-message queue of the MIDI controller slots: preallocated, so the event thread never
// allocates, and a message that finds it full applies at once.
#include "modulation/CoreMidi.h"

#include "tests/common/CountingAllocator.h"

#include <gtest/gtest.h>

TEST(CoreMidi, DelayedMessagesNeverAllocateAndAFullQueueAppliesAtOnce) {
    CoreMidi midi;
    const long before = heapAllocations.load();
    int appliedAtOnce = 0;
    for (int n = 0; n < 1000; ++n) {
        // Slot 0 is bound to status 176, controller 127; the value names the message.
        if (midi.mdctr(1000 + n, 0, 176, 127, n % 100)[0].changed) ++appliedAtOnce;
    }
    const CoreMidi::MIDISLIDERCALLBACKINFO* due = midi.updte(-1);
    EXPECT_EQ(heapAllocations.load(), before);
    EXPECT_EQ(appliedAtOnce, 1000 - CoreMidi::iCqueuedim);
    // The queue keeps arrival order: the last queued message stands.
    EXPECT_FLOAT_EQ(due[0].value, static_cast<float>((CoreMidi::iCqueuedim - 1) % 100) / 127.0f);
    EXPECT_EQ(midi.getel(), 0);
}
