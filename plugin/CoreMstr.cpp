#include "plugin/CoreMstr.h"

#include "base/CoreBlnk.h"
#include "base/CoreHutl.h"
#include "base/CoreLog_.h"
#include "base/CorePool.h"
#include "base/CoreSmph.h"
#include "base/CoreVutl.h"
#include "convolution/CorePlel.h"
#include "display/CoreDsif.h"
#include "display/CoreDspc.h"
#include "filestore/CoreFsys.h"
#include "plugin/CoreSkin.h"
#include "plugin/CoreZrlg.h"
#include "plugin/PluginDisplayHost.h"
#include "processor/CorePrcs.h"

#include <utility>

namespace {

// The statics live from load to unload of the library; the lock is built before any instance.
CoreSmph sharedLock;
int32_t sharedReferences = 0;
CorePool* sharedPoolObject = nullptr;
CorePlel* sharedRegistryObject = nullptr;

CoreMstr::TestSeams& seams() {
    static CoreMstr::TestSeams installed;
    return installed;
}

// Releases the static lock also when a throw leaves the scope.
struct SharedGuard {
    SharedGuard() { sharedLock.locks(); }
    ~SharedGuard() { sharedLock.relse(); }
    SharedGuard(const SharedGuard&) = delete;
    SharedGuard& operator=(const SharedGuard&) = delete;
};

// The bundle seam: folder, then file name.
std::pair<CoreAnsx, CoreAnsx>& bundleSeam() {
    static std::pair<CoreAnsx, CoreAnsx> installed;
    return installed;
}

} // namespace

void CoreMstr::setSeamsForTest(TestSeams given) {
    seams() = std::move(given);
}

void CoreMstr::setBundleForTest(const CoreAnsx& folder, const CoreAnsx& name) {
    bundleSeam() = {folder, name};
}

int32_t CoreMstr::sharedCount() {
    SharedGuard guard;
    return sharedReferences;
}

CorePool* CoreMstr::sharedPool() {
    SharedGuard guard;
    return sharedPoolObject;
}

CorePlel* CoreMstr::sharedRegistry() {
    SharedGuard guard;
    return sharedRegistryObject;
}

void CoreMstr::step(int number) {
    if (seams().beforeStep) seams().beforeStep(number);
}

CoreMstr::CoreMstr(const CoreAnsx& name, int32_t sampleRate, const CoreAnsx& path, void* module, void* effect) {
    try {
        build(name, sampleRate, path, module, effect);
    } catch (...) {
        release(true);
        throw;
    }
}

void CoreMstr::build(const CoreAnsx& name, int32_t sampleRate, const CoreAnsx& path, void* module, void* effect) {
    step(2);
    bool memoryFree = true;
    if (seams().memoryTest) {
        memoryFree = seams().memoryTest();
    } else {
        void* probe = CoreVutl::mllc8(CorePrcs::iCmemoryrequirements);
        memoryFree = probe != nullptr;
        CoreVutl::free8(probe);
    }
    if (!memoryFree) {
        bError = true;
        return;
    }
    step(3);
    pPool = new CorePool();
    step(4);
    enterShared();
    step(5);
    if (name == CoreAnsx("0") && bundleSeam().first.Length() > 0) {
        sBundlefolder = bundleSeam().first;
        sBundlename = bundleSeam().second;
    } else if (name == CoreAnsx("0")) {
        sBundlename = CoreHutl::appnm(module, sBundlefolder);
    } else {
        sBundlefolder = name;
        sBundlename = path;
    }
    step(6);
    pBlink = new CoreBlnk();
    pQueue = new CoreDspc();
    pStore = new CoreFsys(pPool);
    step(7);
    CorePlel* registry = sharedRegistry();
    pProcessor = new CorePrcs(pPool, sBundlefolder, sampleRate, pBlink, sBundlename, false, false, pStore,
                              CoreAnsx("0"), false, registry);
    if (pProcessor->isfailed()) throw CoreAnsx("the engine could not be built (see the lines above)");
    step(8);
    CorePrcs::BEANSTRUCT none{};
    pSkin = new CoreSkin(pPool, pProcessor->getbs(62, &none), pStore);
    step(9);
    // The selected font set indexes the skin's sets; a settings file may hold any value.
    const int16_t sets = pSkin->getsk()->fontsets;
    const int16_t selected = pProcessor->getbh(32, &none);
    if (selected > sets - 1)
        pProcessor->setbh(32, static_cast<int16_t>(sets - 1), &none);
    else if (selected < 0)
        pProcessor->setbh(32, 0, &none);
    step(10);
    CorePpwr* properties = effect ? static_cast<CoreZrlg*>(effect) : nullptr;
    pHost = new PluginDisplayHost(properties, pSkin);
    pDisplay = new CoreDsif(pProcessor, pQueue, pBlink, pHost); // starts the display thread
}

void CoreMstr::enterShared() {
    SharedGuard guard;
    if (sharedReferences == 0) {
        CorePool* pool = new CorePool();
        try {
            sharedRegistryObject = new CorePlel(pool);
        } catch (...) {
            delete pool;
            throw;
        }
        sharedPoolObject = pool;
    }
    ++sharedReferences;
    bCounted = true;
}

void CoreMstr::leaveShared() noexcept {
    if (!bCounted) return;
    bCounted = false;
    SharedGuard guard;
    if (--sharedReferences == 0) {
        delete sharedRegistryObject;
        sharedRegistryObject = nullptr;
        delete sharedPoolObject;
        sharedPoolObject = nullptr;
    }
}

void CoreMstr::release(bool failed) noexcept {
    delete pDisplay; // ends its thread, finishing a running batch on the engine first
    pDisplay = nullptr;
    delete pHost;
    pHost = nullptr;
    delete pSkin;
    pSkin = nullptr;
    delete pProcessor; // stops its worker and frees the engine
    pProcessor = nullptr;
    delete pStore;
    pStore = nullptr;
    delete pQueue;
    pQueue = nullptr;
    delete pBlink;
    pBlink = nullptr;
    if (pPool) pPool->logst();
    leaveShared();
    if (pPool && failed && seams().ownPoolReleased) seams().ownPoolReleased(pPool->getma());
    delete pPool; // logs the blocks still held
    pPool = nullptr;
}

CoreMstr::~CoreMstr() {
    if (!bError) release(false);
}
