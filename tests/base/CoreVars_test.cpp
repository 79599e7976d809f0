// Tests of the key/value store: keys ignore case and blanks, values are trimmed, "0" reads as absent,
// blank keys are ignored, a second write replaces, and a closed store reads empty and ignores writes.
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
    } rows[] = {{"seven", " 7 ", "Seven", "7"},
                {"zero", "0", "zero", ""},
                {"\t \n", "v", " ", ""}, // a blank key
                {"Bank", "1", "bank", "1"},
                {" BANK", "2", "bank", "2"}, // a second write replaces
                {"missing", nullptr, "missing", ""}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.key);
        if (r.value) vars.addit(CoreAnsx(r.key), CoreAnsx(r.value));
        EXPECT_EQ(get(vars, r.readAs), r.expected);
    }
    EXPECT_EQ(get(vars, " SEVEN "), "7");
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
