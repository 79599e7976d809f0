// CoreOpti: the innermost loops of the engine: the step routines of the kernel-mode table (direct
// routines here, FFT and GPU routines beside them), and the small vector routines that element
// operations and mixers use. No state of their own; every buffer belongs to the caller, so any
// thread may call them on buffers it alone uses.
#pragma once
#include "convolution/KernelModeTypes.h"

#include <cstdint>
#include <cstring>

// Accumulation ring shared by every step routine: each channel owns 3N doubles addressed by p in
// N..2N-1; the copy at q-N of every slot at or above 2N is kept current, so the N slots from any
// p are contiguous and the tap loop never wraps. The output of time p is slot p; once read, its copies
// (p-N, p, p+N for the direct routines) are zeroed. The double routines rely on the denormal guard
// of the calling thread; the extended-precision ones (x87 ignores that guard) flush a step's tiny
// input themselves.
class CoreOpti {
public:
    // Mode 0: one sample, both channels in one loop, double arithmetic.
    static int cnvs0(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                     const void* kernelR, double* ringL, double* ringR, long length, long position,
                     FFTEXTENSION* extension);
    // Mode 2: two samples, cnvm2 per channel (SSE2). N must be even.
    static int cnvs2(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                     const void* kernelR, double* ringL, double* ringR, long length, long position,
                     FFTEXTENSION* extension);
    // Mode 3: one sample, cnvm4 per channel, then output and clearing for both (extended precision).
    static int cnvs4(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                     const void* kernelR, double* ringL, double* ringR, long length, long position,
                     FFTEXTENSION* extension);
    // Mode 5: two samples, cnvm6 per channel (SSE2). N must be even.
    static int cnvs6(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                     const void* kernelR, double* ringL, double* ringR, long length, long position,
                     FFTEXTENSION* extension);
    // Two samples as two cnvs1 steps at p and p+1 (in no row of the table). N must be even.
    static int cnvs3(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                     const void* kernelR, double* ringL, double* ringR, long length, long position,
                     FFTEXTENSION* extension);
    // Pass-through of one sample per channel.
    static int cnvs7(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                     const void* kernelR, double* ringL, double* ringR, long length, long position,
                     FFTEXTENSION* extension);
    // Block stubs of the FFTW rows 6-8, which can never be selected: they return at once.
    static int cnvs8(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                     const void* kernelR, double* ringL, double* ringR, long length, long position,
                     FFTEXTENSION* extension);
    static int cnvs9(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                     const void* kernelR, double* ringL, double* ringR, long length, long position,
                     FFTEXTENSION* extension);
    static int cns13(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                     const void* kernelR, double* ringL, double* ringR, long length, long position,
                     FFTEXTENSION* extension);

    // Block routines of the FFT and GPU modes 9-17 (CoreOptiBlockModes.cpp); one whole block of
    // extension->block samples per call.
    static int cns10(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                     const void* kernelR, double* ringL, double* ringR, long length, long position,
                     FFTEXTENSION* extension);
    static int cns11(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                     const void* kernelR, double* ringL, double* ringR, long length, long position,
                     FFTEXTENSION* extension);
    static int cns12(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                     const void* kernelR, double* ringL, double* ringR, long length, long position,
                     FFTEXTENSION* extension);
    static int cns14(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                     const void* kernelR, double* ringL, double* ringR, long length, long position,
                     FFTEXTENSION* extension);
    static int cns15(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                     const void* kernelR, double* ringL, double* ringR, long length, long position,
                     FFTEXTENSION* extension);
    static int cns16(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                     const void* kernelR, double* ringL, double* ringR, long length, long position,
                     FFTEXTENSION* extension);
    static int cns17(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                     const void* kernelR, double* ringL, double* ringR, long length, long position,
                     FFTEXTENSION* extension);
    // Their per-channel routines (channel 0 left, 1 right; the channel decides which kernel spectra
    // and accumulators are used and when the kernel-changed flag and the ring index move on).
    static int cnm10(const double* in, double* out, const void* kernel, double* ring, long length,
                     long position, FFTEXTENSION* extension, int channel);
    static int cnm11(const double* in, double* out, const void* kernel, double* ring, long length,
                     long position, FFTEXTENSION* extension, int channel);
    static int cnm12(const double* in, double* out, const void* kernel, double* ring, long length,
                     long position, FFTEXTENSION* extension, int spectraIndex, int accumulatorIndex);
    static int cnm14(const double* in, double* out, const void* kernel, double* ring, long length,
                     long position, FFTEXTENSION* extension, int channel);
    static int cnm15(const double* in, double* out, const void* kernel, double* ring, long length,
                     long position, FFTEXTENSION* extension, int channel);
    static int cnm16(const double* in, double* out, const void* kernel, double* ring, long length,
                     long position, FFTEXTENSION* extension, int spectraIndex, int accumulatorIndex);
    static int cnm17(const double* in, double* out, const void* kernel, double* ring, long length,
                     long position, FFTEXTENSION* extension, int spectraIndex, int accumulatorIndex);
    // One-tap routine of rows 16 and 17.
    static int cns18(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
                     const void* kernelR, double* ringL, double* ringR, long length, long position,
                     FFTEXTENSION* extension);
};

// Mode 1: one sample, both channels in one loop, product and sum in extended precision.
int cnvs1(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
          const void* kernelR, double* ringL, double* ringR, long length, long position,
          FFTEXTENSION* extension);
// Mode 4: as cnvs1.
int cnvs5(const double* inL, const double* inR, double* outL, double* outR, const void* kernelL,
          const void* kernelR, double* ringL, double* ringR, long length, long position,
          FFTEXTENSION* extension);

// Per-channel two-sample steps (in[0], in[1] -> out[0], out[1]); N even. cnvm2 walks the taps upward
// from the ring start, cnvm6 with a negative running offset up to zero; both give the same values.
void cnvm2(const double* in, double* out, const double* kernel, double* ring, long length, long position);
void cnvm6(const double* in, double* out, const double* kernel, double* ring, long length, long position);
// Per-channel accumulation of one sample (no output, no clearing), extended precision.
void cnvm4(const double* in, const double* kernel, double* ring, long length, long position);
// Mono block stubs of rows 6-8: they return at once.
int cnvm8(const double* in, double* out, const void* kernel, double* ring, long length, long position,
          FFTEXTENSION* extension);
int cnvm9(const double* in, double* out, const void* kernel, double* ring, long length, long position,
          FFTEXTENSION* extension);
int cnm13(const double* in, double* out, const void* kernel, double* ring, long length, long position,
          FFTEXTENSION* extension);

// acc += a x b for n interleaved single-precision complex values (real, imaginary).
void maacf(int n, const float* a, const float* b, float* acc);
// Replaces every value of (*buf)[0 .. n-1] whose exponent field is zero (zero, -0.0, denormal) by
// +0.0; n < 1 does nothing.
void kllad(int n, double** buf);
// The value kllad stores for one value: +0.0 where the exponent field is zero, else the value itself.
inline double flushedValue(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0x7FF0000000000000ull) == 0 ? 0.0 : value;
}
// (*dL)[i] x= g, (*dR)[i] x= g.
void mixr1(int n, double** dL, double** dR, double g);
// (*dL)[i] += g x (*sL)[i], (*dR)[i] += g x (*sR)[i].
void mixr2(int n, double** dL, double** dR, double** sL, double** sR, double g);
// (*dL)[i] += a x (*sL)[i] + d x (*sR)[i]; (*dR)[i] += b x (*sL)[i] + c x (*sR)[i].
void mixr3(int n, double** dL, double** dR, double** sL, double** sR, double a, double b, double c, double d);
// Fade-out of the last m of n samples: buf[n-m+j] x= env[j]; m is clamped to 0..n.
void mkefo(int n, int m, double* bufL, double* bufR, const double* env);
// True when the processor reports SSE2 (CPUID leaf 1, EDX bit 26).
bool issm2();

// Callbacks of the FFTW rows 6-8, which can never be selected: load6 marks its plan as loaded, the
// others do nothing.
bool load1(long first, FFTSTRUCT* plan, FFTEXTENSION* extension, int block, long& length);
bool load2(long first, FFTSTRUCT* plan, FFTEXTENSION* extension, int block, long& length);
bool load6(long first, FFTSTRUCT* plan, FFTEXTENSION* extension, int block, long& length);
void uloa1(FFTSTRUCT* plan, FFTEXTENSION* extension);
void uloa2(FFTSTRUCT* plan, FFTEXTENSION* extension);
void uloa6(FFTSTRUCT* plan, FFTEXTENSION* extension);
void clea1(FFTSTRUCT* plan, FFTEXTENSION* extension);
void clea2(FFTSTRUCT* plan, FFTEXTENSION* extension);
void clea6(FFTSTRUCT* plan, FFTEXTENSION* extension);

// Sizes of the partitioned FFT modes for kernel length K, partition size S and block B: P = ceil(K / S)
// partitions, partition k holding min(K - k x S, S) taps (written to lengths[0 .. P-1] when lengths is
// not null), and the FFT size F = the power of two at or above B + S - 1. False, with nothing written,
// when K, S or B is below 1 or the sizes would not fit the engine's buffers (P x F doubles).
bool partitionSizes(int kernelLength, int partition, int block, int& partitions, int& fftSize,
                    int* lengths = nullptr);

// Callbacks of the FFT and GPU modes 9-16 (CoreOptiBlockModes.cpp).
bool load3(long first, FFTSTRUCT* plan, FFTEXTENSION* extension, int block, long& length);
bool load4(long first, FFTSTRUCT* plan, FFTEXTENSION* extension, int block, long& length);
bool load5(long first, FFTSTRUCT* plan, FFTEXTENSION* extension, int block, long& length);
bool load7(long first, FFTSTRUCT* plan, FFTEXTENSION* extension, int block, long& length);
bool load8(long first, FFTSTRUCT* plan, FFTEXTENSION* extension, int block, long& length);
bool load9(long first, FFTSTRUCT* plan, FFTEXTENSION* extension, int block, long& length);
bool lod10(long first, FFTSTRUCT* plan, FFTEXTENSION* extension, int block, long& length);
void uloa3(FFTSTRUCT* plan, FFTEXTENSION* extension);
void uloa4(FFTSTRUCT* plan, FFTEXTENSION* extension);
void uloa5(FFTSTRUCT* plan, FFTEXTENSION* extension);
void uloa7(FFTSTRUCT* plan, FFTEXTENSION* extension);
void uloa8(FFTSTRUCT* plan, FFTEXTENSION* extension);
void uloa9(FFTSTRUCT* plan, FFTEXTENSION* extension);
void ulo10(FFTSTRUCT* plan, FFTEXTENSION* extension);
void clea3(FFTSTRUCT* plan, FFTEXTENSION* extension);
void clea4(FFTSTRUCT* plan, FFTEXTENSION* extension);
void clea5(FFTSTRUCT* plan, FFTEXTENSION* extension);
void clea7(FFTSTRUCT* plan, FFTEXTENSION* extension);
void clea8(FFTSTRUCT* plan, FFTEXTENSION* extension);
void clea9(FFTSTRUCT* plan, FFTEXTENSION* extension);
void cle10(FFTSTRUCT* plan, FFTEXTENSION* extension);
bool lcom1(FFTSTRUCT* plan, FFTEXTENSION* extension, void* data, short commonMode, long length);
bool lcom2(FFTSTRUCT* plan, FFTEXTENSION* extension, void* data, short channels, long length);
bool lcom3(FFTSTRUCT* plan, FFTEXTENSION* extension, void* data, short channels, long length);
void ucom1(FFTSTRUCT* plan, FFTEXTENSION* extension);
void ucom2(FFTSTRUCT* plan, FFTEXTENSION* extension);
void ucom3(FFTSTRUCT* plan, FFTEXTENSION* extension);

// GPU-side element operations of row 16 (CoreOptiBlockModes.cpp): one float per sample.
int szel2();
void* nwel2(VECEXTENSION* extension, CorePool* pool, int n);
void dlel2(VECEXTENSION* extension, CorePool* pool, void* element);
void copy2(VECEXTENSION* extension, void* dst, const void* src, int n, bool flag, int offset, bool flush);
void adj_2(VECEXTENSION* extension, void* left, void* right, int n, double gain);
void fade2(VECEXTENSION* extension, int n, void* left, void* right, int nIn, const void* envIn, int nOut,
           const void* envOut);
void vmix2(VECEXTENSION* extension, bool skip, bool indexed, bool panned, const VECTORMIXSTRUCT* mix, int n,
           int count, void* dstL, void* dstR, void* const* srcL, void* const* srcR);
