// The program page (views V and L) and the compact program page on booted fixture engines: screens
// as goldens, flows as traces of what a user's clicks and keys start, the list's searches on sparse
// and empty memories, viewing without input, the popup after a restore.
#include "display/CoreDsif.h"

#include "BeanLog.h"
#include "CoreDsifTestAccess.h"
#include "GoldenScreen.h"
#include "RecordingHost.h"
#include "base/CoreBlnk.h"
#include "display/CoreDsed.h"
#include "display/CoreDsmn.h"
#include "display/CoreDspc.h"
#include "tests/common/DecimalCommaLocale.h"
#include "tests/common/EngineFixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

using Access = CoreDsifTestAccess;

// An engine with its display (no thread), the recording host and a popup content holder.
struct Page {
    std::unique_ptr<CorePrcs> engine;
    CoreDspc queue;
    RecordingHost host;
    CoreCnst::POPMENUCONTENTDATA holder;
    std::unique_ptr<CoreDsif> display;
    std::vector<std::string> trace;

    ~Page() {
        display.reset();
        CoreDsmn::delte(&holder);
    }
    CoreDsif& d() { return *display; }
    CorePrcs& e() { return *engine; }
    void pass(int n = 1, bool editor = true) {
        for (int i = 0; i < n; ++i) display->updte(editor);
    }
    void post(int16_t type, int32_t a, int32_t b = 0, int32_t c = 0, int32_t dd = 0) {
        const CoreDspc::MESSAGELOC m{type, 0, a, b, c, dd};
        queue.addms(&m);
    }
    // A pointer click on a cell; the button stays down until release().
    void click(int column, int row) {
        host.pointer = {column * 8 + 3, row * 12 + 5, true};
        post(0, column, row, column * 8 + 3, row * 12 + 5);
    }
    void release() { host.pointer.down = false; }
    void keys(const std::string& text) {
        for (char c : text) post(1, static_cast<unsigned char>(c));
    }
    // A batch the last pass started, run to its end, and the pass that shows the page it leads to.
    void batch() {
        pass();
        Access::runBatch(*display);
        pass();
    }
    int32_t slot() {
        CorePrcs::BEANSTRUCT none{};
        return engine->getbi(67, &none);
    }
    std::string row(int y, int from = 0, int count = CoreDsif::iCdimx) {
        std::string text;
        for (int x = from; x < from + count && x < CoreDsif::iCdimx; ++x)
            text += Access::grid(*display).cell(x, y)->getch();
        return text.substr(0, text.find_last_not_of(' ') + 1);
    }
    void note(const std::string& text) { trace.push_back(text); }
    std::string joined() const {
        std::string all;
        for (const std::string& t : trace) all += (all.empty() ? "" : " ") + t;
        return all;
    }
};

class CoreDsifProgram : public BootedEngineTest {
protected:
    // User parameters 1 .. n, the first tied to MIX1.
    static std::string userParameters(int n) {
        std::string all;
        for (int i = 1; i <= n; ++i)
            all += tag("PRM" + std::to_string(i),
                       tag("LABEL", "P" + std::to_string(i)) + tag("MINVALUE", " 0 ") + tag("MAXVALUE", "1") +
                           tag("A", i == 1 ? "MIX1" : "OFF") + tag("B", "OFF") + tag("FUN", "a"));
        return n > 0 ? tag("DISPLAY", all) : "";
    }
    // The slot reads the program from a file of the data folder, as the memory's setup does.
    void fill(CorePrcs& e, int32_t slot, const std::string& text) {
        const std::string file = "S" + std::to_string(slot) + ".XML";
        writeText(data() / "progs" / file, text);
        EXPECT_TRUE(e.getmm()->loadl(slot, CoreAnsx(file.c_str())));
    }
    // A booted engine whose display shows the program page (or the compact page), with slot `slot`
    // holding `text` loaded through the page's own load batch when text is not empty.
    std::unique_ptr<Page> open(const std::string& text = "", int32_t slot = 10, const std::string& more = "",
                               bool compact = false) {
        auto p = std::make_unique<Page>();
        p->engine = booted(48000, more + (compact ? tag("MODE", "0.0") : ""));
        p->display = Access::unstarted(p->engine.get(), &p->queue, &clock, &p->host);
        p->display->setpd(&p->holder);
        p->pass(2);
        if (!text.empty()) {
            fill(*p->engine, slot, text);
            p->display->loadp(slot);
            p->batch();
        }
        return p;
    }
    // User parameter 0 on control 0 (MIX1), which holds a valid value.
    static void tieFirstParameter(CorePrcs& e, double value) {
        CorePrcs::BEANSTRUCT first{0, 0};
        e.setbs(197, "1", &first);
        e.setbd(190, value, &first);
    }
    CoreBlnk clock;
};

} // namespace

TEST_F(CoreDsifProgram, DrawsItsScreens) {
    struct Row {
        const char* golden;
        std::string program;
        std::function<void(Page&)> setUp;
        bool compact = false;
        std::string settings = "";
    };
    const auto none = [](Page&) {};
    // Slot 12 with an impulse response stored at 44100 Hz, loaded.
    const auto load44100 = [&](Page& p) {
        std::vector<double> impulse(64, 0.0);
        impulse[0] = 1.0;
        CoreWavs image(&pool, 2, 44100, static_cast<int32_t>(impulse.size()), true);
        image.setdt(static_cast<int32_t>(impulse.size()), impulse.data(), impulse.data());
        image.write(CoreAnsx((data() / "vectors" / "IMP44.WAV").string().c_str()));
        std::string text = program("Converted");
        text.replace(text.find("IMP.WAV"), 7, "IMP44.WAV");
        fill(p.e(), 12, text);
        p.d().loadp(12);
        p.batch();
    };
    // A packed slot; its container is missing, so the engine keeps its program.
    const auto loadPacked = [](Page& p) {
        p.e().getmm()->setvl(11, true, "progs/S11.q7p", CoreAnsx(program("Packed").c_str()));
        p.d().loadp(11);
        p.batch();
    };
    const std::string converting = tag("RATECONVERSION", "10000"); // up to 10 ms of response
    const auto viewL = [](Page& p) {
        p.click(55, 0);
        p.pass(2);
    };
    const auto gains = [](double in, double out) {
        return [in, out](Page& p) {
            CorePrcs::BEANSTRUCT c8{8, 0}, c9{9, 0};
            p.e().setbd(193, in / 2, &c8);
            p.e().setbd(193, out / 2, &c9);
            p.pass();
        };
    };
    const std::vector<Row> rows = {
        {"program_v_name5.txt", program("Plate", userParameters(4)), none},
        {"program_v_name0.txt", program(""), none},
        {"program_v_name16.txt", program("Sixteen Chars Ok"), none},
        {"program_v_name20.txt", program("Twenty Characters Nm", userParameters(9)), none},
        {"program_v_gains_1_0.txt", program("Gains"), gains(1.0, 0.0)},
        {"program_v_gains_2_m1.txt", program("Gains"), gains(2.0, -1.0)},
        {"program_v_nodrop_hidden.txt", program("Plate"),
         [](Page& p) {
             CorePrcs::BEANSTRUCT none{};
             p.e().setbb(35, true, &none);
             p.pass();
         }},
        {"program_v_rates_differ.txt", program("Plate"),
         [](Page& p) {
             CorePrcs::BEANSTRUCT none{};
             p.e().setbi(44, 44100, &none);
             p.pass();
         }},
        {"program_l_3_slots.txt", "",
         [&](Page& p) {
             p.e().getmm()->clear();
             fill(p.e(), 7, program("Seven"));
             fill(p.e(), 123, program("Hundreds"));
             fill(p.e(), 1234, program("Thousands with a long name"));
             viewL(p);
         }},
        {"program_l_full.txt", "",
         [&](Page& p) {
             for (int32_t s = 20; s < 60; ++s) fill(p.e(), s, program("Slot " + std::to_string(s)));
             viewL(p);
         }},
        {"program_l_rate192k.txt", "",
         [&](Page& p) {
             CorePrcs::BEANSTRUCT none{};
             p.e().setbi(44, 192000, &none);
             viewL(p);
         }},
        {"program_v_mark_k.txt", "", loadPacked},
        // The impulse response stored at 44100 Hz and played unconverted at 48000 Hz: the "<-" mark.
        {"program_v_stored_44100.txt", "", load44100},
        // Converted to the host's rate: the "c" mark and no "<-"; its slot marked packed too: "kc".
        {"program_v_mark_c.txt", "", load44100, false, converting},
        {"program_v_mark_kc.txt", "",
         [&](Page& p) {
             load44100(p);
             p.e().getmm()->setvl(12, true, "progs/S12.q7p", CoreAnsx(program("Converted").c_str()));
             p.pass();
         },
         false, converting},
        // A program with the side-chain follower runs on four channels: the blinking "Q".
        {"program_v_quad.txt",
         program("Quad", tag("EVF5", tag("EXP", "2") + tag("MINATTACK", "100") + tag("MAXATTACK", "100") +
                                         tag("MINRELEASE", "1000") + tag("MAXRELEASE", "1000"))),
         none},
        {"program_compact.txt", program("Plate", userParameters(4)), none, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.golden);
        auto p = open(r.program, 10, r.settings, r.compact);
        r.setUp(*p);
        EXPECT_EQ(p->d().getcs(), r.compact ? 18 : 0);
        EXPECT_TRUE(GoldenScreen(r.golden).fact("blink phase on").matches(Access::grid(p->d()), r.golden));
    }
}

// View V under a decimal-comma locale draws what it draws under "C".
TEST_F(CoreDsifProgram, DrawsTheSameUnderADecimalCommaLocale) {
    auto p = open(program("Plate", userParameters(4)));
    CorePrcs::BEANSTRUCT c8{8, 0};
    p->e().setbd(193, 0.25, &c8);
    p->pass();
    const std::string underC = GoldenScreen("view V").text(Access::grid(p->d()));
    DecimalCommaLocale comma;
    ASSERT_TRUE(comma.active());
    p->pass();
    EXPECT_EQ(GoldenScreen("view V").text(Access::grid(p->d())), underC);
}

TEST_F(CoreDsifProgram, Flows) {
    struct Row {
        const char* name;
        bool compact;
        std::function<void(Page&)> script;
        const char* trace;
        std::string settings = "";
    };
    const auto state = [](Page& p) { p.note("s" + std::to_string(p.d().getns())); };
    // The batch variables a pass wrote, and the grid start after it.
    const auto batchCalls = [](Page& p, const BeanLog& log) {
        for (const std::string& line : log.lines)
            if (line.rfind("setbs 22", 0) == 0 || line == "setbv 225") p.note(line);
        p.note("grid" + std::to_string(Access::gridStart(p.d())));
    };
    const auto writes = [](Page& p, const BeanLog& log, const std::vector<std::string>& heads) {
        for (const std::string& line : log.lines)
            for (const std::string& head : heads)
                if (line.rfind(head, 0) == 0) p.note(line);
    };
    const auto current = [](Page& p) { p.note("slot" + std::to_string(p.slot())); };
    const auto bean = [](Page& p, int id) {
        CorePrcs::BEANSTRUCT none{};
        p.note(std::to_string(id) + "=" + std::to_string(p.e().getbb(id, &none)));
    };
    const std::vector<Row> rows = {
        {"slot field: four keys load the slot through the batch page", false,
         [&](Page& p) {
             p.click(10, 2);
             p.pass();
             p.keys("1234");
             p.pass();
             state(p);
             p.batch();
             state(p);
             current(p);
             p.pass();
             p.note(p.row(2, 8, 4));
         },
         "s22 s0 slot1234 1234"},
        {"slot field on the compact page returns to it", true,
         [&](Page& p) {
             p.click(10, 2);
             p.pass();
             p.keys("1234");
             p.pass();
             state(p);
             p.batch();
             state(p);
             current(p);
         },
         "s23 s18 slot1234"},
        {"typing the current slot starts nothing", false,
         [&](Page& p) {
             p.click(10, 2);
             p.pass();
             p.keys("0010");
             p.pass();
             state(p);
         },
         "s0"},
        {"the slot field's batch loads the typed slot and moves the grid start to it", false,
         [&](Page& p) {
             BeanLog log(p.e());
             p.click(10, 2);
             p.pass();
             p.keys("1234");
             p.pass();
             batchCalls(p, log);
         },
         "setbv 225 setbs 223 \"LOADED\" setbs 224 \"LOADED:\" setbs 223 \"LOADING\" setbs 224 \"LOADING:\" "
         "setbs 223 \"NEWPROGRAM\" setbs 224 \"1234\" setbs 223 \"ACTION\" setbs 224 \"PROG\" "
         "setbs 223 \"NEXTSTEP\" setbs 224 \"READPROGRAM\" grid1234"},
        {"RELOAD reads the current slot again from its second step", false,
         [&](Page& p) {
             BeanLog log(p.e());
             p.click(52, 1);
             p.pass();
             batchCalls(p, log);
         },
         "setbv 225 setbs 223 \"LOADED\" setbs 224 \"LOADED:\" setbs 223 \"LOADING\" setbs 224 \"LOADING:\" "
         "setbs 223 \"NEWPROGRAM\" setbs 224 \"10\" setbs 223 \"ACTION\" setbs 224 \"PROG\" "
         "setbs 223 \"NEXTSTEP\" setbs 224 \"READPROGRAM_2\" grid0"},
        {"ECONO plans the convolvers again", false,
         [&](Page& p) {
             BeanLog log(p.e());
             p.click(41, 2);
             p.pass();
             writes(p, log, {"setbb 23", "setbh 50"});
         },
         "setbb 23 1 setbh 50 -1"},
        {"NODROP, offered with a worker thread, flips bean 24 both ways", false,
         [&](Page& p) {
             p.e().blksz(1); // the worker takes the processing once the host's block is known
             p.pass();
             bean(p, 25);
             p.note(p.row(3, 41, 6));
             bean(p, 24);
             p.click(41, 3);
             p.pass();
             p.release();
             bean(p, 24);
             p.click(41, 3);
             p.pass();
             bean(p, 24);
         },
         "25=1 NODROP 24=0 24=1 24=0",
         "<THREADS>1</THREADS><AUTOTHREAD> 0 </AUTOTHREAD><THREADSMINDIM> 0 </THREADSMINDIM>"},
        {"RELOAD keeps the grid start; EDIT opens the memory page", false,
         [&](Page& p) {
             p.click(52, 1);
             p.pass();
             state(p);
             p.note("grid" + std::to_string(Access::gridStart(p.d())));
             p.batch();
             current(p);
             p.click(52, 3);
             p.pass();
             state(p);
         },
         "s22 grid0 slot10 s6"},
        {"BYPASS, ECONO and a NODROP click that is not offered", false,
         [&](Page& p) {
             bean(p, 258);
             p.click(51, 2);
             p.pass();
             bean(p, 258);
             bean(p, 23);
             p.click(41, 2);
             p.pass();
             bean(p, 23);
             bean(p, 24);
             p.click(41, 3);
             p.pass();
             bean(p, 24);
         },
         "258=0 258=1 23=0 23=1 24=0 24=0"},
        {"SAVE starts the save batch", false,
         [&](Page& p) {
             BeanLog log(p.e());
             p.click(41, 1);
             p.pass();
             state(p);
             for (const std::string& line : log.lines)
                 if (line.rfind("setbs 22", 0) == 0 || line == "setbv 225") p.note(line);
         },
         "s22 setbv 225 setbs 223 \"SAVING\" setbs 224 \"SAVING...\" setbs 223 \"ACTION\" setbs 224 \"PROG\" "
         "setbs 223 \"NEXTSTEP\" setbs 224 \"SAVEPROGRAM\""},
        {"the view survives leaving; the compact page has no view button", false,
         [&](Page& p) {
             p.note(Access::programView(p.d()) ? "V" : "L");
             p.click(56, 0);
             p.pass(2);
             p.note(Access::programView(p.d()) ? "V" : "L");
             p.click(25, 13); // the bar's third key
             p.pass(2);
             Access::setNextState(p.d(), 0);
             p.pass();
             p.note(p.row(0, 55, 3));
             Access::setNextState(p.d(), 18);
             p.pass();
             p.click(55, 0);
             p.pass(2);
             p.note(Access::programView(p.d()) ? "V" : "L");
             state(p);
         },
         "V L  V L s18"},
        {"view L: a list click loads its row, not column 37 nor an empty row", false,
         [&](Page& p) {
             p.e().getmm()->clear();
             fill(p.e(), 3, program("Three"));
             fill(p.e(), 5, program("Five"));
             fill(p.e(), 9998, program("Far"));
             p.click(55, 0);
             p.pass(2);
             p.note(p.row(1, 37) + "|" + p.row(2, 37) + "|" + p.row(3, 37) + "|" + p.row(4, 37));
             p.click(37, 2);
             p.pass();
             state(p);
             p.click(45, 4);
             p.pass();
             state(p);
             p.click(45, 2);
             p.pass();
             state(p);
             p.batch();
             current(p);
         },
         " 3   Three| 5   Five|9998 Far| s0 s0 s22 slot5"},
        {"view L: scroll up from slot 0 and down again", false,
         [&](Page& p) {
             for (int32_t s = 1; s < 20; ++s) fill(p.e(), s * 500, program("S" + std::to_string(s)));
             p.click(55, 0);
             p.pass(2);
             p.click(36, 1);
             p.pass();
             p.note(std::to_string(Access::listTop(p.d())));
             p.click(36, CoreDsif::iCdimy - 2);
             p.pass();
             p.note(std::to_string(Access::listTop(p.d())));
         },
         "7500 0"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto p = open(program("Plate"), 10, r.settings, r.compact);
        r.script(*p);
        EXPECT_EQ(p->joined(), r.trace);
    }
}

// A click on a parameter row selects it; the held pointer moves the row's control through bean 193,
// ten times faster up than right, within 0 .. 1, also when a later hold starts elsewhere.
TEST_F(CoreDsifProgram, DragsTheSelectedParametersControl) {
    struct Row {
        const char* name;
        int column, row; // the click that starts the hold
        int dx, dy;      // the pointer's move in pixels, y down
        double delta;    // of control 0's position, before clamping to 0 .. 1
        bool editor = true;
    };
    const Row rows[] = {
        {"10 px up", 5, 9, 0, -10, 0.12},
        {"10 px right", 5, 9, 10, 0, 0.012},
        {"held within 1", 5, 9, 0, -100, 1.2},
        {"held within 0", 5, 9, 0, 100, -1.2},
        {"a row without a control", 5, 10, 0, -10, 0.0},
        {"the right column is rows 4 to 7", 40, 9, 0, -10, 0.0},
        {"without an editor the value stays", 5, 9, 0, -10, 0.0, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto p = open(program("Plate", userParameters(4)));
        CorePrcs::BEANSTRUCT c0{0, 0};
        tieFirstParameter(p->e(), 0.1);
        const double before = p->e().getbd(193, &c0);
        p->click(r.column, r.row);
        p->pass(1, r.editor);
        p->host.pointer.x += r.dx;
        p->host.pointer.y += r.dy;
        p->pass(1, r.editor);
        EXPECT_NEAR(p->e().getbd(193, &c0), std::clamp(before + r.delta, 0.0, 1.0), 1e-9);
    }
    // The selection stays for a hold that starts on an empty cell.
    auto p = open(program("Plate", userParameters(4)));
    CorePrcs::BEANSTRUCT c0{0, 0};
    tieFirstParameter(p->e(), 0.1);
    const double before = p->e().getbd(193, &c0);
    p->click(5, 9);
    p->pass();
    p->release();
    p->pass();
    p->click(0, 4);
    p->pass();
    p->host.pointer.y -= 10;
    p->pass();
    EXPECT_NEAR(p->e().getbd(193, &c0), before + 0.12, 1e-9);
    EXPECT_EQ(Access::selectedParameter(p->d()), 0);
}

static int treeReads(const BeanLog& log) {
    return static_cast<int>(std::count_if(log.lines.begin(), log.lines.end(),
                                          [](const std::string& l) { return l.rfind("setbi 245", 0) == 0; }));
}

// The popup: the entry arms it over the name (column 0, row 2, width 2L - 1, height 2, bean 251 per
// column); a choice loads while armed and nothing once the page was left; the tree is read again only
// while stale, which a restore sets.
TEST_F(CoreDsifProgram, ArmsThePopupAndLoadsItsChoice) {
    auto p = open(program("Plate"));
    const CoreCnst::POPMENUARM& arm = Access::popups(p->d()).getrc();
    EXPECT_TRUE(Access::popupArmed(p->d()));
    EXPECT_EQ(arm.armed, 1);
    EXPECT_EQ(arm.column, 0);
    EXPECT_EQ(arm.row, 2);
    EXPECT_EQ(arm.width, 9);
    EXPECT_EQ(arm.height, 2);
    CorePrcs::BEANSTRUCT none{};
    EXPECT_EQ(arm.percolumn, p->e().getbh(251, &none));
    EXPECT_EQ(arm.count, p->holder.count);
    std::vector<std::string> entries;
    for (int i = 0; i < p->holder.count; ++i) entries.emplace_back(p->holder.items[i].text);
    EXPECT_NE(std::find(entries.begin(), entries.end(), "1234 - Name"), entries.end());
    EXPECT_EQ(p->host.records.back().size(), 20u);

    p->d().setmr("1234 - Name");
    p->batch();
    EXPECT_EQ(p->slot(), 1234);
    EXPECT_EQ(p->d().getcs(), 0);

    // Left for the MIDI page: a choice loads nothing.
    p->click(35, 13);
    p->pass(2);
    EXPECT_FALSE(Access::popupArmed(p->d()));
    p->d().setmr("10 - Plate");
    p->pass();
    EXPECT_EQ(p->slot(), 1234);

    // Re-entry reads the tree only while stale; a restore marks it stale and re-enters.
    Access::setNextState(p->d(), 0);
    BeanLog log(p->e());
    p->pass();
    EXPECT_EQ(treeReads(log), 0);
    EXPECT_EQ(std::count(log.lines.begin(), log.lines.end(), "setbv 244"), 1); // every entry rebuilds the tree
    p->e().getmm()->setnm(1234, "Renamed");
    p->d().setdp();
    p->pass();
    EXPECT_GT(treeReads(log), 0);
    entries.clear();
    for (int i = 0; i < p->holder.count; ++i) entries.emplace_back(p->holder.items[i].text);
    EXPECT_NE(std::find(entries.begin(), entries.end(), "1234 - Renamed"), entries.end());
}

// The popup's area is the name's cells, never a negative width; without a content holder the entry
// arms nothing, so no choice can load.
TEST_F(CoreDsifProgram, ArmsThePopupOnlyOverANameAndWithAHolder) {
    struct Row {
        const char* name;
        std::string program;
        bool holder;
        bool armed;
        int width;
    };
    const Row rows[] = {
        {"empty name", program(""), true, true, 0},
        {"sixteen characters", program("Sixteen Chars Ok"), true, true, 31},
        {"name cut to sixteen", program("Twenty Characters Nm"), true, true, 31},
        {"no content holder", program("Plate"), false, false, 0},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto p = std::make_unique<Page>();
        p->engine = booted();
        p->display = Access::unstarted(p->engine.get(), &p->queue, &clock, &p->host);
        if (r.holder) p->display->setpd(&p->holder);
        p->pass(2);
        fill(*p->engine, 10, r.program);
        p->display->loadp(10);
        p->batch();
        ASSERT_EQ(p->d().getcs(), 0);
        const CoreCnst::POPMENUARM& arm = Access::popups(p->d()).getrc();
        EXPECT_EQ(Access::popupArmed(p->d()), r.armed);
        EXPECT_EQ(arm.armed, r.armed ? 1 : 0);
        EXPECT_EQ(arm.width, r.width);
        p->d().setmr("1234 - Name");
        EXPECT_EQ(p->d().getns(), r.armed ? 22 : 0); // the batch page, or nothing
    }
}

// The list's searches on sparse and empty memories: every pass returns, no slot shows twice, no row
// shows a free slot, and a click on a blank row starts nothing.
TEST_F(CoreDsifProgram, ListsOnlyUsedSlotsOnce) {
    struct Memory {
        const char* name;
        std::vector<int32_t> used;
    };
    std::vector<int32_t> ends;
    for (int32_t s = 0; s < 100; ++s) ends.push_back(s);
    for (int32_t s = 9900; s < 10000; ++s) ends.push_back(s);
    const Memory memories[] = {
        {"only slot 0", {0}},
        {"slot 0 free, 5 and 7", {5, 7}},
        {"0-99 and 9900-9999", ends},
        {"3 and 9998", {3, 9998}},
        {"none", {}},
    };
    for (const Memory& m : memories) {
        SCOPED_TRACE(m.name);
        auto p = open();
        p->e().getmm()->clear();
        for (int32_t s : m.used) fill(p->e(), s, program("P" + std::to_string(s)));
        const std::set<int32_t> used(m.used.begin(), m.used.end());
        p->click(55, 0);
        p->pass(2);
        const auto check = [&] {
            std::set<int32_t> shown;
            for (int r = 1; r <= CoreDsif::iCdimy - 3; ++r) {
                const int32_t s = Access::listSlots(p->d())[static_cast<size_t>(r - 1)];
                if (s < 0) {
                    EXPECT_EQ(p->row(r, 37, 21), "") << "row " << r;
                    continue;
                }
                EXPECT_TRUE(used.count(s)) << "row " << r << " shows slot " << s;
                EXPECT_TRUE(shown.insert(s).second) << "slot " << s << " twice";
            }
            EXPECT_EQ(shown.size(), std::min<size_t>(used.size(), CoreDsif::iCdimy - 3));
        };
        check();
        for (int i = 0; i < 3; ++i) {
            p->click(36, 1);
            p->pass();
            check();
        }
        for (int i = 0; i < 5; ++i) {
            p->click(36, CoreDsif::iCdimy - 2);
            p->pass();
            check();
        }
        for (int r = 1; r <= CoreDsif::iCdimy - 3; ++r) {
            if (Access::listSlots(p->d())[static_cast<size_t>(r - 1)] >= 0) continue;
            p->click(45, r);
            p->pass();
            EXPECT_EQ(p->d().getns(), 0) << "a click on blank row " << r;
        }
    }
}

// Fifty passes without input change nothing the user owns, on both views and the compact page, and
// write no bean but the pages' per-pass recomputation.
TEST_F(CoreDsifProgram, ViewingWritesNothing) {
    struct Row {
        const char* name;
        bool compact, listView;
    };
    const Row rows[] = {{"view V", false, false}, {"view L", false, true}, {"compact", true, false}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto p = open(program("Plate", userParameters(4)), 10, "", r.compact);
        if (r.listView) {
            p->click(55, 0);
            p->pass(2);
        }
        CorePrcs::BEANSTRUCT none{};
        const auto snapshot = [&] {
            std::string all = std::string(p->e().getbs(68, &none).c_str()) + "|" + std::to_string(p->slot());
            for (int32_t s : {0, 1, 2, 3, 4, 10, 1234}) {
                CorePrcs::BEANSTRUCT at{s, 0};
                all += "|" + std::string(p->e().getbs(167, &at).c_str()) + "/" +
                       p->e().getmm()->getct(s, 0).c_str();
            }
            return all;
        };
        const std::string before = snapshot();
        BeanLog log(p->e());
        p->pass(50);
        EXPECT_EQ(snapshot(), before);
        for (const std::string& line : log.lines) {
            const bool setter = line.rfind("set", 0) == 0;
            if (!setter) continue;
            const bool allowed = line.rfind("setbv 195", 0) == 0 || line.rfind("setbv 244", 0) == 0;
            EXPECT_TRUE(allowed) << line;
        }
    }
}
