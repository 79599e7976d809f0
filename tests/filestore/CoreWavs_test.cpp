// CoreWavs: the header golden with zero-filled data, frames stored until the block is full, channel
// counts and sizes the format cannot hold, and whole-file writes.
#include "filestore/CoreWavs.h"

#include "WavBytes.h"
#include "tests/common/FileSizeLimit.h"

using namespace fsystest;
using wavtest::le16;
using wavtest::le32;

template <typename Sample>
std::vector<Sample> samplesOf(const CoreWavs& image) {
    std::string bytes(image.getmd(), '\x55');
    image.wrtmm(bytes.data());
    std::vector<Sample> samples((bytes.size() - 44) / sizeof(Sample));
    std::memcpy(samples.data(), bytes.data() + 44, samples.size() * sizeof(Sample));
    return samples;
}

TEST(CoreWavs, HeaderFollowsTheLayoutAndTheDataStartsZeroFilled) {
    CorePool pool;
    CoreWavs image(&pool, 2, 48000, 10, false);
    ASSERT_EQ(image.getmd(), 124);
    std::string bytes(124, '\x55');
    image.wrtmm(bytes.data());
    EXPECT_EQ(bytes, "RIFF" + le32(116) + "WAVE" + "fmt " + le32(16) + le16(3) + le16(2) + le32(48000) +
                         le32(8 * 48000) + le16(8) + le16(32) + "data" + le32(80) + std::string(80, '\0'));
}

TEST(CoreWavs, StoresFramesUntilTheBlockIsFullWithFurtherChannelsSilent) {
    CorePool pool;
    CoreWavs image(&pool, 2, 44100, 4, true);
    const double left[] = {0.5, -0.25, 1.0 / 3, 4, 5}, right[] = {-1, 2, 3, 7, 9};
    const int32_t stored[] = {image.setdt(3, left, right), image.setdt(3, left + 3, right + 3),
                              image.setdt(1, left, right), image.setdt(-2, left, right)};
    EXPECT_EQ(std::vector<int32_t>(stored, stored + 4), (std::vector<int32_t>{3, 1, 0, 0}));
    EXPECT_EQ(samplesOf<double>(image), (std::vector<double>{0.5, -1, -0.25, 2, 1.0 / 3, 3, 4, 7}));

    CoreWavs three(&pool, 3, 44100, 2, false);
    three.setdt(2, left, nullptr); // a null array is silence
    EXPECT_EQ(samplesOf<float>(three), (std::vector<float>{0.5f, 0, 0, -0.25f, 0, 0}));
}

TEST(CoreWavs, RefusesChannelCountsAndSizesTheFormatCannotHold) {
    struct Row { int16_t channels; int32_t frames; bool double64, refused; };
    const Row rows[] = {{0, 10, false, true},   {257, 10, false, true}, {129, 10, true, true},
                        {128, 10, true, false}, {2, 270000000, true, true}}; // past 4 GiB: refused at once
    CorePool pool;
    for (const Row& r : rows) {
        bool refused = false;
        try {
            CoreWavs image(&pool, r.channels, 44100, r.frames, r.double64);
        } catch (const CoreAnsx&) {
            refused = true;
        }
        EXPECT_EQ(refused, r.refused) << r.channels << " x " << r.frames;
    }
    EXPECT_EQ(pool.getma(), 0);
}

TEST_F(FsysFiles, ImageWriteReplacesTheFileWholeOrNotAtAll) {
    CoreWavs image(&pool, 1, 44100, 3, true);
    const double samples[] = {1, 2, 3};
    image.setdt(3, samples, nullptr);
    std::string expected(image.getmd(), '\0');
    image.wrtmm(expected.data());
    EXPECT_FALSE(image.write(at("missing/out.wav")));
    writeBytes(root / "Out.WAV", "old");
    ASSERT_TRUE(image.write(at("out.wav"))); // lands in the existing file of another case
    EXPECT_EQ(readBytes(root / "Out.WAV"), expected);
    EXPECT_FALSE(fs::exists(root / "out.wav"));
    // A write cut short by the file-size limit reports false and leaves the old file as it was.
    CoreWavs big(&pool, 2, 44100, 4096, true);
    writeBytes(root / "big.wav", "previous");
    EXPECT_EQ(writeUnderFileSizeLimit(4096, [&] { return big.write(at("big.wav")); }), 0);
    EXPECT_EQ(readBytes(root / "big.wav"), "previous");
}

