// CoreCnvl: mode selection and its fallbacks, ring planning, silence without a plan, partial steps
// counted and logged, plan release, and the CPU element operations with the vector mix checked
// against its step-by-step form bit for bit.
#include "convolution/CoreCnvl.h"

#include "convolution/CoreOpti.h"
#include "tests/common/CountingAllocator.h"
#include "tests/convolution/ConvolverTestSupport.h"

#include <cfloat>
#include <cstring>

namespace {

using VALID = CoreCnvl::VALIDSTRUCT;
const VALID allCapabilities{true, false, true};
const VALID noBridge{true, false, false};

Signal unitImpulse(int n) {
    Signal k(n, 0.0);
    k[0] = 1.0;
    return k;
}

// The buffers of cnvsy over n samples, one kernel for both channels.
struct Block {
    Signal inL, inR, mixL, mixR, dryL, dryR, convL, convR;
    explicit Block(int n, double in = 0.0)
        : inL(n, in), inR(n, in), mixL(n), mixR(n), dryL(n), dryR(n), convL(n), convR(n) {}
    long play(CoreCnvl& c, bool replace, const Signal& kernel, Signal& fade, long& fadeIndex, int count) {
        double* k = const_cast<double*>(kernel.data());
        return c.cnvsy(replace, inL.data(), inR.data(), mixL.data(), mixR.data(), k, k, dryL.data(),
                       dryR.data(), convL.data(), convR.data(), fade.data(), fadeIndex, count, nullptr,
                       nullptr);
    }
    // One vltry pass of the power chain over x = in, adding to (or replacing) mix.
    void power(CoreCnvl& c, bool first, bool replace, const Signal& kernel, Signal& work, int count) {
        double* k = const_cast<double*>(kernel.data());
        if (first == replace) // the same as vltry(replace, replace)
            return c.vltrr(replace, inL.data(), inR.data(), mixL.data(), mixR.data(), k, k, work.data(),
                           work.data() + count, convL.data(), convR.data(), count, nullptr, nullptr);
        c.vltry(first, replace, inL.data(), inR.data(), mixL.data(), mixR.data(), k, k, work.data(),
                work.data() + count, convL.data(), convR.data(), count, nullptr, nullptr);
    }
};

// Row 17 replaced, to watch the convolver's calls.
void installRow(CoreCnvl& c, LoadCallback load, UnloadCallback unload, CommonLoadCallback lcom,
                CommonUnloadCallback ucom) {
    c.setcd(17, nullptr, true, CoreOpti::cnvs0, 1, false, false, false, true, false, true, 2, load, unload,
            nullptr, lcom, ucom, CoreCnvl::szel1, CoreCnvl::nwel1, CoreCnvl::dlel1, CoreCnvl::copy1,
            CoreCnvl::adj_1, CoreCnvl::fade1, CoreCnvl::vmix1);
}

} // namespace

TEST(CoreCnvl, SelectionFallsBackWhenARowCannotRunHereAndTheRowDecidesStepAndGranule) {
    struct Row {
        const char* what;
        VALID valid;
        short requested, selected;
        int length, step, granule;
        bool error, loadable;
    };
    const Row rows[] = {
        {"past the table", allCapabilities, 18, 3, 64, 1, 2, true, false},
        {"negative", allCapabilities, -1, 3, 64, 1, 2, true, false},
        {"GPU row without bridge", noBridge, 12, 11, 64, 128, 128, true, false},
        {"GPU row with bridge", allCapabilities, 15, 15, 64, 128, 1024, false, true},
        {"SSE2 row without SSE2", VALID{false, false, false}, 5, 3, 64, 1, 2, true, false},
        {"FFTW row", allCapabilities, 7, 11, 64, 128, 128, true, false},
        {"row 16 even with a bridge", allCapabilities, 16, 11, 64, 128, 128, true, false},
        {"two-sample row, odd length", noBridge, 2, 3, 63, 1, 2, true, true},
        {"one-sample row, odd length", noBridge, 17, 17, 63, 1, 2, false, true},
    };
    CorePool pool;
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        CoreCnvl c(&pool, "select", 0, nullptr, r.valid);
        EXPECT_EQ(std::tuple(c.getcb(), c.getmp(), c.getve()), std::tuple(0, 0, nullptr));
        EXPECT_EQ(c.ldble(r.requested), r.loadable);
        EXPECT_EQ(c.set__(r.requested, 128, r.length, 0, 0, 0), r.step);
        EXPECT_EQ(std::tuple(c.selectedMode(), c.error(), c.getmp()),
                  std::tuple(r.selected, r.error, r.granule));
        // GPU rows are the timed ones; every row but 16 has the CPU element operations.
        EXPECT_EQ(std::tuple(c.getpt(), c.perfr(), c.getbe(), c.getvm()),
                  std::tuple(r.granule == 1024, r.granule != 1024, r.granule > 2, &CoreCnvl::vmix1));
        c.set__(0, 128, 64, 0, 0, 0); // a later valid selection clears the flag
        EXPECT_FALSE(c.error());
        EXPECT_EQ(c.modeRow(16)->vmix, vmix2);
    }
    // The fallback target is tested too: a default FFT mode that cannot run here gives 11.
    for (short defaultMode : {short(9), short(16), short(40)}) {
        CoreCnvl c(&pool, "default", 0, nullptr, noBridge);
        c.setdb(defaultMode);
        c.set__(12, 128, 64, 0, 0, 0);
        EXPECT_EQ(c.selectedMode(), defaultMode == 9 ? 9 : 11) << defaultMode;
    }
}

TEST(CoreCnvl, PlanSizesZeroedRingsOnceAndModeOnlySelectionKeepsThem) {
    LogCapture log(2);
    CorePool pool;
    auto ringBytes = [](int n) { return 2 * (8LL * 3 * n + CorePool::iCoverhead); };
    auto ringsZero = [](const CoreCnvl& c) {
        return largestMagnitude(Signal(c.ringL(), c.ringL() + 3 * c.length())) +
                   largestMagnitude(Signal(c.ringR(), c.ringR() + 3 * c.length())) ==
               0.0;
    };
    CoreCnvl c(&pool, "P1", 0, nullptr, noBridge);
    EXPECT_FALSE(c.plan_()); // nothing selected yet
    c.set__(0, 64, 100, 7, 0, 100);
    ASSERT_TRUE(c.plan_());
    EXPECT_EQ(pool.getma(), ringBytes(100));
    const double* ring = c.ringL();
    Block b(37, 0.5);
    Signal fade(37, 1.0);
    long fadeIndex = 0;
    for (bool replan : {true, false}) { // the same length keeps the blocks, as clear does
        b.play(c, true, randomSignal(100, 5), fade, fadeIndex, 37);
        if (replan)
            EXPECT_TRUE(c.plan_() && c.position() == 100);
        else
            c.clear();
        EXPECT_EQ(c.ringL(), ring);
        EXPECT_TRUE(ringsZero(c));
    }
    EXPECT_EQ(c.set__(2, -1, 15, 0, 0, 15), -1); // the mode alone; the odd length is not judged
    EXPECT_EQ(c.getcb(), 1);                     // step, routine and rings stay those of the plan
    b.play(c, true, unitImpulse(100), fade, fadeIndex, 37);
    EXPECT_EQ(b.convL, b.inL);
    c.set__(0, 64, 50, 0, 0, 50); // a new length replaces the rings
    ASSERT_TRUE(c.plan_());
    EXPECT_EQ(pool.getma(), ringBytes(50));
    c.set__();
    EXPECT_EQ(std::pair(c.ringL(), pool.getma()), std::pair(static_cast<const double*>(nullptr), int64_t(0)));
    EXPECT_TRUE(logHolds(log, "player P1: 100:7:100<"));
}

// All five running calls, with no mode, a mode never planned, a failed plan and freed rings.
TEST(CoreCnvl, UnplannedOrFailedConvolverPlaysSilenceAndStillMixes) {
    CorePool pool;
    const int count = 16;
    const Signal kernel = unitImpulse(8);
    double* k = const_cast<double*>(kernel.data());
    Signal fade(count, 2.0), work(2 * count);
    auto expectSilence = [&](CoreCnvl& c, const char* what) {
        SCOPED_TRACE(what);
        Block b(count, 1.0);
        b.convL.assign(count, 55.0);
        long fadeIndex = count - 1;
        b.play(c, true, kernel, fade, fadeIndex, count);
        EXPECT_EQ(std::pair(b.convL, b.mixL), std::pair(Signal(count, 0.0), Signal(count, 0.0)));
        EXPECT_EQ(b.dryR, b.inR);
        b.mixL.assign(count, 1.0);
        b.power(c, true, false, kernel, work, count);
        EXPECT_EQ(b.mixL, Signal(count, 1.0)); // silence added
        if (c.getcb() < 1) return;
        c.cnvlc(b.inL.data(), b.inR.data(), b.mixL.data(), b.mixR.data(), k, k, nullptr, nullptr);
        EXPECT_EQ(b.mixL[0], 0.0);
        b.convL.assign(count, 55.0), b.mixL.assign(count, 1.0);
        c.cnvsc(false, b.inL.data(), b.inR.data(), b.mixL.data(), b.mixR.data(), k, k, b.convL.data(),
                b.convR.data(), fade.data(), fadeIndex, nullptr, nullptr);
        EXPECT_EQ(std::pair(b.convL[0], b.mixL), std::pair(0.0, Signal(count, 1.0)));
    };
    CoreCnvl c(&pool, "never", 0, nullptr, noBridge);
    expectSilence(c, "no mode selected");
    c.set__(0, 64, 8, 0, 0, 8);
    expectSilence(c, "selected, never planned");
    ASSERT_TRUE(c.plan_());
    const double* ring = c.ringL();
    c.set__(9, 16, 8, 100, 0, 8); // F = 100 is no power of two: the FFT load fails
    EXPECT_FALSE(c.plan_());
    EXPECT_EQ(c.ringL(), ring);
    expectSilence(c, "failed plan");
    c.cleas();
    expectSilence(c, "rings freed");
    EXPECT_EQ(pool.getma(), 0);
}

// The routine must not read or write past the count: the last partial step stays silent and nothing
// after the count is touched. The calls are counted without logging or allocating; the count is
// logged when the plan is released.
TEST(CoreCnvl, PartialStepRunsWholeStepsSilencesTheRestAndIsLoggedAtRelease) {
    struct Row {
        short mode;
        int block, count, whole; // whole: samples in whole steps
        int first = 0;           // mode 9's FFT size
    };
    // Odd counts for the two-sample steps, counts below the block for the block modes.
    const Row rows[] = {{2, 8, 7, 6}, {5, 8, 7, 6}, {9, 64, 40, 0, 128}, {10, 64, 40, 0}, {11, 64, 40, 0}};
    for (const Row& r : rows) {
        SCOPED_TRACE(testing::Message() << "mode " << r.mode);
        LogCapture log(0);
        CorePool pool;
        auto c = blockConvolver(pool, r.mode, r.block, 8, nullptr, nullptr, r.first);
        ASSERT_EQ(c->selectedMode(), r.mode);
        const std::string logBefore = log.text();
        Block b(r.block + 2);
        for (int j = 0; j < r.block + 2; ++j) b.inL[j] = b.inR[j] = j + 1;
        Signal fade(r.block + 2, 1.0), work(2 * r.block + 4), kernel = unitImpulse(8);
        kernel.resize(r.block, 0.0);
        const long heapBefore = heapAllocations.load();
        for (int call = 0; call < 500; ++call) { // two calls each
            long fadeIndex = 0;
            b.convL.assign(r.block + 2, 55.0);
            b.play(*c, true, kernel, fade, fadeIndex, r.count);
            b.power(*c, true, true, kernel, work, r.count);
        }
        EXPECT_EQ(heapAllocations.load(), heapBefore);
        EXPECT_EQ(log.text(), logBefore);
        for (int j = 0; j < r.block + 2; ++j)
            EXPECT_EQ(b.convL[j], j < r.whole ? j + 1 : j < r.count ? 0.0 : 55.0) << j;
        EXPECT_EQ(c->partialSteps(), 1000);
        c->delpl();
        EXPECT_TRUE(logHolds(log, "player block: 1000 blocks were not a multiple of the step"));
        EXPECT_EQ(c->partialSteps(), 0);
    }
}

int unloadCalls = 0, commonUnloadCalls = 0;

// Rebuilding a common plan releases the previous one.
TEST(CoreCnvl, DestructorReleasesOnlyThePlansStillHeld) {
    CorePool pool;
    for (bool ownerReleases : {false, true}) {
        SCOPED_TRACE(ownerReleases ? "released by the owner" : "forgotten");
        unloadCalls = commonUnloadCalls = 0;
        {
            CoreCnvl c(&pool, "plans", 0, nullptr, noBridge);
            installRow(
                c, [](long, FFTSTRUCT* plan, FFTEXTENSION*, int, long&) { return plan->loaded = true; },
                [](FFTSTRUCT* plan, FFTEXTENSION*) { unloadCalls += std::exchange(plan->loaded, false); },
                [](FFTSTRUCT*, FFTEXTENSION*, void*, short, long) { return true; },
                [](FFTSTRUCT*, FFTEXTENSION*) { ++commonUnloadCalls; });
            c.set__(17, 64, 8, 0, 0, 8);
            ASSERT_TRUE(c.plan_());
            int buffer = 0;
            c.set_c(&buffer, 2, 16);
            EXPECT_TRUE(c.planc() && c.planc());
            EXPECT_EQ(std::pair(c.grplc(), commonUnloadCalls), std::pair(static_cast<void*>(&buffer), 1));
            if (ownerReleases) c.delpc(), c.delpl();
        }
        EXPECT_EQ(std::pair(unloadCalls, commonUnloadCalls), std::pair(1, 2));
    }
    EXPECT_EQ(pool.getma(), 0);
}

// A group leader owns its group's buffer: planning it again must give that buffer back. A member
// only borrows the leader's buffer: planning it again must neither keep nor free anything.
TEST(CoreCnvl, PlanningAGroupConvolverAgainLeavesThePoolAsItWas) {
    struct Row { const char* role; short commonMode; };
    const Row rows[] = {{"leader", 0}, {"member", 1}};
    std::vector<double> leadersBuffer(2 * 256, 0.0);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.role);
        CorePool pool;
        {
            CoreCnvl c(&pool, "group", 0, nullptr, noBridge);
            c.set__(11, 128, 256, 0, 128, 256);
            ASSERT_TRUE(c.plan_());
            c.set_c(r.commonMode == 0 ? nullptr : leadersBuffer.data(), r.commonMode, 256);
            ASSERT_TRUE(c.planc());
            ASSERT_TRUE(c.plan_());
            c.delpc();
            c.delpl();
        }
        EXPECT_EQ(pool.getma(), 0);
    }
}

// copy: at the offset; flush over the values written only; a null source writes zeros. fade: the
// first nIn and the last nOut values, lengths clamped to n; flushes only when it faded.
TEST(CoreCnvl, ElementOperationsStayInsideTheirRangeAndFlush) {
    CorePool pool;
    double* element = static_cast<double*>(CoreCnvl::nwel1(nullptr, &pool, 10));
    EXPECT_EQ(pool.getma(), 8 * 10 + CorePool::iCoverhead);
    EXPECT_EQ(Signal(element, element + 10), Signal(10, 0.0));
    element[1] = -0.0;
    element[9] = 7.0;
    const double source[] = {1.0, -0.0, 1e-310, -2.0};
    CoreCnvl::copy1(nullptr, element, source, 4, false, 2, true);
    EXPECT_EQ(Signal(element, element + 6), (Signal{0, 0, 1, 0, 0, -2}));
    EXPECT_TRUE(std::signbit(element[1]) && !std::signbit(element[3]));
    CoreCnvl::copy1(nullptr, element, nullptr, 3, false, 6, false);
    EXPECT_EQ(Signal(element + 5, element + 10), (Signal{-2, 0, 0, 0, 7}));
    CoreCnvl::dlel1(nullptr, &pool, element);
    EXPECT_EQ(pool.getma(), 0);
    double left[] = {1.0, -2.0, 1e-300}, right[] = {4.0, 1e-300, -0.5};
    CoreCnvl::adj_1(nullptr, left, right, 3, 0.5e-10);
    EXPECT_EQ(Signal(left, left + 3), (Signal{0.5e-10, -1e-10, 0.0}));
    EXPECT_EQ(Signal(right, right + 3), (Signal{2e-10, 0.0, -0.25e-10}));
    const double envIn[] = {0.0, 0.5, 9, 9, 9, 9}, envOut[] = {0.25, 0.125, 9, 9, 9, 9};
    double fadeL[] = {5.0, 2.0, 2.0, 1e-310, 2.0, 2.0, 5.0}, fadeR[] = {5.0, 4.0, 4.0, 4.0, 4.0, 4.0, 5.0};
    CoreCnvl::fade1(nullptr, 5, fadeL + 1, fadeR + 1, 0, envIn, 0, envOut);
    EXPECT_EQ(fadeL[3], 1e-310);
    CoreCnvl::fade1(nullptr, 5, fadeL + 1, fadeR + 1, 2, envIn, 2, envOut);
    EXPECT_EQ(Signal(fadeL, fadeL + 7), (Signal{5, 0.0, 1.0, 0.0, 0.5, 0.25, 5}));
    CoreCnvl::fade1(nullptr, 5, fadeL + 1, fadeR + 1, 6, envIn, 6, envOut);
    EXPECT_EQ(Signal(fadeR, fadeR + 7), (Signal{5, 0.0, 0.125, 4.0 * 9 * 9, 9.0 * 9, 0.5 * 9 * 9, 5}));
}

// The indexed mix (elements A and B with their weights) runs in one pass per value. It must equal the
// step-by-step form (scale with mixr1, add each element in range with mixr2 or mixr3, flush with
// kllad) bit for bit, on values a flush must treat (zeros of both signs, denormals) and with indexes
// outside the sources. Unindexed, every element is added with the gain.
TEST(CoreCnvl, VectorMixEqualsTheStepByStepFormBitForBit) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    const double scales[] = {0.0, -0.0, 1e-310, DBL_MIN, 1.0, 1.0, 1.0, 1.0};
    auto awkward = [&](int n) {
        Signal c(n);
        for (double& v : c) v = scales[random() % 8] * uniform(random);
        return c;
    };
    const int count = 3;
    const int pairs[][2] = {{0, 1}, {-1, 1}, {-1, -1}, {0, 5}};
    for (int n : {7, 256}) {
        std::vector<Signal> left, right;
        std::vector<double*> sourcesL, sourcesR;
        for (int e = 0; e < count; ++e) left.push_back(awkward(n)), right.push_back(awkward(n));
        for (int e = 0; e < count; ++e)
            sourcesL.push_back(left[e].data()), sourcesR.push_back(right[e].data());
        for (int form = 0; form < 8; ++form)
            for (const auto& pair : pairs) {
                const bool skip = form & 1, panned = form & 2, indexed = form & 4;
                SCOPED_TRACE(testing::Message() << n << " " << form << " " << pair[0] << pair[1]);
                const VECTORMIXSTRUCT m{0.7, 0.5, 0.8, 0.6, 0.3, 1.0, 0.35, 0.4, pair[0], pair[1]};
                std::vector<std::pair<int, double>> terms = {{pair[0], m.weightA}, {pair[1], m.weightB}};
                if (!indexed) terms = {{0, m.gain}, {1, m.gain}, {2, m.gain}};
                Signal wantL = awkward(n), wantR = awkward(n), gotL = wantL, gotR = wantR;
                double *l = wantL.data(), *r = wantR.data();
                if (!skip) mixr1(n, &l, &r, m.destinationScale);
                for (const auto& [e, w] : terms) {
                    if (skip || e < 0 || e >= count) continue;
                    double **sL = &sourcesL[e], **sR = &sourcesR[e];
                    if (panned)
                        mixr3(n, &l, &r, sL, sR, m.leftToLeft * w, m.leftToRight * w, m.rightToRight * w,
                              m.rightToLeft * w);
                    else
                        mixr2(n, &l, &r, sL, sR, w);
                }
                if (!skip) kllad(n, &l);
                if (!skip) kllad(n, &r);
                CoreCnvl::vmix1(nullptr, skip, indexed, panned, &m, n, count, gotL.data(), gotR.data(),
                                reinterpret_cast<void* const*>(sourcesL.data()),
                                reinterpret_cast<void* const*>(sourcesR.data()));
                ASSERT_EQ(std::memcmp(wantL.data(), gotL.data(), sizeof(double) * n), 0);
                ASSERT_EQ(std::memcmp(wantR.data(), gotR.data(), sizeof(double) * n), 0);
            }
    }
}
