// The dynamics page on a booted engine holding the fixture's parameter program: its screen, viewing
// that writes nothing even for values the page cannot show, and the write of one whole modulator per
// changed modulator, dynamics 0 first, each applied by action bean 133.
#include "display/CoreDsif.h"

#include "EditPageDriver.h"
#include "tests/common/EngineFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr short kDynamicsPage = 12;

class CoreDsifDynamics : public BootedEngineTest {
protected:
    static void setDynamics(CorePrcs& engine, int32_t d, const char* input, int16_t type, const char* threshold,
                            const char* ratio, int16_t curve, double range, double makeup) {
        CorePrcs::BEANSTRUCT b{d, 0};
        engine.setbs(126, input, &b);
        engine.setbh(129, type, &b);
        engine.setbs(127, threshold, &b);
        engine.setbs(128, ratio, &b);
        engine.setbh(130, curve, &b);
        engine.setbd(131, range, &b);
        engine.setbd(132, makeup, &b);
        engine.setbv(133, &b);
    }
    // Dynamics 0 plain, dynamics 1 awkward: a range of 60 dB, a lower-case threshold source and an
    // unknown ratio source (the engine's setters keep type 3 and curve 11 to its lists' ends).
    std::unique_ptr<CorePrcs> engineWithDynamics() {
        auto e = booted();
        e->ldpdm(kParameters, false);
        setDynamics(*e, 0, "EVF1", 1, "MIX2", "LFO1", 2, 12.5, 3.0);
        setDynamics(*e, 1, "ENV2", 3, "mix3", "NOSUCH", 11, 60.0, 0.1234567);
        return e;
    }
    CoreBlnk clock;
};

const std::vector<std::string> kModulatorOne = {
    "setbh 129 [1] 1",  "setbs 127 [1] \"mix3\"", "setbs 126 [1] \"ENV2\"", "setbs 128 [1] \"NOSUCH\"",
    "setbh 130 [1] 9",  "setbd 131 [1] 60",       "setbd 132 [1] 0.123457", "setbv 133 [1]"};

} // namespace

TEST_F(CoreDsifDynamics, Screen) {
    auto e = engineWithDynamics();
    EditPageDriver page(*e, clock);
    page.enter(kDynamicsPage);
    page.passes(3);
    EXPECT_TRUE(page.screen("dynamics"));
}

TEST_F(CoreDsifDynamics, ViewingWritesNothing) {
    auto e = engineWithDynamics();
    EditPageDriver page(*e, clock);
    const std::string before = page.programText();
    page.record();
    page.enter(kDynamicsPage);
    page.passes(20);
    page.walkItems();
    page.passes(3);
    EXPECT_EQ(page.writes({187, 190}), std::vector<std::string>{});
    EXPECT_TRUE(page.sane());
    EXPECT_TRUE(page.programText() == before) << "the committed program text changed";
}

TEST_F(CoreDsifDynamics, AChangeWritesItsWholeModulator) {
    using Script = std::function<void(EditPageDriver&)>;
    struct Row {
        const char* name;
        Script script;
        std::vector<std::string> writes;
    };
    std::vector<std::string> both = {"setbh 129 [0] 1",  "setbs 127 [0] \"MIX2\"", "setbs 126 [0] \"EVF1\"",
                                     "setbs 128 [0] \"LFO1\"", "setbh 130 [0] 2", "setbd 131 [0] 0",
                                     "setbd 132 [0] 3", "setbv 133 [0]"};
    std::vector<std::string> curveOnly = kModulatorOne;
    curveOnly[4] = "setbh 130 [1] 5";
    both.insert(both.end(), curveOnly.begin(), curveOnly.end());
    std::vector<std::string> threshold = kModulatorOne;
    threshold[1] = "setbs 127 [1] \"OFF\"";
    const Row rows[] = {
        {"the ratio curve of dynamics 1", [](EditPageDriver& p) { p.turn(11, 1, 0.0); }, curveOnly},
        {"a source of dynamics 1", [](EditPageDriver& p) { p.turn(9, 1, -1.0); }, threshold},
        {"one item of each: dynamics 0 first",
         [](EditPageDriver& p) {
             // Dynamics 0's range to 0 dB, then dynamics 1's curve, both before the pass that writes.
             CorePrcs::BEANSTRUCT control0{0, 0}, control1{1, 0};
             p.turn(5, 1, -1.0);
             p.engine.setbd(190, CoreDsifTestAccess::selectors(*p.display).tx2ct(11), &control0);
             p.pass();
             p.engine.setbd(190, 0.0, &control1);
         },
         both},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto e = engineWithDynamics();
        EditPageDriver page(*e, clock);
        page.enter(kDynamicsPage);
        page.record();
        r.script(page);
        page.passes(2);
        EXPECT_EQ(page.writes({187, 190}), r.writes);
        EXPECT_TRUE(page.sane());
    }
}

TEST_F(CoreDsifDynamics, TheExitButtonLeavesForTheProgramPage) {
    auto e = engineWithDynamics();
    EditPageDriver page(*e, clock);
    page.enter(kDynamicsPage);
    page.tap(57, 0);
    EXPECT_EQ(page.display->getns(), 0);
}
