// A CPU stand-in for the GPU bridge library, opened by path by the loader's and the kernel modes'
// tests. It gives what the GPU modes call: host memory, batched single-precision real transforms in
// place over slots of F + 2 floats (a plain DFT), block convolvers behind a handle (direct
// convolution with the common accumulation of the partitioned modes) and float elements. Built as
// four libraries from this source: normal; STANDIN_FAILING_CHECK (cudav fails after filling its
// whole buffer without a terminator); STANDIN_NO_DEVICE; STANDIN_WITHOUT_CNM17 (that entry left
// out). Its own controls, outside the bridge's names: standin_fail makes the next mallc (1), plan_
// (2) or op32p/af32p (3) fail; standin_count gives how often init_ (0), stop_ (1), avfde (2) and
// avvmx (3) ran. Written in C, which also checks that the bridge header is C. One thread at a time.
#include "platform/CudaBridgeAbi.h"

#include <math.h>
#include <stdlib.h>
#include <string.h>

static int32_t failNext = 0;
static int32_t calls[4];
static char ownText[] = "stand-in text that must never be logged";

int32_t standin_fail(int32_t which) {
    failNext = which;
    return 1;
}

int32_t standin_count(int32_t which) {
    return which >= 0 && which < 4 ? calls[which] : -1;
}

static int failing(int32_t which) {
    if (failNext != which) return 0;
    failNext = 0;
    return 1;
}

int32_t cudabridge_devcs(void) {
#ifdef STANDIN_NO_DEVICE
    return 0;
#else
    return 1;
#endif
}

int32_t cudabridge_init_(int32_t device) {
    ++calls[0];
    return 1;
}

int32_t cudabridge_stop_(void) {
    ++calls[1];
    return 1;
}

// Both text entries also replace the caller's pointer, as a careless bridge might: the loader must
// keep logging and freeing its own buffer.
int32_t cudabridge_cudav(int32_t zero, char** text) {
#ifdef STANDIN_FAILING_CHECK
    memset(*text, 'F', 256);
    *text = ownText;
    return 0;
#else
    strcpy(*text, "CPU stand-in bridge, 1 device");
    *text = ownText;
    return 1;
#endif
}

int32_t cudabridge_check(void) {
    return 0;
}

int32_t cudabridge_versn(char** text) {
    strcpy(*text, "stand-in 1.0");
    *text = ownText;
    return 1;
}

int32_t cudabridge_mallc(void** block, int64_t bytes) {
    if (!block || bytes < 1 || failing(1)) return 0;
    *block = calloc(1, (size_t)bytes);
    return *block != NULL;
}

int32_t cudabridge_free_(void* block) {
    free(block);
    return 1;
}

// ---- Batched real transforms, unscaled; bins interleaved (re, im) ----

typedef struct FloatPlan {
    int32_t size, direction, batch;
    float* data;
    double *x, *cosine, *sine; // one slot in double; cos and sin of 2 pi m / size
} FloatPlan;

int32_t cudabridge_plan_(int32_t size, void* in, void* out, int32_t direction, int32_t batch, void** handle) {
    if (!handle || size < 2 || (size & (size - 1)) || !in || in != out ||
        (direction != -1 && direction != 1) || batch < 1 || failing(2))
        return 0;
    FloatPlan* plan = calloc(1, sizeof *plan);
    plan->size = size, plan->direction = direction, plan->batch = batch, plan->data = in;
    plan->x = calloc(3 * (size_t)size + 2, sizeof(double));
    plan->cosine = plan->x + size + 2, plan->sine = plan->cosine + size;
    for (int32_t m = 0; m < size; ++m)
        plan->cosine[m] = cos(2.0 * 3.14159265358979323846 * m / size),
        plan->sine[m] = sin(2.0 * 3.14159265358979323846 * m / size);
    *handle = plan;
    return 1;
}

int32_t cudabridge_despl(void* handle) {
    FloatPlan* plan = handle;
    if (plan) free(plan->x);
    free(plan);
    return plan != NULL;
}

int32_t cudabridge_exect(void* handle) {
    FloatPlan* plan = handle;
    if (!plan) return 0;
    const int32_t n = plan->size;
    const double *x = plan->x, *c = plan->cosine, *s = plan->sine;
    for (int32_t b = 0; b < plan->batch; ++b) {
        float* slot = plan->data + (size_t)b * (size_t)(n + 2);
        for (int32_t j = 0; j < n + 2; ++j) plan->x[j] = slot[j];
        if (plan->direction == -1) {
            for (int32_t k = 0; k <= n / 2; ++k) {
                double re = 0.0, im = 0.0;
                for (int32_t j = 0, m = 0; j < n; ++j, m = (m + k) % n) re += x[j] * c[m], im -= x[j] * s[m];
                slot[2 * k] = (float)re, slot[2 * k + 1] = (float)im;
            }
        } else { // the imaginary parts of bins 0 and n/2 are ignored, as a complex-to-real transform does
            for (int32_t j = 0; j < n; ++j) {
                double v = x[0] + x[n] * (j % 2 ? -1.0 : 1.0);
                for (int32_t k = 1, m = j; k < n / 2; ++k, m = (m + j) % n)
                    v += 2.0 * (x[2 * k] * c[m] - x[2 * k + 1] * s[m]);
                slot[j] = (float)v;
            }
        }
    }
    return 1;
}

// ---- Block convolvers: record P, B, F, bins, K, S, F ----

typedef struct Convolver {
    int32_t block, kernel;
    double* taps[2];    // per spectra index, taken while the kernel-changed flag is up
    double* history[2]; // per accumulator index: the last K - 1 + B inputs
    int32_t commonMode, commonLength, ownsCommon;
    double* common;
} Convolver;

static void releaseCommon(Convolver* c) {
    if (c->ownsCommon) free(c->common);
    c->common = NULL, c->ownsCommon = 0, c->commonMode = 3;
}

static int32_t destroy(void* handle) {
    Convolver* c = handle;
    if (c) releaseCommon(c), free(c->taps[0]);
    free(c);
    return c != NULL;
}

static size_t stateValues(const Convolver* c) {
    return 4 * (size_t)c->kernel + 2 * (size_t)c->block;
}

static int32_t create(const int32_t record[7], void** handle) {
    // P, B, F, bins (F / 2 + 1 or F), K, S, F
    if (!record || !handle || failing(3) || record[1] < 1 || record[4] < 1 || record[3] < record[2] / 2 + 1)
        return 0;
    Convolver* c = calloc(1, sizeof *c);
    c->block = record[1], c->kernel = record[4], c->commonMode = 3;
    c->taps[0] = calloc(stateValues(c), sizeof(double));
    c->taps[1] = c->taps[0] + c->kernel, c->history[0] = c->taps[1] + c->kernel;
    c->history[1] = c->history[0] + c->kernel + c->block;
    *handle = c;
    return 1;
}

static int32_t clearState(void* handle) {
    Convolver* c = handle;
    if (c) memset(c->taps[0], 0, stateValues(c) * sizeof(double));
    return c != NULL;
}

// Mode 0 makes the group's buffer of 2 x length doubles; the others take the one they are given.
static int32_t attachCommon(void* handle, void** common, int32_t mode, int32_t length) {
    Convolver* c = handle;
    if (!c || !common) return 0;
    releaseCommon(c);
    c->commonMode = mode, c->commonLength = length;
    if (mode != 0) {
        c->common = *common;
        return 1;
    }
    if (length < 1) return 0;
    *common = c->common = calloc(2 * (size_t)length, sizeof(double));
    c->ownsCommon = 1;
    return 1;
}

static int32_t detachCommon(void* handle) {
    if (handle) releaseCommon(handle);
    return handle != NULL;
}

// Common modes as the partitioned CPU mode has them: 0 hands the block on, 1 adds to it, 2 takes
// the sum in and outputs it, 3 outputs alone; a slot outside the buffer behaves as 3.
static int32_t convolveBlock(void* handle, const double* in, double* out, const double* kernel,
                             int32_t spectraIndex, int32_t accumulatorIndex, int32_t kernelChanged,
                             int32_t counter, int useCommon) {
    Convolver* c = handle;
    if (!c || spectraIndex < 0 || spectraIndex > 1 || accumulatorIndex < 0 || accumulatorIndex > 1) return 0;
    const int32_t k = c->kernel, b = c->block;
    double* taps = c->taps[spectraIndex];
    double* x = c->history[accumulatorIndex];
    if (kernelChanged) memcpy(taps, kernel, (size_t)k * sizeof(double));
    memmove(x, x + b, (size_t)(k - 1) * sizeof(double));
    memcpy(x + k - 1, in, (size_t)b * sizeof(double));
    int32_t mode = useCommon ? c->commonMode : 3;
    const int64_t slot = accumulatorIndex + 2 * (int64_t)counter;
    double* shared = c->common && counter >= 0 && (slot + 1) * b <= 2 * (int64_t)c->commonLength
                         ? c->common + slot * b
                         : NULL;
    if (mode >= 0 && mode <= 2 && !shared) mode = 3;
    for (int32_t j = 0; j < b; ++j) {
        double y = 0.0;
        for (int32_t t = 0; t < k; ++t) y += taps[t] * x[k - 1 + j - t];
        out[j] = mode == 2 ? y + shared[j] : mode == 3 ? y : 0.0;
        if (mode == 0) shared[j] = y;
        if (mode == 1) shared[j] += y;
        if (mode == 2) shared[j] = 0.0;
    }
    return 1;
}

// The two block-convolver families differ only in their names.
// clang-format off
#define HANDLE_ENTRIES(open, close, clear, attach, detach)                                                   \
    int32_t cudabridge_##open(const int32_t record[7], void** handle) { return create(record, handle); }      \
    int32_t cudabridge_##close(void* handle) { return destroy(handle); }                                     \
    int32_t cudabridge_##clear(void* handle) { return clearState(handle); }                                  \
    int32_t cudabridge_##attach(void* handle, void** common, int32_t mode, int32_t length) {                 \
        return attachCommon(handle, common, mode, length);                                                   \
    }                                                                                                        \
    int32_t cudabridge_##detach(void* handle) { return detachCommon(handle); }
// clang-format on
HANDLE_ENTRIES(op32p, op32d, op32c, opchp, opchd)
HANDLE_ENTRIES(af32p, af32d, af32c, afchp, afchd)

int32_t cudabridge_cnm15(void* handle, const double* in, double* out, const double* kernel, double* ring,
                         int32_t position, int32_t channel, int32_t kernelChanged) {
    return convolveBlock(handle, in, out, kernel, channel, channel, kernelChanged, 0, 0);
}
int32_t cudabridge_cnm16(void* handle, const double* in, double* out, const double* kernel, double* ring,
                         int32_t position, int32_t spectraChannel, int32_t accumulatorChannel,
                         int32_t kernelChanged, int32_t callCounter) {
    return convolveBlock(handle, in, out, kernel, spectraChannel, accumulatorChannel, kernelChanged,
                         callCounter, 1);
}
#ifndef STANDIN_WITHOUT_CNM17
int32_t cudabridge_cnm17(void* handle, const double* in, double* out, const double* kernel, double* ring,
                         int32_t position, int32_t spectraChannel, int32_t accumulatorChannel,
                         int32_t kernelChanged, int32_t callCounter) {
    return cudabridge_cnm16(handle, in, out, kernel, ring, position, spectraChannel, accumulatorChannel,
                            kernelChanged, callCounter);
}
#endif

// ---- Elements of one float per sample ----

int32_t cudabridge_avnwe(void** element, int32_t count) {
    if (!element || count < 1) return 0;
    *element = calloc((size_t)count, sizeof(float));
    return *element != NULL;
}
int32_t cudabridge_avcpe(void* dst, const void* src, int32_t count, int32_t flag, int32_t offset,
                         int32_t flush) {
    if (!dst || !src || count < 1 || offset < 0) return 0;
    memcpy((float*)dst + offset, src, (size_t)count * sizeof(float));
    return 1;
}
int32_t cudabridge_avade(void* left, void* right, int32_t count, float gain) {
    for (int32_t j = 0; j < count; ++j) ((float*)left)[j] *= gain, ((float*)right)[j] *= gain;
    return 1;
}
int32_t cudabridge_avfde(int32_t count, void* left, void* right, int32_t countIn, const void* envIn,
                         int32_t countOut, const void* envOut) {
    ++calls[2];
    return 1;
}
int32_t cudabridge_avvmx(int32_t skip, int32_t indexed, int32_t panned, const cudabridge_mix* mix,
                         int32_t count, int32_t sources, void* dstL, void* dstR, void* const* srcL,
                         void* const* srcR) {
    ++calls[3];
    return 1;
}
int32_t cudabridge_cnm18(void) {
    return 0;
}
