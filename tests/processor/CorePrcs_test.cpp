// The engine's construction: the master settings (text and file, installer merge), derived sizes and
// ring positions, the data path and skin, the log, what it owns, and failures while building.
#include "processor/CorePrcs.h"

#include "CorePrcsTestAccess.h"
#include "base/CoreLog_.h"
#include "filestore/CoreFsys.h"
#include "processor/CoreDcry.h"
#include "program/CoreProg.h"
#include "tests/program/CoreProgTestAccess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

using Access = CorePrcsTestAccess;
namespace fs = std::filesystem;

class CorePrcsTest : public EngineFolderTest {};

TEST_F(CorePrcsTest, ReadsTheSettingsAndDerivesSizesPathsAndSkin) {
    fs::create_directories(root / "data/skins/Folder");
    fs::create_directories(root / "abs/skins");
    writeBytes(root / "abs/skins/one.q7s", "x");
    std::string title = std::string("Vorlan2 ") + CoreLog_::sCversion_; // a container holding A.XML
    title.resize(40, '\0');
    writeBytes(root / "abs/LIB.Q7X",
               title + std::string("\x03\x00\x00\x00", 4) +
                   "abc<TOC><ITEM><ENTRY> A.XML </ENTRY><ADDRESS> 0 </ADDRESS><DIM> 3 </DIM>"
                   "</ITEM></TOC>");
    writeBytes(root / "vorlan2.xml",
               "<MASTER><DATAPATH>data</DATAPATH><SKINSUBPATH>skins</SKINSUBPATH></MASTER>");
    const std::string plugin = folder(), absolute = (root / "abs").string();
    struct Row {
        std::string settings; // inside MASTER; "0": the file beside the plug-in
        const char* probe;    // see CorePrcsTestAccess::probe; "store": the master store's folder and item
        std::string expected;
    };
    const Row rows[] = {
        {"<GUIRATE>0</GUIRATE>", "GUIRATE", "40000"}, // "0" is absent
        {"<guirate> 0 </guirate>", "GUIRATE", "0"},   // framed: present; keys ignore case
        {"<GUIRATE>0.0</GUIRATE>", "GUIRATE", "0"},
        {"<GUIRATE>fast</GUIRATE>", "GUIRATE", "0"}, // malformed: present with 0
        {"<GUIRATE>-2.9</GUIRATE>", "GUIRATE", "-2"},
        {"<GUIRATE>1e12</GUIRATE>", "GUIRATE", "2147483647"},
        {"<FORCOLUMN>-40000</FORCOLUMN>", "FORCOLUMN", "-32768"},
        {"<SCANBOOT> 0 </SCANBOOT>", "SCANBOOT", "0"},
        {"<NODROP>-3</NODROP>", "NODROP", "1"},
        {"<VECTORSUBPATH> a\\b\\ </VECTORSUBPATH>", "VECTORSUBPATH", "a/b/"},
        {"<SKINNAME>a\\b</SKINNAME>", "SKINNAME", "a\\b"}, // not a path key
        {"<BPMDEFAULT>140000</BPMDEFAULT>", "BPMDEFAULT", "140"},
        {"<MAGIC> abcdef </MAGIC>", "MAGIC", "abcd"},
        {"<PROTECTIONDB> 0 </PROTECTIONDB>", "protection", "1"},
        {"<PROTECTIONDB>6</PROTECTIONDB>", "protection", "1.99526"},
        {"<FASTBOOT>0</FASTBOOT>", "firstboot", "1"},
        {"<METERTYPE>12</METERTYPE>", "METERTYPE", "2"}, // no such meter type
        {"<alternativedatapath>/abs/One</alternativedatapath><AlternativeDataPath> rel\\Two "
         "</AlternativeDataPath>",
         "alternatives", "/abs/One|" + plugin + "rel\\Two|"},
        {"<MIDISTSMIX3>177</MIDISTSMIX3><MIDICTRMIX3>7</MIDICTRMIX3>", "midi2", "177/7"},
        {"<MIDISTSMIX4>178</MIDISTSMIX4>", "midi3", "176/127"}, // a status alone binds nothing
        // dsp, work, latency, look-ahead room, forced offset, delay compensation, reported latency, input
        // write, input read, output write, output read, pass-through write, dry delay, host block
        {"", "layout", "8192 32768 8192 0 0 0 8192 8192 8192 8192 0 0 0 2048"},
        {"<DSPBUFFER>3</DSPBUFFER><THREADSMINDIM>-5</THREADSMINDIM>", "layout",
         "16 32768 16 0 0 0 16 16 16 16 0 0 0 0"},
        {"<DSPBUFFER>1000</DSPBUFFER><THREADS>2</THREADS>", "layout",
         "1024 32768 2048 0 0 0 2048 2048 2048 2048 0 0 0 2048"},
        // FORCEOFFSET 1000 µs is 48 samples; the look-ahead room is PROGRAMRATE's 3000 µs.
        {"<FORCEOFFSET>1000</FORCEOFFSET>", "layout",
         "8192 32768 8192 144 48 8384 8384 8336 8192 8192 0 8384 48 2048"},
        {"<FORCEOFFSET>1000</FORCEOFFSET><AHEADLENGTH>-500</AHEADLENGTH>", "layout",
         "8192 32768 8192 0 48 8240 8240 8192 8192 8192 0 8240 48 2048"},
        // A ring that cannot hold the write-ahead or the delay compensation is raised; caps.
        {"<WORKBUFFER>1000</WORKBUFFER><DSPBUFFER>512</DSPBUFFER>", "layout",
         "512 2048 512 0 0 0 512 512 512 512 0 0 0 2048"},
        {"<DSPBUFFER>100000</DSPBUFFER>", "layout",
         "65536 262144 65536 0 0 0 65536 65536 65536 65536 0 0 0 2048"},
        {"<WORKBUFFER>4096</WORKBUFFER><DSPBUFFER>512</DSPBUFFER><FORCEOFFSET>100000</FORCEOFFSET>", "layout",
         "512 8192 512 144 4800 5456 5456 656 512 512 0 5456 4800 2048"},
        {"<WORKBUFFER>1e9</WORKBUFFER>", "failed", "1"}, // rings above 2^24 samples
        {"<FORCEOFFSET>2000000000</FORCEOFFSET>", "failed", "1"},
        // The data path, the master store's folder and items, the skin.
        {"", "datapath", plugin + "VorlanTempRepository/"},
        {"", "store", ""},
        {"<DATAPATH> </DATAPATH>", "datapath", plugin},
        {"<DATAPATH> </DATAPATH>", "temprepository", plugin + "VorlanTempRepository/"},
        {"<DATAPATH>data</DATAPATH>", "store", plugin + "data/"},
        {"0", "datapath", plugin + "data/"},
        {"<DATAPATH>nowhere\\x/</DATAPATH>", "datapath", plugin + "nowhere/x/"},
        {"<DATAPATH>" + absolute + "</DATAPATH>", "datapath", absolute + "/"},
        {"<DATAPATH>ABS/lib.q7x</DATAPATH>", "store", plugin + "ABS/ A.XML"},
        {"<DATAPATH>ABS/lib.q7x</DATAPATH>", "datapath", plugin + "ABS/"},
        {"<DATAPATH>ABS/lib.q7x</DATAPATH><SKINNAME>Named</SKINNAME>", "skin", "Named"},
        {"<DATAPATH>" + absolute + "</DATAPATH><SKINSUBPATH>skins</SKINSUBPATH>", "skin", "one.q7s"},
        {"0", "skin", "Folder"},
        {"<DATAPATH>data</DATAPATH><SKINSUBPATH>nothing</SKINSUBPATH>", "skin", ""},
    };
    for (const Row& r : rows) {
        CoreFsys store(&pool);
        auto e = make(r.settings, 48000, &store);
        const std::string got = std::string(r.probe) != "store" ? Access::probe(*e, r.probe)
                                                                : std::string(store.getdt().c_str()) +
                                                                      (store.gtsit("A.XML") ? " A.XML" : "");
        EXPECT_EQ(got, r.expected) << r.settings << " " << r.probe;
    }
}

TEST_F(CorePrcsTest, ReadsTheFileBesideThePluginAndMergesTheInstallerFile) {
    struct Row {
        const char *bundle, *file, *text; // the file is written unless null
        const char* expected;             // master found, installer merged, GUIRATE, HDIM
    };
    const Row rows[] = {
        {"0", "vorlan2.xml", "<MASTER><GUIRATE>5</GUIRATE></MASTER>", "10 5 1"},
        {"Reverb.vst", "REVERB.XML", "<MASTER><GUIRATE>5</GUIRATE></MASTER>", "11 9 3"},
        {"Reverb.vst", nullptr, "", "00 40000 1"},
        {"Reverb.vst", "Reverb.xml", "<OTHER><GUIRATE>5</GUIRATE></OTHER>", "00 40000 1"},
    };
    for (const Row& r : rows) {
        TempFolder plugin("prcs-file"); // named without its trailing '/'
        if (r.file) writeBytes(plugin.path / r.file, r.text);
        writeBytes(plugin.path / "reverb_installer.xml",
                   "<MASTER><GUIRATE>9</GUIRATE><HDIM>3</HDIM></MASTER>");
        CorePrcs e(&pool, CoreAnsx(plugin.path.c_str()), 48000, nullptr, CoreAnsx(r.bundle), false, false,
                   nullptr, CoreAnsx("0"), false, nullptr);
        EXPECT_EQ(Access::probe(e, "found") + " " + Access::probe(e, "GUIRATE") + " " +
                      Access::probe(e, "HDIM"),
                  r.expected)
            << r.bundle << " " << (r.file ? r.file : "no file");
        EXPECT_STREQ(CoreLog_::getpt().c_str(), (plugin.withSeparator() + "VorlanTempRepository/").c_str());
    }
}

TEST_F(CorePrcsTest, LogsTheSettingsInOrder) {
    make("<DL>3</DL><DATAPATH> </DATAPATH><MAGIC>Zk9x</MAGIC><THREADS>1</THREADS><FASTBOOT>1</FASTBOOT>"
         "<SCANBOOT> 0 </SCANBOOT><PROGRAMRATE>2000</PROGRAMRATE><LFREQD>800000</LFREQD><FORCEOFFSET>500"
         "</FORCEOFFSET><VECTORSUBPATH>v</VECTORSUBPATH><DSPBUFFER>256</DSPBUFFER><HDIMMAX>3</HDIMMAX>"
         "<BPMDEFAULT>97500</BPMDEFAULT><PROTECTIONDB>6.5</PROTECTIONDB><THREADSMINDIM>1024</THREADSMINDIM>",
         44100);
    // 622 = 512 + 22 (500 µs) + 88 (2000 µs of look-ahead) at 44.1 kHz.
    const std::string golden =
        "Vorlan3 lisko "
        "1.3.502|MAGIC:Zk9x|FASTBOOT:1|SCANBOOT:0|NODROP:0|AUTOTHREAD:1|MODE:1|LEGACYSTEREOCHANNEL:1|"
        "PROGRAMRATE:2000|GUIRATE:40000|EXPORTAUDIOQUALITY:1|LTIMED:10000|LFREQD:800000|FORCEOFFSET:500|"
        "RATECONVERSION:0|PROGRAMSUBPATH:|VECTORSUBPATH:v|SETUPSUBPATH:|SETUPROMNAME:|DICTIONARYROMNAME:NULL|"
        "CACHESUBPATH:|DICTIONARYSUBPATH:|WORKBUFFER:32768|DSPBUFFER:256|PROCESSINGBUFFER:512|METERTYPE:2|"
        "HDIM:1|"
        "HDIMMAX:3|BPMDEFAULT:97.5|FONTCOLOUR:0|LOADERPRIORITY:1|FORCOLUMN:24|PROTECTIONDB:6.5|IPPTHREADS:1|"
        "*rate:44100|THREADSMINDIM:1024|DELAY COMPENSATION:622|ippGetNumThreads:1|";
    std::istringstream log(readBytes(root / CoreLog_::sCdefaultfilename));
    std::string lines;
    for (std::string line; std::getline(log, line) && lines.size() < golden.size();)
        lines += line.substr(line.find(" >") + 2, line.size() - line.find(" >") - 3) + "|";
    EXPECT_EQ(lines, golden);
}

TEST_F(CorePrcsTest, BuildsWhatItOwnsWithZeroedRings) {
    writeBytes(root / "DIC.XML", "<DICTIONARY><CATEGORY><PAD>Pads</PAD></CATEGORY></DICTIONARY>");
    auto e =
        make("<DATAPATH> </DATAPATH><HDIMMAX>2</HDIMMAX><RATECONVERSION>250</RATECONVERSION><WORKBUFFER>4096"
             "</WORKBUFFER><DICTIONARYROMNAME>dic.xml</DICTIONARYROMNAME><DSPBUFFER>64</DSPBUFFER>",
             44100);
    CoreProg& program = Access::program(*e);
    EXPECT_EQ(CoreProgTestAccess::capacity(program), 2);
    for (int h = 0; h < 3; ++h)
        EXPECT_EQ(CoreProgTestAccess::record(program, h).pConvolver, Access::records(*e)[h].convolver);
    EXPECT_EQ(CoreProgTestAccess::programRate(program) + CoreProgTestAccess::rateConversion(program),
              44100 + 250);
    EXPECT_STREQ(Access::dictionary(*e)->getvl("CATEGORY", "PAD").c_str(), "Pads");
    EXPECT_TRUE(Access::ringsHold(*e, 0.0, true));
}

TEST_F(CorePrcsTest, APoolRefusingAnyRequestLeavesAFailedEngineAndNoBlock) {
    int requests = 0;
    const auto plain = pool.allocator;
    pool.allocator = [&](size_t bytes) {
        ++requests;
        return plain(bytes);
    };
    pool.pause = [](int) {};
    const std::string settings = "<HDIMMAX>2</HDIMMAX><WORKBUFFER>4096</WORKBUFFER><DSPBUFFER>64</DSPBUFFER>";
    make(settings).reset();
    const int total = requests;
    ASSERT_GT(total, 10);
    for (int refused = 1; refused <= total; ++refused) {
        requests = 0;
        pool.allocator = [&](size_t bytes) { return ++requests >= refused ? nullptr : plain(bytes); };
        std::unique_ptr<CorePrcs> e;
        EXPECT_NO_THROW(e = make(settings));
        EXPECT_TRUE(e->isfailed()) << refused;
        e.reset();
        EXPECT_EQ(pool.getma(), 0) << refused;
    }
    pool.allocator = plain;
    for (int cycle = 0; cycle < 50; ++cycle) make(settings).reset();
    EXPECT_EQ(pool.getma(), 0);
}

} // namespace
