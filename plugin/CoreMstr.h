// CoreMstr: the master object of one plug-in instance. Holds the instance's working objects (its own
// pool, the blink clock, the display message queue, the file store, the engine, the skin, the display
// and the display's host over the effect) and, shared by every instance in the process, one pool and
// one kernel-buffer registry that the first instance creates and the last one deletes. Built and
// deleted by the effect on the host's thread; a build step that throws gives back everything built so
// far, the shared count included, and rethrows.
#pragma once
#include "base/CoreAnsx.h"

#include <cstdint>
#include <functional>

class CoreBlnk;
class CoreDsif;
class CoreDspc;
class CoreFsys;
class CorePlel;
class CorePool;
class CorePrcs;
class CoreSkin;
class PluginDisplayHost;

class CoreMstr {
public:
    // name "0": the bundle is the loaded code itself (CoreHutl::appnm); otherwise name is the bundle
    // folder (ending with '/') and path the bundle's file name. Throws a CoreAnsx when a build step
    // fails or the engine reports that its construction failed; a failed memory test instead leaves
    // the error flag set with nothing built. effect: the CoreZrlg the display reaches the editor
    // through, or null (the display's property calls then go nowhere).
    CoreMstr(const CoreAnsx& name, int32_t sampleRate, const CoreAnsx& path, void* module, void* effect);
    ~CoreMstr();
    CoreMstr(const CoreMstr&) = delete;
    CoreMstr& operator=(const CoreMstr&) = delete;

    CorePrcs* getpr() const { return pProcessor; }
    CoreDspc* getdp() const { return pQueue; }
    CoreSkin* getsk() const { return pSkin; }
    CoreDsif* getds() const { return pDisplay; }
    bool geter() const { return bError; }
    CoreAnsx getcn() const { return sBundlename; }
    CoreAnsx getfd() const { return sBundlefolder; }

    // What the process shares, read under the static lock.
    static int32_t sharedCount();
    static CorePool* sharedPool();
    static CorePlel* sharedRegistry();

    // Test seams (set while no instance is being built): the memory test's answer, a call at the
    // start of each build step (2 memory test .. 7 engine, 8 skin, 9 font-set clamp, 10 display; a
    // throw there fails the build), and the bytes the own pool still holds just before a failed
    // build deletes it.
    struct TestSeams {
        std::function<bool()> memoryTest;
        std::function<void(int step)> beforeStep;
        std::function<void(int64_t heldBytes)> ownPoolReleased;
    };
    static void setSeamsForTest(TestSeams seams);
    // Test seam: the bundle an instance built with name "0" takes in place of the loaded code's
    // (folder ending with '/', file name); an empty folder restores the loaded code's.
    static void setBundleForTest(const CoreAnsx& folder, const CoreAnsx& name);

private:
    CoreAnsx sBundlename;
    CoreAnsx sBundlefolder;
    CoreBlnk* pBlink = nullptr;
    CorePrcs* pProcessor = nullptr;
    CoreDspc* pQueue = nullptr;
    CorePool* pPool = nullptr;
    CoreFsys* pStore = nullptr;
    CoreSkin* pSkin = nullptr;
    PluginDisplayHost* pHost = nullptr;
    CoreDsif* pDisplay = nullptr; // its thread runs batches on the engine: deleted before everything
    bool bError = false;
    bool bCounted = false; // this instance raised the shared count

    void build(const CoreAnsx& name, int32_t sampleRate, const CoreAnsx& path, void* module, void* effect);
    void release(bool failed) noexcept; // everything built, in reverse order
    void enterShared();
    void leaveShared() noexcept;
    static void step(int number);
};
