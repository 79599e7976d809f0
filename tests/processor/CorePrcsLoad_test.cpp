// Program loading: every kind of slot through ldpdm/setpg, the fall-back to slot 0, what a load
// rebuilds, the control binding, failures that must leave every lock free and no freed kernel
// playing, and the audio thread meanwhile.
#include "processor/CorePrcs.h"

#include "HostBlocks.h"
#include "ProgramFolder.h"
#include "base/CoreSmph.h"
#include "convolution/CoreCnvl.h"
#include "filestore/CoreFsys.h"
#include "modulation/CoreIfce.h"
#include "program/CoreProg.h"
#include "tests/common/LogCapture.h"

#include <gtest/gtest.h>

#include "base/CoreLog_.h"
#include <atomic>
#include <cctype>
#include <tuple>
#include <thread>

namespace {

// Every table runs twice: on an engine without a master store, and as the plug-in builds it.
class CorePrcsLoad : public ProgramFolderTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        ProgramFolderTest::SetUp();
        asPlugin = GetParam();
    }
    // Records of the program store whose data is still in memory and names a WAV file (the INIT store
    // keeps what slot 0 read, by design).
    static int wavsInMemory(CorePrcs& e) {
        int count = 0;
        const CoreFsys& store = *e.getfs();
        for (int i = 0; i < store.getkn(); ++i) {
            int32_t id = -1;
            std::string name = store.llvel(i, id).c_str();
            for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            count += name.size() > 4 && name.compare(name.size() - 4, 4, ".WAV") == 0 && store.isvld(id);
        }
        return count;
    }
    // One host call of n frames of a constant; returns the left output.
    static std::vector<float> hostCall(CorePrcs& e, int32_t n, float value) {
        std::vector<float> inL(n, value), inR(n, value), outL(n, -9.0f), outR(n, -9.0f);
        void* in[2] = {inL.data(), inR.data()};
        void* out[2] = {outL.data(), outR.data()};
        e.prcss(in, out, n, true, 1, 120.0, false, 2);
        return outL;
    }
};

TEST_P(CorePrcsLoad, EverySlotLoadsOrFallsBackToSlotZero) {
    struct Row {
        int32_t slot;
        bool result, fallback;
        int32_t current, loaded;
        int16_t harmonics;
        const char* name;
        bool unopened = false; // logs a vector container it cannot open
    };
    constexpr int32_t kNoVectors = kOffsets + 4; // packed, its .Q7V in no folder
    const Row rows[] = {
        {kInit, true, false, kInit, kInit, 1, "Init"},
        {kThree, true, false, kThree, kThree, 3, "Three"},
        {kPacked, true, false, kPacked, kPacked, 3, "Packed"},
        {kBeside, true, false, kBeside, kBeside, 1, "Beside"},
        {kAlternative, true, false, kAlternative, kAlternative, 1, "Alt"},
        {kMissing, true, true, kMissing, kInit, 1, "Init"},
        {kEmpty, true, true, kEmpty, kInit, 1, "Init"},
        {kNoVectors, true, true, kNoVectors, kInit, 1, "Init", true},
        {-1, true, true, 0, kInit, 1, "Init"},
        {10000, true, true, 0, kInit, 1, "Init"},
    };
    auto e = loaded("<HDIM>3</HDIM>");
    ASSERT_FALSE(e->isfailed());
    pack(data() / "progs/LOST.Q7P", {{"LOST.XML", program("Lost", tag("H1", leaf("IMP.WAV")))}});
    ASSERT_TRUE(e->getmm()->loadl(kNoVectors, CoreAnsx("LOST.Q7P")));
    LogCapture log(1);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.slot);
        Access::stateChanged(*e).store(false);
        const size_t logged = log.text().size();
        EXPECT_EQ(e->setpg(r.slot, false), r.slot);
        EXPECT_EQ(log.text().find("cannot open the container", logged) != std::string::npos, r.unopened);
        EXPECT_EQ(e->getls(), r.loaded);
        EXPECT_EQ(Access::currentSlot(*e).load(), r.current);
        EXPECT_TRUE(Access::stateChanged(*e).load());
        EXPECT_EQ(std::string(Access::program(*e).getnm().c_str()), r.name);
        EXPECT_EQ(Access::harmonicsInUse(*e), r.harmonics);
        EXPECT_TRUE(Access::programReady(*e));
        EXPECT_TRUE(locksFree(*e));
        EXPECT_FALSE(e->getby());
        EXPECT_EQ(Access::loadFallback(*e), r.fallback);
        EXPECT_EQ(Access::quadRing(*e)[0], nullptr); // no program here uses the side chain
        EXPECT_EQ(Access::updatePeriod(*e), 3000);   // the master PROGRAMRATE
        EXPECT_FALSE(Access::ownRate(*e));
        EXPECT_EQ(wavsInMemory(*e), 0);
    }
    // A program with its own PROGRAMRATE updates at that period; the next one without goes back to the master's.
    writeText(data() / "progs/THREE.XML", program("Rated", tag("PROGRAMRATE", "2000") + tag("H1", leaf("H1.WAV"))));
    ASSERT_TRUE(e->getmm()->loads(CoreAnsx("fixture.xml"), 0, true));
    for (const auto& [slot, period, own] : {std::tuple{kThree, 2000, true}, {kInit, 3000, false}}) {
        SCOPED_TRACE(slot);
        ASSERT_TRUE(e->ldpdm(slot, false));
        EXPECT_EQ(Access::updatePeriod(*e), period);
        EXPECT_EQ(Access::ownRate(*e), own);
        EXPECT_EQ(wavsInMemory(*e), 0);
    }
}

// A packed program that is an item of the data container DATAPATH names (so on no disk folder) plays
// from the container, its vector container beside it there.
TEST_P(CorePrcsLoad, APackedProgramInTheDataContainerPlaysFromIt) {
    if (!asPlugin) GTEST_SKIP() << "only the master store reads the data container";
    writeFolder();
    const auto packed = [&](const std::vector<std::pair<std::string, std::string>>& items) {
        pack(root / "ITEM.Q7P", items); // the writer upper-cases the name
        const std::string bytes = bytesOf(root / "ITEM.Q7P");
        std::filesystem::remove(root / "ITEM.Q7P");
        return bytes;
    };
    const auto wav = [&](const std::string& name) { return bytesOf(data() / "vectors" / name); };
    pack(data() / "LIB.Q7X",
         {{"progs/INSIDE.Q7P", packed({{"INSIDE.XML", threeHarmonics("Inside")}})},
          {"vectors/INSIDE.Q7V", packed({{"H1.WAV", wav("H1.WAV")}, {"H2.WAV", wav("H2.WAV")}, {"H3.WAV", wav("H3.WAV")}})}});
    dataPath = (data() / "LIB.Q7X").string();
    auto e = loaded("<HDIM>3</HDIM>");
    ASSERT_FALSE(e->isfailed());
    ASSERT_TRUE(e->getmm()->loadl(kEmpty, CoreAnsx("INSIDE.Q7P")));
    EXPECT_TRUE(e->ldpdm(kEmpty, false));
    EXPECT_FALSE(Access::loadFallback(*e));
    EXPECT_EQ(e->getls(), kEmpty);
    EXPECT_EQ(std::string(Access::program(*e).getnm().c_str()), "Inside");
    EXPECT_EQ(Access::harmonicsInUse(*e), 3);
}

// The crossfade tables a load builds hold one update period in samples, plus the closing point; the
// pool's bytes tell what the two tables take.
TEST_P(CorePrcsLoad, FadeTablesHoldThePeriodInSamples) {
    struct Row {
        int32_t rate;
        int32_t period; // samples
    };
    const Row rows[] = {
        {44100, 132}, // the master PROGRAMRATE, 3000 µs, truncated
        {48000, 144},
    };
    writeFolder();
    writeText(data() / "progs/SMOOTH.XML",
              program("Smooth", tag("SMOOTH", "2") + tag("H1", leaf("IMP.WAV"))));
    for (const Row& r : rows) {
        SCOPED_TRACE(r.rate);
        auto e = loaded("", "fixture.xml", r.rate);
        ASSERT_TRUE(e->getmm()->loadl(kEmpty, CoreAnsx("SMOOTH.XML")));
        ASSERT_TRUE(e->ldpdm(kEmpty, false));
        ASSERT_FALSE(Access::loadFallback(*e));
        EXPECT_EQ(Access::periods(*e).normal, r.period);
        const int64_t held = pool.getma();
        Access::dropFades(*e);
        const int64_t tableBytes =
            static_cast<int64_t>(sizeof(double)) * (r.period + 1) + CorePool::iCoverhead;
        EXPECT_EQ(held - pool.getma(), 2 * tableBytes);
    }
}

// A load leaves the host entry to choose the period of the process level: the first offline block
// after it runs at the offline period, whether or not the kernels were converted to the engine's rate.
TEST_P(CorePrcsLoad, TheFirstOfflineBlockAfterALoadRunsAtTheOfflinePeriod) {
    struct Row {
        const char* file;
        bool converted;
    };
    const Row rows[] = {
        {"CONV.WAV", true}, // 44.1 kHz kernels, converted to the engine's 48 kHz
        {"H1.WAV", false},
    };
    writeFolder();
    Road::writeKernel(pool, data() / "vectors/CONV.WAV", kernel(0), kernel(0), 44100);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.file);
        writeText(data() / "progs/RATED.XML",
                  program("Rated", tag("PROGRAMRATE", "100000") + tag("H1", leaf(r.file))));
        auto e = loaded(tag("RATECONVERSION", "1000000") + tag("EXPORTAUDIOQUALITY", "4"));
        ASSERT_TRUE(e->getmm()->loadl(kEmpty, CoreAnsx("RATED.XML")));
        ASSERT_TRUE(e->ldpdm(kEmpty, false));
        ASSERT_FALSE(Access::loadFallback(*e));
        EXPECT_EQ(e->getbb(31, nullptr), r.converted);
        const Access::Periods periods = Access::periods(*e);
        ASSERT_LT(periods.offline, periods.normal);
        hostblocks::run(*e, hostblocks::Stereo(512, 0.25), hostblocks::fixedBlocks(512),
                        hostblocks::Output::doubleReplace, 4);
        EXPECT_EQ(Access::periods(*e).current, periods.offline);
        // The block itself counted down from an offline period.
        EXPECT_GT(Access::countdown(*e), 0);
        EXPECT_LE(Access::countdown(*e), periods.offline);
    }
}

TEST_P(CorePrcsLoad, HarmonicsInUseFollowHdimAndAnEmptySlotZeroFails) {
    auto e = loaded("<HDIM> 0 </HDIM>");
    ASSERT_TRUE(e->ldpdm(kThree, false));
    EXPECT_EQ(Access::harmonicsInUse(*e), 0);
    EXPECT_LT(Access::smooth(*e), 0);
    e->getmm()->clrpr(kInit);
    EXPECT_FALSE(e->ldpdm(kEmpty, false));
    EXPECT_TRUE(Access::loadFallback(*e));
    EXPECT_TRUE(locksFree(*e));
}

TEST_P(CorePrcsLoad, ControlsBindToTheFirstDisplayedParameterOfTheirNumber) {
    auto e = loaded();
    const std::string prm = [] {
        std::string all;
        // PRM1 and PRM3 both labelled 2 (the first wins), PRM2 labelled 1, PRM4 labelled 9 (no control).
        const char* labels[] = {"2", "1", "2", "9"};
        for (int p = 0; p < 4; ++p)
            all += tag("PRM" + std::to_string(p + 1), tag("LABEL", "P") + tag("PRELABEL", labels[p]));
        // PRM5 labelled 3 but hidden: control 2 stays unbound.
        all += tag("PRM5", tag("LABEL", "P") + tag("PRELABEL", "3") + tag("VISIBLE", " 0 "));
        return tag("DISPLAY", all);
    }();
    writeText(data() / "progs/THREE.XML", program("Bound", tag("H1", leaf("IMP.WAV")) + prm));
    ASSERT_TRUE(e->getmm()->loads(CoreAnsx("fixture.xml"), 0, true));
    ASSERT_TRUE(e->ldpdm(kThree, false));
    const int16_t expected[10] = {1, 0, -1, -1, -1, -1, -1, -1, -1, -1};
    for (int i = 0; i < 10; ++i) EXPECT_EQ(Access::program(*e).getif(i)->getcp(), expected[i]) << i;
}

TEST_P(CorePrcsLoad, FailuresLeaveLocksFreeAndNeverPlayFreedKernels) {
    auto e = loaded();
    ASSERT_TRUE(e->ldpdm(kThree, false));
    // A slot-0 container cut short: the error leaves ldpdm, the locks and the pass-through state stay as
    // they were.
    pack(data() / "progs/CUT.Q7P", {{"CUT.XML", program("Cut", tag("H1", leaf("IMP.WAV")))}});
    const std::string whole = bytesOf(data() / "progs/CUT.Q7P");
    writeText(data() / "progs/CUT.Q7V", bytesOf(data() / "progs/BESIDE.Q7V"));
    writeText(data() / "setups/cut.xml", tag("SETUP", tag("PROGRAM", tag("SEQUENCE", " 0 ") + tag("FILENAME", "CUT.Q7P"))));
    ASSERT_TRUE(e->getmm()->loads(CoreAnsx("cut.xml"), 0, true));
    // Cut in its blocks, or by 12 bytes in its table of contents only.
    for (const size_t kept : {whole.size() / 2, whole.size() - 12}) {
        SCOPED_TRACE(kept);
        writeText(data() / "progs/CUT.Q7P", whole.substr(0, kept));
        EXPECT_THROW(e->ldpdm(kEmpty, false), CoreAnsx);
        EXPECT_TRUE(locksFree(*e));
        EXPECT_FALSE(e->getby());
        hostCall(*e, 512, 0.5f);
    }
    e->getmm()->loads(CoreAnsx("fixture.xml"), 0, true);

    // Every plan refused: the load fails, program ready stays clear and the host path plays silence.
    e->setPlanFaultForTest([](int16_t) { return true; });
    EXPECT_FALSE(e->ldpdm(kThree, false));
    EXPECT_FALSE(Access::programReady(*e));
    EXPECT_TRUE(locksFree(*e));
    for (int call = 0; call < 6; ++call)
        for (float v : hostCall(*e, 512, 0.5f)) ASSERT_EQ(v, 0.0f);

    // The next good load plays again: the unit impulse passes the input through.
    e->setPlanFaultForTest(nullptr);
    ASSERT_TRUE(e->ldpdm(kInit, false));
    std::vector<float> out;
    for (int call = 0; call < 12; ++call) out = hostCall(*e, 512, 0.5f);
    EXPECT_NEAR(out.back(), 0.5f, 1e-6);
}

TEST_P(CorePrcsLoad, TheAudioThreadPlaysThroughWhileALoadHoldsTheEngineLock) {
    auto e = loaded();
    ASSERT_TRUE(e->ldpdm(kInit, false));
    std::atomic<int> calls{0};
    bool stalled = false;
    e->setStallHookForTest([&] {
        if (stalled) return;
        stalled = true;
        std::thread host([&] {
            for (int k = 0; k < 50; ++k) {
                const float value = 0.01f * static_cast<float>(k + 1);
                for (float v : hostCall(*e, 256, value)) ASSERT_EQ(v, value);
                calls.fetch_add(1);
            }
        });
        host.join();
    });
    EXPECT_TRUE(e->ldpdm(kThree, false));
    EXPECT_EQ(calls.load(), 50);
    EXPECT_TRUE(locksFree(*e));
}

INSTANTIATE_TEST_SUITE_P(StoreForms, CorePrcsLoad, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "AsPlugin" : "StoreLess"; });

} // namespace
