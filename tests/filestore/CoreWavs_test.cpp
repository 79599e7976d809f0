#include "filestore/CoreWavs.h"

#include "FsysFixture.h"
#include "WavBytes.h"
#include "tests/common/FileSizeLimit.h"

#include <gtest/gtest.h>

namespace {

using namespace fsystest;
using wavtest::le16;

class CoreWavsFiles : public FsysFiles {};

TEST(CoreWavs, HeaderOfAStereoSingleImageFollowsTheLayout) {
    CorePool pool;
    CoreWavs image(&pool, 2, 48000, 10, false);
    EXPECT_EQ(image.getmd(), 124);
    std::string bytes(124, '\x55');
    image.wrtmm(bytes.data());
    const std::string expected = std::string("RIFF") + wavtest::le32(116) + "WAVE" + "fmt " +
                                 wavtest::le32(16) + le16(3) + le16(2) + wavtest::le32(48000) +
                                 wavtest::le32(8 * 48000) + le16(8) + le16(32) + "data" + wavtest::le32(80);
    EXPECT_EQ(bytes.substr(0, 44), expected);
    EXPECT_EQ(bytes.substr(44), std::string(80, '\0')); // the data block starts zero-filled
}

TEST(CoreWavs, StoresFramesUntilTheBlockIsFull) {
    CorePool pool;
    CoreWavs image(&pool, 2, 44100, 4, true);
    const double left[] = {0.5, -0.25, 1.0 / 3, 4, 5};
    const double right[] = {-1, 2, 3, 7, 9};
    EXPECT_EQ(image.setdt(3, left, right), 3);
    EXPECT_EQ(image.setdt(3, left + 3, right + 3), 1);
    EXPECT_EQ(image.setdt(1, left, right), 0);
    EXPECT_EQ(image.setdt(-2, left, right), 0);
    std::string bytes(image.getmd(), '\0');
    image.wrtmm(bytes.data());
    double stored[8];
    std::memcpy(stored, bytes.data() + 44, sizeof stored);
    const double expected[8] = {0.5, -1, -0.25, 2, 1.0 / 3, 3, 4, 7};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(stored[i], expected[i]) << i;
}

TEST(CoreWavs, MonoTakesNoRightAndFurtherChannelsAreSilent) {
    CorePool pool;
    CoreWavs mono(&pool, 1, 44100, 2, false);
    const double left[] = {0.5, 0.75};
    EXPECT_EQ(mono.setdt(2, left, nullptr), 2);
    std::string bytes(mono.getmd(), '\0');
    mono.wrtmm(bytes.data());
    float stored[2];
    std::memcpy(stored, bytes.data() + 44, 8);
    EXPECT_EQ(stored[0], 0.5f);
    EXPECT_EQ(stored[1], 0.75f);

    CoreWavs three(&pool, 3, 44100, 2, false);
    const double right[] = {-0.5, -0.75};
    three.setdt(2, left, right);
    bytes.assign(three.getmd(), '\0');
    three.wrtmm(bytes.data());
    EXPECT_EQ(wavtest::parse(bytes).blockAlign, 12);
    float frame[6];
    std::memcpy(frame, bytes.data() + 44, sizeof frame);
    EXPECT_EQ(frame[1], -0.5f);
    EXPECT_EQ(frame[2], 0.0f);
    EXPECT_EQ(frame[5], 0.0f);
}

TEST(CoreWavs, RefusesChannelCountsAndSizesTheFormatCannotHold) {
    CorePool pool;
    EXPECT_THROW(CoreWavs(&pool, 0, 44100, 10, false), CoreAnsx);
    EXPECT_THROW(CoreWavs(&pool, -1, 44100, 10, false), CoreAnsx);
    EXPECT_THROW(CoreWavs(&pool, 257, 44100, 10, false), CoreAnsx);
    EXPECT_THROW(CoreWavs(&pool, 129, 44100, 10, true), CoreAnsx);
    EXPECT_NO_THROW(CoreWavs(&pool, 128, 44100, 10, true));
    EXPECT_NO_THROW(CoreWavs(&pool, 256, 44100, 10, false));
    // 2 x 8 x 270,000,000 bytes pass 4 GiB: refused before any allocation.
    EXPECT_THROW(CoreWavs(&pool, 2, 44100, 270000000, true), CoreAnsx);
    EXPECT_EQ(pool.getma(), 0);
}

TEST_F(CoreWavsFiles, WriteReplacesTheFileWholeOrNotAtAll) {
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

    // A write cut short by the file-size limit reports false and leaves the old
    // file as it was.
    CoreWavs big(&pool, 2, 44100, 4096, true);
    writeBytes(root / "big.wav", "previous");
    EXPECT_EQ(writeUnderFileSizeLimit(4096, [&] { return big.write(at("big.wav")); }), 0)
        << "the cut write reported success";
    EXPECT_EQ(readBytes(root / "big.wav"), "previous");
}

} // namespace
