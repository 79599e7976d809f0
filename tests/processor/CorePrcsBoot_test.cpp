// Boot: the steps and their texts, failures that stop the boot for good (a throw included, with every
// lock free), the first-start settings step, the cache clearing after an installer merge, and a boot
// driven by a plain thread with no editor or display.
#include "processor/CorePrcs.h"

#include "ChunkFolder.h"
#include "base/CoreLog_.h"
#include "base/CoreSmph.h"
#include "processor/CoreMmry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace {

using namespace hostblocks;

class CorePrcsBoot : public ChunkFolderTest {
protected:
    static std::string without(std::string text, const std::string& key) {
        const std::string open = "<" + key + ">", close = "</" + key + ">";
        const size_t at = text.find(open);
        if (at != std::string::npos) text.erase(at, text.find(close, at) + close.size() - at);
        return text;
    }
    static bool locksFree(CorePrcs& e) {
        for (CoreSmph* lock : {&Access::bootLock(e), &Access::saveLock(e), &Access::engineLock(e),
                               &Access::blockLock(e), &Access::passLock(e)}) {
            if (!lock->locka()) return false;
            lock->relse();
        }
        return true;
    }
};

TEST_F(CorePrcsBoot, StepsReportTheirTextsAndAFailedStepEndsTheBoot) {
    writeBootFolder();
    writeText(data() / "setups/badinit.xml", tag("SETUP", entry(0, "MISSING.XML") + entry(kRoom, "ROOM.XML")));
    const std::string version = std::string(CoreLog_::sCwarngbin) + CoreLog_::sCversion_;
    struct Row {
        const char* name;
        std::string settings; // "0": no settings at all
        bool runAll;
        int calls;
        int32_t step;
        std::string text;
        bool first, last, result;
        int32_t current;
        bool changed;
    };
    const Row rows[] = {
        {"one run-all call", bootSettings(), true, 1, 11, CoreLog_::sCwarngbeo, false, true, true, kRoom, true},
        {"no LOAD mark", bootSettings("", "plain.xml"), true, 1, 11, CoreLog_::sCwarngbeo, false, true, true, 0, false},
        {"first step", bootSettings(), false, 1, 0, version, true, false, true, 0, false},
        {"second step", bootSettings(), false, 2, 1, "DEBUG level: 0", false, false, true, 0, false},
        {"step 8 alone", bootSettings(), false, 9, 8, "PROGRAM #0 Ok (room)", false, false, true, kRoom, true},
        {"step 11 alone", bootSettings(), false, 12, 11, CoreLog_::sCwarngbeo, false, true, true, kRoom, true},
        {"a thirteenth call", bootSettings(), false, 13, 11, "", false, true, true, kRoom, true},
        {"no settings", "0", true, 1, 2, "MASTER Ko: master descriptor not found (vorlan2.xml)", false, false, false,
         0, false},
        {"no settings, called again", "0", true, 3, 2, "", false, true, false, 0, false},
        {"missing setup", bootSettings(tag("SETUPROMNAME", "Missing.XML")), true, 1, 3,
         "ROM MEMORY Ko: rom descriptor not found (missing.xml)", false, false, false, 0, false},
        {"slot 0 unloadable", bootSettings("", "badinit.xml"), true, 1, 8,
         "PROGRAM #0 Ko: program not loaded (missing.xml)", false, false, false, 0, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        auto e = r.settings == "0" ? make("0", kRate) : make(r.settings, kRate);
        ASSERT_FALSE(e->isfailed());
        int32_t step = -1;
        CoreAnsx text;
        bool first = false, last = false, result = false;
        for (int call = 0; call < r.calls; ++call) {
            text = "unchanged";
            result = e->boots(r.runAll, step, text, first, last);
        }
        EXPECT_EQ(step, r.step);
        EXPECT_STREQ(text.c_str(), r.text.c_str());
        EXPECT_EQ(first, r.first);
        EXPECT_EQ(last, r.last);
        EXPECT_EQ(result, r.result);
        EXPECT_EQ(Access::currentSlot(*e), r.current);
        EXPECT_EQ(Access::stateChanged(*e).load(), r.changed);
        const bool done = r.result && r.step == 11;
        EXPECT_EQ(Access::busy(*e).getvl(), !done); // booting until the last step
        EXPECT_EQ(e->getby(), !done);               // and dry meanwhile
        EXPECT_EQ(e->fboot(), !r.result);           // the rest of the steps, unless the boot failed
        EXPECT_TRUE(locksFree(*e));
    }
}

// With SCANBOOT on, a memory with its own store lists the programs no slot holds into bank 2; the
// plug-in's memory reads through the master store, lists nothing and has no scan to place, so its
// boot logs no error.
TEST_F(CorePrcsBoot, OnlyAScanThatRanIsPlacedAtBoot) {
    writeBootFolder();
    for (const bool plugin : {false, true}) {
        SCOPED_TRACE(plugin ? "as the plug-in builds it" : "without a master store");
        asPlugin = plugin;
        for (const char* file : {CoreLog_::sCdefaultfilename, "setups/~scanboot.xml"}) std::filesystem::remove(data() / file);
        auto e = make(without(without(bootSettings(), "SCANBOOT"), "DL") + tag("SCANBOOT", "1") + tag("DL", "1"), kRate);
        int32_t step = -1;
        CoreAnsx text;
        bool first = false, last = false;
        ASSERT_TRUE(e->boots(true, step, text, first, last)) << text.c_str();
        const std::string log = bytesOf(data() / CoreLog_::sCdefaultfilename);
        EXPECT_EQ(log.find(CoreLog_::sCerrortag), std::string::npos) << log;
        EXPECT_EQ(std::filesystem::exists(data() / "setups" / CoreMmry::sCscanboot), !plugin);
        EXPECT_EQ(e->getmm()->getfp(200, true) != CoreAnsx("0"), !plugin); // THREE.XML, first of the scan
    }
}

TEST_F(CorePrcsBoot, TheEngineFailedFlagChangesNothing) {
    auto e = (writeBootFolder(), make(bootSettings(), kRate));
    Access::engineFailed(*e) = true;
    int32_t step = -7;
    CoreAnsx text("kept");
    bool first = false, last = false;
    EXPECT_FALSE(e->boots(true, step, text, first, last));
    EXPECT_EQ(step, -7);
    EXPECT_STREQ(text.c_str(), "kept");
    EXPECT_EQ(Access::bootStep(*e), 0);
    EXPECT_TRUE(Access::busy(*e).getvl());
    EXPECT_FALSE(e->bootb(true));
    Access::engineFailed(*e) = false; // the destructor takes the engine apart as usual
}

TEST_F(CorePrcsBoot, TheBootRecordHoldsTheLastCallMadeThroughIt) {
    auto e = (writeBootFolder(), make(bootSettings(), kRate));
    EXPECT_TRUE(e->bootb(false));
    CorePrcs::BOOTRECORD record = e->getbt();
    EXPECT_EQ(record.step, 0);
    EXPECT_TRUE(record.first);
    EXPECT_TRUE(record.result);
    EXPECT_TRUE(e->bootb(true));
    record = e->getbt();
    EXPECT_EQ(record.step, 11);
    EXPECT_TRUE(record.last);
    EXPECT_STREQ(record.text.c_str(), CoreLog_::sCwarngbeo);
}

TEST_F(CorePrcsBoot, TheSettingsStepDecidesWhatTheFileLacked) {
    writeBootFolder();
    struct Row {
        const char* name;
        std::string settings;
        bool installer;
        int32_t hostSize; // reported before the boot; 0 none
        const char* dspBuffer;
        const char* fastBoot;
        bool due;
    };
    const std::string all = bootSettings();
    const Row rows[] = {
        {"every key present", all, false, 300, "64", "1", false},
        {"DSPBUFFER absent, 300", without(all, "DSPBUFFER"), false, 300, "512", "1", true},
        {"DSPBUFFER absent, 16384", without(all, "DSPBUFFER"), false, 16384, "8192", "1", true},
        {"DSPBUFFER absent, 1024", without(all, "DSPBUFFER"), false, 1024, "1024", "1", true},
        {"FASTBOOT absent", without(all, "FASTBOOT"), false, 0, "64", "1", true},
        {"OTIMED absent", without(all, "OTIMED"), false, 0, "64", "1", true},
        {"installer merged", all, true, 0, "64", "1", true},
    };
    const auto installer = root / "VORLAN2_installer.XML";
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        if (r.installer) writeText(installer, "<MASTER><GUIRATE>50000</GUIRATE></MASTER>");
        auto e = make(r.settings, kRate);
        if (r.hostSize > 0) e->blksz(r.hostSize);
        EXPECT_FALSE(e->fboot());
        EXPECT_EQ(Access::probe(*e, "DSPBUFFER"), r.dspBuffer);
        EXPECT_EQ(Access::probe(*e, "FASTBOOT"), r.fastBoot);
        EXPECT_EQ(e->savedue(), r.due);
        if (r.hostSize > 0) {
            EXPECT_EQ(Access::hostBlock(*e), r.hostSize); // applied once booted
        }
        EXPECT_EQ(std::filesystem::exists(installer), r.installer);    // deleted only after a save
        std::filesystem::remove(installer);
    }
}

TEST_F(CorePrcsBoot, OnlyCacheFilesInANamedCacheFolderGoAfterAnInstallerMerge) {
    writeBootFolder();
    const std::string cache = "<CACHE><NAME>x</NAME></CACHE>";
    writeText(data() / "cache/A.xml", cache);
    writeText(data() / "B.XML", cache);
    writeText(data() / "progs/C.Xml", cache);
    writeText(data() / "VORLAN2.XML", "<MASTER></MASTER>");
    writeText(data() / "plugin.so", cache);
    writeText(root / "elsewhere/D.xml", cache);
    std::filesystem::create_symlink(root / "elsewhere/D.xml", data() / "link.xml");
    const std::filesystem::path kept[] = {data() / "progs/INIT.XML", data() / "progs/ROOM.XML",
                                          data() / "setups/boot.xml", data() / "VORLAN2.XML",
                                          data() / "plugin.so",        data() / "link.xml",
                                          root / "elsewhere/D.xml"};
    struct Row {
        const char* name;
        std::string more;
        const char* gone; // relative to the data folder; null: nothing goes
    };
    const Row rows[] = {
        {"absent", "", nullptr},
        {"cache/", tag("CACHESUBPATH", "cache/"), "cache/A.xml"},
        {"./", tag("CACHESUBPATH", "./"), "B.XML"},
        {"the program folder", tag("CACHESUBPATH", "progs/"), "progs/C.Xml"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        for (const char* file : {"cache/A.xml", "B.XML", "progs/C.Xml"}) writeText(data() / file, cache);
        writeText(root / "VORLAN2_installer.XML", "<MASTER><GUIRATE>50000</GUIRATE></MASTER>");
        // Without the memory's own metadata cache, which would write and drop files there too.
        const std::string settings = "<MASTER>" + bootSettings(r.more) + "</MASTER>";
        auto e = std::make_unique<CorePrcs>(&pool, CoreAnsx(folder().c_str()), kRate, nullptr, CoreAnsx("0"), true,
                                            false, nullptr, CoreAnsx(settings.c_str()), false, nullptr);
        ASSERT_FALSE(e->fboot());
        for (const char* file : {"cache/A.xml", "B.XML", "progs/C.Xml"})
            EXPECT_EQ(std::filesystem::exists(data() / file), !r.gone || std::string(r.gone) != file) << file;
        for (const auto& file : kept) EXPECT_TRUE(std::filesystem::exists(file)) << file;
    }
}

TEST_F(CorePrcsBoot, APlainThreadBootsTheEngineOneStepPerTick) {
    writeBootFolder();
    auto e = make(bootSettings(), kRate);
    std::atomic<int> ticks{0};
    std::thread control([&] {
        int32_t step = 0;
        CoreAnsx text;
        bool first = false, last = false;
        // What the control tick does while the engine boots: one step through the boot bean per tick.
        while (Access::busy(*e).getvl() && ticks < 100) {
            e->boots(false, step, text, first, last);
            ++ticks;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    control.join();
    EXPECT_EQ(ticks.load(), 11); // step 10 opens the gate
    ASSERT_FALSE(e->getby());
    const Stereo input(2048, 0.5);
    const Stereo out = run(*e, input, fixedBlocks(64));
    EXPECT_EQ(e->lockMisses(), 0u);
    // The Room program plays: a constant input gives the kernel's running sum, not the input.
    EXPECT_GT(std::fabs(out.left.back() - 0.5), 1e-3);
}

// Once step 10 has let the engine play, step 11 (and a call after it) must not put it back into
// the busy state: that would silence the output for a moment after the boot had visibly ended.
TEST_F(CorePrcsBoot, TheStepsAfterTheGateOpensLeaveTheEnginePlaying) {
    writeBootFolder();
    auto e = make(bootSettings(), kRate);
    int32_t step = 0;
    CoreAnsx text;
    bool first = false, last = false;
    for (int call = 0; call < 11; ++call) e->boots(false, step, text, first, last);
    ASSERT_EQ(step, 10);
    ASSERT_FALSE(Access::busy(*e).getvl());
    ASSERT_FALSE(e->getby());
    std::atomic<int> engineTakes{0};
    e->setStallHookForTest([&] { ++engineTakes; });
    for (int call = 0; call < 2; ++call) {
        EXPECT_TRUE(e->boots(false, step, text, first, last));
        EXPECT_FALSE(e->getby());
    }
    e->setStallHookForTest(nullptr);
    EXPECT_EQ(step, 11);
    EXPECT_TRUE(last);
    EXPECT_EQ(engineTakes.load(), 0); // never left the busy state again, so never took the engine
    const Stereo input(2048, 0.5);
    const Stereo out = run(*e, input, fixedBlocks(64));
    EXPECT_EQ(e->lockMisses(), 0u);
    EXPECT_GT(std::fabs(out.left.back() - 0.5), 1e-3);
}

TEST_F(CorePrcsBoot, AThrowingStepFailsTheBootWithItsTextAndFreesEveryLock) {
    writeBootFolder();
    // A packed INIT whose vector container exists nowhere: reading slot 0 throws.
    pack(data() / "progs/LONE.Q7P", {{"LONE.XML", program("Lone", tag("H1", leaf("IMP.WAV")))}});
    writeText(data() / "setups/gone.xml", tag("SETUP", entry(0, "LONE.Q7P") + entry(kRoom, "ROOM.XML")));
    auto e = make(bootSettings(tag("SETUPROMNAME", "gone.xml")), kRate);
    int32_t step = 0;
    CoreAnsx text;
    bool first = false, last = false;
    EXPECT_FALSE(e->boots(true, step, text, first, last));
    EXPECT_EQ(step, 8);
    EXPECT_STREQ(text.c_str(), "PROGRAM #0 Ko: program not loaded (lone.q7p)");
    EXPECT_TRUE(locksFree(*e));
    EXPECT_TRUE(e->fboot());
    EXPECT_FALSE(e->setck(nullptr, 0)); // a restore after it returns instead of waiting
}

} // namespace
