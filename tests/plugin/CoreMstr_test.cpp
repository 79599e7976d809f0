// The master object in-process: one shared pool and registry for every live instance, created by the
// first and deleted by the last; a build step that fails gives back everything and leaves the shared
// objects as they were; a failed memory test leaves an instance holding nothing.
#include "plugin/CoreMstr.h"

#include "base/CoreAnsx.h"
#include "tests/common/LogCapture.h"
#include "tests/common/TempFolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <optional>
#include <string>

namespace {

class CoreMstrTest : public ::testing::Test {
protected:
    void SetUp() override { writeSettings("<DSPBUFFER>512</DSPBUFFER>"); }
    void TearDown() override { CoreMstr::setSeamsForTest({}); }

    void writeSettings(const std::string& more) {
        std::ofstream(folder / "Vorlan3.xml") << "<MASTER><DATAPATH>" << folder.withSeparator()
                                              << "</DATAPATH><DL>0.0</DL>" << more << "</MASTER>";
    }
    std::unique_ptr<CoreMstr> make() {
        return std::make_unique<CoreMstr>(CoreAnsx(folder.withSeparator().c_str()), 44100, CoreAnsx("Vorlan3.so"),
                                          nullptr, nullptr);
    }

    TempFolder folder{"mstr"};
};

TEST_F(CoreMstrTest, InstancesShareOnePoolAndRegistryThatTheLastOneDeletes) {
    ASSERT_EQ(CoreMstr::sharedCount(), 0);
    auto first = make();
    ASSERT_FALSE(first->geter());
    ASSERT_NE(first->getpr(), nullptr);
    EXPECT_EQ(first->getcn(), CoreAnsx("Vorlan3.so"));
    CorePlel* registry = CoreMstr::sharedRegistry();
    CorePool* pool = CoreMstr::sharedPool();
    ASSERT_NE(registry, nullptr);
    ASSERT_NE(pool, nullptr);

    auto second = make();
    EXPECT_EQ(CoreMstr::sharedCount(), 2);
    EXPECT_EQ(CoreMstr::sharedRegistry(), registry);
    first.reset();
    EXPECT_EQ(CoreMstr::sharedCount(), 1);
    EXPECT_EQ(CoreMstr::sharedRegistry(), registry);
    second.reset();
    EXPECT_EQ(CoreMstr::sharedCount(), 0);
    EXPECT_EQ(CoreMstr::sharedRegistry(), nullptr);
    EXPECT_EQ(CoreMstr::sharedPool(), nullptr);

    auto third = make();
    EXPECT_EQ(CoreMstr::sharedCount(), 1);
    EXPECT_NE(CoreMstr::sharedRegistry(), nullptr);
}

// Each build step fails once, with and without another instance alive: the count and the shared
// objects are as before, and the own pool holds nothing when it is deleted.
TEST_F(CoreMstrTest, AFailedBuildStepGivesBackEverything) {
    for (bool otherAlive : {false, true}) {
        std::unique_ptr<CoreMstr> other = otherAlive ? make() : nullptr;
        for (int failing = 2; failing <= 7; ++failing) {
            SCOPED_TRACE("step " + std::to_string(failing) + (otherAlive ? ", another instance alive" : ""));
            const int32_t count = CoreMstr::sharedCount();
            CorePlel* registry = CoreMstr::sharedRegistry();
            std::optional<int64_t> held;
            CoreMstr::setSeamsForTest({nullptr,
                                       [failing](int step) {
                                           if (step == failing) throw CoreAnsx("injected");
                                       },
                                       [&held](int64_t bytes) { held = bytes; }});
            EXPECT_THROW(make(), CoreAnsx);
            EXPECT_EQ(CoreMstr::sharedCount(), count);
            EXPECT_EQ(CoreMstr::sharedRegistry(), registry);
            EXPECT_EQ(held.has_value(), failing > 3); // the own pool exists from step 3 on
            if (held) {
                EXPECT_EQ(*held, 0);
            }
        }
        CoreMstr::setSeamsForTest({});
    }
    EXPECT_EQ(CoreMstr::sharedCount(), 0);
}

TEST_F(CoreMstrTest, AnEngineThatFailedToBuildFailsTheMasterObject) {
    writeSettings("<WORKBUFFER>1000000000</WORKBUFFER>");
    std::optional<int64_t> held;
    CoreMstr::setSeamsForTest({nullptr, nullptr, [&held](int64_t bytes) { held = bytes; }});
    EXPECT_THROW(make(), CoreAnsx);
    EXPECT_EQ(CoreMstr::sharedCount(), 0);
    ASSERT_TRUE(held.has_value());
    EXPECT_EQ(*held, 0);
}

TEST_F(CoreMstrTest, AFailedMemoryTestBuildsNothing) {
    CoreMstr::setSeamsForTest({[] { return false; }, nullptr, nullptr});
    auto master = make();
    EXPECT_TRUE(master->geter());
    EXPECT_EQ(master->getpr(), nullptr);
    EXPECT_EQ(CoreMstr::sharedCount(), 0);
}

} // namespace
