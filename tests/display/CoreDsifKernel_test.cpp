// The kernel page on fixture engines: its screen for several kernel set-ups, the user's edits and
// buttons with the bean calls they make (goldens with a "-- calls" section), and awkward set-ups
// viewed without input, which must write nothing.
#include "display/CoreDsif.h"

#include "BeanLog.h"
#include "CoreDsifTestAccess.h"
#include "GoldenScreen.h"
#include "RecordingHost.h"
#include "base/CoreBlnk.h"
#include "display/CoreDspc.h"
#include "display/CoreDstx.h"
#include "tests/common/EngineFixture.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Access = CoreDsifTestAccess;

constexpr short kKernelState = 5;
constexpr int32_t kTestSlot = 7; // where a row's program is placed and loaded

// A renderer on the kernel page, with the bean trace from its entry on.
struct Page {
    CorePrcs& engine;
    CoreDsif& display;
    CoreDspc& queue;
    std::unique_ptr<BeanLog> log;

    void pass() { display.updte(true); }
    void passes(int n) {
        for (int i = 0; i < n; ++i) pass();
    }
    void enter() {
        Access::setNextState(display, kKernelState);
        log = std::make_unique<BeanLog>(engine);
        pass();
    }
    void control(int32_t slot, double value) {
        CorePrcs::BEANSTRUCT b{slot, 0};
        engine.setbd(190, value, &b);
    }
    // Control 0 picks item i; the next pass binds it to control 1.
    void select(short item) {
        control(0, Access::selectors(display).tx2ct(item));
        pass();
    }
    void turn(double value) {
        control(1, value);
        pass();
    }
    void click(int32_t column, int32_t row) {
        const CoreDspc::MESSAGELOC m{0, 0, column, row, column * 8 + 3, row * 12 + 5};
        queue.addms(&m);
        pass();
    }
    // The batch a click started, run to its end on this thread, then the page it leads to.
    void batch() {
        pass(); // the batch page
        Access::runBatch(display);
        pass();
    }
    // The setters and actions since the entry, without the selector's control traffic.
    std::vector<std::string> writes() const {
        std::vector<std::string> lines;
        for (size_t i = 0; i < log->calls.size(); ++i) {
            const CorePrcs::BEANCALL& call = log->calls[i];
            const std::string function = call.function;
            if (function.rfind("set", 0) != 0 || call.id == 187 || call.id == 190 || call.id == 195) continue;
            lines.push_back(log->lines[i]);
        }
        return lines;
    }
    double item(short i) { return Access::selectors(display).gettx(i)->getvl(); }
    double bean(int id, int32_t index, int32_t subindex = 0) {
        CorePrcs::BEANSTRUCT b{index, subindex};
        return engine.getbd(id, &b);
    }
};

class CoreDsifKernel : public BootedEngineTest {
protected:
    // H1 .. Hn over the fixture's impulse (program() adds H1).
    static std::string kernelProgram(const std::string& name, int harmonics, const std::string& more = "") {
        std::string records;
        const std::string vector =
            tag("ELEMENT", tag("VECTOR", tag("COMMON", tag("MINVALUE", " 0 ") + tag("MAXVALUE", "1")) +
                                             tag("ELEMENT", tag("FILENAME", "IMP.WAV") + tag("WEIGHT", " 0 "))));
        for (int h = 2; h <= harmonics; ++h) records += tag("H" + std::to_string(h), vector);
        return program(name, more + records);
    }

    struct Setup {
        std::string settings;    // more settings text
        std::string programText; // empty: the fixture's INIT stays loaded
        int32_t rate = 48000;
    };

    // Runs `script` on a display whose engine is set up as asked, with the program loaded.
    void onPage(const Setup& setup, const std::function<void(Page&)>& script, bool enter = true) {
        auto engine = booted(setup.rate, setup.settings);
        if (!setup.programText.empty()) {
            writeText(data() / "progs/KERNEL.XML", setup.programText);
            ASSERT_TRUE(engine->getmm()->loadl(kTestSlot, CoreAnsx("KERNEL.XML")));
        }
        CoreDspc queue;
        RecordingHost host;
        auto display = Access::unstarted(engine.get(), &queue, &clock, &host);
        Page page{*engine, *display, queue, nullptr};
        Access::setPages(*display, 0, 0);
        page.pass();
        if (!setup.programText.empty()) {
            display->loadp(kTestSlot);
            page.batch();
        }
        if (enter) page.enter();
        script(page);
        std::filesystem::remove(data() / "progs/KERNEL.XML");
    }

    void screen(Page& page, const std::string& golden, bool calls) {
        GoldenScreen shot(golden);
        shot.fact("page state " + std::to_string(page.display.getcs()) + ", next " +
                  std::to_string(page.display.getns()));
        if (calls) shot.section("calls", page.writes());
        EXPECT_TRUE(shot.matches(Access::grid(page.display), golden));
    }

    CoreBlnk clock;
};

const std::string kFiveSettings = "<HDIM>5</HDIM><HDIMMAX>8</HDIMMAX>";

} // namespace

// n paths in use, hybrid loading, the HDIM setting's list length and the worker thread's mark.
TEST_F(CoreDsifKernel, ShowsTheKernelSetUp) {
    struct Row {
        const char* name;
        Setup setup;
        int entries; // of the kernel-count list
        const char* golden;
        int32_t hostBlock = 0; // a host block size set before the entry; 0: none
    };
    const Row rows[] = {
        {"one path", {kFiveSettings, ""}, 6, "kernel_n1.txt"},
        {"four paths: (2) even, (1) odd", {kFiveSettings, kernelProgram("Four", 4)}, 6, "kernel_n4.txt"},
        {"five paths: (2) and (2)", {kFiveSettings, kernelProgram("Five", 5)}, 6, "kernel_n5.txt"},
        {"hybrid: (1) twice, no button",
         {kFiveSettings, kernelProgram("Hybrid", 2, tag("FORCEHYBRID", "1"))},
         6,
         "kernel_hybrid.txt"},
        {"HDIM 3", {"<HDIM>3</HDIM>", ""}, 4, nullptr},
        {"HDIM 40: never more than 21 entries", {"<HDIM>40</HDIM><HDIMMAX>40</HDIMMAX>", ""}, 21, nullptr},
        {"HDIM -3, read as 0: the one entry \"0 Max\"", {"<HDIM>-3</HDIM>", ""}, 1, nullptr},
        {"worker thread: the T mark",
         {"<THREADS>1</THREADS><AUTOTHREAD> 0 </AUTOTHREAD><THREADSMINDIM> 0 </THREADSMINDIM>", ""},
         2,
         "kernel_threaded.txt",
         1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        onPage(r.setup, [&](Page& page) {
            if (r.hostBlock > 0) page.engine.blksz(r.hostBlock);
            page.passes(2);
            EXPECT_EQ(page.engine.getbb(25, nullptr), r.hostBlock > 0);
            EXPECT_EQ(Access::selectors(page.display).gettx(0)->getne(), r.entries);
            if (r.golden) screen(page, r.golden, false);
            EXPECT_TRUE(page.writes().empty());
            EXPECT_EQ(Access::startValues(page.display)[14], "envelope=0 follower=0 parameter=-1");
        });
    }
}

// A user's inputs and what they write; the batches run to their end and return to the page.
TEST_F(CoreDsifKernel, WritesWhatTheUserChanges) {
    struct Row {
        const char* name;
        Setup setup;
        std::function<void(Page&)> inputs;
        const char* golden;
    };
    const Setup five{kFiveSettings, kernelProgram("Five", 5)};
    const Setup one{kFiveSettings, ""};
    const std::vector<Row> rows = {
        {"list choice writes the kernel count", five,
         [](Page& p) {
             p.select(0);
             p.turn(0.0); // "3 (2nd) "
         },
         "kernel_flow_list.txt"},
        {"even TIMED writes paths 1 and 3", five,
         [](Page& p) {
             p.select(2);
             p.turn(0.0);
         },
         "kernel_flow_even_timed.txt"},
        {"odd FADE writes paths 2 and 4", five,
         [](Page& p) {
             p.select(9);
             p.turn(0.5);
         },
         "kernel_flow_odd_fade.txt"},
        {"a row without paths writes nothing", one,
         [](Page& p) {
             p.select(3);
             p.turn(0.5);
             p.select(5);
             p.turn(0.5);
         },
         "kernel_flow_unused_row.txt"},
        {"> on the even row asks every even path for FREQD", five, [](Page& p) { p.click(23, 6); },
         "kernel_flow_even_direction.txt"},
        {"< brings the even paths back to TIMED", five,
         [](Page& p) {
             p.click(23, 6);
             p.click(23, 6);
         },
         "kernel_flow_even_back.txt"},
        {"the clean row's button", one, [](Page& p) { p.click(23, 5); }, "kernel_flow_clean_direction.txt"},
        {"ECONO", one, [](Page& p) { p.click(51, 1); }, "kernel_flow_econo.txt"},
        {"SAVE", one,
         [](Page& p) {
             p.click(41, 2);
             p.batch();
         },
         "kernel_flow_save.txt"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        onPage(r.setup, [&](Page& page) {
            page.pass();
            r.inputs(page);
            page.pass();
            EXPECT_TRUE(page.log->sane);
            screen(page, r.golden, true);
        });
    }
}

// The hybrid and mono toggles reload the program with the option switched on, then off again.
TEST_F(CoreDsifKernel, HybridAndMonoBatchesSwitchTheOptionOnAndOff) {
    struct Row {
        const char* name;
        short column, row;
        int bean;
    };
    const Row rows[] = {{"hybrid", 51, 2, 27}, {"mono", 41, 1, 33}};
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        onPage({kFiveSettings, kernelProgram("Five", 5)}, [&](Page& page) {
            page.pass();
            for (bool on : {true, false}) {
                page.click(r.column, r.row);
                EXPECT_EQ(page.display.getns(), 22);
                EXPECT_EQ(page.engine.getbb(r.bean, nullptr), !on) << "the click alone changes nothing";
                page.batch();
                EXPECT_EQ(page.display.getcs(), kKernelState);
                EXPECT_EQ(page.engine.getbb(r.bean, nullptr), on);
                EXPECT_EQ(page.engine.getbi(67, nullptr), kTestSlot);
            }
        });
    }
}

// Edits convert milliseconds to microseconds; paths not in use never see a value, finite or not.
TEST_F(CoreDsifKernel, EditsReachOnlyThePathsInUseAsFiniteMicroseconds) {
    struct Row {
        const char* name;
        Setup setup;
        int paths;         // in use
        size_t evenWrites; // of item 2 (even TIMED)
    };
    const Row rows[] = {
        {"four paths", {kFiveSettings, kernelProgram("Four", 4)}, 4, 2},
        {"one path: the even and odd items have nothing to edit", {kFiveSettings, ""}, 1, 0},
        {"DSP buffer 0", {kFiveSettings + "<DSPBUFFER> 0 </DSPBUFFER>", kernelProgram("Four", 4)}, 4, 2},
        {"DSP buffer 16 at 192000 Hz",
         {kFiveSettings + "<DSPBUFFER>16</DSPBUFFER>", kernelProgram("Tiny", 3), 192000},
         3,
         1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        onPage(r.setup, [&](Page& page) {
            page.pass();
            for (short i = 1; i < 10; ++i) { // item 0 would change the count of paths in use
                page.select(i);
                page.turn(0.25 - 0.05 * i);
            }
            page.select(0);
            EXPECT_TRUE(page.log->sane);
            std::vector<double> evenTimed;
            for (const CorePrcs::BEANCALL& call : page.log->calls) {
                if (std::string(call.function) != "setbd" || (call.id != 161 && call.id != 150)) continue;
                EXPECT_LT(call.index, r.paths) << BeanLog::line(call);
                if (call.id == 161 && call.subindex == 0 && call.index % 2 == 1) evenTimed.push_back(call.value);
            }
            // Paths 1 and 3 got item 2's value in microseconds, whatever the engine made of it.
            ASSERT_EQ(evenTimed.size(), r.evenWrites);
            for (double value : evenTimed) EXPECT_NEAR(value, page.item(2) * 1000.0, 1e-9);
        });
    }
}

// Viewing writes nothing: 20 passes without input, then control 0 over every item and back; the
// committed program text stays as it was.
TEST_F(CoreDsifKernel, ViewingWritesNothing) {
    const Setup rows[] = {
        {"<HDIM>5</HDIM><HDIMMAX>8</HDIMMAX>", ""},
        {"<HDIM>2</HDIM><HDIMMAX>8</HDIMMAX>", kernelProgram("Above", 5, tag("HDIM", "5"))},
        {"<HDIM>25</HDIM><HDIMMAX>3</HDIMMAX>", kernelProgram("Five", 5)},
        {"<LTIMED>4007</LTIMED><LFREQD>5</LFREQD>", ""},
        {"<PROGRAMRATE>4015</PROGRAMRATE>", ""},
        {"<AHEADLENGTH>3000</AHEADLENGTH>", "", 44100},
        {"<DSPBUFFER>16384</DSPBUFFER>", ""},
        {"<DSPBUFFER>16</DSPBUFFER>", kernelProgram("Tiny", 3), 192000},
        {"<DSPBUFFER> 0 </DSPBUFFER><FORCEOFFSET>-1</FORCEOFFSET>", ""},
    };
    for (const Setup& s : rows) {
        SCOPED_TRACE(s.settings + (s.programText.empty() ? "" : " with a program"));
        onPage(
            s,
            [&](Page& page) {
                const CoreAnsx committed = page.engine.getbs(68, nullptr);
                page.enter();
                page.passes(20);
                for (short i = 0; i < 10; ++i) page.select(i);
                for (short i = 9; i >= 0; --i) page.select(i);
                page.passes(2);
                EXPECT_TRUE(page.log->sane);
                std::string joined;
                for (const std::string& line : page.writes()) joined += line + "; ";
                EXPECT_EQ(joined, "");
                EXPECT_EQ(std::string(page.engine.getbs(68, nullptr).c_str()), committed.c_str());
            },
            false);
    }
}
