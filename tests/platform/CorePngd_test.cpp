#include "platform/CorePngd.h"

#include "tests/common/PngWriter.h"
#include "platform/CorePict.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using pngtest::Image;

struct Rgba {
    uint8_t r, g, b, a;
};

std::unique_ptr<CorePict> decode(const std::string& bytes) {
    return std::unique_ptr<CorePict>(
        CorePngd::decod(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

void expectPixels(const CorePict& picture, int width, int height, const std::vector<Rgba>& expected,
                  const char* what) {
    ASSERT_EQ(picture.width(), width) << what;
    ASSERT_EQ(picture.height(), height) << what;
    ASSERT_EQ(picture.bytes(), static_cast<size_t>(width) * height * 4) << what;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Rgba& e = expected[static_cast<size_t>(y) * width + x];
            const uint8_t* p = picture.pixel(x, y);
            ASSERT_EQ(p[0], e.r) << what << " at " << x << "," << y;
            ASSERT_EQ(p[1], e.g) << what << " at " << x << "," << y;
            ASSERT_EQ(p[2], e.b) << what << " at " << x << "," << y;
            ASSERT_EQ(p[3], e.a) << what << " at " << x << "," << y;
        }
}

// A sample value that differs in every pixel, channel and row, so that row order, channel order and
// interlacing mistakes all show.
uint8_t sample(int x, int y, int channel) {
    return static_cast<uint8_t>((x * 37 + y * 91 + channel * 53 + 11) & 0xFF);
}

uint16_t sample16(int x, int y, int channel) {
    return static_cast<uint16_t>((x * 4099 + y * 30011 + channel * 12347 + 129) & 0xFFFF);
}

uint8_t div257(uint16_t v) {
    return static_cast<uint8_t>(std::lround(v / 257.0));
}

Image eightBit(int width, int height, int colorType, int channels, bool interlaced) {
    Image image;
    image.width = width;
    image.height = height;
    image.colorType = colorType;
    image.interlaced = interlaced;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c) image.rows.push_back(sample(x, y, c));
    return image;
}

TEST(CorePngd, DecodesEveryColourTypeIntoStraightRgba) {
    const int w = 13, h = 11; // odd sizes exercise every Adam7 pass
    struct Case {
        const char* what;
        Image image;
        std::vector<Rgba> expected;
    };
    std::vector<Case> cases;
    auto expect = [&](int channels, auto pick) {
        std::vector<Rgba> pixels;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) pixels.push_back(pick(x, y));
        (void)channels;
        return pixels;
    };
    cases.push_back({"rgba", eightBit(w, h, PNG_COLOR_TYPE_RGBA, 4, false), expect(4, [](int x, int y) {
                         return Rgba{sample(x, y, 0), sample(x, y, 1), sample(x, y, 2), sample(x, y, 3)};
                     })});
    cases.push_back({"rgb", eightBit(w, h, PNG_COLOR_TYPE_RGB, 3, false), expect(3, [](int x, int y) {
                         return Rgba{sample(x, y, 0), sample(x, y, 1), sample(x, y, 2), 255};
                     })});
    cases.push_back({"grey", eightBit(w, h, PNG_COLOR_TYPE_GRAY, 1, false), expect(1, [](int x, int y) {
                         const uint8_t g = sample(x, y, 0);
                         return Rgba{g, g, g, 255};
                     })});
    cases.push_back(
        {"grey + alpha", eightBit(w, h, PNG_COLOR_TYPE_GRAY_ALPHA, 2, false), expect(2, [](int x, int y) {
             const uint8_t g = sample(x, y, 0);
             return Rgba{g, g, g, sample(x, y, 1)};
         })});
    cases.push_back(
        {"rgba interlaced", eightBit(w, h, PNG_COLOR_TYPE_RGBA, 4, true), expect(4, [](int x, int y) {
             return Rgba{sample(x, y, 0), sample(x, y, 1), sample(x, y, 2), sample(x, y, 3)};
         })});

    Image palette;
    palette.width = w;
    palette.height = h;
    palette.colorType = PNG_COLOR_TYPE_PALETTE;
    for (int i = 0; i < 16; ++i)
        palette.palette.push_back(png_color{static_cast<png_byte>(i * 16), static_cast<png_byte>(255 - i * 7),
                                            static_cast<png_byte>(i * 3 + 1)});
    palette.transparent = {0, 40, 128, 200, 255, 7}; // entries 6 .. 15 stay opaque
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) palette.rows.push_back(static_cast<uint8_t>((x + 3 * y) % 16));
    std::vector<Rgba> palettePixels;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int i = (x + 3 * y) % 16;
            const png_color& c = palette.palette[i];
            palettePixels.push_back(
                Rgba{c.red, c.green, c.blue, i < 6 ? palette.transparent[i] : uint8_t(255)});
        }
    cases.push_back({"palette with tRNS", palette, palettePixels});

    for (int colorType : {PNG_COLOR_TYPE_RGBA, PNG_COLOR_TYPE_GRAY}) {
        const int channels = colorType == PNG_COLOR_TYPE_RGBA ? 4 : 1;
        Image deep;
        deep.width = w;
        deep.height = h;
        deep.colorType = colorType;
        deep.bitDepth = 16;
        std::vector<Rgba> pixels;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                for (int c = 0; c < channels; ++c) {
                    const uint16_t v = sample16(x, y, c);
                    deep.rows.push_back(static_cast<uint8_t>(v >> 8));
                    deep.rows.push_back(static_cast<uint8_t>(v & 0xFF));
                }
                if (channels == 4)
                    pixels.push_back(Rgba{div257(sample16(x, y, 0)), div257(sample16(x, y, 1)),
                                          div257(sample16(x, y, 2)), div257(sample16(x, y, 3))});
                else {
                    const uint8_t g = div257(sample16(x, y, 0));
                    pixels.push_back(Rgba{g, g, g, 255});
                }
            }
        cases.push_back({channels == 4 ? "16-bit rgba" : "16-bit grey", deep, pixels});
    }

    for (const Case& c : cases) {
        const std::string bytes = pngtest::write(c.image);
        ASSERT_FALSE(bytes.empty()) << c.what;
        const std::unique_ptr<CorePict> picture = decode(bytes);
        ASSERT_NE(picture, nullptr) << c.what;
        expectPixels(*picture, w, h, c.expected, c.what);
    }
}

// IHDR-only file of the given size; the pixel data never comes.
std::string headerOnly(uint32_t width, uint32_t height) {
    std::string bytes("\x89PNG\r\n\x1a\n", 8);
    auto put32 = [&](uint32_t v) {
        for (int i = 3; i >= 0; --i) bytes += static_cast<char>((v >> (8 * i)) & 0xFF);
    };
    put32(13);
    const size_t typeAt = bytes.size();
    bytes += "IHDR";
    put32(width);
    put32(height);
    bytes += std::string("\x08\x06\x00\x00\x00", 5);
    put32(pngtest::crc32(bytes, typeAt, 17));
    put32(0);
    bytes += "IEND";
    put32(pngtest::crc32(bytes, bytes.size() - 4, 4));
    return bytes;
}

TEST(CorePngd, RefusesOtherFormatsDamageAndOversizedHeaders) {
    const std::string good = pngtest::write(eightBit(8, 8, PNG_COLOR_TYPE_RGB, 3, false));
    ASSERT_NE(decode(good), nullptr);
    const std::string bmp = std::string("BM", 2) + std::string(60, '\0');
    const std::string wav = std::string("RIFF\x24\0\0\0WAVEfmt ", 16) + std::string(28, '\0');
    std::string badCrc = good;
    badCrc[20] ^= 0x01; // inside IHDR: its CRC no longer matches
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"bmp", bmp},
        {"wav", wav},
        {"signature only", good.substr(0, 8)},
        {"truncated header", good.substr(0, 20)},
        {"truncated data", good.substr(0, good.size() / 2)},
        {"damaged header", badCrc},
        {"width 0", headerOnly(0, 10)},
        {"height 0", headerOnly(10, 0)},
        {"width above 16384", headerOnly(16385, 1)},
        {"height above 16384", headerOnly(1, 16385)},
        {"more than 2^24 pixels", headerOnly(4097, 4097)},
        {"huge declared size", headerOnly(16384, 16384)},
        {"no pixel data", headerOnly(16, 16)},
    };
    for (const auto& c : cases) EXPECT_EQ(decode(c.bytes), nullptr) << c.what;
    // Only the closing IEND chunk missing: every pixel is there, and the picture is kept.
    EXPECT_NE(decode(good.substr(0, good.size() - 12)), nullptr);
    EXPECT_EQ(CorePngd::decod(nullptr, 100), nullptr);
}

TEST(CorePngd, DecodesAFileWrittenByAnIndependentEncoder) {
    if (std::system("python3 -c pass >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 is not installed";
    const std::filesystem::path path =
        std::filesystem::temp_directory_path() /
        ("CorePngd_python_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".png");
    const std::string script =
        "import struct, zlib, sys\n"
        "w, h = 6, 5\n"
        "def chunk(t, d): return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & "
        "0xffffffff)\n"
        "raw = b''.join(b'\\x00' + bytes(((x * 37 + y * 91 + c * 53 + 11) & 255) for x in range(w) for c in "
        "range(4)) "
        "for y in range(h))\n"
        "png = b'\\x89PNG\\r\\n\\x1a\\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 6, 0, 0, 0)) + "
        "chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')\n"
        "open(sys.argv[1], 'wb').write(png)\n";
    const std::string command = "python3 -c \"" +
                                [&] {
                                    std::string escaped;
                                    for (char c : script) {
                                        if (c == '"' || c == '\\' || c == '$' || c == '`') escaped += '\\';
                                        escaped += c;
                                    }
                                    return escaped;
                                }() +
                                "\" '" + path.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    std::filesystem::remove(path);
    const std::unique_ptr<CorePict> picture = decode(bytes.str());
    ASSERT_NE(picture, nullptr);
    std::vector<Rgba> expected;
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            expected.push_back(Rgba{sample(x, y, 0), sample(x, y, 1), sample(x, y, 2), sample(x, y, 3)});
    expectPixels(*picture, 6, 5, expected, "python");
}

TEST(CorePict, EmptySizesGiveAnEmptyPicture) {
    CorePict empty(0, 7);
    EXPECT_EQ(empty.width(), 0);
    EXPECT_EQ(empty.height(), 0);
    EXPECT_EQ(empty.bytes(), 0u);
    CorePict negative(5, -1);
    EXPECT_EQ(negative.bytes(), 0u);
    CorePict small(3, 2);
    ASSERT_NE(small.pixels(), nullptr);
    for (size_t i = 0; i < small.bytes(); ++i) EXPECT_EQ(small.pixels()[i], 0);
}

} // namespace
