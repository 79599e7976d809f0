// The reader steps of the modulator sections and the user parameters, with their section readers:
// rows of sections in the stored format, checked through the modulators' getters.
#include "ProgramFixtures.h"
#include "modulation/CoreRfun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

using namespace progtest;

std::string text(const CoreAnsx& value) {
    return value.c_str();
}
std::string text(double value) {
    return CoreAnsx(value).c_str();
}
std::string list(const double* values) {
    return text(values[0]) + "," + text(values[1]) + "," + text(values[2]) + "," + text(values[3]);
}
template <typename T>
std::string list(const T* values) {
    return std::to_string(values[0]) + "," + std::to_string(values[1]) + "," + std::to_string(values[2]) + "," +
           std::to_string(values[3]);
}

class CoreProgSections : public ReaderTest {
protected:
    void readModulators(const std::string& children) { Access::rdmod(*program, programElement(children)); }
    std::string envelope(int16_t i) {
        const CoreEnv_* e = program->geten(i);
        return text(e->getpr(0)->getsc()) + "|" + list(e->getlv()) + "|" + text(e->getlf()) + "|" +
               text(e->getpr(2)->getsc()) + "|" + list(e->gettm()) + "|" + list(e->getcv());
    }
    std::string dynamics(int16_t i) {
        const CoreDynm* d = program->getdy(i);
        return text(d->getbs(0)) + "|" + text(d->getbs(1)) + "|" + text(d->getbs(2)) + "|" +
               std::to_string(d->getst()) + "|" + std::to_string(d->getrc()) + "|" + text(d->getbd(3)) + "|" +
               text(d->getbd(4));
    }
    std::string follower(int16_t i) {
        const CoreEnvf* f = program->getef(i);
        return std::to_string(f->getma()) + "," + std::to_string(f->getxa()) + "," + std::to_string(f->getmr()) +
               "|" + std::to_string(f->getex()) + (f->isact() ? " on" : " off") + "|" + std::to_string(f->bbsrc()) +
               std::to_string(f->dsrc_()) + std::to_string(f->enabt()) + std::to_string(f->osrc_()) + "|" +
               std::to_string(f->hpsrc()) + "," + text(f->gethf()) + "," + std::to_string(f->getho());
    }
};

TEST_F(CoreProgSections, ParameterSectionsFollowTheReadingRules) {
    struct Row {
        const char* section;
        bool shown;
        const char* label;
        const char* bounds; // min, max, bar min, bar max
        const char* inputA; // the text bound to input A
        const char* operation;
    };
    const Row rows[] = {
        {"<LABEL>x</LABEL><VISIBLE>0</VISIBLE>", true, "x", "0,0,0,0", "", "a"}, // unframed "0": absent
        {"<LABEL>x</LABEL><VISIBLE> 0 </VISIBLE>", false, "x", "0,0,0,0", "", "a"}, // as written: hidden
        {"<LABEL>x</LABEL><VISIBLE>0.0</VISIBLE>", false, "x", "0,0,0,0", "", "a"},
        {"<LABEL>x</LABEL><VISIBLE>nan</VISIBLE>", false, "x", "0,0,0,0", "", "a"},
        {"<LABEL>x</LABEL><VISIBLE>2</VISIBLE>", true, "x", "0,0,0,0", "", "a"},
        {"<label>a</label><LABEL> b </LABEL><MINVALUE>1,5</MINVALUE><MAXVALUE>4</MAXVALUE>", true, "b",
         "1.5,4,1.5,4", "", "a"},
        {"<LABEL>x</LABEL><MINVALUE>0</MINVALUE><BARMAXVALUE>9</BARMAXVALUE>", true, "x", "0,0,0,9", "", "a"},
        {"<A>0</A><FUN>nope</FUN>", false, "", "0,0,0,0", "", "a"}, // no label: not enabled
        {"<A>0.0</A><B>LFO1</B><FUN>a*b</FUN>", false, "", "0,0,0,0", "0.0", "a*b"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.section);
        Access::rddsp(*program, programElement(std::string("<DISPLAY><PRM1>") + row.section + "</PRM1></DISPLAY>"));
        const CorePrm_* p = program->getpm(0);
        EXPECT_EQ(p->isdis(), row.shown);
        EXPECT_EQ(text(p->getlb()), row.label);
        const double bounds[4] = {p->getbd(0), p->getbd(1), p->getbd(2), p->getbd(3)};
        EXPECT_EQ(list(bounds), row.bounds);
        EXPECT_EQ(text(p->getfa()->getsc()), row.inputA);
        EXPECT_EQ(text(p->getfn()), row.operation);
    }
    EXPECT_NE(log().find(">--PRM1<"), std::string::npos);
}

TEST_F(CoreProgSections, DisplayPrefersTheZelkiiSectionAndResetsMissingParameters) {
    struct Row {
        const char* children;
        const char* labels; // parameters 1, 2 and 3
    };
    const Row rows[] = {
        {"<DISPLAY><PRM1><LABEL>p</LABEL></PRM1><ZELKIIPRM1><LABEL>z</LABEL></ZELKIIPRM1>"
         "<PRM2><LABEL>two</LABEL></PRM2></DISPLAY>",
         "z,two,"},
        {"", "old,old,old"}, // without DISPLAY the parameters are left alone
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.children);
        for (int16_t i = 0; i < 3; ++i)
            program->getpm(i)->setvl(true, "", "", "a", "old", "", "", "", "", 0.0, 1.0, 0.0, 1.0);
        Access::rddsp(*program, programElement(row.children));
        EXPECT_EQ(text(program->getpm(0)->getlb()) + "," + text(program->getpm(1)->getlb()) + "," +
                      text(program->getpm(2)->getlb()),
                  row.labels);
    }
}

TEST_F(CoreProgSections, EnvelopesConvertTimesAndCurvesAndReadMissingGroupsAsEmpty) {
    struct Row {
        const char* section;
        int32_t rate;
        const char* expected; // activation | levels | level factor | level source | times | curves
        const char* logLine;  // a debug line the reader writes, or null
    };
    const Row rows[] = {
        {"<TIME><ATTACK>1000</ATTACK><DECAY>0.5</DECAY><SLOPE>-200</SLOPE><RELEASE>22.7</RELEASE></TIME>", 44100,
         "|0,0,0,0|0||44,0,-200,0|0,0,0,0", ">---TIME:1000:0.5:-200:22.7:0:<"},
        {"<TIME><ATTACK>1000</ATTACK></TIME>", 48000, "|0,0,0,0|0||48,0,0,0|0,0,0,0", nullptr},
        {"<CURVE><ATTACK>2.9</ATTACK><DECAY>-1.5</DECAY><SLOPE>65538</SLOPE><RELEASE>0</RELEASE></CURVE>", 44100,
         "|0,0,0,0|0||0,0,0,0|2,-1,2,0", ">---CURVE:2:-1:2:0<"},
        {"<LEVEL><START>0</START><ATTACK>0,75</ATTACK><COMMON><MODFACTOR>2</MODFACTOR><MODSOURCE>LFO1</MODSOURCE>"
         "</COMMON></LEVEL><CONTROL><ACTIVSOURCE>EVF1</ACTIVSOURCE></CONTROL>",
         44100, "EVF1|0,0.75,0,0|2|LFO1|0,0,0,0|0,0,0,0", ">---CONTROL:EVF1:<"},
        {"", 44100, "|0,0,0,0|0||0,0,0,0|0,0,0,0", nullptr}, // no group at all
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.section);
        program->setrt(row.rate);
        readModulators(std::string("<ENV2><X>1</X>") + row.section + "</ENV2>");
        EXPECT_EQ(envelope(1), row.expected);
        if (row.logLine != nullptr) {
            EXPECT_NE(log().find(row.logLine), std::string::npos);
        }
    }
}

TEST_F(CoreProgSections, DynamicsChooseTheRatioAndTakeTheCurveIndexWhenPresent) {
    struct Row {
        const char* section;
        const char* expected; // threshold | input | ratio | 1 expanding | curve index + 1 | range | make-up
    };
    const Row rows[] = {
        {"", "|||0|0|0|0"},
        {"<RATIOCURVE>0</RATIOCURVE>", "|||0|0|0|0"},
        {"<RATIOCURVE> 0 </RATIOCURVE>", "|||0|1|0|0"},
        {"<RATIOCURVE>0.0</RATIOCURVE>", "|||0|1|0|0"},
        {"<RATIOCURVE>12</RATIOCURVE>", "|||0|9|0|0"},
        {"<RATIOCURVE>65539</RATIOCURVE>", "|||0|4|0|0"},
        {"<RATIOCOMSOURCE>0</RATIOCOMSOURCE><RATIOEXPSOURCE>LFO2</RATIOEXPSOURCE>", "||LFO2|1|0|0|0"},
        {"<ratioexpsource>LFO2</ratioexpsource><RATIOCOMSOURCE>LFO1</RATIOCOMSOURCE>", "||LFO1|0|0|0|0"},
        {"<INPUTSOURCE>LFO1</INPUTSOURCE><RANGELIMIT>-3</RANGELIMIT><GAINPADFACTOR>1,5</GAINPADFACTOR>",
         "|LFO1||0|0|-3|1.5"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.section);
        readModulators(std::string("<DNM1><X>1</X>") + row.section + "</DNM1>");
        EXPECT_EQ(dynamics(0), row.expected);
    }
    EXPECT_NE(log().find(">---:LFO1::-3:-1:1.5<"), std::string::npos);
}

TEST_F(CoreProgSections, FollowersConvertTimesAndSwitchTheirGroupsByText) {
    struct Row {
        const char* section;
        int32_t rate;
        const char* expected; // times | mode | bus, dynamic, EAT/ERT, output | high-pass, cut-off, order
    };
    const Row rows[] = {
        {"<MINATTACK>1000</MINATTACK><MAXATTACK>-200</MAXATTACK><MINRELEASE>10</MINRELEASE>", 44100,
         "44,-200,0|0 on|0000|0,0,1"},
        {"<MINATTACK>5000</MINATTACK>", 48000, "240,0,0|0 on|0000|0,0,1"},
        {"<EXP>7.9</EXP>", 44100, "0,0,0|7 on|0000|0,0,1"},
        {"<EXP>65538</EXP>", 44100, "0,0,0|2 on|0000|0,0,1"},
        {"<EXP>9</EXP>", 44100, "0,0,0|9 off|0000|0,0,1"},
        {"<EXP>12</EXP>", 44100, "0,0,0|9 off|0000|0,0,1"}, // outside the table: off
        {"<BUSBALANCESOURCE>off</BUSBALANCESOURCE><DATTACKSOURCE></DATTACKSOURCE><DRELEASESOURCE>x"
         "</DRELEASESOURCE>",
         44100, "0,0,0|0 on|1100|0,0,1"},
        {"<DATTACKSOURCE>LFO1</DATTACKSOURCE><OATTACKSOURCE>LFO1</OATTACKSOURCE><ORELEASESOURCE>OFF"
         "</ORELEASESOURCE>",
         44100, "0,0,0|0 on|0000|0,0,1"},
        {"<ENABLEEATERT>0</ENABLEEATERT>", 44100, "0,0,0|0 on|0000|0,0,1"},
        {"<ENABLEEATERT>nan</ENABLEEATERT>", 44100, "0,0,0|0 on|0000|0,0,1"},
        {"<ENABLEEATERT>1</ENABLEEATERT>", 44100, "0,0,0|0 on|0010|0,0,1"},
        {"<FILTERFREQUENCY>2</FILTERFREQUENCY><FILTERORDER>4</FILTERORDER>", 44100, "0,0,0|0 on|0000|0,0,1"},
        {"<FILTERSOURCE>LFO2</FILTERSOURCE><FILTERFREQUENCY>0,5</FILTERFREQUENCY>", 44100,
         "0,0,0|0 on|0000|1,0.5,1"},
        {"<FILTERSOURCE>LFO2</FILTERSOURCE><FILTERORDER>4</FILTERORDER>", 44100, "0,0,0|0 on|0000|1,0,4"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.section);
        program->setrt(row.rate);
        readModulators(std::string("<EVF2><X>1</X>") + row.section + "</EVF2>");
        EXPECT_EQ(follower(1), row.expected);
    }
    EXPECT_NE(log().find(">---0:0::0:0::0:0:OFF:OFF:OFF:ENABLEEATERT:OFF:OFF:OFF:0:<"), std::string::npos);
}

TEST_F(CoreProgSections, AbsentSectionsResetWhatThePreviousDocumentSet) {
    program->setrt(1000);
    readModulators("<LFO1><MAXRATE>3</MAXRATE><SHAPE>Sine</SHAPE></LFO1><FUN1><A>LFO1</A><FUN>a*b</FUN></FUN1>"
                   "<RAWFUN1><A>LFO1</A><FUN>RSINGLE</FUN><C>RAW2</C><D>RAW3</D></RAWFUN1>"
                   "<EVF1><EXP>2</EXP><MINATTACK>1000</MINATTACK></EVF1><DNM1><INPUTSOURCE>LFO1</INPUTSOURCE></DNM1>"
                   "<ENV1><CONTROL><ACTIVSOURCE>LFO1</ACTIVSOURCE></CONTROL></ENV1>");
    // The raw names come before the row key, and the program rate reaches the function: a first value
    // of 1 / rate gives exp(-1) - 0.5 as the single-value envelope.
    CoreRfun* raw = Access::rawFunction(*program, 0);
    EXPECT_EQ(text(raw->getfr(0)) + "," + text(raw->getfr(1)), "RAW2,RAW3");
    double value = 0.001;
    raw->setvl(0, &value, 1);
    raw->updte(0.0);
    EXPECT_NEAR(program->getsc("RAWFUN1"), 2.0 * (std::exp(-1.0) - 0.5) - 1.0, 1e-12);
    // The side-chain follower borrows EVF1 without a log line of its own, and stays off.
    EXPECT_EQ(follower(4), "1,0,0|9 off|0000|0,0,1");
    EXPECT_NE(log().find(">--EVF1<"), std::string::npos);
    EXPECT_EQ(log().find(">--EVF5<"), std::string::npos);

    readModulators("");
    EXPECT_DOUBLE_EQ(program->getlf(0)->getrt()->getsu(), 0.0);
    EXPECT_EQ(text(program->getlf(0)->getsh()), "");
    EXPECT_EQ(text(program->getfn(0)->getfn()), "a");
    EXPECT_EQ(text(raw->getfr(0)), "");
    EXPECT_FALSE(program->getef(0)->isact() || program->getef(4)->isact());
    EXPECT_EQ(dynamics(0), "|||0|0|0|0");
    EXPECT_EQ(text(program->geten(0)->getpr(0)->getsc()), "");
}

TEST_F(CoreProgSections, StepsLeaveEveryModulatorAsTheOracleReadsIt) {
    for (const std::string& document : {std::string(fixtureText), readFile(goldenPath())}) {
        auto oracle = fixture.make();
        oracle->setrt(48000);
        program->setrt(48000);
        readBack(CoreAnsx(document.c_str()), 48000, *oracle);
        CoreXml_ parsed;
        parsed.getfc(CoreAnsx(document.c_str()));
        Access::rdmod(*program, programOf(parsed));
        Access::rddsp(*program, programOf(parsed));
        expectModulatorsFound(*oracle, *program);
    }
}

} // namespace
