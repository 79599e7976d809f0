#include "modulation/DataSrce.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <string>
#include <vector>

namespace {

// The table as programs and other subsystems address it: row number, key, label shown.
struct ExpectedRow {
    const char* key;
    const char* label;
};

const std::vector<ExpectedRow>& expectedRows() {
    static const std::vector<ExpectedRow> rows = {
        {"OFF", "OFF"},          {"LFO1", "LFO1"},        {"LFO2", "LFO2"},        {"LFO3", "LFO3"},
        {"LFO4", "LFO4"},        {"FUN1", "FUN1"},        {"FUN2", "FUN2"},        {"FUN3", "FUN3"},
        {"FUN4", "FUN4"},        {"FUN5", "FUN5"},        {"FUN6", "FUN6"},        {"FUN7", "FUN7"},
        {"FUN8", "FUN8"},        {"ENV1", "ENV1"},        {"ENV2", "ENV2"},        {"ENV3", "ENV3"},
        {"ENV4", "ENV4"},        {"AMC1", "AMC1"},        {"AMC2", "AMC2"},        {"MIX1", "MIX1"},
        {"MIX2", "MIX2"},        {"MIX3", "MIX3"},        {"MIX4", "MIX4"},        {"MIX5", "MIX5"},
        {"MIX6", "MIX6"},        {"MIX7", "MIX7"},        {"MIX8", "MIX8"},        {"LSTO", "LSTO"},
        {"GAININ", "GAININ"},    {"GAINOUT", "GAINOUT"},  {"EVF1", "EVF1"},        {"EVF2", "EVF2"},
        {"EVF3", "EVF3"},        {"EVF4", "EVF4"},        {"DNM1", "DNM1"},        {"DNM2", "DNM2"},
        {"PRM1", "PRM1"},        {"PRM2", "PRM2"},        {"PRM3", "PRM3"},        {"PRM4", "PRM4"},
        {"PRM5", "PRM5"},        {"PRM6", "PRM6"},        {"PRM7", "PRM7"},        {"PRM8", "PRM8"},
        {"PRM9", "PRM9"},        {"PRM10", "PRM10"},      {"PRM11", "PRM11"},      {"PRM12", "PRM12"},
        {"IN_L", "IN_L"},        {"IN_R", "IN_R"},        {"OUTL", "OUTL"},        {"OUTR", "OUTR"},
        {"BUS1", "BUS1"},        {"BUS2", "BUS2"},        {"BUS3", "BUS3"},        {"BUS4", "BUS4"},
        {"BUS5", "BUS5"},        {"BUS6", "BUS6"},        {"BUS7", "BUS7"},        {"BUS8", "BUS8"},
        {"RATELFO1", "RTELFO1"}, {"RATELFO2", "RTELFO2"}, {"RATELFO3", "RTELFO3"}, {"RATELFO4", "RTELFO4"},
        {"IN_P", "IN_P"},        {"OUTP", "OUTP"},        {"RAWFUN1", "RAWFUN1"},  {"RAWFUN2", "RAWFUN2"},
        {"RAWFUN3", "RAWFUN3"},  {"RAWFUN4", "RAWFUN4"},  {"PRM13", "PRM13"},      {"PRM14", "PRM14"},
        {"PRM15", "PRM15"},      {"PRM16", "PRM16"},      {"EAT1", "EAT1"},        {"EAT2", "EAT2"},
        {"EAT3", "EAT3"},        {"EAT4", "EAT4"},        {"ERT1", "ERT1"},        {"ERT2", "ERT2"},
        {"ERT3", "ERT3"},        {"ERT4", "ERT4"},        {"EVF5", "EVF5"},        {"ON", "ON"},
    };
    return rows;
}

std::string text(const CoreAnsx& s) {
    return s.c_str();
}

TEST(DataSrce, EveryRowHasItsKeyLabelAndAFreshZeroValue) {
    DataSrce table;
    const auto& expected = expectedRows();
    ASSERT_EQ(expected.size(), 84u);
    ASSERT_EQ(table.getgs(), 84);
    for (int i = 0; i < 84; i++) {
        SCOPED_TRACE(i);
        CoreSrce* row = table.getis(i);
        ASSERT_NE(row, nullptr);
        EXPECT_EQ(text(row->getky()), expected[i].key);
        EXPECT_EQ(text(row->getlb()), expected[i].label);
        EXPECT_EQ(row->getvl(), 0.0);
        // The key finds its own row again.
        EXPECT_EQ(table.getsc(CoreAnsx(expected[i].key)), row);
    }
}

TEST(DataSrce, NamedRowConstantsMatchTheKeys) {
    DataSrce table;
    const std::vector<std::pair<int, const char*>> named = {
        {DataSrce::iCrowoff, "OFF"},         {DataSrce::iCrowlfo1, "LFO1"},
        {DataSrce::iCrowfun1, "FUN1"},       {DataSrce::iCrowenv1, "ENV1"},
        {DataSrce::iCrowamc1, "AMC1"},       {DataSrce::iCrowmix1, "MIX1"},
        {DataSrce::iCrowlsto, "LSTO"},       {DataSrce::iCrowgainin, "GAININ"},
        {DataSrce::iCrowgainout, "GAINOUT"}, {DataSrce::iCrowevf1, "EVF1"},
        {DataSrce::iCrowdnm1, "DNM1"},       {DataSrce::iCrowprm1, "PRM1"},
        {DataSrce::iCrowinl, "IN_L"},        {DataSrce::iCrowinr, "IN_R"},
        {DataSrce::iCrowoutl, "OUTL"},       {DataSrce::iCrowoutr, "OUTR"},
        {DataSrce::iCrowbus1, "BUS1"},       {DataSrce::iCrowratelfo1, "RATELFO1"},
        {DataSrce::iCrowinp, "IN_P"},        {DataSrce::iCrowoutp, "OUTP"},
        {DataSrce::iCrowrawfun1, "RAWFUN1"}, {DataSrce::iCrowprm13, "PRM13"},
        {DataSrce::iCroweat1, "EAT1"},       {DataSrce::iCrowert1, "ERT1"},
        {DataSrce::iCrowevf5, "EVF5"},       {DataSrce::iCrowon, "ON"},
    };
    for (const auto& [row, key] : named) EXPECT_EQ(text(table.getis(row)->getky()), key) << row;
    EXPECT_EQ(DataSrce::iCcount, 84);
}

TEST(DataSrce, ListsLabelsAndKeysInRowOrderIntoCallerArrays) {
    DataSrce table;
    CoreAnsx* labels = new CoreAnsx[84];
    CoreAnsx* keys = new CoreAnsx[84];
    table.getgs(&labels, &keys);
    const auto& expected = expectedRows();
    for (int i = 0; i < 84; i++) {
        EXPECT_EQ(text(labels[i]), expected[i].label) << i;
        EXPECT_EQ(text(keys[i]), expected[i].key) << i;
    }
    delete[] labels;
    delete[] keys;
}

TEST(DataSrce, LookupsByKey) {
    DataSrce table;
    CoreSrce* off = table.getis(0);
    EXPECT_EQ(table.getsc(CoreAnsx("")), off);
    EXPECT_EQ(table.getsc(CoreAnsx("LFO9")), off);
    EXPECT_EQ(table.getsc(CoreAnsx("lfo1")), off); // keys are case-sensitive
    EXPECT_EQ(table.getsc(CoreAnsx("PRM13")), table.getis(70));

    EXPECT_FALSE(table.isact(CoreAnsx("OFF")));
    EXPECT_FALSE(table.isact(CoreAnsx("")));
    EXPECT_FALSE(table.isact(CoreAnsx("0.5")));
    EXPECT_TRUE(table.isact(CoreAnsx("ON")));
    EXPECT_TRUE(table.isact(CoreAnsx("LFO1")));

    EXPECT_TRUE(table.isils(CoreAnsx("")));
    EXPECT_TRUE(table.isils(CoreAnsx("OFF")));
    EXPECT_TRUE(table.isils(CoreAnsx("EVF5")));
    EXPECT_FALSE(table.isils(CoreAnsx("0.5")));
    EXPECT_FALSE(table.isils(CoreAnsx("NULL")));
}

TEST(DataSrce, IndexOutsideTheTableGivesNull) {
    DataSrce table;
    EXPECT_EQ(table.getis(-1), nullptr);
    EXPECT_EQ(table.getis(84), nullptr);
    EXPECT_EQ(table.getis(1 << 30), nullptr);
    EXPECT_NE(table.getis(83), nullptr);
}

TEST(CoreSrce, StoresFiniteValuesAndGuardsZerosDenormalsAndNonFinite) {
    CoreSrce slot(CoreAnsx("X"), CoreAnsx(""));
    slot.setvl(-1.0);
    EXPECT_EQ(slot.getvl(), -1.0);
    slot.setvl(-2.0); // outside the bipolar range but finite: kept
    EXPECT_EQ(slot.getvl(), -2.0);

    const double inputs[] = {-0.0, 1e-320, -1e-320, std::numeric_limits<double>::denorm_min(),
                             std::numeric_limits<double>::quiet_NaN()};
    for (double v : inputs) {
        slot.setvl(0.5);
        slot.setvl(v);
        EXPECT_EQ(slot.getvl(), 0.0) << v;
        EXPECT_FALSE(std::signbit(slot.getvl())) << v;
    }
    slot.setvl(std::numeric_limits<double>::infinity());
    EXPECT_EQ(slot.getvl(), 1.0);
    slot.setvl(-std::numeric_limits<double>::infinity());
    EXPECT_EQ(slot.getvl(), -1.0);
    // The smallest normal number is kept.
    slot.setvl(std::numeric_limits<double>::min());
    EXPECT_EQ(slot.getvl(), std::numeric_limits<double>::min());
}

TEST(CoreSrce, LabelFallsBackToTheKeyWhenEmptyOrZero) {
    EXPECT_EQ(text(CoreSrce(CoreAnsx("K"), CoreAnsx("0")).getlb()), "K");
    EXPECT_EQ(text(CoreSrce(CoreAnsx("K"), CoreAnsx("")).getlb()), "K");
    EXPECT_EQ(text(CoreSrce(CoreAnsx("K"), CoreAnsx("L")).getlb()), "L");
    EXPECT_EQ(text(CoreSrce(CoreAnsx("K"), CoreAnsx("L")).getky()), "K");
}

} // namespace
