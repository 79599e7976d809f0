// CorePrcs: the engine of one plug-in instance. Reads the master settings, sizes and owns the rings,
// the convolvers, the program, the program memory and the dictionary, and keeps the state, meters
// and control values that the host entry, the block processor, the loaders and the beans share.
// Built and destroyed by the master object. Many threads enter it (host audio and event threads,
// its own worker thread when THREADS is above 0, control, display, loaders). Lock order: beanlock → bootlock → savelock → settingslock →
// enginelock → blocklock → passlock → ringlock → the program memory's lock; fadelock and outlock are
// innermost. Code that must not wait tries a lock once and falls back; the engine pair is taken through
// EngineGuard.
#pragma once
#include "base/CoreAnsx.h"
#include "base/CorePbol.h"
#include "base/CoreSgrd.h"
#include "base/CoreSmph.h"
#include "base/CoreTevn.h"
#include "base/CoreTthr.h"
#include "modulation/CoreMidi.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class CoreBlnk;
class CoreCnvl;
class CoreCubr;
class CoreDcry;
class CoreEnvf;
class CoreFsys;
class CoreMmry;
class CoreNode;
class CorePlel;
class CorePmsg;
class CorePool;
class CorePrm_;
class CoreProg;
class CoreTime;
class CoreVars;
class CoreXml_;
class DataGfun;
class DataSrce;

class CorePrcs : public CoreTthr {
public:
    // The index record of a bean call, on the caller's stack; null for ids that read neither field.
    struct BEANSTRUCT {
        int32_t index;
        int32_t subindex;
    };

    static constexpr char sCmstrfilenme[] = "VORLAN2.XML"; // settings file name without a bundle name
    static constexpr char sCinstallerxml[] = "_installer"; // inserted before the settings file's extension
    static constexpr char sCemptyxml[] = "NOCHUNK";        // the host chunk of an empty state
    static constexpr char sCinitprogram[] = "Init Program";
    static constexpr char sCinitfilenme[] = "INIT.XML";
    static constexpr char sCmutexintrface[] = "VORLAN_INTRFACE";
    // Folder name of the temporary repository (program loading and export) below the data path.
    static constexpr char sCtemprepository[] = "VorlanTempRepository/";
    static constexpr double dCprotectiondb = 24.0;
    static constexpr int32_t iCurefreshoverflow = 1000000; // µs
    static constexpr int32_t iCmindelaydim = 512;          // DSP buffer bounds chosen at first boot
    static constexpr int32_t iCmaxdelaydim = 8192;
    static constexpr int32_t iCmaxdspbuffer = 65536;    // largest DSP buffer a settings file may ask
    static constexpr int64_t iCmaxworkbuffer = 1 << 24; // longest ring, samples
    static constexpr double dCdenormalthreshold = 1e-300;
    static constexpr int32_t iCmemoryrequirements = 20971520;
    static constexpr int32_t iCdelaybypassswitch = 200; // ms
    static constexpr int32_t iCmswatchdog = 2000;       // ms before a teardown wait is logged
    static constexpr int16_t iCmetertypes = 10;         // meter types 0..9 (9: off)

    // Arguments in the master object's order. pluginFolder ends with '/'; bundleName and
    // settingsText "0" mean none (settingsText replaces the file). Never throws: a failure leaves
    // the engine failed (isfailed), with whatever was built freed by the destructor.
    CorePrcs(CorePool* pool, CoreAnsx pluginFolder, int32_t sampleRate, CoreBlnk* blink, CoreAnsx bundleName,
             bool noMetadataCache, bool keepLogSettings, CoreFsys* masterStore, CoreAnsx settingsText,
             bool storeFlag, CorePlel* registry);
    ~CorePrcs() override;
    CorePrcs(const CorePrcs&) = delete;
    CorePrcs& operator=(const CorePrcs&) = delete;

    bool isfailed() const { return engineFailed.load(std::memory_order_relaxed); }

    // Takes enginelock, then blocklock (waiting for the worker's done event, never forcing it), and
    // releases them in reverse, also when a throw leaves the scope. The try form makes one attempt at each (blocklock only once enginelock is held) and
    // holds nothing unless taken() is true.
    class EngineGuard {
    public:
        explicit EngineGuard(CorePrcs& engine);
        EngineGuard(CorePrcs& engine, CoreSgrd::TRYONCE);
        ~EngineGuard();
        EngineGuard(const EngineGuard&) = delete;
        EngineGuard& operator=(const EngineGuard&) = delete;
        bool taken() const { return oEngine.taken() && bBlock; }

    private:
        CoreSgrd oEngine;
        CoreSmph& oBlocklock;
        bool bBlock = false; // blocklock held; released first
    };

    // ---- accessors and forwards -------------------------------------------------------------------
    CoreMmry* getmm() const { return memory; }
    CoreFsys* getfs() const { return files; }
    int32_t getrc() const { return activerate; }
    bool getpc() { return meterflag.exchange(false); }
    bool getby() const { return passthru.getvl(); }
    void setby(bool on) { setPassThrough(on); }
    int32_t getfl(int16_t which) const; // 0 LTIMED, 1 LFREQD; other selectors read 0
    void setfl(int16_t which, int32_t value);
    static int16_t gettp(int16_t priority); // 0, 2, 3, 4 kept, anything else 1
    static bool iscst() { return false; }
    static CoreAnsx getsd() { return CoreAnsx("0"); }
    void print() const; // "outpos, readpos, inpos" on standard output
    CorePrm_* getpm(int16_t i) const;
    void setpm(int16_t i, CorePrm_* parameter);
    DataGfun* getgf() const;
    DataSrce* getsr() const;
    void setvr();
    void setrc(int32_t us); // below 0: applies the stored limit again
    bool isbev(int16_t mode) const;
    // lockp takes enginelock, then blocklock, waiting as long as needed; rlsep releases both in
    // reverse. Each lockp is paired with one rlsep by its caller; a second caller waits in lockp.
    void lockp();
    void rlsep();

    // ---- state -------------------------------------------------------------------------------------
    void adjml();
    void blksz(int32_t n);
    void setpo(int32_t n);
    void setpp();
    int16_t getpf(int32_t i);
    int32_t getts();
    void cleck();
    void allcq(); // may throw the pool's CoreAnsx; the state then stays as it was
    void dealq();
    void delsf();
    void cleby();
    void clepr(bool convolvers); // the caller holds enginelock and blocklock; true also ends a left clear
    // Never waits, as the host's audio thread calls it too: with both engine locks free at the first try
    // it clears the rings and the convolvers, but only the first ringClearBudget doubles of the rings
    // when they hold more, and nothing while the pass-through lock is busy; the rest is left to the
    // next blocks (clearDeferred).
    void clean();
    CoreAnsx getnp() const;
    void setpf(const CoreAnsx& path);

    // ---- meters and indicators ---------------------------------------------------------------------
    bool setmt(int16_t type, bool force); // false for a type outside 0..9, which changes nothing
    bool updld();

    // ---- control values ----------------------------------------------------------------------------
    void setiv(int16_t i, double v, bool normal);
    void mdupd(CoreMidi::MIDISLIDERCALLBACKINFO* info);
    void mdctr(int32_t delay, int32_t packed);
    void mdctr(int32_t delay, int32_t b0, int32_t b1, int32_t b2, int32_t b3);
    void setms(int16_t slot, int32_t status, int32_t controller);
    void updpm();
    double getsc(const CoreAnsx& name) const;

    // ---- audio road (processor/CorePrcsHost.cpp) ----------------------------------------------------
    // The host's entry for every block: in and out are channel arrays of float or double samples (by
    // doublePrecision), frames samples each; level is the host's process level (4 offline), tempo its
    // tempo in BPM (not above 0: none), channels 4 when the side-chain inputs are connected. Below
    // level 4 never waits for a loader: a busy engine lock makes the call play the pass-through path (a
    // lock miss); offline it waits for the lock and for a LoadPhase.
    void prcss(void** in, void** out, int32_t frames, bool replacing, int16_t level, double tempo,
               bool doublePrecision, int16_t channels);
    // Enters (on) or leaves the pass-through state; loaders enter it before they take the engine lock.
    void smpby(bool on, int32_t timeout, bool clearPrograms, bool mute);
    // Held by a loader from before it enters the pass-through state until after it has left it (also
    // when it leaves the engine in pass-through). An offline host call (level 4) that finds the engine
    // in pass-through while a loader holds one waits for the loader instead of playing the pass-through
    // path, so an offline render never depends on when a load ran. Pass-through entered without one
    // (bypass, boot, teardown) plays the pass-through path at every level.
    class LoadPhase {
    public:
        explicit LoadPhase(CorePrcs& engine) : oEngine(engine) { oEngine.loadphases.fetch_add(1); }
        ~LoadPhase() { oEngine.loadphases.fetch_sub(1); }
        LoadPhase(const LoadPhase&) = delete;
        LoadPhase& operator=(const LoadPhase&) = delete;

    private:
        CorePrcs& oEngine;
    };
    // enginelock, then blocklock; once timeout ms have passed logs one line and keeps waiting.
    void lockp(int32_t timeout);
    void unbts();
    // Host calls that played the pass-through path because a short holder kept the engine lock.
    uint64_t lockMisses() const { return lockmisses.load(); }
    // Test seam: called on the taking thread wherever both engine locks have just been taken.
    void setStallHookForTest(std::function<void()> hook) { stallhook = std::move(hook); }

    // ---- worker thread (processor/CorePrcsWorker.cpp) ------------------------------------------------------
    // The worker runs one command at a time: the poster holds blocklock, stores the command, signals
    // the command event; the worker carries the command out, releases blocklock and signals the done
    // event. Commands: 0 the block request, 1 plan_, 2 delpl, 3 delpc, 4 planc, 5 bridge stop, others
    // nothing.
    void Execute() override;
    void Terminate() override; // also wakes the loop
    // Test seams: a call on the thread that carries out each command, before it (it may record, wait
    // or throw); the host entry's call while it holds enginelock; the time after which a wait for the
    // worker logs its line.
    void setCommandHookForTest(std::function<void(int16_t code)> hook) { commandhook = std::move(hook); }
    void setHostHookForTest(std::function<void()> hook) { hosthook = std::move(hook); }
    void setWatchdogForTest(int32_t ms) { iWatchdogms = ms; }
    bool workerRunning() const { return workerlive; }

    // ---- block processor and crossfade (processor/CorePrcsBlock.cpp) -----------------------------------
    void prcss(); // the current block request; the caller holds enginelock (or blocklock for the worker)
    // Builds the fade pair for period samples; grows the tables first (pool; may throw, leaving tables
    // and SMOOTH as they were).
    void mkesf(int32_t period);
    bool setst(int16_t smooth);
    void setsp(int16_t step);
    void adjhc();

    // ---- update rates and kernel figures (processor/CorePrcsRates.cpp) ---------------------------------
    // The caller holds the engine locks. A pool failure growing the fade tables throws and leaves every
    // period as it was.
    void adjrt(int32_t us);
    void updrt(int32_t us);
    void irate(int32_t rate);
    void updgu(int32_t rate);
    void adjot();
    void setmc(int32_t control, int32_t steps);
    double getmo(int16_t h);
    double getco(int16_t h);
    double getod(int16_t h, int16_t stage);
    double getib(int16_t h, int16_t channel, bool flag);
    bool getoe(int16_t h, int16_t which);
    void setco(int16_t h, double us);

    // ---- convolver configuration (processor/CorePrcsConfigure.cpp) ---------------------------------
    // The caller of setcf, setcd, setck and adjoc holds enginelock and blocklock; setop, setof and
    // setod take them themselves, entering pass-through first and restoring its state on every exit.
    void setcf(int16_t h);
    int32_t setcf(int16_t h, int16_t mode, int32_t a, int32_t b, int32_t c, int32_t d, int32_t e);
    void* setcd(int16_t h, void* common, int16_t role, int32_t length);
    bool setck();
    bool adjoc(int16_t mode, int32_t size);
    bool adjop(int16_t mode);
    bool setop(int16_t mode);
    bool setof(int16_t mode);
    void setod(int16_t h, int16_t which, double us);
    // Times the direct kernel modes on record 0 and keeps the fastest; takes the engine locks itself.
    void cnfop();
    // Test seams: the clock cnfop reads (milliseconds), and a fault that makes a plan command of the
    // given kernel mode fail as a refused plan would.
    void setClockForTest(std::function<double()> clock) { clockhook = std::move(clock); }
    void setPlanFaultForTest(std::function<bool(int16_t mode)> fault) { planfault = std::move(fault); }
    // Test seam: told after each timed mode the test kernel's taps and the samples convolved with it.
    void setTimingProbeForTest(std::function<void(int16_t mode, int32_t taps, int64_t samples)> probe) {
        timingprobe = std::move(probe);
    }

    // ---- program loading (processor/CorePrcsLoad.cpp) -------------------------------------------------
    // Loads slot 0 .. 9999 (any other number reads as an empty slot), falling back to slot 0. An error
    // reading slot 0 is thrown; every lock is free and the pass-through state restored on every exit.
    bool ldpdm(int32_t slot, bool keepBusy);
    int32_t setpg(int32_t slot, bool keepBusy);
    void adjif();
    int32_t getls() const { return loadedslot; } // -1 while a read runs or after a failed one

    // ---- beans (processor/CorePrcsBeans.cpp, CorePrcsTextBeans.cpp) -----------------------------------
    // The numbered values the shell, the control thread and the display read and change. Every call
    // checks its case in DataBean first (unserved, failed, booting, index out of its domain: the zero
    // value or no effect), takes beanlock unless the case is exempt (the audio thread's and the tick's
    // cases never wait), and catches every error: it is logged and the call answers its default.
    bool getbb(int32_t id, BEANSTRUCT* b);
    int16_t getbh(int32_t id, BEANSTRUCT* b);
    int32_t getbi(int32_t id, BEANSTRUCT* b);
    int32_t getbl(int32_t id, BEANSTRUCT* b);
    double getbd(int32_t id, BEANSTRUCT* b);
    CoreAnsx getbs(int32_t id, BEANSTRUCT* b);
    void setbb(int32_t id, bool value, BEANSTRUCT* b);
    void setbh(int32_t id, int16_t value, BEANSTRUCT* b);
    void setbi(int32_t id, int32_t value, BEANSTRUCT* b);
    void setbl(int32_t id, int32_t value, BEANSTRUCT* b);
    void setbd(int32_t id, double value, BEANSTRUCT* b);
    void setbs(int32_t id, CoreAnsx value, BEANSTRUCT* b);
    void setbv(int32_t id, BEANSTRUCT* b);

    // One setter or action call as the bean trace reports it, before the call acts. uses says which
    // fields of the index record the case reads: 0 none, 1 the index, 2 index and subindex (the
    // unread fields are 0). value holds a numeric setter's value, text the text setter's.
    struct BEANCALL {
        const char* function;
        int32_t id;
        int16_t uses;
        int32_t index;
        int32_t subindex;
        double value;
        CoreAnsx text;
    };
    // Test seam: every setter and setbv reports to trace first. Unset in production; set or cleared
    // only while no other thread calls beans.
    void setBeanTrace(std::function<void(const BEANCALL&)> trace) { beantrace = std::move(trace); }

    // ---- master settings writer (processor/CorePrcsSettingsWriter.cpp) --------------------------------
    // chgms brings the keys the engine changes at run time into the settings document; savem does that
    // and writes the file. Both hold settingslock; callers hold beanlock (bean 79, the boot). savem
    // writes nothing when the settings were not read from a file with a MASTER element, and answers
    // whether the file was written (a failed write leaves the old file whole).
    void chgms();
    bool savem();

    // ---- boot (processor/CorePrcsBoot.cpp) --------------------------------------------------------------
    // What the boot beans report: the last boots call made through bootb.
    struct BOOTRECORD {
        int32_t step = 0;
        CoreAnsx text = "";
        bool first = false;
        bool last = false;
        bool result = false;
    };
    // Runs the next boot step, or every remaining one with runAll, on the calling thread. False once
    // the boot failed or the engine failed; step, text, first and last describe the step run last.
    bool boots(bool runAll, int32_t& step, CoreAnsx& text, bool& first, bool& last);
    bool fboot(); // every remaining step; true while the boot is still pending afterwards (it failed)
    bool bootb(bool runAll); // boots into the boot record
    BOOTRECORD getbt() const;
    // The boot found settings the file lacked; the settings writer saves them and clears this.
    bool savedue() const { return bSavedue.load(); }
    void clrdue() { bSavedue.store(false); }

    // ---- batch stepper (processor/CorePrcsBatch.cpp) ------------------------------------------------------
    // Runs the step that NEXTSTEP of vars names and writes the next step's name back; true once the
    // batch has finished (no step named, or a null store), which leaves pass-through and clears the
    // rings and convolvers. ordinal is the step's place in its chain (0 when finishing), message its
    // status text. No engine lock is held between calls. While booting or failed nothing runs (true).
    bool batch(CoreVars* vars, int& ordinal, CoreAnsx& message);
    struct BATCHSTEP; // one row of the step table (processor/CorePrcsBatch.cpp)
    // Saves the current program as a new version under name in the first free slot after the
    // current one, which becomes current; the old slot is read again from its file. The current slot.
    int32_t versg(CoreAnsx name);
    // Test seam: the pause of the TEST step (milliseconds); null sleeps.
    void setBatchSleepForTest(std::function<void(int32_t ms)> sleep) { batchsleep = std::move(sleep); }

    // ---- program export (processor/CorePrcsExport.cpp) ----------------------------------------------------
    // Writes the current slot's program: kind 0 in the slot's own form (a loose file rewritten in place,
    // a packed one as a container in folder), 1 plain, 2 and above with its vector files rendered into a
    // vector container as well. folder "0" is the temporary repository; a relative one lies below the
    // data folder. length in microseconds. True when every write succeeded; nothing is written after a
    // load fell back, for a free slot, or for a slot path or item name that is absolute or holds "..".
    bool svprf(int16_t kind, int64_t length, CoreAnsx folder, bool asIs, int32_t renderParam, bool equalise,
               double target, int32_t trimParam);

    // ---- render and vector-file tools (processor/CorePrcsTools.cpp) ---------------------------------------
    // Every tool reads and writes the WAV items through the engine's own store `files`; a store given
    // only lists the names (".WAV" keys). Reader, store and pool errors pass to the caller.
    static void getsn(int32_t n, double* out, int32_t f, int32_t rate); // sin(2 pi f k / rate)
    // The largest |value| of x convolved with a Blackman-windowed sine of n samples at f Hz: the gain
    // of x at f. 0.0 for n < 1 or rate < 1; a CoreAnsx when 2n - 1 is above 2^27.
    static double frqam(CorePool* pool, int32_t n, const double* x, int32_t f, int32_t rate);
    // Microseconds from the first-channel peak to the last sample above the peak level less db
    // (negative when none is); the longest over every WAV item in milliseconds, 0.0 without one.
    double wavrt(CoreFsys* store, CoreAnsx name, double db);
    double wavrt(double db);
    // Replaces the item by an impulse of length samples at length / 2 holding each channel's frqam.
    void mkedr(CoreFsys* store, CoreAnsx name, int32_t length, int32_t f);
    void svfdr(CoreFsys* store, int32_t length, int32_t f);
    // Cuts the item to us around its peak, or to its element's copy range; rate above 0 converts it.
    void cutwl(CoreFsys* store, CoreAnsx name, int64_t us, int32_t rate);
    void svfwl(CoreFsys* store, int64_t us, int32_t rate);
    // Renders the engine's response to an impulse (in pass-through for the host meanwhile), derives an
    // equalisation towards target at freq from it and applies it to every WAV item the store lists,
    // written back to `files`; maxLength above 0 sets the frames written. Nothing while booting or
    // failed, for a store without items, or when no equalisation results.
    void svfs2(CoreFsys* store, int32_t maxLength, int32_t freq, double target);

    // ---- program commit and host chunk (processor/CorePrcsCommit.cpp, processor/CorePrcsChunk.cpp) -----
    void fixcd(); // the caller holds the engine locks, or is the only user of the program
    CoreAnsx getdt(); // takes enginelock, then blocklock
    // Rewrites the DESCRIPTION of the program stored in the container at path; uses no engine state.
    static void setds(CorePool* pool, const CoreAnsx& path, const CoreAnsx& text);
    // The chunk save: size in bytes (at least CoreMmry::iCchunkbufferdim) with *data at the engine's
    // buffer, which stays valid until the next save; 0 and *data untouched when the engine failed.
    int32_t getck(void** data);
    // The chunk restore; host bytes up to the first NUL or length. True for a restore or "NOCHUNK".
    bool setck(void* data, int32_t length);
    bool ldpfs(int32_t slot); // the slot's text straight into the program; load_'s result

private:
    friend class CorePrcsTestAccess;

    // One convolver record: record h serves harmonic path h; the last is the extra record.
    struct CONVOLVERLOC {
        double* kernel[2];   // left, right; lent by the program
        CoreCnvl* convolver; // owned
        int16_t mode;        // kernel mode in use; -1 none
        bool shortkernel;
        int32_t key;  // sharing key of its plan; -1 not shared
        int32_t step; // block step reported with the key; 1 when not shared
        int16_t group; // common-plan slot; -1 none
        int16_t role;  // 0 leader, 1 member, 2 last member, 3 not shared
    };
    // One common-plan slot per sharing group.
    struct PLANLOC {
        bool used;
        void* plan;    // the common buffer the group leader's plan returned
        int32_t ratio; // the length handed to every member's common plan
    };
    // What the host entry hands the block processor.
    struct BLOCKREQUEST {
        int32_t start;
        int32_t count;
        int32_t period;
        double outputgain;
        double outputcontrolgain;
        int32_t drydelay;
        bool ratechanged;
        double tempo; // beats per minute
    };
    // One key of the master settings, in read order; exactly one field is set.
    struct SETTINGKEY {
        const char* key = nullptr;
        CoreAnsx CorePrcs::*text = nullptr;
        bool path = false; // backslashes become '/'
        bool CorePrcs::*flag = nullptr;
        int16_t CorePrcs::*shortValue = nullptr;
        int32_t CorePrcs::*intValue = nullptr;
        double CorePrcs::*doubleValue = nullptr;
        void (*present)(CorePrcs&) = nullptr; // run when the key is present
    };
    static const std::vector<SETTINGKEY>& settingKeys();

    // ---- construction (processor/CorePrcs.cpp, processor/CorePrcsSettings.cpp) ----------------------
    void build(const CoreAnsx& settingsText);
    void release(); // frees whatever exists, in the reverse order of building
    void readSettings(const CoreAnsx& settingsText);
    void readKeys(CoreNode* master);
    void resolveDataPath(bool present);
    void deriveSizes();
    void logSettings() const;
    void chooseSkin();
    double* ring(int32_t count); // zeroed pool block labelled "PRCS"
    void freeRing(double*& block);
    // Waits for lock; once ms have passed logs one level-1 line naming it and keeps waiting.
    static void lockw(CoreSmph& lock, int32_t ms, const char* name);
    bool booted() const { return !busy.getvl(); }

    // ---- a clear left to the blocks (processor/CorePrcsState.cpp) ------------------------------------
    // Doubles zeroed per call on the audio path: 2 MiB, a small part of a 64-frame block's time at
    // 48 kHz. Rings of the default size fit in one call.
    static constexpr int64_t ringClearBudget = int64_t{1} << 18;
    // The host entry calls this at the start of every normal-path call, with enginelock held and no
    // block handed out yet. With a clear left by clean() it tries blocklock and passlock once and zeroes
    // the next ringClearBudget doubles of the rings, clearing the convolvers with the last part. False
    // while part of the clear remains: that call leaves rings and convolvers alone and plays silence.
    bool clearDeferred();
    bool continueClear();   // the caller holds both engine locks; as clearDeferred from there on
    bool clearRingsPart();  // the next part of the rings; true once all of them are zero
    void clearConvolvers(); // every convolver's state; ends a clear left to the blocks

    // ---- constructor arguments --------------------------------------------------------------------
    CorePool* pool;
    CoreAnsx sPluginfolder;
    CoreAnsx sBundlename;
    CoreBlnk* pBlink;       // not owned
    bool bNocache;          // the memory is built without its metadata cache
    bool bKeeplog;          // the log folder and level are left as they are
    CoreFsys* pMasterstore; // the master object's store, not owned; may be null
    bool bStoreflag;        // handed to the engine's own stores
    CorePlel* pRegistry;    // shared kernel registry, not owned

    // ---- master settings, by key, with their defaults (the settings writer saves these) -------------
    CoreAnsx sMagic = "0";          // MAGIC: the plug-in's unique id
    CoreAnsx sDatapathsetting = ""; // DATAPATH as read, '/' for '\'
    int16_t iDl = 0;                // DL: log debug level
    bool bFastboot = false;
    bool bScanboot = true;
    bool bNodrop = false;
    bool autothread = true;        // AUTOTHREAD
    int32_t rateconv = 0;          // RATECONVERSION, µs
    int32_t iProgramrate = 3000;   // PROGRAMRATE, µs
    int32_t iLookaheadtime = 3000; // AHEADLENGTH, µs; PROGRAMRATE when absent
    int32_t iGuirate = 40000;      // µs
    int32_t iExportaudioquality = 1;
    int32_t ltimed = 10000;    // LTIMED
    int32_t lfreqd = 1000000;  // LFREQD
    int32_t iForceoffset = -1; // FORCEOFFSET, µs
    int16_t iForcolumn = 24;
    CoreAnsx sProgramsubpath = "";
    CoreAnsx sVectorsubpath = "";
    CoreAnsx sSetupsubpath = "";
    CoreAnsx sSkinsubpath = "";
    CoreAnsx sDictionarysubpath = "";
    CoreAnsx sSkinname = "";
    CoreAnsx sCachesubpath = "";
    CoreAnsx sSetupromname = "";
    CoreAnsx sDictionaryromname = "NULL";
    int32_t iWorkbuffer = 32000;    // WORKBUFFER as read
    int32_t iSaveddspbuffer = 8192; // DSPBUFFER as read: "saved DSP buffer"
    int32_t iThreads = 0;
    int32_t threadsmindim = 2048; // THREADSMINDIM
    int16_t metertype = 2;        // METERTYPE: the meter type applied
    int16_t iOtimed = 3;          // OTIMED: current direct kernel mode
    int16_t iOfreqd = 11;         // OFREQD: current FFT kernel mode
    int16_t iHdim = 1;
    int16_t hdimmax = 10;       // HDIMMAX: the convolver table has hdimmax + 1 records
    double dBpmdefault = 120.0; // BPMDEFAULT / 1000
    int16_t iFontcolour = 0;
    int16_t iLoaderpriority = 1;
    bool bMode = true;
    int32_t iFixedquality = 0;
    CoreAnsx sServeraddress = "";
    CoreAnsx sServerport = "NULL";
    double dProtectiondb = dCprotectiondb;
    bool bLegacystereochannel = true;
    int32_t iRefreshoverflow = iCurefreshoverflow; // µs
    int32_t iIppthreads = 1;
    std::vector<CoreAnsx> oAlternatives; // ALTERNATIVEDATAPATH entries, resolved
    bool bCachepresent = false;          // CACHESUBPATH was given

    // ---- paths and names --------------------------------------------------------------------------
    CoreAnsx sMasterfilename = "";
    CoreAnsx sMasterfilepath = "";
    CoreAnsx sInstallerpath = "";
    CoreAnsx sDatapath = "";       // a folder ending in '/': memory, sub-paths, dictionary, log, skins
    CoreAnsx sDatacontainer = "";  // the container file DATAPATH named, else empty
    CoreAnsx sTemprepository = ""; // data path + "VorlanTempRepository/"
    CoreAnsx sDebugfolder = "";    // data path + "DEBUG/"
    CoreAnsx sFoundfolder = "";    // the folder the current program was found in
    CoreAnsx sSkininuse = "";
    CoreAnsx sGpustatus = "NULL"; // until the boot asks the bridge

    // ---- flags ------------------------------------------------------------------------------------
    std::atomic<bool> engineFailed{false}; // construction failed, or teardown has begun
    bool bMasterfound = false;
    bool bInstallermerged = false;
    bool bFirstboot = true; // FASTBOOT absent
    bool bOtimedabsent = true;
    bool bDspbufferabsent = true;
    bool bBootfailed = false;
    int16_t iBootstep = 0;
    std::atomic<bool> statechanged{false};  // "chunk-changed flag": the first real change of state
    bool loadfallback = true;               // "fallback": the last load fell back to slot 0
    std::atomic<bool> paramsupdated{false}; // "updated flag": updpm ran (read-and-clear by a bean)
    std::atomic<bool> clearPending{false};  // clean() left a clear, or the rest of one, to the blocks
    int64_t clearProgress = 0;              // doubles of that clear zeroed so far; under the engine locks
    bool bLastloadok = false;

    // ---- rates and sizes (samples unless stated) ---------------------------------------------------
    std::atomic<int32_t> samplerate;      // "sample rate", Hz; the host entry reads it unlocked
    int32_t iRequestedrate;               // Hz
    int32_t dspdim = 0;                   // "DSP buffer": a power of two, at least 16
    int32_t workdim = 0;                  // "work buffer": the ring length L, a power of two
    int32_t worklast = 0;                 // "ring index mask", L - 1
    int32_t iThreadlatency = 0;           // dspdim with the worker, else 0
    int32_t readbase = 0;                 // "processing latency": dspdim + thread latency
    int32_t blockdim = 0;                 // "largest block step"
    int32_t activedim = 0;                // "work block"
    int32_t hostdim = 0;                  // "host block size"
    std::atomic<int32_t> iBoothostdim{0}; // the host's size as reported while booting; 0 none
    int32_t iLargestgranule = 128;
    int32_t iMinimumthirdblock = 0;
    int32_t activerate = -1; // "effective period": the program update period in use, µs
    std::atomic<bool> ownrate{false}; // activerate comes from the program or the user
    int32_t iPeriod = 0;     // current program period, samples
    int32_t iNormalperiod = 0;
    int32_t iOfflineperiod = 0;
    int16_t iLastlevel = -1; // last process level
    int16_t iFixedlevel = 0; // "FIXEDQUALITY level": 4 or 0
    std::atomic<bool> bRatechanged{false}; // set by the host entry, cleared by the block processor
    double dRateratio = 1.0; // "kernel rate ratio"

    // ---- delays and ring positions ----------------------------------------------------------------
    int32_t iForceoffsetsamples = 0; // "FORCEOFFSET in samples"; 0 when FORCEOFFSET is not above 0
    int32_t iLookaheadroom = 0;
    int32_t iDelaycompensation = 0; // the pass-through distance
    int32_t iReportedlatency = 0;   // input sample to output on the normal path
    int32_t iDrydelay = 0;          // "dry delay source": the loaded program's largest IR offset
    int32_t leaddim = 0;            // "second copy of look-ahead room": kept between input write and read
    int32_t offsetdim = 0;          // "old offset": what the ring layout was last shifted for
    int32_t inpos = 0;              // input write index
    int32_t readpos = 0;            // input read index = block position
    int32_t readmark = 0;
    int32_t outpos = 0;   // output write index
    int32_t iOutread = 0; // output read index (host side)
    int32_t iPasswrite = 0;
    int32_t iPassread = 0;
    int32_t iPending = 0; // "pending remainder": input not yet handed to the block processor
    int32_t iReady = 0;
    BLOCKREQUEST oRequest{};

    // ---- gains and levels -------------------------------------------------------------------------
    std::atomic<double> dInputcontrolgain{1.0};
    std::atomic<double> dOutputcontrolgain{1.0};
    std::atomic<double> dPassgain{1.0};
    double dOutputgain = 1.0;
    std::atomic<double> tempo{120.0}; // beats per minute; the host entry writes it, beans read it
    double dProtectionlevel = 1.0; // linear
    double cliphold = 0.0;         // "overflow hold time", days
    double dLastoutput = 0.0;

    // ---- worker and kernel modes ---------------------------------------------------------------------
    bool hasworker = false; // "worker enabled": THREADS above 0
    bool useworker = false;
    bool pinworker = false; // a convolver runs on the GPU ("any GPU")
    bool bNosleep = false;
    bool bInvisiblethread = false;
    bool bMono = false;
    int16_t iCommand = 0;
    int16_t iCommandindex = 0;
    bool bPlanfailed = false;
    bool bAnyrefused = false;
    bool bAlluntimed = false;

    // ---- crossfade ---------------------------------------------------------------------------------
    int16_t iSmooth = -1; // SMOOTH; negative: no crossfade
    int16_t iStepindex = 0;
    double* pFadeA = nullptr;
    double* pFadeB = nullptr;
    int32_t iFadecapacity = 0;
    double* pMainfade = nullptr;
    double* pAlternatefade = nullptr;
    int32_t iFadeposition = 0;
    int32_t iCountdown = 0;
    bool fadeready = false;
    bool bProgramready = false;
    bool bSecondkernels = false;

    // ---- block processing state ---------------------------------------------------------------------
    int16_t hdimused = 0;
    bool bHybrid = false;
    double dFeedbackgain = 0.0;
    bool bFeedbackon = false;
    bool bClippause = false;
    bool bDryon = false;
    double dDrygain = 0.0;
    double dLookaheadbase = 0.0;
    double dLookaheadvalue = 0.0;
    int32_t iLookaheadoffset = 0;
    bool bBlinkstate = false;
    std::atomic<int32_t> currentslot{0};

    // ---- meters (followers: input L, input R, output L, output R, input mono, output mono) ----------
    CoreEnvf* followers[6] = {};
    double meterdb[4] = {}; // dB as last computed
    std::atomic<double> meterdbshown[4]{};
    std::atomic<int16_t> controlleds[8]{};
    std::atomic<bool> clipshown{false};
    std::atomic<double> cliptime{0.0}; // "overflow time", days since 1970
    std::atomic<bool> meterflag{false};
    double loadfig[2] = {}; // seconds of processing per sample; under ringlock
    std::atomic<int32_t> loadpct[2]{};
    std::atomic<int32_t> iLasttail{0};
    CoreTime* pOutsidemeter = nullptr; // time outside the convolvers
    CoreTime* pInsidemeter = nullptr;

    // ---- rings, two channels each --------------------------------------------------------------------
    double* inring[2] = {};
    double* outring[2] = {};
    double* passring[2] = {};
    double* quadring[2] = {}; // side chain, only while quadactive
    double* blockbuf[2] = {}; // work pair, dspdim
    double* scratchbuf[2] = {};
    double* feedbackbuf[2] = {};
    double* monobuf[2] = {}; // the block's mono input and output mixes for the meter followers, dspdim
    bool quadwanted = true;
    std::atomic<bool> quadactive{false}; // bean 255 reads it without a lock

    // ---- owned objects ----------------------------------------------------------------------------
    CoreMidi* midi = nullptr;
    CoreXml_* pSettingsdoc = nullptr;
    CoreCubr* pBridge = nullptr;
    CONVOLVERLOC* convtab = nullptr; // hdimmax + 1
    PLANLOC* pPlans = nullptr;
    char* pChunk = nullptr; // CoreMmry::iCchunkbufferdim bytes
    CoreMmry* memory = nullptr;
    CoreVars* pBatchvars = nullptr;
    CoreXml_* programdoc = nullptr;
    CoreFsys* files = nullptr; // the current program's items
    CoreFsys* pSecondstore = nullptr;
    CoreDcry* pDictionary = nullptr;
    CorePmsg* pStatusboard = nullptr;
    CoreProg* program = nullptr;

    // ---- locks and events ---------------------------------------------------------------------------
    CoreSmph enginelock; // program loads, beans, batch and boot steps
    CoreSmph bootlock;
    CoreSmph passlock;  // "pass-through lock": the pass-through state and ring
    CoreSmph blocklock; // "handshake lock": held while a block is processed; the worker releases it
    CoreSmph fadelock;
    CoreSmph ringlock; // "meter lock": the load figures
    CoreSmph outlock;  // "output index lock"
    CoreTevn oWorkerevent;
    CoreTevn oWorkerdone; // signalled after every command the worker carries out
    CoreTevn oAcknowledge;    // "pass-through acknowledge event"
    CorePbol busy{true};      // the boot gate, "booting flag"
    CorePbol passthru{true};  // dry pass-through while loading, "busy flag"
    CorePbol clipflag{false}; // "overflow indicator"
    CorePbol oBusymirror{true};

    // ---- audio road state (processor/CorePrcsHost.cpp, CorePrcsBlock.cpp, CorePrcsRates.cpp) ----------
    // Set by the host entry before it reads the pass-through state, cleared when it leaves the normal
    // path; smpby waits for it to read clear after storing the state.
    std::atomic<bool> inflight{false};
    std::atomic<bool> passmirror{true}; // passthru as the host entry reads it
    std::atomic<uint64_t> lockmisses{0};
    std::atomic<int32_t> loadphases{0}; // LoadPhase objects alive
    std::function<void()> stallhook; // null in production
    int32_t iRequestedperiod = 0;    // µs, as last applied by adjrt
    int16_t iProgramharmonics = 0;   // the program's harmonic count
    int16_t iHarmonicsloaded = 0;

    void prcsn(void** in, void** out, int32_t frames, bool replacing, int16_t level, bool doublePrecision,
               int16_t channels);
    void passThroughPath(void** in, void** out, int32_t frames, bool replacing, bool doublePrecision);
    bool takeEngineLock(int32_t frames, int16_t level); // the audio thread's bounded take
    void waitForLoaders();                              // offline calls only
    void setPassThrough(bool on);
    void stallPoint() {
        if (stallhook) stallhook();
    }
    void growFades(int32_t points); // tables of at least points values (pool; may throw, leaving them)
    void fillFades(int32_t period); // refills the tables in place; never allocates
    void resetFades();              // step 0: main fade A, alternate fade B
    void convolve(int32_t position, int32_t count);
    void updateStep(int32_t period, double outputControlGain, double beatsPerMinute);
    void applyRate(int32_t rate, const char* caller);

    // ---- worker (processor/CorePrcsWorker.cpp) ------------------------------------------------------------
    void startWorker(); // the constructor's last step
    void stopWorker();  // the destructor's worker steps; the caller holds enginelock and blocklock
    void postCommand(int16_t code, int16_t index); // the caller holds blocklock and leaves it to the worker
    void performCommand();                        // on the thread that carries the command out
    // Waits until blocklock is taken, waking on the worker's done event; after watchdogMs logs one line
    // naming the waiter and keeps waiting. It never forces the lock.
    void takeBlockLock(int32_t watchdogMs, const char* waiter);
    void waitForOutput(int32_t count); // until count processed samples wait at the host's read index
    bool workerlive = false;             // the worker thread runs; set before any other thread enters
    std::atomic<bool> commandposted{false}; // a command waits for the worker
    int32_t iWatchdogms = iCmswatchdog;
    std::function<void(int16_t)> commandhook; // null in production
    std::function<void()> hosthook;           // null in production

    // ---- configuration and loading helpers --------------------------------------------------------------
    // Plan commands: 1 plan_, 2 delpl, 3 delpc, 4 planc, 5 bridge stop, anything else nothing. 1 and 4
    // set bPlanfailed from their result (a throw counts as a failure). runCommand carries one out for
    // record index: on the worker when it runs, else on the calling thread.
    void doCommand(int16_t code, int16_t index);
    void runCommand(int16_t code, int16_t index);
    void resetFold();
    bool fold(int16_t h, int32_t step, bool updateStep); // false when the record's plan failed
    int32_t configure(int16_t h, int16_t mode, int16_t path, int32_t size);
    void finishConfiguration();
    int32_t clampedOffset() const;
    bool readSlot(int32_t slot, const CoreAnsx& path);
    bool readInit(const CoreAnsx& path);
    bool readProgram(int32_t slot, const CoreAnsx& text, bool keepRate);
    bool readContainers(CoreFsys* store, const CoreAnsx& folder, const CoreAnsx& path, int32_t slot);
    bool loadContainer(CoreFsys* store, const CoreAnsx& folder, const CoreAnsx& name);
    bool holdsContainer(const CoreAnsx& folder, const CoreAnsx& name); // on disk or in the data container
    int32_t currentPeriod() const;
    void dropKernels();
    void applyMidi(CoreMidi::MIDISLIDERCALLBACKINFO* info, bool bootedChecked);
    bool ldpsm(int32_t slot);
    bool engineStage(); // the rebuild after a program was read; the caller holds the engine locks
    // Enters pass-through (unless told not to) before it takes enginelock and blocklock; on every exit
    // restores the previous pass-through state under passlock, then releases the locks.
    class PassThroughScope {
    public:
        PassThroughScope(CorePrcs& engine, bool enter);
        ~PassThroughScope();
        PassThroughScope(const PassThroughScope&) = delete;
        PassThroughScope& operator=(const PassThroughScope&) = delete;

    private:
        CorePrcs& engine;
        bool restore;
        bool previous;
        std::optional<EngineGuard> locks;
    };

    int32_t loadedslot = -1;      // slot whose program was read last; -1 while reading or after a failure

    // ---- boot and chunk state (processor/CorePrcsBoot.cpp, processor/CorePrcsChunk.cpp) ---------------
    CoreAnsx runStep(int16_t step); // the step's status text; fails the boot through bBootfailed
    CoreAnsx stepFailure(int16_t step, const CoreAnsx& thrown) const;
    void clearCache() const;
    int32_t handOut(const char* text, int32_t length, void** data); // into the chunk buffer
    BOOTRECORD oBootrecord;
    mutable CoreSmph recordlock;          // the boot record only
    std::atomic<bool> bSavedue{false};     // "settings save due"
    CoreSmph savelock;                     // one save at a time; before enginelock; guards the held chunk
    std::string sHeldchunk;                // a restore received while the boot had failed
    bool bHeldchunk = false;
    int32_t iChunkdim = 0;                 // bytes of the block pChunk points at
    int32_t iLargestoffset = 0;   // largest IR offset O of the loaded program
    std::function<double()> clockhook;          // null: CoreXutl::tmono
    std::function<bool(int16_t)> planfault;     // null in production
    std::function<void(int16_t, int32_t, int64_t)> timingprobe; // null in production

    // ---- beans and the settings writer ----------------------------------------------------------------
    // Holds enginelock and blocklock without ever holding enginelock while it waits for the worker:
    // it takes enginelock, tries blocklock, and otherwise releases enginelock, waits until blocklock is
    // free and starts again, so the host entry's try finds enginelock busy only for microseconds.
    class BeanEngineGuard {
    public:
        explicit BeanEngineGuard(CorePrcs& engine);
        ~BeanEngineGuard();
        BeanEngineGuard(const BeanEngineGuard&) = delete;
        BeanEngineGuard& operator=(const BeanEngineGuard&) = delete;

    private:
        CorePrcs& engine;
    };
    class BeanCall; // processor/CorePrcsBeans.cpp: the rule checks and locks of one bean call
    void beanFailed(const char* function, int32_t id, const char* what) const;
    void traceBean(const char* function, int32_t kind, int32_t type, int32_t id, const BEANSTRUCT* b, double value,
                   const CoreAnsx& text) const;
    std::function<void(const BEANCALL&)> beantrace; // null in production
    bool getbbCase(int32_t id, int32_t index, int32_t subindex);
    int16_t getbhCase(int32_t id, int32_t index, int32_t subindex);
    int32_t getbiCase(int32_t id, int32_t index, int32_t subindex);
    int32_t getblCase(int32_t id, int32_t index, int32_t subindex);
    double getbdCase(int32_t id, int32_t index, int32_t subindex);
    CoreAnsx getbsCase(int32_t id, int32_t index, int32_t subindex);
    void setbbCase(int32_t id, bool value, int32_t index, int32_t subindex);
    void setbhCase(int32_t id, int16_t value, int32_t index, int32_t subindex);
    void setbiCase(int32_t id, int32_t value, int32_t index, int32_t subindex);
    void setblCase(int32_t id, int32_t value, int32_t index, int32_t subindex);
    void setbdCase(int32_t id, double value, int32_t index, int32_t subindex);
    void setbsCase(int32_t id, const CoreAnsx& value, int32_t index, int32_t subindex);
    void setbvCase(int32_t id, int32_t index, int32_t subindex);
    void harmonicLimits(bool program, int16_t value); // beans 54 and 55, under the engine locks
    CoreAnsx controlText(int32_t id, int16_t control); // text beans 229 .. 231
    void refreshSettings();                            // chgms without its lock
    int32_t lookaheadCount() const; // the configured look-ahead (AHEADLENGTH) in samples at the current rate

    CoreSmph beanlock;     // every bean call but the exempt ones; program changes outside the beans
    CoreSmph settingslock; // the settings document while it is refreshed, serialised and written
    bool bSettingsfromfile = false; // the settings were read from the settings file, not given as text
    CorePbol bypassrequest{false};  // the last state asked for through bean 258
    int32_t iFocus = 0;             // the front-panel control bean 82 turns
    // MIDI read-back: the slot last read with bean 180.
    bool bMidilearn = false;
    int32_t iMidistatus = 0, iMidicontroller = 0, iMidichannel = 0, iMidivalue = 0;
    // ---- batch stepper and export (processor/CorePrcsBatch.cpp, processor/CorePrcsExport.cpp) ------------
    enum class SAVEOUTCOME { saved, refused, failed }; // refused: nothing written, by rule
    SAVEOUTCOME exportProgram(int16_t kind, int64_t length, CoreAnsx folder, bool asIs, int32_t renderParam,
                              bool equalise, double target, int32_t trimParam);
    SAVEOUTCOME versionProgram(const CoreAnsx& name);
    void runBatchStep(const BATCHSTEP& step, CoreVars& vars, CoreAnsx& message, CoreAnsx& next);
    void commitProgram(); // the caller holds the engine locks
    // A path that came from a chunk or a program and would leave its folder: absolute or with "..".
    static bool unsafePath(const CoreAnsx& path);
    void readKernels(CoreFsys* store); // every WAV item of store into memory
    void reloadProgram(int32_t slot);
    int32_t usedSlotFrom(const CoreAnsx& from, bool locked);
    std::function<void(int32_t)> batchsleep; // null in production
    CoreAnsx sBatchkey = "";
    CoreAnsx sBatchmessage = "";
    CoreAnsx sDescriptionpath = "";
    CoreAnsx sQueryfolder = "";
    CoreAnsx sQuerypattern = "";
    std::vector<CoreAnsx> oQueryresult; // the names the last folder listing found
};
