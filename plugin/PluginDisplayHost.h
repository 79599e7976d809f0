// PluginDisplayHost: the plug-in's DisplayHost. The display's property calls go straight to the
// effect's gtprp, stprp and prchg, never through wgprp/wsprp: the editor holds the call lock while it
// calls into the display (setmr, flldd), so taking it under the display lock could deadlock. The skin
// facts come from the skin's record. Without an effect (the master object built alone, as in-process
// tests build it) every get answers 11 and nothing is sent. Built and deleted by the master object,
// which deletes the display first; the effect's calls take only its leaf mirror lock.
#pragma once
#include "display/DisplayHost.h"

class CorePpwr;
class CoreSkin;

class PluginDisplayHost : public DisplayHost {
public:
    // properties: the effect's property interface, or null; skin: read only, may be null.
    PluginDisplayHost(CorePpwr* properties, const CoreSkin* skin);

    int32_t gtprp(int32_t id, int32_t scope, int32_t element, void* data) override;
    int32_t stprp(int32_t id, int32_t scope, int32_t element, const void* data, uint32_t size) override;
    void prchg(int32_t id, int32_t scope, int32_t element) override;
    int16_t fontSetCount() const override;
    CoreAnsx fontSetName(int16_t set) const override;
    int32_t addChars() const override;

private:
    CorePpwr* pProperties;
    const CoreSkin* pSkin;
};
