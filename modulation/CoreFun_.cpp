#include "modulation/CoreFun_.h"

CoreFun_::CoreFun_(const CoreAnsx& name, DataGfun* functions, DataSrce* sources, CoreSrce* output)
    : sName(name), sKeya(name + CoreAnsx("_A")), sKeyb(name + CoreAnsx("_B")), sOperationkey(""),
      pSources(sources), pOutput(output),
      pInputa(new CoreParm(sKeya, sKeya, CoreAnsx("-"), -1.0, 1.0, sources)),
      pInputb(new CoreParm(sKeyb, sKeyb, CoreAnsx("-"), -1.0, 1.0, sources)), pFunctions(functions),
      pOperation(nullptr) {
    setfn(CoreAnsx(""));
}

CoreFun_::~CoreFun_() {
    delete pInputa;
    delete pInputb;
}

void CoreFun_::setvl(const CoreAnsx& sourceA, const CoreAnsx& sourceB, const CoreAnsx& operationKey) {
    pInputa->setsr(sourceA, -1.0, 1.0);
    pInputb->setsr(sourceB, -1.0, 1.0);
    setfn(operationKey);
}

void CoreFun_::setfn(const CoreAnsx& key) {
    if (pFunctions == nullptr) return;
    pOperation = pFunctions->getgf(1, key);
    sOperationkey = pOperation->getky();
}

void CoreFun_::setia(const CoreAnsx& sourceA) {
    pInputa->setsr(sourceA, -1.0, 1.0);
}

void CoreFun_::setib(const CoreAnsx& sourceB) {
    pInputb->setsr(sourceB, -1.0, 1.0);
}

void CoreFun_::updte() {
    if (pOperation == nullptr || pOutput == nullptr) return;
    pOutput->setvl(pOperation->xtfun(pInputa->getvl(), pInputb->getvl(), nullptr));
}
