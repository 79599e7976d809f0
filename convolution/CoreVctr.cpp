#include "convolution/CoreVctr.h"

#include "base/CoreLog_.h"
#include "base/CorePool.h"
#include "convolution/CoreCnvl.h"
#include "convolution/CoreOpti.h"
#include "convolution/CorePlel.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>

namespace {

const char poolLabel[] = "VCT2";
const int16_t poolBytesType = 4; // one byte per element: records are sized by sizeof
const int16_t poolDoubleType = 0;
const int16_t poolIntType = 1; // 4 bytes

int clampToInt(long v) {
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<int>(v);
}

int32_t clampToInt32(long v) {
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

template <typename T>
T smaller(T a, T b) {
    return a < b ? a : b;
}

} // namespace

CoreVctr::CoreVctr(CorePool* pool, CorePlel* registry, short slot, CoreCnvl* convolver, bool leaf, int n,
                   CoreAnsx* names, double* positions, CoreVctr** children, double min, double max,
                   double* secondary, double secondaryMin, double secondaryMax, CoreAnsx vectorSource,
                   DataSrce* table, double liquid, CoreAnsx liquidSource, int offset, int fadeIn, int* pairA,
                   int* pairB, bool stepped, short inheritA, short inheritB, bool regular)
    : bLeaf(leaf), iCount(n > 0 ? n : 0), pChildren(nullptr), sName(""), sVectorText(vectorSource),
      sVectorSource(""), sLiquidSource(liquidSource), sPadSource(""), sPanSource(""), sGainSource(""),
      pNames(nullptr), iSelected(0), iInheritA(inheritA), iInheritB(inheritB), iOffset(offset),
      iFadeIn(fadeIn), iFadeOutLength(0), iFadeLength(0), iFadeInLength(0), pFadeOutEnv(nullptr), iLength(0),
      iFirst(0), iSecond(0), iThird(0), pRangeA(nullptr), pRangeB(nullptr), pRanged(nullptr), dMin(min),
      dMax(max), dSecMin(secondaryMin), dSecMax(secondaryMax), dPositionScale(0.0), dLiquid(0.5),
      dPanAmount(0.0), dGain(0.0), dPad(1.0), dReference(min), dBlend(1.0), dNormalisation(1.0), dLastX(-1.0),
      dSlot(slot + 1.0), bRegular(regular), bVectorOn(false), bPositionOn(false), bPanOn(false),
      bGainOn(false), bNormaliseOn(false), bWeightsValid(false), bPairs(false), bStepped(stepped),
      bUnchanged(false), bConverged(false), bChanged{false, false}, pSelectedChanged(&bChanged[0]),
      pElementUnchanged(nullptr), pOwnFlags(nullptr), pReceived(nullptr), iPairA{-1, -1}, iPairB{-1, -1},
      pPositions(nullptr), pSecondary(nullptr), pPeaks(nullptr), pFadeInEnv(nullptr), pFadeOutOwn(nullptr),
      pFadeEnv(nullptr), iFadeInEnvLength(0), iFadeOutEnvLength(0), iFadeEnvLength(0), iElemA(-1), iElemB(-1),
      dWeightA(0.0), dWeightB(0.0), dEffA(0.0), dEffB(0.0), iPrevA(-1), iPrevB(-1), dPrevA(0.0), dPrevB(0.0),
      dResidual(1.0), dLastPan(0.0), dLastGain(0.0), dMatrix{1.0, 0.0, 0.0, 1.0}, pKernL(nullptr),
      pKernR(nullptr), pOutL{nullptr, nullptr}, pOutR{nullptr, nullptr}, iPairLength{0, 0},
      pCurrentL(nullptr), pCurrentR(nullptr), oFade{}, iLastMixed(0), pLiquidCtl(nullptr),
      pGainpadCtl(nullptr), pGainCtl(nullptr), pPanCtl(nullptr), pVectorCtl(nullptr), pPositionOut(nullptr),
      pTable(table), pPool(pool), pRegistry(registry), pRecords(nullptr), pRoot(nullptr),
      pConvolver(convolver) {
    try {
        const int count = iCount;
        if (count > 0) {
            pNames = new CoreAnsx[count];
            pPositions = static_cast<double*>(pool->mallc(poolDoubleType, count, poolLabel));
            pSecondary = static_cast<double*>(pool->mallc(poolDoubleType, count, poolLabel));
            pPeaks = static_cast<double*>(pool->mallc(poolDoubleType, count, poolLabel));
            pRangeA = static_cast<int32_t*>(pool->mallc(poolIntType, count, poolLabel));
            pRangeB = static_cast<int32_t*>(pool->mallc(poolIntType, count, poolLabel));
            pRanged = static_cast<bool*>(poolBytes(sizeof(bool) * count));
            pKernL = static_cast<void**>(poolBytes(sizeof(void*) * count));
            pKernR = static_cast<void**>(poolBytes(sizeof(void*) * count));
            pChildren = static_cast<CoreVctr**>(poolBytes(sizeof(CoreVctr*) * count));
            pElementUnchanged = static_cast<bool**>(poolBytes(sizeof(bool*) * count));
            pOwnFlags = static_cast<bool*>(poolBytes(sizeof(bool) * count));
            pReceived = static_cast<bool*>(poolBytes(sizeof(bool) * count));
            pRecords =
                static_cast<CoreButl::VECTORELEMENT*>(poolBytes(sizeof(CoreButl::VECTORELEMENT) * count));
            for (int i = 0; i < count; ++i) {
                if (names != nullptr) pNames[i] = names[i];
                pPositions[i] = positions != nullptr ? positions[i] : 0.0;
                pSecondary[i] = secondary != nullptr ? secondary[i] : 0.0;
                pPeaks[i] = 0.0;
                pRangeA[i] = 0;
                pRangeB[i] = 0;
                pRanged[i] = false;
                pKernL[i] = nullptr;
                pKernR[i] = nullptr;
                pChildren[i] = (!leaf && children != nullptr) ? children[i] : nullptr;
                pOwnFlags[i] = true;
                pElementUnchanged[i] = &pOwnFlags[i];
                pReceived[i] = false;
            }
            // Each position enters the tree once, for the earliest element that has it.
            int kept = 0;
            for (int i = 0; i < count; ++i) {
                bool repeated = false;
                for (int j = 0; j < kept && !repeated; ++j) repeated = pRecords[j].position == pPositions[i];
                if (repeated) continue;
                pRecords[kept].position = pPositions[i];
                pRecords[kept].secondary = pSecondary[i];
                pRecords[kept].element = i;
                pRecords[kept].left = nullptr;
                pRecords[kept].right = nullptr;
                ++kept;
            }
            pRoot = CoreButl::btini(pRecords, kept);
        } else {
            CoreLog_::loger(CoreAnsx("Vector without elements: it mixes nothing"), 1);
        }
        if (iCount == 1) {
            dMin = 0.0;
            dMax = 0.0;
        }
        dReference = dMin;
        pLiquidCtl = new CoreParm("Liquid Control", "Liquid Control", "", -1.0, 1.0, table);
        pGainpadCtl = new CoreParm("Gainpad Control", "Gainpad Control", "", -1.0, 1.0, table);
        pGainCtl = new CoreParm("Gain Control", "Gain Control", "", -1.0, 1.0, table);
        pPanCtl = new CoreParm("Pan Control", "Pan Control", "", -1.0, 1.0, table);
        pVectorCtl = new CoreParm("Vector Control", "Vector Control", sVectorText, dMin, dMax, table);
        pLiquidCtl->setsr(liquidSource, 0.0, 1.0);
        setlq(liquid);
        for (int k = 0; k < 2; ++k) {
            if (pairA != nullptr) iPairA[k] = pairA[k];
            if (pairB != nullptr) iPairB[k] = pairB[k];
        }
    } catch (...) {
        // The children stay the caller's when construction fails.
        if (pChildren != nullptr)
            for (int i = 0; i < iCount; ++i) pChildren[i] = nullptr;
        release();
        throw;
    }
}

CoreVctr::~CoreVctr() {
    release();
}

void CoreVctr::release() {
    if (pChildren != nullptr) {
        for (int i = 0; i < iCount; ++i) {
            delete pChildren[i];
            pChildren[i] = nullptr;
        }
    }
    if (pRegistry != nullptr) {
        for (int k = 0; k < oIds.Count; ++k)
            pRegistry->relel(static_cast<int>(reinterpret_cast<intptr_t>(oIds[k])), false);
    }
    oIds.Clear();
    freeOutputs();
    freeElement(pFadeInEnv);
    freeElement(pFadeOutOwn);
    freeElement(pFadeEnv);
    pFadeOutEnv = nullptr;
    delete pLiquidCtl;
    delete pGainpadCtl;
    delete pGainCtl;
    delete pPanCtl;
    delete pVectorCtl;
    pLiquidCtl = pGainpadCtl = pGainCtl = pPanCtl = pVectorCtl = nullptr;
    delete[] pNames;
    pNames = nullptr;
    void** blocks[] = {reinterpret_cast<void**>(&pPositions), reinterpret_cast<void**>(&pSecondary),
                       reinterpret_cast<void**>(&pPeaks),     reinterpret_cast<void**>(&pRangeA),
                       reinterpret_cast<void**>(&pRangeB),    reinterpret_cast<void**>(&pRanged),
                       reinterpret_cast<void**>(&pKernL),     reinterpret_cast<void**>(&pKernR),
                       reinterpret_cast<void**>(&pChildren),  reinterpret_cast<void**>(&pElementUnchanged),
                       reinterpret_cast<void**>(&pOwnFlags),  reinterpret_cast<void**>(&pReceived),
                       reinterpret_cast<void**>(&pRecords)};
    for (void** block : blocks) {
        freeBlock(*block);
        *block = nullptr;
    }
    pRoot = nullptr;
}

// ---- element operations -------------------------------------------------------------------------------

ElementNewOp CoreVctr::opNew() const {
    return pConvolver != nullptr ? pConvolver->getne() : CoreCnvl::nwel1;
}

ElementDeleteOp CoreVctr::opDelete() const {
    return pConvolver != nullptr ? pConvolver->getde() : CoreCnvl::dlel1;
}

ElementCopyOp CoreVctr::opCopy() const {
    return pConvolver != nullptr ? pConvolver->getce() : CoreCnvl::copy1;
}

ElementAdjustOp CoreVctr::opAdjust() const {
    return pConvolver != nullptr ? pConvolver->getae() : CoreCnvl::adj_1;
}

ElementFadeOp CoreVctr::opFade() const {
    return pConvolver != nullptr ? pConvolver->getfd() : CoreCnvl::fade1;
}

ElementMixOp CoreVctr::opMix() const {
    return pConvolver != nullptr ? pConvolver->getvm() : CoreCnvl::vmix1;
}

int CoreVctr::opSize() const {
    return pConvolver != nullptr ? pConvolver->getse()() : CoreCnvl::szel1();
}

VECEXTENSION* CoreVctr::extension() const {
    return pConvolver != nullptr ? pConvolver->getve() : nullptr;
}

CorePool* CoreVctr::elementPool() const {
    return pRegistry != nullptr && pRegistry->getpl() != nullptr ? pRegistry->getpl() : pPool;
}

void* CoreVctr::poolBytes(size_t bytes) {
    if (pPool == nullptr) throw CoreAnsx("Vector without a memory pool");
    if (bytes > static_cast<size_t>(INT_MAX)) throw CoreAnsx("Vector too large");
    return pPool->mallc(poolBytesType, static_cast<int>(bytes), poolLabel);
}

void CoreVctr::freeBlock(void* p) {
    if (p != nullptr && pPool != nullptr) pPool->free_(p);
}

void CoreVctr::freeElement(void*& p) {
    if (p != nullptr) opDelete()(extension(), pPool, p);
    p = nullptr;
}

// ---- configuration ------------------------------------------------------------------------------------

void CoreVctr::setvl(bool vectorOn, double min, double max, CoreAnsx vectorSource, bool positionOut,
                     CoreAnsx positionSource, double pan, CoreAnsx panSource, double pad, CoreAnsx padSource,
                     bool gainOn, CoreAnsx gainSource, bool normaliseOn, double reference, double blend) {
    bVectorOn = vectorOn;
    if (vectorOn) {
        sVectorSource = vectorSource;
        if (iCount == 1)
            pVectorCtl->setsr("", 1.0, 1.0);
        else
            pVectorCtl->setsr(vectorSource, min, max);
    }
    bPositionOn = positionOut;
    if (positionOut) {
        pPositionOut =
            (pTable != nullptr && pTable->isact(positionSource)) ? pTable->getsc(positionSource) : nullptr;
        // Equal (or denormally close) secondary bounds have no scale: the output then stays at -1.
        const double span = flushedValue(dSecMax - dSecMin);
        const double scale = span != 0.0 ? 2.0 / span : 0.0;
        dPositionScale = std::isfinite(scale) ? flushedValue(scale) : 0.0;
    }
    dPanAmount = pan;
    sPanSource = panSource;
    pPanCtl->setsr(panSource, -1.0, 1.0);
    bPanOn = pan > 0.0;
    bGainOn = gainOn;
    sGainSource = gainSource;
    if (gainOn) pGainCtl->setsr(gainSource, 0.0, 1.0);
    dPad = pad;
    sPadSource = padSource;
    pGainpadCtl->setsr(padSource, 0.0, 1.0);
    if (bLeaf) {
        bNormaliseOn = normaliseOn;
        dReference = reference;
        dBlend = blend;
    }
    bUnchanged = false;
    bConverged = false;
    iPrevA = -1;
    iPrevB = -1;
    // The bracketing is searched afresh for the new settings.
    bWeightsValid = false;
}

void CoreVctr::setlq(double liquid) {
    if (liquid >= 0.99)
        dLiquid = 0.99;
    else if (liquid <= 0.01 || !(liquid == liquid))
        dLiquid = 0.01;
    else
        dLiquid = liquid;
}

// ---- elements -----------------------------------------------------------------------------------------

void CoreVctr::setip(int i, double* L, double* R, CoreAnsx key, long a, int b, long c, long d, void* owner,
                     short kind) {
    if (i < 0 || i >= iCount) return;
    void* left = L;
    void* right = R;
    bool received = false;
    if (pRegistry != nullptr && pConvolver != nullptr) {
        int id = -1;
        try {
            id = pRegistry->addel(opDelete(), extension(), &left, &right, key, a, b, c, d, owner, kind);
        } catch (...) {
            // The registry took nothing; the pair must not be left to no one.
            delip(L, R);
            throw;
        }
        if (!oIds.Add(reinterpret_cast<void*>(static_cast<intptr_t>(id)))) {
            pRegistry->relel(id, false);
            throw CoreAnsx("Vector ") + sName + CoreAnsx(": no memory for a registry id");
        }
        received = left != static_cast<void*>(L) || right != static_cast<void*>(R);
    }
    pKernL[i] = left;
    pKernR[i] = right;
    pReceived[i] = received;
}

void CoreVctr::getip(int i, void*& L, void*& R) const {
    if (i < 0 || i >= iCount) {
        L = R = nullptr;
        return;
    }
    L = pKernL[i];
    R = pKernR[i];
}

void CoreVctr::cpyip(int i, double* L, double* R, int n) {
    if (i < 0 || i >= iCount || n < 1) return;
    if (pKernL[i] != nullptr) opCopy()(extension(), pKernL[i], L, n, false, 0, true);
    if (pKernR[i] != nullptr && pKernR[i] != pKernL[i])
        opCopy()(extension(), pKernR[i], R, n, false, 0, true);
}

void CoreVctr::newip(void*& L, void*& R, int n) {
    L = opNew()(extension(), elementPool(), n);
    try {
        R = opNew()(extension(), elementPool(), n);
    } catch (...) {
        opDelete()(extension(), elementPool(), L);
        L = nullptr;
        throw;
    }
}

void CoreVctr::delip(void* L, void* R) {
    if (L != nullptr && L != R) opDelete()(extension(), elementPool(), L);
    if (R != nullptr) opDelete()(extension(), elementPool(), R);
}

void CoreVctr::copyd(void* dstL, void* dstR, double* srcL, double* srcR, int n, int offset) {
    if (n < 1 || offset < 0) return;
    if (dstL != nullptr) opCopy()(extension(), dstL, srcL, n, false, offset, true);
    if (dstR != nullptr && dstR != dstL) opCopy()(extension(), dstR, srcR, n, false, offset, true);
}

void CoreVctr::setpk(int i, double peak) {
    if (i >= 0 && i < iCount) pPeaks[i] = peak;
}

void CoreVctr::setrz(int i, long a, long b) {
    if (i < 0 || i >= iCount) return;
    pRanged[i] = true;
    pRangeA[i] = clampToInt32(a);
    pRangeB[i] = clampToInt32(b);
}

bool CoreVctr::getrz(int i, long& a, long& b) const {
    if (i < 0 || i >= iCount) {
        a = b = 0;
        return false;
    }
    a = pRangeA[i];
    b = pRangeB[i];
    return pRanged[i];
}

CoreAnsx CoreVctr::getfn(int i) const {
    if (i < 0 || i >= iCount) return CoreAnsx("");
    return pNames[i];
}

void CoreVctr::chnna(CoreAnsx name) {
    sName = name;
    if (bLeaf) return;
    for (int i = 0; i < iCount; ++i)
        if (pChildren[i] != nullptr) pChildren[i]->chnna(name + CoreAnsx("_") + CoreAnsx(i));
}

void CoreVctr::getup(int& offset, int& fadeIn) const {
    offset = iOffset;
    fadeIn = iFadeIn;
}

CoreVctr* CoreVctr::child(int i) const {
    if (bLeaf || i < 0 || i >= iCount) return nullptr;
    return pChildren[i];
}

CoreParm* CoreVctr::controlAt(int k) const {
    CoreParm* const controls[] = {pLiquidCtl, pGainpadCtl, pGainCtl, pPanCtl, pVectorCtl};
    return k >= 0 && k < 5 ? controls[k] : nullptr;
}

int CoreVctr::registryId(int k) const {
    if (k < 0 || k >= oIds.Count) return -1;
    return static_cast<int>(reinterpret_cast<intptr_t>(oIds.Items[k]));
}

// ---- output kernels -----------------------------------------------------------------------------------

void CoreVctr::chncp(long length, long second, long third) {
    iFirst = iLength = clampToInt(length);
    iSecond = second < 0 ? iFirst : clampToInt(second);
    iThird = third < 0 ? iSecond : clampToInt(third);
    if (!bLeaf)
        for (int i = 0; i < iCount; ++i)
            if (pChildren[i] != nullptr) pChildren[i]->chncp(iLength, iSecond, -1);
    freeElement(pOutL[0]);
    freeElement(pOutR[0]);
    freeKept(0);
    iPairLength[0] = 0;
    if (iThird > 0) {
        pOutL[0] = opNew()(extension(), pPool, iThird);
        pOutR[0] = opNew()(extension(), pPool, iThird);
        iPairLength[0] = iThird;
    }
    iSelected = 0;
    pCurrentL = pOutL[0];
    pCurrentR = pOutR[0];
    bChanged[0] = true;
    pSelectedChanged = &bChanged[0];
    bUnchanged = false;
    iLastMixed = 0;
    sizeKept();
}

void CoreVctr::setsc() {
    freeElement(pOutL[1]);
    freeElement(pOutR[1]);
    freeKept(1);
    iPairLength[1] = 0;
    if (iThird > 0) {
        pOutL[1] = opNew()(extension(), pPool, iThird);
        pOutR[1] = opNew()(extension(), pPool, iThird);
        iPairLength[1] = iThird;
    }
    iSelected = 0;
    pCurrentL = pOutL[0];
    pCurrentR = pOutR[0];
    pSelectedChanged = &bChanged[0];
    bPairs = true;
    bChanged[1] = true;
    sizeKept();
}

void CoreVctr::setcc(short k) {
    if (!bPairs || k < 0 || k > 1) return;
    const short previous = iSelected;
    if (k != previous && pOutL[k] != nullptr && pOutL[previous] != nullptr) {
        const int n = smaller(iLength, smaller(iPairLength[k], iPairLength[previous]));
        if (n > 0) {
            opCopy()(extension(), pOutL[k], pOutL[previous], n, false, 0, false);
            opCopy()(extension(), pOutR[k], pOutR[previous], n, false, 0, false);
            bChanged[k] = true;
        }
        // The copy is as faded as its source: carry what the next mix must put back.
        PairFade& to = oFade[k];
        const PairFade& from = oFade[previous];
        to.applied[0] = from.applied[0];
        to.applied[1] = from.applied[1];
        to.order[0] = from.order[0];
        to.order[1] = from.order[1];
        to.count = from.count;
        for (int slot = 0; slot < 3; ++slot) {
            to.region[slot] = from.region[slot];
            const int length = smaller(from.region[slot].length, to.capacity[slot]);
            to.region[slot].length = length;
            if (length > 0) {
                opCopy()(extension(), to.keptL[slot], from.keptL[slot], length, false, 0, false);
                opCopy()(extension(), to.keptR[slot], from.keptR[slot], length, false, 0, false);
            }
        }
    }
    iSelected = k;
    pCurrentL = pOutL[k];
    pCurrentR = pOutR[k];
    pSelectedChanged = &bChanged[k];
    bUnchanged = false;
}

void CoreVctr::chncd(short k) {
    iLength = k == 0 ? iFirst : iSecond;
    if (!bLeaf)
        for (int i = 0; i < iCount; ++i)
            if (pChildren[i] != nullptr) pChildren[i]->chncd(k);
}

void CoreVctr::chnip() {
    if (bLeaf) return;
    for (int i = 0; i < iCount; ++i) {
        CoreVctr* node = pChildren[i];
        if (node == nullptr) continue;
        node->chnip();
        pKernL[i] = node->pCurrentL;
        pKernR[i] = node->pCurrentR;
        pElementUnchanged[i] = &node->bConverged;
    }
}

void CoreVctr::chndc() {
    if (!bLeaf) {
        for (int i = 0; i < iCount; ++i) {
            if (pChildren[i] == nullptr) continue;
            pChildren[i]->chndc();
            // They pointed at the outputs just freed.
            pKernL[i] = nullptr;
            pKernR[i] = nullptr;
        }
    }
    freeOutputs();
}

void CoreVctr::freeOutputs() {
    for (int k = 0; k < 2; ++k) {
        freeElement(pOutL[k]);
        freeElement(pOutR[k]);
        freeKept(k);
        iPairLength[k] = 0;
    }
    pCurrentL = pCurrentR = nullptr;
    bPairs = false;
    iSelected = 0;
    iLastMixed = 0;
    pSelectedChanged = &bChanged[0];
}

void CoreVctr::ulink() {
    if (bLeaf || pChildren == nullptr) return;
    for (int i = 0; i < iCount; ++i) {
        pChildren[i] = nullptr;
        pKernL[i] = nullptr;
        pKernR[i] = nullptr;
        pElementUnchanged[i] = &pOwnFlags[i];
    }
}

// ---- envelopes and fades ------------------------------------------------------------------------------

void* CoreVctr::makeEnvelope(int n, bool falling) {
    if (n < 1) return nullptr;
    double* ramp = static_cast<double*>(pPool->mallc(poolDoubleType, n, poolLabel));
    void* envelope = nullptr;
    try {
        CoreButl::fdecc(n, ramp);
        if (falling) CoreButl::cfdcc(n, ramp);
        envelope = opNew()(extension(), pPool, n);
        opCopy()(extension(), envelope, ramp, n, false, 0, false);
    } catch (...) {
        pPool->free_(ramp);
        throw;
    }
    pPool->free_(ramp);
    return envelope;
}

// One of the own envelopes (its length in `length`) replaced by a fresh ramp of n values; a fade-out
// that used the old one stops pointing at it.
void* CoreVctr::replaceEnvelope(void*& envelope, int& length, int n, bool falling) {
    if (pFadeOutEnv == envelope) pFadeOutEnv = nullptr;
    freeElement(envelope);
    length = 0;
    envelope = makeEnvelope(n, falling);
    if (envelope != nullptr) length = n;
    sizeKept();
    return envelope;
}

void* CoreVctr::newfi(int n) {
    return replaceEnvelope(pFadeInEnv, iFadeInEnvLength, n, false);
}

void* CoreVctr::newfo(int n) {
    return replaceEnvelope(pFadeOutOwn, iFadeOutEnvLength, n, true);
}

void* CoreVctr::newfe(int n) {
    return replaceEnvelope(pFadeEnv, iFadeEnvLength, n, true);
}

void CoreVctr::setcr(void* fadeOutEnvelope, int fadeOutLength, int length, int fadeInLength) {
    pFadeOutEnv = fadeOutEnvelope;
    iFadeOutLength = fadeOutLength > 0 ? fadeOutLength : 0;
    iFadeLength = length > 0 ? length : 0;
    iFadeInLength = fadeInLength > 0 ? fadeInLength : 0;
    sizeKept();
    // New fade lengths or envelopes: the pairs get their unfaded values back, so that the next
    // update plays the fades as they are now, also on a converged tree.
    for (int k = 0; k < 2; ++k)
        if (oFade[k].count > 0 && pOutL[k] != nullptr && pOutR[k] != nullptr) restoreFaded(k);
}

int CoreVctr::envelopeLength(const void* env) const {
    if (env == nullptr) return 0;
    if (env == pFadeInEnv) return iFadeInEnvLength;
    if (env == pFadeOutOwn) return iFadeOutEnvLength;
    if (env == pFadeEnv) return iFadeEnvLength;
    return INT_MAX; // the caller's envelope: its length is the one it gave
}

// The kept values of each pair's fade regions are sized here, off the update path, for the largest
// region the current settings can fade.
void CoreVctr::sizeKept() {
    for (int k = 0; k < 2; ++k)
        if (pOutL[k] != nullptr) sizeKeptPair(k);
}

void CoreVctr::sizeKeptPair(int k) {
    PairFade& fade = oFade[k];
    const int limit = iPairLength[k];
    const int needs[3] = {smaller(iFadeInEnvLength, limit),
                          smaller(smaller(iFadeOutLength, envelopeLength(pFadeOutEnv)), limit),
                          smaller(iFadeEnvLength, limit)};
    for (int slot = 0; slot < 3; ++slot) {
        if (needs[slot] <= fade.capacity[slot]) continue;
        // A larger region: what was kept for the smaller one is put back first.
        if (fade.count > 0) restoreFaded(k);
        freeElement(fade.keptL[slot]);
        freeElement(fade.keptR[slot]);
        fade.capacity[slot] = 0;
        fade.keptL[slot] = opNew()(extension(), pPool, needs[slot]);
        fade.keptR[slot] = opNew()(extension(), pPool, needs[slot]);
        fade.capacity[slot] = needs[slot];
    }
}

void CoreVctr::freeKept(int k) {
    PairFade& fade = oFade[k];
    for (int slot = 0; slot < 3; ++slot) {
        freeElement(fade.keptL[slot]);
        freeElement(fade.keptR[slot]);
        fade.capacity[slot] = 0;
        fade.region[slot] = KeptRegion{0, 0};
    }
    fade.applied[0] = fade.applied[1] = false;
    fade.count = 0;
}

void CoreVctr::keepRegion(int k, int slot, int offset, int length) {
    PairFade& fade = oFade[k];
    fade.region[slot] = KeptRegion{offset, length};
    if (length < 1) return;
    const size_t bytes = static_cast<size_t>(opSize()) * static_cast<size_t>(offset);
    opCopy()(extension(), fade.keptL[slot], static_cast<char*>(pOutL[k]) + bytes, length, false, 0, false);
    opCopy()(extension(), fade.keptR[slot], static_cast<char*>(pOutR[k]) + bytes, length, false, 0, false);
}

void CoreVctr::restoreFaded(int k) {
    PairFade& fade = oFade[k];
    // Latest fade first, so that overlapping regions end with the values from before any fade.
    for (int j = fade.count - 1; j >= 0; --j) {
        const int first = fade.order[j] == 0 ? 0 : 2;
        const int last = fade.order[j] == 0 ? 1 : 2;
        for (int slot = first; slot <= last; ++slot) {
            const KeptRegion& region = fade.region[slot];
            if (region.length < 1) continue;
            opCopy()(extension(), pOutL[k], fade.keptL[slot], region.length, false, region.offset, false);
            opCopy()(extension(), pOutR[k], fade.keptR[slot], region.length, false, region.offset, false);
        }
    }
    fade.applied[0] = fade.applied[1] = false;
    fade.count = 0;
    bChanged[k] = true;
}

void CoreVctr::setfd(void* L, void* R, int n, void* env) {
    if (L == nullptr || R == nullptr || env == nullptr || n < 1) return;
    opFade()(extension(), n, L, R, n, env, 0, nullptr);
}

void CoreVctr::setfd(bool out, int n, int m) {
    const int k = bPairs ? iLastMixed : 0;
    if (pOutL[k] == nullptr || pOutR[k] == nullptr) return;
    PairFade& fade = oFade[k];
    if (out) {
        if (fade.applied[1] || pFadeEnv == nullptr) return;
        const int length = smaller(n, iPairLength[k]);
        const int tail = smaller(smaller(m, iFadeEnvLength), smaller(length, fade.capacity[2]));
        if (length < 1 || tail < 1) return;
        keepRegion(k, 2, length - tail, tail);
        opFade()(extension(), length, pOutL[k], pOutR[k], 0, nullptr, tail, pFadeEnv);
        fade.applied[1] = true;
        fade.order[fade.count++] = 1;
        bChanged[k] = true;
        return;
    }
    if (fade.applied[0]) return;
    const int length = smaller(iFadeLength, iPairLength[k]);
    if (length < 1) return;
    const int head = pFadeInEnv == nullptr ? 0
                                           : smaller(smaller(iFadeInLength, iFadeInEnvLength),
                                                     smaller(length, fade.capacity[0]));
    const int tail = pFadeOutEnv == nullptr ? 0
                                            : smaller(smaller(iFadeOutLength, envelopeLength(pFadeOutEnv)),
                                                      smaller(length, fade.capacity[1]));
    if (head < 1 && tail < 1) return;
    keepRegion(k, 0, 0, head > 0 ? head : 0);
    keepRegion(k, 1, length - (tail > 0 ? tail : 0), tail > 0 ? tail : 0);
    opFade()(extension(), length, pOutL[k], pOutR[k], head, pFadeInEnv, tail, pFadeOutEnv);
    fade.applied[0] = true;
    fade.order[fade.count++] = 0;
    bChanged[k] = true;
}

void CoreVctr::setgn(double level) {
    if (!bLeaf || !bNormaliseOn || iCount < 1) return;
    double below = dReference - dMin + 1.0;
    double above = dMax - dReference + 1.0;
    int lower = -1;
    int upper = -1;
    for (int i = 0; i < iCount; ++i) {
        const double p = pPositions[i];
        if (p <= dReference && dReference - p < below) {
            below = dReference - p;
            lower = i;
        } else if (p > dReference && p - dReference < above) {
            above = p - dReference;
            upper = i;
        }
    }
    double reference = pPeaks[0];
    if (lower >= 0 && upper >= 0) {
        const double span = below + above;
        reference = flushedValue(span) != 0.0 ? (below * pPeaks[upper] + above * pPeaks[lower]) / span : 0.0;
    } else if (lower >= 0) {
        reference = pPeaks[lower];
    } else if (upper >= 0) {
        reference = pPeaks[upper];
    }
    // A term whose divisor is zero counts as 0: a silent element or reference gives no infinity.
    auto gainOf = [&](int i) {
        double g = 0.0;
        if (flushedValue(reference) != 0.0) g += (1.0 - dBlend) * level / reference;
        if (flushedValue(pPeaks[i]) != 0.0) g += dBlend * level / pPeaks[i];
        return std::isfinite(g) ? g : 0.0;
    };
    double normalisation = 0.0;
    for (int i = 0; i < iCount; ++i) {
        const double candidate = gainOf(i) * pPeaks[i];
        if (candidate > normalisation) normalisation = candidate;
    }
    if (!(normalisation > 0.0) || !std::isfinite(normalisation)) {
        dNormalisation = 1.0;
        return;
    }
    dNormalisation = normalisation;
    for (int i = 0; i < iCount; ++i) {
        // Silent elements stay as they are; buffers the registry handed over were scaled by the
        // owner that registered them first, whose audio may already be reading them.
        if (flushedValue(pPeaks[i]) == 0.0 || pReceived[i] || pKernL[i] == nullptr || pKernR[i] == nullptr)
            continue;
        opAdjust()(extension(), pKernL[i], pKernR[i], iThird, gainOf(i) / normalisation);
    }
    bUnchanged = false;
}

// ---- inheritable values -------------------------------------------------------------------------------

short CoreVctr::chnci() {
    short result = iInheritA;
    if (iInheritA >= 0 || bLeaf) return result;
    for (int i = 0; i < iCount; ++i)
        if (pChildren[i] != nullptr) {
            const short value = pChildren[i]->chnci();
            if (value > result) result = value;
        }
    return result;
}

short CoreVctr::chnco() {
    short result = iInheritB;
    if (iInheritB >= 0 || bLeaf) return result;
    for (int i = 0; i < iCount; ++i)
        if (pChildren[i] != nullptr) {
            const short value = pChildren[i]->chnco();
            if (value > result) result = value;
        }
    return result;
}

int CoreVctr::chnfi() {
    int result = iFadeIn;
    if (iFadeIn > 0 || bLeaf) return result;
    for (int i = 0; i < iCount; ++i)
        if (pChildren[i] != nullptr) {
            const int value = pChildren[i]->chnfi();
            if (value > result) result = value;
        }
    return result;
}

int CoreVctr::chnfo(short ch) {
    if (ch < 0 || ch > 1) return -1;
    int result = iPairA[ch];
    if (iPairB[ch] >= 0 || bLeaf) return result;
    for (int i = 0; i < iCount; ++i)
        if (pChildren[i] != nullptr) {
            const int value = pChildren[i]->chnfo(ch);
            if (value > result) result = value;
        }
    return result;
}

int CoreVctr::chnls(short ch) {
    if (ch < 0 || ch > 1) return -1;
    int result = iPairB[ch];
    if (iPairB[ch] >= 0 || bLeaf) return result;
    for (int i = 0; i < iCount; ++i)
        if (pChildren[i] != nullptr) {
            const int value = pChildren[i]->chnls(ch);
            if (value > result) result = value;
        }
    return result;
}

// ---- update -------------------------------------------------------------------------------------------

void CoreVctr::search(double x, int& lower, int& upper) const {
    lower = upper = -1;
    const CoreButl::VECTORELEMENT* node = pRoot;
    while (node != nullptr) {
        if (node->position == x) {
            lower = static_cast<int>(node - pRecords);
            upper = -1;
            return;
        }
        if (node->position < x) {
            lower = static_cast<int>(node - pRecords);
            node = node->right;
        } else {
            upper = static_cast<int>(node - pRecords);
            node = node->left;
        }
    }
}

void CoreVctr::updte(bool mix) {
    double gain = flushedValue(1.0 - (1.0 - dPad) * pGainpadCtl->getvl());
    if (bGainOn) gain = flushedValue(gain * pGainCtl->getvl());
    dGain = gain;
    const double liquid = flushedValue(dLiquid * pLiquidCtl->getvl());
    const double mixGain = flushedValue(gain * dNormalisation * flushedValue(1.0 - liquid));

    if (bVectorOn) {
        const double x = pVectorCtl->getvl();
        if (!(bWeightsValid && x == dLastX)) {
            dLastX = x;
            int lower;
            int upper;
            search(x, lower, upper);
            int elementA = -1;
            int elementB = -1;
            double weightA = 0.0;
            double weightB = 0.0;
            if (lower >= 0 && upper >= 0) {
                const double low = pRecords[lower].position;
                const double high = pRecords[upper].position;
                elementA = pRecords[lower].element;
                elementB = pRecords[upper].element;
                if (bStepped) {
                    const bool lowerNearer = x - low < high - x;
                    weightA = lowerNearer ? 1.0 : 0.0;
                    weightB = lowerNearer ? 0.0 : 1.0;
                } else {
                    const double span = flushedValue(high - low);
                    const double reciprocal = span != 0.0 ? flushedValue(1.0 / span) : 0.0;
                    weightA = (high - x) * reciprocal;
                    weightB = (x - low) * reciprocal;
                }
            } else if (lower >= 0) {
                elementA = pRecords[lower].element;
                weightA = 1.0;
            } else if (upper >= 0) {
                elementB = pRecords[upper].element;
                weightB = 1.0;
            }
            if (bPositionOn && pPositionOut != nullptr) {
                const int indexA = elementA >= 0 ? elementA : elementB;
                const int indexB = elementB >= 0 ? elementB : elementA;
                const double secondaryA = indexA >= 0 ? pSecondary[indexA] : 0.0;
                const double secondaryB = indexB >= 0 ? pSecondary[indexB] : 0.0;
                pPositionOut->setvl((weightA * secondaryA + weightB * secondaryB - dSecMin) * dPositionScale -
                                    1.0);
            }
            iElemA = elementA;
            iElemB = elementB;
            dWeightA = weightA;
            dWeightB = weightB;
        }
        // The stored weights stay raw; the effective ones are formed afresh at every update, so a
        // constant position does not multiply by M again and again.
        dEffA = flushedValue(flushedValue(dWeightA) * mixGain);
        dEffB = flushedValue(flushedValue(dWeightB) * mixGain);
        bWeightsValid = true;
    }
    if (!mix) return;

    if (bPanOn) {
        const double pan = flushedValue(dPanAmount * pPanCtl->getvl());
        const double angle = std::numbers::pi / 2.0 * pan;
        if (angle >= 0.0) {
            dMatrix[0] = flushedValue(std::cos(angle));
            dMatrix[1] = flushedValue(std::sin(angle));
            dMatrix[2] = 0.0;
            dMatrix[3] = 1.0;
        } else {
            dMatrix[0] = 1.0;
            dMatrix[1] = 0.0;
            dMatrix[2] = flushedValue(std::sin(-angle));
            dMatrix[3] = flushedValue(std::cos(angle));
        }
        bUnchanged = bUnchanged && pan == dLastPan;
        dLastPan = pan;
    }

    if (!bVectorOn) {
        bool elementsSettled = true;
        for (int i = 0; i < iCount && elementsSettled; ++i) elementsSettled = *pElementUnchanged[i];
        bUnchanged = bUnchanged && mixGain == dLastGain && elementsSettled;
        dLastGain = mixGain;
    } else {
        const bool settled =
            (iElemA < 0 || *pElementUnchanged[iElemA]) && (iElemB < 0 || *pElementUnchanged[iElemB]);
        bUnchanged = bUnchanged && iElemA == iPrevA && iElemB == iPrevB && dEffA == dPrevA &&
                     dEffB == dPrevB && settled;
        iPrevA = iElemA;
        iPrevB = iElemB;
        dPrevA = dEffA;
        dPrevB = dEffB;
    }

    if (bUnchanged) {
        if (!bConverged) {
            dResidual = flushedValue(dResidual * liquid);
            bConverged = dResidual < dCbenchmarktolerance;
        }
    } else {
        bConverged = false;
        dResidual = 1.0;
    }

    VECTORMIXSTRUCT request;
    request.gain = mixGain;
    request.destinationScale = liquid;
    request.leftToLeft = dMatrix[0];
    request.leftToRight = dMatrix[1];
    request.rightToLeft = dMatrix[2];
    request.rightToRight = dMatrix[3];
    request.weightA = dEffA;
    request.weightB = dEffB;
    request.elementA = iElemA;
    request.elementB = iElemB;
    mixOutput(bConverged, request);
    bUnchanged = true;
}

void CoreVctr::mixOutput(bool skip, const VECTORMIXSTRUCT& mix) {
    if (pCurrentL == nullptr || pCurrentR == nullptr) return;
    const int n = smaller(iLength, iPairLength[iSelected]);
    if (n < 1) return;
    if (!skip && oFade[iSelected].count > 0) restoreFaded(iSelected);
    opMix()(extension(), skip, bVectorOn, bPanOn, &mix, n, iCount, pCurrentL, pCurrentR, pKernL, pKernR);
    if (!skip) {
        *pSelectedChanged = true;
        iLastMixed = iSelected;
        oFade[iSelected].applied[0] = oFade[iSelected].applied[1] = false;
        oFade[iSelected].count = 0;
    }
}

void CoreVctr::chnup(bool mix) {
    if (!bLeaf)
        for (int i = 0; i < iCount; ++i)
            if (pChildren[i] != nullptr) pChildren[i]->chnup(mix);
    updte(mix);
}

// The kernel-changed flag rises only where a pair was written (a mix not skipped, a fade applied or
// put back, a copy): a converged tree leaves the convolvers' transformed kernels alone.
void CoreVctr::chnru(bool mix) {
    chnup(mix);
}
