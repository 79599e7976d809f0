/* A CPU stand-in for the GPU bridge library, for the loader's tests. Built as four shared libraries
 * from this one source: normal; STANDIN_FAILING_CHECK (cudav fails after filling its whole buffer
 * without a terminator); STANDIN_NO_DEVICE (no device); STANDIN_WITHOUT_CNM17 (that entry left out).
 * The mode entries are stubs that fail. Written in C, which also checks that the bridge header is C. */
#include "platform/CudaBridgeAbi.h"

#include <stdlib.h>
#include <string.h>

static int32_t initCalls = 0;
static int32_t stopCalls = 0;
static char ownText[] = "stand-in text that must never be logged";

/* Outside the bridge's names: 0 gives the init_ calls, 1 the stop_ calls since the library loaded. */
int32_t standin_calls(int32_t which) {
    return which == 0 ? initCalls : stopCalls;
}

int32_t cudabridge_devcs(void) {
#ifdef STANDIN_NO_DEVICE
    return 0;
#else
    return 1;
#endif
}

int32_t cudabridge_init_(int32_t device) {
    (void)device;
    ++initCalls;
    return 1;
}

int32_t cudabridge_stop_(void) {
    ++stopCalls;
    return 1;
}

/* Both text entries also replace the caller's pointer, as a careless bridge might: the loader must
 * keep logging and freeing its own buffer. */
int32_t cudabridge_cudav(int32_t zero, char** text) {
    (void)zero;
#ifdef STANDIN_FAILING_CHECK
    memset(*text, 'F', 256);
    *text = ownText;
    return 0;
#else
    strcpy(*text, "stand-in bridge: CPU, 1 device");
    *text = ownText;
    return 1;
#endif
}

int32_t cudabridge_check(void) {
    return 0;
}

int32_t cudabridge_versn(char** text) {
    strcpy(*text, "stand-in version 0.3");
    *text = ownText;
    return 1;
}

int32_t cudabridge_mallc(void** block, int64_t bytes) {
    if (!block || bytes < 1) return 0;
    *block = calloc(1, (size_t)bytes);
    return *block != NULL;
}

int32_t cudabridge_free_(void* block) {
    free(block);
    return 1;
}

int32_t cudabridge_plan_(int32_t size, void* in, void* out, int32_t direction, int32_t batch, void** handle) {
    (void)size, (void)in, (void)out, (void)direction, (void)batch, (void)handle;
    return 0;
}
int32_t cudabridge_despl(void* handle) {
    return (void)handle, 0;
}
int32_t cudabridge_exect(void* handle) {
    return (void)handle, 0;
}
int32_t cudabridge_op32p(const int32_t record[7], void** handle) {
    return (void)record, (void)handle, 0;
}
int32_t cudabridge_op32d(void* handle) {
    return (void)handle, 0;
}
int32_t cudabridge_op32c(void* handle) {
    return (void)handle, 0;
}
int32_t cudabridge_opchp(void* handle, void** common, int32_t channels, int32_t length) {
    return (void)handle, (void)common, (void)channels, (void)length, 0;
}
int32_t cudabridge_opchd(void* handle) {
    return (void)handle, 0;
}
int32_t cudabridge_cnm15(void* handle, const double* in, double* out, const double* kernel, double* ring,
                         int32_t position, int32_t channel, int32_t kernelChanged) {
    (void)handle, (void)in, (void)out, (void)kernel, (void)ring, (void)position, (void)channel,
        (void)kernelChanged;
    return 0;
}
int32_t cudabridge_cnm16(void* handle, const double* in, double* out, const double* kernel, double* ring,
                         int32_t position, int32_t spectraChannel, int32_t accumulatorChannel,
                         int32_t kernelChanged, int32_t callCounter) {
    (void)handle, (void)in, (void)out, (void)kernel, (void)ring, (void)position, (void)spectraChannel;
    (void)accumulatorChannel, (void)kernelChanged, (void)callCounter;
    return 0;
}
int32_t cudabridge_af32p(const int32_t record[7], void** handle) {
    return (void)record, (void)handle, 0;
}
int32_t cudabridge_af32d(void* handle) {
    return (void)handle, 0;
}
int32_t cudabridge_af32c(void* handle) {
    return (void)handle, 0;
}
int32_t cudabridge_afchp(void* handle, void** common, int32_t channels, int32_t length) {
    return (void)handle, (void)common, (void)channels, (void)length, 0;
}
int32_t cudabridge_afchd(void* handle) {
    return (void)handle, 0;
}
#ifndef STANDIN_WITHOUT_CNM17
int32_t cudabridge_cnm17(void* handle, const double* in, double* out, const double* kernel, double* ring,
                         int32_t position, int32_t spectraChannel, int32_t accumulatorChannel,
                         int32_t kernelChanged, int32_t callCounter) {
    return cudabridge_cnm16(handle, in, out, kernel, ring, position, spectraChannel, accumulatorChannel,
                            kernelChanged, callCounter);
}
#endif
int32_t cudabridge_avnwe(void** element, int32_t count) {
    return (void)element, (void)count, 0;
}
int32_t cudabridge_avcpe(void* dst, const void* src, int32_t count, int32_t flag, int32_t offset,
                         int32_t flush) {
    return (void)dst, (void)src, (void)count, (void)flag, (void)offset, (void)flush, 0;
}
int32_t cudabridge_avade(void* left, void* right, int32_t count, float gain) {
    return (void)left, (void)right, (void)count, (void)gain, 0;
}
int32_t cudabridge_avfde(int32_t count, void* left, void* right, int32_t countIn, const void* envIn,
                         int32_t countOut, const void* envOut) {
    (void)count, (void)left, (void)right, (void)countIn, (void)envIn, (void)countOut, (void)envOut;
    return 0;
}
int32_t cudabridge_avvmx(int32_t skip, int32_t indexed, int32_t panned, const cudabridge_mix* mix,
                         int32_t count, int32_t sources, void* dstL, void* dstR, void* const* srcL,
                         void* const* srcR) {
    (void)skip, (void)indexed, (void)panned, (void)mix, (void)count, (void)sources;
    (void)dstL, (void)dstR, (void)srcL, (void)srcR;
    return 0;
}
int32_t cudabridge_cnm18(void) {
    return 0;
}
