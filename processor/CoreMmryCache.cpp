// The metadata cache: one small XML file per program in the cache folder, named after the program's
// file stem, holding what a slot needs to be browsed without reading the program.
#include "processor/CoreMmry.h"

#include "base/CoreButl.h"
#include "base/CoreHutl.h"
#include "base/CoreLog_.h"
#include "base/CoreNode.h"
#include "base/CoreXml_.h"
#include "base/CoreXutl.h"
#include "filestore/CoreFsys.h"
#include "program/DataXml_.h"

#include <string>

namespace {

bool isWritten(const CoreAnsx& subcategory) {
    return subcategory != CoreAnsx("") && subcategory != CoreAnsx("0");
}

// A file name compared as the cache stores it: trimmed, case ignored, '\' read as '/'.
std::string comparable(const CoreAnsx& name) {
    std::string text = CoreButl::ffpen(name.Trim().UpperCase()).c_str();
    return text;
}

// Cache names drop the folder and the last extension, so several programs share one cache file;
// it serves only the entry whose program wrote it.
bool belongsTo(const CoreAnsx& original, const CoreAnsx& entry) {
    const std::string written = comparable(original);
    const std::string wanted = comparable(entry);
    if (written == wanted) return true;
    const CoreAnsx extension = CoreButl::getfx(entry.Trim());
    if (extension == CoreAnsx(CoreButl::sCextxml) || extension == CoreAnsx(CoreButl::sCextq7p)) return false;
    return written == wanted + CoreButl::sCextq7p || written == wanted + CoreButl::sCextxml;
}

// Modification time of a file found whatever its case, asking the disk once when the name is exact (a
// bank fill asks for up to 200 here); 0 when there is no such file.
double modified(const CoreAnsx& path, CoreAnsx& found) {
    found = path;
    const double time = CoreHutl::getst(path);
    if (time != 0.0) return time;
    found = CoreButl::pcase(path);
    return found == path ? 0.0 : CoreHutl::getst(found);
}

// A file at a cache file's name that holds another kind of document: with a cache folder that is also
// a program folder, "Kick.xml" is both the program and its cache name, and the cache must never write
// over it or delete it. Absent files, cache files and files that are no XML document (a stale or broken
// cache file) may be replaced.
bool holdsForeignDocument(const CoreAnsx& path) {
    CoreAnsx found;
    if (modified(path, found) == 0.0) return false;
    CoreXml_ document;
    const CoreNode* root = nullptr;
    try {
        root = document.getff(found, false);
    } catch (const CoreAnsx&) {
        return false;
    }
    const CoreTlst* tops = root ? root->getcn() : nullptr;
    for (int i = 0; tops && i < tops->Count; ++i) {
        const CoreNode* top = static_cast<const CoreNode*>(tops->Items[i]);
        const bool element = top->getcn() && top->getcn()->Count > 0;
        if (element && top->gettx().Trim().UpperCase() != CoreAnsx(DataXml_::sCtagcache_)) return true;
    }
    return false;
}

bool refusesForeign(const CoreAnsx& path) {
    if (!holdsForeignDocument(path)) return false;
    CoreLog_::loger(CoreAnsx("Program memory: ") + path + CoreAnsx(" is not a cache file and is left as it is"), 1);
    return true;
}

} // namespace

CoreNode* CoreMmry::element(const CoreAnsx& tag, const CoreAnsx& value) {
    CoreNode* node = new CoreNode(tag);
    node->addcd(new CoreNode(value));
    return node;
}

CoreAnsx CoreMmry::cacheName(const MEMORYLOC& loc) const {
    const CoreAnsx stem = CoreButl::getfn(loc.filepath, true);
    if (stem.Trim() == CoreAnsx("")) return CoreAnsx(""); // no program file, no cache file
    return CoreButl::setfx(stem, CoreAnsx(CoreButl::sCextxml));
}

void CoreMmry::setca(int32_t n) {
    if (!bCacheenabled || !within(n, iCmemorydim) || !slot(n).used) return;
    // The program file loader treats a throw here as a failed load and drops the program it read.
    try {
        const MEMORYLOC& loc = slot(n);
        const CoreAnsx name = cacheName(loc);
        if (name == CoreAnsx("")) return;
        CoreXml_ document;
        CoreNode* cache = new CoreNode(DataXml_::sCtagcache_);
        document.setrt(new CoreNode(CoreAnsx(CoreXml_::sCroot)));
        document.getrt()->addcd(cache);
        cache->addcd(element(DataXml_::sCtagorgfnm, loc.filepath));
        cache->addcd(element(DataXml_::sCtagprognm, loc.name));
        cache->addcd(element(DataXml_::sCtagcategr, loc.category[0]));
        if (isWritten(loc.category[1])) cache->addcd(element(DataXml_::sCtagsubca1, loc.category[1]));
        if (isWritten(loc.category[2])) cache->addcd(element(DataXml_::sCtagsubca2, loc.category[2]));
        cache->addcd(element(DataXml_::sCtagdescrp, loc.description));
        cache->addcd(element(DataXml_::sCtagwaspac, CoreAnsx(loc.packed ? "1" : "0")));
        cache->addcd(element(DataXml_::sCtagcachef, loc.cachedfile));
        if (refusesForeign(sCachefolder + name)) return;
        document.settf(CoreButl::wcase(sCachefolder + name), false, false, false);
    } catch (...) {
        CoreLog_::loger(CoreAnsx("Program memory: no cache file written for slot ") + CoreAnsx(n), 1);
    }
}

bool CoreMmry::getca(int32_t n, const CoreAnsx& fileName) {
    if (!bCacheenabled || !within(n, iCmemorydim) || slot(n).used) return false;
    const CoreAnsx name = CoreButl::setfx(fileName, CoreAnsx(CoreButl::sCextxml));
    CoreAnsx path;
    const double cacheTime = modified(sCachefolder + name, path);
    if (cacheTime == 0.0) return false;
    CoreXml_ document;
    const CoreNode* cache = nullptr;
    try {
        const CoreNode* root = document.getff(path, false);
        cache = root ? root->getcd(DataXml_::sCtagcache_) : nullptr;
    } catch (const CoreAnsx&) {
        return false; // the reader has logged the malformed file
    }
    if (!cache || !belongsTo(cache->getls(DataXml_::sCtagorgfnm), fileName)) return false;

    MEMORYLOC& loc = slot(n);
    loc.filepath = cache->getls(DataXml_::sCtagorgfnm);
    loc.name = cache->getls(DataXml_::sCtagprognm);
    loc.category[0] = cache->getls(DataXml_::sCtagcategr);
    loc.category[1] = CoreAnsx("");
    loc.category[2] = CoreAnsx("");
    // A second subcategory counts only below a first one.
    if (cache->exslc(DataXml_::sCtagsubca1)) {
        loc.category[1] = cache->getls(DataXml_::sCtagsubca1);
        if (cache->exslc(DataXml_::sCtagsubca2)) loc.category[2] = cache->getls(DataXml_::sCtagsubca2);
    }
    loc.description = cache->getls(DataXml_::sCtagdescrp);
    loc.cachedfile = cache->getls(DataXml_::sCtagcachef);
    loc.packed = cache->getli(DataXml_::sCtagwaspac) != 0;
    loc.used = true;
    loc.lazy = true;
    loc.document = nullptr;

    // A program file that cannot be found makes the cache stale.
    CoreAnsx program;
    const double programTime = modified(loc.cachedfile, program);
    return programTime != 0.0 && programTime < cacheTime;
}

void CoreMmry::invca(int32_t n) {
    if (!bCacheenabled || !within(n, iCmemorydim)) return;
    const CoreAnsx name = cacheName(slot(n));
    if (name == CoreAnsx("") || !CoreFsys::exstf(sCachefolder, name)) return;
    const CoreAnsx path = CoreButl::pcase(sCachefolder + name);
    if (refusesForeign(path)) return;
    CoreXutl::delfl(path.c_str());
    CoreButl::pcdrp(path);
}
