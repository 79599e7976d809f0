// CoreCtrl: the control thread of one plug-in instance. Every tick that gets the control lock it
// reports engine-side parameter changes to the host and hands a program that MIDI asked for to the
// display once the boot has ended; every third tick it renders one display pass (which also steps the
// boot) and every twentieth polls the host's sample rate and the engine's 4-channel state; on render
// ticks, while an editor client is connected, it sends the editor the status record (property
// 100102). Built and deleted by the effect on the host's thread; the audio thread only reads the
// 4-channel flag and posts program changes, neither of which waits. Lock order: control lock, then
// the display lock; the client lock is taken last, alone.
#pragma once
#include "base/CoreTthr.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "base/CoreSmph.h"

class CoreDsif;
class CoreEdit;
class CoreMstr;
class CorePrcs;
class CoreZrlg;

class CoreCtrl : public CoreTthr {
public:
    CoreCtrl(CoreZrlg* effect, CoreMstr* master);
    ~CoreCtrl() override;

    void Execute() override;
    void Terminate() override; // also ends the wait between ticks at once

    bool isqrn() const { return bQuadro.load(std::memory_order_relaxed); }
    // A MIDI program change: the slot waits in a mailbox for the next tick, which hands it to the
    // display (a later change replaces one not yet taken). Never waits: the audio thread calls it.
    void setdl(int32_t slot) { iPendingslot.store(slot, std::memory_order_relaxed); }
    // Under the control lock: the display clears and returns to its start page (after a chunk restore).
    void setdp();
    // true takes the control lock (waiting for a running tick), then the display lock; false
    // releases them in the reverse order.
    void setdu(bool take);
    void setmc(int32_t slot, int32_t value);
    // Editor clients (property 100103); the count never goes below 0.
    void addcl();
    void rmvcl();
    bool cnncl();
    // Asks the editor to close (property 100109, announced) and waits, polling every 10 ms, until
    // no client is left or deadlineMs have passed; the latter is logged.
    void viewa(int32_t deadlineMs = 5000);
    CoreMstr* getms() const { return pMaster; }
    CoreEdit* geted() const { return pEditor; }
    static bool isbsy() { return false; }

    // The tick period in ms for a GUIRATE in µs: at least 1, so the loop never spins a core.
    static int32_t tickPeriod(int64_t guiRateUs);

private:
    static constexpr short iCbootpage = 20; // the display's page state while the engine boots

    CoreZrlg* pEffect;
    CoreMstr* pMaster;
    CorePrcs* pProcessor = nullptr;
    CoreDsif* pDisplay = nullptr; // the master object's
    CoreEdit* pEditor = nullptr; // made once the skin exists, deleted after the thread stopped
    CoreSmph cControllock;
    int32_t iTick = 1;             // ms
    int16_t iDisplaycountdown = 3; // ticks to the next render tick
    int16_t iRatecountdown = 20;   // ticks to the next sample-rate poll
    std::atomic<bool> bQuadro{false};
    std::atomic<int32_t> iPendingslot{-1};
    int32_t iClients = 0;
    CoreSmph cClientlock;

    std::mutex oWaitlock; // the wait between ticks, cut short by Terminate
    std::condition_variable oWake;

    void tick();
    void loadPending();
    int32_t clients();
    void sendStatus();
};
