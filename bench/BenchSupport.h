// Shared pieces of the benchmark programs: a temporary folder of their own, and a main that keeps large
// blocks with the allocator between runs, as a running plug-in does.
#pragma once
#include <benchmark/benchmark.h>

#include <filesystem>
#include <malloc.h>
#include <string>
#include <unistd.h>

namespace bench {

// A folder named after the program and the process under the temporary folder, with a data/ folder
// inside; removed with everything in it afterwards.
struct TempFolder {
    std::filesystem::path root;
    explicit TempFolder(const std::string& name)
        : root(std::filesystem::temp_directory_path() / (name + "_" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(root / "data");
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
};

// Runs the registered benchmarks with large blocks kept by the allocator between loads.
inline int runKeepingLargeBlocks(int argc, char** argv) {
    mallopt(M_MMAP_THRESHOLD, 512 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 1024 * 1024 * 1024);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

} // namespace bench
