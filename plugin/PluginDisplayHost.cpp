#include "plugin/PluginDisplayHost.h"

#include "plugin/CorePpwr.h"
#include "plugin/CoreSkin.h"

#include <cstring>

static_assert(sizeof(CorePpwr::MOUSERECORD) == sizeof(DisplayHost::POINTER));

PluginDisplayHost::PluginDisplayHost(CorePpwr* properties, const CoreSkin* skin)
    : pProperties(properties), pSkin(skin) {}

int32_t PluginDisplayHost::gtprp(int32_t id, int32_t scope, int32_t element, void* data) {
    if (!pProperties || !data) return CorePpwr::iCunknown;
    if (id != iCpointer) return pProperties->gtprp(id, scope, element, data);
    // The mirror holds whatever bytes a caller set: the button goes through a comparison, never
    // straight into a bool.
    CorePpwr::MOUSERECORD mouse{};
    const int32_t result = pProperties->gtprp(id, scope, element, &mouse);
    if (result != CorePpwr::iCdone) return result;
    const POINTER pointer{mouse.x, mouse.y, mouse.down != 0};
    std::memcpy(data, &pointer, sizeof pointer);
    return result;
}

int32_t PluginDisplayHost::stprp(int32_t id, int32_t scope, int32_t element, const void* data, uint32_t size) {
    if (!pProperties) return CorePpwr::iCunknown;
    return pProperties->stprp(id, scope, element, data, size);
}

void PluginDisplayHost::prchg(int32_t id, int32_t scope, int32_t element) {
    if (pProperties) pProperties->prchg(id, scope, element);
}

int16_t PluginDisplayHost::fontSetCount() const {
    return pSkin ? pSkin->getsk()->fontsets : int16_t{0};
}

CoreAnsx PluginDisplayHost::fontSetName(int16_t set) const {
    if (!pSkin || set < 0 || set >= fontSetCount()) return CoreAnsx("0");
    const auto& names = pSkin->getsk()->fontnames;
    return static_cast<size_t>(set) < names.size() ? names[static_cast<size_t>(set)] : CoreAnsx("0");
}

int32_t PluginDisplayHost::addChars() const {
    return pSkin ? pSkin->getsk()->displayaddchars : 0;
}
