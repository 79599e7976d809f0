// The display's cell export: BM_Export times CoreDsif::flldd filling the 3190 values of a record (58 x 17
// cells for fonts 0, 1 and 3, 29 x 8 for font 2) from the export copy of a full screen in three fonts
// with blinking cells, against a plain loop over a plain array of the same (character, font, blink)
// cells and the four fonts' glyph tables. Both alternately in one loop; ratio = export / plain. The
// editor asks for the values on every redraw, so the export must cost little more than the loop.
#include "tests/display/CoreDsifTestAccess.h"

#include "base/CoreBlnk.h"
#include "display/CoreDspc.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using Access = CoreDsifTestAccess;
constexpr int columns = 58, rows = 17, repeats = 256;

struct PlainCell {
    unsigned char character;
    unsigned char font;
    bool blink;
};

// A page as the renderer leaves it: text in fonts 0 and 1, a double-size title, blinking marks, the
// add area, and the empty layer right of it.
void drawPage(CoreDsbf& grid) {
    for (short row = 0; row < 14; ++row) {
        std::string text;
        for (int column = 0; column < columns; ++column) text += static_cast<char>('A' + (row * 7 + column) % 26);
        grid.write(text.c_str(), 0, row, static_cast<short>(row % 2), row % 5 == 0, false);
    }
    grid.write("TITLE", 2, 1, 2, false, false);
    for (short row = 14; row < rows; ++row) grid.write("  -   1234  dB  ", 0, row, 0, false, false);
}

// The baseline: the same values from a plain copy of the cells and the fonts' glyph tables.
struct PlainExport {
    std::array<PlainCell, columns * rows> cells{};
    std::array<std::array<double, 256>, 4> values{}; // per font: the value of each code
    std::array<int, 4> dx{}, dy{}, fontRows{}, fontColumns{};

    explicit PlainExport(const CoreDsbf& grid) {
        for (int row = 0; row < rows; ++row)
            for (int column = 0; column < columns; ++column) {
                const CoreDsch* c = grid.cell(column, row);
                cells[static_cast<size_t>(row * columns + column)] =
                    PlainCell{static_cast<unsigned char>(c->getch()), static_cast<unsigned char>(c->getfn()), c->getbl()};
            }
        for (short f = 0; f < 4; ++f) {
            const CoreDsfn* font = grid.getfn(f);
            for (int code = 0; code < 256; ++code) values[static_cast<size_t>(f)][static_cast<size_t>(code)] = font->getrw(static_cast<short>(code));
            dx[static_cast<size_t>(f)] = font->getdx();
            dy[static_cast<size_t>(f)] = font->getdy();
            fontRows[static_cast<size_t>(f)] = grid.getdy(f) + grid.getay(f);
            fontColumns[static_cast<size_t>(f)] = grid.getdx(f);
        }
    }
    void fill(double* out, bool on) const {
        for (size_t f = 0; f < 4; ++f)
            for (int r = 0; r < fontRows[f]; ++r)
                for (int c = 0; c < fontColumns[f]; ++c) {
                    const PlainCell& cell = cells[static_cast<size_t>(r * dy[f] * columns + c * dx[f])];
                    *out++ = cell.font != f ? -1.0 : values[f][cell.blink && !on ? ' ' : cell.character];
                }
    }
};

template <typename Work>
double secondsOf(Work&& work) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < repeats; ++i) {
        work();
        benchmark::ClobberMemory();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / repeats;
}

void BM_Export(benchmark::State& state) {
    CoreDspc queue;
    CoreBlnk clock;
    auto display = Access::unstarted(nullptr, &queue, &clock);
    drawPage(Access::grid(*display));
    Access::exportCells(*display);
    const PlainExport plain(Access::grid(*display));
    CoreCnst::DISPLAYDATA data;
    display->newdd(&data);
    std::vector<double> plainValues(static_cast<size_t>(data.total));
    bool agree = false; // a blink phase change between the two may spoil one try
    for (int attempt = 0; attempt < 3 && !agree; ++attempt) {
        display->flldd(&data);
        plain.fill(plainValues.data(), clock.getvl());
        agree = std::equal(plainValues.begin(), plainValues.end(), data.values);
    }
    if (!agree) state.SkipWithError("the baseline and the export disagree");
    double exportSeconds = 0.0, plainSeconds = 0.0;
    for (auto _ : state) {
        exportSeconds += secondsOf([&] { display->flldd(&data); });
        plainSeconds += secondsOf([&] { plain.fill(plainValues.data(), clock.getvl()); });
        benchmark::DoNotOptimize(data.values);
        benchmark::DoNotOptimize(plainValues.data());
    }
    state.counters["values"] = data.total;
    state.counters["export_s"] = benchmark::Counter(exportSeconds, benchmark::Counter::kAvgIterations);
    state.counters["plain_s"] = benchmark::Counter(plainSeconds, benchmark::Counter::kAvgIterations);
    state.counters["ratio"] = exportSeconds / plainSeconds;
    CoreDsif::deldd(&data);
}

} // namespace

BENCHMARK(BM_Export);
BENCHMARK_MAIN();
