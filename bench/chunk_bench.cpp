// Speed of the host chunk save on a booted engine whose program document holds every section of a
// program, padded with ELEMENT entries to about 100 KB or 1 MB (or not at all): getck against one
// compact serialisation of the same document (settc(false, false)), timed alternately in one loop.
// "locked" times getdt, the commit and serialisation made under the engine locks, against the same
// baseline.
#define CORE_PRCS_ACCESS_ONLY
#include "base/CorePool.h"
#include "base/CoreXml_.h"
#include "filestore/CoreWavs.h"
#include "processor/CorePrcs.h"
#include "tests/processor/CorePrcsTestAccess.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <cstdio>
#include <random>

namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string tag(const std::string& name, const std::string& content) {
    return "<" + name + ">" + content + "</" + name + ">";
}

// A program with every section the writers know, then `padding` bytes of ELEMENT entries in H2.
std::string document(size_t padding) {
    std::string pad;
    for (int i = 0; pad.size() < padding; ++i)
        pad += tag("ELEMENT", tag("FILENAME", "PAD" + std::to_string(i) + ".WAV") + tag("WEIGHT", "0.5"));
    return tag("PROGRAM",
               tag("NAME", "Bench") + tag("CATEGORY", "Reverb") + tag("MIX1", "0.5") + tag("GAINOUT", "-6") +
                   tag("PROGRAMRATE", "5000") +
                   tag("LFO1", tag("MINRATE", "0.5") + tag("MAXRATE", "2") + tag("SHAPE", "Sine")) +
                   tag("FUN1", tag("A", "LFO1") + tag("B", "0.5") + tag("FUN", "a*b")) +
                   tag("EVF1", tag("MINATTACK", "1000") + tag("MAXATTACK", "20000")) +
                   tag("ENV1", tag("LEVEL", tag("START", "0") + tag("ATTACK", "1"))) +
                   tag("DNM1", tag("RANGELIMIT", "24")) +
                   tag("DISPLAY", tag("PRM1", tag("LABEL", "Size") + tag("A", "MIX1"))) +
                   tag("H1", tag("ELEMENT", tag("FILENAME", "IMP.WAV"))) +
                   tag("H2", tag("ELEMENT", tag("VECTOR", pad))));
}

struct Engine {
    CorePool pool;
    std::filesystem::path folder;
    std::unique_ptr<CorePrcs> engine;

    Engine() {
        folder = std::filesystem::temp_directory_path() / ("chunk-bench-" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(folder / "data/vectors");
        std::filesystem::create_directories(folder / "data/progs");
        std::filesystem::create_directories(folder / "data/setups");
        std::vector<double> impulse(256, 0.0);
        impulse[0] = 1.0;
        CoreWavs image(&pool, 2, 48000, 256, true);
        image.setdt(256, impulse.data(), impulse.data());
        image.write(CoreAnsx((folder / "data/vectors/IMP.WAV").string().c_str()));
        std::ofstream(folder / "data/progs/INIT.XML")
            << tag("PROGRAM", tag("NAME", "Init") + tag("GAININ", " 0 ") + tag("GAINOUT", " 0 ") +
                                  tag("H1", tag("ELEMENT", tag("VECTOR", tag("COMMON", tag("MINVALUE", " 0 ") +
                                                                                           tag("MAXVALUE", "1")) +
                                                                             tag("ELEMENT", tag("FILENAME", "IMP.WAV") +
                                                                                                tag("WEIGHT", " 0 "))))));
        std::ofstream(folder / "data/setups/boot.xml")
            << tag("SETUP", tag("PROGRAM", tag("SEQUENCE", " 0 ") + tag("FILENAME", "INIT.XML") + tag("LOAD", "1")));
        const std::string settings =
            tag("MASTER", tag("DATAPATH", (folder / "data").string() + "/") + tag("PROGRAMSUBPATH", "progs/") +
                              tag("VECTORSUBPATH", "vectors/") + tag("SETUPSUBPATH", "setups/") +
                              tag("SETUPROMNAME", "boot.xml") + tag("OTIMED", "3") + tag("DSPBUFFER", "512") +
                              tag("SCANBOOT", "0.0") + tag("FASTBOOT", "1"));
        engine = std::make_unique<CorePrcs>(&pool, CoreAnsx((folder.string() + "/").c_str()), 48000, nullptr,
                                            CoreAnsx("0"), true, false, nullptr, CoreAnsx(settings.c_str()), false,
                                            nullptr);
        if (engine->fboot()) std::fprintf(stderr, "chunk_bench: the engine did not boot\n");
    }
    ~Engine() {
        engine.reset();
        std::filesystem::remove_all(folder);
    }
};

void run(benchmark::State& state, bool locked) {
    static Engine bench;
    CorePrcs& e = *bench.engine;
    CoreXml_* doc = CorePrcsTestAccess::programDocument(e);
    doc->getfc(CoreAnsx(document(static_cast<size_t>(state.range(0))).c_str()));
    double candidate = 0.0, baseline = 0.0;
    size_t bytes = 0;
    for (auto _ : state) {
        auto start = Clock::now();
        if (locked) {
            benchmark::DoNotOptimize(e.getdt());
        } else {
            void* data = nullptr;
            bytes = static_cast<size_t>(e.getck(&data));
            benchmark::DoNotOptimize(data);
        }
        candidate += secondsSince(start);
        start = Clock::now();
        benchmark::DoNotOptimize(doc->settc(false, false));
        baseline += secondsSince(start);
    }
    state.counters["candidate_s"] = candidate / static_cast<double>(state.iterations());
    state.counters["baseline_s"] = baseline / static_cast<double>(state.iterations());
    state.counters["ratio"] = candidate / baseline;
    state.counters["bytes"] = static_cast<double>(bytes);
}

void BM_ChunkSave(benchmark::State& state) { run(state, false); }
void BM_ChunkCommitLocked(benchmark::State& state) { run(state, true); }

} // namespace

BENCHMARK(BM_ChunkSave)->Arg(0)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ChunkCommitLocked)->Arg(0)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
