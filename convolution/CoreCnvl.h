// CoreCnvl: one stereo convolver ("player"). Selects a kernel mode from the 18-row mode table
// (falling back when a mode cannot run here), sizes its accumulation rings, and convolves blocks with
// a kernel pair; also offers each mode's element operations to the vectors. Owned by the processor.
// Not thread-safe and takes no lock: the processor calls it under its engine or handshake lock.
#pragma once
#include "base/CoreAnsx.h"
#include "convolution/KernelModeTypes.h"

#include <atomic>

class CoreCubr;
class CorePool;
class CoreTime;

class CoreCnvl {
public:
    // Capability flags of this machine, which the mode tests read.
    struct VALIDSTRUCT {
        bool sse2; // the processor has SSE2
        bool ffw;  // always false: the FFTW rows are never usable
        bool cda;  // the GPU bridge reported a version other than "N/A"
    };
    typedef bool (*ValidTest)(VALIDSTRUCT* valid);

    // The plan state of the selected mode (its fields: KernelModeTypes.h).
    using FFTSTRUCT = ::FFTSTRUCT;

    // One row of the kernel-mode table.
    struct KERNELMODESTRUCT {
        StepRoutine routine;
        ValidTest valid; // null: always usable
        bool enabled;    // offered to the user; nothing in the engine reads it
        int step;        // input samples per routine call; -1: the host block
        bool isfft;      // block (FFT or GPU) mode
        bool partitioned;
        bool sse2;
        bool common; // has a common-plan pair
        bool gpu;
        bool untimed; // block calls are not bracketed by the meters
        int granule;  // 2 direct, 128 CPU FFT, 1024 GPU
        LoadCallback load;
        UnloadCallback unload;
        ClearCallback clear;
        CommonLoadCallback lcom;
        CommonUnloadCallback ucom;
        ElementSizeOp szel;
        ElementNewOp nwel;
        ElementDeleteOp dlel;
        ElementCopyOp copy;
        ElementAdjustOp adj_;
        ElementFadeOp fade;
        ElementMixOp vmix;
    };

    static constexpr int iCmodes = 18;
    static constexpr short iCdefaultdir = 3;  // default direct mode
    static constexpr short iCdefaultbe_ = 11; // default FFT mode
    // The bridge version shown when no GPU bridge is usable. Constant character data, so that it is
    // valid before any static initialiser runs.
    static constexpr char sCdefaultversion[] = "N/A";

    // Builds the table and takes the capability flags of this machine (the bridge version decides
    // cda). The length argument is not kept. The pool must outlive the convolver.
    CoreCnvl(CorePool* pool, CoreAnsx name, long length, CoreCubr* bridge);
    // The same with the capability flags given by the caller instead of detected (for tests).
    CoreCnvl(CorePool* pool, CoreAnsx name, long length, CoreCubr* bridge, const VALIDSTRUCT& valid);
    // Releases plans still loaded (delpc, delpl), then frees the rings.
    ~CoreCnvl();
    CoreCnvl(const CoreCnvl&) = delete;
    CoreCnvl& operator=(const CoreCnvl&) = delete;

    void setcd(short id, ValidTest valid, bool enabled, StepRoutine routine, int step, bool sse2, bool isfft,
               bool partitioned, bool common, bool gpu, bool untimed, int granule, LoadCallback load,
               UnloadCallback unload, ClearCallback clear, CommonLoadCallback lcom, CommonUnloadCallback ucom,
               ElementSizeOp szel, ElementNewOp nwel, ElementDeleteOp dlel, ElementCopyOp copy,
               ElementAdjustOp adj_, ElementFadeOp fade, ElementMixOp vmix);

    // Selects a mode, falling back (error() true) to the default FFT mode for an FFT request and to
    // mode 3 otherwise when the row is missing, fails its test, or is a two-sample row asked for an
    // odd length. block <= 0 changes only the mode and returns -1; otherwise returns the step. The
    // convolver then needs plan_ before it plays.
    int set__(short mode, int block, int length, int p4, int partition, int kernelLength);
    // Clears the selection and frees the rings.
    void set__();

    bool ldble(short mode) const; // the row exists and passes its test
    bool isfft(short mode) const;
    bool getbe(short mode) const;
    bool getbe() const; // the selected mode is a block mode
    bool error() const; // the last set__ fell back
    bool perfr() const; // the selected mode is untimed
    bool getpt() const; // the selected mode runs on the GPU; false with none
    int getmp() const;  // the selected mode's granule; 0 with none
    int getcb() const;  // the step in use; 0 with none
    void setdb(short mode);
    short getdb() const;
    short selectedMode() const { return iMode; } // the selected row, -1 with none

    void setup(bool* kernelChanged);
    void setms(bool monoKernel);
    void setff(int tapIndex);
    void setci(double* buffer, short commonMode, int length);
    bool getci(int& length, int& step) const;
    CoreAnsx getbv() const;

    bool load_();
    bool plan_();
    void uload();
    void delpl();
    void clear();
    void cleas();
    void set_c(void* data, short channels, long length);
    bool planc();
    void delpc();
    void* grplc() const;

    // Running. Buffers must not alias one another: in replace mode cnvsy copies the input to the dry
    // outputs after writing the mix, so a mix buffer aliasing the input would give dry the mixed
    // value. A count that is not a multiple of the step runs the whole steps and writes zeros to the
    // remaining output samples (counted, see partialSteps); a convolver without a plan writes silence
    // as its convolution and still mixes. The meters (either may be null) bracket the routine calls
    // of timed modes only.
    long cnvsy(bool replace, double* inL, double* inR, double* mixL, double* mixR, double* kernelL,
               double* kernelR, double* dryL, double* dryR, double* convL, double* convR, double* fade,
               long& fadeIndex, int count, CoreTime* a, CoreTime* b);
    void cnvsc(bool replace, double* inL, double* inR, double* mixL, double* mixR, double* kernelL,
               double* kernelR, double* convL, double* convR, double* fade, long& fadeIndex, CoreTime* a,
               CoreTime* b);
    void cnvlc(double* inL, double* inR, double* outL, double* outR, double* kernelL, double* kernelR,
               CoreTime* a, CoreTime* b);
    // Power-series passes: the k-th call of a chain (first call with first or replace set) convolves
    // x^k, kept in the work pair between calls.
    void vltry(bool first, bool replace, double* xL, double* xR, double* outL, double* outR, double* kernelL,
               double* kernelR, double* workL, double* workR, double* convL, double* convR, int count,
               CoreTime* a, CoreTime* b);
    void vltrr(bool replace, double* xL, double* xR, double* outL, double* outR, double* kernelL,
               double* kernelR, double* workL, double* workR, double* convL, double* convR, int count,
               CoreTime* a, CoreTime* b);

    // Element operations of the selected mode (the CPU set with no mode selected).
    ElementSizeOp getse() const;
    ElementNewOp getne() const;
    ElementDeleteOp getde() const;
    ElementCopyOp getce() const;
    ElementAdjustOp getae() const;
    ElementFadeOp getfd() const;
    ElementMixOp getvm() const;
    VECEXTENSION* getve(); // null with no mode selected

    // Capability tests of the table rows.
    static bool isss2(VALIDSTRUCT* valid);
    static bool isffw(VALIDSTRUCT* valid);
    static bool iscda(VALIDSTRUCT* valid);

    // The CPU element operations: one double per sample.
    static int szel1();
    static void* nwel1(VECEXTENSION* extension, CorePool* pool, int n);
    static void dlel1(VECEXTENSION* extension, CorePool* pool, void* element);
    static void copy1(VECEXTENSION* extension, void* dst, const void* src, int n, bool flag, int offset,
                      bool flush);
    static void adj_1(VECEXTENSION* extension, void* left, void* right, int n, double gain);
    static void fade1(VECEXTENSION* extension, int n, void* left, void* right, int nIn, const void* envIn,
                      int nOut, const void* envOut);
    static void vmix1(VECEXTENSION* extension, bool skip, bool indexed, bool panned,
                      const VECTORMIXSTRUCT* mix, int n, int count, void* dstL, void* dstR, void* const* srcL,
                      void* const* srcR);

    // Block calls whose count left samples beyond the last whole step, since the last plan_ or
    // delpl. Any thread may read it. plan_, delpl and the destructor log the count off the audio
    // path and start it again from 0.
    long partialSteps() const { return iPartialSteps.load(std::memory_order_relaxed); }

    // Read access to the table, null outside 0..17.
    const KERNELMODESTRUCT* modeRow(int id) const;
    // Read access to the rings and the ring position (null before a plan).
    const double* ringL() const { return pRingL; }
    const double* ringR() const { return pRingR; }
    int position() const { return iPosition; }
    int length() const { return iN; }
    const FFTEXTENSION& extension() const { return oExtension; }

private:
    CoreAnsx sName;
    double* pRingL;
    double* pRingR;
    void* pCommonData;
    short iCommonChannels;
    long iCommonLength;
    short iMode;
    short iDefaultFft;
    int iStep;
    int iPosition;
    int iN;
    int iRingSize; // 3N
    int iLower;    // N: lowest position
    int iUpper;    // 2N: a position here wraps to N
    int iRequestedLength;
    int iAllocatedSize;
    bool bError;
    bool bUntimed;
    bool bRingsAllocated;
    bool bCommonLoaded;
    KERNELMODESTRUCT oTable[iCmodes];
    StepRoutine pRoutine;
    LoadCallback pLoad;
    UnloadCallback pUnload;
    ClearCallback pClear;
    CommonLoadCallback pLcom;
    CommonUnloadCallback pUcom;
    FFTEXTENSION oExtension;
    FFTSTRUCT oPlan;
    bool bIsFft;
    bool bPartitioned;
    CorePool* pPool;
    VALIDSTRUCT oValid;
    CoreAnsx sBridgeVersion;
    VECEXTENSION oVecExtension;
    // Set by a successful plan_ and cleared by whatever invalidates it: the block calls run the
    // routine only while the rings, the step and N agree.
    bool bPlayable;
    std::atomic<long> iPartialSteps;

    void construct(CoreCubr* bridge);
    void buildTable();
    bool usable(short mode, int length) const;
    void freeRings();
    int runSteps(const double* inL, const double* inR, double* outL, double* outR, const double* kernelL,
                 const double* kernelR, int count, bool countCalls);
    void bracketBegin(CoreTime* a, CoreTime* b) const;
    void bracketEnd(CoreTime* a, CoreTime* b) const;
    void wrapPosition();
    void logPartialSteps();
};
