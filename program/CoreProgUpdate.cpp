// The per-block update of CoreProg and the envelope followers' per-sample feed (see CoreProg.h).
// Audio path: no allocation, no lock, no log, no text; the modulator arrays are walked directly.
#include "program/CoreProg.h"

#include "convolution/CoreRvct.h"
#include "convolution/CoreVctr.h"
#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreGfun.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CoreRfun.h"
#include "modulation/DataSrce.h"

#include <cmath>

void CoreProg::updte(bool advance, double dt, double level, double tempo) {
    // The rate comes from the host: below 1 Hz time stands still rather than running to infinity.
    const double seconds = iProgramratehz >= 1 ? CoreGfun::flush(dt / iProgramratehz) : 0.0;
    const double magnitude = CoreGfun::flush(std::fabs(level));
    pSources->getis(DataSrce::iCrowlsto)->setvl(magnitude > 0.0 ? 2.0 * magnitude - 1.0 : -1.0);

    // Each modulator reads the sources the ones before it have just written.
    for (int i = 0; i < iCfollowers; ++i) pFollowers[i]->updte();
    for (int i = 0; i < iClfos; ++i) pLfos[i]->updte(seconds, tempo);
    for (int i = 0; i < iCfuns; ++i) pFuns[i]->updte();
    for (int i = 0; i < iCdynamics; ++i) pDynamics[i]->updte();
    for (int i = 0; i < iCenvelopes; ++i) pEnvelopes[i]->updte(dt);
    for (int r = 0; r < iCraws; ++r)
        if (pRaws[r].bActive && pRaws[r].pRoot != nullptr) pRaws[r].pRoot->chnup();
    for (int i = 0; i < iCrawfuns; ++i)
        if (pRawfuns[i]->isact()) pRawfuns[i]->updte(dt);

    // The trees recompute bottom-up; on the audio path the new kernels get their fades.
    for (int h = 0; h < iHarmonicsloaded; ++h) {
        CoreVctr* root = pHarmonics[h].pRoot;
        if (root == nullptr) continue;
        root->chnru(advance);
        if (advance) root->setfd(false, 0, 0);
    }
    // FORCEHYBRID can be switched on without a hybrid record (setfh): only a tree that exists plays.
    const HLOC& hybrid = pHarmonics[iCapacity];
    if (advance && bForcehybrid && hybrid.bValid && hybrid.pRoot != nullptr) {
        hybrid.pRoot->chnru(true);
        hybrid.pRoot->setfd(true, hybrid.iThirdsize, hybrid.iCut);
    }
}

void CoreProg::setef(double a, double b, double c, double d) {
    for (int i = 0; i < iCfollowers - 1; ++i) pFollowers[i]->setei(a, b, c, d);
}

void CoreProg::setes(double a, double b) {
    pFollowers[iCfollowers - 1]->setei(a, b, 0.0, 0.0);
}

bool CoreProg::hasef() const {
    for (int i = 0; i < iCfollowers - 1; ++i)
        if (pFollowers[i]->isact()) return true;
    return false;
}

bool CoreProg::hases() const {
    return pFollowers[iCfollowers - 1]->isact();
}
