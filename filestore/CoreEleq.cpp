#include "filestore/CoreEleq.h"

#include "base/CoreButl.h"
#include "base/CorePool.h"
#include "filestore/CoreSpln.h"
#include "platform/IppLayer.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

constexpr char kLabel[] = "ELEQ";

// Pool blocks of one call, released on every way out (the pool throws when memory is short).
class Blocks {
public:
    explicit Blocks(CorePool* pool) : pPool(pool) {}
    ~Blocks() {
        for (void* p : held) pPool->free_(p);
        if (fft != nullptr) ippsFFTFree_R_64f(fft);
        if (hilbert != nullptr) ippsHilbertFree_32f32fc(hilbert);
    }
    Blocks(const Blocks&) = delete;
    Blocks& operator=(const Blocks&) = delete;

    template <typename T>
    T* take(int16_t type, int64_t count) {
        void* p = pPool->mallc(type, static_cast<int>(count), kLabel);
        held.push_back(p);
        return static_cast<T*>(p);
    }

    IppsFFTSpec_R_64f* fft = nullptr;
    IppsHilbertSpec_32f32fc* hilbert = nullptr;

private:
    CorePool* pPool;
    std::vector<void*> held;
};

double magnitude(const Ipp64fc& c) {
    return std::sqrt(c.re * c.re + c.im * c.im);
}

// Forward transform of length samples (zero-padded to the FFT size) into size complex values.
bool transform(const double* signal, int length, int size, bool window, double* work, Ipp8u* buffer,
               const IppsFFTSpec_R_64f* spec, Ipp64fc* spectrum) {
    std::memset(work, 0, sizeof(double) * (static_cast<size_t>(size) + 2));
    std::memcpy(work, signal, sizeof(double) * static_cast<size_t>(length));
    if (window) CoreButl::windw(work, length, 4);
    if (ippsFFTFwd_RToPack_64f_I(work, spec, buffer) != ippStsNoErr) return false;
    return ippsConjPack_64fc(work, spectrum, size) == ippStsNoErr;
}

// 2^(r log2(half)) / half x bins, truncated: the bin at the fraction r of the logarithmic scale from
// 1 Hz to the Nyquist frequency.
int binAt(double r, double logHalf, int half, int bins) {
    const double power = std::pow(2.0, static_cast<double>(r * logHalf * CoreButl::dClog2fact));
    return static_cast<int>(power / half * bins);
}

} // namespace

int CoreEleq::eqgts(int lengthA, int lengthB) {
    int longer = lengthA > lengthB ? lengthA : lengthB;
    if (longer > (1 << 30)) longer = 1 << 30;
    return CoreButl::getp2(longer);
}

bool CoreEleq::eqcal(CorePool* pool, Ipp64fc* spectrumA, Ipp64fc* spectrumB, int fftSize, int lengthA,
                     double* signalA, int lengthB, double* signalB, int sampleRate, double bandFraction,
                     bool windowA, short splineDegree, double mix, double taperReference, int splineFactor,
                     int taperFrequency) {
    if (pool == nullptr || spectrumA == nullptr || spectrumB == nullptr || signalA == nullptr ||
        signalB == nullptr)
        return false;
    if (fftSize < 4 || fftSize > (1 << iCmaxorder) || !CoreButl::ispo2(static_cast<unsigned>(fftSize)))
        return false;
    if (lengthA < 1 || lengthA > fftSize || lengthB < 1 || lengthB > fftSize) return false;
    if (sampleRate < 2 || splineDegree < 0 || splineDegree > iCmaxdegree || splineFactor < 1) return false;
    if (!std::isfinite(bandFraction) || !std::isfinite(mix) || !std::isfinite(taperReference)) return false;

    CoreSpln spline(splineDegree + 1);
    const int half = sampleRate / 2;
    const int order = CoreButl::geto2(fftSize);
    const int bins = fftSize / 2 + 1;

    Blocks blocks(pool);
    double* work = blocks.take<double>(0, static_cast<int64_t>(fftSize) + 2);
    if (ippsFFTInitAlloc_R_64f(&blocks.fft, order, IPP_FFT_NODIV_BY_ANY, ippAlgHintAccurate) != ippStsNoErr)
        return false;
    int bufferBytes = 0;
    ippsFFTGetBufSize_R_64f(blocks.fft, &bufferBytes);
    Ipp8u* buffer = blocks.take<Ipp8u>(4, bufferBytes);

    // Both spectra are written only once the arguments have passed, so a refusal leaves them as they were.
    if (!transform(signalA, lengthA, fftSize, windowA, work, buffer, blocks.fft, spectrumA)) return false;
    if (!transform(signalB, lengthB, fftSize, false, work, buffer, blocks.fft, spectrumB)) return false;

    // Logarithmically spaced bands from 1 Hz to the Nyquist frequency, each of about bins x bandFraction
    // bins on average; one point per band that holds bins, at its centre, with the band's mean magnitude.
    int width = 1;
    if (bandFraction != 0.0) {
        const double w = std::trunc(CoreButl::max__(bins * bandFraction, 1.0));
        width = w >= bins ? bins : static_cast<int>(w);
    }
    const int bands = bins / width;
    const double logHalf = std::log(static_cast<double>(half));
    std::vector<CoreSpln::POINT> listA;
    std::vector<CoreSpln::POINT> listB;
    for (int j = 0; j < bands; ++j) {
        const double r0 = static_cast<double>(j) / bands;
        const double r1 = static_cast<double>(j + 1) / bands;
        int lo = binAt(r0, logHalf, half, bins);
        int hi = binAt(r1, logHalf, half, bins);
        if (lo < 0) lo = 0;
        if (hi > bins) hi = bins;
        if (hi <= lo) continue;
        if (listA.empty()) {
            listA.push_back({0.0, magnitude(spectrumA[0]), 0.0});
            listB.push_back({0.0, magnitude(spectrumB[0]), 0.0});
        }
        double sumA = 0.0;
        double sumB = 0.0;
        for (int k = lo; k < hi; ++k) {
            sumA += magnitude(spectrumA[k]);
            sumB += magnitude(spectrumB[k]);
        }
        const double centre = binAt(r0 + 0.5 / bands, logHalf, half, bins);
        listA.push_back({centre, sumA / (hi - lo), 0.0});
        listB.push_back({centre, sumB / (hi - lo), 0.0});
    }
    if (listA.empty()) return false;

    const int nyquist = fftSize / 2;
    listA.push_back({static_cast<double>(nyquist), magnitude(spectrumA[nyquist]), 0.0});
    listB.push_back({static_cast<double>(nyquist), magnitude(spectrumB[nyquist]), 0.0});
    const int points = static_cast<int>(listA.size());
    const int last = points - 1;
    // The end points hold single bins (DC, Nyquist), which smoothing cannot trust: they repeat their
    // neighbours.
    for (std::vector<CoreSpln::POINT>* list : {&listB, &listA}) {
        (*list)[0].y = (*list)[1].y;
        (*list)[last].y = (*list)[last - 1].y;
    }

    if (taperReference > 0.0) {
        int index = -1;
        if (taperFrequency > 0) {
            const double at =
                std::trunc(std::pow(2.0, static_cast<double>(taperFrequency) / half) * 0.5 * points);
            index = at >= last ? last : static_cast<int>(at);
        }
        CoreSpln::fixbd(listB.data(), points, taperReference, index);
    }

    for (int i = 0; i < points; ++i) {
        listA[i].y = CoreButl::divmg(listA[i].y, listB[i].y, mix);
        listA[i].distance = 0.0;
    }

    const int64_t wanted = static_cast<int64_t>(splineFactor) * points * 256;
    const int count = wanted < bins ? static_cast<int>(wanted) : bins;
    CoreSpln::POINT* curve = blocks.take<CoreSpln::POINT>(0, 3 * static_cast<int64_t>(count));
    CoreSpln::POINT* grid = blocks.take<CoreSpln::POINT>(0, 3 * static_cast<int64_t>(bins));
    spline.splne(last, listA.data(), count, curve);
    CoreSpln::map__(count, curve, bins, grid);

    // Log magnitude over the whole circle (mirrored above Nyquist). Magnitudes are held within the
    // system's dB floor both ways, so a silent band or a huge ratio never gives an infinite logarithm.
    const double floor = std::pow(10.0, CoreButl::dCdbmin / 20.0);
    const double ceiling = std::pow(10.0, -CoreButl::dCdbmin / 20.0);
    for (int i = 0; i < bins; ++i) {
        double y = grid[i].y;
        if (!(y >= floor)) y = floor;
        if (y > ceiling) y = ceiling;
        grid[i].y = y;
    }
    Ipp32f* logMagnitude = blocks.take<Ipp32f>(1, fftSize);
    for (int i = 0; i < bins; ++i) logMagnitude[i] = static_cast<Ipp32f>(std::log(grid[i].y));
    for (int i = 1; i <= nyquist; ++i) logMagnitude[fftSize - i] = logMagnitude[i];
    Ipp32fc* analytic = blocks.take<Ipp32fc>(1, 2 * static_cast<int64_t>(fftSize));
    if (ippsHilbertInitAlloc_32f32fc(&blocks.hilbert, fftSize, ippAlgHintNone) != ippStsNoErr) return false;
    if (ippsHilbert_32f32fc(logMagnitude, analytic, blocks.hilbert) != ippStsNoErr) return false;
    for (int i = 0; i < bins; ++i) {
        const double phase = -static_cast<double>(analytic[i].im);
        spectrumB[i].re = grid[i].y * std::cos(phase);
        spectrumB[i].im = grid[i].y * std::sin(phase);
    }
    return true;
}

void CoreEleq::eqcaf(CorePool* pool, int lengthA, double* signalA, int lengthB, double* signalB,
                     int sampleRate, double bandFraction, bool windowA, short splineDegree, double mix,
                     double taperReference) {
    if (pool == nullptr || signalA == nullptr || signalB == nullptr || lengthA < 1 || lengthB < 1) return;
    if (lengthA > (1 << iCmaxorder) || lengthB > (1 << iCmaxorder)) return;
    const int n = eqgts(lengthA, lengthB);
    if (n < 4) return; // eqcal needs at least 4 points
    Blocks blocks(pool);
    Ipp64fc* spectrumA = blocks.take<Ipp64fc>(0, 2 * static_cast<int64_t>(n));
    Ipp64fc* spectrumB = blocks.take<Ipp64fc>(0, 2 * static_cast<int64_t>(n));
    std::memset(spectrumA, 0, sizeof(Ipp64fc) * static_cast<size_t>(n));
    std::memset(spectrumB, 0, sizeof(Ipp64fc) * static_cast<size_t>(n));
    if (!eqcal(pool, spectrumA, spectrumB, n, lengthA, signalA, lengthB, signalB, sampleRate, bandFraction,
               windowA, splineDegree, mix, taperReference, 1, -1))
        return;
    if (ippsFFTInitAlloc_R_64f(&blocks.fft, CoreButl::geto2(n), IPP_FFT_NODIV_BY_ANY, ippAlgHintAccurate) !=
        ippStsNoErr)
        return;
    int bufferBytes = 0;
    ippsFFTGetBufSize_R_64f(blocks.fft, &bufferBytes);
    Ipp8u* buffer = blocks.take<Ipp8u>(4, bufferBytes);
    ippsMul_64fc_I(spectrumB, spectrumA, n);
    // The first n / 2 + 1 complex bins are the CCS layout the inverse reads.
    double* samples = reinterpret_cast<double*>(spectrumA);
    if (ippsFFTInv_CCSToR_64f_I(samples, blocks.fft, buffer) != ippStsNoErr) return;
    // Neither transform divides; the one division here gives the equalised signal at its own scale.
    for (int i = 0; i < lengthA; ++i) signalA[i] = samples[i] / n;
}
