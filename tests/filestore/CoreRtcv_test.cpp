// CoreRtcv: every stage type equal to the direct form of its designed filter, allocation-free second
// channels, and degenerate lengths and rows.
#include "filestore/CoreRtcv.h"
#include "base/CorePool.h"

#include "filestore/DataRtcv.h"
#include "tests/common/SignalReference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

constexpr double kPi = 3.14159265358979323846;

// The prototype filter of a stage written out from its design: sinc
// coefficients, Blackman window to the power 11 on the left half, mirror, zero
// tail.
std::vector<double> referenceFilter(int type, int L, int M, int n) {
    const long N = type == 1 ? std::min<long>(2048L * M, n) : std::min<long>(2048, n) * L;
    std::vector<double> h(N, 0.0);
    const long c = N / 2 - 1;
    double gain, cutoff;
    if (type == 1) {
        gain = 1.0;
        cutoff = M;
    } else if (L > M) {
        gain = L;
        cutoff = L;
    } else {
        gain = L;
        cutoff = M;
    }
    h[c] = gain / cutoff;
    for (long k = 1; k <= c; ++k) h[c - k] = std::sin(k * kPi / cutoff) * gain / (k * kPi);
    for (long i = 0; i <= c; ++i) {
        const double t = kPi * i / (N - 1);
        const double w = 0.42 - 0.5 * std::cos(2 * t) + 0.08 * std::cos(4 * t);
        h[i] *= std::pow(w, 11);
    }
    for (long j = 1; j <= c; ++j) h[c + j] = h[c - j];
    return h;
}

// y[m] = sum_k x[k] h[d + m M - k L].
std::vector<double> directForm(const std::vector<double>& x, const std::vector<double>& h, int L, int M,
                               long d, long outN) {
    std::vector<double> y(outN, 0.0);
    const long N = static_cast<long>(h.size());
    for (long m = 0; m < outN; ++m) {
        double sum = 0.0;
        const long t = d + m * M;
        const long kLow = std::max(0L, (t - N + L) / L);
        for (long k = kLow; k < static_cast<long>(x.size()); ++k) {
            const long tap = t - k * L;
            if (tap < 0) break;
            if (tap < N) sum += x[k] * h[tap];
        }
        y[m] = sum;
    }
    return y;
}

double relativeRms(const std::vector<double>& a, const double* b) {
    double error = 0.0, energy = 0.0;
    for (size_t i = 0; i < a.size(); ++i) {
        error += (a[i] - b[i]) * (a[i] - b[i]);
        energy += a[i] * a[i];
    }
    return std::sqrt(error / std::max(energy, 1e-300));
}

// The best match over the few delays around the filter's centre (the implementation's alignment).
double bestMatch(const std::vector<double>& x, int type, int L, int M, long outN, const double* y) {
    const std::vector<double> h = referenceFilter(type, L, M, static_cast<int>(x.size()));
    const long c = static_cast<long>(h.size()) / 2 - 1, P = type == 1 ? M : L;
    double best = 1e300;
    for (long d = c - P; d <= c + P; ++d)
        best = std::min(best, relativeRms(directForm(x, h, L, M, d, outN), y));
    return best;
}

TEST(CoreRtcv, EveryStageTypeEqualsTheDirectForm) {
    struct StageCase { int type, L, M; };
    const StageCase cases[] = {{0, 4, 1}, {1, 1, 4}, {2, 8, 7}, {2, 7, 10}};
    CorePool pool;
    DataRtcv table(&pool);
    for (const StageCase& sc : cases) {
        SCOPED_TRACE(testing::Message() << "type " << sc.type << " L " << sc.L << " M " << sc.M);
        CoreRtcv converter(&pool, &table);
        const std::vector<double> x = randomSignal(300, 7u);
        const int16_t slot = converter.mkclc(static_cast<int16_t>(sc.type), 48000.0, sc.L, sc.M, 300);
        ASSERT_GE(slot, 0);
        const long expectedN = sc.type == 0 ? 300L * sc.L : sc.type == 1 ? 300 / sc.M : 300L * sc.L / sc.M;
        ASSERT_EQ(converter.getol(slot), expectedN);
        EXPECT_LT(bestMatch(x, sc.type, sc.L, sc.M, expectedN, converter.apply(slot, x.data())), 1e-9);
    }
}

TEST(CoreRtcv, SecondChannelOfTheSameLengthAllocatesNothing) {
    CorePool pool;
    int allocations = 0;
    pool.allocator = [&allocations, plain = pool.allocator](size_t n) { return ++allocations, plain(n); };
    DataRtcv table(&pool);
    CoreRtcv converter(&pool, &table);
    std::vector<double> left = randomSignal(5000, 2), right = randomSignal(5000, 3);
    int32_t outN = 0;
    double outRate = 0;
    converter.cnvrt(left.data(), 5000, outN, 48000, outRate, 40);
    const int before = allocations;
    converter.cnvrt(right.data(), 5000, outN, 48000, outRate, 40);
    EXPECT_EQ(allocations, before);
}

TEST(CoreRtcv, DegenerateLengthsGiveNoOutputOrAShortCorrectOne) {
    CorePool pool;
    DataRtcv table(&pool);
    CoreRtcv converter(&pool, &table);
    std::vector<double> x = randomSignal(8, 5);
    struct Row { bool data; int32_t n; int16_t row; };
    const Row empty[] = {{true, 1, 14}, {true, -5, 14}, {false, 100, 14}, {true, 3, 2}}; // 3: below M = 4
    for (const Row& r : empty) {
        int32_t outN = -1;
        double outRate = 0;
        converter.cnvrt(r.data ? x.data() : nullptr, r.n, outN, 44100, outRate, r.row);
        EXPECT_EQ(outN, 0) << r.n << " along row " << r.row;
    }
    for (int n : {2, 3}) { // short inputs that can run match the direct form
        std::vector<double> input(x.begin(), x.begin() + n);
        int32_t outN = 0;
        double outRate = 0;
        const double* y = converter.cnvrt(input.data(), n, outN, 44100, outRate, 14);
        ASSERT_EQ(outN, 2 * n);
        EXPECT_LT(bestMatch(input, 0, 2, 1, 2 * n, y), 1e-9) << n;
    }
    int32_t outN = 0;
    double outRate = 12345;
    EXPECT_TRUE(converter.cnvrt(x.data(), 8, outN, 44100, outRate, -2) == x.data() && outN == 8); // no row
    EXPECT_EQ(converter.mkclc(2, 44100, 2, 3, 1), -1);
    EXPECT_EQ(converter.apply(-1, x.data()), nullptr);
}

