// CorePrcs: construction of what the engine owns, teardown, and the engine lock pair.
#include "processor/CorePrcs.h"

#include "base/CoreLog_.h"
#include "base/CorePmsg.h"
#include "base/CorePool.h"
#include "base/CoreTime.h"
#include "base/CoreVars.h"
#include "base/CoreXml_.h"
#include "base/CoreXutl.h"
#include "convolution/CoreCnvl.h"
#include "convolution/CoreCubr.h"
#include "filestore/CoreFsys.h"
#include "modulation/CoreEnvf.h"
#include "platform/IppLayer.h"
#include "processor/CoreDcry.h"
#include "processor/CoreMmry.h"
#include "program/CoreProg.h"

#include <cstring>

namespace {

constexpr const char* poolLabel = "PRCS";

template <class T>
void deleteAndClear(T*& object) {
    delete object;
    object = nullptr;
}

} // namespace

CorePrcs::CorePrcs(CorePool* pool, CoreAnsx pluginFolder, int32_t sampleRate, CoreBlnk* blink,
                   CoreAnsx bundleName, bool noMetadataCache, bool keepLogSettings, CoreFsys* masterStore,
                   CoreAnsx settingsText, bool storeFlag, CorePlel* registry)
    : CoreTthr(true), pool(pool), sPluginfolder(pluginFolder), sBundlename(bundleName), pBlink(blink),
      bNocache(noMetadataCache), bKeeplog(keepLogSettings), pMasterstore(masterStore), bStoreflag(storeFlag),
      pRegistry(registry), samplerate(sampleRate), iRequestedrate(sampleRate) {
    // Whatever fails, nothing leaves the constructor: the engine is marked failed, keeps what was
    // built for the destructor, and answers every later call with its defaults.
    try {
        build(settingsText);
    } catch (const CoreAnsx& message) {
        engineFailed.store(true);
        CoreLog_::loger(CoreAnsx("Engine construction failed: ") + message, 1);
    } catch (...) {
        engineFailed.store(true);
        CoreLog_::loger(CoreAnsx("Engine construction failed"), 1);
    }
}

void CorePrcs::build(const CoreAnsx& settingsText) {
    midi = new CoreMidi;
    pOutsidemeter = new CoreTime;
    pInsidemeter = new CoreTime;
    pSettingsdoc = new CoreXml_;
    readSettings(settingsText);
    deriveSizes();
    chooseSkin();
    sDebugfolder = sDatapath + "DEBUG/";
    logSettings();

    if (iIppthreads > 0) ippSetNumThreads(iIppthreads);
    int fftThreads = 0;
    ippGetNumThreads(&fftThreads);
    CoreLog_::debug(CoreAnsx("ippGetNumThreads:") + CoreAnsx(fftThreads), 0, 3);

    pBridge = new CoreCubr;
    const int records = hdimmax + CoreProg::iChworkdim;
    convtab = new CONVOLVERLOC[records]();
    pPlans = new PLANLOC[records]();
    for (int h = 0; h < records; ++h) {
        convtab[h].mode = -1;
        convtab[h].convolver = new CoreCnvl(pool, CoreAnsx("H") + CoreAnsx(h + 1), 0, pBridge);
    }
    pChunk = static_cast<char*>(pool->mallc(4, CoreMmry::iCchunkbufferdim, poolLabel));
    std::memset(pChunk, 0, CoreMmry::iCchunkbufferdim);
    iChunkdim = CoreMmry::iCchunkbufferdim;

    // The master store makes the memory read through it: no metadata cache, no folder scan.
    memory = new CoreMmry(pool, sDatapath, static_cast<int16_t>(oAlternatives.size()), oAlternatives.data(),
                          sSetupsubpath, sProgramsubpath, sVectorsubpath, sCachesubpath,
                          bCachepresent && !bNocache, pMasterstore);

    for (CoreEnvf*& follower : followers)
        follower = new CoreEnvf(pool, CoreAnsx(""), false, nullptr, nullptr, nullptr, nullptr);
    for (int c = 0; c < 2; ++c) {
        inring[c] = ring(workdim);
        outring[c] = ring(workdim);
        passring[c] = ring(workdim);
        blockbuf[c] = ring(dspdim);
        scratchbuf[c] = ring(dspdim);
        feedbackbuf[c] = ring(dspdim);
        monobuf[c] = ring(dspdim);
    }
    for (std::atomic<int16_t>& led : controlleds) led.store(3);

    pBatchvars = new CoreVars;
    programdoc = new CoreXml_;
    files = new CoreFsys(pool, sDatapath, false, bStoreflag);
    pSecondstore = new CoreFsys(pool, sDatapath, false, bStoreflag);
    pDictionary = new CoreDcry(sDatapath + sDictionarysubpath + sDictionaryromname);
    memory->setdc(pDictionary);
    oWorkerevent.ResetEvent();
    oAcknowledge.ResetEvent();
    pStatusboard = new CorePmsg(1, 256);

    program = new CoreProg(pool, files, hdimmax, sVectorsubpath, ltimed, lfreqd, iForceoffset, iLookaheadroom,
                           iDelaycompensation, workdim, dspdim, pBlink, pRegistry);
    program->setsb(pStatusboard);
    for (int h = 0; h < records; ++h) program->setcv(h, convtab[h].convolver);
    program->setrt(samplerate);
    program->setrc(rateconv);
    startWorker(); // last: only a construction that did not fail starts the worker
}

double* CorePrcs::ring(int32_t count) {
    double* block = static_cast<double*>(pool->mallc(0, count, poolLabel));
    std::memset(block, 0, sizeof(double) * static_cast<size_t>(count));
    return block;
}

void CorePrcs::freeRing(double*& block) {
    if (block) pool->free_(block);
    block = nullptr;
}

CorePrcs::~CorePrcs() {
    if (!isfailed()) {
        // Host calls get the dry path while the engine is taken apart.
        {
            CoreSgrd hold(passlock);
            setPassThrough(true); // the host entry reads the mirror
        }
        lockw(enginelock, iCmswatchdog, "enginelock");
        takeBlockLock(iWatchdogms, "the engine's teardown");
        {
            CoreSgrd hold(passlock);
            engineFailed.store(true); // a host call that gets here from now on returns at once
        }
        // Plans are freed, and the bridge stopped, on the thread that made them.
        if (convtab)
            for (int16_t h = 0; h < hdimmax + CoreProg::iChworkdim; ++h) setcf(h);
        stopWorker();
        release();
        blocklock.relse();
        enginelock.relse();
    } else {
        release();
    }
}

void CorePrcs::release() {
    dealq();
    deleteAndClear(program);
    deleteAndClear(pStatusboard);
    deleteAndClear(pDictionary);
    deleteAndClear(pSettingsdoc);
    deleteAndClear(files);
    deleteAndClear(pSecondstore);
    deleteAndClear(pBatchvars);
    deleteAndClear(programdoc);
    delsf();
    for (int c = 0; c < 2; ++c) {
        freeRing(inring[c]);
        freeRing(outring[c]);
        freeRing(passring[c]);
        freeRing(blockbuf[c]);
        freeRing(scratchbuf[c]);
        freeRing(feedbackbuf[c]);
        freeRing(monobuf[c]);
    }
    for (CoreEnvf*& follower : followers) deleteAndClear(follower);
    deleteAndClear(memory);
    if (pChunk) pool->free_(pChunk);
    pChunk = nullptr;
    // Deleting a convolver frees the plans it still holds.
    if (convtab) {
        for (int h = 0; h < hdimmax + CoreProg::iChworkdim; ++h) deleteAndClear(convtab[h].convolver);
    }
    delete[] convtab;
    convtab = nullptr;
    delete[] pPlans;
    pPlans = nullptr;
    deleteAndClear(pBridge);
    deleteAndClear(pOutsidemeter);
    deleteAndClear(pInsidemeter);
    deleteAndClear(midi);
}

void CorePrcs::lockw(CoreSmph& lock, int32_t ms, const char* name) {
    const double deadline = CoreXutl::tmono() + ms;
    while (!lock.locka()) {
        if (CoreXutl::tmono() >= deadline) {
            CoreLog_::loger(CoreAnsx("still waiting for ") + name, 1);
            lock.locks();
            return;
        }
        CoreXutl::sleep(1);
    }
}

CorePrcs::EngineGuard::EngineGuard(CorePrcs& engine) : oEngine(engine.enginelock), oBlocklock(engine.blocklock) {
    engine.takeBlockLock(engine.iWatchdogms, "an engine guard");
    bBlock = true;
    engine.stallPoint();
}

CorePrcs::EngineGuard::EngineGuard(CorePrcs& engine, CoreSgrd::TRYONCE)
    : oEngine(engine.enginelock, CoreSgrd::cConce), oBlocklock(engine.blocklock) {
    bBlock = oEngine.taken() && oBlocklock.locka();
}

CorePrcs::EngineGuard::~EngineGuard() {
    if (bBlock) oBlocklock.relse();
}

// No holder state: the locks alone keep a second caller out, so nothing is shared between callers.
void CorePrcs::lockp() {
    lockp(0);
}

void CorePrcs::rlsep() {
    blocklock.relse();
    enginelock.relse();
}
