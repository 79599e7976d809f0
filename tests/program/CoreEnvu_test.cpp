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

#include <algorithm>
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

    // Both channels of a WAV file (the second empty for one channel).
    std::vector<std::vector<double>> readWave(const std::string& name, int* rate = nullptr) {
        CoreFsys reading(&pool, folder(), false);
        CoreWvfr reader(&pool, &reading, true);
        reader.open_(name.c_str());
        const int32_t n = reader.getdr(true);
        std::vector<std::vector<double>> channels(2, std::vector<double>(static_cast<size_t>(n)));
        EXPECT_EQ(reader.getdt(n, channels[0].data(), channels[1].data()), n);
        if (reader.getca() < 2) channels[1].clear();
        if (rate) *rate = reader.getrr();
        reader.close();
        return channels;
    }
    void writeStereo(const std::string& name, const std::vector<double>& left,
                     const std::vector<double>& right) {
        ASSERT_TRUE(CoreWvfw::exprt(&pool, at(name), 2, kRate, static_cast<int32_t>(left.size()), left.data(),
                                    right.data(), true));
    }
    void writeMono(const std::string& name, const std::vector<double>& samples) {
        ASSERT_TRUE(CoreWvfw::exprt(&pool, at(name), 1, kRate, static_cast<int32_t>(samples.size()),
                                    samples.data(), nullptr, true));
    }

    // A square-wave recording of count levels (0, -6, -12 dB ...) shaped like a compressor's output:
    // after each tone starts (or, withSecond, after the step down to the second tone) the level moves
    // linearly in dB by 12 dB over rampSeconds, then holds.
    std::vector<double> shapedRecording(double rampSeconds, bool withSecond, int count,
                                        double startDb = 0.0) {
        CoreEnvu toolkit(&pool, store.get());
        toolkit.ctone("tones.wav", 0, kRate, withSecond, 10000, kTone, kSecond, kSilence, count, 6.0,
                      startDb);
        std::vector<double> samples = readWave("tones.wav")[0];
        const int lead = static_cast<int>(kSilence * kRate);
        const int tone = static_cast<int>(kTone * kRate);
        const int second = withSecond ? static_cast<int>(kSecond * kRate) : 0;
        const int block = 2 * lead + tone + second;
        const double ramp = rampSeconds * kRate;
        for (int i = 0; i < count; ++i) {
            const int from = i * block + lead + (withSecond ? tone : 0);
            const int to = from + (withSecond ? second : tone);
            for (int k = from; k < to; ++k) {
                const double progress = ramp <= 0.0 ? 1.0 : std::min(1.0, (k - from) / ramp);
                const double gainDb = withSecond ? -12.0 * (1.0 - progress) : -12.0 * progress;
                samples[k] *= std::pow(10.0, gainDb / 20.0);
            }
        }
        return samples;
    }

    struct Result { CoreAnsx report; CoreXml_ document; CoreNode* vector = nullptr; };
    void runBuild(Result& result, const std::string& recording, bool withSecond,
                  CoreHdco* container = nullptr, double startDb = 0.0, bool noOutput = false,
                  bool sixtyFourBit = false) {
        CoreEnvu toolkit(&pool, store.get());
        result.report = "";
        toolkit.build(recording.c_str(), "RESP.WAV", withSecond, kWindowUs, kTone, kSecond, kSilence, 6.0,
                      startDb, false, "<VECTOR><COMMON><PARAMETER> LIQUID </PARAMETER></COMMON></VECTOR>",
                      container, result.report, sixtyFourBit, noOutput);
        CoreNode* root = result.document.getff(at("RESP/RESP.XML"), false);
        ASSERT_NE(root, nullptr);
        result.vector = root->getcd("VECTOR");
        ASSERT_NE(result.vector, nullptr);
    }
    static std::vector<CoreNode*> elements(const CoreNode* vector) {
        std::vector<CoreNode*> found;
        CoreTlst* children = vector->getcn();
        for (int i = 0; children && i < children->Count; ++i) {
            auto* child = static_cast<CoreNode*>(children->Items[i]);
            if (str(child->gettx()) == "ELEMENT") found.push_back(child);
        }
        return found;
    }
    // The times of the report's lines, in order.
    static std::vector<double> times(const CoreAnsx& report) {
        std::vector<double> values;
        const std::string text = str(report);
        for (size_t at = text.find(" = "); at != std::string::npos; at = text.find(" = ", at + 1))
            values.push_back(std::strtod(text.c_str() + at + 3, nullptr));
        return values;
    }

    std::unique_ptr<CoreFsys> store;
};

TEST_F(CoreEnvuFiles, OpenReadsCsvInAnyCaseAndWavByItsChannelsAndLoadsNothingElse) {
    writeBytes(root / "resp.csv", "0.5;-0.25;1;");
    writeBytes(root / "UPPER.CSV", "2;3;");
    writeBytes(root / "mixed.Csv", "4;");
    writeBytes(root / "empty.csv", "no values here");
    writeBytes(root / "bad.wav", "RIFF....WAVEjunk");
    writeMono("mono.wav", {0.1, 0.2, 0.3, 0.4});
    writeStereo("stereo.wav", {0.1, 0.2, 0.3}, {-0.5, -0.6, -0.7});
    struct Row { const char* path; std::vector<double> loaded; };
    const Row rows[] = {{"resp.csv", {0.5, -0.25, 1}},
                        {"UPPER.CSV", {2, 3}},
                        {"mixed.Csv", {4}},
                        {"mono.wav", {0.1, 0.2, 0.3, 0.4}},
                        {"stereo.wav", {-0.5, -0.6, -0.7}}, // the second channel
                        {"missing.csv", {}},
                        {"missing.wav", {}},
                        {"empty.csv", {}},
                        {"bad.wav", {}},
                        {"", {}}};
    {
        CoreEnvu toolkit(&pool, store.get());
        EXPECT_EQ(toolkit.getim(), nullptr);
        for (const Row& r : rows) {
            ASSERT_EQ(toolkit.open_("resp.csv"), 3); // a failed open also releases the previous response
            ASSERT_EQ(toolkit.open_(r.path), static_cast<int32_t>(r.loaded.size())) << r.path;
            CoreWave* response = toolkit.getim();
            ASSERT_EQ(response != nullptr, !r.loaded.empty()) << r.path;
            if (!response) continue;
            ASSERT_EQ(response->getch(), 1);
            EXPECT_EQ(std::vector<double>(response->getwv(0), response->getwv(0) + response->getdm()),
                      r.loaded)
                << r.path;
        }
        toolkit.close();
        EXPECT_EQ(toolkit.getim(), nullptr);
        toolkit.close();
        CoreEnvu orphan(&pool, nullptr);
        EXPECT_EQ(orphan.open_("resp.csv"), 0);
    }
    store->init_();
    EXPECT_EQ(pool.getma(), 0);
}

TEST(CoreEnvu, StartIsTheFirstSampleAboveMinus30Db) {
    const double quiet = std::pow(10.0, -60.0 / 20.0), loud = std::pow(10.0, -26.0 / 20.0);
    const double justBelow = std::pow(10.0, -30.5 / 20.0);
    const struct {
        const char* what;
        std::vector<double> samples;
        int32_t from;
        int32_t expected;
    } cases[] = {{"negative only", {-1.0, -0.9, -0.5}, 0, 3},
                 {"-60 then -26 dB", {quiet, quiet, loud, quiet}, 0, 2},
                 {"just below the range", {quiet, justBelow, 0.0}, 0, 3},
                 {"from an index", {loud, quiet, loud}, 1, 2},
                 {"start beyond n", {loud}, 5, 1},
                 {"negative start", {loud}, -3, 0},
                 {"empty", {}, 0, 0}};
    for (const auto& c : cases) {
        int32_t start = c.from;
        CoreEnvu::tstrt(c.samples.data(), static_cast<int32_t>(c.samples.size()), start);
        EXPECT_EQ(start, c.expected) << c.what;
    }
}

TEST(CoreEnvu, ToneSegmentsRefuseInvalidArguments) {
    CorePool pool;
    double buffer[40];
    int32_t position = 4;
    double amplitude = 0.5;
    for (auto bad : std::vector<std::function<void()>>{
             [&] { CoreEnvu::ctone(&pool, 0, 0, 8000, buffer, position, 31, amplitude); },
             [&] { CoreEnvu::ctone(&pool, 0, 1000, 0, buffer, position, 31, amplitude); },
             [&] { CoreEnvu::ctone(&pool, 3, 1000, 8000, buffer, position, 31, amplitude); },
             [&] { CoreEnvu::ctone(&pool, 0, 1000, 8000, buffer, position, 3, amplitude); }})
        EXPECT_THROW(bad(), CoreAnsx);
}

TEST_F(CoreEnvuFiles, TestToneRecordingHoldsEachLevelInItsPlace) {
    CoreEnvu toolkit(&pool, store.get());
    toolkit.ctone("tones.wav", 2, 8000, true, 1000, 0.01, 0.005, 0.002, 3, 6.0, -3.0);
    int rate = 0;
    const auto channels = readWave("TONES.WAV", &rate); // found whatever its case
    EXPECT_EQ(rate, 8000);
    const int lead = 16, tone = 80, second = 40, block = 2 * lead + tone + second;
    ASSERT_EQ(channels[0].size(), static_cast<size_t>(3 * block));
    ASSERT_EQ(channels[1], channels[0]);
    for (int i = 0; i < 3; ++i) {
        const double a = std::pow(10.0, (-3.0 - 6.0 * i) / 20.0);
        for (int k = 0; k < block; ++k) {
            double expected = 0.0;
            if (k >= lead && k < lead + tone)
                expected = a * std::sin((k - lead) * M_PI / 4.0);
            else if (k >= lead + tone && k < lead + tone + second)
                expected = 0.1 * a * std::sin((k - lead - tone) * M_PI / 4.0);
            ASSERT_NEAR(channels[0][i * block + k], expected, 1e-6) << i << " " << k; // 32-bit float file
        }
    }
}

TEST_F(CoreEnvuFiles, NoiseToneReproducesWithTheSameSeed) {
    CoreEnvu toolkit(&pool, store.get());
    for (const char* name : {"a.wav", "b.wav"}) {
        std::srand(99);
        toolkit.ctone(name, 1, 8000, false, 1000, 0.01, 0.0, 0.001, 2, 6.0, 0.0);
    }
    EXPECT_EQ(readBytes(root / "a.wav"), readBytes(root / "b.wav"));
    EXPECT_NE(readWave("a.wav")[0][10], 0.0);
}

TEST_F(CoreEnvuFiles, InvalidToneArgumentsThrowAndWriteNothing) {
    CoreEnvu toolkit(&pool, store.get());
    const std::vector<std::function<void()>> calls = {
        [&] { toolkit.ctone("x.wav", 0, 0, false, 1000, 0.1, 0, 0.1, 2, 6, 0); },
        [&] { toolkit.ctone("x.wav", 0, 8000, false, 0, 0.1, 0, 0.1, 2, 6, 0); },
        [&] { toolkit.ctone("x.wav", 0, 8000, false, 1000, 0.0, 0, 0.1, 2, 6, 0); },
        [&] { toolkit.ctone("x.wav", 0, 8000, false, 1000, 0.1, 0, -0.1, 2, 6, 0); },
        [&] { toolkit.ctone("x.wav", 0, 8000, false, 1000, 0.1, 0, 0.1, 0, 6, 0); },
        [&] { toolkit.ctone("x.wav", 0, 8000, true, 1000, 0.1, -1, 0.1, 2, 6, 0); },
        [&] { toolkit.ctone("x.wav", 7, 8000, false, 1000, 0.1, 0, 0.1, 2, 6, 0); },
        [&] { toolkit.ctone("x.wav", 0, 8000, false, 1000, NAN, 0, 0.1, 2, 6, 0); },
        [&] { toolkit.ctone("x.wav", 0, 192000, false, 1000, 3000.0, 0, 0.1, 10, 6, 0); }, // beyond 2^31 - 1
        [&] { toolkit.ctone("nowhere/x.wav", 0, 8000, false, 1000, 0.1, 0, 0.1, 2, 6, 0); }};
    for (size_t i = 0; i < calls.size(); ++i) EXPECT_THROW(calls[i](), CoreAnsx) << i;
    EXPECT_FALSE(fs::exists(root / "x.wav"));
    EXPECT_EQ(pool.getma(), 0);
}

TEST_F(CoreEnvuFiles, BuildMeasuresTheSettlingTimeOfEachLevel) {
    double first[3] = {};
    const char* names[3] = {"RESP (0.00 dB).WAV", "RESP (-6.00 dB).WAV", "RESP (-12.00 dB).WAV"};
    const char* weights[3] = {"0", "-6", "-12"};
    for (double ramp : {0.05, 0.1}) {
        writeStereo("rec.wav", shapedRecording(ramp, false, 3), shapedRecording(ramp, false, 3));
        Result result;
        runBuild(result, "rec.wav", false);
        const std::vector<CoreNode*> found = elements(result.vector);
        const std::vector<double> reported = times(result.report);
        ASSERT_EQ(found.size(), 3u);
        ASSERT_EQ(reported.size(), 3u) << str(result.report);
        for (int i = 0; i < 3; ++i) {
            EXPECT_EQ(str(found[i]->getlc("FILENAME").Trim()), names[i]);
            EXPECT_EQ(str(found[i]->getlc("WEIGHT").Trim()), weights[i]);
            EXPECT_EQ(str(found[i]->getlc("BUSWEIGHT").Trim()), weights[i]);
            EXPECT_TRUE(reported[i] >= 0.3 * ramp && reported[i] <= ramp) << i << ": " << reported[i];
            if (ramp == 0.05)
                first[i] = reported[i];
            else
                EXPECT_NEAR(reported[i] / first[i], 2.0, 0.2) << i; // twice the ramp, twice the time
            EXPECT_NE(str(result.report).find(std::string("Value (") + weights[i] + ".00 dB) = "),
                      std::string::npos);
            // The outputs as files: the time as CSV, and time + curve as a float WAV.
            EXPECT_EQ(std::strtod(readBytes(root / "RESP" / names[i]).c_str(), nullptr), reported[i]);
            std::string q7k = std::string("RESP/") + names[i];
            const auto curve = readWave(q7k.replace(q7k.size() - 4, 4, ".Q7K"))[0];
            ASSERT_EQ(curve.size(),
                      static_cast<size_t>(std::floor(reported[i] * 1e6 / kWindowUs + 1e-9)) + 1);
            EXPECT_NEAR(curve[0], reported[i], 1e-6);
            EXPECT_TRUE(*std::min_element(curve.begin() + 1, curve.end()) >= 0.0 &&
                        *std::max_element(curve.begin() + 1, curve.end()) <= 1.0);
            EXPECT_LT(curve[1], 0.2);     // the loudest window comes first on a falling level
            EXPECT_GT(curve.back(), 0.6); // and the quietest last
        }
        // After the elements: COMMON with the limits, then what the template adds.
        const CoreNode* common = result.vector->getcd("COMMON");
        ASSERT_NE(common, nullptr);
        for (const char* limit : {"MAXVALUE", "MINVALUE", "BUSMAXVALUE", "BUSMINVALUE", "PARAMETER"})
            EXPECT_EQ(str(common->getlc(limit).Trim()), std::string(limit).find("MIN") != std::string::npos
                                                            ? "-192.64"
                                                        : std::string(limit) == "PARAMETER" ? "LIQUID"
                                                                                            : "0")
                << limit;
    }
}

TEST_F(CoreEnvuFiles, BuildMeasuresRisesSteppedOneChannelAndShortRecordings) {
    struct Row {
        const char* what;
        double ramp;
        bool withSecond;
        int levels;
        double startDb;
        bool mono;
        double low, high;
    };
    const Row rows[] = {
        {"the rise after the step to the second tone", 0.1, true, 2, 0.0, false, 0.03, 0.1},
        {"an instant step: at most two windows", 0.0, false, 2, 0.0, false, 0.0,
         2 * kWindowUs * 1e-6 + 1e-12},
        // At -27 dB the tone is above the -30 dB start threshold; halving it (-33 dB) would hide it.
        {"one channel at its own level", 0.1, false, 1, -27.0, true, 0.03, 0.1}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        const std::vector<double> recording = shapedRecording(r.ramp, r.withSecond, r.levels, r.startDb);
        if (r.mono)
            writeMono("rec.wav", recording);
        else
            writeStereo("rec.wav", recording, recording);
        Result result;
        runBuild(result, "rec.wav", r.withSecond, nullptr, r.startDb);
        ASSERT_EQ(elements(result.vector).size(), size_t(r.levels));
        const std::vector<double> reported = times(result.report);
        ASSERT_EQ(reported.size(), size_t(r.levels));
        for (double t : reported) EXPECT_TRUE(t >= r.low && t <= r.high) << t;
        // One level has no limits block (the template's COMMON holds only its own entry).
        EXPECT_EQ(result.vector->getcd("COMMON")->exsnc("MAXVALUE"), r.levels > 1);
    }
    writeStereo("short.wav", std::vector<double>(1000, 0.5), std::vector<double>(1000, 0.5));
    Result result;
    runBuild(result, "short.wav", false); // a vector file without elements
    EXPECT_TRUE(elements(result.vector).empty());
    EXPECT_EQ(str(result.report), "");
}

TEST_F(CoreEnvuFiles, ContainerReceivesBothItemsOfEveryLevel) {
    writeStereo("rec.wav", shapedRecording(0.05, false, 2), shapedRecording(0.05, false, 2));
    CoreHdco container(at("out.q7k"), false);
    Result result;
    runBuild(result, "rec.wav", false, &container, 0.0, false, true);
    ASSERT_EQ(elements(result.vector).size(), 2u);
    EXPECT_FALSE(fs::exists(root / "RESP" / "RESP (0.00 dB).WAV")); // no loose files beside the container
    CoreFsys reading(&pool);
    ASSERT_TRUE(reading.loada(at("out.q7k"), "0", false, nullptr));
    ASSERT_EQ(reading.llvcn(), 4);
    const std::vector<double> reported = times(result.report);
    for (int i = 0; i < 4; ++i) {
        int32_t id = -1;
        const std::string name = str(reading.llvel(i, id)), bytes = itemBytes(reading, id);
        const std::string suffix =
            std::string(i < 2 ? "/RESP (0.00 DB)" : "/RESP (-6.00 DB)") + (i % 2 ? ".Q7K" : ".WAV");
        EXPECT_EQ(name.substr(name.size() - std::min(name.size(), suffix.size())), suffix);
        if (i % 2 == 0) {
            EXPECT_EQ(std::strtod(bytes.c_str(), nullptr), reported[i / 2]);
        } else { // an IEEE-float, one-channel WAV of 64-bit samples, as asked
            EXPECT_TRUE(bytes.size() > 44 && bytes.substr(0, 4) == "RIFF" && bytes[20] == 3 &&
                        bytes[22] == 1 && bytes[34] == 64);
        }
    }
}

TEST_F(CoreEnvuFiles, LevelsWhoseFilesCannotBeWrittenAreLeftOut) {
    writeStereo("rec.wav", shapedRecording(0.05, false, 2), shapedRecording(0.05, false, 2));
    // A folder where the second level's curve file belongs makes its write fail.
    fs::create_directories(root / "RESP" / "RESP (-6.00 dB).Q7K");
    writeBytes(root / "RESP" / "RESP (-6.00 dB).Q7K" / "keep", "x");
    Result result;
    runBuild(result, "rec.wav", false);
    const std::vector<CoreNode*> found = elements(result.vector);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(str(found[0]->getlc("FILENAME").Trim()), "RESP (0.00 dB).WAV");
    EXPECT_EQ(times(result.report).size(), 1u);
    EXPECT_NE(log().find("measurement not written"), std::string::npos);
}

TEST_F(CoreEnvuFiles, InvalidMeasurementArgumentsWriteNothing) {
    const std::vector<double> samples = shapedRecording(0.05, false, 1);
    CoreEnvu toolkit(&pool, store.get());
    const CoreAnsx name = at("M.WAV");
    const struct {
        const char* what;
        int32_t rate, window;
        double tone, silence;
    } cases[] = {{"rate 0", 0, kWindowUs, kTone, kSilence},
                 {"window 0", kRate, 0, kTone, kSilence},
                 {"tone 0", kRate, kWindowUs, 0.0, kSilence},
                 {"negative silence", kRate, kWindowUs, kTone, -0.1},
                 {"tone of 9 windows", kRate, kWindowUs, 0.009, kSilence},
                 {"window below a sample", kRate, 10, kTone, kSilence},
                 {"tone beyond the block", kRate, kWindowUs, 5.0, kSilence}};
    for (const auto& c : cases) {
        EXPECT_EQ(toolkit.build(samples.data(), static_cast<int32_t>(samples.size()), c.rate, name, false,
                                c.window, c.tone, 0.0, c.silence, false, nullptr, false, false, 0),
                  0.0)
            << c.what;
    }
    EXPECT_EQ(toolkit.build(nullptr, 100, kRate, name, false, kWindowUs, kTone, 0.0, kSilence, false, nullptr,
                            false, false, 0),
              0.0);
    EXPECT_FALSE(fs::exists(root / "M.WAV"));
    EXPECT_FALSE(fs::exists(root / "M.Q7K"));

    // The recording form writes nothing at all, not even the vector file.
    writeStereo("rec.wav", samples, samples);
    CoreAnsx report = "";
    toolkit.build("rec.wav", "BAD.WAV", false, 0, kTone, 0.0, kSilence, 6.0, 0.0, false, "0", nullptr, report,
                  false, false);
    EXPECT_FALSE(fs::exists(root / "BAD"));
    EXPECT_EQ(str(report), "");
    EXPECT_EQ(pool.getma(), 0);
}

} // namespace
