#include "filestore/CoreWave.h"

#include "base/CorePool.h"

#include <gtest/gtest.h>

namespace {

void fill(CoreWave& wave, double base) {
    for (int16_t c = 0; c < wave.getch(); ++c)
        for (int32_t i = 0; i < wave.getdm(); ++i) wave.getwv(c)[i] = base + 100 * c + i;
}

TEST(CoreWave, AllocatesZeroedChannelsAndAnswersOnlyForThem) {
    CorePool pool;
    {
        CoreWave wave(&pool, 16, 3);
        EXPECT_EQ(wave.getdm(), 16);
        EXPECT_EQ(wave.getch(), 3);
        for (int16_t c = 0; c < 3; ++c) {
            ASSERT_NE(wave.getwv(c), nullptr);
            EXPECT_EQ(wave.getwv()[c], wave.getwv(c));
            for (int i = 0; i < 16; ++i) EXPECT_EQ(wave.getwv(c)[i], 0.0);
        }
        EXPECT_EQ(wave.getwv(3), nullptr);
        EXPECT_EQ(wave.getwv(-1), nullptr);
        fill(wave, 1);
        wave.reset();
        EXPECT_EQ(wave.getwv(2)[15], 0.0);
        CoreWave empty(&pool, -4, -2);
        EXPECT_EQ(empty.getdm(), 0);
        EXPECT_EQ(empty.getch(), 0);
        EXPECT_EQ(empty.getwv(0), nullptr);
    }
    EXPECT_EQ(pool.getma(), 0);
}

TEST(CoreWave, CopyIsLimitedByBothBuffers) {
    CorePool pool;
    CoreWave target(&pool, 20, 2), source(&pool, 20, 2);
    fill(source, 1000);
    target.copy_(18, 10, &source, 3); // L - 2: two samples per channel
    for (int16_t c = 0; c < 2; ++c) {
        EXPECT_EQ(target.getwv(c)[17], 0.0);
        EXPECT_EQ(target.getwv(c)[18], 1000 + 100 * c + 3);
        EXPECT_EQ(target.getwv(c)[19], 1000 + 100 * c + 4);
    }
    CoreWave shortSource(&pool, 5, 2);
    fill(shortSource, 7);
    target.reset();
    target.copy_(0, 10, &shortSource, 2); // the source holds 3 samples from 2
    EXPECT_EQ(target.getwv(0)[0], 9);
    EXPECT_EQ(target.getwv(0)[2], 11);
    EXPECT_EQ(target.getwv(0)[3], 0.0);
    target.copy_(0, 10, &shortSource, 5); // nothing left in the source
    target.copy_(0, 10, &shortSource, 9);
    EXPECT_EQ(target.getwv(1)[0], 109);
}

TEST(CoreWave, ChannelsTheSourceLacksAreLeftUntouched) {
    CorePool pool;
    CoreWave target(&pool, 8, 3), mono(&pool, 8, 1);
    fill(target, 50);
    fill(mono, 1);
    target.copy_(0, 8, &mono, 0);
    EXPECT_EQ(target.getwv(0)[4], 5);
    EXPECT_EQ(target.getwv(1)[4], 154);
    EXPECT_EQ(target.getwv(2)[4], 254);
    target.merge(0, 8, &mono, 0);
    EXPECT_EQ(target.getwv(0)[4], 10);
    EXPECT_EQ(target.getwv(2)[4], 254);
}

TEST(CoreWave, NegativePositionsOrCountsDoNothing) {
    CorePool pool;
    CoreWave target(&pool, 8, 2), source(&pool, 8, 2);
    fill(source, 1);
    for (auto [at, n, fromAt] : {std::tuple{-1, 4, 0}, std::tuple{0, -4, 0}, std::tuple{0, 0, 0},
                                 std::tuple{0, 4, -1}, std::tuple{8, 4, 0}}) {
        target.copy_(at, n, &source, fromAt);
        target.merge(at, n, &source, fromAt);
    }
    target.copy_(0, 4, nullptr, 0);
    for (int16_t c = 0; c < 2; ++c)
        for (int i = 0; i < 8; ++i) EXPECT_EQ(target.getwv(c)[i], 0.0);
}

TEST(CoreWave, MergeAddsUnderTheSameBounds) {
    CorePool pool;
    CoreWave target(&pool, 10, 2), source(&pool, 4, 2);
    fill(target, 1);
    fill(source, 1000);
    target.merge(8, 10, &source, 1); // 2 samples: limited by the target
    EXPECT_EQ(target.getwv(1)[8], 109 + 1101);
    EXPECT_EQ(target.getwv(1)[9], 110 + 1102);
    EXPECT_EQ(target.getwv(1)[7], 108);
    target.merge(0, 10, &source, 2); // 2 samples: limited by the source
    EXPECT_EQ(target.getwv(0)[1], 2 + 1003);
    EXPECT_EQ(target.getwv(0)[2], 3);
    // Within one buffer, overlapping in either direction, every sample is read
    // before it changes.
    CoreWave self(&pool, 6, 1);
    fill(self, 1); // 1 2 3 4 5 6
    self.merge(1, 5, &self, 0);
    EXPECT_EQ(self.getwv(0)[5], 6 + 5);
    EXPECT_EQ(self.getwv(0)[1], 2 + 1);
    fill(self, 1);
    self.merge(0, 5, &self, 1);
    EXPECT_EQ(self.getwv(0)[0], 1 + 2);
    EXPECT_EQ(self.getwv(0)[4], 5 + 6);
}

} // namespace
