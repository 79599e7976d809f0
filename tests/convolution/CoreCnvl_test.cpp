#include "convolution/CoreCnvl.h"

#include "base/CoreLog_.h"
#include "base/CorePool.h"
#include "base/CoreTime.h"
#include "convolution/CoreCubr.h"
#include "convolution/CoreOpti.h"
#include "tests/common/CountingAllocator.h"
#include "tests/common/SignalReference.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <vector>

namespace {

using VALID = CoreCnvl::VALIDSTRUCT;
const VALID allCapabilities{true, false, true};
const VALID noBridge{true, false, false};
const VALID noSse2NoBridge{false, false, false};

const short directModes[] = {0, 1, 2, 3, 4, 5};

// Bytes the pool counts for one block of n doubles.
int64_t poolBytes(int n) {
    return 8LL * n + CorePool::iCoverhead;
}

std::vector<double> unitImpulse(int n) {
    std::vector<double> k(n, 0.0);
    k[0] = 1.0;
    return k;
}

// A planned convolver of one mode with ring length n and host block `block`.
struct Player {
    CoreCnvl convolver;
    Player(CorePool& pool, short mode, int n, int block = 64, const VALID& valid = noBridge)
        : convolver(&pool, "test", n, nullptr, valid) {
        convolver.set__(mode, block, n, 0, 0, n);
        EXPECT_TRUE(convolver.plan_());
    }
};

// Stereo buffers of one block.
struct Block {
    std::vector<double> inL, inR, mixL, mixR, dryL, dryR, convL, convR;
    explicit Block(int n)
        : inL(n), inR(n), mixL(n, 0.0), mixR(n, 0.0), dryL(n, 0.0), dryR(n, 0.0), convL(n, 0.0),
          convR(n, 0.0) {}
};

} // namespace

TEST(CoreCnvl, TableRowsMatchTheModeTable) {
    enum Test { none, sse2, fftw, gpu };
    struct Row {
        StepRoutine routine;
        Test test;
        int step;
        bool isfft, partitioned, sse2, common, gpu, untimed;
        int granule;
        bool enabled, plans, commonPlans, gpuElements;
    };
    const Row expected[CoreCnvl::iCmodes] = {
        {CoreOpti::cnvs0, none, 1, false, false, false, false, false, true, 2, true, false, false, false},
        {cnvs1, none, 1, false, false, false, false, false, true, 2, true, false, false, false},
        {CoreOpti::cnvs2, sse2, 2, false, false, true, false, false, true, 2, true, false, false, false},
        {CoreOpti::cnvs4, none, 1, false, false, false, false, false, true, 2, true, false, false, false},
        {cnvs5, none, 1, false, false, false, false, false, true, 2, true, false, false, false},
        {CoreOpti::cnvs6, sse2, 2, false, false, true, false, false, true, 2, true, false, false, false},
        {CoreOpti::cnvs8, fftw, -1, true, false, false, false, false, true, 128, true, true, false, false},
        {CoreOpti::cnvs9, fftw, -1, true, true, false, false, false, true, 128, true, true, false, false},
        {CoreOpti::cns13, fftw, -1, true, true, false, true, false, true, 128, true, true, true, false},
        {CoreOpti::cns10, none, -1, true, false, false, false, false, true, 128, true, true, false, false},
        {CoreOpti::cns11, none, -1, true, true, false, false, false, true, 128, true, true, false, false},
        {CoreOpti::cns12, none, -1, true, true, false, true, false, true, 128, true, true, true, false},
        {CoreOpti::cns14, gpu, -1, true, true, false, false, true, false, 1024, true, true, false, false},
        {CoreOpti::cns15, gpu, -1, true, true, false, false, true, false, 1024, true, true, false, false},
        {CoreOpti::cns16, gpu, -1, true, true, false, true, true, false, 1024, true, true, true, false},
        {CoreOpti::cns17, gpu, -1, true, true, false, true, true, false, 1024, true, true, true, false},
        {CoreOpti::cns18, gpu, -1, true, true, false, true, true, false, 1024, false, true, true, true},
        {CoreOpti::cns18, none, 1, false, false, false, false, false, true, 2, false, false, false, false},
    };
    const CoreCnvl::ValidTest tests[] = {nullptr, CoreCnvl::isss2, CoreCnvl::isffw, CoreCnvl::iscda};
    // Which callbacks each row with plans names.
    const LoadCallback loads[CoreCnvl::iCmodes] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                   load2,   load1,   load6,   load3,   load4,   load5,
                                                   load7,   load8,   load9,   lod10,   lod10,   nullptr};
    const UnloadCallback unloads[CoreCnvl::iCmodes] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                       uloa2,   uloa1,   uloa6,   uloa3,   uloa4,   uloa5,
                                                       uloa7,   uloa8,   uloa9,   ulo10,   ulo10,   nullptr};
    const ClearCallback clears[CoreCnvl::iCmodes] = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                                     clea2,   clea1,   clea6,   clea3,   clea4,   clea5,
                                                     clea7,   clea8,   clea9,   cle10,   cle10,   nullptr};
    const CommonLoadCallback lcoms[CoreCnvl::iCmodes] = {
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, lcom1,
        nullptr, nullptr, lcom1,   nullptr, nullptr, lcom2,   lcom3,   lcom3,   nullptr};
    const CommonUnloadCallback ucoms[CoreCnvl::iCmodes] = {
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, ucom1,
        nullptr, nullptr, ucom1,   nullptr, nullptr, ucom2,   ucom3,   ucom3,   nullptr};

    CorePool pool;
    CoreCnvl convolver(&pool, "table", 0, nullptr, allCapabilities);
    EXPECT_EQ(convolver.modeRow(-1), nullptr);
    EXPECT_EQ(convolver.modeRow(18), nullptr);
    for (int id = 0; id < CoreCnvl::iCmodes; ++id) {
        SCOPED_TRACE(testing::Message() << "row " << id);
        const CoreCnvl::KERNELMODESTRUCT& row = *convolver.modeRow(id);
        const Row& want = expected[id];
        EXPECT_EQ(row.routine, want.routine);
        EXPECT_EQ(row.valid, tests[want.test]);
        EXPECT_EQ(row.step, want.step);
        EXPECT_EQ(row.isfft, want.isfft);
        EXPECT_EQ(row.partitioned, want.partitioned);
        EXPECT_EQ(row.sse2, want.sse2);
        EXPECT_EQ(row.common, want.common);
        EXPECT_EQ(row.gpu, want.gpu);
        EXPECT_EQ(row.untimed, want.untimed);
        EXPECT_EQ(row.granule, want.granule);
        EXPECT_EQ(row.enabled, want.enabled);
        EXPECT_EQ(row.load, loads[id]);
        EXPECT_EQ(row.unload, unloads[id]);
        EXPECT_EQ(row.clear, clears[id]);
        EXPECT_EQ(row.lcom, lcoms[id]);
        EXPECT_EQ(row.ucom, ucoms[id]);
        EXPECT_EQ(row.load != nullptr, want.plans);
        EXPECT_EQ(row.lcom != nullptr, want.commonPlans);
        if (want.gpuElements) {
            EXPECT_EQ(row.szel, szel2);
            EXPECT_EQ(row.nwel, nwel2);
            EXPECT_EQ(row.dlel, dlel2);
            EXPECT_EQ(row.copy, copy2);
            EXPECT_EQ(row.adj_, adj_2);
            EXPECT_EQ(row.fade, fade2);
            EXPECT_EQ(row.vmix, vmix2);
        } else {
            EXPECT_EQ(row.szel, CoreCnvl::szel1);
            EXPECT_EQ(row.nwel, CoreCnvl::nwel1);
            EXPECT_EQ(row.dlel, CoreCnvl::dlel1);
            EXPECT_EQ(row.copy, CoreCnvl::copy1);
            EXPECT_EQ(row.adj_, CoreCnvl::adj_1);
            EXPECT_EQ(row.fade, CoreCnvl::fade1);
            EXPECT_EQ(row.vmix, CoreCnvl::vmix1);
        }
    }
    EXPECT_EQ(CoreCnvl::iCdefaultdir, 3);
    EXPECT_EQ(CoreCnvl::iCdefaultbe_, 11);
    EXPECT_STREQ(CoreCnvl::sCdefaultversion, "N/A");
}

TEST(CoreCnvl, GettersReportTheSelectedRowAndDefaultsWithNone) {
    CorePool pool;
    CoreCnvl convolver(&pool, "getters", 0, nullptr, allCapabilities);
    auto expectNoSelection = [&] {
        EXPECT_EQ(convolver.selectedMode(), -1);
        EXPECT_EQ(convolver.getmp(), 0);
        EXPECT_EQ(convolver.getcb(), 0);
        EXPECT_FALSE(convolver.perfr());
        EXPECT_FALSE(convolver.getpt());
        EXPECT_FALSE(convolver.getbe());
        EXPECT_EQ(convolver.getse(), CoreCnvl::szel1);
        EXPECT_EQ(convolver.getne(), CoreCnvl::nwel1);
        EXPECT_EQ(convolver.getde(), CoreCnvl::dlel1);
        EXPECT_EQ(convolver.getce(), CoreCnvl::copy1);
        EXPECT_EQ(convolver.getae(), CoreCnvl::adj_1);
        EXPECT_EQ(convolver.getfd(), CoreCnvl::fade1);
        EXPECT_EQ(convolver.getvm(), CoreCnvl::vmix1);
        EXPECT_EQ(convolver.getve(), nullptr);
    };
    expectNoSelection();

    struct Case {
        short mode;
        int step, granule;
        bool untimed, gpu, block;
    };
    const Case cases[] = {{0, 1, 2, true, false, false},      {2, 2, 2, true, false, false},
                          {5, 2, 2, true, false, false},      {11, 256, 128, true, false, true},
                          {12, 256, 1024, false, true, true}, {17, 1, 2, true, false, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "mode " << c.mode);
        EXPECT_EQ(convolver.set__(c.mode, 256, 64, 0, 0, 0), c.step);
        EXPECT_FALSE(convolver.error());
        EXPECT_EQ(convolver.selectedMode(), c.mode);
        EXPECT_EQ(convolver.getcb(), c.step);
        EXPECT_EQ(convolver.getmp(), c.granule);
        EXPECT_EQ(convolver.perfr(), c.untimed);
        EXPECT_EQ(convolver.getpt(), c.gpu);
        EXPECT_EQ(convolver.getbe(), c.block);
        EXPECT_NE(convolver.getve(), nullptr);
        EXPECT_EQ(convolver.extension().block, c.step);
    }
    convolver.set__();
    expectNoSelection();
}

TEST(CoreCnvl, SelectionFallsBackWhenARowCannotRunHere) {
    CorePool pool;
    struct Case {
        const char* what;
        VALID valid;
        short requested;
        int length;
        short selected;
        bool error;
    };
    const Case cases[] = {
        {"past the table", allCapabilities, 18, 64, 3, true},
        {"negative", allCapabilities, -1, 64, 3, true},
        {"GPU row without bridge", noBridge, 12, 64, 11, true},
        {"GPU row with bridge", allCapabilities, 12, 64, 12, false},
        {"GPU row 15 with bridge", allCapabilities, 15, 64, 15, false},
        {"SSE2 row without SSE2", noSse2NoBridge, 2, 64, 3, true},
        {"SSE2 row 5 without SSE2", noSse2NoBridge, 5, 64, 3, true},
        {"SSE2 row with SSE2", noBridge, 2, 64, 2, false},
        {"FFTW row 6", allCapabilities, 6, 64, 11, true},
        {"FFTW row 7", allCapabilities, 7, 64, 11, true},
        {"FFTW row 8", allCapabilities, 8, 64, 11, true},
        {"row 16 even with a bridge", allCapabilities, 16, 64, 11, true},
        {"two-sample row, odd length", noBridge, 2, 63, 3, true},
        {"two-sample row 5, odd length", noBridge, 5, 63, 3, true},
        {"one-sample row, odd length", noBridge, 1, 63, 1, false},
        {"row 17 has no test", noBridge, 17, 64, 17, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        CoreCnvl convolver(&pool, "select", 0, nullptr, c.valid);
        convolver.set__(c.requested, 128, c.length, 0, 0, 0);
        EXPECT_EQ(convolver.selectedMode(), c.selected);
        EXPECT_EQ(convolver.error(), c.error);
        // A later valid selection clears the flag.
        convolver.set__(0, 128, 64, 0, 0, 0);
        EXPECT_FALSE(convolver.error());
    }

    // The fallback target is tested too: an unusable default FFT mode gives 11.
    for (short defaultMode : {short(13), short(16), short(40), short(-2)}) {
        SCOPED_TRACE(testing::Message() << "default FFT mode " << defaultMode);
        CoreCnvl convolver(&pool, "default", 0, nullptr, noBridge);
        EXPECT_EQ(convolver.getdb(), 11);
        convolver.setdb(defaultMode);
        EXPECT_EQ(convolver.getdb(), defaultMode);
        convolver.set__(12, 128, 64, 0, 0, 0);
        EXPECT_EQ(convolver.selectedMode(), 11);
        EXPECT_TRUE(convolver.error());
    }
    CoreCnvl usableDefault(&pool, "default", 0, nullptr, noBridge);
    usableDefault.setdb(9);
    usableDefault.set__(6, 128, 64, 0, 0, 0);
    EXPECT_EQ(usableDefault.selectedMode(), 9);
    EXPECT_TRUE(usableDefault.error());
}

TEST(CoreCnvl, CapabilityAnswersPerRow) {
    CorePool pool;
    CoreCnvl withoutBridge(&pool, "rows", 0, nullptr, noBridge);
    CoreCnvl withBridge(&pool, "rows", 0, nullptr, allCapabilities);
    CoreCnvl withoutSse2(&pool, "rows", 0, nullptr, noSse2NoBridge);
    for (short id = -1; id <= 18; ++id) {
        SCOPED_TRACE(testing::Message() << "row " << id);
        const bool inTable = id >= 0 && id < 18;
        const bool fftw = id >= 6 && id <= 8;
        const bool gpu = id >= 12 && id <= 16;
        const bool sse2 = id == 2 || id == 5;
        EXPECT_EQ(withoutBridge.ldble(id), inTable && !fftw && !gpu);
        EXPECT_EQ(withBridge.ldble(id), inTable && !fftw && id != 16);
        EXPECT_EQ(withoutSse2.ldble(id), inTable && !fftw && !gpu && !sse2);
        const bool block = id >= 6 && id <= 16;
        EXPECT_EQ(withoutBridge.isfft(id), block);
        EXPECT_EQ(withoutBridge.getbe(id), block);
    }
    EXPECT_EQ(withoutBridge.getbv(), CoreAnsx("N/A"));

    // A bridge whose library is not there reports no version either.
    CoreCubr::setfn("/nonexistent/VoCuBr03.so", "/nonexistent/VoCuBr01.so");
    CoreCubr bridge;
    CoreCnvl detected(&pool, "detected", 0, &bridge);
    EXPECT_EQ(detected.getbv(), CoreAnsx("N/A"));
    EXPECT_TRUE(detected.ldble(2)); // SSE2 is detected on this machine
    EXPECT_FALSE(detected.ldble(12));
    detected.set__(12, 128, 64, 0, 0, 0);
    EXPECT_EQ(detected.selectedMode(), 11);
}

TEST(CoreCnvl, ModeOnlySelectionAndClearingTheSelection) {
    CorePool pool;
    const int64_t baseline = pool.getma();
    {
        CoreCnvl convolver(&pool, "modeonly", 0, nullptr, noBridge);
        EXPECT_EQ(convolver.set__(0, 64, 16, 0, 0, 16), 1);
        ASSERT_TRUE(convolver.plan_());
        const double* ring = convolver.ringL();
        std::vector<double> kernel = unitImpulse(16), in(5, 1.0), out(5);
        Block b(5);
        long fadeIndex = 0;
        std::vector<double> fade(1, 1.0);
        convolver.cnvsy(true, in.data(), in.data(), b.mixL.data(), b.mixR.data(), kernel.data(),
                        kernel.data(), b.dryL.data(), b.dryR.data(), b.convL.data(), b.convR.data(),
                        fade.data(), fadeIndex, 5, nullptr, nullptr);
        const int position = convolver.position();

        EXPECT_EQ(convolver.set__(2, -1, 16, 0, 0, 16), -1);
        EXPECT_EQ(convolver.selectedMode(), 2);
        EXPECT_EQ(convolver.getcb(), 1); // the step, routine and rings stay those of the plan
        EXPECT_EQ(convolver.ringL(), ring);
        EXPECT_EQ(convolver.position(), position);
        convolver.cnvsy(true, in.data(), in.data(), b.mixL.data(), b.mixR.data(), kernel.data(),
                        kernel.data(), b.dryL.data(), b.dryR.data(), b.convL.data(), b.convR.data(),
                        fade.data(), fadeIndex, 5, nullptr, nullptr);
        EXPECT_EQ(b.convL, in); // still playing
        EXPECT_EQ(convolver.set__(18, 0, 16, 0, 0, 16), -1);
        EXPECT_EQ(convolver.selectedMode(), 3);
        EXPECT_TRUE(convolver.error());

        convolver.set__();
        EXPECT_EQ(convolver.selectedMode(), -1);
        EXPECT_EQ(convolver.ringL(), nullptr);
        EXPECT_EQ(convolver.ringR(), nullptr);
        EXPECT_FALSE(convolver.error());
        EXPECT_EQ(pool.getma(), baseline);
    }
    EXPECT_EQ(pool.getma(), baseline);
}

TEST(CoreCnvl, PlanSizesZeroedRingsOnceAndLogsThePlayer) {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("cnvl_plan_" + std::to_string(::getpid()));
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    const CoreAnsx oldFolder = CoreLog_::getpt();
    const int16_t oldLevel = CoreLog_::getdb();
    CoreLog_::setpt(CoreAnsx((folder.string() + "/").c_str()));
    CoreLog_::setdb(2, false);

    CorePool pool;
    const int64_t baseline = pool.getma();
    {
        CoreCnvl convolver(&pool, "P1", 0, nullptr, noBridge);
        EXPECT_EQ(convolver.plan_(), false); // nothing selected yet
        convolver.set__(0, 64, 100, 7, 0, 100);
        ASSERT_TRUE(convolver.plan_());
        EXPECT_EQ(convolver.position(), 100);
        ASSERT_NE(convolver.ringL(), nullptr);
        ASSERT_NE(convolver.ringR(), nullptr);
        for (int i = 0; i < 300; ++i) {
            ASSERT_EQ(convolver.ringL()[i], 0.0);
            ASSERT_EQ(convolver.ringR()[i], 0.0);
        }
        EXPECT_EQ(pool.getma() - baseline, 2 * poolBytes(300));
        void* element = CoreCnvl::nwel1(nullptr, &pool, 10);
        pool.logdp();
        CoreCnvl::dlel1(nullptr, &pool, element);

        // Play something, then plan again with the same size: same blocks, zeroed, position reset.
        std::mt19937 generator(5);
        std::vector<double> kernel = randomSignal(generator, 100), in = randomSignal(generator, 37);
        Block b(37);
        std::vector<double> fade(1, 1.0);
        long fadeIndex = 0;
        convolver.cnvsy(true, in.data(), in.data(), b.mixL.data(), b.mixR.data(), kernel.data(),
                        kernel.data(), b.dryL.data(), b.dryR.data(), b.convL.data(), b.convR.data(),
                        fade.data(), fadeIndex, 37, nullptr, nullptr);
        const double* ring = convolver.ringL();
        ASSERT_TRUE(convolver.plan_());
        EXPECT_EQ(convolver.ringL(), ring);
        EXPECT_EQ(convolver.position(), 100);
        for (int i = 0; i < 300; ++i) ASSERT_EQ(convolver.ringL()[i], 0.0);

        // clear zeroes the rings without releasing them.
        convolver.cnvsy(true, in.data(), in.data(), b.mixL.data(), b.mixR.data(), kernel.data(),
                        kernel.data(), b.dryL.data(), b.dryR.data(), b.convL.data(), b.convR.data(),
                        fade.data(), fadeIndex, 37, nullptr, nullptr);
        convolver.clear();
        EXPECT_EQ(convolver.ringL(), ring);
        for (int i = 0; i < 300; ++i) ASSERT_EQ(convolver.ringL()[i], 0.0);

        // A new size replaces the rings.
        convolver.set__(0, 64, 50, 0, 0, 50);
        ASSERT_TRUE(convolver.plan_());
        EXPECT_EQ(pool.getma() - baseline, 2 * poolBytes(150));
        EXPECT_EQ(convolver.position(), 50);

        convolver.cleas();
        EXPECT_EQ(convolver.ringL(), nullptr);
        EXPECT_EQ(pool.getma(), baseline);
    }
    CoreLog_::setdb(oldLevel, false);
    CoreLog_::setpt(oldFolder);

    std::ifstream file(folder / CoreLog_::getfn().c_str());
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_NE(text.str().find("player P1: 100:7:100<"), std::string::npos) << text.str();
    EXPECT_NE(text.str().find("player P1: 50:7:50<"), std::string::npos);
    EXPECT_NE(text.str().find(" CNV0 300 "), std::string::npos);
    EXPECT_NE(text.str().find(" CNVL 10 "), std::string::npos);
    std::filesystem::remove_all(folder);
}

TEST(CoreCnvl, FirstBlockWithUnitImpulseIsTheInputScaledByTheFade) {
    CorePool pool;
    for (short mode : directModes) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        Player p(pool, mode, 32);
        std::mt19937 generator(mode);
        Block b(64);
        b.inL = randomSignal(generator, 64);
        b.inR = randomSignal(generator, 64);
        const std::vector<double> fade = randomSignal(generator, 64);
        const std::vector<double> kernel = unitImpulse(32);
        long fadeIndex = 63;
        const long result =
            p.convolver.cnvsy(true, b.inL.data(), b.inR.data(), b.mixL.data(), b.mixR.data(),
                              const_cast<double*>(kernel.data()), const_cast<double*>(kernel.data()),
                              b.dryL.data(), b.dryR.data(), b.convL.data(), b.convR.data(),
                              const_cast<double*>(fade.data()), fadeIndex, 64, nullptr, nullptr);
        EXPECT_EQ(fadeIndex, 63);
        EXPECT_EQ(result, -1);
        for (int j = 0; j < 64; ++j) {
            ASSERT_EQ(b.mixL[j], b.inL[j] * fade[63 - j]);
            ASSERT_EQ(b.mixR[j], b.inR[j] * fade[63 - j]);
        }
        EXPECT_EQ(b.dryL, b.inL);
        EXPECT_EQ(b.dryR, b.inR);
    }
}

TEST(CoreCnvl, CrossfadePlaysAcrossBlocksThenHoldsTheFirstStepEntries) {
    CorePool pool;
    const int count = 8;
    const int tableLength = 20; // two and a half blocks
    for (short mode : {short(0), short(2)}) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        const int step = mode == 2 ? 2 : 1;
        Player outgoing(pool, mode, 16);
        Player incoming(pool, mode, 16);
        std::vector<double> fadeOut(tableLength), fadeIn(tableLength);
        for (int i = 0; i < tableLength; ++i) {
            fadeOut[i] = 1.0 + i;        // read from the high index down
            fadeIn[i] = 1.0 / (2.0 + i); // distinct values everywhere
        }
        const std::vector<double> kernel = unitImpulse(16);
        double* k = const_cast<double*>(kernel.data());
        long fadeIndex = tableLength - 1;
        std::mt19937 generator(9);
        int played = 0;
        for (int block = 0; block < 3; ++block) {
            Block a(count), b(count);
            a.inL = randomSignal(generator, count);
            a.inR = randomSignal(generator, count);
            const long before = fadeIndex;
            outgoing.convolver.cnvsy(true, a.inL.data(), a.inR.data(), a.mixL.data(), a.mixR.data(), k, k,
                                     a.dryL.data(), a.dryR.data(), a.convL.data(), a.convR.data(),
                                     fadeOut.data(), fadeIndex, count, nullptr, nullptr);
            EXPECT_EQ(fadeIndex, before);
            EXPECT_EQ(a.dryL, a.inL);
            const long returned =
                incoming.convolver.cnvsy(false, a.inL.data(), a.inR.data(), a.mixL.data(), a.mixR.data(), k,
                                         k, b.dryL.data(), b.dryR.data(), b.convL.data(), b.convR.data(),
                                         fadeIn.data(), fadeIndex, count, nullptr, nullptr);
            EXPECT_EQ(returned, fadeIndex);
            for (int j = 0; j < count; ++j, ++played) {
                // The table plays down to 0, then cycles over its first step entries.
                const int over = played - tableLength;
                const int index = over < 0 ? tableLength - 1 - played : step - 1 - over % step;
                ASSERT_EQ(a.mixL[j], a.inL[j] * fadeOut[index] + a.inL[j] * fadeIn[index])
                    << "sample " << played;
                ASSERT_EQ(a.mixR[j], a.inR[j] * fadeOut[index] + a.inR[j] * fadeIn[index]);
            }
        }
    }
}

namespace {

// A row 17 that plays mode 0's routine as a timed mode, for the meter brackets.
void installTimedRow(CoreCnvl& convolver) {
    convolver.setcd(17, nullptr, true, CoreOpti::cnvs0, 1, false, false, false, false, false, false, 2,
                    nullptr, nullptr, nullptr, nullptr, nullptr, CoreCnvl::szel1, CoreCnvl::nwel1,
                    CoreCnvl::dlel1, CoreCnvl::copy1, CoreCnvl::adj_1, CoreCnvl::fade1, CoreCnvl::vmix1);
}

// Meter b measures time inside the routine calls: after a call, counting one unit must give a
// positive mean unless nothing was measured.
bool meterMeasured(CoreTime& meter) {
    meter.setms(1);
    return meter.getmp() > 0.0;
}

} // namespace

TEST(CoreCnvl, MetersBracketOnlyTimedModes) {
    CorePool pool;
    const int n = 512;
    std::mt19937 generator(17);
    std::vector<double> kernel = randomSignal(generator, n);
    Block b(n);
    b.inL = randomSignal(generator, n);
    b.inR = b.inL;
    std::vector<double> fade(1, 1.0);
    for (bool timed : {false, true}) {
        SCOPED_TRACE(timed ? "timed" : "untimed");
        CoreCnvl convolver(&pool, "meters", 0, nullptr, noBridge);
        if (timed) installTimedRow(convolver);
        convolver.set__(timed ? 17 : 0, 64, n, 0, 0, n);
        EXPECT_EQ(convolver.perfr(), !timed);
        ASSERT_TRUE(convolver.plan_());
        CoreTime outside, inside;
        outside.setmp(true);
        long fadeIndex = 0;
        convolver.cnvsy(true, b.inL.data(), b.inR.data(), b.mixL.data(), b.mixR.data(), kernel.data(),
                        kernel.data(), b.dryL.data(), b.dryR.data(), b.convL.data(), b.convR.data(),
                        fade.data(), fadeIndex, n, &outside, &inside);
        EXPECT_EQ(meterMeasured(inside), timed);
        EXPECT_EQ(meterMeasured(outside), timed);
        // Null meters are skipped.
        convolver.cnvsy(true, b.inL.data(), b.inR.data(), b.mixL.data(), b.mixR.data(), kernel.data(),
                        kernel.data(), b.dryL.data(), b.dryR.data(), b.convL.data(), b.convR.data(),
                        fade.data(), fadeIndex, n, nullptr, nullptr);
        convolver.cnvlc(b.inL.data(), b.inR.data(), b.convL.data(), b.convR.data(), kernel.data(),
                        kernel.data(), nullptr, &inside);
        EXPECT_EQ(meterMeasured(inside), timed);
    }
}

TEST(CoreCnvl, PowerChainConvolvesSuccessivePowersOfTheInput) {
    CorePool pool;
    const int n = 16;
    const int count = 24; // three blocks cross both ring wraps
    for (short mode : directModes) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        std::mt19937 generator(100 + mode);
        std::vector<std::unique_ptr<Player>> players;
        std::vector<std::vector<double>> kernelsL, kernelsR;
        for (int k = 0; k < 5; ++k) {
            players.push_back(std::make_unique<Player>(pool, mode, n));
            kernelsL.push_back(randomSignal(generator, n));
            kernelsR.push_back(randomSignal(generator, n));
        }
        const std::vector<double> xL = randomSignal(generator, 3 * count);
        const std::vector<double> xR = randomSignal(generator, 3 * count);
        std::vector<double> expectedL(3 * count, 0.0), expectedR(3 * count, 0.0);
        double toleranceL = 0.0, toleranceR = 0.0;
        for (int k = 0; k < 5; ++k) {
            std::vector<double> powerL(xL), powerR(xR);
            for (size_t i = 0; i < xL.size(); ++i) {
                powerL[i] = std::pow(xL[i], k + 1);
                powerR[i] = std::pow(xR[i], k + 1);
            }
            const std::vector<double> yL = naiveConvolution(powerL, kernelsL[k]);
            const std::vector<double> yR = naiveConvolution(powerR, kernelsR[k]);
            for (size_t i = 0; i < yL.size(); ++i) {
                expectedL[i] += yL[i];
                expectedR[i] += yR[i];
            }
            toleranceL += 1e-12 * sumOfMagnitudes(kernelsL[k]);
            toleranceR += 1e-12 * sumOfMagnitudes(kernelsR[k]);
        }

        std::vector<double> workL(count), workR(count), convL(count), convR(count), outL(count, 9.0),
            outR(count, 9.0);
        for (int block = 0; block < 3; ++block) {
            double* inL = const_cast<double*>(xL.data()) + block * count;
            double* inR = const_cast<double*>(xR.data()) + block * count;
            for (int k = 0; k < 5; ++k) {
                CoreCnvl& c = players[k]->convolver;
                c.vltry(false, k == 0, inL, inR, outL.data(), outR.data(), kernelsL[k].data(),
                        kernelsR[k].data(), workL.data(), workR.data(), convL.data(), convR.data(), count,
                        nullptr, nullptr);
                EXPECT_EQ(c.extension().callCounter, count / c.getcb());
            }
            for (int j = 0; j < count; ++j) {
                ASSERT_NEAR(outL[j], expectedL[block * count + j], toleranceL)
                    << "sample " << block * count + j;
                ASSERT_NEAR(outR[j], expectedR[block * count + j], toleranceR);
            }
        }
    }
}

TEST(CoreCnvl, FirstOrReplaceRestartsThePower) {
    CorePool pool;
    const int n = 8, count = 16;
    std::mt19937 generator(23);
    const std::vector<double> kernel = randomSignal(generator, n);
    std::vector<double> x = randomSignal(generator, count);
    const std::vector<double> single = naiveConvolution(x, kernel);
    double* k = const_cast<double*>(kernel.data());
    std::vector<double> workL(count), workR(count), convL(count), convR(count), outL(count), outR(count);

    // vltry(first = true, replace = false) adds x * k again; vltrr(true) replaces with x * k.
    Player a(pool, 3, n), b(pool, 3, n), c(pool, 3, n);
    a.convolver.vltry(true, true, x.data(), x.data(), outL.data(), outR.data(), k, k, workL.data(),
                      workR.data(), convL.data(), convR.data(), count, nullptr, nullptr);
    b.convolver.vltry(true, false, x.data(), x.data(), outL.data(), outR.data(), k, k, workL.data(),
                      workR.data(), convL.data(), convR.data(), count, nullptr, nullptr);
    for (int j = 0; j < count; ++j) ASSERT_NEAR(outL[j], 2.0 * single[j], 1e-12 * sumOfMagnitudes(kernel));
    c.convolver.vltrr(true, x.data(), x.data(), outL.data(), outR.data(), k, k, workL.data(), workR.data(),
                      convL.data(), convR.data(), count, nullptr, nullptr);
    for (int j = 0; j < count; ++j) ASSERT_NEAR(outL[j], single[j], 1e-12 * sumOfMagnitudes(kernel));
    EXPECT_EQ(workL, x);
    // The counter restarts in every call.
    c.convolver.vltrr(false, x.data(), x.data(), outL.data(), outR.data(), k, k, workL.data(), workR.data(),
                      convL.data(), convR.data(), count, nullptr, nullptr);
    EXPECT_EQ(c.convolver.extension().callCounter, count);
    for (int j = 0; j < count; ++j) ASSERT_EQ(workL[j], x[j] * x[j]);
}

namespace {
int routineCalls = 0;
long lastPosition = 0;
int countingRoutine(const double*, const double*, double* outL, double* outR, const void*, const void*,
                    double*, double*, long, long position, FFTEXTENSION* extension) {
    ++routineCalls;
    lastPosition = position;
    for (int j = 0; j < extension->block; ++j) outL[j] = outR[j] = 1.0;
    return 0;
}
} // namespace

TEST(CoreCnvl, BlockCallMakesOneRoutineCallAndAdvancesByTheStep) {
    CorePool pool;
    CoreCnvl convolver(&pool, "block", 0, nullptr, noBridge);
    convolver.setcd(17, nullptr, true, countingRoutine, -1, false, true, false, false, false, true, 128,
                    nullptr, nullptr, nullptr, nullptr, nullptr, CoreCnvl::szel1, CoreCnvl::nwel1,
                    CoreCnvl::dlel1, CoreCnvl::copy1, CoreCnvl::adj_1, CoreCnvl::fade1, CoreCnvl::vmix1);
    EXPECT_EQ(convolver.set__(17, 32, 64, 0, 0, 0), 32);
    ASSERT_TRUE(convolver.plan_());
    std::vector<double> in(32, 0.5), outL(32), outR(32);
    routineCalls = 0;
    for (int call = 0; call < 3; ++call) {
        convolver.cnvlc(in.data(), in.data(), outL.data(), outR.data(), nullptr, nullptr, nullptr, nullptr);
        EXPECT_EQ(routineCalls, call + 1);
        EXPECT_EQ(lastPosition, call == 2 ? 64 : 64 + 32 * call); // 128 wraps back to N
        EXPECT_EQ(convolver.position(), lastPosition + 32);
    }

    // cnvsc: one call per block too, then mixes step samples with the fade read downward.
    std::vector<double> mixL(32, 1.0), mixR(32, 1.0), convL(32), convR(32), fade(40);
    for (int i = 0; i < 40; ++i) fade[i] = i;
    long fadeIndex = -1;
    convolver.cnvsc(false, in.data(), in.data(), mixL.data(), mixR.data(), nullptr, nullptr, convL.data(),
                    convR.data(), fade.data(), fadeIndex, nullptr, nullptr);
    EXPECT_EQ(routineCalls, 4);
    EXPECT_EQ(fadeIndex, -1);
    for (int j = 0; j < 32; ++j) ASSERT_EQ(mixL[j], 1.0 + (31 - j));
    fadeIndex = 39;
    convolver.cnvsc(true, in.data(), in.data(), mixL.data(), mixR.data(), nullptr, nullptr, convL.data(),
                    convR.data(), fade.data(), fadeIndex, nullptr, nullptr);
    EXPECT_EQ(fadeIndex, 39);
    for (int j = 0; j < 32; ++j) ASSERT_EQ(mixR[j], 39.0 - j);
}

TEST(CoreCnvl, ElementCopyAdjustAndFade) {
    CorePool pool;
    const int64_t baseline = pool.getma();
    EXPECT_EQ(CoreCnvl::szel1(), 8);
    double* element = static_cast<double*>(CoreCnvl::nwel1(nullptr, &pool, 10));
    ASSERT_NE(element, nullptr);
    EXPECT_EQ(pool.getma() - baseline, poolBytes(10));
    for (int i = 0; i < 10; ++i) EXPECT_EQ(element[i], 0.0);

    // copy: null source zero-fills the range at the offset; flush runs over the values written only.
    for (int i = 0; i < 10; ++i) element[i] = -0.0;
    element[9] = 7.0;
    const double source[] = {1.0, -0.0, 1e-310, -2.0};
    CoreCnvl::copy1(nullptr, element, source, 4, false, 2, true);
    EXPECT_EQ(element[2], 1.0);
    EXPECT_FALSE(std::signbit(element[3]));
    EXPECT_EQ(element[4], 0.0);
    EXPECT_EQ(element[5], -2.0);
    EXPECT_TRUE(std::signbit(element[1])); // outside the range
    CoreCnvl::copy1(nullptr, element, source, 4, false, 2, false);
    EXPECT_EQ(element[4], 1e-310);
    CoreCnvl::copy1(nullptr, element, nullptr, 3, false, 6, false);
    EXPECT_EQ(element[6], 0.0);
    EXPECT_EQ(element[8], 0.0);
    EXPECT_EQ(element[9], 7.0);
    EXPECT_EQ(element[5], -2.0);

    // adjust scales and flushes both.
    double left[] = {1.0, -2.0, 1e-300};
    double right[] = {4.0, 1e-300, -0.5};
    CoreCnvl::adj_1(nullptr, left, right, 3, 1e-10);
    EXPECT_EQ(left[0], 1e-10);
    EXPECT_EQ(left[1], -2e-10);
    EXPECT_EQ(left[2], 0.0); // 1e-310 is a denormal
    EXPECT_EQ(right[1], 0.0);
    EXPECT_EQ(right[2], -0.5e-10);

    // fade: first nIn and last nOut; flushes all n only when a fade ran.
    const double envIn[] = {0.0, 0.5, 99.0, 99.0, 99.0, 99.0};
    const double envOut[] = {0.25, 0.125, 99.0, 99.0, 99.0, 99.0};
    double fadeL[] = {2.0, 2.0, 1e-310, 2.0, 2.0};
    double fadeR[] = {4.0, 4.0, 4.0, 4.0, 4.0};
    CoreCnvl::fade1(nullptr, 5, fadeL, fadeR, 0, envIn, 0, envOut);
    EXPECT_EQ(fadeL[2], 1e-310);
    CoreCnvl::fade1(nullptr, 5, fadeL, fadeR, 2, envIn, 2, envOut);
    EXPECT_EQ(std::vector<double>(fadeL, fadeL + 5), (std::vector<double>{0.0, 1.0, 0.0, 0.5, 0.25}));
    EXPECT_EQ(std::vector<double>(fadeR, fadeR + 5), (std::vector<double>{0.0, 2.0, 4.0, 1.0, 0.5}));
    // Lengths beyond n are clamped to n.
    double guardL[7] = {5.0, 1.0, 1.0, 1.0, 1.0, 1.0, 5.0};
    double guardR[7] = {5.0, 1.0, 1.0, 1.0, 1.0, 1.0, 5.0};
    CoreCnvl::fade1(nullptr, 5, guardL + 1, guardR + 1, 6, envIn, 0, envOut);
    EXPECT_EQ(std::vector<double>(guardL, guardL + 7),
              (std::vector<double>{5.0, 0.0, 0.5, 99.0, 99.0, 99.0, 5.0}));
    CoreCnvl::fade1(nullptr, 5, guardL + 1, guardR + 1, 0, envIn, 6, envOut);
    EXPECT_EQ(guardL[0], 5.0);
    EXPECT_EQ(guardL[6], 5.0);
    EXPECT_EQ(guardL[5], 99.0 * 99.0);

    CoreCnvl::dlel1(nullptr, &pool, element);
    CoreCnvl::dlel1(nullptr, &pool, nullptr);
    EXPECT_EQ(pool.getma(), baseline);
}

TEST(CoreCnvl, VectorMixFormsMatchHandComputedValues) {
    // Two sources of two samples each; destination starts at {1, 2} / {3, 4}.
    double s0L[] = {1.0, 2.0}, s0R[] = {10.0, 20.0};
    double s1L[] = {-1.0, 0.5}, s1R[] = {4.0, -8.0};
    void* srcL[] = {s0L, s1L};
    void* srcR[] = {s0R, s1R};
    VECTORMIXSTRUCT mix{2.0, 0.5, 1.0, 0.25, 0.125, 3.0, 10.0, 100.0, 1, 0};
    auto run = [&](bool skip, bool indexed, bool panned, std::vector<double>& l, std::vector<double>& r) {
        l = {1.0, 2.0};
        r = {3.0, 4.0};
        CoreCnvl::vmix1(nullptr, skip, indexed, panned, &mix, 2, 2, l.data(), r.data(), srcL, srcR);
    };
    std::vector<double> l, r;
    run(false, false, false, l, r); // dst x 0.5 + gain x (s0 + s1)
    EXPECT_EQ(l, (std::vector<double>{0.5 + 2.0 * (1.0 - 1.0), 1.0 + 2.0 * (2.0 + 0.5)}));
    EXPECT_EQ(r, (std::vector<double>{1.5 + 2.0 * (10.0 + 4.0), 2.0 + 2.0 * (20.0 - 8.0)}));
    run(false, false, true, l, r); // L += gain (LL sL + RL sR); R += gain (LR sL + RR sR)
    EXPECT_EQ(l[0], 0.5 + 2.0 * (1.0 * 1.0 + 0.125 * 10.0) + 2.0 * (1.0 * -1.0 + 0.125 * 4.0));
    EXPECT_EQ(r[1], 2.0 + 2.0 * (0.25 * 2.0 + 3.0 * 20.0) + 2.0 * (0.25 * 0.5 + 3.0 * -8.0));
    run(false, true, false, l, r); // element A = 1 with weight 10, element B = 0 with weight 100
    EXPECT_EQ(l, (std::vector<double>{0.5 + 10.0 * -1.0 + 100.0 * 1.0, 1.0 + 10.0 * 0.5 + 100.0 * 2.0}));
    EXPECT_EQ(r[0], 1.5 + 10.0 * 4.0 + 100.0 * 10.0);
    run(false, true, true, l, r); // the weights scale the matrix; the gain is not applied
    EXPECT_EQ(l[1], 1.0 + 10.0 * (1.0 * 0.5 + 0.125 * -8.0) + 100.0 * (1.0 * 2.0 + 0.125 * 20.0));
    EXPECT_EQ(r[0], 1.5 + 10.0 * (0.25 * -1.0 + 3.0 * 4.0) + 100.0 * (0.25 * 1.0 + 3.0 * 10.0));

    // Negative and too large element indexes are ignored.
    mix.elementA = -1;
    mix.elementB = 2;
    run(false, true, false, l, r);
    EXPECT_EQ(l, (std::vector<double>{0.5, 1.0}));
    mix.elementB = 1000000;
    run(false, true, true, l, r);
    EXPECT_EQ(r, (std::vector<double>{1.5, 2.0}));

    // Skip only flushes: values stay, denormals and -0.0 become +0.0.
    std::vector<double> skipL = {1.0, -0.0}, skipR = {1e-310, -3.0};
    CoreCnvl::vmix1(nullptr, true, false, false, &mix, 2, 2, skipL.data(), skipR.data(), srcL, srcR);
    EXPECT_EQ(skipL[0], 1.0);
    EXPECT_FALSE(std::signbit(skipL[1]));
    EXPECT_EQ(skipR, (std::vector<double>{0.0, -3.0}));

    // The result is flushed too.
    double tinyL[] = {1e-300}, tinyR[] = {0.0};
    double one[] = {0.0};
    void* tinySrcL[] = {one};
    void* tinySrcR[] = {one};
    VECTORMIXSTRUCT scaleDown{0.0, 1e-10, 0, 0, 0, 0, 0, 0, -1, -1};
    CoreCnvl::vmix1(nullptr, false, false, false, &scaleDown, 1, 1, tinyL, tinyR, tinySrcL, tinySrcR);
    EXPECT_EQ(tinyL[0], 0.0);
}

TEST(CoreCnvl, UnplannedOrFailedConvolverPlaysSilenceAndStillMixes) {
    CorePool pool;
    const int64_t baseline = pool.getma();
    const int count = 16;
    std::vector<double> kernel = unitImpulse(8);
    double* k = kernel.data();
    std::vector<double> fade(count, 2.0);
    auto expectSilence = [&](CoreCnvl& convolver, const char* what) {
        SCOPED_TRACE(what);
        Block b(count + 1);
        for (int j = 0; j <= count; ++j) {
            b.inL[j] = b.inR[j] = 1.0 + j;
            b.convL[j] = b.convR[j] = 55.0;
            b.mixL[j] = b.mixR[j] = 3.0;
        }
        long fadeIndex = count - 1;
        convolver.cnvsy(true, b.inL.data(), b.inR.data(), b.mixL.data(), b.mixR.data(), k, k, b.dryL.data(),
                        b.dryR.data(), b.convL.data(), b.convR.data(), fade.data(), fadeIndex, count, nullptr,
                        nullptr);
        for (int j = 0; j < count; ++j) {
            ASSERT_EQ(b.convL[j], 0.0);
            ASSERT_EQ(b.mixL[j], 0.0);
            ASSERT_EQ(b.dryR[j], b.inR[j]);
        }
        EXPECT_EQ(b.convL[count], 55.0);
        convolver.cnvsy(false, b.inL.data(), b.inR.data(), b.mixL.data(), b.mixR.data(), k, k, b.dryL.data(),
                        b.dryR.data(), b.convL.data(), b.convR.data(), fade.data(), fadeIndex, count, nullptr,
                        nullptr);
        EXPECT_EQ(b.mixL[0], 0.0);
        std::fill(b.mixL.begin(), b.mixL.end(), 3.0);
        std::vector<double> work(count), outL(count, 1.0), outR(count, 1.0);
        convolver.vltry(true, false, b.inL.data(), b.inR.data(), outL.data(), outR.data(), k, k, work.data(),
                        work.data(), b.convL.data(), b.convR.data(), count, nullptr, nullptr);
        EXPECT_EQ(outL, std::vector<double>(count, 1.0));
        EXPECT_EQ(work[3], 4.0);
        convolver.vltrr(true, b.inL.data(), b.inR.data(), outL.data(), outR.data(), k, k, work.data(),
                        work.data(), b.convL.data(), b.convR.data(), count, nullptr, nullptr);
        EXPECT_EQ(outL, std::vector<double>(count, 0.0));
        if (convolver.getcb() > 0) {
            const int step = convolver.getcb();
            std::vector<double> blockIn(step, 1.0), blockOut(step, 9.0), blockMix(step, 1.0);
            convolver.cnvlc(blockIn.data(), blockIn.data(), blockOut.data(), blockOut.data(), k, k, nullptr,
                            nullptr);
            EXPECT_EQ(blockOut, std::vector<double>(step, 0.0));
            std::fill(blockOut.begin(), blockOut.end(), 9.0);
            long blockFade = 0;
            std::vector<double> blockFadeTable(step, 1.0);
            convolver.cnvsc(false, blockIn.data(), blockIn.data(), blockMix.data(), blockMix.data(), k, k,
                            blockOut.data(), blockOut.data(), blockFadeTable.data(), blockFade, nullptr,
                            nullptr);
            EXPECT_EQ(blockOut, std::vector<double>(step, 0.0));
            EXPECT_EQ(blockMix, std::vector<double>(step, 1.0));
        }
    };
    {
        CoreCnvl never(&pool, "never", 0, nullptr, noBridge);
        expectSilence(never, "no mode selected");
        never.set__(0, 64, 8, 0, 0, 8);
        expectSilence(never, "selected, never planned");
        never.set__(0, 64, 0, 0, 0, 0);
        EXPECT_TRUE(never.plan_()); // N = 0: planned without rings
        expectSilence(never, "ring length zero");

        CoreCnvl failed(&pool, "failed", 0, nullptr, noBridge);
        failed.set__(0, 64, 8, 0, 0, 8);
        ASSERT_TRUE(failed.plan_());
        const double* ring = failed.ringL();
        failed.set__(9, 16, 8, 100, 0, 8); // F = 100 is no power of two: the FFT load fails
        EXPECT_FALSE(failed.plan_());
        EXPECT_EQ(failed.ringL(), ring); // rings unchanged
        expectSilence(failed, "failed plan");
        failed.set__(0, 64, 8, 0, 0, 8);
        ASSERT_TRUE(failed.plan_());
        failed.cleas();
        expectSilence(failed, "rings freed");
    }
    EXPECT_EQ(pool.getma(), baseline);
}

TEST(CoreCnvl, PartialStepRunsWholeStepsAndSilencesTheRest) {
    CorePool pool;
    const int64_t baseline = pool.getma();
    {
        Player p(pool, 2, 8);
        std::vector<double> kernel = unitImpulse(8);
        Block b(9);
        for (int j = 0; j < 9; ++j) {
            b.inL[j] = b.inR[j] = 1.0 + j;
            b.convL[j] = b.convR[j] = 55.0;
        }
        std::vector<double> fade(2, 1.0);
        long fadeIndex = 0;
        p.convolver.cnvsy(true, b.inL.data(), b.inR.data(), b.mixL.data(), b.mixR.data(), kernel.data(),
                          kernel.data(), b.dryL.data(), b.dryR.data(), b.convL.data(), b.convR.data(),
                          fade.data(), fadeIndex, 7, nullptr, nullptr);
        for (int j = 0; j < 6; ++j) EXPECT_EQ(b.convL[j], b.inL[j]);
        EXPECT_EQ(b.convL[6], 0.0);
        EXPECT_EQ(b.convR[6], 0.0);
        EXPECT_EQ(b.convL[7], 55.0);
        EXPECT_EQ(b.mixL[6], 0.0);
        EXPECT_EQ(b.dryL[6], 7.0);
        EXPECT_EQ(p.convolver.position(), 8 + 6);

        std::vector<double> work(9), out(9, 0.0);
        p.convolver.vltry(true, true, b.inL.data(), b.inR.data(), out.data(), out.data(), kernel.data(),
                          kernel.data(), work.data(), work.data(), b.convL.data(), b.convR.data(), 5, nullptr,
                          nullptr);
        EXPECT_EQ(p.convolver.extension().callCounter, 2);
        EXPECT_EQ(b.convL[4], 0.0);
        EXPECT_EQ(b.convL[5], 6.0); // past the count: still what the previous call wrote
    }
    EXPECT_EQ(pool.getma(), baseline);
}

namespace {
int unloadCalls = 0;
int commonUnloadCalls = 0;
bool trackedLoad(long, FFTSTRUCT* plan, FFTEXTENSION*, int, long&) {
    plan->loaded = true;
    return true;
}
void trackedUnload(FFTSTRUCT* plan, FFTEXTENSION*) {
    if (plan->loaded) ++unloadCalls;
    plan->loaded = false;
}
bool trackedCommonLoad(FFTSTRUCT*, FFTEXTENSION*, void*, short, long) {
    return true;
}
void trackedCommonUnload(FFTSTRUCT*, FFTEXTENSION*) {
    ++commonUnloadCalls;
}
void installTrackedRow(CoreCnvl& convolver) {
    convolver.setcd(17, nullptr, true, CoreOpti::cnvs0, 1, false, false, false, true, false, true, 2,
                    trackedLoad, trackedUnload, nullptr, trackedCommonLoad, trackedCommonUnload,
                    CoreCnvl::szel1, CoreCnvl::nwel1, CoreCnvl::dlel1, CoreCnvl::copy1, CoreCnvl::adj_1,
                    CoreCnvl::fade1, CoreCnvl::vmix1);
}
} // namespace

TEST(CoreCnvl, DestructorReleasesPlansStillHeld) {
    CorePool pool;
    const int64_t baseline = pool.getma();
    unloadCalls = commonUnloadCalls = 0;
    {
        CoreCnvl convolver(&pool, "forgotten", 0, nullptr, noBridge);
        installTrackedRow(convolver);
        convolver.set__(17, 64, 8, 0, 0, 8);
        ASSERT_TRUE(convolver.plan_());
        int buffer = 0;
        convolver.set_c(&buffer, 2, 16);
        EXPECT_TRUE(convolver.planc());
        EXPECT_EQ(convolver.grplc(), &buffer);
    }
    EXPECT_EQ(unloadCalls, 1);
    EXPECT_EQ(commonUnloadCalls, 1);

    // Released first by the owner: the destructor does not release again.
    unloadCalls = commonUnloadCalls = 0;
    {
        CoreCnvl convolver(&pool, "tidy", 0, nullptr, noBridge);
        installTrackedRow(convolver);
        convolver.set__(17, 64, 8, 0, 0, 8);
        ASSERT_TRUE(convolver.plan_());
        EXPECT_TRUE(convolver.planc());
        EXPECT_TRUE(convolver.planc()); // rebuilding releases the previous common plan
        EXPECT_EQ(commonUnloadCalls, 1);
        convolver.delpc();
        convolver.delpl();
        EXPECT_EQ(unloadCalls, 1);
        EXPECT_EQ(commonUnloadCalls, 2);
    }
    EXPECT_EQ(unloadCalls, 1);
    EXPECT_EQ(commonUnloadCalls, 2);
    EXPECT_EQ(pool.getma(), baseline);
}

TEST(CoreCnvl, CommonPlanRequestAndFlagsReachTheExtension) {
    CorePool pool;
    CoreCnvl convolver(&pool, "flags", 0, nullptr, noBridge);
    bool changed = true;
    convolver.setup(&changed);
    convolver.setms(true);
    convolver.setff(5);
    double buffer[4];
    convolver.setci(buffer, 2, 4);
    EXPECT_EQ(convolver.extension().kernelChanged, &changed);
    EXPECT_TRUE(convolver.extension().monoKernel);
    EXPECT_EQ(convolver.extension().tapIndex, 5);
    EXPECT_EQ(convolver.extension().commonBuffer, buffer);
    EXPECT_EQ(convolver.extension().commonMode, 2);
    convolver.set__(11, 128, 256, 0, 128, 1000);
    EXPECT_FALSE(convolver.extension().monoKernel); // set__ clears it
    int length = 0, step = 0;
    EXPECT_FALSE(convolver.getci(length, step));
    EXPECT_EQ(length, -1);
    EXPECT_EQ(step, 128);
    // Without an lcom callback planc has nothing to build.
    convolver.set__(0, 128, 16, 0, 0, 16);
    EXPECT_TRUE(convolver.planc());
}

TEST(CoreCnvl, BlockPathAllocatesNothing) {
    CorePool pool;
    const int n = 64, count = 128;
    std::mt19937 generator(31);
    std::vector<double> kernel = randomSignal(generator, n);
    Block b(count);
    b.inL = randomSignal(generator, count);
    b.inR = randomSignal(generator, count);
    std::vector<double> fade(count, 1.0), work(count * 2);
    for (short mode : directModes) {
        SCOPED_TRACE(testing::Message() << "mode " << mode);
        Player p(pool, mode, n, count);
        CoreTime a, m;
        const int64_t poolBefore = pool.getma();
        const int64_t peakBefore = pool.getxa();
        const long heapBefore = heapAllocations.load();
        for (int block = 0; block < 200; ++block) {
            long fadeIndex = count - 1;
            p.convolver.cnvsy(block % 2 == 0, b.inL.data(), b.inR.data(), b.mixL.data(), b.mixR.data(),
                              kernel.data(), kernel.data(), b.dryL.data(), b.dryR.data(), b.convL.data(),
                              b.convR.data(), fade.data(), fadeIndex, count, &a, &m);
            p.convolver.cnvlc(b.inL.data(), b.inR.data(), b.convL.data(), b.convR.data(), kernel.data(),
                              kernel.data(), &a, &m);
            p.convolver.vltry(block % 3 == 0, false, b.inL.data(), b.inR.data(), b.mixL.data(), b.mixR.data(),
                              kernel.data(), kernel.data(), work.data(), work.data() + count, b.convL.data(),
                              b.convR.data(), count, &a, &m);
            p.convolver.vltrr(block % 2 == 1, b.inL.data(), b.inR.data(), b.mixL.data(), b.mixR.data(),
                              kernel.data(), kernel.data(), work.data(), work.data() + count, b.convL.data(),
                              b.convR.data(), count, &a, &m);
        }
        EXPECT_EQ(heapAllocations.load(), heapBefore);
        EXPECT_EQ(pool.getma(), poolBefore);
        EXPECT_EQ(pool.getxa(), peakBefore);
    }
}
