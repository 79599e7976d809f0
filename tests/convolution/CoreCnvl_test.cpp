#include "convolution/CoreCnvl.h"

#include "base/CorePool.h"
#include "base/CoreTime.h"
#include "convolution/CoreOpti.h"
#include "tests/common/CountingAllocator.h"
#include "tests/convolution/ConvolverTestSupport.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>

namespace {

using VALID = CoreCnvl::VALIDSTRUCT;
const VALID allCapabilities{true, false, true};
const VALID noBridge{true, false, false};
const short directModes[] = {0, 1, 2, 3, 4, 5};

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
    long play(CoreCnvl& c, bool replace, const Signal& kernel, Signal& fade, long& fadeIndex, int count,
              CoreTime* a = nullptr, CoreTime* b = nullptr) {
        double* k = const_cast<double*>(kernel.data());
        return c.cnvsy(replace, inL.data(), inR.data(), mixL.data(), mixR.data(), k, k, dryL.data(),
                       dryR.data(), convL.data(), convR.data(), fade.data(), fadeIndex, count, a, b);
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

std::unique_ptr<CoreCnvl> planned(CorePool& pool, short mode, int n) {
    auto c = std::make_unique<CoreCnvl>(&pool, "test", n, nullptr, noBridge);
    c->set__(mode, 64, n, 0, 0, n);
    EXPECT_TRUE(c->plan_());
    return c;
}

// Row 17 replaced, to watch the convolver's calls.
void installRow(CoreCnvl& c, bool untimed, LoadCallback load = nullptr, UnloadCallback unload = nullptr,
                CommonLoadCallback lcom = nullptr, CommonUnloadCallback ucom = nullptr) {
    c.setcd(17, nullptr, true, CoreOpti::cnvs0, 1, false, false, false, lcom != nullptr, false, untimed, 2,
            load, unload, nullptr, lcom, ucom, CoreCnvl::szel1, CoreCnvl::nwel1, CoreCnvl::dlel1,
            CoreCnvl::copy1, CoreCnvl::adj_1, CoreCnvl::fade1, CoreCnvl::vmix1);
}

} // namespace

TEST(CoreCnvl, SelectionFallsBackWhenARowCannotRunHereAndTheRowDecidesStepAndGranule) {
    struct Case {
        const char* what;
        VALID valid;
        short requested, selected;
        int length, step, granule;
        bool error, loadable;
    };
    const Case cases[] = {
        {"past the table", allCapabilities, 18, 3, 64, 1, 2, true, false},
        {"negative", allCapabilities, -1, 3, 64, 1, 2, true, false},
        {"GPU row without bridge", noBridge, 12, 11, 64, 128, 128, true, false},
        {"GPU row with bridge", allCapabilities, 15, 15, 64, 128, 1024, false, true},
        {"SSE2 row without SSE2", VALID{false, false, false}, 5, 3, 64, 1, 2, true, false},
        {"SSE2 row with SSE2", noBridge, 5, 5, 64, 2, 2, false, true},
        {"FFTW row", allCapabilities, 7, 11, 64, 128, 128, true, false},
        {"row 16 even with a bridge", allCapabilities, 16, 11, 64, 128, 128, true, false},
        {"two-sample row, odd length", noBridge, 2, 3, 63, 1, 2, true, true},
        {"one-sample row, odd length", noBridge, 17, 17, 63, 1, 2, false, true},
    };
    CorePool pool;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CoreCnvl convolver(&pool, "select", 0, nullptr, c.valid);
        EXPECT_EQ(std::tuple(convolver.getcb(), convolver.getmp(), convolver.getve()),
                  std::tuple(0, 0, nullptr));
        EXPECT_EQ(convolver.ldble(c.requested), c.loadable);
        EXPECT_EQ(convolver.set__(c.requested, 128, c.length, 0, 0, 0), c.step);
        EXPECT_EQ(std::tuple(convolver.selectedMode(), convolver.error(), convolver.getmp()),
                  std::tuple(c.selected, c.error, c.granule));
        // GPU rows are the timed ones; every row but 16 has the CPU element operations.
        EXPECT_EQ(std::tuple(convolver.getpt(), convolver.perfr(), convolver.getbe(), convolver.getvm()),
                  std::tuple(c.granule == 1024, c.granule != 1024, c.granule > 2, &CoreCnvl::vmix1));
        convolver.set__(0, 128, 64, 0, 0, 0); // a later valid selection clears the flag
        EXPECT_FALSE(convolver.error());
        EXPECT_EQ(convolver.modeRow(16)->vmix, vmix2);
    }
    // The fallback target is tested too: a default FFT mode that cannot run here gives 11.
    for (short defaultMode : {short(9), short(13), short(16), short(40), short(-2)}) {
        CoreCnvl convolver(&pool, "default", 0, nullptr, noBridge);
        convolver.setdb(defaultMode);
        convolver.set__(12, 128, 64, 0, 0, 0);
        EXPECT_EQ(convolver.selectedMode(), defaultMode == 9 ? 9 : 11) << defaultMode;
    }
}

TEST(CoreCnvl, PlanSizesZeroedRingsOnceAndModeOnlySelectionKeepsThem) {
    LogCapture log(2);
    CorePool pool;
    auto ringBytes = [](int n) { return 2 * (8LL * 3 * n + CorePool::iCoverhead); };
    auto ringsZero = [](const CoreCnvl& c) {
        for (int i = 0; i < 3 * c.length(); ++i)
            if (c.ringL()[i] != 0.0 || c.ringR()[i] != 0.0) return false;
        return true;
    };
    CoreCnvl c(&pool, "P1", 0, nullptr, noBridge);
    EXPECT_FALSE(c.plan_()); // nothing selected yet
    c.set__(0, 64, 100, 7, 0, 100);
    ASSERT_TRUE(c.plan_());
    EXPECT_EQ(pool.getma(), ringBytes(100));
    EXPECT_TRUE(ringsZero(c));
    std::mt19937 generator(5);
    const Stereo x = randomStereo(generator, 37);
    const Signal kernel = randomSignal(generator, 100);
    const double* ring = c.ringL();
    for (bool replan : {true, false}) { // the same length keeps the blocks, as clear does
        convolveDirect(c, x, kernel, kernel);
        if (replan)
            EXPECT_TRUE(c.plan_() && c.position() == 100);
        else
            c.clear();
        EXPECT_EQ(c.ringL(), ring);
        EXPECT_TRUE(ringsZero(c));
    }
    EXPECT_EQ(c.set__(2, -1, 15, 0, 0, 15), -1); // the mode alone; the odd length is not judged
    EXPECT_EQ(c.getcb(), 1);                     // step, routine and rings stay those of the plan
    EXPECT_EQ(convolveDirect(c, x, unitImpulse(100), unitImpulse(100)).left, x.left);
    c.set__(0, 64, 50, 0, 0, 50); // a new length replaces the rings
    ASSERT_TRUE(c.plan_());
    EXPECT_EQ(pool.getma(), ringBytes(50));
    c.set__();
    EXPECT_EQ(c.ringL(), nullptr);
    EXPECT_EQ(pool.getma(), 0);
    EXPECT_TRUE(log.holds("player P1: 100:7:100<"));
}

TEST(CoreCnvl, CrossfadeReadsTheFadeTableDownThenHoldsTheFirstStepEntries) {
    CorePool pool;
    const int count = 8, tableLength = 20; // two and a half blocks
    const Signal kernel = unitImpulse(16);
    Signal fadeOut(tableLength), fadeIn(tableLength);
    for (int i = 0; i < tableLength; ++i) fadeOut[i] = 1.0 + i, fadeIn[i] = 1.0 / (2.0 + i);
    std::mt19937 generator(9);
    for (short mode : {short(0), short(2)}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        auto outgoing = planned(pool, mode, 16), incoming = planned(pool, mode, 16);
        long fadeIndex = tableLength - 1;
        for (int block = 0, played = 0; block < 3; ++block) {
            Block a(count), b(count);
            b.inL = a.inL = randomSignal(generator, count);
            b.inR = a.inR = randomSignal(generator, count);
            const long before = fadeIndex;
            const long returned = a.play(*outgoing, true, kernel, fadeOut, fadeIndex, count);
            EXPECT_EQ(fadeIndex, before); // replace returns where the adding call leaves the index
            EXPECT_EQ(a.dryL, a.inL);
            b.mixL = a.mixL, b.mixR = a.mixR;
            EXPECT_EQ(b.play(*incoming, false, kernel, fadeIn, fadeIndex, count), returned);
            EXPECT_EQ(fadeIndex, returned);
            for (int j = 0; j < count; ++j, ++played) {
                const int over = played - tableLength, step = mode == 2 ? 2 : 1;
                const int i = over < 0 ? tableLength - 1 - played : step - 1 - over % step;
                ASSERT_EQ(b.mixL[j], a.inL[j] * fadeOut[i] + a.inL[j] * fadeIn[i]) << played;
                ASSERT_EQ(b.mixR[j], a.inR[j] * fadeOut[i] + a.inR[j] * fadeIn[i]) << played;
            }
        }
    }
}

TEST(CoreCnvl, MetersBracketOnlyTimedModes) {
    CorePool pool;
    const int n = 512;
    const Signal kernel = randomSignal(n, 17);
    for (bool timed : {false, true}) {
        SCOPED_TRACE(timed ? "timed" : "untimed");
        CoreCnvl c(&pool, "meters", 0, nullptr, noBridge);
        installRow(c, !timed);
        c.set__(17, n, n, 0, 0, n);
        ASSERT_TRUE(c.plan_());
        Block b(n, 0.5);
        Signal fade(1, 1.0);
        long fadeIndex = 0;
        CoreTime outside, inside;
        outside.setmp(true);
        b.play(c, true, kernel, fade, fadeIndex, n, &outside, &inside);
        b.play(c, true, kernel, fade, fadeIndex, n); // null meters are skipped
        // After a call, counting one unit gives a positive mean unless nothing was measured.
        inside.setms(1);
        outside.setms(1);
        EXPECT_EQ(inside.getmp() > 0.0, timed);
        EXPECT_EQ(outside.getmp() > 0.0, timed);
    }
}

TEST(CoreCnvl, PowerChainConvolvesSuccessivePowersOfTheInput) {
    CorePool pool;
    const int n = 16, count = 24, orders = 4; // three blocks cross both ring wraps
    for (short mode : directModes) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        std::mt19937 generator(100 + mode);
        std::vector<std::unique_ptr<CoreCnvl>> chain;
        std::vector<Signal> kernels;
        const Signal x = randomSignal(generator, 3 * count);
        Signal want(3 * count, 0.0), power(3 * count, 1.0), work(2 * count);
        double tolerance = 0.0;
        for (int k = 0; k < orders; ++k) {
            chain.push_back(planned(pool, mode, n));
            kernels.push_back(randomSignal(generator, n));
            for (int i = 0; i < 3 * count; ++i) power[i] *= x[i];
            const Signal y = naiveConvolution(power, kernels[k]);
            for (int i = 0; i < 3 * count; ++i) want[i] += y[i];
            tolerance += 1e-12 * sumOfMagnitudes(kernels[k]);
        }
        for (int block = 0; block < 3; ++block) {
            Block b(count);
            b.inL = b.inR = Signal(x.begin() + block * count, x.begin() + (block + 1) * count);
            for (int k = 0; k < orders; ++k) {
                b.power(*chain[k], false, k == 0, kernels[k], work, count);
                EXPECT_EQ(chain[k]->extension().callCounter, count / chain[k]->getcb());
            }
            for (int j = 0; j < count; ++j) ASSERT_NEAR(b.mixR[j], want[block * count + j], tolerance) << j;
        }
    }
}

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
        EXPECT_EQ(b.convL, Signal(count, 0.0));
        EXPECT_EQ(b.mixL, Signal(count, 0.0));
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
        EXPECT_EQ(b.convL[0], 0.0);
        EXPECT_EQ(b.mixL, Signal(count, 1.0));
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
    c.set__(0, 64, 8, 0, 0, 8);
    ASSERT_TRUE(c.plan_());
    c.cleas();
    expectSilence(c, "rings freed");
    EXPECT_EQ(pool.getma(), 0);
}

TEST(CoreCnvl, PartialStepRunsWholeStepsAndSilencesTheRest) {
    LogCapture log(0);
    CorePool pool;
    auto c = planned(pool, 2, 8);
    const Signal kernel = unitImpulse(8);
    Block b(9);
    b.inL = b.inR = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    b.convL.assign(9, 55.0);
    Signal fade(2, 1.0), work(18);
    long fadeIndex = 0;
    b.play(*c, true, kernel, fade, fadeIndex, 7);
    EXPECT_EQ(b.convL, (Signal{1, 2, 3, 4, 5, 6, 0, 55, 55}));
    EXPECT_EQ(b.mixL[6], 0.0);
    EXPECT_EQ(b.dryL[6], 7.0);
    EXPECT_EQ(c->position(), 8 + 6);
    b.power(*c, true, true, kernel, work, 5);
    EXPECT_EQ(c->extension().callCounter, 2);
    EXPECT_EQ(b.convL, (Signal{1, 2, 3, 4, 0, 6, 0, 55, 55}));
    EXPECT_EQ(c->partialSteps(), 2);
    c->delpl();
    EXPECT_TRUE(log.holds("2 blocks were not a multiple of the step"));
}

int unloadCalls = 0, commonUnloadCalls = 0;

TEST(CoreCnvl, DestructorReleasesOnlyThePlansStillHeld) {
    CorePool pool;
    for (bool ownerReleases : {false, true}) {
        SCOPED_TRACE(ownerReleases ? "released by the owner" : "forgotten");
        unloadCalls = commonUnloadCalls = 0;
        {
            CoreCnvl c(&pool, "plans", 0, nullptr, noBridge);
            installRow(
                c, true, [](long, FFTSTRUCT* plan, FFTEXTENSION*, int, long&) { return plan->loaded = true; },
                [](FFTSTRUCT* plan, FFTEXTENSION*) { unloadCalls += std::exchange(plan->loaded, false); },
                [](FFTSTRUCT*, FFTEXTENSION*, void*, short, long) { return true; },
                [](FFTSTRUCT*, FFTEXTENSION*) { ++commonUnloadCalls; });
            c.set__(17, 64, 8, 0, 0, 8);
            ASSERT_TRUE(c.plan_());
            int buffer = 0;
            c.set_c(&buffer, 2, 16);
            EXPECT_TRUE(c.planc());
            EXPECT_EQ(c.grplc(), &buffer);
            EXPECT_TRUE(c.planc()); // rebuilding releases the previous common plan
            EXPECT_EQ(commonUnloadCalls, 1);
            if (ownerReleases) {
                c.delpc();
                c.delpl();
            }
        }
        EXPECT_EQ(unloadCalls, 1);
        EXPECT_EQ(commonUnloadCalls, 2);
    }
    EXPECT_EQ(pool.getma(), 0);
}

TEST(CoreCnvl, BlockPathAllocatesNothing) {
    CorePool pool;
    const int n = 64, count = 128;
    std::mt19937 generator(31);
    const Signal kernel = randomSignal(generator, n);
    Block b(count);
    b.inL = randomSignal(generator, count);
    b.inR = randomSignal(generator, count);
    Signal fade(count, 1.0), work(2 * count);
    for (short mode : directModes) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        auto c = planned(pool, mode, n);
        CoreTime a, m;
        const int64_t poolBefore = pool.getma(), peakBefore = pool.getxa();
        const long heapBefore = heapAllocations.load();
        for (int block = 0; block < 200; ++block) {
            long fadeIndex = count - 1;
            b.play(*c, block % 2 == 0, kernel, fade, fadeIndex, count, &a, &m);
            c->cnvlc(b.inL.data(), b.inR.data(), b.convL.data(), b.convR.data(),
                     const_cast<double*>(kernel.data()), const_cast<double*>(kernel.data()), &a, &m);
            b.power(*c, block % 3 == 0, false, kernel, work, count);
        }
        EXPECT_EQ(heapAllocations.load(), heapBefore);
        EXPECT_EQ(pool.getma(), poolBefore);
        EXPECT_EQ(pool.getxa(), peakBefore);
    }
}

TEST(CoreCnvl, ElementOperationsStayInsideTheirRangeAndFlush) {
    CorePool pool;
    double* element = static_cast<double*>(CoreCnvl::nwel1(nullptr, &pool, 10));
    EXPECT_EQ(pool.getma(), 8 * 10 + CorePool::iCoverhead);
    EXPECT_EQ(Signal(element, element + 10), Signal(10, 0.0));
    // copy: at the offset; flush over the values written only; a null source writes zeros.
    element[1] = -0.0;
    element[9] = 7.0;
    const double source[] = {1.0, -0.0, 1e-310, -2.0};
    CoreCnvl::copy1(nullptr, element, source, 4, false, 2, true);
    EXPECT_EQ(Signal(element, element + 6), (Signal{0, 0, 1, 0, 0, -2}));
    EXPECT_TRUE(std::signbit(element[1]));
    EXPECT_FALSE(std::signbit(element[3]));
    CoreCnvl::copy1(nullptr, element, nullptr, 3, false, 6, false);
    EXPECT_EQ(Signal(element + 5, element + 10), (Signal{-2, 0, 0, 0, 7}));
    CoreCnvl::dlel1(nullptr, &pool, element);
    EXPECT_EQ(pool.getma(), 0);
    double left[] = {1.0, -2.0, 1e-300}, right[] = {4.0, 1e-300, -0.5};
    CoreCnvl::adj_1(nullptr, left, right, 3, 0.5e-10);
    EXPECT_EQ(Signal(left, left + 3), (Signal{0.5e-10, -1e-10, 0.0}));
    EXPECT_EQ(Signal(right, right + 3), (Signal{2e-10, 0.0, -0.25e-10}));
    // fade: the first nIn and the last nOut values, lengths clamped to n; flushes only when it faded.
    const double envIn[] = {0.0, 0.5, 9, 9, 9, 9}, envOut[] = {0.25, 0.125, 9, 9, 9, 9};
    double fadeL[] = {5.0, 2.0, 2.0, 1e-310, 2.0, 2.0, 5.0}, fadeR[] = {5.0, 4.0, 4.0, 4.0, 4.0, 4.0, 5.0};
    CoreCnvl::fade1(nullptr, 5, fadeL + 1, fadeR + 1, 0, envIn, 0, envOut);
    EXPECT_EQ(fadeL[3], 1e-310);
    CoreCnvl::fade1(nullptr, 5, fadeL + 1, fadeR + 1, 2, envIn, 2, envOut);
    EXPECT_EQ(Signal(fadeL, fadeL + 7), (Signal{5, 0.0, 1.0, 0.0, 0.5, 0.25, 5}));
    CoreCnvl::fade1(nullptr, 5, fadeL + 1, fadeR + 1, 6, envIn, 6, envOut);
    EXPECT_EQ(Signal(fadeR, fadeR + 7), (Signal{5, 0.0, 0.125, 4.0 * 9 * 9, 9.0 * 9, 0.5 * 9 * 9, 5}));
}

TEST(CoreCnvl, VectorMixSumsEveryElementWithTheGainOrThePanMatrix) {
    double s0L[] = {1.0, 2.0}, s0R[] = {10.0, 20.0}, s1L[] = {-1.0, 0.5}, s1R[] = {4.0, -8.0};
    void* srcL[] = {s0L, s1L};
    void* srcR[] = {s0R, s1R};
    const VECTORMIXSTRUCT mix{2.0, 0.5, 1.0, 0.25, 0.125, 3.0, 10.0, 100.0, 1, 0};
    Signal l = {1.0, 2.0}, r = {3.0, 4.0};
    CoreCnvl::vmix1(nullptr, false, false, false, &mix, 2, 2, l.data(), r.data(), srcL, srcR);
    EXPECT_EQ(l, (Signal{0.5 + 2.0 * (1.0 - 1.0), 1.0 + 2.0 * (2.0 + 0.5)})); // dst x 0.5 + gain x sum
    EXPECT_EQ(r, (Signal{1.5 + 2.0 * (10.0 + 4.0), 2.0 + 2.0 * (20.0 - 8.0)}));
    l = {1.0, 2.0}, r = {3.0, 4.0};
    CoreCnvl::vmix1(nullptr, false, false, true, &mix, 2, 2, l.data(), r.data(), srcL, srcR);
    // L += gain (LL sL + RL sR); R += gain (LR sL + RR sR)
    EXPECT_EQ(l[0], 0.5 + 2.0 * (1.0 * 1.0 + 0.125 * 10.0) + 2.0 * (1.0 * -1.0 + 0.125 * 4.0));
    EXPECT_EQ(r[1], 2.0 + 2.0 * (0.25 * 2.0 + 3.0 * 20.0) + 2.0 * (0.25 * 0.5 + 3.0 * -8.0));
}

// The indexed mix runs in one pass per value. It must equal the step-by-step form (scale with mixr1,
// add each element in range with mixr2 or mixr3, flush with kllad) bit for bit, on values a flush
// must treat (zeros of both signs, denormals) and with indexes outside the sources.
TEST(CoreCnvl, IndexedVectorMixEqualsTheStepByStepFormBitForBit) {
    std::mt19937 random(7);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    const double scales[] = {0.0, -0.0, 1e-310, DBL_MIN, 1.0, 1.0, 1.0, 1.0};
    auto awkward = [&](int n) {
        Signal c(n);
        for (double& v : c) v = scales[random() % 8] * uniform(random);
        return c;
    };
    const int count = 3;
    const int pairs[][2] = {{0, 1}, {2, 0}, {-1, 1}, {1, -1}, {-1, -1}, {0, 5}, {7, 2}};
    for (int n : {1, 7, 8, 9, 33, 256}) {
        std::vector<Signal> left, right;
        std::vector<double*> sourcesL, sourcesR;
        for (int e = 0; e < count; ++e) left.push_back(awkward(n)), right.push_back(awkward(n));
        for (int e = 0; e < count; ++e)
            sourcesL.push_back(left[e].data()), sourcesR.push_back(right[e].data());
        for (int form = 0; form < 4; ++form)
            for (const auto& pair : pairs) {
                const bool skip = form & 1, panned = form & 2;
                SCOPED_TRACE(testing::Message() << n << " " << form << " " << pair[0] << pair[1]);
                const VECTORMIXSTRUCT m{0.7, 0.5, 0.8, 0.6, 0.3, 1.0, 0.35, 0.4, pair[0], pair[1]};
                Signal wantL = awkward(n), wantR = awkward(n), gotL = wantL, gotR = wantR;
                double *l = wantL.data(), *r = wantR.data();
                if (!skip) mixr1(n, &l, &r, m.destinationScale);
                for (int k = 0; k < 2 && !skip; ++k) {
                    if (pair[k] < 0 || pair[k] >= count) continue;
                    const double w = k == 0 ? m.weightA : m.weightB;
                    double** sL = &sourcesL[pair[k]];
                    double** sR = &sourcesR[pair[k]];
                    if (panned)
                        mixr3(n, &l, &r, sL, sR, m.leftToLeft * w, m.leftToRight * w, m.rightToRight * w,
                              m.rightToLeft * w);
                    else
                        mixr2(n, &l, &r, sL, sR, w);
                }
                if (!skip) kllad(n, &l);
                if (!skip) kllad(n, &r);
                CoreCnvl::vmix1(nullptr, skip, true, panned, &m, n, count, gotL.data(), gotR.data(),
                                reinterpret_cast<void* const*>(sourcesL.data()),
                                reinterpret_cast<void* const*>(sourcesR.data()));
                ASSERT_EQ(std::memcmp(wantL.data(), gotL.data(), sizeof(double) * n), 0);
                ASSERT_EQ(std::memcmp(wantR.data(), gotR.data(), sizeof(double) * n), 0);
            }
    }
}
