// DataRtcv: every conversion path realises its pair of rates through its factors, neutral values
// outside the table, and path choice only within one percent.
#include "filestore/DataRtcv.h"
#include "base/CorePool.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

TEST(DataRtcv, EveryPathRealisesItsRatesThroughItsFactors) {
    CorePool pool;
    DataRtcv table(&pool);
    const double rates[] = {6000,  8000,  11025, 14000, 16000, 18000,  22050,  24000,  32000,  44100, 48000,
                            60000, 64000, 70000, 77000, 88200, 96000, 176400, 192000, 352800, 384000};
    std::set<int> found;
    for (double from : rates)
        for (double to : rates) {
            const int row = table.getpt(from, to);
            if (row < 0) continue;
            SCOPED_TRACE(testing::Message() << from << " -> " << to << ": row " << row);
            EXPECT_TRUE(found.insert(row).second); // each pair finds a row of its own
            EXPECT_EQ(table.geter(row), to);
            // Factors alternate between interpolation and decimation from the first one's direction.
            double ratio = 1.0;
            int stages = 0;
            for (int16_t k = 0; k < 6 && table.getfc(row, k) > 0; ++k, ++stages)
                ratio *= (k % 2 == 0) == table.getfi(row) ? table.getfc(row, k) : 1.0 / table.getfc(row, k);
            EXPECT_EQ(table.getst(row), stages);
            EXPECT_NEAR(table.getcf(row), ratio, 1e-12 * ratio);
            EXPECT_NEAR(ratio, to / from, 0.0025 * to / from); // 352800 stands for 352000 in some rows
        }
    EXPECT_EQ(found.size(), size_t(DataRtcv::iCrows));
    for (int row : {-1, DataRtcv::iCrows}) { // outside the table: neutral values
        EXPECT_TRUE(table.getst(row) == 0 && table.getfc(row, 0) == -1 && !table.getfi(row));
        EXPECT_TRUE(table.geter(row) == 0.0 && table.getcf(row) == 1.0);
    }
    EXPECT_EQ(table.getfc(9, 6), -1);
}

TEST(DataRtcv, ChoosesOnlyAPathWhoseRatesLieWithinOnePercent) {
    struct Row { double from, to; int row; };
    const Row rows[] = {{44100, 48000, 9},  {44100, 48000, 9}, // the second from the cache
                        {44000, 48000, 9},  {44100, 46000, -1},
                        {22050, 48000, -1}, // a 22050 Hz file is never treated as 44100
                        {std::nan(""), 48000, -1}};
    CorePool pool;
    DataRtcv table(&pool);
    for (const Row& r : rows) EXPECT_EQ(table.getpt(r.from, r.to), r.row) << r.from << " -> " << r.to;
}

