// CoreMidi: messages reaching every slot bound to their controller (value bytes clamped), binding
// and learning, delayed messages applied when due (from a preallocated queue: the event thread never
// allocates, and a message that finds it full applies at once), and posting and applying on two threads.
#include "modulation/CoreMidi.h"

#include "tests/common/CountingAllocator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

struct SlotState { bool learn; int status, controller, channelPlusOne, value; };

SlotState slotOf(const CoreMidi& midi, int16_t slot) {
    SlotState s{};
    midi.getms(slot, s.learn, s.status, s.controller, s.channelPlusOne, s.value);
    return s;
}

TEST(CoreMidi, MessagesSetEverySlotBoundToTheirControllerWithTheValueByteClamped) {
    CoreMidi midi;
    const SlotState fresh = slotOf(midi, 0); // controller 127 on any channel
    EXPECT_TRUE(!fresh.learn && fresh.status == 176 && fresh.controller == 127 && fresh.channelPlusOne == 16);
    for (int16_t slot = 1; slot < 8; ++slot) midi.setms(slot, 176, slot == 1 || slot == 5 ? 20 : slot);
    struct Row { int channel, status, controller, value; std::vector<int> changed; float expected; };
    const Row rows[] = {
        {4, 176, 127, 127, {0}, 1.0f},
        {0, 177, 127, 64, {}, 0.0f},
        {0, 176, 20, 100, {1, 5}, 100.0f / 127.0f}, // several slots on one controller all change
        {0, 176, 127, 255, {0}, 1.0f},
        {0, 176, 127, -4, {0}, 0.0f}, // bytes clamped to 0..127
    };
    for (const Row& r : rows) {
        CoreMidi::MIDISLIDERCALLBACKINFO* changes = midi.mdctr(0, r.channel, r.status, r.controller, r.value);
        for (int i = 0; i < 8; ++i) {
            const bool expected = std::find(r.changed.begin(), r.changed.end(), i) != r.changed.end();
            EXPECT_EQ(changes[i].changed, expected) << r.controller << " " << r.value << " slot " << i;
            EXPECT_TRUE(!expected || changes[i].value == r.expected) << changes[i].value;
        }
    }
    EXPECT_EQ(slotOf(midi, 0).channelPlusOne, 1);
    EXPECT_EQ(slotOf(midi, 0).value, 0);
}

TEST(CoreMidi, BindingAndLearning) {
    CoreMidi midi;
    midi.setms(0, 176, 200);
    EXPECT_EQ(slotOf(midi, 0).controller, 127);
    midi.setms(0, 176, -1);
    EXPECT_TRUE(slotOf(midi, 0).learn);
    midi.setms(0, 176, -1); // a second toggle ends learning
    EXPECT_FALSE(slotOf(midi, 0).learn);

    midi.setms(2, 0, -1); // a learning slot takes the next message and reports it in the same call
    CoreMidi::MIDISLIDERCALLBACKINFO* changes = midi.mdctr(0, 2, 177, 11, 64);
    EXPECT_TRUE(changes[2].changed);
    EXPECT_FLOAT_EQ(changes[2].value, 64.0f / 127.0f);
    const SlotState learnt = slotOf(midi, 2);
    EXPECT_TRUE(!learnt.learn && learnt.status == 177 && learnt.controller == 11 &&
                learnt.channelPlusOne == 3);

    midi.setms(8, 144, 5); // slots outside 0..7: ignored, and read as a fresh slot
    midi.setms(-1, 144, -1);
    const SlotState outside = slotOf(midi, 9);
    EXPECT_TRUE(!outside.learn && outside.status == 176 && outside.controller == 127 &&
                outside.channelPlusOne == 16);
}

TEST(CoreMidi, DelayedMessagesApplyWhenTheirOffsetHasPassed) {
    CoreMidi midi;
    CoreMidi::MIDISLIDERCALLBACKINFO* changes = midi.mdctr(64, 0, 176, 127, 90);
    EXPECT_FALSE(changes[0].changed);
    EXPECT_EQ(midi.getel(), 1);
    EXPECT_FALSE(midi.actvt());
    changes = midi.updte(32);
    EXPECT_FALSE(changes[0].changed);
    changes = midi.updte(32);
    EXPECT_TRUE(changes[0].changed);
    EXPECT_FLOAT_EQ(changes[0].value, 90.0f / 127.0f);
    EXPECT_EQ(midi.getel(), 0);
    EXPECT_TRUE(midi.actvt());
    EXPECT_FALSE(midi.actvt());

    // Several due messages on one slot: the last one stands. updte(-1) applies everything.
    midi.mdctr(10, 0, 176, 127, 1);
    midi.mdctr(5000, 0, 176, 127, 2);
    midi.mdctr(20, 0, 176, 127, 3);
    changes = midi.updte(30);
    EXPECT_FLOAT_EQ(changes[0].value, 3.0f / 127.0f);
    EXPECT_EQ(midi.getel(), 1);
    changes = midi.updte(-1);
    EXPECT_FLOAT_EQ(changes[0].value, 2.0f / 127.0f);
    EXPECT_EQ(midi.getel(), 0);
    changes = midi.updte(-1);
    EXPECT_FALSE(changes[0].changed);

    // A queued message left at destruction is freed with the queue (checked under ASan).
    midi.mdctr(100, 0, 176, 127, 4);
}

TEST(CoreMidi, PostingAndApplyingOnTwoThreadsLosesAndDuplicatesNothing) {
    CoreMidi midi;
    for (int16_t slot = 0; slot < 8; ++slot) midi.setms(slot, 176, slot);
    constexpr int rounds = 300;
    std::atomic<int> consumedRounds{0};
    std::atomic<bool> posterDone{false};
    std::thread poster([&] {
        for (int round = 0; round < rounds; ++round) {
            for (int slot = 0; slot < 8; ++slot) midi.mdctr(1 + slot, slot, 176, slot, round % 128);
            while (consumedRounds.load() <= round) std::this_thread::yield();
        }
        posterDone = true;
    });
    int seen[8] = {};
    int wrongValues = 0;
    int extra = 0;
    while (!posterDone.load()) {
        CoreMidi::MIDISLIDERCALLBACKINFO* changes = midi.updte(1);
        const int round = consumedRounds.load();
        for (int slot = 0; slot < 8; ++slot) {
            if (!changes[slot].changed) continue;
            if (seen[slot] > round) ++extra;
            ++seen[slot];
            if (changes[slot].value != static_cast<float>((round % 128) / 127.0)) ++wrongValues;
        }
        bool complete = true;
        for (int slot = 0; slot < 8; ++slot) complete = complete && seen[slot] == round + 1;
        if (complete) consumedRounds = round + 1;
    }
    poster.join();
    for (int slot = 0; slot < 8; ++slot) EXPECT_EQ(seen[slot], rounds) << slot;
    EXPECT_EQ(wrongValues, 0);
    EXPECT_EQ(extra, 0);
    EXPECT_EQ(midi.getel(), 0);
}

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
