#include "processor/CoreMmry.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CoreNode.h"
#include "base/CoreSgrd.h"
#include "base/CoreXml_.h"
#include "base/CoreXutl.h"
#include "filestore/CoreFsys.h"

#include <memory>

namespace {

const CoreAnsx kFree("0"); // what the text getters answer for a free slot

} // namespace

CoreMmry::CoreMmry(CorePool* pool, const CoreAnsx& dataFolder, int16_t alternativeCount,
                   CoreAnsx* alternativeFolders, const CoreAnsx& setupSubPath, const CoreAnsx& programSubPath,
                   const CoreAnsx& vectorSubPath, const CoreAnsx& cacheSubPath, bool useCache,
                   CoreFsys* fileStore)
    : sDatafolder(dataFolder), sSetupsubpath(setupSubPath), sProgramsubpath(programSubPath),
      sVectorsubpath(vectorSubPath), sCachefolder(dataFolder + cacheSubPath), pAlternativefolders(alternativeFolders),
      pDistinctlist(nullptr), iDistinctcount(0), iDistinctcapacity(0), iAlternativecount(alternativeCount), iCursor(0), iBrowsedepth(0),
      iSaveddepth(0), iLoadslot(-1), iTreepath{-1, -1, -1, -1, -1}, bCacheenabled(false),
      bExternalstore(fileStore != nullptr), bLeaf(false), bDictionary(false), pSlots(new MEMORYMANAGER),
      pPool(pool), pStore(fileStore), pTree(nullptr), pTreeroot(nullptr), pDictionary(nullptr) {
    std::unique_ptr<CoreFsys> ownStore;
    if (!bExternalstore) {
        ownStore.reset(new CoreFsys(pool));
        ownStore->setdt(dataFolder);
    }
    // A given store may name an item container as its data folder, which is no folder to hold a cache.
    bCacheenabled = useCache && !bExternalstore;
    if (bCacheenabled) {
        // Found once whatever its case; created only when no folder of any case exists.
        sCachefolder = CoreButl::pcase(sCachefolder);
        if (!CoreXutl::ispvl(sCachefolder.c_str())) {
            sCachefolder = CoreButl::wcase(sCachefolder);
            CoreXutl::crdir(sCachefolder.c_str());
            CoreButl::pcdrp(sCachefolder);
        }
    }
    cleat();
    if (ownStore) pStore = ownStore.release();
}

CoreMmry::~CoreMmry() {
    delete pTree;
    delete[] pDistinctlist;
    clear();
    pAlternativefolders = nullptr;
    if (!bExternalstore) delete pStore;
}

void CoreMmry::setdc(CoreDcry* dictionary) {
    pDictionary = dictionary;
    bDictionary = true;
}

// ---- slot getters -----------------------------------------------------------------------------------------

CoreAnsx CoreMmry::getnm(int32_t n) const {
    CoreSgrd guard(oLock);
    return within(n, iCmemorydim) && slot(n).used ? slot(n).name : kFree;
}

CoreAnsx CoreMmry::getds(int32_t n) const {
    CoreSgrd guard(oLock);
    return within(n, iCmemorydim) && slot(n).used ? slot(n).description : kFree;
}

CoreAnsx CoreMmry::getct(int32_t n, int32_t level) const {
    CoreSgrd guard(oLock);
    if (!within(n, iCmemorydim) || !within(level, iCcategories) || !slot(n).used) return kFree;
    return slot(n).category[level];
}

CoreAnsx CoreMmry::getcc(int32_t n) const {
    CoreSgrd guard(oLock);
    return within(n, iCmemorydim) && slot(n).used ? slot(n).cachedfile : kFree;
}

CoreAnsx CoreMmry::getpf(int32_t n) const {
    CoreSgrd guard(oLock);
    return within(n, iCmemorydim) && slot(n).used ? slot(n).filepath : CoreAnsx("");
}

CoreAnsx CoreMmry::getfp(int32_t n, bool asStored) const {
    CoreSgrd guard(oLock);
    if (!within(n, iCmemorydim) || !slot(n).used) return kFree;
    return asStored ? slot(n).filepath : sProgramsubpath + slot(n).filepath;
}

bool CoreMmry::getwp(int32_t n) const {
    CoreSgrd guard(oLock);
    return within(n, iCmemorydim) && slot(n).used && slot(n).packed;
}

CoreAnsx CoreMmry::getfv(int32_t n, bool asStored) const {
    CoreSgrd guard(oLock);
    if (!within(n, iCmemorydim) || !slot(n).used) return kFree;
    const MEMORYLOC& loc = slot(n);
    const CoreAnsx& base = loc.vectorname == kFree ? loc.filepath : loc.vectorname;
    const CoreAnsx container = CoreButl::setfx(base, CoreAnsx(CoreButl::sCextq7v));
    return asStored ? container : sVectorsubpath + container;
}

void CoreMmry::getel(int32_t n, MEMORYLOC* out) const {
    if (!out) return;
    CoreSgrd guard(oLock);
    const MEMORYLOC freeSlot;
    const MEMORYLOC& loc = within(n, iCmemorydim) ? slot(n) : freeSlot;
    copyFields(loc, *out);
}

void CoreMmry::copyFields(const MEMORYLOC& from, MEMORYLOC& to) {
    to.used = from.used;
    to.lazy = from.lazy;
    to.packed = from.packed;
    to.name = from.name;
    to.filepath = from.filepath;
    to.vectorname = from.vectorname;
    for (int level = 0; level < iCcategories; ++level) to.category[level] = from.category[level];
    to.description = from.description;
    to.cachedfile = from.cachedfile;
}

// ---- slot setters -----------------------------------------------------------------------------------------

void CoreMmry::setnm(int32_t n, const CoreAnsx& name) {
    CoreSgrd guard(oLock);
    if (within(n, iCmemorydim) && slot(n).used) slot(n).name = name;
}

void CoreMmry::setds(int32_t n, const CoreAnsx& description) {
    CoreSgrd guard(oLock);
    if (within(n, iCmemorydim) && slot(n).used) slot(n).description = description;
}

void CoreMmry::setct(int32_t n, const CoreAnsx& text, int32_t level) {
    CoreSgrd guard(oLock);
    if (within(n, iCmemorydim) && within(level, iCcategories) && slot(n).used) slot(n).category[level] = text;
}

void CoreMmry::setfp(int32_t n, const CoreAnsx& name) {
    CoreSgrd guard(oLock);
    if (!within(n, iCmemorydim) || !slot(n).used) return;
    const char* extension = slot(n).packed ? CoreButl::sCextq7p : CoreButl::sCextxml;
    slot(n).filepath = CoreButl::setfx(name, CoreAnsx(extension));
}

namespace {

// The program text parsed into a document of its own, so that a text that is no document leaves the
// slot's program in place. Throws (logged) when the text gives no element.
std::unique_ptr<CoreXml_> parseProgram(int32_t slot, const CoreAnsx& text) {
    std::unique_ptr<CoreXml_> document(new CoreXml_);
    CoreAnsx reason("no element");
    try {
        const CoreNode* root = document->getfc(text);
        if (root && root->getcd()) return document;
    } catch (const CoreAnsx& error) {
        if (error.Length() > 0) reason = error;
        else reason = "malformed XML";
    }
    const CoreAnsx message = CoreAnsx("Program memory: slot ") + CoreAnsx(slot) +
                             " kept as it was, the program text gives " + reason;
    CoreLog_::loger(message, 1);
    throw message;
}

} // namespace

void CoreMmry::setvl(int32_t n, bool packed, const CoreAnsx& filePath, const CoreAnsx& text) {
    CoreSgrd guard(oLock);
    if (!within(n, iCmemorydim)) return;
    std::unique_ptr<CoreXml_> document = parseProgram(n, text);
    iclrp(n);
    MEMORYLOC& loc = slot(n);
    loc.used = true;
    loc.lazy = false;
    loc.packed = packed;
    loc.filepath = filePath;
    loc.document = document.release();
    invca(n);
}

void CoreMmry::setvl(int32_t n, const CoreAnsx& text, bool writeCache) {
    CoreSgrd guard(oLock);
    if (!within(n, iCmemorydim)) return;
    std::unique_ptr<CoreXml_> document = parseProgram(n, text);
    MEMORYLOC& loc = slot(n);
    // A free slot becomes used with the file path it kept; a lazy one now holds its document.
    loc.used = true;
    loc.lazy = false;
    delete loc.document;
    loc.document = document.release();
    if (writeCache) setca(n);
    else invca(n);
}

// ---- searches and clearing --------------------------------------------------------------------------------

int32_t CoreMmry::srcnm(const CoreAnsx& name) const {
    if (name == kFree) return -1;
    for (int32_t n = 0; n < iCmemorydim; ++n)
        if (slot(n).used && slot(n).name == name) return n;
    return -1;
}

int32_t CoreMmry::setmc(int32_t bank) {
    if (!within(bank, iCbanks)) return -1;
    iCursor = bank * iCbankdim;
    return iCursor;
}

int32_t CoreMmry::getne() {
    for (int32_t n = iCursor; n < iCmemorydim; ++n) {
        if (!slot(n).used) {
            iCursor = n;
            return n;
        }
    }
    iCursor = 0;
    return -1;
}

int32_t CoreMmry::getcf(int32_t start) const {
    // Locked, though a search: the display reads the used flags while the host's
    // thread may restore a chunk.
    CoreSgrd guard(oLock);
    if (!within(start, iCmemorydim)) return -1;
    for (int32_t i = 0; i < iCmemorydim; ++i) {
        const int32_t n = (start + i) % iCmemorydim;
        if (!slot(n).used) return n;
    }
    return -1;
}

void CoreMmry::iclrp(int32_t n) {
    if (!within(n, iCmemorydim) || !slot(n).used) return;
    MEMORYLOC& loc = slot(n);
    loc.used = false;
    loc.lazy = false;
    loc.packed = false;
    loc.name = CoreAnsx();
    for (CoreAnsx& text : loc.category) text = CoreAnsx();
    loc.description = CoreAnsx();
    loc.cachedfile = CoreAnsx();
    loc.vectorname = kFree;
    delete loc.document;
    loc.document = nullptr;
}

void CoreMmry::clrpr(int32_t n) {
    CoreSgrd guard(oLock);
    iclrp(n);
}

void CoreMmry::iclea(int32_t bank) {
    if (!within(bank, iCbanks)) return;
    for (int32_t n = bank * iCbankdim; n < (bank + 1) * iCbankdim; ++n) iclrp(n);
}

void CoreMmry::clear(int32_t bank) {
    CoreSgrd guard(oLock);
    iclea(bank);
}

void CoreMmry::clear() {
    for (int32_t bank = 0; bank < iCbanks; ++bank) clear(bank);
}
