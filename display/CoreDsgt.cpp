#include "display/CoreDsgt.h"

#include "processor/CorePrcs.h"

#include <algorithm>
#include <cmath>

CoreDsgt::CoreDsgt(CoreDsbf* grid, CorePrcs* processor, DisplayHost* host)
    : pGrid(grid), pProcessor(processor), pHost(host) {}

CoreDsgt::~CoreDsgt() { deleteItems(); }

void CoreDsgt::deleteItems() {
    for (CoreDstx* item : vItems) delete item;
    vItems.clear();
}

void CoreDsgt::setControl(short slot, double value) {
    if (!pProcessor) return;
    CorePrcs::BEANSTRUCT b{slot, 0};
    pProcessor->setbd(190, std::clamp(value, -1.0, 1.0), &b);
}

void CoreDsgt::reset(short n, bool mode, bool knobs, short font) {
    deleteItems();
    for (short i = 0; i < n; ++i) vItems.push_back(new CoreDstx(pGrid, pProcessor, pHost));
    iCount = std::max<short>(n, 0);
    bMode = mode;
    for (int32_t slot = 0; pProcessor && slot < 8; ++slot) {
        CorePrcs::BEANSTRUCT b{slot, 0};
        pProcessor->setbb(187, mode, &b);
    }
    bKnobs = knobs;
    iCurrent = -1;
    iHighlight = font;
    if (bKnobs) {
        setControl(0, -1.0);
        if (!vItems.empty()) vItems.front()->setar(true);
    }
}

CoreDstx* CoreDsgt::gettx(short i) const {
    if (i < 0 || i >= iCount || i >= static_cast<short>(vItems.size())) return nullptr;
    return vItems[static_cast<size_t>(i)];
}

void CoreDsgt::unarm() {
    if (!bKnobs) return;
    for (CoreDstx* item : vItems) item->setar(false);
}

void CoreDsgt::focus(short column, short row, bool down) {
    for (size_t i = 0; i < vItems.size(); ++i) {
        if (!vItems[i]->ishre(column, row)) continue;
        if (!bKnobs) continue;
        setControl(0, tx2ct(static_cast<short>(i)));
        if (down) vItems[i]->setar(true);
    }
}

void CoreDsgt::focus(short i) {
    if (bKnobs && i >= 0 && i < static_cast<short>(vItems.size())) setControl(0, tx2ct(i));
}

void CoreDsgt::setmx(short i, short slot) {
    if (CoreDstx* item = gettx(i)) item->setmx(slot, false);
}

short CoreDsgt::ct2tx(double control) const {
    const int n = static_cast<int>(vItems.size());
    if (n == 0) return -1;
    if (!std::isfinite(control)) return 0;
    const double place = std::trunc(n * (control + 1.0) / 2.0);
    return static_cast<short>(std::clamp(place, 0.0, static_cast<double>(n - 1)));
}

double CoreDsgt::tx2ct(short i) const {
    const int n = static_cast<int>(vItems.size());
    if (n == 0) return -1.0;
    return std::clamp((i + 0.5) / n * 2.0 - 1.0, -1.0, 1.0);
}

void CoreDsgt::draw_() {
    if (bKnobs && pProcessor) {
        CorePrcs::BEANSTRUCT b{0, 0};
        const short selected = ct2tx(pProcessor->getbd(188, &b));
        if (selected != iCurrent) {
            if (CoreDstx* old = gettx(iCurrent)) old->setmx(-1, false);
            if (CoreDstx* item = gettx(selected)) {
                item->setmx(1, true);
                item->setam(2, bMode);
            }
            iCurrent = selected;
        }
    }
    for (size_t i = 0; i < vItems.size(); ++i) {
        vItems[i]->updte();
        vItems[i]->draw_(bKnobs && static_cast<short>(i) == iCurrent ? iHighlight : -1);
    }
}

void CoreDsgt::clear() {
    deleteItems();
    iCurrent = -1;
}
