#include "processor/CoreDcry.h"

#include "base/CoreButl.h"
#include "base/CoreNode.h"
#include "base/CoreXml_.h"
#include "program/DataXml_.h"

CoreDcry::CoreDcry(const CoreAnsx& path) : bLoaded(false), pDocument(new CoreXml_), pDictionary(nullptr) {
    // The settings name no file by default.
    if (CoreButl::getfn(path, false) == CoreAnsx(CoreButl::sCnull)) return;
    try {
        const CoreNode* root = pDocument->getff(path, false);
        bLoaded = root && root->exslc(DataXml_::sCtagdictry);
        if (bLoaded) pDictionary = root->getcd(DataXml_::sCtagdictry);
    } catch (const CoreAnsx&) {
        bLoaded = false; // the reader has logged the malformed file
    }
}

CoreDcry::~CoreDcry() {
    delete pDocument;
    pDocument = nullptr;
    pDictionary = nullptr;
}

CoreAnsx CoreDcry::getvl(const CoreAnsx& section, const CoreAnsx& key) const {
    if (!bLoaded) return key;
    const CoreNode* entries = pDictionary->getcd(section);
    if (!entries || !entries->exslc(key)) return key;
    return entries->getls(key);
}
