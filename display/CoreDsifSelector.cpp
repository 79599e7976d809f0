// CoreDsif: the selector pattern that carries the program-editing pages: a page is a constant table
// of item rows (display/DataSitm.h); the entry defines, loads and keeps every item, the render draws
// them and writes, group by group, only what the user changed. The conversions between bean values
// and shown values live here once.
#include "display/CoreDsif.h"

#include "base/CoreButl.h"
#include "display/CoreDsbf.h"
#include "display/CoreDsgt.h"
#include "display/CoreDstx.h"
#include "processor/CorePrcs.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <string>

namespace {

CorePrcs::BEANSTRUCT beanIndex(const DataSitm& row, short element) {
    return CorePrcs::BEANSTRUCT{row.index + (row.byElement ? element : 0), row.subindex};
}

bool isList(const DataSitm& row) {
    return row.kind == DataSitm::LIST || row.kind == DataSitm::SOURCES || row.kind == DataSitm::WAVES ||
           row.kind == DataSitm::OPERATIONS;
}

bool isDual(const DataSitm& row) { return row.kind == DataSitm::DUALSOURCE || row.kind == DataSitm::DUALJOIN; }

// A whole number for an integer bean: truncated, saturated, 0 for NaN.
int32_t wholeValue(double v) {
    if (std::isnan(v)) return 0;
    const double t = std::trunc(v);
    if (t >= static_cast<double>(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    if (t <= static_cast<double>(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(t);
}

} // namespace

CoreAnsx CoreDsif::shortestText(double v) {
    if (!std::isfinite(v)) return CoreAnsx("0");
    if (v == 0.0) return CoreAnsx("0");
    for (int digits = 1; digits <= 17; ++digits) {
        const std::string format = "%." + std::to_string(digits) + "G";
        CoreAnsx text("");
        text.sprintf(format.c_str(), v);
        if (text.ToDouble() == v) return text;
    }
    CoreAnsx text("");
    text.sprintf("%.17G", v);
    return text;
}

CoreDstx* CoreDsif::selectorItem(short slot) const { return pSelectors->gettx(slot); }

int CoreDsif::selectorCount(const DataSitm& row) const {
    switch (row.kind) {
    case DataSitm::SOURCES:
    case DataSitm::DUALSOURCE:
        return static_cast<int>(vSourcekeys.size());
    case DataSitm::WAVES:
        return static_cast<int>(vWavekeys.size());
    case DataSitm::OPERATIONS:
        return static_cast<int>(vOperationkeys.size());
    case DataSitm::LIST:
    case DataSitm::DUALJOIN:
        return row.list ? row.count : 0;
    default:
        return 0;
    }
}

CoreAnsx CoreDsif::selectorText(const DataSitm& row, int position) const {
    if (position < 0 || position >= selectorCount(row)) return CoreAnsx("");
    const auto at = static_cast<size_t>(position);
    switch (row.kind) {
    case DataSitm::SOURCES:
    case DataSitm::DUALSOURCE:
        return vSourcelabels[at];
    case DataSitm::WAVES:
        return vWavekeys[at];
    case DataSitm::OPERATIONS:
        return vOperationlabels[at];
    default:
        return CoreAnsx(row.list[position]);
    }
}

CoreAnsx CoreDsif::selectorKey(const DataSitm& row, int position) const {
    if (position < 0 || position >= selectorCount(row)) return CoreAnsx("");
    const auto at = static_cast<size_t>(position);
    switch (row.kind) {
    case DataSitm::SOURCES:
    case DataSitm::DUALSOURCE:
        return vSourcekeys[at];
    case DataSitm::WAVES:
        return vWavekeys[at];
    case DataSitm::OPERATIONS:
        return vOperationkeys[at];
    default:
        return CoreAnsx(row.list[position]);
    }
}

// The position a loaded value selects; 0 when nothing matches.
int CoreDsif::selectorPosition(const DataSitm& row, double raw, const CoreAnsx& text) const {
    const int n = selectorCount(row);
    if (n <= 0) return 0;
    if (row.kind == DataSitm::SOURCES || row.kind == DataSitm::DUALSOURCE)
        return std::max(CoreButl::getci(text, n, vSourcekeys.data(), false, false), 0);
    if (row.kind == DataSitm::WAVES) return std::max(CoreButl::getci(text, n, vWavekeys.data(), false, false), 0);
    if (row.kind == DataSitm::OPERATIONS)
        return std::max(CoreButl::getci(text, n, vOperationkeys.data(), false, false), 0);
    std::vector<CoreAnsx> texts;
    for (int i = 0; i < n; ++i) texts.emplace_back(row.list[i]);
    switch (row.conv) {
    case DataSitm::NEAREST:
        return std::max(CoreButl::getci(CoreButl::dotas(raw), n, texts.data(), true, false), 0);
    case DataSitm::KEYTEXT: {
        const CoreAnsx key = row.type == DataSitm::TEXT ? text : CoreButl::intas(wholeValue(raw));
        return std::max(CoreButl::getci(key, n, texts.data(), false, false), 0);
    }
    case DataSitm::FLAG:
        return raw != 0.0 ? std::min(1, n - 1) : 0;
    default: {
        if (!std::isfinite(raw)) return 0;
        const double k = std::trunc(raw);
        return k >= 0.0 && k < n ? static_cast<int>(k) : 0;
    }
    }
}

double CoreDsif::selectorShown(const DataSitm& row, double raw) {
    switch (row.conv) {
    case DataSitm::DECIBEL:
        return CoreButl::lvldb(raw);
    case DataSitm::SCALED:
        return raw * row.factor;
    case DataSitm::BIPOLAR:
        return 2.0 * raw - 1.0;
    case DataSitm::SAMPLES: {
        const int32_t rate = pProcessor->getbi(44, nullptr);
        return CoreButl::upftp(rate, static_cast<int64_t>(raw)) * 0.001;
    }
    default:
        return raw;
    }
}

double CoreDsif::selectorStored(const DataSitm& row, double shown) {
    if (!std::isfinite(shown)) shown = std::isfinite(row.lower) ? row.lower : 0.0;
    double stored = shown;
    switch (row.conv) {
    case DataSitm::DECIBEL:
        stored = shown == 0.0 ? 1.0 : std::pow(10.0, shown / 20.0);
        break;
    case DataSitm::SCALED:
        stored = row.factor != 0.0 ? shown * (1.0 / row.factor) : shown;
        break;
    case DataSitm::BIPOLAR:
        stored = (shown + 1.0) / 2.0;
        break;
    case DataSitm::SAMPLES: {
        const int32_t rate = pProcessor->getbi(44, nullptr);
        stored = static_cast<double>(CoreButl::tpfup(rate, wholeValue(shown * 1000.0)));
        break;
    }
    default:
        break;
    }
    if (!std::isfinite(stored)) stored = 0.0;
    if (row.type != DataSitm::DOUBLE && row.type != DataSitm::TEXT) stored = wholeValue(stored);
    return stored;
}

void CoreDsif::selectorLoad(const DataSitm& row, short element) {
    CoreDstx* item = selectorItem(row.slot);
    if (!item) return;
    CorePrcs::BEANSTRUCT b = beanIndex(row, element);
    item->defne(0, row.column, row.row, row.width, CoreAnsx(row.unit), row.whole, -1);
    const auto slot = static_cast<size_t>(std::max<int16_t>(row.slot, 0));
    if (vSelectorconstant.size() <= slot) vSelectorconstant.resize(slot + 1, 0);
    vSelectorconstant[slot] = 0;

    // The raw value as the bean holds it.
    double raw = 0.0;
    CoreAnsx text("");
    switch (row.type) {
    case DataSitm::BOOL:
        raw = pProcessor->getbb(row.readBean, &b) ? 1.0 : 0.0;
        break;
    case DataSitm::SHORT:
        raw = pProcessor->getbh(row.readBean, &b);
        break;
    case DataSitm::INT:
        raw = pProcessor->getbi(row.readBean, &b);
        break;
    case DataSitm::LONG:
        raw = pProcessor->getbl(row.readBean, &b);
        break;
    case DataSitm::DOUBLE:
        if (row.kind != DataSitm::DUALSOURCE) raw = pProcessor->getbd(row.readBean, &b);
        break;
    case DataSitm::TEXT:
        break;
    }

    if (row.kind == DataSitm::DUALSOURCE) {
        const bool constant = row.constantFlagBean > 0 && pProcessor->getbb(row.constantFlagBean, &b);
        double value = row.lower;
        if (constant) {
            raw = pProcessor->getbd(row.constantBean, &b);
            value = raw;
        } else {
            text = pProcessor->getbs(row.readBean, &b);
        }
        const int n = selectorCount(row);
        item->setel(n, vSourcelabels.data(), row.lower, row.upper, !constant, selectorPosition(row, 0.0, text),
                    value);
        vSelectorconstant[slot] = constant ? 1 : 0;
        if (constant)
            mSelectorback.keep(row.slot, raw, *item);
        else
            mSelectorback.keep(row.slot, text, *item);
        item->setun();
        return;
    }
    if (row.kind == DataSitm::DUALJOIN) {
        const bool join = !(raw >= 0.0); // a negative (or NaN) level is JOIN
        std::vector<CoreAnsx> texts;
        for (int i = 0; i < selectorCount(row); ++i) texts.emplace_back(row.list[i]);
        item->setel(static_cast<int>(texts.size()), texts.data(), row.lower, row.upper, join, 0,
                    join ? 0.0 : raw);
        mSelectorback.keep(row.slot, raw, *item);
        item->setun();
        return;
    }
    if (row.type == DataSitm::TEXT) text = pProcessor->getbs(row.readBean, &b);
    if (isList(row)) {
        const int n = selectorCount(row);
        std::vector<CoreAnsx> texts;
        for (int i = 0; i < n; ++i) texts.push_back(selectorText(row, i));
        item->setel(n, texts.data(), selectorPosition(row, raw, text));
    } else {
        item->setrg(row.lower, row.upper, selectorShown(row, raw));
    }
    if (row.type == DataSitm::TEXT)
        mSelectorback.keep(row.slot, text, *item);
    else
        mSelectorback.keep(row.slot, raw, *item);
    item->setun();
}

void CoreDsif::selectorEntry(const DataSitm* rows, int count, short items, short element) {
    pSelectors->reset(items, true, true, 1);
    mSelectorback.reset();
    vSelectorconstant.assign(static_cast<size_t>(std::max<short>(items, 0)), 0);
    for (int i = 0; i < count; ++i) selectorLoad(rows[i], element);
}

void CoreDsif::selectorReload(const DataSitm& row, short element) {
    CoreDstx* item = selectorItem(row.slot);
    if (!item || !item->isrng() || isDual(row)) return;
    CorePrcs::BEANSTRUCT b = beanIndex(row, element);
    double raw = 0.0;
    if (row.type == DataSitm::DOUBLE)
        raw = pProcessor->getbd(row.readBean, &b);
    else if (row.type == DataSitm::LONG)
        raw = pProcessor->getbl(row.readBean, &b);
    else if (row.type == DataSitm::INT)
        raw = pProcessor->getbi(row.readBean, &b);
    else if (row.type == DataSitm::SHORT)
        raw = pProcessor->getbh(row.readBean, &b);
    item->setrg(selectorShown(row, raw));
    mSelectorback.keep(row.slot, raw, *item);
    item->setun();
}

void CoreDsif::selectorKeep(const DataSitm& row, double raw) {
    if (CoreDstx* item = selectorItem(row.slot)) {
        mSelectorback.keep(row.slot, raw, *item);
        item->setun();
    }
}

void CoreDsif::selectorFrame(const char* title, PASS& pass) {
    pGrid->write(CoreButl::rpad_(CoreAnsx(title), 48, ' '), 0, 0, 1, false, false);
    pSelectors->focus(pass.column, pass.row, bPointerheld);
    pSelectors->draw_();
}

bool CoreDsif::selectorChanged(const DataSitm* rows, int count, short group) {
    bool changed = false;
    bool first = true;
    DataSitm::Rule rule = DataSitm::FIRST;
    for (int i = 0; i < count; ++i) {
        const DataSitm& row = rows[i];
        if (row.group != group) continue;
        if (first) rule = row.rule;
        first = false;
        CoreDstx* item = selectorItem(row.slot);
        if (!item) continue;
        item->ischg(); // takes the seen mark; what counts is the difference from what was kept
        if (mSelectorback.chngd(row.slot, *item)) {
            changed = true;
            if (rule == DataSitm::FIRST) return true;
        }
    }
    return changed;
}

void CoreDsif::selectorWrite(const DataSitm* rows, int count, short group, short element) {
    const DataSitm* applied = nullptr;
    for (int i = 0; i < count; ++i) {
        const DataSitm& row = rows[i];
        if (row.group != group || row.writeBean < 0) continue;
        CoreDstx* item = selectorItem(row.slot);
        if (!item) continue;
        if (!applied) applied = &row;
        CorePrcs::BEANSTRUCT b = beanIndex(row, element);
        const bool changed = mSelectorback.chngd(row.slot, *item);
        const auto slot = static_cast<size_t>(row.slot);
        const bool loadedConstant = slot < vSelectorconstant.size() && vSelectorconstant[slot] != 0;

        if (row.kind == DataSitm::DUALSOURCE) {
            CoreAnsx text("");
            if (!changed)
                text = loadedConstant ? shortestText(mSelectorback.rawnm(row.slot)) : mSelectorback.rawtx(row.slot);
            else if (item->isrng())
                text = CoreButl::dotas(std::isfinite(item->getvl()) ? item->getvl() : 0.0);
            else
                text = selectorKey(row, item->getel());
            pProcessor->setbs(row.writeBean, text, &b);
            // What the engine now holds, as a later load would find it.
            const bool constant = changed ? item->isrng() : loadedConstant;
            vSelectorconstant[slot] = constant ? 1 : 0;
            if (constant)
                mSelectorback.keep(row.slot, text.ToDouble(), *item);
            else
                mSelectorback.keep(row.slot, text, *item);
            item->setun();
            continue;
        }

        if (row.type == DataSitm::TEXT) {
            const CoreAnsx text = changed ? selectorKey(row, item->getel()) : mSelectorback.rawtx(row.slot);
            pProcessor->setbs(row.writeBean, text, &b);
            mSelectorback.keep(row.slot, text, *item);
            item->setun();
            continue;
        }

        double value = mSelectorback.rawnm(row.slot);
        if (changed) {
            if (row.kind == DataSitm::DUALJOIN) {
                value = item->isrng() ? selectorStored(row, item->getvl()) : -1.0;
            } else if (isList(row)) {
                const int position = item->getel();
                if (row.conv == DataSitm::NEAREST || row.conv == DataSitm::KEYTEXT)
                    value = selectorKey(row, position).ToDouble();
                else if (row.conv == DataSitm::FLAG)
                    value = position != 0 ? 1.0 : 0.0;
                else
                    value = position;
            } else {
                value = selectorStored(row, item->getvl());
            }
        }
        if (!std::isfinite(value)) value = 0.0;
        switch (row.type) {
        case DataSitm::BOOL:
            pProcessor->setbb(row.writeBean, value != 0.0, &b);
            break;
        case DataSitm::SHORT:
            pProcessor->setbh(row.writeBean,
                              static_cast<int16_t>(std::clamp<int32_t>(wholeValue(value), INT16_MIN, INT16_MAX)), &b);
            break;
        case DataSitm::INT:
            pProcessor->setbi(row.writeBean, wholeValue(value), &b);
            break;
        case DataSitm::LONG:
            pProcessor->setbl(row.writeBean, wholeValue(value), &b);
            break;
        default:
            pProcessor->setbd(row.writeBean, value, &b);
            break;
        }
        mSelectorback.keep(row.slot, value, *item);
        item->setun();
    }
    if (applied && applied->apply > 0) {
        CorePrcs::BEANSTRUCT b = beanIndex(*applied, element);
        b.subindex = 0;
        pProcessor->setbv(applied->apply, &b);
    }
}

void CoreDsif::selectorWrites(const DataSitm* rows, int count, short element, PASS& pass, OwnGroup own) {
    std::vector<short> done;
    for (int i = 0; i < count; ++i) {
        const short group = rows[i].group;
        if (std::find(done.begin(), done.end(), group) != done.end()) continue;
        done.push_back(group);
        if (!selectorChanged(rows, count, group)) continue;
        if (rows[i].writeBean < 0) {
            if (own) (this->*own)(group, pass);
        } else {
            selectorWrite(rows, count, group, element);
        }
    }
}

bool CoreDsif::selectorExit(PASS& pass) {
    const bool hit = drbtn(50, 0, CoreAnsx("  EXIT  "), pass.column, pass.row);
    if (hit) pass.action = "PROG";
    return hit;
}
