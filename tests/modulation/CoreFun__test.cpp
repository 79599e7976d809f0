// CoreFun_: unknown operation keys select "a", inputs read from their slots on every step ("NULL"
// as "OFF", constants as constants), and a step writing only the function's own slot.
#include "modulation/CoreFun_.h"

#include "tests/modulation/ModulationFixture.h"

using namespace modtest;

TEST(CoreFun_, InputsFollowTheirSlotsEveryStepAndOnlyItsSlotIsWritten) {
    PresetSources sources;
    DataGfun functions;
    CoreFun_ fun("FUN1", &functions, &sources, sources.getis(DataSrce::iCrowfun1));
    for (int i = 1; i < DataSrce::iCrowon; i++) sources.getis(i)->setvl(0.37);
    fun.setvl("LFO1", "ENV1", "a plus b");
    EXPECT_EQ(text(fun.getfn()), "a"); // an unknown key selects "a"
    fun.setfn("a*b");
    sources.getis(DataSrce::iCrowenv1)->setvl(-0.25);
    struct Step { double lfo1; const char *sourceA, *sourceB, *operation; double out; };
    const Step steps[] = {
        {0.5, nullptr, nullptr, nullptr, -0.125},
        {-1.0, nullptr, "NULL", "a-b", 0.0}, // "NULL" follows "OFF"
        {-1.0, "0.5", nullptr, nullptr, 1.0}, // a constant; 0.5 - (-1) clamps
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

