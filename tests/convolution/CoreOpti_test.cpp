#include "convolution/CoreOpti.h"
#include "tests/common/SignalReference.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

using Signal = std::vector<double>;

// Every direct routine, driven as the convolver drives it (the position starts at N, wraps from 2N
// back to N before a call and advances by the step) across both wraps: against the naive
// convolution for random kernels, exactly for a delay of N - 1, and the rings all zeros (so the
// output silent) once N silent samples have passed.
TEST(CoreOpti, DirectRoutinesConvolveAcrossRingWrapsAndEmptyTheirRings) {
    struct Routine {
        const char* name;
        StepRoutine routine;
        int step;
    };
    const Routine routines[] = {{"cnvs0", CoreOpti::cnvs0, 1}, {"cnvs1", cnvs1, 1},
                                {"cnvs2", CoreOpti::cnvs2, 2}, {"cnvs4", CoreOpti::cnvs4, 1},
                                {"cnvs5", cnvs5, 1},           {"cnvs6", CoreOpti::cnvs6, 2},
                                {"cnvs3", CoreOpti::cnvs3, 2}};
    std::mt19937 generator(20240601);
    for (long n : {2L, 16L, 100L, 512L}) {
        const size_t count = 3 * n + 8, silent = n;
        Signal inL = randomSignal(generator, count), inR = randomSignal(generator, count);
        inL.resize(count + silent, 0.0);
        inR.resize(count + silent, 0.0);
        Signal delay(n, 0.0);
        delay[n - 1] = 1.0;
        const Signal kernels[] = {randomSignal(generator, n), delay};
        for (const Routine& r : routines)
            for (const Signal& k : kernels) {
                SCOPED_TRACE(testing::Message()
                             << r.name << " N=" << n << (&k == &kernels[1] ? " delay" : ""));
                Signal ringL(3 * n, 0.0), ringR(3 * n, 0.0), outL(inL.size()), outR(inR.size());
                for (size_t i = 0, p = n; i < inL.size(); i += r.step, p += r.step) {
                    if (p >= size_t(2 * n)) p = n;
                    r.routine(&inL[i], &inR[i], &outL[i], &outR[i], k.data(), k.data(), ringL.data(),
                              ringR.data(), n, long(p), nullptr);
                }
                const Signal wantL = naiveConvolution(inL, k), wantR = naiveConvolution(inR, k);
                const double tolerance = &k == &kernels[1] ? 0.0 : 1e-12 * sumOfMagnitudes(k);
                for (size_t i = 0; i < inL.size(); ++i) {
                    ASSERT_NEAR(outL[i], wantL[i], tolerance) << i;
                    ASSERT_NEAR(outR[i], wantR[i], tolerance) << i;
                }
                EXPECT_EQ(ringL, Signal(3 * n, 0.0));
                EXPECT_EQ(ringR, Signal(3 * n, 0.0));
            }
    }
}

TEST(CoreOpti, PassThroughCopiesAndBlockStubsTouchNothing) {
    const double inL = 0.25, inR = -3.5;
    double outL = 0.0, outR = 0.0;
    CoreOpti::cnvs7(&inL, &inR, &outL, &outR, nullptr, nullptr, nullptr, nullptr, 0, 0, nullptr);
    EXPECT_EQ(outL + outR, 0.25 - 3.5);
    for (StepRoutine stub : {CoreOpti::cnvs8, CoreOpti::cnvs9, CoreOpti::cns13})
        EXPECT_EQ(
            stub(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 512, 512, nullptr),
            0);
    for (auto stub : {cnvm8, cnvm9, cnm13})
        EXPECT_EQ(stub(nullptr, nullptr, nullptr, nullptr, 512, 512, nullptr), 0);
    EXPECT_TRUE(issm2()); // every x86-64 processor has SSE2
}

TEST(CoreOpti, KlladStoresZeroNegativeZeroAndDenormalsAsPositiveZero) {
    Signal values = {-0.0, DBL_TRUE_MIN, -1e-310, DBL_MIN, -1.5, 1e300, -DBL_MIN, INFINITY, -0.0};
    double* p = values.data();
    kllad(0, &p);
    EXPECT_TRUE(std::signbit(values[0]));
    kllad(8, &p);
    EXPECT_EQ(values, (Signal{0.0, 0.0, 0.0, DBL_MIN, -1.5, 1e300, -DBL_MIN, INFINITY, 0.0}));
    for (int i = 0; i < 8; ++i) EXPECT_FALSE(std::signbit(values[i]) && values[i] == 0.0) << i;
    EXPECT_TRUE(std::signbit(values[8])); // past the count
}

TEST(CoreOpti, MixersAndFadeOutMatchHandComputedValues) {
    double l[] = {1.0, -2.0, 4.0}, r[] = {0.5, 3.0, -1.0}, sl[] = {1.0, 2.0, 3.0}, sr[] = {-1.0, 0.5, 0.25};
    double *pl = l, *pr = r, *psl = sl, *psr = sr;
    mixr1(3, &pl, &pr, -2.0);
    EXPECT_EQ(Signal(l, l + 3), (Signal{-2.0, 4.0, -8.0}));
    EXPECT_EQ(Signal(r, r + 3), (Signal{-1.0, -6.0, 2.0}));
    mixr2(3, &pl, &pr, &psl, &psr, 0.5);
    EXPECT_EQ(Signal(l, l + 3), (Signal{-1.5, 5.0, -6.5}));
    EXPECT_EQ(Signal(r, r + 3), (Signal{-1.5, -5.75, 2.125}));
    mixr3(2, &pl, &pr, &psl, &psr, 2.0, 3.0, 5.0, 7.0); // dL += a sL + d sR; dR += b sL + c sR
    EXPECT_EQ(Signal(l, l + 3), (Signal{-1.5 + 2.0 - 7.0, 5.0 + 4.0 + 3.5, -6.5}));
    EXPECT_EQ(Signal(r, r + 3), (Signal{-1.5 + 3.0 - 5.0, -5.75 + 6.0 + 2.5, 2.125}));
    // The fade-out acts on the last m of n values; m is clamped to 0..n.
    double guardL[] = {7, 1, 1, 1, 1, 7}, guardR[] = {7, 2, 2, 2, 2, 7};
    const double env[] = {0.5, 0.25, 0.125, 0.0625, 99.0};
    mkefo(4, 2, guardL + 1, guardR + 1, env);
    EXPECT_EQ(Signal(guardR, guardR + 6), (Signal{7, 2, 2, 1.0, 0.5, 7}));
    mkefo(4, 5, guardL + 1, guardR + 1, env);
    mkefo(4, -3, guardL + 1, guardR + 1, env);
    EXPECT_EQ(Signal(guardL, guardL + 6), (Signal{7, 0.5, 0.25, 0.5 * 0.125, 0.25 * 0.0625, 7}));
    // acc += a x b over interleaved complex floats: (1 + 2i)(3 - i) = 5 + 5i; (-3 + 0.5i)(2 + 4i) = -8 - 11i.
    const float a[] = {1.0f, 2.0f, -3.0f, 0.5f}, b[] = {3.0f, -1.0f, 2.0f, 4.0f};
    float acc[] = {10.0f, 20.0f, 0.0f, 0.0f};
    maacf(2, a, b, acc);
    EXPECT_EQ(std::vector<float>(acc, acc + 4), (std::vector<float>{15.0f, 25.0f, -8.0f, -11.0f}));
}
