// The reading rules of the modulator sections and the user parameters, which no writer's document
// shows: absent and unframed keys, truncated and low-16-bit widths, "nan", groups that link only whole,
// missing groups and sections. Rows are read in turn into one program, so absent sections meet what
// earlier rows set. (That every key written is read back: the writers' golden commit.)
#include "ProgramFixtures.h"
#include "modulation/CoreSrce.h"
#include "modulation/DataSrce.h"

namespace {

using namespace progtest;

std::string mode(const CoreEnvf* f) {
    return std::to_string(f->getex()) + (f->isact() ? "on" : "off");
}

// What the reader left where a row looks.
std::string state(CoreProg& p, const std::string& probe) {
    const CoreEnv_* env = p.geten(1);
    const CoreDynm* dnm = p.getdy(0);
    const CoreEnvf* evf = p.getef(1);
    if (probe == "PRM")
        return line(p.getpm(0)->isdis(), p.getpm(0)->getlb(), p.getpm(1)->getlb(), p.getpm(2)->getlb());
    if (probe == "PRMA") {
        CoreParm* a = p.getpm(0)->getfa();
        return line(a->getsc(), a->iscst(), a->getvl());
    }
    if (probe == "RAWFUN") {
        // Both arrays one value long: RSINGLE gives exp(-1 / (v k)) - 0.5 with k the program rate,
        // RMULTI the value itself (input A on OFF reads position 0); the slot holds twice that less 1.
        CoreRfun* raw = Access::rawFunction(p, 0);
        double values[2] = {0.001, 0.002};
        raw->setvl(0, &values[0], 1);
        raw->setvl(1, &values[1], 1);
        raw->updte(0.0);
        return line(raw->getfr(0), raw->getfr(1), p.getsr()->getsc(CoreAnsx("RAWFUN1"))->getvl());
    }
    if (probe == "ENV")
        return line(env->getpr(0)->getsc(), env->getlv()[1], env->gettm()[0], env->getcv()[0],
                    env->getcv()[1], env->getcv()[2]);
    if (probe == "DNM") return line(dnm->getbs(2), dnm->getst(), dnm->getrc());
    if (probe == "EVF")
        return line(evf->getma(), evf->getxa(), mode(evf), evf->bbsrc(), evf->dsrc_(), evf->enabt(),
                    evf->osrc_(), evf->hpsrc());
    return line(p.getlf(0)->getsh(), p.getfn(0)->getfn(), mode(p.getef(0)), mode(p.getef(4)),
                p.getef(4)->getma(), dnm->getbs(1), p.geten(0)->getpr(0)->getsc());
}

class CoreProgSections : public LoadTest {};

TEST_F(CoreProgSections, ModulatorAndParameterSectionsFollowTheReadingRules) {
    const struct {
        const char* probe; // ENV, DNM and EVF rows hold the body of ENV2, DNM1 and EVF2
        const char *section, *expected;
    } rows[] = {
        {"PRM", "DISPLAY{PRM1{LABEL=x VISIBLE=0}}", "1 'x' '' ''"}, // unframed: absent
        {"PRM", "DISPLAY{PRM1{LABEL=x VISIBLE=nan}}", "0 'x' '' ''"},
        {"PRM", "DISPLAY{PRM1{LABEL=x VISIBLE=_0_}}", "0 'x' '' ''"}, // framed: present, hides
        {"PRM", "DISPLAY{PRM1{LABEL=x VISIBLE=0.0}}", "0 'x' '' ''"},
        {"PRMA", "DISPLAY{PRM1{LABEL=x A=0}}", "'' 0 -1"}, // absent: OFF
        {"PRMA", "DISPLAY{PRM1{LABEL=x A=0.0}}", "'0.0' 1 0"}, // the constant 0.0
        {"PRM", "DISPLAY{PRM1{LABEL=p} ZELKIIPRM1{LABEL=z} PRM2{LABEL=two}}", "1 'z' 'two' ''"},
        {"PRM", "", "1 'z' 'two' ''"}, // without DISPLAY the parameters stay
        {"ENV", "CURVE{ATTACK=2.9 DECAY=-1.5 SLOPE=65538}", "'' 0 0 2 -1 2"},
        {"ENV", "LEVEL{ATTACK=0,75} CONTROL{ACTIVSOURCE=EVF1}", "'EVF1' 0.75 0 0 0 0"},
        {"ENV", "", "'' 0 0 0 0 0"}, // no group at all
        {"DNM", "RATIOCURVE=0", "'' 0 0"},
        {"DNM", "RATIOCURVE=_0_", "'' 0 1"},
        {"DNM", "RATIOCURVE=12", "'' 0 9"},
        {"DNM", "RATIOCOMSOURCE=0 RATIOEXPSOURCE=LFO2", "'LFO2' 1 0"},
        {"EVF", "MINATTACK=1000 MAXATTACK=-200", "44 -200 0on 0 0 0 0 0"},
        {"EVF", "EXP=12", "0 0 9off 0 0 0 0 0"}, // outside the table: off
        {"EVF", "BUSBALANCESOURCE=off DATTACKSOURCE= DRELEASESOURCE=x ENABLEEATERT=1", "0 0 0on 1 1 1 0 0"},
        {"EVF", "DATTACKSOURCE=LFO1 OATTACKSOURCE=LFO1 ENABLEEATERT=nan", "0 0 0on 0 0 0 0 0"},
        {"EVF", "FILTERFREQUENCY=2 FILTERORDER=4", "0 0 0on 0 0 0 0 0"},
        // EVF5 borrows EVF1 (off, no log line of its own); absent sections reset what the last row set.
        {"STEPS",
         "LFO1{MAXRATE=3 SHAPE=Sine} FUN1{FUN=a*b} EVF1{EXP=2 MINATTACK=1000} DNM1{INPUTSOURCE=LFO1} "
         "ENV1{CONTROL{ACTIVSOURCE=LFO1}}",
         "'Sine' 'a*b' 2on 9off 44 'LFO1' 'LFO1'"},
        {"STEPS", "", "'' 'a' 9off 9off 0 '' ''"},
        // C and D come before FUN in the call, which also hands over the program rate (44100 Hz here).
        {"RAWFUN", "RAWFUN1{FUN=RSINGLE C=RAWX D=RAWY}", "'RAWX' 'RAWY' -0.0448411"},
        {"RAWFUN", "RAWFUN1{FUN=RMULTI C=RAWY D=RAWX}", "'RAWY' 'RAWX' -0.998"},
    };
    const std::string wrappers[][3] = {
        {"ENV", "ENV2{X=1 ", "}"}, {"DNM", "DNM1{X=1 ", "}"}, {"EVF", "EVF2{X=1 ", "}"}};
    program->setrt(44100);
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.probe) + " " + row.section);
        std::string children = row.section;
        for (const auto& wrapper : wrappers)
            if (wrapper[0] == row.probe) children = wrapper[1] + children + wrapper[2];
        CoreNode* element = programElement(children);
        Access::rdmod(*program, element);
        Access::rddsp(*program, element);
        EXPECT_EQ(state(*program, row.probe), row.expected);
    }
    // One debug line per reader: the parameter's section tag; the envelope's curves, the dynamics' and
    // the follower's keys as read, joined by ':'.
    for (const char* debugLine : {">--ZELKIIPRM1<", ">---CURVE:2:-1:2:0<", ">---::E:LFO2:0:-1:0<",
                                  ">---1000:-200::0:0::0:0:OFF:OFF:OFF:OFF:OFF:OFF:0:<",
                                  ">---0:0::0:0::0:0:off::x:ENABLEEATERT:OFF:OFF:OFF:0:<"})
        EXPECT_NE(log().find(debugLine), std::string::npos) << debugLine;
    EXPECT_EQ(log().find(">--EVF5<"), std::string::npos);
}

// "<TAGn>...</TAGn>" of a serialised document, empty when it holds no such section.
std::string sectionText(const std::string& document, const std::string& tag) {
    const size_t start = document.find("<" + tag + ">");
    if (start == std::string::npos) return "";
    const std::string close = "</" + tag + ">";
    return document.substr(start, document.find(close, start) + close.size() - start);
}

// Every committed section and dump entry of one modulator kind (LFO1..., LFO1.SHAPE ...).
std::string modulatorState(CoreProg& p, const std::string& kind) {
    auto target = parse(programText(""));
    const std::string committed = commit(p, *target).c_str();
    std::string state;
    for (int n = 1; n <= 9; ++n) state += sectionText(committed, kind + std::to_string(n));
    for (const auto& [key, value] : dump(p))
        if (key.rfind(kind, 0) == 0 && std::isdigit(static_cast<unsigned char>(key[kind.size()])))
            state += "\n" + key + ": " + value;
    return state;
}

TEST_F(CoreProgSections, AProgramWithoutASectionHoldsWhatAFreshProgramHolds) {
    const struct {
        const char *kind, *section;
    } rows[] = {
        {"LFO", "LFO2{MINRATE=0.5 MAXRATE=2 SOURCE=ENV1 SHAPE=Sine PHASEFACTOR=45 PHASESOURCE=MIX1 "
                "RATEQUANTIZE=0.25}"},
        {"FUN", "FUN3{A=LFO1 B=0.5 FUN=a*b}"},
        {"RAWFUN", "RAWFUN1{A=LFO1 B=ON FUN=RSINGLE C=RAW1 D=RAW1} "
                   "RAW1{ELEMENT{VECTOR{ELEMENT{FILENAME=RAWA.CSV}}}}"},
        // EVF1 is also borrowed by the side chain's EVF5.
        {"EVF", "EVF1{EXP=2 OUTPUTBALANCE=0.7 BUSBALANCESOURCE=MIX3 ENABLEEATERT=1 MINATTACK=1000 "
                "MAXATTACK=20000 ATTACKSOURCE=MIX1 MINRELEASE=10000 MAXRELEASE=500000 RELEASESOURCE=MIX2 "
                "DATTACKSOURCE=LFO1 DRELEASESOURCE=LFO2 OATTACKSOURCE=ENV1 ORELEASESOURCE=ENV2 "
                "FILTERSOURCE=MIX4 FILTERFREQUENCY=0.5 FILTERORDER=4}"},
        {"DNM", "DNM2{RATIOCOMSOURCE=LFO1 THRESHOLDSOURCE=MIX2 INPUTSOURCE=EVF1 RATIOCURVE=3 RANGELIMIT=24 "
                "GAINPADFACTOR=3}"},
        {"ENV", "ENV2{CONTROL{ACTIVSOURCE=EVF1 DEACTIVSOURCE=LFO1} LEVEL{START=0.1 ATTACK=1 BREAK=0.5 "
                "SUSTAIN=0.25 COMMON{MODFACTOR=0.5 MODSOURCE=MIX6}} TIME{ATTACK=10000 DECAY=20000 "
                "SLOPE=30000 RELEASE=40000 COMMON{MODFACTOR=2 MODSOURCE=MIX7}} CURVE{ATTACK=1 DECAY=2 "
                "SLOPE=1 RELEASE=3}}"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.section);
        ASSERT_TRUE(load(*program, programText(row.section)));
        const std::string loaded = modulatorState(*program, row.kind);
        ASSERT_TRUE(load(*program, programText("")));
        auto reference = fresh(Access::programRate(*program));
        EXPECT_NE(loaded, modulatorState(*reference, row.kind)); // the row reached the program
        EXPECT_EQ(modulatorState(*program, row.kind), modulatorState(*reference, row.kind));
        // Re-applying the stored settings (a display edit) brings back nothing of the first program.
        for (CoreProg* p : {program.get(), reference.get()})
            for (int16_t i = 0; i < CoreProg::iCfollowers; ++i) p->getef(i)->rfrvl();
        EXPECT_EQ(modulatorState(*program, row.kind), modulatorState(*reference, row.kind));
    }
}

} // namespace
