// CoreDsif: the program page (state 0) in its two views: V with the program's buttons and eight
// parameter rows, L with four rows and a list of the used memory slots. Also the steps the compact
// program page shares: the name with its slot field and marks, the rate line, the gain levels, the
// parameter rows with their drag and the popup menu over the name.
#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsed.h"
#include "display/CoreDsge.h"
#include "display/CoreDsgm.h"
#include "display/CoreDsgt.h"
#include "display/CoreDsmn.h"
#include "display/DataLclz.h"
#include "processor/CoreMmry.h"
#include "processor/CorePrcs.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr int kNameCharacters = 16;
constexpr int kListColumn = 37;
constexpr int kListWidth = 21;
constexpr int kScrollColumn = 36;
constexpr int kScrollSteps = 5; // used slots passed by one scroll click

// A text's length, 0 for a string that never held one.
int lengthOf(const CoreAnsx& text) {
    return std::max(0, text.Length());
}

// Cut to n characters, then padded with blanks to n.
CoreAnsx fitted(const CoreAnsx& text, int n) {
    return CoreButl::rpad_(text.SubString(1, n), n, ' ');
}

// A level in dB as the display shows it: "%.5f" cut to six characters, trimmed, and the unit.
CoreAnsx levelText(double gain) {
    CoreAnsx text("");
    text.sprintf("%.5f", CoreButl::lvldb(gain));
    return text.SubString(1, 6).Trim() + DataLclz::sCunitdb;
}

// A gain row's label: "LABEL:" cut or padded to twelve characters.
CoreAnsx gainLabel(const char* label) {
    return fitted(CoreAnsx(label) + ":", 12);
}

bool isFree(const CoreAnsx& name) {
    return name == CoreAnsx("0");
}

} // namespace

// ---- shared by the program and compact program pages

// The name shown: bean 56, its first sixteen characters, trimmed.
CoreAnsx CoreDsif::programName() {
    CorePrcs::BEANSTRUCT none{};
    return pProcessor->getbs(56, &none).SubString(1, kNameCharacters).Trim();
}

void CoreDsif::programEntry(PASS&) {
    CorePrcs::BEANSTRUCT none{};
    pSelectors->reset(0, false, false, -1);
    pFields->reset(1);
    CoreDsed* field = pFields->gettx(0);
    field->defne(0, 1, 0, 2, 4, true, CoreDsed::iCwhole);
    field->setvi(0);
    if (pPopups->getmn(0) == nullptr) {
        pPopups->reset(1);
        bMenustale = true;
    }
    CoreDsmn* menu = pPopups->getmn(0);
    // The cells of the double-size name; an empty name gives an empty area, never a negative width.
    const int nameLength = lengthOf(programName());
    menu->defne(0, 2, static_cast<short>(std::max(0, 2 * nameLength - 1)), 2);
    pProcessor->setbv(244, &none);
    if (bMenustale) {
        menu->clear();
        scanm(menu, 0, nullptr);
        bMenustale = false;
    }
    // Without a content holder there is nothing for the editor to open: the menu stays unarmed.
    if (pPopupdata) {
        const int count = menu->pushd(pPopupdata, pProcessor->getbs(250, &none));
        pPopups->arm__(true, 0, count, pProcessor->getbh(251, &none));
        bPopuparmed = true;
    }
    iSelectedparameter = -1;
    // The list rows were cleared with the page: none of them can be clicked before a pass fills it.
    if (iState == 0) std::fill(vListslots.begin(), vListslots.end(), -1);
}

// Rows 2 and 3: the double-size name, the slot field after it and the packed and converted marks.
void CoreDsif::drawProgramName(PASS& pass) {
    CorePrcs::BEANSTRUCT none{};
    pGrid->clear(3, 0, 2, 35, 2);
    const CoreAnsx name = programName();
    const short after = static_cast<short>(2 * lengthOf(name));
    pGrid->write(fitted(name, kNameCharacters), 0, 1, 2, false, false);
    CoreDsed* field = pFields->gettx(0);
    if (field) {
        field->setrg(after, 2, 4, 2);
        field->setx_(after);
        field->setvi(pass.slot);
        pFields->focus(pass.column, pass.row, bPointerheld);
        pFields->draw_();
    }
    pGrid->write(CoreButl::rpad_(CoreAnsx(""), 33 - after, ' '), static_cast<short>(after + 4), 2, 0, false,
                 false);
    pGrid->write(CoreButl::rpad_(CoreAnsx(""), 35 - after, ' '), after, 3, 0, false, false);
    CoreAnsx marks("");
    if (pProcessor->getbb(2, &none)) marks += "k";
    if (pProcessor->getbb(31, &none)) marks += "c";
    pGrid->write(marks, after, 3, 0, false, false);
}

// A confirmed slot number other than the current slot loads it.
void CoreDsif::commitSlotField(PASS& pass) {
    CoreDsed* field = pFields->gettx(0);
    if (!field || !field->ischg()) return;
    const int32_t slot = field->getvi();
    if (slot != pass.slot) loadProgramSlot(slot, pass);
}

void CoreDsif::loadProgramSlot(int32_t slot, PASS& pass) {
    if (slot < 0 || slot >= CoreMmry::iCmemorydim) return;
    setsp(slot, false, true);
    startLoad(slot, CoreAnsx("PROG"), pass);
}

// Rows 5 and 6: the description and the rate line; the mark follows the line markOffset columns
// after its length when the host runs at another rate than the impulse responses were converted to.
void CoreDsif::drawProgramText(const CoreAnsx& descriptionHead, const CoreAnsx& rateHead, int markOffset) {
    CorePrcs::BEANSTRUCT none{};
    pGrid->clear(0, 0, 5, 36, 1);
    pGrid->write(descriptionHead + pProcessor->getbs(64, &none).SubString(1, 32), 0, 5, 0, false, false);
    const CoreAnsx rates = (CoreAnsx(static_cast<long>(pProcessor->getbl(28, &none))) + DataLclz::sCunithz +
                            " -> " + CoreButl::dotas(pProcessor->getbl(29, &none)) + DataLclz::sCunithz)
                               .SubString(1, 30);
    pGrid->clear(0, 0, 6, 36, 1);
    pGrid->write(rateHead + rates, 0, 6, 0, false, false);
    if (pProcessor->getbi(44, &none) != pProcessor->getbl(29, &none))
        pGrid->write(CoreAnsx("<-"), static_cast<short>(lengthOf(rates) + markOffset), 6, 0, true, false);
}

// Row dimy - 6: the input and output levels, one label for both or one each.
void CoreDsif::drawProgramGains(bool labelEach) {
    CorePrcs::BEANSTRUCT none{};
    const short row = static_cast<short>(iDimy - 6);
    const CoreAnsx in = levelText(pProcessor->getbd(3, &none));
    const CoreAnsx out = levelText(pProcessor->getbd(4, &none));
    if (labelEach) {
        pGrid->write(gainLabel(DataLclz::sCviewgaininlabel) + in, 0, row, 0, false, false);
        pGrid->write(gainLabel(DataLclz::sCviewgainoutlabel) + out, 29, row, 0, false, false);
    } else {
        pGrid->write(gainLabel(DataLclz::sCviewgainslabel) + in, 0, row, 0, false, false);
        pGrid->write(out, 25, row, 0, false, false);
    }
}

// Row 0 of view V and the compact page: the engine figures, "PRF:" at prfColumn.
void CoreDsif::drawProgramFigures(int titleWidth, short prfColumn) {
    CorePrcs::BEANSTRUCT none{};
    pGrid->write(fitted(CoreAnsx("  ProgMode"), titleWidth), 0, 0, 1, false, false);
    pGrid->write(CoreAnsx("SMP: ") + CoreAnsx(static_cast<long>(pProcessor->getbl(6, &none))).SubString(1, 5),
                 16, 0, 1, false, false);
    const int orders = pProcessor->getbh(75, &none);
    const int kernels = pProcessor->getbh(74, &none) >= 0 ? orders + 1 : orders;
    pGrid->write(CoreAnsx("KRN: ") + CoreButl::intas(kernels).SubString(1, 2), 31, 0, 1, false, false);
    CorePrcs::BEANSTRUCT timing{0, 0};
    const CoreAnsx load =
        CoreButl::lpad_(CoreButl::intas(pProcessor->getbi(166, &timing)).SubString(1, 3), 3, ' ');
    pGrid->write(CoreAnsx("PRF:") + load + DataLclz::sCunitpc, prfColumn, 0, 1, false, false);
}

// Rows dimy - 5 .. dimy - 2: the selection by a click, the drag of the selected row's control while
// the pointer is held (wherever the hold started), and the rows themselves.
void CoreDsif::drawProgramParameters(PASS& pass, bool listView) {
    const short first = static_cast<short>(iDimy - 5);
    if (pass.click && pass.row >= first && pass.row <= iDimy - 2) {
        const short row = static_cast<short>(pass.row - first);
        if (!listView)
            iSelectedparameter = static_cast<short>(pass.column <= 28 ? row : row + 4);
        else if (pass.column <= 31)
            iSelectedparameter = row;
    }
    const short control = prtmx(iSelectedparameter);
    if (control < 0) {
        iSelectedparameter = -1;
    } else if (bPointerheld) {
        CorePrcs::BEANSTRUCT at{control, 0};
        double value = pProcessor->getbd(193, &at);
        if (pass.editor) value = getnh(value, iClickx, iClicky);
        pProcessor->setbd(193, value, &at);
    }
    upprm();
    const short rows = listView ? 4 : 8;
    const bool noHighlight = listView && pass.column > 31;
    for (short k = 0; k < rows; ++k) {
        const bool highlight = k == iSelectedparameter && bPointerheld && !noHighlight;
        drprm(k < 4 ? 0 : 29, first + k % 4, k, listView ? 0 : 1, highlight, false);
    }
}

// ---- the program page

void CoreDsif::programRender(PASS& pass) {
    if (bProgramview)
        programViewV(pass);
    else
        programViewL(pass);
}

void CoreDsif::programViewV(PASS& pass) {
    CorePrcs::BEANSTRUCT none{};
    const short px = pass.column, py = pass.row;
    drawProgramFigures(54, 44);
    if (pProcessor->getbb(255, &none)) pGrid->write(CoreAnsx("Q"), 12, 0, 1, true, false);
    drawProgramName(pass);
    drawProgramText(CoreAnsx("DSC: "), CoreAnsx("FRT: "), 6);
    if (drbtn(50, 1, CoreAnsx(" RELOAD "), px, py)) {
        pProcessor->setbv(225, &none);
        btcst("LOADED", DataLclz::sCgenloadedprint);
        btcst("LOADING", DataLclz::sCgenloadingprint);
        btcst("NEWPROGRAM", CoreButl::intas(pass.slot));
        btcst("ACTION", "PROG");
        btcst("NEXTSTEP", "READPROGRAM_2");
        pass.action = "BTCH";
    }
    const bool bypass = pProcessor->getbb(258, &none);
    if (drtbt(50, 2, CoreAnsx("BYPASS"), CoreAnsx("PROCSS"), bypass, px, py))
        pProcessor->setbb(258, !bypass, &none);
    drawProgramParameters(pass, false);
    drawProgramGains(true);
    if (drbtn(50, 3, CoreAnsx(" EDIT   "), px, py)) pass.action = "EDIT";
    if (drbtn(40, 1, CoreAnsx(" SAVE   "), px, py)) {
        pProcessor->setbv(225, &none);
        btcst("SAVING", DataLclz::sCgensavingprint);
        btcst("ACTION", "PROG");
        btcst("NEXTSTEP", "SAVEPROGRAM");
        pass.action = "BTCH";
    }
    const bool normal = pProcessor->getbb(23, &none);
    if (drtbt(40, 2, CoreAnsx("ECONO "), CoreAnsx("NORMAL"), normal, px, py)) {
        pProcessor->setbb(23, !normal, &none);
        pProcessor->setbh(50, -1, &none);
    }
    if (pProcessor->getbb(25, &none) && !pProcessor->getbb(35, &none)) {
        const bool visible = pProcessor->getbb(24, &none);
        if (drtbt(40, 3, CoreAnsx("NODROP"), CoreAnsx("NORMAL"), visible, px, py))
            pProcessor->setbb(24, !visible, &none);
    }
    commitSlotField(pass);
    if (drbtn(55, 0, CoreAnsx(" L "), px, py)) {
        bProgramview = false;
        bReentry = true;
    }
}

void CoreDsif::programViewL(PASS& pass) {
    CorePrcs::BEANSTRUCT none{};
    const short px = pass.column, py = pass.row;
    pGrid->write(fitted(CoreAnsx("  ProgMode"), 54), 0, 0, 1, false, false);
    const CoreAnsx period = CoreButl::dotas(pProcessor->getbl(10, &none) * 0.001).SubString(1, 5);
    pGrid->write(CoreAnsx("RTE: ") + period + DataLclz::sCunitms, 12, 0, 1, false, false);
    double megabytes = pProcessor->getbd(5, &none) / 1048576.0;
    if (megabytes < 0.01) megabytes = 0.0;
    pGrid->write(CoreAnsx("MEM: ") + CoreButl::dotas(megabytes).SubString(1, 5) + DataLclz::sCunitmb, 28, 0,
                 1, false, false);
    const CoreAnsx rate =
        CoreButl::lpad_(CoreButl::intas(pProcessor->getbi(44, &none)).SubString(1, 5), 5, ' ');
    pGrid->write(rate + DataLclz::sCunithz, 44, 0, 1, false, false);
    drawProgramName(pass);
    drawProgramParameters(pass, true);
    // The scroll bar: arrow up, track, arrow down.
    pGrid->write(CoreAnsx(static_cast<char>(8)), kScrollColumn, 1, 0, false, false);
    for (short row = 2; row <= iDimy - 3; ++row)
        pGrid->write(CoreAnsx(static_cast<char>(7)), kScrollColumn, row, 0, false, false);
    pGrid->write(CoreAnsx(static_cast<char>(9)), kScrollColumn, static_cast<short>(iDimy - 2), 0, false,
                 false);
    if (pass.click && pass.column == kScrollColumn && (pass.row == 1 || pass.row == iDimy - 2))
        scrollProgramList(pass.row == 1);
    if (pass.click && pass.column > kListColumn && pass.row >= 1 && pass.row <= iDimy - 3) {
        const int32_t slot = vListslots[static_cast<size_t>(pass.row - 1)];
        if (slot >= 0 && slot != pass.slot) loadProgramSlot(slot, pass);
    }
    commitSlotField(pass);
    drawProgramList(pass);
    drawProgramText(CoreAnsx(""), CoreAnsx(""), 1);
    drawProgramGains(false);
    if (drbtn(55, 0, CoreAnsx(" V "), px, py)) {
        bProgramview = true;
        bReentry = true;
    }
}

// Five used slots up or down from the list top; the memory's search is bounded and wraps.
void CoreDsif::scrollProgramList(bool up) {
    for (int i = 0; i < kScrollSteps; ++i) {
        CorePrcs::BEANSTRUCT from{up ? iListtop - 1 : iListtop + 1, up ? -1 : 1};
        iListtop = pProcessor->getbi(168, &from);
    }
}

// Rows 1 .. dimy - 3 from the first used slot at or after the list top, one used slot per row. The
// list ends where the search comes back to its top or finds no used slot; the rows below it are
// blank and cannot be clicked.
void CoreDsif::drawProgramList(PASS& pass) {
    CorePrcs::BEANSTRUCT top{iListtop, 1};
    iListtop = pProcessor->getbi(168, &top);
    int32_t slot = iListtop;
    bool ended = false;
    for (int row = 1; row <= iDimy - 3; ++row) {
        const size_t entry = static_cast<size_t>(row - 1);
        CorePrcs::BEANSTRUCT at{slot, 0};
        const CoreAnsx name = ended ? CoreAnsx("0") : pProcessor->getbs(167, &at);
        if (ended || isFree(name)) {
            ended = true;
            vListslots[entry] = -1;
            pGrid->clear(0, kListColumn, static_cast<short>(row), kListWidth, 1);
            continue;
        }
        vListslots[entry] = slot;
        const CoreAnsx number = CoreButl::intas(slot);
        const CoreAnsx text =
            number.Length() >= 4
                ? fitted(number + " " + name, kListWidth)
                : CoreAnsx(" ") + fitted(CoreButl::rpad_(number, 3, ' ') + " " + name, kListWidth - 1);
        pGrid->write(text, kListColumn, static_cast<short>(row), slot == pass.slot ? 1 : 0, false, false);
        CorePrcs::BEANSTRUCT next{slot + 1, 1};
        slot = pProcessor->getbi(168, &next);
        if (slot == iListtop) ended = true;
    }
}
