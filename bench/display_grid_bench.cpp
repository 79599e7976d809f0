// Display grid writing: a full page drawn through CoreDsbf (clear the main area in font 0, then 14
// rows of 58 characters) against storing the same 812 (character, font, blink) triples with a plain
// loop into a plain array. The renderer redraws pages every pass, so writing must cost little more
// than the stores themselves and allocate nothing per character.
#include "display/CoreDsbf.h"
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <string>
#include <vector>

namespace {

constexpr int columns = 58, rows = 14, repeats = 64;

struct PlainCell {
    char character;
    short font;
    bool blink;
};

std::vector<CoreAnsx> pageTexts() {
    std::vector<CoreAnsx> texts;
    for (int row = 0; row < rows; ++row) {
        std::string text;
        for (int column = 0; column < columns; ++column)
            text += static_cast<char>('A' + (row * 7 + column) % 26);
        texts.emplace_back(text.c_str());
    }
    return texts;
}

void drawGrid(CoreDsbf& grid, const std::vector<CoreAnsx>& texts) {
    grid.clear(0, 0, 0, columns, rows);
    for (int row = 0; row < rows; ++row)
        grid.write(texts[static_cast<size_t>(row)], 0, static_cast<short>(row), 0, false, false);
}

void storePlain(std::array<PlainCell, columns * rows>& cells, const std::vector<CoreAnsx>& texts) {
    for (int row = 0; row < rows; ++row) {
        const char* text = texts[static_cast<size_t>(row)].c_str();
        for (int column = 0; column < columns; ++column)
            cells[static_cast<size_t>(row * columns + column)] = PlainCell{text[column], 0, false};
    }
}

template <typename Work>
double secondsOf(Work&& work) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < repeats; ++i) {
        work();
        benchmark::ClobberMemory();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / repeats;
}

// Both timed alternately in one loop; ratio = grid time / plain time.
void BM_GridText(benchmark::State& state) {
    const std::vector<CoreAnsx> texts = pageTexts();
    CoreDsbf grid(nullptr, columns, rows, 49, 3);
    std::array<PlainCell, columns * rows> plain{};
    double gridSeconds = 0.0, plainSeconds = 0.0;
    for (auto _ : state) {
        gridSeconds += secondsOf([&] { drawGrid(grid, texts); });
        plainSeconds += secondsOf([&] { storePlain(plain, texts); });
        benchmark::DoNotOptimize(grid.cell(0, 0));
        benchmark::DoNotOptimize(plain.data());
    }
    state.counters["grid_s"] = benchmark::Counter(gridSeconds, benchmark::Counter::kAvgIterations);
    state.counters["plain_s"] = benchmark::Counter(plainSeconds, benchmark::Counter::kAvgIterations);
    state.counters["ratio"] = gridSeconds / plainSeconds;
}

// The baseline on its own.
void BM_PlainCells(benchmark::State& state) {
    const std::vector<CoreAnsx> texts = pageTexts();
    std::array<PlainCell, columns * rows> plain{};
    for (auto _ : state) {
        storePlain(plain, texts);
        benchmark::DoNotOptimize(plain.data());
        benchmark::ClobberMemory();
    }
}

} // namespace

BENCHMARK(BM_GridText);
BENCHMARK(BM_PlainCells);
BENCHMARK_MAIN();
