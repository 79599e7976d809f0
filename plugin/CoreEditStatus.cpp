// CoreEdit's status update: the status record the control thread sends on render ticks moves the
// controls, pads, LEDs and meters of the open window. Runs on the listener thread.
#include "plugin/CoreEdit.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/gui/CMovieBitmap.h"
#include "plugin/CoreBitm.h"
#include "plugin/CoreEdfo.h"
#include "plugin/CoreMbit.h"

namespace {

// The editor lock, tried once, and the shared bitmap pool's lock inside it, for one update.
class TriedUpdate {
public:
    TriedUpdate(CoreSmph& editorLock, CoreBitm* pool) : rEditorlock(editorLock), pPool(pool) {
        bHeld = rEditorlock.locka();
    }
    ~TriedUpdate() {
        if (bPooled) pPool->end__();
        if (bHeld) rEditorlock.relse();
    }
    TriedUpdate(const TriedUpdate&) = delete;
    TriedUpdate& operator=(const TriedUpdate&) = delete;
    bool held() const { return bHeld; }
    void takePool() {
        pPool->begin();
        bPooled = true;
    }

private:
    CoreSmph& rEditorlock;
    CoreBitm* pPool;
    bool bHeld = false;
    bool bPooled = false;
};

// One step from value toward the lit end (0) or the dark end (1); a value outside 0..1 (a bank
// never set) starts from the nearer end.
double stepToward(double value, bool lit, double step) {
    value = std::isnan(value) ? 1.0 : std::clamp(value, 0.0, 1.0);
    return lit ? std::max(0.0, value - step) : std::min(1.0, value + step);
}

// Sets a control only when its value changes, so an unchanged window is not redrawn.
void show(CControl* control, float value) {
    if (control && control->getValue() != value) control->setValue(value);
}

// A level that is not a number of dB shows as far below every LED.
double levelOrFarBelow(double level) {
    return std::isfinite(level) ? level : -std::numeric_limits<double>::infinity();
}

} // namespace

void CoreEdit::setld(CMovieBitmap* led, bool lit, double step) {
    if (led) show(led, float(stepToward(led->getValue(), lit, step)));
}

void CoreEdit::setld(CoreMbit* bank, bool lit, double step) {
    if (!bank) return;
    const double next = stepToward(bank->getvl(), lit, step);
    if (next != bank->getvl()) bank->setvl(next);
}

void CoreEdit::setlp(LEDPROGINFO& pair, int16_t state, double step) {
    setld(pair.top, state == 1 || state == 3, step);
    setld(pair.bottom, state == 2 || state == 3, step);
}

void CoreEdit::setlg(METER& meter, double level, double factor, int16_t count) {
    if (!meter.present) return;
    const int leds = std::clamp<int>(count, 0, meter.count);
    level = levelOrFarBelow(level);
    // L: how many LEDs from the top one are dark, with a fraction for the next one.
    double dark = 0.0;
    if (!meter.dbmode) {
        meter.last = std::min(0.0, level);
        dark = -meter.last * factor;
    } else {
        // The table ascends from the top LED: count the values from the last listed LED up while the
        // level has not reached them.
        meter.last = level;
        for (int n = std::min<int>(leds, meter.listed) - 1; n >= 0 && meter.decibels[size_t(n)] >= level; --n)
            dark += 1.0;
    }
    dark = std::isnan(dark) ? double(leds) : std::clamp(dark, 0.0, double(leds));
    if (leds == 0) return;
    if (bGroupmode) {
        if (meter.group) meter.group->setvl(dark / double(leds));
        return;
    }
    int n = int(std::floor(dark));
    double fraction = dark - double(n);
    if (n > leds - 1) {
        n = leds - 1;
        fraction = 1.0;
    }
    // LEDs without a control (absent in the skin, or the window closed) are skipped.
    for (int k = 0; k < leds && size_t(k) < meter.controls.size(); ++k)
        show(meter.controls[size_t(k)], k < n ? 1.0f : k == n ? float(fraction) : 0.0f);
}

void CoreEdit::setUpdateHookForTest(std::function<void()> hook) {
    cEditorlock.locks();
    oUpdatehook = std::move(hook);
    cEditorlock.relse();
}

void CoreEdit::updte() {
    // Tried only: the GUI thread may be inside open, close, idle or a dispatch, and the next record
    // repairs the window.
    TriedUpdate update(cEditorlock, pShared);
    if (!update.held() || !bOpen || !pEffect) return;
    if (oUpdatehook) oUpdatehook();
    CorePpwr::STATUSRECORD status{};
    uint32_t size = sizeof status;
    if (pEffect->wgprp(CorePpwr::iCstatus, 0, 0, &status, size) != CorePpwr::iCdone) return;
    update.takePool();

    if (bDisplayshown) showFontSet(status.fontset);

    for (int i = 0; i < iCslots; ++i) {
        const float value = status.controls[i];
        if (!std::isfinite(value)) continue; // the last value shown stays
        const SLIDERINFO& slot = oSliders[i];
        if (slot.present) show(slot.control, value);
        if (slot.paddriven && slot.pad >= 0 && slot.pad < iCpads && oPads[slot.pad].pad) {
            CorePdxy* pad = oPads[slot.pad].pad;
            const float position = std::clamp(value, 0.0f, 1.0f); // the pad's own range
            if (pad->getho(slot.axis == 0 ? 0 : 1)->getValue() != position) pad->setvl(slot.axis, position);
        }
    }

    if (bControlleds)
        for (int i = 0; i < iCpairs; ++i) setlp(oLedpairs[i], status.leds[i], dCledspeed);

    if (!status.meterrefresh) {
        // Without new levels the meters fall by 1 dB per update.
        for (METER& meter : oMeters) setlg(meter, meter.last - 1.0, dCledgainfactor, meter.count);
    } else {
        double levels[iCmeters];
        for (int m = 0; m < iCmeters; ++m) levels[m] = levelOrFarBelow(status.meters[m]);
        // A meter without its partner shows the louder of the pair.
        setlg(oMeters[0], bMeter1absent ? std::max(levels[0], levels[1]) : levels[0], dCledgainfactor,
              oMeters[0].count);
        setlg(oMeters[1], levels[1], dCledgainfactor, oMeters[1].count);
        setlg(oMeters[2], bMeter3absent ? std::max(levels[2], levels[3]) : levels[2], dCledgainfactor,
              oMeters[2].count);
        setlg(oMeters[3], levels[3], dCledgainfactor, oMeters[3].count);
        setld(pOverflowbank, status.indicator, dCledspeed);
    }
    setld(pBypassbank, status.bypass, dCledgainspeed);
    if (bButtons)
        for (BUTTONINFO& button : oButtons)
            if (button.present) setld(button.bank, button.program == status.slot, dCledgainspeed);
}

void CoreEdit::showFontSet(int16_t set) {
    iFontset = set;
    if (pTextdisplay) pTextdisplay->updte(set);
}
