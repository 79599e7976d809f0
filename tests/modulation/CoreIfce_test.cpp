// CoreIfce: positions mapped onto the range and into the slot with the LED against the reference,
// wheel and drag steps, the alternate set, and the host writer beside the display reader on two
// threads.
#include "modulation/CoreIfce.h"
#include "modulation/DataSrce.h"

#include "base/CoreXutl.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

// The day clock the tests drive, in days since the epoch.
std::atomic<double> testDays{20000.0};
double testClock() {
    return testDays.load();
}
constexpr double secondInDays = 1.0 / 86400.0;

// Puts the day clock under the test's control for one test, before the blink clock starts.
struct TestClock {
    TestClock() {
        testDays = 20000.0;
        CoreXutl::setDayClock(&testClock);
    }
    ~TestClock() { CoreXutl::setDayClock(nullptr); }
};

class CoreIfceTest : public ::testing::Test {
protected:
    TestClock clock;
    DataSrce table;
    CoreSrce* mixSlot = table.getis(DataSrce::iCrowmix1);
    CoreBlnk blink; // lit during the first second of every two from now
    CoreIfce mix{"MIX1", -1.0, 1.0, "Mix 1", "", mixSlot, 0.0, true, &blink};
};

TEST_F(CoreIfceTest, PositionsMapOntoTheRangeFeedTheSlotAndLightTheLedAgainstTheReference) {
    struct Row { double position, value; int16_t led; };
    const Row rows[] = {
        {0.875, 0.75, 1}, {0.3, -0.4, 2}, {0.75, 0.5, 3}, // above, below, on the reference 0.5
        {1.7, 1.0, 1},    {-0.2, -1.0, 2},                // positions are clamped to 0..1
        {std::nan(""), -1.0, 2},                          // and a NaN is ignored
    };
    mix.setiv(0.5, true, true);
    EXPECT_EQ(mixSlot->getvl(), 0.5);
    for (const Row& r : rows) {
        mix.setvl(r.position, true);
        EXPECT_EQ(mix.getiv(true), r.value) << r.position;
        EXPECT_EQ(mixSlot->getvl(), r.value) << r.position;
        EXPECT_EQ(mix.getml(), r.led) << r.position;
        EXPECT_EQ(mix.getll(), r.led) << r.position;
    }

    // A fresh gain control follows the host at once and has no LED; a set that is not valid ignores setvl.
    CoreIfce gain("GAININ", 0.0, 1.0, "Gain in", "", table.getis(DataSrce::iCrowgainin), 1.0, false, nullptr);
    gain.setvl(0.25, true);
    EXPECT_TRUE(table.getis(DataSrce::iCrowgainin)->getvl() == 0.25 && gain.getml() == 0);
    gain.setiv(0.5, false, true);
    gain.setvl(0.9, true);
    EXPECT_EQ(gain.getiv(true), 0.5);
}

TEST_F(CoreIfceTest, WheelAndDragSteps) {
    struct Row { int steps, delta; double position; };
    const Row rows[] = {{0, 2, 0.5 + 4.0 / 128.0}, // delta^2 steps of 1/128
                        {0, 0, 0.5 + 4.0 / 128.0},
                        {4, 1, 0.75 + 4.0 / 128.0},
                        {0, -3, 0.0}}; // 1/4 (0 is ignored): 9 steps down stop at 0
    for (const Row& r : rows) {
        mix.settf(r.steps);
        mix.mswhl(r.delta);
        EXPECT_DOUBLE_EQ(mix.getvl(true), r.position) << r.delta;
    }
    int lastX = 5, lastY = 20; // drags: up and right raise the position, clamped to 0..1
    EXPECT_EQ(CoreIfce::getnh(0.99, lastX, lastY, 5, 10), 1.0);
    EXPECT_DOUBLE_EQ(CoreIfce::getnh(0.5, lastX, lastY, 15, 11), 0.5 - 0.012 + 10 * 0.0012);
    EXPECT_EQ(CoreIfce::getnh(0.001, lastX, lastY, 15, 30), 0.0);
}

TEST_F(CoreIfceTest, AlternateSetLeavesTheNormalValueAndTheSlot) {
    mix.setvl(0.75, true);
    mix.mode_(true);
    mix.setvl(0.25, false); // not valid yet
    EXPECT_TRUE(mix.isalt() && mix.getiv(false) == -1.0);
    mix.setiv(0.0, true, false);
    mix.setvl(0.25, false);
    EXPECT_TRUE(mix.getiv(false) == -0.5 && mixSlot->getvl() == 0.5);
    EXPECT_EQ(mix.getml(), 2); // steady below the alternate reference
    mix.mode_(false);
    EXPECT_EQ(mix.getiv(false), 0.5);
}

TEST_F(CoreIfceTest, HostWriterAndDisplayReaderRunConcurrently) {
    CoreXutl::setDayClock(nullptr);
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
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
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
