#include "convolution/CoreRvct.h"

#include "base/CorePool.h"
#include "convolution/CorePlel.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Signal = std::vector<double>;

Signal element(const CoreRvct& v, int i, int n) {
    void* l = nullptr;
    void* r = nullptr;
    v.getip(i, l, r);
    EXPECT_EQ(l, r); // one array for both channels
    return Signal(static_cast<const double*>(l), static_cast<const double*>(l) + n);
}

TEST(CoreRvct, ArraysAreCutOrPaddedWithTheirLastValueAndNeverRegistered) {
    CorePool pool;
    DataSrce table;
    CorePlel registry(&pool);
    {
        double pos[] = {0.0, 1.0, 2.0, 3.0};
        CoreRvct v(&pool, &registry, true, 4, nullptr, nullptr, pos, 0.0, 3.0, nullptr, 0.0, 1.0, &table, 0.5,
                   "1");
        Signal ramp(300), down(300);
        for (int i = 0; i < 300; ++i) ramp[i] = i, down[i] = -i;
        double* arrays[] = {ramp.data(), down.data(), nullptr, ramp.data()};
        int lengths[] = {100, 300, 0, -5};
        EXPECT_EQ(v.setre(250, arrays, lengths), 4);
        Signal padded(250, 99.0);
        std::copy(ramp.begin(), ramp.begin() + 100, padded.begin());
        EXPECT_EQ(element(v, 0, 250), padded);
        EXPECT_EQ(element(v, 1, 250), Signal(down.begin(), down.begin() + 250));
        EXPECT_EQ(element(v, 2, 250), Signal(250, 0.0));
        EXPECT_EQ(registry.count() + v.registryIds(), 0);
        EXPECT_EQ(v.setre(0, nullptr, nullptr), 4); // no data: each element still holds one value
        EXPECT_EQ(element(v, 3, 1), Signal{0.0});
    }
    EXPECT_EQ(pool.getma(), 0);
}

TEST(CoreRvct, TreeOfRawVectorsMixesAndFreesOnce) {
    CorePool pool;
    DataSrce table;
    CorePlel registry(&pool);
    {
        double pos[] = {0.0, 1.0};
        auto* lower = new CoreRvct(&pool, &registry, true, 2, nullptr, nullptr, pos, 0.0, 1.0, nullptr, 0.0,
                                   1.0, &table, 0.5, "-1");
        CoreVctr* children[] = {lower, nullptr};
        CoreRvct top(&pool, &registry, false, 2, nullptr, children, pos, 0.0, 1.0, nullptr, 0.0, 1.0, &table,
                     0.5, "-1");
        Signal a(4, 1.0), b(4, 3.0);
        double* arrays[] = {a.data(), b.data()};
        int lengths[] = {4, 4};
        lower->setre(4, arrays, lengths);
        top.chncp(4, -1, -1);
        top.chnip();
        lower->setvl(true, 0.0, 1.0, "BUS1", false, "");
        top.setvl(true, 0.0, 1.0, "BUS2", false, "");
        table.getsc("BUS1")->setvl(0.0); // halfway between the lower node's elements
        table.getsc("BUS2")->setvl(-1.0);
        top.chnup();
        // Liquid 0, pan off, pad 1: the lower node gives 2, and the top passes its element 0 on.
        EXPECT_EQ(
            Signal(static_cast<const double*>(top.getlc()), static_cast<const double*>(top.getlc()) + 4),
            Signal(4, 2.0));
    }
    EXPECT_EQ(pool.getma(), 0);
}

} // namespace
