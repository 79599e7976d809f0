#include "plugin/CoreKehk.h"

#include "plugin/CoreFrlk.h"
#include "plugin/CoreFrme.h"
#include "plugin/CoreInpt.h"

CoreKehk::CoreKehk(CoreFrlk* link, CorePpwr* effect) : pLink(link), pEffect(effect) {}

CoreKehk::~CoreKehk() { unhok(); }

void CoreKehk::dohok() {
    if (bInstalled || !pLink || !pLink->getfr()) return;
    pLink->getfr()->setKeyHook(&CoreInpt::keytr, pEffect);
    bInstalled = true;
}

void CoreKehk::unhok() {
    if (!bInstalled) return;
    if (pLink && pLink->getfr()) pLink->getfr()->setKeyHook(nullptr, nullptr);
    bInstalled = false;
}
