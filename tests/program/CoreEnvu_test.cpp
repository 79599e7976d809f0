// The sampling toolkit: responses loaded from CSV and WAV files, start detection, test-tone recordings
// checked against the tone formula, settling times measured from recordings shaped like a compressor's
// output (as files or container items), and invalid arguments or unwritable files that write nothing.
#include "program/CoreEnvu.h"

#include "base/CoreNode.h"
#include "base/CoreXml_.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreHdco.h"
#include "filestore/CoreWave.h"
#include "filestore/CoreWvfr.h"
#include "filestore/CoreWvfw.h"
#include "tests/filestore/FsysFixture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

using namespace fsystest;

constexpr int kRate = 48000;
constexpr int kWindowUs = 1000; // 48 samples
constexpr double kTone = 0.5, kSecond = 0.3, kSilence = 0.2;

class CoreEnvuFiles : public FsysFiles {
protected:
    void SetUp() override {
        FsysFiles::SetUp();
        store = std::make_unique<CoreFsys>(&pool, folder(), false);
    }
    void TearDown() override {
        store.reset();
        FsysFiles::TearDown();
    }
    // The first channel of a WAV file (the second, when asked, for a stereo one).
    std::vector<double> readWave(const std::string& name, int channel = 0) {
        CoreFsys reading(&pool, folder(), false);
        CoreWvfr reader(&pool, &reading, true);
        reader.open_(name.c_str());
        const int32_t n = reader.getdr(true);
        std::vector<std::vector<double>> both(2, std::vector<double>(size_t(n)));
        EXPECT_EQ(reader.getdt(n, both[0].data(), both[1].data()), n);
        return both[size_t(channel)];
    }
    void writeWave(const std::string& name, const std::vector<double>& left, bool stereo = true) {
        ASSERT_TRUE(CoreWvfw::exprt(&pool, at(name), stereo ? 2 : 1, kRate, int32_t(left.size()), left.data(),
                                    stereo ? left.data() : nullptr, true));
    }
    // A recording of count square-wave levels (0, -6, -12 dB ...) shaped like a compressor's output:
    // after each tone starts (or, withSecond, after the step down to the second tone) the level moves
    // linearly in dB by 12 dB over rampSeconds, then holds.
    std::vector<double> shaped(double rampSeconds, bool withSecond, int count, double startDb = 0.0) {
        CoreEnvu toolkit(&pool, store.get());
        toolkit.ctone("tones.wav", 0, kRate, withSecond, 10000, kTone, kSecond, kSilence, count, 6.0,
                      startDb);
        std::vector<double> samples = readWave("tones.wav");
        const int lead = int(kSilence * kRate), tone = int(kTone * kRate);
        const int second = withSecond ? int(kSecond * kRate) : 0, block = 2 * lead + tone + second;
        for (int i = 0; i < count; ++i) {
            const int from = i * block + lead + (withSecond ? tone : 0),
                      to = from + (withSecond ? second : tone);
            for (int k = from; k < to; ++k) {
                const double progress =
                    rampSeconds <= 0.0 ? 1.0 : std::min(1.0, (k - from) / (rampSeconds * kRate));
                samples[size_t(k)] *=
                    std::pow(10.0, (withSecond ? -12.0 * (1.0 - progress) : -12.0 * progress) / 20.0);
            }
        }
        return samples;
    }
    // Builds RESP/RESP.XML from rec.wav; the number of ELEMENTs in its vector, and the reported times.
    int build(bool withSecond, CoreHdco* container = nullptr, double startDb = 0.0) {
        CoreEnvu toolkit(&pool, store.get());
        report = "";
        toolkit.build("rec.wav", "RESP.WAV", withSecond, kWindowUs, kTone, kSecond, kSilence, 6.0, startDb,
                      false, "<VECTOR><COMMON><PARAMETER> LIQUID </PARAMETER></COMMON></VECTOR>", container,
                      report, container != nullptr, false);
        times.clear();
        const std::string text = str(report);
        for (size_t at = text.find(" = "); at != std::string::npos; at = text.find(" = ", at + 1))
            times.push_back(std::strtod(text.c_str() + at + 3, nullptr));
        vector = document.getff(at("RESP/RESP.XML"), false)->getcd("VECTOR");
        return vector->getcc("ELEMENT");
    }

    std::unique_ptr<CoreFsys> store;
    CoreAnsx report;
    std::vector<double> times;
    CoreXml_ document;
    CoreNode* vector = nullptr;
};

// (CSV and the second channel of a stereo WAV: the raw vectors' tests, which load through open_.)
TEST_F(CoreEnvuFiles, OpenReadsCsvInAnyCaseAndReleasesTheLastResponseWhenNothingLoads) {
    writeBytes(root / "resp.csv", "0.5;-0.25;1;");
    writeBytes(root / "mixed.Csv", "4;");
    writeBytes(root / "empty.csv", "no values here");
    writeBytes(root / "bad.wav", "RIFF....WAVEjunk");
    {
        CoreEnvu toolkit(&pool, store.get());
        for (auto [path, first] : {std::pair{"mixed.Csv", 4.0}, {"empty.csv", 0.0}, {"bad.wav", 0.0}}) {
            ASSERT_EQ(toolkit.open_("resp.csv"), 3);
            EXPECT_EQ(toolkit.open_(path), first > 0.0 ? 1 : 0) << path;
            EXPECT_EQ(toolkit.getim() ? toolkit.getim()->getwv(0)[0] : 0.0, first) << path;
        }
        EXPECT_EQ(CoreEnvu(&pool, nullptr).open_("resp.csv"), 0);
    }
    store->init_();
    EXPECT_EQ(pool.getma(), 0);
}

TEST(CoreEnvu, StartIsTheFirstSampleAboveMinus30Db) {
    const double quiet = std::pow(10.0, -60.0 / 20.0), loud = std::pow(10.0, -26.0 / 20.0);
    const struct {
        std::vector<double> samples;
        int32_t from, expected;
    } rows[] = {{{-1.0, -0.9}, 0, 2}, // negative samples count as silence
                {{quiet, quiet, loud, quiet}, 0, 2},
                {{loud, quiet, loud}, 1, 2},
                {{loud}, 5, 1},
                {{loud}, -3, 0}};
    for (const auto& r : rows) {
        int32_t start = r.from;
        CoreEnvu::tstrt(r.samples.data(), int32_t(r.samples.size()), start);
        EXPECT_EQ(start, r.expected) << r.from;
    }
}

TEST_F(CoreEnvuFiles, TestToneRecordingsHoldEachLevelInItsPlaceAndRefuseInvalidArguments) {
    CoreEnvu toolkit(&pool, store.get());
    toolkit.ctone("tones.wav", 2, 8000, true, 1000, 0.01, 0.005, 0.002, 3, 6.0, -3.0);
    const std::vector<double> left = readWave("TONES.WAV"); // found whatever its case
    EXPECT_EQ(readWave("tones.wav", 1), left);
    const int lead = 16, tone = 80, second = 40, block = 2 * lead + tone + second;
    ASSERT_EQ(left.size(), size_t(3 * block));
    for (int i = 0; i < 3; ++i) {
        const double a = std::pow(10.0, (-3.0 - 6.0 * i) / 20.0);
        for (int k = 0; k < block; ++k) {
            double expected = 0.0;
            if (k >= lead && k < lead + tone)
                expected = a * std::sin((k - lead) * M_PI / 4.0);
            else if (k >= lead + tone && k < lead + tone + second)
                expected = 0.1 * a * std::sin((k - lead - tone) * M_PI / 4.0);
            ASSERT_NEAR(left[size_t(i * block + k)], expected, 1e-6) << i << " " << k; // 32-bit float file
        }
    }
    for (const char* name : {"a.wav", "b.wav"})
        toolkit.ctone(name, 1, 8000, false, 1000, 0.01, 0.0, 0.001, 2, 6.0, 0.0);
    EXPECT_EQ(readBytes(root / "a.wav"), readBytes(root / "b.wav"));
    EXPECT_NE(readWave("a.wav")[10], 0.0);

    // Invalid arguments throw and write nothing.
    double buffer[40];
    int32_t position = 4;
    double amplitude = 0.5;
    const std::vector<std::function<void()>> calls = {
        [&] { CoreEnvu::ctone(&pool, 3, 1000, 8000, buffer, position, 31, amplitude); },
        [&] { CoreEnvu::ctone(&pool, 0, 0, 8000, buffer, position, 31, amplitude); },
        [&] { CoreEnvu::ctone(&pool, 0, 1000, 8000, buffer, position, 3, amplitude); },
        [&] { toolkit.ctone("x.wav", 7, 8000, false, 1000, 0.1, 0, 0.1, 2, 6, 0); },
        [&] { toolkit.ctone("x.wav", 0, 8000, false, 1000, 0.1, 0, 0.1, 0, 6, 0); },
        [&] { toolkit.ctone("x.wav", 0, 8000, false, 1000, 0.1, 0, 0.1, 2, NAN, 0); },
        [&] { toolkit.ctone("x.wav", 0, 8000, false, 1000, 0.1, 0, -0.1, 2, 6, 0); },
        [&] { toolkit.ctone("x.wav", 0, 8000, false, 1000, NAN, 0, 0.1, 2, 6, 0); },
        [&] { toolkit.ctone("x.wav", 0, 8000, true, 1000, 0.1, -1, 0.1, 2, 6, 0); },
        [&] { toolkit.ctone("x.wav", 0, 192000, false, 1000, 3000.0, 0, 0.1, 10, 6, 0); }, // beyond 2^31 - 1
        [&] { toolkit.ctone("nowhere/x.wav", 0, 8000, false, 1000, 0.1, 0, 0.1, 2, 6, 0); }};
    for (size_t i = 0; i < calls.size(); ++i) EXPECT_THROW(calls[i](), CoreAnsx) << i;
    EXPECT_FALSE(fs::exists(root / "x.wav"));
}

TEST_F(CoreEnvuFiles, BuildMeasuresTheSettlingTimeOfEachLevel) {
    const struct {
        const char* what;
        double ramp;
        bool withSecond;
        int levels;
        double startDb, low, high;
        bool container = false;
    } rows[] = {
        {"a fall over 50 ms into a container", 0.05, false, 2, 0.0, 0.015, 0.05, true},
        {"a fall over 50 ms", 0.05, false, 2, 0.0, 0.015, 0.05},
        {"a fall over 100 ms: twice the time", 0.1, false, 2, 0.0, 0.03, 0.1},
        {"the rise after the step to the second tone", 0.1, true, 2, 0.0, 0.03, 0.1},
        {"an instant step: at most two windows", 0.0, false, 2, 0.0, 0.0, 2 * kWindowUs * 1e-6 + 1e-12},
        // At -27 dB the tone is above the -30 dB start threshold; halving it (-33 dB) would hide it.
        {"one channel at its own level", 0.1, false, 1, -27.0, 0.03, 0.1}};
    std::vector<double> first;
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        writeWave("rec.wav", shaped(r.ramp, r.withSecond, r.levels, r.startDb), r.levels > 1);
        CoreHdco container(at("out.q7k"), false);
        ASSERT_EQ(build(r.withSecond, r.container ? &container : nullptr, r.startDb), r.levels);
        ASSERT_EQ(times.size(), size_t(r.levels)) << str(report);
        for (double t : times) EXPECT_TRUE(t >= r.low && t <= r.high) << t;
        if (r.ramp == 0.05) first = times;
        if (r.ramp == 0.1 && !r.withSecond && r.levels == 2) {
            EXPECT_NEAR(times[1] / first[1], 2.0, 0.2);
        }
        if (r.container) { // both items of every level, none beside the container
            CoreFsys items(&pool);
            ASSERT_TRUE(items.loada(at("out.q7k"), "0", false, nullptr));
            int32_t id = -1;
            const std::string name = str(items.llvel(3, id)), bytes = itemBytes(items, id);
            EXPECT_EQ(name.substr(name.rfind('/')) + " " + std::to_string(items.llvcn()),
                      "/RESP (-6.00 DB).Q7K 4");
            EXPECT_TRUE(bytes[20] == 3 && bytes[22] == 1 &&
                        bytes[34] == 64); // IEEE float, one channel, 64 bits
            EXPECT_FALSE(fs::exists(root / "RESP" / "RESP (0.00 dB).WAV"));
        }
        // After the elements: COMMON with the limits (none for one level), then what the template adds.
        const CoreNode* common = vector->getcd("COMMON");
        EXPECT_EQ(str(common->getlc("BUSMINVALUE").Trim()) + str(common->getlc("PARAMETER").Trim()),
                  r.levels > 1 ? "-192.64LIQUID" : "0LIQUID");
    }
    // The last level as files: its element, its report line, the time as CSV, and time + curve (loudest
    // window 0, quietest 1) as a WAV.
    const std::string name = "RESP (-27.00 dB)";
    EXPECT_EQ(str(vector->getcd("ELEMENT")->getlc("FILENAME").Trim()) +
                  str(vector->getcd("ELEMENT")->getlc("WEIGHT").Trim()),
              name + ".WAV-27");
    EXPECT_NE(str(report).find("Value (-27.00 dB) = "), std::string::npos);
    EXPECT_EQ(std::strtod(readBytes(root / "RESP" / (name + ".WAV")).c_str(), nullptr), times[0]);
    const std::vector<double> curve = readWave("RESP/" + name + ".Q7K");
    ASSERT_EQ(curve.size(), size_t(std::floor(times[0] * 1e6 / kWindowUs + 1e-9)) + 1);
    EXPECT_TRUE(std::fabs(curve[0] - times[0]) < 1e-6 && curve[1] < 0.2 && curve.back() > 0.6 &&
                curve.back() <= 1.0);

    writeWave("rec.wav", std::vector<double>(1000, 0.5));
    EXPECT_EQ(build(false), 0); // a vector file without elements
    EXPECT_EQ(str(report), "");
}

TEST_F(CoreEnvuFiles, InvalidArgumentsAndUnwritableLevelsWriteNothing) {
    const std::vector<double> samples = shaped(0.05, false, 1);
    CoreEnvu toolkit(&pool, store.get());
    const struct {
        int32_t rate, window;
        double tone, silence;
    } rows[] = {{0, kWindowUs, kTone, kSilence},     {kRate, 0, kTone, kSilence},
                {kRate, kWindowUs, 0.0, kSilence},   {kRate, kWindowUs, kTone, -0.1},
                {kRate, kWindowUs, 0.009, kSilence}, // a tone of 9 windows
                {kRate, 10, kTone, kSilence},        // a window below a sample
                {kRate, kWindowUs, 5.0, kSilence}};  // a tone beyond the block
    for (const auto& r : rows)
        EXPECT_EQ(toolkit.build(samples.data(), int32_t(samples.size()), r.rate, at("M.WAV"), false, r.window,
                                r.tone, 0.0, r.silence, false, nullptr, false, false, 0),
                  0.0)
            << r.rate << " " << r.window << " " << r.tone;
    EXPECT_EQ(toolkit.build(nullptr, 100, kRate, at("M.WAV"), false, kWindowUs, kTone, 0.0, kSilence, false,
                            nullptr, false, false, 0),
              0.0);
    EXPECT_FALSE(fs::exists(root / "M.WAV") || fs::exists(root / "M.Q7K"));

    // The recording form writes nothing at all, not even the vector file.
    writeWave("rec.wav", samples);
    toolkit.build("rec.wav", "BAD.WAV", false, 0, kTone, 0.0, kSilence, 6.0, 0.0, false, "0", nullptr, report,
                  false, false);
    EXPECT_FALSE(fs::exists(root / "BAD"));
    EXPECT_EQ(str(report), "");
    EXPECT_EQ(pool.getma(), 0);

    // A folder where the second level's curve file belongs makes its write fail: that level is left out.
    writeWave("rec.wav", shaped(0.05, false, 2));
    fs::create_directories(root / "RESP" / "RESP (-6.00 dB).Q7K" / "keep");
    ASSERT_EQ(build(false), 1);
    EXPECT_EQ(str(vector->getcd("ELEMENT")->getlc("FILENAME").Trim()) + " " + std::to_string(times.size()),
              "RESP (0.00 dB).WAV 1");
    EXPECT_NE(log().find("measurement not written"), std::string::npos);
}

} // namespace
