// Skin bitmaps: every load an editor makes for the demo container skin into an empty pool (each
// image decoded), against the same loads while a first editor's list holds them (each image shared).
// Both run alternately in every iteration; the counters give both in milliseconds and their ratio.
#include "base/CoreAnsx.h"
#include "base/CorePool.h"
#include "base/CoreTlst.h"
#include "plugin/CoreBitm.h"
#include "plugin/CoreSkin.h"
#include "tests/plugin/SkinText.h"
#include "tools/CoreDskn.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// The demo skin in a temporary folder removed when the program ends.
struct DemoSkin {
    DemoSkin() {
        std::string pattern = (fs::temp_directory_path() / "skin_bench.XXXXXX").string();
        if (!mkdtemp(pattern.data())) std::abort();
        folder = pattern;
        CoreDskn::write(folder.string());
    }
    ~DemoSkin() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    std::string container() const {
        return (folder / CoreDskn::sCskinsubpath / CoreDskn::sCskincontainer).string();
    }
    fs::path folder;
};

const DemoSkin& demo() {
    static const DemoSkin skin;
    return skin;
}

// One editor's loads into own, timed; own is left holding them.
double load(CoreBitm& pool, CoreSkin& skin, const std::vector<skintest::Load>& loads, CoreTlst& own) {
    const auto start = std::chrono::steady_clock::now();
    pool.begin();
    for (const skintest::Load& l : loads) {
        CoreBitm* out = nullptr;
        pool.stabm(&own, skin.getfs(), l.name, &out, l.resource, false);
        benchmark::DoNotOptimize(out);
    }
    pool.end__();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double give(CoreBitm& pool, CoreTlst& own) {
    const auto start = std::chrono::steady_clock::now();
    pool.begin();
    pool.purgb(&own);
    pool.end__();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

struct Times {
    double first = 0.0, second = 0.0;
};

// The first editor into an empty pool, then a second one while the first holds every bitmap.
Times round(CoreSkin& skin, const std::vector<skintest::Load>& loads) {
    CoreBitm pool;
    CoreTlst firstList, secondList;
    Times t;
    t.first = load(pool, skin, loads, firstList);
    t.second = load(pool, skin, loads, secondList);
    t.second += give(pool, secondList);
    t.first += give(pool, firstList);
    return t;
}

void BM_FirstEditorLoad(benchmark::State& state) {
    CorePool memory;
    CoreSkin skin(&memory, CoreAnsx(demo().container().c_str()), nullptr);
    const auto loads = skintest::editorLoads(skin);
    double first = 0.0;
    for (auto _ : state) first += round(skin, loads).first;
    state.counters["first_ms"] = first * 1e3 / static_cast<double>(state.iterations());
    state.counters["loads"] = static_cast<double>(loads.size());
}

void BM_SecondEditorLoad(benchmark::State& state) {
    CorePool memory;
    CoreSkin skin(&memory, CoreAnsx(demo().container().c_str()), nullptr);
    const auto loads = skintest::editorLoads(skin);
    Times sum;
    for (auto _ : state) {
        const Times t = round(skin, loads);
        sum.first += t.first;
        sum.second += t.second;
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["first_ms"] = sum.first * 1e3 / n;
    state.counters["second_ms"] = sum.second * 1e3 / n;
    state.counters["ratio"] = sum.second / sum.first;
}

} // namespace

BENCHMARK(BM_FirstEditorLoad)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SecondEditorLoad)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
