// The reader steps of the modulator sections and the user parameters: documents in the stored format
// read in turn into one program (so absent sections meet what earlier rows set), checked through the
// modulators' getters.
#include "ProgramFixtures.h"

namespace {

using namespace progtest;

template <typename T>
std::string four(const T* v) {
    return num(v[0]) + "," + num(v[1]) + "," + num(v[2]) + "," + num(v[3]);
}
std::string mode(const CoreEnvf* f) {
    return std::to_string(f->getex()) + (f->isact() ? "on" : "off");
}

// What the reader left where a row looks.
std::string state(CoreProg& p, const std::string& probe) {
    const CorePrm_* prm = p.getpm(0);
    const CoreEnv_* env = p.geten(1);
    const CoreDynm* dnm = p.getdy(0);
    const CoreEnvf* evf = p.getef(1);
    const double bounds[4] = {prm->getbd(0), prm->getbd(1), prm->getbd(2), prm->getbd(3)};
    if (probe == "PRM")
        return (prm->isdis() ? "shown " : "hidden ") + text(prm->getlb()) + " " + four(bounds) + " " +
               text(prm->getfa()->getsc()) + " " + text(prm->getfn());
    if (probe == "LABELS")
        return text(prm->getlb()) + "," + text(p.getpm(1)->getlb()) + "," + text(p.getpm(2)->getlb());
    if (probe == "ENV")
        return text(env->getpr(0)->getsc()) + "|" + four(env->getlv()) + "|" + num(env->getlf()) + "|" +
               text(env->getpr(2)->getsc()) + "|" + four(env->gettm()) + "|" + four(env->getcv());
    if (probe == "DNM")
        return text(dnm->getbs(0)) + "|" + text(dnm->getbs(1)) + "|" + text(dnm->getbs(2)) + "|" +
               num(dnm->getst()) + "|" + num(dnm->getrc()) + "|" + num(dnm->getbd(3)) + "|" +
               num(dnm->getbd(4));
    if (probe == "EVF")
        return num(evf->getma()) + "," + num(evf->getxa()) + "," + num(evf->getmr()) + "|" + mode(evf) + "|" +
               num(evf->bbsrc()) + num(evf->dsrc_()) + num(evf->enabt()) + num(evf->osrc_()) + "|" +
               num(evf->hpsrc()) + "," + num(evf->gethf()) + "," + num(evf->getho());
    if (probe == "RAWFUN") {
        // Single-value envelope over a first value of 1 / rate: exp(-1) - 0.5 only at the program rate.
        CoreRfun* raw = Access::rawFunction(p, 0);
        double value = 1.0 / Access::programRate(p);
        raw->setvl(0, &value, 1);
        raw->updte(0.0);
        return text(raw->getfr(0)) + "," + text(raw->getfr(1)) + " " + num(p.getsc("RAWFUN1"));
    }
    return text(p.getlf(0)->getsh()) + num(p.getlf(0)->getrt()->getsu()) + " " + text(p.getfn(0)->getfn()) +
           " " + mode(p.getef(0)) + " " + mode(p.getef(4)) + " " + num(p.getef(4)->getma()) + " " +
           text(dnm->getbs(1)) + " " + text(p.geten(0)->getpr(0)->getsc());
}

class CoreProgSections : public LoadTest {};

TEST_F(CoreProgSections, ModulatorAndParameterSectionsFollowTheReadingRules) {
    struct Row {
        const char* probe; // PRM, ENV, DNM and EVF rows hold the body of PRM1, ENV2, DNM1 and EVF2
        int32_t rate;
        const char* section;
        const char* expected; // a log line for "log"
    };
    const Row rows[] = {
        {"PRM", 44100, "LABEL=x VISIBLE=0", "shown x 0,0,0,0  a"},    // unframed: absent
        {"PRM", 44100, "LABEL=x VISIBLE=_0_", "hidden x 0,0,0,0  a"}, // as written
        {"PRM", 44100, "LABEL=x VISIBLE=nan", "hidden x 0,0,0,0  a"},
        {"PRM", 44100, "label=a LABEL=_b_ MINVALUE=1,5 MAXVALUE=4", "shown b 1.5,4,1.5,4  a"},
        {"PRM", 44100, "A=0.0 FUN=a*b", "hidden  0,0,0,0 0.0 a*b"},
        {"LABELS", 44100, "DISPLAY{PRM3{LABEL=c}}", ",,c"},
        {"LABELS", 44100, "DISPLAY{PRM1{LABEL=p} ZELKIIPRM1{LABEL=z} PRM2{LABEL=two}}", "z,two,"},
        {"LABELS", 44100, "", "z,two,"}, // without DISPLAY the parameters stay
        {"ENV", 44100, "TIME{ATTACK=1000 DECAY=0.5 SLOPE=-200 RELEASE=22.7}",
         "|0,0,0,0|0||44,0,-200,0|0,0,0,0"},
        {"ENV", 44100, "CURVE{ATTACK=2.9 DECAY=-1.5 SLOPE=65538}", "|0,0,0,0|0||0,0,0,0|2,-1,2,0"},
        {"ENV", 44100,
         "LEVEL{START=0 ATTACK=0,75 COMMON{MODFACTOR=2 MODSOURCE=LFO1}} CONTROL{ACTIVSOURCE=EVF1}",
         "EVF1|0,0.75,0,0|2|LFO1|0,0,0,0|0,0,0,0"},
        {"ENV", 44100, "", "|0,0,0,0|0||0,0,0,0|0,0,0,0"}, // no group at all
        {"log", 44100, "", ">---CURVE:2:-1:2:0<"},
        {"DNM", 44100, "RATIOCURVE=0", "|||0|0|0|0"},
        {"DNM", 44100, "RATIOCURVE=_0_", "|||0|1|0|0"},
        {"DNM", 44100, "RATIOCURVE=12", "|||0|9|0|0"},
        {"DNM", 44100, "RATIOCOMSOURCE=0 RATIOEXPSOURCE=LFO2", "||LFO2|1|0|0|0"},
        {"DNM", 44100, "ratioexpsource=LFO2 RATIOCOMSOURCE=LFO1", "||LFO1|0|0|0|0"},
        {"DNM", 44100, "INPUTSOURCE=LFO1 RANGELIMIT=-3 GAINPADFACTOR=1,5", "|LFO1||0|0|-3|1.5"},
        {"EVF", 44100, "MINATTACK=1000 MAXATTACK=-200 MINRELEASE=10", "44,-200,0|0on|0000|0,0,1"},
        {"EVF", 44100, "EXP=65538", "0,0,0|2on|0000|0,0,1"},
        {"EVF", 44100, "EXP=12", "0,0,0|9off|0000|0,0,1"}, // outside the table: off
        {"EVF", 44100, "BUSBALANCESOURCE=off DATTACKSOURCE= DRELEASESOURCE=x ENABLEEATERT=1",
         "0,0,0|0on|1110|0,0,1"},
        {"EVF", 44100, "DATTACKSOURCE=LFO1 OATTACKSOURCE=LFO1 ENABLEEATERT=nan", "0,0,0|0on|0000|0,0,1"},
        {"log", 44100, "", ">---0:0::0:0::0:0:OFF:LFO1:OFF:ENABLEEATERT:LFO1:OFF:OFF:0:<"},
        {"EVF", 44100, "FILTERFREQUENCY=2 FILTERORDER=4", "0,0,0|0on|0000|0,0,1"},
        {"EVF", 44100, "FILTERSOURCE=LFO2 FILTERFREQUENCY=0,5 FILTERORDER=4", "0,0,0|0on|0000|1,0.5,4"},
        // The raw names reach the raw function before its row key, with the program rate.
        {"RAWFUN", 1000, "RAWFUN1{FUN=RSINGLE C=RAW2 D=RAW3}", "RAW2,RAW3 -1.26424"},
        // EVF5 borrows EVF1 (off, no log line of its own); absent sections reset what the last row set.
        {"STEPS", 1000,
         "LFO1{MAXRATE=3 SHAPE=Sine} FUN1{FUN=a*b} EVF1{EXP=2 MINATTACK=1000} DNM1{INPUTSOURCE=LFO1} "
         "ENV1{CONTROL{ACTIVSOURCE=LFO1}}",
         "Sine3 a*b 2on 9off 1 LFO1 LFO1"},
        {"STEPS", 1000, "", "0 a 9off 9off 1  "},
    };
    const std::string wrappers[][3] = {{"PRM", "DISPLAY{PRM1{", "}}"},
                                       {"ENV", "ENV2{X=1 ", "}"},
                                       {"DNM", "DNM1{X=1 ", "}"},
                                       {"EVF", "EVF2{X=1 ", "}"}};
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.probe) + " " + row.section);
        std::string children = row.section;
        for (const auto& wrapper : wrappers)
            if (wrapper[0] == row.probe) children = wrapper[1] + children + wrapper[2];
        program->setrt(row.rate);
        CoreNode* element = programElement(children);
        Access::rdmod(*program, element);
        Access::rddsp(*program, element);
        if (std::string(row.probe) == "log")
            EXPECT_NE(log().find(row.expected), std::string::npos);
        else
            EXPECT_EQ(state(*program, row.probe), row.expected);
    }
    EXPECT_EQ(log().find(">--EVF5<"), std::string::npos);
}

} // namespace
