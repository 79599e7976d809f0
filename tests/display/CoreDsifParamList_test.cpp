// The user parameter list page on a booted engine holding the fixture's parameter program: the two
// columns, selection by click, moves and visibility changes by buttons and by drags of the held
// pointer, and the way to the edit page.
#include "display/CoreDsif.h"

#include "EditPageDriver.h"
#include "tests/common/EngineFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

namespace {

using Access = CoreDsifTestAccess;
constexpr short kListPage = 13;

class CoreDsifParamList : public BootedEngineTest {
protected:
    // The parameter program in use, with exactly the parameters `shown` visible.
    std::unique_ptr<CorePrcs> engineShowing(std::initializer_list<int> shown) {
        auto e = booted();
        e->ldpdm(kParameters, false);
        for (int32_t p = 0; p < 16; ++p) {
            bool visible = false;
            for (int s : shown) visible = visible || s == p;
            CorePrcs::BEANSTRUCT b{p, 0};
            e->setbb(196, visible, &b);
        }
        return e;
    }
    static std::string visibleOnes(CorePrcs& e) {
        std::string text;
        for (int32_t p = 0; p < 16; ++p) {
            CorePrcs::BEANSTRUCT b{p, 0};
            if (e.getbb(196, &b)) text += (text.empty() ? "" : ",") + std::to_string(p);
        }
        return text;
    }
    CoreBlnk clock;
};

} // namespace

TEST_F(CoreDsifParamList, Screens) {
    struct Row {
        const char* golden;
        std::initializer_list<int> shown;
        short selected;
    };
    const Row rows[] = {
        {"paramlist_three_visible", {1, 4, 9}, 4},
        {"paramlist_twelve_visible", {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 13},
        {"paramlist_no_selection", {1, 4, 9}, -1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.golden);
        auto e = engineShowing(r.shown);
        EditPageDriver page(*e, clock);
        Access::setSelectedParameter(*page.display, r.selected);
        page.enter(kListPage);
        page.passes(3);
        EXPECT_TRUE(page.screen(r.golden));
    }
}

TEST_F(CoreDsifParamList, ViewingWritesOnlyTheValueUpdates) {
    auto e = engineShowing({1, 4, 9});
    EditPageDriver page(*e, clock);
    page.record();
    page.enter(kListPage);
    page.passes(20);
    EXPECT_TRUE(page.writes({187, 190, 195}).empty());
    EXPECT_EQ(page.writes().size(), 21u * 16u + 8u); // 195 for each parameter each pass; the entry's 187s
    EXPECT_EQ(page.display->getns(), kListPage) << "no batch started";
}

TEST_F(CoreDsifParamList, Flows) {
    using Script = std::function<void(EditPageDriver&)>;
    struct Row {
        const char* name;
        std::initializer_list<int> shown;
        short selected;
        Script script;
        const char* visible; // afterwards
        short selectedAfter;
        short state; // the next page state
        std::vector<std::string> writes;
    };
    const Row rows[] = {
        {"a click on row 3 selects the second visible one", {1, 4, 9}, -1,
         [](EditPageDriver& p) { p.click(10, 3); }, "1,4,9", 4, kListPage, {}},
        {"a click on an invisible name selects it", {1, 4, 9}, -1,
         [](EditPageDriver& p) { p.click(40, 2); }, "1,4,9", 0, kListPage, {}},
        {"a click beside the columns selects nothing", {1, 4, 9}, -1,
         [](EditPageDriver& p) { p.click(33, 3); }, "1,4,9", -1, kListPage, {}},
        {"move up swaps with the previous visible one", {1, 4, 9}, 9,
         [](EditPageDriver& p) { p.click(52, 1); }, "1,4,9", 4, kListPage, {"setbv 205 [4,9]"}},
        {"move up from the first wraps to the last", {1, 4, 9}, 1,
         [](EditPageDriver& p) { p.click(52, 1); }, "1,4,9", 9, kListPage, {"setbv 205 [9,1]"}},
        {"move down from the last wraps to the first", {1, 4, 9}, 9,
         [](EditPageDriver& p) { p.click(52, 2); }, "1,4,9", 1, kListPage, {"setbv 205 [1,9]"}},
        {"a lone visible one has no partner", {5}, 5,
         [](EditPageDriver& p) { p.click(52, 1); }, "5", 5, kListPage, {}},
        {"moves without a selection do nothing", {1, 4, 9}, -1,
         [](EditPageDriver& p) { p.click(52, 1); p.click(52, 2); }, "1,4,9", -1, kListPage, {}},
        {"a selection from another page outside 0 .. 15 is none", {1, 4, 9}, 16,
         [](EditPageDriver& p) { p.click(52, 3); p.click(52, 4); }, "1,4,9", 16, kListPage, {}},
        {"INVIS hides the selected one", {1, 4, 9}, 4,
         [](EditPageDriver& p) { p.click(52, 3); }, "1,9", 4, kListPage, {"setbb 196 [4] 0"}},
        {"VISIB shows the selected one", {1, 4, 9}, 0,
         [](EditPageDriver& p) { p.click(52, 3); }, "0,1,4,9", 0, kListPage, {"setbb 196 [0] 1"}},
        {"dragging 7 px up moves up once", {1, 4, 9}, -1,
         [](EditPageDriver& p) { p.click(10, 4); p.drag(0, -7); p.drag(0, -6); }, "1,4,9", 4, kListPage,
         {"setbv 205 [4,9]"}},
        {"dragging 7 px down twice moves down twice", {1, 4, 9}, -1,
         [](EditPageDriver& p) { p.click(10, 2); p.drag(0, 7); p.drag(0, 7); }, "1,4,9", 9, kListPage,
         {"setbv 205 [4,1]", "setbv 205 [9,4]"}},
        {"dragging 16 px right hides, back 16 px left shows", {1, 4, 9}, -1,
         [](EditPageDriver& p) { p.click(10, 3); p.drag(16, 0); p.drag(-16, 0); }, "1,4,9", 4, kListPage,
         {"setbb 196 [4] 0", "setbb 196 [4] 1"}},
        {"an invisible name dragged 16 px left becomes visible", {1, 4, 9}, -1,
         [](EditPageDriver& p) { p.click(40, 3); p.drag(-16, 0); p.pass(); }, "1,2,4,9", 2, kListPage,
         {"setbb 196 [2] 1"}},
        {"15 px is not enough", {1, 4, 9}, -1,
         [](EditPageDriver& p) { p.click(10, 3); p.drag(15, 6); }, "1,4,9", 4, kListPage, {}},
        {"a release ends the drag", {1, 4, 9}, -1,
         [](EditPageDriver& p) { p.click(10, 3); p.release(); p.host.pointer.y -= 20; p.host.pointer.x += 40;
                             p.pass(); }, "1,4,9", 4, kListPage, {}},
        {"EDIT opens the edit page", {1, 4, 9}, 4,
         [](EditPageDriver& p) { p.click(52, 4); }, "1,4,9", 4, 14, {}},
        {"EXIT leaves for the program page", {1, 4, 9}, 4,
         [](EditPageDriver& p) { p.click(50, 0); }, "1,4,9", 4, 0, {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto e = engineShowing(r.shown);
        EditPageDriver page(*e, clock);
        Access::setSelectedParameter(*page.display, r.selected);
        page.enter(kListPage);
        page.record();
        r.script(page);
        EXPECT_EQ(visibleOnes(*e), r.visible);
        EXPECT_EQ(Access::selectedParameter(*page.display), r.selectedAfter);
        EXPECT_EQ(page.display->getns(), r.state);
        EXPECT_EQ(page.writes({187, 190, 195}), r.writes);
    }
}

TEST_F(CoreDsifParamList, TheLastDrawnSelectionFollowsTheDrawnRows) {
    auto e = engineShowing({1, 4, 9});
    EditPageDriver page(*e, clock);
    EXPECT_EQ(Access::lastSelection(*page.display), 0);
    page.enter(kListPage);
    page.click(10, 4);
    EXPECT_EQ(Access::lastSelection(*page.display), 9);
    Access::setSelectedParameter(*page.display, -1);
    page.pass();
    EXPECT_EQ(Access::lastSelection(*page.display), 9);
}
