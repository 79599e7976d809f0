#include "platform/IppLayer.h"
#include "tests/common/SignalReference.h"

#include <gtest/gtest.h>

#include <fftw3.h>
#include <xmmintrin.h>

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

namespace {

using LongComplex = std::complex<long double>;
constexpr long double longPi = 3.141592653589793238462643383279502884L;
constexpr int allFlags[] = {IPP_FFT_DIV_FWD_BY_N, IPP_FFT_DIV_INV_BY_N, IPP_FFT_DIV_BY_SQRTN,
                            IPP_FFT_NODIV_BY_ANY};

// A spec with its work buffer, freed at scope end.
struct FftSpec {
    FftSpec(int order, int flag) {
        EXPECT_EQ(ippsFFTInitAlloc_R_64f(&spec, order, flag, ippAlgHintAccurate), ippStsNoErr);
        int bytes = 0;
        EXPECT_EQ(ippsFFTGetBufSize_R_64f(spec, &bytes), ippStsNoErr);
        work.resize(static_cast<size_t>(bytes));
    }
    ~FftSpec() { ippsFFTFree_R_64f(spec); }
    FftSpec(const FftSpec&) = delete;
    FftSpec& operator=(const FftSpec&) = delete;

    IppStatus forward(double* data) { return ippsFFTFwd_RToPack_64f_I(data, spec, work.data()); }
    IppStatus inverse(double* data) { return ippsFFTInv_PackToR_64f_I(data, spec, work.data()); }

    IppsFFTSpec_R_64f* spec = nullptr;
    std::vector<Ipp8u> work;
};

// X[k] = sum x[t] e^(-2 pi i t k / N), in long double with an exact twiddle index.
std::vector<LongComplex> naiveDft(const std::vector<double>& x) {
    const size_t n = x.size();
    std::vector<LongComplex> twiddle(n);
    for (size_t m = 0; m < n; ++m) {
        const long double angle = 2.0L * longPi * static_cast<long double>(m) / static_cast<long double>(n);
        twiddle[m] = LongComplex(std::cos(angle), -std::sin(angle));
    }
    std::vector<LongComplex> spectrum(n);
    for (size_t k = 0; k < n; ++k) {
        LongComplex sum = 0;
        for (size_t t = 0; t < n; ++t) sum += static_cast<long double>(x[t]) * twiddle[(t * k) % n];
        spectrum[k] = sum;
    }
    return spectrum;
}

// The Pack layout of a spectrum, written out from its definition.
std::vector<double> packOf(const std::vector<LongComplex>& spectrum, long double scale) {
    const size_t n = spectrum.size();
    std::vector<double> pack(n);
    pack[0] = static_cast<double>(spectrum[0].real() * scale);
    for (size_t k = 1; 2 * k < n; ++k) {
        pack[2 * k - 1] = static_cast<double>(spectrum[k].real() * scale);
        pack[2 * k] = static_cast<double>(spectrum[k].imag() * scale);
    }
    if (n % 2 == 0 && n > 1) pack[n - 1] = static_cast<double>(spectrum[n / 2].real() * scale);
    return pack;
}

std::vector<std::complex<double>> expand(const std::vector<double>& pack) {
    std::vector<Ipp64fc> expanded(pack.size());
    EXPECT_EQ(ippsConjPack_64fc(pack.data(), expanded.data(), static_cast<int>(pack.size())), ippStsNoErr);
    std::vector<std::complex<double>> result;
    for (const Ipp64fc& value : expanded) result.emplace_back(value.re, value.im);
    return result;
}

std::vector<double> circularConvolution(const std::vector<double>& x, const std::vector<double>& h) {
    const size_t n = x.size();
    std::vector<double> y(n, 0.0);
    for (size_t i = 0; i < n; ++i) {
        long double sum = 0;
        for (size_t j = 0; j < n; ++j) sum += static_cast<long double>(x[j]) * h[(i + n - j) % n];
        y[i] = static_cast<double>(sum);
    }
    return y;
}

unsigned readMxcsr() {
    return _mm_getcsr();
}

TEST(IppLayer, ForwardMatchesDirectDftInPackOrderForEveryFlagAndSize) {
    for (int order = 0; order <= 12; ++order) {
        const size_t n = size_t{1} << order;
        const std::vector<double> signal = randomSignal(n, 100 + order);
        const std::vector<LongComplex> spectrum = naiveDft(signal);
        FftSpec unscaled(order, IPP_FFT_NODIV_BY_ANY);
        std::vector<double> unscaledPack = signal;
        ASSERT_EQ(unscaled.forward(unscaledPack.data()), ippStsNoErr);
        for (int flag : allFlags) {
            SCOPED_TRACE(testing::Message() << "N = " << n << ", flag " << flag);
            const long double scale = flag == IPP_FFT_DIV_FWD_BY_N ? 1.0L / n
                                      : flag == IPP_FFT_DIV_BY_SQRTN
                                          ? 1.0L / std::sqrt(static_cast<long double>(n))
                                          : 1.0L;
            const std::vector<double> expected = packOf(spectrum, scale);
            FftSpec spec(order, flag);
            std::vector<double> pack = signal;
            ASSERT_EQ(spec.forward(pack.data()), ippStsNoErr);
            const double tolerance = 1e-12 * std::max(1.0, largestMagnitude(expected));
            for (size_t i = 0; i < n; ++i) ASSERT_NEAR(pack[i], expected[i], tolerance) << "value " << i;
            // The scale is applied as one multiplication by the exact factor.
            const double factor = flag == IPP_FFT_DIV_FWD_BY_N   ? 1.0 / static_cast<double>(n)
                                  : flag == IPP_FFT_DIV_BY_SQRTN ? 1.0 / std::sqrt(static_cast<double>(n))
                                                                 : 1.0;
            for (size_t i = 0; i < n; ++i) ASSERT_EQ(pack[i], unscaledPack[i] * factor);
        }
    }
}

TEST(IppLayer, RoundTripsScaleAsTheirFlagSays) {
    for (int order = 0; order <= 20; ++order) {
        const size_t n = size_t{1} << order;
        const std::vector<double> signal = randomSignal(n, 200 + order);
        const double tolerance = 1e-12 * largestMagnitude(signal);
        for (int flag : allFlags) {
            SCOPED_TRACE(testing::Message() << "N = " << n << ", flag " << flag);
            FftSpec spec(order, flag);
            std::vector<double> data = signal;
            ASSERT_EQ(spec.forward(data.data()), ippStsNoErr);
            ASSERT_EQ(spec.inverse(data.data()), ippStsNoErr);
            const double gain = flag == IPP_FFT_NODIV_BY_ANY ? static_cast<double>(n) : 1.0;
            for (size_t i = 0; i < n; ++i) ASSERT_NEAR(data[i], gain * signal[i], gain * tolerance) << i;
        }
    }
}

TEST(IppLayer, PureTonesLandInTheirBins) {
    const int order = 6;
    const int n = 1 << order;
    FftSpec spec(order, IPP_FFT_NODIV_BY_ANY);
    const double tolerance = 1e-12 * n;

    for (int bin : {1, 5, n / 2 - 1}) {
        std::vector<double> tone(n);
        for (int t = 0; t < n; ++t) tone[t] = std::cos(2.0 * M_PI * bin * t / n);
        ASSERT_EQ(spec.forward(tone.data()), ippStsNoErr);
        for (int i = 0; i < n; ++i) {
            const double expected = i == 2 * bin - 1 ? n / 2.0 : 0.0;
            EXPECT_NEAR(tone[i], expected, tolerance) << "bin " << bin << ", value " << i;
        }
    }

    std::vector<double> constant(n, 0.75);
    ASSERT_EQ(spec.forward(constant.data()), ippStsNoErr);
    EXPECT_NEAR(constant[0], n * 0.75, tolerance);
    for (int i = 1; i < n; ++i) EXPECT_NEAR(constant[i], 0.0, tolerance);

    std::vector<double> alternating(n);
    for (int t = 0; t < n; ++t) alternating[t] = t % 2 ? -1.0 : 1.0;
    ASSERT_EQ(spec.forward(alternating.data()), ippStsNoErr);
    EXPECT_NEAR(alternating[n - 1], n, tolerance);
    for (int i = 0; i < n - 1; ++i) EXPECT_NEAR(alternating[i], 0.0, tolerance);
}

TEST(IppLayer, InverseFromCcsEqualsInverseFromPackAndIgnoresEdgeImaginaryParts) {
    for (int order : {1, 2, 5, 10}) {
        const int n = 1 << order;
        FftSpec spec(order, IPP_FFT_DIV_INV_BY_N);
        std::vector<double> pack = randomSignal(n, 300 + order);
        for (double& v : pack) v *= 10.0;

        std::vector<Ipp64fc> expanded(n);
        ASSERT_EQ(ippsConjPack_64fc(pack.data(), expanded.data(), n), ippStsNoErr);
        // Bin 0 and bin N/2 of a real signal have no imaginary part: values there must not matter.
        expanded[0].im = 7.0;
        expanded[n / 2].im = -3.0;
        auto* ccs = reinterpret_cast<double*>(expanded.data());

        std::vector<double> fromPack = pack;
        ASSERT_EQ(spec.inverse(fromPack.data()), ippStsNoErr);
        ASSERT_EQ(ippsFFTInv_CCSToR_64f_I(ccs, spec.spec, spec.work.data()), ippStsNoErr);
        const double tolerance = 1e-15 * std::max(1.0, largestMagnitude(fromPack));
        for (int i = 0; i < n; ++i) EXPECT_NEAR(ccs[i], fromPack[i], tolerance) << "N = " << n << ", " << i;
    }
}

TEST(IppLayer, PackedProductsAndSumsEqualComplexArithmeticOnExpandedSpectra) {
    for (int len : {1, 2, 3, 4, 7, 8, 33, 64}) {
        SCOPED_TRACE(testing::Message() << "len " << len);
        const std::vector<double> a = randomSignal(len, 400 + len);
        const std::vector<double> b = randomSignal(len, 500 + len);
        const auto expandedA = expand(a);
        const auto expandedB = expand(b);

        std::vector<double> product(len);
        ASSERT_EQ(ippsMulPack_64f(a.data(), b.data(), product.data(), len), ippStsNoErr);
        const auto expandedProduct = expand(product);
        for (int k = 0; k < len; ++k) {
            const std::complex<double> expected = expandedA[k] * expandedB[k];
            EXPECT_NEAR(expandedProduct[k].real(), expected.real(), 1e-15) << k;
            EXPECT_NEAR(expandedProduct[k].imag(), expected.imag(), 1e-15) << k;
        }

        std::vector<double> inPlace = b;
        ASSERT_EQ(ippsMulPack_64f_I(a.data(), inPlace.data(), len), ippStsNoErr);
        EXPECT_EQ(inPlace, product);

        // Every argument the same array: the square.
        std::vector<double> square = a;
        std::vector<double> squareExpected(len);
        ASSERT_EQ(ippsMulPack_64f(a.data(), a.data(), squareExpected.data(), len), ippStsNoErr);
        ASSERT_EQ(ippsMulPack_64f(square.data(), square.data(), square.data(), len), ippStsNoErr);
        EXPECT_EQ(square, squareExpected);
        square = a;
        ASSERT_EQ(ippsMulPack_64f_I(square.data(), square.data(), len), ippStsNoErr);
        EXPECT_EQ(square, squareExpected);

        std::vector<double> sum = b;
        ASSERT_EQ(ippsAdd_64f_I(a.data(), sum.data(), len), ippStsNoErr);
        const auto expandedSum = expand(sum);
        for (int k = 0; k < len; ++k) {
            const std::complex<double> expected = expandedA[k] + expandedB[k];
            EXPECT_EQ(expandedSum[k], expected) << k;
        }
        std::vector<double> doubled = a;
        ASSERT_EQ(ippsAdd_64f_I(doubled.data(), doubled.data(), len), ippStsNoErr);
        for (int i = 0; i < len; ++i) EXPECT_EQ(doubled[i], 2.0 * a[i]);
    }
}

TEST(IppLayer, ConjPackIsConjugateSymmetricAndComplexProductMatches) {
    for (int len : {1, 2, 3, 5, 8, 16}) {
        const std::vector<double> pack = randomSignal(len, 600 + len);
        const auto expanded = expand(pack);
        EXPECT_EQ(expanded[0], std::complex<double>(pack[0], 0.0));
        if (len % 2 == 0) {
            EXPECT_EQ(expanded[len / 2], std::complex<double>(pack[len - 1], 0.0));
        }
        for (int k = 1; k < len; ++k) {
            EXPECT_EQ(expanded[len - k], std::conj(expanded[k])) << "len " << len << ", bin " << k;
            if (2 * k < len) {
                EXPECT_EQ(expanded[k], std::complex<double>(pack[2 * k - 1], pack[2 * k]));
            }
        }
    }

    std::vector<Ipp64fc> factors = {{1.0, 2.0}, {-0.5, 0.25}, {3.0, 0.0}};
    std::vector<Ipp64fc> values = {{2.0, -1.0}, {4.0, 4.0}, {0.0, -2.0}};
    ASSERT_EQ(ippsMul_64fc_I(factors.data(), values.data(), 3), ippStsNoErr);
    const std::complex<double> expected[] = {{4.0, 3.0}, {-3.0, -1.0}, {0.0, -6.0}};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(std::complex<double>(values[i].re, values[i].im), expected[i]);
    std::vector<Ipp64fc> self = {{1.0, 1.0}};
    ASSERT_EQ(ippsMul_64fc_I(self.data(), self.data(), 1), ippStsNoErr);
    EXPECT_EQ(self[0].re, 0.0);
    EXPECT_EQ(self[0].im, 2.0);
}

TEST(IppLayer, PaddedBlockTimesKernelSpectrumGivesLinearConvolution) {
    const int order = 8;
    const int n = 1 << order;
    const std::vector<double> block = randomSignal(100, 700);
    const std::vector<double> kernel = randomSignal(150, 701);
    FftSpec spec(order, IPP_FFT_DIV_INV_BY_N);

    std::vector<double> x(n, 0.0), h(n, 0.0);
    std::copy(block.begin(), block.end(), x.begin());
    std::copy(kernel.begin(), kernel.end(), h.begin());
    ASSERT_EQ(spec.forward(x.data()), ippStsNoErr);
    ASSERT_EQ(spec.forward(h.data()), ippStsNoErr);
    ASSERT_EQ(ippsMulPack_64f_I(h.data(), x.data(), n), ippStsNoErr);
    ASSERT_EQ(spec.inverse(x.data()), ippStsNoErr);

    double kernelSum = 0.0;
    for (double v : kernel) kernelSum += std::fabs(v);
    const double tolerance = 1e-12 * kernelSum * largestMagnitude(block);
    for (int i = 0; i < n; ++i) {
        long double direct = 0;
        for (int j = 0; j < 100; ++j)
            if (i - j >= 0 && i - j < 150) direct += static_cast<long double>(block[j]) * kernel[i - j];
        EXPECT_NEAR(x[i], static_cast<double>(direct), tolerance) << i;
    }
}

// Forward with the given flag, expand, multiply by an unscaled spectrum of h, inverse from CCS.
std::vector<double> convolveThroughCcs(const std::vector<double>& x, const std::vector<double>& h, int flag) {
    const int n = static_cast<int>(x.size());
    const int order = static_cast<int>(std::log2(n));
    FftSpec spec(order, flag);
    FftSpec unscaled(order, IPP_FFT_NODIV_BY_ANY);
    std::vector<double> xPack = x, hPack = h;
    EXPECT_EQ(spec.forward(xPack.data()), ippStsNoErr);
    EXPECT_EQ(unscaled.forward(hPack.data()), ippStsNoErr);
    std::vector<Ipp64fc> xSpectrum(n), hSpectrum(n);
    EXPECT_EQ(ippsConjPack_64fc(xPack.data(), xSpectrum.data(), n), ippStsNoErr);
    EXPECT_EQ(ippsConjPack_64fc(hPack.data(), hSpectrum.data(), n), ippStsNoErr);
    EXPECT_EQ(ippsMul_64fc_I(hSpectrum.data(), xSpectrum.data(), n), ippStsNoErr);
    auto* values = reinterpret_cast<double*>(xSpectrum.data());
    EXPECT_EQ(ippsFFTInv_CCSToR_64f_I(values, spec.spec, spec.work.data()), ippStsNoErr);
    return std::vector<double>(values, values + n);
}

TEST(IppLayer, ComplexSpectrumPatternsGiveCircularConvolutionAtTheirScale) {
    const int n = 128;
    const std::vector<double> x = randomSignal(n, 800);
    const std::vector<double> h = randomSignal(n, 801);
    const std::vector<double> expected = circularConvolution(x, h);
    const double tolerance = 1e-12 * n * largestMagnitude(expected);

    const std::vector<double> unitScale = convolveThroughCcs(x, h, IPP_FFT_DIV_BY_SQRTN);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(unitScale[i], expected[i], tolerance) << i;

    const std::vector<double> timesN = convolveThroughCcs(x, h, IPP_FFT_NODIV_BY_ANY);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(timesN[i], n * expected[i], n * tolerance) << i;
}

std::vector<Ipp32fc> analytic(const std::vector<float>& signal) {
    IppsHilbertSpec_32f32fc* spec = nullptr;
    EXPECT_EQ(ippsHilbertInitAlloc_32f32fc(&spec, static_cast<int>(signal.size()), ippAlgHintNone),
              ippStsNoErr);
    std::vector<Ipp32fc> result(signal.size());
    EXPECT_EQ(ippsHilbert_32f32fc(signal.data(), result.data(), spec), ippStsNoErr);
    EXPECT_EQ(ippsHilbertFree_32f32fc(spec), ippStsNoErr);
    return result;
}

TEST(IppLayer, HilbertGivesTheAnalyticSignal) {
    for (int length : {64, 1000, 999}) {
        const int bin = 7;
        std::vector<float> tone(length);
        for (int t = 0; t < length; ++t)
            tone[t] = static_cast<float>(std::cos(2.0 * M_PI * bin * t / length));
        const std::vector<Ipp32fc> result = analytic(tone);
        for (int t = 0; t < length; ++t) {
            EXPECT_EQ(result[t].re, tone[t]);
            EXPECT_NEAR(result[t].im, std::sin(2.0 * M_PI * bin * t / length), 1e-5)
                << "L " << length << ", " << t;
        }
    }

    for (int length : {1, 2}) {
        const std::vector<float> signal = {0.5f, -0.25f};
        const std::vector<Ipp32fc> result =
            analytic(std::vector<float>(signal.begin(), signal.begin() + length));
        for (int t = 0; t < length; ++t) {
            EXPECT_EQ(result[t].re, signal[t]);
            EXPECT_EQ(result[t].im, 0.0f);
        }
    }

    // An impulse, against the definition evaluated with a naive DFT.
    for (int length : {8, 9}) {
        std::vector<float> impulse(length, 0.0f);
        impulse[2] = 1.0f;
        const std::vector<LongComplex> spectrum =
            naiveDft(std::vector<double>(impulse.begin(), impulse.end()));
        std::vector<LongComplex> z(length, 0);
        z[0] = spectrum[0];
        for (int k = 1; 2 * k < length; ++k) z[k] = 2.0L * spectrum[k];
        if (length % 2 == 0) z[length / 2] = spectrum[length / 2];
        const std::vector<Ipp32fc> result = analytic(impulse);
        for (int t = 0; t < length; ++t) {
            long double imaginary = 0;
            for (int k = 0; k < length; ++k) {
                const long double angle = 2.0L * longPi * t * k / length;
                imaginary += (z[k] * LongComplex(std::cos(angle), std::sin(angle))).imag();
            }
            EXPECT_NEAR(result[t].im, static_cast<double>(imaginary / length), 1e-6)
                << "L " << length << ", " << t;
        }
    }
}

TEST(IppLayer, ErrorsReturnTheirStatusAndWriteNothing) {
    IppsFFTSpec_R_64f* spec = reinterpret_cast<IppsFFTSpec_R_64f*>(&spec);
    EXPECT_EQ(ippsFFTInitAlloc_R_64f(nullptr, 3, IPP_FFT_DIV_INV_BY_N, ippAlgHintNone), ippStsNullPtrErr);
    for (int order : {-1, 28, 1000}) {
        EXPECT_EQ(ippsFFTInitAlloc_R_64f(&spec, order, IPP_FFT_DIV_INV_BY_N, ippAlgHintNone),
                  ippStsFftOrderErr);
        EXPECT_EQ(spec, nullptr);
        spec = reinterpret_cast<IppsFFTSpec_R_64f*>(&spec);
    }
    for (int flag : {0, 3, 5, 16, -1}) {
        EXPECT_EQ(ippsFFTInitAlloc_R_64f(&spec, 3, flag, ippAlgHintNone), ippStsFftFlagErr);
        EXPECT_EQ(spec, nullptr);
    }
    EXPECT_EQ(ippsFFTFree_R_64f(nullptr), ippStsNullPtrErr);

    FftSpec good(3, IPP_FFT_DIV_INV_BY_N);
    int bytes = -7;
    EXPECT_EQ(ippsFFTGetBufSize_R_64f(nullptr, &bytes), ippStsNullPtrErr);
    EXPECT_EQ(bytes, -7);
    EXPECT_EQ(ippsFFTGetBufSize_R_64f(good.spec, nullptr), ippStsNullPtrErr);
    EXPECT_EQ(ippsFFTGetBufSize_R_64f(good.spec, &bytes), ippStsNoErr);
    EXPECT_EQ(bytes, (8 + 2) * 8 + 64);

    const std::vector<double> sentinel(16, 42.0);
    std::vector<double> data = sentinel;
    EXPECT_EQ(ippsFFTFwd_RToPack_64f_I(data.data(), nullptr, good.work.data()), ippStsNullPtrErr);
    EXPECT_EQ(ippsFFTInv_PackToR_64f_I(data.data(), nullptr, good.work.data()), ippStsNullPtrErr);
    EXPECT_EQ(ippsFFTInv_CCSToR_64f_I(data.data(), nullptr, nullptr), ippStsNullPtrErr);
    EXPECT_EQ(ippsFFTFwd_RToPack_64f_I(nullptr, good.spec, good.work.data()), ippStsNullPtrErr);
    EXPECT_EQ(ippsFFTInv_PackToR_64f_I(nullptr, good.spec, good.work.data()), ippStsNullPtrErr);
    EXPECT_EQ(ippsFFTInv_CCSToR_64f_I(nullptr, good.spec, good.work.data()), ippStsNullPtrErr);
    EXPECT_EQ(data, sentinel);

    std::vector<double> other = sentinel;
    for (int len : {0, -1}) {
        EXPECT_EQ(ippsMulPack_64f_I(other.data(), data.data(), len), ippStsSizeErr);
        EXPECT_EQ(ippsMulPack_64f(other.data(), other.data(), data.data(), len), ippStsSizeErr);
        EXPECT_EQ(ippsAdd_64f_I(other.data(), data.data(), len), ippStsSizeErr);
    }
    EXPECT_EQ(ippsMulPack_64f_I(nullptr, data.data(), 4), ippStsNullPtrErr);
    EXPECT_EQ(ippsMulPack_64f_I(other.data(), nullptr, 4), ippStsNullPtrErr);
    EXPECT_EQ(ippsMulPack_64f(nullptr, other.data(), data.data(), 4), ippStsNullPtrErr);
    EXPECT_EQ(ippsMulPack_64f(other.data(), nullptr, data.data(), 4), ippStsNullPtrErr);
    EXPECT_EQ(ippsMulPack_64f(other.data(), other.data(), nullptr, 4), ippStsNullPtrErr);
    EXPECT_EQ(ippsAdd_64f_I(nullptr, data.data(), 4), ippStsNullPtrErr);
    EXPECT_EQ(ippsAdd_64f_I(other.data(), nullptr, 4), ippStsNullPtrErr);
    EXPECT_EQ(data, sentinel);

    std::vector<Ipp64fc> complexData(4, Ipp64fc{5.0, 6.0});
    EXPECT_EQ(ippsConjPack_64fc(nullptr, complexData.data(), 4), ippStsNullPtrErr);
    EXPECT_EQ(ippsConjPack_64fc(other.data(), nullptr, 4), ippStsNullPtrErr);
    EXPECT_EQ(ippsConjPack_64fc(other.data(), complexData.data(), 0), ippStsSizeErr);
    EXPECT_EQ(ippsMul_64fc_I(nullptr, complexData.data(), 4), ippStsNullPtrErr);
    EXPECT_EQ(ippsMul_64fc_I(complexData.data(), nullptr, 4), ippStsNullPtrErr);
    EXPECT_EQ(ippsMul_64fc_I(complexData.data(), complexData.data(), -3), ippStsSizeErr);
    for (const Ipp64fc& value : complexData) EXPECT_TRUE(value.re == 5.0 && value.im == 6.0);

    IppsHilbertSpec_32f32fc* hilbert = reinterpret_cast<IppsHilbertSpec_32f32fc*>(&hilbert);
    EXPECT_EQ(ippsHilbertInitAlloc_32f32fc(nullptr, 8, ippAlgHintNone), ippStsNullPtrErr);
    EXPECT_EQ(ippsHilbertInitAlloc_32f32fc(&hilbert, 0, ippAlgHintNone), ippStsSizeErr);
    EXPECT_EQ(hilbert, nullptr);
    ASSERT_EQ(ippsHilbertInitAlloc_32f32fc(&hilbert, 4, ippAlgHintNone), ippStsNoErr);
    std::vector<float> samples(4, 1.0f);
    std::vector<Ipp32fc> analyticSignal(4, Ipp32fc{9.0f, 9.0f});
    EXPECT_EQ(ippsHilbert_32f32fc(nullptr, analyticSignal.data(), hilbert), ippStsNullPtrErr);
    EXPECT_EQ(ippsHilbert_32f32fc(samples.data(), nullptr, hilbert), ippStsNullPtrErr);
    EXPECT_EQ(ippsHilbert_32f32fc(samples.data(), analyticSignal.data(), nullptr), ippStsNullPtrErr);
    for (const Ipp32fc& value : analyticSignal) EXPECT_TRUE(value.re == 9.0f && value.im == 9.0f);
    EXPECT_EQ(ippsHilbertFree_32f32fc(hilbert), ippStsNoErr);
    EXPECT_EQ(ippsHilbertFree_32f32fc(nullptr), ippStsNullPtrErr);

    int threads = -5;
    EXPECT_EQ(ippGetNumThreads(nullptr), ippStsNullPtrErr);
    EXPECT_EQ(ippSetNumThreads(-2), ippStsSizeErr);
    EXPECT_EQ(ippGetNumThreads(&threads), ippStsNoErr);
    EXPECT_EQ(threads, 1);
}

TEST(IppLayer, ResultsDoNotDependOnAlignmentWorkBufferOrThread) {
    for (int order : {3, 9, 13}) {
        const int n = 1 << order;
        FftSpec spec(order, IPP_FFT_DIV_INV_BY_N);
        const std::vector<double> signal = randomSignal(n, 900 + order);
        auto runAt = [&](double* data, Ipp8u* work) {
            std::copy(signal.begin(), signal.end(), data);
            EXPECT_EQ(ippsFFTFwd_RToPack_64f_I(data, spec.spec, work), ippStsNoErr);
            std::vector<double> result(data, data + n);
            EXPECT_EQ(ippsFFTInv_PackToR_64f_I(data, spec.spec, work), ippStsNoErr);
            result.insert(result.end(), data, data + n);
            return result;
        };

        Ipp8u* block = ippsMalloc_8u((n + 16) * 8);
        Ipp8u* work = ippsMalloc_8u(static_cast<int>(spec.work.size()) + 64);
        ASSERT_NE(block, nullptr);
        ASSERT_NE(work, nullptr);
        auto* aligned = reinterpret_cast<double*>(block);
        const std::vector<double> reference = runAt(aligned, work);
        EXPECT_EQ(runAt(aligned + 1, work), reference);
        for (int workOffset : {8, 16, 24, 40, 56}) EXPECT_EQ(runAt(aligned, work + workOffset), reference);
        EXPECT_EQ(runAt(aligned + 1, nullptr), reference);
        std::vector<double> onThread;
        std::thread([&] { onThread = runAt(aligned + 1, work + 8); }).join();
        EXPECT_EQ(onThread, reference);
        ippsFree(work);
        ippsFree(block);
    }
}

TEST(IppLayer, SpecsMadeAndUsedOnManyThreadsAlongsideAnotherFftwUser) {
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
            if (!plan)
                ++failures;
            else
                fftw_destroy_plan(plan);
        }
    });
    std::vector<std::thread> workers;
    for (int w = 0; w < 8; ++w) {
        workers.emplace_back([w, &failures] {
            std::mt19937 generator(1000 + w);
            std::uniform_int_distribution<int> orderOf(0, 14);
            for (int iteration = 0; iteration < 500; ++iteration) {
                const int order = orderOf(generator);
                const int n = 1 << order;
                IppsFFTSpec_R_64f* spec = nullptr;
                if (ippsFFTInitAlloc_R_64f(&spec, order, IPP_FFT_DIV_INV_BY_N, ippAlgHintAccurate) !=
                    ippStsNoErr) {
                    ++failures;
                    continue;
                }
                int bytes = 0;
                ippsFFTGetBufSize_R_64f(spec, &bytes);
                std::vector<Ipp8u> work(static_cast<size_t>(bytes));
                const std::vector<double> signal = randomSignal(n, 2000 + iteration * 8 + w);
                std::vector<double> data = signal;
                ippsFFTFwd_RToPack_64f_I(data.data(), spec, work.data());
                if (std::fabs(data[0] - std::accumulate(signal.begin(), signal.end(), 0.0)) > 1e-9)
                    ++failures;
                ippsFFTInv_PackToR_64f_I(data.data(), spec, work.data());
                for (int i = 0; i < n; ++i)
                    if (std::fabs(data[i] - signal[i]) > 1e-12) ++failures;
                ippsFFTFree_R_64f(spec);
            }
        });
    }
    for (std::thread& worker : workers) worker.join();
    workersDone.store(true);
    otherUser.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST(IppLayer, ThreadCountIsProcessWideAndLargeTransformsAgreeAcrossCounts) {
    int threads = 0;
    ASSERT_EQ(ippGetNumThreads(&threads), ippStsNoErr);
    EXPECT_EQ(threads, 1);

    const int order = 16;
    const std::vector<double> signal = randomSignal(size_t{1} << order, 1100);
    std::vector<double> oneThread = signal;
    {
        FftSpec spec(order, IPP_FFT_DIV_INV_BY_N);
        ASSERT_EQ(spec.forward(oneThread.data()), ippStsNoErr);
    }

    ASSERT_EQ(ippSetNumThreads(4), ippStsNoErr);
    ASSERT_EQ(ippGetNumThreads(&threads), ippStsNoErr);
    EXPECT_EQ(threads, 4);
    EXPECT_EQ(ippSetNumThreads(0), ippStsSizeErr);
    ASSERT_EQ(ippGetNumThreads(&threads), ippStsNoErr);
    EXPECT_EQ(threads, 4);

    std::vector<double> fourThreads = signal;
    {
        FftSpec spec(order, IPP_FFT_DIV_INV_BY_N);
        ASSERT_EQ(spec.forward(fourThreads.data()), ippStsNoErr);
    }
    const double tolerance = 1e-12 * largestMagnitude(oneThread);
    for (size_t i = 0; i < signal.size(); ++i) ASSERT_NEAR(fourThreads[i], oneThread[i], tolerance) << i;
    EXPECT_EQ(ippSetNumThreads(1), ippStsNoErr);
}

TEST(IppLayer, DenormalModesChangeOnlyTheCallingThread) {
    const unsigned saved = readMxcsr();

    unsigned mask = 99;
    _mm_setcsr(saved | 0x0800u);
    ASSERT_EQ(ippSetFlushToZero(1, nullptr), ippStsNoErr);
    EXPECT_NE(readMxcsr() & 0x8000u, 0u);
    ASSERT_EQ(ippSetFlushToZero(0, &mask), ippStsNoErr);
    EXPECT_EQ(readMxcsr() & 0x8000u, 0u);
    EXPECT_EQ(mask, 1u);
    _mm_setcsr(readMxcsr() & ~0x0800u);
    ASSERT_EQ(ippSetFlushToZero(0, &mask), ippStsNoErr);
    EXPECT_EQ(mask, 0u);
    _mm_setcsr(saved);

    ASSERT_EQ(ippSetDenormAreZeros(1), ippStsNoErr);
    EXPECT_NE(readMxcsr() & 0x0040u, 0u);
    ASSERT_EQ(ippSetDenormAreZeros(0), ippStsNoErr);
    EXPECT_EQ(readMxcsr() & 0x0040u, 0u);

    std::atomic<int> stage{0};
    unsigned otherBefore = 0, otherAfter = 0;
    std::thread other([&] {
        otherBefore = readMxcsr();
        stage.store(1);
        while (stage.load() != 2) std::this_thread::yield();
        otherAfter = readMxcsr();
    });
    while (stage.load() != 1) std::this_thread::yield();
    ippSetFlushToZero(1, nullptr);
    ippSetDenormAreZeros(1);
    volatile double smallest = DBL_MIN;
    volatile double subnormal = 1e-310;
    volatile double half = smallest * 0.5;
    volatile double one = 1.0;
    volatile double same = subnormal * one;
    stage.store(2);
    other.join();
    _mm_setcsr(saved);

    EXPECT_EQ(half, 0.0);
    EXPECT_EQ(same, 0.0);
    EXPECT_EQ(otherAfter, otherBefore);
    EXPECT_EQ(otherAfter & 0x8040u, saved & 0x8040u);
}

TEST(IppLayer, AlignedBlocks) {
    for (int bytes : {1, 7, 64, 100, 4096, 1 << 20}) {
        Ipp8u* block = ippsMalloc_8u(bytes);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 64, 0u);
        std::memset(block, 0xA5, static_cast<size_t>(bytes));
        ippsFree(block);
    }
    EXPECT_EQ(ippsMalloc_8u(0), nullptr);
    EXPECT_EQ(ippsMalloc_8u(-8), nullptr);
    ippsFree(nullptr);
}

} // namespace
