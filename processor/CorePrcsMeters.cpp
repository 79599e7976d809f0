// CorePrcs: the ballistics of the six level followers and the indicator refresh the display reads.
#include "processor/CorePrcs.h"

#include "base/CoreButl.h"
#include "base/CoreXutl.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreIfce.h"
#include "program/CoreProg.h"

namespace {

struct Ballistics {
    int32_t attackUs;
    int32_t releaseUs;
    int16_t mode;
};

// Followers 4 and 5 (the mono mixes) keep one setting for every meter type.
Ballistics ballisticsFor(int follower, int16_t type) {
    if (follower >= 4) return {300000, 300000, 4};
    if (type == 8) return {2000000, 0, 8};
    if (type == 2) return {60000, 30000, 2};
    return {300000, 300000, type};
}

} // namespace

bool CorePrcs::setmt(int16_t type, bool force) {
    if (isfailed() || type < 0 || type >= iCmetertypes) return false;
    if (!force && type == metertype) return true;
    // The block processor feeds the followers and the meter refresh reads them.
    EngineGuard hold(*this);
    const CoreAnsx none("");
    for (int i = 0; i < 6; ++i) {
        const Ballistics b = ballisticsFor(i, type);
        followers[i]->setvl(static_cast<int32_t>(CoreButl::tpfup(samplerate, b.attackUs)), 0, none,
                            static_cast<int32_t>(CoreButl::tpfup(samplerate, b.releaseUs)), 0, none, -1.0,
                            b.mode, false, none, false, none, none, false, 1.0, false, none, none, false, 0.0,
                            2, none);
    }
    metertype = type;
    return true;
}

bool CorePrcs::updld() {
    const bool arrived = meterflag.exchange(false);
    if (isfailed() || !booted()) return arrived;
    bool clip = clipflag.getvl();
    if (clip && CoreXutl::ttime() - cliptime.load(std::memory_order_relaxed) > cliphold) {
        clipflag.setvl(false);
        clip = false;
    }
    clipshown.store(clip);

    // Never waits: while a load or a block holds a lock the display keeps the last values.
    EngineGuard hold(*this, CoreSgrd::cConce);
    for (int i = 0; i < 8; ++i) {
        CoreIfce* control = program->getif(i);
        controlleds[i].store(hold.taken() ? control->getml() : control->getll());
    }
    if (arrived) {
        for (int i = 0; i < 4; ++i) {
            if (hold.taken()) meterdb[i] = followers[i]->getdb();
            meterdbshown[i].store(meterdb[i]);
        }
    }
    return arrived;
}
