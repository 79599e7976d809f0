// Cost of reading a WAV item through the file store (open_, getdt of every frame, close) against
// reading the same file's bytes with fread, in the same loop: both times and their ratio are
// reported, with the file bytes per second and frames per second of the reader.
#include "BenchSupport.h"
#include "base/CorePool.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreWvfr.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
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
constexpr int kFrames = 30 * 48000;

struct Format {
    const char* name;
    uint16_t tag;
    uint16_t channels;
    uint16_t bits;
};
constexpr Format kFormats[] = {{"int16 stereo", 1, 2, 16},
                               {"int24 stereo", 1, 2, 24},
                               {"float32 stereo", 3, 2, 32},
                               {"float64 mono", 3, 1, 64}};

std::string le(uint32_t v, int bytes) {
    std::string s(bytes, '\0');
    for (int i = 0; i < bytes; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

std::string wavFile(const Format& f) {
    const uint32_t align = f.bits / 8 * f.channels;
    std::string data(static_cast<size_t>(kFrames) * align, '\0');
    std::mt19937 generator(3);
    if (f.tag == 3 && f.bits == 32) {
        for (size_t i = 0; i + 4 <= data.size(); i += 4) {
            const float v = static_cast<float>(generator()) / 4294967296.0f - 0.5f;
            std::memcpy(&data[i], &v, 4);
        }
    } else if (f.tag == 3) {
        for (size_t i = 0; i + 8 <= data.size(); i += 8) {
            const double v = generator() / 4294967296.0 - 0.5;
            std::memcpy(&data[i], &v, 8);
        }
    } else {
        for (char& c : data) c = static_cast<char>(generator() & 0xFF);
    }
    const std::string fmt =
        le(f.tag, 2) + le(f.channels, 2) + le(48000, 4) + le(48000 * align, 4) + le(align, 2) + le(f.bits, 2);
    const std::string body =
        std::string("WAVE") + "fmt " + le(16, 4) + fmt + "data" + le(data.size(), 4) + data;
    return "RIFF" + le(body.size(), 4) + body;
}

// Removed with its files when the program ends.
std::filesystem::path benchFolder() {
    static const bench::TempFolder folder{"wav_bench"};
    return folder.root;
}

void BM_WavRead(benchmark::State& state) {
    const Format& format = kFormats[state.range(0)];
    const bool inMemory = state.range(1) != 0;
    const std::string bytes = wavFile(format);
    const std::filesystem::path path = benchFolder() / ("f" + std::to_string(state.range(0)) + ".wav");
    {
        std::FILE* out = std::fopen(path.c_str(), "wb");
        std::fwrite(bytes.data(), 1, bytes.size(), out);
        std::fclose(out);
    }
    CorePool pool;
    CoreFsys store(&pool, CoreAnsx((benchFolder().string() + "/").c_str()), false);
    CoreWvfr reader(&pool, &store, false);
    const CoreAnsx name = CoreAnsx(path.filename().c_str());
    if (inMemory) {
        const int32_t id = store.crtit(name);
        store.setit(id, bytes.data(), static_cast<int32_t>(bytes.size()), CoreAnsx(""), true, false);
    }
    std::vector<double> left(kFrames), right(kFrames);
    std::vector<char> buffer(bytes.size());

    double candidate = 0.0, baseline = 0.0;
    for (auto _ : state) {
        double start = cpuSeconds();
        reader.open_(name);
        const int32_t got = reader.getdt(kFrames, left.data(), right.data());
        reader.close();
        benchmark::DoNotOptimize(got);
        candidate += cpuSeconds() - start;

        start = cpuSeconds();
        std::FILE* in = std::fopen(path.c_str(), "rb");
        const size_t read = std::fread(buffer.data(), 1, buffer.size(), in);
        std::fclose(in);
        benchmark::DoNotOptimize(read);
        baseline += cpuSeconds() - start;
    }
    const double runs = static_cast<double>(state.iterations());
    state.counters["candidate_s"] = candidate / runs;
    state.counters["baseline_s"] = baseline / runs;
    state.counters["ratio"] = candidate / baseline;
    state.counters["MB_per_s"] = bytes.size() * runs / candidate / 1e6;
    state.counters["frames_per_s"] = kFrames * runs / candidate;
    state.SetLabel(std::string(format.name) + (inMemory ? ", in-memory item" : ", loose file"));
}

BENCHMARK(BM_WavRead)->ArgsProduct({{0, 1, 2, 3}, {0, 1}})->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
