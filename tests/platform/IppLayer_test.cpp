// Tests of the FFT layer against a direct DFT in long double (Pack and CCS layouts, every scaling flag),
// its refusals of bad arguments, results independent of alignment, work buffer and threads, concurrent
// planning beside another FFTW user, and the denormal modes.
#include "platform/IppLayer.h"
#include "tests/common/SignalReference.h"

#include <gtest/gtest.h>

#include <fftw3.h>
#include <xmmintrin.h>

#include <cfloat>
#include <complex>
#include <cstring>
#include <numeric>
#include <random>
#include <thread>

namespace {

using LongComplex = std::complex<long double>;
constexpr long double longPi = 3.141592653589793238462643383279502884L;

// A spec with its work buffer, freed at scope end.
struct FftSpec {
    FftSpec(int order, int flag) {
        EXPECT_EQ(ippsFFTInitAlloc_R_64f(&spec, order, flag, ippAlgHintAccurate), ippStsNoErr);
        int bytes = 0;
        EXPECT_EQ(ippsFFTGetBufSize_R_64f(spec, &bytes), ippStsNoErr);
        work.resize(size_t(bytes));
    }
    ~FftSpec() { ippsFFTFree_R_64f(spec); }
    std::vector<double> forward(std::vector<double> data) {
        EXPECT_EQ(ippsFFTFwd_RToPack_64f_I(data.data(), spec, work.data()), ippStsNoErr);
        return data;
    }
    std::vector<double> inverse(std::vector<double> data) {
        EXPECT_EQ(ippsFFTInv_PackToR_64f_I(data.data(), spec, work.data()), ippStsNoErr);
        return data;
    }
    IppsFFTSpec_R_64f* spec = nullptr;
    std::vector<Ipp8u> work;
};

// X[k] = sum x[t] e^(sign 2 pi i t k / N) in long double, with an exact twiddle index.
template <class Sample>
std::vector<LongComplex> dft(const std::vector<Sample>& x, int sign = -1) {
    const size_t n = x.size();
    std::vector<LongComplex> twiddle(n), spectrum(n);
    for (size_t m = 0; m < n; ++m) twiddle[m] = std::polar(1.0L, sign * 2 * longPi * m / n);
    for (size_t k = 0; k < n; ++k)
        for (size_t t = 0; t < n; ++t) spectrum[k] += LongComplex(x[t]) * twiddle[(t * k) % n];
    return spectrum;
}

// The expanded conjugate-symmetric spectrum of a Pack array.
std::vector<std::complex<double>> expand(const std::vector<double>& pack) {
    std::vector<std::complex<double>> expanded(pack.size());
    EXPECT_EQ(ippsConjPack_64fc(pack.data(), reinterpret_cast<Ipp64fc*>(expanded.data()), int(pack.size())),
              ippStsNoErr);
    return expanded;
}

double scaleOf(int flag, size_t n, bool forward) {
    if (flag == IPP_FFT_DIV_BY_SQRTN) return 1.0 / std::sqrt(double(n));
    return flag == (forward ? IPP_FFT_DIV_FWD_BY_N : IPP_FFT_DIV_INV_BY_N) ? 1.0 / double(n) : 1.0;
}

} // namespace

TEST(IppLayer, TransformsAreTheDirectDftInPackOrderScaledAsTheirFlagSays) {
    // Orders up to 12 run out of place, larger ones in place; the DFT is checked up to order 10.
    for (int order : {0, 1, 2, 5, 10, 12, 15}) {
        const size_t n = size_t{1} << order;
        const std::vector<double> signal = randomSignal(n, 100 + order);
        const std::vector<LongComplex> spectrum = order <= 10 ? dft(signal) : std::vector<LongComplex>();
        long double largest = 1;
        for (const LongComplex& bin : spectrum) largest = std::max(largest, std::abs(bin));
        std::vector<double> unscaled = FftSpec(order, IPP_FFT_NODIV_BY_ANY).forward(signal);
        for (int flag :
             {IPP_FFT_DIV_FWD_BY_N, IPP_FFT_DIV_INV_BY_N, IPP_FFT_DIV_BY_SQRTN, IPP_FFT_NODIV_BY_ANY}) {
            SCOPED_TRACE(testing::Message() << "N = " << n << ", flag " << flag);
            FftSpec spec(order, flag);
            const std::vector<double> pack = spec.forward(signal);
            const double forwardScale = scaleOf(flag, n, true),
                         roundTrip = forwardScale * scaleOf(flag, n, false) * n;
            for (size_t i = 0; i < n && !spectrum.empty(); ++i) { // R0, R1, I1, ..., R(N/2)
                const LongComplex bin = spectrum[(i + 1) / 2];
                const double expected = double((i % 2 || i == 0 ? bin.real() : bin.imag()) * forwardScale);
                ASSERT_NEAR(pack[i], expected, 1e-12 * double(largest) * forwardScale) << i;
                ASSERT_EQ(pack[i], unscaled[i] * forwardScale) << i; // one exact factor
            }
            const std::vector<double> back = spec.inverse(pack);
            for (size_t i = 0; i < n; ++i)
                ASSERT_NEAR(back[i], roundTrip * signal[i], roundTrip * 1e-12) << i;
        }
    }
}

TEST(IppLayer, InverseFromCcsEqualsInverseFromPackAndIgnoresTheEdgeImaginaryParts) {
    for (const auto& [order, flag] : {std::pair{1, 1}, {5, 4}, {15, 8}}) {
        const int n = 1 << order;
        FftSpec spec(order, flag);
        const std::vector<double> pack = randomSignal(n, 300 + order);
        std::vector<std::complex<double>> ccs = expand(pack);
        ccs[0].imag(7.0); // bin 0 and bin N/2 of a real signal have no imaginary part
        ccs[n / 2].imag(-3.0);
        auto* values = reinterpret_cast<double*>(ccs.data());
        ASSERT_EQ(ippsFFTInv_CCSToR_64f_I(values, spec.spec, spec.work.data()), ippStsNoErr);
        const std::vector<double> fromPack = spec.inverse(pack);
        for (int i = 0; i < n; ++i) EXPECT_NEAR(values[i], fromPack[i], 1e-15) << "N = " << n << ", " << i;
    }
}

TEST(IppLayer, ErrorsReturnTheirStatusAndWriteNothing) {
    IppsFFTSpec_R_64f* spec = nullptr;
    const int creations[][3] = {
        {-1, 2, ippStsFftOrderErr}, {28, 2, ippStsFftOrderErr}, {3, 3, ippStsFftFlagErr}};
    for (const auto& [order, flag, status] : creations) {
        spec = reinterpret_cast<IppsFFTSpec_R_64f*>(&spec);
        EXPECT_EQ(ippsFFTInitAlloc_R_64f(&spec, order, flag, ippAlgHintNone), status) << order << " " << flag;
        EXPECT_EQ(spec, nullptr); // a failed creation sets the pointer to null
    }
    FftSpec good(3, IPP_FFT_DIV_INV_BY_N);
    EXPECT_EQ(good.work.size(), size_t((8 + 2) * 8 + 64));
    int bytes = -7;
    const std::vector<double> sentinel(16, 42.0);
    std::vector<double> data = sentinel;
    std::vector<Ipp32fc> analytic(4, Ipp32fc{9.0f, 9.0f});
    IppsHilbertSpec_32f32fc* hilbert = nullptr;
    double* d = data.data();
    EXPECT_EQ(
        (std::vector<IppStatus>{
            ippsFFTGetBufSize_R_64f(nullptr, &bytes), ippsFFTInv_PackToR_64f_I(nullptr, good.spec, nullptr),
            ippsFFTFwd_RToPack_64f_I(d, nullptr, nullptr), ippsMulPack_64f(d, d, nullptr, 4),
            ippsHilbert_32f32fc(nullptr, analytic.data(), nullptr), ippGetNumThreads(nullptr)}),
        std::vector<IppStatus>(6, ippStsNullPtrErr));
    EXPECT_EQ((std::vector<IppStatus>{ippsAdd_64f_I(d, d, 0),
                                      ippsHilbertInitAlloc_32f32fc(&hilbert, 0, ippAlgHintNone),
                                      ippSetNumThreads(0)}),
              std::vector<IppStatus>(3, ippStsSizeErr));
    EXPECT_TRUE(hilbert == nullptr && bytes == -7 && data == sentinel);
    for (const Ipp32fc& value : analytic) EXPECT_TRUE(value.re == 9.0f && value.im == 9.0f);
}

TEST(IppLayer, ResultsDoNotDependOnAlignmentWorkBufferThreadOrThreadCount) {
    for (int order : {12, 15}) { // the largest out-of-place order, and a threaded in-place one
        const int n = 1 << order;
        const std::vector<double> signal = randomSignal(n, 900 + order);
        FftSpec spec(order, IPP_FFT_DIV_INV_BY_N);
        const auto runAt = [&](double* data, Ipp8u* work) {
            std::copy(signal.begin(), signal.end(), data);
            EXPECT_EQ(ippsFFTFwd_RToPack_64f_I(data, spec.spec, work), ippStsNoErr);
            std::vector<double> result(data, data + n);
            EXPECT_EQ(ippsFFTInv_PackToR_64f_I(data, spec.spec, work), ippStsNoErr);
            result.insert(result.end(), data, data + n);
            return result;
        };
        Ipp8u* block = ippsMalloc_8u((n + 16) * 8);
        Ipp8u* work = ippsMalloc_8u(int(spec.work.size()) + 64);
        auto* aligned = reinterpret_cast<double*>(block);
        ASSERT_EQ(reinterpret_cast<uintptr_t>(block) % 64, 0u);
        const std::vector<double> reference = runAt(aligned, work);
        EXPECT_EQ(runAt(aligned + 1, work + 24), reference);
        EXPECT_EQ(runAt(aligned + 1, nullptr), reference);
        std::vector<double> onThread;
        std::thread([&] { onThread = runAt(aligned + 1, work + 8); }).join();
        EXPECT_EQ(onThread, reference);
        if (order == 15) { // the thread count applies to specs made afterwards, for N >= 2^15
            int threads = 0;
            ASSERT_EQ(ippSetNumThreads(4), ippStsNoErr);
            ASSERT_EQ(ippGetNumThreads(&threads), ippStsNoErr);
            EXPECT_EQ(threads, 4);
            const std::vector<double> fourThreads = FftSpec(order, IPP_FFT_DIV_INV_BY_N).forward(signal);
            for (int i = 0; i < n; ++i)
                ASSERT_NEAR(fourThreads[i], reference[i], 1e-12 * std::sqrt(double(n)));
            EXPECT_EQ(ippSetNumThreads(1), ippStsNoErr);
        }
        ippsFree(work);
        ippsFree(block);
    }
    EXPECT_EQ(ippsMalloc_8u(0), nullptr);
}

TEST(IppLayer, SpecsAreMadeAndUsedOnManyThreadsAlongsideAnotherFftwUser) {
    // The layer makes FFTW's planner thread-safe on its first use; after that, plain FFTW planning
    // by another user of the process must coexist with ours.
    { FftSpec first(4, IPP_FFT_DIV_INV_BY_N); }
    std::atomic<bool> workersDone{false};
    std::atomic<int> failures{0};
    std::thread otherUser([&] {
        std::vector<double> real(66);
        std::vector<fftw_complex> complex(33);
        while (!workersDone.load()) {
            fftw_plan plan = fftw_plan_dft_r2c_1d(64, real.data(), complex.data(), FFTW_ESTIMATE);
            failures += plan == nullptr;
            if (plan) fftw_destroy_plan(plan);
        }
    });
    std::vector<std::thread> workers;
    for (int w = 0; w < 8; ++w) {
        workers.emplace_back([w, &failures] {
            std::mt19937 generator(1000 + w);
            for (int iteration = 0; iteration < 100; ++iteration) {
                const int order = int(generator() % 13);
                const std::vector<double> signal = randomSignal(size_t(1) << order, 2000 + iteration * 8 + w);
                FftSpec spec(order, IPP_FFT_DIV_INV_BY_N);
                const std::vector<double> pack = spec.forward(signal), back = spec.inverse(pack);
                failures += std::fabs(pack[0] - std::accumulate(signal.begin(), signal.end(), 0.0)) > 1e-9;
                for (size_t i = 0; i < signal.size(); ++i) failures += std::fabs(back[i] - signal[i]) > 1e-12;
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    workersDone.store(true);
    otherUser.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(IppLayer, DenormalModesSetAndClearTheirBitsAndReportTheUnderflowMask) {
    const unsigned saved = _mm_getcsr();
    unsigned mask = 99;
    for (const unsigned underflowMasked : {1u, 0u}) {
        _mm_setcsr((saved & ~0x0800u) | (underflowMasked << 11));
        ASSERT_EQ(ippSetFlushToZero(1, nullptr), ippStsNoErr);
        EXPECT_NE(_mm_getcsr() & 0x8000u, 0u);
        ASSERT_EQ(ippSetFlushToZero(0, &mask), ippStsNoErr);
        EXPECT_EQ(_mm_getcsr() & 0x8000u, 0u);
        EXPECT_EQ(mask, underflowMasked);
    }
    _mm_setcsr(saved);
    ASSERT_EQ(ippSetDenormAreZeros(0), ippStsNoErr);
    EXPECT_EQ(_mm_getcsr() & 0x0040u, 0u);
    ippSetFlushToZero(1, nullptr);
    ippSetDenormAreZeros(1);
    volatile double smallest = DBL_MIN, subnormal = 1e-310, one = 1.0;
    volatile double half = smallest * 0.5, same = subnormal * one;
    _mm_setcsr(saved);
    EXPECT_EQ(half, 0.0);
    EXPECT_EQ(same, 0.0);
}
