// The global page: its screen, the smoothing choice and its reload, the period's bounds and the exit.
#include "display/CoreDsif.h"

#include "SelectorPages.h"
#include "tests/processor/CorePrcsTestAccess.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr short kGlobalPage = 8, kBatchPage = 22, kProgramPage = 0;
constexpr short kPeriod = 2, kSmoothing = 4;
constexpr int kSmoothings = 31;

class CoreDsifGlobal : public SelectorPageTest {};

} // namespace

TEST_F(CoreDsifGlobal, Screen) {
    start("GAINPADIN=-6 GAINPADOUT=3 PROGRAMRATE=4007 FEEDBACKFACTOR=10 FEEDBACKSOURCE=lfo2 LOOKAHEAD=500 "
          "LOOKAHEADSOURCE=MIX3 GAINDRYFACTOR=-12 GAINDRYSOURCE=NOSUCH SMOOTH=1 MIX2=-0.5 MIX5=1");
    enter(kGlobalPage, 3);
    EXPECT_TRUE(screen("global_entered.txt"));
}

TEST_F(CoreDsifGlobal, SmoothingFlows) {
    struct Row {
        const char* name;
        const char* program;
        int choice;         // the list position chosen; -1: none
        short stateAfter;   // the next state after the choice's pass
        double smoothAfter; // double bean 14 afterwards (index + 1)
        bool notReady = false; // the program's kernels are not ready when the page opens
    };
    const Row rows[] = {
        {"entry alone", "SMOOTH=3", -1, kGlobalPage, 4},
        {"entry alone, hybrid", "SMOOTH=3 FORCEHYBRID=1", -1, kGlobalPage, 4},
        {"entry alone, not ready", "SMOOTH=3", -1, kGlobalPage, 4, true},
        {"LINEAR applies 0", "SMOOTH=3", 1, kGlobalPage, 1},
        {"OFF applies -1", "SMOOTH=3", 0, kGlobalPage, 0},
        {"a hybrid program reloads", "SMOOTH=-1 FORCEHYBRID=1", 2, kBatchPage, 0},
        {"a program that is not ready reloads", "SMOOTH=3", 1, kBatchPage, 0, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        start(r.program);
        if (r.notReady) CorePrcsTestAccess::programReady(*engine) = false;
        trace();
        enter(kGlobalPage, 3, r.choice < 0);
        EXPECT_EQ(display->getns(), kGlobalPage);
        if (r.choice < 0) {
            EXPECT_EQ(writes(), std::vector<std::string>{}) << "an entry applies no smoothing";
        }
        if (r.choice >= 0) turn(kSmoothing, choice(r.choice, kSmoothings));
        EXPECT_EQ(display->getns(), r.stateAfter);
        CorePrcs::BEANSTRUCT none{};
        if (r.stateAfter == kBatchPage) {
            EXPECT_EQ(writes(), (std::vector<std::string>{
                                    "setbv 225", "setbs 223 \"LOADED\"", "setbs 224 \"LOADED:\"",
                                    "setbs 223 \"LOADING\"", "setbs 224 \"LOADING:\"", "setbs 223 \"NEWPROGRAM\"",
                                    "setbs 224 \"7\"", "setbs 223 \"ACTION\"", "setbs 224 \"GLOB\"",
                                    "setbs 223 \"NEXTSTEP\"", "setbs 224 \"READPROGRAM\""}));
            pass();
            Access::runBatch(*display);
            EXPECT_EQ(display->getns(), kGlobalPage) << "the batch returns to the global page";
            log->lines.clear();
            log->calls.clear();
            passes(5);
            EXPECT_EQ(display->getns(), kGlobalPage) << "no second reload";
            EXPECT_EQ(writes(), std::vector<std::string>{});
        } else {
            EXPECT_DOUBLE_EQ(engine->getbd(14, &none), r.smoothAfter);
        }
    }
}

TEST_F(CoreDsifGlobal, PeriodBoundAndExit) {
    start("PROGRAMRATE=4007");
    trace();
    enter(kGlobalPage, 2);
    EXPECT_DOUBLE_EQ(item(kPeriod).getlw(), 0.25);
    turn(kPeriod, 0.0);
    passes(2); // the reloaded period counts as loaded: no second write
    EXPECT_EQ(writes(), (std::vector<std::string>{"setbb 11 1", "setbl 10 250"}));
    click(52, 0);
    EXPECT_EQ(display->getns(), kProgramPage);
    // A period above 200 ms shows as 200 and is not written back.
    start("PROGRAMRATE=300000");
    ASSERT_TRUE(engine->getbb(11, nullptr)) << "the rate status is on";
    trace();
    enter(kGlobalPage, 3, true);
    EXPECT_EQ(row(3).substr(10, 5), "200.0");
    EXPECT_EQ(writes(), std::vector<std::string>{});
}
