// CoreProg: one loaded program: header texts, global gains and flags, its own source and function
// tables with their modulators, ten front-panel and five bound controls, one kernel record per
// harmonic order plus the hybrid record, four raw-vector records. Owned and called by the processor
// alone; no lock of its own: the processor serialises accessors, loading, writers and updates.
#pragma once
#include "base/CoreAnsx.h"

#include <cstdint>

class CoreBlnk;
class CoreCnvl;
class CoreDynm;
class CoreEnv_;
class CoreEnvf;
class CoreFsys;
class CoreFun_;
class CoreIfce;
class CoreLfo_;
class CoreNode;
class CoreParm;
class CorePlel;
class CorePmsg;
class CorePool;
class CorePrm_;
class CoreRfun;
class CoreRvct;
class CoreTlst;
class CoreVctr;
class CoreWvfr;
class CoreXml_;
class DataGfun;
class DataRgfn;
class DataSrce;

class CoreProg {
public:
    static constexpr int32_t iCleafvectors = 10000; // initial reserve of a record's leaf-vector list
    static constexpr int32_t iCcorevectors = 10000; // initial reserve of a record's core-vector list
    // What the tree readers may build and read for one program, every tree together: vector files
    // that name each other repeatedly would otherwise multiply a tree beyond any memory.
    static constexpr int32_t iCtreevectors = 32768; // vector nodes
    static constexpr int32_t iCtreefiles = 8192;    // vector files read (each naming counts)
    static constexpr int16_t iChworkdim = 1;        // records beyond the harmonic capacity: the hybrid one
    static constexpr int16_t iClfos = 4;
    static constexpr int16_t iCfuns = 8;
    static constexpr int16_t iCrawfuns = 4;
    static constexpr int16_t iCparameters = 16;
    static constexpr int16_t iCfollowers = 5;
    static constexpr int16_t iCdynamics = 2;
    static constexpr int16_t iCenvelopes = 2;
    static constexpr int16_t iCcontrols = 10; // MIX1..MIX8, GAININ, GAINOUT
    static constexpr int16_t iCmixes = 8;
    static constexpr int16_t iCraws = 4;
    static constexpr int16_t iCcategories = 3;
    static constexpr int32_t iCn3blockdivisor = 4; // third-stage block: a quarter of the third stage
    // The trim controls run 0..1; their value is scaled by the gain of +96.32 dB.
    static constexpr double dCtrimfactor = 65463.61740672747;

    // One harmonic order (records 0 .. capacity - 1 are H1 .. Hn; record `capacity` is the hybrid
    // record, used only under FORCEHYBRID: harmonic 0's elements with the head removed). Lengths
    // are in samples at the program rate. The envelopes and kernels point into the root vector,
    // which owns them (element kernels that no registry holds are freed by the program with the
    // tree); the lists never own the vectors they hold (the root owns the tree).
    struct HLOC {
        bool bValid;            // the record holds a vector tree
        CoreVctr* pRoot;        // owned
        CoreTlst* pLeafvectors; // nodes whose elements are all impulse-response files
        CoreTlst* pCorevectors; // nodes with at least one child vector; every node is in one list
        bool bFadesbuilt;       // the three fade envelopes exist
        bool bShortimpulse;     // the longest response is shorter than 16 samples (ismkr)
        void* pFadeinenvelope;  // CoreVctr::newfi
        void* pFadeoutenvelope; // CoreVctr::newfo: end fade of the second stage
        void* pEndfadeenvelope; // CoreVctr::newfe: end fade of the third stage
        void* pEnvelopeinuse;   // the fade-out or the end-fade envelope, per the stage in use
        double* pCurrentleft;   // the root's current output kernels
        double* pCurrentright;
        int32_t iOffset; // position of the sync point inside every kernel
        int32_t iFadein;
        int32_t iFadeout; // end-fade length of the second stage
        int32_t iCut;     // end-fade length of the third stage (the response cut)
        int32_t iFadelengthinuse;
        int32_t iSecondbound;   // second-stage time in samples
        int32_t iThirdbound;    // third-stage time in samples
        int32_t iSecondrequest; // requested second-stage size
        int32_t iThirdrequest;  // requested third-stage size
        int32_t iLongestimpulse;
        int32_t iLongesttail; // longest response measured from its sync point
        // Second-stage minimum, third-stage minimum, second-stage bound size, third-stage bound size.
        int32_t iBoundedsizes[4];
        int32_t iSecondsize;      // a multiple of 4
        int32_t iThirdsize;       // at least the second-stage size
        int32_t iThirdblock;      // a power of two
        int32_t iPaddedthirdsize; // a power of two
        int32_t iKernellength;    // length of every element kernel of the harmonic
        bool bThirdon;            // the third stage is used
        bool bChanged;            // stage settings edited since loading: the writer rewrites them
        double dTrainthreshold;   // fraction of the peak
        int32_t iLongestcontent;  // longest filled part of an element kernel, leading zeros included
        int32_t iSizeinuse;
        double* pSecondaryleft; // the crossfade kernel pair, kept when SMOOTH >= 0
        double* pSecondaryright;
        CoreCnvl* pConvolver; // assigned by the processor; not owned
    };

    // One raw vector ("RAW1".."RAW4"); not a modulation source.
    struct RAWLOC {
        CoreAnsx sName;
        bool bActive;    // a RAW section was read into the record
        CoreRvct* pRoot; // owned while active
        CoreTlst* pLeafvectors;
        CoreTlst* pCorevectors;
    };

    // capacity: harmonic records apart from the hybrid one (the processor passes HDIMMAX; a
    // negative value is refused). vectorFolder: folder of the impulse-response files. ltimed,
    // lfreqd, forcedOffset: microseconds. maxLookahead: samples. registry null: the program makes
    // and owns its own. Throws a CoreAnsx when a member cannot be built, after releasing the rest.
    CoreProg(CorePool* pool, CoreFsys* files, int16_t capacity, CoreAnsx vectorFolder, int32_t ltimed,
             int32_t lfreqd, int32_t forcedOffset, int32_t maxLookahead, int32_t processorDelay,
             int32_t workBuffer, int32_t blockCap, CoreBlnk* blink, CorePlel* registry);
    ~CoreProg();
    CoreProg(const CoreProg&) = delete;
    CoreProg& operator=(const CoreProg&) = delete;

    // Empties the program (header texts, vector trees, user parameters); modulators, controls and
    // tables stay, and so does the name. Safe in any state, also twice.
    void uload();
    void uloar(); // releases every raw record
    void init_(); // uload, then uloar

    // ---- program reader and per-block update ----------------------------------------------------
    // Empties the program and reads the document's PROGRAM (the last of that tag) into it, then prepares
    // its kernels (keepRate as start takes it) and its raw vectors (program/CoreProgReader.cpp). True
    // when all of it succeeded; after any failure, logged, the program is empty and the result false.
    // Nothing is thrown once the program has been emptied. A null root (the parsed free-slot text "0")
    // is a document without PROGRAM.
    bool load_(CoreNode* root, bool keepRate);
    // Once per sub-block on the audio path (advance true, dt its length in samples, level the last
    // output sample), or as a refresh outside it (false, 0.0, 0.0, tempo): the modulators in their
    // source order, then every tree; advance also fades the new kernels (program/CoreProgUpdate.cpp).
    // This and the two feeds below allocate nothing, lock nothing, log nothing.
    void updte(bool advance, double dt, double level, double tempo);
    void setef(double a, double b, double c, double d); // one sample for EVF1..EVF4: inputs, outputs
    void setes(double a, double b);                     // one side-chain sample for EVF5
    bool hasef() const; // whether any of EVF1..EVF4 takes samples (setef does nothing otherwise)
    bool hases() const; // whether EVF5 takes samples

    // ---- header -------------------------------------------------------------------------------
    CoreAnsx getnm() const { return sName; }
    void setnm(CoreAnsx name);   // also marks the name changed
    CoreAnsx getct(int i) const; // 0 CATEGORY, 1 SUBCATEGORY1, 2 SUBCATEGORY2; empty otherwise
    void setct(CoreAnsx text, int i);
    CoreAnsx getds() const { return sDescription; }
    void setds(CoreAnsx text) { sDescription = text; }
    void setvf(CoreAnsx name); // the vector file name ("0": none); clears the name-changed flag
    bool getnc() const { return bNamechanged; }
    void setvr() { bVr = true; }

    // ---- gains and bound controls -----------------------------------------------------------------
    CoreAnsx getfs() const { return sFeedbacksource; }
    CoreAnsx getys() const { return sDrysource; }
    CoreAnsx getar() const { return sLookaheadsource; }
    // Store the text and bind the control to it with the range 0..1.
    void setfs(CoreAnsx source);
    void setys(CoreAnsx source);
    void setar(CoreAnsx source);
    double getff() const { return dFeedback; }
    void setff(double factor) { dFeedback = factor; }
    bool hasfb() const { return dFeedback > 0.0; }
    double getdr() const { return dDrygain; }
    void setdr(double gain) { dDrygain = gain; }
    double getpi() const { return dInputpad; }
    void setpi(double gain) { dInputpad = gain; }
    double getpo() const { return dOutputpad; }
    void setpo(double gain) { dOutputpad = gain; }
    double getrf(); // feedback factor x the feedback control's value
    double getry(); // dry gain x the dry control's value
    double getaf(); // the look-ahead control's value
    // Trim control value x dCtrimfactor; 1.0 when that is zero or denormal.
    double getti();
    double getto();
    int32_t getua() const { return iLookaheadus; }
    void setua(int32_t us) { iLookaheadus = us; }
    // LOOKAHEAD in samples at the program rate, within 0 .. the maximum look-ahead.
    double getab() const;

    // ---- rates, sizes and flags ---------------------------------------------------------------------
    void setrt(int32_t hz) { iProgramratehz = hz; }
    void setrc(int32_t us) { iRateconversionus = us; }
    void setmp(int32_t samples) { iMinimumblock = samples; }
    int32_t getpr() const { return iUpdateperiodus; } // PROGRAMRATE in microseconds; -1 when absent
    int16_t getst() const { return iSmooth; }
    void setst(int16_t smooth) { iSmooth = smooth; }
    int16_t getsh() const { return iHarmoniclimit; }
    void setsh(int16_t hdim) { iHarmoniclimit = hdim; }
    // Harmonics loaded; unless all, at most HDIM when that is above 0.
    int16_t gethc(bool all) const;
    bool getf2() const { return bForceot2; }
    void setf2(bool on) { bForceot2 = on; }
    bool getfi() const { return bInvisiblethread; }
    void setfi(bool on) { bInvisiblethread = on; }
    bool getfm() const { return bForcemono; }
    void setfm(bool on) { bForcemono = on; }
    bool getfh() const { return bForcehybrid; }
    // Switches FORCEHYBRID and moves record 0 between the hybrid record's sizes and its own.
    void setfh(bool on);
    int32_t getfr() const { return iFileratehz; }
    int32_t getcr() const { return iConvertedratehz; }
    double getsz() const { return dBytesloaded; }
    int32_t getsm() const { return iElementsread; }
    int32_t getof() const { return iLargestoffset; }

    // ---- tables, modulators and controls (null for an index outside the table) ------------------------
    DataSrce* getsr() const { return pSources; }
    DataGfun* getgf() const { return pFunctions; }
    CoreLfo_* getlf(int16_t i) const;
    CoreFun_* getfn(int16_t i) const;
    CoreEnvf* getef(int16_t i) const;
    CoreEnv_* geten(int16_t i) const;
    CoreDynm* getdy(int16_t i) const;
    CorePrm_* getpm(int16_t i) const;
    // Puts p into slot i of the parameter table (a null p or an i outside 0..15 changes nothing).
    // The program keeps owning the sixteen parameters it built, whatever the table holds.
    void setpm(int16_t i, CorePrm_* p);
    CoreIfce* getif(int32_t i) const; // 0..7 MIX1..MIX8, 8 GAININ, 9 GAINOUT
    CoreIfce* getmx(int16_t i) const; // the mix controls 0..7
    bool isqpr() const;               // the fifth envelope follower (side chain) is active
    void upsrc(int32_t i, double value);
    double getsc(CoreAnsx key) const; // value of the last row with that key, OFF when none

    // ---- services ----------------------------------------------------------------------------------
    void setfs(CoreFsys* files) { pFiles = files; }
    void setsb(CorePmsg* progress) { pProgress = progress; }
    void setcv(int32_t h, CoreCnvl* convolver); // records 0 .. capacity, the hybrid record included

    // ---- document writers (program/CoreProgWriters.cpp) ---------------------------------------------
    // Commit the live program into its document. Each rebuilds only its own elements under PROGRAM
    // and leaves every other element as it was; PROGRAM, DISPLAY and the harmonic containers are
    // found as the reader finds them (the last of a name) and created when missing, as is the
    // document node. The processor calls them in this order, under its engine locks, and then
    // serialises the document: chgmx, chggl, chglf, chgpr, chgfn, chgef, chgen, chgdy, chgpt.
    // They change nothing in the program; a null document is left alone. Times are written as
    // whole microseconds that read back to the same sample counts at the program rate.
    void chgmx(CoreXml_* document); // MIX1..MIX8, GAININ, GAINOUT
    void chggl(CoreXml_* document); // header, global values, changed harmonic sections
    // PROGRAMRATE: the given microseconds when on, deleted when off.
    void chgpr(CoreXml_* document, bool on, int32_t rate);
    void chglf(CoreXml_* document); // LFO1..LFO4
    void chgfn(CoreXml_* document); // FUN1..FUN8
    void chgef(CoreXml_* document); // EVF1..EVF5
    void chgen(CoreXml_* document); // ENV1, ENV2
    void chgdy(CoreXml_* document); // DNM1, DNM2
    void chgpt(CoreXml_* document); // DISPLAY > PRM1..PRM16 (or a ZELKIIPRMn the document holds)

    // ---- harmonic records (0 for h outside 0 .. capacity) ------------------------------------------------
    void setsp(int16_t k); // kernel slot 0 or 1 of record 0's root; nothing while record 0 is empty
    int32_t getbr(int16_t h) const;
    int32_t getid(int16_t h) const;
    int32_t getex(int16_t h) const;
    int32_t getep(int16_t h) const;
    // The following give 0 as well for a record not in use.
    int32_t getod(int16_t h, int16_t which) const; // 0 second-stage size, 1 third-stage size
    int32_t getts(int16_t h) const;
    int32_t getco(int16_t h) const;
    // stage 0 second, 1 third: the minimum (bounded false) or the bound size (bounded true).
    int32_t getib(int16_t h, int16_t stage, bool bounded) const;
    double* getli(int16_t h) const;
    double* getri(int16_t h) const;
    double* getls() const;
    double* getrs() const;
    bool getn3(int16_t h) const;
    void setn3(int16_t h, bool on); // also marks the record changed
    bool ismkr(int16_t h) const;

    // ---- kernel preparation (program/CoreProgKernels.cpp) ---------------------------------------------
    // Reads every element's WAV of every loaded harmonic (and of the hybrid record under FORCEHYBRID),
    // aligns the responses on their sync points, cuts and fades them, sizes the stages and fills and
    // registers the element kernels. keepRate: every file at its own rate; false: converted to the
    // program rate where the rules allow. Logs the cause of a failure and throws an empty CoreAnsx;
    // whatever the failed harmonic made that its tree does not own is released, the rest goes with
    // init_. Kernels register only through the record's convolver (setcv); a record without one
    // gets kernels of the CPU element operations that no registry holds, freed with its tree.
    void start(bool keepRate);
    // Prepares record h with the reader (offset < 0: the record computes its own). Throws as start.
    void streh(int16_t h, CoreWvfr* reader, int32_t offset, bool keepRate);
    // A new second-stage (which 0) or third-stage (which 1) request for record h: sizes, output kernels
    // and the hybrid record's copy follow. False, and nothing changes, when no request changed, for
    // another which, or for a record not in use.
    bool setod(int16_t h, int16_t which, int32_t size);
    // The sync index of one element of n frames (-1 in peak mode when every sample is zero).
    static int32_t synch(CorePool* pool, const double* left, const double* right, int32_t n, double balance,
                         bool peakMode, bool trainMode, double threshold, bool jitterMode, int32_t index,
                         int32_t fallback, bool positive);
    // The stage sizes of record h from its offset, fades, longest tail and the two requests; true when a
    // request differs from the stored one. Once the record's element kernels exist, its kernel length
    // stays and caps both stages.
    bool setnp(int16_t h, int32_t secondRequest, int32_t thirdRequest);

    // ---- raw vector preparation (program/CoreProgRaws.cpp) -------------------------------------------
    // Reads the responses of every active raw record into its tree, one length per record, and hands
    // each record's table to the raw functions that name it; then every raw function without both
    // tables is switched off. A failing record stops it (later records stay unprepared): the cause is
    // logged and an empty CoreAnsx thrown.
    void starr();
    void strer(int16_t r);

    // ---- kernel controls and queries (program/CoreProgControls.cpp) ---------------------------------
    // Null, 0 or nothing for an index outside 0 .. capacity or a record not in use.
    bool hasti() const; // the trim and dry controls follow an active source
    bool hasto() const;
    bool hasdr() const;
    bool* getui(int16_t h);         // the change flag of the root's first output pair
    bool* getus();                  // harmonic 0's second pair (the crossfade set)
    int32_t getmo(int16_t h) const; // usable length: third-stage size - max(fade-in, offset)
    // The cut, within 1 .. getmo(h), with a new end fade. apply: it becomes the fade in use.
    void setco(int16_t h, int32_t cut, bool apply);
    void setot(int16_t h, int16_t mode); // 0 the short kernel, 1 the long one; other modes: nothing
    // Zeros over the first n samples of every element kernel of record h.
    void trsir(int16_t h, int32_t n);
    // Copies record from's element kernels into record to's (at most the shorter kernel length); both
    // records must be in use with trees of one shape, else it logs and does nothing.
    void cpyir(int16_t to, int16_t from);
    // The copy range of the element named name (trimmed, any case) in harmonics 0 .. capacity - 1; the
    // last match decides. False, with start and end untouched, when none matches.
    bool getrz(CoreAnsx name, int32_t& start, int32_t& end) const;

    // True when the largest sample of the block is above the magnitude of the smallest (both start at
    // 0.0); false for an empty block.
    static bool inphs(const double* block, int32_t n);

    // ---- header of a packed program (.Q7P), read and rewritten without loading it -------------------
    // Reads NAME, CATEGORY, SUBCATEGORY1, SUBCATEGORY2, DESCRIPTION and VECTORFILENAME of the program
    // item of the container (absent values: "NULL", "", "", "", "NULL", "NULL") and its id. The
    // program item is the one whose file name without folder and extension equals the container's
    // (upper-cased), else the first whose name contains it. Outputs stay unchanged (and the failure is
    // logged) when the container cannot be read, nothing matches, or the item has no PROGRAM.
    static void getni(CorePool* pool, CoreAnsx containerPath, int32_t& id, CoreAnsx& name,
                      CoreAnsx* categories, CoreAnsx& description, CoreAnsx& vectorFileName);
    // Rewrites the header texts of item id (and merges extra, which may be null, into its document),
    // then replaces the container through a complete new file. The container stays byte-identical,
    // the failure is logged and false returned when it cannot be read, an item was skipped or two
    // items share a name, id names no record, or the item does not parse or has no PROGRAM.
    static bool setni(CorePool* pool, CoreAnsx containerPath, int32_t id, CoreAnsx name, CoreAnsx* categories,
                      CoreAnsx description, CoreNode* extra);

private:
    friend class CoreProgTestAccess; // tests fill records and reach the reader's steps

    // ---- program reader, below its entry (program/CoreProgSections.cpp, program/CoreProgTrees.cpp) ----
    // The steps run in this order on the PROGRAM element, at the program rate in force and with the
    // program's file store. Each keeps sCurrenttag at the tag it looked up last, which the reader's
    // handler names when a step throws. rdmod: LFO, RAWFUN, FUN, EVF, DNM, ENV (an absent section
    // resets its modulator); rddsp: the user parameters under DISPLAY (left alone without DISPLAY);
    // rdhrm: the H sections and the hybrid record, throws when H1 is missing; rdraw: RAW1..RAW4.
    // Steps 6 to 12 of the reader on the document node: PROGRAM's own keys around the steps below.
    void rdprg(CoreNode* root);
    // The end of every failure path of the reader: init_, no harmonic counted, empty groups dropped.
    void abandon();
    void rdmod(CoreNode* program);
    void rddsp(CoreNode* program);
    void rdhrm(CoreNode* program);
    void rdraw(CoreNode* program);
    // The first half of the reader's failure path: unlinks and deletes every vector listed in every
    // harmonic and raw record, empties the lists and forgets the roots. init_ then empties the rest.
    void dlvct();

    // Section readers: each reads every key first and hands the values over in one call; a failure
    // is logged with the tag (envfl: the text read so far) and thrown as that text.
    void dsprm(CoreNode* section, CorePrm_* parameter);
    void envlp(CoreNode* section, CoreEnv_* envelope);
    void dynam(CoreNode* section, CoreDynm* dynamics);
    // borrowed: the fifth follower read from EVF1's section, which always leaves it off (mode 9).
    void envfl(CoreNode* section, CoreEnvf* follower, bool borrowed);

    // Vector-tree readers. The walk state (depth, path) is the program's iDepth and sFilepath;
    // folder is the vector folder. Every node built is appended to exactly one list of records[h]
    // (or raws[r]), so the lists free a tree that failed half-way (dlvct). A level that fails logs
    // "Error in tag" with the key it was on and throws that key; a vector file that fails adds
    // "Error in file" with its name. The top-level forms throw "ELEMENT" when they get no vector.
    // A walk past iCtreevectors nodes or iCtreefiles vector files fails the same way, after a log
    // line; rdhrm and rdraw count over every tree of the program, the static forms over their own.
    static CoreVctr* elmnt(CorePool* pool, CorePlel* registry, CoreFsys* files, HLOC* records,
                           DataSrce* sources, int16_t h, CoreNode* element, bool& leaf, CoreAnsx& name,
                           double& weight, double& busWeight, int32_t& depth, CoreAnsx& path, CoreAnsx folder,
                           int32_t forcedOffset, int16_t capacity);
    static CoreVctr* elmnt(CorePool* pool, CorePlel* registry, CoreFsys* files, HLOC* records,
                           DataSrce* sources, int16_t h, CoreNode* element, int32_t& depth, CoreAnsx& path,
                           CoreAnsx folder, int32_t forcedOffset, int16_t capacity);
    static CoreVctr* vectr(CorePool* pool, CorePlel* registry, CoreFsys* files, HLOC* records,
                           DataSrce* sources, int16_t h, CoreNode* vector, int32_t& depth, CoreAnsx& path,
                           CoreAnsx folder, int32_t forcedOffset, int16_t capacity);
    static CoreRvct* relmn(CorePool* pool, CorePlel* registry, CoreFsys* files, RAWLOC* raws,
                           DataSrce* sources, int16_t r, CoreNode* element, bool& leaf, CoreAnsx& name,
                           double& weight, double& busWeight, int32_t& depth, CoreAnsx& path,
                           CoreAnsx folder);
    static CoreRvct* relmn(CorePool* pool, CorePlel* registry, CoreFsys* files, RAWLOC* raws,
                           DataSrce* sources, int16_t r, CoreNode* element, int32_t& depth, CoreAnsx& path,
                           CoreAnsx folder);
    static CoreRvct* rvctr(CorePool* pool, CorePlel* registry, CoreFsys* files, RAWLOC* raws,
                           DataSrce* sources, int16_t r, CoreNode* vector, int32_t& depth, CoreAnsx& path,
                           CoreAnsx folder);
    // One tree's target record and what its nodes are built with; the forms above fill one in and
    // walk the tree with these.
    struct TreeWalk;
    static CoreVctr* readElement(const TreeWalk& walk, CoreNode* element, bool& leaf, CoreAnsx& name,
                                 double& weight, double& busWeight, int32_t& depth, CoreAnsx& path);
    static CoreVctr* readVector(const TreeWalk& walk, CoreNode* vector, int32_t& depth, CoreAnsx& path);
    static CoreVctr* readRoot(const TreeWalk& walk, CoreNode* element, int32_t& depth, CoreAnsx& path);
    // The bytes of the file-store item name without zero bytes, or "0" when it cannot be opened or
    // is no XML document. A document's text (and the "0" of a name that cannot be opened) stays in the
    // store as the item's data, so a name is read from disk once; any other file is left as the store
    // holds it, so that a WAV named where a vector file belongs still reads as a WAV.
    static CoreAnsx getas(CorePool* pool, CoreFsys* files, CoreAnsx name);

    // Reading rules shared by the steps. A number the program keeps whole is truncated toward zero and
    // saturated to 32 bits (CoreNode::gtnli); shortValue keeps the low 16 bits of that. linearGain is
    // 10^(dB / 20) of a present key, exactly 1.0 for an absent one and for 0 dB or a denormal.
    static int16_t shortValue(const CoreNode* node, const CoreAnsx& tag, int16_t absent);
    static double linearGain(const CoreNode* node, const CoreAnsx& tag);
    int32_t samplesAtRate(double microseconds) const; // truncated, then CoreButl::tpfup

    bool isRecord(int h) const { return h >= 0 && h <= iCapacity; }
    bool inUse(int h) const { return isRecord(h) && pHarmonics[h].bValid; }
    bool hasTree(int h) const { return inUse(h) && pHarmonics[h].pRoot != nullptr; }
    // Both records in use with trees whose leaf vectors match in number and element counts.
    bool sameShape(int a, int b) const;
    // FORCEHYBRID with a hybrid record shaped like harmonic 0: only then do the hybrid rules apply.
    bool hybridReady() const;
    // The steps of streh between its log lines, and the registration of one harmonic's kernels.
    struct Preparation;
    void prepareRecord(int16_t h, CoreWvfr* reader, int32_t offset, bool keepRate);
    void readElements(Preparation& work, CoreWvfr* reader, bool keepRate);
    void alignElements(Preparation& work);
    void registerKernels(Preparation& work);
    void fillRaw(int16_t r, int32_t length);
    void build(int16_t capacity);
    void release();
    void releaseRoot(HLOC& record);
    void releaseRaw(RAWLOC& record);
    double trimGain(CoreParm* control);

    // Fields in the order the program's readers and writers know them.
    CoreAnsx sVectorfolder;
    CoreAnsx sFilepath;   // the path the vector-tree readers carry through a tree
    CoreAnsx sCurrenttag; // the tag the reader looked up last: what its failure handler logs
    CoreAnsx sName;
    CoreAnsx sCategories[iCcategories];
    CoreAnsx sDescription;
    CoreAnsx sFeedbacksource;
    CoreAnsx sDrysource;
    CoreAnsx sLookaheadsource;
    CoreAnsx sVectorfilename; // "0": none
    int32_t iSyncversion;
    int32_t iProgramratehz;   // rate at which microseconds become samples
    int32_t iFileratehz;      // rate of the impulse-response files as stored (last file opened)
    int32_t iConvertedratehz; // rate they were converted to while reading
    int32_t iDepth;           // nesting depth of the vector-tree readers (log indentation)
    // Vector nodes begun and vector files read by this program's tree readers since rdhrm began.
    int32_t iTreevectors = 0;
    int32_t iTreefiles = 0;
    int32_t iElementsread;
    int32_t iBlockcap;     // DSPBUFFER: largest third-stage block
    int32_t iMinimumblock; // smallest third-stage block; 0 until setmp
    int32_t iLargestoffset;
    int32_t iFirstsyncindex; // sync index of harmonic 0's first element
    int16_t iSmooth;         // negative: off
    int16_t iCapacity;
    int16_t iHarmonicsloaded;
    int16_t iHarmoniclimit; // HDIM; 0: no limit
    int32_t iSecondstageus; // LTIMED
    int32_t iThirdstageus;  // LFREQD
    int32_t iForcedoffsetus;
    int32_t iLookaheadus;
    int32_t iRateconversionus;
    int32_t iProcessordelay; // samples; kept for the processor
    int32_t iWorkbuffer;     // kept for the processor
    int32_t iUpdateperiodus; // PROGRAMRATE; -1: the processor's own setting applies
    int32_t iAlignoffsetus;
    int32_t iAlignoffsetsamples;
    int32_t iMaxlookahead; // samples
    double dIrgain;        // linear
    double dFeedback;      // FEEDBACKFACTOR / 100
    double dDrygain;       // linear
    double dBytesloaded;
    double dInputpad;  // linear
    double dOutputpad; // linear
    double dAlignbalance;
    bool bLoaded;   // the reader filled the records
    bool bPrepared; // the kernels were prepared
    bool bTrainmode;
    bool bJittermode;
    bool bPeakmode; // HRTFMODE
    bool bForceot2;
    bool bInvisiblethread;
    bool bForcehybrid;
    bool bForcemono;
    bool bVr;
    bool bNamechanged;
    bool bSharedregistry; // the registry belongs to the caller
    HLOC* pHarmonics;     // capacity + 1
    RAWLOC* pRaws;        // iCraws
    DataGfun* pFunctions;
    DataRgfn* pRawfunctions;
    DataSrce* pSources;
    CoreLfo_** pLfos;
    CoreFun_** pFuns;
    CoreRfun** pRawfuns;
    // The table getpm and setpm work on. It points into pOwnedparameters, which alone decides what
    // is deleted, so a swap through setpm can never delete a parameter twice or leak one.
    CorePrm_** pParameters;
    CoreEnvf** pFollowers;
    CoreDynm** pDynamics;
    CoreEnv_** pEnvelopes;
    CoreIfce** pControls;
    CoreParm* pFeedbackcontrol;
    CoreParm* pDrycontrol;
    CoreParm* pLookaheadcontrol;
    CoreParm* pInputtrim;
    CoreParm* pOutputtrim;
    CoreBlnk* pBlink;
    CoreFsys* pFiles;
    CorePmsg* pProgress;
    CorePool* pPool;
    CorePlel* pRegistry;
    CorePrm_** pOwnedparameters;
    // Test seam: called inside the registry group after each leaf vector of record h is registered.
    void (*pRegistrationprobe)(int16_t h, int leafVector) = nullptr;
};
