// The program reader's entry: PROGRAM's own keys with their defaults and what a second load keeps, its
// log, failures that leave an empty program whatever failed (any one allocation included), and the
// round trip of every fixture through the processor's commit and back.
#include "ProgramFixtures.h"
#include "tests/common/CountingAllocator.h"

namespace {

using namespace progtest;

class CoreProgReader : public LoadTest {
protected:
    // load_, the display's edits, the processor's commit, the compact text and a pretty file each read
    // by load_: the same dump but for the differences made on purpose (afterRoundTrip), and a commit of
    // the reloaded program changes no byte.
    void roundTrip(const std::string& source, int32_t rate = 48000,
                   const std::function<void(CoreProg&)>& edit = nullptr) {
        SCOPED_TRACE(source);
        auto first = fresh(rate), second = fresh(rate), third = fresh(rate);
        ASSERT_TRUE(load(*first, source));
        const Dump unedited = dump(*first);
        if (edit) edit(*first);
        auto written = parse(source);
        const bool rateOn = first->getpr() != -1;
        const CoreAnsx committed = commit(*first, *written, rateOn, first->getpr());
        written->settf(at("pretty.xml"), true, false, false);
        ASSERT_TRUE(load(*second, committed.c_str()));
        ASSERT_TRUE(load(*third, readBytes(root / "pretty.xml")));
        Dump expected = afterRoundTrip(dump(*first), *first), found = dump(*second), pretty = dump(*third);
        if (edit) {
            // Stage edits live in the record: the kernels keep their prepared length and the root its
            // stage times until a reload; the written sizes come back as the requests. The changed flags
            // and the stage in use are the processor's; a vector file keeps its own stage sizes.
            for (Dump* d : {&expected, &found, &pretty})
                std::erase_if(*d, [](const auto& e) {
                    return e.first.find("kernel") != std::string::npos || e.first.ends_with(".changed") ||
                           e.first.ends_with(".use") || e.first.ends_with(".tree");
                });
            for (auto& [key, value] : expected) {
                if (key.ends_with(".requests")) value = expected[key.substr(0, key.find('.')) + ".sizes"];
                if (key.rfind("H3.", 0) == 0 && unedited.count(key)) value = unedited.at(key);
            }
        }
        EXPECT_EQ(differences(expected, found), "");
        EXPECT_EQ(differences(found, pretty), "");
        // Into the same document, the reloaded program writes what the first wrote; after edits, into the
        // one it was read from (its harmonics are no longer marked changed).
        auto again = parse(edit ? text(committed) : source);
        EXPECT_EQ(text(commit(*second, *again, rateOn, second->getpr())), text(committed));
    }

    // What every failure leaves: an empty program, and the pool and the registry as before any load.
    void expectEmpty(int64_t poolBefore) {
        EXPECT_FALSE(Access::loaded(*program) || Access::prepared(*program) || program->getnc());
        EXPECT_EQ(program->gethc(true), 0);
        for (int h = 0; h <= Access::capacity(*program); ++h) {
            const CoreProg::HLOC& r = Access::record(*program, h);
            EXPECT_TRUE(!r.bValid && !r.pRoot && !r.pCurrentleft && !r.pLeafvectors->Count &&
                        !r.pCorevectors->Count && !r.iKernellength && !r.iSecondsize && !r.iThirdsize &&
                        !r.bChanged && !r.pFadeinenvelope && !r.pEnvelopeinuse)
                << h;
        }
        for (int i = 0; i < CoreProg::iCraws; ++i) {
            const CoreProg::RAWLOC& r = Access::raw(*program, i);
            EXPECT_TRUE(!r.bActive && !r.pRoot && !r.pLeafvectors->Count && !r.pCorevectors->Count) << i;
        }
        const Dump unset = dump(*fresh(44100)), now = dump(*program);
        for (int i = 1; i <= CoreProg::iCparameters; ++i)
            EXPECT_EQ(now.at("PRM" + std::to_string(i)), unset.at("PRM" + std::to_string(i))) << i;
        EXPECT_EQ(fixture.pool.getma(), poolBefore);
        EXPECT_EQ(line(Access::registry(*program)->count(), Access::registry(*program)->groups()), "0 0");
    }
};

TEST_F(CoreProgReader, ReadsProgramKeysWithTheirDefaultsAndKeepsWhatTheyLeaveAlone) {
    wav("K.WAV", response(441, 10), {}, 44100);
    program->setrc(1000000);
    struct Row {
        const char* keys; // loaded in turn into one program
        bool keepRate;
        const char* probe; // dump entries, or "log"
        const char* expected;
    };
    const char* gains = "MIX1 MIX2 GAINOUT GAININ FEEDBACKFACTOR FEEDBACKSOURCE GAINDRYFACTOR GAINDRYSOURCE "
                        "GAINPADINTRIMSOURCE GAINPADOUTTRIMSOURCE";
    const Row rows[] = {
        {"MIX1=0.5 GAINOUT=-6 GAININ=6 FEEDBACKFACTOR=50 FEEDBACKSOURCE=LFO1 GAINDRYFACTOR=-6 "
         "GAINDRYSOURCE=LFO2 "
         "GAINPADINTRIMSOURCE=LFO3",
         false, gains,
         "1 0.5|0 -1|1 0.250594|1 0.997631|0.5|'LFO1' 'LFO1' 0 1|0.501187|'LFO2' 'LFO2' 0 1|'LFO3' 0 1|'' 1 "
         "1"},
        // MIX always, the gains not; the controls keep their bindings, the texts go.
        {"", false, gains, "0 -1|0 -1|1 0.250594|1 0.997631|0|'' 'LFO1' 0 1|0|'' 'LFO2' 0 1|'' 1 1|'' 1 1"},
        {"GAINOUT=_0_", false, "GAINOUT", "1 0.5"},
        {"FEEDBACKSOURCE=LFO4", false, "FEEDBACKFACTOR FEEDBACKSOURCE", "0|'' 'LFO1' 0 1"},
        {"FEEDBACKFACTOR=50", false, "FEEDBACKFACTOR FEEDBACKSOURCE", "0.5|'' '' 1 1"},
        {"", false, "GAINIR GAINPADIN GAINPADOUT GAINDRYFACTOR LOOKAHEAD PROGRAMRATE FLAGS",
         "1|1|1|0|0 'ON' 'ON' 0 1|-1|0 0 0 0 0 -1"},
        {"HDIM=2.9 LOOKAHEAD=-1.5 FORCEMONO=-1 TRAINMODE=0,5 PROGRAMRATE=5000.9", false,
         "FLAGS LOOKAHEAD ALIGN PROGRAMRATE", "0 0 0 0 2 -1|-1 'ON' 'ON' 0 1|0 0 0 1 0 0|5000"},
        {"HDIM=65538 LOOKAHEAD=1e12 PROGRAMRATE=-1e12 ALIGNOFFSET=3e9 SYNCVERSION=2.7", false,
         "FLAGS LOOKAHEAD PROGRAMRATE ALIGN",
         "0 0 0 0 2 -1|2147483647 'ON' 'ON' 0 1|-2147483648|0 2147483647 2 0 0 0"},
        {"", false, "log",
         ">-load_ starts<|>--GAINIR:1<|>--LOOKAHEADSOURCE:ON<|>--ALIGNBALANCE:0<|>-load_ ends<"},
        // A 44.1 kHz response at 48 kHz: converted unless the rate is kept.
        {"H1{ELEMENT{VECTOR{ELEMENT{FILENAME=K.WAV}}}}", false, "state", "1 1 1 44100 48000 1 3840 1"},
        {"H1{ELEMENT{VECTOR{ELEMENT{FILENAME=K.WAV}}}}", true, "state", "1 1 1 44100 44100 1 3528 1"},
    };
    program->setrt(48000);
    for (const Row& r : rows) {
        SCOPED_TRACE(r.keys);
        std::filesystem::remove(root / "reader.log");
        ASSERT_TRUE(load(*program, programText(r.keys), r.keepRate));
        std::istringstream probes(r.probe), expected(r.expected);
        const Dump d = dump(*program);
        std::string probe, want, found;
        if (std::string(r.probe) == "log") {
            while (std::getline(expected, want, '|')) EXPECT_NE(log().find(want), std::string::npos) << want;
        } else {
            for (std::string sep; probes >> probe; sep = "|") found += sep + d.at(probe);
            EXPECT_EQ(found, r.expected);
        }
        roundTrip(programText(r.keys));
    }
    EXPECT_EQ(Access::irGain(*program), 1.0); // absent: exactly
    EXPECT_EQ(program->getpi(), 1.0);

    // The table's lines at level 3 only.
    CoreLog_::setdb(2, false);
    std::filesystem::remove(root / "reader.log");
    ASSERT_TRUE(load(*program, programText("")));
    EXPECT_EQ(log().find("GAINIR"), std::string::npos);
    EXPECT_NE(log().find("load_ ends"), std::string::npos);
}

TEST_F(CoreProgReader, LogsAFlagByItsTagAloneAndAValueKeyWithItsValue) {
    // A present flag logs its tag, also when it is off (-1 is present); other keys log tag:value.
    ASSERT_TRUE(
        load(*program, programText("TRAINMODE=1 JITTERMODE=1 HRTFMODE=-1 FORCEOT2=1 INVISIBLETHREAD=1 "
                                   "FORCEHYBRID=-1 FORCEMONO=1 GAINOUT=-6 SYNCVERSION=2 HDIM=3 "
                                   "GAINPADINTRIMSOURCE=LFO1")));
    for (const char* line :
         {"TRAINMODE", "JITTERMODE", "HRTFMODE", "FORCEOT2", "INVISIBLETHREAD", "FORCEHYBRID", "FORCEMONO",
          "GAINOUT:0.501187", "SYNCVERSION:2", "HDIM:3", "GAINPADINTRIMSOURCE:LFO1"})
        EXPECT_NE(log().find(">--" + std::string(line) + "<"), std::string::npos) << line;
}

TEST_F(CoreProgReader, FailuresLeaveAnEmptyProgramAndTheNextLoadWorks) {
    const int64_t poolBefore = fixture.pool.getma();
    const struct {
        std::string text;
        const char* error; // lines in their order, '|' between; the last is the last error line
    } rows[] = {
        {"0", "Error in tag PROGRAM"}, // a free slot's text: a null document node
        {"<PROGRAMS><NAME>x</NAME></PROGRAMS>", "Error in tag PROGRAM"},
        {"<PROGRAM>0</PROGRAM>", "Error in tag PROGRAM"},
        {"<PROGRAM><NAME>x</NAME></PROGRAM>", "Error in tag H1"},
        {programText("H1{ELEMENT{FILENAME=NONE.XML CONTROL{SOURCE=LFO1}}}"), "Error in tag ELEMENT"},
        {programText("NAME=Broken H1{ELEMENT{VECTOR{ELEMENT{FILENAME=MISSING.WAV}}}}"),
         "Error in file WAV VECTORS/MISSING.WAV: cannot be opened|Error in file \"VECTORS/MISSING.WAV\"|"
         ">--end H1<| start Broken"},
        {programText("NAME=Raw RAW2{ELEMENT{VECTOR{ELEMENT{FILENAME=NONE.CSV}}}}"), " starr Raw"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        ASSERT_TRUE(load(*program, fixtureText)); // a whole program to lose
        EXPECT_FALSE(load(*program, r.text));
        const std::string lines = log(), marker = CoreLog_::sCerrorprm;
        std::istringstream chain(r.error);
        size_t at = 0;
        for (std::string step; std::getline(chain, step, '|');)
            EXPECT_NE(at = lines.find(step, at), std::string::npos) << step;
        const std::string last = std::string(r.error).substr(std::string(r.error).rfind('|') + 1);
        EXPECT_EQ(lines.rfind(marker), lines.rfind(marker + last)); // the handler's line comes last
        EXPECT_EQ(lines.find("release error"), std::string::npos);  // every block released is the pool's
        expectEmpty(poolBefore);
    }

    // Every allocation through operator new fails in turn (pool books, lists, tree and kernel
    // preparation; the text class reallocates on its own): each is handled and leaves nothing behind.
    // A number of 16 characters or more is copied to the heap as it is read, so that the follower
    // sections fail too; the fifth follower reads EVF1's section again.
    const std::string longNumber = "1000.000000000000000";
    CoreXml_ parsed;
    CoreNode* top = parsed.getfc(
        CoreAnsx(programText("EVF1{EXP=2 MINATTACK=" + longNumber + "} EVF2{MAXATTACK=" + longNumber +
                             "} H1{ELEMENT{VECTOR{ELEMENT{VECTOR{ELEMENT{FILENAME=H2.WAV}}}}}} "
                             "RAW1{ELEMENT{VECTOR{ELEMENT{FILENAME=RAWA.CSV}}}}")
                     .c_str()));
    std::filesystem::remove(root / "reader.log");
    for (long n = 1;; ++n) {
        failingAllocation = n;
        const bool loaded = program->load_(top, false);
        if (failingAllocation.exchange(0) != 0) {
            EXPECT_TRUE(loaded);
            break;
        }
        if (loaded) continue; // a reader that could do without (a header probe) logged it
        expectEmpty(poolBefore);
    }
    for (const char* handler : {"Error in tag ELEMENT", " start ", " starr "})
        EXPECT_NE(log().find(CoreLog_::sCerrorprm + std::string(handler)), std::string::npos) << handler;
    // A failing follower section is reported by its tag, a failing copy by the section it copies.
    std::istringstream lines(log());
    std::string followers;
    for (std::string line; std::getline(lines, line);)
        if (const size_t at = line.find("Error in tag EVF"); at != std::string::npos)
            followers += (followers.empty() ? "" : " ") + line.substr(at + 13);
    EXPECT_EQ(followers, "EVF1 EVF2 EVF1");
}

TEST_F(CoreProgReader, EveryFixtureSurvivesTheRoundTrip) {
    roundTrip(fixtureText);
    roundTrip(readBytes(goldenPath()));
    // The reading rules of the section and tree tests, over the fixture's files.
    roundTrip(programText(
        "DISPLAY{PRM1{LABEL=x VISIBLE=_0_ A=0.0} ZELKIIPRM2{LABEL=z} PRM2{LABEL=two} PRM3{VISIBLE=0.0}} "
        "ENV2{CURVE{ATTACK=2.9 DECAY=-1.5 SLOPE=65538} LEVEL{ATTACK=0,75} CONTROL{ACTIVSOURCE=EVF1}} "
        "DNM1{RATIOCURVE=_0_ RATIOCOMSOURCE=0 RATIOEXPSOURCE=LFO2} DNM2{RATIOCURVE=12} "
        "EVF1{EXP=2 MINATTACK=1000} EVF2{MINATTACK=1000 MAXATTACK=-200 BUSBALANCESOURCE=off DATTACKSOURCE= "
        "DRELEASESOURCE=x ENABLEEATERT=1 EXP=12 FILTERFREQUENCY=2} "
        "RAWFUN1{FUN=RSINGLE C=RAWA D=RAWB} RAW1{ELEMENT{VECTOR{ELEMENT{FILENAME=RAWA.CSV}}}} "
        "RAW2{ELEMENT{VECTOR{COMMON{SWITCHMODE=1 OFFSET=50 LENGTH=30 FADEINCURVE=2} "
        "ELEMENT{FILENAME=RAWB.CSV}} CONTROL{SOURCE=LFO1 GAINPADFACTOR=3 PANFACTOR=45}}}"));
    for (const char* trees : {
             "H1{ELEMENT{VECTOR{ELEMENT{VECTOR{ELEMENT{FILENAME=H2.WAV} ELEMENT{FILEPATH=PLATES/ "
             "FILENAME=PLATEA.WAV}}} element{FILENAME=C FILEPATH=Q/ VECTOR{NOTE=1 "
             "ELEMENT{FILENAME=PLATEB.WAV}}}} "
             "CONTROL{PANFACTOR=45 PANSOURCE=LFO2 GAINPADSOURCE=MIX1 GAINSOURCE=LFO3}}} "
             "H2{ELEMENT{FILENAME=PLATE.XML FILEPATH=PLATES/ CONTROL{SOURCE=LFO1 MINVALUE=0 MAXVALUE=5}}}",
             "FORCEHYBRID=1 H1{ELEMENT{VECTOR{COMMON{OFFSET=5000 FADEIN=9000 LIQUIDFACTOR=50 "
             "FADEINCURVE=3.7} "
             "ELEMENT{FILENAME=H2.WAV} ELEMENT{FILEPATH=PLATES/ FILENAME=PLATEA.WAV}} TRAINTHRESHOLD=-6} "
             "FORCEOT2=1}",
             "TRAINMODE=1 H1{ELEMENT{VECTOR{COMMON{OT1{FADEOUT=10 LENGTH=20} FADEOUT=7} "
             "ELEMENT{FILENAME=H2.WAV}} "
             "TRAINTHRESHOLD=0} TRAINTHRESHOLD=-12} H2{ELEMENT{VECTOR{ELEMENT{FILENAME=H2.WAV}}} "
             "TRAINTHRESHOLD=-12} H4{ELEMENT{VECTOR{ELEMENT{FILENAME=H2.WAV}}}}"})
        roundTrip(programText(trees));
    // "0" unframed in every section a writer rewrites: absent on reading, written framed.
    roundTrip(programText(
        "NAME=0 CATEGORY=0 DESCRIPTION=0 VECTORFILENAME=0 MIX1=0 GAINOUT=0 GAININ=0 "
        "GAINPADOUT=0 GAINPADIN=0 GAINIR=0 LOOKAHEAD=0 LOOKAHEADSOURCE=0 PROGRAMRATE=0 "
        "ALIGNBALANCE=0 TRAINMODE=0 SYNCVERSION=0 ALIGNOFFSET=0 FORCEOT2=0 HDIM=0 "
        "FEEDBACKFACTOR=0 FEEDBACKSOURCE=0 GAINDRYFACTOR=0 GAINDRYSOURCE=0 SMOOTH=0 "
        "LFO1{MINRATE=0 MAXRATE=1 SOURCE=0 SHAPE=0 PHASEFACTOR=0 PHASESOURCE=0 RATEQUANTIZE=0} "
        "FUN1{A=0 B=0 FUN=0} EVF1{EXP=0 MINATTACK=0 ATTACKSOURCE=0 ENABLEEATERT=0 FILTERSOURCE=0} "
        "DNM1{RATIOCOMSOURCE=0 INPUTSOURCE=0 RATIOCURVE=0 RANGELIMIT=0 GAINPADFACTOR=0} "
        "ENV1{CONTROL{ACTIVSOURCE=0} LEVEL{START=0 COMMON{MODFACTOR=0}} TIME{ATTACK=0} "
        "CURVE{ATTACK=0}} DISPLAY{PRM1{LABEL=0 VISIBLE=0 MINVALUE=0 A=0 FUN=0}} "
        "H1{ELEMENT{VECTOR{ELEMENT{FILENAME=H2.WAV WEIGHT=0}}} FORCEOT2=0} "
        "RAW1{ELEMENT{VECTOR{ELEMENT{FILENAME=RAWA.CSV WEIGHT=0}}}}"));
}

TEST_F(CoreProgReader, AnUnframedZeroNoWriterRewritesStaysAbsentAfterASave) {
    // Each "0" here reads as absent, and absent differs from a present 0: written back framed, it would
    // move a sync point, a stage length, a control, a source or a shape on the next load.
    const char* rows[] = {
        "TRAINMODE=1 H1{ELEMENT{VECTOR{ELEMENT{FILENAME=H2.WAV}} TRAINTHRESHOLD=0}}",
        "TRAINMODE=1 H1{ELEMENT{VECTOR{ELEMENT{FILENAME=H2.WAV}}} TRAINTHRESHOLD=0}",
        "H1{ELEMENT{VECTOR{COMMON{LENGTH=0} ELEMENT{FILENAME=H2.WAV}}}}",
        "MIX1=0.5 MIX1=0",
        "GAINPADINTRIMSOURCE=0 GAINPADOUTTRIMSOURCE=0",
        "LFO1{SHAPE=0 PHASESOURCE=0}", // an LFO no one edited keeps its section as read
        "RAWFUN1{A=LFO1 B=0 FUN=RSINGLE C=RAWA D=0} RAW1{ELEMENT{VECTOR{ELEMENT{FILENAME=RAWA.CSV}}}}",
        "H1{ELEMENT{VECTOR{COMMON{MAXVALUE=1 LIQUIDSOURCE=0 OT2{LENGTH=0}} ELEMENT{FILENAME=H2.WAV}} "
        "CONTROL{SOURCE=LFO1 GAINPADSOURCE=0}}}",
        "H1{ELEMENT{FILENAME=PLATE.XML FILEPATH=PLATES/ CONTROL{SOURCE=MIX1 GAINPADSOURCE=0}}}",
        "RAW1{ELEMENT{VECTOR{COMMON{MAXVALUE=1 LIQUIDSOURCE=0} ELEMENT{FILENAME=RAWA.CSV}} "
        "CONTROL{SOURCE=0}}}",
    };
    for (const char* keys : rows) roundTrip(programText(keys));
}

TEST_F(CoreProgReader, DisplayEditsSurviveCommitAndReloadAtEveryProgramRate) {
    // (Edits of every other value: the writers' golden commit of an edited model.)
    for (int32_t rate : {44100, 48000, 96000})
        roundTrip(fixtureText, rate, [](CoreProg& p) {
            for (int16_t h : {0, 1, 2})
                for (int16_t stage : {0, 1})
                    p.setod(h, stage, (p.getib(h, stage, false) + 2 * p.getib(h, stage, true)) / 3);
            p.setco(0, p.getco(0) / 2, true);
            p.setnm("Edited <Hall>");
            p.getlf(3)->setvl(0.5, 2.0, 0.0, "", "", 0.0, ""); // played as the first waveform
            p.getdy(1)->setst(0);
            p.getdy(1)->setrc(0); // the display's "LINEAR"
            p.getdy(1)->rfrvl();
        });
}

} // namespace
