// CoreLswr: a listener thread. Whoever announces a property or parameter change queues a notice here
// (lsntf, called under the property interface's list lock) and never waits; the thread hands the
// notices, in queue order, to the callback with no lock held. The editor creates one with lscrt,
// registers its events with auaet and disposes of it with lsdsp, never from its own callback.
#pragma once
#include "base/CoreSmph.h"
#include "base/CoreTthr.h"
#include "plugin/CorePpwr.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

class CoreTlst;

class CoreLswr : public CoreTthr {
public:
    // Creates and starts a listener; *listener is set before its thread runs. User data, run loop,
    // mode and granularity are not used. 11 (nothing created) when listener or callback is null.
    static int32_t lscrt(AudioUnitEventListenerProc callback, void* userData, void* runLoop, void* runLoopMode,
                         double interval, double granularity, CoreLswr** listener);
    // interval in seconds; the sleep between empty polls keeps trunc(interval × 1000) ms (negative
    // or NaN: 0) and is never shorter than 1 ms.
    CoreLswr(AudioUnitEventListenerProc callback, void* userData, double interval, double granularity,
             CoreLswr** listener);
    // Unlinks from every interface it registered with, stops the thread, frees what is queued.
    ~CoreLswr() override;

    // Registers the event (types 0 to 3, a target) with its target; 11 registers nothing.
    static int32_t auaet(CoreLswr* listener, void* object, const AudioUnitEvent* event);
    int32_t auaet(void* object, const AudioUnitEvent* event);
    // Sets a parameter through its interface's stpri; the offset is not used. 11 for a null
    // parameter or target.
    static int32_t aupst(CoreLswr* listener, void* object, const AudioUnitParameter* parameter, float value,
                         uint32_t offset);
    int32_t aupst(void* object, const AudioUnitParameter* parameter, float value);
    // Queues a notice {object, copy of event, value}.
    static void lsntf(CoreLswr* listener, void* object, const AudioUnitEvent* event, float value);
    static void lsntf(CoreLswr* listener, void* object, const AudioUnitEvent* event);
    static void lsdsp(CoreLswr* listener);

    void Execute() override;
    void Terminate() override; // also ends the wait between polls at once

    int32_t getsl() const { return iSleep; }                                  // ms
    int64_t getep() const { return iEmptypolls.load(std::memory_order_relaxed); } // waits so far

private:
    struct NOTICE {
        void* object;
        AudioUnitEvent event;
        float value;
    };

    int32_t iSleep;
    AudioUnitEventListenerProc pCallback;
    // First in, first out. A vector, not a CoreTlst: a queue fed without pause grows to many
    // thousands of notices, and a list that grows by four entries at a time would copy it each time.
    std::vector<std::unique_ptr<NOTICE>> oQueue;
    std::vector<std::unique_ptr<NOTICE>> oBatch; // taken out in one go, delivered from iBatchnext on
    size_t iBatchnext = 0;
    CoreTlst* pRegistrations; // CorePpwr*, one per registered event
    CoreSmph cQueuelock;      // guards the queue and the registrations
    std::atomic<int64_t> iEmptypolls{0};

    std::mutex oWaitlock; // the wait between empty polls, cut short by Terminate
    std::condition_variable oWake;

    void queue(void* object, const AudioUnitEvent& event, float value);
    NOTICE* next(); // the listener thread's next notice (owned by the batch), or null when none is queued
    void freeQueued();
};
