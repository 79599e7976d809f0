#include "convolution/CorePlel.h"

#include "base/CorePool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>
#include <vector>

namespace {

// Every buffer freed through the registry, in order, so tests can see what was freed and when.
std::vector<void*> freedBuffers;

void countingRelease(VECEXTENSION*, CorePool* pool, void* p) {
    freedBuffers.push_back(p);
    if (pool != nullptr) pool->free_(p);
}

struct Pair {
    void* left;
    void* right;
};

class CorePlelTest : public ::testing::Test {
protected:
    void SetUp() override {
        freedBuffers.clear();
        baseline = pool.getma();
    }

    Pair newPair(int n = 16) { return Pair{pool.mallc(0, n, "CNVL"), pool.mallc(0, n, "CNVL")}; }

    int add(CorePlel& registry, Pair& pair, const char* key, void* owner, long a = 1, int b = 2, long c = 3,
            long d = 4, short kind = 5) {
        return registry.addel(countingRelease, nullptr, &pair.left, &pair.right, CoreAnsx(key), a, b, c, d,
                              owner, kind);
    }

    CorePool pool;
    int64_t baseline = 0;
    int ownerOne = 1;
    int ownerTwo = 2;
};

// Runs `work` on the calling thread; if it has not finished within two seconds the registry waits
// for itself, and the test program stops rather than hang.
template <typename Work>
void finishesAtOnce(Work work) {
    std::atomic<bool> done{false};
    std::thread watchdog([&done] {
        for (int i = 0; i < 200 && !done.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!done.load()) {
            ADD_FAILURE() << "the registry waited for its own open group";
            std::_Exit(1);
        }
    });
    work();
    done.store(true);
    watchdog.join();
}

// Starts `work` on another thread and checks that it does not finish while the group is open, and
// does once the group closes.
template <typename Work>
void waitsForEnd(CorePlel& registry, Work work) {
    std::atomic<bool> done{false};
    std::thread other([&] {
        work();
        done.store(true);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_FALSE(done.load());
    registry.end__();
    other.join();
    EXPECT_TRUE(done.load());
}

TEST_F(CorePlelTest, SameOwnerTwiceGetsTwoRecords) {
    CorePlel registry(&pool);
    registry.begin("load", true);
    Pair first = newPair(), second = newPair();
    const Pair secondBefore = second;
    const int idOne = add(registry, first, "k", &ownerOne);
    const int idTwo = add(registry, second, "k", &ownerOne);
    registry.end__();
    EXPECT_NE(idOne, idTwo);
    EXPECT_EQ(registry.count(), 2);
    EXPECT_EQ(second.left, secondBefore.left);
    EXPECT_TRUE(freedBuffers.empty());
}

TEST_F(CorePlelTest, SharesOnlyInsideOneSharingGroup) {
    CorePlel registry(&pool);
    // Outside any group: never shared.
    Pair outsideA = newPair(), outsideB = newPair();
    EXPECT_NE(add(registry, outsideA, "k", &ownerOne), add(registry, outsideB, "k", &ownerTwo));
    // A group opened without sharing.
    registry.begin("plain", false);
    Pair plainA = newPair(), plainB = newPair();
    EXPECT_NE(add(registry, plainA, "k", &ownerOne), add(registry, plainB, "k", &ownerTwo));
    registry.end__();
    // Two sharing groups: a record of one is not offered to the other.
    registry.begin("first", true);
    Pair firstA = newPair();
    const int held = add(registry, firstA, "k", &ownerOne);
    registry.end__();
    registry.begin("second", true);
    Pair secondB = newPair();
    EXPECT_NE(add(registry, secondB, "k", &ownerTwo), held);
    registry.end__();
    EXPECT_TRUE(freedBuffers.empty());
    // Reopening the first group by name shares with its record.
    registry.begin("first", true);
    Pair again = newPair();
    const Pair mine = again;
    EXPECT_EQ(add(registry, again, "k", &ownerTwo), held);
    registry.end__();
    EXPECT_EQ(again.left, firstA.left);
    EXPECT_EQ(again.right, firstA.right);
    ASSERT_EQ(freedBuffers.size(), 2u);
    EXPECT_EQ(freedBuffers[0], mine.left); // left first when they differ
    EXPECT_EQ(freedBuffers[1], mine.right);
    EXPECT_EQ(registry.refer(held), 2);
    // Group names compare case-sensitively.
    registry.begin("FIRST", true);
    Pair upper = newPair();
    EXPECT_NE(add(registry, upper, "k", &ownerTwo), held);
    registry.end__();
}

TEST_F(CorePlelTest, EveryComparedParameterPreventsSharing) {
    struct Variant {
        const char* key;
        long a;
        int b;
        long c;
        long d;
        short kind;
    };
    const Variant variants[] = {{"other", 1, 2, 3, 4, 5}, {"k", 9, 2, 3, 4, 5}, {"k", 1, 9, 3, 4, 5},
                                {"k", 1, 2, 9, 4, 5},     {"k", 1, 2, 3, 9, 5}, {"k", 1, 2, 3, 4, 9}};
    for (const Variant& v : variants) {
        CorePlel registry(&pool);
        registry.begin("load", true);
        Pair base = newPair(), candidate = newPair();
        const int held = add(registry, base, "k", &ownerOne);
        EXPECT_NE(registry.addel(countingRelease, nullptr, &candidate.left, &candidate.right, CoreAnsx(v.key),
                                 v.a, v.b, v.c, v.d, &ownerTwo, v.kind),
                  held)
            << v.key << " " << v.a << " " << v.b << " " << v.c << " " << v.d << " " << v.kind;
        registry.end__();
    }
    EXPECT_EQ(pool.getma(), baseline);
}

TEST_F(CorePlelTest, SharedPairSurvivesFirstReleaseAndIsFreedBySecond) {
    CorePlel registry(&pool);
    registry.begin("load", true);
    Pair one = newPair(), two = newPair();
    const int id = add(registry, one, "k", &ownerOne);
    EXPECT_EQ(add(registry, two, "k", &ownerTwo), id);
    registry.end__();
    const int64_t held = pool.getma();
    freedBuffers.clear();
    registry.relel(id, false);
    EXPECT_TRUE(freedBuffers.empty());
    EXPECT_EQ(registry.refer(id), 1);
    EXPECT_EQ(pool.getma(), held);
    registry.relel(id, false);
    EXPECT_EQ(freedBuffers.size(), 2u);
    EXPECT_EQ(registry.count(), 0);
    EXPECT_EQ(pool.getma(), baseline);
}

TEST_F(CorePlelTest, ReleasingAnUnknownIdChangesNothing) {
    CorePlel registry(&pool);
    Pair pair = newPair();
    const int id = add(registry, pair, "k", &ownerOne);
    registry.relel(id + 100, false);
    registry.relel(-1, true);
    EXPECT_EQ(registry.count(), 1);
    EXPECT_EQ(registry.refer(id), 1);
    EXPECT_TRUE(freedBuffers.empty());
}

TEST_F(CorePlelTest, OneBufferForBothChannelsIsFreedOnce) {
    CorePlel registry(&pool);
    void* same = pool.mallc(0, 8, "RVCT");
    void* left = same;
    void* right = same;
    const int id =
        registry.addel(countingRelease, nullptr, &left, &right, CoreAnsx("raw"), 0, 0, 0, 0, nullptr, 0);
    registry.relel(id, false);
    ASSERT_EQ(freedBuffers.size(), 1u);
    EXPECT_EQ(freedBuffers[0], same);
    EXPECT_EQ(pool.getma(), baseline);

    // The same holds for a caller's buffers freed on a match.
    registry.begin("load", true);
    Pair held = newPair();
    add(registry, held, "k", &ownerOne);
    void* mine = pool.mallc(0, 16, "CNVL");
    void* mineLeft = mine;
    void* mineRight = mine;
    freedBuffers.clear();
    registry.addel(countingRelease, nullptr, &mineLeft, &mineRight, CoreAnsx("k"), 1, 2, 3, 4, &ownerTwo, 5);
    registry.end__();
    ASSERT_EQ(freedBuffers.size(), 1u);
    EXPECT_EQ(freedBuffers[0], mine);
}

TEST_F(CorePlelTest, GarbageCollectionRemovesOnlyEmptyGroups) {
    CorePlel registry(&pool);
    const char* names[] = {"a", "b", "c", "d"};
    std::vector<int> ids;
    for (const char* name : names) {
        registry.begin(name, true);
        Pair pair = newPair();
        ids.push_back(add(registry, pair, name, &ownerOne));
        registry.end__();
    }
    EXPECT_EQ(registry.groups(), 4);
    registry.relel(ids[1], false);
    registry.relel(ids[3], false);
    registry.garlk();
    EXPECT_EQ(registry.groups(), 2);
    // The kept groups still share: "c" is found again, and a new "b" is made.
    registry.begin("c", true);
    Pair pair = newPair();
    EXPECT_EQ(add(registry, pair, "c", &ownerTwo), ids[2]);
    registry.end__();
    registry.begin("b", true);
    registry.end__();
    EXPECT_EQ(registry.groups(), 3);
}

TEST_F(CorePlelTest, GarbageCollectionInsideTheOpenGroupKeepsIt) {
    CorePlel registry(&pool);
    registry.begin("open", true);
    registry.garlk();
    Pair one = newPair(), two = newPair();
    const int id = add(registry, one, "k", &ownerOne);
    EXPECT_EQ(add(registry, two, "k", &ownerTwo), id);
    registry.end__();
    EXPECT_EQ(registry.groups(), 1);
}

TEST_F(CorePlelTest, DestructorForceReleasesEverything) {
    {
        CorePlel registry(&pool);
        registry.begin("load", true);
        for (int i = 0; i < 5; ++i) {
            Pair one = newPair(), two = newPair();
            add(registry, one, "k", &ownerOne, i);
            add(registry, two, "k", &ownerTwo, i);
        }
        registry.end__();
        Pair outside = newPair();
        add(registry, outside, "solo", &ownerOne);
        EXPECT_GT(pool.getma(), baseline);
    }
    EXPECT_EQ(pool.getma(), baseline);
}

TEST_F(CorePlelTest, AnOpenGroupMakesOtherThreadsWait) {
    CorePlel registry(&pool);
    Pair pair = newPair();
    const int id = add(registry, pair, "k", &ownerOne);

    registry.begin("load", true);
    waitsForEnd(registry, [&] {
        registry.begin("other", true);
        registry.end__();
    });
    registry.begin("load", true);
    waitsForEnd(registry, [&] {
        Pair mine = newPair();
        add(registry, mine, "k", &ownerTwo);
    });
    registry.begin("load", true);
    waitsForEnd(registry, [&] { registry.garlk(); });
    registry.begin("load", true);
    waitsForEnd(registry, [&] { registry.relel(id, false); });
    EXPECT_EQ(registry.refer(id), 0);
}

TEST_F(CorePlelTest, AddFromAnotherThreadRegistersOutsideTheGroup) {
    CorePlel registry(&pool);
    registry.begin("load", true);
    Pair held = newPair();
    add(registry, held, "k", &ownerOne);
    int otherId = -1;
    Pair other = newPair();
    waitsForEnd(registry, [&] { otherId = add(registry, other, "k", &ownerTwo); });
    // Registered after the group closed, outside it: not shared.
    EXPECT_NE(other.left, held.left);
    EXPECT_EQ(registry.refer(otherId), 1);
}

TEST_F(CorePlelTest, ExceptionInsideTheGuardUnlocks) {
    CorePlel registry(&pool);
    try {
        CorePlel::GroupGuard guard(&registry, "load", true);
        Pair pair = newPair();
        add(registry, pair, "k", &ownerOne);
        throw CoreAnsx("bad kernel");
    } catch (const CoreAnsx&) {
    }
    EXPECT_FALSE(registry.ingrp());
    std::atomic<bool> began{false};
    std::thread other([&] {
        registry.begin("next", true);
        began.store(true);
        registry.end__();
    });
    for (int i = 0; i < 100 && !began.load(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(began.load());
    other.join();
}

TEST_F(CorePlelTest, GuardClosesOnceAndCloseIsIdempotent) {
    CorePlel registry(&pool);
    {
        CorePlel::GroupGuard guard(&registry, "load", true);
        EXPECT_TRUE(registry.ingrp());
        guard.close();
        EXPECT_FALSE(registry.ingrp());
        guard.close();
        // Another group opened after close is not ended by the guard's destructor.
        registry.begin("next", false);
    }
    EXPECT_TRUE(registry.ingrp());
    registry.end__();
    EXPECT_FALSE(registry.ingrp());
}

TEST_F(CorePlelTest, HolderThreadReleasesAndCollectsWithoutWaiting) {
    CorePlel registry(&pool);
    registry.begin("load", true);
    Pair one = newPair(), two = newPair();
    const int id = add(registry, one, "k", &ownerOne);
    add(registry, two, "other", &ownerOne);
    finishesAtOnce([&] {
        registry.relel(id, false);
        registry.garlk();
    });
    EXPECT_EQ(registry.refer(id), 0);
    EXPECT_TRUE(registry.ingrp());
    registry.end__();
    EXPECT_EQ(registry.count(), 1);
}

TEST_F(CorePlelTest, HolderThreadDestroysWithoutWaiting) {
    auto* registry = new CorePlel(&pool);
    registry->begin("load", true);
    Pair pair = newPair();
    add(*registry, pair, "k", &ownerOne);
    finishesAtOnce([&] { delete registry; });
    EXPECT_EQ(pool.getma(), baseline);
}

TEST_F(CorePlelTest, EndWithoutGroupOrFromAnotherThreadIsIgnored) {
    CorePlel registry(&pool);
    registry.end__();
    registry.begin("load", true);
    std::thread other([&] { registry.end__(); });
    other.join();
    EXPECT_TRUE(registry.ingrp());
    registry.end__();
    // The lock is free again: a begin from this thread succeeds at once.
    finishesAtOnce([&] {
        registry.begin("again", false);
        registry.end__();
    });
}

} // namespace
