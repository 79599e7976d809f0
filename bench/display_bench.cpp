// The display's cell export: BM_Export times CoreDsif::flldd filling the 3190 values of a record (58 x 17
// cells for fonts 0, 1 and 3, 29 x 8 for font 2) from the export copy of a full screen in three fonts
// with blinking cells, against a plain loop over a plain array of the same (character, font, blink)
// cells and the four fonts' glyph tables. Both alternately in one loop; ratio = export / plain. The
// editor asks for the values on every redraw, so the export must cost little more than the loop.
//
// One renderer pass against the stores it amounts to. BM_DisplayPass: updte(true) on the batch page
// with eight full message rows and a full status row, on an engine in the booted state; BM_PlainCells:
// the same 812 (character, font, blink) triples of that screen stored by a plain loop into a plain
// array. The control thread runs a pass every third tick, under the display lock that the editor's
// setdu also takes, so a pass must cost little more than the cells it writes.
#define CORE_PRCS_ACCESS_ONLY

#include "tests/display/CoreDsifTestAccess.h"
#include "tests/processor/CorePrcsTestAccess.h"

#include "base/CoreBlnk.h"
#include "base/CorePmsg.h"
#include "base/CorePool.h"
#include "display/CoreDsif.h"
#include "display/CoreDspc.h"
#include "processor/CorePrcs.h"

#include "BenchSupport.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using Access = CoreDsifTestAccess;

// The mean seconds of one call of work over Repeats calls.
template <int Repeats, typename Work>
double secondsOf(Work&& work) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < Repeats; ++i) {
        work();
        benchmark::ClobberMemory();
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / Repeats;
}

} // namespace

namespace exportbench {

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
        exportSeconds += secondsOf<repeats>([&] { display->flldd(&data); });
        plainSeconds += secondsOf<repeats>([&] { plain.fill(plainValues.data(), clock.getvl()); });
        benchmark::DoNotOptimize(data.values);
        benchmark::DoNotOptimize(plainValues.data());
    }
    state.counters["values"] = data.total;
    state.counters["export_s"] = benchmark::Counter(exportSeconds, benchmark::Counter::kAvgIterations);
    state.counters["plain_s"] = benchmark::Counter(plainSeconds, benchmark::Counter::kAvgIterations);
    state.counters["ratio"] = exportSeconds / plainSeconds;
    CoreDsif::deldd(&data);
}

BENCHMARK(BM_Export);

} // namespace exportbench

namespace passbench {

constexpr int columns = CoreDsif::iCdimx, rows = CoreDsif::iCdimy, repeats = 64;

struct PlainCell {
    char character;
    short font;
    bool blink;
};

struct Rig {
    CorePool pool;
    bench::TempFolder folder{"display_pass_bench"};
    std::unique_ptr<CorePrcs> engine;
    CoreDspc queue;
    CoreBlnk clock;
    std::unique_ptr<CoreDsif> display;

    Rig() {
        const std::string settings =
            "<MASTER><DATAPATH>" + (folder.root / "data").string() + "/</DATAPATH></MASTER>";
        engine = std::make_unique<CorePrcs>(&pool, CoreAnsx((folder.root.string() + "/").c_str()), 48000,
                                            nullptr, CoreAnsx("0"), false, false, nullptr,
                                            CoreAnsx(settings.c_str()), false, nullptr);
        if (engine->isfailed()) throw std::runtime_error("engine failed");
        CorePrcsTestAccess::boot(*engine);
        display = CoreDsifTestAccess::unstarted(engine.get(), &queue, &clock);
        CoreDsifTestAccess::setNextState(*display, 22);
        display->updte(true); // the entry empties the rows and the status
        for (int i = 0; i < CoreDsif::iCmessagerows; ++i)
            CoreDsifTestAccess::messageBoard(*display).addrw(
                CoreAnsx(std::string(columns, static_cast<char>('a' + i)).c_str()));
        CorePrcsTestAccess::statusBoard(*engine).addrw(CoreAnsx(std::string(columns + 6, 'S').c_str()));
    }
};

// The batch page's screen as (character, font, blink) triples: title, blank row, eight rows, blanks,
// the status row.
void storePlain(std::array<PlainCell, columns * rows>& cells) {
    const std::string title = "  BatchMode";
    for (int row = 0; row < rows; ++row)
        for (int column = 0; column < columns; ++column) {
            char c = ' ';
            short font = 0;
            if (row == 0) {
                c = column < static_cast<int>(title.size()) ? title[static_cast<size_t>(column)] : ' ';
                font = 1;
            } else if (row >= 2 && row < 2 + CoreDsif::iCmessagerows) {
                c = static_cast<char>('a' + row - 2);
            } else if (row == rows - 1) {
                c = 'S';
                font = 1;
            }
            cells[static_cast<size_t>(row * columns + column)] = PlainCell{c, font, false};
        }
}


// Both timed alternately in one loop; ratio = pass time / plain time (target: at most 10).
void BM_DisplayPass(benchmark::State& state) {
    Rig rig;
    std::array<PlainCell, columns * rows> cells{};
    double pass = 0.0, plain = 0.0;
    for (auto _ : state) {
        pass += secondsOf<repeats>([&] { rig.display->updte(true); });
        plain += secondsOf<repeats>([&] {
            storePlain(cells);
            benchmark::DoNotOptimize(cells.data());
        });
    }
    if (rig.display->getns() != 22) state.SkipWithError("the display left the batch page");
    const double n = static_cast<double>(state.iterations());
    state.counters["pass_ns"] = pass / n * 1e9;
    state.counters["plain_ns"] = plain / n * 1e9;
    state.counters["ratio"] = plain > 0.0 ? pass / plain : 0.0;
}
BENCHMARK(BM_DisplayPass)->Unit(benchmark::kMicrosecond);

// The baseline alone, for comparison with the other display benchmarks.
void BM_PlainCells(benchmark::State& state) {
    std::array<PlainCell, columns * rows> cells{};
    for (auto _ : state) {
        storePlain(cells);
        benchmark::DoNotOptimize(cells.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_PlainCells);

} // namespace passbench

int main(int argc, char** argv) {
    return bench::runKeepingLargeBlocks(argc, argv);
}
