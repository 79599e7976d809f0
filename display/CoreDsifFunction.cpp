// CoreDsif: the function page: the eight function modulators of the program, one row each: input A,
// input B (each a source or a constant, with the constant's level in dB) and the operation.
#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "display/CoreDsbf.h"
#include "display/DataLclz.h"
#include "processor/CorePrcs.h"

#include <array>

namespace {

constexpr const char* kFunctionTitle = "  EditMode: FUNs";
constexpr int kFunctions = 8;
constexpr short kFunctionItems = 3 * kFunctions;

using R = DataSitm;

const std::array<DataSitm, kFunctionItems>& functionRows() {
    static const std::array<DataSitm, kFunctionItems> rows = [] {
        std::array<DataSitm, kFunctionItems> t{};
        for (int16_t i = 0; i < kFunctions; ++i) {
            const auto row = static_cast<int16_t>(2 + i);
            const auto slot = static_cast<int16_t>(3 * i);
            // A row of three is written together when any of its items changed.
            t[static_cast<size_t>(slot)] = {.slot = slot, .column = 4, .row = row, .width = 7,
                                            .kind = R::DUALSOURCE, .lower = -1, .upper = 1, .type = R::TEXT,
                                            .readBean = 110, .writeBean = 104, .index = i, .group = i,
                                            .constantFlagBean = 108, .constantBean = 106};
            t[static_cast<size_t>(slot + 1)] = {.slot = static_cast<int16_t>(slot + 1), .column = 22, .row = row,
                                                .width = 7, .kind = R::DUALSOURCE, .lower = -1, .upper = 1,
                                                .type = R::TEXT, .readBean = 111, .writeBean = 105, .index = i,
                                                .group = i, .constantFlagBean = 109, .constantBean = 107};
            t[static_cast<size_t>(slot + 2)] = {.slot = static_cast<int16_t>(slot + 2), .column = 40, .row = row,
                                                .width = 15, .kind = R::OPERATIONS, .type = R::TEXT,
                                                .readBean = 103, .writeBean = 103, .index = i, .conv = R::KEYTEXT,
                                                .group = i};
        }
        return t;
    }();
    return rows;
}

} // namespace

// "(" level "%4.1f" ")" of a constant c in -1 .. 1 taken as (c + 1) / 2.
CoreAnsx CoreDsif::functionLevel(double constant) {
    CoreAnsx text("");
    text.sprintf("(%4.1f)", CoreButl::lvldb((constant + 1.0) / 2.0));
    return text;
}

void CoreDsif::functionEntry(PASS&) {
    const struct {
        const char* text;
        short x;
    } headings[] = {
        {DataLclz::sCfun_alabel, 4}, {DataLclz::sCfun_adblabel, 13}, {DataLclz::sCfun_blabel, 22},
        {DataLclz::sCfun_bdblabel, 31}, {DataLclz::sCfun_funlabel, 40},
    };
    for (const auto& h : headings) pGrid->write(CoreAnsx(h.text), h.x, 1, 0, false, false);
    for (int i = 0; i < kFunctions; ++i) label(CoreAnsx(""), CoreButl::intas(i + 1) + ":", 0, 2 + i);
    const auto& rows = functionRows();
    selectorEntry(rows.data(), static_cast<int>(rows.size()), kFunctionItems, 0);
}

void CoreDsif::functionRender(PASS& pass) {
    selectorFrame(kFunctionTitle, pass);
    const auto& rows = functionRows();
    selectorWrites(rows.data(), static_cast<int>(rows.size()), 0, pass, nullptr);
    // The level columns follow the engine on every pass.
    for (int i = 0; i < kFunctions; ++i) {
        CorePrcs::BEANSTRUCT b{i, 0};
        const struct {
            int flag, constant;
            short column;
        } inputs[] = {{108, 106, 13}, {109, 107, 31}};
        for (const auto& input : inputs) {
            const CoreAnsx text =
                pProcessor->getbb(input.flag, &b) ? functionLevel(pProcessor->getbd(input.constant, &b)) : CoreAnsx(" ");
            pGrid->write(CoreButl::rpad_(text, 8, ' '), input.column, static_cast<short>(2 + i), 0, false, false);
        }
    }
    selectorExit(pass);
}
