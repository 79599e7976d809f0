// CoreHfsy: pictures decoded whatever the item's name (PNG names clear the not-PNG flag), loose
// files found whatever their case, failures that leave the outputs alone, and mutated PNGs.
#include "filestore/CoreHfsy.h"

#include "FsysFixture.h"
#include "filestore/CoreFsys.h"
#include "platform/CorePict.h"
#include "tests/common/ByteMutator.h"
#include "tests/common/PngWriter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

using namespace fsystest;

pngtest::Image gradient(int width, int height, int colorType, int bitDepth, bool interlaced) {
    pngtest::Image image;
    image.width = width;
    image.height = height;
    image.colorType = colorType;
    image.bitDepth = bitDepth;
    image.interlaced = interlaced;
    const int channels = colorType == PNG_COLOR_TYPE_RGBA ? 4 : colorType == PNG_COLOR_TYPE_RGB ? 3 : 1;
    const int bytes = bitDepth / 8;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width * channels * bytes; ++x)
            image.rows.push_back(static_cast<uint8_t>(x * 7 + y * 29));
    if (colorType == PNG_COLOR_TYPE_PALETTE) {
        for (int i = 0; i < 256; ++i)
            image.palette.push_back(png_color{static_cast<png_byte>(i), static_cast<png_byte>(255 - i),
                                              static_cast<png_byte>(i * 5)});
        image.transparent = {0, 64, 128, 192};
    }
    return image;
}

class CoreHfsyFiles : public FsysFiles {
protected:
    std::unique_ptr<CorePict> load(CoreFsys& store, const char* name) {
        return std::unique_ptr<CorePict>(CoreHfsy::ldimg(&store, name, width, height, notPng));
    }
    int32_t width = -5;
    int32_t height = -6;
    bool notPng = true;
};

std::string pixelsOf(const CorePict& picture) {
    return std::string(reinterpret_cast<const char*>(picture.pixels()), picture.bytes());
}

TEST_F(CoreHfsyFiles, DecodesTheSamePictureWhateverTheNameAndClearsNotPngForPngNamesOnly) {
    const std::string png = pngtest::write(gradient(9, 4, PNG_COLOR_TYPE_RGBA, 8, false));
    CoreFsys store(&pool);
    put(store, "REFERENCE", png);
    const std::string reference = pixelsOf(*load(store, "REFERENCE"));
    struct Row { const char* name; bool notPng; };
    const Row rows[] = {{"x.Png", false}, {"x.bmp", true}, {"png", true}};
    for (const Row& r : rows) {
        put(store, r.name, png);
        notPng = !r.notPng;
        std::unique_ptr<CorePict> picture = load(store, r.name);
        ASSERT_NE(picture, nullptr) << r.name;
        EXPECT_EQ(std::make_pair(width, height), std::make_pair(9, 4)) << r.name;
        EXPECT_EQ(notPng, r.notPng) << r.name;
        EXPECT_EQ(pixelsOf(*picture), reference) << r.name;
    }
    // A loose interlaced grey file, found whatever its case.
    fs::create_directory(root / "skin");
    writeBytes(root / "skin" / "Knob.png", pngtest::write(gradient(3, 7, PNG_COLOR_TYPE_GRAY, 8, true)));
    CoreFsys disk(&pool, folder(), false);
    std::unique_ptr<CorePict> picture = load(disk, "SKIN/KNOB.PNG");
    ASSERT_NE(picture, nullptr);
    EXPECT_EQ(std::make_pair(width, height), std::make_pair(3, 7));
    EXPECT_EQ(picture->pixel(2, 6)[0], static_cast<uint8_t>(2 * 7 + 6 * 29));
    EXPECT_EQ(picture->pixel(2, 6)[3], 255);
}

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

} // namespace
