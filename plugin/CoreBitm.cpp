#include "plugin/CoreBitm.h"

#include "base/CoreSmph.h"
#include "base/CoreTlst.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreHfsy.h"

#include <new>

CoreBitm::CoreBitm() : CBitmap(0), master(true), entries(new CoreTlst()), lock(new CoreSmph()) {}

CoreBitm::CoreBitm(int32_t resource) : CBitmap(resource) {}

CoreBitm::~CoreBitm() {
    if (!master) return;
    for (int i = entries->Count - 1; i >= 0; --i) {
        auto* entry = static_cast<BITMAPLOC*>(entries->Items[i]);
        delete entry->bitmap;
        delete entry;
    }
    delete entries;
    delete lock;
}

void CoreBitm::begin() {
    if (lock) lock->locks();
}

void CoreBitm::end__() {
    if (lock) lock->relse();
}

bool CoreBitm::ldfle(CoreFsys* fsys, const CoreAnsx& name) {
    int32_t width = 0, height = 0;
    bool notPng = true;
    CorePict* picture = fsys ? CoreHfsy::ldimg(fsys, name, width, height, notPng) : nullptr;
    setImage(picture, picture ? notPng : true);
    return picture != nullptr;
}

int32_t CoreBitm::getec() const {
    return entries ? entries->Count : 0;
}

CoreBitm::BITMAPLOC* CoreBitm::shared(const CoreTlst* list, const CoreAnsx& key, const CoreAnsx& folder,
                                      int32_t resource) const {
    // The folder is compared as written: two skins whose folders differ only in case are two skins.
    const CoreAnsx wanted = key.UpperCase();
    for (int i = 0; i < list->Count; ++i) {
        auto* entry = static_cast<BITMAPLOC*>(list->Items[i]);
        if (entry->key.Length() > 0 && entry->resource == resource && entry->folder == folder &&
            entry->key.UpperCase() == wanted)
            return entry;
    }
    return nullptr;
}

void CoreBitm::stabm(CoreTlst* own, CoreFsys* fsys, const CoreAnsx& name, CoreBitm** out, int32_t resource,
                     bool privateOnly) {
    if (!master || !own || !out) return;
    const bool missing = name == CoreAnsx("0") || !fsys || !fsys->exstf(name);
    if (!missing) {
        const CoreAnsx folder = fsys->getdt();
        if (BITMAPLOC* found = shared(privateOnly ? own : entries, name, folder, resource)) {
            if (!own->Add(found)) throw std::bad_alloc();
            ++found->references;
            *out = found->bitmap;
            return;
        }
    }
    auto entry = std::make_unique<BITMAPLOC>(BITMAPLOC{CoreAnsx(""), CoreAnsx(""), 1, resource, nullptr});
    std::unique_ptr<CoreBitm> bitmap;
    if (!missing) {
        bitmap.reset(new CoreBitm(0));
        // An item that does not decode counts as missing: the caller's built-in image, not shared.
        if (bitmap->ldfle(fsys, name)) {
            entry->key = name;
            entry->folder = fsys->getdt();
        } else {
            bitmap.reset();
        }
    }
    if (!bitmap) bitmap.reset(new CoreBitm(resource));
    entry->bitmap = bitmap.get();
    if (!entries->Add(entry.get())) throw std::bad_alloc();
    if (!own->Add(entry.get())) {
        entries->Delete(entries->Count - 1);
        throw std::bad_alloc();
    }
    bitmap.release();
    *out = entry.release()->bitmap;
}

void CoreBitm::purgb(CoreTlst* own) {
    if (!master || !own) return;
    for (int i = 0; i < own->Count; ++i) {
        const void* given = own->Items[i];
        for (int k = 0; k < entries->Count; ++k) {
            if (entries->Items[k] != given) continue;
            auto* entry = static_cast<BITMAPLOC*>(entries->Items[k]);
            if (--entry->references <= 0) {
                delete entry->bitmap;
                delete entry;
                entries->Delete(k);
            }
            break;
        }
    }
    own->Clear();
}
