// CView: a rectangle of a frame that draws itself and may take pointer input: a press (mouse),
// then the moves and the release after it, and wheel turns. Views are created and deleted by
// their owner; a frame only holds them. Everything runs under the lock that guards the frame.
#pragma once
#include "platform/gui/CDrawContext.h"
#include "platform/gui/CRect.h"
#include "platform/gui/CoreGevt.h"

#include <atomic>
#include <cstdint>

class CBitmap;
class CFrame;

class CView {
public:
    explicit CView(const CRect& size);
    // Leaves its frame first.
    virtual ~CView();
    CView(const CView&) = delete;
    CView& operator=(const CView&) = delete;

    // Draws the background bitmap over the view at the background offset.
    virtual void draw(CDrawContext* context);
    // A press inside the view; the frame sends it the moves and the release that follow.
    virtual void mouse(CDrawContext* context, CPoint& where, int32_t buttons);
    virtual void onMouseMoved(CDrawContext* context, CPoint& where);
    virtual void onMouseUp(CDrawContext* context, CPoint& where);
    // True when the view used the turn.
    virtual bool onWheel(CDrawContext* context, const CPoint& where, CMouseWheelAxis axis, float distance);

    virtual void setDirty(bool state = true);
    bool isDirty() const { return bDirty; }
    void setMouseEnabled(bool state) { bMouseEnabled = state; }
    bool getMouseEnabled() const { return bMouseEnabled; }
    CFrame* getFrame() const { return pFrame; }
    const CRect& getViewSize() const { return cSize; }
    virtual void setViewSize(const CRect& size);
    // Remembered while set; null clears it.
    void setBackground(CBitmap* background);
    CBitmap* getBackground() const { return pBackground; }
    void setBackOffset(const CPoint& offset) { cBackOffset = offset; }

    // Views alive in the process.
    static int32_t getLiveCount() { return iVliveviews.load(std::memory_order_relaxed); }

    // Watches a view across a call that may delete it (a listener's).
    class Watch {
    public:
        explicit Watch(CView* view);
        ~Watch();
        Watch(const Watch&) = delete;
        Watch& operator=(const Watch&) = delete;
        bool alive() const { return pView != nullptr; }

    private:
        friend class CView;
        CView* pView;
        Watch* pOuter;
    };

protected:
    CRect cSize;
    CPoint cBackOffset;

private:
    friend class CFrame;
    static std::atomic<int32_t> iVliveviews;

    CFrame* pFrame = nullptr;
    CView* pPrevious = nullptr; // the frame's list, in the order added
    CView* pNext = nullptr;
    CBitmap* pBackground = nullptr;
    Watch* pWatch = nullptr;
    bool bDirty = true;
    bool bMouseEnabled = true;
};
