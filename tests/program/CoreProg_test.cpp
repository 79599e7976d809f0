// The program object: construction (tables, modulators bound to their rows, controls, records),
// unloading and destruction with real vector trees, the accessors and their index checks.
#include "program/CoreProg.h"

#include "CoreProgTestAccess.h"
#include "base/CoreBlnk.h"
#include "base/CoreButl.h"
#include "base/CorePool.h"
#include "base/CoreTlst.h"
#include "convolution/CoreCnvl.h"
#include "convolution/CorePlel.h"
#include "convolution/CoreRvct.h"
#include "convolution/CoreVctr.h"
#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreIfce.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CoreParm.h"
#include "modulation/CorePrm_.h"
#include "modulation/CoreRfun.h"
#include "modulation/DataSrce.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <string>

namespace {

using Access = CoreProgTestAccess;

constexpr int32_t maxLookahead = 4800;
constexpr double sentinel = 0.123;

struct Fixture {
    CorePool pool;
    CoreBlnk blink;

    std::unique_ptr<CoreProg> make(int16_t capacity = 2, CorePlel* registry = nullptr) {
        return std::make_unique<CoreProg>(&pool, nullptr, capacity, CoreAnsx("VECTORS/"), 500000, 2000000,
                                          1000, maxLookahead, 256, 8192, 4096, &blink, registry);
    }
};

// Every row set to a value no modulator writes, so that the rows a step writes stand out.
void fillRows(CoreProg& p) {
    for (int i = 0; i < DataSrce::iCcount; ++i) p.upsrc(i, sentinel);
}

std::set<int> writtenRows(CoreProg& p) {
    std::set<int> rows;
    for (int i = 0; i < DataSrce::iCcount; ++i)
        if (p.getsr()->getis(i)->getvl() != sentinel) rows.insert(i);
    return rows;
}

// A leaf of two 64-sample kernel pairs registered with the registry through the convolver (whose
// element operations the vector uses), with its output kernels allocated.
CoreVctr* newLeaf(CorePool& pool, CorePlel* registry, CoreCnvl* convolver, DataSrce* sources,
                  const char* stem) {
    CoreAnsx names[2] = {CoreAnsx(stem) + CoreAnsx("A.WAV"), CoreAnsx(stem) + CoreAnsx("B.WAV")};
    double positions[2] = {0.0, 1.0};
    auto* leaf = new CoreVctr(&pool, registry, 0, convolver, true, 2, names, positions, nullptr, 0.0, 1.0,
                              nullptr, 0.0, 0.0, CoreAnsx(""), sources, 0.5, CoreAnsx(""), 0, 0, nullptr,
                              nullptr, false, 0, 0, true);
    for (int i = 0; i < 2; ++i) {
        void* left = nullptr;
        void* right = nullptr;
        leaf->newip(left, right, 64);
        leaf->setip(i, static_cast<double*>(left), static_cast<double*>(right), names[i], 64, 0, 0, 0, leaf,
                    0);
    }
    leaf->chncp(64, 64, 64);
    return leaf;
}

// A two-level tree in record h as the reader and kernel preparation would leave it.
void fillRecord(CoreProg& p, CorePool& pool, CoreCnvl* convolver, int h) {
    CorePlel* registry = Access::registry(p);
    CoreVctr* leaves[2] = {newLeaf(pool, registry, convolver, p.getsr(), "L"),
                           newLeaf(pool, registry, convolver, p.getsr(), "R")};
    CoreAnsx names[2] = {CoreAnsx("LEFT"), CoreAnsx("RIGHT")};
    double positions[2] = {0.0, 1.0};
    auto* root = new CoreVctr(&pool, registry, static_cast<short>(h), convolver, false, 2, names, positions,
                              leaves, 0.0, 1.0, nullptr, 0.0, 0.0, CoreAnsx(""), p.getsr(), 0.5, CoreAnsx(""),
                              0, 0, nullptr, nullptr, false, 0, 0, true);
    root->chncp(64, 64, 64);
    CoreProg::HLOC& record = Access::record(p, h);
    record.bValid = true;
    record.pRoot = root;
    record.pLeafvectors->Add(leaves[0]);
    record.pLeafvectors->Add(leaves[1]);
    record.pCorevectors->Add(root);
    record.iKernellength = 64;
    record.iSecondsize = 32;
    record.iThirdsize = 64;
    record.bChanged = true;
    record.bFadesbuilt = true;
    record.pFadeinenvelope = root->newfi(8);
    record.pFadeoutenvelope = root->newfo(8);
    record.pEndfadeenvelope = root->newfe(8);
    record.pEnvelopeinuse = record.pEndfadeenvelope;
    record.pCurrentleft = static_cast<double*>(root->getlc());
    record.pCurrentright = static_cast<double*>(root->getrc());
}

void fillRaw(CoreProg& p, CorePool& pool, int r) {
    CoreAnsx names[2] = {CoreAnsx("X.CSV"), CoreAnsx("Y.CSV")};
    double positions[2] = {0.0, 1.0};
    auto* root = new CoreRvct(&pool, Access::registry(p), true, 2, names, nullptr, positions, 0.0, 1.0,
                              nullptr, 0.0, 0.0, p.getsr(), 0.5, CoreAnsx(""));
    double first[3] = {0.1, 0.2, 0.3};
    double second[2] = {0.5, 0.6};
    double* arrays[2] = {first, second};
    int lengths[2] = {3, 2};
    root->setre(16, arrays, lengths);
    CoreProg::RAWLOC& raw = Access::raw(p, r);
    raw.bActive = true;
    raw.pRoot = root;
    raw.pLeafvectors->Add(root);
}

// Every user parameter defined, so that a reset is visible.
void defineParameters(CoreProg& p) {
    for (int16_t i = 0; i < CoreProg::iCparameters; ++i)
        p.getpm(i)->setvl(true, CoreAnsx("ON"), CoreAnsx(""), CoreAnsx("a"), CoreAnsx("Level"), CoreAnsx(""),
                          CoreAnsx("dB"), CoreAnsx(""), CoreAnsx(""), -10.0, 10.0, -10.0, 10.0);
}

CoreCnvl::VALIDSTRUCT cpuOnly() {
    CoreCnvl::VALIDSTRUCT valid;
    valid.sse2 = true;
    valid.ffw = false;
    valid.cda = false;
    return valid;
}

// ---- construction ----------------------------------------------------------------------------------

TEST(CoreProg, FreshProgramHasItsDefaults) {
    Fixture f;
    auto p = f.make();
    EXPECT_EQ(p->getpr(), -1);
    EXPECT_EQ(Access::programRate(*p), CoreButl::iCdefaultrate);
    EXPECT_EQ(Access::vectorFileName(*p), CoreAnsx("0"));
    EXPECT_EQ(Access::vectorFolder(*p), CoreAnsx("VECTORS/"));
    EXPECT_EQ(Access::blockCap(*p), 4096);
    EXPECT_EQ(Access::minimumBlock(*p), 0);
    EXPECT_EQ(p->gethc(true), 0);
    EXPECT_EQ(p->getnm(), CoreAnsx(""));
    EXPECT_EQ(p->getds(), CoreAnsx(""));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(p->getct(i), CoreAnsx(""));
    EXPECT_FALSE(Access::loaded(*p));
    EXPECT_FALSE(Access::prepared(*p));
    EXPECT_FALSE(p->getnc());
    EXPECT_LT(p->getst(), 0);

    const struct {
        int row;
        double value;
    } presets[] = {{83, 1.0}, {0, -1.0}, {48, -1.0}, {49, -1.0}, {50, -1.0}, {51, -1.0}};
    for (const auto& preset : presets)
        EXPECT_EQ(p->getsr()->getis(preset.row)->getvl(), preset.value) << preset.row;
    EXPECT_EQ(p->getsc(CoreAnsx("ON")), 1.0);
    EXPECT_EQ(p->getsc(CoreAnsx("NOSUCHKEY")), -1.0); // the OFF row
}

TEST(CoreProg, CapacityGivesOneRecordPerHarmonicPlusTheHybridRecord) {
    for (int16_t capacity : {0, 1, 10}) {
        Fixture f;
        auto p = f.make(capacity);
        ASSERT_EQ(Access::capacity(*p), capacity);
        for (int h = 0; h <= capacity; ++h) {
            const CoreProg::HLOC& record = Access::record(*p, h);
            EXPECT_FALSE(record.bValid);
            EXPECT_FALSE(record.bChanged);
            EXPECT_FALSE(record.bFadesbuilt);
            EXPECT_EQ(record.pRoot, nullptr);
            EXPECT_EQ(record.pCurrentleft, nullptr);
            EXPECT_EQ(record.pSecondaryleft, nullptr);
            EXPECT_EQ(record.pEnvelopeinuse, nullptr);
            ASSERT_NE(record.pLeafvectors, nullptr);
            ASSERT_NE(record.pCorevectors, nullptr);
            EXPECT_EQ(record.pLeafvectors->Count, 0);
            EXPECT_EQ(record.pCorevectors->Count, 0);
            EXPECT_GE(record.pLeafvectors->Capacity, CoreProg::iCleafvectors);
            EXPECT_GE(record.pCorevectors->Capacity, CoreProg::iCcorevectors);
        }
        // A record beyond the hybrid one does not exist for any accessor.
        p->setn3(static_cast<int16_t>(capacity + 1), true);
        EXPECT_FALSE(p->getn3(static_cast<int16_t>(capacity + 1)));
        for (int r = 0; r < CoreProg::iCraws; ++r) {
            const CoreProg::RAWLOC& raw = Access::raw(*p, r);
            EXPECT_EQ(raw.sName, CoreAnsx("RAW") + CoreAnsx(r + 1));
            EXPECT_FALSE(raw.bActive);
            EXPECT_EQ(raw.pRoot, nullptr);
            ASSERT_NE(raw.pLeafvectors, nullptr);
            ASSERT_NE(raw.pCorevectors, nullptr);
            EXPECT_GE(raw.pCorevectors->Capacity, CoreProg::iCcorevectors);
        }
    }
}

TEST(CoreProg, NegativeCapacityIsRefusedBeforeAnythingIsAllocated) {
    Fixture f;
    const int64_t before = f.pool.getma();
    try {
        (void)f.make(-1);
        FAIL() << "no exception";
    } catch (const CoreAnsx& message) {
        EXPECT_GT(message.Length(), 0);
        EXPECT_GT(message.Pos(CoreAnsx("capacity")), 0);
    }
    EXPECT_EQ(f.pool.getma(), before);
}

TEST(CoreProg, FrontPanelControlsFollowTheirTable) {
    const struct {
        int slot;
        const char* label;
        const char* unit;
        double min;
        double max;
        double initial;
        bool led;
        int row;
    } controls[] = {
        {0, "Mix 1", "", -1.0, 1.0, 0.0, true, 19},     {1, "Mix 2", "", -1.0, 1.0, 0.0, true, 20},
        {2, "Mix 3", "", -1.0, 1.0, 0.0, true, 21},     {3, "Mix 4", "", -1.0, 1.0, 0.0, true, 22},
        {4, "Mix 5", "", -1.0, 1.0, 0.0, true, 23},     {5, "Mix 6", "", -1.0, 1.0, 0.0, true, 24},
        {6, "Mix 7", "", -1.0, 1.0, 0.0, true, 25},     {7, "Mix 8", "", -1.0, 1.0, 0.0, true, 26},
        {8, "Gain in", "dB", 0.0, 1.0, 1.0, false, 28}, {9, "Gain out", "dB", 0.0, 1.0, 1.0, false, 29},
    };
    Fixture f;
    auto p = f.make();
    for (const auto& c : controls) {
        CoreIfce* control = p->getif(c.slot);
        ASSERT_NE(control, nullptr) << c.slot;
        if (c.slot < CoreProg::iCmixes) {
            EXPECT_EQ(p->getmx(static_cast<int16_t>(c.slot)), control);
        }
        EXPECT_EQ(control->getlb(), CoreAnsx(c.label));
        EXPECT_EQ(control->getun(), CoreAnsx(c.unit));
        EXPECT_EQ(control->getiv(true), c.initial) << c.slot;

        fillRows(*p);
        control->setvl(1.0, true);
        EXPECT_EQ(writtenRows(*p), std::set<int>{c.row}) << c.slot;
        EXPECT_EQ(p->getsr()->getis(c.row)->getvl(), c.max) << c.slot;
        control->setvl(0.0, true);
        EXPECT_EQ(p->getsr()->getis(c.row)->getvl(), c.min) << c.slot;
        // Right after a change the LED is steady (never dark) when the control has one.
        EXPECT_EQ(control->getml() != 0, c.led) << c.slot;
    }
}

TEST(CoreProg, BoundControlsStartUnboundWithTheRangeZeroToOne) {
    Fixture f;
    auto p = f.make();
    CoreParm* bound[] = {Access::feedbackControl(*p), Access::dryControl(*p), Access::lookaheadControl(*p),
                         Access::inputTrim(*p), Access::outputTrim(*p)};
    for (CoreParm* control : bound) {
        ASSERT_NE(control, nullptr);
        EXPECT_EQ(control->getbl(), 0.0);
        EXPECT_EQ(control->getbu(), 1.0);
        EXPECT_FALSE(control->actve());
        EXPECT_EQ(control->getvl(), 0.0); // follows OFF (-1.0): the lower bound
    }
}

TEST(CoreProg, EveryModulatorWritesOnlyItsOwnRows) {
    Fixture f;
    auto p = f.make();
    const CoreAnsx none("");
    const double levels[4] = {0.0, 1.0, 0.5, 0.5};
    const int32_t times[4] = {10, 10, 10, 10};
    const int16_t curves[4] = {0, 0, 0, 0};
    double rawValues[4] = {0.1, 0.9, 0.4, 0.7};
    auto follower = [&](int16_t i, bool timingOutputs) {
        CoreEnvf* evf = p->getef(i);
        evf->setvl(1, 100, none, 1, 1000, none, -1.0, 0, false, none, false, CoreAnsx("OFF"), CoreAnsx("OFF"),
                   timingOutputs, 44100.0, false, none, none, false, 0.0, 1, none);
        for (int n = 0; n < 64; ++n) evf->setei(0.5, 0.5, 0.5, 0.5);
        evf->updte();
    };
    const struct {
        const char* name;
        std::function<void()> step;
        std::set<int> rows;
    } cases[] = {
        {"LFO3",
         [&] {
             p->getlf(2)->setvl(1.0, 1.0, 0.0, none, CoreAnsx("Sine"), 0.0, none);
             p->getlf(2)->updte(0.01, 120.0);
         },
         {3, 62}},
        {"FUN8",
         [&] {
             p->getfn(7)->setvl(CoreAnsx("0.5"), none, CoreAnsx("a"));
             p->getfn(7)->updte();
         },
         {12}},
        {"PRM13",
         [&] {
             p->getpm(12)->setvl(true, CoreAnsx("0.5"), none, CoreAnsx("a"), CoreAnsx("P"), none, none, none,
                                 none, 0.0, 1.0, 0.0, 1.0);
             p->getpm(12)->updte();
         },
         {70}},
        {"EVF4", [&] { follower(3, true); }, {33, 77, 81}},
        {"EVF5", [&] { follower(4, false); }, {82}},
        {"EVF5 with timing outputs", [&] { follower(4, true); }, {82}},
        {"DNM2",
         [&] {
             p->getdy(1)->setvl(CoreAnsx("-0.5"), CoreAnsx("ON"), true, CoreAnsx("0.5"), false, -1, 100.0,
                                0.0);
             p->getdy(1)->updte();
         },
         {35}},
        {"ENV2",
         [&] {
             p->geten(1)->setvl(CoreAnsx("ON"), none, levels, times, curves, 1.0, none, 1.0, none);
             p->geten(1)->updte(5.0);
         },
         {14}},
        {"RAWFUN1",
         [&] {
             CoreRfun* raw = Access::rawFunction(*p, 0);
             raw->setvl(CoreAnsx("ON"), CoreAnsx("ON"), CoreAnsx("RAW1"), CoreAnsx("RAW2"),
                        CoreAnsx("RMULTI"), 44100, 0.0);
             raw->setvl(0, rawValues, 4);
             raw->setvl(1, rawValues, 4);
             raw->updte(0.25);
         },
         {66}},
    };
    for (const auto& c : cases) {
        fillRows(*p);
        c.step();
        EXPECT_EQ(writtenRows(*p), c.rows) << c.name;
    }
}

TEST(CoreProg, FifthFollowerLeavesOffAtMinusOne) {
    Fixture f;
    auto p = f.make();
    const CoreAnsx none("");
    CoreEnvf* evf = p->getef(4);
    evf->setvl(1, 100, none, 1, 1000, none, -1.0, 0, false, none, false, CoreAnsx("OFF"), CoreAnsx("OFF"),
               true, 44100.0, false, none, none, false, 0.0, 1, none);
    for (int block = 0; block < 4; ++block) {
        for (int n = 0; n < 64; ++n) evf->setei(0.9, 0.9, 0.9, 0.9);
        evf->updte();
    }
    EXPECT_TRUE(p->isqpr());
    EXPECT_EQ(p->getsr()->getis(0)->getvl(), -1.0);
    EXPECT_NE(p->getsr()->getis(82)->getvl(), -1.0);
}

TEST(CoreProg, KeepsAGivenRegistryAndOwnsItsOwn) {
    Fixture f;
    {
        auto own = f.make();
        EXPECT_FALSE(Access::sharedRegistry(*own));
        EXPECT_NE(Access::registry(*own), nullptr); // deleted with the program (LeakSanitizer)
    }
    CorePlel shared(&f.pool);
    {
        auto p = f.make(2, &shared);
        EXPECT_TRUE(Access::sharedRegistry(*p));
        EXPECT_EQ(Access::registry(*p), &shared);
        CorePlel::GroupGuard group(&shared, CoreAnsx("EMPTY"), true);
    }
    // Still alive, and the program collected the empty group on its way out.
    EXPECT_EQ(shared.groups(), 0);
    CorePlel::GroupGuard again(&shared, CoreAnsx("NEXT"), true);
    EXPECT_TRUE(shared.ingrp());
}

// ---- unload and destruction ------------------------------------------------------------------------------

TEST(CoreProg, UnloadOfANeverLoadedProgramResetsOnlyTheHeader) {
    Fixture f;
    auto p = f.make();
    p->setnm(CoreAnsx("Hall"));
    for (int i = 0; i < 3; ++i) p->setct(CoreAnsx("Cat") + CoreAnsx(i), i);
    p->setds(CoreAnsx("Large hall"));
    p->setvf(CoreAnsx("HALL.Q7V"));
    p->setff(0.4);
    p->setfs(CoreAnsx("MIX1"));
    p->setua(2000);
    p->setst(3);
    p->setsh(2);
    defineParameters(*p);
    for (int round = 0; round < 2; ++round) {
        p->uload();
        EXPECT_EQ(p->getnm(), CoreAnsx("Hall"));
        for (int i = 0; i < 3; ++i) EXPECT_EQ(p->getct(i), CoreAnsx(""));
        EXPECT_EQ(p->getds(), CoreAnsx(""));
        EXPECT_EQ(Access::vectorFileName(*p), CoreAnsx("0"));
        EXPECT_EQ(p->getff(), 0.4);
        EXPECT_EQ(p->getfs(), CoreAnsx("MIX1"));
        EXPECT_EQ(p->getua(), 2000);
        EXPECT_EQ(p->getst(), 3);
        EXPECT_EQ(p->getsh(), 2);
        EXPECT_TRUE(p->getpm(0)->isdis());
    }
}

TEST(CoreProg, DestructionReleasesVectorsBeforeCollectingTheRegistry) {
    Fixture f;
    CoreCnvl convolver(&f.pool, CoreAnsx("TEST"), 0, nullptr, cpuOnly());
    CorePlel shared(&f.pool);
    const int64_t baseline = f.pool.getma();
    for (bool loaded : {true, false}) {
        auto p = f.make(1, &shared);
        {
            CorePlel::GroupGuard group(&shared, CoreAnsx("PROGRAM"), true);
            fillRecord(*p, f.pool, &convolver, 0);
            fillRaw(*p, f.pool, 2);
        }
        ASSERT_GT(shared.count(), 0);
        // Not loaded: a tree the reader left behind is released all the same.
        Access::loaded(*p) = loaded;
        p.reset();
        EXPECT_EQ(shared.count(), 0) << loaded;
        EXPECT_EQ(shared.groups(), 0) << loaded; // collected after its records were released
        EXPECT_EQ(f.pool.getma(), baseline) << loaded;
    }
}

TEST(CoreProg, ConstructorThatFailsPartWayReleasesWhatItBuilt) {
    // The followers take their buffers from the pool: fail the k-th request for each of them.
    for (int failAt = 0; failAt < CoreProg::iCfollowers; ++failAt) {
        CorePool pool;
        CoreBlnk blink;
        int requests = 0;
        pool.pause = [](int) {};
        pool.allocator = [&](size_t bytes) -> void* {
            if (requests++ >= failAt) return nullptr;
            return std::aligned_alloc(CorePool::iCalignment, bytes);
        };
        EXPECT_THROW(CoreProg(&pool, nullptr, 3, CoreAnsx("V/"), 0, 0, 0, 0, 0, 0, 4096, &blink, nullptr),
                     CoreAnsx)
            << failAt;
        EXPECT_EQ(pool.getma(), 0) << failAt;
    }
}

// ---- accessors
// ---------------------------------------------------------------------------------------------

TEST(CoreProg, PlainSettersAndGettersRoundTrip) {
    Fixture f;
    auto p = f.make();
    const struct {
        const char* name;
        std::function<void()> set;
        std::function<bool()> check;
    } cases[] = {
        {"ff", [&] { p->setff(0.35); }, [&] { return p->getff() == 0.35 && p->hasfb(); }},
        {"ff zero", [&] { p->setff(0.0); }, [&] { return !p->hasfb(); }},
        {"dr", [&] { p->setdr(0.7); }, [&] { return p->getdr() == 0.7; }},
        {"pi", [&] { p->setpi(1.5); }, [&] { return p->getpi() == 1.5; }},
        {"po", [&] { p->setpo(0.25); }, [&] { return p->getpo() == 0.25; }},
        {"ua", [&] { p->setua(-1500); }, [&] { return p->getua() == -1500; }},
        {"st", [&] { p->setst(0); }, [&] { return p->getst() == 0; }},
        {"sh", [&] { p->setsh(4); }, [&] { return p->getsh() == 4; }},
        {"f2", [&] { p->setf2(true); }, [&] { return p->getf2(); }},
        {"fi", [&] { p->setfi(true); }, [&] { return p->getfi(); }},
        {"fm", [&] { p->setfm(true); }, [&] { return p->getfm(); }},
        {"ds", [&] { p->setds(CoreAnsx("Desc")); }, [&] { return p->getds() == CoreAnsx("Desc"); }},
        {"ct", [&] { p->setct(CoreAnsx("Sub2"), 2); }, [&] { return p->getct(2) == CoreAnsx("Sub2"); }},
        {"rt", [&] { p->setrt(48000); }, [&] { return Access::programRate(*p) == 48000; }},
        {"rc", [&] { p->setrc(3000000); }, [&] { return Access::rateConversion(*p) == 3000000; }},
        {"mp", [&] { p->setmp(64); }, [&] { return Access::minimumBlock(*p) == 64; }},
        {"vr", [&] { p->setvr(); }, [&] { return Access::vr(*p); }},
        {"nm", [&] { p->setnm(CoreAnsx("N")); }, [&] { return p->getnm() == CoreAnsx("N") && p->getnc(); }},
        {"vf", [&] { p->setvf(CoreAnsx("N.Q7V")); },
         [&] { return Access::vectorFileName(*p) == CoreAnsx("N.Q7V") && !p->getnc(); }},
    };
    for (const auto& c : cases) {
        c.set();
        EXPECT_TRUE(c.check()) << c.name;
    }
    EXPECT_EQ(p->getsz(), 0.0);
    EXPECT_EQ(p->getsm(), 0);
    EXPECT_EQ(p->getof(), 0);
    EXPECT_EQ(p->getfr(), 0);
    EXPECT_EQ(p->getcr(), 0);
    EXPECT_NE(p->getgf(), nullptr);
}

TEST(CoreProg, HarmonicCountHonoursHdimUnlessAllAreAsked) {
    Fixture f;
    auto p = f.make(8);
    Access::harmonicsLoaded(*p) = 5;
    EXPECT_EQ(p->gethc(false), 5); // HDIM 0: no limit
    p->setsh(2);
    EXPECT_EQ(p->gethc(false), 2);
    EXPECT_EQ(p->gethc(true), 5);
    p->setsh(7);
    EXPECT_EQ(p->gethc(false), 5);
}

TEST(CoreProg, BoundControlsFollowTheirSourcesThroughTheFactors) {
    Fixture f;
    auto p = f.make();
    p->setfs(CoreAnsx("MIX1"));
    p->setys(CoreAnsx("MIX2"));
    p->setar(CoreAnsx("MIX3"));
    EXPECT_EQ(p->getfs(), CoreAnsx("MIX1"));
    EXPECT_EQ(p->getys(), CoreAnsx("MIX2"));
    EXPECT_EQ(p->getar(), CoreAnsx("MIX3"));
    p->setff(0.8);
    p->setdr(0.5);
    p->upsrc(19, 0.0);  // MIX1 -> control 0.5
    p->upsrc(20, 1.0);  // MIX2 -> control 1.0
    p->upsrc(21, -0.5); // MIX3 -> control 0.25
    EXPECT_DOUBLE_EQ(p->getrf(), 0.4);
    EXPECT_DOUBLE_EQ(p->getry(), 0.5);
    EXPECT_DOUBLE_EQ(p->getaf(), 0.25);
    p->setfs(CoreAnsx("-1")); // a constant at the lower end
    EXPECT_EQ(p->getrf(), 0.0);
}

TEST(CoreProg, TrimsScaleByTheFullRangeGainAndNeverGiveZero) {
    Fixture f;
    auto p = f.make();
    EXPECT_EQ(p->getti(), 1.0); // control value 0.0
    EXPECT_EQ(p->getto(), 1.0);
    Access::inputTrim(*p)->setsr(CoreAnsx("ON"), 0.0, 1.0);
    EXPECT_DOUBLE_EQ(p->getti(), 65463.61740672747);
    Access::outputTrim(*p)->setsr(CoreAnsx("0"), 0.0, 1.0); // constant 0: the middle of 0..1
    EXPECT_DOUBLE_EQ(p->getto(), 0.5 * 65463.61740672747);
    Access::outputTrim(*p)->setsr(CoreAnsx("-0.9999999999999999999"), 0.0, 1.0);
    EXPECT_EQ(p->getto(), 1.0);
}

TEST(CoreProg, LookaheadInSamplesStaysWithinZeroAndTheMaximum) {
    Fixture f;
    auto p = f.make();
    p->setrt(48000);
    const struct {
        int32_t us;
        double samples;
    } cases[] = {{0, 0.0}, {1000, 48.0}, {2500, 120.0}, {100000, maxLookahead}, {-1, 0.0}, {-2000, 0.0}};
    for (const auto& c : cases) {
        p->setua(c.us);
        EXPECT_EQ(p->getab(), c.samples) << c.us;
    }
}

TEST(CoreProg, PerHarmonicGettersReadTheRecordOnlyWhileInUse) {
    Fixture f;
    auto p = f.make(2);
    CoreProg::HLOC& record = Access::record(*p, 1);
    record.iSecondsize = 256;
    record.iThirdsize = 4096;
    record.iThirdblock = 512;
    record.iPaddedthirdsize = 8192;
    record.iCut = 300;
    record.iBoundedsizes[0] = 11;
    record.iBoundedsizes[1] = 22;
    record.iBoundedsizes[2] = 33;
    record.iBoundedsizes[3] = 44;
    record.bShortimpulse = true;
    double left[4] = {};
    double right[4] = {};
    record.pCurrentleft = left;
    record.pCurrentright = right;

    // Plain reads, whatever the record's state.
    EXPECT_EQ(p->getbr(1), 512);
    EXPECT_EQ(p->getid(1), 256);
    EXPECT_EQ(p->getex(1), 4096);
    EXPECT_EQ(p->getep(1), 8192);
    EXPECT_TRUE(p->ismkr(1));
    EXPECT_EQ(p->getli(1), left);
    EXPECT_EQ(p->getri(1), right);

    const std::function<int32_t()> guarded[] = {
        [&] { return p->getod(1, 0); },        [&] { return p->getod(1, 1); },
        [&] { return p->getts(1); },           [&] { return p->getco(1); },
        [&] { return p->getib(1, 0, false); }, [&] { return p->getib(1, 1, false); },
        [&] { return p->getib(1, 0, true); },  [&] { return p->getib(1, 1, true); },
    };
    const int32_t inUse[] = {256, 4096, 4096, 300, 11, 22, 33, 44};
    for (const auto& get : guarded) EXPECT_EQ(get(), 0);
    record.bValid = true;
    for (int i = 0; i < 8; ++i) EXPECT_EQ(guarded[i](), inUse[i]) << i;
    EXPECT_EQ(p->getod(1, 2), 0);
    EXPECT_EQ(p->getod(1, -1), 0);
    EXPECT_EQ(p->getib(1, 2, true), 0);
    EXPECT_EQ(p->getib(1, -1, false), 0);

    p->setn3(1, true);
    EXPECT_TRUE(p->getn3(1));
    EXPECT_TRUE(record.bChanged);

    double second[4] = {};
    Access::record(*p, 0).pSecondaryleft = second;
    Access::record(*p, 0).pSecondaryright = second + 1;
    EXPECT_EQ(p->getls(), second);
    EXPECT_EQ(p->getrs(), second + 1);
}

TEST(CoreProg, PhaseTestComparesTheLargestSampleWithTheSmallest) {
    const double positive[] = {0.1, 0.5, -0.4};
    const double negative[] = {0.1, 0.4, -0.5};
    const double tie[] = {0.5, -0.5};
    const double belowZero[] = {-0.1, -0.2};
    const double aboveZero[] = {0.1, 0.2};
    EXPECT_TRUE(CoreProg::inphs(positive, 3));
    EXPECT_FALSE(CoreProg::inphs(negative, 3));
    EXPECT_FALSE(CoreProg::inphs(tie, 2));
    EXPECT_FALSE(CoreProg::inphs(belowZero, 2));
    EXPECT_TRUE(CoreProg::inphs(aboveZero, 2));
    EXPECT_FALSE(CoreProg::inphs(positive, 0));
    EXPECT_FALSE(CoreProg::inphs(nullptr, 3));
}

TEST(CoreProg, ForceHybridMovesRecordZeroBetweenTheHybridSizesAndItsOwn) {
    Fixture f;
    auto prepare = [&](bool hybridInUse) {
        auto p = f.make(2);
        CoreProg::HLOC& first = Access::record(*p, 0);
        CoreProg::HLOC& hybrid = Access::record(*p, 2);
        first.bValid = true;
        first.iThirdsize = 1000;
        first.iCut = 100;
        first.iBoundedsizes[3] = 3000;
        first.bThirdon = true;
        hybrid.bValid = hybridInUse;
        hybrid.iThirdsize = 2000;
        hybrid.iCut = 200;
        hybrid.bThirdon = true;
        p->setf2(true);
        p->setst(4);
        return p;
    };
    {
        auto p = prepare(true);
        p->setfh(true);
        EXPECT_EQ(p->getex(0), 2000);
        EXPECT_EQ(p->getco(0), 200);
        EXPECT_FALSE(p->getn3(0));
        EXPECT_FALSE(p->getn3(2));
        EXPECT_FALSE(p->getf2());
        EXPECT_EQ(p->getst(), 4);
        EXPECT_TRUE(Access::record(*p, 0).bChanged);
        EXPECT_TRUE(p->getfh());
    }
    {
        auto p = prepare(false);
        p->setfh(true);
        EXPECT_EQ(p->getex(0), 1000);
        EXPECT_EQ(p->getco(0), 100);
        EXPECT_TRUE(p->getn3(0));
        EXPECT_TRUE(p->getf2());
        EXPECT_TRUE(Access::record(*p, 0).bChanged);
        EXPECT_TRUE(p->getfh());
    }
    {
        auto p = prepare(true);
        p->setfh(true);
        p->setfh(false);
        EXPECT_EQ(p->getex(0), 3000);
        EXPECT_FALSE(p->getn3(0));
        EXPECT_FALSE(p->getf2());
        EXPECT_EQ(p->getst(), -1);
        EXPECT_TRUE(Access::record(*p, 0).bChanged);
        EXPECT_FALSE(p->getfh());
    }
}

TEST(CoreProg, IndexesOutsideTheirTablesAreRefused) {
    Fixture f;
    auto p = f.make(2);
    for (int16_t i : {-1, -32768}) {
        EXPECT_EQ(p->getlf(i), nullptr);
        EXPECT_EQ(p->getfn(i), nullptr);
        EXPECT_EQ(p->getef(i), nullptr);
        EXPECT_EQ(p->geten(i), nullptr);
        EXPECT_EQ(p->getdy(i), nullptr);
        EXPECT_EQ(p->getpm(i), nullptr);
        EXPECT_EQ(p->getmx(i), nullptr);
        EXPECT_EQ(p->getif(i), nullptr);
    }
    EXPECT_EQ(p->getlf(4), nullptr);
    EXPECT_EQ(p->getfn(8), nullptr);
    EXPECT_EQ(p->getef(5), nullptr);
    EXPECT_EQ(p->geten(2), nullptr);
    EXPECT_EQ(p->getdy(2), nullptr);
    EXPECT_EQ(p->getpm(16), nullptr);
    EXPECT_EQ(p->getmx(8), nullptr);
    EXPECT_EQ(p->getif(10), nullptr);
    EXPECT_NE(p->getlf(3), nullptr);
    EXPECT_NE(p->getef(4), nullptr);

    CorePrm_* first = p->getpm(0);
    p->setpm(16, first);
    p->setpm(-1, first);
    for (int16_t i = 1; i < 16; ++i) EXPECT_NE(p->getpm(i), first);

    for (int i : {-1, 3, 100}) {
        p->setct(CoreAnsx("X"), i);
        EXPECT_EQ(p->getct(i), CoreAnsx(""));
    }
    for (int i = 0; i < 3; ++i) EXPECT_EQ(p->getct(i), CoreAnsx(""));

    fillRows(*p);
    p->upsrc(-1, 0.9);
    p->upsrc(84, 0.9);
    EXPECT_TRUE(writtenRows(*p).empty());

    auto* marker = reinterpret_cast<CoreCnvl*>(&f);
    p->setcv(-1, marker);
    p->setcv(3, marker);
    for (int h = 0; h <= 2; ++h) EXPECT_EQ(Access::record(*p, h).pConvolver, nullptr);
    p->setcv(2, marker); // the hybrid record takes one too
    EXPECT_EQ(Access::record(*p, 2).pConvolver, marker);

    for (int16_t h : {-1, 3}) {
        Access::record(*p, 0).bValid = true; // neighbours in use must not leak through
        EXPECT_EQ(p->getbr(h), 0);
        EXPECT_EQ(p->getid(h), 0);
        EXPECT_EQ(p->getex(h), 0);
        EXPECT_EQ(p->getep(h), 0);
        EXPECT_EQ(p->getod(h, 0), 0);
        EXPECT_EQ(p->getts(h), 0);
        EXPECT_EQ(p->getco(h), 0);
        EXPECT_EQ(p->getib(h, 0, true), 0);
        EXPECT_EQ(p->getli(h), nullptr);
        EXPECT_EQ(p->getri(h), nullptr);
        EXPECT_FALSE(p->getn3(h));
        EXPECT_FALSE(p->ismkr(h));
        p->setn3(h, true);
    }
    for (int h = 0; h <= 2; ++h) EXPECT_FALSE(Access::record(*p, h).bChanged) << h;
}

TEST(CoreProg, SlotSelectionWaitsForALoadedRecordZero) {
    Fixture f;
    CoreCnvl convolver(&f.pool, CoreAnsx("TEST"), 0, nullptr, cpuOnly());
    auto p = f.make(1);
    p->setsp(0); // no root yet: nothing happens
    p->setsp(1);
    fillRecord(*p, f.pool, &convolver, 0);
    CoreVctr* root = Access::record(*p, 0).pRoot;
    root->setsc();
    p->setsp(1);
    EXPECT_EQ(root->currentLeft(), root->getls());
    p->setsp(2); // no such slot
    EXPECT_EQ(root->currentLeft(), root->getls());
    p->setsp(0);
    EXPECT_EQ(root->currentLeft(), root->getlc());
    Access::record(*p, 0).bValid = false; // the root without the record in use is not touched
    p->setsp(1);
    EXPECT_EQ(root->currentLeft(), root->getlc());
    Access::record(*p, 0).bValid = true;
}

TEST(CoreProg, SwappedParametersAreDeletedOnceEach) {
    Fixture f;
    auto p = f.make();
    CorePrm_* first = p->getpm(0);
    CorePrm_* second = p->getpm(1);
    // A complete swap, as the processor's parameter swap does it.
    p->setpm(0, second);
    p->setpm(1, first);
    EXPECT_EQ(p->getpm(0), second);
    EXPECT_EQ(p->getpm(1), first);
    // Half a swap and a null pointer: the table may hold one parameter twice, never a null.
    p->setpm(2, first);
    p->setpm(3, nullptr);
    EXPECT_EQ(p->getpm(2), first);
    EXPECT_NE(p->getpm(3), nullptr);
    // An unload resets every parameter the program owns, also the one no table slot shows.
    defineParameters(*p);
    Access::loaded(*p) = true;
    p->uload();
    for (int16_t i = 0; i < CoreProg::iCparameters; ++i) EXPECT_FALSE(p->getpm(i)->isdis());
    // Destruction (AddressSanitizer: no double delete, no leak).
}

} // namespace
