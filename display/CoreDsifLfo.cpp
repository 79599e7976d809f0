// CoreDsif: the LFO page: the four LFOs of the program, one row each: rate range, quantisation, rate
// source, waveform, phase and phase source. The rate items follow the engine on every pass.
#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "display/CoreDsbf.h"
#include "display/CoreDstx.h"
#include "display/DataLclz.h"
#include "processor/CorePrcs.h"

#include <array>

namespace {

constexpr const char* kLfoTitle = "  EditMode: LFOs";
constexpr int kLfos = 4;
constexpr int kLfoColumns = 7;
constexpr short kLfoItems = kLfos * kLfoColumns;

using R = DataSitm;

const std::array<DataSitm, kLfoItems>& lfoRows() {
    static const std::array<DataSitm, kLfoItems> rows = [] {
        std::array<DataSitm, kLfoItems> t{};
        for (int16_t i = 0; i < kLfos; ++i) {
            const auto row = static_cast<int16_t>(4 + i);
            const auto at = [&](int k) -> DataSitm& { return t[static_cast<size_t>(kLfoColumns * i + k)]; };
            const auto slot = [&](int k) { return static_cast<int16_t>(kLfoColumns * i + k); };
            // Each item is written as soon as it changes: one group per item.
            // The rate bounds are the LFO's rate-control bounds (lfoRateBounds).
            at(0) = {.slot = slot(0), .column = 4, .row = row, .width = 4, .unit = DataLclz::sCunithz,
                     .readBean = 96, .writeBean = 98, .index = i, .group = slot(0)};
            at(1) = {.slot = slot(1), .column = 13, .row = row, .width = 4, .unit = DataLclz::sCunithz,
                     .readBean = 97, .writeBean = 99, .index = i, .group = slot(1)};
            at(2) = {.slot = slot(2), .column = 22, .row = row, .width = 2, .kind = R::LIST,
                     .list = DataLclz::sClfo_ratequantize, .count = DataLclz::iClfo_ratequantize,
                     .readBean = 92, .writeBean = 92, .index = i, .conv = R::NEAREST, .group = slot(2)};
            at(3) = {.slot = slot(3), .column = 26, .row = row, .width = 7, .kind = R::SOURCES, .type = R::TEXT,
                     .readBean = 89, .writeBean = 100, .index = i, .conv = R::KEYTEXT, .group = slot(3)};
            at(4) = {.slot = slot(4), .column = 35, .row = row, .width = 6, .kind = R::WAVES, .type = R::TEXT,
                     .readBean = 90, .writeBean = 90, .index = i, .conv = R::KEYTEXT, .group = slot(4)};
            at(5) = {.slot = slot(5), .column = 43, .row = row, .width = 3, .unit = DataLclz::sCunitdeg,
                     .lower = 0, .upper = 360, .readBean = 93, .writeBean = 93, .index = i, .group = slot(5)};
            at(6) = {.slot = slot(6), .column = 51, .row = row, .width = 7, .kind = R::SOURCES, .type = R::TEXT,
                     .readBean = 91, .writeBean = 91, .index = i, .conv = R::KEYTEXT, .group = slot(6)};
        }
        return t;
    }();
    return rows;
}

} // namespace

void CoreDsif::lfoEntry(PASS&) {
    const struct {
        const char* text;
        short x;
    } headings[] = {
        {DataLclz::sClfo_minratelabel, 4},      {DataLclz::sClfo_maxratelabel, 13},
        {DataLclz::sClfo_ratequantizelabel, 22}, {DataLclz::sClfo_ratesourcelabel, 26},
        {DataLclz::sClfo_shapelabel, 35},       {DataLclz::sClfo_phaselabel, 43},
        {DataLclz::sClfo_phasesourcelabel, 51},
    };
    for (const auto& h : headings) pGrid->write(CoreAnsx(h.text), h.x, 3, 0, false, false);
    for (int i = 0; i < kLfos; ++i) label(CoreAnsx(""), CoreButl::intas(i + 1) + ":", 0, 4 + i);
    const auto& rows = lfoRows();
    selectorEntry(rows.data(), static_cast<int>(rows.size()), kLfoItems, 0);
    // The rate items range over the LFO's rate control, whose bounds the engine holds.
    for (int i = 0; i < kLfos; ++i) {
        CorePrcs::BEANSTRUCT b{i, 0};
        const double lower = pProcessor->getbd(94, &b);
        const double upper = pProcessor->getbd(95, &b);
        for (int k = 0; k < 2; ++k) {
            const DataSitm& row = rows[static_cast<size_t>(kLfoColumns * i + k)];
            if (CoreDstx* item = selectorItem(row.slot)) {
                const double raw = pProcessor->getbd(row.readBean, &b);
                item->setrg(lower, upper, raw);
                selectorKeep(row, raw);
            }
        }
    }
}

void CoreDsif::lfoRender(PASS& pass) {
    selectorFrame(kLfoTitle, pass);
    const auto& rows = lfoRows();
    for (int i = 0; i < kLfos; ++i) {
        const DataSitm* lfo = rows.data() + kLfoColumns * i;
        selectorWrites(lfo, kLfoColumns, 0, pass, nullptr);
        // The engine has the last word on the rate range: what it answers is shown and kept.
        selectorReload(lfo[0], 0);
        selectorReload(lfo[1], 0);
    }
    selectorExit(pass);
}
