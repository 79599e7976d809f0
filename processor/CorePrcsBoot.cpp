// CorePrcs: the boot, twelve numbered steps from the version line to the first program and the
// first-start settings, run one per call or all at once on the caller's thread under the boot lock.
// A step that fails, or throws, ends the boot for the life of the engine: it stays booting and in
// pass-through, every lock free.
#include "processor/CorePrcs.h"

#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CoreNode.h"
#include "base/CoreSgrd.h"
#include "base/CoreXml_.h"
#include "base/CoreXutl.h"
#include "convolution/CoreCnvl.h"
#include "convolution/CoreOpti.h"
#include "processor/CoreMmry.h"
#include "program/CoreProg.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace {

constexpr int16_t lastStep = 11;
constexpr char programFailure[] = "PROGRAM #0 Ko: program not loaded ";

CoreAnsx framed(const char* text, const CoreAnsx& name) {
    return CoreAnsx(text) + "(" + name.LowerCase() + ")";
}

// A metadata cache file: a regular file (no link) named ".xml" in any case whose top element is CACHE.
bool isCacheFile(const std::filesystem::directory_entry& entry) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(entry.symlink_status(error))) return false;
    std::string extension = entry.path().extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (extension != ".XML") return false;
    try {
        CoreXml_ document;
        const CoreNode* root = document.getff(CoreAnsx(entry.path().string().c_str()), false);
        const CoreNode* top = root ? root->getcd() : nullptr;
        return top && top->gettx().Trim().UpperCase() == CoreAnsx("CACHE");
    } catch (const CoreAnsx&) {
        return false;
    }
}

} // namespace

bool CorePrcs::boots(bool runAll, int32_t& step, CoreAnsx& text, bool& first, bool& last) {
    if (isfailed()) return false;
    CoreSgrd boot(bootlock);
    text = CoreAnsx("");
    last = true;
    while (iBootstep <= lastStep && !bBootfailed) {
        // Step 10 already let the engine play; the steps after it do not silence it again.
        if (busy.getvl()) smpby(true, 1, false, true);
        step = iBootstep;
        first = iBootstep == 0;
        last = iBootstep > lastStep - 1;
        try {
            text = runStep(iBootstep);
        } catch (const CoreAnsx& message) {
            bBootfailed = true;
            text = stepFailure(iBootstep, message);
        } catch (const std::exception& error) {
            bBootfailed = true;
            text = stepFailure(iBootstep, CoreAnsx(error.what()));
        }
        if (bBootfailed) CoreLog_::loger(CoreAnsx("Boot failed at step ") + CoreAnsx(iBootstep) + ": " + text, 1);
        ++iBootstep;
        if (!runAll) break;
    }
    return !bBootfailed;
}

bool CorePrcs::fboot() {
    if (!busy.getvl()) return false;
    int32_t step = 0;
    CoreAnsx text;
    bool first = false, last = false;
    boots(true, step, text, first, last);
    return busy.getvl();
}

bool CorePrcs::bootb(bool runAll) {
    BOOTRECORD record;
    {
        CoreSgrd hold(recordlock);
        record = oBootrecord;
    }
    record.result = boots(runAll, record.step, record.text, record.first, record.last);
    CoreSgrd hold(recordlock);
    oBootrecord = record;
    return record.result;
}

CorePrcs::BOOTRECORD CorePrcs::getbt() const {
    CoreSgrd hold(recordlock);
    return oBootrecord;
}

CoreAnsx CorePrcs::stepFailure(int16_t step, const CoreAnsx& thrown) const {
    switch (step) {
    case 2: return framed(CoreLog_::sCwarngbmk, sMasterfilename);
    case 3: return framed(CoreLog_::sCwarngbrk, sSetupromname);
    case 8: return framed(programFailure, memory ? memory->getfp(0, true) : CoreAnsx(""));
    default: return thrown;
    }
}

void CorePrcs::clearCache() const {
    // Only files that are unmistakably cache files go, and only from a cache folder the settings name:
    // without CACHESUBPATH the folder would be the data folder itself.
    if (!bCachepresent || pMasterstore) return;
    const std::filesystem::path folder(CoreButl::pcase(sDatapath + sCachesubpath).c_str());
    std::error_code error;
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(folder, error))) return;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        if (isCacheFile(entry)) CoreXutl::delfl(entry.path().string().c_str());
}

CoreAnsx CorePrcs::runStep(int16_t step) {
    switch (step) {
    case 0: return CoreAnsx(CoreLog_::sCwarngbin) + CoreLog_::sCversion_;
    case 1: return CoreAnsx(CoreLog_::sCwarngbdl) + CoreAnsx(static_cast<int>(iDl));
    case 2:
        if (!bMasterfound) bBootfailed = true;
        return bBootfailed ? stepFailure(2, "") : framed(CoreLog_::sCwarngbmo, sMasterfilename);
    case 3: {
        if (bInstallermerged) clearCache();
        bool loaded = false;
        try {
            loaded = memory->loads(sSetupromname, 0, true);
        } catch (const CoreAnsx& message) {
            CoreLog_::loger(message, 1);
        }
        if (!loaded) {
            bBootfailed = true;
            return stepFailure(3, "");
        }
        if (bScanboot) {
            try {
                // Without a scan (the plug-in's memory reads through its store) there is none to place.
                if (memory->scanp(true)) memory->loads(CoreAnsx("0"), 2, false);
            } catch (const CoreAnsx& message) {
                CoreLog_::loger(message, 1);
            }
        }
        return framed(CoreLog_::sCwarngbro, sSetupromname);
    }
    case 4: {
        EngineGuard hold(*this);
        adjrt(iProgramrate);
        return CoreAnsx(CoreLog_::sCwarngbpo);
    }
    case 5: return CoreAnsx(issm2() ? CoreLog_::sCwarngbso : CoreLog_::sCwarngbsk);
    case 6: {
        {
            EngineGuard hold(*this);
            const CoreCnvl* head = convtab[0].convolver;
            if (!head->getbe(iOfreqd) || !head->ldble(iOfreqd)) iOfreqd = CoreCnvl::iCdefaultbe_;
            sGpustatus = head->getbv();
            for (int16_t h = 0; h <= hdimmax; ++h) {
                convtab[h].convolver->setdb(iOfreqd);
                setcf(h, iOfreqd, -1, -1, -1, -1, -1);
            }
        }
        if (bOtimedabsent) cnfop();
        return CoreAnsx(CoreLog_::sCwarngbco);
    }
    case 7:
        setmt(metertype, true);
        return CoreAnsx(CoreLog_::sCwarngbgo);
    case 8: {
        if (memory->getvl(0, true) == CoreAnsx("0") || !ldpdm(0, false)) {
            bBootfailed = true;
            return stepFailure(8, "");
        }
        currentslot = 0;
        const int32_t selected = memory->getpr();
        if (selected >= 0) {
            if (iRequestedrate != samplerate) {
                samplerate = iRequestedrate;
                program->setrt(samplerate);
                {
                    EngineGuard hold(*this);
                    adjrt(activerate);
                }
                CoreLog_::debug(CoreAnsx("boots *rate:") + CoreAnsx(samplerate), 0, 3);
            }
            ldpdm(selected, false);
            currentslot = selected;
            // A selected program that fell back to slot 0 leaves nothing worth saving: the host's chunk
            // stays empty, which tells it (and the render job) that the program did not load.
            if (!loadfallback) statechanged.store(true);
        }
        return framed(CoreLog_::sCwarngbio, memory->getnm(currentslot));
    }
    case 9: {
        // The settings file keeps what this first start decided; the installer's file stays until the
        // settings writer has saved them.
        if (bFirstboot) bFastboot = true;
        if (bDspbufferabsent) {
            const int32_t reported = iBoothostdim.load() > 0 ? iBoothostdim.load() : hostdim;
            iSaveddspbuffer = std::clamp(CoreButl::getp2(reported), iCmindelaydim, iCmaxdelaydim);
        }
        if (bFirstboot || bOtimedabsent || bInstallermerged || bDspbufferabsent) bSavedue.store(true);
        // The installer's file goes only once its settings are in the settings file; a failed save
        // keeps both for the next start.
        if (bSavedue.load()) {
            if (savem()) {
                bSavedue.store(false);
                if (bInstallermerged && CoreXutl::delfl(sInstallerpath.c_str()) != 0)
                    CoreLog_::loger(CoreAnsx("Installer settings not deleted: ") + sInstallerpath, 1);
            } else if (bInstallermerged) {
                CoreLog_::loger(CoreAnsx("Installer settings kept: the settings were not saved"), 1);
            }
        }
        return CoreAnsx(CoreLog_::sCwarngsto);
    }
    default: {
        const bool opening = busy.getvl();
        busy.setvl(false);
        smpby(false, 0, true, false);
        // A bypass asked for while booting (bean 258) holds once the engine runs.
        if (bypassrequest.getvl()) smpby(true, 0, true, false);
        if (opening && iBoothostdim.load() > 0) blksz(iBoothostdim.load());
        return CoreAnsx(CoreLog_::sCwarngbeo);
    }
    }
}
