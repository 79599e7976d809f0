// CoreEleq: the equalisation between two recorded signals: fractional-octave smoothed magnitude
// curves of both, their (partial) ratio smoothed by a B-spline and snapped onto the bin grid, turned
// into a minimum-phase correction spectrum through a Hilbert transform of the log magnitude. Static
// members only, called by the render tool; every buffer is taken from the pool ("ELEQ") and released
// per call, so calls on different buffers may run on any threads at once.
#pragma once
#include "platform/IppTypes.h"

class CorePool;

class CoreEleq {
public:
    static constexpr int iCmaxorder = 27;    // largest FFT order the layer transforms
    static constexpr short iCmaxdegree = 10; // spline degrees 0 .. 10

    // The FFT size for two signals: the power of two holding the longer one.
    static int eqgts(int lengthA, int lengthB);
    // spectrumA (fftSize complex) receives the transform of signal A (Albrecht-windowed with
    // windowA), spectrumB the minimum-phase correction in bins 0 .. fftSize / 2 (the bins above keep
    // the transform of B). Both transforms are unscaled. False when no smoothing band held a bin
    // (the spectra then hold the plain transforms), and, with both spectra untouched, for invalid
    // arguments: fftSize not a power of two in 4 .. 2^27, a length outside 1 .. fftSize, a sample
    // rate below 2, a spline degree outside 0 .. 10, a splineFactor below 1, a non-finite
    // bandFraction, mix or taperReference, or a null pointer.
    static bool eqcal(CorePool* pool, Ipp64fc* spectrumA, Ipp64fc* spectrumB, int fftSize, int lengthA,
                      double* signalA, int lengthB, double* signalB, int sampleRate, double bandFraction,
                      bool windowA, short splineDegree, double mix, double taperReference, int splineFactor,
                      int taperFrequency);
    // Equalises the first lengthA samples of signal A in place towards signal B (at their true
    // scale); nothing changes when eqcal refuses the arguments or no band held a bin.
    static void eqcaf(CorePool* pool, int lengthA, double* signalA, int lengthB, double* signalB,
                      int sampleRate, double bandFraction, bool windowA, short splineDegree, double mix,
                      double taperReference);
};
