// Cost of the worker thread. BM_WorkerHandoff: the N = 3 program of 2-second responses (FFT mode 11)
// played in host blocks of a quarter DSP buffer (reported with blksz, so blocks go to the worker),
// 8 DSP buffers per iteration rendered back to back, on a THREADS 1 engine against a THREADS 0 engine
// with the same input; BM_LoadThroughWorker: loading that program on the two engines. Candidate and
// baseline alternate in one loop on a steady clock; both times and their ratio are counters, and the
// hand-off's share of the host thread's CPU time is reported. Where CMake found zita-convolver, the
// same audio also goes through its Convproc with its own threads (report only).
#define CORE_PRCS_ACCESS_ONLY
#include "tests/processor/CorePrcsTestAccess.h"

#include "ProgramBenchFolder.h"
#include "base/CorePool.h"
#include "processor/CoreMmry.h"
#include "program/CoreProg.h"

#include <benchmark/benchmark.h>


#include <chrono>
#include <cmath>
#include <ctime>
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
using Folder = ProgramBenchFolder;

constexpr int16_t fftMode = 11;
constexpr int32_t programSlot = 2; // N = 3

double steadySeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double threadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

// A booted engine over the folder with the program loaded and the host block reported.
std::unique_ptr<CorePrcs> makeEngine(CorePool& pool, const Folder& folder, int32_t dsp, int threads) {
    const auto tag = &Folder::tag;
    const std::string settings =
        "<MASTER>" + tag("DATAPATH", folder.path("data")) + tag("PROGRAMSUBPATH", "progs/") +
        tag("VECTORSUBPATH", "vectors/") + tag("SETUPSUBPATH", "setups/") + tag("DSPBUFFER", std::to_string(dsp)) +
        tag("OTIMED", std::to_string(fftMode)) + tag("OFREQD", std::to_string(fftMode)) + tag("DL", " 0 ") +
        tag("HDIM", "3") + tag("LFREQD", "3000000") + tag("THREADS", std::to_string(threads)) + "</MASTER>";
    auto engine = std::make_unique<CorePrcs>(&pool, CoreAnsx(folder.path("").c_str()), Folder::rate, nullptr,
                                             CoreAnsx("0"), false, false, nullptr, CoreAnsx(settings.c_str()),
                                             false, nullptr);
    if (engine->isfailed()) throw std::runtime_error("engine construction failed");
    engine->getmm()->loads(CoreAnsx("bench.xml"), 0, true);
    Access::boot(*engine);
    if (!engine->ldpdm(programSlot, false)) throw std::runtime_error("program load failed");
    engine->blksz(dsp / 4);
    return engine;
}

// Quiet noise, float, the same for every engine.
struct Audio {
    std::vector<float> in[2], out[2];
    explicit Audio(int32_t frames) {
        std::mt19937 generator(3);
        std::uniform_real_distribution<float> noise(-0.05f, 0.05f);
        for (int c = 0; c < 2; ++c) {
            in[c].resize(static_cast<size_t>(frames));
            for (float& x : in[c]) x = noise(generator);
            out[c].assign(static_cast<size_t>(frames), 0.0f);
        }
    }
    // The whole input in host blocks of `block` frames, back to back.
    void render(CorePrcs& engine, int32_t block) {
        const int32_t frames = static_cast<int32_t>(in[0].size());
        for (int32_t at = 0; at < frames; at += block) {
            void* inputs[2] = {in[0].data() + at, in[1].data() + at};
            void* outputs[2] = {out[0].data() + at, out[1].data() + at};
            engine.prcss(inputs, outputs, block, true, 0, 120.0, false, 2);
        }
        benchmark::DoNotOptimize(out[0].data());
    }
};

#ifdef VORLAN_HAVE_ZITA
// Convproc with its own threads: non-uniform partitions from the host block up to 8192, the three
// harmonic inputs x, x^2, x^3 of each channel convolved with the program's kernels into that channel.
struct Zita {
    Convproc proc;
    int32_t quantum;
    Zita(CorePrcs& engine, int32_t block) : quantum(block) {
        CoreProg& p = Access::program(engine);
        int32_t taps = 0;
        for (int16_t h = 0; h < 3; ++h) taps = std::max(taps, p.getep(h));
        if (proc.configure(6, 2, static_cast<uint32_t>(taps), static_cast<uint32_t>(block),
                           static_cast<uint32_t>(block), 8192, 0.0f) != 0)
            throw std::runtime_error("Convproc configure failed");
        for (int16_t h = 0; h < 3; ++h)
            for (int c = 0; c < 2; ++c) {
                const double* k = c == 0 ? p.getli(h) : p.getri(h);
                std::vector<float> kernel(k, k + p.getep(h));
                proc.impdata_create(static_cast<uint32_t>(2 * h + c), static_cast<uint32_t>(c), 1, kernel.data(), 0,
                                    static_cast<int32_t>(kernel.size()));
            }
        if (proc.start_process(0, SCHED_OTHER) != 0) throw std::runtime_error("Convproc start failed");
        usleep(200000); // its threads need a moment before their output is right
    }
    ~Zita() {
        proc.stop_process();
        while (!proc.check_stop()) usleep(1000);
        proc.cleanup();
    }
    void render(Audio& audio) {
        const int32_t frames = static_cast<int32_t>(audio.in[0].size());
        for (int32_t at = 0; at < frames; at += quantum) {
            for (uint32_t c = 0; c < 2; ++c) {
                const float* x = audio.in[c].data() + at;
                float* powers[3] = {proc.inpdata(c), proc.inpdata(2 + c), proc.inpdata(4 + c)};
                for (int32_t i = 0; i < quantum; ++i) {
                    powers[0][i] = x[i];
                    powers[1][i] = x[i] * x[i];
                    powers[2][i] = x[i] * x[i] * x[i];
                }
            }
            proc.process(true);
            for (uint32_t c = 0; c < 2; ++c)
                std::copy(proc.outdata(c), proc.outdata(c) + quantum, audio.out[c].data() + at);
        }
        benchmark::DoNotOptimize(audio.out[0].data());
    }
};
#endif

// Arg: DSPBUFFER.
void BM_WorkerHandoff(benchmark::State& state) {
    const auto dsp = static_cast<int32_t>(state.range(0));
    const int32_t block = dsp / 4;
    CorePool pool;
    Folder folder("worker_bench_");
    auto worker = makeEngine(pool, folder, dsp, 1);
    auto inline_ = makeEngine(pool, folder, dsp, 0);
    if (!Access::useWorker(*worker) || !worker->workerRunning())
        throw std::runtime_error("the worker engine does not use its worker");
    Audio audio(8 * dsp);
    // The kernels settle (the first update ramps them in) before anything is timed.
    for (int i = 0; i < 4; ++i) {
        audio.render(*worker, block);
        audio.render(*inline_, block);
    }
#ifdef VORLAN_HAVE_ZITA
    Zita zita(*worker, block);
    zita.render(audio);
    double zitaSeconds = 0.0;
#endif
    double candidate = 0.0, baseline = 0.0, candidateCpu = 0.0, baselineCpu = 0.0;
    for (auto _ : state) {
        double cpu = threadCpuSeconds();
        double start = steadySeconds();
        audio.render(*worker, block);
        const double once = steadySeconds() - start;
        candidateCpu += threadCpuSeconds() - cpu;
        candidate += once;
        cpu = threadCpuSeconds();
        start = steadySeconds();
        audio.render(*inline_, block);
        baseline += steadySeconds() - start;
        baselineCpu += threadCpuSeconds() - cpu;
#ifdef VORLAN_HAVE_ZITA
        start = steadySeconds();
        zita.render(audio);
        zitaSeconds += steadySeconds() - start;
#endif
        state.SetIterationTime(once);
    }
    const double blocks = 8.0 * static_cast<double>(state.iterations());
    state.counters["candidate_us_per_dsp"] = 1e6 * candidate / blocks;
    state.counters["baseline_us_per_dsp"] = 1e6 * baseline / blocks;
    state.counters["ratio"] = candidate / baseline;
    state.counters["handoffMicroseconds"] = 1e6 * (candidate - baseline) / blocks;
    state.counters["hostCpuShare"] = candidateCpu / baselineCpu;
#ifdef VORLAN_HAVE_ZITA
    state.counters["zita_us_per_dsp"] = 1e6 * zitaSeconds / blocks;
    state.counters["zitaRatio"] = candidate / zitaSeconds;
#endif
}

// ldpdm of the N = 3 program: every plan command through the worker against the same commands inline.
void BM_LoadThroughWorker(benchmark::State& state) {
    constexpr int32_t dsp = 2048;
    CorePool pool;
    Folder folder("worker_load_bench_");
    auto worker = makeEngine(pool, folder, dsp, 1);
    auto inline_ = makeEngine(pool, folder, dsp, 0);
    double candidate = 0.0, baseline = 0.0;
    for (auto _ : state) {
        for (CorePrcs* e : {worker.get(), inline_.get()}) // untimed: a program change starts elsewhere
            if (!e->ldpdm(0, false)) throw std::runtime_error("init load failed");
        double start = steadySeconds();
        if (!worker->ldpdm(programSlot, false)) throw std::runtime_error("program load failed");
        const double once = steadySeconds() - start;
        candidate += once;
        start = steadySeconds();
        if (!inline_->ldpdm(programSlot, false)) throw std::runtime_error("program load failed");
        baseline += steadySeconds() - start;
        state.SetIterationTime(once);
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["candidate_s"] = candidate / runs;
    state.counters["baseline_s"] = baseline / runs;
    state.counters["ratio"] = candidate / baseline;
}

BENCHMARK(BM_WorkerHandoff)->Arg(512)->Arg(2048)->Arg(8192)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadThroughWorker)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    return bench::runKeepingLargeBlocks(argc, argv);
}
