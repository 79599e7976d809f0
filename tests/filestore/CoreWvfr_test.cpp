#include "filestore/CoreWvfr.h"

#include "FsysFixture.h"
#include "WavBytes.h"
#include "base/CoreButl.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreRtcv.h"
#include "filestore/CoreWavs.h"
#include "filestore/CoreWvfw.h"
#include "filestore/DataRtcv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

using namespace fsystest;
using wavtest::Chunk;
using wavtest::fmtBody;
using wavtest::le16;
using wavtest::le32;
using wavtest::riff;

constexpr double kCanary = -12345.0;

// A reader over an in-memory item "X.WAV" holding the given bytes.
struct MemoryWav {
    explicit MemoryWav(const std::string& bytes) : store(&pool), reader(&pool, &store, false) { set(bytes); }
    void set(const std::string& bytes) {
        const int32_t id = store.crtit("X.WAV");
        store.setit(id, bytes.data(), static_cast<int32_t>(bytes.size()), CoreAnsx(""), true, false);
    }
    CorePool pool;
    CoreFsys store;
    CoreWvfr reader;
};

struct Samples {
    std::vector<double> left, right;
};

// Opens X.WAV and reads every frame into arrays of getdw() frames followed by
// canaries.
Samples readAll(CoreWvfr& reader, int32_t* delivered = nullptr) {
    reader.open_("X.WAV");
    const int32_t room = reader.getdw();
    Samples s{std::vector<double>(room + 4, kCanary), std::vector<double>(room + 4, kCanary)};
    const int32_t got = reader.getdt(room, s.left.data(), s.right.data());
    if (delivered) *delivered = got;
    for (int i = room; i < room + 4; ++i) {
        EXPECT_EQ(s.left[i], kCanary);
        EXPECT_EQ(s.right[i], kCanary);
    }
    s.left.resize(got);
    s.right.resize(got);
    reader.close();
    return s;
}

std::string randomBytes(size_t n, unsigned seed) {
    std::mt19937 generator(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(generator() & 0xFF);
    return s;
}

TEST(CoreWvfr, SixteenBitValuesEqualTheSharedDecoderForEveryCode) {
    std::string data;
    for (int v = 0; v < 65536; ++v) data += le16(static_cast<uint16_t>(v));
    MemoryWav wav(wavtest::simple(1, 2, 44100, 16, data));
    const Samples s = readAll(wav.reader);
    ASSERT_EQ(s.left.size(), 32768u);
    for (int frame = 0; frame < 32768; ++frame) {
        ASSERT_EQ(s.left[frame], CoreButl::dbfch(data.data(), 4 * frame, 2)) << frame;
        ASSERT_EQ(s.right[frame], CoreButl::dbfch(data.data(), 4 * frame + 2, 2)) << frame;
    }
}

TEST(CoreWvfr, EightAndTwentyFourBitValuesEqualTheSharedDecoder) {
    for (int bytes : {1, 3}) {
        for (int channels : {1, 2}) {
            SCOPED_TRACE(testing::Message() << bytes << " bytes, " << channels << " channels");
            const std::string data = randomBytes(3000 * bytes * channels, 11u + bytes);
            MemoryWav wav(wavtest::simple(1, channels, 48000, 8 * bytes, data));
            const Samples s = readAll(wav.reader);
            ASSERT_EQ(s.left.size(), 3000u);
            const int frame = bytes * channels;
            for (int i = 0; i < 3000; ++i) {
                ASSERT_EQ(s.left[i], CoreButl::dbfch(data.data(), frame * i, bytes)) << i;
                if (channels == 2) {
                    ASSERT_EQ(s.right[i], CoreButl::dbfch(data.data(), frame * i + bytes, bytes));
                }
            }
            if (channels == 1) {
                EXPECT_EQ(s.right[0], kCanary);
            }
        }
    }
}

TEST(CoreWvfr, ThirtyTwoBitIntegersAreScaledNotReadAsFloats) {
    const std::vector<int32_t> values = {0, 1, -1, 2147483647, -2147483647 - 1, 1 << 30, 123456789};
    for (int fmtSize : {16, 40}) {
        MemoryWav wav(wavtest::simple(1, 1, 44100, 32, wavtest::bytesOf(values), fmtSize));
        const Samples s = readAll(wav.reader);
        ASSERT_EQ(s.left.size(), values.size());
        for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(s.left[i], values[i] / 2147483647.0) << i;
    }
}

TEST(CoreWvfr, FloatSamplesAreWidenedAndCleaned) {
    const float denormal = std::numeric_limits<float>::denorm_min() * 7;
    const std::vector<float> values = {0.5f,
                                       -0.25f,
                                       denormal,
                                       -0.0f,
                                       std::numeric_limits<float>::quiet_NaN(),
                                       std::numeric_limits<float>::infinity(),
                                       -std::numeric_limits<float>::infinity(),
                                       1e-30f};
    for (int fmtSize : {16, 18, 40}) {
        MemoryWav wav(wavtest::simple(3, 1, 44100, 32, wavtest::bytesOf(values), fmtSize));
        const Samples s = readAll(wav.reader);
        ASSERT_EQ(s.left.size(), values.size());
        const double expected[] = {0.5, -0.25, 0.0, 0.0, 0.0, 0.0, 0.0, static_cast<double>(1e-30f)};
        for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(s.left[i], expected[i]) << i;
        EXPECT_FALSE(std::signbit(s.left[3]));
    }
    const std::vector<double> doubles = {1.0 / 3, std::nan(""), -HUGE_VAL, 1e300, 0.1};
    MemoryWav wav(wavtest::simple(3, 1, 44100, 64, wavtest::bytesOf(doubles)));
    Samples s = readAll(wav.reader);
    EXPECT_EQ(s.left[0], 1.0 / 3);
    EXPECT_EQ(s.left[1], 0.0);
    EXPECT_EQ(s.left[2], 0.0);
    EXPECT_EQ(s.left[3], 1e300);
    EXPECT_TRUE(wav.reader.getdb());
    wav.reader.set32(true);
    s = readAll(wav.reader);
    EXPECT_EQ(s.left[0], static_cast<double>(1.0f / 3));
    EXPECT_EQ(s.left[3], 0.0); // beyond single precision: infinite, so silenced
    EXPECT_EQ(s.left[4], static_cast<double>(0.1f));
}

class CoreWvfrFiles : public FsysFiles {};

TEST_F(CoreWvfrFiles, NonFiniteSamplesAreCountedInOneLogLine) {
    const std::vector<float> values = {std::nanf(""), 1, std::nanf(""), INFINITY};
    MemoryWav wav(wavtest::simple(3, 1, 44100, 32, wavtest::bytesOf(values)));
    readAll(wav.reader);
    const std::string text = log();
    EXPECT_NE(text.find("X.WAV"), std::string::npos);
    EXPECT_NE(text.find(" 3 NaN or infinite"), std::string::npos);
}

TEST(CoreWvfr, ChunkLayoutsAndIdCasesAreRead) {
    const std::string data = wavtest::bytesOf(std::vector<int16_t>{100, -200, 300, -400});
    const std::string fmt = fmtBody(1, 2, 44100, 16);
    const std::vector<std::vector<Chunk>> layouts = {
        {{"fmt ", fmt}, {"data", data}},
        {{"FMT ", fmt}, {"DATA", data}},
        {{"Fmt ", fmt}, {"LIST", "INFOabcd"}, {"data", data}},
        {{"fmt ", fmt}, {"LIST", "INFOabc"}, {"data", data}},        // odd, padded
        {{"fmt ", fmt}, {"LIST", "INFOabc", false}, {"data", data}}, // odd, pad forgotten
        {{"JUNK", "12345"}, {"fmt ", fmt}, {"fact", le32(2)}, {"xyz1", "q"}, {"data", data}},
        {{"fmt ", fmtBody(1, 2, 44100, 16, 18)}, {"data", data}},
        {{"fmt ", fmtBody(1, 2, 44100, 16, 40)}, {"fact", le32(2)}, {"data", data}},
    };
    for (size_t i = 0; i < layouts.size(); ++i) {
        SCOPED_TRACE(i);
        MemoryWav wav(riff(layouts[i], i % 2 ? "riff" : "RIFF", i % 2 ? "wave" : "WAVE"));
        const Samples s = readAll(wav.reader);
        ASSERT_EQ(s.left.size(), 2u);
        EXPECT_EQ(s.left[1], 300 / 32767.0);
        EXPECT_EQ(s.right[1], -400 / 32767.0);
    }
}

TEST(CoreWvfr, QueriesFollowTheOpenItem) {
    std::vector<int16_t> values(2000);
    for (int i = 0; i < 2000; ++i) values[i] = static_cast<int16_t>(i * 7);
    MemoryWav wav(wavtest::simple(1, 2, 48000, 16, wavtest::bytesOf(values)));
    CoreWvfr& r = wav.reader;
    EXPECT_EQ(r.getca(), -1);
    EXPECT_EQ(r.getrr(), -1);
    EXPECT_EQ(r.getrt(), -1);
    EXPECT_EQ(r.getdr(true), -1);
    EXPECT_EQ(r.getdw(), -1);
    EXPECT_FALSE(r.getdb());
    double left[1000], right[1000];
    EXPECT_EQ(r.getdt(10, left, right), 0);
    r.open_("x.wav");
    EXPECT_EQ(r.getca(), 2);
    EXPECT_EQ(r.getrr(), 48000);
    EXPECT_EQ(r.getrt(), 48000);
    EXPECT_EQ(r.getdr(false), 1000);
    EXPECT_EQ(r.getdw(), 1000);
    EXPECT_FALSE(r.getdb());
    EXPECT_EQ(r.getdt(300), 300);
    EXPECT_EQ(r.getdr(true), 700);
    EXPECT_EQ(r.getdt(5, left, right), 5);
    EXPECT_EQ(left[0], 600 * 7 / 32767.0);
    EXPECT_EQ(right[4], 609 * 7 / 32767.0);
    EXPECT_EQ(r.getdt(1000), 695);
    EXPECT_EQ(r.getdt(10, left, right), 0);
    r.close();
    EXPECT_EQ(r.getca(), -1);
    EXPECT_EQ(r.imprt("X.WAV", left, right), 1000);
    EXPECT_EQ(left[999], 1998 * 7 / 32767.0);
    EXPECT_EQ(r.getdw(), -1);
    r.open_("X.WAV");
    r.clefs();
    EXPECT_EQ(wav.store.getit("X.WAV"), -1);
}

TEST(CoreWvfr, ConvertsAlongAPathWithTheGainCorrection) {
    std::vector<int16_t> values(2 * 1500);
    std::mt19937 generator(5);
    for (int16_t& v : values) v = static_cast<int16_t>(generator() & 0x3FFF);
    const std::string bytes = wavtest::simple(1, 2, 44100, 16, wavtest::bytesOf(values));
    MemoryWav plain(bytes);
    const Samples input = readAll(plain.reader);

    CorePool pool;
    DataRtcv table(&pool);
    CoreRtcv converter(&pool, &table);
    std::vector<double> leftIn = input.left, rightIn = input.right;
    int32_t outN = 0;
    double outRate = 0;
    const double* converted = converter.cnvrt(leftIn.data(), 1500, outN, 44100, outRate, 14);
    const std::vector<double> expectedLeft(converted, converted + outN);
    converted = converter.cnvrt(rightIn.data(), 1500, outN, 44100, outRate, 14);
    const std::vector<double> expectedRight(converted, converted + outN);

    for (bool raw : {false, true}) {
        MemoryWav wav(bytes);
        wav.reader.setfr(88200, raw);
        wav.reader.open_("X.WAV");
        EXPECT_EQ(wav.reader.getdw(), 3000);
        EXPECT_EQ(wav.reader.getdr(false), 3000);
        EXPECT_EQ(wav.reader.getdr(true), 1500);
        EXPECT_EQ(wav.reader.getrt(), 88200);
        EXPECT_EQ(wav.reader.getrr(), 44100);
        wav.reader.close();
        int32_t delivered = 0;
        const Samples s = readAll(wav.reader, &delivered);
        ASSERT_EQ(delivered, 3000);
        const double scale = raw ? 1.0 : 0.5;
        for (int i = 0; i < 3000; ++i) {
            ASSERT_EQ(s.left[i], expectedLeft[i] * scale) << i;
            ASSERT_EQ(s.right[i], expectedRight[i] * scale) << i;
        }
    }
    // The raw flag is taken when the converter is made and kept while it lives.
    MemoryWav kept(bytes);
    kept.reader.setfr(88200, true);
    kept.reader.setfr(88200, false);
    EXPECT_EQ(readAll(kept.reader).left[10], expectedLeft[10]);

    // Without a fitting row, or with the converter off, the file's own rate and
    // samples come back.
    for (int32_t rate : {50000, 0}) {
        MemoryWav wav(bytes);
        wav.reader.setfr(rate, false);
        wav.reader.open_("X.WAV");
        EXPECT_EQ(wav.reader.getrt(), 44100);
        EXPECT_EQ(wav.reader.getdw(), 1500);
        wav.reader.close();
        EXPECT_EQ(readAll(wav.reader).left, input.left);
    }
}

TEST(CoreWvfr, DownConversionNeverWritesPastTheFramesAsked) {
    std::vector<int16_t> values(4001, 1000);
    MemoryWav wav(wavtest::simple(1, 1, 88200, 16, wavtest::bytesOf(values)));
    wav.reader.setfr(44100, false);
    wav.reader.open_("X.WAV");
    EXPECT_EQ(wav.reader.getdw(), 4001);
    std::vector<double> left(104, kCanary);
    EXPECT_EQ(wav.reader.getdt(100, left.data(), nullptr), 100);
    for (int i = 100; i < 104; ++i) EXPECT_EQ(left[i], kCanary);
    wav.reader.close();
    int32_t delivered = 0;
    readAll(wav.reader, &delivered);
    EXPECT_EQ(delivered, 2000);
}

struct BadFile {
    const char* reason;
    std::string bytes;
};

std::vector<BadFile> badFiles() {
    const std::string data = wavtest::bytesOf(std::vector<int16_t>{1, 2, 3, 4});
    const std::string fmt = fmtBody(1, 2, 44100, 16);
    std::vector<BadFile> files = {
        {"RIFF missing", riff({{"fmt ", fmt}, {"data", data}}, "RIFX")},
        {"WAVE missing", riff({{"fmt ", fmt}, {"data", data}}, "RIFF", "AVI ")},
        {"no fmt", riff({{"data", data}})},
        {"no data", riff({{"fmt ", fmt}})},
        {"fmt of 14 bytes", riff({{"fmt ", fmt.substr(0, 14)}, {"data", data}})},
        {"channels 0", riff({{"fmt ", fmtBody(1, 0, 44100, 16)}, {"data", data}})},
        {"bits 0", riff({{"fmt ", fmtBody(1, 2, 44100, 0)}, {"data", data}})},
        {"bits 4", riff({{"fmt ", fmtBody(1, 2, 44100, 4)}, {"data", data}})},
        {"bits 40", riff({{"fmt ", fmtBody(1, 1, 44100, 40)}, {"data", data + data}})},
        {"bits 64 integer", riff({{"fmt ", fmtBody(1, 1, 44100, 64)}, {"data", data + data}})},
        {"float 16", riff({{"fmt ", fmtBody(3, 2, 44100, 16)}, {"data", data}})},
        {"float 24", riff({{"fmt ", fmtBody(3, 1, 44100, 24)}, {"data", data.substr(0, 6)}})},
        {"tag 2", riff({{"fmt ", fmtBody(2, 2, 44100, 16)}, {"data", data}})},
        {"tag 0x55", riff({{"fmt ", fmtBody(0x55, 2, 44100, 16)}, {"data", data}})},
        {"extensible sub-format 2", riff({{"fmt ", fmtBody(1, 2, 44100, 16, 40, 2)}, {"data", data}})},
        {"extensible without sub-format", riff({{"fmt ", fmtBody(0xFFFE, 2, 44100, 16)}, {"data", data}})},
        {"frame of 1026 bytes",
         riff({{"fmt ", fmtBody(1, 513, 44100, 16)}, {"data", std::string(1026, 'a')}})},
        {"rate 0", riff({{"fmt ", fmtBody(1, 2, 0, 16)}, {"data", data}})},
        {"rate 2^31", riff({{"fmt ", fmtBody(1, 2, 0x80000000u, 16)}, {"data", data}})},
        {"chunk size 0xFFFFFFF8", riff({{"fmt ", fmt}, {"LIST", "", true, 0xFFFFFFF8}, {"data", data}})},
        {"chunk past the end", riff({{"fmt ", fmt}, {"LIST", "abcd", true, 5000}, {"data", data}})},
        {"data size 0", riff({{"fmt ", fmt}, {"data", ""}})},
        {"data claims more frames", riff({{"fmt ", fmt}, {"data", data, true, 0xFFFFFFFF}})},
        {"data claims one frame more", riff({{"fmt ", fmt}, {"data", data, true, 20}})},
        {"eleven bytes", std::string("RIFF\0\0\0\0WAV", 11)},
        {"empty item", std::string()},
    };
    return files;
}

TEST_F(CoreWvfrFiles, BadFilesThrowNamingTheItemAndLeaveItClosed) {
    for (const BadFile& bad : badFiles()) {
        SCOPED_TRACE(bad.reason);
        MemoryWav wav(bad.bytes);
        try {
            wav.reader.open_("X.WAV");
            ADD_FAILURE() << "opened";
        } catch (const CoreAnsx& error) {
            EXPECT_NE(str(error).find("X.WAV"), std::string::npos) << str(error);
            EXPECT_GT(str(error).size(), std::string("WAV X.WAV: ").size());
            EXPECT_NE(log().find(str(error)), std::string::npos);
        }
        EXPECT_EQ(wav.reader.getca(), -1);
        EXPECT_EQ(wav.reader.getdw(), -1);
    }
    CoreFsys disk(&pool, folder(), false);
    CoreWvfr reader(&pool, &disk, true);
    EXPECT_THROW(reader.open_("NOT/THERE.WAV"), CoreAnsx);
    EXPECT_EQ(reader.getca(), -1);
}

TEST_F(CoreWvfrFiles, ReadsLooseFilesWhateverTheCaseOfTheirNames) {
    const std::string data = wavtest::bytesOf(std::vector<int16_t>{1000, -1000});
    fs::create_directory(root / "Vectors");
    writeBytes(root / "Vectors" / "Kick.wav", wavtest::simple(1, 1, 44100, 16, data));
    for (bool whole : {false, true}) {
        for (bool reopen : {false, true}) {
            CoreFsys disk(&pool, folder(), reopen);
            CoreWvfr reader(&pool, &disk, whole);
            double left[2] = {0, 0};
            EXPECT_EQ(reader.imprt("VECTORS/KICK.WAV", left, nullptr), 2);
            EXPECT_EQ(left[1], -1000 / 32767.0);
        }
    }
}

TEST_F(CoreWvfrFiles, WritersRoundTripThroughTheReader) {
    std::vector<double> left(700), right(700);
    std::mt19937 generator(9);
    std::uniform_real_distribution<double> value(-1, 1);
    for (int i = 0; i < 700; ++i) {
        left[i] = value(generator);
        right[i] = value(generator) * 1e-3;
    }
    CoreFsys disk(&pool, folder(), false);
    for (bool double64 : {true, false}) {
        for (int16_t channels : {int16_t(1), int16_t(2)}) {
            SCOPED_TRACE(testing::Message() << double64 << " " << channels);
            const CoreAnsx streamed = double64 ? "S64.WAV" : "S32.WAV";
            ASSERT_TRUE(CoreWvfw::exprt(&pool, at(str(streamed)), channels, 96000, 700, left.data(),
                                        right.data(), double64));
            CoreWavs image(&pool, channels, 44100, 700, double64);
            image.setdt(700, left.data(), right.data());
            const CoreAnsx whole = double64 ? "W64.WAV" : "W32.WAV";
            ASSERT_TRUE(image.write(at(str(whole))));
            for (const CoreAnsx& name : {streamed, whole}) {
                disk.init_();
                CoreWvfr reader(&pool, &disk, false);
                std::vector<double> l(700, kCanary), r(700, kCanary);
                reader.open_(name);
                EXPECT_EQ(reader.getca(), channels);
                EXPECT_EQ(reader.getrr(), name == streamed ? 96000 : 44100);
                EXPECT_EQ(reader.getdb(), double64);
                ASSERT_EQ(reader.getdt(700, l.data(), r.data()), 700);
                for (int i = 0; i < 700; ++i) {
                    const double el = double64 ? left[i] : static_cast<double>(static_cast<float>(left[i]));
                    const double er = double64 ? right[i] : static_cast<double>(static_cast<float>(right[i]));
                    ASSERT_EQ(l[i], el) << i;
                    ASSERT_EQ(r[i], channels == 2 ? er : kCanary) << i;
                }
            }
        }
    }
}

} // namespace
