// EngineFixture: engines for the processor and display tests. EngineFolderTest gives each test a
// temporary plug-in folder, a pool whose fresh blocks hold garbage (so a buffer used unzeroed shows),
// and engines built there from MASTER settings text. BootedEngineTest adds a data folder (settings as
// text, a generated unit-impulse WAV, programs in two categories, one with a subcategory, a program
// whose user parameters are tied to MIX1 and MIX3, a dictionary) and engines booted through the boot
// beans, unbooted (with or without fast boot), or failing for a missing setup. Tests only.
#pragma once
#include "base/CorePool.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreWavs.h"
#include "processor/CoreMmry.h"
#include "processor/CorePrcs.h"
#include "tests/common/TempFolder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

class EngineFolderTest : public TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        pool.allocator = [](size_t bytes) {
            void* block = std::aligned_alloc(CorePool::iCalignment, bytes);
            if (block) std::memset(block, 0xA5, bytes);
            return block;
        };
        pool.release = [](void* block) { std::free(block); };
    }

    std::string folder() const { return root.string() + "/"; }
    // settings: the elements inside MASTER; "0" reads the file beside the plug-in instead. With
    // asPlugin set, an engine made without a store gets a master store of its own, as the plug-in's
    // master object builds it (the engine then bases it on the data folder).
    std::unique_ptr<CorePrcs> make(const std::string& settings, int32_t rate = 48000,
                                   CoreFsys* store = nullptr, CoreBlnk* blink = nullptr) {
        const std::string text = settings == "0" ? "0" : "<MASTER>" + settings + "</MASTER>";
        if (!store && asPlugin) store = masterStores.emplace_back(std::make_unique<CoreFsys>(&pool)).get();
        return std::make_unique<CorePrcs>(&pool, CoreAnsx(folder().c_str()), rate, blink, CoreAnsx("0"),
                                          false, false, store, CoreAnsx(text.c_str()), false, nullptr);
    }

    CorePool pool;
    bool asPlugin = false;
    std::vector<std::unique_ptr<CoreFsys>> masterStores; // outlive every engine made from them
};

class BootedEngineTest : public EngineFolderTest {
protected:
    // Slots the boot setup fills, in its order, and the slot placed after the boot.
    enum Slot : int32_t { kInit = 0, kPopOne, kPopDance, kJazz, kParameters };
    static constexpr int32_t kFarSlot = 1234;

    static std::string tag(const std::string& name, const std::string& content) {
        return "<" + name + ">" + content + "</" + name + ">";
    }
    static std::string program(const std::string& name, const std::string& more = "") {
        const std::string common = tag("COMMON", tag("MINVALUE", " 0 ") + tag("MAXVALUE", "1"));
        const std::string element = tag("ELEMENT", tag("FILENAME", "IMP.WAV") + tag("WEIGHT", " 0 "));
        return tag("PROGRAM", tag("NAME", name) + tag("GAININ", " 0 ") + tag("GAINOUT", " 0 ") + more +
                                  tag("H1", tag("ELEMENT", tag("VECTOR", common + element))));
    }
    static std::string category(const std::string& top, const std::string& sub = "") {
        return tag("CATEGORY", top) + (sub.empty() ? "" : tag("SUBCATEGORY1", sub));
    }
    // User parameters 1 and 2 follow MIX1 and MIX3 (input A, operation "a").
    static std::string parameters() {
        const auto parameter = [](int n, const std::string& mix, const std::string& label) {
            return tag("PRM" + std::to_string(n), tag("LABEL", label) + tag("MINVALUE", " 0 ") + tag("MAXVALUE", "1") +
                                                      tag("A", mix) + tag("B", "OFF") + tag("FUN", "a"));
        };
        return tag("DISPLAY", parameter(1, "MIX1", "Size") + parameter(2, "MIX3", "Tone"));
    }

    std::filesystem::path data() const { return root / "data"; }
    std::string fastBoot = "1"; // the FASTBOOT setting of the engines made after it is set
    std::string settings(const std::string& setup = "boot.xml", const std::string& more = "") const {
        return tag("DATAPATH", data().string() + "/") + tag("PROGRAMSUBPATH", "progs/") +
               tag("VECTORSUBPATH", "vectors/") + tag("SETUPSUBPATH", "setups/") + tag("SETUPROMNAME", setup) +
               tag("DICTIONARYSUBPATH", "dict/") + tag("DICTIONARYROMNAME", "dict.xml") + tag("DSPBUFFER", "64") +
               tag("OTIMED", "3") + tag("OFREQD", "11") + tag("SCANBOOT", "0.0") + tag("FASTBOOT", fastBoot) +
               tag("DL", " 0 ") + more;
    }
    void writeText(const std::filesystem::path& file, const std::string& text) {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file, std::ios::binary) << text;
    }
    void writeEngineFolder(int32_t rate) {
        const auto vectors = data() / "vectors", progs = data() / "progs";
        std::filesystem::create_directories(vectors);
        std::vector<double> impulse(64, 0.0);
        impulse[0] = 1.0;
        CoreWavs image(&pool, 2, rate, static_cast<int32_t>(impulse.size()), true);
        image.setdt(static_cast<int32_t>(impulse.size()), impulse.data(), impulse.data());
        image.write(CoreAnsx((vectors / "IMP.WAV").string().c_str()));
        writeText(progs / "INIT.XML", program("Init"));
        writeText(progs / "POP1.XML", program("Hits", category("POP")));
        writeText(progs / "POP2.XML", program("Floor", category("POP", "DANCE")));
        writeText(progs / "JAZZ.XML", program("Club", category("JAZZ")));
        writeText(progs / "FAR.XML", program("Name", category("JAZZ")));
        writeText(progs / "PARAMS.XML", program("Params", parameters()));
        std::string entries;
        const char* files[] = {"INIT.XML", "POP1.XML", "POP2.XML", "JAZZ.XML", "PARAMS.XML"};
        for (int i = 0; i < 5; ++i)
            entries += tag("PROGRAM", tag("SEQUENCE", std::to_string(i)) + tag("FILENAME", files[i]));
        writeText(data() / "setups/boot.xml", tag("SETUP", entries));
        writeText(data() / "dict/dict.xml", tag("DICTIONARY", tag("CATEGORY", tag("POP", "Pop music"))));
    }

    // Booted through the boot beans, with FAR.XML placed in slot 1234 afterwards.
    std::unique_ptr<CorePrcs> booted(int32_t rate = 48000, const std::string& more = "") {
        auto e = unbooted(rate, "boot.xml", more);
        bootThroughBeans(*e);
        EXPECT_TRUE(e->getbb(148, nullptr)) << "the fixture engine failed to boot";
        e->getmm()->loadl(kFarSlot, CoreAnsx("FAR.XML"));
        return e;
    }
    std::unique_ptr<CorePrcs> unbooted(int32_t rate = 48000, const std::string& setup = "boot.xml",
                                       const std::string& more = "") {
        if (!std::filesystem::exists(data() / "setups/boot.xml")) writeEngineFolder(rate);
        auto e = make(settings(setup, more), rate);
        EXPECT_FALSE(e->isfailed());
        return e;
    }
    // Its boot stops at the missing setup.
    std::unique_ptr<CorePrcs> failing() {
        auto e = unbooted(48000, "missing.xml");
        bootThroughBeans(*e);
        return e;
    }
    static void bootThroughBeans(CorePrcs& e) {
        for (int step = 0; step < 40 && !e.getbb(147, nullptr); ++step) e.setbb(144, false, nullptr);
    }
};
