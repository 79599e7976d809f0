#include "program/DataXml_.h"

// The members are CoreAnsx objects, which need a constructor. They are built in the first group
// of static initialisers (init_priority), so static initialisers elsewhere may read them whatever
// the order in which the files are linked.
//
// Priority 200: the values 0-100 belong to the C++ runtime; nothing else in the system sets one.
#define VORLAN_EARLY __attribute__((init_priority(200)))

// Program document: header
const CoreAnsx DataXml_::sCtagprogrm VORLAN_EARLY("PROGRAM");
const CoreAnsx DataXml_::sCtagprognm VORLAN_EARLY("NAME");
const CoreAnsx DataXml_::sCtagcategr VORLAN_EARLY("CATEGORY");
const CoreAnsx DataXml_::sCtagsubca1 VORLAN_EARLY("SUBCATEGORY1");
const CoreAnsx DataXml_::sCtagsubca2 VORLAN_EARLY("SUBCATEGORY2");
const CoreAnsx DataXml_::sCtagdescrp VORLAN_EARLY("DESCRIPTION");
const CoreAnsx DataXml_::sCtagactvnm VORLAN_EARLY("VECTORFILENAME");
const CoreAnsx DataXml_::sCtagsyncvr VORLAN_EARLY("SYNCVERSION");

// Program document: global values
const CoreAnsx DataXml_::sCtaggainou VORLAN_EARLY("GAINOUT");
const CoreAnsx DataXml_::sCtaggainin VORLAN_EARLY("GAININ");
const CoreAnsx DataXml_::sCtaggnpdou VORLAN_EARLY("GAINPADOUT");
const CoreAnsx DataXml_::sCtaggnpdin VORLAN_EARLY("GAINPADIN");
const CoreAnsx DataXml_::sCtaggainir VORLAN_EARLY("GAINIR");
const CoreAnsx DataXml_::sCtaggpitrm VORLAN_EARLY("GAINPADINTRIMSOURCE");
const CoreAnsx DataXml_::sCtaggpotrm VORLAN_EARLY("GAINPADOUTTRIMSOURCE");
const CoreAnsx DataXml_::sCtagrootmx VORLAN_EARLY("MIX");
const CoreAnsx DataXml_::sCtagfeedbk VORLAN_EARLY("FEEDBACKFACTOR");
const CoreAnsx DataXml_::sCtagfbsrce VORLAN_EARLY("FEEDBACKSOURCE");
const CoreAnsx DataXml_::sCtaggaindr VORLAN_EARLY("GAINDRYFACTOR");
const CoreAnsx DataXml_::sCtaggainds VORLAN_EARLY("GAINDRYSOURCE");
const CoreAnsx DataXml_::sCtaglookah VORLAN_EARLY("LOOKAHEAD");
const CoreAnsx DataXml_::sCtaglasrce VORLAN_EARLY("LOOKAHEADSOURCE");
const CoreAnsx DataXml_::sCtagprrate VORLAN_EARLY("PROGRAMRATE");
const CoreAnsx DataXml_::sCtagsmooth VORLAN_EARLY("SMOOTH");
const CoreAnsx DataXml_::sCtagaligbl VORLAN_EARLY("ALIGNBALANCE");
const CoreAnsx DataXml_::sCtagaligof VORLAN_EARLY("ALIGNOFFSET");
const CoreAnsx DataXml_::sCtagtrainm VORLAN_EARLY("TRAINMODE");
const CoreAnsx DataXml_::sCtagtraint VORLAN_EARLY("TRAINTHRESHOLD");
const CoreAnsx DataXml_::sCtagjittrm VORLAN_EARLY("JITTERMODE");
const CoreAnsx DataXml_::sCtaghrtf_m VORLAN_EARLY("HRTFMODE");
const CoreAnsx DataXml_::sCtagfrcot2 VORLAN_EARLY("FORCEOT2");
const CoreAnsx DataXml_::sCtagfrcivt VORLAN_EARLY("INVISIBLETHREAD");
const CoreAnsx DataXml_::sCtagfrchyb VORLAN_EARLY("FORCEHYBRID");
const CoreAnsx DataXml_::sCtagmono_m VORLAN_EARLY("FORCEMONO");
const CoreAnsx DataXml_::sCtaghsdim_ VORLAN_EARLY("HDIM");

// Program document: harmonic and raw sections, vector trees (also the vector files)
const CoreAnsx DataXml_::sCtagrooth_ VORLAN_EARLY("H");
const CoreAnsx DataXml_::sCtagrootrw VORLAN_EARLY("RAW");
const CoreAnsx DataXml_::sCtagelemnt VORLAN_EARLY("ELEMENT");
const CoreAnsx DataXml_::sCtagvector VORLAN_EARLY("VECTOR");
const CoreAnsx DataXml_::sCtagcommon VORLAN_EARLY("COMMON");
const CoreAnsx DataXml_::sCtagfilenm VORLAN_EARLY("FILENAME");
const CoreAnsx DataXml_::sCtagfilept VORLAN_EARLY("FILEPATH");
const CoreAnsx DataXml_::sCtagweight VORLAN_EARLY("WEIGHT");
const CoreAnsx DataXml_::sCtagbuswgt VORLAN_EARLY("BUSWEIGHT");
const CoreAnsx DataXml_::sCtagcontrl VORLAN_EARLY("CONTROL");
const CoreAnsx DataXml_::sCtagmnvalu VORLAN_EARLY("MINVALUE");
const CoreAnsx DataXml_::sCtagmxvalu VORLAN_EARLY("MAXVALUE");
const CoreAnsx DataXml_::sCtagmnbusv VORLAN_EARLY("BUSMINVALUE");
const CoreAnsx DataXml_::sCtagmxbusv VORLAN_EARLY("BUSMAXVALUE");
const CoreAnsx DataXml_::sCtaguntval VORLAN_EARLY("UNITVALUE");
const CoreAnsx DataXml_::sCtagliquid VORLAN_EARLY("LIQUIDFACTOR");
const CoreAnsx DataXml_::sCtaglqsrce VORLAN_EARLY("LIQUIDSOURCE");
const CoreAnsx DataXml_::sCtagswtchm VORLAN_EARLY("SWITCHMODE");
const CoreAnsx DataXml_::sCtagoffset VORLAN_EARLY("OFFSET");
const CoreAnsx DataXml_::sCtagfadein VORLAN_EARLY("FADEIN");
const CoreAnsx DataXml_::sCtagfadeic VORLAN_EARLY("FADEINCURVE");
const CoreAnsx DataXml_::sCtagfadeou VORLAN_EARLY("FADEOUT");
const CoreAnsx DataXml_::sCtagfadeoc VORLAN_EARLY("FADEOUTCURVE");
const CoreAnsx DataXml_::sCtagopttyp VORLAN_EARLY("OT");
const CoreAnsx DataXml_::sCtaglength VORLAN_EARLY("LENGTH");
const CoreAnsx DataXml_::sCtaggainpd VORLAN_EARLY("GAINPADFACTOR");
const CoreAnsx DataXml_::sCtaggainps VORLAN_EARLY("GAINPADSOURCE");
const CoreAnsx DataXml_::sCtaggnsrce VORLAN_EARLY("GAINSOURCE");
const CoreAnsx DataXml_::sCtaggainhd VORLAN_EARLY("GAINHANDLE");
const CoreAnsx DataXml_::sCtaggainlm VORLAN_EARLY("GAINLIMITER");
const CoreAnsx DataXml_::sCtagsource VORLAN_EARLY("SOURCE");
const CoreAnsx DataXml_::sCtagbussrc VORLAN_EARLY("BUSSOURCE");
const CoreAnsx DataXml_::sCtagpanfct VORLAN_EARLY("PANFACTOR");
const CoreAnsx DataXml_::sCtagpnsrce VORLAN_EARLY("PANSOURCE");

// Program document: LFO sections ("RATELFO" is only the key stem of the LFOs' rate sources)
const CoreAnsx DataXml_::sCtagrootlf VORLAN_EARLY("LFO");
const CoreAnsx DataXml_::sCtaglforto VORLAN_EARLY("RATELFO");
const CoreAnsx DataXml_::sCtagmnrate VORLAN_EARLY("MINRATE");
const CoreAnsx DataXml_::sCtagmxrate VORLAN_EARLY("MAXRATE");
const CoreAnsx DataXml_::sCtaglfortq VORLAN_EARLY("RATEQUANTIZE");
const CoreAnsx DataXml_::sCtagshape_ VORLAN_EARLY("SHAPE");
const CoreAnsx DataXml_::sCtagphasef VORLAN_EARLY("PHASEFACTOR");
const CoreAnsx DataXml_::sCtagphases VORLAN_EARLY("PHASESOURCE");

// Program document: function and raw-function sections
const CoreAnsx DataXml_::sCtagrootfn VORLAN_EARLY("FUN");
const CoreAnsx DataXml_::sCtagfuncta VORLAN_EARLY("A");
const CoreAnsx DataXml_::sCtagfunctb VORLAN_EARLY("B");
const CoreAnsx DataXml_::sCtagfunctc VORLAN_EARLY("C");
const CoreAnsx DataXml_::sCtagfunctd VORLAN_EARLY("D");
const CoreAnsx DataXml_::sCtagrootrf VORLAN_EARLY("RAWFUN");

// Program document: envelope sections
const CoreAnsx DataXml_::sCtagrootev VORLAN_EARLY("ENV");
const CoreAnsx DataXml_::sCtagacsrce VORLAN_EARLY("ACTIVSOURCE");
const CoreAnsx DataXml_::sCtagdasrce VORLAN_EARLY("DEACTIVSOURCE");
const CoreAnsx DataXml_::sCtagevlevl VORLAN_EARLY("LEVEL");
const CoreAnsx DataXml_::sCtagevtime VORLAN_EARLY("TIME");
const CoreAnsx DataXml_::sCtagevcrve VORLAN_EARLY("CURVE");
const CoreAnsx DataXml_::sCtagevstrt VORLAN_EARLY("START");
const CoreAnsx DataXml_::sCtagevattc VORLAN_EARLY("ATTACK");
const CoreAnsx DataXml_::sCtagevbrea VORLAN_EARLY("BREAK");
const CoreAnsx DataXml_::sCtagevsust VORLAN_EARLY("SUSTAIN");
const CoreAnsx DataXml_::sCtagevdecy VORLAN_EARLY("DECAY");
const CoreAnsx DataXml_::sCtagevslpe VORLAN_EARLY("SLOPE");
const CoreAnsx DataXml_::sCtagevrlse VORLAN_EARLY("RELEASE");
const CoreAnsx DataXml_::sCtagmodfct VORLAN_EARLY("MODFACTOR");
const CoreAnsx DataXml_::sCtagmdsrce VORLAN_EARLY("MODSOURCE");

// Program document: envelope-follower sections ("EAT" and "ERT" are only key stems of the followers' attack-
// and release-time sources)
const CoreAnsx DataXml_::sCtagrootef VORLAN_EARLY("EVF");
const CoreAnsx DataXml_::sCtagrootea VORLAN_EARLY("EAT");
const CoreAnsx DataXml_::sCtagrooter VORLAN_EARLY("ERT");
const CoreAnsx DataXml_::sCtagefenet VORLAN_EARLY("ENABLEEATERT");
const CoreAnsx DataXml_::sCtagefoutp VORLAN_EARLY("OUTPUTBALANCE");
const CoreAnsx DataXml_::sCtagefbbsr VORLAN_EARLY("BUSBALANCESOURCE");
const CoreAnsx DataXml_::sCtagefdatt VORLAN_EARLY("DATTACKSOURCE");
const CoreAnsx DataXml_::sCtagefdrel VORLAN_EARLY("DRELEASESOURCE");
const CoreAnsx DataXml_::sCtagefoatt VORLAN_EARLY("OATTACKSOURCE");
const CoreAnsx DataXml_::sCtageforel VORLAN_EARLY("ORELEASESOURCE");
const CoreAnsx DataXml_::sCtagefexpn VORLAN_EARLY("EXP");
const CoreAnsx DataXml_::sCtagattkmn VORLAN_EARLY("MINATTACK");
const CoreAnsx DataXml_::sCtagattkmx VORLAN_EARLY("MAXATTACK");
const CoreAnsx DataXml_::sCtagrlsemn VORLAN_EARLY("MINRELEASE");
const CoreAnsx DataXml_::sCtagrlsemx VORLAN_EARLY("MAXRELEASE");
const CoreAnsx DataXml_::sCtagatsrce VORLAN_EARLY("ATTACKSOURCE");
const CoreAnsx DataXml_::sCtagrlsrce VORLAN_EARLY("RELEASESOURCE");
const CoreAnsx DataXml_::sCtagfltfre VORLAN_EARLY("FILTERFREQUENCY");
const CoreAnsx DataXml_::sCtagfltord VORLAN_EARLY("FILTERORDER");
const CoreAnsx DataXml_::sCtagfilter VORLAN_EARLY("FILTERSOURCE");

// Program document: dynamics sections
const CoreAnsx DataXml_::sCtagrootdn VORLAN_EARLY("DNM");
const CoreAnsx DataXml_::sCtagtrsrce VORLAN_EARLY("THRESHOLDSOURCE");
const CoreAnsx DataXml_::sCtaginsrce VORLAN_EARLY("INPUTSOURCE");
const CoreAnsx DataXml_::sCtagrcsrce VORLAN_EARLY("RATIOCOMSOURCE");
const CoreAnsx DataXml_::sCtagresrce VORLAN_EARLY("RATIOEXPSOURCE");
const CoreAnsx DataXml_::sCtagdnrtcv VORLAN_EARLY("RATIOCURVE");
const CoreAnsx DataXml_::sCtagdnrnge VORLAN_EARLY("RANGELIMIT");

// Program document: parameter display sections
const CoreAnsx DataXml_::sCtagrootds VORLAN_EARLY("DISPLAY");
const CoreAnsx DataXml_::sCtagrootpm VORLAN_EARLY("PRM");
const CoreAnsx DataXml_::sCtagroot2p VORLAN_EARLY("ZELKIIPRM");
const CoreAnsx DataXml_::sCtagdsprlb VORLAN_EARLY("PRELABEL");
const CoreAnsx DataXml_::sCtagdslabl VORLAN_EARLY("LABEL");
const CoreAnsx DataXml_::sCtagdsprun VORLAN_EARLY("PREUNIT");
const CoreAnsx DataXml_::sCtagdspoun VORLAN_EARLY("POSTUNIT");
const CoreAnsx DataXml_::sCtagdsunit VORLAN_EARLY("UNIT");
const CoreAnsx DataXml_::sCtagmnbrvl VORLAN_EARLY("BARMINVALUE");
const CoreAnsx DataXml_::sCtagmxbrvl VORLAN_EARLY("BARMAXVALUE");
const CoreAnsx DataXml_::sCtadsvisbl VORLAN_EARLY("VISIBLE");

// Bank setup file
const CoreAnsx DataXml_::sCtagsetup_ VORLAN_EARLY("SETUP");
const CoreAnsx DataXml_::sCtagload__ VORLAN_EARLY("LOAD");
const CoreAnsx DataXml_::sCtagsequen VORLAN_EARLY("SEQUENCE");

// Program cache file
const CoreAnsx DataXml_::sCtagcache_ VORLAN_EARLY("CACHE");
const CoreAnsx DataXml_::sCtagorgfnm VORLAN_EARLY("ORIGINALFILENAME");
const CoreAnsx DataXml_::sCtagwaspac VORLAN_EARLY("WASCRYPTED");
const CoreAnsx DataXml_::sCtagcachef VORLAN_EARLY("CACHEDFILE");

// Host chunk
const CoreAnsx DataXml_::sCtagselprg VORLAN_EARLY("SELECTEDPROGRAM");

// Master settings file
const CoreAnsx DataXml_::sCtagmaster VORLAN_EARLY("MASTER");
const CoreAnsx DataXml_::sCtagmagic_ VORLAN_EARLY("MAGIC");
const CoreAnsx DataXml_::sCtaggurate VORLAN_EARLY("GUIRATE");
const CoreAnsx DataXml_::sCtagprgspt VORLAN_EARLY("PROGRAMSUBPATH");
const CoreAnsx DataXml_::sCtagvecspt VORLAN_EARLY("VECTORSUBPATH");
const CoreAnsx DataXml_::sCtagsetspt VORLAN_EARLY("SETUPSUBPATH");
const CoreAnsx DataXml_::sCtagsknspt VORLAN_EARLY("SKINSUBPATH");
const CoreAnsx DataXml_::sCtagccespt VORLAN_EARLY("CACHESUBPATH");
const CoreAnsx DataXml_::sCtagdctspt VORLAN_EARLY("DICTIONARYSUBPATH");
const CoreAnsx DataXml_::sCtagsknsnm VORLAN_EARLY("SKINNAME");
const CoreAnsx DataXml_::sCtagsetrnm VORLAN_EARLY("SETUPROMNAME");
const CoreAnsx DataXml_::sCtagdctrnm VORLAN_EARLY("DICTIONARYROMNAME");
const CoreAnsx DataXml_::sCtagdtapth VORLAN_EARLY("DATAPATH");
const CoreAnsx DataXml_::sCtagadtpth VORLAN_EARLY("ALTERNATIVEDATAPATH");
const CoreAnsx DataXml_::sCtagdebugl VORLAN_EARLY("DL");
const CoreAnsx DataXml_::sCtagfastbt VORLAN_EARLY("FASTBOOT");
const CoreAnsx DataXml_::sCtagforcel VORLAN_EARLY("LTIMED");
const CoreAnsx DataXml_::sCtagforclf VORLAN_EARLY("LFREQD");
const CoreAnsx DataXml_::sCtagforceo VORLAN_EARLY("FORCEOFFSET");
const CoreAnsx DataXml_::sCtagwbuffr VORLAN_EARLY("WORKBUFFER");
const CoreAnsx DataXml_::sCtagdbuffr VORLAN_EARLY("DSPBUFFER");
const CoreAnsx DataXml_::sCtagthread VORLAN_EARLY("THREADS");
const CoreAnsx DataXml_::sCtagthdmin VORLAN_EARLY("THREADSMINDIM");
const CoreAnsx DataXml_::sCtagmtrtyp VORLAN_EARLY("METERTYPE");
const CoreAnsx DataXml_::sCtagoptimz VORLAN_EARLY("OTIMED");
const CoreAnsx DataXml_::sCtagoptimf VORLAN_EARLY("OFREQD");
const CoreAnsx DataXml_::sCtagexport VORLAN_EARLY("EXPORTAUDIOQUALITY");
const CoreAnsx DataXml_::sCtaghsdimm VORLAN_EARLY("HDIMMAX");
const CoreAnsx DataXml_::sCtagbpmdef VORLAN_EARLY("BPMDEFAULT");
const CoreAnsx DataXml_::sCtagaheadl VORLAN_EARLY("AHEADLENGTH");
const CoreAnsx DataXml_::sCtagscanbt VORLAN_EARLY("SCANBOOT");
const CoreAnsx DataXml_::sCtagratecv VORLAN_EARLY("RATECONVERSION");
const CoreAnsx DataXml_::sCtagcolour VORLAN_EARLY("FONTCOLOUR");
const CoreAnsx DataXml_::sCtagnodrop VORLAN_EARLY("NODROP");
const CoreAnsx DataXml_::sCtagmstmix VORLAN_EARLY("MIDISTSMIX");
const CoreAnsx DataXml_::sCtagmctmix VORLAN_EARLY("MIDICTRMIX");
const CoreAnsx DataXml_::sCtagautoth VORLAN_EARLY("AUTOTHREAD");
const CoreAnsx DataXml_::sCtagloadrp VORLAN_EARLY("LOADERPRIORITY");
const CoreAnsx DataXml_::sCtagfixedq VORLAN_EARLY("FIXEDQUALITY");
const CoreAnsx DataXml_::sCtagmode__ VORLAN_EARLY("MODE");
const CoreAnsx DataXml_::sCtagsrvadd VORLAN_EARLY("SERVERADDRESS");
const CoreAnsx DataXml_::sCtagsrvprt VORLAN_EARLY("SERVERPORT");
const CoreAnsx DataXml_::sCtagforcol VORLAN_EARLY("FORCOLUMN");
const CoreAnsx DataXml_::sCtagprotdb VORLAN_EARLY("PROTECTIONDB");
const CoreAnsx DataXml_::sCtaglegstc VORLAN_EARLY("LEGACYSTEREOCHANNEL");
const CoreAnsx DataXml_::sCtagrfrovf VORLAN_EARLY("REFRESHOVERFLOW");
const CoreAnsx DataXml_::sCtagippthr VORLAN_EARLY("IPPTHREADS");

// Skin description (its own "MIX", "GAININ", "GAINOUT" and two "LED" members)
const CoreAnsx DataXml_::sCtagskin__ VORLAN_EARLY("SKIN");
const CoreAnsx DataXml_::sCtagfonts_ VORLAN_EARLY("FONTS");
const CoreAnsx DataXml_::sCtagfontnm VORLAN_EARLY("FONTNAME");
const CoreAnsx DataXml_::sCtagfont1_ VORLAN_EARLY("FONT1");
const CoreAnsx DataXml_::sCtagfont2_ VORLAN_EARLY("FONT2");
const CoreAnsx DataXml_::sCtagfontng VORLAN_EARLY("FONTNEG");
const CoreAnsx DataXml_::sCtagbackgr VORLAN_EARLY("BACKGROUND");
const CoreAnsx DataXml_::sCtagdisplx VORLAN_EARLY("DISPLAYX");
const CoreAnsx DataXml_::sCtagdisply VORLAN_EARLY("DISPLAYY");
const CoreAnsx DataXml_::sCtagdiaddx VORLAN_EARLY("DISPLAYADDX");
const CoreAnsx DataXml_::sCtagdiaddy VORLAN_EARLY("DISPLAYADDY");
const CoreAnsx DataXml_::sCtagdisptp VORLAN_EARLY("DISPLAYTOP");
const CoreAnsx DataXml_::sCtagdispbt VORLAN_EARLY("DISPLAYBOTTOM");
const CoreAnsx DataXml_::sCtagdisplf VORLAN_EARLY("DISPLAYLEFT");
const CoreAnsx DataXml_::sCtagdisprg VORLAN_EARLY("DISPLAYRIGHT");
const CoreAnsx DataXml_::sCtagdaddtp VORLAN_EARLY("DISPLAYADDTOP");
const CoreAnsx DataXml_::sCtagdaddbt VORLAN_EARLY("DISPLAYADDBOTTOM");
const CoreAnsx DataXml_::sCtagdaddlf VORLAN_EARLY("DISPLAYADDLEFT");
const CoreAnsx DataXml_::sCtagdaddrg VORLAN_EARLY("DISPLAYADDRIGHT");
const CoreAnsx DataXml_::sCtagdaddch VORLAN_EARLY("DISPLAYADDCHARS");
const CoreAnsx DataXml_::sCtagslidrs VORLAN_EARLY("SLIDERS");
const CoreAnsx DataXml_::sCtagmixrt_ VORLAN_EARLY("MIX");
const CoreAnsx DataXml_::sCtagslgaii VORLAN_EARLY("GAININ");
const CoreAnsx DataXml_::sCtagslgaio VORLAN_EARLY("GAINOUT");
const CoreAnsx DataXml_::sCtagslminx VORLAN_EARLY("SLIDERMINX");
const CoreAnsx DataXml_::sCtagslminy VORLAN_EARLY("SLIDERMINY");
const CoreAnsx DataXml_::sCtagslmaxx VORLAN_EARLY("SLIDERMAXX");
const CoreAnsx DataXml_::sCtagslmaxy VORLAN_EARLY("SLIDERMAXY");
const CoreAnsx DataXml_::sCtagslheig VORLAN_EARLY("SLIDERHEIGHT");
const CoreAnsx DataXml_::sCtagslider VORLAN_EARLY("SLIDER");
const CoreAnsx DataXml_::sCtagledtop VORLAN_EARLY("LEDTOP");
const CoreAnsx DataXml_::sCtagledtpx VORLAN_EARLY("LEDTOPX");
const CoreAnsx DataXml_::sCtagledtpy VORLAN_EARLY("LEDTOPY");
const CoreAnsx DataXml_::sCtagledbot VORLAN_EARLY("LEDBOTTOM");
const CoreAnsx DataXml_::sCtagledbtx VORLAN_EARLY("LEDBOTTOMX");
const CoreAnsx DataXml_::sCtagledbty VORLAN_EARLY("LEDBOTTOMY");
const CoreAnsx DataXml_::sCtagglobal VORLAN_EARLY("GLOBAL");
const CoreAnsx DataXml_::sCtagledovf VORLAN_EARLY("LEDOVERFLOW");
const CoreAnsx DataXml_::sCtagledbyp VORLAN_EARLY("LEDBYPASS");
const CoreAnsx DataXml_::sCtagledbmp VORLAN_EARLY("LED");
const CoreAnsx DataXml_::sCtagledbmx VORLAN_EARLY("LEDX");
const CoreAnsx DataXml_::sCtagledbmy VORLAN_EARLY("LEDY");
const CoreAnsx DataXml_::sCtagledbdb VORLAN_EARLY("LEDDB");
const CoreAnsx DataXml_::sCtagleobmp VORLAN_EARLY("LEDOFF");
const CoreAnsx DataXml_::sCtagleobmx VORLAN_EARLY("LEDOFFX");
const CoreAnsx DataXml_::sCtagleobmy VORLAN_EARLY("LEDOFFY");
const CoreAnsx DataXml_::sCtagledfrm VORLAN_EARLY("FRAMES");
const CoreAnsx DataXml_::sCtagmeters VORLAN_EARLY("METERS");
const CoreAnsx DataXml_::sCtagmetrt_ VORLAN_EARLY("METER");
const CoreAnsx DataXml_::sCtagledrt_ VORLAN_EARLY("LED");
const CoreAnsx DataXml_::sCtagmetrgm VORLAN_EARLY("GROUPMODE");
const CoreAnsx DataXml_::sCtagknobm_ VORLAN_EARLY("KNOBMODE");
const CoreAnsx DataXml_::sCtagpadro_ VORLAN_EARLY("PADXY");
const CoreAnsx DataXml_::sCtagpadcx_ VORLAN_EARLY("CONTROLX");
const CoreAnsx DataXml_::sCtagpadcy_ VORLAN_EARLY("CONTROLY");
const CoreAnsx DataXml_::sCtagpadmap VORLAN_EARLY("MAP");
const CoreAnsx DataXml_::sCtagbutton VORLAN_EARLY("BUTTON");
const CoreAnsx DataXml_::sCtagbttonx VORLAN_EARLY("BUTTONX");
const CoreAnsx DataXml_::sCtagbttony VORLAN_EARLY("BUTTONY");

// Dictionary file
const CoreAnsx DataXml_::sCtagdictry VORLAN_EARLY("DICTIONARY");

#undef VORLAN_EARLY
