// The per-block update and the followers' feeds: the order in which a block's modulation flows through
// the source table into the kernels, what a refresh leaves alone, programs without trees, the played
// kernels, and an audio path that allocates and logs nothing.
#include "ProgramFixtures.h"
#include "tests/common/CountingAllocator.h"

namespace {

using namespace progtest;

// EVF1 drives LFO1's rate; FUN1 is LFO1; DNM1 compresses FUN1; ENV1's level follows DNM1; RAW1's
// position follows ENV1 and RAWFUN1 reads RAW1; H1 follows FUN1.
const std::string chain =
    "<PROGRAM>" +
    xml("EVF1{EXP=0 MINATTACK=100 MAXATTACK=100 MINRELEASE=100000 MAXRELEASE=100000} "
        "LFO1{MAXRATE=200 SOURCE=EVF1 SHAPE=Sine} FUN1{A=LFO1 FUN=a} "
        "DNM1{INPUTSOURCE=FUN1 THRESHOLDSOURCE=0.0 RATIOCOMSOURCE=-1.0 RANGELIMIT=24} "
        "ENV1{CONTROL{ACTIVSOURCE=ON} LEVEL{ATTACK=1 BREAK=1 SUSTAIN=1 "
        "COMMON{MODFACTOR=1 MODSOURCE=DNM1}} TIME{COMMON{MODFACTOR=1 MODSOURCE=ON}}} "
        "RAW1{ELEMENT{VECTOR{COMMON{MINVALUE=-1 MAXVALUE=1} ELEMENT{FILENAME=RAWA.CSV WEIGHT=-1} "
        "ELEMENT{FILENAME=RAWB.CSV WEIGHT=1}} CONTROL{SOURCE=ENV1}}} "
        "RAWFUN1{A=ON B=ON FUN=RSINGLE C=RAW1 D=RAW1} "
        "H1{ELEMENT{VECTOR{COMMON{MINVALUE=-1 MAXVALUE=1 OFFSET=400 FADEIN=300 LIQUIDFACTOR=50 "
        "OT1{LENGTH=20000 FADEOUT=5000}} ELEMENT{FILENAME=H2.WAV WEIGHT=-1} "
        "ELEMENT{FILENAME=PLATES/PLATEB.WAV WEIGHT=1}} CONTROL{SOURCE=FUN1}}}") +
    "</PROGRAM>";

class CoreProgUpdate : public LoadTest {
protected:
    std::unique_ptr<CoreProg> loaded(const std::string& text) {
        auto p = fresh(48000);
        EXPECT_TRUE(load(*p, text));
        return p;
    }
    static std::string kernel(CoreProg& p, int h) {
        return fingerprint(p.getli(h), Access::record(p, h).iKernellength);
    }
    // One block: 64 frames of a tone into the followers (the side chain too), then the update.
    static void block(CoreProg& p, bool feed, int at = 0) {
        for (int k = 0; feed && k < 64; ++k) {
            const double x = 0.8 * std::sin(0.05 * (64 * at + k));
            p.setef(x, x, x, x);
            p.setes(x, x);
        }
        p.updte(true, 64.0, 0.25, 120.0);
    }
};

TEST_F(CoreProgUpdate, OneCallCarriesAFollowersChangeThroughEveryModulatorIntoTheKernels) {
    // Had any step run before the one it reads, it would still see the quiet program's value. (A
    // follower takes its times at its first update.)
    auto fed = loaded(chain), quiet = loaded(chain);
    for (CoreProg* p : {fed.get(), quiet.get(), quiet.get()}) block(*p, false);
    block(*fed, true);
    for (const char* source : {"EVF1", "LFO1", "FUN1", "DNM1", "ENV1", "RAWFUN1"})
        EXPECT_NE(fed->getsc(source), quiet->getsc(source)) << source;
    EXPECT_NE(kernel(*fed, 0), kernel(*quiet, 0));
}

TEST_F(CoreProgUpdate, LevelSetsLstoAndARefreshMovesNoPhaseStageOrKernel) {
    auto p = loaded(chain);
    for (auto [level, lsto] : {std::pair{0.0, -1.0}, {-0.5, 0.0}, {1.0, 1.0}, {1e-310, -1.0}, {NAN, -1.0}}) {
        p->updte(true, 64.0, level, 120.0);
        EXPECT_EQ(p->getsc("LSTO"), lsto) << level;
    }
    for (int at = 0; at < 5; ++at) block(*p, true, at);
    const double lfo = p->getsc("LFO1"), env = p->getsc("ENV1");
    const std::string before = kernel(*p, 0);
    p->getif(0)->setvl(0.9, true);
    Access::record(*p, 0).pRoot->controlAt(4)->setsr("MIX1", -1.0, 1.0); // H1 now follows the control
    p->updte(false, 0.0, 0.0, 120.0);
    EXPECT_EQ(p->getsc("LFO1"), lfo);
    EXPECT_EQ(p->getsc("ENV1"), env);
    EXPECT_EQ(kernel(*p, 0), before);
    block(*p, false);
    EXPECT_NE(kernel(*p, 0), before);
}

TEST_F(CoreProgUpdate, ProgramsWithoutTreesRunTheirModulatorsAndTheHybridTreeOnlyOnTheAudioPath) {
    auto p = fresh(48000);
    p->updte(true, 64.0, 0.5, 120.0); // never loaded
    EXPECT_EQ(p->getsc("LSTO"), 0.0);
    ASSERT_TRUE(load(*p, fixtureText));
    EXPECT_FALSE(load(*p, "<PROGRAM>" + xml("LFO1{MINRATE=50 MAXRATE=50 SHAPE=Sine}") + "</PROGRAM>"));
    p->setrt(0); // a host that reports no rate: time stands still
    block(*p, true);
    EXPECT_EQ(p->getsc("LFO1"), 0.0);
    p->setrt(48000);
    block(*p, true);
    EXPECT_NE(p->getsc("LFO1"), 0.0);

    auto hybrid = loaded(programText("FORCEHYBRID=1 H1{ELEMENT{VECTOR{COMMON{MAXVALUE=1 OT1{LENGTH=5000} "
                                     "OT2{LENGTH=40000 FADEOUT=5000}} ELEMENT{FILENAME=H2.WAV} "
                                     "ELEMENT{FILENAME=PLATES/PLATEB.WAV WEIGHT=1}} CONTROL{SOURCE=MIX1}}}"));
    hybrid->setot(0, 0); // as the processor selects the stages of a hybrid program
    hybrid->setot(3, 1);
    block(*hybrid, false);
    const CoreProg::HLOC& r = Access::record(*hybrid, 3);
    const std::string still = kernel(*hybrid, 3);
    hybrid->getif(0)->setvl(0.7, true);
    hybrid->updte(false, 0.0, 0.0, 120.0);
    EXPECT_EQ(kernel(*hybrid, 3), still);
    block(*hybrid, false);
    EXPECT_NE(kernel(*hybrid, 3), still);
    // End-faded: the last value far below what the response's own decay leaves it.
    EXPECT_LT(std::fabs(hybrid->getli(3)[r.iThirdsize - 1]),
              1e-6 * std::fabs(hybrid->getli(3)[r.iThirdsize - r.iCut]));
    // Switched on without a hybrid record: only the trees that exist play.
    auto plain = loaded(fixtureText);
    plain->setfh(true);
    block(*plain, true);
}

TEST_F(CoreProgUpdate, TheSideChainFeedsOnlyTheFifthFollower) {
    for (const char* balance : {"0.0", "1"}) {
        auto p =
            loaded(programText("EVF1{OUTPUTBALANCE=-1} EVF5{OUTPUTBALANCE=" + std::string(balance) + "}"));
        for (int k = 0; k < 64; ++k) p->setes(0.9, 0.9);
        p->updte(true, 64.0, 0.0, 120.0);
        EXPECT_EQ(p->getsc("EVF1"), -1.0) << balance;
        // (a, b, 0, 0): the balance that listens to the outputs hears nothing.
        EXPECT_EQ(p->getsc("EVF5") > -1.0, std::string(balance) == "0.0") << balance;
        for (int k = 0; k < 64; ++k) p->setef(0.9, 0.9, 0.9, 0.9);
        p->updte(true, 64.0, 0.0, 120.0);
        EXPECT_GT(p->getsc("EVF1"), -1.0) << balance;
    }
}

TEST_F(CoreProgUpdate, PlayedKernelsAreTheEnvelopesTimesTheSmoothedMixAfterEveryCall) {
    // The processor selects the short stage; without that selection no output fade applies.
    auto faded = loaded(chain), plain = loaded(chain);
    faded->setot(0, 0);
    const CoreProg::HLOC& r = Access::record(*faded, 0);
    const auto* in = static_cast<const double*>(r.pFadeinenvelope);
    const auto* out = static_cast<const double*>(r.pFadeoutenvelope);
    ASSERT_LT(r.iFadein + r.iFadeout, r.iSecondsize);
    for (int at = 0; at < 5; ++at) {
        block(*faded, true, at);
        block(*plain, true, at);
        const double* a = faded->getli(0);
        const double* b = plain->getli(0);
        for (int i = 0; i < r.iKernellength; ++i) {
            double v = b[i];
            if (i < r.iFadein) v *= in[i];
            if (i >= r.iSecondsize - r.iFadeout && i < r.iSecondsize)
                v *= out[i - r.iSecondsize + r.iFadeout];
            ASSERT_NEAR(a[i], v, 1e-300) << at << " " << i;
        }
    }
}

TEST_F(CoreProgUpdate, BlocksAllocateNothingAndLogNothing) {
    auto p = loaded(chain);
    p->setot(0, 0);
    CoreLog_::setdb(9, false);
    block(*p, true);
    const size_t logged = log().size();
    const long heap = heapAllocations.load();
    const int64_t held = fixture.pool.getma(), peak = fixture.pool.getxa();
    for (int at = 0; at < 1000; ++at) block(*p, true, at);
    EXPECT_EQ(heapAllocations.load(), heap);
    EXPECT_EQ(fixture.pool.getma(), held);
    EXPECT_EQ(fixture.pool.getxa(), peak);
    EXPECT_EQ(log().size(), logged);
}

} // namespace
