#include "base/CoreSgrd.h"

#include <gtest/gtest.h>

TEST(CoreSgrd, HoldsTheLockForItsScopeAlsoWhenLeftByAThrow) {
    CoreSmph lock;
    {
        CoreSgrd held(lock);
        EXPECT_TRUE(held.taken());
        {
            CoreSgrd refused(lock, CoreSgrd::cConce);
            EXPECT_FALSE(refused.taken());
        }
        EXPECT_EQ(lock.counter(), 0); // the refused guard released nothing
    }
    EXPECT_EQ(lock.counter(), 1);
    EXPECT_THROW(
        {
            CoreSgrd held(lock);
            throw 1;
        },
        int);
    CoreSgrd again(lock, CoreSgrd::cConce);
    EXPECT_TRUE(again.taken());
}
