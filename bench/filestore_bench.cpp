// File store: record lookup against a hash map of the same keys, case-insensitive file tests against
// fopen of the exact names, and container loading against one fread of the whole file. Candidate and
// baseline run alternately in each iteration; the counters give both per call and their ratio.
#include "base/CorePool.h"
#include "filestore/CoreFsys.h"
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

namespace fs = std::filesystem;

namespace {

double secondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void report(benchmark::State& state, double candidateSeconds, double baselineSeconds,
            double callsPerIteration) {
    const double calls = callsPerIteration * static_cast<double>(state.iterations());
    state.counters["candidate_ns"] = candidateSeconds * 1e9 / calls;
    state.counters["baseline_ns"] = baselineSeconds * 1e9 / calls;
    state.counters["ratio"] = candidateSeconds / baselineSeconds;
}

// A temporary folder removed when the program ends.
struct Scratch {
    explicit Scratch(const char* name) {
        std::string pattern = (fs::temp_directory_path() / (std::string(name) + ".XXXXXX")).string();
        if (!mkdtemp(pattern.data())) std::abort();
        path = pattern;
    }
    ~Scratch() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

std::string itemName(int i) {
    return "Vectors/Bank" + std::to_string(i % 97) + "/Kick_" + std::to_string(i) + ".wav";
}

// getit and crtit of existing names and of absent ones (a crtit miss creates the record; the batch
// is deleted again outside the timing), against find in an unordered_map of the same keys.
void BM_FsysLookup(benchmark::State& state) {
    const int records = static_cast<int>(state.range(0));
    constexpr int kBatch = 200;
    CorePool pool;
    CoreFsys store(&pool);
    std::unordered_map<std::string, int> map;
    std::vector<CoreAnsx> hits, misses;
    std::vector<std::string> hitKeys, missKeys;
    for (int i = 0; i < records; ++i) {
        map[itemName(i)] = store.crtit(itemName(i).c_str());
    }
    for (int i = 0; i < kBatch; ++i) {
        const int pick = (i * 7919) % records;
        hits.emplace_back(itemName(pick).c_str());
        hitKeys.push_back(itemName(pick));
        misses.emplace_back(("Vectors/None/Snare_" + std::to_string(i) + ".wav").c_str());
        missKeys.push_back("Vectors/None/Snare_" + std::to_string(i) + ".wav");
    }
    double getitHits = 0.0, getitMisses = 0.0, crtitHits = 0.0, crtitMisses = 0.0, baseline = 0.0;
    int64_t found = 0;
    std::vector<int32_t> created(kBatch);
    for (auto _ : state) {
        getitHits += secondsOf([&] {
            for (int i = 0; i < kBatch; ++i) found += store.getit(hits[i]);
        });
        getitMisses += secondsOf([&] {
            for (int i = 0; i < kBatch; ++i) found += store.getit(misses[i]);
        });
        crtitHits += secondsOf([&] {
            for (int i = 0; i < kBatch; ++i) found += store.crtit(hits[i]);
        });
        crtitMisses += secondsOf([&] {
            for (int i = 0; i < kBatch; ++i) created[i] = store.crtit(misses[i]);
        });
        for (int i = kBatch - 1; i >= 0; --i) store.delct(created[i]);
        baseline += secondsOf([&] {
            for (int pass = 0; pass < 2; ++pass)
                for (int i = 0; i < kBatch; ++i) {
                    auto hit = map.find(hitKeys[i]);
                    auto miss = map.find(missKeys[i]);
                    found += (hit == map.end() ? -1 : hit->second) + (miss == map.end() ? -1 : miss->second);
                }
        });
    }
    benchmark::DoNotOptimize(found);
    report(state, getitHits + getitMisses + crtitHits + crtitMisses, baseline, 4.0 * kBatch);
    const double calls = kBatch * static_cast<double>(state.iterations());
    state.counters["getit_hit_ns"] = getitHits * 1e9 / calls;
    state.counters["getit_miss_ns"] = getitMisses * 1e9 / calls;
    state.counters["crtit_hit_ns"] = crtitHits * 1e9 / calls;
    state.counters["crtit_new_ns"] = crtitMisses * 1e9 / calls;
}
BENCHMARK(BM_FsysLookup)->Arg(100)->Arg(10000);

// exstf in a folder of 10,000 files with lower-case names: the upper-case keys (case-folded hits)
// or absent names, against fopen/fclose of the exact names.
void BM_CaseResolve(benchmark::State& state) {
    const bool hitsWanted = state.range(0) == 1;
    constexpr int kFiles = 10000;
    static const Scratch scratch("CaseResolve");
    static const fs::path folder = [] {
        const fs::path made = scratch.path;
        for (int i = 0; i < kFiles; ++i) std::ofstream(made / ("take_" + std::to_string(i) + ".wav")) << "x";
        // A folder listing taken within 2 s of the folder's last change is not trusted (a miss
        // lists again); libraries are older than that.
        std::this_thread::sleep_for(std::chrono::milliseconds(2100));
        return made;
    }();
    const CoreAnsx base((folder.string() + "/").c_str());
    std::vector<CoreAnsx> asked;
    std::vector<std::string> exact;
    for (int i = 0; i < kFiles; ++i) {
        asked.emplace_back(((hitsWanted ? "TAKE_" : "ABSENT_") + std::to_string(i) + ".WAV").c_str());
        exact.push_back((folder / ("take_" + std::to_string(i) + ".wav")).string());
    }
    constexpr int kBatch = 500;
    double candidate = 0.0, baseline = 0.0;
    int64_t found = 0;
    int next = 0;
    for (auto _ : state) {
        const int from = next;
        next = (next + kBatch) % kFiles;
        candidate += secondsOf([&] {
            for (int i = from; i < from + kBatch; ++i) found += CoreFsys::exstf(base, asked[i]) ? 1 : 0;
        });
        baseline += secondsOf([&] {
            for (int i = from; i < from + kBatch; ++i) {
                std::FILE* file = std::fopen(exact[i].c_str(), "rb");
                if (file) {
                    ++found;
                    std::fclose(file);
                }
            }
        });
    }
    benchmark::DoNotOptimize(found);
    report(state, candidate, baseline, kBatch);
    state.SetLabel(hitsWanted ? "case-folded hits" : "misses");
}
BENCHMARK(BM_CaseResolve)->Arg(1)->Arg(0);

// loada of a 64 MB container of 200 items against one fread of the whole file.
void BM_ContainerLoad(benchmark::State& state) {
    constexpr int kItems = 200;
    constexpr int kItemBytes = (64 << 20) / kItems;
    static const Scratch scratch("ContainerLoad");
    const fs::path folder = scratch.path;
    CorePool pool;
    const CoreAnsx file((folder / "BANK.Q7V").string().c_str());
    {
        CoreFsys writer(&pool);
        std::string bytes(kItemBytes, '\0');
        for (int i = 0; i < kItems; ++i) {
            for (int j = 0; j < kItemBytes; j += 4096) bytes[j] = static_cast<char>(i + j);
            const std::string name = "VECTORS/TAKE_" + std::to_string(i) + ".WAV";
            writer.setit(writer.crtit(name.c_str()), bytes.data(), kItemBytes, "0", false, false);
        }
        if (!writer.savea(file)) std::abort();
    }
    std::vector<char> whole(static_cast<size_t>(fs::file_size(file.c_str())));
    double candidate = 0.0, baseline = 0.0;
    for (auto _ : state) {
        candidate += secondsOf([&] {
            CoreFsys store(&pool);
            if (!store.loada(file, "0", false, nullptr)) std::abort();
            benchmark::DoNotOptimize(store.getkn());
        });
        baseline += secondsOf([&] {
            std::FILE* in = std::fopen(file.c_str(), "rb");
            benchmark::DoNotOptimize(std::fread(whole.data(), 1, whole.size(), in));
            std::fclose(in);
        });
    }
    report(state, candidate, baseline, 1.0);
}
BENCHMARK(BM_ContainerLoad)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
