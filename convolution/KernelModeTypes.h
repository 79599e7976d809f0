// KernelModeTypes: the records and function-pointer types that the kernel routines (CoreOpti), the
// convolver (CoreCnvl), the FFT and GPU modes and the vectors share: the plan state, the extension a
// step routine reads, the vector extension and mix request, and the callback signatures of a mode.
// Plain data; each record belongs to one convolver and is used under that convolver's contract.
#pragma once
#include "platform/IppTypes.h"

#include <cstdint>

class CoreCubr;
class CorePool;

// The plan state of one convolver's mode (CoreCnvl::FFTSTRUCT); load callbacks fill it, unload
// callbacks empty it. Sizes are counts of doubles unless stated otherwise.
struct FFTSTRUCT {
    bool loaded;
    long first;       // first parameter of set__; mode 9 takes it as its FFT size
    int partition;    // partition size S
    int kernel;       // kernel length K
    int fftSize;      // FFT size F
    int ringIndex;    // spectral accumulator slot r that is output next
    int partitions;   // partition count P
    double* work;     // 3F doubles (CPU modes)
    double* spectraL; // P x F doubles each: the packed spectra of the kernel partitions
    double* spectraR;
    double* accumulatorsL; // P x F doubles each
    double* accumulatorsR;
    int* partitionLengths; // P entries
    float* gpuWork;        // bridge memory from here on
    float* gpuSpectraL;
    float* gpuSpectraR;
    float* gpuAccumulatorsL;
    float* gpuAccumulatorsR;
    // Bridge plan handles: forward input, inverse, forward spectra L, forward spectra R. Modes
    // 13-16 keep their single bridge handle in the first.
    void* gpuPlans[4];
    IppsFFTSpec_R_64f* ippSpec;
    Ipp8u* ippWork;
    bool commonPlan;  // the load offers a common plan
    int commonLength; // -1 from set__ until a load sets it
    void* common;     // the shared accumulation buffer of a common plan
    CorePool* pool;
};

// What a step routine reads besides its buffers (one per convolver).
struct FFTEXTENSION {
    double* work;
    int block; // B: input samples per routine call
    // FFT size (CPU modes), bin count F/2+1 (modes 12-14) or F (modes 15-16).
    int size;
    // While *kernelChanged is true the block routines recompute the kernel spectra; they clear it
    // after the right channel. Owned by the caller of CoreCnvl::setup; may be null.
    bool* kernelChanged;
    double inverseScale; // 1.0 / F (mode 12)
    int partitions;
    int* ringIndex; // points into the FFTSTRUCT
    int* partitionLengths;
    int partitionStride; // S
    double* spectraL;
    double* spectraR;
    double* accumulatorsL;
    double* accumulatorsR;
    int kernel; // kernel length
    float* gpuWork;
    float* gpuSpectraL;
    float* gpuSpectraR;
    float* gpuAccumulatorsL;
    float* gpuAccumulatorsR;
    void** gpuPlans; // points into the FFTSTRUCT
    CoreCubr* bridge;
    IppsFFTSpec_R_64f* ippSpec;
    Ipp8u* ippWork;
    short commonMode; // 0-3
    double* commonBuffer;
    int commonLength;
    short callCounter; // routine calls since the start of the current vltry / vltrr
    bool monoKernel;   // one kernel for both channels (mode 11)
    int tapIndex;      // the tap of the one-tap routine
};

// What the element operations of a mode receive. The bridge must stay the first field: the GPU-side
// operations read it from there.
struct VECEXTENSION {
    CoreCubr* bridge;
};

// One vector-mix request. The element indexes are 32-bit because the GPU-side mix hands the request
// to the bridge; a negative index means none.
struct VECTORMIXSTRUCT {
    double gain;
    double destinationScale;
    double leftToLeft;
    double leftToRight;
    double rightToLeft;
    double rightToRight;
    double weightA;
    double weightB;
    int32_t elementA;
    int32_t elementB;
};

// Step routine: consumes one step of input per channel at ring position `position` (N..2N-1) of the
// two accumulation rings (3N doubles each) and writes one step of output. The result is unused.
typedef int (*StepRoutine)(const double* inL, const double* inR, double* outL, double* outR,
                           const void* kernelL, const void* kernelR, double* ringL, double* ringR,
                           long length, long position, FFTEXTENSION* extension);
// Prepares a plan for a block of `block` samples; may change `length` (the ring length) to its FFT
// size. False when the plan could not be made.
typedef bool (*LoadCallback)(long first, FFTSTRUCT* plan, FFTEXTENSION* extension, int block, long& length);
typedef void (*UnloadCallback)(FFTSTRUCT* plan, FFTEXTENSION* extension);
typedef void (*ClearCallback)(FFTSTRUCT* plan, FFTEXTENSION* extension);
typedef bool (*CommonLoadCallback)(FFTSTRUCT* plan, FFTEXTENSION* extension, void* data, short channels,
                                   long length);
typedef void (*CommonUnloadCallback)(FFTSTRUCT* plan, FFTEXTENSION* extension);

// Element operations: how vectors make, fill, scale, fade and mix kernels in a mode's own element
// format. Counts are samples per channel.
typedef int (*ElementSizeOp)();
typedef void* (*ElementNewOp)(VECEXTENSION* extension, CorePool* pool, int n);
typedef void (*ElementDeleteOp)(VECEXTENSION* extension, CorePool* pool, void* element);
typedef void (*ElementCopyOp)(VECEXTENSION* extension, void* dst, const void* src, int n, bool flag,
                              int offset, bool flush);
typedef void (*ElementAdjustOp)(VECEXTENSION* extension, void* left, void* right, int n, double gain);
typedef void (*ElementFadeOp)(VECEXTENSION* extension, int n, void* left, void* right, int nIn,
                              const void* envIn, int nOut, const void* envOut);
typedef void (*ElementMixOp)(VECEXTENSION* extension, bool skip, bool indexed, bool panned,
                             const VECTORMIXSTRUCT* mix, int n, int count, void* dstL, void* dstR,
                             void* const* srcL, void* const* srcR);
