// CoreRtcv: the multi-stage sample-rate converter. Runs the factor chain of a
// DataRtcv path as interpolation, decimation and rational stages, each a
// windowed-sinc filter split into polyphase branches and applied by FFT
// convolution (overlap-add). Keeps three stage plans for reuse. Owned by one
// user (the WAV reader, a tool) and used by one thread at a time; FFT plans are
// made through the FFT layer, whose planner lock lets several converters live
// on several threads.
#pragma once
#include "platform/IppTypes.h"
#include <cstdint>

class CorePool;
class DataRtcv;

class CoreRtcv {
public:
    // A real FFT of one power-of-two size and its work buffer (pool, "RTCV").
    struct IPPPLAN {
        IppsFFTSpec_R_64f* spec;
        Ipp8u* work;
        int32_t size;
    };

    // One stage plan. Identified by type, input rate, L, M and input length n.
    struct CONVERSIONLOC {
        bool used;
        int16_t type;    // 0 interpolate by L, 1 decimate by M, 2 rational L/M
        double rate;     // input rate, Hz
        int32_t L;       // 1 for type 1
        int32_t M;       // 1 for type 0
        int32_t n;       // input samples
        double outRate;  // rate * L / M
        int32_t outN;    // n*L, n/M or n*L/M (integer division)
        int32_t N;       // filter taps
        int32_t P;       // polyphase branches: L for types 0 and 2, M for type 1
        int32_t T;       // taps per branch, also the segment length of the overlap-add
        int32_t F;       // FFT size: the smallest power of two above 2T - 1
        int32_t q;       // (N/2 - 1) / P: branch samples skipped to remove the filter delay
        int32_t r;       // (N/2 - 1) mod P: the branch phase that meets output 0
        double* spectra; // P Pack spectra of F doubles
        double* segment; // F: one input segment, then its spectrum
        double* product; // P x F (types 0, 2) or F (type 1): branch results of one
                         // segment
        double* pending; // P x T (types 0, 2) or T (type 1): overlap tails of the
                         // branch convolutions
        double* output;  // outN samples
        IPPPLAN plan;
    };

    static constexpr int iCmaxfilterdim = 2048; // filter taps per unit of the stage factor
    static constexpr int iCblkpower = 10;       // window power: Blackman to the power iCblkpower + 1
    static constexpr int iCconversionlocations = 3;

    CoreRtcv(CorePool* pool, DataRtcv* table);
    ~CoreRtcv();
    CoreRtcv(const CoreRtcv&) = delete;
    CoreRtcv& operator=(const CoreRtcv&) = delete;

    // Converts n samples along a path row (-1: looked up with getpt(rate,
    // outRate)). A negative row returns data with outN = n and outRate unchanged.
    // Otherwise outRate = rate * cf and the result is the last stage's output
    // buffer (owned here, valid until that slot is rebuilt) with outN samples; a
    // stage that cannot run (fewer than 2 taps per branch, no output) ends the
    // conversion with outN = 0. Nothing carries over from one call to the next.
    double* cnvrt(double* data, int32_t n, int32_t& outN, double rate, double& outRate, int16_t row);

    // The slot of a stage plan, found in the cache or built in the slot after the
    // one most recently used or built; -1 (nothing built) when the stage cannot
    // run.
    int16_t mkclc(int16_t type, double rate, int32_t L, int32_t M, int32_t n);
    // Runs a slot's stage over its n input samples; returns its output buffer
    // (getol samples).
    double* apply(int16_t slot, const double* data);
    int32_t getol(int16_t slot) const; // output length of a slot in use, else 0
    void dlclc(int16_t slot);
    static bool newpl(CorePool* pool, IPPPLAN* plan,
                      int32_t size); // size a power of two
    static void delpl(CorePool* pool, IPPPLAN* plan);

    // Filter design. Taps c - k and c + k (c = n/2 - 1, k = 1 ... c) and c; with
    // half only taps 0 ... n/2. flint: interpolation by L; fldec: decimation by
    // M; flfrc: sin(k pi / M) gain / (k pi).
    static void flint(int32_t n, double* h, double L, bool half);
    static void fldec(int32_t n, double* h, double M, bool half);
    static void flfrc(int32_t n, double* h, double gain, double M, bool half);
    // Multiplies h[0 ... n-1] (0 ... n/2 with half) by the Blackman value w(i), t
    // = pi i / (n - 1): by w for power <= 0, else by w^(1 + max(1, ceil(power))).
    // n < 2 leaves h unchanged.
    static void flblk(int32_t n, double* h, double power, bool half);
    static void flhcp(int32_t n,
                      double* h); // mirrors the left half onto the right, zeroes the tail
    // Phase stepping: advances the tap index q * P + p by step, keeping 0 <= p <
    // P.
    static void frcps(int64_t& q, int32_t& p, int32_t step, int32_t P);

private:
    CorePool* pPool;
    DataRtcv* pTable;
    CONVERSIONLOC* pSlots;
    int16_t iNext;  // slot to replace at the next miss
    int16_t iInput; // slot whose output feeds the stage being planned (never
                    // rebuilt), or -1

    void build(CONVERSIONLOC& s);
    void ovadd(CONVERSIONLOC& s,
               const double* data);                   // interpolation and rational stages
    void ovdec(CONVERSIONLOC& s, const double* data); // decimation stages
};
