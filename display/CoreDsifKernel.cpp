// CoreDsif: the kernel page (state 5): how the program's kernel paths are split between the time and
// the frequency domain, their sizes and fade lengths, the FORCEOT2, hybrid and mono options, the
// save batch and the processing load. Items hold milliseconds; the beans give microseconds.
#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsgt.h"
#include "display/CoreDstx.h"
#include "display/DataLclz.h"
#include "processor/CorePrcs.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {

constexpr int kKernelItems = 10;
constexpr int kMostKernelEntries = 21; // "0 Max" and one entry per path up to 20
constexpr short kFirstPathRow = 5;     // screen row of the clean row; even and odd follow
constexpr short kMarkerTimed = 8;
constexpr short kMarkerFreqd = 26;
constexpr short kDirectionButton = 23;

// Items 1 + 3k + r of the three kinds (k: time part, frequency part, fade) for row r.
struct ItemKind {
    short column;
    short width;
};
constexpr ItemKind kKinds[3] = {{13, 5}, {31, 6}, {42, 6}};

// The paths a row stands for below `bound`: r, r + 2, r + 4 ...
std::vector<int32_t> rowPaths(short r, int bound) {
    std::vector<int32_t> paths;
    for (int32_t j = r; j < bound; j += 2) paths.push_back(j);
    return paths;
}

} // namespace

void CoreDsif::kernelEntry(PASS&) {
    iSelectedparameter = -1;
    bPopuparmed = false;
    label("", CoreAnsx(DataLclz::sCkernhdimlabel) + ":", 0, 1);
    label("", CoreAnsx(DataLclz::sCkerncleanlabel) + ":", 0, kFirstPathRow);
    label("", CoreAnsx(DataLclz::sCkernevenlabel) + ":", 0, kFirstPathRow + 1);
    label("", CoreAnsx(DataLclz::sCkernoddslabel) + ":", 0, kFirstPathRow + 2);
    pGrid->write(CoreAnsx(DataLclz::sCkerndirlabel), 13, 4, 0, false, false);
    pGrid->write(CoreAnsx(DataLclz::sCkernfftlabel), 31, 4, 0, false, false);
    pGrid->write(CoreAnsx(DataLclz::sCkernfadeoutlabel), 42, 4, 0, false, false);

    pSelectors->reset(kKernelItems, true, true, 1);
    aKernelkept.reset();
    CorePrcs::BEANSTRUCT none{0, 0};
    // A negative HDIM setting still leaves "0 Max".
    const int entries = std::clamp(std::min<int>(pProcessor->getbh(54, &none), 20) + 1, 1, kMostKernelEntries);
    std::vector<CoreAnsx> labels;
    for (int i = 0; i < entries; ++i) labels.emplace_back(DataLclz::sCkernhdim[i]);
    const short chosen = pProcessor->getbh(55, &none);
    CoreDstx* list = pSelectors->gettx(0);
    list->defne(0, 13, 1, 8, CoreAnsx(""), false, -1);
    list->setel(entries, labels.data(), chosen);
    list->setun();
    aKernelkept.keep(0, chosen, *list);

    for (short kind = 0; kind < 3; ++kind) {
        for (short r = 0; r < 3; ++r) {
            const short slot = static_cast<short>(1 + 3 * kind + r);
            CorePrcs::BEANSTRUCT part{r, kind};
            CorePrcs::BEANSTRUCT path{r, 0};
            const double value = kind < 2 ? pProcessor->getbd(161, &part) : pProcessor->getbd(150, &path);
            const double most = kind < 2 ? pProcessor->getbd(160, &part) : pProcessor->getbd(151, &path);
            CoreDstx* item = pSelectors->gettx(slot);
            item->defne(0, kKinds[kind].column, static_cast<short>(kFirstPathRow + r), kKinds[kind].width,
                        CoreAnsx(DataLclz::sCunitms), false, 1);
            item->setrg(0.0, most * 0.001, value * 0.001);
            item->setun();
            aKernelkept.keep(slot, value, *item);
        }
    }
}

void CoreDsif::kernelRender(PASS& pass) {
    CorePrcs::BEANSTRUCT none{0, 0};
    const short px = pass.click ? pass.column : short{-1};
    const short py = pass.click ? pass.row : short{-1};

    // Row 0: title, active period and processing load.
    pGrid->write(CoreButl::rpad_(CoreAnsx("  KernelMode"), iDimx, ' '), 0, 0, 1, false, false);
    const double period = pProcessor->getbl(10, &none) * 0.001;
    pGrid->write(CoreAnsx("RTE: ") + CoreAnsx(period).SubString(1, 5) + DataLclz::sCunitms, 16, 0, 1, false,
                 false);
    CorePrcs::BEANSTRUCT timing{0, 0};
    pGrid->write(CoreAnsx("PRF:") + CoreButl::lpad_(CoreButl::intas(pProcessor->getbi(166, &timing)), 3, ' ') +
                     DataLclz::sCunitpc,
                 48, 0, 1, false, false);

    pSelectors->focus(pass.column, pass.row, bPointerheld);
    pSelectors->draw_();

    // Only what the user changed is written; the values as loaded never go back.
    CoreDstx* list = pSelectors->gettx(0);
    if (list->ischg() && aKernelkept.chngd(0, *list)) {
        const int16_t paths = static_cast<int16_t>(list->getel());
        pProcessor->setbh(55, paths, &none);
        aKernelkept.keep(0, paths, *list);
    }

    const short n = pProcessor->getbh(75, &none);
    for (short r = 0; r < 3; ++r) kernelDirection(r, n, pass);

    for (short kind = 0; kind < 3; ++kind) {
        for (short r = 0; r < 3; ++r) {
            const short slot = static_cast<short>(1 + 3 * kind + r);
            CoreDstx* item = pSelectors->gettx(slot);
            if (!item->ischg() || !aKernelkept.chngd(slot, *item)) continue;
            const double microseconds = item->getvl() * 1000.0;
            const std::vector<int32_t> paths = rowPaths(r, r == 0 ? 1 : n);
            if (!std::isfinite(microseconds) || paths.empty()) continue;
            for (int32_t j : paths) {
                CorePrcs::BEANSTRUCT target{j, kind};
                if (kind < 2)
                    pProcessor->setbd(161, microseconds, &target);
                else
                    pProcessor->setbd(150, microseconds, &target);
            }
            aKernelkept.keep(slot, microseconds, *item);
        }
    }

    const bool normal = pProcessor->getbb(23, &none);
    if (drtbt(50, 1, CoreAnsx("ECONO "), CoreAnsx("NORMAL"), normal, px, py)) {
        pProcessor->setbb(23, !normal, &none);
        pProcessor->setbh(50, -1, &none);
    }
    const bool hybrid = pProcessor->getbb(27, &none);
    if (drtbt(50, 2, CoreAnsx("SPLITH"), CoreAnsx("CLASSC"), hybrid, px, py))
        kernelBatch("HYBRID", DataLclz::sCkerhybridprint, "BVFORCEHYBRID", !hybrid, "CHANGEHYBRID", pass);

    if (pProcessor->getbb(25, &none)) pGrid->write(CoreAnsx("T"), 45, 0, 1, true, false);

    drawInfoLine(CoreAnsx("  ") + CoreButl::intas(pass.slot) + " " + pProcessor->getbs(56, &none).UpperCase() +
                 "  ");

    const bool stereo = pProcessor->getbb(33, &none);
    if (drtbt(40, 1, CoreAnsx("MONO-L"), CoreAnsx("STEREO"), stereo, px, py))
        kernelBatch("MONO", DataLclz::sCkermonoprint, "BVFORCEMONO", !stereo, "CHANGEMONO", pass);

    if (drbtn(40, 2, CoreAnsx(" SAVE   "), px, py)) {
        pProcessor->setbv(225, &none);
        btcst("SAVING", DataLclz::sCgensavingprint);
        btcst("ACTION", "KERN");
        btcst("NEXTSTEP", "SAVEPROGRAM");
        pass.action = "BTCH";
    }
}

// The marker "(count)" under TIMED or FREQD and the button that asks for the other side; a row
// whose paths are not in use shows neither.
void CoreDsif::kernelDirection(short r, short n, PASS& pass) {
    CorePrcs::BEANSTRUCT none{0, 0};
    const short y = static_cast<short>(kFirstPathRow + r);
    const short px = pass.click ? pass.column : short{-1};
    const short py = pass.click ? pass.row : short{-1};
    CoreAnsx marker("");
    if (r == 0) {
        if (pProcessor->getbb(27, &none)) { // hybrid loading: one clean set, no choice
            pGrid->write(CoreAnsx("(1)"), kMarkerTimed, y, 0, false, false);
            pGrid->write(CoreAnsx("(1)"), kMarkerFreqd, y, 0, false, false);
            return;
        }
        marker = pProcessor->getbh(74, &none) >= 0 ? "(2)" : "(1)";
    } else if (n > r) {
        const int count = r == 1 ? n / 2 : (n + 1) / 2 - 1;
        marker = CoreAnsx("(") + CoreButl::intas(count) + ")";
    } else {
        pGrid->write(CoreAnsx("   "), kMarkerTimed, y, 0, false, false);
        pGrid->write(CoreAnsx("   "), kMarkerFreqd, y, 0, false, false);
        pGrid->write(CoreAnsx(" "), kDirectionButton, y, 0, false, false);
        return;
    }
    CorePrcs::BEANSTRUCT first{r, 0};
    const bool timed = pProcessor->getbb(162, &first);
    pGrid->write(marker, timed ? kMarkerTimed : kMarkerFreqd, y, 0, false, false);
    pGrid->write(CoreAnsx("   "), timed ? kMarkerFreqd : kMarkerTimed, y, 0, false, false);
    if (!drbtn(kDirectionButton, y, CoreAnsx(timed ? ">" : "<"), px, py)) return;
    for (int32_t j : rowPaths(r, r == 0 ? 1 : n)) {
        CorePrcs::BEANSTRUCT path{j, 0};
        pProcessor->setbb(165, timed, &path);
    }
    pProcessor->setbh(50, -1, &none);
}

// The hybrid and mono reloads: "1" switches the option on, the empty text off.
void CoreDsif::kernelBatch(const char* key, const char* print, const char* flag, bool on, const char* step,
                           PASS& pass) {
    CorePrcs::BEANSTRUCT none{0, 0};
    pProcessor->setbv(225, &none);
    btcst(key, print);
    btcst("LOADED", DataLclz::sCgenloadedprint);
    btcst("LOADING", DataLclz::sCgenloadingprint);
    btcst("NEWPROGRAM", CoreButl::intas(pass.slot));
    btcst(flag, on ? "1" : "");
    btcst("ACTION", "KERN");
    btcst("NEXTSTEP", step);
    pass.action = "BTCH";
}
