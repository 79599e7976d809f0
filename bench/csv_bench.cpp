// Reading a CSV file of 10^6 values through the file store (open_, getdr, getdt) against the plainest
// possible reader of the same file: one fread and a strtod loop. Both run alternately in one loop and
// report their seconds per read and the ratio.
#include "base/CoreAnsx.h"
#include "base/CorePool.h"
#include "filestore/CoreFsys.h"
#include "filestore/CoreRcsv.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

void BM_CsvRead(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / "csv_bench";
    std::filesystem::create_directories(folder);
    const std::string path = (folder / "values.csv").string();
    {
        std::mt19937 random(1);
        std::uniform_real_distribution<double> value(-1.0, 1.0);
        std::vector<double> values(static_cast<size_t>(count));
        for (double& v : values) v = value(random);
        const CoreAnsx text = CoreRcsv::crtcn(values.data(), count);
        std::FILE* file = std::fopen(path.c_str(), "wb");
        std::fwrite(text.c_str(), 1, static_cast<size_t>(text.Length()), file);
        std::fclose(file);
    }
    CorePool pool;
    std::vector<double> read(static_cast<size_t>(count) + 1);
    double candidateSeconds = 0.0, baselineSeconds = 0.0;
    for (auto _ : state) {
        auto start = Clock::now();
        {
            CoreFsys store(&pool, CoreAnsx((folder.string() + "/").c_str()), false);
            CoreRcsv csv(&pool, &store);
            csv.open_("values.csv");
            const int32_t n = csv.getdr();
            benchmark::DoNotOptimize(csv.getdt(read.data(), false));
            if (n != count) state.SkipWithError("wrong count");
        }
        candidateSeconds += std::chrono::duration<double>(Clock::now() - start).count();

        start = Clock::now();
        {
            std::FILE* file = std::fopen(path.c_str(), "rb");
            std::fseek(file, 0, SEEK_END);
            const long size = std::ftell(file);
            std::fseek(file, 0, SEEK_SET);
            std::string bytes(static_cast<size_t>(size), '\0');
            const size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
            std::fclose(file);
            const char* c = bytes.c_str();
            const char* end = c + got;
            int n = 0;
            while (c < end) {
                char* next = nullptr;
                read[static_cast<size_t>(n)] = std::strtod(c, &next);
                if (next == c) break;
                ++n;
                c = next;
                while (c < end && (*c == ';' || *c == '\n')) ++c;
            }
            benchmark::DoNotOptimize(n);
        }
        baselineSeconds += std::chrono::duration<double>(Clock::now() - start).count();
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["candidate_s"] = candidateSeconds / iterations;
    state.counters["baseline_s"] = baselineSeconds / iterations;
    state.counters["ratio"] = candidateSeconds / baselineSeconds;
    std::filesystem::remove_all(folder);
}

BENCHMARK(BM_CsvRead)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(10);

} // namespace

BENCHMARK_MAIN();
