// CoreHfsy: failures (missing, cut or foreign files, no store) that give no picture and leave the
// outputs alone, and mutated PNGs that give none or a consistent one.
#include "filestore/CoreHfsy.h"

#include "FsysFixture.h"
#include "platform/CorePict.h"
#include "tests/common/ByteMutator.h"
#include "tests/common/PngWriter.h"

#include <memory>

using namespace fsystest;

// A picture whose bytes run as a gradient; palette pictures get 256 colours and some transparency.
pngtest::Image gradient(int width, int height, int colorType, int bitDepth, bool interlaced) {
    pngtest::Image image{width, height, colorType, bitDepth, interlaced, {}, {}, {}};
    const int channels = colorType == PNG_COLOR_TYPE_RGBA ? 4 : colorType == PNG_COLOR_TYPE_RGB ? 3 : 1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * channels * bitDepth / 8; ++x) image.rows.push_back(uint8_t(x * 7 + y));
    for (int i = 0; colorType == PNG_COLOR_TYPE_PALETTE && i < 256; ++i)
        image.palette.push_back(png_color{png_byte(i), png_byte(255 - i), png_byte(i * 5)});
    if (colorType == PNG_COLOR_TYPE_PALETTE) image.transparent = {0, 64, 128, 192};
    return image;
}

class CoreHfsyFiles : public FsysFiles {
protected:
    std::unique_ptr<CorePict> load(CoreFsys& store, const char* name) {
        return std::unique_ptr<CorePict>(CoreHfsy::ldimg(&store, name, width, height, notPng));
    }
    int32_t width = -5, height = -6;
    bool notPng = true;
};

TEST_F(CoreHfsyFiles, FailuresGiveNullAndLeaveTheOutputsAlone) {
    const std::string png = pngtest::write(gradient(16, 16, PNG_COLOR_TYPE_RGB, 8, false));
    CoreFsys store(&pool, folder(), false);
    put(store, "CUT.PNG", png.substr(0, png.size() - 40));
    put(store, "BITMAP.PNG", std::string("BM") + std::string(100, '\x11'));
    for (const char* name : {"missing.png", "CUT.PNG", "BITMAP.PNG", ""}) {
        EXPECT_EQ(load(store, name), nullptr) << name;
        EXPECT_TRUE(width == -5 && height == -6 && notPng) << name;
    }
    EXPECT_EQ(CoreHfsy::ldimg(nullptr, "x.png", width, height, notPng), nullptr);
    EXPECT_NE(log().find("CUT.PNG"), std::string::npos);
}

TEST_F(CoreHfsyFiles, MutatedPngsGiveNullOrAConsistentPicture) {
    const std::string seeds[] = {
        pngtest::write(gradient(12, 9, PNG_COLOR_TYPE_RGBA, 8, false)),
        pngtest::write(gradient(10, 10, PNG_COLOR_TYPE_PALETTE, 8, false)),
        pngtest::write(gradient(11, 7, PNG_COLOR_TYPE_RGB, 16, true)),
    };
    ByteMutator::Hints hints;
    hints.offsets = {8, 16, 20, 24, 33, 37}; // IHDR length, width, height, depth/type; IDAT length and type
    ByteMutator mutator(4711);
    CoreFsys store(&pool);
    const int32_t id = store.crtit("M.PNG");
    int decoded = 0, refused = 0;
    for (const std::string& seed : seeds) {
        ASSERT_FALSE(seed.empty());
        for (int i = 0; i < 1000; ++i) {
            std::string bytes = mutator.mutate(seed, hints);
            if (i % 2 == 1) pngtest::fixCrcs(bytes); // past the CRC checks, into the chunk parsers
            ASSERT_TRUE(
                store.setit(id, bytes.data(), static_cast<int32_t>(bytes.size()), CoreAnsx(""), true, false));
            int32_t w = -1, h = -1;
            bool flag = true;
            std::unique_ptr<CorePict> picture(CoreHfsy::ldimg(&store, "M.PNG", w, h, flag));
            if (!picture) {
                ++refused;
                EXPECT_EQ(w, -1);
                continue;
            }
            ++decoded;
            ASSERT_TRUE(w > 0 && h > 0 && picture->width() == w && picture->height() == h &&
                        picture->pixels());
            ASSERT_EQ(picture->bytes(), static_cast<size_t>(w) * static_cast<size_t>(h) * 4);
        }
    }
    // Both outcomes occur, so the mutants reach the decoder's inner paths.
    EXPECT_GT(decoded, 0);
    EXPECT_GT(refused, 0);
    store.init_();
    EXPECT_EQ(pool.getma(), 0);
}

