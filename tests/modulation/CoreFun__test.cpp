#include "modulation/CoreFun_.h"

#include "tests/modulation/ModulationFixture.h"

#include <gtest/gtest.h>
#include <string>

namespace {

using namespace modtest;

struct FunFixture : ::testing::Test {
    PresetSources sources;
    DataGfun functions;
    CoreFun_ fun{CoreAnsx("FUN1"), &functions, &sources, sources.getis(DataSrce::iCrowfun1)};

    double out() const { return sources.getis(DataSrce::iCrowfun1)->getvl(); }
};

TEST_F(FunFixture, UnknownOperationSelectsAndStoresA) {
    fun.setfn(CoreAnsx("a+b"));
    fun.setfn(CoreAnsx("a plus b"));
    EXPECT_EQ(text(fun.getfn()), "a");
    fun.setvl(CoreAnsx("0.3"), CoreAnsx("0.9"), CoreAnsx(""));
    EXPECT_EQ(text(fun.getfn()), "a");
    fun.updte();
    EXPECT_DOUBLE_EQ(out(), 0.3);
    fun.setfn(CoreAnsx("a+b")); // 0.3 + 0.9 clamps
    fun.updte();
    EXPECT_EQ(out(), 1.0);
}

TEST_F(FunFixture, InputsFollowTheirSlotsEveryStepAndOnlyItsSlotIsWritten) {
    for (int i = 0; i < DataSrce::iCcount; i++)
        if (i != DataSrce::iCrowoff && i != DataSrce::iCrowon) sources.getis(i)->setvl(0.37);
    fun.setvl(CoreAnsx("LFO1"), CoreAnsx("ENV1"), CoreAnsx("a*b"));
    struct Step { double lfo1, env1; const char* sourceB; const char* operation; double out; };
    const Step steps[] = {
        {0.5, -0.25, nullptr, nullptr, -0.125},
        {-1.0, -0.25, nullptr, nullptr, 0.25},
        {-1.0, -0.25, "ON", nullptr, -1.0},
        {-1.0, -0.25, "NULL", "a-b", 0.0}, // "NULL" follows "OFF"
    };
    for (const Step& s : steps) {
        sources.getis(DataSrce::iCrowlfo1)->setvl(s.lfo1);
        sources.getis(DataSrce::iCrowenv1)->setvl(s.env1);
        if (s.sourceB) fun.setib(CoreAnsx(s.sourceB));
        if (s.operation) fun.setfn(CoreAnsx(s.operation));
        fun.updte();
        EXPECT_DOUBLE_EQ(out(), s.out);
    }
    fun.setia(CoreAnsx("0.5"));
    fun.updte();
    EXPECT_DOUBLE_EQ(out(), 1.0); // 0.5 - (-1) clamps
    for (int i = 1; i < DataSrce::iCrowon; i++) {
        const bool written = i == DataSrce::iCrowfun1 || i == DataSrce::iCrowlfo1 || i == DataSrce::iCrowenv1;
        EXPECT_TRUE(written || sources.getis(i)->getvl() == 0.37) << i;
    }
}

} // namespace
