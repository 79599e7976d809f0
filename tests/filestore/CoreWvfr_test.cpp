// Tests of CoreWvfr: every sample format decoded bit for bit, chunk layouts, queries, conversion,
// bad and mutated files, long loose files read in pieces and round trips through our writers.
#include "filestore/CoreWvfr.h"

#include "FsysFixture.h"
#include "WavBytes.h"
#include "base/CoreButl.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreRtcv.h"
#include "filestore/CoreWavs.h"
#include "filestore/CoreWvfw.h"
#include "filestore/DataRtcv.h"
#include "tests/common/ByteMutator.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstring>
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

struct Samples { std::vector<double> left, right; };

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

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// What the reader must deliver for one sample: integers are the shared decoder's value (32-bit
// integers, which that decoder reads as floats, the same division by 2^31 - 1); float32 zero,
// denormals, NaN and infinities give 0.0; float64 NaN and infinities give 0.0 after the optional
// rounding to single precision.
double expectedSample(const unsigned char* p, bool isFloat, int bytes, bool single) {
    if (!isFloat && bytes == 4) {
        int32_t v;
        std::memcpy(&v, p, 4);
        return static_cast<double>(v) / 2147483647.0;
    }
    if (!isFloat) return CoreButl::dbfch(reinterpret_cast<const char*>(p), 0, static_cast<int16_t>(bytes));
    if (bytes == 4) {
        uint32_t bits;
        std::memcpy(&bits, p, 4);
        const uint32_t exponent = bits & 0x7F800000u;
        return exponent == 0 || exponent == 0x7F800000u
                   ? 0.0
                   : CoreButl::dbfch(reinterpret_cast<const char*>(p), 0, 4);
    }
    double v;
    std::memcpy(&v, p, 8);
    if (single) v = static_cast<double>(static_cast<float>(v));
    return std::isfinite(v) ? v : 0.0;
}

// Compares frames [from, to) of s with the expected samples of data (the data chunk's bytes); returns
// the mismatches and describes the first. A one-channel file must leave right at the canary.
int64_t mismatches(const Samples& s, const std::string& data, int channels, bool isFloat, int bytes,
                   bool single, int32_t from, int32_t to, std::string& first) {
    const auto* base = reinterpret_cast<const unsigned char*>(data.data());
    const size_t frame = static_cast<size_t>(channels) * bytes;
    int64_t bad = 0;
    for (int32_t i = from; i < to; ++i) {
        const unsigned char* p = base + i * frame;
        const double left = expectedSample(p, isFloat, bytes, single);
        const double right = channels > 1 ? expectedSample(p + bytes, isFloat, bytes, single) : kCanary;
        if (sameBits(s.left[i], left) && sameBits(s.right[i], right)) continue;
        if (bad++ == 0)
            first = (testing::Message() << "frame " << i << ": " << s.left[i] << " / " << s.right[i]
                                        << ", expected " << left << " / " << right)
                        .GetString();
    }
    return bad;
}

// Little-endian PCM of the given width from the low bytes of each code (8-bit: unsigned around 128).
std::string pcmOf(const std::vector<int64_t>& codes, int bytes) {
    std::string data(codes.size() * bytes, '\0');
    char* out = data.data();
    for (int64_t code : codes) {
        const uint32_t bits = static_cast<uint32_t>(bytes == 1 ? code + 128 : code);
        for (int i = 0; i < bytes; ++i) *out++ = static_cast<char>((bits >> (8 * i)) & 0xFF);
    }
    return data;
}

// Codes of a signed width: both ends, zero, and the neighbourhood of every power of two on both sides.
std::vector<int64_t> edgeCodes(int bits) {
    const int64_t top = (int64_t{1} << (bits - 1)) - 1;
    std::vector<int64_t> codes = {0, top, top - 1, -top, -top - 1, 1, -1};
    for (int k = 0; k < bits - 1; ++k)
        for (int64_t d = -2; d <= 2; ++d)
            for (int64_t sign : {1, -1}) {
                const int64_t code = sign * (int64_t{1} << k) + d;
                if (code >= -top - 1 && code <= top) codes.push_back(code);
            }
    return codes;
}

// Every 8- and 16-bit code, 2^20 24-bit codes spread over the whole range (every 16th, with the low
// bits varied) and 2^20 random 32-bit codes, each width with its edges, decoded in one-, two- and
// three-channel layouts (each layout has its own decoding loop) and compared bit for bit.
TEST(CoreWvfr, IntegerCodesEqualTheSharedDecoderBitForBit) {
    std::mt19937 generator(17);
    for (int bytes : {1, 2, 3, 4}) {
        std::vector<int64_t> codes = edgeCodes(8 * bytes);
        if (bytes <= 2) {
            const int64_t half = int64_t{1} << (8 * bytes - 1);
            for (int64_t code = -half; code < half; ++code) codes.push_back(code);
        } else if (bytes == 3) {
            for (int64_t i = 0; i < (int64_t{1} << 20); ++i)
                codes.push_back(i * 16 + ((i * 7) & 15) - (int64_t{1} << 23));
        } else {
            for (int i = 0; i < (1 << 20); ++i) codes.push_back(static_cast<int32_t>(generator()));
        }
        codes.resize((codes.size() + 5) / 6 * 6, 0); // whole frames in every layout
        const std::string data = pcmOf(codes, bytes);
        for (int channels : {1, 2, 3}) {
            SCOPED_TRACE(testing::Message() << bytes << " bytes, " << channels << " channels");
            MemoryWav wav(wavtest::simple(1, static_cast<uint16_t>(channels), 48000,
                                          static_cast<uint16_t>(8 * bytes), data));
            const Samples s = readAll(wav.reader);
            const int32_t frames = static_cast<int32_t>(codes.size() / channels);
            ASSERT_EQ(s.left.size(), static_cast<size_t>(frames));
            std::string first;
            EXPECT_EQ(mismatches(s, data, channels, false, bytes, false, 0, frames, first), 0) << first;
        }
    }
}

class CoreWvfrFiles : public FsysFiles {};

TEST_F(CoreWvfrFiles, FloatSamplesAreWidenedCleanedAndCountedInOneLogLine) {
    const float inf = std::numeric_limits<float>::infinity();
    const std::vector<float> values = {
        0.5f, -0.25f, std::numeric_limits<float>::denorm_min() * 7, -0.0f, std::nanf(""), inf, -inf, 1e-30f};
    const double expected[] = {0.5, -0.25, 0.0, 0.0, 0.0, 0.0, 0.0, static_cast<double>(1e-30f)};
    for (int fmtSize : {16, 18, 40}) {
        MemoryWav wav(wavtest::simple(3, 1, 44100, 32, wavtest::bytesOf(values), fmtSize));
        const Samples s = readAll(wav.reader);
        ASSERT_EQ(s.left.size(), values.size());
        for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(s.left[i], expected[i]) << fmtSize << " " << i;
        EXPECT_FALSE(std::signbit(s.left[3]));
    }
    EXPECT_NE(log().find("WAV X.WAV: 3 NaN or infinite"), std::string::npos) << log();

    const std::vector<double> doubles = {1.0 / 3, std::nan(""), -HUGE_VAL, 1e300, 0.1};
    MemoryWav wav(wavtest::simple(3, 1, 44100, 64, wavtest::bytesOf(doubles)));
    EXPECT_EQ(readAll(wav.reader).left, (std::vector<double>{1.0 / 3, 0.0, 0.0, 1e300, 0.1}));
    EXPECT_TRUE(wav.reader.getdb());
    wav.reader.set32(true); // 1e300 is infinite in single precision, so silenced
    EXPECT_EQ(readAll(wav.reader).left, (std::vector<double>{double(1.0f / 3), 0.0, 0.0, 0.0, double(0.1f)}));
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
    const auto queries = [&] {
        return std::vector<int32_t>{r.getca(),     r.getrr(),      r.getrt(),
                                    r.getdr(true), r.getdr(false), r.getdw()};
    };
    EXPECT_EQ(queries(), (std::vector<int32_t>{-1, -1, -1, -1, -1, -1})); // nothing open
    EXPECT_FALSE(r.getdb());
    double left[1000], right[1000];
    EXPECT_EQ(r.getdt(10, left, right), 0);
    r.open_("x.wav");
    EXPECT_EQ(queries(), (std::vector<int32_t>{2, 48000, 48000, 1000, 1000, 1000}));
    EXPECT_EQ(r.getdt(300), 300); // skipping
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
    EXPECT_EQ(r.getdw(), -1); // imprt closes
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
    Samples expected = readAll(plain.reader); // converted by the converter itself, channel by channel
    const Samples input = expected;
    CorePool pool;
    DataRtcv table(&pool);
    CoreRtcv converter(&pool, &table);
    for (std::vector<double>* channel : {&expected.left, &expected.right}) {
        int32_t outN = 0;
        double outRate = 0;
        const double* converted = converter.cnvrt(channel->data(), 1500, outN, 44100, outRate, 14);
        channel->assign(converted, converted + outN);
    }
    // raw is taken when the converter is made (the second setfr keeps it); else a gain of 1/2 for 2x.
    for (bool raw : {false, true}) {
        MemoryWav wav(bytes);
        wav.reader.setfr(88200, raw);
        wav.reader.setfr(88200, !raw);
        wav.reader.open_("X.WAV");
        EXPECT_EQ((std::vector<int32_t>{wav.reader.getdw(), wav.reader.getdr(false), wav.reader.getdr(true),
                                        wav.reader.getrt(), wav.reader.getrr()}),
                  (std::vector<int32_t>{3000, 3000, 1500, 88200, 44100}));
        wav.reader.close();
        const Samples s = readAll(wav.reader);
        ASSERT_EQ(s.left.size(), 3000u);
        for (int i = 0; i < 3000; ++i)
            ASSERT_TRUE(s.left[i] == expected.left[i] * (raw ? 1.0 : 0.5) &&
                        s.right[i] == expected.right[i] * (raw ? 1.0 : 0.5))
                << i;
    }
    // Without a fitting row, or with the converter off, the file's own rate and samples come back.
    for (int32_t rate : {50000, 0}) {
        MemoryWav wav(bytes);
        wav.reader.setfr(rate, false);
        wav.reader.open_("X.WAV");
        EXPECT_EQ(std::make_pair(wav.reader.getrt(), wav.reader.getdw()), std::make_pair(44100, 1500));
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

struct BadFile { const char* reason; std::string bytes; };

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
        {"frame of 65538 bytes",
         riff({{"fmt ", fmtBody(1, 32769, 44100, 16)}, {"data", std::string(65538, 'a')}})},
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

TEST_F(CoreWvfrFiles, WritersRoundTripThroughTheReader) {
    std::vector<double> left(700), right(700);
    std::mt19937 generator(9);
    std::uniform_real_distribution<double> value(-1, 1);
    for (int i = 0; i < 700; ++i) left[i] = value(generator), right[i] = value(generator) * 1e-3;
    CoreFsys disk(&pool, folder(), false);
    for (int kind = 0; kind < 8; ++kind) { // streamed or whole image, 64 or 32 bits, 1 or 2 channels
        const bool streamed = kind & 1, double64 = kind & 2;
        const int16_t channels = kind & 4 ? 2 : 1;
        SCOPED_TRACE(kind);
        if (streamed) {
            ASSERT_TRUE(CoreWvfw::exprt(&pool, at("RT.WAV"), channels, 96000, 700, left.data(), right.data(),
                                        double64));
        } else {
            CoreWavs image(&pool, channels, 44100, 700, double64);
            image.setdt(700, left.data(), right.data());
            ASSERT_TRUE(image.write(at("RT.WAV")));
        }
        disk.init_();
        CoreWvfr reader(&pool, &disk, false);
        std::vector<double> l(700, kCanary), r(700, kCanary);
        reader.open_("RT.WAV");
        EXPECT_EQ(std::make_tuple(reader.getca(), reader.getrr(), reader.getdb()),
                  std::make_tuple(int32_t(channels), streamed ? 96000 : 44100, double64));
        ASSERT_EQ(reader.getdt(700, l.data(), r.data()), 700);
        for (int i = 0; i < 700; ++i) {
            const double el = double64 ? left[i] : double(float(left[i])),
                         er = double64 ? right[i] : double(float(right[i]));
            ASSERT_TRUE(l[i] == el && r[i] == (channels == 2 ? er : kCanary)) << i;
        }
    }
}

// Bytes the reader takes from a disk item per store call; the long files below span several.
constexpr int32_t kPiece = 64 * 1024;

struct LongFormat { uint16_t tag; uint16_t channels; uint16_t bits; };

// Frames of the format filling a little over three read pieces, and its data bytes: random codes for
// integers; for floats random values with denormals and the largest finite values, and NaN and
// infinities (both signs, a payload) planted only after the first piece, at piece edges and as the
// last sample.
std::string longData(const LongFormat& f, int32_t& frames, std::mt19937& generator) {
    const int bytes = f.bits / 8;
    const int32_t frame = bytes * f.channels;
    const int32_t perPiece = (kPiece - kPiece % frame) / frame;
    frames = 3 * perPiece + 4099;
    const size_t samples = static_cast<size_t>(frames) * f.channels;
    std::string data(samples * bytes, '\0');
    if (f.tag == 1) {
        for (char& c : data) c = static_cast<char>(generator() & 0xFF);
        return data;
    }
    std::uniform_real_distribution<double> value(-1.5, 1.5);
    const double specials[] = {std::numeric_limits<double>::max(),
                               -std::numeric_limits<double>::max(),
                               std::numeric_limits<double>::denorm_min(),
                               -0.0,
                               1e300,
                               1e-310};
    for (size_t i = 0; i < samples; ++i) {
        double v = value(generator);
        if (i % 997 == 5) v = specials[(i / 997) % 6];
        if (bytes == 8) {
            std::memcpy(&data[i * 8], &v, 8);
        } else {
            float single = static_cast<float>(v);
            if (i % 997 == 5) single = (i / 997) % 2 ? std::numeric_limits<float>::denorm_min() : -FLT_MAX;
            std::memcpy(&data[i * 4], &single, 4);
        }
    }
    const uint64_t nonFinite[] = {0x7FF0000000000000u, 0xFFF0000000000000u, 0x7FF8000000000000u,
                                  0xFFF8000000000001u, 0x7FF0000000000123u};
    const uint32_t nonFiniteSingle[] = {0x7F800000u, 0xFF800000u, 0x7FC00000u, 0xFFC00001u, 0x7F800123u};
    const int32_t at[] = {perPiece + 3, 2 * perPiece - 1, 2 * perPiece, 3 * perPiece - 1, frames - 1};
    for (int k = 0; k < 5; ++k) {
        for (int channel = 0; channel < std::min<int>(f.channels, 2); ++channel) {
            const size_t sample = static_cast<size_t>(at[k]) * f.channels + (channel + k) % f.channels;
            if (bytes == 8)
                std::memcpy(&data[sample * 8], &nonFinite[(k + channel) % 5], 8);
            else
                std::memcpy(&data[sample * 4], &nonFiniteSingle[(k + channel) % 5], 4);
        }
    }
    return data;
}

// Non-finite samples among those the reader decodes (the first two channels).
int64_t nonFiniteCount(const std::string& data, const LongFormat& f, bool single) {
    if (f.tag == 1) return 0;
    const int bytes = f.bits / 8;
    const size_t samples = data.size() / bytes;
    int64_t count = 0;
    for (size_t i = 0; i < samples; ++i) {
        if (static_cast<int>(i % f.channels) >= 2) continue;
        if (bytes == 8) {
            double v;
            std::memcpy(&v, &data[i * 8], 8);
            if (single) v = static_cast<double>(static_cast<float>(v));
            count += !std::isfinite(v);
        } else {
            float v;
            std::memcpy(&v, &data[i * 4], 4);
            count += !std::isfinite(v);
        }
    }
    return count;
}

// Loose files of several read pieces in every sample format, read in one call and in uneven calls
// after a skip, from a store holding its files open, from one that reopens them for every call, and
// loaded whole: every result equals the in-memory item's and the expected samples bit for bit,
// nothing is written past the frames asked, and the non-finite samples are counted once each.
TEST_F(CoreWvfrFiles, LongLooseFilesReadInPiecesEqualTheMemoryItem) {
    const LongFormat formats[] = {{1, 1, 8},  {1, 2, 8},  {1, 1, 16}, {1, 2, 16}, {1, 3, 16},
                                  {1, 1, 24}, {1, 2, 24}, {1, 5, 24}, {1, 1, 32}, {1, 2, 32},
                                  {3, 1, 32}, {3, 2, 32}, {3, 1, 64}, {3, 2, 64}, {3, 3, 64}};
    std::mt19937 generator(23);
    for (const LongFormat& f : formats) {
        int32_t frames = 0;
        const std::string data = longData(f, frames, generator);
        const std::string name = "LONG_" + std::to_string(f.tag) + "_" + std::to_string(f.channels) + "_" +
                                 std::to_string(f.bits) + ".wav";
        const std::string bytes = wavtest::simple(f.tag, f.channels, 44100, f.bits, data);
        writeBytes(root / name, bytes);
        const bool isFloat = f.tag == 3;
        const int width = f.bits / 8;
        for (bool single : {false, true}) {
            if (single && f.bits != 64) continue;
            SCOPED_TRACE(testing::Message() << name << (single ? " rounded to single" : ""));
            MemoryWav memory(bytes);
            memory.reader.set32(single);
            const Samples expected = readAll(memory.reader);
            ASSERT_EQ(expected.left.size(), static_cast<size_t>(frames));
            std::string first;
            EXPECT_EQ(mismatches(expected, data, f.channels, isFloat, width, single, 0, frames, first), 0)
                << first;
            const int64_t bad = nonFiniteCount(data, f, single);
            EXPECT_EQ(bad > 0, isFloat);

            for (int mode = 0; mode < 3; ++mode) {
                SCOPED_TRACE(mode == 0 ? "held open" : mode == 1 ? "reopened per call" : "loaded whole");
                CoreFsys disk(&pool, folder(), mode == 1);
                CoreWvfr reader(&pool, &disk, mode == 2);
                reader.set32(single);
                const size_t logged = log().size();
                reader.open_(CoreAnsx(name.c_str()));
                ASSERT_EQ(reader.getdw(), frames);
                Samples whole{std::vector<double>(frames + 4, kCanary),
                              std::vector<double>(frames + 4, kCanary)};
                ASSERT_EQ(reader.getdt(frames + 4, whole.left.data(), whole.right.data()), frames);
                EXPECT_EQ(reader.getdt(1, whole.left.data(), whole.right.data()), 0);
                reader.close();
                for (int i = frames; i < frames + 4; ++i) {
                    EXPECT_EQ(whole.left[i], kCanary);
                    EXPECT_EQ(whole.right[i], kCanary);
                }
                whole.left.resize(frames);
                whole.right.resize(frames);
                EXPECT_EQ(mismatches(whole, data, f.channels, isFloat, width, single, 0, frames, first), 0)
                    << first;
                EXPECT_TRUE(whole.left == expected.left && whole.right == expected.right);
                if (bad > 0) {
                    const std::string line = "WAV " + name + ": " + std::to_string(bad) + " NaN or infinite";
                    EXPECT_NE(log().find(line, logged), std::string::npos) << line;
                }

                // A skip, then calls that end inside pieces and across piece edges.
                const int32_t skip = 1234;
                Samples parts{std::vector<double>(frames, kCanary), std::vector<double>(frames, kCanary)};
                reader.open_(CoreAnsx(name.c_str()));
                ASSERT_EQ(reader.getdt(skip), skip);
                const int32_t calls[] = {1, 4093, kPiece + 1, 7, 30011};
                int32_t got = skip;
                for (int call = 0; got < frames; ++call) {
                    const int32_t n =
                        reader.getdt(calls[call % 5], parts.left.data() + got, parts.right.data() + got);
                    ASSERT_GT(n, 0);
                    got += n;
                }
                reader.close();
                EXPECT_EQ(got, frames);
                for (int i = 0; i < skip; ++i) {
                    ASSERT_EQ(parts.left[i], kCanary);
                    ASSERT_EQ(parts.right[i], kCanary);
                }
                EXPECT_EQ(mismatches(parts, data, f.channels, isFloat, width, single, skip, frames, first), 0)
                    << first;
            }
        }
    }
}

// A loose file cut short after it was opened: the read throws naming the item, closes the reader, and
// leaves no raw sample bytes in the caller's arrays (a float64 mono piece is read straight into them).
TEST_F(CoreWvfrFiles, ALooseFileCutShortWhileReadingThrowsAndLeavesNoRawBytes) {
    for (const LongFormat& f : {LongFormat{3, 1, 64}, LongFormat{3, 2, 64}, LongFormat{1, 2, 16}}) {
        const int width = f.bits / 8;
        const int32_t frames = 4 * kPiece / (width * f.channels);
        const std::string data(static_cast<size_t>(frames) * f.channels * width,
                               '\xFF'); // all NaN for floats
        const std::string bytes = wavtest::simple(f.tag, f.channels, 44100, f.bits, data);
        for (bool reopen : {false, true}) {
            SCOPED_TRACE(testing::Message() << f.channels << " x " << f.bits << (reopen ? " reopened" : ""));
            writeBytes(root / "CUT.WAV", bytes);
            CoreFsys disk(&pool, folder(), reopen);
            CoreWvfr reader(&pool, &disk, false);
            std::vector<double> left(frames, kCanary), right(frames, kCanary);
            reader.open_("CUT.WAV");
            fs::resize_file(root / "CUT.WAV", 44 + 2 * kPiece + kPiece / 2 + 3);
            try {
                reader.getdt(frames, left.data(), right.data());
                ADD_FAILURE() << "read past the end";
            } catch (const CoreAnsx& error) {
                EXPECT_NE(str(error).find("CUT.WAV"), std::string::npos) << str(error);
            }
            EXPECT_EQ(reader.getca(), -1);
            for (int32_t i = 0; i < frames; ++i) {
                ASSERT_TRUE(std::isfinite(left[i])) << i;
                ASSERT_TRUE(std::isfinite(right[i])) << i;
            }
        }
    }
}

// Seeded mutants of six valid files, read from in-memory items with the converter off and on: each
// throws or delivers at most the frames getdw announced, and nothing is written past them.
TEST(CoreWvfr, MutantsThrowOrDeliverWithinTheirBounds) {
    const auto noise = [](size_t bytes, unsigned seed) {
        std::mt19937 generator(seed);
        std::string s(bytes, '\0');
        for (char& c : s) c = static_cast<char>(generator() & 0xFF);
        return s;
    };
    std::vector<float> floats(150);
    std::vector<double> doubles(120);
    for (size_t i = 0; i < floats.size(); ++i) floats[i] = static_cast<float>(i) / 150.0f - 0.5f;
    for (size_t i = 0; i < doubles.size(); ++i) doubles[i] = 0.25 - static_cast<double>(i) / 480.0;
    const std::string valid[] = {
        riff({{"fmt ", fmtBody(1, 2, 44100, 16)}, {"data", noise(4 * 150, 1)}}),
        riff({{"fmt ", fmtBody(1, 2, 44100, 24, 40, 1)}, {"data", noise(6 * 130, 2)}}),
        riff({{"fmt ", fmtBody(1, 1, 44100, 32, 40, 1)}, {"fact", le32(140)}, {"data", noise(4 * 140, 3)}}),
        riff({{"fmt ", fmtBody(3, 1, 44100, 32, 18)},
              {"fact", le32(150)},
              {"data", wavtest::bytesOf(floats)}}),
        riff({{"fmt ", fmtBody(3, 1, 44100, 64)}, {"data", wavtest::bytesOf(doubles)}}),
        riff({{"fmt ", fmtBody(1, 2, 44100, 16)},
              {"LIST", "INFOISFT\x05\0\0\0abcde"},
              {"data", noise(4 * 100, 4)}}),
    };
    constexpr int mutants = 2000;
    CorePool pool;
    unsigned seed = 20240601;
    for (const std::string& bytes : valid) {
        ByteMutator mutator(seed++);
        ByteMutator::Hints hints; // every chunk's size field and the format fields
        hints.offsets = {4, 20 + 2, 20 + 4, 20 + 14};
        for (size_t at = 12; at + 8 <= bytes.size();
             at += 8 + wavtest::get32(bytes, at + 4) + (wavtest::get32(bytes, at + 4) & 1))
            hints.offsets.push_back(at + 4);
        hints.textStart = 12;
        hints.tokens = {"fmt ", "data", "DATA", "LIST", "fact", "RIFF", "WAVE"};
        for (int converting = 0; converting < 2; ++converting) {
            SCOPED_TRACE(testing::Message() << "file " << seed << (converting ? " converting" : ""));
            CoreFsys store(&pool);
            CoreWvfr reader(&pool, &store, false);
            if (converting) reader.setfr(48000, false);
            const int32_t id = store.crtit("M.WAV");
            int opened = 0;
            for (int i = 0; i <= mutants; ++i) {
                const std::string mutant =
                    i == 0 ? bytes : mutator.mutate(bytes, hints); // first the valid file
                store.setit(id, mutant.data(), static_cast<int32_t>(mutant.size()), CoreAnsx(""), true,
                            false);
                try {
                    reader.open_("M.WAV");
                } catch (const CoreAnsx&) {
                    ASSERT_NE(i, 0);
                    EXPECT_EQ(reader.getca(), -1);
                    continue;
                }
                ++opened;
                const int32_t room = reader.getdw();
                ASSERT_GE(room, 0);
                ASSERT_LE(room,
                          2 * static_cast<int32_t>(mutant.size()) + 1); // a byte per frame, ratio below 2
                std::vector<double> left(room + 8, kCanary), right(room + 8, kCanary);
                try {
                    const int32_t got = reader.getdt(room, left.data(), right.data());
                    EXPECT_TRUE(got >= 0 && got <= room) << got;
                } catch (const CoreAnsx&) {
                }
                for (int k = room; k < room + 8; ++k)
                    ASSERT_TRUE(left[k] == kCanary && right[k] == kCanary) << i;
                reader.close();
            }
            EXPECT_GT(opened, mutants / 10); // the mutants are not all rejected at the door
        }
    }
    EXPECT_EQ(pool.getma(), 0);
}

} // namespace
