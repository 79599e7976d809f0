// Cost of loading a program into the engine (files, program reader, engine stage, plans) up to the
// first sound, against reading the same WAV files whole and planning bare mode-11 convolvers of the
// program's sizes; and the cost of re-applying the direct mode (setop) against the bare plan loop over
// the same records. Candidate and baseline are timed alternately in one loop (thread CPU time); both
// times and their ratio are counters. 48 kHz, DSPBUFFER 2048, every path in FFT mode 11; each harmonic
// one leaf vector of one 2-second stereo 24-bit WAV of decaying noise. Where CMake found
// zita-convolver, the load is also reported against its configure + impdata_create (no target).
#define CORE_PRCS_ACCESS_ONLY
#include "tests/processor/CorePrcsTestAccess.h"

#include "base/CorePool.h"
#include "convolution/CoreCnvl.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreWvfr.h"
#include "processor/CoreMmry.h"
#include "program/CoreProg.h"
#include "ProgramBenchFolder.h"

#include <benchmark/benchmark.h>


#include <algorithm>
#include <cmath>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#ifdef VORLAN_HAVE_ZITA
#include <zita-convolver.h>
#endif

namespace {

using Access = CorePrcsTestAccess;

constexpr int32_t rate = 48000;
constexpr int32_t dsp = 2048;
constexpr int16_t fftMode = 11;

double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

const auto tag = &ProgramBenchFolder::tag;

using Folder = ProgramBenchFolder;

// A booted engine over the folder with the setup in bank 0.
struct Rig {
    CorePool pool;
    Folder folder;
    std::unique_ptr<CorePrcs> engine;
    CoreFsys store;
    std::vector<float> in[2], out[2];

    Rig() : store(&pool, CoreAnsx(folder.path("data/vectors").c_str()), false) {
        const std::string settings =
            "<MASTER>" + tag("DATAPATH", folder.path("data")) + tag("PROGRAMSUBPATH", "progs/") +
            tag("VECTORSUBPATH", "vectors/") + tag("SETUPSUBPATH", "setups/") + tag("DSPBUFFER", std::to_string(dsp)) +
            tag("OTIMED", std::to_string(fftMode)) + tag("OFREQD", std::to_string(fftMode)) + tag("DL", " 0 ") +
            tag("HDIM", "3") + tag("LFREQD", "3000000") + "</MASTER>";
        engine = std::make_unique<CorePrcs>(&pool, CoreAnsx(folder.path("").c_str()), rate, nullptr, CoreAnsx("0"),
                                            false, false, nullptr, CoreAnsx(settings.c_str()), false, nullptr);
        if (engine->isfailed()) throw std::runtime_error("engine construction failed");
        engine->getmm()->loads(CoreAnsx("bench.xml"), 0, true);
        Access::boot(*engine);
        for (int c = 0; c < 2; ++c) {
            in[c].assign(dsp, 0.25f);
            out[c].assign(dsp, 0.0f);
        }
    }
    void load(int32_t slot) {
        if (!engine->ldpdm(slot, false)) throw std::runtime_error("program load failed");
    }
    void hostCall() {
        void* inputs[2] = {in[0].data(), in[1].data()};
        void* outputs[2] = {out[0].data(), out[1].data()};
        engine->prcss(inputs, outputs, dsp, true, 2, 120.0, false, 2);
        benchmark::DoNotOptimize(out[0].data());
    }
};

// The sizes set__ takes for path h, in its order, as the engine configures the path.
struct Sizes {
    int32_t block, second, padded, third;
};
Sizes sizesOf(const CoreProg& p, int16_t h) {
    return {p.getbr(h), p.getid(h), p.getep(h), p.getex(h)};
}

// The baseline of a load: every WAV read whole into zeroed pool blocks (long enough for the kernel the
// convolver reads), then per path a bare mode-11 convolver planned and run once with its kernel-changed
// flag raised, so that it transforms its partitions, and its plan deleted.
void readAndPlan(Rig& rig, const std::vector<Sizes>& sizes) {
    CorePool& pool = rig.pool;
    CoreWvfr reader(&pool, &rig.store, true);
    std::vector<double*> blocks;
    for (size_t h = 0; h < sizes.size(); ++h) {
        reader.open_(CoreAnsx(Folder::wav(static_cast<int>(h)).c_str()));
        const int32_t count = reader.getdw();
        const int32_t length = std::max({count, sizes[h].padded, sizes[h].third});
        for (int channel = 0; channel < 2; ++channel) {
            blocks.push_back(static_cast<double*>(pool.mallc(0, length, "BNCH")));
            std::fill(blocks.back(), blocks.back() + length, 0.0);
        }
        benchmark::DoNotOptimize(reader.getdt(count, blocks[blocks.size() - 2], blocks.back()));
        reader.close();
    }
    std::vector<double> input[2] = {std::vector<double>(dsp, 0.25), std::vector<double>(dsp, 0.25)};
    std::vector<double> output[2] = {std::vector<double>(dsp), std::vector<double>(dsp)};
    for (size_t h = 0; h < sizes.size(); ++h) {
        const Sizes& s = sizes[h];
        CoreCnvl c(&pool, CoreAnsx("bench"), 0, nullptr);
        bool changed = true;
        c.set__(fftMode, s.block, s.second, s.padded, s.block, s.third);
        c.setup(&changed);
        c.setms(false);
        if (!c.plan_()) throw std::runtime_error("bare plan failed");
        c.cnvlc(input[0].data(), input[1].data(), output[0].data(), output[1].data(), blocks[2 * h],
                blocks[2 * h + 1], nullptr, nullptr);
        benchmark::DoNotOptimize(output[0].data());
        c.delpl();
    }
    for (double* block : blocks) pool.free_(block);
}

#ifdef VORLAN_HAVE_ZITA
// zita-convolver's set-up of the same responses (float, L to L and R to R per harmonic path):
// configure with the engine's block as quantum and minimum partition, then impdata_create.
struct ZitaResponses {
    std::vector<float> kernel[3][2];
    int32_t taps = 0;
    ZitaResponses(CorePrcs& engine, int harmonics) {
        CoreProg& p = Access::program(engine);
        for (int h = 0; h < harmonics; ++h) {
            const auto path = static_cast<int16_t>(h);
            taps = std::max(taps, p.getep(path));
            for (int c = 0; c < 2; ++c) {
                const double* k = c == 0 ? p.getli(path) : p.getri(path);
                kernel[h][c].assign(k, k + p.getep(path));
            }
        }
    }
    double configure(int harmonics) {
        Convproc proc;
        const double start = cpuSeconds();
        if (proc.configure(2, 2 * harmonics, static_cast<uint32_t>(taps), dsp, dsp, Convproc::MAXPART, 0.0f) != 0)
            throw std::runtime_error("Convproc configure failed");
        for (int h = 0; h < harmonics; ++h)
            for (uint32_t c = 0; c < 2; ++c)
                proc.impdata_create(c, static_cast<uint32_t>(2 * h) + c, 1, kernel[h][c].data(), 0,
                                    static_cast<int32_t>(kernel[h][c].size()));
        const double elapsed = cpuSeconds() - start;
        proc.cleanup();
        return elapsed;
    }
};
#endif

// Arg: harmonics (1 or 3).
void BM_ProgramLoad(benchmark::State& state) {
    const int harmonics = static_cast<int>(state.range(0));
    const int32_t slot = harmonics == 1 ? 1 : 2;
    Rig rig;
    rig.load(slot);
    rig.hostCall();
    std::vector<Sizes> sizes;
    for (int16_t h = 0; h < harmonics; ++h) sizes.push_back(sizesOf(Access::program(*rig.engine), h));
#ifdef VORLAN_HAVE_ZITA
    ZitaResponses zita(*rig.engine, harmonics);
    double zitaSeconds = 0.0;
#endif
    double candidate = 0.0, baseline = 0.0;
    for (auto _ : state) {
        rig.load(0); // untimed: the next load starts from another program, as a program change does
        double start = cpuSeconds();
        rig.load(slot);
        rig.hostCall();
        const double once = cpuSeconds() - start;
        candidate += once;
        start = cpuSeconds();
        readAndPlan(rig, sizes);
        baseline += cpuSeconds() - start;
#ifdef VORLAN_HAVE_ZITA
        zitaSeconds += zita.configure(harmonics);
#endif
        state.SetIterationTime(once);
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["candidate_s"] = candidate / runs;
    state.counters["baseline_s"] = baseline / runs;
    state.counters["ratio"] = candidate / baseline;
    state.counters["kernelLength"] = sizes[0].third;
    state.counters["blockStep"] = Access::blockStep(*rig.engine);
#ifdef VORLAN_HAVE_ZITA
    state.counters["zita_s"] = zitaSeconds / runs;
    state.counters["zitaRatio"] = candidate / zitaSeconds;
#endif
}

// setop(current direct mode) on the loaded N = 3 program against the bare set__ / plan_ / set_c /
// planc loop over convolvers of the same records, sizes, roles and common-plan lengths.
void BM_Configure(benchmark::State& state) {
    const int harmonics = static_cast<int>(state.range(0));
    Rig rig;
    rig.load(2);
    const int16_t mode = Access::directMode(*rig.engine);
    if (!rig.engine->setop(mode)) throw std::runtime_error("setop failed");
    const auto* records = Access::records(*rig.engine);
    std::vector<Sizes> sizes;
    std::vector<std::unique_ptr<CoreCnvl>> bare;
    for (int16_t h = 0; h < harmonics; ++h) {
        sizes.push_back(sizesOf(Access::program(*rig.engine), h));
        bare.push_back(std::make_unique<CoreCnvl>(&rig.pool, CoreAnsx("bench"), 0, nullptr));
    }
    struct Share {
        int16_t role;
        int32_t length;
    };
    std::vector<Share> shares;
    for (int16_t h = 0; h < harmonics; ++h) {
        const auto& r = records[h];
        shares.push_back({r.role, r.role == 3 ? 0 : Access::planSlots(*rig.engine)[r.group].ratio});
    }
    double candidate = 0.0, baseline = 0.0;
    for (auto _ : state) {
        double start = cpuSeconds();
        if (!rig.engine->setop(mode)) throw std::runtime_error("setop failed");
        const double once = cpuSeconds() - start;
        candidate += once;
        start = cpuSeconds();
        for (int h = 0; h < harmonics; ++h) {
            CoreCnvl& c = *bare[h];
            c.delpc();
            c.delpl();
            c.set__(records[h].mode, sizes[h].block, sizes[h].second, sizes[h].padded, sizes[h].block,
                    sizes[h].third);
            if (!c.plan_()) throw std::runtime_error("bare plan failed");
        }
        void* common = nullptr;
        for (int h = 0; h < harmonics; ++h) {
            CoreCnvl& c = *bare[h];
            c.set_c(shares[h].role == 3 ? nullptr : common, shares[h].role, shares[h].length);
            if (!c.planc()) throw std::runtime_error("bare common plan failed");
            if (shares[h].role != 3) common = c.grplc();
        }
        baseline += cpuSeconds() - start;
        state.SetIterationTime(once);
    }
    for (auto& c : bare) {
        c->delpc();
        c->delpl();
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["candidate_s"] = candidate / runs;
    state.counters["baseline_s"] = baseline / runs;
    state.counters["ratio"] = candidate / baseline;
    state.counters["grouped"] = records[0].role == 0;
}

BENCHMARK(BM_ProgramLoad)->Arg(1)->Arg(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Configure)->Arg(3)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return bench::runKeepingLargeBlocks(argc, argv);
}
