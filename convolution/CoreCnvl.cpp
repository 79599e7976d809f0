#include "convolution/CoreCnvl.h"

#include "base/CoreLog_.h"
#include "base/CorePool.h"
#include "base/CoreTime.h"
#include "convolution/CoreCubr.h"
#include "convolution/CoreOpti.h"

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

// The version text of a bridge that starts and reports at least one device, else "N/A".
CoreAnsx bridgeVersion(CoreCubr* bridge) {
    if (!bridge || !bridge->start()) return CoreAnsx(CoreCnvl::sCdefaultversion);
    if (!bridge->entry.devcs || !bridge->entry.versn || bridge->entry.devcs() <= 0)
        return CoreAnsx(CoreCnvl::sCdefaultversion);
    // The bridge gets the address of a copy of the buffer pointer, so that a bridge replacing it
    // cannot make us read or free memory we do not own; nothing obliges it to end its text.
    std::unique_ptr<char[]> buffer(new char[CoreCubr::iCversionlength]());
    char* bufferCopy = buffer.get();
    bridge->entry.versn(&bufferCopy);
    buffer[CoreCubr::iCversionlength - 1] = '\0';
    return CoreAnsx(buffer.get());
}

// One pass of the indexed vector mix over `Sources` weighted elements (see vmix1).
template <int Sources, bool Panned>
void fusedMixLoop(int n, double* l, double* r, const VECTORMIXSTRUCT* mix, const double* const* sourcesL,
                  const double* const* sourcesR, const double* weights) {
    const double scale = mix->destinationScale;
    double a[2] = {0.0, 0.0}, b[2] = {0.0, 0.0}, c[2] = {0.0, 0.0}, d[2] = {0.0, 0.0};
    for (int k = 0; k < Sources; ++k) {
        a[k] = mix->leftToLeft * weights[k];
        b[k] = mix->leftToRight * weights[k];
        c[k] = mix->rightToRight * weights[k];
        d[k] = mix->rightToLeft * weights[k];
    }
    for (int i = 0; i < n; ++i) {
        double left = l[i] * scale;
        double right = r[i] * scale;
        for (int k = 0; k < Sources; ++k) {
            const double sl = sourcesL[k][i];
            const double sr = sourcesR[k][i];
            if (Panned) {
                left += a[k] * sl + d[k] * sr;
                right += b[k] * sl + c[k] * sr;
            } else {
                left += weights[k] * sl;
                right += weights[k] * sr;
            }
        }
        l[i] = flushedValue(left);
        r[i] = flushedValue(right);
    }
}

void fusedVectorMix(int n, double* l, double* r, const VECTORMIXSTRUCT* mix, int sources,
                    const double* const* sourcesL, const double* const* sourcesR, const double* weights,
                    bool panned) {
    switch (sources * 2 + (panned ? 1 : 0)) {
    case 0:
    case 1:
        fusedMixLoop<0, false>(n, l, r, mix, sourcesL, sourcesR, weights);
        break;
    case 2:
        fusedMixLoop<1, false>(n, l, r, mix, sourcesL, sourcesR, weights);
        break;
    case 3:
        fusedMixLoop<1, true>(n, l, r, mix, sourcesL, sourcesR, weights);
        break;
    case 4:
        fusedMixLoop<2, false>(n, l, r, mix, sourcesL, sourcesR, weights);
        break;
    default:
        fusedMixLoop<2, true>(n, l, r, mix, sourcesL, sourcesR, weights);
        break;
    }
}

void zeroDoubles(double* values, int from, int to) {
    for (int j = from; j < to; ++j) values[j] = 0.0;
}

} // namespace

CoreCnvl::CoreCnvl(CorePool* pool, CoreAnsx name, long, CoreCubr* bridge) : sName(name), pPool(pool) {
    construct(bridge);
    oValid.sse2 = issm2();
    oValid.ffw = false;
    oValid.cda = sBridgeVersion != CoreAnsx(sCdefaultversion);
}

CoreCnvl::CoreCnvl(CorePool* pool, CoreAnsx name, long, CoreCubr* bridge, const VALIDSTRUCT& valid)
    : sName(name), pPool(pool) {
    construct(bridge);
    oValid = valid;
}

void CoreCnvl::construct(CoreCubr* bridge) {
    pRingL = nullptr;
    pRingR = nullptr;
    pCommonData = nullptr;
    iCommonChannels = 0;
    iCommonLength = 0;
    iMode = -1;
    iDefaultFft = iCdefaultbe_;
    iStep = 0;
    iPosition = 0;
    iN = 0;
    iRingSize = 0;
    iLower = 0;
    iUpper = 0;
    iRequestedLength = 0;
    iAllocatedSize = 0;
    bError = false;
    bUntimed = false;
    bRingsAllocated = false;
    bCommonLoaded = false;
    pRoutine = nullptr;
    pLoad = nullptr;
    pUnload = nullptr;
    pClear = nullptr;
    pLcom = nullptr;
    pUcom = nullptr;
    oExtension = FFTEXTENSION{};
    oPlan = FFTSTRUCT{};
    oPlan.commonLength = -1;
    oPlan.pool = pPool;
    oExtension.ringIndex = &oPlan.ringIndex;
    oExtension.gpuPlans = oPlan.gpuPlans;
    oExtension.bridge = bridge;
    oExtension.commonMode = 3;
    bIsFft = false;
    bPartitioned = false;
    oValid = VALIDSTRUCT{};
    oVecExtension.bridge = bridge;
    bPlayable = false;
    iPartialSteps.store(0);
    buildTable();
    sBridgeVersion = bridgeVersion(bridge);
}

CoreCnvl::~CoreCnvl() {
    // Plans are normally released by their owner first; a forgotten one must not leak.
    if (bCommonLoaded) delpc();
    if (oPlan.loaded) delpl();
    set__();
    logPartialSteps();
}

void CoreCnvl::buildTable() {
    // id, test, enabled, routine, step, sse2, isfft, partitioned, common, gpu, untimed, granule,
    // load, unload, clear, lcom, ucom, then the element operations.
    auto direct = [this](short id, ValidTest test, bool enabled, StepRoutine routine, int step, bool sse2) {
        setcd(id, test, enabled, routine, step, sse2, false, false, false, false, true, 2, nullptr, nullptr,
              nullptr, nullptr, nullptr, szel1, nwel1, dlel1, copy1, adj_1, fade1, vmix1);
    };
    auto block = [this](short id, ValidTest test, StepRoutine routine, bool partitioned, bool common,
                        bool gpu, LoadCallback load, UnloadCallback unload, ClearCallback clear,
                        CommonLoadCallback lcom, CommonUnloadCallback ucom) {
        setcd(id, test, true, routine, -1, false, true, partitioned, common, gpu, !gpu, gpu ? 1024 : 128,
              load, unload, clear, lcom, ucom, szel1, nwel1, dlel1, copy1, adj_1, fade1, vmix1);
    };
    direct(0, nullptr, true, CoreOpti::cnvs0, 1, false);
    direct(1, nullptr, true, cnvs1, 1, false);
    direct(2, isss2, true, CoreOpti::cnvs2, 2, true);
    direct(3, nullptr, true, CoreOpti::cnvs4, 1, false);
    direct(4, nullptr, true, cnvs5, 1, false);
    direct(5, isss2, true, CoreOpti::cnvs6, 2, true);
    block(6, isffw, CoreOpti::cnvs8, false, false, false, load2, uloa2, clea2, nullptr, nullptr);
    block(7, isffw, CoreOpti::cnvs9, true, false, false, load1, uloa1, clea1, nullptr, nullptr);
    block(8, isffw, CoreOpti::cns13, true, true, false, load6, uloa6, clea6, lcom1, ucom1);
    block(9, nullptr, CoreOpti::cns10, false, false, false, load3, uloa3, clea3, nullptr, nullptr);
    block(10, nullptr, CoreOpti::cns11, true, false, false, load4, uloa4, clea4, nullptr, nullptr);
    block(11, nullptr, CoreOpti::cns12, true, true, false, load5, uloa5, clea5, lcom1, ucom1);
    block(12, iscda, CoreOpti::cns14, true, false, true, load7, uloa7, clea7, nullptr, nullptr);
    block(13, iscda, CoreOpti::cns15, true, false, true, load8, uloa8, clea8, nullptr, nullptr);
    block(14, iscda, CoreOpti::cns16, true, true, true, load9, uloa9, clea9, lcom2, ucom2);
    block(15, iscda, CoreOpti::cns17, true, true, true, lod10, ulo10, cle10, lcom3, ucom3);
    setcd(16, iscda, false, CoreOpti::cns18, -1, false, true, true, true, true, false, 1024, lod10, ulo10,
          cle10, lcom3, ucom3, szel2, nwel2, dlel2, copy2, adj_2, fade2, vmix2);
    direct(17, nullptr, false, CoreOpti::cns18, 1, false);
}

void CoreCnvl::setcd(short id, ValidTest valid, bool enabled, StepRoutine routine, int step, bool sse2,
                     bool isfft, bool partitioned, bool common, bool gpu, bool untimed, int granule,
                     LoadCallback load, UnloadCallback unload, ClearCallback clear, CommonLoadCallback lcom,
                     CommonUnloadCallback ucom, ElementSizeOp szel, ElementNewOp nwel, ElementDeleteOp dlel,
                     ElementCopyOp copy, ElementAdjustOp adj_, ElementFadeOp fade, ElementMixOp vmix) {
    if (id < 0 || id >= iCmodes) return;
    oTable[id] = KERNELMODESTRUCT{routine, valid,   enabled, step, isfft,  partitioned, sse2, common,
                                  gpu,     untimed, granule, load, unload, clear,       lcom, ucom,
                                  szel,    nwel,    dlel,    copy, adj_,   fade,        vmix};
}

const CoreCnvl::KERNELMODESTRUCT* CoreCnvl::modeRow(int id) const {
    return id >= 0 && id < iCmodes ? &oTable[id] : nullptr;
}

// Row 16 pairs a block-mode row with the one-sample routine, which would write one output sample per
// block and leave the rest stale: it never counts as usable. A row of two-sample steps needs a length
// that is a multiple of its step, else its tap pairs read past the kernel and write past the ring.
bool CoreCnvl::usable(short mode, int length) const {
    if (mode < 0 || mode >= iCmodes || mode == 16) return false;
    const KERNELMODESTRUCT& row = oTable[mode];
    if (row.valid && !row.valid(const_cast<VALIDSTRUCT*>(&oValid))) return false;
    if (length >= 0 && row.step > 1 && length % row.step != 0) return false;
    return true;
}

int CoreCnvl::set__(short mode, int block, int length, int p4, int partition, int kernelLength) {
    bError = false;
    const bool fftRequest = mode >= 0 && mode < iCmodes && oTable[mode].isfft;
    // The length decides only for a full selection; with block <= 0 it is not taken.
    const int lengthToCheck = block > 0 ? length : -1;
    if (!usable(mode, lengthToCheck)) {
        bError = true;
        // The fallback target is tested too: a default FFT mode that cannot run here (a GPU mode
        // without the bridge, row 16, an id outside the table) would play with null entries.
        short target = fftRequest ? iDefaultFft : iCdefaultdir;
        if (!usable(target, lengthToCheck)) target = fftRequest ? iCdefaultbe_ : iCdefaultdir;
        mode = target;
    }
    iMode = mode;
    if (block <= 0) return -1;

    const KERNELMODESTRUCT& row = oTable[iMode];
    oExtension.monoKernel = false;
    oPlan.commonLength = -1;
    pRoutine = row.routine;
    pLoad = row.load;
    pUnload = row.unload;
    pClear = row.clear;
    pLcom = row.lcom;
    pUcom = row.ucom;
    iStep = row.step < 0 ? block : row.step;
    oExtension.block = iStep;
    bUntimed = row.untimed;
    bIsFft = row.isfft;
    bPartitioned = row.partitioned;
    iRequestedLength = length;
    if (p4 > 0) oPlan.first = p4;
    if (partition > 0) oPlan.partition = partition;
    if (kernelLength > 0) oPlan.kernel = kernelLength;
    iN = length;
    bPlayable = false;
    return iStep;
}

void CoreCnvl::set__() {
    iMode = -1;
    iStep = 0;
    pRoutine = nullptr;
    pLoad = nullptr;
    pUnload = nullptr;
    pClear = nullptr;
    pLcom = nullptr;
    pUcom = nullptr;
    bError = false;
    bUntimed = false;
    bIsFft = false;
    bPartitioned = false;
    bPlayable = false;
    freeRings();
}

bool CoreCnvl::ldble(short mode) const {
    return usable(mode, -1);
}

bool CoreCnvl::isfft(short mode) const {
    return mode >= 0 && mode < iCmodes && oTable[mode].isfft;
}

bool CoreCnvl::getbe(short mode) const {
    return isfft(mode);
}

bool CoreCnvl::getbe() const {
    return bIsFft;
}

bool CoreCnvl::error() const {
    return bError;
}

bool CoreCnvl::perfr() const {
    return bUntimed;
}

bool CoreCnvl::getpt() const {
    return iMode >= 0 && oTable[iMode].gpu;
}

int CoreCnvl::getmp() const {
    return iMode >= 0 ? oTable[iMode].granule : 0;
}

int CoreCnvl::getcb() const {
    return iStep;
}

void CoreCnvl::setdb(short mode) {
    iDefaultFft = mode;
}

short CoreCnvl::getdb() const {
    return iDefaultFft;
}

void CoreCnvl::setup(bool* kernelChanged) {
    oExtension.kernelChanged = kernelChanged;
}

void CoreCnvl::setms(bool monoKernel) {
    oExtension.monoKernel = monoKernel;
}

void CoreCnvl::setff(int tapIndex) {
    oExtension.tapIndex = tapIndex;
}

void CoreCnvl::setci(double* buffer, short commonMode, int length) {
    oExtension.commonBuffer = buffer;
    oExtension.commonMode = commonMode;
    oExtension.commonLength = length;
}

bool CoreCnvl::getci(int& length, int& step) const {
    length = oPlan.commonLength;
    step = iStep;
    return oPlan.commonPlan;
}

CoreAnsx CoreCnvl::getbv() const {
    return sBridgeVersion;
}

bool CoreCnvl::load_() {
    logPartialSteps();
    // Nothing selected: there is no routine to plan for.
    bPlayable = false;
    if (!pRoutine || iStep < 1) return false;
    long length = iN;
    if (pLoad && !pLoad(oPlan.first, &oPlan, &oExtension, iStep, length)) return false;
    // Ring indexes are ints: a length whose 3N does not fit cannot be planned.
    if (length > INT_MAX / 3) {
        CoreLog_::loger("player " + sName + ": ring length " + CoreAnsx(length) + " too large", 0);
        return false;
    }
    iN = static_cast<int>(length);
    iRingSize = 3 * iN;
    iLower = iN;
    iUpper = 2 * iN;
    iPosition = iN;
    if (iAllocatedSize != iRingSize) {
        freeRings();
        if (iRingSize >= 1) {
            pRingL = static_cast<double*>(pPool->mallc(0, iRingSize, "CNV0"));
            try {
                pRingR = static_cast<double*>(pPool->mallc(0, iRingSize, "CNV0"));
            } catch (...) {
                pPool->free_(pRingL);
                pRingL = nullptr;
                throw;
            }
            iAllocatedSize = iRingSize;
            bRingsAllocated = true;
        }
    }
    if (bRingsAllocated) {
        std::memset(pRingL, 0, sizeof(double) * static_cast<size_t>(iRingSize));
        std::memset(pRingR, 0, sizeof(double) * static_cast<size_t>(iRingSize));
    }
    CoreLog_::debug("player " + sName + ": " + CoreAnsx(iRequestedLength) + ":" + CoreAnsx(oPlan.first) +
                        ":" + CoreAnsx(iN),
                    0, 1);
    bPlayable = bRingsAllocated && iN >= 1;
    return true;
}

bool CoreCnvl::plan_() {
    return load_();
}

void CoreCnvl::uload() {
    if (!pUnload) return;
    pUnload(&oPlan, &oExtension);
    bPlayable = false;
}

void CoreCnvl::delpl() {
    logPartialSteps();
    uload();
}

void CoreCnvl::logPartialSteps() {
    const long calls = iPartialSteps.exchange(0, std::memory_order_relaxed);
    if (calls > 0)
        CoreLog_::loger("player " + sName + ": " + CoreAnsx(calls) +
                            " blocks were not a multiple of the step; their remaining samples were silenced",
                        0);
}

void CoreCnvl::clear() {
    if (bRingsAllocated) {
        std::memset(pRingL, 0, sizeof(double) * static_cast<size_t>(iAllocatedSize));
        std::memset(pRingR, 0, sizeof(double) * static_cast<size_t>(iAllocatedSize));
    }
    if (pClear) pClear(&oPlan, &oExtension);
}

void CoreCnvl::cleas() {
    freeRings();
}

void CoreCnvl::freeRings() {
    if (bRingsAllocated) {
        pPool->free_(pRingL);
        pPool->free_(pRingR);
    }
    pRingL = nullptr;
    pRingR = nullptr;
    bRingsAllocated = false;
    iAllocatedSize = 0;
    bPlayable = false;
}

void CoreCnvl::set_c(void* data, short channels, long length) {
    pCommonData = data;
    iCommonChannels = channels;
    iCommonLength = length;
}

bool CoreCnvl::planc() {
    if (bCommonLoaded) {
        if (pUcom) pUcom(&oPlan, &oExtension);
        bCommonLoaded = false;
    }
    if (!pLcom) return true;
    oPlan.common = pCommonData;
    const bool ok = pLcom(&oPlan, &oExtension, pCommonData, iCommonChannels, iCommonLength);
    bCommonLoaded = true;
    return ok;
}

void CoreCnvl::delpc() {
    if (!bCommonLoaded) return;
    if (pUcom) pUcom(&oPlan, &oExtension);
    bCommonLoaded = false;
}

void* CoreCnvl::grplc() const {
    return oPlan.common;
}

void CoreCnvl::bracketBegin(CoreTime* a, CoreTime* b) const {
    if (bUntimed) return;
    if (a) a->setmp(false, 0);
    if (b) b->setmp(true, 0);
}

void CoreCnvl::bracketEnd(CoreTime* a, CoreTime* b) const {
    if (bUntimed) return;
    if (b) b->setmp(false, 0);
    if (a) a->setmp(true, 0);
}

void CoreCnvl::wrapPosition() {
    if (iPosition >= iUpper) iPosition = iLower;
}

int CoreCnvl::runSteps(const double* inL, const double* inR, double* outL, double* outR,
                       const double* kernelL, const double* kernelR, int count, bool countCalls) {
    if (count < 1) return 0;
    if (!bPlayable) {
        zeroDoubles(outL, 0, count);
        zeroDoubles(outR, 0, count);
        return 0;
    }
    const int whole = count / iStep * iStep;
    for (int i = 0; i < whole; i += iStep) {
        wrapPosition();
        pRoutine(inL + i, inR + i, outL + i, outR + i, kernelL, kernelR, pRingL, pRingR, iN, iPosition,
                 &oExtension);
        if (countCalls) ++oExtension.callCounter;
        iPosition += iStep;
    }
    if (whole < count) {
        // The step would read and write past the buffers: the partial step stays silent.
        zeroDoubles(outL, whole, count);
        zeroDoubles(outR, whole, count);
        // Counted only: a log line here would allocate and open the log file on the audio path.
        iPartialSteps.fetch_add(1, std::memory_order_relaxed);
    }
    return whole;
}

long CoreCnvl::cnvsy(bool replace, double* inL, double* inR, double* mixL, double* mixR, double* kernelL,
                     double* kernelR, double* dryL, double* dryR, double* convL, double* convR, double* fade,
                     long& fadeIndex, int count, CoreTime* a, CoreTime* b) {
    if (bPlayable) bracketBegin(a, b);
    runSteps(inL, inR, convL, convR, kernelL, kernelR, count, false);
    if (bPlayable) bracketEnd(a, b);

    // Without a selected mode the fade still reads a valid entry.
    const long lastOfStep = (iStep > 1 ? iStep : 1) - 1;
    long f = fadeIndex > lastOfStep ? fadeIndex : lastOfStep;
    if (replace) {
        for (int j = 0; j < count; ++j) {
            const long g = f < 0 ? lastOfStep : f;
            mixL[j] = convL[j] * fade[g];
            mixR[j] = convR[j] * fade[g];
            dryL[j] = inL[j];
            dryR[j] = inR[j];
            f = g - 1;
        }
        return f;
    }
    for (int j = 0; j < count; ++j) {
        if (f < 0) f = lastOfStep;
        mixL[j] += convL[j] * fade[f];
        mixR[j] += convR[j] * fade[f];
        f -= 1;
    }
    fadeIndex = f;
    return f;
}

void CoreCnvl::cnvsc(bool replace, double* inL, double* inR, double* mixL, double* mixR, double* kernelL,
                     double* kernelR, double* convL, double* convR, double* fade, long& fadeIndex,
                     CoreTime* a, CoreTime* b) {
    if (iStep < 1) return;
    if (bPlayable) {
        wrapPosition();
        bracketBegin(a, b);
        pRoutine(inL, inR, convL, convR, kernelL, kernelR, pRingL, pRingR, iN, iPosition, &oExtension);
        bracketEnd(a, b);
        iPosition += iStep;
    } else {
        zeroDoubles(convL, 0, iStep);
        zeroDoubles(convR, 0, iStep);
    }

    long f = fadeIndex > iStep - 1 ? fadeIndex : iStep - 1;
    if (replace) {
        for (int j = 0; j < iStep; ++j, --f) {
            mixL[j] = convL[j] * fade[f];
            mixR[j] = convR[j] * fade[f];
        }
        return;
    }
    for (int j = 0; j < iStep; ++j, --f) {
        mixL[j] += convL[j] * fade[f];
        mixR[j] += convR[j] * fade[f];
    }
    fadeIndex = f;
}

void CoreCnvl::cnvlc(double* inL, double* inR, double* outL, double* outR, double* kernelL, double* kernelR,
                     CoreTime* a, CoreTime* b) {
    if (iStep < 1) return;
    if (!bPlayable) {
        zeroDoubles(outL, 0, iStep);
        zeroDoubles(outR, 0, iStep);
        return;
    }
    wrapPosition();
    bracketBegin(a, b);
    pRoutine(inL, inR, outL, outR, kernelL, kernelR, pRingL, pRingR, iN, iPosition, &oExtension);
    bracketEnd(a, b);
    iPosition += iStep;
}

void CoreCnvl::vltry(bool first, bool replace, double* xL, double* xR, double* outL, double* outR,
                     double* kernelL, double* kernelR, double* workL, double* workR, double* convL,
                     double* convR, int count, CoreTime* a, CoreTime* b) {
    if (first || replace) {
        for (int j = 0; j < count; ++j) {
            workL[j] = xL[j];
            workR[j] = xR[j];
        }
    } else {
        for (int j = 0; j < count; ++j) {
            workL[j] *= xL[j];
            workR[j] *= xR[j];
        }
    }
    oExtension.callCounter = 0;
    if (bPlayable) bracketBegin(a, b);
    runSteps(workL, workR, convL, convR, kernelL, kernelR, count, true);
    if (bPlayable) bracketEnd(a, b);
    if (replace) {
        for (int j = 0; j < count; ++j) {
            outL[j] = convL[j];
            outR[j] = convR[j];
        }
    } else {
        for (int j = 0; j < count; ++j) {
            outL[j] += convL[j];
            outR[j] += convR[j];
        }
    }
}

void CoreCnvl::vltrr(bool replace, double* xL, double* xR, double* outL, double* outR, double* kernelL,
                     double* kernelR, double* workL, double* workR, double* convL, double* convR, int count,
                     CoreTime* a, CoreTime* b) {
    vltry(replace, replace, xL, xR, outL, outR, kernelL, kernelR, workL, workR, convL, convR, count, a, b);
}

ElementSizeOp CoreCnvl::getse() const {
    return iMode >= 0 ? oTable[iMode].szel : szel1;
}

ElementNewOp CoreCnvl::getne() const {
    return iMode >= 0 ? oTable[iMode].nwel : nwel1;
}

ElementDeleteOp CoreCnvl::getde() const {
    return iMode >= 0 ? oTable[iMode].dlel : dlel1;
}

ElementCopyOp CoreCnvl::getce() const {
    return iMode >= 0 ? oTable[iMode].copy : copy1;
}

ElementAdjustOp CoreCnvl::getae() const {
    return iMode >= 0 ? oTable[iMode].adj_ : adj_1;
}

ElementFadeOp CoreCnvl::getfd() const {
    return iMode >= 0 ? oTable[iMode].fade : fade1;
}

ElementMixOp CoreCnvl::getvm() const {
    return iMode >= 0 ? oTable[iMode].vmix : vmix1;
}

VECEXTENSION* CoreCnvl::getve() {
    return iMode >= 0 ? &oVecExtension : nullptr;
}

bool CoreCnvl::isss2(VALIDSTRUCT* valid) {
    return valid->sse2;
}

bool CoreCnvl::isffw(VALIDSTRUCT* valid) {
    return valid->ffw;
}

bool CoreCnvl::iscda(VALIDSTRUCT* valid) {
    return valid->cda;
}

int CoreCnvl::szel1() {
    return static_cast<int>(sizeof(double));
}

void* CoreCnvl::nwel1(VECEXTENSION*, CorePool* pool, int n) {
    if (!pool || n < 0) return nullptr;
    double* element = static_cast<double*>(pool->mallc(0, n, "CNVL"));
    zeroDoubles(element, 0, n);
    return element;
}

void CoreCnvl::dlel1(VECEXTENSION*, CorePool* pool, void* element) {
    if (pool && element) pool->free_(element);
}

void CoreCnvl::copy1(VECEXTENSION*, void* dst, const void* src, int n, bool, int offset, bool flush) {
    if (!dst || n < 1) return;
    double* target = static_cast<double*>(dst) + offset;
    if (src)
        std::memcpy(target, src, sizeof(double) * static_cast<size_t>(n));
    else
        zeroDoubles(target, 0, n);
    if (flush) kllad(n, &target);
}

void CoreCnvl::adj_1(VECEXTENSION*, void* left, void* right, int n, double gain) {
    if (n < 1) return;
    double* l = static_cast<double*>(left);
    double* r = static_cast<double*>(right);
    mixr1(n, &l, &r, gain);
    kllad(n, &l);
    kllad(n, &r);
}

void CoreCnvl::fade1(VECEXTENSION*, int n, void* left, void* right, int nIn, const void* envIn, int nOut,
                     const void* envOut) {
    if (n < 1) return;
    // Fade lengths come from programs: never reach outside the n samples.
    if (nIn > n) nIn = n;
    if (nOut > n) nOut = n;
    double* l = static_cast<double*>(left);
    double* r = static_cast<double*>(right);
    bool faded = false;
    if (nIn > 0 && envIn) {
        const double* env = static_cast<const double*>(envIn);
        for (int j = 0; j < nIn; ++j) {
            l[j] *= env[j];
            r[j] *= env[j];
        }
        faded = true;
    }
    if (nOut > 0 && envOut) {
        mkefo(n, nOut, l, r, static_cast<const double*>(envOut));
        faded = true;
    }
    if (faded) {
        kllad(n, &l);
        kllad(n, &r);
    }
}

void CoreCnvl::vmix1(VECEXTENSION*, bool skip, bool indexed, bool panned, const VECTORMIXSTRUCT* mix, int n,
                     int count, void* dstL, void* dstR, void* const* srcL, void* const* srcR) {
    if (n < 1) return;
    double* l = static_cast<double*>(dstL);
    double* r = static_cast<double*>(dstR);
    // A converged vector's pair was flushed by whatever wrote it last (a mix, a fade or its undoing,
    // a copy, a new zeroed pair): nothing to do.
    if (skip) return;
    if (indexed) {
        // The weighted elements A and B in one pass per destination value (scale, add A, add B,
        // flush: the operations and order of the step-by-step form below, so the values are the
        // same). An index at or past the count would read past the source arrays: ignored, like a
        // negative one.
        const double* sourcesL[2];
        const double* sourcesR[2];
        double weights[2];
        int active = 0;
        const int elements[2] = {mix->elementA, mix->elementB};
        const double elementWeights[2] = {mix->weightA, mix->weightB};
        for (int k = 0; k < 2; ++k) {
            const int e = elements[k];
            if (e < 0 || e >= count || !srcL[e] || !srcR[e]) continue;
            sourcesL[active] = static_cast<const double*>(srcL[e]);
            sourcesR[active] = static_cast<const double*>(srcR[e]);
            weights[active] = elementWeights[k];
            ++active;
        }
        fusedVectorMix(n, l, r, mix, active, sourcesL, sourcesR, weights, panned);
        return;
    }
    mixr1(n, &l, &r, mix->destinationScale);
    for (int i = 0; i < count; ++i) {
        double* sourceL = static_cast<double*>(srcL[i]);
        double* sourceR = static_cast<double*>(srcR[i]);
        if (!sourceL || !sourceR) continue;
        const double weight = mix->gain;
        if (panned)
            mixr3(n, &l, &r, &sourceL, &sourceR, mix->leftToLeft * weight, mix->leftToRight * weight,
                  mix->rightToRight * weight, mix->rightToLeft * weight);
        else
            mixr2(n, &l, &r, &sourceL, &sourceR, weight);
    }
    kllad(n, &l);
    kllad(n, &r);
}
