// The memory page (state 6): the current program's name, categories and description, written to the
// program and to its slot as each edit is confirmed; a slot picked by bank and number, shown in the
// double-size font; and the batches that overwrite or delete that slot or save the program under a
// new file name. Only what the user confirmed is written: viewing the page changes nothing.
#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsed.h"
#include "display/CoreDsge.h"
#include "display/CoreDsgt.h"
#include "display/CoreDstx.h"
#include "display/CoreDswb.h"
#include "display/DataLclz.h"
#include "processor/CoreMmry.h"
#include "processor/CorePrcs.h"

#include <memory>

namespace {

constexpr short kNameField = 0;
constexpr short kFirstCategoryField = 1; // levels 0 .. 2 in fields 1 .. 3
constexpr short kDescriptionField = 4;
constexpr short kVersioningField = 5;
constexpr short kFieldCount = 6;
constexpr short kProgramItem = 0;
constexpr short kBankItem = 1;
constexpr int kNameColumns = 16;       // the picked slot's name, in double-size cells
constexpr int kButtonColumn = 50;

struct FieldPlace {
    short column, row, width;
    bool clearOnArm;
};
constexpr FieldPlace kFieldPlaces[kFieldCount] = {
    {8, 5, 16, false}, {8, 6, 3, true}, {14, 6, 3, true}, {20, 6, 3, true}, {8, 7, 32, false}, {8, 9, 32, false},
};

} // namespace

void CoreDsif::memoryEntry(PASS&) {
    oMemorykept.reset();
    label("", DataLclz::sCmemobanklabel, 0, 2);
    label("", DataLclz::sCmemomemorylabel, 0, 3);
    label("", DataLclz::sCmemonamelabel, 0, 5);
    label("", DataLclz::sCmemocatlabel, 0, 6);
    label("", "/", 12, 6);
    label("", "/", 18, 6);
    label("", DataLclz::sCmemodesclabel, 0, 7);

    pSelectors->reset(2, true, true, 1);
    CoreDstx* program = pSelectors->gettx(kProgramItem);
    program->defne(0, 8, 3, 2, "", true, 0);
    program->setel(static_cast<int>(vProgramlabels.size()), vProgramlabels.data(), iDisplayprogram);
    CoreDstx* bank = pSelectors->gettx(kBankItem);
    bank->defne(0, 8, 2, 2, "", true, 0);
    bank->setel(static_cast<int>(vBanklabels.size()), vBanklabels.data(), iDisplaybank);

    pFields->reset(kFieldCount);
    for (short i = 0; i < kFieldCount; ++i) {
        const FieldPlace& place = kFieldPlaces[i];
        pFields->gettx(i)->defne(0, 1, place.column, place.row, place.width, place.clearOnArm, CoreDsed::iCtext);
    }
    CoreDswb& kept = oMemorykept;
    const auto load = [&](short i, const CoreAnsx& raw, const CoreAnsx& shown) {
        CoreDsed* field = pFields->gettx(i);
        field->setvs(shown);
        kept.keep(i, raw, *field);
    };
    CorePrcs::BEANSTRUCT none{};
    const CoreAnsx name = pProcessor->getbs(56, &none);
    load(kNameField, name, name);
    for (short level = 0; level < 3; ++level) {
        CorePrcs::BEANSTRUCT at{level, 0};
        const CoreAnsx category = pProcessor->getbs(176, &at);
        load(static_cast<short>(kFirstCategoryField + level), category, category.UpperCase());
    }
    const CoreAnsx description = pProcessor->getbs(64, &none);
    load(kDescriptionField, description, description);
    // The field edits the file name only; its folder (below the program folder) stays as read.
    const CoreAnsx path = pProcessor->getbs(76, &none);
    load(kVersioningField, path, CoreButl::getfn(path, false));
    sVersioningname = path;
    pFields->gettx(kVersioningField)->movea(!pProcessor->getbb(58, &none));
}

// The confirmed edits of fields 0 .. 4, written trimmed to the program and to the current slot. A
// confirmation that changed nothing but blanks writes nothing.
void CoreDsif::memoryCommits(int32_t current) {
    CoreDswb& kept = oMemorykept;
    bool committed = false;
    for (short i = 0; i < kVersioningField; ++i) {
        CoreDsed* field = pFields->gettx(i);
        if (!field->ischg() || !kept.chngd(i, *field)) continue;
        const bool category = i >= kFirstCategoryField && i < kDescriptionField;
        const CoreAnsx text = category ? field->getvs().Trim().UpperCase() : field->getvs().Trim();
        field->setvs(text);
        CorePrcs::BEANSTRUCT none{};
        CorePrcs::BEANSTRUCT slot{current, 0};
        if (i == kNameField) {
            pProcessor->setbs(56, text, &none);
            pProcessor->setbs(167, text, &slot);
        } else if (category) {
            const int32_t level = i - kFirstCategoryField;
            CorePrcs::BEANSTRUCT at{level, 0};
            CorePrcs::BEANSTRUCT slotLevel{current, level};
            pProcessor->setbs(176, text, &at);
            pProcessor->setbs(170, text, &slotLevel);
        } else {
            pProcessor->setbs(64, text, &none);
            pProcessor->setbs(177, text, &slot);
        }
        // The program page's popup lists names and categories.
        if (i != kDescriptionField) bMenustale = true;
        kept.keep(i, text, *field);
        committed = true;
    }
    // The group shows the texts as written (trimmed, categories in upper case) in this pass already.
    if (committed) pFields->draw_();
}

void CoreDsif::memoryRender(PASS& pass) {
    pGrid->write(CoreButl::rpad_("  EditMode: Memory", 48, ' '), 0, 0, 1, false, false);
    // An entry that failed part-way leaves nothing to edit.
    if (pFields->getcn() != kFieldCount || pSelectors->getcn() != 2) return;
    int32_t current = pass.slot;
    pFields->focus(pass.column, pass.row, bPointerheld);
    pFields->draw_();
    memoryCommits(current);

    pSelectors->focus(pass.column, pass.row, bPointerheld);
    pSelectors->draw_();
    iDisplaybank = pSelectors->gettx(kBankItem)->getel();
    iDisplayprogram = pSelectors->gettx(kProgramItem)->getel();
    const int32_t picked = iDisplaybank * CoreMmry::iCbankdim + iDisplayprogram;

    CorePrcs::BEANSTRUCT pickedSlot{picked, 0};
    CoreAnsx name = pProcessor->getbs(167, &pickedSlot);
    if (name == CoreAnsx("0")) name = DataLclz::sCmemoemptylabel;
    pGrid->clear(3, 14, 2, 2 * kNameColumns, 2);
    pGrid->write(CoreButl::rpad_(name, kNameColumns, ' '), 14, 1, 2, false, false);

    CorePrcs::BEANSTRUCT none{};
    drawInfoLine(CoreAnsx("  ") + CoreButl::intas(picked) + " " + pProcessor->getbs(56, &none).UpperCase() + "  ");

    if (drbtn(kButtonColumn, 0, "  EXIT  ", pass.column, pass.row)) pass.action = "PROG";
    if (drbtn(kButtonColumn, 2, " OVWRTE ", pass.column, pass.row)) memoryOverwrite(picked, current, pass);
    if (drbtn(kButtonColumn, 3, " DELETE ", pass.column, pass.row)) memoryDelete(picked, current, pass);

    if (pProcessor->getbb(58, &none)) {
        label("", DataLclz::sCmemonewnamelabel, 0, 9);
        CoreDsed* field = pFields->gettx(kVersioningField);
        field->movea(false);
        if (field->ischg() && oMemorykept.chngd(kVersioningField, *field)) {
            const CoreAnsx path = oMemorykept.rawtx(kVersioningField);
            const CoreAnsx text = field->getvs().Trim();
            // An emptied name keeps the file the program came from.
            sVersioningname = text.Length() > 0 ? CoreButl::getpt(path) + text : path;
            field->setvs(text.Length() > 0 ? text : CoreButl::getfn(path, false));
            oMemorykept.keep(kVersioningField, path, *field);
        }
        if (drbtn(kButtonColumn, 9, " SAVEAS ", pass.column, pass.row)) memorySaveAs(pass);
    }
}

// Moves the current program into the picked slot; never from or into slot 0, nor onto itself.
void CoreDsif::memoryOverwrite(int32_t picked, int32_t& current, PASS& pass) {
    if (current == 0 || picked == 0 || picked == current) return;
    setsp(picked, true, true);
    CorePrcs::BEANSTRUCT none{};
    pProcessor->setbi(67, picked, &none);
    pProcessor->setbv(225, &none);
    btcst("OLDPROGRAM", CoreButl::intas(current));
    btcst("NEWPROGRAM", CoreButl::intas(picked));
    btcst("MOVED", DataLclz::sCgenmovedprint);
    btcst("ACTION", "MEMO");
    btcst("NEXTSTEP", "OVERWRITEMEMORYLOC");
    pass.action = "BTCH";
    bMenustale = true;
    current = picked;
}

// Empties the picked slot; deleting the current slot first loads the next used one.
void CoreDsif::memoryDelete(int32_t picked, int32_t current, PASS& pass) {
    if (picked == 0) return;
    CorePrcs::BEANSTRUCT none{};
    if (picked != current) {
        pProcessor->setbv(225, &none);
        btcst("PROG", CoreButl::intas(picked));
        btcst("DELETED", DataLclz::sCgendeletedprint);
        btcst("ACTION", "MEMO");
        btcst("NEXTSTEP", "DELETEMEMORYLOC");
    } else {
        CorePrcs::BEANSTRUCT upward{picked + 1, 1};
        const int32_t next = pProcessor->getbi(168, &upward);
        setsp(next, true, true);
        pProcessor->setbv(225, &none);
        btcst("OLDPROGRAM", CoreButl::intas(picked));
        btcst("DELETED", DataLclz::sCgendeletedprint);
        btcst("LOADED", DataLclz::sCgenloadedprint);
        btcst("LOADING", DataLclz::sCgenloadingprint);
        btcst("NEWPROGRAM", CoreButl::intas(next));
        btcst("ACTION", "MEMO");
        btcst("NEXTSTEP", "REPLACEMEMORYLOC");
    }
    pass.action = "BTCH";
    bMenustale = true;
}

void CoreDsif::memorySaveAs(PASS& pass) {
    CorePrcs::BEANSTRUCT none{};
    pProcessor->setbv(225, &none);
    btcst("SAVING", DataLclz::sCgensavingprint);
    btcst("VERSIONINGNAME", sVersioningname);
    btcst("ACTION", "PROG");
    btcst("NEXTSTEP", "VERSIONING");
    pass.action = "BTCH";
    bMenustale = true;
}
