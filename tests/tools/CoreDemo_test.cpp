// The demo and render folders: the same bytes every time; settings and setups as the engine and the
// program memory read them; every program loaded with its kernels prepared.
#include "tools/CoreDemo.h"

#include "base/CoreBlnk.h"
#include "base/CoreXml_.h"
#include "convolution/CoreCnvl.h"
#include "filestore/CoreFsys.h"
#include "processor/CoreMmry.h"
#include "program/CoreProg.h"
#include "tests/processor/CorePrcsTestAccess.h"

#include <gtest/gtest.h>

#include <map>

namespace {

namespace fs = std::filesystem;

std::map<std::string, std::string> contents(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            files[fs::relative(entry.path(), folder).string()] = readBytes(entry.path());
    return files;
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
    EXPECT_EQ(written.size(), 12u + 21u); // and the demo skin: 20 items in its folder, its container
    EXPECT_EQ(written, contents(root / "b"));
}

TEST_F(CoreDemoTest, SettingsAndSetupsReadAsTheEngineAndTheMemoryReadThem) {
    CoreDemo::write(folder("plugin"));
    CoreDemo::writeUnit(folder("loose"), "loose.xml", "loose.wav", "Loose", 300);
    writeBytes(root / "own.xml",
               "<MASTER><DSPBUFFER>256</DSPBUFFER><DATAPATH>far/</DATAPATH><PROGRAMSUBPATH>p/"
               "</PROGRAMSUBPATH><ALTERNATIVEDATAPATH>old/</ALTERNATIVEDATAPATH><DL>5</DL></MASTER>");
    CoreDemo::writeRender(folder("render"), "Vorlan3.xml", (root / "own.xml").string(),
                          folder("loose") + "loose.xml");
    for (const char* name : {"P.q7p", "a.Q7V", "n.txt"}) writeBytes(root / "loose" / name, name);
    CoreDemo::writeRender(folder("packed"), "Vorlan3.xml", "", folder("loose") + "P.q7p");
    const std::string rows[][3] = {
        {"plugin", "found", "10"}, // master found, no installer file
        {"plugin", "datapath", folder("plugin") + "demo/"},
        {"plugin", "DSPBUFFER", "512"},
        {"render", "datapath", folder("render")},
        {"render", "alternatives", folder("render") + "render/|"},
        {"render", "DSPBUFFER", "256"}, // kept from the own settings
        {"render", "DL", "2"},
        {"packed", "datapath", folder("packed")},
    };
    for (const auto& [plugin, probe, expected] : rows) {
        SCOPED_TRACE(plugin + " " + probe);
        CorePrcs engine(&pool, folder(plugin).c_str(), 44100, nullptr, "Vorlan3.so", false, true, nullptr,
                        "0", false, nullptr);
        EXPECT_EQ(CorePrcsTestAccess::probe(engine, probe), expected);
    }
    // Data folder, setup, program and vector sub-path, alternative folder, the names in slots 0 and 1.
    const std::string setups[][6] = {
        {folder("plugin") + "demo/", "setup.xml", "", folder("loose"), "Init", "Demo Rooms"},
        {folder("render"), "render/setup.xml", "program/", folder("render") + "render/", "Init", "Loose"}};
    for (const auto& [data, setup, programs, alternativeFolder, first, second] : setups) {
        CoreAnsx alternative(alternativeFolder.c_str());
        CoreMmry memory(&pool, data.c_str(), 1, &alternative, "", programs.c_str(), programs.c_str(), "",
                        false, nullptr);
        ASSERT_TRUE(memory.loads(setup.c_str(), 0, true));
        EXPECT_EQ(std::string(memory.getnm(0).c_str()) + "|" + memory.getnm(1).c_str(), first + "|" + second);
        EXPECT_EQ(memory.getpr(), 1); // marked LOAD
    }

    // A packed program and the vector containers beside it are linked in; a missing program is refused.
    EXPECT_EQ(contents(root / "packed").size(), 6u); // settings, setup, unit program and response, two links
    EXPECT_EQ(readBytes(root / "packed/program/P.q7p") + readBytes(root / "packed/program/a.Q7V"),
              "P.q7pa.Q7V");
    EXPECT_THROW(CoreDemo::writeRender(folder("x"), "V.xml", "", folder("loose") + "none.xml"), CoreAnsx);
}

// Every entry under folder: a file's bytes, a link's target, "/" for a folder.
std::map<std::string, std::string> tree(const fs::path& folder) {
    std::map<std::string, std::string> entries;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        entries[entry.path().lexically_relative(folder).string()] =
            entry.is_symlink()     ? "-> " + fs::read_symlink(entry.path()).string()
            : entry.is_directory() ? "/"
                                   : readBytes(entry.path());
    }
    return entries;
}

TEST_F(CoreDemoTest, RefusesToWriteOverWhatTheRenderReadsAndWritesNothing) {
    CoreDemo::write(folder("plugin"));
    CoreDemo::writeUnit(folder("loose"), "loose.xml", "loose.wav", "Loose", 300);
    fs::create_directories(root / "loose/program");
    for (const char* name : {"P.q7p", "a.Q7V", "program/P.q7p"}) writeBytes(root / "loose" / name, name);
    fs::create_directories(root / "taken/Vorlan3.xml");
    fs::create_directories(root / "occupied/program/a.Q7V");
    fs::create_directories(root / "viewed/render/program");
    fs::create_directories(root / "stale/program");
    writeBytes(root / "stale/program/old.xml", "old");
    fs::create_directory_symlink(root / "loose", root / "alias");
    struct Row {
        const char *into, *settingsName, *ownSettings, *program, *named;
    };
    const Row rows[] = {
        {"loose", "Vorlan3.xml", "", "loose/program/P.q7p", "loose/program/P.q7p"}, // where its link goes
        {"alias", "Vorlan3.xml", "", "loose/program/P.q7p", "alias/program/P.q7p"}, // ... through a link
        {"plugin", "Vorlan3.xml", "plugin/Vorlan3.xml", "loose/loose.xml", "plugin/Vorlan3.xml"},
        {"plugin", "Vorlan3.xml", "plugin/demo/../Vorlan3.xml", "loose/loose.xml", "plugin/Vorlan3.xml"},
        {"loose", "loose.xml", "", "loose/loose.xml", "loose/loose.xml"}, // settings over the program
        {"taken", "Vorlan3.xml", "", "loose/loose.xml", "taken/Vorlan3.xml"},
        {"occupied", "Vorlan3.xml", "", "loose/P.q7p", "occupied/program/a.Q7V"},
        {"viewed", "Vorlan3.xml", "", "loose/loose.xml", "viewed/render/program"}, // a folder, not a link
        {"stale", "Vorlan3.xml", "", "loose/loose.xml", "stale/program/old.xml"},  // would be found first
    };
    const auto before = tree(root);
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.into) + " " + row.settingsName + " " + row.program);
        const std::string own = *row.ownSettings ? (root / row.ownSettings).string() : "";
        try {
            CoreDemo::writeRender(folder(row.into), row.settingsName, own, (root / row.program).string());
            ADD_FAILURE() << "not refused";
        } catch (const CoreAnsx& error) {
            EXPECT_EQ(std::string(error.c_str()).rfind((root / row.named).string() + ": ", 0), 0u)
                << error.c_str();
        }
        EXPECT_EQ(tree(root), before);
    }

    // A render over an earlier render replaces its links, leaving no temporary beside them.
    for (int pass = 0; pass < 2; ++pass)
        CoreDemo::writeRender(folder("packed"), "Vorlan3.xml", "", folder("alias") + "P.q7p");
    const auto packed = tree(root / "packed");
    EXPECT_EQ(packed.size(), 9u); // settings, render/ and its three files and link, program/ and two links
    EXPECT_EQ(packed.at("program/P.q7p"), "-> " + (fs::canonical(root) / "loose/P.q7p").string());
    EXPECT_EQ(packed.at("render/program"), "-> " + (fs::canonical(root) / "loose").string());
    EXPECT_EQ(readBytes(root / "packed/program/P.q7p") + readBytes(root / "packed/program/a.Q7V"),
              "P.q7pa.Q7V");
}

TEST_F(CoreDemoTest, EveryProgramReadsAndPreparesItsKernels) {
    CoreDemo::write(folder("plugin"));
    CoreDemo::writeRender(folder("render"), "Vorlan3.xml", "", folder("plugin") + "demo/init.xml");
    // Harmonics loaded / elements read, "+3" with a third stage, "+S" with the side chain follower on.
    const std::string rows[][3] = {
        {"plugin/demo/", "init.xml", "1/1"},   {"plugin/demo/", "unit-long.xml", "1/1+3"},
        {"plugin/demo/", "demo.xml", "2/3+3"}, {"plugin/demo/", "sidechain.xml", "1/1+S"},
        {"render/program/", "../render/unit.xml", "1/1"},
    };
    for (const auto& [data, file, expected] : rows) {
        SCOPED_TRACE(file);
        CoreFsys files(&pool, folder(data).c_str(), false);
        CoreBlnk blink;
        CoreProg program(&pool, &files, 3, "", 10000, 1000000, -1, 4800, 512, 8192, 512, &blink, nullptr);
        CoreCnvl convolver(&pool, "H", 0, nullptr);
        for (int h = 0; h <= 3; ++h) program.setcv(h, &convolver);
        CoreXml_ document;
        EXPECT_TRUE(program.load_(document.getff((folder(data) + file).c_str(), false), false));
        EXPECT_EQ(std::to_string(program.gethc(true)) + "/" + std::to_string(program.getsm()) +
                      (program.getn3(0) ? "+3" : "") + (program.isqpr() ? "+S" : ""),
                  expected);
    }
}

} // namespace
