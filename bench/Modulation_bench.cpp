// One program's worth of modulators stepped per 64-frame block (followers fed per frame, then the
// program's update order), against a plain 512-tap direct FIR over one stereo block, the smallest
// direct convolution the engine runs per block. Both are timed alternately in the same loop.
// Heap allocations are counted by the replaced global operator new; the pool's totals are read too.
#include "base/CorePool.h"
#include "modulation/CoreDynm.h"
#include "modulation/CoreEnv_.h"
#include "modulation/CoreEnvf.h"
#include "modulation/CoreFun_.h"
#include "modulation/CoreLfo_.h"
#include "modulation/CoreRfun.h"
#include "modulation/DataGfun.h"
#include "modulation/DataRgfn.h"
#include "modulation/DataSrce.h"

#include "bench/DirectFir.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

namespace {
std::atomic<long> heapAllocations{0};
} // namespace

void* operator new(std::size_t size) {
    heapAllocations.fetch_add(1, std::memory_order_relaxed);
    if (void* p = std::malloc(size ? size : 1)) return p;
    throw std::bad_alloc();
}
// These pair with the operator new above, which takes its blocks from malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
#pragma GCC diagnostic pop

namespace {

constexpr int frames = 64;
constexpr double sampleRate = 48000.0;
constexpr double blockSeconds = frames / sampleRate;
constexpr double blockNanoseconds = 1e9 * blockSeconds; // 1 333 333 ns
constexpr double bpm = 120.0;

// The modulators of one program, all active, wired the way a busy program would wire them.
struct ModulationProgram {
    CorePool pool;
    DataSrce table;
    DataGfun functions;
    DataRgfn raws;
    std::vector<CoreLfo_*> lfos;
    std::vector<CoreFun_*> modulators;
    std::vector<CoreEnvf*> followers;
    std::vector<CoreDynm*> dynamics;
    std::vector<CoreEnv_*> envelopes;
    std::vector<CoreRfun*> rawFunctions;
    std::vector<double> rawTables[2];
    double time = 0.0;

    ModulationProgram() {
        table.getis(DataSrce::iCrowoff)->setvl(-1.0);
        table.getis(DataSrce::iCrowon)->setvl(1.0);
        const char* shapes[] = {"Sine", "Triang", "3 Rand", "Square"};
        const char* rates[] = {"LFO2", "LFO3", "FUN1", "LFO1"};
        const double quantise[] = {0.0, 1.0, 0.5, 0.0}; // beats per cycle; 0 is free running
        for (int i = 0; i < 4; ++i) {
            CoreAnsx key = CoreAnsx("LFO") + CoreAnsx(i + 1);
            auto* lfo = new CoreLfo_(key, &functions, &table, table.getis(DataSrce::iCrowlfo1 + i),
                                     table.getis(DataSrce::iCrowratelfo1 + i));
            lfo->setvl(0.3 + 0.2 * i, 3.0 + i, quantise[i], rates[i], shapes[i], 30.0 * i, "");
            lfos.push_back(lfo);
        }
        const char* operations[] = {"a+b",      "a*b",        "Db(a)-Db(b)", "ScaleDb a to b",
                                    "gainpad+", "exp(a,1/b)", "sin(a+b)",    "StoreBipolarDb"};
        const char* inputsA[] = {"LFO1", "LFO2", "EVF1", "EVF3", "LFO4", "FUN2", "LFO3", "DNM1"};
        const char* inputsB[] = {"LFO2", "LFO3", "EVF2", "LFO1", "FUN1", "LFO1", "ENV1", "LFO2"};
        for (int i = 0; i < 8; ++i) {
            auto* modulator = new CoreFun_(CoreAnsx("FUN") + CoreAnsx(i + 1), &functions, &table,
                                           table.getis(DataSrce::iCrowfun1 + i));
            modulator->setvl(inputsA[i], inputsB[i], operations[i]);
            modulators.push_back(modulator);
        }
        const int16_t modes[] = {0, 1, 2, 8, 5};
        for (int i = 0; i < 5; ++i) {
            const bool fifth = i == 4;
            auto* follower = new CoreEnvf(&pool, CoreAnsx("EVF") + CoreAnsx(i + 1), true, &table,
                                          table.getis(fifth ? DataSrce::iCrowevf5 : DataSrce::iCrowevf1 + i),
                                          fifth ? nullptr : table.getis(DataSrce::iCroweat1 + i),
                                          fifth ? nullptr : table.getis(DataSrce::iCrowert1 + i));
            // Attack and Release follow LFOs, so both coefficients are recomputed every block.
            follower->setvl(48, 4800, "LFO1", 480, 48000, "LFO2", 0.5, modes[i], false, "0", false, "OFF",
                            "OFF", !fifth, sampleRate, false, "0", "0", true, 2000.0, 8, "LFO3");
            followers.push_back(follower);
        }
        auto* compressor = new CoreDynm("DNM1", &table, table.getis(DataSrce::iCrowdnm1));
        compressor->setvl("EVF2", "EVF1", true, "LFO3", true, 3, 24.0, 3.0);
        auto* expander = new CoreDynm("DNM2", &table, table.getis(DataSrce::iCrowdnm1 + 1));
        expander->setvl("EVF4", "EVF3", false, "FUN1", false, 0, 12.0, 0.0);
        dynamics = {compressor, expander};
        const double levels[] = {0.0, 1.0, 0.6, 0.4};
        const int32_t times[] = {2400, 2400, 4800, 9600};
        const int16_t curves[] = {2, 0, 3, 2};
        for (int i = 0; i < 2; ++i) {
            auto* envelope =
                new CoreEnv_(CoreAnsx("ENV") + CoreAnsx(i + 1), &table, table.getis(DataSrce::iCrowenv1 + i));
            envelope->setvl("LFO4", i == 0 ? "LFO1" : "LFO2", levels, times, curves, 1.0, "ON", 1.0, "ON");
            envelopes.push_back(envelope);
        }
        for (auto& values : rawTables) {
            values.resize(1000);
            for (int k = 0; k < 1000; ++k) values[k] = 0.5 + 0.5 * std::sin(0.01 * k + values.size());
        }
        const char* rows[] = {"RMULTI", "RSINGLE", "RMULTI", "RSINGLE"};
        for (int i = 0; i < 4; ++i) {
            auto* raw = new CoreRfun(CoreAnsx("RAWFUN") + CoreAnsx(i + 1), &raws, &table,
                                     table.getis(DataSrce::iCrowrawfun1 + i));
            raw->setvl("LFO1", "ENV1", "R1", "R2", rows[i], static_cast<int>(sampleRate), 0.0);
            raw->setvl(0, rawTables[0].data(), 1000);
            raw->setvl(1, rawTables[1].data(), 1000);
            raw->chckv();
            rawFunctions.push_back(raw);
        }
    }
    ~ModulationProgram() {
        for (auto* p : lfos) delete p;
        for (auto* p : modulators) delete p;
        for (auto* p : followers) delete p;
        for (auto* p : dynamics) delete p;
        for (auto* p : envelopes) delete p;
        for (auto* p : rawFunctions) delete p;
    }

    void block(const double* inLeft, const double* inRight, const double* outLeft, const double* outRight) {
        for (int n = 0; n < frames; ++n) {
            for (int i = 0; i < 4; ++i) followers[i]->setei(inLeft[n], inRight[n], outLeft[n], outRight[n]);
            followers[4]->setei(inLeft[n], inRight[n], 0.0, 0.0);
        }
        for (auto* f : followers) f->updte();
        for (auto* l : lfos) l->updte(blockSeconds, bpm);
        for (auto* m : modulators) m->updte();
        for (auto* d : dynamics) d->updte();
        for (auto* e : envelopes) e->updte(frames);
        time += blockSeconds;
        for (auto* r : rawFunctions) r->updte(time);
    }
};

void BM_ModulationBlock(benchmark::State& state) {
    ModulationProgram program;
    DirectFir fir;
    constexpr int signalBlocks = 256;
    std::vector<double> signal[4];
    for (int c = 0; c < 4; ++c) {
        signal[c].resize(signalBlocks * frames);
        for (size_t n = 0; n < signal[c].size(); ++n)
            signal[c][n] = (0.5 + 0.4 * std::sin(0.0003 * n)) * std::sin(0.02 * n * (c + 1) + c);
    }
    using clock = std::chrono::steady_clock;
    double modulationSeconds = 0.0;
    double baselineSeconds = 0.0;
    long iterations = 0;
    const long allocationsBefore = heapAllocations.load();
    const int64_t poolHeldBefore = program.pool.getma();
    const int64_t poolPeakBefore = program.pool.getxa();
    for (auto _ : state) {
        const size_t offset = static_cast<size_t>(iterations % signalBlocks) * frames;
        const double* in[4] = {&signal[0][offset], &signal[1][offset], &signal[2][offset],
                               &signal[3][offset]};
        const auto start = clock::now();
        program.block(in[0], in[1], in[2], in[3]);
        const auto middle = clock::now();
        fir.block(in[0], in[1]);
        const auto end = clock::now();
        benchmark::DoNotOptimize(program.table.getis(DataSrce::iCrowrawfun1 + 3)->getvl());
        benchmark::DoNotOptimize(fir.output[1][frames - 1]);
        modulationSeconds += std::chrono::duration<double>(middle - start).count();
        baselineSeconds += std::chrono::duration<double>(end - middle).count();
        ++iterations;
    }
    const long allocations = heapAllocations.load() - allocationsBefore;
    const double modulationNs = 1e9 * modulationSeconds / iterations;
    const double baselineNs = 1e9 * baselineSeconds / iterations;
    state.counters["modulationNs"] = modulationNs;
    state.counters["baselineNs"] = baselineNs;
    state.counters["ratio"] = modulationSeconds / baselineSeconds;
    state.counters["blockFraction"] = modulationNs / blockNanoseconds;
    state.counters["allocationsPerBlock"] = static_cast<double>(allocations) / iterations;
    state.counters["poolBytesChange"] = static_cast<double>(program.pool.getma() - poolHeldBefore) +
                                        static_cast<double>(program.pool.getxa() - poolPeakBefore);
}
BENCHMARK(BM_ModulationBlock)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
