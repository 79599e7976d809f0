// The envelope page on a booted engine holding the fixture's parameter program: its screens, viewing
// that writes nothing even for values the page cannot show, and the one write of the whole envelope
// after a user's change, applied by action bean 143.
#include "display/CoreDsif.h"

#include "EditPageDriver.h"
#include "tests/common/EngineFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Access = CoreDsifTestAccess;
constexpr short kEnvelopePage = 11;

class CoreDsifEnvelope : public BootedEngineTest {
protected:
    // Envelope `e` set through its beans and applied.
    static void setEnvelope(CorePrcs& engine, int32_t e, const std::vector<double>& levels,
                            const std::vector<int32_t>& times, const std::vector<int16_t>& curves,
                            const std::vector<const char*>& sources, double levelAmount, double timeAmount) {
        for (int32_t s = 0; s < 4; ++s) {
            CorePrcs::BEANSTRUCT b{e, s};
            engine.setbd(134, levels[static_cast<size_t>(s)], &b);
            engine.setbl(137, times[static_cast<size_t>(s)], &b);
            engine.setbh(138, curves[static_cast<size_t>(s)], &b);
        }
        CorePrcs::BEANSTRUCT b{e, 0};
        for (int32_t k = 0; k < 4; ++k) engine.setbs(139 + k, sources[static_cast<size_t>(k)], &b);
        engine.setbd(135, levelAmount, &b);
        engine.setbd(136, timeAmount, &b);
        engine.setbv(143, &b);
    }
    // At 44100 Hz: a plain envelope 0 (JOIN start) and an awkward envelope 1.
    std::unique_ptr<CorePrcs> engineWithEnvelopes() {
        auto e = booted(44100);
        e->ldpdm(kParameters, false);
        setEnvelope(*e, 0, {-1.0, 1.0, 0.5, 0.25}, {441, 882, 4410, 44100}, {0, 1, 2, 9},
                    {"LFO1", "MIX2", "OFF", "MIX3"}, 0.5, 0.75);
        setEnvelope(*e, 1, {-0.5, 0.125, -0.25, 0.625}, {5000, 100, 0, 44100 * 2}, {12, 3, -1, 0},
                    {"lfo2", "NOSUCH", "Mix4", " MIX5 "}, 0.3333333333333333, 2.0);
        return e;
    }
    CoreBlnk clock;
};

// A program text with the section of envelope e (0 or 1) left out.
std::string withoutEnvelope(const std::string& text, int e) {
    const std::string open = "<ENV" + std::to_string(e + 1) + ">", close = "</ENV" + std::to_string(e + 1) + ">";
    const size_t from = text.find(open), to = text.find(close);
    if (from == std::string::npos || to == std::string::npos) return text;
    return text.substr(0, from) + text.substr(to + close.size());
}

} // namespace

TEST_F(CoreDsifEnvelope, Screens) {
    struct Row {
        const char* golden;
        short envelope;
    };
    const Row rows[] = {{"envelope_join", 0}, {"envelope_awkward", 1}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.golden);
        auto e = engineWithEnvelopes();
        CorePrcs::BEANSTRUCT b{0, 0};
        if (r.envelope == 0) e->setbd(134, -1.0, &b);
        EditPageDriver page(*e, clock);
        page.enter(kEnvelopePage);
        if (r.envelope == 1) page.tap(56, 1);
        page.passes(3);
        EXPECT_TRUE(page.screen(r.golden));
    }
}

TEST_F(CoreDsifEnvelope, ViewingWritesNothing) {
    for (short envelope : {0, 1}) {
        SCOPED_TRACE(envelope);
        auto e = engineWithEnvelopes();
        EditPageDriver page(*e, clock);
        const std::string before = page.programText();
        page.record();
        page.enter(kEnvelopePage);
        if (envelope == 1) page.tap(56, 1);
        page.passes(20);
        page.walkItems();
        page.tap(50, 1);
        page.tap(56, 1);
        page.walkItems();
        page.passes(3);
        EXPECT_EQ(page.writes({187, 190}), std::vector<std::string>{});
        EXPECT_TRUE(page.sane());
        EXPECT_TRUE(page.programText() == before) << "the committed program text changed";
        EXPECT_EQ(page.display->getns(), kEnvelopePage);
    }
}

TEST_F(CoreDsifEnvelope, AChangeWritesTheWholeEnvelopeOnce) {
    using Script = std::function<void(EditPageDriver&)>;
    struct Row {
        const char* name;
        short envelope;
        Script script;
        std::vector<std::string> writes;
        bool textChanges = true; // false: the writes end where they began
    };
    // Envelope 1's unchanged items send what they were loaded with: the negative levels, curve 12,
    // the times in samples, the sources as read.
    const auto envelopeOne = [](const std::string& level0, const std::string& time0, const std::string& curve2,
                                const std::string& activation) {
        return std::vector<std::string>{
            "setbd 134 [1,0] " + level0, "setbl 137 [1,0] " + time0, "setbh 138 [1,0] 12",
            "setbd 134 [1,1] 0.125",     "setbl 137 [1,1] 100",      "setbh 138 [1,1] 3",
            "setbd 134 [1,2] -0.25",     "setbl 137 [1,2] 0",        "setbh 138 [1,2] " + curve2,
            "setbd 134 [1,3] 0.625",     "setbl 137 [1,3] 88200",    "setbh 138 [1,3] 0",
            "setbs 139 [1] \"" + activation + "\"", "setbs 140 [1] \"NOSUCH\"",
            "setbd 135 [1] 0.333333",    "setbs 141 [1] \"Mix4\"",
            "setbd 136 [1] 2",           "setbs 142 [1] \" MIX5 \"", "setbv 143 [1]"};
    };
    const Row rows[] = {
        {"the curve of stage 2", 1, [](EditPageDriver& p) { p.turn(16, 1, -0.7); },
         envelopeOne("-0.5", "5000", "1", "lfo2")},
        {"the activation source", 1, [](EditPageDriver& p) { p.turn(0, 1, -1.0); },
         envelopeOne("-0.5", "5000", "-1", "OFF")},
        {"the start level's number brought in with control 2", 1, [](EditPageDriver& p) { p.turn(2, 2, 0.0); },
         envelopeOne("0.5", "5000", "-1", "lfo2")},
        {"the attack time set to 5.5 ms", 1,
         [](EditPageDriver& p) { p.turn(8, 1, (4.5 / 599.0) * 2.0 - 1.0); },
         envelopeOne("-0.5", "242", "-1", "lfo2")},
        {"JOIN brought back with control 1", 0,
         [](EditPageDriver& p) { p.turn(2, 2, 0.0); p.turn(2, 1, 0.5); },
         {"setbd 134 [0,0] 0.5", "setbl 137 [0,0] 441", "setbh 138 [0,0] 0", "setbd 134 [0,1] 1",
          "setbl 137 [0,1] 882", "setbh 138 [0,1] 1", "setbd 134 [0,2] 0.5", "setbl 137 [0,2] 4410",
          "setbh 138 [0,2] 2", "setbd 134 [0,3] 0.25", "setbl 137 [0,3] 44100", "setbh 138 [0,3] 9",
          "setbs 139 [0] \"LFO1\"", "setbs 140 [0] \"MIX2\"", "setbd 135 [0] 0.5", "setbs 141 [0] \"OFF\"",
          "setbd 136 [0] 0.75", "setbs 142 [0] \"MIX3\"", "setbv 143 [0]", "setbd 134 [0,0] -1",
          "setbl 137 [0,0] 441", "setbh 138 [0,0] 0", "setbd 134 [0,1] 1", "setbl 137 [0,1] 882",
          "setbh 138 [0,1] 1", "setbd 134 [0,2] 0.5", "setbl 137 [0,2] 4410", "setbh 138 [0,2] 2",
          "setbd 134 [0,3] 0.25", "setbl 137 [0,3] 44100", "setbh 138 [0,3] 9", "setbs 139 [0] \"LFO1\"",
          "setbs 140 [0] \"MIX2\"", "setbd 135 [0] 0.5", "setbs 141 [0] \"OFF\"", "setbd 136 [0] 0.75",
          "setbs 142 [0] \"MIX3\"", "setbv 143 [0]"},
         false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto e = engineWithEnvelopes();
        EditPageDriver page(*e, clock);
        page.enter(kEnvelopePage);
        if (r.envelope == 1) page.tap(56, 1);
        page.pass();
        const std::string before = page.programText();
        page.record();
        r.script(page);
        page.passes(2);
        EXPECT_EQ(page.writes({187, 190}), r.writes);
        EXPECT_EQ(page.programText() != before, r.textChanges);
        EXPECT_TRUE(withoutEnvelope(page.programText(), r.envelope) == withoutEnvelope(before, r.envelope))
            << "the program text changed outside the envelope";
        EXPECT_TRUE(page.sane());
    }
}

TEST_F(CoreDsifEnvelope, StepsBetweenTheEnvelopesAndLeaves) {
    auto e = engineWithEnvelopes();
    EditPageDriver page(*e, clock);
    Access::placeholderPagesBut(*page.display, kEnvelopePage); // the page it leaves for shows its name only
    page.enter(kEnvelopePage);
    std::vector<std::string> trace;
    const auto note = [&] {
        trace.push_back(std::to_string(Access::envelope(*page.display)) + ":" + page.row(1, 53, 2) + "/" +
                        std::to_string(page.display->getns()));
    };
    page.tap(50, 1); // "<<" on the first does nothing
    note();
    page.tap(56, 1);
    page.pass();
    note();
    page.tap(55, 1); // ">>" on the second does nothing
    page.pass();
    note();
    page.tap(53, 0); // the exit button
    note();
    page.passes(2);
    page.enter(kEnvelopePage); // the number survives leaving
    note();
    EXPECT_EQ(trace, (std::vector<std::string>{"0:1/11", "1:2/11", "1:2/11", "1:/0", "1:2/11"}));
}
