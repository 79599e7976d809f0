// CoreEleq: finite spectra for degenerate signals, refused arguments leaving both spectra untouched,
// and equalising at the signal's own scale (mix 0 and 1).
#include "filestore/CoreEleq.h"
#include "base/CorePool.h"

#include "platform/IppLayer.h"
#include "tests/common/SignalReference.h"

#include <gtest/gtest.h>

#include <cmath>

constexpr int kRate = 48000;

// The arguments the cases vary; a 1024-point transform, spline degree 3 of factor 2 and mix 1 otherwise.
struct Call {
    double bandFraction = 0.005;
    bool windowA = false;
    double taperReference = 0.0;
    int taperFrequency = -1, rate = kRate;
};

bool run(CorePool& pool, std::vector<Ipp64fc>& a, std::vector<Ipp64fc>& b, std::vector<double>& signalA,
         std::vector<double>& signalB, const Call& call) {
    a.assign(1024, Ipp64fc{0.0, 0.0});
    b.assign(1024, Ipp64fc{0.0, 0.0});
    return CoreEleq::eqcal(&pool, a.data(), b.data(), 1024, static_cast<int>(signalA.size()), signalA.data(),
                           static_cast<int>(signalB.size()), signalB.data(), call.rate, call.bandFraction,
                           call.windowA, 3, 1.0, call.taperReference, 2, call.taperFrequency);
}

TEST(CoreEleq, DegenerateSignalsGiveFiniteSpectra) {
    CorePool pool;
    struct Case { const char* what; std::vector<double> a, b; Call call; bool expected; };
    const Case cases[] = {
        {"silent A", std::vector<double>(500, 0.0), randomSignal(500, 6), Call{}, true},
        {"silent B", randomSignal(500, 7), std::vector<double>(500, 0.0), Call{}, true},
        {"band fraction 0", randomSignal(300, 8), randomSignal(300, 9), Call{.bandFraction = 0.0}, true},
        {"windowed, tapered", randomSignal(300, 8), randomSignal(300, 9),
         Call{.windowA = true, .taperReference = 0.1, .taperFrequency = 20000}, true},
        {"tiny A", std::vector<double>(64, 1e-300), randomSignal(64, 12), Call{}, true},
        // Half the sample rate is 1 Hz: the logarithmic scale is empty and no band holds a bin.
        {"no band holds bins", randomSignal(64, 13), randomSignal(64, 14), Call{.rate = 3}, false}};
    for (const Case& c : cases) {
        std::vector<double> x = c.a, y = c.b;
        std::vector<Ipp64fc> a, b;
        EXPECT_EQ(run(pool, a, b, x, y, c.call), c.expected) << c.what;
        for (int i = 0; i < 1024; ++i)
            ASSERT_TRUE(std::isfinite(a[i].re + a[i].im + b[i].re + b[i].im)) << c.what << " " << i;
        EXPECT_EQ(pool.getma(), 0) << c.what;
    }
}

TEST(CoreEleq, InvalidArgumentsLeaveBothSpectraUntouched) {
    CorePool pool;
    std::vector<double> x = randomSignal(256, 17), y = randomSignal(256, 18);
    const Ipp64fc sentinel{-123.0, 456.0};
    struct Case { const char* what; int fftSize, lengthB; double* signalB; short degree; double fraction; };
    const Case cases[] = {{"fft size not a power of two", 96, 64, y.data(), 3, 0.005},
                          {"length B above fft size", 64, 65, y.data(), 3, 0.005},
                          {"no signal B", 128, 64, nullptr, 3, 0.005},
                          {"degree 11", 128, 64, y.data(), 11, 0.005},
                          {"band fraction NaN", 128, 64, y.data(), 3, NAN}};
    for (const Case& c : cases) {
        std::vector<Ipp64fc> a(256, sentinel), b(256, sentinel);
        EXPECT_FALSE(CoreEleq::eqcal(&pool, a.data(), b.data(), c.fftSize, 64, x.data(), c.lengthB, c.signalB,
                                     kRate, c.fraction, false, c.degree, 1.0, 0.0, 2, -1))
            << c.what;
        for (int i = 0; i < 256; ++i) ASSERT_TRUE(a[i].re == sentinel.re && b[i].im == sentinel.im) << c.what;
    }
    EXPECT_EQ(pool.getma(), 0);
}

TEST(CoreEleq, EqualisingAppliesTheCorrectionAtTheSignalsOwnScale) {
    CorePool pool;
    const std::vector<double> original = randomSignal(1000, 19);
    const double peak = largestMagnitude(original);
    std::vector<double> x = original, doubled = original;
    for (double& v : doubled) v *= 2.0;
    CoreEleq::eqcaf(&pool, 1000, x.data(), 1000, doubled.data(), kRate, 0.005, false, 3, 0.0, 0.0); // mix 0
    for (int i = 0; i < 1000; ++i) EXPECT_NEAR(x[i], original[i], 1e-9 * peak) << i;
    CoreEleq::eqcaf(&pool, 1000, x.data(), 1000, doubled.data(), kRate, 0.005, false, 3, 1.0, 0.0);
    for (int i = 0; i < 1000; ++i) EXPECT_NEAR(x[i], 2.0 * original[i], 1e-3 * peak) << i;
    // Nothing changes when no band holds a bin or the arguments are refused.
    x = original;
    CoreEleq::eqcaf(&pool, 1000, x.data(), 1000, doubled.data(), 3, 0.005, false, 3, 1.0, 0.0);
    CoreEleq::eqcaf(&pool, 1000, x.data(), 1000, doubled.data(), kRate, 0.005, false, -2, 1.0, 0.0);
    EXPECT_EQ(x, original);
    EXPECT_EQ(pool.getma(), 0);
}

