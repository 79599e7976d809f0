#include "filestore/DataRtcv.h"

#include "base/CorePool.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// Every conversion path: its rates, whether its first factor interpolates, its factors (one per
// stage) and the ratio they must realise, as a fraction.
struct ExpectedRow {
    double from, to;
    bool firstUp;
    std::vector<int> factors;
    double numerator, denominator;
};

// clang-format off
const ExpectedRow kExpected[] = {
    {44100, 6000, true, {4, 21, 5, 7}, 20, 147}, {44100, 8000, true, {4, 21, 20, 21}, 80, 441},
    {44100, 11025, false, {4}, 1, 4}, {44100, 14000, true, {4, 9, 5, 7}, 20, 63},
    {44100, 16000, true, {4, 7, 5, 7, 8, 9}, 160, 441}, {44100, 18000, true, {4, 7, 5, 7}, 20, 49},
    {44100, 22050, false, {2}, 1, 2}, {44100, 24000, true, {4, 7, 20, 21}, 80, 147},
    {44100, 32000, true, {4, 3, 8, 7, 10, 21}, 320, 441}, {44100, 48000, true, {8, 7, 20, 21}, 160, 147},
    {44100, 60000, true, {10, 7, 20, 21}, 200, 147}, {44100, 64000, true, {4, 3, 8, 7, 20, 21}, 640, 441},
    {44100, 70000, true, {4, 3, 5, 3, 5, 7}, 100, 63}, {44100, 77000, true, {10, 9, 11, 7}, 110, 63},
    {44100, 88200, true, {2}, 2, 1}, {44100, 96000, true, {4, 3, 8, 7, 10, 7}, 320, 147},
    {44100, 176400, true, {4}, 4, 1}, {44100, 192000, true, {8, 7, 8, 7, 10, 3}, 640, 147},
    {44100, 352800, true, {8}, 8, 1}, {44100, 384000, true, {8, 7, 10, 7, 16, 3}, 1280, 147},
    {96000, 6000, false, {16}, 1, 16}, {96000, 8000, false, {12}, 1, 12},
    {96000, 11025, true, {7, 32, 21, 40}, 147, 1280}, {96000, 14000, true, {7, 48}, 7, 48},
    {96000, 16000, false, {6}, 1, 6}, {96000, 18000, true, {3, 16}, 3, 16},
    {96000, 22050, true, {7, 20, 21, 32}, 147, 640}, {96000, 24000, false, {4}, 1, 4},
    {96000, 32000, false, {3}, 1, 3}, {96000, 44100, true, {3, 5, 7, 8, 7, 8}, 147, 320},
    {96000, 48000, true, {2, 3, 3, 4}, 1, 2}, {96000, 60000, true, {5, 8}, 5, 8},
    {96000, 64000, true, {2, 3}, 2, 3}, {96000, 70000, true, {5, 6, 7, 8}, 35, 48},
    {96000, 77000, true, {7, 8, 11, 12}, 77, 96}, {96000, 88200, true, {3, 2, 7, 10, 7, 8}, 147, 160},
    {96000, 176400, true, {3, 2, 7, 5, 7, 8}, 147, 80}, {96000, 192000, true, {2}, 2, 1},
    {96000, 352800, true, {3, 2, 7, 5, 7, 4}, 147, 40}, {96000, 384000, true, {4}, 4, 1},
    {48000, 44100, true, {3, 2, 7, 10, 7, 8}, 147, 160}, {176400, 44100, false, {4}, 1, 4},
    {176400, 48000, true, {2, 7, 4, 3, 5, 7}, 40, 147}, {176400, 60000, true, {2, 3, 5, 7, 5, 7}, 50, 147},
    {176400, 64000, true, {4, 7, 5, 7, 8, 9}, 160, 441}, {176400, 70000, true, {5, 9, 5, 7}, 25, 63},
    {176400, 77000, true, {5, 9, 11, 14}, 55, 126}, {176400, 88200, false, {2}, 1, 2},
    {176400, 96000, true, {4, 7, 4, 3, 5, 7}, 80, 147}, {176400, 192000, true, {8, 7, 20, 21}, 160, 147},
    {176400, 352800, true, {2}, 2, 1}, {176400, 384000, true, {4, 3, 8, 7, 10, 7}, 320, 147},
    {192000, 44100, true, {3, 10, 7, 8, 7, 8}, 147, 640}, {192000, 88200, true, {3, 5, 7, 8, 7, 8}, 147, 320},
    {192000, 48000, false, {4}, 1, 4}, {192000, 96000, false, {2}, 1, 2},
    {192000, 176400, true, {3, 5, 7, 4, 7, 8}, 147, 160}, {192000, 352800, true, {11, 6}, 11, 6},
    {192000, 384000, true, {2}, 2, 1}, {48000, 88200, true, {3, 5, 7, 4, 7, 4}, 147, 80},
    {48000, 96000, true, {2}, 2, 1}, {48000, 176400, true, {3, 5, 7, 4, 7, 2}, 147, 40},
    {48000, 192000, true, {4}, 4, 1}, {48000, 352800, true, {22, 3}, 22, 3}, {48000, 384000, true, {8}, 8, 1},
    {88200, 44100, false, {2}, 1, 2}, {88200, 48000, true, {4, 3, 5, 7, 4, 7}, 80, 147},
    {88200, 96000, true, {4, 3, 5, 7, 8, 7}, 160, 147}, {88200, 176400, true, {2}, 2, 1},
    {88200, 192000, true, {5, 3, 8, 7, 8, 7}, 320, 147},
    {88200, 352800, true, {16, 9, 10, 7, 11, 7}, 1760, 441},
    {88200, 384000, true, {10, 3, 8, 7, 8, 7}, 640, 147},
    {352800, 44100, true, {9, 11, 7, 20, 7, 16}, 441, 3520}, {352800, 48000, true, {3, 22}, 3, 22},
    {352800, 88200, true, {9, 11, 7, 10, 7, 16}, 441, 1760}, {352800, 96000, true, {3, 11}, 3, 11},
    {352800, 176400, true, {9, 11, 7, 16, 7, 5}, 441, 880}, {352800, 192000, true, {6, 11}, 6, 11},
    {352800, 384000, true, {12, 11}, 12, 11}, {384000, 44100, true, {3, 5, 7, 16, 7, 16}, 147, 1280},
    {384000, 48000, false, {8}, 1, 8}, {384000, 88200, true, {3, 10, 7, 8, 7, 8}, 147, 640},
    {384000, 96000, false, {4}, 1, 4}, {384000, 176400, true, {3, 5, 7, 8, 7, 8}, 147, 320},
    {384000, 192000, false, {2}, 1, 2}, {384000, 352800, true, {11, 12}, 11, 12}
};
// clang-format on

TEST(DataRtcv, HoldsEveryPathWithItsFactorsAndConversionFactor) {
    CorePool pool;
    DataRtcv table(&pool);
    ASSERT_EQ(std::size(kExpected), static_cast<size_t>(DataRtcv::iCrows));
    ASSERT_EQ(table.getrc(), 86);
    for (int row = 0; row < DataRtcv::iCrows; ++row) {
        SCOPED_TRACE(row);
        const ExpectedRow& e = kExpected[row];
        EXPECT_EQ(table.getst(row), static_cast<int16_t>(e.factors.size()));
        EXPECT_EQ(table.getfi(row), e.firstUp);
        EXPECT_EQ(table.geter(row), e.to);
        for (int16_t k = 0; k < 6; ++k)
            EXPECT_EQ(table.getfc(row, k), k < int(e.factors.size()) ? e.factors[k] : -1) << "factor " << k;
        EXPECT_LT(std::fabs(table.getcf(row) * e.denominator - e.numerator), 1e-12 * e.numerator);
        EXPECT_EQ(table.getpt(e.from, e.to), row); // each pair finds its own row
    }
    for (int row : {-1, 86, 1000}) { // outside the table: neutral values
        EXPECT_EQ(table.getst(row), 0);
        EXPECT_EQ(table.getfc(row, 0), -1);
        EXPECT_FALSE(table.getfi(row));
        EXPECT_EQ(table.geter(row), 0.0);
        EXPECT_EQ(table.getcf(row), 1.0);
    }
    EXPECT_EQ(table.getfc(9, -1), -1);
    EXPECT_EQ(table.getfc(9, 6), -1);
}

TEST(DataRtcv, MakecComputesTheRatioForBothStartingDirections) {
    CorePool pool;
    DataRtcv table(&pool);
    DataRtcv::CONVERSIONSTEPSLOC row{0.0, 0.0, 0, false, nullptr, 0.0};
    table.makec(&row, 1000, 3000, 2, false, 2, 6, 9, 9, 9, 9); // down 2, up 6
    EXPECT_DOUBLE_EQ(row.cf, 3.0);
    EXPECT_EQ(row.factors[2], -1);
    table.makec(&row, 1000, 1000, 0, true, 2, 6, 9, 9, 9, 9);
    EXPECT_EQ(row.cf, 1.0);
    pool.free_(row.factors);
}

TEST(DataRtcv, ChoosesOnlyAPathWhoseRatesLieWithinOnePercent) {
    struct Row { double from, to; int row; };
    const Row rows[] = {{44100, 44100, -1}, {44100, 48000, 9},
                        {44100, 48000, 9}, // the second from the cache
                        {44000, 48000, 9},  {44100, 46000, -1},
                        {22050, 48000, -1}, // a 22050 Hz file is never treated as 44100
                        {48000, 32000, -1}, {std::nan(""), 48000, -1},
                        {0, 0, -1}};
    CorePool pool;
    DataRtcv table(&pool);
    for (const Row& r : rows) EXPECT_EQ(table.getpt(r.from, r.to), r.row) << r.from << " -> " << r.to;
}

} // namespace
