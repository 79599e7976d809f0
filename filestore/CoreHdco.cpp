#include "filestore/CoreHdco.h"

#include "base/CoreLog_.h"
#include "base/CorePool.h"
#include "filestore/CoreFsys.h"

CoreHdco::CoreHdco(CoreAnsx containerPath, bool flag) : sPath(containerPath), bFlag(flag), bStarted(false) {}

bool CoreHdco::addit(CoreAnsx name, int32_t size, const char* data) {
    if (size < 0 || (size > 0 && data == nullptr)) return false;
    bool written = false;
    try {
        // A store of its own for the one item, so nothing of the caller's store is written.
        CorePool pool;
        CoreFsys store(&pool);
        const int32_t id = store.crtit(name);
        if (id >= 0 && store.setit(id, data, size, CoreAnsx(""), true, false))
            written = bStarted ? store.appnd(sPath, name) : store.savea(sPath);
    } catch (const CoreAnsx&) {
        written = false;
    }
    if (!written) {
        CoreLog_::logfl(sPath + ": item " + name + " not written to the container", 1);
        return false;
    }
    bStarted = true;
    return true;
}
