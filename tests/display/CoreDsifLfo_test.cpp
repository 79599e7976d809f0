// The LFO page: its screen with off-list quantisations and unknown keys, and the rate items that
// follow the engine on every pass.
#include "display/CoreDsif.h"

#include "SelectorPages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr short kLfoPage = 7;

class CoreDsifLfo : public SelectorPageTest {};

} // namespace

TEST_F(CoreDsifLfo, Screen) {
    start("LFO1{MINRATE=0.5 MAXRATE=2 SOURCE=env1 SHAPE=Nowave PHASEFACTOR=30 PHASESOURCE=RATELFO2 RATEQUANTIZE=3} "
          "LFO2{MINRATE=1 MAXRATE=4 SOURCE=NOSUCH SHAPE=Triang PHASEFACTOR=45 RATEQUANTIZE=100} "
          "LFO3{MINRATE=1 MAXRATE=2 RATEQUANTIZE=-5}");
    enter(kLfoPage, 3);
    EXPECT_TRUE(screen("lfo_entered.txt"));
}

TEST_F(CoreDsifLfo, RateItemsFollowTheEngine) {
    start("LFO2{MINRATE=1 MAXRATE=4}");
    trace();
    enter(kLfoPage, 2);
    // The engine moves the second LFO's range; the page shows it on the next pass and writes nothing.
    CorePrcs::BEANSTRUCT second{1, 0};
    engine->setbd(98, 2.0, &second);
    engine->setbd(99, 3.0, &second);
    log->lines.clear();
    log->calls.clear();
    passes(2);
    EXPECT_DOUBLE_EQ(item(7).getvl(), engine->getbd(96, &second));
    EXPECT_DOUBLE_EQ(item(8).getvl(), engine->getbd(97, &second));
    EXPECT_EQ(writes(), std::vector<std::string>{});
    // A user's minimum: written to bean 98, then shown as bean 96 answers.
    turn(7, 0.5);
    passes(1);
    EXPECT_EQ(writes(), std::vector<std::string>{"setbd 98 [1] 12"});
    EXPECT_DOUBLE_EQ(item(7).getvl(), engine->getbd(96, &second));
}
