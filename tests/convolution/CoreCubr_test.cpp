// CoreCubr: the bridge loader over the stand-in libraries: default paths, a missing library not
// looked for again, every entry of a working bridge with the texts logged from our own buffer, the
// device started and stopped once, and broken bridges closed with the second path tried.
#include "convolution/CoreCubr.h"

#include "tests/convolution/ConvolverTestSupport.h"

#include <dlfcn.h>

#include <cstring>
#include <filesystem>

namespace {

namespace fs = std::filesystem;

// Read during static initialisation of this file, in no fixed order with the library's own statics.
const std::string versionAtStart = CoreCnvl::sCdefaultversion;

// Whether the process has the library open (without opening it), and the stand-in's init_ (0) or
// stop_ (1) calls since it was loaded (-1 while it is not open).
bool isOpen(const char* path) {
    void* handle = dlopen(path, RTLD_LAZY | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}
int calls(int which) {
    void* handle = dlopen(STANDIN_NORMAL, RTLD_LAZY | RTLD_NOLOAD);
    auto count = handle ? reinterpret_cast<int32_t (*)(int32_t)>(dlsym(handle, "standin_count")) : nullptr;
    const int result = count ? count(which) : -1;
    if (handle) dlclose(handle);
    return result;
}

bool noEntries(const CoreCubr& bridge) {
    const CoreCubr::ENTRYSTRUCT none{};
    return std::memcmp(&bridge.entry, &none, sizeof none) == 0;
}

TEST(CoreCubr, DefaultPathsSitBesideOurOwnBinaryAndTheTextReadsNotAvailableFromTheStart) {
    EXPECT_EQ(versionAtStart, "N/A");
    const std::string ownFolder = fs::canonical("/proc/self/exe").parent_path().string() + "/";
    EXPECT_EQ(fs::weakly_canonical(CoreCubr::bCfilename(0).c_str()).string(), ownFolder + "VoCuBr03.so");
    EXPECT_EQ(fs::weakly_canonical(CoreCubr::bCfilename(1).c_str()).string(), ownFolder + "VoCuBr01.so");
}

// The loader's log names what it could not open.
TEST(CoreCubr, MissingLibraryIsNotLookedForAgainUntilStopped) {
    LogCapture log(0);
    TempFolder folder("cubr");
    const std::string first = folder / "VoCuBr03.so";
    CoreCubr::setfn(first.c_str(), (folder / "VoCuBr01.so").c_str());
    CoreCubr bridge;
    EXPECT_FALSE(bridge.start());
    bridge.initd(0);
    EXPECT_FALSE(bridge.initialised() || !noEntries(bridge) || !logHolds(log, "VoCuBr01.so"));
    fs::copy_file(STANDIN_NORMAL, first);
    EXPECT_FALSE(bridge.start() || isOpen(first.c_str()));
    bridge.stop_();
    EXPECT_TRUE(bridge.start() && isOpen(first.c_str()));
    bridge.stop_();
    EXPECT_FALSE(isOpen(first.c_str()));
}

// check and cnm18 are never called, so a bridge may leave them out. The bridge replaced the text
// pointer after writing: the logged texts are still ours.
TEST(CoreCubr, WorkingBridgeLoadsEveryEntryLogsOurCopyOfItsTextsAndStartsTheDeviceOnce) {
    LogCapture log(0);
    CoreCubr::setfn(STANDIN_NORMAL, "/nonexistent/absent.so");
    void* keep = nullptr;
    {
        CoreCubr bridge;
        ASSERT_TRUE(bridge.start());
        const CoreCubr::ENTRYSTRUCT& e = bridge.entry;
        EXPECT_TRUE(e.devcs && e.init_ && e.stop_ && e.cudav && e.versn && e.mallc && e.free_ && e.plan_ &&
                    e.despl && e.exect && e.op32p && e.op32d && e.op32c && e.opchp && e.opchd && e.cnm15 &&
                    e.cnm16 && e.af32p && e.af32d && e.af32c && e.afchp && e.afchd && e.cnm17 && e.avnwe &&
                    e.avcpe && e.avade && e.avfde && e.avvmx && !e.check && !e.cnm18 && !e.unused);
        EXPECT_TRUE(logHolds(log, "CPU stand-in bridge, 1 device") && logHolds(log, "stand-in 1.0"));
        EXPECT_FALSE(logHolds(log, "must never be logged"));
        bridge.stopd(); // not started: nothing to stop
        bridge.initd(0);
        bridge.initd(0);
        EXPECT_EQ(std::pair(calls(0), calls(1)), std::pair(1, 0));
        bridge.stopd();
        bridge.initd(0);
        EXPECT_EQ(std::pair(calls(0), calls(1)), std::pair(2, 1));
        bridge.stop_(); // stops the running device, then closes
        EXPECT_TRUE(noEntries(bridge) && !bridge.loaded() && !bridge.initialised() &&
                    !isOpen(STANDIN_NORMAL));
        EXPECT_TRUE(bridge.start());
        bridge.initd(0);
        EXPECT_EQ(calls(0), 1);                   // a fresh load
        keep = dlopen(STANDIN_NORMAL, RTLD_LAZY); // keeps the counters past the loader's close
    }
    EXPECT_EQ(calls(1), 1); // the destructor stopped the running device once
    dlclose(keep);
}

// A failing check's text is cut to 255 characters; a missing entry is named.
TEST(CoreCubr, BrokenBridgesAreClosedAndTheSecondPathIsTried) {
    const std::string failing(255, 'F');
    const std::pair<const char*, const char*> rows[] = {{STANDIN_FAILING, failing.c_str()},
                                                        {STANDIN_NOCNM17, "cudabridge_cnm17"},
                                                        {"/nonexistent/absent.so", "absent.so"}};
    for (const auto& [first, logged] : rows) {
        SCOPED_TRACE(first);
        LogCapture log(0);
        const bool loads = first == rows[2].first; // from the second path
        CoreCubr::setfn(first, STANDIN_NORMAL);
        CoreCubr bridge;
        EXPECT_EQ(bridge.start(), loads);
        EXPECT_EQ(noEntries(bridge), !loads);
        EXPECT_EQ(isOpen(loads ? STANDIN_NORMAL : first), loads);
        EXPECT_TRUE(logHolds(log, logged) && !logHolds(log, failing + "F"));
        EXPECT_FALSE(logHolds(log, "must never be logged"));
    }
}

} // namespace
