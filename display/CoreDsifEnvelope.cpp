// CoreDsif: the envelope page: the level, time and curve of the four stages of one of the program's
// two envelopes, the sources that start and release it and the amounts and sources that modulate its
// levels and times. All eighteen items form one write group, applied by action bean 143; "<<" and
// ">>" step between the envelopes.
#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "display/CoreDsbf.h"
#include "display/DataLclz.h"
#include "display/DataSitm.h"

namespace {

constexpr int16_t kApply = 143;
constexpr short kItems = 18;

// Every row indexes its beans by the envelope number; all are asked before the one write.
constexpr DataSitm envelopeRow(int16_t slot, int16_t column, int16_t row, int16_t width, DataSitm::Kind kind,
                               DataSitm::Bean type, int16_t bean, int16_t stage = 0) {
    return DataSitm{.slot = slot, .column = column, .row = row, .width = width, .kind = kind, .type = type,
                    .readBean = bean, .writeBean = bean, .subindex = stage, .byElement = true,
                    .rule = DataSitm::ALL, .apply = kApply};
}

constexpr DataSitm level(int16_t stage) {
    DataSitm r = envelopeRow(static_cast<int16_t>(2 + stage), 10, static_cast<int16_t>(4 + stage), 5,
                             stage == 0 ? DataSitm::DUALJOIN : DataSitm::RANGE, DataSitm::DOUBLE, 134, stage);
    if (stage == 0) {
        r.list = DataLclz::sCenv_attacksmooth;
        r.count = DataLclz::iCenv_attacksmooth;
    }
    return r;
}

constexpr DataSitm stageTime(int16_t stage) {
    DataSitm r = envelopeRow(static_cast<int16_t>(8 + stage), 30, static_cast<int16_t>(4 + stage), 7,
                             DataSitm::RANGE, DataSitm::LONG, 137, stage);
    r.unit = " ms";
    r.whole = true;
    r.lower = 1.0;
    r.upper = 600.0;
    r.conv = DataSitm::SAMPLES;
    return r;
}

constexpr DataSitm curve(int16_t stage) {
    DataSitm r = envelopeRow(static_cast<int16_t>(14 + stage), 40, static_cast<int16_t>(4 + stage), 7,
                             DataSitm::LIST, DataSitm::SHORT, 138, stage);
    r.list = DataLclz::sCenv_curve;
    r.count = DataLclz::iCenv_curve;
    return r;
}

constexpr DataSitm source(int16_t slot, int16_t column, int16_t row, int16_t bean) {
    return envelopeRow(slot, column, row, 7, DataSitm::SOURCES, DataSitm::TEXT, bean);
}

constexpr DataSitm amount(int16_t slot, int16_t column, int16_t bean) {
    return envelopeRow(slot, column, 8, 5, DataSitm::RANGE, DataSitm::DOUBLE, bean);
}

// In the order the envelope is written: each stage's level, time and curve, then the sources and the
// two amounts with their sources.
constexpr DataSitm kRows[] = {
    level(0), stageTime(0), curve(0), level(1), stageTime(1), curve(1),
    level(2), stageTime(2), curve(2), level(3), stageTime(3), curve(3),
    source(0, 10, 1, 139), source(1, 30, 1, 140),
    amount(6, 10, 135), source(7, 10, 9, 141),
    amount(12, 30, 136), source(13, 30, 9, 142),
};
constexpr int kRowCount = static_cast<int>(sizeof kRows / sizeof kRows[0]);

struct Label {
    const char* text;
    short column, row;
};
constexpr Label kLabels[] = {
    {DataLclz::sCenv_activsourcelabel, 0, 1},    {DataLclz::sCenv_deactivsourcelabel, 20, 1},
    {DataLclz::sCenv_levellabel, 10, 3},         {DataLclz::sCenv_timelabel, 30, 3},
    {DataLclz::sCenv_curvelabel, 40, 3},         {DataLclz::sCenv_levelstartlabel, 0, 4},
    {DataLclz::sCenv_levelattacklabel, 0, 5},    {DataLclz::sCenv_levelbreaklabel, 0, 6},
    {DataLclz::sCenv_levelsustainlabel, 0, 7},   {DataLclz::sCenv_levelmodfactorlabel, 0, 8},
    {DataLclz::sCenv_levelmodsourcelabel, 0, 9}, {DataLclz::sCenv_attacklabel, 20, 4},
    {DataLclz::sCenv_decaylabel, 20, 5},         {DataLclz::sCenv_slopelabel, 20, 6},
    {DataLclz::sCenv_releaselabel, 20, 7},       {DataLclz::sCenv_modfactorlabel, 20, 8},
    {DataLclz::sCenv_modsourcelabel, 20, 9},
};

} // namespace

void CoreDsif::envelopeEntry(PASS&) {
    for (const Label& l : kLabels) pGrid->write(CoreAnsx(l.text), l.column, l.row, 0, false, false);
    if (iEnvelope < 0 || iEnvelope > 1) iEnvelope = 0;
    selectorEntry(kRows, kRowCount, kItems, iEnvelope);
}

void CoreDsif::envelopeRender(PASS& pass) {
    selectorFrame("  EditMode: ENVs", pass);
    selectorWrites(kRows, kRowCount, iEnvelope, pass, nullptr);
    selectorExit(pass);
    if (drbtn(50, 1, CoreAnsx("<<"), pass.column, pass.row) && iEnvelope > 0) {
        --iEnvelope;
        bReentry = true;
    }
    if (drbtn(55, 1, CoreAnsx(">>"), pass.column, pass.row) && iEnvelope <= 0) {
        ++iEnvelope;
        bReentry = true;
    }
    pGrid->write(CoreButl::rpad_(CoreButl::intas(iEnvelope + 1), 2, ' '), 53, 1, 0, false, false);
}
