#include "convolution/CoreOpti.h"

#include "platform/CpuidLayer.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <emmintrin.h>

namespace {

// Extended-precision steps: the denormal guard sets MXCSR, which the x87 unit ignores, so a decaying
// tail would slow these routines by orders of magnitude. An input far below any sample format
// (1e-150) is taken as silence, once per step and outside the tap loop.
constexpr double tinyInput = 1e-150;

inline long double extendedInput(double x) {
    return std::fabs(x) < tinyInput ? 0.0L : static_cast<long double>(x);
}

// Output of time p is slot p; then the copies of that slot are free for the time N samples later.
// The copy at p-N is never read by the direct routines, but clearing it too means that N samples of
// silence leave the whole ring zero rather than holding stale copies.
inline void emitSlot(double* ring, long length, long position, double* out) {
    *out = ring[position];
    ring[position - length] = 0.0;
    ring[position] = 0.0;
    ring[position + length] = 0.0;
}

// First window tap whose slot lies at ring index 2N or above. Only those slots need their copy N
// below brought up to date: a slot below 2N is output (and its copy N above cleared) before any
// window reaches that copy, while a slot at 2N or above is read from its lower copy once the position
// wraps back to N. Keeping the rest of the lower third untouched halves the copying of a step.
inline long firstMirroredTap(long length, long position) {
    const long first = 2 * length - position;
    return first < 0 ? 0 : (first > length ? length : first);
}

// The lower copies of window taps first .. N-1, written after the tap loop rather than inside it: the
// extended-precision loops would otherwise need one more x87 store per tap, their scarcest resource.
inline void mirrorWindow(double* window, long first, long length) {
    double* copy = window - length;
    long j = first;
    for (; j + 4 <= length; j += 4) {
        const __m128d a = _mm_loadu_pd(window + j);
        const __m128d b = _mm_loadu_pd(window + j + 2);
        _mm_storeu_pd(copy + j, a);
        _mm_storeu_pd(copy + j + 2, b);
    }
    for (; j < length; ++j) copy[j] = window[j];
}

// Mode 0 for both channels in one loop: w[j] += k[j] x for j < N, and the new values also at w[j] - N
// from the first mirrored tap on. Windows, copies and kernels never overlap, so the compiler may
// vectorise the loops; each tap is still one double product and one double sum, as in scalar code.
inline void accumulateDoublePair(double xL, double xR, const double* __restrict kL,
                                 const double* __restrict kR, double* __restrict wL, double* __restrict wR,
                                 double* __restrict copyL, double* __restrict copyR, long first,
                                 long length) {
    for (long j = 0; j < first; ++j) {
        wL[j] += kL[j] * xL;
        wR[j] += kR[j] * xR;
    }
    for (long j = first; j < length; ++j) {
        const double sumL = wL[j] + kL[j] * xL;
        const double sumR = wR[j] + kR[j] * xR;
        wL[j] = sumL;
        copyL[j] = sumL;
        wR[j] = sumR;
        copyR[j] = sumR;
    }
}

// The x87 unit has no vector form, so the extended-precision loops are bound by their per-tap x87
// operations (copy of x, multiply, add, rounding store); unrolling keeps loop control out of their way.
// Each tap is independent of the others: the order of taps within a step changes no result. The loops
// index from a fixed base: with pointer increments GCC pairs the rounded sums through the stack into
// vector stores, which costs more than it saves.
inline void accumulateExtended(long double x, const double* kernel, double* window, long length) {
    long j = 0;
    for (; j + 4 <= length; j += 4) {
        const long double a = kernel[j] * x;
        const long double b = kernel[j + 1] * x;
        const long double c = kernel[j + 2] * x;
        const long double d = kernel[j + 3] * x;
        window[j] = static_cast<double>(window[j] + a);
        window[j + 1] = static_cast<double>(window[j + 1] + b);
        window[j + 2] = static_cast<double>(window[j + 2] + c);
        window[j + 3] = static_cast<double>(window[j + 3] + d);
    }
    for (; j < length; ++j) window[j] = static_cast<double>(window[j] + kernel[j] * x);
}

// The same taps from N-1 down to 0 (the order of cnvs1), indexed.
inline void accumulateExtendedDownward(long double x, const double* kernel, double* window, long length) {
    long j = length;
    for (; j >= 4; j -= 4) {
        const long double a = kernel[j - 1] * x;
        const long double b = kernel[j - 2] * x;
        const long double c = kernel[j - 3] * x;
        const long double d = kernel[j - 4] * x;
        window[j - 1] = static_cast<double>(window[j - 1] + a);
        window[j - 2] = static_cast<double>(window[j - 2] + b);
        window[j - 3] = static_cast<double>(window[j - 3] + c);
        window[j - 4] = static_cast<double>(window[j - 4] + d);
    }
    for (; j > 0; --j) window[j - 1] = static_cast<double>(window[j - 1] + kernel[j - 1] * x);
}

// The end of a two-sample step, after the tap pairs have been accumulated: the first output,
// the tail of the second sample (its last tap falls into slot p, reused N samples later), and the
// second output.
inline void finishTwoSampleStep(double x1, const double* kernel, double* ring, long length, long position,
                                double* out) {
    emitSlot(ring, length, position, &out[0]);
    const double tail = x1 * kernel[length - 1];
    ring[position + length] = tail;
    ring[position] = tail;
    emitSlot(ring, length, position + 1, &out[1]);
}

} // namespace

int CoreOpti::cnvs0(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                    const void* kernelR, double* ringL, double* ringR, long length, long position,
                    FFTEXTENSION*) {
    double* wL = ringL + position;
    double* wR = ringR + position;
    accumulateDoublePair(inL[0], inR[0], static_cast<const double*>(kernelL),
                         static_cast<const double*>(kernelR), wL, wR, wL - length, wR - length,
                         firstMirroredTap(length, position), length);
    emitSlot(ringL, length, position, outL);
    emitSlot(ringR, length, position, outR);
    return 0;
}

// Modes 1 and 4 finish one channel's taps before the other's: the x87 unit gains nothing from a second
// stream, and interleaving the two windows in one loop measured slower than running them in turn.
template <void (*Accumulate)(long double, const double*, double*, long)>
static int extendedStereoStep(const double* inL, const double* inR, double* outL, double* outR,
                              const void* kernelL, const void* kernelR, double* ringL, double* ringR,
                              long length, long position) {
    double* wL = ringL + position;
    double* wR = ringR + position;
    Accumulate(extendedInput(inL[0]), static_cast<const double*>(kernelL), wL, length);
    Accumulate(extendedInput(inR[0]), static_cast<const double*>(kernelR), wR, length);
    const long first = firstMirroredTap(length, position);
    mirrorWindow(wL, first, length);
    mirrorWindow(wR, first, length);
    emitSlot(ringL, length, position, outL);
    emitSlot(ringR, length, position, outR);
    return 0;
}

int cnvs1(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
          const void* kernelR, double* ringL, double* ringR, long length, long position, FFTEXTENSION*) {
    return extendedStereoStep<accumulateExtendedDownward>(inL, inR, outL, outR, kernelL, kernelR, ringL,
                                                          ringR, length, position);
}

// Mode 4: the taps walked upward; the same values as cnvs1.
int cnvs5(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
          const void* kernelR, double* ringL, double* ringR, long length, long position, FFTEXTENSION*) {
    return extendedStereoStep<accumulateExtended>(inL, inR, outL, outR, kernelL, kernelR, ringL, ringR,
                                                  length, position);
}

void cnvm4(const double* in, const double* kernel, double* ring, long length, long position) {
    double* w = ring + position;
    accumulateExtended(extendedInput(in[0]), kernel, w, length);
    mirrorWindow(w, firstMirroredTap(length, position), length);
}

int CoreOpti::cnvs4(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                    const void* kernelR, double* ringL, double* ringR, long length, long position,
                    FFTEXTENSION*) {
    cnvm4(inL, static_cast<const double*>(kernelL), ringL, length, position);
    cnvm4(inR, static_cast<const double*>(kernelR), ringR, length, position);
    emitSlot(ringL, length, position, outL);
    emitSlot(ringR, length, position, outR);
    return 0;
}

// Unaligned loads and stores throughout: pool blocks are aligned, but p + m and p + m - N are not.
void cnvm2(const double* in, double* out, const double* kernel, double* ring, long length, long position) {
    const double x0 = in[0];
    const double x1 = in[1];
    const __m128d vx0 = _mm_set1_pd(x0);
    const __m128d vx1 = _mm_set1_pd(x1);
    double* w = ring + position;
    double* c = w - length;
    // Pair 0: the second sample has no tap before k[0].
    __m128d sum =
        _mm_add_pd(_mm_mul_pd(vx0, _mm_loadu_pd(kernel)), _mm_mul_pd(vx1, _mm_set_pd(kernel[0], 0.0)));
    __m128d v = _mm_add_pd(_mm_loadu_pd(w), sum);
    _mm_storeu_pd(w, v);
    _mm_storeu_pd(c, v);
    for (long m = 2; m < length; m += 2) {
        sum = _mm_add_pd(_mm_mul_pd(vx0, _mm_loadu_pd(kernel + m)),
                         _mm_mul_pd(vx1, _mm_loadu_pd(kernel + m - 1)));
        v = _mm_add_pd(_mm_loadu_pd(w + m), sum);
        _mm_storeu_pd(w + m, v);
        _mm_storeu_pd(c + m, v);
    }
    finishTwoSampleStep(x1, kernel, ring, length, position, out);
}

void cnvm6(const double* in, double* out, const double* kernel, double* ring, long length, long position) {
    const double x0 = in[0];
    const double x1 = in[1];
    const __m128d vx0 = _mm_set1_pd(x0);
    const __m128d vx1 = _mm_set1_pd(x1);
    // Pointers at the end of the kernel and of both windows; the offset runs from -N up to zero.
    const double* kEnd = kernel + length;
    double* wEnd = ring + position + length;
    double* cEnd = ring + position;
    long offset = -length;
    __m128d sum = _mm_add_pd(_mm_mul_pd(vx0, _mm_loadu_pd(kEnd + offset)),
                             _mm_mul_pd(vx1, _mm_set_pd(kEnd[offset], 0.0)));
    __m128d v = _mm_add_pd(_mm_loadu_pd(wEnd + offset), sum);
    _mm_storeu_pd(wEnd + offset, v);
    _mm_storeu_pd(cEnd + offset, v);
    offset += 2;
    // Two pairs per pass while at least two remain, so that their loads and stores overlap.
    for (; offset <= -4; offset += 4) {
        const __m128d sumA = _mm_add_pd(_mm_mul_pd(vx0, _mm_loadu_pd(kEnd + offset)),
                                        _mm_mul_pd(vx1, _mm_loadu_pd(kEnd + offset - 1)));
        const __m128d sumB = _mm_add_pd(_mm_mul_pd(vx0, _mm_loadu_pd(kEnd + offset + 2)),
                                        _mm_mul_pd(vx1, _mm_loadu_pd(kEnd + offset + 1)));
        const __m128d vA = _mm_add_pd(_mm_loadu_pd(wEnd + offset), sumA);
        const __m128d vB = _mm_add_pd(_mm_loadu_pd(wEnd + offset + 2), sumB);
        _mm_storeu_pd(wEnd + offset, vA);
        _mm_storeu_pd(cEnd + offset, vA);
        _mm_storeu_pd(wEnd + offset + 2, vB);
        _mm_storeu_pd(cEnd + offset + 2, vB);
    }
    if (offset < 0) {
        sum = _mm_add_pd(_mm_mul_pd(vx0, _mm_loadu_pd(kEnd + offset)),
                         _mm_mul_pd(vx1, _mm_loadu_pd(kEnd + offset - 1)));
        v = _mm_add_pd(_mm_loadu_pd(wEnd + offset), sum);
        _mm_storeu_pd(wEnd + offset, v);
        _mm_storeu_pd(cEnd + offset, v);
    }
    finishTwoSampleStep(x1, kernel, ring, length, position, out);
}

int CoreOpti::cnvs2(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                    const void* kernelR, double* ringL, double* ringR, long length, long position,
                    FFTEXTENSION*) {
    cnvm2(inL, outL, static_cast<const double*>(kernelL), ringL, length, position);
    cnvm2(inR, outR, static_cast<const double*>(kernelR), ringR, length, position);
    return 0;
}

int CoreOpti::cnvs6(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                    const void* kernelR, double* ringL, double* ringR, long length, long position,
                    FFTEXTENSION*) {
    cnvm6(inL, outL, static_cast<const double*>(kernelL), ringL, length, position);
    cnvm6(inR, outR, static_cast<const double*>(kernelR), ringR, length, position);
    return 0;
}

int CoreOpti::cnvs3(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                    const void* kernelR, double* ringL, double* ringR, long length, long position,
                    FFTEXTENSION* extension) {
    cnvs1(inL, inR, outL, outR, kernelL, kernelR, ringL, ringR, length, position, extension);
    cnvs1(inL + 1, inR + 1, outL + 1, outR + 1, kernelL, kernelR, ringL, ringR, length, position + 1,
          extension);
    return 0;
}

int CoreOpti::cnvs7(const double* inL, const double* inR, double* outL, double* outR, const void*,
                    const void*, double*, double*, long, long, FFTEXTENSION*) {
    outL[0] = inL[0];
    outR[0] = inR[0];
    return 0;
}

int CoreOpti::cnvs8(const double*, const double*, double*, double*, const void*, const void*, double*,
                    double*, long, long, FFTEXTENSION*) {
    return 0;
}

int CoreOpti::cnvs9(const double*, const double*, double*, double*, const void*, const void*, double*,
                    double*, long, long, FFTEXTENSION*) {
    return 0;
}

int CoreOpti::cns13(const double*, const double*, double*, double*, const void*, const void*, double*,
                    double*, long, long, FFTEXTENSION*) {
    return 0;
}

int cnvm8(const double*, double*, const void*, double*, long, long, FFTEXTENSION*) {
    return 0;
}

int cnvm9(const double*, double*, const void*, double*, long, long, FFTEXTENSION*) {
    return 0;
}

int cnm13(const double*, double*, const void*, double*, long, long, FFTEXTENSION*) {
    return 0;
}

void maacf(int n, const float* a, const float* b, float* acc) {
    for (int i = 0; i < n; ++i) {
        const float aRe = a[2 * i];
        const float aIm = a[2 * i + 1];
        const float bRe = b[2 * i];
        const float bIm = b[2 * i + 1];
        acc[2 * i] += aRe * bRe - aIm * bIm;
        acc[2 * i + 1] += aRe * bIm + aIm * bRe;
    }
}

void kllad(int n, double** buf) {
    double* values = *buf;
    for (int i = n - 1; i >= 0; --i) {
        values[i] = flushedValue(values[i]);
    }
}

void mixr1(int n, double** dL, double** dR, double g) {
    double* left = *dL;
    double* right = *dR;
    for (int i = 0; i < n; ++i) {
        left[i] *= g;
        right[i] *= g;
    }
}

void mixr2(int n, double** dL, double** dR, double** sL, double** sR, double g) {
    double* left = *dL;
    double* right = *dR;
    const double* sourceL = *sL;
    const double* sourceR = *sR;
    for (int i = 0; i < n; ++i) {
        left[i] += g * sourceL[i];
        right[i] += g * sourceR[i];
    }
}

void mixr3(int n, double** dL, double** dR, double** sL, double** sR, double a, double b, double c,
           double d) {
    double* left = *dL;
    double* right = *dR;
    const double* sourceL = *sL;
    const double* sourceR = *sR;
    for (int i = 0; i < n; ++i) {
        const double l = sourceL[i];
        const double r = sourceR[i];
        left[i] += a * l + d * r;
        right[i] += b * l + c * r;
    }
}

void mkefo(int n, int m, double* bufL, double* bufR, const double* env) {
    // Fade lengths come from programs: never reach outside the n samples.
    if (n < 1 || m < 1) return;
    if (m > n) m = n;
    double* left = bufL + (n - m);
    double* right = bufR + (n - m);
    for (int j = 0; j < m; ++j) {
        left[j] *= env[j];
        right[j] *= env[j];
    }
}

bool issm2() {
    return cpuidHasSse2();
}

bool load1(long, FFTSTRUCT*, FFTEXTENSION*, int, long&) {
    return true;
}

bool load2(long, FFTSTRUCT*, FFTEXTENSION*, int, long&) {
    return true;
}

bool load6(long, FFTSTRUCT* plan, FFTEXTENSION*, int, long&) {
    plan->loaded = true;
    return true;
}

void uloa1(FFTSTRUCT*, FFTEXTENSION*) {}
void uloa2(FFTSTRUCT*, FFTEXTENSION*) {}
void uloa6(FFTSTRUCT*, FFTEXTENSION*) {}
void clea1(FFTSTRUCT*, FFTEXTENSION*) {}
void clea2(FFTSTRUCT*, FFTEXTENSION*) {}
void clea6(FFTSTRUCT*, FFTEXTENSION*) {}
