#include "modulation/CoreIfce.h"

#include "base/CoreXutl.h"
#include "modulation/DataSrce.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace {

// The day clock the tests drive, in days since the epoch.
std::atomic<double> testDays{20000.0};
double testClock() {
    return testDays.load();
}
constexpr double secondInDays = 1.0 / 86400.0;

// Puts the day clock under the test's control for one test.
class CoreIfceTest : public ::testing::Test {
protected:
    void SetUp() override {
        testDays = 20000.0;
        CoreXutl::setDayClock(&testClock);
    }
    void TearDown() override { CoreXutl::setDayClock(nullptr); }
    void advanceSeconds(double seconds) { testDays = testDays.load() + seconds * secondInDays; }

    DataSrce table;
    CoreSrce* mixSlot = table.getis(DataSrce::iCrowmix1);
    CoreSrce* gainSlot = table.getis(DataSrce::iCrowgainin);
};

} // namespace

TEST_F(CoreIfceTest, PositionsMapOntoTheRangeAndFeedTheLinkedSlot) {
    CoreBlnk blink;
    CoreIfce mix("MIX1", -1.0, 1.0, "Mix 1", "", mixSlot, 0.0, true, &blink);
    mix.setvl(0.5, true);
    EXPECT_EQ(mix.getiv(true), 0.0);
    EXPECT_EQ(mixSlot->getvl(), 0.0);
    mix.setvl(0.75, true);
    EXPECT_EQ(mix.getiv(true), 0.5);
    EXPECT_EQ(mixSlot->getvl(), 0.5);
    EXPECT_EQ(mix.getvl(true), 0.75);
    mix.setvl(1.7, true); // clamped
    EXPECT_EQ(mix.getiv(true), 1.0);
    mix.setvl(std::nan(""), true); // ignored
    EXPECT_EQ(mix.getiv(true), 1.0);

    // A fresh gain control follows the host at once.
    CoreIfce gain("GAININ", 0.0, 1.0, "Gain in", "", gainSlot, 1.0, false, nullptr);
    EXPECT_TRUE(gain.isval(true));
    EXPECT_EQ(gain.getvl(false), 1.0);
    gain.setvl(0.25, true);
    EXPECT_EQ(gain.getiv(true), 0.25);
    EXPECT_EQ(gainSlot->getvl(), 0.25);
    EXPECT_EQ(gain.getml(), 0); // no LED

    // A set that is not valid ignores setvl.
    gain.setiv(0.5, false, true);
    gain.setvl(0.9, true);
    EXPECT_EQ(gain.getiv(true), 0.5);
}

TEST_F(CoreIfceTest, LedComparesWithTheReference) {
    CoreBlnk blink;
    CoreIfce mix("MIX1", -1.0, 1.0, "Mix 1", "", mixSlot, 0.0, true, &blink);
    mix.setiv(0.5, true, true);
    EXPECT_EQ(mixSlot->getvl(), 0.5);
    mix.setvl(0.875, true); // 0.75: above
    EXPECT_EQ(mix.getml(), 1);
    mix.setvl(0.3, true); // -0.4: below
    EXPECT_EQ(mix.getml(), 2);
    mix.setvl(0.75, true); // 0.5: on the reference
    EXPECT_EQ(mix.getml(), 3);
    EXPECT_EQ(mix.getll(), 3);
}

TEST_F(CoreIfceTest, LedIsSteadyForThreeSecondsAfterAChangeThenBlinks) {
    CoreBlnk blink; // on during the first second of every two from now
    CoreIfce mix("MIX1", -1.0, 1.0, "Mix 1", "", mixSlot, 0.0, true, &blink);
    // At rest: code 3 with the blink clock.
    advanceSeconds(0.5);
    EXPECT_EQ(mix.getml(), 3);
    advanceSeconds(1.0);
    EXPECT_EQ(mix.getml(), 0);
    EXPECT_EQ(mix.getll(), 0);

    mix.setvl(0.9, true); // above the reference, at 1.5 s
    for (double t : {0.0, 1.0, 2.9}) {
        testDays = 20000.0 + (1.5 + t) * secondInDays;
        EXPECT_EQ(mix.getml(), 1) << t; // steady, also in the blink clock's dark half
    }
    testDays = 20000.0 + 5.5 * secondInDays; // 4 s after the change, blink clock dark
    EXPECT_EQ(mix.getml(), 0);
    testDays = 20000.0 + 6.5 * secondInDays; // blink clock lit
    EXPECT_EQ(mix.getml(), 1);
    // A set to the same value is no change: blinking goes on.
    mix.setvl(0.9, true);
    testDays = 20000.0 + 7.5 * secondInDays;
    EXPECT_EQ(mix.getml(), 0);
}

TEST_F(CoreIfceTest, WheelAndDragSteps) {
    CoreIfce mix("MIX1", -1.0, 1.0, "Mix 1", "", mixSlot, 0.0, true, nullptr);
    mix.mswhl(2);
    EXPECT_DOUBLE_EQ(mix.getvl(true), 0.5 + 4.0 / 128.0);
    mix.mswhl(-2);
    EXPECT_DOUBLE_EQ(mix.getvl(true), 0.5);
    const double before = mix.getiv(true);
    mix.mswhl(0);
    EXPECT_EQ(mix.getiv(true), before);
    mix.settf(4);
    mix.mswhl(1);
    EXPECT_DOUBLE_EQ(mix.getvl(true), 0.75);
    mix.settf(0); // ignored
    mix.mswhl(-3);
    EXPECT_DOUBLE_EQ(mix.getvl(true), 0.0); // 9 quarter steps down, stopped at 0

    int lastX = 5, lastY = 20;
    EXPECT_EQ(CoreIfce::getnh(0.99, lastX, lastY, 5, 10), 1.0);
    EXPECT_EQ(lastX, 5);
    EXPECT_EQ(lastY, 10);
    EXPECT_DOUBLE_EQ(CoreIfce::getnh(0.5, lastX, lastY, 15, 11), 0.5 - 0.012 + 10 * 0.0012);
    EXPECT_EQ(CoreIfce::getnh(0.001, lastX, lastY, 15, 30), 0.0);
}

TEST_F(CoreIfceTest, AlternateSetLeavesTheNormalValueAndTheSlot) {
    CoreBlnk blink;
    CoreIfce mix("MIX1", -1.0, 1.0, "Mix 1", "", mixSlot, 0.0, true, &blink);
    mix.setvl(0.75, true);
    mix.mode_(true);
    EXPECT_TRUE(mix.isalt());
    EXPECT_FALSE(mix.isval(false));
    EXPECT_EQ(mix.getiv(false), -1.0);
    mix.setvl(0.25, false); // not valid yet
    EXPECT_EQ(mix.getiv(false), -1.0);
    mix.setiv(0.0, true, false);
    mix.setvl(0.25, false);
    EXPECT_EQ(mix.getiv(false), -0.5);
    EXPECT_EQ(mix.getiv(true), 0.5);
    EXPECT_EQ(mixSlot->getvl(), 0.5);
    EXPECT_EQ(mix.getml(), 2); // steady below the alternate reference
    mix.mode_(false);
    EXPECT_FALSE(mix.isalt());
    EXPECT_EQ(mix.getiv(false), 0.5);
}

TEST_F(CoreIfceTest, PendingAndCoarseValues) {
    CoreIfce mix("MIX1", -1.0, 1.0, "Mix 1", "%", mixSlot, 0.0, true, nullptr);
    EXPECT_EQ(mix.getpa(), -2.0);
    EXPECT_EQ(mix.getcp(), -1);
    mix.setpa(0.4);
    mix.setcp(3);
    EXPECT_EQ(mix.getpa(), 0.4);
    EXPECT_EQ(mix.getcp(), 3);
    EXPECT_EQ(mix.getlb(), CoreAnsx("Mix 1"));
    EXPECT_EQ(mix.getun(), CoreAnsx("%"));
}

TEST_F(CoreIfceTest, HostWriterAndDisplayReaderRunConcurrently) {
    CoreXutl::setDayClock(nullptr);
    CoreBlnk blink;
    CoreIfce mix("MIX1", -1.0, 1.0, "Mix 1", "", mixSlot, 0.0, true, &blink);
    std::atomic<bool> stop{false};
    std::thread host([&] {
        double position = 0.0;
        while (!stop.load()) {
            position = position > 1.0 ? 0.0 : position + 0.01;
            mix.setvl(position, true);
            mix.setpa(position);
        }
    });
    bool inRange = true;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (std::chrono::steady_clock::now() < end) {
        const int16_t code = mix.getml();
        const double value = mix.getiv(true);
        const double pending = mix.getpa();
        mix.mswhl(1);
        inRange = inRange && code >= 0 && code <= 3 && value >= -1.0 && value <= 1.0 && pending <= 1.01;
    }
    stop = true;
    host.join();
    EXPECT_TRUE(inRange);
}
