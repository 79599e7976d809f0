// IppTypes: the element types of the FFT and vector layer, defined here so that base/ and the
// signal code never include the FFT library's headers. Plain data; no threading concerns.
#pragma once

// One complex double: real part then imaginary part, two consecutive doubles (the layout of the
// FFT library's complex type, so buffers can be handed over without copying).
struct Ipp64fc {
    double re;
    double im;
};

// The remaining types of the layer (platform/IppLayer.h).
#include <cstdint>

typedef uint8_t Ipp8u;
typedef float Ipp32f;
typedef double Ipp64f;

struct Ipp32fc {
    Ipp32f re;
    Ipp32f im;
};

// Every call of the layer returns ippStsNoErr or one of the negative codes below; on an error the
// call writes nothing (a failed creation sets the FFT spec pointer to null).
enum IppStatus : int32_t {
    ippStsNoErr = 0,
    ippStsNullPtrErr = -1,  // a pointer argument is null
    ippStsSizeErr = -2,     // a length or count below 1
    ippStsFftOrderErr = -3, // an FFT order outside 0 ... 27
    ippStsFftFlagErr = -4,  // an FFT scaling flag other than the four below
    ippStsMemAllocErr = -5, // memory or an FFT plan could not be had
};

// Accepted and ignored: every transform is computed to full double accuracy.
enum IppHintAlgorithm : int32_t {
    ippAlgHintNone = 0,
    ippAlgHintFast = 1,
    ippAlgHintAccurate = 2,
};

// Scaling of a real FFT spec, fixed when that FFT spec is made.
constexpr int IPP_FFT_DIV_FWD_BY_N = 1; // forward times 1/N, inverse unscaled
constexpr int IPP_FFT_DIV_INV_BY_N = 2; // forward unscaled, inverse times 1/N
constexpr int IPP_FFT_DIV_BY_SQRTN = 4; // both ways times 1/sqrt(N)
constexpr int IPP_FFT_NODIV_BY_ANY = 8; // neither way scaled

// Opaque specs, made and freed only by the layer.
struct IppsFFTSpec_R_64f;
struct IppsHilbertSpec_32f32fc;
