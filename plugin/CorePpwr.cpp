#include "plugin/CorePpwr.h"

#include "base/CoreTlst.h"
#include "plugin/CoreLswr.h"

// The records cross the interface by sizeof; these are the sizes the editor and the display expect.
static_assert(sizeof(CorePpwr::PARAMETERRECORD) == 32);
static_assert(sizeof(CorePpwr::STATUSRECORD) == 104);
static_assert(sizeof(CorePpwr::CONTROLMAPRECORD) == 8);
static_assert(sizeof(CorePpwr::MOUSERECORD) == 12);

namespace {

// Holds a CoreSmph for one scope.
class Held {
public:
    explicit Held(CoreSmph& lock) : rLock(lock) { rLock.locks(); }
    ~Held() { rLock.relse(); }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;

private:
    CoreSmph& rLock;
};

} // namespace

CorePpwr::CorePpwr() : pParameterlisteners(new CoreTlst()), pPropertylisteners(new CoreTlst()) {}

CorePpwr::~CorePpwr() {
    freeAll(pPropertylisteners);
    freeAll(pParameterlisteners);
    delete pPropertylisteners;
    delete pParameterlisteners;
}

void CorePpwr::freeAll(CoreTlst* records) {
    for (int32_t i = 0; i < records->Count; ++i) delete static_cast<LISTENERRECORD*>((*records)[i]);
    records->Clear();
}

int32_t CorePpwr::wsprp(int32_t id, int32_t scope, int32_t element, const void* data, uint32_t size) {
    Held call(cCalllock);
    return stprp(id, scope, element, data, size);
}

int32_t CorePpwr::wgprp(int32_t id, int32_t scope, int32_t element, void* data, uint32_t& size) {
    Held call(cCalllock);
    const uint32_t capacity = size;
    size = 0;
    bool writable = false;
    int32_t result = gtpri(id, scope, element, size, writable);
    if (result == iCdone && data != nullptr) result = gtprp(id, scope, element, data, capacity);
    return result;
}

int32_t CorePpwr::gtprp(int32_t, int32_t, int32_t, void*) {
    return iCunknown;
}

int32_t CorePpwr::gtprp(int32_t, int32_t, int32_t, void*, uint32_t) {
    return iCunknown;
}

int32_t CorePpwr::stprp(int32_t, int32_t, int32_t, const void*, uint32_t) {
    return iCunknown;
}

int32_t CorePpwr::gtpri(int32_t, int32_t, int32_t, uint32_t& size, bool& writable) {
    size = 0;
    writable = false;
    return iCunknown;
}

double CorePpwr::gtpar(int32_t) {
    return 10.0;
}

void CorePpwr::stpar(int32_t, float) {}

float CorePpwr::gtsrt() {
    return 0.0f;
}

void CorePpwr::prchg(int32_t id, int32_t, int32_t) {
    Held list(cListlock);
    for (int32_t i = 0; i < pPropertylisteners->Count; ++i) {
        const auto* record = static_cast<const LISTENERRECORD*>((*pPropertylisteners)[i]);
        if (record->event.id == static_cast<uint32_t>(id))
            CoreLswr::lsntf(record->listener, record->object, &record->event, 0.0f);
    }
}

int32_t CorePpwr::stpri(int32_t id, float value, void* object) {
    stpar(id, value); // a host callback: called before the list lock is taken
    Held list(cListlock);
    for (int32_t i = 0; i < pParameterlisteners->Count; ++i) {
        const auto* record = static_cast<const LISTENERRECORD*>((*pParameterlisteners)[i]);
        if (record->event.id == static_cast<uint32_t>(id))
            CoreLswr::lsntf(record->listener, object, &record->event, value);
    }
    return iCdone;
}

int32_t CorePpwr::auaet(CoreLswr* listener, void* object, const AudioUnitEvent& event, bool parameter) {
    if (listener == nullptr) return iCunknown;
    auto* record = new LISTENERRECORD{listener, object, event};
    Held list(cListlock);
    if (!(parameter ? pParameterlisteners : pPropertylisteners)->Add(record)) {
        delete record;
        return iCunknown;
    }
    return iCdone;
}

void CorePpwr::unlnk(CoreLswr* listener) {
    Held list(cListlock);
    unlinkFrom(pPropertylisteners, listener);
    unlinkFrom(pParameterlisteners, listener);
}

void CorePpwr::unlinkFrom(CoreTlst* records, CoreLswr* listener) {
    for (int32_t i = records->Count - 1; i >= 0; --i) {
        auto* record = static_cast<LISTENERRECORD*>((*records)[i]);
        if (record->listener != listener) continue;
        records->Delete(i);
        delete record;
    }
}
