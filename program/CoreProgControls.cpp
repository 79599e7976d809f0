// Kernel controls and queries of CoreProg: stage sizes, cut and OT mode of a prepared harmonic, the
// hybrid record's copy of harmonic 0, and what the processor asks of the kernels (see CoreProg.h).
#include "program/CoreProg.h"

#include "base/CoreLog_.h"
#include "base/CoreTlst.h"
#include "convolution/CoreVctr.h"
#include "modulation/CoreParm.h"

#include <algorithm>

namespace {

CoreVctr* leafAt(const CoreProg::HLOC& record, int j) {
    return static_cast<CoreVctr*>(record.pLeafvectors->Items[j]);
}

} // namespace

bool CoreProg::sameShape(int a, int b) const {
    if (!hasTree(a) || !hasTree(b)) return false;
    const CoreTlst* first = pHarmonics[a].pLeafvectors;
    const CoreTlst* second = pHarmonics[b].pLeafvectors;
    if (first->Count != second->Count) return false;
    for (int j = 0; j < first->Count; ++j)
        if (leafAt(pHarmonics[a], j)->getne() != leafAt(pHarmonics[b], j)->getne()) return false;
    return true;
}

bool CoreProg::hybridReady() const {
    return bForcehybrid && sameShape(0, iCapacity);
}

// ---- stage sizes ------------------------------------------------------------------------------------

bool CoreProg::setod(int16_t h, int16_t which, int32_t size) {
    if (!hasTree(h) || (which != 0 && which != 1)) return false;
    HLOC& record = pHarmonics[h];
    const bool changed = which == 0 ? setnp(h, size, record.iThirdsize) : setnp(h, record.iSecondsize, size);
    if (!changed) return false;
    record.bChanged = true;
    CoreVctr* root = record.pRoot;
    root->chndc();
    root->chncp(record.iSecondsize, record.iThirdsize, record.iPaddedthirdsize);
    root->chnip();
    record.pCurrentleft = static_cast<double*>(root->getlc());
    record.pCurrentright = static_cast<double*>(root->getrc());
    // chndc freed the crossfade pair with the rest.
    record.pSecondaryleft = record.pSecondaryright = nullptr;
    const bool hybrid = hybridReady();
    if (hybrid && h == iCapacity) pHarmonics[0].bChanged = true;
    if (hybrid && h == 0) {
        cpyir(iCapacity, 0);
        trsir(iCapacity, record.iSecondsize);
        return true;
    }
    if (h == 0 && iSmooth >= 0) {
        root->setsc();
        record.pSecondaryleft = static_cast<double*>(root->getls());
        record.pSecondaryright = static_cast<double*>(root->getrs());
    }
    return true;
}

// ---- cut and OT mode ----------------------------------------------------------------------------------

int32_t CoreProg::getmo(int16_t h) const {
    if (!inUse(h)) return 0;
    const HLOC& record = pHarmonics[h];
    return record.iThirdsize - std::max(record.iFadein, record.iOffset);
}

void CoreProg::setco(int16_t h, int32_t cut, bool apply) {
    if (!hasTree(h)) return;
    HLOC& record = pHarmonics[h];
    const int32_t c = std::max(std::min(cut, getmo(h)), 1);
    if (c == record.iCut) return;
    record.iCut = c;
    void* replaced = record.pEndfadeenvelope;
    record.pEndfadeenvelope = record.pRoot->newfe(c);
    // newfe freed the end fade it replaces; when that one was in use, the new one takes its place.
    if (apply || (replaced != nullptr && record.pEnvelopeinuse == replaced)) {
        record.pEnvelopeinuse = record.pEndfadeenvelope;
        record.iFadelengthinuse = record.iCut;
        record.pRoot->setcr(record.pEnvelopeinuse, record.iFadelengthinuse, record.iSizeinuse,
                            record.iFadein);
    }
    record.bChanged = true;
    if (bForcehybrid && h == iCapacity) pHarmonics[0].bChanged = true;
}

void CoreProg::setot(int16_t h, int16_t mode) {
    if (!hasTree(h) || (mode != 0 && mode != 1)) return;
    HLOC& record = pHarmonics[h];
    const bool hybrid = hybridReady();
    if (mode == 1) {
        record.pEnvelopeinuse = record.pEndfadeenvelope;
        record.iFadelengthinuse = record.iCut;
        record.iSizeinuse = record.iThirdsize;
        if (hybrid && h == iCapacity) record.iFadein = 0;
    } else {
        record.pEnvelopeinuse = record.pFadeoutenvelope;
        record.iFadelengthinuse = record.iFadeout;
        record.iSizeinuse = record.iSecondsize;
        // Harmonic 0 plays its short kernel without an end fade: the hybrid record continues it.
        if (hybrid && h == 0) record.iFadelengthinuse = 0;
    }
    record.pRoot->setcr(record.pEnvelopeinuse, record.iFadelengthinuse, record.iSizeinuse, record.iFadein);
    record.pRoot->chncd(mode);
}

// ---- element kernels of the hybrid record ------------------------------------------------------------

void CoreProg::trsir(int16_t h, int32_t n) {
    if (!hasTree(h)) return;
    const HLOC& record = pHarmonics[h];
    const int32_t blanked = std::min(n, record.iKernellength);
    for (int j = 0; j < record.pLeafvectors->Count; ++j) {
        CoreVctr* leaf = leafAt(record, j);
        for (int k = 0; k < leaf->getne(); ++k) leaf->cpyip(k, nullptr, nullptr, blanked);
    }
}

void CoreProg::cpyir(int16_t to, int16_t from) {
    if (!sameShape(to, from)) {
        CoreLog_::loger(CoreAnsx("Kernels of H") + CoreAnsx(to + 1) + CoreAnsx(" not copied from H") +
                            CoreAnsx(from + 1) + CoreAnsx(": the records differ"),
                        1);
        return;
    }
    const int32_t length = std::min(pHarmonics[to].iKernellength, pHarmonics[from].iKernellength);
    for (int j = 0; j < pHarmonics[from].pLeafvectors->Count; ++j) {
        CoreVctr* source = leafAt(pHarmonics[from], j);
        CoreVctr* target = leafAt(pHarmonics[to], j);
        for (int k = 0; k < source->getne(); ++k) {
            void* left = nullptr;
            void* right = nullptr;
            source->getip(k, left, right);
            target->cpyip(k, static_cast<double*>(left), static_cast<double*>(right), length);
        }
    }
}

// ---- queries --------------------------------------------------------------------------------------------

bool CoreProg::hasti() const {
    return pInputtrim->actve();
}

bool CoreProg::hasto() const {
    return pOutputtrim->actve();
}

bool CoreProg::hasdr() const {
    return pDrycontrol->actve();
}

bool* CoreProg::getui(int16_t h) {
    return hasTree(h) ? pHarmonics[h].pRoot->getuc() : nullptr;
}

bool* CoreProg::getus() {
    return hasTree(0) ? pHarmonics[0].pRoot->getus() : nullptr;
}

bool CoreProg::getrz(CoreAnsx name, int32_t& start, int32_t& end) const {
    const CoreAnsx key = name.Trim().UpperCase();
    bool result = false;
    for (int h = 0; h < iCapacity; ++h) {
        if (!hasTree(h)) continue;
        for (int j = 0; j < pHarmonics[h].pLeafvectors->Count; ++j) {
            const CoreVctr* leaf = leafAt(pHarmonics[h], j);
            for (int k = 0; k < leaf->getne(); ++k) {
                if (leaf->getfn(k).Trim().UpperCase() != key) continue;
                long first = 0;
                long last = 0;
                result = leaf->getrz(k, first, last);
                start = static_cast<int32_t>(first);
                end = static_cast<int32_t>(last);
            }
        }
    }
    return result;
}
