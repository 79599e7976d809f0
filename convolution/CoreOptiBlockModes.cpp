// The block rows 9-17 of the kernel-mode table: the CPU FFT modes 9-11 (double precision over the
// FFT layer), the GPU modes 12-15 over the bridge, the one-tap routine of rows 16 and 17, their plan
// callbacks and the GPU-side element operations. Loads and unloads run on the processor's worker
// thread; the step routines run on the audio path and never allocate.
//
// Spectra are in the layer's Pack order: F doubles per spectrum, R0, R1, I1, ..., R(F/2). A partitioned
// mode keeps a frequency-domain delay line: accumulator slot (r + k) mod P collects the block's product
// with partition k, and slot r is output now, so partition k reaches the output k blocks later. That
// is a correct convolution only when the partition size equals the block, which the loads require.
// The ring position moves by one block per call and wraps from 2N to N, so the block must divide N.
#include "convolution/CoreOpti.h"

#include "base/CoreButl.h"
#include "base/CorePool.h"
#include "convolution/CoreCubr.h"
#include "platform/IppLayer.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

namespace {

// The largest FFT the layer makes (order 27).
constexpr int64_t largestFft = int64_t(1) << 27;

inline bool kernelChanged(const FFTEXTENSION* e) {
    return e->kernelChanged && *e->kernelChanged;
}

inline void lowerKernelChanged(FFTEXTENSION* e) {
    if (e->kernelChanged) *e->kernelChanged = false;
}

void writeSilence(double* out, int count) {
    for (int j = 0; j < count; ++j) out[j] = 0.0;
}

int silentBlock(double* outL, double* outR, const FFTEXTENSION* e) {
    const int block = e ? e->block : 0;
    writeSilence(outL, block);
    writeSilence(outR, block);
    return 0;
}

// Outputs the block's B samples from p and frees them and their copies for later blocks.
void emitBlock(double* ring, long length, long position, double* out, int block) {
    double* upper = ring + position;
    double* lower = upper - length;
    for (int j = 0; j < block; ++j) {
        out[j] = upper[j];
        upper[j] = 0.0;
        lower[j] = 0.0;
    }
}

// How the pass over the block's own accumulator slot y (the one output now) finishes it; `shared` is
// the group's common slot.
enum class OwnSlot {
    keep,     // y += x * h
    handOver, // shared = y + x * h (common mode 0), y = 0
    addOn,    // shared += y + x * h (common mode 1), y = 0
    takeIn,   // y = (y + x * h) + shared (common mode 2), shared = 0
};

// Adds `product` to acc[i] and finishes the value as `Finish` says.
template <OwnSlot Finish>
inline __attribute__((always_inline)) void finishValue(double* __restrict acc, double* __restrict shared,
                                                       int i, double product) {
    const double sum = acc[i] + product;
    if constexpr (Finish == OwnSlot::keep) {
        acc[i] = sum;
    } else if constexpr (Finish == OwnSlot::handOver) {
        shared[i] = sum;
        acc[i] = 0.0;
    } else if constexpr (Finish == OwnSlot::addOn) {
        shared[i] += sum;
        acc[i] = 0.0;
    } else {
        acc[i] = sum + shared[i];
        shared[i] = 0.0;
    }
}

// acc += x * h for two Pack spectra of F values, product and sum in one pass, finishing the slot as
// `Finish` says; with `Pair` the same pass also does acc1 += x * h1 (plain), so the block's spectrum
// is read once for two partitions. Every value is the rounded product added to the accumulator, as
// the layer's multiply followed by its add gives, and the common slot gets the same sums as a
// separate add would give.
template <OwnSlot Finish, bool Pair>
inline __attribute__((always_inline)) void
packPass(const double* __restrict x, const double* __restrict h, double* __restrict acc,
         double* __restrict shared, const double* __restrict h1, double* __restrict acc1, int fftSize) {
    finishValue<Finish>(acc, shared, 0, x[0] * h[0]);
    if constexpr (Pair) acc1[0] += x[0] * h1[0];
    const int lastPair = fftSize - 1;
    for (int i = 1; i < lastPair; i += 2) {
        const double re = x[i], im = x[i + 1];
        finishValue<Finish>(acc, shared, i, re * h[i] - im * h[i + 1]);
        finishValue<Finish>(acc, shared, i + 1, re * h[i + 1] + im * h[i]);
        if constexpr (Pair) {
            acc1[i] += re * h1[i] - im * h1[i + 1];
            acc1[i + 1] += re * h1[i + 1] + im * h1[i];
        }
    }
    if (fftSize > 1) {
        finishValue<Finish>(acc, shared, lastPair, x[lastPair] * h[lastPair]);
        if constexpr (Pair) acc1[lastPair] += x[lastPair] * h1[lastPair];
    }
}

// The same pass built for AVX2 (twice the vector width; no fused multiply-add, so the values are
// bit for bit those of the plain x86-64 build), chosen once at run time where the processor has it.
template <OwnSlot Finish, bool Pair>
__attribute__((target("avx2"))) void packPassWide(const double* x, const double* h, double* acc,
                                                  double* shared, const double* h1, double* acc1,
                                                  int fftSize) {
    packPass<Finish, Pair>(x, h, acc, shared, h1, acc1, fftSize);
}

template <OwnSlot Finish, bool Pair>
void packPassNarrow(const double* x, const double* h, double* acc, double* shared, const double* h1,
                    double* acc1, int fftSize) {
    packPass<Finish, Pair>(x, h, acc, shared, h1, acc1, fftSize);
}

// Read once; the explicit init makes the answer right even if this runs before libgcc's own set-up.
const bool wideVectors = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();

template <OwnSlot Finish, bool Pair = false>
void multiplyAccumulatePack(const double* x, const double* h, double* acc, double* shared, int fftSize,
                            const double* h1 = nullptr, double* acc1 = nullptr) {
    if (wideVectors)
        packPassWide<Finish, Pair>(x, h, acc, shared, h1, acc1, fftSize);
    else
        packPassNarrow<Finish, Pair>(x, h, acc, shared, h1, acc1, fftSize);
}

// Overlap-adds the F values of y into the ring at p and at its copy p - N, outputs the block's B
// samples from p and frees them and their copies for later blocks; with ClearY y is zeroed too.
// One pass: the same values as the overlap-add followed by the output.
template <bool ClearY>
inline __attribute__((always_inline)) void overlapEmitBody(double* ring, long length, long position,
                                                           double* __restrict y, int fftSize,
                                                           double* __restrict out, int block) {
    // The two copies lie N = F apart, so the F values written to each never overlap.
    double* __restrict upper = ring + position;
    double* __restrict lower = ring + position - length;
    for (int j = 0; j < block; ++j) {
        out[j] = upper[j] + y[j];
        upper[j] = 0.0;
        lower[j] = 0.0;
        if constexpr (ClearY) y[j] = 0.0;
    }
    for (int j = block; j < fftSize; ++j) {
        upper[j] += y[j];
        lower[j] += y[j];
        if constexpr (ClearY) y[j] = 0.0;
    }
}

template <bool ClearY>
__attribute__((target("avx2"))) void overlapEmitWide(double* ring, long length, long position, double* y,
                                                     int fftSize, double* out, int block) {
    overlapEmitBody<ClearY>(ring, length, position, y, fftSize, out, block);
}

template <bool ClearY>
void overlapEmitNarrow(double* ring, long length, long position, double* y, int fftSize, double* out,
                       int block) {
    overlapEmitBody<ClearY>(ring, length, position, y, fftSize, out, block);
}

template <bool ClearY>
void overlapEmit(double* ring, long length, long position, double* y, int fftSize, double* out, int block) {
    if (wideVectors)
        overlapEmitWide<ClearY>(ring, length, position, y, fftSize, out, block);
    else
        overlapEmitNarrow<ClearY>(ring, length, position, y, fftSize, out, block);
}

double* zeroedDoubles(CorePool* pool, int64_t count, const char* label) {
    double* block = static_cast<double*>(pool->mallc(0, static_cast<int>(count), label));
    std::memset(block, 0, sizeof(double) * static_cast<size_t>(count));
    return block;
}

template <typename T>
void giveBack(CorePool* pool, T*& block) {
    if (block && pool) pool->free_(block);
    block = nullptr;
}

// Copies the plan's CPU buffers into the extension the step routines read.
void publishCpu(const FFTSTRUCT* plan, FFTEXTENSION* e) {
    e->work = plan->work;
    e->size = plan->fftSize;
    e->partitions = plan->partitions;
    e->partitionLengths = plan->partitionLengths;
    e->partitionStride = plan->partition;
    e->kernel = plan->kernel;
    e->spectraL = plan->spectraL;
    e->spectraR = plan->spectraR;
    e->accumulatorsL = plan->accumulatorsL;
    e->accumulatorsR = plan->accumulatorsR;
    e->ippSpec = plan->ippSpec;
    e->ippWork = plan->ippWork;
}

// Frees whatever CPU buffers and FFT spec the plan holds; safe on an empty or half-made plan.
void releaseCpu(FFTSTRUCT* plan, FFTEXTENSION* e) {
    if (plan->ippSpec) ippsFFTFree_R_64f(plan->ippSpec);
    plan->ippSpec = nullptr;
    giveBack(plan->pool, plan->ippWork);
    giveBack(plan->pool, plan->work);
    giveBack(plan->pool, plan->partitionLengths);
    giveBack(plan->pool, plan->spectraL);
    giveBack(plan->pool, plan->spectraR);
    giveBack(plan->pool, plan->accumulatorsL);
    giveBack(plan->pool, plan->accumulatorsR);
    plan->loaded = false;
    if (e) publishCpu(plan, e);
}

// Work buffer of 3F doubles, FFT spec (inverse scaled by 1/F) and its scratch, and for P > 0 the
// partition lengths, spectra and accumulators of P x F doubles per channel, all zeroed. On failure
// nothing stays allocated: false for a failed spec, a rethrown pool error otherwise.
bool allocateCpu(FFTSTRUCT* plan, int fftSize, int partitions, const char* label) {
    CorePool* pool = plan->pool;
    try {
        plan->work = zeroedDoubles(pool, 3 * int64_t(fftSize), label);
        if (ippsFFTInitAlloc_R_64f(&plan->ippSpec, CoreButl::geto2(fftSize), IPP_FFT_DIV_INV_BY_N,
                                   ippAlgHintAccurate) != ippStsNoErr) {
            releaseCpu(plan, nullptr);
            return false;
        }
        int bytes = 0;
        if (ippsFFTGetBufSize_R_64f(plan->ippSpec, &bytes) != ippStsNoErr || bytes < 1) {
            releaseCpu(plan, nullptr);
            return false;
        }
        plan->ippWork = static_cast<Ipp8u*>(pool->mallc(4, bytes, label));
        if (partitions > 0) {
            const int64_t values = int64_t(partitions) * fftSize;
            plan->partitionLengths = static_cast<int*>(pool->mallc(1, partitions, label));
            plan->spectraL = zeroedDoubles(pool, values, label);
            plan->spectraR = zeroedDoubles(pool, values, label);
            plan->accumulatorsL = zeroedDoubles(pool, values, label);
            plan->accumulatorsR = zeroedDoubles(pool, values, label);
        }
    } catch (...) {
        releaseCpu(plan, nullptr);
        throw;
    }
    return true;
}

// Sizes of a partitioned mode from the plan's kernel length and partition size. The partition must
// equal the block (the delay line moves one slot per block) and the block must divide F (the ring
// position wraps from 2N to N).
bool partitionedSizes(const FFTSTRUCT* plan, int block, int& partitions, int& fftSize) {
    if (block < 1 || plan->partition != block) return false;
    if (!partitionSizes(plan->kernel, plan->partition, block, partitions, fftSize)) return false;
    return fftSize % block == 0;
}

bool loadPartitioned(FFTSTRUCT* plan, FFTEXTENSION* e, int block, long& length) {
    if (plan->loaded) releaseCpu(plan, e);
    if (!plan->pool) return false;
    int partitions = 0;
    int fftSize = 0;
    if (!partitionedSizes(plan, block, partitions, fftSize)) return false;
    if (!allocateCpu(plan, fftSize, partitions, "CNV4")) return false;
    partitionSizes(plan->kernel, plan->partition, block, partitions, fftSize, plan->partitionLengths);
    plan->partitions = partitions;
    plan->fftSize = fftSize;
    plan->ringIndex = 0;
    plan->commonPlan = false;
    plan->loaded = true;
    publishCpu(plan, e);
    length = fftSize;
    return true;
}

// The bridge's entries when it is loaded; null otherwise (also after the loader stopped it).
const CoreCubr::ENTRYSTRUCT* bridgeEntries(const FFTEXTENSION* e) {
    if (!e || !e->bridge || !e->bridge->loaded()) return nullptr;
    return &e->bridge->entry;
}

// Frees mode 12's bridge plans and memory and its partition lengths; safe on a half-made plan. With
// the bridge gone the library and its memory are gone too, so the pointers are only forgotten.
void releaseGpuBlocks(FFTSTRUCT* plan, FFTEXTENSION* e) {
    const CoreCubr::ENTRYSTRUCT* bridge = bridgeEntries(e);
    for (void*& handle : plan->gpuPlans) {
        if (handle && bridge) bridge->despl(handle);
        handle = nullptr;
    }
    float** blocks[] = {&plan->gpuWork, &plan->gpuSpectraL, &plan->gpuSpectraR, &plan->gpuAccumulatorsL,
                        &plan->gpuAccumulatorsR};
    for (float** block : blocks) {
        if (*block && bridge) bridge->free_(*block);
        *block = nullptr;
    }
    giveBack(plan->pool, plan->partitionLengths);
    plan->loaded = false;
    e->gpuWork = nullptr;
    e->gpuSpectraL = e->gpuSpectraR = nullptr;
    e->gpuAccumulatorsL = e->gpuAccumulatorsR = nullptr;
    e->partitionLengths = nullptr;
}

// Bridge memory of the given size in bytes, zeroed; null when the bridge refuses.
float* bridgeBlock(const CoreCubr::ENTRYSTRUCT* bridge, int64_t bytes) {
    void* block = nullptr;
    if (!bridge->mallc(&block, bytes) || !block) return nullptr;
    std::memset(block, 0, static_cast<size_t>(bytes));
    return static_cast<float*>(block);
}

// Starts the bridge's device and returns its entries, or null when there is no usable bridge.
const CoreCubr::ENTRYSTRUCT* startBridge(FFTEXTENSION* e) {
    if (!e || !e->bridge) return nullptr;
    e->bridge->initd(0);
    return bridgeEntries(e);
}

enum class BridgeFamily { perChannel, accumulating };

void unloadHandle(FFTSTRUCT* plan, FFTEXTENSION* e, BridgeFamily family) {
    const CoreCubr::ENTRYSTRUCT* bridge = bridgeEntries(e);
    void*& handle = plan->gpuPlans[0];
    if (handle && bridge) {
        if (family == BridgeFamily::accumulating)
            bridge->af32d(handle);
        else
            bridge->op32d(handle);
    }
    handle = nullptr;
    plan->common = nullptr;
    plan->loaded = false;
}

// Modes 13-16: the bridge keeps the whole plan behind one handle (the first of the plan handles).
// A plan still loaded is unloaded first.
bool loadHandle(FFTSTRUCT* plan, FFTEXTENSION* e, int block, long& length, BridgeFamily family) {
    if (!plan || !e) return false;
    if (plan->loaded) unloadHandle(plan, e, family);
    const CoreCubr::ENTRYSTRUCT* bridge = startBridge(e);
    if (!bridge) return false;
    int partitions = 0;
    int fftSize = 0;
    if (!partitionedSizes(plan, block, partitions, fftSize)) return false;
    const int bins = family == BridgeFamily::accumulating ? fftSize : fftSize / 2 + 1;
    const int32_t record[7] = {partitions, block, fftSize, bins, plan->kernel, plan->partition, fftSize};
    void* handle = nullptr;
    const int32_t ok = family == BridgeFamily::accumulating ? bridge->af32p(record, &handle)
                                                            : bridge->op32p(record, &handle);
    if (!ok || !handle) return false;
    plan->gpuPlans[0] = handle;
    plan->partitions = partitions;
    plan->fftSize = fftSize;
    plan->ringIndex = 0;
    plan->loaded = true;
    e->size = bins;
    e->partitions = partitions;
    e->partitionStride = plan->partition;
    e->kernel = plan->kernel;
    length = fftSize;
    return true;
}

// One block of one channel through the bridge's block entry. The flag goes to the bridge as a value;
// it is lowered here once the right-hand spectra (index 1) have been recomputed.
int bridgeChannel(const double* in, double* out, const void* kernel, double* ring, long position,
                  FFTEXTENSION* e, int spectraIndex, int accumulatorIndex, int entryKind) {
    const CoreCubr::ENTRYSTRUCT* bridge = bridgeEntries(e);
    void* handle = e && e->gpuPlans ? e->gpuPlans[0] : nullptr;
    if (!bridge || !handle) {
        writeSilence(out, e ? e->block : 0);
        return 0;
    }
    const int32_t changed = kernelChanged(e) ? 1 : 0;
    const double* taps = static_cast<const double*>(kernel);
    const int32_t where = static_cast<int32_t>(position);
    if (entryKind == 15)
        bridge->cnm15(handle, in, out, taps, ring, where, spectraIndex, changed);
    else if (entryKind == 16)
        bridge->cnm16(handle, in, out, taps, ring, where, spectraIndex, accumulatorIndex, changed,
                      e->callCounter);
    else
        bridge->cnm17(handle, in, out, taps, ring, where, spectraIndex, accumulatorIndex, changed,
                      e->callCounter);
    if (spectraIndex == 1) lowerKernelChanged(e);
    return 0;
}

// The stereo form of the bridge's two-index entries: left (0, 0) and right (1, 1) with their own
// kernels, or with one kernel both on spectra 1 (left kernel), accumulators 0 and 1.
int bridgeStereo(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                 const void* kernelR, double* ringL, double* ringR, long position, FFTEXTENSION* e,
                 int entryKind) {
    if (e && e->monoKernel) {
        bridgeChannel(inL, outL, kernelL, ringL, position, e, 1, 0, entryKind);
        return bridgeChannel(inR, outR, kernelL, ringR, position, e, 1, 1, entryKind);
    }
    bridgeChannel(inL, outL, kernelL, ringL, position, e, 0, 0, entryKind);
    return bridgeChannel(inR, outR, kernelR, ringR, position, e, 1, 1, entryKind);
}

// Where a common-accumulation call of accumulator `index` keeps its spectrum: slot index + 2 x call
// counter of F doubles in a buffer of 2 x common length doubles; null when there is no buffer or the
// slot would fall outside it (the call then behaves as common mode 3).
double* commonSlot(const FFTEXTENSION* e, int accumulatorIndex, int fftSize) {
    if (!e->commonBuffer || e->callCounter < 0) return nullptr;
    const int64_t slot = accumulatorIndex + 2 * int64_t(e->callCounter);
    if ((slot + 1) * fftSize > 2 * int64_t(e->commonLength)) return nullptr;
    return e->commonBuffer + slot * fftSize;
}

// Modes 10 and 11 for one channel; with `common` the common accumulation of mode 11 applies.
int partitionedChannel(const double* in, double* out, const double* kernel, double* ring, long length,
                       long position, FFTEXTENSION* e, int spectraIndex, int accumulatorIndex, bool common) {
    const int fftSize = e->size;
    const int block = e->block;
    const int partitions = e->partitions;
    int& ringIndex = *e->ringIndex;
    double* x = e->work;
    double* spectra = spectraIndex == 1 ? e->spectraR : e->spectraL;
    double* accumulators = accumulatorIndex == 1 ? e->accumulatorsR : e->accumulatorsL;

    CoreButl::movp0(fftSize, block, x, in);
    ippsFFTFwd_RToPack_64f_I(x, e->ippSpec, e->ippWork);

    if (kernelChanged(e)) {
        for (int k = 0; k < partitions; ++k) {
            double* h = spectra + int64_t(k) * fftSize;
            CoreButl::movp0(fftSize, e->partitionLengths[k], h, kernel + int64_t(k) * e->partitionStride);
            ippsFFTFwd_RToPack_64f_I(h, e->ippSpec, e->ippWork);
        }
        if (spectraIndex == 1) lowerKernelChanged(e);
    }

    // Partition 0 goes into slot r, which then holds the block's spectrum Y; its pass also hands Y to
    // the group or takes the group's sum in. Partitions 1 ... P-1 go into the slots of later blocks,
    // two per pass (the first of them in slot r's pass).
    double* y = accumulators + int64_t(ringIndex) * fftSize;
    int mode = common ? e->commonMode : 3;
    double* shared = nullptr;
    if (mode >= 0 && mode <= 2) {
        shared = commonSlot(e, accumulatorIndex, fftSize);
        if (!shared) mode = 3; // no room for this call: it outputs its own part
    }
    auto slotOf = [&](int k) {
        const int slot = ringIndex + k;
        return accumulators + int64_t(slot < partitions ? slot : slot - partitions) * fftSize;
    };
    auto spectrumOf = [&](int k) { return spectra + int64_t(k) * fftSize; };
    int k = 1;
    if (partitions > 1) {
        switch (mode) {
        case 0: // first of a group: the slot takes this spectrum
            multiplyAccumulatePack<OwnSlot::handOver, true>(x, spectra, y, shared, fftSize, spectrumOf(1),
                                                            slotOf(1));
            break;
        case 1: // member: adds to the slot
            multiplyAccumulatePack<OwnSlot::addOn, true>(x, spectra, y, shared, fftSize, spectrumOf(1),
                                                         slotOf(1));
            break;
        case 2: // last of a group: outputs the sum and frees the slot for the next block
            multiplyAccumulatePack<OwnSlot::takeIn, true>(x, spectra, y, shared, fftSize, spectrumOf(1),
                                                          slotOf(1));
            break;
        default: // alone, or an unknown mode
            multiplyAccumulatePack<OwnSlot::keep, true>(x, spectra, y, nullptr, fftSize, spectrumOf(1),
                                                        slotOf(1));
            break;
        }
        k = 2;
    } else {
        switch (mode) {
        case 0:
            multiplyAccumulatePack<OwnSlot::handOver>(x, spectra, y, shared, fftSize);
            break;
        case 1:
            multiplyAccumulatePack<OwnSlot::addOn>(x, spectra, y, shared, fftSize);
            break;
        case 2:
            multiplyAccumulatePack<OwnSlot::takeIn>(x, spectra, y, shared, fftSize);
            break;
        default:
            multiplyAccumulatePack<OwnSlot::keep>(x, spectra, y, nullptr, fftSize);
            break;
        }
    }
    for (; k + 1 < partitions; k += 2)
        multiplyAccumulatePack<OwnSlot::keep, true>(x, spectrumOf(k), slotOf(k), nullptr, fftSize,
                                                    spectrumOf(k + 1), slotOf(k + 1));
    if (k < partitions) multiplyAccumulatePack<OwnSlot::keep>(x, spectrumOf(k), slotOf(k), nullptr, fftSize);
    // An unknown mode adds nothing; the ring runs out.
    if (mode < 0 || mode > 3) std::memset(y, 0, sizeof(double) * static_cast<size_t>(fftSize));
    if (mode == 2 || mode == 3) {
        // Y is transformed in place, overlap-added and output, and slot r is freed for the block P
        // blocks later.
        ippsFFTInv_PackToR_64f_I(y, e->ippSpec, e->ippWork);
        overlapEmit<true>(ring, length, position, y, fftSize, out, block);
    } else {
        // Slot r is already free. A convolver that hands its spectrum on outputs what its ring
        // holds: zeros while it stays in its group, or the tail of a call that fell back to mode 3
        // (the sum stays whole).
        emitBlock(ring, length, position, out, block);
    }

    if (accumulatorIndex == 1 && ++ringIndex >= partitions) ringIndex = 0;
    return 0;
}

} // namespace

bool partitionSizes(int kernelLength, int partition, int block, int& partitions, int& fftSize, int* lengths) {
    if (kernelLength < 1 || partition < 1 || block < 1) return false;
    const int64_t span = int64_t(block) + partition - 1;
    if (span > largestFft) return false;
    const int size = CoreButl::getp2(static_cast<int>(span));
    const int count = static_cast<int>(std::ceil(static_cast<double>(kernelLength) / partition));
    if (int64_t(count) * size > INT_MAX / 2) return false;
    partitions = count;
    fftSize = size;
    if (lengths)
        for (int k = 0; k < count; ++k) {
            const int rest = kernelLength - k * partition;
            lengths[k] = rest < partition ? rest : partition;
        }
    return true;
}

// ---- Mode 9: one FFT of the padded block against the whole kernel ----

int CoreOpti::cnm10(const double* in, double* out, const void* kernel, double* ring, long length,
                    long position, FFTEXTENSION* e, int channel) {
    const int fftSize = e->size;
    double* x = e->work;
    CoreButl::movp0(fftSize, e->block, x, in);
    ippsFFTFwd_RToPack_64f_I(x, e->ippSpec, e->ippWork);

    // The kernel buffers hold F values (zero beyond F - B + 1), so the circular product is the
    // linear convolution of the block.
    double* h = e->work + int64_t(channel + 1) * fftSize;
    if (kernelChanged(e)) {
        std::memcpy(h, kernel, sizeof(double) * static_cast<size_t>(fftSize));
        ippsFFTFwd_RToPack_64f_I(h, e->ippSpec, e->ippWork);
        if (channel == 1) lowerKernelChanged(e);
    }
    ippsMulPack_64f_I(h, x, fftSize);
    ippsFFTInv_PackToR_64f_I(x, e->ippSpec, e->ippWork);
    overlapEmit<false>(ring, length, position, x, fftSize, out, e->block);
    return 0;
}

int CoreOpti::cns10(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                    const void* kernelR, double* ringL, double* ringR, long length, long position,
                    FFTEXTENSION* e) {
    if (!e || !e->work) return silentBlock(outL, outR, e);
    cnm10(inL, outL, kernelL, ringL, length, position, e, 0);
    return cnm10(inR, outR, kernelR, ringR, length, position, e, 1);
}

bool load3(long first, FFTSTRUCT* plan, FFTEXTENSION* e, int block, long& length) {
    if (!plan || !e) return false;
    if (plan->loaded) releaseCpu(plan, e);
    if (!plan->pool || block < 1) return false;
    // The FFT order is log2 F: anything but a power of two would size the transform wrongly, and the
    // padded block must fit.
    if (first < 2 || first > largestFft || (first & (first - 1)) != 0 || first < block || first % block != 0)
        return false;
    const int fftSize = static_cast<int>(first);
    if (!allocateCpu(plan, fftSize, 0, "CNV3")) return false;
    plan->fftSize = fftSize;
    plan->partitions = 0;
    plan->ringIndex = 0;
    plan->commonPlan = false;
    plan->loaded = true;
    publishCpu(plan, e);
    length = fftSize;
    return true;
}

void uloa3(FFTSTRUCT* plan, FFTEXTENSION* e) {
    if (plan) releaseCpu(plan, e);
}

void clea3(FFTSTRUCT* plan, FFTEXTENSION*) {
    if (plan && plan->work)
        std::memset(plan->work, 0, sizeof(double) * 3 * static_cast<size_t>(plan->fftSize));
}

// ---- Modes 10 and 11: uniformly partitioned ----

int CoreOpti::cnm11(const double* in, double* out, const void* kernel, double* ring, long length,
                    long position, FFTEXTENSION* e, int channel) {
    return partitionedChannel(in, out, static_cast<const double*>(kernel), ring, length, position, e, channel,
                              channel, false);
}

int CoreOpti::cns11(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                    const void* kernelR, double* ringL, double* ringR, long length, long position,
                    FFTEXTENSION* e) {
    if (!e || !e->work || e->partitions < 1) return silentBlock(outL, outR, e);
    cnm11(inL, outL, kernelL, ringL, length, position, e, 0);
    return cnm11(inR, outR, kernelR, ringR, length, position, e, 1);
}

int CoreOpti::cnm12(const double* in, double* out, const void* kernel, double* ring, long length,
                    long position, FFTEXTENSION* e, int spectraIndex, int accumulatorIndex) {
    return partitionedChannel(in, out, static_cast<const double*>(kernel), ring, length, position, e,
                              spectraIndex, accumulatorIndex, true);
}

int CoreOpti::cns12(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                    const void* kernelR, double* ringL, double* ringR, long length, long position,
                    FFTEXTENSION* e) {
    if (!e || !e->work || e->partitions < 1) return silentBlock(outL, outR, e);
    if (e->monoKernel) {
        // One kernel for both channels: its spectra are computed once, into spectra 1.
        cnm12(inL, outL, kernelL, ringL, length, position, e, 1, 0);
        return cnm12(inR, outR, kernelL, ringR, length, position, e, 1, 1);
    }
    cnm12(inL, outL, kernelL, ringL, length, position, e, 0, 0);
    return cnm12(inR, outR, kernelR, ringR, length, position, e, 1, 1);
}

bool load4(long, FFTSTRUCT* plan, FFTEXTENSION* e, int block, long& length) {
    if (!plan || !e) return false;
    return loadPartitioned(plan, e, block, length);
}

bool load5(long, FFTSTRUCT* plan, FFTEXTENSION* e, int block, long& length) {
    if (!plan || !e) return false;
    // A new plan ends the old common plan: a group leader gives back the buffer it owns now, while
    // its common mode still says so.
    ucom1(plan, e);
    if (!loadPartitioned(plan, e, block, length)) return false;
    plan->commonPlan = true;
    plan->commonLength = plan->fftSize;
    return true;
}

void uloa4(FFTSTRUCT* plan, FFTEXTENSION* e) {
    if (plan) releaseCpu(plan, e);
}

void uloa5(FFTSTRUCT* plan, FFTEXTENSION* e) {
    if (!plan) return;
    releaseCpu(plan, e);
    // A group leader unloaded before its common plan must not leak the buffer it owns.
    if (e) ucom1(plan, e);
    plan->common = nullptr;
    plan->commonPlan = false;
}

void clea4(FFTSTRUCT* plan, FFTEXTENSION* e) {
    if (!plan) return;
    clea3(plan, e);
    const size_t bytes =
        sizeof(double) * static_cast<size_t>(plan->partitions) * static_cast<size_t>(plan->fftSize);
    double* blocks[] = {plan->spectraL, plan->spectraR, plan->accumulatorsL, plan->accumulatorsR};
    for (double* block : blocks)
        if (block) std::memset(block, 0, bytes);
}

void clea5(FFTSTRUCT* plan, FFTEXTENSION* e) {
    clea4(plan, e);
}

bool lcom1(FFTSTRUCT* plan, FFTEXTENSION* e, void* data, short commonMode, long length) {
    if (!plan || !e) return false;
    e->commonMode = commonMode;
    e->commonLength = length > 0 && length <= INT_MAX / 2 ? static_cast<int>(length) : 0;
    if (commonMode != 0) {
        plan->common = data;
        e->commonBuffer = static_cast<double*>(data);
        return true;
    }
    // The group's first convolver owns the buffer: room for 2 x length doubles, zeroed.
    plan->common = nullptr;
    e->commonBuffer = nullptr;
    if (e->commonLength < 1 || !plan->pool) return false;
    double* buffer = zeroedDoubles(plan->pool, 2 * int64_t(e->commonLength), "CNV+");
    plan->common = buffer;
    e->commonBuffer = buffer;
    return true;
}

void ucom1(FFTSTRUCT* plan, FFTEXTENSION* e) {
    if (!plan || !e) return;
    if (e->commonMode == 0 && e->commonBuffer) giveBack(plan->pool, e->commonBuffer);
    e->commonBuffer = nullptr;
    plan->common = nullptr;
    e->commonMode = 3;
}

// ---- Mode 12: partitioned in single precision on bridge memory ----

int CoreOpti::cnm14(const double* in, double* out, const void* kernel, double* ring, long length,
                    long position, FFTEXTENSION* e, int channel) {
    const CoreCubr::ENTRYSTRUCT* bridge = bridgeEntries(e);
    if (!bridge || !e->gpuWork) {
        writeSilence(out, e ? e->block : 0);
        return 0;
    }
    const int fftSize = static_cast<int>(length);
    const int bins = e->size;
    const int slotFloats = 2 * bins; // F + 2 floats: bins interleaved complex values
    const int block = e->block;
    const int partitions = e->partitions;
    int& ringIndex = *e->ringIndex;
    float* inverse = e->gpuWork;
    float* forward = e->gpuWork + slotFloats;
    float* spectra = channel == 1 ? e->gpuSpectraR : e->gpuSpectraL;
    float* accumulators = channel == 1 ? e->gpuAccumulatorsR : e->gpuAccumulatorsL;

    std::memset(forward, 0, sizeof(float) * static_cast<size_t>(slotFloats));
    for (int j = 0; j < block; ++j) forward[j] = static_cast<float>(in[j]);
    bridge->exect(e->gpuPlans[0]);

    if (kernelChanged(e)) {
        const double* taps = static_cast<const double*>(kernel);
        std::memset(spectra, 0,
                    sizeof(float) * static_cast<size_t>(slotFloats) * static_cast<size_t>(partitions));
        for (int k = 0; k < partitions; ++k) {
            float* h = spectra + int64_t(k) * slotFloats;
            const double* part = taps + int64_t(k) * e->partitionStride;
            for (int j = 0; j < e->partitionLengths[k]; ++j) h[j] = static_cast<float>(part[j]);
        }
        bridge->exect(e->gpuPlans[2 + channel]);
        if (channel == 1) lowerKernelChanged(e);
    }

    int slot = ringIndex;
    for (int k = 0; k < partitions; ++k) {
        maacf(bins, forward, spectra + int64_t(k) * slotFloats, accumulators + int64_t(slot) * slotFloats);
        if (++slot == partitions) slot = 0;
    }
    float* own = accumulators + int64_t(ringIndex) * slotFloats;
    std::memcpy(inverse, own, sizeof(float) * static_cast<size_t>(slotFloats));
    std::memset(own, 0, sizeof(float) * static_cast<size_t>(slotFloats));
    bridge->exect(e->gpuPlans[1]);

    // The inverse leaves F real values; the two values after them are no part of the result.
    double* upper = ring + position;
    double* lower = upper - length;
    for (int j = 0; j < fftSize; ++j) {
        const double v = static_cast<double>(inverse[j]) * e->inverseScale;
        upper[j] += v;
        lower[j] += v;
    }
    emitBlock(ring, length, position, out, block);
    if (channel == 1 && ++ringIndex >= partitions) ringIndex = 0;
    return 0;
}

int CoreOpti::cns14(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                    const void* kernelR, double* ringL, double* ringR, long length, long position,
                    FFTEXTENSION* e) {
    if (!e || !bridgeEntries(e) || !e->gpuWork || e->partitions < 1) return silentBlock(outL, outR, e);
    cnm14(inL, outL, kernelL, ringL, length, position, e, 0);
    return cnm14(inR, outR, kernelR, ringR, length, position, e, 1);
}

bool load7(long, FFTSTRUCT* plan, FFTEXTENSION* e, int block, long& length) {
    if (!plan || !e) return false;
    if (plan->loaded) releaseGpuBlocks(plan, e);
    const CoreCubr::ENTRYSTRUCT* bridge = startBridge(e);
    if (!bridge || !plan->pool) return false;
    int partitions = 0;
    int fftSize = 0;
    if (!partitionedSizes(plan, block, partitions, fftSize)) return false;
    const int bins = fftSize / 2 + 1;
    const int64_t slotBytes = int64_t(bins) * 8;

    plan->partitionLengths = static_cast<int*>(plan->pool->mallc(1, partitions, "CNV7"));
    partitionSizes(plan->kernel, plan->partition, block, partitions, fftSize, plan->partitionLengths);
    bool ok = (plan->gpuWork = bridgeBlock(bridge, int64_t(bins) * 16)) != nullptr;
    ok = ok &&
         bridge->plan_(fftSize, plan->gpuWork + 2 * bins, plan->gpuWork + 2 * bins, -1, 1,
                       &plan->gpuPlans[0]) &&
         plan->gpuPlans[0];
    ok = ok && bridge->plan_(fftSize, plan->gpuWork, plan->gpuWork, 1, 1, &plan->gpuPlans[1]) &&
         plan->gpuPlans[1];
    float** spectra[] = {&plan->gpuSpectraL, &plan->gpuSpectraR};
    float** accumulators[] = {&plan->gpuAccumulatorsL, &plan->gpuAccumulatorsR};
    for (int channel = 0; channel < 2 && ok; ++channel) {
        ok = (*spectra[channel] = bridgeBlock(bridge, slotBytes * partitions)) != nullptr;
        ok = ok &&
             bridge->plan_(fftSize, *spectra[channel], *spectra[channel], -1, partitions,
                           &plan->gpuPlans[2 + channel]) &&
             plan->gpuPlans[2 + channel];
        ok = ok && (*accumulators[channel] = bridgeBlock(bridge, slotBytes * partitions)) != nullptr;
    }
    if (!ok) {
        releaseGpuBlocks(plan, e);
        return false;
    }
    plan->partitions = partitions;
    plan->fftSize = fftSize;
    plan->ringIndex = 0;
    plan->commonPlan = false;
    plan->loaded = true;
    e->size = bins;
    e->inverseScale = 1.0 / fftSize;
    e->partitions = partitions;
    e->partitionLengths = plan->partitionLengths;
    e->partitionStride = plan->partition;
    e->kernel = plan->kernel;
    e->gpuWork = plan->gpuWork;
    e->gpuSpectraL = plan->gpuSpectraL;
    e->gpuSpectraR = plan->gpuSpectraR;
    e->gpuAccumulatorsL = plan->gpuAccumulatorsL;
    e->gpuAccumulatorsR = plan->gpuAccumulatorsR;
    length = fftSize;
    return true;
}

void uloa7(FFTSTRUCT* plan, FFTEXTENSION* e) {
    if (plan && e) releaseGpuBlocks(plan, e);
}

void clea7(FFTSTRUCT* plan, FFTEXTENSION*) {
    if (!plan || !plan->loaded) return;
    const size_t slotFloats = 2 * (static_cast<size_t>(plan->fftSize) / 2 + 1);
    if (plan->gpuWork) std::memset(plan->gpuWork, 0, sizeof(float) * 2 * slotFloats);
    float* blocks[] = {plan->gpuSpectraL, plan->gpuSpectraR, plan->gpuAccumulatorsL, plan->gpuAccumulatorsR};
    for (float* block : blocks)
        if (block) std::memset(block, 0, sizeof(float) * slotFloats * static_cast<size_t>(plan->partitions));
}

// ---- Modes 13-15: the bridge convolves whole blocks behind one handle ----

int CoreOpti::cnm15(const double* in, double* out, const void* kernel, double* ring, long, long position,
                    FFTEXTENSION* e, int channel) {
    return bridgeChannel(in, out, kernel, ring, position, e, channel, channel, 15);
}

int CoreOpti::cns15(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                    const void* kernelR, double* ringL, double* ringR, long length, long position,
                    FFTEXTENSION* e) {
    cnm15(inL, outL, kernelL, ringL, length, position, e, 0);
    return cnm15(inR, outR, kernelR, ringR, length, position, e, 1);
}

int CoreOpti::cnm16(const double* in, double* out, const void* kernel, double* ring, long, long position,
                    FFTEXTENSION* e, int spectraIndex, int accumulatorIndex) {
    return bridgeChannel(in, out, kernel, ring, position, e, spectraIndex, accumulatorIndex, 16);
}

int CoreOpti::cns16(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                    const void* kernelR, double* ringL, double* ringR, long, long position, FFTEXTENSION* e) {
    return bridgeStereo(inL, inR, outL, outR, kernelL, kernelR, ringL, ringR, position, e, 16);
}

int CoreOpti::cnm17(const double* in, double* out, const void* kernel, double* ring, long, long position,
                    FFTEXTENSION* e, int spectraIndex, int accumulatorIndex) {
    return bridgeChannel(in, out, kernel, ring, position, e, spectraIndex, accumulatorIndex, 17);
}

int CoreOpti::cns17(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                    const void* kernelR, double* ringL, double* ringR, long, long position, FFTEXTENSION* e) {
    return bridgeStereo(inL, inR, outL, outR, kernelL, kernelR, ringL, ringR, position, e, 17);
}

bool load8(long, FFTSTRUCT* plan, FFTEXTENSION* e, int block, long& length) {
    if (!loadHandle(plan, e, block, length, BridgeFamily::perChannel)) return false;
    plan->commonPlan = false;
    return true;
}

bool load9(long, FFTSTRUCT* plan, FFTEXTENSION* e, int block, long& length) {
    if (!loadHandle(plan, e, block, length, BridgeFamily::perChannel)) return false;
    plan->commonPlan = true;
    plan->commonLength = 2 * e->size;
    return true;
}

bool lod10(long, FFTSTRUCT* plan, FFTEXTENSION* e, int block, long& length) {
    if (!loadHandle(plan, e, block, length, BridgeFamily::accumulating)) return false;
    plan->commonPlan = true;
    plan->commonLength = 2 * plan->fftSize;
    return true;
}

void uloa8(FFTSTRUCT* plan, FFTEXTENSION* e) {
    if (plan) unloadHandle(plan, e, BridgeFamily::perChannel);
}

void uloa9(FFTSTRUCT* plan, FFTEXTENSION* e) {
    uloa8(plan, e);
}

void ulo10(FFTSTRUCT* plan, FFTEXTENSION* e) {
    if (plan) unloadHandle(plan, e, BridgeFamily::accumulating);
}

void clea8(FFTSTRUCT* plan, FFTEXTENSION* e) {
    const CoreCubr::ENTRYSTRUCT* bridge = bridgeEntries(e);
    if (plan && bridge && plan->gpuPlans[0]) bridge->op32c(plan->gpuPlans[0]);
}

void clea9(FFTSTRUCT* plan, FFTEXTENSION* e) {
    clea8(plan, e);
}

void cle10(FFTSTRUCT* plan, FFTEXTENSION* e) {
    const CoreCubr::ENTRYSTRUCT* bridge = bridgeEntries(e);
    if (plan && bridge && plan->gpuPlans[0]) bridge->af32c(plan->gpuPlans[0]);
}

// The bridge keeps the common buffer and may replace the pointer it is handed (the group's first
// convolver gets the buffer it made); the pointer it leaves is what grplc gives the others.
bool lcom2(FFTSTRUCT* plan, FFTEXTENSION* e, void* data, short channels, long length) {
    const CoreCubr::ENTRYSTRUCT* bridge = bridgeEntries(e);
    if (!plan || !bridge || !plan->gpuPlans[0]) return false;
    void* common = data;
    const int32_t ok = bridge->opchp(plan->gpuPlans[0], &common, channels, static_cast<int32_t>(length));
    plan->common = common;
    e->commonMode = channels;
    return ok != 0;
}

bool lcom3(FFTSTRUCT* plan, FFTEXTENSION* e, void* data, short channels, long length) {
    const CoreCubr::ENTRYSTRUCT* bridge = bridgeEntries(e);
    if (!plan || !bridge || !plan->gpuPlans[0]) return false;
    void* common = data;
    const int32_t ok = bridge->afchp(plan->gpuPlans[0], &common, channels, static_cast<int32_t>(length));
    plan->common = common;
    e->commonMode = channels;
    return ok != 0;
}

void ucom2(FFTSTRUCT* plan, FFTEXTENSION* e) {
    const CoreCubr::ENTRYSTRUCT* bridge = bridgeEntries(e);
    if (plan && bridge && plan->gpuPlans[0]) bridge->opchd(plan->gpuPlans[0]);
    if (plan) plan->common = nullptr;
}

void ucom3(FFTSTRUCT* plan, FFTEXTENSION* e) {
    const CoreCubr::ENTRYSTRUCT* bridge = bridgeEntries(e);
    if (plan && bridge && plan->gpuPlans[0]) bridge->afchd(plan->gpuPlans[0]);
    if (plan) plan->common = nullptr;
}

// ---- Rows 16 and 17: one tap ----

int CoreOpti::cns18(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                    const void* kernelR, double* ringL, double* ringR, long length, long position,
                    FFTEXTENSION* e) {
    const long tap = e ? e->tapIndex : -1;
    // A tap outside the ring would write past it: the routine then convolves with the whole
    // N-tap kernel, one sample at a time.
    if (tap < 0 || tap >= length)
        return CoreOpti::cnvs0(inL, inR, outL, outR, kernelL, kernelR, ringL, ringR, length, position, e);
    const double xL = inL[0];
    const double xR = inR[0];
    // Silent or denormal input stores +0.0, whatever the sign of the tap.
    const double vL = flushedValue(xL) == 0.0 ? 0.0 : static_cast<const double*>(kernelL)[tap] * xL;
    const double vR = flushedValue(xR) == 0.0 ? 0.0 : static_cast<const double*>(kernelR)[tap] * xR;
    ringL[position + tap] = vL;
    ringL[position + tap - length] = vL;
    ringR[position + tap] = vR;
    ringR[position + tap - length] = vR;
    outL[0] = ringL[position];
    outR[0] = ringR[position];
    return 0;
}

// ---- Row 16's element operations: the elements live in bridge memory ----

int szel2() {
    return 4;
}

void* nwel2(VECEXTENSION* extension, CorePool*, int n) {
    if (!extension || !extension->bridge || !extension->bridge->loaded()) return nullptr;
    void* element = nullptr;
    if (!extension->bridge->entry.avnwe(&element, n)) return nullptr;
    return element;
}

// The bridge has no entry that deletes an element, and row 16 can never be selected.
void dlel2(VECEXTENSION*, CorePool*, void*) {}

void copy2(VECEXTENSION* extension, void* dst, const void* src, int n, bool flag, int offset, bool flush) {
    if (!extension || !extension->bridge || !extension->bridge->loaded()) return;
    extension->bridge->entry.avcpe(dst, src, n, flag ? 1 : 0, offset, flush ? 1 : 0);
}

void adj_2(VECEXTENSION* extension, void* left, void* right, int n, double gain) {
    if (!extension || !extension->bridge || !extension->bridge->loaded()) return;
    extension->bridge->entry.avade(left, right, n, static_cast<float>(gain));
}

void fade2(VECEXTENSION* extension, int n, void* left, void* right, int nIn, const void* envIn, int nOut,
           const void* envOut) {
    if (!extension || !extension->bridge || !extension->bridge->loaded()) return;
    extension->bridge->entry.avfde(n, left, right, nIn, envIn, nOut, envOut);
}

void vmix2(VECEXTENSION* extension, bool skip, bool indexed, bool panned, const VECTORMIXSTRUCT* mix, int n,
           int count, void* dstL, void* dstR, void* const* srcL, void* const* srcR) {
    if (!extension || !extension->bridge || !extension->bridge->loaded() || !mix) return;
    const cudabridge_mix request = {
        mix->gain,         mix->destinationScale, mix->leftToLeft, mix->leftToRight, mix->rightToLeft,
        mix->rightToRight, mix->weightA,          mix->weightB,    mix->elementA,    mix->elementB};
    extension->bridge->entry.avvmx(skip ? 1 : 0, indexed ? 1 : 0, panned ? 1 : 0, &request, n, count, dstL,
                                   dstR, srcL, srcR);
}
