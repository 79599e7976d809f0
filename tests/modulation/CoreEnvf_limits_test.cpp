#include "modulation/CoreEnvf.h"

#include "base/CorePool.h"
#include "tests/common/SignalReference.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <vector>

namespace {

const CoreAnsx off("OFF");
constexpr int blockLength = 64;

// A meter (no controls, so its reading is not capped at 1) of one mode: attack 10, release 200 samples.
struct Meter {
    CorePool pool;
    CoreEnvf follower{&pool, "", false, nullptr, nullptr, nullptr, nullptr};
    explicit Meter(int mode) {
        follower.setvl(10, 10, "", 200, 200, "", 0.0, static_cast<int16_t>(mode), false, "0", false, off, off,
                       false, 48000.0, false, "0", "0", false, 0.0, 8, off);
    }
};

} // namespace

TEST(CoreEnvfLimits, AHugeSampleReadsAsTheLargestOneItsModeCanSquare) {
    const double largestSquarable = std::sqrt(DBL_MAX);
    const std::vector<double> noise = randomSignal(2 * 1024, 17);
    const int spikeAt = 4 * blockLength + 20;
    for (int mode = 0; mode <= 8; ++mode) {
        const bool squares = mode == 1 || mode == 4 || mode == 8;
        for (double huge : {1e154, -1.4e154, 1e300, DBL_MAX}) {
            SCOPED_TRACE(testing::Message() << "mode " << mode << " sample " << huge);
            const double clipped =
                squares ? std::copysign(std::min(std::fabs(huge), largestSquarable), huge) : huge;
            Meter hit(mode), reference(mode);
            // Up to one release time (200 samples) after the spike.
            for (int n = 0; n < spikeAt + 4 * blockLength; ++n) {
                hit.follower.setei(n == spikeAt ? huge : noise[n]);
                reference.follower.setei(n == spikeAt ? clipped : noise[n]);
                if ((n + 1) % blockLength != 0) continue;
                hit.follower.updte();
                reference.follower.updte();
                ASSERT_TRUE(std::isfinite(hit.follower.getou())) << "block ending at " << n;
                ASSERT_EQ(hit.follower.getou(), reference.follower.getou()) << "block ending at " << n;
            }
            EXPECT_GT(hit.follower.getou(), 1.0);
        }
    }
}

TEST(CoreEnvfLimits, AHighPassedFollowerRecoversFromSamplesAtTheLimits) {
    // Two samples at the limits of the doubles overflow the cascade; afterwards the follower reads
    // what one that never saw them reads.
    CorePool pool;
    DataSrce table;
    table.getis(DataSrce::iCrowbus1)->setvl(0.0); // the high-pass at half its factor: 1000 Hz
    CoreEnvf hit(&pool, "EVF1", true, &table, nullptr, nullptr, nullptr);
    CoreEnvf reference(&pool, "EVF2", true, &table, nullptr, nullptr, nullptr);
    for (CoreEnvf* follower : {&hit, &reference})
        follower->setvl(1, 1, "", 10, 10, "", 0.0, 0, false, "0", false, off, off, false, 48000.0, false, "0",
                        "0", true, 2000.0, 8, "BUS1");
    const std::vector<double> noise = randomSignal(200 * blockLength, 23);
    for (int n = 0; n < static_cast<int>(noise.size()); ++n) {
        const double x = noise[n] * 0.5;
        hit.setei(n == 100 ? DBL_MAX : n == 101 ? -DBL_MAX : x);
        reference.setei(x);
        if ((n + 1) % blockLength != 0) continue;
        hit.updte();
        reference.updte();
        ASSERT_TRUE(std::isfinite(hit.getou())) << n;
    }
    EXPECT_GT(reference.getou(), 0.05);
    EXPECT_NEAR(hit.getou(), reference.getou(), 1e-12);
}
