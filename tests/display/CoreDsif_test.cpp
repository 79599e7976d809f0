// Construction of the display object on a booted engine: a blank screen, the labels, the start values
// of its fields, menus and page table, and what it reads of the engine and the host.
#include "display/CoreDsif.h"

#include "BeanLog.h"
#include "CoreDsifTestAccess.h"
#include "RecordingHost.h"
#include "display/CoreDspc.h"
#include "tests/common/EngineFixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class CoreDsifTest : public BootedEngineTest {
protected:
    using Access = CoreDsifTestAccess;
    CoreDspc queue;
    CoreBlnk clock;
};

} // namespace

TEST_F(CoreDsifTest, StartsBlankWithItsStartValues) {
    auto engine = booted();
    BeanLog log(*engine);
    CoreDsif display(engine.get(), &queue, &clock, nullptr);
    EXPECT_TRUE(log.lines.empty()) << "construction only reads beans: " << log.lines.front();
    const double blank = 0.5 / display.getre(0);
    for (short y = 0; y < display.getdy() + display.getay(); ++y)
        for (short x = 0; x < (y < display.getdy() ? display.getdx() : display.getax()); ++x) {
            ASSERT_EQ(display.read_(0, x, y), blank) << x << "," << y;
            ASSERT_EQ(display.read_(1, x, y), -1.0) << x << "," << y;
        }
    const std::vector<std::string> start = {
        "home=PROG", "versioning=", "filters=", "skinfiles=0/0", "categories=0/0", "counts=84/33/45",
        "categorylevel=0", "listtop=0 gridstart=0", "categorytop=0 selection=0", "test=10/360/10", "click=0,0",
        "size=58x14 add=49x3", "kernellimit=10", "state=20/20", "envelope=0 follower=0 parameter=0",
        "messagerows=8/8", "fontcolour=0", "listslots=12", "gridslots=11x3 first -1", "flags=000101",
        "processors=1", "popups=1", "event=1 lock=1",
    };
    EXPECT_EQ(Access::startValues(display), start);
    EXPECT_EQ(Access::menus(display), 6);
    EXPECT_TRUE(Access::currentMenuIsFirst(display));
    EXPECT_EQ(Access::tableRows(display), 35);
    EXPECT_STREQ(Access::programLabels(display)[0].c_str(), "0 ");
    EXPECT_STREQ(Access::programLabels(display)[7].c_str(), "7 ");
    EXPECT_STREQ(Access::programLabels(display)[99].c_str(), "99 ");
    EXPECT_EQ(Access::programLabels(display).size(), 100u);
    EXPECT_EQ(Access::bankLabels(display).size(), 100u);
    EXPECT_STREQ(Access::sourceKeys(display)[19].c_str(), "MIX1");
    EXPECT_STREQ(Access::sourceLabels(display)[60].c_str(), "RTELFO1");
}

TEST_F(CoreDsifTest, ReadsPriorityFontColourAndAddWidth) {
    struct Row {
        const char* settings;
        bool host;
        int32_t addChars;
        int priority;
        short fontColour, addWidth;
    };
    const Row rows[] = {
        {"<LOADERPRIORITY>3</LOADERPRIORITY>", false, 0, 3, 0, 49},
        {"<LOADERPRIORITY>7</LOADERPRIORITY><FONTCOLOUR>2</FONTCOLOUR>", true, 0, 1, 2, 49},
        {"", true, -1, 1, 0, 49},
        {"", true, 30, 1, 0, 30},
        {"", true, 120, 1, 0, 58},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.settings);
        auto engine = booted(48000, r.settings);
        RecordingHost host;
        host.addWidth = r.addChars;
        CoreDsif display(engine.get(), &queue, &clock, r.host ? &host : nullptr);
        EXPECT_EQ(Access::priority(display), r.priority);
        EXPECT_EQ(display.getfc(), r.fontColour);
        EXPECT_EQ(display.getax(), r.addWidth);
        EXPECT_TRUE(host.log.empty());
    }
}
