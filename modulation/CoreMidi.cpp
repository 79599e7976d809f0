#include "modulation/CoreMidi.h"

#include "base/CoreButl.h"

#include <climits>

namespace {

constexpr int freshStatus = 176; // control change; the channel bits are not part of a binding
constexpr int freshController = 127;
constexpr int freshChannelPlusOne = 16;

void clearTable(CoreMidi::MIDISLIDERCALLBACKINFO* table) {
    for (int i = 0; i < CoreMidi::iCslots; ++i) {
        table[i].changed = false;
        table[i].value = 0.0f;
    }
}

int clampedByte(int value) {
    return value < 0 ? 0 : (value > 127 ? 127 : value);
}

constexpr std::memory_order relaxed = std::memory_order_relaxed;

} // namespace

CoreMidi::CoreMidi()
    : bActivity(false), iSkippedframes(0), bSkippedflush(false), oQueue(), iQueued(0), pLock(new CoreSmph),
      pSlots(new Slot[iCslots]), pImmediatechanges(new MIDISLIDERCALLBACKINFO[iCslots]),
      pQueuedchanges(new MIDISLIDERCALLBACKINFO[iCslots]) {
    for (int i = 0; i < iCslots; ++i) {
        Slot& slot = pSlots[i];
        slot.learn.store(false, relaxed);
        slot.status.store(freshStatus, relaxed);
        slot.controller.store(freshController, relaxed);
        slot.channelPlusOne.store(freshChannelPlusOne, relaxed);
        slot.lastValue.store(0, relaxed);
    }
    clearTable(pImmediatechanges);
    clearTable(pQueuedchanges);
}

CoreMidi::~CoreMidi() {
    delete pLock;
    delete[] pSlots;
    delete[] pImmediatechanges;
    delete[] pQueuedchanges;
}

void CoreMidi::apply(int channel, int status, int controller, int value, MIDISLIDERCALLBACKINFO* changes) {
    bActivity.store(true);
    for (int i = 0; i < iCslots; ++i) {
        Slot& slot = pSlots[i];
        if (slot.learn.exchange(false, relaxed)) {
            slot.status.store(status, relaxed);
            slot.controller.store(controller, relaxed);
        }
        if (slot.controller.load(relaxed) == controller && slot.status.load(relaxed) == status) {
            slot.channelPlusOne.store(channel + 1, relaxed);
            slot.lastValue.store(value, relaxed);
            changes[i].changed = true;
            changes[i].value = static_cast<float>(value * CoreButl::dCmidifactor);
        }
    }
}

CoreMidi::MIDISLIDERCALLBACKINFO* CoreMidi::mdctr(int delay, int channel, int status, int controller,
                                                  int value) {
    clearTable(pImmediatechanges);
    value = clampedByte(value);
    if (delay > 0) {
        pLock->locks();
        const bool queued = iQueued < iCqueuedim;
        if (queued) oQueue[iQueued++] = Delayed{delay, channel, status, controller, value};
        pLock->relse();
        if (queued) return pImmediatechanges;
    }
    apply(channel, status, controller, value, pImmediatechanges);
    return pImmediatechanges;
}

CoreMidi::MIDISLIDERCALLBACKINFO* CoreMidi::updte(int frames) {
    // Called once per block: the lock's wait sleeps a millisecond per attempt, so a busy queue is
    // left to the next call instead, which then counts these frames as well.
    clearTable(pQueuedchanges);
    if (frames < 0)
        bSkippedflush = true;
    else
        iSkippedframes = frames > INT_MAX - iSkippedframes ? INT_MAX : iSkippedframes + frames;
    if (!pLock->locka()) return pQueuedchanges;
    frames = bSkippedflush ? -1 : iSkippedframes;
    iSkippedframes = 0;
    bSkippedflush = false;
    int kept = 0;
    for (int i = 0; i < iQueued; ++i) {
        Delayed record = oQueue[i];
        if (frames >= 0) record.delay -= frames;
        if (frames < 0 || record.delay < 1)
            apply(record.channel, record.status, record.controller, record.value, pQueuedchanges);
        else
            oQueue[kept++] = record; // the waiting records close up in arrival order
    }
    iQueued = kept;
    pLock->relse();
    return pQueuedchanges;
}

void CoreMidi::setms(int16_t slot, int status, int controller) {
    if (slot < 0 || slot >= iCslots) return;
    Slot& target = pSlots[slot];
    if (controller >= 0) {
        target.learn.store(false, relaxed);
        target.status.store(status, relaxed);
        target.controller.store(controller > 127 ? 127 : controller, relaxed);
    } else {
        target.learn.store(!target.learn.load(relaxed), relaxed);
    }
}

void CoreMidi::getms(int16_t slot, bool& learn, int& status, int& controller, int& channelPlusOne,
                     int& value) const {
    if (slot < 0 || slot >= iCslots) {
        learn = false;
        status = freshStatus;
        controller = freshController;
        channelPlusOne = freshChannelPlusOne;
        value = 0;
        return;
    }
    const Slot& source = pSlots[slot];
    learn = source.learn.load(relaxed);
    status = source.status.load(relaxed);
    controller = source.controller.load(relaxed);
    channelPlusOne = source.channelPlusOne.load(relaxed);
    value = source.lastValue.load(relaxed);
}

bool CoreMidi::actvt() {
    return bActivity.exchange(false);
}

int CoreMidi::getel() {
    pLock->locks();
    const int count = iQueued;
    pLock->relse();
    return count;
}
