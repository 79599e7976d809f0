// The engine's construction: the master settings (text and file, installer merge), derived sizes and
// ring positions, the data path and skin, what it owns, and failures while building.
#include "processor/CorePrcs.h"

#include "CorePrcsTestAccess.h"
#include "base/CoreLog_.h"
#include "convolution/CoreCnvl.h"
#include "filestore/CoreFsys.h"
#include "processor/CoreDcry.h"
#include "processor/CoreMmry.h"
#include "program/CoreProg.h"
#include "tests/program/CoreProgTestAccess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

namespace {

using Access = CorePrcsTestAccess;
namespace fs = std::filesystem;

class CorePrcsTest : public EngineFolderTest {
protected:
    // The log written since the engine set its folder, without the process and thread prefix.
    std::vector<std::string> logLines(const fs::path& folder) {
        std::vector<std::string> lines;
        std::istringstream in(readBytes(folder / CoreLog_::sCdefaultfilename));
        for (std::string line; std::getline(in, line);) lines.push_back(line.substr(line.find(' ') + 1));
        return lines;
    }
};

TEST_F(CorePrcsTest, ReadsEachKeyByTheRulesOfItsKind) {
    struct Row {
        const char* settings;
        const char* key;
        const char* expected;
    };
    const Row rows[] = {
        {"", "GUIRATE", "40000"},
        {"<GUIRATE>0</GUIRATE>", "GUIRATE", "40000"}, // "0" is absent
        {"<guirate> 0 </guirate>", "GUIRATE", "0"},   // framed: present; keys ignore case
        {"<GUIRATE>0.0</GUIRATE>", "GUIRATE", "0"},
        {"<GUIRATE>fast</GUIRATE>", "GUIRATE", "0"}, // malformed: present with 0
        {"<GUIRATE>-2.9</GUIRATE>", "GUIRATE", "-2"},
        {"<GUIRATE>1e12</GUIRATE>", "GUIRATE", "2147483647"},
        {"<FORCOLUMN>-40000</FORCOLUMN>", "FORCOLUMN", "-32768"},
        {"<SCANBOOT>0</SCANBOOT>", "SCANBOOT", "1"},
        {"<SCANBOOT> 0 </SCANBOOT>", "SCANBOOT", "0"},
        {"<NODROP>-3</NODROP>", "NODROP", "1"},
        {"<VECTORSUBPATH> a\\b\\ </VECTORSUBPATH>", "VECTORSUBPATH", "a/b/"},
        {"<SKINNAME>a\\b</SKINNAME>", "SKINNAME", "a\\b"}, // not a path key
        {"<BPMDEFAULT>140000</BPMDEFAULT>", "BPMDEFAULT", "140"},
        {"<MAGIC> abcdef </MAGIC>", "MAGIC", "abcd"},
        {"<PROGRAMRATE>7000</PROGRAMRATE>", "AHEADLENGTH", "7000"},
        {"<PROGRAMRATE>7000</PROGRAMRATE><AHEADLENGTH>500</AHEADLENGTH>", "AHEADLENGTH", "500"},
        {"<DSPBUFFER>1000</DSPBUFFER>", "DSPBUFFER", "1000"}, // the saved value is the one read
        {"<DSPBUFFER>1000</DSPBUFFER>", "dspbufferabsent", "0"},
        {"<FASTBOOT>0</FASTBOOT>", "firstboot", "1"},
        {"<FASTBOOT> 0 </FASTBOOT>", "firstboot", "0"},
        {"<OTIMED>2</OTIMED>", "otimedabsent", "0"},
        {"<METERTYPE>12</METERTYPE>", "METERTYPE", "2"}, // no such meter type
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.settings);
        auto e = make(r.settings);
        EXPECT_EQ(Access::setting(*e, r.key), r.expected);
    }
}

TEST_F(CorePrcsTest, ReadsAlternativeFoldersAndMidiSlots) {
    auto e = make("<alternativedatapath>/abs/One</alternativedatapath><MIDISTSMIX3>177</MIDISTSMIX3>"
                  "<MIDICTRMIX3>7</MIDICTRMIX3><MIDISTSMIX4>178</MIDISTSMIX4>"
                  "<AlternativeDataPath> rel\\Two </AlternativeDataPath>");
    const std::vector<CoreAnsx> expected = {"/abs/One", CoreAnsx((folder() + "rel\\Two").c_str())};
    EXPECT_EQ(Access::alternatives(*e), expected);
    struct Row {
        int16_t slot;
        int status, controller;
    };
    for (const Row& r : {Row{2, 177, 7}, Row{3, 176, 127}}) {
        bool learn = true;
        int status = 0, controller = 0, channel = 0, value = 0;
        Access::midi(*e)->getms(r.slot, learn, status, controller, channel, value);
        EXPECT_EQ(std::make_pair(status, controller), std::make_pair(r.status, r.controller)) << r.slot;
    }
}

TEST_F(CorePrcsTest, ReadsTheFileBesideThePluginAndMergesTheInstallerFile) {
    struct Row {
        const char* bundle;
        const char* file; // written with GUIRATE 5 unless null
        const char* mainText;
        const char* installer; // installer file name, written with GUIRATE 9 and HDIM 3
        bool found, merged;
        const char* guirate;
        const char* hdim;
    };
    const Row rows[] = {
        {"0", "vorlan2.xml", "<MASTER><GUIRATE>5</GUIRATE></MASTER>", nullptr, true, false, "5", "1"},
        {"Reverb.vst", "REVERB.XML", "<MASTER><GUIRATE>5</GUIRATE></MASTER>", "reverb_installer.xml", true, true, "9",
         "3"},
        {"Reverb.vst", nullptr, "", "Reverb_installer.xml", false, false, "40000", "1"},
        {"Reverb.vst", "Reverb.xml", "<OTHER><GUIRATE>5</GUIRATE></OTHER>", "Reverb_installer.xml", false, false,
         "40000", "1"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.bundle) + (r.file ? r.file : " no file"));
        TempFolder plugin("prcs-file");
        if (r.file) writeBytes(plugin.path / r.file, r.mainText);
        if (r.installer) writeBytes(plugin.path / r.installer, "<MASTER><GUIRATE>9</GUIRATE><HDIM>3</HDIM></MASTER>");
        CorePrcs e(&pool, CoreAnsx(plugin.path.c_str()), 48000, nullptr, CoreAnsx(r.bundle), false, false, nullptr,
                   CoreAnsx("0"), false, nullptr);
        EXPECT_EQ(std::make_pair(Access::masterFound(e), Access::installerMerged(e)), std::make_pair(r.found, r.merged));
        EXPECT_EQ(Access::setting(e, "GUIRATE"), r.guirate);
        EXPECT_EQ(Access::setting(e, "HDIM"), r.hdim);
        EXPECT_STREQ(CoreLog_::getpt().c_str(), (plugin.withSeparator() + "VorlanTempRepository/").c_str());
    }
}

TEST_F(CorePrcsTest, DerivesSizesAndLaysTheRingsOut) {
    using Layout = Access::Layout;
    struct Row {
        const char* settings;
        Layout expected; // dsp, work, latency, room, forced, compensation, reported, inpos, readpos, outpos,
                         // outread, passwrite, drydelay, hostdim, worker
    };
    const Row rows[] = {
        {"", {8192, 32768, 8192, 0, 0, 0, 8192, 8192, 8192, 8192, 0, 0, 0, 2048, false}},
        {"<DSPBUFFER>3</DSPBUFFER>", {16, 32768, 16, 0, 0, 0, 16, 16, 16, 16, 0, 0, 0, 2048, false}},
        {"<DSPBUFFER>1000</DSPBUFFER><THREADSMINDIM>-5</THREADSMINDIM>",
         {1024, 32768, 1024, 0, 0, 0, 1024, 1024, 1024, 1024, 0, 0, 0, 0, false}},
        {"<DSPBUFFER>512</DSPBUFFER><THREADS>2</THREADS>",
         {512, 32768, 1024, 0, 0, 0, 1024, 1024, 1024, 1024, 0, 0, 0, 2048, true}},
        // FORCEOFFSET 1000 µs is 48 samples; the look-ahead room is PROGRAMRATE's 3000 µs.
        {"<FORCEOFFSET>1000</FORCEOFFSET>",
         {8192, 32768, 8192, 144, 48, 8384, 8384, 8336, 8192, 8192, 0, 8384, 48, 2048, false}},
        {"<FORCEOFFSET>1000</FORCEOFFSET><AHEADLENGTH>-500</AHEADLENGTH>",
         {8192, 32768, 8192, 0, 48, 8240, 8240, 8192, 8192, 8192, 0, 8240, 48, 2048, false}},
        // A ring that cannot hold the write-ahead is raised; caps and negative sizes.
        {"<WORKBUFFER>1000</WORKBUFFER><DSPBUFFER>512</DSPBUFFER>",
         {512, 2048, 512, 0, 0, 0, 512, 512, 512, 512, 0, 0, 0, 2048, false}},
        {"<WORKBUFFER>-5</WORKBUFFER>", {8192, 32768, 8192, 0, 0, 0, 8192, 8192, 8192, 8192, 0, 0, 0, 2048, false}},
        {"<DSPBUFFER>100000</DSPBUFFER>",
         {65536, 262144, 65536, 0, 0, 0, 65536, 65536, 65536, 65536, 0, 0, 0, 2048, false}},
        {"<WORKBUFFER>4096</WORKBUFFER><DSPBUFFER>512</DSPBUFFER><FORCEOFFSET>100000</FORCEOFFSET>",
         {512, 8192, 512, 144, 4800, 5456, 5456, 656, 512, 512, 0, 5456, 4800, 2048, false}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.settings);
        auto e = make(r.settings);
        ASSERT_FALSE(e->isfailed());
        EXPECT_EQ(Access::layout(*e), r.expected);
    }
    // A ring of more than 2^24 samples fails the construction, which still returns.
    for (const char* settings : {"<WORKBUFFER>1e9</WORKBUFFER>", "<FORCEOFFSET>2000000000</FORCEOFFSET>"}) {
        EXPECT_TRUE(make(settings)->isfailed()) << settings;
        EXPECT_EQ(pool.getma(), 0);
    }
}

TEST_F(CorePrcsTest, LogsTheSettingsInOrder) {
    auto e = make("<DL>3</DL><DATAPATH> </DATAPATH><MAGIC>Zk9x</MAGIC><THREADS>1</THREADS><FASTBOOT>1</FASTBOOT>"
                  "<SCANBOOT> 0 </SCANBOOT><NODROP>1</NODROP><AUTOTHREAD> 0 </AUTOTHREAD><MODE> 0 </MODE>"
                  "<LEGACYSTEREOCHANNEL> 0 </LEGACYSTEREOCHANNEL><PROGRAMRATE>2000</PROGRAMRATE><GUIRATE>30000</GUIRATE>"
                  "<EXPORTAUDIOQUALITY>2</EXPORTAUDIOQUALITY><LTIMED>9000</LTIMED><LFREQD>800000</LFREQD>"
                  "<FORCEOFFSET>500</FORCEOFFSET><RATECONVERSION>7</RATECONVERSION><PROGRAMSUBPATH>p</PROGRAMSUBPATH>"
                  "<VECTORSUBPATH>v</VECTORSUBPATH><SETUPSUBPATH>s</SETUPSUBPATH><SETUPROMNAME>rom</SETUPROMNAME>"
                  "<DICTIONARYROMNAME>dic</DICTIONARYROMNAME><CACHESUBPATH>c</CACHESUBPATH>"
                  "<DICTIONARYSUBPATH>d</DICTIONARYSUBPATH><DSPBUFFER>256</DSPBUFFER><METERTYPE>5</METERTYPE>"
                  "<HDIM>2</HDIM><HDIMMAX>3</HDIMMAX><BPMDEFAULT>97500</BPMDEFAULT><FONTCOLOUR>4</FONTCOLOUR>"
                  "<LOADERPRIORITY>2</LOADERPRIORITY><FORCOLUMN>30</FORCOLUMN><PROTECTIONDB>6.5</PROTECTIONDB>"
                  "<IPPTHREADS>1</IPPTHREADS><THREADSMINDIM>1024</THREADSMINDIM>",
                  44100);
    const std::vector<std::string> golden = {
        ">Vorlan3 lisko 1.3.502<", ">MAGIC:Zk9x<", ">FASTBOOT:1<", ">SCANBOOT:0<", ">NODROP:1<", ">AUTOTHREAD:0<",
        ">MODE:0<", ">LEGACYSTEREOCHANNEL:0<", ">PROGRAMRATE:2000<", ">GUIRATE:30000<", ">EXPORTAUDIOQUALITY:2<",
        ">LTIMED:9000<", ">LFREQD:800000<", ">FORCEOFFSET:500<", ">RATECONVERSION:7<", ">PROGRAMSUBPATH:p<",
        ">VECTORSUBPATH:v<", ">SETUPSUBPATH:s<", ">SETUPROMNAME:rom<", ">DICTIONARYROMNAME:dic<", ">CACHESUBPATH:c<",
        ">DICTIONARYSUBPATH:d<", ">WORKBUFFER:32768<", ">DSPBUFFER:256<", ">PROCESSINGBUFFER:512<", ">METERTYPE:5<",
        ">HDIM:2<", ">HDIMMAX:3<", ">BPMDEFAULT:97.5<", ">FONTCOLOUR:4<", ">LOADERPRIORITY:2<", ">FORCOLUMN:30<",
        ">PROTECTIONDB:6.5<", ">IPPTHREADS:1<", ">*rate:44100<", ">THREADSMINDIM:1024<",
        // 512 + 22 (500 µs) + 88 (2000 µs of look-ahead) at 44.1 kHz
        ">DELAY COMPENSATION:622<", ">ippGetNumThreads:1<"};
    std::vector<std::string> lines = logLines(root);
    lines.resize(std::min(lines.size(), golden.size()));
    EXPECT_EQ(lines, golden);
}

TEST_F(CorePrcsTest, ResolvesTheDataPath) {
    fs::create_directories(root / "data");
    fs::create_directories(root / "abs");
    // A container file: its folder is the data folder and its items come through the master store.
    std::string title = std::string("Vorlan2 ") + CoreLog_::sCversion_;
    title.resize(40, '\0');
    writeBytes(root / "abs/LIB.Q7X", title + std::string("\x03\x00\x00\x00", 4) + "abc" +
                                         "<TOC><ITEM><ENTRY> A.XML </ENTRY><ADDRESS> 0 </ADDRESS><DIM> 3 </DIM>"
                                         "</ITEM></TOC>");
    writeBytes(root / "vorlan2.xml", "<MASTER><DATAPATH>data</DATAPATH></MASTER>");
    const std::string plugin = folder(), absolute = (root / "abs").string();
    struct Row {
        const char* settings; // "0": the file
        std::string dataPath;
        bool containerItem;
    };
    const Row rows[] = {
        {"", plugin + "VorlanTempRepository/", false},
        {"<DATAPATH> </DATAPATH>", plugin, false},
        {"<DATAPATH>data</DATAPATH>", plugin + "data/", false},
        {"0", plugin + "data/", false},
        {"<DATAPATH>nowhere\\x/</DATAPATH>", plugin + "nowhere/x/", false},
        {"<DATAPATH>ABS/lib.q7x</DATAPATH>", plugin + "ABS/", true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.settings);
        CoreFsys store(&pool);
        auto e = make(r.settings, 48000, &store);
        EXPECT_EQ(Access::dataPath(*e).c_str(), r.dataPath);
        EXPECT_EQ(Access::tempRepository(*e).c_str(), r.dataPath + "VorlanTempRepository/");
        EXPECT_EQ(store.gtsit("A.XML") != nullptr, r.containerItem);
        EXPECT_EQ(store.getdt().c_str(), r.settings[0] ? r.dataPath : std::string(""));
    }
    auto e = make("<DATAPATH>" + absolute + "</DATAPATH>"); // an existing folder gets its '/'
    EXPECT_EQ(Access::dataPath(*e).c_str(), absolute + "/");
}

TEST_F(CorePrcsTest, ChoosesTheSkin) {
    struct Row {
        const char* settings;
        const char* entry; // made below skins/: a file, or a folder when it ends with '/'
        const char* skin;
    };
    const Row rows[] = {
        {"<SKINNAME>Named</SKINNAME>", "one.q7s", "Named"},
        {"", "one.q7s", "one.q7s"},
        {"", "Folder/", "Folder"},
        {"", "other.txt", ""},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.entry);
        fs::remove_all(root / "SKINS");
        fs::create_directories(root / "SKINS");
        const std::string entry = r.entry;
        if (entry.back() == '/')
            fs::create_directories(root / "SKINS" / entry);
        else
            writeBytes(root / "SKINS" / entry, "x");
        auto e = make(std::string("<DATAPATH> </DATAPATH><SKINSUBPATH>skins</SKINSUBPATH>") + r.settings);
        EXPECT_STREQ(Access::skin(*e).c_str(), r.skin);
    }
}

TEST_F(CorePrcsTest, BuildsWhatItOwnsWithZeroedRings) {
    writeBytes(root / "DIC.XML", "<DICTIONARY><CATEGORY><PAD>Pads</PAD></CATEGORY></DICTIONARY>");
    CoreFsys store(&pool);
    auto e = make("<DATAPATH> </DATAPATH><HDIMMAX>2</HDIMMAX><RATECONVERSION>250</RATECONVERSION>"
                  "<DICTIONARYROMNAME>dic.xml</DICTIONARYROMNAME><WORKBUFFER>4096</WORKBUFFER><DSPBUFFER>64</DSPBUFFER>",
                  44100, &store);
    ASSERT_EQ(Access::records(*e), 3);
    CoreProg& program = *Access::program(*e);
    for (int h = 0; h < 3; ++h) EXPECT_EQ(CoreProgTestAccess::record(program, h).pConvolver, Access::convolver(*e, h));
    EXPECT_EQ(CoreProgTestAccess::programRate(program), 44100);
    EXPECT_EQ(CoreProgTestAccess::rateConversion(program), 250);
    EXPECT_STREQ(Access::dictionary(*e)->getvl("CATEGORY", "PAD").c_str(), "Pads");
    ASSERT_NE(e->getmm(), nullptr);
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
        SCOPED_TRACE(refused);
        requests = 0;
        pool.allocator = [&](size_t bytes) { return ++requests >= refused ? nullptr : plain(bytes); };
        std::unique_ptr<CorePrcs> e;
        EXPECT_NO_THROW(e = make(settings));
        EXPECT_TRUE(e->isfailed());
        e.reset();
        EXPECT_EQ(pool.getma(), 0);
    }
    pool.allocator = plain;
    for (int cycle = 0; cycle < 50; ++cycle) make(settings).reset();
    EXPECT_EQ(pool.getma(), 0);
}

} // namespace
