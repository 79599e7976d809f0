#include "convolution/CoreVctr.h"

#include "base/CorePool.h"
#include "convolution/CoreCnvl.h"
#include "convolution/CorePlel.h"
#include "modulation/CoreParm.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"
#include "tests/common/CountingAllocator.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <numbers>
#include <random>
#include <vector>

namespace {

using Channel = std::vector<double>;

bool clean(double v) {
    if (std::isnan(v) || std::isinf(v)) return false;
    if (v == 0.0) return !std::signbit(v);
    return std::fpclassify(v) == FP_NORMAL;
}

double flushed(double v) {
    const int kind = std::fpclassify(v);
    return (kind == FP_ZERO || kind == FP_SUBNORMAL) ? 0.0 : v;
}

Channel values(const void* element, int n) {
    const double* p = static_cast<const double*>(element);
    return Channel(p, p + n);
}

double peakOf(const Channel& a) {
    double peak = 0.0;
    for (double v : a) peak = std::max(peak, std::fabs(v));
    return peak;
}

// The kernels a test gave to a leaf, per element.
struct LeafData {
    std::vector<Channel> left;
    std::vector<Channel> right;
};

class CoreVctrTest : public ::testing::Test {
protected:
    void SetUp() override { baseline = pool.getma(); }

    Channel noise(int n, double scale = 1.0) {
        std::uniform_real_distribution<double> d(-scale, scale);
        Channel c(n);
        for (double& v : c) v = d(rng);
        return c;
    }

    void slot(const char* key, double v) { table.getsc(key)->setvl(v); }

    // A leaf with noise kernels of `length` samples, registered under keys unique to it (so never
    // shared), with the vector control on "BUS1" mapped to x = BUS1 (-1..1 as given).
    CoreVctr* makeLeaf(const std::vector<double>& positions, int length, LeafData* data, bool stepped = false,
                       double liquid = 0.5, const char* liquidSource = "1") {
        std::vector<double> pos = positions;
        const int n = static_cast<int>(pos.size());
        auto* vector =
            new CoreVctr(&pool, &registry, 0, &convolver, true, n, nullptr, n ? pos.data() : nullptr, nullptr,
                         -1.0, 1.0, nullptr, 0.0, 1.0, "", &table, liquid, liquidSource, 0, 0, nullptr,
                         nullptr, stepped, -1, -1, true);
        vector->chncp(length, -1, -1);
        for (int i = 0; i < n; ++i) {
            Channel l = noise(length), r = noise(length);
            fill(vector, i, l, r, vector);
            if (data != nullptr) {
                data->left.push_back(l);
                data->right.push_back(r);
            }
        }
        return vector;
    }

    void fill(CoreVctr* vector, int i, const Channel& l, const Channel& r, void* owner,
              const char* key = nullptr) {
        const int length = static_cast<int>(l.size());
        void* left = nullptr;
        void* right = nullptr;
        vector->newip(left, right, length);
        vector->copyd(left, right, const_cast<double*>(l.data()), const_cast<double*>(r.data()), length, 0);
        CoreAnsx name = key != nullptr ? CoreAnsx(key) : CoreAnsx("element") + CoreAnsx(keyCounter++);
        vector->setip(i, static_cast<double*>(left), static_cast<double*>(right), name, length, 0, 0, 0,
                      owner, 0);
    }

    // Vector control on BUS1, gain pad from padSource, optional gain and pan.
    void controls(CoreVctr* vector, double pad = 1.0, const char* padSource = "1", bool gainOn = false,
                  const char* gainSource = "1", double pan = 0.0, const char* panSource = "0") {
        vector->setvl(true, -1.0, 1.0, "BUS1", false, "", pan, panSource, pad, padSource, gainOn, gainSource,
                      false, 0.0, 1.0);
    }

    CorePool pool;
    DataSrce table;
    CoreCnvl convolver{&pool, "test", 0, nullptr};
    CorePlel registry{&pool};
    std::mt19937 rng{12345};
    int64_t baseline = 0;
    int keyCounter = 0;
};

// ---- construction and configuration -------------------------------------------------------------------

TEST_F(CoreVctrTest, RepeatedPositionsBelongToTheFirstElement) {
    std::unique_ptr<CoreVctr> v(makeLeaf({0.0, 0.5, 0.5, 1.0}, 8, nullptr));
    controls(v.get());
    for (double x : {0.5, 0.75, 0.25}) {
        slot("BUS1", x);
        v->updte(false);
        EXPECT_TRUE(v->elementA() == 1 || v->elementB() == 1) << x;
        EXPECT_NE(v->elementA(), 2) << x;
        EXPECT_NE(v->elementB(), 2) << x;
    }
}

TEST_F(CoreVctrTest, LiquidIsKeptInsideItsBounds) {
    std::unique_ptr<CoreVctr> full(makeLeaf({0.0}, 4, nullptr, false, 1.0));
    std::unique_ptr<CoreVctr> none(makeLeaf({0.0}, 4, nullptr, false, 0.0));
    EXPECT_EQ(full->getlq(), 0.99);
    EXPECT_EQ(none->getlq(), 0.01);
    full->setlq(0.3);
    EXPECT_EQ(full->getlq(), 0.3);
    full->setlq(5.0);
    EXPECT_EQ(full->getlq(), 0.99);
    full->setlq(-1.0);
    EXPECT_EQ(full->getlq(), 0.01);
}

TEST_F(CoreVctrTest, FiveControlsWithTheirBounds) {
    std::vector<double> pos = {0.0, 1.0};
    CoreVctr v(&pool, &registry, 0, &convolver, true, 2, nullptr, pos.data(), nullptr, 2.0, 5.0, nullptr, 0.0,
               1.0, "Hz", &table, 0.5, "BUS1", 0, 0, nullptr, nullptr, false, -1, -1, true);
    struct Bounds {
        double lower;
        double upper;
    };
    const Bounds expected[] = {{-1.0, 1.0}, {-1.0, 1.0}, {-1.0, 1.0}, {-1.0, 1.0}, {2.0, 5.0}};
    for (int k = 0; k < 5; ++k) {
        ASSERT_NE(v.controlAt(k), nullptr);
        EXPECT_EQ(v.controlAt(k)->getbl(), expected[k].lower) << k;
        EXPECT_EQ(v.controlAt(k)->getbu(), expected[k].upper) << k;
    }
    EXPECT_EQ(v.controlAt(5), nullptr);
    // The liquid control follows its source over 0..1 from construction on.
    EXPECT_EQ(v.controlAt(0)->getsc(), CoreAnsx("BUS1"));
    EXPECT_EQ(v.controlAt(0)->getsl(), 0.0);
    EXPECT_EQ(v.controlAt(0)->getsu(), 1.0);
    v.setvl(true, -3.0, 3.0, "BUS2", false, "", 0.5, "BUS3", 0.5, "BUS4", true, "BUS5", false, 0.0, 1.0);
    EXPECT_EQ(v.controlAt(4)->getsl(), -3.0);
    EXPECT_EQ(v.controlAt(3)->getsl(), -1.0);
    EXPECT_EQ(v.controlAt(2)->getsc(), CoreAnsx("BUS5"));
    EXPECT_EQ(v.controlAt(1)->getsu(), 1.0);
}

TEST_F(CoreVctrTest, OneElementHasAConstantControlAndWeightOne) {
    std::vector<double> pos = {0.3};
    CoreVctr v(&pool, &registry, 0, &convolver, true, 1, nullptr, pos.data(), nullptr, 2.0, 5.0, nullptr, 0.0,
               1.0, "", &table, 0.5, "1", 0, 0, nullptr, nullptr, false, -1, -1, true);
    EXPECT_EQ(v.getmn(), 0.0);
    EXPECT_EQ(v.getmx(), 0.0);
    controls(&v);
    for (double x : {-1.0, 0.0, 0.9}) {
        slot("BUS1", x);
        v.updte(false);
        // M = 1 x 1 x (1 - 0.5)
        EXPECT_EQ(v.effectiveWeightA() + v.effectiveWeightB(), 0.5);
        EXPECT_EQ(std::max(v.elementA(), v.elementB()), 0);
    }
}

TEST_F(CoreVctrTest, ElementAccessorsAnswerInsideTheirRange) {
    CoreAnsx names[] = {"first", "second", "third"};
    std::vector<double> pos = {0.0, 1.0, 2.0};
    CoreVctr v(&pool, &registry, 0, &convolver, true, 3, names, pos.data(), nullptr, 0.0, 2.0, nullptr, 0.0,
               1.0, "", &table, 0.5, "1", 0, 0, nullptr, nullptr, false, -1, -1, true);
    EXPECT_EQ(v.getne(), 3);
    EXPECT_EQ(v.getfn(1), CoreAnsx("second"));
    EXPECT_EQ(v.getfn(3), CoreAnsx(""));
    long a = 7, b = 7;
    EXPECT_FALSE(v.getrz(0, a, b));
    EXPECT_EQ(a, 0);
    v.setrz(1, 100, 300);
    v.setrz(-1, 5, 5);
    v.setrz(3, 5, 5);
    EXPECT_TRUE(v.getrz(1, a, b));
    EXPECT_EQ(a, 100);
    EXPECT_EQ(b, 300);
    a = b = 9;
    EXPECT_FALSE(v.getrz(3, a, b));
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 0);
    a = b = 9;
    EXPECT_FALSE(v.getrz(-1, a, b));
    EXPECT_EQ(a + b, 0);
    // Sample positions are kept as 32-bit values.
    v.setrz(2, 5000000000L, -5000000000L);
    EXPECT_TRUE(v.getrz(2, a, b));
    EXPECT_EQ(a, INT32_MAX);
    EXPECT_EQ(b, INT32_MIN);
}

TEST_F(CoreVctrTest, VectorWithoutElementsMixesNothing) {
    CoreVctr v(&pool, &registry, 0, &convolver, true, 0, nullptr, nullptr, nullptr, -1.0, 1.0, nullptr, 0.0,
               1.0, "", &table, 0.5, "1", 0, 0, nullptr, nullptr, false, -1, -1, true);
    v.chncp(16, -1, -1);
    controls(&v);
    slot("BUS1", 0.2);
    for (int i = 0; i < 3; ++i) v.chnru(true);
    EXPECT_EQ(v.elementA(), -1);
    EXPECT_EQ(v.elementB(), -1);
    EXPECT_EQ(v.effectiveWeightA(), 0.0);
    EXPECT_EQ(peakOf(values(v.getlc(), 16)), 0.0);
}

// ---- update: gains, bracketing, smoothing ---------------------------------------------------------------

TEST_F(CoreVctrTest, GainsFollowPadGainpadGainAndLiquid) {
    struct Case {
        double pad;
        double gainpad; // control value 0..1
        bool gainOn;
        double gain;   // control value 0..1
        double liquid; // Liquid control value 0..1
        double expectedG;
        double expectedM;
    };
    const Case cases[] = {
        {1.0, 0.7, false, 0.0, 1.0, 1.0, 0.5},
        {0.5, 1.0, false, 0.0, 1.0, 0.5, 0.25},
        {0.25, 0.5, false, 0.0, 1.0, 0.625, 0.3125},
        {0.25, 0.5, true, 0.5, 1.0, 0.3125, 0.15625},
        {0.5, 1.0, false, 0.0, 0.5, 0.5, 0.5 * 0.75},
        {0.0, 1.0, false, 0.0, 1.0, 0.0, 0.0},
        // G = -1 times a zero gain would be -0.0: stored as +0.0.
        {-1.0, 1.0, true, 0.0, 1.0, 0.0, 0.0},
    };
    for (const Case& c : cases) {
        std::unique_ptr<CoreVctr> v(makeLeaf({0.0}, 4, nullptr, false, 0.5, "BUS4"));
        slot("BUS2", 2.0 * c.gainpad - 1.0);
        slot("BUS3", 2.0 * c.gain - 1.0);
        slot("BUS4", 2.0 * c.liquid - 1.0);
        controls(v.get(), c.pad, "BUS2", c.gainOn, "BUS3");
        v->updte(false);
        EXPECT_NEAR(v->gain(), c.expectedG, 1e-15) << c.pad << " " << c.gainpad;
        EXPECT_FALSE(std::signbit(v->gain()));
        EXPECT_NEAR(v->effectiveWeightA(), c.expectedM, 1e-15) << c.pad << " " << c.gainpad;
        EXPECT_FALSE(std::signbit(v->effectiveWeightA()));
    }
}

TEST_F(CoreVctrTest, BracketingGivesLinearWeights) {
    struct Case {
        double x;
        int a;
        double wa;
        int b;
        double wb;
    };
    // Elements given out of order: positions 0.5, -0.5, 0.0 are elements 0, 1, 2.
    const Case cases[] = {
        {-0.9, -1, 0.0, 1, 1.0},   {-0.5, 1, 1.0, -1, 0.0}, {-0.25, 1, 0.5, 2, 0.5}, {0.0, 2, 1.0, -1, 0.0},
        {0.125, 2, 0.75, 0, 0.25}, {0.5, 0, 1.0, -1, 0.0},  {0.75, 0, 1.0, -1, 0.0},
    };
    std::unique_ptr<CoreVctr> v(makeLeaf({0.5, -0.5, 0.0}, 4, nullptr, false, 0.5, "-1"));
    controls(v.get()); // liquid 0: M = 1
    for (const Case& c : cases) {
        slot("BUS1", c.x);
        v->updte(false);
        EXPECT_EQ(v->elementA(), c.a) << c.x;
        EXPECT_EQ(v->elementB(), c.b) << c.x;
        EXPECT_NEAR(v->effectiveWeightA(), c.wa, 1e-15) << c.x;
        EXPECT_NEAR(v->effectiveWeightB(), c.wb, 1e-15) << c.x;
    }
}

TEST_F(CoreVctrTest, SteppedPicksTheNearerAndTheUpperAtTheMidpoint) {
    std::unique_ptr<CoreVctr> v(makeLeaf({0.0, 0.5}, 4, nullptr, true, 0.5, "-1"));
    controls(v.get());
    struct Case {
        double x;
        double wa;
        double wb;
    };
    for (const Case& c : {Case{0.1, 1.0, 0.0}, Case{0.25, 0.0, 1.0}, Case{0.3, 0.0, 1.0}}) {
        slot("BUS1", c.x);
        v->updte(false);
        EXPECT_EQ(v->elementA(), 0);
        EXPECT_EQ(v->elementB(), 1);
        EXPECT_EQ(v->effectiveWeightA(), c.wa) << c.x;
        EXPECT_EQ(v->effectiveWeightB(), c.wb) << c.x;
    }
}

TEST_F(CoreVctrTest, SearchFindsTheBracketAmongTenThousandPositions) {
    const int n = 10000;
    std::vector<double> pos(n);
    std::vector<int> order(n);
    for (int i = 0; i < n; ++i) order[i] = i;
    std::shuffle(order.begin(), order.end(), rng);
    for (int i = 0; i < n; ++i) pos[i] = order[i] * 0.0001; // element i sits at order[i] / 10000
    CoreVctr v(&pool, &registry, 0, &convolver, true, n, nullptr, pos.data(), nullptr, -1.0, 1.0, nullptr,
               0.0, 1.0, "", &table, 0.5, "-1", 0, 0, nullptr, nullptr, false, -1, -1, true);
    controls(&v);
    std::uniform_int_distribution<int> pick(0, n - 2);
    for (int trial = 0; trial < 200; ++trial) {
        const int low = pick(rng);
        const double x = (low + 0.25) * 0.0001;
        slot("BUS1", x);
        v.updte(false);
        ASSERT_GE(v.elementA(), 0);
        ASSERT_GE(v.elementB(), 0);
        EXPECT_EQ(order[v.elementA()], low);
        EXPECT_EQ(order[v.elementB()], low + 1);
        EXPECT_NEAR(v.effectiveWeightA(), 0.75, 1e-9);
    }
}

// out = L x out + wA x A + wB x B per channel, flushed, as the test's own reference.
void referenceStep(Channel& outL, Channel& outR, double liquid, const LeafData& d, int a, double wa, int b,
                   double wb) {
    for (size_t i = 0; i < outL.size(); ++i) {
        double l = liquid * outL[i];
        double r = liquid * outR[i];
        if (a >= 0) {
            l += wa * d.left[a][i];
            r += wa * d.right[a][i];
        }
        if (b >= 0) {
            l += wb * d.left[b][i];
            r += wb * d.right[b][i];
        }
        outL[i] = flushed(l);
        outR[i] = flushed(r);
    }
}

void expectClose(const Channel& expected, const void* actual, double tolerance, const char* what, int step) {
    const double* p = static_cast<const double*>(actual);
    for (size_t i = 0; i < expected.size(); ++i) {
        ASSERT_NEAR(p[i], expected[i], tolerance) << what << " sample " << i << " step " << step;
    }
}

TEST_F(CoreVctrTest, EachMixSmoothsTowardsTheWeightedElements) {
    const int length = 64;
    LeafData d;
    std::unique_ptr<CoreVctr> v(makeLeaf({-0.5, 0.0, 0.5}, length, &d));
    controls(v.get(), 0.5, "0"); // G = 1 - 0.5 x 0.5
    Channel refL(length, 0.0), refR(length, 0.0);
    std::uniform_real_distribution<double> position(-0.7, 0.7);
    for (int step = 0; step < 40; ++step) {
        slot("BUS1", position(rng));
        v->chnru(true);
        referenceStep(refL, refR, 0.5, d, v->elementA(), v->effectiveWeightA(), v->elementB(),
                      v->effectiveWeightB());
        const double tolerance = 1e-12 * std::max(peakOf(refL), peakOf(refR));
        expectClose(refL, v->getlc(), tolerance, "left", step);
        expectClose(refR, v->getrc(), tolerance, "right", step);
    }
    EXPECT_NEAR(v->gain(), 0.75, 1e-15);
}

TEST_F(CoreVctrTest, ConstantControlsStopMixingAfterTheResidualFalls) {
    std::unique_ptr<CoreVctr> v(makeLeaf({0.0, 1.0}, 8, nullptr));
    controls(v.get());
    slot("BUS1", 0.3);
    v->chnru(true); // a change: mixes
    const int expected = static_cast<int>(std::ceil(std::log(1e-20) / std::log(0.5)));
    ASSERT_EQ(expected, 67);
    int unchanged = 0;
    while (!*v->getca() && unchanged < 200) {
        v->chnru(true);
        ++unchanged;
    }
    EXPECT_GE(unchanged, expected - 1);
    EXPECT_LE(unchanged, expected + 1);
    // Converged: the output no longer moves.
    const Channel before = values(v->getlc(), 8);
    for (int i = 0; i < 5; ++i) v->chnru(true);
    EXPECT_EQ(values(v->getlc(), 8), before);

    // Any control starts mixing again.
    auto restarts = [&](auto change) {
        for (int i = 0; i < 80; ++i) v->chnru(true);
        ASSERT_TRUE(*v->getca());
        change();
        v->chnru(true);
        EXPECT_FALSE(*v->getca());
    };
    restarts([&] { slot("BUS1", 0.6); });
    restarts([&] { controls(v.get(), 0.5, "BUS2"); });
    restarts([&] { slot("BUS2", -0.5); });
    restarts([&] {
        v->setvl(true, -1.0, 1.0, "BUS1", false, "", 1.0, "BUS3", 0.5, "BUS2", false, "1", false, 0.0, 1.0);
    });
    restarts([&] { slot("BUS3", 0.4); });
}

TEST_F(CoreVctrTest, WeightsDoNotCompoundAtAConstantPosition) {
    const int length = 32;
    LeafData d;
    std::unique_ptr<CoreVctr> v(makeLeaf({0.0, 1.0}, length, &d));
    controls(v.get(), 0.5, "1"); // pad 0.5, Gainpad 1: G = 0.5
    slot("BUS1", 0.25);
    for (int i = 0; i < 200; ++i) v->chnru(true);
    Channel expectedL(length), expectedR(length);
    for (int i = 0; i < length; ++i) {
        expectedL[i] = 0.5 * (0.75 * d.left[0][i] + 0.25 * d.left[1][i]);
        expectedR[i] = 0.5 * (0.75 * d.right[0][i] + 0.25 * d.right[1][i]);
    }
    expectClose(expectedL, v->getlc(), 1e-12, "left", 200);
    expectClose(expectedR, v->getrc(), 1e-12, "right", 200);
}

TEST_F(CoreVctrTest, PanMovesBothChannelsToOneSide) {
    const int length = 32;
    LeafData d;
    std::unique_ptr<CoreVctr> v(makeLeaf({0.0}, length, &d, false, 0.5, "-1")); // liquid 0: one mix settles
    for (double pan : {1.0, -1.0, 0.5, -0.3}) {
        v->setvl(true, -1.0, 1.0, "BUS1", false, "", 1.0, "BUS5", 1.0, "1", false, "1", false, 0.0, 1.0);
        slot("BUS5", pan);
        v->chnru(true);
        const double angle = std::numbers::pi / 2.0 * pan;
        const double ll = angle >= 0 ? std::cos(angle) : 1.0, lr = angle >= 0 ? std::sin(angle) : 0.0;
        const double rl = angle >= 0 ? 0.0 : std::sin(-angle), rr = angle >= 0 ? 1.0 : std::cos(angle);
        const Channel outL = values(v->getlc(), length), outR = values(v->getrc(), length);
        const double peak = std::max(peakOf(d.left[0]), peakOf(d.right[0]));
        for (int i = 0; i < length; ++i) {
            const double sl = d.left[0][i], sr = d.right[0][i];
            ASSERT_NEAR(outL[i], ll * sl + rl * sr, 1e-15 * 4 * peak) << pan << " " << i;
            ASSERT_NEAR(outR[i], lr * sl + rr * sr, 1e-15 * 4 * peak) << pan << " " << i;
        }
        if (pan == 1.0) {
            EXPECT_LE(peakOf(outL), 1e-15 * peak);
        }
        if (pan == -1.0) {
            EXPECT_LE(peakOf(outR), 1e-15 * peak);
        }
    }
}

TEST_F(CoreVctrTest, WithoutVectorControlAllElementsAreSummed) {
    const int length = 16;
    LeafData d;
    std::unique_ptr<CoreVctr> v(makeLeaf({0.0, 0.3, 0.9}, length, &d, false, 0.5, "-1"));
    v->setvl(false, -1.0, 1.0, "BUS1", false, "", 0.0, "0", 0.5, "1", false, "1", false, 0.0, 1.0);
    v->chnru(true);
    Channel expected(length, 0.0);
    for (int e = 0; e < 3; ++e)
        for (int i = 0; i < length; ++i) expected[i] += 0.5 * d.left[e][i];
    expectClose(expected, v->getlc(), 1e-14, "left", 0);
}

TEST_F(CoreVctrTest, PositionOutputFollowsTheSecondaryPositions) {
    std::vector<double> pos = {0.0, 1.0}, secondary = {2.0, 6.0};
    auto build = [&](double low, double high) {
        return std::make_unique<CoreVctr>(&pool, &registry, 0, &convolver, true, 2, nullptr, pos.data(),
                                          nullptr, -1.0, 1.0, secondary.data(), low, high, "", &table, 0.5,
                                          "1", 0, 0, nullptr, nullptr, false, -1, -1, true);
    };
    auto v = build(2.0, 10.0);
    v->setvl(true, -1.0, 1.0, "BUS1", true, "BUS6", 0.0, "0", 1.0, "1", false, "1", false, 0.0, 1.0);
    slot("BUS1", 0.25);
    v->updte(false);
    // (0.75 x 2 + 0.25 x 6 - 2) x 2 / 8 - 1
    EXPECT_DOUBLE_EQ(table.getsc("BUS6")->getvl(), (0.75 * 2 + 0.25 * 6 - 2) * 0.25 - 1.0);
    slot("BUS1", -0.5); // below the first position: element 1 only
    v->updte(false);
    EXPECT_DOUBLE_EQ(table.getsc("BUS6")->getvl(), (2.0 - 2.0) * 0.25 - 1.0);

    auto flat = build(3.0, 3.0);
    flat->setvl(true, -1.0, 1.0, "BUS1", true, "BUS7", 0.0, "0", 1.0, "1", false, "1", false, 0.0, 1.0);
    slot("BUS1", 0.5);
    flat->updte(false);
    EXPECT_EQ(table.getsc("BUS7")->getvl(), -1.0);

    // An unknown slot name would be "OFF": nothing is written there.
    slot("OFF", -1.0);
    auto unnamed = build(0.0, 1.0);
    unnamed->setvl(true, -1.0, 1.0, "BUS1", true, "NOSUCH", 0.0, "0", 1.0, "1", false, "1", false, 0.0, 1.0);
    unnamed->updte(false);
    EXPECT_EQ(table.getsc("OFF")->getvl(), -1.0);
}

TEST_F(CoreVctrTest, OutputsNeverHoldNanNegativeZeroOrDenormals) {
    const int length = 64;
    std::unique_ptr<CoreVctr> v(makeLeaf({0.0, 1.0}, length, nullptr));
    Channel tiny(length), negative(length);
    for (int i = 0; i < length; ++i) {
        tiny[i] = (i % 3 == 0) ? 1e-310 : (i % 3 == 1 ? -0.0 : 1e-300 * (i + 1));
        negative[i] = -tiny[i];
    }
    fill(v.get(), 0, tiny, negative, v.get());
    fill(v.get(), 1, negative, tiny, v.get());
    v->setvl(true, -1.0, 1.0, "BUS1", true, "BUS6", 1.0, "BUS5", 0.5, "BUS2", true, "BUS3", false, 0.0, 1.0);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int step = 0; step < 300; ++step) {
        for (const char* key : {"BUS1", "BUS2", "BUS3", "BUS5"}) slot(key, u(rng));
        v->chnru(true);
        for (double x : values(v->getlc(), length)) ASSERT_TRUE(clean(x)) << x;
        for (double x : values(v->getrc(), length)) ASSERT_TRUE(clean(x)) << x;
        ASSERT_TRUE(clean(v->gain()));
        ASSERT_TRUE(clean(v->effectiveWeightA()));
        ASSERT_TRUE(clean(v->effectiveWeightB()));
        ASSERT_TRUE(clean(table.getsc("BUS6")->getvl()));
    }
}

// ---- trees -----------------------------------------------------------------------------------------------

class TreeTest : public CoreVctrTest {
protected:
    // root (positions 0, 1) -> [middle (positions 0, 1) -> [leafA, leafB], leafC]
    void build(int length, bool withPairs = false) {
        int pairA[] = {10, 20}, pairB[] = {-1, -1};
        leafA = makeLeaf({0.0, 1.0}, length, &dataA);
        leafB = makeLeaf({0.0, 1.0}, length, &dataB);
        leafC = makeLeaf({0.0, 1.0}, length, &dataC);
        std::vector<double> pos = {0.0, 1.0};
        CoreVctr* lower[] = {leafA, leafB};
        middle =
            new CoreVctr(&pool, &registry, 0, &convolver, false, 2, nullptr, pos.data(), lower, -1.0, 1.0,
                         nullptr, 0.0, 1.0, "", &table, 0.5, "1", 3, 0, pairA, pairB, false, 2, -1, true);
        CoreVctr* upper[] = {middle, leafC};
        int rootA[] = {5, 5}, rootB[] = {-1, 7};
        root = new CoreVctr(&pool, &registry, 0, &convolver, false, 2, nullptr, pos.data(), upper, -1.0, 1.0,
                            nullptr, 0.0, 1.0, "", &table, 0.5, "1", 4, 0, rootA, rootB, false, -1, 1, true);
        root->chncp(length, -1, -1);
        if (withPairs) root->setsc();
        root->chnip();
        for (CoreVctr* v : {leafA, leafB, leafC, middle, root}) controls(v);
    }

    void TearDown() override { delete root; }

    CoreVctr* leafA = nullptr;
    CoreVctr* leafB = nullptr;
    CoreVctr* leafC = nullptr;
    CoreVctr* middle = nullptr;
    CoreVctr* root = nullptr;
    LeafData dataA, dataB, dataC;
};

TEST_F(TreeTest, LengthsAndLinksReachEveryLevel) {
    build(16);
    root->chncp(64, 32, 80);
    root->chnip();
    for (CoreVctr* v : {leafA, leafB, leafC, middle}) EXPECT_EQ(v->getcd(), 64);
    EXPECT_EQ(root->getcd(), 64);
    void* l = nullptr;
    void* r = nullptr;
    root->getip(0, l, r);
    EXPECT_EQ(l, middle->getlc());
    EXPECT_EQ(r, middle->getrc());
    middle->getip(1, l, r);
    EXPECT_EQ(l, leafB->getlc());
    root->chncd(1);
    for (CoreVctr* v : {leafA, leafB, leafC, middle, root}) EXPECT_EQ(v->getcd(), 32);
    root->chncd(0);
    EXPECT_EQ(leafC->getcd(), 64);
    root->chndc();
    for (CoreVctr* v : {leafA, leafB, leafC, middle, root}) {
        EXPECT_EQ(v->getlc(), nullptr);
        EXPECT_EQ(v->currentLeft(), nullptr);
    }
    root->getip(0, l, r);
    EXPECT_EQ(l, nullptr);
    root->chnru(true); // nothing to mix into: no crash
    root->chnna("VECTOR0");
    EXPECT_EQ(root->getnm(), CoreAnsx("VECTOR0"));
    EXPECT_EQ(middle->getnm(), CoreAnsx("VECTOR0_0"));
    EXPECT_EQ(leafB->getnm(), CoreAnsx("VECTOR0_0_1"));
    EXPECT_EQ(leafC->getnm(), CoreAnsx("VECTOR0_1"));
}

TEST_F(TreeTest, RootOutputIsTheNestedMix) {
    const int length = 32;
    build(length);
    Channel aL(length, 0.0), aR(length, 0.0), bL(length, 0.0), bR(length, 0.0), cL(length, 0.0),
        cR(length, 0.0);
    Channel mL(length, 0.0), mR(length, 0.0), rootL(length, 0.0), rootR(length, 0.0);
    std::uniform_real_distribution<double> u(-0.2, 1.2);
    for (int step = 0; step < 30; ++step) {
        slot("BUS1", u(rng));
        root->chnup(true);
        // Children first, with their own weights; then the parents from the children's outputs.
        referenceStep(aL, aR, 0.5, dataA, leafA->elementA(), leafA->effectiveWeightA(), leafA->elementB(),
                      leafA->effectiveWeightB());
        referenceStep(bL, bR, 0.5, dataB, leafB->elementA(), leafB->effectiveWeightA(), leafB->elementB(),
                      leafB->effectiveWeightB());
        referenceStep(cL, cR, 0.5, dataC, leafC->elementA(), leafC->effectiveWeightA(), leafC->elementB(),
                      leafC->effectiveWeightB());
        LeafData ab{{aL, bL}, {aR, bR}};
        referenceStep(mL, mR, 0.5, ab, middle->elementA(), middle->effectiveWeightA(), middle->elementB(),
                      middle->effectiveWeightB());
        LeafData mc{{mL, cL}, {mR, cR}};
        referenceStep(rootL, rootR, 0.5, mc, root->elementA(), root->effectiveWeightA(), root->elementB(),
                      root->effectiveWeightB());
        const double tolerance = 1e-12 * std::max(1.0, peakOf(rootL));
        expectClose(rootL, root->getlc(), tolerance, "root left", step);
        expectClose(rootR, root->getrc(), tolerance, "root right", step);
    }
}

TEST_F(TreeTest, ParentsConvergeOnlyAfterTheirChildren) {
    build(8);
    slot("BUS1", 0.4);
    int steps = 0;
    bool childFirst = true;
    while (!*root->getca() && steps < 500) {
        root->chnup(true);
        ++steps;
        if (*root->getca() && !(*middle->getca() && *leafA->getca() && *leafB->getca())) childFirst = false;
    }
    EXPECT_TRUE(*root->getca());
    EXPECT_TRUE(childFirst);
    // The root converges after its children do: later than one leaf alone.
    EXPECT_GT(steps, 67);
    // A child that changes makes the parent mix again.
    slot("BUS1", 0.6);
    root->chnup(true);
    EXPECT_FALSE(*leafA->getca());
    EXPECT_FALSE(*root->getca());
}

TEST_F(TreeTest, ChangeFlagsAndOutputPairs) {
    build(16, true);
    EXPECT_NE(root->getls(), nullptr);
    EXPECT_NE(root->getrs(), nullptr);
    bool* changed0 = root->getuc();
    bool* changed1 = root->getus();
    bool* converged = root->getca();
    EXPECT_TRUE(*changed1);
    *changed0 = false;
    root->chnru(false);
    EXPECT_FALSE(*changed0);
    root->chnru(true);
    EXPECT_TRUE(*changed0);
    for (int i = 0; i < 300; ++i) {
        *changed0 = false;
        root->chnru(true); // converged or not, a mixing call raises the flag
        ASSERT_TRUE(*changed0);
    }
    EXPECT_TRUE(*root->getca());
    // Pair 1 receives a copy of pair 0.
    *changed1 = false;
    root->setcc(1);
    EXPECT_EQ(values(root->getls(), 16), values(root->getlc(), 16));
    EXPECT_EQ(values(root->getrs(), 16), values(root->getrc(), 16));
    root->chnru(true);
    EXPECT_TRUE(*changed1);
    EXPECT_EQ(root->currentLeft(), root->getls());
    root->setcc(0);
    EXPECT_EQ(root->currentLeft(), root->getlc());
    EXPECT_EQ(root->getuc(), changed0);
    EXPECT_EQ(root->getus(), changed1);
    EXPECT_EQ(root->getca(), converged);
}

TEST_F(TreeTest, InheritedValuesTakeTheLargestUnsetBelow) {
    build(8);
    // root: shorts (-1, 1), fade-in 0, pairs A (5, 5) B (-1, 7); middle: shorts (2, -1), pairs A (10, 20)
    // B (-1, -1); leaves: shorts (-1, -1), pairs all -1.
    EXPECT_EQ(root->chnci(), 2);   // root unset: max(-1, middle 2, leafC -1)
    EXPECT_EQ(root->chnco(), 1);   // set at the root
    EXPECT_EQ(root->chnfi(), 0);   // nothing positive anywhere
    EXPECT_EQ(root->chnfo(0), 10); // root length 0 unset: max(5, middle 10, ...)
    EXPECT_EQ(root->chnfo(1), 5);  // root length 1 set: its own
    EXPECT_EQ(root->chnls(0), -1);
    EXPECT_EQ(root->chnls(1), 7);
    EXPECT_EQ(root->chnfo(2), -1);
    int offset = 0, fadeIn = 0;
    middle->getup(offset, fadeIn);
    EXPECT_EQ(offset, 3);
}

// ---- kernels, registry and gains ------------------------------------------------------------------------

TEST_F(CoreVctrTest, ElementOperationsCopyAllocateAndFree) {
    std::unique_ptr<CoreVctr> v(makeLeaf({0.0, 1.0}, 8, nullptr));
    void* l = nullptr;
    void* r = nullptr;
    const int64_t before = pool.getma();
    v->newip(l, r, 8);
    EXPECT_EQ(values(l, 8), Channel(8, 0.0));
    EXPECT_GT(pool.getma(), before);
    Channel source = {1, 2, 3, 4};
    v->copyd(l, r, source.data(), source.data(), 4, 2);
    EXPECT_EQ(values(l, 8), (Channel{0, 0, 1, 2, 3, 4, 0, 0}));
    v->delip(l, r);
    EXPECT_EQ(pool.getma(), before);

    Channel data(8, 0.5);
    v->cpyip(0, data.data(), data.data(), 8);
    v->getip(0, l, r);
    EXPECT_EQ(values(l, 8), data);
    v->cpyip(0, nullptr, nullptr, 8);
    EXPECT_EQ(values(r, 8), Channel(8, 0.0));
}

TEST_F(CoreVctrTest, SetipRegistersAndTakesSharedBuffers) {
    Channel l = noise(16), r = noise(16);
    std::vector<double> pos = {0.0};
    auto make = [&] {
        return std::make_unique<CoreVctr>(&pool, &registry, 0, &convolver, true, 1, nullptr, pos.data(),
                                          nullptr, 0.0, 0.0, nullptr, 0.0, 1.0, "", &table, 0.5, "1", 0, 0,
                                          nullptr, nullptr, false, -1, -1, true);
    };
    auto first = make();
    auto second = make();
    {
        CorePlel::GroupGuard group(&registry, "program", true);
        fill(first.get(), 0, l, r, first.get(), "same");
        fill(second.get(), 0, l, r, second.get(), "same");
    }
    void* l1;
    void* r1;
    void* l2;
    void* r2;
    first->getip(0, l1, r1);
    second->getip(0, l2, r2);
    EXPECT_EQ(l1, l2);
    EXPECT_EQ(r1, r2);
    EXPECT_EQ(first->registryIds(), 1);
    EXPECT_EQ(first->registryId(0), second->registryId(0));
    EXPECT_EQ(registry.refer(first->registryId(0)), 2);
    first.reset();
    EXPECT_EQ(values(l2, 16), l); // still held for the second owner
    second.reset();
    EXPECT_EQ(registry.count(), 0);
    EXPECT_EQ(pool.getma(), baseline);

    // Without a convolver nothing is registered.
    CoreVctr plain(&pool, &registry, 0, nullptr, true, 1, nullptr, pos.data(), nullptr, 0.0, 0.0, nullptr,
                   0.0, 1.0, "", &table, 0.5, "1", 0, 0, nullptr, nullptr, false, -1, -1, true);
    Channel own(4, 1.0);
    plain.setip(0, own.data(), own.data(), "k", 4, 0, 0, 0, nullptr, 0);
    EXPECT_EQ(plain.registryIds(), 0);
    EXPECT_EQ(registry.count(), 0);
}

TEST_F(CoreVctrTest, EnvelopesAreLinearRamps) {
    std::unique_ptr<CoreVctr> v(makeLeaf({0.0}, 8, nullptr));
    EXPECT_EQ(values(v->newfi(5), 5), (Channel{0.0, 0.25, 0.5, 0.75, 1.0}));
    EXPECT_EQ(values(v->newfo(5), 5), (Channel{1.0, 0.75, 0.5, 0.25, 0.0}));
    v->newfe(5);
    const int64_t held = pool.getma();
    EXPECT_EQ(values(v->newfe(5), 5), (Channel{1.0, 0.75, 0.5, 0.25, 0.0}));
    EXPECT_EQ(pool.getma(), held); // the previous one was freed
    EXPECT_EQ(v->newfi(0), nullptr);

    Channel l(6, 2.0), r(6, 4.0);
    Channel ramp = {0.0, 0.5, 1.0};
    v->setfd(l.data(), r.data(), 3, ramp.data());
    EXPECT_EQ(l, (Channel{0.0, 1.0, 2.0, 2.0, 2.0, 2.0}));
    EXPECT_EQ(r, (Channel{0.0, 2.0, 4.0, 4.0, 4.0, 4.0}));
}

TEST_F(CoreVctrTest, NormalisationFollowsTheReferencePeak) {
    // Three elements at -1, 0, 1 with peaks 2, 4, 8; the reference 0.5 lies halfway between 0 and 1.
    const int length = 8;
    LeafData d;
    std::unique_ptr<CoreVctr> v(makeLeaf({-1.0, 0.0, 1.0}, length, &d));
    v->setvl(true, -1.0, 1.0, "BUS1", false, "", 0.0, "0", 1.0, "1", false, "1", true, 0.5, 0.25);
    const double peaks[] = {2.0, 4.0, 8.0};
    for (int i = 0; i < 3; ++i) v->setpk(i, peaks[i]);
    const double level = 0.5;
    v->setgn(level);
    const double reference =
        (0.5 * 8.0 + 0.5 * 4.0) / 1.0; // (d1 x peak[upper] + d2 x peak[lower]) / (d1 + d2)
    double g[3];
    double normalisation = 0.0;
    for (int i = 0; i < 3; ++i) {
        g[i] = 0.75 * level / reference + 0.25 * level / peaks[i];
        normalisation = std::max(normalisation, g[i] * peaks[i]);
    }
    EXPECT_NEAR(v->normalisation(), normalisation, 1e-15);
    for (int i = 0; i < 3; ++i) {
        void* l;
        void* r;
        v->getip(i, l, r);
        const Channel left = values(l, length);
        for (int j = 0; j < length; ++j) EXPECT_NEAR(left[j], d.left[i][j] * g[i] / normalisation, 1e-15);
    }
}

TEST_F(CoreVctrTest, NormalisationSurvivesSilentElementsAndZeroLevel) {
    const int length = 8;
    LeafData d;
    std::unique_ptr<CoreVctr> v(makeLeaf({0.0, 1.0}, length, &d));
    v->setvl(true, 0.0, 1.0, "BUS1", false, "", 0.0, "0", 1.0, "1", false, "1", true, 0.0, 0.5);
    v->setpk(0, 0.0); // silent reference element
    v->setpk(1, 2.0);
    v->setgn(1.0);
    EXPECT_TRUE(std::isfinite(v->normalisation()));
    void* l;
    void* r;
    v->getip(0, l, r);
    EXPECT_EQ(values(l, length), d.left[0]); // peak 0: unscaled
    for (int i = 0; i < 2; ++i) {
        v->getip(i, l, r);
        for (double x : values(l, length)) ASSERT_TRUE(std::isfinite(x));
    }
    // A zero level gives a zero normalisation: nothing is scaled and it stays 1.
    std::unique_ptr<CoreVctr> w(makeLeaf({0.0, 1.0}, length, &d));
    w->setvl(true, 0.0, 1.0, "BUS1", false, "", 0.0, "0", 1.0, "1", false, "1", true, 0.0, 0.5);
    w->setpk(0, 1.0);
    w->setpk(1, 2.0);
    w->setgn(0.0);
    EXPECT_EQ(w->normalisation(), 1.0);
    w->getip(1, l, r);
    EXPECT_EQ(values(l, length), d.left[3]);
    slot("BUS1", 0.5);
    w->chnru(true);
    for (double x : values(w->getlc(), length)) ASSERT_TRUE(clean(x));
}

TEST_F(CoreVctrTest, SharedKernelsAreScaledOnce) {
    const int length = 8;
    Channel l = noise(length), r = noise(length);
    std::vector<double> pos = {0.0, 1.0};
    auto make = [&] {
        auto v = std::make_unique<CoreVctr>(&pool, &registry, 0, &convolver, true, 2, nullptr, pos.data(),
                                            nullptr, 0.0, 1.0, nullptr, 0.0, 1.0, "", &table, 0.5, "1", 0, 0,
                                            nullptr, nullptr, false, -1, -1, true);
        v->chncp(length, -1, -1);
        v->setvl(true, 0.0, 1.0, "BUS1", false, "", 0.0, "0", 1.0, "1", false, "1", true, 0.0, 1.0);
        return v;
    };
    auto first = make();
    auto second = make();
    for (CoreVctr* v : {first.get(), second.get()}) {
        CorePlel::GroupGuard group(&registry, "program", true);
        fill(v, 0, l, r, v, "zero");
        fill(v, 1, l, r, v, "one");
        v->setpk(0, 1.0);
        v->setpk(1, 4.0);
        v->setgn(1.0); // g = 1 / peak; normalisation 1: element 0 x 1, element 1 x 0.25
    }
    void* held;
    void* unused;
    second->getip(1, held, unused);
    void* mine;
    first->getip(1, mine, unused);
    EXPECT_EQ(held, mine);
    const Channel scaled = values(held, length);
    for (int j = 0; j < length; ++j) EXPECT_DOUBLE_EQ(scaled[j], l[j] * 0.25);
    EXPECT_EQ(first->normalisation(), second->normalisation());
}

// ---- output fades ----------------------------------------------------------------------------------------

class FadeTest : public CoreVctrTest {
protected:
    static constexpr int length = 256;
    static constexpr int fadeIn = 16;
    static constexpr int fadeOut = 32;

    // The played kernel must be envelope x smoothed mix at every cycle.
    void run(bool endFade, bool twoPairs) {
        LeafData d;
        std::unique_ptr<CoreVctr> v(makeLeaf({0.0, 1.0}, length, &d));
        controls(v.get());
        if (twoPairs) v->setsc();
        const double* in = static_cast<const double*>(v->newfi(fadeIn));
        const double* out = static_cast<const double*>(v->newfo(fadeOut));
        const double* end = static_cast<const double*>(v->newfe(fadeOut));
        v->setcr(const_cast<double*>(out), fadeOut, length, fadeIn);
        Channel envelope(length, 1.0);
        if (endFade) {
            for (int j = 0; j < fadeOut; ++j) envelope[length - fadeOut + j] = end[j];
        } else {
            for (int j = 0; j < fadeIn; ++j) envelope[j] = in[j];
            for (int j = 0; j < fadeOut; ++j) envelope[length - fadeOut + j] = out[j];
        }
        Channel refL[2] = {Channel(length, 0.0), Channel(length, 0.0)};
        Channel refR[2] = {Channel(length, 0.0), Channel(length, 0.0)};
        slot("BUS1", 0.3);
        short pair = 0;
        for (int cycle = 0; cycle < 300; ++cycle) {
            if (twoPairs) {
                const short next = static_cast<short>(cycle % 2);
                if (next != pair) {
                    refL[next] = refL[pair];
                    refR[next] = refR[pair];
                }
                pair = next;
                v->setcc(pair);
            }
            v->chnru(true);
            if (endFade)
                v->setfd(true, length, fadeOut);
            else
                v->setfd(false, 0, 0);
            referenceStep(refL[pair], refR[pair], 0.5, d, v->elementA(), v->effectiveWeightA(), v->elementB(),
                          v->effectiveWeightB());
            const Channel playedL = values(pair == 0 ? v->getlc() : v->getls(), length);
            const Channel playedR = values(pair == 0 ? v->getrc() : v->getrs(), length);
            const double tolerance = 1e-12 * std::max(1.0, peakOf(refL[pair]));
            for (int j = 0; j < length; ++j) {
                ASSERT_NEAR(playedL[j], envelope[j] * refL[pair][j], tolerance)
                    << "cycle " << cycle << " at " << j;
                ASSERT_NEAR(playedR[j], envelope[j] * refR[pair][j], tolerance)
                    << "cycle " << cycle << " at " << j;
            }
        }
        // Alternating pairs keep it mixing; one pair runs long past convergence.
        if (!twoPairs) {
            EXPECT_TRUE(*v->getca());
        }
    }
};

TEST_F(FadeTest, StoredFadesDoNotCompound) {
    run(false, false);
}

TEST_F(FadeTest, EndFadeDoesNotCompound) {
    run(true, false);
}

TEST_F(FadeTest, StoredFadesWithAlternatingPairs) {
    run(false, true);
}

TEST_F(FadeTest, EndFadeWithAlternatingPairs) {
    run(true, true);
}

TEST_F(CoreVctrTest, EndFadeIsClampedToItsEnvelope) {
    std::unique_ptr<CoreVctr> v(makeLeaf({0.0}, 16, nullptr));
    controls(v.get());
    v->newfe(4);
    v->chnru(true);
    const Channel before = values(v->getlc(), 16);
    v->setfd(true, 1000, 1000); // n clamped to the pair, m to the envelope
    const Channel after = values(v->getlc(), 16);
    for (int j = 0; j < 12; ++j) EXPECT_EQ(after[j], before[j]);
    EXPECT_EQ(after[15], 0.0);
}

// ---- lifetime and allocation -----------------------------------------------------------------------------

TEST_F(CoreVctrTest, BuildAndDestroyCyclesReturnEveryBlock) {
    const int64_t start = pool.getma();
    for (int cycle = 0; cycle < 1000; ++cycle) {
        CorePlel::GroupGuard group(&registry, "program", true);
        std::vector<double> pos = {0.0, 1.0};
        CoreVctr* leaves[4];
        for (CoreVctr*& leaf : leaves) {
            leaf = new CoreVctr(&pool, &registry, 0, &convolver, true, 2, nullptr, pos.data(), nullptr, 0.0,
                                1.0, nullptr, 0.0, 1.0, "", &table, 0.5, "1", 0, 0, nullptr, nullptr, false,
                                -1, -1, true);
            for (int i = 0; i < 2; ++i) {
                void* l;
                void* r;
                leaf->newip(l, r, 8);
                // Equal keys across leaves of other owners: some are shared, some not.
                leaf->setip(i, static_cast<double*>(l), static_cast<double*>(r), CoreAnsx("k") + CoreAnsx(i),
                            8, 0, 0, 0, leaf, 0);
            }
        }
        CoreVctr* lowerA[] = {leaves[0], leaves[1]};
        CoreVctr* lowerB[] = {leaves[2], leaves[3]};
        auto* midA = new CoreVctr(&pool, &registry, 0, &convolver, false, 2, nullptr, pos.data(), lowerA, 0.0,
                                  1.0, nullptr, 0.0, 1.0, "", &table, 0.5, "1", 0, 0, nullptr, nullptr, false,
                                  -1, -1, true);
        auto* midB = new CoreVctr(&pool, &registry, 0, &convolver, false, 2, nullptr, pos.data(), lowerB, 0.0,
                                  1.0, nullptr, 0.0, 1.0, "", &table, 0.5, "1", 0, 0, nullptr, nullptr, false,
                                  -1, -1, true);
        CoreVctr* upper[] = {midA, midB};
        auto* top = new CoreVctr(&pool, &registry, 0, &convolver, false, 2, nullptr, pos.data(), upper, 0.0,
                                 1.0, nullptr, 0.0, 1.0, "", &table, 0.5, "1", 0, 0, nullptr, nullptr, false,
                                 -1, -1, true);
        top->chncp(8, -1, 12);
        top->setsc();
        top->chnip();
        top->newfi(4);
        top->newfe(4);
        top->setcr(top->newfo(4), 4, 8, 4);
        top->chnru(true);
        top->setfd(false, 0, 0);
        delete top;
        group.close();
        registry.garlk();
    }
    EXPECT_EQ(registry.count(), 0);
    EXPECT_EQ(pool.getma(), start);
}

TEST_F(TreeTest, UpdatesAllocateNothing) {
    build(64, true);
    root->newfi(8);
    root->newfe(16);
    root->setcr(root->newfo(16), 16, 64, 8);
    root->chnru(true);
    std::atomic<long> poolCalls{0};
    auto allocate = pool.allocator;
    pool.allocator = [&](size_t bytes) {
        poolCalls.fetch_add(1);
        return allocate(bytes);
    };
    const int64_t held = pool.getma();
    const long heapBefore = heapAllocations.load();
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    CoreSrce* position = table.getsc("BUS1");
    for (int i = 0; i < 500; ++i) {
        if (i % 50 < 25) position->setvl(u(rng)); // mixing, then converging
        root->setcc(static_cast<short>((i / 7) % 2));
        root->chnru(true);
        root->chnup(i % 3 == 0);
        root->updte(true);
        root->setfd(false, 0, 0);
        root->setfd(true, 64, 16);
    }
    EXPECT_EQ(heapAllocations.load(), heapBefore);
    EXPECT_EQ(poolCalls.load(), 0);
    EXPECT_EQ(pool.getma(), held);
    pool.allocator = allocate;
}

} // namespace
