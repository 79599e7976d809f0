#include "plugin/CoreCtrl.h"

#include "base/CoreLog_.h"
#include "base/CoreSgrd.h"
#include "base/CoreXutl.h"
#include "display/CoreDsif.h"
#include "plugin/CoreEdit.h"
#include "plugin/CoreMstr.h"
#include "plugin/CoreZrlg.h"
#include "processor/CorePrcs.h"

#include <algorithm>
#include <chrono>
#include <cxxabi.h>

CoreCtrl::CoreCtrl(CoreZrlg* effect, CoreMstr* master) : CoreTthr(true), pEffect(effect), pMaster(master) {
    CoreLog_::debug("CoreCtrl constructor starts", 0, 7);
    if (pMaster && !pMaster->geter() && pMaster->getpr() && pMaster->getds()) {
        pProcessor = pMaster->getpr();
        pDisplay = pMaster->getds();
        CorePrcs::BEANSTRUCT none{};
        iTick = tickPeriod(static_cast<int64_t>(pProcessor->getbl(65, &none)));
        bQuadro.store(pProcessor->getbb(255, &none));
        if (pMaster->getsk()) pEditor = new CoreEdit(pMaster->getsk(), pDisplay, effect, effect);
        Resume();
    }
    CoreLog_::debug("CoreCtrl constructor ends", 0, 7);
}

CoreCtrl::~CoreCtrl() {
    CoreLog_::debug("CoreCtrl destructor starts", 0, 7);
    cControllock.locks();
    Terminate();
    WaitFor();
    cControllock.relse();
    CoreLog_::debug("CoreCtrl destructor thread removed", 0, 7);
    if (pEditor) {
        pEffect->setEditor(nullptr);
        delete pEditor;
        pEditor = nullptr;
    }
    CoreLog_::debug("CoreCtrl destructor ends", 0, 7);
}

int32_t CoreCtrl::tickPeriod(int64_t guiRateUs) {
    return static_cast<int32_t>(std::clamp<int64_t>(guiRateUs / 1000, 1, 1000000));
}

void CoreCtrl::Terminate() {
    {
        std::lock_guard<std::mutex> lock(oWaitlock);
        CoreTthr::Terminate();
    }
    oWake.notify_all();
}

void CoreCtrl::setdp() {
    if (!pDisplay) return;
    CoreSgrd hold(cControllock);
    pDisplay->setdp();
}

void CoreCtrl::setdu(bool take) {
    if (take) {
        cControllock.locks();
        if (pDisplay) pDisplay->getlk().locks();
    } else {
        if (pDisplay) pDisplay->getlk().relse();
        cControllock.relse();
    }
}

void CoreCtrl::setmc(int32_t slot, int32_t value) {
    if (!pProcessor) return;
    cControllock.locks();
    CorePrcs::BEANSTRUCT index{};
    index.index = slot;
    pProcessor->setbi(178, value, &index);
    cControllock.relse();
}

void CoreCtrl::addcl() {
    cClientlock.locks();
    ++iClients;
    cClientlock.relse();
}

void CoreCtrl::rmvcl() {
    cClientlock.locks();
    iClients = std::max(iClients - 1, 0);
    cClientlock.relse();
}

int32_t CoreCtrl::clients() {
    cClientlock.locks();
    const int32_t count = iClients;
    cClientlock.relse();
    return count;
}

bool CoreCtrl::cnncl() {
    return clients() > 0;
}

void CoreCtrl::viewa(int32_t deadlineMs) {
    const uint8_t close = 1;
    pEffect->stprp(CorePpwr::iCviewclose, 0, 0, &close, sizeof close);
    pEffect->prchg(CorePpwr::iCviewclose, 0, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(deadlineMs);
    while (clients() >= 1) {
        if (std::chrono::steady_clock::now() >= deadline) {
            CoreLog_::loger(CoreAnsx("CoreCtrl viewa: the editor did not close within ") + CoreAnsx(deadlineMs) +
                                " ms",
                            1);
            return;
        }
        CoreXutl::sleep(10);
    }
}

// Without the sanitizer's null check: a thread exit's handler gets no object (see CoreTthr::ptsta).
[[gnu::no_sanitize("null")]] void CoreCtrl::Execute() {
    while (!Terminated()) {
        // A host may end this thread inside a callback of the tick: the guard then gives the lock back
        // on the way out, or the effect's close would wait for it forever.
        if (CoreSgrd hold(cControllock, CoreSgrd::cConce); hold.taken()) {
            try {
                tick();
            } catch (abi::__forced_unwind&) {
                throw; // the thread is exiting: its unwinding must go on
            } catch (const CoreAnsx& failure) {
                CoreLog_::loger(CoreAnsx("CoreCtrl tick failed: ") + failure, 1);
            } catch (...) {
                CoreLog_::loger("CoreCtrl tick failed", 1);
            }
        }
        std::unique_lock<std::mutex> lock(oWaitlock);
        oWake.wait_for(lock, std::chrono::milliseconds(iTick), [this] { return Terminated(); });
    }
    CoreLog_::debug("CoreCtrl thread died", 0, 7);
}

void CoreCtrl::tick() {
    const int32_t clientCount = clients();
    bool renderTick = false;
    if (--iDisplaycountdown <= 0) {
        CoreLog_::debug("CoreCtrl updte dsif", 0, 7);
        iDisplaycountdown = 3;
        renderTick = true;
    }
    if (renderTick) pDisplay->updte(clientCount > 0);
    pEffect->fixpr();
    loadPending();
    if (--iRatecountdown == 0) {
        iRatecountdown = 20;
        pEffect->updateSampleRate();
        CorePrcs::BEANSTRUCT none{};
        pProcessor->setbi(66, static_cast<int32_t>(pEffect->gtsrt()), &none);
        bQuadro.store(pProcessor->getbb(255, &none), std::memory_order_relaxed);
    }
    if (renderTick && clientCount >= 1) sendStatus();
}

// Bean 81 refreshes the meters: the levels read after it are fresh, the indicator read before it is
// the one the editor has not yet shown.
void CoreCtrl::sendStatus() {
    CoreLog_::debug("CoreCtrl updte cVeditor starts", 0, 7);
    CorePpwr::STATUSRECORD status{};
    CorePrcs::BEANSTRUCT bean{};
    status.fontset = pDisplay->getfc();
    status.indicator = pProcessor->getbb(218, &bean);
    status.bypass = pProcessor->getbb(258, &bean);
    status.meterrefresh = pProcessor->getbb(81, &bean);
    for (bean.index = 0; bean.index < 4; ++bean.index) status.meters[bean.index] = pProcessor->getbd(219, &bean);
    for (bean.index = 0; bean.index < 10; ++bean.index)
        status.controls[bean.index] = static_cast<float>(pProcessor->getbd(155, &bean));
    for (bean.index = 0; bean.index < 8; ++bean.index) status.leds[bean.index] = pProcessor->getbh(220, &bean);
    bean.index = 0;
    status.slot = pProcessor->getbi(67, &bean);
    pEffect->stprp(CorePpwr::iCstatus, 0, 0, &status, sizeof status);
    pEffect->prchg(CorePpwr::iCstatus, 0, 0);
    CoreLog_::debug("CoreCtrl updte cVeditor ends", 0, 7);
}

// A program change from MIDI goes to the display once the boot has ended: the engine no longer
// boots and the display has left its boot page (a load asked for there would be dropped). A slot that
// is already current loads nothing. The tick holds the control lock, as setdl's callers would.
void CoreCtrl::loadPending() {
    CorePrcs::BEANSTRUCT none{};
    if (iPendingslot.load(std::memory_order_relaxed) < 0 || pProcessor->getbb(46, &none)) return;
    if (pDisplay->getcs() == iCbootpage) return;
    const int32_t slot = iPendingslot.exchange(-1);
    if (slot < 0 || pProcessor->getbi(67, &none) == slot) return;
    pDisplay->loadp(slot);
}
