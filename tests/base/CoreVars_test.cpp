#include "base/CoreVars.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string get(const CoreVars& vars, const char* key) {
    return vars.getit(CoreAnsx(key)).c_str();
}
} // namespace

TEST(CoreVars, KeysIgnoreCaseAndBlanksAndValuesAreTrimmed) {
    CoreVars vars;
    vars.addit(CoreAnsx("step"), CoreAnsx("3"));
    EXPECT_EQ(get(vars, " STEP "), "3");
    EXPECT_EQ(get(vars, "Step"), "3");
    vars.addit(CoreAnsx("zero"), CoreAnsx("0"));
    EXPECT_EQ(get(vars, "ZERO"), "");
    vars.addit(CoreAnsx("seven"), CoreAnsx(" 7 "));
    EXPECT_EQ(get(vars, "seven"), "7");
    vars.addit(CoreAnsx("name"), CoreAnsx("Big Hall"));
    EXPECT_EQ(get(vars, "NAME"), "Big Hall"); // the value keeps its case
    EXPECT_EQ(get(vars, "missing"), "");
}

TEST(CoreVars, SecondWriteOfAKeyKeepsOnlyTheSecondValue) {
    CoreVars vars;
    vars.addit(CoreAnsx("Bank"), CoreAnsx("1"));
    vars.addit(CoreAnsx("other"), CoreAnsx("x"));
    vars.addit(CoreAnsx(" BANK"), CoreAnsx("2"));
    EXPECT_EQ(get(vars, "bank"), "2");
    vars.addit(CoreAnsx("bank"), CoreAnsx("0"));
    EXPECT_EQ(get(vars, "bank"), "");
    EXPECT_EQ(get(vars, "other"), "x");
}

TEST(CoreVars, ClosedStoreReadsEmptyAndIgnoresWrites) {
    CoreVars vars;
    vars.addit(CoreAnsx("a"), CoreAnsx("1"));
    vars.close();
    EXPECT_EQ(get(vars, "a"), "");
    vars.addit(CoreAnsx("a"), CoreAnsx("2"));
    EXPECT_EQ(get(vars, "a"), "");
    vars.close();
    vars.open_();
    EXPECT_EQ(get(vars, "a"), "");
    vars.addit(CoreAnsx("a"), CoreAnsx("3"));
    EXPECT_EQ(get(vars, "a"), "3");
    vars.free_();
    EXPECT_EQ(get(vars, "a"), "");
}

TEST(CoreVars, BlankKeysAreIgnored) {
    CoreVars vars;
    for (const char* blank : {"", " ", "\t \n"}) {
        vars.addit(CoreAnsx(blank), CoreAnsx("v"));
        EXPECT_EQ(get(vars, blank), "") << "'" << blank << "'";
    }
    vars.addit(CoreAnsx("real"), CoreAnsx("r"));
    EXPECT_EQ(get(vars, " "), "");
    EXPECT_EQ(get(vars, "REAL"), "r");
}

TEST(CoreVars, ThousandDistinctKeysAllReadBack) {
    CoreVars vars;
    for (int i = 0; i < 1000; ++i) vars.addit(CoreAnsx("key") + CoreAnsx(i), CoreAnsx(i * 7 + 1));
    vars.addit(CoreAnsx("KEY500"), CoreAnsx("again"));
    for (int i = 0; i < 1000; ++i) {
        const std::string expected = i == 500 ? "again" : std::to_string(i * 7 + 1);
        ASSERT_EQ(get(vars, ("KEY" + std::to_string(i)).c_str()), expected) << i;
    }
}
