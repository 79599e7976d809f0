// CoreParm: sources, constants and the texts that stand for neither mapped onto the scale (non-finite
// and denormal results guarded), the value following its slot on every call, and constants read
// whatever the locale.
#include "modulation/CoreParm.h"

#include "tests/common/DecimalCommaLocale.h"
#include "tests/modulation/ModulationFixture.h"

#include <cmath>

using namespace modtest;

TEST(CoreParm, MapsItsSourceOrConstantOntoTheScale) {
    struct Row { const char* source; double lower, upper, value; bool constant, active; const char* saved; };
    const Row rows[] = {
        {"LFO2", -10.0, 10.0, 2.5, false, true, "LFO2"}, // (0.25 + 1) * 0.5 * 20 - 10
        {"NULL", 0.0, 24.0, 0.0, false, false, ""},      // as the writer stores an unset source: "OFF"
        {"0", 0.0, 24.0, 12.0, true, false, "0.0000000000"},     // constants are bipolar: 0 is the middle
        {"LF01", 0.0, 24.0, 12.0, true, false, "0.0000000000"},  // a misspelt key is the constant 0
        {"1e999", 0.0, 24.0, 12.0, true, false, "0.0000000000"}, // non-finite constants become 0
        {"nan", 0.0, 24.0, 12.0, true, false, "0.0000000000"},
        {"ON", 0.0, 1e-320, 0.0, false, true, "ON"},           // a denormal span counts as none
        {"0", -1e-308, 0.0, 0.0, true, false, "0.0000000000"}, // a denormal result is +0.0
    };
    PresetSources table;
    table.getis(2)->setvl(0.25);
    CoreParm parm("P", "P", "-", 5.0, 9.0, &table);
    EXPECT_EQ(parm.getvl(), 5.0); // follows "OFF" over 5..5 until a source is set
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.source << " over " << r.lower << ".." << r.upper);
        parm.setsr(r.source, r.lower, r.upper);
        const double value = parm.getvl();
        EXPECT_NEAR(value, r.value, 1e-12);
        EXPECT_FALSE(std::signbit(value) && value == 0.0);
        EXPECT_EQ(parm.iscst(), r.constant);
        EXPECT_EQ(parm.actve(), r.active);
        EXPECT_EQ(text(parm.getsa()), r.saved);
    }
    parm.setsr("LFO2", -10.0, 10.0);
    table.getis(2)->setvl(-0.5); // read again on every call
    EXPECT_DOUBLE_EQ(parm.getvl(), -5.0);
}

TEST(CoreParm, ConstantsIgnoreADecimalCommaLocale) {
    DecimalCommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no decimal-comma locale available on this machine";
    PresetSources table;
    CoreParm parm("P", "P", "-", 0.0, 1.0, &table);
    parm.setsr("0.5", -1.0, 1.0);
    EXPECT_EQ(parm.getcv(), 0.5);
    EXPECT_EQ(text(parm.getsa()), "0.5000000000");
}

