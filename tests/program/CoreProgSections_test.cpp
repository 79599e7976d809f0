// The reading rules of the modulator sections and the user parameters, which no writer's document
// shows: absent and unframed keys, truncated and low-16-bit widths, "nan", groups that link only whole,
// missing groups and sections. Rows are read in turn into one program, so absent sections meet what
// earlier rows set. (That every key written is read back: the writers' golden commit.)
#include "ProgramFixtures.h"

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
        {"STEPS", "", "'' 'a' 9off 9off 44 '' ''"},
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
    EXPECT_NE(log().find(">---CURVE:2:-1:2:0<"), std::string::npos);
    EXPECT_EQ(log().find(">--EVF5<"), std::string::npos);
}

} // namespace
