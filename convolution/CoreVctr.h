// CoreVctr: one node of a vector tree: kernel pairs (a leaf) or child vectors placed at positions on
// one control axis, mixed at every update into an output kernel pair by position, liquid, gain pad,
// gain and pan, through the element operations of its convolver's kernel mode (the CPU set when it
// has none). Built and driven by the program; takes no lock (the processor updates it under its
// engine lock while the program builds new trees beside the playing ones).
#pragma once
#include "base/CoreAnsx.h"
#include "base/CoreButl.h"
#include "base/CoreTlst.h"
#include "convolution/KernelModeTypes.h"

#include <cstdint>

class CoreCnvl;
class CoreParm;
class CorePlel;
class CorePool;
class CoreSrce;
class DataSrce;

class CoreVctr {
public:
    // The smoothing residual below which an unchanged vector stops mixing.
    static constexpr double dCbenchmarktolerance = 1e-20;

    // A tree node of n elements at positions[i] (secondary positions secondary[i], may be null).
    // A leaf holds kernel pairs (set later with setip); otherwise element i is children[i], owned
    // from here on. Repeated positions belong to the earliest element that has them. The texts,
    // arrays and pairs are copied; pairA and pairB hold two entries each (channel 0 and 1) or are
    // null (all -1). The two shorts, the two ints and the pairs are only stored and combined
    // (chnci, chnco, getup, chnfi, chnfo, chnls); `regular` is only stored. slot is the harmonic
    // index. The pool and registry must outlive the vector.
    CoreVctr(CorePool* pool, CorePlel* registry, short slot, CoreCnvl* convolver, bool leaf, int n,
             CoreAnsx* names, double* positions, CoreVctr** children, double min, double max,
             double* secondary, double secondaryMin, double secondaryMax, CoreAnsx vectorSource,
             DataSrce* table, double liquid, CoreAnsx liquidSource, int offset, int fadeIn, int* pairA,
             int* pairB, bool stepped, short inheritA, short inheritB, bool regular);
    // Deletes the children (unless ulink ran), releases every registered id without force, frees
    // its buffers, envelopes and output pairs. Kernels given to setip that were not registered stay
    // the caller's.
    virtual ~CoreVctr();
    CoreVctr(const CoreVctr&) = delete;
    CoreVctr& operator=(const CoreVctr&) = delete;

    // ---- configuration ---------------------------------------------------------------------------
    // Assigns the controls. The position output is written only when positionSource names a slot
    // other than "OFF": writing positions into "OFF" would move every control that follows it.
    void setvl(bool vectorOn, double min, double max, CoreAnsx vectorSource, bool positionOut,
               CoreAnsx positionSource, double pan, CoreAnsx panSource, double pad, CoreAnsx padSource,
               bool gainOn, CoreAnsx gainSource, bool normaliseOn, double reference, double blend);
    void setlq(double liquid); // kept in 0.01 .. 0.99
    double getlq() const { return dLiquid; }
    double getmn() const { return dMin; }
    double getmx() const { return dMax; }

    // ---- elements --------------------------------------------------------------------------------
    // Element i's kernels. With a registry and a convolver they are registered (kernel pairs equal
    // to ones another owner holds in the open sharing group are replaced by the held buffers,
    // which setgn then leaves as they are). key, a, b, c, d and kind must name everything that
    // makes the kernel values (the program passes its length, rate, start and end): a held pair is
    // never rescaled for another owner. When registering fails, the pair is freed before the throw.
    void setip(int i, double* L, double* R, CoreAnsx key, long a, int b, long c, long d, void* owner,
               short kind);
    void getip(int i, void*& L, void*& R) const;
    void cpyip(int i, double* L, double* R, int n); // null sources write zeros
    // New zeroed element pair of n samples from the registry's pool (the vector's without one).
    void newip(void*& L, void*& R, int n);
    void delip(void* L, void* R);
    void copyd(void* dstL, void* dstR, double* srcL, double* srcR, int n, int offset);
    void setpk(int i, double peak);
    // Ranged flag and copy range of element i, kept as 32-bit sample positions. Indexes outside
    // 0 .. n-1 are ignored (setrz) or answered false with 0, 0 (getrz).
    void setrz(int i, long a, long b);
    bool getrz(int i, long& a, long& b) const;
    CoreAnsx getfn(int i) const;
    int getne() const { return iCount; }
    void chnna(CoreAnsx name);
    CoreAnsx getnm() const { return sName; }
    void getup(int& offset, int& fadeIn) const;

    // ---- output kernels and lengths ---------------------------------------------------------------
    void chncp(long length, long second, long third);
    void setsc();
    void setcc(short k);
    void chncd(short k);
    void chnip();
    void chndc();
    void* getlc() const { return pOutL[0]; }
    void* getrc() const { return pOutR[0]; }
    void* getls() const { return pOutL[1]; }
    void* getrs() const { return pOutR[1]; }
    void* currentLeft() const { return pCurrentL; } // the mix destination
    void* currentRight() const { return pCurrentR; }
    int getcd() const { return iLength; }
    bool* getuc() { return &bChanged[0]; }
    bool* getus() { return &bChanged[1]; }
    bool* getca() { return &bConverged; }

    // Envelopes of n values in the mode's element format; the vector owns them (a second call
    // frees the envelope the first one made).
    void* newfi(int n); // ramp 0 .. 1
    void* newfo(int n); // 1 .. 0
    void* newfe(int n); // 1 .. 0
    void setcr(void* fadeOutEnvelope, int fadeOutLength, int length, int fadeInLength);
    // Fades a pair with env as fade-in over its n values.
    void setfd(void* L, void* R, int n, void* env);
    // Output fades. They act on the output pair the last mix wrote, once per mix: the values a fade
    // changes are kept and put back before the next mix, so the smoothing runs on unfaded values
    // and the played kernel is always envelope x smoothed mix. out = true fades the last m (at most
    // the fade envelope's length) of n values with the fade envelope; out = false applies the
    // fade-in envelope over the stored fade-in length and the stored fade-out envelope over the
    // stored fade-out length, within the stored length.
    void setfd(bool out, int n, int m);
    void setgn(double level);

    // ---- inheritable values ------------------------------------------------------------------------
    short chnci();
    short chnco();
    int chnfi();
    int chnfo(short ch);
    int chnls(short ch);

    // ---- update ----------------------------------------------------------------------------------------
    void updte(bool mix);
    void chnup(bool mix);
    void chnru(bool mix);
    void ulink();

    // ---- inspection (tests, display) ----------------------------------------------------------------------
    double gain() const { return dGain; } // G of the last update
    double normalisation() const { return dNormalisation; }
    double effectiveWeightA() const { return dEffA; } // raw weight x M, of the last update
    double effectiveWeightB() const { return dEffB; }
    int elementA() const { return iElemA; } // -1: none
    int elementB() const { return iElemB; }
    bool isLeaf() const { return bLeaf; }
    // What setgn works from besides the level and the peaks; positions holds getne() values.
    struct GainInputs {
        bool normalise;
        double reference;
        double blend;
        const double* positions;
    };
    GainInputs gainInputs() const { return {bNormaliseOn, dReference, dBlend, pPositions}; }
    CoreVctr* child(int i) const; // null outside 0 .. n-1 and in a leaf
    int registryId(int k) const;  // k-th registry id of this node; -1 outside
    int registryIds() const { return oIds.Count; }
    short selectedPair() const { return iSelected; }
    // The controls in field order: 0 liquid, 1 gainpad, 2 gain, 3 pan, 4 vector; null outside.
    CoreParm* controlAt(int k) const;

protected:
    CorePool* pool() const { return pPool; }

private:
    struct KeptRegion {
        int offset;
        int length;
    };
    // What the output fades of one pair changed since its last mix, in order of application
    // (0: the stored-settings fade, head and tail; 1: the end fade).
    struct PairFade {
        bool applied[2];
        int order[2];
        int count;
        KeptRegion region[3]; // 0 head, 1 tail, 2 end
        void* keptL[3];
        void* keptR[3];
        int capacity[3];
    };

    // Element operations of the convolver's selected mode, or the CPU set.
    ElementNewOp opNew() const;
    ElementDeleteOp opDelete() const;
    ElementCopyOp opCopy() const;
    ElementAdjustOp opAdjust() const;
    ElementFadeOp opFade() const;
    ElementMixOp opMix() const;
    int opSize() const;
    VECEXTENSION* extension() const;
    CorePool* elementPool() const;

    void release(); // everything the destructor frees (also a failed construction)
    void* poolBytes(size_t bytes);
    void freeBlock(void* p);
    void* makeEnvelope(int n, bool falling);
    void* replaceEnvelope(void*& envelope, int& length, int n, bool falling);
    void freeElement(void*& p);
    void freeOutputs();
    void sizeKept();
    void sizeKeptPair(int k);
    void freeKept(int k);
    void keepRegion(int k, int slot, int offset, int length);
    void restoreFaded(int k);
    void search(double x, int& lower, int& upper) const;
    void mixOutput(bool skip, const VECTORMIXSTRUCT& mix);
    int envelopeLength(const void* env) const;

    bool bLeaf;
    int iCount;
    CoreVctr** pChildren; // n entries, owned
    CoreAnsx sName;
    CoreAnsx sVectorText;
    CoreAnsx sVectorSource;
    CoreAnsx sLiquidSource;
    CoreAnsx sPadSource;
    CoreAnsx sPanSource;
    CoreAnsx sGainSource;
    CoreAnsx* pNames; // n entries
    short iSelected;
    short iInheritA;
    short iInheritB;
    int iOffset;
    int iFadeIn;
    int iFadeOutLength; // setcr
    int iFadeLength;    // setcr: the length the stored-settings fade works within
    int iFadeInLength;  // setcr
    void* pFadeOutEnv;  // setcr, not owned (usually one of the envelopes below)
    int iLength;        // in use
    int iFirst;
    int iSecond;
    int iThird;
    int32_t* pRangeA; // setrz, sample positions
    int32_t* pRangeB;
    bool* pRanged;
    double dMin;
    double dMax;
    double dSecMin;
    double dSecMax;
    double dPositionScale;
    double dLiquid;
    double dPanAmount;
    double dGain;
    double dPad;
    double dReference;
    double dBlend;
    double dNormalisation;
    double dLastX;
    double dSlot; // harmonic slot + 1
    bool bRegular;
    bool bVectorOn;
    bool bPositionOn;
    bool bPanOn;
    bool bGainOn;
    bool bNormaliseOn;
    bool bWeightsValid;
    bool bPairs;
    bool bStepped;
    bool bUnchanged;
    bool bConverged;
    bool bChanged[2];
    bool* pSelectedChanged;
    bool** pElementUnchanged; // n entries
    bool* pOwnFlags;          // a leaf's per-element flags (n), initially true
    bool* pReceived;          // n: the registry handed back buffers another owner holds
    int iPairA[2];
    int iPairB[2];
    double* pPositions;
    double* pSecondary;
    double* pPeaks;
    void* pFadeInEnv;
    void* pFadeOutOwn;
    void* pFadeEnv;
    int iFadeInEnvLength;
    int iFadeOutEnvLength;
    int iFadeEnvLength;
    // Raw (unscaled) weights of the bracketing elements, and the effective ones (raw x M).
    int iElemA;
    int iElemB;
    double dWeightA;
    double dWeightB;
    double dEffA;
    double dEffB;
    int iPrevA;
    int iPrevB;
    double dPrevA;
    double dPrevB;
    double dResidual;
    double dLastPan;
    double dLastGain;
    double dMatrix[4]; // LL, LR, RL, RR
    void** pKernL;     // n entries
    void** pKernR;
    void* pOutL[2];
    void* pOutR[2];
    int iPairLength[2]; // allocated samples of each output pair
    void* pCurrentL;
    void* pCurrentR;
    PairFade oFade[2];
    int iLastMixed; // the pair the last (non-skipped) mix wrote
    CoreParm* pLiquidCtl;
    CoreParm* pGainpadCtl;
    CoreParm* pGainCtl;
    CoreParm* pPanCtl;
    CoreParm* pVectorCtl;
    CoreSrce* pPositionOut;
    DataSrce* pTable;
    CorePool* pPool;
    CorePlel* pRegistry;
    CoreButl::VECTORELEMENT* pRecords; // n, sorted and linked by btini
    CoreButl::VECTORELEMENT* pRoot;
    CoreTlst oIds; // registry ids, stored in the pointer slots
    CoreCnvl* pConvolver;
};
