// Convolver configuration and direct kernel-mode timing: modes and steps per record, common-plan
// groups, the FFT-mode and stage-size setters' refusals, and the timing's choice through a clock seam.
#include "processor/CorePrcs.h"

#include "HostBlocks.h"
#include "ProgramFolder.h"
#include "base/CoreSmph.h"
#include "base/RandomGenerator.h"
#include "convolution/CoreCnvl.h"
#include "convolution/CoreCubr.h"
#include "processor/CoreMmry.h"
#include "program/CoreProg.h"
#include "tests/common/LogCapture.h"
#include "tests/common/SignalReference.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

namespace {

class CorePrcsConfigure : public ProgramFolderTest {
protected:
    // Loads a program text as slot kThree of the fixture.
    void loadThree(CorePrcs& e, const std::string& text, bool expected = true) {
        writeText(data() / "progs/THREE.XML", text);
        ASSERT_TRUE(e.getmm()->loads(CoreAnsx("fixture.xml"), 0, true));
        e.getmm()->clrpr(kEmpty);
        ASSERT_EQ(e.ldpdm(kThree, false), expected);
    }
    // Kernels of one record as the engine plays them, left channel first.
    static std::vector<Signal> kernels(CorePrcs& e, int16_t record) {
        CoreProg& p = Access::program(e);
        const int32_t n = p.getep(record);
        return {Signal(p.getli(record), p.getli(record) + n), Signal(p.getri(record), p.getri(record) + n)};
    }
};

TEST_F(CorePrcsConfigure, ModeAssignmentFollowsThirdStageShortKernelHybridAndSmooth) {
    Signal shortImpulse(8, 0.0);
    shortImpulse[0] = 1.0;
    struct Row {
        int16_t requested;
        bool third, force, shortKernel, hybrid, smooth;
        int16_t mode0, mode1, extra; // assigned modes of records 0, 1 and the extra record
    };
    const Row rows[] = {
        {3, false, false, false, false, false, 3, 3, -1},
        {11, false, false, false, false, false, 11, 11, -1},
        {3, true, false, false, false, false, 11, 3, -1}, // a third stage never runs a direct mode
        {3, false, true, false, false, false, 11, 11, -1}, // FORCEOT2: every path
        {11, true, false, false, false, false, 11, 11, -1},
        {3, false, false, true, false, false, 17, 3, -1}, // short kernel
        {11, false, false, true, false, false, 17, 11, -1},
        {3, true, false, true, false, false, 11, 3, -1}, // the third stage wins over the short kernel
        {3, false, false, false, true, false, 3, 3, 11}, // hybrid: path 0 as requested, the extra FFT
        {3, false, false, true, true, false, 3, 3, 11},  // ... even with a short kernel
        {11, false, false, false, true, false, 11, 11, 11},
        {3, false, false, false, false, true, 3, 3, 3}, // SMOOTH: the extra record follows record 0
        {3, true, false, false, false, true, 11, 3, 11},
        {11, false, false, true, false, true, 17, 11, 17},
    };
    auto e = loaded("<HDIM>2</HDIM>");
    Road::writeKernel(pool, data() / "vectors/SHORT.WAV", shortImpulse, shortImpulse, kRate);
    const int16_t extra = Access::lastRecord(*e);
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << "mode " << r.requested << " third " << r.third << " force " << r.force
                                          << " short " << r.shortKernel << " hybrid " << r.hybrid << " smooth "
                                          << r.smooth);
        std::string h1 = leaf(r.shortKernel ? "SHORT.WAV" : "H1.WAV");
        if (r.third) h1 += tag("FORCEOT2", "1");
        std::string body = tag("HDIM", "2") + tag("H1", h1) + tag("H2", leaf("H2.WAV"));
        if (r.force) body += tag("FORCEOT2", "1");
        if (r.hybrid) body += tag("FORCEHYBRID", "1");
        if (r.smooth) body += tag("SMOOTH", "5");
        loadThree(*e, program("Modes", body));
        ASSERT_TRUE(e->setop(r.requested));
        const auto* records = Access::records(*e);
        EXPECT_EQ(records[0].mode, r.mode0);
        EXPECT_EQ(records[1].mode, r.mode1);
        EXPECT_EQ(records[extra].mode, r.extra);
        // Every assigned mode runs here: nothing fell back.
        EXPECT_FALSE(Access::anyRefused(*e));
        // The largest step counts every harmonic record, and the hybrid extra record but not the crossfade one.
        int32_t step = 0, granule = 0;
        bool untimed = true;
        for (int16_t h : {int16_t(0), int16_t(1), extra}) {
            const CoreCnvl& c = *records[h].convolver;
            if (records[h].mode < 0) continue;
            EXPECT_EQ(c.selectedMode(), records[h].mode) << h;
            if (h != extra || r.hybrid) step = std::max(step, c.getcb());
            granule = std::max(granule, c.getmp());
            untimed = untimed && c.perfr();
        }
        EXPECT_GT(Access::blockStep(*e), 0);
        EXPECT_EQ(Access::blockStep(*e), step);
        EXPECT_EQ(Access::largestGranule(*e), granule);
        EXPECT_EQ(Access::allUntimed(*e), untimed);
        EXPECT_FALSE(Access::anyGpu(*e));
        EXPECT_FALSE(Access::useWorker(*e)); // THREADS 0
        EXPECT_EQ(Access::workBlock(*e), step);
        EXPECT_TRUE(locksFree(*e));
    }
}

// y[t + latency] = sum over k of (x^k * h_k)[t] (the kernels carry the offset): three harmonics grouped on one common plan (equal
// third-stage sizes) and ungrouped (distinct sizes), each against the naive power series.
TEST_F(CorePrcsConfigure, GroupsShareOneCommonPlanAndPlayTheNaivePowerSeries) {
    using namespace hostblocks;
    auto e = loaded("<HDIM>3</HDIM><OTIMED>11</OTIMED>");
    // Three kernels of one length share a key; the fixture's 3000, 1500 and 400 taps do not.
    for (int h = 0; h < 3; ++h) {
        const Signal k = Road::decayingNoise(1500, 70 + static_cast<unsigned>(h));
        Road::writeKernel(pool, data() / ("vectors/E" + std::to_string(h + 1) + ".WAV"), k, k, kRate);
    }
    // Stage lengths of the whole kernels (3000, 1500 and 400 taps at 48 kHz) give distinct third-stage blocks.
    const auto whole = [](const std::string& file, const char* us) {
        const std::string lengths = tag("OT1", tag("LENGTH", us)) + tag("OT2", tag("LENGTH", us));
        return tag("ELEMENT", tag("VECTOR", tag("COMMON", tag("MINVALUE", " 0 ") + tag("MAXVALUE", "1") + lengths) +
                                                tag("ELEMENT", tag("FILENAME", file) + tag("WEIGHT", " 0 "))));
    };
    const std::string distinct =
        program("Distinct", tag("HDIM", "3") + tag("H1", whole("H1.WAV", "62500")) +
                                tag("H2", whole("H2.WAV", "16667")) + tag("H3", whole("H3.WAV", "8334")));
    const std::string equal = program("Equal", tag("HDIM", "3") + tag("H1", whole("E1.WAV", "31250")) +
                                                    tag("H2", whole("E2.WAV", "31250")) +
                                                    tag("H3", whole("E3.WAV", "31250")));
    // Quiet enough that the sum stays below the output protection.
    const Stereo input = [] {
        Stereo s;
        std::mt19937 generator(5);
        s.left = randomSignal(generator, 20000, 0.3);
        s.right = randomSignal(generator, 20000, 0.3);
        return s;
    }();
    for (bool grouped : {true, false}) {
        SCOPED_TRACE(grouped ? "grouped" : "ungrouped");
        loadThree(*e, grouped ? equal : distinct);
        const auto* records = Access::records(*e);
        const auto* slots = Access::planSlots(*e);
        for (int h = 0; h < 3; ++h) ASSERT_EQ(records[h].mode, 11) << h;
        if (grouped) {
            EXPECT_EQ(records[0].role, 0);
            EXPECT_EQ(records[1].role, 1);
            EXPECT_EQ(records[2].role, 2);
            int key = 0, step = 0;
            ASSERT_TRUE(records[0].convolver->getci(key, step));
            EXPECT_TRUE(slots[0].used);
            EXPECT_NE(slots[0].plan, nullptr);
            EXPECT_EQ(slots[0].ratio, key * Access::blockStep(*e) / step);
            EXPECT_FALSE(slots[1].used);
        } else {
            for (int h = 0; h < 3; ++h) EXPECT_EQ(records[h].role, 3) << h;
            EXPECT_FALSE(slots[0].used);
        }
        for (int16_t h = 3; h <= Access::lastRecord(*e); ++h) EXPECT_EQ(records[h].role, 3) << h;
        const Stereo out = run(*e, input, fixedBlocks(512));
        const int32_t latency = Access::reportedLatency(*e);
        for (int c = 0; c < 2; ++c) {
            const Signal& x = c == 0 ? input.left : input.right;
            Signal expected(x.size(), 0.0);
            double tolerance = 0.0;
            for (int k = 1; k <= 3; ++k) {
                Signal xk(x.size());
                for (size_t i = 0; i < x.size(); ++i) xk[i] = std::pow(x[i], k);
                const Signal h = kernels(*e, static_cast<int16_t>(k - 1))[c];
                const Signal y = naiveConvolution(xk, h);
                for (size_t i = 0; i < y.size(); ++i) expected[i] += y[i];
                tolerance += 1e-10 * sumOfMagnitudes(h) * std::pow(largestMagnitude(x), k);
            }
            const Signal& got = c == 0 ? out.left : out.right;
            // The first blocks play the program update's ramp in.
            for (size_t t = 8192; t + latency < got.size() && t < expected.size(); ++t)
                ASSERT_NEAR(got[t + latency], expected[t], tolerance) << t;
        }
    }
}

TEST_F(CorePrcsConfigure, ALoneSharableRecordKeepsRoleThreeAndTheCrossfadeRecordsStayOut) {
    struct Row {
        std::string body;
        int16_t roles[3]; // records 0..2
    };
    const Row rows[] = {
        {tag("H1", leaf("H1.WAV")), {3, 3, 3}}, // one harmonic: no partner
        {tag("HDIM", "2") + tag("H1", leaf("H2.WAV")) + tag("H2", leaf("H2.WAV")), {0, 2, 3}},
        // SMOOTH: record 0 holds a crossfade set; its equal partner stays alone.
        {tag("HDIM", "2") + tag("SMOOTH", "5") + tag("H1", leaf("H2.WAV")) + tag("H2", leaf("H2.WAV")), {3, 3, 3}},
        // hybrid: record 0 runs its direct part; the others group.
        {tag("HDIM", "3") + tag("FORCEHYBRID", "1") + tag("H1", leaf("H2.WAV")) + tag("H2", leaf("H2.WAV")) +
             tag("H3", leaf("H2.WAV")),
         {3, 0, 1}},
    };
    auto e = loaded("<HDIM>3</HDIM><OTIMED>11</OTIMED>");
    for (const Row& r : rows) {
        SCOPED_TRACE(r.body);
        loadThree(*e, program("Roles", r.body));
        const auto* records = Access::records(*e);
        for (int h = 0; h < 3; ++h) EXPECT_EQ(records[h].role, r.roles[h]) << h;
    }
}

TEST_F(CorePrcsConfigure, AGpuFftModeRunsThroughTheStandInBridge) {
    const CoreAnsx first = CoreCubr::bCfilename(0), second = CoreCubr::bCfilename(1);
    CoreCubr::setfn(CoreAnsx(STANDIN_NORMAL), CoreAnsx(STANDIN_NORMAL));
    struct Restore {
        CoreAnsx first, second;
        ~Restore() { CoreCubr::setfn(first, second); }
    } restore{first, second};
    auto e = loaded("<HDIM>3</HDIM>");
    // FORCEOT2: with a direct mode requested every path takes the default FFT mode.
    loadThree(*e, program("Gpu", tag("HDIM", "3") + tag("FORCEOT2", "1") + tag("H1", leaf("H1.WAV")) +
                                     tag("H2", leaf("H2.WAV")) + tag("H3", leaf("H3.WAV"))));
    EXPECT_EQ(Access::records(*e)[0].mode, 11);
    EXPECT_FALSE(e->setof(3)); // a direct mode
    EXPECT_EQ(Access::fftMode(*e), 11);
    ASSERT_TRUE(e->setof(13));
    EXPECT_EQ(Access::fftMode(*e), 13);
    const auto* records = Access::records(*e);
    for (int h = 0; h < 3; ++h) {
        EXPECT_EQ(records[h].mode, 13) << h;
        EXPECT_EQ(records[h].convolver->selectedMode(), 13) << h;
    }
    EXPECT_TRUE(Access::anyGpu(*e));
    EXPECT_EQ(Access::largestGranule(*e), 1024);
    EXPECT_FALSE(Access::useWorker(*e)); // THREADS 0: no worker to pin
    EXPECT_FALSE(e->getby());
    EXPECT_TRUE(locksFree(*e));
}

TEST_F(CorePrcsConfigure, ModesGroupsAndTheWorkBlockFollowTheRequest) {
    auto e = loaded("<HDIM>3</HDIM>");
    ASSERT_TRUE(e->ldpdm(kThree, false));
    struct Row {
        int16_t mode;
        int16_t recordMode;
        bool block; // FFT steps are the third-stage block, direct ones 1 or 2
    };
    const Row rows[] = {{3, 3, false}, {11, 11, true}, {0, 11, true}}; // 0: the current (11) again
    for (const Row& r : rows) {
        SCOPED_TRACE(r.mode);
        ASSERT_TRUE(e->setop(r.mode));
        const auto* records = Access::records(*e);
        for (int h = 0; h < 3; ++h) EXPECT_EQ(records[h].mode, r.recordMode) << h;
        EXPECT_GT(Access::blockStep(*e), 0);
        EXPECT_EQ(Access::blockStep(*e) > 2, r.block);
        EXPECT_EQ(Access::workBlock(*e), Access::blockStep(*e));
        EXPECT_EQ(Access::directMode(*e), r.recordMode);
        EXPECT_FALSE(e->getby());
        EXPECT_TRUE(locksFree(*e));
        // Equal sharing keys form one group; unequal ones stay alone.
        int leaders = 0;
        for (int h = 0; h < 3; ++h) leaders += records[h].role == 0;
        if (!r.block) {
            EXPECT_EQ(leaders, 0);
        }
    }
}

TEST_F(CorePrcsConfigure, RefusedSettersChangeNothing) {
    auto e = loaded();
    ASSERT_TRUE(e->ldpdm(kThree, false));
    const int16_t fft = Access::fftMode(*e);
    EXPECT_FALSE(e->setof(3));  // a direct mode
    EXPECT_FALSE(e->setof(13)); // a GPU mode without the bridge
    EXPECT_EQ(Access::fftMode(*e), fft);
    const auto layout = Access::rings(*e);
    for (const auto& [h, which, us] : std::vector<std::tuple<int16_t, int16_t, double>>{
             {-1, 0, 1000.0}, {5, 0, 1000.0}, {0, 2, 1000.0}, {0, 1, std::nan("")}, {0, 1, 1e300}}) {
        e->setod(h, which, us);
        EXPECT_EQ(Access::rings(*e).readpos, layout.readpos);
        EXPECT_TRUE(locksFree(*e));
    }
}

TEST_F(CorePrcsConfigure, TimingPicksTheFastestModeAndKeepsTheLowerOnATie) {
    struct Row {
        std::vector<double> elapsed; // per timed mode in order
        int16_t failing;             // a mode whose plan fails; 0 none
        int16_t expected;
    };
    // Modes 1..5 all run here (SSE2 on every x86-64).
    const Row rows[] = {
        {{5, 4, 3, 2, 1}, 0, 5},
        {{2, 2, 3, 3, 3}, 0, 1},
        {{3, 1, 2, 2, 2}, 2, 3},
    };
    for (const Row& r : rows) {
        auto e = loaded("<LTIMED>10000</LTIMED>");
        size_t run = 0;
        double now = 0.0;
        bool started = false;
        e->setClockForTest([&] {
            if (!started) {
                started = true;
                return now;
            }
            started = false;
            now += r.elapsed[run++];
            return now;
        });
        e->setPlanFaultForTest([&](int16_t mode) { return mode == r.failing; });
        e->cnfop();
        EXPECT_EQ(Access::directMode(*e), r.expected);
        EXPECT_TRUE(locksFree(*e));
    }
    // Every plan refused: the direct mode stays; the test kernel of 10000 µs at 44100 Hz has 512 taps.
    auto e = make(settings("<OTIMED>4</OTIMED>"), 44100);
    Access::boot(*e);
    e->setPlanFaultForTest([](int16_t) { return true; });
    e->cnfop();
    EXPECT_EQ(Access::directMode(*e), 4);
    e->setPlanFaultForTest(nullptr);
    e->cnfop();
    EXPECT_EQ(Access::records(*e)[0].convolver->length(), 512);
    EXPECT_TRUE(locksFree(*e));
}

// The timing's work per mode (taps of the test kernel times the samples convolved with it) never
// exceeds what the default test kernel of 10 ms costs under the largest first-boot DSP buffer, however
// long LTIMED or DSPBUFFER are; settings within that keep their kernel and their 20 DSP buffers, and
// every row still ranks all five modes and keeps the one the clock makes fastest.
TEST_F(CorePrcsConfigure, TimingWorkStaysBoundedWhateverTheTestKernelAndBufferAsk) {
    constexpr int64_t bound = int64_t{20} * 8192 * 512;
    struct Row {
        const char* settings;
        int32_t taps;    // expected test kernel; 0: at most 4096
        int64_t samples; // expected per mode; 0: whatever keeps the work within the bound
        bool sanitized;  // also run in sanitizer builds, where a run at the bound takes a minute
    };
    const Row rows[] = {
        {"<DSPBUFFER>8192</DSPBUFFER>", 512, 20 * 8192, false}, // LTIMED 10000 at 48 kHz: 480 taps, as always
        {"<DSPBUFFER>512</DSPBUFFER><LTIMED>40000</LTIMED>", 2048, 20 * 512, true},
        {"<DSPBUFFER>8192</DSPBUFFER><LTIMED>40000</LTIMED>", 2048, 8192 * 5, false}, // a quarter of the input
        {"<DSPBUFFER>8192</DSPBUFFER><LTIMED>1000000</LTIMED>", 0, 0, true},
        {"<DSPBUFFER>65536</DSPBUFFER><LTIMED>1000000</LTIMED>", 0, 0, false},
        {"<DSPBUFFER>65536</DSPBUFFER>", 512, 20 * 8192, false},
        {"<DSPBUFFER>8192</DSPBUFFER><LTIMED>2000000000</LTIMED>", 0, 0, false},
    };
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr bool sanitizerBuild = true;
#else
    constexpr bool sanitizerBuild = false;
#endif
    for (const Row& r : rows) {
        if (sanitizerBuild && !r.sanitized) continue;
        SCOPED_TRACE(r.settings);
        auto e = loaded(r.settings);
        double now = 0.0, tick = 1.0;
        e->setClockForTest([&] { return now += (tick *= 0.5); }); // every later mode looks faster
        std::vector<int16_t> modes;
        e->setTimingProbeForTest([&](int16_t mode, int32_t taps, int64_t samples) {
            modes.push_back(mode);
            if (r.taps > 0) {
                EXPECT_EQ(taps, r.taps);
            }
            EXPECT_LE(taps, 4096);
            if (r.samples > 0) {
                EXPECT_EQ(samples, r.samples);
            }
            EXPECT_GT(samples, 0);
            EXPECT_LE(int64_t{taps} * samples, bound);
        });
        e->cnfop();
        EXPECT_EQ(modes, (std::vector<int16_t>{1, 2, 3, 4, 5}));
        EXPECT_EQ(Access::directMode(*e), 5);
        EXPECT_TRUE(locksFree(*e));
    }
}

} // namespace

namespace {

// An impulse through unit-impulse programs with known offsets leaves at the reported latency while the
// offset fits the room before the work block, and later by exactly the excess beyond it.
TEST_F(CorePrcsConfigure, AnImpulseLeavesAtTheReportedLatencyUpToTheOffsetClamp) {
    using namespace hostblocks;
    bool clamped = false;
    for (int16_t mode : {3, 11})
        for (int i = 0; i < 4; ++i) {
            auto e = loaded("<OTIMED>" + std::to_string(mode) + "</OTIMED>");
            ASSERT_TRUE(e->ldpdm(kOffsets + i, false));
            const int32_t offset = std::max(Access::program(*e).getof(), 0);
            const int32_t room = std::max(0, Access::rings(*e).dsp - Access::blockStep(*e));
            SCOPED_TRACE(::testing::Message() << "mode " << mode << " offset " << offset << " room " << room);
            clamped = clamped || offset > room;
            EXPECT_EQ(Access::offsetSlots(*e), std::min(offset, room));
            const size_t at = 8192;
            Stereo input(16384);
            input.left[at] = input.right[at] = 0.5;
            const Stereo out = run(*e, input, fixedBlocks(300));
            const auto peak = std::max_element(out.left.begin(), out.left.end(),
                                               [](double a, double b) { return std::fabs(a) < std::fabs(b); });
            EXPECT_NEAR(*peak, 0.5, 1e-9);
            EXPECT_EQ(static_cast<int32_t>(peak - out.left.begin() - at),
                      Access::reportedLatency(*e) + std::max(0, offset - room));
        }
    EXPECT_TRUE(clamped); // the largest offset exceeds the room
}

TEST_F(CorePrcsConfigure, TimingLogsEachModeBetweenItsBracketsAndFreesEverything) {
    auto e = loaded();
    e->cnfop(); // record 0 stays planned for the last mode tried
    const int64_t held = pool.getma();
    {
        LogCapture log(3);
        e->cnfop();
        const std::string text = log.text();
        const size_t starts = text.find("diagnostic starts"), ends = text.find("diagnostic ends");
        ASSERT_NE(starts, std::string::npos);
        ASSERT_NE(ends, std::string::npos);
        size_t at = starts;
        for (int m = 1; m <= 5; ++m) {
            at = text.find("testing optimization " + std::to_string(m), at);
            ASSERT_NE(at, std::string::npos) << m;
            at = text.find("result ", at);
            ASSERT_LT(at, ends) << m;
        }
    }
    EXPECT_EQ(pool.getma(), held);
    // A pool limit makes the first buffer fail: the timing is skipped with a line, the direct mode stays,
    // the buffers and locks are given back.
    const int16_t mode = Access::directMode(*e);
    pool.setal(pool.getma() + 16);
    {
        LogCapture log(3);
        EXPECT_NO_THROW(e->cnfop());
        const std::string text = log.text();
        EXPECT_NE(text.find("diagnostic starts"), std::string::npos);
        EXPECT_NE(text.find("optimization timing skipped"), std::string::npos);
        EXPECT_NE(text.find("diagnostic ends"), std::string::npos);
    }
    pool.setal(0);
    EXPECT_EQ(Access::directMode(*e), mode);
    EXPECT_EQ(pool.getma(), held);
    EXPECT_TRUE(locksFree(*e));
}

// Allocation failures from the n-th request of the run on: a timing buffer (n < 5) or every plan's rings
// (5: the left ring, 6: the right one). Nothing is timed, so the direct mode stays although the clock would
// make mode 5 the fastest; every block goes back to the pool.
TEST_F(CorePrcsConfigure, TimingKeepsTheDirectModeWhenItCannotAllocate) {
    for (int failFrom : {0, 3, 4, 5, 6}) {
        SCOPED_TRACE(failFrom);
        auto e = loaded("<OTIMED>2</OTIMED>");
        double now = 0.0, tick = 1.0;
        e->setClockForTest([&] { return now += (tick *= 0.5); }); // every later mode looks faster
        const int64_t held = pool.getma();
        int requests = 0;
        const auto allocate = pool.allocator;
        pool.pause = [](int) {};
        pool.allocator = [&](size_t bytes) { return requests++ >= failFrom ? nullptr : allocate(bytes); };
        {
            LogCapture log(3);
            EXPECT_NO_THROW(e->cnfop());
            EXPECT_NE(log.text().find("diagnostic ends"), std::string::npos);
        }
        pool.allocator = allocate;
        EXPECT_EQ(Access::directMode(*e), 2);
        EXPECT_EQ(pool.getma(), held);
        EXPECT_TRUE(locksFree(*e));
        // With memory back the timing runs and picks the mode the clock favours.
        e->cnfop();
        EXPECT_EQ(Access::directMode(*e), 5);
    }
}

} // namespace

namespace {

// Random settings, then a random run of loads, setop, setof, setod and host calls: after each the ring
// layout keeps the core's invariants, the offset is clamped so the host never reads output no block has
// written, and the dry and look-ahead delays stay within their bounds.
TEST_F(CorePrcsConfigure, RingLayoutHoldsAfterEveryReconfiguration) {
    using namespace hostblocks;
    RandomGenerator random(26);
    bool clampActed = false;
    const auto draw = [&](int64_t n) { return static_cast<int32_t>(random.next() % static_cast<uint64_t>(n)); };
    for (int trial = 0; trial < 24 && !HasFailure(); ++trial) {
        const int32_t dsp = 128 << draw(4); // 128 .. 1024
        const int32_t forceUs = draw(2) ? 1 + draw(30000) : 0;
        const int32_t aheadUs = draw(20000);
        const bool threads = draw(2) != 0;
        std::string text = settings("<HDIM>3</HDIM><FORCEOFFSET>" + std::to_string(forceUs) +
                                    "</FORCEOFFSET><AHEADLENGTH>" + std::to_string(aheadUs) + "</AHEADLENGTH>" +
                                    (threads ? "<THREADS>1</THREADS>" : ""));
        const std::string fixed = "<DSPBUFFER>512</DSPBUFFER>";
        text.replace(text.find(fixed), fixed.size(), "<DSPBUFFER>" + std::to_string(dsp) + "</DSPBUFFER>");
        if (!std::filesystem::exists(data() / "setups/fixture.xml")) writeFolder();
        auto e = make(text, kRate);
        ASSERT_FALSE(e->isfailed());
        e->getmm()->loads(CoreAnsx("fixture.xml"), 0, true);
        e->getmm()->clrpr(kEmpty);
        Access::boot(*e);
        const Access::Rings boot = Access::rings(*e);
        const int32_t length = boot.work;
        const int32_t forced = boot.reported - boot.latency - boot.room; // F in samples
        const auto distance = [length](int64_t from, int64_t to) { return ((to - from) % length + length) % length; };
        std::string history = "dsp " + std::to_string(dsp) + " force " + std::to_string(forceUs) + " ahead " +
                              std::to_string(aheadUs) + " threads " + std::to_string(threads);
        bool loadedOnce = false;
        for (int op = 0; op < 10 && !HasFailure(); ++op) {
            const int kind = loadedOnce ? draw(5) : 0;
            if (kind == 0) {
                const int32_t slots[] = {kInit, kThree, kPacked, kOffsets, kOffsets + 1, kOffsets + 2, kOffsets + 3};
                const int32_t slot = slots[draw(7)];
                history += " | ldpdm " + std::to_string(slot);
                ASSERT_TRUE(e->ldpdm(slot, false));
                loadedOnce = true;
            } else if (kind == 1) {
                const int16_t modes[] = {0, 1, 3, 5, 11};
                const int16_t mode = modes[draw(5)];
                history += " | setop " + std::to_string(mode);
                EXPECT_TRUE(e->setop(mode));
            } else if (kind == 2) {
                history += " | setof 11";
                EXPECT_TRUE(e->setof(11));
            } else if (kind == 3) {
                const auto h = static_cast<int16_t>(draw(3)), which = static_cast<int16_t>(draw(2));
                const double us = 1000.0 + draw(80000);
                history += " | setod " + std::to_string(h) + " " + std::to_string(which) + " " + std::to_string(us);
                e->setod(h, which, us);
            } else {
                const int32_t frames = 1 + draw(3000);
                history += " | host " + std::to_string(frames);
                run(*e, Stereo(frames), fixedBlocks(1 + draw(frames)));
            }
            SCOPED_TRACE(history);
            const Access::Rings r = Access::rings(*e);
            const int32_t step = Access::blockStep(*e), work = Access::workBlock(*e);
            ASSERT_GT(step, 0);
            for (int32_t index : {r.inpos, r.readpos, r.outpos, r.outread}) EXPECT_TRUE(index >= 0 && index < length);
            // Nothing moves what the host sees: sizes and the reported latency are those of the boot.
            EXPECT_EQ(std::make_tuple(r.dsp, r.work, r.latency, r.room, r.reported),
                      std::make_tuple(boot.dsp, boot.work, boot.latency, boot.room, boot.reported));
            EXPECT_EQ(distance(r.readpos + r.pending + r.room, r.inpos), 0);
            EXPECT_EQ(r.outpos, r.readpos);
            EXPECT_EQ(r.readpos % step, 0); // blocks start on the grid of the largest step
            // The offset C the rings hold, against the program's largest offset O.
            const int32_t offset = std::max(Access::program(*e).getof(), 0);
            const int32_t clamped = std::max(0, std::min(offset, forced + r.dsp - std::max(step, work - 1)));
            EXPECT_EQ(r.forced, clamped);
            clampActed = clampActed || clamped < offset;
            if (forced > 0) { // the reader caps offsets at F: the clamp never acts
                EXPECT_LE(offset, forced);
            }
            // The latency distance: the host reads output only once a whole work block has produced it.
            const int32_t latencyDistance = distance(r.outread, r.inpos) - r.room;
            EXPECT_EQ(latencyDistance, r.latency + forced - clamped);
            EXPECT_GE(latencyDistance, work);
            if (threads) {
                EXPECT_GE(latencyDistance, r.dsp);
            }
            EXPECT_EQ(r.drydelay, std::min(offset, r.work - r.room - 3 * r.dsp));
            EXPECT_GE(r.drydelay, 0);
            EXPECT_TRUE(Access::lookaheadOffset(*e) >= 0 && Access::lookaheadOffset(*e) <= r.room);
            EXPECT_TRUE(locksFree(*e));
        }
    }
    EXPECT_TRUE(clampActed);
}

} // namespace
