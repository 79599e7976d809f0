// The tag table: every member against the element name it must hold, group by group as the XML
// files use them, and the rules all members share.
#include "program/DataXml_.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <set>
#include <string>

namespace {

// Built by a static initialiser of this file, which the linker places before the table's own file.
const CoreAnsx copiedAtStartUp = DataXml_::sCtagprogrm;
const CoreAnsx builtAtStartUp = DataXml_::sCtagrootlf + CoreAnsx(2);

struct TagRow {
    const CoreAnsx* member;
    const char* memberName;
    const char* text;
};

const TagRow tagRows[] = {
    // Program document: header
    {&DataXml_::sCtagprogrm, "sCtagprogrm", "PROGRAM"},
    {&DataXml_::sCtagprognm, "sCtagprognm", "NAME"},
    {&DataXml_::sCtagcategr, "sCtagcategr", "CATEGORY"},
    {&DataXml_::sCtagsubca1, "sCtagsubca1", "SUBCATEGORY1"},
    {&DataXml_::sCtagsubca2, "sCtagsubca2", "SUBCATEGORY2"},
    {&DataXml_::sCtagdescrp, "sCtagdescrp", "DESCRIPTION"},
    {&DataXml_::sCtagactvnm, "sCtagactvnm", "VECTORFILENAME"},
    {&DataXml_::sCtagsyncvr, "sCtagsyncvr", "SYNCVERSION"},
    // Program document: global values
    {&DataXml_::sCtaggainou, "sCtaggainou", "GAINOUT"},
    {&DataXml_::sCtaggainin, "sCtaggainin", "GAININ"},
    {&DataXml_::sCtaggnpdou, "sCtaggnpdou", "GAINPADOUT"},
    {&DataXml_::sCtaggnpdin, "sCtaggnpdin", "GAINPADIN"},
    {&DataXml_::sCtaggainir, "sCtaggainir", "GAINIR"},
    {&DataXml_::sCtaggpitrm, "sCtaggpitrm", "GAINPADINTRIMSOURCE"},
    {&DataXml_::sCtaggpotrm, "sCtaggpotrm", "GAINPADOUTTRIMSOURCE"},
    {&DataXml_::sCtagrootmx, "sCtagrootmx", "MIX"},
    {&DataXml_::sCtagfeedbk, "sCtagfeedbk", "FEEDBACKFACTOR"},
    {&DataXml_::sCtagfbsrce, "sCtagfbsrce", "FEEDBACKSOURCE"},
    {&DataXml_::sCtaggaindr, "sCtaggaindr", "GAINDRYFACTOR"},
    {&DataXml_::sCtaggainds, "sCtaggainds", "GAINDRYSOURCE"},
    {&DataXml_::sCtaglookah, "sCtaglookah", "LOOKAHEAD"},
    {&DataXml_::sCtaglasrce, "sCtaglasrce", "LOOKAHEADSOURCE"},
    {&DataXml_::sCtagprrate, "sCtagprrate", "PROGRAMRATE"},
    {&DataXml_::sCtagsmooth, "sCtagsmooth", "SMOOTH"},
    {&DataXml_::sCtagaligbl, "sCtagaligbl", "ALIGNBALANCE"},
    {&DataXml_::sCtagaligof, "sCtagaligof", "ALIGNOFFSET"},
    {&DataXml_::sCtagtrainm, "sCtagtrainm", "TRAINMODE"},
    {&DataXml_::sCtagtraint, "sCtagtraint", "TRAINTHRESHOLD"},
    {&DataXml_::sCtagjittrm, "sCtagjittrm", "JITTERMODE"},
    {&DataXml_::sCtaghrtf_m, "sCtaghrtf_m", "HRTFMODE"},
    {&DataXml_::sCtagfrcot2, "sCtagfrcot2", "FORCEOT2"},
    {&DataXml_::sCtagfrcivt, "sCtagfrcivt", "INVISIBLETHREAD"},
    {&DataXml_::sCtagfrchyb, "sCtagfrchyb", "FORCEHYBRID"},
    {&DataXml_::sCtagmono_m, "sCtagmono_m", "FORCEMONO"},
    {&DataXml_::sCtaghsdim_, "sCtaghsdim_", "HDIM"},
    // Program document: harmonic and raw sections, vector trees (also the vector files)
    {&DataXml_::sCtagrooth_, "sCtagrooth_", "H"},
    {&DataXml_::sCtagrootrw, "sCtagrootrw", "RAW"},
    {&DataXml_::sCtagelemnt, "sCtagelemnt", "ELEMENT"},
    {&DataXml_::sCtagvector, "sCtagvector", "VECTOR"},
    {&DataXml_::sCtagcommon, "sCtagcommon", "COMMON"},
    {&DataXml_::sCtagfilenm, "sCtagfilenm", "FILENAME"},
    {&DataXml_::sCtagfilept, "sCtagfilept", "FILEPATH"},
    {&DataXml_::sCtagweight, "sCtagweight", "WEIGHT"},
    {&DataXml_::sCtagbuswgt, "sCtagbuswgt", "BUSWEIGHT"},
    {&DataXml_::sCtagcontrl, "sCtagcontrl", "CONTROL"},
    {&DataXml_::sCtagmnvalu, "sCtagmnvalu", "MINVALUE"},
    {&DataXml_::sCtagmxvalu, "sCtagmxvalu", "MAXVALUE"},
    {&DataXml_::sCtagmnbusv, "sCtagmnbusv", "BUSMINVALUE"},
    {&DataXml_::sCtagmxbusv, "sCtagmxbusv", "BUSMAXVALUE"},
    {&DataXml_::sCtaguntval, "sCtaguntval", "UNITVALUE"},
    {&DataXml_::sCtagliquid, "sCtagliquid", "LIQUIDFACTOR"},
    {&DataXml_::sCtaglqsrce, "sCtaglqsrce", "LIQUIDSOURCE"},
    {&DataXml_::sCtagswtchm, "sCtagswtchm", "SWITCHMODE"},
    {&DataXml_::sCtagoffset, "sCtagoffset", "OFFSET"},
    {&DataXml_::sCtagfadein, "sCtagfadein", "FADEIN"},
    {&DataXml_::sCtagfadeic, "sCtagfadeic", "FADEINCURVE"},
    {&DataXml_::sCtagfadeou, "sCtagfadeou", "FADEOUT"},
    {&DataXml_::sCtagfadeoc, "sCtagfadeoc", "FADEOUTCURVE"},
    {&DataXml_::sCtagopttyp, "sCtagopttyp", "OT"},
    {&DataXml_::sCtaglength, "sCtaglength", "LENGTH"},
    {&DataXml_::sCtaggainpd, "sCtaggainpd", "GAINPADFACTOR"},
    {&DataXml_::sCtaggainps, "sCtaggainps", "GAINPADSOURCE"},
    {&DataXml_::sCtaggnsrce, "sCtaggnsrce", "GAINSOURCE"},
    {&DataXml_::sCtaggainhd, "sCtaggainhd", "GAINHANDLE"},
    {&DataXml_::sCtaggainlm, "sCtaggainlm", "GAINLIMITER"},
    {&DataXml_::sCtagsource, "sCtagsource", "SOURCE"},
    {&DataXml_::sCtagbussrc, "sCtagbussrc", "BUSSOURCE"},
    {&DataXml_::sCtagpanfct, "sCtagpanfct", "PANFACTOR"},
    {&DataXml_::sCtagpnsrce, "sCtagpnsrce", "PANSOURCE"},
    // Program document: LFO sections ("RATELFO" is only the key stem of the LFOs' rate sources)
    {&DataXml_::sCtagrootlf, "sCtagrootlf", "LFO"},
    {&DataXml_::sCtaglforto, "sCtaglforto", "RATELFO"},
    {&DataXml_::sCtagmnrate, "sCtagmnrate", "MINRATE"},
    {&DataXml_::sCtagmxrate, "sCtagmxrate", "MAXRATE"},
    {&DataXml_::sCtaglfortq, "sCtaglfortq", "RATEQUANTIZE"},
    {&DataXml_::sCtagshape_, "sCtagshape_", "SHAPE"},
    {&DataXml_::sCtagphasef, "sCtagphasef", "PHASEFACTOR"},
    {&DataXml_::sCtagphases, "sCtagphases", "PHASESOURCE"},
    // Program document: function and raw-function sections
    {&DataXml_::sCtagrootfn, "sCtagrootfn", "FUN"},
    {&DataXml_::sCtagfuncta, "sCtagfuncta", "A"},
    {&DataXml_::sCtagfunctb, "sCtagfunctb", "B"},
    {&DataXml_::sCtagfunctc, "sCtagfunctc", "C"},
    {&DataXml_::sCtagfunctd, "sCtagfunctd", "D"},
    {&DataXml_::sCtagrootrf, "sCtagrootrf", "RAWFUN"},
    // Program document: envelope sections
    {&DataXml_::sCtagrootev, "sCtagrootev", "ENV"},
    {&DataXml_::sCtagacsrce, "sCtagacsrce", "ACTIVSOURCE"},
    {&DataXml_::sCtagdasrce, "sCtagdasrce", "DEACTIVSOURCE"},
    {&DataXml_::sCtagevlevl, "sCtagevlevl", "LEVEL"},
    {&DataXml_::sCtagevtime, "sCtagevtime", "TIME"},
    {&DataXml_::sCtagevcrve, "sCtagevcrve", "CURVE"},
    {&DataXml_::sCtagevstrt, "sCtagevstrt", "START"},
    {&DataXml_::sCtagevattc, "sCtagevattc", "ATTACK"},
    {&DataXml_::sCtagevbrea, "sCtagevbrea", "BREAK"},
    {&DataXml_::sCtagevsust, "sCtagevsust", "SUSTAIN"},
    {&DataXml_::sCtagevdecy, "sCtagevdecy", "DECAY"},
    {&DataXml_::sCtagevslpe, "sCtagevslpe", "SLOPE"},
    {&DataXml_::sCtagevrlse, "sCtagevrlse", "RELEASE"},
    {&DataXml_::sCtagmodfct, "sCtagmodfct", "MODFACTOR"},
    {&DataXml_::sCtagmdsrce, "sCtagmdsrce", "MODSOURCE"},
    // Program document: envelope-follower sections ("EAT" and "ERT" are only key stems of the followers'
    // attack- and release-time sources)
    {&DataXml_::sCtagrootef, "sCtagrootef", "EVF"},
    {&DataXml_::sCtagrootea, "sCtagrootea", "EAT"},
    {&DataXml_::sCtagrooter, "sCtagrooter", "ERT"},
    {&DataXml_::sCtagefenet, "sCtagefenet", "ENABLEEATERT"},
    {&DataXml_::sCtagefoutp, "sCtagefoutp", "OUTPUTBALANCE"},
    {&DataXml_::sCtagefbbsr, "sCtagefbbsr", "BUSBALANCESOURCE"},
    {&DataXml_::sCtagefdatt, "sCtagefdatt", "DATTACKSOURCE"},
    {&DataXml_::sCtagefdrel, "sCtagefdrel", "DRELEASESOURCE"},
    {&DataXml_::sCtagefoatt, "sCtagefoatt", "OATTACKSOURCE"},
    {&DataXml_::sCtageforel, "sCtageforel", "ORELEASESOURCE"},
    {&DataXml_::sCtagefexpn, "sCtagefexpn", "EXP"},
    {&DataXml_::sCtagattkmn, "sCtagattkmn", "MINATTACK"},
    {&DataXml_::sCtagattkmx, "sCtagattkmx", "MAXATTACK"},
    {&DataXml_::sCtagrlsemn, "sCtagrlsemn", "MINRELEASE"},
    {&DataXml_::sCtagrlsemx, "sCtagrlsemx", "MAXRELEASE"},
    {&DataXml_::sCtagatsrce, "sCtagatsrce", "ATTACKSOURCE"},
    {&DataXml_::sCtagrlsrce, "sCtagrlsrce", "RELEASESOURCE"},
    {&DataXml_::sCtagfltfre, "sCtagfltfre", "FILTERFREQUENCY"},
    {&DataXml_::sCtagfltord, "sCtagfltord", "FILTERORDER"},
    {&DataXml_::sCtagfilter, "sCtagfilter", "FILTERSOURCE"},
    // Program document: dynamics sections
    {&DataXml_::sCtagrootdn, "sCtagrootdn", "DNM"},
    {&DataXml_::sCtagtrsrce, "sCtagtrsrce", "THRESHOLDSOURCE"},
    {&DataXml_::sCtaginsrce, "sCtaginsrce", "INPUTSOURCE"},
    {&DataXml_::sCtagrcsrce, "sCtagrcsrce", "RATIOCOMSOURCE"},
    {&DataXml_::sCtagresrce, "sCtagresrce", "RATIOEXPSOURCE"},
    {&DataXml_::sCtagdnrtcv, "sCtagdnrtcv", "RATIOCURVE"},
    {&DataXml_::sCtagdnrnge, "sCtagdnrnge", "RANGELIMIT"},
    // Program document: parameter display sections
    {&DataXml_::sCtagrootds, "sCtagrootds", "DISPLAY"},
    {&DataXml_::sCtagrootpm, "sCtagrootpm", "PRM"},
    {&DataXml_::sCtagroot2p, "sCtagroot2p", "ZELKIIPRM"},
    {&DataXml_::sCtagdsprlb, "sCtagdsprlb", "PRELABEL"},
    {&DataXml_::sCtagdslabl, "sCtagdslabl", "LABEL"},
    {&DataXml_::sCtagdsprun, "sCtagdsprun", "PREUNIT"},
    {&DataXml_::sCtagdspoun, "sCtagdspoun", "POSTUNIT"},
    {&DataXml_::sCtagdsunit, "sCtagdsunit", "UNIT"},
    {&DataXml_::sCtagmnbrvl, "sCtagmnbrvl", "BARMINVALUE"},
    {&DataXml_::sCtagmxbrvl, "sCtagmxbrvl", "BARMAXVALUE"},
    {&DataXml_::sCtadsvisbl, "sCtadsvisbl", "VISIBLE"},
    // Bank setup file
    {&DataXml_::sCtagsetup_, "sCtagsetup_", "SETUP"},
    {&DataXml_::sCtagload__, "sCtagload__", "LOAD"},
    {&DataXml_::sCtagsequen, "sCtagsequen", "SEQUENCE"},
    // Program cache file
    {&DataXml_::sCtagcache_, "sCtagcache_", "CACHE"},
    {&DataXml_::sCtagorgfnm, "sCtagorgfnm", "ORIGINALFILENAME"},
    {&DataXml_::sCtagwaspac, "sCtagwaspac", "WASCRYPTED"},
    {&DataXml_::sCtagcachef, "sCtagcachef", "CACHEDFILE"},
    // Host chunk
    {&DataXml_::sCtagselprg, "sCtagselprg", "SELECTEDPROGRAM"},
    // Master settings file
    {&DataXml_::sCtagmaster, "sCtagmaster", "MASTER"},
    {&DataXml_::sCtagmagic_, "sCtagmagic_", "MAGIC"},
    {&DataXml_::sCtaggurate, "sCtaggurate", "GUIRATE"},
    {&DataXml_::sCtagprgspt, "sCtagprgspt", "PROGRAMSUBPATH"},
    {&DataXml_::sCtagvecspt, "sCtagvecspt", "VECTORSUBPATH"},
    {&DataXml_::sCtagsetspt, "sCtagsetspt", "SETUPSUBPATH"},
    {&DataXml_::sCtagsknspt, "sCtagsknspt", "SKINSUBPATH"},
    {&DataXml_::sCtagccespt, "sCtagccespt", "CACHESUBPATH"},
    {&DataXml_::sCtagdctspt, "sCtagdctspt", "DICTIONARYSUBPATH"},
    {&DataXml_::sCtagsknsnm, "sCtagsknsnm", "SKINNAME"},
    {&DataXml_::sCtagsetrnm, "sCtagsetrnm", "SETUPROMNAME"},
    {&DataXml_::sCtagdctrnm, "sCtagdctrnm", "DICTIONARYROMNAME"},
    {&DataXml_::sCtagdtapth, "sCtagdtapth", "DATAPATH"},
    {&DataXml_::sCtagadtpth, "sCtagadtpth", "ALTERNATIVEDATAPATH"},
    {&DataXml_::sCtagdebugl, "sCtagdebugl", "DL"},
    {&DataXml_::sCtagfastbt, "sCtagfastbt", "FASTBOOT"},
    {&DataXml_::sCtagforcel, "sCtagforcel", "LTIMED"},
    {&DataXml_::sCtagforclf, "sCtagforclf", "LFREQD"},
    {&DataXml_::sCtagforceo, "sCtagforceo", "FORCEOFFSET"},
    {&DataXml_::sCtagwbuffr, "sCtagwbuffr", "WORKBUFFER"},
    {&DataXml_::sCtagdbuffr, "sCtagdbuffr", "DSPBUFFER"},
    {&DataXml_::sCtagthread, "sCtagthread", "THREADS"},
    {&DataXml_::sCtagthdmin, "sCtagthdmin", "THREADSMINDIM"},
    {&DataXml_::sCtagmtrtyp, "sCtagmtrtyp", "METERTYPE"},
    {&DataXml_::sCtagoptimz, "sCtagoptimz", "OTIMED"},
    {&DataXml_::sCtagoptimf, "sCtagoptimf", "OFREQD"},
    {&DataXml_::sCtagexport, "sCtagexport", "EXPORTAUDIOQUALITY"},
    {&DataXml_::sCtaghsdimm, "sCtaghsdimm", "HDIMMAX"},
    {&DataXml_::sCtagbpmdef, "sCtagbpmdef", "BPMDEFAULT"},
    {&DataXml_::sCtagaheadl, "sCtagaheadl", "AHEADLENGTH"},
    {&DataXml_::sCtagscanbt, "sCtagscanbt", "SCANBOOT"},
    {&DataXml_::sCtagratecv, "sCtagratecv", "RATECONVERSION"},
    {&DataXml_::sCtagcolour, "sCtagcolour", "FONTCOLOUR"},
    {&DataXml_::sCtagnodrop, "sCtagnodrop", "NODROP"},
    {&DataXml_::sCtagmstmix, "sCtagmstmix", "MIDISTSMIX"},
    {&DataXml_::sCtagmctmix, "sCtagmctmix", "MIDICTRMIX"},
    {&DataXml_::sCtagautoth, "sCtagautoth", "AUTOTHREAD"},
    {&DataXml_::sCtagloadrp, "sCtagloadrp", "LOADERPRIORITY"},
    {&DataXml_::sCtagfixedq, "sCtagfixedq", "FIXEDQUALITY"},
    {&DataXml_::sCtagmode__, "sCtagmode__", "MODE"},
    {&DataXml_::sCtagsrvadd, "sCtagsrvadd", "SERVERADDRESS"},
    {&DataXml_::sCtagsrvprt, "sCtagsrvprt", "SERVERPORT"},
    {&DataXml_::sCtagforcol, "sCtagforcol", "FORCOLUMN"},
    {&DataXml_::sCtagprotdb, "sCtagprotdb", "PROTECTIONDB"},
    {&DataXml_::sCtaglegstc, "sCtaglegstc", "LEGACYSTEREOCHANNEL"},
    {&DataXml_::sCtagrfrovf, "sCtagrfrovf", "REFRESHOVERFLOW"},
    {&DataXml_::sCtagippthr, "sCtagippthr", "IPPTHREADS"},
    // Skin description (its own "MIX", "GAININ", "GAINOUT" and two "LED" members)
    {&DataXml_::sCtagskin__, "sCtagskin__", "SKIN"},
    {&DataXml_::sCtagfonts_, "sCtagfonts_", "FONTS"},
    {&DataXml_::sCtagfontnm, "sCtagfontnm", "FONTNAME"},
    {&DataXml_::sCtagfont1_, "sCtagfont1_", "FONT1"},
    {&DataXml_::sCtagfont2_, "sCtagfont2_", "FONT2"},
    {&DataXml_::sCtagfontng, "sCtagfontng", "FONTNEG"},
    {&DataXml_::sCtagbackgr, "sCtagbackgr", "BACKGROUND"},
    {&DataXml_::sCtagdisplx, "sCtagdisplx", "DISPLAYX"},
    {&DataXml_::sCtagdisply, "sCtagdisply", "DISPLAYY"},
    {&DataXml_::sCtagdiaddx, "sCtagdiaddx", "DISPLAYADDX"},
    {&DataXml_::sCtagdiaddy, "sCtagdiaddy", "DISPLAYADDY"},
    {&DataXml_::sCtagdisptp, "sCtagdisptp", "DISPLAYTOP"},
    {&DataXml_::sCtagdispbt, "sCtagdispbt", "DISPLAYBOTTOM"},
    {&DataXml_::sCtagdisplf, "sCtagdisplf", "DISPLAYLEFT"},
    {&DataXml_::sCtagdisprg, "sCtagdisprg", "DISPLAYRIGHT"},
    {&DataXml_::sCtagdaddtp, "sCtagdaddtp", "DISPLAYADDTOP"},
    {&DataXml_::sCtagdaddbt, "sCtagdaddbt", "DISPLAYADDBOTTOM"},
    {&DataXml_::sCtagdaddlf, "sCtagdaddlf", "DISPLAYADDLEFT"},
    {&DataXml_::sCtagdaddrg, "sCtagdaddrg", "DISPLAYADDRIGHT"},
    {&DataXml_::sCtagdaddch, "sCtagdaddch", "DISPLAYADDCHARS"},
    {&DataXml_::sCtagslidrs, "sCtagslidrs", "SLIDERS"},
    {&DataXml_::sCtagmixrt_, "sCtagmixrt_", "MIX"},
    {&DataXml_::sCtagslgaii, "sCtagslgaii", "GAININ"},
    {&DataXml_::sCtagslgaio, "sCtagslgaio", "GAINOUT"},
    {&DataXml_::sCtagslminx, "sCtagslminx", "SLIDERMINX"},
    {&DataXml_::sCtagslminy, "sCtagslminy", "SLIDERMINY"},
    {&DataXml_::sCtagslmaxx, "sCtagslmaxx", "SLIDERMAXX"},
    {&DataXml_::sCtagslmaxy, "sCtagslmaxy", "SLIDERMAXY"},
    {&DataXml_::sCtagslheig, "sCtagslheig", "SLIDERHEIGHT"},
    {&DataXml_::sCtagslider, "sCtagslider", "SLIDER"},
    {&DataXml_::sCtagledtop, "sCtagledtop", "LEDTOP"},
    {&DataXml_::sCtagledtpx, "sCtagledtpx", "LEDTOPX"},
    {&DataXml_::sCtagledtpy, "sCtagledtpy", "LEDTOPY"},
    {&DataXml_::sCtagledbot, "sCtagledbot", "LEDBOTTOM"},
    {&DataXml_::sCtagledbtx, "sCtagledbtx", "LEDBOTTOMX"},
    {&DataXml_::sCtagledbty, "sCtagledbty", "LEDBOTTOMY"},
    {&DataXml_::sCtagglobal, "sCtagglobal", "GLOBAL"},
    {&DataXml_::sCtagledovf, "sCtagledovf", "LEDOVERFLOW"},
    {&DataXml_::sCtagledbyp, "sCtagledbyp", "LEDBYPASS"},
    {&DataXml_::sCtagledbmp, "sCtagledbmp", "LED"},
    {&DataXml_::sCtagledbmx, "sCtagledbmx", "LEDX"},
    {&DataXml_::sCtagledbmy, "sCtagledbmy", "LEDY"},
    {&DataXml_::sCtagledbdb, "sCtagledbdb", "LEDDB"},
    {&DataXml_::sCtagleobmp, "sCtagleobmp", "LEDOFF"},
    {&DataXml_::sCtagleobmx, "sCtagleobmx", "LEDOFFX"},
    {&DataXml_::sCtagleobmy, "sCtagleobmy", "LEDOFFY"},
    {&DataXml_::sCtagledfrm, "sCtagledfrm", "FRAMES"},
    {&DataXml_::sCtagmeters, "sCtagmeters", "METERS"},
    {&DataXml_::sCtagmetrt_, "sCtagmetrt_", "METER"},
    {&DataXml_::sCtagledrt_, "sCtagledrt_", "LED"},
    {&DataXml_::sCtagmetrgm, "sCtagmetrgm", "GROUPMODE"},
    {&DataXml_::sCtagknobm_, "sCtagknobm_", "KNOBMODE"},
    {&DataXml_::sCtagpadro_, "sCtagpadro_", "PADXY"},
    {&DataXml_::sCtagpadcx_, "sCtagpadcx_", "CONTROLX"},
    {&DataXml_::sCtagpadcy_, "sCtagpadcy_", "CONTROLY"},
    {&DataXml_::sCtagpadmap, "sCtagpadmap", "MAP"},
    {&DataXml_::sCtagbutton, "sCtagbutton", "BUTTON"},
    {&DataXml_::sCtagbttonx, "sCtagbttonx", "BUTTONX"},
    {&DataXml_::sCtagbttony, "sCtagbttony", "BUTTONY"},
    // Dictionary file
    {&DataXml_::sCtagdictry, "sCtagdictry", "DICTIONARY"},
};

TEST(DataXml_, EveryMemberHoldsItsElementName) {
    for (const TagRow& row : tagRows) EXPECT_STREQ(row.member->c_str(), row.text) << row.memberName;
}

TEST(DataXml_, StaticInitialisersElsewhereSeeTheNames) {
    EXPECT_EQ(copiedAtStartUp, CoreAnsx("PROGRAM"));
    EXPECT_EQ(builtAtStartUp, CoreAnsx("LFO2"));
}

TEST(DataXml_, NamesAreUpperCaseAndMembersFollowTheNamingScheme) {
    for (const TagRow& row : tagRows) {
        const std::string text = row.member->c_str();
        ASSERT_FALSE(text.empty()) << row.memberName;
        for (char c : text) EXPECT_FALSE(std::islower(static_cast<unsigned char>(c))) << row.memberName;
        EXPECT_EQ(*row.member, row.member->UpperCase()) << row.memberName;
        EXPECT_EQ(std::strlen(row.memberName), 11u) << row.memberName;
        const bool tagPrefix = std::strncmp(row.memberName, "sCtag", 5) == 0;
        EXPECT_TRUE(tagPrefix || std::string(row.memberName) == "sCtadsvisbl") << row.memberName;
    }
}

TEST(DataXml_, OnlyTheSkinRepeatsNames) {
    std::multiset<std::string> texts;
    for (const TagRow& row : tagRows) texts.insert(row.member->c_str());
    std::set<std::string> repeated;
    for (const std::string& text : texts)
        if (texts.count(text) > 1) repeated.insert(text);
    EXPECT_EQ(repeated, (std::set<std::string>{"GAININ", "GAINOUT", "LED", "MIX"}));
    EXPECT_EQ(texts.count("LED"), 2u);
    EXPECT_EQ(DataXml_::sCtagrootmx, DataXml_::sCtagmixrt_);
    EXPECT_EQ(DataXml_::sCtaggainin, DataXml_::sCtagslgaii);
    EXPECT_EQ(DataXml_::sCtaggainou, DataXml_::sCtagslgaio);
    EXPECT_EQ(DataXml_::sCtagledbmp, DataXml_::sCtagledrt_);
}

TEST(DataXml_, OneLetterNamesAreWholeNames) {
    const CoreAnsx* oneLetter[] = {&DataXml_::sCtagrooth_, &DataXml_::sCtagfuncta, &DataXml_::sCtagfunctb,
                                   &DataXml_::sCtagfunctc, &DataXml_::sCtagfunctd};
    const char* expected[] = {"H", "A", "B", "C", "D"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(oneLetter[i]->Length(), 1);
        EXPECT_STREQ(oneLetter[i]->c_str(), expected[i]);
    }
    // A numbered harmonic section is the tag and the number; "HDIM" is a name of its own.
    EXPECT_EQ(DataXml_::sCtagrooth_ + CoreAnsx(1), CoreAnsx("H1"));
    EXPECT_NE(DataXml_::sCtaghsdim_, DataXml_::sCtagrooth_);
    EXPECT_EQ(DataXml_::sCtagrootlf + CoreAnsx(4), CoreAnsx("LFO4"));
}

} // namespace
