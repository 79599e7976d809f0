// Speed of filling a bank of the program memory from a setup file: 100 programs of about 32 KB (a few
// hundred small ELEMENT entries), loose or packed, and the same bank again from valid cache files. Each
// benchmark times its candidate and its baseline alternately inside one loop and reports both and their
// ratio:
// - BM_FillBank/loose: loads into a cleared bank with the cache off, against parsing the 100 program
//   files (CoreXml_::getff);
// - BM_FillBank/packed: the same with packed programs, against reading each container into a temporary
//   store (loada) and parsing its item (getfc);
// - BM_FillBank/warm: loads from 100 valid cache files, against parsing the 100 cache files; it also
//   times the loose fill in the same loop and reports warm_over_loose.
#include "base/CorePool.h"
#include "base/CoreXml_.h"
#include "filestore/CoreFsys.h"
#include "processor/CoreMmry.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kPrograms = 100;
constexpr int kElements = 440; // about 32 KB of program text

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

std::string programText(int n) {
    std::string text = "<PROGRAM><NAME>Program " + std::to_string(n) +
                       "</NAME><CATEGORY>Bench</CATEGORY>"
                       "<H1><ELEMENT><VECTOR><COMMON><MINVALUE>0</MINVALUE><MAXVALUE>1</MAXVALUE></COMMON>";
    for (int e = 0; e < kElements; ++e)
        text += "<ELEMENT><FILENAME>k" + std::to_string(e) + ".wav</FILENAME><WEIGHT>0." + std::to_string(e) +
                "</WEIGHT></ELEMENT>";
    return text + "</VECTOR></ELEMENT></H1></PROGRAM>";
}

// A data folder of its own with the loose programs L<n>.xml, the packed programs P<n>.q7p, a setup for
// each kind, and a cache written by one fill; removed when the program ends.
struct Files {
    fs::path folder;
    CorePool pool;
    std::unique_ptr<CoreMmry> plain, cached;

    Files() {
        folder = fs::temp_directory_path() / ("memory_files_bench." + std::to_string(std::random_device()()));
        for (const char* sub : {"progs", "setups", "cache"}) fs::create_directories(folder / sub);
        std::string loose = "<SETUP>", packed = "<SETUP>";
        for (int n = 0; n < kPrograms; ++n) {
            const std::string text = programText(n), index = std::to_string(n);
            std::ofstream(folder / "progs" / ("L" + index + ".xml")) << text;
            CoreFsys store(&pool);
            store.setit(store.crtit(CoreAnsx(("P" + index + ".XML").c_str())), text.data(),
                        static_cast<int32_t>(text.size()), CoreAnsx("0"), true, false);
            store.savea(CoreAnsx((folder / "progs" / ("P" + index + ".q7p")).string().c_str()));
            loose += "<PROGRAM><SEQUENCE>" + index + "</SEQUENCE><FILENAME>L" + index +
                     ".xml</FILENAME></PROGRAM>";
            packed +=
                "<PROGRAM><SEQUENCE>" + index + "</SEQUENCE><FILENAME>P" + index + "</FILENAME></PROGRAM>";
        }
        std::ofstream(folder / "setups" / "loose.xml") << loose << "</SETUP>";
        std::ofstream(folder / "setups" / "packed.xml") << packed << "</SETUP>";
        // The cache is valid only for programs older than their cache files.
        for (const fs::directory_entry& file : fs::directory_iterator(folder / "progs"))
            fs::last_write_time(file.path(), fs::file_time_type::clock::now() - std::chrono::hours(1));
        const CoreAnsx data((folder.string() + "/").c_str());
        plain = std::make_unique<CoreMmry>(&pool, data, 0, nullptr, "setups/", "progs/", "vectors/", "cache/",
                                           false, nullptr);
        cached = std::make_unique<CoreMmry>(&pool, data, 0, nullptr, "setups/", "progs/", "vectors/",
                                            "cache/", true, nullptr);
        cached->loads(CoreAnsx("loose.xml"), 0, true);
    }
    ~Files() {
        plain.reset();
        cached.reset();
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
    CoreAnsx path(const std::string& sub, const std::string& name) const {
        return CoreAnsx((folder / sub / name).string().c_str());
    }
};

Files& files() {
    static Files shared;
    return shared;
}

// Parses every file the candidate reads, as plainly as the base classes allow.
void parseAll(Files& f, char kind) {
    for (int n = 0; n < kPrograms; ++n) {
        const std::string index = std::to_string(n);
        CoreXml_ document;
        if (kind == 'p') {
            CoreFsys store(&f.pool);
            store.loada(f.path("progs", "P" + index + ".q7p"), CoreAnsx(("P" + index + ".XML").c_str()),
                        false, nullptr);
            document.getfc(store.ct2as(store.crtit(CoreAnsx(("P" + index + ".XML").c_str()), false, false)));
        } else {
            document.getff(f.path(kind == 'w' ? "cache" : "progs", "L" + index + ".xml"), false);
        }
        benchmark::DoNotOptimize(document.getrt());
    }
}

void BM_FillBank(benchmark::State& state, char kind) {
    Files& f = files();
    CoreMmry& memory = kind == 'w' ? *f.cached : *f.plain;
    const CoreAnsx setup(kind == 'p' ? "packed.xml" : "loose.xml");
    double candidate = 0.0, baseline = 0.0, loose = 0.0;
    for (auto _ : state) {
        Clock::time_point start = Clock::now();
        benchmark::DoNotOptimize(memory.loads(setup, 0, true));
        candidate += secondsSince(start);
        start = Clock::now();
        parseAll(f, kind);
        baseline += secondsSince(start);
        if (kind != 'w') continue;
        start = Clock::now();
        benchmark::DoNotOptimize(f.plain->loads(setup, 0, true));
        loose += secondsSince(start);
    }
    CoreMmry::MEMORYLOC last;
    memory.getel(kPrograms - 1, &last);
    if (!last.used || last.lazy != (kind == 'w')) state.SkipWithError("the bank was not filled as meant");
    const double runs = static_cast<double>(state.iterations());
    state.counters["fill_ms"] = candidate * 1e3 / runs;
    state.counters["baseline_ms"] = baseline * 1e3 / runs;
    state.counters["ratio"] = candidate / baseline;
    if (kind == 'w') state.counters["warm_over_loose"] = candidate / loose;
}
BENCHMARK_CAPTURE(BM_FillBank, loose, 'l')->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FillBank, packed, 'p')->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_FillBank, warm, 'w')->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
