#include "program/CoreProg.h"

#include "base/CoreBlnk.h"
#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CoreNode.h"
#include "base/CoreTlst.h"
#include "base/CoreXml_.h"
#include "convolution/CorePlel.h"
#include "convolution/CoreRvct.h"
#include "convolution/CoreVctr.h"
#include "filestore/CoreFsys.h"
#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreGfun.h"
#include "modulation/CoreIfce.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CoreParm.h"
#include "modulation/CorePrm_.h"
#include "modulation/CoreRfun.h"
#include "modulation/DataGfun.h"
#include "modulation/DataRgfn.h"
#include "modulation/DataSrce.h"
#include "program/DataXml_.h"

namespace {

// A list that starts with room for `reserve` items and none in use.
CoreTlst* newList(int reserve) {
    CoreTlst* list = new CoreTlst();
    if (reserve > 0) {
        try {
            list->grow_(reserve);
        } catch (...) {
            delete list;
            throw;
        }
        list->Count = 0;
    }
    return list;
}

// Frees the element kernels of the leaves that went to no registry (a record prepared without a
// convolver): a vector leaves those to whoever filled it. Each leaf registers its elements in
// order, one id each, so the elements from registryIds() on are unregistered; an element whose
// registration failed holds no kernels (setip freed them).
void freeUnregisteredKernels(CoreTlst* leaves) {
    if (leaves == nullptr) return;
    for (int j = 0; j < leaves->Count; ++j) {
        CoreVctr* leaf = static_cast<CoreVctr*>(leaves->Items[j]);
        for (int k = leaf->registryIds(); k < leaf->getne(); ++k) {
            void* left = nullptr;
            void* right = nullptr;
            leaf->getip(k, left, right);
            leaf->delip(left, right);
        }
    }
}

void deleteList(CoreTlst*& list) {
    if (list == nullptr) return;
    list->Clear();
    delete list;
    list = nullptr;
}

// Deletes the objects of an owned pointer array (null entries allowed) and the array itself.
template <typename T>
void deleteAll(T**& items, int count) {
    if (items == nullptr) return;
    for (int i = 0; i < count; ++i) {
        delete items[i];
        items[i] = nullptr;
    }
    delete[] items;
    items = nullptr;
}

template <typename T>
T** newPointers(int count) {
    T** items = new T*[count];
    for (int i = 0; i < count; ++i) items[i] = nullptr;
    return items;
}

// "LFO" + 3 -> "LFO3": section names and source keys count from 1, without separator.
CoreAnsx numbered(const CoreAnsx& tag, int n) {
    return tag + CoreAnsx(n);
}

} // namespace

CoreProg::CoreProg(CorePool* pool, CoreFsys* files, int16_t capacity, CoreAnsx vectorFolder, int32_t ltimed,
                   int32_t lfreqd, int32_t forcedOffset, int32_t maxLookahead, int32_t processorDelay,
                   int32_t workBuffer, int32_t blockCap, CoreBlnk* blink, CorePlel* registry)
    : sVectorfolder(vectorFolder), sVectorfilename("0"), iSyncversion(0),
      iProgramratehz(CoreButl::iCdefaultrate), iFileratehz(0), iConvertedratehz(0), iDepth(0),
      iElementsread(0), iBlockcap(blockCap), iMinimumblock(0), iLargestoffset(0), iFirstsyncindex(0),
      iSmooth(-1), iCapacity(0), iHarmonicsloaded(0), iHarmoniclimit(0), iSecondstageus(ltimed),
      iThirdstageus(lfreqd), iForcedoffsetus(forcedOffset), iLookaheadus(0), iRateconversionus(0),
      iProcessordelay(processorDelay), iWorkbuffer(workBuffer), iUpdateperiodus(-1), iAlignoffsetus(0),
      iAlignoffsetsamples(0), iMaxlookahead(maxLookahead), dIrgain(1.0), dFeedback(0.0), dDrygain(0.0),
      dBytesloaded(0.0), dInputpad(1.0), dOutputpad(1.0), dAlignbalance(0.0), bLoaded(false),
      bPrepared(false), bTrainmode(false), bJittermode(false), bPeakmode(false), bForceot2(false),
      bInvisiblethread(false), bForcehybrid(false), bForcemono(false), bVr(false), bNamechanged(false),
      bSharedregistry(registry != nullptr), pHarmonics(nullptr), pRaws(nullptr), pFunctions(nullptr),
      pRawfunctions(nullptr), pSources(nullptr), pLfos(nullptr), pFuns(nullptr), pRawfuns(nullptr),
      pParameters(nullptr), pFollowers(nullptr), pDynamics(nullptr), pEnvelopes(nullptr), pControls(nullptr),
      pFeedbackcontrol(nullptr), pDrycontrol(nullptr), pLookaheadcontrol(nullptr), pInputtrim(nullptr),
      pOutputtrim(nullptr), pBlink(blink), pFiles(files), pProgress(nullptr), pPool(pool),
      pRegistry(registry), pOwnedparameters(nullptr) {
    // The capacity comes from the settings file; a negative one would give no record at all, or a
    // negative count, while every per-harmonic operation expects the hybrid record to exist.
    if (capacity < 0) {
        const CoreAnsx message = CoreAnsx("Program: harmonic capacity ") +
                                 CoreAnsx(static_cast<int>(capacity)) + CoreAnsx(" is negative");
        CoreLog_::loger(message, 1);
        throw message;
    }
    try {
        build(capacity);
    } catch (...) {
        release();
        throw;
    }
}

void CoreProg::build(int16_t capacity) {
    if (pRegistry == nullptr) pRegistry = new CorePlel(pPool);

    pRawfunctions = new DataRgfn();
    pFunctions = new DataGfun();
    pSources = new DataSrce();
    pSources->getis(DataSrce::iCrowon)->setvl(1.0);
    pSources->getis(DataSrce::iCrowoff)->setvl(-1.0);
    pSources->getis(DataSrce::iCrowinl)->setvl(-1.0);
    pSources->getis(DataSrce::iCrowinr)->setvl(-1.0);
    pSources->getis(DataSrce::iCrowoutl)->setvl(-1.0);
    pSources->getis(DataSrce::iCrowoutr)->setvl(-1.0);

    // Every modulator writes the rows whose keys are its own name (and its secondary names);
    // a key the table lacks would resolve to OFF.
    pLfos = newPointers<CoreLfo_>(iClfos);
    for (int n = 1; n <= iClfos; ++n) {
        const CoreAnsx name = numbered(DataXml_::sCtagrootlf, n);
        pLfos[n - 1] = new CoreLfo_(name, pFunctions, pSources, pSources->getsc(name),
                                    pSources->getsc(numbered(DataXml_::sCtaglforto, n)));
    }
    pFuns = newPointers<CoreFun_>(iCfuns);
    for (int n = 1; n <= iCfuns; ++n) {
        const CoreAnsx name = numbered(DataXml_::sCtagrootfn, n);
        pFuns[n - 1] = new CoreFun_(name, pFunctions, pSources, pSources->getsc(name));
    }
    pRawfuns = newPointers<CoreRfun>(iCrawfuns);
    for (int n = 1; n <= iCrawfuns; ++n) {
        const CoreAnsx name = numbered(DataXml_::sCtagrootrf, n);
        pRawfuns[n - 1] = new CoreRfun(name, pRawfunctions, pSources, pSources->getsc(name));
    }
    pOwnedparameters = newPointers<CorePrm_>(iCparameters);
    pParameters = newPointers<CorePrm_>(iCparameters);
    for (int n = 1; n <= iCparameters; ++n) {
        const CoreAnsx name = numbered(DataXml_::sCtagrootpm, n);
        pOwnedparameters[n - 1] = new CorePrm_(name, pFunctions, pSources, pSources->getsc(name));
        pParameters[n - 1] = pOwnedparameters[n - 1];
    }
    pFollowers = newPointers<CoreEnvf>(iCfollowers);
    for (int n = 1; n <= iCfollowers; ++n) {
        const CoreAnsx name = numbered(DataXml_::sCtagrootef, n);
        // The table has attack- and release-time rows for the first four followers only. The fifth
        // gets none: resolving "EAT5" and "ERT5" would hand it the OFF row, which must stay -1.0.
        const bool hasTimingRows = n < iCfollowers;
        CoreSrce* attackRow = hasTimingRows ? pSources->getsc(numbered(DataXml_::sCtagrootea, n)) : nullptr;
        CoreSrce* releaseRow = hasTimingRows ? pSources->getsc(numbered(DataXml_::sCtagrooter, n)) : nullptr;
        pFollowers[n - 1] =
            new CoreEnvf(pPool, name, true, pSources, pSources->getsc(name), attackRow, releaseRow);
    }
    pDynamics = newPointers<CoreDynm>(iCdynamics);
    for (int n = 1; n <= iCdynamics; ++n) {
        const CoreAnsx name = numbered(DataXml_::sCtagrootdn, n);
        pDynamics[n - 1] = new CoreDynm(name, pSources, pSources->getsc(name));
    }
    pEnvelopes = newPointers<CoreEnv_>(iCenvelopes);
    for (int n = 1; n <= iCenvelopes; ++n) {
        const CoreAnsx name = numbered(DataXml_::sCtagrootev, n);
        pEnvelopes[n - 1] = new CoreEnv_(name, pSources, pSources->getsc(name));
    }

    // Moving a front-panel control writes the source row of its key.
    pControls = newPointers<CoreIfce>(iCcontrols);
    for (int n = 1; n <= iCmixes; ++n) {
        const CoreAnsx key = numbered(DataXml_::sCtagrootmx, n);
        pControls[n - 1] = new CoreIfce(key, -1.0, 1.0, CoreAnsx("Mix ") + CoreAnsx(n), CoreAnsx(""),
                                        pSources->getsc(key), 0.0, true, pBlink);
    }
    pControls[8] = new CoreIfce(DataXml_::sCtaggainin, 0.0, 1.0, CoreAnsx("Gain in"), CoreAnsx("dB"),
                                pSources->getsc(DataXml_::sCtaggainin), 1.0, false, nullptr);
    pControls[9] = new CoreIfce(DataXml_::sCtaggainou, 0.0, 1.0, CoreAnsx("Gain out"), CoreAnsx("dB"),
                                pSources->getsc(DataXml_::sCtaggainou), 1.0, false, nullptr);

    // Bound to no source until the reader binds one.
    const CoreAnsx inputTrim("Gainpadin Trim Control");
    const CoreAnsx outputTrim("Gainpadout Trim Control");
    const CoreAnsx feedback("Feedback Control");
    const CoreAnsx dry("Gaindry Control");
    const CoreAnsx lookahead("Lookahead Control");
    pInputtrim = new CoreParm(inputTrim, inputTrim, CoreAnsx(""), 0.0, 1.0, pSources);
    pOutputtrim = new CoreParm(outputTrim, outputTrim, CoreAnsx(""), 0.0, 1.0, pSources);
    pFeedbackcontrol = new CoreParm(feedback, feedback, CoreAnsx(""), 0.0, 1.0, pSources);
    pDrycontrol = new CoreParm(dry, dry, CoreAnsx(""), 0.0, 1.0, pSources);
    pLookaheadcontrol = new CoreParm(lookahead, lookahead, CoreAnsx(""), 0.0, 1.0, pSources);

    const int records = capacity + iChworkdim;
    pHarmonics = new HLOC[records]();
    iCapacity = capacity; // the release path walks this many records + 1 from here on
    for (int h = 0; h < records; ++h) {
        pHarmonics[h].pLeafvectors = newList(iCleafvectors);
        pHarmonics[h].pCorevectors = newList(iCcorevectors);
    }

    pRaws = new RAWLOC[iCraws]();
    for (int r = 0; r < iCraws; ++r) {
        pRaws[r].sName = numbered(DataXml_::sCtagrootrw, r + 1);
        pRaws[r].pLeafvectors = newList(0);
        pRaws[r].pCorevectors = newList(iCcorevectors);
    }
}

CoreProg::~CoreProg() {
    release();
}

// Tears down whatever exists, in the order the members depend on each other: vectors before the
// registry they registered kernels with, modulators before the tables they point into. Also the
// clean-up of a constructor that failed part way, so every step tolerates missing members.
void CoreProg::release() {
    uload();
    if (pHarmonics != nullptr) {
        for (int h = 0; h <= iCapacity; ++h) {
            HLOC& record = pHarmonics[h];
            releaseRoot(record); // a tree the reader left without marking the record valid
            deleteList(record.pLeafvectors);
            deleteList(record.pCorevectors);
            record.pConvolver = nullptr;
        }
        delete[] pHarmonics;
        pHarmonics = nullptr;
    }
    if (pRaws != nullptr) {
        uloar();
        for (int r = 0; r < iCraws; ++r) {
            deleteList(pRaws[r].pLeafvectors);
            deleteList(pRaws[r].pCorevectors);
        }
        delete[] pRaws;
        pRaws = nullptr;
    }

    delete pInputtrim;
    delete pOutputtrim;
    delete pFeedbackcontrol;
    delete pDrycontrol;
    delete pLookaheadcontrol;
    pInputtrim = pOutputtrim = pFeedbackcontrol = pDrycontrol = pLookaheadcontrol = nullptr;
    deleteAll(pControls, iCcontrols);
    deleteAll(pEnvelopes, iCenvelopes);
    deleteAll(pDynamics, iCdynamics);
    deleteAll(pFollowers, iCfollowers);
    deleteAll(pOwnedparameters, iCparameters);
    delete[] pParameters; // points into the owned array
    pParameters = nullptr;
    deleteAll(pRawfuns, iCrawfuns);
    deleteAll(pFuns, iCfuns);
    deleteAll(pLfos, iClfos);

    delete pSources;
    delete pRawfunctions;
    delete pFunctions;
    pSources = nullptr;
    pRawfunctions = nullptr;
    pFunctions = nullptr;

    if (pRegistry != nullptr) {
        pRegistry->garlk();
        if (!bSharedregistry) delete pRegistry;
        pRegistry = nullptr;
    }
    pBlink = nullptr;
    pFiles = nullptr;
    pProgress = nullptr;
    pPool = nullptr;
}

// Deletes a record's tree and forgets every pointer into it (the fade envelopes and the output
// kernels belong to the root).
void CoreProg::releaseRoot(HLOC& record) {
    if (record.pRoot != nullptr) {
        freeUnregisteredKernels(record.pLeafvectors);
        delete record.pRoot;
        record.pRoot = nullptr;
    }
    record.pFadeinenvelope = nullptr;
    record.pFadeoutenvelope = nullptr;
    record.pEndfadeenvelope = nullptr;
    record.pEnvelopeinuse = nullptr;
    record.bFadesbuilt = false;
    record.pCurrentleft = nullptr;
    record.pCurrentright = nullptr;
    record.pSecondaryleft = nullptr;
    record.pSecondaryright = nullptr;
}

void CoreProg::releaseRaw(RAWLOC& record) {
    if (record.pRoot != nullptr) {
        delete record.pRoot;
        record.pRoot = nullptr;
    }
    record.bActive = false;
    if (record.pCorevectors != nullptr) record.pCorevectors->Clear();
    if (record.pLeafvectors != nullptr) record.pLeafvectors->Clear();
}

void CoreProg::uload() {
    for (CoreAnsx& category : sCategories) category = CoreAnsx("");
    sDescription = CoreAnsx("");
    sVectorfilename = CoreAnsx("0");

    if (bLoaded) {
        if (pHarmonics != nullptr) {
            for (int h = 0; h <= iCapacity; ++h) {
                HLOC& record = pHarmonics[h];
                if (!record.bValid && record.pRoot == nullptr) continue;
                releaseRoot(record);
                record.bValid = false;
                if (record.pLeafvectors != nullptr) record.pLeafvectors->Clear();
                if (record.pCorevectors != nullptr) record.pCorevectors->Clear();
                record.iKernellength = 0;
                record.iSecondsize = 0;
                record.iThirdsize = 0;
                record.bChanged = false;
            }
        }
        bLoaded = false;
        if (pOwnedparameters != nullptr)
            for (int i = 0; i < iCparameters; ++i)
                if (pOwnedparameters[i] != nullptr) pOwnedparameters[i]->setvl(false);
    }

    if (bPrepared) {
        if (pHarmonics != nullptr) {
            for (int h = 0; h <= iCapacity; ++h) {
                HLOC& record = pHarmonics[h];
                record.pCurrentleft = nullptr;
                record.pCurrentright = nullptr;
                if (record.bFadesbuilt) {
                    record.pEnvelopeinuse = nullptr;
                    record.bFadesbuilt = false;
                }
            }
        }
        bPrepared = false;
    }
    bNamechanged = false;
}

void CoreProg::uloar() {
    if (pRaws == nullptr) return;
    for (int r = 0; r < iCraws; ++r)
        if (pRaws[r].bActive || pRaws[r].pRoot != nullptr) releaseRaw(pRaws[r]);
}

void CoreProg::init_() {
    uload();
    uloar();
}

// ---- header ------------------------------------------------------------------------------------

void CoreProg::setnm(CoreAnsx name) {
    sName = name;
    bNamechanged = true;
}

CoreAnsx CoreProg::getct(int i) const {
    if (i < 0 || i >= iCcategories) return CoreAnsx("");
    return sCategories[i];
}

void CoreProg::setct(CoreAnsx text, int i) {
    if (i < 0 || i >= iCcategories) return;
    sCategories[i] = text;
}

void CoreProg::setvf(CoreAnsx name) {
    sVectorfilename = name;
    bNamechanged = false;
}

// ---- gains and bound controls ------------------------------------------------------------------------

void CoreProg::setfs(CoreAnsx source) {
    sFeedbacksource = source;
    pFeedbackcontrol->setsr(source, 0.0, 1.0);
}

void CoreProg::setys(CoreAnsx source) {
    sDrysource = source;
    pDrycontrol->setsr(source, 0.0, 1.0);
}

void CoreProg::setar(CoreAnsx source) {
    sLookaheadsource = source;
    pLookaheadcontrol->setsr(source, 0.0, 1.0);
}

double CoreProg::getrf() {
    return dFeedback * pFeedbackcontrol->getvl();
}

double CoreProg::getry() {
    return dDrygain * pDrycontrol->getvl();
}

double CoreProg::getaf() {
    return pLookaheadcontrol->getvl();
}

double CoreProg::trimGain(CoreParm* control) {
    const double gain = control->getvl() * dCtrimfactor;
    return CoreGfun::flush(gain) == 0.0 ? 1.0 : gain;
}

double CoreProg::getti() {
    return trimGain(pInputtrim);
}

double CoreProg::getto() {
    return trimGain(pOutputtrim);
}

double CoreProg::getab() const {
    // A negative LOOKAHEAD is stored as given and tpfup passes values below 1 through unchanged;
    // the processor must never get a negative sample count.
    int64_t samples = CoreButl::tpfup(iProgramratehz, iLookaheadus);
    if (samples > iMaxlookahead) samples = iMaxlookahead;
    if (samples < 0) samples = 0;
    return static_cast<double>(samples);
}

// ---- rates, sizes and flags ----------------------------------------------------------------------------

int16_t CoreProg::gethc(bool all) const {
    if (!all && iHarmoniclimit > 0 && iHarmoniclimit < iHarmonicsloaded) return iHarmoniclimit;
    return iHarmonicsloaded;
}

void CoreProg::setfh(bool on) {
    HLOC& first = pHarmonics[0];
    if (on) {
        HLOC& hybrid = pHarmonics[iCapacity];
        if (hybrid.bValid) {
            first.iThirdsize = hybrid.iThirdsize;
            first.iCut = hybrid.iCut;
            first.bThirdon = false;
            hybrid.bThirdon = false;
            bForceot2 = false;
        }
    } else {
        first.iThirdsize = first.iBoundedsizes[3];
        first.bThirdon = false;
        bForceot2 = false;
        iSmooth = -1;
    }
    first.bChanged = true;
    bForcehybrid = on;
}

// ---- tables, modulators and controls ---------------------------------------------------------------------

CoreLfo_* CoreProg::getlf(int16_t i) const {
    return i >= 0 && i < iClfos ? pLfos[i] : nullptr;
}

CoreFun_* CoreProg::getfn(int16_t i) const {
    return i >= 0 && i < iCfuns ? pFuns[i] : nullptr;
}

CoreEnvf* CoreProg::getef(int16_t i) const {
    return i >= 0 && i < iCfollowers ? pFollowers[i] : nullptr;
}

CoreEnv_* CoreProg::geten(int16_t i) const {
    return i >= 0 && i < iCenvelopes ? pEnvelopes[i] : nullptr;
}

CoreDynm* CoreProg::getdy(int16_t i) const {
    return i >= 0 && i < iCdynamics ? pDynamics[i] : nullptr;
}

CorePrm_* CoreProg::getpm(int16_t i) const {
    return i >= 0 && i < iCparameters ? pParameters[i] : nullptr;
}

void CoreProg::setpm(int16_t i, CorePrm_* p) {
    if (i < 0 || i >= iCparameters || p == nullptr) return;
    pParameters[i] = p;
}

CoreIfce* CoreProg::getif(int32_t i) const {
    return i >= 0 && i < iCcontrols ? pControls[i] : nullptr;
}

CoreIfce* CoreProg::getmx(int16_t i) const {
    return i >= 0 && i < iCmixes ? pControls[i] : nullptr;
}

bool CoreProg::isqpr() const {
    return pFollowers[iCfollowers - 1]->isact();
}

void CoreProg::upsrc(int32_t i, double value) {
    CoreSrce* row = pSources->getis(i);
    if (row != nullptr) row->setvl(value);
}

double CoreProg::getsc(CoreAnsx key) const {
    return pSources->getsc(key)->getvl();
}

// ---- services
// ------------------------------------------------------------------------------------------------

void CoreProg::setcv(int32_t h, CoreCnvl* convolver) {
    if (isRecord(h)) pHarmonics[h].pConvolver = convolver;
}

// ---- harmonic records
// ----------------------------------------------------------------------------------------

void CoreProg::setsp(int16_t k) {
    // Record 0 has no root until a program is loaded.
    if (k != 0 && k != 1) return;
    const HLOC& first = pHarmonics[0];
    if (first.bValid && first.pRoot != nullptr) first.pRoot->setcc(k);
}

int32_t CoreProg::getbr(int16_t h) const {
    return isRecord(h) ? pHarmonics[h].iThirdblock : 0;
}

int32_t CoreProg::getid(int16_t h) const {
    return isRecord(h) ? pHarmonics[h].iSecondsize : 0;
}

int32_t CoreProg::getex(int16_t h) const {
    return isRecord(h) ? pHarmonics[h].iThirdsize : 0;
}

int32_t CoreProg::getep(int16_t h) const {
    return isRecord(h) ? pHarmonics[h].iPaddedthirdsize : 0;
}

int32_t CoreProg::getod(int16_t h, int16_t which) const {
    if (!inUse(h)) return 0;
    if (which == 0) return pHarmonics[h].iSecondsize;
    if (which == 1) return pHarmonics[h].iThirdsize;
    return 0;
}

int32_t CoreProg::getts(int16_t h) const {
    return inUse(h) ? pHarmonics[h].iThirdsize : 0;
}

int32_t CoreProg::getco(int16_t h) const {
    return inUse(h) ? pHarmonics[h].iCut : 0;
}

int32_t CoreProg::getib(int16_t h, int16_t stage, bool bounded) const {
    if (!inUse(h) || (stage != 0 && stage != 1)) return 0;
    return pHarmonics[h].iBoundedsizes[stage + (bounded ? 2 : 0)];
}

double* CoreProg::getli(int16_t h) const {
    return isRecord(h) ? pHarmonics[h].pCurrentleft : nullptr;
}

double* CoreProg::getri(int16_t h) const {
    return isRecord(h) ? pHarmonics[h].pCurrentright : nullptr;
}

double* CoreProg::getls() const {
    return pHarmonics[0].pSecondaryleft;
}

double* CoreProg::getrs() const {
    return pHarmonics[0].pSecondaryright;
}

bool CoreProg::getn3(int16_t h) const {
    return isRecord(h) && pHarmonics[h].bThirdon;
}

void CoreProg::setn3(int16_t h, bool on) {
    if (!isRecord(h)) return;
    pHarmonics[h].bThirdon = on;
    pHarmonics[h].bChanged = true;
}

bool CoreProg::ismkr(int16_t h) const {
    return isRecord(h) && pHarmonics[h].bShortimpulse;
}

bool CoreProg::inphs(const double* block, int32_t n) {
    if (block == nullptr || n <= 0) return false;
    double largest = 0.0;
    double smallest = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        if (block[i] > largest) largest = block[i];
        if (block[i] < smallest) smallest = block[i];
    }
    return largest > -smallest;
}

// ---- header of a packed program ------------------------------------------------------------------------

namespace {

// The program document of a packed program: the container's own bytes (never a loose file of the same
// name), parsed. Null (logged) when the item does not parse or has no PROGRAM.
CoreNode* packedProgram(CoreFsys& store, int32_t id, CoreXml_& document, const CoreAnsx& containerPath) {
    CoreNode* root = nullptr;
    try {
        store.loadc(id, true);
        root = document.getfc(store.ct2as(id));
    } catch (const CoreAnsx&) {
        root = nullptr;
    }
    CoreNode* program = root ? root->getcd(DataXml_::sCtagprogrm) : nullptr;
    if (program == nullptr)
        CoreLog_::logfl(containerPath + ": the program item is not a readable program document", 1);
    return program;
}

// The id of the program item: the record whose file name without folder and extension equals the key,
// else the first record, in record order, whose name contains it; -1 when none.
int32_t programItem(const CoreFsys& store, const CoreAnsx& key) {
    int32_t contains = -1;
    for (int i = 0; i < store.llvcn(); ++i) {
        int32_t id = -1;
        const CoreAnsx itemName = store.llvel(i, id).UpperCase();
        if (CoreButl::getfn(CoreButl::ffpen(itemName), true) == key) return id;
        if (contains < 0 && itemName.Pos(key) > 0) contains = id;
    }
    return contains;
}

// A header value by the tree's default rule, where a value written as "0" also counts as absent: the
// writer frames it (" 0 "), which the tree alone would read as present.
CoreAnsx headerValue(const CoreNode* program, const CoreAnsx& tag, const CoreAnsx& fallback) {
    const CoreAnsx value = CoreNode::gtnls(program, tag, fallback);
    return value == CoreAnsx("0") ? fallback : value;
}

bool loadPacked(CoreFsys& store, const CoreAnsx& containerPath) {
    if (store.loada(containerPath, CoreAnsx("0"), false, nullptr)) return true;
    CoreLog_::logfl(containerPath + ": packed program not read", 1);
    return false;
}

} // namespace

void CoreProg::getni(CorePool* pool, CoreAnsx containerPath, int32_t& id, CoreAnsx& name,
                     CoreAnsx* categories, CoreAnsx& description, CoreAnsx& vectorFileName) {
    if (pool == nullptr || categories == nullptr) return;
    CoreFsys store(pool);
    if (!loadPacked(store, containerPath)) return;
    const CoreAnsx key = CoreButl::getfn(CoreButl::ffpen(containerPath), true).UpperCase();
    const int32_t found = programItem(store, key);
    if (found < 0) {
        CoreLog_::logfl(containerPath + ": no item of the container is named after it", 1);
        return;
    }
    CoreXml_ document;
    const CoreNode* program = packedProgram(store, found, document, containerPath);
    if (program == nullptr) return;
    const CoreAnsx null(CoreButl::sCnull);
    const CoreAnsx empty("");
    id = found;
    name = headerValue(program, DataXml_::sCtagprognm, null);
    categories[0] = headerValue(program, DataXml_::sCtagcategr, empty);
    categories[1] = headerValue(program, DataXml_::sCtagsubca1, empty);
    categories[2] = headerValue(program, DataXml_::sCtagsubca2, empty);
    description = headerValue(program, DataXml_::sCtagdescrp, null);
    vectorFileName = headerValue(program, DataXml_::sCtagactvnm, null);
}

bool CoreProg::setni(CorePool* pool, CoreAnsx containerPath, int32_t id, CoreAnsx name, CoreAnsx* categories,
                     CoreAnsx description, CoreNode* extra) {
    if (pool == nullptr || categories == nullptr) return false;
    CoreFsys store(pool);
    if (!loadPacked(store, containerPath)) return false;
    // Writing back a store that lost an item would shorten the container for good.
    int tableItems = 0;
    try {
        CoreXml_ table;
        const CoreNode* root = table.getfc(store.gettc());
        const CoreNode* toc = root ? root->getcd(CoreAnsx(CoreFsys::sCtagfsysto)) : nullptr;
        tableItems = toc ? toc->getcc(CoreAnsx(CoreFsys::sCtagfsysit)) : 0;
    } catch (const CoreAnsx&) {
        tableItems = -1;
    }
    if (tableItems != store.llvcn()) {
        CoreLog_::logfl(containerPath + ": not rewritten, the container has items that could not be loaded",
                        1);
        return false;
    }
    int index = -1;
    if (store.gtiit(id, index) == nullptr) {
        CoreLog_::logfl(containerPath + ": not rewritten, no item " + CoreAnsx(static_cast<int>(id)), 1);
        return false;
    }
    CoreXml_ document;
    if (packedProgram(store, id, document, containerPath) == nullptr) return false;
    const CoreAnsx tags[5] = {DataXml_::sCtagprognm, DataXml_::sCtagcategr, DataXml_::sCtagsubca1,
                              DataXml_::sCtagsubca2, DataXml_::sCtagdescrp};
    const CoreAnsx values[5] = {name, categories[0], categories[1], categories[2], description};
    for (int i = 0; i < 5; ++i) {
        const CoreAnsx path[2] = {DataXml_::sCtagprogrm, tags[i]};
        document.pappr(path, 2, new CoreNode(values[i]));
    }
    if (extra != nullptr) CoreXml_::patch(extra, 0, document.getrt());
    const CoreAnsx text = document.settc(false, false);
    if (!store.setit(id, text.c_str(), text.Length(), CoreAnsx(""), true, true)) {
        CoreLog_::logfl(containerPath + ": not rewritten, out of memory", 1);
        return false;
    }
    if (!store.savea(containerPath)) {
        CoreLog_::logfl(containerPath + ": could not be rewritten", 1);
        return false;
    }
    return true;
}
