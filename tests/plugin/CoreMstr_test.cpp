// The master object in-process: one shared pool and registry for every live instance, created by the
// first and deleted by the last; a build step that fails gives back everything and leaves the shared
// objects as they were; a failed memory test leaves an instance holding nothing; its display boots
// the engine without an editor and loads programs on its own thread.
#include "plugin/CoreMstr.h"

#include "base/CoreAnsx.h"
#include "display/CoreDsif.h"
#include "display/CoreDspc.h"
#include "plugin/CoreSkin.h"
#include "processor/CorePrcs.h"
#include "tests/common/EngineFixture.h"
#include "tests/common/LogCapture.h"
#include "tests/common/TempFolder.h"

#include "tests/plugin/SkinText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

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
        for (int failing = 2; failing <= 10; ++failing) {
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

// The master object's skin steps on the engine fixture's data folder with a small skin of two font
// sets, as a folder and as a container.
class CoreMstrSkinTest : public BootedEngineTest {
protected:
    void SetUp() override {
        BootedEngineTest::SetUp();
        writeEngineFolder(44100);
        const std::string rom =
            "<SKIN><FONTS><ELEMENT><FONTNAME>One</FONTNAME></ELEMENT><ELEMENT><FONTNAME>Two"
            "</FONTNAME></ELEMENT></FONTS><GLOBAL><DISPLAYX>77</DISPLAYX></GLOBAL></SKIN>";
        skintest::writeFolder(data() / "skins/Small", {{"ROM.XML", rom}});
        ASSERT_TRUE(skintest::writeContainer(data() / "skins/small.q7s", {{"ROM.XML", rom}}));
    }
    std::unique_ptr<CoreMstr> make(const std::string& more) {
        writeText(root / "Vorlan3.xml",
                  tag("MASTER", settings("boot.xml", tag("SKINSUBPATH", "skins/") + more)));
        return std::make_unique<CoreMstr>(CoreAnsx((root.string() + "/").c_str()), 44100,
                                          CoreAnsx("Vorlan3.so"), nullptr, nullptr);
    }
};

TEST_F(CoreMstrSkinTest, ReadsTheSkinTheSettingsName) {
    const struct {
        const char* name;
        std::string more;
    } rows[] = {
        {"a folder", tag("SKINNAME", "Small")},
        {"a container", tag("SKINNAME", "small.q7s")},
        {"no name: the one container in the skin folder", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        auto master = make(row.more);
        ASSERT_NE(master->getsk(), nullptr);
        const CoreSkin::SKIN& skin = *master->getsk()->getsk();
        EXPECT_EQ(skin.fontsets, 2);
        EXPECT_EQ(skin.displayx, 77);
        EXPECT_NE(master->getsk()->getfs(), nullptr); // open until the effect has its control thread
    }
}

TEST_F(CoreMstrSkinTest, KeepsTheSelectedFontSetAmongTheSkinsSets) {
    const struct {
        const char* skin;
        const char* selected;
        int16_t kept;
    } rows[] = {
        {"Small", "5", 1},
        {"Small", "-1", 0},
        {"Small", "1", 1},
        {"Missing", "3", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.skin) + " " + row.selected);
        auto master = make(tag("SKINNAME", row.skin) + tag("FONTCOLOUR", row.selected));
        CorePrcs::BEANSTRUCT none{};
        EXPECT_EQ(master->getpr()->getbh(32, &none), row.kept);
    }
}

// The display of a master object built alone (no effect: its property calls go nowhere) on the engine
// fixture's folder, whose boot setup marks the jazz program to load. The test drives the renderer as
// the control thread would; batches run on the display's own thread.
class CoreMstrDisplayTest : public BootedEngineTest {
protected:
    void SetUp() override {
        BootedEngineTest::SetUp();
        writeEngineFolder(44100);
        std::string entries;
        const char* files[] = {"INIT.XML", "POP1.XML", "POP2.XML", "JAZZ.XML", "PARAMS.XML"};
        for (int slot = 0; slot < 5; ++slot)
            entries += tag("PROGRAM", tag("SEQUENCE", std::to_string(slot)) + tag("FILENAME", files[slot]) +
                                          (slot == kJazz ? tag("LOAD", "1") : ""));
        writeText(data() / "setups/load.xml", tag("SETUP", entries));
    }
    void TearDown() override {
        CoreLog_::setdb(0, false); // the engine pointed the log at its data folder
        CoreLog_::setpt(CoreAnsx(""));
        BootedEngineTest::TearDown();
    }
    std::unique_ptr<CoreMstr> make(const std::string& more = "") {
        writeText(root / "Vorlan3.xml", tag("MASTER", settings("load.xml", more)));
        return std::make_unique<CoreMstr>(CoreAnsx((root.string() + "/").c_str()), 44100, CoreAnsx("Vorlan3.so"),
                                          nullptr, nullptr);
    }
    // Renderer passes without an editor until the display shows state (20 s at most); the states
    // passed through, each once.
    static std::vector<short> passUntil(CoreDsif& display, short state) {
        std::vector<short> states;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (states.empty() || states.back() != display.getcs()) states.push_back(display.getcs());
            if (display.getcs() == state) break;
            display.updte(false);
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return states;
    }
};

TEST_F(CoreMstrDisplayTest, BuildsTheDisplayAndDeletesItBeforeTheEngine) {
    auto master = make(tag("THREADS", "1"));
    ASSERT_NE(master->getds(), nullptr);
    EXPECT_EQ(master->getds()->getcs(), 20); // the boot page, until a pass boots the engine
    LogCapture log(7);
    master.reset();
    const std::string text = log.text();
    const size_t display = text.find("CoreDsif thread died"), worker = text.find("CorePrcs thread died");
    ASSERT_NE(display, std::string::npos);
    ASSERT_NE(worker, std::string::npos);
    EXPECT_LT(display, worker);
}

TEST_F(CoreMstrDisplayTest, BootsWithoutAnEditorAndLoadsAProgramButtonsSlotOnItsThread) {
    auto master = make();
    CoreDsif& display = *master->getds();
    CorePrcs& engine = *master->getpr();
    std::vector<short> states = passUntil(display, 0);
    ASSERT_EQ(states, (std::vector<short>{20, 0}));
    EXPECT_FALSE(engine.getbb(46, nullptr));
    EXPECT_EQ(engine.getbi(67, nullptr), kJazz);

    const CoreDspc::MESSAGELOC button{4, 0, kInit, 0, 0, 0};
    master->getdp()->addms(&button);
    states = passUntil(display, 1);
    ASSERT_EQ(states.back(), 1);
    EXPECT_NE(std::find(states.begin(), states.end(), 22), states.end()); // through the batch page
    EXPECT_EQ(engine.getbi(67, nullptr), kInit);
}

} // namespace
