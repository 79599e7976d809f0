// The selector pattern over the global, LFO, function and follower pages: viewing (with awkward
// values loaded) writes nothing, one user change writes its group with the others as loaded, and no
// non-finite value reaches a bean.
#include "display/CoreDsif.h"

#include "SelectorPages.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

namespace {

constexpr short kLfoPage = 7, kGlobalPage = 8, kFunctionPage = 9, kFollowerPage = 10;

// Awkward values for every page, as program text.
const std::string kAwkward =
    "GAINPADIN=-192.64 GAINPADOUT=46 GAINDRYFACTOR=-192.64 PROGRAMRATE=300000 FEEDBACKSOURCE=lfo2 "
    "GAINDRYSOURCE=NOSUCH LOOKAHEAD=0 LOOKAHEADSOURCE=mix3 SMOOTH=3 MIX2=0.5 "
    "LFO1{MINRATE=0.5 MAXRATE=2 SOURCE=env1 SHAPE=Nowave PHASEFACTOR=30 PHASESOURCE=RATELFO2 RATEQUANTIZE=3} "
    "LFO2{MINRATE=1 MAXRATE=4 SOURCE=NOSUCH SHAPE=Triang PHASEFACTOR=45 RATEQUANTIZE=100} "
    "LFO3{MINRATE=1 MAXRATE=2 RATEQUANTIZE=-5} "
    "FUN1{A=0.12345678901234567 B=lfo1 FUN=nosuch} FUN2{A=-1 B=1 FUN=a*b} "
    "EVF1{EXP=4 OUTPUTBALANCE=0.25 MINATTACK=2267 MAXATTACK=10884 ATTACKSOURCE=0.5000000000 "
    "MINRELEASE=10000 MAXRELEASE=5000 RELEASESOURCE=mix2 FILTERORDER=3 FILTERFREQUENCY=120}";

struct Page {
    short state;
    const char* name;
};
const Page kPages[] = {{kGlobalPage, "global"}, {kLfoPage, "LFO"}, {kFunctionPage, "function"},
                       {kFollowerPage, "follower"}};

class CoreDsifSelector : public SelectorPageTest {
protected:
    // Control 0 over every item and back again, a pass at each.
    void walkItems() {
        const short n = selectors().getcn();
        for (short i = 0; i < n; ++i) select(i);
        for (short i = n; i-- > 0;) select(i);
    }
};

} // namespace

TEST_F(CoreDsifSelector, ViewingWritesNothing) {
    for (const Page& page : kPages) {
        SCOPED_TRACE(page.name);
        start(kAwkward, 44100, tag("AHEADLENGTH", " 0 "));
        // Gain pads and dry gain that the file cannot hold: 0 and negative.
        CorePrcs::BEANSTRUCT none{};
        engine->setbd(0, 0.0, &none);
        engine->setbd(1, -0.5, &none);
        engine->setbd(12, 200.0, &none);
        const CoreAnsx before = committed();
        trace();
        enter(page.state, 20, true);
        click(50, 1); // "<<" on the follower page
        click(55, 1); // ">>"
        passes(3);
        walkItems();
        passes(3);
        EXPECT_EQ(writes(), std::vector<std::string>{});
        EXPECT_EQ(display->getns(), page.state) << "no batch, no other page";
        EXPECT_STREQ(committed().c_str(), before.c_str());
        EXPECT_TRUE(log->sane);
        log.reset();
    }
}

TEST_F(CoreDsifSelector, OneUserChangeWritesItsGroupAsLoaded) {
    const std::string program =
        "GAINPADIN=0 GAINPADOUT=-3 PROGRAMRATE=4007 FEEDBACKSOURCE=lfo2 GAINDRYSOURCE=NOSUCH MIX4=0.5 "
        "LFO1{MINRATE=0.5 MAXRATE=2 SOURCE=ENV1 SHAPE=Sine PHASEFACTOR=0 RATEQUANTIZE=3} "
        "LFO3{MINRATE=1 MAXRATE=4 SOURCE=NOSUCH SHAPE=Triang PHASEFACTOR=45 RATEQUANTIZE=1} "
        "FUN2{A=0.12345678901234567 B=LFO1 FUN=nosuch} "
        "EVF1{EXP=1 OUTPUTBALANCE=0.25 MINATTACK=1000 MAXATTACK=20000 ATTACKSOURCE=0.5000000000 "
        "MINRELEASE=10000 MAXRELEASE=5000 RELEASESOURCE=mix2 FILTERORDER=3}";
    struct Row {
        const char* name;
        short page;
        std::function<void(CoreDsifSelector&)> act;
        std::vector<std::string> writes;
        const char* section = nullptr; // the program text changes inside this section alone
    };
    const auto source = [](CoreDsifSelector& t, const char* key) {
        const auto& keys = Access::sourceKeys(*t.display);
        for (size_t i = 0; i < keys.size(); ++i)
            if (keys[i] == CoreAnsx(key)) return choice(static_cast<int>(i), static_cast<int>(keys.size()));
        return 0.0;
    };
    const std::vector<Row> rows = {
        {"gain pad in dB", kGlobalPage, [](CoreDsifSelector& t) { t.turn(0, 34.0 / 80.0); }, {"setbd 0 0.501187"}},
        {"rate status off: the period is left", kGlobalPage, [](CoreDsifSelector& t) { t.turn(3, choice(0, 2)); }, {"setbb 11 0"}},
        {"period with the status on", kGlobalPage, [](CoreDsifSelector& t) { t.turn(2, 0.5); }, {"setbb 11 1", "setbl 10 100125"}},
        {"MIX4 value with its status on", kGlobalPage, [](CoreDsifSelector& t) { t.turn(21, 0.25); }, {"setbd 191 [3] -0.5"}},
        {"MIX5 value with its status off", kGlobalPage, [](CoreDsifSelector& t) { t.turn(22, 0.25); }, {"setbd 189 [4] -0.5"}},
        {"MIX2 status on: its value as loaded", kGlobalPage, [](CoreDsifSelector& t) { t.turn(11, choice(1, 2)); }, {"setbd 191 [1] -1"}},
        {"feedback source", kGlobalPage, [&](CoreDsifSelector& t) { t.turn(6, source(t, "LFO1")); }, {"setbs 9 \"LFO1\""}},
        {"quantisation 16", kLfoPage, [](CoreDsifSelector& t) { t.turn(2, choice(5, 8)); }, {"setbd 92 [0] 16"}, "LFO1"},
        {"third LFO's waveform", kLfoPage, [](CoreDsifSelector& t) { t.turn(18, choice(2, 33)); }, {"setbs 90 [2] \"Square\""}, "LFO3"},
        {"third LFO's rate source", kLfoPage, [&](CoreDsifSelector& t) { t.turn(17, source(t, "MIX1")); }, {"setbs 100 [2] \"MIX1\""}, "LFO3"},
        {"second function's B as constant 0.5", kFunctionPage, [](CoreDsifSelector& t) { t.turn(4, 0.75, 2); },
         {"setbs 104 [1] \"0.12345678901234566\"", "setbs 105 [1] \"0.5\"", "setbs 103 [1] \"a\""}, "FUN2"},
        {"second function's operation", kFunctionPage, [](CoreDsifSelector& t) { t.turn(5, choice(3, 45)); },
         {"setbs 104 [1] \"0.12345678901234566\"", "setbs 105 [1] \"LFO1\"", "setbs 103 [1] \"a+b\""}, "FUN2"},
        {"follower type OFF", kFollowerPage, [](CoreDsifSelector& t) { t.turn(0, choice(9, 10)); },
         {"setbl 114 [0] 44", "setbl 115 [0] 882", "setbs 116 [0] \"0.5000000000\"", "setbl 117 [0] 441", "setbl 118 [0] 220", "setbs 119 [0] \"0.0000000000\"", "setbd 120 [0] 0.25", "setbh 112 [0] 9", "setbs 252 [0] \"OFF\"", "setbs 253 [0] \"OFF\"", "setbd 259 [0] 0", "setbi 260 [0] 1", "setbs 261 [0] \"OFF\"", "setbv 121 [0]"}, "EVF1"},
        {"follower balance 50 %", kFollowerPage, [](CoreDsifSelector& t) { t.turn(7, 0.5); },
         {"setbl 114 [0] 44", "setbl 115 [0] 882", "setbs 116 [0] \"0.5000000000\"", "setbl 117 [0] 441", "setbl 118 [0] 220", "setbs 119 [0] \"0.0000000000\"", "setbd 120 [0] 0.5", "setbh 112 [0] 1", "setbs 252 [0] \"OFF\"", "setbs 253 [0] \"OFF\"", "setbd 259 [0] 0", "setbi 260 [0] 1", "setbs 261 [0] \"OFF\"", "setbv 121 [0]"}, "EVF1"},
        {"follower order 6", kFollowerPage, [](CoreDsifSelector& t) { t.turn(11, choice(2, 4)); },
         {"setbl 114 [0] 44", "setbl 115 [0] 882", "setbs 116 [0] \"0.5000000000\"", "setbl 117 [0] 441", "setbl 118 [0] 220", "setbs 119 [0] \"0.0000000000\"", "setbd 120 [0] 0.25", "setbh 112 [0] 1", "setbs 252 [0] \"OFF\"", "setbs 253 [0] \"OFF\"", "setbd 259 [0] 0", "setbi 260 [0] 6", "setbs 261 [0] \"OFF\"", "setbv 121 [0]"}, "EVF1"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        start(program, 44100);
        trace();
        enter(r.page, 3);
        const std::string before = committed().c_str();
        r.act(*this);
        passes(3);
        const std::vector<std::string> got = writes();
        EXPECT_EQ(got, r.writes);
        EXPECT_TRUE(log->sane);
        if (r.section != nullptr) {
            const std::string after = committed().c_str();
            EXPECT_NE(after, before);
            EXPECT_EQ(withoutSection(after, r.section), withoutSection(before, r.section))
                << "the program text changed outside " << r.section;
        }
    }
}

TEST_F(CoreDsifSelector, NoNonFiniteValueReachesABean) {
    // The look-ahead range is 0 .. 0 (a one-point range); every item of both pages is turned.
    for (short page : {kLfoPage, kGlobalPage}) {
        SCOPED_TRACE(page);
        start("LOOKAHEAD=0", 48000, tag("AHEADLENGTH", " 0 "));
        ASSERT_EQ(engine->getbd(19, nullptr), 0.0);
        trace();
        enter(page, 2);
        for (short i = 0; i < selectors().getcn(); ++i) {
            turn(i, 0.8);
            turn(i, 0.2);
        }
        EXPECT_TRUE(log->sane);
        for (const CorePrcs::BEANCALL& call : log->calls) EXPECT_TRUE(std::isfinite(call.value)) << call.id;
        EXPECT_EQ(engine->getbd(19, nullptr), 0.0) << "the look-ahead stays in its range 0 .. 0";
    }
}
