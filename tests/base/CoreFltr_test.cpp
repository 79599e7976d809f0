// Tests of the high-pass cascade against its first-order definition (with the state kept across new
// settings), inputs settling to +0.0 and never subnormal, and settings that would diverge leaving the
// cascade inactive and its input passed through.
#include "base/CoreFltr.h"
#include "tests/common/SignalReference.h"

#include <gtest/gtest.h>

#include <cmath>

TEST(CoreFltr, EachSectionIsTheFirstOrderHighPassOfItsDefinitionAndKeepsItsStateAcrossSettings) {
    // y = (a y' + (x - x')) b with t = tan(pi f / rate), d = (sqrt2 - q sqrt2 + t) t, a = 1 / (d + 1),
    // b = 1 - d, subnormal results stored as +0.0.
    struct Section {
        double a = 0, b = 0, previous = 0, output = 0;
    };
    const std::vector<double> input = randomSignal(600, 3);
    for (int order : {2, 9}) { // min(order / 2, sections) of the cascade's two sections run
        CoreFltr filter(CoreFltr::iChighpass, 5);
        EXPECT_EQ(filter.prcss(0.25), 0.25); // not yet set: passes its input
        std::vector<Section> reference(size_t(std::min(order / 2, 2)));
        for (int n = 0; n < 600; ++n) {
            if (n % 300 == 0) {
                const double f = n ? 900.0 : 100.0, q = n ? 0.5 : 0.0, t = std::tan(M_PI * f / 44100.0);
                const double d = (M_SQRT2 - q * M_SQRT2 + t) * t;
                filter.setvl(f, q, 44100.0, order);
                for (Section& s : reference) s.a = 1.0 / (d + 1.0), s.b = 1.0 - d;
            }
            double x = input[n];
            for (Section& s : reference) {
                const double y = (s.a * s.output + (x - s.previous)) * s.b;
                s.previous = x;
                x = s.output = std::fabs(y) < 2.2250738585072014e-308 ? 0.0 : y;
            }
            ASSERT_EQ(filter.prcss(input[n]), x) << order << " " << n;
        }
        EXPECT_EQ(filter.active(), int(reference.size()));
    }
}

TEST(CoreFltr, AConstantInputSettlesToPositiveZeroNeverSubnormal) {
    CoreFltr filter(CoreFltr::iChighpass, 6);
    filter.setvl(2000.0, 0.0, 48000.0, 6);
    double y = 1.0;
    for (int n = 0; n < 20000; ++n)
        ASSERT_TRUE((y = filter.prcss(-1.0)) == 0.0 ? !std::signbit(y) : std::isnormal(y)) << n << ": " << y;
    EXPECT_EQ(y, 0.0);
}

TEST(CoreFltr, CascadesWithoutSectionsOrWithDivergingSettingsPassTheirInput) {
    const std::vector<double> input = randomSignal(100, 4);
    // order, frequency, q, rate: no sections, then settings that would diverge.
    const double rows[][4] = {{1, 100, 0, 44100}, {4, NAN, 0, 44100}, {4, 100, 5, 44100}, {4, 100, 0, 0}};
    for (const auto& r : rows) {
        CoreFltr filter(CoreFltr::iChighpass, int(r[0]));
        filter.setvl(100.0, 0.0, 44100.0, int(r[0]));
        for (int n = 0; n < 10; ++n) filter.prcss(input[n]);
        filter.setvl(r[1], r[2], r[3], int(r[0]));
        EXPECT_EQ(filter.active(), 0) << r[0] << " " << r[1] << " Hz, q " << r[2] << ", rate " << r[3];
        for (double x : input) ASSERT_EQ(filter.prcss(x), x);
    }
    CoreFltr nyquist(CoreFltr::iChighpass, 8); // the largest frequency allowed stays bounded on noise
    nyquist.setvl(22050.0, 0.0, 44100.0, 8);
    EXPECT_EQ(nyquist.active(), 4);
    for (double x : randomSignal(100000, 5)) ASSERT_TRUE(std::isfinite(nyquist.prcss(x)));
}
