// CoreWave: copies and merges bounded by both buffers, leaving other channels alone, also within
// one buffer.
#include "filestore/CoreWave.h"
#include "base/CorePool.h"

#include <gtest/gtest.h>

// Fills channel c with base + 100 c + i.
void fill(CoreWave& wave, double base) {
    for (int16_t c = 0; c < wave.getch(); ++c)
        for (int32_t i = 0; i < wave.getdm(); ++i) wave.getwv(c)[i] = base + 100 * c + i;
}

std::vector<double> channel(CoreWave& wave, int16_t c) {
    return std::vector<double>(wave.getwv(c), wave.getwv(c) + wave.getdm());
}

TEST(CoreWave, CopyAndMergeAreLimitedByBothBuffersAndLeaveOtherChannelsAlone) {
    struct Row {
        int32_t sourceLength;
        int16_t sourceChannels;
        int32_t at, n, fromAt;
        bool merge;
        std::vector<double> first, last;
    };
    // Target 6 x 2 channels holding 1 + 100 c + i; the source holds 1000 + 100 c + i.
    const Row rows[] = {
        {6, 2, 4, 10, 3, true, {1, 2, 3, 4, 1008, 1010}, {101, 102, 103, 104, 1208, 1210}}, // the target ends
        // The source ends:
        {4, 2, 0, 10, 2, false, {1002, 1003, 3, 4, 5, 6}, {1102, 1103, 103, 104, 105, 106}},
        {6, 1, 0, 6, 0, false, {1000, 1001, 1002, 1003, 1004, 1005}, {101, 102, 103, 104, 105, 106}},
        {6, 2, -1, 4, 0, true, {1, 2, 3, 4, 5, 6}, {101, 102, 103, 104, 105, 106}}, // negatives do nothing
        {4, 2, 0, 4, 4, false, {1, 2, 3, 4, 5, 6}, {101, 102, 103, 104, 105, 106}}, // nothing left
    };
    CorePool pool;
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << (r.merge ? "merge " : "copy ") << r.at << " " << r.n << " from "
                                        << r.fromAt << " of " << r.sourceLength << " x " << r.sourceChannels);
        CoreWave target(&pool, 6, 2), source(&pool, r.sourceLength, r.sourceChannels);
        fill(target, 1);
        fill(source, 1000);
        r.merge ? target.merge(r.at, r.n, &source, r.fromAt) : target.copy_(r.at, r.n, &source, r.fromAt);
        EXPECT_EQ(channel(target, 0), r.first);
        EXPECT_EQ(channel(target, 1), r.last);
        target.copy_(0, 4, nullptr, 0);
    }
    // Within one buffer, overlapping either way, every sample is read before it changes.
    CoreWave self(&pool, 6, 1);
    fill(self, 1);
    self.merge(1, 5, &self, 0);
    EXPECT_EQ(channel(self, 0), (std::vector<double>{1, 3, 5, 7, 9, 11}));
    fill(self, 1);
    self.merge(0, 5, &self, 1);
    EXPECT_EQ(channel(self, 0), (std::vector<double>{3, 5, 7, 9, 11, 6}));
}

