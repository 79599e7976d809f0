// Tests of CoreButl's numeric and signal helpers, checked against references written here.
#include "base/CoreButl.h"
#include "base/RandomGenerator.h"
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <complex>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <vector>

namespace {

using LongComplex = std::complex<long double>;
const long double kPi = 3.141592653589793238462643383279502884L;

} // namespace

TEST(CoreButlNumbers, PowersOfTwoAndBits) {
    const std::pair<int, int> powers[] = {
        {0, 1}, {1, 2}, {2, 2}, {3, 4}, {5, 8}, {1024, 1024}, {1025, 2048}, {-7, 1}, {1 << 30, 1 << 30}};
    for (const auto& [n, expected] : powers) EXPECT_EQ(CoreButl::getp2(n), expected) << n;
    const std::pair<int, int> exponents[] = {{0, 0}, {1, 1},     {2, 1},     {4, 2},
                                             {5, 3}, {1024, 10}, {1025, 11}, {-3, 0}};
    for (const auto& [n, expected] : exponents) EXPECT_EQ(CoreButl::geto2(n), expected) << n;
    for (int n = 0; n < 5000; ++n) EXPECT_EQ(1 << CoreButl::geto2(n), CoreButl::getp2(n)) << n;

    EXPECT_FALSE(CoreButl::ispo2(0));
    EXPECT_FALSE(CoreButl::ispo2(1));
    EXPECT_TRUE(CoreButl::ispo2(2));
    EXPECT_FALSE(CoreButl::ispo2(6));
    EXPECT_TRUE(CoreButl::ispo2(0x80000000u));

    EXPECT_EQ(CoreButl::nrobn(0), 0);
    EXPECT_EQ(CoreButl::nrobn(7), 0);
    EXPECT_EQ(CoreButl::nrobn(8), 3);
    EXPECT_EQ(CoreButl::nrobn(0x80000000u), 31);

    std::mt19937 random(7);
    for (int round = 0; round < 1000; ++round) {
        const unsigned x = random();
        const unsigned bits = random() % 33;
        unsigned expected = 0;
        for (unsigned b = 0; b < bits; ++b)
            if (x & (1u << b)) expected |= 1u << (bits - 1 - b);
        EXPECT_EQ(CoreButl::revbt(x, bits), expected);
    }
    EXPECT_EQ(CoreButl::revbt(1, 40), 0x80000000u);
    EXPECT_EQ(CoreButl::revbt(0b0011, 4), 0b1100u);
}

TEST(CoreButlNumbers, MultipleMinimumAndMaximum) {
    EXPECT_EQ(CoreButl::setmn(10, 4), 12);
    EXPECT_EQ(CoreButl::setmn(12, 4), 12);
    EXPECT_EQ(CoreButl::setmn(0, 4), 0);
    EXPECT_EQ(CoreButl::setmn(-5, 4), -5);
    EXPECT_EQ(CoreButl::setmn(10, 1), 10);
    EXPECT_EQ(CoreButl::setmn(16777217, 4), 16777220);
    EXPECT_EQ(CoreButl::setmn(2000000001, 1000), 2000001000);

    EXPECT_EQ(CoreButl::max__(1.5, 2.5), 2.5);
    EXPECT_EQ(CoreButl::min__(1.5, 2.5), 1.5);
    EXPECT_EQ(CoreButl::max__(-3, 2), 2);
    EXPECT_EQ(CoreButl::min__(-3, 2), -3);
    EXPECT_EQ(CoreButl::max__(5000000000L, 7L), 5000000000L);
    EXPECT_EQ(CoreButl::min__(5000000000L, 7L), 7L);
}

TEST(CoreButlNumbers, PeaksSignsAndGains) {
    const double samples[] = {0.1, -0.7, 0.3, 0.7, -0.2};
    EXPECT_EQ(CoreButl::getgn(samples, 0, 5), 0.7);
    EXPECT_EQ(CoreButl::getgn(samples, 2, 1), 0.3);
    EXPECT_EQ(CoreButl::getgn(samples, 2, 0), 0.0);
    EXPECT_EQ(CoreButl::getgn(samples, 2, -4), 0.0);
    double other[] = {0.0, 2.0};
    double* channels[] = {const_cast<double*>(samples), other};
    EXPECT_EQ(CoreButl::getgn(channels, 1, 0, 2), 2.0);

    EXPECT_EQ(CoreButl::getpk(samples, 0, 5), 1); // the first of the two equal maxima
    EXPECT_EQ(CoreButl::getpk(samples, 2, 3), 3); // an index into the buffer
    EXPECT_EQ(CoreButl::getpk(samples, 2, 0), 0);
    const double silence[] = {0.0, 0.0, 0.0};
    EXPECT_EQ(CoreButl::getpk(silence, 1, 2), 0);

    EXPECT_EQ(CoreButl::getsg(samples, 5), -1);
    EXPECT_EQ(CoreButl::getsg(samples + 2, 3), 1);
    EXPECT_EQ(CoreButl::getsg(silence, 3), 0);
    EXPECT_EQ(CoreButl::getsg(samples, 0), 0);

    EXPECT_EQ(CoreButl::lsswt(1.0, 1000.0, 10.0, 10), 3);
    EXPECT_EQ(CoreButl::lsswt(20.0, 20000.0, 20000.0, 300), 300);
    EXPECT_EQ(CoreButl::lsswt(100.0, 10.0, 50.0, 10), 3);
    const double bad[][3] = {{0, 10, 5}, {1, 0, 5}, {1, 10, 0}, {-1, 10, 5}, {2, 2, 5}, {NAN, 10, 5}};
    for (const auto& args : bad) EXPECT_EQ(CoreButl::lsswt(args[0], args[1], args[2], 100), 0);
    EXPECT_EQ(CoreButl::lsswt(1.0, 1.0000001, 1e300, INT32_MAX), INT32_MAX);
    EXPECT_EQ(CoreButl::lsswt(1.0, 1.0000001, 1e-300, INT32_MAX), INT32_MIN);

    EXPECT_DOUBLE_EQ(CoreButl::divmg(2.0, 4.0, 0.5), 1.5);
    EXPECT_DOUBLE_EQ(CoreButl::divmg(2.0, 4.0, 1.0), 2.0);
    EXPECT_DOUBLE_EQ(CoreButl::divmg(2.0, 4.0, 0.0), 1.0);
    EXPECT_EQ(CoreButl::divmg(0.0, 4.0, 0.5), 1.0);
    EXPECT_EQ(CoreButl::divmg(-0.0, 4.0, 0.5), 1.0);
    EXPECT_EQ(CoreButl::divmg(4.9e-324, 4.0, 0.5), 1.0);
    const Ipp64fc x[] = {{3.0, 4.0}, {0.0, 0.0}};
    const Ipp64fc y[] = {{0.0, 10.0}, {1.0, 1.0}};
    EXPECT_DOUBLE_EQ(CoreButl::divmg(x, y, 0, 1.0), 2.0);
    EXPECT_DOUBLE_EQ(CoreButl::divmg(x, y, 0, 0.5), 1.5);
    EXPECT_EQ(CoreButl::divmg(x, y, 1, 0.5), 1.0);
}

TEST(CoreButlNumbers, CopiesPadAndShiftWithinBounds) {
    const double src[] = {1, 2, 3};
    std::vector<double> dst(5, 9.0);
    CoreButl::movp0(5, 3, dst.data(), src);
    EXPECT_EQ(dst, (std::vector<double>{1, 2, 3, 0, 0}));
    CoreButl::movp0(2, 3, dst.data(), src); // never more than n values
    EXPECT_EQ(dst, (std::vector<double>{1, 2, 3, 0, 0}));

    std::vector<double> wave(10);
    for (int i = 0; i < 10; ++i) wave[i] = i + 1;
    for (int srcpos = -12; srcpos <= 12; ++srcpos) {
        for (int dstpos = -8; dstpos <= 8; ++dstpos) {
            std::vector<double> out(6, -1.0); // exactly dstlen: any write outside shows under ASan
            CoreButl::mvwav(wave.data(), 10, srcpos, out.data(), 6, dstpos);
            for (int t = 0; t < 6; ++t) {
                const int s = t - dstpos + srcpos;
                EXPECT_EQ(out[t], (s >= 0 && s < 10) ? wave[s] : 0.0) << srcpos << " " << dstpos << " " << t;
            }
        }
    }
}

TEST(CoreButlSignal, WindowsMatchTheirDefinitions) {
    // Hann at 5 points, by hand.
    std::vector<double> hann(5, 1.0);
    CoreButl::windw(hann.data(), 5, 0);
    const double expectedHann[] = {0.0, 0.5, 1.0, 0.5, 0.0};
    for (int k = 0; k < 5; ++k) EXPECT_NEAR(hann[k], expectedHann[k], 1e-15);

    // Types 1 to 4 at 64 points against cosine sums evaluated as powers of e^(ix).
    const int n = 64;
    const std::function<long double(int)> references[] = {
        [](int k) {
            return 0.53836L - 0.46164L * std::real(std::pow(std::polar(1.0L, 2 * kPi / (n + 1)), k));
        },
        [](int k) {
            const LongComplex z = std::polar(1.0L, kPi * k / (n - 1));
            const long double c[] = {1.0L, -1.93L, 1.29L, -0.388L, 0.032L};
            long double w = 0;
            for (int j = 0; j < 5; ++j) w += c[j] * std::real(std::pow(z, 2 * j));
            return w;
        },
        [](int k) {
            const LongComplex z = std::polar(1.0L, kPi * k / (n - 1));
            const long double c[] = {0.3635819L, -0.4891775L, 0.1365995L, -0.0106411L};
            long double w = 0;
            for (int j = 0; j < 4; ++j) w += c[j] * std::real(std::pow(z, 2 * j));
            return w;
        },
        [](int k) {
            const LongComplex z = std::polar(1.0L, kPi * k / (n - 1));
            long double w = 0;
            for (int j = 0; j < 11; ++j)
                w += (j % 2 ? -1.0L : 1.0L) * CoreButl::dCalbrecht[j] * std::real(std::pow(z, 2 * j));
            return w;
        }};
    for (int16_t type = 1; type <= 4; ++type) {
        std::vector<double> window(n, 1.0);
        CoreButl::windw(window.data(), n, type);
        for (int k = 0; k < n; ++k)
            EXPECT_NEAR(window[k], static_cast<double>(references[type - 1](k)), 1e-15) << type << " " << k;
    }
    // Landmarks: the flat top peaks at 4.64 in the middle; Blackman-Nuttall's ends are 0.0003628.
    std::vector<double> flat(65, 1.0);
    CoreButl::windw(flat.data(), 65, 2);
    EXPECT_NEAR(flat[32], 4.64, 1e-14);
    std::vector<double> nuttall(65, 2.0);
    CoreButl::windw(nuttall.data(), 65, 3);
    EXPECT_NEAR(nuttall[0], 2 * 0.0003628, 1e-15);
    EXPECT_NEAR(nuttall[64], 2 * 0.0003628, 1e-15);

    for (int16_t type : {-1, 5, 7}) {
        std::vector<double> unchanged(8, 0.25);
        CoreButl::windw(unchanged.data(), 8, type);
        EXPECT_EQ(unchanged, std::vector<double>(8, 0.25));
    }
    for (int16_t type = 0; type <= 4; ++type) {
        double single = 0.75;
        CoreButl::windw(&single, 1, type);
        EXPECT_EQ(single, 0.75);
        CoreButl::windw(nullptr, 0, type);
        CoreButl::windw(nullptr, -3, type);
    }
}

namespace {

// Direct DFT in long double with an exact twiddle table; inverse scaled by 1/n.
std::vector<LongComplex> directDft(const std::vector<double>& re, const std::vector<double>& im,
                                   bool inverse) {
    const size_t n = re.size();
    std::vector<LongComplex> twiddle(n);
    for (size_t k = 0; k < n; ++k) twiddle[k] = std::polar(1.0L, (inverse ? 2 : -2) * kPi * k / n);
    std::vector<LongComplex> out(n);
    for (size_t k = 0; k < n; ++k) {
        LongComplex sum = 0;
        for (size_t t = 0; t < n; ++t)
            sum += LongComplex(re[t], im.empty() ? 0.0 : im[t]) * twiddle[(t * k) % n];
        out[k] = inverse ? sum / static_cast<long double>(n) : sum;
    }
    return out;
}

} // namespace

TEST(CoreButlSignal, FftEqualsTheDirectTransform) {
    std::mt19937 random(99);
    std::uniform_real_distribution<double> value(-1.0, 1.0);
    for (unsigned n = 2; n <= 4096; n *= 2) {
        for (const bool inverse : {false, true}) {
            for (const bool withImaginary : {false, true}) {
                std::vector<double> re(n), im(withImaginary ? n : 0);
                for (double& v : re) v = value(random);
                for (double& v : im) v = value(random);
                std::vector<double> reout(n), imout(n);
                EXPECT_TRUE(CoreButl::fftdb(n, inverse, re.data(), withImaginary ? im.data() : nullptr,
                                            reout.data(), imout.data()));
                const std::vector<LongComplex> expected = directDft(re, im, inverse);
                long double largest = 0;
                for (const LongComplex& bin : expected) largest = std::max(largest, std::abs(bin));
                const double tolerance = 1e-9 * static_cast<double>(largest);
                for (unsigned k = 0; k < n; ++k) {
                    ASSERT_NEAR(reout[k], static_cast<double>(expected[k].real()), tolerance)
                        << n << " " << k;
                    ASSERT_NEAR(imout[k], static_cast<double>(expected[k].imag()), tolerance)
                        << n << " " << k;
                }
            }
        }
    }
}

TEST(CoreButlSignal, FftImpulseRoundTripInPlaceAndBadArguments) {
    std::vector<double> re(8, 0.0), reout(8), imout(8), back(8), backim(8);
    re[0] = 1.0;
    CoreButl::fftdb(8, 0, re.data(), nullptr, reout.data(), imout.data());
    EXPECT_EQ(reout, std::vector<double>(8, 1.0));
    for (double v : imout) EXPECT_NEAR(v, 0.0, 1e-15);
    CoreButl::fftdb(8, 1, reout.data(), imout.data(), back.data(), backim.data());
    for (int k = 0; k < 8; ++k) EXPECT_NEAR(back[k], re[k], 1e-15);

    // In place gives the same as out of place.
    std::vector<double> a = {1, 2, 3, 4, 5, 6, 7, 8}, b = {8, 7, 6, 5, 4, 3, 2, 1};
    std::vector<double> outRe(8), outIm(8);
    CoreButl::fftdb(8, 0, a.data(), b.data(), outRe.data(), outIm.data());
    CoreButl::fftdb(8, 0, a.data(), b.data(), a.data(), b.data());
    EXPECT_EQ(a, outRe);
    EXPECT_EQ(b, outIm);

    for (unsigned n : {0u, 1u, 6u, 12u}) {
        std::vector<double> x(16), y(16), z(16);
        EXPECT_THROW(CoreButl::fftdb(n, 0, x.data(), nullptr, y.data(), z.data()), CoreAnsx) << n;
    }
    try {
        CoreButl::fftdb(6, 0, re.data(), nullptr, reout.data(), imout.data());
    } catch (const CoreAnsx& error) {
        EXPECT_STREQ(error.c_str(), "");
    }
    EXPECT_THROW(CoreButl::fftdb(8, 0, nullptr, nullptr, reout.data(), imout.data()), CoreAnsx);
    EXPECT_THROW(CoreButl::fftdb(8, 0, re.data(), nullptr, nullptr, imout.data()), CoreAnsx);
    EXPECT_THROW(CoreButl::fftdb(8, 0, re.data(), nullptr, reout.data(), nullptr), CoreAnsx);
}

TEST(CoreButlSignal, FadesFollowTheirCurves) {
    std::vector<double> out(4, -1.0);
    CoreButl::fdecc(3, out.data());
    EXPECT_EQ(out, (std::vector<double>{0.0, 0.5, 1.0, -1.0}));
    CoreButl::fdecc(1, out.data());
    EXPECT_EQ(out[0], 0.0);
    out.assign(4, -1.0);
    CoreButl::fdecc(0, out.data());
    CoreButl::fdecc(-2, out.data());
    EXPECT_EQ(out, std::vector<double>(4, -1.0));

    std::vector<double> ones = {1.0, 0.25, 0.0, -0.0};
    CoreButl::cfdcc(4, ones.data());
    EXPECT_EQ(ones, (std::vector<double>{0.0, 0.75, 1.0, 1.0}));
    EXPECT_FALSE(std::signbit(ones[0]));

    CoreButl::fdecc(3, out.data(), 0, true);
    EXPECT_EQ(out[0], 0.0);
    EXPECT_EQ(out[1], 0.5);
    EXPECT_EQ(out[2], 1.0);
    CoreButl::fdecc(3, out.data(), 2, false);
    EXPECT_EQ(out[0], 1.0);
    EXPECT_EQ(out[1], 0.25);
    EXPECT_EQ(out[2], 0.0);
    out.resize(5);
    CoreButl::fdecc(5, out.data(), 3, true);
    EXPECT_NEAR(out[1], 0.25 * 0.25 * 0.25, 1e-17);
    CoreButl::fdecc(3, out.data(), 20, true);
    EXPECT_NEAR(out[0], 1e-5, 1e-20);
    EXPECT_NEAR(out[1], 0.0031622776601683794, 1e-15);
    EXPECT_NEAR(out[2], 1.0, 1e-15);
    CoreButl::fdecc(3, out.data(), 22, false);
    EXPECT_NEAR(out[0], 1.0, 1e-15);
    EXPECT_NEAR(out[1], 1e-5, 1e-19);
    EXPECT_NEAR(out[2], 1e-10, 1e-24);
    CoreButl::fdecc(1, out.data(), 20, false);
    EXPECT_EQ(out[0], 1.0);
    CoreButl::fdecc(1, out.data(), 2, true);
    EXPECT_EQ(out[0], 0.0);
}

TEST(CoreButlSignal, SamplesDecodeAndEncode) {
    const char pcm16max[] = {'\xFF', '\x7F'}, pcm16min[] = {'\x00', '\x80'};
    EXPECT_EQ(CoreButl::dbfch(pcm16max, 0, 2), 1.0);
    EXPECT_EQ(CoreButl::dbfch(pcm16min, 0, 2), -32768.0 / 32767.0);
    const char pcm24[] = {'\x00', '\x00', '\x80', '\xFF', '\xFF', '\x7F', '\xFF', '\xFF', '\xFF'};
    EXPECT_EQ(CoreButl::dbfch(pcm24, 0, 3), -8388608.0 / 8388607.0);
    EXPECT_EQ(CoreButl::dbfch(pcm24, 3, 3), 1.0);
    EXPECT_EQ(CoreButl::dbfch(pcm24, 6, 3), -1.0 / 8388607.0);
    const char pcm8[] = {'\x80', '\xFF', '\x00'};
    EXPECT_EQ(CoreButl::dbfch(pcm8, 0, 1), 0.0);
    EXPECT_EQ(CoreButl::dbfch(pcm8, 1, 1), 1.0);
    EXPECT_EQ(CoreButl::dbfch(pcm8, 2, 1), -128.0 / 127.0);
    const char float32[] = {'\x00', '\x00', '\x80', '\x3F'};
    EXPECT_EQ(CoreButl::dbfch(float32, 0, 4), 1.0);
    EXPECT_EQ(CoreButl::dbfch(float32, 0, 0), 0.0);
    EXPECT_EQ(CoreButl::dbfch(float32, 0, 5), 0.0);

    char buffer[16] = {};
    for (const double v : {0.1, -0.75, 1e-300, 3.0e38}) {
        CoreButl::chfdb(v, buffer, 3, true);
        double back;
        std::memcpy(&back, buffer + 3, 8);
        EXPECT_EQ(back, v);
        CoreButl::chfdb(v, buffer, 1, false);
        EXPECT_EQ(CoreButl::dbfch(buffer, 1, 4), static_cast<double>(static_cast<float>(v)));
        CoreButl::chffl(static_cast<float>(v), buffer, 2, false);
        EXPECT_EQ(CoreButl::dbfch(buffer, 2, 4), static_cast<double>(static_cast<float>(v)));
        CoreButl::chffl(static_cast<float>(v), buffer, 0, true);
        std::memcpy(&back, buffer, 8);
        EXPECT_EQ(back, static_cast<double>(static_cast<float>(v)));
    }

    char chunk[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
    CoreButl::wrfwv("RIFF", chunk + 1);
    EXPECT_EQ(std::string(chunk, 6), "xRIFFx");
    CoreButl::wrfwv("ab", chunk + 1);
    EXPECT_EQ(std::string(chunk, 6), "xab  x");
}

TEST(CoreButlSignal, WhiteNoiseStaysInRangeAroundZero) {
    const int n = 100000;
    std::vector<double> noise(n + 1, 42.0);
    RandomGenerator generator(1234);
    CoreButl::whtns(noise.data(), n, 0.5, generator);
    double sum = 0.0, low = 1.0, high = -1.0;
    for (int i = 0; i < n; ++i) {
        EXPECT_LE(std::fabs(noise[i]), 1.0002 * 0.5);
        sum += noise[i];
        low = std::min(low, noise[i]);
        high = std::max(high, noise[i]);
    }
    EXPECT_NEAR(sum / n, 0.0, 0.01);
    EXPECT_LT(low, -0.49);
    EXPECT_GT(high, 0.49);
    EXPECT_EQ(noise[n], 42.0);
}

TEST(CoreButlTables, LinearReadInterpolatesAndGuardsItsIndex) {
    const double table[] = {10, 20, 40, 80, 160};
    double next = 0;
    EXPECT_EQ(CoreButl::envsv(2.5, 5, table, 1.0, next, false), 60.0);
    EXPECT_EQ(next, 80.0);
    EXPECT_EQ(CoreButl::envsv(-1.0, 5, table, 1.0, next, false), 10.0);
    EXPECT_EQ(next, 10.0);
    EXPECT_EQ(CoreButl::envsv(10.0, 5, table, 1.0, next, false), 160.0);
    EXPECT_EQ(next, 160.0);
    EXPECT_EQ(CoreButl::envsv(0.5, 5, table, 0.5, next, false), 20.0);
    EXPECT_EQ(CoreButl::envsv(1.25, 5, table, 1.0, next, true), 50.0); // entry 0 is not part of the curve
    EXPECT_EQ(next, 80.0);
    EXPECT_EQ(CoreButl::envsv(-3.0, 5, table, 1.0, next, true), 20.0);

    EXPECT_EQ(CoreButl::envsv(NAN, 5, table, 1.0, next, false), 10.0);
    EXPECT_EQ(CoreButl::envsv(NAN, 5, table, 1.0, next, true), 20.0);
    EXPECT_EQ(CoreButl::envsv(1e300, 5, table, 1e-300, next, false), 160.0);
    EXPECT_EQ(CoreButl::envsv(1.0, 5, table, 0.0, next, false), 160.0);
    EXPECT_EQ(CoreButl::envsv(2.0, 0, nullptr, 1.0, next, false), 0.0);
    EXPECT_EQ(next, 0.0);
    EXPECT_EQ(CoreButl::envsv(2.0, 1, table, 1.0, next, false), 10.0);
    EXPECT_EQ(CoreButl::envsv(2.0, 1, table, 1.0, next, true), 10.0);
    EXPECT_EQ(next, 10.0);
}

TEST(CoreButlTables, InverseLookupsAgreeOnMonotonicTables) {
    const double rising[] = {0, 1, 2, 3, 4, 5};
    EXPECT_DOUBLE_EQ(CoreButl::envst(2.5, 6, rising, 2.0, false), 5.0);
    EXPECT_DOUBLE_EQ(CoreButl::envst(4.5, 6, rising, 2.0, false), 12.0); // last segment: n x step
    EXPECT_DOUBLE_EQ(CoreButl::envst(-1.0, 6, rising, 2.0, false), -2.0);
    EXPECT_DOUBLE_EQ(CoreButl::envst(1.0, 0, rising, 2.0, false), 0.0);
    const double falling[] = {5, 4, 3, 2, 1, 0};
    EXPECT_DOUBLE_EQ(CoreButl::envst(3.5, 6, falling, 1.0, true), 1.5);

    std::mt19937 random(2024);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int round = 0; round < 1000; ++round) {
        const int n = static_cast<int>(random() % 201);
        const bool fall = random() % 2 == 0;
        std::vector<double> table(n);
        double level = unit(random) * 10 - 5;
        for (int i = 0; i < n; ++i) {
            table[i] = level;
            const double stepSize = (random() % 4 == 0) ? 0.0 : unit(random); // flat segments too
            level += fall ? -stepSize : stepSize;
        }
        for (int probe = 0; probe < 20; ++probe) {
            double v = unit(random) * 120 - 60;
            if (n > 0 && probe % 3 == 0) v = table[random() % n];
            const double slow = CoreButl::envst(v, n, table.data(), 0.25, fall);
            const double fast = CoreButl::enste(v, n, table.data(), 0.25, fall);
            ASSERT_EQ(slow, fast) << "round " << round << " n " << n << " v " << v;
            ASSERT_TRUE(std::isfinite(slow));
        }
    }
}

TEST(CoreButlTables, EndTaperBlendsTowardTheReferenceWithinTheCurve) {
    // By hand: n = 8, x = 0.5 gives a high-end taper of 2 points and a low end of 8; the
    // reference is mag[3] = 0 dB. The last point (-20 dB) is pulled half-way, to -10 dB; the low
    // end then blends it by 1/8 toward 0 dB, to -8.75 dB.
    std::vector<double> mag(8, 1.0);
    mag[7] = 0.1;
    CoreButl::fixbd(mag.data(), 8, 0.5, 3);
    for (int k = 0; k < 7; ++k) EXPECT_NEAR(mag[k], 1.0, 1e-14) << k;
    EXPECT_NEAR(mag[7], std::pow(10.0, -8.75 / 20.0), 1e-14);

    // The reference as the mean level of the middle: w = 8 - 2 x 2 = 4 points from index 2.
    std::vector<double> mean = {1, 1, 0.1, 0.1, 0.1, 0.1, 1, 1};
    CoreButl::fixbd(mean.data(), 8, 0.5, 0);
    EXPECT_NEAR(mean[0], 0.1, 1e-14); // the first point takes the reference
    const std::vector<double> constant(64, 0.37);
    for (const double x : {0.1, 0.5, 2.0, 3.0, 10.0}) {
        for (const int m : {-1, 0, 10, 63, 64, 1000}) {
            std::vector<double> curve(constant); // sized exactly: ASan sees any write outside
            CoreButl::fixbd(curve.data(), 64, x, m);
            for (double v : curve) ASSERT_NEAR(v, 0.37, 1e-13) << x << " " << m;
        }
    }
    std::mt19937 random(5);
    for (const double x : {3.0, 0.5}) {
        std::vector<double> curve(50);
        for (double& v : curve)
            v = (random() % 5 == 0) ? 0.0 : std::ldexp(1.0, -static_cast<int>(random() % 60));
        curve[7] = 4.9e-324;
        curve[9] = -1.0;
        CoreButl::fixbd(curve.data(), 50, x, 80);
        for (double v : curve) EXPECT_TRUE(std::isfinite(v));
    }
    CoreButl::fixbd(nullptr, 0, 1.0, 0);
}

namespace {

int depthOf(const CoreButl::VECTORELEMENT* node) {
    return node == nullptr ? 0 : 1 + std::max(depthOf(node->left), depthOf(node->right));
}

void walkInOrder(const CoreButl::VECTORELEMENT* node, std::vector<double>& positions) {
    if (node == nullptr) return;
    walkInOrder(node->left, positions);
    positions.push_back(node->position);
    walkInOrder(node->right, positions);
}

} // namespace

TEST(CoreButlTree, BuildsABalancedSearchTreeOfDistinctPositions) {
    static_assert(sizeof(CoreButl::VECTORELEMENT) == 40);
    std::vector<CoreButl::VECTORELEMENT> three = {
        {0.5, 0, 0, nullptr, nullptr}, {0.1, 0, 1, nullptr, nullptr}, {0.9, 0, 2, nullptr, nullptr}};
    const CoreButl::VECTORELEMENT* root = CoreButl::btini(three.data(), 3);
    ASSERT_NE(root, nullptr);
    EXPECT_EQ(root->position, 0.5);
    EXPECT_EQ(root->element, 0);
    ASSERT_NE(root->left, nullptr);
    EXPECT_EQ(root->left->position, 0.1);
    EXPECT_EQ(root->left->element, 1);
    ASSERT_NE(root->right, nullptr);
    EXPECT_EQ(root->right->position, 0.9);

    std::vector<CoreButl::VECTORELEMENT> repeated = {{0.5, 0, 0, nullptr, nullptr},
                                                     {0.9, 0, 1, nullptr, nullptr},
                                                     {0.1, 0, 2, nullptr, nullptr},
                                                     {0.5, 0, 3, nullptr, nullptr}};
    std::vector<double> walked;
    walkInOrder(CoreButl::btini(repeated.data(), 4), walked);
    EXPECT_EQ(walked, (std::vector<double>{0.1, 0.5}));
    EXPECT_EQ(CoreButl::btini(repeated.data(), 0), nullptr);
    EXPECT_EQ(CoreButl::btpop(repeated.data(), 4, 2, 1), nullptr);

    std::mt19937 random(11);
    std::uniform_real_distribution<double> position(-1.0, 1.0);
    std::vector<CoreButl::VECTORELEMENT> many(10000);
    for (int i = 0; i < 10000; ++i)
        many[i] = {position(random), static_cast<double>(i), i, &many[0], &many[0]};
    const CoreButl::VECTORELEMENT* manyRoot = CoreButl::btini(many.data(), 10000);
    std::vector<double> order;
    walkInOrder(manyRoot, order);
    ASSERT_EQ(order.size(), 10000u);
    EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
    EXPECT_LE(depthOf(manyRoot), 14);
    for (const auto& record : many) EXPECT_EQ(record.secondary, record.element); // whole records move

    std::vector<CoreButl::VECTORELEMENT> withNan(20);
    for (int i = 0; i < 20; ++i) withNan[i] = {(i % 4 == 0) ? NAN : position(random), 0, i, nullptr, nullptr};
    std::vector<double> visited;
    walkInOrder(CoreButl::btini(withNan.data(), 20), visited);
    EXPECT_EQ(visited.size(), 20u);
}
