// CoreMidi: eight MIDI controller slots, each bound to a status byte and a controller number (or
// learning them from the next message); matching messages set the slot's value byte / 127, delayed
// ones wait in a preallocated queue until their sample offset has passed. Owned by the processor.
// mdctr (the host's event thread), updte (the block processor) and setms (the display) may run on
// different threads: the queue has its own lock and every slot field is a relaxed atomic.
#pragma once
#include "base/CoreSmph.h"

#include <atomic>
#include <cstdint>

class CoreMidi {
public:
    static constexpr int iCslots = 8;
    // Delayed messages held at once; one arriving while the queue is full applies at once, so the
    // event thread (the audio thread in most hosts) never allocates.
    static constexpr int iCqueuedim = 256;

    // One slot's result of a call: changed when a message matched it; value = data byte 2 / 127.
    struct MIDISLIDERCALLBACKINFO {
        bool changed;
        float value;
    };

    CoreMidi();
    ~CoreMidi();
    CoreMidi(const CoreMidi&) = delete;
    CoreMidi& operator=(const CoreMidi&) = delete;

    // One message; value bytes are clamped to 0..127. With delay > 0 (samples) the message is queued
    // and the returned table is all unchanged; otherwise, or when the queue is full, it applies at
    // once. The table stays valid until the next mdctr.
    MIDISLIDERCALLBACKINFO* mdctr(int delay, int channel, int status, int controller, int value);
    // Counts the queued messages down by frames and applies those that are due (all of them for
    // frames < 0). Never waits: while mdctr holds the queue lock the call changes nothing and its
    // frames (or its "all") count at the next call. The table stays valid until the next updte.
    MIDISLIDERCALLBACKINFO* updte(int frames);
    // controller >= 0 binds the slot (controller clamped to 127) and ends learning; a negative
    // controller toggles learning. Slots outside 0..7 are ignored.
    void setms(int16_t slot, int status, int controller);
    // Reads a slot; a slot outside 0..7 reads as a fresh slot.
    void getms(int16_t slot, bool& learn, int& status, int& controller, int& channelPlusOne,
               int& value) const;
    bool actvt(); // a message was applied since the last call
    int getel();  // queued messages

private:
    struct Slot {
        std::atomic<bool> learn;
        std::atomic<int> status;
        std::atomic<int> controller;
        std::atomic<int> channelPlusOne;
        std::atomic<int> lastValue;
    };
    struct Delayed {
        int delay; // samples still to wait
        int channel;
        int status;
        int controller;
        int value;
    };

    void apply(int channel, int status, int controller, int value, MIDISLIDERCALLBACKINFO* changes);

    std::atomic<bool> bActivity;
    int iSkippedframes;         // frames of updte calls that found the queue lock busy
    bool bSkippedflush;         // one of those calls asked for every message
    Delayed oQueue[iCqueuedim]; // in arrival order
    int iQueued;
    CoreSmph* pLock; // guards the queue; only updte touches its table
    Slot* pSlots;
    // Separate tables for mdctr and updte: a message posted from the host's event thread must not
    // clear the result that the block processor is still reading.
    MIDISLIDERCALLBACKINFO* pImmediatechanges;
    MIDISLIDERCALLBACKINFO* pQueuedchanges;
};
