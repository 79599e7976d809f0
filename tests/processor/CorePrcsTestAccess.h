// CorePrcsTestAccess: the engine's one friend for tests. Reads fields no accessor offers, puts an
// engine into the booted state, and builds the engines the tests share in a temporary plug-in
// folder. Tests only.
#pragma once
#include "base/CorePool.h"
#include "processor/CorePrcs.h"
#include "tests/common/TempFolder.h"

#include <cstring>
#include <memory>
#include <string>

class CorePrcsTestAccess {
public:
    // As the boot's last step leaves it: gate open, no pass-through.
    static void boot(CorePrcs& e) {
        e.busy.setvl(false);
        e.passthru.setvl(false);
    }

    // A settings key's value as read, through the reader's own key table: flags "1"/"0", numbers in
    // decimal ("%G" for doubles). Also a few flags by name.
    static std::string setting(CorePrcs& e, const std::string& key) {
        if (key == "firstboot") return e.bFirstboot ? "1" : "0";
        if (key == "dspbufferabsent") return e.bDspbufferabsent ? "1" : "0";
        if (key == "otimedabsent") return e.bOtimedabsent ? "1" : "0";
        for (const CorePrcs::SETTINGKEY& row : CorePrcs::settingKeys()) {
            if (key != row.key) continue;
            if (row.text) return (e.*row.text).c_str();
            if (row.flag) return e.*row.flag ? "1" : "0";
            if (row.shortValue) return std::to_string(e.*row.shortValue);
            if (row.intValue) return std::to_string(e.*row.intValue);
            return CoreAnsx(e.*row.doubleValue).c_str();
        }
        return "?";
    }

    // Sizes and ring positions, in samples.
    struct Layout {
        int32_t dsp, work, latency, room, forced, compensation, reported, inpos, readpos, outpos, outread,
            passwrite, drydelay, hostdim;
        bool worker;
        bool operator==(const Layout&) const = default;
    };
    static Layout layout(const CorePrcs& e) {
        return {e.dspdim,  e.workdim, e.readbase,  e.iLookaheadroom, e.iForceoffsetsamples, e.iDelaycompensation,
                e.iReportedlatency, e.inpos, e.readpos, e.outpos, e.iOutread, e.iPasswrite, e.iDrydelay,
                e.hostdim, e.hasworker};
    }

    static CoreAnsx dataPath(const CorePrcs& e) { return e.sDatapath; }
    static CoreAnsx tempRepository(const CorePrcs& e) { return e.sTemprepository; }
    static CoreAnsx skin(const CorePrcs& e) { return e.sSkininuse; }
    static const std::vector<CoreAnsx>& alternatives(const CorePrcs& e) { return e.oAlternatives; }
    static bool masterFound(const CorePrcs& e) { return e.bMasterfound; }
    static bool installerMerged(const CorePrcs& e) { return e.bInstallermerged; }
    static int16_t meterType(const CorePrcs& e) { return e.metertype; }
    static int records(const CorePrcs& e) { return e.hdimmax + 1; }
    static CoreCnvl* convolver(const CorePrcs& e, int h) { return e.convtab[h].convolver; }
    static CoreProg* program(const CorePrcs& e) { return e.program; }
    static CoreMidi* midi(const CorePrcs& e) { return e.midi; }
    static CoreDcry* dictionary(const CorePrcs& e) { return e.pDictionary; }
    static CoreEnvf* follower(const CorePrcs& e, int i) { return e.followers[i]; }
    static CoreSmph& engineLock(CorePrcs& e) { return e.enginelock; }
    static CoreSmph& blockLock(CorePrcs& e) { return e.blocklock; }
    static CorePbol& busy(CorePrcs& e) { return e.busy; }
    static CorePbol& clip(CorePrcs& e) { return e.clipflag; }
    static std::atomic<double>& clipTime(CorePrcs& e) { return e.cliptime; }
    static bool clipShown(const CorePrcs& e) { return e.clipshown.load(); }
    static std::atomic<bool>& meterFlag(CorePrcs& e) { return e.meterflag; }
    static std::atomic<bool>& stateChanged(CorePrcs& e) { return e.statechanged; }
    static std::atomic<bool>& paramsUpdated(CorePrcs& e) { return e.paramsupdated; }
    static int16_t led(const CorePrcs& e, int i) { return e.controlleds[i].load(); }
    static double meterShown(const CorePrcs& e, int i) { return e.meterdbshown[i].load(); }
    static double& loadFigure(CorePrcs& e, int i) { return e.loadfig[i]; }
    static std::atomic<int32_t>& lastTail(CorePrcs& e) { return e.iLasttail; }
    static int32_t bootHostSize(const CorePrcs& e) { return e.iBoothostdim.load(); }
    static int32_t& currentSlot(CorePrcs& e) { return e.currentslot; }
    static bool& quadWanted(CorePrcs& e) { return e.quadwanted; }
    static double* const* quadRing(CorePrcs& e) { return e.quadring; }

    // The worker rule's inputs and outputs.
    struct Worker {
        bool pin, has, autothread;
        int32_t block, host, threadsmin;
        bool use;
        int32_t active = 0;
    };
    static void setWorker(CorePrcs& e, const Worker& w) {
        e.pinworker = w.pin;
        e.hasworker = w.has;
        e.autothread = w.autothread;
        e.blockdim = w.block;
        e.hostdim = w.host;
        e.threadsmindim = w.threadsmin;
        e.useworker = w.use;
    }
    static Worker worker(const CorePrcs& e) {
        return {e.pinworker, e.hasworker, e.autothread, e.blockdim, e.hostdim, e.threadsmindim, e.useworker,
                e.activedim};
    }

    // The ring indices and the values the layout keeps.
    struct Rings {
        int32_t inpos, readpos, readmark, outpos, outread, pending, offset, lead, length, base;
    };
    static Rings rings(const CorePrcs& e) {
        return {e.inpos, e.readpos, e.readmark, e.outpos, e.iOutread, e.iPending, e.offsetdim, e.leaddim, e.workdim,
                e.readbase};
    }
    static void setBlockStep(CorePrcs& e, int32_t step) { e.blockdim = step; }
    static void setOutputRead(CorePrcs& e, int32_t index) { e.iOutread = index; }
    // Every sample of the input, output and pass-through rings, and with all of the work, scratch
    // and feedback buffers too.
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
    static void fillRings(CorePrcs& e, double value) {
        for (int c = 0; c < 2; ++c)
            for (double* ring : {e.inring[c], e.outring[c], e.passring[c]})
                for (int32_t i = 0; i < e.workdim; ++i) ring[i] = value;
    }
};

// Fixture base: a temporary plug-in folder per test, a pool whose fresh blocks hold garbage (so a
// buffer that is used unzeroed shows), and engines built in it from MASTER settings text.
class EngineFolderTest : public TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        pool.allocator = [](size_t bytes) {
            void* block = std::aligned_alloc(CorePool::iCalignment, bytes);
            if (block) std::memset(block, 0xA5, bytes);
            return block;
        };
        pool.release = [](void* block) { std::free(block); };
    }

    std::string folder() const { return root.string() + "/"; }
    // settings: the elements inside MASTER; "0" reads the file beside the plug-in instead.
    std::unique_ptr<CorePrcs> make(const std::string& settings, int32_t rate = 48000, CoreFsys* store = nullptr,
                                   const char* bundle = "0", CoreBlnk* blink = nullptr) {
        const std::string text = settings == "0" ? "0" : "<MASTER>" + settings + "</MASTER>";
        return std::make_unique<CorePrcs>(&pool, CoreAnsx(folder().c_str()), rate, blink, CoreAnsx(bundle), false, false,
                                          store, CoreAnsx(text.c_str()), false, nullptr);
    }

    CorePool pool;
};
