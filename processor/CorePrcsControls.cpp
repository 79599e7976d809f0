// CorePrcs: control values from the host, the display and MIDI, and the parameter refresh.
#include "processor/CorePrcs.h"

#include "modulation/CoreIfce.h"
#include "modulation/CorePrm_.h"
#include "program/CoreProg.h"

void CorePrcs::setiv(int16_t i, double v, bool normal) {
    if (isfailed() || !booted() || i < 0 || i >= CoreProg::iCcontrols) return;
    CoreIfce* control = program->getif(i);
    const double old = control->getvl(false);
    control->setvl(v, normal);
    if (!(old == v)) { // a NaN counts as a change
        statechanged.store(true);
        clipflag.setvl(false);
    }
}

void CorePrcs::mdupd(CoreMidi::MIDISLIDERCALLBACKINFO* info) {
    if (!info || isfailed()) return;
    applyMidi(info, false);
}

// Applies the changed slots to their controls; booting is read once, at the first changed slot, unless
// the caller has just read it.
void CorePrcs::applyMidi(CoreMidi::MIDISLIDERCALLBACKINFO* info, bool bootedChecked) {
    bool anyMoved = false;
    for (int i = 0; i < CoreMidi::iCslots; ++i) {
        if (!info[i].changed) continue;
        if (!bootedChecked) {
            if (!booted()) return;
            bootedChecked = true;
        }
        const double v = info[i].value;
        CoreIfce* control = program->getif(i);
        const double old = control->getvl(false);
        control->setvl(v, true);
        if (old != v) anyMoved = true;
    }
    if (anyMoved) {
        statechanged.store(true);
        clipflag.setvl(false);
    }
}

void CorePrcs::mdctr(int32_t delay, int32_t packed) {
    mdctr(delay, packed & 255, (packed >> 8) & 255, (packed >> 16) & 255, (packed >> 24) & 255);
}

void CorePrcs::mdctr(int32_t delay, int32_t b0, int32_t b1, int32_t b2, int32_t b3) {
    // Before the boot has finished a message is dropped, not queued.
    if (isfailed() || !booted()) return;
    applyMidi(midi->mdctr(delay, b0, b1, b2, b3), true);
}

void CorePrcs::setms(int16_t slot, int32_t status, int32_t controller) {
    if (midi) midi->setms(slot, status, controller);
}

void CorePrcs::updpm() {
    if (isfailed() || !booted()) return;
    EngineGuard hold(*this, CoreSgrd::cConce);
    if (!hold.taken()) return; // a block or a load runs; the next request does the work
    // The sources first, without time passing, so that the parameters read the controls' new values.
    program->updte(false, 0.0, 0.0, tempo);
    paramsupdated.store(true);
    for (int16_t k = 0; k < CoreProg::iCparameters; ++k) {
        if (CorePrm_* parameter = program->getpm(k)) parameter->updte();
    }
}

double CorePrcs::getsc(const CoreAnsx& name) const {
    return program ? program->getsc(name) : 0.0;
}
