// CoreRfun and DataRgfn: the two rows and the fallback, the single-value envelope written unclamped
// (a NaN as 0), the multi-value envelope read by position and held at its ends, and activity with
// both arrays only, with the start value held before they arrive.
#include "modulation/CoreRfun.h"

#include "tests/modulation/ModulationFixture.h"

#include <cmath>

using namespace modtest;

struct RawFixture : ::testing::Test {
    PresetSources sources;
    DataRgfn raws;
    CoreRfun raw{"RAWFUN1", &raws, &sources, sources.getis(DataSrce::iCrowrawfun1)};
    double values0[5] = {0.1, 0.4, 0.9, 0.3, 0.2};
    double values1[3] = {1.0, 2.0, 3.0};

    // Configures the function as the program does (names, both arrays, the check) and steps it once.
    double step(const char* a, const char* b, const char* row, int k) {
        raw.setvl(a, b, "RAW1", "RAW2", row, k, -1.0);
        raw.setvl(0, values0, 5);
        raw.setvl(5, values1, 3); // any index but 0 is array 1
        raw.chckv();
        raw.updte(0.0);
        return sources.getis(DataSrce::iCrowrawfun1)->getvl();
    }
};

TEST(DataRgfn, ListsBothRowsAndFallsBackToTheSingleValueRow) {
    DataRgfn table;
    ASSERT_EQ(table.getnm(), 2);
    CoreAnsx labels[2], keys[2];
    CoreAnsx *labelArray = labels, *keyArray = keys;
    table.getgs(&labelArray, &keyArray);
    EXPECT_EQ(text(keys[0] + "/" + labels[0]), "RSINGLE/Raw 1 value envelope");
    EXPECT_EQ(text(keys[1] + "/" + labels[1]), "RMULTI/Raw multi value envelope");
    EXPECT_EQ(text(table.getgf("rmulti")->getky()), "RSINGLE");
}

TEST_F(RawFixture, EnvelopesAreWrittenFromTheRecordedValues) {
    struct Row { const char *a, *b, *row; double value0, slot; };
    const Row rows[] = {
        {"OFF", "OFF", "RSINGLE", 0.5, -1.2642411176571153}, // v k = 1: y = e^-1 - 0.5, unclamped
        {"OFF", "OFF", "RSINGLE", std::nan(""), -1.0},       // a NaN result counts as 0
        {"0", "-0.999999932", "RMULTI", 0.1, 0.5}, // position 5e7 at step 1 / 3.4e-8: 0.4 + 0.7 * 0.5
        {"0", "OFF", "RMULTI", 0.1, -0.8},         // b = 0: an infinite step reads the first value
        {"ON", "ON", "RMULTI", 0.1, -0.6},         // far past the end: the last value
        {"-5", "0", "RMULTI", 0.1, -0.8},          // a negative position: the first value
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.row << " " << r.a << " " << r.b << " " << r.value0);
        values0[0] = r.value0;
        EXPECT_NEAR(step(r.a, r.b, r.row, std::string(r.row) == "RSINGLE" ? 2 : 44100), r.slot, 1e-6);
    }
}

TEST_F(RawFixture, ActiveOnlyWithBothArraysAndHoldsItsStartValueWithout) {
    step("OFF", "OFF", "nothing", 48000);
    EXPECT_TRUE(raw.isact());
    EXPECT_EQ(text(raw.getfr(0) + raw.getfr(1) + raw.getfr(2)), "RAW1RAW2");
    raw.setvl(1, nullptr, 3); // a missing array counts as empty
    raw.chckv();
    EXPECT_FALSE(raw.isact());
    raw.setvl();
    EXPECT_EQ(text(raw.getfr(0) + raw.getfr(1)), "");
    // The program steps only active functions, but a step before the arrays arrive is safe.
    for (const char* row : {"RMULTI", "RSINGLE"}) {
        raw.setvl("OFF", "OFF", "C", "D", row, 48000, 0.25);
        raw.updte(1.0);
        EXPECT_DOUBLE_EQ(sources.getis(DataSrce::iCrowrawfun1)->getvl(), 0.25) << row;
    }
}

