// The program memory's slots: getters and setters, whole-slot texts, searches, clearing, bad numbers,
// the file store it owns or is given, and its lock under several threads.
#include "processor/CoreMmry.h"

#include "CoreMmryTestAccess.h"
#include "filestore/CoreFsys.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Access = CoreMmryTestAccess;

class CoreMmryTest : public MemoryFolderTest {};

TEST_F(CoreMmryTest, GettersAndSettersAnswerForUsedFreeAndClearedSlots) {
    auto m = make();
    m->setvl(1, true, "Kick.Q7P", "<PROGRAM><NAME>x</NAME></PROGRAM>");
    m->setnm(1, "Kick");
    m->setds(1, "dry");
    Access::put(*m, 2, "Gone", "pad");
    m->clrpr(2);
    for (int32_t slot : {1, 2, 3}) {
        m->setct(slot, "Room", 2);
        m->setfp(slot, "dir/New.wav"); // the packed flag settles the extension
    }
    EXPECT_EQ(Access::state(*m, 1), "Kick|||Room|dry||dir/New.q7p|dir/New.q7p|progs/dir/New.q7p|dir/New.q7v|"
                                    "vectors/dir/New.q7v|PU");
    EXPECT_EQ(Access::state(*m, 2), Access::freeState);
    EXPECT_EQ(Access::state(*m, 3), Access::freeState);
    // A committed text makes a cleared slot used again with its old file path and no metadata.
    m->setvl(2, "<PROGRAM><NAME>Back</NAME></PROGRAM>", false);
    EXPECT_EQ(Access::state(*m, 2), "||||||Gone.xml|Gone.xml|progs/Gone.xml|Gone.q7v|vectors/Gone.q7v|U");
    EXPECT_NE(Access::document(*m, 2), nullptr);
}

TEST_F(CoreMmryTest, SearchesFindNamesAndFreeSlots) {
    auto m = make();
    Access::put(*m, 4, "0");
    Access::put(*m, 6, "Kick");
    Access::put(*m, 8, "Kick");
    EXPECT_EQ(std::make_pair(m->srcnm("Kick"), m->srcnm("kick")), std::make_pair(6, -1));
    EXPECT_EQ(m->srcnm("0"), -1); // "0" names nothing, even a slot called so
    EXPECT_EQ(std::make_pair(m->getcf(6), m->getcf(5)), std::make_pair(7, 5));
    for (int32_t slot = 9901; slot < 10000; ++slot) Access::put(*m, slot, "Tail");
    EXPECT_EQ(m->getcf(9995), 0); // wraps
    EXPECT_EQ(m->setmc(99), 9900);
    EXPECT_EQ(m->getne(), 9900);
    Access::put(*m, 9900, "Fill");
    EXPECT_EQ(m->getne(), -1); // and back to the start
    EXPECT_EQ(m->getne(), 0);
    m->clear(99);
    m->clear();
    EXPECT_EQ(m->getcf(9999), 9999);
    EXPECT_EQ(m->srcnm("Kick"), -1);
}

TEST_F(CoreMmryTest, TextThatGivesNoElementThrowsAndLeavesTheSlotAsItWas) {
    auto m = make();
    Access::put(*m, 3, "Kick", "kit");
    const std::string before = Access::state(*m, 3);
    const CoreXml_* document = Access::document(*m, 3);
    for (const char* text : {"</PROGRAM>", "0", ""}) {
        for (int32_t slot : {3, 4}) {
            EXPECT_THROW(m->setvl(slot, true, "other.q7p", text), CoreAnsx);
            EXPECT_THROW(m->setvl(slot, text, true), CoreAnsx);
        }
        // Each getter takes the lock: a lock left held by the throw would hang here.
        EXPECT_EQ(Access::state(*m, 3), before);
        EXPECT_EQ(Access::state(*m, 4), Access::freeState);
        EXPECT_EQ(Access::document(*m, 3), document);
    }
}

TEST_F(CoreMmryTest, NumbersOutsideTheArraysReadAsFreeAndChangeNothing) {
    auto m = make(true);
    Access::put(*m, 0, "First", "kit");
    Access::put(*m, 9999, "Last", "kit");
    const std::string first = Access::state(*m, 0), last = Access::state(*m, 9999);
    // Each number is tried wherever it is out of range: as a slot, a bank, a level (bank 100 and level
    // 3 are the first past the ends, and valid slots).
    struct Bad { int32_t value; bool slot, bank, level; };
    const Bad rows[] = {{-1, true, true, true}, {10000, true, true, true}, {INT_MIN, true, true, true},
                        {INT_MAX, true, true, true}, {100, false, true, false}, {3, false, false, true}};
    for (const Bad& r : rows) {
        SCOPED_TRACE(r.value);
        const int32_t bad = r.value;
        if (r.slot) {
            EXPECT_EQ(Access::state(*m, bad), Access::freeState);
            EXPECT_EQ(m->getcf(bad), -1);
            EXPECT_FALSE(m->getca(bad, "First.xml"));
            m->setnm(bad, "x");
            m->setds(bad, "x");
            m->setct(bad, "x", 0);
            m->setfp(bad, "x");
            m->setvl(bad, true, "x.q7p", "<PROGRAM></PROGRAM>");
            m->setvl(bad, "<PROGRAM></PROGRAM>", true);
            m->setca(bad);
            m->invca(bad);
            m->iclrp(bad);
            m->clrpr(bad);
        }
        if (r.bank) {
            EXPECT_EQ(m->setmc(bad), -1);
            m->iclea(bad);
            m->clear(bad);
        }
        if (r.level) {
            m->setct(0, "x", bad);
            m->setct(9999, "x", bad);
            EXPECT_EQ(std::string(m->getct(0, bad).c_str()), "0");
        }
    }
    EXPECT_EQ(Access::state(*m, 0) + Access::state(*m, 9999), first + last);
    EXPECT_EQ(m->getne(), 1); // the cursor never moved
}

TEST_F(CoreMmryTest, OnlyAnOwnStoreWithTheCacheAskedForKeepsACache) {
    struct Row { bool given, cache, kept; };
    for (const Row r : {Row{false, true, true}, Row{false, false, false}, Row{true, true, false}}) {
        std::filesystem::remove_all(root / "cache");
        CoreFsys store(&pool);
        {
            auto m = make(r.cache, r.given ? &store : nullptr);
            EXPECT_EQ(std::filesystem::is_directory(root / "cache"), r.kept);
            std::filesystem::create_directory(root / "cache");
            Access::put(*m, 1, "Kick");
            m->setvl(1, "<PROGRAM></PROGRAM>", true);
            EXPECT_EQ(std::filesystem::exists(root / "cache" / "Kick.xml"), r.kept);
        }
        EXPECT_GE(store.crtit("after.xml"), 0); // a given store outlives the memory
    }
    for (int cycle = 0; cycle < 1000; ++cycle) Access::put(*make(true), cycle % 10000, "Cycle", "kit");
    EXPECT_EQ(pool.getma(), 0);
}

TEST_F(CoreMmryTest, ThreadsMixingLockedCallsShareTheMemory) {
    auto m = make();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&m, t] {
            const CoreAnsx filters[3] = {"kit", "0", "0"};
            for (int i = 0; i < 200; ++i) {
                const int32_t slot = (i * 7 + t) % 50;
                switch ((i + t) % 6) {
                case 0: m->setvl(slot, false, "p.xml", "<PROGRAM><NAME>p</NAME></PROGRAM>"); break;
                case 1: m->setct(slot, "kit", 0); m->setnm(slot, "n"); break;
                case 2: m->clrpr(slot); break;
                case 3: m->updtt(); break;
                case 4: m->fix_l(slot); m->getvl(slot, false); break; // a re-read while others commit
                default: m->getck(slot, 1, filters, 1); m->getcf(slot); m->getnm(slot); break;
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_LT(m->getcf(0), 50);
}

} // namespace
