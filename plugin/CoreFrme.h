// CoreFrme: the editor's frame. Besides holding the controls it turns presses and wheel turns over
// the character display into display messages (property 100100), reports the pointer while a
// display click is held (property 100101), pops up the armed menu when its cells are clicked and
// reports clicks on the bypass area. Input arrives inside the frame's idle, under the editor lock;
// setmn may come from any thread and touches the armed menu only under the frame's menu lock.
#pragma once
#include <cstdint>

#include "base/CoreSmph.h"
#include "platform/gui/CFrame.h"

class COptionMenu;
class CorePpwr;

class CoreFrme : public CFrame {
public:
    // effect: the property interface messages go to (null sends nothing).
    CoreFrme(const CRect& size, void* window, AEffGUIEditor* editor, CorePpwr* effect);
    ~CoreFrme() override;

    // The display grid (left and top inside, right and bottom outside) and its cell size.
    void setmb(bool enabled, int left, int top, int right, int bottom, int cellwidth, int cellheight);
    void getmb(int& left, int& top, int& right, int& bottom, int& cellwidth, int& cellheight) const;
    void setm2(int left, int top, int right, int bottom); // the bypass click area
    // Arms menu over the display cells (column, row, columns, rows); a null menu disarms. Any thread.
    void setmn(COptionMenu* menu, int16_t column, int16_t row, int16_t columns, int16_t rows);
    bool ismna(); // a menu is armed
    void* getsr() const { return pWindow; }
    bool islbt() const { return false; }

    void mouse(CDrawContext* context, CPoint& where, int32_t buttons) override;
    bool onWheel(CDrawContext* context, const CPoint& where, CMouseWheelAxis axis, float distance) override;
    void update(CDrawContext* context) override;

    // A wheel distance as the display's whole steps: toward zero, non-finite 0, saturated to 32 bits.
    static int32_t wheelSteps(float distance);

private:
    void sendMouse();
    void sendMessage(int16_t type, int32_t a, int32_t b, int32_t c, int32_t d);

    CRect cGrid;
    int iCellwidth = 1, iCellheight = 1;
    CRect cBypass;
    CPoint cLast;
    bool bTracking = false;
    bool bButtondown = false;
    bool bDisplay = false;
    bool bInside = false;
    CorePpwr* pEffect;

    CoreSmph cMenulock; // guards the four below
    bool bArmed = false;
    COptionMenu* pMenu = nullptr;
    CRect cMenucells;     // pixels, bounds inside on every side
    uint64_t iGeneration = 0; // setmn calls so far

    // The popped menu, until update learns it closed: re-armed when it closed without a choice
    // and no setmn ran meanwhile.
    COptionMenu* pPopped = nullptr;
    CRect cPoppedcells;
    uint64_t iPoppedgeneration = 0;

    void* pWindow;
};
