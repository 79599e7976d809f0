// CoreDsif: the program popup's content, read from the program memory's category tree.
#include "display/CoreDsif.h"

#include "display/CoreDsmn.h"
#include "processor/CorePrcs.h"

void CoreDsif::scanm(CoreDsmn* menu, int level, CoreNode* parent) {
    if (!menu || !pProcessor || level < 0 || level >= iCnavigationlevels) return;
    CorePrcs::BEANSTRUCT at{level, 0};
    pProcessor->setbi(245, -1, &at);
    const int32_t n = pProcessor->getbi(246, nullptr);
    for (int32_t i = 0; i < n; ++i) {
        pProcessor->setbi(245, i, &at);
        for (int32_t deeper = level + 1; deeper < iCnavigationlevels; ++deeper) {
            CorePrcs::BEANSTRUCT below{deeper, 0};
            pProcessor->setbi(245, -1, &below);
        }
        const CoreAnsx name = pProcessor->getbs(247, nullptr);
        const bool leaf = pProcessor->getbb(248, nullptr); // about the entry whose name was read last
        const CoreAnsx text = leaf ? name : pProcessor->getbs(249, nullptr) + " (" + name + ")";
        CoreNode* node = menu->adden(text, parent);
        if (!leaf) scanm(menu, level + 1, node);
    }
}
