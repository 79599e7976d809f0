// CControlListener: what a control tells when user input changed its value. Called inside the
// frame's dispatch (CFrame::idle), under the lock that guards the frame; it must not take it again.
// It may delete views, the dispatching control included.
#pragma once

class CControl;
class CDrawContext;

class CControlListener {
public:
    virtual ~CControlListener() = default;
    virtual void valueChanged(CDrawContext* context, CControl* control) = 0;
};
