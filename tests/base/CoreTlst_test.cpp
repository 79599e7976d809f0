#include "base/CoreTlst.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
int values[16];
void* item(int i) {
    return &values[i];
}
std::vector<void*> itemsOf(const CoreTlst& list) {
    return std::vector<void*>(list.Items, list.Items + list.Count);
}
} // namespace

TEST(CoreTlst, GrowsInStepsOfFourAndDeleteClosesTheGap) {
    CoreTlst list;
    const int expectedCapacity[] = {4, 4, 4, 4, 8, 8, 8, 8, 12};
    for (int i = 0; i < 9; ++i) {
        EXPECT_TRUE(list.Add(item(i)));
        EXPECT_EQ(list.Capacity, expectedCapacity[i]) << "after " << i + 1 << " items";
    }
    list.Delete(-1);
    list.Delete(9);
    list.Delete(1);
    list.Delete(7); // the last one
    EXPECT_EQ(itemsOf(list),
              (std::vector<void*>{item(0), item(2), item(3), item(4), item(5), item(6), item(7)}));
    EXPECT_EQ(list.Capacity, 12); // deleting never shrinks
}

TEST(CoreTlst, AnEmptiedListReleasesItsArrayAndRegrowsToItsLastCapacity) {
    CoreTlst list;
    for (int i = 0; i < 5; ++i) list.Add(item(i));
    for (int i = 0; i < 5; ++i) list.Delete(0);
    EXPECT_EQ(list.Items, nullptr);
    EXPECT_EQ(list.Capacity, 0);
    list.Add(item(7));
    EXPECT_EQ(list.Capacity, 8);
    for (int i = 0; i < 10; ++i) list.Add(item(i));
    list.Clear();
    list.Clear(); // clearing an empty list is harmless
    EXPECT_EQ(list.Items, nullptr);
    EXPECT_EQ(list.RememberedCapacity, 12);
    list.Add(item(1));
    EXPECT_EQ(list.Capacity, 12);
}

TEST(CoreTlst, GrowSetsTheCountKeepsItemsAndRefusesImpossibleSizes) {
    CoreTlst list;
    list.Add(item(0));
    list.Add(item(1));
    list.grow_(6);
    EXPECT_EQ(list.Capacity, 8);
    for (int i = 2; i < 6; ++i) list[i] = item(i);
    list.grow_(3); // a smaller count keeps the room
    EXPECT_TRUE(list.Add(item(9)));
    EXPECT_EQ(itemsOf(list), (std::vector<void*>{item(0), item(1), item(2), item(9)}));
    EXPECT_ANY_THROW(list.grow_(-1));
    EXPECT_ANY_THROW(list.grow_(0x7fffffff));
    EXPECT_EQ(itemsOf(list), (std::vector<void*>{item(0), item(1), item(2), item(9)}));
    EXPECT_EQ(list.Capacity, 8);
}
