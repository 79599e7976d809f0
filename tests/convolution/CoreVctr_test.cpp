// CoreVctr: bracketing, smoothing that settles and restarts, pan, the position output, clean outputs,
// shared and normalised kernels, output fades that never compound against a reference mix, and trees:
// links and inherited values, no allocation while updating, every block returned.
#include "convolution/CoreVctr.h"

#include "convolution/CorePlel.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"
#include "tests/common/CountingAllocator.h"
#include "tests/convolution/ConvolverTestSupport.h"

namespace {

// Neither NaN, infinity, -0.0 nor a denormal.
bool clean(double v) {
    return v == 0.0 ? !std::signbit(v) : std::fpclassify(v) == FP_NORMAL;
}

// A leaf's kernels as the test gave them, per element.
struct Kernels {
    std::vector<Signal> left, right;
};

// out = liquid x out + wA x A + wB x B per channel, flushed: the mix a vector makes, as a reference.
void mixStep(Signal& outL, Signal& outR, double liquid, const Kernels& k, const CoreVctr& v) {
    const int elements[] = {v.elementA(), v.elementB()};
    const double weights[] = {v.effectiveWeightA(), v.effectiveWeightB()};
    for (size_t i = 0; i < outL.size(); ++i) {
        double l = liquid * outL[i], r = liquid * outR[i];
        for (int e = 0; e < 2; ++e)
            if (elements[e] >= 0)
                l += weights[e] * k.left[elements[e]][i], r += weights[e] * k.right[elements[e]][i];
        outL[i] = std::fpclassify(l) == FP_SUBNORMAL ? 0.0 : l + 0.0;
        outR[i] = std::fpclassify(r) == FP_SUBNORMAL ? 0.0 : r + 0.0;
    }
}

void expectNear(const Signal& want, const void* got, double relative, int step) {
    const Signal actual = valuesOf(got, int(want.size()));
    const double tolerance = relative * std::max(1.0, largestMagnitude(want));
    for (size_t i = 0; i < want.size(); ++i)
        ASSERT_NEAR(actual[i], want[i], tolerance) << i << " at step " << step;
}

class CoreVctrTest : public ::testing::Test {
protected:
    void slot(const char* key, double v) { table.getsc(key)->setvl(v); }

    // A vector over the given positions (a leaf without children) with its control over -1..1.
    CoreVctr* make(Signal positions, CoreVctr** children = nullptr, const char* liquidSource = "1",
                   bool stepped = false, int offset = 0, int* pairA = nullptr, int* pairB = nullptr,
                   short inheritA = -1, short inheritB = -1) {
        const int n = int(positions.size());
        return new CoreVctr(&pool, &registry, 0, &convolver, !children, n, nullptr,
                            n ? positions.data() : nullptr, children, -1.0, 1.0, nullptr, 0.0, 1.0, "",
                            &table, 0.5, liquidSource, offset, 0, pairA, pairB, stepped, inheritA, inheritB,
                            true);
    }
    // A leaf with noise kernels of `length` samples under keys of its own, its control on BUS1.
    CoreVctr* leaf(Signal positions, int length, Kernels* kernels = nullptr, const char* liquidSource = "1",
                   bool stepped = false) {
        CoreVctr* v = make(positions, nullptr, liquidSource, stepped);
        v->chncp(length, -1, -1);
        for (size_t i = 0; i < positions.size(); ++i) {
            const Signal l = randomSignal(rng, length), r = randomSignal(rng, length);
            fill(v, int(i), l, r, v, ("element" + std::to_string(keys++)).c_str());
            if (kernels) kernels->left.push_back(l), kernels->right.push_back(r);
        }
        controls(v);
        return v;
    }
    void fill(CoreVctr* v, int i, const Signal& l, const Signal& r, void* owner, const char* key) {
        void *left, *right;
        v->newip(left, right, int(l.size()));
        v->copyd(left, right, const_cast<double*>(l.data()), const_cast<double*>(r.data()), int(l.size()), 0);
        v->setip(i, static_cast<double*>(left), static_cast<double*>(right), key, long(l.size()), 0, 0, 0,
                 owner, 0);
    }
    // Vector control on BUS1; gain pad, gain and pan from the given sources.
    void controls(CoreVctr* v, double pad = 1.0, const char* padSource = "1", bool gainOn = false,
                  const char* gainSource = "1", const char* panSource = "0", bool normalise = false) {
        v->setvl(true, -1.0, 1.0, "BUS1", false, "", 1.0, panSource, pad, padSource, gainOn, gainSource,
                 normalise, 0.0, 0.5);
    }

    CorePool pool;
    DataSrce table;
    CoreCnvl convolver{&pool, "test", 0, nullptr};
    CorePlel registry{&pool};
    std::mt19937 rng{12345};
    int keys = 0;
};

// Stepped: the nearer element, the upper at the midpoint. Without elements nothing is mixed.
TEST_F(CoreVctrTest, PositionIsBracketedByTheNearestElementsWithLinearWeights) {
    struct Row {
        Signal positions;
        bool stepped;
        double x, wa, wb;
        int a, b;
    };
    const Signal given = {0.5, -0.5, 0.0, 0.0}; // out of order; element 3 repeats element 2's position
    const Row rows[] = {
        {given, false, -0.9, 0.0, 1.0, -1, 1},   {given, false, 0.0, 1.0, 0.0, 2, -1},
        {given, false, 0.125, 0.75, 0.25, 2, 0}, {given, false, 0.75, 1.0, 0.0, 0, -1},
        {{0.0, 0.5}, true, 0.1, 1.0, 0.0, 0, 1}, {{0.0, 0.5}, true, 0.25, 0.0, 1.0, 0, 1},
        {{0.3}, false, 0.9, 1.0, 0.0, 0, -1},    {{}, false, 0.2, 0.0, 0.0, -1, -1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << r.positions.size() << " elements at x " << r.x);
        std::unique_ptr<CoreVctr> v(leaf(r.positions, 8, nullptr, "-1", r.stepped)); // liquid 0: M = 1
        slot("BUS1", r.x);
        v->chnru(true);
        EXPECT_EQ(std::tuple(v->elementA(), v->effectiveWeightA(), v->elementB(), v->effectiveWeightB()),
                  std::tuple(r.a, r.wa, r.b, r.wb));
        EXPECT_TRUE(!r.positions.empty() || largestMagnitude(valuesOf(v->getlc(), 8)) == 0.0);
    }
}

// At a constant position the weights do not compound: the mix settles on G x (wA A + wB B) once the
// residual, halved at each mix, falls below 1e-20; then it stops mixing until any control changes.
// (The smoothing itself is checked step by step with the output fades.)
TEST_F(CoreVctrTest, MixesSmoothTowardsTheWeightedElementsWithoutCompoundingAndStopWhenSettled) {
    const int length = 32;
    Kernels k;
    std::unique_ptr<CoreVctr> v(leaf({-0.5, 0.0, 0.5}, length, &k));
    controls(v.get(), 0.5, "0"); // G = 1 - 0.5 x 0.5
    Signal refL(length, 0.0);
    slot("BUS1", 0.25);
    int mixes = 1;
    for (v->chnru(true); !*v->getca() && mixes < 200; ++mixes) v->chnru(true);
    EXPECT_NEAR(mixes, 67, 1);
    for (int i = 0; i < length; ++i) refL[i] = 0.75 * (0.5 * k.left[1][i] + 0.5 * k.left[2][i]);
    expectNear(refL, v->getlc(), 1e-12, mixes);
    const std::function<void()> changes[] = {
        [&] { slot("BUS1", 0.6); }, [&] { controls(v.get(), 0.5, "BUS2"); }, [&] { slot("BUS2", -0.5); },
        [&] { controls(v.get(), 0.5, "BUS2", false, "1", "BUS3"); }, [&] { slot("BUS3", 0.4); }};
    for (const auto& change : changes) {
        for (int i = 0; i < 80; ++i) v->chnru(true);
        ASSERT_TRUE(*v->getca());
        change();
        v->chnru(true);
        EXPECT_FALSE(*v->getca());
    }
    v->setlq(5.0); // kept inside 0.01 .. 0.99
    EXPECT_EQ(v->getlq(), 0.99);
    v->setlq(-1.0);
    EXPECT_EQ(v->getlq(), 0.01);
}

// Pan -1 puts both channels on the left.
TEST_F(CoreVctrTest, PanMovesBothChannelsToOneSideAndWithoutControlEveryElementIsSummed) {
    const int length = 16;
    Kernels k;
    std::unique_ptr<CoreVctr> v(leaf({0.0, 0.3, 0.9}, length, &k, "-1")); // liquid 0: one mix settles
    controls(v.get(), 1.0, "1", false, "1", "-1");
    v->chnru(true);
    Signal both(length);
    for (int i = 0; i < length; ++i) both[i] = k.left[0][i] + k.right[0][i];
    expectNear(both, v->getlc(), 4e-15, 0);
    expectNear(Signal(length, 0.0), v->getrc(), 4e-15, 0);
    v->setvl(false, -1.0, 1.0, "BUS1", false, "", 0.0, "0", 0.5, "1", false, "1", false, 0.0, 1.0);
    v->chnru(true);
    Signal sum(length, 0.0);
    for (int e = 0; e < 3; ++e)
        for (int i = 0; i < length; ++i) sum[i] += 0.5 * k.left[e][i];
    expectNear(sum, v->getlc(), 1e-14, 0);
}

// A span of zero scales to nothing; an unknown name would be "OFF", where nothing is written.
TEST_F(CoreVctrTest, PositionOutputFollowsTheSecondaryPositionsIntoANamedSlotOnly) {
    Signal positions = {0.0, 1.0}, secondary = {2.0, 6.0};
    auto build = [&](double low, double high, const char* output) {
        auto v = std::make_unique<CoreVctr>(
            &pool, &registry, 0, &convolver, true, 2, nullptr, positions.data(), nullptr, -1.0, 1.0,
            secondary.data(), low, high, "", &table, 0.5, "1", 0, 0, nullptr, nullptr, false, -1, -1, true);
        v->setvl(true, -1.0, 1.0, "BUS1", true, output, 0.0, "0", 1.0, "1", false, "1", false, 0.0, 1.0);
        v->updte(false);
        return v;
    };
    slot("BUS1", 0.25);
    build(2.0, 10.0, "BUS6");
    EXPECT_DOUBLE_EQ(table.getsc("BUS6")->getvl(), (0.75 * 2 + 0.25 * 6 - 2) * 2 / 8 - 1.0);
    build(3.0, 3.0, "BUS7");
    EXPECT_EQ(table.getsc("BUS7")->getvl(), -1.0);
    slot("OFF", -1.0);
    build(0.0, 1.0, "NOSUCH");
    EXPECT_EQ(table.getsc("OFF")->getvl(), -1.0);
}

TEST_F(CoreVctrTest, OutputsNeverHoldNanNegativeZeroOrDenormals) {
    const int length = 64;
    std::unique_ptr<CoreVctr> v(leaf({0.0, 1.0}, length));
    Signal tiny(length), negative(length);
    for (int i = 0; i < length; ++i) tiny[i] = i % 3 == 0 ? 1e-310 : i % 3 == 1 ? -0.0 : 1e-300 * (i + 1);
    for (int i = 0; i < length; ++i) negative[i] = -tiny[i];
    fill(v.get(), 0, tiny, negative, v.get(), "tiny");
    fill(v.get(), 1, negative, tiny, v.get(), "negative");
    v->setvl(true, -1.0, 1.0, "BUS1", true, "BUS6", 1.0, "BUS5", 0.5, "BUS2", true, "BUS3", false, 0.0, 1.0);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int step = 0; step < 200; ++step) {
        for (const char* key : {"BUS1", "BUS2", "BUS3", "BUS5"}) slot(key, u(rng));
        v->chnru(true);
        Signal all = valuesOf(v->getlc(), length), right = valuesOf(v->getrc(), length);
        all.insert(all.end(), right.begin(), right.end());
        all.insert(all.end(),
                   {v->gain(), v->effectiveWeightA(), v->effectiveWeightB(), table.getsc("BUS6")->getvl()});
        for (double x : all) ASSERT_TRUE(clean(x)) << x << " at step " << step;
    }
}

// Normalisation g = 1 / peak at level 1 scales element 1 by 0.25 once, for the first owner; the
// shared pair is held for the last owner. Sample ranges are kept in 32 bits; indexes outside the
// elements are ignored or answered with 0, 0. Copies into an element flush; a null source writes zeros.
TEST_F(CoreVctrTest, KernelsAreSharedInASharingGroupAndScaledOnceAndRangesKeptIn32Bits) {
    const int length = 8;
    Signal kl(length, 1.0), kr(length, -0.5);
    std::unique_ptr<CoreVctr> first(make({0.0, 1.0})), second(make({0.0, 1.0}));
    for (CoreVctr* owner : {first.get(), second.get()}) {
        CorePlel::GroupGuard group(&registry, "program", true);
        owner->chncp(length, -1, -1);
        controls(owner, 1.0, "1", false, "1", "0", true);
        fill(owner, 0, kl, kr, owner, "zero");
        fill(owner, 1, kl, kr, owner, "one");
        owner->setpk(0, 1.0);
        owner->setpk(1, 4.0);
        owner->setgn(1.0);
    }
    void *l1, *r1, *l2, *r2;
    first->getip(1, l1, r1);
    second->getip(1, l2, r2);
    EXPECT_EQ(std::tuple(l1, r1, registry.refer(first->registryId(1))), std::tuple(l2, r2, 2));
    first.reset();
    EXPECT_EQ(valuesOf(l2, length), Signal(length, 0.25));
    long a = 7, b = 7;
    second->setrz(0, 5000000000L, -5000000000L);
    second->setrz(1, 100, 300);
    second->setrz(2, 5, 5);
    EXPECT_EQ(std::tuple(second->getrz(0, a, b), a, b), std::tuple(true, long(INT32_MAX), long(INT32_MIN)));
    EXPECT_EQ(std::tuple(second->getrz(1, a, b), a, b), std::tuple(true, 100L, 300L));
    EXPECT_EQ(std::tuple(second->getrz(2, a, b), a, b), std::tuple(false, 0L, 0L));
    Signal source = {1.0, -0.0, 1e-310, 2.0};
    second->cpyip(0, source.data(), nullptr, 4);
    second->getip(0, l2, r2);
    EXPECT_EQ(std::pair(valuesOf(l2, 4), valuesOf(r2, 4)),
              std::pair(Signal{1.0, 0.0, 0.0, 2.0}, Signal(4, 0.0)));
    EXPECT_FALSE(std::signbit(valuesOf(l2, 4)[1]));
    // One buffer for both channels is freed once; without a convolver nothing is registered.
    const int64_t before = pool.getma();
    void *l, *r;
    second->newip(l, r, 4);
    second->delip(l, l);
    second->delip(r, r);
    EXPECT_EQ(pool.getma(), before);
    Signal one = {0.0};
    CoreVctr unregistered(&pool, &registry, 0, nullptr, true, 1, nullptr, one.data(), nullptr, 0.0, 0.0,
                          nullptr, 0.0, 1.0, "", &table, 0.5, "1", 0, 0, nullptr, nullptr, false, -1, -1,
                          true);
    unregistered.setip(0, kl.data(), kr.data(), "k", 16, 0, 0, 0, nullptr, 0);
    EXPECT_EQ(unregistered.registryIds(), 0);
}

// Elements at -1, 0, 1 with peaks 2, 4, 8; the reference 0.5 lies halfway between 0 and 1, so its
// peak is 6, and at level 0.5 with blend 0.25 g = 0.75 x 0.5 / 6 + 0.25 x 0.5 / peak. A silent element
// stays unscaled; a zero level leaves the normalisation at 1 and nothing scaled.
TEST_F(CoreVctrTest, NormalisationBlendsTheReferencePeakAndGuardsSilenceAndZeroLevel) {
    const int length = 8;
    Kernels k;
    std::unique_ptr<CoreVctr> v(leaf({-1.0, 0.0, 1.0}, length, &k));
    v->setvl(true, -1.0, 1.0, "BUS1", false, "", 0.0, "0", 1.0, "1", false, "1", true, 0.5, 0.25);
    for (int i = 0; i < 3; ++i) v->setpk(i, 2.0 * (1 << i));
    v->setgn(0.5);
    EXPECT_NEAR(v->normalisation(), 0.625, 1e-15); // the largest g x peak, of element 2
    const double scales[] = {0.2, 0.15, 0.125};    // g / normalisation
    for (int i = 0; i < 3; ++i) {
        Signal want = k.left[i];
        for (double& x : want) x *= scales[i];
        void *l, *r;
        v->getip(i, l, r);
        expectNear(want, l, 1e-15, i);
    }
    for (double zeroLevel : {1.0, 0.0}) {
        Kernels w;
        std::unique_ptr<CoreVctr> u(leaf({0.0, 1.0}, length, &w));
        controls(u.get(), 1.0, "1", false, "1", "0", true);
        u->setpk(0, zeroLevel == 0.0 ? 1.0 : 0.0);
        u->setpk(1, 2.0);
        u->setgn(zeroLevel);
        const int unscaled = zeroLevel == 0.0 ? 1 : 0;
        void *l, *r;
        u->getip(unscaled, l, r);
        EXPECT_EQ(valuesOf(l, length), w.left[unscaled]);
        EXPECT_EQ(zeroLevel == 0.0 ? u->normalisation() : 1.0, 1.0);
    }
}

// The played kernel is always envelope x smoothed mix: fades act once per mix on unfaded values. With
// two pairs the second starts as a copy of the first; a call that writes a pair raises its flag, and
// a converged pair is left alone with the flag down.
TEST_F(CoreVctrTest, OutputFadesActOncePerMixAndNeverCompound) {
    const int length = 256, fadeIn = 16, fadeOut = 32;
    for (int variant = 0; variant < 4; ++variant) {
        const bool endFade = variant & 1, twoPairs = variant & 2;
        SCOPED_TRACE(testing::Message()
                     << (endFade ? "end fade" : "stored fades") << (twoPairs ? ", two pairs" : ""));
        Kernels k;
        std::unique_ptr<CoreVctr> v(leaf({0.0, 1.0}, length, &k));
        if (twoPairs) v->setsc();
        const Signal in = valuesOf(v->newfi(fadeIn), fadeIn), end = valuesOf(v->newfe(fadeOut), fadeOut);
        void* out = v->newfo(fadeOut);
        v->setcr(out, fadeOut, length, fadeIn);
        Signal envelope(length, 1.0);
        for (int j = 0; j < fadeOut; ++j)
            envelope[length - fadeOut + j] = endFade ? end[j] : valuesOf(out, fadeOut)[j];
        for (int j = 0; j < fadeIn && !endFade; ++j) envelope[j] = in[j];
        Signal refL[2] = {Signal(length, 0.0), Signal(length, 0.0)}, refR[2] = {refL[0], refL[1]};
        slot("BUS1", 0.3);
        for (int cycle = 0, pair = 0; cycle < 300; ++cycle) {
            if (twoPairs && cycle % 2 != pair) {
                refL[1 - pair] = refL[pair], refR[1 - pair] = refR[pair];
                pair = cycle % 2;
                v->setcc(short(pair));
            }
            bool* changed = pair == 0 ? v->getuc() : v->getus();
            *changed = false;
            const Signal before = pair == 0 ? valuesOf(v->getlc(), length) : valuesOf(v->getls(), length);
            v->chnru(true);
            if (endFade)
                v->setfd(true, 1000, 1000); // n clamped to the pair, m to the envelope
            else
                v->setfd(false, 0, 0);
            const Signal after = pair == 0 ? valuesOf(v->getlc(), length) : valuesOf(v->getls(), length);
            ASSERT_TRUE(*changed || before == after) << cycle;
            mixStep(refL[pair], refR[pair], 0.5, k, *v);
            Signal wantL = refL[pair], wantR = refR[pair];
            for (int j = 0; j < length; ++j) wantL[j] *= envelope[j], wantR[j] *= envelope[j];
            expectNear(wantL, pair == 0 ? v->getlc() : v->getls(), 1e-12, cycle);
            expectNear(wantR, pair == 0 ? v->getrc() : v->getrs(), 1e-12, cycle);
        }
        EXPECT_EQ(*v->getca(), !twoPairs); // alternating pairs keep it mixing
        *v->getuc() = false;
        v->chnru(false);
        EXPECT_FALSE(*v->getuc());
        if (!twoPairs) { // converged and faded: nothing is written
            v->chnru(true);
            v->setfd(endFade, endFade ? 1000 : 0, endFade ? 1000 : 0);
            EXPECT_FALSE(*v->getuc());
        }
    }
}

TEST_F(CoreVctrTest, EnvelopesAreLinearRampsAndReplaceTheirPredecessor) {
    std::unique_ptr<CoreVctr> v(leaf({0.0}, 8));
    EXPECT_EQ(valuesOf(v->newfi(5), 5), (Signal{0.0, 0.25, 0.5, 0.75, 1.0}));
    EXPECT_EQ(valuesOf(v->newfo(5), 5), (Signal{1.0, 0.75, 0.5, 0.25, 0.0}));
    v->newfe(5);
    const int64_t held = pool.getma();
    EXPECT_EQ(valuesOf(v->newfe(5), 5), (Signal{1.0, 0.75, 0.5, 0.25, 0.0}));
    EXPECT_EQ(pool.getma(), held);
    EXPECT_EQ(v->newfi(0), nullptr);
    Signal l(4, 2.0), r(4, 4.0), ramp = {0.0, 0.5, 1.0};
    v->setfd(l.data(), r.data(), 3, ramp.data());
    EXPECT_EQ(std::pair(l, r), std::pair(Signal{0.0, 1.0, 2.0, 2.0}, Signal{0.0, 2.0, 4.0, 4.0}));
}

// root (positions 0, 1) -> [middle (positions 0, 1) -> [leaf 0, leaf 1], leaf 2]
class TreeTest : public CoreVctrTest {
protected:
    void build(int length, bool twoPairs = false) {
        int middleA[] = {10, 20}, middleB[] = {-1, -1}, rootA[] = {5, 5}, rootB[] = {-1, 7};
        for (int i = 0; i < 3; ++i) leaves[i] = leaf({0.0, 1.0}, length, &kernels[i]);
        CoreVctr* lower[] = {leaves[0], leaves[1]};
        middle = make({0.0, 1.0}, lower, "1", false, 3, middleA, middleB, 2, -1);
        CoreVctr* upper[] = {middle, leaves[2]};
        root = make({0.0, 1.0}, upper, "1", false, 4, rootA, rootB, -1, 1);
        root->chncp(length, -1, -1);
        if (twoPairs) root->setsc();
        root->chnip();
        controls(middle);
        controls(root);
    }
    void TearDown() override { delete root; }

    CoreVctr *leaves[3] = {}, *middle = nullptr, *root = nullptr;
    Kernels kernels[3];
};

// A node's own inheritable value when set, else the largest set below it. The parents forget the
// outputs freed below them.
TEST_F(TreeTest, LengthsLinksNamesAndInheritedValuesReachEveryLevel) {
    build(16);
    root->chncp(64, 32, 80);
    root->chnip();
    void *l, *r;
    root->getip(0, l, r);
    EXPECT_EQ(std::pair(l, r), std::pair(middle->getlc(), middle->getrc()));
    for (short k : {1, 0}) {
        root->chncd(k);
        for (CoreVctr* v : {leaves[0], leaves[1], leaves[2], middle, root})
            EXPECT_EQ(v->getcd(), k ? 32 : 64);
    }
    root->chnna("VECTOR0");
    EXPECT_EQ(root->getnm() + "," + middle->getnm() + "," + leaves[1]->getnm() + "," + leaves[2]->getnm(),
              CoreAnsx("VECTOR0,VECTOR0_0,VECTOR0_0_1,VECTOR0_1"));
    EXPECT_EQ(std::tuple(root->chnci(), root->chnco(), root->chnfi(), root->chnfo(0), root->chnfo(1)),
              std::tuple(short(2), short(1), 0, 10, 5));
    EXPECT_EQ(std::tuple(root->chnls(0), root->chnls(1), root->chnfo(2)), std::tuple(-1, 7, -1));
    root->chndc();
    middle->getip(1, l, r);
    EXPECT_EQ(std::tuple(l, root->getlc(), root->currentLeft()), std::tuple(nullptr, nullptr, nullptr));
    root->chnru(true); // nothing to mix into
}

TEST_F(TreeTest, UpdatesAllocateNothing) {
    build(64, true);
    root->newfi(8);
    root->newfe(16);
    root->setcr(root->newfo(16), 16, 64, 8);
    root->chnru(true);
    long poolCalls = 0;
    auto allocate = pool.allocator;
    pool.allocator = [&](size_t bytes) { return ++poolCalls, allocate(bytes); };
    const int64_t held = pool.getma();
    const long heapBefore = heapAllocations.load();
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int i = 0; i < 300; ++i) {
        if (i % 50 < 25) slot("BUS1", u(rng)); // mixing, then converging
        root->setcc(short((i / 7) % 2));
        root->chnru(true);
        root->chnup(i % 3 == 0);
        root->updte(true);
        root->setfd(false, 0, 0);
        root->setfd(true, 64, 16);
    }
    EXPECT_EQ(std::tuple(heapAllocations.load(), poolCalls, pool.getma()), std::tuple(heapBefore, 0L, held));
    pool.allocator = allocate;
}

// Equal keys across owners: some kernels shared, some not. New outputs replace the first ones and are
// linked again.
TEST_F(CoreVctrTest, BuildAndDestroyCyclesReturnEveryBlock) {
    for (int cycle = 0; cycle < 100; ++cycle) {
        CorePlel::GroupGuard group(&registry, "program", true);
        CoreVctr* leaves[4];
        for (CoreVctr*& leaf : leaves) {
            leaf = make({0.0, 1.0});
            for (int i = 0; i < 2; ++i) {
                void *l, *r;
                leaf->newip(l, r, 8);
                leaf->setip(i, static_cast<double*>(l), static_cast<double*>(r), CoreAnsx("k") + CoreAnsx(i),
                            8, 0, 0, 0, leaf, 0);
            }
        }
        CoreVctr* lowerA[] = {leaves[0], leaves[1]};
        CoreVctr* lowerB[] = {leaves[2], leaves[3]};
        CoreVctr* upper[] = {make({0.0, 1.0}, lowerA), make({0.0, 1.0}, lowerB)};
        std::unique_ptr<CoreVctr> top(make({0.0, 1.0}, upper));
        for (int link = 0; link < 2; ++link) top->chncp(8, -1, 12), top->setsc(), top->chnip();
        top->newfi(4);
        top->newfe(4);
        top->setcr(top->newfo(4), 4, 8, 4);
        top->chnru(true);
        top->setfd(false, 0, 0);
        top.reset();
        group.close();
        registry.garlk();
    }
    EXPECT_EQ(std::pair(registry.count(), pool.getma()), std::pair(0, int64_t(0)));
}

} // namespace
