// The program memory's slots: getters, setters, whole-slot texts, searches, clearing, bad numbers,
// the file store it owns or is given, and its lock under several threads.
#include "processor/CoreMmry.h"

#include "../common/TempFolder.h"
#include "CoreMmryTestAccess.h"
#include "base/CorePool.h"
#include "filestore/CoreFsys.h"

#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Access = CoreMmryTestAccess;
using Text = std::string;

Text str(const CoreAnsx& text) {
    return text.c_str();
}

class CoreMmryTest : public TempFolderTest {
protected:
    CorePool pool;
    std::unique_ptr<CoreMmry> make(bool cache = false) { return Access::make(&pool, root.string() + "/", cache); }
};

TEST_F(CoreMmryTest, GettersAnswerForUsedFreeAndClearedSlots) {
    auto m = make();
    m->setvl(1, true, "dir/Kick.Q7P", "<PROGRAM><NAME>x</NAME></PROGRAM>");
    m->setnm(1, "Kick");
    m->setct(1, "kit", 0);
    m->setds(1, "dry");
    Access::put(*m, 2, "Gone", "pad");
    m->clrpr(2);
    struct Row { int32_t slot; Text name, category, description, cached, stored, path, vector, vectorPath; bool packed; };
    const Row rows[] = {
        {1, "Kick", "kit", "dry", "", "dir/Kick.Q7P", "progs/dir/Kick.Q7P", "dir/Kick.q7v", "vectors/dir/Kick.q7v", true},
        {2, "0", "0", "0", "0", "", "0", "0", "0", false}, // cleared
        {3, "0", "0", "0", "0", "", "0", "0", "0", false}, // never used
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.slot);
        EXPECT_EQ(str(m->getnm(r.slot)), r.name);
        EXPECT_EQ(str(m->getct(r.slot, 0)), r.category);
        EXPECT_EQ(str(m->getds(r.slot)), r.description);
        EXPECT_EQ(str(m->getcc(r.slot)), r.cached);
        EXPECT_EQ(str(m->getpf(r.slot)), r.stored);
        EXPECT_EQ(str(m->getfp(r.slot, true)), r.stored.empty() ? "0" : r.stored);
        EXPECT_EQ(str(m->getfp(r.slot, false)), r.path);
        EXPECT_EQ(str(m->getfv(r.slot, true)), r.vector);
        EXPECT_EQ(str(m->getfv(r.slot, false)), r.vectorPath);
        EXPECT_EQ(m->getwp(r.slot), r.packed);
        // Field setters leave free slots alone.
        m->setnm(r.slot, "New");
        m->setfp(r.slot, "new.wav");
        EXPECT_EQ(str(m->getnm(r.slot)), r.slot == 1 ? "New" : "0");
    }
    EXPECT_EQ(str(m->getpf(1)), "new.q7p"); // the packed flag settles the extension

    // A committed text makes a cleared slot used again with its old file path and no metadata.
    m->setvl(2, "<PROGRAM><NAME>Back</NAME></PROGRAM>", false);
    CoreMmry::MEMORYLOC loc;
    m->getel(2, &loc);
    EXPECT_TRUE(loc.used && !loc.lazy && !loc.packed);
    EXPECT_EQ(str(loc.filepath), "Gone.xml");
    EXPECT_EQ(str(loc.name) + str(loc.category[0]) + str(loc.vectorname), "0");
    EXPECT_NE(Access::document(*m, 2), nullptr);
}

TEST_F(CoreMmryTest, SearchesFindNamesAndFreeSlots) {
    auto m = make();
    Access::put(*m, 4, "0");
    Access::put(*m, 6, "Kick");
    Access::put(*m, 8, "Kick");
    EXPECT_EQ(m->srcnm("Kick"), 6);
    EXPECT_EQ(m->srcnm("kick"), -1);
    EXPECT_EQ(m->srcnm("0"), -1); // "0" names nothing, even a slot called so
    EXPECT_EQ(m->getcf(6), 7);
    EXPECT_EQ(m->getcf(5), 5);
    for (int32_t slot = 9990; slot < 10000; ++slot) Access::put(*m, slot, "Tail");
    EXPECT_EQ(m->getcf(9995), 0); // wraps
    EXPECT_EQ(m->setmc(99), 9900);
    EXPECT_EQ(m->getne(), 9900);
    m->setvl(9900, "<PROGRAM></PROGRAM>", false);
    for (int32_t slot = 9901; slot < 9990; ++slot) Access::put(*m, slot, "Fill");
    EXPECT_EQ(m->getne(), -1); // cursor back at 0
    EXPECT_EQ(m->getne(), 0);
    m->clear(0);
    m->clear(99);
    EXPECT_EQ(m->getcf(9999), 9999);
    EXPECT_EQ(m->srcnm("Kick"), -1);
}

TEST_F(CoreMmryTest, TextThatGivesNoElementThrowsAndLeavesTheSlotAsItWas) {
    auto m = make();
    Access::put(*m, 3, "Kick", "kit");
    const CoreXml_* document = Access::document(*m, 3);
    for (const char* text : {"</PROGRAM>", "0", ""}) {
        SCOPED_TRACE(text);
        for (int32_t slot : {3, 4}) {
            EXPECT_THROW(m->setvl(slot, true, "other.q7p", text), CoreAnsx);
            EXPECT_THROW(m->setvl(slot, text, true), CoreAnsx);
        }
        // Each of these takes the lock: a guard left held by the throw would hang here.
        EXPECT_EQ(str(m->getnm(3)) + str(m->getct(3, 0)) + str(m->getpf(3)), "KickkitKick.xml");
        EXPECT_FALSE(m->getwp(3));
        EXPECT_EQ(Access::document(*m, 3), document);
        EXPECT_EQ(m->getcf(4), 4);
    }
}

TEST_F(CoreMmryTest, NumbersOutsideTheArraysReadAsFreeAndChangeNothing) {
    auto m = make(true);
    Access::put(*m, 0, "First", "kit");
    Access::put(*m, 9999, "Last", "kit");
    const auto unchanged = [&] {
        return str(m->getnm(0)) == "First" && str(m->getnm(9999)) == "Last" && m->getcf(0) == 1 &&
               str(m->getct(0, 0)) == "kit";
    };
    for (int32_t slot : {-1, 10000, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(slot);
        CoreMmry::MEMORYLOC loc;
        loc.used = true;
        loc.name = "stale";
        m->getel(slot, &loc);
        EXPECT_TRUE(!loc.used && str(loc.name).empty() && str(loc.vectorname) == "0");
        EXPECT_EQ(str(m->getnm(slot)) + str(m->getds(slot)) + str(m->getct(slot, 0)) + str(m->getcc(slot)) +
                      str(m->getfp(slot, true)) + str(m->getfv(slot, false)),
                  "000000");
        EXPECT_EQ(str(m->getpf(slot)), "");
        EXPECT_FALSE(m->getwp(slot));
        EXPECT_EQ(m->getcf(slot), -1);
        EXPECT_FALSE(m->getca(slot, "First.xml"));
        m->setnm(slot, "x");
        m->setds(slot, "x");
        m->setct(slot, "x", 0);
        m->setfp(slot, "x");
        m->setvl(slot, true, "x.q7p", "<PROGRAM></PROGRAM>");
        m->setvl(slot, "<PROGRAM></PROGRAM>", true);
        m->setca(slot);
        m->invca(slot);
        m->iclrp(slot);
        m->clrpr(slot);
        EXPECT_TRUE(unchanged());
    }
    for (int32_t bank : {-1, 100, INT_MIN, INT_MAX}) {
        EXPECT_EQ(m->setmc(bank), -1);
        m->iclea(bank);
        m->clear(bank);
        EXPECT_EQ(m->getne(), 1); // cursor still at 0
    }
    for (int32_t level : {-1, 3, INT_MIN, INT_MAX}) {
        m->setct(0, "x", level);
        EXPECT_EQ(str(m->getct(0, level)), "0");
    }
    EXPECT_TRUE(unchanged());
}

TEST_F(CoreMmryTest, OnlyAnOwnStoreWithTheCacheAskedForKeepsACache) {
    struct Row { bool given, cache, folder; };
    for (const Row r : {Row{false, true, true}, Row{false, false, false}, Row{true, true, false}}) {
        SCOPED_TRACE(std::to_string(r.given) + std::to_string(r.cache));
        std::filesystem::remove_all(root / "cache");
        {
            CoreFsys store(&pool);
            {
                auto m = Access::make(&pool, root.string() + "/", r.cache, r.given ? &store : nullptr);
                EXPECT_EQ(std::filesystem::is_directory(root / "cache"), r.folder);
                std::filesystem::create_directory(root / "cache");
                Access::put(*m, 1, "Kick");
                m->setvl(1, "<PROGRAM><NAME>Kick</NAME></PROGRAM>", true);
                EXPECT_EQ(std::filesystem::exists(root / "cache" / "Kick.xml"), r.folder);
            }
            EXPECT_GE(store.crtit("after.xml"), 0); // a given store outlives the memory
        }
    }
    for (int cycle = 0; cycle < 1000; ++cycle) {
        auto m = make(true);
        Access::put(*m, cycle % 10000, "Cycle", "kit");
    }
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
                switch ((i + t) % 5) {
                case 0: m->setvl(slot, false, "p.xml", "<PROGRAM><NAME>p</NAME></PROGRAM>"); break;
                case 1: m->setct(slot, "kit", 0); m->setnm(slot, "n"); break;
                case 2: m->clrpr(slot); break;
                case 3: m->updtt(); break;
                default: m->getck(slot, 1, filters, 1); m->getcf(slot); m->getnm(slot); break;
                }
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_LT(m->getcf(0), 50);
}

} // namespace
