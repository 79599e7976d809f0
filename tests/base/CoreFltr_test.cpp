#include "base/CoreFltr.h"
#include "tests/common/SignalReference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

namespace {

bool exponentIsZero(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return (bits & 0x7FF0000000000000ull) == 0;
}

// The cascade written out from its definition: first-order sections with
// y = (a * y + (x - previous x)) * b, t = tan(pi f / rate), d = (sqrt2 - q sqrt2 + t) t,
// a = 1 / (d + 1), b = 1 - d, subnormal results stored as +0.0.
struct ReferenceCascade {
    struct Section {
        double a = 0, b = 0, previous = 0, output = 0;
    };
    std::vector<Section> sections;

    explicit ReferenceCascade(int count) : sections(static_cast<size_t>(count)) {}
    void set(double frequency, double q, double rate) {
        const double t = std::tan(M_PI * frequency / rate);
        const double d = (M_SQRT2 - q * M_SQRT2 + t) * t;
        for (Section& s : sections) {
            s.a = 1.0 / (d + 1.0);
            s.b = 1.0 - d;
        }
    }
    double step(double x) {
        for (Section& s : sections) {
            double y = (s.a * s.output + (x - s.previous)) * s.b;
            if (exponentIsZero(y)) y = 0.0;
            s.output = y;
            s.previous = x;
            x = y;
        }
        return x;
    }
};

TEST(CoreFltr, SectionCountFollowsTheOrderAndUnsetCascadesPassTheInput) {
    const double inputs[] = {0.5, -1.25, 3.0, 0.0, -0.0, 1e-300};
    for (int order : {-3, 0, 1}) {
        CoreFltr filter(CoreFltr::iChighpass, order);
        EXPECT_EQ(filter.sections(), 0) << order;
        filter.setvl(100.0, 0.0, 44100.0, order);
        for (double x : inputs) EXPECT_EQ(filter.prcss(x), x);
    }

    CoreFltr five(CoreFltr::iChighpass, 5);
    EXPECT_EQ(five.sections(), 2);
    for (double x : inputs) EXPECT_EQ(five.prcss(x), x); // no setvl yet
    five.setvl(100.0, 0.0, 44100.0, 8);
    EXPECT_EQ(five.active(), 2);
    five.setvl(100.0, 0.0, 44100.0, 3);
    EXPECT_EQ(five.active(), 1);
}

TEST(CoreFltr, ImpulseResponseFollowsTheRecurrenceExactly) {
    for (int sections : {1, 3}) {
        CoreFltr filter(CoreFltr::iChighpass, 2 * sections);
        filter.setvl(100.0, 0.0, 44100.0, 2 * sections);
        ReferenceCascade reference(sections);
        reference.set(100.0, 0.0, 44100.0);
        for (int n = 0; n < 4096; ++n) {
            const double x = n == 0 ? 1.0 : 0.0;
            ASSERT_EQ(filter.prcss(x), reference.step(x)) << sections << " sections, sample " << n;
        }
    }
}

TEST(CoreFltr, ConstantInputSettlesToZero) {
    CoreFltr filter(CoreFltr::iChighpass, 6);
    filter.setvl(200.0, 0.3, 48000.0, 6);
    double y = 1.0;
    for (int n = 0; n < 200000; ++n) y = filter.prcss(0.7);
    EXPECT_EQ(y, 0.0);
}

TEST(CoreFltr, DecayingTailBecomesPositiveZeroInsteadOfSubnormal) {
    CoreFltr filter(CoreFltr::iChighpass, 2);
    filter.setvl(2000.0, 0.0, 44100.0, 2);
    filter.prcss(-1.0);
    double y = -1.0;
    for (int n = 0; n < 200000; ++n) {
        y = filter.prcss(-1.0);
        ASSERT_TRUE(y == 0.0 ? !std::signbit(y) : std::isnormal(y)) << "sample " << n << ": " << y;
    }
    EXPECT_EQ(y, 0.0);
    EXPECT_FALSE(std::signbit(y));
}

TEST(CoreFltr, NewSettingsKeepEachSectionsState) {
    CoreFltr filter(CoreFltr::iChighpass, 4);
    ReferenceCascade reference(2);
    filter.setvl(100.0, 0.0, 44100.0, 4);
    reference.set(100.0, 0.0, 44100.0);
    const std::vector<double> input = randomSignal(600, 3);
    for (int n = 0; n < 300; ++n) ASSERT_EQ(filter.prcss(input[n]), reference.step(input[n]));
    filter.setvl(900.0, 0.5, 44100.0, 4);
    reference.set(900.0, 0.5, 44100.0);
    for (int n = 300; n < 600; ++n) ASSERT_EQ(filter.prcss(input[n]), reference.step(input[n])) << n;
}

TEST(CoreFltr, SettingsThatWouldDivergeLeaveTheCascadePassingItsInput) {
    struct Setting {
        double frequency, q, rate;
    };
    const Setting diverging[] = {{-100.0, 0.0, 44100.0}, {0.8 * 44100.0, 0.0, 44100.0},
                                 {100.0, 5.0, 44100.0},  {100.0, 0.0, 0.0},
                                 {NAN, 0.0, 44100.0},    {100.0, 0.0, -44100.0}};
    const std::vector<double> input = randomSignal(1000, 4);
    for (const Setting& s : diverging) {
        CoreFltr filter(CoreFltr::iChighpass, 4);
        filter.setvl(100.0, 0.0, 44100.0, 4);
        for (int n = 0; n < 10; ++n) filter.prcss(input[n]);
        filter.setvl(s.frequency, s.q, s.rate, 4);
        EXPECT_EQ(filter.active(), 0) << s.frequency << " Hz, q " << s.q << ", rate " << s.rate;
        for (double x : input) ASSERT_EQ(filter.prcss(x), x);
    }

    // The largest frequency still allowed stays bounded for a long run of noise.
    CoreFltr nyquist(CoreFltr::iChighpass, 8);
    nyquist.setvl(22050.0, 0.0, 44100.0, 8);
    EXPECT_EQ(nyquist.active(), 4);
    std::mt19937 generator(5);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    for (int n = 0; n < 1000000; ++n) ASSERT_TRUE(std::isfinite(nyquist.prcss(value(generator)))) << n;
}

} // namespace
