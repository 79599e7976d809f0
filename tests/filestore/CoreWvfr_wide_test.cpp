#include "filestore/CoreWvfr.h"

#include "FsysFixture.h"
#include "WavBytes.h"
#include "filestore/CoreFsys.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace fsystest;

class CoreWvfrWide : public FsysFiles {};

// Interleaved frames of random samples; left and right receive what channels 1 and 2 should read as.
std::string wideData(bool isFloat, int channels, int frames, std::vector<double>& left,
                     std::vector<double>& right) {
    std::mt19937 generator(static_cast<unsigned>(channels));
    std::uniform_int_distribution<int32_t> code(-8388608, 8388607);
    std::string data;
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c) {
            double value;
            if (isFloat) {
                const float sample = static_cast<float>(code(generator)) / 8388608.0f;
                data.append(reinterpret_cast<const char*>(&sample), 4);
                value = sample;
            } else {
                const int32_t sample = code(generator);
                const uint32_t bits = static_cast<uint32_t>(sample);
                for (int b = 0; b < 3; ++b) data += static_cast<char>((bits >> (8 * b)) & 0xFF);
                value = sample / 8388607.0;
            }
            if (c == 0) left.push_back(value);
            if (c == 1) right.push_back(value);
        }
    return data;
}

} // namespace

TEST_F(CoreWvfrWide, FramesUpToOneReadPieceDeliverChannelsOneAndTwo) {
    struct Row {
        uint16_t tag, bits;
        int channels;
    };
    const Row rows[] = {{3, 32, 257}, {1, 24, 257}, {3, 32, 720}, {1, 24, 720}, {3, 32, 16384}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.channels << " channels of " << r.bits << " bits");
        const int frameBytes = r.channels * r.bits / 8;
        const int frames = 3 * (65536 / frameBytes) + 1; // more than three pieces of the reader
        std::vector<double> left, right;
        const std::string data = wideData(r.tag == 3, r.channels, frames, left, right);
        writeBytes(root / "WIDE.WAV",
                   wavtest::riff({{"fmt ", wavtest::fmtBody(r.tag, static_cast<uint16_t>(r.channels), 48000,
                                                            r.bits, 40, r.tag)},
                                  {"data", data}}));
        for (bool whole : {false, true}) {
            CoreFsys disk(&pool, folder(), false);
            CoreWvfr reader(&pool, &disk, whole);
            reader.open_("WIDE.WAV");
            EXPECT_EQ(reader.getca(), r.channels);
            std::vector<double> gotLeft(frames + 1, -7.0), gotRight(frames + 1, -7.0);
            ASSERT_EQ(reader.getdt(frames + 1, gotLeft.data(), gotRight.data()), frames);
            gotLeft.pop_back();
            gotRight.pop_back();
            EXPECT_EQ(gotLeft, left) << (whole ? "loaded whole" : "read in pieces");
            EXPECT_EQ(gotRight, right) << (whole ? "loaded whole" : "read in pieces");
        }
    }
}
