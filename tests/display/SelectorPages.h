// SelectorPages: the fixture of the selector page tests: a booted engine whose current program is built
// from a compact text (tests/program/ProgramFixtures.h notation), its display without a thread, the
// recording host and the bean trace, and the moves a user makes: control 0 selects an item, control 1
// sets the value or choice, control 2 a dual item's number, clicks on cells. Tests only.
#pragma once
#include "BeanLog.h"
#include "CoreDsifTestAccess.h"
#include "GoldenScreen.h"
#include "RecordingHost.h"
#include "base/CoreBlnk.h"
#include "display/CoreDspc.h"
#include "display/CoreDstx.h"
#include "tests/common/EngineFixture.h"
#include "tests/program/ProgramFixtures.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

// A program text with the section named tag ("LFO3", "EVF1") left out.
inline std::string withoutSection(const std::string& text, const std::string& tag) {
    const std::string open = "<" + tag + ">", close = "</" + tag + ">";
    const size_t from = text.find(open), to = text.find(close);
    if (from == std::string::npos || to == std::string::npos) return text;
    return text.substr(0, from) + text.substr(to + close.size());
}

class SelectorPageTest : public BootedEngineTest {
public: // the rows of table-driven tests act on the fixture
    using Access = CoreDsifTestAccess;
    static constexpr int32_t kSlot = 7; // the program under test is loaded here and made current

    // A booted engine at rate whose current program is program("Sel") with the compact text inside.
    // settings: more MASTER settings.
    void start(const std::string& compact, int32_t rate = 48000, const std::string& settings = "") {
        log.reset();
        display.reset();
        engine = booted(rate, settings);
        writeText(data() / "progs/SEL.XML", program("Sel", progtest::xml(compact)));
        engine->getmm()->loadl(kSlot, CoreAnsx("SEL.XML"));
        CorePrcs::BEANSTRUCT none{};
        engine->setbi(88, kSlot, &none);
        display = Access::unstarted(engine.get(), &queue, &clock, &host);
        Access::setPages(*display, 0, 0);
    }
    // Enters page state and runs passes more passes; the trace starts empty after the entry pass
    // unless traceEntry keeps what the entry pass did.
    void enter(short state, int passes = 0, bool traceEntry = false) {
        Access::setNextState(*display, state);
        pass();
        if (log && !traceEntry) {
            log->lines.clear();
            log->calls.clear();
        }
        for (int i = 0; i < passes; ++i) pass();
    }
    void trace() { log = std::make_unique<BeanLog>(*engine); }
    void pass() { display->updte(true); }
    void passes(int n) {
        for (int i = 0; i < n; ++i) pass();
    }
    CoreDsgt& selectors() { return Access::selectors(*display); }
    CoreDstx& item(short i) { return *selectors().gettx(i); }
    void control(int32_t n, double value) {
        CorePrcs::BEANSTRUCT b{n, 0};
        engine->setbd(190, value, &b);
    }
    // Control 0 onto item i, a pass to bind it.
    void select(short i) {
        control(0, selectors().tx2ct(i));
        pass();
    }
    // Item i selected and control 1 (or 2) turned to the position, then a pass.
    void turn(short i, double position, int32_t which = 1) {
        select(i);
        control(which, CoreDstx::toControl(position));
        pass();
    }
    // The list position k of n entries.
    static double choice(int k, int n) { return (k + 0.5) / n; }
    void click(int32_t column, int32_t row) {
        const CoreDspc::MESSAGELOC m{0, 0, column, row, column * 8 + 3, row * 12 + 5};
        queue.addms(&m);
        pass();
    }
    CoreAnsx committed() {
        CorePrcs::BEANSTRUCT none{};
        return engine->getbs(68, &none);
    }
    std::string row(int y) const {
        std::string text;
        for (int x = 0; x < CoreDsif::iCdimx; ++x) text += Access::grid(*display).cell(x, y)->getch();
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }
    // The setters of the trace, without the selector's own control traffic.
    std::vector<std::string> writes() const {
        std::vector<std::string> out;
        for (size_t i = 0; log && i < log->calls.size(); ++i) {
            const int id = log->calls[i].id;
            if (id == 187 || id == 190) continue;
            out.push_back(log->lines[i]);
        }
        return out;
    }
    ::testing::AssertionResult screen(const std::string& golden, const std::vector<std::string>& calls = {}) {
        GoldenScreen g(golden);
        if (!calls.empty()) g.section("calls", calls);
        return g.matches(Access::grid(*display), golden);
    }

    std::unique_ptr<CorePrcs> engine;
    CoreDspc queue;
    CoreBlnk clock;
    RecordingHost host;
    std::unique_ptr<CoreDsif> display;
    std::unique_ptr<BeanLog> log;
};
