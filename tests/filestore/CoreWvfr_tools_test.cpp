// The WAV reader and writers against independent tools: files made by sox are read back, and the
// files our writers make are read by sox and by a stdlib-only Python script. Each test is skipped
// when its tool is absent.
#include "filestore/CoreWvfr.h"

#include "FsysFixture.h"
#include "WavBytes.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreWavs.h"
#include "filestore/CoreWvfw.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <vector>

namespace {

using namespace fsystest;

bool hasTool(const std::string& tool) {
    return std::system(("command -v " + tool + " > /dev/null 2>&1").c_str()) == 0;
}

std::string run(const std::string& command) {
    std::string output;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return output;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    pclose(pipe);
    return output;
}

std::string quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

std::vector<double> tone(int n, double amplitude, double cycles, double phase) {
    std::vector<double> x(n);
    for (int i = 0; i < n; ++i) x[i] = amplitude * std::sin(2 * M_PI * cycles * i / n + phase);
    return x;
}

class WavTools : public FsysFiles {};

TEST_F(WavTools, SoxMadeFilesReadBack) {
    if (!hasTool("sox")) GTEST_SKIP() << "sox is not installed";
    const int n = 4000;
    const std::vector<double> left = tone(n, 0.9, 37, 0.1), right = tone(n, 0.7, 11, 1.3);
    struct Encoding {
        const char* options;
        int bits;
        bool isFloat;
    };
    const Encoding encodings[] = {
        {"-e unsigned-integer -b 8", 8, false}, {"-e signed-integer -b 16", 16, false},
        {"-e signed-integer -b 24", 24, false}, {"-e signed-integer -b 32", 32, false},
        {"-e floating-point -b 32", 32, true},  {"-e floating-point -b 64", 64, true}};
    CoreFsys disk(&pool, folder(), false);
    for (int16_t channels : {int16_t(1), int16_t(2)}) {
        CoreWavs reference(&pool, channels, 44100, n, true);
        reference.setdt(n, left.data(), right.data());
        ASSERT_TRUE(reference.write(at("ref.wav")));
        for (const Encoding& e : encodings) {
            SCOPED_TRACE(testing::Message() << e.options << ", " << channels << " channels");
            const fs::path made = root / "made.wav";
            ASSERT_EQ(
                std::system(
                    ("sox -D " + quoted(root / "ref.wav") + " " + e.options + " " + quoted(made)).c_str()),
                0);
            disk.init_();
            CoreWvfr reader(&pool, &disk, false);
            std::vector<double> l(n), r(n);
            reader.open_("MADE.WAV");
            EXPECT_EQ(reader.getca(), channels);
            EXPECT_EQ(reader.getrr(), 44100);
            ASSERT_EQ(reader.getdt(n, l.data(), r.data()), n);
            // Integers: 2 LSB (sox scales by 2^(b-1), the reader by 2^(b-1) - 1). Floats: single precision
            // at full scale (sox passes every sample through a 32-bit integer).
            const double tolerance = !e.isFloat     ? 2.0 / std::ldexp(1.0, e.bits - 1)
                                     : e.bits == 32 ? 0x1p-24
                                                    : 0x1p-30;
            for (int i = 0; i < n; ++i) {
                ASSERT_LE(std::fabs(l[i] - left[i]), tolerance) << i;
                if (channels == 2) {
                    ASSERT_LE(std::fabs(r[i] - right[i]), tolerance) << i;
                }
            }
        }
    }
}

struct Written {
    fs::path path;
    int16_t channels;
    int32_t rate;
    bool double64;
    std::vector<double> samples; // interleaved, as stored
};

std::vector<Written> writeAll(CorePool& pool, const fs::path& root) {
    const int n = 3000;
    const std::vector<double> left = tone(n, 0.8, 23, 0.3), right = tone(n, 0.4, 5, 2.0);
    std::vector<Written> files;
    int index = 0;
    for (bool streamed : {false, true}) {
        for (bool double64 : {false, true}) {
            for (int16_t channels : {int16_t(1), int16_t(2)}) {
                for (int32_t rate : {44100, 96000}) {
                    Written w{root / ("w" + std::to_string(index++) + ".wav"), channels, rate, double64, {}};
                    const CoreAnsx name(w.path.c_str());
                    if (streamed) {
                        EXPECT_TRUE(CoreWvfw::exprt(&pool, name, channels, rate, n, left.data(), right.data(),
                                                    double64));
                    } else {
                        CoreWavs image(&pool, channels, rate, n, double64);
                        image.setdt(n, left.data(), right.data());
                        EXPECT_TRUE(image.write(name));
                    }
                    for (int i = 0; i < n; ++i) {
                        for (int c = 0; c < channels; ++c) {
                            const double v = c == 0 ? left[i] : right[i];
                            w.samples.push_back(double64 ? v : static_cast<double>(static_cast<float>(v)));
                        }
                    }
                    files.push_back(w);
                }
            }
        }
    }
    return files;
}

TEST_F(WavTools, SoxReadsOurFiles) {
    if (!hasTool("sox")) GTEST_SKIP() << "sox is not installed";
    for (const Written& w : writeAll(pool, root)) {
        SCOPED_TRACE(w.path.string());
        EXPECT_EQ(std::stoi(run("sox --i -c " + quoted(w.path))), w.channels);
        EXPECT_EQ(std::stoi(run("sox --i -r " + quoted(w.path))), w.rate);
        EXPECT_EQ(std::stol(run("sox --i -s " + quoted(w.path))),
                  static_cast<long>(w.samples.size() / w.channels));
        const std::string raw = run("sox " + quoted(w.path) + " -t f64 -");
        ASSERT_EQ(raw.size(), w.samples.size() * 8);
        for (size_t i = 0; i < w.samples.size(); ++i) {
            double v;
            std::memcpy(&v, raw.data() + 8 * i, 8);
            ASSERT_NEAR(v, w.samples[i], 0x1p-30) << i;
        }
    }
}

TEST_F(WavTools, PythonReadsOurFilesBitForBit) {
    // The script sits beside this source file (the build passes sources by absolute path).
    const fs::path script = fs::path(__FILE__).parent_path() / "wav_fields.py";
    if (!fs::exists(script) || !hasTool("python3")) GTEST_SKIP() << "python3 or the script is missing";
    for (const Written& w : writeAll(pool, root)) {
        SCOPED_TRACE(w.path.string());
        std::istringstream lines(run("python3 " + quoted(script) + " " + quoted(w.path)));
        int tag, channels, rate, byteRate, blockAlign, bits;
        long dataSize, riffSize;
        ASSERT_TRUE(lines >> tag >> channels >> rate >> byteRate >> blockAlign >> bits >> dataSize >>
                    riffSize);
        const int width = w.double64 ? 8 : 4;
        EXPECT_EQ(tag, 3);
        EXPECT_EQ(channels, w.channels);
        EXPECT_EQ(rate, w.rate);
        EXPECT_EQ(byteRate, w.rate * w.channels * width);
        EXPECT_EQ(blockAlign, w.channels * width);
        EXPECT_EQ(bits, 8 * width);
        EXPECT_EQ(dataSize, static_cast<long>(w.samples.size()) * width);
        EXPECT_EQ(riffSize, dataSize + 36);
        std::string hex;
        for (size_t i = 0; i < w.samples.size(); ++i) {
            ASSERT_TRUE(lines >> hex) << i;
            const uint64_t bitsRead = std::stoull(hex, nullptr, 16);
            uint64_t expected = 0;
            if (w.double64) {
                std::memcpy(&expected, &w.samples[i], 8);
            } else {
                const float f = static_cast<float>(w.samples[i]);
                uint32_t b32;
                std::memcpy(&b32, &f, 4);
                expected = b32;
            }
            ASSERT_EQ(bitsRead, expected) << i;
        }
        EXPECT_FALSE(lines >> hex);
    }
}

} // namespace
