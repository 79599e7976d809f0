// CoreHdco: the first item makes the container and later ones are appended; a failed write is
// reported and the next item starts the container afresh.
#include "filestore/CoreHdco.h"

#include "FsysFixture.h"

using namespace fsystest;

TEST_F(FsysFiles, FirstItemMakesTheContainerAndLaterOnesAreAppended) {
    CoreHdco container(at("set.q7k"), true);
    EXPECT_FALSE(container.getst());
    ASSERT_TRUE(container.addit("A.CSV", 4, "1.0;") && container.getst());
    ASSERT_TRUE(container.addit("B.Q7K", 3, "xyz") && container.addit("C.CSV", 0, ""));
    CoreFsys reading(&pool);
    ASSERT_TRUE(reading.loada(at("set.q7k"), "0", false, nullptr));
    const std::map<std::string, std::string> items = {{"A.CSV", "1.0;"}, {"B.Q7K", "xyz"}, {"C.CSV", ""}};
    EXPECT_EQ(contents(reading), items);
    EXPECT_EQ(entries(root), 1); // one container file, whatever case the writer chose, and no temporary
}

TEST_F(FsysFiles, FailedWriteIsReportedAndDoesNotStart) {
    CoreHdco container(at("nowhere/set.q7k"), false);
    EXPECT_FALSE(container.addit("A.CSV", 4, "1.0;"));
    EXPECT_FALSE(container.getst());
    EXPECT_NE(log().find("not written to the container"), std::string::npos);
    EXPECT_FALSE(container.addit("A.CSV", 4, nullptr) || container.addit("A.CSV", -1, "x"));

    // Once the folder exists the next item starts a new container rather than appending to nothing.
    fs::create_directory(root / "nowhere");
    EXPECT_TRUE(container.addit("B.CSV", 2, "2;") && container.getst());
    CoreFsys reading(&pool);
    ASSERT_TRUE(reading.loada(at("nowhere/set.q7k"), "0", false, nullptr));
    EXPECT_EQ(reading.llvcn(), 1);
}

