// CorePlel: sharing only between owners of one sharing group with equal parameters, reference counts
// that free each pair once, garbage collection, and the open group's lock: other threads wait, the
// holding thread never does, and an exception inside the guard unlocks.
#include "convolution/CorePlel.h"

#include "base/CorePool.h"

#include <gtest/gtest.h>

#include <array>
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
    // Registers a fresh pair (or `shared` as both channels) with parameters a, b, c, d, kind; the
    // buffers given and then those received go to `pair`.
    int add(const char* key, int* owner, std::array<int, 5> p = {1, 2, 3, 4, 5}, Buffers* pair = nullptr,
            void* shared = nullptr) {
        void* left = shared ? shared : pool.mallc(0, 16, "CNVL");
        void* right = shared ? shared : pool.mallc(0, 16, "CNVL");
        if (pair) *pair = {left, right};
        const int id = registry.addel(countingRelease, nullptr, &left, &right, key, p[0], p[1], p[2], p[3],
                                      owner, short(p[4]));
        if (pair) pair->insert(pair->end(), {left, right});
        return id;
    }
    int addIn(const char* group, const char* key, int* owner) {
        CorePlel::GroupGuard guard(&registry, group, true);
        return add(key, owner);
    }

    CorePool pool;
    CorePlel registry{&pool};
    int one = 1, two = 2;
};

// Runs `work` on this thread; if it has not finished within two seconds it waits for a lock that
// will never come free, and the program stops rather than hang.
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

// The second registration against "k" by `one` in group "load"; on a match the caller's buffers are
// freed, left first, and it receives the held ones.
TEST_F(CorePlelTest, SharesOnlyBetweenOwnersOfOneSharingGroupWithEqualParameters) {
    struct Row {
        const char *what, *group, *key;
        bool share;
        int* owner;
        int changed; // index of the parameter that differs; -1 none
        bool shared;
    };
    const Row rows[] = {
        {"equal, another owner", "load", "k", true, &two, -1, true},
        {"the same owner", "load", "k", true, &one, -1, false},
        {"outside any group", nullptr, "k", true, &two, -1, false},
        {"group without sharing", "load", "k", false, &two, -1, false},
        {"group name in another case", "LOAD", "k", true, &two, -1, false},
        {"another key", "load", "K", true, &two, -1, false},
        {"another a", "load", "k", true, &two, 0, false},
        {"another b", "load", "k", true, &two, 1, false},
        {"another c", "load", "k", true, &two, 2, false},
        {"another d", "load", "k", true, &two, 3, false},
        {"another kind", "load", "k", true, &two, 4, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Buffers held, mine;
        registry.begin("load", true);
        const int id = add("k", &one, {1, 2, 3, 4, 5}, &held);
        registry.end__();
        freedBuffers.clear();
        std::array<int, 5> parameters = {1, 2, 3, 4, 5};
        if (r.changed >= 0) parameters[r.changed] = 9;
        if (r.group) registry.begin(r.group, r.share);
        const int second = add(r.key, r.owner, parameters, &mine);
        if (r.group) registry.end__();
        EXPECT_EQ(std::pair(second == id, registry.refer(id)), std::pair(r.shared, r.shared ? 2 : 1));
        EXPECT_EQ(freedBuffers, r.shared ? Buffers(mine.begin(), mine.begin() + 2) : Buffers());
        const Buffers& kept = r.shared ? held : mine;
        EXPECT_EQ(Buffers(mine.begin() + 2, mine.end()), Buffers(kept.begin(), kept.begin() + 2));
        registry.relel(id, true);
        registry.relel(second, true);
    }
    EXPECT_EQ(pool.getma(), 0);
}

// One buffer for both channels is freed once, also when a match frees the caller's.
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
    CorePlel::GroupGuard guard(&registry, "load", true);
    add("k", &one);
    void* same = pool.mallc(0, 16, "CNVL");
    freedBuffers.clear();
    add("k", &two, {1, 2, 3, 4, 5}, nullptr, same);
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

// Each action on another thread must not finish while the group is open, and must once it closes; an
// add made then lies outside the group.
TEST_F(CorePlelTest, AnOpenGroupMakesOtherThreadsWaitAndTheirAddsStayOutsideIt) {
    const int id = add("k", &one);
    for (int action = 0; action < 4; ++action) {
        registry.begin("load", true);
        const int held = action == 3 ? add("k", &one) : -1;
        int other = held;
        std::atomic<bool> done{false};
        std::thread waiting([&] {
            if (action == 0) registry.begin("other", true), registry.end__();
            if (action == 1) registry.garlk();
            if (action == 2) registry.relel(id, false);
            if (action == 3) other = add("k", &two);
            done.store(true);
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        EXPECT_FALSE(done.load());
        registry.end__();
        waiting.join();
        EXPECT_EQ(other == held, action != 3);
    }
    EXPECT_EQ(registry.refer(id), 0);
}

// The destructor force-releases what it holds.
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
    finishesAtOnce([&] { delete local; });
    EXPECT_EQ(Buffers(freedBuffers.end() - 2, freedBuffers.end()), (Buffers{left, right}));
}

// A group opened after the guard's close is not the guard's to end; end__ from another thread or with
// no group open is ignored.
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
        registry.begin("next", false);
    }
    std::thread([&] { registry.end__(); }).join();
    EXPECT_TRUE(registry.ingrp());
    registry.end__();
    registry.end__();
    finishesAtOnce([&] { registry.begin("again", false), registry.end__(); });
}

} // namespace
