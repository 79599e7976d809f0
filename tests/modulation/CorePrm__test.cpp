// CorePrm_: a definition driving the slot, the value and the bar (inverted, empty and clamped bars,
// zero bar ranges).
#include "modulation/CorePrm_.h"

#include "tests/modulation/ModulationFixture.h"

using namespace modtest;

struct PrmFixture : ::testing::Test {
    PresetSources sources;
    DataGfun functions;
    CoreSrce* slot = sources.getis(DataSrce::iCrowprm1);
    CorePrm_ prm{"PRM1", &functions, &sources, slot};

    // A displayed parameter with the given ranges and label, following "OFF" through "a".
    void define(double min, double max, double barMin, double barMax, const char* label = "Depth") {
        prm.setvl(true, "OFF", "OFF", "a", label, "", "%", "", "", min, max, barMin, barMax);
    }
    // True when an update writes the slot (the parameter is defined).
    bool updateWrites() {
        slot->setvl(0.3);
        prm.updte();
        return slot->getvl() != 0.3;
    }
};

TEST_F(PrmFixture, DefinitionDrivesTheSlotTheValueAndTheBar) {
    prm.setvl(true, "0.5", "LFO1", "a+b", "Depth", "Pre", "%", "pu", "ou", 0.0, 100.0, 10.0, 90.0);
    EXPECT_EQ(text(prm.getpl() + prm.getun() + prm.getpu() + prm.getou()), "Pre%puou");
    const double bounds[] = {0.0, 100.0, 10.0, 90.0, 0.0};
    for (short id = 0; id < 5; id++) EXPECT_EQ(prm.getbd(id), bounds[id]) << id;
    sources.getis(DataSrce::iCrowlfo1)->setvl(0.25);
    prm.updte();
    EXPECT_DOUBLE_EQ(slot->getvl(), 0.75);
    EXPECT_DOUBLE_EQ(prm.getvl(), 87.5); // 0 + 100 * (0.75 + 1) / 2
    EXPECT_DOUBLE_EQ(prm.getbf(), (87.5 - 10.0) / 80.0);

    struct Row { double min, max, barMin, barMax, slot, value, fraction; };
    const Row rows[] = {
        {10.0, 0.0, 0.0, 10.0, 0.5, 2.5, 0.25},  // min above max: the value falls
        {-2.0, 2.0, 0.0, 0.0, 1.0, 2.0, 1.0},    // bar 0..0: scale 1, clamped at 1
        {-2.0, 2.0, 0.0, 0.0, -0.5, -1.0, 0.0},  // below the bar: empty
        {-2.0, 0.0, 10.0, 0.0, 0.0, -1.0, 1.0},  // below an inverted bar: full
        {0.0, 12.0, 10.0, 0.0, 1.0, 12.0, -0.2}, // above its bar min: negative, the display clamps
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.min << ".." << r.max << " bar " << r.barMin << ".." << r.barMax);
        define(r.min, r.max, r.barMin, r.barMax);
        slot->setvl(r.slot);
        EXPECT_DOUBLE_EQ(prm.getvl(), r.value);
        EXPECT_DOUBLE_EQ(prm.getbf(), r.fraction);
    }
    define(0.0, 10.0, 0.0, 10.0, ""); // no label: defined, but disabled
    EXPECT_EQ(prm.getvl() + prm.getbf(), 0.0);
    EXPECT_TRUE(updateWrites());
}

