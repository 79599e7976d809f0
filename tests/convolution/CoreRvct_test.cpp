#include "convolution/CoreRvct.h"

#include "base/CorePool.h"
#include "convolution/CorePlel.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class CoreRvctTest : public ::testing::Test {
protected:
    void SetUp() override { baseline = pool.getma(); }

    std::vector<double> element(const CoreRvct& v, int i, int n) {
        void* l = nullptr;
        void* r = nullptr;
        v.getip(i, l, r);
        EXPECT_EQ(l, r); // one array for both channels
        const double* p = static_cast<const double*>(l);
        return std::vector<double>(p, p + n);
    }

    CorePool pool;
    DataSrce table;
    CorePlel registry{&pool};
    int64_t baseline = 0;
};

TEST_F(CoreRvctTest, ArraysAreCutOrPaddedWithTheirLastValue) {
    std::vector<double> pos = {0.0, 1.0, 2.0};
    {
        CoreRvct v(&pool, &registry, true, 3, nullptr, nullptr, pos.data(), 0.0, 2.0, nullptr, 0.0, 1.0,
                   &table, 0.5, "1");
        std::vector<double> shortOne(100), longOne(300);
        for (int i = 0; i < 100; ++i) shortOne[i] = i;
        for (int i = 0; i < 300; ++i) longOne[i] = -i;
        double* arrays[] = {shortOne.data(), longOne.data(), nullptr};
        int lengths[] = {100, 300, 0};
        EXPECT_EQ(v.setre(250, arrays, lengths), 3);
        const std::vector<double> first = element(v, 0, 250);
        EXPECT_EQ(first[99], 99.0);
        EXPECT_EQ(first[100], 99.0);
        EXPECT_EQ(first[249], 99.0);
        const std::vector<double> second = element(v, 1, 250);
        EXPECT_EQ(second[249], -249.0);
        EXPECT_EQ(element(v, 2, 250), std::vector<double>(250, 0.0));
        // Raw arrays never enter the registry.
        EXPECT_EQ(registry.count(), 0);
        EXPECT_EQ(v.registryIds(), 0);
    }
    EXPECT_EQ(pool.getma(), baseline);
}

TEST_F(CoreRvctTest, EmptyLengthStillHoldsOneValue) {
    std::vector<double> pos = {0.0, 1.0};
    {
        CoreRvct v(&pool, &registry, true, 2, nullptr, nullptr, pos.data(), 0.0, 1.0, nullptr, 0.0, 1.0,
                   &table, 0.5, "1");
        double data[] = {7.0, 8.0};
        double* arrays[] = {data, data};
        int lengths[] = {2, -5};
        EXPECT_EQ(v.setre(0, arrays, lengths), 2);
        EXPECT_EQ(element(v, 0, 1), std::vector<double>{0.0});
        EXPECT_EQ(element(v, 1, 1), std::vector<double>{0.0});
        EXPECT_EQ(v.setre(1, nullptr, nullptr), 2); // no data at all
        EXPECT_EQ(element(v, 0, 1), std::vector<double>{0.0});
    }
    EXPECT_EQ(pool.getma(), baseline);
}

TEST_F(CoreRvctTest, TreeOfRawVectorsMixesAndFreesOnce) {
    std::vector<double> pos = {0.0, 1.0};
    auto* lower = new CoreRvct(&pool, &registry, true, 2, nullptr, nullptr, pos.data(), 0.0, 1.0, nullptr,
                               0.0, 1.0, &table, 0.5, "-1");
    CoreVctr* children[] = {lower, nullptr};
    {
        CoreRvct top(&pool, &registry, false, 2, nullptr, children, pos.data(), 0.0, 1.0, nullptr, 0.0, 1.0,
                     &table, 0.5, "-1");
        std::vector<double> a(4, 1.0), b(4, 3.0);
        double* arrays[] = {a.data(), b.data()};
        int lengths[] = {4, 4};
        lower->setre(4, arrays, lengths);
        top.chncp(4, -1, -1);
        top.chnip();
        lower->setvl(true, 0.0, 1.0, "BUS1", false, "");
        top.setvl(true, 0.0, 1.0, "BUS2", false, "");
        table.getsc("BUS1")->setvl(0.0); // x = 0.5: halfway
        table.getsc("BUS2")->setvl(-1.0);
        top.chnup();
        // Liquid 0, pan off, pad 1: the lower node gives 2.0, and the top passes element 0 through.
        const double* out = static_cast<const double*>(top.getlc());
        for (int i = 0; i < 4; ++i) EXPECT_DOUBLE_EQ(out[i], 2.0);
    }
    EXPECT_EQ(pool.getma(), baseline);
}

} // namespace
