// CorePrcs: loading the program of a slot (its files, the program reader, then the engine stage that
// rebuilds the side chain, the convolver records, the ring layout, the modes and the periods), the
// fall-back to slot 0, and the binding of the front-panel controls to user parameters.
// Runs on the calling thread under enginelock and blocklock; the audio thread meanwhile plays the
// pass-through path and never waits for a load.
#include "processor/CorePrcs.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CorePmsg.h"
#include "base/CorePool.h"
#include "base/CoreXml_.h"
#include "convolution/CoreCnvl.h"
#include "filestore/CoreFsys.h"
#include "modulation/CoreIfce.h"
#include "modulation/CorePrm_.h"
#include "processor/CoreMmry.h"
#include "program/CoreProg.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int32_t lastSlot = 9999;
constexpr int16_t boundControls = 8; // MIX1..MIX8; the gain controls are never bound
constexpr int16_t userParameters = 16;

const CoreAnsx kNone("0");

// The vector container's path when it lies beside the program instead of in the vector folder.
CoreAnsx besideProgram(const CoreAnsx& vectorFile, const CoreAnsx& vectorSub, const CoreAnsx& programSub) {
    if (vectorSub.Length() < 1) return vectorFile;
    std::string text = vectorFile.c_str();
    const std::string from = vectorSub.c_str(), to = programSub.c_str();
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return CoreAnsx(text.c_str());
}

} // namespace

CorePrcs::PassThroughScope::PassThroughScope(CorePrcs& engine, bool enter)
    : engine(engine), restore(enter), previous(engine.passthru.getvl()) {
    if (restore) engine.smpby(true, 0, false, false);
    locks.emplace(engine);
}

CorePrcs::PassThroughScope::~PassThroughScope() {
    if (restore) {
        CoreSgrd hold(engine.passlock);
        engine.setPassThrough(previous);
        engine.oBusymirror.setvl(previous);
    }
    locks.reset();
}

bool CorePrcs::ldpdm(int32_t slot, bool keepBusy) {
    if (isfailed()) return false;
    PassThroughScope hold(*this, !keepBusy);
    clipflag.setvl(false);
    clipshown.store(false);
    loadfallback = false;
    bool result = ldpsm(slot);
    if (!result && slot != 0) {
        loadfallback = true;
        result = ldpsm(0);
        if (!result) CoreLog_::loger(CoreAnsx("program load failed, slot 0 included"), 1);
    }
    if (!keepBusy) clepr(true);
    adjif();
    bLastloadok = result;
    return result;
}

int32_t CorePrcs::setpg(int32_t slot, bool keepBusy) {
    ldpdm(slot, keepBusy);
    currentslot = slot >= 0 && slot <= lastSlot ? slot : 0;
    statechanged.store(true);
    return slot;
}

void CorePrcs::adjif() {
    if (isfailed() || !program) return;
    for (int16_t i = 0; i < CoreProg::iCcontrols; ++i) program->getif(i)->setcp(-1);
    for (int16_t i = 0; i < boundControls; ++i) {
        const CoreAnsx label(i + 1);
        for (int16_t p = 0; p < userParameters; ++p) {
            CorePrm_* parameter = program->getpm(p);
            if (parameter && parameter->isdis() && parameter->getpl() == label) {
                program->getif(i)->setcp(p);
                break;
            }
        }
    }
}

void CorePrcs::dropKernels() {
    // From here on the records may point at kernels the reader frees: the block processor plays
    // silence until an engine stage completes.
    bProgramready = false;
    for (int16_t h = 0; h <= hdimmax; ++h) convtab[h].kernel[0] = convtab[h].kernel[1] = nullptr;
    // The fade tables go with the kernels: a load that fails before this point leaves the playing
    // program its crossfade.
    delsf();
}

bool CorePrcs::readProgram(int32_t slot, const CoreAnsx& text, bool keepRate) {
    CoreNode* root = programdoc->getfc(text);
    if (!root) return false;
    CoreLog_::debug(CoreAnsx("loader starts"), 0, 5);
    program->setmp(iLargestgranule);
    if (CoreLog_::getdb() >= 7) CoreLog_::debug(text, 0, 7);
    dropKernels();
    if (!program->load_(root, keepRate)) return false;
    loadedslot = slot;
    return true;
}

bool CorePrcs::loadContainer(CoreFsys* store, const CoreAnsx& folder, const CoreAnsx& name) {
    // A container on disk is read by its full path; one found in no folder can only be an item of the
    // data container, which the master store holds under its name below the data folder.
    const bool onDisk = folder.Length() > 0 && CoreFsys::exstf(folder, name);
    CoreFsys* reader = !onDisk && sDatacontainer.Length() > 0 ? pMasterstore : nullptr;
    const CoreAnsx file = reader ? name : folder + name;
    CoreLog_::debug(CoreAnsx("container ") + (reader ? reader->getfn(file) : file), 1, 5);
    return store->loada(file, kNone, true, reader);
}

bool CorePrcs::holdsContainer(const CoreAnsx& folder, const CoreAnsx& name) {
    if (folder.Length() > 0 && CoreFsys::exstf(folder, name)) return true;
    return sDatacontainer.Length() > 0 && pMasterstore && pMasterstore->exstf(name);
}

bool CorePrcs::readContainers(CoreFsys* store, const CoreAnsx& folder, const CoreAnsx& path, int32_t slot) {
    if (!loadContainer(store, folder, path)) return false;
    const CoreAnsx vectors = memory->getfv(slot, false);
    const CoreAnsx beside = besideProgram(vectors, sVectorsubpath, sProgramsubpath);
    // The vector folder comes first, but is passed over when only the program's folder holds the
    // container: its failed open would be logged as an error at every load of a program that plays.
    const bool vectorFolder = holdsContainer(folder, vectors) || !holdsContainer(folder, beside);
    if (!(vectorFolder && loadContainer(store, folder, vectors)) && !loadContainer(store, folder, beside))
        return false;
    CoreLog_::debug(CoreAnsx("files checked"), 1, 5);
    return true;
}

bool CorePrcs::readSlot(int32_t slot, const CoreAnsx& path) {
    if (path == kNone) return false;
    CoreLog_::debug(CoreAnsx("file-system manager starts"), 0, 5);
    CoreAnsx found;
    const bool packed = CoreButl::getfx(path) == CoreAnsx(".Q7P");
    const bool onDisk = CoreFsys::exstf(sDatapath, static_cast<int16_t>(oAlternatives.size()),
                                        oAlternatives.data(), path, found);
    sFoundfolder = found;
    // A loose program found in no folder fails at once: its element files would resolve against the
    // host's working folder. A packed one may still be an item of the data container.
    if (!onDisk && !(packed && sDatacontainer.Length() > 0 && pMasterstore)) return false;
    if (!packed) files->setdt(found);
    const CoreAnsx text = memory->getvl(slot, true);
    if (text == kNone) return false;
    if (packed) {
        CoreLog_::debug(CoreAnsx("file-system manager loads (program)"), 1, 5);
        if (!readContainers(files, found, path, slot)) return false;
    }
    return readProgram(slot, text, false);
}

bool CorePrcs::readInit(const CoreAnsx& path) {
    CoreLog_::debug(CoreAnsx("file-system manager starts (INIT)"), 1, 5);
    sFoundfolder = sDatapath;
    if (path == kNone) return false;
    const bool packed = CoreButl::getfx(path) == CoreAnsx(".Q7P");
    if (packed) {
        CoreLog_::debug(CoreAnsx("file-system manager loads"), 1, 5);
        if (!readContainers(pSecondstore, sDatapath, path, 0))
            throw CoreAnsx("INIT program files cannot be read: ") + sDatapath + path;
    }
    // The program reads through the init store for this load only, whatever leaves it.
    struct StoreSwitch {
        CoreProg* program;
        CoreFsys* back;
        ~StoreSwitch() { program->setfs(back); }
    } restore{program, files};
    program->setfs(pSecondstore);
    const CoreAnsx text = memory->getvl(0, true);
    if (text == kNone) throw CoreAnsx("INIT program has no document: ") + sDatapath + path;
    const bool ok = readProgram(0, text, true);
    CoreLog_::debug(CoreAnsx("loader starts"), 1, 5);
    return ok;
}

bool CorePrcs::ldpsm(int32_t slot) {
    loadedslot = -1;
    CoreLog_::debug(CoreAnsx("ldpsm starts: ") + CoreAnsx(slot), 0, 2);
    pStatusboard->addrw(CoreAnsx(CoreLog_::sCstatsloa));
    files->init_();
    const bool inRange = slot >= 0 && slot <= lastSlot;
    const CoreAnsx path = inRange ? memory->getfp(slot, false) : kNone;
    bool result = false;
    if (slot != 0) {
        try {
            result = readSlot(slot, path);
        } catch (const CoreAnsx& message) {
            CoreLog_::loger(message, 1);
            result = false;
        }
        if (!result) {
            files->init_();
            loadedslot = -1;
        }
    } else {
        try {
            result = readInit(path);
        } catch (...) {
            files->uload(".WAV");
            pool->logst();
            throw;
        }
    }
    files->uload(".WAV");
    if (result) {
        CoreLog_::debug(CoreAnsx("buffers allocation starts"), 1, 5);
        try {
            result = engineStage();
        } catch (const CoreAnsx& message) {
            CoreLog_::loger(message, 1);
            result = false;
        }
        if (!result) bProgramready = false;
        CoreLog_::debug(CoreAnsx("buffers allocation ends"), 1, 5);
    }
    pool->logst();
    CoreLog_::debug(CoreAnsx("ldpsm ends"), 0, 2);
    return result;
}

bool CorePrcs::engineStage() {
    allcq();
    CoreProg& p = *program;
    bInvisiblethread = p.getfi() || bNodrop;
    bHybrid = p.getfh();
    bMono = p.getfm();
    iProgramharmonics = p.gethc(false);
    iHarmonicsloaded = std::min<int16_t>(p.gethc(true), hdimmax);
    iSmooth = p.getst();
    bSecondkernels = false;
    const int32_t fileRate = p.getfr(), convertedRate = p.getcr();
    // Nothing read (either rate 0) leaves the output gain as it is.
    dRateratio = fileRate > 0 && convertedRate > 0 ? static_cast<double>(fileRate) / convertedRate : 1.0;
    if (blockdim == 0) blockdim = 2;
    for (int16_t h = 0; h < iHarmonicsloaded; ++h) convtab[h].shortkernel = p.ismkr(h);
    if (bHybrid) convtab[hdimmax].shortkernel = p.ismkr(hdimmax);
    if (iSmooth >= 0) convtab[hdimmax].shortkernel = p.ismkr(0);

    iLargestoffset = std::max(p.getof(), 0);
    const int32_t clamped = clampedOffset();
    if (clamped < iLargestoffset)
        CoreLog_::loger(CoreAnsx("IR offset ") + CoreAnsx(iLargestoffset) + " exceeds the room, output later by " +
                            CoreAnsx(iLargestoffset - clamped),
                        1);
    setpo(clamped);
    // The dry sample must still be in the ring when its block runs.
    iDrydelay = std::clamp(iLargestoffset, 0, std::max(0, workdim - leaddim - 3 * dspdim));

    if (!adjoc(iOtimed, -1)) return false;

    const auto point = [this](int16_t record, double* left, double* right, bool* changed) {
        CoreCnvl* c = convtab[record].convolver;
        convtab[record].kernel[0] = left;
        convtab[record].kernel[1] = right;
        c->setup(changed);
        c->setms(bMono);
        c->setff(iLargestoffset);
    };
    for (int16_t h = 0; h < iHarmonicsloaded; ++h) point(h, p.getli(h), p.getri(h), p.getui(h));
    if (bHybrid) {
        point(hdimmax, p.getli(hdimmax), p.getri(hdimmax), p.getui(hdimmax));
    } else if (iSmooth >= 0) {
        point(hdimmax, p.getls(), p.getrs(), p.getus());
        mkesf(iPeriod);
        bSecondkernels = true;
    }
    hdimused = std::min(iProgramharmonics, iHdim);
    if (iHdim == 0) {
        iSmooth = -1;
        CoreSgrd fades(fadelock);
        resetFades();
        iStepindex = 0;
    } else {
        iSmooth = p.getst();
    }
    if (!setck()) return false;

    bFeedbackon = p.hasfb();
    bDryon = p.hasdr();
    dLookaheadbase = std::min(p.getab(), static_cast<double>(iLookaheadroom));
    dLookaheadvalue = p.getaf();
    const double lookahead = dLookaheadvalue * dLookaheadbase;
    iLookaheadoffset = std::isfinite(lookahead)
                           ? static_cast<int32_t>(std::clamp(lookahead, 0.0, static_cast<double>(iLookaheadroom)))
                           : 0;
    ownrate = p.getpr() > 0;
    adjrt(ownrate ? p.getpr() : iProgramrate);
    CoreLog_::debug(CoreAnsx("name: ") + p.getnm(), 0, 2);
    bProgramready = true;
    return true;
}
