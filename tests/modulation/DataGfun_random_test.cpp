#include "modulation/DataGfun.h"

#include "base/CoreButl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

namespace {

// The two users of random numbers, each drawing one value from the generator of its object.
struct Drawer {
    const char* name;
    double mean, variance; // of the uniform distribution each should draw from
    std::function<double(RandomGenerator&)> draw;
};

const DataGfun functions;
const CoreGfun* randomSteps = functions.getgf(0, CoreAnsx("3 Rand"));

// A new step on every call: the phase alternates between two steps.
double randomStep(RandomGenerator& generator) {
    CoreGfun::FUNEXTENSION state{0.5, 0.0, generator};
    const double value = randomSteps->xtfun(-0.5, 0.0, &state);
    generator = state.oRandom;
    return value;
}

double whiteNoise(RandomGenerator& generator) {
    double value = 0.0;
    CoreButl::whtns(&value, 1, 1.0, generator);
    return value;
}

const double noiseSpan = 6.0 * 10923.0 / 32767.0; // whtns scales [0, 1) onto about -1 .. +1
const Drawer drawers[] = {
    {"random step", 0.0, 1.0 / 3.0, randomStep},
    {"white noise", 3.0 / 32767.0, noiseSpan* noiseSpan / 12.0, whiteNoise},
};

} // namespace

TEST(RandomDraws, ObjectsWithOneSeedAgreeWhateverAnotherThreadDraws) {
    for (const Drawer& d : drawers) {
        SCOPED_TRACE(d.name);
        std::atomic<bool> stop(false);
        std::thread other([&] {
            RandomGenerator own(99);
            while (!stop.load()) {
                d.draw(own);
                (void)std::rand();
            }
        });
        RandomGenerator first(42), second(42);
        std::vector<double> a, b;
        for (int i = 0; i < 100000; ++i) {
            a.push_back(d.draw(first));
            b.push_back(d.draw(second));
        }
        stop.store(true);
        other.join();
        EXPECT_EQ(a, b);
        RandomGenerator third(43);
        EXPECT_NE(d.draw(third), a[0]);
    }
}

TEST(RandomDraws, MeanAndVarianceAreThoseOfTheUniformDistribution) {
    const int n = 1000000;
    for (const Drawer& d : drawers) {
        SCOPED_TRACE(d.name);
        RandomGenerator generator(7);
        double sum = 0.0, squares = 0.0;
        for (int i = 0; i < n; ++i) {
            const double x = d.draw(generator);
            sum += x;
            squares += x * x;
        }
        const double mean = sum / n, variance = squares / n - mean * mean;
        EXPECT_NEAR(mean, d.mean, 0.01); // 1 % of the half range of 1
        EXPECT_NEAR(variance, d.variance, 0.01 * d.variance);
    }
}
