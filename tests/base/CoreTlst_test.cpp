// Tests of the pointer list: growth to an impossible size is refused and leaves the list whole, a
// smaller count keeps the room, and an emptied list regrows to its last capacity.
#include "base/CoreTlst.h"

#include <gtest/gtest.h>

#include <vector>

TEST(CoreTlst, GrowSetsTheCountKeepsItemsAndRefusesImpossibleSizes) {
    int values[8];
    CoreTlst list;
    for (int i = 0; i < 5; ++i) list.Add(&values[i]);
    list.grow_(3); // a smaller count keeps the room
    EXPECT_TRUE(list.Count == 3 && list.Capacity == 8);
    EXPECT_ANY_THROW(list.grow_(-1));
    EXPECT_ANY_THROW(list.grow_(0x7fffffff));
    EXPECT_EQ(std::vector<void*>(list.Items, list.Items + list.Count),
              (std::vector<void*>{&values[0], &values[1], &values[2]}));
    EXPECT_EQ(list.Capacity, 8);
    list.Clear();
    EXPECT_TRUE(list.Items == nullptr && list.RememberedCapacity == 8);
    list.Add(&values[7]);
    EXPECT_EQ(list.Capacity, 8);
}
