// CoreDsif: the user parameter rows and the lookups the parameter pages share, and the counted text
// lists read from the processor.
#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsbr.h"
#include "display/DataLclz.h"
#include "modulation/CoreIfce.h"
#include "processor/CorePrcs.h"

#include <algorithm>

namespace {

// The fields one parameter row shows, read one bean after another.
struct ParameterRow {
    CoreAnsx preLabel, label, preUnit, postUnit, unit;
    double fill, value;
};

ParameterRow readRow(CorePrcs& engine, short p) {
    CorePrcs::BEANSTRUCT b{p, 0};
    return {engine.getbs(197, &b), engine.getbs(198, &b), engine.getbs(201, &b), engine.getbs(202, &b),
            engine.getbs(203, &b), engine.getbd(199, &b), engine.getbd(200, &b)};
}

} // namespace

bool CoreDsif::displayed(short p) {
    if (!pProcessor) return false;
    CorePrcs::BEANSTRUCT b{p, 0};
    return pProcessor->getbb(196, &b);
}

void CoreDsif::drprm(int column, int row, short n, short bar, bool selected, bool plain) {
    const short markFont = selected == plain ? 1 : 0;
    const short textFont = selected ? 1 : 0;
    const short x = static_cast<short>(column), y = static_cast<short>(row);
    pGrid->clear(0, x, y, 29, 1);
    const short p = getpp(n, true);
    if (p < 0 || !pProcessor) return;
    const ParameterRow r = readRow(*pProcessor, p);
    int offset = 0;
    if (r.preLabel.Length() > 0) {
        pGrid->write(r.preLabel.SubString(1, 1) + (plain ? " " : ""), x, y, markFont, false, false);
        offset = r.preLabel.Length() + 1;
    }
    const CoreAnsx name =
        plain ? CoreButl::rpad_(r.label, 13 - offset, ' ') : CoreButl::rpad_(r.label + ":", 12 - offset, ' ');
    if (name.Length() > 0 && (plain ? 13 : 12) - offset > 0)
        pGrid->write(name.UpperCase(), static_cast<short>(x + offset), y, textFont, false, false);

    const CoreDsbr& drawer = *aBars[bar == 1 ? 1 : 0];
    CoreAnsx text = drawer.getvl(r.fill) + " ";
    CoreAnsx value = r.preUnit.SubString(1, 3).Trim() + CoreAnsx::_FloatToStrF(r.value, 0, 0, 5);
    value = value.SubString(1, 7);
    CoreAnsx post = r.postUnit.Trim();
    if (post.Length() > 0) {
        post = post.SubString(1, 3).Trim();
        const int keep = value.Length() - post.Length() - 1;
        if (keep > 0) value = value.SubString(1, keep);
        value += post;
    }
    text += value.SubString(1, 6).Trim() + " " + r.unit.SubString(1, 3);
    pGrid->write(CoreButl::rpad_(text, bar == 1 ? 15 : 20, ' '), static_cast<short>(x + 12), y, textFont, false,
                 false);
}

short CoreDsif::getpp(short n, bool state) {
    if (n < 0) return -1;
    short seen = 0;
    for (short p = 0; p < iCparameters; ++p) {
        if (displayed(p) != state) continue;
        if (seen == n) return p;
        ++seen;
    }
    return -1;
}

short CoreDsif::prmsw(short p, bool back) {
    if (p < 0 || p >= iCparameters || !pProcessor) return p;
    const short step = back ? -1 : 1;
    const bool state = displayed(p);
    for (short q = static_cast<short>((p + step + iCparameters) % iCparameters); q != p;
         q = static_cast<short>((q + step + iCparameters) % iCparameters)) {
        if (displayed(q) != state) continue;
        CorePrcs::BEANSTRUCT b{q, p};
        pProcessor->setbv(205, &b);
        return q;
    }
    return p;
}

short CoreDsif::prtmx(short n) {
    const short p = getpp(n, true);
    if (p < 0) return -1;
    CorePrcs::BEANSTRUCT b{p, 0};
    const int control = pProcessor->getbs(197, &b).Trim().ToInt() - 1;
    return control >= 0 && control <= 7 ? static_cast<short>(control) : -1;
}

CoreAnsx CoreDsif::getpn(short p) {
    CoreAnsx name(DataLclz::sCprm_prmnotlabeled);
    if (p < 0 || p >= iCparameters || !pProcessor) return name;
    CorePrcs::BEANSTRUCT b{p, 0};
    name = pProcessor->getbs(198, &b);
    if (name.Length() <= 0 || name == CoreAnsx("0")) {
        CoreAnsx key = pProcessor->getbs(204, &b);
        if (key.Length() >= 7) key = key.SubString(1, 4) + "..";
        return CoreAnsx("<") + key + ">";
    }
    if (name.Length() >= 9) name = name.SubString(1, 6) + "..";
    return name;
}

void CoreDsif::rsvas(CoreAnsx** array, int& count, short countBean, short textBean) {
    if (!array) return;
    count = pProcessor ? std::max(pProcessor->getbi(countBean, nullptr), 0) : 0;
    delete[] *array;
    *array = new CoreAnsx[static_cast<size_t>(count)];
    for (int i = 0; i < count; ++i) {
        CorePrcs::BEANSTRUCT b{i, 0};
        (*array)[i] = pProcessor->getbs(textBean, &b);
    }
}

void CoreDsif::readr(const CoreAnsx& folder, const CoreAnsx& pattern, CoreAnsx** array, int& count) {
    if (!array) return;
    delete[] *array;
    *array = nullptr;
    count = 0;
    if (pProcessor) {
        pProcessor->setbs(237, folder, nullptr);
        pProcessor->setbs(238, pattern, nullptr);
        pProcessor->setbv(239, nullptr);
        count = std::max(pProcessor->getbi(239, nullptr), 0);
    }
    *array = new CoreAnsx[static_cast<size_t>(count)];
    for (int i = 0; i < count; ++i) {
        CorePrcs::BEANSTRUCT b{i, 0};
        (*array)[i] = pProcessor->getbs(239, &b);
    }
}

double CoreDsif::getnh(double value, int& x, int& y) {
    if (!pHost) return value;
    const DisplayHost::POINTER p = DisplayHost::pointer(pHost, x, y);
    return CoreIfce::getnh(value, x, y, p.x, p.y);
}
