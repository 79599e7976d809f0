#include "modulation/CoreFun_.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string text(const CoreAnsx& s) {
    return s.c_str();
}

struct FunFixture : ::testing::Test {
    DataSrce sources;
    DataGfun functions;
    CoreFun_ fun{CoreAnsx("FUN1"), &functions, &sources, sources.getis(DataSrce::iCrowfun1)};

    FunFixture() {
        sources.getis(DataSrce::iCrowoff)->setvl(-1.0);
        sources.getis(DataSrce::iCrowon)->setvl(1.0);
    }
    double out() const { return sources.getis(DataSrce::iCrowfun1)->getvl(); }
};

TEST_F(FunFixture, UnknownOperationSelectsAndStoresA) {
    fun.setfn(CoreAnsx("a+b"));
    EXPECT_EQ(text(fun.getfn()), "a+b");
    fun.setfn(CoreAnsx("a plus b"));
    EXPECT_EQ(text(fun.getfn()), "a");
    fun.setvl(CoreAnsx("0.3"), CoreAnsx("0.9"), CoreAnsx(""));
    EXPECT_EQ(text(fun.getfn()), "a");
    fun.updte();
    EXPECT_DOUBLE_EQ(out(), 0.3);
}

TEST_F(FunFixture, SumOfConstantsIsClamped) {
    fun.setvl(CoreAnsx("0.3"), CoreAnsx("0.9"), CoreAnsx("a+b"));
    fun.updte();
    EXPECT_EQ(out(), 1.0);
    EXPECT_TRUE(fun.getfa()->iscst());
    EXPECT_EQ(fun.getfa()->getsl(), -1.0);
    EXPECT_EQ(fun.getfa()->getsu(), 1.0);
}

TEST_F(FunFixture, InputsFollowTheirSlotsEveryStep) {
    fun.setvl(CoreAnsx("LFO1"), CoreAnsx("ENV1"), CoreAnsx("a*b"));
    sources.getis(DataSrce::iCrowlfo1)->setvl(0.5);
    sources.getis(DataSrce::iCrowenv1)->setvl(-0.25);
    fun.updte();
    EXPECT_DOUBLE_EQ(out(), -0.125);
    sources.getis(DataSrce::iCrowlfo1)->setvl(-1.0);
    fun.updte();
    EXPECT_DOUBLE_EQ(out(), 0.25);

    fun.setib(CoreAnsx("ON"));
    fun.updte();
    EXPECT_DOUBLE_EQ(out(), -1.0);
    fun.setia(CoreAnsx("NULL")); // the unset name follows "OFF"
    EXPECT_FALSE(fun.getfa()->iscst());
    EXPECT_FALSE(fun.getfa()->actve());
    fun.setfn(CoreAnsx("a-b"));
    fun.updte();
    EXPECT_DOUBLE_EQ(out(), -1.0); // -1 - 1 clamps
}

TEST_F(FunFixture, WritesOnlyItsOwnSlot) {
    for (int i = 0; i < DataSrce::iCcount; i++) sources.getis(i)->setvl(0.37);
    fun.setvl(CoreAnsx("0.1"), CoreAnsx("0.2"), CoreAnsx("a+b"));
    fun.updte();
    for (int i = 0; i < DataSrce::iCcount; i++)
        EXPECT_EQ(sources.getis(i)->getvl(), i == DataSrce::iCrowfun1 ? 0.1 + 0.2 : 0.37) << i;
}

} // namespace
