/* A CPU stand-in for the GPU bridge library that gives the GPU kernel modes what they call, for the
 * kernel-mode tests: host memory, batched single-precision real FFTs in place over slots of F + 2
 * floats, and block convolvers behind a handle that work as the partitioned CPU mode does (with
 * common accumulation). Arithmetic in double with a plain radix-2 FFT; one test thread at a time.
 * Outside the bridge's names, standin_fail makes the next mallc, plan_ or op32p/af32p fail and
 * standin_count reports how often the element entries ran. */
#include "platform/CudaBridgeAbi.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

enum { FAIL_NONE = 0, FAIL_MALLC = 1, FAIL_PLAN = 2, FAIL_OPEN = 3 };

static int32_t failNext = FAIL_NONE;
static int32_t elementCalls[5];

int32_t standin_fail(int32_t which) {
    failNext = which;
    return 1;
}

/* 0 avnwe, 1 avcpe, 2 avade, 3 avfde, 4 avvmx. */
int32_t standin_count(int32_t which) {
    return which >= 0 && which < 5 ? elementCalls[which] : -1;
}

static int failing(int32_t which) {
    if (failNext != which) return 0;
    failNext = FAIL_NONE;
    return 1;
}

static int isPowerOfTwo(int32_t n) {
    return n > 0 && (n & (n - 1)) == 0;
}

/* In-place complex FFT of n points (a power of two), sign -1 forward, +1 inverse, unscaled. */
static void complexFft(double* re, double* im, int32_t n, int sign) {
    for (int32_t i = 1, j = 0; i < n; ++i) {
        int32_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) {
            double t = re[i];
            re[i] = re[j];
            re[j] = t;
            t = im[i];
            im[i] = im[j];
            im[j] = t;
        }
    }
    for (int32_t len = 2; len <= n; len <<= 1) {
        const double angle = sign * 2.0 * 3.14159265358979323846 / len;
        for (int32_t start = 0; start < n; start += len)
            for (int32_t k = 0; k < len / 2; ++k) {
                const double wr = cos(angle * k), wi = sin(angle * k);
                const int32_t a = start + k, b = a + len / 2;
                const double xr = re[b] * wr - im[b] * wi;
                const double xi = re[b] * wi + im[b] * wr;
                re[b] = re[a] - xr;
                im[b] = im[a] - xi;
                re[a] += xr;
                im[a] += xi;
            }
    }
}

/* Real forward FFT of n points: bins n/2 + 1 complex values, interleaved. */
static void realForward(double* re, double* im, int32_t n, double* spectrum) {
    for (int32_t j = 0; j < n; ++j) im[j] = 0.0;
    complexFft(re, im, n, -1);
    for (int32_t k = 0; k <= n / 2; ++k) {
        spectrum[2 * k] = re[k];
        spectrum[2 * k + 1] = im[k];
    }
}

/* Real inverse FFT (unscaled) of the n/2 + 1 interleaved bins; the result is left in re. The
 * imaginary parts of bins 0 and n/2 are ignored, as a complex-to-real transform does. */
static void realInverse(const double* spectrum, int32_t n, double* re, double* im) {
    for (int32_t k = 0; k <= n / 2; ++k) {
        re[k] = spectrum[2 * k];
        im[k] = spectrum[2 * k + 1];
    }
    im[0] = 0.0;
    if (n > 1) im[n / 2] = 0.0;
    for (int32_t k = n / 2 + 1; k < n; ++k) {
        re[k] = re[n - k];
        im[k] = -im[n - k];
    }
    complexFft(re, im, n, 1);
}

int32_t cudabridge_devcs(void) {
    return 1;
}

int32_t cudabridge_init_(int32_t device) {
    return (void)device, 1;
}

int32_t cudabridge_stop_(void) {
    return 1;
}

int32_t cudabridge_cudav(int32_t zero, char** text) {
    (void)zero;
    strcpy(*text, "CPU stand-in bridge for the kernel modes");
    return 1;
}

int32_t cudabridge_check(void) {
    return 1;
}

int32_t cudabridge_versn(char** text) {
    strcpy(*text, "stand-in modes 1.0");
    return 1;
}

int32_t cudabridge_mallc(void** block, int64_t bytes) {
    if (!block || bytes < 1 || failing(FAIL_MALLC)) return 0;
    *block = calloc(1, (size_t)bytes);
    return *block != NULL;
}

int32_t cudabridge_free_(void* block) {
    free(block);
    return 1;
}

/* ---- Batched float FFT plans ---- */

typedef struct FloatPlan {
    int32_t size;
    int32_t direction;
    int32_t batch;
    float* data;
    double* re;
    double* im;
    double* spectrum;
} FloatPlan;

int32_t cudabridge_plan_(int32_t size, void* in, void* out, int32_t direction, int32_t batch, void** handle) {
    if (!handle || !isPowerOfTwo(size) || !in || in != out || (direction != -1 && direction != 1) ||
        batch < 1 || failing(FAIL_PLAN))
        return 0;
    FloatPlan* plan = calloc(1, sizeof *plan);
    if (!plan) return 0;
    plan->size = size;
    plan->direction = direction;
    plan->batch = batch;
    plan->data = in;
    plan->re = calloc((size_t)size, sizeof(double));
    plan->im = calloc((size_t)size, sizeof(double));
    plan->spectrum = calloc((size_t)size + 2, sizeof(double));
    *handle = plan;
    return 1;
}

int32_t cudabridge_despl(void* handle) {
    FloatPlan* plan = handle;
    if (!plan) return 0;
    free(plan->re);
    free(plan->im);
    free(plan->spectrum);
    free(plan);
    return 1;
}

int32_t cudabridge_exect(void* handle) {
    FloatPlan* plan = handle;
    if (!plan) return 0;
    const int32_t n = plan->size;
    for (int32_t b = 0; b < plan->batch; ++b) {
        float* slot = plan->data + (size_t)b * (size_t)(n + 2);
        if (plan->direction == -1) {
            for (int32_t j = 0; j < n; ++j) plan->re[j] = slot[j];
            realForward(plan->re, plan->im, n, plan->spectrum);
            for (int32_t j = 0; j < n + 2; ++j) slot[j] = (float)plan->spectrum[j];
        } else {
            for (int32_t j = 0; j < n + 2; ++j) plan->spectrum[j] = slot[j];
            realInverse(plan->spectrum, n, plan->re, plan->im);
            for (int32_t j = 0; j < n; ++j) slot[j] = (float)plan->re[j];
        }
    }
    return 1;
}

/* ---- Block convolvers behind one handle ---- */

typedef struct Convolver {
    int32_t partitions, block, fftSize, bins, kernel, partition;
    int32_t spectrumValues; /* 2 x (F/2 + 1) doubles per spectrum */
    int32_t commonStride;   /* 2 x the record's bin count: doubles per common slot */
    double* spectra[2];
    double* accumulators[2];
    double *re, *im, *x, *y;
    int32_t ringIndex;
    int32_t commonMode;
    double* common;
    int32_t commonLength;
    int ownsCommon;
} Convolver;

static void releaseCommon(Convolver* c) {
    if (c->ownsCommon) free(c->common);
    c->common = NULL;
    c->ownsCommon = 0;
    c->commonMode = 3;
}

static int32_t destroy(void* handle) {
    Convolver* c = handle;
    if (!c) return 0;
    releaseCommon(c);
    for (int i = 0; i < 2; ++i) {
        free(c->spectra[i]);
        free(c->accumulators[i]);
    }
    free(c->re);
    free(c->im);
    free(c->x);
    free(c->y);
    free(c);
    return 1;
}

static int32_t create(const int32_t record[7], void** handle) {
    if (!record || !handle || failing(FAIL_OPEN)) return 0;
    const int32_t partitions = record[0], block = record[1], fftSize = record[2], bins = record[3];
    if (partitions < 1 || block < 1 || !isPowerOfTwo(fftSize) || bins < fftSize / 2 + 1 || record[4] < 1 ||
        record[5] < 1 || record[6] != fftSize)
        return 0;
    Convolver* c = calloc(1, sizeof *c);
    if (!c) return 0;
    c->partitions = partitions;
    c->block = block;
    c->fftSize = fftSize;
    c->bins = bins;
    c->kernel = record[4];
    c->partition = record[5];
    c->spectrumValues = 2 * (fftSize / 2 + 1);
    c->commonStride = 2 * bins;
    c->commonMode = 3;
    const size_t values = (size_t)partitions * (size_t)c->spectrumValues;
    for (int i = 0; i < 2; ++i) {
        c->spectra[i] = calloc(values, sizeof(double));
        c->accumulators[i] = calloc(values, sizeof(double));
    }
    c->re = calloc((size_t)fftSize, sizeof(double));
    c->im = calloc((size_t)fftSize, sizeof(double));
    c->x = calloc((size_t)c->spectrumValues, sizeof(double));
    c->y = calloc((size_t)c->spectrumValues, sizeof(double));
    *handle = c;
    return 1;
}

static int32_t clearState(void* handle) {
    Convolver* c = handle;
    if (!c) return 0;
    const size_t values = (size_t)c->partitions * (size_t)c->spectrumValues;
    for (int i = 0; i < 2; ++i) {
        memset(c->spectra[i], 0, values * sizeof(double));
        memset(c->accumulators[i], 0, values * sizeof(double));
    }
    return 1;
}

static int32_t attachCommon(void* handle, void** common, int32_t mode, int32_t length) {
    Convolver* c = handle;
    if (!c || !common) return 0;
    releaseCommon(c);
    c->commonMode = mode;
    c->commonLength = length;
    if (mode != 0) {
        c->common = *common;
        return 1;
    }
    if (length < 1) return 0;
    c->common = calloc(2 * (size_t)length, sizeof(double));
    c->ownsCommon = c->common != NULL;
    *common = c->common;
    return c->common != NULL;
}

static int32_t detachCommon(void* handle) {
    Convolver* c = handle;
    if (!c) return 0;
    releaseCommon(c);
    return 1;
}

static void transform(Convolver* c, const double* samples, int32_t count, double* spectrum) {
    for (int32_t j = 0; j < c->fftSize; ++j) c->re[j] = j < count ? samples[j] : 0.0;
    realForward(c->re, c->im, c->fftSize, spectrum);
}

static double* commonSlot(Convolver* c, int32_t accumulator, int32_t counter) {
    if (!c->common || counter < 0) return NULL;
    const int64_t slot = accumulator + 2 * (int64_t)counter;
    if ((slot + 1) * c->commonStride > 2 * (int64_t)c->commonLength) return NULL;
    return c->common + slot * c->commonStride;
}

static int32_t convolveBlock(void* handle, const double* in, double* out, const double* kernel, double* ring,
                             int32_t position, int32_t spectraIndex, int32_t accumulatorIndex,
                             int32_t kernelChanged, int32_t counter, int useCommon) {
    Convolver* c = handle;
    if (!c || spectraIndex < 0 || spectraIndex > 1 || accumulatorIndex < 0 || accumulatorIndex > 1) return 0;
    const int32_t values = c->spectrumValues, n = c->fftSize;
    double* spectra = c->spectra[spectraIndex];
    double* accumulators = c->accumulators[accumulatorIndex];
    transform(c, in, c->block, c->x);
    if (kernelChanged)
        for (int32_t k = 0; k < c->partitions; ++k) {
            const int32_t rest = c->kernel - k * c->partition;
            transform(c, kernel + (size_t)k * (size_t)c->partition, rest < c->partition ? rest : c->partition,
                      spectra + (size_t)k * (size_t)values);
        }
    for (int32_t k = 0; k < c->partitions; ++k) {
        const double* h = spectra + (size_t)k * (size_t)values;
        double* acc = accumulators + (size_t)((c->ringIndex + k) % c->partitions) * (size_t)values;
        for (int32_t i = 0; i < values; i += 2) {
            acc[i] += c->x[i] * h[i] - c->x[i + 1] * h[i + 1];
            acc[i + 1] += c->x[i] * h[i + 1] + c->x[i + 1] * h[i];
        }
    }
    double* own = accumulators + (size_t)c->ringIndex * (size_t)values;
    memcpy(c->y, own, (size_t)values * sizeof(double));
    memset(own, 0, (size_t)values * sizeof(double));

    int32_t mode = useCommon ? c->commonMode : 3;
    double* shared = NULL;
    if (mode >= 0 && mode <= 2) {
        shared = commonSlot(c, accumulatorIndex, counter);
        if (!shared) mode = 3;
    }
    int output = 1;
    if (mode == 0) {
        memcpy(shared, c->y, (size_t)values * sizeof(double));
        output = 0;
    } else if (mode == 1) {
        for (int32_t i = 0; i < values; ++i) shared[i] += c->y[i];
        output = 0;
    } else if (mode == 2) {
        for (int32_t i = 0; i < values; ++i) c->y[i] += shared[i];
        memset(shared, 0, (size_t)values * sizeof(double));
    } else if (mode != 3) {
        output = 0;
    }
    if (output) {
        realInverse(c->y, n, c->re, c->im);
        for (int32_t j = 0; j < n; ++j) {
            const double v = c->re[j] / n;
            ring[position + j] += v;
            ring[position + j - n] += v;
        }
    }
    for (int32_t j = 0; j < c->block; ++j) {
        out[j] = ring[position + j];
        ring[position + j] = 0.0;
        ring[position + j - n] = 0.0;
    }
    if (accumulatorIndex == 1) c->ringIndex = (c->ringIndex + 1) % c->partitions;
    return 1;
}

int32_t cudabridge_op32p(const int32_t record[7], void** handle) {
    return create(record, handle);
}
int32_t cudabridge_op32d(void* handle) {
    return destroy(handle);
}
int32_t cudabridge_op32c(void* handle) {
    return clearState(handle);
}
int32_t cudabridge_opchp(void* handle, void** common, int32_t channels, int32_t length) {
    return attachCommon(handle, common, channels, length);
}
int32_t cudabridge_opchd(void* handle) {
    return detachCommon(handle);
}
int32_t cudabridge_cnm15(void* handle, const double* in, double* out, const double* kernel, double* ring,
                         int32_t position, int32_t channel, int32_t kernelChanged) {
    return convolveBlock(handle, in, out, kernel, ring, position, channel, channel, kernelChanged, 0, 0);
}
int32_t cudabridge_cnm16(void* handle, const double* in, double* out, const double* kernel, double* ring,
                         int32_t position, int32_t spectraChannel, int32_t accumulatorChannel,
                         int32_t kernelChanged, int32_t callCounter) {
    return convolveBlock(handle, in, out, kernel, ring, position, spectraChannel, accumulatorChannel,
                         kernelChanged, callCounter, 1);
}
int32_t cudabridge_af32p(const int32_t record[7], void** handle) {
    return create(record, handle);
}
int32_t cudabridge_af32d(void* handle) {
    return destroy(handle);
}
int32_t cudabridge_af32c(void* handle) {
    return clearState(handle);
}
int32_t cudabridge_afchp(void* handle, void** common, int32_t channels, int32_t length) {
    return attachCommon(handle, common, channels, length);
}
int32_t cudabridge_afchd(void* handle) {
    return detachCommon(handle);
}
int32_t cudabridge_cnm17(void* handle, const double* in, double* out, const double* kernel, double* ring,
                         int32_t position, int32_t spectraChannel, int32_t accumulatorChannel,
                         int32_t kernelChanged, int32_t callCounter) {
    return convolveBlock(handle, in, out, kernel, ring, position, spectraChannel, accumulatorChannel,
                         kernelChanged, callCounter, 1);
}

/* ---- Elements of one float per sample ---- */

int32_t cudabridge_avnwe(void** element, int32_t count) {
    ++elementCalls[0];
    if (!element || count < 1) return 0;
    *element = calloc((size_t)count, sizeof(float));
    return *element != NULL;
}
int32_t cudabridge_avcpe(void* dst, const void* src, int32_t count, int32_t flag, int32_t offset,
                         int32_t flush) {
    (void)flag, (void)flush;
    ++elementCalls[1];
    if (!dst || count < 1 || offset < 0) return 0;
    float* target = (float*)dst + offset;
    if (src)
        memcpy(target, src, (size_t)count * sizeof(float));
    else
        memset(target, 0, (size_t)count * sizeof(float));
    return 1;
}
int32_t cudabridge_avade(void* left, void* right, int32_t count, float gain) {
    ++elementCalls[2];
    if (!left || !right) return 0;
    for (int32_t j = 0; j < count; ++j) {
        ((float*)left)[j] *= gain;
        ((float*)right)[j] *= gain;
    }
    return 1;
}
int32_t cudabridge_avfde(int32_t count, void* left, void* right, int32_t countIn, const void* envIn,
                         int32_t countOut, const void* envOut) {
    (void)count, (void)left, (void)right, (void)countIn, (void)envIn, (void)countOut, (void)envOut;
    ++elementCalls[3];
    return 1;
}
int32_t cudabridge_avvmx(int32_t skip, int32_t indexed, int32_t panned, const cudabridge_mix* mix,
                         int32_t count, int32_t sources, void* dstL, void* dstR, void* const* srcL,
                         void* const* srcR) {
    (void)skip, (void)indexed, (void)panned, (void)mix, (void)count, (void)sources;
    (void)dstL, (void)dstR, (void)srcL, (void)srcR;
    ++elementCalls[4];
    return 1;
}
int32_t cudabridge_cnm18(void) {
    return 0;
}
