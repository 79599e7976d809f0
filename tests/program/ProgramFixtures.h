// Shared fixtures of the program tests: the fixture document with every kind of section and the files
// it names, the model a user leaves after editing it, the processor's commit, documents written
// compactly, and programs read through the reader's steps or whole by load_ (compared by ProgramDump).
#pragma once
#include "program/CoreProg.h"

#include "CoreProgTestAccess.h"
#include "ProgramDump.h"
#include "base/CoreBlnk.h"
#include "base/CoreLog_.h"
#include "base/CoreNode.h"
#include "base/CorePmsg.h"
#include "base/CorePool.h"
#include "base/CoreXml_.h"
#include "convolution/CoreCnvl.h"
#include "convolution/CorePlel.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreRcsv.h"
#include "filestore/CoreWavs.h"
#include "modulation/CoreGfun.h"
#include "modulation/DataGfun.h"
#include "program/DataXml_.h"
#include "tests/common/TempFolder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace progtest {

using Access = CoreProgTestAccess;

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

// ---- the fixture document ------------------------------------------------------------------------

// Every kind of section: header, globals, MIX values, two harmonics with inline vectors (H1 in the
// flat LENGTH/FADEOUT form, H2 in the OT1/OT2 form), one harmonic whose ELEMENT names a vector file,
// RAW and RAWFUN sections, the modulator sections, DISPLAY with a ZELKIIPRM section, and an element
// no writer knows. TRAINTHRESHOLD stands under ELEMENT in H1 and under Hn in H2, as both kinds of
// file exist.
// HALL_A.WAV and HALL_B.WAV keep their '_', which the compact notation reads as a blank.
inline const std::string fixtureText = [] {
    std::string text =
        "<PROGRAM>" +
        xml("NAME=Fixture_Hall CATEGORY=Reverb SUBCATEGORY1=Halls SUBCATEGORY2=Large "
            "DESCRIPTION=Written_by_hand VECTORFILENAME=HALLS.XML SYNCVERSION=2 MIX1=0.5 MIX2=-0.5 MIX3=0.25 "
            "MIX5=1 GAINOUT=-6 GAININ=3 GAINPADOUT=-3 GAINPADIN=-1 GAINPADINTRIMSOURCE=LFO1 "
            "GAINPADOUTTRIMSOURCE=ENV1 GAINIR=-1.5 LOOKAHEAD=500 LOOKAHEADSOURCE=ON PROGRAMRATE=5000 "
            "ALIGNBALANCE=0.5 TRAINMODE=1 FORCEOT2=1 INVISIBLETHREAD=0 FORCEHYBRID=0 FORCEMONO=0 HDIM=3 "
            "FEEDBACKFACTOR=10 FEEDBACKSOURCE=LFO2 GAINDRYFACTOR=-12 GAINDRYSOURCE=ON SMOOTH=1 "
            "LFO1{MINRATE=0.5 MAXRATE=2 SOURCE=ENV1 SHAPE=Sine PHASEFACTOR=0 RATEQUANTIZE=0} LFO2{MINRATE=1 "
            "MAXRATE=4 SOURCE=NULL SHAPE=Triang PHASEFACTOR=45 PHASESOURCE=MIX1 RATEQUANTIZE=0.25} "
            "LFO3{MINRATE=0 MAXRATE=0 SOURCE=NULL SHAPE=NULL PHASEFACTOR=0 RATEQUANTIZE=0} RAWFUN1{A=LFO1 "
            "B=ON FUN=RSINGLE C=RAWA D=RAWB} FUN1{A=LFO1 B=0.5000000000 FUN=a*b} FUN2{A=ENV1 B=OFF FUN=a} "
            "EVF1{EXP=1 OUTPUTBALANCE=0.5 BUSBALANCESOURCE=MIX3 ENABLEEATERT=1 MINATTACK=1000 "
            "MAXATTACK=20000 ATTACKSOURCE=MIX1 MINRELEASE=10000 MAXRELEASE=500000 RELEASESOURCE=MIX2} "
            "EVF2{EXP=2 OUTPUTBALANCE=0 ENABLEEATERT=0 MINATTACK=100 MAXATTACK=100 ATTACKSOURCE= "
            "MINRELEASE=100 MAXRELEASE=100 RELEASESOURCE=} DNM1{RATIOCOMSOURCE=LFO1 THRESHOLDSOURCE=MIX2 "
            "INPUTSOURCE=EVF1 RATIOCURVE=1 RANGELIMIT=24 GAINPADFACTOR=3} ENV1{CONTROL{ACTIVSOURCE=EVF1 "
            "DEACTIVSOURCE=OFF} LEVEL{START=0 ATTACK=1 BREAK=0.5 SUSTAIN=0.25 COMMON{MODFACTOR=1 "
            "MODSOURCE=ON}} TIME{ATTACK=10000 DECAY=20000 SLOPE=30000 RELEASE=40000 COMMON{MODFACTOR=1 "
            "MODSOURCE=ON}} CURVE{ATTACK=1 DECAY=2 SLOPE=1 RELEASE=3}} DISPLAY{PRM1{PRELABEL=Room LABEL=Size "
            "PREUNIT= POSTUNIT= UNIT=m MINVALUE=1 MAXVALUE=10 A=MIX1 B=OFF FUN=a} ZELKIIPRM3{LABEL=Tone "
            "MINVALUE=-1 MAXVALUE=1 A=MIX2 B=OFF FUN=a} PRM3{LABEL=Ignored A=MIX4}} "
            "H1{ELEMENT{VECTOR{COMMON{MINVALUE=0 MAXVALUE=1 LENGTH=50000 FADEOUT=10000 LIQUIDSOURCE=ON} "
            "ELEMENT{FILENAME=HALL_A.WAV WEIGHT=0} ELEMENT{FILENAME=HALL_B.WAV WEIGHT=1}} TRAINTHRESHOLD=-6} "
            "FORCEOT2=1} H2{ELEMENT{VECTOR{COMMON{MINVALUE=0 MAXVALUE=1 OT1{LENGTH=20000 FADEOUT=2000} "
            "OT2{LENGTH=400000 FADEOUT=40000}} ELEMENT{FILENAME=H2.WAV WEIGHT=0.5}}} TRAINTHRESHOLD=-12} "
            "H3{ELEMENT{FILENAME=PLATE.XML FILEPATH=PLATES/ CONTROL{SOURCE=LFO1 GAINPADFACTOR=-3}} "
            "FORCEOT2=1} RAW1{ELEMENT{VECTOR{COMMON{MINVALUE=0 MAXVALUE=1} ELEMENT{FILENAME=RAWA.CSV "
            "WEIGHT=0}}}} CUSTOMNOTE=kept_as_it_is ") +
        "</PROGRAM>";
    for (size_t at = 0; (at = text.find("HALL ", at)) != std::string::npos;) text[at + 4] = '_';
    return text;
}();

inline std::string goldenPath() {
    const std::string source = __FILE__;
    return source.substr(0, source.find_last_of('/') + 1) + "CoreProgWriters_golden.txt";
}

// ---- programs and documents ---------------------------------------------------------------------

struct Fixture {
    CorePool pool;
    CoreBlnk blink;

    // Three harmonic records (H1..H3) and the hybrid record; vector files under VECTORS/ of the store.
    // The stage bounds in microseconds.
    std::unique_ptr<CoreProg> make(CoreFsys* files = nullptr, int32_t ltimed = 500000,
                                   int32_t lfreqd = 2000000, CorePlel* registry = nullptr) {
        return std::make_unique<CoreProg>(&pool, files, 3, CoreAnsx("VECTORS/"), ltimed, lfreqd, 1000, 4800,
                                          256, 8192, 4096, &blink, registry);
    }
};

inline std::unique_ptr<CoreXml_> parse(const std::string& text) {
    auto document = std::make_unique<CoreXml_>();
    document->getfc(CoreAnsx(text.c_str()));
    return document;
}

inline CoreNode* programOf(const CoreXml_& document) {
    return document.getrt() != nullptr ? document.getrt()->getcd(DataXml_::sCtagprogrm) : nullptr;
}

// The processor's commit: the writers in its order (PROGRAMRATE on at 3000 us unless told otherwise).
inline CoreAnsx commit(CoreProg& p, CoreXml_& document, bool rateOn = true, int32_t rate = 3000) {
    p.chgmx(&document);
    p.chggl(&document);
    p.chglf(&document);
    p.chgpr(&document, rateOn, rate);
    p.chgfn(&document);
    p.chgef(&document);
    p.chgen(&document);
    p.chgdy(&document);
    p.chgpt(&document);
    return document.settc(false, false);
}

// What a commit and a reload change on purpose, applied to the dump before: a dry or pad factor of 0.0
// is stored as -192.64 dB; a feedback or dry control bound to nothing is stored bound to "OFF" (the
// same value); '<' is stored as '('; an LFO source "NULL" comes back empty (the dump shows both as
// none); an edited LFO without a shape key gets the key of the waveform it plays; a dynamics curve at -1 (the
// display's "LINEAR") comes back at 0, which fades alike. A parameter never defined comes back defined, off
// and hidden, which no getter tells apart. Numbers the writers print "%G" agree to the dump's six digits.
inline Dump afterRoundTrip(Dump d, CoreProg& p) {
    for (const char* factor : {"GAINPADIN", "GAINPADOUT", "GAINDRYFACTOR"})
        if (d[factor] == "0") d[factor] = CoreAnsx(std::pow(10.0, CoreButl::dCdbmin / 20.0)).c_str();
    for (const char* source : {"FEEDBACKSOURCE", "GAINDRYSOURCE"})
        if (d[source].rfind("'' '' ", 0) == 0 && d[source] != "'' '' 1 1") d[source] = "'OFF' 'OFF' 0 1";
    for (auto& entry : d) std::replace(entry.second.begin(), entry.second.end(), '<', '(');
    for (int16_t i = 0; i < CoreProg::iClfos; ++i) {
        const std::string key = "LFO" + std::to_string(i + 1);
        const CoreAnsx shape = p.getlf(i)->getsh();
        if (d[key] != "'NULL' 'NULL' 0 0 0 0" && CoreButl::getnv(shape) == CoreAnsx(CoreButl::sCnull))
            d[key + ".SHAPE"] = "'" + std::string(p.getgf()->getgf(0, shape)->getky().c_str()) + "'";
    }
    for (const char* curve : {"DNM1.RATIOCURVE", "DNM2.RATIOCURVE"})
        if (d[curve] == "1 0") d[curve] = "1 1";
    return d;
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
    p.setnm("Fixture Hall (edited)");
    p.setct("Reverb", 0);
    p.setct("Halls", 1);
    p.setct("Large", 2);
    p.setds("Two inline harmonics and a plate file");
    p.setvf("0");
    p.setpi(1.0);
    p.setpo(0.5);
    p.setua(1000);
    p.setar("ON");
    p.setff(0.25);
    p.setfs("LFO2");
    p.setdr(0.5);
    // Read without a dry source: the control stays fixed at 1.0.
    Access::dryControl(p)->setsr("", 1.0, 1.0);
    p.setst(2);
    p.setf2(false);
    p.setfi(true);
    p.setfm(false);
    p.setsh(2);

    const double mixes[3] = {0.75, -0.5, 0.0};
    for (int i = 0; i < 8; ++i) p.getif(i)->setiv(i < 3 ? mixes[i] : -1.0, i < 3, true);
    p.getif(8)->setiv(0.5, true, true);
    p.getif(9)->setiv(0.25, true, true);

    p.getlf(0)->setvl(0.5, 2.0, 0.0, "ENV1", "Sine", 90.0, "");
    p.getlf(1)->setvl(1.0, 4.0, 0.25, "", "Triang", 45.0, "MIX1");
    // Shape never chosen, rate edited on the display: written with the waveform it plays.
    p.getlf(2)->setvl(1.0, 1.0, 0.0, "NULL", "NULL", 0.0, "NULL");
    p.getlf(3)->setvl(0.0, 0.0, 0.0, "", "", 0.0, "");

    p.getfn(0)->setvl("LFO1", "0.0", "a*b");
    p.getfn(1)->setvl("ENV1", "OFF", "a+b");
    for (int16_t i = 2; i < CoreProg::iCfuns; ++i) p.getfn(i)->setvl("", "", "");

    p.getef(0)->setvl(48, 960, "MIX1", 480, 24000, "MIX2", 0.5, 1, true, "MIX3", true, "LFO1", "LFO2", true,
                      48000.0, true, "ENV1", "ENV2", true, 0.125, 4, "MIX4");
    p.getef(1)->setvl(5, 5, "", 5, 5, "", 0.0, 2, false, "OFF", false, "OFF", "OFF", false, 48000.0, false,
                      "OFF", "OFF", false, 0.0, 1, "OFF");
    for (int16_t i = 2; i < CoreProg::iCfollowers; ++i) p.getef(i)->setvl();

    p.getdy(0)->setvl("MIX2", "EVF1", false, "LFO1", true, 3, 24.0, 3.0);
    p.getdy(1)->setvl("", "EVF2", true, "MIX5", false, -1, 12.5, 0.0);

    const double levels[4] = {0.0, 1.0, 0.5, 0.25};
    const int32_t times[4] = {480, 960, 1440, 48000};
    const int16_t curves[4] = {1, 2, 0, 3};
    p.geten(0)->setvl("EVF1", "OFF", levels, times, curves, 0.5, "MIX6", 2.0, "MIX7");
    p.geten(1)->setvl();

    p.getpm(0)->setvl(true, "MIX1", "OFF", "a", "Size", "Room", "m", "", "", 1.0, 20.0, 1.0, 20.0);
    p.getpm(1)->setvl(false, "0.5", "LFO1", "a*b", "Depth", "", "%", "~", "!", 0.0, 100.0, 100.0, 0.0);
    p.getpm(2)->setvl(true, "MIX2", "OFF", "a", "Tone", "", "dB", "", "", -6.0, 6.0, -6.0, 6.0);
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

// n samples: small decaying wiggles of the sign of peak, and peak itself at index at.
inline std::vector<double> response(int n, int at, double peak = 1.0, double wiggle = 0.05) {
    std::vector<double> x(size_t(n), 0.0);
    for (int k = 0; k < n; ++k)
        x[k] = std::copysign(wiggle * std::exp(-k / 50.0) * (1.5 + std::sin(0.7 * k)), peak);
    if (at >= 0 && at < n) x[size_t(at)] = peak;
    return x;
}

// A program of the given keys (compact) over the fixture's files; an H1 among the keys wins.
inline std::string programText(const std::string& keys) {
    return "<PROGRAM>" + xml("H1{ELEMENT{VECTOR{ELEMENT{FILENAME=H2.WAV}}}} " + keys) + "</PROGRAM>";
}

// A float WAV file of one or two channels.
inline bool writeWav(CorePool& pool, const std::filesystem::path& file, const std::vector<double>& left,
                     const std::vector<double>& right = {}, int rate = 48000) {
    CoreWavs image(&pool, right.empty() ? 1 : 2, rate, int32_t(left.size()), true);
    image.setdt(int32_t(left.size()), left.data(), right.empty() ? nullptr : right.data());
    std::filesystem::create_directories(file.parent_path());
    return image.write(CoreAnsx(file.string().c_str()));
}

// The files fixtureText names, written into the given vector folder.
inline void writeFixtureFiles(CorePool& pool, const std::filesystem::path& vectors) {
    const auto text = [&](const std::string& relative, const std::string& bytes) {
        std::filesystem::create_directories((vectors / relative).parent_path());
        writeBytes(vectors / relative, bytes);
    };
    EXPECT_TRUE(writeWav(pool, vectors / "HALL_A.WAV", response(3000, 20), response(3000, 30, 0.8)));
    EXPECT_TRUE(writeWav(pool, vectors / "HALL_B.WAV", response(2500, 40, -1.0)));
    EXPECT_TRUE(writeWav(pool, vectors / "H2.WAV", response(2000, 10)));
    EXPECT_TRUE(writeWav(pool, vectors / "PLATES/PLATEA.WAV", response(1500, 5)));
    EXPECT_TRUE(writeWav(pool, vectors / "PLATES/PLATEB.WAV", response(1800, 8, 0.5)));
    text("PLATES/PLATE.XML", xml("VECTOR{COMMON{MAXVALUE=1 LENGTH=20000} ELEMENT{FILENAME=PLATEA.WAV} "
                                 "ELEMENT{FILENAME=PLATEB.WAV WEIGHT=1}}"));
    for (const char* raw : {"RAWA", "RAWB"}) {
        const std::vector<double> values = response(64, 3, raw[3] == 'A' ? 1.0 : -0.5);
        text(std::string(raw) + ".CSV", CoreRcsv::crtcn(values.data(), 64).c_str());
    }
}

// Programs over a file store rooted in a fresh folder that holds the files fixtureText names under
// VECTORS/, on a direct convolver, logging at level 3 into that folder. Whatever a test's programs
// take from the pool, they give back when they go.
class LoadTest : public TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        CoreLog_::setpt(base());
        CoreLog_::setfn("reader.log");
        CoreLog_::setdb(3, false);
        files = std::make_unique<CoreFsys>(&filePool, base(), false);
        convolver.set__(CoreCnvl::iCdefaultdir, 0, 0, 0, 0, 0);
        program = fixture.make(files.get());
        ready(*program);
        Access::loaded(*program) = true; // as the reader's entry sets it, so that init_ empties the records
        const int64_t withOne = fixture.pool.getma();
        poolWithoutPrograms = 2 * withOne - (fresh(44100), fixture.pool.getma());
        writeFixtureFiles(filePool, root / "VECTORS");
    }
    void TearDown() override {
        program.reset();
        EXPECT_EQ(fixture.pool.getma(), poolWithoutPrograms);
        files.reset();
        CoreLog_::setpt("");
        TempFolderTest::TearDown();
    }
    CoreAnsx base() const { return CoreAnsx((root.string() + "/").c_str()); }
    // What the processor gives a program before it loads one: a convolver for every record.
    CoreProg& ready(CoreProg& p) {
        for (int h = 0; h <= Access::capacity(p); ++h) p.setcv(h, &convolver);
        return p;
    }
    std::unique_ptr<CoreProg> fresh(int32_t rate, int32_t bounds = 2000000) {
        auto p = fixture.make(files.get(), bounds / 4, bounds);
        p->setrt(rate);
        ready(*p);
        return p;
    }
    bool load(CoreProg& p, const std::string& text, bool keepRate = false) {
        CoreXml_ parsed;
        return p.load_(parsed.getfc(CoreAnsx(text.c_str())), keepRate);
    }
    // The PROGRAM element of a document of the given children (compact); it lives until the next call.
    CoreNode* programElement(const std::string& children) {
        document.getfc(CoreAnsx(("<PROGRAM>" + xml(children) + "</PROGRAM>").c_str()));
        return programOf(document);
    }
    void write(const std::string& relative, const std::string& text) {
        std::filesystem::create_directories((root / relative).parent_path());
        writeBytes(root / relative, text);
    }
    // A float WAV under the vector folder.
    void wav(const std::string& name, const std::vector<double>& left, const std::vector<double>& right = {},
             int rate = 48000) {
        EXPECT_TRUE(writeWav(filePool, root / ("VECTORS/" + name), left, right, rate));
    }
    std::string log() const { return readBytes(root / "reader.log"); }

    Fixture fixture;
    CorePool filePool; // the store's cache of vector files stays apart from what the program holds
    std::unique_ptr<CoreFsys> files;
    CoreCnvl convolver{&fixture.pool, "direct", 0, nullptr};
    std::unique_ptr<CoreProg> program;
    int64_t poolWithoutPrograms = 0;
    CoreXml_ document;
};

} // namespace progtest
