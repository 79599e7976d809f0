// CControl: a view with a value, a tag and a listener. setValue only stores and marks dirty; user
// input limits the value to 0..1 and tells the listener, which may delete the control. Runs under
// the frame's lock.
#pragma once
#include "platform/gui/CControlListener.h"
#include "platform/gui/CView.h"

class CControl : public CView {
public:
    CControl(const CRect& size, CControlListener* listener, int32_t tag, CBitmap* background);

    virtual void setValue(float value);
    float getValue() const { return fValue; }
    int32_t getTag() const { return iTag; }
    void setTag(int32_t tag) { iTag = tag; }
    CControlListener* getListener() const { return pListener; }
    void setListener(CControlListener* listener) { pListener = listener; }

    // The image of a strip of count images a value shows: 0 at 0, the last at 1, NaN as 0.
    static int32_t imageIndex(float value, int32_t count);

protected:
    // A value the user chose: limited to 0..1 (NaN as 0), stored, told to the listener. The listener
    // may delete this control: the caller touches nothing of it afterwards.
    void userValue(CDrawContext* context, float value);
    static float limit(float value);

    float fValue = 0.0f;

private:
    CControlListener* pListener;
    int32_t iTag;
};
