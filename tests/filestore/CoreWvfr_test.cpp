// CoreWvfr: every sample format decoded bit for bit (float NaN, infinities and denormals as 0, counted
// in the log), chunk layouts, queries, conversion, bad and mutated files, long and wide loose files
// read in pieces, files cut short while reading, and round trips through our writers.
#include "filestore/CoreWvfr.h"

#include "WavBytes.h"
#include "base/CoreButl.h"
#include "filestore/CoreWavs.h"
#include "filestore/CoreWvfw.h"
#include "tests/common/ByteMutator.h"
#include "tests/common/SignalReference.h"

#include <cmath>
#include <random>

using namespace fsystest;
using wavtest::Chunk;
using wavtest::fmtBody;
using wavtest::le32;
using wavtest::riff;

constexpr double kCanary = -12345.0;
constexpr int32_t kPiece = 64 * 1024; // bytes the reader takes from a disk item per store call

// A reader over an in-memory item "X.WAV" holding the given bytes.
struct MemoryWav {
    explicit MemoryWav(const std::string& file) : bytes(file), store(&pool), reader(&pool, &store, false) {
        store.setit(store.crtit("X.WAV"), bytes.data(), static_cast<int32_t>(bytes.size()), "", true, false);
    }
    std::string bytes;
    CorePool pool;
    CoreFsys store;
    CoreWvfr reader;
};

struct Samples {
    std::vector<double> left, right;
    bool operator==(const Samples&) const = default;
};

// Opens the item and reads every frame into arrays of getdw() frames followed by canaries, which
// must stay untouched.
Samples readAll(CoreWvfr& reader, const char* name = "X.WAV") {
    reader.open_(name);
    const int32_t room = reader.getdw();
    Samples s{std::vector<double>(room + 4, kCanary), std::vector<double>(room + 4, kCanary)};
    const int32_t got = reader.getdt(room, s.left.data(), s.right.data());
    reader.close();
    for (int i = room; i < room + 4; ++i) EXPECT_TRUE(s.left[i] == kCanary && s.right[i] == kCanary) << i;
    s.left.resize(got);
    s.right.resize(got);
    return s;
}

// What the reader must deliver for the data chunk's bytes: integers are the shared decoder's value
// (32-bit ones, which that decoder reads as floats, the same division by 2^31 - 1); float32 zero,
// denormals, NaN and infinities give 0.0; float64 NaN and infinities give 0.0 after the optional
// rounding to single precision. A one-channel file leaves right at the canary.
Samples expectedFrames(const std::string& data, int channels, bool isFloat, int bytes, bool single) {
    const auto sample = [&](const char* p) -> double {
        if (!isFloat && bytes == 4) {
            int32_t v;
            std::memcpy(&v, p, 4);
            return static_cast<double>(v) / 2147483647.0;
        }
        if (!isFloat) return CoreButl::dbfch(p, 0, static_cast<int16_t>(bytes));
        if (bytes == 4) {
            float v;
            std::memcpy(&v, p, 4);
            return std::fpclassify(v) == FP_NORMAL ? CoreButl::dbfch(p, 0, 4) : 0.0;
        }
        double v;
        std::memcpy(&v, p, 8);
        if (single) v = static_cast<double>(static_cast<float>(v));
        return std::isfinite(v) ? v : 0.0;
    };
    Samples s;
    for (size_t at = 0; at + channels * bytes <= data.size(); at += channels * bytes) {
        s.left.push_back(sample(&data[at]));
        s.right.push_back(channels > 1 ? sample(&data[at + bytes]) : kCanary);
    }
    return s;
}

// Little-endian PCM of the given width from the low bytes of each code (8-bit: unsigned around 128).
std::string pcmOf(const std::vector<int64_t>& codes, int bytes) {
    std::string data;
    for (int64_t code : codes)
        for (int i = 0; i < bytes; ++i)
            data += static_cast<char>(static_cast<uint32_t>(bytes == 1 ? code + 128 : code) >> (8 * i));
    return data;
}

// Every 8- and 16-bit code, 2^20 24-bit codes spread over the whole range and 2^20 random 32-bit
// codes, each width with both ends, decoded in one-, two- and three-channel layouts (each layout has
// its own decoding loop) and compared bit for bit.
TEST(CoreWvfr, IntegerCodesEqualTheSharedDecoderBitForBit) {
    std::mt19937 generator(17);
    for (int bytes : {1, 2, 3, 4}) {
        const int64_t half = int64_t{1} << (8 * bytes - 1);
        std::vector<int64_t> codes = {-half, half - 1, half - 2, -half + 1, 0, 1, -1};
        if (bytes <= 2)
            for (int64_t code = -half; code < half; ++code) codes.push_back(code);
        else
            for (int64_t i = 0; i < (int64_t{1} << 20); ++i)
                codes.push_back(bytes == 3 ? i * 16 + ((i * 7) & 15) - half : int32_t(generator()));
        codes.resize((codes.size() + 5) / 6 * 6, 0); // whole frames in every layout
        const std::string data = pcmOf(codes, bytes);
        for (int channels : {1, 2, 3}) {
            SCOPED_TRACE(testing::Message() << bytes << " bytes, " << channels << " channels");
            MemoryWav wav(wavtest::simple(1, uint16_t(channels), 48000, uint16_t(8 * bytes), data));
            EXPECT_TRUE(readAll(wav.reader) == expectedFrames(data, channels, false, bytes, false));
        }
    }
}

using CoreWvfrFiles = FsysFiles;

TEST(CoreWvfr, ChunkLayoutsAndIdCasesAreRead) {
    const std::string data = wavtest::bytesOf(std::vector<int16_t>{100, -200, 300, -400});
    const std::string fmt = fmtBody(1, 2, 44100, 16);
    const std::vector<std::vector<Chunk>> layouts = {
        {{"FMT ", fmt}, {"DATA", data}},
        {{"JUNK", "12345"}, {"fmt ", fmt}, {"LIST", "INFOabc", false}, {"data", data}}, // odd, pad forgotten
        {{"fmt ", fmtBody(1, 2, 44100, 16, 40)}, {"LIST", "INFOabc"}, {"data", data}},  // odd, padded
    };
    const Samples expected{{100 / 32767.0, 300 / 32767.0}, {-200 / 32767.0, -400 / 32767.0}};
    for (size_t i = 0; i < layouts.size(); ++i) {
        MemoryWav wav(riff(layouts[i], i % 2 ? "riff" : "RIFF", i % 2 ? "wave" : "WAVE"));
        EXPECT_EQ(readAll(wav.reader), expected);
    }
}

TEST(CoreWvfr, QueriesFollowTheOpenItem) {
    std::vector<int16_t> values(2000);
    for (int i = 0; i < 2000; ++i) values[i] = static_cast<int16_t>(i * 7);
    MemoryWav wav(wavtest::simple(1, 2, 48000, 16, wavtest::bytesOf(values)));
    CoreWvfr& r = wav.reader;
    const auto queries = [&] {
        return std::vector{r.getca(), r.getrr(), r.getrt(), r.getdr(true), r.getdr(false), r.getdw()};
    };
    double left[1000], right[1000];
    EXPECT_EQ(queries(), (std::vector<int32_t>{-1, -1, -1, -1, -1, -1})); // nothing open
    EXPECT_EQ(r.getdt(10, left, right) + r.getdt(10), 0);
    r.open_("x.wav");
    EXPECT_EQ(queries(), (std::vector<int32_t>{2, 48000, 48000, 1000, 1000, 1000}));
    EXPECT_TRUE(r.getdt(300) == 300 && r.getdt(5, left, right) == 5 && right[4] == 609 * 7 / 32767.0);
    EXPECT_TRUE(r.imprt("X.WAV", left, right) == 1000 && r.getdw() == -1); // imprt closes
    r.clefs();
    EXPECT_EQ(wav.store.getit("X.WAV"), -1);
}

// Converting, the reader scales by the inverse of the ratio (1/2 for 2x) unless raw was asked when
// its converter was made, and converting down a short request is met from its own buffers without
// writing past the frames asked.
TEST(CoreWvfr, ConvertsWithTheGainCorrectionAndNeverWritesPastTheFramesAsked) {
    std::vector<int16_t> values(1500);
    for (int i = 0; i < 1500; ++i) values[i] = static_cast<int16_t>(i * 13 % 16384);
    MemoryWav raw(wavtest::simple(1, 1, 44100, 16, wavtest::bytesOf(values))), scaled(raw.bytes);
    raw.reader.setfr(88200, true);
    raw.reader.setfr(88200, false); // the first call decides
    scaled.reader.setfr(88200, false);
    const Samples r = readAll(raw.reader), s = readAll(scaled.reader);
    ASSERT_EQ(s.left.size(), 3000u);
    for (int i = 0; i < 3000; ++i) ASSERT_EQ(s.left[i], r.left[i] * 0.5) << i;
    EXPECT_GT(largestMagnitude(r.left), 0.4);

    MemoryWav down(wavtest::simple(1, 1, 88200, 16, wavtest::bytesOf(std::vector<int16_t>(4001, 1000))));
    down.reader.setfr(44100, false);
    down.reader.open_("X.WAV");
    std::vector<double> left(104, kCanary);
    EXPECT_EQ(down.reader.getdt(100, left.data(), nullptr), 100);
    EXPECT_EQ(left[100], kCanary);
}

TEST_F(CoreWvfrFiles, BadFilesThrowNamingTheItemAndLeaveItClosed) {
    const std::string data = wavtest::bytesOf(std::vector<int16_t>{1, 2, 3, 4});
    const std::string fmt = fmtBody(1, 2, 44100, 16);
    const auto withFormat = [&](const std::string& body) { return riff({{"fmt ", body}, {"data", data}}); };
    struct BadFile { const char* reason; std::string bytes; const char* message = ""; };
    const BadFile files[] = {
        {"eleven bytes", std::string("RIFF\0\0\0\0WAV", 11)},
        {"WAVE missing", riff({{"fmt ", fmt}, {"data", data}}, "RIFF", "AVI ")},
        {"no fmt", riff({{"data", data}})},
        {"fmt of 14 bytes", withFormat(fmt.substr(0, 14))},
        {"tag 0x55", withFormat(fmtBody(0x55, 2, 44100, 16))},
        {"channels 0", withFormat(fmtBody(1, 0, 44100, 16))},
        {"bits 4", withFormat(fmtBody(1, 2, 44100, 4))},
        {"bits 40", riff({{"fmt ", fmtBody(1, 1, 44100, 40)}, {"data", data + data}})},
        {"float 24", riff({{"fmt ", fmtBody(3, 1, 44100, 24)}, {"data", data.substr(0, 6)}})},
        {"65538-byte frame", riff({{"fmt ", fmtBody(1, 32769, 8000, 16)}, {"data", std::string(65538, 1)}}),
         "frame of 65538 bytes is too wide"},
        {"rate 2^31", withFormat(fmtBody(1, 2, 0x80000000u, 16))},
        {"chunk size 0xFFFFFFF8", riff({{"fmt ", fmt}, {"LIST", "", true, 0xFFFFFFF8}, {"data", data}})},
        {"data size 0", riff({{"fmt ", fmt}, {"data", ""}})},
        {"data claims one frame more", riff({{"fmt ", fmt}, {"data", data, true, 20}})},
    };
    for (const BadFile& bad : files) {
        SCOPED_TRACE(bad.reason);
        MemoryWav wav(bad.bytes);
        try {
            wav.reader.open_("X.WAV");
            ADD_FAILURE() << "opened";
        } catch (const CoreAnsx& error) {
            EXPECT_NE(log().find(str(error)), std::string::npos) << str(error);
            EXPECT_NE(str(error).find(bad.message), std::string::npos) << str(error);
        }
        EXPECT_EQ(wav.reader.getca(), -1);
    }
    CoreFsys disk(&pool, folder(), false);
    CoreWvfr reader(&pool, &disk, true);
    EXPECT_THROW(reader.open_("NOT/THERE.WAV"), CoreAnsx);
}

TEST_F(CoreWvfrFiles, WritersRoundTripThroughTheReader) {
    std::vector<double> left = randomSignal(700, 9), right = randomSignal(700, 10);
    CoreFsys disk(&pool, folder(), false);
    const CoreAnsx file = at("RT.WAV");
    for (int kind = 0; kind < 8; ++kind) { // streamed or whole image, 64 or 32 bits, 1 or 2 channels
        const bool streamed = kind & 1, double64 = kind & 2;
        const int16_t channels = kind & 4 ? 2 : 1;
        SCOPED_TRACE(kind);
        if (streamed) {
            ASSERT_TRUE(CoreWvfw::exprt(&pool, file, channels, 96000, 700, &left[0], &right[0], double64));
        } else {
            CoreWavs image(&pool, channels, 44100, 700, double64);
            image.setdt(700, left.data(), right.data());
            ASSERT_TRUE(image.write(file));
        }
        disk.init_();
        CoreWvfr reader(&pool, &disk, false);
        reader.open_("RT.WAV");
        EXPECT_TRUE(reader.getrr() == (streamed ? 96000 : 44100) && reader.getdb() == double64);
        Samples expected;
        for (int i = 0; i < 700; ++i) {
            expected.left.push_back(double64 ? left[i] : double(float(left[i])));
            expected.right.push_back(channels == 1 ? kCanary : double64 ? right[i] : double(float(right[i])));
        }
        EXPECT_TRUE(readAll(reader, "RT.WAV") == expected);
    }
}

// Loose files of several read pieces, read from a store holding them open, from one reopening them
// for every call and loaded whole, in one call and in uneven calls after a skip: every result equals
// the expected samples bit for bit and the non-finite samples planted at piece edges are counted.
TEST_F(CoreWvfrFiles, LongAndWideLooseFilesReadInPiecesEqualTheExpectedSamples) {
    struct Format { uint16_t tag, channels, bits; bool single; };
    const Format formats[] = {{1, 2, 16, false},   {1, 5, 24, false},   {3, 1, 32, false},
                              {3, 2, 64, true},    {3, 1, 64, false},   {3, 1, 64, true},
                              {1, 257, 24, false}, {3, 257, 32, false}, {1, 720, 24, false},
                              {3, 720, 32, false}, {3, 16384, 32, false}}; // wide: channels 1 and 2
    std::mt19937 generator(23);
    for (const Format& f : formats) {
        const int width = f.bits / 8, frame = width * f.channels;
        const int32_t frames = 3 * (kPiece / frame) + (frame < 64 ? 4099 : 1);
        std::string data(static_cast<size_t>(frames) * frame, '\0');
        for (char& c : data) c = static_cast<char>(generator() & 0xFF); // random floats, NaN among them
        if (f.tag == 3) // and exact non-finite values on the piece edges
            for (int32_t at : {kPiece, 2 * kPiece - width, static_cast<int32_t>(data.size()) - width})
                std::memcpy(&data[at], width == 8 ? "\0\0\0\0\0\0\xF0\x7F" : "\0\0\x80\xFF", width);
        const std::string name = "LONG_" + std::to_string(f.tag) + "_" + std::to_string(f.channels) + ".wav";
        const int fmtSize = f.channels < 3 ? 16 : 40;
        writeBytes(root / name, wavtest::simple(f.tag, f.channels, 8000, f.bits, data, fmtSize));
        const Samples expected = expectedFrames(data, f.channels, f.tag == 3, width, f.single);
        for (int mode = 0; mode < 3; ++mode) {
            SCOPED_TRACE(testing::Message() << name << (f.single ? " single" : "") << " mode " << mode);
            CoreFsys disk(&pool, folder(), mode == 1);
            CoreWvfr reader(&pool, &disk, mode == 2);
            reader.set32(f.single);
            const size_t logged = log().size();
            EXPECT_TRUE(readAll(reader, name.c_str()) == expected);
            EXPECT_EQ(log().find(" NaN or infinite", logged) != std::string::npos, f.tag == 3);

            // A skip, then calls that end inside pieces and across piece edges.
            Samples parts{std::vector<double>(frames, kCanary), std::vector<double>(frames, kCanary)};
            reader.open_(CoreAnsx(name.c_str()));
            const int32_t skip = std::min(1234, frames / 3);
            ASSERT_EQ(reader.getdt(skip), skip);
            const int32_t calls[] = {1, 4093, kPiece + 1, 7};
            int32_t got = skip;
            for (int call = 0; got < frames; ++call) {
                const int32_t n = reader.getdt(calls[call % 4], &parts.left[got], &parts.right[got]);
                ASSERT_GT(n, 0);
                got += n;
            }
            reader.close();
            EXPECT_EQ(parts.left[skip - 1], kCanary);
            Samples want = expected; // from the skip on
            for (Samples* s : {&parts, &want}) s->left.erase(s->left.begin(), s->left.begin() + skip);
            for (Samples* s : {&parts, &want}) s->right.erase(s->right.begin(), s->right.begin() + skip);
            EXPECT_TRUE(parts == want);
        }
    }
}

// A loose file cut short after it was opened: the read throws naming the item, closes the reader, and
// leaves no raw sample bytes in the caller's arrays (a float64 mono piece is read straight into them).
TEST_F(CoreWvfrFiles, ALooseFileCutShortWhileReadingThrowsAndLeavesNoRawBytes) {
    for (uint16_t channels : {1, 2}) {
        const int32_t frames = 4 * kPiece / (8 * channels);
        const std::string bytes =
            wavtest::simple(3, channels, 44100, 64, std::string(size_t(frames) * 8 * channels, '\xFF'));
        for (bool reopen : {false, true}) {
            SCOPED_TRACE(testing::Message() << channels << " channels" << (reopen ? " reopened" : ""));
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
            for (int32_t i = 0; i < frames; ++i) ASSERT_TRUE(std::isfinite(left[i] + right[i])) << i;
        }
    }
}

// Seeded mutants of valid files, read from in-memory items with the converter off and on: each
// throws or delivers at most the frames getdw announced, and nothing is written past them.
TEST(CoreWvfr, MutantsThrowOrDeliverWithinTheirBounds) {
    std::mt19937 generator(1);
    std::string noise(600, '\0');
    for (char& c : noise) c = static_cast<char>(generator() & 0xFF);
    const std::string valid[] = {
        riff({{"fmt ", fmtBody(1, 2, 44100, 16)}, {"LIST", "INFOISFT\x05\0\0\0abcde"}, {"data", noise}}),
        riff({{"fmt ", fmtBody(1, 2, 44100, 24, 40, 1)}, {"data", noise.substr(0, 6 * 90)}}),
        riff({{"fmt ", fmtBody(3, 1, 44100, 64, 18)}, {"fact", le32(75)}, {"data", noise}}),
    };
    CorePool pool;
    unsigned seed = 20240601;
    for (const std::string& bytes : valid) {
        ByteMutator mutator(seed++);
        ByteMutator::Hints hints; // every chunk's size field and the format fields
        hints.offsets = {4, 20 + 2, 20 + 4, 20 + 14};
        for (size_t at = 12; at + 8 <= bytes.size(); at += 8 + (wavtest::get32(bytes, at + 4) + 1) / 2 * 2)
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
            for (int i = 0; i <= 1000; ++i) {
                // The original first.
                const std::string mutant = i == 0 ? bytes : mutator.mutate(bytes, hints);
                store.setit(id, mutant.data(), static_cast<int32_t>(mutant.size()), "", true, false);
                try {
                    reader.open_("M.WAV");
                } catch (const CoreAnsx&) {
                    ASSERT_NE(i, 0);
                    EXPECT_EQ(reader.getca(), -1);
                    continue;
                }
                ++opened;
                const int32_t room = reader.getdw();
                ASSERT_TRUE(room >= 0 && room <= 2 * int32_t(mutant.size()) + 1); // the ratio is below 2
                std::vector<double> left(room + 8, kCanary), right(room + 8, kCanary);
                try {
                    const int32_t got = reader.getdt(room, left.data(), right.data());
                    EXPECT_TRUE(got >= 0 && got <= room) << got;
                } catch (const CoreAnsx&) {
                }
                for (int k = room; k < room + 8; ++k) ASSERT_TRUE(left[k] == kCanary && right[k] == kCanary);
                reader.close();
            }
            EXPECT_GT(opened, 100); // the mutants are not all rejected at the door
        }
    }
    EXPECT_EQ(pool.getma(), 0);
}

