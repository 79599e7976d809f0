// The program memory's files: program files read into slots, setup files that fill a bank, the folder
// scan, and the whole-slot operations that move, copy, re-read and hand out a slot's program.
#include "processor/CoreMmry.h"

#include "base/CoreButl.h"
#include "base/CoreHutl.h"
#include "base/CoreLog_.h"
#include "base/CoreNode.h"
#include "base/CorePool.h"
#include "base/CoreSgrd.h"
#include "base/CoreTlst.h"
#include "base/CoreXml_.h"
#include "filestore/CoreFsys.h"
#include "program/DataXml_.h"

#include <algorithm>
#include <exception>
#include <memory>
#include <numeric>
#include <string>
#include <unordered_set>
#include <vector>

namespace {

const CoreAnsx kNone("0");          // no program, no vector file name yet; as a setup name: the last scan
constexpr int kMostScanned = 10000; // names the folder scan collects at most

bool namesNoContainer(const CoreAnsx& container) {
    const CoreAnsx name = container.Trim().UpperCase();
    return name.Length() <= 0 || name == kNone || name == CoreAnsx(CoreButl::sCnull);
}

// The scan's form of a program file name: upper-cased, without folder and extension.
std::string stemKey(const CoreAnsx& path) {
    return CoreButl::getfn(path.UpperCase(), true).c_str();
}

// A whole-bank setup document as the writers start it: SETUP parsed from "<SETUP> </SETUP>", so it
// holds one blank text before its entries.
CoreNode* emptySetup(CoreXml_& document) {
    const CoreAnsx& tag = DataXml_::sCtagsetup_;
    return document.getfc(CoreAnsx("<") + tag + "> </" + tag + ">")->getcd(tag);
}

// Sequence numbers and load marks of a setup's entries, from the pool and released on every path.
struct PoolInts {
    CorePool* pool;
    int32_t* values;
    PoolInts(CorePool* owner, int32_t count)
        : pool(owner), values(static_cast<int32_t*>(owner->mallc(1, count, "MMRY"))) {}
    ~PoolInts() { pool->free_(values); }
    PoolInts(const PoolInts&) = delete;
    PoolInts& operator=(const PoolInts&) = delete;
};

} // namespace

std::vector<int32_t> CoreMmry::placementOrder(int32_t* sequences, int32_t count) {
    std::vector<int32_t> order(count);
    std::iota(order.begin(), order.end(), 0);
    std::vector<int32_t> sorted(sequences, sequences + count);
    std::sort(sorted.begin(), sorted.end());
    if (std::adjacent_find(sorted.begin(), sorted.end()) == sorted.end()) {
        std::sort(order.begin(), order.end(),
                  [sequences](int32_t a, int32_t b) { return sequences[a] < sequences[b]; });
        return order;
    }
    for (int32_t i = 0; i < count; ++i) {
        for (int32_t j = i + 1; j < count; ++j) {
            if (sequences[j] < sequences[i]) {
                std::swap(sequences[i], sequences[j]);
                std::swap(order[i], order[j]);
            }
        }
    }
    return order;
}


// ---- program file load -----------------------------------------------------------------------------------

void CoreMmry::settleExtension(CoreAnsx& path, CoreAnsx& stored) const {
    const CoreAnsx extension = CoreButl::getfx(path);
    CoreAnsx folder;
    const auto exists = [&](const CoreAnsx& name) {
        return CoreFsys::exstf(sDatafolder, iAlternativecount, pAlternativefolders, name, folder);
    };
    const bool known = extension == CoreAnsx(CoreButl::sCextxml) || extension == CoreAnsx(CoreButl::sCextq7p);
    if (extension.Length() > 0 && (known || exists(path))) return; // loads as given
    // No extension, or a dotted stem that names no file (the scan lists "My.Prog.xml" as "MY.PROG"):
    // the extension is appended, so the stem keeps its dots. Packed programs come first.
    const bool packed = bExternalstore || exists(path + CoreAnsx(CoreButl::sCextq7p).LowerCase());
    const CoreAnsx appended = CoreAnsx(packed ? CoreButl::sCextq7p : CoreButl::sCextxml).LowerCase();
    path = path + appended;
    stored = stored + appended;
}

bool CoreMmry::readProgram(MEMORYLOC& loc, const CoreAnsx& path, CoreXml_& document) {
    const bool packed = CoreButl::getfx(path) == CoreAnsx(CoreButl::sCextq7p);
    CoreAnsx folder;
    // A given store holds the packed programs below its own base folder: read there, unsearched.
    const bool search = !(packed && bExternalstore);
    if (search && !CoreFsys::exstf(sDatafolder, iAlternativecount, pAlternativefolders, path, folder))
        return false;
    const CoreAnsx full = folder + path;
    if (packed) {
        // The container holds the program as one item named like the file, with the XML extension.
        const CoreAnsx item = CoreButl::setfx(path, CoreAnsx(CoreButl::sCextxml));
        CoreFsys container(pPool, folder, false, false);
        if (!container.loada(full, item, false, bExternalstore ? pStore : nullptr)) return false;
        document.getfc(container.ct2as(container.crtit(item, false, false)));
    } else {
        document.getff(full, false);
    }
    const CoreNode* root = document.getrt();
    const CoreNode* program = root ? root->getcd(DataXml_::sCtagprogrm) : nullptr;
    if (!program) {
        CoreLog_::logfl(full, 2);
        return false;
    }
    loc.name = program->getls(DataXml_::sCtagprognm);
    if (packed && program->exslc(DataXml_::sCtagactvnm))
        loc.vectorname = program->getls(DataXml_::sCtagactvnm);
    // Absent header elements leave the slot's texts as they were.
    const CoreAnsx* levels[iCcategories] = {&DataXml_::sCtagcategr, &DataXml_::sCtagsubca1,
                                            &DataXml_::sCtagsubca2};
    for (int level = 0; level < iCcategories; ++level)
        if (program->exslc(*levels[level])) loc.category[level] = program->getls(*levels[level]);
    if (program->exslc(DataXml_::sCtagdescrp)) loc.description = program->getls(DataXml_::sCtagdescrp);
    loc.cachedfile = full;
    loc.used = true;
    loc.lazy = false;
    loc.packed = packed;
    return true;
}

bool CoreMmry::loadl(int32_t n, CoreAnsx file) {
    if (!within(n, iCmemorydim)) return false;
    MEMORYLOC& loc = slot(n);
    loc.filepath = file;
    loc.vectorname = kNone;
    delete loc.document;
    loc.document = nullptr;
    CoreAnsx path = sProgramsubpath + file;
    settleExtension(path, loc.filepath);
    // A failed read leaves the used and lazy flags as they were: a free slot stays free, a lazy one
    // is tried again when next needed.
    auto document = std::make_unique<CoreXml_>();
    bool loaded = false;
    try {
        loaded = readProgram(loc, path, *document);
    } catch (const CoreAnsx&) { // the store and the XML reader have logged the cause
    } catch (const std::exception&) {
    }
    if (loaded) loc.document = document.release();
    if (loc.vectorname == kNone) loc.vectorname = loc.filepath;
    if (loaded) setca(n);
    return loaded;
}

// ---- setup files -----------------------------------------------------------------------------------------

bool CoreMmry::loads(const CoreAnsx& name, int32_t bank, bool clearBank) {
    if (!within(bank, iCbanks)) return false;
    CoreSgrd guard(oLock);
    iCursor = bank * iCbankdim;
    if (clearBank) iclea(bank);
    CoreXml_ document;
    bool read = false;
    try {
        const CoreNode* root = nullptr;
        if (name == kNone) {
            root = document.getfc(sScantext);
        } else {
            // The store keeps a file once read, but saves writes the file itself: a setup read from
            // disk is read afresh. One from a container stays as the container gave it.
            const CoreAnsx item = sSetupsubpath + name;
            const CoreFsys::FSYSTEMLOC* held = pStore->gtsit(item);
            if (held && namesNoContainer(held->container)) pStore->delct(held->id);
            root = pStore->getff(&document, item, false);
        }
        const CoreNode* setup = root ? root->getcd(DataXml_::sCtagsetup_) : nullptr;
        if (!setup) throw CoreAnsx(DataXml_::sCtagsetup_);
        placeEntries(setup);
        read = true;
    } catch (const CoreAnsx&) { // the setup cannot be read, or memory ran short
    } catch (const std::exception&) {
    }
    if (!read) CoreLog_::logtg(DataXml_::sCtagsetup_, 1);
    return read;
}

void CoreMmry::placeEntries(const CoreNode* setup) {
    std::vector<const CoreNode*> entries;
    const CoreTlst* children = setup->getcn();
    for (int i = 0; children && i < children->Count; ++i) {
        const auto* child = static_cast<const CoreNode*>(children->Items[i]);
        if (child->gettx().Trim().UpperCase() == DataXml_::sCtagprogrm) entries.push_back(child);
    }
    const auto count = static_cast<int32_t>(entries.size());
    PoolInts sequences(pPool, count), marks(pPool, count);
    std::vector<CoreAnsx> files(entries.size());
    for (int32_t k = 0; k < count; ++k) {
        files[k] = entries[k]->getls(DataXml_::sCtagfilenm);
        sequences.values[k] = entries[k]->getli(DataXml_::sCtagsequen);
        marks.values[k] = entries[k]->getlb(DataXml_::sCtagload__) ? 1 : 0;
    }
    const std::vector<int32_t> order = placementOrder(sequences.values, count);
    for (int32_t k = 0; k < count; ++k) {
        const int32_t n = getne(); // from the cursor on, past the bank's end; -1: the memory is full
        if (n < 0) return;
        const CoreAnsx& file = files[order[k]];
        bool placed = getca(n, file);
        if (!placed) {
            // A stale cache file has filled the slot: its texts must not outlive the program's own.
            iclrp(n);
            CoreLog_::debug(CoreAnsx("caching file ") + CoreAnsx(k + 1) + "/" + CoreAnsx(count) + ": " + file,
                            0, 2);
            placed = loadl(n, file);
            if (!placed) CoreLog_::loger(file, 3);
        }
        // Marked only once placed: a failed entry leaves its slot to the next one.
        if (placed && marks.values[order[k]] != 0) iLoadslot = n;
    }
}

bool CoreMmry::saves(const CoreAnsx& name, int32_t bank) {
    if (!within(bank, iCbanks)) return false;
    CoreSgrd guard(oLock);
    CoreXml_ document;
    CoreNode* setup = emptySetup(document);
    for (int32_t n = bank * iCbankdim; n < (bank + 1) * iCbankdim; ++n) {
        if (!slot(n).used) continue;
        CoreNode* entry = new CoreNode(DataXml_::sCtagprogrm);
        setup->addcd(entry);
        entry->addcd(element(DataXml_::sCtagsequen, CoreAnsx(n)));
        entry->addcd(element(DataXml_::sCtagfilenm, slot(n).filepath));
    }
    return document.settf(CoreButl::wcase(sDatafolder + sSetupsubpath + name), true, false, false);
}

// ---- folder scan -----------------------------------------------------------------------------------------

bool CoreMmry::scanp(bool enabled) {
    // A given store may stand for a container, which is no folder to list.
    if (!enabled || bExternalstore) return false;
    CoreSgrd guard(oLock);
    std::unordered_set<std::string> known;
    for (int32_t n = 0; n < iCmemorydim; ++n)
        if (slot(n).used) known.insert(stemKey(slot(n).filepath));

    std::vector<CoreAnsx> folders{sDatafolder};
    for (int f = 0; pAlternativefolders && f < iAlternativecount; ++f)
        folders.push_back(pAlternativefolders[f]);
    std::vector<CoreAnsx> found;
    for (const CoreAnsx& folder : folders) {
        for (const char* extension : {CoreButl::sCextxml, CoreButl::sCextq7p}) {
            CoreAnsx* listed = nullptr;
            int count = 0;
            CoreHutl::readr(CoreButl::pcase(folder + sProgramsubpath), CoreAnsx("*") + extension, &listed,
                            count,
                            CoreAnsx("0")); // no subfolders
            const std::unique_ptr<CoreAnsx[]> names(listed);
            for (int i = 0; i < count && static_cast<int>(found.size()) < kMostScanned; ++i)
                found.push_back(CoreAnsx(stemKey(names[i]).c_str()));
        }
    }
    CoreButl::sortv(found.data(), static_cast<int>(found.size()));

    CoreXml_ document;
    CoreNode* setup = emptySetup(document);
    // The scan lists what no slot holds; "NULL" stands for no file once any slot is used.
    const bool anyUsed = !known.empty();
    int32_t sequence = 0;
    for (size_t i = 0; i < found.size(); ++i) {
        const CoreAnsx& name = found[i];
        if (i > 0 && name == found[i - 1]) continue;
        if (known.count(name.c_str()) > 0) continue;
        if (anyUsed && name == CoreAnsx(CoreButl::sCnull)) continue;
        CoreNode* entry = new CoreNode(DataXml_::sCtagprogrm);
        setup->addcd(entry);
        entry->addcd(element(DataXml_::sCtagsequen, CoreAnsx(sequence++)));
        entry->addcd(element(DataXml_::sCtagfilenm, name));
    }
    // The text is the scan whether or not its file can be written (the writer logs a failure).
    sScantext = document.settc(false, false);
    document.settf(CoreButl::wcase(sDatafolder + sSetupsubpath + sCscanboot), true, true, false);
    return true;
}

// ---- whole slots -----------------------------------------------------------------------------------------

void CoreMmry::mvepr(int32_t from, int32_t to, bool move) {
    if (!within(from, iCmemorydim) || !within(to, iCmemorydim) || from == to) return;
    CoreSgrd guard(oLock);
    MEMORYLOC& source = slot(from);
    std::unique_ptr<CoreXml_> copy;
    if (!move && source.document) {
        copy = std::make_unique<CoreXml_>();
        try {
            copy->getfc(source.document->settc(false, false));
        } catch (const CoreAnsx&) {
            CoreLog_::loger(CoreAnsx("Program memory: slot ") + CoreAnsx(from) +
                                " not copied, its program "
                                "does not read back",
                            1);
            return;
        }
    }
    iclrp(to);
    MEMORYLOC& target = slot(to);
    copyFields(source, target);
    if (move) {
        target.document = source.document;
        source.document = nullptr;
        source.used = false;
        source.lazy = false;
        for (CoreAnsx* text :
             {&source.name, &source.filepath, &source.vectorname, &source.category[0], &source.category[1],
              &source.category[2], &source.description, &source.cachedfile})
            *text = CoreAnsx();
    } else if (copy) {
        target.document = copy.release();
    } else {
        target.lazy = source.used; // no document to copy: the program is read from its file when needed
    }
}

void CoreMmry::fix_l(int32_t n) {
    if (!within(n, iCmemorydim)) return;
    // Locked: the host's chunk save may commit into the same slot meanwhile.
    CoreSgrd guard(oLock);
    if (slot(n).used) loadl(n, slot(n).filepath);
}

CoreAnsx CoreMmry::getvl(int32_t n, bool dropCache) {
    if (!within(n, iCmemorydim)) return kNone;
    CoreSgrd guard(oLock);
    if (dropCache) invca(n);
    MEMORYLOC& loc = slot(n);
    if (!loc.used) return kNone;
    if (loc.lazy) loadl(n, loc.filepath);
    return loc.document ? loc.document->settc(false, false) : kNone;
}
