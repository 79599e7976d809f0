// CorePrcs: the export of the current slot's program as a plain program file, a packed program
// container or, in the render form, with its vector files packed into a vector container. Called by
// the batch stepper on the display's thread; the program is committed and serialised under the engine
// locks, which are released before any file is written.
#include "processor/CorePrcs.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CoreLutl.h"
#include "base/CoreXml_.h"
#include "base/CoreXutl.h"
#include "filestore/CoreFsys.h"
#include "processor/CoreMmry.h"

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

const CoreAnsx kNone("0");

bool absolutePath(const std::string& path) {
    return !path.empty() && (path[0] == '/' || path[0] == '\\' || (path.size() > 1 && path[1] == ':'));
}

// Creates every folder of path up to its last separator; existing ones are kept.
void createFolders(const std::string& path) {
    for (size_t at = path.find_first_of("/\\", 1); at != std::string::npos;
         at = path.find_first_of("/\\", at + 1)) {
        const CoreAnsx folder = CoreButl::wcase(CoreAnsx(path.substr(0, at).c_str()));
        if (CoreXutl::ispvl(folder.c_str())) continue;
        CoreXutl::crdir(folder.c_str());
        CoreButl::pcdrp(folder);
    }
}

} // namespace

bool CorePrcs::unsafePath(const CoreAnsx& path) {
    const std::string text = path.c_str();
    if (absolutePath(text)) return true;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find_first_of("/\\", start);
        if (end == std::string::npos) end = text.size();
        if (text.compare(start, end - start, "..") == 0 && end - start == 2) return true;
        start = end + 1;
    }
    return false;
}

void CorePrcs::readKernels(CoreFsys* store) {
    // Kernels that came from a container come back from it, through the store that first read it;
    // loose ones are read from their files.
    for (int i = 0; i < store->getkn(); ++i) {
        int32_t id = -1;
        if (CoreButl::getfx(store->llvel(i, id)) != CoreAnsx(CoreButl::sCextwav)) continue;
        int index = -1;
        const CoreFsys::FSYSTEMLOC* item = store->gtiit(id, index);
        if (!item || item->inmemory) continue;
        const CoreAnsx container = item->container.Trim();
        if (container.Length() < 1 || container == kNone || container.UpperCase() == CoreAnsx(CoreButl::sCnull)) {
            store->loadc(id, true);
            continue;
        }
        CoreFsys* reader = absolutePath(container.c_str()) || !pMasterstore ? nullptr : pMasterstore;
        store->loada(container, kNone, true, reader);
    }
}

bool CorePrcs::svprf(int16_t kind, int64_t length, CoreAnsx folder, bool asIs, int32_t renderParam,
                     bool equalise, double target, int32_t trimParam) {
    if (isfailed() || !booted()) return false;
    return exportProgram(kind, length, folder, asIs, renderParam, equalise, target, trimParam) ==
           SAVEOUTCOME::saved;
}

CorePrcs::SAVEOUTCOME CorePrcs::exportProgram(int16_t kind, int64_t length, CoreAnsx folder, bool asIs,
                                              int32_t renderParam, bool equalise, double target,
                                              int32_t trimParam) {
    const auto refuse = [](const CoreAnsx& why) {
        CoreLog_::loger(CoreAnsx("program not saved: ") + why, 1);
        return SAVEOUTCOME::refused;
    };
    // After a fall-back the engine holds the INIT program, not the slot's.
    if (loadfallback) return refuse(CoreAnsx("the last load fell back"));
    const int32_t slot = currentslot;
    const CoreAnsx stored = memory->getfp(slot, true);
    if (stored == kNone) return refuse(CoreAnsx("the current slot is free"));
    const CoreAnsx vectorStored = memory->getfv(slot, true);
    if (unsafePath(stored) || unsafePath(vectorStored))
        return refuse(CoreAnsx("path leaves the data folder: ") + stored);
    const CoreAnsx filePath = memory->getfp(slot, false);
    const bool packed = memory->getwp(slot);
    const bool render = kind >= 2;
    const bool plain = kind == 1 || (kind == 0 && !packed);

    if (folder == kNone) {
        folder = sTemprepository;
    } else if (!absolutePath(folder.c_str())) {
        folder = sDatapath + folder;
    }
    const std::string folderText = folder.c_str();
    if (!folderText.empty() && folderText.back() != '/' && folderText.back() != '\\')
        folder = folder + CoreAnsx("/");

    CoreFsys* store = slot != 0 ? files : pSecondstore;
    // Whatever leaves, the working store holds no vector data afterwards, as a load leaves it: a later
    // plain save must not write rendered images over the program's own files.
    struct Unload {
        CoreFsys* store;
        ~Unload() { store->uload(CoreAnsx(".WAV")); }
    } unload{store};

    CoreAnsx text;
    {
        EngineGuard hold(*this);
        if (!asIs) fixcd();
        text = programdoc->settc(false, false);
    }
    const int32_t textBytes = text.Length();

    if (render) {
        readKernels(store);
        if (renderParam > 0) {
            const int64_t samples = std::min<int64_t>(CoreButl::tpfup(samplerate, length), INT32_MAX);
            if (equalise)
                svfs2(store, static_cast<int32_t>(samples), renderParam, target);
            else
                svfdr(store, samples < 2 ? 100 : static_cast<int32_t>(samples), renderParam);
        } else if (length > 0) {
            svfwl(store, length, trimParam);
        }
        const CoreAnsx vectorName = folder + memory->getfv(slot, false);
        createFolders(vectorName.c_str());
        if (!store->savea(vectorName)) return SAVEOUTCOME::failed;
    } else if (plain) {
        // The program alone, into the folder its slot is found in: a packed slot's kernels and its own
        // item stay in their containers, and no loose file beside them is touched.
        const CoreAnsx item = kind == 1 ? CoreButl::setfx(filePath, CoreAnsx(".XML")) : filePath;
        const CoreAnsx base = slot != 0 && sFoundfolder.Length() > 0 ? sFoundfolder : sDatapath;
        // The file spelled as the slot names it is the one its load read, so a twin differing only in
        // case is not written in its place; otherwise named as the store names its items, so an
        // existing file is found whatever its case.
        const CoreAnsx own = CoreButl::ffpen(base + item.Trim());
        bool regular = false;
        const bool ownExists = CoreButl::pcase(own, regular) == own && regular;
        const CoreAnsx path =
            ownExists ? own : CoreButl::wcase(CoreButl::ffpen(base + item.Trim().UpperCase()));
        CoreXml_ document;
        if (!document.getfc(text)) return SAVEOUTCOME::failed;
        CoreLutl::crtpt(path);
        return CoreButl::svatx(path, document.settc(true, false), false) ? SAVEOUTCOME::saved
                                                                          : SAVEOUTCOME::failed;
    }

    CoreFsys container(pool, folder, false, bStoreflag);
    const int32_t id = container.crtit(CoreButl::setfx(filePath, CoreAnsx(".XML")), false);
    if (id < 0 || !container.setit(id, text.c_str(), textBytes, kNone, true, false))
        return SAVEOUTCOME::failed;
    const CoreAnsx packedName = CoreButl::setfx(folder + filePath, CoreAnsx(".Q7P"));
    createFolders(packedName.c_str());
    return container.savea(packedName) ? SAVEOUTCOME::saved : SAVEOUTCOME::failed;
}
