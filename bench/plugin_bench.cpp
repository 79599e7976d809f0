// The plug-in shell's cost: the built .so through the test host against an in-process engine booted
// with fboot and driven by CorePrcs::prcss, on one demo folder, timed alternately in one run for host
// blocks of 64, 512 and 4096 frames in float and double. Counters: both sides' CPU seconds per run of
// audio, their ratio, and the demo's CPU seconds per second of audio.
#include "base/CoreAnsx.h"
#include "plugin/CoreMstr.h"
#include "processor/CorePrcs.h"
#include "tools/CoreDemo.h"
#include "tools/CoreVhst.h"

#include <algorithm>
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
constexpr int32_t rate = 44100;
constexpr int32_t seconds = 1; // audio per timed run

template <class Sample>
struct Buffers {
    explicit Buffers(int32_t frames) : in(4, std::vector<Sample>(size_t(frames))), out(4, std::vector<Sample>(size_t(frames))) {
        uint32_t state = 9;
        for (auto& channel : in)
            for (Sample& v : channel) v = Sample(int32_t((state = state * 1664525u + 1013904223u) >> 17) - 16384) / Sample(65536);
        for (int i = 0; i < 4; ++i) inputs[i] = in[size_t(i)].data(), outputs[i] = out[size_t(i)].data();
    }
    std::vector<std::vector<Sample>> in, out;
    Sample* inputs[4];
    Sample* outputs[4];
};

double cpuSeconds() {
    return double(std::clock()) / CLOCKS_PER_SEC;
}

template <class Sample, class Call>
double timed(int32_t block, Call call) {
    Buffers<Sample> buffers(block);
    const int32_t calls = seconds * rate / block;
    const double start = cpuSeconds();
    for (int32_t i = 0; i < calls; ++i) call(buffers.inputs, buffers.outputs, block);
    return cpuSeconds() - start;
}

// The demo folder, the booted plug-in through the test host and the in-process engine, made once.
struct Bench {
    fs::path folder = fs::temp_directory_path() / ("vorlan3-bench." + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::unique_ptr<CoreVhst> shell;
    std::unique_ptr<CoreMstr> master;
    CorePrcs* engine = nullptr;

    Bench() {
        CoreDemo::write(folder.string());
        fs::copy_file(VORLAN3_PLUGIN, folder / "Vorlan3.so", fs::copy_options::overwrite_existing);
        CoreVhst::Setup setup;
        setup.sampleRate = rate;
        shell = std::make_unique<CoreVhst>((folder / "Vorlan3.so").string(), setup);
        shell->open();
        shell->setSampleRate(rate);
        shell->setBlockSize(4096);
        shell->resume();
        static const char noChunk[] = "NOCHUNK";
        if (shell->setChunk(noChunk, sizeof noChunk) != 1) std::fprintf(stderr, "the plug-in did not boot\n");
        master = std::make_unique<CoreMstr>(CoreAnsx((folder.string() + "/").c_str()), rate, CoreAnsx("Vorlan3.so"),
                                            nullptr, nullptr);
        engine = master->getpr();
        CorePrcs::BEANSTRUCT none{};
        engine->setbi(84, 4096, &none);
        if (engine->fboot()) std::fprintf(stderr, "the engine did not boot\n");
    }
    ~Bench() {
        master.reset();
        shell->suspend();
        shell->close();
        shell.reset();
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    static Bench& get() {
        static Bench bench;
        return bench;
    }
};

template <class Sample>
void BM_Plugin(benchmark::State& state) {
    Bench& b = Bench::get();
    const int32_t block = static_cast<int32_t>(state.range(0));
    CorePrcs::BEANSTRUCT none{};
    b.shell->setBlockSize(block);
    b.engine->setbi(84, block, &none);
    double shellSeconds = 0.0, engineSeconds = 0.0;
    for (auto _ : state) {
        shellSeconds += timed<Sample>(block, [&](Sample** in, Sample** out, int32_t frames) {
            if constexpr (sizeof(Sample) == sizeof(double))
                b.shell->processDoubleReplacing(in, out, frames);
            else
                b.shell->processReplacing(in, out, frames);
        });
        engineSeconds += timed<Sample>(block, [&](Sample** in, Sample** out, int32_t frames) {
            b.engine->prcss(reinterpret_cast<void**>(in), reinterpret_cast<void**>(out), frames, true, 4, 120.0,
                            sizeof(Sample) == sizeof(double), 2);
        });
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["shell_s"] = shellSeconds / runs;
    state.counters["engine_s"] = engineSeconds / runs;
    state.counters["ratio"] = shellSeconds / engineSeconds;
    state.counters["cpuPerAudioSecond"] = shellSeconds / runs / seconds;
}

} // namespace

BENCHMARK_TEMPLATE(BM_Plugin, float)->Arg(64)->Arg(512)->Arg(4096)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Plugin, double)->Arg(64)->Arg(512)->Arg(4096)->Iterations(5)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
