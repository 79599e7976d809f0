#include "convolution/CoreCubr.h"

#include "base/CoreLog_.h"
#include "convolution/CoreCnvl.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

// The version shown without a usable bridge, read during static initialisation of this file, in no
// fixed order with the convolution library's own statics.
const std::string versionAtStart = CoreCnvl::sCdefaultversion;

TEST(CoreCubrVersion, DefaultBridgeVersionReadsNotAvailableEvenDuringStaticInitialisation) {
    EXPECT_EQ(versionAtStart, "N/A");
    EXPECT_EQ(std::string(CoreCnvl::sCdefaultversion), "N/A");
}

// A fresh folder per test for the log and for copies of the stand-ins.
class CoreCubrTest : public testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("cubr-" + std::to_string(getpid()) + "-" +
                                              testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        CoreLog_::setpt(CoreAnsx((folder.string() + "/").c_str()));
        CoreLog_::setdb(0, false);
    }
    void TearDown() override { fs::remove_all(folder); }

    std::string log() const {
        std::ifstream file(folder / CoreLog_::getfn().c_str());
        std::stringstream text;
        text << file.rdbuf();
        return text.str();
    }
    static void useLibraries(const std::string& first, const std::string& second) {
        CoreCubr::setfn(CoreAnsx(first.c_str()), CoreAnsx(second.c_str()));
    }
    // Whether the process still has the library open.
    static bool isOpen(const char* path) {
        void* handle = dlopen(path, RTLD_LAZY | RTLD_NOLOAD);
        if (handle) dlclose(handle);
        return handle != nullptr;
    }
    // The stand-in's init_ (0) or stop_ (1) call count, read while the library is open.
    static int calls(const char* path, int which) {
        void* handle = dlopen(path, RTLD_LAZY | RTLD_NOLOAD);
        if (!handle) return -1;
        auto counter = reinterpret_cast<int32_t (*)(int32_t)>(CoreCubr::loadm(handle, "standin_calls"));
        const int result = counter ? counter(which) : -1;
        dlclose(handle);
        return result;
    }

    fs::path folder;
};

bool allEntriesNull(const CoreCubr::ENTRYSTRUCT& e) {
    const void* slots[] = {reinterpret_cast<const void*>(e.devcs), reinterpret_cast<const void*>(e.init_),
                           reinterpret_cast<const void*>(e.stop_), reinterpret_cast<const void*>(e.cudav),
                           reinterpret_cast<const void*>(e.check), reinterpret_cast<const void*>(e.versn),
                           reinterpret_cast<const void*>(e.mallc), reinterpret_cast<const void*>(e.free_),
                           reinterpret_cast<const void*>(e.plan_), reinterpret_cast<const void*>(e.despl),
                           reinterpret_cast<const void*>(e.exect), reinterpret_cast<const void*>(e.op32p),
                           reinterpret_cast<const void*>(e.op32d), reinterpret_cast<const void*>(e.op32c),
                           reinterpret_cast<const void*>(e.opchp), reinterpret_cast<const void*>(e.opchd),
                           reinterpret_cast<const void*>(e.cnm15), reinterpret_cast<const void*>(e.cnm16),
                           reinterpret_cast<const void*>(e.af32p), reinterpret_cast<const void*>(e.af32d),
                           reinterpret_cast<const void*>(e.af32c), reinterpret_cast<const void*>(e.afchp),
                           reinterpret_cast<const void*>(e.afchd), reinterpret_cast<const void*>(e.cnm17),
                           reinterpret_cast<const void*>(e.avnwe), e.unused,
                           reinterpret_cast<const void*>(e.avcpe), reinterpret_cast<const void*>(e.avade),
                           reinterpret_cast<const void*>(e.avfde), reinterpret_cast<const void*>(e.avvmx),
                           reinterpret_cast<const void*>(e.cnm18)};
    for (const void* slot : slots)
        if (slot) return false;
    return true;
}

TEST_F(CoreCubrTest, DefaultPathsSitBesideOurOwnBinaryAndFindNoBridgeHere) {
    const std::string first = CoreCubr::bCfilename(0).c_str();
    const std::string second = CoreCubr::bCfilename(1).c_str();
    const std::string ownFolder = fs::canonical("/proc/self/exe").parent_path().string() + "/";
    EXPECT_EQ(fs::weakly_canonical(first).string(), ownFolder + "VoCuBr03.so");
    EXPECT_EQ(fs::weakly_canonical(second).string(), ownFolder + "VoCuBr01.so");

    CoreCubr bridge;
    EXPECT_FALSE(bridge.start());
    EXPECT_TRUE(allEntriesNull(bridge.entry));
    // The loader's error text names what it could not open.
    EXPECT_NE(log().find("VoCuBr01.so"), std::string::npos);
}

TEST_F(CoreCubrTest, MissingLibraryIsNotLookedForAgainUntilStopped) {
    const fs::path first = folder / "VoCuBr03.so";
    useLibraries(first.string(), (folder / "VoCuBr01.so").string());
    CoreCubr bridge;
    EXPECT_FALSE(bridge.start());
    EXPECT_FALSE(bridge.loaded());
    EXPECT_TRUE(allEntriesNull(bridge.entry));
    bridge.initd(0);
    EXPECT_FALSE(bridge.initialised());

    fs::copy_file(STANDIN_NORMAL, first);
    EXPECT_FALSE(bridge.start());
    EXPECT_FALSE(isOpen(first.c_str()));

    bridge.stop_();
    EXPECT_TRUE(bridge.start());
    EXPECT_TRUE(isOpen(first.c_str()));
    bridge.stop_();
    EXPECT_FALSE(isOpen(first.c_str()));
}

TEST_F(CoreCubrTest, NormalBridgeLoadsEveryEntryLogsItsTextsAndStartsTheDeviceOnce) {
    useLibraries(STANDIN_NORMAL, (folder / "absent.so").string());
    {
        CoreCubr bridge;
        ASSERT_TRUE(bridge.start());
        const CoreCubr::ENTRYSTRUCT& e = bridge.entry;
        EXPECT_TRUE(e.devcs && e.init_ && e.stop_ && e.cudav && e.check && e.versn && e.mallc && e.free_ &&
                    e.plan_ && e.despl && e.exect && e.op32p && e.op32d && e.op32c && e.opchp && e.opchd &&
                    e.cnm15 && e.cnm16 && e.af32p && e.af32d && e.af32c && e.afchp && e.afchd && e.cnm17 &&
                    e.avnwe && e.avcpe && e.avade && e.avfde && e.avvmx && e.cnm18);
        EXPECT_EQ(e.unused, nullptr);
        EXPECT_EQ(e.devcs(), 1);

        // The bridge replaced the text pointer after writing: the logged texts are still ours.
        const std::string text = log();
        EXPECT_NE(text.find("stand-in bridge: CPU, 1 device"), std::string::npos);
        EXPECT_NE(text.find("stand-in version 0.3"), std::string::npos);
        EXPECT_EQ(text.find("must never be logged"), std::string::npos);

        // Host-addressable memory comes back zeroed.
        void* block = nullptr;
        ASSERT_TRUE(e.mallc(&block, 64));
        for (int i = 0; i < 64; ++i) EXPECT_EQ(static_cast<unsigned char*>(block)[i], 0);
        e.free_(block);

        bridge.stopd();
        EXPECT_EQ(calls(STANDIN_NORMAL, 1), 0);
        bridge.initd(0);
        bridge.initd(0);
        EXPECT_TRUE(bridge.initialised());
        EXPECT_EQ(calls(STANDIN_NORMAL, 0), 1);
        bridge.stopd();
        EXPECT_EQ(calls(STANDIN_NORMAL, 1), 1);

        bridge.initd(0);
        EXPECT_EQ(calls(STANDIN_NORMAL, 0), 2);
        bridge.stop_();
        EXPECT_TRUE(allEntriesNull(bridge.entry));
        EXPECT_FALSE(bridge.loaded());
        EXPECT_FALSE(bridge.initialised());
        EXPECT_FALSE(isOpen(STANDIN_NORMAL));

        EXPECT_TRUE(bridge.start());
        EXPECT_TRUE(isOpen(STANDIN_NORMAL));
        EXPECT_EQ(calls(STANDIN_NORMAL, 0), 0); // a fresh load
    }
    EXPECT_FALSE(isOpen(STANDIN_NORMAL));
}

TEST_F(CoreCubrTest, DestroyingALoaderStopsARunningDeviceOnceAndCloses) {
    useLibraries(STANDIN_NORMAL, (folder / "absent.so").string());
    // Our own reference keeps the library, and so its counters, in memory after the loader closes.
    void* keep = dlopen(STANDIN_NORMAL, RTLD_LAZY);
    ASSERT_NE(keep, nullptr);
    {
        CoreCubr bridge;
        bridge.initd(0);
        EXPECT_TRUE(bridge.initialised());
        EXPECT_EQ(calls(STANDIN_NORMAL, 1), 0);
    }
    EXPECT_EQ(calls(STANDIN_NORMAL, 0), 1);
    EXPECT_EQ(calls(STANDIN_NORMAL, 1), 1);
    dlclose(keep);
    EXPECT_FALSE(isOpen(STANDIN_NORMAL));
}

TEST_F(CoreCubrTest, FailingCheckClosesTheLibraryAndLogsItsTextCut) {
    useLibraries(STANDIN_FAILING, (folder / "absent.so").string());
    CoreCubr bridge;
    EXPECT_FALSE(bridge.start());
    EXPECT_FALSE(bridge.loaded());
    EXPECT_TRUE(allEntriesNull(bridge.entry));
    EXPECT_FALSE(isOpen(STANDIN_FAILING));
    const std::string text = log();
    EXPECT_NE(text.find(std::string(255, 'F')), std::string::npos);
    EXPECT_EQ(text.find(std::string(256, 'F')), std::string::npos);
    EXPECT_EQ(text.find("must never be logged"), std::string::npos);
}

TEST_F(CoreCubrTest, BridgeWithoutDeviceLoadsAndCountsNone) {
    useLibraries(STANDIN_NODEVICE, (folder / "absent.so").string());
    CoreCubr bridge;
    ASSERT_TRUE(bridge.start());
    EXPECT_EQ(bridge.entry.devcs(), 0);
}

TEST_F(CoreCubrTest, BridgeLackingAnEntryFailsItsCheckAndNamesTheEntry) {
    useLibraries(STANDIN_NOCNM17, (folder / "absent.so").string());
    CoreCubr bridge;
    EXPECT_FALSE(bridge.start());
    EXPECT_TRUE(allEntriesNull(bridge.entry));
    EXPECT_FALSE(isOpen(STANDIN_NOCNM17));
    EXPECT_NE(log().find("cudabridge_cnm17"), std::string::npos);
}

TEST_F(CoreCubrTest, SecondPathIsTriedWhenTheFirstDoesNotOpen) {
    useLibraries((folder / "absent.so").string(), STANDIN_NODEVICE);
    CoreCubr bridge;
    EXPECT_TRUE(bridge.start());
    EXPECT_TRUE(isOpen(STANDIN_NODEVICE));
}

TEST_F(CoreCubrTest, LoadmFindsSymbolsByName) {
    void* handle = dlopen(STANDIN_NORMAL, RTLD_LAZY);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(CoreCubr::loadm(handle, "cudabridge_versn"), dlsym(handle, "cudabridge_versn"));
    EXPECT_NE(CoreCubr::loadm(handle, "cudabridge_versn"), nullptr);
    EXPECT_EQ(CoreCubr::loadm(handle, "cudabridge_nosuch"), nullptr);
    EXPECT_EQ(CoreCubr::loadm(nullptr, "cudabridge_versn"), nullptr);
    dlclose(handle);
}

} // namespace
