// The plug-in shell's cost: the built .so through the test host against an in-process engine booted
// with fboot and driven by CorePrcs::prcss, on one demo folder, timed alternately in one run for host
// blocks of 64, 512 and 4096 frames in float and double. Prints the shell ÷ engine ratio per row and
// the demo's CPU seconds per second of audio.
#include "base/CoreAnsx.h"
#include "plugin/CoreMstr.h"
#include "processor/CorePrcs.h"
#include "tools/CoreDemo.h"
#include "tools/CoreVhst.h"

#include <algorithm>
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
constexpr int32_t seconds = 4; // audio per timed run
constexpr int rounds = 5;

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

template <class Sample>
void row(CoreVhst& shell, CorePrcs& engine, int32_t block, const char* precision) {
    double shellBest = 1e30, engineBest = 1e30;
    for (int round = 0; round < rounds; ++round) {
        shellBest = std::min(shellBest, timed<Sample>(block, [&](Sample** in, Sample** out, int32_t frames) {
            if constexpr (sizeof(Sample) == sizeof(double))
                shell.processDoubleReplacing(in, out, frames);
            else
                shell.processReplacing(in, out, frames);
        }));
        engineBest = std::min(engineBest, timed<Sample>(block, [&](Sample** in, Sample** out, int32_t frames) {
            engine.prcss(reinterpret_cast<void**>(in), reinterpret_cast<void**>(out), frames, true, 4, 120.0,
                         sizeof(Sample) == sizeof(double), 2);
        }));
    }
    std::printf("block %5d %-6s  shell %.3f s  engine %.3f s  shell/engine %.3f  CPU s per audio s %.4f\n", block,
                precision, shellBest, engineBest, shellBest / engineBest, shellBest / seconds);
}

} // namespace

int main() {
    const fs::path folder = fs::temp_directory_path() / ("vorlan3-bench." + std::to_string(std::rand()));
    CoreDemo::write(folder.string());
    fs::copy_file(VORLAN3_PLUGIN, folder / "Vorlan3.so", fs::copy_options::overwrite_existing);
    {
        CoreVhst::Setup setup;
        setup.sampleRate = rate;
        CoreVhst shell((folder / "Vorlan3.so").string(), setup);
        shell.open();
        shell.setSampleRate(rate);
        shell.setBlockSize(4096);
        shell.resume();
        static const char noChunk[] = "NOCHUNK";
        if (shell.setChunk(noChunk, sizeof noChunk) != 1) std::printf("the plug-in did not boot\n");

        CoreMstr master(CoreAnsx((folder.string() + "/").c_str()), rate, CoreAnsx("Vorlan3.so"), nullptr, nullptr);
        CorePrcs& engine = *master.getpr();
        CorePrcs::BEANSTRUCT none{};
        engine.setbi(84, 4096, &none);
        if (engine.fboot()) std::printf("the engine did not boot\n");
        for (int32_t block : {64, 512, 4096}) {
            shell.setBlockSize(block);
            engine.setbi(84, block, &none);
            row<float>(shell, engine, block, "float");
            row<double>(shell, engine, block, "double");
        }
        shell.suspend();
        shell.close();
    }
    std::error_code ignored;
    fs::remove_all(folder, ignored);
    return 0;
}
