// DataLclz: the fixed texts of the display pages: field labels, units, option lists and status
// texts, named by page prefix. Static constant character data only (lists are arrays of texts with
// an iC count), so they can be read from any thread and from any static initialiser; callers make a
// CoreAnsx where they need one. Leading and trailing blanks are part of the texts.
#pragma once
#include "base/CoreLog_.h"

class DataLclz {
public:
    DataLclz() = delete;

    // Units written after a number, each with one leading blank.
    static constexpr char sCunitms[] = " ms";
    static constexpr char sCunitsc[] = " s";
    static constexpr char sCunithz[] = " Hz";
    static constexpr char sCunitmb[] = " Mb";
    static constexpr char sCunittimes[] = " times";
    static constexpr char sCunitdb[] = " dB";
    static constexpr char sCunitdeg[] = " dg";
    static constexpr char sCunitpc[] = " %";
    static constexpr char sCunitkb[] = " Kb";

    // General texts
    static constexpr int iCgeneoffon = 2;
    static constexpr const char* sCgeneoffon[] = {"OFF", "ON "};
    static constexpr char sCgenloadedprint[] = "LOADED:";
    static constexpr char sCgenloadingprint[] = "LOADING:";
    static constexpr char sCgensavingprint[] = "SAVING...";
    static constexpr char sCgendeletedprint[] = "DELETED:";
    static constexpr char sCgenmovedprint[] = "MOVED:";

    // Gain labels
    static constexpr char sCviewgaininlabel[] = "GAIN IN";
    static constexpr char sCviewgainoutlabel[] = "GAIN OUT";
    static constexpr char sCviewgainslabel[] = "GAINS";

    // Kernel page
    static constexpr char sCkerncleanlabel[] = "CLEAN";
    static constexpr char sCkernevenlabel[] = "EVEN";
    static constexpr char sCkernoddslabel[] = "ODD";
    static constexpr char sCkerndirlabel[] = "TIMED:";
    static constexpr char sCkernfftlabel[] = "FREQD:";
    static constexpr char sCkernfadeoutlabel[] = "FADE:";
    static constexpr int iCkernhdim = 21;
    static constexpr const char* sCkernhdim[] = {
        "0 Max   ", "1 Clean ", "2 (1st) ", "3 (2nd) ", "4 (3rd) ", "5 (4th) ", "6 (5th) ",
        "7 (6th) ", "8 (7th) ", "9 (8th) ", "10 (9th)", "11(10th)", "12(11th)", "13(12th)",
        "14(13rd)", "15(14th)", "16(15th)", "17(16th)", "18(17th)", "19(18th)", "20(19th)"};
    static constexpr char sCkernhdimlabel[] = "KERNELS";
    static constexpr char sCkerhybridprint[] = "HYBRID LOADING...";
    static constexpr char sCkermonoprint[] = "MONO LOADING...";

    // Master settings pages
    static constexpr char sCmastmodelabel[] = "MODE";
    static constexpr int iCmastmode = 2;
    static constexpr const char* sCmastmode[] = {"0 Simple       ", "1 Guru         "};
    static constexpr char sCmastfontcolourlabel[] = "COLOUR";
    static constexpr int iCmastmetertype = 9;
    static constexpr const char* sCmastmetertype[] = {
        "0 Average      ", "1 RMS          ", "2 Peak         ", "3 Average 17   ", "4 RMS 17    ",
        "5 EVF          ", "6 EVF 17       ", "7 VU           ", "8 TRUE RMS 17  "};
    static constexpr char sCmastmetertypelabel[] = "METERS";
    static constexpr int iCmastoptimization = 15;
    static constexpr const char* sCmastoptimization[] = {
        "1 FPU 1Stereo  ", "2 SSE2 2Mono   ", "3 FPU 2Mono    ", "4 FPUf 1Stereo ", "5 SSE2f 2Mono  ",
        "6 FFTW 2Mono   ", "7 FFTW pa 2Mono", "8 FFTW ch 2Mono", "9 IPPS 2Mono   ", "10IPPS pa 2Mono",
        "11IPPS ch 2Mono", "12CUDA pa 2Mono", "13CUDA en 2Mono", "14CUDA ch 2Mono", "15CUDA ac 2Mono"};
    static constexpr char sCmastoptimizationlabel[] = "OPT TIMED";
    static constexpr char sCmastoptimizationfftlabel[] = "OPT FREQD";
    static constexpr int iCmastaudioquality = 5;
    static constexpr const char* sCmastaudioquality[] = {"1", "2", "3", "4", "5"};
    static constexpr char sCmastaudioqualitylabel[] = "QUALITY";
    static constexpr int iCmasthdim = 20;
    static constexpr const char* sCmasthdim[] = {
        "Clean only   ", "2  (1st harm)", "3  (2nd harm)", "4  (3rd harm)", "5  (4th harm)",
        "6  (5th harm)", "7  (6th harm)", "8  (7th harm)", "9  (8th harm)", "10 (9th harm)",
        "11 (10th hrm)", "12 (11th hrm)", "13 (12th hrm)", "14 (13th hrm)", "15 (14th hrm)",
        "16 (15th hrm)", "17 (16th hrm)", "18 (17th hrm)", "19 (18th hrm)", "20 (19th hrm)"};
    static constexpr char sCmasthdimlabel[] = "KERNELS";
    static constexpr int iCmastboot = 2;
    static constexpr const char* sCmastboot[] = {"0 slow", "1 fast"};
    static constexpr char sCmastbootlabel[] = "*BOOT";
    static constexpr int iCmastscanboot = 2;
    static constexpr const char* sCmastscanboot[] = {"0 fast", "1 recovery"};
    static constexpr char sCmastscanbootlabel[] = "*SCAN BOOT";
    static constexpr char sCmastforceratelabel[] = "RATE CNV";
    static constexpr int iCmastnodrop = 2;
    static constexpr const char* sCmastnodrop[] = {"0 no", "1 yes"};
    static constexpr char sCmastnodroplabel[] = "GHOST MODE";
    static constexpr int iCmastthreadpriority = 5;
    static constexpr const char* sCmastthreadpriority[] = {"0 lowest", "1 lower", "2 normal", "3 higher",
                                                           "4 highest"};
    static constexpr char sCmastloaderprioritylabel[] = "LOADER PR";
    static constexpr char sCmastprogramratelabel[] = "PROG RATE";
    static constexpr char sCmastforceoffsetlabel[] = "*OFFSET";
    static constexpr char sCmastforcelengthlabel[] = "*L TIMED";
    static constexpr char sCmastforcelengthfftlabel[] = "*L FREQD";
    static constexpr char sCmastguiratelabel[] = "*GUI RATE";
    static constexpr char sCmastskinlabel[] = "*SKIN";
    static constexpr char sCmastversionlabel[] = "VERSION";
    static constexpr char sCmastaheadlabel[] = "*AHEAD";
    static constexpr int iCmastdspbuffers = 7;
    static constexpr const char* sCmastdspbuffers[] = {"128", "256", "512", "1024", "2048", "4096", "8192"};
    static constexpr char sCmastdspbufferlabels[] = "*DSPBUFFER";

    // MIDI page
    static constexpr char sCmidimixlabel[] = "";
    static constexpr char sCmidictrlabel[] = "Ctr:";
    static constexpr char sCmidichlabel[] = "Ch:";
    static constexpr char sCmidivaluelabel[] = "Val:";

    // LFO page
    static constexpr char sClfo_minratelabel[] = "MnRate:";
    static constexpr char sClfo_maxratelabel[] = "MxRate:";
    static constexpr int iClfo_ratequantize = 8;
    static constexpr const char* sClfo_ratequantize[] = {"-1", "1", "2", "4", "8", "16", "32", "64"};
    static constexpr char sClfo_ratequantizelabel[] = "Q:";
    static constexpr char sClfo_ratesourcelabel[] = "RateSc:";
    static constexpr char sClfo_shapelabel[] = "Shape:";
    static constexpr char sClfo_phaselabel[] = "Phase:";
    static constexpr char sClfo_phasesourcelabel[] = "PhseSc:";

    // Global page
    static constexpr char sCglobstatuslabel[] = "S:";
    static constexpr char sCglobvaluelabel[] = "V:";
    static constexpr char sCglobmixlabel[] = "MIX";
    static constexpr char sCglobgainpadinlabel[] = "PAD IN:";
    static constexpr char sCglobgainpadoutlabel[] = "PAD OUT:";
    static constexpr char sCglobprogramratelabel[] = "RATE:";
    static constexpr char sCglobprogramratestatuslabel[] = "RATE S:";
    static constexpr char sCglobfeedbackfactorlabel[] = "FEEDBK:";
    static constexpr char sCglobfeedbacksourcelabel[] = "FEEDBK SC:";
    static constexpr char sCgloblookaheadlabel[] = "AHEAD:";
    static constexpr char sCgloblookaheadsourcelabel[] = "AHEAD SC:";
    static constexpr char sCglobgaindryfactorlabel[] = "DRY:";
    static constexpr char sCglobgaindrysourcelabel[] = "DRY SC:";
    static constexpr char sCglobsmoothlabel[] = "SMOOTH:";
    static constexpr int iCglobsmooth = 31;
    static constexpr const char* sCglobsmooth[] = {
        "OFF",   "LINEAR", "PARAB", "CUBIC", "POW 4", "POW 5", "POW 6", "POW 7", "POW 8", "POW 9", "POW10",
        "POW11", "POW12",  "POW13", "POW14", "POW15", "POW16", "POW17", "POW18", "POW19", "EXP",   "LINDB",
        "PARDB", "CUBDB",  "PW4DB", "PW5DB", "PW6DB", "PW7DB", "PW8DB", "PW9DB", "EXPDB"};

    // Disk page
    static constexpr char sCdiskallcmemlabel[] = "LOCAL MEM:";
    static constexpr char sCdiskshrdmemlabel[] = "SHARED MEM:";
    static constexpr char sCdisklatencylabel[] = "LATENCY:";
    static constexpr char sCdiskversionlabel[] = "VERSION:";
    static constexpr char sCdiskbridge_label[] = "BRIDGE:";
    static constexpr char sCdiskserver_label[] = "SERVER:";

    // Function page
    static constexpr char sCfun_alabel[] = "A:";
    static constexpr char sCfun_adblabel[] = "(dB)";
    static constexpr char sCfun_blabel[] = "B:";
    static constexpr char sCfun_bdblabel[] = "(dB)";
    static constexpr char sCfun_funlabel[] = "FUN:";

    // Envelope follower page
    static constexpr char sCevf_minattacklabel[] = "Att Min:";
    static constexpr char sCevf_maxattacklabel[] = "Att Max:";
    static constexpr char sCevf_attacksourcelabel[] = "Att Sc:";
    static constexpr char sCevf_dattacksourcelabel[] = "Dyn Att Sc:";
    static constexpr char sCevf_minreleaselabel[] = "Rel Min:";
    static constexpr char sCevf_maxreleaselabel[] = "Rel Max:";
    static constexpr char sCevf_releasesourcelabel[] = "Rel Sc:";
    static constexpr char sCevf_dreleasesourcelabel[] = "Dyn Rel Sc:";
    static constexpr char sCevf_outputbalancelabel[] = "I/O Bal:";
    static constexpr char sCevf_highpasslabel[] = "Highpass:";
    static constexpr char sCevf_highpassorderlabel[] = "O:";
    static constexpr char sCevf_highpasssourcelabel[] = "Highpass Sc:";
    static constexpr char sCevf_explabel[] = "Env Type:";
    static constexpr int iCevf_type = 10;
    static constexpr const char* sCevf_type[] = {"AVR    ", "RMS    ", "Peak   ", "AVR 17 ", "RMS 17 ",
                                                 "EVF    ", "EVF 17 ", "VU     ", "TRMS 17", "OFF    "};
    static constexpr int iCevf_order = 4;
    static constexpr const char* sCevf_order[] = {"2", "4", "6", "8"};

    // Memory page
    static constexpr char sCmemobanklabel[] = "BANK:";
    static constexpr char sCmemomemorylabel[] = "MEMORY:";
    static constexpr char sCmemonamelabel[] = "NAME:";
    static constexpr char sCmemocatlabel[] = "CAT:";
    static constexpr char sCmemodesclabel[] = "DESC:";
    static constexpr char sCmemoemptylabel[] = "<empty>";
    static constexpr char sCmemonewnamelabel[] = "NEW:";

    // Envelope page
    static constexpr char sCenv_activsourcelabel[] = "ActivSc:";
    static constexpr char sCenv_deactivsourcelabel[] = "DeactSc:";
    static constexpr char sCenv_levelstartlabel[] = "Start:";
    static constexpr char sCenv_levelattacklabel[] = "Attack:";
    static constexpr char sCenv_levelbreaklabel[] = "Break:";
    static constexpr char sCenv_levelsustainlabel[] = "Sustain:";
    static constexpr char sCenv_levelmodfactorlabel[] = "Amount:";
    static constexpr char sCenv_levelmodsourcelabel[] = "AmountSc:";
    static constexpr char sCenv_attacklabel[] = "Attack:";
    static constexpr char sCenv_decaylabel[] = "Decay:";
    static constexpr char sCenv_slopelabel[] = "Slope:";
    static constexpr char sCenv_releaselabel[] = "Release:";
    static constexpr char sCenv_modfactorlabel[] = "Amount:";
    static constexpr char sCenv_modsourcelabel[] = "AmountSc:";
    static constexpr char sCenv_levellabel[] = "Level:";
    static constexpr char sCenv_timelabel[] = "Time:";
    static constexpr char sCenv_curvelabel[] = "Curve:";
    static constexpr int iCenv_attacksmooth = 1;
    static constexpr const char* sCenv_attacksmooth[] = {"JOIN"};
    static constexpr int iCenv_curve = 10;
    static constexpr const char* sCenv_curve[] = {"LINEAR",  "CURVE 1", "CURVE 2", "CURVE 3", "CURVE 4",
                                                  "CURVE 5", "CURVE 6", "CURVE 7", "CURVE 8", "EXP"};

    // Dynamics page
    static constexpr char sCdyn_typelabel[] = "Dynmc Type:";
    static constexpr char sCdyn_tresholdsourcelabel[] = "Thold Sc:";
    static constexpr char sCdyn_inputsourcelabel[] = "Input Sc:";
    static constexpr char sCdyn_ratiosourcelabel[] = "Ratio Sc:";
    static constexpr char sCdyn_ratiocurvelabel[] = "Curve:";
    static constexpr char sCdyn_rangelimitlabel[] = "Range:";
    static constexpr char sCdyn_gainpadfactorlabel[] = "Mkeup:";
    static constexpr int iCdyn_type = 2;
    static constexpr const char* sCdyn_type[] = {"COMP", "EXPN"};
    static constexpr int iCdyn_curve = 10;
    static constexpr const char* sCdyn_curve[] = {"LINEAR", "ANALOG", "EXP 1", "EXP 2", "EXP 3",
                                                  "EXP 4",  "EXP 5",  "EXP 6", "EXP 7", "EXP 8"};

    // About page: one line per row; the product, version and engine texts are the log's.
    static constexpr int iCaboulines = 9;
    static constexpr const char* sCaboulines[] = {
        "",
        CoreLog_::sCproductn,
        CoreLog_::sCversion_,
        CoreLog_::sCsubvrsn_,
        "",
        "Dynamic convolution with harmonic kernels",
        "",
        "",
        "",
    };

    // User parameter page
    static constexpr char sCprm_visiblelabel[] = "Visible:";
    static constexpr char sCprm_invisiblelabel[] = "Invisib:";
    static constexpr char sCprm_prmnotlabeled[] = "UNDEFINED";

    // Modulated parameter page
    static constexpr char sCprm2labellabel[] = "Label:";
    static constexpr char sCprm2unitlabel[] = "Unit:";
    static constexpr char sCprm2preunitlabel[] = "Pre lb:";
    static constexpr char sCprm2postunitlabel[] = "Post lb:";
    static constexpr char sCprm2prelabellabel[] = "Assign:";
    static constexpr int iCprm2prelabel = 9;
    static constexpr const char* sCprm2prelabel[] = {"No ",  "MIX1", "MIX2", "MIX3", "MIX4",
                                                     "MIX5", "MIX6", "MIX7", "MIX8"};
    static constexpr char sCprm2minlabel[] = "Min:";
    static constexpr char sCprm2maxlabel[] = "Max:";
    static constexpr char sCprm2barminlabel[] = "Bar min:";
    static constexpr char sCprm2barmaxlabel[] = "Bar max:";
};
