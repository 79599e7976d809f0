#include "base/CoreTlst.h"

#include <gtest/gtest.h>

namespace {
int values[16];
void* item(int i) {
    return &values[i];
}
} // namespace

TEST(CoreTlst, StartsEmptyAndGrowsInStepsOfFour) {
    CoreTlst list;
    EXPECT_EQ(list.Capacity, 0);
    EXPECT_EQ(list.Count, 0);
    EXPECT_EQ(list.Items, nullptr);

    const int expectedCapacity[] = {4, 4, 4, 4, 8, 8, 8, 8, 12};
    for (int i = 0; i < 9; ++i) {
        EXPECT_TRUE(list.Add(item(i)));
        EXPECT_EQ(list.Count, i + 1);
        EXPECT_EQ(list.Capacity, expectedCapacity[i]) << "after " << i + 1 << " items";
        EXPECT_EQ(list.RememberedCapacity, expectedCapacity[i]);
    }
    for (int i = 0; i < 9; ++i) EXPECT_EQ(list[i], item(i)); // growth kept the contents
}

TEST(CoreTlst, DeleteMovesLaterItemsDownAndIgnoresIndicesOutOfRange) {
    CoreTlst list;
    for (int i = 0; i < 5; ++i) list.Add(item(i));
    list.Delete(-1);
    list.Delete(5);
    ASSERT_EQ(list.Count, 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(list[i], item(i));

    list.Delete(1);
    ASSERT_EQ(list.Count, 4);
    EXPECT_EQ(list[0], item(0));
    EXPECT_EQ(list[1], item(2));
    EXPECT_EQ(list[2], item(3));
    EXPECT_EQ(list[3], item(4));
    list.Delete(3); // the last one
    ASSERT_EQ(list.Count, 3);
    EXPECT_EQ(list[2], item(3));
    EXPECT_EQ(list.Capacity, 8); // deleting never shrinks
}

TEST(CoreTlst, EmptiedOrClearedListReleasesItsArrayButRegrowsToTheRememberedCapacity) {
    CoreTlst list;
    for (int i = 0; i < 5; ++i) list.Add(item(i));
    EXPECT_EQ(list.Capacity, 8);
    for (int i = 0; i < 5; ++i) list.Delete(0);
    EXPECT_EQ(list.Count, 0);
    EXPECT_EQ(list.Capacity, 0);
    EXPECT_EQ(list.Items, nullptr);
    EXPECT_EQ(list.RememberedCapacity, 8);
    list.Add(item(7));
    EXPECT_EQ(list.Capacity, 8);
    EXPECT_EQ(list[0], item(7));

    for (int i = 0; i < 10; ++i) list.Add(item(i));
    EXPECT_EQ(list.Capacity, 12);
    list.Clear();
    EXPECT_EQ(list.Items, nullptr);
    EXPECT_EQ(list.Capacity, 0);
    EXPECT_EQ(list.RememberedCapacity, 12);
    list.Add(item(1));
    EXPECT_EQ(list.Capacity, 12);
    list.Clear();
    list.Clear(); // clearing an empty list is harmless
    EXPECT_EQ(list.Capacity, 0);
}

TEST(CoreTlst, GrowSetsTheCountAndKeepsExistingItems) {
    CoreTlst list;
    list.Add(item(0));
    list.Add(item(1));
    list.grow_(6);
    EXPECT_EQ(list.Count, 6);
    EXPECT_EQ(list.Capacity, 8);
    EXPECT_EQ(list[0], item(0));
    EXPECT_EQ(list[1], item(1));
    for (int i = 2; i < 6; ++i) list[i] = item(i);
    list.grow_(3); // shrinking the count keeps the room
    EXPECT_EQ(list.Count, 3);
    EXPECT_EQ(list.Capacity, 8);
    EXPECT_EQ(list[2], item(2));
    EXPECT_TRUE(list.Add(item(9)));
    EXPECT_EQ(list[3], item(9));
}

TEST(CoreTlst, ImpossibleSizesLeaveTheListUnchanged) {
    CoreTlst list;
    list.Add(item(0));
    EXPECT_ANY_THROW(list.grow_(-1));
    EXPECT_ANY_THROW(list.grow_(0x7fffffff));
    EXPECT_EQ(list.Count, 1);
    EXPECT_EQ(list.Capacity, 4);
    EXPECT_EQ(list[0], item(0));
}
