// CorePrcs: the program update periods (normal and offline) from PROGRAMRATE, sample-rate changes,
// which paths run FFT kernel modes, and the kernel lengths of the loaded program as times.
#include "processor/CorePrcs.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "convolution/CoreCnvl.h"
#include "modulation/CoreIfce.h"
#include "program/CoreProg.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

int32_t toInt(int64_t n) {
    return static_cast<int32_t>(std::clamp<int64_t>(n, std::numeric_limits<int32_t>::min(),
                                                    std::numeric_limits<int32_t>::max()));
}

// The record a harmonic's figures come from: a hybrid program keeps its linear kernels in the last.
int16_t hybridRecord(bool hybrid, int16_t h, int16_t last) {
    return hybrid && h == 0 ? last : h;
}

} // namespace

void CorePrcs::adjrt(int32_t us) {
    if (isfailed()) return;
    const int32_t step = blockdim;
    const auto raised = [step](int64_t n) {
        const int32_t r = CoreButl::setmn(toInt(n), step);
        return std::max(r, 1);
    };
    const int32_t normal = raised(CoreButl::tpfup(samplerate, us));
    // Below 1 (a settings file or bean 45) it would divide by zero or lengthen the period.
    const int32_t quality = std::max(iExportaudioquality, 1);
    const int32_t offline = raised(normal / quality);
    // The crossfade reads its tables up to the period: they grow first, and a pool that refuses them
    // leaves the previous periods and tables in force (the error goes on to the caller).
    if (iSmooth >= 0) mkesf(normal);
    iRequestedperiod = us;
    iNormalperiod = normal;
    iOfflineperiod = offline;
    iPeriod = normal;
    iCountdown = 0;
    iLastlevel = 0;
    CoreLog_::debug(CoreAnsx("slow PROG RATE ") + CoreAnsx(normal), 0, 2);
    CoreLog_::debug(CoreAnsx("fast PROG RATE ") + CoreAnsx(offline), 0, 2);
    activerate = step >= 2 ? toInt(static_cast<int64_t>(CoreButl::upftp(samplerate, normal))) : us;
}

void CorePrcs::updrt(int32_t us) {
    if (isfailed()) return;
    EngineGuard hold(*this);
    adjrt(us);
}

void CorePrcs::applyRate(int32_t rate, const char* caller) {
    if (rate == samplerate) return;
    samplerate = rate;
    program->setrt(rate);
    if (booted()) adjrt(activerate);
    CoreLog_::debug(CoreAnsx(caller) + CoreAnsx(rate), 0, 3);
}

void CorePrcs::irate(int32_t rate) {
    if (isfailed() || rate < 1) return;
    iRequestedrate = rate;
    EngineGuard hold(*this);
    applyRate(rate, "irate *rate:");
}

void CorePrcs::updgu(int32_t rate) {
    if (isfailed() || rate < 1) return;
    iRequestedrate = rate;
    if (!booted() || passthru.getvl()) return;
    // The control thread never waits: a block or a load holding a lock means the next poll retries.
    EngineGuard hold(*this, CoreSgrd::cConce);
    if (!hold.taken()) return;
    applyRate(rate, "updgu *rate:");
    program->updte(false, 0.0, 0.0, tempo);
    paramsupdated.store(true);
}

void CorePrcs::adjot() {
    if (isfailed() || !program) return;
    for (int16_t h = 0; h < iHarmonicsloaded && h <= hdimmax; ++h)
        program->setot(h, convtab[h].convolver->getbe() ? 1 : 0);
    if (bHybrid) program->setot(hdimmax, 1);
}

void CorePrcs::setmc(int32_t control, int32_t steps) {
    if (isfailed() || control < 0 || control >= CoreProg::iCcontrols) return;
    program->getif(control)->settf(steps);
}


double CorePrcs::getmo(int16_t h) {
    if (isfailed() || h < 0 || h > hdimmax) return 0.0;
    return CoreButl::upftp(samplerate, program->getmo(hybridRecord(bHybrid, h, hdimmax)));
}

double CorePrcs::getco(int16_t h) {
    if (isfailed() || h < 0 || h > hdimmax) return 0.0;
    return CoreButl::upftp(samplerate, program->getco(hybridRecord(bHybrid, h, hdimmax)));
}

double CorePrcs::getod(int16_t h, int16_t stage) {
    if (isfailed() || h < 0 || h > hdimmax) return 0.0;
    const int16_t record = stage == 1 ? hybridRecord(bHybrid, h, hdimmax) : h;
    const int32_t size = program->getod(record, stage);
    return size == 0 ? 0.0 : CoreButl::upftp(samplerate, size);
}

double CorePrcs::getib(int16_t h, int16_t channel, bool flag) {
    if (isfailed() || h < 0 || h > hdimmax) return 0.0;
    const int32_t size = program->getib(h, channel, flag);
    return size == 0 ? 0.0 : CoreButl::upftp(samplerate, size);
}

bool CorePrcs::getoe(int16_t h, int16_t which) {
    if (isfailed() || h < 0 || h > hdimmax) return false;
    const CoreCnvl* convolver = convtab[h].convolver;
    if (which == 1) return convolver->getbe();
    if (which == 0) return !convolver->getbe() && convolver->selectedMode() >= 0;
    return false;
}

void CorePrcs::setco(int16_t h, double us) {
    if (isfailed() || h < 0 || h > hdimmax || !std::isfinite(us)) return;
    const double samples = std::trunc(us) * samplerate / 1e6;
    if (!(std::fabs(samples) <= std::numeric_limits<int32_t>::max())) return;
    EngineGuard hold(*this);
    const int16_t record = hybridRecord(bHybrid, h, hdimmax);
    program->setco(record, toInt(CoreButl::tpfup(samplerate, static_cast<int64_t>(std::trunc(us)))),
                   convtab[record].convolver->getbe());
}

