// The demo and render folders: the same bytes every time; settings and setups as the engine and the
// program memory read them; every program read by the program reader's steps and its kernels prepared.
#include "tools/CoreDemo.h"

#include "base/CoreBlnk.h"
#include "base/CorePool.h"
#include "base/CoreXml_.h"
#include "convolution/CoreCnvl.h"
#include "filestore/CoreFsys.h"
#include "processor/CoreMmry.h"
#include "program/CoreProg.h"
#include "tests/common/TempFolder.h"
#include "tests/processor/CorePrcsTestAccess.h"
#include "tests/program/CoreProgTestAccess.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> contents(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) files[fs::relative(entry.path(), folder).string()] = readBytes(entry.path());
    return files;
}

uint32_t field(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

class CoreDemoTest : public TempFolderTest {
protected:
    std::string folder(const std::string& name) const { return (root / name).string() + "/"; }
    CorePool pool;
};

TEST_F(CoreDemoTest, WritesTheSameFilesEveryTime) {
    CoreDemo::write(folder("a"));
    CoreDemo::write(folder("b"));
    CoreDemo::write(folder("b")); // over its own files
    const auto written = contents(root / "a");
    EXPECT_EQ(written, contents(root / "b"));
    // Stereo 32-bit float at 44.1 kHz, frames by the data size.
    const std::pair<std::string, uint32_t> waves[] = {{"demo/ir/unit.wav", 64},      {"demo/ir/unit-long.wav", 44100},
                                                      {"demo/ir/room-a.wav", 66150}, {"demo/ir/room-b.wav", 44100},
                                                      {"demo/ir/h2.wav", 256},       {"demo/input.wav", 264600}};
    for (const auto& [name, frames] : waves) {
        SCOPED_TRACE(name);
        const std::string bytes = written.count(name) ? written.at(name) : std::string(44, '\0');
        EXPECT_EQ(field(bytes, 20) & 0xFFFF, 3u);          // IEEE float
        EXPECT_EQ(field(bytes, 22) & 0xFFFF, 2u);          // channels
        EXPECT_EQ(field(bytes, 24), 44100u);               // rate
        EXPECT_EQ(field(bytes, 40), frames * 8);           // data bytes
    }
    const std::string input = written.at("demo/input.wav");
    const size_t silence = 44 + size_t(264600 - 66150) * 8; // the last 1.5 s
    EXPECT_EQ(input.find_first_not_of('\0', silence), std::string::npos);
    EXPECT_NE(input.substr(44, silence - 44).find_first_not_of('\0'), std::string::npos);
    EXPECT_EQ(written.size(), 12u);
}

TEST_F(CoreDemoTest, SettingsAndSetupsReadAsTheEngineAndTheMemoryReadThem) {
    CoreDemo::write(folder("plugin"));
    CoreDemo::writeUnit(folder("loose"), "loose.xml", "loose.wav", "Loose", 300);
    writeBytes(root / "own.xml", "<MASTER><DSPBUFFER>256</DSPBUFFER><DATAPATH>far/</DATAPATH><PROGRAMSUBPATH>p/"
                                 "</PROGRAMSUBPATH><CACHESUBPATH>c/</CACHESUBPATH><ALTERNATIVEDATAPATH>old/"
                                 "</ALTERNATIVEDATAPATH><DL>5</DL></MASTER>");
    CoreDemo::writeRender(folder("render"), "Vorlan3.xml", (root / "own.xml").string(), folder("loose") + "loose.xml");
    CoreDemo::writeRender(folder("bare"), "Vorlan3.xml", "", folder("loose") + "loose.xml");
    struct Row {
        std::string plugin, probe, expected;
    };
    const Row rows[] = {
        {"plugin", "found", "10"}, // master found, no installer file
        {"plugin", "datapath", folder("plugin") + "demo/"},
        {"plugin", "DSPBUFFER", "512"},
        {"plugin", "FASTBOOT", "1"},
        {"plugin", "SCANBOOT", "0"},
        {"plugin", "OTIMED", "3"},
        {"plugin", "DL", "1"},
        {"plugin", "SETUPROMNAME", "setup.xml"},
        {"render", "datapath", folder("render")},
        {"render", "alternatives", folder("loose") + "|"},
        {"render", "DSPBUFFER", "256"}, // kept from the own settings
        {"render", "PROGRAMSUBPATH", ""},
        {"render", "DL", "2"},
        {"render", "SCANBOOT", "0"},
        {"render", "FASTBOOT", "1"},
        {"bare", "datapath", folder("bare")},
        {"bare", "DSPBUFFER", "8192"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.plugin + " " + row.probe);
        CorePrcs engine(&pool, folder(row.plugin).c_str(), 44100, nullptr, "Vorlan3.so", false, true, nullptr, "0",
                        false, nullptr);
        EXPECT_EQ(CorePrcsTestAccess::probe(engine, row.probe), row.expected);
    }

    CoreAnsx alternative(folder("loose").c_str());
    const struct {
        std::string data;
        const char* setup;
        const char* names[2];
    } setups[] = {{folder("plugin") + "demo/", "setup.xml", {"Init", "Demo Rooms"}},
                  {folder("render"), "render/setup.xml", {"Init", "Loose"}}};
    for (const auto& s : setups) {
        SCOPED_TRACE(s.setup);
        CoreMmry memory(&pool, s.data.c_str(), 1, &alternative, "", "", "", "", false, nullptr);
        ASSERT_TRUE(memory.loads(s.setup, 0, true));
        EXPECT_STREQ(memory.getnm(0).c_str(), s.names[0]);
        EXPECT_STREQ(memory.getnm(1).c_str(), s.names[1]);
        EXPECT_EQ(memory.getpr(), 1); // marked LOAD
    }
}

TEST_F(CoreDemoTest, RenderFoldersLinkPackedProgramsAndRefuseAMissingOne) {
    fs::create_directories(root / "lib");
    for (const char* name : {"P.q7p", "a.Q7V", "b.q7v", "notes.txt"}) writeBytes(root / "lib" / name, name);
    CoreDemo::writeRender(folder("render"), "V.xml", "", folder("lib") + "P.q7p");
    for (const char* name : {"P.q7p", "a.Q7V", "b.q7v"}) EXPECT_EQ(readBytes(root / "render" / name), name);
    EXPECT_FALSE(fs::exists(root / "render/notes.txt"));
    EXPECT_NE(readBytes(root / "render/render/setup.xml").find("<FILENAME> P.q7p </FILENAME>"), std::string::npos);

    EXPECT_THROW(CoreDemo::writeRender(folder("other"), "V.xml", "", folder("lib") + "none.xml"), CoreAnsx);
    writeBytes(root / "bad.xml", "<SETUP></SETUP>");
    EXPECT_THROW(CoreDemo::writeRender(folder("other"), "V.xml", (root / "bad.xml").string(), folder("lib") + "P.q7p"),
                 CoreAnsx);
}

TEST_F(CoreDemoTest, EveryProgramReadsAndPreparesItsKernels) {
    CoreDemo::write(folder("plugin"));
    CoreDemo::writeRender(folder("render"), "Vorlan3.xml", "", folder("plugin") + "demo/init.xml");
    struct Row {
        std::string data, program;
        int16_t harmonics;
        int32_t elements;
        bool thirdStage, sideChain;
    };
    const Row rows[] = {
        {"plugin/demo/", "init.xml", 1, 1, false, false},     {"plugin/demo/", "unit-long.xml", 1, 1, true, false},
        {"plugin/demo/", "demo.xml", 2, 3, true, false},      {"plugin/demo/", "sidechain.xml", 1, 1, false, true},
        {"render/", "render/unit.xml", 1, 1, false, false},
    };
    using Access = CoreProgTestAccess;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.program);
        CorePool filePool;
        CoreFsys files(&filePool, folder(row.data).c_str(), false);
        CoreBlnk blink;
        CoreProg program(&pool, &files, 3, "", 10000, 1000000, -1, 4800, 512, 8192, 512, &blink, nullptr);
        CoreCnvl convolver(&pool, "H", 0, nullptr);
        for (int h = 0; h <= 3; ++h) program.setcv(h, &convolver);
        CoreXml_ document;
        CoreNode* root = document.getff((folder(row.data) + row.program).c_str(), false);
        CoreNode* element = root != nullptr ? root->getcd("PROGRAM") : nullptr;
        ASSERT_NE(element, nullptr);
        Access::loaded(program) = true;
        EXPECT_NO_THROW({
            Access::rdmod(program, element);
            Access::rddsp(program, element);
            Access::rdhrm(program, element);
            Access::rdraw(program, element);
            program.start(false);
            program.starr();
        });
        EXPECT_EQ(program.gethc(true), row.harmonics);
        EXPECT_EQ(program.getsm(), row.elements);
        EXPECT_EQ(program.getn3(0), row.thirdStage);
        EXPECT_EQ(program.isqpr(), row.sideChain);
    }
}

} // namespace
