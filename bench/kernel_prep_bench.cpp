// Cost of preparing a program's kernels (CoreProg::start: every WAV probed and read, aligned, cut,
// faded, sized and registered) against just reading the same files into zeroed pool blocks, timed
// alternately in one loop. Reports both times, their ratio, the kernel length and the pool's peak
// over what the prepared program keeps; and how the time per element grows with the element count.
#include "base/CoreBlnk.h"
#include "base/CoreNode.h"
#include "base/CorePool.h"
#include "base/CoreXml_.h"
#include "convolution/CoreCnvl.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreWvfr.h"
#include "program/CoreProg.h"
#include "tests/filestore/WavBytes.h"
#include "tests/program/CoreProgTestAccess.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>


#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

// Thread CPU time: on a shared machine wall time also counts the waits for a processor.
double cpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + now.tv_nsec * 1e-9;
}

std::filesystem::path benchFolder() {
    static std::filesystem::path folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "kernel_prep_bench.XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        return std::filesystem::path(pattern);
    }();
    return folder;
}

// count stereo 24-bit files of decaying noise, frames long, at the rate; their names.
std::vector<std::string> writeFiles(const std::string& prefix, int count, int rate, int frames) {
    std::vector<std::string> names;
    std::mt19937 generator(7);
    std::uniform_real_distribution<double> noise(-1.0, 1.0);
    for (int f = 0; f < count; ++f) {
        std::string data;
        for (int k = 0; k < frames; ++k)
            for (int channel = 0; channel < 2; ++channel) {
                const double value = 0.9 * noise(generator) * std::exp(-5.0 * k / frames);
                data += wavtest::le32(static_cast<uint32_t>(std::lround(value * 8388607.0))).substr(0, 3);
            }
        names.push_back(prefix + std::to_string(f) + ".WAV");
        std::ofstream(benchFolder() / names.back(), std::ios::binary)
            << wavtest::simple(1, 2, static_cast<uint32_t>(rate), 24, data);
    }
    return names;
}

// H1: a core root over leaf vectors of ten elements each, normalised, with a one-second third stage.
std::string programText(const std::vector<std::string>& names) {
    std::string text = "<PROGRAM><H1><ELEMENT><VECTOR><COMMON><OFFSET>100</OFFSET><FADEIN>50</FADEIN>"
                       "<OT2><LENGTH>1000000</LENGTH><FADEOUT>100000</FADEOUT></OT2></COMMON>";
    for (size_t i = 0; i < names.size(); i += 10) {
        text += "<ELEMENT><VECTOR><COMMON><MAXVALUE>9</MAXVALUE></COMMON>";
        for (size_t k = i; k < i + 10 && k < names.size(); ++k)
            text += "<ELEMENT><FILENAME>" + names[k] + "</FILENAME><WEIGHT>" + std::to_string(k - i) +
                    "</WEIGHT></ELEMENT>";
        text += "</VECTOR><CONTROL><GAINLIMITER>1</GAINLIMITER></CONTROL></ELEMENT>";
    }
    return text + "</VECTOR></ELEMENT></H1></PROGRAM>";
}

// One program over its own file store, trees read again before each preparation (untimed).
struct Prepared {
    Prepared(CorePool& pool, const std::vector<std::string>& names)
        : store(&pool, CoreAnsx((benchFolder().string() + "/").c_str()), false),
          convolver(&pool, "direct", 0, nullptr), program(&pool, &store, 1, CoreAnsx(""), 100000, 1000000,
                                                          1000, 4800, 256, 8192, 4096, &blink, nullptr),
          names(names) {
        document.getfc(CoreAnsx(programText(names).c_str()));
        convolver.set__(CoreCnvl::iCdefaultdir, 0, 0, 0, 0, 0);
        program.setcv(0, &convolver);
        program.setrt(48000);
        program.setrc(10000000); // 10 s: every response here may be converted
    }
    void read() {
        program.init_();
        CoreProgTestAccess::loaded(program) = true;
        CoreProgTestAccess::rdhrm(program, document.getrt()->getcd(CoreAnsx("PROGRAM")));
    }
    CoreBlnk blink;
    CoreFsys store;
    CoreCnvl convolver;
    CoreProg program;
    CoreXml_ document;
    std::vector<std::string> names;
};

// The baseline: every file opened, read whole into two zeroed pool blocks, closed; the pairs held to
// the end as the preparation holds its samples.
void readAll(CorePool& pool, CoreFsys& store, const std::vector<std::string>& names, int32_t convertTo) {
    CoreWvfr reader(&pool, &store, true);
    if (convertTo > 0) reader.setfr(convertTo, true);
    std::vector<double*> blocks;
    for (const std::string& name : names) {
        reader.open_(CoreAnsx(name.c_str()));
        const int32_t frames = reader.getdw();
        for (int channel = 0; channel < 2; ++channel) {
            blocks.push_back(static_cast<double*>(pool.mallc(0, frames, "BNCH")));
            std::fill(blocks.back(), blocks.back() + frames, 0.0);
        }
        benchmark::DoNotOptimize(reader.getdt(frames, blocks[blocks.size() - 2], blocks.back()));
        reader.close();
    }
    for (double* block : blocks) pool.free_(block);
}

void prepareAgainstReading(benchmark::State& state, int rate, bool keepRate) {
    const auto names =
        writeFiles("R" + std::to_string(rate) + "_", static_cast<int>(state.range(0)), rate, rate);
    {
        // The pool's peak during one preparation over what the prepared program keeps.
        CorePool pool;
        Prepared fresh(pool, names);
        fresh.read();
        const int64_t before = pool.getma();
        fresh.program.start(keepRate);
        state.counters["peakOverKept"] =
            static_cast<double>(pool.getxa() - before) / static_cast<double>(pool.getma() - before);
        state.counters["kernelLength"] = CoreProgTestAccess::record(fresh.program, 0).iKernellength;
    }
    CorePool pool;
    Prepared prepared(pool, names);
    double candidate = 0.0, baseline = 0.0;
    for (auto _ : state) {
        prepared.read();
        double start = cpuSeconds();
        prepared.program.start(keepRate);
        const double once = cpuSeconds() - start;
        candidate += once;
        start = cpuSeconds();
        readAll(pool, prepared.store, names, keepRate ? 0 : 48000);
        baseline += cpuSeconds() - start;
        state.SetIterationTime(once);
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["candidate_s"] = candidate / runs;
    state.counters["baseline_s"] = baseline / runs;
    state.counters["ratio"] = candidate / baseline;
}

void BM_PrepareProgram(benchmark::State& state) {
    prepareAgainstReading(state, 48000, true);
}

// 44.1 kHz files converted to the program rate of 48000.
void BM_PrepareConverted(benchmark::State& state) {
    prepareAgainstReading(state, 44100, false);
}

// Time per element with 160 elements against 10, both prepared alternately in one loop.
void BM_PrepareScaling(benchmark::State& state) {
    CorePool pool;
    Prepared few(pool, writeFiles("F", 10, 48000, 4800));
    Prepared many(pool, writeFiles("M", 160, 48000, 4800));
    double fewSeconds = 0.0, manySeconds = 0.0;
    for (auto _ : state) {
        few.read();
        double start = cpuSeconds();
        few.program.start(true);
        fewSeconds += cpuSeconds() - start;
        many.read();
        start = cpuSeconds();
        many.program.start(true);
        const double once = cpuSeconds() - start;
        manySeconds += once;
        state.SetIterationTime(once);
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["perElement10_s"] = fewSeconds / runs / 10.0;
    state.counters["perElement160_s"] = manySeconds / runs / 160.0;
    state.counters["ratio"] = (manySeconds / 160.0) / (fewSeconds / 10.0);
}

BENCHMARK(BM_PrepareProgram)->Arg(40)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrepareConverted)->Arg(40)->UseManualTime()->Iterations(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PrepareScaling)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    const int result = bench::runKeepingLargeBlocks(argc, argv);
    std::filesystem::remove_all(benchFolder());
    return result;
}
