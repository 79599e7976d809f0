// CoreDsif: the program list pages: LIST (state 1), a grid of program names with a category column
// that walks three category levels or a switch to all programs, and compact LIST (state 17), two
// grid columns under the top-level categories. A click on a name loads that slot as a batch.
#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsgt.h"
#include "display/DataLclz.h"
#include "processor/CoreMmry.h"
#include "processor/CorePrcs.h"

#include <algorithm>
#include <string>

namespace {

constexpr int kCellWidth = 16;       // characters of a program name in the grid
constexpr int kGridColumnStep = 20;  // grid columns start at 0, 20 and 40
constexpr short kScrollColumn = 46;  // the category column's arrows and track
constexpr short kCategoryColumn = 48;
constexpr int kCategoryWidth = 9;
constexpr char kGlyphTrack = 7;
constexpr char kGlyphUp = 8;
constexpr char kGlyphDown = 9;

CoreAnsx glyph(char code) { return CoreAnsx(std::string(1, code).c_str()); }

// The memory compares categories upper-cased and trimmed.
bool sameCategory(const CoreAnsx& a, const CoreAnsx& b) { return a.UpperCase().Trim() == b.UpperCase().Trim(); }

} // namespace

// The cells were cleared with the page: a click that reaches this pass was made on another page
// and picks none of the slots the grid showed at the last visit.
void CoreDsif::listEntry(PASS&) {
    pSelectors->reset(0, false, false, -1);
    for (std::vector<int>& column : aGridslots) std::fill(column.begin(), column.end(), -1);
}

// The compact page lists only the top-level categories: the memory's browse level goes back to 0
// with the display's, so that its searches filter on level 0 alone.
void CoreDsif::compactListEntry(PASS& pass) {
    listEntry(pass);
    for (; iCategorylevel > 0; --iCategorylevel) {
        CorePrcs::BEANSTRUCT up{-1, 0};
        pProcessor->getbi(174, &up);
    }
}

void CoreDsif::listRender(PASS& pass) { renderList(pass, false); }

void CoreDsif::compactListRender(PASS& pass) { renderList(pass, true); }

void CoreDsif::renderList(PASS& pass, bool compact) {
    const int rows = iDimy - 3; // grid rows 1 .. rows
    // Only a real click reaches the buttons and cells; a pass without one hits nothing.
    const short px = pass.click ? pass.column : short{-1};
    const short py = pass.click ? pass.row : short{-1};
    CorePrcs::BEANSTRUCT none{};

    // Title and the program period.
    pGrid->write(CoreButl::rpad_(CoreAnsx("  ListMode"), 36, ' '), 0, 0, 1, false, false);
    const CoreAnsx period(static_cast<double>(pProcessor->getbl(10, &none)) * 0.001);
    pGrid->write(CoreAnsx("RTE: ") + period.SubString(1, 5) + DataLclz::sCunitms, 16, 0, 1, false, false);
    upprm();
    // Paging buttons.
    const bool back = drbtn(38, 0, CoreAnsx(" << "), px, py);
    const bool forward = drbtn(44, 0, CoreAnsx(" >> "), px, py);
    const int step = back ? -1 : forward ? 1 : 0;
    // The all-programs switch at level 0, "  UP   " at the deeper levels.
    if (compact) {
        pGrid->write(CoreAnsx("       "), 50, 0, 1, false, false);
    } else if (iCategorylevel == 0) {
        if (drtbt(50, 0, CoreAnsx(" ALL "), CoreAnsx("CATEG"), bAllprograms, px, py)) bAllprograms = !bAllprograms;
    } else if (drbtn(50, 0, CoreAnsx("  UP   "), px, py)) {
        iCategorytop = 0;
        iCategoryselection = aLevelselections[static_cast<size_t>(iCategorylevel - 1)];
        --iCategorylevel;
        CorePrcs::BEANSTRUCT up{-1, 0};
        pProcessor->getbi(174, &up);
    }
    // The grid area and the information line.
    pGrid->clear(0, 0, 1, iDimx, static_cast<short>(iDimy - 2));
    CorePrcs::BEANSTRUCT topLevel{0, 0};
    drawInfoLine(CoreAnsx("  ") + CoreButl::intas(pass.slot) + " " + pProcessor->getbs(176, &topLevel).UpperCase() +
                 "/" + pProcessor->getbs(56, &none).UpperCase() + "  ");
    // The filter: the selected category, or "0" (none) for all programs.
    const bool categoryMode = compact || !bAllprograms;
    const int columns = categoryMode ? 2 : 3;
    CoreAnsx filter("0");
    if (categoryMode) {
        filter = drawCategoryColumn(compact, px, py);
        aLevelfilters[static_cast<size_t>(iCategorylevel)] = filter;
    }
    CorePrcs::BEANSTRUCT level{iCategorylevel, 0};
    pProcessor->setbs(171, filter, &level);
    // A pick loads the slot the cell showed in the last pass.
    if (pass.click && pass.row >= 1 && pass.row <= rows) {
        const int column = pass.column <= 19 ? 0 : pass.column <= 39 ? 1 : 2;
        const int32_t slot = aGridslots[static_cast<size_t>(column)][static_cast<size_t>(pass.row - 1)];
        if ((column < 2 || !categoryMode) && slot >= 0) {
            iListtop = slot;
            iDisplaybank = slot / CoreMmry::iCbankdim;
            iDisplayprogram = slot % CoreMmry::iCbankdim;
            startLoad(slot, CoreAnsx("LIST"), pass);
        }
    }
    moveGridStart(step, categoryMode, columns * rows);
    fillGrid(columns, categoryMode, pass.slot);
}

// Arrows, the click on them or on an entry, and the visible entries; returns the filter text.
CoreAnsx CoreDsif::drawCategoryColumn(bool compact, short px, short py) {
    const int rows = iDimy - 3;
    pGrid->write(glyph(kGlyphUp), kScrollColumn, 1, 0, false, false);
    for (short y = 2; y <= iDimy - 4; ++y) pGrid->write(glyph(kGlyphTrack), kScrollColumn, y, 0, false, false);
    pGrid->write(glyph(kGlyphDown), kScrollColumn, static_cast<short>(rows), 0, false, false);
    const short countBean = compact ? 173 : 172;
    rsvas(&pCategorynames, iCategorycount, countBean, 170);
    const auto visibleRows = [&] { return std::max(0, std::min(rows, iCategorycount - iCategorytop)); };
    const int visible = visibleRows();
    if (px == kScrollColumn) {
        if (py == 1 && iCategorytop > 0) --iCategorytop;
        else if (py == rows && iCategorycount - iCategorytop > visible) ++iCategorytop;
    } else if (px >= kCategoryColumn - 1 && py >= 1 && py <= visible) {
        const int entry = iCategorytop + py - 1;
        if (entry != iCategoryselection) {
            iCategoryselection = entry;
            iGridstart = 0;
        } else if (!compact) {
            // A second click walks down when the next level has categories; the memory moves back
            // up by itself when it has none.
            CorePrcs::BEANSTRUCT down{1, 0};
            const int32_t count = pProcessor->getbi(174, &down);
            if (count != 0 && iCategorylevel <= 1) {
                ++iCategorylevel;
                aLevelselections[static_cast<size_t>(iCategorylevel - 1)] = iCategoryselection;
                iCategorytop = iCategoryselection = 0;
                // The names of the new level, so that its filter is one of them.
                rsvas(&pCategorynames, iCategorycount, countBean, 170);
            }
        }
    }
    const int shown = visibleRows();
    for (int j = 1; j <= shown; ++j) {
        const int k = iCategorytop + j - 1;
        const CoreAnsx text = CoreAnsx(" ") + CoreButl::rpad_(CoreButl::intas(k), 4, ' ') + pCategorynames[k];
        pGrid->write(CoreButl::rpad_(text, kCategoryWidth, ' '), kCategoryColumn, static_cast<short>(j),
                     k == iCategoryselection ? 1 : 0, false, false);
    }
    if (iCategoryselection >= 0 && iCategoryselection < iCategorycount) return pCategorynames[iCategoryselection];
    // A selection the list no longer holds: the filter this level had.
    return aLevelfilters[static_cast<size_t>(iCategorylevel)];
}

// Paging moves the grid start by up to a screen of matching slots; it stops at the end of the
// matches (the search gives 0, or wraps round and comes back not further in the paging direction),
// leaving grid start 0 for the next pass to align. Then the start is aligned to a match.
void CoreDsif::moveGridStart(int step, bool aligned, int cells) {
    const auto search = [this](int32_t start, int32_t direction) {
        CorePrcs::BEANSTRUCT from{start, direction};
        return pProcessor->getbi(169, &from);
    };
    if (step != 0) {
        for (int i = 0; i < cells; ++i) {
            const int32_t next = search(iGridstart + step, step);
            if (next == 0 || (step > 0 ? next <= iGridstart : next >= iGridstart)) {
                iGridstart = 0;
                break;
            }
            iGridstart = next;
        }
    } else {
        iGridstart = search(iGridstart, 1);
    }
    if (aligned) iGridstart = search(iGridstart, 1);
}

// Whether the grid start is a slot the grid may show: used, and in category mode filed under the
// filters sent for every level down to the current one. A search that found nothing leaves grid
// start 0, which need not be either.
bool CoreDsif::gridStartShown(bool categoryMode) {
    CorePrcs::BEANSTRUCT start{iGridstart, 0};
    if (pProcessor->getbs(167, &start) == CoreAnsx("0")) return false;
    if (!categoryMode) return true;
    for (int level = 0; level <= iCategorylevel; ++level) {
        CorePrcs::BEANSTRUCT category{iGridstart, level};
        if (!sameCategory(pProcessor->getbs(175, &category), aLevelfilters[static_cast<size_t>(level)]))
            return false;
    }
    return true;
}

// Column by column, top to bottom, the matching slots from the grid start in rising order; the fill
// ends at the first search that does not give a higher slot, so no slot shows twice.
void CoreDsif::fillGrid(int columns, bool categoryMode, int32_t current) {
    const int rows = iDimy - 3;
    bool more = gridStartShown(categoryMode);
    int32_t slot = iGridstart;
    for (size_t c = 0; c < aGridslots.size(); ++c) {
        for (int r = 0; r < rows; ++r) {
            int& cell = aGridslots[c][static_cast<size_t>(r)];
            if (static_cast<int>(c) >= columns) {
                cell = -1;
                continue;
            }
            const short x = static_cast<short>(c * kGridColumnStep), y = static_cast<short>(r + 1);
            if (!more) {
                pGrid->write(CoreAnsx(std::string(kCellWidth, ' ').c_str()), x, y, 0, false, false);
                cell = -1;
                continue;
            }
            CorePrcs::BEANSTRUCT named{slot, 0};
            pGrid->write(CoreButl::rpad_(pProcessor->getbs(167, &named), kCellWidth, ' '), x, y,
                         slot == current ? 1 : 0, false, false);
            cell = slot;
            CorePrcs::BEANSTRUCT from{slot + 1, 1};
            const int32_t next = pProcessor->getbi(169, &from);
            if (next <= slot) more = false;
            slot = next;
        }
    }
}
