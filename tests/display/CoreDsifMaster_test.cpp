// The full and the compact master settings pages on booted fixture engines: their screens, every
// setting written through a user change (and only then), the buttons, the skin list, and set-ups
// whose loaded values the items cannot show exactly, which viewing must leave as they are.
#include "display/CoreDsif.h"

#include "BeanLog.h"
#include "CoreDsifTestAccess.h"
#include "GoldenScreen.h"
#include "RecordingHost.h"
#include "base/CoreBlnk.h"
#include "display/CoreDspc.h"
#include "tests/common/EngineFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Access = CoreDsifTestAccess;
constexpr short kFull = 2;
constexpr short kCompact = 19;
constexpr int kFullItems = 20;

// Drives a display as a user does: passes, control 0 to pick an item, control 1 to set it, clicks.
struct Driver {
    CorePrcs& engine;
    CoreDsif& display;
    CoreDspc& queue;
    BeanLog log{engine};

    void pass() { display.updte(true); }
    void passes(int n) {
        for (int i = 0; i < n; ++i) pass();
    }
    void enter(short state) {
        Access::setNextState(display, state);
        pass();
    }
    void control(int slot, double value) {
        CorePrcs::BEANSTRUCT b{slot, 0};
        engine.setbd(190, value, &b);
    }
    CoreDstx& item(int slot) { return *Access::selectors(display).gettx(static_cast<short>(slot)); }
    void select(int slot) {
        control(0, Access::selectors(display).tx2ct(static_cast<short>(slot)));
        pass();
    }
    void choose(int slot, int position) {
        select(slot);
        control(1, CoreDstx::toControl((position + 0.5) / item(slot).getne()));
        pass();
    }
    void setValue(int slot, double value) {
        select(slot);
        const CoreDstx& i = item(slot);
        control(1, CoreDstx::toControl((value - i.getlw()) / (i.getup() - i.getlw())));
        pass();
    }
    void click(int column, int row) {
        const CoreDspc::MESSAGELOC m{0, 0, column, row, column * 8 + 3, row * 12 + 5};
        queue.addms(&m);
        pass();
    }
    // The setters and actions of the trace but the selector's control traffic.
    std::vector<std::string> writes() const {
        std::vector<std::string> out;
        for (const std::string& line : log.lines) {
            if (line.rfind("set", 0) != 0) continue;
            const std::string id = line.substr(6, line.find(' ', 6) - 6);
            if (id != "187" && id != "190") out.push_back(line);
        }
        return out;
    }
    std::string row(int y, int from = 0, int count = CoreDsif::iCdimx) const {
        std::string text;
        for (int x = from; x < from + count; ++x) text += Access::grid(display).cell(x, y)->getch();
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }
};

// A settings text with one element replaced, or added when it is not there.
std::string withSetting(std::string text, const std::string& key, const std::string& value) {
    const std::string open = "<" + key + ">", close = "</" + key + ">";
    const size_t from = text.find(open);
    if (from == std::string::npos) return text + open + value + close;
    const size_t to = text.find(close, from);
    return text.replace(from, to + close.size() - from, open + value + close);
}

class CoreDsifMaster : public BootedEngineTest {
protected:
    struct Setting {
        const char* key;
        const char* value;
    };
    // A booted engine whose settings come from the file beside the plug-in (so that action 79 writes
    // it), with a skins folder of three skins in mixed case and one skin folder.
    std::unique_ptr<CorePrcs> engine(const std::vector<Setting>& changes = {}, int32_t rate = 48000,
                                     bool skins = true) {
        if (!std::filesystem::exists(data() / "setups/boot.xml")) writeEngineFolder(rate);
        for (const char* name : {"beta.Q7S", "Alpha.q7s", "Gamma.Q7s"}) writeText(data() / "skins" / name, "x");
        std::filesystem::create_directories(data() / "skins/Folder");
        std::filesystem::create_directories(data() / "noskins");
        std::string text = withSetting(settings(), "SKINSUBPATH", skins ? "skins/" : "noskins/");
        text = withSetting(text, "SKINNAME", "Alpha.q7s");
        for (const Setting& s : changes) text = withSetting(text, s.key, s.value);
        writeText(root / CorePrcs::sCmstrfilenme, "<MASTER>" + text + "</MASTER>");
        auto e = make("0", rate);
        bootThroughBeans(*e);
        EXPECT_TRUE(e->getbb(148, nullptr)) << "the engine failed to boot";
        return e;
    }
    std::string saved() {
        std::ifstream in(root / CorePrcs::sCmstrfilenme, std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    CoreDspc queue;
    CoreBlnk clock;
    RecordingHost host;
};

} // namespace

TEST_F(CoreDsifMaster, ShowsItsScreens) {
    struct Row {
        const char* golden;
        short state;
        std::vector<Setting> settings;
        int32_t rate;
        bool fontSets;
    };
    const Row rows[] = {
        {"master_full.txt", kFull, {}, 48000, true},
        {"master_compact.txt", kCompact, {{"MODE", "0.0"}}, 48000, true},
        // six digits of rate show their first five; no font sets: COLOUR shows nothing
        {"master_full_odd.txt", kFull, {{"HDIMMAX", "3"}, {"DSPBUFFER", "16384"}}, 192000, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.golden);
        auto e = engine(r.settings, r.rate);
        host.fontSets = r.fontSets ? std::vector<std::string>{"Amber", "Green"} : std::vector<std::string>{};
        auto display = Access::unstarted(e.get(), &queue, &clock, &host);
        Driver d{*e, *display, queue};
        d.enter(r.state);
        d.passes(2);
        EXPECT_EQ(display->getns(), r.state);
        EXPECT_TRUE(GoldenScreen(r.golden)
                        .fact("page state " + std::to_string(r.state))
                        .section("calls", d.writes())
                        .matches(Access::grid(*display), r.golden));
    }
}

TEST_F(CoreDsifMaster, WritesWhatTheUserChanges) {
    using Check = std::function<void(CorePrcs&, CoreDsif&)>;
    struct Row {
        const char* name;
        std::vector<Setting> settings;
        short state;
        std::function<void(Driver&)> input;
        std::vector<std::string> writes;
        short next;
        Check check;
    };
    const auto beanShort = [](int32_t id, int16_t value) -> Check {
        return [=](CorePrcs& e, CoreDsif&) { EXPECT_EQ(e.getbh(id, nullptr), value) << id; };
    };
    const std::vector<Row> rows = {
        {"MODE 0 Simple leaves for the compact page", {}, kFull, [](Driver& d) { d.choose(0, 0); },
         {"setbb 41 0"}, kCompact, nullptr},
        {"MODE 1 Guru on the full page writes nothing", {}, kFull, [](Driver& d) { d.choose(0, 1); }, {}, kFull,
         nullptr},
        {"MODE 1 Guru leaves the compact page", {{"MODE", "0.0"}}, kCompact, [](Driver& d) { d.choose(0, 1); },
         {"setbb 41 1"}, kFull, nullptr},
        {"MODE from full to compact and back", {}, kFull,
         [](Driver& d) {
             d.choose(0, 0);
             d.pass(); // the compact page's entry
             d.choose(0, 1);
         },
         {"setbb 41 0", "setbb 41 1"}, kFull, nullptr},
        {"METERS through the processor call", {}, kFull, [](Driver& d) { d.choose(1, 3); }, {}, kFull,
         beanShort(48, 3)},
        {"METERS on the compact page", {{"MODE", "0.0"}}, kCompact, [](Driver& d) { d.choose(1, 8); }, {}, kCompact,
         beanShort(48, 8)},
        {"COLOUR", {}, kFull, [](Driver& d) { d.choose(2, 1); }, {"setbh 32 1"}, kFull,
         [](CorePrcs&, CoreDsif& display) { EXPECT_EQ(display.getfc(), 1); }},
        {"COLOUR on the compact page", {{"MODE", "0.0"}, {"FONTCOLOUR", "1"}}, kCompact,
         [](Driver& d) { d.choose(2, 0); }, {"setbh 32 0"}, kCompact, nullptr},
        {"QUALITY", {}, kFull, [](Driver& d) { d.choose(3, 2); }, {"setbh 45 3"}, kFull, nullptr},
        {"OPT TIMED", {}, kFull, [](Driver& d) { d.choose(4, 0); }, {"setbh 50 1"}, kFull, nullptr},
        {"OPT TIMED chosen again writes nothing", {}, kFull, [](Driver& d) { d.choose(4, 2); }, {}, kFull,
         beanShort(50, 3)},
        {"OPT FREQD", {}, kFull, [](Driver& d) { d.choose(6, 5); }, {"setbh 51 6"}, kFull, nullptr},
        {"*L TIMED", {}, kFull, [](Driver& d) { d.setValue(5, 12.0); }, {"setbl 158 [0] 12000"}, kFull, nullptr},
        {"*L FREQD 0.5 s", {{"DSPBUFFER", "8192"}}, kFull, [](Driver& d) { d.setValue(7, 0.5); },
         {"setbl 158 [1] 500000"}, kFull, nullptr},
        {"PROG RATE 3.0 ms", {{"PROGRAMRATE", "2500"}}, kFull, [](Driver& d) { d.setValue(8, 3.0); }, {"setbl 52 3000"}, kFull, nullptr},
        {"*GUI RATE", {}, kFull, [](Driver& d) { d.setValue(9, 60.0); }, {"setbl 65 60000"}, kFull, nullptr},
        {"*OFFSET", {}, kFull, [](Driver& d) { d.setValue(10, 1.5); }, {"setbl 70 1500"}, kFull, nullptr},
        {"*AHEAD", {}, kFull, [](Driver& d) { d.setValue(11, 2.0); }, {"setbd 19 2000"}, kFull, nullptr},
        {"KERNELS", {}, kFull, [](Driver& d) { d.choose(12, 2); }, {"setbh 54 3"}, kFull, nullptr},
        {"KERNELS offers three entries under a limit of 3", {{"HDIMMAX", "3"}, {"HDIM", "1"}}, kFull,
         [](Driver& d) {
             EXPECT_EQ(d.item(12).getne(), 3);
             EXPECT_STREQ(d.item(12).getel(2).Trim().c_str(), "3  (2nd harm)");
             d.choose(12, 2);
         },
         {"setbh 54 3"}, kFull, nullptr},
        {"RATE CNV", {}, kFull, [](Driver& d) { d.setValue(13, 4.5); }, {"setbl 30 4500"}, kFull, nullptr},
        {"*SCAN BOOT", {}, kFull, [](Driver& d) { d.choose(14, 1); }, {"setbb 20 1"}, kFull, nullptr},
        {"*BOOT", {}, kFull, [](Driver& d) { d.choose(15, 0); }, {"setbb 21 0"}, kFull, nullptr},
        {"GHOST MODE", {}, kFull, [](Driver& d) { d.choose(16, 1); }, {"setbb 35 1"}, kFull, nullptr},
        {"*DSPBUFFER 4096", {}, kFull, [](Driver& d) { d.choose(17, 5); }, {"setbl 236 4096"}, kFull, nullptr},
        {"LOADER PR", {}, kFull, [](Driver& d) { d.choose(18, 3); }, {"setbh 38 3"}, kFull,
         [](CorePrcs&, CoreDsif& display) { EXPECT_EQ(Access::priority(display), 3); }},
        {"*SKIN: the picked list text; the name was found whatever its case", {{"SKINNAME", "BETA.q7s"}}, kFull,
         [](Driver& d) {
             EXPECT_EQ(d.item(19).getne(), 4); // three skins, then the folder
             EXPECT_EQ(d.item(19).getel(), 1);
             d.choose(19, 2);
         },
         {"setbs 62 \"Gamma.Q7s\""}, kFull, nullptr},
        {"two items changed: the untouched ones write nothing", {{"PROGRAMRATE", "2500"}}, kFull,
         [](Driver& d) {
             d.choose(3, 4);
             d.setValue(8, 3.0);
             d.select(0);
         },
         {"setbh 45 5", "setbl 52 3000"}, kFull, nullptr},
        {"a list moved away and back writes each move; the same entry again writes nothing", {}, kFull,
         [](Driver& d) {
             d.choose(17, 3);
             d.control(1, -1.0); // 128 ...
             d.pass();
             d.choose(18, 1); // ... and the loader priority it already had
         },
         {"setbl 236 1024", "setbl 236 128"}, kFull, nullptr},
        {"SAVE hit at its last column", {}, kFull, [](Driver& d) { d.click(57, 1); }, {"setbv 79"}, kFull, nullptr},
        {"SAVE on the compact page", {{"MODE", "0.0"}}, kCompact, [](Driver& d) { d.click(50, 1); }, {"setbv 79"},
         kCompact, nullptr},
        {"SAVE missed left of it and above it", {}, kFull,
         [](Driver& d) {
             d.click(49, 1);
             d.click(50, 0);
         },
         {}, kFull, nullptr},
        {"ABOUT", {}, kFull, [](Driver& d) { d.click(40, 1); }, {}, 15, nullptr},
        {"TEST", {}, kFull, [](Driver& d) { d.click(57, 2); }, {}, 16, nullptr},
        {"TEST missed left of it", {}, kFull, [](Driver& d) { d.click(54, 2); }, {}, kFull, nullptr},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto e = engine(r.settings);
        host.fontSets = {"Amber", "Green"};
        auto display = Access::unstarted(e.get(), &queue, &clock, &host);
        Driver d{*e, *display, queue};
        d.enter(r.state);
        d.passes(2);
        ASSERT_TRUE(d.writes().empty()) << d.writes().front();
        r.input(d);
        d.passes(2);
        EXPECT_EQ(d.writes(), r.writes);
        EXPECT_EQ(display->getns(), r.next);
        EXPECT_TRUE(d.log.sane);
        if (r.check) r.check(*e, *display);
    }
}

// An FFT mode that cannot run here leaves a blinking "!" beside OPT FREQD until its next change.
TEST_F(CoreDsifMaster, MarksAnFftModeThatCannotRun) {
    auto e = engine();
    auto display = Access::unstarted(e.get(), &queue, &clock, &host);
    Driver d{*e, *display, queue};
    d.enter(kFull);
    d.choose(6, 11); // "12CUDA pa 2Mono": no GPU bridge in the tests
    d.passes(2);
    CorePrcs::BEANSTRUCT mode{12, 0};
    ASSERT_FALSE(e->getbb(157, &mode));
    EXPECT_EQ(d.writes(), std::vector<std::string>{"setbh 51 12"});
    EXPECT_TRUE(Access::grid(*display).cell(11, 6)->getbl());
    EXPECT_EQ(Access::grid(*display).cell(11, 6)->getch(), '!');
    EXPECT_TRUE(GoldenScreen("master_fft_refused.txt")
                    .fact("page state 2")
                    .section("calls", d.writes())
                    .matches(Access::grid(*display), "master_fft_refused.txt"));
    d.choose(6, 9); // "10IPPS pa 2Mono" runs
    EXPECT_EQ(d.row(6, 11, 1), "");
}

// A convolver that fell back from the modes it was given leaves a blinking "!" beside *L TIMED on every
// render; a set-up every convolver took leaves a blank there.
TEST_F(CoreDsifMaster, MarksAConvolverThatRefusedItsSetUp) {
    struct Row {
        const char* name;
        int16_t timedMode; // given to the convolvers before the page is entered; 0: the booted set-up
        bool refused;
    };
    const Row rows[] = {
        {"the booted set-up", 0, false},
        {"a timed mode the convolvers take", 2, false},
        {"row 16, which no convolver can run", 16, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto e = engine();
        if (r.timedMode > 0) e->setbh(50, r.timedMode, nullptr);
        ASSERT_EQ(e->getbb(42, nullptr), r.refused);
        auto display = Access::unstarted(e.get(), &queue, &clock, &host);
        Driver d{*e, *display, queue};
        d.enter(kFull);
        d.passes(2);
        EXPECT_EQ(Access::grid(*display).cell(11, 5)->getch(), r.refused ? '!' : ' ');
        EXPECT_EQ(Access::grid(*display).cell(11, 5)->getbl(), r.refused);
        EXPECT_TRUE(d.writes().empty()) << d.writes().front();
    }
}

// Set-ups the items cannot show exactly: viewing both pages, control 0 walked over every item and
// back, writes no setting, and the saved settings file stays byte-identical.
TEST_F(CoreDsifMaster, ViewingWritesNothing) {
    struct Row {
        const char* name;
        std::vector<Setting> settings;
        int32_t rate;
        std::vector<std::string> fontSets;
        bool skins;
    };
    const std::vector<std::string> two = {"Amber", "Green"};
    const std::vector<Row> rows = {
        {"lengths below their ranges", {{"LTIMED", "4007"}, {"LFREQD", "5"}}, 48000, two, true},
        {"negative offset", {{"FORCEOFFSET", "-1"}}, 48000, two, true},
        {"program rate in microseconds", {{"PROGRAMRATE", "4015"}}, 48000, two, true},
        {"look-ahead the setter would re-round", {{"AHEADLENGTH", "3000"}}, 44100, two, true},
        {"DSP buffer 64", {{"DSPBUFFER", "64"}}, 48000, two, true},
        {"DSP buffer 16384", {{"DSPBUFFER", "16384"}}, 48000, two, true},
        {"DSP buffer 0", {{"DSPBUFFER", " 0 "}}, 48000, two, true},
        {"meter type outside the list", {{"METERTYPE", "9"}}, 48000, two, true},
        {"export quality outside the list", {{"EXPORTAUDIOQUALITY", "9"}}, 48000, two, true},
        {"kernel count above its limit", {{"HDIM", "25"}, {"HDIMMAX", "3"}}, 48000, two, true},
        {"loader priority outside the list", {{"LOADERPRIORITY", "7"}}, 48000, two, true},
        {"font colour 5 of two sets", {{"FONTCOLOUR", "5"}}, 48000, two, true},
        {"font colour 5 without font sets", {{"FONTCOLOUR", "5"}}, 48000, {}, true},
        {"no skin name: the engine picks one", {{"SKINNAME", ""}}, 48000, two, true},
        {"a skin not in the folder", {{"SKINNAME", "Missing.q7s"}}, 48000, two, true},
        {"an empty skins folder", {{"SKINNAME", "Alpha.q7s"}}, 48000, two, false},
        {"MODE false when the full page is entered", {{"MODE", "0.0"}}, 48000, two, true},
        {"FFT lengths with a degenerate range", {{"DSPBUFFER", "16"}}, 192000, two, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto e = engine(r.settings, r.rate, r.skins);
        host.fontSets = r.fontSets;
        CorePrcs::BEANSTRUCT none{};
        ASSERT_TRUE(e->savem());
        const std::string before = saved();
        const CoreAnsx program = e->getbs(68, &none);
        auto display = Access::unstarted(e.get(), &queue, &clock, &host);
        Driver d{*e, *display, queue};
        for (short state : {kFull, kCompact}) {
            d.enter(state);
            d.passes(20);
            const int items = state == kFull && display->getns() == kFull ? kFullItems : 3;
            for (int i = 0; i < items; ++i) d.select(i);
            for (int i = items - 1; i >= 0; --i) d.select(i);
        }
        EXPECT_TRUE(d.writes().empty()) << d.writes().front();
        EXPECT_TRUE(d.log.sane);
        ASSERT_TRUE(e->savem());
        EXPECT_EQ(saved(), before);
        EXPECT_STREQ(e->getbs(68, &none).c_str(), program.c_str());
    }
}

// Items without a usable range or without elements never send a non-finite value and never write,
// however control 1 turns.
TEST_F(CoreDsifMaster, FrozenItemsNeverWrite) {
    struct Row {
        const char* name;
        std::vector<Setting> settings;
        int32_t rate;
        std::vector<std::string> fontSets;
        bool skins;
        int slot;
    };
    const std::vector<Row> rows = {
        {"*L FREQD whose upper bound falls below 0.006 s", {{"DSPBUFFER", "16"}}, 192000, {"Amber"}, true, 7},
        {"COLOUR without font sets", {}, 48000, {}, true, 2},
        {"*SKIN with no skin in the folder", {}, 48000, {"Amber"}, false, 19},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto e = engine(r.settings, r.rate, r.skins);
        host.fontSets = r.fontSets;
        auto display = Access::unstarted(e.get(), &queue, &clock, &host);
        Driver d{*e, *display, queue};
        d.enter(kFull);
        d.select(r.slot);
        for (double control : {-1.0, -0.3, 0.0, 0.4, 1.0}) {
            d.control(1, control);
            d.pass();
        }
        EXPECT_TRUE(d.writes().empty()) << d.writes().front();
        EXPECT_TRUE(d.log.sane);
    }
}
