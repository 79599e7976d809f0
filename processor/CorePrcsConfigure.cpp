// CorePrcs: the convolver configuration (kernel modes, stage sizes, common plans, the worker rule and
// the work block), the plan commands, and the timing that picks the direct kernel mode at boot.
// Plan commands run on the worker when it runs (processor/CorePrcsWorker.cpp), else on the calling
// thread; either way the caller holds enginelock and blocklock.
#include "processor/CorePrcs.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CorePool.h"
#include "base/CoreXutl.h"
#include "convolution/CoreCnvl.h"
#include "convolution/CoreCubr.h"
#include "program/CoreProg.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <cxxabi.h>
#include <limits>

namespace {

constexpr int16_t cmdPlan = 1, cmdDeletePlan = 2, cmdDeleteCommon = 3, cmdPlanCommon = 4, cmdStopBridge = 5,
                  cmdAcknowledge = 6;
constexpr int16_t firstTimedMode = 1, lastTimedMode = 5;
constexpr int16_t shortKernelMode = 17;
constexpr int32_t timedBlocks = 20; // DSP buffers that pass through each timed mode
// The timing runs on the thread that boots the engine, a host's project load among them, so its cost
// is bounded: a test kernel of at most maxTimedTaps, and no mode convolving more taps x samples than
// the default run does (a 10 ms kernel of 512 taps at 44.1 or 48 kHz through 20 DSP buffers of the
// largest first-boot size). Longer settings only shorten the input; the modes still run the same code.
constexpr int32_t maxTimedTaps = 4096;
constexpr int64_t timedWork = int64_t{timedBlocks} * CorePrcs::iCmaxdelaydim * 512;

} // namespace

// Without the sanitizer's null check: a thread exit's handler gets no object (see CoreTthr::ptsta).
[[gnu::no_sanitize("null")]] void CorePrcs::doCommand(int16_t code, int16_t index) {
    CoreCnvl* c = (convtab && index >= 0 && index <= hdimmax) ? convtab[index].convolver : nullptr;
    const bool plans = code == cmdPlan || code == cmdPlanCommon;
    if (!c) {
        if (plans) bPlanfailed = true;
        return;
    }
    try {
        switch (code) {
        case cmdPlan:
            bPlanfailed = (planfault && planfault(c->selectedMode())) || !c->plan_();
            break;
        case cmdDeletePlan:
            c->delpl();
            break;
        case cmdDeleteCommon:
            c->delpc();
            break;
        case cmdPlanCommon:
            bPlanfailed = !c->planc();
            break;
        case cmdStopBridge:
            if (pBridge) pBridge->stop_();
            break;
        default:
            break;
        }
    } catch (abi::__forced_unwind&) {
        throw; // the thread is exiting: its unwinding must go on
    } catch (...) {
        if (!plans) throw;
        bPlanfailed = true;
    }
}

void CorePrcs::setcf(int16_t h) {
    if (!convtab || h < 0 || h > hdimmax || !convtab[h].convolver) return;
    runCommand(cmdDeleteCommon, h);
    runCommand(cmdDeletePlan, h);
    runCommand(cmdAcknowledge, h);
    convtab[h].convolver->set__();
}

int32_t CorePrcs::setcf(int16_t h, int16_t mode, int32_t a, int32_t b, int32_t c, int32_t d, int32_t e) {
    if (!convtab || h < 0 || h > hdimmax || !convtab[h].convolver) return 0;
    bPlanfailed = false;
    runCommand(cmdDeleteCommon, h);
    runCommand(cmdDeletePlan, h);
    runCommand(cmdAcknowledge, h);
    const int step = convtab[h].convolver->set__(mode, a, b, c, d, e);
    runCommand(cmdPlan, h);
    runCommand(cmdAcknowledge, h);
    return bPlanfailed || step < 1 ? 0 : step;
}

void* CorePrcs::setcd(int16_t h, void* common, int16_t role, int32_t length) {
    if (!convtab || h < 0 || h > hdimmax || !convtab[h].convolver) return common;
    bPlanfailed = false;
    CoreCnvl* c = convtab[h].convolver;
    c->set_c(common, role, length);
    runCommand(cmdPlanCommon, h);
    runCommand(cmdAcknowledge, h);
    return bPlanfailed ? nullptr : c->grplc();
}

void CorePrcs::resetFold() {
    blockdim = 0;
    bAnyrefused = false;
    bAlluntimed = true;
    pinworker = false;
    iLargestgranule = 0;
}

bool CorePrcs::fold(int16_t h, int32_t step, bool updateStep) {
    CoreCnvl* c = convtab[h].convolver;
    if (updateStep) blockdim = std::max(blockdim, step);
    c->setms(bMono);
    bAnyrefused = bAnyrefused || c->error();
    bAlluntimed = bAlluntimed && c->perfr();
    pinworker = pinworker || c->getpt();
    iLargestgranule = std::max(iLargestgranule, c->getmp());
    return step > 0;
}

// The five sizes of a path in the order set__ takes them; a forced size replaces the three lengths.
int32_t CorePrcs::configure(int16_t h, int16_t mode, int16_t path, int32_t size) {
    convtab[h].mode = mode;
    const int32_t block = program->getbr(path);
    const int32_t second = size > 0 ? size : program->getid(path);
    const int32_t padded = size > 0 ? size : program->getep(path);
    const int32_t third = size > 0 ? size : program->getex(path);
    return setcf(h, mode, block, second, padded, block, third);
}

int32_t CorePrcs::currentPeriod() const {
    return iRequestedperiod > 0 ? iRequestedperiod : iProgramrate;
}

int32_t CorePrcs::clampedOffset() const {
    // An offset beyond the pass-through room would make the host read output no block has written.
    // Input waits as pending until a whole work block has arrived; with the worker in use that is a
    // DSP buffer, and a host pass of a DSP buffer reads its output before it hands its own block over,
    // so then the room is one sample beyond FORCEOFFSET.
    const int32_t room = iForceoffsetsamples + dspdim - std::max(blockdim, activedim - 1);
    return std::max(0, std::min(iLargestoffset, room));
}

// What every (re)configuration ends with: the work block, the FFT marks, the ring layout and the
// update periods.
void CorePrcs::finishConfiguration() {
    if (blockdim == 0) blockdim = 2; // the host entry divides by the work block
    adjml();
    adjot();
    CoreLog_::debug(CoreAnsx("CONVOLUTION:") + CoreAnsx(blockdim), 0, 3);
    const int32_t clamped = clampedOffset();
    if (clamped != offsetdim)
        setpo(clamped);
    else
        setpp();
    adjrt(currentPeriod());
}

bool CorePrcs::adjoc(int16_t mode, int32_t size) {
    if (isfailed() || !program) return false;
    CoreLog_::debug(CoreAnsx("optimization adjustment starts"), 1, 5);
    resetFold();
    const bool forceSecondFft = program->getf2();
    for (int16_t h = 0; h <= hdimmax; ++h) {
        convtab[h].mode = -1;
        setcf(h);
    }
    bool ok = true;
    const int16_t loaded = std::min<int16_t>(iHarmonicsloaded, hdimmax);
    for (int16_t h = 0; h < loaded; ++h) {
        CoreCnvl* c = convtab[h].convolver;
        int16_t m = mode;
        if (!(bHybrid && h == 0)) {
            if ((program->getn3(h) || forceSecondFft) && !c->getbe(mode))
                m = c->getdb();
            else if (convtab[h].shortkernel)
                m = shortKernelMode;
        }
        ok = fold(h, configure(h, m, h, size), true) && ok;
    }
    CoreCnvl* extra = convtab[hdimmax].convolver;
    if (bHybrid) {
        const int16_t m = extra->getbe(mode) ? mode : extra->getdb();
        ok = fold(hdimmax, configure(hdimmax, m, hdimmax, size), true) && ok;
    } else if (iSmooth >= 0 && convtab[0].mode >= 0) {
        ok = fold(hdimmax, configure(hdimmax, convtab[0].mode, 0, size), false) && ok;
    }
    finishConfiguration();
    iOtimed = mode;
    CoreLog_::debug(CoreAnsx("optimization adjustment ends"), 1, 5);
    return ok;
}

bool CorePrcs::setck() {
    if (isfailed() || !convtab || !pPlans) return false;
    const int16_t records = static_cast<int16_t>(hdimmax + CoreProg::iChworkdim);
    for (int16_t g = 0; g < records; ++g) pPlans[g] = {false, nullptr, 0};
    for (int16_t h = 0; h < records; ++h) {
        CONVOLVERLOC& r = convtab[h];
        r.role = 3;
        r.group = -1;
        int key = -1, step = 1;
        if (!(r.mode >= 0 && r.convolver->getci(key, step))) {
            key = -1;
            step = 1;
        }
        r.key = h >= hdimused && h < hdimmax ? -1 : key;
        r.step = step;
    }
    // The records that may share: record 0 and the extra record hold the two crossfade sets, and a
    // hybrid program's record 0 runs a direct mode of its own.
    int16_t first = 0, last = static_cast<int16_t>(records - 1);
    if (bHybrid)
        first = 1;
    else if (iSmooth >= 0) {
        first = 1;
        last = static_cast<int16_t>(hdimmax - 1);
    }
    int16_t g = 0;
    for (int16_t h = first; h <= last; ++h) {
        CONVOLVERLOC& leader = convtab[h];
        if (leader.key < 1) continue;
        const int32_t key = leader.key;
        leader.key = -1;
        leader.role = 0;
        leader.group = g;
        int16_t lastMember = -1;
        for (int16_t m = static_cast<int16_t>(h + 1); m <= last; ++m) {
            if (convtab[m].key != key) continue;
            convtab[m].key = -1;
            convtab[m].role = 1;
            convtab[m].group = g;
            lastMember = m;
        }
        if (lastMember < 0) {
            leader.role = 3;
            leader.group = -1;
            continue;
        }
        convtab[lastMember].role = 2;
        const int64_t length = static_cast<int64_t>(key) * blockdim / std::max(leader.step, 1);
        pPlans[g].ratio = static_cast<int32_t>(std::min<int64_t>(length, std::numeric_limits<int32_t>::max()));
        pPlans[g].used = true;
        ++g;
    }
    bool ok = true;
    for (int16_t h = 0; h < records; ++h) {
        CONVOLVERLOC& r = convtab[h];
        if (r.role == 3) {
            setcd(h, nullptr, 3, 0);
            continue;
        }
        PLANLOC& slot = pPlans[r.group];
        void* common = setcd(h, slot.plan, r.role, slot.ratio);
        if (!common) ok = false;
        slot.plan = common;
    }
    return ok;
}

bool CorePrcs::adjop(int16_t mode) {
    return adjoc(mode, -1);
}

bool CorePrcs::setop(int16_t mode) {
    if (isfailed() || !program) return false;
    PassThroughScope hold(*this, true);
    const bool configured = adjop(mode < 1 ? iOtimed : mode);
    return setck() && configured;
}

bool CorePrcs::setof(int16_t mode) {
    if (isfailed() || !program) return false;
    const CoreCnvl* first = convtab[0].convolver;
    if (!first->getbe(mode) || !first->ldble(mode)) return false;
    PassThroughScope hold(*this, true);
    iOfreqd = mode;
    for (int16_t h = 0; h <= hdimmax; ++h) convtab[h].convolver->setdb(mode);
    adjoc(iOtimed, -1);
    setck();
    return true;
}

void CorePrcs::setod(int16_t h, int16_t which, double us) {
    if (isfailed() || !program) return;
    PassThroughScope hold(*this, true);
    const double whole = std::trunc(us);
    const bool finite = std::isfinite(whole) && std::fabs(whole) < 9.2e18;
    const int64_t samples = finite ? CoreButl::tpfup(samplerate, static_cast<int64_t>(whole)) : 0;
    const bool refused = h < 0 || h >= hdimused || (which != 0 && which != 1) || !finite ||
                         samples < std::numeric_limits<int32_t>::min() ||
                         samples > std::numeric_limits<int32_t>::max();
    const int16_t path = bHybrid && which == 1 && h == 0 ? hdimmax : h;
    if (refused || !program->setod(path, which, static_cast<int32_t>(samples))) {
        clepr(true);
        return;
    }
    const auto point = [this](int16_t record, double* left, double* right, bool* changed) {
        convtab[record].kernel[0] = left;
        convtab[record].kernel[1] = right;
        convtab[record].convolver->setup(changed);
        convtab[record].convolver->setms(bMono);
    };
    point(h, program->getli(h), program->getri(h), program->getui(h));
    resetFold();
    for (int16_t r = 0; r < hdimused; ++r)
        if (r != h) blockdim = std::max(blockdim, convtab[r].convolver->getcb());
    if (bHybrid && h != 0) blockdim = std::max(blockdim, convtab[hdimmax].convolver->getcb());
    if (bHybrid && h == 0) {
        point(hdimmax, program->getli(hdimmax), program->getri(hdimmax), program->getui(hdimmax));
        fold(hdimmax, configure(hdimmax, convtab[hdimmax].mode, hdimmax, -1), true);
    }
    fold(h, configure(h, convtab[h].mode, h, -1), true);
    if (!bHybrid && h == 0 && iSmooth >= 0) {
        point(hdimmax, program->getls(), program->getrs(), program->getus());
        fold(hdimmax, configure(hdimmax, convtab[0].mode, 0, -1), false);
    }
    finishConfiguration();
    setck();
    clepr(true);
}

void CorePrcs::cnfop() {
    if (isfailed() || !convtab) return;
    EngineGuard locks(*this);
    CoreLog_::debug(CoreAnsx("diagnostic starts"), 0, 3);
    const int32_t taps =
        CoreButl::getp2(static_cast<int>(std::min<int64_t>(CoreButl::tpfup(samplerate, ltimed), maxTimedTaps)));
    // Every buffer goes back to the pool on every exit, a failed allocation included.
    struct Buffers {
        CorePrcs& engine;
        double* block[5] = {};
        ~Buffers() {
            for (double*& b : block) engine.freeRing(b);
        }
    } buffers{*this};
    try {
        for (int i = 0; i < 4; ++i) buffers.block[i] = ring(workdim);
        buffers.block[4] = ring(taps);
    } catch (const CoreAnsx& message) {
        // The boot goes on with the direct mode it has: timing is an optimisation, never a condition.
        CoreLog_::loger(CoreAnsx("optimization timing skipped, mode ") + CoreAnsx(iOtimed) + " stays: " + message, 1);
        CoreLog_::debug(CoreAnsx("diagnostic ends"), 0, 3);
        return;
    }
    double* kernel = buffers.block[4];
    double* inL = buffers.block[0];
    double* inR = buffers.block[1];
    double* outL = buffers.block[2];
    double* outR = buffers.block[3];
    CoreCnvl* c = convtab[0].convolver;
    const int32_t granule = iLargestgranule;
    double best = -1.0;
    int16_t bestMode = iOtimed;
    for (int16_t m = firstTimedMode; m <= lastTimedMode; ++m) {
        if (c->isfft(m) || !c->ldble(m)) continue;
        CoreLog_::debug(CoreAnsx("testing optimization ") + CoreAnsx(m), 0, 3);
        const int32_t step = setcf(0, m, granule, taps, taps, granule, taps);
        if (step < 1) {
            CoreLog_::loger(CoreAnsx("optimization ") + CoreAnsx(m) + " could not be planned and is skipped", 1);
            continue;
        }
        for (int i = 0; i < 4; ++i) std::memset(buffers.block[i], 0, sizeof(double) * static_cast<size_t>(workdim));
        const double start = clockhook ? clockhook() : CoreXutl::tmono();
        const int64_t affordable = std::max<int64_t>(1, timedWork / (int64_t{taps} * step));
        const int64_t calls = std::min(int64_t{timedBlocks} * (dspdim / step), affordable);
        for (int64_t k = 0; k < calls; ++k)
            c->cnvlc(inL, inR, outL, outR, kernel, kernel, pOutsidemeter, pInsidemeter);
        const double elapsed = (clockhook ? clockhook() : CoreXutl::tmono()) - start;
        if (timingprobe) timingprobe(m, c->length(), calls * step);
        CoreLog_::debug(CoreAnsx("result ") + CoreAnsx(elapsed), 0, 3);
        // Only a faster mode replaces the best: a tie keeps the lower number.
        if (best < 0.0 || elapsed < best) {
            best = elapsed;
            bestMode = m;
        }
    }
    iOtimed = bestMode;
    CoreLog_::debug(CoreAnsx("diagnostic ends"), 0, 3);
}
