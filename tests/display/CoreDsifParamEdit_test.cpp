// The user parameter edit page on a booted engine holding the fixture's parameter program: its
// screen, viewing that writes nothing even for labels, sources, operations and constants the page
// cannot show exactly, and what each item and field writes after a user's change.
#include "display/CoreDsif.h"

#include "EditPageDriver.h"
#include "tests/common/EngineFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Access = CoreDsifTestAccess;
constexpr short kEditPage = 14;

class CoreDsifParamEdit : public BootedEngineTest {
protected:
    // Parameter 0 ("Size": A = MIX1, B = OFF, operation "a") with input A the constant 0.25 and its
    // range 0 .. 1, bar 0 .. 1.
    std::unique_ptr<CorePrcs> engineWithParameter() {
        auto e = booted();
        e->ldpdm(kParameters, false);
        CorePrcs::BEANSTRUCT b{0, 0};
        e->setbs(210, "0.25", &b);
        return e;
    }
    // The control value that chooses source `key` in a dual item of the 84 sources.
    static double sourceControl(CoreDsif& d, const char* key) {
        const auto& keys = Access::sourceKeys(d);
        for (size_t k = 0; k < keys.size(); ++k)
            if (keys[k] == CoreAnsx(key)) return (k + 0.5) / static_cast<double>(keys.size()) * 2.0 - 1.0;
        return -1.0;
    }
    CoreBlnk clock;
};

} // namespace

TEST_F(CoreDsifParamEdit, Screen) {
    auto e = engineWithParameter();
    EditPageDriver page(*e, clock);
    Access::setSelectedParameter(*page.display, 0);
    page.enter(kEditPage);
    page.passes(3);
    EXPECT_TRUE(page.screen("paramedit_first"));
}

TEST_F(CoreDsifParamEdit, ViewingWritesNothing) {
    struct Row {
        const char* name;
        int32_t bean;
        const char* text;
    };
    const Row rows[] = {
        {"pre-label 9", 197, "9"},
        {"pre-label -1", 197, "-1"},
        {"pre-label abc", 197, "abc"},
        {"a constant of 17 digits", 210, "0.12345678901234567"},
        {"a lower-case source", 211, "lfo1"},
        {"an unknown source", 211, "NOSUCH"},
        {"an unknown operation", 204, "zzz"},
        {"a range of 17 digits", 215, "0.12345678901234567"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto e = engineWithParameter();
        CorePrcs::BEANSTRUCT b{0, 0};
        if (r.bean == 215)
            e->setbd(r.bean, CoreAnsx(r.text).ToDouble(), &b);
        else
            e->setbs(r.bean, r.text, &b);
        EditPageDriver page(*e, clock);
        Access::setSelectedParameter(*page.display, 0);
        const std::string before = page.programText();
        page.record();
        page.enter(kEditPage);
        page.passes(20);
        page.walkItems();
        page.passes(3);
        EXPECT_EQ(page.writes({187, 190}), std::vector<std::string>{});
        EXPECT_TRUE(page.sane());
        EXPECT_TRUE(page.programText() == before) << "the committed program text changed";
    }
}

TEST_F(CoreDsifParamEdit, WritesWhatTheUserChanged) {
    using Script = std::function<void(EditPageDriver&, CoreDsif&)>;
    struct Row {
        const char* name;
        Script script;
        std::vector<std::string> writes;
        const char* preLabelShown; // row 7 from column 10, 3 characters
        const char* inputA = "0.25";
    };
    const Row rows[] = {
        {"input A to the source LFO1",
         [](EditPageDriver& p, CoreDsif& d) { p.turn(2, 1, sourceControl(d, "LFO1")); },
         {"setbs 210 [0] \"LFO1\"", "setbs 211 [0] \"OFF\"", "setbs 204 [0] \"a\""}, "No"},
        {"input A's number to 0.5 with control 2",
         [](EditPageDriver& p, CoreDsif& d) {
             p.turn(2, 1, sourceControl(d, "LFO1"));
             p.control(2, 0.5);
         },
         {"setbs 210 [0] \"LFO1\"", "setbs 211 [0] \"OFF\"", "setbs 204 [0] \"a\"", "setbs 210 [0] \"0.5\"",
          "setbs 211 [0] \"OFF\"", "setbs 204 [0] \"a\""},
         "No"},
        {"only the operation: the inputs as loaded",
         [](EditPageDriver& p, CoreDsif&) { p.turn(1, 1, 0.0); },
         {"setbs 210 [0] \"0.25\"", "setbs 211 [0] \"OFF\"", "setbs 204 [0] \"warp(a,b)\""}, "No"},
        {"only the operation: a constant of 17 digits sent as read",
         [](EditPageDriver& p, CoreDsif&) { p.turn(1, 1, 0.0); },
         {"setbs 210 [0] \"0.12345678901234566\"", "setbs 211 [0] \"OFF\"", "setbs 204 [0] \"warp(a,b)\""},
         "No", "0.12345678901234567"},
        {"MIX3 assigned", [](EditPageDriver& p, CoreDsif&) { p.turn(0, 1, (3.5 / 9.0) * 2.0 - 1.0); },
         {"setbs 197 [0] \"3\""}, "No"},
        {"MIX3 then none", [](EditPageDriver& p, CoreDsif&) {
             p.turn(0, 1, (3.5 / 9.0) * 2.0 - 1.0);
             p.control(1, -1.0);
         },
         {"setbs 197 [0] \"3\"", "setbs 197 [0] \"\""}, "No"},
        {"the maximum edited: all four written",
         [](EditPageDriver& p, CoreDsif&) {
             p.tap(41, 8);
             p.type(std::string("\x23", 1) + std::string(20, '\x08') + "2,5\r"); // '.' is the delete key
         },
         {"setbd 214 [0] 0", "setbd 215 [0] 2.5", "setbd 216 [0] 0", "setbd 217 [0] 1"}, "No"},
        {"a pre label typed, then cleared",
         [](EditPageDriver& p, CoreDsif&) {
             p.tap(10, 7);
             p.type("ms\r");
             p.tap(10, 7);
             p.type("\x2e\r");
         },
         {"setbs 201 [0] \"ms\"", "setbs 201 [0] \"\""}, "No"},
        {"a label typed", [](EditPageDriver& p, CoreDsif&) { p.tap(12, 2); p.type("\x23\x27X\r"); }, // end, right
         {"setbs 198 [0] \"SizeX\""}, "No"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto e = engineWithParameter();
        CorePrcs::BEANSTRUCT first{0, 0};
        e->setbs(210, r.inputA, &first);
        EditPageDriver page(*e, clock);
        Access::setSelectedParameter(*page.display, 0);
        page.enter(kEditPage);
        page.record();
        r.script(page, *page.display);
        page.passes(2);
        EXPECT_EQ(page.writes({187, 190}), r.writes);
        EXPECT_EQ(page.row(7, 10, 3), r.preLabelShown);
        EXPECT_TRUE(page.sane());
    }
}

TEST_F(CoreDsifParamEdit, TitleAndWayBack) {
    auto e = engineWithParameter();
    EditPageDriver page(*e, clock);
    Access::setSelectedParameter(*page.display, 0);
    page.enter(kEditPage);
    EXPECT_EQ(page.row(0, 0, 48), "  EditMode: PARM 1");
    page.tap(52, 0);
    EXPECT_EQ(page.display->getns(), 13);

    // A selection outside 0 .. 15 (left by another page) reaches no parameter's values.
    for (short outside : {short(-1), short(16)}) {
        Access::setSelectedParameter(*page.display, outside);
        page.enter(kEditPage);
        page.record();
        page.turn(1, 1, 0.5);
        page.passes(2);
        EXPECT_TRUE(page.sane());
        CorePrcs::BEANSTRUCT first{0, 0};
        EXPECT_EQ(std::string(e->getbs(204, &first).c_str()), "a") << outside;
    }
}
