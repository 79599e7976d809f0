// IppLayer: the engine's signal-processing layer: aligned blocks, real double FFTs with spectra in
// Pack and CCS order, packed and complex products, the float Hilbert transform, the FFT thread count
// and the thread's denormal modes, implemented over FFTW3. Spec creation and release are thread-safe
// (FFTW's planner runs under one process-wide mutex); a spec is read-only once made, so any number
// of threads may transform with it at once, each with its own work buffer.
#pragma once
#include "platform/IppTypes.h"

// C++ linkage on purpose: these names must never bind to, or be bound by, another signal-processing
// library loaded into the same host process.

// 64-byte-aligned block; null for bytes < 1 or when memory is short. ippsFree(null) does nothing.
Ipp8u* ippsMalloc_8u(int bytes);
void ippsFree(void* p);

// Real FFT of N = 2^order points, order 0 ... 27, flag one of IPP_FFT_*. The hint is ignored.
IppStatus ippsFFTInitAlloc_R_64f(IppsFFTSpec_R_64f** spec, int order, int flag, IppHintAlgorithm hint);
IppStatus ippsFFTFree_R_64f(IppsFFTSpec_R_64f* spec);
// Work buffer size in bytes: (N + 2) * 8 + 64, usable at any alignment.
IppStatus ippsFFTGetBufSize_R_64f(const IppsFFTSpec_R_64f* spec, int* bytes);

// Forward, in place: N reals in, N doubles out in Pack order R0, R1, I1, ..., R(N/2-1), I(N/2-1),
// R(N/2) (for N = 1 just R0). A null buffer makes the call take temporary memory of its own.
IppStatus ippsFFTFwd_RToPack_64f_I(Ipp64f* srcDst, const IppsFFTSpec_R_64f* spec, Ipp8u* buffer);
// Inverse, in place: a Pack spectrum in, N reals out.
IppStatus ippsFFTInv_PackToR_64f_I(Ipp64f* srcDst, const IppsFFTSpec_R_64f* spec, Ipp8u* buffer);
// Inverse, in place: reads the N + 2 doubles R0, I0, R1, I1, ..., R(N/2), I(N/2) (I0 and I(N/2) are
// ignored), writes N reals into srcDst[0 ... N-1].
IppStatus ippsFFTInv_CCSToR_64f_I(Ipp64f* srcDst, const IppsFFTSpec_R_64f* spec, Ipp8u* buffer);

// Products of two Pack spectra of length len (arguments may alias): element 0 and, for even len,
// element len-1 are real; the pairs between them are complex.
IppStatus ippsMulPack_64f_I(const Ipp64f* src, Ipp64f* srcDst, int len);
IppStatus ippsMulPack_64f(const Ipp64f* src1, const Ipp64f* src2, Ipp64f* dst, int len);
IppStatus ippsAdd_64f_I(const Ipp64f* src, Ipp64f* srcDst, int len);
// Expands the Pack spectrum of a length-lenDst transform to lenDst conjugate-symmetric complex values
// (out of place; src and dst must not overlap).
IppStatus ippsConjPack_64fc(const Ipp64f* src, Ipp64fc* dst, int lenDst);
IppStatus ippsMul_64fc_I(const Ipp64fc* src, Ipp64fc* srcDst, int len);

// Analytic signal of length >= 1 points, out of place: dst.re = src, dst.im = the discrete Hilbert
// transform, computed in double. A spec holds its own scratch: one thread at a time.
IppStatus ippsHilbertInitAlloc_32f32fc(IppsHilbertSpec_32f32fc** spec, int length, IppHintAlgorithm hint);
IppStatus ippsHilbert_32f32fc(const Ipp32f* src, Ipp32fc* dst, IppsHilbertSpec_32f32fc* spec);
IppStatus ippsHilbertFree_32f32fc(IppsHilbertSpec_32f32fc* spec);

// The calling thread's SSE control: flush-to-zero (MXCSR 0x8000) and denormals-are-zero (0x0040),
// set for value != 0 and cleared otherwise. A non-null uMask receives the previous underflow-mask
// bit (MXCSR 0x0800) as 0 or 1. x87 arithmetic is not affected.
IppStatus ippSetFlushToZero(int value, unsigned int* uMask);
IppStatus ippSetDenormAreZeros(int value);

// Process-wide FFT thread count, default 1; applies to specs made afterwards for N >= 2^15 (smaller
// transforms always run on the calling thread). n < 1 gives ippStsSizeErr and changes nothing.
IppStatus ippSetNumThreads(int n);
IppStatus ippGetNumThreads(int* n);
