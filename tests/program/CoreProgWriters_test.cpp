// The writers that commit the live program into its document: one whole commit against a golden
// text, then every writer's rules. Committed documents are serialised and read again by load_ over the
// fixture's files; every value of the model must be found again in the reloaded program's dump.
#include "ProgramFixtures.h"
#include "tests/common/DecimalCommaLocale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace progtest;

// Tag texts of the children of a node, in order.
std::vector<std::string> childTags(const CoreNode* node) {
    std::vector<std::string> tags;
    CoreTlst* children = node != nullptr ? node->getcn() : nullptr;
    for (int i = 0; children != nullptr && i < children->Count; ++i)
        tags.push_back(static_cast<CoreNode*>(children->Items[i])->gettx().c_str());
    return tags;
}

std::string valueOf(const CoreNode* node, const char* tag) {
    return node != nullptr ? node->getlc(CoreAnsx(tag)).c_str() : "(no node)";
}

CoreNode* child(const CoreNode* node, const char* tag) {
    return node != nullptr ? node->getcd(CoreAnsx(tag)) : nullptr;
}

// ---- tests ---------------------------------------------------------------------------------------

// Each test starts from a fresh program and the fixture document.
class CoreProgWriters : public LoadTest {
protected:
    // Commits, serialises and reads the text back with load_ over the fixture's files: every value the
    // writers store must come back, as the reloaded program's requests, fade-out, cut and flag for a
    // changed harmonic with an inline vector.
    CoreAnsx commitAndFind(CoreProg& written, CoreXml_& target) {
        const CoreAnsx text = commit(written, target);
        auto reloaded = fresh(Access::programRate(written), INT32_MAX);
        EXPECT_TRUE(load(*reloaded, text.c_str()));
        Dump expected = afterRoundTrip(dump(written), written), found = dump(*reloaded);
        for (Dump* d : {&expected, &found})
            std::erase_if(*d, [&](const auto& entry) {
                const std::string& key = entry.first;
                return (key[0] == 'H' && std::isdigit(key[1])) || key.rfind("RAW", 0) == 0 ||
                       key.rfind("GAINPADINTRIM", 0) == 0 || key.rfind("GAINPADOUTTRIM", 0) == 0 ||
                       key == "GAINIR" || key == "ALIGN" || key == "PROGRAMRATE" || key == "state" ||
                       (key == "VECTORFILENAME" && Access::vectorFileName(written) == CoreAnsx("0"));
            });
        EXPECT_EQ(differences(expected, found), "");
        const CoreProg::HLOC& hybrid = Access::record(written, Access::capacity(written));
        for (int h = 0; h < 3; ++h) {
            SCOPED_TRACE("H" + std::to_string(h + 1));
            const CoreProg::HLOC& record = Access::record(written, h);
            const CoreProg::HLOC& read = Access::record(*reloaded, h);
            const CoreNode* section = programOf(target)->getcd(DataXml_::sCtagrooth_ + CoreAnsx(h + 1));
            if (!record.bValid || !record.bChanged || section == nullptr) continue;
            if (!(written.getfh() && h == 0)) {
                EXPECT_EQ(read.bThirdon, record.bThirdon);
            }
            const CoreNode* root = section->getcd(DataXml_::sCtagelemnt);
            if (root == nullptr || !root->exslc(DataXml_::sCtagvector)) continue;
            const CoreProg::HLOC& third = written.getfh() && h == 0 && hybrid.bValid ? hybrid : record;
            EXPECT_EQ(read.iSecondrequest, record.iSecondsize);
            EXPECT_EQ(read.iFadeout, record.iFadeout);
            EXPECT_EQ(read.iThirdrequest, third.iThirdsize);
            EXPECT_EQ(read.iCut, third.iCut);
        }
        return text;
    }

    std::unique_ptr<CoreProg> model = fixture.make();
    std::unique_ptr<CoreXml_> document = parse(CoreAnsx(fixtureText));
};

TEST_F(CoreProgWriters, WholeCommitMatchesTheGoldenTextAndReadsBackToTheModel) {
    fillModel(*model);
    const CoreAnsx text = commitAndFind(*model, *document);
    const std::string golden = readFile(goldenPath());
    ASSERT_FALSE(golden.empty()) << goldenPath();
    EXPECT_EQ(std::string(text.c_str()) + "\n", golden);

    // A second commit deletes what the first wrote and appends the same again.
    commit(*model, *document);
    EXPECT_EQ(compact(*document), text);
}

TEST_F(CoreProgWriters, UntouchedChildrenComeFirstAndRewrittenOnesFollowInWriterOrder) {
    fillModel(*model);
    commit(*model, *document);
    const std::vector<std::string> expected = {
        "VECTORFILENAME", "SYNCVERSION", "GAINPADINTRIMSOURCE", "GAINPADOUTTRIMSOURCE", "GAINIR",
        "ALIGNBALANCE", "TRAINMODE", "RAWFUN1", "DISPLAY", "H1", "H2", "H3", "RAW1", "CUSTOMNOTE",
        // chgmx
        "MIX1", "MIX2", "MIX3", "GAININ", "GAINOUT",
        // chggl
        "NAME", "CATEGORY", "SUBCATEGORY1", "SUBCATEGORY2", "DESCRIPTION", "GAINPADIN", "GAINPADOUT",
        "LOOKAHEAD", "FEEDBACKFACTOR", "FEEDBACKSOURCE", "LOOKAHEADSOURCE", "GAINDRYFACTOR", "SMOOTH",
        "FORCEOT2", "INVISIBLETHREAD", "FORCEHYBRID", "FORCEMONO", "HDIM",
        // chglf (LFO4 untouched and absent), chgpr, chgfn, chgef, chgen, chgdy
        "LFO1", "LFO2", "LFO3", "PROGRAMRATE", "FUN1", "FUN2", "FUN3", "FUN4", "FUN5", "FUN6", "FUN7", "FUN8",
        "EVF1", "EVF2", "EVF3", "EVF4", "EVF5", "ENV1", "ENV2", "DNM1", "DNM2"};
    EXPECT_EQ(childTags(programOf(*document)), expected);
    // The untouched elements keep their values; MIX5 went with its control's validity; the dry
    // source went because the control is fixed at 1.0.
    const CoreNode* p = programOf(*document);
    EXPECT_EQ(valueOf(p, "GAINIR"), "-1.5");
    EXPECT_EQ(valueOf(p, "SYNCVERSION"), "2");
    EXPECT_EQ(valueOf(p, "TRAINMODE"), "1");
    EXPECT_EQ(valueOf(p, "CUSTOMNOTE"), "kept as it is");
    EXPECT_EQ(valueOf(child(p, "RAWFUN1"), "C"), "RAWA");
    EXPECT_EQ(valueOf(p, "VECTORFILENAME"), "HALLS.XML");
    EXPECT_FALSE(p->exsnc(CoreAnsx("MIX5")));
    EXPECT_FALSE(p->exsnc(CoreAnsx("GAINDRYSOURCE")));
    // DISPLAY stays in place; ZELKIIPRM3 is rebuilt under its own name and PRM3 keeps its text.
    const std::vector<std::string> display = childTags(child(p, "DISPLAY"));
    ASSERT_EQ(display.size(), 17u);
    EXPECT_EQ(display[0], "PRM3");
    EXPECT_EQ(valueOf(child(child(p, "DISPLAY"), "PRM3"), "LABEL"), "Ignored");
    EXPECT_EQ(valueOf(child(child(p, "DISPLAY"), "ZELKIIPRM3"), "LABEL"), "Tone");
}

TEST_F(CoreProgWriters, HeaderAndGlobalValuesFollowTheirEncodings) {
    model->setvf(CoreAnsx("0"));
    model->setpi(0.0);
    model->setpo(1.0);
    model->setff(0.25);
    model->chggl(document.get());
    const CoreNode* p = programOf(*document);
    EXPECT_EQ(valueOf(p, "VECTORFILENAME"), "HALLS.XML");
    EXPECT_EQ(valueOf(p, "GAINPADIN"), "-192.64");
    EXPECT_EQ(valueOf(p, "GAINPADOUT"), "0");
    EXPECT_EQ(valueOf(p, "FEEDBACKFACTOR"), "25");

    model->setvf(CoreAnsx("OTHER.XML"));
    model->setnm(CoreAnsx("New"));
    model->setct(CoreAnsx("Cat"), 0);
    model->setct(CoreAnsx("Sub1"), 1);
    model->setct(CoreAnsx("Sub2"), 2);
    model->setds(CoreAnsx("Desc"));
    model->chggl(document.get());
    EXPECT_EQ(valueOf(p, "VECTORFILENAME"), "OTHER.XML");
    EXPECT_EQ(valueOf(p, "NAME"), "New");
    EXPECT_EQ(valueOf(p, "CATEGORY"), "Cat");
    EXPECT_EQ(valueOf(p, "SUBCATEGORY1"), "Sub1");
    EXPECT_EQ(valueOf(p, "SUBCATEGORY2"), "Sub2");
    EXPECT_EQ(valueOf(p, "DESCRIPTION"), "Desc");
}

TEST_F(CoreProgWriters, ChangedHarmonicsGetTheStagedFormAndOthersStayAsTheyWere) {
    model->setrt(44100);
    setRecord(*model, 0, true, 441, 44, 44100, 4410, false);
    setRecord(*model, 1, false, 1, 2, 3, 4, true);
    const CoreNode* p = programOf(*document);
    auto text = [](const CoreNode* node) { return std::string(node->debug(0, node).c_str()); };
    const std::string h2Before = text(child(p, "H2"));
    const std::string h3Before = text(child(p, "H3"));

    model->chggl(document.get());
    // Record 0: FORCEOT2 deleted (third stage off), flat LENGTH/FADEOUT gone, OT1/OT2 appended.
    const CoreNode* h1 = child(p, "H1");
    EXPECT_FALSE(h1->exsnc(CoreAnsx("FORCEOT2")));
    const CoreNode* common = child(child(child(h1, "ELEMENT"), "VECTOR"), "COMMON");
    EXPECT_EQ(childTags(common),
              (std::vector<std::string>{"MINVALUE", "MAXVALUE", "LIQUIDSOURCE", "OT1", "OT2"}));
    EXPECT_EQ(valueOf(child(common, "OT1"), "LENGTH"), "10000");
    EXPECT_EQ(valueOf(child(common, "OT1"), "FADEOUT"), "998");
    EXPECT_EQ(valueOf(child(common, "OT2"), "LENGTH"), "1000000");
    EXPECT_EQ(valueOf(child(common, "OT2"), "FADEOUT"), "100000");
    EXPECT_EQ(valueOf(child(h1, "ELEMENT"), "TRAINTHRESHOLD"), "-6");
    // Not marked changed, or not in use: exactly as before.
    EXPECT_EQ(text(child(p, "H2")), h2Before);
    EXPECT_EQ(text(child(p, "H3")), h3Before);
    EXPECT_TRUE(Access::record(*model, 0).bChanged);

    // Third stage on: FORCEOT2 "1"; the old OT1/OT2 are replaced, not duplicated.
    Access::record(*model, 0).bThirdon = true;
    Access::record(*model, 0).iSecondsize = 882;
    model->chggl(document.get());
    EXPECT_EQ(valueOf(h1, "FORCEOT2"), "1");
    EXPECT_EQ(childTags(common),
              (std::vector<std::string>{"MINVALUE", "MAXVALUE", "LIQUIDSOURCE", "OT1", "OT2"}));
    EXPECT_EQ(valueOf(child(common, "OT1"), "LENGTH"), "20000");
}

TEST_F(CoreProgWriters, ForceHybridTakesTheFirstHarmonicsThirdStageFromTheHybridRecord) {
    fillModel(*model); // the fixture's program, as edited
    model->setrt(48000);
    setRecord(*model, 0, true, 480, 48, 4800, 480, false);
    setRecord(*model, 3, false, 0, 0, 96000, 9600, false); // the hybrid record
    model->setfh(true);
    Access::record(*model, 0).iThirdsize = 4800; // setfh copied the hybrid sizes; keep them apart
    Access::record(*model, 0).iCut = 480;
    commitAndFind(*model, *document);
    const CoreNode* common =
        child(child(child(child(programOf(*document), "H1"), "ELEMENT"), "VECTOR"), "COMMON");
    EXPECT_EQ(valueOf(child(common, "OT2"), "LENGTH"), "2000000");
    EXPECT_EQ(valueOf(child(common, "OT2"), "FADEOUT"), "200000");
    EXPECT_EQ(valueOf(child(common, "OT1"), "LENGTH"), "10000");

    // Without a hybrid record in use, the record's own third stage.
    Access::record(*model, 3).bValid = false;
    model->chggl(document.get());
    EXPECT_EQ(valueOf(child(common, "OT2"), "LENGTH"), "100000");
}

TEST_F(CoreProgWriters, VectorFileHarmonicKeepsItsElementButGetsItsForceFlag) {
    setRecord(*model, 2, true, 4800, 960, 96000, 9600, true);
    const CoreNode* h3 = child(programOf(*document), "H3");
    const std::string before = child(h3, "ELEMENT")->debug(0, child(h3, "ELEMENT")).c_str();
    model->chggl(document.get());
    EXPECT_EQ(std::string(child(h3, "ELEMENT")->debug(0, child(h3, "ELEMENT")).c_str()), before);
    EXPECT_FALSE(child(h3, "ELEMENT")->exsnc(CoreAnsx("VECTOR")));
    EXPECT_EQ(valueOf(h3, "FORCEOT2"), "1");
    Access::record(*model, 2).bThirdon = false;
    model->chggl(document.get());
    EXPECT_FALSE(h3->exsnc(CoreAnsx("FORCEOT2")));
}

TEST_F(CoreProgWriters, MixValuesGainsAndProgramRate) {
    for (int i = 0; i < 8; ++i) model->getif(i)->setiv(-1.0, false, true);
    model->getif(1)->setiv(0.75, true, true);
    model->getif(8)->setiv(0.75, true, true);
    model->getif(9)->setiv(0.0, true, true);
    model->chgmx(document.get());
    const CoreNode* p = programOf(*document);
    for (const char* gone : {"MIX1", "MIX3", "MIX5"}) EXPECT_FALSE(p->exsnc(CoreAnsx(gone))) << gone;
    EXPECT_EQ(valueOf(p, "MIX2"), "0.75");
    EXPECT_EQ(valueOf(p, "GAININ"), std::string(CoreAnsx(20.0 * std::log10(1.5)).c_str()));
    EXPECT_EQ(valueOf(p, "GAINOUT"), "-192.64");

    model->chgpr(document.get(), true, 3000);
    EXPECT_EQ(valueOf(p, "PROGRAMRATE"), "3000");
    model->chgpr(document.get(), false, 3000);
    EXPECT_FALSE(p->exsnc(CoreAnsx("PROGRAMRATE")));
}

TEST_F(CoreProgWriters, LfoSectionsFollowTheTableAndKeepEveryEdit) {
    fillModel(*model); // the fixture's program, as edited
    model->getlf(0)->setvl(0.5, 2.0, 0.0, CoreAnsx(""), CoreAnsx("Sine"), 10.0, CoreAnsx("LFO2"));
    model->getlf(1)->setvl(1.0, 4.0, 0.5, CoreAnsx("ENV1"), CoreAnsx("Triang"), 0.0, CoreAnsx("NULL"));
    // LFO3 as a missing section leaves it, with each empty shape spelling: never written.
    const CoreNode* p = programOf(*document);
    for (const char* shape : {"", "0", "NULL"}) {
        SCOPED_TRACE(std::string("shape '") + shape + "'");
        model->getlf(2)->setvl(0.0, 0.0, 0.0, CoreAnsx(""), CoreAnsx(shape), 0.0, CoreAnsx(""));
        model->chglf(document.get());
        EXPECT_EQ(valueOf(child(p, "LFO3"), "SHAPE"), "NULL");
        EXPECT_EQ(valueOf(child(p, "LFO3"), "MINRATE"), "0");
        EXPECT_FALSE(p->exsnc(CoreAnsx("LFO4")));
    }
    EXPECT_EQ(childTags(child(p, "LFO1")),
              (std::vector<std::string>{"MINRATE", "MAXRATE", "SHAPE", "PHASEFACTOR", "PHASESOURCE",
                                        "RATEQUANTIZE"}));
    EXPECT_EQ(valueOf(child(p, "LFO1"), "RATEQUANTIZE"), "0");
    EXPECT_EQ(valueOf(child(p, "LFO1"), "PHASESOURCE"), "LFO2");
    EXPECT_EQ(childTags(child(p, "LFO2")), (std::vector<std::string>{"MINRATE", "MAXRATE", "SOURCE", "SHAPE",
                                                                     "PHASEFACTOR", "RATEQUANTIZE"}));
    EXPECT_EQ(valueOf(child(p, "LFO2"), "SOURCE"), "ENV1");

    // Any edit of an LFO without a shape key: written with the shape it plays.
    const struct {
        double minimum, maximum, quantise, phase;
        const char *rate, *phaseSource;
    } edits[] = {{0.0, 3.0, 0.0, 0.0, "", ""},
                 {0.0, 0.0, 0.5, 0.0, "", ""},
                 {0.0, 0.0, 0.0, 30.0, "", ""},
                 {0.0, 0.0, 0.0, 0.0, "MIX1", ""},
                 {0.0, 0.0, 0.0, 0.0, "", "MIX2"}};
    for (const auto& edit : edits) {
        auto editedDocument = parse(CoreAnsx(fixtureText));
        model->getlf(3)->setvl(edit.minimum, edit.maximum, edit.quantise, CoreAnsx(edit.rate), CoreAnsx(""),
                               edit.phase, CoreAnsx(edit.phaseSource));
        commitAndFind(*model, *editedDocument);
        EXPECT_EQ(valueOf(child(programOf(*editedDocument), "LFO4"), "SHAPE"), "Sine");
    }
}

TEST_F(CoreProgWriters, FunctionSectionsWriteAllEightWithConstantsInFixedForm) {
    fillModel(*model); // the fixture's program, as edited
    model->getfn(0)->setvl(CoreAnsx("0"), CoreAnsx("-0.25"), CoreAnsx("a-b"));
    model->getfn(7)->setvl(CoreAnsx("LFO4"), CoreAnsx("0.0"), CoreAnsx("max(a,b)"));
    commitAndFind(*model, *document);
    const CoreNode* p = programOf(*document);
    for (int i = 1; i <= 8; ++i) EXPECT_TRUE(p->exsnc(CoreAnsx("FUN") + CoreAnsx(i))) << i;
    const CoreNode* fun8 = child(p, "FUN8");
    EXPECT_EQ(childTags(fun8), (std::vector<std::string>{"A", "B", "FUN"}));
    EXPECT_EQ(valueOf(fun8, "B"), "0.0000000000");
    EXPECT_EQ(valueOf(fun8, "FUN"), "max(a,b)");
    EXPECT_EQ(valueOf(child(p, "FUN1"), "B"), "-0.2500000000");
}

TEST_F(CoreProgWriters, FollowerGroupsAppearWholeAndOnlyWhileLinked) {
    fillModel(*model); // the fixture's program, as edited
    model->setrt(44100);
    model->getef(0)->setvl(44, 441, CoreAnsx("MIX1"), 441, 4410, CoreAnsx("MIX2"), 0.5, 3, false,
                           CoreAnsx("OFF"), false, CoreAnsx("OFF"), CoreAnsx("OFF"), false, 44100.0, false,
                           CoreAnsx("OFF"), CoreAnsx("OFF"), false, 0.0, 1, CoreAnsx("OFF"));
    model->getef(1)->setvl(44, 441, CoreAnsx(""), 441, 4410, CoreAnsx(""), -1.0, 5, true, CoreAnsx("MIX3"),
                           true, CoreAnsx("LFO1"), CoreAnsx("LFO2"), true, 44100.0, true, CoreAnsx("ENV1"),
                           CoreAnsx("ENV2"), true, 0.25, 3, CoreAnsx("MIX4"));
    // Dynamic attack linked, release "OFF": not linked as a whole, so nothing of the group.
    model->getef(2)->setvl(0, 0, CoreAnsx(""), 0, 0, CoreAnsx(""), 0.0, 0, false, CoreAnsx("OFF"), false,
                           CoreAnsx("LFO1"), CoreAnsx("OFF"), false, 44100.0, false, CoreAnsx("OFF"),
                           CoreAnsx("OFF"), false, 0.0, 1, CoreAnsx("OFF"));
    commitAndFind(*model, *document);
    const CoreNode* p = programOf(*document);
    const std::vector<std::string> plain = {"EXP",        "OUTPUTBALANCE", "ENABLEEATERT",
                                            "MINATTACK",  "MAXATTACK",     "ATTACKSOURCE",
                                            "MINRELEASE", "MAXRELEASE",    "RELEASESOURCE"};
    EXPECT_EQ(childTags(child(p, "EVF1")), plain);
    EXPECT_EQ(childTags(child(p, "EVF3")), plain);
    EXPECT_EQ(
        childTags(child(p, "EVF2")),
        (std::vector<std::string>{"EXP", "OUTPUTBALANCE", "BUSBALANCESOURCE", "FILTERSOURCE",
                                  "FILTERFREQUENCY", "FILTERORDER", "DATTACKSOURCE", "DRELEASESOURCE",
                                  "ENABLEEATERT", "OATTACKSOURCE", "ORELEASESOURCE", "MINATTACK", "MAXATTACK",
                                  "ATTACKSOURCE", "MINRELEASE", "MAXRELEASE", "RELEASESOURCE"}));
    EXPECT_EQ(valueOf(child(p, "EVF2"), "FILTERORDER"), "3");
    EXPECT_EQ(valueOf(child(p, "EVF1"), "MINATTACK"), "998");
}

TEST_F(CoreProgWriters, EnvelopeBlocksInOrderWithFactorsInTheirOwnCommon) {
    fillModel(*model); // the fixture's program, as edited
    const double levels[4] = {0.125, 1.0, 0.75, 0.5};
    const int32_t times[4] = {441, 4410, 44100, 1};
    const int16_t curves[4] = {0, 1, 5, -2};
    model->setrt(44100);
    model->geten(1)->setvl(CoreAnsx("LFO1"), CoreAnsx("LFO2"), levels, times, curves, 0.5, CoreAnsx("MIX1"),
                           2.0, CoreAnsx("MIX2"));
    commitAndFind(*model, *document);
    const CoreNode* env = child(programOf(*document), "ENV2");
    EXPECT_EQ(childTags(env), (std::vector<std::string>{"CONTROL", "LEVEL", "TIME", "CURVE"}));
    EXPECT_EQ(childTags(child(env, "LEVEL")),
              (std::vector<std::string>{"START", "ATTACK", "BREAK", "SUSTAIN", "COMMON"}));
    EXPECT_EQ(childTags(child(env, "TIME")),
              (std::vector<std::string>{"ATTACK", "DECAY", "SLOPE", "RELEASE", "COMMON"}));
    EXPECT_EQ(childTags(child(env, "CURVE")),
              (std::vector<std::string>{"ATTACK", "DECAY", "SLOPE", "RELEASE"}));
    EXPECT_EQ(valueOf(child(child(env, "LEVEL"), "COMMON"), "MODFACTOR"), "0.5");
    EXPECT_EQ(valueOf(child(child(env, "TIME"), "COMMON"), "MODFACTOR"), "2");
    EXPECT_EQ(valueOf(child(child(env, "TIME"), "COMMON"), "MODSOURCE"), "MIX2");
    EXPECT_EQ(valueOf(child(env, "TIME"), "ATTACK"), "10000");
    EXPECT_EQ(valueOf(child(env, "TIME"), "RELEASE"), "23");
    EXPECT_EQ(valueOf(child(env, "CURVE"), "RELEASE"), "-2");
}

TEST_F(CoreProgWriters, DynamicsWriteOneRatioElementAndTheCurveAsItsIndex) {
    fillModel(*model); // the fixture's program, as edited
    const struct {
        bool compress, curveOn;
        int16_t index;
        const char* ratioTag;
        const char* curve; // null: no RATIOCURVE element
    } cases[] = {{false, true, 3, "RATIOEXPSOURCE", "3"},
                 {true, true, 0, "RATIOCOMSOURCE", "0"},
                 {true, true, 8, "RATIOCOMSOURCE", "8"},
                 {true, false, -1, "RATIOCOMSOURCE", nullptr},
                 {false, false, 2, "RATIOEXPSOURCE", nullptr}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.ratioTag) + " index " + std::to_string(c.index));
        document = parse(CoreAnsx(fixtureText));
        model->getdy(0)->setvl(CoreAnsx("MIX1"), CoreAnsx("EVF1"), c.compress, CoreAnsx("LFO3"), c.curveOn,
                               c.index, 18.0, -2.5);
        commitAndFind(*model, *document);
        const CoreNode* dnm = child(programOf(*document), "DNM1");
        std::vector<std::string> tags = {c.ratioTag, "THRESHOLDSOURCE", "INPUTSOURCE"};
        if (c.curve != nullptr) tags.push_back("RATIOCURVE");
        tags.insert(tags.end(), {"RANGELIMIT", "GAINPADFACTOR"});
        EXPECT_EQ(childTags(dnm), tags);
        if (c.curve != nullptr) {
            EXPECT_EQ(valueOf(dnm, "RATIOCURVE"), c.curve);
        }
    }
}

TEST_F(CoreProgWriters, ParameterSectionsUnderDisplay) {
    fillModel(*model); // the fixture's program, as edited
    model->getpm(0)->setvl(true, CoreAnsx("MIX1"), CoreAnsx("0.5"), CoreAnsx("a+b"), CoreAnsx("Size"),
                           CoreAnsx(""), CoreAnsx("m"), CoreAnsx(""), CoreAnsx(""), 0.0, 1.0, 0.25, 0.75);
    model->getpm(4)->setvl(true, CoreAnsx("MIX1"), CoreAnsx(""), CoreAnsx("a"), CoreAnsx("Hidden"),
                           CoreAnsx(""), CoreAnsx(""), CoreAnsx(""), CoreAnsx(""), 0.0, 1.0, 0.0, 1.0);
    model->getpm(4)->setds(false);

    // A document without DISPLAY gains one with all sixteen sections.
    CoreXml_ bare;
    commit(*model, bare);
    const CoreNode* display = child(programOf(bare), "DISPLAY");
    ASSERT_NE(display, nullptr);
    ASSERT_EQ(childTags(display).size(), 16u);
    EXPECT_EQ(childTags(child(display, "PRM1")),
              (std::vector<std::string>{"PRELABEL", "LABEL", "PREUNIT", "POSTUNIT", "UNIT", "MINVALUE",
                                        "MAXVALUE", "BARMINVALUE", "BARMAXVALUE", "A", "B", "FUN"}));
    EXPECT_EQ(valueOf(child(display, "PRM5"), "VISIBLE"), "0");
    EXPECT_EQ(valueOf(child(display, "PRM16"), "VISIBLE"), "0"); // not defined
    EXPECT_EQ(valueOf(child(display, "PRM1"), "B"), "0.5000000000");

    // A present ZELKIIPRM section takes the edits; PRM stays as it was; no ZELKIIPRM is made.
    model->getpm(2)->setvl(true, CoreAnsx("MIX3"), CoreAnsx("OFF"), CoreAnsx("a"), CoreAnsx("Tone 2"),
                           CoreAnsx(""), CoreAnsx(""), CoreAnsx(""), CoreAnsx(""), 0.0, 2.0, 0.0, 2.0);
    commitAndFind(*model, *document);
    display = child(programOf(*document), "DISPLAY");
    EXPECT_EQ(valueOf(child(display, "ZELKIIPRM3"), "LABEL"), "Tone 2");
    EXPECT_EQ(valueOf(child(display, "PRM3"), "LABEL"), "Ignored");
    int zelkii = 0;
    for (const std::string& tag : childTags(display)) zelkii += tag.rfind("ZELKIIPRM", 0) == 0 ? 1 : 0;
    EXPECT_EQ(zelkii, 1);
}

TEST_F(CoreProgWriters, TimesReadBackToTheSameSampleCountsAtEveryRate) {
    const int32_t counts[] = {0, 1, 2, 44, 441, 999, 1000, 99999, 100000, 1000000, -200};
    for (int32_t rate : {8000, 44100, 48000, 96000, 192000}) {
        for (int32_t count : counts) {
            SCOPED_TRACE(std::to_string(count) + " samples at " + std::to_string(rate) + " Hz");
            model = fixture.make();
            fillModel(*model); // the fixture's program, as edited
            document = parse(CoreAnsx(fixtureText));
            model->setrt(rate);
            model->getef(3)->setvl(count, count, CoreAnsx(""), count, count, CoreAnsx(""), 0.0, 0, false,
                                   CoreAnsx("OFF"), false, CoreAnsx("OFF"), CoreAnsx("OFF"), false, rate,
                                   false, CoreAnsx("OFF"), CoreAnsx("OFF"), false, 0.0, 1, CoreAnsx("OFF"));
            const double levels[4] = {0.0, 1.0, 0.5, 0.5};
            const int32_t times[4] = {count, count, count, count};
            const int16_t curves[4] = {0, 0, 0, 0};
            model->geten(0)->setvl(CoreAnsx("ON"), CoreAnsx("OFF"), levels, times, curves, 1.0, CoreAnsx(""),
                                   1.0, CoreAnsx(""));
            // A reloaded record keeps a fade of at least one sample and sizes its kernels by the stages.
            if (count >= 1 && count <= 100000) setRecord(*model, 1, true, count, count, count, count, false);
            commitAndFind(*model, *document);
        }
    }
    // At a program rate below 1 the counts are written unchanged.
    CoreXml_ rateless;
    model = fixture.make();
    model->setrt(0);
    model->getef(0)->setvl(441, 1000, CoreAnsx(""), 1, -200, CoreAnsx(""), 0.0, 0, false, CoreAnsx("OFF"),
                           false, CoreAnsx("OFF"), CoreAnsx("OFF"), false, 0.0, false, CoreAnsx("OFF"),
                           CoreAnsx("OFF"), false, 0.0, 1, CoreAnsx("OFF"));
    model->chgef(&rateless);
    const CoreNode* evf = child(programOf(rateless), "EVF1");
    EXPECT_EQ(valueOf(evf, "MINATTACK"), "441");
    EXPECT_EQ(valueOf(evf, "MAXATTACK"), "1000");
    EXPECT_EQ(valueOf(evf, "MINRELEASE"), "1");
    EXPECT_EQ(valueOf(evf, "MAXRELEASE"), "-200");
}

TEST_F(CoreProgWriters, DocumentsWithoutRootOrProgramGetThem) {
    CoreXml_ rootless;
    model->chgpr(&rootless, false, 0);
    EXPECT_EQ(rootless.getrt(), nullptr);
    commit(*model, rootless);
    ASSERT_NE(rootless.getrt(), nullptr);
    EXPECT_EQ(std::string(rootless.getrt()->gettx().c_str()), "ROOT");
    EXPECT_EQ(childTags(rootless.getrt()), std::vector<std::string>{"PROGRAM"});

    auto other = parse(CoreAnsx("<OTHER> x </OTHER>"));
    commit(*model, *other);
    EXPECT_EQ(childTags(other->getrt()), (std::vector<std::string>{"OTHER", "PROGRAM"}));
    model->chgmx(nullptr); // nothing to write into, nothing to crash
}

TEST_F(CoreProgWriters, RepeatedContainersAreEditedWhereTheReaderLooks) {
    fillModel(*model); // the fixture's program, as edited
    model->setrt(44100);
    setRecord(*model, 0, true, 441, 441, 4410, 441, true);
    model->setnm(CoreAnsx("Second"));
    model->getpm(0)->setvl(true, CoreAnsx("MIX1"), CoreAnsx(""), CoreAnsx("a"), CoreAnsx("Last"),
                           CoreAnsx(""), CoreAnsx(""), CoreAnsx(""), CoreAnsx(""), 0.0, 1.0, 0.0, 1.0);
    document =
        parse(CoreAnsx("<PROGRAM><NAME>first</NAME></PROGRAM>"
                       "<PROGRAM><NAME>old</NAME><DISPLAY><PRM1><LABEL>a</LABEL></PRM1></DISPLAY>"
                       "<DISPLAY><PRM1><LABEL>b</LABEL></PRM1></DISPLAY>"
                       "<H1><ELEMENT><VECTOR><COMMON><LENGTH>1</LENGTH></COMMON></VECTOR></ELEMENT></H1>"
                       "<H1><ELEMENT><VECTOR><COMMON><LENGTH>1</LENGTH></COMMON></VECTOR></ELEMENT>"
                       "<ELEMENT><VECTOR><COMMON><LENGTH>2</LENGTH></COMMON></VECTOR>"
                       "<VECTOR><COMMON><LENGTH>3</LENGTH></COMMON><COMMON><LENGTH>4</LENGTH></COMMON></"
                       "VECTOR></ELEMENT></H1>"
                       "</PROGRAM>"));
    const std::string firstProgram = "<PROGRAM><NAME> first </NAME></PROGRAM>";
    commitAndFind(*model, *document);
    const std::string text = compact(*document).c_str();
    EXPECT_EQ(text.substr(0, firstProgram.size()), firstProgram);
    const CoreNode* p = programOf(*document);
    EXPECT_EQ(valueOf(p, "NAME"), "Second");
    EXPECT_EQ(valueOf(child(child(p, "DISPLAY"), "PRM1"), "LABEL"), "Last");
    const std::vector<std::string> displays = childTags(p);
    EXPECT_EQ(std::count(displays.begin(), displays.end(), "DISPLAY"), 2);
    const CoreNode* lastCommon = child(child(child(child(p, "H1"), "ELEMENT"), "VECTOR"), "COMMON");
    EXPECT_EQ(childTags(lastCommon), (std::vector<std::string>{"OT1", "OT2"}));
    // Every other COMMON keeps its flat LENGTH.
    const std::string lengths = text;
    for (const char* kept : {"<LENGTH> 1 </LENGTH>", "<LENGTH> 2 </LENGTH>", "<LENGTH> 3 </LENGTH>"})
        EXPECT_NE(lengths.find(kept), std::string::npos) << kept;
    EXPECT_EQ(lengths.find("<LENGTH> 4 </LENGTH>"), std::string::npos);
}

TEST_F(CoreProgWriters, AngleBracketsInUserTextsCannotBreakTheDocument) {
    model->setnm(CoreAnsx("A<B>"));
    model->getpm(0)->setvl(true, CoreAnsx("MIX1"), CoreAnsx(""), CoreAnsx("a"), CoreAnsx("<x"), CoreAnsx(""),
                           CoreAnsx(""), CoreAnsx(""), CoreAnsx(""), 0.0, 1.0, 0.0, 1.0);
    commit(*model, *document);
    // The name as a user typed it is in the tree; the writer of the XML turns '<' into '('.
    auto reread = parse(compact(*document));
    const CoreNode* p = programOf(*reread);
    EXPECT_EQ(valueOf(p, "NAME"), " A(B> ");
    EXPECT_EQ(valueOf(child(child(p, "DISPLAY"), "PRM1"), "LABEL"), " (x ");
    EXPECT_EQ(childTags(p), childTags(programOf(*document)));
    EXPECT_EQ(valueOf(p, "CUSTOMNOTE"), " kept as it is ");
}

TEST_F(CoreProgWriters, NumbersUseADotUnderADecimalCommaLocale) {
    DecimalCommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no decimal-comma locale available";
    fillModel(*model);
    const CoreAnsx text = commitAndFind(*model, *document);
    EXPECT_EQ(std::string(text.c_str()) + "\n", readFile(goldenPath()));
}

} // namespace
