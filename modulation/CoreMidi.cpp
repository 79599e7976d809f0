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

} // namespace

CoreMidi::CoreMidi()
    : bActivity(false), iSkippedframes(0), bSkippedflush(false), pQueue(new CoreTlst), pLock(new CoreSmph),
      pSlots(new Slot[iCslots]), pImmediatechanges(new MIDISLIDERCALLBACKINFO[iCslots]),
      pQueuedchanges(new MIDISLIDERCALLBACKINFO[iCslots]) {
    for (int i = 0; i < iCslots; ++i)
        pSlots[i] = Slot{false, freshStatus, freshController, freshChannelPlusOne, 0};
    clearTable(pImmediatechanges);
    clearTable(pQueuedchanges);
}

CoreMidi::~CoreMidi() {
    delete pLock;
    delete[] pSlots;
    delete[] pImmediatechanges;
    delete[] pQueuedchanges;
    for (int i = 0; i < pQueue->Count; ++i) delete static_cast<Delayed*>((*pQueue)[i]);
    delete pQueue;
}

void CoreMidi::apply(int channel, int status, int controller, int value, MIDISLIDERCALLBACKINFO* changes) {
    bActivity.store(true);
    for (int i = 0; i < iCslots; ++i) {
        Slot& slot = pSlots[i];
        if (slot.learn) {
            slot.learn = false;
            slot.status = status;
            slot.controller = controller;
        }
        if (slot.controller == controller && slot.status == status) {
            slot.channelPlusOne = channel + 1;
            slot.lastValue = value;
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
        Delayed* record = new Delayed{delay, channel, status, controller, value};
        pLock->locks();
        const bool added = pQueue->Add(record);
        pLock->relse();
        if (!added) delete record;
        return pImmediatechanges;
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
    const int count = pQueue->Count;
    int index = 0;
    for (int visited = 0; visited < count; ++visited) {
        Delayed* record = static_cast<Delayed*>((*pQueue)[index]);
        if (frames >= 0) record->delay -= frames;
        if (frames < 0 || record->delay < 1) {
            apply(record->channel, record->status, record->controller, record->value, pQueuedchanges);
            delete record;
            pQueue->Delete(index); // the next record moves into this place
        } else {
            ++index;
        }
    }
    pLock->relse();
    return pQueuedchanges;
}

void CoreMidi::setms(int16_t slot, int status, int controller) {
    if (slot < 0 || slot >= iCslots) return;
    Slot& target = pSlots[slot];
    if (controller >= 0) {
        target.learn = false;
        target.status = status;
        target.controller = controller > 127 ? 127 : controller;
    } else {
        target.learn = !target.learn;
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
    learn = source.learn;
    status = source.status;
    controller = source.controller;
    channelPlusOne = source.channelPlusOne;
    value = source.lastValue;
}

bool CoreMidi::actvt() {
    return bActivity.exchange(false);
}

int CoreMidi::getel() {
    pLock->locks();
    const int count = pQueue->Count;
    pLock->relse();
    return count;
}
