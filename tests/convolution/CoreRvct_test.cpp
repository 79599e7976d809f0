// CoreRvct: raw arrays cut or padded with their last value, never registered, freed once by their own
// vector, and a tree of raw vectors mixing them by position.
#include "convolution/CoreRvct.h"

#include "base/CorePool.h"
#include "convolution/CorePlel.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Signal = std::vector<double>;

Signal element(const void* values, int n) {
    return Signal(static_cast<const double*>(values), static_cast<const double*>(values) + n);
}

class CoreRvctTest : public ::testing::Test {
protected:
    CoreRvct* make(bool leaf, CoreVctr** children, const char* source) {
        auto* v = new CoreRvct(&pool, &registry, leaf, 4, nullptr, children, positions, 0.0, 3.0, nullptr,
                               0.0, 1.0, &table, 0.5, "-1");
        v->setvl(true, 0.0, 3.0, source, false, "");
        return v;
    }
    void TearDown() override { EXPECT_EQ(pool.getma(), 0); }

    CorePool pool;
    DataSrce table;
    CorePlel registry{&pool};
    double positions[4] = {0.0, 1.0, 2.0, 3.0};
};

TEST_F(CoreRvctTest, ArraysAreCutOrPaddedWithTheirLastValueAndNeverRegistered) {
    std::unique_ptr<CoreRvct> v(make(true, nullptr, "BUS1"));
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
        EXPECT_EQ(std::pair(element(l, 250), l), std::pair(want[i], r)) << i; // one array for both channels
    }
    EXPECT_EQ(registry.count() + v->registryIds(), 0);
    EXPECT_EQ(v->setre(0, nullptr, nullptr), 4); // no data: each element still holds one value
    void *l, *r;
    v->getip(3, l, r);
    EXPECT_EQ(element(l, 1), Signal{0.0});
}

// Liquid 0, pan off, pad 1: the lower node gives 2 halfway between its elements 1 and 2, and the top
// passes its element 0 on.
TEST_F(CoreRvctTest, TreeOfRawVectorsMixesItsArraysByPosition) {
    CoreRvct* lower = make(true, nullptr, "BUS1");
    CoreVctr* children[] = {lower, nullptr, nullptr, nullptr};
    std::unique_ptr<CoreRvct> top(make(false, children, "BUS2"));
    Signal a(4, 1.0), b(4, 3.0);
    double* arrays[] = {a.data(), a.data(), b.data(), b.data()};
    int lengths[] = {4, 4, 4, 4};
    lower->setre(4, arrays, lengths);
    top->chncp(4, -1, -1);
    top->chnip();
    table.getsc("BUS1")->setvl(0.0); // position 1.5
    table.getsc("BUS2")->setvl(-1.0);
    top->chnup();
    EXPECT_EQ(element(top->getlc(), 4), Signal(4, 2.0));
}

} // namespace
