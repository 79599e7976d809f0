// CoreRvct: raw arrays cut or padded with their last value (at least one value each), never
// registered, and freed once by their own vector.
#include "convolution/CoreRvct.h"

#include "convolution/CorePlel.h"
#include "modulation/DataSrce.h"
#include "tests/convolution/ConvolverTestSupport.h"

namespace {

class CoreRvctTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(pool.getma(), 0); }

    CorePool pool;
    DataSrce table;
    CorePlel registry{&pool};
    double positions[4] = {0.0, 1.0, 2.0, 3.0};
};

TEST_F(CoreRvctTest, ArraysAreCutOrPaddedWithTheirLastValueAndNeverRegistered) {
    auto v = std::make_unique<CoreRvct>(&pool, &registry, true, 4, nullptr, nullptr, positions, 0.0, 3.0,
                                        nullptr, 0.0, 1.0, &table, 0.5, "-1");
    Signal ramp(300), down(300);
    for (int i = 0; i < 300; ++i) ramp[i] = i, down[i] = -i;
    double* arrays[] = {ramp.data(), down.data(), nullptr, ramp.data()};
    int lengths[] = {100, 300, 0, -5};
    EXPECT_EQ(v->setre(250, arrays, lengths), 4);
    Signal padded(250, 99.0);
    std::copy(ramp.begin(), ramp.begin() + 100, padded.begin());
    const Signal want[] = {padded, Signal(down.begin(), down.begin() + 250), Signal(250, 0.0),
                           Signal(250, 0.0)};
    for (int i = 0; i < 4; ++i) {
        void *l, *r;
        v->getip(i, l, r);
        EXPECT_EQ(std::pair(valuesOf(l, 250), l), std::pair(want[i], r)) << i; // one array for both channels
    }
    EXPECT_EQ(registry.count() + v->registryIds(), 0);
    EXPECT_EQ(v->setre(0, nullptr, nullptr), 4); // no data: each element still holds one value
    void *l, *r;
    v->getip(3, l, r);
    EXPECT_EQ(valuesOf(l, 1), Signal{0.0});
}

} // namespace
