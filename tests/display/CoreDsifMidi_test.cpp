// The MIDI page on a booted fixture engine: its screens, the learn buttons, typed controller numbers,
// the activity mark and SAVE, each a row of a flow ending in a golden screen with the writes the flow
// made (the per-pass slot selection and parameter refreshes left out).
#include "display/CoreDsif.h"

#include "GoldenScreen.h"
#include "PageDriver.h"
#include "base/CoreBlnk.h"
#include "tests/common/EngineFixture.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

constexpr short kMidiPage = 3;

class CoreDsifMidi : public BootedEngineTest {
public:
    static constexpr int32_t kNamedSlot = 1500;

    // Into slot 1500: a program whose user parameters name controls 2 (a hidden one first, then two
    // shown ones) and 5.
    void placeNamedParameters(CorePrcs& engine) {
        const auto parameter = [](int n, const std::string& label, const std::string& control,
                                  const std::string& more) {
            return tag("PRM" + std::to_string(n), tag("LABEL", label) + tag("PRELABEL", control) +
                                                      tag("MINVALUE", " 0 ") + tag("MAXVALUE", "1") +
                                                      tag("A", "MIX1") + tag("B", "OFF") + tag("FUN", "a") +
                                                      more);
        };
        const std::string display = parameter(1, "Hidden", "2", tag("VISIBLE", " 0 ")) +
                                    parameter(2, "Resonance long", "2", "") +
                                    parameter(3, "Second", "2", "") + parameter(4, "Drive", "5", "");
        writeText(data() / "progs/NAMED.XML", program("Named", tag("DISPLAY", display)));
        engine.getmm()->loadl(kNamedSlot, CoreAnsx("NAMED.XML"));
    }

protected:
    CoreBlnk clock;
};

int32_t slotBean(CorePrcs& engine, int id, int slot) {
    CorePrcs::BEANSTRUCT none{};
    engine.setbh(180, static_cast<short>(slot), &none);
    return engine.getbi(id, &none);
}

} // namespace

TEST_F(CoreDsifMidi, FlowsEndInTheirScreens) {
    struct Row {
        const char* golden;
        std::function<void(CoreDsifMidi&, PageDriver&, std::vector<std::string>&)> script;
    };
    const std::vector<Row> rows = {
        {"midi_parameters_learning.txt", // user parameters named by their controls, slot 3 learning
         [](CoreDsifMidi& t, PageDriver& d, std::vector<std::string>&) {
             t.placeNamedParameters(d.engine);
             d.load(kNamedSlot);
             d.writes();
             d.enter(kMidiPage);
             d.click(32, 4);
             d.pass(2);
         }},
        {"midi_learnt_in.txt", // the learning slot takes the next message; IN for that pass only
         [](CoreDsifMidi&, PageDriver& d, std::vector<std::string>& notes) {
             d.enter(kMidiPage);
             d.click(32, 2);
             d.pass();
             d.engine.mdctr(0, 2, 176, 7, 99);
             d.pass();
             notes.push_back("message pass [" + d.row(1, 0, 2) + "]");
             notes.push_back("controller " + std::to_string(slotBean(d.engine, 183, 0)));
             notes.push_back("status " + std::to_string(slotBean(d.engine, 182, 0)));
             d.pass();
             notes.push_back("next pass [" + d.row(1, 0, 2) + "]");
         }},
        {"midi_learn_twice.txt", // a second click ends learning again
         [](CoreDsifMidi&, PageDriver& d, std::vector<std::string>&) {
             d.enter(kMidiPage);
             d.click(32, 9);
             d.pass();
             d.click(32, 9);
             d.pass(2);
         }},
        {"midi_typed_controller.txt", // a confirmed number becomes the controller, kept status, ≤ 127
         [](CoreDsifMidi&, PageDriver& d, std::vector<std::string>& notes) {
             d.enter(kMidiPage);
             d.click(9, 3);
             d.pass();
             d.type("45\r");
             d.pass(2);
             d.click(8, 5);
             d.pass();
             d.type("12\r");
             d.pass(2);
             notes.push_back("slot 3 " + std::to_string(slotBean(d.engine, 183, 3)));
             d.click(8, 5);
             d.pass();
             d.type("999\r");
             d.pass(2);
             d.click(8, 6); // armed, then confirmed unchanged: no write
             d.pass();
             d.type("\r");
             d.pass(2);
             notes.push_back("slot 1 " + std::to_string(slotBean(d.engine, 183, 1)));
             notes.push_back("slot 3 " + std::to_string(slotBean(d.engine, 183, 3)));
         }},
        {"midi_save.txt", // SAVE writes the master settings
         [](CoreDsifMidi&, PageDriver& d, std::vector<std::string>&) {
             d.enter(kMidiPage);
             d.click(53, 1);
             d.pass();
         }},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.golden);
        auto engine = booted();
        PageDriver driver(*engine, clock);
        std::vector<std::string> notes;
        r.script(*this, driver, notes);
        GoldenScreen screen(r.golden);
        screen.fact("next state " + std::to_string(driver.display->getns()))
            .section("calls", driver.writes({180, 195}))
            .section("notes", notes);
        EXPECT_TRUE(screen.matches(CoreDsifTestAccess::grid(*driver.display), r.golden));
    }
}
