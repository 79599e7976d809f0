// Tests of the PNG decoder: alpha, 16-bit samples and interlacing into straight RGBA, a file
// written without libpng, and the refusal of other formats, damage and oversized headers before any
// pixel memory is taken.
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

std::vector<uint8_t> pixelsOf(const CorePict& picture) {
    return std::vector<uint8_t>(picture.pixels(), picture.pixels() + picture.bytes());
}

// A sample that differs in every pixel, channel and row, so that row order, channel order and
// interlacing mistakes all show; 16 bits wide when deep.
unsigned sample(int x, int y, int channel, bool deep) {
    return deep ? (x * 4099 + y * 30011 + channel * 12347 + 129) & 0xFFFF
                : (x * 37 + y * 91 + channel * 53 + 11) & 0xFF;
}

} // namespace

TEST(CorePngd, DecodesAlphaDeepSamplesAndInterlacingIntoStraightRgba) {
    const int w = 13, h = 11; // odd sizes exercise every Adam7 pass
    // colour type, channels, bits, interlaced
    const int rows[][4] = {{PNG_COLOR_TYPE_GRAY_ALPHA, 2, 8, 1}, {PNG_COLOR_TYPE_RGB, 3, 16, 0}};
    for (const auto& [colorType, channels, bits, interlaced] : rows) {
        SCOPED_TRACE(testing::Message() << "colour type " << colorType << ", " << bits << " bits");
        pngtest::Image image{w, h, colorType, bits, interlaced == 1, {}, {}, {}};
        std::vector<uint8_t> expected;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                unsigned v[4];
                for (int c = 0; c < channels; ++c) {
                    v[c] = sample(x, y, c, bits == 16);
                    if (bits == 16) image.rows.push_back(uint8_t(v[c] >> 8));
                    image.rows.push_back(uint8_t(v[c]));
                    if (bits == 16) v[c] = unsigned(std::lround(v[c] / 257.0)); // rounded to 8 bits
                }
                const bool colour = channels >= 3, alpha = channels % 2 == 0;
                expected.insert(expected.end(), {uint8_t(v[0]), uint8_t(v[colour]), uint8_t(v[2 * colour]),
                                                 uint8_t(alpha ? v[channels - 1] : 255)});
            }
        const std::unique_ptr<CorePict> picture = decode(pngtest::write(image));
        ASSERT_NE(picture, nullptr);
        ASSERT_TRUE(picture->width() == w && picture->height() == h);
        EXPECT_EQ(pixelsOf(*picture), expected);
    }
}

TEST(CorePngd, DecodesAFileWrittenWithoutLibpng) {
    std::vector<uint8_t> rgba;
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x)
            for (int c = 0; c < 4; ++c) rgba.push_back(uint8_t(sample(x, y, c, false)));
    const std::unique_ptr<CorePict> picture = decode(pngtest::handmade(6, 5, rgba));
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(pixelsOf(*picture), rgba);
    EXPECT_EQ(picture->pixel(5, 4)[3], rgba.back()); // rows top to bottom, without padding
}

TEST(CorePngd, RefusesOtherFormatsDamageAndOversizedHeadersBeforeTakingPixelMemory) {
    const std::string good = pngtest::handmade(8, 8, std::vector<uint8_t>(256, 0x80));
    std::string badCrc = good;
    badCrc[20] ^= 0x01; // inside IHDR: its CRC no longer matches
    // A header alone, declaring the size; the pixel data never comes.
    const auto declared = [](uint32_t width, uint32_t height) {
        return pngtest::header(width, height, 8, PNG_COLOR_TYPE_RGBA) + pngtest::chunk("IEND", "");
    };
    const std::string bad[] = {"BM" + std::string(60, '\0'),
                               good.substr(0, 7),
                               badCrc,
                               good.substr(0, good.size() / 2),
                               declared(0, 10),
                               declared(1, 16385),
                               declared(4097, 4097), // more than 2^24 pixels
                               declared(16, 16)};
    for (size_t i = 0; i < std::size(bad); ++i) EXPECT_EQ(decode(bad[i]), nullptr) << "case " << i;
    EXPECT_NE(decode(good.substr(0, good.size() - 12)), nullptr); // only IEND missing: every pixel is there
    EXPECT_EQ(CorePngd::decod(nullptr, 100), nullptr);
    EXPECT_EQ(CorePict(5, -1).bytes(), 0u);
    CorePict small(3, 2);
    EXPECT_EQ(pixelsOf(small), std::vector<uint8_t>(24, 0));
}
