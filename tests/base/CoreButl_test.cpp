// Tests of CoreButl: texts and labels, file names, the case-insensitive name resolution and whole-file
// writes (atomic for readers, a failure leaves the old file), numbers, signal helpers and tables, each
// checked against values or references written here.
#include "base/CoreButl.h"
#include "base/RandomGenerator.h"
#include "tests/common/FileSizeLimit.h"
#include "tests/common/LogCapture.h"
#include "tests/common/SignalReference.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <complex>
#include <cstring>
#include <random>
#include <thread>

namespace fs = std::filesystem;

using LongComplex = std::complex<long double>;
static const long double kPi = 3.141592653589793238462643383279502884L;

// Read while other files are still being initialised: the constants must already hold their text.
static const CoreAnsx earlyNull(CoreButl::sCnull);

// What the helpers gave against the texts they should give, position by position.
static void expectTexts(const std::vector<CoreAnsx>& got, const std::vector<std::string>& expected) {
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i].c_str(), expected[i]) << "text " << i;
}

class CoreButlFiles : public TempFolderTest {
protected:
    std::string path(const std::string& relative) const { return (root / relative).string(); }
};

TEST(CoreButlText, PadsLabelsAndSmallHelpersKeepTheirRules) {
    EXPECT_STREQ(earlyNull.c_str(), "NULL");
    // Padding: a text shorter than one character pads as a single space; the odd fill goes left.
    // Labels: cut after the first space, vowels after the third character dropped, never wider than n.
    const char utf16[] = {'\xFF', '\xFE', 'A', 0, 'B', 0};
    expectTexts({CoreButl::lpad_("", 4, '.'), CoreButl::rpad_("abcdef", 4, '.'), CoreButl::cpad_("a", 4, '.'),
                 CoreButl::sbstr("abc", 4, 2), CoreButl::getds("FREQUENCY", 6),
                 CoreButl::getds("Lfo Rate", 8), CoreButl::getds("ATTACK TIME", 4), CoreButl::getds("X", -3),
                 CoreButl::disps(CoreAnsx()), CoreButl::getcn(" ab ", 7), CoreButl::fndqp("P?X??", "P1X23"),
                 CoreButl::fndqp("BANK??", "BAN"), CoreButl::getu8(CoreButl::getac(utf16, 6)),
                 CoreButl::dotas(-0.0), CoreButl::dotas(-2.25)},
                {"... ", "abcd", "..a.", " ", "FREQNC", "Lfo ", "ATTC", "", "0 ", "   ab ", "1", "", "AB",
                 "0", "-2.25"});
    // Replacing rescans after each replacement, and always ends.
    const char* rows[][4] = {
        {"aaaab", "ab", "b", "b"}, {"abc", "", "x", "abc"}, {"aaa", "aa", "xaax", "xaaxa"}};
    for (const auto& r : rows)
        EXPECT_STREQ(CoreButl::rplce(r[0], r[1], r[2]).c_str(), r[3]) << r[0] << " " << r[1];
    const CoreAnsx names[] = {"LFO", "ENV"},
                   numbers[] = {"1", "5", "9"}; // lookups by text and nearest number
    EXPECT_EQ((std::vector<int>{CoreButl::getci(" lfo ", 2, names, false, false),
                                CoreButl::getci("x", 2, names, false, true),
                                CoreButl::getci("7", 3, numbers, true, true),
                                CoreButl::getci("8.5", 3, numbers, true, true),
                                CoreButl::getci("7", 0, numbers, true, true)}),
              (std::vector<int>{0, -1, 1, 2, -1}));
}

TEST(CoreButlText, SortGivesExactlyTheOrderOfTheExchangeSort) {
    std::mt19937 random(12345);
    const char* stems[] = {"kick", "Kick", " kick", "snare", "Snare ", "", "\tzeta", "10", "9"};
    for (int round = 0; round < 20; ++round) {
        std::vector<CoreAnsx> names(random() % 101);
        for (CoreAnsx& name : names)
            name = CoreAnsx(stems[random() % std::size(stems)]) + CoreAnsx(int(random() % 3));
        std::vector<CoreAnsx> expected = names; // the exchange sort as written, keys made at each comparison
        for (size_t i = 0; i < expected.size(); ++i)
            for (size_t j = i; j < expected.size(); ++j)
                if (expected[i].UpperCase().Trim() > expected[j].UpperCase().Trim())
                    std::swap(expected[i], expected[j]);
        CoreButl::sortv(names.data(), int(names.size()));
        for (size_t i = 0; i < names.size(); ++i)
            ASSERT_STREQ(names[i].c_str(), expected[i].c_str()) << round;
    }
}

TEST_F(CoreButlFiles, NamePartsVersionsAndUsablePathsKeepTheirRules) {
    const std::string dir = "/r/" + std::string(3900, 'd') + "/"; // no cut at any fixed length
    // Only the last component has an extension, and a leading dot does not start one. A usable path keeps
    // an existing folder in its own case, and otherwise takes the fallbacks.
    fs::create_directories(root / "Data");
    const CoreAnsx fallback = at("fallback/default.wav");
    expectTexts(
        {CoreButl::getvs((dir + "Name_041.wav").c_str(), 3), CoreButl::getfx("dir/.hidden"),
         CoreButl::setfx("my.folder/b", ".XML"), CoreButl::getfn("c:\\x\\b.wav", true),
         CoreButl::rnfle("a/b.wav", "_L", true), CoreButl::getvs("p/take.wav", 3),
         CoreButl::getvs("p/take_999.WAV", 3), CoreButl::getvs("p/take_9.wav", 0),
         CoreButl::getpv(at("DATA/song.wav"), fallback, ".XML"),
         CoreButl::getpv(at("gone/song.wav"), fallback, ".XML"), CoreButl::getpv("0", fallback, ".XML")},
        {dir + "Name_042.wav", "", "my.folder/b.xml", "b", "b_L.wav", "p/take_001.wav", "p/take_000.wav",
         "p/take_0.wav", path("Data/song.xml"), path("fallback/song.xml"), path("fallback/default.xml")});
}

TEST_F(CoreButlFiles, ReadersFindANameWhateverItsCaseAndWritersKeepExistingSpellings) {
    fs::create_directories(root / "Prog/Sub");
    for (const char* name : {"Prog/My.q7p", "Prog/b.XML", "Prog/B.xml"}) writeBytes(root / name, "x");
    fs::create_symlink(root / "Prog/My.q7p", root / "Link.wav");
    // Reading: an exact spelling wins, else the first in byte order; regular follows a final link.
    const char* reading[][3] = {{"prog/b.xml", "Prog/B.xml", "1"},
                                {"prog/b.XML", "Prog/b.XML", "1"},
                                {"LINK.WAV", "Link.wav", "1"},
                                {"PROG/SUB", "Prog/Sub", "0"},
                                {"PROG/NEW.XML", "PROG/NEW.XML", "0"}};
    for (const auto& r : reading) {
        bool regular = r[2][0] == '0';
        EXPECT_EQ(CoreButl::pcase(at(r[0]), regular).c_str(), path(r[1])) << r[0];
        EXPECT_EQ(regular, r[2][0] == '1') << r[0];
    }
    EXPECT_EQ(CoreButl::wcase(at("PROG/SUB/NEW/DEEP.XML")).c_str(), path("Prog/Sub/NEW/DEEP.XML"));
    FILE* file = CoreButl::ffpen(at("prog/my.Q7P"), "rb");
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_EQ(CoreButl::ffpen(at("prog/my.Q7P"), "r+"), nullptr); // writers never resolve
    EXPECT_EQ(CoreButl::ffpen(at("prog/none.wav"), "rb"), nullptr);
}

TEST_F(CoreButlFiles, ResolutionFollowsEveryChangeOfAFolder) {
    const auto resolved = [&](const std::string& asked) {
        return std::string(CoreButl::pcase(at(asked)).c_str());
    };
    writeBytes(root / "a.txt", "x");
    EXPECT_EQ(resolved("A.TXT"), path("a.txt"));
    fs::rename(root / "a.txt", root / "A.txt"); // changes by another program, right after a listing
    EXPECT_EQ(resolved("a.TXT"), path("A.txt"));
    EXPECT_EQ(resolved("NEW.TXT"), path("NEW.TXT"));
    writeBytes(root / "new.txt", "x");
    EXPECT_EQ(resolved("NEW.TXT"), path("new.txt"));
    fs::rename(root / "new.txt", root / "renamed.txt");
    EXPECT_EQ(resolved("NEW.TXT"), path("NEW.TXT"));
    EXPECT_TRUE(CoreButl::setfc(at("own.txt"), "own")); // the system's own write
    EXPECT_EQ(resolved("OWN.TXT"), path("own.txt"));
}

TEST_F(CoreButlFiles, ContentIsReadUpToTheFirstZeroByteAndWrittenExactly) {
    writeBytes(root / "zero.bin", std::string("ab\0cd", 5));
    expectTexts({CoreButl::getfc(at("ZERO.bin")), CoreButl::getfc(at("missing.bin")),
                 CoreButl::getfc(CoreAnsx(root.c_str()))},
                {"ab", "0", "0"}); // a folder reads as "0"
    EXPECT_TRUE(CoreButl::setfc(at("out.txt"), "line1\r\nline2\xE9"));
    EXPECT_EQ(readBytes(root / "out.txt"), "line1\r\nline2\xE9");
    EXPECT_TRUE(CoreButl::svatx(at("doc.xml"), "<A> 1 </A>", false));
    EXPECT_EQ(readBytes(root / "doc.xml"),
              std::string(CoreButl::sCxmlheader) + CoreButl::sCxmlgenerator + "<A> 1 </A>\n");
    EXPECT_TRUE(CoreButl::logas(at("log.txt"), "one", false));
    EXPECT_TRUE(CoreButl::logas(at("log.txt"), "two", true));
    EXPECT_EQ(readBytes(root / "log.txt"), "one\ntwo\n");
    EXPECT_FALSE(CoreButl::logas(at("missing/log.txt"), "x", true));
    EXPECT_EQ(std::distance(fs::directory_iterator(root), {}), 4); // no temporary file left behind
}

TEST_F(CoreButlFiles, ReplacingAFileIsAtomicForReaders) {
    const std::string first(1 << 20, 'a'), second(1 << 20, 'b');
    const CoreAnsx target = at("atomic.bin");
    ASSERT_TRUE(CoreButl::setfc(target, first.c_str()));
    std::atomic<bool> done{false};
    std::atomic<int> torn{0};
    std::thread reader([&] {
        while (!done.load()) {
            const std::string seen = CoreButl::getfc(target).c_str();
            torn += seen != first && seen != second;
        }
    });
    for (int i = 0; i < 50; ++i) EXPECT_TRUE(CoreButl::setfc(target, (i % 2 == 0 ? second : first).c_str()));
    done = true;
    reader.join();
    EXPECT_EQ(torn.load(), 0);
}

TEST_F(CoreButlFiles, AFailedWriteLeavesTheOldFileWholeAndIsLogged) {
    LogCapture log(1);
    fs::create_directories(root / "folder");
    writeBytes(root / "keep.txt", std::string(2000, 'k'));
    const std::string big(1 << 16, 'n');
    EXPECT_FALSE(CoreButl::setfc(at("missing/x.txt"), "data"));
    EXPECT_FALSE(CoreButl::svatx(at("folder"), "data", false));
    // A write cut short by the file-size limit, in a child process so the limit stays there.
    EXPECT_EQ(writeUnderFileSizeLimit(4096, [&] { return CoreButl::setfc(at("keep.txt"), big.c_str()); }), 0);
    EXPECT_EQ(
        writeUnderFileSizeLimit(4096, [&] { return CoreButl::svatx(at("keep.txt"), big.c_str(), false); }),
        0);
    EXPECT_EQ(readBytes(root / "keep.txt"), std::string(2000, 'k'));
    EXPECT_TRUE(fs::is_directory(root / "folder"));
    EXPECT_NE(log.text().find(path("missing/x.txt")), std::string::npos) << log.text();
    EXPECT_NE(log.text().find(path("folder")), std::string::npos) << log.text();
    // One line for the failed save, holding its reason.
    std::vector<std::string> naming;
    for (const std::string& line : log.texts())
        if (line.find(path("folder")) != std::string::npos) naming.push_back(line);
    ASSERT_EQ(naming.size(), 1u) << log.text();
    EXPECT_NE(naming[0].find("is a folder"), std::string::npos) << naming[0];
}

TEST(CoreButlNumbers, BitsMultiplesTimesPeaksSignsPlacesAndGains) {
    // Revbt counts above 32 bits as 32; setmn stays exact in integers; tpfup works in 64 bits; lsswt
    // guards its logarithms and saturates.
    EXPECT_EQ((std::vector<int64_t>{
                  CoreButl::nrobn(0), CoreButl::nrobn(8), CoreButl::revbt(0b1101, 4), CoreButl::revbt(1, 40),
                  int64_t(CoreButl::upftp(0, 7)), int64_t(CoreButl::upftp(48000, 48)),
                  CoreButl::tpfup(192000, 30000000), CoreButl::setmn(10, 4), CoreButl::setmn(-5, 4),
                  CoreButl::setmn(2000000001, 1000), CoreButl::lsswt(1, 1000, 10, 10),
                  CoreButl::lsswt(0, 10, 5, 100), CoreButl::lsswt(2, 2, 5, 100),
                  CoreButl::lsswt(NAN, 10, 5, 100), CoreButl::lsswt(1, 1.0000001, 1e300, INT32_MAX),
                  CoreButl::lsswt(1, 1.0000001, 1e-300, INT32_MAX)}),
              (std::vector<int64_t>{0, 3, 0b1011, int64_t{1} << 31, 7, 1000, 5760000, 12, -5, 2000001000, 3,
                                    0, 0, 0, INT32_MAX, INT32_MIN}));
    // Peaks are the first of equal maxima, as buffer indices; the sign is the loudest sample's.
    const double samples[] = {0.1, -0.7, 0.3, 0.7, -0.2}, silence[] = {0.0, 0.0, 0.0};
    EXPECT_EQ((std::vector<int>{CoreButl::getpk(samples, 0, 5), CoreButl::getpk(samples, 2, 3),
                                CoreButl::getpk(silence, 1, 2), CoreButl::getsg(samples, 5),
                                CoreButl::getsg(samples + 2, 3), CoreButl::getsg(silence, 3)}),
              (std::vector<int>{1, 3, 0, -1, 1, 0}));
    // The gain of a mix is unity where the reference is zero or subnormal; levels have a floor.
    double other[] = {0.0, 2.0};
    double* channels[] = {const_cast<double*>(samples), other};
    const Ipp64fc x[] = {{3.0, 4.0}}, y[] = {{0.0, 10.0}};
    EXPECT_EQ((std::vector<double>{CoreButl::divmg(2, 4, 0.5), CoreButl::divmg(0, 4, 0.5),
                                   CoreButl::divmg(4.9e-324, 4, 0.5), CoreButl::divmg(x, y, 0, 0.5),
                                   CoreButl::getgn(channels, 1, 0, 2), CoreButl::lvldb(NAN)}),
              (std::vector<double>{1.5, 1.0, 1.0, 1.5, 2.0, -192.64}));
}

TEST(CoreButlSignal, CopiesPadAndShiftWithinBounds) {
    const double src[] = {1, 2, 3};
    std::vector<double> dst(5, 9.0);
    CoreButl::movp0(5, 3, dst.data(), src);
    CoreButl::movp0(2, 3, dst.data(), src); // never more than n values
    EXPECT_EQ(dst, (std::vector<double>{1, 2, 3, 0, 0}));
    const std::vector<double> wave = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    for (const auto& [srcpos, dstpos] : {std::pair{-12, 3}, {4, -8}, {2, 2}, {12, 0}}) {
        std::vector<double> out(6, -1.0); // exactly dstlen: any write outside shows under ASan
        CoreButl::mvwav(wave.data(), 10, srcpos, out.data(), 6, dstpos);
        for (int t = 0, s = srcpos - dstpos; t < 6; ++t, ++s)
            ASSERT_EQ(out[t], s >= 0 && s < 10 ? wave[s] : 0.0) << srcpos << " " << dstpos << " " << t;
    }
}

TEST(CoreButlSignal, WindowsAreTheirCosineSums) {
    // w(k) = sum c_j cos(2 j pi k / (n + d)), evaluated as powers of e^(i pi k / (n + d)); checked for the
    // Hamming window (whose denominator differs) and the flat top, whose peak of 4.64 needs long double.
    const std::pair<int, std::vector<long double>> sums[] = {{1, {0.53836L, -0.46164L}},
                                                             {-1, {1.0L, -1.93L, 1.29L, -0.388L, 0.032L}}};
    const int n = 65;
    for (int16_t type : {1, 2, 5}) {
        std::vector<double> window(n, 1.0);
        CoreButl::windw(window.data(), n, type);
        for (int k = 0; k < n; ++k) {
            long double w = type == 5 ? 1.0L : 0.0L; // an unknown type leaves the buffer alone
            for (size_t j = 0; type < 5 && j < sums[type - 1].second.size(); ++j)
                w += sums[type - 1].second[j] *
                     std::real(std::pow(std::polar(1.0L, kPi * k / (n + sums[type - 1].first)), 2 * int(j)));
            ASSERT_NEAR(window[k], double(w), 1e-15) << "type " << type << ", k " << k;
        }
        if (type == 2) {
            EXPECT_NEAR(window[32], 4.64, 1e-14); // the flat top's peak, by hand
        }
    }
}

TEST(CoreButlSignal, FftEqualsTheDirectTransformInAndOutOfPlace) {
    for (const auto& [n, inverse, withImaginary] :
         {std::tuple{2u, 0, false}, {64u, 1, true}, {512u, 0, true}}) {
        std::vector<double> re = randomSignal(n, n), im(n, 0.0), reout(n), imout(n);
        if (withImaginary) im = randomSignal(n, n + 1);
        ASSERT_TRUE(CoreButl::fftdb(n, inverse, re.data(), withImaginary ? im.data() : nullptr, reout.data(),
                                    imout.data()));
        for (unsigned k = 0; k < n; ++k) {
            LongComplex expected;
            for (unsigned t = 0; t < n; ++t)
                expected += LongComplex(re[t], im[t]) *
                            std::polar(1.0L, (inverse ? 2 : -2) * kPi * ((t * k) % n) / n);
            expected /= inverse ? n : 1;
            ASSERT_NEAR(reout[k], double(expected.real()), 1e-9 * n) << n << " " << k;
            ASSERT_NEAR(imout[k], double(expected.imag()), 1e-9 * n) << n << " " << k;
        }
        CoreButl::fftdb(n, inverse, re.data(), im.data(), re.data(), im.data());
        ASSERT_TRUE(re == reout && im == imout);
    }
    std::vector<double> x(16);
    for (unsigned n : {1u, 12u})
        EXPECT_THROW(CoreButl::fftdb(n, 0, x.data(), nullptr, x.data(), x.data()), CoreAnsx);
    EXPECT_THROW(CoreButl::fftdb(8, 0, x.data(), nullptr, x.data(), nullptr), CoreAnsx);
}

TEST(CoreButlSignal, FadesFollowTheirCurves) {
    const double q = 0.0031622776601683794; // 10^(-50/20)
    // n, shape (-1: the plain ramp), rising, then the first five values (-1: not written).
    const std::vector<double> rows[] = {{3, -1, 1, 0, 0.5, 1, -1, -1},
                                        {5, 3, 1, 0, 1 / 64.0, 1 / 8.0, 27 / 64.0, 1},
                                        {3, 20, 1, 1e-5, q, 1, -1, -1},
                                        {3, 22, 0, 1, 1e-5, 1e-10, -1, -1},
                                        {-2, 2, 1, -1, -1, -1, -1, -1}};
    for (const auto& r : rows) {
        std::vector<double> out(5, -1.0);
        if (r[1] < 0)
            CoreButl::fdecc(int32_t(r[0]), out.data());
        else
            CoreButl::fdecc(int32_t(r[0]), out.data(), int16_t(r[1]), r[2] != 0);
        for (int i = 0; i < 5; ++i) EXPECT_NEAR(out[i], r[3 + i], 1e-15) << r[0] << " " << r[1] << " " << i;
    }
    std::vector<double> ones = {1.0, 0.25};
    CoreButl::cfdcc(2, ones.data());
    EXPECT_TRUE(ones == (std::vector<double>{0.0, 0.75}) && !std::signbit(ones[0]));
}

// White noise drawn with generators seeded alike agrees whatever another thread draws meanwhile (each
// caller owns its generator), stays in its range and has the mean and variance of the uniform
// distribution over it within 1 % (about 17 and 11 standard errors for 10^6 draws).
TEST(CoreButlSignal, WhiteNoiseAgreesPerSeedWhateverAnotherThreadDrawsAndIsUniform) {
    const double amplitude = 0.5, low = -32766.0 / 32767.0 * amplitude, high = 32772.0 / 32767.0 * amplitude;
    const int blockLength = 1000, blocks = 1000;
    std::atomic<bool> stop(false);
    std::thread other([&] {
        RandomGenerator own(99);
        std::vector<double> noise(blockLength);
        while (!stop.load()) CoreButl::whtns(noise.data(), blockLength, amplitude, own), (void)std::rand();
    });
    RandomGenerator first(42), second(42), third(43);
    std::vector<double> a(blockLength), b(blockLength), c(blockLength);
    bool alike = true, inRange = true;
    double sum = 0.0, squares = 0.0;
    for (int block = 0; block < blocks; ++block) {
        CoreButl::whtns(a.data(), blockLength, amplitude, first);
        CoreButl::whtns(b.data(), blockLength, amplitude, second);
        alike = alike && a == b;
        for (const double x : a) {
            inRange = inRange && x >= low && x < high;
            sum += x;
            squares += x * x;
        }
    }
    stop.store(true);
    other.join();
    CoreButl::whtns(c.data(), blockLength, amplitude, third);
    EXPECT_TRUE(alike && inRange);
    EXPECT_NE(c, a);
    const double n = double(blockLength) * blocks, mean = sum / n;
    EXPECT_NEAR(mean, (low + high) / 2.0, 0.01 * amplitude);
    const double variance = (high - low) * (high - low) / 12.0;
    EXPECT_NEAR(squares / n - mean * mean, variance, 0.01 * variance);
}

// The form without a generator draws from one its calling thread owns: every value within the noise
// formula's range, a second call continues the sequence, and two threads drawing at once (run it under
// ThreadSanitizer) each get a sequence of their own that spans the range.
TEST(CoreButlSignal, WhiteNoiseOfTheCallingThreadIsItsOwnAndStaysInRange) {
    const double amplitude = 0.25, low = -32766.0 / 32767.0 * amplitude, high = 32772.0 / 32767.0 * amplitude;
    const int blockLength = 1000, blocks = 200;
    using Blocks = std::vector<std::vector<double>>;
    std::atomic<int> waiting(2);
    const auto draw = [&](Blocks& kept) {
        kept.assign(2, std::vector<double>(blockLength + 1, 7.0)); // one value past the end stays untouched
        std::vector<double> scratch(blockLength);
        waiting.fetch_sub(1);
        while (waiting.load() > 0) std::this_thread::yield();
        for (int block = 0; block < blocks; ++block)
            CoreButl::whtns(block < 2 ? kept[block].data() : scratch.data(), blockLength, amplitude);
    };
    Blocks mine, other;
    std::thread thread([&] { draw(other); });
    draw(mine);
    thread.join();
    for (const Blocks* kept : {&mine, &other})
        for (const std::vector<double>& block : *kept) {
            EXPECT_EQ(block[blockLength], 7.0);
            const auto [least, most] = std::minmax_element(block.begin(), block.end() - 1);
            EXPECT_GE(*least, low);
            EXPECT_LT(*most, high);
            EXPECT_LT(*least, -0.9 * amplitude); // spread over the range, not a constant
            EXPECT_GT(*most, 0.9 * amplitude);
        }
    EXPECT_NE(mine[0], mine[1]);
    EXPECT_NE(other[0], other[1]);
    EXPECT_NE(mine[0], other[0]);
    std::vector<double> untouched(3, 7.0);
    CoreButl::whtns(untouched.data(), 0, amplitude);
    EXPECT_EQ(untouched, std::vector<double>(3, 7.0));
}

TEST(CoreButlSignal, SamplesEncodeAndShortCodesArePadded) {
    char buffer[16] = {};
    double wide = 0;
    CoreButl::chffl(0.1f, buffer, 3, true);
    std::memcpy(&wide, buffer + 3, 8);
    EXPECT_EQ(wide, double(0.1f));
    CoreButl::chffl(0.1f, buffer, 7, false);
    EXPECT_EQ(CoreButl::dbfch(buffer, 7, 4), double(0.1f));
    EXPECT_EQ(CoreButl::dbfch(buffer, 7, 5), 0.0); // no sample is five bytes wide
    CoreButl::wrfwv("ab", buffer + 11);
    EXPECT_EQ(std::string(buffer + 11, 5), std::string("ab  ") + char(0));
}

TEST(CoreButlTables, LinearReadInterpolatesAndGuardsItsIndex) {
    const double table[] = {10, 20, 40, 80, 160};
    // x, n, step, skip (entry 0 is not part of the curve), value, next.
    const double rows[][6] = {{2.5, 5, 1, 0, 60, 80},         {1.25, 5, 1, 1, 50, 80}, {-3, 5, 1, 1, 20, 20},
                              {NAN, 5, 1, 0, 10, 10},         {10, 5, 1, 0, 160, 160}, {2, 1, 1, 1, 10, 10},
                              {1e300, 5, 1e-300, 0, 160, 160}};
    for (const auto& r : rows) {
        double next = -1;
        EXPECT_EQ(CoreButl::envsv(r[0], int(r[1]), table, r[2], next, r[3] != 0), r[4])
            << r[0] << " " << r[1];
        EXPECT_EQ(next, r[5]) << r[0] << " " << r[1] << " " << r[3];
    }
    double next = -1;
    EXPECT_EQ(CoreButl::envsv(2.0, 0, nullptr, 1.0, next, false), 0.0);
    EXPECT_EQ(next, 0.0);
}

TEST(CoreButlTables, InverseLookupsAgreeOnMonotonicTables) {
    const double rising[] = {0, 1, 2, 3, 4, 5};
    EXPECT_DOUBLE_EQ(CoreButl::envst(2.5, 6, rising, 2.0, false), 5.0);
    EXPECT_DOUBLE_EQ(CoreButl::envst(4.5, 6, rising, 2.0, false), 12.0); // last segment: n x step
    std::mt19937 random(2024);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int round = 0; round < 200; ++round) {
        const bool fall = random() % 2 == 0;
        std::vector<double> table(random() % 201);
        double level = unit(random) * 10 - 5;
        for (double& entry : table) {
            entry = level;
            level += (fall ? -1 : 1) * (random() % 4 == 0 ? 0.0 : unit(random)); // flat segments too
        }
        const int n = int(table.size());
        for (int probe = 0; probe < 20; ++probe) {
            const double v = n > 0 && probe % 3 == 0 ? table[random() % n] : unit(random) * 120 - 60;
            const double slow = CoreButl::envst(v, n, table.data(), 0.25, fall);
            ASSERT_EQ(slow, CoreButl::enste(v, n, table.data(), 0.25, fall)) << round << " " << v;
            ASSERT_TRUE(std::isfinite(slow));
        }
    }
}

TEST(CoreButlTables, EndTaperBlendsTowardTheReferenceWithinTheCurve) {
    // By hand: n = 8, x = 0.5 gives a high-end taper of 2 points and a low end of 8; the reference
    // is mag[3] = 0 dB. The last point (-20 dB) is pulled half-way, to -10 dB; the low end then
    // blends it by 1/8 toward 0 dB, to -8.75 dB.
    std::vector<double> mag(8, 1.0);
    mag[7] = 0.1;
    CoreButl::fixbd(mag.data(), 8, 0.5, 3);
    for (int k = 0; k < 7; ++k) EXPECT_NEAR(mag[k], 1.0, 1e-14) << k;
    EXPECT_NEAR(mag[7], std::pow(10.0, -8.75 / 20.0), 1e-14);
    // The reference as the mean level of the middle: w = 8 - 2 x 2 = 4 points from index 2.
    std::vector<double> mean = {1, 1, 0.1, 0.1, 0.1, 0.1, 1, 1};
    CoreButl::fixbd(mean.data(), 8, 0.5, 0);
    EXPECT_NEAR(mean[0], 0.1, 1e-14);
    // Whatever the taper and the reference index, nothing is written outside the curve (sized exactly for
    // ASan), a flat curve stays flat, and silent, subnormal or negative points give finite values.
    for (const auto& [x, m] : {std::pair{3.0, 64}, {10.0, -1}, {0.1, 1000}}) {
        std::vector<double> constant(64, 0.37);
        CoreButl::fixbd(constant.data(), 64, x, m);
        for (double v : constant) ASSERT_NEAR(v, 0.37, 1e-13) << x << " " << m;
        std::vector<double> curve = {0.0, 4.9e-324, -1.0, 1e-18, 0.5, 1.0, 2.0, 0.0, 1e-300, 0.25};
        CoreButl::fixbd(curve.data(), 10, x, 80);
        for (double v : curve) EXPECT_TRUE(std::isfinite(v)) << x;
    }
    CoreButl::fixbd(nullptr, 0, 1.0, 0);
}

namespace {

// The positions of a tree in order; depth receives the longest path from node.
void walkInOrder(const CoreButl::VECTORELEMENT* node, std::vector<double>& positions, int& depth,
                 int level = 1) {
    if (node == nullptr) return;
    depth = std::max(depth, level);
    walkInOrder(node->left, positions, depth, level + 1);
    positions.push_back(node->position);
    walkInOrder(node->right, positions, depth, level + 1);
}

} // namespace

TEST(CoreButlTree, BuildsABalancedSearchTreeOfDistinctPositions) {
    static_assert(sizeof(CoreButl::VECTORELEMENT) == 40);
    std::vector<CoreButl::VECTORELEMENT> records(7);
    for (int i = 0; i < 7; ++i) records[i] = {double((i * 5) % 7), double(i), i, nullptr, nullptr};
    std::vector<double> walked;
    int depth = 0;
    walkInOrder(CoreButl::btini(records.data(), 7), walked, depth);
    EXPECT_EQ(walked, (std::vector<double>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(depth, 3);
    for (const auto& record : records) ASSERT_EQ(record.secondary, record.element); // whole records move
    records[1].position = records[4].position = NAN; // NaN never counts as a repeat
    walked.clear();
    walkInOrder(CoreButl::btini(records.data(), 7), walked, depth);
    EXPECT_EQ(walked.size(), 7u);
    for (int i = 0; i < 4; ++i) records[i].position = std::vector<double>{0.5, 0.9, 0.1, 0.5}[i];
    walked.clear();
    walkInOrder(CoreButl::btini(records.data(), 4), walked, depth);
    EXPECT_EQ(walked, (std::vector<double>{0.1, 0.5})); // from the first repeat on, records stay out
    EXPECT_EQ(CoreButl::btini(records.data(), 0), nullptr);
}
