#include "modulation/CoreRfun.h"

#include "base/CoreButl.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>

namespace {

std::string text(const CoreAnsx& s) {
    return s.c_str();
}

struct RawFixture : ::testing::Test {
    DataSrce sources;
    DataRgfn raws;
    CoreRfun raw{CoreAnsx("RAWFUN1"), &raws, &sources, sources.getis(DataSrce::iCrowrawfun1)};
    double values0[5] = {0.1, 0.4, 0.9, 0.3, 0.2};
    double values1[3] = {1.0, 2.0, 3.0};

    RawFixture() {
        sources.getis(DataSrce::iCrowoff)->setvl(-1.0);
        sources.getis(DataSrce::iCrowon)->setvl(1.0);
    }
    double out() const { return sources.getis(DataSrce::iCrowrawfun1)->getvl(); }
    // Configures the raw function as the program does and supplies both arrays.
    void configure(const char* a, const char* b, const char* row, int k, int count0 = 5) {
        raw.setvl(CoreAnsx(a), CoreAnsx(b), CoreAnsx("RAW1"), CoreAnsx("RAW2"), CoreAnsx(row), k, -1.0);
        raw.setvl(0, values0, count0);
        raw.setvl(1, values1, 3);
        raw.chckv();
    }
};

TEST(DataRgfn, RowsAndLookup) {
    DataRgfn table;
    ASSERT_EQ(table.getnm(), 2);
    CoreAnsx* labels = new CoreAnsx[2];
    CoreAnsx* keys = new CoreAnsx[2];
    table.getgs(&labels, &keys);
    EXPECT_EQ(text(keys[0]), "RSINGLE");
    EXPECT_EQ(text(labels[0]), "Raw 1 value envelope");
    EXPECT_EQ(text(keys[1]), "RMULTI");
    EXPECT_EQ(text(labels[1]), "Raw multi value envelope");
    delete[] labels;
    delete[] keys;
    EXPECT_EQ(text(table.getgf(CoreAnsx("RMULTI"))->getky()), "RMULTI");
    EXPECT_EQ(text(table.getgf(CoreAnsx("rmulti"))->getky()), "RSINGLE");
    EXPECT_EQ(text(table.getgf(CoreAnsx(""))->getky()), "RSINGLE");
}

TEST_F(RawFixture, SingleValueEnvelopeIsNotClampedInTheSlot) {
    values0[0] = 0.5;
    configure("OFF", "OFF", "RSINGLE", 2); // v k = 1: y = e^-1 - 0.5
    ASSERT_TRUE(raw.isact());
    raw.updte(0.0);
    EXPECT_NEAR(out(), -1.2642411176571153, 1e-12);

    values0[0] = 0.0; // zero product: y = -0.5, slot -2
    raw.updte(0.0);
    EXPECT_DOUBLE_EQ(out(), -2.0);

    values0[0] = -1.0; // negative product: e - 0.5 is clamped to 1
    raw.updte(0.0);
    EXPECT_DOUBLE_EQ(out(), 1.0);

    values0[0] = std::numeric_limits<double>::quiet_NaN(); // a NaN result counts as 0
    raw.updte(0.0);
    EXPECT_DOUBLE_EQ(out(), -1.0);
}

TEST_F(RawFixture, MultiValueEnvelopeReadsTheTableByPosition) {
    // a = U(0) = 0.5: position 5e7; b = U(-0.999999932) = 3.4e-8: step 1 / b; q = 1.7.
    configure("0", "-0.999999932", "RMULTI", 44100);
    raw.updte(0.0);
    // 0.4 + 0.7 * (0.9 - 0.4) = 0.75, written as 2 * 0.75 - 1.
    EXPECT_NEAR(out(), 0.5, 1e-6);
    const double a = 0.5, b = (-0.999999932 + 1.0) * 0.5;
    double next = 0.0;
    const double expected = CoreButl::envsv(a * 100000000.0, 5, values0, 1.0 / b, next, false);
    EXPECT_NEAR(out(), 2.0 * expected - 1.0, 1e-7);
}

TEST_F(RawFixture, MultiValueEnvelopeStaysFiniteAtItsEnds) {
    configure("0", "OFF", "RMULTI", 44100); // b = 0: infinite step, the first value
    raw.updte(0.0);
    EXPECT_NEAR(out(), 2.0 * 0.1 - 1.0, 1e-15);
    configure("ON", "ON", "RMULTI", 44100); // far past the end: the last value
    raw.updte(0.0);
    EXPECT_NEAR(out(), 2.0 * 0.2 - 1.0, 1e-15);
    configure("1e300", "1e300", "RMULTI", 44100); // inputs far outside -1..+1
    raw.updte(0.0);
    EXPECT_NEAR(out(), 2.0 * 0.2 - 1.0, 1e-15);
    configure("-5", "0", "RMULTI", 44100); // a negative position: the first value
    raw.updte(0.0);
    EXPECT_NEAR(out(), 2.0 * 0.1 - 1.0, 1e-15);
}

TEST_F(RawFixture, ActiveOnlyWithBothArrays) {
    raw.setvl(CoreAnsx("OFF"), CoreAnsx("OFF"), CoreAnsx("C"), CoreAnsx("D"), CoreAnsx("nothing"), 48000,
              -1.0);
    EXPECT_TRUE(raw.isact());
    EXPECT_EQ(text(raw.getfr(0)), "C");
    EXPECT_EQ(text(raw.getfr(1)), "D");
    EXPECT_EQ(text(raw.getfr(2)), "");

    raw.setvl(5, values1, 3); // any index but 0 is array 1
    raw.chckv();
    EXPECT_FALSE(raw.isact());

    raw.setvl(CoreAnsx("OFF"), CoreAnsx("OFF"), CoreAnsx("C"), CoreAnsx("D"), CoreAnsx(""), 48000, -1.0);
    raw.setvl(0, values0, 5);
    raw.setvl(5, values1, 3);
    raw.chckv();
    EXPECT_TRUE(raw.isact());
    raw.setvl(1, nullptr, 3); // a missing array counts as empty
    raw.chckv();
    EXPECT_FALSE(raw.isact());

    raw.setvl();
    EXPECT_FALSE(raw.isact());
    EXPECT_EQ(text(raw.getfr(0)), "");
    EXPECT_EQ(text(raw.getfr(1)), "");
}

TEST_F(RawFixture, StepWithoutArraysHoldsTheStartValue) {
    // The program only steps active functions after chckv; a step before it must still be safe.
    raw.setvl(CoreAnsx("OFF"), CoreAnsx("OFF"), CoreAnsx("C"), CoreAnsx("D"), CoreAnsx("RMULTI"), 48000, 0.0);
    raw.updte(1.0);
    EXPECT_DOUBLE_EQ(out(), 0.0); // start 0.0 is y = 0.5, written as 0.0
    raw.setvl(CoreAnsx("OFF"), CoreAnsx("OFF"), CoreAnsx("C"), CoreAnsx("D"), CoreAnsx("RSINGLE"), 48000,
              -1.0);
    raw.updte(1.0);
    EXPECT_DOUBLE_EQ(out(), -1.0);
}

TEST_F(RawFixture, InactiveFunctionIsNotSteppedAndItsSlotKeepsItsValue) {
    sources.getis(DataSrce::iCrowrawfun1)->setvl(0.25);
    raw.setvl(CoreAnsx("OFF"), CoreAnsx("OFF"), CoreAnsx("C"), CoreAnsx("D"), CoreAnsx("RSINGLE"), 48000,
              -1.0);
    raw.setvl(0, values0, 5);
    raw.chckv();                     // second array never supplied
    if (raw.isact()) raw.updte(0.0); // as the program's per-block update does
    EXPECT_EQ(out(), 0.25);
}

} // namespace
