// The about page's screen and its EXIT, and the test page's load flows: its pace, the slot search,
// the countdown across visits, soft keys and EXIT in the pass the countdown runs out, and the period
// and cycle items. Each flow is a row: a script and the notes it leaves.
#include "display/CoreDsif.h"

#include "GoldenScreen.h"
#include "PageDriver.h"
#include "base/CoreBlnk.h"
#include "processor/CoreMmry.h"
#include "tests/common/EngineFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr short kTestPage = 16;

class CoreDsifAbout : public BootedEngineTest {
protected:
    CoreBlnk clock;
};

// "countdown/cycle/period" of the test page.
std::string testCounts(CoreDsif& display) {
    for (const std::string& value : CoreDsifTestAccess::startValues(display))
        if (value.rfind("test=", 0) == 0) return value.substr(5);
    return "";
}

struct Flow {
    PageDriver& d;
    std::vector<std::string> notes;

    void note(const std::string& text) { notes.push_back(text); }
    void next() { note(std::to_string(d.display->getns())); }
    // Renders of the test page after the current one until one starts a load (at most 12), then its
    // slot; the batch runs and returns to the test page.
    void untilLoad() {
        d.writes();
        int renders = 1;
        for (d.pass(); d.display->getns() == kTestPage && renders < 12; ++renders) d.pass();
        note(std::to_string(renders) + ":" + newProgram());
        CoreDsifTestAccess::runBatch(*d.display);
        d.pass();
    }
    // The slot the load batch was given (the variable store cannot give "0" back).
    std::string newProgram() {
        const std::vector<std::string> writes = d.writes();
        for (size_t i = 0; i + 1 < writes.size(); ++i)
            if (writes[i] == "setbs 223 \"NEWPROGRAM\"") return writes[i + 1].substr(10);
        return "none";
    }
    void slot(int32_t current) {
        CorePrcs::BEANSTRUCT none{};
        d.engine.setbi(67, current, &none);
    }
};

} // namespace

TEST_F(CoreDsifAbout, PagesShowTheirScreensAndExitToTheMasterPage) {
    struct Row {
        short page;
        const char* golden;
    };
    for (const Row& r : {Row{15, "about_page.txt"}, Row{kTestPage, "test_page.txt"}}) {
        SCOPED_TRACE(r.golden);
        auto engine = booted();
        PageDriver driver(*engine, clock);
        driver.enter(r.page);
        driver.pass();
        EXPECT_TRUE(GoldenScreen(r.golden).matches(CoreDsifTestAccess::grid(*driver.display), r.golden));
        driver.click(55, 0);
        driver.pass();
        EXPECT_EQ(driver.display->getns(), 2);
    }
}

TEST_F(CoreDsifAbout, TestPageLoadsAtItsPace) {
    struct Row {
        const char* name;
        bool farSlot; // slot 1234 used besides the boot's slots 0 .. 4
        std::function<void(Flow&)> script;
        const char* notes;
    };
    const std::vector<Row> rows = {
        {"period 10: every tenth render loads the next used slot", true,
         [](Flow& f) {
             f.d.enter(kTestPage);
             f.untilLoad();
             f.untilLoad();
             f.next();
         },
         "9:\"1\" 9:\"2\" 16"},
        {"the cycle ends the search: from 359 at 360, from 360 at 1", true,
         [](Flow& f) {
             f.slot(359);
             f.d.enter(kTestPage);
             f.untilLoad();
             f.slot(360);
             f.untilLoad();
         },
         "9:\"1234\" 9:\"1\""},
        {"no used slot above the start: the search wraps to slot 0", false,
         [](Flow& f) {
             f.slot(4);
             f.d.enter(kTestPage);
             f.untilLoad();
         },
         "9:\"0\""},
        {"slot 0 free: the wrapped search ends on the first used slot", false,
         [](Flow& f) {
             f.slot(4);
             f.d.engine.getmm()->clrpr(0);
             f.d.enter(kTestPage);
             f.untilLoad();
         },
         "9:\"1\""},
        {"one used slot: the search ends on it", true,
         [](Flow& f) {
             f.slot(1234);
             for (int32_t cleared = 0; cleared <= 4; ++cleared) f.d.engine.getmm()->clrpr(cleared);
             f.d.enter(kTestPage);
             f.untilLoad();
             f.untilLoad();
         },
         "9:\"1234\" 9:\"1234\""},
        {"the countdown survives leaving and entering again", true,
         [](Flow& f) {
             f.d.enter(kTestPage);
             f.d.pass(4);
             f.d.enter(15);
             f.d.pass(3);
             f.d.enter(kTestPage);
             f.note(testCounts(*f.d.display));
             f.untilLoad();
         },
         "4/360/10 4:\"1\""},
        {"a soft-key action in the tenth render starts no load; the countdown restarts", true,
         [](Flow& f) {
             f.d.enter(kTestPage);
             f.d.pass(8);
             f.d.click(12, 13); // a blank key: the action " ", which stays on the page
             f.d.pass();
             f.next();
             f.note(testCounts(*f.d.display));
             f.d.pass(9);
             f.d.click(2, 13); // TEST, the page's own key, is disabled: no action, so the load starts
             f.d.pass();
             f.next();
         },
         "16 10/360/10 22"},
        {"EXIT in the tenth render leaves for the master page without a load", true,
         [](Flow& f) {
             f.d.enter(kTestPage);
             f.d.pass(8);
             f.d.click(51, 0);
             f.d.pass();
             f.next();
             f.note(testCounts(*f.d.display));
         },
         "2 10/360/10"},
        {"selecting the items changes no count; turning control 1 does", true,
         [](Flow& f) {
             f.d.enter(kTestPage);
             for (double control : {1.0, -1.0, 1.0}) {
                 f.d.turn(0, control);
                 f.d.pass();
             }
             f.note(testCounts(*f.d.display));
             f.d.turn(1, 1.0);
             f.d.pass();
             f.d.turn(0, -1.0);
             f.d.pass();
             f.d.turn(1, -1.0);
             f.d.pass();
             f.note(testCounts(*f.d.display));
             f.untilLoad();
             f.next(); // period 1: the render entering the page loads again
             f.note(f.newProgram());
         },
         "6/360/10 3/400/1 3:\"1\" 22 \"2\""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        std::unique_ptr<CorePrcs> engine;
        if (r.farSlot) {
            engine = booted();
        } else {
            engine = unbooted();
            bootThroughBeans(*engine);
        }
        PageDriver driver(*engine, clock);
        Flow flow{driver, {}};
        r.script(flow);
        std::string joined;
        for (const std::string& n : flow.notes) joined += (joined.empty() ? "" : " ") + n;
        EXPECT_EQ(joined, r.notes);
    }
}
