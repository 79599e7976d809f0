// CoreDsif: the envelope follower page: one of the five followers at a time (chosen with "<<" and
// ">>"): detector type, attack and release ranges with their sources, balance and high-pass.
#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "display/CoreDsbf.h"
#include "display/CoreDstx.h"
#include "display/DataLclz.h"
#include "processor/CorePrcs.h"

#include <array>

namespace {

constexpr const char* kFollowerTitle = "  EditMode: EVFs";
constexpr short kFollowerItems = 13;
constexpr short kLastFollower = 4;

using R = DataSitm;

constexpr DataSitm timeRow(int16_t slot, int16_t row, double upper, int16_t bean) {
    return {.slot = slot, .column = 14, .row = row, .width = 5, .unit = DataLclz::sCunitms, .whole = true,
            .lower = 1, .upper = upper, .type = R::LONG, .readBean = bean, .writeBean = bean, .byElement = true,
            .conv = R::SAMPLES, .apply = 121};
}

constexpr DataSitm sourceRow(int16_t slot, int16_t column, int16_t row, int16_t bean) {
    return {.slot = slot, .column = column, .row = row, .width = 7, .kind = R::SOURCES, .type = R::TEXT,
            .readBean = bean, .writeBean = bean, .byElement = true, .conv = R::KEYTEXT, .apply = 121};
}

// In the order the follower is written: one group, the first change enough, then bean 121.
constexpr std::array<DataSitm, kFollowerItems> kFollowerRows = {{
    timeRow(1, 3, 600, 114),
    timeRow(2, 4, 5000, 115),
    sourceRow(3, 14, 5, 116),
    timeRow(4, 6, 600, 117),
    timeRow(5, 7, 5000, 118),
    sourceRow(6, 14, 8, 119),
    {.slot = 7, .column = 14, .row = 9, .width = 4, .unit = DataLclz::sCunitpc, .whole = true, .lower = 0,
     .upper = 100, .readBean = 113, .writeBean = 120, .byElement = true, .conv = R::SCALED, .factor = 100.0,
     .apply = 121},
    {.slot = 0, .column = 14, .row = 2, .width = 10, .kind = R::LIST, .list = DataLclz::sCevf_type,
     .count = DataLclz::iCevf_type, .type = R::SHORT, .readBean = 112, .writeBean = 112, .byElement = true,
     .apply = 121},
    sourceRow(8, 45, 5, 252),
    sourceRow(9, 45, 8, 253),
    {.slot = 10, .column = 14, .row = 10, .width = 5, .unit = DataLclz::sCunithz, .whole = true, .lower = 0,
     .upper = 5000, .readBean = 259, .writeBean = 259, .byElement = true, .apply = 121},
    {.slot = 11, .column = 26, .row = 10, .width = 1, .kind = R::LIST, .list = DataLclz::sCevf_order,
     .count = DataLclz::iCevf_order, .type = R::INT, .readBean = 260, .writeBean = 260, .byElement = true,
     .conv = R::KEYTEXT, .apply = 121},
    sourceRow(12, 45, 10, 261),
}};

} // namespace

void CoreDsif::followerEntry(PASS&) {
    const struct {
        const char* text;
        short x, y;
    } labels[] = {
        {DataLclz::sCevf_explabel, 0, 2},           {DataLclz::sCevf_minattacklabel, 0, 3},
        {DataLclz::sCevf_maxattacklabel, 0, 4},     {DataLclz::sCevf_attacksourcelabel, 0, 5},
        {DataLclz::sCevf_dattacksourcelabel, 30, 5}, {DataLclz::sCevf_minreleaselabel, 0, 6},
        {DataLclz::sCevf_maxreleaselabel, 0, 7},    {DataLclz::sCevf_releasesourcelabel, 0, 8},
        {DataLclz::sCevf_dreleasesourcelabel, 30, 8}, {DataLclz::sCevf_outputbalancelabel, 0, 9},
        {DataLclz::sCevf_highpasslabel, 0, 10},     {DataLclz::sCevf_highpassorderlabel, 23, 10},
        {DataLclz::sCevf_highpasssourcelabel, 30, 10},
    };
    for (const auto& l : labels) pGrid->write(CoreAnsx(l.text), l.x, l.y, 0, false, false);
    if (iFollower < 0 || iFollower > kLastFollower) iFollower = 0;
    selectorEntry(kFollowerRows.data(), static_cast<int>(kFollowerRows.size()), kFollowerItems, iFollower);
}

void CoreDsif::followerRender(PASS& pass) {
    selectorFrame(kFollowerTitle, pass);
    const int count = static_cast<int>(kFollowerRows.size());
    if (selectorChanged(kFollowerRows.data(), count, 0)) {
        // Which ends of the two ranges the user moved: only those correct their pair.
        CoreDstx* items[6] = {};
        bool moved[6] = {};
        for (short s = 1; s <= 5; ++s) {
            items[s] = selectorItem(s);
            moved[s] = items[s] && mSelectorback.chngd(s, *items[s]);
        }
        selectorWrite(kFollowerRows.data(), count, 0, iFollower);
        for (short low : {short{1}, short{4}}) {
            CoreDstx* minimum = items[low];
            CoreDstx* maximum = items[low + 1];
            if (!minimum || !maximum || !(moved[low] || moved[low + 1])) continue;
            // The raised maximum counts as a change and is written on the next pass.
            if (minimum->getvl() > maximum->getvl()) maximum->setrg(minimum->getvl());
        }
    }
    selectorExit(pass);
    if (drbtn(50, 1, CoreAnsx("<<"), pass.column, pass.row) && iFollower > 0) {
        --iFollower;
        bReentry = true;
    }
    if (drbtn(55, 1, CoreAnsx(">>"), pass.column, pass.row) && iFollower < kLastFollower) {
        ++iFollower;
        bReentry = true;
    }
    pGrid->write(CoreButl::rpad_(CoreButl::intas(iFollower + 1), 2, ' '), 53, 1, 0, false, false);
}
