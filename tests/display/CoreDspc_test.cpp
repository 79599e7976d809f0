#include "display/CoreDspc.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <map>
#include <thread>
#include <vector>

// The record crosses the plug-in object's property interface: its layout is fixed.
static_assert(sizeof(CoreDspc::MESSAGELOC) == 20);
static_assert(offsetof(CoreDspc::MESSAGELOC, a) == 4);
static_assert(offsetof(CoreDspc::MESSAGELOC, d) == 16);

namespace {

CoreDspc::MESSAGELOC message(short type, int32_t a, int32_t b = 0) {
    return CoreDspc::MESSAGELOC{type, 0, a, b, 3, 4};
}

} // namespace

TEST(CoreDspc, TakesAndClearsByTypeOldestFirst) {
    // add: queue (type, a); take: getms(type) expecting a, or nothing (-1); clear: clrms(type).
    enum Op { add, take, clear };
    struct Step {
        Op op;
        short type;
        int32_t a;
    };
    struct Row {
        const char* name;
        std::vector<Step> steps;
    };
    const Row table[] = {
        {"empty queue", {{take, 0, -1}, {take, 4, -1}}},
        {"no record of the type", {{add, 1, 65}, {take, 0, -1}, {take, 1, 65}}},
        {"two pointer messages: the older, then the newer dropped",
         {{add, 0, 10}, {add, 0, 11}, {take, 0, 10}, {clear, 0, 0}, {take, 0, -1}}},
        {"a cleared type leaves the other types in order",
         {{add, 1, 65},
          {add, 0, 1},
          {add, 1, 66},
          {add, 0, 2},
          {add, 1, 67},
          {clear, 0, 0},
          {take, 0, -1},
          {take, 1, 65},
          {take, 1, 66},
          {take, 1, 67},
          {take, 1, -1}}},
        {"each type its own order",
         {{add, 3, 5},
          {add, 2, 1},
          {add, 4, 9},
          {add, 3, -6},
          {add, 4, 8},
          {clear, 2, 0},
          {take, 4, 9},
          {take, 3, 5},
          {take, 3, -6},
          {take, 4, 8},
          {take, 2, -1}}},
        {"types outside 0 .. 4 are not queued",
         {{add, 7, 1},
          {add, -1, 2},
          {add, 5, 3},
          {take, 7, -1},
          {take, -1, -1},
          {take, 5, -1},
          {clear, 9, 0}}},
        {"a queue empties and fills again", {{add, 3, 1}, {take, 3, 1}, {add, 3, 2}, {take, 3, 2}}},
    };
    for (const Row& r : table) {
        SCOPED_TRACE(r.name);
        CoreDspc queue;
        for (const Step& step : r.steps) {
            if (step.op == add) {
                const CoreDspc::MESSAGELOC m = message(step.type, step.a);
                queue.addms(&m);
            } else if (step.op == clear) {
                queue.clrms(step.type);
            } else {
                CoreDspc::MESSAGELOC out = message(99, 12345, 777);
                const bool found = queue.getms(step.type, &out);
                EXPECT_EQ(found, step.a != -1) << "type " << step.type;
                if (found) {
                    EXPECT_EQ(out.type, step.type);
                    EXPECT_EQ(out.a, step.a);
                    EXPECT_EQ(out.d, 4);
                } else {
                    EXPECT_EQ(out.type, 99); // untouched
                    EXPECT_EQ(out.a, 12345);
                    EXPECT_EQ(out.b, 777);
                }
            }
        }
    }
}

TEST(CoreDspc, KeyMessagesYieldTheirLowByte) {
    struct Row {
        uint32_t a;
        int key;
    };
    const Row table[] = {{13, 13}, {0x12345641u, 0x41}, {0xFFFFFF08u, 8}, {0xFFFFFFA7u, 167}, {0x100u, 0}};
    CoreDspc queue;
    for (const Row& r : table) {
        const CoreDspc::MESSAGELOC m = message(1, static_cast<int32_t>(r.a));
        queue.addms(&m);
    }
    for (const Row& r : table) {
        CoreDspc::MESSAGELOC out{};
        ASSERT_TRUE(queue.getms(1, &out));
        EXPECT_EQ(CoreDspc::keyCode(out), r.key) << std::hex << r.a;
    }
}

TEST(CoreDspc, AFullTypeDropsItsOldestRecord) {
    CoreDspc queue;
    const CoreDspc::MESSAGELOC key = message(1, 'k');
    queue.addms(&key);
    for (int i = 0; i < 300; ++i) {
        const CoreDspc::MESSAGELOC wheel = message(3, i);
        queue.addms(&wheel);
    }
    CoreDspc::MESSAGELOC out{};
    for (int expected = 300 - CoreDspc::iCcapacity; expected < 300; ++expected) {
        ASSERT_TRUE(queue.getms(3, &out));
        EXPECT_EQ(out.a, expected);
    }
    EXPECT_FALSE(queue.getms(3, &out));
    ASSERT_TRUE(queue.getms(1, &out)); // other types keep theirs
    EXPECT_EQ(out.a, 'k');
}

TEST(CoreDspc, ProducersAndAConsumerShareTheQueue) {
    constexpr int producers = 4, perProducer = 5000;
    CoreDspc queue;
    std::vector<std::thread> threads;
    for (int p = 0; p < producers; ++p)
        threads.emplace_back([&queue, p] {
            for (int i = 0; i < perProducer; ++i) {
                // a: producer and sequence number; the type cycles so that each type sees every producer.
                const CoreDspc::MESSAGELOC m = message(static_cast<short>((i * 7 + p) % 5), p * 1000000 + i);
                queue.addms(&m);
            }
        });
    // Per type: the last sequence number taken from each producer; a message comes out at most once
    // and after every earlier message of its type and producer.
    std::map<int, std::map<int, int>> lastTaken;
    int taken = 0, outOfOrder = 0;
    auto takeAll = [&](short type) {
        CoreDspc::MESSAGELOC out{};
        while (queue.getms(type, &out)) {
            ++taken;
            if (out.type != type) ++outOfOrder;
            const int producer = out.a / 1000000, sequence = out.a % 1000000;
            auto [entry, fresh] = lastTaken[type].try_emplace(producer, sequence);
            if (!fresh) {
                if (sequence <= entry->second) ++outOfOrder;
                entry->second = sequence;
            }
        }
    };
    for (int round = 0; round < 2000; ++round) {
        const short type = static_cast<short>(round % 5);
        if (round % 3 == 2 && (type == 2 || type == 4))
            queue.clrms(type); // as the renderer drops second-area clicks and program buttons
        else
            takeAll(type);
    }
    for (std::thread& t : threads) t.join();
    for (short type = 0; type < 5; ++type) takeAll(type);
    EXPECT_EQ(outOfOrder, 0);
    EXPECT_LE(taken, producers * perProducer);
    EXPECT_GT(taken, 0);
    CoreDspc::MESSAGELOC out{};
    for (short type = 0; type < 5; ++type) EXPECT_FALSE(queue.getms(type, &out));
}
