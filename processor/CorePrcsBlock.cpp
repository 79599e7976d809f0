// CorePrcs: the block processor (feedback, program update steps, the convolution table, gains, dry mix,
// overflow, protection, followers) and the crossfade state it plays: fade tables, SMOOTH and the step.
// Audio path: nothing here allocates, builds a text or waits, except mkesf, setst and adjhc (loaders and
// setters, locks held, off the audio path).
#include "processor/CorePrcs.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CorePool.h"
#include "base/CoreTime.h"
#include "base/CoreXutl.h"
#include "convolution/CoreCnvl.h"
#include "modulation/CoreEnvf.h"
#include "program/CoreProg.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Sources fed from the level followers, in follower order.
constexpr int32_t followerSources[6] = {48, 49, 50, 51, 64, 65};

} // namespace

void CorePrcs::prcss() {
    pOutsidemeter->setmp(true, 0);
    const BLOCKREQUEST request = oRequest;
    if (request.ratechanged) {
        if (iSmooth >= 0) {
            CoreSgrd hold(fadelock);
            fillFades(request.period);
            iCountdown = 0;
            iFadeposition = 0;
        }
        bRatechanged = false;
    }
    const int32_t step = std::max(blockdim, 1);
    if (request.count > 0 && !bProgramready) {
        // No program to play (a load is freeing or building the kernels): silence.
        for (int32_t done = 0; done < request.count; ++done) {
            const int32_t p = (request.start + done) & worklast;
            outring[0][p] = outring[1][p] = 0.0;
        }
    } else if (request.count > 0) {
        const double limit = std::max(1.0, dProtectionlevel);
        bool protect = false;
        for (int32_t done = 0; done < request.count; done += step) {
            const int32_t position = (request.start + done) & worklast;
            if (bFeedbackon && !bClippause) {
                for (int32_t k = 0; k < step; ++k) {
                    const int32_t p = (position + k) & worklast;
                    inring[0][p] -= feedbackbuf[0][k] * dFeedbackgain;
                    inring[1][p] -= feedbackbuf[1][k] * dFeedbackgain;
                }
            }
            while (iCountdown < 1) updateStep(request.period, request.outputcontrolgain, request.tempo);
            convolve(position, step);

            // One pass over the sub-block for gains, dry, protection and the program's followers, then
            // the meter followers fed in bulk: each gets the same samples in the same order. A work
            // block never wraps the ring (the convolvers read it in one piece).
            bool overflow = false;
            const bool programFollowers = program->hasef();
            const bool sideChain = quadactive && program->hases();
            double* monoOut = monobuf[0];
            double* monoIn = monobuf[1];
            for (int32_t k = 0; k < step; ++k) {
                const int32_t p = (position + k) & worklast;
                const double l = outring[0][p] * request.outputgain;
                const double r = outring[1][p] * request.outputgain;
                monoOut[k] = 0.5 * l + 0.5 * r;
                double left = request.outputcontrolgain * l;
                double right = request.outputcontrolgain * r;
                if (bDryon) {
                    const int32_t d = (p - request.drydelay) & worklast;
                    left += inring[0][d] * dDrygain;
                    right += inring[1][d] * dDrygain;
                }
                // The indicator keeps the signed rule; protection also catches negative and
                // non-finite samples.
                if (left > 1.0 || right > 1.0) overflow = true;
                if (!(std::fabs(left) <= limit) || !(std::fabs(right) <= limit)) protect = true;
                if (protect) left = right = 0.0;
                outring[0][p] = left;
                outring[1][p] = right;
                feedbackbuf[0][k] = left;
                feedbackbuf[1][k] = right;
                const int32_t a = (p + iLookaheadoffset) & worklast;
                if (programFollowers) program->setef(inring[0][a], inring[1][a], l, r);
                if (sideChain) program->setes(quadring[0][a], quadring[1][a]);
                monoIn[k] = 0.5 * inring[0][p] + 0.5 * inring[1][p];
            }
            if (step > 0) dLastoutput = feedbackbuf[0][step - 1];
            followers[0]->setei(inring[0] + position, step);
            followers[1]->setei(inring[1] + position, step);
            followers[2]->setei(feedbackbuf[0], step);
            followers[3]->setei(feedbackbuf[1], step);
            followers[4]->setei(monoIn, step);
            followers[5]->setei(monoOut, step);
            for (CoreEnvf* follower : followers) follower->updte();
            if (overflow) {
                clipflag.setvl(true);
                bClippause = true;
                cliptime.store(CoreXutl::ttime(), std::memory_order_relaxed);
            }
            iCountdown -= step;
        }
    }
    {
        CoreSgrd hold(outlock);
        outpos = (outpos + request.count) & worklast;
    }
    if (bProgramready) mdupd(midi->updte(-1));
    pOutsidemeter->setmp(false, request.count);
    pInsidemeter->setms(request.count);
}

void CorePrcs::updateStep(int32_t period, double outputControlGain, double beatsPerMinute) {
    iCountdown += std::max(period, 1);
    if (iSmooth >= 0) {
        CoreSgrd hold(fadelock);
        iStepindex = iStepindex + 1 > 1 ? 0 : iStepindex + 1;
        program->setsp(iStepindex);
        pMainfade = iStepindex == 0 ? pFadeA : pFadeB;
        pAlternatefade = iStepindex == 0 ? pFadeB : pFadeA;
        iFadeposition = iCountdown;
    }
    mdupd(midi->updte(period));
    program->updte(true, period, dLastoutput, beatsPerMinute);
    paramsupdated.store(true, std::memory_order_relaxed);
    if (bFeedbackon) dFeedbackgain = program->getrf();
    if (bDryon) dDrygain = program->getry() * outputControlGain;
    if (dLookaheadbase > 0.0) {
        dLookaheadvalue = program->getaf();
        const double offset = dLookaheadvalue * dLookaheadbase;
        iLookaheadoffset = std::isfinite(offset)
                               ? static_cast<int32_t>(std::clamp(offset, 0.0, static_cast<double>(iLookaheadroom)))
                               : 0;
    }
    for (int i = 0; i < 6; ++i) program->upsrc(followerSources[i], followers[i]->getbl());
    bClippause = false;
}

void CorePrcs::convolve(int32_t position, int32_t count) {
    double* inL = inring[0] + position;
    double* inR = inring[1] + position;
    double* outL = outring[0] + position;
    double* outR = outring[1] + position;
    CoreTime* t0 = pOutsidemeter;
    CoreTime* t1 = pInsidemeter;
    const int16_t n = hdimused;
    CONVOLVERLOC& extra = convtab[hdimmax];
    auto record = [this](int i) -> CONVOLVERLOC& { return convtab[i]; };
    if (bHybrid) {
        if (n < 1) {
            std::memset(outL, 0, sizeof(double) * static_cast<size_t>(count));
            std::memset(outR, 0, sizeof(double) * static_cast<size_t>(count));
        }
        for (int i = 0; i < n; ++i)
            record(i).convolver->vltry(false, i == 0, inL, inR, outL, outR, record(i).kernel[0], record(i).kernel[1],
                                       blockbuf[0], blockbuf[1], scratchbuf[0], scratchbuf[1], count, t0, t1);
        extra.convolver->vltry(true, false, inL, inR, outL, outR, extra.kernel[0], extra.kernel[1], blockbuf[0],
                               blockbuf[1], scratchbuf[0], scratchbuf[1], count, t0, t1);
    } else if (iSmooth < 0 && n == 1) {
        record(0).convolver->cnvlc(inL, inR, outL, outR, record(0).kernel[0], record(0).kernel[1], t0, t1);
    } else if (iSmooth < 0 && n >= 2) {
        for (int i = 0; i < n; ++i)
            record(i).convolver->vltrr(i == 0, inL, inR, outL, outR, record(i).kernel[0], record(i).kernel[1],
                                       blockbuf[0], blockbuf[1], scratchbuf[0], scratchbuf[1], count, t0, t1);
    } else if (iSmooth >= 0) {
        double* mainFade;
        double* alternateFade;
        {
            CoreSgrd hold(fadelock);
            mainFade = pMainfade;
            alternateFade = pAlternatefade;
        }
        long fadePosition = iFadeposition;
        if (n == 1) {
            record(0).convolver->cnvsc(true, inL, inR, outL, outR, record(0).kernel[0], record(0).kernel[1],
                                       scratchbuf[0], scratchbuf[1], mainFade, fadePosition, t0, t1);
            extra.convolver->cnvsc(false, inL, inR, outL, outR, extra.kernel[0], extra.kernel[1], scratchbuf[0],
                                   scratchbuf[1], alternateFade, fadePosition, t0, t1);
        } else {
            record(0).convolver->cnvsy(true, inL, inR, outL, outR, record(0).kernel[0], record(0).kernel[1],
                                       blockbuf[0], blockbuf[1], scratchbuf[0], scratchbuf[1], mainFade,
                                       fadePosition, count, t0, t1);
            extra.convolver->cnvsy(false, inL, inR, outL, outR, extra.kernel[0], extra.kernel[1], blockbuf[0],
                                   blockbuf[1], scratchbuf[0], scratchbuf[1], alternateFade, fadePosition, count,
                                   t0, t1);
            for (int i = 1; i < n; ++i)
                record(i).convolver->vltry(false, false, inL, inR, outL, outR, record(i).kernel[0],
                                           record(i).kernel[1], blockbuf[0], blockbuf[1], scratchbuf[0],
                                           scratchbuf[1], count, t0, t1);
        }
        iFadeposition = static_cast<int32_t>(fadePosition);
    } else {
        // No harmonic in use: the convolution is silence.
        std::memset(outL, 0, sizeof(double) * static_cast<size_t>(count));
        std::memset(outR, 0, sizeof(double) * static_cast<size_t>(count));
    }
}

void CorePrcs::mkesf(int32_t period) {
    growFades(std::max(period, 0) + 1);
    CoreSgrd hold(fadelock);
    fillFades(period);
    resetFades();
}

void CorePrcs::growFades(int32_t points) {
    if (points <= iFadecapacity && fadeready) return;
    const int32_t capacity = std::max(points, iFadecapacity);
    // The new pair first: a pool failure leaves the old tables in place.
    double* a = static_cast<double*>(pool->mallc(0, capacity, "PRCS"));
    double* b = nullptr;
    try {
        b = static_cast<double*>(pool->mallc(0, capacity, "PRCS"));
    } catch (...) {
        pool->free_(a);
        throw;
    }
    CoreSgrd hold(fadelock);
    if (fadeready) {
        pool->free_(pFadeA);
        pool->free_(pFadeB);
    }
    pFadeA = a;
    pFadeB = b;
    iFadecapacity = capacity;
    fadeready = true;
}

void CorePrcs::fillFades(int32_t period) {
    const int32_t n = std::max(period, 0) + 1;
    if (!fadeready || n > iFadecapacity) return;
    CoreButl::fdecc(n, pFadeA, std::max<int16_t>(iSmooth, 0), false);
    std::memcpy(pFadeB, pFadeA, sizeof(double) * static_cast<size_t>(n));
    CoreButl::cfdcc(n, pFadeB);
}

void CorePrcs::resetFades() {
    if (program) program->setsp(0);
    pMainfade = pFadeA;
    pAlternatefade = pFadeB;
    iStepindex = 0;
}

void CorePrcs::setsp(int16_t step) {
    CoreSgrd hold(fadelock);
    if (program) program->setsp(step);
    iStepindex = step;
    pMainfade = step == 0 ? pFadeA : pFadeB;
    pAlternatefade = step == 0 ? pFadeB : pFadeA;
}

bool CorePrcs::setst(int16_t smooth) {
    if (isfailed()) return false;
    EngineGuard hold(*this);
    if (bHybrid && smooth >= 0) {
        iSmooth = -1;
        program->setst(-1);
        return false;
    }
    if (!bProgramready) {
        if (smooth < 0) return true;
        program->setst(smooth);
        return false;
    }
    if (smooth >= 0 && !bSecondkernels) {
        // A program loaded without a crossfade has no second kernel set to fade to: the value waits
        // for the next load.
        program->setst(smooth);
        return false;
    }
    if (smooth >= 0) {
        const int16_t previous = iSmooth;
        iSmooth = smooth;
        try {
            // The host entry switches to the normal period without allocating: the tables hold it too.
            growFades(iNormalperiod + 1);
            mkesf(iPeriod);
        } catch (...) {
            iSmooth = previous;
            throw;
        }
        program->setst(smooth);
        hdimused = std::min(iProgramharmonics, iHdim);
        if (iHdim == 0) {
            iSmooth = -1;
            CoreSgrd fades(fadelock);
            resetFades();
        } else {
            iSmooth = program->getst();
        }
        return true;
    }
    iSmooth = smooth;
    program->setst(smooth);
    CoreSgrd fades(fadelock);
    resetFades();
    return true;
}

void CorePrcs::adjhc() {
    hdimused = std::min(iProgramharmonics, iHdim);
    if (iHdim == 0) {
        iSmooth = -1;
        CoreSgrd hold(fadelock);
        resetFades();
    } else if (program && bSecondkernels && fadeready) {
        // Only a program loaded with its second kernels and fade tables can crossfade; a smoothing
        // value stored since then waits for the next load.
        const int16_t smooth = program->getst();
        if (smooth < 0 || iSmooth >= 0) {
            iSmooth = smooth;
            return;
        }
        // Smoothing resumes: the period may have changed while it was off, so the tables are built
        // afresh for it. Without them it stays off; the harmonic change itself goes ahead.
        try {
            iSmooth = smooth;
            growFades(iNormalperiod + 1);
            mkesf(iPeriod);
        } catch (const CoreAnsx& message) {
            iSmooth = -1;
            CoreLog_::loger(CoreAnsx("smoothing stays off: ") + message, 1);
        }
    }
}
