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

#include <array>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
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

template <typename Work>
double secondsOf(Work&& work) {
    const auto start = Clock::now();
    for (int i = 0; i < repeats; ++i) {
        work();
        benchmark::ClobberMemory();
    }
    return std::chrono::duration<double>(Clock::now() - start).count() / repeats;
}

// Both timed alternately in one loop; ratio = pass time / plain time (target: at most 10).
void BM_DisplayPass(benchmark::State& state) {
    Rig rig;
    std::array<PlainCell, columns * rows> cells{};
    double pass = 0.0, plain = 0.0;
    for (auto _ : state) {
        pass += secondsOf([&] { rig.display->updte(true); });
        plain += secondsOf([&] {
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

} // namespace

int main(int argc, char** argv) {
    return bench::runKeepingLargeBlocks(argc, argv);
}
