#include "base/CoreVars.h"

CoreVars::CoreVars() : bOpen(false), pDocument(nullptr) {
    open_();
}

CoreVars::~CoreVars() {
    close();
}

void CoreVars::open_() {
    close();
    // The ROOT element starts with a leaf of one space, which no (non-blank) key reaches.
    CoreAnsx empty = CoreAnsx("<") + sCtagvrroot + "> </" + sCtagvrroot + ">";
    pDocument = new CoreXml_();
    pDocument->getfc(empty);
    bOpen = true;
}

void CoreVars::free_() {
    open_();
}

void CoreVars::close() {
    if (bOpen) delete pDocument;
    pDocument = nullptr;
    bOpen = false;
}

CoreAnsx CoreVars::getit(const CoreAnsx& key) const {
    CoreAnsx k = key.UpperCase().Trim();
    if (!bOpen || !pDocument || !pDocument->getrt() || k.Length() <= 0) return CoreAnsx("");
    const CoreNode* entries = pDocument->getrt()->getcd(CoreAnsx(sCtagvrroot));
    if (!entries || !entries->exslc(k)) return CoreAnsx("");
    return entries->getls(k);
}

void CoreVars::addit(const CoreAnsx& key, const CoreAnsx& value) {
    CoreAnsx k = key.UpperCase().Trim();
    if (!bOpen || !pDocument || k.Length() <= 0) return;
    CoreNode* entry = new CoreNode(key);
    entry->addcd(new CoreNode(value));
    const CoreAnsx deletePath[2] = {CoreAnsx(sCtagvrroot), k};
    pDocument->pdlte(deletePath, 2);
    const CoreAnsx appendPath[1] = {CoreAnsx(sCtagvrroot)};
    pDocument->pappd(appendPath, 1, entry);
}
