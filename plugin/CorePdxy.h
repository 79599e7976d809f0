// CorePdxy: an XY pad of the editor: a handle dragged over an area drives two control slots (x, y)
// and, with a map, two more computed between the two map entries nearest the handle. A drag runs on
// input events only (press, moves with the left button held, release). Created and deleted by the
// editor's open and close; every call runs under the editor lock.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/gui/CView.h"
#include "plugin/CorePdct.h"

class CBitmap;
class CControlListener;

class CorePdxy : public CView {
public:
    // A map point: its pad position (0..1 each) and the two output values there.
    struct MAPENTRY {
        double x, y;
        double u, v;
        double distance; // squared distance to the handle, scratch
    };

    // A tag below 0 leaves that holder without a slot (nothing is sent for it). map may be null;
    // it stays the caller's.
    CorePdxy(const CRect& view, const CRect& area, CControlListener* listener, int32_t tagx, int32_t tagy,
             int32_t tagout1, int32_t tagout2, CBitmap* handle, CBitmap* background, const CPoint& offset,
             std::vector<MAPENTRY>* map);
    ~CorePdxy() override;

    void draw(CDrawContext* context) override;
    void mouse(CDrawContext* context, CPoint& where, int32_t buttons) override;
    void onMouseMoved(CDrawContext* context, CPoint& where) override;
    void onMouseUp(CDrawContext* context, CPoint& where) override;

    // Moves the handle (axis 0 = x, else y) without telling the listener; the outputs follow.
    void setvl(int axis, float value);
    void map__();
    CorePdct* getho(int holder) const; // 0 x, 1 y, 2 and 3 the outputs (null without a map)

private:
    void drag(CDrawContext* context, const CPoint& where);
    void tell(CDrawContext* context, CorePdct* holder);

    CBitmap* pHandle;
    std::unique_ptr<CorePdct> pX, pY, pOut1, pOut2;
    std::vector<MAPENTRY>* pMap;
    CControlListener* pListener;
    CRect cArea;
    double dWidth, dHeight;
    bool bDragging = false;
};
