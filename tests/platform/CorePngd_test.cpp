#include "platform/CorePngd.h"

#include "platform/CorePict.h"
#include "tests/common/PngWriter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>

namespace {

std::unique_ptr<CorePict> decode(const std::string& bytes) {
    return std::unique_ptr<CorePict>(
        CorePngd::decod(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
}

// A sample that differs in every pixel, channel and row, so that row order, channel order and
// interlacing mistakes all show; 16 bits wide when deep.
unsigned sample(int x, int y, int channel, bool deep) {
    return deep ? (x * 4099 + y * 30011 + channel * 12347 + 129) & 0xFFFF
                : (x * 37 + y * 91 + channel * 53 + 11) & 0xFF;
}

} // namespace

TEST(CorePngd, DecodesEveryColourTypeIntoStraightRgba) {
    const int w = 13, h = 11; // odd sizes exercise every Adam7 pass
    // colour type, bits, interlaced
    const int rows[][3] = {{PNG_COLOR_TYPE_RGBA, 8, 0},  {PNG_COLOR_TYPE_RGB, 8, 0},
                           {PNG_COLOR_TYPE_GRAY, 8, 0},  {PNG_COLOR_TYPE_GRAY_ALPHA, 8, 0},
                           {PNG_COLOR_TYPE_RGBA, 8, 1},  {PNG_COLOR_TYPE_PALETTE, 8, 0},
                           {PNG_COLOR_TYPE_RGBA, 16, 0}, {PNG_COLOR_TYPE_GRAY, 16, 0}};
    for (const auto& [colorType, bits, interlaced] : rows) {
        SCOPED_TRACE(testing::Message() << "colour type " << colorType << ", " << bits << " bits");
        pngtest::Image image{w, h, colorType, bits, interlaced == 1, {}, {}, {}};
        for (int i = 0; i < 16; ++i) // entries 6 .. 15 stay opaque
            image.palette.push_back(png_color{png_byte(i * 16), png_byte(255 - i * 7), png_byte(i * 3 + 1)});
        image.transparent = {0, 40, 128, 200, 255, 7};
        const bool palette = colorType == PNG_COLOR_TYPE_PALETTE;
        const int channels = colorType == PNG_COLOR_TYPE_RGBA         ? 4
                             : colorType == PNG_COLOR_TYPE_RGB        ? 3
                             : colorType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2
                                                                      : 1;
        std::vector<uint8_t> expected;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                unsigned v[4];
                for (int c = 0; c < channels; ++c) {
                    v[c] = palette ? (x + 3 * y) % 16 : sample(x, y, c, bits == 16);
                    if (bits == 16) image.rows.push_back(uint8_t(v[c] >> 8));
                    image.rows.push_back(uint8_t(v[c]));
                    if (bits == 16) v[c] = unsigned(std::lround(v[c] / 257.0)); // rounded to 8 bits
                }
                if (palette) {
                    const png_color& p = image.palette[v[0]];
                    expected.insert(expected.end(), {p.red, p.green, p.blue,
                                                     v[0] < 6 ? image.transparent[v[0]] : uint8_t(255)});
                } else {
                    const bool colour = channels >= 3, alpha = channels % 2 == 0;
                    expected.insert(expected.end(),
                                    {uint8_t(v[0]), uint8_t(v[colour]), uint8_t(v[2 * colour]),
                                     uint8_t(alpha ? v[channels - 1] : 255)});
                }
            }
        if (!palette) {
            image.palette.clear();
            image.transparent.clear();
        }
        const std::unique_ptr<CorePict> picture = decode(pngtest::write(image));
        ASSERT_NE(picture, nullptr);
        ASSERT_EQ(picture->width(), w);
        ASSERT_EQ(picture->height(), h);
        EXPECT_EQ(std::vector<uint8_t>(picture->pixels(), picture->pixels() + picture->bytes()), expected);
    }
}

TEST(CorePngd, DecodesAFileWrittenWithoutLibpng) {
    std::vector<uint8_t> rgba;
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            for (int c = 0; c < 4; ++c) rgba.push_back(uint8_t(sample(x, y, c, false)));
    const std::unique_ptr<CorePict> picture = decode(pngtest::handmade(6, 5, rgba));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(picture->bytes(), rgba.size());
    EXPECT_EQ(std::vector<uint8_t>(picture->pixels(), picture->pixels() + picture->bytes()), rgba);
    EXPECT_EQ(picture->pixel(5, 4)[3], rgba.back()); // rows top to bottom, without padding
}

TEST(CorePngd, RefusesOtherFormatsDamageAndOversizedHeadersBeforeTakingPixelMemory) {
    const std::string good = pngtest::handmade(8, 8, std::vector<uint8_t>(256, 0x80));
    ASSERT_NE(decode(good), nullptr);
    std::string badCrc = good;
    badCrc[20] ^= 0x01; // inside IHDR: its CRC no longer matches
    // A header alone, declaring the size; the pixel data never comes.
    const auto declared = [](uint32_t width, uint32_t height) {
        return pngtest::header(width, height, 8, PNG_COLOR_TYPE_RGBA) + pngtest::chunk("IEND", "");
    };
    const std::string bad[] = {"",
                               "BM" + std::string(60, '\0'),
                               std::string("RIFF\x24\0\0\0WAVEfmt ", 16) + std::string(28, '\0'),
                               good.substr(0, 8),
                               good.substr(0, 20),
                               good.substr(0, good.size() / 2),
                               badCrc,
                               declared(0, 10),
                               declared(10, 0),
                               declared(16385, 1),
                               declared(1, 16385),
                               declared(4097, 4097), // more than 2^24 pixels
                               declared(16384, 16384),
                               declared(16, 16)};
    for (size_t i = 0; i < std::size(bad); ++i) EXPECT_EQ(decode(bad[i]), nullptr) << "case " << i;
    EXPECT_NE(decode(good.substr(0, good.size() - 12)), nullptr); // only IEND missing: every pixel is there
    EXPECT_EQ(CorePngd::decod(nullptr, 100), nullptr);
    for (const auto& [width, height] : {std::pair{0, 7}, {5, -1}})
        EXPECT_EQ(CorePict(width, height).bytes(), 0u);
    CorePict small(3, 2);
    EXPECT_EQ(std::vector<uint8_t>(small.pixels(), small.pixels() + small.bytes()),
              std::vector<uint8_t>(24, 0));
}
