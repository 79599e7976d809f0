// The program object: construction that fails without leaking, controls and followers on their source
// rows, gains through their controls, the per-harmonic accessors and every index check, unloading and
// destruction with real trees; and the header of a packed program, read and rewritten in its container.
#include "ProgramFixtures.h"
#include "tests/filestore/FsysFixture.h"

namespace {

using namespace progtest;

TEST(CoreProg, ConstructionRefusesANegativeCapacityAndReleasesWhatAFailedOneBuilt) {
    CoreBlnk blink;
    {
        CorePool pool;
        try {
            CoreProg(&pool, nullptr, -1, "V/", 0, 0, 0, 0, 0, 0, 4096, &blink, nullptr);
            ADD_FAILURE() << "no exception";
        } catch (const CoreAnsx& message) {
            EXPECT_GT(message.Pos("capacity"), 0);
        }
        EXPECT_EQ(pool.getma(), 0);
    }
    // The followers take their buffers from the pool: fail each one's request in turn.
    for (int failAt = 0; failAt < CoreProg::iCfollowers; ++failAt) {
        CorePool pool;
        int requests = 0;
        pool.pause = [](int) {};
        pool.allocator = [&](size_t bytes) {
            return requests++ >= failAt ? nullptr : std::aligned_alloc(CorePool::iCalignment, bytes);
        };
        EXPECT_THROW(CoreProg(&pool, nullptr, 3, "V/", 0, 0, 0, 0, 0, 0, 4096, &blink, nullptr), CoreAnsx);
        EXPECT_EQ(pool.getma(), 0) << failAt;
    }
}

TEST(CoreProg, FifthFollowerLeavesOffAtMinusOne) {
    Fixture f;
    auto p = f.make();
    CoreEnvf* evf = p->getef(4);
    evf->setvl(1, 100, "", 1, 1000, "", -1.0, 0, false, "", false, "OFF", "OFF", true, 44100.0, false, "", "",
               false, 0.0, 1, "");
    for (int block = 0; block < 4; ++block) {
        for (int n = 0; n < 64; ++n) evf->setei(0.9, 0.9, 0.9, 0.9);
        evf->updte();
    }
    EXPECT_TRUE(p->isqpr());
    EXPECT_NE(p->getsc("EVF5"), -1.0);
    EXPECT_EQ(p->getsc("OFF"), -1.0);
    EXPECT_EQ(p->getsc("NOSUCHKEY"), -1.0); // a key the table lacks reads the OFF row
}

TEST(CoreProg, GainsTrimsAndLookaheadFollowTheirControlsWithinTheirBounds) {
    Fixture f;
    auto p = f.make();
    p->setfs("MIX1");
    p->setys("MIX2");
    p->setar("MIX3");
    p->setff(0.8);
    p->setdr(0.5);
    for (auto [key, value] : {std::pair{"MIX1", 0.0}, {"MIX2", 1.0}, {"MIX3", -0.5}})
        p->getsr()->getsc(key)->setvl(value);
    EXPECT_EQ(line(p->getrf(), p->getry(), p->getaf()), "0.4 0.5 0.25");
    // A trim is the full-range gain, and 1.0 where its control gives 0 (never silence).
    EXPECT_EQ(p->getti(), 1.0);
    Access::inputTrim(*p)->setsr("ON", 0.0, 1.0);
    EXPECT_DOUBLE_EQ(p->getti(), 65463.61740672747);
    Access::outputTrim(*p)->setsr("-0.9999999999999999999", 0.0, 1.0);
    EXPECT_EQ(p->getto(), 1.0);
    p->setrt(48000);
    for (auto [us, samples] : {std::pair{1000, 48.0}, {100000, 4800.0}, {-2000, 0.0}}) {
        p->setua(us);
        EXPECT_EQ(p->getab(), samples) << us;
    }
}

TEST(CoreProg, HarmonicCountHonoursHdimUnlessAllAreAsked) {
    Fixture f;
    auto p = f.make();
    Access::harmonicsLoaded(*p) = 3;
    for (auto [hdim, count] : {std::pair{0, 3}, {2, 2}, {7, 3}}) {
        p->setsh(int16_t(hdim));
        EXPECT_EQ(line(p->gethc(false), p->gethc(true)), line(count, 3)) << hdim;
    }
}

TEST(CoreProg, PerHarmonicValuesShowOnlyForARecordInUseAndIndexesOutsideTablesAreRefused) {
    Fixture f;
    auto p = f.make(); // records 0..2 and the hybrid record 3
    CoreProg::HLOC& record = Access::record(*p, 1);
    record.iSecondsize = 256;
    record.iThirdsize = 4096;
    record.iCut = 300;
    std::copy_n(std::vector<int32_t>{11, 22, 33, 44}.begin(), 4, record.iBoundedsizes);
    auto guarded = [&](int16_t h) {
        return line(p->getod(h, 0), p->getod(h, 1), p->getod(h, 2), p->getts(h), p->getco(h),
                    p->getib(h, 0, false), p->getib(h, 1, true), p->getib(h, 2, false));
    };
    EXPECT_EQ(guarded(1), "0 0 0 0 0 0 0 0");
    record.bValid = true;
    EXPECT_EQ(guarded(1), "256 4096 0 4096 300 11 44 0");

    Access::record(*p, 0).bValid = true; // records in use beside the index must not leak through
    auto* marker = reinterpret_cast<CoreCnvl*>(&f);
    for (int16_t h : {-1, 4}) {
        EXPECT_EQ(guarded(h), "0 0 0 0 0 0 0 0");
        EXPECT_EQ(line(p->getbr(h), p->getid(h), p->getex(h), p->getep(h), p->getli(h) == nullptr,
                       p->getri(h) == nullptr, p->getn3(h), p->ismkr(h)),
                  "0 0 0 0 1 1 0 0");
        p->setn3(h, true);
        p->setcv(h, marker);
    }
    p->setcv(3, marker); // the hybrid record takes one too
    for (int h = 0; h <= 3; ++h)
        EXPECT_EQ(line(Access::record(*p, h).bChanged, Access::record(*p, h).pConvolver == marker),
                  line(false, h == 3));

    for (int16_t i : {-1, -32768})
        EXPECT_TRUE(!p->getlf(i) && !p->getfn(i) && !p->getef(i) && !p->geten(i) && !p->getdy(i) &&
                    !p->getpm(i) && !p->getmx(i) && !p->getif(i));
    EXPECT_TRUE(!p->getlf(4) && !p->getfn(8) && !p->getef(5) && !p->geten(2) && !p->getdy(2) &&
                !p->getpm(16) && !p->getmx(8) && !p->getif(10) && p->getlf(3) && p->getef(4));
    p->setpm(16, p->getpm(0));
    p->setpm(-1, p->getpm(0));
    for (int i : {-1, 3}) p->setct("X", i);
    EXPECT_EQ(line(p->getct(-1), p->getct(0), p->getct(2), p->getct(3)), "'' '' '' ''");
    p->upsrc(-1, 0.9); // rows outside the table: nothing to write
    p->upsrc(84, 0.9);
}

TEST(CoreProg, PhaseTestComparesTheLargestSampleWithTheSmallest) {
    const struct {
        std::vector<double> block;
        bool positive;
    } rows[] = {{{0.1, 0.5, -0.4}, true}, {{0.1, 0.4, -0.5}, false}, {{0.5, -0.5}, false}, {{}, false}};
    for (const auto& r : rows)
        EXPECT_EQ(CoreProg::inphs(r.block.empty() ? nullptr : r.block.data(), int32_t(r.block.size())),
                  r.positive);
}

TEST(CoreProg, ForceHybridMovesRecordZeroBetweenTheHybridSizesAndItsOwn) {
    const struct {
        bool hybridInUse;
        std::vector<bool> switches;
        const char* expected; // size, cut, third stage on (record 0, hybrid), FORCEOT2, SMOOTH, flag
    } rows[] = {{true, {true}, "2000 200 0 0 0 4 1"},
                {false, {true}, "1000 100 1 1 1 4 1"}, // nothing to take from
                {true, {true, false}, "3000 200 0 0 0 -1 0"}};
    Fixture f;
    for (const auto& r : rows) {
        auto p = f.make();
        CoreProg::HLOC &first = Access::record(*p, 0), &hybrid = Access::record(*p, 3);
        first.bValid = first.bThirdon = hybrid.bThirdon = true;
        first.iThirdsize = 1000;
        first.iCut = 100;
        first.iBoundedsizes[3] = 3000;
        hybrid.bValid = r.hybridInUse;
        hybrid.iThirdsize = 2000;
        hybrid.iCut = 200;
        p->setf2(true);
        p->setst(4);
        for (bool on : r.switches) p->setfh(on);
        EXPECT_EQ(
            line(p->getex(0), p->getco(0), p->getn3(0), p->getn3(3), p->getf2(), p->getst(), p->getfh()),
            r.expected);
        EXPECT_TRUE(first.bChanged);
    }
}

TEST(CoreProg, SwappedParametersAreDeletedOnceAndAnUnloadResetsOnlyWhatALoadSet) {
    Fixture f;
    auto p = f.make();
    CorePrm_ *first = p->getpm(0), *second = p->getpm(1);
    // A complete swap, as the processor's parameter swap does it; then half a swap and a null pointer:
    // the table may hold one parameter twice, never a null.
    p->setpm(0, second);
    p->setpm(1, first);
    p->setpm(2, first);
    p->setpm(3, nullptr);
    EXPECT_TRUE(p->getpm(0) == second && p->getpm(1) == first && p->getpm(2) == first && p->getpm(3));
    for (int16_t i = 0; i < CoreProg::iCparameters; ++i)
        p->getpm(i)->setvl(true, "ON", "", "a", "Level", "", "dB", "", "", -10.0, 10.0, -10.0, 10.0);
    p->setnm("Hall");
    p->setct("Cat", 0);
    p->setds("Large hall");
    p->setvf("HALL.Q7V");
    p->setua(2000);
    // Never loaded: the header goes, the name, the values and the parameters stay.
    p->uload();
    EXPECT_EQ(line(p->getnm(), p->getct(0), p->getds(), Access::vectorFileName(*p), p->getua(),
                   p->getpm(2)->isdis()),
              "'Hall' '' '' '0' 2000 1");
    // Loaded: every parameter the program owns is reset, also the one no table slot shows.
    Access::loaded(*p) = true;
    p->uload();
    for (int16_t i = 0; i < CoreProg::iCparameters; ++i) EXPECT_FALSE(p->getpm(i)->isdis()) << i;
    // Destruction deletes each once (AddressSanitizer: no double delete, no leak).
}

class CoreProgLoaded : public LoadTest {};

TEST_F(CoreProgLoaded, DestructionReleasesEveryTreeBeforeCollectingTheSharedRegistry) {
    CorePlel shared(&fixture.pool);
    for (bool marked : {true, false}) {
        auto p = fixture.make(files.get(), 500000, 2000000, &shared);
        ASSERT_TRUE(load(ready(*p), fixtureText));
        ASSERT_GT(shared.count(), 0);
        // Not marked in use, not loaded: the trees the reader left behind are released all the same.
        Access::record(*p, 0).bValid = Access::loaded(*p) = marked;
        p.reset();
        EXPECT_EQ(line(shared.count(), shared.groups()), "0 0") << marked;
    }
    CorePlel::GroupGuard again(&shared, "NEXT", true); // the registry is still alive
    EXPECT_TRUE(shared.ingrp());
}

TEST_F(CoreProgLoaded, SlotSelectionWaitsForALoadedRecordZero) {
    program->setsp(1); // no root yet: nothing happens
    ASSERT_TRUE(load(*program, fixtureText));
    CoreVctr* root = Access::record(*program, 0).pRoot;
    root->setsc();
    for (auto [slot, secondary] : {std::pair{1, true}, {2, true}, {0, false}}) { // slot 2 does not exist
        program->setsp(int16_t(slot));
        EXPECT_EQ(root->currentLeft() == root->getls(), secondary) << slot;
    }
    Access::record(*program, 0).bValid = false; // a root without its record in use is not touched
    program->setsp(1);
    EXPECT_EQ(root->currentLeft(), root->getlc());
    Access::record(*program, 0).bValid = true;
}

// ---- the header of a packed program ------------------------------------------------------------

using fsystest::str;
namespace fs = std::filesystem;

const std::string kProgram = "<PROGRAM><NAME> Soft Hall </NAME><CATEGORY> Reverb </CATEGORY><SUBCATEGORY1> "
                             "Hall </SUBCATEGORY1><SUBCATEGORY2> Large </SUBCATEGORY2><DESCRIPTION> A soft "
                             "hall </DESCRIPTION><VECTORFILENAME> hall.xml </VECTORFILENAME><GAINOUT> -3 "
                             "</GAINOUT></PROGRAM>";
const std::string kWave = std::string("RIFF\x04\0\0\0WAVE", 12);

class CoreProgPacked : public fsystest::FsysFiles {
protected:
    // A packed program as the store writes it: an element file whose name also holds the key, the
    // program item, a kernel wave. The ids of the first two.
    std::pair<int32_t, int32_t> pack(const std::string& program,
                                     const std::string& item = "BANK/MYPROG.XML") {
        CoreFsys store(&pool);
        fsystest::put(store, "BANK/MYPROG_ENV.XML", "<PROGRAM><NAME> Elements </NAME></PROGRAM>");
        fsystest::put(store, item, program);
        fsystest::put(store, "BANK/IR.WAV", kWave);
        EXPECT_TRUE(store.savea(at("MYPROG.Q7P")));
        return {store.getit("BANK/MYPROG_ENV.XML"), store.getit(item.c_str())};
    }
    // name|categories|description|vector file|id
    std::string header(const std::string& file = "MYPROG.Q7P") {
        int32_t id = -77;
        CoreAnsx name = "unchanged", c[3] = {"c0", "c1", "c2"}, description, vector;
        CoreProg::getni(&pool, at(file), id, name, c, description, vector);
        return str(name + "|" + c[0] + "," + c[1] + "," + c[2] + "|" + description + "|" + vector + "|") +
               std::to_string(id);
    }
    bool set(int32_t id, const CoreAnsx& name, CoreNode* extra = nullptr) {
        CoreAnsx categories[3] = {"Room", "Small", ""};
        return CoreProg::setni(&pool, at("myprog.Q7P"), id, name, categories, "Dry <and> close", extra);
    }
};

TEST_F(CoreProgPacked, ReadsAndRewritesTheHeaderOfTheProgramItem) {
    const struct {
        std::string program, item, file, header;
        bool fromElementFile;
    } rows[] = {{kProgram, "BANK/MYPROG.XML", "MYPROG.Q7P",
                 "Soft Hall|Reverb,Hall,Large|A soft hall|hall.xml|", false},
                {"<PROGRAM><NAME> 0 </NAME><CATEGORY>  </CATEGORY></PROGRAM>", "BANK/MYPROG.XML",
                 "myprog.q7p", "NULL|,,|NULL|NULL|", false},
                // Without an item named after the file, the first whose name holds the key.
                {kProgram, "A/MYPROG_V2.XML", "MYPROG.Q7P", "Elements|,,|NULL|NULL|", true}};
    for (const auto& r : rows) {
        const auto [element, program] = pack(r.program, r.item);
        EXPECT_EQ(header(r.file), r.header + std::to_string(r.fromElementFile ? element : program));
    }
    // Set, then get: the new header, and every other item and leaf as it was.
    const int32_t id = pack(kProgram).second;
    fs::rename(root / "MYPROG.Q7P", root / "MyProg.q7p"); // rewritten whatever the case of its name
    CoreFsys before(&pool), after(&pool);
    ASSERT_TRUE(before.loada(at("MyProg.q7p"), "0", false, nullptr));
    CoreXml_ patch;
    ASSERT_TRUE(
        set(id, "Dark Room",
            patch.getfc("<PROGRAM><GAINOUT> 6 </GAINOUT><MIX1><SOURCE> LFO1 </SOURCE></MIX1></PROGRAM>")));
    // '<' in user text follows the XML writer's rule.
    EXPECT_EQ(header(), "Dark Room|Room,Small,|Dry (and> close|hall.xml|" + std::to_string(id));
    ASSERT_TRUE(after.loada(at("MyProg.q7p"), "0", false, nullptr));
    auto items = fsystest::contents(after), old = fsystest::contents(before);
    CoreXml_ program;
    const CoreNode* p = program.getfc(items.at("BANK/MYPROG.XML").c_str())->getcd("PROGRAM");
    // The leaves of the extra document replace or join the program's.
    EXPECT_EQ(str(p->getlc("GAINOUT").Trim() + p->getcd("MIX1")->getlc("SOURCE").Trim()), "6LFO1");
    items.erase("BANK/MYPROG.XML");
    old.erase("BANK/MYPROG.XML");
    EXPECT_EQ(items, old);
    EXPECT_FALSE(fs::exists(root / "myprog.Q7P"));
    ASSERT_TRUE(set(id, "0"));
    EXPECT_EQ(header().substr(0, 5), "NULL|"); // a name "0" is written and read back as absent
}

TEST_F(CoreProgPacked, FailuresLeaveTheFileByteIdentical) {
    const std::string twice = fsystest::tocItem("MYPROG.XML", "0", std::to_string(kProgram.size())) +
                              fsystest::tocItem("MYPROG.XML", std::to_string(kProgram.size()), "12");
    const std::string damaged = fsystest::tocItem("MYPROG.XML", "0", std::to_string(kProgram.size())) +
                                fsystest::tocItem("IR.WAV", std::to_string(kProgram.size()), "999999");
    const struct {
        const char* what;
        std::string program, table; // a table: the container by hand
        bool knownId;
    } rows[] = {{"an id that names no item", kProgram, "", false},
                {"no PROGRAM", "<VECTOR><ELEMENT> 1 </ELEMENT></VECTOR>", "", true},
                {"does not parse", "<PROGRAM></NAME></PROGRAM></PROGRAM>", "", true},
                {"two items of one name", kProgram, twice, true},
                {"an item beyond the blocks", kProgram, damaged, true},
                {"a wrong title", kProgram, "title", true}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        int32_t id = pack(r.program).second;
        std::string bytes = readBytes(root / "MYPROG.Q7P");
        if (r.table == "title")
            bytes[0] = 'X';
        else if (!r.table.empty())
            bytes = fsystest::container(int64_t(kProgram.size() + kWave.size()), kProgram + kWave,
                                        "<TOC>" + r.table + "</TOC>");
        writeBytes(root / "MYPROG.Q7P", bytes);
        if (r.table.size() > 5)
            id = std::stoi(header().substr(header().rfind('|') + 1)); // the item read finds
        if (r.knownId && r.program != kProgram) {
            EXPECT_EQ(header().substr(0, 10), "unchanged|");
        }
        EXPECT_FALSE(set(r.knownId ? id : 9999, "n"));
        EXPECT_EQ(readBytes(root / "MYPROG.Q7P"), bytes);
    }
    EXPECT_EQ(header(), "unchanged|c0,c1,c2|||-77");
    fs::remove(root / "MYPROG.Q7P");
    EXPECT_FALSE(set(1, "n"));
    EXPECT_FALSE(fs::exists(root / "MYPROG.Q7P"));
    EXPECT_NE(log().find("MYPROG.Q7P"), std::string::npos);
}

} // namespace
