// The writers that commit the live program into its document: one whole commit against a golden
// text, then every writer's rules. Committed documents are always serialised and parsed again, and
// then read by an oracle that applies the program reader's rules (presence by the raw leaf text, dB,
// percent, microseconds truncated then tpfup, RATIOCURVE as the index, link flags from "OFF").
// Modulator sections land in a second program through the modulators' own setters, the rest in
// plain fields; every value of the model must be found again.
#include "program/CoreProg.h"

#include "CoreProgTestAccess.h"
#include "base/CoreBlnk.h"
#include "base/CoreButl.h"
#include "base/CoreNode.h"
#include "base/CorePool.h"
#include "base/CoreXml_.h"
#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreGfun.h"
#include "modulation/CoreIfce.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CoreParm.h"
#include "modulation/CorePrm_.h"
#include "modulation/DataGfun.h"
#include "program/DataXml_.h"
#include "tests/common/DecimalCommaLocale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Access = CoreProgTestAccess;

// "%G" keeps six significant digits: values that pass through dB come back that close.
constexpr double relativeDigits = 1e-5;

// ---- the fixture document ------------------------------------------------------------------------

// Every kind of section: header, globals, MIX values, two harmonics with inline vectors (H1 in the
// flat LENGTH/FADEOUT form, H2 in the OT1/OT2 form), one harmonic whose ELEMENT names a vector file,
// RAW and RAWFUN sections, the modulator sections, DISPLAY with a ZELKIIPRM section, and an element
// no writer knows. TRAINTHRESHOLD stands under ELEMENT in H1 and under Hn in H2, as both kinds of
// file exist.
const char* const fixtureText = R"(<PROGRAM>
<NAME>Fixture Hall</NAME>
<CATEGORY>Reverb</CATEGORY>
<SUBCATEGORY1>Halls</SUBCATEGORY1>
<SUBCATEGORY2>Large</SUBCATEGORY2>
<DESCRIPTION>Written by hand</DESCRIPTION>
<VECTORFILENAME>HALLS.XML</VECTORFILENAME>
<SYNCVERSION>2</SYNCVERSION>
<MIX1>0.5</MIX1><MIX2>-0.5</MIX2><MIX3>0.25</MIX3><MIX5>1</MIX5>
<GAINOUT>-6</GAINOUT><GAININ>3</GAININ>
<GAINPADOUT>-3</GAINPADOUT><GAINPADIN>-1</GAINPADIN>
<GAINPADINTRIMSOURCE>LFO1</GAINPADINTRIMSOURCE><GAINPADOUTTRIMSOURCE>ENV1</GAINPADOUTTRIMSOURCE>
<GAINIR>-1.5</GAINIR>
<LOOKAHEAD>500</LOOKAHEAD><LOOKAHEADSOURCE>ON</LOOKAHEADSOURCE>
<PROGRAMRATE>5000</PROGRAMRATE>
<ALIGNBALANCE>0.5</ALIGNBALANCE><TRAINMODE>1</TRAINMODE>
<FORCEOT2>1</FORCEOT2><INVISIBLETHREAD>0</INVISIBLETHREAD><FORCEHYBRID>0</FORCEHYBRID><FORCEMONO>0</FORCEMONO>
<HDIM>3</HDIM>
<FEEDBACKFACTOR>10</FEEDBACKFACTOR><FEEDBACKSOURCE>LFO2</FEEDBACKSOURCE>
<GAINDRYFACTOR>-12</GAINDRYFACTOR><GAINDRYSOURCE>ON</GAINDRYSOURCE>
<SMOOTH>1</SMOOTH>
<LFO1><MINRATE>0.5</MINRATE><MAXRATE>2</MAXRATE><SOURCE>ENV1</SOURCE><SHAPE>Sine</SHAPE><PHASEFACTOR>0</PHASEFACTOR><RATEQUANTIZE>0</RATEQUANTIZE></LFO1>
<LFO2><MINRATE>1</MINRATE><MAXRATE>4</MAXRATE><SOURCE>NULL</SOURCE><SHAPE>Triang</SHAPE><PHASEFACTOR>45</PHASEFACTOR><PHASESOURCE>MIX1</PHASESOURCE><RATEQUANTIZE>0.25</RATEQUANTIZE></LFO2>
<LFO3><MINRATE>0</MINRATE><MAXRATE>0</MAXRATE><SOURCE>NULL</SOURCE><SHAPE>NULL</SHAPE><PHASEFACTOR>0</PHASEFACTOR><RATEQUANTIZE>0</RATEQUANTIZE></LFO3>
<RAWFUN1><A>LFO1</A><B>ON</B><FUN>RSINGLE</FUN><C>RAWA</C><D>RAWB</D></RAWFUN1>
<FUN1><A>LFO1</A><B>0.5000000000</B><FUN>a*b</FUN></FUN1>
<FUN2><A>ENV1</A><B>OFF</B><FUN>a</FUN></FUN2>
<EVF1><EXP>1</EXP><OUTPUTBALANCE>0.5</OUTPUTBALANCE><BUSBALANCESOURCE>MIX3</BUSBALANCESOURCE><ENABLEEATERT>1</ENABLEEATERT><MINATTACK>1000</MINATTACK><MAXATTACK>20000</MAXATTACK><ATTACKSOURCE>MIX1</ATTACKSOURCE><MINRELEASE>10000</MINRELEASE><MAXRELEASE>500000</MAXRELEASE><RELEASESOURCE>MIX2</RELEASESOURCE></EVF1>
<EVF2><EXP>2</EXP><OUTPUTBALANCE>0</OUTPUTBALANCE><ENABLEEATERT>0</ENABLEEATERT><MINATTACK>100</MINATTACK><MAXATTACK>100</MAXATTACK><ATTACKSOURCE></ATTACKSOURCE><MINRELEASE>100</MINRELEASE><MAXRELEASE>100</MAXRELEASE><RELEASESOURCE></RELEASESOURCE></EVF2>
<DNM1><RATIOCOMSOURCE>LFO1</RATIOCOMSOURCE><THRESHOLDSOURCE>MIX2</THRESHOLDSOURCE><INPUTSOURCE>EVF1</INPUTSOURCE><RATIOCURVE>1</RATIOCURVE><RANGELIMIT>24</RANGELIMIT><GAINPADFACTOR>3</GAINPADFACTOR></DNM1>
<ENV1><CONTROL><ACTIVSOURCE>EVF1</ACTIVSOURCE><DEACTIVSOURCE>OFF</DEACTIVSOURCE></CONTROL><LEVEL><START>0</START><ATTACK>1</ATTACK><BREAK>0.5</BREAK><SUSTAIN>0.25</SUSTAIN><COMMON><MODFACTOR>1</MODFACTOR><MODSOURCE>ON</MODSOURCE></COMMON></LEVEL><TIME><ATTACK>10000</ATTACK><DECAY>20000</DECAY><SLOPE>30000</SLOPE><RELEASE>40000</RELEASE><COMMON><MODFACTOR>1</MODFACTOR><MODSOURCE>ON</MODSOURCE></COMMON></TIME><CURVE><ATTACK>1</ATTACK><DECAY>2</DECAY><SLOPE>1</SLOPE><RELEASE>3</RELEASE></CURVE></ENV1>
<DISPLAY>
<PRM1><PRELABEL>Room</PRELABEL><LABEL>Size</LABEL><PREUNIT></PREUNIT><POSTUNIT></POSTUNIT><UNIT>m</UNIT><MINVALUE>1</MINVALUE><MAXVALUE>10</MAXVALUE><A>MIX1</A><B>OFF</B><FUN>a</FUN></PRM1>
<ZELKIIPRM3><LABEL>Tone</LABEL><MINVALUE>-1</MINVALUE><MAXVALUE>1</MAXVALUE><A>MIX2</A><B>OFF</B><FUN>a</FUN></ZELKIIPRM3>
<PRM3><LABEL>Ignored</LABEL><A>MIX4</A></PRM3>
</DISPLAY>
<H1><ELEMENT><VECTOR><COMMON><MINVALUE>0</MINVALUE><MAXVALUE>1</MAXVALUE><LENGTH>50000</LENGTH><FADEOUT>10000</FADEOUT><LIQUIDSOURCE>ON</LIQUIDSOURCE></COMMON><ELEMENT><FILENAME>HALL_A.WAV</FILENAME><WEIGHT>0</WEIGHT></ELEMENT><ELEMENT><FILENAME>HALL_B.WAV</FILENAME><WEIGHT>1</WEIGHT></ELEMENT></VECTOR><TRAINTHRESHOLD>-6</TRAINTHRESHOLD></ELEMENT><FORCEOT2>1</FORCEOT2></H1>
<H2><ELEMENT><VECTOR><COMMON><MINVALUE>0</MINVALUE><MAXVALUE>1</MAXVALUE><OT1><LENGTH>20000</LENGTH><FADEOUT>2000</FADEOUT></OT1><OT2><LENGTH>400000</LENGTH><FADEOUT>40000</FADEOUT></OT2></COMMON><ELEMENT><FILENAME>H2.WAV</FILENAME><WEIGHT>0.5</WEIGHT></ELEMENT></VECTOR></ELEMENT><TRAINTHRESHOLD>-12</TRAINTHRESHOLD></H2>
<H3><ELEMENT><FILENAME>PLATE.XML</FILENAME><FILEPATH>PLATES/</FILEPATH><CONTROL><SOURCE>LFO1</SOURCE><GAINPADFACTOR>-3</GAINPADFACTOR></CONTROL></ELEMENT><FORCEOT2>1</FORCEOT2></H3>
<RAW1><ELEMENT><VECTOR><COMMON><MINVALUE>0</MINVALUE><MAXVALUE>1</MAXVALUE></COMMON><ELEMENT><FILENAME>RAWA.CSV</FILENAME><WEIGHT>0</WEIGHT></ELEMENT></VECTOR></ELEMENT></RAW1>
<CUSTOMNOTE>kept as it is</CUSTOMNOTE>
</PROGRAM>)";

std::string goldenPath() {
    const std::string source = __FILE__;
    return source.substr(0, source.find_last_of('/') + 1) + "CoreProgWriters_golden.txt";
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// ---- programs and documents ---------------------------------------------------------------------

struct Fixture {
    CorePool pool;
    CoreBlnk blink;

    // Three harmonic records (H1..H3) and the hybrid record.
    std::unique_ptr<CoreProg> make() {
        return std::make_unique<CoreProg>(&pool, nullptr, 3, CoreAnsx("VECTORS/"), 500000, 2000000, 1000,
                                          4800, 256, 8192, 4096, &blink, nullptr);
    }
};

std::unique_ptr<CoreXml_> parse(const CoreAnsx& text) {
    auto document = std::make_unique<CoreXml_>();
    document->getfc(text);
    return document;
}

CoreAnsx compact(const CoreXml_& document) {
    return document.settc(false, false);
}

// The processor's commit.
void commit(CoreProg& p, CoreXml_& document, bool rateOn = true, int32_t rate = 3000) {
    p.chgmx(&document);
    p.chggl(&document);
    p.chglf(&document);
    p.chgpr(&document, rateOn, rate);
    p.chgfn(&document);
    p.chgef(&document);
    p.chgen(&document);
    p.chgdy(&document);
    p.chgpt(&document);
}

CoreNode* programOf(const CoreXml_& document) {
    return document.getrt() != nullptr ? document.getrt()->getcd(DataXml_::sCtagprogrm) : nullptr;
}

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

// ---- the reading oracle ---------------------------------------------------------------------------

double fromDecibels(double decibels) {
    const int kind = std::fpclassify(decibels);
    if (kind == FP_ZERO || kind == FP_SUBNORMAL) return 1.0;
    return std::pow(10.0, decibels / 20.0);
}

int32_t samplesOf(const CoreNode* node, const CoreAnsx& tag, int32_t rate) {
    const int64_t us = static_cast<int64_t>(std::trunc(node != nullptr ? node->getld(tag) : 0.0));
    return static_cast<int32_t>(CoreButl::tpfup(rate, us));
}

CoreAnsx textOr(const CoreNode* node, const CoreAnsx& tag, const char* absent) {
    return CoreNode::gtnls(node, tag, CoreAnsx(absent));
}

struct BoundSource {
    bool present = false; // the element was read
    CoreAnsx text;
    double lower = 0.0;
    double upper = 0.0;
};

struct StageSizes {
    bool present = false;
    bool thirdOn = false;
    bool inlineVector = false;
    bool staged = false; // the OT1/OT2 form
    int32_t second = 0;
    int32_t fadeout = 0;
    int32_t third = 0;
    int32_t cut = 0;
};

struct ReadBack {
    bool hasProgram = false;
    CoreAnsx name, categories[3], description, vectorFile;
    double padIn = 1.0, padOut = 1.0, feedback = 0.0, dry = 0.0;
    int32_t lookahead = 0, programRate = -1;
    int16_t smooth = -1, hdim = 0;
    CoreAnsx lookaheadSource;
    bool forceot2 = false, invisible = false, hybrid = false, mono = false;
    BoundSource feedbackSource, drySource;
    StageSizes harmonics[3];
};

// Reads the committed text as the program reader would, at the program rate `rate`. Modulators,
// user parameters and front-panel controls land in `into`.
ReadBack readBack(const CoreAnsx& text, int32_t rate, CoreProg& into) {
    ReadBack r;
    auto document = parse(text);
    const CoreNode* p = programOf(*document);
    if (p == nullptr) return r;
    r.hasProgram = true;
    r.name = p->getls(DataXml_::sCtagprognm);
    r.categories[0] = p->getls(DataXml_::sCtagcategr);
    r.categories[1] = p->getls(DataXml_::sCtagsubca1);
    r.categories[2] = p->getls(DataXml_::sCtagsubca2);
    r.description = p->getls(DataXml_::sCtagdescrp);
    r.vectorFile = textOr(p, DataXml_::sCtagactvnm, "0");
    for (int i = 0; i < 8; ++i) {
        const CoreAnsx tag = DataXml_::sCtagrootmx + CoreAnsx(i + 1);
        if (p->exslc(tag))
            into.getif(i)->setiv(p->getld(tag), true, true);
        else
            into.getif(i)->setiv(-1.0, false, true);
    }
    if (p->exslc(DataXml_::sCtaggainou))
        into.getif(9)->setiv(0.5 * fromDecibels(p->getld(DataXml_::sCtaggainou)), true, false);
    if (p->exslc(DataXml_::sCtaggainin))
        into.getif(8)->setiv(0.5 * fromDecibels(p->getld(DataXml_::sCtaggainin)), true, false);
    if (p->exslc(DataXml_::sCtaggnpdou)) r.padOut = fromDecibels(p->getld(DataXml_::sCtaggnpdou));
    if (p->exslc(DataXml_::sCtaggnpdin)) r.padIn = fromDecibels(p->getld(DataXml_::sCtaggnpdin));
    r.lookahead = static_cast<int32_t>(std::trunc(p->getld(DataXml_::sCtaglookah)));
    r.lookaheadSource = textOr(p, DataXml_::sCtaglasrce, "ON");
    if (p->exslc(DataXml_::sCtagprrate))
        r.programRate = static_cast<int32_t>(std::trunc(p->getld(DataXml_::sCtagprrate)));
    r.forceot2 = p->getld(DataXml_::sCtagfrcot2) > 0.0;
    r.invisible = p->getld(DataXml_::sCtagfrcivt) > 0.0;
    r.hybrid = p->getld(DataXml_::sCtagfrchyb) > 0.0;
    r.mono = p->getld(DataXml_::sCtagmono_m) > 0.0;
    r.hdim = static_cast<int16_t>(std::trunc(p->getld(DataXml_::sCtaghsdim_)));

    for (int i = 0; i < CoreProg::iClfos; ++i) {
        const CoreNode* s = p->exslc(DataXml_::sCtagrootlf + CoreAnsx(i + 1))
                                ? p->getcd(DataXml_::sCtagrootlf + CoreAnsx(i + 1))
                                : nullptr;
        into.getlf(i)->setvl(
            s ? s->getld(DataXml_::sCtagmnrate) : 0.0, s ? s->getld(DataXml_::sCtagmxrate) : 0.0,
            CoreNode::gtnld(s, DataXml_::sCtaglfortq, 0.0),
            s ? s->getls(DataXml_::sCtagsource) : CoreAnsx(""),
            s ? s->getls(DataXml_::sCtagshape_) : CoreAnsx(""),
            CoreNode::gtnld(s, DataXml_::sCtagphasef, 0.0), textOr(s, DataXml_::sCtagphases, ""));
    }
    for (int i = 0; i < CoreProg::iCfuns; ++i) {
        const CoreAnsx tag = DataXml_::sCtagrootfn + CoreAnsx(i + 1);
        const CoreNode* s = p->exslc(tag) ? p->getcd(tag) : nullptr;
        into.getfn(i)->setvl(textOr(s, DataXml_::sCtagfuncta, ""), textOr(s, DataXml_::sCtagfunctb, ""),
                             textOr(s, DataXml_::sCtagrootfn, ""));
    }
    for (int i = 0; i < CoreProg::iCfollowers; ++i) {
        const CoreAnsx tag = DataXml_::sCtagrootef + CoreAnsx(i + 1);
        if (!p->exslc(tag)) {
            into.getef(i)->setvl(); // every commit writes EVF5, so the borrowed form never applies
            continue;
        }
        const CoreNode* s = p->getcd(tag);
        const CoreAnsx bus = textOr(s, DataXml_::sCtagefbbsr, "OFF");
        const CoreAnsx dAttack = textOr(s, DataXml_::sCtagefdatt, "OFF");
        const CoreAnsx dRelease = textOr(s, DataXml_::sCtagefdrel, "OFF");
        const CoreAnsx oAttack = textOr(s, DataXml_::sCtagefoatt, "OFF");
        const CoreAnsx oRelease = textOr(s, DataXml_::sCtageforel, "OFF");
        const CoreAnsx filter = textOr(s, DataXml_::sCtagfilter, "OFF");
        const bool filterRead = s->exslc(DataXml_::sCtagfilter);
        const CoreAnsx off("OFF");
        into.getef(i)->setvl(
            samplesOf(s, DataXml_::sCtagattkmn, rate), samplesOf(s, DataXml_::sCtagattkmx, rate),
            textOr(s, DataXml_::sCtagatsrce, ""), samplesOf(s, DataXml_::sCtagrlsemn, rate),
            samplesOf(s, DataXml_::sCtagrlsemx, rate), textOr(s, DataXml_::sCtagrlsrce, ""),
            CoreNode::gtnld(s, DataXml_::sCtagefoutp, 0.0),
            static_cast<int16_t>(static_cast<int32_t>(CoreNode::gtnld(s, DataXml_::sCtagefexpn, 0.0))),
            bus != off, bus, dAttack != off && dRelease != off, dAttack, dRelease,
            s->exslc(DataXml_::sCtagefenet) && s->getld(DataXml_::sCtagefenet) != 0.0,
            static_cast<double>(rate), oAttack != off && oRelease != off, oAttack, oRelease, filter != off,
            filterRead ? CoreNode::gtnld(s, DataXml_::sCtagfltfre, 0.0) : 0.0,
            filterRead ? CoreNode::gtnli(s, DataXml_::sCtagfltord, 1) : 1, filter);
    }
    for (int i = 0; i < CoreProg::iCdynamics; ++i) {
        const CoreAnsx tag = DataXml_::sCtagrootdn + CoreAnsx(i + 1);
        if (!p->exslc(tag)) {
            into.getdy(i)->setvl();
            continue;
        }
        const CoreNode* s = p->getcd(tag);
        bool compress = true;
        CoreAnsx ratio("");
        if (s->exslc(DataXml_::sCtagrcsrce)) {
            ratio = s->getls(DataXml_::sCtagrcsrce);
        } else if (s->exslc(DataXml_::sCtagresrce)) {
            ratio = s->getls(DataXml_::sCtagresrce);
            compress = false;
        }
        const int16_t curve =
            s->exslc(DataXml_::sCtagdnrtcv)
                ? static_cast<int16_t>(static_cast<int32_t>(s->getld(DataXml_::sCtagdnrtcv)))
                : int16_t{-1};
        into.getdy(i)->setvl(textOr(s, DataXml_::sCtagtrsrce, ""), textOr(s, DataXml_::sCtaginsrce, ""),
                             compress, ratio, curve >= 0, curve, s->getld(DataXml_::sCtagdnrnge),
                             s->getld(DataXml_::sCtaggainpd));
    }
    for (int i = 0; i < CoreProg::iCenvelopes; ++i) {
        const CoreAnsx tag = DataXml_::sCtagrootev + CoreAnsx(i + 1);
        if (!p->exslc(tag)) {
            into.geten(i)->setvl();
            continue;
        }
        const CoreNode* s = p->getcd(tag);
        const CoreNode* control = s->getcd(DataXml_::sCtagcontrl);
        const CoreNode* level = s->getcd(DataXml_::sCtagevlevl);
        const CoreNode* levelCommon = level ? level->getcd(DataXml_::sCtagcommon) : nullptr;
        const CoreNode* time = s->getcd(DataXml_::sCtagevtime);
        const CoreNode* timeCommon = time ? time->getcd(DataXml_::sCtagcommon) : nullptr;
        const CoreNode* curve = s->getcd(DataXml_::sCtagevcrve);
        const CoreAnsx* stages[4] = {&DataXml_::sCtagevattc, &DataXml_::sCtagevdecy, &DataXml_::sCtagevslpe,
                                     &DataXml_::sCtagevrlse};
        const CoreAnsx* levelTags[4] = {&DataXml_::sCtagevstrt, &DataXml_::sCtagevattc,
                                        &DataXml_::sCtagevbrea, &DataXml_::sCtagevsust};
        double levels[4];
        int32_t times[4];
        int16_t curves[4];
        for (int k = 0; k < 4; ++k) {
            levels[k] = CoreNode::gtnld(level, *levelTags[k], 0.0);
            times[k] = samplesOf(time, *stages[k], rate);
            curves[k] = static_cast<int16_t>(static_cast<int32_t>(CoreNode::gtnld(curve, *stages[k], 0.0)));
        }
        into.geten(i)->setvl(textOr(control, DataXml_::sCtagacsrce, ""),
                             textOr(control, DataXml_::sCtagdasrce, ""), levels, times, curves,
                             CoreNode::gtnld(levelCommon, DataXml_::sCtagmodfct, 0.0),
                             textOr(levelCommon, DataXml_::sCtagmdsrce, ""),
                             CoreNode::gtnld(timeCommon, DataXml_::sCtagmodfct, 0.0),
                             textOr(timeCommon, DataXml_::sCtagmdsrce, ""));
    }

    if (p->exslc(DataXml_::sCtagfeedbk)) {
        r.feedback = p->getld(DataXml_::sCtagfeedbk) / 100.0;
        r.feedbackSource.present = p->exslc(DataXml_::sCtagfbsrce);
        r.feedbackSource.text = p->getls(DataXml_::sCtagfbsrce);
        r.feedbackSource.lower = r.feedbackSource.present ? 0.0 : 1.0;
        r.feedbackSource.upper = 1.0;
        Access::feedbackControl(into)->setsr(r.feedbackSource.text, r.feedbackSource.lower,
                                             r.feedbackSource.upper);
    }
    if (p->exslc(DataXml_::sCtaggaindr)) {
        r.dry = fromDecibels(p->getld(DataXml_::sCtaggaindr));
        r.drySource.present = p->exslc(DataXml_::sCtaggainds);
        r.drySource.text = p->getls(DataXml_::sCtaggainds);
        r.drySource.lower = r.drySource.present ? 0.0 : 1.0;
        r.drySource.upper = 1.0;
        Access::dryControl(into)->setsr(r.drySource.text, r.drySource.lower, r.drySource.upper);
    }
    if (p->exslc(DataXml_::sCtagsmooth))
        r.smooth = static_cast<int16_t>(std::trunc(p->getld(DataXml_::sCtagsmooth)));

    if (p->exslc(DataXml_::sCtagrootds)) {
        const CoreNode* display = p->getcd(DataXml_::sCtagrootds);
        for (int i = 0; i < CoreProg::iCparameters; ++i) {
            const CoreAnsx preferred = DataXml_::sCtagroot2p + CoreAnsx(i + 1);
            const CoreAnsx plain = DataXml_::sCtagrootpm + CoreAnsx(i + 1);
            const CoreNode* s = display->exslc(preferred) ? display->getcd(preferred)
                                : display->exslc(plain)   ? display->getcd(plain)
                                                          : nullptr;
            if (s == nullptr) {
                into.getpm(i)->setvl(false);
                continue;
            }
            const double minimum = CoreNode::gtnld(s, DataXml_::sCtagmnvalu, 0.0);
            const double maximum = CoreNode::gtnld(s, DataXml_::sCtagmxvalu, 0.0);
            const bool displayed = !s->exslc(DataXml_::sCtadsvisbl) || s->getld(DataXml_::sCtadsvisbl) != 0.0;
            into.getpm(i)->setvl(displayed, s->getls(DataXml_::sCtagfuncta), s->getls(DataXml_::sCtagfunctb),
                                 s->getls(DataXml_::sCtagrootfn), textOr(s, DataXml_::sCtagdslabl, ""),
                                 textOr(s, DataXml_::sCtagdsprlb, ""), textOr(s, DataXml_::sCtagdsunit, ""),
                                 textOr(s, DataXml_::sCtagdsprun, ""), textOr(s, DataXml_::sCtagdspoun, ""),
                                 minimum, maximum, CoreNode::gtnld(s, DataXml_::sCtagmnbrvl, minimum),
                                 CoreNode::gtnld(s, DataXml_::sCtagmxbrvl, maximum));
        }
    }

    for (int h = 0; h < 3; ++h) {
        const CoreAnsx tag = DataXml_::sCtagrooth_ + CoreAnsx(h + 1);
        if (!p->exslc(tag)) break;
        StageSizes& stage = r.harmonics[h];
        const CoreNode* section = p->getcd(tag);
        stage.present = true;
        if (!(r.hybrid && h == 0) && section->exslc(DataXml_::sCtagfrcot2))
            stage.thirdOn = section->getld(DataXml_::sCtagfrcot2) > 0.0;
        const CoreNode* root = section->getcd(DataXml_::sCtagelemnt);
        const CoreNode* vector = root != nullptr && root->exslc(DataXml_::sCtagvector)
                                     ? root->getcd(DataXml_::sCtagvector)
                                     : nullptr;
        stage.inlineVector = vector != nullptr;
        const CoreNode* common = vector != nullptr ? vector->getcd(DataXml_::sCtagcommon) : nullptr;
        const CoreAnsx second = DataXml_::sCtagopttyp + CoreAnsx(1);
        const CoreAnsx third = DataXml_::sCtagopttyp + CoreAnsx(2);
        if (common != nullptr && (common->exslc(second) || common->exslc(third))) {
            stage.staged = true;
            const CoreNode* ot1 = common->exslc(second) ? common->getcd(second) : nullptr;
            const CoreNode* ot2 = common->exslc(third) ? common->getcd(third) : nullptr;
            stage.second = samplesOf(ot1, DataXml_::sCtaglength, rate);
            stage.fadeout = samplesOf(ot1, DataXml_::sCtagfadeou, rate);
            stage.third = samplesOf(ot2, DataXml_::sCtaglength, rate);
            stage.cut = samplesOf(ot2, DataXml_::sCtagfadeou, rate);
        }
    }
    return r;
}

double controlValue(CoreParm* control) {
    return control->getvl();
}

// Every value the writers store, found again in what the oracle read.
void expectModelFound(CoreProg& model, CoreProg& reloaded, const ReadBack& r) {
    ASSERT_TRUE(r.hasProgram);
    EXPECT_EQ(r.name, model.getnm());
    for (int i = 0; i < 3; ++i) EXPECT_EQ(r.categories[i], model.getct(i));
    EXPECT_EQ(r.description, model.getds());
    if (Access::vectorFileName(model) != CoreAnsx("0")) {
        EXPECT_EQ(r.vectorFile, Access::vectorFileName(model));
    }
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE("MIX" + std::to_string(i + 1));
        EXPECT_EQ(reloaded.getif(i)->isval(true), model.getif(i)->isval(true));
        if (model.getif(i)->isval(true)) {
            EXPECT_DOUBLE_EQ(reloaded.getif(i)->getiv(true), model.getif(i)->getiv(true));
        }
    }
    for (int i = 8; i < 10; ++i)
        EXPECT_NEAR(reloaded.getif(i)->getvl(true), model.getif(i)->getvl(true),
                    relativeDigits * model.getif(i)->getvl(true));
    EXPECT_NEAR(r.padIn, model.getpi(), relativeDigits * model.getpi());
    EXPECT_NEAR(r.padOut, model.getpo(), relativeDigits * model.getpo());
    EXPECT_EQ(r.lookahead, model.getua());
    EXPECT_EQ(r.lookaheadSource, model.getar());
    EXPECT_EQ(r.forceot2, model.getf2());
    EXPECT_EQ(r.invisible, model.getfi());
    EXPECT_EQ(r.hybrid, model.getfh());
    EXPECT_EQ(r.mono, model.getfm());
    EXPECT_EQ(r.hdim, model.getsh());
    EXPECT_EQ(r.smooth, model.getst());
    EXPECT_DOUBLE_EQ(r.feedback, model.getff());
    EXPECT_DOUBLE_EQ(controlValue(Access::feedbackControl(reloaded)),
                     controlValue(Access::feedbackControl(model)));
    EXPECT_NEAR(r.dry, model.getdr(), relativeDigits * model.getdr() + 1e-9);
    EXPECT_DOUBLE_EQ(controlValue(Access::dryControl(reloaded)), controlValue(Access::dryControl(model)));

    CoreAnsx null(CoreButl::sCnull);
    for (int16_t i = 0; i < CoreProg::iClfos; ++i) {
        SCOPED_TRACE("LFO" + std::to_string(i + 1));
        CoreLfo_* a = model.getlf(i);
        CoreLfo_* b = reloaded.getlf(i);
        EXPECT_DOUBLE_EQ(b->getrt()->getsl(), a->getrt()->getsl());
        EXPECT_DOUBLE_EQ(b->getrt()->getsu(), a->getrt()->getsu());
        EXPECT_DOUBLE_EQ(b->getqt(), a->getqt());
        EXPECT_DOUBLE_EQ(b->getph(), a->getph());
        // "NULL" and the empty text both stand for no source.
        EXPECT_EQ(CoreButl::getnv(b->getrc()), CoreButl::getnv(a->getrc()));
        EXPECT_EQ(b->getrt()->getsc(), a->getrt()->getsc());
        EXPECT_EQ(CoreButl::getnv(b->getps()), CoreButl::getnv(a->getps()));
        EXPECT_EQ(model.getgf()->getgf(0, b->getsh())->getky(), model.getgf()->getgf(0, a->getsh())->getky());
    }
    for (int16_t i = 0; i < CoreProg::iCfuns; ++i) {
        SCOPED_TRACE("FUN" + std::to_string(i + 1));
        EXPECT_EQ(reloaded.getfn(i)->getfa()->getsa(), model.getfn(i)->getfa()->getsa());
        EXPECT_EQ(reloaded.getfn(i)->getfb()->getsa(), model.getfn(i)->getfb()->getsa());
        EXPECT_EQ(reloaded.getfn(i)->getfn(), model.getfn(i)->getfn());
    }
    for (int16_t i = 0; i < CoreProg::iCfollowers; ++i) {
        SCOPED_TRACE("EVF" + std::to_string(i + 1));
        CoreEnvf* a = model.getef(i);
        CoreEnvf* b = reloaded.getef(i);
        EXPECT_EQ(b->getma(), a->getma());
        EXPECT_EQ(b->getxa(), a->getxa());
        EXPECT_EQ(b->getmr(), a->getmr());
        EXPECT_EQ(b->getxr(), a->getxr());
        EXPECT_EQ(b->getat()->getsc(), a->getat()->getsc());
        EXPECT_EQ(b->getrl()->getsc(), a->getrl()->getsc());
        EXPECT_DOUBLE_EQ(b->getba(), a->getba());
        EXPECT_EQ(b->getex(), a->getex());
        EXPECT_EQ(b->isact(), a->isact());
        EXPECT_EQ(b->bbsrc(), a->bbsrc());
        if (a->bbsrc()) {
            EXPECT_EQ(b->getbb(), a->getbb());
        }
        EXPECT_EQ(b->dsrc_(), a->dsrc_());
        if (a->dsrc_()) {
            EXPECT_EQ(b->getda(), a->getda());
            EXPECT_EQ(b->getdr(), a->getdr());
        }
        EXPECT_EQ(b->enabt(), a->enabt());
        EXPECT_EQ(b->osrc_(), a->osrc_());
        if (a->osrc_()) {
            EXPECT_EQ(b->getoa(), a->getoa());
            EXPECT_EQ(b->getor(), a->getor());
        }
        EXPECT_EQ(b->hpsrc(), a->hpsrc());
        if (a->hpsrc()) {
            EXPECT_EQ(b->gethp(), a->gethp());
            EXPECT_DOUBLE_EQ(b->gethf(), a->gethf());
            EXPECT_EQ(b->getho(), a->getho());
        }
    }
    for (int16_t i = 0; i < CoreProg::iCdynamics; ++i) {
        SCOPED_TRACE("DNM" + std::to_string(i + 1));
        CoreDynm* a = model.getdy(i);
        CoreDynm* b = reloaded.getdy(i);
        for (int16_t id = 0; id < 3; ++id) EXPECT_EQ(b->getbs(id), a->getbs(id));
        EXPECT_EQ(b->getst(), a->getst());
        EXPECT_EQ(b->iscrv(), a->iscrv());
        // The display's "LINEAR" (-1) comes back as index 0, which fades the same way.
        if (a->iscrv()) {
            EXPECT_EQ(b->getrc(), a->getrc() > 1 ? a->getrc() : int16_t{1});
        }
        EXPECT_DOUBLE_EQ(b->getbd(3), a->getbd(3));
        EXPECT_DOUBLE_EQ(b->getbd(4), a->getbd(4));
    }
    for (int16_t i = 0; i < CoreProg::iCenvelopes; ++i) {
        SCOPED_TRACE("ENV" + std::to_string(i + 1));
        CoreEnv_* a = model.geten(i);
        CoreEnv_* b = reloaded.geten(i);
        for (int16_t n = 0; n < 4; ++n) {
            EXPECT_EQ(b->getpr(n)->getsc(), a->getpr(n)->getsc());
            EXPECT_DOUBLE_EQ(b->getlv()[n], a->getlv()[n]);
            EXPECT_EQ(b->gettm()[n], a->gettm()[n]);
            EXPECT_EQ(b->getcv()[n], a->getcv()[n]);
        }
        EXPECT_DOUBLE_EQ(b->getlf(), a->getlf());
        EXPECT_DOUBLE_EQ(b->gettf(), a->gettf());
    }
    for (int16_t i = 0; i < CoreProg::iCparameters; ++i) {
        SCOPED_TRACE("PRM" + std::to_string(i + 1));
        CorePrm_* a = model.getpm(i);
        CorePrm_* b = reloaded.getpm(i);
        EXPECT_EQ(b->isdis(), a->isdis());
        EXPECT_EQ(b->getpl(), a->getpl());
        EXPECT_EQ(b->getlb(), a->getlb());
        EXPECT_EQ(b->getpu(), a->getpu());
        EXPECT_EQ(b->getou(), a->getou());
        EXPECT_EQ(b->getun(), a->getun());
        for (short n = 0; n < 4; ++n) EXPECT_DOUBLE_EQ(b->getbd(n), a->getbd(n));
        EXPECT_EQ(b->getfa()->getsa(), a->getfa()->getsa());
        EXPECT_EQ(b->getfb()->getsa(), a->getfb()->getsa());
        EXPECT_EQ(b->getfn(), a->getfn());
    }
    const CoreProg::HLOC& hybrid = Access::record(model, Access::capacity(model));
    for (int h = 0; h < 3; ++h) {
        SCOPED_TRACE("H" + std::to_string(h + 1));
        const CoreProg::HLOC& record = Access::record(model, h);
        const StageSizes& read = r.harmonics[h];
        if (!record.bValid || !record.bChanged || !read.present) continue;
        if (!(model.getfh() && h == 0)) {
            EXPECT_EQ(read.thirdOn, record.bThirdon);
        }
        if (!read.inlineVector) continue;
        ASSERT_TRUE(read.staged);
        const CoreProg::HLOC& third = model.getfh() && h == 0 && hybrid.bValid ? hybrid : record;
        EXPECT_EQ(read.second, record.iSecondsize);
        EXPECT_EQ(read.fadeout, record.iFadeout);
        EXPECT_EQ(read.third, third.iThirdsize);
        EXPECT_EQ(read.cut, third.iCut);
    }
}

// Commits, serialises, reads back into a fresh program and compares.
CoreAnsx commitAndFind(Fixture& f, CoreProg& model, CoreXml_& document) {
    commit(model, document);
    const CoreAnsx text = compact(document);
    auto reloaded = f.make();
    reloaded->setrt(Access::programRate(model));
    const ReadBack r = readBack(text, Access::programRate(model), *reloaded);
    expectModelFound(model, *reloaded, r);
    return text;
}

// ---- the model of the golden commit -------------------------------------------------------------

void setRecord(CoreProg& p, int h, bool changed, int32_t second, int32_t fadeout, int32_t third, int32_t cut,
               bool thirdOn) {
    CoreProg::HLOC& record = Access::record(p, h);
    record.bValid = true;
    record.bChanged = changed;
    record.iSecondsize = second;
    record.iFadeout = fadeout;
    record.iThirdsize = third;
    record.iCut = cut;
    record.bThirdon = thirdOn;
}

// The program as the user left it after editing the fixture's program at 48 kHz.
void fillModel(CoreProg& p) {
    p.setrt(48000);
    p.setnm(CoreAnsx("Fixture Hall (edited)"));
    p.setct(CoreAnsx("Reverb"), 0);
    p.setct(CoreAnsx("Halls"), 1);
    p.setct(CoreAnsx("Large"), 2);
    p.setds(CoreAnsx("Two inline harmonics and a plate file"));
    p.setvf(CoreAnsx("0"));
    p.setpi(1.0);
    p.setpo(0.5);
    p.setua(1000);
    p.setar(CoreAnsx("ON"));
    p.setff(0.25);
    p.setfs(CoreAnsx("LFO2"));
    p.setdr(0.5);
    // Read without a dry source: the control stays fixed at 1.0.
    Access::dryControl(p)->setsr(CoreAnsx(""), 1.0, 1.0);
    p.setst(2);
    p.setf2(false);
    p.setfi(true);
    p.setfm(false);
    p.setsh(2);

    const double mixes[3] = {0.75, -0.5, 0.0};
    for (int i = 0; i < 8; ++i) p.getif(i)->setiv(i < 3 ? mixes[i] : -1.0, i < 3, true);
    p.getif(8)->setiv(0.5, true, true);
    p.getif(9)->setiv(0.25, true, true);

    p.getlf(0)->setvl(0.5, 2.0, 0.0, CoreAnsx("ENV1"), CoreAnsx("Sine"), 90.0, CoreAnsx(""));
    p.getlf(1)->setvl(1.0, 4.0, 0.25, CoreAnsx(""), CoreAnsx("Triang"), 45.0, CoreAnsx("MIX1"));
    // Shape never chosen, rate edited on the display: written with the waveform it plays.
    p.getlf(2)->setvl(1.0, 1.0, 0.0, CoreAnsx("NULL"), CoreAnsx("NULL"), 0.0, CoreAnsx("NULL"));
    p.getlf(3)->setvl(0.0, 0.0, 0.0, CoreAnsx(""), CoreAnsx(""), 0.0, CoreAnsx(""));

    p.getfn(0)->setvl(CoreAnsx("LFO1"), CoreAnsx("0.0"), CoreAnsx("a*b"));
    p.getfn(1)->setvl(CoreAnsx("ENV1"), CoreAnsx("OFF"), CoreAnsx("a+b"));
    for (int16_t i = 2; i < CoreProg::iCfuns; ++i)
        p.getfn(i)->setvl(CoreAnsx(""), CoreAnsx(""), CoreAnsx(""));

    p.getef(0)->setvl(48, 960, CoreAnsx("MIX1"), 480, 24000, CoreAnsx("MIX2"), 0.5, 1, true, CoreAnsx("MIX3"),
                      true, CoreAnsx("LFO1"), CoreAnsx("LFO2"), true, 48000.0, true, CoreAnsx("ENV1"),
                      CoreAnsx("ENV2"), true, 0.125, 4, CoreAnsx("MIX4"));
    p.getef(1)->setvl(5, 5, CoreAnsx(""), 5, 5, CoreAnsx(""), 0.0, 2, false, CoreAnsx("OFF"), false,
                      CoreAnsx("OFF"), CoreAnsx("OFF"), false, 48000.0, false, CoreAnsx("OFF"),
                      CoreAnsx("OFF"), false, 0.0, 1, CoreAnsx("OFF"));
    for (int16_t i = 2; i < CoreProg::iCfollowers; ++i) p.getef(i)->setvl();

    p.getdy(0)->setvl(CoreAnsx("MIX2"), CoreAnsx("EVF1"), false, CoreAnsx("LFO1"), true, 3, 24.0, 3.0);
    p.getdy(1)->setvl(CoreAnsx(""), CoreAnsx("EVF2"), true, CoreAnsx("MIX5"), false, -1, 12.5, 0.0);

    const double levels[4] = {0.0, 1.0, 0.5, 0.25};
    const int32_t times[4] = {480, 960, 1440, 48000};
    const int16_t curves[4] = {1, 2, 0, 3};
    p.geten(0)->setvl(CoreAnsx("EVF1"), CoreAnsx("OFF"), levels, times, curves, 0.5, CoreAnsx("MIX6"), 2.0,
                      CoreAnsx("MIX7"));
    p.geten(1)->setvl();

    p.getpm(0)->setvl(true, CoreAnsx("MIX1"), CoreAnsx("OFF"), CoreAnsx("a"), CoreAnsx("Size"),
                      CoreAnsx("Room"), CoreAnsx("m"), CoreAnsx(""), CoreAnsx(""), 1.0, 20.0, 1.0, 20.0);
    p.getpm(1)->setvl(false, CoreAnsx("0.5"), CoreAnsx("LFO1"), CoreAnsx("a*b"), CoreAnsx("Depth"),
                      CoreAnsx(""), CoreAnsx("%"), CoreAnsx("~"), CoreAnsx("!"), 0.0, 100.0, 100.0, 0.0);
    p.getpm(2)->setvl(true, CoreAnsx("MIX2"), CoreAnsx("OFF"), CoreAnsx("a"), CoreAnsx("Tone"), CoreAnsx(""),
                      CoreAnsx("dB"), CoreAnsx(""), CoreAnsx(""), -6.0, 6.0, -6.0, 6.0);
    for (int16_t i = 3; i < CoreProg::iCparameters; ++i) p.getpm(i)->setvl(false);

    setRecord(p, 0, true, 2400, 480, 48000, 4800, true);
    setRecord(p, 1, false, 960, 96, 19200, 1920, false);
    setRecord(p, 2, true, 4800, 960, 96000, 9600, false);
}

// ---- tests ---------------------------------------------------------------------------------------

TEST(CoreProgWriters, WholeCommitMatchesTheGoldenTextAndReadsBackToTheModel) {
    Fixture f;
    auto model = f.make();
    fillModel(*model);
    auto document = parse(CoreAnsx(fixtureText));
    const CoreAnsx text = commitAndFind(f, *model, *document);
    const std::string golden = readFile(goldenPath());
    ASSERT_FALSE(golden.empty()) << goldenPath();
    EXPECT_EQ(std::string(text.c_str()) + "\n", golden);

    // A second commit deletes what the first wrote and appends the same again.
    commit(*model, *document);
    EXPECT_EQ(compact(*document), text);
}

TEST(CoreProgWriters, UntouchedChildrenComeFirstAndRewrittenOnesFollowInWriterOrder) {
    Fixture f;
    auto model = f.make();
    fillModel(*model);
    auto document = parse(CoreAnsx(fixtureText));
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

TEST(CoreProgWriters, HeaderAndGlobalValuesFollowTheirEncodings) {
    Fixture f;
    auto model = f.make();
    auto document = parse(CoreAnsx(fixtureText));
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

TEST(CoreProgWriters, ChangedHarmonicsGetTheStagedFormAndOthersStayAsTheyWere) {
    Fixture f;
    auto model = f.make();
    auto document = parse(CoreAnsx(fixtureText));
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

TEST(CoreProgWriters, ForceHybridTakesTheFirstHarmonicsThirdStageFromTheHybridRecord) {
    Fixture f;
    auto model = f.make();
    fillModel(*model); // the fixture's program, as edited
    auto document = parse(CoreAnsx(fixtureText));
    model->setrt(48000);
    setRecord(*model, 0, true, 480, 48, 4800, 480, false);
    setRecord(*model, 3, false, 0, 0, 96000, 9600, false); // the hybrid record
    model->setfh(true);
    Access::record(*model, 0).iThirdsize = 4800; // setfh copied the hybrid sizes; keep them apart
    Access::record(*model, 0).iCut = 480;
    commitAndFind(f, *model, *document);
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

TEST(CoreProgWriters, VectorFileHarmonicKeepsItsElementButGetsItsForceFlag) {
    Fixture f;
    auto model = f.make();
    auto document = parse(CoreAnsx(fixtureText));
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

TEST(CoreProgWriters, EmptyFeedbackAndDrySourcesReadBackAsTheSameControl) {
    Fixture f;
    for (bool fixed : {true, false}) {
        SCOPED_TRACE(fixed ? "control fixed at 1.0" : "control following OFF");
        auto model = f.make();
        fillModel(*model); // the fixture's program, as edited
        auto document = parse(CoreAnsx(fixtureText));
        model->setff(0.5);
        model->setdr(0.25);
        model->setfs(CoreAnsx(""));
        model->setys(CoreAnsx(""));
        if (fixed) {
            // What a program read with FEEDBACKFACTOR and GAINDRYFACTOR but no source elements holds.
            Access::feedbackControl(*model)->setsr(CoreAnsx(""), 1.0, 1.0);
            Access::dryControl(*model)->setsr(CoreAnsx(""), 1.0, 1.0);
        }
        commitAndFind(f, *model, *document);
        const CoreNode* p = programOf(*document);
        EXPECT_EQ(p->exsnc(CoreAnsx("FEEDBACKSOURCE")), !fixed);
        EXPECT_EQ(p->exsnc(CoreAnsx("GAINDRYSOURCE")), !fixed);
        if (!fixed) {
            EXPECT_EQ(valueOf(p, "FEEDBACKSOURCE"), "OFF");
            EXPECT_EQ(valueOf(p, "GAINDRYSOURCE"), "OFF");
        }
        EXPECT_DOUBLE_EQ(model->getrf(), fixed ? 0.5 : 0.0);
    }
}

TEST(CoreProgWriters, MixValuesGainsAndProgramRate) {
    Fixture f;
    auto model = f.make();
    auto document = parse(CoreAnsx(fixtureText));
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
    auto reloaded = f.make();
    EXPECT_EQ(readBack(compact(*document), 44100, *reloaded).programRate, -1);
}

TEST(CoreProgWriters, LfoSectionsFollowTheTableAndKeepEveryEdit) {
    Fixture f;
    auto model = f.make();
    fillModel(*model); // the fixture's program, as edited
    auto document = parse(CoreAnsx(fixtureText));
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
        commitAndFind(f, *model, *editedDocument);
        EXPECT_EQ(valueOf(child(programOf(*editedDocument), "LFO4"), "SHAPE"), "Sine");
    }
}

TEST(CoreProgWriters, FunctionSectionsWriteAllEightWithConstantsInFixedForm) {
    Fixture f;
    auto model = f.make();
    fillModel(*model); // the fixture's program, as edited
    auto document = parse(CoreAnsx(fixtureText));
    model->getfn(0)->setvl(CoreAnsx("0"), CoreAnsx("-0.25"), CoreAnsx("a-b"));
    model->getfn(7)->setvl(CoreAnsx("LFO4"), CoreAnsx("0.0"), CoreAnsx("max(a,b)"));
    commitAndFind(f, *model, *document);
    const CoreNode* p = programOf(*document);
    for (int i = 1; i <= 8; ++i) EXPECT_TRUE(p->exsnc(CoreAnsx("FUN") + CoreAnsx(i))) << i;
    const CoreNode* fun8 = child(p, "FUN8");
    EXPECT_EQ(childTags(fun8), (std::vector<std::string>{"A", "B", "FUN"}));
    EXPECT_EQ(valueOf(fun8, "B"), "0.0000000000");
    EXPECT_EQ(valueOf(fun8, "FUN"), "max(a,b)");
    EXPECT_EQ(valueOf(child(p, "FUN1"), "B"), "-0.2500000000");
}

TEST(CoreProgWriters, FollowerGroupsAppearWholeAndOnlyWhileLinked) {
    Fixture f;
    auto model = f.make();
    fillModel(*model); // the fixture's program, as edited
    auto document = parse(CoreAnsx(fixtureText));
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
    commitAndFind(f, *model, *document);
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

TEST(CoreProgWriters, EnvelopeBlocksInOrderWithFactorsInTheirOwnCommon) {
    Fixture f;
    auto model = f.make();
    fillModel(*model); // the fixture's program, as edited
    auto document = parse(CoreAnsx(fixtureText));
    const double levels[4] = {0.125, 1.0, 0.75, 0.5};
    const int32_t times[4] = {441, 4410, 44100, 1};
    const int16_t curves[4] = {0, 1, 5, -2};
    model->setrt(44100);
    model->geten(1)->setvl(CoreAnsx("LFO1"), CoreAnsx("LFO2"), levels, times, curves, 0.5, CoreAnsx("MIX1"),
                           2.0, CoreAnsx("MIX2"));
    commitAndFind(f, *model, *document);
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

TEST(CoreProgWriters, DynamicsWriteOneRatioElementAndTheCurveAsItsIndex) {
    Fixture f;
    auto model = f.make();
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
        auto document = parse(CoreAnsx(fixtureText));
        model->getdy(0)->setvl(CoreAnsx("MIX1"), CoreAnsx("EVF1"), c.compress, CoreAnsx("LFO3"), c.curveOn,
                               c.index, 18.0, -2.5);
        commitAndFind(f, *model, *document);
        const CoreNode* dnm = child(programOf(*document), "DNM1");
        std::vector<std::string> tags = {c.ratioTag, "THRESHOLDSOURCE", "INPUTSOURCE"};
        if (c.curve != nullptr) tags.push_back("RATIOCURVE");
        tags.insert(tags.end(), {"RANGELIMIT", "GAINPADFACTOR"});
        EXPECT_EQ(childTags(dnm), tags);
        if (c.curve != nullptr) {
            EXPECT_EQ(valueOf(dnm, "RATIOCURVE"), c.curve);
        }
    }
    // The display's "LINEAR": curve on at index -1, stored as 0.
    auto document = parse(CoreAnsx(fixtureText));
    model->getdy(1)->setst(0);
    model->getdy(1)->setrc(0);
    model->getdy(1)->rfrvl();
    ASSERT_TRUE(model->getdy(1)->iscrv());
    ASSERT_EQ(model->getdy(1)->getrc(), 0);
    commitAndFind(f, *model, *document);
    EXPECT_EQ(valueOf(child(programOf(*document), "DNM2"), "RATIOCURVE"), "0");
}

TEST(CoreProgWriters, ParameterSectionsUnderDisplay) {
    Fixture f;
    auto model = f.make();
    fillModel(*model); // the fixture's program, as edited
    model->getpm(0)->setvl(true, CoreAnsx("MIX1"), CoreAnsx("0.5"), CoreAnsx("a+b"), CoreAnsx("Size"),
                           CoreAnsx(""), CoreAnsx("m"), CoreAnsx(""), CoreAnsx(""), 0.0, 1.0, 0.25, 0.75);
    model->getpm(4)->setvl(true, CoreAnsx("MIX1"), CoreAnsx(""), CoreAnsx("a"), CoreAnsx("Hidden"),
                           CoreAnsx(""), CoreAnsx(""), CoreAnsx(""), CoreAnsx(""), 0.0, 1.0, 0.0, 1.0);
    model->getpm(4)->setds(false);

    // A document without DISPLAY gains one with all sixteen sections.
    CoreXml_ bare;
    commitAndFind(f, *model, bare);
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
    auto document = parse(CoreAnsx(fixtureText));
    model->getpm(2)->setvl(true, CoreAnsx("MIX3"), CoreAnsx("OFF"), CoreAnsx("a"), CoreAnsx("Tone 2"),
                           CoreAnsx(""), CoreAnsx(""), CoreAnsx(""), CoreAnsx(""), 0.0, 2.0, 0.0, 2.0);
    commitAndFind(f, *model, *document);
    display = child(programOf(*document), "DISPLAY");
    EXPECT_EQ(valueOf(child(display, "ZELKIIPRM3"), "LABEL"), "Tone 2");
    EXPECT_EQ(valueOf(child(display, "PRM3"), "LABEL"), "Ignored");
    int zelkii = 0;
    for (const std::string& tag : childTags(display)) zelkii += tag.rfind("ZELKIIPRM", 0) == 0 ? 1 : 0;
    EXPECT_EQ(zelkii, 1);
}

TEST(CoreProgWriters, TimesReadBackToTheSameSampleCountsAtEveryRate) {
    Fixture f;
    const int32_t counts[] = {0, 1, 2, 44, 441, 999, 1000, 99999, 100000, 1000000, -200};
    for (int32_t rate : {8000, 44100, 48000, 96000, 192000}) {
        for (int32_t count : counts) {
            SCOPED_TRACE(std::to_string(count) + " samples at " + std::to_string(rate) + " Hz");
            auto model = f.make();
            fillModel(*model); // the fixture's program, as edited
            auto document = parse(CoreAnsx(fixtureText));
            model->setrt(rate);
            model->getef(3)->setvl(count, count, CoreAnsx(""), count, count, CoreAnsx(""), 0.0, 0, false,
                                   CoreAnsx("OFF"), false, CoreAnsx("OFF"), CoreAnsx("OFF"), false, rate,
                                   false, CoreAnsx("OFF"), CoreAnsx("OFF"), false, 0.0, 1, CoreAnsx("OFF"));
            const double levels[4] = {0.0, 1.0, 0.5, 0.5};
            const int32_t times[4] = {count, count, count, count};
            const int16_t curves[4] = {0, 0, 0, 0};
            model->geten(0)->setvl(CoreAnsx("ON"), CoreAnsx("OFF"), levels, times, curves, 1.0, CoreAnsx(""),
                                   1.0, CoreAnsx(""));
            setRecord(*model, 1, true, count, count, count, count, false);
            commitAndFind(f, *model, *document);
        }
    }
    // At a program rate below 1 the counts are written unchanged.
    auto model = f.make();
    CoreXml_ document;
    model->setrt(0);
    model->getef(0)->setvl(441, 1000, CoreAnsx(""), 1, -200, CoreAnsx(""), 0.0, 0, false, CoreAnsx("OFF"),
                           false, CoreAnsx("OFF"), CoreAnsx("OFF"), false, 0.0, false, CoreAnsx("OFF"),
                           CoreAnsx("OFF"), false, 0.0, 1, CoreAnsx("OFF"));
    model->chgef(&document);
    const CoreNode* evf = child(programOf(document), "EVF1");
    EXPECT_EQ(valueOf(evf, "MINATTACK"), "441");
    EXPECT_EQ(valueOf(evf, "MAXATTACK"), "1000");
    EXPECT_EQ(valueOf(evf, "MINRELEASE"), "1");
    EXPECT_EQ(valueOf(evf, "MAXRELEASE"), "-200");
}

TEST(CoreProgWriters, DocumentsWithoutRootOrProgramGetThem) {
    Fixture f;
    auto model = f.make();
    CoreXml_ rootless;
    model->chgpr(&rootless, false, 0);
    EXPECT_EQ(rootless.getrt(), nullptr);
    commitAndFind(f, *model, rootless);
    ASSERT_NE(rootless.getrt(), nullptr);
    EXPECT_EQ(std::string(rootless.getrt()->gettx().c_str()), "ROOT");
    EXPECT_EQ(childTags(rootless.getrt()), std::vector<std::string>{"PROGRAM"});

    auto other = parse(CoreAnsx("<OTHER> x </OTHER>"));
    commitAndFind(f, *model, *other);
    EXPECT_EQ(childTags(other->getrt()), (std::vector<std::string>{"OTHER", "PROGRAM"}));
    model->chgmx(nullptr); // nothing to write into, nothing to crash
}

TEST(CoreProgWriters, RepeatedContainersAreEditedWhereTheReaderLooks) {
    Fixture f;
    auto model = f.make();
    model->setrt(44100);
    setRecord(*model, 0, true, 441, 441, 4410, 441, true);
    model->setnm(CoreAnsx("Second"));
    model->getpm(0)->setvl(true, CoreAnsx("MIX1"), CoreAnsx(""), CoreAnsx("a"), CoreAnsx("Last"),
                           CoreAnsx(""), CoreAnsx(""), CoreAnsx(""), CoreAnsx(""), 0.0, 1.0, 0.0, 1.0);
    auto document =
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
    commitAndFind(f, *model, *document);
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

TEST(CoreProgWriters, AngleBracketsInUserTextsCannotBreakTheDocument) {
    Fixture f;
    auto model = f.make();
    auto document = parse(CoreAnsx(fixtureText));
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

TEST(CoreProgWriters, NumbersUseADotUnderADecimalCommaLocale) {
    DecimalCommaLocale comma;
    if (!comma.active()) GTEST_SKIP() << "no decimal-comma locale available";
    Fixture f;
    auto model = f.make();
    fillModel(*model);
    auto document = parse(CoreAnsx(fixtureText));
    const CoreAnsx text = commitAndFind(f, *model, *document);
    EXPECT_EQ(std::string(text.c_str()) + "\n", readFile(goldenPath()));
}

} // namespace
