// The function page: its screen with constant inputs and their levels, and a source chosen for a
// constant input.
#include "display/CoreDsif.h"

#include "SelectorPages.h"
#include "tests/common/DecimalCommaLocale.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr short kFunctionPage = 9;

class CoreDsifFunction : public SelectorPageTest {};

} // namespace

TEST_F(CoreDsifFunction, Screen) {
    start("FUN1{A=1.0 B=0.0 FUN=a*b} FUN2{A=-1.0 B=LFO1 FUN=nosuch} FUN3{A=0.12345678901234567 B=mix2 FUN=a+b}");
    enter(kFunctionPage, 3);
    EXPECT_TRUE(screen("function_entered.txt"));
}

TEST_F(CoreDsifFunction, SourceForAConstantInput) {
    start("FUN1{A=0.0 B=LFO1 FUN=a*b}");
    trace();
    enter(kFunctionPage, 2);
    EXPECT_EQ(row(2).substr(13, 6), "(-6.0)");
    const auto& keys = Access::sourceKeys(*display);
    int lfo2 = 0;
    while (lfo2 < static_cast<int>(keys.size()) && !(keys[static_cast<size_t>(lfo2)] == CoreAnsx("LFO2"))) ++lfo2;
    turn(0, choice(lfo2, static_cast<int>(keys.size())));
    passes(1);
    EXPECT_EQ(writes(), (std::vector<std::string>{"setbs 104 [0] \"LFO2\"", "setbs 105 [0] \"LFO1\"",
                                                  "setbs 103 [0] \"a*b\""}));
    EXPECT_EQ(row(2).substr(13, 8), std::string(8, ' ')) << "the level column is blank for a source";
}

TEST_F(CoreDsifFunction, LoadedConstantIsWrittenBackWholeInAnyLocale) {
    DecimalCommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no decimal-comma locale";
    start("FUN1{A=0.12345678901234567 B=-0.1 FUN=a}");
    trace();
    enter(kFunctionPage, 2);
    turn(2, choice(3, 45));
    EXPECT_EQ(writes(), (std::vector<std::string>{"setbs 104 [0] \"0.12345678901234566\"", "setbs 105 [0] \"-0.1\"",
                                                  "setbs 103 [0] \"a+b\""}));
}
