#include "modulation/CoreRfun.h"

#include "modulation/CoreGfun.h"

CoreRfun::CoreRfun(const CoreAnsx& name, DataRgfn* raws, DataSrce* sources, CoreSrce* output)
    : sName(name), sKeya(name + CoreAnsx("_A")), sKeyb(name + CoreAnsx("_B")), sRawname0(""), sRawname1(""),
      sRowkey(""), bActive(false), pOutput(output),
      pInputa(new CoreParm(sKeya, sKeya, CoreAnsx("-"), -1.0, 1.0, sources)),
      pInputb(new CoreParm(sKeyb, sKeyb, CoreAnsx("-"), -1.0, 1.0, sources)), pRaws(raws),
      pRow(nullptr), rRecord{0.0, 0.0, nullptr, nullptr, 0, 0, 0.0, 0.0, 0.0} {
    if (pRaws != nullptr) {
        pRow = pRaws->getgf(CoreAnsx(""));
        sRowkey = pRow->getky();
    }
}

CoreRfun::~CoreRfun() {
    delete pInputa;
    delete pInputb;
}

void CoreRfun::setvl(const CoreAnsx& sourceA, const CoreAnsx& sourceB, const CoreAnsx& rawName0,
                     const CoreAnsx& rawName1, const CoreAnsx& rowKey, int k, double start) {
    pInputa->setsr(sourceA, -1.0, 1.0);
    pInputb->setsr(sourceB, -1.0, 1.0);
    sRawname0 = rawName0;
    sRawname1 = rawName1;
    if (pRaws != nullptr) {
        pRow = pRaws->getgf(rowKey);
        sRowkey = pRow->getky();
    }
    rRecord.dK = static_cast<double>(k);
    rRecord.dY = CoreGfun::unipl(start);
    rRecord.dT = 0.0;
    rRecord.pValues0 = nullptr;
    rRecord.pValues1 = nullptr;
    rRecord.iCount0 = 0;
    rRecord.iCount1 = 0;
    bActive = true;
}

void CoreRfun::setvl(int which, double* values, int count) {
    // A missing array counts as empty, so chckv deactivates the function.
    if (values == nullptr || count < 0) count = 0;
    if (which == 0) {
        rRecord.pValues0 = values;
        rRecord.iCount0 = count;
    } else {
        rRecord.pValues1 = values;
        rRecord.iCount1 = count;
    }
}

void CoreRfun::chckv() {
    if (rRecord.iCount0 == 0 || rRecord.iCount1 == 0) bActive = false;
}

void CoreRfun::setvl() {
    sRawname0 = CoreAnsx("");
    sRawname1 = CoreAnsx("");
    bActive = false;
}

CoreAnsx CoreRfun::getfr(int i) const {
    if (i == 0) return sRawname0;
    if (i == 1) return sRawname1;
    return CoreAnsx("");
}

void CoreRfun::updte(double t) {
    rRecord.dA = CoreGfun::unipl(pInputa->getvl());
    rRecord.dB = CoreGfun::unipl(pInputb->getvl());
    rRecord.dT = t;
    if (pRow == nullptr) return;
    rRecord.dY = pRow->xtfun(&rRecord);
    if (pOutput != nullptr) pOutput->setvl(CoreGfun::bipol(rRecord.dY));
}
