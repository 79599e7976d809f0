// The disk page's screen, and the information pages (MIDI, disk, about) viewed without input and with
// control 0 walked over their items: nothing but the pages' per-pass calls and the selector's control
// traffic reaches the engine.
#include "display/CoreDsif.h"

#include "GoldenScreen.h"
#include "PageDriver.h"
#include "base/CoreBlnk.h"
#include "tests/common/EngineFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

class CoreDsifDisk : public BootedEngineTest {
protected:
    // The master settings file as action 79 writes it now (into the file there is: one is made first).
    std::string savedSettings(CorePrcs& engine) {
        const std::filesystem::path file = root / CorePrcs::sCmstrfilenme;
        if (!std::filesystem::exists(file)) writeText(file, "<MASTER><HDIM>1</HDIM></MASTER>");
        CorePrcs::BEANSTRUCT none{};
        engine.setbv(79, &none);
        std::ifstream in(file, std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }

    CoreBlnk clock;
};

} // namespace

TEST_F(CoreDsifDisk, ShowsTheEnteredFiguresAndTheProgramMemory) {
    auto engine = booted();
    PageDriver driver(*engine, clock);
    driver.enter(4);
    driver.pass(2);
    // The pool's figure follows every allocation the engine makes: checked here, blanked for the golden.
    CorePrcs::BEANSTRUCT none{};
    const std::string pool = std::to_string(engine->getbi(85, &none) / 1024) + " Kb";
    EXPECT_EQ(driver.row(7, 17, static_cast<int>(pool.size()) + 1), pool + " ");
    CoreDsifTestAccess::grid(*driver.display).write(CoreAnsx("        "), 17, 7, 0, false, false);
    GoldenScreen screen("disk page on the booted engine, the local pool blanked");
    screen.section("calls", driver.writes({187, 190}));
    EXPECT_TRUE(screen.matches(CoreDsifTestAccess::grid(*driver.display), "disk_page.txt"));
}

TEST_F(CoreDsifDisk, ViewingTheInformationPagesWritesNothing) {
    struct SetUp {
        const char* name;
        int32_t rate;
        int32_t slot; // loaded before the page is entered; -1 keeps the boot's program
    };
    const SetUp setUps[] = {{"booted at 48000 Hz", 48000, -1},
                            {"parameters program at 44100 Hz", 44100, kParameters}};
    const double walk[] = {-1.0, -0.5, 0.0, 0.5, 1.0, 0.5, 0.0, -0.5, -1.0};
    for (const SetUp& s : setUps) {
        for (short page : {3, 4, 15}) {
            SCOPED_TRACE(std::string(s.name) + ", page " + std::to_string(page));
            auto engine = booted(s.rate);
            PageDriver driver(*engine, clock);
            if (s.slot >= 0) driver.load(s.slot);
            CorePrcs::BEANSTRUCT none{};
            const std::string settingsBefore = savedSettings(*engine);
            const std::string programBefore = engine->getbs(68, &none).c_str();
            driver.writes();
            driver.enter(page);
            driver.pass(20);
            EXPECT_EQ(std::string(engine->getbs(68, &none).c_str()), programBefore);
            // Where the page has no items, control 0 is the program's own: turning it is the test's change.
            const bool items = CoreDsifTestAccess::selectors(*driver.display).getcn() > 0;
            for (double control : walk) {
                driver.turn(0, control);
                driver.pass();
            }
            EXPECT_EQ(driver.writes({180, 195, 187, 190}), std::vector<std::string>{});
            EXPECT_TRUE(driver.log.sane);
            EXPECT_EQ(driver.display->getns(), page);
            EXPECT_EQ(savedSettings(*engine), settingsBefore);
            if (items) {
                EXPECT_EQ(std::string(engine->getbs(68, &none).c_str()), programBefore);
            }
            EXPECT_FALSE(settingsBefore.empty());
        }
    }
}
