// The batch stepper: every chain step by step (result, ordinal, message, next step; the pass-through
// state and free locks after every call), the slot searches, saving after a fall-back, failed writes
// and throwing steps, and the program export the saving steps make.
#include "processor/CorePrcs.h"

#include "ProgramFolder.h"
#include "base/CoreVars.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreWvfr.h"
#include "processor/CoreMmry.h"
#include "program/CoreProg.h"
#include "tests/common/FileSizeLimit.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <sys/stat.h>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace {

// Every table runs twice: on an engine without a master store, and as the plug-in builds it.
class CorePrcsBatch : public ProgramFolderTest, public ::testing::WithParamInterface<bool> {
protected:
    void SetUp() override {
        ProgramFolderTest::SetUp();
        asPlugin = GetParam();
    }
    struct Call {
        int ordinal;
        const char* message; // null: not checked
        const char* next;
    };
    using Pairs = std::vector<std::pair<const char*, const char*>>;

    // The message words the display would store, and the caller's variables.
    static void fill(CoreVars& vars, const Pairs& pairs) {
        vars.open_();
        const Pairs words = {{"LOADED", "Loaded"},   {"LOADING", "Loading"}, {"SAVING", "Saving"},
                             {"DELETED", "Deleted"}, {"MOVED", "Moved"},     {"BANKCLEARED", "Cleared"},
                             {"BANKSAVED", "Saved"}, {"HYBRID", "Hybrid"},   {"MONO", "Mono"}};
        for (const auto& [key, value] : words) vars.addit(key, value);
        for (const auto& [key, value] : pairs) vars.addit(key, value);
    }

    // Runs the batch until it finishes, checking every call against calls: k steps take k + 1 calls,
    // the engine stays in pass-through until the finishing call and no engine lock is held between.
    void runChain(CorePrcs& e, CoreVars& vars, const std::vector<Call>& calls) {
        for (size_t i = 0; i <= calls.size(); ++i) {
            SCOPED_TRACE("call " + std::to_string(i));
            int ordinal = -1;
            CoreAnsx message("x");
            const bool finished = e.batch(&vars, ordinal, message);
            EXPECT_TRUE(locksFree(e));
            if (i == calls.size()) {
                EXPECT_TRUE(finished);
                EXPECT_EQ(ordinal, 0);
                EXPECT_STREQ(message.c_str(), "");
                EXPECT_FALSE(e.getby());
                return;
            }
            ASSERT_FALSE(finished);
            EXPECT_TRUE(e.getby());
            EXPECT_EQ(ordinal, calls[i].ordinal);
            if (calls[i].message) {
                EXPECT_STREQ(message.c_str(), calls[i].message);
            }
            EXPECT_STREQ(vars.getit("NEXTSTEP").c_str(), calls[i].next);
        }
    }
    // The current slot after a load of slot (as a reload step leaves it).
    static void select(CorePrcs& e, int32_t slot) {
        e.ldpdm(slot, false);
        Access::currentSlot(e) = slot;
    }
    static std::string slotName(CorePrcs& e, int32_t slot) { return e.getmm()->getnm(slot).c_str(); }
    std::filesystem::path repository() const { return data() / "VorlanTempRepository"; }
};

TEST_P(CorePrcsBatch, RunsEveryChainOneStepPerCall) {
    struct Row {
        const char* start;
        int32_t current; // selected before the chain
        Pairs vars;
        std::vector<Call> calls;
        int32_t currentAfter;
        std::function<void(const std::filesystem::path&, CorePrcs&)> check;
    };
    const std::vector<Row> rows = {
        {"READSETUP",
         0,
         {{"BANK", " 0 "}, {"LIBRARY", "fixture.xml"}},
         {{1, "Cleared", "READSETUP_1"}, {2, "Loaded fixture.xml", "READSETUP_2"}, {3, "Loaded Init", "END"}},
         0,
         [](const std::filesystem::path&, CorePrcs& e) {
             EXPECT_EQ(slotName(e, kEmpty), "Init");
         }}, // the bank read again
        {"CLEARBANK",
         0,
         {{"BANK", "1"}},
         {{1, "Cleared", "CLEAREDBANK_2"}, {2, "Loaded Init", "END"}},
         0,
         [](const std::filesystem::path&, CorePrcs& e) { EXPECT_EQ(slotName(e, kThree), "Three"); }},
        {"READPROGRAM",
         0,
         {{"NEWPROGRAM", "1"}},
         {{1, "Loading 1", "READPROGRAM_2"}, {2, "Loaded Three", "END"}},
         kThree,
         nullptr},
        {"READPROGRAM",
         kThree,
         {},
         {{1, "Loading 0 ", "READPROGRAM_2"}, {2, "Loaded Init", "END"}},
         0,
         nullptr},
        // The display's reload: an empty slot loads the next used one above it.
        {"READPROGRAM_2", 0, {{"NEWPROGRAM", "6"}}, {{2, "Loaded OFF0.XML", "END"}}, kOffsets, nullptr},
        {"DELETEMEMORYLOC",
         0,
         {{"PROG", "2"}},
         {{1, "Deleted 2", "END"}},
         0,
         [](const std::filesystem::path&, CorePrcs& e) { EXPECT_EQ(slotName(e, kPacked), "0"); }},
        {"REPLACEMEMORYLOC",
         0,
         {{"NEWPROGRAM", "1"}, {"OLDPROGRAM", "3"}},
         {{1, "Loading 1", "REPLACEMEMORYLOC_2"},
          {2, "Loaded Three", "REPLACEMEMORYLOC_3"},
          {3, "Deleted 3", "END"}},
         kThree,
         [](const std::filesystem::path&, CorePrcs& e) { EXPECT_EQ(slotName(e, kBeside), "0"); }},
        {"OVERWRITEMEMORYLOC",
         0,
         {{"OLDPROGRAM", "1"}, {"NEWPROGRAM", "6"}},
         {{1, "Moved 1", "END"}},
         0,
         [](const std::filesystem::path&, CorePrcs& e) {
             EXPECT_EQ(slotName(e, kThree), "0");
             EXPECT_EQ(slotName(e, kEmpty), "Three");
             EXPECT_NE(std::string(e.getmm()->getvl(kEmpty, false).c_str()).find("Three"), std::string::npos);
         }},
        // The slot that plays, moved without the target selected first: the current slot goes with it.
        {"OVERWRITEMEMORYLOC", kThree, {{"OLDPROGRAM", "1"}, {"NEWPROGRAM", "6"}}, {{1, "Moved 1", "END"}}, kEmpty,
         [](const std::filesystem::path&, CorePrcs& e) {
             EXPECT_EQ(slotName(e, kThree) + " " + slotName(e, kEmpty), "0 Three");
             EXPECT_EQ(e.getls(), kEmpty);
         }},
        // Refused, as the memory page refuses it: the slot that plays keeps its program.
        {"OVERWRITEMEMORYLOC", kThree, {{"OLDPROGRAM", "2"}, {"NEWPROGRAM", "1"}}, {{1, "NOT MOVED", "END"}},
         kThree,
         [](const std::filesystem::path&, CorePrcs& e) {
             EXPECT_EQ(slotName(e, kThree) + " " + slotName(e, kPacked), "Three Packed");
             EXPECT_EQ(e.getls(), kThree);
         }},
        {"SAVEBANK",
         0,
         {{"BANK", "0"}, {"LIBRARY", "saved.xml"}, {"BANKSTRING", "bank 0"}},
         {{1, "Saved bank 0", "END"}},
         0,
         [](const std::filesystem::path& d, CorePrcs&) {
             EXPECT_NE(bytesOf(d / "setups/saved.xml").find("THREE.XML"), std::string::npos);
         }},
        {"SAVEPROGRAM",
         kThree,
         {},
         {{1, "Saving", "SAVEPROGRAM_1"}, {2, "Saving", "END"}},
         kThree,
         [](const std::filesystem::path& d, CorePrcs&) {
             EXPECT_NE(bytesOf(d / "progs/THREE.XML").find("Three"), std::string::npos);
         }},
        {"CHANGEHYBRID",
         kThree,
         {{"BVFORCEHYBRID", "1"}, {"NEWPROGRAM", "1"}},
         {{1, "Hybrid", "CHANGEHYBRID_2"}, {2, "Loading 1", "CHANGEHYBRID_3"}, {3, "Loaded Three", "END"}},
         kThree,
         [](const std::filesystem::path&, CorePrcs& e) {
             EXPECT_NE(std::string(e.getmm()->getvl(kThree, false).c_str()).find("FORCEHYBRID"),
                       std::string::npos);
         }},
        {"CHANGEMONO",
         kThree,
         {{"BVFORCEMONO", "1"}, {"NEWPROGRAM", "1"}},
         {{1, "Mono", "CHANGEMONO_2"}, {2, "Loading 1", "CHANGEMONO_3"}, {3, "Loaded Three", "END"}},
         kThree,
         [](const std::filesystem::path&, CorePrcs& e) {
             EXPECT_NE(std::string(e.getmm()->getvl(kThree, false).c_str()).find("FORCEMONO"),
                       std::string::npos);
         }},
        {"VERSIONING",
         kThree,
         {{"VERSIONINGNAME", "THREE2.XML"}},
         {{1, "Saving", "VERSIONING_2"}, {2, "Saving", "END"}},
         kEmpty,
         [](const std::filesystem::path& d, CorePrcs& e) {
             EXPECT_STREQ(e.getmm()->getfp(kEmpty, true).UpperCase().c_str(), "THREE2.XML");
             EXPECT_STREQ(e.getmm()->getfp(kThree, true).c_str(), "THREE.XML");
             EXPECT_EQ(slotName(e, kEmpty), "Three");
             EXPECT_NE(bytesOf(d / "progs/THREE2.XML").find("Three"), std::string::npos);
         }},
        {"TEST", 0, {}, {{1, "TEST", "END"}}, 0, nullptr},
        {"", 0, {}, {}, 0, nullptr},
        {"0", 0, {}, {}, 0, nullptr},
        {"readprogram", 0, {{"NEWPROGRAM", "1"}}, {}, 0, nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.start) + " from slot " + std::to_string(r.current));
        std::filesystem::remove_all(root / "data");
        auto e = loaded();
        ASSERT_FALSE(e->isfailed());
        std::vector<int32_t> pauses;
        e->setBatchSleepForTest([&pauses](int32_t ms) { pauses.push_back(ms); });
        select(*e, r.current);
        Access::stateChanged(*e).store(false);
        CoreVars vars;
        fill(vars, r.vars);
        vars.addit("NEXTSTEP", r.start);
        runChain(*e, vars, r.calls);
        EXPECT_EQ(Access::currentSlot(*e).load(), r.currentAfter);
        if (r.check) r.check(data(), *e);
        EXPECT_EQ(pauses,
                  std::string(r.start) == "TEST" ? std::vector<int32_t>{5000} : std::vector<int32_t>{});
        bool reloads = false;
        for (const Call& c : r.calls)
            reloads = reloads || (c.message && std::string(c.message).rfind("Loaded ", 0) == 0);
        EXPECT_EQ(Access::stateChanged(*e).load(), reloads);
    }
}

TEST_P(CorePrcsBatch, NullStoreFinishesAndBootingRunsNothing) {
    auto e = loaded();
    ASSERT_FALSE(e->isfailed());
    int ordinal = -1;
    CoreAnsx message("x");
    EXPECT_TRUE(e->batch(nullptr, ordinal, message));
    EXPECT_FALSE(e->getby());

    CoreVars vars;
    fill(vars, {{"NEXTSTEP", "READPROGRAM"}});
    Access::busy(*e).setvl(true);
    e->setby(true);
    EXPECT_TRUE(e->batch(&vars, ordinal, message));
    EXPECT_EQ(ordinal, 0);
    EXPECT_STREQ(message.c_str(), "");
    EXPECT_TRUE(e->getby()); // left as the boot has it
    EXPECT_STREQ(vars.getit("NEXTSTEP").c_str(), "READPROGRAM");
}

TEST_P(CorePrcsBatch, SearchWithNoUsedSlotEnds) {
    auto e = loaded();
    ASSERT_FALSE(e->isfailed());
    e->getmm()->clear();
    CoreVars vars;
    fill(vars, {{"NEXTSTEP", "READPROGRAM_2"}, {"NEWPROGRAM", "12"}});
    runChain(*e, vars, {{2, nullptr, "END"}});
    EXPECT_EQ(Access::currentSlot(*e).load(), 0);
}

TEST_P(CorePrcsBatch, SavingAfterAFallBackWritesNothing) {
    auto e = loaded();
    ASSERT_FALSE(e->isfailed());
    select(*e, kMissing);
    ASSERT_TRUE(Access::loadFallback(*e));
    const std::string document = e->getmm()->getvl(kMissing, false).c_str();
    const std::string file = bytesOf(data() / "progs/MISSING.XML");
    for (const char* start : {"SAVEPROGRAM", "SAVEPROGRAM_1", "VERSIONING", "VERSIONING_2"}) {
        SCOPED_TRACE(start);
        CoreVars vars;
        fill(vars, {{"NEXTSTEP", start}, {"VERSIONINGNAME", "MISSING.XML"}});
        const int ordinal = std::string(start).find('_') == std::string::npos ? 1 : 2;
        runChain(*e, vars, {{ordinal, "NOT SAVED", "END"}});
        EXPECT_FALSE(e->svprf(0, -1, "0", false, -1, false, 1.0, -1));
    }
    // A reload after the fall-back commits nothing into the slot that failed.
    CoreVars vars;
    fill(vars, {{"NEXTSTEP", "READPROGRAM"}, {"NEWPROGRAM", "1"}});
    runChain(*e, vars, {{1, "Loading 1", "READPROGRAM_2"}, {2, "Loaded Three", "END"}});
    EXPECT_EQ(e->getmm()->getvl(kMissing, false).c_str(), document);
    EXPECT_EQ(bytesOf(data() / "progs/MISSING.XML"), file);
    EXPECT_EQ(slotName(*e, kEmpty), "0");
    EXPECT_FALSE(std::filesystem::exists(repository()));
}

TEST_P(CorePrcsBatch, FailuresReportTheStep) {
    auto e = loaded();
    ASSERT_FALSE(e->isfailed());
    CoreVars vars;
    fill(vars, {{"NEXTSTEP", "READSETUP_1"}, {"BANK", "1"}, {"LIBRARY", "absent.xml"}});
    runChain(*e, vars, {{2, "FAILED READSETUP_1", "READSETUP_2"}, {3, "Loaded Init", "END"}});

    // A bank write past the file-size limit fails and leaves the old file whole.
    writeText(data() / "setups/big.xml", "<SETUP></SETUP>");
    const int written = writeUnderFileSizeLimit(8, [&] {
        CoreVars child;
        fill(child, {{"NEXTSTEP", "SAVEBANK"}, {"BANK", "0"}, {"LIBRARY", "big.xml"}});
        int ordinal = 0;
        CoreAnsx message;
        e->batch(&child, ordinal, message);
        return message == CoreAnsx("FAILED SAVEBANK") && child.getit("NEXTSTEP") == CoreAnsx("END");
    });
    EXPECT_EQ(written, 1);
    EXPECT_EQ(bytesOf(data() / "setups/big.xml"), "<SETUP></SETUP>");

    // A reload that throws (slot 0 names a container that is not there) ends the batch with every
    // lock free.
    select(*e, kThree);
    e->getmm()->setvl(0, true, "NOPE.Q7P", "<PROGRAM><NAME>Nope</NAME></PROGRAM>");
    fill(vars, {{"NEXTSTEP", "READPROGRAM_2"}});
    int ordinal = 0;
    CoreAnsx message;
    EXPECT_FALSE(e->batch(&vars, ordinal, message));
    EXPECT_EQ(std::string(message.c_str()).rfind("FAILED READPROGRAM_2: ", 0), 0u) << message.c_str();
    EXPECT_STREQ(vars.getit("NEXTSTEP").c_str(), "END");
    EXPECT_FALSE(e->getby());
    EXPECT_TRUE(locksFree(*e));
    EXPECT_TRUE(e->batch(&vars, ordinal, message));
}

TEST_P(CorePrcsBatch, VersioningGuards) {
    struct Row {
        const char* name;
        bool freeCurrent;
        bool fillAll;
    };
    const Row rows[] = {
        {"", false, false},             // no name
        {"NEW.XML", true, false},       // the current slot is free
        {"NEW.XML", false, true},       // no free slot
        {"../NEW.XML", false, false},   // leaves the program folder
        {"/tmp/NEW.XML", false, false}, // absolute
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto e = loaded();
        ASSERT_FALSE(e->isfailed());
        select(*e, kThree);
        if (r.freeCurrent) e->getmm()->clrpr(kThree);
        if (r.fillAll)
            for (int32_t s = 0; s < CoreMmry::iCmemorydim; ++s)
                if (e->getmm()->getfp(s, true) == CoreAnsx("0"))
                    e->getmm()->setvl(s, false, "INIT.XML", "<PROGRAM><NAME>F</NAME></PROGRAM>");
        CoreVars vars;
        fill(vars, {{"NEXTSTEP", "VERSIONING_2"}, {"VERSIONINGNAME", r.name}});
        runChain(*e, vars, {{2, "NOT SAVED", "END"}});
        EXPECT_EQ(e->versg(r.name), kThree);
        EXPECT_EQ(Access::currentSlot(*e).load(), kThree);
        EXPECT_FALSE(std::filesystem::exists(data() / "progs/NEW.XML"));
        EXPECT_FALSE(std::filesystem::exists(data() / "NEW.XML"));
    }
}

TEST_P(CorePrcsBatch, ExportWritesTheSlotsOwnForm) {
    auto e = loaded();
    ASSERT_FALSE(e->isfailed());
    // kind 0, loose: the slot's own file rewritten; a failed write keeps it whole.
    select(*e, kThree);
    const std::string before = bytesOf(data() / "progs/THREE.XML");
    EXPECT_EQ(writeUnderFileSizeLimit(16, [&] { return e->svprf(0, -1, "0", false, -1, false, 1.0, -1); }),
              0);
    EXPECT_EQ(bytesOf(data() / "progs/THREE.XML"), before);
    EXPECT_TRUE(e->svprf(0, -1, "0", false, -1, false, 1.0, -1));
    EXPECT_NE(bytesOf(data() / "progs/THREE.XML").find("Three"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(repository()));

    // kind 0, packed: a container in the repository holding the program text; the original untouched.
    select(*e, kPacked);
    const std::string original = bytesOf(data() / "progs/PACKED.Q7P");
    EXPECT_TRUE(e->svprf(0, -1, "0", false, -1, false, 1.0, -1));
    EXPECT_EQ(bytesOf(data() / "progs/PACKED.Q7P"), original);
    CoreFsys store(&pool);
    ASSERT_TRUE(
        store.loada(CoreAnsx((repository() / "PROGS/PACKED.Q7P").string().c_str()), "0", true, nullptr));
    EXPECT_NE(std::string(store.ct2as(store.getit("PROGS/PACKED.XML")).c_str()).find("Packed"),
              std::string::npos);

    // kind 1: the plain form under the .XML name.
    EXPECT_TRUE(e->svprf(1, -1, "0", false, -1, false, 1.0, -1));
    EXPECT_NE(bytesOf(data() / "progs/PACKED.XML").find("Packed"), std::string::npos);

    // kind 2 without a render tool: vector container and program container in the caller's folder.
    EXPECT_TRUE(e->svprf(2, -1, "export", false, -1, false, 1.0, -1));
    EXPECT_TRUE(
        store.loada(CoreAnsx((data() / "export/VECTORS/PACKED.Q7V").string().c_str()), "0", true, nullptr));
    EXPECT_TRUE(
        store.loada(CoreAnsx((data() / "export/PROGS/PACKED.Q7P").string().c_str()), "0", true, nullptr));
}

// What a save leaves on disk: the files it names are created or replaced; every other file under the
// test folder (the user's own loose files named like a packed program's items among them) keeps its
// bytes and its inode, which a replacement would change.
TEST_P(CorePrcsBatch, EverySaveWritesOnlyTheFilesItNames) {
    using Snapshot = std::map<std::string, std::pair<ino_t, std::string>>;
    const auto snapshot = [this] {
        Snapshot files;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
            struct stat status {};
            if (entry.is_regular_file() && ::stat(entry.path().c_str(), &status) == 0)
                files[std::filesystem::relative(entry.path(), root).string()] = {status.st_ino, bytesOf(entry.path())};
        }
        return files;
    };
    const auto version = [this](const char* name) {
        return [this, name](CorePrcs& e) {
            CoreVars vars;
            fill(vars, {{"NEXTSTEP", "VERSIONING"}, {"VERSIONINGNAME", name}});
            runChain(e, vars, {{1, "Saving", "VERSIONING_2"}, {2, "Saving", "END"}});
        };
    };
    const auto save = [](int16_t kind, const char* folder = "0") {
        return [kind, folder](CorePrcs& e) { EXPECT_TRUE(e.svprf(kind, -1, folder, false, -1, false, 1.0, -1)); };
    };
    struct Row {
        const char* name;
        int32_t slot;
        std::function<void(CorePrcs&)> save;
        std::set<std::string> written; // below the test folder
        std::function<void(CorePrcs&)> check = nullptr;
        std::function<void(CorePrcs&)> prepare = nullptr;
    };
    const Row rows[] = {
        {"own form, loose", kThree, save(0), {"data/progs/THREE.XML"}},
        {"plain form of a packed slot", kPacked, save(1), {"data/progs/PACKED.XML"}},
        {"own form, packed", kPacked, save(0), {"data/VorlanTempRepository/progs/PACKED.Q7P"}},
        {"SAVEPROGRAM of slot 0", kInit,
         [this](CorePrcs& e) {
             CoreVars vars;
             fill(vars, {{"NEXTSTEP", "SAVEPROGRAM"}});
             runChain(e, vars, {{1, "Saving", "SAVEPROGRAM_1"}, {2, "Saving", "END"}});
         },
         {"data/progs/INIT.XML"}},
        {"render form of a loose slot", kThree, save(2, "export"),
         {"data/export/vectors/THREE.Q7V", "data/export/progs/THREE.Q7P"},
         [this](CorePrcs&) {
             CoreFsys store(&pool);
             ASSERT_TRUE(store.loada(CoreAnsx((data() / "export/VECTORS/THREE.Q7V").string().c_str()), "0", true,
                                     nullptr));
             for (const char* kernel : {"H1.WAV", "H2.WAV", "H3.WAV"}) {
                 const int32_t id = store.getit((std::string("VECTORS/") + kernel).c_str());
                 void* bytes = nullptr;
                 const int32_t size = store.getco(id, &bytes);
                 EXPECT_TRUE(std::string(static_cast<const char*>(bytes), size > 0 ? size : 0) ==
                             bytesOf(data() / "vectors" / kernel))
                     << kernel << " is not the kernel file (" << size << " bytes)";
             }
         }},
        {"own form, loose, beside a twin differing in case", kEmpty, save(0), {"data/progs/three.xml"},
         nullptr,
         [this](CorePrcs& e) {
             writeText(data() / "progs/three.xml", threeHarmonics("three"));
             ASSERT_TRUE(e.getmm()->loadl(kEmpty, CoreAnsx("three.xml")));
         }},
        {"a version of a loose slot", kThree, version("THREE2.XML"), {"data/progs/THREE2.XML"}},
        {"a version of a packed slot", kPacked, version("PACKED2.Q7P"), {"data/progs/PACKED2.Q7P"},
         [](CorePrcs& e) {
             // Beside the original, naming the original's vector container: it plays now and later.
             EXPECT_STREQ(e.getmm()->getfv(kEmpty, true).UpperCase().c_str(), "PACKED.Q7V");
             for (int pass = 0; pass < 2; ++pass) {
                 ASSERT_TRUE(e.ldpdm(kEmpty, false));
                 EXPECT_FALSE(Access::loadFallback(e));
                 EXPECT_EQ(std::string(Access::program(e).getnm().c_str()), "Packed");
                 ASSERT_TRUE(e.getmm()->loadl(kEmpty, CoreAnsx("PACKED2.Q7P"))); // as a later session reads it
             }
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::filesystem::remove_all(root / "data");
        auto e = loaded("<HDIM>3</HDIM>");
        ASSERT_FALSE(e->isfailed());
        for (const char* mine : {"PACKED.XML", "H1.WAV", "IMP.WAV", "vectors/PACKED.XML", "progs/H1.WAV"})
            writeText(data() / mine, std::string("a user's own ") + mine);
        if (r.prepare) r.prepare(*e);
        select(*e, kAlternative); // the last loose load came from another folder
        select(*e, r.slot);
        ASSERT_FALSE(Access::loadFallback(*e));
        const Snapshot before = snapshot();
        r.save(*e);
        const Snapshot after = snapshot();
        std::set<std::string> written;
        for (const auto& [name, file] : after)
            if (!before.count(name) || before.at(name) != file) written.insert(name);
        for (const auto& [name, file] : before)
            if (!after.count(name)) written.insert(name + " (removed)");
        EXPECT_EQ(written, r.written);
        if (r.check) r.check(*e);
    }
}

TEST_P(CorePrcsBatch, RenderFormRunsItsToolAndLeavesNoRenderedDataBehind) {
    struct Row {
        const char* tool;
        int32_t renderParam;
        int64_t length;
        int32_t frames; // of every rendered vector file
        bool equalise = false;
    };
    // 1000 µs at 48 kHz are 48 samples; an impulse render shorter than 2 samples gets 100.
    const Row rows[] = {{"impulse", 1000, 1000, 48},
                        {"impulse, short", 1000, 10, 100},
                        {"cut", -1, 1000, 48},
                        {"equalised", 1000, 1000, 48, true}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.tool);
        auto e = loaded();
        ASSERT_FALSE(e->isfailed());
        select(*e, kPacked);
        const std::string vectors = bytesOf(data() / "vectors/PACKED.Q7V");
        ASSERT_TRUE(e->svprf(2, r.length, "render", false, r.renderParam, r.equalise, 1.0, -1));
        CoreFsys store(&pool);
        ASSERT_TRUE(store.loada(CoreAnsx((data() / "render/VECTORS/PACKED.Q7V").string().c_str()), "0", true,
                                nullptr));
        for (const char* item : {"H1.WAV", "H2.WAV", "H3.WAV"}) {
            CoreWvfr reader(&pool, &store, true);
            reader.open_(item);
            EXPECT_EQ(reader.getdr(false), r.frames) << item;
            reader.close();
        }
        EXPECT_TRUE(
            store.loada(CoreAnsx((data() / "render/PROGS/PACKED.Q7P").string().c_str()), "0", true, nullptr));
        EXPECT_EQ(bytesOf(data() / "vectors/PACKED.Q7V"), vectors);
        // A plain save afterwards writes the program only, no rendered vector file.
        EXPECT_TRUE(e->svprf(1, -1, "0", false, -1, false, 1.0, -1));
        for (const char* loose : {"H1.WAV", "vectors/H1.WAV", "progs/H1.WAV"})
            EXPECT_FALSE(std::filesystem::exists(data() / loose) && bytesOf(data() / loose).size() < 1000)
                << loose;
    }
}

TEST_P(CorePrcsBatch, RefusesPathsThatLeaveTheDataFolder) {
    const std::string outside = (root / "outside.xml").string(); // absolute, beside the data folder
    for (const std::string& path : {outside, std::string("../OUTSIDE.XML")}) {
        SCOPED_TRACE(path);
        auto e = loaded();
        ASSERT_FALSE(e->isfailed());
        select(*e, kThree);
        e->getmm()->setfp(kThree, path.c_str());
        CoreVars vars;
        fill(vars, {{"NEXTSTEP", "SAVEPROGRAM"}});
        runChain(*e, vars, {{1, "Saving", "SAVEPROGRAM_1"}, {2, "NOT SAVED", "END"}});
        EXPECT_FALSE(e->svprf(0, -1, "0", false, -1, false, 1.0, -1));
        EXPECT_FALSE(std::filesystem::exists(outside));
        EXPECT_FALSE(std::filesystem::exists(data() / "OUTSIDE.XML"));
        EXPECT_FALSE(std::filesystem::exists(repository()));
    }
}

TEST_P(CorePrcsBatch, BatchBeanRunsTheSteps) {
    auto e = loaded();
    ASSERT_FALSE(e->isfailed());
    const auto put = [&](const char* key, const char* value) {
        e->setbs(223, key, nullptr);
        e->setbs(224, value, nullptr);
    };
    put("NEXTSTEP", "DELETEMEMORYLOC");
    put("PROG", "3");
    put("DELETED", "Gone");
    EXPECT_FALSE(e->getbb(226, nullptr));
    EXPECT_STREQ(e->getbs(226, nullptr).c_str(), "Gone 3");
    EXPECT_TRUE(e->getbb(226, nullptr));
    EXPECT_STREQ(e->getbs(226, nullptr).c_str(), "");
    EXPECT_EQ(slotName(*e, kBeside), "0");
}

INSTANTIATE_TEST_SUITE_P(StoreForms, CorePrcsBatch, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "AsPlugin" : "StoreLess"; });

} // namespace
