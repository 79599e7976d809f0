// CoreFun_: the operation key (unknown ones select "a"), inputs read from their slots on every step
// with "NULL" as "OFF", and one step writing only the function's own slot.
#include "modulation/CoreFun_.h"

#include "tests/modulation/ModulationFixture.h"

#include <gtest/gtest.h>

namespace {

using namespace modtest;

TEST(CoreFun_, UnknownOperationSelectsA) {
    PresetSources sources;
    DataGfun functions;
    CoreFun_ fun("FUN1", &functions, &sources, sources.getis(DataSrce::iCrowfun1));
    fun.setfn("a plus b");
    EXPECT_EQ(text(fun.getfn()), "a");
    fun.setvl("0.3", "0.9", "");
    fun.updte();
    EXPECT_DOUBLE_EQ(sources.getis(DataSrce::iCrowfun1)->getvl(), 0.3);
}

TEST(CoreFun_, InputsFollowTheirSlotsEveryStepAndOnlyItsSlotIsWritten) {
    PresetSources sources;
    DataGfun functions;
    CoreFun_ fun("FUN1", &functions, &sources, sources.getis(DataSrce::iCrowfun1));
    for (int i = 1; i < DataSrce::iCrowon; i++) sources.getis(i)->setvl(0.37);
    fun.setvl("LFO1", "ENV1", "a*b");
    sources.getis(DataSrce::iCrowenv1)->setvl(-0.25);
    struct Step { double lfo1; const char* sourceA; const char* sourceB; const char* operation; double out; };
    const Step steps[] = {
        {0.5, nullptr, nullptr, nullptr, -0.125},
        {-1.0, nullptr, "ON", nullptr, -1.0},
        {-1.0, nullptr, "NULL", "a-b", 0.0}, // "NULL" follows "OFF"
        {-1.0, "0.5", "NULL", nullptr, 1.0}, // a constant; 0.5 - (-1) clamps
    };
    for (const Step& s : steps) {
        sources.getis(DataSrce::iCrowlfo1)->setvl(s.lfo1);
        if (s.sourceA) fun.setia(s.sourceA);
        if (s.sourceB) fun.setib(s.sourceB);
        if (s.operation) fun.setfn(s.operation);
        fun.updte();
        EXPECT_DOUBLE_EQ(sources.getis(DataSrce::iCrowfun1)->getvl(), s.out);
    }
    for (int i = 1; i < DataSrce::iCrowon; i++) {
        const bool written = i == DataSrce::iCrowfun1 || i == DataSrce::iCrowlfo1 || i == DataSrce::iCrowenv1;
        EXPECT_TRUE(written || sources.getis(i)->getvl() == 0.37) << i;
    }
}

} // namespace
