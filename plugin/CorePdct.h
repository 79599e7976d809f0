// CorePdct: a value holder of an XY pad: a control that carries one control slot's tag and value to
// the editor's listener. Never added to a frame; draws nothing. Owned by its pad.
#pragma once
#include "platform/gui/CControl.h"

class CorePdct : public CControl {
public:
    CorePdct(const CRect& size, CControlListener* listener, int32_t tag);
    void draw(CDrawContext* context) override;
};
