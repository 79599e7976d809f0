// CoreProgTestAccess: the program's one friend for tests. Tests fill harmonic and raw records, read the
// fields no accessor offers and run the reader's steps below its entry through it. Tests only.
#pragma once
#include "program/CoreProg.h"

class CoreProgTestAccess {
public:
    static CoreProg::HLOC& record(CoreProg& p, int h) { return p.pHarmonics[h]; }
    static CoreProg::RAWLOC& raw(CoreProg& p, int r) { return p.pRaws[r]; }
    static int16_t capacity(const CoreProg& p) { return p.iCapacity; }
    static int16_t& harmonicsLoaded(CoreProg& p) { return p.iHarmonicsloaded; }
    static bool& loaded(CoreProg& p) { return p.bLoaded; }
    static bool& prepared(CoreProg& p) { return p.bPrepared; }
    static CoreAnsx vectorFileName(const CoreProg& p) { return p.sVectorfilename; }
    static int32_t programRate(const CoreProg& p) { return p.iProgramratehz; }
    static int32_t rateConversion(const CoreProg& p) { return p.iRateconversionus; }
    static CoreParm* inputTrim(CoreProg& p) { return p.pInputtrim; }
    static CoreParm* outputTrim(CoreProg& p) { return p.pOutputtrim; }
    static CoreParm* feedbackControl(CoreProg& p) { return p.pFeedbackcontrol; }
    static CoreParm* dryControl(CoreProg& p) { return p.pDrycontrol; }
    static CoreParm* lookaheadControl(CoreProg& p) { return p.pLookaheadcontrol; }
    static CoreRfun* rawFunction(CoreProg& p, int i) { return p.pRawfuns[i]; }
    static CorePlel* registry(CoreProg& p) { return p.pRegistry; }
    // Program-wide values the reader's entry reads.
    static int32_t syncVersion(CoreProg& p) { return p.iSyncversion; }
    static int32_t& alignOffset(CoreProg& p) { return p.iAlignoffsetus; }
    static double& alignBalance(CoreProg& p) { return p.dAlignbalance; }
    static bool& trainMode(CoreProg& p) { return p.bTrainmode; }
    static bool jitterMode(const CoreProg& p) { return p.bJittermode; }
    static bool peakMode(const CoreProg& p) { return p.bPeakmode; }
    static double& irGain(CoreProg& p) { return p.dIrgain; }
    using Probe = void (*)(int16_t h, int leafVector);
    static Probe& registrationProbe(CoreProg& p) { return p.pRegistrationprobe; }

    // The reader's steps and what they leave behind.
    static void rdmod(CoreProg& p, CoreNode* program) { p.rdmod(program); }
    static void rddsp(CoreProg& p, CoreNode* program) { p.rddsp(program); }
    static void rdhrm(CoreProg& p, CoreNode* program) { p.rdhrm(program); }
    static void rdraw(CoreProg& p, CoreNode* program) { p.rdraw(program); }
    static void dlvct(CoreProg& p) { p.dlvct(); }
    static CoreAnsx currentTag(const CoreProg& p) { return p.sCurrenttag; }
    static CoreAnsx getas(CoreProg& p, const CoreAnsx& name) {
        return CoreProg::getas(p.pPool, p.pFiles, name);
    }
};
