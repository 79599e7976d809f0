#include "convolution/CoreCubr.h"

#include "base/CoreLog_.h"
#include "platform/DlLayer.h"

#include <memory>
#include <mutex>
#include <type_traits>

namespace {

const char* const entryPrefix = "cudabridge_";
const char* const defaultNames[CoreCubr::iCfilename] = {"VoCuBr03.so", "VoCuBr01.so"};

// The two library paths, built on first use (the plug-in's folder is known only at run time) and
// freed when the library is unloaded; only engines, which are gone by then, ask for them.
struct LibraryPaths {
    std::mutex mutex;
    bool built = false;
    CoreAnsx paths[CoreCubr::iCfilename];
};

LibraryPaths& libraryPaths() {
    static LibraryPaths paths;
    return paths;
}

} // namespace

CoreCubr::CoreCubr() : bLoaded(false), bTried(false), bInitialised(false), pHandle(nullptr), entry{} {}

CoreCubr::~CoreCubr() {
    stop_();
}

CoreAnsx CoreCubr::bCfilename(int index) {
    if (index < 0 || index >= iCfilename) return CoreAnsx("");
    LibraryPaths& state = libraryPaths();
    std::lock_guard<std::mutex> hold(state.mutex);
    if (!state.built) {
        const std::string folder = dlLayerOwnFolder();
        for (int i = 0; i < iCfilename; ++i) state.paths[i] = CoreAnsx(folder.c_str()) + defaultNames[i];
        state.built = true;
    }
    return state.paths[index];
}

void CoreCubr::setfn(const CoreAnsx& first, const CoreAnsx& second) {
    LibraryPaths& state = libraryPaths();
    std::lock_guard<std::mutex> hold(state.mutex);
    state.paths[0] = first;
    state.paths[1] = second;
    state.built = true;
}

void* CoreCubr::loadm(void* handle, const CoreAnsx& name) {
    return dlLayerSymbol(handle, name.c_str());
}

bool CoreCubr::start() {
    if (bTried) return bLoaded;
    bTried = true;

    for (int i = 0; i < iCfilename && !pHandle; ++i) {
        pHandle = dlLayerOpen(bCfilename(i).c_str());
        if (!pHandle) CoreLog_::debug(CoreAnsx(dlLayerError().c_str()), 0, 0);
    }
    if (!pHandle) return false;

    bLoaded = true;
    lookUpEntries();
    // The device modes call every entry without testing it once the check has passed, so a
    // library lacking one counts as failing its check. check and cnm18 are never called; init_
    // and stop_ are called only when present.
    const CoreAnsx missing = missingEntries();
    if (missing.Length() > 0) {
        CoreLog_::debug(CoreAnsx("GPU bridge lacks ") + missing, 0, 0);
        unload();
        return false;
    }

    // The bridge receives the address of a copy of the buffer pointer: a bridge that replaced the
    // pointer must not make us log or free memory we never allocated. The last byte is forced to
    // NUL because nothing obliges the bridge to terminate its text.
    std::unique_ptr<char[]> buffer(new char[iCversionlength]());
    char* bufferCopy = buffer.get();
    const bool works = entry.cudav(0, &bufferCopy) != 0;
    buffer[iCversionlength - 1] = '\0';
    CoreLog_::debug(CoreAnsx(buffer.get()), 0, 0);
    if (works) {
        buffer[0] = '\0';
        bufferCopy = buffer.get();
        entry.versn(&bufferCopy);
        buffer[iCversionlength - 1] = '\0';
        CoreLog_::debug(CoreAnsx(buffer.get()), 0, 0);
    } else {
        unload();
    }
    return bLoaded;
}

void CoreCubr::initd(int device) {
    if (!start() || bInitialised) return;
    if (entry.init_) entry.init_(static_cast<int32_t>(device));
    bInitialised = true;
}

void CoreCubr::stopd() {
    if (!bInitialised) return;
    if (entry.stop_) entry.stop_();
    // Stopped: a later initd starts the device again, and stop_() does not stop it twice.
    bInitialised = false;
}

void CoreCubr::stop_() {
    // Closing a library whose device still runs can take the host down with it: stop it first.
    stopd();
    unload();
}

void CoreCubr::unload() {
    entry = ENTRYSTRUCT{};
    if (pHandle) dlLayerClose(pHandle);
    pHandle = nullptr;
    bLoaded = false;
    bTried = false;
    bInitialised = false;
}

void CoreCubr::lookUpEntries() {
    auto find = [this](auto& slot, const char* name) {
        using Slot = std::remove_reference_t<decltype(slot)>;
        slot = reinterpret_cast<Slot>(loadm(pHandle, CoreAnsx(entryPrefix) + name));
    };
    find(entry.devcs, "devcs");
    find(entry.init_, "init_");
    find(entry.stop_, "stop_");
    find(entry.cudav, "cudav");
    find(entry.check, "check");
    find(entry.versn, "versn");
    find(entry.mallc, "mallc");
    find(entry.free_, "free_");
    find(entry.plan_, "plan_");
    find(entry.despl, "despl");
    find(entry.exect, "exect");
    find(entry.op32p, "op32p");
    find(entry.op32d, "op32d");
    find(entry.op32c, "op32c");
    find(entry.opchp, "opchp");
    find(entry.opchd, "opchd");
    find(entry.cnm15, "cnm15");
    find(entry.cnm16, "cnm16");
    find(entry.af32p, "af32p");
    find(entry.af32d, "af32d");
    find(entry.af32c, "af32c");
    find(entry.afchp, "afchp");
    find(entry.afchd, "afchd");
    find(entry.cnm17, "cnm17");
    find(entry.avnwe, "avnwe");
    find(entry.avcpe, "avcpe");
    find(entry.avade, "avade");
    find(entry.avfde, "avfde");
    find(entry.avvmx, "avvmx");
    find(entry.cnm18, "cnm18");
}

CoreAnsx CoreCubr::missingEntries() const {
    CoreAnsx missing("");
    auto need = [&missing](bool present, const char* name) {
        if (present) return;
        if (missing.Length() > 0) missing += " ";
        missing += CoreAnsx(entryPrefix) + name;
    };
    need(entry.devcs, "devcs");
    need(entry.cudav, "cudav");
    need(entry.versn, "versn");
    need(entry.mallc, "mallc");
    need(entry.free_, "free_");
    need(entry.plan_, "plan_");
    need(entry.despl, "despl");
    need(entry.exect, "exect");
    need(entry.op32p, "op32p");
    need(entry.op32d, "op32d");
    need(entry.op32c, "op32c");
    need(entry.opchp, "opchp");
    need(entry.opchd, "opchd");
    need(entry.cnm15, "cnm15");
    need(entry.cnm16, "cnm16");
    need(entry.af32p, "af32p");
    need(entry.af32d, "af32d");
    need(entry.af32c, "af32c");
    need(entry.afchp, "afchp");
    need(entry.afchd, "afchd");
    need(entry.cnm17, "cnm17");
    need(entry.avnwe, "avnwe");
    need(entry.avcpe, "avcpe");
    need(entry.avade, "avade");
    need(entry.avfde, "avfde");
    need(entry.avvmx, "avvmx");
    return missing;
}
