// The tag table: every member against the element name it must hold, group by group as the XML
// files use them, and the rules all members share.
#include "program/DataXml_.h"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

namespace {

// Built by a static initialiser of this file, which the linker places before the table's own file.
const CoreAnsx copiedAtStartUp = DataXml_::sCtagprogrm;
const CoreAnsx builtAtStartUp = DataXml_::sCtagrootlf + CoreAnsx(2);

struct TagRow { const CoreAnsx* member; const char* memberName; const char* text; };
// clang-format off
#define TAG(member, text) {&DataXml_::member, #member, text}
const TagRow tagRows[] = {
    // Program document: header
    TAG(sCtagprogrm, "PROGRAM"), TAG(sCtagprognm, "NAME"), TAG(sCtagcategr, "CATEGORY"),
    TAG(sCtagsubca1, "SUBCATEGORY1"), TAG(sCtagsubca2, "SUBCATEGORY2"), TAG(sCtagdescrp, "DESCRIPTION"),
    TAG(sCtagactvnm, "VECTORFILENAME"), TAG(sCtagsyncvr, "SYNCVERSION"),
    // Program document: global values
    TAG(sCtaggainou, "GAINOUT"), TAG(sCtaggainin, "GAININ"), TAG(sCtaggnpdou, "GAINPADOUT"),
    TAG(sCtaggnpdin, "GAINPADIN"), TAG(sCtaggainir, "GAINIR"), TAG(sCtaggpitrm, "GAINPADINTRIMSOURCE"),
    TAG(sCtaggpotrm, "GAINPADOUTTRIMSOURCE"), TAG(sCtagrootmx, "MIX"), TAG(sCtagfeedbk, "FEEDBACKFACTOR"),
    TAG(sCtagfbsrce, "FEEDBACKSOURCE"), TAG(sCtaggaindr, "GAINDRYFACTOR"), TAG(sCtaggainds, "GAINDRYSOURCE"),
    TAG(sCtaglookah, "LOOKAHEAD"), TAG(sCtaglasrce, "LOOKAHEADSOURCE"), TAG(sCtagprrate, "PROGRAMRATE"),
    TAG(sCtagsmooth, "SMOOTH"), TAG(sCtagaligbl, "ALIGNBALANCE"), TAG(sCtagaligof, "ALIGNOFFSET"),
    TAG(sCtagtrainm, "TRAINMODE"), TAG(sCtagtraint, "TRAINTHRESHOLD"), TAG(sCtagjittrm, "JITTERMODE"),
    TAG(sCtaghrtf_m, "HRTFMODE"), TAG(sCtagfrcot2, "FORCEOT2"), TAG(sCtagfrcivt, "INVISIBLETHREAD"),
    TAG(sCtagfrchyb, "FORCEHYBRID"), TAG(sCtagmono_m, "FORCEMONO"), TAG(sCtaghsdim_, "HDIM"),
    // Program document: harmonic and raw sections, vector trees (also the vector files)
    TAG(sCtagrooth_, "H"), TAG(sCtagrootrw, "RAW"), TAG(sCtagelemnt, "ELEMENT"), TAG(sCtagvector, "VECTOR"),
    TAG(sCtagcommon, "COMMON"), TAG(sCtagfilenm, "FILENAME"), TAG(sCtagfilept, "FILEPATH"),
    TAG(sCtagweight, "WEIGHT"), TAG(sCtagbuswgt, "BUSWEIGHT"), TAG(sCtagcontrl, "CONTROL"),
    TAG(sCtagmnvalu, "MINVALUE"), TAG(sCtagmxvalu, "MAXVALUE"), TAG(sCtagmnbusv, "BUSMINVALUE"),
    TAG(sCtagmxbusv, "BUSMAXVALUE"), TAG(sCtaguntval, "UNITVALUE"), TAG(sCtagliquid, "LIQUIDFACTOR"),
    TAG(sCtaglqsrce, "LIQUIDSOURCE"), TAG(sCtagswtchm, "SWITCHMODE"), TAG(sCtagoffset, "OFFSET"),
    TAG(sCtagfadein, "FADEIN"), TAG(sCtagfadeic, "FADEINCURVE"), TAG(sCtagfadeou, "FADEOUT"),
    TAG(sCtagfadeoc, "FADEOUTCURVE"), TAG(sCtagopttyp, "OT"), TAG(sCtaglength, "LENGTH"),
    TAG(sCtaggainpd, "GAINPADFACTOR"), TAG(sCtaggainps, "GAINPADSOURCE"), TAG(sCtaggnsrce, "GAINSOURCE"),
    TAG(sCtaggainhd, "GAINHANDLE"), TAG(sCtaggainlm, "GAINLIMITER"), TAG(sCtagsource, "SOURCE"),
    TAG(sCtagbussrc, "BUSSOURCE"), TAG(sCtagpanfct, "PANFACTOR"), TAG(sCtagpnsrce, "PANSOURCE"),
    // Program document: LFO sections ("RATELFO" is only the key stem of the LFOs' rate sources)
    TAG(sCtagrootlf, "LFO"), TAG(sCtaglforto, "RATELFO"), TAG(sCtagmnrate, "MINRATE"),
    TAG(sCtagmxrate, "MAXRATE"), TAG(sCtaglfortq, "RATEQUANTIZE"), TAG(sCtagshape_, "SHAPE"),
    TAG(sCtagphasef, "PHASEFACTOR"), TAG(sCtagphases, "PHASESOURCE"),
    // Program document: function and raw-function sections
    TAG(sCtagrootfn, "FUN"), TAG(sCtagfuncta, "A"), TAG(sCtagfunctb, "B"), TAG(sCtagfunctc, "C"),
    TAG(sCtagfunctd, "D"), TAG(sCtagrootrf, "RAWFUN"),
    // Program document: envelope sections
    TAG(sCtagrootev, "ENV"), TAG(sCtagacsrce, "ACTIVSOURCE"), TAG(sCtagdasrce, "DEACTIVSOURCE"),
    TAG(sCtagevlevl, "LEVEL"), TAG(sCtagevtime, "TIME"), TAG(sCtagevcrve, "CURVE"), TAG(sCtagevstrt, "START"),
    TAG(sCtagevattc, "ATTACK"), TAG(sCtagevbrea, "BREAK"), TAG(sCtagevsust, "SUSTAIN"),
    TAG(sCtagevdecy, "DECAY"), TAG(sCtagevslpe, "SLOPE"), TAG(sCtagevrlse, "RELEASE"),
    TAG(sCtagmodfct, "MODFACTOR"), TAG(sCtagmdsrce, "MODSOURCE"),
    // Program document: envelope-follower sections ("EAT" and "ERT" are only key stems of the followers'
    // attack- and release-time sources)
    TAG(sCtagrootef, "EVF"), TAG(sCtagrootea, "EAT"), TAG(sCtagrooter, "ERT"),
    TAG(sCtagefenet, "ENABLEEATERT"), TAG(sCtagefoutp, "OUTPUTBALANCE"), TAG(sCtagefbbsr, "BUSBALANCESOURCE"),
    TAG(sCtagefdatt, "DATTACKSOURCE"), TAG(sCtagefdrel, "DRELEASESOURCE"), TAG(sCtagefoatt, "OATTACKSOURCE"),
    TAG(sCtageforel, "ORELEASESOURCE"), TAG(sCtagefexpn, "EXP"), TAG(sCtagattkmn, "MINATTACK"),
    TAG(sCtagattkmx, "MAXATTACK"), TAG(sCtagrlsemn, "MINRELEASE"), TAG(sCtagrlsemx, "MAXRELEASE"),
    TAG(sCtagatsrce, "ATTACKSOURCE"), TAG(sCtagrlsrce, "RELEASESOURCE"), TAG(sCtagfltfre, "FILTERFREQUENCY"),
    TAG(sCtagfltord, "FILTERORDER"), TAG(sCtagfilter, "FILTERSOURCE"),
    // Program document: dynamics sections
    TAG(sCtagrootdn, "DNM"), TAG(sCtagtrsrce, "THRESHOLDSOURCE"), TAG(sCtaginsrce, "INPUTSOURCE"),
    TAG(sCtagrcsrce, "RATIOCOMSOURCE"), TAG(sCtagresrce, "RATIOEXPSOURCE"), TAG(sCtagdnrtcv, "RATIOCURVE"),
    TAG(sCtagdnrnge, "RANGELIMIT"),
    // Program document: parameter display sections
    TAG(sCtagrootds, "DISPLAY"), TAG(sCtagrootpm, "PRM"), TAG(sCtagroot2p, "ZELKIIPRM"),
    TAG(sCtagdsprlb, "PRELABEL"), TAG(sCtagdslabl, "LABEL"), TAG(sCtagdsprun, "PREUNIT"),
    TAG(sCtagdspoun, "POSTUNIT"), TAG(sCtagdsunit, "UNIT"), TAG(sCtagmnbrvl, "BARMINVALUE"),
    TAG(sCtagmxbrvl, "BARMAXVALUE"), TAG(sCtadsvisbl, "VISIBLE"),
    // Bank setup file
    TAG(sCtagsetup_, "SETUP"), TAG(sCtagload__, "LOAD"), TAG(sCtagsequen, "SEQUENCE"),
    // Program cache file
    TAG(sCtagcache_, "CACHE"), TAG(sCtagorgfnm, "ORIGINALFILENAME"), TAG(sCtagwaspac, "WASCRYPTED"),
    TAG(sCtagcachef, "CACHEDFILE"),
    // Host chunk
    TAG(sCtagselprg, "SELECTEDPROGRAM"),
    // Master settings file
    TAG(sCtagmaster, "MASTER"), TAG(sCtagmagic_, "MAGIC"), TAG(sCtaggurate, "GUIRATE"),
    TAG(sCtagprgspt, "PROGRAMSUBPATH"), TAG(sCtagvecspt, "VECTORSUBPATH"), TAG(sCtagsetspt, "SETUPSUBPATH"),
    TAG(sCtagsknspt, "SKINSUBPATH"), TAG(sCtagccespt, "CACHESUBPATH"), TAG(sCtagdctspt, "DICTIONARYSUBPATH"),
    TAG(sCtagsknsnm, "SKINNAME"), TAG(sCtagsetrnm, "SETUPROMNAME"), TAG(sCtagdctrnm, "DICTIONARYROMNAME"),
    TAG(sCtagdtapth, "DATAPATH"), TAG(sCtagadtpth, "ALTERNATIVEDATAPATH"), TAG(sCtagdebugl, "DL"),
    TAG(sCtagfastbt, "FASTBOOT"), TAG(sCtagforcel, "LTIMED"), TAG(sCtagforclf, "LFREQD"),
    TAG(sCtagforceo, "FORCEOFFSET"), TAG(sCtagwbuffr, "WORKBUFFER"), TAG(sCtagdbuffr, "DSPBUFFER"),
    TAG(sCtagthread, "THREADS"), TAG(sCtagthdmin, "THREADSMINDIM"), TAG(sCtagmtrtyp, "METERTYPE"),
    TAG(sCtagoptimz, "OTIMED"), TAG(sCtagoptimf, "OFREQD"), TAG(sCtagexport, "EXPORTAUDIOQUALITY"),
    TAG(sCtaghsdimm, "HDIMMAX"), TAG(sCtagbpmdef, "BPMDEFAULT"), TAG(sCtagaheadl, "AHEADLENGTH"),
    TAG(sCtagscanbt, "SCANBOOT"), TAG(sCtagratecv, "RATECONVERSION"), TAG(sCtagcolour, "FONTCOLOUR"),
    TAG(sCtagnodrop, "NODROP"), TAG(sCtagmstmix, "MIDISTSMIX"), TAG(sCtagmctmix, "MIDICTRMIX"),
    TAG(sCtagautoth, "AUTOTHREAD"), TAG(sCtagloadrp, "LOADERPRIORITY"), TAG(sCtagfixedq, "FIXEDQUALITY"),
    TAG(sCtagmode__, "MODE"), TAG(sCtagsrvadd, "SERVERADDRESS"), TAG(sCtagsrvprt, "SERVERPORT"),
    TAG(sCtagforcol, "FORCOLUMN"), TAG(sCtagprotdb, "PROTECTIONDB"), TAG(sCtaglegstc, "LEGACYSTEREOCHANNEL"),
    TAG(sCtagrfrovf, "REFRESHOVERFLOW"), TAG(sCtagippthr, "IPPTHREADS"),
    // Skin description (its own "MIX", "GAININ", "GAINOUT" and two "LED" members)
    TAG(sCtagskin__, "SKIN"), TAG(sCtagfonts_, "FONTS"), TAG(sCtagfontnm, "FONTNAME"),
    TAG(sCtagfont1_, "FONT1"), TAG(sCtagfont2_, "FONT2"), TAG(sCtagfontng, "FONTNEG"),
    TAG(sCtagbackgr, "BACKGROUND"), TAG(sCtagdisplx, "DISPLAYX"), TAG(sCtagdisply, "DISPLAYY"),
    TAG(sCtagdiaddx, "DISPLAYADDX"), TAG(sCtagdiaddy, "DISPLAYADDY"), TAG(sCtagdisptp, "DISPLAYTOP"),
    TAG(sCtagdispbt, "DISPLAYBOTTOM"), TAG(sCtagdisplf, "DISPLAYLEFT"), TAG(sCtagdisprg, "DISPLAYRIGHT"),
    TAG(sCtagdaddtp, "DISPLAYADDTOP"), TAG(sCtagdaddbt, "DISPLAYADDBOTTOM"),
    TAG(sCtagdaddlf, "DISPLAYADDLEFT"), TAG(sCtagdaddrg, "DISPLAYADDRIGHT"),
    TAG(sCtagdaddch, "DISPLAYADDCHARS"), TAG(sCtagslidrs, "SLIDERS"), TAG(sCtagmixrt_, "MIX"),
    TAG(sCtagslgaii, "GAININ"), TAG(sCtagslgaio, "GAINOUT"), TAG(sCtagslminx, "SLIDERMINX"),
    TAG(sCtagslminy, "SLIDERMINY"), TAG(sCtagslmaxx, "SLIDERMAXX"), TAG(sCtagslmaxy, "SLIDERMAXY"),
    TAG(sCtagslheig, "SLIDERHEIGHT"), TAG(sCtagslider, "SLIDER"), TAG(sCtagledtop, "LEDTOP"),
    TAG(sCtagledtpx, "LEDTOPX"), TAG(sCtagledtpy, "LEDTOPY"), TAG(sCtagledbot, "LEDBOTTOM"),
    TAG(sCtagledbtx, "LEDBOTTOMX"), TAG(sCtagledbty, "LEDBOTTOMY"), TAG(sCtagglobal, "GLOBAL"),
    TAG(sCtagledovf, "LEDOVERFLOW"), TAG(sCtagledbyp, "LEDBYPASS"), TAG(sCtagledbmp, "LED"),
    TAG(sCtagledbmx, "LEDX"), TAG(sCtagledbmy, "LEDY"), TAG(sCtagledbdb, "LEDDB"), TAG(sCtagleobmp, "LEDOFF"),
    TAG(sCtagleobmx, "LEDOFFX"), TAG(sCtagleobmy, "LEDOFFY"), TAG(sCtagledfrm, "FRAMES"),
    TAG(sCtagmeters, "METERS"), TAG(sCtagmetrt_, "METER"), TAG(sCtagledrt_, "LED"),
    TAG(sCtagmetrgm, "GROUPMODE"), TAG(sCtagknobm_, "KNOBMODE"), TAG(sCtagpadro_, "PADXY"),
    TAG(sCtagpadcx_, "CONTROLX"), TAG(sCtagpadcy_, "CONTROLY"), TAG(sCtagpadmap, "MAP"),
    TAG(sCtagbutton, "BUTTON"), TAG(sCtagbttonx, "BUTTONX"), TAG(sCtagbttony, "BUTTONY"),
    // Dictionary file
    TAG(sCtagdictry, "DICTIONARY"),
};
// clang-format on

TEST(DataXml_, EveryMemberHoldsItsUpperCaseElementNameUnderTheNamingScheme) {
    for (const TagRow& row : tagRows) {
        SCOPED_TRACE(row.memberName);
        EXPECT_STREQ(row.member->c_str(), row.text);
        EXPECT_TRUE(row.member->Length() > 0 && *row.member == row.member->UpperCase());
        EXPECT_EQ(std::strlen(row.memberName), 11u);
        EXPECT_TRUE(std::strncmp(row.memberName, "sCtag", 5) == 0 ||
                    std::string(row.memberName) == "sCtadsvisbl");
    }
}

TEST(DataXml_, StaticInitialisersElsewhereSeeTheNames) {
    EXPECT_EQ(copiedAtStartUp, CoreAnsx("PROGRAM"));
    EXPECT_EQ(builtAtStartUp, CoreAnsx("LFO2"));
}

TEST(DataXml_, OnlyTheSkinRepeatsNames) {
    std::multiset<std::string> texts;
    for (const TagRow& row : tagRows) texts.insert(row.member->c_str());
    std::set<std::string> repeated;
    for (const std::string& text : texts)
        if (texts.count(text) > 1) repeated.insert(text);
    EXPECT_EQ(repeated, (std::set<std::string>{"GAININ", "GAINOUT", "LED", "MIX"}));
    EXPECT_EQ(texts.count("LED"), 2u);
}

} // namespace
