// One audio block of a whole program read by load_: 64 frames fed to the envelope followers, then the
// per-block update of every modulator and vector tree. The program carries the modulators of
// BM_ModulationBlock as sections, four raw functions over RAW1..RAW4, sixteen parameters and five vector
// nodes (H1: a core root over two leaf vectors; H2, H3: leaf vectors), liquid 50 %.
//   static: constant vector positions, the trees converged; against a 512-tap direct FIR over one
//           stereo block (BM_ModulationBlock's baseline).
//   moving: every node follows an LFO, so all five remix every block; against the fused mixing loop of
//           bench/vectors_bench.cpp over five nodes of the same length.
// Candidate and baseline are timed alternately in one loop; the denormal guard is on. Heap allocations
// are counted by the replaced global operator new; the pool's totals are read too.
#include "base/CoreBlnk.h"
#include "base/CoreDnrm.h"
#include "base/CorePool.h"
#include "base/CoreXml_.h"
#include "convolution/CoreCnvl.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreRcsv.h"
#include "filestore/CoreWavs.h"
#include "program/CoreProg.h"
#include "tests/common/CountingAllocator.h"

#include "bench/DirectFir.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int frames = 64;
constexpr int rate = 48000;
constexpr double blockNanoseconds = 1e9 * frames / rate; // 1 333 333 ns

double since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Microseconds that read back as exactly n samples at the rate.
std::string microseconds(long n) {
    return std::to_string((n * 1000000L + rate - 1) / rate);
}

std::string tag(const std::string& name, const std::string& content) {
    return "<" + name + ">" + content + "</" + name + ">";
}

// An element of a vector: a response file at a position, or a child vector.
std::string leafElement(const std::string& file, int position) {
    return tag("ELEMENT", tag("FILENAME", file) + tag("WEIGHT", std::to_string(position)));
}

// A vector of two elements whose position follows source. Its stages: a short second one and a third
// as long as the kernel.
std::string vectorElement(const std::string& elements, const std::string& source, long kernel) {
    const std::string common =
        tag("MINVALUE", "-1") + tag("MAXVALUE", "1") + tag("LIQUIDFACTOR", "50") +
        tag("OT1", tag("LENGTH", microseconds(48)) + tag("FADEOUT", microseconds(16))) +
        tag("OT2", tag("LENGTH", microseconds(kernel)) + tag("FADEOUT", microseconds(kernel / 8)));
    return tag("ELEMENT",
               tag("VECTOR", tag("COMMON", common) + elements) + tag("CONTROL", tag("SOURCE", source)));
}

// The program text: BM_ModulationBlock's modulators, the raw functions, the parameters and the trees.
std::string programText(bool moving, long kernel) {
    std::string text;
    const char* shapes[] = {"Sine", "Triang", "3 Rand", "Square"};
    const char* rates[] = {"LFO2", "LFO3", "FUN1", "LFO1"};
    const char* quantise[] = {"0", "1", "0.5", "0"};
    for (int i = 0; i < 4; ++i)
        text += tag("LFO" + std::to_string(i + 1),
                    tag("MINRATE", std::to_string(0.3 + 0.2 * i)) + tag("MAXRATE", std::to_string(3 + i)) +
                        tag("SOURCE", rates[i]) + tag("SHAPE", shapes[i]) +
                        tag("PHASEFACTOR", std::to_string(30 * i)) + tag("RATEQUANTIZE", quantise[i]));
    const char* operations[] = {"a+b",      "a*b",        "Db(a)-Db(b)", "ScaleDb a to b",
                                "gainpad+", "exp(a,1/b)", "sin(a+b)",    "StoreBipolarDb"};
    const char* inputsA[] = {"LFO1", "LFO2", "EVF1", "EVF3", "LFO4", "FUN2", "LFO3", "DNM1"};
    const char* inputsB[] = {"LFO2", "LFO3", "EVF2", "LFO1", "FUN1", "LFO1", "ENV1", "LFO2"};
    for (int i = 0; i < 8; ++i)
        text += tag("FUN" + std::to_string(i + 1),
                    tag("A", inputsA[i]) + tag("B", inputsB[i]) + tag("FUN", operations[i]));
    const char* modes[] = {"0", "1", "2", "8", "5"};
    for (int i = 0; i < 5; ++i)
        text += tag("EVF" + std::to_string(i + 1),
                    tag("EXP", modes[i]) + tag("OUTPUTBALANCE", "0.5") +
                        tag("ENABLEEATERT", i < 4 ? "1" : " 0 ") + tag("MINATTACK", microseconds(48)) +
                        tag("MAXATTACK", microseconds(4800)) + tag("ATTACKSOURCE", "LFO1") +
                        tag("MINRELEASE", microseconds(480)) + tag("MAXRELEASE", microseconds(48000)) +
                        tag("RELEASESOURCE", "LFO2") + tag("FILTERSOURCE", "LFO3") +
                        tag("FILTERFREQUENCY", "2000") + tag("FILTERORDER", "8"));
    text += tag("DNM1", tag("THRESHOLDSOURCE", "EVF2") + tag("INPUTSOURCE", "EVF1") +
                            tag("RATIOCOMSOURCE", "LFO3") + tag("RATIOCURVE", "3") + tag("RANGELIMIT", "24") +
                            tag("GAINPADFACTOR", "3"));
    text += tag("DNM2", tag("THRESHOLDSOURCE", "EVF4") + tag("INPUTSOURCE", "EVF3") +
                            tag("RATIOEXPSOURCE", "FUN1") + tag("RANGELIMIT", "12"));
    for (int i = 0; i < 2; ++i)
        text +=
            tag("ENV" + std::to_string(i + 1),
                tag("CONTROL", tag("ACTIVSOURCE", "LFO4") + tag("DEACTIVSOURCE", i == 0 ? "LFO1" : "LFO2")) +
                    tag("LEVEL", tag("START", " 0 ") + tag("ATTACK", "1") + tag("BREAK", "0.6") +
                                     tag("SUSTAIN", "0.4") +
                                     tag("COMMON", tag("MODFACTOR", "1") + tag("MODSOURCE", "ON"))) +
                    tag("TIME", tag("ATTACK", microseconds(2400)) + tag("DECAY", microseconds(2400)) +
                                    tag("SLOPE", microseconds(4800)) + tag("RELEASE", microseconds(9600)) +
                                    tag("COMMON", tag("MODFACTOR", "1") + tag("MODSOURCE", "ON"))) +
                    tag("CURVE",
                        tag("ATTACK", "2") + tag("DECAY", " 0 ") + tag("SLOPE", "3") + tag("RELEASE", "2")));
    const char* rows[] = {"RMULTI", "RSINGLE", "RMULTI", "RSINGLE"};
    for (int i = 0; i < 4; ++i) {
        const std::string raw = "RAW" + std::to_string(i + 1);
        text += tag("RAWFUN" + std::to_string(i + 1), tag("A", "LFO1") + tag("B", "ENV1") +
                                                          tag("FUN", rows[i]) + tag("C", raw) +
                                                          tag("D", "RAW" + std::to_string((i + 1) % 4 + 1)));
        text += tag(raw, tag("ELEMENT", tag("VECTOR", leafElement(raw + ".CSV", 0))));
    }
    std::string parameters;
    for (int i = 0; i < 16; ++i)
        parameters +=
            tag("PRM" + std::to_string(i + 1),
                tag("LABEL", "P" + std::to_string(i + 1)) + tag("MINVALUE", " 0 ") + tag("MAXVALUE", "1") +
                    tag("A", "LFO" + std::to_string(i % 4 + 1)) + tag("B", "OFF") + tag("FUN", "a"));
    text += tag("DISPLAY", parameters);
    // Five nodes; moving, each follows an LFO, else a constant position.
    auto source = [moving](int node) { return moving ? "LFO" + std::to_string(node % 4 + 1) : "0.3"; };
    const std::string pair = leafElement("A.WAV", -1) + leafElement("B.WAV", 1);
    auto child = [&](int node, const char* weight) {
        const std::string common = tag("MINVALUE", "-1") + tag("MAXVALUE", "1") + tag("LIQUIDFACTOR", "50");
        return tag("ELEMENT", tag("VECTOR", tag("COMMON", common) + pair) + tag("WEIGHT", weight) +
                                  tag("CONTROL", tag("SOURCE", source(node))));
    };
    text += tag("H1", vectorElement(child(1, "-1") + child(2, "1"), source(0), kernel));
    text += tag("H2", vectorElement(pair, source(3), kernel));
    text += tag("H3", vectorElement(pair, source(4), kernel));
    return tag("PROGRAM", text);
}

// The files of the program under a fresh folder: two stereo responses of the kernel's length (their
// peak at 0, so the kernels hold them whole) and four tables of 1000 values.
struct Files {
    std::filesystem::path folder;
    Files(CorePool& pool, long kernel) {
        std::string pattern = (std::filesystem::temp_directory_path() / "program_block.XXXXXX").string();
        folder = mkdtemp(pattern.data()) ? std::filesystem::path(pattern) : std::filesystem::path();
        std::filesystem::create_directories(folder / "VECTORS");
        for (int f = 0; f < 2; ++f) {
            std::vector<double> left(kernel), right(kernel);
            for (long k = 0; k < kernel; ++k) {
                const double decay = std::exp(-3.0 * k / kernel);
                left[k] = decay * std::cos(0.01 * k * (f + 1));
                right[k] = decay * std::sin(0.013 * k * (f + 1) + 1.0);
            }
            CoreWavs image(&pool, 2, rate, int32_t(kernel), true);
            image.setdt(int32_t(kernel), left.data(), right.data());
            image.write(CoreAnsx((folder / "VECTORS" / (f == 0 ? "A.WAV" : "B.WAV")).string().c_str()));
        }
        std::vector<double> table(1000);
        for (int r = 0; r < 4; ++r) {
            for (int k = 0; k < 1000; ++k) table[k] = 0.5 + 0.5 * std::sin(0.01 * k + r);
            std::ofstream((folder / "VECTORS" / ("RAW" + std::to_string(r + 1) + ".CSV")).string())
                << CoreRcsv::crtcn(table.data(), 1000).c_str();
        }
    }
    ~Files() {
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }
};

inline double flushed(double v) {
    uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return (bits & 0x7ff0000000000000ULL) == 0 ? 0.0 : v;
}

// bench/vectors_bench.cpp's fused loop, out = 0.5 out + wa A + wb B flushed, for five stereo nodes, each
// with two sources of its own as the program's nodes have.
struct FusedMixes {
    std::vector<double> out[5][2], a[5][2], b[5][2];
    explicit FusedMixes(long n) {
        for (int node = 0; node < 5; ++node)
            for (int c = 0; c < 2; ++c) {
                out[node][c].assign(n, 0.0);
                a[node][c].resize(n);
                b[node][c].resize(n);
                for (long i = 0; i < n; ++i)
                    a[node][c][i] = std::sin(0.01 * i + c + node),
                    b[node][c][i] = std::cos(0.02 * i + c - node);
            }
    }
    void block(double wa, double wb) {
        for (int node = 0; node < 5; ++node)
            for (int c = 0; c < 2; ++c) {
                double* o = out[node][c].data();
                const double *x = a[node][c].data(), *y = b[node][c].data();
                for (size_t i = 0; i < out[node][c].size(); ++i)
                    o[i] = flushed(0.5 * o[i] + wa * x[i] + wb * y[i]);
            }
    }
};

void BM_ProgramBlock(benchmark::State& state, bool moving) {
    CoreDnrm guard;
    const long kernel = state.range(0);
    CorePool pool;
    CoreBlnk blink;
    Files files(pool, kernel);
    CoreFsys store(&pool, CoreAnsx((files.folder.string() + "/").c_str()), false);
    CoreCnvl convolver(&pool, "direct", 0, nullptr);
    convolver.set__(CoreCnvl::iCdefaultdir, 0, 0, 0, 0, 0);
    // A block cap of 1 makes the padded third stage the kernel itself, so every mix covers it whole.
    CoreProg program(&pool, &store, 3, CoreAnsx("VECTORS/"), 10000000, 10000000, -1, 4800, 0, 0, 1, &blink,
                     nullptr);
    program.setrt(rate);
    for (int h = 0; h <= 3; ++h) program.setcv(h, &convolver);
    CoreXml_ document;
    if (!program.load_(document.getfc(CoreAnsx(programText(moving, kernel).c_str())), false)) {
        state.SkipWithError("the program did not load");
        return;
    }
    for (int16_t h = 0; h < 3; ++h) program.setot(h, 1); // the long kernels, as the processor selects them

    constexpr int signalBlocks = 256;
    std::vector<double> signal[2];
    for (int c = 0; c < 2; ++c) {
        signal[c].resize(signalBlocks * frames);
        for (size_t n = 0; n < signal[c].size(); ++n)
            signal[c][n] = (0.5 + 0.4 * std::sin(0.0003 * n)) * std::sin(0.02 * n * (c + 1) + c);
    }
    long iterations = 0;
    double lastOutput = 0.0;
    auto block = [&] {
        const size_t offset = static_cast<size_t>(iterations % signalBlocks) * frames;
        const double *left = &signal[0][offset], *right = &signal[1][offset];
        for (int n = 0; n < frames; ++n) {
            program.setef(left[n], right[n], 0.5 * left[n], 0.5 * right[n]);
            program.setes(right[n], left[n]);
        }
        lastOutput = 0.5 * left[frames - 1];
        program.updte(true, frames, lastOutput, 120.0);
    };
    for (int warm = 0; warm < 200; ++warm, ++iterations) block();

    DirectFir fir;
    FusedMixes mixes(kernel);
    double candidate = 0.0, baseline = 0.0;
    long allocations = 0;
    const int64_t poolHeld = pool.getma(), poolPeak = pool.getxa();
    for (auto _ : state) {
        const long allocationsBefore = heapAllocations.load();
        Clock::time_point start = Clock::now();
        block();
        candidate += since(start);
        allocations += heapAllocations.load() - allocationsBefore;
        const size_t offset = static_cast<size_t>(iterations % signalBlocks) * frames;
        start = Clock::now();
        if (moving)
            mixes.block(0.3 + 0.1 * (iterations % 3), 0.2);
        else
            fir.block(&signal[0][offset], &signal[1][offset]);
        baseline += since(start);
        benchmark::DoNotOptimize(program.getli(0));
        benchmark::DoNotOptimize(fir.output[1][frames - 1]);
        benchmark::DoNotOptimize(mixes.out[4][1].data());
        ++iterations;
    }
    const long measured = static_cast<long>(state.iterations());
    state.counters["candidateNs"] = 1e9 * candidate / measured;
    state.counters["baselineNs"] = 1e9 * baseline / measured;
    state.counters["ratio"] = candidate / baseline;
    state.counters["blockFraction"] = 1e9 * candidate / measured / blockNanoseconds;
    state.counters["kernelLength"] = static_cast<double>(program.getep(0));
    const long poolChange = (pool.getma() != poolHeld || pool.getxa() != poolPeak) ? 1 : 0;
    state.counters["allocationsPerBlock"] = static_cast<double>(allocations + poolChange) / measured;
}
BENCHMARK_CAPTURE(BM_ProgramBlock, static, false)->Arg(4096)->Arg(65536)->MinTime(2.0);
BENCHMARK_CAPTURE(BM_ProgramBlock, moving, true)->Arg(4096)->Arg(65536)->MinTime(2.0);

} // namespace

BENCHMARK_MAIN();
