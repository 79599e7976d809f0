// CoreDsif: the full and the compact master settings pages (states 2 and 19). Every setting is a text
// item loaded at entry; an item is written back only when the user changed it, so that viewing a page
// never rewrites a setting through the item's rounding or list substitution.
#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "base/CoreHutl.h"
#include "base/CoreLog_.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsgt.h"
#include "display/CoreDstx.h"
#include "display/CoreDswb.h"
#include "display/DataLclz.h"
#include "processor/CorePrcs.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

enum MasterSlot : short {
    kMode,
    kMeters,
    kColour,
    kQuality,
    kOptTimed,
    kTimedLength,
    kOptFreqd,
    kFreqdLength,
    kProgramRate,
    kGuiRate,
    kOffset,
    kAhead,
    kKernels,
    kRateConversion,
    kScanBoot,
    kBoot,
    kGhost,
    kDspBuffer,
    kLoaderPriority,
    kSkin,
    kMasterItems
};
constexpr short kCompactItems = 3;

struct Place {
    short row;
    short labelColumn;
    short valueColumn;
    short width;
    const char* label;
    const char* unit;
    short decimals;
};

// The full page's items in selector order (rows from the base row 3).
const Place kFullPage[kMasterItems] = {
    {3, 0, 13, 16, DataLclz::sCmastmodelabel, "", -1},
    {3, 30, 43, 15, DataLclz::sCmastmetertypelabel, "", -1},
    {4, 0, 13, 16, DataLclz::sCmastfontcolourlabel, "", -1},
    {4, 30, 43, 9, DataLclz::sCmastaudioqualitylabel, DataLclz::sCunittimes, -1},
    {5, 0, 13, 16, DataLclz::sCmastoptimizationlabel, "", -1},
    {5, 30, 43, 12, DataLclz::sCmastforcelengthlabel, DataLclz::sCunitms, 1},
    {6, 0, 13, 16, DataLclz::sCmastoptimizationfftlabel, "", -1},
    {6, 30, 43, 13, DataLclz::sCmastforcelengthfftlabel, DataLclz::sCunitsc, 3},
    {7, 0, 13, 13, DataLclz::sCmastprogramratelabel, DataLclz::sCunitms, 1},
    {7, 30, 43, 12, DataLclz::sCmastguiratelabel, DataLclz::sCunitms, 1},
    {8, 0, 13, 13, DataLclz::sCmastforceoffsetlabel, DataLclz::sCunitms, 1},
    {8, 30, 43, 12, DataLclz::sCmastaheadlabel, DataLclz::sCunitms, 1},
    {9, 0, 13, 16, DataLclz::sCmasthdimlabel, "", -1},
    {9, 30, 43, 12, DataLclz::sCmastforceratelabel, DataLclz::sCunitms, 2},
    {10, 0, 13, 16, DataLclz::sCmastscanbootlabel, "", -1},
    {10, 30, 43, 15, DataLclz::sCmastbootlabel, "", -1},
    {11, 0, 13, 16, DataLclz::sCmastnodroplabel, "", -1},
    {11, 30, 43, 15, DataLclz::sCmastdspbufferlabels, "", -1},
    {12, 0, 13, 16, DataLclz::sCmastloaderprioritylabel, "", -1},
    {12, 30, 43, 15, DataLclz::sCmastskinlabel, "", -1},
};

// The compact page: MODE, METERS and COLOUR one below the other.
const Place kCompactPage[kCompactItems] = {
    {3, 0, 13, 16, DataLclz::sCmastmodelabel, "", -1},
    {4, 0, 13, 16, DataLclz::sCmastmetertypelabel, "", -1},
    {5, 0, 13, 16, DataLclz::sCmastfontcolourlabel, "", -1},
};

constexpr short kMarkColumn = 11; // the "!" beside OPT TIMED (row 5) and OPT FREQD (row 6)

std::vector<CoreAnsx> texts(const char* const* list, int n) {
    std::vector<CoreAnsx> out;
    for (int i = 0; i < n; ++i) out.emplace_back(list[i]);
    return out;
}

void loadList(CoreDstx& item, const std::vector<CoreAnsx>& list, int position) {
    item.setel(static_cast<int>(list.size()), list.empty() ? nullptr : list.data(), position);
}

// A shown time to the engine's whole unit: truncated as the setting is, but a value that lies a
// rounding error below a whole unit (3.0 ms arriving as 2.9999999 ms) counts as that unit.
int32_t wholeUnits(double value, double scale) {
    const double scaled = value * scale;
    if (!std::isfinite(scaled)) return 0;
    const double whole = std::trunc(scaled + std::copysign(1e-6, scaled));
    if (whole >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    if (whole <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(whole);
}

// The DSP buffer's list position: 128 .. 8192 by powers of two; anything else shows "128".
int dspBufferPosition(int32_t samples) {
    if (samples <= 0) return 0;
    const double p = std::trunc(std::log10(static_cast<double>(samples)) / std::log10(2.0)) - 7.0;
    return p < 0.0 || p >= DataLclz::iCmastdspbuffers ? 0 : static_cast<int>(p);
}

} // namespace

// ---- entry steps

// VERSION line and the labels of the given items.
void CoreDsif::masterHeader(int items, bool full) {
    CorePrcs::BEANSTRUCT none{};
    pGrid->write(CoreAnsx(DataLclz::sCmastversionlabel) + ":", 0, 1, 0, false, false);
    pGrid->write(pProcessor->getbs(47, &none) + " " + CoreLog_::sCsubvrsn_, 13, 1, 0, false, false);
    const Place* places = full ? kFullPage : kCompactPage;
    for (int i = 0; i < items; ++i)
        label(CoreAnsx(""), CoreAnsx(places[i].label) + ":", places[i].labelColumn, places[i].row);
}

// Defines slots 0 .. items - 1 and loads them from the engine, recording each load as seen.
void CoreDsif::loadMasterItems(int items, bool full) {
    CoreDswb& kept = oMasterkept;
    kept.reset();
    CorePrcs::BEANSTRUCT none{};
    const Place* places = full ? kFullPage : kCompactPage;
    const std::vector<CoreAnsx> optimizations = texts(DataLclz::sCmastoptimization, DataLclz::iCmastoptimization);
    for (short slot = 0; slot < items; ++slot) {
        CoreDstx* item = pSelectors->gettx(slot);
        if (!item) continue;
        const Place& p = places[slot];
        item->defne(0, p.valueColumn, p.row, p.width, CoreAnsx(p.unit), false, p.decimals);
        double raw = 0.0;
        const auto list = [&](const std::vector<CoreAnsx>& entries, double value, int position) {
            raw = value;
            loadList(*item, entries, position);
        };
        const auto range = [&](double lower, double upper, double value, double scale) {
            raw = value;
            item->setrg(lower, upper, value * scale);
        };
        switch (slot) {
        case kMode: {
            const bool mode = pProcessor->getbb(41, &none);
            list(texts(DataLclz::sCmastmode, DataLclz::iCmastmode), mode ? 1 : 0, mode ? 1 : 0);
            break;
        }
        case kMeters: {
            const int16_t type = pProcessor->getbh(48, &none);
            list(texts(DataLclz::sCmastmetertype, DataLclz::iCmastmetertype), type, type);
            break;
        }
        case kColour: {
            std::vector<CoreAnsx> sets;
            const int16_t count = pHost ? pHost->fontSetCount() : int16_t{0};
            for (int16_t i = 0; i < count; ++i) sets.push_back(pHost->fontSetName(i));
            const int16_t colour = pProcessor->getbh(32, &none);
            list(sets, colour, colour);
            break;
        }
        case kQuality: {
            const int16_t quality = pProcessor->getbh(45, &none);
            list(texts(DataLclz::sCmastaudioquality, DataLclz::iCmastaudioquality), quality, quality - 1);
            break;
        }
        case kOptTimed:
        case kOptFreqd: {
            const int16_t mode = pProcessor->getbh(slot == kOptTimed ? 50 : 51, &none);
            list(optimizations, mode, mode - 1);
            break;
        }
        case kTimedLength:
        case kFreqdLength: {
            CorePrcs::BEANSTRUCT which{slot == kTimedLength ? 0 : 1, 0};
            const int32_t us = pProcessor->getbl(158, &which);
            if (slot == kTimedLength) {
                range(6.0, 30.0, us, 0.001);
            } else {
                // The longest forced FFT length follows the DSP buffer; never below the shortest.
                const double longest = std::max(pProcessor->getbd(36, &none) * 0.000001, 0.006);
                range(0.006, std::isfinite(longest) ? longest : 0.006, us, 0.000001);
            }
            break;
        }
        case kProgramRate: range(1.0, 40.0, pProcessor->getbl(52, &none), 0.001); break;
        case kGuiRate: range(5.0, 150.0, pProcessor->getbl(65, &none), 0.001); break;
        case kOffset: range(0.5, 2.0, pProcessor->getbl(70, &none), 0.001); break;
        case kAhead: range(0.0, 6.0, pProcessor->getbd(19, &none), 0.001); break;
        case kKernels: {
            const int n = std::clamp<int>(iKernellimit, 0, DataLclz::iCmasthdim);
            const int16_t hdim = pProcessor->getbh(54, &none);
            list(texts(DataLclz::sCmasthdim, n), hdim, hdim - 1);
            break;
        }
        case kRateConversion: range(0.0, 9000.0, pProcessor->getbl(30, &none), 0.001); break;
        case kScanBoot:
        case kBoot:
        case kGhost: {
            static const int32_t beans[] = {20, 21, 35};
            static const std::vector<CoreAnsx> lists[] = {
                texts(DataLclz::sCmastscanboot, DataLclz::iCmastscanboot),
                texts(DataLclz::sCmastboot, DataLclz::iCmastboot),
                texts(DataLclz::sCmastnodrop, DataLclz::iCmastnodrop)};
            const int k = slot - kScanBoot;
            const bool on = pProcessor->getbb(beans[k], &none);
            list(lists[k], on ? 1 : 0, on ? 1 : 0);
            break;
        }
        case kDspBuffer: {
            const int32_t samples = pProcessor->getbl(236, &none);
            list(texts(DataLclz::sCmastdspbuffers, DataLclz::iCmastdspbuffers), samples, dspBufferPosition(samples));
            break;
        }
        case kLoaderPriority: {
            const int16_t priority = pProcessor->getbh(38, &none);
            list(texts(DataLclz::sCmastthreadpriority, DataLclz::iCmastthreadpriority), priority, priority);
            break;
        }
        case kSkin: {
            const CoreAnsx path = pProcessor->getbs(62, &none);
            const CoreAnsx folder = CoreButl::pcase(CoreButl::getpt(path));
            CoreHutl::readr(folder, CoreAnsx("*") + CoreButl::sCextq7s, &pSkinfiles, iSkincount, CoreAnsx("*"));
            iSkincount = std::max(iSkincount, 0);
            std::vector<CoreAnsx> skins(pSkinfiles, pSkinfiles + iSkincount);
            const int position =
                CoreButl::getci(CoreButl::getfn(path, false), iSkincount, pSkinfiles, false, false);
            loadList(*item, skins, position);
            kept.keep(slot, path, *item);
            continue;
        }
        default: break;
        }
        kept.keep(slot, raw, *item);
    }
}

void CoreDsif::masterEntry(PASS&) {
    masterHeader(kMasterItems, true);
    pSelectors->reset(kMasterItems, true, true, 1);
    loadMasterItems(kMasterItems, true);
}

void CoreDsif::compactMasterEntry(PASS&) {
    masterHeader(kCompactItems, false);
    pSelectors->reset(kCompactItems, true, true, 1);
    loadMasterItems(kCompactItems, false);
}

// ---- render steps

// Title, program rate (full page only) and sample rate on row 0.
void CoreDsif::masterTitle(bool full) {
    CorePrcs::BEANSTRUCT none{};
    pGrid->write(CoreButl::rpad_(CoreAnsx("  MasterMode"), iDimx, ' '), 0, 0, 1, false, false);
    if (full) {
        CoreAnsx rate("");
        rate.sprintf("%G", pProcessor->getbl(10, &none) * 0.001);
        pGrid->write(CoreAnsx("RTE: ") + rate.SubString(1, 5) + DataLclz::sCunitms, 16, 0, 1, false, false);
    }
    const CoreAnsx hertz = CoreButl::lpad_(CoreButl::intas(pProcessor->getbi(44, &none)), 5, ' ');
    pGrid->write(hertz + DataLclz::sCunithz, 48, 0, 1, false, false);
}

// The selector takes the click and draws; then the slots the user changed are written in slot order.
// A slot the user did not change writes nothing; MODE's page change follows its position either way.
void CoreDsif::masterItems(int items, bool full, PASS& pass) {
    if (pass.click) pSelectors->focus(pass.column, pass.row, bPointerheld);
    pSelectors->draw_();
    CoreDswb& kept = oMasterkept;
    CorePrcs::BEANSTRUCT none{};
    for (short slot = 0; slot < items; ++slot) {
        if (full && slot == kTimedLength) {
            const bool refused = pProcessor->getbb(42, &none);
            pGrid->write(CoreAnsx(refused ? "!" : " "), kMarkColumn, 5, 0, refused, false);
        }
        CoreDstx* item = pSelectors->gettx(slot);
        if (!item) continue;
        const bool reported = item->ischg();
        const bool user = reported && kept.chngd(slot, *item);
        const int position = item->getel();
        const double value = item->getvl();
        if (slot == kMode) {
            const int leaving = full ? 0 : 1; // "0 Simple" leaves the full page, "1 Guru" the compact one
            if (reported && item->getne() > 0 && position == leaving) {
                if (user) {
                    pProcessor->setbb(41, leaving == 1, &none);
                    kept.keep(slot, leaving, *item);
                }
                pass.action = full ? "MAS2" : "MAST";
            }
            continue;
        }
        if (!user || (!item->isrng() && item->getne() == 0)) continue;
        double written = position;
        switch (slot) {
        case kMeters: pProcessor->setmt(static_cast<int16_t>(position), false); break;
        case kColour:
            iFontcolour = static_cast<short>(position);
            pProcessor->setbh(32, static_cast<int16_t>(position), &none);
            break;
        case kQuality:
            written = position + 1;
            pProcessor->setbh(45, static_cast<int16_t>(position + 1), &none);
            break;
        case kOptTimed:
        case kOptFreqd: {
            const int32_t id = slot == kOptTimed ? 50 : 51;
            const int16_t mode = static_cast<int16_t>(position + 1);
            written = mode;
            if (pProcessor->getbh(id, &none) == mode) break;
            pProcessor->setbh(id, mode, &none);
            if (slot == kOptFreqd) {
                CorePrcs::BEANSTRUCT which{mode, 0};
                const bool runs = pProcessor->getbb(157, &which);
                pGrid->write(CoreAnsx(runs ? " " : "!"), kMarkColumn, 6, 0, !runs, false);
            }
            break;
        }
        case kTimedLength:
        case kFreqdLength: {
            const int32_t us = wholeUnits(value, slot == kTimedLength ? 1000.0 : 1000000.0);
            CorePrcs::BEANSTRUCT which{slot == kTimedLength ? 0 : 1, 0};
            pProcessor->setbl(158, us, &which);
            written = us;
            break;
        }
        case kProgramRate:
        case kGuiRate:
        case kOffset:
        case kRateConversion: {
            static const int32_t beans[] = {52, 65, 70};
            const int32_t id = slot == kRateConversion ? 30 : beans[slot - kProgramRate];
            const int32_t us = wholeUnits(value, 1000.0);
            pProcessor->setbl(id, us, &none);
            written = us;
            break;
        }
        case kAhead:
            written = value * 1000.0;
            pProcessor->setbd(19, written, &none);
            break;
        case kKernels:
            written = position + 1;
            pProcessor->setbh(54, static_cast<int16_t>(position + 1), &none);
            break;
        case kScanBoot:
        case kBoot:
        case kGhost: {
            static const int32_t beans[] = {20, 21, 35};
            pProcessor->setbb(beans[slot - kScanBoot], position != 0, &none);
            break;
        }
        case kDspBuffer:
            written = std::ldexp(1.0, position + 7);
            pProcessor->setbl(236, static_cast<int32_t>(written), &none);
            break;
        case kLoaderPriority:
            pProcessor->setbh(38, static_cast<int16_t>(position), &none);
            iPriority = CorePrcs::gettp(static_cast<int16_t>(position));
            break;
        case kSkin:
            if (position < iSkincount && pSkinfiles) {
                pProcessor->setbs(62, pSkinfiles[position], &none);
                kept.keep(slot, pSkinfiles[position], *item);
            }
            continue;
        default: break;
        }
        kept.keep(slot, written, *item);
    }
}

void CoreDsif::masterRender(PASS& pass) {
    masterTitle(true);
    masterItems(kMasterItems, true, pass);
    if (drbtn(50, 1, CoreAnsx("  SAVE  "), pass.column, pass.row)) savem();
    if (drbtn(40, 1, CoreAnsx("  ABOUT "), pass.column, pass.row)) pass.action = "ABOUT";
    if (drbtn(55, 2, CoreAnsx(" T "), pass.column, pass.row)) pass.action = "TEST";
}

void CoreDsif::compactMasterRender(PASS& pass) {
    masterTitle(false);
    masterItems(kCompactItems, false, pass);
    if (drbtn(50, 1, CoreAnsx("  SAVE  "), pass.column, pass.row)) savem();
}
