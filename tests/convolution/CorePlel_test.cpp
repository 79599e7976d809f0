#include "convolution/CorePlel.h"

#include "base/CorePool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

using Buffers = std::vector<void*>;
Buffers freedBuffers; // every buffer freed through the registry, in order

void countingRelease(VECEXTENSION*, CorePool* pool, void* p) {
    freedBuffers.push_back(p);
    pool->free_(p);
}

class CorePlelTest : public ::testing::Test {
protected:
    // Registers a fresh pair (or `shared` as both channels) inside the open group, if any; the
    // pair's buffers afterwards go to `pair`.
    int add(const char* key, int* owner, long a = 1, int b = 2, long c = 3, long d = 4, short kind = 5,
            Buffers* pair = nullptr, void* shared = nullptr) {
        void* left = shared ? shared : pool.mallc(0, 16, "CNVL");
        void* right = shared ? shared : pool.mallc(0, 16, "CNVL");
        if (pair) *pair = {left, right};
        const int id = registry.addel(countingRelease, nullptr, &left, &right, key, a, b, c, d, owner, kind);
        if (pair) pair->insert(pair->end(), {left, right});
        return id;
    }
    int addIn(const char* group, const char* key, int* owner) {
        registry.begin(group, true);
        const int id = add(key, owner);
        registry.end__();
        return id;
    }

    CorePool pool;
    CorePlel registry{&pool};
    int one = 1, two = 2;
};

// Runs `work` on this thread; if it has not finished within two seconds something waits for a lock
// that will never come free, and the program stops rather than hang.
template <typename Work>
void finishesAtOnce(Work work) {
    std::atomic<bool> done{false};
    std::thread watchdog([&done] {
        for (int i = 0; i < 200 && !done.load(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (done.load()) return;
        ADD_FAILURE() << "the registry waited for its own open group";
        std::_Exit(1);
    });
    work();
    done.store(true);
    watchdog.join();
}

// Runs `work` on another thread: it must not finish while the group is open, and must once it closes.
template <typename Work>
void waitsForEnd(CorePlel& registry, Work work) {
    std::atomic<bool> done{false};
    std::thread other([&] { work(), done.store(true); });
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_FALSE(done.load());
    registry.end__();
    other.join();
    EXPECT_TRUE(done.load());
}

TEST_F(CorePlelTest, SharesOnlyBetweenOwnersOfOneSharingGroupWithEqualParameters) {
    struct Case {
        const char *what, *group, *key; // the second registration's; the first is "k" in "load"
        bool share, shared;
        int* owner;
        long a, c, d;
        int b;
        short kind;
    };
    const Case cases[] = {
        {"equal, another owner", "load", "k", true, true, &two, 1, 3, 4, 2, 5},
        {"the same owner", "load", "k", true, false, &one, 1, 3, 4, 2, 5},
        {"outside any group", nullptr, "k", true, false, &two, 1, 3, 4, 2, 5},
        {"group without sharing", "load", "k", false, false, &two, 1, 3, 4, 2, 5},
        {"another group", "other", "k", true, false, &two, 1, 3, 4, 2, 5},
        {"group name in another case", "LOAD", "k", true, false, &two, 1, 3, 4, 2, 5},
        {"another key", "load", "K", true, false, &two, 1, 3, 4, 2, 5},
        {"another a", "load", "k", true, false, &two, 9, 3, 4, 2, 5},
        {"another b", "load", "k", true, false, &two, 1, 3, 4, 9, 5},
        {"another c", "load", "k", true, false, &two, 1, 9, 4, 2, 5},
        {"another d", "load", "k", true, false, &two, 1, 3, 9, 2, 5},
        {"another kind", "load", "k", true, false, &two, 1, 3, 4, 2, 9},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Buffers held, mine;
        registry.begin("load", true);
        const int id = add("k", &one, 1, 2, 3, 4, 5, &held);
        registry.end__();
        freedBuffers.clear();
        if (c.group) registry.begin(c.group, c.share);
        const int second = add(c.key, c.owner, c.a, c.b, c.c, c.d, c.kind, &mine);
        if (c.group) registry.end__();
        EXPECT_EQ(second == id, c.shared);
        EXPECT_EQ(registry.refer(id), c.shared ? 2 : 1);
        // On a match the caller's buffers are freed, left first, and it receives the held ones.
        const Buffers& kept = c.shared ? held : mine;
        EXPECT_EQ(freedBuffers, c.shared ? Buffers(mine.begin(), mine.begin() + 2) : Buffers());
        EXPECT_EQ(Buffers(mine.begin() + 2, mine.end()), Buffers(kept.begin(), kept.begin() + 2));
        registry.relel(id, true);
        registry.relel(second, true);
    }
    EXPECT_EQ(pool.getma(), 0);
}

TEST_F(CorePlelTest, LastReferenceFreesThePairOnceAndUnknownIdsChangeNothing) {
    const int id = addIn("load", "k", &one);
    EXPECT_EQ(addIn("load", "k", &two), id);
    const int64_t held = pool.getma();
    freedBuffers.clear();
    registry.relel(id + 100, false);
    registry.relel(-1, true);
    registry.relel(id, false);
    EXPECT_EQ(std::tuple(freedBuffers.size(), registry.refer(id), pool.getma()), std::tuple(0u, 1, held));
    registry.relel(id, false);
    EXPECT_EQ(std::tuple(freedBuffers.size(), registry.count(), pool.getma()), std::tuple(2u, 0, 0));
    // One buffer for both channels is freed once, also when a match frees the caller's.
    void* same = pool.mallc(0, 8, "RVCT");
    freedBuffers.clear();
    registry.relel(add("raw", nullptr, 0, 0, 0, 0, 0, nullptr, same), false);
    EXPECT_EQ(freedBuffers, Buffers{same});
    registry.begin("load", true);
    add("k", &one);
    same = pool.mallc(0, 16, "CNVL");
    freedBuffers.clear();
    add("k", &two, 1, 2, 3, 4, 5, nullptr, same);
    registry.end__();
    EXPECT_EQ(freedBuffers, Buffers{same});
}

TEST_F(CorePlelTest, GarbageCollectionRemovesOnlyEmptyGroupsAndKeepsTheOpenOne) {
    std::vector<int> ids;
    for (const char* name : {"a", "b", "c", "d"}) ids.push_back(addIn(name, name, &one));
    registry.relel(ids[1], false);
    registry.relel(ids[3], false);
    registry.garlk();
    EXPECT_EQ(registry.groups(), 2);
    EXPECT_EQ(addIn("c", "c", &two), ids[2]); // the kept groups still share
    registry.begin("open", true);
    registry.garlk();
    EXPECT_EQ(add("k", &one), add("k", &two));
    registry.end__();
    EXPECT_EQ(registry.groups(), 3);
}

TEST_F(CorePlelTest, AnOpenGroupMakesOtherThreadsWaitAndTheirAddsStayOutsideIt) {
    const int id = add("k", &one);
    for (int action = 0; action < 4; ++action) {
        registry.begin("load", true);
        const int held = action == 3 ? add("k", &one) : -1;
        int other = held;
        waitsForEnd(registry, [&] {
            if (action == 0) registry.begin("other", true), registry.end__();
            if (action == 1) registry.garlk();
            if (action == 2) registry.relel(id, false);
            if (action == 3) other = add("k", &two); // registered after the group closed: outside it
        });
        EXPECT_EQ(other == held, action != 3);
    }
    EXPECT_EQ(registry.refer(id), 0);
}

TEST_F(CorePlelTest, TheHoldingThreadReleasesCollectsAndDestroysWithoutWaiting) {
    registry.begin("load", true);
    const int id = add("k", &one);
    add("other", &one);
    finishesAtOnce([&] { registry.relel(id, false), registry.garlk(); });
    EXPECT_TRUE(registry.ingrp());
    registry.end__();
    EXPECT_EQ(registry.count(), 1);
    auto* local = new CorePlel(&pool);
    local->begin("load", true);
    void* left = pool.mallc(0, 16, "CNVL");
    void* right = pool.mallc(0, 16, "CNVL");
    local->addel(countingRelease, nullptr, &left, &right, "k", 0, 0, 0, 0, &one, 0);
    finishesAtOnce([&] { delete local; }); // force-releases what it holds
    EXPECT_EQ(Buffers(freedBuffers.end() - 2, freedBuffers.end()), (Buffers{left, right}));
}

TEST_F(CorePlelTest, GuardUnlocksOnExceptionAndEndFromElsewhereIsIgnored) {
    try {
        CorePlel::GroupGuard guard(&registry, "load", true);
        add("k", &one);
        throw CoreAnsx("bad kernel");
    } catch (const CoreAnsx&) {
    }
    EXPECT_FALSE(registry.ingrp());
    finishesAtOnce([&] { std::thread([&] { registry.begin("next", true), registry.end__(); }).join(); });
    {
        CorePlel::GroupGuard guard(&registry, "load", true);
        guard.close();
        guard.close();
        registry.begin("next", false); // opened after close: not the guard's to end
    }
    std::thread([&] { registry.end__(); }).join();
    EXPECT_TRUE(registry.ingrp());
    registry.end__();
    registry.end__(); // with no group open
    finishesAtOnce([&] { registry.begin("again", false), registry.end__(); });
}

} // namespace
