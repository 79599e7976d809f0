// Tests of the scope guard: it holds the lock for its scope, also when left by a throw, and a refused
// take releases nothing.
#include "base/CoreSgrd.h"

#include <gtest/gtest.h>

TEST(CoreSgrd, HoldsTheLockForItsScopeAlsoWhenLeftByAThrow) {
    CoreSmph lock;
    {
        CoreSgrd held(lock);
        EXPECT_FALSE(CoreSgrd(lock, CoreSgrd::cConce).taken());
        EXPECT_EQ(lock.counter(), 0); // the refused guard released nothing
    }
    EXPECT_THROW(
        {
            CoreSgrd held(lock);
            throw 1;
        },
        int);
    EXPECT_TRUE(CoreSgrd(lock, CoreSgrd::cConce).taken());
    EXPECT_EQ(lock.counter(), 1);
}
