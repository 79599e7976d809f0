/* CudaBridgeAbi: the C interface of the GPU bridge library that CoreCubr opens at run time: the
 * 30 entry points, each exported as "cudabridge_" + its short name, with every width fixed.
 * Every entry returns int32_t; where the engine expects success, non-zero means success.
 * Thread use is the bridge's business: the engine calls it under its engine lock. */
#pragma once
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* One vector-mix request for the GPU element operation (mirrors the engine's mix request). */
typedef struct cudabridge_mix {
    double gain;
    double destinationScale;
    double leftToLeft;
    double leftToRight;
    double rightToLeft;
    double rightToRight;
    double weightA;
    double weightB;
    int32_t elementA; /* negative: none */
    int32_t elementB; /* negative: none */
} cudabridge_mix;

/* Text entries write at most 255 characters and a NUL into the caller's 256-byte buffer *text and
 * never replace the pointer. */
int32_t cudabridge_devcs(void); /* number of devices */
int32_t cudabridge_init_(int32_t device);
int32_t cudabridge_stop_(void);
int32_t cudabridge_cudav(int32_t zero, char** text); /* non-zero when the bridge works */
int32_t cudabridge_check(void);
int32_t cudabridge_versn(char** text);
/* Host-addressable memory: the engine zeroes and copies into it directly. */
int32_t cudabridge_mallc(void** block, int64_t bytes);
int32_t cudabridge_free_(void* block);
/* direction: -1 forward (real to complex), 1 inverse. */
int32_t cudabridge_plan_(int32_t size, void* in, void* out, int32_t direction, int32_t batch, void** handle);
int32_t cudabridge_despl(void* handle);
int32_t cudabridge_exect(void* handle);
/* record: P, B, F, bins, K, S, F */
int32_t cudabridge_op32p(const int32_t record[7], void** handle);
int32_t cudabridge_op32d(void* handle);
int32_t cudabridge_op32c(void* handle);
int32_t cudabridge_opchp(void* handle, void** common, int32_t channels, int32_t length);
int32_t cudabridge_opchd(void* handle);
int32_t cudabridge_cnm15(void* handle, const double* in, double* out, const double* kernel, double* ring,
                         int32_t position, int32_t channel, int32_t kernelChanged);
int32_t cudabridge_cnm16(void* handle, const double* in, double* out, const double* kernel, double* ring,
                         int32_t position, int32_t spectraChannel, int32_t accumulatorChannel,
                         int32_t kernelChanged, int32_t callCounter);
int32_t cudabridge_af32p(const int32_t record[7], void** handle);
int32_t cudabridge_af32d(void* handle);
int32_t cudabridge_af32c(void* handle);
int32_t cudabridge_afchp(void* handle, void** common, int32_t channels, int32_t length);
int32_t cudabridge_afchd(void* handle);
int32_t cudabridge_cnm17(void* handle, const double* in, double* out, const double* kernel, double* ring,
                         int32_t position, int32_t spectraChannel, int32_t accumulatorChannel,
                         int32_t kernelChanged, int32_t callCounter);
int32_t cudabridge_avnwe(void** element, int32_t count);
int32_t cudabridge_avcpe(void* dst, const void* src, int32_t count, int32_t flag, int32_t offset,
                         int32_t flush);
int32_t cudabridge_avade(void* left, void* right, int32_t count, float gain);
int32_t cudabridge_avfde(int32_t count, void* left, void* right, int32_t countIn, const void* envIn,
                         int32_t countOut, const void* envOut);
int32_t cudabridge_avvmx(int32_t skip, int32_t indexed, int32_t panned, const cudabridge_mix* mix,
                         int32_t count, int32_t sources, void* dstL, void* dstR, void* const* srcL,
                         void* const* srcR);
int32_t cudabridge_cnm18(void);

/* The same signatures as pointer types, for the loader's table. */
typedef int32_t (*cudabridge_devcs_fn)(void);
typedef int32_t (*cudabridge_init__fn)(int32_t);
typedef int32_t (*cudabridge_stop__fn)(void);
typedef int32_t (*cudabridge_cudav_fn)(int32_t, char**);
typedef int32_t (*cudabridge_check_fn)(void);
typedef int32_t (*cudabridge_versn_fn)(char**);
typedef int32_t (*cudabridge_mallc_fn)(void**, int64_t);
typedef int32_t (*cudabridge_free__fn)(void*);
typedef int32_t (*cudabridge_plan__fn)(int32_t, void*, void*, int32_t, int32_t, void**);
typedef int32_t (*cudabridge_despl_fn)(void*);
typedef int32_t (*cudabridge_exect_fn)(void*);
typedef int32_t (*cudabridge_op32p_fn)(const int32_t[7], void**);
typedef int32_t (*cudabridge_op32d_fn)(void*);
typedef int32_t (*cudabridge_op32c_fn)(void*);
typedef int32_t (*cudabridge_opchp_fn)(void*, void**, int32_t, int32_t);
typedef int32_t (*cudabridge_opchd_fn)(void*);
typedef int32_t (*cudabridge_cnm15_fn)(void*, const double*, double*, const double*, double*, int32_t,
                                       int32_t, int32_t);
typedef int32_t (*cudabridge_cnm16_fn)(void*, const double*, double*, const double*, double*, int32_t,
                                       int32_t, int32_t, int32_t, int32_t);
typedef int32_t (*cudabridge_af32p_fn)(const int32_t[7], void**);
typedef int32_t (*cudabridge_af32d_fn)(void*);
typedef int32_t (*cudabridge_af32c_fn)(void*);
typedef int32_t (*cudabridge_afchp_fn)(void*, void**, int32_t, int32_t);
typedef int32_t (*cudabridge_afchd_fn)(void*);
typedef int32_t (*cudabridge_cnm17_fn)(void*, const double*, double*, const double*, double*, int32_t,
                                       int32_t, int32_t, int32_t, int32_t);
typedef int32_t (*cudabridge_avnwe_fn)(void**, int32_t);
typedef int32_t (*cudabridge_avcpe_fn)(void*, const void*, int32_t, int32_t, int32_t, int32_t);
typedef int32_t (*cudabridge_avade_fn)(void*, void*, int32_t, float);
typedef int32_t (*cudabridge_avfde_fn)(int32_t, void*, void*, int32_t, const void*, int32_t, const void*);
typedef int32_t (*cudabridge_avvmx_fn)(int32_t, int32_t, int32_t, const cudabridge_mix*, int32_t, int32_t,
                                       void*, void*, void* const*, void* const*);
typedef int32_t (*cudabridge_cnm18_fn)(void);

#ifdef __cplusplus
}
#endif
