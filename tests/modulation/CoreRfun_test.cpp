// CoreRfun and DataRgfn: the two rows and the fallback, the single-value envelope written unclamped,
// the multi-value envelope read by position and held at its ends, and activity with both arrays only.
#include "modulation/CoreRfun.h"

#include "tests/modulation/ModulationFixture.h"

#include <cmath>
#include <gtest/gtest.h>
#include <string>

namespace {

using namespace modtest;

struct RawFixture : ::testing::Test {
    PresetSources sources;
    DataRgfn raws;
    CoreRfun raw{CoreAnsx("RAWFUN1"), &raws, &sources, sources.getis(DataSrce::iCrowrawfun1)};
    double values0[5] = {0.1, 0.4, 0.9, 0.3, 0.2};
    double values1[3] = {1.0, 2.0, 3.0};

    double out() const { return sources.getis(DataSrce::iCrowrawfun1)->getvl(); }
    // Configures the function as the program does: names, then both arrays, then the check.
    void configure(const char* a, const char* b, const char* row, int k) {
        raw.setvl(CoreAnsx(a), CoreAnsx(b), CoreAnsx("RAW1"), CoreAnsx("RAW2"), CoreAnsx(row), k, -1.0);
        raw.setvl(0, values0, 5);
        raw.setvl(5, values1, 3); // any index but 0 is array 1
        raw.chckv();
    }
};

TEST(DataRgfn, ListsBothRowsAndFallsBackToTheSingleValueRow) {
    DataRgfn table;
    ASSERT_EQ(table.getnm(), 2);
    CoreAnsx labels[2], keys[2];
    CoreAnsx* labelArray = labels;
    CoreAnsx* keyArray = keys;
    table.getgs(&labelArray, &keyArray);
    EXPECT_EQ(text(keys[0] + "/" + labels[0]), "RSINGLE/Raw 1 value envelope");
    EXPECT_EQ(text(keys[1] + "/" + labels[1]), "RMULTI/Raw multi value envelope");
    for (const char* key : {"RMULTI", "rmulti", ""})
        EXPECT_EQ(text(table.getgf(CoreAnsx(key))->getky()),
                  key == std::string("RMULTI") ? "RMULTI" : "RSINGLE");
}

TEST_F(RawFixture, SingleValueEnvelopeIsWrittenUnclamped) {
    struct Row { double value0; double slot; };
    const Row rows[] = {
        {0.5, -1.2642411176571153}, // v k = 1: y = e^-1 - 0.5
        {0.0, -2.0},                // y = -0.5
        {std::nan(""), -1.0},       // a NaN result counts as 0
    };
    configure("OFF", "OFF", "RSINGLE", 2);
    ASSERT_TRUE(raw.isact());
    for (const Row& r : rows) {
        values0[0] = r.value0;
        raw.updte(0.0);
        EXPECT_NEAR(out(), r.slot, 1e-12) << r.value0;
    }
}

TEST_F(RawFixture, MultiValueEnvelopeReadsTheTableByPositionAndHoldsItsEnds) {
    struct Row { const char* a; const char* b; double slot; };
    const Row rows[] = {
        {"0", "-0.999999932", 0.5}, // position 5e7, step 1 / 3.4e-8: envsv: 0.4 + 0.7 * (0.9 - 0.4) = 0.75
        {"0", "OFF", -0.8},         // b = 0: an infinite step reads the first value
        {"ON", "ON", -0.6},         // far past the end: the last value
        {"-5", "0", -0.8},          // a negative position: the first value
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.a) + " " + r.b);
        configure(r.a, r.b, "RMULTI", 44100);
        raw.updte(0.0);
        EXPECT_NEAR(out(), r.slot, 1e-6);
    }
}

TEST_F(RawFixture, ActiveOnlyWithBothArraysAndHoldsItsStartValueWithout) {
    configure("OFF", "OFF", "nothing", 48000);
    EXPECT_TRUE(raw.isact());
    EXPECT_EQ(text(raw.getfr(0) + raw.getfr(1) + raw.getfr(2)), "RAW1RAW2");
    raw.setvl(1, nullptr, 3); // a missing array counts as empty
    raw.chckv();
    EXPECT_FALSE(raw.isact());
    raw.setvl();
    EXPECT_FALSE(raw.isact());
    EXPECT_EQ(text(raw.getfr(0) + raw.getfr(1)), "");

    // The program steps only active functions, but a step before the arrays arrive is safe.
    for (const char* row : {"RMULTI", "RSINGLE"}) {
        raw.setvl(CoreAnsx("OFF"), CoreAnsx("OFF"), CoreAnsx("C"), CoreAnsx("D"), CoreAnsx(row), 48000, 0.25);
        raw.updte(1.0);
        EXPECT_DOUBLE_EQ(out(), 0.25) << row;
    }
}

} // namespace
