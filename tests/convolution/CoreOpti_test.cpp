#include "convolution/CoreOpti.h"
#include "tests/common/SignalReference.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

namespace {

struct DirectRoutine {
    const char* name;
    StepRoutine routine;
    int step;
};

const DirectRoutine directRoutines[] = {
    {"cnvs0 (mode 0)", CoreOpti::cnvs0, 1}, {"cnvs1 (mode 1)", cnvs1, 1},
    {"cnvs2 (mode 2)", CoreOpti::cnvs2, 2}, {"cnvs4 (mode 3)", CoreOpti::cnvs4, 1},
    {"cnvs5 (mode 4)", cnvs5, 1},           {"cnvs6 (mode 5)", CoreOpti::cnvs6, 2},
    {"cnvs3", CoreOpti::cnvs3, 2},
};

const long ringLengths[] = {2, 4, 16, 100, 512};

// Two rings of 3N doubles driven exactly as the convolver drives them: the position starts at N,
// wraps from 2N back to N before each call and advances by the step.
struct RingDriver {
    long length;
    long position;
    std::vector<double> ringL;
    std::vector<double> ringR;

    explicit RingDriver(long n) : length(n), position(n), ringL(3 * n, 0.0), ringR(3 * n, 0.0) {}

    void run(const DirectRoutine& r, const std::vector<double>& inL, const std::vector<double>& inR,
             std::vector<double>& outL, std::vector<double>& outR, const std::vector<double>& kL,
             const std::vector<double>& kR) {
        outL.assign(inL.size(), -7.0);
        outR.assign(inR.size(), -7.0);
        for (size_t i = 0; i < inL.size(); i += r.step) {
            if (position >= 2 * length) position = length;
            r.routine(&inL[i], &inR[i], &outL[i], &outR[i], kL.data(), kR.data(), ringL.data(), ringR.data(),
                      length, position, nullptr);
            position += r.step;
        }
    }

    bool ringsAreZero() const {
        for (double v : ringL)
            if (v != 0.0) return false;
        for (double v : ringR)
            if (v != 0.0) return false;
        return true;
    }
};

size_t samplesCrossingBothWraps(long n) {
    size_t count = static_cast<size_t>(3 * n + 7);
    return count + (count & 1); // the two-sample routines need an even count
}

} // namespace

TEST(CoreOpti, DirectRoutinesMatchNaiveConvolutionAndEachOther) {
    std::mt19937 generator(20240601);
    for (long n : ringLengths) {
        const size_t count = samplesCrossingBothWraps(n);
        const std::vector<double> inL = randomSignal(generator, count);
        const std::vector<double> inR = randomSignal(generator, count);
        const std::vector<double> kL = randomSignal(generator, n);
        const std::vector<double> kR = randomSignal(generator, n);
        const std::vector<double> expectedL = naiveConvolution(inL, kL);
        const std::vector<double> expectedR = naiveConvolution(inR, kR);
        const double toleranceL = 1e-12 * sumOfMagnitudes(kL) * largestMagnitude(inL);
        const double toleranceR = 1e-12 * sumOfMagnitudes(kR) * largestMagnitude(inR);

        std::vector<double> firstL, firstR;
        for (const DirectRoutine& r : directRoutines) {
            SCOPED_TRACE(testing::Message() << r.name << " N=" << n);
            RingDriver driver(n);
            std::vector<double> outL, outR;
            driver.run(r, inL, inR, outL, outR, kL, kR);
            for (size_t i = 0; i < count; ++i) {
                ASSERT_NEAR(outL[i], expectedL[i], toleranceL) << "left sample " << i;
                ASSERT_NEAR(outR[i], expectedR[i], toleranceR) << "right sample " << i;
            }
            if (firstL.empty()) {
                firstL = outL;
                firstR = outR;
            }
            for (size_t i = 0; i < count; ++i) {
                ASSERT_NEAR(outL[i], firstL[i], toleranceL);
                ASSERT_NEAR(outR[i], firstR[i], toleranceR);
            }
        }
    }
}

TEST(CoreOpti, UnitImpulseKernelPassesInputWithoutDelay) {
    std::mt19937 generator(7);
    for (long n : ringLengths) {
        const size_t count = samplesCrossingBothWraps(n);
        const std::vector<double> inL = randomSignal(generator, count);
        const std::vector<double> inR = randomSignal(generator, count);
        std::vector<double> impulse(n, 0.0);
        impulse[0] = 1.0;
        for (const DirectRoutine& r : directRoutines) {
            SCOPED_TRACE(testing::Message() << r.name << " N=" << n);
            RingDriver driver(n);
            std::vector<double> outL, outR;
            driver.run(r, inL, inR, outL, outR, impulse, impulse);
            EXPECT_EQ(outL, inL);
            EXPECT_EQ(outR, inR);
        }
    }
}

TEST(CoreOpti, LastTapDelaysByLengthMinusOne) {
    std::mt19937 generator(11);
    for (long n : ringLengths) {
        const size_t count = samplesCrossingBothWraps(n);
        const std::vector<double> inL = randomSignal(generator, count);
        const std::vector<double> inR = randomSignal(generator, count);
        std::vector<double> lastTap(n, 0.0);
        lastTap[n - 1] = 1.0;
        for (const DirectRoutine& r : directRoutines) {
            SCOPED_TRACE(testing::Message() << r.name << " N=" << n);
            RingDriver driver(n);
            std::vector<double> outL, outR;
            driver.run(r, inL, inR, outL, outR, lastTap, lastTap);
            for (size_t i = 0; i < count; ++i) {
                const double wantL = i >= static_cast<size_t>(n - 1) ? inL[i - (n - 1)] : 0.0;
                const double wantR = i >= static_cast<size_t>(n - 1) ? inR[i - (n - 1)] : 0.0;
                ASSERT_EQ(outL[i], wantL) << "sample " << i;
                ASSERT_EQ(outR[i], wantR) << "sample " << i;
            }
        }
    }
}

TEST(CoreOpti, RingEmptiesAfterZeroInput) {
    std::mt19937 generator(13);
    for (long n : ringLengths) {
        const size_t loud = samplesCrossingBothWraps(n);
        const std::vector<double> kL = randomSignal(generator, n);
        const std::vector<double> kR = randomSignal(generator, n);
        for (const DirectRoutine& r : directRoutines) {
            SCOPED_TRACE(testing::Message() << r.name << " N=" << n);
            RingDriver driver(n);
            std::vector<double> outL, outR;
            driver.run(r, randomSignal(generator, loud), randomSignal(generator, loud), outL, outR, kL, kR);
            ASSERT_FALSE(driver.ringsAreZero());
            const std::vector<double> silence(n + (n & 1), 0.0);
            driver.run(r, silence, silence, outL, outR, kL, kR);
            EXPECT_TRUE(driver.ringsAreZero());
            // From then on the output is silent too.
            driver.run(r, silence, silence, outL, outR, kL, kR);
            EXPECT_EQ(outL, silence);
            EXPECT_EQ(outR, silence);
        }
    }
}

TEST(CoreOpti, PassThroughCopiesAndBlockStubsTouchNothing) {
    const double inL = 0.25, inR = -3.5;
    double outL = 0.0, outR = 0.0;
    CoreOpti::cnvs7(&inL, &inR, &outL, &outR, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr);
    EXPECT_EQ(outL, 0.25);
    EXPECT_EQ(outR, -3.5);

    // Null everywhere: a stub that touched any argument would crash.
    for (StepRoutine stub : {CoreOpti::cnvs8, CoreOpti::cnvs9, CoreOpti::cns13})
        EXPECT_EQ(
            stub(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 512, 512, nullptr),
            0);
    EXPECT_EQ(cnvm8(nullptr, nullptr, nullptr, nullptr, 512, 512, nullptr), 0);
    EXPECT_EQ(cnvm9(nullptr, nullptr, nullptr, nullptr, 512, 512, nullptr), 0);
    EXPECT_EQ(cnm13(nullptr, nullptr, nullptr, nullptr, 512, 512, nullptr), 0);
}

TEST(CoreOpti, KlladStoresZeroNegativeZeroAndDenormalsAsPositiveZero) {
    std::vector<double> values = {-0.0, DBL_TRUE_MIN, -1e-310,  1e-310,   DBL_MIN,
                                  -1.5, 1e300,        -DBL_MIN, INFINITY, 0.0};
    double* p = values.data();
    kllad(static_cast<int>(values.size()), &p);
    const double expected[] = {0.0, 0.0, 0.0, 0.0, DBL_MIN, -1.5, 1e300, -DBL_MIN, INFINITY, 0.0};
    for (size_t i = 0; i < values.size(); ++i) {
        EXPECT_EQ(values[i], expected[i]) << i;
        EXPECT_FALSE(std::signbit(values[i]) && values[i] == 0.0) << i;
    }

    double untouched[] = {-0.0, 1e-310};
    double* q = untouched;
    kllad(0, &q);
    EXPECT_TRUE(std::signbit(untouched[0]));
    EXPECT_EQ(untouched[1], 1e-310);
}

TEST(CoreOpti, MixersMatchHandComputedValues) {
    double l[] = {1.0, -2.0, 4.0};
    double r[] = {0.5, 3.0, -1.0};
    double* pl = l;
    double* pr = r;
    mixr1(3, &pl, &pr, -2.0);
    EXPECT_EQ(std::vector<double>(l, l + 3), (std::vector<double>{-2.0, 4.0, -8.0}));
    EXPECT_EQ(std::vector<double>(r, r + 3), (std::vector<double>{-1.0, -6.0, 2.0}));

    double sl[] = {1.0, 2.0, 3.0};
    double sr[] = {-1.0, 0.5, 0.25};
    double* psl = sl;
    double* psr = sr;
    mixr2(3, &pl, &pr, &psl, &psr, 0.5);
    EXPECT_EQ(std::vector<double>(l, l + 3), (std::vector<double>{-1.5, 5.0, -6.5}));
    EXPECT_EQ(std::vector<double>(r, r + 3), (std::vector<double>{-1.5, -5.75, 2.125}));

    // dL += a sL + d sR; dR += b sL + c sR.
    double ml[] = {1.0, 1.0};
    double mr[] = {2.0, 2.0};
    double* pml = ml;
    double* pmr = mr;
    mixr3(2, &pml, &pmr, &psl, &psr, 2.0, 3.0, 5.0, 7.0);
    EXPECT_EQ(ml[0], 1.0 + 2.0 * 1.0 + 7.0 * -1.0);
    EXPECT_EQ(ml[1], 1.0 + 2.0 * 2.0 + 7.0 * 0.5);
    EXPECT_EQ(mr[0], 2.0 + 3.0 * 1.0 + 5.0 * -1.0);
    EXPECT_EQ(mr[1], 2.0 + 3.0 * 2.0 + 5.0 * 0.5);

    // The identity matrix is the plain sum.
    std::mt19937 generator(3);
    std::vector<double> aL = randomSignal(generator, 9), aR = randomSignal(generator, 9);
    std::vector<double> bL = aL, bR = aR;
    std::vector<double> srcL = randomSignal(generator, 9), srcR = randomSignal(generator, 9);
    double *paL = aL.data(), *paR = aR.data(), *pbL = bL.data(), *pbR = bR.data();
    double *psrcL = srcL.data(), *psrcR = srcR.data();
    mixr3(9, &paL, &paR, &psrcL, &psrcR, 1.0, 0.0, 1.0, 0.0);
    mixr2(9, &pbL, &pbR, &psrcL, &psrcR, 1.0);
    EXPECT_EQ(aL, bL);
    EXPECT_EQ(aR, bR);
}

TEST(CoreOpti, FadeOutTouchesOnlyTheLastSamplesAndClampsItsLength) {
    double l[] = {1.0, 1.0, 1.0, 1.0};
    double r[] = {2.0, 2.0, 2.0, 2.0};
    const double env[] = {0.5, 0.25, 0.125, 0.0625, 99.0};
    mkefo(4, 2, l, r, env);
    EXPECT_EQ(std::vector<double>(l, l + 4), (std::vector<double>{1.0, 1.0, 0.5, 0.25}));
    EXPECT_EQ(std::vector<double>(r, r + 4), (std::vector<double>{2.0, 2.0, 1.0, 0.5}));

    // A fade longer than the buffer covers the buffer, never more; a negative one does nothing.
    double guardedL[6] = {7.0, 1.0, 1.0, 1.0, 1.0, 7.0};
    double guardedR[6] = {7.0, 1.0, 1.0, 1.0, 1.0, 7.0};
    mkefo(4, 5, guardedL + 1, guardedR + 1, env);
    EXPECT_EQ(std::vector<double>(guardedL, guardedL + 6),
              (std::vector<double>{7.0, 0.5, 0.25, 0.125, 0.0625, 7.0}));
    mkefo(4, -3, guardedL + 1, guardedR + 1, env);
    EXPECT_EQ(guardedL[1], 0.5);
}

TEST(CoreOpti, ComplexMultiplyAccumulateMatchesHandComputedValues) {
    const float a[] = {1.0f, 2.0f, -3.0f, 0.5f};
    const float b[] = {3.0f, -1.0f, 2.0f, 4.0f};
    float acc[] = {10.0f, 20.0f, 0.0f, 0.0f};
    maacf(2, a, b, acc);
    // (1 + 2i)(3 - i) = 5 + 5i; (-3 + 0.5i)(2 + 4i) = -8 - 11i.
    EXPECT_EQ(acc[0], 15.0f);
    EXPECT_EQ(acc[1], 25.0f);
    EXPECT_EQ(acc[2], -8.0f);
    EXPECT_EQ(acc[3], -11.0f);
}

TEST(CoreOpti, ThisMachineHasSse2) {
    EXPECT_TRUE(issm2());
}
