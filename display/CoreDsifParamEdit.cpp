// CoreDsif: the user parameter edit page: the selected parameter's front-panel assignment, its
// two-input operation with inputs A and B (each a source or a constant), its label, unit, pre and
// post labels, value range and bar range. Items and fields write only what the user changed; the
// ranges are one write group of four.
#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsed.h"
#include "display/CoreDsge.h"
#include "display/CoreDsgt.h"
#include "display/DataLclz.h"
#include "display/DataSitm.h"
#include "processor/CorePrcs.h"

#include <cctype>
#include <string>

namespace {

constexpr short kItems = 4;
constexpr short kFields = 8;
constexpr int16_t kAssignBean = 197;
constexpr int16_t kFirstRangeField = 4;

constexpr DataSitm input(int16_t slot, int16_t column, int16_t textBean, int16_t flagBean, int16_t numberBean) {
    return DataSitm{.slot = slot, .column = column, .row = 5, .width = 7, .kind = DataSitm::DUALSOURCE,
                    .lower = -1.0, .upper = 1.0, .type = DataSitm::TEXT, .readBean = textBean,
                    .writeBean = textBean, .byElement = true, .rule = DataSitm::FIRST, .constantFlagBean = flagBean,
                    .constantBean = numberBean};
}

// Items 1 .. 3 in the order they are written: input A, input B, the operation; their beans take the
// selected parameter as index. Item 0, the assignment, is the page's own (its text bean holds a number).
constexpr DataSitm kRows[] = {
    input(2, 10, 210, 206, 208),
    input(3, 40, 211, 207, 209),
    DataSitm{.slot = 1, .column = 40, .row = 4, .width = 15, .kind = DataSitm::OPERATIONS, .type = DataSitm::TEXT,
             .readBean = 204, .writeBean = 204, .byElement = true, .rule = DataSitm::FIRST},
};
constexpr int kRowCount = static_cast<int>(sizeof kRows / sizeof kRows[0]);

struct Field {
    short column, row, width;
    bool clearOnArm;
    short type;
    int16_t bean;
};
constexpr Field kFieldRows[kFields] = {
    {10, 2, 8, false, CoreDsed::iCtext, 198},     {40, 2, 3, false, CoreDsed::iCtext, 203},
    {10, 7, 3, true, CoreDsed::iCtext, 201},      {40, 7, 3, true, CoreDsed::iCtext, 202},
    {10, 8, 15, false, CoreDsed::iCdecimal, 214}, {40, 8, 15, false, CoreDsed::iCdecimal, 215},
    {10, 9, 15, false, CoreDsed::iCdecimal, 216}, {40, 9, 15, false, CoreDsed::iCdecimal, 217},
};

struct Label {
    const char* text;
    short column, row;
};
constexpr Label kLabels[] = {
    {DataLclz::sCprm2labellabel, 0, 2},      {DataLclz::sCprm2unitlabel, 30, 2},
    {DataLclz::sCprm2prelabellabel, 0, 4},   {DataLclz::sCfun_funlabel, 30, 4},
    {DataLclz::sCfun_alabel, 0, 5},          {DataLclz::sCfun_blabel, 30, 5},
    {DataLclz::sCprm2preunitlabel, 0, 7},    {DataLclz::sCprm2postunitlabel, 30, 7},
    {DataLclz::sCprm2minlabel, 0, 8},        {DataLclz::sCprm2maxlabel, 30, 8},
    {DataLclz::sCprm2barminlabel, 0, 9},     {DataLclz::sCprm2barmaxlabel, 30, 9},
};

// The whole number a page label holds: decimal digits after an optional sign; 0 when there are none
// (or too many to mean a control).
int labelNumber(const CoreAnsx& text) {
    const std::string s = text.Trim().c_str();
    size_t at = 0;
    const bool negative = at < s.size() && s[at] == '-';
    if (at < s.size() && (s[at] == '-' || s[at] == '+')) ++at;
    long value = 0;
    for (; at < s.size() && std::isdigit(static_cast<unsigned char>(s[at])) && value < 1000; ++at)
        value = value * 10 + (s[at] - '0');
    return static_cast<int>(negative ? -value : value);
}

} // namespace

void CoreDsif::parameterEditEntry(PASS&) {
    for (const Label& l : kLabels) pGrid->write(CoreAnsx(l.text), l.column, l.row, 0, false, false);
    const short p = iSelectedparameter;
    selectorEntry(kRows, kRowCount, kItems, p);
    CorePrcs::BEANSTRUCT b{p, 0};
    // Item 0: the assignment; what the label holds is kept as read.
    if (CoreDstx* item = selectorItem(0)) {
        item->defne(0, 10, 4, 7, CoreAnsx(""), false, -1);
        CoreAnsx texts[DataLclz::iCprm2prelabel];
        for (int i = 0; i < DataLclz::iCprm2prelabel; ++i) texts[i] = DataLclz::sCprm2prelabel[i];
        const CoreAnsx assigned = pProcessor->getbs(kAssignBean, &b);
        item->setel(DataLclz::iCprm2prelabel, texts, labelNumber(assigned));
        mSelectorback.keep(0, assigned, *item);
        item->setun();
    }
    pFields->reset(kFields);
    mParameterfields.reset();
    for (short i = 0; i < kFields; ++i) {
        CoreDsed* field = pFields->gettx(i);
        if (!field) continue;
        const Field& f = kFieldRows[i];
        field->defne(0, 1, f.column, f.row, f.width, f.clearOnArm, f.type);
        if (f.type == CoreDsed::iCdecimal) {
            const double value = pProcessor->getbd(f.bean, &b);
            field->setvd(value);
            mParameterfields.keep(i, value, *field);
        } else {
            const CoreAnsx text = pProcessor->getbs(f.bean, &b);
            field->setvs(i >= 2 && text.Length() == 0 ? CoreAnsx("No") : text);
            mParameterfields.keep(i, text, *field);
        }
    }
}

void CoreDsif::parameterEditRender(PASS& pass) {
    selectorFrame((std::string("  EditMode: PARM ") + CoreButl::intas(iLastselection + 1).c_str()).c_str(), pass);
    CorePrcs::BEANSTRUCT b{iSelectedparameter, 0};
    if (CoreDstx* item = selectorItem(0)) {
        item->ischg();
        if (mSelectorback.chngd(0, *item)) {
            const int element = item->getel();
            const CoreAnsx text = element == 0 ? CoreAnsx("") : CoreButl::intas(element);
            pProcessor->setbs(kAssignBean, text, &b);
            mSelectorback.keep(0, text, *item);
            item->setun();
        }
    }
    if (selectorChanged(kRows, kRowCount, 0)) selectorWrite(kRows, kRowCount, 0, iSelectedparameter);

    pFields->focus(pass.column, pass.row, bPointerheld);
    pFields->draw_();
    for (short i = 0; i < kFirstRangeField; ++i) {
        CoreDsed* field = pFields->gettx(i);
        if (!field || !field->ischg()) continue;
        const CoreAnsx text = field->getvs().Trim();
        pProcessor->setbs(kFieldRows[i].bean, text, &b);
        if (i >= 2 && text.Length() == 0) field->setvs(CoreAnsx("No"));
        mParameterfields.keep(i, text, *field);
    }
    bool rangeChanged = false;
    for (short i = kFirstRangeField; i < kFields && !rangeChanged; ++i)
        if (CoreDsed* field = pFields->gettx(i)) rangeChanged = field->ischg();
    if (rangeChanged) {
        for (short i = kFirstRangeField; i < kFields; ++i) {
            CoreDsed* field = pFields->gettx(i);
            if (!field) continue;
            const double value =
                mParameterfields.chngd(i, *field) ? field->getvd() : mParameterfields.rawnm(i);
            pProcessor->setbd(kFieldRows[i].bean, value, &b);
            mParameterfields.keep(i, value, *field);
        }
    }
    if (drbtn(50, 0, CoreAnsx("  PRMs  "), pass.column, pass.row)) pass.action = "PRMS";
}
