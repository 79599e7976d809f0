// CorePrcsTestAccess: the engine's one friend for tests. Reads fields no accessor offers, puts an
// engine into the booted state, and builds the engines the tests share in a temporary plug-in
// folder. Tests only.
// Without GoogleTest (the benchmarks), define CORE_PRCS_ACCESS_ONLY first: the fixture base is left out.
#pragma once
#include "base/CorePool.h"
#include "processor/CorePrcs.h"
#include "base/CorePmsg.h"
#include "base/CoreVars.h"
#include "base/CoreXml_.h"
#include "program/CoreProg.h"
#ifndef CORE_PRCS_ACCESS_ONLY
#include "tests/common/EngineFixture.h"
#endif

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>
#include <string>

class CorePrcsTestAccess {
public:
    struct AudioRoad; // tests/processor/AudioRoadScaffold.h: installs programs until the loader lands

    // As the boot's last step leaves it: gate open, no pass-through.
    static void boot(CorePrcs& e) {
        e.busy.setvl(false);
        e.setPassThrough(false);
    }

    // What construction left, as text: a settings key's value through the reader's own key table
    // (flags "1"/"0", numbers in decimal, doubles "%G"), or one of: failed, firstboot, found (master
    // found and installer merged), datapath, temprepository, skin, protection (linear), alternatives ('|'
    // after each), midiN (slot N's status/controller), layout (the numbers of Rings in order,
    // blank-separated).
    static std::string probe(CorePrcs& e, const std::string& what) {
        const auto flag = [](bool on) { return std::string(on ? "1" : "0"); };
        if (what == "failed") return flag(e.isfailed());
        if (what == "firstboot") return flag(e.bFirstboot);
        if (what == "found") return flag(e.bMasterfound) + flag(e.bInstallermerged);
        if (what == "datapath") return e.sDatapath.c_str();
        if (what == "temprepository") return e.sTemprepository.c_str();
        if (what == "skin") return e.sSkininuse.c_str();
        if (what == "protection") return CoreAnsx(e.dProtectionlevel).c_str();
        std::string text;
        if (what == "alternatives")
            for (const CoreAnsx& path : e.oAlternatives) text += std::string(path.c_str()) + "|";
        if (what.rfind("midi", 0) == 0) {
            bool learn = false;
            int status = 0, controller = 0, channel = 0, value = 0;
            e.midi->getms(static_cast<int16_t>(what[4] - '0'), learn, status, controller, channel, value);
            text = std::to_string(status) + "/" + std::to_string(controller);
        }
        if (what == "layout") {
            const Rings r = rings(e);
            for (int32_t n : {r.dsp, r.work, r.latency, r.room, r.forced, r.compensation, r.reported, r.inpos,
                              r.readpos, r.outpos, r.outread, r.passwrite, r.drydelay, r.hostdim})
                text += (text.empty() ? "" : " ") + std::to_string(n);
        }
        for (const CorePrcs::SETTINGKEY& row : CorePrcs::settingKeys()) {
            if (what != row.key) continue;
            if (row.text) return (e.*row.text).c_str();
            if (row.flag) return flag(e.*row.flag);
            if (row.shortValue) return std::to_string(e.*row.shortValue);
            if (row.intValue) return std::to_string(e.*row.intValue);
            return CoreAnsx(e.*row.doubleValue).c_str();
        }
        return text;
    }

    // Sizes and ring indices, in samples.
    struct Rings {
        int32_t dsp, work, latency, room, forced, compensation, reported, inpos, readpos, outpos, outread,
            passwrite, drydelay, hostdim;
        int32_t readmark = 0, pending = 0;
        bool operator==(const Rings&) const = default;
    };
    static Rings rings(const CorePrcs& e) {
        return {e.dspdim,           e.workdim, e.readbase, e.leaddim, e.offsetdim, e.iDelaycompensation,
                e.iReportedlatency, e.inpos,   e.readpos,  e.outpos,  e.iOutread,  e.iPasswrite,
                e.iDrydelay,        e.hostdim, e.readmark, e.iPending};
    }
    static int32_t& outputRead(CorePrcs& e) { return e.iOutread; }

    // The worker rule's inputs besides the settings, and its outputs.
    static bool& pinWorker(CorePrcs& e) { return e.pinworker; }
    static bool& useWorker(CorePrcs& e) { return e.useworker; }
    static int32_t& blockStep(CorePrcs& e) { return e.blockdim; }
    static int32_t workBlock(const CorePrcs& e) { return e.activedim; }
    static int32_t hostBlock(const CorePrcs& e) { return e.hostdim; }

    static int32_t reportedLatency(const CorePrcs& e) { return e.iReportedlatency; }
    static int32_t delayCompensation(const CorePrcs& e) { return e.iDelaycompensation; }
    static int16_t& smooth(CorePrcs& e) { return e.iSmooth; }
    static int16_t& hdim(CorePrcs& e) { return e.iHdim; }
    static int16_t harmonicsInUse(const CorePrcs& e) { return e.hdimused; }
    static bool& programReady(CorePrcs& e) { return e.bProgramready; }
    static bool& secondKernels(CorePrcs& e) { return e.bSecondkernels; }
    static bool& hybrid(CorePrcs& e) { return e.bHybrid; }
    static int16_t stepIndex(const CorePrcs& e) { return e.iStepindex; }
    static bool mainFadeIsA(const CorePrcs& e) { return e.pMainfade == e.pFadeA && e.pAlternatefade == e.pFadeB; }
    static const double* fadeA(const CorePrcs& e) { return e.pFadeA; }
    static int32_t fadeCapacity(const CorePrcs& e) { return e.iFadecapacity; }
    static void dropFades(CorePrcs& e) { e.delsf(); } // gives both fade tables back to the pool
    // Periods in samples: current, normal, offline; the effective and requested periods in µs.
    struct Periods {
        int32_t current, normal, offline, effective, requested;
        bool operator==(const Periods&) const = default;
    };
    static Periods periods(const CorePrcs& e) {
        return {e.iPeriod, e.iNormalperiod, e.iOfflineperiod, e.activerate, e.iRequestedperiod};
    }
    static std::atomic<bool>& rateChanged(CorePrcs& e) { return e.bRatechanged; }
    static int16_t& lastLevel(CorePrcs& e) { return e.iLastlevel; }
    static int32_t& exportQuality(CorePrcs& e) { return e.iExportaudioquality; }
    static int32_t sampleRate(const CorePrcs& e) { return e.samplerate; }
    static double& protectionLevel(CorePrcs& e) { return e.dProtectionlevel; }
    static bool clipPause(const CorePrcs& e) { return e.bClippause; }
    static bool& feedbackOn(CorePrcs& e) { return e.bFeedbackon; }
    static double& feedbackGain(CorePrcs& e) { return e.dFeedbackgain; }
    static int32_t& countdown(CorePrcs& e) { return e.iCountdown; }
    static bool& dryOn(CorePrcs& e) { return e.bDryon; }
    static double& dryGain(CorePrcs& e) { return e.dDrygain; }
    static int32_t& dryDelay(CorePrcs& e) { return e.iDrydelay; }
    static int32_t& lookaheadOffset(CorePrcs& e) { return e.iLookaheadoffset; }
    static CoreSmph& passLock(CorePrcs& e) { return e.passlock; }
    static double passGain(const CorePrcs& e) { return e.dPassgain; }
    static bool busyMirror(const CorePrcs& e) { return e.oBusymirror.getvl(); }
    // Every sample of the rings and the feedback memory is a normal number or zero.
    static bool noSubnormals(const CorePrcs& e) {
        for (int c = 0; c < 2; ++c) {
            for (const double* ring : {e.inring[c], e.outring[c], e.passring[c]})
                for (int32_t i = 0; i < e.workdim; ++i)
                    if (std::fpclassify(ring[i]) == FP_SUBNORMAL) return false;
            for (int32_t i = 0; i < e.dspdim; ++i)
                if (std::fpclassify(e.feedbackbuf[c][i]) == FP_SUBNORMAL) return false;
        }
        return true;
    }
    static double inputRing(const CorePrcs& e, int c, int32_t i) { return e.inring[c][i & e.worklast]; }
    static int32_t inputWrite(const CorePrcs& e) { return e.inpos; }
    // The next unprocessed input sample at offset i, as the host entry would have stored it.
    static void writeInput(CorePrcs& e, int32_t i, double left, double right) {
        e.inring[0][(e.readpos + i) & e.worklast] = left;
        e.inring[1][(e.readpos + i) & e.worklast] = right;
    }
    // One block request of count samples from the block position, as the host entry hands it over;
    // returns the output the block processor left there.
    static std::vector<double> runBlock(CorePrcs& e, int32_t count, double outputGain, double controlGain) {
        e.oRequest = {e.outpos, count, e.iPeriod, outputGain, controlGain, e.iDrydelay, e.bRatechanged, e.tempo};
        const int32_t start = e.outpos;
        e.readpos = (e.readpos + count) & e.worklast;
        e.prcss();
        std::vector<double> out;
        for (int32_t i = 0; i < count; ++i) {
            out.push_back(e.outring[0][(start + i) & e.worklast]);
            out.push_back(e.outring[1][(start + i) & e.worklast]);
        }
        return out;
    }
    // Raises the kernel-changed flag of every record, as a write of every pair would.
    static void raiseKernelFlags(CorePrcs& e) {
        for (int16_t h = 0; h <= e.hdimmax; ++h)
            if (bool* changed = e.program->getui(h)) *changed = true;
        if (bool* changed = e.program->getus()) *changed = true;
    }
    static CoreDcry* dictionary(const CorePrcs& e) { return e.pDictionary; }
    static CorePrcs::CONVOLVERLOC* records(const CorePrcs& e) { return e.convtab; }
    static CoreProg& program(const CorePrcs& e) { return *e.program; }
    static CoreMidi& midi(const CorePrcs& e) { return *e.midi; }
    static CoreEnvf& follower(const CorePrcs& e, int i) { return *e.followers[i]; }
    static CoreSmph& engineLock(CorePrcs& e) { return e.enginelock; }
    static CoreSmph& beanLock(CorePrcs& e) { return e.beanlock; }
    // A getter case's switch alone, without the rules and locks of the public bean functions.
    static double getterSwitch(CorePrcs& e, char type, int32_t id, int32_t index, int32_t subindex) {
        switch (type) {
        case 'b': return e.getbbCase(id, index, subindex);
        case 'h': return e.getbhCase(id, index, subindex);
        case 'i': return e.getbiCase(id, index, subindex);
        case 'l': return e.getblCase(id, index, subindex);
        default: return e.getbdCase(id, index, subindex);
        }
    }
    // The settings document as the writer would leave it (chgms), in the file's layout.
    static std::string settingsDocument(CorePrcs& e) {
        if (!e.pSettingsdoc) return "";
        e.chgms();
        return e.pSettingsdoc->settc(true, false).c_str();
    }
    static CoreSmph& blockLock(CorePrcs& e) { return e.blocklock; }
    // One command through the private runner, as the configuration posts it (the engine locks held);
    // answers the plan failed flag it left.
    static bool post(CorePrcs& e, int16_t code, int16_t index) {
        CorePrcs::EngineGuard locks(e);
        e.runCommand(code, index);
        return e.bPlanfailed;
    }
    // Forced takes over every lock of the engine.
    static int lockErrors(CorePrcs& e) {
        int errors = 0;
        for (const CoreSmph* lock : {&e.beanlock, &e.bootlock, &e.savelock, &e.settingslock, &e.enginelock,
                                     &e.blocklock, &e.passlock, &e.ringlock, &e.fadelock, &e.outlock, &e.recordlock})
            errors += lock->geter();
        return errors;
    }
    static CorePmsg& statusBoard(CorePrcs& e) { return *e.pStatusboard; }
    // Engine fields the settings keys and the accessors above do not reach, as text (flags "1"/"0",
    // doubles "%G"); "" for a name not listed.
    static std::string field(CorePrcs& e, const std::string& name) {
        const auto n = [](int64_t v) { return std::to_string(v); };
        if (name == "hasworker") return n(e.hasworker);
        if (name == "tempo") return CoreAnsx(e.tempo.load()).c_str();
        if (name == "dspdim") return n(e.dspdim);
        if (name == "workdim") return n(e.workdim);
        if (name == "poolused") return n(e.pool->getma());
        if (name == "poolmax") return n(e.pool->getxa());
        if (name == "midilearn") return n(e.bMidilearn);
        if (name == "midi")
            return n(e.iMidistatus) + "/" + n(e.iMidicontroller) + "/" + n(e.iMidichannel) + "/" + n(e.iMidivalue);
        if (name == "queries") return n(static_cast<int64_t>(e.oQueryresult.size()));
        if (name == "statusrows") return n(e.pStatusboard->getrw());
        if (name == "statusrow0") return e.pStatusboard->getrw(0).c_str();
        if (name == "batchkey") return e.sBatchkey.c_str();
        if (name == "batchitem") return e.pBatchvars->getit(e.sBatchkey).c_str();
        if (name == "description") return e.sDescriptionpath.c_str();
        if (name == "query") return std::string(e.sQueryfolder.c_str()) + "|" + e.sQuerypattern.c_str();
        if (name == "gpustatus") return e.sGpustatus.c_str();
        if (name == "quadactive") return n(e.quadactive.load());
        if (name == "bypassrequest") return n(e.bypassrequest.getvl());
        if (name == "programrate") return n(e.iProgramrate);
        if (name == "saveddsp") return n(e.iSaveddspbuffer);
        if (name == "focus") return n(e.iFocus);
        if (name == "nosleep") return n(e.bNosleep);
        if (name == "requestedrate") return n(e.iRequestedrate);
        return "";
    }
    // What the host entry does first on its normal path, under the engine lock it holds.
    static bool startBlock(CorePrcs& e) {
        CoreSgrd engine(e.enginelock);
        return e.clearDeferred();
    }
    static bool clearPending(const CorePrcs& e) { return e.clearPending; }
    static constexpr int64_t ringClearBudget = CorePrcs::ringClearBudget;
    static CorePbol& busy(CorePrcs& e) { return e.busy; }
    static CorePbol& clip(CorePrcs& e) { return e.clipflag; }
    static std::atomic<double>& clipTime(CorePrcs& e) { return e.cliptime; }
    static bool clipShown(const CorePrcs& e) { return e.clipshown; }
    static std::atomic<bool>& meterFlag(CorePrcs& e) { return e.meterflag; }
    static std::atomic<bool>& stateChanged(CorePrcs& e) { return e.statechanged; }
    static std::atomic<bool>& paramsUpdated(CorePrcs& e) { return e.paramsupdated; }
    static int16_t led(const CorePrcs& e, int i) { return e.controlleds[i]; }
    static double meterShown(const CorePrcs& e, int i) { return e.meterdbshown[i]; }
    static double& loadFigure(CorePrcs& e) { return e.loadfig[0]; }
    static std::atomic<int32_t>& lastTail(CorePrcs& e) { return e.iLasttail; }
    static int32_t bootHostSize(const CorePrcs& e) { return e.iBoothostdim; }
    static std::atomic<int32_t>& currentSlot(CorePrcs& e) { return e.currentslot; }
    static bool loadFallback(const CorePrcs& e) { return e.loadfallback; }
    static int16_t directMode(const CorePrcs& e) { return e.iOtimed; }
    static int16_t fftMode(const CorePrcs& e) { return e.iOfreqd; }
    static int32_t largestGranule(const CorePrcs& e) { return e.iLargestgranule; }
    static bool anyRefused(const CorePrcs& e) { return e.bAnyrefused; }
    static bool allUntimed(const CorePrcs& e) { return e.bAlluntimed; }
    static bool anyGpu(const CorePrcs& e) { return e.pinworker; }
    static int32_t offsetSlots(const CorePrcs& e) { return e.offsetdim; }
    static int32_t updatePeriod(const CorePrcs& e) { return e.iRequestedperiod; }
    static CorePrcs::PLANLOC* planSlots(const CorePrcs& e) { return e.pPlans; }
    static int16_t lastRecord(const CorePrcs& e) { return e.hdimmax; }
    static bool ownRate(const CorePrcs& e) { return e.ownrate; }
    static bool& quadWanted(CorePrcs& e) { return e.quadwanted; }
    static double* const* quadRing(CorePrcs& e) { return e.quadring; }

    // ---- boot and host chunk
    static std::atomic<bool>& engineFailed(CorePrcs& e) { return e.engineFailed; }
    static CoreSmph& bootLock(CorePrcs& e) { return e.bootlock; }
    static CoreSmph& saveLock(CorePrcs& e) { return e.savelock; }
    static int16_t bootStep(const CorePrcs& e) { return e.iBootstep; }
    static CoreXml_* programDocument(const CorePrcs& e) { return e.programdoc; }
    static int32_t chunkCapacity(const CorePrcs& e) { return e.iChunkdim; }
    // The program's own update period as the rate beans leave it: on at us, or off.
    static void setOwnRate(CorePrcs& e, bool on, int32_t us) {
        e.ownrate = on;
        e.activerate = us;
    }

    // Every sample of the input, output and pass-through rings, with all also the work, scratch and
    // feedback buffers.
    static bool ringsHold(const CorePrcs& e, double value, bool all) {
        for (int c = 0; c < 2; ++c) {
            for (const double* ring : {e.inring[c], e.outring[c], e.passring[c]})
                for (int32_t i = 0; i < e.workdim; ++i)
                    if (ring[i] != value) return false;
            for (const double* buffer : {e.blockbuf[c], e.scratchbuf[c], e.feedbackbuf[c]})
                for (int32_t i = 0; all && i < e.dspdim; ++i)
                    if (buffer[i] != value) return false;
        }
        return true;
    }
    // Samples of the input, output and pass-through rings that differ from value.
    static int64_t ringSamplesOtherThan(const CorePrcs& e, double value) {
        int64_t count = 0;
        for (int c = 0; c < 2; ++c)
            for (const double* ring : {e.inring[c], e.outring[c], e.passring[c]})
                count += e.workdim - std::count(ring, ring + e.workdim, value);
        return count;
    }
    static void fillRings(CorePrcs& e, double value) {
        for (int c = 0; c < 2; ++c)
            for (double* ring : {e.inring[c], e.outring[c], e.passring[c]})
                std::fill(ring, ring + e.workdim, value);
    }
};
