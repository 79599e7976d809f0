// Worker thread: every command runs on the worker and gives blocklock back, a throwing one included;
// the worker starts only with THREADS, and an engine whose worker cannot start plays inline; plans,
// loads and blocks give what the inline engine gives; a load never blocks the audio thread; teardown
// waits for the worker and for a host call and frees every plan on the worker; a wait past the
// watchdog logs once and keeps waiting; with a GPU every bridge call comes from the worker; and host,
// loader and control threads share an engine whose worker runs.
#include "processor/CorePrcs.h"

#include "HostBlocks.h"
#include "ProgramFolder.h"
#include "base/CoreSmph.h"
#include "convolution/CoreCnvl.h"
#include "convolution/CoreCubr.h"
#include "processor/CoreMmry.h"
#include "tests/common/LogCapture.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <malloc.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace {

using namespace hostblocks;

// Holds a thread that passes it until the test opens it, and tells the test that one arrived.
class Gate {
public:
    void pass() {
        std::unique_lock<std::mutex> lock(mutex);
        arrived = true;
        changed.notify_all();
        changed.wait(lock, [this] { return opened; });
    }
    void awaitArrival() {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [this] { return arrived; });
    }
    void open() {
        std::lock_guard<std::mutex> lock(mutex);
        opened = true;
        changed.notify_all();
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    bool arrived = false, opened = false;
};

// The commands an engine carried out, each with the thread it ran on; `action` runs after recording.
class Commands {
public:
    struct Entry {
        int16_t code;
        std::thread::id thread;
    };
    void attach(CorePrcs& e) {
        e.setCommandHookForTest([this](int16_t code) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                entries.push_back({code, std::this_thread::get_id()});
            }
            if (action) action(code);
        });
    }
    std::vector<Entry> take() {
        std::lock_guard<std::mutex> lock(mutex);
        return std::exchange(entries, {});
    }
    std::function<void(int16_t)> action;

private:
    std::mutex mutex;
    std::vector<Entry> entries;
};

// The stand-in bridge's own controls, through the library the bridge loader opened.
struct StandIn {
    StandIn() : first(CoreCubr::bCfilename(0)), second(CoreCubr::bCfilename(1)) {
        CoreCubr::setfn(CoreAnsx(STANDIN_NORMAL), CoreAnsx(STANDIN_NORMAL));
        handle = dlopen(STANDIN_NORMAL, RTLD_LAZY); // keeps its tallies past the loader's close
        expect = reinterpret_cast<int32_t (*)()>(dlsym(handle, "standin_expect"));
        calls = reinterpret_cast<int32_t (*)(int32_t)>(dlsym(handle, "standin_calls"));
    }
    ~StandIn() {
        CoreCubr::setfn(first, second);
        if (handle) dlclose(handle);
    }
    CoreAnsx first, second;
    void* handle = nullptr;
    int32_t (*expect)() = nullptr;
    int32_t (*calls)(int32_t foreign) = nullptr;
};

class CorePrcsWorker : public ProgramFolderTest {
protected:
    static std::string threads(int n, const std::string& more = "") {
        return "<THREADS>" + std::to_string(n) + "</THREADS>" + more;
    }
    static bool locksFree(CorePrcs& e) {
        for (CoreSmph* lock : {&Access::engineLock(e), &Access::blockLock(e), &Access::passLock(e)}) {
            if (!lock->locka()) return false;
            lock->relse();
        }
        return true;
    }
    // Third-stage blocks of 256 at 48 kHz (whole stages of about 1000 samples); path 1 moved by LFO1.
    static std::string movingThree() {
        const std::string lengths = tag("OT1", tag("LENGTH", "5000")) + tag("OT2", tag("LENGTH", "20800"));
        const auto leafOf = [&](const std::string& file) {
            return tag("ELEMENT", tag("VECTOR", tag("COMMON", tag("MINVALUE", " 0 ") + tag("MAXVALUE", "1") + lengths) +
                                                    tag("ELEMENT", tag("FILENAME", file) + tag("WEIGHT", " 0 "))));
        };
        const std::string moved =
            tag("ELEMENT", tag("VECTOR", tag("COMMON", tag("MINVALUE", "-1") + tag("MAXVALUE", "1") + lengths) +
                                             tag("ELEMENT", tag("FILENAME", "H1.WAV") + tag("WEIGHT", "-1")) +
                                             tag("ELEMENT", tag("FILENAME", "H2.WAV") + tag("WEIGHT", "1"))) +
                               tag("CONTROL", tag("SOURCE", "LFO1")));
        return program("Moving", tag("HDIM", "3") + tag("H1", moved) + tag("H2", leafOf("H2.WAV")) +
                                     tag("H3", leafOf("H3.WAV")) +
                                     tag("LFO1", tag("MINRATE", "3") + tag("MAXRATE", "3") + tag("SHAPE", "Sine")));
    }
    // Noise at a tenth of full scale with an impulse every 3001 samples.
    static Stereo noiseWithImpulses(size_t n) {
        Stereo s(n);
        std::mt19937 generator(11);
        std::uniform_real_distribution<double> noise(-0.1, 0.1);
        for (size_t i = 0; i < n; ++i) {
            s.left[i] = i % 3001 == 0 ? 0.8 : noise(generator);
            s.right[i] = i % 3001 == 1500 ? -0.8 : noise(generator);
        }
        return s;
    }
    static std::function<int32_t()> pattern(std::vector<int32_t> sizes) {
        return [sizes, next = size_t{0}]() mutable { return sizes[next++ % sizes.size()]; };
    }
};

TEST_F(CorePrcsWorker, EveryCommandRunsOnTheWorkerAndGivesTheHandshakeBack) {
    // What the seams use outlives the engine, whose teardown runs commands too.
    Commands commands;
    std::atomic<int16_t> throwing{-100};
    bool faulty = false;
    auto e = loaded("<HDIM>3</HDIM>" + threads(1));
    const LogCapture log(1); // after construction, which sets the level from the settings
    ASSERT_TRUE(e->workerRunning());
    ASSERT_TRUE(e->ldpdm(kThree, false));
    commands.action = [&](int16_t code) {
        if (code == throwing.load()) throw CoreAnsx("made to throw");
    };
    commands.attach(*e);
    e->setPlanFaultForTest([&](int16_t) { return faulty; });
    struct Row {
        int16_t code, index;
        bool fault, throws;
        int failed; // plan failed afterwards; -1 when the command leaves it alone
    };
    const Row rows[] = {
        {0, 0, false, false, -1}, {3, 0, false, false, -1}, {2, 0, false, false, -1},
        {1, 0, false, false, 0},  {1, 0, true, false, 1},  // the convolver refuses the plan (seam)
        {4, 0, false, false, 0},  {4, 99, false, false, 1}, // no convolver at that index
        {5, 0, false, false, -1}, {6, 0, false, false, -1}, {7, 0, false, false, -1}, {-1, 0, false, false, -1},
        {1, 0, false, true, 1},   {4, 0, false, true, 1},   {0, 0, false, true, -1}, {2, 0, false, true, -1},
        {6, 0, false, false, -1}, // the command after a throw works
    };
    std::thread::id worker;
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << "code " << r.code << " index " << r.index << " fault " << r.fault
                                          << " throws " << r.throws);
        faulty = r.fault;
        throwing = r.throws ? r.code : int16_t(-100);
        const bool failed = Access::post(*e, r.code, r.index);
        if (r.failed >= 0) {
            EXPECT_EQ(failed, r.failed == 1);
        }
        const auto ran = commands.take();
        ASSERT_EQ(ran.size(), 1u);
        EXPECT_EQ(ran[0].code, r.code);
        EXPECT_NE(ran[0].thread, std::this_thread::get_id());
        if (worker == std::thread::id()) worker = ran[0].thread;
        EXPECT_EQ(ran[0].thread, worker);
        EXPECT_TRUE(locksFree(*e));
    }
    faulty = false;
    throwing = -100;
    const std::string text = log.text();
    for (int code : {1, 4, 0, 2}) {
        const std::string line = "worker command " + std::to_string(code) + " failed: made to throw";
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    // The engine plays on: a load and host calls.
    ASSERT_TRUE(e->ldpdm(kThree, false));
    run(*e, Stereo(4096, 0.1), fixedBlocks(512));
    EXPECT_TRUE(e->workerRunning());
    EXPECT_EQ(Access::lockErrors(*e), 0);
}

TEST_F(CorePrcsWorker, OnlyThreadsStartTheWorkerAndTheLatencyFollowsTheSettings) {
    struct Row {
        int threads;
        int32_t dsp, latency;
    };
    const Row rows[] = {{0, 512, 512}, {1, 512, 1024}, {2, 512, 1024}, {1, 1024, 2048}};
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << "THREADS " << r.threads << " DSPBUFFER " << r.dsp);
        Commands commands;
        {
            auto e = loaded(threads(r.threads, "<DSPBUFFER>" + std::to_string(r.dsp) + "</DSPBUFFER>"));
            ASSERT_FALSE(e->isfailed());
            EXPECT_EQ(e->workerRunning(), r.threads > 0);
            EXPECT_EQ(Access::rings(*e).latency, r.latency);
            ASSERT_TRUE(e->ldpdm(kInit, false));
            commands.attach(*e);
        }
        // Teardown frees the plans of every record (3, 2, 6 each); only the worker stops the bridge.
        const auto ran = commands.take();
        ASSERT_FALSE(ran.empty());
        const bool posted = r.threads > 0;
        EXPECT_EQ(ran.back().code, posted ? 5 : 6);
        for (const auto& entry : ran) {
            EXPECT_EQ(entry.thread != std::this_thread::get_id(), posted);
            EXPECT_EQ(entry.code == 5, posted && &entry == &ran.back());
        }
        EXPECT_EQ(pool.getma(), 0);
    }
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// In a fresh child whose address space has no room for a thread's stack the worker cannot start: the
// engine says so, keeps the latency its settings give, and plays an impulse inline at that latency.
int engineWithoutRoomForItsWorker(const std::string& inlineSettings, const std::string& settings,
                                  const std::string& plugin) {
    alarm(60);
    // Every allocation from the heap, which never shrinks: an inline engine built and dropped first
    // leaves room that the second engine reuses under the limit.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
    CorePool pool;
    const auto build = [&](const std::string& text) {
        const std::string master = "<MASTER>" + text + "</MASTER>";
        return std::make_unique<CorePrcs>(&pool, CoreAnsx(plugin.c_str()), 48000, nullptr, CoreAnsx("0"), false,
                                          false, nullptr, CoreAnsx(master.c_str()), false, nullptr);
    };
    const auto play = [](CorePrcs& e) {
        e.getmm()->loads(CoreAnsx("fixture.xml"), 0, true);
        CorePrcsTestAccess::boot(e);
        if (!e.ldpdm(0, false)) return Stereo(); // INIT: a unit impulse
        Stereo input(8192);
        input.left[300] = input.right[300] = 1.0;
        return run(e, input, fixedBlocks(128));
    };
    {
        auto warm = build(inlineSettings);
        if (warm->isfailed() || play(*warm).size() == 0) return 8;
    }
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    // Room for the engine's rings and buffers, not for an 8 MB thread stack.
    const rlim_t room = (rlim_t(pages) + 1024) * rlim_t(sysconf(_SC_PAGESIZE)); // 4 MB more than in use
    const rlimit limit{room, room};
    if (pages == 0 || setrlimit(RLIMIT_AS, &limit) != 0) return 2;
    auto e = build(settings);
    if (e->isfailed()) return 3;
    if (e->workerRunning()) return 4;
    if (CorePrcsTestAccess::rings(*e).latency != 1024) return 5;
    const Stereo out = play(*e);
    if (out.size() == 0) return 6;
    const int32_t latency = CorePrcsTestAccess::reportedLatency(*e);
    for (size_t i = 0; i < out.size(); ++i) {
        const double expected = i == static_cast<size_t>(300 + latency) ? 1.0 : 0.0;
        // The kernel file holds the impulse as its sample format rounds it.
        const double tolerance = expected != 0.0 ? 1e-5 : 1e-9;
        if (std::fabs(out.left[i] - expected) > tolerance || std::fabs(out.right[i] - expected) > tolerance) return 7;
    }
    return 0;
}

// The child runs the test again from its start, in a folder of its own that no TearDown removes.
int removingFolder(const std::filesystem::path& folder, int status) {
    removeTempFolder(folder);
    return status;
}

TEST_F(CorePrcsWorker, AWorkerThatCannotStartLeavesAnEngineThatPlaysInline) {
    writeFolder();
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::_Exit(removingFolder(
                    root, engineWithoutRoomForItsWorker(settings(), settings(threads(1)), folder()))),
                ::testing::ExitedWithCode(0), "");
}
#endif

// The same load, setters and timing on an inline engine and on a worker engine leave the same
// configuration, and the worker engine's plan commands all ran on its worker.
TEST_F(CorePrcsWorker, PlanCommandsGiveTheInlineConfiguration) {
    Commands commands;
    auto inline_ = loaded("<HDIM>3</HDIM>");
    auto worker = loaded("<HDIM>3</HDIM>" + threads(1));
    commands.attach(*worker);
    for (CorePrcs* e : {inline_.get(), worker.get()})
        e->setClockForTest([tick = 0.0]() mutable { return tick += 1.0; }); // every mode ties: mode 1
    const std::vector<std::pair<std::string, std::function<void(CorePrcs&)>>> steps = {
        {"ldpdm three", [](CorePrcs& e) { EXPECT_TRUE(e.ldpdm(kThree, false)); }},
        {"setop 3", [](CorePrcs& e) { EXPECT_TRUE(e.setop(3)); }},
        {"setop 11", [](CorePrcs& e) { EXPECT_TRUE(e.setop(11)); }},
        {"setof 11", [](CorePrcs& e) { EXPECT_TRUE(e.setof(11)); }},
        {"setod", [](CorePrcs& e) { e.setod(1, 1, 20000.0); }},
        {"cnfop", [](CorePrcs& e) { e.cnfop(); }},
        {"setop 0", [](CorePrcs& e) { EXPECT_TRUE(e.setop(0)); }},
        {"ldpdm packed", [](CorePrcs& e) { EXPECT_TRUE(e.ldpdm(kPacked, false)); }},
        {"ldpdm offsets", [](CorePrcs& e) { EXPECT_TRUE(e.ldpdm(kOffsets + 2, false)); }},
    };
    for (const auto& [name, step] : steps) {
        SCOPED_TRACE(name);
        step(*inline_);
        step(*worker);
        const auto* a = Access::records(*inline_);
        const auto* b = Access::records(*worker);
        for (int16_t h = 0; h <= Access::lastRecord(*inline_); ++h) {
            EXPECT_EQ(a[h].mode, b[h].mode) << h;
            EXPECT_EQ(a[h].convolver->selectedMode(), b[h].convolver->selectedMode()) << h;
            EXPECT_EQ(a[h].role, b[h].role) << h;
            EXPECT_EQ(a[h].group, b[h].group) << h;
        }
        EXPECT_EQ(Access::blockStep(*inline_), Access::blockStep(*worker));
        EXPECT_EQ(Access::largestGranule(*inline_), Access::largestGranule(*worker));
        EXPECT_EQ(Access::directMode(*inline_), Access::directMode(*worker));
        const auto ran = commands.take();
        EXPECT_FALSE(ran.empty());
        for (const auto& entry : ran) EXPECT_NE(entry.thread, std::this_thread::get_id());
        EXPECT_TRUE(locksFree(*worker));
    }
}

// Two engines alike but for THREADS: the worker engine plays the inline engine's output one DSP buffer
// later, bit for bit, for host blocks below the DSP buffer (the last pass of each call goes to the
// worker) and above it (the partial passes run inline). Host blocks mixed so that the pending input
// reaches almost a DSP buffer before a whole one arrives: a program offset the worker leaves no room
// for plays that much later still (its blocks then fall elsewhere: equal within rounding).
TEST_F(CorePrcsWorker, TheWorkerPlaysTheInlineOutputOneDspBufferLater) {
    writeFolder();
    writeText(data() / "progs/THREE.XML", movingThree());
    struct Row {
        int32_t slot;
        std::vector<int32_t> blocks;
        Output mode;
        size_t delay;
        double tolerance;
    };
    std::vector<int32_t> mixed(29, 17);
    mixed.insert(mixed.end(), {512, 512, 300});
    const Row rows[] = {
        {kThree, {64, 128, 256, 17}, Output::doubleReplace, 512, 0.0},
        {kThree, {64, 128, 256, 17}, Output::floatReplace, 512, 0.0},
        {kThree, {64, 1000, 17, 2048, 512}, Output::doubleReplace, 512, 0.0},
        {kOffsets + 2, mixed, Output::doubleReplace, 512 + 299, 1e-12}, // offset 300: the worker keeps 1
    };
    // Input to output on the rings: what the host entry keeps between the output it reads and the input
    // it writes, less the look-ahead room.
    const auto latency = [](const CorePrcs& e) {
        const Access::Rings r = Access::rings(e);
        return ((r.inpos - r.outread) % r.work + r.work) % r.work - r.room;
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << "slot " << r.slot << " second block " << r.blocks[1] << " float "
                                          << (r.mode == Output::floatReplace));
        auto inline_ = loaded("<HDIM>3</HDIM><OTIMED>11</OTIMED>");
        auto worker = loaded("<HDIM>3</HDIM><OTIMED>11</OTIMED>" + threads(1));
        for (CorePrcs* e : {inline_.get(), worker.get()}) {
            ASSERT_TRUE(e->ldpdm(r.slot, false));
            e->blksz(64);
        }
        if (r.slot == kThree) {
            ASSERT_EQ(Access::blockStep(*worker), 256);
        }
        ASSERT_TRUE(Access::useWorker(*worker));
        ASSERT_EQ(Access::workBlock(*worker), 512);
        size_t total = 0;
        auto sizes = pattern(r.blocks);
        for (int call = 0; call < 300; ++call) total += static_cast<size_t>(sizes());
        const Stereo input = noiseWithImpulses(total);
        const Stereo a = run(*inline_, input, pattern(r.blocks), r.mode);
        const Stereo b = run(*worker, input, pattern(r.blocks), r.mode);
        const size_t delay = r.delay;
        EXPECT_EQ(latency(*worker) - latency(*inline_), static_cast<int32_t>(delay));
        size_t differing = 0, loud = 0;
        const auto differs = [&r](double x, double y) {
            return r.tolerance > 0.0 ? std::fabs(x - y) > r.tolerance : std::memcmp(&x, &y, sizeof x) != 0;
        };
        // Blocks that fall elsewhere also ramp the first program update in elsewhere.
        const size_t from = r.tolerance > 0.0 ? 4096 : 0;
        for (size_t t = from; t + delay < total; ++t) {
            differing += differs(a.left[t], b.left[t + delay]);
            differing += differs(a.right[t], b.right[t + delay]);
            loud += std::fabs(a.left[t]) > 1e-3;
        }
        for (size_t t = 0; t < delay; ++t) EXPECT_EQ(b.left[t], 0.0) << t;
        EXPECT_EQ(differing, 0u);
        EXPECT_GT(loud, total / 4); // the program plays, not silence
    }
}

// The worker held inside the load's first plan command, past a shortened watchdog: host calls on
// another thread return and pass the input through; the loader's wait logs one line and goes on
// waiting, and once the worker is released the load completes without a forced lock.
TEST_F(CorePrcsWorker, ALoadHeldOnTheWorkerNeverBlocksTheAudioThread) {
    Gate gate;
    std::atomic<bool> armed{true};
    Commands commands;
    auto e = loaded(threads(1));
    ASSERT_TRUE(e->ldpdm(kInit, false));
    const LogCapture log(1);
    e->setWatchdogForTest(20);
    commands.action = [&](int16_t code) {
        if (code == 1 && armed.exchange(false)) gate.pass();
    };
    commands.attach(*e);
    bool result = false;
    std::thread loader([&] { result = e->ldpdm(kThree, false); });
    gate.awaitArrival();
    Stereo input(256);
    for (size_t i = 0; i < input.size(); ++i) input.left[i] = input.right[i] = 0.5 - 0.001 * static_cast<double>(i);
    const auto start = std::chrono::steady_clock::now();
    for (int call = 0; call < 20 || std::chrono::steady_clock::now() - start < std::chrono::milliseconds(100); ++call) {
        const Stereo out = run(*e, input, fixedBlocks(256));
        // Without FORCEOFFSET the pass-through path has no delay.
        for (size_t i = 0; i < input.size(); ++i) ASSERT_EQ(out.left[i], input.left[i]) << call << " " << i;
    }
    gate.open();
    loader.join();
    EXPECT_TRUE(result);
    EXPECT_FALSE(e->getby());
    int lines = 0;
    for (const std::string& line : log.texts())
        lines += line.find("still waiting for the worker: a plan command") != std::string::npos;
    EXPECT_EQ(lines, 1);
    EXPECT_EQ(Access::lockErrors(*e), 0);
    EXPECT_TRUE(locksFree(*e));
}

// The engine destroyed right after a host call handed a block to the worker, and while another
// thread's host call holds enginelock: teardown waits for both, frees every plan and stops the bridge
// on the worker, and leaves the pool empty; no lock was forced.
TEST_F(CorePrcsWorker, TeardownWaitsForTheWorkerAndTheHostCall) {
    StandIn standIn;
    ASSERT_NE(standIn.calls, nullptr);
    for (bool hostInside : {false, true}) {
        SCOPED_TRACE(hostInside ? "host call inside" : "block handed over");
        {
            Commands commands;
            std::atomic<bool> slowBlock{false};
            std::atomic<int> forcedAtStop{-1};
            Gate inside;
            std::atomic<bool> holdHost{hostInside};
            auto e = loaded("<HDIM>3</HDIM><OTIMED>11</OTIMED>" + threads(1));
            ASSERT_TRUE(e->ldpdm(kThree, false));
            e->blksz(64);
            ASSERT_TRUE(Access::useWorker(*e));
            CorePrcs* engine = e.get();
            const int records = Access::lastRecord(*e) + 1;
            commands.action = [&](int16_t code) {
                if (code == 0 && slowBlock.exchange(false)) std::this_thread::sleep_for(std::chrono::milliseconds(30));
                if (code == 5) forcedAtStop = Access::lockErrors(*engine);
            };
            commands.attach(*e);
            run(*e, Stereo(4096, 0.1), fixedBlocks(256));
            e->setHostHookForTest([&] {
                if (holdHost.exchange(false)) inside.pass();
            });
            std::thread host;
            if (hostInside) {
                host = std::thread([engine] { run(*engine, Stereo(256, 0.1), fixedBlocks(256)); });
                inside.awaitArrival();
            } else {
                slowBlock = true;
                run(*e, Stereo(256, 0.1), fixedBlocks(256)); // the block goes to the worker, which takes 30 ms
            }
            commands.take();
            std::thread destroyer([&e] { e.reset(); });
            if (hostInside) {
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
                inside.open();
                host.join();
            }
            destroyer.join();
            const auto ran = commands.take();
            ASSERT_FALSE(ran.empty());
            EXPECT_EQ(ran.back().code, 5);
            int freed = 0;
            for (const auto& entry : ran) {
                EXPECT_EQ(entry.thread, ran.back().thread);
                freed += entry.code == 2;
            }
            EXPECT_EQ(freed, records);
            EXPECT_EQ(forcedAtStop.load(), 0);
        }
        EXPECT_EQ(pool.getma(), 0);
    }
}

// With a GPU mode every bridge call of plans, blocks and the final stop comes from the worker, also
// for host blocks larger than the block step. (Clearing a convolver's state after a load stays with
// the loader, which holds both engine locks: no block runs meanwhile.)
TEST_F(CorePrcsWorker, WithAGpuEveryBridgeCallComesFromTheWorker) {
    StandIn standIn;
    ASSERT_NE(standIn.expect, nullptr);
    {
        std::atomic<bool> mark{true};
        Commands commands;
        auto e = loaded("<HDIM>3</HDIM>" + threads(1));
        commands.action = [&](int16_t) {
            if (mark.exchange(false)) standIn.expect();
        };
        commands.attach(*e);
        Access::post(*e, 6, 0); // the worker becomes the expected caller
        writeText(data() / "progs/THREE.XML",
                  program("Gpu", tag("HDIM", "3") + tag("FORCEOT2", "1") + tag("H1", leaf("H1.WAV")) +
                                     tag("H2", leaf("H2.WAV")) + tag("H3", leaf("H3.WAV"))));
        ASSERT_TRUE(e->getmm()->loads(CoreAnsx("fixture.xml"), 0, true));
        ASSERT_TRUE(e->setof(13)); // OFREQD, as the boot applies it
        ASSERT_TRUE(e->ldpdm(kThree, false));
        ASSERT_TRUE(Access::anyGpu(*e));
        ASSERT_TRUE(Access::useWorker(*e));
        EXPECT_EQ(Access::records(*e)[0].mode, 13);
        const Stereo out = run(*e, noiseWithImpulses(48000), pattern({64, 3000, 1024, 17}));
        size_t nonzero = 0;
        for (double v : out.left) nonzero += v != 0.0;
        EXPECT_GT(nonzero, 10000u);
        EXPECT_TRUE(e->setof(13));
    }
    EXPECT_GT(standIn.calls(0), 0);
    EXPECT_EQ(standIn.calls(1), 0);
}

// About a second of host calls with the worker in use, a loader thread and the control thread's
// try-lock users: no deadlock, every output sample finite, the pool empty afterwards.
TEST_F(CorePrcsWorker, HostLoaderAndControlThreadsShareAnEngineWithItsWorker) {
    {
        auto e = loaded("<HDIM>3</HDIM><OTIMED>11</OTIMED>" + threads(1));
        ASSERT_TRUE(e->ldpdm(kThree, false));
        e->blksz(64);
        ASSERT_TRUE(Access::useWorker(*e));
        std::atomic<bool> stop{false};
        std::atomic<bool> finite{true};
        std::atomic<int> hostCalls{0};
        std::thread host([&] {
            Stereo input = noiseWithImpulses(4096);
            const int32_t sizes[] = {128, 64, 17, 700, 256};
            for (int i = 0; !stop.load(); ++i) {
                const Stereo out = run(*e, input, fixedBlocks(sizes[i % 5]), i % 2 ? Output::floatReplace : Output::doubleReplace);
                for (size_t k = 0; k < out.size(); ++k)
                    if (!std::isfinite(out.left[k]) || !std::isfinite(out.right[k])) finite = false;
                ++hostCalls;
            }
        });
        std::thread loader([&] {
            const int32_t hosts[] = {64, 32, 128, 512}; // the worker in use, then not
            for (int i = 0; !stop.load(); ++i) {
                switch (i % 6) {
                case 0: e->ldpdm(i % 12 == 0 ? kThree : kPacked, false); break;
                case 1: e->setop(i % 4 ? 3 : 11); break;
                case 2: e->setof(11); break;
                case 3: e->setod(static_cast<int16_t>(i % 3), 1, 15000.0 + 1000.0 * (i % 7)); break;
                default: e->blksz(hosts[i % 4]); break;
                }
            }
        });
        std::thread control([&] {
            while (!stop.load()) {
                e->updld();
                e->updpm();
                e->updgu(48000);
                e->getpf(0);
                e->getpf(1);
                std::this_thread::sleep_for(std::chrono::microseconds(200));
            }
        });
        std::this_thread::sleep_for(std::chrono::seconds(1));
        stop = true;
        host.join();
        loader.join();
        control.join();
        EXPECT_TRUE(finite.load());
        EXPECT_GT(hostCalls.load(), 0);
        EXPECT_EQ(Access::lockErrors(*e), 0);
    }
    EXPECT_EQ(pool.getma(), 0);
}

} // namespace
