// The effect's property interface: the parameter records over the beans, the mirrors of the editor,
// display and control-thread records, and the size and result rules every id follows.
#include "plugin/CoreZrlg.h"

#include "base/CoreLog_.h"
#include "base/CoreSgrd.h"
#include "display/CoreDsif.h"
#include "display/CoreDspc.h"
#include "plugin/CoreCtrl.h"
#include "plugin/CoreMstr.h"
#include "processor/CorePrcs.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

static_assert(sizeof(CoreDspc::MESSAGELOC) == CoreZrlg::iCdisplaymessagesize);
static_assert(sizeof(CoreCnst::POPMENUENTRY) == CoreZrlg::iCmenuselectionsize);

namespace {

bool isParameterRecord(int32_t id) {
    return id >= CorePpwr::iCparameterrecord && id < CorePpwr::iCparameterrecord + CorePpwr::iCparameterrecords;
}

// The ids whose size changes with the display's contents.
bool isVariable(int32_t id) {
    return id == CorePpwr::iCdisplaydata || id == CorePpwr::iCmenucontents;
}

bool isKnown(int32_t id) {
    return isParameterRecord(id) || (id >= CorePpwr::iCdisplaymessage && id <= CorePpwr::iCcontrolmap);
}

CorePrcs::BEANSTRUCT slotIndex(int32_t slot) {
    CorePrcs::BEANSTRUCT bean{};
    bean.index = slot;
    return bean;
}

} // namespace

uint32_t CoreZrlg::fixedSize(int32_t id) {
    if (isParameterRecord(id)) return sizeof(PARAMETERRECORD);
    switch (id) {
    case iCdisplaymessage: return iCdisplaymessagesize;
    case iCmouse: return iCmousesize;
    case iCstatus: return sizeof(STATUSRECORD);
    case iCclient:
    case iCtextfocus:
    case iCviewclose: return 1;
    case iCmenuarm: return iCmenuarmsize;
    case iCmenuselection: return iCmenuselectionsize;
    case iCcontrolmap: return sizeof(CONTROLMAPRECORD);
    default: return 0;
    }
}

int32_t CoreZrlg::gtpri(int32_t id, int32_t scope, int32_t, uint32_t& size, bool& writable) {
    size = 0;
    writable = false;
    if (scope != 0 || !isKnown(id)) return iCunknown;
    size = isVariable(id) ? variableSize(id) : fixedSize(id);
    return iCdone;
}

uint32_t CoreZrlg::variableSize(int32_t id) {
    if (id == iCdisplaydata) {
        CoreSgrd hold(cDisplaydatalock);
        return static_cast<uint32_t>(std::max(oDisplaydata.total, 0)) * sizeof(double);
    }
    CoreSgrd hold(oMenucontents.lock);
    return static_cast<uint32_t>(std::max(oMenucontents.count, 0)) * sizeof(CoreCnst::POPMENUENTRY);
}

CoreDsif* CoreZrlg::display() const {
    return pMaster ? pMaster->getds() : nullptr;
}

// The display's last exported cells, as many as the caller has room for.
int32_t CoreZrlg::copyDisplayData(void* data, uint32_t capacity) {
    CoreDsif* cells = display();
    CoreSgrd hold(cDisplaydatalock);
    if (!cells || oDisplaydata.total <= 0 || !oDisplaydata.values) return iCdone;
    cells->flldd(&oDisplaydata);
    const size_t bytes = static_cast<size_t>(oDisplaydata.total) * sizeof(double);
    std::memcpy(data, oDisplaydata.values, std::min<size_t>(bytes, capacity));
    return iCdone;
}

// The popup menu's entries as the display last pushed them, as many as the caller has room for.
int32_t CoreZrlg::copyMenuContents(void* data, uint32_t capacity) {
    CoreSgrd hold(oMenucontents.lock);
    if (oMenucontents.count <= 0 || !oMenucontents.items) return iCdone;
    const size_t bytes = static_cast<size_t>(oMenucontents.count) * sizeof(CoreCnst::POPMENUENTRY);
    std::memcpy(data, oMenucontents.items, std::min<size_t>(bytes, capacity));
    return iCdone;
}

// The editor's choice replaces the title record (when the menu has one), then its text goes to the
// display, outside the holder's lock: setmr takes the display lock, which is taken before it.
void CoreZrlg::chooseMenuEntry(const void* data) {
    CoreCnst::POPMENUENTRY chosen;
    std::memcpy(&chosen, data, sizeof chosen);
    chosen.text[CoreCnst::iCpopuptext - 1] = '\0'; // a record from outside may lack its terminator
    {
        CoreSgrd hold(oMenucontents.lock);
        if (oMenucontents.count > 0 && oMenucontents.items) oMenucontents.items[0] = chosen;
    }
    if (CoreDsif* target = display()) target->setmr(CoreAnsx(chosen.text));
}

int32_t CoreZrlg::gtprp(int32_t id, int32_t scope, int32_t element, void* data) {
    if (scope != 0) return iCunknown;
    if (bError || !pProcessor) return iCerrorstate;
    // Without a capacity a record whose size varies could overrun the caller's buffer.
    if (isVariable(id)) return iCunknown;
    return gtprp(id, scope, element, data, fixedSize(id));
}

int32_t CoreZrlg::gtprp(int32_t id, int32_t scope, int32_t, void* data, uint32_t capacity) {
    if (scope != 0) return iCunknown;
    if (bError || !pProcessor) return iCerrorstate;
    if (data == nullptr) return iCunknown;
    const auto copyOut = [&](const void* mirror, uint32_t size) {
        cMirrorlock.locks();
        std::memcpy(data, mirror, std::min(size, capacity));
        cMirrorlock.relse();
        return iCdone;
    };
    if (isParameterRecord(id)) {
        PARAMETERRECORD record{};
        const uint32_t copied = std::min<uint32_t>(sizeof record, capacity);
        std::memcpy(&record, data, copied); // the fields a get does not fill stay as the caller had them
        try {
            getParameterRecord(id - iCparameterrecord, record);
        } catch (const CoreAnsx& failure) {
            CoreLog_::loger(CoreAnsx("CoreZrlg gtprp: ") + failure, 1);
            return iCunknown;
        }
        std::memcpy(data, &record, copied);
        return iCdone;
    }
    switch (id) {
    case iCmouse: return copyOut(aMouse, sizeof aMouse);
    case iCstatus: return copyOut(&oStatus, sizeof oStatus);
    case iCtextfocus: return copyOut(&iTextfocus, sizeof iTextfocus);
    case iCmenuarm: return copyOut(aMenuarm, sizeof aMenuarm);
    case iCdisplaydata: return copyDisplayData(data, capacity);
    case iCmenucontents: return copyMenuContents(data, capacity);
    default: return iCunknown;
    }
}

int32_t CoreZrlg::stprp(int32_t id, int32_t scope, int32_t, const void* data, uint32_t size) {
    if (bError || !pProcessor) return iCerrorstate;
    if (scope != 0 || !isKnown(id) || isVariable(id)) return iCunknown;
    // The mirrors are fixed: a record of another size is refused whole.
    if (data == nullptr || size != fixedSize(id)) return iCunknown;
    if (isParameterRecord(id)) return setParameterRecord(id - iCparameterrecord, data);
    switch (id) {
    case iCmouse: copyIn(aMouse, data, size); break;
    case iCstatus: copyIn(&oStatus, data, size); break;
    case iCtextfocus: copyIn(&iTextfocus, data, size); break;
    case iCmenuarm: copyIn(aMenuarm, data, size); break;
    case iCclient:
        if (!pControl) break;
        if (*static_cast<const uint8_t*>(data) != 0)
            pControl->addcl();
        else
            pControl->rmvcl();
        break;
    case iCcontrolmap: {
        copyIn(&oControlmap, data, size);
        const CONTROLMAPRECORD map = getcm();
        if (pControl) pControl->setmc(map.slot, map.value); // waits for the control lock
        break;
    }
    case iCdisplaymessage: {
        CoreDspc::MESSAGELOC message;
        std::memcpy(&message, data, sizeof message);
        if (pQueue) pQueue->addms(&message);
        break;
    }
    case iCmenuselection:
        try {
            chooseMenuEntry(data);
        } catch (const CoreAnsx& failure) {
            CoreLog_::loger(CoreAnsx("CoreZrlg stprp: ") + failure, 1);
            return iCunknown;
        }
        break;
    default: break; // 100109: answered, nothing kept
    }
    return iCdone;
}

void CoreZrlg::copyIn(void* mirror, const void* data, uint32_t size) {
    cMirrorlock.locks();
    std::memcpy(mirror, data, size);
    cMirrorlock.relse();
}

CoreZrlg::CONTROLMAPRECORD CoreZrlg::getcm() {
    cMirrorlock.locks();
    const CONTROLMAPRECORD map = oControlmap;
    cMirrorlock.relse();
    return map;
}

void CoreZrlg::zeroMirrors() {
    cMirrorlock.locks();
    std::memset(aMouse, 0, sizeof aMouse);
    std::memset(&oStatus, 0, sizeof oStatus);
    iTextfocus = 0;
    std::memset(aMenuarm, 0, sizeof aMenuarm);
    cMirrorlock.relse();
}

// The flags are read as bytes: a caller's record may hold any byte there.
int32_t CoreZrlg::setParameterRecord(int32_t slot, const void* data) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    const auto flag = [bytes](size_t offset) { return bytes[offset] != 0; };
    const auto number = [bytes](size_t offset) {
        double value;
        std::memcpy(&value, bytes + offset, sizeof value);
        return value;
    };
    const double lastValue = number(offsetof(PARAMETERRECORD, lastvalue));
    const double value = number(offsetof(PARAMETERRECORD, value));
    CorePrcs::BEANSTRUCT bean = slotIndex(slot);
    try {
        if (flag(offsetof(PARAMETERRECORD, lastsent)) && std::isfinite(lastValue))
            pProcessor->setbd(235, lastValue, &bean);
        if (flag(offsetof(PARAMETERRECORD, touched))) {
            CorePrcs::BEANSTRUCT none{};
            pProcessor->setbl(83, slot, &none);
        }
        if (flag(offsetof(PARAMETERRECORD, valueset)) && std::isfinite(value)) pProcessor->setbd(155, value, &bean);
    } catch (const CoreAnsx& failure) {
        CoreLog_::loger(CoreAnsx("CoreZrlg stprp: ") + failure, 1);
        return iCunknown;
    }
    return iCdone;
}

void CoreZrlg::getParameterRecord(int32_t slot, PARAMETERRECORD& record) {
    CorePrcs::BEANSTRUCT bean = slotIndex(slot);
    record.locked = pProcessor->getbb(154, &bean);
    record.lastvalue = pProcessor->getbd(235, &bean);
}

void CoreZrlg::stpar(int32_t id, float value) {
    if (id < 0 || id >= iCparameters || !std::isfinite(value)) return;
    setParameterAutomated(id, value);
}
