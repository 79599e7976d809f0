#include "base/CoreVars.h"

#include <gtest/gtest.h>

#include <string>

namespace {
std::string get(const CoreVars& vars, const char* key) {
    return vars.getit(CoreAnsx(key)).c_str();
}
} // namespace

TEST(CoreVars, KeysIgnoreCaseAndBlanksValuesAreTrimmedAndZeroIsAbsent) {
    CoreVars vars;
    const struct {
        const char *key, *value, *readAs, *expected;
    } rows[] = {
        {"step", "3", " STEP ", "3"},
        {"seven", " 7 ", "Seven", "7"},
        {"name", "Big Hall", "NAME", "Big Hall"},
        {"zero", "0", "zero", ""},
        {"", "v", "", ""},
        {"\t \n", "v", " ", ""}, // blank keys
        {"Bank", "1", "bank", "1"},
        {" BANK", "2", "bank", "2"}, // a second write replaces
        {"missing", nullptr, "missing", ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.key);
        if (r.value) vars.addit(CoreAnsx(r.key), CoreAnsx(r.value));
        EXPECT_EQ(get(vars, r.readAs), r.expected);
    }
    EXPECT_EQ(get(vars, "step"), "3");
}

TEST(CoreVars, AClosedStoreReadsEmptyAndIgnoresWritesUntilOpened) {
    CoreVars vars;
    vars.addit(CoreAnsx("a"), CoreAnsx("1"));
    vars.close();
    vars.addit(CoreAnsx("a"), CoreAnsx("2"));
    EXPECT_EQ(get(vars, "a"), "");
    vars.open_();
    EXPECT_EQ(get(vars, "a"), "");
    vars.addit(CoreAnsx("a"), CoreAnsx("3"));
    EXPECT_EQ(get(vars, "a"), "3");
    vars.free_();
    EXPECT_EQ(get(vars, "a"), "");
}

TEST(CoreVars, ThousandDistinctKeysAllReadBack) {
    CoreVars vars;
    for (int i = 0; i < 1000; ++i) vars.addit(CoreAnsx("key") + CoreAnsx(i), CoreAnsx(i * 7 + 1));
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(get(vars, ("KEY" + std::to_string(i)).c_str()), std::to_string(i * 7 + 1)) << i;
}
