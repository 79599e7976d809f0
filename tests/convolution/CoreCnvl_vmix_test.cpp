// The one-pass vector mix against the step-by-step form it replaces (scale with mixr1, add each
// weighted element with mixr2 or mixr3, flush with kllad): the values must be identical, bit for bit.
#include "convolution/CoreCnvl.h"
#include "convolution/CoreOpti.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <random>
#include <vector>

namespace {

using Channel = std::vector<double>;

// Noise with the values a flush must treat: zeros of both signs and denormals.
Channel awkward(std::mt19937& random, int n) {
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    std::uniform_int_distribution<int> kind(0, 9);
    Channel c(n);
    for (double& v : c) {
        switch (kind(random)) {
        case 0:
            v = 0.0;
            break;
        case 1:
            v = -0.0;
            break;
        case 2:
            v = d(random) * 1e-310;
            break;
        case 3:
            v = d(random) * DBL_MIN;
            break;
        default:
            v = d(random);
        }
    }
    return c;
}

void stepByStep(bool skip, bool panned, const VECTORMIXSTRUCT& m, int n, int count, double* l, double* r,
                double** sourcesL, double** sourcesR) {
    if (!skip) {
        mixr1(n, &l, &r, m.destinationScale);
        const int elements[2] = {m.elementA, m.elementB};
        const double weights[2] = {m.weightA, m.weightB};
        for (int k = 0; k < 2; ++k) {
            const int e = elements[k];
            if (e < 0 || e >= count) continue;
            const double w = weights[k];
            if (panned)
                mixr3(n, &l, &r, &sourcesL[e], &sourcesR[e], m.leftToLeft * w, m.leftToRight * w,
                      m.rightToRight * w, m.rightToLeft * w);
            else
                mixr2(n, &l, &r, &sourcesL[e], &sourcesR[e], w);
        }
    }
    kllad(n, &l);
    kllad(n, &r);
}

TEST(CoreCnvlVmix, IndexedMixEqualsTheStepByStepFormBitForBit) {
    std::mt19937 random(7);
    const int count = 3;
    for (int n : {1, 7, 8, 9, 33, 256}) {
        std::vector<Channel> left, right;
        for (int e = 0; e < count; ++e) {
            left.push_back(awkward(random, n));
            right.push_back(awkward(random, n));
        }
        std::vector<double*> sourcesL, sourcesR;
        for (int e = 0; e < count; ++e) {
            sourcesL.push_back(left[e].data());
            sourcesR.push_back(right[e].data());
        }
        const int pairs[][2] = {{0, 1}, {2, 0}, {-1, 1}, {1, -1}, {-1, -1}, {0, 5}, {7, 2}};
        for (bool skip : {false, true})
            for (bool panned : {false, true})
                for (const auto& pair : pairs) {
                    VECTORMIXSTRUCT m{0.7, 0.5, 0.8, 0.6, 0.3, 1.0, 0.35, 0.4, pair[0], pair[1]};
                    Channel expectedL = awkward(random, n), expectedR = awkward(random, n);
                    Channel actualL = expectedL, actualR = expectedR;
                    stepByStep(skip, panned, m, n, count, expectedL.data(), expectedR.data(), sourcesL.data(),
                               sourcesR.data());
                    CoreCnvl::vmix1(nullptr, skip, true, panned, &m, n, count, actualL.data(), actualR.data(),
                                    reinterpret_cast<void* const*>(sourcesL.data()),
                                    reinterpret_cast<void* const*>(sourcesR.data()));
                    ASSERT_EQ(std::memcmp(expectedL.data(), actualL.data(), sizeof(double) * n), 0)
                        << n << " " << skip << " " << panned << " " << pair[0] << " " << pair[1];
                    ASSERT_EQ(std::memcmp(expectedR.data(), actualR.data(), sizeof(double) * n), 0)
                        << n << " " << skip << " " << panned << " " << pair[0] << " " << pair[1];
                }
    }
}

} // namespace
