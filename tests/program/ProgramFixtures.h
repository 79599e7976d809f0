// Shared fixtures of the program tests: the fixture document with every kind of section, the model a
// user leaves after editing it, and a reading oracle that applies the program reader's rules to a
// committed text (presence by the raw leaf text, dB, percent, microseconds truncated then tpfup,
// RATIOCURVE as the index, link flags from "OFF"), with the checks that find a model again.
#pragma once
#include "program/CoreProg.h"

#include "CoreProgTestAccess.h"
#include "base/CoreBlnk.h"
#include "base/CoreButl.h"
#include "base/CoreLog_.h"
#include "base/CoreNode.h"
#include "base/CorePool.h"
#include "base/CoreXml_.h"
#include "filestore/CoreFsys.h"
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
#include "tests/common/TempFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace progtest {

using Access = CoreProgTestAccess;

// "%G" keeps six significant digits: values that pass through dB come back that close.
constexpr double relativeDigits = 1e-5;

// ---- the fixture document ------------------------------------------------------------------------

// Every kind of section: header, globals, MIX values, two harmonics with inline vectors (H1 in the
// flat LENGTH/FADEOUT form, H2 in the OT1/OT2 form), one harmonic whose ELEMENT names a vector file,
// RAW and RAWFUN sections, the modulator sections, DISPLAY with a ZELKIIPRM section, and an element
// no writer knows. TRAINTHRESHOLD stands under ELEMENT in H1 and under Hn in H2, as both kinds of
// file exist.
inline const char* const fixtureText = R"(<PROGRAM>
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

inline std::string goldenPath() {
    const std::string source = __FILE__;
    return source.substr(0, source.find_last_of('/') + 1) + "CoreProgWriters_golden.txt";
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// ---- programs and documents ---------------------------------------------------------------------

struct Fixture {
    CorePool pool;
    CoreBlnk blink;

    // Three harmonic records (H1..H3) and the hybrid record; vector files under VECTORS/ of the store.
    std::unique_ptr<CoreProg> make(CoreFsys* files = nullptr) {
        return std::make_unique<CoreProg>(&pool, files, 3, CoreAnsx("VECTORS/"), 500000, 2000000, 1000, 4800,
                                          256, 8192, 4096, &blink, nullptr);
    }
};

inline std::unique_ptr<CoreXml_> parse(const CoreAnsx& text) {
    auto document = std::make_unique<CoreXml_>();
    document->getfc(text);
    return document;
}

inline CoreAnsx compact(const CoreXml_& document) {
    return document.settc(false, false);
}

inline CoreNode* programOf(const CoreXml_& document) {
    return document.getrt() != nullptr ? document.getrt()->getcd(DataXml_::sCtagprogrm) : nullptr;
}

// ---- the reading oracle ---------------------------------------------------------------------------

inline double fromDecibels(double decibels) {
    const int kind = std::fpclassify(decibels);
    if (kind == FP_ZERO || kind == FP_SUBNORMAL) return 1.0;
    return std::pow(10.0, decibels / 20.0);
}

inline int32_t samplesOf(const CoreNode* node, const CoreAnsx& tag, int32_t rate) {
    const int64_t us = static_cast<int64_t>(std::trunc(node != nullptr ? node->getld(tag) : 0.0));
    return static_cast<int32_t>(CoreButl::tpfup(rate, us));
}

inline CoreAnsx textOr(const CoreNode* node, const CoreAnsx& tag, const char* absent) {
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
inline ReadBack readBack(const CoreAnsx& text, int32_t rate, CoreProg& into) {
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
        const CoreAnsx first = DataXml_::sCtagrootef + CoreAnsx(1);
        // The side-chain follower borrows EVF1's section (mode off) when its own is missing.
        const bool borrowed = i == CoreProg::iCfollowers - 1 && !p->exslc(tag) && p->exslc(first);
        if (!p->exslc(tag) && !borrowed) {
            into.getef(i)->setvl();
            continue;
        }
        const CoreNode* s = p->getcd(borrowed ? first : tag);
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
            borrowed
                ? int16_t{9}
                : static_cast<int16_t>(static_cast<int32_t>(CoreNode::gtnld(s, DataXml_::sCtagefexpn, 0.0))),
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

inline double controlValue(CoreParm* control) {
    return control->getvl();
}

// Every modulator and user parameter of the model found again in the reloaded program.
inline void expectModulatorsFound(CoreProg& model, CoreProg& reloaded) {
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
}

// Every value the writers store, found again in what the oracle read.
inline void expectModelFound(CoreProg& model, CoreProg& reloaded, const ReadBack& r) {
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

    expectModulatorsFound(model, reloaded);
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

// ---- the model of the golden commit -------------------------------------------------------------

inline void setRecord(CoreProg& p, int h, bool changed, int32_t second, int32_t fadeout, int32_t third,
                      int32_t cut, bool thirdOn) {
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
inline void fillModel(CoreProg& p) {
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

// ---- reading documents through the reader's steps ------------------------------------------------

inline std::string text(const CoreAnsx& value) {
    return value.c_str();
}
inline std::string num(double value) { // "%G"
    return CoreAnsx(value).c_str();
}

// Documents written compactly: "A{B=1 C{D=x}}" is <A><B>1</B><C><D>x</D></C></A>. A value runs to the
// next blank or brace and may be empty; '_' in it stands for a blank, so "B=_0_" is the framed " 0 ".
inline std::string xml(const std::string& compact) {
    std::string out, word, tag;
    std::vector<std::string> open;
    bool value = false;
    auto flush = [&] {
        if (value) out += "<" + tag + ">" + word + "</" + tag + ">";
        value = false;
        word.clear();
    };
    for (char c : compact) {
        if (c == '{') {
            out += "<" + word + ">";
            open.push_back(word);
            word.clear();
        } else if (c == ' ') {
            flush();
        } else if (c == '}') {
            flush();
            out += "</" + open.back() + ">";
            open.pop_back();
        } else if (c == '=' && !value) {
            tag = word;
            word.clear();
            value = true;
        } else {
            word += c == '_' ? ' ' : c;
        }
    }
    flush();
    return out;
}

// A program over a file store rooted in a fresh folder, logging at level 3 into that folder.
class ReaderTest : public TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        CoreLog_::setpt(base());
        CoreLog_::setfn("reader.log");
        CoreLog_::setdb(3, false);
        files = std::make_unique<CoreFsys>(&filePool, base(), false);
        program = fixture.make(files.get());
        Access::loaded(*program) = true; // as the reader's entry sets it, so that init_ empties the records
    }
    void TearDown() override {
        program.reset();
        files.reset();
        CoreLog_::setpt("");
        TempFolderTest::TearDown();
    }
    CoreAnsx base() const { return CoreAnsx((root.string() + "/").c_str()); }
    // The PROGRAM element of a document of the given children (compact); it lives until the next call.
    CoreNode* programElement(const std::string& children) {
        document.getfc(CoreAnsx(("<PROGRAM>" + xml(children) + "</PROGRAM>").c_str()));
        return programOf(document);
    }
    void write(const std::string& relative, const std::string& text) {
        std::filesystem::create_directories((root / relative).parent_path());
        writeBytes(root / relative, text);
    }
    std::string log() const { return readBytes(root / "reader.log"); }
    // The "Error in ..." lines of the log without those words, in order and joined by '|'; the log starts
    // afresh.
    std::string errors() {
        std::string found;
        std::istringstream lines(log());
        const std::string marker = std::string(CoreLog_::sCerrorprm) + "Error in ";
        for (std::string line; std::getline(lines, line);)
            if (line.find(marker) != std::string::npos)
                found += "|" + line.substr(line.find(marker) + marker.size());
        std::filesystem::remove(root / "reader.log");
        return found;
    }

    Fixture fixture;
    CorePool filePool; // the store's cache of vector files stays apart from what the program holds
    std::unique_ptr<CoreFsys> files;
    std::unique_ptr<CoreProg> program;
    CoreXml_ document;
};

} // namespace progtest
