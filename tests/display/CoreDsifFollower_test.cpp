// The envelope follower page: the screens of the first and the fifth follower, the follower buttons,
// the time conversion and the range rule.
#include "display/CoreDsif.h"

#include "SelectorPages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr short kFollowerPage = 10;
constexpr short kAttackMinimum = 1, kAttackMaximum = 2;

const std::string kFollowers =
    "EVF1{EXP=1 OUTPUTBALANCE=0.25 BUSBALANCESOURCE=MIX3 MINATTACK=10000 MAXATTACK=200000 ATTACKSOURCE=MIX1 "
    "MINRELEASE=10000 MAXRELEASE=5000 RELEASESOURCE=lfo2 FILTERORDER=6} "
    "EVF5{EXP=9 OUTPUTBALANCE=0.5 MINATTACK=2000 MAXATTACK=4000 ATTACKSOURCE=0.5000000000 MINRELEASE=3000 "
    "MAXRELEASE=6000 RELEASESOURCE=ENV2 FILTERORDER=3}";

class CoreDsifFollower : public SelectorPageTest {};

} // namespace

TEST_F(CoreDsifFollower, ScreensOfTheFirstAndFifthFollower) {
    start(kFollowers);
    enter(kFollowerPage, 3);
    EXPECT_TRUE(screen("follower_1.txt"));
    click(50, 1); // "<<" on the first: nothing
    for (int i = 0; i < 5; ++i) click(55, 1);
    passes(3);
    EXPECT_EQ(row(1).substr(50), "<< 5 >>");
    EXPECT_TRUE(screen("follower_5.txt"));
}

TEST_F(CoreDsifFollower, TimesAndTheRangeRule) {
    start(kFollowers);
    trace();
    enter(kFollowerPage, 2);
    // 10 ms at 48000 Hz is 480 samples.
    EXPECT_DOUBLE_EQ(item(kAttackMinimum).getvl(), 10.0);
    // A minimum of about 300 ms over a maximum of 200 ms: the maximum follows and is written next pass.
    turn(kAttackMinimum, (300.0 - 1.0) / 599.0);
    const double minimum = item(kAttackMinimum).getvl();
    EXPECT_DOUBLE_EQ(item(kAttackMaximum).getvl(), minimum);
    passes(1);
    std::vector<std::string> attack;
    for (const std::string& w : writes())
        if (w.rfind("setbl 114", 0) == 0 || w.rfind("setbl 115", 0) == 0 || w.rfind("setbv", 0) == 0)
            attack.push_back(w);
    const std::string samples = std::to_string(static_cast<long>(48000.0 * std::trunc(minimum * 1000.0) / 1e6));
    EXPECT_EQ(attack, (std::vector<std::string>{"setbl 114 [0] " + samples, "setbl 115 [0] 9600", "setbv 121 [0]",
                                                "setbl 114 [0] " + samples, "setbl 115 [0] " + samples,
                                                "setbv 121 [0]"}));
}
