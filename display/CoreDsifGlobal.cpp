// CoreDsif: the global page: gain pads, update period and its status, kernel smoothing, feedback,
// look-ahead, dry gain with their sources, and the status and value of the eight mix controls.
#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsgt.h"
#include "display/CoreDstx.h"
#include "display/DataLclz.h"
#include "processor/CorePrcs.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

constexpr const char* kGlobalTitle = "  EditMode: Global";
constexpr short kGlobalItems = 27;
constexpr short kPeriodGroup = 2;    // slots 2 and 3
constexpr short kSmoothingGroup = 3; // slot 4
constexpr short kFirstMixGroup = 9;  // control i: slots 10 + i and 18 + i
constexpr double kPeriodUpper = 200.0;

using R = DataSitm;

constexpr DataSitm sourceRow(int16_t slot, int16_t column, int16_t row, int16_t bean, int16_t group) {
    return {.slot = slot, .column = column, .row = row, .width = 8, .kind = R::SOURCES, .type = R::TEXT,
            .readBean = bean, .writeBean = bean, .conv = R::KEYTEXT, .group = group};
}

const std::array<DataSitm, kGlobalItems>& globalRows() {
    static const std::array<DataSitm, kGlobalItems> rows = [] {
        std::array<DataSitm, kGlobalItems> t{};
        t[0] = {.slot = 0, .column = 10, .row = 1, .unit = DataLclz::sCunitdb, .lower = -40, .upper = 40,
                .readBean = 0, .writeBean = 0, .conv = R::DECIBEL, .group = 0};
        t[1] = {.slot = 1, .column = 10, .row = 2, .unit = DataLclz::sCunitdb, .lower = -40, .upper = 40,
                .readBean = 1, .writeBean = 1, .conv = R::DECIBEL, .group = 1};
        // The period's bounds and value are set by the page (globalPeriod) after the load.
        t[2] = {.slot = 2, .column = 10, .row = 3, .unit = DataLclz::sCunitms, .lower = 0.25, .upper = kPeriodUpper,
                .type = R::LONG, .readBean = 10, .conv = R::SCALED, .factor = 0.001, .group = kPeriodGroup};
        t[3] = {.slot = 3, .column = 10, .row = 4, .width = 9, .kind = R::LIST, .list = DataLclz::sCgeneoffon,
                .count = DataLclz::iCgeneoffon, .type = R::BOOL, .readBean = 11, .conv = R::FLAG,
                .group = kPeriodGroup};
        t[4] = {.slot = 4, .column = 10, .row = 5, .width = 8, .kind = R::LIST, .list = DataLclz::sCglobsmooth,
                .count = DataLclz::iCglobsmooth, .readBean = 14, .group = kSmoothingGroup};
        t[5] = {.slot = 5, .column = 42, .row = 1, .width = 6, .unit = DataLclz::sCunitpc, .lower = 0, .upper = 100,
                .readBean = 8, .writeBean = 8, .conv = R::SCALED, .factor = 100.0, .group = 4};
        t[6] = sourceRow(6, 42, 2, 9, 5);
        // The look-ahead's upper bound is the program's look-ahead length (globalLookAhead).
        t[7] = {.slot = 7, .column = 42, .row = 3, .unit = DataLclz::sCunitms, .lower = 0, .upper = 0,
                .type = R::LONG, .readBean = 7, .writeBean = 7, .conv = R::SCALED, .factor = 0.001, .group = 6};
        t[8] = {.slot = 8, .column = 42, .row = 4, .unit = DataLclz::sCunitdb, .lower = -192.5, .upper = 0,
                .readBean = 12, .writeBean = 12, .conv = R::DECIBEL, .group = 7};
        t[9] = sourceRow(9, 42, 5, 13, 8);
        for (int16_t i = 0; i < 8; ++i) {
            const auto column = static_cast<int16_t>(4 + 7 * i);
            const auto group = static_cast<int16_t>(kFirstMixGroup + i);
            t[static_cast<size_t>(10 + i)] = {.slot = static_cast<int16_t>(10 + i), .column = column, .row = 8,
                                              .kind = R::LIST, .list = DataLclz::sCgeneoffon,
                                              .count = DataLclz::iCgeneoffon, .type = R::BOOL, .readBean = 192,
                                              .index = i, .conv = R::FLAG, .group = group};
            t[static_cast<size_t>(18 + i)] = {.slot = static_cast<int16_t>(18 + i), .column = column, .row = 9,
                                              .lower = -1, .upper = 1, .readBean = 193, .index = i,
                                              .conv = R::BIPOLAR, .group = group};
        }
        t[26] = sourceRow(26, 10, 11, 39, 17);
        return t;
    }();
    return rows;
}

} // namespace

// The period item: bounds by bean 57, the value from bean 10 in milliseconds, at most 200.
void CoreDsif::globalPeriod() {
    CoreDstx* item = selectorItem(2);
    if (!item) return;
    const double lower = pProcessor->getbb(57, nullptr) ? 0.046 : 0.25;
    const double microseconds = pProcessor->getbl(10, nullptr);
    item->setrg(lower, kPeriodUpper, std::min(kPeriodUpper, microseconds * 0.001));
    selectorKeep(globalRows()[2], microseconds);
}

void CoreDsif::globalLookAhead() {
    CoreDstx* item = selectorItem(7);
    if (!item) return;
    const double raw = pProcessor->getbl(7, nullptr);
    item->setrg(0.0, pProcessor->getbd(19, nullptr) * 0.001, raw * 0.001);
    selectorKeep(globalRows()[7], raw);
}

void CoreDsif::globalEntry(PASS&) {
    const struct {
        const char* text;
        short x, y;
    } labels[] = {
        {DataLclz::sCglobgainpadinlabel, 0, 1},       {DataLclz::sCglobgainpadoutlabel, 0, 2},
        {DataLclz::sCglobprogramratelabel, 0, 3},     {DataLclz::sCglobprogramratestatuslabel, 0, 4},
        {DataLclz::sCglobsmoothlabel, 0, 5},          {DataLclz::sCglobfeedbackfactorlabel, 30, 1},
        {DataLclz::sCglobfeedbacksourcelabel, 30, 2}, {DataLclz::sCgloblookaheadlabel, 30, 3},
        {DataLclz::sCglobgaindryfactorlabel, 30, 4},  {DataLclz::sCglobgaindrysourcelabel, 30, 5},
        {DataLclz::sCglobstatuslabel, 0, 8},          {DataLclz::sCglobvaluelabel, 0, 9},
        {DataLclz::sCgloblookaheadsourcelabel, 0, 11},
    };
    for (const auto& l : labels) pGrid->write(CoreAnsx(l.text), l.x, l.y, 0, false, false);
    for (int i = 0; i < 8; ++i)
        pGrid->write(CoreAnsx(DataLclz::sCglobmixlabel) + CoreButl::intas(i + 1), static_cast<short>(4 + 7 * i), 7, 0,
                     false, false);
    const auto& rows = globalRows();
    selectorEntry(rows.data(), static_cast<int>(rows.size()), kGlobalItems, 0);
    globalPeriod();
    globalLookAhead();
}

void CoreDsif::globalRender(PASS& pass) {
    selectorFrame(kGlobalTitle, pass);
    const auto& rows = globalRows();
    selectorWrites(rows.data(), static_cast<int>(rows.size()), 0, pass, &CoreDsif::globalOwnGroup);
    selectorExit(pass);
}

// The groups the global page writes itself: the period with its status, the smoothing, and each
// mix control's status and value.
void CoreDsif::globalOwnGroup(short group, PASS& pass) {
    const auto& rows = globalRows();
    if (group == kPeriodGroup) {
        CoreDstx* period = selectorItem(2);
        CoreDstx* status = selectorItem(3);
        if (!period || !status) return;
        const bool on = status->getel() != 0;
        pProcessor->setbb(11, on, nullptr);
        selectorKeep(rows[3], on ? 1.0 : 0.0);
        if (on) {
            const double microseconds = mSelectorback.chngd(2, *period) ? selectorStored(rows[2], period->getvl())
                                                                         : mSelectorback.rawnm(2);
            pProcessor->setbl(10, static_cast<int32_t>(microseconds), nullptr);
        }
        globalPeriod();
        return;
    }
    if (group == kSmoothingGroup) {
        CoreDstx* smoothing = selectorItem(4);
        if (!smoothing) return;
        const int position = smoothing->getel();
        selectorKeep(rows[4], position);
        // Applies the smoothing to the current program; false: only a reload can apply it.
        CorePrcs::BEANSTRUCT b{position - 1, 0};
        if (!pProcessor->getbb(14, &b)) startLoad(pass.slot, CoreAnsx("GLOB"), pass);
        return;
    }
    const int i = group - kFirstMixGroup;
    if (i < 0 || i >= 8) return;
    CoreDstx* status = selectorItem(static_cast<short>(10 + i));
    CoreDstx* value = selectorItem(static_cast<short>(18 + i));
    if (!status || !value) return;
    const double v = std::isfinite(value->getvl()) ? std::clamp(value->getvl(), -1.0, 1.0) : 0.0;
    CorePrcs::BEANSTRUCT b{i, 0};
    pProcessor->setbd(status->getel() != 0 ? 191 : 189, v, &b);
    selectorKeep(rows[static_cast<size_t>(10 + i)], status->getel() != 0 ? 1.0 : 0.0);
    selectorKeep(rows[static_cast<size_t>(18 + i)], (v + 1.0) / 2.0);
}
