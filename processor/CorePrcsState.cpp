// CorePrcs: accessors and forwards, the worker rule, ring positions, the side-chain ring, clearing
// the rings, load figures and the tail length.
#include "processor/CorePrcs.h"

#include "base/CoreButl.h"
#include "base/CorePool.h"
#include "convolution/CoreCnvl.h"
#include "processor/CoreMmry.h"
#include "program/CoreProg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

// index wrapped into 0 .. length - 1, for any distance from the ring
int32_t wrapped(int64_t index, int32_t length) {
    const int64_t r = index % length;
    return static_cast<int32_t>(r < 0 ? r + length : r);
}

void zero(double* block, int32_t count) {
    if (block) std::memset(block, 0, sizeof(double) * static_cast<size_t>(count));
}

} // namespace

int32_t CorePrcs::getfl(int16_t which) const {
    return which == 0 ? ltimed : (which == 1 ? lfreqd : 0);
}

void CorePrcs::setfl(int16_t which, int32_t value) {
    if (which == 0 && ltimed != value) ltimed = value;
    if (which == 1 && lfreqd != value) lfreqd = value;
}

int16_t CorePrcs::gettp(int16_t priority) {
    return (priority == 0 || priority == 2 || priority == 3 || priority == 4) ? priority : 1;
}

void CorePrcs::print() const {
    const CoreAnsx line = CoreAnsx(outpos) + ", " + CoreAnsx(readpos) + ", " + CoreAnsx(inpos) + "\n";
    std::fputs(line.c_str(), stdout);
}

CorePrm_* CorePrcs::getpm(int16_t i) const {
    return program ? program->getpm(i) : nullptr;
}

void CorePrcs::setpm(int16_t i, CorePrm_* parameter) {
    if (program) program->setpm(i, parameter);
}

DataGfun* CorePrcs::getgf() const {
    return program ? program->getgf() : nullptr;
}

DataSrce* CorePrcs::getsr() const {
    return program ? program->getsr() : nullptr;
}

void CorePrcs::setvr() {
    if (program) program->setvr();
}

void CorePrcs::setrc(int32_t us) {
    if (us >= 0) rateconv = us;
    if (program) program->setrc(rateconv);
}

bool CorePrcs::isbev(int16_t mode) const {
    const CoreCnvl* first = convtab ? convtab[0].convolver : nullptr;
    return first && first->getbe(mode) && first->ldble(mode);
}

void CorePrcs::adjml() {
    if (pinworker)
        useworker = hasworker;
    else if (hasworker)
        useworker = autothread ? blockdim > hostdim : blockdim > threadsmindim;
    activedim = useworker ? dspdim : blockdim;
}

void CorePrcs::blksz(int32_t n) {
    if (isfailed()) return;
    if (!booted()) {
        // Applied by the boot's settings step; nothing is reconfigured while booting.
        iBoothostdim.store(n);
        return;
    }
    if (n == hostdim) return;
    EngineGuard hold(*this);
    hostdim = n;
    adjml();
    // The work block may have changed, and with it the room for the program's offset.
    if (program && clampedOffset() != offsetdim) setpo(clampedOffset());
}

void CorePrcs::setpo(int32_t n) {
    // The look-ahead room stays between input write and input read; the block position moves down
    // onto the block grid and the samples it skips wait as pending input. The host's output read
    // index stays, so the output is delayed by exactly the change of offset.
    if (isfailed()) return;
    const int32_t step = std::max(blockdim, 1);
    inpos = wrapped(static_cast<int64_t>(inpos) - n + offsetdim, workdim);
    const int32_t read = wrapped(static_cast<int64_t>(inpos) - leaddim, workdim);
    readpos = readmark = outpos = read - read % step;
    iPending = read % step;
    offsetdim = n;
}

void CorePrcs::setpp() {
    if (isfailed()) return;
    const int64_t shift = static_cast<int64_t>(readbase) - readpos;
    inpos = wrapped(inpos + shift, workdim);
    outpos = wrapped(outpos + shift, workdim);
    iOutread = wrapped(iOutread + shift, workdim);
    readpos = readmark = wrapped(readbase, workdim);
    CoreSgrd hold(ringlock);
    loadfig[0] = loadfig[1] = 0.0;
}

int16_t CorePrcs::getpf(int32_t i) {
    if (i < 0 || i > 1) return 0;
    CoreSgrd block(blocklock, CoreSgrd::cConce);
    if (block.taken()) {
        CoreSgrd hold(ringlock);
        const double percent = std::trunc(samplerate * loadfig[i] * 100.0);
        // A figure that is not finite reads as 0 rather than as an undefined conversion.
        loadpct[i].store(std::isfinite(percent)
                             ? static_cast<int32_t>(std::clamp(percent, -2147483648.0, 2147483647.0))
                             : 0);
    }
    return static_cast<int16_t>(loadpct[i].load());
}

int32_t CorePrcs::getts() {
    if (isfailed() || !booted() || passthru.getvl()) return 0;
    CoreSgrd hold(enginelock, CoreSgrd::cConce);
    if (hold.taken()) {
        int32_t tail = 0;
        for (int16_t h = 0; h < hdimused; ++h) tail = std::max(tail, program->getts(h));
        iLasttail.store(tail);
    }
    return iLasttail.load();
}

void CorePrcs::cleck() {
    if (!pPlans) return;
    for (int h = 0; h < hdimmax + CoreProg::iChworkdim; ++h) {
        pPlans[h].used = false;
        pPlans[h].plan = nullptr;
    }
}

void CorePrcs::allcq() {
    if (!program) return;
    const bool wanted = quadwanted && program->isqpr();
    if (wanted == quadactive) return;
    if (!wanted) {
        dealq();
        return;
    }
    double* left = ring(workdim);
    try {
        quadring[1] = ring(workdim);
    } catch (...) {
        pool->free_(left);
        throw;
    }
    quadring[0] = left;
    quadactive = true;
}

void CorePrcs::dealq() {
    if (!quadactive) return;
    freeRing(quadring[0]);
    freeRing(quadring[1]);
    quadactive = false;
}

void CorePrcs::delsf() {
    if (!fadeready) return;
    pMainfade = pAlternatefade = nullptr;
    freeRing(pFadeA);
    freeRing(pFadeB);
    iFadecapacity = 0;
    fadeready = false;
}

void CorePrcs::cleby() {
    CoreSgrd hold(passlock);
    zero(passring[0], workdim);
    zero(passring[1], workdim);
}

void CorePrcs::clepr(bool convolvers) {
    for (int c = 0; c < 2; ++c) {
        zero(outring[c], workdim);
        zero(inring[c], workdim);
        zero(blockbuf[c], dspdim);
        if (quadactive) zero(quadring[c], workdim);
    }
    cleby();
    if (convolvers) clearConvolvers();
}

void CorePrcs::clearConvolvers() {
    if (convtab) {
        for (int h = 0; h < hdimmax + CoreProg::iChworkdim; ++h) convtab[h].convolver->clear();
        // Cleared convolvers transform their kernels afresh.
        if (program) {
            for (int16_t h = 0; h <= hdimmax; ++h)
                if (bool* changed = program->getui(h)) *changed = true;
            if (bool* changed = program->getus()) *changed = true;
        }
    }
    clearPending.store(false);
    clearProgress = 0;
}

void CorePrcs::clean() {
    if (isfailed() || !booted() || passthru.getvl()) return;
    // A held engine lock means a load or a block is running.
    EngineGuard hold(*this, CoreSgrd::cConce);
    if (!hold.taken()) return;
    clearPending.store(true);
    continueClear();
}

bool CorePrcs::clearDeferred() {
    if (!clearPending.load()) return true;
    // The worker may still run the last block handed to it, which ends within one block; without a
    // worker only a short holder of blocklock alone (a meter read) can be in the way.
    if (workerlive)
        takeBlockLock(iWatchdogms, "a deferred clear");
    else if (!blocklock.locka())
        return false;
    const bool done = continueClear();
    blocklock.relse();
    return done;
}

bool CorePrcs::continueClear() {
    if (!clearPending.load()) return true;
    CoreSgrd pass(passlock, CoreSgrd::cConce);
    if (!pass.taken() || !clearRingsPart()) return false;
    clearConvolvers();
    return true;
}

bool CorePrcs::clearRingsPart() {
    // One sequence over the rings, the side chain last: a load that adds or drops it moves no part
    // already counted. clearProgress is the position in that sequence.
    const struct {
        double* block;
        int32_t length;
    } parts[] = {{outring[0], workdim},
                 {outring[1], workdim},
                 {inring[0], workdim},
                 {inring[1], workdim},
                 {passring[0], workdim},
                 {passring[1], workdim},
                 {blockbuf[0], dspdim},
                 {blockbuf[1], dspdim},
                 {quadactive ? quadring[0] : nullptr, workdim},
                 {quadactive ? quadring[1] : nullptr, workdim}};
    int64_t budget = ringClearBudget;
    int64_t start = 0; // of the current part within the sequence
    for (const auto& part : parts) {
        const int64_t length = part.block ? part.length : 0;
        const int64_t from = clearProgress - start;
        if (from < length) {
            const int64_t count = std::min(length - from, budget);
            std::memset(part.block + from, 0, sizeof(double) * static_cast<size_t>(count));
            clearProgress += count;
            budget -= count;
            if (from + count < length) return false; // the budget ran out inside this part
        }
        start += length;
    }
    return true;
}

CoreAnsx CorePrcs::getnp() const {
    if (!memory) return CoreAnsx("0");
    const CoreAnsx path = CoreButl::getvs(memory->getfp(currentslot, true), 2);
    return CoreButl::setfx(path, CoreAnsx(""));
}

void CorePrcs::setpf(const CoreAnsx& path) {
    if (!memory || !program) return;
    memory->setfp(currentslot, path);
    if (memory->getwp(currentslot)) program->setvf(memory->getfv(currentslot, true));
}
