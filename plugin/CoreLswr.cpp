#include "plugin/CoreLswr.h"

#include "base/CoreTlst.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <new>
#include <utility>
#include <vector>

namespace {

int32_t sleepMilliseconds(double interval) {
    const double ms = std::trunc(interval * 1000.0);
    if (!(ms > 0.0)) return 0; // negative or NaN
    return ms >= 1e9 ? 1000000000 : static_cast<int32_t>(ms);
}

} // namespace

int32_t CoreLswr::lscrt(AudioUnitEventListenerProc callback, void* userData, void*, void*, double interval,
                        double granularity, CoreLswr** listener) {
    if (listener == nullptr || callback == nullptr) return CorePpwr::iCunknown;
    new CoreLswr(callback, userData, interval, granularity, listener);
    return CorePpwr::iCdone;
}

CoreLswr::CoreLswr(AudioUnitEventListenerProc callback, void*, double interval, double, CoreLswr** listener)
    : CoreTthr(true), iSleep(sleepMilliseconds(interval)), pCallback(callback), pRegistrations(new CoreTlst()) {
    if (listener != nullptr) *listener = this;
    Resume();
}

// Unlinking first: once every interface has forgotten this listener nothing more is queued, so the
// queue freed after the thread stopped holds everything that was ever queued and not delivered.
CoreLswr::~CoreLswr() {
    std::vector<CorePpwr*> targets;
    cQueuelock.locks();
    for (int32_t i = 0; i < pRegistrations->Count; ++i) targets.push_back(static_cast<CorePpwr*>((*pRegistrations)[i]));
    pRegistrations->Clear();
    cQueuelock.relse();
    for (CorePpwr* target : targets) target->unlnk(this);
    Terminate();
    WaitFor();
    freeQueued();
    delete pRegistrations;
}

void CoreLswr::lsdsp(CoreLswr* listener) {
    delete listener;
}

int32_t CoreLswr::auaet(CoreLswr* listener, void* object, const AudioUnitEvent* event) {
    return listener == nullptr ? CorePpwr::iCunknown : listener->auaet(object, event);
}

int32_t CoreLswr::auaet(void* object, const AudioUnitEvent* event) {
    if (event == nullptr || event->target == nullptr || event->type > 3) return CorePpwr::iCunknown;
    cQueuelock.locks();
    const bool added = pRegistrations->Add(event->target);
    cQueuelock.relse();
    if (!added) return CorePpwr::iCunknown;
    return event->target->auaet(this, object, *event, event->type < 3);
}

int32_t CoreLswr::aupst(CoreLswr* listener, void* object, const AudioUnitParameter* parameter, float value,
                        uint32_t) {
    return listener == nullptr ? CorePpwr::iCunknown : listener->aupst(object, parameter, value);
}

int32_t CoreLswr::aupst(void* object, const AudioUnitParameter* parameter, float value) {
    if (parameter == nullptr || parameter->target == nullptr) return CorePpwr::iCunknown;
    parameter->target->stpri(static_cast<int32_t>(parameter->id), value, object);
    return CorePpwr::iCdone;
}

void CoreLswr::lsntf(CoreLswr* listener, void* object, const AudioUnitEvent* event, float value) {
    if (listener != nullptr && event != nullptr) listener->queue(object, *event, value);
}

void CoreLswr::lsntf(CoreLswr* listener, void* object, const AudioUnitEvent* event) {
    lsntf(listener, object, event, 0.0f);
}

void CoreLswr::queue(void* object, const AudioUnitEvent& event, float value) {
    auto notice = std::make_unique<NOTICE>(NOTICE{object, event, value});
    cQueuelock.locks();
    try {
        oQueue.push_back(std::move(notice));
    } catch (const std::bad_alloc&) {
        // memory short: this notice is dropped, the queue stays as it was
    }
    cQueuelock.relse();
}

// The whole queue is taken out under one take of the lock: taking one notice at a time would cost
// a lock and a move of the rest per notice, and a queue fed without pause would never drain.
CoreLswr::NOTICE* CoreLswr::next() {
    if (iBatchnext >= oBatch.size()) {
        oBatch.clear();
        iBatchnext = 0;
        cQueuelock.locks();
        oQueue.swap(oBatch);
        cQueuelock.relse();
        if (oBatch.empty()) return nullptr;
    }
    return oBatch[iBatchnext++].get();
}

void CoreLswr::freeQueued() {
    oBatch.clear();
    iBatchnext = 0;
    cQueuelock.locks();
    oQueue.clear();
    cQueuelock.relse();
}

void CoreLswr::Terminate() {
    {
        std::lock_guard<std::mutex> lock(oWaitlock);
        CoreTthr::Terminate();
    }
    oWake.notify_all();
}

void CoreLswr::Execute() {
    // A sleep of 0 ms would poll an empty queue without pause and keep a core busy.
    const auto wait = std::chrono::milliseconds(std::max(iSleep, 1));
    while (!Terminated()) {
        if (const NOTICE* notice = next()) {
            pCallback(notice->object, nullptr, &notice->event, 0, notice->value);
            continue;
        }
        iEmptypolls.fetch_add(1, std::memory_order_relaxed);
        std::unique_lock<std::mutex> lock(oWaitlock);
        oWake.wait_for(lock, wait, [this] { return Terminated(); });
    }
}
