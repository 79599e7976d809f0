// CorePrcs: the host's block entry, its normal and pass-through paths, entering and leaving the
// pass-through state, and the timed engine lock pair.
// The audio thread never waits for a loader: outside offline rendering it tries the engine lock for
// at most an eighth of the host block and otherwise plays the pass-through path. Offline calls wait
// for the engine lock and for a loader's phase, so that an offline render is deterministic.
#include "processor/CorePrcs.h"

#include "base/CoreBlnk.h"
#include "base/CoreDnrm.h"
#include "base/CoreLog_.h"
#include "base/CoreTime.h"
#include "base/CoreXutl.h"
#include "modulation/CoreIfce.h"
#include "processor/CoreMmry.h"
#include "program/CoreProg.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int16_t offlineLevel = 4;

inline void cpuPause() {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
}

// A host double as the rings store it: tiny magnitudes (subnormals included), NaN and ±inf become 0.
inline double fromDouble(double x) {
    return (std::fabs(x) > CorePrcs::dCdenormalthreshold && std::fabs(x) <= 1.7976931348623157e308) ? x : 0.0;
}

// A host float as the rings store it: NaN and ±inf become 0. Subnormal floats are kept: they are
// built from their bits, since the denormal guard would read them as zero in a plain conversion.
inline double fromFloat(float x) {
    uint32_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    const uint32_t exponent = bits & 0x7f800000u;
    if (exponent == 0x7f800000u) return 0.0;
    if (exponent != 0) return static_cast<double>(x);
    const double magnitude = static_cast<double>(bits & 0x007fffffu) * 0x1p-149;
    return (bits & 0x80000000u) ? -magnitude : magnitude;
}

inline double hostSample(void* channel, bool doublePrecision, int32_t i) {
    return doublePrecision ? fromDouble(static_cast<double*>(channel)[i])
                           : fromFloat(static_cast<float*>(channel)[i]);
}

// The three output modes: float replace, double replace, float accumulate.
inline void storeSample(void* channel, bool replacing, bool doublePrecision, int32_t i, double value) {
    if (replacing && !doublePrecision)
        static_cast<float*>(channel)[i] = static_cast<float>(value);
    else if (replacing || doublePrecision)
        static_cast<double*>(channel)[i] = value;
    else
        static_cast<float*>(channel)[i] += static_cast<float>(value);
}

// Distance from `from` forward to `to` on a ring of `length` samples.
inline int32_t forward(int32_t from, int32_t to, int32_t length) {
    const int32_t d = to - from;
    return d < 0 ? d + length : d;
}

} // namespace

void CorePrcs::prcss(void** in, void** out, int32_t frames, bool replacing, int16_t level, double hostTempo,
                     bool doublePrecision, int16_t channels) {
    if (isfailed()) return;
    if (frames < 0 || !in || !out || !in[0] || !in[1] || !out[0] || !out[1]) return;
    if (std::isfinite(hostTempo) && hostTempo > 0.0) tempo = hostTempo;

    const bool offline = level == offlineLevel;
    for (;;) {
        inflight.store(true);
        if (passmirror.load()) {
            inflight.store(false);
            if (offline && loadphases.load() > 0) {
                waitForLoaders();
                continue;
            }
            passThroughPath(in, out, frames, replacing, doublePrecision);
            return;
        }
        if (!takeEngineLock(frames, level)) {
            inflight.store(false);
            passThroughPath(in, out, frames, replacing, doublePrecision);
            return;
        }
        // An offline call may have waited for the lock longer than smpby waits for the marker: a loader
        // that entered meanwhile has run (or still runs) its load, so the state is read again.
        if (!offline || !passmirror.load()) break;
        enginelock.relse();
        inflight.store(false);
    }
    if (hosthook) hosthook();
    // Teardown takes the engine lock before it frees anything and marks the engine failed under it.
    if (!isfailed()) prcsn(in, out, frames, replacing, level, doublePrecision, channels);
    enginelock.relse();
    inflight.store(false);
}

bool CorePrcs::takeEngineLock(int32_t frames, int16_t level) {
    if (enginelock.locka()) return true;
    if (level == offlineLevel) {
        // An offline render waits for short holders: the same input gives the same output bits.
        enginelock.locks();
        return true;
    }
    const int32_t rate = samplerate.load(std::memory_order_relaxed);
    const double seconds = rate > 0 ? static_cast<double>(frames) / rate / 8.0 : 0.0;
    const double budgetMs = 1000.0 * std::clamp(seconds, 20e-6, 1e-3);
    const double deadline = CoreXutl::tmono() + budgetMs;
    do {
        cpuPause();
        if (enginelock.locka()) return true;
    } while (CoreXutl::tmono() < deadline);
    lockmisses.fetch_add(1);
    return false;
}

// The waiting call plays nothing, so it stands for the acknowledge a muting loader waits for.
void CorePrcs::waitForLoaders() {
    oAcknowledge.SetEvent();
    for (int spins = 0; loadphases.load() > 0; ++spins) {
        if (spins < 64)
            cpuPause();
        else
            CoreXutl::sleep(0);
    }
}

void CorePrcs::passThroughPath(void** in, void** out, int32_t frames, bool replacing, bool doublePrecision) {
    CoreDnrm guard;
    bool taken = passlock.locka();
    if (!taken) {
        const double deadline = CoreXutl::tmono() + 1.0;
        while (!taken && CoreXutl::tmono() < deadline) {
            cpuPause();
            taken = passlock.locka();
        }
    }
    if (!taken) {
        lockmisses.fetch_add(1);
        if (replacing)
            for (int c = 0; c < 2; ++c)
                for (int32_t i = 0; i < frames; ++i) storeSample(out[c], replacing, doublePrecision, i, 0.0);
        return;
    }
    oAcknowledge.SetEvent();
    if (isfailed()) { // teardown marks the engine failed under this lock, then frees the rings
        passlock.relse();
        return;
    }
    const double inputGain = dInputcontrolgain.load(std::memory_order_relaxed);
    const double outputGain =
        dOutputcontrolgain.load(std::memory_order_relaxed) * dPassgain.load(std::memory_order_relaxed);
    const double limit = std::max(1.0, dProtectionlevel);
    bool protect = false;
    int32_t remaining = frames;
    while (remaining > 0) {
        const int32_t p = frames - remaining;
        {
            CoreSgrd meters(ringlock, CoreSgrd::cConce);
            if (meters.taken()) loadfig[0] = loadfig[1] = 0.0;
        }
        const int32_t used = forward(iPassread, iPasswrite, workdim);
        const int32_t n = std::min(remaining, workdim - used);
        for (int32_t i = 0; i < n; ++i) {
            passring[0][iPasswrite] = hostSample(in[0], doublePrecision, p + i) * inputGain;
            passring[1][iPasswrite] = hostSample(in[1], doublePrecision, p + i) * inputGain;
            iPasswrite = (iPasswrite + 1) & worklast;
        }
        for (int32_t i = 0; i < n; ++i) {
            double l = passring[0][iPassread] * outputGain;
            double r = passring[1][iPassread] * outputGain;
            // A slot is read once: a later pass-through call never plays it again.
            passring[0][iPassread] = passring[1][iPassread] = 0.0;
            if (!(std::fabs(l) <= limit) || !(std::fabs(r) <= limit)) protect = true;
            if (protect) l = r = 0.0;
            storeSample(out[0], replacing, doublePrecision, p + i, l);
            storeSample(out[1], replacing, doublePrecision, p + i, r);
            iPassread = (iPassread + 1) & worklast;
        }
        remaining -= n;
    }
    passlock.relse();
}

void CorePrcs::prcsn(void** in, void** out, int32_t frames, bool replacing, int16_t level, bool doublePrecision,
                     int16_t channels) {
    CoreDnrm guard;
    // A ring clear that clean() left to the blocks goes on first; until it is done this call touches
    // neither rings nor convolvers and plays silence.
    if (!clearDeferred()) {
        if (replacing)
            for (int c = 0; c < 2; ++c)
                for (int32_t i = 0; i < frames; ++i) storeSample(out[c], replacing, doublePrecision, i, 0.0);
        return;
    }

    if (pBlink) {
        const bool blink = pBlink->getvl();
        if (bBlinkstate && blink != bBlinkstate) {
            // Tried once: when the meter lock is busy the figures wait a blink period.
            CoreSgrd meters(ringlock, CoreSgrd::cConce);
            if (meters.taken()) {
                CoreTime* meter[2] = {pOutsidemeter, pInsidemeter};
                for (int i = 0; i < 2; ++i) {
                    loadfig[i] = meter[i]->getmp() / 1000.0;
                    if (!(samplerate * loadfig[i] < 1.0)) loadfig[i] = 0.0;
                }
            }
        }
        bBlinkstate = blink;
    }

    if (!bRatechanged) {
        const int16_t combined = static_cast<int16_t>(level | iFixedlevel);
        if (combined != iLastlevel) {
            iLastlevel = combined;
            const int32_t period = combined == offlineLevel ? iOfflineperiod : iNormalperiod;
            bRatechanged = period != iPeriod;
            iPeriod = period;
            if (CoreLog_::getdb() >= 2) CoreLog_::debug(CoreAnsx("actual PROG RATE ") + CoreAnsx(period), 0, 2);
        }
    }

    int32_t remaining = frames;
    bool partial = false;
    while (remaining > 0) {
        const int32_t p = frames - remaining;
        const double inputControl = 2.0 * program->getif(8)->getvl(false);
        double inputGain = program->getpi() * inputControl;
        if (program->hasti()) inputGain *= program->getti();
        const double outputControl = 2.0 * program->getif(9)->getvl(false);
        double outputGain = program->getpo() * dRateratio;
        if (program->hasto()) outputGain /= program->getto();
        dInputcontrolgain.store(inputControl, std::memory_order_relaxed);
        dOutputcontrolgain.store(outputControl, std::memory_order_relaxed);
        dOutputgain = outputGain;

        if (dspdim < remaining) partial = true;
        const int32_t free = forward(inpos, iOutread, workdim);
        const int32_t n = std::min({dspdim, remaining, free});
        if (n < 1) {
            // No room at all (a layout the settings reader refuses): the rest of the call is silent.
            if (replacing)
                for (int c = 0; c < 2; ++c)
                    for (int32_t i = p; i < frames; ++i) storeSample(out[c], replacing, doublePrecision, i, 0.0);
            break;
        }

        const int32_t start = inpos;
        for (int32_t i = 0; i < n; ++i) {
            const int32_t slot = (start + i) & worklast;
            inring[0][slot] = hostSample(in[0], doublePrecision, p + i) * inputGain;
            inring[1][slot] = hostSample(in[1], doublePrecision, p + i) * inputGain;
        }
        if (quadactive && channels >= 4 && in[2] && in[3]) {
            for (int32_t i = 0; i < n; ++i) {
                const int32_t slot = (start + i) & worklast;
                quadring[0][slot] = hostSample(in[2], doublePrecision, p + i) * inputGain;
                quadring[1][slot] = hostSample(in[3], doublePrecision, p + i) * inputGain;
            }
        }
        inpos = (start + n) & worklast;

        // The output this pass plays comes from blocks handed over earlier; the worker may still run
        // the last of them.
        if (workerlive) waitForOutput(n);

        // This pass's samples join the pending remainder; what fills whole work blocks is processed.
        const int32_t step = std::max(activedim, 1);
        const int32_t total = iPending + n;
        iReady = total - total % step;
        iPending = total % step;
        const auto handOver = [&] {
            oRequest = {outpos, iReady, iPeriod, outputGain, outputControl, iDrydelay, bRatechanged, tempo};
            readpos = (readpos + iReady) & worklast;
        };
        if (!workerlive && iReady > 0) {
            handOver();
            prcss();
        }

        for (int32_t i = 0; i < n; ++i) {
            storeSample(out[0], replacing, doublePrecision, p + i, outring[0][iOutread]);
            storeSample(out[1], replacing, doublePrecision, p + i, outring[1][iOutread]);
            iOutread = (iOutread + 1) & worklast;
        }

        if (workerlive && iReady > 0) {
            takeBlockLock(iWatchdogms, "the host entry");
            handOver();
            // Only the call's last pass goes to the worker, unless a GPU runs: then every pass does, so
            // that every bridge call comes from the worker. blocklock stays with the worker.
            if ((useworker && remaining == n && !partial) || pinworker) {
                postCommand(0, 0);
            } else {
                prcss();
                blocklock.relse();
            }
        }
        remaining -= n;
    }
    meterflag.store(true);
}

void CorePrcs::setPassThrough(bool on) {
    passthru.setvl(on);
    passmirror.store(on);
}

void CorePrcs::smpby(bool on, int32_t timeout, bool clearPrograms, bool mute) {
    if (isfailed()) return;
    if (passthru.getvl() == on) {
        oBusymirror.setvl(on);
        passmirror.store(on);
        return;
    }
    if (on) {
        if (mute) dPassgain.store(0.0, std::memory_order_relaxed);
        oAcknowledge.ResetEvent();
        {
            CoreSgrd hold(passlock);
            setPassThrough(true);
            std::memset(passring[0], 0, sizeof(double) * static_cast<size_t>(workdim));
            std::memset(passring[1], 0, sizeof(double) * static_cast<size_t>(workdim));
        }
        // Once the marker reads clear, every later host call sees the state and takes the
        // pass-through path; a call inside the normal path finishes first.
        const double deadline = CoreXutl::tmono() + iCdelaybypassswitch;
        while (inflight.load() && CoreXutl::tmono() < deadline) CoreXutl::sleep(0);
        if (mute) {
            // The acknowledge comes from the next pass-through call; with no host running none comes.
            const double left = deadline - CoreXutl::tmono();
            if (left > 0) oAcknowledge.WaitFor(static_cast<int>(std::ceil(left)));
        }
    } else {
        dPassgain.store(1.0, std::memory_order_relaxed);
        lockp(timeout);
        if (clearPrograms) clepr(true);
        setPassThrough(false);
        blocklock.relse();
        enginelock.relse();
    }
    oBusymirror.setvl(on);
}

void CorePrcs::lockp(int32_t timeout) {
    if (timeout > 0) {
        lockw(enginelock, timeout, "enginelock");
        takeBlockLock(timeout, "lockp");
    } else {
        enginelock.locks();
        takeBlockLock(iWatchdogms, "lockp");
    }
    stallPoint();
}

void CorePrcs::unbts() {
    CoreSgrd hold(bootlock);
    iBootstep = 0;
    if (memory) memory->clear();
}
