// CorePrcs: the master settings writer. Rewrites the keys the engine changes at run time at the end
// of MASTER, in a fixed order, and saves the document; every other element stays as it was read.
#include "processor/CorePrcs.h"

#include "base/CoreLog_.h"
#include "base/CoreNode.h"
#include "base/CoreSgrd.h"
#include "base/CoreXml_.h"

#include <cmath>
#include <cstdlib>

namespace {

// The reader counts a bare "0" as absent, but the file's layout frames every value in blanks, and a
// framed " 0 " reads as present: a 0 or false key comes back as written, not as its default.
CoreAnsx integerText(int64_t value) {
    return CoreAnsx(static_cast<long>(value));
}

// "%G" where that reads back as the same integer (1E+06), else the plain decimal (1234567).
CoreAnsx decimalText(int64_t value) {
    const CoreAnsx exponent(static_cast<double>(value));
    if (exponent.ToDouble() == static_cast<double>(value)) return exponent;
    return integerText(value);
}

} // namespace

void CorePrcs::chgms() {
    CoreSgrd hold(settingslock);
    refreshSettings();
}

void CorePrcs::refreshSettings() {
    CoreNode* root = pSettingsdoc ? pSettingsdoc->getrt() : nullptr;
    if (!root || !root->getcd("MASTER")) return;
    const auto put = [this](const CoreAnsx& key, const CoreAnsx& text) {
        const CoreAnsx path[2] = {CoreAnsx("MASTER"), key};
        pSettingsdoc->pappr(path, 2, new CoreNode(text));
    };
    const auto flag = [](bool on) { return CoreAnsx(on ? "1" : "0"); };
    put("METERTYPE", integerText(metertype));
    put("OTIMED", integerText(iOtimed));
    put("OFREQD", integerText(iOfreqd));
    put("PROGRAMRATE", integerText(iProgramrate));
    put("EXPORTAUDIOQUALITY", integerText(iExportaudioquality));
    put("FORCEOFFSET", integerText(iForceoffset));
    put("LTIMED", integerText(ltimed));
    put("LFREQD", integerText(lfreqd));
    put("GUIRATE", integerText(iGuirate));
    put("HDIM", integerText(iHdim));
    // Rounded: the reader divides by 1000, and a floor would lose 0.001 on some values.
    put("BPMDEFAULT", decimalText(std::llround(dBpmdefault * 1000.0)));
    // The look-ahead time as read or set, not a sample count converted back (which drifts).
    put("AHEADLENGTH", decimalText(iLookaheadtime));
    put("SCANBOOT", flag(bScanboot));
    put("AUTOTHREAD", flag(autothread));
    put("FASTBOOT", flag(bFastboot));
    put("RATECONVERSION", integerText(rateconv));
    put("FONTCOLOUR", integerText(iFontcolour));
    put("SKINNAME", sSkinname);
    put("NODROP", flag(bNodrop));
    put("LOADERPRIORITY", integerText(iLoaderpriority));
    put("MODE", flag(bMode));
    put("DSPBUFFER", integerText(iSaveddspbuffer));
    for (int16_t slot = 0; slot < CoreMidi::iCslots; ++slot) {
        bool learn = false;
        int status = 0, controller = 0, channel = 0, value = 0;
        midi->getms(slot, learn, status, controller, channel, value);
        put(CoreAnsx("MIDISTSMIX") + CoreAnsx(slot + 1), integerText(status));
        put(CoreAnsx("MIDICTRMIX") + CoreAnsx(slot + 1), integerText(controller));
    }
}

bool CorePrcs::savem() {
    CoreSgrd hold(settingslock);
    CoreNode* root = pSettingsdoc ? pSettingsdoc->getrt() : nullptr;
    if (!bSettingsfromfile || !root || !root->getcd("MASTER")) {
        // Settings given as text, or a file that was missing or unreadable, are never (over)written.
        CoreLog_::loger(CoreAnsx("master settings not saved: no MASTER read from ") + sMasterfilepath, 1);
        return false;
    }
    refreshSettings();
    // A failed write is logged once, with its reason, where it failed.
    return pSettingsdoc->settf(sMasterfilepath, true, false, false);
}
