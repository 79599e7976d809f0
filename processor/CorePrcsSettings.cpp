// CorePrcs: the master settings file, the data path, the sizes derived from the settings and the
// choice of skin.
#include "processor/CorePrcs.h"

#include "base/CoreButl.h"
#include "base/CoreHutl.h"
#include "base/CoreLog_.h"
#include "base/CoreNode.h"
#include "base/CoreXml_.h"
#include "base/CoreXutl.h"
#include "base/RandomGenerator.h"
#include "filestore/CoreFsys.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// A number read from the file, truncated toward zero and saturated into the field's width.
template <class T>
T saturated(double value) {
    const double low = std::numeric_limits<T>::min();
    const double high = std::numeric_limits<T>::max();
    return static_cast<T>(std::clamp(std::trunc(value), low, high));
}

bool endsWithSlash(const CoreAnsx& path) {
    const int n = path.Length();
    return n > 0 && path.c_str()[n - 1] == '/';
}

// The smallest power of two above n (n >= 0).
int64_t powerOfTwoAbove(int64_t n) {
    int64_t p = 1;
    while (p <= n) p <<= 1;
    return p;
}

void logLine(const char* key, const CoreAnsx& value) {
    CoreLog_::debug(CoreAnsx(key) + ":" + value, 0, 3);
}

} // namespace

const std::vector<CorePrcs::SETTINGKEY>& CorePrcs::settingKeys() {
    using E = CorePrcs;
    static const std::vector<SETTINGKEY> keys = {
        {.key = "MAGIC", .text = &E::sMagic, .present = [](E& e) { e.sMagic = e.sMagic.SubString(1, 4); }},
        {.key = "DATAPATH", .text = &E::sDatapathsetting, .path = true},
        {.key = "DL", .shortValue = &E::iDl},
        {.key = "FASTBOOT", .flag = &E::bFastboot, .present = [](E& e) { e.bFirstboot = false; }},
        {.key = "SCANBOOT", .flag = &E::bScanboot},
        {.key = "NODROP", .flag = &E::bNodrop},
        {.key = "AUTOTHREAD", .flag = &E::autothread},
        {.key = "RATECONVERSION", .intValue = &E::rateconv},
        {.key = "PROGRAMRATE",
         .intValue = &E::iProgramrate,
         .present = [](E& e) { e.iLookaheadtime = e.iProgramrate; }},
        {.key = "AHEADLENGTH", .intValue = &E::iLookaheadtime},
        {.key = "GUIRATE", .intValue = &E::iGuirate},
        {.key = "EXPORTAUDIOQUALITY", .intValue = &E::iExportaudioquality},
        {.key = "LTIMED", .intValue = &E::ltimed},
        {.key = "LFREQD", .intValue = &E::lfreqd},
        {.key = "FORCEOFFSET", .intValue = &E::iForceoffset},
        {.key = "FORCOLUMN", .shortValue = &E::iForcolumn},
        {.key = "PROGRAMSUBPATH", .text = &E::sProgramsubpath, .path = true},
        {.key = "VECTORSUBPATH", .text = &E::sVectorsubpath, .path = true},
        {.key = "SETUPSUBPATH", .text = &E::sSetupsubpath, .path = true},
        {.key = "SKINSUBPATH", .text = &E::sSkinsubpath, .path = true},
        {.key = "DICTIONARYSUBPATH", .text = &E::sDictionarysubpath, .path = true},
        {.key = "SKINNAME", .text = &E::sSkinname},
        {.key = "CACHESUBPATH",
         .text = &E::sCachesubpath,
         .path = true,
         .present = [](E& e) { e.bCachepresent = true; }},
        {.key = "SETUPROMNAME", .text = &E::sSetupromname},
        {.key = "DICTIONARYROMNAME", .text = &E::sDictionaryromname},
        {.key = "WORKBUFFER", .intValue = &E::iWorkbuffer},
        {.key = "DSPBUFFER",
         .intValue = &E::iSaveddspbuffer,
         .present = [](E& e) { e.bDspbufferabsent = false; }},
        {.key = "THREADS", .intValue = &E::iThreads},
        {.key = "THREADSMINDIM", .intValue = &E::threadsmindim},
        {.key = "METERTYPE", .shortValue = &E::metertype},
        {.key = "OTIMED", .shortValue = &E::iOtimed, .present = [](E& e) { e.bOtimedabsent = false; }},
        {.key = "OFREQD", .shortValue = &E::iOfreqd},
        {.key = "HDIM", .shortValue = &E::iHdim},
        {.key = "HDIMMAX", .shortValue = &E::hdimmax},
        {.key = "BPMDEFAULT",
         .doubleValue = &E::dBpmdefault,
         .present = [](E& e) { e.dBpmdefault /= 1000.0; }},
        {.key = "FONTCOLOUR", .shortValue = &E::iFontcolour},
        {.key = "LOADERPRIORITY", .shortValue = &E::iLoaderpriority},
        {.key = "MODE", .flag = &E::bMode},
        {.key = "FIXEDQUALITY", .intValue = &E::iFixedquality},
        {.key = "SERVERADDRESS", .text = &E::sServeraddress},
        {.key = "SERVERPORT", .text = &E::sServerport},
        {.key = "PROTECTIONDB", .doubleValue = &E::dProtectiondb},
        {.key = "LEGACYSTEREOCHANNEL", .flag = &E::bLegacystereochannel},
        {.key = "REFRESHOVERFLOW", .intValue = &E::iRefreshoverflow},
        {.key = "IPPTHREADS", .intValue = &E::iIppthreads},
    };
    return keys;
}

void CorePrcs::readSettings(const CoreAnsx& settingsText) {
    if (!endsWithSlash(sPluginfolder)) sPluginfolder += "/";
    sMasterfilename =
        sBundlename == CoreAnsx("0") ? CoreAnsx(sCmstrfilenme) : CoreButl::setfx(sBundlename, ".xml");
    sMasterfilepath = sPluginfolder + sMasterfilename;
    sInstallerpath = CoreButl::rnfle(sMasterfilepath, sCinstallerxml, false);
    const bool fromFile = settingsText == CoreAnsx("0");

    CoreNode* master = nullptr;
    try {
        CoreNode* root =
            fromFile ? pSettingsdoc->getff(sMasterfilepath, true) : pSettingsdoc->getfc(settingsText);
        master = root ? root->getcd("MASTER") : nullptr;
    } catch (const CoreAnsx&) {
        master = nullptr; // unreadable: every default stays
    }
    if (master) {
        CoreXml_ installer;
        CoreNode* installerRoot = nullptr;
        try {
            installerRoot = installer.getff(sInstallerpath, true);
        } catch (const CoreAnsx&) {
            installerRoot = nullptr;
        }
        if (installerRoot && installerRoot->getcd()) {
            pSettingsdoc->merge(&installer);
            bInstallermerged = true;
            master = pSettingsdoc->getrt()->getcd("MASTER");
        }
        bMasterfound = true;
        bSettingsfromfile = fromFile;
        readKeys(master);
    }
    resolveDataPath(master && master->exslc("DATAPATH"));
}

void CorePrcs::readKeys(CoreNode* master) {
    for (const SETTINGKEY& row : settingKeys()) {
        if (!master->exslc(row.key)) continue; // missing or "0": the default stays
        if (row.text) {
            const CoreAnsx text = master->getls(row.key);
            this->*row.text = row.path ? CoreButl::rplce(text, '\\', '/') : text;
        } else if (row.flag) {
            this->*row.flag = CoreNode::gtnlb(master, row.key, false);
        } else if (row.shortValue) {
            this->*row.shortValue = saturated<int16_t>(master->getld(row.key));
        } else if (row.intValue) {
            this->*row.intValue = saturated<int32_t>(master->getld(row.key));
        } else {
            this->*row.doubleValue = master->getld(row.key);
        }
        if (row.present) row.present(*this);
    }

    // Every ALTERNATIVEDATAPATH element counts, "0" included, case kept: names are case-sensitive here.
    if (CoreTlst* children = master->getcn()) {
        for (int i = 0; i < children->Count && oAlternatives.size() < INT16_MAX; ++i) {
            const CoreNode* child = static_cast<const CoreNode*>((*children)[i]);
            if (child->gettx().Trim().UpperCase() != CoreAnsx("ALTERNATIVEDATAPATH")) continue;
            const CoreNode* value = child->getcd();
            oAlternatives.push_back(value ? value->gettx().Trim() : CoreAnsx("0"));
        }
    }

    for (int n = 1; n <= CoreMidi::iCslots; ++n) {
        const CoreAnsx statusKey = CoreAnsx("MIDISTSMIX") + CoreAnsx(n);
        const CoreAnsx controllerKey = CoreAnsx("MIDICTRMIX") + CoreAnsx(n);
        if (!master->exslc(controllerKey)) continue;
        const int32_t status = master->exslc(statusKey) ? saturated<int32_t>(master->getld(statusKey)) : 176;
        midi->setms(static_cast<int16_t>(n - 1), status, saturated<int32_t>(master->getld(controllerKey)));
    }
}

void CorePrcs::resolveDataPath(bool present) {
    // A relative path would otherwise resolve against the host's working folder.
    const auto anchored = [this](const CoreAnsx& path) {
        return path.Length() > 0 && path.c_str()[0] == '/' ? path : sPluginfolder + path;
    };
    if (!present) {
        sDatapath = sPluginfolder + sCtemprepository;
    } else {
        CoreAnsx path = sDatapathsetting.Length() > 0 ? anchored(sDatapathsetting) : sPluginfolder;
        bool regular = false;
        const CoreAnsx found = CoreButl::pcase(path, regular);
        if (regular) {
            // A container file: its folder is the data folder, its items come through the master store.
            sDatacontainer = path;
            sDatapath = CoreButl::getpt(path);
        } else {
            if (!endsWithSlash(path) && CoreXutl::ispvl(found.c_str())) path += "/";
            sDatapath = path;
        }
        if (pMasterstore) {
            pMasterstore->setdt(CoreButl::getpt(sDatapath));
            if (regular) pMasterstore->loada(sDatacontainer, "0", true, nullptr);
        }
    }
    sTemprepository = sDatapath + sCtemprepository;
    for (CoreAnsx& alternative : oAlternatives) alternative = anchored(alternative);
}

void CorePrcs::deriveSizes() {
    if (!bKeeplog) {
        CoreLog_::setpt(sDatapath);
        CoreLog_::setdb(iDl, false);
    }
    if (metertype < 0 || metertype >= iCmetertypes) {
        CoreLog_::loger(CoreAnsx("METERTYPE ") + CoreAnsx(metertype) + " is no meter type; 2 is used", 1);
        metertype = 2;
    }
    hdimmax = std::max<int16_t>(hdimmax, 0);
    iHdim = std::max<int16_t>(iHdim, 0);
    threadsmindim = std::max(threadsmindim, 0);

    // In 64 bits: the settings may ask for anything, and the ring must still hold the write-ahead.
    const int64_t dsp = CoreButl::getp2(std::clamp(iSaveddspbuffer, CoreButl::iCsamplealign, iCmaxdspbuffer));
    int64_t work = iWorkbuffer > 1 ? powerOfTwoAbove(iWorkbuffer - 1) : 1;
    hasworker = iThreads > 0;
    const int64_t threadLatency = hasworker ? dsp : 0;
    const int64_t latency = dsp + threadLatency;
    int64_t forced = 0, room = 0, compensation = 0;
    if (iForceoffset > 0) {
        forced = std::max<int64_t>(0, CoreButl::tpfup(samplerate, iForceoffset));
        room = std::max<int64_t>(0, CoreButl::tpfup(samplerate, iLookaheadtime));
        compensation = latency + forced + room;
    }
    // Write-ahead or delay compensation not below the ring length would leave the host entry no
    // free space at all, so its loop would never end.
    const int64_t needed = std::max(latency + room + dsp, compensation);
    if (work <= needed) {
        work = powerOfTwoAbove(needed);
        CoreLog_::loger(CoreAnsx("WORKBUFFER raised to ") + CoreAnsx(static_cast<long>(work)) +
                            " to hold DSPBUFFER, THREADS, FORCEOFFSET and AHEADLENGTH",
                        1);
    }
    if (work > iCmaxworkbuffer) {
        const CoreAnsx message =
            CoreAnsx("WORKBUFFER, DSPBUFFER, THREADS, FORCEOFFSET and AHEADLENGTH ask for a ring of ") +
            CoreAnsx(static_cast<long>(work)) + " samples, more than " +
            CoreAnsx(static_cast<long>(iCmaxworkbuffer));
        CoreLog_::loger(message, 1);
        throw message;
    }

    dspdim = static_cast<int32_t>(dsp);
    workdim = static_cast<int32_t>(work);
    worklast = workdim - 1;
    iThreadlatency = static_cast<int32_t>(threadLatency);
    readbase = static_cast<int32_t>(latency);
    blockdim = activedim = dspdim;
    hostdim = threadsmindim;
    iForceoffsetsamples = static_cast<int32_t>(forced);
    iLookaheadroom = leaddim = static_cast<int32_t>(room);
    iDelaycompensation = static_cast<int32_t>(compensation);
    iReportedlatency = static_cast<int32_t>(latency + room + forced);
    offsetdim = iDrydelay = iForceoffsetsamples;

    iOutread = 0;
    readpos = readmark = outpos = readbase;
    inpos = readbase + iLookaheadroom;
    iPassread = 0;
    iPasswrite = iDelaycompensation;

    const bool unity = dProtectiondb == 0.0 || std::fpclassify(dProtectiondb) == FP_SUBNORMAL;
    dProtectionlevel = unity ? 1.0 : std::pow(10.0, dProtectiondb / 20.0);
    cliphold = iRefreshoverflow / CoreButl::dCu / CoreButl::dCsecondsperday;
    iFixedlevel = iFixedquality != 0 ? 4 : 0;
    tempo = dBpmdefault;
}

void CorePrcs::logSettings() const {
    CoreLog_::debug(CoreAnsx(CoreLog_::sCproductn) + " " + CoreLog_::sCversion_, 0, 3);
    if (sMagic != CoreAnsx("0")) logLine("MAGIC", sMagic);
    const auto flag = [](bool on) { return CoreAnsx(on ? "1" : "0"); };
    logLine("FASTBOOT", flag(bFastboot));
    logLine("SCANBOOT", flag(bScanboot));
    logLine("NODROP", flag(bNodrop));
    logLine("AUTOTHREAD", flag(autothread));
    logLine("MODE", flag(bMode));
    logLine("LEGACYSTEREOCHANNEL", flag(bLegacystereochannel));
    logLine("PROGRAMRATE", iProgramrate);
    logLine("GUIRATE", iGuirate);
    logLine("EXPORTAUDIOQUALITY", iExportaudioquality);
    logLine("LTIMED", ltimed);
    logLine("LFREQD", lfreqd);
    logLine("FORCEOFFSET", iForceoffset);
    logLine("RATECONVERSION", rateconv);
    logLine("PROGRAMSUBPATH", sProgramsubpath);
    logLine("VECTORSUBPATH", sVectorsubpath);
    logLine("SETUPSUBPATH", sSetupsubpath);
    logLine("SETUPROMNAME", sSetupromname);
    logLine("DICTIONARYROMNAME", sDictionaryromname);
    logLine("CACHESUBPATH", sCachesubpath);
    logLine("DICTIONARYSUBPATH", sDictionarysubpath);
    logLine("WORKBUFFER", workdim);
    logLine("DSPBUFFER", dspdim);
    logLine("PROCESSINGBUFFER", readbase);
    logLine("METERTYPE", static_cast<int>(metertype));
    logLine("HDIM", static_cast<int>(iHdim));
    logLine("HDIMMAX", static_cast<int>(hdimmax));
    logLine("BPMDEFAULT", dBpmdefault);
    logLine("FONTCOLOUR", static_cast<int>(iFontcolour));
    logLine("LOADERPRIORITY", static_cast<int>(iLoaderpriority));
    logLine("FORCOLUMN", static_cast<int>(iForcolumn));
    logLine("PROTECTIONDB", dProtectiondb);
    logLine("IPPTHREADS", iIppthreads);
    logLine("*rate", samplerate.load());
    if (hasworker) logLine("THREADSMINDIM", threadsmindim);
    logLine("DELAY COMPENSATION", iDelaycompensation);
}

void CorePrcs::chooseSkin() {
    if (sSkinname.Length() > 0) {
        sSkininuse = sSkinname;
        return;
    }
    CoreAnsx* names = nullptr;
    int count = 0;
    CoreHutl::readr(CoreButl::pcase(sDatapath + sSkinsubpath), CoreAnsx("*") + CoreButl::sCextq7s, &names,
                    count, CoreAnsx("*"));
    if (count > 0) {
        // Seeded from the wall clock; every entry has the same chance.
        RandomGenerator generator(static_cast<uint32_t>(static_cast<int64_t>(CoreXutl::ttime() * 1e7)));
        sSkininuse = names[std::min(count - 1, static_cast<int>(generator.uniform() * count))];
    }
    delete[] names;
}
