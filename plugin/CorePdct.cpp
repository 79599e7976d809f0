#include "plugin/CorePdct.h"

CorePdct::CorePdct(const CRect& size, CControlListener* listener, int32_t tag)
    : CControl(size, listener, tag, nullptr) {}

void CorePdct::draw(CDrawContext* context) { (void)context; }
