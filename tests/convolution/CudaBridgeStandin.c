// A CPU stand-in for the GPU bridge library, opened by path by the loader's and the kernel modes'
// tests. It gives host memory, batched single-precision real transforms in place over slots of
// F + 2 floats (a plain DFT), block convolvers behind a handle (one direct convolution for every
// block entry; a common buffer is made or taken but not summed into) and float elements. It leaves
// out the two optional entries, check and cnm18. Built as three libraries: normal;
// STANDIN_FAILING_CHECK (cudav fails after filling its whole buffer without a terminator);
// STANDIN_WITHOUT_CNM17. Its own controls: standin_fail makes the next mallc
// (1), plan_ (2) or op32p/af32p (3) fail; standin_count gives how often init_ (0), stop_ (1), avfde
// (2) and avvmx (3) ran; standin_expect makes the calling thread the expected one and clears the
// tally that standin_calls reads (0 every call of the memory, transform, block convolver and
// start/stop entries since then, the state clear aside; 1 those made from another thread). Written in C, which also checks that the
// bridge header is C.
#include "platform/CudaBridgeAbi.h"

#include <math.h>
#include <pthread.h>
#include <stdlib.h>
#include <string.h>

static int32_t failNext = 0;
static int32_t calls[4];
static char ownText[] = "stand-in text that must never be logged";
static pthread_mutex_t tallyLock = PTHREAD_MUTEX_INITIALIZER;
static pthread_t expectedThread;
static int32_t tally[2];
static void noteCaller(void) {
    pthread_mutex_lock(&tallyLock);
    ++tally[0];
    if (!pthread_equal(expectedThread, pthread_self())) ++tally[1];
    pthread_mutex_unlock(&tallyLock);
}
int32_t standin_expect(void) {
    pthread_mutex_lock(&tallyLock);
    expectedThread = pthread_self();
    tally[0] = tally[1] = 0;
    pthread_mutex_unlock(&tallyLock);
    return 1;
}
int32_t standin_calls(int32_t foreign) {
    pthread_mutex_lock(&tallyLock);
    const int32_t n = tally[foreign ? 1 : 0];
    pthread_mutex_unlock(&tallyLock);
    return n;
}
static int failing(int32_t which) {
    const int fails = failNext == which;
    if (fails) failNext = 0;
    return fails;
}

// Both text entries also replace the caller's pointer, as a careless bridge might: the loader must
// keep logging and freeing its own buffer.
#ifdef STANDIN_FAILING_CHECK
#define TEXT_OF_CUDAV (memset(*text, 'F', 256), *text = ownText, 0)
#else
#define TEXT_OF_CUDAV (strcpy(*text, "CPU stand-in bridge, 1 device"), *text = ownText, 1)
#endif
// clang-format off
int32_t standin_fail(int32_t which) { return failNext = which, 1; }
int32_t standin_count(int32_t which) { return which >= 0 && which < 4 ? calls[which] : -1; }
int32_t cudabridge_devcs(void) { return 1; }
int32_t cudabridge_init_(int32_t device) { return noteCaller(), ++calls[0]; }
int32_t cudabridge_stop_(void) { return noteCaller(), ++calls[1]; }
int32_t cudabridge_cudav(int32_t zero, char** text) { return TEXT_OF_CUDAV; }
int32_t cudabridge_versn(char** text) { return strcpy(*text, "stand-in 1.0"), *text = ownText, 1; }
int32_t cudabridge_mallc(void** block, int64_t bytes) {
    noteCaller();
    return bytes > 0 && !failing(1) && (*block = calloc(1, (size_t)bytes)) != NULL;
}
int32_t cudabridge_free_(void* block) { return noteCaller(), free(block), 1; }
// clang-format on

// ---- Batched real transforms, unscaled; bins interleaved (re, im) ----

typedef struct FloatPlan {
    int32_t size, direction, batch;
    float* data;
    double* x; // one slot in double
} FloatPlan;

int32_t cudabridge_plan_(int32_t size, void* in, void* out, int32_t direction, int32_t batch, void** handle) {
    noteCaller();
    if (size < 2 || in != out || batch < 1 || failing(2)) return 0;
    FloatPlan* plan = calloc(1, sizeof *plan);
    plan->size = size, plan->direction = direction, plan->batch = batch, plan->data = in;
    plan->x = calloc((size_t)size + 2, sizeof(double));
    *handle = plan;
    return 1;
}
int32_t cudabridge_despl(void* handle) {
    noteCaller();
    free(((FloatPlan*)handle)->x);
    free(handle);
    return 1;
}

// The inverse weighs bins 1 .. n/2 - 1 twice; the imaginary parts of bins 0 and n/2 meet sin(0) and
// sin(pi j), as a complex-to-real transform ignores them.
int32_t cudabridge_exect(void* handle) {
    noteCaller();
    FloatPlan* p = handle;
    const int32_t n = p->size, outputs = p->direction < 0 ? n / 2 + 1 : n;
    const double turn = 2.0 * 3.14159265358979323846 / n;
    for (int32_t b = 0; b < p->batch; ++b) {
        float* slot = p->data + (size_t)b * (size_t)(n + 2);
        for (int32_t j = 0; j < n + 2; ++j) p->x[j] = slot[j];
        for (int32_t out = 0; out < outputs; ++out) {
            double re = 0.0, im = 0.0;
            for (int32_t k = 0; k < (p->direction < 0 ? n : n / 2 + 1); ++k) {
                const double angle = turn * (double)(((int64_t)k * out) % n), c = cos(angle), s = sin(angle);
                if (p->direction < 0)
                    re += p->x[k] * c, im -= p->x[k] * s;
                else
                    re += (k % (n / 2) ? 2.0 : 1.0) * (p->x[2 * k] * c - p->x[2 * k + 1] * s);
            }
            if (p->direction < 0)
                slot[2 * out] = (float)re, slot[2 * out + 1] = (float)im;
            else
                slot[out] = (float)re;
        }
    }
    return 1;
}

// ---- Block convolvers: record P, B, F, bins, K, S, F ----

typedef struct Convolver {
    int32_t block, kernel;
    double* state; // the taps of spectra 0 and 1, then of accumulators 0 and 1 the last K - 1 + B inputs
    double* ownCommon;
} Convolver;

static size_t stateValues(const Convolver* c) {
    return 4 * (size_t)c->kernel + 2 * (size_t)c->block;
}
static int32_t create(const int32_t record[7], void** handle) {
    noteCaller();
    if (failing(3) || record[1] < 1 || record[4] < 1) return 0;
    Convolver* c = calloc(1, sizeof *c);
    c->block = record[1], c->kernel = record[4];
    c->state = calloc(stateValues(c), sizeof(double));
    *handle = c;
    return 1;
}
// Mode 0 makes the group's buffer of 2 x length doubles; the others need the one they are given.
static int32_t attachCommon(Convolver* c, void** common, int32_t mode, int32_t length) {
    noteCaller();
    free(c->ownCommon), c->ownCommon = NULL;
    if (mode == 0 && length > 0) *common = c->ownCommon = calloc(2 * (size_t)length, sizeof(double));
    return *common != NULL;
}
static int32_t convolveBlock(Convolver* c, const double* in, double* out, const double* kernel,
                             int32_t spectraIndex, int32_t accumulatorIndex, int32_t kernelChanged) {
    noteCaller();
    const int32_t k = c->kernel, b = c->block;
    double *taps = c->state + spectraIndex * k, *x = c->state + 2 * k + accumulatorIndex * (k + b);
    if (kernelChanged) memcpy(taps, kernel, (size_t)k * sizeof(double));
    memmove(x, x + b, (size_t)(k - 1) * sizeof(double));
    memcpy(x + k - 1, in, (size_t)b * sizeof(double));
    for (int32_t j = 0; j < b; ++j) {
        out[j] = 0.0;
        for (int32_t t = 0; t < k; ++t) out[j] += taps[t] * x[k - 1 + j - t];
    }
    return 1;
}

// The two block-convolver families differ only in their names.
// clang-format off
static int32_t destroy(Convolver* c) { return noteCaller(), free(c->ownCommon), free(c->state), free(c), 1; }
static int32_t clearState(Convolver* c) { return memset(c->state, 0, stateValues(c) * sizeof(double)), 1; }
static int32_t detachCommon(Convolver* c) { return noteCaller(), free(c->ownCommon), c->ownCommon = NULL, 1; }
#define HANDLE_ENTRIES(open, close, clear, attach, detach)                                                 \
    int32_t cudabridge_##open(const int32_t record[7], void** handle) { return create(record, handle); }    \
    int32_t cudabridge_##close(void* handle) { return destroy(handle); }                                   \
    int32_t cudabridge_##clear(void* handle) { return clearState(handle); }                                \
    int32_t cudabridge_##attach(void* handle, void** common, int32_t mode, int32_t length) {               \
        return attachCommon(handle, common, mode, length);                                                 \
    }                                                                                                      \
    int32_t cudabridge_##detach(void* handle) { return detachCommon(handle); }
HANDLE_ENTRIES(op32p, op32d, op32c, opchp, opchd)
HANDLE_ENTRIES(af32p, af32d, af32c, afchp, afchd)
// clang-format on

// One convolution for every block entry; cnm16 and cnm17 ignore the call counter.
#define BLOCK_ENTRY(name)                                                                                   \
    int32_t cudabridge_##name(void* handle, const double* in, double* out, const double* kernel,      \
                              double* ring, int32_t position, int32_t spectraChannel,                       \
                              int32_t accumulatorChannel, int32_t kernelChanged, int32_t callCounter) {     \
        return convolveBlock(handle, in, out, kernel, spectraChannel, accumulatorChannel, kernelChanged);   \
    }
BLOCK_ENTRY(cnm16)
#ifndef STANDIN_WITHOUT_CNM17
BLOCK_ENTRY(cnm17)
#endif
int32_t cudabridge_cnm15(void* handle, const double* in, double* out, const double* kernel, double* ring,
                         int32_t position, int32_t channel, int32_t kernelChanged) {
    return convolveBlock(handle, in, out, kernel, channel, channel, kernelChanged);
}

// ---- Elements of one float per sample ----
// clang-format off
int32_t cudabridge_avnwe(void** element, int32_t count) {
    return (*element = calloc((size_t)count, sizeof(float))) != NULL;
}
int32_t cudabridge_avcpe(void* dst, const void* src, int32_t count, int32_t flag, int32_t offset,
                         int32_t flush) {
    return memcpy((float*)dst + offset, src, (size_t)count * sizeof(float)), 1;
}
int32_t cudabridge_avade(void* left, void* right, int32_t count, float gain) {
    for (int32_t j = 0; j < count; ++j) ((float*)left)[j] *= gain, ((float*)right)[j] *= gain;
    return 1;
}
int32_t cudabridge_avfde(int32_t count, void* left, void* right, int32_t countIn, const void* envIn,
                         int32_t countOut, const void* envOut) { return ++calls[2]; }
int32_t cudabridge_avvmx(int32_t skip, int32_t indexed, int32_t panned, const cudabridge_mix* mix,
                         int32_t count, int32_t sources, void* dstL, void* dstR, void* const* srcL,
                         void* const* srcR) {
    return ++calls[3];
}
// clang-format on
