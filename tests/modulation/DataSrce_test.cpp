// DataSrce and CoreSrce: the 84 rows with their keys, labels and order, and stored values guarded
// against zeros, denormals and non-finite numbers.
#include "modulation/DataSrce.h"

#include "tests/modulation/ModulationFixture.h"

#include <cmath>
#include <limits>

using namespace modtest;

TEST(DataSrce, RowsHoldTheirKeysLabelsAndNamedNumbersInOrder) {
    // Each range starts at its named row and numbers its keys from `first`; count 0 is a single key.
    struct Range { int row; const char* key; int first; int count; };
    const Range ranges[] = {
        {DataSrce::iCrowoff, "OFF", 0, 0}, {DataSrce::iCrowlfo1, "LFO", 1, 4},
        {DataSrce::iCrowfun1, "FUN", 1, 8}, {DataSrce::iCrowenv1, "ENV", 1, 4},
        {DataSrce::iCrowamc1, "AMC", 1, 2}, {DataSrce::iCrowmix1, "MIX", 1, 8},
        {DataSrce::iCrowlsto, "LSTO", 0, 0}, {DataSrce::iCrowgainin, "GAININ", 0, 0},
        {DataSrce::iCrowgainout, "GAINOUT", 0, 0}, {DataSrce::iCrowevf1, "EVF", 1, 4},
        {DataSrce::iCrowdnm1, "DNM", 1, 2}, {DataSrce::iCrowprm1, "PRM", 1, 12},
        {DataSrce::iCrowinl, "IN_L", 0, 0}, {DataSrce::iCrowinr, "IN_R", 0, 0},
        {DataSrce::iCrowoutl, "OUTL", 0, 0}, {DataSrce::iCrowoutr, "OUTR", 0, 0},
        {DataSrce::iCrowbus1, "BUS", 1, 8}, {DataSrce::iCrowratelfo1, "RATELFO", 1, 4},
        {DataSrce::iCrowinp, "IN_P", 0, 0}, {DataSrce::iCrowoutp, "OUTP", 0, 0},
        {DataSrce::iCrowrawfun1, "RAWFUN", 1, 4}, {DataSrce::iCrowprm13, "PRM", 13, 4},
        {DataSrce::iCroweat1, "EAT", 1, 4}, {DataSrce::iCrowert1, "ERT", 1, 4},
        {DataSrce::iCrowevf5, "EVF5", 0, 0}, {DataSrce::iCrowon, "ON", 0, 0},
    };
    std::vector<std::string> keys;
    for (const Range& r : ranges) {
        ASSERT_EQ(r.row, int(keys.size())) << r.key;
        if (r.count == 0) keys.push_back(r.key);
        for (int n = r.first; n < r.first + r.count; n++) keys.push_back(r.key + std::to_string(n));
    }
    ASSERT_EQ(keys.size(), 84u);

    DataSrce table;
    ASSERT_EQ(table.getgs(), DataSrce::iCcount);
    std::vector<CoreAnsx> listedLabels(84), listedKeys(84);
    CoreAnsx* labelArray = listedLabels.data();
    CoreAnsx* keyArray = listedKeys.data();
    table.getgs(&labelArray, &keyArray);
    for (int i = 0; i < 84; i++) {
        SCOPED_TRACE(i);
        CoreSrce* row = table.getis(i);
        ASSERT_NE(row, nullptr);
        // Only the rate slots carry a label of their own.
        const std::string label = i >= 60 && i < 64 ? "RTELFO" + std::to_string(i - 59) : keys[i];
        EXPECT_EQ(text(row->getky() + "/" + row->getlb()), keys[i] + "/" + label);
        EXPECT_EQ(text(listedKeys[i] + "/" + listedLabels[i]), keys[i] + "/" + label);
        EXPECT_EQ(table.getsc(CoreAnsx(keys[i].c_str())), row);
    }
    for (int outside : {-1, 84, 1 << 30}) EXPECT_EQ(table.getis(outside), nullptr) << outside;
}

TEST(CoreSrce, StoresFiniteValuesAndGuardsZerosDenormalsAndNonFinite) {
    const double inf = std::numeric_limits<double>::infinity();
    const double tiny = std::numeric_limits<double>::min();
    struct Row { double in, stored; };
    const Row rows[] = {{-2.0, -2.0}, {tiny, tiny}, // finite values, even outside -1..+1, stay
                        {-0.0, 0.0},  {-1e-320, 0.0}, {std::nan(""), 0.0}, {inf, 1.0}, {-inf, -1.0}};
    CoreSrce slot(CoreAnsx("K"), CoreAnsx("0"));
    for (const Row& r : rows) {
        slot.setvl(0.5);
        slot.setvl(r.in);
        EXPECT_EQ(slot.getvl(), r.stored) << r.in;
        EXPECT_FALSE(std::signbit(slot.getvl()) && r.stored == 0.0) << r.in;
    }
    EXPECT_EQ(text(slot.getlb()), "K"); // a label "0" falls back to the key
}

