// Speed of the bean interface on a booted engine with a three-harmonic program, no audio running.
// Each benchmark times its candidate and its baseline alternately inside one loop and reports both
// and their ratio:
// - BM_BeanFrame: every numeric getter case without side effects once over every valid index of its
//   family, through the public bean functions (rules, bean lock, switch), against the same cases'
//   switches called directly (the owners' accessors, no rules and no lock); ns per bean;
// - BM_MidiEvent: bean 186 against CoreMidi::mdctr of the same unpacked event, with the heap
//   allocations the bean made.
#define CORE_PRCS_ACCESS_ONLY
#include "tests/common/CountingAllocator.h"
#include "tests/processor/AudioRoadScaffold.h"

#include "base/CorePool.h"
#include "modulation/CoreMidi.h"
#include "processor/CorePrcs.h"
#include "processor/DataBean.h"
#include "program/CoreProg.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Access = CorePrcsTestAccess;
using Road = CorePrcsTestAccess::AudioRoad;
using BEAN = CorePrcs::BEANSTRUCT;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

struct Rig {
    CorePool pool;
    bench::TempFolder folder{"beans_bench"};
    std::unique_ptr<CorePrcs> engine;

    Rig() {
        const std::filesystem::path data = folder.root / "data";
        std::string body = Road::tag("HDIM", "3");
        for (int h = 0; h < 3; ++h) {
            const std::string file = "K" + std::to_string(h + 1) + ".WAV";
            Road::writeKernel(pool, data / file, Road::decayingNoise(2000, 10 + h), Road::decayingNoise(2000, 20 + h),
                              48000);
            body += Road::tag("H" + std::to_string(h + 1),
                              Road::tag("ELEMENT", Road::tag("VECTOR", Road::tag("COMMON", Road::tag("MINVALUE", " 0 ") +
                                                                                                 Road::tag("MAXVALUE", "1")) +
                                                                          Road::tag("ELEMENT", Road::tag("FILENAME", file) +
                                                                                                   Road::tag("WEIGHT", " 0 ")))));
        }
        body += Road::tag("LFO1", Road::tag("MINRATE", "0.5") + Road::tag("MAXRATE", "2") + Road::tag("SHAPE", "Sine"));
        const std::string program = Road::tag("PROGRAM", Road::tag("NAME", "Beans") + Road::tag("GAININ", " 0 ") +
                                                             Road::tag("GAINOUT", " 0 ") + body);
        const std::string settings = "<MASTER><DATAPATH>" + data.string() + "/</DATAPATH><DSPBUFFER>512</DSPBUFFER>"
                                     "<HDIM>3</HDIM></MASTER>";
        engine = std::make_unique<CorePrcs>(&pool, CoreAnsx((folder.root.string() + "/").c_str()), 48000, nullptr,
                                            CoreAnsx("0"), false, false, nullptr, CoreAnsx(settings.c_str()), false,
                                            nullptr);
        if (engine->isfailed()) throw std::runtime_error("engine failed");
        Access::boot(*engine);
        if (!Road::install(*engine, program, 11)) throw std::runtime_error("program install failed");
    }
};

struct Call {
    char type;
    int32_t id;
    BEAN index;
    bool record;
};

bool sideEffects(DataBean::TYPE type, int32_t id) {
    switch (type) {
    case DataBean::tBool: return id == 14 || id == 59 || id == 60 || id == 63 || id == 81 || id == 226;
    case DataBean::tInt: return id == 166 || id == 174;
    case DataBean::tLong: return id == 61 || id == 149;
    default: return false;
    }
}

// The highest index and subindex of a family; -1: no record.
std::pair<int32_t, int32_t> family(DataBean::DOMAIN domain, int32_t hdimmax) {
    switch (domain) {
    case DataBean::dNone: return {-1, 0};
    case DataBean::dAny: return {0, 0};
    case DataBean::dControl: return {9, 0};
    case DataBean::dMix: return {7, 0};
    case DataBean::dLfo: return {3, 0};
    case DataBean::dFun: return {7, 0};
    case DataBean::dEvf: return {4, 0};
    case DataBean::dDyn:
    case DataBean::dEnv:
    case DataBean::dTiming:
    case DataBean::dSelector: return {1, 0};
    case DataBean::dEnvStage: return {1, 3};
    case DataBean::dPrm: return {15, 0};
    case DataBean::dPrmPair: return {15, 15};
    case DataBean::dHarmonic: return {hdimmax, 0};
    case DataBean::dStage: return {hdimmax, 1};
    case DataBean::dMeter: return {3, 0};
    case DataBean::dLevel: return {2, 0};
    case DataBean::dSlot: return {9999, 0};
    case DataBean::dSlotLevel: return {9999, 2};
    }
    return {-1, 0};
}

std::vector<Call> frame(CorePrcs& e) {
    const char letters[] = {'b', 'h', 'i', 'l', 'd'};
    std::vector<Call> calls;
    int32_t count = 0;
    const DataBean::ROW* rows = DataBean::rows(count);
    const int32_t hdimmax = e.getbh(43, nullptr);
    for (int32_t r = 0; r < count; ++r) {
        const DataBean::ROW& row = rows[r];
        if (row.kind != DataBean::kGet || row.type > DataBean::tDouble || sideEffects(row.type, row.id)) continue;
        const auto [top, subTop] = family(row.domain, hdimmax);
        if (top < 0) {
            calls.push_back({letters[row.type], row.id, {0, 0}, false});
            continue;
        }
        for (int32_t i = 0; i <= top; ++i)
            for (int32_t s = 0; s <= subTop; ++s) calls.push_back({letters[row.type], row.id, {i, s}, true});
    }
    return calls;
}

double viaBeans(CorePrcs& e, std::vector<Call>& calls) {
    double sum = 0.0;
    for (Call& c : calls) {
        BEAN* b = c.record ? &c.index : nullptr;
        switch (c.type) {
        case 'b': sum += e.getbb(c.id, b); break;
        case 'h': sum += e.getbh(c.id, b); break;
        case 'i': sum += e.getbi(c.id, b); break;
        case 'l': sum += e.getbl(c.id, b); break;
        default: sum += e.getbd(c.id, b); break;
        }
    }
    return sum;
}

double direct(CorePrcs& e, const std::vector<Call>& calls) {
    double sum = 0.0;
    for (const Call& c : calls) sum += Access::getterSwitch(e, c.type, c.id, c.index.index, c.index.subindex);
    return sum;
}

void BM_BeanFrame(benchmark::State& state) {
    Rig rig;
    std::vector<Call> calls = frame(*rig.engine);
    double bean = 0.0, baseline = 0.0;
    for (auto _ : state) {
        auto start = Clock::now();
        benchmark::DoNotOptimize(viaBeans(*rig.engine, calls));
        bean += secondsSince(start);
        start = Clock::now();
        benchmark::DoNotOptimize(direct(*rig.engine, calls));
        baseline += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations()) * static_cast<double>(calls.size());
    state.counters["beans"] = static_cast<double>(calls.size());
    state.counters["bean_ns"] = 1e9 * bean / n;
    state.counters["direct_ns"] = 1e9 * baseline / n;
    state.counters["ratio"] = bean / baseline;
}
BENCHMARK(BM_BeanFrame)->Unit(benchmark::kMicrosecond);

void BM_MidiEvent(benchmark::State& state) {
    Rig rig;
    CorePrcs& e = *rig.engine;
    e.setms(0, 176, 7);
    CoreMidi& midi = Access::midi(e);
    double bean = 0.0, baseline = 0.0;
    long allocations = 0;
    int32_t value = 0;
    for (auto _ : state) {
        value = (value + 1) & 127;
        BEAN offset{0, 0};
        const long before = heapAllocations.load();
        auto start = Clock::now();
        e.setbi(186, static_cast<int32_t>(0u | 176u << 8 | 7u << 16 | static_cast<uint32_t>(value) << 24), &offset);
        bean += secondsSince(start);
        allocations += heapAllocations.load() - before;
        start = Clock::now();
        benchmark::DoNotOptimize(midi.mdctr(0, 0, 176, 7, value));
        baseline += secondsSince(start);
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["bean_ns"] = 1e9 * bean / n;
    state.counters["mdctr_ns"] = 1e9 * baseline / n;
    state.counters["ratio"] = bean / baseline;
    state.counters["allocations"] = static_cast<double>(allocations);
}
BENCHMARK(BM_MidiEvent);

} // namespace

BENCHMARK_MAIN();
