// CoreDsif: the dynamics page: the program's two dynamics modulators side by side, each its input,
// threshold and ratio sources, type, ratio curve, range and makeup. Each modulator is one write
// group, applied by action bean 133 with its number; modulator 0 is written first.
#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "display/CoreDsbf.h"
#include "display/DataLclz.h"
#include "display/DataSitm.h"

#include <array>

namespace {

constexpr int16_t kApply = 133;
constexpr short kItems = 14;

constexpr int16_t columnOf(int16_t d) { return static_cast<int16_t>(14 + 11 * d); }

constexpr DataSitm dynamicsRow(int16_t d, int16_t item, int16_t row, DataSitm::Kind kind, DataSitm::Bean type,
                               int16_t bean) {
    return DataSitm{.slot = static_cast<int16_t>(7 * d + item), .column = columnOf(d), .row = row, .width = 7,
                    .kind = kind, .type = type, .readBean = bean, .writeBean = bean, .index = d, .group = d,
                    .rule = DataSitm::ALL, .apply = kApply};
}

constexpr DataSitm list(int16_t d, int16_t item, int16_t row, int16_t bean, const char* const* texts,
                        int16_t count) {
    DataSitm r = dynamicsRow(d, item, row, DataSitm::LIST, DataSitm::SHORT, bean);
    r.list = texts;
    r.count = count;
    return r;
}

constexpr DataSitm decibels(int16_t d, int16_t item, int16_t row, int16_t bean) {
    DataSitm r = dynamicsRow(d, item, row, DataSitm::RANGE, DataSitm::DOUBLE, bean);
    r.width = 4;
    r.unit = " dB";
    r.upper = 50.0;
    return r;
}

// Both modulators, 0 first, each in the order it is written: type, threshold, input and ratio
// sources, curve, range, makeup.
constexpr std::array<DataSitm, kItems> makeRows() {
    std::array<DataSitm, kItems> rows{};
    for (int16_t d = 0; d < 2; ++d) {
        const auto at = static_cast<size_t>(7 * d);
        rows[at] = list(d, 1, 3, 129, DataLclz::sCdyn_type, DataLclz::iCdyn_type);
        rows[at + 1] = dynamicsRow(d, 2, 4, DataSitm::SOURCES, DataSitm::TEXT, 127);
        rows[at + 2] = dynamicsRow(d, 0, 2, DataSitm::SOURCES, DataSitm::TEXT, 126);
        rows[at + 3] = dynamicsRow(d, 3, 5, DataSitm::SOURCES, DataSitm::TEXT, 128);
        rows[at + 4] = list(d, 4, 6, 130, DataLclz::sCdyn_curve, DataLclz::iCdyn_curve);
        rows[at + 5] = decibels(d, 5, 7, 131);
        rows[at + 6] = decibels(d, 6, 8, 132);
    }
    return rows;
}
constexpr std::array<DataSitm, kItems> kRows = makeRows();
constexpr int kRowCount = static_cast<int>(kRows.size());

struct Label {
    const char* text;
    short row;
};
constexpr Label kLabels[] = {
    {DataLclz::sCdyn_inputsourcelabel, 2}, {DataLclz::sCdyn_typelabel, 3},
    {DataLclz::sCdyn_tresholdsourcelabel, 4}, {DataLclz::sCdyn_ratiosourcelabel, 5},
    {DataLclz::sCdyn_ratiocurvelabel, 6}, {DataLclz::sCdyn_rangelimitlabel, 7},
    {DataLclz::sCdyn_gainpadfactorlabel, 8},
};

} // namespace

void CoreDsif::dynamicsEntry(PASS&) {
    for (const Label& l : kLabels) pGrid->write(CoreAnsx(l.text), 0, l.row, 0, false, false);
    for (int16_t d = 0; d < 2; ++d)
        pGrid->write(CoreButl::intas(d + 1) + ":", columnOf(d), 1, 0, false, false);
    selectorEntry(kRows.data(), kRowCount, kItems, 0);
}

void CoreDsif::dynamicsRender(PASS& pass) {
    selectorFrame("  EditMode: DYNs", pass);
    selectorWrites(kRows.data(), kRowCount, 0, pass, nullptr);
    selectorExit(pass);
}
