#include "platform/IppLayer.h"

#include <alloca.h>
#include <fftw3.h>
#include <xmmintrin.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <tuple>

namespace {

constexpr size_t blockAlignment = 64;
constexpr int largestOrder = 27;
// Sizes up to here are the audio blocks' transforms (F = 2B with B <= 8192): worth measuring.
constexpr int largestMeasuredOrder = 14;
// Smaller transforms always run on the calling thread, whatever the thread count.
constexpr int smallestThreadedOrder = 15;
// Sizes up to here use out-of-place plans between the caller's array and the work buffer's scratch:
// FFTW's in-place real plans only run the out-of-place one into a buffer of their own and copy it
// back. A caller array that is not 64-byte aligned goes through a temporary on the stack (at most
// 32 KB here), so both cases run the same plan on equally aligned arrays and give the same bits.
constexpr int largestOutOfPlaceOrder = 12;

constexpr unsigned int mxcsrFlushToZero = 0x8000;
constexpr unsigned int mxcsrDenormalsAreZero = 0x0040;
constexpr unsigned int mxcsrUnderflowMask = 0x0800;

std::atomic<int> fftThreadCount{1};

// Built once in static storage and never destroyed, so that a spec released during static destruction
// still finds it; none of it is on the heap, so unloading the library leaves nothing allocated.
template <class T>
T& lastingObject() {
    alignas(T) static unsigned char storage[sizeof(T)];
    static T* object = ::new (static_cast<void*>(storage)) T;
    return *object;
}

// Every FFTW planner call (creation, destruction, thread count) runs under this mutex.
std::mutex& plannerMutex() {
    return lastingObject<std::mutex>();
}

struct PlanKey {
    int length;
    bool inverse;
    int threads;
    bool operator<(const PlanKey& other) const {
        return std::tie(length, inverse, threads) < std::tie(other.length, other.inverse, other.threads);
    }
};

struct SharedPlan {
    fftw_plan plan;
    int users;
};

// Plans shared by every spec of the same (length, direction, thread count); under plannerMutex.
// It holds nodes only while plans are in use.
std::map<PlanKey, SharedPlan>& planTable() {
    return lastingObject<std::map<PlanKey, SharedPlan>>();
}

// Under plannerMutex. Also makes FFTW's own planner thread-safe, which serialises any other FFTW
// user in the host process with us.
bool fftwThreadsReady() {
    static bool initialised = false;
    static bool available = false;
    if (!initialised) {
        initialised = true;
        available = fftw_init_threads() != 0;
        fftw_make_planner_thread_safe();
    }
    return available;
}

void* alignedBlock(size_t bytes) {
    size_t rounded = (bytes + blockAlignment - 1) / blockAlignment * blockAlignment;
    return std::aligned_alloc(blockAlignment, rounded);
}

struct FreeBlock {
    void operator()(void* p) const { std::free(p); }
};

// Planned on internal 64-byte-aligned arrays: in place on length + 2 doubles, or for the
// out-of-place sizes from length reals to length + 2 half-spectrum values (and back). Executions
// run on the work buffer's scratch and on arrays of the same alignment.
fftw_plan acquirePlan(int order, bool inverse, int threads) {
    const int length = 1 << order;
    std::lock_guard<std::mutex> lock(plannerMutex());
    const bool threadsAvailable = fftwThreadsReady();
    if (!threadsAvailable) threads = 1;
    auto& table = planTable();
    PlanKey key{length, inverse, threads};
    auto found = table.find(key);
    if (found != table.end()) {
        ++found->second.users;
        return found->second.plan;
    }
    const size_t bytes = (static_cast<size_t>(length) + 2) * sizeof(double);
    std::unique_ptr<double, FreeBlock> array(static_cast<double*>(alignedBlock(bytes)));
    std::unique_ptr<double, FreeBlock> halfArray;
    if (order <= largestOutOfPlaceOrder) halfArray.reset(static_cast<double*>(alignedBlock(bytes)));
    if (!array || (order <= largestOutOfPlaceOrder && !halfArray)) return nullptr;
    if (threadsAvailable) fftw_plan_with_nthreads(threads);
    const unsigned flags = order <= largestMeasuredOrder ? FFTW_MEASURE : FFTW_ESTIMATE;
    double* real = array.get();
    auto* complex = reinterpret_cast<fftw_complex*>(halfArray ? halfArray.get() : real);
    fftw_plan plan = inverse ? fftw_plan_dft_c2r_1d(length, complex, real, flags)
                             : fftw_plan_dft_r2c_1d(length, real, complex, flags);
    if (threadsAvailable) fftw_plan_with_nthreads(1);
    if (!plan) return nullptr;
    table.emplace(key, SharedPlan{plan, 1});
    return plan;
}

void releasePlan(fftw_plan plan) {
    if (!plan) return;
    std::lock_guard<std::mutex> lock(plannerMutex());
    auto& table = planTable();
    for (auto entry = table.begin(); entry != table.end(); ++entry) {
        if (entry->second.plan != plan) continue;
        if (--entry->second.users == 0) {
            fftw_destroy_plan(plan);
            table.erase(entry);
        }
        return;
    }
}

} // namespace

struct IppsFFTSpec_R_64f {
    int length;
    bool outOfPlace; // plans run between a real array and the scratch (see largestOutOfPlaceOrder)
    double forwardScale;
    double inverseScale;
    fftw_plan forward;
    fftw_plan inverse;
};

struct IppsHilbertSpec_32f32fc {
    int length;
    fftw_complex* scratch; // length values; forward and backward run in place on it
    fftw_plan forward;
    fftw_plan backward;
};

namespace {

// The 64-byte-aligned scratch of length + 2 doubles inside the caller's work buffer, or a block of
// its own when the caller passed none.
class Scratch {
public:
    Scratch(const IppsFFTSpec_R_64f* spec, Ipp8u* buffer) {
        if (buffer) {
            auto address = reinterpret_cast<uintptr_t>(buffer);
            address = (address + blockAlignment - 1) / blockAlignment * blockAlignment;
            data = reinterpret_cast<double*>(address);
        } else {
            owned.reset(
                static_cast<double*>(alignedBlock((static_cast<size_t>(spec->length) + 2) * sizeof(double))));
            data = owned.get();
        }
    }
    double* data = nullptr;

private:
    std::unique_ptr<double, FreeBlock> owned;
};

bool blockAligned(const void* p) {
    return reinterpret_cast<uintptr_t>(p) % blockAlignment == 0;
}

// The first 64-byte boundary in raw; callers ask for blockAlignment bytes more than they use.
double* alignedInside(void* raw) {
    auto address = reinterpret_cast<uintptr_t>(raw);
    return reinterpret_cast<double*>((address + blockAlignment - 1) / blockAlignment * blockAlignment);
}

// dst[i] = src[i] * scale; the two never overlap (one is always the scratch).
void scaledCopy(double* __restrict dst, const double* __restrict src, int count, double scale) {
    if (count <= 0) return;
    if (scale == 1.0) {
        std::memcpy(dst, src, static_cast<size_t>(count) * sizeof(double));
        return;
    }
    for (int i = 0; i < count; ++i) dst[i] = src[i] * scale;
}

} // namespace

Ipp8u* ippsMalloc_8u(int bytes) {
    if (bytes < 1) return nullptr;
    return static_cast<Ipp8u*>(alignedBlock(static_cast<size_t>(bytes)));
}

void ippsFree(void* p) {
    std::free(p);
}

IppStatus ippsFFTInitAlloc_R_64f(IppsFFTSpec_R_64f** spec, int order, int flag, IppHintAlgorithm) {
    if (!spec) return ippStsNullPtrErr;
    *spec = nullptr;
    if (order < 0 || order > largestOrder) return ippStsFftOrderErr;
    if (flag != IPP_FFT_DIV_FWD_BY_N && flag != IPP_FFT_DIV_INV_BY_N && flag != IPP_FFT_DIV_BY_SQRTN &&
        flag != IPP_FFT_NODIV_BY_ANY)
        return ippStsFftFlagErr;

    auto* made = new (std::nothrow) IppsFFTSpec_R_64f{};
    if (!made) return ippStsMemAllocErr;
    made->length = 1 << order;
    made->outOfPlace = order <= largestOutOfPlaceOrder;
    const double length = made->length;
    made->forwardScale = flag == IPP_FFT_DIV_FWD_BY_N   ? 1.0 / length
                         : flag == IPP_FFT_DIV_BY_SQRTN ? 1.0 / std::sqrt(length)
                                                        : 1.0;
    made->inverseScale = flag == IPP_FFT_DIV_INV_BY_N   ? 1.0 / length
                         : flag == IPP_FFT_DIV_BY_SQRTN ? 1.0 / std::sqrt(length)
                                                        : 1.0;
    const int threads = order >= smallestThreadedOrder ? fftThreadCount.load() : 1;
    made->forward = acquirePlan(order, false, threads);
    made->inverse = made->forward ? acquirePlan(order, true, threads) : nullptr;
    if (!made->inverse) {
        releasePlan(made->forward);
        delete made;
        return ippStsMemAllocErr;
    }
    *spec = made;
    return ippStsNoErr;
}

IppStatus ippsFFTFree_R_64f(IppsFFTSpec_R_64f* spec) {
    if (!spec) return ippStsNullPtrErr;
    releasePlan(spec->forward);
    releasePlan(spec->inverse);
    delete spec;
    return ippStsNoErr;
}

IppStatus ippsFFTGetBufSize_R_64f(const IppsFFTSpec_R_64f* spec, int* bytes) {
    if (!spec || !bytes) return ippStsNullPtrErr;
    *bytes = (spec->length + 2) * static_cast<int>(sizeof(double)) + static_cast<int>(blockAlignment);
    return ippStsNoErr;
}

// FFTW's half spectrum in place is R0, I0 (= 0), R1, I1, ..., R(N/2), I(N/2) (= 0 for even N): the
// Pack order is the same sequence without I0 and the final I(N/2), so value i of the Pack is value
// i + 1 of the half spectrum for every i >= 1.
IppStatus ippsFFTFwd_RToPack_64f_I(Ipp64f* srcDst, const IppsFFTSpec_R_64f* spec, Ipp8u* buffer) {
    if (!srcDst || !spec) return ippStsNullPtrErr;
    Scratch scratch(spec, buffer);
    double* half = scratch.data;
    if (!half) return ippStsMemAllocErr;
    const int length = spec->length;
    const size_t bytes = static_cast<size_t>(length) * sizeof(double);
    double* input = half;
    if (spec->outOfPlace) {
        input = srcDst;
        if (!blockAligned(srcDst)) {
            input = alignedInside(alloca(bytes + blockAlignment));
            std::memcpy(input, srcDst, bytes);
        }
    } else {
        std::memcpy(half, srcDst, bytes);
    }
    fftw_execute_dft_r2c(spec->forward, input, reinterpret_cast<fftw_complex*>(half));
    scaledCopy(srcDst, half, 1, spec->forwardScale);
    scaledCopy(srcDst + 1, half + 2, length - 1, spec->forwardScale);
    return ippStsNoErr;
}

namespace {

// Runs the inverse on a half spectrum already in the scratch, with the inverse scale already
// applied to it (the transform is linear), and writes N reals to dst.
void inverseFromHalf(double* half, Ipp64f* dst, const IppsFFTSpec_R_64f* spec) {
    const int length = spec->length;
    const size_t bytes = static_cast<size_t>(length) * sizeof(double);
    // The imaginary parts of bin 0 and bin N/2 of a real signal's spectrum are zero: never let a
    // caller's value there reach the transform.
    half[1] = 0.0;
    if (length % 2 == 0) half[length + 1] = 0.0;
    auto* complex = reinterpret_cast<fftw_complex*>(half);
    if (spec->outOfPlace && blockAligned(dst)) {
        fftw_execute_dft_c2r(spec->inverse, complex, dst);
        return;
    }
    double* output = spec->outOfPlace ? alignedInside(alloca(bytes + blockAlignment)) : half;
    fftw_execute_dft_c2r(spec->inverse, complex, output);
    std::memcpy(dst, output, bytes);
}

} // namespace

IppStatus ippsFFTInv_PackToR_64f_I(Ipp64f* srcDst, const IppsFFTSpec_R_64f* spec, Ipp8u* buffer) {
    if (!srcDst || !spec) return ippStsNullPtrErr;
    Scratch scratch(spec, buffer);
    double* half = scratch.data;
    if (!half) return ippStsMemAllocErr;
    const int length = spec->length;
    scaledCopy(half, srcDst, 1, spec->inverseScale);
    scaledCopy(half + 2, srcDst + 1, length - 1, spec->inverseScale);
    inverseFromHalf(half, srcDst, spec);
    return ippStsNoErr;
}

IppStatus ippsFFTInv_CCSToR_64f_I(Ipp64f* srcDst, const IppsFFTSpec_R_64f* spec, Ipp8u* buffer) {
    if (!srcDst || !spec) return ippStsNullPtrErr;
    Scratch scratch(spec, buffer);
    double* half = scratch.data;
    if (!half) return ippStsMemAllocErr;
    const int halfValues = 2 * (spec->length / 2 + 1);
    scaledCopy(half, srcDst, halfValues, spec->inverseScale);
    inverseFromHalf(half, srcDst, spec);
    return ippStsNoErr;
}

IppStatus ippsMulPack_64f_I(const Ipp64f* src, Ipp64f* srcDst, int len) {
    return ippsMulPack_64f(src, srcDst, srcDst, len);
}

IppStatus ippsMulPack_64f(const Ipp64f* src1, const Ipp64f* src2, Ipp64f* dst, int len) {
    if (!src1 || !src2 || !dst) return ippStsNullPtrErr;
    if (len < 1) return ippStsSizeErr;
    dst[0] = src1[0] * src2[0];
    for (int i = 1; i + 1 < len; i += 2) {
        const double aRe = src1[i], aIm = src1[i + 1];
        const double bRe = src2[i], bIm = src2[i + 1];
        dst[i] = aRe * bRe - aIm * bIm;
        dst[i + 1] = aRe * bIm + aIm * bRe;
    }
    if (len % 2 == 0) dst[len - 1] = src1[len - 1] * src2[len - 1];
    return ippStsNoErr;
}

IppStatus ippsAdd_64f_I(const Ipp64f* src, Ipp64f* srcDst, int len) {
    if (!src || !srcDst) return ippStsNullPtrErr;
    if (len < 1) return ippStsSizeErr;
    for (int i = 0; i < len; ++i) srcDst[i] += src[i];
    return ippStsNoErr;
}

IppStatus ippsConjPack_64fc(const Ipp64f* src, Ipp64fc* dst, int lenDst) {
    if (!src || !dst) return ippStsNullPtrErr;
    if (lenDst < 1) return ippStsSizeErr;
    dst[0] = Ipp64fc{src[0], 0.0};
    for (int k = 1; 2 * k < lenDst; ++k) {
        dst[k] = Ipp64fc{src[2 * k - 1], src[2 * k]};
        dst[lenDst - k] = Ipp64fc{src[2 * k - 1], -src[2 * k]};
    }
    if (lenDst % 2 == 0 && lenDst > 1) dst[lenDst / 2] = Ipp64fc{src[lenDst - 1], 0.0};
    return ippStsNoErr;
}

IppStatus ippsMul_64fc_I(const Ipp64fc* src, Ipp64fc* srcDst, int len) {
    if (!src || !srcDst) return ippStsNullPtrErr;
    if (len < 1) return ippStsSizeErr;
    for (int i = 0; i < len; ++i) {
        const Ipp64fc a = src[i], b = srcDst[i];
        srcDst[i] = Ipp64fc{a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
    }
    return ippStsNoErr;
}

IppStatus ippsHilbertInitAlloc_32f32fc(IppsHilbertSpec_32f32fc** spec, int length, IppHintAlgorithm) {
    if (!spec) return ippStsNullPtrErr;
    *spec = nullptr;
    if (length < 1) return ippStsSizeErr;
    auto* made = new (std::nothrow) IppsHilbertSpec_32f32fc{};
    if (!made) return ippStsMemAllocErr;
    made->length = length;
    made->scratch =
        static_cast<fftw_complex*>(alignedBlock(static_cast<size_t>(length) * sizeof(fftw_complex)));
    if (made->scratch) {
        std::lock_guard<std::mutex> lock(plannerMutex());
        fftwThreadsReady();
        made->forward = fftw_plan_dft_1d(length, made->scratch, made->scratch, FFTW_FORWARD, FFTW_ESTIMATE);
        made->backward = fftw_plan_dft_1d(length, made->scratch, made->scratch, FFTW_BACKWARD, FFTW_ESTIMATE);
    }
    if (!made->forward || !made->backward) {
        ippsHilbertFree_32f32fc(made);
        return ippStsMemAllocErr;
    }
    *spec = made;
    return ippStsNoErr;
}

IppStatus ippsHilbert_32f32fc(const Ipp32f* src, Ipp32fc* dst, IppsHilbertSpec_32f32fc* spec) {
    if (!src || !dst || !spec) return ippStsNullPtrErr;
    const int length = spec->length;
    fftw_complex* values = spec->scratch;
    for (int t = 0; t < length; ++t) {
        values[t][0] = src[t];
        values[t][1] = 0.0;
    }
    fftw_execute(spec->forward);
    // Analytic spectrum: bin 0 and (for even length) bin L/2 kept, positive bins doubled,
    // negative bins cleared.
    for (int k = 1; 2 * k < length; ++k) {
        values[k][0] *= 2.0;
        values[k][1] *= 2.0;
        values[length - k][0] = 0.0;
        values[length - k][1] = 0.0;
    }
    fftw_execute(spec->backward);
    const double scale = 1.0 / length;
    for (int t = 0; t < length; ++t) {
        dst[t].re = src[t];
        dst[t].im = static_cast<Ipp32f>(values[t][1] * scale);
    }
    return ippStsNoErr;
}

IppStatus ippsHilbertFree_32f32fc(IppsHilbertSpec_32f32fc* spec) {
    if (!spec) return ippStsNullPtrErr;
    if (spec->forward || spec->backward) {
        std::lock_guard<std::mutex> lock(plannerMutex());
        if (spec->forward) fftw_destroy_plan(spec->forward);
        if (spec->backward) fftw_destroy_plan(spec->backward);
    }
    std::free(spec->scratch);
    delete spec;
    return ippStsNoErr;
}

IppStatus ippSetFlushToZero(int value, unsigned int* uMask) {
    unsigned int control = _mm_getcsr();
    if (uMask) *uMask = (control & mxcsrUnderflowMask) ? 1u : 0u;
    control = value ? (control | mxcsrFlushToZero) : (control & ~mxcsrFlushToZero);
    _mm_setcsr(control);
    return ippStsNoErr;
}

IppStatus ippSetDenormAreZeros(int value) {
    unsigned int control = _mm_getcsr();
    control = value ? (control | mxcsrDenormalsAreZero) : (control & ~mxcsrDenormalsAreZero);
    _mm_setcsr(control);
    return ippStsNoErr;
}

IppStatus ippSetNumThreads(int n) {
    if (n < 1) return ippStsSizeErr;
    fftThreadCount.store(n);
    return ippStsNoErr;
}

IppStatus ippGetNumThreads(int* n) {
    if (!n) return ippStsNullPtrErr;
    *n = fftThreadCount.load();
    return ippStsNoErr;
}
