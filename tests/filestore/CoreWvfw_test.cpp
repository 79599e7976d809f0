#include "filestore/CoreWvfw.h"

#include "FsysFixture.h"
#include "WavBytes.h"
#include "tests/common/FileSizeLimit.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace fsystest;

class CoreWvfwFiles : public FsysFiles {};

TEST_F(CoreWvfwFiles, FileIsCompleteAfterEveryCall) {
    std::vector<double> samples(300);
    for (int i = 0; i < 300; ++i) samples[i] = i * 0.001 - 0.1;
    {
        CoreWvfw writer(&pool, at("stream.wav"), 1, 96000, true);
        ASSERT_FALSE(writer.getfl());
        std::string bytes = readBytes(root / "stream.wav");
        ASSERT_EQ(bytes.size(), 44u);
        EXPECT_EQ(wavtest::parse(bytes).dataSize, 0u);
        int written = 0;
        for (int frames : {128, 128, 44}) {
            writer.setdt(frames, samples.data() + written, nullptr);
            written += frames;
            bytes = readBytes(root / "stream.wav");
            const wavtest::Header h = wavtest::parse(bytes);
            EXPECT_EQ(h.dataSize, bytes.size() - 44);
            EXPECT_EQ(h.dataSize, written * 8u);
            EXPECT_EQ(h.riffSize, h.dataSize + 36);
        }
        EXPECT_FALSE(writer.getfl());
    }
    const std::string bytes = readBytes(root / "stream.wav");
    const wavtest::Header h = wavtest::parse(bytes);
    EXPECT_EQ(h.dataSize, 2400u);
    EXPECT_EQ(h.riffSize, 2436u);
    EXPECT_EQ(h.tag, 3);
    EXPECT_EQ(h.channels, 1);
    EXPECT_EQ(h.rate, 96000u);
    EXPECT_EQ(h.bits, 64);
    EXPECT_EQ(0, std::memcmp(bytes.data() + 44, samples.data(), 2400));
}

TEST_F(CoreWvfwFiles, StaticWritersGiveWholeFiles) {
    const double samples[] = {0.25, -0.5, 0.125};
    ASSERT_TRUE(CoreWvfw::wfile(&pool, at("one.wav"), samples, 3, false));
    std::string bytes = readBytes(root / "one.wav");
    wavtest::Header h = wavtest::parse(bytes);
    EXPECT_EQ(h.channels, 1);
    EXPECT_EQ(h.rate, 44100u);
    EXPECT_EQ(h.bits, 32);
    EXPECT_EQ(h.dataSize, 12u);
    float stored[3];
    std::memcpy(stored, bytes.data() + 44, 12);
    EXPECT_EQ(stored[2], 0.125f);

    const double right[] = {1, 2, 3};
    ASSERT_TRUE(CoreWvfw::exprt(&pool, at("two.wav"), 2, 48000, 3, samples, right, true));
    bytes = readBytes(root / "two.wav");
    h = wavtest::parse(bytes);
    EXPECT_EQ(h.blockAlign, 16);
    EXPECT_EQ(h.byteRate, 16u * 48000);
    double frame[2];
    std::memcpy(frame, bytes.data() + 44 + 16, 16);
    EXPECT_EQ(frame[0], -0.5);
    EXPECT_EQ(frame[1], 2.0);
    EXPECT_EQ(pool.getma(), 0);
}

TEST_F(CoreWvfwFiles, SingleSamplesAndWideFramesArePiecedInWholeFrames) {
    std::vector<float> left(200), right(200);
    for (int i = 0; i < 200; ++i) {
        left[i] = i * 0.5f;
        right[i] = -i * 0.25f;
    }
    {
        CoreWvfw writer(&pool, at("three.wav"), 3, 44100,
                        false); // 12-byte frames: 85 per piece
        writer.setdt(200, left.data(), right.data());
        EXPECT_FALSE(writer.getfl());
    }
    const std::string bytes = readBytes(root / "three.wav");
    ASSERT_EQ(bytes.size(), 44u + 200 * 12);
    for (int i = 0; i < 200; ++i) {
        float frame[3];
        std::memcpy(frame, bytes.data() + 44 + 12 * i, 12);
        ASSERT_EQ(frame[0], left[i]);
        ASSERT_EQ(frame[1], right[i]);
        ASSERT_EQ(frame[2], 0.0f);
    }
}

TEST_F(CoreWvfwFiles, ExistingFileOfAnyCaseIsTheOneReplaced) {
    writeBytes(root / "Take.WAV", std::string(500, 'x'));
    const double samples[] = {1};
    ASSERT_TRUE(CoreWvfw::wfile(&pool, at("TAKE.wav"), samples, 1, true));
    EXPECT_EQ(readBytes(root / "Take.WAV").size(), 52u);
    EXPECT_EQ(entries(root), 1 + static_cast<int>(fs::exists(root / "fsys.log")));
}

TEST_F(CoreWvfwFiles, FailuresAreRecordedAndStopTheWriting) {
    const double samples[] = {1, 2};
    CoreWvfw missing(&pool, at("no/such/folder.wav"), 1, 44100, true);
    EXPECT_TRUE(missing.getfl());
    missing.setdt(2, samples, nullptr);
    EXPECT_FALSE(CoreWvfw::wfile(&pool, at("no/such/folder.wav"), samples, 2, true));
    CoreWvfw none(&pool, at("none.wav"), 0, 44100, true);
    EXPECT_TRUE(none.getfl());
    EXPECT_FALSE(fs::exists(root / "none.wav"));
    EXPECT_FALSE(CoreWvfw::exprt(&pool, at("wide.wav"), 129, 44100, 2, samples, samples, true));
    EXPECT_FALSE(fs::exists(root / "wide.wav"));

    // A disk that fills up mid-file: the header never claims more than the file
    // holds.
    std::vector<double> many(4096, 0.5);
    const auto writeFull = [&] {
        return CoreWvfw::exprt(&pool, at("full.wav"), 2, 44100, 4096, many.data(), many.data(), true);
    };
    EXPECT_EQ(writeUnderFileSizeLimit(10000, writeFull), 0) << "the cut write reported success";
    const std::string bytes = readBytes(root / "full.wav");
    ASSERT_GE(bytes.size(), 44u);
    EXPECT_LE(wavtest::parse(bytes).dataSize, bytes.size() - 44);
}

} // namespace
