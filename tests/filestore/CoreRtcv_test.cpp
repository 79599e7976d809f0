#include "filestore/CoreRtcv.h"

#include "base/CorePool.h"
#include "filestore/DataRtcv.h"
#include "tests/common/SignalReference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

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

TEST(CoreRtcv, EveryStageTypeEqualsTheDirectForm) {
    struct StageCase { int type, L, M; };
    const StageCase cases[] = {{0, 2, 1},   {0, 4, 1}, {1, 1, 2},  {1, 1, 4}, {2, 8, 7},
                               {2, 20, 21}, {2, 3, 2}, {2, 7, 10}, {2, 11, 6}};
    CorePool pool;
    DataRtcv table(&pool);
    for (const StageCase& sc : cases) {
        for (int n : {300, 1000}) {
            SCOPED_TRACE(testing::Message()
                         << "type " << sc.type << " L " << sc.L << " M " << sc.M << " n " << n);
            CoreRtcv converter(&pool, &table);
            const std::vector<double> x = randomSignal(n, 7u + n);
            const int16_t slot = converter.mkclc(static_cast<int16_t>(sc.type), 48000.0, sc.L, sc.M, n);
            ASSERT_GE(slot, 0);
            const long expectedN = sc.type == 0   ? long(n) * sc.L
                                   : sc.type == 1 ? n / sc.M
                                                  : long(n) * sc.L / sc.M;
            ASSERT_EQ(converter.getol(slot), expectedN);
            const double* y = converter.apply(slot, x.data());
            ASSERT_NE(y, nullptr);
            const std::vector<double> h = referenceFilter(sc.type, sc.L, sc.M, n);
            const long c = static_cast<long>(h.size()) / 2 - 1;
            const int P = sc.type == 1 ? sc.M : sc.L;
            double best = 1e300;
            for (long d = c - P; d <= c + P; ++d)
                best = std::min(best, relativeRms(directForm(x, h, sc.L, sc.M, d, expectedN), y));
            EXPECT_LT(best, 1e-9);
        }
    }
}

TEST(CoreRtcv, RunsPathsAndPassesUnconvertedRows) {
    struct Row { int16_t row; double askedRate; int32_t outN; double outRate; bool passed; };
    const Row rows[] = {
        {14, 0, 2000, 88200, false},
        {2, 0, 250, 11025, false},
        {-2, 12345, 1000, 12345, true},                    // no row: the data as it is
        {-1, 48000, 1000 * 8 / 7 * 20 / 21, 48000, false}, // looked up: 44100 -> 48000 is row 9 (160/147)
        {-1, 44100, 1000, 44100, true},                    // a pair no row fits
    };
    CorePool pool;
    DataRtcv table(&pool);
    CoreRtcv converter(&pool, &table);
    std::vector<double> x = randomSignal(1000, 1);
    for (const Row& r : rows) {
        int32_t outN = 0;
        double outRate = r.askedRate;
        const double* y = converter.cnvrt(x.data(), 1000, outN, 44100, outRate, r.row);
        EXPECT_EQ(y == x.data(), r.passed) << r.row;
        EXPECT_EQ(outN, r.outN) << r.row;
        EXPECT_DOUBLE_EQ(outRate, r.outRate) << r.row;
    }
}

TEST(CoreRtcv, PlanCacheReusesAndReplacesInTurn) {
    struct Call { int16_t type; double rate; int32_t L, M, n; int16_t slot; };
    const Call calls[] = {
        {0, 44100, 2, 1, 500, 0}, {1, 44100, 1, 2, 500, 1},
        {2, 44100, 3, 2, 500, 2}, {0, 44100, 2, 1, 500, 0}, // a hit: slot 1 is next
        {0, 44100, 2, 1, 501, 1},                           // a fourth plan replaces slot 1
        {2, 44100, 3, 2, 500, 2},                           // still cached
        {1, 44100, 1, 2, 500, 0},                           // was replaced: rebuilt after slot 2
        {0, 44100, 2, 7, 501, 1},                           // M is 1 for interpolation: the same plan
        {0, 48000, 2, 1, 501, 2},                           // another rate is another plan
    };
    CorePool pool;
    DataRtcv table(&pool);
    CoreRtcv converter(&pool, &table);
    for (const Call& c : calls)
        EXPECT_EQ(converter.mkclc(c.type, c.rate, c.L, c.M, c.n), c.slot) << c.type << " " << c.n;
}

TEST(CoreRtcv, SecondChannelOfTheSameLengthAllocatesNothing) {
    CorePool pool;
    int allocations = 0;
    auto plain = pool.allocator;
    pool.allocator = [&](size_t bytes) {
        ++allocations;
        return plain(bytes);
    };
    DataRtcv table(&pool);
    CoreRtcv converter(&pool, &table);
    std::vector<double> left = randomSignal(5000, 2), right = randomSignal(5000, 3);
    for (int16_t row : {int16_t(9), int16_t(40)}) {
        int32_t outN = 0;
        double outRate = 0;
        converter.cnvrt(left.data(), 5000, outN, row == 9 ? 44100 : 48000, outRate, row);
        const int before = allocations;
        converter.cnvrt(right.data(), 5000, outN, row == 9 ? 44100 : 48000, outRate, row);
        EXPECT_EQ(allocations, before) << row;
    }
}

TEST(CoreRtcv, ChainsGiveTheSameResultWhateverTheCacheHolds) {
    CorePool pool;
    DataRtcv table(&pool);
    std::vector<double> x = randomSignal(3000, 4);
    auto run = [&](CoreRtcv& converter, int16_t row, double rate) {
        int32_t outN = 0;
        double outRate = 0;
        const double* y = converter.cnvrt(x.data(), 3000, outN, rate, outRate, row);
        return std::vector<double>(y, y + outN);
    };
    CoreRtcv fresh40(&pool, &table), fresh9(&pool, &table), busy(&pool, &table);
    const std::vector<double> expected40 = run(fresh40, 40, 48000);
    const std::vector<double> expected9 = run(fresh9, 9, 44100);
    EXPECT_EQ(run(busy, 40, 48000), expected40);
    EXPECT_EQ(run(busy, 9, 44100), expected9);
    EXPECT_EQ(run(busy, 40, 48000), expected40);
    EXPECT_EQ(run(busy, 66, 88200).size(), size_t(3000 * 4 / 3 * 5 / 7 * 4 / 7));
    EXPECT_EQ(run(busy, 9, 44100), expected9);
}

TEST(CoreRtcv, DegenerateLengthsGiveNoOutputOrAShortCorrectOne) {
    CorePool pool;
    DataRtcv table(&pool);
    CoreRtcv converter(&pool, &table);
    std::vector<double> x = randomSignal(8, 5);
    struct Row { bool data; int32_t n; int16_t row; };
    const Row empty[] = {{true, 0, 14}, {true, 1, 14}, {true, -5, 14}, {false, 100, 14},
                         {true, 3, 2},  {true, 4, 2}}; // below M = 4, and one tap per branch
    for (const Row& r : empty) {
        int32_t outN = -1;
        double outRate = 0;
        converter.cnvrt(r.data ? x.data() : nullptr, r.n, outN, 44100, outRate, r.row);
        EXPECT_EQ(outN, 0) << r.n << " along row " << r.row;
    }
    for (int n : {2, 3, 8}) { // short inputs that can run match the direct form
        std::vector<double> input(x.begin(), x.begin() + n);
        int32_t outN = 0;
        double outRate = 0;
        const double* y = converter.cnvrt(input.data(), n, outN, 44100, outRate, 14);
        ASSERT_EQ(outN, 2 * n);
        const std::vector<double> h = referenceFilter(0, 2, 1, n);
        const long c = static_cast<long>(h.size()) / 2 - 1;
        double best = 1e300;
        for (long d = c - 2; d <= c + 2; ++d)
            best = std::min(best, relativeRms(directForm(input, h, 2, 1, d, 2 * n), y));
        EXPECT_LT(best, 1e-9) << n;
    }
    EXPECT_EQ(converter.mkclc(1, 44100, 1, 4, 4), -1);
    EXPECT_EQ(converter.mkclc(2, 44100, 2, 3, 1), -1);
    EXPECT_EQ(converter.apply(-1, x.data()), nullptr);
    EXPECT_EQ(converter.getol(5), 0);
}

// Frequency from interpolated upward zero crossings and amplitude from the RMS
// over whole cycles, both over the middle half.
void measureSine(const double* y, long n, double rate, double& frequency, double& amplitude) {
    const long begin = n / 4, end = 3 * n / 4;
    double first = -1, last = -1;
    long cycles = -1, firstIndex = 0, lastIndex = 0;
    for (long i = begin; i + 1 < end; ++i) {
        if (y[i] < 0 && y[i + 1] >= 0) {
            const double at = i + y[i] / (y[i] - y[i + 1]);
            if (first < 0) {
                first = at;
                firstIndex = i + 1;
            }
            last = at;
            lastIndex = i + 1;
            ++cycles;
        }
    }
    frequency = cycles / (last - first) * rate;
    double energy = 0;
    for (long i = firstIndex; i < lastIndex; ++i) energy += y[i] * y[i];
    amplitude = std::sqrt(2.0 * energy / (lastIndex - firstIndex));
}

TEST(CoreRtcv, KeepsToneFrequencyAndLevelAndRejectsAliases) {
    CorePool pool;
    DataRtcv table(&pool);
    const long n = 65536;
    struct Path { int16_t row; double from, to; };
    for (const Path& path :
         {Path{9, 44100, 48000}, Path{40, 48000, 44100}, Path{14, 44100, 88200}, Path{65, 88200, 44100}}) {
        SCOPED_TRACE(path.row);
        CoreRtcv converter(&pool, &table);
        std::vector<double> x(n);
        for (long i = 0; i < n; ++i) x[i] = 0.5 * std::sin(2 * kPi * 1000.0 * i / path.from);
        int32_t outN = 0;
        double outRate = 0;
        const double* y =
            converter.cnvrt(x.data(), static_cast<int32_t>(n), outN, path.from, outRate, path.row);
        EXPECT_DOUBLE_EQ(outRate, path.to);
        double frequency, amplitude;
        measureSine(y, outN, outRate, frequency, amplitude);
        EXPECT_LT(std::fabs(frequency / 1000.0 - 1.0), 1e-4);
        EXPECT_LT(std::fabs(20 * std::log10(amplitude / 0.5)), 0.05);
    }
    CoreRtcv converter(&pool, &table);
    std::vector<double> x(n);
    for (long i = 0; i < n; ++i) x[i] = 0.5 * std::sin(2 * kPi * 26000.0 * i / 88200.0);
    int32_t outN = 0;
    double outRate = 0;
    const double* y = converter.cnvrt(x.data(), static_cast<int32_t>(n), outN, 88200, outRate, 65);
    double energy = 0;
    for (long i = outN / 4; i < 3 * outN / 4; ++i) energy += y[i] * y[i];
    const double rms = std::sqrt(energy / (outN / 2));
    EXPECT_LT(20 * std::log10(rms / (0.5 / std::sqrt(2.0))), -80.0);
}

TEST(CoreRtcv, WindowRoutineRaisesTheBlackmanValueToItsPower) {
    const int n = 9;
    auto w = [&](int i) {
        const double t = kPi * i / (n - 1);
        return 0.42 - 0.5 * std::cos(2 * t) + 0.08 * std::cos(4 * t);
    };
    struct Power { double power; int exponent; };
    for (const Power& p :
         {Power{-1, 1}, Power{0, 1}, Power{1, 2}, Power{2, 3}, Power{10, 11}, Power{0.5, 2}}) {
        for (bool half : {false, true}) {
            SCOPED_TRACE(testing::Message() << p.power << " half " << half);
            std::vector<double> h(n, 3.0);
            CoreRtcv::flblk(n, h.data(), p.power, half);
            for (int i = 0; i < n; ++i) {
                const double expected = (!half || i <= n / 2) ? 3.0 * std::pow(w(i), p.exponent) : 3.0;
                EXPECT_NEAR(h[i], expected, 1e-15) << i;
            }
        }
    }
    double one = 2.0;
    CoreRtcv::flblk(1, &one, 1.0, false);
    EXPECT_EQ(one, 2.0);
}

TEST(CoreRtcv, DesignStepsWriteTheHalvesTheySay) {
    const int n = 10; // c = 4
    std::vector<double> h(n, 9.0);
    CoreRtcv::flint(n, h.data(), 2.0, true);
    EXPECT_EQ(h[4], 1.0);
    EXPECT_DOUBLE_EQ(h[3], std::sin(kPi / 2) * 2 / kPi);
    EXPECT_DOUBLE_EQ(h[5], h[3]); // tap n/2 belongs to the left half
    EXPECT_EQ(h[6], 9.0);
    CoreRtcv::flhcp(n, h.data());
    for (int j = 1; j <= 4; ++j) EXPECT_EQ(h[4 + j], h[4 - j]);
    EXPECT_EQ(h[9], 0.0);
    CoreRtcv::fldec(n, h.data(), 4.0, false);
    EXPECT_EQ(h[4], 0.25);
    EXPECT_DOUBLE_EQ(h[8], std::sin(4 * kPi / 4) / (4 * kPi));
    int64_t q = 3;
    int32_t p = 5;
    CoreRtcv::frcps(q, p, 21, 20);
    EXPECT_EQ(q, 4);
    EXPECT_EQ(p, 6);
}

} // namespace
